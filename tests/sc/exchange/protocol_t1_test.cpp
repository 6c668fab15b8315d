#include "sc/exchange/protocol_t1.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "sc/exchange/capdu_rapdu.h"
#include "sc/exchange/reader.h"
#include "service/log/recording_log.h"
#include "support/t0_card_model.h"
#include "support/t1_card_model.h"

namespace ZORVIK {
namespace {

using binary::Binary;
using test::ModelReader;
using test::RecordingLog;
using test::T1CardModel;
using test::T1Fault;
using Kind = Protocol_T1::BlockKind;
using ::testing::StrEq;
using ::testing::ThrowsMessage;

// A bare engine for block building and checking.
class BlockEngine : public Protocol_T1 {
public:
    BlockEngine() : Protocol_T1(nullptr) {}
    bool TransmitBlock(const Binary&, Binary&) override { return false; }
};

TEST(T1Edc, LrcIsTheXorOfPrologueAndInf) {
    const Binary block("00 00 02 01 02");
    EXPECT_EQ(0x01, Protocol_T1::CalcLrc(block.data(), block.size()));
    BlockEngine engine;
    EXPECT_EQ(Binary("00 00 02 01 02 01"), engine.BuildBlock(Protocol_T1::I_Last, 0, Binary("01 02")));
}

TEST(T1Edc, CrcAMatchesIso14443Examples) {
    // ISO/IEC 14443-3, Annex B: CRC_A of 00 00 is sent as A0 1E, of 12 34 as 26 CF.
    const Binary zeros("00 00");
    const Binary other("12 34");
    EXPECT_EQ(0x1EA0, Protocol_T1::CalcCrcA(zeros.data(), zeros.size()));
    EXPECT_EQ(0xCF26, Protocol_T1::CalcCrcA(other.data(), other.size()));
}

TEST(T1Edc, CrcEpilogueGoesLeastSignificantByteFirst) {
    BlockEngine engine;
    engine.SetEdcLength(2);
    const Binary block = engine.BuildBlock(Protocol_T1::R_Ok, 0, {});
    ASSERT_EQ(5u, block.size());
    const uint16_t crc = Protocol_T1::CalcCrcA(block.data(), 3);
    EXPECT_EQ(crc & 0xFF, block[3]);
    EXPECT_EQ(crc >> 8, block[4]);
    EXPECT_TRUE(engine.CheckBlock(block).has_value());
    EXPECT_THROW(engine.SetEdcLength(3), Exception);
}

struct PcbCase {
    Kind kind;
    uint8_t sequence;
    uint8_t pcb;
    const char* name;
};

TEST(T1Blocks, EachKindHasItsPcbAndName) {
    const PcbCase cases[] = {
        {Protocol_T1::I_Last, 0, 0x00, "I_BLOCK__NO_CHAIN (0)"},
        {Protocol_T1::I_Last, 1, 0x40, "I_BLOCK__NO_CHAIN (1)"},
        {Protocol_T1::I_Chained, 0, 0x20, "I_BLOCK__CHAIN (0)"},
        {Protocol_T1::I_Chained, 1, 0x60, "I_BLOCK__CHAIN (1)"},
        {Protocol_T1::R_Ok, 0, 0x80, "R_BLOCK__OK (0)"},
        {Protocol_T1::R_Ok, 1, 0x90, "R_BLOCK__OK (1)"},
        {Protocol_T1::R_ParityError, 0, 0x81, "R_BLOCK__PARITY_ERR (0)"},
        {Protocol_T1::R_ParityError, 1, 0x91, "R_BLOCK__PARITY_ERR (1)"},
        {Protocol_T1::R_OtherError, 0, 0x82, "R_BLOCK__OTHER_ERR (0)"},
        {Protocol_T1::R_OtherError, 1, 0x92, "R_BLOCK__OTHER_ERR (1)"},
        {Protocol_T1::S_ResynchRequest, 1, 0xC0, "S_BLOCK__RESYNCH_REQUEST"},
        {Protocol_T1::S_ResynchResponse, 0, 0xE0, "S_BLOCK__RESYNCH_RESPONSE"},
        {Protocol_T1::S_IfsRequest, 0, 0xC1, "S_BLOCK__IFS_REQUEST"},
        {Protocol_T1::S_IfsResponse, 0, 0xE1, "S_BLOCK__IFS_RESPONSE"},
        {Protocol_T1::S_AbortRequest, 0, 0xC2, "S_BLOCK__ABORT_REQUEST"},
        {Protocol_T1::S_AbortResponse, 0, 0xE2, "S_BLOCK__ABORT_RESPONSE"},
        {Protocol_T1::S_WtxRequest, 0, 0xC3, "S_BLOCK__WTX_REQUEST"},
        {Protocol_T1::S_WtxResponse, 0, 0xE3, "S_BLOCK__WTX_RESPONSE"},
    };
    BlockEngine engine;
    for (const PcbCase& c : cases) {
        const bool carriesValue = c.kind == Protocol_T1::S_IfsRequest || c.kind == Protocol_T1::S_IfsResponse ||
                                  c.kind == Protocol_T1::S_WtxRequest || c.kind == Protocol_T1::S_WtxResponse;
        const Binary inf = carriesValue ? Binary("20") : Binary();
        const Binary block = engine.BuildBlock(c.kind, c.sequence, inf);
        EXPECT_EQ(c.pcb, block[1]) << c.name;
        EXPECT_EQ(c.name, Protocol_T1::BlockName(c.pcb));
        const auto checked = engine.CheckBlock(block);
        ASSERT_TRUE(checked.has_value()) << c.name;
        EXPECT_EQ(c.kind, checked->kind) << c.name;
    }
    EXPECT_EQ("R_BLOCK_UNKNOWN", Protocol_T1::BlockName(0x83));
    EXPECT_EQ("S_BLOCK_UNKNOWN", Protocol_T1::BlockName(0xC4));
    EXPECT_EQ("UNKNOWN_BLOCK", Protocol_T1::BlockName(0xA0));
}

TEST(T1Blocks, MalformedBlocksAreInvalid) {
    BlockEngine engine;
    const char* invalid[] = {
        "00 00 02 01 02 00",  // wrong LRC
        "00 00 03 01 02 00",  // LEN says 3, two INF bytes follow
        "00 00 02 01 02",     // no epilogue
        "00 00",              // no prologue
        "00 01 00 01",        // I-block with bits 5..1 set
        "00 80 01 00 81",     // R-block with INF
        "00 83 00 83",        // R-block with an unknown error code
        "00 C1 01 00 C0",     // S(IFS request) with 00
        "00 E1 01 FF 1E",     // S(IFS response) with FF
        "00 C0 01 00 C1",     // S(RESYNCH request) with INF
        "00 C3 00 C3",        // S(WTX request) without its value
        "00 C4 00 C4",        // unknown S-block
        "00 A0 00 A0",        // neither I, R nor S
    };
    for (const char* hex : invalid) EXPECT_FALSE(engine.CheckBlock(Binary(hex)).has_value()) << hex;
    EXPECT_TRUE(engine.CheckBlock(Binary("00 E1 01 01 E1")).has_value());
    EXPECT_TRUE(engine.CheckBlock(Binary("00 E1 01 FE 1E")).has_value());
    EXPECT_TRUE(engine.CheckBlock(Binary("00 C3 01 00 C2")).has_value());
}

// The engine over the byte link against the block-level card model.
class T1Exchange : public ::testing::Test {
protected:
    // SELECT echoes its data, GET CHALLENGE returns Ne bytes; both with 90 00.
    static RApdu Application(const CApdu& command) {
        RApdu response;
        if (command.ins == 0x84) {
            response.data = Binary(command.ne, 0xC4);
        } else {
            response.data = command.data;
        }
        response.sw1 = 0x90;
        response.sw2 = 0x00;
        return response;
    }

