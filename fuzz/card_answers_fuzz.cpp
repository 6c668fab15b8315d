// Arbitrary answers of a card to the card service: GET CARD INFO for the OS
// version, then commands whose status mismatches bring GET LAST ERROR. Each
// answer is a length byte and that many bytes (data and status word); fewer
// than two bytes is a reader error. Every answer ends in a result or in our
// error, and a mismatch always leaves as a card exception with its cause.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <memory>

#include "sc/card_service/card_exception.h"
#include "sc/card_service/card_service.h"
#include "sc/card_service/expected_status.h"
#include "sc/card_service/os_info.h"
#include "sc/exchange/reader.h"
#include "service/log/log.h"

namespace {

using ZORVIK::binary::Binary;

class AnsweringReader : public ZORVIK::iReader {
public:
    AnsweringReader(const uint8_t* data, size_t size) : m_data(data), m_size(size) {}
    const ZORVIK::ReaderParams& GetParams() const override { return m_params; }
    void PowerOn(ZORVIK::ATR&) override {}
    void PowerOff() override {}
    void Reset(ZORVIK::ATR&) override {}
    Binary GetATR() const override { return {}; }
    void Command(const ZORVIK::CApdu&, ZORVIK::RApdu& response) override {
        size_t length = 0;
        if (m_offset < m_size) {
            const size_t announced = m_data[m_offset++];
            length = std::min(announced, m_size - m_offset);
        }
        const Binary answer(m_data + m_offset, m_data + m_offset + length);
        m_offset += length;
        response.DecodeCanonical(answer);
    }
    bool IsPowered() const override { return true; }
    ZORVIK::CardExchParam& GetCardExchParam(ZORVIK::CardExchParam& param) override { return param; }

private:
    ZORVIK::ReaderParams m_params;
    const uint8_t* m_data;
    size_t m_size;
    size_t m_offset = 0;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    auto reader = std::make_shared<AnsweringReader>(data, size);
    // Importance 1: every exchange is printed, and the texts go nowhere.
    auto log = std::make_shared<ZORVIK::ImportanceFilter>(1, nullptr);
    ZORVIK::CardServiceSettings settings;
    settings.get_last_error = true;
    ZORVIK::CardService service(settings, reader, log, nullptr);
    ZORVIK::OsInfo info;
    try {
        info.OsVersionAutoDetect(service);
    } catch (const ZORVIK::Exception&) {
    }
    service.SetOsInfo(info);
    const ZORVIK::CApdu commands[] = {
        ZORVIK::CApdu(0x00, 0xA4, 0x04, 0x00, Binary("A0 00 00 01 51"), 256),
        ZORVIK::CApdu(0x00, 0xB0, 0x00, 0x00, 16),
        ZORVIK::CApdu(0x80, 0xCA, 0x9F, 0x7F, 0),
    };
    for (const ZORVIK::CApdu& command : commands) {
        try {
            service.Command(command, ZORVIK::ST_OK);
        } catch (const ZORVIK::CardException& mismatch) {
            if (mismatch.ErrorCode() != 256 || mismatch.FullMessage().empty()) __builtin_trap();
        } catch (const ZORVIK::Exception&) {
            // The reader's own error passes through.
        }
    }
    return 0;
}
