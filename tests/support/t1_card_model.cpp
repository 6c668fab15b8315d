#include "support/t1_card_model.h"

#include <algorithm>

#include "sc/exchange/protocol_t1.h"

namespace ZORVIK::test {

namespace {

constexpr size_t MaxBlocksWithoutProgress = 1000;

uint8_t RPcb(uint8_t nr, uint8_t error) { return static_cast<uint8_t>(0x80 | (nr & 1) << 4 | error); }

}  // namespace

T1CardModel::T1CardModel(CardApplication application, uint8_t edcLength)
    : m_application(std::move(application)), m_edcLength(edcLength) {}

void T1CardModel::Reset() {
    m_protocol = {};
    m_blocksSinceProgress = 0;
    m_input.clear();
    m_output.clear();
}

binary::Binary T1CardModel::Block(uint8_t pcb, const binary::Binary& inf) const {
    binary::Binary block = binary::Binary{0x00, pcb, static_cast<uint8_t>(inf.size())} + inf;
    if (m_edcLength == 1) return block + binary::Binary{Protocol_T1::CalcLrc(block.data(), block.size())};
    const uint16_t crc = Protocol_T1::CalcCrcA(block.data(), block.size());
    return block + binary::Binary{static_cast<uint8_t>(crc & 0xFF), static_cast<uint8_t>(crc >> 8)};
}

void T1CardModel::SendBytes(const uint8_t* bytes, uint32_t count) {
    m_input.insert(m_input.end(), bytes, bytes + count);
    while (m_input.size() >= 3 && m_input.size() >= 3u + m_input[2] + m_edcLength) {
        const auto end = m_input.begin() + 3 + m_input[2] + m_edcLength;
        const binary::Binary block(m_input.begin(), end);
        m_input.erase(m_input.begin(), end);
        OnBlock(block);
    }
}

bool T1CardModel::ReceiveByte(uint8_t& byte) {
    if (m_output.empty()) return false;
    byte = m_output.front();
    m_output.pop_front();
    return true;
}

void T1CardModel::Emit(const binary::Binary& block) {
    m_protocol.lastSent = block;
    binary::Binary wire = block;
    switch (m_fault) {
        case T1Fault::Lose: return;
        case T1Fault::CorruptEdc: wire.back() ^= 0x5A; break;
        case T1Fault::WrongLen: ++wire[2]; break;
        case T1Fault::ShortLen:
            // A shortened block whose last bytes happen to be its EDC cannot be told
            // from a whole one by any engine: LEN is taken one further down then.
            do {
                --wire[2];
            } while (wire[2] < block[2] && Block(wire[1], binary::Slice(wire, 3, wire[2])) ==
                                               binary::Slice(wire, 0, 3u + wire[2] + m_edcLength));
            break;
        case T1Fault::Garble: wire[wire.size() > 3u + m_edcLength ? 3 : 1] ^= 0x5A; break;
        default: break;
    }
    m_output.insert(m_output.end(), wire.begin(), wire.end());
}

void T1CardModel::SendNextPiece() {
    const size_t size = std::min(m_protocol.response.size() - m_protocol.responseOffset, responsePiece);
    const binary::Binary piece = binary::Slice(m_protocol.response, static_cast<uint32_t>(m_protocol.responseOffset),
                                               static_cast<uint32_t>(size));
    m_protocol.responseOffset += size;
    const bool more = m_protocol.responseOffset < m_protocol.response.size();
    if (!more) m_blocksSinceProgress = 0;
    Emit(Block(static_cast<uint8_t>((m_protocol.cardNs & 1) << 6 | (more ? 0x20 : 0)), piece));
    m_protocol.cardNs ^= 1;
}

void T1CardModel::OnBlock(const binary::Binary& block) {
    received.push_back(block);
    m_output.clear();  // what the engine did not read of the last answer is lost
    if (++m_blocksSinceProgress > MaxBlocksWithoutProgress) return;
    if (!scriptedAnswers.empty()) {
        m_output.assign(scriptedAnswers.front().begin(), scriptedAnswers.front().end());
        scriptedAnswers.pop_front();
        return;
    }
    m_fault = faults.empty() ? (faultSource ? faultSource() : T1Fault::None) : faults.front();
    if (!faults.empty()) faults.pop_front();
    if (m_fault == T1Fault::MuteUnlessResynch) {
        if (block[1] != 0xC0) return;
        m_fault = T1Fault::None;
    }
    const uint8_t pcb = block[1];
    const binary::Binary inf(block.begin() + 3, block.end() - m_edcLength);
    // ISO/IEC 7816-3, 11.6.3.2 rule 7.1: a damaged block is answered with an
    // R-block that asks for it again; nothing else changes.
    if (m_fault == T1Fault::RejectOther || m_fault == T1Fault::RejectParity) {
        const uint8_t error = m_fault == T1Fault::RejectParity ? 1 : 2;
        m_fault = T1Fault::None;
        return Emit(Block(RPcb(m_protocol.expectedNs, error), {}));
    }
    if ((pcb & 0x80) == 0) return OnIBlock(pcb, inf);
    const bool responseChain = m_protocol.responseOffset < m_protocol.response.size();
    const binary::Binary reject = Block(RPcb(m_protocol.expectedNs, 2), {});
    if ((pcb & 0xE0) == 0x80) {
        // ISO/IEC 7816-3, 11.6.2.2: R(N(R)) naming the next block asks for it;
        // naming the last one sent asks for that again.
        if (responseChain && (pcb & 0x0F) == 0 && ((pcb >> 4) & 1) == m_protocol.cardNs) return SendNextPiece();
        return Emit(m_protocol.lastSent.empty() ? reject : m_protocol.lastSent);
    }
    switch (pcb) {
        case 0xC0:
            ++resynchs;
            m_protocol = {};
            return Emit(Block(0xE0, {}));
        case 0xC1: m_protocol.ifsc = inf.at(0); return Emit(Block(0xE1, inf));
        case 0xC3: return Emit(Block(0xE3, inf));
        case 0xE1:
        case 0xE3:
            if (!m_protocol.awaitingSResponse) break;
            if (pcb == 0xE1) m_protocol.ifsc = inf.at(0);
            if (m_fault == T1Fault::RequestWtx) return Emit(Block(0xC3, {0x02}));  // and more time again
            m_protocol.awaitingSResponse = false;
            return SendNextPiece();
        case 0xE2: return;  // the chain is abandoned; the card waits for the engine
    }
    Emit(reject);
}

void T1CardModel::OnIBlock(uint8_t pcb, const binary::Binary& inf) {
    if (inf.size() > m_protocol.ifsc) return Emit(Block(RPcb(m_protocol.expectedNs, 2), {}));
    if (((pcb >> 6) & 1) != m_protocol.expectedNs) {
        // The engine repeats an I-block whose answer it did not get.
        return Emit(m_protocol.lastSent.empty() ? Block(RPcb(m_protocol.expectedNs, 2), {}) : m_protocol.lastSent);
    }
    m_protocol.expectedNs ^= 1;
    m_protocol.response.clear();
    m_protocol.responseOffset = 0;
    m_protocol.command += inf;
    if (pcb & 0x20) {
        if (m_fault != T1Fault::AbortChain) return Emit(Block(RPcb(m_protocol.expectedNs, 0), {}));
        m_protocol.command.clear();
        return Emit(Block(0xC2, {}));
    }
    RApdu answer(binary::Binary("67 00"));
    try {
        commands.emplace_back(m_protocol.command);
        answer = m_application(commands.back());
    } catch (const Exception&) {
    }
    m_protocol.command.clear();
    m_protocol.response = answer.data + binary::Binary{answer.sw1, answer.sw2};
    if (m_fault != T1Fault::RequestWtx && m_fault != T1Fault::RequestIfs) return SendNextPiece();
    m_protocol.awaitingSResponse = true;
    Emit(m_fault == T1Fault::RequestWtx ? Block(0xC3, {0x02}) : Block(0xC1, {0x80}));
}

}  // namespace ZORVIK::test
