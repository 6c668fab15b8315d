#include "service/program_settings/setting_descriptions.h"

#include <gtest/gtest.h>

#include <climits>

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
SettingDescription ApduConvertFormat() {
    return SettingDescription(
        {"apdu_convert_format", "af"},
        std::make_shared<EnumTypeInfo>(std::vector<std::string>{"skarna", "gp", "jcshell", "goznak", "ruzo", "none"}),
        "none", "формат");
}

TEST(SettingTypes, NamesAndAcceptedTexts) {
    const struct {
        std::shared_ptr<iTypeInfo> type;
        const char* name;
        std::vector<const char*> valid;
        std::vector<const char*> invalid;
    } cases[] = {
        // Digits only, within the range; the empty text counts as 0.
        {std::make_shared<IntTypeInfo>(0, 2), "0..2", {""}, {}},
        {std::make_shared<IntTypeInfo>(1, 8), "1..8", {"1", "8", "0001"}, {"0", "9", "-1", "+5", " 5", "5x"}},
        {std::make_shared<IntTypeInfo>(1, 8),
         "1..8",
         {"5", "08"},
         {"", "5 ", "0x5", "09", "99999999999999999999", "4294967297"}},
        {std::make_shared<IntTypeInfo>(-5, -1), "-5..-1", {}, {"0", "1", "5"}},
        {std::make_shared<IntTypeInfo>(INT32_MIN, INT32_MAX), "-2147483648..2147483647", {"0", "2147483647"}, {}},
        // The range ends at the limits of int32, without wrapping round to 0.
        {std::make_shared<IntTypeInfo>(0, INT32_MAX), "0..2147483647", {"2147483647"}, {"2147483648", "4294967296"}},
        {std::make_shared<IntTypeInfo>(), "int", {"123456789012345678901234567890"}, {"-1"}},
        {std::make_shared<IntTypeInfo>(), "int", {"", "0"}, {"1 ", "a", "/", ":"}},
        {std::make_shared<BoolTypeInfo>(),
         "bool",
         {"on", "ON", "1", "off", "No", "yes", "true"},
         {"n", "on ", "enable", "01", "of"}},
        {std::make_shared<StringTypeInfo>(), "string", {"", " any text "}, {}},
        {std::make_shared<EnumTypeInfo>(std::vector<std::string>{"skarna", "gp", "jcshell", "goznak", "ruzo", "none"}),
         "skarna|gp|jcshell|goznak|ruzo|none",
         {"skarna", "none"},
         {"skarna|gp", "g", "nonee"}},
        {std::make_shared<EnumTypeInfo>(std::vector<std::string>{"", "x"}), "|x", {"", "x"}, {" "}},
        {std::make_shared<BoolTypeInfo>(), "bool", {"", "Yes", "TRUE", "0", "fAlSe"}, {"y", " on", "2", "\"on\""}},
        {std::make_shared<StringTypeInfo>("#?|#PCSC|<pcsc name>"), "#?|#PCSC|<pcsc name>", {"", "ACS ACR38U 00"}, {}},
        // An enumeration compares exactly and joins its values with bars.
        {std::make_shared<EnumTypeInfo>(std::vector<std::string>{"gp", "none"}), "gp|none", {"gp"}, {"GP", "gp ", ""}},
        // Hex bytes with white space; a fixed length takes exactly that many bytes.
        {std::make_shared<BinaryTypeInfo>(4), "bin (4 bytes)", {"0a 0b\t0c 0d"}, {"0A0B0C", "0A0B0C0D0E", ""}},
        {std::make_shared<BinaryTypeInfo>(4), "bin (4 bytes)", {"0A0B0C0D"}, {"0A0B0C0", "0A0B0C0G", "0x0A0B0C"}},
        {std::make_shared<BinaryTypeInfo>(0), "bin (0 bytes)", {"", " "}, {"00"}},
        {std::make_shared<BinaryTypeInfo>(), "bin", {"", "A0 00"}, {"A"}},
        {std::make_shared<BinaryTypeInfo>(5, 16), "bin(5-16 bytes)", {"A0 00 00 01 51"}, {"A0 00 00 01"}},
        {std::make_shared<BinaryTypeInfo>(5, 16),
         "bin(5-16 bytes)",
         {"00112233445566778899AABBCCDDEEFF"},
         {"00112233445566778899AABBCCDDEEFF00", "A0 00 00 01 5"}},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(c.type->TypeName(), c.name);
        for (const char* text : c.valid) EXPECT_TRUE(c.type->IsValid(text)) << c.name << ": " << text;
        for (const char* text : c.invalid) EXPECT_FALSE(c.type->IsValid(text)) << c.name << ": " << text;
    }
    EXPECT_EQ(MessageOf([] { EnumTypeInfo empty({}); }),
              "для перечисления должно быть задано хотя бы одно возможное значение");
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
}

