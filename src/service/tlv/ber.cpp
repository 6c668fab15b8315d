#include "service/tlv/ber.h"

#include "service/common/exception.h"

namespace ZORVIK {

namespace {

constexpr uint8_t MultiByteTagMark = 0x1F;  // ISO/IEC 8825-1, 8.1.2.4: bits 5..1 all set
constexpr uint8_t MoreTagBytes = 0x80;      // bit 8 of a subsequent tag byte
constexpr uint32_t MaxTagLength = 3;

}  // namespace

void ThrowTLVError(const char* message, const char* function) {
    throw TLVException(message, 0, ZORVIK_PLACE(function));
}

uint32_t TagSize(uint32_t tag) {
    if (tag < 0x100) return 1;
    if (tag < 0x10000) return 2;
    if (tag < 0x1000000) return 3;
    return 4;
}

uint32_t LengthFieldSize(uint32_t length) {
    if (length < 0x80) return 1;
    if (length < 0x100) return 2;
    if (length < 0x10000) return 3;
    if (length <= 0xFFFFFF) return 4;
    return 5;
}

bool IsConstructedTag(uint32_t tag) {
    if (tag < 0x100) return (tag & 0x20) != 0;
    if (tag < 0x10000) return (tag & 0x2000) != 0;
    if (tag < 0x1000000) return (tag & 0x200000) != 0;
    return (tag & 0x20000000) != 0;
}

void GetT(const uint8_t*& position, uint32_t& remaining, uint32_t& tag, uint32_t& tagLength) {
    constexpr const char* Where = "ZORVIK::GetT";
    if (position == nullptr || remaining == 0) ThrowTLVError("Empty tag", Where);
    const uint8_t* b = position;
    if (b[0] == 0x00) ThrowTLVError("1st tag byte == 0x00", Where);
    if ((b[0] & MultiByteTagMark) != MultiByteTagMark) {
        tag = b[0];
        tagLength = 1;
    } else {
        if (remaining < 2) ThrowTLVError("Multibyte tag len < 2", Where);
        // Subsequent bytes with bit 8 set continue the tag; the first without it ends it.
        uint32_t length = 1;
        for (uint32_t i = 1; i < remaining && (b[i] & MoreTagBytes) && length <= MaxTagLength; ++i) ++length;
        ++length;
        if (length > MaxTagLength) ThrowTLVError("Tag len > 3", Where);
        if ((b[1] & 0x7F) == 0) ThrowTLVError("Bits 1..7 of 2nd tag byte are all 0", Where);
        if (b[1] == 0x00 || b[1] == 0x1E || b[1] == 0x80)
            ThrowTLVError("2nd byte of multibyte tag is 0x00 or 0x1E or 0x80", Where);
        if (length == 2) {
            if (b[1] & MoreTagBytes) ThrowTLVError("For two-byte tag, bit 8 of second byte must be 0", Where);
            tag = uint32_t{b[0]} << 8 | b[1];
        } else {
            if (remaining < 3) ThrowTLVError("3-byte tag len < 3", Where);
            if (!(b[1] & MoreTagBytes)) ThrowTLVError("For three-byte tag, bit 8 of second byte must be 1", Where);
            if (b[1] < 0x81) ThrowTLVError("For three-byte tag, second byte must be <= 0xFF and >= 0x81", Where);
            if (b[2] & MoreTagBytes) ThrowTLVError("For three-byte tag, bit 8 of third byte must be 0", Where);
            if (b[2] > 0x7F) ThrowTLVError("For three-byte tag, third  byte must be <= 0x7F and >= 0x00", Where);
            const uint32_t number = (b[1] & 0x7Fu) * 128 + b[2];
            if (number < 128 || number > 16383) {
                ThrowTLVError("For three-byte tag, tag number must be GE 128 and LE 16383", Where);
            }
            tag = uint32_t{b[0]} << 16 | uint32_t{b[1]} << 8 | b[2];
        }
        tagLength = length;
    }
    if (tagLength > remaining) ThrowTLVError("Invalid record", Where);
    position += tagLength;
    remaining -= tagLength;
}

uint32_t GetTL(const uint8_t* position, uint32_t size, uint32_t& tag, uint32_t& valueLength) {
    constexpr const char* Where = "ZORVIK::GetTL";
    const uint8_t* cursor = position;
    uint32_t remaining = size;
    uint32_t tagLength = 0;
    GetT(cursor, remaining, tag, tagLength);
    if (remaining == 0) ThrowTLVError("Invalid record", Where);
    const uint8_t first = cursor[0];
    uint32_t fieldSize = 0;
    if (first < 0x80) {
        fieldSize = 1;
    } else if (first >= 0x81 && first <= 0x84) {
        // ISO/IEC 8825-1, 8.1.3.5: long form, 81..84 announce 1..4 length bytes.
        fieldSize = 1 + (first & 0x0Fu);
    } else {
        // 80 is the indefinite form, which ISO/IEC 7816-4 does not allow.
        ThrowTLVError("Invalid Len", Where);
    }
    if (tagLength + fieldSize > size) ThrowTLVError("rec size < (tag size + len size)", Where);
    if (fieldSize == 1) {
        valueLength = first;
    } else {
        valueLength = 0;
        for (uint32_t i = 1; i < fieldSize; ++i) valueLength = valueLength << 8 | cursor[i];
    }
    return tagLength + fieldSize;
}

void AppendTag(binary::Binary& target, uint32_t tag) {
    // Byte by byte: a tree is encoded one tag at a time, and each must not cost an allocation.
    for (uint32_t i = TagSize(tag); i > 0; --i) target.push_back(static_cast<uint8_t>(tag >> (8 * (i - 1))));
}

void AppendLength(binary::Binary& target, uint32_t length) {
    const uint32_t fieldSize = LengthFieldSize(length);
    const uint32_t byteCount = fieldSize == 1 ? 1 : fieldSize - 1;
    if (fieldSize > 1) target.push_back(static_cast<uint8_t>(0x80 + byteCount));
    for (uint32_t i = byteCount; i > 0; --i) target.push_back(static_cast<uint8_t>(length >> (8 * (i - 1))));
}

void AppendTLV(binary::Binary& target, uint32_t tag, const binary::Binary& value) {
    binary::ReserveAtLeast(target, target.size() + 4 + 5 + value.size());
    AppendTag(target, tag);
    AppendLength(target, static_cast<uint32_t>(value.size()));
    target += value;
}

void AppendTLVByte(binary::Binary& target, uint32_t tag, uint8_t byte) {
    AppendTag(target, tag);
    target.push_back(0x01);
    target.push_back(byte);
}

binary::Binary MakeTLV(uint32_t tag, const binary::Binary& value) {
    binary::Binary target;
    AppendTLV(target, tag, value);
    return target;
}

}  // namespace ZORVIK
