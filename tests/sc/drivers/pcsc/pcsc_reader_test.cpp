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

// Answers as scripted and records what the reader asked for. An attribute it
// holds no value for is a number: its identifier's low 16 bits.
class FakePcsc : public PcscApi {
public:
    LONG EstablishContext(DWORD, SCARDCONTEXT* context) override {
        *context = kContext;
        ++contexts;
        return establishResult;
    }
    LONG ReleaseContext(SCARDCONTEXT) override {
        ++releases;
        return SCARD_S_SUCCESS;
    }
    LONG ListReaders(SCARDCONTEXT, char* readers, DWORD* length) override {
        if (readers == nullptr || listResult != SCARD_S_SUCCESS) {
            *length = static_cast<DWORD>(readerList.size());
            return readers == nullptr ? listSizeResult : listResult;
        }
        std::memcpy(readers, readerList.data(), std::min<size_t>(*length, readerList.size()));
        return SCARD_S_SUCCESS;
    }
    LONG GetStatusChange(SCARDCONTEXT, DWORD timeoutMs, SCARD_READERSTATE* states, DWORD) override {
        if (states[0].dwCurrentState == SCARD_STATE_EMPTY) {  // the wait after the Mifare switch
            EXPECT_EQ(timeoutMs, 20u);
            if (++mifarePolls < pollsUntilBack || pollsUntilBack < 0) return SCARD_E_TIMEOUT;
        } else if (!withCard.count(states[0].szReader)) {
            states[0].dwEventState = SCARD_STATE_EMPTY;
            return SCARD_S_SUCCESS;
        }
        states[0].dwEventState = SCARD_STATE_PRESENT | SCARD_STATE_CHANGED;
        return SCARD_S_SUCCESS;
    }
    LONG Connect(SCARDCONTEXT, const char* reader, DWORD shareMode, DWORD preferred, SCARDHANDLE* card,
                 DWORD* active) override {
        EXPECT_STREQ(reader, kReader);
        EXPECT_EQ(shareMode, static_cast<DWORD>(SCARD_SHARE_SHARED));
        connects.push_back(preferred);
        if (refused.count(preferred)) return SCARD_E_PROTO_MISMATCH;
        *card = kCard;
        *active = activeOverride != 0 ? activeOverride : preferred;
        return SCARD_S_SUCCESS;
    }
    LONG Reconnect(SCARDHANDLE, DWORD, DWORD preferred, DWORD initialization, DWORD* active) override {
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
        std::memcpy(atr, statusAtr.data(), statusAtr.size());
        *length = static_cast<DWORD>(statusAtr.size());
        return SCARD_S_SUCCESS;
    }
    LONG Transmit(SCARDHANDLE, const SCARD_IO_REQUEST* pci, const uint8_t* send, DWORD sendLength, uint8_t* receive,
                  DWORD* receiveLength) override {
        pcis.push_back(pci->dwProtocol);
        sent.emplace_back(send, send + sendLength);
        EXPECT_GE(*receiveLength, static_cast<DWORD>(MAX_BUFFER_SIZE_EXTENDED));
        if (answers.empty()) return SCARD_E_NOT_TRANSACTED;
        const auto [result, answer] = answers.front();
        answers.pop_front();
        std::copy(answer.begin(), answer.end(), receive);
        *receiveLength = static_cast<DWORD>(answer.size());
        return result;
    }
    LONG Control(SCARDHANDLE, DWORD code, const void* in, DWORD inLength, void*, DWORD outLength, DWORD*) override {
        EXPECT_EQ(outLength, 16u);
        controls.emplace_back(code,
                              Binary(static_cast<const uint8_t*>(in), static_cast<const uint8_t*>(in) + inLength));
        return controlResult;
    }
    LONG GetAttrib(SCARDHANDLE, DWORD attribute, uint8_t* value, DWORD* length) override {
        attributeCalls.push_back(attribute);
        // Numbers in 4 bytes, the ATR in MAX_ATR_SIZE, texts in MAX_BUFFER_SIZE: pcsc-lite refuses larger buffers.
        EXPECT_EQ(*length, static_cast<DWORD>(attribute == SCARD_ATTR_ATR_STRING ? MAX_ATR_SIZE
                                              : *length == 4                     ? 4
                                                                                 : MAX_BUFFER_SIZE));
        if (failures.count(attribute)) return failures[attribute];
        const auto found = attributes.find(attribute);
        const Binary bytes = found != attributes.end() ? found->second : Le32(attribute & 0xFFFF);
        std::memcpy(value, bytes.data(), bytes.size());
        *length = static_cast<DWORD>(bytes.size());
        return SCARD_S_SUCCESS;
    }

