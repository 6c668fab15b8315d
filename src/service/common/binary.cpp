#include "service/common/binary.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <istream>
#include <iterator>
#include <memory>
#include <stdexcept>

#include "service/common/exception.h"
#include "service/common/filesystem.h"

namespace ZORVIK {

RandomEngine& GetRandomEngine() {
    static RandomEngine engine(1);
    return engine;
}

namespace binary {

namespace {

// Nibble value of a hex digit, -1 for white space, -2 for anything else.
struct HexTable {
    int8_t value[256];
    constexpr HexTable() : value() {
        for (int i = 0; i < 256; ++i) value[i] = -2;
        for (int i = 0; i < 10; ++i) value['0' + i] = static_cast<int8_t>(i);
        for (int i = 0; i < 6; ++i) {
            value['A' + i] = static_cast<int8_t>(10 + i);
            value['a' + i] = static_cast<int8_t>(10 + i);
        }
        for (char c : {' ', '\t', '\n', '\v', '\f', '\r'}) value[static_cast<uint8_t>(c)] = -1;
    }
};
constexpr HexTable kHex;

}  // namespace

Binary::Binary(const char* hexText) { Init(hexText); }

Binary::Binary(const std::string& hexText) { Init(hexText.c_str(), hexText.size()); }

void Binary::Init(const char* hexText) {
    if (hexText == nullptr) {
        throw Exception("NULL указатель", ZORVIK_PLACE("ZORVIK::binary::Binary::Init"));
    }
    // A C text ends at its terminating zero.
    Init(hexText, std::char_traits<char>::length(hexText));
}

void Binary::Init(const char* hexText, size_t length) {
    if (hexText == nullptr) {
        throw Exception("NULL указатель", ZORVIK_PLACE("ZORVIK::binary::Binary::Init"));
    }
    // Bytes are written in place into room for the longest possible result and
    // the string is cut to what was parsed; on failure it is left as it was.
    const size_t start = size();
    resize(start + length / 2);
    uint8_t* out = data() + start;
    int high = -1;
    for (size_t i = 0; i < length; ++i) {
        const uint8_t c = static_cast<uint8_t>(hexText[i]);
        const int v = kHex.value[c];
        if (v == -1) continue;
        if (v == -2) {
            resize(start);
            throw Exception("Недопустимый символ в hex-строке", ZORVIK_PLACE("ZORVIK::binary::Binary::Init"));
        }
        if (high < 0) {
            high = v;
        } else {
            *out++ = static_cast<uint8_t>((high << 4) | v);
            high = -1;
        }
    }
    if (high >= 0) {
        resize(start);
        throw Exception("Нечётное количество значащих символов в hex-строке",
                        ZORVIK_PLACE("ZORVIK::binary::Binary::Init"));
    }
    resize(static_cast<size_t>(out - data()));
}

Binary& Binary::operator+=(const Binary& other) {
    if (this == &other) {
        const Binary copy(other);
        return *this += copy;
    }
    // insert grows the storage geometrically; reserving the exact size here made
    // a run of appends copy the whole string each time.
    insert(end(), other.begin(), other.end());
    return *this;
}

Binary& Binary::operator+=(uint8_t byte) {
    push_back(byte);  // byte is a copy, so reading it from *this is safe
    return *this;
}

std::string ToHex(const Binary& data, uint32_t spaceEvery, uint32_t doubleSpaceEvery, uint32_t newlineEvery) {
    std::string text;
    if (data.empty()) return text;
    // Room for three characters per byte (the widest separator adds one more
    // now and then); the text is written in place and cut to length at the end.
    text.resize(data.size() * 4);
    char* out = text.data();
    for (size_t i = 0; i < data.size(); ++i) {
        if (i != 0) {
            if (newlineEvery != 0 && i % newlineEvery == 0) {
                *out++ = '\n';
            } else if (doubleSpaceEvery != 0 && i % doubleSpaceEvery == 0) {
                *out++ = ' ';
                *out++ = ' ';
            } else if (spaceEvery != 0 && i % spaceEvery == 0) {
                *out++ = ' ';
            }
        }
        *out++ = HexDigits[data[i] >> 4];
        *out++ = HexDigits[data[i] & 0x0F];
    }
    text.resize(static_cast<size_t>(out - text.data()));
    return text;
}

std::istream& operator>>(std::istream& in, Binary& target) {
    const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    in.setstate(std::ios::eofbit);  // the whole rest of the stream was consumed
    Binary parsed(text);
    target = std::move(parsed);
    return in;
}

Binary Slice(const Binary& data, uint32_t offset, uint32_t length) {
    if (static_cast<uint64_t>(offset) + length > data.size()) {
        throw Exception("Выход за границы массива", ZORVIK_PLACE("ZORVIK::binary::Slice"));
    }
    return Binary(data.begin() + offset, data.begin() + offset + length);
}

Binary Back(const Binary& data, uint32_t count) {
    if (count > data.size()) {
        throw Exception("Выход за границы массива", ZORVIK_PLACE("ZORVIK::binary::Back"));
    }
    return Binary(data.end() - count, data.end());
}

Binary operator+(const Binary& a, const Binary& b) {
    Binary result;
    result.reserve(a.size() + b.size());
    result.insert(result.end(), a.begin(), a.end());
    result.insert(result.end(), b.begin(), b.end());
    return result;
}

bool operator==(const Binary& a, const Binary& b) {
    return static_cast<const std::vector<uint8_t>&>(a) == static_cast<const std::vector<uint8_t>&>(b);
}

bool operator!=(const Binary& a, const Binary& b) { return !(a == b); }

template <class T>
T NumCast(const Binary& data) {
    if (data.size() > sizeof(T)) {
        throw Exception("Размер массива не должен быть больше размера типа числа",
                        ZORVIK_PLACE("ZORVIK::binary::NumCast"));
    }
    T value = 0;
    for (uint8_t b : data) value = static_cast<T>((value << 8) | b);
    return value;
}
template uint16_t NumCast<uint16_t>(const Binary&);
template uint32_t NumCast<uint32_t>(const Binary&);

Binary NumToBinary(uint64_t value, uint8_t minLength) {
    size_t length = 1;
    while (length < 8 && (value >> (8 * length)) != 0) ++length;
    if (length < minLength) length = minLength;
    Binary result(length, 0);
    for (size_t i = 0; i < length && i < 8; ++i) {
        result[length - 1 - i] = static_cast<uint8_t>(value >> (8 * i));
    }
    return result;
}

void FillRandom(uint32_t count, Binary& target) {
    target.clear();
    target.reserve(count);
    RandomEngine& engine = GetRandomEngine();
    for (uint32_t i = 0; i < count; ++i) target.push_back(static_cast<uint8_t>(engine()));
}

Binary RandomBinary(uint32_t count) {
    Binary result;
    FillRandom(count, result);
    return result;
}

void LoadBinaryFile(const std::string& path, Binary& target, const std::function<void(uint64_t size)>& checkSize) {
    const SourcePlace place = ZORVIK_PLACE("ZORVIK::binary::LoadBinaryFile");
    const filesystem::InputFile file = filesystem::OpenInputFile(path);
    if (!file.stream) throw Exception(path + " : fopen error: " + file.reason, place);
    if (checkSize) checkSize(file.size);
    if (file.size == 0) return;
    Binary buffer;
    try {
        buffer.resize(static_cast<size_t>(file.size));
    } catch (const std::bad_alloc&) {
        throw Exception("not enough memory", place);
    } catch (const std::length_error&) {
        throw Exception("not enough memory", place);
    }
    const size_t got = std::fread(buffer.data(), 1, buffer.size(), file.stream.get());
    if (got != buffer.size() && std::ferror(file.stream.get())) {
        throw Exception(path + " : read error: " + std::strerror(errno), place);
    }
    buffer.resize(got);
    target = std::move(buffer);
}

Binary LoadBinaryFile(const std::string& path) {
    Binary result;
    LoadBinaryFile(path, result);
    return result;
}

}  // namespace binary
}  // namespace ZORVIK
