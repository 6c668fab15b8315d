#include "service/program_settings/setting_descriptions.h"
#include "support/error_text.h"

#include <gtest/gtest.h>

#include <functional>

#include "service/common/exception.h"

namespace ZORVIK {
namespace {

using Pairs = SettingsDatabase::Pairs;

using test::MessageOf;

// A few rows of the framework's and card service's declarations, as they are declared there.
const std::string kPowerOnText = "автоматическая подача питания при старте программы";
const std::string kLogLevelText =
    "степень детализации вывода информации в консольный лог (8 - не выводить, 5 - важная информация, 1 - "
    "отладочная информация)";
const std::string kFormatText = "формат выходного файла с APDU-командами";
const std::string kClessText = "принудительное задание признака работы в бесконтактном режиме";

SettingDescription PowerOn() {
    return SettingDescription({"power_on", "p"}, std::make_shared<BoolTypeInfo>(), "1", kPowerOnText);
}
SettingDescription Cless() {
    return SettingDescription({"cless"}, std::make_shared<BoolTypeInfo>(), false, kClessText);
}
SettingDescription ApduConvertFormat() {
    return SettingDescription(
        {"apdu_convert_format", "af"},
        std::make_shared<EnumTypeInfo>(std::vector<std::string>{"skarna", "gp", "jcshell", "goznak", "ruzo", "none"}),
        "none", kFormatText);
}
SettingDescription LogLevel() {
    return SettingDescription({"log_level", "_LOGGING_LEVEL", "l"}, std::make_shared<IntTypeInfo>(1, 8), "1",
                              kLogLevelText);
}
SettingDescription MandatoryName() {
    return SettingDescription({"name", "n"}, std::make_shared<StringTypeInfo>(), true, "имя");
}

TEST(DescriptionGroup, KeepsDeclarationOrderAndIndexesTheLatestByFirstName) {
    const DescriptionGroup group{PowerOn(), Cless(),
                                 SettingDescription({"power_on"}, std::make_shared<StringTypeInfo>(), "x", "again")};
    ASSERT_EQ(group.Descriptions().size(), 3u);
    EXPECT_EQ(group.Descriptions()[1].names.front(), "cless");
    ASSERT_NE(group.Find("power_on"), nullptr);
    EXPECT_EQ(group.Find("power_on")->text, "again");
    EXPECT_EQ(group.Find("p"), nullptr);  // aliases are not indexed
}

TEST(DescriptionGroup, RefusesADescriptionWithoutNames) {
    EXPECT_EQ(MessageOf([] {
                  DescriptionGroup group(std::vector<SettingDescription>{
                      PowerOn(), SettingDescription({}, std::make_shared<BoolTypeInfo>(), "1", "")});
              }),
              "Настройка должна иметь хотя бы одно имя");
}

// --- Validation -------------------------------------------------------------

TEST(SettingsValidator, OneSettingMovedUnderItsFirstNameAndChecked) {
    const std::string outOfRange = "\" не удовлетворяет заданным для нее условиям: ";
    const struct {
        std::vector<std::pair<std::string, std::string>> given;  // in the order added
        SettingDescription description;
        const char* prefix;
        std::string error;  // empty when the value is valid
        Pairs stored;
    } cases[] = {
        {{{"P", "0"}}, PowerOn(), "", "", {{"power_on", "0"}}},
        // The last alias wins over earlier names.
        {{{"log_level", "2"}, {"_logging_level", "3"}, {"l", "4"}}, LogLevel(), "", "", {{"log_level", "4"}}},
        {{{"power_on", "1"}, {"p", "no"}}, PowerOn(), "", "", {{"power_on", "no"}}},
        {{{"power_on", "Yes"}}, PowerOn(), "", "", {{"power_on", "Yes"}}},
        // A quoted value is stored unquoted.
        {{{"af", "\"gp\""}}, ApduConvertFormat(), "", "", {{"apdu_convert_format", "gp"}}},
        {{{"reader2.n", "x"}}, MandatoryName(), "reader2.", "", {{"reader2.name", "x"}}},
        {{}, MandatoryName(), "reader2.", "Не задана обязательная настройка \"name\"", {}},
        // A refused value stays stored under the first name.
        {{{"l", "9"}},
         LogLevel(),
         "",
         "Значение настройки \"log_level = 9" + outOfRange + "1..8",
         {{"log_level", "9"}}},
        {{{"log_level", "0"}},
         LogLevel(),
         "",
         "Значение настройки \"log_level = 0" + outOfRange + "1..8",
         {{"log_level", "0"}}},
        // Digits only, but 9 lies outside 1..8; 08 is 8.
        {{{"log_level", "09"}},
         LogLevel(),
         "",
         "Значение настройки \"log_level = 09" + outOfRange + "1..8",
         {{"log_level", "09"}}},
        {{{"log_level", "08"}}, LogLevel(), "", "", {{"log_level", "08"}}},
        {{{"apdu_convert_format", "GP"}},
         ApduConvertFormat(),
         "",
         "Значение настройки \"apdu_convert_format = GP" + outOfRange + "skarna|gp|jcshell|goznak|ruzo|none",
         {{"apdu_convert_format", "GP"}}},
        {{{"power_on", "y"}},
         PowerOn(),
         "",
         "Значение настройки \"power_on = y" + outOfRange + "bool",
         {{"power_on", "y"}}},
        // A default is stored, then tested like a given value.
        {{},
         SettingDescription({"depth"}, std::make_shared<IntTypeInfo>(1, 3), "7", "глубина"),
         "",
         "Значение настройки \"depth = 7" + outOfRange + "1..3",
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

TEST(SettingsValidator, AbsentSettingGetsItsDefaultOrStaysAbsent) {
    SettingsDatabase db;
    SettingsValidator validator(db);
    validator.ValidateGroup(DescriptionGroup{PowerOn(), Cless(), ApduConvertFormat()}, "");
    EXPECT_EQ(db.GetGroup(""), (Pairs{{"apdu_convert_format", "none"}, {"power_on", "1"}}));
}

TEST(SettingsValidator, PrefixOfAFurtherReaderGroup) {
    SettingsDatabase db;
    db.AddSetting("reader2.p", "0", Set);
    db.AddSetting("p", "1", Set);  // the first reader's alias is not touched
    SettingsValidator(db).ValidateGroup(DescriptionGroup{PowerOn(), Cless()}, "reader2.");
    EXPECT_EQ(db.GetGroup(""), (Pairs{{"p", "1"}, {"reader2.power_on", "0"}}));
}

TEST(SettingsValidator, GroupStopsAtTheFirstErrorKeepingWhatWasDone) {
    SettingsDatabase db;
    db.AddSetting("l", "x", Set);
    db.AddSetting("af", "gp", Set);
    EXPECT_THROW(SettingsValidator(db).ValidateGroup(DescriptionGroup{PowerOn(), LogLevel(), ApduConvertFormat()}, ""),
                 Exception);
    EXPECT_EQ(db.GetGroup(""), (Pairs{{"af", "gp"}, {"log_level", "x"}, {"power_on", "1"}}));
}

// --- Help -------------------------------------------------------------------

TEST(Serialize, RowsArePaddedToColumn22AndAliasesListed) {
    SettingsDescriptions descriptions;
    descriptions.AddGroup("", DescriptionGroup{PowerOn(), LogLevel(), Cless(), ApduConvertFormat(), MandatoryName()});
    std::string help = "old text";
    Serialize(descriptions, help);
    // power_on(p): is 13 characters, followed by 9 blanks; the log_level entry is
    // 29 characters and gets none; cless has no aliases and no colon.
    const std::string expected =
        "\n"
        "power_on(p):          {bool, default:1} - " +
        kPowerOnText +
        "\n"
        "log_level(_LOGGING_LEVEL,l): {1..8, default:1} - " +
        kLogLevelText +
        "\n"
        "cless                 {bool} - " +
        kClessText +
        "\n"
        "apdu_convert_format(af): {skarna|gp|jcshell|goznak|ruzo|none, default:none} - " +
        kFormatText +
        "\n"
        "name(n):              {string, mandatory} - имя\n"
        "\n";
    EXPECT_EQ(help, expected);
}

TEST(Serialize, RussianTitleIsCentredAndUnderlinedInCharacters) {
    SettingsDescriptions descriptions;
    descriptions.AddGroup("настройки работы с картой", DescriptionGroup{PowerOn()});
    descriptions.AddGroup("", DescriptionGroup{Cless()});
    descriptions.AddGroup("настройки логирования", DescriptionGroup{LogLevel()});
    std::string help;
    Serialize(descriptions, help);
    // 25 characters: (80 - 25) / 2 = 27 blanks; 21 characters: 29 blanks.
    const std::string expected =
        "\n"
        "                           настройки работы с картой\n"
        "                           -------------------------\n"
        "power_on(p):          {bool, default:1} - " +
        kPowerOnText +
        "\n"
        "\n"
        "cless                 {bool} - " +
        kClessText +
        "\n"
        "\n"
        "                             настройки логирования\n"
        "                             ---------------------\n"
        "log_level(_LOGGING_LEVEL,l): {1..8, default:1} - " +
        kLogLevelText +
        "\n"
        "\n";
    EXPECT_EQ(help, expected);
}

TEST(Serialize, CyrillicNamesArePaddedByCharacters) {
    SettingsDescriptions descriptions;
    descriptions.AddGroup("", DescriptionGroup{SettingDescription({"язык", "я"}, std::make_shared<StringTypeInfo>(),
                                                                  "ru", "язык сообщений")});
    std::string help;
    Serialize(descriptions, help);
    // "язык(я): " is 9 characters (15 bytes), so 13 blanks follow.
    EXPECT_EQ(help, "\nязык(я):              {string, default:ru} - язык сообщений\n\n");
}

TEST(Serialize, NoSectionsGiveASingleLineFeed) {
    std::string help = "old";
    Serialize(SettingsDescriptions(), help);
    EXPECT_EQ(help, "\n");
}

}  // namespace
}  // namespace ZORVIK
