// The answer to reset read by ISO/IEC 7816-3: interface characters of every
// level, offered protocols and their parameters, historical bytes, TCK, and the
// PPS request built from them.
#pragma once

#include <cstdint>
#include <vector>

#include "service/common/binary.h"

namespace ZORVIK {

class iLog;

// Transmission protocol numbers.
constexpr uint32_t ProtocolT0 = 0;
constexpr uint32_t ProtocolT1 = 1;
constexpr uint32_t ProtocolRaw = 2;  // any other protocol

// One protocol indication of an answer to reset with the parameters that apply to it.
struct AtrProtocolRecord {
    // ModeChange values: taken from TA2 bit 8.
    static constexpr uint32_t CanChangeMode = 0;
    static constexpr uint32_t CannotChangeMode = 1;
    static constexpr uint32_t NoTA2 = 2;

    uint16_t Fi = 372;   // clock rate conversion integer
    uint16_t Di = 1;     // bit rate adjustment integer
    uint8_t fmax = 50;   // maximum clock frequency, units of 100 kHz
    uint8_t T = 0;       // protocol number
    uint8_t ta1 = 0x11;  // the TA1 byte standing for Fi and Di (sent as PPS1)
    uint32_t modeChange = NoTA2;
    bool firstOffered = false;
    bool preferred = false;
};

// An interface character that may be absent.
struct AtrOptionalByte {
    bool present = false;
    uint8_t value = 0;
};

// The parse result of one answer to reset.
struct AtrDetail {
    AtrOptionalByte globalTA;                  // first TA for T=15: clock stop (X) and classes (Y)
    AtrOptionalByte globalTB;                  // first TB for T=15: use of SPU
    AtrOptionalByte t1TA{false, 0x20};         // first TA for T=1: IFSC
    AtrOptionalByte t1TB{false, 0x4D};         // first TB for T=1: BWI (high nibble), CWI (low nibble)
    AtrOptionalByte t1TC;                      // first TC for T=1: bit 1 set = CRC
    std::vector<AtrProtocolRecord> protocols;  // one per protocol indication, in ATR order
    binary::Binary historical;
    bool tckRequired = false;
    uint8_t tck = 0;
    bool tckOk = false;
    // One entry per level i: low byte the value, high byte 1 when present.
    // TD[0] is T0; TA[0], TB[0] and TC[0] are absent placeholders.
    std::vector<uint16_t> TA, TB, TC, TD;
};

class ATR {
public:
    ATR() = default;
    ATR(const ATR&) = default;
    ATR& operator=(const ATR&) = default;
    ATR(ATR&&) noexcept = default;
    ATR& operator=(ATR&&) noexcept = default;
    virtual ~ATR() = default;

    // Stores new answer-to-reset bytes; the evaluation is redone at the next
    // question when they differ, or at once when parseNow is set.
    void SetAtr(const binary::Binary& raw, bool parseNow = false);
    const binary::Binary& GetRaw() const { return m_raw; }

    // Evaluates raw; with a log, writes a readable report to it.
    void Elaborate(const binary::Binary& raw, iLog* log);

    uint32_t GetPreferredProtocol();
    uint8_t GetIFSC();
    // Length of the T=1 epilogue: 2 for CRC, 1 for LRC.
    uint8_t GetEdcLength();
    bool CanChangeMode();
    bool IsPpsEnabled();
    bool IsProtocolSupported(uint32_t T);
    // The TA1 byte of the first record of protocol T.
    uint8_t GetTA(uint32_t T);
    // Builds PPSS PPS0 PPS1 PCK for protocol T and returns the protocol actually
    // requested; without strict it may fall back to the other of T=0 and T=1.
    uint32_t MakePPS(uint32_t T, binary::Binary& pps, bool strict);

    // The parse result; evaluates first when needed.
    const AtrDetail& GetDetail();

    // Decodes a byte in TA1 format (ISO/IEC 7816-3, tables 7 and 8) into record;
    // reserved nibbles leave their fields as they were.
    static void DecodeTA1(uint8_t ta, AtrProtocolRecord& record);
    // Parses length bytes into detail; throws "Invalid ATR", "TCK must present"
    // or "Wrong ATR length". Never reads outside the given bytes.
    static void ParseAtr(const uint8_t* bytes, uint32_t length, AtrDetail& detail);

private:
    void EnsureElaborated();
    void Evaluate(iLog* log);
    void Report(iLog& log, const std::vector<const AtrProtocolRecord*>& visited, uint32_t reportPreferred, bool hasTD1,
                uint32_t wi) const;

    binary::Binary m_raw;
    uint32_t m_preferredProtocol = ProtocolT0;
    bool m_ppsEnabled = true;
    bool m_specificMode = false;
    uint8_t m_ifsc = 32;
    uint32_t m_edc = 0;  // 1 CRC, 0 LRC
    bool m_canChangeMode = true;
    AtrDetail m_detail;
    bool m_elaborated = false;
    bool m_t0Supported = false;
    bool m_t1Supported = false;
};

}  // namespace ZORVIK
