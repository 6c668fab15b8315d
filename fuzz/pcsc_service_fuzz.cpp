// Arbitrary answers of the PC/SC service (reader lists, attributes, ATRs,
// transmissions with any reported length) given to the PC/SC reader: every one
// ends in a result or in our error, never outside the buffers.
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "sc/drivers/pcsc/pcsc_reader.h"
#include "service/common/exception.h"
#include "service/log/log.h"

namespace {

using ZORVIK::binary::Binary;

// Each call takes the next piece of the input: a result byte (0 success, odd a
// failure, other even values success), a reported-length byte and the payload.
class InputService : public ZORVIK::PcscApi {
public:
    InputService(const uint8_t* data, size_t size) : m_data(data), m_size(size) {}

    LONG EstablishContext(DWORD, SCARDCONTEXT* context) override {
        *context = 1;
        return SCARD_S_SUCCESS;
    }
    LONG ReleaseContext(SCARDCONTEXT) override { return SCARD_S_SUCCESS; }
    LONG ListReaders(SCARDCONTEXT, char* readers, DWORD* length) override {
        return Answer(reinterpret_cast<uint8_t*>(readers), length);
    }
    LONG GetStatusChange(SCARDCONTEXT, DWORD, SCARD_READERSTATE* states, DWORD) override {
        DWORD length = 0;
        const LONG result = Answer(nullptr, &length);
        states[0].dwEventState = (length & 1) != 0 ? SCARD_STATE_PRESENT : SCARD_STATE_EMPTY;
        return result;
    }
    LONG Connect(SCARDCONTEXT, const char*, DWORD, DWORD preferred, SCARDHANDLE* card, DWORD* active) override {
        DWORD length = 0;
        const LONG result = Answer(nullptr, &length);
        *card = 2;
        // Any protocol the service could report, the usual ones most often.
        *active = (length & 3) == 3 ? length : preferred;
        return result;
    }
    LONG Reconnect(SCARDHANDLE, DWORD, DWORD preferred, DWORD, DWORD* active) override {
        DWORD length = 0;
        *active = preferred;
        return Answer(nullptr, &length);
    }
    LONG Disconnect(SCARDHANDLE, DWORD) override { return SCARD_S_SUCCESS; }
    LONG StatusAtr(SCARDHANDLE, uint8_t* atr, DWORD* length) override { return Answer(atr, length); }
    LONG Transmit(SCARDHANDLE, const SCARD_IO_REQUEST*, const uint8_t*, DWORD, uint8_t* receive,
                  DWORD* length) override {
        return Answer(receive, length);
    }
    LONG Control(SCARDHANDLE, DWORD, const void*, DWORD, void* out, DWORD outLength, DWORD* returned) override {
        DWORD length = outLength;
        const LONG result = Answer(static_cast<uint8_t*>(out), &length);
        *returned = length;
        return result;
    }
    LONG GetAttrib(SCARDHANDLE, DWORD, uint8_t* value, DWORD* length) override { return Answer(value, length); }

private:
    // Writes no more than the caller's buffer holds, as the library does, but
    // reports whatever length the input asks for.
    LONG Answer(uint8_t* buffer, DWORD* length) {
        if (m_size - m_pos < 2) return SCARD_E_NOT_TRANSACTED;  // input used up
        const uint8_t result = m_data[m_pos++];
        const uint8_t reported = m_data[m_pos++];
        const size_t payload = std::min<size_t>(reported, m_size - m_pos);
        if (buffer != nullptr) std::memcpy(buffer, m_data + m_pos, std::min<size_t>(payload, *length));
        m_pos += payload;
        // A high reported length stands for "larger than the buffer".
        *length = reported >= 0xF0 ? *length + reported : reported;
        return (result & 1) != 0 ? SCARD_E_NOT_TRANSACTED : SCARD_S_SUCCESS;
    }

    const uint8_t* m_data;
    size_t m_size;
    size_t m_pos = 0;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) return 0;
    InputService service(data + 1, size - 1);
    auto log = std::make_shared<ZORVIK::ImportanceFilter>(1, nullptr);
    try {
        std::vector<std::string> names;
        ZORVIK::getPCSCReaderList(names, (data[0] & 1) != 0, service);
        ZORVIK::ReaderParams params;
        params.transport_log = (data[0] & 2) != 0;
        params.protocols = (data[0] & 4) != 0 ? std::vector<uint32_t>{0} : std::vector<uint32_t>{1, 0};
        ZORVIK::PCSC_Reader reader("Fuzz Reader 00 00", params, log.get(), false, service);
        ZORVIK::ATR atr;
        reader.PowerOn(atr);
        ZORVIK::RApdu response;
        reader.Command(ZORVIK::CApdu(0x00, 0xB0, 0x00, 0x00, 256), response);
        reader.Command(ZORVIK::CApdu(0x00, 0xA4, 0x04, 0x00, Binary("A0 00 00 01 51"), 256), response);
        reader.Command(ZORVIK::CApdu(0x80, 0xEE, 0x00, 0x00, Binary(std::string(600, 'A')), 600), response);
        ZORVIK::PcscCardAttributes record;
        reader.GetCardExchParam(record);
    } catch (const ZORVIK::Exception&) {
    }
    return 0;
}
