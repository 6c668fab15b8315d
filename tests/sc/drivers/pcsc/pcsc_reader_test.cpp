// The PC/SC reader over a stand-in for the PC/SC service: the paths that a real
// driver cannot be made to show (attribute values and failures, control codes,
// failing transmissions, short answers, reader names).
#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <deque>
#include <map>
#include <set>

#include "sc/drivers/iso/byte_reader_helpers.h"
#include "sc/drivers/pcsc/pcsc_reader.h"
#include "service/log/recording_log.h"

namespace ZORVIK {
namespace {

using binary::Binary;
using test::DriverError;
using test::DriverErrorOf;

constexpr SCARDCONTEXT kContext = 0x1234;
constexpr SCARDHANDLE kCard = 0x5678;
constexpr const char* kReader = "OMNIKEY CardMan 5x21 00 00";

Binary Le32(uint32_t value) {
    return Binary{static_cast<uint8_t>(value), static_cast<uint8_t>(value >> 8), static_cast<uint8_t>(value >> 16),
                  static_cast<uint8_t>(value >> 24)};
}

// Answers as scripted and records what the reader asked for.
class FakePcsc : public PcscApi {
public:
    LONG EstablishContext(DWORD scope, SCARDCONTEXT* context) override {
        EXPECT_EQ(scope, static_cast<DWORD>(SCARD_SCOPE_USER));
        *context = kContext;
        ++contexts;
        return establishResult;
    }
    LONG ReleaseContext(SCARDCONTEXT context) override {
        EXPECT_EQ(context, kContext);
        ++releases;
        return SCARD_S_SUCCESS;
    }
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
        if (states[0].dwCurrentState == SCARD_STATE_EMPTY) {  // the wait after the Mifare switch
            EXPECT_EQ(timeoutMs, 20u);
            ++mifarePolls;
            if (mifarePolls < pollsUntilBack || pollsUntilBack < 0) return SCARD_E_TIMEOUT;
        } else {
            EXPECT_EQ(timeoutMs, 1u);
            if (!withCard.count(states[0].szReader)) {
                states[0].dwEventState = SCARD_STATE_EMPTY;
                return SCARD_S_SUCCESS;
            }
        }
        states[0].dwEventState = SCARD_STATE_PRESENT | SCARD_STATE_CHANGED;
        return SCARD_S_SUCCESS;
    }
    LONG Connect(SCARDCONTEXT context, const char* reader, DWORD shareMode, DWORD preferred, SCARDHANDLE* card,
                 DWORD* active) override {
        EXPECT_EQ(context, kContext);
        EXPECT_STREQ(reader, kReader);
        EXPECT_EQ(shareMode, static_cast<DWORD>(SCARD_SHARE_SHARED));
        connects.push_back(preferred);
        const LONG result = refused.count(preferred) ? SCARD_E_PROTO_MISMATCH : SCARD_S_SUCCESS;
        if (result == SCARD_S_SUCCESS) {
            *card = kCard;
            *active = activeOverride != 0 ? activeOverride : preferred;
        }
        return result;
    }
    LONG Reconnect(SCARDHANDLE card, DWORD shareMode, DWORD preferred, DWORD initialization, DWORD* active) override {
        EXPECT_EQ(card, kCard);
        EXPECT_EQ(shareMode, static_cast<DWORD>(SCARD_SHARE_SHARED));
        EXPECT_EQ(initialization, static_cast<DWORD>(SCARD_RESET_CARD));
        reconnects.push_back(preferred);
        if (refused.count(preferred)) return SCARD_E_PROTO_MISMATCH;
        *active = preferred;
        return SCARD_S_SUCCESS;
    }
    LONG Disconnect(SCARDHANDLE card, DWORD disposition) override {
        EXPECT_EQ(card, kCard);
        disconnects.push_back(disposition);
        return SCARD_S_SUCCESS;
    }
    LONG StatusAtr(SCARDHANDLE, uint8_t* atr, DWORD* length) override {
        ++statusCalls;
        std::memcpy(atr, statusAtr.data(), std::min<size_t>(*length, statusAtr.size()));
        *length = static_cast<DWORD>(statusAtr.size());
        return SCARD_S_SUCCESS;
    }
    LONG Transmit(SCARDHANDLE card, const SCARD_IO_REQUEST* pci, const uint8_t* send, DWORD sendLength,
                  uint8_t* receive, DWORD* receiveLength) override {
        EXPECT_EQ(card, kCard);
        pcis.push_back(pci->dwProtocol);
        sent.emplace_back(send, send + sendLength);
        EXPECT_GE(*receiveLength, static_cast<DWORD>(MAX_BUFFER_SIZE_EXTENDED));
        if (answers.empty()) return SCARD_E_NOT_TRANSACTED;
        const auto [result, answer] = answers.front();
        answers.pop_front();
        if (!answer.empty()) std::memcpy(receive, answer.data(), answer.size());
        *receiveLength = static_cast<DWORD>(answer.size());
        return result;
    }
    LONG Control(SCARDHANDLE card, DWORD code, const void* in, DWORD inLength, void* out, DWORD outLength,
                 DWORD* returned) override {
        EXPECT_EQ(card, kCard);
        EXPECT_EQ(outLength, 16u);
        EXPECT_NE(out, nullptr);
        controls.emplace_back(code,
                              Binary(static_cast<const uint8_t*>(in), static_cast<const uint8_t*>(in) + inLength));
        *returned = 0;
        return controlResult;
    }
    LONG GetAttrib(SCARDHANDLE card, DWORD attribute, uint8_t* value, DWORD* length) override {
        EXPECT_EQ(card, kCard);
        attributeCalls.push_back(attribute);
        attributeSizes.push_back(*length);
        const auto failure = attributeFailures.find(attribute);
        if (failure != attributeFailures.end()) return failure->second;
        const auto found = attributes.find(attribute);
        if (found == attributes.end()) return SCARD_E_UNSUPPORTED_FEATURE;
        if (found->second.size() > *length) return SCARD_E_INSUFFICIENT_BUFFER;
        std::memcpy(value, found->second.data(), found->second.size());
        *length = static_cast<DWORD>(found->second.size());
        return SCARD_S_SUCCESS;
    }

