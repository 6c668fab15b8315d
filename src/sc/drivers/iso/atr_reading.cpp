#include "sc/drivers/iso/atr_reading.h"

#include "sc/exchange/reader.h"
#include "service/common/exception.h"

namespace ZORVIK {

namespace {
// ISO/IEC 7816-3, 8.2.1: TS and at most 32 further characters.
constexpr size_t MaxAtrLength = 33;

[[noreturn]] void FormatError() {
    throw CardDrvException("Ошибка в формате ATR", CardDrvError::General, ZORVIK_PLACE("ZORVIK::ReadAtrCharacters"));
}
}  // namespace

bool ReadAtrCharacters(const std::function<bool(uint8_t&)>& next, binary::Binary& atr) {
    atr.clear();
    auto take = [&](uint8_t& byte) {
        if (atr.size() >= MaxAtrLength) FormatError();
        if (!next(byte)) return false;
        atr.push_back(byte);
        return true;
    };
    uint8_t ts = 0;
    if (!take(ts)) return false;
    if (ts != 0x3B && ts != 0x3F) FormatError();
    uint8_t format = 0;
    if (!take(format)) return false;
    const uint32_t historicalCount = format & 0x0F;
    bool tckRequired = false;
    uint8_t indicator = format;
    for (;;) {
        uint8_t byte = 0;
        // TA, TB, TC by bits 5, 6, 7 of the indicator.
        for (uint8_t bit = 0x10; bit <= 0x40; bit <<= 1) {
            if ((indicator & bit) != 0 && !take(byte)) return false;
        }
        if ((indicator & 0x80) == 0) break;
        if (!take(indicator)) return false;
        // ISO/IEC 7816-3, 8.2.5: TCK is present when any protocol but T=0 is indicated.
        if ((indicator & 0x0F) != 0) tckRequired = true;
    }
    for (uint32_t i = 0; i < historicalCount + (tckRequired ? 1 : 0); ++i) {
        uint8_t byte = 0;
        if (!take(byte)) return false;
    }
    return true;
}

}  // namespace ZORVIK
