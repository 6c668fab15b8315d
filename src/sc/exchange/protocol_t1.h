// The T=1 block engine of ISO/IEC 7816-3 (clause 11) on the host side: builds
// and checks blocks, cuts a command into chained I-blocks, collects the chained
// response, answers the card's S-requests and recovers from transmission errors.
// A reader supplies TransmitBlock (one block out, one block back).
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "service/common/binary.h"

namespace ZORVIK {

class CApdu;
class RApdu;
class iReader;
class iLog;
class iByteLink;
class Exception;

class Protocol_T1 {
public:
    // The engine's numbering of the blocks it sends and recognises.
    enum BlockKind : uint8_t {
        I_Last = 0,     // I-block, last of a chain (or alone)
        I_Chained = 1,  // I-block with the M bit: more follow
        R_Ok = 2,
        R_ParityError = 3,
        R_OtherError = 4,
        S_ResynchRequest = 5,
        S_ResynchResponse = 6,
        S_IfsRequest = 7,
        S_IfsResponse = 8,
        S_AbortRequest = 9,
        S_AbortResponse = 10,
        S_WtxRequest = 11,
        S_WtxResponse = 12,
    };

    // A received block that passed every check.
    struct Block {
        BlockKind kind;
        uint8_t pcb;
        binary::Binary inf;
        // N(S) of an I-block, N(R) of an R-block.
        uint8_t sequence;
    };

    static constexpr uint8_t DefaultIfs = 32;
    // A response longer than the largest extended Ne plus the status word is refused.
    static constexpr size_t MaxResponseLength = 65536 + 2;

    explicit Protocol_T1(iReader* reader);
    Protocol_T1(const Protocol_T1&) = delete;
    Protocol_T1& operator=(const Protocol_T1&) = delete;
    virtual ~Protocol_T1();

    // One APDU exchange. A failed exchange resets the card (or powers it off),
    // clears the response and throws the reader-driver error (code 0) that
    // carries the cause. A command that cannot be encoded fails with the
    // encoder's error before anything is sent.
    virtual void Command(const CApdu& command, RApdu& response);
    // Sends block and reads one block back into received; false when nothing
    // usable came back.
    virtual bool TransmitBlock(const binary::Binary& block, binary::Binary& received) = 0;
    // Sends one piece of a command and runs the block exchange until the piece
    // is acknowledged (chaining) or the complete response has arrived.
    virtual void Elaborate(bool chaining, const binary::Binary& piece, RApdu& response);

    // EDC length from the ATR: 1 LRC, 2 CRC.
    void SetEdcLength(uint8_t length);
    void SetResetOnFailure(bool reset) { m_resetOnFailure = reset; }
    // IFS, WTX and N(S) back to their defaults.
    void ResetLink();
    // S(IFS request) / S(WTX request) with the value, sent at most twice; true
    // when the card confirmed with the matching S-response.
    bool NegotiateIfs(uint8_t value);
    bool NegotiateWtx(uint8_t value);

    uint8_t GetEdcLength() const { return m_edcLength; }
    uint8_t GetIfs() const { return m_ifs; }
    uint8_t GetWtx() const { return m_wtx; }
    uint8_t GetNs() const { return m_ns; }
    bool GetResetOnFailure() const { return m_resetOnFailure; }
    const binary::Binary& GetLastSentBlock() const { return m_lastSentBlock; }

    static uint8_t CalcLrc(const uint8_t* bytes, size_t count);
    // CRC_A of ISO/IEC 14443-3; sent least significant byte first.
    static uint16_t CalcCrcA(const uint8_t* bytes, size_t count);
    // Trace name of a block from its PCB alone.
    static std::string BlockName(uint8_t pcb);

    // The complete block of a kind with its INF; sequence is N(S) of an I-block
    // or N(R) of an R-block, ignored for S-blocks.
    binary::Binary BuildBlock(BlockKind kind, uint8_t sequence, const binary::Binary& inf) const;
    // The block received, when it passes every check of ISO/IEC 7816-3, 11.3 and 11.6.
    std::optional<Block> CheckBlock(const binary::Binary& received) const;

protected:
    bool m_resetOnFailure = true;
    binary::Binary m_lastSentBlock;
    uint8_t m_edcLength = 1;
    uint8_t m_ifs = DefaultIfs;
    uint8_t m_wtx = 0;
    uint8_t m_ns = 0;
    uint8_t m_defaultIfs = DefaultIfs;
    uint8_t m_defaultWtx = 0;
    iReader* m_reader;

private:
    bool Negotiate(BlockKind request, uint8_t value, uint8_t& field);
    void RestoreDefaults();
    // Sends the encoded command piece by piece; false when a resynchronisation
    // made the card forget the command, which then starts over.
    bool SendCommand(const binary::Binary& encoded, RApdu& response);
    [[noreturn]] void Fail(const Exception& cause, RApdu& response);

    // N(S) of the card's last I-block; its inverse is the N(R) asking for the next.
    uint8_t m_cardNs = 1;
    bool m_restartCommand = false;
    // Resynchronisations of the command in progress.
    int m_resynchs = 0;
};

// The T=1 engine of a reader that moves the card's characters itself: each
// block goes out and comes back byte by byte over the link, traced to log at
// level 3 when transport_log is set.
class ByteLink_T1 : public Protocol_T1 {
public:
    // None of the pointers is owned; log may be null (no traces).
    ByteLink_T1(iReader* reader, iByteLink* link, iLog* log);
    bool TransmitBlock(const binary::Binary& block, binary::Binary& received) override;

private:
    void Trace(const char* direction, const binary::Binary& block) const;

    iByteLink* m_link;
    iLog* m_log;
};

}  // namespace ZORVIK
