// The PC/SC reader over a stand-in for the PC/SC service, for the paths that a
// real driver cannot be made to show (attribute values and failures, control
// codes, failing transmissions, short answers, reader names); then end to end,
// where a private pcscd serves vpcd's virtual readers and the virtual card of
// support/vpcd_card.h sits in the first one.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <deque>
#include <map>
#include <set>
#include <thread>

#include "sc/card_service/apdu_writer.h"
#include "sc/card_service/card_service.h"
#include "sc/card_service/expected_status.h"
#include "sc/drivers/iso/byte_reader_helpers.h"
#include "sc/drivers/pcsc/pcsc_reader.h"
#include "service/log/recording_log.h"
#include "support/file_text.h"
#include "support/pcsc_fixture.h"
#include "support/test_dir.h"

namespace ZORVIK {
namespace {

using binary::Binary;
using test::DriverError;
using test::DriverErrorOf;
using Names = std::vector<std::string>;
using test::PrivatePcscd;
using test::VpcdCardModel;

constexpr SCARDHANDLE kCard = 0x5678;
constexpr const char* kReader = "OMNIKEY CardMan 5x21 00 00";

Binary Le32(uint32_t value) {
    return Binary{static_cast<uint8_t>(value), static_cast<uint8_t>(value >> 8), static_cast<uint8_t>(value >> 16),
                  static_cast<uint8_t>(value >> 24)};
}

// Answers as scripted and logs the calls with their main argument ("Connect 2":
// T=1 preferred, 1 is T=0). An attribute without a value is a number, the low
// 16 bits of its identifier.
class FakePcsc : public PcscApi {
public:
    LONG EstablishContext(DWORD scope, SCARDCONTEXT* context) override {
        EXPECT_EQ(scope, static_cast<DWORD>(SCARD_SCOPE_USER));
        *context = 0x1234;
        return Call("Establish", 0);
    }
    LONG ReleaseContext(SCARDCONTEXT) override { return Call("Release", 0); }
    LONG ListReaders(SCARDCONTEXT, char* readers, DWORD* length) override {
        if (readers == nullptr) {
            *length = static_cast<DWORD>(readerList.size());
            return listSizeResult;
        }
        if (listResult != SCARD_S_SUCCESS) return listResult;
        std::memcpy(readers, readerList.data(), std::min<size_t>(*length, readerList.size()));
        *length = static_cast<DWORD>(readerList.size());
        return SCARD_S_SUCCESS;
    }
    LONG GetStatusChange(SCARDCONTEXT, DWORD timeoutMs, SCARD_READERSTATE* states, DWORD count) override {
        EXPECT_EQ(count, 1u);
        // SCARD_STATE_EMPTY is what the wait after the Mifare switch starts from.
        const bool afterSwitch = states[0].dwCurrentState == SCARD_STATE_EMPTY;
        EXPECT_EQ(timeoutMs, afterSwitch ? 20u : 1u);
        const bool present = afterSwitch ? pollsUntilBack >= 0 && ++mifarePolls >= pollsUntilBack
                                         : withCard.count(states[0].szReader) != 0;
        states[0].dwEventState = present ? SCARD_STATE_PRESENT | SCARD_STATE_CHANGED : SCARD_STATE_EMPTY;
        return afterSwitch && !present ? SCARD_E_TIMEOUT : SCARD_S_SUCCESS;
    }
    LONG Connect(SCARDCONTEXT, const char* reader, DWORD shareMode, DWORD preferred, SCARDHANDLE* card,
                 DWORD* active) override {
        EXPECT_EQ(shareMode, static_cast<DWORD>(SCARD_SHARE_SHARED));
        connectedTo = reader;
        *card = kCard;
        *active = activeOverride != 0 ? activeOverride : preferred;
        return Call("Connect", preferred, refused.count(preferred) ? SCARD_E_PROTO_MISMATCH : SCARD_S_SUCCESS);
    }
    LONG Reconnect(SCARDHANDLE, DWORD shareMode, DWORD preferred, DWORD initialization, DWORD* active) override {
        EXPECT_EQ(shareMode, static_cast<DWORD>(SCARD_SHARE_SHARED));
        EXPECT_EQ(initialization, static_cast<DWORD>(SCARD_RESET_CARD));
        *active = preferred;
        return Call("Reconnect", preferred, refused.count(preferred) ? SCARD_E_PROTO_MISMATCH : SCARD_S_SUCCESS);
    }
    LONG Disconnect(SCARDHANDLE, DWORD disposition) override { return Call("Disconnect", disposition); }
    LONG StatusAtr(SCARDHANDLE, uint8_t* atr, DWORD* length) override {
        *length = static_cast<DWORD>(Binary("3B 02 14 50").size());
        std::memcpy(atr, Binary("3B 02 14 50").data(), *length);
        return Call("Status", 0);
    }
    LONG Transmit(SCARDHANDLE, const SCARD_IO_REQUEST* pci, const uint8_t* send, DWORD sendLength, uint8_t* receive,
                  DWORD* receiveLength) override {
        EXPECT_GE(*receiveLength, static_cast<DWORD>(MAX_BUFFER_SIZE_EXTENDED));
        sent.push_back(Binary{static_cast<uint8_t>(pci->dwProtocol)} + Binary(send, send + sendLength));
        std::copy(answer.begin(), answer.end(), receive);
        *receiveLength = static_cast<DWORD>(answer.size());
        return Call("Transmit", 0);
    }
    LONG Control(SCARDHANDLE, DWORD code, const void* in, DWORD inLength, void* out, DWORD outLength, DWORD*) override {
        EXPECT_EQ(code, static_cast<DWORD>(0x42000000 + 3213));  // SCARD_CTL_CODE(3213)
        EXPECT_EQ(outLength, 16u);
        EXPECT_NE(out, nullptr);
        controlInputs.emplace_back(static_cast<const uint8_t*>(in), static_cast<const uint8_t*>(in) + inLength);
        return Call("Control", static_cast<const uint8_t*>(in)[4]);  // the input 4, then 4 (on) or 0 (off), LE32
    }
    LONG GetAttrib(SCARDHANDLE, DWORD attribute, uint8_t* value, DWORD* length) override {
        // Numbers in 4 bytes, the ATR in MAX_ATR_SIZE, texts in MAX_BUFFER_SIZE: pcsc-lite refuses larger buffers.
        EXPECT_EQ(*length, static_cast<DWORD>(attribute == SCARD_ATTR_ATR_STRING ? MAX_ATR_SIZE
                                              : *length == 4                     ? 4
                                                                                 : MAX_BUFFER_SIZE));
        attributeCalls.push_back(attribute);
        const Binary bytes = attributes.count(attribute) ? attributes[attribute] : Le32(attribute & 0xFFFF);
        std::memcpy(value, bytes.data(), bytes.size());
        *length = static_cast<DWORD>(bytes.size());
        return failures.count(attribute) ? failures[attribute] : SCARD_S_SUCCESS;
    }

