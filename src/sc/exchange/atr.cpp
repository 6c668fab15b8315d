#include "sc/exchange/atr.h"

#include "service/common/exception.h"
#include "service/log/log.h"

namespace ZORVIK {

namespace {

const char* const InvalidAtr = "Invalid ATR";
// The report goes to the log at this importance.
constexpr int32_t ReportLevel = 3;
// ISO/IEC 7816-3 allows 32 characters after TS; positions of historical bytes
// are bounded accordingly.
constexpr uint32_t HistoricalPositionLimit = 31;
constexpr size_t MaxProtocolRecords = 31;

constexpr uint16_t Present = 0x100;

// ISO/IEC 7816-3, table 7: Fi and f(max) by FI; 0 marks a reserved value.
struct FiEntry {
    uint16_t fi;
    uint8_t fmax;  // units of 100 kHz
};
constexpr FiEntry FiTable[16] = {
    {372, 40}, {372, 50}, {558, 60}, {744, 80},   {1116, 120}, {1488, 160}, {1860, 200}, {0, 0},
    {0, 0},    {512, 50}, {768, 75}, {1024, 100}, {1536, 150}, {2048, 200}, {0, 0},      {0, 0},
};
// ISO/IEC 7816-3, table 8: Di by DI; 0 marks a reserved value.
constexpr uint16_t DiTable[16] = {0, 1, 2, 4, 8, 16, 32, 64, 12, 20, 0, 0, 0, 0, 0, 0};

// Reads interface and historical characters without ever passing the end of the data.
class AtrReader {
public:
    AtrReader(const uint8_t* bytes, uint32_t length) : m_bytes(bytes), m_length(length) {}

