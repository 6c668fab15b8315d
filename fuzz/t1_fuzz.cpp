// Feeds arbitrary bytes as the card's answers to the T=1 engine. The first byte
// chooses the epilogue (LRC or CRC), whether the epilogue of each answer is
// computed for the fuzzer (so that its blocks reach the state machine), and
// the sizes of the commands; the rest is what the card sends.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <deque>

#include "fuzz_support.h"
#include "sc/exchange/byte_link.h"
#include "sc/exchange/capdu_rapdu.h"
#include "sc/exchange/protocol_t1.h"
#include "sc/exchange/reader.h"

namespace {

using ZORVIK::binary::Binary;

// The card's side: the fuzzer's bytes, raw or cut into blocks with a good epilogue.
class FuzzLink : public ZORVIK::iByteLink {
public:
    FuzzLink(const uint8_t* data, size_t size, uint8_t edcLength, bool computeEdc)
        : m_data(data), m_size(size), m_edcLength(edcLength), m_computeEdc(computeEdc) {}

    void SendBytes(const uint8_t*, uint32_t) override {
        if (!m_computeEdc) return;
        m_answer.clear();
        if (m_size - m_offset < 3) {
            m_offset = m_size;
            return;
        }
        Binary block(m_data + m_offset, m_data + m_offset + 3);
        m_offset += 3;
        const size_t length = std::min<size_t>(block[2], m_size - m_offset);
        block.insert(block.end(), m_data + m_offset, m_data + m_offset + length);
        m_offset += length;
        if (m_edcLength == 2) {
            const uint16_t crc = ZORVIK::Protocol_T1::CalcCrcA(block.data(), block.size());
            block.push_back(static_cast<uint8_t>(crc & 0xFF));
            block.push_back(static_cast<uint8_t>(crc >> 8));
        } else {
            block.push_back(ZORVIK::Protocol_T1::CalcLrc(block.data(), block.size()));
        }
        m_answer.assign(block.begin(), block.end());
    }

    bool ReceiveByte(uint8_t& byte) override {
        if (m_computeEdc) {
            if (m_answer.empty()) return false;
            byte = m_answer.front();
            m_answer.pop_front();
            return true;
        }
        if (m_offset >= m_size) return false;
        byte = m_data[m_offset++];
        return true;
    }

private:
    const uint8_t* m_data;
    size_t m_size;
    size_t m_offset = 0;
    uint8_t m_edcLength;
    bool m_computeEdc;
    std::deque<uint8_t> m_answer;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) return 0;
    const uint8_t setup = data[0];
    const uint8_t edcLength = (setup & 1) ? 2 : 1;
    ZORVIK::fuzz::IdleReader reader;
    reader.params.transport_log = false;
    FuzzLink link(data + 1, size - 1, edcLength, (setup & 2) != 0);
    ZORVIK::ByteLink_T1 engine(&reader, &link, nullptr);
    engine.SetEdcLength(edcLength);
    engine.SetResetOnFailure((setup & 4) != 0);
    engine.NegotiateIfs(static_cast<uint8_t>(setup | 1));

    // Commands of a few sizes: one block, a chain, a chain ending in an empty block.
    const size_t lengths[] = {5, static_cast<size_t>(40 + (setup >> 4)), 64, 300};
    for (size_t length : lengths) {
        const ZORVIK::CApdu command(0x00, 0xA4, 0x04, 0x00, Binary(length, 0x5A), 256);
        ZORVIK::RApdu response;
        try {
            engine.Command(command, response);
        } catch (const ZORVIK::Exception&) {
            // A failed exchange is reported, never a crash.
        }
    }
    return 0;
}
