// The PC/SC calls of the reader driver gathered in one table, so that the driver
// reaches pcsc-lite through it and tests can stand in for the service.
#pragma once

#include <PCSC/reader.h>
#include <PCSC/winscard.h>

#include <cstdint>
#include <string>

namespace ZORVIK {

// One virtual operation per PC/SC function the driver uses; the arguments are
// those of the function (pcsc-lite's DWORD and LONG are 64-bit on Linux).
class PcscApi {
public:
    virtual ~PcscApi() = default;
    virtual LONG EstablishContext(DWORD scope, SCARDCONTEXT* context) = 0;
    virtual LONG ReleaseContext(SCARDCONTEXT context) = 0;
    virtual LONG ListReaders(SCARDCONTEXT context, char* readers, DWORD* length) = 0;
    virtual LONG GetStatusChange(SCARDCONTEXT context, DWORD timeoutMs, SCARD_READERSTATE* states, DWORD count) = 0;
    virtual LONG Connect(SCARDCONTEXT context, const char* reader, DWORD shareMode, DWORD preferredProtocols,
                         SCARDHANDLE* card, DWORD* activeProtocol) = 0;
    virtual LONG Reconnect(SCARDHANDLE card, DWORD shareMode, DWORD preferredProtocols, DWORD initialization,
                           DWORD* activeProtocol) = 0;
    virtual LONG Disconnect(SCARDHANDLE card, DWORD disposition) = 0;
    // SCardStatus reduced to what the driver asks of it: the ATR.
    virtual LONG StatusAtr(SCARDHANDLE card, uint8_t* atr, DWORD* atrLength) = 0;
    virtual LONG Transmit(SCARDHANDLE card, const SCARD_IO_REQUEST* sendPci, const uint8_t* send, DWORD sendLength,
                          uint8_t* receive, DWORD* receiveLength) = 0;
    virtual LONG Control(SCARDHANDLE card, DWORD controlCode, const void* in, DWORD inLength, void* out,
                         DWORD outLength, DWORD* returned) = 0;
    virtual LONG GetAttrib(SCARDHANDLE card, DWORD attribute, uint8_t* value, DWORD* length) = 0;
};

// The table that calls pcsc-lite.
PcscApi& SystemPcscApi();

// "PCSC Driver error (func: <label>, code: <hex>, , msg: <text>)": the result
// printed as the 32-bit PC/SC code, the text from pcsc_stringify_error.
std::string PcscFailureText(const char* label, LONG result);

}  // namespace ZORVIK
