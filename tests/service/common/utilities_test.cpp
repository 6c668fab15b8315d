#include "service/common/utilities.h"

#include <gtest/gtest.h>

#include "service/common/exception.h"
#include "service/common/printf.h"
#include "support/error_text.h"

namespace ZORVIK {
namespace {

using Items = std::vector<std::string>;

TEST(Split, SeparatorsQuotesAndTrimming) {
    const struct {
        const char* text;
        bool trim, quotes, skipEmpty;
        Items items;
    } cases[] = {
        {"a,,b,", false, false, false, {"a", "", "b"}},  // a trailing separator ends the last item
        {",a,,\"b,c", false, true, true, {"a", "b,c"}},  // an unclosed quote runs to the end
        {"x,\"y,z\"", false, false, false, {"x", "\"y", "z\""}},
        // Emptiness is judged before trimming: a blank item survives skipEmpty as "".
        {" a , ,b", true, false, true, {"a", "", "b"}},
    };
    for (const auto& c : cases) {
        Items items{"stale"};
        Split(c.text, items, ',', c.trim, c.quotes, c.skipEmpty);
        EXPECT_EQ(items, c.items) << c.text;
    }
    EXPECT_EQ(Trim("\r\n\t a b \n"), "a b");
    EXPECT_EQ(Trim("\va\v"), "\va\v");  // only blank, tab, line feed and return
}

TEST(Text, CaseOfAsciiAndCyrillicInUtf8AndOldCodePages) {
    EXPECT_EQ(ToLower("Log_Level ПУТЬ Ёж ÄÖ"), "log_level путь ёж ÄÖ");  // other scripts pass unchanged
    EXPECT_EQ(ToUpper("яблоко ё z"), "ЯБЛОКО Ё Z");
    EXPECT_EQ(ToLower("\xD0\x41\xD1"), "\xD0\x61\xD1");  // malformed bytes pass unchanged
    EXPECT_EQ(ToUpper("\xFF\xFE"), "\xFF\xFE");
    EXPECT_EQ(Cp1251ToWide("\xCF\xF0\xE8\xE2\xE5\xF2 \xA8\xB8\xB9\x88") + Utf8ToWide("Ёж\xC0"), L"Привет Ёё№€Ёж\xFFFD");
    EXPECT_EQ(SafePrintf("%02X-%s", 10, std::string(5000, 'x').c_str()), "0A-" + std::string(5000, 'x'));
    const char* nullFormat = nullptr;
    EXPECT_EQ(test::MessageOf([&] { SafePrintf(nullFormat); }), "Некорректный формат вывода в строку!");
}

TEST(Numbers, BinaryTextAndBitConversions) {
    EXPECT_EQ(Bin_UNum16(binary::Binary("1234")), 0x1234);
    EXPECT_THROW(Bin_UNum16(binary::Binary("123456")), Exception);
    EXPECT_EQ(Bin_UNum32(binary::Binary()), 0u);
    EXPECT_EQ(SwapBytes16(0x1234), 0x3412);
    EXPECT_EQ(NumToHex(0x1234, 4, 1), "00 00 12 34");
    EXPECT_EQ(NumToStr(0xFFFFFFFFFFFFFFFFull, 2), std::string(64, '1'));
    EXPECT_EQ(NumToStr(35, 36), "z");
    EXPECT_EQ(NumToStr(1, 1), "");
    EXPECT_EQ(IntToStr(INT64_MIN, 10), "-9223372036854775808");
    EXPECT_EQ(StrToInt("  -42abc"), -42);
    EXPECT_EQ(StrToInt("x1"), 0);
    EXPECT_EQ(StrToInt("99999999999999999999"), INT32_MAX);  // saturates
    // Bits are numbered 1 (lowest) to 8; others are ignored.
    uint8_t bits = 0x80;
    for (int bit : {3, 0, 9}) SetBit(bits, bit);
    ClearBit(bits, 8);
    EXPECT_EQ(bits, 0x04);
    EXPECT_TRUE(GetBit(bits, 3));
    EXPECT_FALSE(GetBit(0xFF, 9));
}

}  // namespace
}  // namespace ZORVIK
