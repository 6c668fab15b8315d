// A card at the block level of T=1 (ISO/IEC 7816-3, clause 11) behind the byte
// link of the engines: chaining both ways, S(RESYNCH), S(IFS), S(WTX) and
// S(ABORT), retransmission on request, and faults to inject on its answers.
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <vector>

#include "sc/exchange/byte_link.h"
#include "sc/exchange/capdu_rapdu.h"
#include "support/t0_card_model.h"

namespace ZORVIK::test {

// What the card does with the block it has just received.
enum class T1Fault {
    None,
    Lose,               // answers as usual, but the answer never reaches the engine
    CorruptEdc,         // the answer's EDC is wrong
    WrongLen,           // the answer's LEN is one more than its INF
    ShortLen,           // the answer's LEN is one less than its INF
    Garble,             // a byte of the answer's prologue or INF is damaged, its EDC kept
    RejectOther,        // the block counts as damaged: R(other error), no state change
    RejectParity,       // the same with R(parity error)
    RequestWtx,         // asks for more time with S(WTX request) before the response
    RequestIfs,         // asks for a new IFSC with S(IFS request) before the response
    AbortChain,         // answers a chained I-block with S(ABORT request)
    MuteUnlessResynch,  // only S(RESYNCH request) is answered; any other block is ignored
};

class T1CardModel : public iByteLink {
public:
    T1CardModel(CardApplication application, uint8_t edcLength = 1);

    // INF size of the card's own I-blocks.
    size_t responsePiece = 32;
    // One fault per block received, in order; then faultSource, when set.
    std::deque<T1Fault> faults;
    std::function<T1Fault()> faultSource;
    // Raw answers that replace the model's answers to the next blocks.
    std::deque<binary::Binary> scriptedAnswers;

    // Every block received, the commands run, and the RESYNCH count.
    std::vector<binary::Binary> received;
    std::vector<CApdu> commands;
    int resynchs = 0;

    // A warm reset: the protocol starts over and anything pending is lost.
    void Reset();

    void SendBytes(const uint8_t* bytes, uint32_t count) override;
    bool ReceiveByte(uint8_t& byte) override;

private:
    binary::Binary Block(uint8_t pcb, const binary::Binary& inf) const;
    void OnBlock(const binary::Binary& block);
    void OnIBlock(uint8_t pcb, const binary::Binary& inf);
    void Emit(const binary::Binary& block);
    void SendNextPiece();

    CardApplication m_application;
    uint8_t m_edcLength;
    binary::Binary m_input;
    std::deque<uint8_t> m_output;
    T1Fault m_fault = T1Fault::None;
    // The card falls silent after many blocks without a whole response or a
    // reset, so that an engine that never gives up fails its test instead of hanging it.
    size_t m_blocksSinceProgress = 0;
    // What a reset or S(RESYNCH) starts over.
    struct Protocol {
        uint8_t ifsc = 32;       // the largest INF the card takes (ISO/IEC 7816-3, 11.4.2)
        uint8_t expectedNs = 0;  // N(S) of the engine's next new I-block
        uint8_t cardNs = 0;      // N(S) of the card's next I-block
        binary::Binary command;
        binary::Binary response;
        size_t responseOffset = 0;
        bool awaitingSResponse = false;
        binary::Binary lastSent;
    } m_protocol;
};

}  // namespace ZORVIK::test