    LONG establishResult = SCARD_S_SUCCESS, listSizeResult = SCARD_S_SUCCESS, listResult = SCARD_S_SUCCESS;
    LONG controlResult = SCARD_S_SUCCESS;
    DWORD activeOverride = 0;  // the protocol the service reports instead of the preferred one
    std::set<std::string> withCard{kReader};
    std::set<DWORD> refused;
    std::map<DWORD, Binary> attributes{{SCARD_ATTR_ATR_STRING, Binary("3B 80 80 01 01")},
                                       {SCARD_ATTR_CURRENT_F, Le32(372)},
                                       {SCARD_ATTR_CURRENT_D, Le32(1)}};
    std::map<DWORD, LONG> failures;
    Binary statusAtr{"3B 02 14 50"};
    std::deque<std::pair<LONG, Binary>> answers;
    int pollsUntilBack = 3;  // negative: the card never comes back
    std::string readerList;

    int contexts = 0, releases = 0, mifarePolls = 0;
    std::vector<DWORD> connects, reconnects, disconnects, attributeCalls, pcis;
    std::vector<Binary> sent;
    std::vector<std::pair<DWORD, Binary>> controls;
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
    // The driver error of a power-on.
    static DriverError PowerOnError(PCSC_Reader& reader) {
        ATR atr;
        return DriverErrorOf([&] { reader.PowerOn(atr); });
    }
    // Sends the command with these answers of the service.
    RApdu Send(PCSC_Reader& reader, const CApdu& command, std::deque<std::pair<LONG, Binary>> answers) {
        m_pcsc.answers = std::move(answers);
        RApdu response;
        reader.Command(command, response);
        return response;
    }

    FakePcsc m_pcsc;
};

std::string Failure(const char* function, const char* code, const char* message) {
    return std::string("PCSC Driver error (func: ") + function + ":, code: " + code + ", , msg: " + message + ")";
}

TEST_F(PcscReaderTest, ReaderNameAndContextAreChecked) {
    EXPECT_EQ(DriverErrorOf([&] { PCSC_Reader("", ReaderParams(), nullptr, false, m_pcsc); }),
              (DriverError{36, "Wrong reader name"}));
    EXPECT_EQ(DriverErrorOf([&] { PCSC_Reader(std::string(256, 'R'), ReaderParams(), nullptr, false, m_pcsc); }),
              (DriverError{15, "Reader name too long"}));
    EXPECT_EQ(PCSC_Reader(std::string(255, 'R'), ReaderParams(), nullptr, false, m_pcsc).GetContext(), kContext);
    m_pcsc.establishResult = SCARD_E_NO_SERVICE;
    EXPECT_EQ(DriverErrorOf([&] { Make(); }),
              (DriverError{13, Failure("SCardEstablishContext", "8010001D", "Service not available.")}));
}

TEST_F(PcscReaderTest, ProtocolListIsWalkedInOrderAndDestructionUnpowers) {
    m_pcsc.refused = {SCARD_PROTOCOL_T1};
    EXPECT_EQ(Connected({1, 7, 0})->GetActiveProtocol(), static_cast<DWORD>(SCARD_PROTOCOL_T0));  // 7 is skipped
    EXPECT_EQ(m_pcsc.connects, (std::vector<DWORD>{SCARD_PROTOCOL_T1, SCARD_PROTOCOL_T0}));
    EXPECT_EQ(m_pcsc.disconnects, std::vector<DWORD>{SCARD_UNPOWER_CARD});
    EXPECT_EQ(m_pcsc.releases, 1);

    m_pcsc.refused = {SCARD_PROTOCOL_T0, SCARD_PROTOCOL_T1};
    for (const std::vector<uint32_t>& protocols : {std::vector<uint32_t>{1, 0}, std::vector<uint32_t>{}}) {
        auto reader = Make(protocols);
        EXPECT_EQ(PowerOnError(*reader),
                  (DriverError{9, Failure("SCardConnect", "8010000F", "Card protocol mismatch.")}));
        EXPECT_EQ(reader->GetCardHandle(), 0);
    }
    m_pcsc.withCard.clear();
    EXPECT_EQ(PowerOnError(*Make()), (DriverError{8, "Card not inserted"}));
}

