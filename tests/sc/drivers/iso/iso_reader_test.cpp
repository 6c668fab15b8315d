// The serial-port reader: its packets, the ATR reading, the port, and the reader
// over the device emulator on a pseudo-terminal.
#include "sc/drivers/iso/iso_reader.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>

#include "sc/drivers/iso/atr_reading.h"
#include "sc/drivers/iso/byte_reader_helpers.h"
#include "sc/drivers/iso/iso_packet.h"
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

// A byte source over fixed bytes: false once they run out, as a read time-out would.
IsoPacket::ByteSource Source(const Binary& bytes, size_t& position) {
    return [&bytes, &position](uint8_t& byte) {
        if (position >= bytes.size()) return false;
        byte = bytes[position++];
        return true;
    };
}

// Card bytes and poll answers go to the queue in order, a debug packet does not,
// and an unknown type is error 6 without its payload queued.
TEST(IsoPacket, ReceiveQueuesCardBytesAndRefusesAnUnknownType) {
    const Binary wire("01 0002 3B 02   04 0000   04 0001 14   02 0005 0000 00 6869   01 0001 50   05 0002 AA BB");
    size_t position = 0;
    const auto read = Source(wire, position);
    std::deque<uint8_t> queue;
    uint8_t type = 0;
    for (const uint8_t expected : {1, 4, 4, 2, 1}) {
        ASSERT_TRUE(IsoPacket::Receive(read, queue, nullptr, type));
        EXPECT_EQ(type, expected);
    }
    EXPECT_EQ(DriverErrorOf([&] { IsoPacket::Receive(read, queue, nullptr, type); }),
              (DriverError{CardDrvError::DataFormat, "Неверный формат передачи данных"}));
    EXPECT_EQ(Binary(queue.begin(), queue.end()), Binary("3B 02 14 50"));
    for (const Binary& cut : {Binary(""), Binary("01"), Binary("01 00"), Binary("01 0003 AA BB")}) {
        position = 0;
        EXPECT_FALSE(IsoPacket::Receive(Source(cut, position), queue, nullptr, type)) << cut.size();
    }
    // Type, then the length high byte first; the two length bytes bound what one packet can carry.
    EXPECT_EQ(IsoPacket::Encode(IsoPacket::Control, Binary("00")), Binary("03 0001 00"));
    EXPECT_EQ(IsoPacket::Encode(IsoPacket::PresencePoll, Binary()), Binary("04 0000"));
    EXPECT_EQ(IsoPacket::Encode(IsoPacket::CardBytes, Binary(0x123, 0xAA)), Binary("01 0123") + Binary(0x123, 0xAA));
    EXPECT_EQ(IsoPacket::Encode(1, Binary(IsoPacket::MaxPayload, 0x5A)).size(), IsoPacket::MaxPayload + 3);
    EXPECT_EQ(test::MessageOf([] { IsoPacket::Encode(1, Binary(IsoPacket::MaxPayload + 1, 0)); }),
              "Слишком длинный пакет");
}

TEST(IsoPacketDebugText, BothFormsEndingAtThePayloadEnd) {
    const std::pair<const char*, const char*> cases[] = {
        {"002A 612E6300 686900", "[a.c at 42] hi"},
        {"0000 00 626F6F7400", "boot"},                   // line 0: only the text from the fourth payload byte on
        {"0102 782E6300", "Debug Print in x.c at 258 "},  // a name without a text after it
        {"0007 00 6F6B", "ok"},  // an empty name with a line number falls back to the plain text
        // Neither the name nor the text is terminated inside the payload.
        {"002A 612E63", "Debug Print in a.c at 42 "},
        {"002A 612E6300 6869", "[a.c at 42] hi"},
        {"0000 00 6869", "hi"},
        {"0000 00", ""},
    };
    for (const auto& [payload, text] : cases) EXPECT_EQ(IsoPacket::DebugText(Binary(payload)), text) << payload;
    for (const Binary& payload : {Binary(""), Binary("00"), Binary("002A")}) {
        EXPECT_EQ(DriverErrorOf([&] { IsoPacket::DebugText(payload); }),
                  (DriverError{CardDrvError::General, "Неверный пакет с отладочной информацией"}));
    }
}

