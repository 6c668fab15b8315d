// Reading an answer to reset character by character from a reader that moves
// the card's bytes itself (serial-port reader, hardware-model link).
#pragma once

#include <cstdint>
#include <functional>

#include "service/common/binary.h"

namespace ZORVIK {

// Reads TS, T0, the interface characters announced by the Y nibbles, the
// historical bytes and, when a TD names a protocol other than T=0, TCK
// (ISO/IEC 7816-3, 8.2). Returns false when a character does not come; throws
// "Ошибка в формате ATR" (code 0) for a TS other than 3B or 3F, or for more
// characters than an answer to reset may have.
bool ReadAtrCharacters(const std::function<bool(uint8_t&)>& next, binary::Binary& atr);

}  // namespace ZORVIK
