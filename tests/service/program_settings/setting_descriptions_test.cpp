#include "service/program_settings/setting_descriptions.h"

#include <gtest/gtest.h>

#include "service/common/exception.h"
#include "support/error_text.h"

namespace ZORVIK {
namespace {

using Pairs = SettingsDatabase::Pairs;
using test::MessageOf;

// Rows as the framework and the card service declare them.
SettingDescription PowerOn() {
    return SettingDescription({"power_on", "p"}, std::make_shared<BoolTypeInfo>(), "1", "питание");
}
SettingDescription Cless() { return SettingDescription({"cless"}, std::make_shared<BoolTypeInfo>(), false, "cless"); }
SettingDescription LogLevel() {
    return SettingDescription({"log_level", "_LOGGING_LEVEL", "l"}, std::make_shared<IntTypeInfo>(1, 8), "1", "лог");
}
SettingDescription MandatoryName() {
    return SettingDescription({"name", "n"}, std::make_shared<StringTypeInfo>(), true, "имя");
}

TEST(DescriptionGroup, KeepsDeclarationOrderAndIndexesTheLatestByFirstName) {
    const DescriptionGroup group{PowerOn(), Cless(),
                                 SettingDescription({"power_on"}, std::make_shared<StringTypeInfo>(), "x", "again")};
    EXPECT_EQ(group.Descriptions()[1].names.front(), "cless");
    EXPECT_EQ(group.Find("power_on")->text, "again");
    EXPECT_EQ(group.Find("p"), nullptr);  // aliases are not indexed
    EXPECT_EQ(MessageOf([] {
                  DescriptionGroup(std::vector<SettingDescription>{Cless(), SettingDescription({}, nullptr, "1", "")});
              }),
              "Настройка должна иметь хотя бы одно имя");
    EXPECT_EQ(MessageOf([] { SettingsValidator(static_cast<SettingsDatabase*>(nullptr)); }), "NULL указатель");
}

TEST(SettingsValidator, OneSettingMovedUnderItsFirstNameAndChecked) {
    const std::string refused = "\" не удовлетворяет заданным для нее условиям: ";
    const struct {
        Pairs given;  // in the order added
        SettingDescription description;
        const char* prefix;
        std::string error;  // empty when the value is valid
        Pairs stored;
    } cases[] = {
        {{{"P", "0"}}, PowerOn(), "", "", {{"power_on", "0"}}},
        // The last alias wins over earlier names.
        {{{"log_level", "2"}, {"_logging_level", "3"}, {"l", "4"}}, LogLevel(), "", "", {{"log_level", "4"}}},
        {{{"reader2.n", "\"x\""}}, MandatoryName(), "reader2.", "", {{"reader2.name", "x"}}},  // stored unquoted
        {{}, MandatoryName(), "reader2.", "Не задана обязательная настройка \"name\"", {}},
        // A refused value stays stored under the first name.
        {{{"l", "09"}},
         LogLevel(),
         "",
         "Значение настройки \"log_level = 09" + refused + "1..8",
         {{"log_level", "09"}}},
        // A default is stored, then tested like a given value.
        {{},
         SettingDescription({"depth"}, std::make_shared<IntTypeInfo>(1, 3), "7", ""),
         "",
         "Значение настройки \"depth = 7" + refused + "1..3",
         {{"depth", "7"}}},
    };
    for (const auto& c : cases) {
        SettingsDatabase db;
        for (const auto& [key, value] : c.given) db.AddSetting(key, value, Set);
        const std::string error = MessageOf([&] { SettingsValidator(db).Validate(c.description, c.prefix); });
        EXPECT_EQ(error, c.error.empty() ? "(no error)" : c.error) << c.description.names.front();
        EXPECT_EQ(db.GetGroup(""), c.stored) << c.description.names.front();
    }
}

TEST(SettingsValidator, GroupGivesDefaultsAndStopsAtTheFirstErrorKeepingWhatWasDone) {
    SettingsDatabase db;
    db.AddSetting("reader2.p", "0", Set);
    db.AddSetting("p", "1", Set);  // the first reader's alias is not touched
    db.AddSetting("reader2.l", "x", Set);
    EXPECT_THROW(SettingsValidator(&db).ValidateGroup(DescriptionGroup{PowerOn(), Cless(), LogLevel(), MandatoryName()},
                                                      "reader2."),
                 Exception);
    EXPECT_EQ(db.GetGroup(""), (Pairs{{"p", "1"}, {"reader2.log_level", "x"}, {"reader2.power_on", "0"}}));
}

TEST(Serialize, ColumnsCountCharactersNotBytes) {
    SettingsDescriptions descriptions;
    descriptions.AddGroup(
        "карта", DescriptionGroup{SettingDescription({"язык", "я"}, std::make_shared<StringTypeInfo>(), true, "язык")});
    std::string help = "old";
    Serialize(descriptions, help);
    // "язык(я): " is 9 characters (15 bytes), so 13 blanks follow; (80 - 5) / 2 = 37 blanks centre the title.
    const std::string pad(37, ' ');
    EXPECT_EQ(help, "\n" + pad + "карта\n" + pad + "-----\nязык(я):              {string, mandatory} - язык\n\n");
}

}  // namespace
}  // namespace ZORVIK