    LONG establishResult = SCARD_S_SUCCESS;
    DWORD activeOverride = 0;  // the protocol the service reports instead of the preferred one
    std::set<std::string> withCard{kReader};
    std::set<DWORD> refused;
    std::map<DWORD, Binary> attributes{{SCARD_ATTR_ATR_STRING, Binary("3B 80 80 01 01")}};
    std::map<DWORD, LONG> attributeFailures;
    Binary statusAtr{"3B 02 14 50"};
    std::deque<std::pair<LONG, Binary>> answers;
    LONG controlResult = SCARD_S_SUCCESS;
    int pollsUntilBack = 3;  // negative: the card never comes back
    std::string readerList;
    LONG listSizeResult = SCARD_S_SUCCESS;
    LONG listResult = SCARD_S_SUCCESS;

    int contexts = 0, releases = 0, statusCalls = 0, mifarePolls = 0;
    std::vector<DWORD> connects, reconnects, disconnects, attributeCalls, attributeSizes, pcis;
    std::vector<Binary> sent;
    std::vector<std::pair<DWORD, Binary>> controls;
};

class PcscReaderTest : public ::testing::Test {
protected:
    std::unique_ptr<PCSC_Reader> Make(const ReaderParams& params = ReaderParams(), bool mifare = false) {
        return std::make_unique<PCSC_Reader>(kReader, params, m_log.get(), mifare, m_pcsc);
    }
    std::unique_ptr<PCSC_Reader> Connected(std::vector<uint32_t> protocols = {1, 0}, bool transportLog = false) {
        ReaderParams params;
        params.protocols = std::move(protocols);
        params.transport_log = transportLog;
        auto reader = Make(params);
        ATR atr;
        reader->PowerOn(atr);
        return reader;
    }