    LONG Call(const std::string& name, DWORD argument, LONG result = SCARD_S_SUCCESS) {
        calls.push_back(name + " " + std::to_string(argument));
        return results.count(name) ? results[name] : result;
    }
    Names Calls(const std::string& prefix) const {
        Names found;
        for (const std::string& call : calls) {
            if (call.rfind(prefix, 0) == 0) found.push_back(call);
        }
        return found;
    }

    std::map<std::string, LONG> results;  // by call name
    DWORD activeOverride = 0;             // the protocol the service reports instead of the preferred one
    std::set<DWORD> refused;
    std::set<std::string> withCard{kReader};
    std::map<DWORD, Binary> attributes{{SCARD_ATTR_ATR_STRING, Binary("3B 80 80 01 01")},
                                       {SCARD_ATTR_CURRENT_F, Le32(372)},
                                       {SCARD_ATTR_CURRENT_D, Le32(1)}};
    std::map<DWORD, LONG> failures;
    Binary answer{0x90, 0x00};
    int pollsUntilBack = 3;  // negative: the card never comes back
    std::string readerList;  // the multi-string of ListReaders
    LONG listSizeResult = SCARD_S_SUCCESS, listResult = SCARD_S_SUCCESS;

    int mifarePolls = 0;
    std::string connectedTo;  // the reader name of the last Connect
    Names calls;
    std::vector<DWORD> attributeCalls;
    std::vector<Binary> controlInputs;
    std::vector<Binary> sent;  // the protocol of the control information, then the bytes
};

class PcscReaderTest : public ::testing::Test {
protected:
    std::unique_ptr<PCSC_Reader> Make(std::vector<uint32_t> protocols = {1, 0}, bool mifare = false,
                                      iLog* log = nullptr) {
        ReaderParams params;
        params.protocols = std::move(protocols);
        params.transport_log = log != nullptr;
        return std::make_unique<PCSC_Reader>(kReader, params, log, mifare, m_pcsc);
    }
    std::unique_ptr<PCSC_Reader> Connected(std::vector<uint32_t> protocols = {1, 0}, iLog* log = nullptr) {
        auto reader = Make(std::move(protocols), false, log);
        ATR atr;
        reader->PowerOn(atr);
        return reader;
    }
    static DriverError PowerOnError(PCSC_Reader& reader) {
        ATR atr;
        return DriverErrorOf([&] { reader.PowerOn(atr); });
    }
    // The encoded response to the command when the service answers with these bytes.
    Binary Send(PCSC_Reader& reader, const CApdu& command, const Binary& answer = Binary("90 00")) {
        m_pcsc.answer = answer;
        RApdu response;
        reader.Command(command, response);
        return response.Encode();
    }

