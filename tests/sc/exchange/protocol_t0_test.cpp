#include "sc/exchange/protocol_t0.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <deque>
#include <tuple>

#include "sc/exchange/byte_link.h"
#include "sc/exchange/capdu_rapdu.h"
#include "sc/exchange/reader.h"
#include "service/log/recording_log.h"
#include "support/t0_card_model.h"

namespace ZORVIK {
namespace {

using binary::Binary;

// Records every TPDU the algorithm sends, as hex, and answers from a script.
class ScriptedT0 : public Protocol_T0 {
public:
    using Protocol_T0::Protocol_T0;
    std::deque<Binary> answers;
    std::function<RApdu(const CApdu&)> answerer;
    std::string sent;

    void RR_Command(const CApdu& tpdu, RApdu& response) override {
        sent += (sent.empty() ? "" : " ") + binary::ToHex(tpdu.Encode(), 0);
        if (answerer) {
            response = answerer(tpdu);
            return;
        }
        if (answers.empty()) throw CardDrvException("script exhausted", 99);
        response = RApdu(answers.front());
        answers.pop_front();
    }
    size_t Tpdus() const { return sent.empty() ? 0 : std::count(sent.begin(), sent.end(), ' ') + 1; }
};

CApdu Read(uint32_t ne) { return CApdu(0x00, 0xB0, 0x00, 0x00, ne); }

class T0Algorithm : public ::testing::Test {
protected:
    test::ModelReader reader;
    ScriptedT0 engine{&reader};
    RApdu response;
};

// ISO/IEC 7816-3, 12.2: GET RESPONSE after 61xx and the resend after 6Cxx.
TEST_F(T0Algorithm, GetResponseAndResend) {
    const std::string fullAnswer = std::string(510, '0') + "01 9000";  // 256 bytes
    const struct {
        CApdu command;
        std::vector<const char*> answers;
        const char* sent;                       // every TPDU
        const char* response;                   // none: the last answer
        bool ReaderParams::*changed = nullptr;  // a setting switched from its default
    } cases[] = {
        {Read(256), {"61 02", "AABB 9000"}, "00B0000000 00C0000002", "AABB 9000"},
        // The chain stops when Ne is used up and keeps 61xx; 61 00 asks for 256 bytes.
        {Read(3), {"61 02", "AABB 6102", "CC 6101"}, "00B0000003 00C0000002 00C0000001", "AABBCC 6101"},
        {Read(256), {"61 00", fullAnswer.c_str()}, "00B0000000 00C0000000", nullptr},
        // GET RESPONSE carries the command's CLA, or 00 when asked.
        {CApdu(0x80, 0xCA, 0x9F, 0x7F, 256), {"61 01", "AA 9000"}, "80CA9F7F00 80C0000001", "AA 9000"},
        {CApdu(0x80, 0xCA, 0x9F, 0x7F, 256),
         {"61 01", "AA 9000"},
         "80CA9F7F00 00C0000001",
         "AA 9000",
         &ReaderParams::get_resp_cla_00},
        // 6Cxx: resent once with the card's Le, cut to Ne, and no GET RESPONSE follows.
        {Read(256), {"6C 02", "AABB 9000"}, "00B0000000 00B0000002", "AABB 9000"},
        {Read(1), {"6C 02", "AABB 9000"}, "00B0000001 00B0000002", "AA 9000"},
        {Read(256), {"6C 02", "61 02"}, "00B0000000 00B0000002", "6102"},
        {CApdu(0x00, 0x44, 0x00, 0x00), {"61 01", "AA 9000"}, "00440000 00C0000001", "9000"},  // case 1: no data
        {Read(256), {"61 02"}, "00B0000000", "6102", &ReaderParams::auto_t0},
        // 9Fxx is a status unless asked to start the chain.
        {Read(256), {"9F 01"}, "00B0000000", "9F01"},
        {Read(256), {"9F 01", "AA 9000"}, "00B0000000 00C0000001", "AA 9000", &ReaderParams::sw1_9f_as_61},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(&c - cases);
        reader.params = ReaderParams();
        if (c.changed) reader.params.*c.changed = !(reader.params.*c.changed);
        engine.sent.clear();
        engine.answers.assign(c.answers.begin(), c.answers.end());
        engine.Command(c.command, response);
        EXPECT_EQ(engine.sent, c.sent);
        EXPECT_EQ(response.Encode(), Binary(c.response ? c.response : c.answers.back()));
    }
    // Errors of the TPDU exchange pass through.
    engine.answers = {Binary("61 10")};
    EXPECT_THROW(engine.Command(Read(256), response), CardDrvException);
}

TEST_F(T0Algorithm, EndlessSixtyOneFromTheCardEnds) {
    // Every GET RESPONSE brings 256 bytes and 61 00 again: without Ne the chain
    // collects at most MaxChainLength bytes, and drops them.
    engine.answerer = [](const CApdu& tpdu) {
        return RApdu(tpdu.ins == 0xC0 ? Binary(256, 1) + Binary("6100") : Binary("6100"));
    };
    engine.Command(CApdu(0x00, 0xA4, 0x04, 0x00, Binary("3F 00")), response);
    EXPECT_EQ(engine.Tpdus(), 1u + Protocol_T0::MaxChainLength / 256);
    EXPECT_EQ(response.Encode(), Binary("6100"));
    // A GET RESPONSE answered 61 00 without data ends the chain.
    engine.sent.clear();
    engine.answerer = [](const CApdu&) { return RApdu(Binary("6100")); };
    engine.Command(CApdu(0x00, 0xA4, 0x04, 0x00, Binary("3F 00"), 256), response);
    EXPECT_EQ(engine.sent, "00A40400023F0000 00C0000000");
}

TEST_F(T0Algorithm, EnvelopeIsChosenByTheModeAndCutIn255BytePieces) {
    const struct {
        uint32_t mode;
        size_t dataLength;
        uint32_t ne;
        bool envelope;
    } cases[] = {
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
    engine.answerer = [](const CApdu&) { return RApdu(Binary("9000")); };
    for (const auto& c : cases) {
        reader.params.envelope_mode = c.mode;
        engine.sent.clear();
        engine.Command(CApdu(0x00, 0xE2, 0x00, 0x00, Binary(c.dataLength, 0x42), c.ne), response);
        EXPECT_EQ(c.envelope, engine.sent.rfind("00C2", 0) == 0) << c.mode << " " << c.dataLength << " " << c.ne;
    }
    // 600 bytes encoded (4 + 3 + 593) go as 255, 255 and 90, then the empty
    // ENVELOPE; the first answer other than 9000 ends the command.
    reader.params.envelope_mode = EnvelopeForce;
    const CApdu command(0x00, 0xE2, 0x00, 0x00, Binary(593, 0x42), 0);
    const std::string encoded = binary::ToHex(command.Encode(), 0);
    engine.sent.clear();
    engine.Command(command, response);
    EXPECT_EQ(engine.sent, "00C20000FF" + encoded.substr(0, 510) + " 00C20000FF" + encoded.substr(510, 510) +
                               " 00C200005A" + encoded.substr(1020) + " 00C20000");
    engine.answerer = nullptr;
    engine.answers = {Binary("90 00"), Binary("6A 80")};
    engine.sent.clear();
    engine.Command(command, response);
    EXPECT_EQ(engine.Tpdus(), 2u);
    EXPECT_EQ(response.GetSW(), 0x6A80);
    // The answer to the command comes through GET RESPONSE.
    engine.answers = {Binary("90 00"), Binary("61 01"), Binary("AA 9000")};
    engine.sent.clear();
    engine.Command(Read(256), response);
    EXPECT_EQ(engine.sent, "00C200000500B0000000 00C20000 00C0000001");
    EXPECT_EQ(response.Encode(), Binary("AA 9000"));
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
    card.rawAnswers = {Binary("60 B0 01 02 90 00")};
    ::testing::internal::CaptureStdout();
    TransmitT0Tpdu(card, read, response, T0LinkOptions{false, true}, nullptr);
    EXPECT_EQ("###60\n###b0\n###90\n", ::testing::internal::GetCapturedStdout());  // the echo of procedure bytes
}

TEST_F(T0Link, TracesOfEachDirectionOfTheTpdu) {
    const std::string Head = "~~~~~~~~ T=0 ~~~~~~~~~\nCommand TPDU:\nHeader: ";
    const std::string End = "Status: 61 02\n~~~~~~~~~~~~~~~~~~~~~~\n\n";
    const std::tuple<CApdu, const char*, std::string> cases[] = {
        {Read(2), "B0 AB CD 61 02",  // outgoing
         Head + "00 B0 00 00 02\nData field: <empty>\n~~~~~~\nResponse TPDU:\nData field: 2 (0x02)\nABCD\n" + End},
        {CApdu(0x00, 0xA4, 0x00, 0x00, Binary("3F 00")), "A4 61 02",  // incoming
         Head + "00 A4 00 00 02\nData field: 2 (0x02)\n3F00\n~~~~~~\nResponse TPDU:\nData field: <empty>\n" + End},
        {CApdu(0x00, 0x44, 0x00, 0x00), "61 02",  // no ACK
         Head + "00 44 00 00 00\nData field: <empty>\n~~~~~~\nResponse TPDU:\nData field: <empty>\n" + End},
    };
    for (const auto& [command, raw, expected] : cases) {
        test::RecordingLog log;
        card.rawAnswers = {Binary(raw)};
        TransmitT0Tpdu(card, command, response, T0LinkOptions{}, &log);
        std::string text;
        for (const LogRecord& record : log.records) text += record.level == 3 ? record.text : "(level)";
        EXPECT_EQ(text, expected);
    }
    Binary bytes;
    for (int i = 0; i < 34; ++i) bytes.push_back(static_cast<uint8_t>(i));
    EXPECT_EQ("0001 0203 0405 0607 0809 0A0B 0C0D 0E0F 1011 1213 1415 1617 1819 1A1B 1C1D 1E1F\n2021", TraceHex(bytes));
}

}  // namespace
}  // namespace ZORVIK