    FakePcsc m_pcsc;
    std::shared_ptr<test::RecordingLog> m_log = std::make_shared<test::RecordingLog>();
};

const DriverError kProtocolMismatch{
    9, "PCSC Driver error (func: SCardConnect:, code: 8010000F, , msg: Card protocol mismatch.)"};
const DriverError kNoCard{11, "No Card in Reader or Card is Powered Off"};

TEST_F(PcscReaderTest, ReaderNameAndContextAreChecked) {
    EXPECT_EQ(DriverErrorOf([&] { PCSC_Reader("", ReaderParams(), nullptr, false, m_pcsc); }),
              (DriverError{36, "Wrong reader name"}));
    EXPECT_EQ(DriverErrorOf([&] { PCSC_Reader(std::string(256, 'R'), ReaderParams(), nullptr, false, m_pcsc); }),
              (DriverError{15, "Reader name too long"}));
    EXPECT_EQ(m_pcsc.contexts, 0);
    PCSC_Reader longest(std::string(255, 'R'), ReaderParams(), nullptr, false, m_pcsc);
    EXPECT_EQ(longest.GetReaderName(), std::string(255, 'R'));
    EXPECT_EQ(longest.GetContext(), kContext);

    m_pcsc.establishResult = SCARD_E_NO_SERVICE;
    EXPECT_EQ(DriverErrorOf([&] { Make(); }),
              (DriverError{13,
                           "PCSC Driver error (func: SCardEstablishContext:, code: 8010001D, , msg: Service not "
                           "available.)"}));
}

TEST_F(PcscReaderTest, DestructionDisconnectsWithUnpowerAndReleasesTheContext) {
    EXPECT_EQ(Connected()->GetCardHandle(), kCard);
    EXPECT_EQ(m_pcsc.disconnects, std::vector<DWORD>{SCARD_UNPOWER_CARD});
    EXPECT_EQ(m_pcsc.releases, 1);
}

TEST_F(PcscReaderTest, ProtocolListIsWalkedInOrderSkippingUnknownOnes) {
    m_pcsc.refused = {SCARD_PROTOCOL_T1};
    EXPECT_EQ(Connected({1, 0})->GetActiveProtocol(), static_cast<DWORD>(SCARD_PROTOCOL_T0));
    EXPECT_EQ(m_pcsc.connects, (std::vector<DWORD>{SCARD_PROTOCOL_T1, SCARD_PROTOCOL_T0}));
    m_pcsc.connects.clear();
    Connected({0});
    EXPECT_EQ(m_pcsc.connects, std::vector<DWORD>{SCARD_PROTOCOL_T0});

    m_pcsc.refused = {SCARD_PROTOCOL_T0, SCARD_PROTOCOL_T1};
    m_pcsc.connects.clear();
    for (const std::vector<uint32_t>& protocols : {std::vector<uint32_t>{1, 7, 0}, std::vector<uint32_t>{}}) {
        ReaderParams params;
        params.protocols = protocols;
        auto reader = Make(params);
        ATR atr;
        EXPECT_EQ(DriverErrorOf([&] { reader->PowerOn(atr); }), kProtocolMismatch);
        EXPECT_EQ(reader->GetCardHandle(), 0);
    }
    EXPECT_EQ(m_pcsc.connects, (std::vector<DWORD>{SCARD_PROTOCOL_T1, SCARD_PROTOCOL_T0}));  // 7 is skipped
}

TEST_F(PcscReaderTest, WithoutCardOrConnectionEveryOperationFails) {
    m_pcsc.withCard.clear();
    auto reader = Make();
    ATR atr;
    EXPECT_EQ(DriverErrorOf([&] { reader->PowerOn(atr); }), (DriverError{8, "Card not inserted"}));
    EXPECT_TRUE(m_pcsc.connects.empty());
    EXPECT_EQ(DriverErrorOf([&] { reader->Reset(atr); }), kNoCard);
    RApdu response;
    EXPECT_EQ(DriverErrorOf([&] { reader->Command(CApdu("00 B0 00 00 10"), response); }), kNoCard);
    CardExchParam param;
    EXPECT_EQ(DriverErrorOf([&] { reader->GetCardExchParam(param); }), kNoCard);
}

TEST_F(PcscReaderTest, AtrComesFromTheAttributeOrElseFromTheStatus) {
    EXPECT_EQ(Connected()->GetATR(), Binary("3B 80 80 01 01"));
    EXPECT_EQ(m_pcsc.attributeSizes.front(), 33u);
    EXPECT_EQ(m_pcsc.statusCalls, 0);

    m_pcsc.attributes.erase(SCARD_ATTR_ATR_STRING);  // vpcd keeps no ATR attribute
    EXPECT_EQ(Connected()->GetATR(), Binary("3B 02 14 50"));
    EXPECT_EQ(m_pcsc.statusCalls, 1);

    // A failing read leaves the reader unconnected.
    m_pcsc.disconnects.clear();
    m_pcsc.attributeFailures[SCARD_ATTR_ATR_STRING] = SCARD_E_NOT_TRANSACTED;
    auto reader = Make();
    ATR atr;
    EXPECT_EQ(
        DriverErrorOf([&] { reader->PowerOn(atr); }),
        (DriverError{10, "PCSC Driver error (func: SCardGetAttrib:, code: 80100016, , msg: Transaction failed.)"}));
    EXPECT_EQ(reader->GetCardHandle(), 0);
    EXPECT_EQ(m_pcsc.disconnects, std::vector<DWORD>{SCARD_UNPOWER_CARD});
}

TEST_F(PcscReaderTest, ResetReconnectsWithACardReset) {
    auto reader = Connected({0, 1});
    m_pcsc.attributes[SCARD_ATTR_ATR_STRING] = Binary("3B 80 01 81");
    ATR atr;
    reader->Reset(atr);
    EXPECT_EQ(m_pcsc.reconnects, std::vector<DWORD>{SCARD_PROTOCOL_T0});
    EXPECT_EQ(atr.GetRaw(), Binary("3B 80 01 81"));
    EXPECT_EQ(reader->GetATR(), Binary("3B 80 01 81"));

    m_pcsc.refused = {SCARD_PROTOCOL_T0, SCARD_PROTOCOL_T1};
    EXPECT_EQ(DriverErrorOf([&] { reader->Reset(atr); }), kProtocolMismatch);
    EXPECT_EQ(reader->GetCardHandle(), kCard);  // still connected as before the failed reset
}

TEST_F(PcscReaderTest, CardExchangeParametersFromFDAndClock) {
    m_pcsc.attributes[SCARD_ATTR_CURRENT_F] = Le32(372);
    m_pcsc.attributes[SCARD_ATTR_CURRENT_D] = Le32(1);
    m_pcsc.attributes[SCARD_ATTR_CURRENT_CLK] = Le32(3571);
    auto reader = Connected({1});
    CardExchParam param;
    reader->GetCardExchParam(param);
    EXPECT_EQ(param.protocol, ProtocolT1);
    EXPECT_EQ(param.clocksPerEtu, 372u);
    EXPECT_EQ(param.clock, 3571000u);
    EXPECT_EQ(param.bitRate, 9599u);

    m_pcsc.attributes[SCARD_ATTR_CURRENT_D] = Le32(0);  // no division by zero
    EXPECT_EQ(DriverErrorOf([&] { reader->GetCardExchParam(param); }),
              (DriverError{10, "SCardGetAttrib: the reader reports F 372 and D 0, no clocks per ETU"}));
    m_pcsc.attributeFailures[SCARD_ATTR_CURRENT_D] = SCARD_E_UNSUPPORTED_FEATURE;
    EXPECT_EQ(DriverErrorOf([&] { reader->GetCardExchParam(param); }),
              (DriverError{10,
                           "PCSC Driver error (func: SCardGetAttrib:, code: 8010001F, , msg: Feature not "
                           "supported.)"}));
}

TEST_F(PcscReaderTest, FullAttributeRecordReadsEveryAttributeInAlphabeticalOrder) {
    const std::set<DWORD> texts = {SCARD_ATTR_DEVICE_FRIENDLY_NAME, SCARD_ATTR_DEVICE_SYSTEM_NAME,
                                   SCARD_ATTR_VENDOR_IFD_TYPE, SCARD_ATTR_VENDOR_NAME};
    const std::vector<DWORD> alphabetical = {SCARD_ATTR_CHANNEL_ID,
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
    uint32_t value = 1000;  // the numeric attributes count up from 1000 in this order
    for (DWORD id : alphabetical) {
        if (!texts.count(id)) m_pcsc.attributes[id] = Le32(value++);
    }
    m_pcsc.attributes[SCARD_ATTR_CURRENT_D] = Le32(1);
    // A friendly name longer than 32 bytes, as real readers have.
    const std::string friendly = "OMNIKEY CardMan 5x21 (USB iClass Reader) 00 00";
    m_pcsc.attributes[SCARD_ATTR_DEVICE_FRIENDLY_NAME] = Binary(friendly.begin(), friendly.end()) + Binary("00");
    m_pcsc.attributes[SCARD_ATTR_DEVICE_SYSTEM_NAME] = Binary{'u', 's', 'b', 0};
    m_pcsc.attributes[SCARD_ATTR_VENDOR_IFD_TYPE] = Binary{'5', 'x', '2', '1', 0};
    m_pcsc.attributes[SCARD_ATTR_VENDOR_NAME] = Binary{'H', 'I', 'D'};
    auto reader = Connected({0});
    m_pcsc.attributeCalls.clear();

    PcscCardAttributes record;
    reader->GetCardExchParam(record);
    EXPECT_EQ(record.protocol, ProtocolT0);
    EXPECT_EQ(record.clocksPerEtu, 1007u);  // F (1007) / D (1)
    EXPECT_EQ(record.clock, 1003000u);      // CLK 1003 kHz
    EXPECT_EQ(record.atrString, Binary("3B 80 80 01 01"));
    EXPECT_EQ(record.channelId, 1000u);
    EXPECT_EQ(record.currentBwt, 1002u);
    EXPECT_EQ(record.currentW, 1012u);
    EXPECT_EQ(record.deviceUnit, 1015u);
    EXPECT_EQ(record.asyncProtocolTypes, 1023u);
    EXPECT_EQ(record.vendorIfdVersion, 1024u);
    EXPECT_EQ(record.deviceFriendlyName, friendly);
    EXPECT_EQ(record.deviceSystemName, "usb");
    EXPECT_EQ(record.vendorIfdType, "5x21");
    EXPECT_EQ(record.vendorName, "HID");

    std::vector<DWORD> expectedOrder = {SCARD_ATTR_CURRENT_F, SCARD_ATTR_CURRENT_D, SCARD_ATTR_CURRENT_CLK,
                                        SCARD_ATTR_ATR_STRING};
    expectedOrder.insert(expectedOrder.end(), alphabetical.begin(), alphabetical.end());
    EXPECT_EQ(m_pcsc.attributeCalls, expectedOrder);
    for (DWORD size : m_pcsc.attributeSizes) EXPECT_LE(size, static_cast<DWORD>(MAX_BUFFER_SIZE));

    m_pcsc.attributeFailures[SCARD_ATTR_VENDOR_NAME] = SCARD_E_INSUFFICIENT_BUFFER;
    EXPECT_EQ(DriverErrorOf([&] { reader->GetCardExchParam(record); }),
              (DriverError{10,
                           "PCSC Driver error (func: SCardGetAttrib:, code: 80100008, , msg: Insufficient "
                           "buffer.)"}));
}

TEST_F(PcscReaderTest, T0TpduShapesAndTheLimitOf255DataBytes) {
    auto reader = Connected({0});
    RApdu response;
    m_pcsc.answers = {{SCARD_S_SUCCESS, Binary("90 00")},
                      {SCARD_S_SUCCESS, Binary(std::string(512, 'A') + "9000")},
                      {SCARD_S_SUCCESS, Binary("90 00")}};
    reader->Command(CApdu(0x00, 0x70, 0x00, 0x00), response);
    reader->Command(CApdu(0x00, 0xB0, 0x00, 0x00, 256), response);
    EXPECT_EQ(response.data.size(), 256u);
    reader->Command(CApdu(0x00, 0xD6, 0x00, 0x00, Binary("01 02 03")), response);
    EXPECT_EQ(m_pcsc.sent, (std::vector<Binary>{Binary("00 70 00 00"),  // case 1: the header alone
                                                Binary("00 B0 00 00 00"), Binary("00 D6 00 00 03 01 02 03")}));
    EXPECT_EQ(m_pcsc.pcis, std::vector<DWORD>(3, SCARD_PROTOCOL_T0));

    PCSC_Reader_T0 engine(reader.get());
    EXPECT_EQ(DriverErrorOf(
                  [&] { engine.RR_Command(CApdu(0x00, 0xD6, 0x00, 0x00, Binary(std::string(512, '5'))), response); }),
              (DriverError{17, "T=0 : Command APDU data size > 255"}));
    EXPECT_EQ(m_pcsc.sent.size(), 3u);
}

TEST_F(PcscReaderTest, T1SendsTheWholeApduAndCutsTheAnswerToNe) {
    auto reader = Connected({1});
    RApdu response;
    m_pcsc.answers = {{SCARD_S_SUCCESS, Binary("11 22 33 44 90 00")}, {SCARD_S_SUCCESS, Binary("11 22 90 00")}};
    reader->Command(CApdu(0x00, 0xB0, 0x00, 0x00, 2), response);
    EXPECT_EQ(response.data, Binary("11 22"));
    EXPECT_EQ(response.GetSW(), 0x9000);
    reader->Command(CApdu(0x00, 0xA4, 0x04, 0x0C, Binary("A0 00")), response);
    EXPECT_TRUE(response.data.empty());  // Ne 0
    EXPECT_EQ(m_pcsc.sent[1], Binary("00 A4 04 0C 02 A0 00"));
    EXPECT_EQ(m_pcsc.pcis, std::vector<DWORD>(2, SCARD_PROTOCOL_T1));
}

TEST_F(PcscReaderTest, ActiveProtocolChoosesTheControlInformation) {
    m_pcsc.activeOverride = SCARD_PROTOCOL_RAW;
    auto raw = Connected({1});
    m_pcsc.answers = {{SCARD_S_SUCCESS, Binary("90 00")}};
    RApdu response;
    raw->Command(CApdu(0x00, 0x70, 0x00, 0x00), response);
    EXPECT_EQ(m_pcsc.pcis, std::vector<DWORD>{SCARD_PROTOCOL_RAW});
    CardExchParam param;
    m_pcsc.attributes[SCARD_ATTR_CURRENT_F] = Le32(372);
    m_pcsc.attributes[SCARD_ATTR_CURRENT_D] = Le32(1);
    m_pcsc.attributes[SCARD_ATTR_CURRENT_CLK] = Le32(4000);
    EXPECT_EQ(raw->GetCardExchParam(param).protocol, ProtocolRaw);

    m_pcsc.activeOverride = SCARD_PROTOCOL_T15;
    auto unknown = Connected({1});
    EXPECT_EQ(DriverErrorOf([&] { unknown->Command(CApdu(0x00, 0x70, 0x00, 0x00), response); }),
              (DriverError{19,
                           "Request: \n00 70 00 00\nResponse: \n\nProtocol: UNDEFINED\n"
                           "PCSC Driver error (func: SCardTransmit:, code: 80100014, , msg: Unknown error.)"}));
    EXPECT_EQ(m_pcsc.sent.size(), 1u);
    EXPECT_EQ(DriverErrorOf([&] { unknown->GetCardExchParam(param); }),
              (DriverError{16, "Unknown parameters for current protocol"}));
}

TEST_F(PcscReaderTest, ShortAnswerAndFailedTransmission) {
    RApdu response;
    for (uint32_t protocol : {ProtocolT0, ProtocolT1}) {
        auto reader = Connected({protocol});
        m_pcsc.answers = {{SCARD_S_SUCCESS, Binary("90")}};
        EXPECT_EQ(DriverErrorOf([&] { reader->Command(CApdu(0x00, 0xB0, 0x00, 0x00, 1), response); }),
                  (DriverError{20, "Cannot get response from card"}));
    }
    // The failure carries the dump of the exchange.
    auto reader = Connected({1});
    m_pcsc.answers = {{SCARD_W_REMOVED_CARD, Binary()}};
    const CApdu command(0x80, 0xEE, 0x00, 0x00, Binary(std::string(40, '7')), 0);
    EXPECT_EQ(DriverErrorOf([&] { reader->Command(command, response); }),
              (DriverError{19,
                           "Request: \n80 EE 00 00 14 77 77 77 77 77 77 77 77 77 77 77\n77 77 77 77 77 77 77 77 77\n"
                           "Response: \n\nProtocol: T1\n"
                           "PCSC Driver error (func: SCardTransmit:, code: 80100069, , msg: Card was removed.)"}));
}

TEST_F(PcscReaderTest, TransportLogDumpsRequestAndResponse) {
    auto reader = Connected({0}, true);
    m_pcsc.answers = {{SCARD_S_SUCCESS, Binary("6A 82")}};
    RApdu response;
    reader->Command(CApdu(0x00, 0xA4, 0x00, 0x0C, Binary("3F 00")), response);
    ASSERT_EQ(m_log->records.size(), 2u);
    EXPECT_EQ(m_log->records[0].text, "~~~~~~ TPDU T=0 ~~~~~~~\nRequest: 7 (0x07)\n00 A4 00 0C 02 3F 00\n");
    EXPECT_EQ(m_log->records[1].text, "~~~~~~ TPDU T=0 ~~~~~~~Response: 2 (0x02)\n6A 82\n");
    for (const LogRecord& record : m_log->records) {
        EXPECT_EQ(record.level, 3);
        EXPECT_EQ(record.colour, 6);
    }
}

// A sink that cannot write the dump (colour 6) but takes everything else.
class RefusingDumpLog : public test::RecordingLog {
public:
    void WriteRec(const LogRecord& record) override {
        if (record.colour == 6) throw Exception("disk full", SourcePlace());
        RecordingLog::WriteRec(record);
    }
};

TEST_F(PcscReaderTest, FailingDumpIsLoggedAndTheExchangeGoesOn) {
    auto log = std::make_shared<RefusingDumpLog>();
    ReaderParams params;
    params.protocols = {1};
    params.transport_log = true;
    PCSC_Reader reader(kReader, params, log.get(), false, m_pcsc);
    ATR atr;
    reader.PowerOn(atr);
    m_pcsc.answers = {{SCARD_S_SUCCESS, Binary("90 00")}};
    RApdu response;
    reader.Command(CApdu(0x00, 0x70, 0x00, 0x00), response);
    EXPECT_EQ(response.GetSW(), 0x9000);
    ASSERT_EQ(log->records.size(), 2u);
    EXPECT_EQ(log->records[0].text, "Ошибка вывода TApdu.\n");
    EXPECT_EQ(log->records[0].level, 6);
    EXPECT_EQ(log->records[0].colour, 14);
}

TEST_F(PcscReaderTest, MifareEmulationIsSwitchedOnAtPowerOnAndOffAtDestruction) {
    {
        auto reader = Make(ReaderParams(), true);
        EXPECT_EQ(reader->GetMifareState(), PCSC_Reader::MifareRequested);
        ATR atr;
        reader->PowerOn(atr);
        EXPECT_EQ(reader->GetMifareState(), PCSC_Reader::MifareOn);
        ASSERT_EQ(m_pcsc.controls.size(), 1u);
        EXPECT_EQ(m_pcsc.controls[0].first, static_cast<DWORD>(0x42000000 + 3213));
        EXPECT_EQ(m_pcsc.controls[0].second, Binary("04 00 00 00 04 00 00 00"));
        EXPECT_EQ(m_pcsc.mifarePolls, 3);
        // T=1 first by the list, then T=1 again after the switch.
        EXPECT_EQ(m_pcsc.connects, (std::vector<DWORD>{SCARD_PROTOCOL_T1, SCARD_PROTOCOL_T1}));
        reader->PowerOff();
    }
    ASSERT_EQ(m_pcsc.controls.size(), 2u);
    EXPECT_EQ(m_pcsc.controls[1].second, Binary("04 00 00 00 00 00 00 00"));
    EXPECT_EQ(m_pcsc.connects.size(), 3u);  // the destructor connects to switch it off

    // A failing switch is code 9 and leaves the reader unconnected.
    m_pcsc.controlResult = SCARD_E_UNSUPPORTED_FEATURE;
    auto reader = Make(ReaderParams(), true);
    ATR atr;
    EXPECT_EQ(
        DriverErrorOf([&] { reader->PowerOn(atr); }),
        (DriverError{9, "PCSC Driver error (func: SCardControl:, code: 8010001F, , msg: Feature not supported.)"}));
    EXPECT_EQ(reader->GetCardHandle(), 0);
    EXPECT_EQ(reader->GetMifareState(), PCSC_Reader::MifareRequested);
}

TEST_F(PcscReaderTest, WaitForTheCardAfterTheMifareSwitchIsBounded) {
    m_pcsc.pollsUntilBack = -1;
    auto reader = Make(ReaderParams(), true);
    ATR atr;
    const auto started = std::chrono::steady_clock::now();
    EXPECT_EQ(DriverErrorOf([&] { reader->PowerOn(atr); }),
              (DriverError{9, "Mifare emulation switch: no card in reader 'OMNIKEY CardMan 5x21 00 00' within 5 s"}));
    const auto spent = std::chrono::steady_clock::now() - started;
    EXPECT_GE(spent, PCSC_Reader::MifareWaitLimit);
    EXPECT_LT(spent, PCSC_Reader::MifareWaitLimit + std::chrono::seconds(2));
    EXPECT_EQ(reader->GetCardHandle(), 0);
}

TEST_F(PcscReaderTest, ReaderListParsesTheMultiStringFiltersByCardAndReportsFailures) {
    m_pcsc.readerList = std::string(kReader) + '\0' + "Second Reader 01" + '\0' + '\0';
    std::vector<std::string> names;
    EXPECT_EQ(getPCSCReaderList(names, false, m_pcsc), SCARD_S_SUCCESS);
    EXPECT_EQ(names, (std::vector<std::string>{kReader, "Second Reader 01"}));
    names.clear();
    EXPECT_EQ(getPCSCReaderList(names, true, m_pcsc), SCARD_S_SUCCESS);
    EXPECT_EQ(names, std::vector<std::string>{kReader});

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
    EXPECT_EQ(m_pcsc.releases, m_pcsc.contexts);
    m_pcsc.establishResult = SCARD_E_NO_SERVICE;
    EXPECT_EQ(getPCSCReaderList(names, false, m_pcsc), SCARD_E_NO_SERVICE);
}

}  // namespace
}  // namespace ZORVIK
