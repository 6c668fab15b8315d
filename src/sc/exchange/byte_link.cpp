#include "sc/exchange/byte_link.h"

#include <algorithm>
#include <cstdio>

#include "sc/exchange/capdu_rapdu.h"
#include "sc/exchange/reader.h"
#include "service/common/exception.h"
#include "service/log/log.h"

namespace ZORVIK {

namespace {

constexpr uint8_t NullByte = 0x60;
constexpr int32_t TraceLevel = 3;
constexpr const char* Where = "ZORVIK::TransmitT0Tpdu";

[[noreturn]] void Fail(const char* message) {
    throw CardDrvException(message, CardDrvError::General, ZORVIK_PLACE(Where));
}

uint8_t ReceiveOrFail(iByteLink& link, const char* message) {
    uint8_t byte = 0;
    if (!link.ReceiveByte(byte)) Fail(message);
    return byte;
}

// ISO/IEC 7816-3, 10.3.3: the status byte SW1 is 6x (but not 60) or 9x.
bool IsStatusByte(uint8_t byte) { return (byte & 0xF0) == 0x60 || (byte & 0xF0) == 0x90; }

void TraceData(iLog* log, const char* prefix, const binary::Binary& bytes, const char* suffix) {
    LogPrintf(log, TraceLevel, "%sData field: %d (0x%02X)\n%s%s", prefix, static_cast<int>(bytes.size()),
              static_cast<unsigned>(bytes.size()), TraceHex(bytes).c_str(), suffix);
}

}  // namespace

std::string TraceHex(const binary::Binary& bytes) { return binary::ToHex(bytes, 2, 0, 32); }

void TransmitT0Tpdu(iByteLink& link, const CApdu& tpdu, RApdu& response, const T0LinkOptions& options, iLog* traceLog) {
    response.Clear();
    if (tpdu.data.size() > 255) Fail("Lc too big");

    // P3 is Lc when the command carries data, else Le, where 00 asks for 256 bytes.
    const bool hasData = !tpdu.data.empty();
    const uint8_t p3 =
        hasData ? static_cast<uint8_t>(tpdu.data.size()) : static_cast<uint8_t>(tpdu.ne < 256 ? tpdu.ne : 0);
    const uint8_t header[5] = {tpdu.cla, tpdu.ins, tpdu.p1, tpdu.p2, p3};
    if (traceLog != nullptr) {
        LogPrintf(traceLog, TraceLevel, "~~~~~~~~ T=0 ~~~~~~~~~\nCommand TPDU:\nHeader: %02X %02X %02X %02X %02X",
                  header[0], header[1], header[2], header[3], header[4]);
    }
    link.SendBytes(header, sizeof(header));

    bool commandTraced = false;
    bool responseTraced = false;
    uint8_t sw1 = 0;
    for (;;) {
        const uint8_t procedure = ReceiveOrFail(link, "Таймаут ожидания карты");
        if (options.echoProcedureBytes) std::printf("###%.2x\n", procedure);
        if (procedure == NullByte) continue;  // ISO/IEC 7816-3, 10.3.3: NULL asks for more waiting time
        if (procedure != tpdu.ins) {
            if (options.strictStatusByte && !IsStatusByte(procedure)) Fail("Ошибочный символ");
            sw1 = procedure;
            break;
        }
        // ACK equal to INS: the whole remaining data goes in one transfer.
        if (hasData) {
            link.SendBytes(tpdu.data.data(), static_cast<uint32_t>(tpdu.data.size()));
            if (traceLog != nullptr) TraceData(traceLog, "", tpdu.data, "\n~~~~~~");
            commandTraced = true;
            continue;
        }
        if (traceLog != nullptr && !commandTraced) LogPrintf(traceLog, TraceLevel, "Data field: <empty>\n~~~~~~");
        commandTraced = true;
        if (tpdu.ne == 0) continue;
        const uint32_t expected = std::min<uint32_t>(tpdu.ne, 256);
        binary::Binary received;
        received.reserve(expected);
        for (uint32_t i = 0; i < expected; ++i)
            received.push_back(ReceiveOrFail(link, "Таймаут приема данных от карты [1]"));
        // A repeated ACK delivers the data again; keep only the last transfer.
        response.data = std::move(received);
        if (traceLog != nullptr) TraceData(traceLog, "Response TPDU:\n", response.data, "");
        responseTraced = true;
    }

    const uint8_t sw2 = ReceiveOrFail(link, "Таймаут ожидания статуса");
    response.sw1 = sw1;
    response.sw2 = sw2;
    if (traceLog != nullptr) {
        if (!commandTraced) LogPrintf(traceLog, TraceLevel, "Data field: <empty>\n~~~~~~");
        if (!responseTraced) LogPrintf(traceLog, TraceLevel, "Response TPDU:\nData field: <empty>");
        LogPrintf(traceLog, TraceLevel, "Status: %02X %02X\n~~~~~~~~~~~~~~~~~~~~~~\n", sw1, sw2);
    }
}

}  // namespace ZORVIK