// Where the interface characters say the ATR ends; nullptr: a character is missing.
TEST(AtrReading, StopsWhereTheInterfaceCharactersSayTheAtrEnds) {
    const std::pair<const char*, const char*> cases[] = {
        {"3B00 9000", "3B00"},                      // T=0 only, nothing more
        {"3F02 1450 FF", "3F021450"},               // two historical bytes
        {"3B10 96 AA", "3B1096"},                   // TA1
        {"3B80 8131FE45 8B 00", "3B808131FE458B"},  // T=1 by TD1: TCK follows
        {"3B80 00 77", "3B8000"},                   // TD1 names T=0: no TCK
        {"3B81 80 01 C0 41 00", "3B818001C041"},    // TD2 names T=1 after a T=0 TD1: TCK
        {"3B 80 81 31 FE 45", nullptr},             // TCK missing
        {"", nullptr},
        {"3B", nullptr},
        {"3B 02 14", nullptr},  // a historical byte missing
    };
    for (const auto& [stream, expected] : cases) {
        const Binary characters(stream);
        size_t position = 0;
        Binary atr;
        EXPECT_EQ(ReadAtrCharacters(Source(characters, position), atr), expected != nullptr) << stream;
        if (expected != nullptr) {
            EXPECT_EQ(atr, Binary(expected)) << stream;
        }
    }
    // A wrong TS, and every TD announcing another: the reading stops at the length limit of an ATR.
    for (const Binary& characters : {Binary("3C 00"), Binary("3B 80") + Binary(64, 0x80)}) {
        size_t position = 0;
        Binary atr;
        EXPECT_EQ(DriverErrorOf([&] { ReadAtrCharacters(Source(characters, position), atr); }),
                  (DriverError{CardDrvError::General, "Ошибка в формате ATR"}));
    }
}

// The output speed of the terminal device at path, as every descriptor on it sees it.
speed_t OutputSpeed(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_NOCTTY | O_NONBLOCK);
    termios mode{};
    const bool read = fd >= 0 && ::tcgetattr(fd, &mode) == 0;
    if (fd >= 0) ::close(fd);
    return read ? ::cfgetospeed(&mode) : 0;
}

// The reader's port runs at 115200 baud with 8N1; an index beyond the rate table is refused.
TEST(SerialPort, OpensTheDeviceAtTheRateOfItsIndex) {
    Device device(test::ChallengeCard, Options{});
    SerialPort port;
    ASSERT_TRUE(port.Open(device.PortPath(), 1, SerialPort::Framing7E1));
    EXPECT_EQ(OutputSpeed(device.PortPath()), B1200);
    EXPECT_FALSE(port.Open(device.PortPath(), 9, SerialPort::Framing8N1) || port.IsOpen());
    EXPECT_FALSE(port.Open(device.PortPath(), 8, 2) || port.IsOpen());  // framing 0 or 1 only
    ASSERT_TRUE(port.Open(device.PortPath(), 8, SerialPort::Framing8N1));
    EXPECT_EQ(OutputSpeed(device.PortPath()), B115200);
}

TEST(SerialPort, NameWithoutSlashIsADeviceUnderDev) {
    EXPECT_EQ(SerialPort::DevicePath("CNCB0"), "/dev/CNCB0");
    EXPECT_EQ(SerialPort::DevicePath("/dev/pts/3"), "/dev/pts/3");
}

// A byte kept as look-ahead is read again; a read that gets nothing ends after its time-out.
TEST(SerialPort, LookAheadByteIsReadAgainAndAReadEndsAfterItsTimeOut) {
    int master = -1, slave = -1;
    char name[128] = {};
    ASSERT_EQ(::openpty(&master, &slave, name, nullptr, nullptr), 0);
    SerialPort port;
    ASSERT_TRUE(port.Open(name, 8, SerialPort::Framing8N1));
    ASSERT_EQ(::write(master, "\xA5\x5A", 2), 2);
    uint8_t byte = 0;
    ASSERT_TRUE(port.ReadByteTimed(byte, false, 1000));
    EXPECT_EQ(byte, 0xA5);
    ASSERT_TRUE(port.ReadByte(byte));
    EXPECT_EQ(byte, 0xA5);
    ASSERT_TRUE(port.ReadByte(byte));
    EXPECT_EQ(byte, 0x5A);
    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(port.ReadWithTimeout(byte, 50));
    const auto spent = std::chrono::steady_clock::now() - start;
    EXPECT_GE(spent, std::chrono::milliseconds(45));
    EXPECT_LT(spent, std::chrono::milliseconds(1000));
    port.Close();
    ::close(slave);
    ::close(master);
}