TEST_F(PcscReaderTest, AtrComesFromTheAttributeOrElseFromTheStatusAndResetReconnects) {
    auto reader = Connected({0, 1});
    EXPECT_EQ(reader->GetATR(), Binary("3B 80 80 01 01"));
    m_pcsc.failures[SCARD_ATTR_ATR_STRING] = SCARD_E_UNSUPPORTED_FEATURE;  // vpcd keeps no ATR attribute
    ATR atr;
    reader->Reset(atr);
    EXPECT_EQ(m_pcsc.reconnects, std::vector<DWORD>{SCARD_PROTOCOL_T0});
    EXPECT_EQ(atr.GetRaw(), Binary("3B 02 14 50"));
    m_pcsc.refused = {SCARD_PROTOCOL_T0, SCARD_PROTOCOL_T1};
    EXPECT_EQ(DriverErrorOf([&] { reader->Reset(atr); }).code, 9);
    EXPECT_EQ(reader->GetCardHandle(), kCard);  // still connected as before the failed reset

    // A failing read leaves the reader unconnected.
    m_pcsc.refused.clear();
    m_pcsc.failures[SCARD_ATTR_ATR_STRING] = SCARD_E_NOT_TRANSACTED;
    auto failing = Make();
    EXPECT_EQ(PowerOnError(*failing), (DriverError{10, Failure("SCardGetAttrib", "80100016", "Transaction failed.")}));
    EXPECT_EQ(failing->GetCardHandle(), 0);
    EXPECT_EQ(m_pcsc.disconnects, std::vector<DWORD>{SCARD_UNPOWER_CARD});
}

TEST_F(PcscReaderTest, CardExchangeParametersFromFDAndClock) {
    auto reader = Make({1});
    CardExchParam param;
    EXPECT_EQ(DriverErrorOf([&] { reader->GetCardExchParam(param); }),
              (DriverError{11, "No Card in Reader or Card is Powered Off"}));
    ATR atr;
    reader->PowerOn(atr);
    m_pcsc.attributes[SCARD_ATTR_CURRENT_CLK] = Le32(3571);
    reader->GetCardExchParam(param);
    EXPECT_EQ(param.protocol, ProtocolT1);
    EXPECT_EQ(param.clocksPerEtu, 372u);
    EXPECT_EQ(param.clock, 3571000u);
    EXPECT_EQ(param.bitRate, 9599u);

    m_pcsc.attributes[SCARD_ATTR_CURRENT_D] = Le32(0);  // no division by zero
    EXPECT_EQ(DriverErrorOf([&] { reader->GetCardExchParam(param); }),
              (DriverError{10, "SCardGetAttrib: the reader reports F 372 and D 0, no clocks per ETU"}));
    m_pcsc.failures[SCARD_ATTR_CURRENT_D] = SCARD_E_UNSUPPORTED_FEATURE;
    EXPECT_EQ(DriverErrorOf([&] { reader->GetCardExchParam(param); }).code, 10);
}

TEST_F(PcscReaderTest, FullAttributeRecordReadsNumbersAndTexts) {
    // A friendly name longer than 32 bytes, as real readers have.
    const std::string friendly = "OMNIKEY CardMan 5x21 (USB iClass Reader) 00 00";
    m_pcsc.attributes[SCARD_ATTR_DEVICE_FRIENDLY_NAME] = Binary(friendly.begin(), friendly.end()) + Binary("00");
    m_pcsc.attributes[SCARD_ATTR_VENDOR_NAME] = Binary{'H', 'I', 'D'};
    auto reader = Connected({0});
    PcscCardAttributes record;
    reader->GetCardExchParam(record);
    EXPECT_EQ(record.protocol, ProtocolT0);
    EXPECT_EQ(record.clocksPerEtu, 372u);
    EXPECT_EQ(record.atrString, Binary("3B 80 80 01 01"));
    EXPECT_EQ(record.channelId, SCARD_ATTR_CHANNEL_ID & 0xFFFF);
    EXPECT_EQ(record.maxIfsd, SCARD_ATTR_MAX_IFSD & 0xFFFF);
    EXPECT_EQ(record.vendorIfdVersion, SCARD_ATTR_VENDOR_IFD_VERSION & 0xFFFF);
    EXPECT_EQ(record.deviceFriendlyName, friendly);
    EXPECT_EQ(record.vendorName, "HID");
    EXPECT_EQ(m_pcsc.attributeCalls.size(), 1u + 3 + 1 + 29);  // the ATR at power-on; F, D, CLK, ATR, the rest

    m_pcsc.failures[SCARD_ATTR_VENDOR_NAME] = SCARD_E_INSUFFICIENT_BUFFER;
    EXPECT_EQ(DriverErrorOf([&] { reader->GetCardExchParam(record); }),
              (DriverError{10, Failure("SCardGetAttrib", "80100008", "Insufficient buffer.")}));
}

