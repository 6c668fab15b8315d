#include "sc/drivers/iso/iso_reader.h"

#include <gtest/gtest.h>

#include "sc/drivers/iso/byte_reader_helpers.h"

#include <termios.h>

#include <chrono>
#include <filesystem>

#include "service/log/recording_log.h"
#include "support/error_text.h"
#include "support/serial_reader_emulator.h"

namespace ZORVIK {
namespace {

using binary::Binary;
using test::DriverError;
using test::DriverErrorOf;
constexpr auto Application = test::ChallengeCard;
using test::RecordingLog;
using test::SerialReaderEmulator;
using Options = SerialReaderEmulator::Options;

// Also the S(WTX) offer at construction, which the unpowered card leaves
// unanswered twice: every reader built here starts with two card-byte packets.
constexpr uint32_t WaitMs = 250;
// T=1 only (TD1 = 81, TD2 = 31), IFSC FE in TA3, BWI/CWI 45 in TB3, TCK 8B.
const Binary T1Atr("3B 80 81 31 FE 45 8B");

ReaderParams Params(std::vector<uint32_t> protocols = {1, 0}, bool transportLog = false) {
    ReaderParams params;
    params.protocols = std::move(protocols);
    params.transport_log = transportLog;
    return params;
}

// The packets from the first power-on on.
std::vector<SerialReaderEmulator::Packet> FromPowerOn(const SerialReaderEmulator& device) {
    auto packets = device.Received();
    while (!packets.empty() && packets.front().type != 3) packets.erase(packets.begin());
    return packets;
}

const DriverError NoCard{CardDrvError::NoCardByteLink, "No Card in Reader or Card is Powered Off"};

// The error of a GET CHALLENGE on a reader.
DriverError CommandError(ISOReader& reader) {
    RApdu response;
    return DriverErrorOf([&] { reader.Command(CApdu(0x00, 0x84, 0, 0, 8), response); });
}

bool Logged(const RecordingLog& log, int32_t level, const std::string& text) {
    for (const LogRecord& record : log.records) {
        if (record.level == level && record.text == text) return true;
    }
    return false;
}

// The output speed of the terminal at path, read through a descriptor that
// this process holds on it (the port's own, or the emulator's).
speed_t OutputSpeed(const std::string& path) {
    for (const auto& entry : std::filesystem::directory_iterator("/proc/self/fd")) {
        std::error_code error;
        termios mode{};
        if (std::filesystem::read_symlink(entry.path(), error) == path &&
            ::tcgetattr(std::stoi(entry.path().filename().string()), &mode) == 0)
            return ::cfgetospeed(&mode);
    }
    return 0;
}

TEST(SerialPort, NameWithoutSlashIsADeviceUnderDev) {
    EXPECT_EQ(SerialPort::DevicePath("CNCB0"), "/dev/CNCB0");
    EXPECT_EQ(SerialPort::DevicePath("/dev/pts/3"), "/dev/pts/3");
}

TEST(SerialPort, BaudIndexSelectsTheRateAndALookAheadByteIsReadAgain) {
    SerialReaderEmulator device(Application, Options{});
    SerialPort port;
    ASSERT_TRUE(port.Open(device.PortPath(), 1, SerialPort::Framing7E1));
    EXPECT_EQ(OutputSpeed(device.PortPath()), B1200);
    EXPECT_FALSE(port.Open(device.PortPath(), 9, SerialPort::Framing8N1));
    EXPECT_FALSE(port.IsOpen());
    EXPECT_FALSE(port.Open(device.PortPath(), 8, 2));
    ASSERT_TRUE(port.Open(device.PortPath(), 8, SerialPort::Framing8N1));
    EXPECT_EQ(OutputSpeed(device.PortPath()), B115200);
    device.SendNow(Binary("A5 5A"));
    uint8_t byte = 0;
    ASSERT_TRUE(port.ReadByteTimed(byte, false, 1000));
    EXPECT_EQ(byte, 0xA5);
    ASSERT_TRUE(port.ReadByte(byte));
    EXPECT_EQ(byte, 0xA5);
    ASSERT_TRUE(port.ReadByte(byte));
    EXPECT_EQ(byte, 0x5A);
    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(port.ReadWithTimeout(byte, 50));
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(45));
}

TEST(ISOReader, PortThatCannotBeOpenedIsErrorFour) {
    EXPECT_EQ(DriverErrorOf([&] { ISOReader reader("/nonexistent/ttyZ", Params(), WaitMs, nullptr); }),
              (DriverError{CardDrvError::PortOpen, "Не удается открыть порт /nonexistent/ttyZ"}));
}

TEST(ISOReader, T0PowerOnAndCommands) {
    SerialReaderEmulator device(Application, Options{.atr = Binary("3B 02 14 50")});
    ISOReader reader(device.PortPath(), Params(), WaitMs, nullptr);
    ATR atr;
    reader.PowerOn(atr);
    EXPECT_EQ(atr.GetRaw(), Binary("3B021450"));
    EXPECT_EQ(reader.GetATR(), Binary("3B021450"));
    CardExchParam param;
    param.protocol = 99;
    EXPECT_EQ(reader.GetCardExchParam(param).protocol, ProtocolT0);

    RApdu response;
    reader.Command(CApdu(0x00, 0x84, 0x00, 0x00, 8), response);
    EXPECT_EQ(response.data, Binary("0001020304050607"));
    EXPECT_EQ(response.GetSW(), 0x9000);
    reader.Command(CApdu(0x00, 0xA4, 0x04, 0x00, Binary("A000000151000000")), response);
    EXPECT_TRUE(response.data.empty());
    EXPECT_EQ(response.GetSW(), 0x9000);

    // The wire: power-on control packet, then the header and the data each in one card-byte packet.
    const auto packets = FromPowerOn(device);
    ASSERT_EQ(packets.size(), 4u);
    EXPECT_EQ(packets[0].type, 3);
    EXPECT_EQ(packets[0].payload, Binary("00"));
    EXPECT_EQ(packets[1].type, 1);
    EXPECT_EQ(packets[1].payload, Binary("00 84 00 00 08"));
    EXPECT_EQ(packets[2].payload, Binary("00 A4 04 00 08"));
    EXPECT_EQ(packets[3].payload, Binary("A000000151000000"));
    EXPECT_TRUE(device.PpsRequests().empty());  // T=0 at Fd/Dd needs no PPS
}

TEST(ISOReader, PowerOnTwiceResetAndPowerOff) {
    SerialReaderEmulator device(Application, Options{});
    ISOReader reader(device.PortPath(), Params(), WaitMs, nullptr);
    ATR atr;
    EXPECT_EQ(DriverErrorOf([&] { reader.Reset(atr); }), NoCard);
    EXPECT_EQ(CommandError(reader), NoCard);

    reader.PowerOn(atr);
    reader.PowerOn(atr);  // powered: nothing is sent
    reader.Reset(atr);
    EXPECT_EQ(atr.GetRaw(), Binary("3B00"));
    reader.PowerOff();  // only forgets the power state
    EXPECT_EQ(CommandError(reader), NoCard);

    const auto packets = FromPowerOn(device);
    ASSERT_EQ(packets.size(), 2u);
    EXPECT_EQ(packets[0].payload, Binary("00"));
    EXPECT_EQ(packets[1].type, 3);
    EXPECT_EQ(packets[1].payload, Binary("01"));
}

TEST(ISOReader, PpsForTransmissionParameters) {
    SerialReaderEmulator device(Application, Options{.atr = Binary("3B 10 96")});
    RecordingLog log;
    ISOReader reader(device.PortPath(), Params({1, 0}, true), WaitMs, &log);
    ATR atr;
    reader.PowerOn(atr);
    // ISO/IEC 7816-3, 9.2: PPSS FF, PPS0 10 (PPS1 follows, T=0), PPS1 = TA1, PCK.
    ASSERT_EQ(device.PpsRequests().size(), 1u);
    EXPECT_EQ(device.PpsRequests()[0], Binary("FF 10 96 79"));
    EXPECT_TRUE(Logged(log, 3, ">>> [PPS len:4] :  PPSS:FF PPS0:10 PPS1:96 PCK:79\n ~~~~~~\n"));
    EXPECT_TRUE(Logged(log, 3, "<<< [PPS, len:4] :  PPSS:FF PPS0:10 PPS1:96 PCK:79\n ~~~~~~\n"));
    RApdu response;
    reader.Command(CApdu(0x00, 0x84, 0x00, 0x00, 4), response);
    EXPECT_EQ(response.Encode(), Binary("00010203 9000"));
}

TEST(ISOReader, PpsWithoutAnswerOrWithAnotherAnswerFails) {
    struct Case {
        SerialReaderEmulator::PpsAnswer answer;
        const char* message;
    };
    const Case cases[] = {
        {SerialReaderEmulator::PpsAnswer::Silent, "Невозможно провести PPS : нет ответа от карты"},
        {SerialReaderEmulator::PpsAnswer::Mismatch, "Невозможно провести PPS : запрос не совпадает с ответом"},
    };
    for (const Case& c : cases) {
        SerialReaderEmulator device(Application, Options{.atr = Binary("3B 10 96"), .pps = c.answer});
        ISOReader reader(device.PortPath(), Params(), 200, nullptr);
        ATR atr;
        EXPECT_EQ(DriverErrorOf([&] { reader.PowerOn(atr); }), (DriverError{CardDrvError::General, c.message}));
        EXPECT_EQ(CommandError(reader), NoCard);
    }
}

// The first protocol of the list that the card offers is taken (T0PowerOnAndCommands:
// T=0 from a T=0 card with the list T=1, T=0); a T=1 card refuses T=0 alone.
TEST(ISOReader, ProtocolListWithoutTheCardsProtocolIsRefused) {
    SerialReaderEmulator device(Application, Options{.card = SerialReaderEmulator::CardKind::T1, .atr = T1Atr});
    ISOReader reader(device.PortPath(), Params({0}), WaitMs, nullptr);
    ATR atr;
    try {
        reader.PowerOn(atr);
        FAIL() << "no protocol in common was accepted";
    } catch (const Exception& e) {
        EXPECT_STREQ(e.what(), "Поддерживаемые протоколы карты не пересекаются с поддерживаемыми протоколами ридера");
        EXPECT_STREQ(e.Name(), Exception("", SourcePlace()).Name());  // a plain check error
    }
    EXPECT_TRUE(device.PpsRequests().empty());
}

TEST(ISOReader, T1NegotiatesIfsAndCarriesChainedCommands) {
    SerialReaderEmulator device(Application, Options{.card = SerialReaderEmulator::CardKind::T1, .atr = T1Atr});
    ISOReader reader(device.PortPath(), Params(), WaitMs, nullptr);
    ATR atr;
    reader.PowerOn(atr);
    CardExchParam param;
    EXPECT_EQ(reader.GetCardExchParam(param).protocol, ProtocolT1);
    // ISO/IEC 7816-3, 11.4.2: the reader offers the card's IFSC (TA3 = FE) first.
    ASSERT_FALSE(device.T1Blocks().empty());
    EXPECT_EQ(device.T1Blocks()[0], Binary("00 C1 01 FE 3E"));

    RApdu response;
    reader.Command(CApdu(0x00, 0x84, 0x00, 0x00, 40), response);  // the card answers in two I-blocks
    ASSERT_EQ(response.data.size(), 40u);
    EXPECT_EQ(response.data[39], 39);
    EXPECT_EQ(response.GetSW(), 0x9000);
    reader.Command(CApdu(0x00, 0xA4, 0x04, 0x00, Binary(250, 0x3C)), response);  // more than one block of IFSC FE
    EXPECT_EQ(response.GetSW(), 0x9000);
    const auto commands = device.Commands();
    ASSERT_EQ(commands.size(), 2u);
    EXPECT_EQ(commands[1].data, Binary(250, 0x3C));
}

TEST(ISOReader, T1ExchangeThatCannotBeRecoveredResetsTheCard) {
    // The IFS offer goes through; then the card's answers are lost: three tries
    // of the I-block and three S(RESYNCH) requests.
    std::deque<test::T1Fault> faults{test::T1Fault::None};
    faults.insert(faults.end(), 6, test::T1Fault::Lose);
    SerialReaderEmulator device(Application,
                                Options{.card = SerialReaderEmulator::CardKind::T1, .atr = T1Atr, .t1Faults = faults});
    ISOReader reader(device.PortPath(), Params(), WaitMs, nullptr);
    ATR atr;
    reader.PowerOn(atr);
    RApdu response;
    EXPECT_EQ(test::MessageOf([&] { reader.Command(CApdu(0x00, 0x84, 0x00, 0x00, 8), response); }),
              "Ошибка обмена по протоколу T=1: Unexpected block type (карта сброшена)");
    const auto packets = FromPowerOn(device);
    size_t resets = 0;
    for (const auto& packet : packets) resets += packet.type == 3 && packet.payload == Binary("01") ? 1 : 0;
    EXPECT_EQ(resets, 1u);
    EXPECT_TRUE(reader.IsPowered());
    // After the warm reset the link starts over: the IFS offer again, then a working exchange.
    reader.Command(CApdu(0x00, 0x84, 0x00, 0x00, 8), response);
    EXPECT_EQ(response.Encode(), Binary("0001020304050607 9000"));
    const auto blocks = device.T1Blocks();
    ASSERT_GE(blocks.size(), 2u);
    EXPECT_EQ(blocks[blocks.size() - 2], Binary("00 C1 01 FE 3E"));
    EXPECT_EQ(blocks.back()[1], 0x00);  // N(S) 0 again
}

TEST(ISOReader, IncompleteAtrLeavesNoAtr) {
    // Two historical bytes announced, one sent.
    SerialReaderEmulator device(Application, Options{.atr = Binary("3B 02 14")});
    ISOReader reader(device.PortPath(), Params(), WaitMs, nullptr);
    ATR atr;
    atr.SetAtr(Binary("3B 00"));  // what an earlier power-on left
    EXPECT_EQ(test::MessageOf([&] { reader.PowerOn(atr); }), "Invalid ATR");
    EXPECT_TRUE(reader.GetATR().empty());
    EXPECT_TRUE(atr.GetRaw().empty());
    EXPECT_EQ(CommandError(reader), NoCard);
}

TEST(ISOReader, DebugPacketsInBothFormsAreLoggedAndAnUnknownTypeIsErrorSix) {
    SerialReaderEmulator device(Application, Options{});
    RecordingLog log;
    ISOReader reader(device.PortPath(), Params(), WaitMs, &log);
    ATR atr;
    reader.PowerOn(atr);
    device.InjectBeforeNextAnswer(SerialReaderEmulator::DebugPacket(42, "a.c", "hi"));
    device.InjectBeforeNextAnswer(Binary("02 0008 0000 00 626F6F7400"));
    RApdu response;
    reader.Command(CApdu(0x00, 0x84, 0x00, 0x00, 2), response);
    EXPECT_EQ(response.Encode(), Binary("0001 9000"));
    EXPECT_TRUE(Logged(log, 1, "[a.c at 42] hi\n"));
    EXPECT_TRUE(Logged(log, 1, "boot\n"));
    device.InjectBeforeNextAnswer(Binary("05 0000"));
    EXPECT_EQ(CommandError(reader), (DriverError{CardDrvError::DataFormat, "Неверный формат передачи данных"}));
}

TEST(ISOReader, SilentCardIsATimeOut) {
    ATR atr;
    SerialReaderEmulator silentCard(Application, Options{.silentCard = true});
    ISOReader waiting(silentCard.PortPath(), Params(), 100, nullptr);
    waiting.PowerOn(atr);
    EXPECT_EQ(CommandError(waiting), (DriverError{CardDrvError::General, "Таймаут ожидания карты"}));
}

TEST(ISOReader, IsPoweredAndProbeAskTheDeviceWithABoundedWait) {
    SerialReaderEmulator answering(Application, Options{});
    ISOReader reader(answering.PortPath(), Params(), WaitMs, nullptr);
    EXPECT_TRUE(reader.IsPowered());
    EXPECT_EQ(answering.Received().back().type, 4);
    EXPECT_TRUE(answering.Received().back().payload.empty());

    SerialReaderEmulator silent(Application, Options{.answerPresence = false});
    ISOReader quiet(silent.PortPath(), Params(), WaitMs, nullptr);
    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(quiet.IsPowered());
    const auto elapsed = std::chrono::steady_clock::now() - start;
    EXPECT_GE(elapsed, std::chrono::milliseconds(90));
    EXPECT_LT(elapsed, std::chrono::milliseconds(600));

    SerialReaderEmulator probed(Application, Options{});
    EXPECT_TRUE(ISOReader::Probe(probed.PortPath()));
    SerialReaderEmulator silentProbe(Application, Options{.answerPresence = false});
    EXPECT_FALSE(ISOReader::Probe(silentProbe.PortPath()));
    EXPECT_FALSE(ISOReader::Probe("/nonexistent/ttyZ"));
}

TEST(ISOReader, WaitValueIsOfferedInSWtxAtConstruction) {
    SerialReaderEmulator device(Application, Options{});
    ISOReader reader(device.PortPath(), Params(), 0x12C, nullptr);  // low byte 2C
    const auto packets = device.Received();
    ASSERT_EQ(packets.size(), 2u);  // unanswered, the offer is made twice
    EXPECT_EQ(packets[0].type, 1);
    EXPECT_EQ(packets[0].payload, Binary("00 C3 01 2C EE"));
    EXPECT_EQ(packets[1].payload, Binary("00 C3 01 2C EE"));
}

}  // namespace
}  // namespace ZORVIK
