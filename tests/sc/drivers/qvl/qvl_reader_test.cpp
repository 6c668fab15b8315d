#include "sc/drivers/qvl/qvl_reader.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>

#include "sc/drivers/iso/byte_reader_helpers.h"
#include "sc/drivers/qvl/qvl_link.h"
#include "service/log/recording_log.h"
#include "support/file_text.h"
#include "support/qvl_server.h"

namespace ZORVIK {
namespace {

using binary::Binary;
using test::DriverError;
using test::DriverErrorOf;
using test::QvlServer;
using Options = QvlServer::Options;

// The reset message, and the even-parity bit the character messages carry.
TEST(QvlReader, MessagesAndNothingBeforePowerOn) {
    EXPECT_EQ(QvlLink::ResetMessage(), Binary("1200 A300 00000000 0000000000000000 1100"));
    EXPECT_EQ(QvlLink::CharacterMessage(0x07), Binary("1400 A300 00000000 0000000000000000 1200 07 01"));
    EXPECT_EQ(QvlLink::CharacterMessage(0x41), Binary("1400 A300 00000000 0000000000000000 1200 41 00"));
    for (const auto& [data, parity] : std::vector<std::pair<uint8_t, uint8_t>>{
             {0x00, 0}, {0xFF, 0}, {0x80, 1}, {0x3B, 1}, {0x3F, 0}, {0xC0, 0}, {0x07, 1}, {0x41, 0}})
        EXPECT_EQ(QvlLink::ParityBit(data), parity) << int(data);
    QVL_Reader reader(ReaderParams(), 0, nullptr);
    EXPECT_FALSE(reader.IsPowered());
    ATR atr;
    RApdu response;
    const DriverError noCard{CardDrvError::NoCardByteLink, "No Card in Reader or Card is Powered Off"};
    EXPECT_EQ(DriverErrorOf([&] { reader.Reset(atr); }), noCard);
    EXPECT_EQ(DriverErrorOf([&] { reader.Command(CApdu(0x00, 0x84, 0, 0, 8), response); }), noCard);
    reader.PowerOff();  // nothing to do
    EXPECT_FALSE(QvlLink::IsConnected());
}

// The tests below serve the model on a port that the system hands out.
class QvlModel : public ::testing::Test {
protected:
    void TearDown() override { QvlLink::Close(); }
};

// The model talks between the characters (an ISO clock message and one of
// another packet id before each): the reader passes over what carries no
// character. The wait (its low byte 05) is offered in S(WTX request) once the
// link is up, before the reset.
TEST_F(QvlModel, WaitingTimeResetAtrAndT0CommandsCharacterByCharacter) {
    QvlServer server(test::ChallengeCard, Options{.chatter = true, .answerWtx = true});
    test::RecordingLog log;
    ReaderParams params;
    params.transport_log = true;
    QVL_Reader reader(params, 0x105, &log, server.Port());
    ATR atr;
    reader.PowerOn(atr);
    reader.PowerOn(atr);  // powered: nothing is sent
    EXPECT_EQ(atr.GetRaw(), Binary("3B 02 14 50"));
    CardExchParam param;
    param.protocol = 9;
    EXPECT_EQ(reader.GetCardExchParam(param).protocol, ProtocolT0);
    RApdu response;
    reader.Command(CApdu(0x00, 0x84, 0x00, 0x00, 4), response);
    EXPECT_EQ(response.Encode(), Binary("00010203 9000"));
    reader.Command(CApdu(0x00, 0xA4, 0x00, 0x00, Binary("3F00")), response);
    EXPECT_EQ(response.Encode(), Binary("9000"));
    reader.Reset(atr);
    EXPECT_EQ(reader.GetATR(), Binary("3B 02 14 50"));
    EXPECT_TRUE(reader.IsPowered());
    reader.PowerOff();
    EXPECT_FALSE(reader.IsPowered() || QvlLink::IsConnected());
    const QvlServer::Seen seen = server.Observed();
    for (size_t i = 0; i < 5; ++i)
        EXPECT_EQ(seen.messages.at(i), QvlLink::CharacterMessage(Binary("00 C3 01 05 C7")[i]));
    EXPECT_EQ(seen.messages.at(5), QvlLink::ResetMessage());
    EXPECT_EQ(std::count(seen.messages.begin(), seen.messages.end(), QvlLink::ResetMessage()), 2);
    EXPECT_EQ(seen.parityErrors, 0);
    EXPECT_EQ(seen.cardInput, (std::vector<Binary>{Binary("0084000004 00A4000002 3F00"), Binary()}));
    std::string traces;
    for (const LogRecord& record : log.records) traces += record.text;
    EXPECT_TRUE(test::Contains(traces, ">>> 00A4 0000 02\n"));
}

// A warm reset reads the card's new ATR over the open link; the card then takes commands again.
TEST_F(QvlModel, ResetReadsTheAtrAgainOverTheOpenLink) {
    QvlServer server(test::ChallengeCard, Options{.atr = Binary("3F 00")});
    QVL_Reader reader(ReaderParams(), 0, nullptr, server.Port());
    ATR atr;
    reader.PowerOn(atr);
    atr.SetAtr(Binary("3B 00"));
    reader.Reset(atr);
    EXPECT_EQ(atr.GetRaw(), Binary("3F 00"));
    CardExchParam param;
    param.protocol = ProtocolT1;
    EXPECT_EQ(reader.GetCardExchParam(param).protocol, ProtocolT0);  // every reset starts in T=0
    RApdu response;
    reader.Command(CApdu(0x00, 0x84, 0x00, 0x00, 1), response);
    EXPECT_EQ(response.Encode(), Binary("00 9000"));
    reader.PowerOff();  // the model's connection ends before the model goes
    EXPECT_EQ(server.Observed().cardInput, (std::vector<Binary>{Binary(), Binary("0084000001")}));
}

// The byte level under the engines: a T=0 header for GET CHALLENGE of two bytes
// goes out, and the card's procedure byte (INS), data and status come back.
TEST_F(QvlModel, SendsAndReceivesCardBytes) {
    QvlServer server(test::ChallengeCard, Options{});
    QVL_Reader reader(ReaderParams(), 0, nullptr, server.Port());
    ATR atr;
    reader.PowerOn(atr);
    const Binary header("00 84 00 00 02");
    reader.SendBytes(header.data(), static_cast<uint32_t>(header.size()));
    uint8_t answer[5] = {};
    EXPECT_TRUE(reader.ReceiveBytes(answer, 5));
    EXPECT_EQ(Binary(answer, answer + 5), Binary("84 0001 9000"));
    reader.PowerOff();
}

// The link goes to the port its first reader names and says which; a second
// reader shares the open link whatever port it names (here one that refuses).
TEST_F(QvlModel, LinkConnectsToTheGivenPortAndASecondReaderSharesIt) {
    QvlServer server(test::ChallengeCard, Options{});
    test::QvlPortRefuser refuser;
    QVL_Reader first(ReaderParams(), 0, nullptr, server.Port());
    QVL_Reader second(ReaderParams(), 0, nullptr, refuser.Port());
    ATR atr;
    ::testing::internal::CaptureStdout();
    first.PowerOn(atr);
    second.PowerOn(atr);
    const std::string printed = ::testing::internal::GetCapturedStdout();
    EXPECT_TRUE(test::Contains(printed, "Connected to 127.0.0.1: port " + std::to_string(server.Port()) + ", socket "))
        << printed;
    EXPECT_EQ(printed.find("Connected to"), printed.rfind("Connected to")) << printed;  // one connection
    EXPECT_TRUE(second.IsPowered());
    first.PowerOff();
    EXPECT_EQ(server.Observed().cardInput.size(), 2u);  // both resets reached the one model
}

// An ATR whose first character is neither 3B nor 3F is the reader's error.
TEST_F(QvlModel, AtrWithAWrongFirstCharacterIsRefused) {
    QvlServer server(test::ChallengeCard, Options{.atr = Binary("3C 00")});
    QVL_Reader reader(ReaderParams(), 0, nullptr, server.Port());
    ATR atr;
    EXPECT_EQ(DriverErrorOf([&] { reader.PowerOn(atr); }),
              (DriverError{CardDrvError::General, "Ошибка в формате ATR"}));
    EXPECT_FALSE(reader.IsPowered());
    QvlLink::Close();  // the model's connection ends before the model goes
}

// One model message after another (16-byte little-endian header) until one
// carries a card character; the trace shows each as the link prints it.
TEST(QvlModelMessages, ReadingSkipsMessagesWithoutACharacterAndStopsAtWhatCannotBeRead) {
    const auto message = [](uint16_t size, uint16_t packetId, uint64_t time, const Binary& payload) {
        Binary bytes{static_cast<uint8_t>(size),
                     static_cast<uint8_t>(size >> 8),
                     static_cast<uint8_t>(packetId),
                     static_cast<uint8_t>(packetId >> 8),
                     0,
                     0,
                     0,
                     0};
        for (int i = 0; i < 8; ++i) bytes.push_back(static_cast<uint8_t>(time >> (8 * i)));
        return bytes + payload;
    };
    const Binary character = message(19, 197, 7, Binary("1A00 3B"));
    const struct {
        const char* name;
        Binary stream;
        QvlLink::ModelRead result;
        const char* traced;
    } cases[] = {
        {"clock, foreign and short messages first",
         message(26, 197, 5, Binary("1B00 4000000000000000")) + message(19, 0x1234, 6, Binary("AABBCC")) +
             message(17, 197, 6, Binary("1A")) + character,
         QvlLink::ModelRead::Character, "ISO_CLK: 64"},
        {"foreign messages whose size and packet id need both bytes",
         message(272, 0x1234, 6, Binary(256, 0xAA)) + message(19, 0x01C5, 6, Binary("1A00 AA")) + character,
         QvlLink::ModelRead::Character, "RECV < size: 272 pid: 1234 time: 6 "},
        {"busy", message(16, 192, 9, Binary()) + character, QvlLink::ModelRead::Busy,
         "RECV < size: 16 pid: c0 time: 9 \nServer BUSY at model time 9\n"},
        {"size below the header", message(10, 197, 1, Binary("1A00 3B")), QvlLink::ModelRead::Malformed,
         "RECV < size: 10 pid: c5 time: 1 "},
        {"character message without its character", message(18, 197, 1, Binary("1A00")), QvlLink::ModelRead::Malformed,
         "RECV < size: 18 pid: c5 time: 1 "},
        {"stream ends inside a message", Binary(character.begin(), character.end() - 1), QvlLink::ModelRead::Closed,
         "RECV < size: 19 pid: c5 time: 7 "},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        size_t position = 0;
        const auto receive = [&](uint8_t* buffer, size_t count) {
            if (position + count > c.stream.size()) return false;
            std::copy(c.stream.begin() + static_cast<std::ptrdiff_t>(position),
                      c.stream.begin() + static_cast<std::ptrdiff_t>(position + count), buffer);
            position += count;
            return true;
        };
        std::FILE* trace = std::tmpfile();
        uint8_t read = 0;
        EXPECT_EQ(QvlLink::ReadModelMessages(receive, trace, read), c.result);
        std::rewind(trace);
        std::string traced(4096, '\0');
        traced.resize(std::fread(traced.data(), 1, traced.size(), trace));
        std::fclose(trace);
        EXPECT_TRUE(test::Contains(traced, c.traced)) << traced;
        if (c.result == QvlLink::ModelRead::Character) {
            EXPECT_EQ(read, 0x3B);
            EXPECT_TRUE(test::Contains(traced, "RECV < size: 19 pid: c5 time: 7 3b ")) << traced;
        }
    }
}

// The link ends the process: 1 for a busy model, 2 for a socket failure (here
// a connection refused). Exercised in child processes.
using QvlModelDeathTest = QvlModel;

TEST_F(QvlModelDeathTest, FailingLinkEndsTheProcess) {
    const auto powerOn = [](uint16_t port) {
        QVL_Reader reader(ReaderParams(), 0, nullptr, port);
        ATR atr;
        reader.PowerOn(atr);
    };
    {
        QvlServer busy(test::ChallengeCard, Options{.busy = true});
        EXPECT_EXIT(powerOn(busy.Port()), ::testing::ExitedWithCode(1), "");
    }
    {
        QvlServer lost(test::ChallengeCard, Options{.closeAfter = 1});  // gone after the reset message
        EXPECT_EXIT(powerOn(lost.Port()), ::testing::ExitedWithCode(2), "ERR [0-9]+: Recv error");
    }
    test::QvlPortRefuser refuser;
    EXPECT_EXIT(powerOn(refuser.Port()), ::testing::ExitedWithCode(2), "ERR [0-9]+: Connect error");
}

}  // namespace
}  // namespace ZORVIK