    T1Exchange() {
        reader.onReset = [this] { card.Reset(); };
    }

    // Command whose encoded form is exactly length bytes: case 3, short up to
    // 260 bytes, extended (three Lc bytes) above.
    static CApdu CommandOfLength(size_t length) {
        return CApdu(0x00, 0xA4, 0x04, 0x00, Binary(length <= 260 ? length - 5 : length - 7, 0x3C));
    }

    size_t Len(size_t index) const { return card.received.at(index)[2]; }
    // PCB (offset 1) or LEN (offset 2) of every block the card received.
    std::vector<int> Field(size_t offset) const {
        std::vector<int> values;
        for (const Binary& block : card.received) values.push_back(block.at(offset));
        return values;
    }
    std::vector<int> Pcbs() const { return Field(1); }

    void ExpectResetFailure(const char* cause, const CApdu& command) {
        response.data = Binary("AA BB");
        response.sw1 = 0x90;
        try {
            engine.Command(command, response);
            ADD_FAILURE() << "no error";
        } catch (const CardDrvException& error) {
            EXPECT_EQ(0, error.ErrorCode());
            EXPECT_NE(std::string::npos, std::string(error.what()).find(cause)) << error.what();
            ASSERT_NE(nullptr, error.Inner());
            EXPECT_NE(std::string::npos, std::string(error.Inner()->what()).find(cause));
        }
        EXPECT_TRUE(response.data.empty());
        EXPECT_EQ(0, response.GetSW());
    }

