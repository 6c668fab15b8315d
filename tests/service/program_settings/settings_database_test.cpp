#include "service/program_settings/settings_database.h"

#include <gtest/gtest.h>

#include <climits>
#include <functional>
#include <tuple>

#include "support/error_text.h"

namespace ZORVIK {
namespace {

using Pairs = SettingsDatabase::Pairs;
using test::MessageOf;

TEST(SettingsDatabase, OperationsStoreUnderLowerCasedKeys) {
    SettingsDatabase db;
    db.AddSetting("ПИТАНИЕ", "Вкл", Set);  // values keep their case
    db.AddSetting("a", "1", Append);
    db.AddSetting("A", " \"2\" ", Append);  // appended as written, after one comma
    db.AddSetting("b", "1", SetIfAbsent);
    db.AddSetting("B", "2", SetIfAbsent);
    db.AddSetting("c", "1", static_cast<SettingOperation>(4));  // unknown operations do nothing
    db.AddSetting("Reader", "#OSM", SetNew);
    EXPECT_EQ(MessageOf([&] { db.AddSetting("ReaDer", "#PCSC", SetNew); }),
              "Попытка перекрыть уже заданную настройку \"ReaDer\" с помощью оператора !=");
    EXPECT_EQ(db.GetGroup(""), (Pairs{{"a", "1, \"2\" "}, {"b", "1"}, {"reader", "#OSM"}, {"питание", "Вкл"}}));
    EXPECT_EQ(db.GetString("Питание"), "Вкл");
}

TEST(SettingsDatabase, EachOperationOnAnAbsentAndAPresentKey) {
    using Step = std::tuple<const char*, const char*, SettingOperation>;
    const std::pair<std::vector<Step>, Pairs> cases[] = {
        {{{"a", "1", Append}, {"a", "2", Append}}, {{"a", "1,2"}}},
        {{{"a", "1", Append}, {"a", "x", Set}}, {{"a", "x"}}},
        {{{"a", "1", Set}, {"a", "2", SetIfAbsent}}, {{"a", "1"}}},
        {{{"a", "1", SetNew}}, {{"a", "1"}}},
        {{{"a", "1", Set}, {"a", "3", static_cast<SettingOperation>(-1)}, {"b", "3", static_cast<SettingOperation>(4)}},
         {{"a", "1"}}},
    };
    for (const auto& [steps, stored] : cases) {
        SettingsDatabase db;
        for (const auto& [key, value, operation] : steps) db.AddSetting(key, value, operation);
        EXPECT_EQ(db.GetGroup(""), stored) << std::get<0>(steps.back()) << std::get<2>(steps.back());
    }
}

TEST(SettingsDatabase, RemoveReportsWhetherTheKeyExisted) {
    SettingsDatabase db;
    db.AddSetting("a", "1", Set);
    EXPECT_FALSE(db.Remove("b"));
    EXPECT_EQ(db.GetGroup(""), (Pairs{{"a", "1"}}));
    EXPECT_TRUE(db.Remove("A"));
    EXPECT_FALSE(db.Has("a"));
    EXPECT_FALSE(db.HasGroup(""));
    EXPECT_FALSE(db.Remove("a"));
}

TEST(SettingsDatabase, GroupIsTheRunOfKeysSharingThePrefixInUnsignedByteOrder) {
    SettingsDatabase db;
    for (const char* key : {"reader2", "reader.name", "readeq", "reader", "reades", "a", "reader2.power_on"})
        db.AddSetting(key, key, Set);
    EXPECT_EQ(db.GetGroup("READER"), (Pairs{{"reader", "reader"},
                                            {"reader.name", "reader.name"},
                                            {"reader2", "reader2"},
                                            {"reader2.power_on", "reader2.power_on"}}));
    EXPECT_EQ(db.GetGroup("reader2."), (Pairs{{"reader2.power_on", "reader2.power_on"}}));
    EXPECT_TRUE(db.HasGroup("reader2."));
    EXPECT_TRUE(db.HasGroup("Reades"));
    EXPECT_FALSE(db.HasGroup("reader3"));
    EXPECT_FALSE(db.HasGroup("reader.name.x"));
    EXPECT_FALSE(db.HasGroup("readef"));
    EXPECT_EQ(db.GetGroup("").size(), 7u);
    SettingsDatabase bytes;
    bytes.AddSetting("k\xff", "high", Set);  // 0xFF sorts after every ASCII byte
    bytes.AddSetting("k~", "tilde", Set);
    bytes.AddSetting("l", "next", Set);
    EXPECT_EQ(bytes.GetGroup("k"), (Pairs{{"k~", "tilde"}, {"k\xff", "high"}}));
    EXPECT_EQ(bytes.GetGroup("k\xff"), (Pairs{{"k\xff", "high"}}));
}

// The database holding one key "k" with the given value.
SettingsDatabase With(const std::string& value) {
    SettingsDatabase db;
    db.AddSetting("k", value, Set);
    return db;
}

TEST(SettingsDatabase, TypedReadsNeitherTrimNorGuess) {
    bool flag = true;
    EXPECT_FALSE(With("1").Get<bool>("absent", flag, false));
    EXPECT_FALSE(flag);
    // Numbers stop at the first non-digit; a text without a number that fits reads 0.
    const std::pair<const char*, int32_t> numbers[] = {{" 17 ", 17}, {"17x", 17}, {"0x10", 0}, {"99999999999", 0}};
    for (const auto& [text, number] : numbers) EXPECT_EQ(With(text).GetInt("k"), number) << text;
    uint32_t out = 7;
    EXPECT_TRUE(With("4294967296").Get<unsigned>("k", out));
    EXPECT_EQ(out, 7u);  // the target is left as it was
    // One matching pair of outer quotes is removed.
    const std::pair<const char*, const char*> texts[] = {{"'a b'", "a b"},
                                                         {"'abc\"", "'abc\""},
                                                         {"\"", ""},
                                                         {" \"x\" ", " \"x\" "},
                                                         // Quotes of separate items are no enclosing pair.
                                                         {"'T0', 'T1'", "'T0', 'T1'"},
                                                         {"\"T1, 'T0'\"", "T1, 'T0'"}};
    for (const auto& [text, read] : texts) EXPECT_EQ(With(text).GetString("k"), read) << text;
    EXPECT_EQ(With("A0 00 01").GetBinary("k"), binary::Binary("A00001"));
    std::vector<std::string> list = {"kept"};
    EXPECT_TRUE(With(",a,,b, ,'c',").GetList("k", list, {"T0"}));
    EXPECT_EQ(list, (std::vector<std::string>{"kept", "a", "b", "", "c"}));
    EXPECT_FALSE(With("x").GetList("absent", list, {"T0"}));
    EXPECT_EQ(list, std::vector<std::string>{"T0"});
}

// A text read takes one pair of enclosing quotes off, whatever stands between
// them, unless the value is a list whose every item has its own pair: that is
// left whole, so that the list read still sees each item's quotes.
TEST(SettingsDatabase, TextReadsUnquoteAllButAListOfQuotedItems) {
    using List = std::vector<std::string>;
    const std::tuple<const char*, const char*, List> rows[] = {
        {"'it's'", "it's", {"it's"}},
        {"\"say \"hi\"\"", "say \"hi\"", {"say \"hi\""}},
        {"'a, b'", "a, b", {"'a", "b'"}},  // the list read splits inside quotes
        {"'a'b'", "a'b", {"a'b"}},
        {"'T0', 'T1'", "'T0', 'T1'", {"T0", "T1"}},
        {"\"T0\",\"T1\"", "\"T0\",\"T1\"", {"T0", "T1"}},
        {"\"T0\", 'T1', \"T2\"", "\"T0\", 'T1', \"T2\"", {"T0", "T1", "T2"}},
        {" 'T0' ,'T1',,", " 'T0' ,'T1',,", {"T0", "T1"}},
        // Only some items quoted, or an item of blanks: one pair off the whole value.
        {"'a', b'", "a', b", {"a", "b'"}},
        {"'a', , 'b'", "a', , 'b", {"a", "", "b"}},
        {"'a,'", "a,", {"'a", ""}},  // a quote alone unquotes to nothing
        {"'a', b", "'a', b", {"a", "b"}},
    };
    for (const auto& [stored, text, list] : rows) {
        SCOPED_TRACE(stored);
        const SettingsDatabase db = With(stored);
        EXPECT_EQ(db.GetString("k"), text);
        std::string out;
        EXPECT_TRUE(db.Get("k", out));
        EXPECT_EQ(out, text);
        EXPECT_EQ(db.GetMandatory("k"), text);
        List items;
        EXPECT_TRUE(db.GetList("k", items, {}));
        EXPECT_EQ(items, list);
    }
}

TEST(SettingsDatabase, BoolReadsWithAndWithoutDefaults) {
    const std::pair<const char*, bool> words[] = {{"", true},    {"on", true},   {"YES", true},
                                                  {"1", true},   {"True", true}, {"OFF", false},
                                                  {"no", false}, {"0", false},   {"fAlSe", false}};
    for (const auto& [text, value] : words) {
        EXPECT_EQ(With(text).GetBool("k"), value) << text;
        EXPECT_EQ(With(text).GetBoolOr("k", !value), value) << text;
        EXPECT_EQ(With(text).GetMandatory<bool>("K"), value) << text;
    }
    EXPECT_FALSE(With("1").GetBool("absent"));
    EXPECT_TRUE(With("1").GetBoolOr("absent", true));
    bool out = true;
    EXPECT_FALSE(With("off").Get<bool>("absent", out));
    EXPECT_TRUE(out);  // untouched
    EXPECT_TRUE(With("off").Get<bool>("k", out, true));
    EXPECT_FALSE(out);
    // Bool reads neither trim nor unquote.
    for (const std::string text : {" yes", "'on'", "on ", "y", "2"})
        EXPECT_EQ(MessageOf([&] { With(text).GetBool("k"); }), "'" + text + "' doesn't look like a bool value.");
}

TEST(SettingsDatabase, NumberReadsStopAtTheFirstNonDigitAndLeaveTheTargetWithoutANumber) {
    const std::pair<const char*, int32_t> numbers[] = {
        {"x", 0}, {"-5", -5}, {"+5", 5}, {"2147483647", INT32_MAX}, {"-2147483648", INT32_MIN}, {"2147483648", 0}};
    for (const auto& [text, number] : numbers) EXPECT_EQ(With(text).GetInt("k"), number) << text;
    EXPECT_EQ(With("1").GetInt("absent"), 0);
    int32_t signedOut = 7;
    EXPECT_TRUE(With("abc").Get<int32_t>("k", signedOut));
    EXPECT_EQ(signedOut, 7);
    uint32_t out = 7;
    for (const char* text : {"abc", "-"}) {
        EXPECT_TRUE(With(text).Get<unsigned>("k", out)) << text;
        EXPECT_EQ(out, 7u) << text;
    }
    EXPECT_FALSE(With("1").Get<unsigned>("absent", out));
    EXPECT_EQ(out, 7u);
    EXPECT_TRUE(With("4294967295").Get<unsigned>("k", out));
    EXPECT_EQ(out, 4294967295u);
    EXPECT_TRUE(With("4096x").Get<unsigned>("k", out));
    EXPECT_EQ(out, 4096u);
    EXPECT_EQ(With("abc").GetOr<unsigned>("k", 9), 0u);
    EXPECT_EQ(With("12").GetOr<unsigned>("k", 9), 12u);
    EXPECT_EQ(With("1").GetOr<unsigned>("absent", 9), 9u);
}

TEST(SettingsDatabase, TextByteStringAndListReads) {
    const std::pair<const char*, const char*> texts[] = {{"\"abc\"", "abc"}, {"\"'x'\"", "'x'"}, {"'", ""},
                                                         {"\"a", "\"a"},     {"a\"", "a\""},     {"''", ""}};
    for (const auto& [text, read] : texts) EXPECT_EQ(With(text).GetString("k"), read) << text;
    SettingsDatabase db;
    db.AddSetting("double", "\"abc\"", Set);
    db.AddSetting("single", "'a b'", Set);
    EXPECT_EQ(db.GetString("absent"), "");
    EXPECT_EQ(db.GetMandatory("DOUBLE"), "abc");
    EXPECT_EQ(db.GetOr<std::string>("absent", "dflt"), "dflt");
    EXPECT_EQ(db.GetOr<std::string>("single", "dflt"), "a b");
    std::string out = "old";
    EXPECT_FALSE(db.Get<std::string>("absent", out));
    EXPECT_EQ(out, "old");
    EXPECT_FALSE(db.GetStringOr("absent", out, "dflt"));
    EXPECT_EQ(out, "dflt");
    EXPECT_TRUE(db.GetStringOr("double", out, "dflt"));
    EXPECT_EQ(out, "abc");
    EXPECT_EQ(With("A0 00 00 01 51 00 00 00").GetBinary("k"), binary::Binary("A0000001 51000000"));
    EXPECT_TRUE(With("1").GetBinary("absent").empty());
    std::vector<std::string> list;
    EXPECT_TRUE(With("T1, T0").GetList("k", list, {"T0"}));
    EXPECT_TRUE(With("\"d\",\t'e' ,").Get<std::vector<std::string>>("k", list));
    EXPECT_EQ(list, (std::vector<std::string>{"T1", "T0", "d", "e"}));
    EXPECT_FALSE(With("x").Get<std::vector<std::string>>("absent", list));
    EXPECT_EQ(list.size(), 4u);
}

TEST(SettingsDatabase, ReadErrorsNameTheTextOrTheType) {
    const std::string empty = "Попытка интерпретировать пустую строку как тип ";
    const std::pair<std::function<void()>, std::string> cases[] = {
        {[] { With("\"On\"").GetBool("k"); }, "'\"on\"' doesn't look like a bool value."},
        {[] { With("").GetInt("k"); }, empty + "int"},
        {[] { With("").GetOr<unsigned>("k", 9); }, empty + "unsigned int"},
        {[] { With("").GetBinary("k"); }, empty + "ZORVIK::binary::Binary"},
        {[] { With("1").GetMandatory<bool>("Absent"); }, "Не задана обязательная настройка \"absent\""},
        {[] { With("1").GetMandatory("Reader"); }, "Не задана обязательная настройка \"reader\""},
        {[] { With("3F0").GetBinary("k"); }, "Нечётное количество значащих символов в hex-строке"},
        {[] { With("3F 0x").GetBinary("k"); }, "Недопустимый символ в hex-строке"},
        {[] {
             uint32_t out = 0;
             With("").Get<unsigned>("k", out);
         },
         empty + "unsigned int"},
        {[] { With(std::string("o\0n", 3)).GetBool("k"); }, "'o\\x00n' doesn't look like a bool value."},
    };
    for (const auto& [read, message] : cases) EXPECT_EQ(MessageOf(read), message);
}

}  // namespace
}  // namespace ZORVIK
