#include "support/error_text.h"
#include "service/program_settings/setting_types.h"

#include <gtest/gtest.h>

#include <climits>

#include "service/common/exception.h"

namespace ZORVIK {
namespace {

TEST(IntTypeInfo, RangedAcceptsDigitsWithinTheRange) {
    const IntTypeInfo logLevel(1, 8);
    EXPECT_EQ(logLevel.TypeName(), "1..8");
    for (const char* valid : {"1", "8", "5", "08", "0001"}) EXPECT_TRUE(logLevel.IsValid(valid)) << valid;
    for (const char* invalid : {"0", "9", "", "-1", "+5", " 5", "5 ", "5x", "0x5", "99999999999999999999"}) {
        EXPECT_FALSE(logLevel.IsValid(invalid)) << invalid;
    }
    const IntTypeInfo verbose(0, 2);
    EXPECT_EQ(verbose.TypeName(), "0..2");
    EXPECT_TRUE(verbose.IsValid(""));  // the empty text counts as 0
    EXPECT_TRUE(verbose.IsValid("02"));
}

TEST(IntTypeInfo, RangeEndsAtTheLimitsOfInt32) {
    const IntTypeInfo wide(0, INT32_MAX);
    EXPECT_TRUE(wide.IsValid("2147483647"));
    EXPECT_FALSE(wide.IsValid("2147483648"));
    EXPECT_FALSE(wide.IsValid("4294967296"));  // not wrapped round to 0
    EXPECT_EQ(IntTypeInfo(-5, -1).TypeName(), "-5..-1");
}

TEST(IntTypeInfo, UnrangedAcceptsAnyDigits) {
    const IntTypeInfo any;
    EXPECT_EQ(any.TypeName(), "int");
    EXPECT_TRUE(any.IsValid("123456789012345678901234567890"));
    EXPECT_TRUE(any.IsValid(""));
    EXPECT_FALSE(any.IsValid("-1"));
}

TEST(BoolTypeInfo, AcceptsTheBoolWordsInAnyCase) {
    const BoolTypeInfo type;
    EXPECT_EQ(type.TypeName(), "bool");
    for (const char* valid : {"", "on", "Yes", "1", "TRUE", "off", "No", "0", "fAlSe"}) {
        EXPECT_TRUE(type.IsValid(valid)) << valid;
    }
    for (const char* invalid : {"y", "n", " on", "on ", "2", "\"on\"", "enable"}) {
        EXPECT_FALSE(type.IsValid(invalid)) << invalid;
    }
}

TEST(StringTypeInfo, AcceptsAnythingAndShowsItsSyntaxText) {
    EXPECT_EQ(StringTypeInfo().TypeName(), "string");
    const StringTypeInfo reader("#?|#PCSC|#OSM|#DERIMDIRECT|#SIM|<pcsc name>");
    EXPECT_EQ(reader.TypeName(), "#?|#PCSC|#OSM|#DERIMDIRECT|#SIM|<pcsc name>");
    EXPECT_TRUE(reader.IsValid(""));
    EXPECT_TRUE(reader.IsValid("ACS ACR38U 00 00"));
}

TEST(EnumTypeInfo, ComparesExactlyAndJoinsValuesWithBars) {
    const EnumTypeInfo format({"skarna", "gp", "jcshell", "goznak", "ruzo", "none"});
    EXPECT_EQ(format.TypeName(), "skarna|gp|jcshell|goznak|ruzo|none");
    EXPECT_TRUE(format.IsValid("gp"));
    EXPECT_TRUE(format.IsValid("none"));
    for (const char* invalid : {"GP", "gp ", "", "skarna|gp"}) EXPECT_FALSE(format.IsValid(invalid)) << invalid;
    EXPECT_EQ(EnumTypeInfo({"", "x"}).TypeName(), "|x");
}

TEST(EnumTypeInfo, NeedsAtLeastOneValue) {
    EXPECT_EQ(test::MessageOf([] { EnumTypeInfo empty({}); }),
              "для перечисления должно быть задано хотя бы одно возможное значение");
}

TEST(BinaryTypeInfo, FixedLengthTakesExactlyThatManyBytes) {
    const BinaryTypeInfo seed(4);
    EXPECT_EQ(seed.TypeName(), "bin (4 bytes)");
    EXPECT_TRUE(seed.IsValid("0A0B0C0D"));
    EXPECT_TRUE(seed.IsValid("0a 0b\t0c 0d"));
    for (const char* invalid : {"0A0B0C", "0A0B0C0D0E", "0A0B0C0", "0A0B0C0G", "", "0x0A0B0C"}) {
        EXPECT_FALSE(seed.IsValid(invalid)) << invalid;
    }
}

TEST(BinaryTypeInfo, UnrangedAndRangedNames) {
    const BinaryTypeInfo any;
    EXPECT_EQ(any.TypeName(), "bin");
    EXPECT_TRUE(any.IsValid(""));
    EXPECT_TRUE(any.IsValid("A0 00 00 01 51"));
    EXPECT_FALSE(any.IsValid("A"));
    const BinaryTypeInfo aid(5, 16);
    EXPECT_EQ(aid.TypeName(), "bin(5-16 bytes)");
    EXPECT_TRUE(aid.IsValid("A0 00 00 01 51"));
    EXPECT_FALSE(aid.IsValid("A0 00 00 01"));
}

}  // namespace
}  // namespace ZORVIK