TEST(SettingsValidator, EveryRefusalNamesTheValueAndTheTypeAndLeavesTheValueStored) {
    const std::string refused = "\" не удовлетворяет заданным для нее условиям: ";
    const struct {
        Pairs given;  // in the order added
        SettingDescription description;
        std::string error;
        Pairs stored;
    } cases[] = {
        {{{"power_on", "1"}, {"p", "no"}}, PowerOn(), "(no error)", {{"power_on", "no"}}},  // the alias wins
        {{{"power_on", "Yes"}}, PowerOn(), "(no error)", {{"power_on", "Yes"}}},
        {{{"af", "\"gp\""}}, ApduConvertFormat(), "(no error)", {{"apdu_convert_format", "gp"}}},
        {{{"l", "08"}}, LogLevel(), "(no error)", {{"log_level", "08"}}},
        {{{"log_level", "0"}},
         LogLevel(),
         "Значение настройки \"log_level = 0" + refused + "1..8",
         {{"log_level", "0"}}},
        {{{"power_on", "y"}}, PowerOn(), "Значение настройки \"power_on = y" + refused + "bool", {{"power_on", "y"}}},
        {{{"af", "GP"}},
         ApduConvertFormat(),
         "Значение настройки \"apdu_convert_format = GP" + refused + "skarna|gp|jcshell|goznak|ruzo|none",
         {{"apdu_convert_format", "GP"}}},
        {{{"count", "-1"}},
         SettingDescription({"count"}, std::make_shared<IntTypeInfo>(), false, ""),
         "Значение настройки \"count = -1" + refused + "int",
         {{"count", "-1"}}},
        {{{"key", "0102"}},
         SettingDescription({"key"}, std::make_shared<BinaryTypeInfo>(4), false, ""),
         "Значение настройки \"key = 0102" + refused + "bin (4 bytes)",
         {{"key", "0102"}}},
        {{{"aid", "A0"}},
         SettingDescription({"aid"}, std::make_shared<BinaryTypeInfo>(5, 16), false, ""),
         "Значение настройки \"aid = A0" + refused + "bin(5-16 bytes)",
         {{"aid", "A0"}}},
        {{{"any", "x"}},
         SettingDescription({"any"}, nullptr, false, ""),
         "Значение настройки \"any = x" + refused,
         {{"any", "x"}}},
        // A message that quotes a value with a zero byte shows it escaped.
        {{{"p", std::string("o\0n", 3)}},
         PowerOn(),
         "Значение настройки \"power_on = o\\x00n" + refused + "bool",
         {{"power_on", std::string("o\0n", 3)}}},
    };
    for (const auto& c : cases) {
        SettingsDatabase db;
        for (const auto& [key, value] : c.given) db.AddSetting(key, value, Set);
        EXPECT_EQ(MessageOf([&] { SettingsValidator(db).Validate(c.description, ""); }), c.error)
            << c.description.names.front();
        EXPECT_EQ(db.GetGroup(""), c.stored) << c.description.names.front();
    }
}