    ModelReader reader;
    T1CardModel card{Application};
    RecordingLog log;
    ByteLink_T1 engine{&reader, &card, &log};
    RApdu response;
};

TEST_F(T1Exchange, ShortCommandIsOneIBlock) {
    engine.Command(CApdu(0x00, 0x84, 0x00, 0x00, 8), response);
    ASSERT_EQ(1u, card.received.size());
    EXPECT_EQ(Binary("00 00 05 00 84 00 00 08 89"), card.received[0]);
    EXPECT_EQ(Binary(8, 0xC4), response.data);
    EXPECT_EQ(0x9000, response.GetSW());
    EXPECT_TRUE(log.records.empty());  // no traces without transport_log
}

TEST_F(T1Exchange, LongCommandIsChainedInPiecesOfIfscEndingWithAShortOrEmptyIBlock) {
    card.responsePiece = 254;
    engine.Command(CommandOfLength(40), response);
    EXPECT_EQ(Pcbs(), (std::vector<int>{0x20, 0x40}));
    EXPECT_EQ(Field(2), (std::vector<int>{32, 8}));
    EXPECT_EQ(Binary(35, 0x3C), response.data);

    card.received.clear();
    engine.Command(CommandOfLength(64), response);  // twice the piece size
    EXPECT_EQ(Pcbs(), (std::vector<int>{0x20, 0x60, 0x00}));
    EXPECT_EQ(Field(2), (std::vector<int>{32, 32, 0}));
    EXPECT_EQ(Binary(59, 0x3C), response.data);
}

TEST_F(T1Exchange, PieceSizeFollowsIfsAndEdc) {
    card.faults = {T1Fault::None};
    ASSERT_TRUE(engine.NegotiateIfs(0xFE));
    engine.Command(CommandOfLength(300), response);
    // LRC: blocks stay within 250 bytes, so 246 bytes of INF.
    EXPECT_EQ(246u, Len(1));
    EXPECT_EQ(300u - 246u, Len(2));
}

TEST_F(T1Exchange, ChainedResponsesAreAcknowledgedAndSequenceBitsRunOnAcrossCommands) {
    // 62 bytes with the status word come as 32 then 30; R(N(R) 1) asks for the next block.
    for (int i = 0; i < 3; ++i) engine.Command(CApdu(0x00, 0x84, 0x00, 0x00, 60), response);
    // The card's I-blocks alternate too, so each R-block asks for N(S) 1.
    EXPECT_EQ(Pcbs(), (std::vector<int>{0x00, 0x90, 0x40, 0x90, 0x00, 0x90}));
    EXPECT_EQ(Binary("00 90 00 90"), card.received[1]);
    EXPECT_EQ(Binary(60, 0xC4), response.data);
    EXPECT_EQ(0x9000, response.GetSW());
}

TEST_F(T1Exchange, ThreeParityErrorsLeadToResynchronisationAndTheCommandAgainCutForIfs32WithNsZero) {
    card.responsePiece = 254;
    engine.Command(CApdu(0x00, 0x84, 0x00, 0x00, 8), response);  // the next I-block carries N(S) 1
    ASSERT_TRUE(engine.NegotiateIfs(0x40));
    card.received.clear();
    card.faults = {T1Fault::RejectParity, T1Fault::RejectParity, T1Fault::RejectParity};
    engine.Command(CommandOfLength(40), response);
    // One block of 40 bytes for IFSC 64; after S(RESYNCH) both sides are back
    // at 32, and a block of 40 would be refused every time.
    EXPECT_EQ(Pcbs(), (std::vector<int>{0x40, 0x40, 0x40, 0xC0, 0x20, 0x40}));
    EXPECT_EQ(Field(2), (std::vector<int>{40, 40, 40, 0, 32, 8}));
    EXPECT_EQ(Protocol_T1::DefaultIfs, engine.GetIfs());
    EXPECT_EQ(Binary(35, 0x3C), response.data);
    EXPECT_EQ(1, card.resynchs);
}

TEST_F(T1Exchange, LostOrDamagedAnswersAreAskedForAgain) {
    for (T1Fault fault : {T1Fault::Lose, T1Fault::CorruptEdc, T1Fault::WrongLen}) {
        card.received.clear();
        card.faults = {fault, fault};
        engine.Command(CApdu(0x00, 0x84, 0x00, 0x00, 8), response);
        ASSERT_EQ(3u, card.received.size());
        EXPECT_EQ(card.received[0], card.received[1]);  // the same I-block, the same N(S)
        EXPECT_EQ(card.received[0], card.received[2]);
        EXPECT_EQ(Binary(8, 0xC4), response.data);
        EXPECT_EQ(0, reader.resets);
    }
}

TEST_F(T1Exchange, LostBlockOfAChainedResponseIsAskedForWithTheSameRBlock) {
    card.faults = {T1Fault::None, T1Fault::Lose};
    engine.Command(CApdu(0x00, 0x84, 0x00, 0x00, 60), response);
    ASSERT_EQ(3u, card.received.size());
    EXPECT_EQ(card.received[1], card.received[2]);
    EXPECT_EQ(Binary(60, 0xC4), response.data);
}

TEST_F(T1Exchange, RBlockWithErrorDuringAChainedCommandResendsThePiece) {
    card.responsePiece = 254;
    card.faults = {T1Fault::RejectOther};
    engine.Command(CommandOfLength(40), response);
    ASSERT_EQ(3u, card.received.size());
    EXPECT_EQ(card.received[0], card.received[1]);
    EXPECT_EQ(Binary(35, 0x3C), response.data);
}

TEST_F(T1Exchange, NoAnswerToThreeResynchRequestsResetsTheCardOrPowersItOffAndFails) {
    card.faultSource = [] { return T1Fault::Lose; };
    ExpectResetFailure("Unexpected block type", CApdu(0x00, 0x84, 0x00, 0x00, 8));
    EXPECT_EQ(Pcbs(), (std::vector<int>{0x00, 0x00, 0x00, 0xC0, 0xC0, 0xC0}));
    EXPECT_EQ(1, reader.resets);
    EXPECT_EQ(0, reader.powerOffs);
    EXPECT_EQ(0, engine.GetNs());

    engine.SetResetOnFailure(false);
    ExpectResetFailure("Unexpected block type", CApdu(0x00, 0x84, 0x00, 0x00, 8));
    EXPECT_EQ(1, reader.resets);
    EXPECT_EQ(1, reader.powerOffs);
}

TEST_F(T1Exchange, ErrorAnswersToResynchronisationAreBounded) {
    card.faultSource = [] { return T1Fault::RejectOther; };
    ExpectResetFailure("после трёх ресинхронизаций", CApdu(0x00, 0x84, 0x00, 0x00, 8));
    EXPECT_EQ(6u, card.received.size());  // three I-blocks, three rounds of S(RESYNCH request)
}

TEST_F(T1Exchange, CardAskingForMoreTimeGetsItAndItsNextIBlockIsTheResponse) {
    card.faults = {T1Fault::RequestWtx};
    engine.Command(CApdu(0x00, 0x84, 0x00, 0x00, 8), response);
    ASSERT_EQ(2u, card.received.size());
    EXPECT_EQ(Binary("00 E3 01 02 E0"), card.received[1]);
    EXPECT_EQ(2, engine.GetWtx());
    EXPECT_EQ(Binary(8, 0xC4), response.data);

    // Repeated requests are all answered.
    card.received.clear();
    card.faults = {T1Fault::RequestWtx, T1Fault::RequestWtx, T1Fault::RequestWtx};
    engine.Command(CApdu(0x00, 0x84, 0x00, 0x00, 8), response);
    EXPECT_EQ(4u, card.received.size());
    EXPECT_EQ(Binary(8, 0xC4), response.data);
}

TEST_F(T1Exchange, CardsIfsRequestChangesThePieceSize) {
    card.faults = {T1Fault::RequestIfs};
    engine.Command(CApdu(0x00, 0x84, 0x00, 0x00, 8), response);
    EXPECT_EQ(Binary("00 E1 01 80 60"), card.received.at(1));
    EXPECT_EQ(0x80, engine.GetIfs());
    card.received.clear();
    engine.Command(CommandOfLength(200), response);
    EXPECT_EQ(128u, Len(0));
    EXPECT_EQ(72u, Len(1));
}

TEST_F(T1Exchange, AbortedChainIsSentAgainAfterResynchronisation) {
    card.faults = {T1Fault::None, T1Fault::AbortChain};
    engine.Command(CommandOfLength(100), response);
    EXPECT_EQ(Binary("00 E2 00 E2"), card.received.at(2));
    EXPECT_EQ(1, card.resynchs);
    ASSERT_EQ(1u, card.commands.size());
    EXPECT_EQ(Binary(95, 0x3C), card.commands[0].data);
    EXPECT_EQ(Binary(95, 0x3C), response.data);
}

TEST_F(T1Exchange, ResynchronisationInsideAChainedCommandStartsItOver) {
    card.faults = {T1Fault::None, T1Fault::RejectOther, T1Fault::RejectOther, T1Fault::RejectOther};
    engine.Command(CommandOfLength(100), response);
    EXPECT_EQ(1, card.resynchs);
    // The card never sees a command put together from a broken chain.
    ASSERT_EQ(1u, card.commands.size());
    EXPECT_EQ(Binary(95, 0x3C), card.commands[0].data);
    EXPECT_EQ(Binary(95, 0x3C), response.data);
}

TEST_F(T1Exchange, ResynchronisationInsideAChainedResponseFails) {
    card.faults = {T1Fault::None, T1Fault::Lose, T1Fault::Lose, T1Fault::Lose};
    ExpectResetFailure("ответ карты потерян", CApdu(0x00, 0x84, 0x00, 0x00, 60));
    EXPECT_EQ(1, reader.resets);
    // The link works again after the reset.
    engine.Command(CApdu(0x00, 0x84, 0x00, 0x00, 60), response);
    EXPECT_EQ(Binary(60, 0xC4), response.data);
}

TEST_F(T1Exchange, ResponseWithoutRoomForAStatusWordFails) {
    card.scriptedAnswers = {Binary("00 00 01 90 91")};
    ExpectResetFailure("короче слова состояния", CApdu(0x00, 0x84, 0x00, 0x00, 8));
    EXPECT_EQ(1, reader.resets);
    // Card and engine start over together: the next I-block carries N(S) 0 again.
    EXPECT_EQ(0, engine.GetNs());
    engine.Command(CApdu(0x00, 0x84, 0x00, 0x00, 8), response);
    EXPECT_EQ(0x00, Pcbs().at(1));
    EXPECT_EQ(Binary(8, 0xC4), response.data);
}

TEST_F(T1Exchange, EmptyIBlockIsAskedForAgainWithROtherError) {
    card.scriptedAnswers = {Binary("00 00 00 00"), Binary("00 00 02 6A 82 EA")};
    engine.Command(CApdu(0x00, 0x84, 0x00, 0x00, 8), response);
    ASSERT_EQ(2u, card.received.size());
    EXPECT_EQ(Binary("00 82 00 82"), card.received[1]);  // N(R) of the empty block: send it again
    EXPECT_TRUE(response.data.empty());
    EXPECT_EQ(0x6A82, response.GetSW());
}

TEST_F(T1Exchange, NegotiationsTakeTheCardsValue) {
    EXPECT_TRUE(engine.NegotiateIfs(0xFE));
    EXPECT_EQ(0xFE, engine.GetIfs());
    EXPECT_EQ(Binary("00 C1 01 FE 3E"), card.received.back());
    EXPECT_TRUE(engine.NegotiateWtx(0x05));
    EXPECT_EQ(0x05, engine.GetWtx());
}

TEST_F(T1Exchange, FailedNegotiationKeepsTheRequestedValue) {
    card.scriptedAnswers = {Binary("00 E1 01 00 E0"), Binary("00 E1 01 FF 1F")};  // IFS 0 and FF are invalid
    EXPECT_FALSE(engine.NegotiateIfs(0x80));
    EXPECT_EQ(2u, card.received.size());
    EXPECT_EQ(0x80, engine.GetIfs());

    card.scriptedAnswers = {Binary(), Binary()};
    EXPECT_FALSE(engine.NegotiateWtx(0x03));
    EXPECT_EQ(0x03, engine.GetWtx());
}

TEST_F(T1Exchange, ResetLinkRestoresTheDefaults) {
    ASSERT_TRUE(engine.NegotiateIfs(0x80));
    engine.Command(CApdu(0x00, 0x84, 0x00, 0x00, 8), response);
    engine.ResetLink();
    EXPECT_EQ(Protocol_T1::DefaultIfs, engine.GetIfs());
    EXPECT_EQ(0, engine.GetWtx());
    EXPECT_EQ(0, engine.GetNs());
}

TEST_F(T1Exchange, TracesOfBothDirections) {
    reader.params.transport_log = true;
    card.scriptedAnswers = {Binary("00 00 02 90 00 92")};
    engine.Command(CApdu(0x00, 0x84, 0x00, 0x00, 8), response);
    ASSERT_EQ(2u, log.records.size());
    EXPECT_EQ(">>> [I_BLOCK__NO_CHAIN (0)]\n NAD:00 PCB:00 LEN:05\n INF:\n 00 84 00 00 08\n LRC:89\n ~~~~~~\n",
              log.records[0].text);
    EXPECT_EQ("<<< [I_BLOCK__NO_CHAIN (0)]\n NAD:00 PCB:00 LEN:02\n INF:\n 90 00\n LRC:92\n ~~~~~~\n",
              log.records[1].text);
    EXPECT_EQ(3, log.records[0].level);
    EXPECT_EQ(Binary("00 00 05 00 84 00 00 08 89"), engine.GetLastSentBlock());
}

TEST_F(T1Exchange, CrcLinkWorksEndToEndAndItsTraceShowsBothEpilogueBytes) {
    reader.params.transport_log = true;
    T1CardModel crcCard(Application, 2);
    ByteLink_T1 crcEngine(&reader, &crcCard, &log);
    crcEngine.SetEdcLength(2);
    crcEngine.NegotiateIfs(0x20);
    ASSERT_EQ(2u, log.records.size());
    const Binary& sent = crcEngine.GetLastSentBlock();
    EXPECT_EQ(">>> [S_BLOCK__IFS_REQUEST]\n NAD:00 PCB:C1 LEN:01\n INF:\n 20\n CRC:" + binary::ToHex(Back(sent, 2), 1) +
                  "\n ~~~~~~\n",
              log.records[0].text);
    EXPECT_EQ(0u, log.records[1].text.find("<<< [S_BLOCK__IFS_RESPONSE]"));

    reader.params.transport_log = false;
    crcEngine.Command(CommandOfLength(300), response);
    EXPECT_EQ(Binary(293, 0x3C), response.data);
    EXPECT_EQ(0x9000, response.GetSW());
}

TEST_F(T1Exchange, CommandThatCannotBeEncodedLeavesTheCardAlone) {
    // A caller's error, not a transmission failure: nothing is sent and the
    // card keeps its state.
    CApdu tooLong(0x00, 0xD6, 0x00, 0x00, Binary(CApdu::MaxDataLength + 1, 0x00));
    EXPECT_THAT([&] { engine.Command(tooLong, response); },
                ThrowsMessage<Exception>(StrEq("Некорректные размеры данных в CApdu")));
    EXPECT_TRUE(card.received.empty());
    EXPECT_EQ(0, reader.resets);
    EXPECT_EQ(0, reader.powerOffs);
}

// Faulty cards that never stop answering must not hold the engine for ever.
class T1RunawayCard : public T1Exchange {
protected:
    // The same answer, far more often than any retry limit allows.
    void Repeat(const Binary& answer, size_t count = 200) {
        for (size_t i = 0; i < count; ++i) card.scriptedAnswers.push_back(answer);
    }
};

TEST_F(T1RunawayCard, CardRepeatingItsChainedIBlockIsGivenUp) {
    // The first chained I-block (N(S) 0), then the same block again and again
    // in answer to every R(N(R) 1) that asks for the next one.
    Repeat(Binary("00 20 02 AA BB 33"));
    ExpectResetFailure("Unexpected block type", CApdu(0x00, 0x84, 0x00, 0x00, 60));
    EXPECT_LT(card.received.size(), 10u);
    EXPECT_EQ(1, reader.resets);
}

TEST_F(T1RunawayCard, CardSendingEmptyChainedIBlocksIsGivenUp) {
    // Empty chained I-blocks with alternating N(S): every one is new, none
    // brings a byte of the response.
    for (size_t i = 0; i < 100; ++i) {
        card.scriptedAnswers.push_back(Binary("00 20 00 20"));
        card.scriptedAnswers.push_back(Binary("00 60 00 60"));
    }
    ExpectResetFailure("Unexpected block type", CApdu(0x00, 0x84, 0x00, 0x00, 60));
    EXPECT_LT(card.received.size(), 10u);
}

TEST_F(T1RunawayCard, CardThatOnlyAnswersResynchIsGivenUpAfterThreeResynchronisations) {
    // Mute to all but S(RESYNCH request) for far longer than any bound allows.
    int blocks = 0;
    card.faultSource = [&] { return ++blocks < 300 ? T1Fault::MuteUnlessResynch : T1Fault::None; };
    ExpectResetFailure("после трёх ресинхронизаций", CommandOfLength(100));
    // Four times the first piece three times, with a resynchronisation between them.
    EXPECT_EQ(15u, card.received.size());
    EXPECT_EQ(3, card.resynchs);
    EXPECT_EQ(1, reader.resets);
}

TEST_F(T1RunawayCard, ReservedIfsOfZeroFailsTheCommandInsteadOfLooping) {
    // An ATR with IFSC 00 (reserved by ISO/IEC 7816-3, 11.4.2): the card never
    // confirms it, so the engine keeps the value asked for.
    card.scriptedAnswers = {Binary(), Binary()};
    EXPECT_FALSE(engine.NegotiateIfs(0x00));
    card.received.clear();
    Repeat(Binary("00 80 00 80"));  // R(no error) to every chained I-block
    ExpectResetFailure("IFS", CApdu(0x00, 0x84, 0x00, 0x00, 8));
    EXPECT_LT(card.received.size(), 10u);
}

}  // namespace
}  // namespace ZORVIK