// Bytes written one at a time reach the device as they were: card bytes (ignored
// with the card off) and a presence poll, which the device answers.
TEST(SerialPort, WriteByteDeliversEachByteAndFailsOnAClosedPort) {
    Device device(test::ChallengeCard, Options{});
    SerialPort port;
    ASSERT_TRUE(port.Open(device.PortPath(), 8, SerialPort::Framing8N1));
    for (const uint8_t byte : Binary("01 0002 A5 5A 04 0000")) ASSERT_TRUE(port.WriteByte(byte));
    Binary answer;
    for (uint8_t byte = 0; answer.size() < 3 && port.ReadWithTimeout(byte, 2000);) answer.push_back(byte);
    EXPECT_EQ(answer, Binary("04 0000"));
    EXPECT_EQ(device.Observed().packets, (std::vector<Binary>{Binary("01 A5 5A"), Binary("04")}));
    port.Close();
    EXPECT_FALSE(port.WriteByte(0x04)) << "a closed port must refuse the byte";
}

// A device that has gone (the other end of the pseudo-terminal closed) makes
// every write fail at once.
TEST(SerialPort, WriteFailsWhenTheDeviceHasGone) {
    int master = -1, slave = -1;
    char name[128] = {};
    ASSERT_EQ(::openpty(&master, &slave, name, nullptr, nullptr), 0);
    SerialPort port;
    ASSERT_TRUE(port.Open(name, 8, SerialPort::Framing8N1));
    ::close(slave);
    ::close(master);
    EXPECT_FALSE(port.WriteByte(0x04));
    EXPECT_FALSE(port.Write(Binary("04 0000")));
    port.Close();
}

// A device that takes nothing: its end of the pseudo-terminal is never read, so
// once the terminal's buffer is full the next byte waits for the write time-out
// (50 ms + 10 ms a byte) and fails instead of waiting for ever.
TEST(SerialPort, WriteByteFailsWithinTheWriteTimeOutWhenTheDeviceTakesNothing) {
    int master = -1;
    int slave = -1;
    char name[128] = {};
    ASSERT_EQ(::openpty(&master, &slave, name, nullptr, nullptr), 0);
    SerialPort port;
    const bool opened = port.Open(name, 8, SerialPort::Framing8N1);
    using Clock = std::chrono::steady_clock;
    constexpr size_t Limit = 1u << 20;
    size_t taken = 0;
    Clock::duration failedCall{};
    for (bool written = opened; written && taken < Limit; taken += written ? 1 : 0) {
        const auto start = Clock::now();
        written = port.WriteByte(static_cast<uint8_t>(taken));
        failedCall = Clock::now() - start;
    }
    port.Close();
    ::close(master);
    ::close(slave);
    ASSERT_TRUE(opened);
    EXPECT_GT(taken, 0u);
    EXPECT_LT(taken, Limit);
    EXPECT_GE(failedCall, std::chrono::milliseconds(50));
    EXPECT_LT(failedCall, std::chrono::seconds(5));
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
        const std::vector<Binary> packets = m_device->Observed().packets;
        auto powerOn = packets.begin();
        while (powerOn != packets.end() && (*powerOn)[0] != 3) ++powerOn;
        return std::vector<Binary>(powerOn, packets.end());
    }
    bool Logged(int32_t level, const std::string& text) const {
        return std::any_of(m_log.records.begin(), m_log.records.end(),
                           [&](const LogRecord& record) { return record.level == level && record.text == text; });
    }

    test::RecordingLog m_log;
    std::unique_ptr<Device> m_device;
    std::unique_ptr<ISOReader> m_reader;
};

TEST(ISOReader, PortThatCannotBeOpenedIsErrorFour) {
    EXPECT_EQ(DriverErrorOf([] { ISOReader reader("/nonexistent/ttyZ", ReaderParams(), 250, nullptr); }),
              (DriverError{CardDrvError::PortOpen, "Не удается открыть порт /nonexistent/ttyZ"}));
}

