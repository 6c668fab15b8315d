#include "sc/drivers/iso/iso_reader.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>

#include "sc/drivers/iso/byte_reader_helpers.h"
#include "service/log/recording_log.h"
#include "support/error_text.h"
#include "support/serial_reader_emulator.h"

namespace ZORVIK {
namespace {

using binary::Binary;
using test::DriverError;
using test::DriverErrorOf;
using Device = test::SerialReaderEmulator;
using Options = Device::Options;

// T=1 only (TD1 = 81, TD2 = 31), IFSC FE in TA3, BWI/CWI 45 in TB3, TCK 8B.
const Binary T1Atr("3B 80 81 31 FE 45 8B");
const DriverError NoCard{CardDrvError::NoCardByteLink, "No Card in Reader or Card is Powered Off"};

TEST(SerialPort, OpensTheDeviceAtTheRateOfItsIndexAndReadsALookAheadByteAgain) {
    EXPECT_EQ(SerialPort::DevicePath("CNCB0"), "/dev/CNCB0");
    EXPECT_EQ(SerialPort::DevicePath("/dev/pts/3"), "/dev/pts/3");
    EXPECT_EQ(DriverErrorOf([&] { ISOReader reader("/nonexistent/ttyZ", ReaderParams(), 0, nullptr); }),
              (DriverError{CardDrvError::PortOpen, "Не удается открыть порт /nonexistent/ttyZ"}));
    Device device(test::ChallengeCard, Options{});
    SerialPort port;
    ASSERT_TRUE(port.Open(device.PortPath(), 1, SerialPort::Framing7E1));
    EXPECT_EQ(port.Speed(), 1200u);
    EXPECT_FALSE(port.Open(device.PortPath(), 9, SerialPort::Framing8N1));
    EXPECT_FALSE(port.IsOpen());
    EXPECT_FALSE(port.Open(device.PortPath(), 8, 2));
    ASSERT_TRUE(port.Open(device.PortPath(), 8, SerialPort::Framing8N1));
    EXPECT_EQ(port.Speed(), 115200u);
    device.SendNow(Binary("A5 5A"));
    uint8_t bytes[3] = {};
    ASSERT_TRUE(port.ReadByteTimed(bytes[0], false, 1000));
    ASSERT_TRUE(port.ReadByte(bytes[1]));
    ASSERT_TRUE(port.ReadByte(bytes[2]));
    EXPECT_EQ(Binary(bytes, bytes + 3), Binary("A5 A5 5A"));
    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(port.ReadWithTimeout(bytes[0], 50));
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(45));
}

// A device and the reader on its port, with the transport log on.
class SerialReader : public ::testing::Test {
protected:
    ISOReader& Open(Options options, std::vector<uint32_t> protocols = {1, 0}, uint32_t waitMs = 250) {
        m_reader.reset();
        m_device = std::make_unique<Device>(test::ChallengeCard, std::move(options));
        ReaderParams params;
        params.protocols = std::move(protocols);
        params.transport_log = true;
        m_reader = std::make_unique<ISOReader>(m_device->PortPath(), params, waitMs, &m_log);
        return *m_reader;
    }
    // The encoded response, or the driver error as text.
    Binary Send(const CApdu& command) {
        RApdu response;
        m_reader->Command(command, response);
        return response.Encode();
    }
    DriverError ChallengeError() {
        return DriverErrorOf([&] { Send(CApdu(0x00, 0x84, 0, 0, 8)); });
    }
    // The packets from the first power-on on, each as type and payload.
    std::vector<Binary> WireFromPowerOn() const {
        std::vector<Binary> wire;
        for (const Device::Packet& packet : m_device->Received()) {
            if (!wire.empty() || packet.type == 3) wire.push_back(Binary{packet.type} + packet.payload);
        }
        return wire;
    }
    bool Logged(int32_t level, const std::string& text) const {
        for (const LogRecord& record : m_log.records) {
            if (record.level == level && record.text == text) return true;
        }
        return false;
    }