TEST_F(PcscReaderTest, T0TpduShapesAndTheLimitOf255DataBytes) {
    auto reader = Connected({0});
    Send(*reader, CApdu(0x00, 0x70, 0x00, 0x00), {{SCARD_S_SUCCESS, Binary("9000")}});
    EXPECT_EQ(Send(*reader, CApdu(0x00, 0xB0, 0x00, 0x00, 256), {{SCARD_S_SUCCESS, Binary(258, 0x90)}}).data.size(),
              256u);
    Send(*reader, CApdu(0x00, 0xD6, 0x00, 0x00, Binary("01 02 03")), {{SCARD_S_SUCCESS, Binary("9000")}});
    EXPECT_EQ(m_pcsc.sent, (std::vector<Binary>{Binary("00 70 00 00"),  // case 1: the header alone
                                                Binary("00 B0 00 00 00"), Binary("00 D6 00 00 03 01 02 03")}));
    EXPECT_EQ(m_pcsc.pcis, std::vector<DWORD>(3, SCARD_PROTOCOL_T0));

    PCSC_Reader_T0 engine(reader.get());
    RApdu response;
    EXPECT_EQ(DriverErrorOf([&] { engine.RR_Command(CApdu(0x00, 0xD6, 0x00, 0x00, Binary(256, 0x55)), response); }),
              (DriverError{17, "T=0 : Command APDU data size > 255"}));
    EXPECT_EQ(m_pcsc.sent.size(), 3u);
}

TEST_F(PcscReaderTest, T1SendsTheWholeApduAndCutsTheAnswerToNe) {
    auto reader = Connected({1});
    EXPECT_EQ(
        Send(*reader, CApdu(0x00, 0xB0, 0x00, 0x00, 2), {{SCARD_S_SUCCESS, Binary("11 22 33 44 90 00")}}).Encode(),
        Binary("11 22 90 00"));
    EXPECT_EQ(
        Send(*reader, CApdu(0x00, 0xA4, 0x04, 0x0C, Binary("A0 00")), {{SCARD_S_SUCCESS, Binary("11 90 00")}}).Encode(),
        Binary("90 00"));  // Ne 0
    EXPECT_EQ(m_pcsc.sent[1], Binary("00 A4 04 0C 02 A0 00"));
    EXPECT_EQ(m_pcsc.pcis, std::vector<DWORD>(2, SCARD_PROTOCOL_T1));
}

TEST_F(PcscReaderTest, ActiveProtocolChoosesTheControlInformation) {
    m_pcsc.activeOverride = SCARD_PROTOCOL_RAW;
    auto raw = Connected({1});
    Send(*raw, CApdu(0x00, 0x70, 0x00, 0x00), {{SCARD_S_SUCCESS, Binary("90 00")}});
    EXPECT_EQ(m_pcsc.pcis, std::vector<DWORD>{SCARD_PROTOCOL_RAW});
    CardExchParam param;
    EXPECT_EQ(raw->GetCardExchParam(param).protocol, ProtocolRaw);

    m_pcsc.activeOverride = SCARD_PROTOCOL_T15;
    auto unknown = Connected({1});
    EXPECT_EQ(DriverErrorOf([&] { Send(*unknown, CApdu(0x00, 0x70, 0x00, 0x00), {}); }),
              (DriverError{19, "Request: \n00 70 00 00\nResponse: \n\nProtocol: UNDEFINED\n" +
                                   Failure("SCardTransmit", "80100014", "Unknown error.")}));
    EXPECT_EQ(m_pcsc.sent.size(), 1u);
    EXPECT_EQ(DriverErrorOf([&] { unknown->GetCardExchParam(param); }),
              (DriverError{16, "Unknown parameters for current protocol"}));
}

