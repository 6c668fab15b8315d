#include "sc/exchange/protocol_t1.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <random>

#include "sc/exchange/capdu_rapdu.h"
#include "service/log/recording_log.h"
#include "support/error_text.h"
#include "support/scripted_reader.h"
#include "support/t1_card_model.h"

namespace ZORVIK {
namespace {

using binary::Binary;
using test::T1Fault;

// A bare engine for block building and checking.
class BlockEngine : public Protocol_T1 {
public:
    BlockEngine() : Protocol_T1(nullptr) {}
    bool TransmitBlock(const Binary&, Binary&) override { return false; }
};

TEST(T1Blocks, EpilogueIsTheLrcOrTheCrcASentLeastSignificantByteFirst) {
    // ISO/IEC 14443-3, Annex B: CRC_A of 00 00 is sent as A0 1E, of 12 34 as 26 CF.
    const Binary zeros("00 00");
    const Binary other("12 34");
    EXPECT_EQ(0x1EA0, Protocol_T1::CalcCrcA(zeros.data(), zeros.size()));
    EXPECT_EQ(0xCF26, Protocol_T1::CalcCrcA(other.data(), other.size()));
    BlockEngine engine;
    EXPECT_EQ(Binary("00 00 02 01 02 01"), engine.BuildBlock(Protocol_T1::I_Last, 0, Binary("01 02")));
    engine.SetEdcLength(2);
    const Binary block = engine.BuildBlock(Protocol_T1::R_Ok, 0, {});
    const uint16_t crc = Protocol_T1::CalcCrcA(block.data(), 3);
    EXPECT_EQ(block, (Binary{0x00, 0x80, 0x00, static_cast<uint8_t>(crc & 0xFF), static_cast<uint8_t>(crc >> 8)}));
    EXPECT_TRUE(engine.CheckBlock(block).has_value());
    EXPECT_FALSE(engine.CheckBlock(Binary{0x00, 0x80, 0x00, block[4], block[3]}).has_value());  // bytes swapped
    EXPECT_THROW(engine.SetEdcLength(3), Exception);
    for (uint8_t length : {0, 3}) {
        EXPECT_EQ(test::MessageOf([&] { engine.SetEdcLength(length); }),
                  "Длина EDC протокола T=1 должна быть 1 (LRC) или 2 (CRC)");
    }
    EXPECT_EQ(engine.GetEdcLength(), 2);
}

// ISO/IEC 7816-3, 11.3.2: the PCB of every kind, built and recognised, and its trace name.
TEST(T1Blocks, EachKindHasItsPcbAndName) {
    using P = Protocol_T1;
    const std::tuple<P::BlockKind, uint8_t, uint8_t, const char*> cases[] = {
        {P::I_Last, 0, 0x00, "I_BLOCK__NO_CHAIN (0)"},
        {P::I_Last, 1, 0x40, "I_BLOCK__NO_CHAIN (1)"},
        {P::I_Chained, 0, 0x20, "I_BLOCK__CHAIN (0)"},
        {P::I_Chained, 1, 0x60, "I_BLOCK__CHAIN (1)"},
        {P::R_Ok, 0, 0x80, "R_BLOCK__OK (0)"},
        {P::R_Ok, 1, 0x90, "R_BLOCK__OK (1)"},
        {P::R_ParityError, 0, 0x81, "R_BLOCK__PARITY_ERR (0)"},
        {P::R_ParityError, 1, 0x91, "R_BLOCK__PARITY_ERR (1)"},
        {P::R_OtherError, 0, 0x82, "R_BLOCK__OTHER_ERR (0)"},
        {P::R_OtherError, 1, 0x92, "R_BLOCK__OTHER_ERR (1)"},
        {P::S_ResynchRequest, 1, 0xC0, "S_BLOCK__RESYNCH_REQUEST"},
        {P::S_ResynchResponse, 0, 0xE0, "S_BLOCK__RESYNCH_RESPONSE"},
        {P::S_IfsRequest, 0, 0xC1, "S_BLOCK__IFS_REQUEST"},
        {P::S_IfsResponse, 0, 0xE1, "S_BLOCK__IFS_RESPONSE"},
        {P::S_AbortRequest, 0, 0xC2, "S_BLOCK__ABORT_REQUEST"},
        {P::S_AbortResponse, 0, 0xE2, "S_BLOCK__ABORT_RESPONSE"},
        {P::S_WtxRequest, 0, 0xC3, "S_BLOCK__WTX_REQUEST"},
        {P::S_WtxResponse, 0, 0xE3, "S_BLOCK__WTX_RESPONSE"},
    };
    BlockEngine engine;
    for (const auto& [kind, sequence, pcb, name] : cases) {
        SCOPED_TRACE(name);
        const bool carriesValue = pcb == 0xC1 || pcb == 0xE1 || pcb == 0xC3 || pcb == 0xE3;
        const Binary inf = carriesValue ? Binary("20") : Binary();
        const Binary block = engine.BuildBlock(kind, sequence, inf);
        EXPECT_EQ(block[1], pcb);
        EXPECT_EQ(P::BlockName(pcb), name);
        const auto checked = engine.CheckBlock(block);
        ASSERT_TRUE(checked.has_value());
        EXPECT_EQ(checked->kind, kind);
        EXPECT_EQ(checked->inf, inf);
        if (pcb < 0xC0) {
            EXPECT_EQ(checked->sequence, sequence);
        }
    }
}

TEST(T1Blocks, MalformedBlocksAreInvalidAndUnknownKindsNamedSo) {
    BlockEngine engine;
    EXPECT_EQ("R_BLOCK_UNKNOWN", Protocol_T1::BlockName(0x83));
    EXPECT_EQ("S_BLOCK_UNKNOWN", Protocol_T1::BlockName(0xC4));
    EXPECT_EQ("UNKNOWN_BLOCK", Protocol_T1::BlockName(0xA0));
    // Wrong LRC; LEN beyond the INF; no epilogue; no prologue; an I-block with bits 5 to 1 set; an R-block with
    // INF or an unknown error code; S(IFS) with 00 or FF; S(RESYNCH request) with INF; S(WTX request) without its
    // value; an unknown S-block; neither I, R nor S.
    for (const char* hex : {"00 00 02 01 02 00", "00 00 03 01 02 00", "00 00 02 01 02", "00 00", "00 01 00 01",
                            "00 80 01 00 81", "00 83 00 83", "00 C1 01 00 C0", "00 E1 01 FF 1E", "00 C0 01 00 C1",
                            "00 C3 00 C3", "00 C4 00 C4", "00 A0 00 A0"}) {
        EXPECT_FALSE(engine.CheckBlock(Binary(hex)).has_value()) << hex;
    }
    // ISO/IEC 7816-3, 11.4.2: IFS 01 to FE, whether the card requests or confirms it.
    for (const char* hex : {"00 C1 01 FF 3F", "00 E1 01 00 E0"}) {
        EXPECT_FALSE(engine.CheckBlock(Binary(hex)).has_value()) << hex;
    }
    for (const char* hex : {"00 E1 01 FE 1E", "00 E1 01 01 E1", "00 C1 01 01 C1", "00 C1 01 FE 3E", "00 C3 01 00 C2"}) {
        EXPECT_TRUE(engine.CheckBlock(Binary(hex)).has_value()) << hex;
    }
}

// SELECT echoes its data, GET CHALLENGE returns Ne bytes; both with 90 00.
RApdu Application(const CApdu& command) {
    return RApdu((command.ins == 0x84 ? Binary(command.ne, 0xC4) : command.data) + Binary("90 00"));
}

CApdu Challenge(uint32_t ne) { return CApdu(0x00, 0x84, 0x00, 0x00, ne); }

// A command whose encoded form is exactly length bytes: case 3, short up to
// 260 bytes, extended (three Lc bytes) above.
CApdu CommandOfLength(size_t length) {
    return CApdu(0x00, 0xA4, 0x04, 0x00, Binary(length <= 260 ? length - 5 : length - 7, 0x3C));
}

// The engine over the byte link against the block-level card model.
struct T1Bench {
    explicit T1Bench(test::CardApplication application = Application, uint8_t edcLength = 1)
        : card(std::move(application), edcLength) {
        reader.onReset = [this] { card.Reset(); };
        reader.powered = true;
        engine.SetEdcLength(edcLength);
    }