    FakePcsc m_pcsc;
};

const DriverError kProtocolMismatch{
    9, "PCSC Driver error (func: SCardConnect:, code: 8010000F, , msg: Card protocol mismatch.)"};
const DriverError kNoCard{11, "No Card in Reader or Card is Powered Off"};
const DriverError kCardNotInserted{8, "Card not inserted"};

// The reader name is checked before the context is established; the first
// protocol of the list that the card offers is connected, unknown ones skipped.
TEST_F(PcscReaderTest, NameContextAndTheProtocolList) {
    EXPECT_EQ(DriverErrorOf([&] { PCSC_Reader("", ReaderParams(), nullptr, false, m_pcsc); }),
              (DriverError{36, "Wrong reader name"}));
    EXPECT_EQ(DriverErrorOf([&] { PCSC_Reader(std::string(256, 'R'), ReaderParams(), nullptr, false, m_pcsc); }),
              (DriverError{15, "Reader name too long"}));
    m_pcsc.refused = {SCARD_PROTOCOL_T1};
    auto reader = Connected({1, 7, 0});
    EXPECT_EQ(reader->GetActiveProtocol(), static_cast<DWORD>(SCARD_PROTOCOL_T0));
    EXPECT_EQ(reader->GetReaderName(), kReader);
    EXPECT_EQ(reader->GetContext(), 0x1234);
    reader.reset();
    EXPECT_EQ(m_pcsc.calls, (Names{"Establish 0", "Connect 2", "Connect 1", "Disconnect 2", "Release 0"}));
    PCSC_Reader longest(std::string(255, 'R'), ReaderParams(), nullptr, false, m_pcsc);
    EXPECT_EQ(longest.GetReaderName(), std::string(255, 'R'));
    m_pcsc.results["Establish"] = SCARD_E_NO_SERVICE;
    EXPECT_EQ(DriverErrorOf([&] { Make(); }),
              (DriverError{13,
                           "PCSC Driver error (func: SCardEstablishContext:, code: 8010001D, , msg: Service not "
                           "available.)"}));
}

// vpcd keeps no ATR attribute: the ATR then comes from SCardStatus. A failed
// reset leaves the connection as it was; a failing ATR read leaves none.
TEST_F(PcscReaderTest, AtrComesFromTheAttributeOrElseFromTheStatusAndResetReconnects) {
    auto reader = Connected({0, 1});
    EXPECT_EQ(reader->GetATR(), Binary("3B 80 80 01 01"));
    EXPECT_TRUE(m_pcsc.Calls("Status").empty());
    m_pcsc.failures[SCARD_ATTR_ATR_STRING] = SCARD_E_UNSUPPORTED_FEATURE;
    ATR atr;
    reader->Reset(atr);
    EXPECT_EQ(atr.GetRaw(), Binary("3B 02 14 50"));
    EXPECT_EQ(reader->GetATR(), Binary("3B 02 14 50"));
    m_pcsc.refused = {SCARD_PROTOCOL_T0, SCARD_PROTOCOL_T1};
    EXPECT_EQ(DriverErrorOf([&] { reader->Reset(atr); }), kProtocolMismatch);
    EXPECT_EQ(reader->GetCardHandle(), kCard);
    EXPECT_EQ(m_pcsc.Calls("Reconnect"), (Names{"Reconnect 1", "Reconnect 1", "Reconnect 2"}));
    m_pcsc.refused.clear();
    m_pcsc.results["Status"] = SCARD_E_NOT_TRANSACTED;
    EXPECT_EQ(DriverErrorOf([&] { reader->Reset(atr); }),
              (DriverError{10, "PCSC Driver error (func: SCardStatus:, code: 80100016, , msg: Transaction failed.)"}));
    m_pcsc.results.erase("Status");
    m_pcsc.failures[SCARD_ATTR_ATR_STRING] = SCARD_E_NOT_TRANSACTED;
    auto failing = Make();
    m_pcsc.calls.clear();
    EXPECT_EQ(
        PowerOnError(*failing),
        (DriverError{10, "PCSC Driver error (func: SCardGetAttrib:, code: 80100016, , msg: Transaction failed.)"}));
    EXPECT_EQ(failing->GetCardHandle(), 0);
    EXPECT_EQ(m_pcsc.Calls("Disconnect"), Names{"Disconnect 2"});  // SCARD_UNPOWER_CARD
}

// Neither protocol taken, or no usable entry in the list: SCardConnect's text and no connection.
TEST_F(PcscReaderTest, ProtocolListWithoutAnAcceptedProtocolLeavesTheReaderUnconnected) {
    m_pcsc.refused = {SCARD_PROTOCOL_T0, SCARD_PROTOCOL_T1};
    for (const std::vector<uint32_t>& protocols : {std::vector<uint32_t>{1, 7, 0}, std::vector<uint32_t>{}}) {
        auto reader = Make(protocols);
        EXPECT_EQ(PowerOnError(*reader), kProtocolMismatch);
        EXPECT_EQ(reader->GetCardHandle(), 0);
    }
    EXPECT_EQ(m_pcsc.Calls("Connect"), (Names{"Connect 2", "Connect 1"}));  // 7 is skipped
}

TEST_F(PcscReaderTest, WithoutACardOrAConnectionEveryOperationFails) {
    m_pcsc.withCard.clear();
    auto reader = Make();
    EXPECT_EQ(PowerOnError(*reader), kCardNotInserted);
    EXPECT_TRUE(m_pcsc.Calls("Connect").empty());
    ATR atr;
    RApdu response;
    CardExchParam param;
    EXPECT_EQ(DriverErrorOf([&] { reader->Reset(atr); }), kNoCard);
    EXPECT_EQ(DriverErrorOf([&] { reader->Command(CApdu("00 B0 00 00 10"), response); }), kNoCard);
    EXPECT_EQ(DriverErrorOf([&] { reader->GetCardExchParam(param); }), kNoCard);
    // The card taken out while connected: the reset says so and does not reconnect.
    m_pcsc.withCard = {kReader};
    reader->PowerOn(atr);
    m_pcsc.withCard.clear();
    EXPECT_EQ(DriverErrorOf([&] { reader->Reset(atr); }), kCardNotInserted);
    EXPECT_TRUE(m_pcsc.Calls("Reconnect").empty());
}

TEST_F(PcscReaderTest, CardExchangeParametersAndTheFullAttributeRecord) {
    // A friendly name longer than 32 bytes, as real readers have.
    const std::string friendly = "OMNIKEY CardMan 5x21 (USB iClass Reader) 00 00";
    m_pcsc.attributes[SCARD_ATTR_DEVICE_FRIENDLY_NAME] = Binary(friendly.begin(), friendly.end()) + Binary("00");
    m_pcsc.attributes[SCARD_ATTR_VENDOR_NAME] = Binary{'H', 'I', 'D'};
    m_pcsc.attributes[SCARD_ATTR_DEVICE_SYSTEM_NAME] = Binary{'u', 's', 'b', 0};
    m_pcsc.attributes[SCARD_ATTR_VENDOR_IFD_TYPE] = Binary{'5', 'x', '2', '1', 0};
    m_pcsc.attributes[SCARD_ATTR_CURRENT_CLK] = Le32(3571);
    auto reader = Make({1});
    PcscCardAttributes record;
    EXPECT_EQ(DriverErrorOf([&] { reader->GetCardExchParam(record); }).code, 11);  // not connected
    ATR atr;
    reader->PowerOn(atr);
    m_pcsc.attributeCalls.clear();
    reader->GetCardExchParam(record);
    EXPECT_EQ(record.protocol, ProtocolT1);
    EXPECT_EQ(record.clocksPerEtu, 372u);
    EXPECT_EQ(record.clock, 3571000u);
    EXPECT_EQ(record.bitRate, 9599u);
    EXPECT_EQ(record.atrString, Binary("3B 80 80 01 01"));
    EXPECT_EQ(record.channelId, SCARD_ATTR_CHANNEL_ID & 0xFFFF);
    EXPECT_EQ(record.vendorIfdVersion, SCARD_ATTR_VENDOR_IFD_VERSION & 0xFFFF);
    EXPECT_EQ(record.deviceFriendlyName, friendly);
    EXPECT_EQ(record.vendorName, "HID");
    // F, D, CLK, the ATR, then the attributes in the alphabetical order of their names.
    const std::vector<DWORD> order = {SCARD_ATTR_CURRENT_F,
                                      SCARD_ATTR_CURRENT_D,
                                      SCARD_ATTR_CURRENT_CLK,
                                      SCARD_ATTR_ATR_STRING,
                                      SCARD_ATTR_CHANNEL_ID,
                                      SCARD_ATTR_CHARACTERISTICS,
                                      SCARD_ATTR_CURRENT_BWT,
                                      SCARD_ATTR_CURRENT_CLK,
                                      SCARD_ATTR_CURRENT_CWT,
                                      SCARD_ATTR_CURRENT_D,
                                      SCARD_ATTR_CURRENT_EBC_ENCODING,
                                      SCARD_ATTR_CURRENT_F,
                                      SCARD_ATTR_CURRENT_IFSC,
                                      SCARD_ATTR_CURRENT_IFSD,
                                      SCARD_ATTR_CURRENT_N,
                                      SCARD_ATTR_CURRENT_PROTOCOL_TYPE,
                                      SCARD_ATTR_CURRENT_W,
                                      SCARD_ATTR_DEFAULT_CLK,
                                      SCARD_ATTR_DEFAULT_DATA_RATE,
                                      SCARD_ATTR_DEVICE_FRIENDLY_NAME,
                                      SCARD_ATTR_DEVICE_SYSTEM_NAME,
                                      SCARD_ATTR_DEVICE_UNIT,
                                      SCARD_ATTR_ICC_INTERFACE_STATUS,
                                      SCARD_ATTR_ICC_PRESENCE,
                                      SCARD_ATTR_ICC_TYPE_PER_ATR,
                                      SCARD_ATTR_MAX_CLK,
                                      SCARD_ATTR_MAX_DATA_RATE,
                                      SCARD_ATTR_MAX_IFSD,
                                      SCARD_ATTR_POWER_MGMT_SUPPORT,
                                      SCARD_ATTR_ASYNC_PROTOCOL_TYPES,
                                      SCARD_ATTR_VENDOR_IFD_TYPE,
                                      SCARD_ATTR_VENDOR_IFD_VERSION,
                                      SCARD_ATTR_VENDOR_NAME};
    EXPECT_EQ(m_pcsc.attributeCalls, order);
    // Each numeric field holds its own attribute (the fake answers the low 16 bits of the identifier).
    const std::pair<uint32_t PcscCardAttributes::*, DWORD> numbers[] = {
        {&PcscCardAttributes::channelId, SCARD_ATTR_CHANNEL_ID},
        {&PcscCardAttributes::characteristics, SCARD_ATTR_CHARACTERISTICS},
        {&PcscCardAttributes::currentBwt, SCARD_ATTR_CURRENT_BWT},
        {&PcscCardAttributes::currentCwt, SCARD_ATTR_CURRENT_CWT},
        {&PcscCardAttributes::currentEbcEncoding, SCARD_ATTR_CURRENT_EBC_ENCODING},
        {&PcscCardAttributes::currentIfsc, SCARD_ATTR_CURRENT_IFSC},
        {&PcscCardAttributes::currentIfsd, SCARD_ATTR_CURRENT_IFSD},
        {&PcscCardAttributes::currentN, SCARD_ATTR_CURRENT_N},
        {&PcscCardAttributes::currentProtocolType, SCARD_ATTR_CURRENT_PROTOCOL_TYPE},
        {&PcscCardAttributes::currentW, SCARD_ATTR_CURRENT_W},
        {&PcscCardAttributes::defaultClk, SCARD_ATTR_DEFAULT_CLK},
        {&PcscCardAttributes::defaultDataRate, SCARD_ATTR_DEFAULT_DATA_RATE},
        {&PcscCardAttributes::deviceUnit, SCARD_ATTR_DEVICE_UNIT},
        {&PcscCardAttributes::iccInterfaceStatus, SCARD_ATTR_ICC_INTERFACE_STATUS},
        {&PcscCardAttributes::iccPresence, SCARD_ATTR_ICC_PRESENCE},
        {&PcscCardAttributes::iccTypePerAtr, SCARD_ATTR_ICC_TYPE_PER_ATR},
        {&PcscCardAttributes::maxClk, SCARD_ATTR_MAX_CLK},
        {&PcscCardAttributes::maxDataRate, SCARD_ATTR_MAX_DATA_RATE},
        {&PcscCardAttributes::maxIfsd, SCARD_ATTR_MAX_IFSD},
        {&PcscCardAttributes::powerMgmtSupport, SCARD_ATTR_POWER_MGMT_SUPPORT},
        {&PcscCardAttributes::asyncProtocolTypes, SCARD_ATTR_ASYNC_PROTOCOL_TYPES},
    };
    for (const auto& [field, id] : numbers) EXPECT_EQ(record.*field, id & 0xFFFF) << std::hex << id;
    EXPECT_EQ(record.currentClk, 3571u);
    EXPECT_EQ(record.currentF, 372u);
    EXPECT_EQ(record.currentD, 1u);
    EXPECT_EQ(record.deviceSystemName, "usb");
    EXPECT_EQ(record.vendorIfdType, "5x21");

    m_pcsc.failures[SCARD_ATTR_VENDOR_NAME] = SCARD_E_INSUFFICIENT_BUFFER;
    EXPECT_EQ(DriverErrorOf([&] { reader->GetCardExchParam(record); }),
              (DriverError{10,
                           "PCSC Driver error (func: SCardGetAttrib:, code: 80100008, , msg: Insufficient "
                           "buffer.)"}));
    m_pcsc.attributes[SCARD_ATTR_CURRENT_D] = Le32(0);  // no division by zero
    EXPECT_EQ(DriverErrorOf([&] { reader->GetCardExchParam(record); }),
              (DriverError{10, "SCardGetAttrib: the reader reports F 372 and D 0, no clocks per ETU"}));
    m_pcsc.failures[SCARD_ATTR_CURRENT_D] = SCARD_E_UNSUPPORTED_FEATURE;
    EXPECT_EQ(DriverErrorOf([&] { reader->GetCardExchParam(record); }),
              (DriverError{10,
                           "PCSC Driver error (func: SCardGetAttrib:, code: 8010001F, , msg: Feature not "
                           "supported.)"}));
}

// ISO/IEC 7816-3, 12.2.1: a case-1 TPDU is the header alone; P3 holds at most 255 data bytes.
TEST_F(PcscReaderTest, T0TpduShapesAndTheLimitOf255DataBytes) {
    auto reader = Connected({0});
    EXPECT_EQ(m_pcsc.Calls("Connect"), Names{"Connect 1"});  // T=0 alone is asked for
    CardExchParam param;
    EXPECT_EQ(reader->GetCardExchParam(param).protocol, ProtocolT0);
    Send(*reader, CApdu(0x00, 0x70, 0x00, 0x00));
    EXPECT_EQ(m_pcsc.sent, std::vector<Binary>{Binary("01 00 70 00 00")});
    // Case 2 with Ne 256 carries P3 00, and the answer is cut to Ne; case 3 carries Lc and its data.
    EXPECT_EQ(Send(*reader, CApdu(0x00, 0xB0, 0x00, 0x00, 256), Binary(300, 0xAA) + Binary("90 00")),
              Binary(256, 0xAA) + Binary("90 00"));
    EXPECT_EQ(Send(*reader, CApdu(0x00, 0xD6, 0x00, 0x00, Binary("01 02 03")), Binary("6A 82")), Binary("6A 82"));
    EXPECT_EQ(m_pcsc.sent, (std::vector<Binary>{Binary("01 00 70 00 00"), Binary("01 00 B0 00 00 00"),
                                                Binary("01 00 D6 00 00 03 01 02 03")}));
    PCSC_Reader_T0 engine(reader.get());
    RApdu response;
    EXPECT_EQ(DriverErrorOf([&] { engine.RR_Command(CApdu(0x00, 0xD6, 0x00, 0x00, Binary(256, 0x55)), response); }),
              (DriverError{17, "T=0 : Command APDU data size > 255"}));
    EXPECT_EQ(m_pcsc.sent.size(), 3u);
    EXPECT_EQ(DriverErrorOf([&] { Send(*reader, CApdu(0x00, 0xB0, 0x00, 0x00, 1), Binary("90")); }),
              (DriverError{20, "Cannot get response from card"}));
}

// The active protocol chooses the control information; T=1 and raw send the
// whole APDU and cut the answer to Ne; a short answer or a failed transmission
// is an error, the latter with a dump of the exchange, 16 bytes a line.
TEST_F(PcscReaderTest, TransmissionByTheActiveProtocol) {
    m_pcsc.activeOverride = SCARD_PROTOCOL_RAW;
    auto raw = Connected({1});
    EXPECT_EQ(Send(*raw, CApdu(0x00, 0xA4, 0x04, 0x0C, Binary("A0 00")), Binary("11 90 00")), Binary("90 00"));
    EXPECT_EQ(m_pcsc.sent.back(), Binary("04 00 A4 04 0C 02 A0 00"));
    CardExchParam param;
    EXPECT_EQ(raw->GetCardExchParam(param).protocol, ProtocolRaw);
    m_pcsc.activeOverride = 0;
    auto t1 = Connected({1});
    EXPECT_EQ(Send(*t1, CApdu(0x00, 0xB0, 0x00, 0x00, 2), Binary("11 22 33 90 00")), Binary("11 22 90 00"));
    EXPECT_EQ(m_pcsc.sent.back()[0], SCARD_PROTOCOL_T1);
    EXPECT_EQ(DriverErrorOf([&] { Send(*t1, CApdu(0x00, 0xB0, 0x00, 0x00, 1), Binary("90")); }),
              (DriverError{20, "Cannot get response from card"}));
    m_pcsc.results["Transmit"] = SCARD_W_REMOVED_CARD;
    EXPECT_EQ(DriverErrorOf([&] { Send(*t1, CApdu(0x80, 0xEE, 0x00, 0x00, Binary(20, 0x77)), {}); }),
              (DriverError{19,
                           "Request: \n80 EE 00 00 14 77 77 77 77 77 77 77 77 77 77 77\n77 77 77 77 77 77 77 77 "
                           "77\nResponse: \n\nProtocol: T1\nPCSC Driver error (func: SCardTransmit:, code: "
                           "80100069, , msg: Card was removed.)"}));

    m_pcsc.activeOverride = SCARD_PROTOCOL_T15;
    auto unknown = Connected({1});
    const size_t sent = m_pcsc.sent.size();
    EXPECT_EQ(DriverErrorOf([&] { Send(*unknown, CApdu(0x00, 0x70, 0x00, 0x00)); }),
              (DriverError{19,
                           "Request: \n00 70 00 00\nResponse: \n\nProtocol: UNDEFINED\n"
                           "PCSC Driver error (func: SCardTransmit:, code: 80100014, , msg: Unknown error.)"}));
    EXPECT_EQ(m_pcsc.sent.size(), sent);
    EXPECT_EQ(DriverErrorOf([&] { unknown->GetCardExchParam(param); }),
              (DriverError{16, "Unknown parameters for current protocol"}));
}

// A sink that cannot write the dump (colour 6) once told so, and takes everything else.
class RefusingDumpLog : public test::RecordingLog {
public:
    bool refuse = false;
    void WriteRec(const LogRecord& record) override {
        if (refuse && record.colour == 6) throw Exception("disk full", SourcePlace());
        RecordingLog::WriteRec(record);
    }
};

TEST_F(PcscReaderTest, TransportLogDumpsEachTpduAndAFailingDumpLeavesTheExchangeAlone) {
    RefusingDumpLog log;
    auto reader = Connected({0}, &log);
    Send(*reader, CApdu(0x00, 0xA4, 0x00, 0x0C, Binary("3F 00")), Binary("6A 82"));
    log.refuse = true;
    EXPECT_EQ(Send(*reader, CApdu(0x00, 0x70, 0x00, 0x00)), Binary("90 00"));
    const std::vector<std::tuple<int32_t, int32_t, std::string>> expected = {
        {3, 6, "~~~~~~ TPDU T=0 ~~~~~~~\nRequest: 7 (0x07)\n00 A4 00 0C 02 3F 00\n"},
        {3, 6, "~~~~~~ TPDU T=0 ~~~~~~~Response: 2 (0x02)\n6A 82\n"},
        {6, 14, "Ошибка вывода TApdu.\n"},
        {6, 14, "Ошибка вывода TApdu.\n"}};
    ASSERT_EQ(log.records.size(), expected.size());
    for (size_t i = 0; i < expected.size(); ++i) {
        EXPECT_EQ(std::tie(log.records[i].level, log.records[i].colour, log.records[i].text), expected[i]) << i;
    }
}

TEST_F(PcscReaderTest, MifareEmulationIsSwitchedOnAtPowerOnAndOffAtDestruction) {
    {
        auto reader = Make({1, 0}, true);
        EXPECT_EQ(reader->GetMifareState(), PCSC_Reader::MifareRequested);
        EXPECT_EQ(PowerOnError(*reader).code, -1);
        EXPECT_EQ(reader->GetMifareState(), PCSC_Reader::MifareOn);
        EXPECT_EQ(m_pcsc.mifarePolls, 3);
        EXPECT_EQ(reader->GetCardHandle(), kCard);  // the handle of the connection made after the switch
        reader->PowerOff();
    }
    // On (4) at power-on, T=1 again after the switch; off (0) at destruction, connected anew for it.
    EXPECT_EQ(m_pcsc.Calls("Con"), (Names{"Connect 2", "Control 4", "Connect 2", "Connect 2", "Control 0"}));
    EXPECT_EQ(m_pcsc.controlInputs,
              (std::vector<Binary>{Binary("04 00 00 00 04 00 00 00"), Binary("04 00 00 00 00 00 00 00")}));

    // A failing switch is code 9 and leaves the reader unconnected.
    m_pcsc.results["Control"] = SCARD_E_UNSUPPORTED_FEATURE;
    auto reader = Make({1, 0}, true);
    EXPECT_EQ(
        PowerOnError(*reader),
        (DriverError{9, "PCSC Driver error (func: SCardControl:, code: 8010001F, , msg: Feature not supported.)"}));
    EXPECT_EQ(reader->GetCardHandle(), 0);
    EXPECT_EQ(reader->GetMifareState(), PCSC_Reader::MifareRequested);
}

// When no connection can be made at destruction the switch is not sent.
TEST_F(PcscReaderTest, MifareEmulationIsLeftWhenTheReaderCannotBeReachedAtDestruction) {
    {
        auto reader = Make({1, 0}, true);
        EXPECT_EQ(PowerOnError(*reader).code, -1);
        reader->PowerOff();
        m_pcsc.results["Connect"] = SCARD_E_NO_SMARTCARD;
    }
    EXPECT_EQ(m_pcsc.Calls("Con"), (Names{"Connect 2", "Control 4", "Connect 2", "Connect 2"}));
}

TEST_F(PcscReaderTest, WaitForTheCardAfterTheMifareSwitchIsBounded) {
    m_pcsc.pollsUntilBack = -1;
    auto reader = Make({1, 0}, true);
    const auto started = std::chrono::steady_clock::now();
    EXPECT_EQ(PowerOnError(*reader),
              (DriverError{9, "Mifare emulation switch: no card in reader 'OMNIKEY CardMan 5x21 00 00' within 5 s"}));
    const auto spent = std::chrono::steady_clock::now() - started;
    EXPECT_GE(spent, PCSC_Reader::MifareWaitLimit);
    EXPECT_LT(spent, PCSC_Reader::MifareWaitLimit + std::chrono::seconds(2));
    EXPECT_EQ(reader->GetCardHandle(), 0);
}

TEST_F(PcscReaderTest, ReaderListParsesTheMultiStringFiltersByCardAndReportsFailures) {
    m_pcsc.readerList = std::string(kReader) + '\0' + "Second Reader 01" + '\0' + '\0';
    Names names;
    EXPECT_EQ(getPCSCReaderList(names, false, m_pcsc), SCARD_S_SUCCESS);
    EXPECT_EQ(names, (Names{kReader, "Second Reader 01"}));
    names.clear();
    EXPECT_EQ(getPCSCReaderList(names, true, m_pcsc), SCARD_S_SUCCESS);
    EXPECT_EQ(names, Names{kReader});
    // An empty name ends the list, whatever the length says follows it.
    names.clear();
    m_pcsc.readerList = std::string(kReader) + '\0' + '\0' + "After The End 02" + '\0' + '\0';
    EXPECT_EQ(getPCSCReaderList(names, false, m_pcsc), SCARD_S_SUCCESS);
    EXPECT_EQ(names, Names{kReader});

    names.clear();
    m_pcsc.listSizeResult = SCARD_E_NO_READERS_AVAILABLE;
    EXPECT_EQ(getPCSCReaderList(names, false, m_pcsc), SCARD_E_NO_READERS_AVAILABLE);
    EXPECT_TRUE(names.empty());
    m_pcsc.listSizeResult = SCARD_S_SUCCESS;
    m_pcsc.listResult = SCARD_E_INSUFFICIENT_BUFFER;
    EXPECT_EQ(DriverErrorOf([&] { getPCSCReaderList(names, false, m_pcsc); }),
              (DriverError{0,
                           "PCSC Driver error (func: SCardListReaders [2]:, code: 80100008, , msg: Insufficient "
                           "buffer.)"}));
    // Every context made is released, also on the failing paths.
    EXPECT_EQ(m_pcsc.Calls("Release").size(), m_pcsc.Calls("Establish").size());
    m_pcsc.results["Establish"] = SCARD_E_NO_SERVICE;
    EXPECT_EQ(getPCSCReaderList(names, false, m_pcsc), SCARD_E_NO_SERVICE);
    EXPECT_TRUE(names.empty());
}

// A reader names itself: a name with ESC and the C1 CSI (C2 9B) is listed and
// addressed byte for byte as the service gave it; only displays escape it.
TEST_F(PcscReaderTest, ReaderNameWithControlBytesIsListedAndAddressedAsGiven) {
    const std::string hostile =
        "USB \x1B[2J\xC2\x9B"
        "31m 00 00";
    m_pcsc.readerList = hostile + '\0' + '\0';
    m_pcsc.withCard = {hostile};
    Names names;
    EXPECT_EQ(getPCSCReaderList(names, true, m_pcsc), SCARD_S_SUCCESS);
    EXPECT_EQ(names, Names{hostile});
    PCSC_Reader reader(names.front(), ReaderParams(), nullptr, false, m_pcsc);
    EXPECT_TRUE(reader.IsPowered());
    ATR atr;
    reader.PowerOn(atr);
    EXPECT_EQ(m_pcsc.connectedTo, hostile);
    EXPECT_EQ(reader.GetReaderName(), hostile);
}

// The file of the card model holds byte i at offset i (mod 256).
Binary FileBytes(uint32_t offset, uint32_t count) {
    Binary bytes(count);
    for (uint32_t i = 0; i < count; ++i) bytes[i] = static_cast<uint8_t>(offset + i);
    return bytes;
}

class PcscEndToEnd : public test::PcscdTest {
protected:
    static std::unique_ptr<PCSC_Reader> Reader(std::vector<uint32_t> protocols,
                                               const char* name = PrivatePcscd::Reader0, iLog* log = nullptr) {
        ReaderParams params;
        params.protocols = std::move(protocols);
        params.transport_log = log != nullptr;
        return std::make_unique<PCSC_Reader>(name, params, log, false);
    }
    static Binary Send(PCSC_Reader& reader, const CApdu& command) {
        RApdu response;
        reader.Command(command, response);
        return response.Encode();
    }
};

// Over T=1 the card sees the APDUs, an extended one among them.
TEST_F(PcscEndToEnd, ReaderListPowerResetCommandsAndACardTakenOut) {
    InsertCard(VpcdCardModel::AtrBoth);
    std::vector<std::string> all, withCard;
    EXPECT_EQ(getPCSCReaderList(all, false), SCARD_S_SUCCESS);
    EXPECT_EQ(getPCSCReaderList(withCard, true), SCARD_S_SUCCESS);
    EXPECT_EQ(all, (std::vector<std::string>{PrivatePcscd::Reader0, PrivatePcscd::Reader1}));
    EXPECT_EQ(withCard, std::vector<std::string>{PrivatePcscd::Reader0});
    // IsPowered tells whether a card lies in the reader, before any power-on.
    EXPECT_FALSE(Reader({1}, PrivatePcscd::Reader1)->IsPowered());
    // A name that PC/SC does not know is no empty reader.
    ATR atr;
    EXPECT_EQ(DriverErrorOf([&] { Reader({1}, "Virtual PCD 00 07")->PowerOn(atr); }),
              (DriverError{CardDrvError::WrongReaderName,
                           "PCSC Driver error (func: SCardGetStatusChange:, code: 80100009, , msg: Unknown reader "
                           "specified.)"}));

    auto reader = Reader({1, 0});
    const DriverError noCard{CardDrvError::NoCard, "No Card in Reader or Card is Powered Off"};
    EXPECT_EQ(DriverErrorOf([&] { reader->Reset(atr); }), noCard);  // not connected yet
    EXPECT_TRUE(reader->IsPowered());                               // a card lies in the reader before any power-on
    EXPECT_EQ(reader->GetCardHandle(), 0);
    reader->PowerOn(atr);
    EXPECT_EQ(reader->GetATR(), Binary(VpcdCardModel::AtrBoth));
    EXPECT_EQ(atr.GetRaw(), Binary(VpcdCardModel::AtrBoth));  // from SCardStatus: vpcd keeps no ATR attribute
    // A second power-on keeps the connection and gives no ATR.
    const SCARDHANDLE handle = reader->GetCardHandle();
    ATR untouched;
    reader->PowerOn(untouched);
    EXPECT_EQ(reader->GetCardHandle(), handle);
    EXPECT_TRUE(untouched.GetRaw().empty());
    EXPECT_EQ(Send(*reader, CApdu(0x00, 0x12, 0x00, 0x00)), Binary("6D00"));
    EXPECT_EQ(Send(*reader, CApdu(0x00, 0xB0, 0x00, 0x00, VpcdCardModel::FileSize)).size(),
              VpcdCardModel::FileSize + 2);
    EXPECT_EQ(Card().Frames().back(), Binary("00 B0 00 00 00 10 00"));
    ATR again;
    reader->Reset(again);
    EXPECT_EQ(again.GetRaw(), Binary(VpcdCardModel::AtrBoth));
    const std::vector<Binary> frames = Card().Frames();
    EXPECT_EQ(std::count(frames.begin(), frames.end(), Binary("02")), 1);  // vpcd's reset
    const size_t beforeOff = Card().Frames().size();
    reader->PowerOff();
    // SCARD_UNPOWER_CARD reaches vpcd as its power-off, which needs no answer: it may come a moment later.
    const auto poweredDown = [&] {
        const std::vector<Binary> all = Card().Frames();
        return std::count(all.begin() + static_cast<std::ptrdiff_t>(beforeOff), all.end(), Binary("00")) == 1;
    };
    for (int wait = 0; wait < 100 && !poweredDown(); ++wait) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    EXPECT_TRUE(poweredDown());
    EXPECT_TRUE(reader->IsPowered());  // the card still lies in the reader
    EXPECT_EQ(DriverErrorOf([&] { Send(*reader, CApdu(0x00, 0xB0, 0x00, 0x00, 16)); }), noCard);

    // A card taken out while connected: the exchange fails, and so does the next power-on.
    reader->PowerOn(atr);
    RemoveCard();
    EXPECT_FALSE(reader->IsPowered());
    const DriverError error = DriverErrorOf([&] { Send(*reader, CApdu(0x00, 0xB0, 0x00, 0x00, 16)); });
    EXPECT_EQ(error.code, CardDrvError::PcscTransmit);
    EXPECT_EQ(error.text.rfind("Request: \n00 B0 00 00 10\nResponse: \n\nProtocol: T1\nPCSC Driver error (func: "
                               "SCardTransmit:",
                               0),
              0u)
        << error.text;
    reader->PowerOff();
    EXPECT_EQ(DriverErrorOf([&] { reader->PowerOn(atr); }), kCardNotInserted);
    withCard.clear();
    EXPECT_EQ(getPCSCReaderList(withCard, true), SCARD_S_SUCCESS);
    EXPECT_TRUE(withCard.empty());
}

// Over T=0 the card sees TPDUs: a case-4 command is a case-3 TPDU, then GET RESPONSE after 61xx.
TEST_F(PcscEndToEnd, T0TpdusWithGetResponse) {
    InsertCard(VpcdCardModel::AtrBoth, false);
    auto reader = Reader({0});
    ATR atr;
    reader->PowerOn(atr);
    EXPECT_EQ(Send(*reader, CApdu(0x00, 0xA4, 0x04, 0x00, Binary(VpcdCardModel::Aid), 256)),
              Binary(VpcdCardModel::Fci) + Binary("9000"));
    const std::vector<Binary> frames = Card().Frames();
    EXPECT_EQ(frames[frames.size() - 2], Binary("00 A4 04 00 08") + Binary(VpcdCardModel::Aid));
    EXPECT_EQ(frames.back(), Binary("00 C0 00 00 11"));  // the FCI's 17 bytes
    // A wrong Le is answered with 6C08 and the command sent again with the length the card named.
    EXPECT_EQ(Send(*reader, CApdu(0x00, 0xCA, 0x01, 0x01, 256)), Binary(VpcdCardModel::DataObject) + Binary("9000"));
    const std::vector<Binary> all = Card().Frames();
    EXPECT_EQ(std::vector<Binary>(all.end() - 2, all.end()),
              (std::vector<Binary>{Binary("00 CA 01 01 00"), Binary("00 CA 01 01 08")}));
}

// The first protocol of the list that the card offers is the one connected, and
// the card sees TPDUs over T=0 (a case-4 command as case 3, then GET RESPONSE)
// and APDUs over T=1.
TEST_F(PcscEndToEnd, ProtocolListAgainstTheProtocolsOfTheCard) {
    const struct {
        const char* atr;
        bool t1;
        std::vector<uint32_t> protocols;
        DWORD active;  // 0: the connection is refused
    } cases[] = {
        {VpcdCardModel::AtrBoth, true, {1, 0}, SCARD_PROTOCOL_T1},
        {VpcdCardModel::AtrBoth, false, {0, 1}, SCARD_PROTOCOL_T0},
        {VpcdCardModel::AtrT0, false, {1, 0}, SCARD_PROTOCOL_T0},
        {VpcdCardModel::AtrT1, true, {0}, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.atr);
        InsertCard(c.atr, c.t1);
        auto reader = Reader(c.protocols);
        ATR atr;
        const DriverError error = DriverErrorOf([&] { reader->PowerOn(atr); });
        EXPECT_EQ(reader->GetActiveProtocol(), c.active);
        if (c.active == 0) {
            EXPECT_EQ(error.code, CardDrvError::CardConnection);
            EXPECT_EQ(error.text.rfind("PCSC Driver error (func: SCardConnect:, code: ", 0), 0u) << error.text;
            EXPECT_EQ(reader->GetCardHandle(), 0);
        } else {
            const Binary aid(VpcdCardModel::Aid);
            EXPECT_EQ(Send(*reader, CApdu(0x00, 0xA4, 0x04, 0x00, aid, 256)),
                      Binary(VpcdCardModel::Fci) + Binary("9000"));
            EXPECT_EQ(Card().Frames().back(), c.active == SCARD_PROTOCOL_T0
                                                  ? Binary("00 C0 00 00 11")
                                                  : Binary("00 A4 04 00 08") + aid + Binary("00"));
        }
        reader.reset();
        RemoveCard();
        m_card.reset();
    }
}

// The transport log dumps each TPDU as it went to pcscd and came back.
TEST_F(PcscEndToEnd, TransportLogDumpsTheExchangeWithTheCard) {
    InsertCard(VpcdCardModel::AtrBoth);
    test::RecordingLog log;
    auto reader = Reader({1, 0}, PrivatePcscd::Reader0, &log);
    ATR atr;
    reader->PowerOn(atr);
    EXPECT_EQ(Send(*reader, CApdu(0x00, 0xB0, 0x00, 0x00, 2)), Binary("00 01 90 00"));
    ASSERT_EQ(log.records.size(), 2u);
    EXPECT_EQ(log.records[0].text, "~~~~~~ TPDU T=1 ~~~~~~~\nRequest: 5 (0x05)\n00 B0 00 00 02\n");
    EXPECT_EQ(log.records[1].text, "~~~~~~ TPDU T=1 ~~~~~~~Response: 4 (0x04)\n00 01 90 00\n");
    CardExchParam param;
    EXPECT_EQ(DriverErrorOf([&] { reader->GetCardExchParam(param); }).code,
              CardDrvError::PcscAttribute);  // vpcd keeps no F, D or clock
    EXPECT_EQ(param.protocol, ProtocolT1);
}

// Cases 1 to 4 and an extended APDU over both protocols: over T=0 the card sees
// TPDUs (the extended APDU in ENVELOPE pieces, the answers fetched with GET
// RESPONSE), over T=1 the APDUs as they are.
class PcscCases : public PcscEndToEnd, public ::testing::WithParamInterface<uint32_t> {};

TEST_P(PcscCases, CasesOneToFourAndExtended) {
    InsertCard(VpcdCardModel::AtrBoth, GetParam() == ProtocolT1);
    auto reader = Reader({GetParam()});
    ATR atr;
    reader->PowerOn(atr);
    EXPECT_EQ(Send(*reader, CApdu(0x00, 0x12, 0x00, 0x00)), Binary("6D 00"));  // case 1, unknown to the card
    EXPECT_EQ(Card().Frames().back(), Binary("00 12 00 00"));
    EXPECT_EQ(Send(*reader, CApdu(0x00, 0xB0, 0x00, 0x00, 256)), FileBytes(0, 256) + Binary("90 00"));  // case 2
    EXPECT_EQ(Card().Frames().back(), Binary("00 B0 00 00 00"));
    EXPECT_EQ(Send(*reader, CApdu(0x00, 0xA4, 0x04, 0x0C, Binary(VpcdCardModel::Aid))), Binary("90 00"));  // case 3
    EXPECT_EQ(Send(*reader, CApdu(0x00, 0xA4, 0x04, 0x00, Binary(VpcdCardModel::Aid), 256)),               // case 4
              Binary(VpcdCardModel::Fci) + Binary("90 00"));
    const Binary data = FileBytes(0x40, 1000);
    EXPECT_EQ(Send(*reader, CApdu(0x80, 0xEE, 0x00, 0x00, data, 1000)), data + Binary("90 00"));
    if (GetParam() == ProtocolT1) {
        EXPECT_EQ(Card().Frames().back(), Binary("80 EE 00 00 00 03 E8") + data + Binary("03 E8"));
    } else {
        // The ENVELOPE pieces joined are the command in its extended encoding.
        Binary joined;
        for (const Binary& frame : Card().Frames()) {
            if (frame.size() > 5 && frame[1] == 0xC2) joined += Binary(frame.begin() + 5, frame.end());
        }
        EXPECT_EQ(joined, Binary("80 EE 00 00 00 03 E8") + data + Binary("03 E8"));
    }
    EXPECT_EQ(Send(*reader, CApdu(0x00, 0xB0, 0x00, 0x00, VpcdCardModel::FileSize)),
              FileBytes(0, VpcdCardModel::FileSize) + Binary("90 00"));
}

INSTANTIATE_TEST_SUITE_P(BothProtocols, PcscCases, ::testing::Values(ProtocolT0, ProtocolT1));

TEST_F(PcscEndToEnd, CardServiceWritesTheApduLogOverThisReader) {
    InsertCard(VpcdCardModel::AtrBoth);
    const std::string logPath = test::TestDir() + "pcsc_card_service.skarna";
    {
        auto log = std::make_shared<test::RecordingLog>();
        CardService service(CardServiceSettings(), Reader({1, 0}), log,
                            BaseApduWriter::Create(BaseApduWriter::Skarna, logPath, 2));
        service.PowerOn();
        EXPECT_EQ(service.Command(CApdu(0x00, 0xB0, 0x00, 0x10, 16), 0x9000).data, FileBytes(0x10, 16));
        EXPECT_THROW(service.Command(CApdu(0x00, 0xB0, 0x7F, 0x00, 16), ST_OK), Exception);
        service.PowerOff();
    }
    const std::string text = test::ReadFile(logPath);
    EXPECT_TRUE(test::Contains(text, "\non\n")) << text;
    EXPECT_TRUE(test::Contains(text, "o 00 B0 00 10 10 | 9000")) << text;
    EXPECT_TRUE(test::Contains(text, "\noff\n")) << text;
}

}  // namespace
}  // namespace ZORVIK