    uint8_t Next() {
        ZORVIK_CHECK("ZORVIK::ATR::ParseAtr", m_position < m_length, InvalidAtr);
        return m_bytes[m_position++];
    }
    // Reads the character when indicated; records it, present or absent, in list.
    uint16_t Optional(bool indicated, std::vector<uint16_t>& list) {
        const uint16_t entry = indicated ? static_cast<uint16_t>(Present | Next()) : 0;
        list.push_back(entry);
        return entry;
    }
    // The K historical bytes, each at a position no further than limit.
    void Historical(uint32_t count, uint32_t limit, binary::Binary& out) {
        for (uint32_t i = 0; i < count; ++i) {
            ZORVIK_CHECK("ZORVIK::ATR::ParseAtr", m_position <= limit, InvalidAtr);
            out.push_back(Next());
        }
    }
    // ISO/IEC 7816-3, 8.2.5: the exclusive-or of T0 up to and including TCK is zero.
    void CheckTck(AtrDetail& detail) {
        detail.tck = Next();
        uint8_t sum = 0;
        for (uint32_t i = 1; i < m_position; ++i) {
            sum ^= m_bytes[i];
        }
        ZORVIK_CHECK("ZORVIK::ATR::ParseAtr", sum == 0, InvalidAtr);
        detail.tckOk = true;
    }
    uint32_t Position() const { return m_position; }
    uint32_t Length() const { return m_length; }

private:
    const uint8_t* m_bytes;
    uint32_t m_length;
    uint32_t m_position = 0;
};

bool IsPresent(uint16_t entry) { return (entry & Present) != 0; }
uint8_t ValueOf(uint16_t entry) { return static_cast<uint8_t>(entry); }

}  // namespace

void ATR::DecodeTA1(uint8_t ta, AtrProtocolRecord& record) {
    const uint8_t fiIndex = ta >> 4;
    const uint8_t diIndex = ta & 0x0F;
    // Each half of ta1 follows its own nibble: a reserved FI or DI keeps the half
    // the record held (0x11 by default), so a PPS never asks for an undefined value.
    if (FiTable[fiIndex].fi != 0) {
        record.Fi = FiTable[fiIndex].fi;
        record.fmax = FiTable[fiIndex].fmax;
        record.ta1 = static_cast<uint8_t>(fiIndex << 4 | (record.ta1 & 0x0F));
    }
    if (DiTable[diIndex] != 0) {
        record.Di = DiTable[diIndex];
        record.ta1 = static_cast<uint8_t>((record.ta1 & 0xF0) | diIndex);
    }
}

void ATR::ParseAtr(const uint8_t* bytes, uint32_t length, AtrDetail& detail) {
    static const char* const Where = "ZORVIK::ATR::ParseAtr";
    ZORVIK_CHECK(Where, bytes != nullptr, InvalidAtr);
    detail = AtrDetail();
    AtrReader reader(bytes, length);

    // ISO/IEC 7816-3, 8.1: TS is 3B (direct) or 3F (inverse convention).
    const uint8_t ts = reader.Next();
    ZORVIK_CHECK(Where, ts == 0x3B || ts == 0x3F, InvalidAtr);
    detail.TA.push_back(0);
    detail.TB.push_back(0);
    detail.TC.push_back(0);
    const uint8_t t0 = reader.Next();
    detail.TD.push_back(static_cast<uint16_t>(Present | t0));
    const uint32_t historicalCount = t0 & 0x0F;

    // Level 1: global characters; the implicit T=0 record carries TA1.
    AtrProtocolRecord first;
    const uint16_t ta1 = reader.Optional(t0 & 0x10, detail.TA);
    if (IsPresent(ta1)) {
        DecodeTA1(ValueOf(ta1), first);
    }
    detail.protocols.push_back(first);
    reader.Optional(t0 & 0x20, detail.TB);
    reader.Optional(t0 & 0x40, detail.TC);
    const uint16_t td1 = reader.Optional(t0 & 0x80, detail.TD);
    if (!IsPresent(td1)) {
        reader.Historical(historicalCount, HistoricalPositionLimit, detail.historical);
        return;
    }

    // Level 2: TD1 names the first offered protocol; TA2 is the specific mode byte.
    AtrProtocolRecord offered = first;
    offered.T = ValueOf(td1) & 0x0F;
    ZORVIK_CHECK(Where, offered.T <= 14, InvalidAtr);
    const uint16_t ta2 = reader.Optional(ValueOf(td1) & 0x10, detail.TA);
    if (IsPresent(ta2)) {
        offered.modeChange =
            (ValueOf(ta2) & 0x80) ? AtrProtocolRecord::CannotChangeMode : AtrProtocolRecord::CanChangeMode;
        // ISO/IEC 7816-3, 8.3: bit 5 of TA2 set means implicit Fi and Di.
        if (ValueOf(ta2) & 0x10) {
            offered.Fi = 372;
            offered.Di = 1;
            offered.fmax = 50;
            offered.ta1 = 0x11;
        }
        offered.T = ValueOf(ta2) & 0x0F;
    }
    detail.protocols.push_back(offered);
    reader.Optional(ValueOf(td1) & 0x20, detail.TB);
    reader.Optional(ValueOf(td1) & 0x40, detail.TC);
    uint16_t td = reader.Optional(ValueOf(td1) & 0x80, detail.TD);
    // ISO/IEC 7816-3, 8.2.5: TCK is absent only when T=0 alone is indicated.
    detail.tckRequired = offered.T != 0;
    if (!IsPresent(td)) {
        reader.Historical(historicalCount, HistoricalPositionLimit, detail.historical);
        if (detail.tckRequired) {
            reader.CheckTck(detail);
        }
        return;
    }

    // Levels 3 and on: the meaning of TA(i+1), TB(i+1), TC(i+1) depends on the
    // protocol T of TD(i).
    while (IsPresent(td) && detail.protocols.size() < MaxProtocolRecords) {
        const uint8_t y = ValueOf(td);
        AtrProtocolRecord record = first;
        record.T = y & 0x0F;
        if (record.T != 0) {
            detail.tckRequired = true;
        }
        detail.protocols.push_back(record);
        const uint16_t ta = reader.Optional(y & 0x10, detail.TA);
        const uint16_t tb = reader.Optional(y & 0x20, detail.TB);
        const uint16_t tc = reader.Optional(y & 0x40, detail.TC);
        if (record.T == 15) {
            if (IsPresent(ta) && !detail.globalTA.present) {
                detail.globalTA = {true, ValueOf(ta)};
            }
            if (IsPresent(tb) && !detail.globalTB.present) {
                detail.globalTB = {true, ValueOf(tb)};
            }
        } else if (record.T == 1) {
            if (IsPresent(ta) && !detail.t1TA.present) {
                detail.t1TA = {true, ValueOf(ta)};
            }
            if (IsPresent(tb) && !detail.t1TB.present) {
                detail.t1TB = {true, ValueOf(tb)};
            }
            if (IsPresent(tc) && !detail.t1TC.present) {
                detail.t1TC = {true, ValueOf(tc)};
            }
        }
        td = reader.Optional(y & 0x80, detail.TD);
    }

    reader.Historical(historicalCount, HistoricalPositionLimit - 1, detail.historical);
    if (detail.tckRequired && reader.Position() < reader.Length()) {
        ZORVIK_CHECK(Where, reader.Position() + 1 == reader.Length(), "TCK must present");
        reader.CheckTck(detail);
    } else {
        ZORVIK_CHECK(Where, reader.Position() == reader.Length(), "Wrong ATR length");
    }
}

void ATR::SetAtr(const binary::Binary& raw, bool parseNow) {
    if (raw != m_raw) {
        m_elaborated = false;
    }
    // The bytes are stored first, so that a failed parse is met again by every
    // later question instead of answering from the previous answer to reset.
    m_raw = raw;
    if (parseNow) {
        Elaborate(m_raw, nullptr);
        m_elaborated = true;
    }
}

void ATR::EnsureElaborated() {
    if (!m_elaborated) {
        Elaborate(m_raw, nullptr);
        m_elaborated = true;
    }
}

void ATR::Elaborate(const binary::Binary& raw, iLog* log) {
    ZORVIK_CHECK("ZORVIK::ATR::Elaborate", !raw.empty(), InvalidAtr);
    if (!m_elaborated) {
        ParseAtr(raw.data(), static_cast<uint32_t>(raw.size()), m_detail);
    }
    Evaluate(log);
}

void ATR::Evaluate(iLog* log) {
    m_preferredProtocol = ProtocolT0;
    m_ppsEnabled = true;
    m_specificMode = false;
    m_ifsc = 32;
    m_edc = 0;
    m_canChangeMode = true;
    m_t0Supported = false;
    m_t1Supported = false;

    std::vector<AtrProtocolRecord>& records = m_detail.protocols;
    for (AtrProtocolRecord& record : records) {
        record.firstOffered = false;
        record.preferred = false;
    }
    ZORVIK_CHECK("ZORVIK::ATR::Elaborate", !records.empty(), InvalidAtr);

    // The implicit T=0 record stands for the card only when nothing else is offered.
    std::vector<const AtrProtocolRecord*> visited;
    uint32_t reportPreferred = ProtocolT0;
    bool preferredFound = false;
    for (size_t i = records.size() > 1 ? 1 : 0; i < records.size(); ++i) {
        AtrProtocolRecord& record = records[i];
        visited.push_back(&record);
        if (record.T == 0) {
            m_t0Supported = true;
        } else if (record.T == 1) {
            m_t1Supported = true;
            if (!preferredFound) {
                record.preferred = true;
                reportPreferred = ProtocolT1;
                preferredFound = true;
            }
        }
    }
    if (!preferredFound) {
        AtrProtocolRecord& record = records.size() > 1 ? records[1] : records[0];
        record.preferred = true;
        reportPreferred = record.T;
        m_t0Supported = m_t0Supported || record.T == 0;
        m_t1Supported = m_t1Supported || record.T == 1;
    }

    const bool hasTD1 = m_detail.TD.size() > 1 && IsPresent(m_detail.TD[1]);
    uint32_t firstOffered = ProtocolT0;
    if (hasTD1) {
        records[1].firstOffered = true;
        firstOffered = records[1].T;
        // ISO/IEC 7816-3, 6.3.1: TA2 present means specific mode, no PPS.
        if (m_detail.TA.size() > 2 && IsPresent(m_detail.TA[2])) {
            m_ppsEnabled = false;
            m_specificMode = true;
            m_canChangeMode = records[1].modeChange == AtrProtocolRecord::CanChangeMode;
        }
    } else {
        records[0].firstOffered = true;
    }
    m_preferredProtocol = firstOffered <= ProtocolT1 ? firstOffered : ProtocolRaw;

    if (m_t1Supported) {
        m_ifsc = m_detail.t1TA.present ? m_detail.t1TA.value : 32;
        // ISO/IEC 7816-3, 11.4.4: bit 1 of the first TC for T=1 selects CRC.
        m_edc = (m_detail.t1TC.present && (m_detail.t1TC.value & 0x01)) ? 1 : 0;
    }

    if (log != nullptr) {
        // ISO/IEC 7816-3, 10.2: WI from TC2, 10 by default.
        const uint32_t wi =
            (m_t0Supported && m_detail.TC.size() > 2 && IsPresent(m_detail.TC[2])) ? ValueOf(m_detail.TC[2]) : 10;
        Report(*log, visited, reportPreferred, hasTD1, wi);
    }
}

void ATR::Report(iLog& log, const std::vector<const AtrProtocolRecord*>& visited, uint32_t reportPreferred, bool hasTD1,
                 uint32_t wi) const {
    auto line = [&log](const char* text) { LogPrintf(&log, ReportLevel, "%s", text); };
    const std::vector<AtrProtocolRecord>& records = m_detail.protocols;

    line("{ ATR");
    line("Protocols:");
    for (const AtrProtocolRecord* record : visited) {
        LogPrintf(&log, ReportLevel, "T=%d", record->T);
        LogPrintf(&log, ReportLevel, "Fi=%d", record->Fi);
        LogPrintf(&log, ReportLevel, "Di=%d", record->Di);
        LogPrintf(&log, ReportLevel, "(f*10)=%d", record->fmax);
        LogPrintf(&log, ReportLevel, "TA1=%02X", record->ta1);
        line("---------");
    }
    if (reportPreferred == ProtocolT0) {
        line("Preferred protocol T=0");
    } else if (reportPreferred == ProtocolT1) {
        line("Preferred protocol T=1");
    } else {
        line("Preferred protocol RAW");
    }

    // ISO/IEC 7816-3, 8.3: extra guard time from TC1; R = Fi/Di when T=15 is
    // present in the answer to reset, else the F/D in use.
    bool hasT15 = false;
    for (const AtrProtocolRecord& record : records) {
        hasT15 = hasT15 || record.T == 15;
    }
    auto guardTimeLines = [&] {
        line("GT = 12etu + R * (N/f) [for T=0 and T=1]");
        if (hasT15) {
            LogPrintf(&log, ReportLevel, "R = Fi / Di (from TA1): Fi=%d, Di=%d", records[0].Fi, records[0].Di);
        } else {
            line("R = F / D (default values)");
        }
    };
    const bool hasTC1 = m_detail.TC.size() > 1 && IsPresent(m_detail.TC[1]);
    const uint8_t n = hasTC1 ? ValueOf(m_detail.TC[1]) : 0;
    LogPrintf(&log, ReportLevel, "EGT=%d", n);
    if (n < 255) {
        guardTimeLines();
    } else {
        // N = 255: the minimum guard time of the protocol the card starts with.
        const uint32_t firstT = hasTD1 ? records[1].T : records[0].T;
        if (firstT == 1) {
            line("T=1, N=255, CGT = 11 etu in both directions");
        } else {
            line("T=0, N=255, GT = 12 etu in PPS");
        }
    }

    if (!hasTD1) {
        line("Only T=0 protocol supported");
        line("PPS enabled");
    } else {
        LogPrintf(&log, ReportLevel, "First offered protocol T=%d", records[1].T);
        if (m_specificMode) {
            line("TA2 peresent - PPS disabled");
            line(m_canChangeMode ? "Card can change mode (negotiable/specific)"
                                 : "Card can not change mode (negotiable/specific)");
        } else {
            line("TA2 NOT peresent - PPS enabled");
        }
    }
    if (m_t0Supported) {
        LogPrintf(&log, ReportLevel, "T=0 specific : WI=%d [ WT=WI*960*(Fi/f) ]", wi);
    }

    // ISO/IEC 7816-3, 8.3: the first TA after T=15 holds clock stop (X) and classes (Y).
    const uint8_t xy = m_detail.globalTA.present ? m_detail.globalTA.value : 0x01;
    static const char* const ClockStop[4] = {"X: clock stop not supported", "X: state L", "X: state H",
                                             "X: no preference"};
    line(ClockStop[xy >> 6]);
    switch (xy & 0x3F) {
        case 0x01: line("Y: A only"); break;
        case 0x02: line("Y: B only"); break;
        case 0x04: line("Y: C only"); break;
        case 0x03: line("Y: A and B"); break;
        case 0x06: line("Y: B and C"); break;
        case 0x07: line("Y: A, B and C"); break;
        default: line("Y: RFU"); break;
    }
    // ISO/IEC 7816-3, 8.3: the first TB after T=15 tells the use of SPU (C6).
    const uint8_t spu = m_detail.globalTB.present ? m_detail.globalTB.value : 0;
    if (spu == 0) {
        line("card does not use SPU");
    } else if (spu & 0x80) {
        line("card use proprietary SPU");
    } else {
        line("card use standard SPU");
    }

    if (m_t1Supported) {
        line("T=1 specific : ");
        if (m_detail.t1TA.present) {
            LogPrintf(&log, ReportLevel, "  IFSC = %d", m_detail.t1TA.value);
        } else {
            line("  IFSC = 32");
        }
        // ISO/IEC 7816-3, 11.4.3: BWI in the high nibble, CWI in the low one.
        if (m_detail.t1TB.present) {
            LogPrintf(&log, ReportLevel, "  CWI = %d", m_detail.t1TB.value & 0x0F);
            LogPrintf(&log, ReportLevel, "  BWI = %d", m_detail.t1TB.value >> 4);
        } else {
            line("  CWI = 13");
            line("  BWI = 4");
        }
        line(m_edc == 1 ? "  CRC used" : "  LRC used");
    }
    if (!m_detail.historical.empty()) {
        line("Historical Bytes:");
        for (uint8_t byte : m_detail.historical) {
            LogPrintf(&log, ReportLevel, "%02X", byte);
        }
    }
    if (m_detail.tckRequired) {
        LogPrintf(&log, ReportLevel, "TCK: %02X", m_detail.tck);
        line(m_detail.tckOk ? "TCK is OK" : "TCK is not OK");
    } else {
        line("no TCK");
    }
    line(" ATR }");
}

uint32_t ATR::GetPreferredProtocol() {
    EnsureElaborated();
    return m_preferredProtocol;
}

uint8_t ATR::GetIFSC() {
    EnsureElaborated();
    return m_ifsc;
}

uint8_t ATR::GetEdcLength() {
    EnsureElaborated();
    return m_edc == 1 ? 2 : 1;
}

bool ATR::CanChangeMode() {
    EnsureElaborated();
    return m_canChangeMode;
}

bool ATR::IsPpsEnabled() {
    EnsureElaborated();
    return m_ppsEnabled;
}

bool ATR::IsProtocolSupported(uint32_t T) {
    EnsureElaborated();
    if (T == ProtocolT0) {
        return m_t0Supported;
    }
    if (T == ProtocolT1) {
        return m_t1Supported;
    }
    return false;
}

const AtrDetail& ATR::GetDetail() {
    EnsureElaborated();
    return m_detail;
}

uint8_t ATR::GetTA(uint32_t T) {
    static const char* const Where = "ZORVIK::ATR::GetTA";
    ZORVIK_CHECK(Where, IsProtocolSupported(T), "Protocol not supported");
    for (const AtrProtocolRecord& record : m_detail.protocols) {
        if (record.T == T) {
            return record.ta1;
        }
    }
    ZORVIK_CHECK(Where, false, "Protocol not supported");
    return 0;
}

uint32_t ATR::MakePPS(uint32_t T, binary::Binary& pps, bool strict) {
    static const char* const Where = "ZORVIK::ATR::MakePPS";
    EnsureElaborated();
    ZORVIK_CHECK(Where, m_ppsEnabled, "PPS disabled");
    uint32_t used = T;
    if (!IsProtocolSupported(T)) {
        ZORVIK_CHECK(Where, !strict, "Cannot Make PPS");
        if (T == ProtocolT1 && m_t0Supported) {
            used = ProtocolT0;
        } else if (T == ProtocolT0 && m_t1Supported) {
            used = ProtocolT1;
        } else {
            ZORVIK_CHECK(Where, false, "Cannot Make PPS");
        }
    }
    uint8_t pps1 = 0x00;
    for (const AtrProtocolRecord& record : m_detail.protocols) {
        if (record.T == used) {
            pps1 = record.ta1;
            break;
        }
    }
    // ISO/IEC 7816-3, 9.2: PPSS FF, PPS0 announcing PPS1 and the protocol, PPS1, PCK.
    const uint8_t ppss = 0xFF;
    const uint8_t pps0 = static_cast<uint8_t>(0x10 | used);
    pps.assign({ppss, pps0, pps1, static_cast<uint8_t>(ppss ^ pps0 ^ pps1)});
    return used;
}

}  // namespace ZORVIK
