#include "sc/drivers/qvl/qvl_reader.h"

#include <gtest/gtest.h>

#include "sc/drivers/iso/byte_reader_helpers.h"
#include "sc/drivers/qvl/qvl_link.h"
#include "service/log/recording_log.h"
#include "support/qvl_server.h"

namespace ZORVIK {
namespace {

using binary::Binary;
using test::DriverError;
using test::DriverErrorOf;
constexpr auto Application = test::ChallengeCard;
using test::QvlServer;
using Options = QvlServer::Options;

TEST(QvlMessage, ResetIsEighteenBytesWithCommand17AndACharacterCarriesItsEvenParityBit) {
    EXPECT_EQ(QvlLink::ResetMessage(), Binary("1200 A300 00000000 0000000000000000 1100"));
    // 0x41 has two bits set: parity 0; 0x07 has three: parity 1.
    EXPECT_EQ(QvlLink::CharacterMessage(0x41), Binary("1400 A300 00000000 0000000000000000 1200 41 00"));
    EXPECT_EQ(QvlLink::CharacterMessage(0x07), Binary("1400 A300 00000000 0000000000000000 1200 07 01"));
    const std::pair<uint8_t, uint8_t> bits[] = {{0x00, 0}, {0xFF, 0}, {0x80, 1}, {0x3B, 1}, {0x3F, 0}, {0xC0, 0}};
    for (const auto& [data, parity] : bits) EXPECT_EQ(QvlLink::ParityBit(data), parity) << int(data);
}

TEST(QvlReader, NothingWorksBeforePowerOn) {
    QVL_Reader reader(ReaderParams(), 0, nullptr);
    EXPECT_FALSE(reader.IsPowered());
    ATR atr;
    const DriverError noCard{CardDrvError::NoCardByteLink, "No Card in Reader or Card is Powered Off"};
    EXPECT_EQ(DriverErrorOf([&] { reader.Reset(atr); }), noCard);
    RApdu response;
    EXPECT_EQ(DriverErrorOf([&] { reader.Command(CApdu(0x00, 0x84, 0, 0, 8), response); }), noCard);
    reader.PowerOff();  // nothing to do
    EXPECT_FALSE(QvlLink::IsConnected());
}

// The tests below use the model's fixed port 127.0.0.1:7816, one at a time.
class QvlModel : public ::testing::Test {
protected:
    void TearDown() override { QvlLink::Close(); }
};

TEST_F(QvlModel, ResetAtrAndT0CommandsCharacterByCharacter) {
    QvlServer server(Application, Options{});
    test::RecordingLog log;
    ReaderParams params;
    params.transport_log = true;
    QVL_Reader reader(params, 0, &log);
    ATR atr;
    reader.PowerOn(atr);
    EXPECT_TRUE(reader.IsPowered());
    EXPECT_EQ(atr.GetRaw(), Binary("3B 02 14 50"));
    EXPECT_EQ(reader.GetATR(), Binary("3B 02 14 50"));
    CardExchParam param;
    param.protocol = 9;
    EXPECT_EQ(reader.GetCardExchParam(param).protocol, ProtocolT0);

    RApdu response;
    reader.Command(CApdu(0x00, 0x84, 0x00, 0x00, 4), response);
    EXPECT_EQ(response.Encode(), Binary("00010203 9000"));
    reader.Command(CApdu(0x00, 0xA4, 0x00, 0x00, Binary("3F00")), response);
    EXPECT_EQ(response.Encode(), Binary("9000"));
    reader.PowerOff();
    EXPECT_FALSE(reader.IsPowered());
    EXPECT_FALSE(QvlLink::IsConnected());

    const auto received = server.Received();
    ASSERT_FALSE(received.empty());
    EXPECT_EQ(received[0].raw, QvlLink::ResetMessage());
    EXPECT_EQ(server.ParityErrors(), 0);
    ASSERT_EQ(server.CardInput().size(), 1u);
    EXPECT_EQ(server.CardInput()[0], Binary("0084000004 00A4000002 3F00"));
    bool traced = false;
    for (const LogRecord& record : log.records) traced = traced || record.text == ">>> 00A4 0000 02\n";
    EXPECT_TRUE(traced);
}

TEST_F(QvlModel, MessagesWithoutACharacterArePassedOver) {
    QvlServer server(Application, Options{.chatter = true});
    QVL_Reader reader(ReaderParams(), 0, nullptr);
    ATR atr;
    reader.PowerOn(atr);
    EXPECT_EQ(atr.GetRaw(), Binary("3B 02 14 50"));
    RApdu response;
    reader.Command(CApdu(0x00, 0x84, 0x00, 0x00, 2), response);
    EXPECT_EQ(response.Encode(), Binary("0001 9000"));
    reader.PowerOff();
}

TEST_F(QvlModel, ResetOverTheOpenLink) {
    QvlServer server(Application, Options{.atr = Binary("3F 00")});
    QVL_Reader reader(ReaderParams(), 0, nullptr);
    ATR atr;
    reader.PowerOn(atr);
    reader.PowerOn(atr);  // powered: nothing is sent
    reader.Reset(atr);
    EXPECT_EQ(atr.GetRaw(), Binary("3F 00"));
    RApdu response;
    reader.Command(CApdu(0x00, 0x84, 0x00, 0x00, 1), response);
    EXPECT_EQ(response.Encode(), Binary("00 9000"));
    reader.PowerOff();
    const auto received = server.Received();
    ASSERT_EQ(received.size(), 2u + 5u);
    EXPECT_EQ(received[0].command, QvlLink::ResetCommand);
    EXPECT_EQ(received[1].command, QvlLink::ResetCommand);
    EXPECT_EQ(server.CardInput().size(), 2u);
}

TEST_F(QvlModel, WaitingTimeIsOfferedOnceTheLinkIsUp) {
    QvlServer server(Application, Options{.answerWtx = true});
    QVL_Reader reader(ReaderParams(), 0x105, nullptr);  // low byte 05
    ATR atr;
    reader.PowerOn(atr);
    EXPECT_EQ(atr.GetRaw(), Binary("3B 02 14 50"));
    reader.PowerOff();
    const auto received = server.Received();
    ASSERT_GE(received.size(), 6u);
    Binary offer;
    for (size_t i = 0; i < 5; ++i) {
        EXPECT_EQ(received[i].command, QvlLink::CharacterCommand);
        offer.push_back(received[i].raw[18]);
    }
    EXPECT_EQ(offer, Binary("00 C3 01 05 C7"));  // S(WTX request), then the reset
    EXPECT_EQ(received[5].command, QvlLink::ResetCommand);
}

// The link ends the process: exercised in a child process.
using QvlModelDeathTest = QvlModel;

TEST_F(QvlModelDeathTest, BusyServerEndsTheProcessWithCode1) {
    QvlServer server(Application, Options{.busy = true});
    QVL_Reader reader(ReaderParams(), 0, nullptr);
    ATR atr;
    EXPECT_EXIT(reader.PowerOn(atr), ::testing::ExitedWithCode(1), "");
}

TEST_F(QvlModelDeathTest, RefusedConnectEndsTheProcessWithCode2) {
    test::QvlPortRefuser refuser;
    QVL_Reader reader(ReaderParams(), 0, nullptr);
    ATR atr;
    EXPECT_EXIT(reader.PowerOn(atr), ::testing::ExitedWithCode(2), "ERR [0-9]+: Connect error");
}

TEST_F(QvlModelDeathTest, LostLinkEndsTheProcessWithCode2) {
    QvlServer server(Application, Options{.closeAfter = 1});  // gone after the reset message
    QVL_Reader reader(ReaderParams(), 0, nullptr);
    ATR atr;
    EXPECT_EXIT(reader.PowerOn(atr), ::testing::ExitedWithCode(2), "ERR [0-9]+: Recv error");
}

}  // namespace
}  // namespace ZORVIK