    // Every block the card received: its PCB, and ":LEN" when it carries information.
    std::string Blocks() const {
        std::string text;
        for (const Binary& block : card.received) {
            text += (text.empty() ? "" : " ") + binary::ToHex(Binary{block[1]});
            if (block[2] != 0) text += ":" + std::to_string(block[2]);
        }
        return text;
    }

    // The command ends in the reset (or power-off) of the card and the
    // reader-driver error, code 0, with the cause inside; the response is cleared.
    void ExpectFailure(const CApdu& command, const std::string& cause, bool powerOff = false) {
        response = RApdu(Binary("AA BB 90 00"));
        try {
            engine.Command(command, response);
            ADD_FAILURE() << "no error";
        } catch (const CardDrvException& error) {
            EXPECT_EQ(error.what(), "Ошибка обмена по протоколу T=1: " + cause +
                                        (powerOff ? " (питание карты снято)" : " (карта сброшена)"));
            EXPECT_EQ(error.ErrorCode(), 0);
            ASSERT_NE(error.Inner(), nullptr);
            EXPECT_EQ(error.Inner()->what(), cause);
        }
        EXPECT_EQ(response.Encode(), Binary("00 00"));
        EXPECT_EQ(engine.GetNs(), 0);  // the card starts over with N(S) 0 after a reset; so does the engine
    }

