#include "support/t1_card_model.h"

#include <algorithm>

#include "sc/exchange/protocol_t1.h"

namespace ZORVIK::test {

namespace {

uint8_t RPcb(uint8_t nr, uint8_t error) { return static_cast<uint8_t>(0x80 | (nr & 1) << 4 | error); }

}  // namespace

T1CardModel::T1CardModel(CardApplication application, uint8_t edcLength)
    : m_application(std::move(application)), m_edcLength(edcLength) {}

void T1CardModel::Reset() {
    ++resets;
    m_blocksSinceProgress = 0;
    RestartProtocol();
    m_input.clear();
    m_output.clear();
}

void T1CardModel::RestartProtocol() {
    m_expectedNs = 0;
    m_cardNs = 0;
    m_command.clear();
    m_response.clear();
    m_responseOffset = 0;
    m_responseChain = false;
    m_awaitingSResponse = false;
    m_lastSent.clear();
    m_ifsc = Protocol_T1::DefaultIfs;
}

binary::Binary T1CardModel::Block(uint8_t pcb, const binary::Binary& inf) const {
    binary::Binary block{0x00, pcb, static_cast<uint8_t>(inf.size())};
    block += inf;
    if (m_edcLength == 2) {
        const uint16_t crc = Protocol_T1::CalcCrcA(block.data(), block.size());
        block.push_back(static_cast<uint8_t>(crc & 0xFF));
        block.push_back(static_cast<uint8_t>(crc >> 8));
    } else {
        block.push_back(Protocol_T1::CalcLrc(block.data(), block.size()));
    }
    return block;
}

bool T1CardModel::EpilogueMatches(const binary::Binary& wire) const {
    const size_t edcAt = 3u + wire[2];
    if (m_edcLength == 2) {
        const uint16_t crc = Protocol_T1::CalcCrcA(wire.data(), edcAt);
        return wire[edcAt] == (crc & 0xFF) && wire[edcAt + 1] == (crc >> 8);
    }
    return Protocol_T1::CalcLrc(wire.data(), edcAt) == wire[edcAt];
}

void T1CardModel::SendBytes(const uint8_t* bytes, uint32_t count) {
    m_input.insert(m_input.end(), bytes, bytes + count);
    while (m_input.size() >= 3 && m_input.size() >= 3u + m_input[2] + m_edcLength) {
        const size_t length = 3u + m_input[2] + m_edcLength;
        const binary::Binary block(m_input.begin(), m_input.begin() + static_cast<std::ptrdiff_t>(length));
        m_input.erase(m_input.begin(), m_input.begin() + static_cast<std::ptrdiff_t>(length));
        OnBlock(block);
    }
}

bool T1CardModel::ReceiveByte(uint8_t& byte) {
    if (m_output.empty()) return false;
    byte = m_output.front();
    m_output.pop_front();
    return true;
}

T1Fault T1CardModel::NextFault() {
    if (!faults.empty()) {
        const T1Fault fault = faults.front();
        faults.pop_front();
        return fault;
    }
    return faultSource ? faultSource() : T1Fault::None;
}

void T1CardModel::Emit(const binary::Binary& block) {
    m_lastSent = block;
    binary::Binary wire = block;
    switch (m_fault) {
        case T1Fault::Lose: return;
        case T1Fault::CorruptEdc: wire.back() ^= 0x5A; break;
        case T1Fault::WrongLen: wire[2] = static_cast<uint8_t>(wire[2] + 1); break;
        case T1Fault::ShortLen:
            // A shortened block whose last bytes happen to be its EDC cannot be told
            // from a whole one by any engine: LEN is taken one further down then.
            do {
                wire[2] = static_cast<uint8_t>(wire[2] - 1);
            } while (wire[2] < block[2] && EpilogueMatches(wire));
            break;
        case T1Fault::Garble: wire[wire.size() > 3u + m_edcLength ? 3 : 1] ^= 0x5A; break;
        default: break;
    }
    m_output.insert(m_output.end(), wire.begin(), wire.end());
}

void T1CardModel::SendNextPiece() {
    const size_t rest = m_response.size() - m_responseOffset;
    const size_t size = std::min(rest, responsePiece);
    const binary::Binary piece =
        binary::Slice(m_response, static_cast<uint32_t>(m_responseOffset), static_cast<uint32_t>(size));
    m_responseOffset += size;
    m_responseChain = m_responseOffset < m_response.size();
    if (!m_responseChain) m_blocksSinceProgress = 0;
    const uint8_t pcb = static_cast<uint8_t>((m_cardNs & 1) << 6 | (m_responseChain ? 0x20 : 0));
    m_cardNs ^= 1;
    Emit(Block(pcb, piece));
}

void T1CardModel::OnBlock(const binary::Binary& block) {
    received.push_back(block);
    m_output.clear();  // what the engine did not read of the last answer is lost
    if (++m_blocksSinceProgress > blocksWithoutProgress) return;
    if (!scriptedAnswers.empty()) {
        m_output.assign(scriptedAnswers.front().begin(), scriptedAnswers.front().end());
        scriptedAnswers.pop_front();
        return;
    }
    m_fault = NextFault();
    if (m_fault == T1Fault::MuteUnlessResynch) {
        if (block[1] != 0xC0) return;
        m_fault = T1Fault::None;
    }
    // ISO/IEC 7816-3, 11.6.3.2 rule 7.1: a damaged block is answered with an
    // R-block that asks for it again; nothing else changes.
    if (m_fault == T1Fault::RejectOther || m_fault == T1Fault::RejectParity) {
        const uint8_t error = m_fault == T1Fault::RejectParity ? 1 : 2;
        m_fault = T1Fault::None;
        Emit(Block(RPcb(m_expectedNs, error), {}));
        return;
    }

    const uint8_t pcb = block[1];
    const binary::Binary inf(block.begin() + 3, block.end() - m_edcLength);
    if ((pcb & 0x80) == 0) {
        if (inf.size() > m_ifsc) {
            Emit(Block(RPcb(m_expectedNs, 2), {}));
            return;
        }
        const uint8_t ns = (pcb >> 6) & 1;
        if (ns != m_expectedNs) {
            // The engine repeats an I-block whose answer it did not get.
            if (m_lastSent.empty()) {
                Emit(Block(RPcb(m_expectedNs, 2), {}));
            } else {
                Emit(m_lastSent);
            }
            return;
        }
        m_expectedNs ^= 1;
        m_response.clear();
        m_responseOffset = 0;
        m_responseChain = false;
        m_command += inf;
        if (pcb & 0x20) {
            if (m_fault == T1Fault::AbortChain) {
                m_command.clear();
                Emit(Block(0xC2, {}));
                return;
            }
            Emit(Block(RPcb(m_expectedNs, 0), {}));
            return;
        }
        RApdu answer;
        try {
            const CApdu command(m_command);
            commands.push_back(command);
            answer = m_application(command);
        } catch (const Exception&) {
            answer = RApdu(binary::Binary("67 00"));
        }
        m_command.clear();
        m_response = answer.data + binary::Binary{answer.sw1, answer.sw2};
        if (m_fault == T1Fault::RequestWtx) {
            m_awaitingSResponse = true;
            Emit(Block(0xC3, {0x02}));
        } else if (m_fault == T1Fault::RequestIfs) {
            m_awaitingSResponse = true;
            Emit(Block(0xC1, {0x80}));
        } else {
            SendNextPiece();
        }
        return;
    }
    if ((pcb & 0xE0) == 0x80) {
        const uint8_t nr = (pcb >> 4) & 1;
        // ISO/IEC 7816-3, 11.6.2.2: R(N(R)) naming the next block asks for it;
        // naming the last one sent asks for that again.
        if (m_responseChain && (pcb & 0x0F) == 0 && nr == m_cardNs) {
            SendNextPiece();
        } else if (!m_lastSent.empty()) {
            Emit(m_lastSent);
        } else {
            Emit(Block(RPcb(m_expectedNs, 2), {}));
        }
        return;
    }
    switch (pcb) {
        case 0xC0:
            ++resynchs;
            RestartProtocol();
            Emit(Block(0xE0, {}));
            return;
        case 0xC1:
            m_ifsc = inf.at(0);
            Emit(Block(0xE1, inf));
            return;
        case 0xC3: Emit(Block(0xE3, inf)); return;
        case 0xE1:
        case 0xE3:
            if (m_awaitingSResponse) {
                if (pcb == 0xE1) m_ifsc = inf.at(0);
                if (m_fault == T1Fault::RequestWtx) {
                    Emit(Block(0xC3, {0x02}));  // and more time again
                    return;
                }
                m_awaitingSResponse = false;
                SendNextPiece();
                return;
            }
            break;
        case 0xE2: return;  // the chain is abandoned; the card waits for the engine
        default: break;
    }
    Emit(Block(RPcb(m_expectedNs, 2), {}));
}

}  // namespace ZORVIK::test
