// Arbitrary bytes as the card's side of T=0: procedure bytes, data, 61xx and
// 6Cxx answers and the answers to ENVELOPE pieces reach the engine through a
// byte link. The first byte chooses the reader's switches and the link's rule
// for status bytes; the commands cover the four cases, short and extended.
#include <cstddef>
#include <cstdint>

#include "fuzz_support.h"
#include "sc/exchange/byte_link.h"
#include "sc/exchange/capdu_rapdu.h"
#include "sc/exchange/protocol_t0.h"
#include "sc/exchange/reader.h"

namespace {

using ZORVIK::binary::Binary;

// The card's bytes in order; what the engine sends is dropped. A read past the
// end is the link's time-out.
class FuzzLink : public ZORVIK::iByteLink {
public:
    FuzzLink(const uint8_t* data, size_t size) : m_data(data), m_size(size) {}
    void SendBytes(const uint8_t*, uint32_t) override {}
    bool ReceiveByte(uint8_t& byte) override {
        if (m_offset >= m_size) return false;
        byte = m_data[m_offset++];
        return true;
    }

private:
    const uint8_t* m_data;
    size_t m_size;
    size_t m_offset = 0;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) return 0;
    const uint8_t setup = data[0];
    ZORVIK::fuzz::IdleReader reader;
    reader.params.auto_t0 = (setup & 1) != 0;
    reader.params.sw1_9f_as_61 = (setup & 2) != 0;
    reader.params.get_resp_cla_00 = (setup & 4) != 0;
    reader.params.envelope_mode = (setup >> 3) & 3;  // smart, force, null and an unknown value
    FuzzLink link(data + 1, size - 1);
    const ZORVIK::T0LinkOptions options{(setup & 0x20) != 0, false};
    ZORVIK::ByteLink_T0 engine(&reader, &link, nullptr, options);

    const ZORVIK::CApdu commands[] = {
        ZORVIK::CApdu(0x80, 0xCA, 0x9F, 0x7F, 0),                         // case 1
        ZORVIK::CApdu(0x00, 0xB0, 0x00, 0x00, 256),                       // case 2 short
        ZORVIK::CApdu(0x00, 0xD6, 0x00, 0x00, Binary(8, 0x5A)),           // case 3 short
        ZORVIK::CApdu(0x00, 0xA4, 0x04, 0x00, Binary(5, 0xA0), 16),       // case 4 short, ENVELOPE when smart
        ZORVIK::CApdu(0x00, 0xB0, 0x00, 0x00, 600),                       // case 2 extended
        ZORVIK::CApdu(0x00, 0xD6, 0x00, 0x00, Binary(300, 0x5A), 65536),  // case 4 extended
    };
    for (const ZORVIK::CApdu& command : commands) {
        ZORVIK::RApdu response;
        try {
            engine.Command(command, response);
        } catch (const ZORVIK::Exception&) {
            // A time-out or a wrong character is reported, never a crash.
            continue;
        }
        // Data beyond Ne never reaches the caller of a completed exchange.
        if (response.data.size() > command.ne) __builtin_trap();
    }
    return 0;
}
