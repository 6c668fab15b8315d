// Byte reversal for the crypto library: the reversed (least significant byte
// first) conventions of GOST users and the byte-reversed key, signature and
// hash formats all go through these helpers.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "service/common/binary.h"

namespace ZORVIK::cryptlib {

// data with its bytes in reverse order.
inline binary::Binary Reversed(const binary::Binary& data) { return binary::Binary(data.rbegin(), data.rend()); }

// Reverses data in place as a whole.
inline void Reverse(uint8_t* data, size_t length) { std::reverse(data, data + length); }

inline void Reverse(binary::Binary& data) { Reverse(data.data(), data.size()); }

// Reverses each unit-byte piece of data in place (8: blocks, 4: words); a
// shorter piece at the end is reversed on its own.
inline void ReverseEach(uint8_t* data, size_t length, size_t unit) {
    size_t at = 0;
    if (unit == 8) {
        for (; length - at >= 8; at += 8) {
            uint64_t block;
            std::memcpy(&block, data + at, 8);
            block = __builtin_bswap64(block);
            std::memcpy(data + at, &block, 8);
        }
    }
    for (; at < length; at += unit) Reverse(data + at, std::min(unit, length - at));
}

// Reverses each half of data in place; the halves have data.size() / 2 bytes.
inline void ReverseHalves(binary::Binary& data) {
    const size_t half = data.size() / 2;
    Reverse(data.data(), half);
    Reverse(data.data() + half, half);
}

}  // namespace ZORVIK::cryptlib
