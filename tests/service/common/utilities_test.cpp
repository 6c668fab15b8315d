#include "service/common/utilities.h"
#include "support/error_text.h"

#include <gtest/gtest.h>

#include "service/common/exception.h"
#include "service/common/printf.h"

namespace ZORVIK {
namespace {

std::vector<std::string> SplitOf(const std::string& text, bool trim, bool quotes, bool skipEmpty) {
    std::vector<std::string> items{"stale"};
    Split(text, items, ',', trim, quotes, skipEmpty);
    return items;
}

using Items = std::vector<std::string>;

TEST(Split, EmptyAndTrailingSeparators) {
    EXPECT_EQ(SplitOf("", false, false, false), Items{});
    EXPECT_EQ(SplitOf("a", false, false, false), Items{"a"});
    EXPECT_EQ(SplitOf("a,b,", false, false, false), (Items{"a", "b"}));
    EXPECT_EQ(SplitOf(",a", false, false, false), (Items{"", "a"}));
    EXPECT_EQ(SplitOf(",a", false, false, true), Items{"a"});
    EXPECT_EQ(SplitOf("a,,b", false, false, false), (Items{"a", "", "b"}));
    EXPECT_EQ(SplitOf("a,,b", false, false, true), (Items{"a", "b"}));
}

TEST(Split, QuotesAndTrimming) {
    EXPECT_EQ(SplitOf("x,\"y,z\"", false, true, false), (Items{"x", "y,z"}));
    EXPECT_EQ(SplitOf("x,\"y,z", false, true, false), (Items{"x", "y,z"}));  // unclosed quote
    EXPECT_EQ(SplitOf("x,\"y,z\"", false, false, false), (Items{"x", "\"y", "z\""}));
    // Emptiness is judged before trimming: a blank item survives skipEmpty as "".
    EXPECT_EQ(SplitOf(" a , ,b", true, false, true), (Items{"a", "", "b"}));
}

TEST(Trim, OnlyBlankTabLineFeedAndReturn) {
    EXPECT_EQ(Trim("  \t"), "");
    EXPECT_EQ(Trim(" a b "), "a b");
    EXPECT_EQ(Trim("\va\v"), "\va\v");
    EXPECT_EQ(Trim("\r\nx\n"), "x");
}

TEST(CaseChange, AsciiAndCyrillicInUtf8) {
    EXPECT_EQ(ToLower("Log_Level"), "log_level");
    EXPECT_EQ(ToLower("ПУТЬ Ёж"), "путь ёж");
    EXPECT_EQ(ToUpper("яблоко ё z"), "ЯБЛОКО Ё Z");
    EXPECT_EQ(ToLower("ÄÖ"), "ÄÖ");  // other scripts pass unchanged
    const std::string malformed = "\xD0\x41\xD1";
    EXPECT_EQ(ToLower(malformed),
              "\xD0"
              "a\xD1");
    EXPECT_EQ(ToUpper("\xFF\xFE"), "\xFF\xFE");
}

TEST(CodePages, Cp1251AndUtf8Decoding) {
    EXPECT_EQ(Cp1251ToWide("\xCF\xF0\xE8\xE2\xE5\xF2"), L"Привет");
    EXPECT_EQ(Cp1251ToWide("\xA8\xB8\xB9\x88"), L"Ёё№€");
    EXPECT_EQ(Utf8ToWide("Ёж"), L"Ёж");
    EXPECT_EQ(Utf8ToWide("a\xC0"), std::wstring(L"a\xFFFD"));
}

TEST(Numbers, BinaryAndTextConversions) {
    EXPECT_EQ(Bin_UNum16(binary::Binary("1234")), 0x1234);
    EXPECT_THROW(Bin_UNum16(binary::Binary("123456")), Exception);
    EXPECT_EQ(Bin_UNum32(binary::Binary()), 0u);
    EXPECT_EQ(NumToHex(0x1234, 4, 1), "00 00 12 34");
    EXPECT_EQ(NumToHex(0x123456, 2), "123456");
    EXPECT_EQ(NumToStr(255, 16), "ff");
    EXPECT_EQ(NumToStr(0xFFFFFFFFFFFFFFFFull, 2), std::string(64, '1'));
    EXPECT_EQ(NumToStr(35, 36), "z");
    EXPECT_EQ(NumToStr(1, 1), "");
    EXPECT_EQ(IntToStr(-5, 10), "-5");
    EXPECT_EQ(IntToStr(INT64_MIN, 10), "-9223372036854775808");
    EXPECT_EQ(IntToStr(-1, 16), "ffffffffffffffff");
    EXPECT_EQ(StrToInt("  -42abc"), -42);
    EXPECT_EQ(StrToInt("x1"), 0);
    EXPECT_EQ(StrToInt("+7"), 7);
    EXPECT_EQ(StrToInt("99999999999999999999"), INT32_MAX);
    EXPECT_EQ(SwapBytes16(0x1234), 0x3412);
}

TEST(Bits, NumberedOneToEight) {
    EXPECT_TRUE(GetBit(0x80, 8));
    EXPECT_TRUE(GetBit(0x01, 1));
    EXPECT_FALSE(GetBit(0xFF, 0));
    EXPECT_FALSE(GetBit(0xFF, 9));
    uint8_t b = 0;
    SetBit(b, 3);
    EXPECT_EQ(b, 0x04);
    SetBit(b, 9);
    SetBit(b, 0);
    EXPECT_EQ(b, 0x04);
    ClearBit(b, 3);
    EXPECT_EQ(b, 0x00);
}

TEST(SafePrintf, FormatsAndRefusesNullFormat) {
    EXPECT_EQ(SafePrintf("%02X-%s", 10, "ok"), "0A-ok");
    EXPECT_EQ(SafePrintf("%s", ""), "");
    EXPECT_EQ(SafePrintf("%s", std::string(5000, 'x').c_str()).size(), 5000u);
    const char* nullFormat = nullptr;
    EXPECT_EQ(test::MessageOf([&] { SafePrintf(nullFormat); }), "Некорректный формат вывода в строку!");
}

}  // namespace
}  // namespace ZORVIK
