// The byte string passed around the whole toolkit: command and response data,
// keys, TLV values, EEPROM images. A std::vector of bytes with hex-text
// construction and printing, slicing, big-endian numbers, random fill and file load.
#pragma once

#include <cstdint>
#include <functional>
#include <iosfwd>
#include <random>
#include <string>
#include <vector>

namespace ZORVIK {

// The one process-wide minimal-standard engine: x := x * 48271 mod 0x7FFFFFFF,
// state 1 until seeded.
using RandomEngine = std::minstd_rand;
RandomEngine& GetRandomEngine();

namespace binary {

class Binary : public std::vector<uint8_t> {
public:
    using std::vector<uint8_t>::vector;
    Binary() = default;
    Binary(const std::vector<uint8_t>& bytes) : std::vector<uint8_t>(bytes) {}
    Binary(std::vector<uint8_t>&& bytes) : std::vector<uint8_t>(std::move(bytes)) {}
    // Hex text, white space ignored between and inside byte pairs. A zero byte
    // inside a std::string is an invalid character, never a silent end of text.
    Binary(const char* hexText);
    Binary(const std::string& hexText);

    // Parses hex text and appends the bytes (used on an empty byte string).
    void Init(const char* hexText);
    // Parses exactly length characters.
    void Init(const char* hexText, size_t length);

    Binary& operator+=(const Binary& other);
    Binary& operator+=(uint8_t byte);
};

// Room for size bytes in all. When the storage must grow it at least doubles,
// so that a run of appends, each making room for what it adds, stays linear
// (a vector's own reserve takes exactly what is asked).
inline void ReserveAtLeast(Binary& data, size_t size) {
    if (size > data.capacity()) data.reserve(size > 2 * data.capacity() ? size : 2 * data.capacity());
}

// The upper-case digits of every hex text the toolkit writes.
inline constexpr char HexDigits[] = "0123456789ABCDEF";

std::string ToHex(const Binary& data, uint32_t spaceEvery = 1, uint32_t doubleSpaceEvery = 0,
                  uint32_t newlineEvery = 0);

// Reads the rest of the stream as hex text into the target.
std::istream& operator>>(std::istream& in, Binary& target);

Binary Slice(const Binary& data, uint32_t offset, uint32_t length);
Binary Back(const Binary& data, uint32_t count);
Binary operator+(const Binary& a, const Binary& b);
bool operator==(const Binary& a, const Binary& b);
bool operator!=(const Binary& a, const Binary& b);

// Big-endian value of at most sizeof(T) bytes; shorter input reads as zero-padded.
template <class T>
T NumCast(const Binary& data);
extern template uint16_t NumCast<uint16_t>(const Binary&);
extern template uint32_t NumCast<uint32_t>(const Binary&);

// Big-endian bytes of value in the fewest bytes (at least one), zero-padded in
// front to minLength; never cut.
Binary NumToBinary(uint64_t value, uint8_t minLength);

Binary RandomBinary(uint32_t count);
void FillRandom(uint32_t count, Binary& target);

// Reads a whole regular file (an empty one leaves target unchanged). checkSize,
// when given, sees the size before any byte is read and may throw to refuse it.
void LoadBinaryFile(const std::string& path, Binary& target,
                    const std::function<void(uint64_t size)>& checkSize = nullptr);
Binary LoadBinaryFile(const std::string& path);

}  // namespace binary
}  // namespace ZORVIK
