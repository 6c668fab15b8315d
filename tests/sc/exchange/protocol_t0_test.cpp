#include "sc/exchange/protocol_t0.h"

#include <gtest/gtest.h>

#include <deque>

#include "sc/exchange/capdu_rapdu.h"
#include "sc/exchange/reader.h"
#include "service/log/recording_log.h"
#include "support/t0_card_model.h"

namespace ZORVIK {
namespace {

using binary::Binary;
using test::ModelReader;
using test::RecordingLog;
using test::T0CardModel;

RApdu Answer(const char* hex) { return RApdu(Binary(hex)); }

RApdu AnswerWithData(size_t length, uint8_t fill, const char* sw) {
    return RApdu(Binary(length, fill) + Binary(sw));
}

// Records every TPDU the algorithm sends and answers from a script.
class ScriptedT0 : public Protocol_T0 {
public:
    using Protocol_T0::Protocol_T0;
    std::deque<RApdu> answers;
    std::function<RApdu(const CApdu&)> answerer;
    std::vector<CApdu> sent;

    void RR_Command(const CApdu& tpdu, RApdu& response) override {
        sent.push_back(tpdu);
        if (answerer) {
            response = answerer(tpdu);
            return;
        }
        if (answers.empty()) throw CardDrvException("script exhausted", 99);
        response = answers.front();
        answers.pop_front();
    }
};

void ExpectTpdu(const CApdu& tpdu, const char* header, const Binary& data, uint32_t ne) {
    Binary actual;
    tpdu.AppendHeader(actual);
    EXPECT_EQ(Binary(header), actual);
    EXPECT_EQ(data, tpdu.data);
    EXPECT_EQ(ne, tpdu.ne);
}

class T0Algorithm : public ::testing::Test {
protected:
    ModelReader reader;
    ScriptedT0 engine{&reader};
    RApdu response;
};

TEST_F(T0Algorithm, GetResponseAfter61xxAsksForAnnouncedLength) {
    engine.answers = {Answer("61 10"), AnswerWithData(16, 0x11, "90 00")};
    engine.Command(CApdu(0x00, 0xB0, 0x00, 0x00, 256), response);
    ASSERT_EQ(2u, engine.sent.size());
    ExpectTpdu(engine.sent[1], "00 C0 00 00", {}, 16);
    EXPECT_EQ(Binary(16, 0x11), response.data);
    EXPECT_EQ(0x9000, response.GetSW());
}

TEST_F(T0Algorithm, ChainStopsWhenRemainingCountIsUsedUpAndKeeps61xx) {
    engine.answers = {Answer("61 10"), AnswerWithData(16, 0x22, "61 10"), AnswerWithData(4, 0x33, "61 0C"),
                      AnswerWithData(12, 0x44, "90 00")};
    engine.Command(CApdu(0x00, 0xB0, 0x00, 0x00, 20), response);
    ASSERT_EQ(3u, engine.sent.size());
    ExpectTpdu(engine.sent[1], "00 C0 00 00", {}, 16);
    ExpectTpdu(engine.sent[2], "00 C0 00 00", {}, 4);  // only what Ne still allows
    EXPECT_EQ(Binary(16, 0x22) + Binary(4, 0x33), response.data);
    EXPECT_EQ(0x610C, response.GetSW());
}

TEST_F(T0Algorithm, SixtyOneZeroAsksFor256Bytes) {
    engine.answers = {Answer("61 00"), AnswerWithData(256, 0x01, "90 00")};
    engine.Command(CApdu(0x00, 0xB0, 0x00, 0x00, 256), response);
    ExpectTpdu(engine.sent[1], "00 C0 00 00", {}, 256);
    EXPECT_EQ(256u, response.data.size());
}

TEST_F(T0Algorithm, GetResponseCarriesCommandClaOrClaZeroWhenAsked) {
    engine.answers = {Answer("61 05"), AnswerWithData(5, 0, "90 00")};
    engine.Command(CApdu(0x80, 0xCA, 0x9F, 0x7F, 256), response);
    EXPECT_EQ(0x80, engine.sent[1].cla);

    reader.params.get_resp_cla_00 = true;
    engine.sent.clear();
    engine.answers = {Answer("61 05"), AnswerWithData(5, 0, "90 00")};
    engine.Command(CApdu(0x80, 0xCA, 0x9F, 0x7F, 256), response);
    EXPECT_EQ(0x00, engine.sent[1].cla);
}

TEST_F(T0Algorithm, WrongLengthIsResentOnceWithTheCardsLe) {
    engine.answers = {Answer("6C 08"), AnswerWithData(8, 0x5A, "90 00")};
    engine.Command(CApdu(0x00, 0xB0, 0x00, 0x00, 256), response);
    ASSERT_EQ(2u, engine.sent.size());
    ExpectTpdu(engine.sent[1], "00 B0 00 00", {}, 8);
    EXPECT_EQ(Binary(8, 0x5A), response.data);
    EXPECT_EQ(0x9000, response.GetSW());
}

TEST_F(T0Algorithm, ResentAnswerIsCutToTheCommandsNe) {
    engine.answers = {Answer("6C 08"), AnswerWithData(8, 0x5A, "90 00")};
    engine.Command(CApdu(0x00, 0xB0, 0x00, 0x00, 4), response);
    EXPECT_EQ(Binary(4, 0x5A), response.data);
}

TEST_F(T0Algorithm, NoGetResponseFollowsAResend) {
    engine.answers = {Answer("6C 08"), Answer("61 08")};
    engine.Command(CApdu(0x00, 0xB0, 0x00, 0x00, 256), response);
    EXPECT_EQ(2u, engine.sent.size());
    EXPECT_EQ(0x6108, response.GetSW());
}

TEST_F(T0Algorithm, CommandsWithoutNeNeverReturnData) {
    engine.answers = {AnswerWithData(5, 1, "90 00")};
    engine.Command(CApdu(0x00, 0xD6, 0x00, 0x00, Binary("01 02 03")), response);
    EXPECT_TRUE(response.data.empty());
    EXPECT_EQ(0x9000, response.GetSW());

    engine.answers = {Answer("61 04"), AnswerWithData(4, 1, "90 00")};
    engine.Command(CApdu(0x00, 0x44, 0x00, 0x00), response);
    EXPECT_TRUE(response.data.empty());
    EXPECT_EQ(0x9000, response.GetSW());
}

TEST_F(T0Algorithm, AutoT0OffLeaves61xxAnd6CxxToTheCaller) {
    reader.params.auto_t0 = false;
    engine.answers = {Answer("61 10")};
    engine.Command(CApdu(0x00, 0xB0, 0x00, 0x00, 256), response);
    EXPECT_EQ(1u, engine.sent.size());
    EXPECT_EQ(0x6110, response.GetSW());
}

TEST_F(T0Algorithm, Sw1NineFStartsTheChainOnlyWhenSwitchedOn) {
    engine.answers = {Answer("9F 04")};
    engine.Command(CApdu(0x00, 0xB0, 0x00, 0x00, 256), response);
    EXPECT_EQ(1u, engine.sent.size());

    reader.params.sw1_9f_as_61 = true;
    engine.sent.clear();
    engine.answers = {Answer("9F 04"), AnswerWithData(4, 7, "90 00")};
    engine.Command(CApdu(0x00, 0xB0, 0x00, 0x00, 256), response);
    ASSERT_EQ(2u, engine.sent.size());
    ExpectTpdu(engine.sent[1], "00 C0 00 00", {}, 4);
    EXPECT_EQ(Binary(4, 7), response.data);
}

TEST_F(T0Algorithm, ChainWithoutNeIsBoundedByItsLimit) {
    // A card answering every GET RESPONSE with 256 bytes and 61 00 again.
    size_t calls = 0;
    engine.answerer = [&](const CApdu&) {
        ++calls;
        return calls == 1 ? Answer("61 00") : AnswerWithData(256, 0xEE, "61 00");
    };
    engine.Command(CApdu(0x00, 0x44, 0x00, 0x00), response);
    EXPECT_EQ(1u + Protocol_T0::MaxChainLength / 256, calls);
    EXPECT_EQ(0x6100, response.GetSW());
    EXPECT_TRUE(response.data.empty());
}

TEST_F(T0Algorithm, ChainEndsWhenAGetResponseBringsNoData) {
    size_t calls = 0;
    engine.answerer = [&](const CApdu&) {
        ++calls;
        return Answer("61 00");
    };
    engine.Command(CApdu(0x00, 0xB0, 0x00, 0x00, 256), response);
    EXPECT_EQ(2u, calls);
    EXPECT_EQ(0x6100, response.GetSW());
}

TEST_F(T0Algorithm, ErrorsOfTheTpduExchangePassThrough) {
    engine.answers = {Answer("61 10")};  // the GET RESPONSE finds the script empty
    try {
        engine.Command(CApdu(0x00, 0xB0, 0x00, 0x00, 256), response);
        FAIL() << "no error";
    } catch (const CardDrvException& error) {
        EXPECT_EQ(99, error.ErrorCode());
    }
}

struct EnvelopeCase {
    const char* name;  // test name
    uint32_t mode;
    size_t dataLength;
    uint32_t ne;
    bool envelope;
};

class T0EnvelopeChoice : public T0Algorithm, public ::testing::WithParamInterface<EnvelopeCase> {};

TEST_P(T0EnvelopeChoice, FollowsTheMode) {
    const EnvelopeCase& c = GetParam();
    reader.params.envelope_mode = c.mode;
    engine.answerer = [](const CApdu&) { return Answer("90 00"); };
    engine.Command(CApdu(0x00, 0xE2, 0x00, 0x00, Binary(c.dataLength, 0x42), c.ne), response);
    ASSERT_FALSE(engine.sent.empty());
    EXPECT_EQ(c.envelope, engine.sent.front().ins == 0xC2) << c.name;
}

INSTANTIATE_TEST_SUITE_P(
    Modes, T0EnvelopeChoice,
    ::testing::Values(EnvelopeCase{"SmartDataAndNe16", EnvelopeSmart, 10, 16, true},
                      EnvelopeCase{"SmartDataNoNe", EnvelopeSmart, 10, 0, false},
                      EnvelopeCase{"SmartDataAndNe256", EnvelopeSmart, 10, 256, false},
                      EnvelopeCase{"SmartNe300", EnvelopeSmart, 0, 300, true},
                      EnvelopeCase{"SmartCase3Extended", EnvelopeSmart, 300, 0, true},
                      EnvelopeCase{"NullDataAndNe16", EnvelopeNull, 10, 16, false},
                      EnvelopeCase{"NullCase3Extended", EnvelopeNull, 300, 0, true},
                      EnvelopeCase{"NullCase4Extended", EnvelopeNull, 10, 1000, true},
                      EnvelopeCase{"ForceCase1", EnvelopeForce, 0, 0, true},
                      EnvelopeCase{"UnknownModeActsAsNull", 7, 10, 16, false}),
    [](const ::testing::TestParamInfo<EnvelopeCase>& info) { return std::string(info.param.name); });

TEST_F(T0Algorithm, EnvelopeOf600BytesGoesAs255And255And90ThenEmpty) {
    reader.params.envelope_mode = EnvelopeForce;
    engine.answerer = [](const CApdu&) { return Answer("90 00"); };
    const CApdu command(0x00, 0xE2, 0x00, 0x00, Binary(593, 0x42), 0);  // 4 + 3 + 593 bytes encoded
    engine.Command(command, response);
    Binary encoded;
    command.Encode(encoded, false);
    ASSERT_EQ(600u, encoded.size());
    ASSERT_EQ(4u, engine.sent.size());
    ExpectTpdu(engine.sent[0], "00 C2 00 00", binary::Slice(encoded, 0, 255), 0);
    ExpectTpdu(engine.sent[1], "00 C2 00 00", binary::Slice(encoded, 255, 255), 0);
    ExpectTpdu(engine.sent[2], "00 C2 00 00", binary::Slice(encoded, 510, 90), 0);
    ExpectTpdu(engine.sent[3], "00 C2 00 00", {}, 0);
}

TEST_F(T0Algorithm, EnvelopeOf255BytesIsOnePieceThenEmpty) {
    reader.params.envelope_mode = EnvelopeForce;
    engine.answerer = [](const CApdu&) { return Answer("90 00"); };
    engine.Command(CApdu(0x00, 0xE2, 0x00, 0x00, Binary(250, 0x42), 0), response);  // 4 + 1 + 250
    ASSERT_EQ(2u, engine.sent.size());
    EXPECT_EQ(255u, engine.sent[0].data.size());
    EXPECT_TRUE(engine.sent[1].data.empty());
}

TEST_F(T0Algorithm, EnvelopeStopsAtTheFirstAnswerOtherThan9000) {
    reader.params.envelope_mode = EnvelopeForce;
    engine.answers = {Answer("90 00"), Answer("6A 80")};
    engine.Command(CApdu(0x00, 0xE2, 0x00, 0x00, Binary(593, 0x42), 0), response);
    EXPECT_EQ(2u, engine.sent.size());
    EXPECT_EQ(0x6A80, response.GetSW());
}

TEST_F(T0Algorithm, EnvelopeAnswerGoesThroughGetResponse) {
    reader.params.envelope_mode = EnvelopeForce;
    engine.answers = {Answer("90 00"), Answer("61 03"), AnswerWithData(3, 9, "90 00")};
    engine.Command(CApdu(0x00, 0xB0, 0x00, 0x00, 256), response);
    ASSERT_EQ(3u, engine.sent.size());
    ExpectTpdu(engine.sent[2], "00 C0 00 00", {}, 3);
    EXPECT_EQ(Binary(3, 9), response.data);
}

// The one-TPDU algorithm over a byte link, against the character-level card model.
class T0OverLink : public ::testing::Test {
protected:
    static RApdu Application(const CApdu& command) {
        switch (command.ins) {
            case 0xB0: return AnswerWithData(8, 0xB0, "90 00");                     // READ BINARY: 8 bytes
            case 0xA4: return RApdu(command.data + Binary("90 00"));                // SELECT: echo
            case 0xE2: return RApdu(Binary(command.data.size() % 256 == 0 ? 1 : 2, 0xE2) + Binary("90 00"));
            default: return Answer("6D 00");
        }
    }

