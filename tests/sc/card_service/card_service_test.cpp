#include "sc/card_service/card_service.h"
#include "support/file_text.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "sc/card_service/apdu_printer.h"
#include "sc/card_service/apdu_writer.h"
#include "sc/card_service/card_exception.h"
#include "sc/card_service/status_words.h"
#include "service/log/recording_log.h"
#include "support/scripted_reader.h"
#include "support/test_dir.h"
#include "support/test_sm.h"

namespace ZORVIK {
namespace {

using binary::Binary;
using test::ReadFile;
using test::RecordingLog;
using test::ScriptedReader;
using test::TestSM;

const std::string Equals(64, '=');

SourcePlace Place(const char* file, int32_t line) {
    SourcePlace place;
    place.file = file;
    place.line = line;
    return place;
}

CApdu Select() {
    return CApdu(0x00, 0xA4, 0x04, 0x00, Binary("A0 00 00 01 51"), 0, std::make_shared<StandardPrinter>("SELECT"));
}

class CardServiceTest : public ::testing::Test {
protected:
    CardServiceTest()
        : m_reader(std::make_shared<ScriptedReader>()),
          m_log(std::make_shared<RecordingLog>()),
          m_logPath(test::TestDir() + "card_service_" +
                    ::testing::UnitTest::GetInstance()->current_test_info()->name() + ".log") {
        std::filesystem::remove(m_logPath);
    }
    ~CardServiceTest() override { std::filesystem::remove(m_logPath); }

    // A powered service without an APDU log unless a writer kind is given.
    CardService& Make(int writerKind = -1) {
        std::shared_ptr<BaseApduWriter> writer;
        if (writerKind >= 0) writer = BaseApduWriter::Create(writerKind, m_logPath, 2);
        m_service = std::make_unique<CardService>(m_settings, m_reader, m_log, writer);
        m_reader->PowerOn(m_atr);
        return *m_service;
    }

    // The text of a card exception thrown by action, or "" when none was thrown.
    template <class Action>
    std::string CardErrorOf(Action action) {
        try {
            action();
        } catch (const CardException& e) {
            EXPECT_EQ(e.ErrorCode(), 256);
            return e.what();
        }
        return "";
    }

    // The text of a plain (not card) exception thrown by action.
    template <class Action>
    std::string PlainErrorOf(Action action) {
        try {
            action();
        } catch (const CardException& e) {
            ADD_FAILURE() << "card exception: " << e.what();
        } catch (const Exception& e) {
            return e.what();
        }
        return "";
    }

    bool Logged(const std::string& text) const {
        for (const LogRecord& record : m_log->records) {
            if (record.text == text) return true;
        }
        return false;
    }

    std::string ApduLog() const { return ReadFile(m_logPath); }

