#include "sc/drivers/pcsc/pcsc_api.h"

#include "service/common/printf.h"

namespace ZORVIK {

namespace {

class PcscLite : public PcscApi {
public:
    LONG EstablishContext(DWORD scope, SCARDCONTEXT* context) override {
        return SCardEstablishContext(scope, nullptr, nullptr, context);
    }
    LONG ReleaseContext(SCARDCONTEXT context) override { return SCardReleaseContext(context); }
    LONG ListReaders(SCARDCONTEXT context, char* readers, DWORD* length) override {
        return SCardListReaders(context, nullptr, readers, length);
    }
    LONG GetStatusChange(SCARDCONTEXT context, DWORD timeoutMs, SCARD_READERSTATE* states, DWORD count) override {
        return SCardGetStatusChange(context, timeoutMs, states, count);
    }
    LONG Connect(SCARDCONTEXT context, const char* reader, DWORD shareMode, DWORD preferredProtocols, SCARDHANDLE* card,
                 DWORD* activeProtocol) override {
        return SCardConnect(context, reader, shareMode, preferredProtocols, card, activeProtocol);
    }
    LONG Reconnect(SCARDHANDLE card, DWORD shareMode, DWORD preferredProtocols, DWORD initialization,
                   DWORD* activeProtocol) override {
        return SCardReconnect(card, shareMode, preferredProtocols, initialization, activeProtocol);
    }
    LONG Disconnect(SCARDHANDLE card, DWORD disposition) override { return SCardDisconnect(card, disposition); }
    LONG StatusAtr(SCARDHANDLE card, uint8_t* atr, DWORD* atrLength) override {
        DWORD state = 0;
        DWORD protocol = 0;
        DWORD nameLength = 0;
        return SCardStatus(card, nullptr, &nameLength, &state, &protocol, atr, atrLength);
    }
    LONG Transmit(SCARDHANDLE card, const SCARD_IO_REQUEST* sendPci, const uint8_t* send, DWORD sendLength,
                  uint8_t* receive, DWORD* receiveLength) override {
        return SCardTransmit(card, sendPci, send, sendLength, nullptr, receive, receiveLength);
    }
    LONG Control(SCARDHANDLE card, DWORD controlCode, const void* in, DWORD inLength, void* out, DWORD outLength,
                 DWORD* returned) override {
        return SCardControl(card, controlCode, in, inLength, out, outLength, returned);
    }
    LONG GetAttrib(SCARDHANDLE card, DWORD attribute, uint8_t* value, DWORD* length) override {
        return SCardGetAttrib(card, attribute, value, length);
    }
};

}  // namespace

PcscApi& SystemPcscApi() {
    // Never destroyed: readers held by the framework, itself a function-local
    // static made before the first reader, release their contexts through it
    // at exit, after the statics made later are gone.
    static PcscLite* const api = new PcscLite;
    return *api;
}

std::string PcscFailureText(const char* label, LONG result) {
    // pcsc-lite codes are positive 64-bit values; the text shows the 32-bit code.
    return SafePrintf("PCSC Driver error (func: %s, code: %0X, , msg: %s)", label,
                      static_cast<unsigned>(static_cast<uint32_t>(result)), pcsc_stringify_error(result));
}

}  // namespace ZORVIK
