// The T=0 engine of ISO/IEC 7816-3: turns one command APDU into the command
// TPDUs of the character protocol (ENVELOPE, GET RESPONSE chains after 61xx,
// the resend after 6Cxx) and trims the response to the expected length.
#pragma once

#include <cstdint>

#include "sc/exchange/byte_link.h"

namespace ZORVIK {

class CApdu;
class RApdu;
class iReader;
class iLog;

class Protocol_T0 {
public:
    // The reader is not owned; its ReaderParams are read anew at every command.
    explicit Protocol_T0(iReader* reader);
    Protocol_T0(const Protocol_T0&) = delete;
    Protocol_T0& operator=(const Protocol_T0&) = delete;

    // The whole exchange of one command; the response is overwritten.
    virtual void Command(const CApdu& command, RApdu& response);
    virtual ~Protocol_T0();
    // One command TPDU out, its data and status word into response.
    virtual void RR_Command(const CApdu& tpdu, RApdu& response) = 0;
    // Carries the encoded command in ENVELOPE commands (ISO/IEC 7816-3, 12.2.4).
    virtual void SendEnvelope(const CApdu& command, RApdu& response);

    // A GET RESPONSE chain of a command without Ne collects at most this much.
    static constexpr uint32_t MaxChainLength = 65536;

protected:
    iReader* m_reader;
};

// The T=0 engine of a reader that moves the card's characters itself: each TPDU
// goes over the byte link, traced to log at level 3 when transport_log is set.
class ByteLink_T0 : public Protocol_T0 {
public:
    // None of the pointers is owned; log may be null (no traces).
    ByteLink_T0(iReader* reader, iByteLink* link, iLog* log, const T0LinkOptions& options);
    void RR_Command(const CApdu& tpdu, RApdu& response) override;

private:
    iByteLink* m_link;
    iLog* m_log;
    T0LinkOptions m_options;
};

}  // namespace ZORVIK