    CardServiceSettings m_settings;
    std::shared_ptr<ScriptedReader> m_reader;
    std::shared_ptr<RecordingLog> m_log;
    std::string m_logPath;
    ATR m_atr;
    std::unique_ptr<CardService> m_service;
};

// ---- status matching -------------------------------------------------------

TEST_F(CardServiceTest, StatusIsMatchedAndAMismatchNamesTheFirstExpectedStatus) {
    const std::string Mismatch = "Неправильный статус. Ожидался: ";
    const struct {
        std::vector<uint16_t> expected;
        const char* answer;
        std::string error;  // empty: accepted
    } cases[] = {
        {{ST_OK}, "9000", ""},
        {{ST_OK}, "0102 6110", ""},
        {{ST_OK}, "61FF", ""},
        {{ST_OK}, "6A82", Mismatch + "OK, карта вернула: 6A82"},
        {{ST_OK}, "6282", Mismatch + "OK, карта вернула: 6282"},
        {{0x6A82, ST_OK}, "6A82", ""},
        {{0x6A82, ST_OK}, "9000", ""},
        {{0x6A82, ST_OK}, "6A80", Mismatch + "6A82, карта вернула: 6A80"},
        {{ST_ERR}, "6A82", ""},
        {{ST_ERR}, "6282", ""},
        {{ST_ERR}, "9000", Mismatch + "ERR, карта вернула: 9000"},
        {{ST_ERR}, "61 20", Mismatch + "ERR, карта вернула: 6120"},
        {{ST_ERR}, "6100", Mismatch + "ERR, карта вернула: 6100"},
        {{ST_ANY}, "6F00", ""},
        {{ST_ANY}, "0000", ""},
        {{0x6283}, "6283", ""},
        {{0x6A82}, "6A83", Mismatch + "6A82, карта вернула: 6A83"},
        {{0x6283}, "9000", Mismatch + "6283, карта вернула: 9000"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.answer);
        m_reader = std::make_shared<ScriptedReader>();
        CardService& service = Make();
        m_reader->QueueAnswer(0x00, 0xA4, c.answer);
        const RApdu* response = nullptr;
        EXPECT_EQ(CardErrorOf([&] {
                      response = c.expected.size() == 1 ? &service.Command(Select(), c.expected[0])
                                                        : &service.Command(Select(), c.expected);
                  }),
                  c.error);
        const RApdu answer{Binary(c.answer)};
        EXPECT_EQ(MatchStatus(c.expected, answer.GetSW()), c.error.empty());
        EXPECT_EQ(service.GetLastResponse().Encode(), answer.Encode());
        EXPECT_EQ(response, c.error.empty() ? &service.GetLastResponse() : nullptr);
        EXPECT_EQ(m_reader->Sent().size(), 1u);  // no GET LAST ERROR without its setting
    }
}

TEST_F(CardServiceTest, EmptyStatusListSendsNothing) {
    CardService& service = Make();
    TestSM sm;
    EXPECT_EQ(PlainErrorOf([&] { service.Command(Select(), std::vector<uint16_t>{}); }), "Не задан ожидаемый статус.");
    EXPECT_EQ(PlainErrorOf([&] { service.Command(Select(), sm, std::vector<uint16_t>{}); }),
              "Не задан ожидаемый статус.");
    EXPECT_TRUE(m_reader->Sent().empty());
    EXPECT_EQ(sm.wrapCount, 0);
    EXPECT_FALSE(MatchStatus({}, 0x9000));
}

TEST_F(CardServiceTest, StatusListIsRefusedWithAnApduLogAfterTheExchange) {
    CardService& service = Make(BaseApduWriter::GP);
    m_reader->QueueAnswer(0x00, 0xA4, "0A 9000");
    EXPECT_EQ(PlainErrorOf([&] { service.Command(Select(), {ST_OK, 0x6A82}); }), "Список статусов не поддерживается.");
    EXPECT_EQ(m_reader->Sent().size(), 1u);
    EXPECT_EQ(service.GetLastResponse().data, Binary("0A"));
    EXPECT_EQ(service.GetLastCommand().ins, 0xA4);
}

TEST_F(CardServiceTest, ForceExtendedLeavesTheCallersCommandUnchanged) {
    m_settings.force_extended_apdu = true;
    CardService& service = Make();
    m_reader->QueueAnswer(0x00, 0xA4, "9000");
    const CApdu command = Select();
    service.Command(command, ST_OK);
    EXPECT_FALSE(command.extended);
    EXPECT_TRUE(service.GetLastCommand().extended);
    ASSERT_EQ(m_reader->Sent().size(), 1u);
    EXPECT_TRUE(m_reader->Sent()[0].extended);
    EXPECT_EQ(m_reader->Sent()[0].Encode(), Binary("00 A4 04 00 00 00 05 A0 00 00 01 51"));
}

// ---- GET LAST ERROR --------------------------------------------------------

constexpr std::array<ErrorCatalogueRow, 1> MorvaRows{{{0x0305, "EX_LO_CORE__WRONG_LIFE_PHASE", "Неверная фаза"}}};
constexpr std::array<ErrorCatalogueGroup, 1> Catalogue{{{"morva", MorvaRows}}};

class GetLastErrorTest : public CardServiceTest {
protected:
    GetLastErrorTest() {
        m_previousCatalogue = GetErrorCatalogue();
        SetErrorCatalogue(Catalogue);
        m_settings.get_last_error = true;
    }
    ~GetLastErrorTest() override { SetErrorCatalogue(m_previousCatalogue); }