TEST_F(PcscReaderTest, ShortAnswerAndFailedTransmission) {
    for (uint32_t protocol : {ProtocolT0, ProtocolT1}) {
        auto reader = Connected({protocol});
        EXPECT_EQ(DriverErrorOf([&] {
                      Send(*reader, CApdu(0x00, 0xB0, 0x00, 0x00, 1), {{SCARD_S_SUCCESS, Binary("90")}});
                  }),
                  (DriverError{20, "Cannot get response from card"}));
    }
    // The failure carries the dump of the exchange, 16 bytes a line.
    auto reader = Connected({1});
    const CApdu command(0x80, 0xEE, 0x00, 0x00, Binary(20, 0x77), 0);
    EXPECT_EQ(DriverErrorOf([&] {
                  Send(*reader, command, {{SCARD_W_REMOVED_CARD, Binary()}});
              }),
              (DriverError{19,
                           "Request: \n80 EE 00 00 14 77 77 77 77 77 77 77 77 77 77 77\n77 77 77 77 77 77 77 77 77\n"
                           "Response: \n\nProtocol: T1\n" +
                               Failure("SCardTransmit", "80100069", "Card was removed.")}));
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
    Send(*reader, CApdu(0x00, 0xA4, 0x00, 0x0C, Binary("3F 00")), {{SCARD_S_SUCCESS, Binary("6A 82")}});
    ASSERT_EQ(log.records.size(), 2u);
    EXPECT_EQ(log.records[0].text, "~~~~~~ TPDU T=0 ~~~~~~~\nRequest: 7 (0x07)\n00 A4 00 0C 02 3F 00\n");
    EXPECT_EQ(log.records[1].text, "~~~~~~ TPDU T=0 ~~~~~~~Response: 2 (0x02)\n6A 82\n");
    EXPECT_EQ(log.records[1].level, 3);
    EXPECT_EQ(log.records[1].colour, 6);

    log.refuse = true;
    EXPECT_EQ(Send(*reader, CApdu(0x00, 0x70, 0x00, 0x00), {{SCARD_S_SUCCESS, Binary("90 00")}}).GetSW(), 0x9000);
    ASSERT_EQ(log.records.size(), 4u);
    EXPECT_EQ(log.records[2].text, "Ошибка вывода TApdu.\n");
    EXPECT_EQ(log.records[2].level, 6);
    EXPECT_EQ(log.records[2].colour, 14);
}

TEST_F(PcscReaderTest, MifareEmulationIsSwitchedOnAtPowerOnAndOffAtDestruction) {
    {
        auto reader = Make({1, 0}, true);
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
    auto reader = Make({1, 0}, true);
    EXPECT_EQ(PowerOnError(*reader), (DriverError{9, Failure("SCardControl", "8010001F", "Feature not supported.")}));
    EXPECT_EQ(reader->GetCardHandle(), 0);
    EXPECT_EQ(reader->GetMifareState(), PCSC_Reader::MifareRequested);
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
}

TEST_F(PcscReaderTest, ReaderListParsesTheMultiStringFiltersByCardAndReportsFailures) {
    m_pcsc.readerList = std::string(kReader) + '\0' + "Second Reader 01" + '\0' + '\0';
    for (const bool withCard : {false, true}) {
        std::vector<std::string> names;
        EXPECT_EQ(getPCSCReaderList(names, withCard, m_pcsc), SCARD_S_SUCCESS);
        EXPECT_EQ(names, (withCard ? std::vector<std::string>{kReader}
                                   : std::vector<std::string>{kReader, "Second Reader 01"}));
    }
    std::vector<std::string> names;
    m_pcsc.listSizeResult = SCARD_E_NO_READERS_AVAILABLE;
    EXPECT_EQ(getPCSCReaderList(names, false, m_pcsc), SCARD_E_NO_READERS_AVAILABLE);
    m_pcsc.listSizeResult = SCARD_S_SUCCESS;
    m_pcsc.listResult = SCARD_E_INSUFFICIENT_BUFFER;
    EXPECT_EQ(DriverErrorOf([&] { getPCSCReaderList(names, false, m_pcsc); }),
              (DriverError{0, Failure("SCardListReaders [2]", "80100008", "Insufficient buffer.")}));
    EXPECT_EQ(m_pcsc.releases, m_pcsc.contexts);
    m_pcsc.establishResult = SCARD_E_NO_SERVICE;
    EXPECT_EQ(getPCSCReaderList(names, false, m_pcsc), SCARD_E_NO_SERVICE);
    EXPECT_TRUE(names.empty());
}

}  // namespace
}  // namespace ZORVIK
