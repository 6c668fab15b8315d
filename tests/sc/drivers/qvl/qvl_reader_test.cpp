#include "sc/drivers/qvl/qvl_reader.h"

#include <gtest/gtest.h>

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
    for (const auto& [data, parity] :
         std::vector<std::pair<uint8_t, uint8_t>>{{0x00, 0}, {0xFF, 0}, {0x80, 1}, {0x3B, 1}})
        EXPECT_EQ(QvlLink::ParityBit(data), parity) << int(data);
    QVL_Reader reader(ReaderParams(), 0, nullptr);
    ATR atr;
    RApdu response;
    const DriverError noCard{CardDrvError::NoCardByteLink, "No Card in Reader or Card is Powered Off"};
    EXPECT_EQ(DriverErrorOf([&] { reader.Reset(atr); }), noCard);
    EXPECT_EQ(DriverErrorOf([&] { reader.Command(CApdu(0x00, 0x84, 0, 0, 8), response); }), noCard);
    reader.PowerOff();  // nothing to do
    EXPECT_FALSE(QvlLink::IsConnected());
}

// The tests below use the model's fixed port 127.0.0.1:7816, one at a time.
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
    QVL_Reader reader(params, 0x105, &log);
    ATR atr;
    reader.PowerOn(atr);
    reader.PowerOn(atr);  // powered: nothing is sent
    EXPECT_EQ(atr.GetRaw(), Binary("3B 02 14 50"));
    CardExchParam param;
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
    EXPECT_EQ(seen.parityErrors, 0);
    EXPECT_EQ(seen.cardInput, (std::vector<Binary>{Binary("0084000004 00A4000002 3F00"), Binary()}));
    std::string traces;
    for (const LogRecord& record : log.records) traces += record.text;
    EXPECT_TRUE(test::Contains(traces, ">>> 00A4 0000 02\n"));
}

// The link ends the process: 1 for a busy model, 2 for a socket failure (here
// a connection refused). Exercised in child processes.
using QvlModelDeathTest = QvlModel;

TEST_F(QvlModelDeathTest, FailingLinkEndsTheProcess) {
    const auto powerOn = [] {
        QVL_Reader reader(ReaderParams(), 0, nullptr);
        ATR atr;
        reader.PowerOn(atr);
    };
    {
        QvlServer busy(test::ChallengeCard, Options{.busy = true});
        EXPECT_EXIT(powerOn(), ::testing::ExitedWithCode(1), "");
    }
    test::QvlPortRefuser refuser;
    EXPECT_EXIT(powerOn(), ::testing::ExitedWithCode(2), "ERR [0-9]+: Connect error");
}

}  // namespace
}  // namespace ZORVIK