    // The failure text when SELECT gets 6A82 and GET LAST ERROR gets answer
    // (none: the reader fails).
    std::string FailureWith(const char* answer) {
        CardService& service = Make();
        service.SetOsInfo(OsInfo("MORVA_1.92_S"));
        m_reader->QueueAnswer(0x00, 0xA4, "6A82");
        if (answer != nullptr) m_reader->QueueAnswer(0x80, 0xFE, answer);
        return CardErrorOf([&] { service.Command(Select(), ST_OK); });
    }

    ErrorCatalogue m_previousCatalogue;
};

TEST_F(GetLastErrorTest, ErrorCodeAssertionOrItsOwnFailureIsAddedToTheMismatch) {
    const std::string Mismatch = "Неправильный статус. Ожидался: OK, карта вернула: 6A82.\n";
    const std::string WrongSize = Mismatch + "Некорректный размер ответа в GET LAST ERROR";
    const struct {
        const char* answer;
        std::string error;
    } cases[] = {
        // Looked up for the card's product.
        {"0305 9000", Mismatch + "Код исключения: 0305 (EX_LO_CORE__WRONG_LIFE_PHASE - Неверная фаза)"},
        {"7777 9000", Mismatch + "Код исключения: 7777"},
        // Code 0102, line 0x0111 = 273, place "fs.c".
        {"0102 0111 66732E63 9000", Mismatch + "Assert 0102.\nМесто возникновения на карте:\nfs.c (273)"},
        // A card that does not know GET LAST ERROR keeps the mismatch and its exception.
        {"6D00", Mismatch + "GET LAST ERROR не отработал"},
        {"9000", WrongSize},
        {"01 9000", WrongSize},
        {"010203 9000", WrongSize},
        {"01020304 9000", WrongSize},
        {nullptr, Mismatch + "ScriptedReader: no answer queued for CLA 80 INS FE"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.answer != nullptr ? c.answer : "reader error");
        m_reader = std::make_shared<ScriptedReader>();
        EXPECT_EQ(FailureWith(c.answer), c.error);
        ASSERT_EQ(m_reader->Sent().size(), 2u);
        EXPECT_EQ(m_reader->Sent()[1].Encode(), Binary("80 FE 00 00 00"));
        EXPECT_EQ(m_reader->Sent()[1].ne, 256u);
        EXPECT_FALSE(Logged("GET LAST ERROR\n"));  // nothing of GET LAST ERROR is printed
    }
}

TEST_F(GetLastErrorTest, SuccessStatusNeverAsksForTheLastError) {
    CardService& service = Make();
    m_reader->QueueAnswer(0x00, 0xA4, "9000");
    EXPECT_EQ(CardErrorOf([&] { service.Command(Select(), ST_ERR); }),
              "Неправильный статус. Ожидался: ERR, карта вернула: 9000");
    EXPECT_EQ(m_reader->Sent().size(), 1u);
}

// ---- the card exception ----------------------------------------------------

TEST_F(CardServiceTest, CardExceptionFullMessageEndsWithTheLastExchange) {
    CardService& service = Make();
    m_reader->QueueAnswer(0x00, 0xA4, "6A82");
    try {
        service.Command(Select(), ST_OK);
        FAIL() << "no error";
    } catch (const CardException& e) {
        EXPECT_STREQ(e.Name(), "CardException");
        EXPECT_EQ(e.Response().GetSW(), 0x6A82);
        EXPECT_EQ(e.Command().data, Binary("A0 00 00 01 51"));
        const std::string expected =
            "Ошибка (CardException). Неправильный статус. Ожидался: OK, карта вернула: 6A82\n"
            "Последняя команда:\n"
            "SELECT\n"
            "CLA  INS   P1   P2     Ne\n"
            " 00   A4   04   00     0  (0x0)\n"
            "Data: 5 (0x5)\n"
            "A0 00 00 01 51\n"
            "Status: 6A82\n\n";
        EXPECT_EQ(e.FullMessage(), expected);
        const std::unique_ptr<Exception> clone = e.Clone();
        EXPECT_EQ(clone->FullMessage(), expected);
        EXPECT_EQ(clone->ErrorCode(), 256);
    }
}

TEST(CardException, WithoutPrinterTheExchangeStartsWithTheHeader) {
    const CardException e("text", SourcePlace(), CApdu(0x80, 0xCA, 0x00, 0x00), RApdu(Binary("6D00")));
    EXPECT_EQ(e.FullMessage(),
              "Ошибка (CardException). text\nПоследняя команда:\n"
              "CLA  INS   P1   P2     Ne\n 80   CA   00   00     0  (0x0)\nStatus: 6D00\n\n");
}

// ---- power and reset -------------------------------------------------------

TEST_F(CardServiceTest, PowerOnLogsTheAtrAndMarksTheApduLog) {
    CardService& service = Make(BaseApduWriter::Skarna);
    m_reader->PowerOff();
    service.PowerOn();
    EXPECT_TRUE(m_reader->IsPowered());
    EXPECT_TRUE(Logged("Power on\n"));
    EXPECT_TRUE(Logged("ATR: 3B 02 14 50\n\n"));
    EXPECT_EQ(ApduLog(), "\non\n");
}

TEST_F(CardServiceTest, ReaderNamePrefixesPowerLinesAndCommandsOnTheSameConsoleLine) {
    m_settings.output_reader_name = true;
    m_settings.readerName = "ACS ACR38U 00";
    CardService& service = Make();
    service.PowerOn();
    m_reader->QueueAnswer(0x00, 0xA4, "9000");
    service.Command(Select(), ST_OK);
    EXPECT_EQ(service.GetReaderName(), "ACS ACR38U 00");
    std::vector<std::string> texts;
    for (const LogRecord& record : m_log->records) {
        texts.push_back(record.text);
        if (record.text == "[Reader: ACS ACR38U 00]") {
            EXPECT_EQ(record.level, 3);
            EXPECT_EQ(record.colour, 2);
        }
    }
    ASSERT_GE(texts.size(), 5u);
    EXPECT_EQ(texts[0], "[Reader: ACS ACR38U 00]");
    EXPECT_EQ(texts[1], "Power on\n");
    const auto select = std::find(texts.begin(), texts.end(), "SELECT\n");
    ASSERT_NE(select, texts.end());
    EXPECT_EQ(*(select - 1), "[Reader: ACS ACR38U 00]");
}

TEST_F(CardServiceTest, ResetIsWarmUnlessColdAndColdResetCyclesThePower) {
    const struct {
        bool coldResetAlways;
        int writer;
        bool cold;  // ColdReset() rather than Reset()
        std::vector<std::string> events;
        const char* logged;
        const char* apduLog;
    } cases[] = {
        {false, BaseApduWriter::Skarna, false, {"on", "reset"}, "Reset\n", "\nreset\n"},
        {true, BaseApduWriter::Skarna, false, {"on", "off", "on"}, "Power on\n", "\noff\n\non\n"},
        {false, BaseApduWriter::Ruzo, true, {"on", "off", "on"}, "Power off\n\n", "off\non\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.apduLog);
        m_reader = std::make_shared<ScriptedReader>();
        m_settings.cold_reset_always = c.coldResetAlways;
        CardService& service = Make(c.writer);
        c.cold ? service.ColdReset() : service.Reset();
        m_service.reset();  // the APDU log is complete
        EXPECT_EQ(m_reader->Events(), c.events);
        EXPECT_TRUE(Logged(c.logged));
        EXPECT_EQ(ApduLog(), c.apduLog);
        std::filesystem::remove(m_logPath);
    }
}

TEST_F(CardServiceTest, StartAndFinishFollowTheSettings) {
    CardService& quiet = Make();
    quiet.Start();
    quiet.Finish();
    EXPECT_EQ(m_reader->Events().size(), 1u);  // only the fixture's own power-on

    m_settings.power_on = true;
    m_settings.power_off = true;
    CardService& service = Make();
    service.Start();
    service.Finish();
    const std::vector<std::string> expected{"on", "on", "on", "off"};
    EXPECT_EQ(m_reader->Events(), expected);
}

TEST_F(CardServiceTest, ResetOfAnUnpoweredCardPassesTheReaderError) {
    CardService& service = Make();
    m_reader->PowerOff();
    try {
        service.Reset();
        FAIL() << "no error";
    } catch (const CardDrvException& e) {
        EXPECT_EQ(e.ErrorCode(), CardDrvError::NoCard);
    }
}

// ---- RAM randomisation -----------------------------------------------------

TEST_F(CardServiceTest, RandomizeRamRunsWaferOnAPowerCycleOfItsOwn) {
    m_settings.randomize_ram = true;
    CardService& service = Make(BaseApduWriter::Skarna);
    m_reader->PowerOff();
    m_reader->QueueAnswer(0x80, 0x80, "9000");
    service.PowerOn();
    const std::vector<std::string> events{"on", "off", "on", "cmd", "off", "on"};
    EXPECT_EQ(m_reader->Events(), events);
    ASSERT_EQ(m_reader->Sent().size(), 1u);
    EXPECT_EQ(m_reader->Sent()[0].Encode(), Binary("80 80 02 00"));
    EXPECT_TRUE(Logged("WAFER (mode = 2)\n"));
    // The WAFER exchange is in the APDU log; its power cycle is not.
    EXPECT_EQ(ApduLog(), "\n; WAFER (mode = 2), \ni 80 80 02 00 | ANY\n\non\n");
    // The inner ATR line is logged at level 3, the normal one at level 2.
    int atrLevel3 = 0;
    int atrLevel2 = 0;
    for (const LogRecord& record : m_log->records) {
        if (record.text.rfind("ATR: ", 0) == 0) (record.level == 3 ? atrLevel3 : atrLevel2)++;
    }
    EXPECT_EQ(atrLevel3, 1);
    EXPECT_EQ(atrLevel2, 1);
}

TEST_F(CardServiceTest, RandomizeRamExplainsTheCardsRefusal) {
    m_settings.randomize_ram = true;
    const std::pair<const char*, const char*> cases[] = {
        {"6D00", "Текущая сборка ОС не поддерживает команду рандомизации RAM (Wafer)"},
        {"6300",
         "Команда рандомизации RAM (Wafer) может быть подана только на конструкторе, в контактном "
         "интерфейсе, по "
         "протоколу T0"},
        {"6A82", "Неправильный статус"},
    };
    for (const auto& [status, message] : cases) {
        m_reader = std::make_shared<ScriptedReader>();
        CardService& service = Make();
        m_reader->QueueAnswer(0x80, 0x80, status);
        EXPECT_EQ(PlainErrorOf([&] { service.PowerOn(); }), message) << status;
    }
}

// ---- printing and timing ---------------------------------------------------

TEST_F(CardServiceTest, ScriptPlaceIsPrintedWithoutTheRelativePart) {
    CardService& service = Make();
    m_reader->QueueAnswer(0x00, 0xA4, "9000");
    m_reader->QueueAnswer(0x00, 0xA4, "9000");
    m_reader->QueueAnswer(0x00, 0xA4, "9000");
    service.SetPlace(Place("../../scripts/perso.skarna", 12)).Command(Select(), ST_OK);
    EXPECT_TRUE(Logged("[scripts/perso.skarna(12)]\n"));
    service.SetPlace(Place("..\\old\\perso.skarna", 3)).Command(Select(), ST_OK);
    EXPECT_TRUE(Logged("[old\\perso.skarna(3)]\n"));
    service.SetPlace(Place("perso.skarna", 4)).Command(Select(), ST_OK);
    EXPECT_TRUE(Logged("[perso.skarna(4)]\n"));
}

TEST_F(CardServiceTest, NothingIsPrintedAboveLevel3) {
    auto filter = std::make_shared<ImportanceFilter>(4, m_log);
    m_service = std::make_unique<CardService>(m_settings, m_reader, filter, nullptr);
    m_reader->PowerOn(m_atr);
    m_reader->QueueAnswer(0x00, 0xA4, "9000");
    m_service->Command(Select(), ST_OK);
    EXPECT_TRUE(m_log->records.empty());
}

TEST_F(CardServiceTest, TimeProfilingLogsTheExchangeTime) {
    m_settings.time_profiling = true;
    CardService& service = Make();
    m_reader->QueueAnswer(0x00, 0xA4, "9000");
    service.Command(Select(), ST_OK);
    int timingLines = 0;
    for (const LogRecord& record : m_log->records) {
        if (record.level != 1) continue;
        ++timingLines;
        EXPECT_EQ(record.text.rfind("Время обработки APDU: 0 ms (", 0), 0u) << record.text;
        EXPECT_EQ(record.text.substr(record.text.size() - 8), " ticks)\n");
    }
    EXPECT_EQ(timingLines, 1);
}

TEST_F(CardServiceTest, ExchangeGoesToTheApduLogWithThePlace) {
    CardService& service = Make(BaseApduWriter::JCShell);
    m_reader->QueueAnswer(0x00, 0xA4, "9000");
    service.SetPlace(Place("a.skarna", 2)).Command(Select(), 0x9000);
    EXPECT_EQ(ApduLog(), "# SELECT, file: a.skarna, line: 2\nsend 00A4040005A000000151 9000\n\n");
}

TEST_F(CardServiceTest, RefusesAMissingReaderOrLog) {
    EXPECT_EQ(PlainErrorOf([&] { CardService(m_settings, nullptr, m_log, nullptr); }),
              "Карточному сервису не задан считыватель");
    EXPECT_EQ(PlainErrorOf([&] { CardService(m_settings, m_reader, nullptr, nullptr); }),
              "Карточному сервису не задан лог");
}

// ---- secure messaging ------------------------------------------------------

TEST_F(CardServiceTest, SecureRoadSendsThePrintedWrappedCommandAndReturnsThePlainResponse) {
    CardService& service = Make(BaseApduWriter::Ruzo);
    TestSM sm;
    const RApdu plain(Binary("11 22 9000"));
    const RApdu wire = sm.Cover(plain);
    m_reader->QueueAnswer(0x0C, 0xA4, "4B78 9000");
    const RApdu& response = service.Command(Select(), sm, ST_OK);
    EXPECT_EQ(response.data, plain.data);
    EXPECT_EQ(response.GetSW(), 0x9000);
    EXPECT_EQ(wire.data, Binary("4B78"));

    ASSERT_EQ(m_reader->Sent().size(), 1u);
    EXPECT_EQ(m_reader->Sent()[0].cla, 0x0C);
    EXPECT_EQ(m_reader->Sent()[0].data, Binary("FA 5A 5A 5B 0B"));
    EXPECT_EQ(service.GetLastCommand().cla, 0x00);  // the plain command

    // Plain command, wrapped command (secure-messaging printer), wire response,
    // then the plain response.
    bool smCommand = false;
    bool smResponse = false;
    for (const LogRecord& record : m_log->records) {
        if (record.text.rfind(StandardSMPrinter::HeaderLine, 0) == 0) smCommand = record.colour == 2;
        if (record.text == "Response: 2 (0x2)\n4B 78\nStatus: 9000 (Ok)\n" + std::string(32, '~') + "\n") {
            smResponse = record.colour == 2;
        }
    }
    EXPECT_TRUE(smCommand);
    EXPECT_TRUE(smResponse);
    EXPECT_TRUE(Logged("Response: 2 (0x2)\n11 22\nStatus: 9000 (Ok)\n" + Equals + "\n"));
    // The APDU log records the exchange as it went over the wire.
    EXPECT_EQ(ApduLog(), "0C A4 04 00 05\nA4\nFA 5A 5A 5B 0B\n61 02\n00 C0 00 00 02\nC0 4B 78 90 00\n\n");
}

TEST_F(CardServiceTest, SecureRoadDoesNotUncoverAMismatchingWireStatus) {
    CardService& service = Make();
    TestSM sm;
    m_reader->QueueAnswer(0x0C, 0xA4, "1234 6982");
    try {
        service.Command(Select(), sm, ST_OK);
        FAIL() << "no error";
    } catch (const CardException& e) {
        EXPECT_STREQ(e.what(), "Неправильный статус. Ожидался: OK, карта вернула: 6982");
        EXPECT_EQ(e.Response().data, Binary("1234"));
    }
    EXPECT_EQ(sm.uncoverCount, 0);
    EXPECT_EQ(service.GetLastResponse().data, Binary("1234"));
}

TEST_F(CardServiceTest, ProtectedStatusWordAcceptsAnySuccessBeforeUncovering) {
    CardService& service = Make();
    TestSM sm(true);
    // The card says 6A82 inside the protected data; the wire status is 6102.
    m_reader->QueueAnswer(0x0C, 0xA4, "6A82 6102");
    m_reader->QueueAnswer(0x0C, 0xA4, "6A82 9000");
    EXPECT_EQ(service.Command(Select(), sm, ST_ERR).GetSW(), 0x6A82);
    EXPECT_EQ(sm.uncoverCount, 1);
    EXPECT_EQ(CardErrorOf([&] { service.Command(Select(), sm, 0x9000); }),
              "Неправильный статус. Ожидался: 9000, карта вернула: 6A82");
    EXPECT_EQ(sm.uncoverCount, 2);
}

TEST_F(CardServiceTest, ProtectedStatusWordFailingOnTheWireIsNotUncovered) {
    CardService& service = Make();
    TestSM sm(true);
    m_reader->QueueAnswer(0x0C, 0xA4, "6988");
    m_reader->QueueAnswer(0x0C, 0xA4, "6988");
    EXPECT_EQ(CardErrorOf([&] { service.Command(Select(), sm, ST_OK); }),
              "Неправильный статус. Ожидался: OK, карта вернула: 6988");
    // ST_ERR accepts the wire status as it came.
    EXPECT_EQ(service.Command(Select(), sm, ST_ERR).GetSW(), 0x6988);
    EXPECT_EQ(sm.uncoverCount, 0);
}

TEST_F(CardServiceTest, NullSmTakesThePlainRoad) {
    CardService& service = Make();
    NULL_SM none;
    m_reader->QueueAnswer(0x00, 0xA4, "9000");
    service.Command(Select(), none, ST_OK);
    ASSERT_EQ(m_reader->Sent().size(), 1u);
    EXPECT_EQ(m_reader->Sent()[0].Encode(), Select().Encode());
    for (const LogRecord& record : m_log->records) EXPECT_EQ(record.text.find("Secure Messaging"), std::string::npos);
}

// ---- card-OS version -------------------------------------------------------

TEST_F(CardServiceTest, OsVersionIsReadWithGetCardInfo) {
    CardService& service = Make();
    // 16 bytes of card data, then "MORVA_2.50S" padded with zero bytes.
    m_reader->QueueAnswer(0x80, 0x06, "00112233445566778899AABBCCDDEEFF 4D4F5256415F322E353053 0000000000 9000");
    OsInfo info;
    info.OsVersionAutoDetect(service);
    EXPECT_EQ(info.GetText(), "morva_2.50s");
    EXPECT_EQ(info.GetMajor(), 2);
    EXPECT_EQ(info.GetMinor(), 50);
    ASSERT_EQ(m_reader->Sent().size(), 1u);
    EXPECT_EQ(m_reader->Sent()[0].Encode(), Binary("80 06 03 00 20"));
    EXPECT_TRUE(Logged("GET CARD INFO (OS Version)\n"));
}

TEST_F(CardServiceTest, OsVersionDetectionPassesErrors) {
    CardService& service = Make();
    m_reader->QueueAnswer(0x80, 0x06, "6D00");
    m_reader->QueueAnswer(0x80, 0x06, "00112233445566778899AABBCCDDEEFF 4D4F 9000");
    OsInfo info;
    EXPECT_EQ(CardErrorOf([&] { info.OsVersionAutoDetect(service); }),
              "Неправильный статус. Ожидался: OK, карта вернула: 6D00");
    EXPECT_EQ(PlainErrorOf([&] { info.OsVersionAutoDetect(service); }), "Выход за границы массива");
    EXPECT_FALSE(info.IsVersionSet());
}

}  // namespace
}  // namespace ZORVIK
