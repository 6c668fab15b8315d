#include "sc/drivers/pcsc/pcsc_reader.h"

#include <algorithm>
#include <thread>

#include "sc/exchange/capdu_rapdu.h"
#include "service/common/printf.h"
#include "service/log/log.h"

namespace ZORVIK {

namespace {

constexpr const char* kCardNotInserted = "Card not inserted";
constexpr size_t kAtrBufferSize = MAX_ATR_SIZE;
// Colours of the TPDU dump and of a failure to write it.
constexpr int32_t kDumpColour = 6;
constexpr int32_t kDumpFailureColour = 14;
constexpr std::chrono::milliseconds kMifarePoll{20};

[[noreturn]] void ThrowPcsc(const char* label, LONG result, int32_t code, const char* function) {
    throw CardDrvException(PcscFailureText(label, result), code, ZORVIK_PLACE(function));
}

DWORD PreferredProtocol(uint32_t entry) { return entry == ProtocolT0 ? SCARD_PROTOCOL_T0 : SCARD_PROTOCOL_T1; }

const char* DumpTitle(DWORD protocol) {
    switch (protocol) {
        case SCARD_PROTOCOL_T0: return "~~~~~~ TPDU T=0 ~~~~~~~";
        case SCARD_PROTOCOL_T1: return "~~~~~~ TPDU T=1 ~~~~~~~";
        case SCARD_PROTOCOL_RAW: return "~~~~~~ TPDU RAW ~~~~~~~";
        default: return "~~~~~ TPDU UNKNOWN ~~~~";
    }
}

const char* ProtocolName(DWORD protocol) {
    switch (protocol) {
        case SCARD_PROTOCOL_T0: return "T0";
        case SCARD_PROTOCOL_T1: return "T1";
        case SCARD_PROTOCOL_RAW: return "RAW";
        default: return "UNDEFINED";
    }
}

// One blank between bytes, a line break every 16 bytes.
std::string DumpHex(const binary::Binary& bytes) { return binary::ToHex(bytes, 1, 0, 16); }

// Splits an answer into data and status word; ne 0 leaves no data, longer data is cut to ne.
void DecodeAnswer(const binary::Binary& answer, uint32_t ne, RApdu& response, const char* function) {
    if (answer.size() < 2) {
        throw CardDrvException("Cannot get response from card", CardDrvError::NoResponse, ZORVIK_PLACE(function));
    }
    response.data.assign(answer.begin(), answer.end() - 2);
    response.sw1 = answer[answer.size() - 2];
    response.sw2 = answer[answer.size() - 1];
    if (response.data.size() > ne) response.data.resize(ne);
}

// The reader's state as PC/SC reports it within 1 ms: the result of the query
// (SCARD_E_UNKNOWN_READER also when the state says so) and whether a card lies
// in the reader.
LONG QueryCard(PcscApi& api, SCARDCONTEXT context, const char* reader, bool& present) {
    SCARD_READERSTATE state{};
    state.szReader = reader;
    state.dwCurrentState = SCARD_STATE_UNAWARE;
    LONG result = api.GetStatusChange(context, 1, &state, 1);
    if (result == SCARD_S_SUCCESS && (state.dwEventState & SCARD_STATE_UNKNOWN) != 0) result = SCARD_E_UNKNOWN_READER;
    present = result == SCARD_S_SUCCESS && (state.dwEventState & SCARD_STATE_PRESENT) != 0;
    return result;
}

bool CardPresent(PcscApi& api, SCARDCONTEXT context, const char* reader) {
    bool present = false;
    QueryCard(api, context, reader, present);
    return present;
}

// The attributes of the full record in alphabetical order of their names; each
// is either a number or a text.
struct AttributeField {
    DWORD id;
    uint32_t PcscCardAttributes::*number;
    std::string PcscCardAttributes::*text;
};

using A = PcscCardAttributes;
const AttributeField kAttributeFields[] = {
    {SCARD_ATTR_CHANNEL_ID, &A::channelId, nullptr},
    {SCARD_ATTR_CHARACTERISTICS, &A::characteristics, nullptr},
    {SCARD_ATTR_CURRENT_BWT, &A::currentBwt, nullptr},
    {SCARD_ATTR_CURRENT_CLK, &A::currentClk, nullptr},
    {SCARD_ATTR_CURRENT_CWT, &A::currentCwt, nullptr},
    {SCARD_ATTR_CURRENT_D, &A::currentD, nullptr},
    {SCARD_ATTR_CURRENT_EBC_ENCODING, &A::currentEbcEncoding, nullptr},
    {SCARD_ATTR_CURRENT_F, &A::currentF, nullptr},
    {SCARD_ATTR_CURRENT_IFSC, &A::currentIfsc, nullptr},
    {SCARD_ATTR_CURRENT_IFSD, &A::currentIfsd, nullptr},
    {SCARD_ATTR_CURRENT_N, &A::currentN, nullptr},
    {SCARD_ATTR_CURRENT_PROTOCOL_TYPE, &A::currentProtocolType, nullptr},
    {SCARD_ATTR_CURRENT_W, &A::currentW, nullptr},
    {SCARD_ATTR_DEFAULT_CLK, &A::defaultClk, nullptr},
    {SCARD_ATTR_DEFAULT_DATA_RATE, &A::defaultDataRate, nullptr},
    {SCARD_ATTR_DEVICE_FRIENDLY_NAME, nullptr, &A::deviceFriendlyName},
    {SCARD_ATTR_DEVICE_SYSTEM_NAME, nullptr, &A::deviceSystemName},
    {SCARD_ATTR_DEVICE_UNIT, &A::deviceUnit, nullptr},
    {SCARD_ATTR_ICC_INTERFACE_STATUS, &A::iccInterfaceStatus, nullptr},
    {SCARD_ATTR_ICC_PRESENCE, &A::iccPresence, nullptr},
    {SCARD_ATTR_ICC_TYPE_PER_ATR, &A::iccTypePerAtr, nullptr},
    {SCARD_ATTR_MAX_CLK, &A::maxClk, nullptr},
    {SCARD_ATTR_MAX_DATA_RATE, &A::maxDataRate, nullptr},
    {SCARD_ATTR_MAX_IFSD, &A::maxIfsd, nullptr},
    {SCARD_ATTR_POWER_MGMT_SUPPORT, &A::powerMgmtSupport, nullptr},
    {SCARD_ATTR_ASYNC_PROTOCOL_TYPES, &A::asyncProtocolTypes, nullptr},
    {SCARD_ATTR_VENDOR_IFD_TYPE, nullptr, &A::vendorIfdType},
    {SCARD_ATTR_VENDOR_IFD_VERSION, &A::vendorIfdVersion, nullptr},
    {SCARD_ATTR_VENDOR_NAME, nullptr, &A::vendorName},
};

}  // namespace

// ---------------------------------------------------------------------------
// Engines

PCSC_Reader_T0::PCSC_Reader_T0(PCSC_Reader* reader) : Protocol_T0(reader), m_pcscReader(reader) {}

void PCSC_Reader_T0::RR_Command(const CApdu& tpdu, RApdu& response) {
    binary::Binary request;
    request.reserve(5 + tpdu.data.size());
    tpdu.AppendHeader(request);
    // ISO/IEC 7816-3, 12.2.1: a case-1 TPDU is the header alone; otherwise P3
    // carries Lc, or Le (00 for 256) when there is no data.
    if (tpdu.GetCase() != CApdu::Case1) {
        if (!tpdu.data.empty()) {
            if (tpdu.data.size() > 255) {
                throw CardDrvException("T=0 : Command APDU data size > 255", CardDrvError::T0DataTooLong,
                                       ZORVIK_PLACE("ZORVIK::PCSC_Reader_T0::RR_Command"));
            }
            request.push_back(static_cast<uint8_t>(tpdu.data.size()));
            request += tpdu.data;
        } else {
            request.push_back(tpdu.ne < 256 && !tpdu.forceCase4 ? static_cast<uint8_t>(tpdu.ne) : 0);
        }
    }
    const binary::Binary answer = m_pcscReader->Transmit(request);
    DecodeAnswer(answer, tpdu.ne == 0 ? CApdu::MaxNe : tpdu.ne, response, "ZORVIK::PCSC_Reader_T0::RR_Command");
}

PCSC_Reader_T1::PCSC_Reader_T1(PCSC_Reader* reader) : m_reader(reader) {}

void PCSC_Reader_T1::Command(const CApdu& command, RApdu& response) {
    const binary::Binary answer = m_reader->Transmit(command.Encode());
    DecodeAnswer(answer, command.ne, response, "ZORVIK::PCSC_Reader_T1::Command");
}

// ---------------------------------------------------------------------------
// Reader

PCSC_Reader::PCSC_Reader(const std::string& readerName, const ReaderParams& params, iLog* log, bool mifareEmulation,
                         PcscApi& api)
    : m_api(api), m_log(log), m_params(params), m_mifareState(mifareEmulation ? MifareRequested : MifareNotAsked) {
    const char* const function = "ZORVIK::PCSC_Reader::PCSC_Reader";
    if (readerName.empty()) {
        throw CardDrvException("Wrong reader name", CardDrvError::WrongReaderName, ZORVIK_PLACE(function));
    }
    if (readerName.size() >= MaxReaderName) {
        throw CardDrvException("Reader name too long", CardDrvError::ReaderNameTooLong, ZORVIK_PLACE(function));
    }
    m_readerName = readerName;
    const LONG result = m_api.EstablishContext(SCARD_SCOPE_USER, &m_context);
    if (result != SCARD_S_SUCCESS) ThrowPcsc("SCardEstablishContext:", result, CardDrvError::PcscContext, function);
    m_t0 = std::make_unique<PCSC_Reader_T0>(this);
    m_t1 = std::make_unique<PCSC_Reader_T1>(this);
}

PCSC_Reader::~PCSC_Reader() {
    // Nothing may leave a destructor: a reader whose card went away is released as well as it can be.
    try {
        if (m_mifareState == MifareOn) {
            if (m_card == 0) {
                DWORD active = SCARD_PROTOCOL_UNDEFINED;
                if (m_api.Connect(m_context, m_readerName.c_str(), SCARD_SHARE_SHARED, SCARD_PROTOCOL_T1, &m_card,
                                  &active) != SCARD_S_SUCCESS) {
                    m_card = 0;
                }
            }
            if (m_card != 0) SwitchMifareEmulation(false);
            m_mifareState = MifareRequested;
        }
    } catch (const std::exception&) {
    }
    PowerOff();
    m_t0.reset();
    m_t1.reset();
    m_api.ReleaseContext(m_context);
}

bool PCSC_Reader::IsPowered() const { return CardPresent(m_api, m_context, m_readerName.c_str()); }

void PCSC_Reader::ConnectByProtocolList(bool reconnect) {
    // Left when the list names no usable protocol.
    LONG result = SCARD_E_PROTO_MISMATCH;
    for (const uint32_t entry : m_params.protocols) {
        if (entry != ProtocolT0 && entry != ProtocolT1) continue;
        DWORD active = SCARD_PROTOCOL_UNDEFINED;
        if (reconnect) {
            result = m_api.Reconnect(m_card, SCARD_SHARE_SHARED, PreferredProtocol(entry), SCARD_RESET_CARD, &active);
        } else {
            SCARDHANDLE card = 0;
            result = m_api.Connect(m_context, m_readerName.c_str(), SCARD_SHARE_SHARED, PreferredProtocol(entry), &card,
                                   &active);
            if (result == SCARD_S_SUCCESS) m_card = card;
        }
        if (result == SCARD_S_SUCCESS) {
            m_activeProtocol = active;
            return;
        }
    }
    ThrowPcsc("SCardConnect:", result, CardDrvError::CardConnection, "ZORVIK::PCSC_Reader::ConnectByProtocolList");
}

void PCSC_Reader::Disconnect(DWORD disposition) {
    if (m_card == 0) return;
    // A card that has gone already cannot be disconnected any better; the handle is dropped all the same.
    m_api.Disconnect(m_card, disposition);
    m_card = 0;
    m_activeProtocol = SCARD_PROTOCOL_UNDEFINED;
}

void PCSC_Reader::PowerOn(ATR& atr) {
    if (m_card != 0) return;
    bool present = false;
    const LONG state = QueryCard(m_api, m_context, m_readerName.c_str(), present);
    // A name that PC/SC does not know (a typo) is no empty reader: its own text names the cause.
    if (state == SCARD_E_UNKNOWN_READER) {
        ThrowPcsc("SCardGetStatusChange:", state, CardDrvError::WrongReaderName, "ZORVIK::PCSC_Reader::PowerOn");
    }
    if (!present) {
        throw CardDrvException(kCardNotInserted, CardDrvError::CardNotInserted,
                               ZORVIK_PLACE("ZORVIK::PCSC_Reader::PowerOn"));
    }
    ConnectByProtocolList(false);
    try {
        if (m_mifareState == MifareRequested) {
            SwitchMifareEmulation(true);
            m_mifareState = MifareOn;
            // The switch makes the reader present the card anew: the old handle is given back first.
            Disconnect(SCARD_LEAVE_CARD);
            DWORD active = SCARD_PROTOCOL_UNDEFINED;
            SCARDHANDLE card = 0;
            const LONG result =
                m_api.Connect(m_context, m_readerName.c_str(), SCARD_SHARE_SHARED, SCARD_PROTOCOL_T1, &card, &active);
            if (result != SCARD_S_SUCCESS) {
                ThrowPcsc("SCardConnect:", result, CardDrvError::CardConnection, "ZORVIK::PCSC_Reader::PowerOn");
            }
            m_card = card;
            m_activeProtocol = active;
        }
        m_atr = ReadAtr();
        atr.SetAtr(m_atr, true);
    } catch (...) {
        Disconnect(SCARD_UNPOWER_CARD);
        throw;
    }
}

void PCSC_Reader::PowerOff() { Disconnect(SCARD_UNPOWER_CARD); }

void PCSC_Reader::Reset(ATR& atr) {
    const char* const function = "ZORVIK::PCSC_Reader::Reset";
    if (m_card == 0) throw CardDrvException(NoCardMessage, CardDrvError::NoCard, ZORVIK_PLACE(function));
    if (!IsPowered()) throw CardDrvException(kCardNotInserted, CardDrvError::CardNotInserted, ZORVIK_PLACE(function));
    ConnectByProtocolList(true);
    m_atr = ReadAtr();
    atr.SetAtr(m_atr, true);
}

binary::Binary PCSC_Reader::ReadAtr() {
    const char* const function = "ZORVIK::PCSC_Reader::ReadAtr";
    binary::Binary atr(kAtrBufferSize);
    DWORD length = static_cast<DWORD>(atr.size());
    LONG result = m_api.GetAttrib(m_card, SCARD_ATTR_ATR_STRING, atr.data(), &length);
    if (result == SCARD_E_UNSUPPORTED_FEATURE || result == SCARD_E_INSUFFICIENT_BUFFER) {
        // Drivers that keep no ATR attribute (vpcd among them): the service's own copy of the ATR.
        length = static_cast<DWORD>(atr.size());
        result = m_api.StatusAtr(m_card, atr.data(), &length);
        if (result != SCARD_S_SUCCESS) ThrowPcsc("SCardStatus:", result, CardDrvError::PcscAttribute, function);
    } else if (result != SCARD_S_SUCCESS) {
        ThrowPcsc("SCardGetAttrib:", result, CardDrvError::PcscAttribute, function);
    }
    atr.resize(std::min<size_t>(length, atr.size()));
    return atr;
}

uint32_t PCSC_Reader::ReadNumericAttribute(DWORD attribute) {
    uint8_t value[4] = {};
    DWORD length = sizeof value;
    const LONG result = m_api.GetAttrib(m_card, attribute, value, &length);
    if (result != SCARD_S_SUCCESS) {
        ThrowPcsc("SCardGetAttrib:", result, CardDrvError::PcscAttribute, "ZORVIK::PCSC_Reader::ReadNumericAttribute");
    }
    // Numeric attributes come in the host's (little-endian) order; a shorter one is zero-extended.
    uint32_t number = 0;
    for (size_t i = 0; i < std::min<size_t>(length, sizeof value); ++i)
        number |= static_cast<uint32_t>(value[i]) << (8 * i);
    return number;
}

std::string PCSC_Reader::ReadTextAttribute(DWORD attribute) {
    // pcsc-lite refuses attribute buffers larger than MAX_BUFFER_SIZE.
    char text[MAX_BUFFER_SIZE] = {};
    DWORD length = sizeof text;
    const LONG result = m_api.GetAttrib(m_card, attribute, reinterpret_cast<uint8_t*>(text), &length);
    if (result != SCARD_S_SUCCESS) {
        ThrowPcsc("SCardGetAttrib:", result, CardDrvError::PcscAttribute, "ZORVIK::PCSC_Reader::ReadTextAttribute");
    }
    const size_t size = std::min<size_t>(length, sizeof text);
    return std::string(text, std::find(text, text + size, '\0'));
}

CardExchParam& PCSC_Reader::GetCardExchParam(CardExchParam& param) {
    const char* const function = "ZORVIK::PCSC_Reader::GetCardExchParam";
    if (m_card == 0) throw CardDrvException(NoCardMessage, CardDrvError::NoCard, ZORVIK_PLACE(function));
    switch (m_activeProtocol) {
        case SCARD_PROTOCOL_T0: param.protocol = ProtocolT0; break;
        case SCARD_PROTOCOL_T1: param.protocol = ProtocolT1; break;
        case SCARD_PROTOCOL_RAW: param.protocol = ProtocolRaw; break;
        default:
            throw CardDrvException("Unknown parameters for current protocol", CardDrvError::UnknownProtocolParams,
                                   ZORVIK_PLACE(function));
    }
    const uint32_t f = ReadNumericAttribute(SCARD_ATTR_CURRENT_F);
    const uint32_t d = ReadNumericAttribute(SCARD_ATTR_CURRENT_D);
    const uint32_t clkKhz = ReadNumericAttribute(SCARD_ATTR_CURRENT_CLK);
    // A reader reporting D 0 (or D above F) would make the divisions below meaningless.
    if (d == 0 || f / d == 0) {
        throw CardDrvException(SafePrintf("SCardGetAttrib: the reader reports F %u and D %u, no clocks per ETU", f, d),
                               CardDrvError::PcscAttribute, ZORVIK_PLACE(function));
    }
    param.clocksPerEtu = f / d;
    const uint64_t clock = static_cast<uint64_t>(clkKhz) * 1000;
    param.clock = static_cast<uint32_t>(std::min<uint64_t>(clock, UINT32_MAX));
    param.bitRate = param.clock / param.clocksPerEtu;
    return param;
}

PcscCardAttributes& PCSC_Reader::GetCardExchParam(PcscCardAttributes& record) {
    GetCardExchParam(static_cast<CardExchParam&>(record));
    record.atrString = ReadAtr();
    for (const AttributeField& field : kAttributeFields) {
        if (field.number != nullptr) {
            record.*field.number = ReadNumericAttribute(field.id);
        } else {
            record.*field.text = ReadTextAttribute(field.id);
        }
    }
    return record;
}

void PCSC_Reader::Command(const CApdu& command, RApdu& response) {
    if (m_card == 0) {
        throw CardDrvException(NoCardMessage, CardDrvError::NoCard, ZORVIK_PLACE("ZORVIK::PCSC_Reader::Command"));
    }
    if (m_activeProtocol == SCARD_PROTOCOL_T0) {
        m_t0->Command(command, response);
    } else {
        m_t1->Command(command, response);
    }
}

void PCSC_Reader::Dump(const char* direction, const binary::Binary& bytes) {
    if (m_log == nullptr) return;
    try {
        const int length = static_cast<int>(bytes.size());
        std::string text = DumpTitle(m_activeProtocol);
        text += SafePrintf(direction, length, length);
        text += DumpHex(bytes);
        m_log->Write(text.c_str(), kDumpColour, true);
    } catch (const std::exception&) {
        // The exchange matters more than its dump.
        try {
            LogPrintfColour(m_log, 6, kDumpFailureColour, "Ошибка вывода TApdu.");
        } catch (const std::exception&) {
        }
    }
}

binary::Binary PCSC_Reader::Transmit(const binary::Binary& request) {
    const SCARD_IO_REQUEST* pci = nullptr;
    switch (m_activeProtocol) {
        case SCARD_PROTOCOL_T0: pci = SCARD_PCI_T0; break;
        case SCARD_PROTOCOL_T1: pci = SCARD_PCI_T1; break;
        case SCARD_PROTOCOL_RAW: pci = SCARD_PCI_RAW; break;
        default: break;
    }
    if (m_params.transport_log) Dump("\nRequest: %d (0x%02X)\n", request);

    // The buffer is kept from one exchange to the next: 64 KiB filled anew each
    // time would cost more than the rest of the driver's work.
    if (m_receiveBuffer.size() != ReceiveBufferSize) m_receiveBuffer.resize(ReceiveBufferSize);
    DWORD length = static_cast<DWORD>(m_receiveBuffer.size());
    const LONG result = pci == nullptr ? SCARD_F_UNKNOWN_ERROR
                                       : m_api.Transmit(m_card, pci, request.data(), static_cast<DWORD>(request.size()),
                                                        m_receiveBuffer.data(), &length);
    // Only a length the call has set tells how much of the buffer holds an answer.
    const size_t received =
        length < m_receiveBuffer.size() ? length : (result == SCARD_S_SUCCESS ? m_receiveBuffer.size() : 0);
    binary::Binary answer(m_receiveBuffer.begin(), m_receiveBuffer.begin() + static_cast<std::ptrdiff_t>(received));
    if (result != SCARD_S_SUCCESS) {
        std::string text = SafePrintf("Request: \n%s\nResponse: \n%s\nProtocol: %s\n", DumpHex(request).c_str(),
                                      DumpHex(answer).c_str(), ProtocolName(m_activeProtocol));
        text += PcscFailureText("SCardTransmit:", result);
        throw CardDrvException(text, CardDrvError::PcscTransmit, ZORVIK_PLACE("ZORVIK::PCSC_Reader::Transmit"));
    }
    if (m_params.transport_log) Dump("Response: %d (0x%02X)\n", answer);
    return answer;
}

void PCSC_Reader::SwitchMifareEmulation(bool on) {
    const uint32_t input[2] = {4, on ? 4u : 0u};
    uint8_t output[16] = {};
    DWORD returned = 0;
    const LONG result = m_api.Control(m_card, MifareControlCode, input, sizeof input, output, sizeof output, &returned);
    if (result != SCARD_S_SUCCESS) {
        ThrowPcsc("SCardControl:", result, CardDrvError::CardConnection, "ZORVIK::PCSC_Reader::SwitchMifareEmulation");
    }
    WaitForCardAfterSwitch();
}

void PCSC_Reader::WaitForCardAfterSwitch() {
    const auto deadline = std::chrono::steady_clock::now() + MifareWaitLimit;
    for (;;) {
        SCARD_READERSTATE state{};
        state.szReader = m_readerName.c_str();
        state.dwCurrentState = SCARD_STATE_EMPTY;
        const auto started = std::chrono::steady_clock::now();
        const LONG result = m_api.GetStatusChange(m_context, kMifarePoll.count(), &state, 1);
        if (result == SCARD_S_SUCCESS && (state.dwEventState & SCARD_STATE_PRESENT) != 0) return;
        if (std::chrono::steady_clock::now() >= deadline) {
            throw CardDrvException(SafePrintf("Mifare emulation switch: no card in reader '%s' within %d s",
                                              m_readerName.c_str(), static_cast<int>(MifareWaitLimit.count())),
                                   CardDrvError::CardConnection,
                                   ZORVIK_PLACE("ZORVIK::PCSC_Reader::WaitForCardAfterSwitch"));
        }
        // A call that fails at once must not turn the poll into a busy loop.
        const auto spent = std::chrono::steady_clock::now() - started;
        if (spent < kMifarePoll) std::this_thread::sleep_for(kMifarePoll - spent);
    }
}

// ---------------------------------------------------------------------------

LONG getPCSCReaderList(std::vector<std::string>& names, bool onlyWithCard, PcscApi& api) {
    SCARDCONTEXT context = 0;
    LONG result = api.EstablishContext(SCARD_SCOPE_USER, &context);
    if (result != SCARD_S_SUCCESS) return result;
    struct ContextGuard {
        PcscApi& api;
        SCARDCONTEXT context;
        ~ContextGuard() { api.ReleaseContext(context); }
    } guard{api, context};

    DWORD length = 0;
    result = api.ListReaders(context, nullptr, &length);
    if (result != SCARD_S_SUCCESS) return result;
    std::vector<char> multiString(length + 1, '\0');
    result = api.ListReaders(context, multiString.data(), &length);
    if (result != SCARD_S_SUCCESS)
        ThrowPcsc("SCardListReaders [2]:", result, CardDrvError::General, "ZORVIK::getPCSCReaderList");

    // Names end in NUL, an empty name ends the list; nothing past the returned length is read.
    const size_t end = std::min<size_t>(length, multiString.size() - 1);
    for (size_t pos = 0; pos < end;) {
        const size_t stop = std::find(multiString.begin() + pos, multiString.begin() + end, '\0') - multiString.begin();
        if (stop == pos) break;
        std::string name(multiString.data() + pos, stop - pos);
        if (!onlyWithCard || CardPresent(api, context, name.c_str())) names.push_back(std::move(name));
        pos = stop + 1;
    }
    return result;
}

}  // namespace ZORVIK