    ModelReader reader;
    T0CardModel card{Application};
    RecordingLog log;
    ByteLink_T0 engine{&reader, &card, &log, T0LinkOptions{}};
    RApdu response;
};

TEST_F(T0OverLink, OutgoingDataFollowsTheAck) {
    engine.Command(CApdu(0x00, 0xB0, 0x00, 0x00, 8), response);
    EXPECT_EQ(Binary("00 B0 00 00 08"), card.headers.at(0));
    EXPECT_EQ(Binary(8, 0xB0), response.data);
    EXPECT_EQ(0x9000, response.GetSW());
}

TEST_F(T0OverLink, NullBytesOnlyMakeTheEngineWait) {
    card.nullBytes = 3;
    engine.Command(CApdu(0x00, 0xB0, 0x00, 0x00, 8), response);
    EXPECT_EQ(Binary(8, 0xB0), response.data);
    EXPECT_EQ(0x9000, response.GetSW());
}

TEST_F(T0OverLink, WrongLeIsFixedByTheResend) {
    engine.Command(CApdu(0x00, 0xB0, 0x00, 0x00, 256), response);
    ASSERT_EQ(2u, card.headers.size());
    EXPECT_EQ(Binary("00 B0 00 00 00"), card.headers[0]);
    EXPECT_EQ(Binary("00 B0 00 00 08"), card.headers[1]);
    EXPECT_EQ(Binary(8, 0xB0), response.data);
}

TEST_F(T0OverLink, CaseFourTravelsAsDataThenGetResponse) {
    engine.Command(CApdu(0x00, 0xA4, 0x04, 0x00, Binary("A0 00 00 01 51"), 256), response);
    EXPECT_EQ(Binary("00 A4 04 00 05"), card.headers.at(0));
    EXPECT_EQ(Binary("A0 00 00 01 51"), card.dataFields.at(0));
    EXPECT_EQ(Binary("00 C0 00 00 05"), card.headers.at(1));
    EXPECT_EQ(Binary("A0 00 00 01 51"), response.data);
    EXPECT_EQ(0x9000, response.GetSW());
}

TEST_F(T0OverLink, CardReassemblesA600ByteEnvelope) {
    reader.params.envelope_mode = EnvelopeForce;
    engine.Command(CApdu(0x00, 0xE2, 0x00, 0x00, Binary(593, 0x42), 0), response);
    ASSERT_EQ(1u, card.commands.size());
    EXPECT_EQ(Binary(593, 0x42), card.commands[0].data);
    EXPECT_EQ(0x9000, response.GetSW());
    EXPECT_TRUE(response.data.empty());  // no Ne: the card's data is dropped
}

TEST_F(T0OverLink, EndlessSixtyOneZeroFromTheCardEnds) {
    card.endlessGetResponse = true;
    engine.Command(CApdu(0x00, 0xA4, 0x04, 0x00, Binary("3F 00")), response);
    EXPECT_EQ(1u + 1u + Protocol_T0::MaxChainLength / 256, card.headers.size());
    EXPECT_EQ(0x6100, response.GetSW());

    card.endlessGetResponse = false;
    card.emptyEndlessGetResponse = true;
    card.headers.clear();
    engine.Command(CApdu(0x00, 0xA4, 0x04, 0x00, Binary("3F 00"), 256), response);
    EXPECT_EQ(2u, card.headers.size());  // the command and one GET RESPONSE
}

void ExpectDriverError(const std::function<void()>& action, const char* message) {
    try {
        action();
        ADD_FAILURE() << "no error, expected: " << message;
    } catch (const CardDrvException& error) {
        EXPECT_STREQ(message, error.what());
        EXPECT_EQ(0, error.ErrorCode());
    }
}

TEST_F(T0OverLink, TimeOutsAndBadBytesHaveTheirOwnErrors) {
    card.rawAnswers = {Binary()};
    ExpectDriverError([&] { engine.Command(CApdu(0x00, 0xB0, 0x00, 0x00, 8), response); }, "Таймаут ожидания карты");

    card.rawAnswers = {Binary("B0 01 02")};
    ExpectDriverError([&] { engine.Command(CApdu(0x00, 0xB0, 0x00, 0x00, 8), response); },
                      "Таймаут приема данных от карты [1]");

    card.rawAnswers = {Binary("60 90")};
    ExpectDriverError([&] { engine.Command(CApdu(0x00, 0xB0, 0x00, 0x00, 8), response); }, "Таймаут ожидания статуса");

    ExpectDriverError([&] { TransmitT0Tpdu(card, CApdu(0x00, 0xD6, 0, 0, Binary(256, 0)), response, {}, nullptr); },
                      "Lc too big");
}

TEST_F(T0OverLink, ComplementOfInsIsNoAck) {
    // ISO/IEC 7816-3 lets INS XOR FF ask for a single byte; this engine takes it as SW1.
    card.rawAnswers = {Binary("4F 90")};
    engine.Command(CApdu(0x00, 0xB0, 0x00, 0x00, 8), response);
    EXPECT_EQ(0x4F, response.sw1);
    EXPECT_EQ(0x90, response.sw2);
}

TEST_F(T0OverLink, StrictLinkRefusesStatusBytesOutside6xAnd9x) {
    const T0LinkOptions strict{true, false};
    card.rawAnswers = {Binary("3F 00")};
    ExpectDriverError([&] { TransmitT0Tpdu(card, CApdu(0x00, 0xB0, 0, 0, 8), response, strict, nullptr); },
                      "Ошибочный символ");
    card.rawAnswers = {Binary("60 6A 82")};
    TransmitT0Tpdu(card, CApdu(0x00, 0xB0, 0, 0, 8), response, strict, nullptr);
    EXPECT_EQ(0x6A82, response.GetSW());
}

TEST_F(T0OverLink, EchoPrintsEveryProcedureByte) {
    card.rawAnswers = {Binary("60 B0 01 02 03 04 05 06 07 08 90 00")};
    ::testing::internal::CaptureStdout();
    TransmitT0Tpdu(card, CApdu(0x00, 0xB0, 0, 0, 8), response, T0LinkOptions{false, true}, nullptr);
    EXPECT_EQ("###60\n###b0\n###90\n", ::testing::internal::GetCapturedStdout());
}

TEST_F(T0OverLink, NoTracesWithoutTransportLog) {
    engine.Command(CApdu(0x00, 0xB0, 0x00, 0x00, 8), response);
    EXPECT_TRUE(log.records.empty());
}

TEST_F(T0OverLink, TracesOfAnOutgoingTpdu) {
    reader.params.transport_log = true;
    engine.Command(CApdu(0x00, 0xB0, 0x00, 0x00, 8), response);
    ASSERT_EQ(4u, log.records.size());
    EXPECT_EQ("~~~~~~~~ T=0 ~~~~~~~~~\nCommand TPDU:\nHeader: 00 B0 00 00 08\n", log.records[0].text);
    EXPECT_EQ("Data field: <empty>\n~~~~~~\n", log.records[1].text);
    EXPECT_EQ("Response TPDU:\nData field: 8 (0x08)\nB0B0 B0B0 B0B0 B0B0\n", log.records[2].text);
    EXPECT_EQ("Status: 90 00\n~~~~~~~~~~~~~~~~~~~~~~\n\n", log.records[3].text);
    EXPECT_EQ(3, log.records[0].level);
}

TEST_F(T0OverLink, TracesOfAnIncomingTpdu) {
    reader.params.transport_log = true;
    engine.Command(CApdu(0x00, 0xA4, 0x00, 0x00, Binary("3F 00")), response);
    ASSERT_LE(4u, log.records.size());
    EXPECT_EQ("~~~~~~~~ T=0 ~~~~~~~~~\nCommand TPDU:\nHeader: 00 A4 00 00 02\n", log.records[0].text);
    EXPECT_EQ("Data field: 2 (0x02)\n3F00\n~~~~~~\n", log.records[1].text);
    EXPECT_EQ("Response TPDU:\nData field: <empty>\n", log.records[2].text);
    EXPECT_EQ("Status: 61 02\n~~~~~~~~~~~~~~~~~~~~~~\n\n", log.records[3].text);
}

TEST_F(T0OverLink, TracesWhenTheCardSentNoAck) {
    reader.params.transport_log = true;
    engine.Command(CApdu(0x00, 0x44, 0x00, 0x00), response);
    ASSERT_EQ(4u, log.records.size());
    EXPECT_EQ("Data field: <empty>\n~~~~~~\n", log.records[1].text);
    EXPECT_EQ("Response TPDU:\nData field: <empty>\n", log.records[2].text);
    EXPECT_EQ("Status: 6D 00\n~~~~~~~~~~~~~~~~~~~~~~\n\n", log.records[3].text);
}

TEST(TraceHex, GroupsTwoBytesAndBreaksTheLineEvery32Bytes) {
    Binary bytes;
    for (int i = 0; i < 34; ++i) bytes.push_back(static_cast<uint8_t>(i));
    EXPECT_EQ("0001 0203 0405 0607 0809 0A0B 0C0D 0E0F 1011 1213 1415 1617 1819 1A1B 1C1D 1E1F\n2021",
              TraceHex(bytes));
    EXPECT_EQ("AB", TraceHex(Binary("AB")));
}

}  // namespace
}  // namespace ZORVIK
