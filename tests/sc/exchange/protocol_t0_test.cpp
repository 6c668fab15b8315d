#include "sc/exchange/protocol_t0.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <deque>
#include <tuple>

#include "sc/exchange/byte_link.h"
#include "sc/exchange/capdu_rapdu.h"
#include "sc/exchange/reader.h"
#include "service/log/recording_log.h"
#include "support/error_text.h"
#include "support/scripted_reader.h"
#include "support/t0_card_model.h"

namespace ZORVIK {
namespace {

using binary::Binary;

// Records every TPDU the algorithm sends, as hex, and answers from a script
// whose last answer repeats.
class ScriptedT0 : public Protocol_T0 {
public:
    using Protocol_T0::Protocol_T0;
    std::deque<Binary> answers;
    std::string sent;

    void RR_Command(const CApdu& tpdu, RApdu& response) override {
        sent += (sent.empty() ? "" : " ") + binary::ToHex(tpdu.Encode(), 0);
        response = RApdu(answers.front());
        if (answers.size() > 1) answers.pop_front();
    }
    size_t Tpdus() const { return sent.empty() ? 0 : std::count(sent.begin(), sent.end(), ' ') + 1; }
};

CApdu Read(uint32_t ne) { return CApdu(0x00, 0xB0, 0x00, 0x00, ne); }

class T0Algorithm : public ::testing::Test {
protected:
    test::ScriptedReader reader;
    ScriptedT0 engine{&reader};
    RApdu response;
};

// ISO/IEC 7816-3, 12.2: GET RESPONSE after 61xx and the resend after 6Cxx; a
// setting may change the rule.
TEST_F(T0Algorithm, GetResponseAndResend) {
    using P = ReaderParams;
    const CApdu getData(0x80, 0xCA, 0x9F, 0x7F, 256);
    const std::string full = binary::ToHex(Binary(256, 0x5A), 0) + " 9000";
    const std::tuple<CApdu, std::vector<const char*>, const char*, const char*, bool P::*> cases[] = {
        // The chain stops when Ne is used up and keeps 61xx.
        {Read(3), {"61 02", "AABB 6102", "CC 6101"}, "00B0000003 00C0000002 00C0000001", "AABBCC 6101", nullptr},
        // GET RESPONSE with the command's CLA, or 00 when asked.
        {getData, {"61 01", "AA 9000"}, "80CA9F7F00 80C0000001", "AA 9000", nullptr},
        {getData, {"61 01", "AA 9000"}, "80CA9F7F00 00C0000001", "AA 9000", &P::get_resp_cla_00},
        // 6Cxx: resent once with the card's Le, the answer cut to Ne.
        {Read(1), {"6C 02", "AABB 9000"}, "00B0000001 00B0000002", "AA 9000", nullptr},
        // The caller gets 61xx when auto_t0 is off; 9Fxx starts the chain only when asked.
        {Read(256), {"61 02"}, "00B0000000", "6102", &P::auto_t0},
        {Read(256), {"9F 01", "AA 9000"}, "00B0000000 00C0000001", "AA 9000", &P::sw1_9f_as_61},
        {Read(256), {"9F 01"}, "00B0000000", "9F01", nullptr},
        // 9Fxx answering GET RESPONSE ends the chain and, when switched on, asks for the resend.
        {Read(256), {"9F 02", "AABB 9F01", "CC 9000"}, "00B0000000 00C0000002 00B0000001", "CC 9000", &P::sw1_9f_as_61},
        // 61 00 asks for 256 bytes; 6Cxx with Ne 256 takes the card's Le whole.
        {Read(256), {"61 00", full.c_str()}, "00B0000000 00C0000000", full.c_str(), nullptr},
        {Read(256), {"6C 02", "AABB 9000"}, "00B0000000 00B0000002", "AABB 9000", nullptr},
        // No GET RESPONSE follows a resend.
        {Read(256), {"6C 02", "61 02"}, "00B0000000 00B0000002", "6102", nullptr},
        // Cases 1 and 3 never return data, even when the card sends some.
        {CApdu(0, 0x44, 0, 0), {"61 04", "01020304 9000"}, "00440000 00C0000004", "9000", nullptr},
        {CApdu(0, 0xD6, 0, 0, Binary("010203")), {"0102 9000"}, "00D6000003010203", "9000", nullptr},
    };
    for (const auto& [command, answers, sent, answer, changed] : cases) {
        reader.params = ReaderParams();
        if (changed) reader.params.*changed = !(reader.params.*changed);  // switched from its default
        engine.sent.clear();
        engine.answers.assign(answers.begin(), answers.end());
        engine.Command(command, response);
        EXPECT_EQ(engine.sent, sent);
        EXPECT_EQ(response.Encode(), Binary(answer));
    }
    // The answer to an ENVELOPE goes through GET RESPONSE as well.
    reader.params = ReaderParams();
    reader.params.envelope_mode = EnvelopeForce;
    engine.sent.clear();
    engine.answers = {Binary("9000"), Binary("6103"), Binary("010203 9000")};
    engine.Command(Read(256), response);
    EXPECT_EQ(engine.sent, "00C200000500B0000000 00C20000 00C0000003");
    EXPECT_EQ(response.Encode(), Binary("010203 9000"));
    // An error of the TPDU exchange passes through unchanged.
    engine.answers = {Binary("6110"), Binary()};
    reader.params.envelope_mode = EnvelopeSmart;
    EXPECT_EQ(test::MessageOf([&] { engine.Command(Read(256), response); }),
              "Некорректная длина структуры RApdu. Отсутствуют обязательные поля статуса");
}

TEST_F(T0Algorithm, EndlessSixtyOneFromTheCardEnds) {
    // Every GET RESPONSE brings 256 bytes and 61 00 again: without Ne the chain
    // collects at most MaxChainLength bytes, and drops them.
    engine.answers = {Binary("6100"), Binary(256, 1) + Binary("6100")};
    engine.Command(CApdu(0x00, 0xA4, 0x04, 0x00, Binary("3F 00")), response);
    EXPECT_EQ(engine.Tpdus(), 1u + Protocol_T0::MaxChainLength / 256);
    EXPECT_EQ(response.Encode(), Binary("6100"));
    // A GET RESPONSE answered 61 00 without data ends the chain.
    engine.sent.clear();
    engine.answers = {Binary("6100")};
    engine.Command(CApdu(0x00, 0xA4, 0x04, 0x00, Binary("3F 00"), 256), response);
    EXPECT_EQ(engine.sent, "00A40400023F0000 00C0000000");
}

TEST_F(T0Algorithm, EnvelopeIsChosenByTheModeAndCutIn255BytePieces) {
    // Smart: a Le that one TPDU cannot carry with the data, and extended data;
    // null: extended data only; force: always. An unknown mode acts as null.
    const std::tuple<uint32_t, size_t, uint32_t, bool> cases[] = {
        {EnvelopeSmart, 10, 16, true},   {EnvelopeSmart, 10, 0, false},
        {EnvelopeSmart, 10, 256, false}, {EnvelopeSmart, 0, 300, true},
        {EnvelopeSmart, 300, 0, true},   {EnvelopeNull, 10, 16, false},
        {EnvelopeNull, 300, 0, true},    {EnvelopeNull, 10, 1000, true},
        {EnvelopeForce, 0, 0, true},     {7, 10, 16, false},
        {EnvelopeSmart, 0, 256, false},  {EnvelopeSmart, 0, 257, true}};  // P3 00 carries Ne 256, not more
    engine.answers = {Binary("9000")};
    for (const auto& [mode, length, ne, envelope] : cases) {
        reader.params.envelope_mode = mode;
        engine.sent.clear();
        engine.Command(CApdu(0x00, 0xE2, 0x00, 0x00, Binary(length, 0x42), ne), response);
        EXPECT_EQ(envelope, engine.sent.rfind("00C2", 0) == 0) << mode << " " << length << " " << ne;
    }
    // 600 bytes encoded (4 + 3 + 593) go as 255, 255 and 90, then the empty ENVELOPE.
    reader.params.envelope_mode = EnvelopeForce;
    const CApdu command(0x00, 0xE2, 0x00, 0x00, Binary(593, 0x42), 0);
    const std::string encoded = binary::ToHex(command.Encode(), 0);
    engine.sent.clear();
    engine.Command(command, response);
    EXPECT_EQ(engine.sent, "00C20000FF" + encoded.substr(0, 510) + " 00C20000FF" + encoded.substr(510, 510) +
                               " 00C200005A" + encoded.substr(1020) + " 00C20000");
    // 255 bytes encoded (4 + 1 + 250) are one piece, then the empty ENVELOPE.
    engine.sent.clear();
    engine.Command(CApdu(0x00, 0xE2, 0x00, 0x00, Binary(250, 0x42), 0), response);
    EXPECT_EQ(engine.Tpdus(), 2u);
    EXPECT_EQ(engine.sent.rfind("00C20000FF00E20000FA", 0), 0u);
    EXPECT_EQ(engine.sent.substr(engine.sent.size() - 9), " 00C20000");
    // The first answer other than 9000 ends the command.
    engine.answers = {Binary("90 00"), Binary("6A 80")};
    engine.sent.clear();
    engine.Command(command, response);
    EXPECT_EQ(engine.Tpdus(), 2u);
    EXPECT_EQ(response.GetSW(), 0x6A80);
}

// transport_protocols is a list in the settings' own syntax, kept in the order
// written.
TEST(ReaderParams, TransportProtocolsKeepTheWrittenOrder) {
    EXPECT_EQ(ParseTransportProtocols("T1, T0"), (std::vector<uint32_t>{1, 0}));
    EXPECT_EQ(ParseTransportProtocols("'T0', \"T1\""), (std::vector<uint32_t>{0, 1}));
    EXPECT_EQ(ParseTransportProtocols(",,"), (std::vector<uint32_t>{1, 0}));  // none written: the default
    EXPECT_EQ(ParseTransportProtocols(""), (std::vector<uint32_t>{1, 0}));
    EXPECT_EQ(ParseTransportProtocols("T0"), (std::vector<uint32_t>{0}));
    EXPECT_EQ(ParseTransportProtocols("T0,T1"), (std::vector<uint32_t>{0, 1}));
    for (const char* text : {"T1;T0", "T2", "t0", "T01", "T0, "}) {
        EXPECT_EQ(test::MessageOf([&] { ParseTransportProtocols(text); }),
                  "Некорректный транспортный протокол контактного интерфейса")
            << text;
    }
}

TEST(ReaderParams, DefaultsAndEnvelopeModes) {
    const ReaderParams params;
    EXPECT_FALSE(params.transport_log);
    EXPECT_EQ(params.protocols, (std::vector<uint32_t>{1, 0}));
    EXPECT_TRUE(params.auto_t0);
    EXPECT_FALSE(params.sw1_9f_as_61);
    EXPECT_FALSE(params.get_resp_cla_00);
    EXPECT_EQ(params.envelope_mode, EnvelopeSmart);
    EXPECT_EQ(ParseEnvelopeMode("smart"), EnvelopeSmart);
    EXPECT_EQ(ParseEnvelopeMode("force"), EnvelopeForce);
    EXPECT_EQ(ParseEnvelopeMode("null"), EnvelopeNull);
    for (const char* text : {"Smart", "", "forced"}) {
        EXPECT_EQ(test::MessageOf([&] { ParseEnvelopeMode(text); }), "Некорректный режим Envelope") << text;
    }
}

// One TPDU over the byte link, the card's characters given raw.
class T0Link : public ::testing::Test {
protected:
    test::T0CardModel card{[](const CApdu&) { return RApdu(Binary("6D 00")); }};
    RApdu response;
};

TEST_F(T0Link, ProcedureBytesAndTheirFailures) {
    const CApdu read = Read(2);
    const struct {
        const char* raw;
        const char* result;  // the response, or the error (code 0)
        CApdu command;
        bool strict = false;
    } cases[] = {
        {"60 60 B0 01 02 60 90 00", "01 02 90 00", read},  // NULL bytes only make the engine wait
        {"B0 01 02 B0 03 04 90 00", "03 04 90 00", read},  // a repeated ACK delivers the data again
        {"4F 90", "4F 90", read},                          // INS XOR FF is no ACK here but SW1
        {"60 6A 82", "6A 82", read, true},                 // a strict link takes 6x after NULL
        {"3F 00", "Ошибочный символ", read, true},         // but no status byte outside 6x and 9x
        {"", "Таймаут ожидания карты", read},
        {"B0 01", "Таймаут приема данных от карты [1]", read},
        {"60 90", "Таймаут ожидания статуса", read},
        {"", "Lc too big", CApdu(0x00, 0xD6, 0, 0, Binary(256, 0))},
        {"D6", "6D 00", CApdu(0x00, 0xD6, 0, 0, Binary(255, 0))},  // P3 FF, the longest Lc, reaches the card
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.raw);
        card.rawAnswers = {Binary(c.raw)};
        try {
            TransmitT0Tpdu(card, c.command, response, T0LinkOptions{c.strict, false}, nullptr);
            EXPECT_EQ(response.Encode(), Binary(c.result));
        } catch (const CardDrvException& error) {
            EXPECT_STREQ(error.what(), c.result);
            EXPECT_EQ(error.ErrorCode(), 0);
        }
    }
    // P3 00 asks for 256 bytes, also for an Ne above 256 that P3 cannot carry.
    card.rawAnswers = {Binary("B0") + Binary(256, 0x5A) + Binary("90 00")};
    TransmitT0Tpdu(card, Read(65536), response, T0LinkOptions{}, nullptr);
    EXPECT_EQ(card.headers.back(), Binary("00 B0 00 00 00"));
    EXPECT_EQ(response.Encode(), Binary(256, 0x5A) + Binary("90 00"));
}

// The engine over the byte link against the character-level card model: READ
// BINARY returns 8 bytes, SELECT echoes its data, any other command gets 6D00.
class T0OverLink : public ::testing::Test {
protected:
    T0OverLink() { reader.params.transport_log = true; }