    test::ScriptedReader reader;
    test::T1CardModel card;
    test::RecordingLog log;
    ByteLink_T1 engine{&reader, &card, &log};
    RApdu response;
};

// One command against a card that misbehaves as the case says (ISO/IEC 7816-3, 11.6).
TEST(T1Exchange, ChainingAndRecoveryFollowIso7816) {
    using F = T1Fault;
    const char* const unexpected = "Unexpected block type";
    const char* const lost = "Цепочка блоков T=1 прервана ресинхронизацией: ответ карты потерян";
    const char* const noStatus = "Ответ карты по протоколу T=1 короче слова состояния";
    const char* const ifsZero = "IFS 0 не позволяет передать команду по протоколу T=1";
    const char* const threeResynchs = "Команда не прошла по протоколу T=1 после трёх ресинхронизаций";
    const std::vector<T1Fault> threeParityErrors(3, F::RejectParity);
    std::vector<T1Fault> resynchEachRun;  // three parity errors, then the S(RESYNCH) exchange and the I-block
    for (int run = 0; run < 4; ++run)
        resynchEachRun.insert(resynchEachRun.end(),
                              {F::RejectParity, F::RejectParity, F::RejectParity, F::None, F::None});
    const char* const firstPieceFourTimesThreeTimes =
        "20:32 20:32 20:32 C0 20:32 20:32 20:32 C0 20:32 20:32 20:32 C0 20:32 20:32 20:32";
    const struct {
        CApdu command;
        const char* blocks;  // what the card received, as T1Bench::Blocks writes it
        std::vector<T1Fault> faults = {};
        const char* failure = nullptr;       // the cause of the reset and the error; none: the command completes
        T1Fault always = T1Fault::None;      // the card's fault once the listed ones are used
        std::vector<const char*> card = {};  // raw answers of the card instead of its own, repeated in turn
        int ifsc = -1;                       // negotiated first
        int runs = 1;
        bool powerOff = false;
    } cases[] = {
        // A command of twice the piece size ends with an empty I-block.
        {CommandOfLength(64), "20:32 60:32 00"},
        // Pieces follow IFS 254, and blocks stay within 250 bytes.
        {CommandOfLength(300), "C1:1 20:246 40:54 90", {}, nullptr, F::None, {}, 0xFE},
        // Chained responses are acknowledged; sequence bits run on across commands.
        {Challenge(300), "00:7 90 40:7 90 00:7 90", {}, nullptr, F::None, {}, -1, 3},
        // A lost, then a damaged answer is asked for again.
        {Challenge(8), "00:5 00:5 00:5", {F::Lose, F::CorruptEdc}},
        {Challenge(8), "00:5 00:5 00:5", {F::Garble, F::ShortLen}},
        // A broken block of a chained response is asked for with the same R-block.
        {Challenge(300), "00:7 90 90", {F::None, F::WrongLen}},
        // Each block of a chained response that brings data starts the count of attempts afresh.
        {Challenge(600), "00:7 90 90 80 80 80", {F::None, F::Lose, F::None, F::Lose, F::Lose}},
        // An R-block with an error during a chained command resends the piece.
        {CommandOfLength(40), "20:32 20:32 40:8", {F::RejectOther}},
        // A card asking for more time gets it, as often as it asks.
        {Challenge(8), "00:5 E3:1 E3:1 E3:1", {F::RequestWtx, F::RequestWtx, F::RequestWtx}},
        // The card's S(IFS request) sets the piece size of the next command.
        {CommandOfLength(40), "20:32 40:8 E1:1 00:40", {F::None, F::RequestIfs}, nullptr, F::None, {}, -1, 2},
        // Three parity errors lead to resynchronisation, and the command is cut again for
        // IFSC 32 with N(S) 0
        // (T1Exchange.ThreeParityErrorsLeadToResynchronisationAndTheCommandAgainCutForIfs32WithNsZero):
        // a block of 40 bytes for IFSC 64 would be refused every time.
        {CommandOfLength(40), "C1:1 00:40 00:40 00:40 C0 20:32 40:8", threeParityErrors, nullptr, F::None, {}, 0x40},
        // An aborted chain, or one broken by resynchronisation, is sent again from its start.
        {CommandOfLength(100), "20:32 60:32 E2 C0 20:32 60:32 20:32 40:4", {F::None, F::AbortChain}},
        {CommandOfLength(100),
         "20:32 60:32 60:32 60:32 C0 20:32 60:32 20:32 40:4",
         {F::None, F::RejectOther, F::RejectOther, F::RejectOther}},
        // The card aborting its chained response gets S(ABORT response); its next I-block
        // answers the R-block the abort interrupted.
        {Challenge(2), "00:5 90 E2", {}, nullptr, F::None, {"00 20 00 20", "00 C2 00 C2", "00 40 04 C4 C4 90 00 D4"}},
        // An R-block with an error answering our S(WTX response) leads to resynchronisation,
        // and the command starts over.
        {Challenge(8),
         "00:5 E3:1 C0 00:5",
         {},
         nullptr,
         F::None,
         {"00 C3 01 01 C3", "00 82 00 82", "00 E0 00 E0", "00 00 0A C4 C4 C4 C4 C4 C4 C4 C4 90 00 9A"}},
        // An empty I-block is asked for again with R(other error).
        {CApdu("00A40400"), "00:4 82", {}, nullptr, F::None, {"00 00 00 00", "00 00 02 90 00 92"}},
        // No answer to three S(RESYNCH request)s resets the card, or powers it off.
        {Challenge(8), "00:5 00:5 00:5 C0 C0 C0", {}, unexpected, F::Lose},
        {Challenge(8), "00:5 00:5 00:5 C0 C0 C0", {}, unexpected, F::Lose, {}, -1, 1, true},
        // Resynchronisation inside a chained response loses the response.
        {Challenge(300), "00:7 90 90 90 C0", {F::None, F::Lose, F::Lose, F::Lose}, lost},
        {Challenge(8), "00:5", {}, noStatus, F::None, {"00 00 01 90 91"}},
        // Cards that repeat their chained I-block, or chain empty ones, are given up.
        {Challenge(60), "00:5 90 90 90 C0 C0 C0", {}, unexpected, F::None, {"00 20 02 AA BB 33"}},
        {Challenge(60), "00:5 90 80 C0 C0 C0", {}, unexpected, F::None, {"00 20 00 20", "00 60 00 60"}},
        // At most three resynchronisations per command: error answers to S(RESYNCH request)
        // (T1Exchange.ErrorAnswersToResynchronisationAreBounded), or a card that answers
        // S(RESYNCH request) only (T1RunawayCard.CardThatOnlyAnswersResynchIsGivenUpAfterThreeResynchronisations):
        // the first piece three times between resynchronisations.
        {Challenge(8), "00:5 00:5 00:5 C0 C0 C0", {}, threeResynchs, F::RejectOther},
        {CommandOfLength(100), firstPieceFourTimesThreeTimes, {}, threeResynchs, F::MuteUnlessResynch},
        // The bound counts the resynchronisations of one command: each of four commands may have one.
        {Challenge(8),
         "00:5 00:5 00:5 C0 00:5 40:5 40:5 40:5 C0 00:5 40:5 40:5 40:5 C0 00:5 40:5 40:5 40:5 C0 00:5",
         resynchEachRun,
         nullptr,
         F::None,
         {},
         -1,
         4},
        // The card does not confirm the reserved IFSC 00, and the engine keeps it without looping.
        {Challenge(8), "C1:1 C1:1", {}, ifsZero, F::None, {}, 0},
        // An R-block with an error answering R(no error) asks for that R-block again.
        {Challenge(300), "00:7 90 90", {F::None, F::RejectOther}},
        // The card's S(IFS request) with the reserved 00 or FF is an invalid block, not answered
        // (ISO/IEC 7816-3, 11.4.2).
        {Challenge(8), "00:5 00:5 00:5 C0 C0 C0", {}, unexpected, F::None, {"00 C1 01 FF 3F"}},
        {Challenge(8), "00:5 00:5 00:5 C0 C0 C0", {}, unexpected, F::None, {"00 C1 01 00 C0"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(&c - cases);
        T1Bench bench;
        bench.card.responsePiece = 254;
        if (c.ifsc >= 0) bench.engine.NegotiateIfs(static_cast<uint8_t>(c.ifsc));
        bench.card.faults.assign(c.faults.begin(), c.faults.end());
        bench.card.faultSource = [&c] { return c.always; };
        for (size_t i = 0; i < 200 && !c.card.empty(); ++i)
            bench.card.scriptedAnswers.emplace_back(c.card[i % c.card.size()]);
        bench.engine.SetResetOnFailure(!c.powerOff);
        if (c.failure) {
            bench.ExpectFailure(c.command, c.failure, c.powerOff);
        } else {
            for (int run = 0; run < c.runs; ++run) bench.engine.Command(c.command, bench.response);
            EXPECT_EQ(bench.response.Encode(), Application(c.command).Encode());
        }
        EXPECT_EQ(bench.Blocks(), c.blocks);
        EXPECT_EQ(bench.reader.Count("reset"), c.failure && !c.powerOff ? 1u : 0u);
        EXPECT_EQ(bench.reader.Count("off"), c.powerOff ? 1u : 0u);
        // The card never runs a command put together from a broken chain.
        for (const CApdu& run : bench.card.commands) EXPECT_EQ(run.Encode(), c.command.Encode());
        EXPECT_TRUE(bench.log.records.empty());  // no traces without transport_log
        if (c.failure && !c.powerOff) {
            // Card and engine start over together after the reset: the link works again.
            bench.card.faults.clear();
            bench.card.faultSource = nullptr;
            bench.card.scriptedAnswers.clear();
            bench.engine.Command(Challenge(300), bench.response);
            EXPECT_EQ(bench.response.Encode(), Application(Challenge(300)).Encode());
        }
    }
}

// ISO/IEC 7816-3, 11.6.2.3 rules 3 and 4: the card's S(WTX request) and S(IFS
// request) are answered with the value asked for, which the engine then uses.
TEST(T1Exchange, CardsRequestsAreAnsweredWithTheirValue) {
    T1Bench bench;
    bench.card.responsePiece = 254;
    bench.card.faults = {T1Fault::RequestWtx};
    bench.engine.Command(Challenge(8), bench.response);
    EXPECT_EQ(bench.card.received.at(1), Binary("00 E3 01 02 E0"));
    EXPECT_EQ(bench.engine.GetWtx(), 2);
    EXPECT_EQ(bench.response.Encode(), Application(Challenge(8)).Encode());
    bench.card.received.clear();
    bench.card.faults = {T1Fault::RequestIfs};
    bench.engine.Command(Challenge(8), bench.response);
    EXPECT_EQ(bench.card.received.at(1), Binary("00 E1 01 80 60"));
    EXPECT_EQ(bench.engine.GetIfs(), 0x80);
    bench.card.received.clear();
    bench.engine.Command(CommandOfLength(200), bench.response);
    EXPECT_EQ(bench.Blocks(), "20:128 40:72");
    EXPECT_EQ(bench.response.Encode(), Application(CommandOfLength(200)).Encode());
}

// A response of 65536 data bytes and the status word is the longest one; a card
// chaining beyond it is given up instead of filling the memory.
TEST(T1Exchange, ChainedResponseIsBoundedByTheLongestResponse) {
    T1Bench longest;
    longest.card.responsePiece = 254;
    longest.engine.Command(Challenge(65536), longest.response);
    EXPECT_EQ(longest.response.Encode(), Application(Challenge(65536)).Encode());

    // Chained I-blocks of 254 bytes 55 without end; an even count of equal bytes
    // leaves the LRC that of the prologue.
    T1Bench endless;
    for (int i = 0; i < 300; ++i) {
        const bool odd = i % 2 != 0;
        endless.card.scriptedAnswers.push_back(Binary{0x00, static_cast<uint8_t>(odd ? 0x60 : 0x20), 0xFE} +
                                               Binary(254, 0x55) + Binary{static_cast<uint8_t>(odd ? 0x9E : 0xDE)});
    }
    endless.ExpectFailure(Challenge(8), "Ответ карты по протоколу T=1 длиннее 65538 байт");
    EXPECT_EQ(endless.card.received.size(), 259u);  // the command, then an R-block for each block but the last
}

// S(IFS request) and S(WTX request) of the engine: the card's confirmed value is
// taken; without a valid S-response, after two sends, the value asked for is kept.
TEST(T1Exchange, NegotiationsTakeTheCardsValueOrKeepTheRequestedOne) {
    T1Bench bench;
    EXPECT_TRUE(bench.engine.NegotiateIfs(0xFE));
    EXPECT_EQ(bench.engine.GetIfs(), 0xFE);
    EXPECT_EQ(bench.card.received.back(), Binary("00 C1 01 FE 3E"));
    EXPECT_TRUE(bench.engine.NegotiateWtx(0x05));
    EXPECT_EQ(bench.engine.GetWtx(), 0x05);
    EXPECT_EQ(bench.card.received.back(), Binary("00 C3 01 05 C7"));
    bench.card.scriptedAnswers = {Binary("00 E1 01 40 A0")};
    EXPECT_TRUE(bench.engine.NegotiateIfs(0x80));
    EXPECT_EQ(bench.engine.GetIfs(), 0x40);
    bench.card.received.clear();
    bench.card.scriptedAnswers = {Binary("00 E1 01 00 E0"), Binary("00 E1 01 FF 1F")};  // IFS 00 and FF are invalid
    EXPECT_FALSE(bench.engine.NegotiateIfs(0x80));
    EXPECT_EQ(bench.card.received.size(), 2u);
    EXPECT_EQ(bench.engine.GetIfs(), 0x80);
    bench.card.scriptedAnswers = {Binary("00 E1 01 03 E3"), Binary()};  // an IFS response to a WTX request
    EXPECT_FALSE(bench.engine.NegotiateWtx(0x03));
    EXPECT_EQ(bench.engine.GetWtx(), 0x03);
    // ResetLink brings IFS, WTX and N(S) back to their defaults.
    bench.engine.Command(Challenge(8), bench.response);
    EXPECT_EQ(bench.engine.GetNs(), 1);
    bench.engine.ResetLink();
    EXPECT_EQ(bench.engine.GetIfs(), Protocol_T1::DefaultIfs);
    EXPECT_EQ(bench.engine.GetWtx(), 0);
    EXPECT_EQ(bench.engine.GetNs(), 0);
}

TEST(T1Exchange, CommandThatCannotBeEncodedLeavesTheCardAlone) {
    // A caller's error, not a transmission failure: nothing is sent and the card keeps its state.
    T1Bench bench;
    CApdu tooLong(0x00, 0xD6, 0x00, 0x00, Binary(CApdu::MaxDataLength + 1, 0x00));
    EXPECT_EQ(test::MessageOf([&] { bench.engine.Command(tooLong, bench.response); }),
              "Некорректные размеры данных в CApdu");
    EXPECT_TRUE(bench.card.received.empty());
    EXPECT_TRUE(bench.reader.events.empty());
}

TEST(T1Exchange, TracesShowBothDirections) {
    T1Bench bench;
    bench.reader.params.transport_log = true;
    bench.card.scriptedAnswers = {Binary("00 00 02 90 00 92")};
    bench.engine.Command(Challenge(8), bench.response);
    ASSERT_EQ(2u, bench.log.records.size());
    EXPECT_EQ(">>> [I_BLOCK__NO_CHAIN (0)]\n NAD:00 PCB:00 LEN:05\n INF:\n 00 84 00 00 08\n LRC:89\n ~~~~~~\n",
              bench.log.records[0].text);
    EXPECT_EQ("<<< [I_BLOCK__NO_CHAIN (0)]\n NAD:00 PCB:00 LEN:02\n INF:\n 90 00\n LRC:92\n ~~~~~~\n",
              bench.log.records[1].text);
    EXPECT_EQ(3, bench.log.records[0].level);
    EXPECT_EQ(Binary("00 00 05 00 84 00 00 08 89"), bench.engine.GetLastSentBlock());
    // With CRC both epilogue bytes are shown, and a long command travels end to end.
    T1Bench crc(Application, 2);
    crc.reader.params.transport_log = true;
    crc.card.responsePiece = 254;
    EXPECT_TRUE(crc.engine.NegotiateIfs(0x20));
    ASSERT_EQ(crc.log.records.size(), 2u);
    EXPECT_EQ(crc.log.records[0].text, ">>> [S_BLOCK__IFS_REQUEST]\n NAD:00 PCB:C1 LEN:01\n INF:\n 20\n CRC:" +
                                           binary::ToHex(Back(crc.engine.GetLastSentBlock(), 2), 1) + "\n ~~~~~~\n");
    EXPECT_EQ(crc.log.records[1].text.rfind("<<< [S_BLOCK__IFS_RESPONSE]\n NAD:00 PCB:E1 LEN:01\n INF:\n 20\n CRC:", 0),
              0u);
    crc.reader.params.transport_log = false;
    crc.engine.Command(CommandOfLength(300), crc.response);
    EXPECT_EQ(crc.response.Encode(), Application(CommandOfLength(300)).Encode());
    EXPECT_EQ(crc.Blocks(), "C1:1 20:32 60:32 20:32 60:32 20:32 60:32 20:32 60:32 20:32 40:12 90");
}

// ---- soaks: thousands of commands against a card that injects random faults,
// single ones or bursts. Every command either completes with its own response
// or ends in the card reset and the reader-driver error, within a bound of blocks.

// The response depends on every byte of the command, so that an answer that
// belongs to another command (or to a part of this one) cannot pass.
RApdu SoakApplication(const CApdu& command) {
    uint32_t state = 2166136261u;
    auto mix = [&state](uint8_t byte) { state = (state ^ byte) * 16777619u; };
    for (uint8_t byte : {command.cla, command.ins, command.p1, command.p2}) mix(byte);
    for (uint8_t byte : command.data) mix(byte);
    mix(static_cast<uint8_t>(command.ne));
    mix(static_cast<uint8_t>(command.data.size()));
    RApdu response;
    for (size_t i = 0; i < std::min<size_t>(command.ne, 300); ++i) {
        mix(static_cast<uint8_t>(i));
        response.data.push_back(static_cast<uint8_t>(state >> 24));
    }
    response.sw1 = 0x90;
    response.sw2 = static_cast<uint8_t>(state);
    return response;
}

// Runs the commands of a soak: 0 to 300 data bytes expecting 0 to 400 bytes, up
// to 10 pieces each way at IFSC 32. Each completes with its own response, or the
// card is reset once and the reader-driver error (code 0) comes with the response
// cleared. Before each command, prepare sets the card's faults and returns how
// many it planned.
struct Soak {
    void Run(
        T1Bench& bench, int count, const std::function<size_t()>& prepare = [] { return 0; }) {
        for (int i = 0; i < count; ++i) {
            const size_t planned = prepare();
            Binary data(std::uniform_int_distribution<size_t>(0, 300)(random));
            for (uint8_t& b : data) b = static_cast<uint8_t>(std::uniform_int_distribution<int>(0, 255)(random));
            const CApdu command(0x80, 0x10, static_cast<uint8_t>(i >> 8), static_cast<uint8_t>(i), data,
                                std::uniform_int_distribution<uint32_t>(0, 400)(random));
            const size_t blocksBefore = bench.card.received.size();
            const size_t resetsBefore = bench.reader.Count("reset");
            RApdu response;
            ++commands;
            try {
                bench.engine.Command(command, response);
                ++completed;
                EXPECT_EQ(resetsBefore, bench.reader.Count("reset"));
                EXPECT_EQ(response.Encode(), SoakApplication(command).Encode());
            } catch (const CardDrvException& error) {
                ++failed;
                EXPECT_EQ(0, error.ErrorCode());
                EXPECT_EQ(resetsBefore + 1, bench.reader.Count("reset")) << error.what();
                EXPECT_EQ(response.Encode(), Binary("00 00"));
            }
            mostBlocks = std::max(mostBlocks, bench.card.received.size() - blocksBefore);
            // Faults the command ended before are not counted or carried over.
            faults += static_cast<int>(planned - std::min(planned, bench.card.faults.size()));
            bench.card.faults.clear();
        }
    }

    std::mt19937 random;
    int commands = 0;
    int completed = 0;
    int failed = 0;
    int faults = 0;
    size_t mostBlocks = 0;  // the largest number of blocks the card received for one command
};

TEST(T1Soak, EveryCommandEndsWithItsOwnResponseOrTheDocumentedFailure) {
    Soak soak{std::mt19937(20261206u)};
    constexpr T1Fault Faults[] = {T1Fault::Lose,         T1Fault::CorruptEdc, T1Fault::WrongLen,   T1Fault::RejectOther,
                                  T1Fault::RejectParity, T1Fault::RequestWtx, T1Fault::RequestIfs, T1Fault::AbortChain};
    std::uniform_int_distribution<size_t> pickFault(0, std::size(Faults) - 1);
    std::bernoulli_distribution faulty(0.08);
    T1Bench bench(SoakApplication);
    bench.card.faultSource = [&] { return faulty(soak.random) ? Faults[pickFault(soak.random)] : T1Fault::None; };
    soak.Run(bench, 4000);
    // The faults are rare enough that recovery, not failure, is the rule.
    EXPECT_GT(soak.completed, soak.commands * 9 / 10);
    EXPECT_GT(bench.card.resynchs, 0);
    std::printf("T=1 soak: %d completed, %d failed with reset, %d resynchronisations\n", soak.completed, soak.failed,
                bench.card.resynchs);
}

// Bursts of 1 to 8 faults in a row, of every kind, over LRC and CRC, half the
// commands starting with an IFSC above 32.
TEST(T1Soak, EveryCommandEndsWithinTheBlockBoundUnderBurstsOfFaults) {
    constexpr T1Fault Kinds[] = {
        T1Fault::Lose,       T1Fault::Garble,      T1Fault::WrongLen,     T1Fault::ShortLen,
        T1Fault::CorruptEdc, T1Fault::RejectOther, T1Fault::RejectParity, T1Fault::MuteUnlessResynch,
        T1Fault::RequestWtx, T1Fault::RequestIfs,  T1Fault::AbortChain};
    // Without faults a command takes at most 19 blocks (10 pieces, 9 R-blocks
    // for the rest of the response). Each fault costs at most a resend and one
    // S(RESYNCH request), and each of the at most 3 resynchronisations a fresh
    // start of the command (10 pieces).
    constexpr size_t MaxBlocksPerCommand = 19 + 8 * 2 + 3 * 10;
    Soak soak{std::mt19937(20261207u)};
    std::uniform_int_distribution<size_t> pickKind(0, std::size(Kinds) - 1);
    std::uniform_int_distribution<int> cleanBlocks(0, 4);
    std::uniform_int_distribution<int> burstLength(1, 8);
    std::uniform_int_distribution<int> largeIfsc(33, 254);
    std::bernoulli_distribution startsWithLargeIfsc(0.5);
    for (const uint8_t edcLength : {uint8_t{1}, uint8_t{2}}) {
        T1Bench bench(SoakApplication, edcLength);
        soak.Run(bench, 3000, [&] {
            if (startsWithLargeIfsc(soak.random)) {
                EXPECT_TRUE(bench.engine.NegotiateIfs(static_cast<uint8_t>(largeIfsc(soak.random))));
            }
            bench.card.faults.assign(static_cast<size_t>(cleanBlocks(soak.random)), T1Fault::None);
            const int burst = burstLength(soak.random);
            for (int f = 0; f < burst; ++f) bench.card.faults.push_back(Kinds[pickKind(soak.random)]);
            return static_cast<size_t>(burst);
        });
    }
    EXPECT_LE(soak.mostBlocks, MaxBlocksPerCommand);
    EXPECT_EQ(soak.commands, soak.completed + soak.failed);
    EXPECT_GT(soak.completed, 0);
    EXPECT_GT(soak.failed, 0);
    std::printf(
        "T=1 burst soak: %d commands, %d faults, %d completed, %d reset + error, at most %zu blocks "
        "for one command (bound %zu)\n",
        soak.commands, soak.faults, soak.completed, soak.failed, soak.mostBlocks, MaxBlocksPerCommand);
}

}  // namespace
}  // namespace ZORVIK
