// The byte transport under the T=0 and T=1 engines of the readers that move the
// card's characters themselves (serial-port reader, hardware-model link), and the
// one-TPDU exchange of T=0 (ISO/IEC 7816-3, 10.3) that both readers share.
#pragma once

#include <cstdint>
#include <string>

#include "service/common/binary.h"

namespace ZORVIK {

class CApdu;
class RApdu;
class iLog;

// What an engine needs of a reader's line to the card: bytes out, and one byte
// in within the reader's own time-out. Tests supply card models through it.
class iByteLink {
public:
    virtual ~iByteLink() = default;
    // Sends the bytes to the card, in order. Failures of the link are the
    // reader's exceptions and pass through the engines.
    virtual void SendBytes(const uint8_t* bytes, uint32_t count) = 0;
    // Waits for the next byte from the card; false when none came in time.
    virtual bool ReceiveByte(uint8_t& byte) = 0;
};

// Where the byte engines of the two readers differ in reading procedure bytes.
struct T0LinkOptions {
    // Accept as SW1 only a byte 6x or 9x and refuse anything else with
    // "Ошибочный символ" (hardware-model link); otherwise any byte that is
    // neither NULL nor ACK is SW1 (serial-port reader).
    bool strictStatusByte = false;
    // Print every procedure byte to standard output as "###%.2x\n".
    bool echoProcedureBytes = false;
};

// Sends one command TPDU over the link and reads its answer into response
// (cleared first). traceLog receives the TPDU traces at level 3; pass null when
// the reader's transport_log is off. Time-outs and malformed answers throw the
// reader-driver error (code 0).
void TransmitT0Tpdu(iByteLink& link, const CApdu& tpdu, RApdu& response, const T0LinkOptions& options, iLog* traceLog);

// Bytes as upper-case hex for the transport traces: groups of two bytes, one
// blank between groups, a line break instead of the blank before byte 32, 64...
std::string TraceHex(const binary::Binary& bytes);

}  // namespace ZORVIK
