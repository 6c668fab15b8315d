#include "service/common/utilities.h"

#include <climits>

namespace ZORVIK {

void Split(const std::string& text, std::vector<std::string>& items, char separator, bool trimItems, bool honourQuotes,
           bool skipEmpty) {
    items.clear();
    if (text.empty()) return;
    std::string current;
    current.reserve(text.size());
    bool inQuotes = false;
    auto emit = [&]() { items.push_back(trimItems ? Trim(current) : current); };
    for (char c : text) {
        if (honourQuotes && c == '"') {
            inQuotes = !inQuotes;
        } else if (c == separator && !inQuotes) {
            if (!skipEmpty || !current.empty()) emit();
            current.clear();
        } else {
            current += c;
        }
    }
    if (!current.empty()) emit();
}

std::string Trim(const std::string& text) {
    static constexpr char kBlanks[] = " \t\n\r";
    const size_t first = text.find_first_not_of(kBlanks);
    if (first == std::string::npos) return std::string();
    const size_t last = text.find_last_not_of(kBlanks);
    return text.substr(first, last - first + 1);
}

namespace {

constexpr uint8_t C1Lead = 0xC2;  // UTF-8 lead byte of U+0080..U+00BF
constexpr uint8_t C1LastTrail = 0x9F;
constexpr uint8_t FirstTrail = 0x80;

// Bytes of the control character at text[at]: 1 for a C0 control (but line
// feed and tab) or DEL, 2 for a C1 control U+0080..U+009F in its UTF-8 form
// (a UTF-8 terminal obeys U+009B like ESC [), 0 for anything else. A lone C2
// or one before another byte is not UTF-8 (Windows-1251 text, say) and stays.
size_t ControlLength(const std::string& text, size_t at) {
    const auto byte = static_cast<uint8_t>(text[at]);
    if ((byte < 0x20 && byte != '\n' && byte != '\t') || byte == 0x7F) return 1;
    if (byte != C1Lead || at + 1 >= text.size()) return 0;
    const auto next = static_cast<uint8_t>(text[at + 1]);
    return next >= FirstTrail && next <= C1LastTrail ? 2 : 0;
}

void AppendEscaped(std::string& out, uint8_t byte) {
    out += "\\x";
    out += binary::HexDigits[byte >> 4];
    out += binary::HexDigits[byte & 0x0F];
}

}  // namespace

std::string EscapeControlBytes(std::string text) {
    size_t at = 0;
    while (at < text.size() && ControlLength(text, at) == 0) ++at;
    if (at == text.size()) return text;
    std::string escaped(text, 0, at);
    escaped.reserve(text.size() + 16);
    while (at < text.size()) {
        const size_t length = ControlLength(text, at);
        if (length == 0) {
            escaped += text[at++];
            continue;
        }
        for (const size_t end = at + length; at < end; ++at) AppendEscaped(escaped, static_cast<uint8_t>(text[at]));
    }
    return escaped;
}

namespace {

// Length of the well-formed UTF-8 sequence at text[i], 0 when malformed.
size_t Utf8SequenceLength(const std::string& text, size_t i, uint32_t& codePoint) {
    const uint8_t lead = static_cast<uint8_t>(text[i]);
    size_t length;
    uint32_t min;
    if (lead < 0x80) {
        codePoint = lead;
        return 1;
    } else if ((lead & 0xE0) == 0xC0) {
        length = 2, codePoint = lead & 0x1F, min = 0x80;
    } else if ((lead & 0xF0) == 0xE0) {
        length = 3, codePoint = lead & 0x0F, min = 0x800;
    } else if ((lead & 0xF8) == 0xF0) {
        length = 4, codePoint = lead & 0x07, min = 0x10000;
    } else {
        return 0;
    }
    if (i + length > text.size()) return 0;
    for (size_t k = 1; k < length; ++k) {
        const uint8_t next = static_cast<uint8_t>(text[i + k]);
        if ((next & 0xC0) != 0x80) return 0;
        codePoint = (codePoint << 6) | (next & 0x3F);
    }
    if (codePoint < min || codePoint > 0x10FFFF || (codePoint >= 0xD800 && codePoint <= 0xDFFF)) return 0;
    return length;
}

void AppendUtf8(std::string& out, uint32_t codePoint) {
    // Only two-byte code points reach here (the Cyrillic block).
    out += static_cast<char>(0xC0 | (codePoint >> 6));
    out += static_cast<char>(0x80 | (codePoint & 0x3F));
}

template <class MapCyrillic, class MapAscii>
std::string ChangeCase(const std::string& text, MapCyrillic mapCyrillic, MapAscii mapAscii) {
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size();) {
        uint32_t codePoint = 0;
        const size_t length = Utf8SequenceLength(text, i, codePoint);
        if (length == 1) {
            out += mapAscii(text[i]);
        } else if (length == 2) {
            AppendUtf8(out, mapCyrillic(codePoint));
        } else if (length > 2) {
            out.append(text, i, length);
        } else {
            out += text[i];
            i += 1;
            continue;
        }
        i += length;
    }
    return out;
}

}  // namespace

std::string ToLower(const std::string& text) {
    return ChangeCase(
        text,
        [](uint32_t c) -> uint32_t {
            if (c >= 0x0410 && c <= 0x042F) return c + 0x20;  // А-Я
            if (c == 0x0401) return 0x0451;                   // Ё
            return c;
        },
        [](char c) -> char { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : c; });
}

