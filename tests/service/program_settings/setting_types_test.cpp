#include "service/program_settings/setting_types.h"

#include <gtest/gtest.h>

#include <climits>
#include <memory>

#include "support/error_text.h"

namespace ZORVIK {
namespace {

TEST(SettingTypes, NamesAndAcceptedTexts) {
    const struct {
        std::shared_ptr<iTypeInfo> type;
        const char* name;
        std::vector<const char*> valid;
        std::vector<const char*> invalid;
    } cases[] = {
        // Digits only, within the range; the empty text counts as 0.
        {std::make_shared<IntTypeInfo>(1, 8), "1..8", {"1", "8", "0001"}, {"0", "9", "", "-1", "+5", " 5", "5x"}},
        {std::make_shared<IntTypeInfo>(0, 2), "0..2", {""}, {}},
        // The range ends at the limits of int32, without wrapping round to 0.
        {std::make_shared<IntTypeInfo>(0, INT32_MAX), "0..2147483647", {"2147483647"}, {"2147483648", "4294967296"}},
        {std::make_shared<IntTypeInfo>(), "int", {"123456789012345678901234567890"}, {"-1"}},
        {std::make_shared<BoolTypeInfo>(), "bool", {"", "Yes", "TRUE", "0", "fAlSe"}, {"y", " on", "2", "\"on\""}},
        {std::make_shared<StringTypeInfo>("#?|#PCSC|<pcsc name>"), "#?|#PCSC|<pcsc name>", {"", "ACS ACR38U 00"}, {}},
        // An enumeration compares exactly and joins its values with bars.
        {std::make_shared<EnumTypeInfo>(std::vector<std::string>{"skarna", "gp", "none"}),
         "skarna|gp|none",
         {"gp"},
         {"GP", "gp ", "", "skarna|gp"}},
        // Hex bytes with white space; a fixed length takes exactly that many bytes.
        {std::make_shared<BinaryTypeInfo>(4),
         "bin (4 bytes)",
         {"0a 0b\t0c 0d"},
         {"0A0B0C", "0A0B0C0D0E", "0A0B0C0", ""}},
        {std::make_shared<BinaryTypeInfo>(), "bin", {"", "A0 00"}, {"A"}},
        {std::make_shared<BinaryTypeInfo>(5, 16), "bin(5-16 bytes)", {"A0 00 00 01 51"}, {"A0 00 00 01"}},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(c.type->TypeName(), c.name);
        for (const char* text : c.valid) EXPECT_TRUE(c.type->IsValid(text)) << c.name << ": " << text;
        for (const char* text : c.invalid) EXPECT_FALSE(c.type->IsValid(text)) << c.name << ": " << text;
    }
    EXPECT_EQ(test::MessageOf([] { EnumTypeInfo empty({}); }),
              "для перечисления должно быть задано хотя бы одно возможное значение");
}

}  // namespace
}  // namespace ZORVIK