TEST(SettingsValidator, GroupsGetDefaultsUnderTheirPrefixAndStopAtTheFirstErrorKeepingWhatWasDone) {
    SettingsDatabase db;
    SettingsValidator(db).ValidateGroup(DescriptionGroup{PowerOn(), Cless(), ApduConvertFormat()}, "");
    EXPECT_EQ(db.GetGroup(""), (Pairs{{"apdu_convert_format", "none"}, {"power_on", "1"}}));  // cless stays absent
    SettingsDatabase further;
    further.AddSetting("reader2.p", "0", Set);
    further.AddSetting("p", "1", Set);  // the first reader's alias is not touched
    SettingsValidator(further).ValidateGroup(DescriptionGroup{PowerOn(), Cless()}, "reader2.");
    EXPECT_EQ(further.GetGroup(""), (Pairs{{"p", "1"}, {"reader2.power_on", "0"}}));
    SettingsDatabase failing;
    failing.AddSetting("l", "x", Set);
    failing.AddSetting("af", "gp", Set);
    EXPECT_THROW(
        SettingsValidator(failing).ValidateGroup(DescriptionGroup{PowerOn(), LogLevel(), ApduConvertFormat()}, ""),
        Exception);
    EXPECT_EQ(failing.GetGroup(""), (Pairs{{"af", "gp"}, {"log_level", "x"}, {"power_on", "1"}}));
}

TEST(Serialize, RowsArePaddedToColumn22AndTitlesCentredAndUnderlinedInCharacters) {
    SettingsDescriptions descriptions;
    descriptions.AddGroup("настройки работы с картой", DescriptionGroup{PowerOn(), LogLevel(), Cless()});
    descriptions.AddGroup("", DescriptionGroup{ApduConvertFormat(), MandatoryName()});
    descriptions.AddGroup("", DescriptionGroup{SettingDescription({"язык", "я"}, std::make_shared<StringTypeInfo>(),
                                                                  "ru", "язык сообщений")});
    std::string help = "old text";
    Serialize(descriptions, help);
    // 25 characters: (80 - 25) / 2 = 27 blanks. power_on(p): is 13 characters, followed by 9 blanks; the
    // log_level entry is 29 characters and gets none; cless has no aliases and no colon; "язык(я): " is 9
    // characters (15 bytes), so 13 blanks follow.
    const std::string expected =
        "\n"
        "                           настройки работы с картой\n"
        "                           -------------------------\n"
        "power_on(p):          {bool, default:1} - питание\n"
        "log_level(_LOGGING_LEVEL,l): {1..8, default:1} - лог\n"
        "cless                 {bool} - cless\n"
        "\n"
        "apdu_convert_format(af): {skarna|gp|jcshell|goznak|ruzo|none, default:none} - формат\n"
        "name(n):              {string, mandatory} - имя\n"
        "\n"
        "язык(я):              {string, default:ru} - язык сообщений\n"
        "\n";
    EXPECT_EQ(help, expected);
    Serialize(SettingsDescriptions(), help);
    EXPECT_EQ(help, "\n");
    SettingsDescriptions wide;
    wide.AddGroup(std::string(79, 't'), DescriptionGroup{Cless()});
    Serialize(wide, help);
    EXPECT_EQ(help,
              "\n" + std::string(79, 't') + "\n" + std::string(79, '-') + "\ncless                 {bool} - cless\n\n");
}

TEST(SettingsValidator, EachSettingIsMovedUnderItsFirstNameAndChecked) {
    SettingsDatabase db;
    for (const auto& [key, value] :
         Pairs{{"P", "0"}, {"log_level", "2"}, {"_logging_level", "3"}, {"l", "09"}, {"reader2.n", "\"x\""}})
        db.AddSetting(key, value, Set);
    const std::string refused = "\" не удовлетворяет заданным для нее условиям: ";
    const std::tuple<SettingDescription, const char*, std::string> cases[] = {
        {PowerOn(), "", "(no error)"},
        // The last alias wins over earlier names; a refused value stays stored under the first name.
        {LogLevel(), "", "Значение настройки \"log_level = 09" + refused + "1..8"},
        {MandatoryName(), "reader2.", "(no error)"},
        {MandatoryName(), "reader3.", "Не задана обязательная настройка \"name\""},
        // A default is stored, then tested like a given value.
        {SettingDescription({"depth"}, std::make_shared<IntTypeInfo>(1, 3), "7", ""), "",
         "Значение настройки \"depth = 7" + refused + "1..3"},
    };
    for (const auto& [description, prefix, error] : cases)
        EXPECT_EQ(MessageOf([&] { SettingsValidator(db).Validate(description, prefix); }), error) << prefix;
    // Quoted values are stored unquoted.
    EXPECT_EQ(db.GetGroup(""), (Pairs{{"depth", "7"}, {"log_level", "09"}, {"power_on", "0"}, {"reader2.name", "x"}}));
}

}  // namespace
}  // namespace ZORVIK