std::string ToUpper(const std::string& text) {
    return ChangeCase(
        text,
        [](uint32_t c) -> uint32_t {
            if (c >= 0x0430 && c <= 0x044F) return c - 0x20;  // а-я
            if (c == 0x0451) return 0x0401;                   // ё
            return c;
        },
        [](char c) -> char { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 32) : c; });
}

std::wstring Cp1251ToWide(const std::string& text) {
    // Windows-1251 upper half, 0x80..0xBF; 0xC0..0xFF are А..я in order.
    static constexpr uint16_t kUpperHalf[64] = {
        0x0402, 0x0403, 0x201A, 0x0453, 0x201E, 0x2026, 0x2020, 0x2021, 0x20AC, 0x2030, 0x0409, 0x2039, 0x040A,
        0x040C, 0x040B, 0x040F, 0x0452, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014, 0x0098, 0x2122,
        0x0459, 0x203A, 0x045A, 0x045C, 0x045B, 0x045F, 0x00A0, 0x040E, 0x045E, 0x0408, 0x00A4, 0x0490, 0x00A6,
        0x00A7, 0x0401, 0x00A9, 0x0404, 0x00AB, 0x00AC, 0x00AD, 0x00AE, 0x0407, 0x00B0, 0x00B1, 0x0406, 0x0456,
        0x0491, 0x00B5, 0x00B6, 0x00B7, 0x0451, 0x2116, 0x0454, 0x00BB, 0x0458, 0x0405, 0x0455, 0x0457};
    std::wstring out;
    out.reserve(text.size());
    for (char ch : text) {
        const uint8_t c = static_cast<uint8_t>(ch);
        if (c < 0x80) {
            out += static_cast<wchar_t>(c);
        } else if (c < 0xC0) {
            out += static_cast<wchar_t>(kUpperHalf[c - 0x80]);
        } else {
            out += static_cast<wchar_t>(0x0410 + (c - 0xC0));
        }
    }
    return out;
}

std::wstring Utf8ToWide(const std::string& text) {
    std::wstring out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size();) {
        uint32_t codePoint = 0;
        const size_t length = Utf8SequenceLength(text, i, codePoint);
        if (length == 0) {
            out += static_cast<wchar_t>(0xFFFD);
            i += 1;
        } else {
            out += static_cast<wchar_t>(codePoint);
            i += length;
        }
    }
    return out;
}

std::string Bin_ToHex(const binary::Binary& data, uint32_t spaceEvery, uint32_t doubleSpaceEvery,
                      uint32_t newlineEvery) {
    return binary::ToHex(data, spaceEvery, doubleSpaceEvery, newlineEvery);
}

uint16_t Bin_UNum16(const binary::Binary& data) { return binary::NumCast<uint16_t>(data); }

uint32_t Bin_UNum32(const binary::Binary& data) { return binary::NumCast<uint32_t>(data); }

std::string NumToHex(uint64_t value, uint32_t minLength, uint32_t spaceEvery, uint32_t doubleSpaceEvery,
                     uint32_t newlineEvery) {
    const uint8_t width = static_cast<uint8_t>(minLength > 8 ? 8 : minLength);
    binary::Binary bytes = binary::NumToBinary(value, width);
    if (minLength > bytes.size()) bytes.insert(bytes.begin(), minLength - bytes.size(), 0);
    return binary::ToHex(bytes, spaceEvery, doubleSpaceEvery, newlineEvery);
}

std::string NumToStr(uint64_t value, int radix) {
    if (radix < 2 || radix > 36) return std::string();
    char buffer[64];
    size_t pos = sizeof buffer;
    do {
        const int digit = static_cast<int>(value % static_cast<uint64_t>(radix));
        buffer[--pos] = static_cast<char>(digit < 10 ? '0' + digit : 'a' + digit - 10);
        value /= static_cast<uint64_t>(radix);
    } while (value != 0);
    return std::string(buffer + pos, sizeof buffer - pos);
}

std::string IntToStr(int64_t value, int radix) {
    if (radix < 2 || radix > 36) return std::string();
    if (radix == 10 && value < 0) {
        // Negate in unsigned arithmetic so that INT64_MIN stays defined.
        std::string text(1, '-');
        text += NumToStr(0 - static_cast<uint64_t>(value), 10);
        return text;
    }
    return NumToStr(static_cast<uint64_t>(value), radix);
}

int StrToInt(const std::string& text) {
    size_t i = 0;
    while (i < text.size() && (text[i] == ' ' || (text[i] >= '\t' && text[i] <= '\r'))) ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
    // Accumulate in 64 bits and saturate, so that long digit runs never overflow.
    int64_t value = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
        value = value * 10 + (text[i] - '0');
        if (value > static_cast<int64_t>(INT_MAX) + 1) value = static_cast<int64_t>(INT_MAX) + 1;
    }
    if (negative) value = -value;
    if (value > INT_MAX) value = INT_MAX;
    return static_cast<int>(value);
}

uint16_t SwapBytes16(uint16_t value) { return static_cast<uint16_t>((value << 8) | (value >> 8)); }

bool GetBit(uint8_t byte, int n) { return n >= 1 && n <= 8 && ((byte >> (n - 1)) & 1) != 0; }

void SetBit(uint8_t& byte, int n) {
    if (n >= 1 && n <= 8) byte = static_cast<uint8_t>(byte | (1u << (n - 1)));
}

void ClearBit(uint8_t& byte, int n) {
    if (n >= 1 && n <= 8) byte = static_cast<uint8_t>(byte & ~(1u << (n - 1)));
}

}  // namespace ZORVIK
