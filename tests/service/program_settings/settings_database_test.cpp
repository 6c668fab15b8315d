#include "service/program_settings/settings_database.h"

#include <gtest/gtest.h>

#include <functional>

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

TEST(SettingsDatabase, ReadErrorsNameTheTextOrTheType) {
    const std::string empty = "Попытка интерпретировать пустую строку как тип ";
    const std::pair<std::function<void()>, std::string> cases[] = {
        {[] { With("\"On\"").GetBool("k"); }, "'\"on\"' doesn't look like a bool value."},
        {[] { With("").GetInt("k"); }, empty + "int"},
        {[] { With("").GetOr<unsigned>("k", 9); }, empty + "unsigned int"},
        {[] { With("").GetBinary("k"); }, empty + "ZORVIK::binary::Binary"},
        {[] { With("1").GetMandatory<bool>("Absent"); }, "Не задана обязательная настройка \"absent\""},
    };
    for (const auto& [read, message] : cases) EXPECT_EQ(MessageOf(read), message);
}

}  // namespace
}  // namespace ZORVIK
