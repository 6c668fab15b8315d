#include "service/program_settings/settings_database.h"
#include "support/error_text.h"

#include <gtest/gtest.h>

#include <functional>
#include <tuple>

#include "service/common/exception.h"

namespace ZORVIK {
namespace {

using Pairs = SettingsDatabase::Pairs;

using test::MessageOf;

TEST(SettingsDatabase, OperationsStoreUnderLowerCasedKeys) {
    using Step = std::tuple<const char*, const char*, SettingOperation>;
    const struct {
        std::vector<Step> steps;
        Pairs stored;
    } cases[] = {
        // Keys are lower-cased; values keep their case.
        {{{"Log_Level", "5", Set}, {"ПИТАНИЕ", "Вкл", Set}}, {{"log_level", "5"}, {"питание", "Вкл"}}},
        // Append joins with one comma, trimming and unquoting nothing; Set replaces.
        {{{"a", "1", Append}, {"A", "2", Append}, {"a", " \"3\" ", Append}}, {{"a", "1,2, \"3\" "}}},
        {{{"a", "1", Append}, {"a", "x", Set}}, {{"a", "x"}}},
        // SetIfAbsent keeps a present key; unknown operations do nothing.
        {{{"a", "1", SetIfAbsent},
          {"a", "2", SetIfAbsent},
          {"a", "3", static_cast<SettingOperation>(4)},
          {"b", "3", static_cast<SettingOperation>(-1)}},
         {{"a", "1"}}},
    };
    for (const auto& c : cases) {
        SettingsDatabase db;
        for (const auto& [key, value, operation] : c.steps) db.AddSetting(key, value, operation);
        EXPECT_EQ(db.GetGroup(""), c.stored) << std::get<0>(c.steps.front());
    }
    // Lookups lower-case the key too.
    SettingsDatabase db;
    db.AddSetting("ПИТАНИЕ", "Вкл", Set);
    EXPECT_TRUE(db.Has("питание"));
    EXPECT_EQ(db.GetString("Питание"), "Вкл");
}

TEST(SettingsDatabase, SetNewRefusesAPresentKeyNamingItAsWritten) {
    SettingsDatabase db;
    db.AddSetting("reader", "#OSM", SetNew);
    EXPECT_EQ(MessageOf([&] { db.AddSetting("ReaDer", "#PCSC", SetNew); }),
              "Попытка перекрыть уже заданную настройку \"ReaDer\" с помощью оператора !=");
    EXPECT_EQ(db.GetString("reader"), "#OSM");
}

TEST(SettingsDatabase, RemoveReportsWhetherTheKeyExisted) {
    SettingsDatabase db;
    db.AddSetting("a", "1", Set);
    EXPECT_FALSE(db.Remove("b"));
    EXPECT_EQ(db.GetGroup(""), (Pairs{{"a", "1"}}));
    EXPECT_TRUE(db.Remove("A"));
    EXPECT_FALSE(db.Has("a"));
    EXPECT_FALSE(db.HasGroup(""));
}

TEST(SettingsDatabase, GroupIsTheRunOfKeysSharingThePrefixInByteOrder) {
    SettingsDatabase db;
    for (const char* key : {"reader2", "reader.name", "readeq", "reader", "reades", "a", "reader2.power_on"}) {
        db.AddSetting(key, key, Set);
    }
    EXPECT_EQ(db.GetGroup("READER"), (Pairs{{"reader", "reader"},
                                            {"reader.name", "reader.name"},
                                            {"reader2", "reader2"},
                                            {"reader2.power_on", "reader2.power_on"}}));
    EXPECT_EQ(db.GetGroup("reader2."), (Pairs{{"reader2.power_on", "reader2.power_on"}}));
    EXPECT_TRUE(db.HasGroup("reader2."));
    EXPECT_FALSE(db.HasGroup("reader3"));
    EXPECT_FALSE(db.HasGroup("reader.name.x"));
    EXPECT_EQ(db.GetGroup("").size(), 7u);
}

TEST(SettingsDatabase, GroupOrderComparesBytesAsUnsigned) {
    SettingsDatabase db;
    db.AddSetting("k\xff", "high", Set);  // 0xFF sorts after every ASCII byte
    db.AddSetting("k~", "tilde", Set);
    db.AddSetting("l", "next", Set);
    EXPECT_EQ(db.GetGroup("k"), (Pairs{{"k~", "tilde"}, {"k\xff", "high"}}));
    EXPECT_EQ(db.GetGroup("k\xff"), (Pairs{{"k\xff", "high"}}));
}

// The database holding one key "k" with the given value.
SettingsDatabase With(const std::string& value) {
    SettingsDatabase db;
    db.AddSetting("k", value, Set);
    return db;
}

TEST(SettingsDatabase, BoolReads) {
    EXPECT_TRUE(With("").GetBool("k"));
    EXPECT_TRUE(With("YES").GetBool("k"));
    EXPECT_FALSE(With("Off").GetBoolOr("k", true));
    EXPECT_FALSE(With("1").GetBool("absent"));
    EXPECT_TRUE(With("1").GetBoolOr("absent", true));
    // Bool reads neither trim nor unquote.
    for (const std::string text : {" yes", "'on'", "\"on\""}) {
        EXPECT_EQ(MessageOf([&] { With(text).GetBool("k"); }), "'" + text + "' doesn't look like a bool value.");
    }
}

TEST(SettingsDatabase, BoolGetWithAndWithoutDefault) {
    SettingsDatabase db;
    db.AddSetting("v", "false", Set);
    bool out = true;
    EXPECT_FALSE(db.Get<bool>("absent", out));
    EXPECT_TRUE(out);
    EXPECT_FALSE(db.Get<bool>("absent", out, false));
    EXPECT_FALSE(out);
    out = true;
    EXPECT_TRUE(db.Get<bool>("v", out, true));
    EXPECT_FALSE(out);
    EXPECT_FALSE(db.GetMandatory<bool>("V"));
    EXPECT_EQ(MessageOf([&] { db.GetMandatory<bool>("Absent"); }), "Не задана обязательная настройка \"absent\"");
}

TEST(SettingsDatabase, IntReadsStopAtTheFirstNonDigit) {
    const std::pair<const char*, int32_t> cases[] = {{" 17 ", 17}, {"17x", 17}, {"x", 0},
                                                     {"0x10", 0},  {"-5", -5},  {"99999999999", 0}};
    for (const auto& [text, number] : cases) EXPECT_EQ(With(text).GetInt("k"), number) << text;
    EXPECT_EQ(With("1").GetInt("absent"), 0);
    EXPECT_EQ(MessageOf([] { With("").GetInt("k"); }), "Попытка интерпретировать пустую строку как тип int");
}

TEST(SettingsDatabase, UnsignedReadsLeaveTheTargetWhenNoNumberIsThere) {
    uint32_t out = 7;
    for (const char* text : {"abc", "4294967296"}) {
        EXPECT_TRUE(With(text).Get<unsigned>("k", out)) << text;
        EXPECT_EQ(out, 7u) << text;
    }
    EXPECT_FALSE(With("1").Get<unsigned>("absent", out));
    EXPECT_EQ(out, 7u);
    EXPECT_TRUE(With("4096").Get<unsigned>("k", out));
    EXPECT_EQ(out, 4096u);
    EXPECT_EQ(With("abc").GetOr<unsigned>("k", 9), 0u);
    EXPECT_EQ(With("1").GetOr<unsigned>("absent", 9), 9u);
    EXPECT_EQ(MessageOf([] { With("").GetOr<unsigned>("k", 9); }),
              "Попытка интерпретировать пустую строку как тип unsigned int");
}

TEST(SettingsDatabase, StringReadsRemoveOneMatchingPairOfQuotes) {
    // Values are not trimmed, so the quotes of " \"x\" " are not at the ends.
    const std::pair<const char*, const char*> cases[] = {{"\"abc\"", "abc"}, {"'a b'", "a b"}, {"'abc\"", "'abc\""},
                                                         {"\"'x'\"", "'x'"}, {"\"", ""},       {" \"x\" ", " \"x\" "}};
    for (const auto& [text, read] : cases) EXPECT_EQ(With(text).GetString("k"), read) << text;
    SettingsDatabase db;
    db.AddSetting("double", "\"abc\"", Set);
    db.AddSetting("single", "'a b'", Set);
    EXPECT_EQ(db.GetString("absent"), "");
    EXPECT_EQ(db.GetMandatory("double"), "abc");
    EXPECT_EQ(db.GetOr<std::string>("absent", "dflt"), "dflt");
    EXPECT_EQ(db.GetOr<std::string>("single", "dflt"), "a b");

    std::string out = "old";
    EXPECT_FALSE(db.Get<std::string>("absent", out));
    EXPECT_EQ(out, "old");
    EXPECT_FALSE(db.GetStringOr("absent", out, "dflt"));
    EXPECT_EQ(out, "dflt");
    EXPECT_TRUE(db.GetStringOr("double", out, "dflt"));
    EXPECT_EQ(out, "abc");
    EXPECT_EQ(MessageOf([&] { db.GetMandatory("Reader"); }), "Не задана обязательная настройка \"reader\"");
}

TEST(SettingsDatabase, BinaryReads) {
    EXPECT_EQ(With("A0 00 00 01 51 00 00 00").GetBinary("k"),
              binary::Binary({0xA0, 0x00, 0x00, 0x01, 0x51, 0x00, 0x00, 0x00}));
    EXPECT_TRUE(With("1").GetBinary("absent").empty());
    EXPECT_EQ(MessageOf([] { With("3F0").GetBinary("k"); }), "Нечётное количество значащих символов в hex-строке");
    EXPECT_EQ(MessageOf([] { With("").GetBinary("k"); }),
              "Попытка интерпретировать пустую строку как тип ZORVIK::binary::Binary");
}

TEST(SettingsDatabase, ListReads) {
    SettingsDatabase db;
    db.AddSetting("protocols", "T1, T0", Set);
    db.AddSetting("gaps", ",a,,b, ,'c',\"d\",", Set);
    std::vector<std::string> out = {"kept"};
    EXPECT_TRUE(db.GetList("protocols", out, {"T0"}));
    EXPECT_EQ(out, (std::vector<std::string>{"kept", "T1", "T0"}));
    EXPECT_FALSE(db.GetList("absent", out, {"T0"}));
    EXPECT_EQ(out, (std::vector<std::string>{"T0"}));
    out.clear();
    EXPECT_TRUE(db.Get<std::vector<std::string>>("gaps", out));
    EXPECT_EQ(out, (std::vector<std::string>{"a", "b", "", "c", "d"}));
    EXPECT_FALSE(db.Get<std::vector<std::string>>("absent", out));
    EXPECT_EQ(out.size(), 5u);
}

}  // namespace
}  // namespace ZORVIK