    static RApdu Application(const CApdu& command) {
        if (command.ins == 0xB0) return RApdu(Binary(8, 0xB0) + Binary("90 00"));
        if (command.ins == 0xA4) return RApdu(command.data + Binary("90 00"));
        return RApdu(Binary("6D 00"));
    }

    test::ScriptedReader reader;
    test::T0CardModel card{Application};
    test::RecordingLog log;
    ByteLink_T0 engine{&reader, &card, &log, T0LinkOptions{}};
    RApdu response;
};

TEST_F(T0OverLink, DataGoesAfterTheAckAndTheWrongLeIsMendedByTheResend) {
    reader.params.transport_log = false;
    engine.Command(CApdu(0x00, 0xA4, 0x04, 0x00, Binary("A0 00 00 01 51"), 256), response);
    EXPECT_EQ(card.headers, (std::vector<Binary>{Binary("00 A4 04 00 05"), Binary("00 C0 00 00 05")}));
    EXPECT_EQ(card.commands.at(0).data, Binary("A0 00 00 01 51"));
    EXPECT_EQ(response.Encode(), Binary("A0 00 00 01 51 90 00"));
    card.headers.clear();
    engine.Command(Read(256), response);
    EXPECT_EQ(card.headers, (std::vector<Binary>{Binary("00 B0 00 00 00"), Binary("00 B0 00 00 08")}));
    EXPECT_EQ(response.Encode(), Binary(8, 0xB0) + Binary("90 00"));
    EXPECT_TRUE(log.records.empty());  // no traces without transport_log
}

TEST_F(T0OverLink, TracesOfEachDirectionOfTheTpdu) {
    const std::string Head = "~~~~~~~~ T=0 ~~~~~~~~~\nCommand TPDU:\nHeader: ";
    const std::string End = "~~~~~~~~~~~~~~~~~~~~~~\n\n";
    const std::tuple<CApdu, size_t, std::vector<std::string>> cases[] = {
        {Read(8),
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
        {CApdu(0x80, 0x44, 0x01, 0x02),
         4,  // every header byte in its place
         {Head + "80 44 01 02 00\n", "Data field: <empty>\n~~~~~~\n", "Response TPDU:\nData field: <empty>\n",
          "Status: 6D 00\n" + End}},
    };
    for (const auto& [command, records, expected] : cases) {
        log.records.clear();
        engine.Command(command, response);
        std::vector<std::string> texts;
        for (const LogRecord& record : log.records) {
            texts.push_back(record.text);
            EXPECT_EQ(record.level, 3);
        }
        ASSERT_EQ(texts.size(), records);
        texts.resize(expected.size());
        EXPECT_EQ(texts, expected);
    }
}

TEST_F(T0OverLink, EchoPrintsEveryProcedureByte) {
    card.rawAnswers = {Binary("60 B0 01 02 03 04 05 06 07 08 90 00")};
    ::testing::internal::CaptureStdout();
    TransmitT0Tpdu(card, Read(8), response, T0LinkOptions{false, true}, nullptr);
    EXPECT_EQ(::testing::internal::GetCapturedStdout(), "###60\n###b0\n###90\n");
    EXPECT_EQ(response.Encode(), Binary("01 02 03 04 05 06 07 08 90 00"));
}

TEST(TraceHex, GroupsTwoBytesAndBreaksTheLineEvery32Bytes) {
    Binary bytes;
    for (int i = 0; i < 34; ++i) bytes.push_back(static_cast<uint8_t>(i));
    EXPECT_EQ(TraceHex(bytes), "0001 0203 0405 0607 0809 0A0B 0C0D 0E0F 1011 1213 1415 1617 1819 1A1B 1C1D 1E1F\n2021");
    EXPECT_EQ(TraceHex(Binary("AB")), "AB");
}

}  // namespace
}  // namespace ZORVIK
