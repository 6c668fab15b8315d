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
        // The range ends at the limits of int32, without wrapping round to 0.
        {std::make_shared<IntTypeInfo>(0, INT32_MAX), "0..2147483647", {"2147483647"}, {"2147483648", "4294967296"}},
        {std::make_shared<IntTypeInfo>(), "int", {"123456789012345678901234567890"}, {"-1"}},
        {std::make_shared<BoolTypeInfo>(), "bool", {"", "Yes", "TRUE", "0", "fAlSe"}, {"y", " on", "2", "\"on\""}},
        {std::make_shared<StringTypeInfo>("#?|#PCSC|<pcsc name>"), "#?|#PCSC|<pcsc name>", {"", "ACS ACR38U 00"}, {}},
        // An enumeration compares exactly and joins its values with bars.
        {std::make_shared<EnumTypeInfo>(std::vector<std::string>{"gp", "none"}), "gp|none", {"gp"}, {"GP", "gp ", ""}},
        // Hex bytes with white space; a fixed length takes exactly that many bytes.
        {std::make_shared<BinaryTypeInfo>(4), "bin (4 bytes)", {"0a 0b\t0c 0d"}, {"0A0B0C", "0A0B0C0D0E", ""}},
        {std::make_shared<BinaryTypeInfo>(), "bin", {"", "A0 00"}, {"A"}},
        {std::make_shared<BinaryTypeInfo>(5, 16), "bin(5-16 bytes)", {"A0 00 00 01 51"}, {"A0 00 00 01"}},
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
