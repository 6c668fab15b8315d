#include "sc/drivers/iso/protocol_choice.h"

#include "sc/exchange/atr.h"
#include "sc/exchange/reader.h"
#include "service/common/exception.h"
#include "service/log/log.h"

namespace ZORVIK {

namespace {

constexpr int32_t TraceLevel = 3;
constexpr uint8_t DefaultTa1 = 0x11;
constexpr uint32_t NoProtocol = 4;
constexpr const char* Where = "ZORVIK::ChooseProtocol";

void RunPps(ATR& atr, uint32_t protocol, const std::function<void(const binary::Binary&)>& send,
            const std::function<bool(uint8_t&)>& next, iLog* traceLog) {
    binary::Binary request;
    atr.MakePPS(protocol, request, false);
    if (traceLog != nullptr) {
        LogPrintf(traceLog, TraceLevel, ">>> [PPS len:%d] :  PPSS:%02X PPS0:%02X PPS1:%02X PCK:%02X\n ~~~~~~",
                  static_cast<int>(request.size()), request[0], request[1], request[2], request[3]);
    }
    send(request);
    binary::Binary answer(request.size());
    for (uint8_t& byte : answer) {
        if (!next(byte)) {
            throw CardDrvException("Невозможно провести PPS : нет ответа от карты", CardDrvError::General,
                                   ZORVIK_PLACE(Where));
        }
    }
    if (traceLog != nullptr) {
        LogPrintf(traceLog, TraceLevel, "<<< [PPS, len:%d] :  PPSS:%02X PPS0:%02X PPS1:%02X PCK:%02X\n ~~~~~~",
                  static_cast<int>(answer.size()), answer[0], answer[1], answer[2], answer[3]);
    }
    if (answer != request) {
        throw CardDrvException("Невозможно провести PPS : запрос не совпадает с ответом", CardDrvError::General,
                               ZORVIK_PLACE(Where));
    }
    // ISO/IEC 7816-3, 9.2: the low nibble of PPS0 names the protocol agreed on.
    ZORVIK_CHECK(Where, (answer[1] & 0x0F) == protocol, "PPS вернул некорректный протокол");
}

}  // namespace

uint32_t ChooseProtocol(ATR& atr, const std::vector<uint32_t>& protocols,
                        const std::function<void(const binary::Binary&)>& send,
                        const std::function<bool(uint8_t&)>& next, iLog* traceLog) {
    uint32_t chosen = NoProtocol;
    for (const uint32_t protocol : protocols) {
        if (atr.IsProtocolSupported(protocol)) {
            chosen = protocol;
            break;
        }
    }
    ZORVIK_CHECK(Where, chosen != NoProtocol,
                 "Поддерживаемые протоколы карты не пересекаются с поддерживаемыми протоколами ридера");
    // ISO/IEC 7816-3, 9.1: the card starts in the first offered protocol at
    // Fd and Dd; anything else takes a PPS, which a card in specific mode refuses.
    const bool needPps = atr.GetPreferredProtocol() != chosen || atr.GetTA(chosen) != DefaultTa1;
    if (needPps && atr.IsPpsEnabled()) RunPps(atr, chosen, send, next, traceLog);
    return chosen;
}

}  // namespace ZORVIK
