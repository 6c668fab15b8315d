#include "sc/exchange/protocol_t0.h"

#include <gtest/gtest.h>

#include <deque>
#include <tuple>

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

RApdu AnswerWithData(size_t length, uint8_t fill, const char* sw) { return RApdu(Binary(length, fill) + Binary(sw)); }

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

// One command against a scripted card: every TPDU sent (as encoded) and the response.
struct ScriptCase {
    const char* name;
    CApdu command;
    std::vector<RApdu> answers;
    std::vector<const char*> sent;
    Binary data;
    uint16_t sw;
    void (*tune)(ReaderParams&) = nullptr;
};

TEST_F(T0Algorithm, GetResponseResendAndEnvelopeFollowIso7816) {
    const ScriptCase cases[] = {
        {"61xx asks for the announced length",
         CApdu(0x00, 0xB0, 0x00, 0x00, 256),
         {Answer("61 10"), AnswerWithData(16, 0x11, "90 00")},
         {"00 B0 00 00 00", "00 C0 00 00 10"},
         Binary(16, 0x11),
         0x9000},
        {"chain stops when Ne is used up and keeps 61xx",
         CApdu(0x00, 0xB0, 0x00, 0x00, 20),
         {Answer("61 10"), AnswerWithData(16, 0x22, "61 10"), AnswerWithData(4, 0x33, "61 0C"),
          AnswerWithData(12, 0x44, "90 00")},
         {"00 B0 00 00 14", "00 C0 00 00 10", "00 C0 00 00 04"},
         Binary(16, 0x22) + Binary(4, 0x33),
         0x610C},
        {"61 00 asks for 256 bytes",
         CApdu(0x00, 0xB0, 0x00, 0x00, 256),
         {Answer("61 00"), AnswerWithData(256, 0x01, "90 00")},
         {"00 B0 00 00 00", "00 C0 00 00 00"},
         Binary(256, 0x01),
         0x9000},
        {"GET RESPONSE carries the command's CLA",
         CApdu(0x80, 0xCA, 0x9F, 0x7F, 256),
         {Answer("61 05"), AnswerWithData(5, 0, "90 00")},
         {"80 CA 9F 7F 00", "80 C0 00 00 05"},
         Binary(5, 0),
         0x9000},
        {"GET RESPONSE with CLA 00 when asked",
         CApdu(0x80, 0xCA, 0x9F, 0x7F, 256),
         {Answer("61 05"), AnswerWithData(5, 0, "90 00")},
         {"80 CA 9F 7F 00", "00 C0 00 00 05"},
         Binary(5, 0),
         0x9000,
         [](ReaderParams& p) { p.get_resp_cla_00 = true; }},
        {"6Cxx is resent once with the card's Le",
         CApdu(0x00, 0xB0, 0x00, 0x00, 256),
         {Answer("6C 08"), AnswerWithData(8, 0x5A, "90 00")},
         {"00 B0 00 00 00", "00 B0 00 00 08"},
         Binary(8, 0x5A),
         0x9000},
        {"resent answer is cut to Ne",
         CApdu(0x00, 0xB0, 0x00, 0x00, 4),
         {Answer("6C 08"), AnswerWithData(8, 0x5A, "90 00")},
         {"00 B0 00 00 04", "00 B0 00 00 08"},
         Binary(4, 0x5A),
         0x9000},
        {"no GET RESPONSE follows a resend",
         CApdu(0x00, 0xB0, 0x00, 0x00, 256),
         {Answer("6C 08"), Answer("61 08")},
         {"00 B0 00 00 00", "00 B0 00 00 08"},
         {},
         0x6108},
        {"case 3 never returns data",
         CApdu(0x00, 0xD6, 0x00, 0x00, Binary("01 02 03")),
         {AnswerWithData(5, 1, "90 00")},
         {"00 D6 00 00 03 01 02 03"},
         {},
         0x9000},
        {"case 1 never returns data",
         CApdu(0x00, 0x44, 0x00, 0x00),
         {Answer("61 04"), AnswerWithData(4, 1, "90 00")},
         {"00 44 00 00", "00 C0 00 00 04"},
         {},
         0x9000},
        {"auto_t0 off leaves 61xx to the caller",
         CApdu(0x00, 0xB0, 0x00, 0x00, 256),
         {Answer("61 10")},
         {"00 B0 00 00 00"},
         {},
         0x6110,
         [](ReaderParams& p) { p.auto_t0 = false; }},
        {"9Fxx is a status by default",
         CApdu(0x00, 0xB0, 0x00, 0x00, 256),
         {Answer("9F 04")},
         {"00 B0 00 00 00"},
         {},
         0x9F04},
        {"9Fxx starts the chain when switched on",
         CApdu(0x00, 0xB0, 0x00, 0x00, 256),
         {Answer("9F 04"), AnswerWithData(4, 7, "90 00")},
         {"00 B0 00 00 00", "00 C0 00 00 04"},
         Binary(4, 7),
         0x9000,
         [](ReaderParams& p) { p.sw1_9f_as_61 = true; }},
        {"envelope answer goes through GET RESPONSE",
         CApdu(0x00, 0xB0, 0x00, 0x00, 256),
         {Answer("90 00"), Answer("61 03"), AnswerWithData(3, 9, "90 00")},
         {"00 C2 00 00 05 00 B0 00 00 00", "00 C2 00 00", "00 C0 00 00 03"},
         Binary(3, 9),
         0x9000,
         [](ReaderParams& p) { p.envelope_mode = EnvelopeForce; }},
    };
    for (const ScriptCase& c : cases) {
        SCOPED_TRACE(c.name);
        reader.params = ReaderParams();
        if (c.tune) c.tune(reader.params);
        engine.sent.clear();
        engine.answers.assign(c.answers.begin(), c.answers.end());
        engine.Command(c.command, response);
        std::vector<Binary> sent;
        for (const CApdu& tpdu : engine.sent) sent.push_back(tpdu.Encode());
        EXPECT_EQ(sent, std::vector<Binary>(c.sent.begin(), c.sent.end()));
        EXPECT_EQ(response.data, c.data);
        EXPECT_EQ(response.GetSW(), c.sw);
    }
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

TEST_F(T0Algorithm, EnvelopeIsChosenByTheMode) {
    struct {
        uint32_t mode;
        size_t dataLength;
        uint32_t ne;
        bool envelope;
    } const cases[] = {
        {EnvelopeSmart, 10, 16, true},
        {EnvelopeSmart, 10, 0, false},
        {EnvelopeSmart, 10, 256, false},
        {EnvelopeSmart, 0, 300, true},
        {EnvelopeSmart, 300, 0, true},  // case 3 extended
        {EnvelopeNull, 10, 16, false},
        {EnvelopeNull, 300, 0, true},
        {EnvelopeNull, 10, 1000, true},
        {EnvelopeForce, 0, 0, true},
        {7, 10, 16, false},  // an unknown mode acts as null
    };
    engine.answerer = [](const CApdu&) { return Answer("90 00"); };
    for (const auto& c : cases) {
        reader.params.envelope_mode = c.mode;
        engine.sent.clear();
        engine.Command(CApdu(0x00, 0xE2, 0x00, 0x00, Binary(c.dataLength, 0x42), c.ne), response);
        ASSERT_FALSE(engine.sent.empty());
        EXPECT_EQ(c.envelope, engine.sent.front().ins == 0xC2)
            << "mode " << c.mode << ", Lc " << c.dataLength << ", Ne " << c.ne;
    }
}

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

// The one-TPDU algorithm over a byte link, against the character-level card model.
class T0OverLink : public ::testing::Test {
protected:
    static RApdu Application(const CApdu& command) {
        switch (command.ins) {
            case 0xB0: return AnswerWithData(8, 0xB0, "90 00");       // READ BINARY: 8 bytes
            case 0xA4: return RApdu(command.data + Binary("90 00"));  // SELECT: echo
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
    EXPECT_TRUE(log.records.empty());  // no traces without transport_log
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
    // Without Ne the chain collects at most MaxChainLength bytes, and drops them.
    engine.Command(CApdu(0x00, 0xA4, 0x04, 0x00, Binary("3F 00")), response);
    EXPECT_EQ(1u + 1u + Protocol_T0::MaxChainLength / 256, card.headers.size());
    EXPECT_EQ(0x6100, response.GetSW());
    EXPECT_TRUE(response.data.empty());

    card.endlessGetResponse = false;
    card.emptyEndlessGetResponse = true;
    card.headers.clear();
    engine.Command(CApdu(0x00, 0xA4, 0x04, 0x00, Binary("3F 00"), 256), response);
    EXPECT_EQ(2u, card.headers.size());  // a GET RESPONSE without data ends the chain
    EXPECT_EQ(0x6100, response.GetSW());
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

TEST_F(T0OverLink, TracesOfEachDirectionOfTheTpdu) {
    const std::string Head = "~~~~~~~~ T=0 ~~~~~~~~~\nCommand TPDU:\nHeader: ";
    const std::string End = "~~~~~~~~~~~~~~~~~~~~~~\n\n";
    const std::tuple<CApdu, size_t, std::vector<std::string>> cases[] = {
        {CApdu(0x00, 0xB0, 0x00, 0x00, 8),
         4,  // outgoing
         {Head + "00 B0 00 00 08\n", "Data field: <empty>\n~~~~~~\n",
          "Response TPDU:\nData field: 8 (0x08)\nB0B0 B0B0 B0B0 B0B0\n", "Status: 90 00\n" + End}},
        {CApdu(0x00, 0xA4, 0x00, 0x00, Binary("3F 00")),
         8,  // incoming, then GET RESPONSE
         {Head + "00 A4 00 00 02\n", "Data field: 2 (0x02)\n3F00\n~~~~~~\n", "Response TPDU:\nData field: <empty>\n",
          "Status: 61 02\n" + End}},
        {CApdu(0x00, 0x44, 0x00, 0x00),
         4,  // the card sent no ACK
         {Head + "00 44 00 00 00\n", "Data field: <empty>\n~~~~~~\n", "Response TPDU:\nData field: <empty>\n",
          "Status: 6D 00\n" + End}},
    };
    reader.params.transport_log = true;
    for (const auto& [command, records, expected] : cases) {
        log.records.clear();
        engine.Command(command, response);
        std::vector<std::string> texts;
        for (const LogRecord& record : log.records) {
            texts.push_back(record.text);
            EXPECT_EQ(3, record.level);
        }
        ASSERT_EQ(records, texts.size());
        texts.resize(expected.size());
        EXPECT_EQ(expected, texts);
    }
}

TEST(TraceHex, GroupsTwoBytesAndBreaksTheLineEvery32Bytes) {
    Binary bytes;
    for (int i = 0; i < 34; ++i) bytes.push_back(static_cast<uint8_t>(i));
    EXPECT_EQ("0001 0203 0405 0607 0809 0A0B 0C0D 0E0F 1011 1213 1415 1617 1819 1A1B 1C1D 1E1F\n2021", TraceHex(bytes));
    EXPECT_EQ("AB", TraceHex(Binary("AB")));
}

}  // namespace
}  // namespace ZORVIK
