// The choice of the transmission protocol after an answer to reset, with the
// PPS exchange of ISO/IEC 7816-3, clause 9 when the card must be told.
#pragma once

#include <cstdint>
#include <functional>
#include <vector>

#include "service/common/binary.h"

namespace ZORVIK {

class ATR;
class iLog;

// Takes the first of protocols that the card offers ("Поддерживаемые протоколы
// карты не пересекаются с поддерживаемыми протоколами ридера" when none). When
// it is not the card's first offered protocol at the default rates and the card
// takes a PPS, the request goes out through send and the
// card's answer, read with next, must repeat it: "Невозможно провести PPS : нет
// ответа от карты" or "... : запрос не совпадает с ответом" (code 0). traceLog,
// when not null, gets both at level 3.
uint32_t ChooseProtocol(ATR& atr, const std::vector<uint32_t>& protocols,
                        const std::function<void(const binary::Binary&)>& send,
                        const std::function<bool(uint8_t&)>& next, iLog* traceLog);

}  // namespace ZORVIK
