// Small text, number and bit helpers shared by the whole toolkit.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "service/common/binary.h"

namespace ZORVIK {

// Splits text at separator. A separator inside double quotes stays in the item
// when honourQuotes is set (the quotes themselves are dropped). A trailing
// separator never yields a last empty item; leading or doubled ones do unless
// skipEmpty is set.
void Split(const std::string& text, std::vector<std::string>& items, char separator, bool trimItems, bool honourQuotes,
           bool skipEmpty);

// Without leading and trailing blanks, tabs, line feeds and carriage returns.
std::string Trim(const std::string& text);

// Each control byte (below 0x20 but line feed and tab, and 0x7F) as \xHH, and
// each C1 control U+0080..U+009F in its UTF-8 form as its two bytes so
// (\xC2\x9B), so that a zero byte cannot end the text where it is printed as a
// C string and bytes from a card or a peer cannot act on the terminal that
// shows them. Other UTF-8 (Cyrillic) and bytes that are not UTF-8 (Windows-1251
// text, a lone C2) pass as they are. Escaped text escapes to itself.
std::string EscapeControlBytes(std::string text);

// Case change of ASCII letters and of the Russian Cyrillic letters (А-Я, Ё,
// а-я, ё) in UTF-8 text; every other byte, malformed UTF-8 included, passes as is.
std::string ToLower(const std::string& text);
std::string ToUpper(const std::string& text);

// Windows code page 1251 to wide characters.
std::wstring Cp1251ToWide(const std::string& text);
// UTF-8 to wide characters; a malformed sequence gives U+FFFD per byte.
std::wstring Utf8ToWide(const std::string& text);

std::string Bin_ToHex(const binary::Binary& data, uint32_t spaceEvery = 1, uint32_t doubleSpaceEvery = 0,
                      uint32_t newlineEvery = 0);
uint16_t Bin_UNum16(const binary::Binary& data);
uint32_t Bin_UNum32(const binary::Binary& data);
std::string NumToHex(uint64_t value, uint32_t minLength = 1, uint32_t spaceEvery = 0, uint32_t doubleSpaceEvery = 0,
                     uint32_t newlineEvery = 0);
// Text of the value in radix 2..36 (lower-case letters); empty for a bad radix.
std::string NumToStr(uint64_t value, int radix = 10);
// Signed form; a minus sign only in radix 10.
std::string IntToStr(int64_t value, int radix = 10);
// atol rules: leading white space, optional sign, decimal digits; 0 when none.
int StrToInt(const std::string& text);
uint16_t SwapBytes16(uint16_t value);

// Bits are numbered 1 (least significant) to 8; other numbers read as clear and change nothing.
bool GetBit(uint8_t byte, int n);
void SetBit(uint8_t& byte, int n);
void ClearBit(uint8_t& byte, int n);

}  // namespace ZORVIK