TEST_F(SerialReader, T0CardFromPowerOnToPowerOff) {
    ISOReader& reader = Open(Options{.atr = Binary("3B 02 14 50")}, {1, 0}, 0x12C);
    // The wait value (its low byte 2C) is offered in S(WTX) at construction; the
    // card is off and leaves it unanswered, so the offer is made twice.
    EXPECT_EQ(m_device->Observed().packets, std::vector<Binary>(2, Binary("01 00C3012CEE")));
    ATR atr;
    EXPECT_EQ(DriverErrorOf([&] { reader.Reset(atr); }), NoCard);
    EXPECT_EQ(ChallengeError(), NoCard);
    reader.PowerOn(atr);
    EXPECT_EQ(reader.GetATR(), Binary("3B021450"));
    EXPECT_EQ(atr.GetRaw(), Binary("3B021450"));
    CardExchParam param;
    param.protocol = 99;
    EXPECT_EQ(reader.GetCardExchParam(param).protocol, ProtocolT0);
    // A debug packet of the device between card bytes is logged at level 1.
    m_device->InjectBeforeNextAnswer(Binary("02 0009 002A 612E6300 686900"));  // line 42, "a.c", "hi"
    EXPECT_EQ(Send(CApdu(0x00, 0x84, 0x00, 0x00, 8)), Binary("0001020304050607 9000"));
    EXPECT_TRUE(Logged(1, "[a.c at 42] hi\n"));
    EXPECT_EQ(Send(CApdu(0x00, 0xA4, 0x04, 0x00, Binary("A000000151000000"))), Binary("9000"));
    reader.PowerOn(atr);  // powered: nothing is sent
    atr.SetAtr(Binary("3B 00"));
    reader.Reset(atr);
    EXPECT_EQ(atr.GetRaw(), Binary("3B021450"));  // the ATR after the warm reset
    reader.PowerOff();                            // only forgets the power state
    EXPECT_EQ(ChallengeError(), NoCard);
    // Power-on, then the header and the data each in one card-byte packet, then the warm reset; T=0 at Fd/Dd needs no
    // PPS.
    EXPECT_EQ(WireFromPowerOn(), (std::vector<Binary>{Binary("03 00"), Binary("01 0084000008"), Binary("01 00A4040008"),
                                                      Binary("01 A000000151000000"), Binary("03 01")}));
}

// ISO/IEC 7816-3, 9.2: PPSS FF, PPS0 10 (PPS1 follows, T=0), PPS1 = TA1, PCK.
TEST_F(SerialReader, PpsForTransmissionParameters) {
    const std::pair<Device::PpsAnswer, const char*> cases[] = {
        {Device::PpsAnswer::Echo, nullptr},
        {Device::PpsAnswer::Silent, "Невозможно провести PPS : нет ответа от карты"},
        {Device::PpsAnswer::Mismatch, "Невозможно провести PPS : запрос не совпадает с ответом"},
    };
    for (const auto& [answer, message] : cases) {
        SCOPED_TRACE(message ? message : "echo");
        ATR atr;
        const DriverError error = DriverErrorOf([&] {
            Open(Options{.atr = Binary("3B 10 96"), .pps = answer}, {1, 0}, 200).PowerOn(atr);
        });
        EXPECT_EQ(WireFromPowerOn().at(1), Binary("01 FF 10 96 79"));
        EXPECT_EQ(error, (message ? DriverError{CardDrvError::General, message} : DriverError{}));
        EXPECT_EQ(ChallengeError().code, message ? CardDrvError::NoCardByteLink : -1);
    }
    EXPECT_TRUE(Logged(3, ">>> [PPS len:4] :  PPSS:FF PPS0:10 PPS1:96 PCK:79\n ~~~~~~\n"));
    EXPECT_TRUE(Logged(3, "<<< [PPS, len:4] :  PPSS:FF PPS0:10 PPS1:96 PCK:79\n ~~~~~~\n"));
}

// A T=1 card refuses a list of T=0 alone. With T=1, the IFS offer goes through;
// then the card's answers are lost: three tries of the I-block and three
// S(RESYNCH) requests, then a warm reset, after which the link starts over and
// carries chained blocks both ways.
TEST_F(SerialReader, T1ExchangeThatCannotBeRecoveredResetsTheCard) {
    ATR atr;
    try {
        Open(Options{.card = Device::CardKind::T1, .atr = T1Atr}, {0}).PowerOn(atr);
        ADD_FAILURE() << "no protocol in common was accepted";
    } catch (const Exception& e) {
        EXPECT_STREQ(e.what(), "Поддерживаемые протоколы карты не пересекаются с поддерживаемыми протоколами ридера");
        EXPECT_STREQ(e.Name(), Exception("", SourcePlace()).Name());  // a plain check error
    }
    EXPECT_EQ(WireFromPowerOn(), std::vector<Binary>{Binary("03 00")});  // no PPS was tried
    std::deque<test::T1Fault> faults{test::T1Fault::None};
    faults.insert(faults.end(), 6, test::T1Fault::Lose);
    ISOReader& reader = Open(Options{.card = Device::CardKind::T1, .atr = T1Atr, .t1Faults = faults});
    reader.PowerOn(atr);
    CardExchParam param;
    EXPECT_EQ(reader.GetCardExchParam(param).protocol, ProtocolT1);
    EXPECT_EQ(test::MessageOf([&] { Send(CApdu(0x00, 0x84, 0x00, 0x00, 8)); }),
              "Ошибка обмена по протоколу T=1: Unexpected block type (карта сброшена)");
    const std::vector<Binary> wire = WireFromPowerOn();
    EXPECT_EQ(std::count(wire.begin(), wire.end(), Binary("03 01")), 1);
    EXPECT_TRUE(reader.IsPowered());
    const Binary challenge = Send(CApdu(0x00, 0x84, 0x00, 0x00, 40));  // two I-blocks of the card
    EXPECT_EQ(challenge.size(), 42u);
    EXPECT_EQ(challenge[39], 39);
    Send(CApdu(0x00, 0xA4, 0x04, 0x00, Binary(250, 0x3C)));  // more than one block of IFSC FE
    EXPECT_EQ(m_device->Observed().commands.back().data, Binary(250, 0x3C));
    // ISO/IEC 7816-3, 11.4.2: the reader offers the card's IFSC (TA3 = FE) first, after the reset again with N(S) 0.
    const auto blocks = m_device->Observed().t1Blocks;
    EXPECT_EQ(std::count(blocks.begin(), blocks.end(), Binary("00 C1 01 FE 3E")), 2);
    EXPECT_EQ(blocks[8][1], 0x00);
}

