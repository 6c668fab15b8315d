#include "support/error_text.h"
#include "service/program_settings/setting_descriptions.h"

#include <gtest/gtest.h>

#include <functional>

#include "service/common/exception.h"
#include "service/program_settings/settings_sources.h"

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

TEST(SettingDescription, ConstructorsSetDefaultOrMandatory) {
    const SettingDescription withDefault = PowerOn();
    EXPECT_TRUE(withDefault.hasDefault);
    EXPECT_FALSE(withDefault.mandatory);
    EXPECT_EQ(withDefault.defaultValue, "1");
    const SettingDescription mandatory = MandatoryName();
    EXPECT_FALSE(mandatory.hasDefault);
    EXPECT_TRUE(mandatory.mandatory);
    EXPECT_EQ(mandatory.defaultValue, "");
    EXPECT_FALSE(Cless().mandatory);
    EXPECT_FALSE(Cless().hasDefault);
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

TEST(SettingsValidator, AliasMovesToTheFirstName) {
    SettingsDatabase db;
    db.AddSetting("P", "0", Set);
    SettingsValidator(db).Validate(PowerOn(), "");
    EXPECT_EQ(db.GetGroup(""), (Pairs{{"power_on", "0"}}));
}

TEST(SettingsValidator, LastAliasWinsOverEarlierNames) {
    SettingsDatabase db;
    db.AddSetting("log_level", "2", Set);
    db.AddSetting("_logging_level", "3", Set);
    db.AddSetting("l", "4", Set);
    SettingsValidator(db).Validate(LogLevel(), "");
    EXPECT_EQ(db.GetGroup(""), (Pairs{{"log_level", "4"}}));

    SettingsDatabase two;
    two.AddSetting("power_on", "1", Set);
    two.AddSetting("p", "no", Set);
    SettingsValidator(two).Validate(PowerOn(), "");
    EXPECT_EQ(two.GetGroup(""), (Pairs{{"power_on", "no"}}));
}

TEST(SettingsValidator, AbsentSettingGetsItsDefaultOrStaysAbsent) {
    SettingsDatabase db;
    SettingsValidator validator(db);
    validator.ValidateGroup(DescriptionGroup{PowerOn(), Cless(), ApduConvertFormat()}, "");
    EXPECT_EQ(db.GetGroup(""), (Pairs{{"apdu_convert_format", "none"}, {"power_on", "1"}}));
}

TEST(SettingsValidator, MandatorySettingMustBeGiven) {
    SettingsDatabase db;
    EXPECT_EQ(MessageOf([&] { SettingsValidator(db).Validate(MandatoryName(), "reader2."); }),
              "Не задана обязательная настройка \"name\"");
    db.AddSetting("reader2.n", "x", Set);
    SettingsValidator(db).Validate(MandatoryName(), "reader2.");
    EXPECT_EQ(db.GetGroup(""), (Pairs{{"reader2.name", "x"}}));
}

TEST(SettingsValidator, QuotedValueIsStoredUnquoted) {
    SettingsDatabase db;
    db.AddSetting("af", "\"gp\"", Set);
    SettingsValidator(db).Validate(ApduConvertFormat(), "");
    EXPECT_EQ(db.GetGroup(""), (Pairs{{"apdu_convert_format", "gp"}}));
}

TEST(SettingsValidator, InvalidValueIsRefusedAndStaysStored) {
    SettingsDatabase db;
    db.AddSetting("l", "9", Set);
    EXPECT_EQ(MessageOf([&] { SettingsValidator(db).Validate(LogLevel(), ""); }),
              "Значение настройки \"log_level = 9\" не удовлетворяет заданным для нее условиям: 1..8");
    EXPECT_EQ(db.GetGroup(""), (Pairs{{"log_level", "9"}}));
    db.AddSetting("log_level", "0", Set);
    EXPECT_THROW(SettingsValidator(db).Validate(LogLevel(), ""), Exception);
    db.AddSetting("log_level", "09", Set);  // digits only, but 9 lies outside 1..8
    EXPECT_THROW(SettingsValidator(db).Validate(LogLevel(), ""), Exception);
    db.AddSetting("log_level", "08", Set);
    SettingsValidator(db).Validate(LogLevel(), "");
    EXPECT_EQ(db.GetInt("log_level"), 8);
}

TEST(SettingsValidator, EnumerationAndBoolValues) {
    SettingsDatabase db;
    db.AddSetting("apdu_convert_format", "GP", Set);
    EXPECT_EQ(MessageOf([&] { SettingsValidator(db).Validate(ApduConvertFormat(), ""); }),
              "Значение настройки \"apdu_convert_format = GP\" не удовлетворяет заданным для нее условиям: "
              "skarna|gp|jcshell|goznak|ruzo|none");
    db.AddSetting("power_on", "Yes", Set);
    SettingsValidator(db).Validate(PowerOn(), "");
    EXPECT_TRUE(db.GetBool("power_on"));
    db.AddSetting("power_on", "y", Set);
    EXPECT_THROW(SettingsValidator(db).Validate(PowerOn(), ""), Exception);
}

TEST(SettingsValidator, DefaultsAreTestedLikeGivenValues) {
    SettingsDatabase db;
    const SettingDescription badDefault({"depth"}, std::make_shared<IntTypeInfo>(1, 3), "7", "глубина");
    EXPECT_EQ(MessageOf([&] { SettingsValidator(db).Validate(badDefault, ""); }),
              "Значение настройки \"depth = 7\" не удовлетворяет заданным для нее условиям: 1..3");
}

TEST(SettingsValidator, PrefixOfAFurtherReaderGroup) {
    SettingsDatabase db;
    db.AddSetting("reader2.p", "0", Set);
    db.AddSetting("p", "1", Set);  // the first reader's alias is not touched
    SettingsValidator(&db).ValidateGroup(DescriptionGroup{PowerOn(), Cless()}, "reader2.");
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

TEST(SettingsValidator, RefusesANullDatabase) {
    EXPECT_EQ(MessageOf([] { SettingsValidator validator(static_cast<SettingsDatabase*>(nullptr)); }),
              "NULL указатель");
}

TEST(SettingsValidator, CommandLineAliasEndsUnderTheFirstName) {
    const char* argv[] = {"qxw", "-l=5"};
    SettingsDatabase db;
    AddCommandLineSettings(2, argv, db, false);
    SettingsValidator(db).ValidateGroup(DescriptionGroup{LogLevel()}, "");
    EXPECT_EQ(db.GetGroup(""), (Pairs{{"log_level", "5"}}));
}

// --- Help -------------------------------------------------------------------

TEST(Serialize, RowsArePaddedToColumn22AndAliasesListed) {
    SettingsDescriptions descriptions;
    descriptions.AddGroup("", DescriptionGroup{PowerOn(), LogLevel(), Cless(), ApduConvertFormat(), MandatoryName()});
    std::string help = "old text";
    Serialize(descriptions, help);
    // power_on(p): is 13 characters, followed by 9 blanks; the log_level entry is
    // 29 characters and gets none; cless has no aliases and no colon.
    const std::string expected = "\n"
                                 "power_on(p):          {bool, default:1} - " + kPowerOnText + "\n"
                                 "log_level(_LOGGING_LEVEL,l): {1..8, default:1} - " + kLogLevelText + "\n"
                                 "cless                 {bool} - " + kClessText + "\n"
                                 "apdu_convert_format(af): {skarna|gp|jcshell|goznak|ruzo|none, default:none} - " +
                                 kFormatText + "\n"
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
        "power_on(p):          {bool, default:1} - " + kPowerOnText + "\n"
        "\n"
        "cless                 {bool} - " + kClessText + "\n"
        "\n"
        "                             настройки логирования\n"
        "                             ---------------------\n"
        "log_level(_LOGGING_LEVEL,l): {1..8, default:1} - " + kLogLevelText + "\n"
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
