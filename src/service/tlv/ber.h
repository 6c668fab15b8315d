// BER-TLV headers on raw bytes (ISO/IEC 7816-4 and ISO/IEC 8825-1 rules for
// tags of up to three bytes and lengths of up to four bytes): reading a tag or
// a tag and length, and appending encoded tags, lengths and whole TLVs.
#pragma once

#include <cstdint>

#include "service/common/binary.h"

namespace ZORVIK {

// Throws the TLV error (TLVException, code 0) of every failure of this module
// and of the TLV trees.
[[noreturn]] void ThrowTLVError(const char* message, const char* function);

// A tag number is the tag's bytes as a big-endian number: 6F, 9F70, 5F8102.
// Constructed when bit 6 (0x20) of its most significant non-zero byte is set.
bool IsConstructedTag(uint32_t tag);

// Sizes of the encoded tag (its fewest bytes, at least one) and of the
// shortest BER length field for length.
uint32_t TagSize(uint32_t tag);
uint32_t LengthFieldSize(uint32_t length);

// Reads one tag at position, advancing position and remaining past it.
void GetT(const uint8_t*& position, uint32_t& remaining, uint32_t& tag, uint32_t& tagLength);

// Reads the tag and the length at position within size bytes; returns the
// header length (tag + length field). The value length is not checked against size.
uint32_t GetTL(const uint8_t* position, uint32_t size, uint32_t& tag, uint32_t& valueLength);

// The tag's fewest big-endian bytes (tag 0 gives 00).
void AppendTag(binary::Binary& target, uint32_t tag);
// The shortest definite BER length: 0..7F, 81 xx, 82 xxxx, 83 xxxxxx, 84 xxxxxxxx.
void AppendLength(binary::Binary& target, uint32_t length);
void AppendTLV(binary::Binary& target, uint32_t tag, const binary::Binary& value);
void AppendTLVByte(binary::Binary& target, uint32_t tag, uint8_t byte);
binary::Binary MakeTLV(uint32_t tag, const binary::Binary& value);

}  // namespace ZORVIK