    test::RecordingLog m_log;
    std::unique_ptr<Device> m_device;
    std::unique_ptr<ISOReader> m_reader;
};

TEST_F(SerialReader, T0CardFromPowerOnToPowerOff) {
    ISOReader& reader = Open(Options{.atr = Binary("3B 02 14 50")}, {1, 0}, 0x12C);
    // The wait value (its low byte 2C) is offered in S(WTX) at construction; the
    // card is off and leaves it unanswered, so the offer is made twice.
    EXPECT_EQ(m_device->Received().size(), 2u);
    EXPECT_EQ(m_device->Received().back().payload, Binary("00 C3 01 2C EE"));
    ATR atr;
    EXPECT_EQ(DriverErrorOf([&] { reader.Reset(atr); }), NoCard);
    EXPECT_EQ(ChallengeError(), NoCard);

    reader.PowerOn(atr);
    EXPECT_EQ(atr.GetRaw(), Binary("3B021450"));
    EXPECT_EQ(reader.GetATR(), Binary("3B021450"));
    CardExchParam param;
    EXPECT_EQ(reader.GetCardExchParam(param).protocol, ProtocolT0);
    // A debug packet of the device between card bytes is logged at level 1.
    m_device->InjectBeforeNextAnswer(Binary("02 0009 002A 612E6300 686900"));  // line 42, "a.c", "hi"
    EXPECT_EQ(Send(CApdu(0x00, 0x84, 0x00, 0x00, 8)), Binary("0001020304050607 9000"));
    EXPECT_TRUE(Logged(1, "[a.c at 42] hi\n"));
    EXPECT_EQ(Send(CApdu(0x00, 0xA4, 0x04, 0x00, Binary("A000000151000000"))), Binary("9000"));
    reader.PowerOn(atr);  // powered: nothing is sent
    reader.Reset(atr);
    reader.PowerOff();  // only forgets the power state
    EXPECT_EQ(ChallengeError(), NoCard);
    // Power-on, then the header and the data each in one card-byte packet, then the warm reset.
    EXPECT_EQ(WireFromPowerOn(), (std::vector<Binary>{Binary("03 00"), Binary("01 0084000008"), Binary("01 00A4040008"),
                                                      Binary("01 A000000151000000"), Binary("03 01")}));
    EXPECT_TRUE(m_device->PpsRequests().empty());  // T=0 at Fd/Dd needs no PPS
}

TEST_F(SerialReader, PpsForTransmissionParameters) {
    const std::pair<Device::PpsAnswer, const char*> cases[] = {
        {Device::PpsAnswer::Echo, nullptr},
        {Device::PpsAnswer::Silent, "Невозможно провести PPS : нет ответа от карты"},
        {Device::PpsAnswer::Mismatch, "Невозможно провести PPS : запрос не совпадает с ответом"},
    };
    for (const auto& [answer, message] : cases) {
        SCOPED_TRACE(message ? message : "echo");
        ISOReader& reader = Open(Options{.atr = Binary("3B 10 96"), .pps = answer}, {1, 0}, 200);
        ATR atr;
        const DriverError error = DriverErrorOf([&] { reader.PowerOn(atr); });
        // ISO/IEC 7816-3, 9.2: PPSS FF, PPS0 10 (PPS1 follows, T=0), PPS1 = TA1, PCK.
        EXPECT_EQ(m_device->PpsRequests(), std::vector<Binary>{Binary("FF 10 96 79")});
        if (message != nullptr) {
            EXPECT_EQ(error, (DriverError{CardDrvError::General, message}));
            EXPECT_EQ(ChallengeError(), NoCard);
            continue;
        }
        EXPECT_EQ(error.code, -1) << error.text;
        EXPECT_TRUE(Logged(3, ">>> [PPS len:4] :  PPSS:FF PPS0:10 PPS1:96 PCK:79\n ~~~~~~\n"));
        EXPECT_TRUE(Logged(3, "<<< [PPS, len:4] :  PPSS:FF PPS0:10 PPS1:96 PCK:79\n ~~~~~~\n"));
        EXPECT_EQ(Send(CApdu(0x00, 0x84, 0x00, 0x00, 4)), Binary("00010203 9000"));
    }
}

// The first protocol of the list that the card offers is taken (T0CardFromPowerOnToPowerOff:
// T=0 from a T=0 card with the list T=1, T=0); a T=1 card refuses T=0 alone.
TEST_F(SerialReader, ProtocolListWithoutTheCardsProtocolIsRefused) {
    ISOReader& reader = Open(Options{.card = Device::CardKind::T1, .atr = T1Atr}, {0});
    ATR atr;
    try {
        reader.PowerOn(atr);
        FAIL() << "no protocol in common was accepted";
    } catch (const Exception& e) {
        EXPECT_STREQ(e.what(), "Поддерживаемые протоколы карты не пересекаются с поддерживаемыми протоколами ридера");
        EXPECT_STREQ(e.Name(), Exception("", SourcePlace()).Name());  // a plain check error
    }
}

TEST_F(SerialReader, T1NegotiatesIfsAndCarriesChainedCommands) {
    ISOReader& reader = Open(Options{.card = Device::CardKind::T1, .atr = T1Atr});
    ATR atr;
    reader.PowerOn(atr);
    CardExchParam param;
    EXPECT_EQ(reader.GetCardExchParam(param).protocol, ProtocolT1);
    // ISO/IEC 7816-3, 11.4.2: the reader offers the card's IFSC (TA3 = FE) first.
    EXPECT_EQ(m_device->T1Blocks().at(0), Binary("00 C1 01 FE 3E"));
    const Binary answer = Send(CApdu(0x00, 0x84, 0x00, 0x00, 40));  // the card answers in two I-blocks
    ASSERT_EQ(answer.size(), 42u);
    EXPECT_EQ(answer[39], 39);
    Send(CApdu(0x00, 0xA4, 0x04, 0x00, Binary(250, 0x3C)));  // more than one block of IFSC FE
    EXPECT_EQ(m_device->Commands().at(1).data, Binary(250, 0x3C));
}

TEST_F(SerialReader, T1ExchangeThatCannotBeRecoveredResetsTheCard) {
    // The IFS offer goes through; then the card's answers are lost: three tries
    // of the I-block and three S(RESYNCH) requests.
    std::deque<test::T1Fault> faults{test::T1Fault::None};
    faults.insert(faults.end(), 6, test::T1Fault::Lose);
    ISOReader& reader = Open(Options{.card = Device::CardKind::T1, .atr = T1Atr, .t1Faults = faults});
    ATR atr;
    reader.PowerOn(atr);
    EXPECT_EQ(test::MessageOf([&] { Send(CApdu(0x00, 0x84, 0x00, 0x00, 8)); }),
              "Ошибка обмена по протоколу T=1: Unexpected block type (карта сброшена)");
    const std::vector<Binary> wire = WireFromPowerOn();
    EXPECT_EQ(std::count(wire.begin(), wire.end(), Binary("03 01")), 1);
    EXPECT_TRUE(reader.IsPowered());
    // After the warm reset the link starts over: the IFS offer again, then a working exchange.
    EXPECT_EQ(Send(CApdu(0x00, 0x84, 0x00, 0x00, 8)), Binary("0001020304050607 9000"));
    const auto blocks = m_device->T1Blocks();
    EXPECT_EQ(blocks[blocks.size() - 2], Binary("00 C1 01 FE 3E"));
    EXPECT_EQ(blocks.back()[1], 0x00);  // N(S) 0 again
}

TEST_F(SerialReader, IncompleteAtrLeavesNoAtrAndASilentCardIsATimeOut) {
    ISOReader& reader = Open(Options{.atr = Binary("3B 02 14")});  // two historical bytes announced, one sent
    ATR atr;
    atr.SetAtr(Binary("3B 00"));  // what an earlier power-on left
    EXPECT_EQ(test::MessageOf([&] { reader.PowerOn(atr); }), "Invalid ATR");
    EXPECT_TRUE(reader.GetATR().empty());
    EXPECT_TRUE(atr.GetRaw().empty());
    EXPECT_EQ(ChallengeError(), NoCard);

    Open(Options{.silentCard = true}, {1, 0}, 100).PowerOn(atr);
    EXPECT_EQ(ChallengeError(), (DriverError{CardDrvError::General, "Таймаут ожидания карты"}));
}

TEST_F(SerialReader, IsPoweredAndProbeAskTheDeviceWithABoundedWait) {
    EXPECT_TRUE(Open(Options{}).IsPowered());
    EXPECT_EQ(m_device->Received().back().type, 4);
    m_reader.reset();  // it holds the port exclusively
    EXPECT_TRUE(ISOReader::Probe(m_device->PortPath()));

    ISOReader& quiet = Open(Options{.answerPresence = false});
    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(quiet.IsPowered());
    const auto elapsed = std::chrono::steady_clock::now() - start;
    EXPECT_GE(elapsed, std::chrono::milliseconds(90));
    EXPECT_LT(elapsed, std::chrono::milliseconds(600));
    m_reader.reset();
    EXPECT_FALSE(ISOReader::Probe(m_device->PortPath()));
    EXPECT_FALSE(ISOReader::Probe("/nonexistent/ttyZ"));
}

}  // namespace
}  // namespace ZORVIK