// A card that offers T=0 first and T=1 too (TD1 = 80, TD2 = 01): with T=1
// preferred by the list the reader asks for it by PPS (ISO/IEC 7816-3, 9.2:
// PPSS FF, PPS0 11, PPS1 = the default TA1 11, PCK FF) and speaks T=1 after it;
// with T=0 first it takes the card's first protocol without a PPS.
TEST_F(SerialReader, ProtocolOfTheListIsSwitchedToByPps) {
    const Binary both("3B 80 80 01 01");
    ISOReader& t1 = Open(Options{.card = Device::CardKind::T1, .atr = both}, {1, 0});
    ATR atr;
    t1.PowerOn(atr);
    CardExchParam param;
    EXPECT_EQ(t1.GetCardExchParam(param).protocol, ProtocolT1);
    EXPECT_EQ(WireFromPowerOn().at(1), Binary("01 FF 11 11 FF"));
    EXPECT_EQ(Send(CApdu(0x00, 0x84, 0x00, 0x00, 4)), Binary("00010203 9000"));
    EXPECT_FALSE(m_device->Observed().t1Blocks.empty());  // the command went as T=1 blocks

    ISOReader& t0 = Open(Options{.atr = both}, {0, 1});
    t0.PowerOn(atr);
    EXPECT_EQ(t0.GetCardExchParam(param).protocol, ProtocolT0);
    EXPECT_EQ(Send(CApdu(0x00, 0x84, 0x00, 0x00, 4)), Binary("00010203 9000"));
    EXPECT_EQ(WireFromPowerOn(), (std::vector<Binary>{Binary("03 00"), Binary("01 0084000004")}));
}

TEST_F(SerialReader, IncompleteAtrLeavesNoAtrAndASilentCardIsATimeOut) {
    ISOReader& reader = Open(Options{.atr = Binary("3B 02 14")});  // two historical bytes announced, one sent
    ATR atr;
    atr.SetAtr(Binary("3B 00"));  // what an earlier power-on left
    EXPECT_EQ(test::MessageOf([&] { reader.PowerOn(atr); }), "Invalid ATR");
    EXPECT_TRUE(reader.GetATR().empty() && atr.GetRaw().empty());
    EXPECT_EQ(ChallengeError(), NoCard);
    Open(Options{.silentCard = true}, {1, 0}, 100).PowerOn(atr);
    EXPECT_EQ(ChallengeError(), (DriverError{CardDrvError::General, "Таймаут ожидания карты"}));
}

TEST_F(SerialReader, IsPoweredAndProbeAskTheDeviceWithABoundedWait) {
    for (const bool answering : {true, false}) {
        ISOReader& reader = Open(Options{.answerPresence = answering});
        const auto start = std::chrono::steady_clock::now();
        EXPECT_EQ(reader.IsPowered(), answering);
        const auto spent = std::chrono::steady_clock::now() - start;
        EXPECT_LT(spent, std::chrono::milliseconds(600));
        if (!answering) {
            EXPECT_GE(spent, std::chrono::milliseconds(90));  // the device is given its 100 ms
        }
        EXPECT_EQ(m_device->Observed().packets.back(), Binary("04"));
        m_reader.reset();  // it holds the port exclusively
        EXPECT_EQ(ISOReader::Probe(m_device->PortPath()), answering);
    }
    EXPECT_FALSE(ISOReader::Probe("/nonexistent/ttyZ"));
}

}  // namespace
}  // namespace ZORVIK
