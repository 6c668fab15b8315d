#include "support/t0_card_model.h"

namespace ZORVIK::test {

namespace {

constexpr uint8_t InsGetResponse = 0xC0;

uint8_t LengthByte(size_t length) { return static_cast<uint8_t>(length >= 256 ? 0 : length); }

}  // namespace

T0CardModel::T0CardModel(CardApplication application) : m_application(std::move(application)) {}

void T0CardModel::SendBytes(const uint8_t* bytes, uint32_t count) {
    m_input.insert(m_input.end(), bytes, bytes + count);
    for (;;) {
        if (!m_awaitingData && m_input.size() >= 5) {
            m_header.assign(m_input.begin(), m_input.begin() + 5);
            m_input.erase(m_input.begin(), m_input.begin() + 5);
            headers.push_back(m_header);
            m_output.clear();  // what the engine did not read of the last answer is lost
            OnHeader();
        } else if (m_awaitingData && m_input.size() >= m_header[4]) {
            m_awaitingData = false;
            OnData();
        } else {
            return;
        }
    }
}

bool T0CardModel::ReceiveByte(uint8_t& byte) {
    if (m_output.empty() || (silentAfter && m_sent >= *silentAfter)) return false;
    byte = m_output.front();
    m_output.pop_front();
    ++m_sent;
    return true;
}

void T0CardModel::Put(const binary::Binary& bytes) { m_output.insert(m_output.end(), bytes.begin(), bytes.end()); }

// ISO/IEC 7816-3, 12.2.2: response data waits for GET RESPONSE behind 61xx.
void T0CardModel::Answer(const RApdu& response) {
    if (response.data.empty()) return Put({response.sw1, response.sw2});
    m_pending = response.data;
    m_pendingSw1 = response.sw1;
    m_pendingSw2 = response.sw2;
    Put({0x61, LengthByte(m_pending.size())});
}

void T0CardModel::OnHeader() {
    const uint8_t ins = m_header[1];
    const uint8_t p3 = m_header[4];
    const size_t le = p3 == 0 ? 256 : p3;
    if (!rawAnswers.empty()) {
        Put(rawAnswers.front());
        rawAnswers.pop_front();
    } else if (ins == InsGetResponse) {
        if (m_pending.empty()) return Put("69 85");  // no response data waiting
        if (le > m_pending.size()) return Put({0x6C, LengthByte(m_pending.size())});
        Put({ins});
        Put(binary::Binary(m_pending.begin(), m_pending.begin() + static_cast<std::ptrdiff_t>(le)));
        m_pending.erase(m_pending.begin(), m_pending.begin() + static_cast<std::ptrdiff_t>(le));
        Put(m_pending.empty() ? binary::Binary{m_pendingSw1, m_pendingSw2}
                              : binary::Binary{0x61, LengthByte(m_pending.size())});
    } else if (incomingIns.count(ins) != 0) {
        if (p3 == 0) return OnData();
        Put({ins});
        m_awaitingData = true;
    } else {
        // Outgoing: P3 is Le, 00 meaning 256.
        commands.emplace_back(m_header[0], ins, m_header[2], m_header[3], static_cast<uint32_t>(le));
        const RApdu response = m_application(commands.back());
        if (response.data.empty()) {
            Put({response.sw1, response.sw2});
        } else if (response.data.size() != le) {
            Put({0x6C, LengthByte(response.data.size())});  // ISO/IEC 7816-3, 12.2.2: wrong Le, the right one
        } else {
            Put(binary::Binary{ins} + response.data + binary::Binary{response.sw1, response.sw2});
        }
    }
}

void T0CardModel::OnData() {
    const uint8_t p3 = m_header[4];
    const binary::Binary data(m_input.begin(), m_input.begin() + p3);
    m_input.erase(m_input.begin(), m_input.begin() + p3);
    commands.emplace_back(m_header[0], m_header[1], m_header[2], m_header[3], data, 0);
    Answer(m_application(commands.back()));
}

}  // namespace ZORVIK::test
