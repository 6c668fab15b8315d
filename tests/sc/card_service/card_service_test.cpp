#include "sc/card_service/card_service.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <tuple>

#include "sc/card_service/apdu_printer.h"
#include "sc/card_service/apdu_writer.h"
#include "sc/card_service/card_exception.h"
#include "sc/card_service/status_words.h"
#include "service/log/recording_log.h"
#include "support/file_text.h"
#include "support/scripted_reader.h"
#include "support/test_dir.h"
#include "support/test_sm.h"

namespace ZORVIK {
namespace {

using binary::Binary;
using test::TestSM;

const std::string Mismatch = "card: Неправильный статус. Ожидался: ";

SourcePlace Place(const char* file, int32_t line) {
    SourcePlace place;
    place.file = file;
    place.line = line;
    return place;
}

CApdu Select() {
    return CApdu(0x00, 0xA4, 0x04, 0x00, Binary("A0 00 00 01 51"), 0, std::make_shared<StandardPrinter>("SELECT"));
}

// "card: " and the text of a CardException (code 256), the text of any other
// error, or "" when the action throws nothing.
template <class Action>
std::string ErrorOf(Action action) {
    try {
        action();
    } catch (const CardException& e) {
        EXPECT_EQ(e.ErrorCode(), 256);
        return std::string("card: ") + e.what();
    } catch (const Exception& e) {
        return e.what();
    }
    return "";
}

class CardServiceTest : public ::testing::Test {
public:
    // A new service over a new scripted reader (its card powered unless asked
    // otherwise), with an APDU log of the given kind or none.
    CardService& Make(int writerKind = -1, bool powered = true) {
        reader = std::make_shared<test::ScriptedReader>();
        reader->powered = powered;
        log = std::make_shared<test::RecordingLog>();
        apduLogPath = test::TestDir() + std::to_string(++m_services) + ".log";
        std::shared_ptr<BaseApduWriter> writer;
        if (writerKind >= 0) writer = BaseApduWriter::Create(writerKind, apduLogPath, 2);
        service = std::make_unique<CardService>(settings, reader, log, writer);
        return *service;
    }

    bool Logged(const std::string& text) const {
        return std::any_of(log->records.begin(), log->records.end(),
                           [&](const LogRecord& r) { return r.text == text; });
    }

    CardServiceSettings settings;
    std::shared_ptr<test::ScriptedReader> reader;
    std::shared_ptr<test::RecordingLog> log;
    std::string apduLogPath;
    std::unique_ptr<CardService> service;

private:
    int m_services = 0;
};

TEST_F(CardServiceTest, StatusIsMatchedAndAMismatchNamesTheFirstExpectedStatus) {
    const std::tuple<std::vector<uint16_t>, const char*, std::string> cases[] = {
        {{ST_OK}, "0102 61FF", ""},
        {{ST_OK}, "9000", ""},
        {{ST_OK}, "6110", ""},
        {{ST_OK}, "6282", Mismatch + "OK, карта вернула: 6282"},
        {{ST_OK}, "6A82", Mismatch + "OK, карта вернула: 6A82"},
        {{0x6A82, ST_OK}, "9000", ""},
        {{0x6A82, ST_OK}, "6A82", ""},
        {{0x6A82, ST_OK}, "6A80", Mismatch + "6A82, карта вернула: 6A80"},
        {{ST_ERR}, "6282", ""},
        {{ST_ERR}, "6A82", ""},
        {{ST_ERR}, "6120", Mismatch + "ERR, карта вернула: 6120"},
        {{ST_ERR}, "6100", Mismatch + "ERR, карта вернула: 6100"},
        {{ST_ERR}, "9000", Mismatch + "ERR, карта вернула: 9000"},
        {{ST_ANY}, "0000", ""},
        {{ST_ANY}, "6F00", ""},
        {{0x6283}, "6283", ""},
        {{0x6283}, "9000", Mismatch + "6283, карта вернула: 9000"},
        {{0x6A82}, "6A83", Mismatch + "6A82, карта вернула: 6A83"},
        {{}, "9000", "Не задан ожидаемый статус."},  // nothing is sent
    };
    for (const auto& [expected, answer, error] : cases) {
        SCOPED_TRACE(answer);
        CardService& service = Make();
        reader->Queue(0x00, 0xA4, answer);
        const RApdu* response = nullptr;
        EXPECT_EQ(ErrorOf([&] {
                      response = expected.size() == 1 ? &service.Command(Select(), expected[0])
                                                      : &service.Command(Select(), expected);
                  }),
                  error);
        EXPECT_EQ(MatchStatus(expected, RApdu(Binary(answer)).GetSW()), error.empty());
        EXPECT_EQ(response, error.empty() ? &service.GetLastResponse() : nullptr);
        EXPECT_EQ(reader->sent.size(), expected.empty() ? 0u : 1u);  // no GET LAST ERROR without its setting
        EXPECT_EQ(service.GetLastResponse().Encode(), expected.empty() ? Binary("0000") : Binary(answer));
    }  // The expected status as the mismatch names it.
    EXPECT_EQ(ExpectedStatusText(ST_OK) + ExpectedStatusText(ST_ERR) + ExpectedStatusText(ST_ANY) +
                  ExpectedStatusText(0x0A80) + ExpectedStatusText(0),
              "OKERRANY0A800000");
}

TEST_F(CardServiceTest, ErrorsThatAreNotAStatusMismatchKeepTheirOwnText) {
    Make(BaseApduWriter::GP);
    EXPECT_EQ(ErrorOf([&] { CardService(settings, nullptr, log, nullptr); }),
              "Карточному сервису не задан считыватель");
    EXPECT_EQ(ErrorOf([&] { CardService(settings, reader, nullptr, nullptr); }), "Карточному сервису не задан лог");
    TestSM sm;
    EXPECT_EQ(ErrorOf([&] { service->Command(Select(), sm, std::vector<uint16_t>{}); }), "Не задан ожидаемый статус.");
    EXPECT_EQ(sm.wrapCount, 0);
    // The APDU log takes one expected status per command.
    reader->Queue(0x00, 0xA4, "9000");
    EXPECT_EQ(ErrorOf([&] { service->Command(Select(), {ST_OK, 0x6A82}); }), "Список статусов не поддерживается.");
    EXPECT_EQ(reader->sent.size(), 1u);  // refused after the exchange
    EXPECT_EQ(service->GetLastResponse().GetSW(), 0x9000);
    // The card refuses to randomise its RAM.
    settings.randomize_ram = true;
    const std::pair<const char*, const char*> wafer[] = {
        {"6D00", "Текущая сборка ОС не поддерживает команду рандомизации RAM (Wafer)"},
        {"6300",
         "Команда рандомизации RAM (Wafer) может быть подана только на конструкторе, в контактном "
         "интерфейсе, по протоколу T0"},
        {"6A82", "Неправильный статус"},
    };
    for (const auto& [status, message] : wafer) {
        Make();
        reader->Queue(0x80, 0x80, status);
        EXPECT_EQ(ErrorOf([&] { service->PowerOn(); }), message) << status;
    }
}

constexpr std::array<ErrorCatalogueRow, 1> MorvaRows{{{0x0305, "EX_LO_CORE__WRONG_LIFE_PHASE", "Неверная фаза"}}};
constexpr std::array<ErrorCatalogueGroup, 1> Catalogue{{{"morva", MorvaRows}}};

class GetLastErrorTest : public CardServiceTest {
protected:
    GetLastErrorTest() : m_previousCatalogue(GetErrorCatalogue()) {
        SetErrorCatalogue(Catalogue);
        settings.get_last_error = true;
    }
    ~GetLastErrorTest() override { SetErrorCatalogue(m_previousCatalogue); }

    ErrorCatalogue m_previousCatalogue;
};

TEST_F(GetLastErrorTest, ErrorCodeAssertionOrItsOwnFailureIsAddedToTheMismatch) {
    const std::string Failure = Mismatch + "OK, карта вернула: 6A82.\n";
    const std::string WrongSize = Failure + "Некорректный размер ответа в GET LAST ERROR";
    // The card's answer to GET LAST ERROR (none: the reader fails), and the failure text.
    const std::pair<const char*, std::string> cases[] = {
        // Looked up for the card's product.
        {"0305 9000", Failure + "Код исключения: 0305 (EX_LO_CORE__WRONG_LIFE_PHASE - Неверная фаза)"},
        {"7777 9000", Failure + "Код исключения: 7777"},
        // Code 0102, line 0x0111 = 273, place "fs.c".
        {"0102 0111 66732E63 9000", Failure + "Assert 0102.\nМесто возникновения на карте:\nfs.c (273)"},
        // A zero ends the place; what follows it is not shown.
        {"0102 0111 66732E63 00 FFFF 9000", Failure + "Assert 0102.\nМесто возникновения на карте:\nfs.c (273)"},
        // A card that does not know GET LAST ERROR keeps the mismatch and its exception.
        {"6D00", Failure + "GET LAST ERROR не отработал"},
        {"9000", WrongSize},
        {"01 9000", WrongSize},
        {"010203 9000", WrongSize},
        {"01020304 9000", WrongSize},
        {nullptr, Failure + "ScriptedReader: no answer queued for CLA 80 INS FE"},
        // A place text that would set the window title and clear the screen is shown escaped.
        {"0102 0111 1B5D303B7407 1B5B324A 9000",
         Failure + "Assert 0102.\nМесто возникновения на карте:\n\\x1B]0;t\\x07\\x1B[2J (273)"},
        // So is CSI as the C1 control U+009B in UTF-8 (C2 9B), while the Cyrillic "Место " stays.
        {"0102 0111 D09CD0B5D181D182D0BE20 C29B324A 9000",
         Failure + "Assert 0102.\nМесто возникновения на карте:\nМесто \\xC2\\x9B2J (273)"},
    };
    for (const auto& [answer, error] : cases) {
        SCOPED_TRACE(answer != nullptr ? answer : "reader error");
        CardService& service = Make();
        service.SetOsInfo(OsInfo("MORVA_1.92_S"));
        reader->Queue(0x00, 0xA4, "6A82");
        if (answer != nullptr) reader->Queue(0x80, 0xFE, answer);
        EXPECT_EQ(ErrorOf([&] { service.Command(Select(), ST_OK); }), error);
        ASSERT_EQ(reader->sent.size(), 2u);
        EXPECT_EQ(reader->sent[1].Encode(), Binary("80 FE 00 00 00"));
        EXPECT_FALSE(Logged("GET LAST ERROR\n"));  // nothing of GET LAST ERROR is printed
    }
    // A success status the caller did not expect needs no explanation from the card.
    CardService& service = Make();
    reader->Queue(0x00, 0xA4, "9000");
    EXPECT_EQ(ErrorOf([&] { service.Command(Select(), ST_ERR); }), Mismatch + "ERR, карта вернула: 9000");
    EXPECT_EQ(reader->sent.size(), 1u);
}

// A card that does not know GET LAST ERROR: the mismatch keeps its own exception,
// with the expected and actual status and the last command.
TEST_F(GetLastErrorTest, MismatchKeepsItsExceptionWhenGetLastErrorFails) {
    CardService& service = Make();
    reader->Queue(0x00, 0xA4, "6A82");
    reader->Queue(0x80, 0xFE, "6D00");
    try {
        service.Command(Select(), ST_OK);
        ADD_FAILURE() << "no error";
    } catch (const CardException& e) {
        EXPECT_EQ(e.ErrorCode(), 256);
        EXPECT_STREQ(e.what(), "Неправильный статус. Ожидался: OK, карта вернула: 6A82.\nGET LAST ERROR не отработал");
        EXPECT_EQ(e.Command().Encode(), Select().Encode());
        EXPECT_EQ(e.Response().GetSW(), 0x6A82);
    }
    EXPECT_EQ(service.GetLastResponse().GetSW(), 0x6A82);
    EXPECT_EQ(service.GetLastCommand().Encode(), Select().Encode());
}

TEST_F(CardServiceTest, CardExceptionFullMessageEndsWithTheLastExchange) {
    CardService& service = Make();
    reader->Queue(0x00, 0xA4, "6A82");
    try {
        service.Command(Select(), ST_OK);
        FAIL() << "no error";
    } catch (const CardException& e) {
        EXPECT_STREQ(e.Name(), "CardException");
        EXPECT_EQ(e.Response().GetSW(), 0x6A82);
        EXPECT_EQ(e.Command().data, Binary("A0 00 00 01 51"));
        const std::string expected =
            "Ошибка (CardException). Неправильный статус. Ожидался: OK, карта вернула: 6A82\n"
            "Последняя команда:\nSELECT\nCLA  INS   P1   P2     Ne\n 00   A4   04   00     0  (0x0)\n"
            "Data: 5 (0x5)\nA0 00 00 01 51\nStatus: 6A82\n\n";
        EXPECT_EQ(e.FullMessage(), expected);
        EXPECT_EQ(e.Clone()->FullMessage(), expected);
        EXPECT_EQ(e.Clone()->ErrorCode(), 256);
    }
    // Without a printer the exchange starts with the header.
    const CardException bare("text", SourcePlace(), CApdu(0x80, 0xCA, 0x00, 0x00), RApdu(Binary("6D00")));
    EXPECT_EQ(bare.FullMessage(),
              "Ошибка (CardException). text\nПоследняя команда:\n"
              "CLA  INS   P1   P2     Ne\n 80   CA   00   00     0  (0x0)\nStatus: 6D00\n\n");
}

// force_extended_apdu sends every command, plain or wrapped, in the extended
// length form; the caller's command stays as it was.
TEST_F(CardServiceTest, ForceExtendedSendsEveryCommandExtended) {
    settings.force_extended_apdu = true;
    CardService& service = Make();
    reader->Queue(0x00, 0xA4, "9000");
    reader->Queue(0x0C, 0xA4, "9000");
    const CApdu command = Select();
    service.Command(command, ST_OK);
    EXPECT_FALSE(command.extended);
    EXPECT_TRUE(service.GetLastCommand().extended);
    TestSM sm;
    service.Command(command, sm, ST_OK);
    ASSERT_EQ(reader->sent.size(), 2u);
    EXPECT_EQ(reader->sent[0].Encode(), Binary("00 A4 04 00 00 00 05 A0 00 00 01 51"));
    EXPECT_EQ(reader->sent[1].Encode(), Binary("0C A4 04 00 00 00 05 FA 5A 5A 5B 0B"));
    // Without the setting the command goes in its natural form.
    settings.force_extended_apdu = false;
    CardService& natural = Make();
    reader->Queue(0x00, 0xA4, "9000");
    natural.Command(command, ST_OK);
    EXPECT_FALSE(natural.GetLastCommand().extended);
    EXPECT_EQ(reader->sent.at(0).Encode(), Binary("00 A4 04 00 05 A0 00 00 01 51"));
}

TEST_F(CardServiceTest, PowerAndResetFollowTheSettings) {
    using S = CardServiceSettings;
    using C = CardService;
    const int skarna = BaseApduWriter::Skarna;
    const char* const wafer = "\n; WAFER (mode = 2), \ni 80 80 02 00 | ANY\n\non\n";
    const struct {
        bool S::*setting;  // switched on
        int writer;
        bool powered;  // before the action
        void (C::*action)();
        std::vector<std::string> events;  // of the reader
        const char* logged;
        const char* apduLog;
    } cases[] = {
        {nullptr, skarna, false, &C::PowerOn, {"on"}, "ATR: 3B 02 14 50\n\n", "\non\n"},
        {nullptr, skarna, true, &C::Reset, {"reset"}, "Reset\n", "\nreset\n"},
        {&S::cold_reset_always, skarna, true, &C::Reset, {"off", "on"}, "Power on\n", "\noff\n\non\n"},
        {nullptr, BaseApduWriter::Ruzo, true, &C::ColdReset, {"off", "on"}, "Power off\n\n", "off\non\n"},
        // Start and Finish power on and off only when asked.
        {nullptr, -1, false, &C::Start, {}, nullptr, ""},
        {&S::power_on, -1, false, &C::Start, {"on"}, "Power on\n", ""},
        {nullptr, -1, true, &C::Finish, {}, nullptr, ""},
        {&S::power_off, -1, true, &C::Finish, {"off"}, "Power off\n\n", ""},
        // WAFER on a power cycle of its own: the command goes to the APDU log, the power cycle does not.
        {&S::randomize_ram, skarna, false, &C::PowerOn, {"on", "cmd", "off", "on"}, "WAFER (mode = 2)\n", wafer},
        // The reader's name starts the line that the next record continues.
        {&S::output_reader_name, -1, false, &C::PowerOn, {"on"}, "[Reader: ACS ACR38U 00]", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(&c - cases);
        settings = CardServiceSettings();
        settings.readerName = "ACS ACR38U 00";
        if (c.setting) settings.*c.setting = true;
        CardService& service = Make(c.writer, c.powered);
        reader->Queue(0x80, 0x80, "9000");
        (service.*c.action)();
        EXPECT_EQ(reader->events, c.events);
        EXPECT_TRUE(c.logged == nullptr || Logged(c.logged));
        if (c.setting == &S::randomize_ram) {
            EXPECT_TRUE(Logged("Power off\n"));  // the end of the WAFER power cycle
        }
        EXPECT_EQ(test::ReadFile(apduLogPath), c.apduLog);
        // The reader's name only when asked; the answer to reset at level 2, that of the
        // WAFER power cycle at level 3.
        int atrLevels[4] = {};
        for (const LogRecord& r : log->records) {
            EXPECT_TRUE(c.setting == &S::output_reader_name || r.text.rfind("[Reader:", 0) != 0) << r.text;
            if (r.text.rfind("ATR: ", 0) == 0 && r.level >= 0 && r.level < 4) ++atrLevels[r.level];
        }
        if (c.action == &C::PowerOn) {
            EXPECT_EQ(atrLevels[2], 1);
            EXPECT_EQ(atrLevels[3], c.setting == &S::randomize_ram ? 1 : 0);
        }
    }
    EXPECT_EQ(log->records.at(0).colour, 2);
    EXPECT_EQ(log->records.at(0).level, 3);
    EXPECT_EQ(log->records.at(1).text, "Power on\n");
    EXPECT_EQ(service->GetReaderName(), "ACS ACR38U 00");
    // A reset of a card that is not powered passes the reader's error.
    Make(-1, false);
    try {
        service->Reset();
        ADD_FAILURE() << "no error";
    } catch (const CardDrvException& e) {
        EXPECT_EQ(e.ErrorCode(), CardDrvError::NoCard);
    }
}

// A PC/SC reader names itself and a script names its commands: both are shown
// with their control bytes escaped, and the reader keeps its name as it is.
TEST_F(CardServiceTest, ReaderAndCommandNamesAreShownEscaped) {
    const std::string readerName =
        "USB \x1B]0;x\x07 \xC2\x9B"
        "2J 00 00";
    settings.readerName = readerName;
    settings.output_reader_name = true;
    CardService& service = Make();
    reader->Queue(0x00, 0xA4, "9000");
    reader->Queue(0x00, 0xA4, "6A82");
    service.PowerOn();
    const CApdu named(0x00, 0xA4, 0x00, 0x0C, Binary("3F00"), 0,
                      std::make_shared<StandardPrinter>("MF\xC2\x85\x1B[31m"));
    service.Command(named, ST_OK);
    try {  // and in the last exchange of a card exception
        service.Command(named, ST_OK);
        ADD_FAILURE() << "no error";
    } catch (const CardException& e) {
        EXPECT_TRUE(test::Contains(e.FullMessage(), "\nПоследняя команда:\nMF\\xC2\\x85\\x1B[31m\n"))
            << e.FullMessage();
    }
    EXPECT_EQ(log->records.at(0).text, "[Reader: USB \\x1B]0;x\\x07 \\xC2\\x9B2J 00 00]");
    EXPECT_TRUE(Logged("MF\\xC2\\x85\\x1B[31m\n"));
    for (const LogRecord& r : log->records) {
        EXPECT_FALSE(test::Contains(r.text, "\x1B") || test::Contains(r.text, "\xC2\x9B")) << r.text;
    }
    EXPECT_EQ(service.GetReaderName(), readerName);
}

TEST_F(CardServiceTest, ExchangesArePrintedWithTheScriptPlaceAndTimed) {
    settings.time_profiling = true;
    settings.output_reader_name = true;
    CardService& service = Make();
    for (int i = 0; i < 4; ++i) reader->Queue(0x00, 0xA4, "9000");
    service.SetPlace(Place("../../scripts/perso.skarna", 12)).Command(Select(), 0x9000);
    service.SetPlace(Place("..\\old\\perso.skarna", 3)).Command(Select(), ST_OK);
    service.SetPlace(Place("perso.skarna", 4)).Command(Select(), ST_OK);
    for (const char* place : {"[scripts/perso.skarna(12)]\n", "[old\\perso.skarna(3)]\n", "[perso.skarna(4)]\n"})
        EXPECT_TRUE(Logged(place)) << place;
    EXPECT_EQ(log->records.at(0).text, "[Reader: ]");
    int timed = 0;  // each exchange at level 1, in ms and in ticks (ns)
    for (const LogRecord& r : log->records) {
        timed +=
            r.level == 1 && r.text.rfind("Время обработки APDU: 0 ms (", 0) == 0 && test::Contains(r.text, " ticks)\n");
    }
    EXPECT_EQ(timed, 3);
    // Without time_profiling no exchange is timed.
    settings.time_profiling = false;
    CardService& untimed = Make();
    for (int i = 0; i < 2; ++i) reader->Queue(0x00, 0xA4, "9000");
    untimed.Command(Select(), ST_ANY);
    EXPECT_TRUE(
        std::none_of(log->records.begin(), log->records.end(), [](const LogRecord& r) { return r.level == 1; }));
    // The status text is that of the command's class: GSM 11.11 for A0.
    reader->Queue(0xA0, 0xA4, "9404");
    untimed.Command(CApdu(0xA0, 0xA4, 0x00, 0x00, Binary("3F00")), ST_ANY);
    EXPECT_TRUE(Logged("Status: 9404 (File ID or pattern not found)\n" + std::string(64, '=') + "\n"));
    // Nothing is printed when the chain lets nothing of level 3 through.
    log->records.clear();
    CardService quiet(settings, reader, std::make_shared<ImportanceFilter>(4, log), nullptr);
    quiet.Command(Select(), ST_ANY);
    EXPECT_TRUE(log->records.empty());
}

// The exchange reaches the APDU log with the script place; an exchange the reader
// fails reaches neither the log nor a status check, and the reader's error passes.
TEST_F(CardServiceTest, ExchangeGoesToTheApduLogWithThePlace) {
    CardService& service = Make(BaseApduWriter::JCShell);
    reader->Queue(0x00, 0xA4, "9000");
    service.SetPlace(Place("a.skarna", 2)).Command(Select(), 0x9000);
    EXPECT_EQ(test::ReadFile(apduLogPath), "# SELECT, file: a.skarna, line: 2\nsend 00A4040005A000000151 9000\n\n");
    // A status mismatch is logged too, before it is raised.
    reader->Queue(0x00, 0xA4, "6A82");
    EXPECT_EQ(ErrorOf([&] { service.SetPlace(Place("a.skarna", 3)).Command(Select(), 0x9000); }),
              Mismatch + "9000, карта вернула: 6A82");
    EXPECT_TRUE(test::Contains(test::ReadFile(apduLogPath), "line: 3\nsend 00A4040005A000000151 9000\n\n"));
    CardService& unpowered = Make(BaseApduWriter::Skarna, false);
    EXPECT_EQ(ErrorOf([&] { unpowered.Command(CApdu(0x00, 0xA4, 0x00, 0x0C, Binary("3F00")), ST_ANY); }),
              "No Card in Reader or Card is Powered Off");
    EXPECT_EQ(test::ReadFile(apduLogPath), "");
}

// The secure road prints the plain command, then the wrapped one with the
// secure-messaging printer, the wire response and the plain response; the APDU
// log gets the exchange as it went over the wire; the caller keeps the plain command.
TEST_F(CardServiceTest, SecureRoadSendsThePrintedWrappedCommandAndReturnsThePlainResponse) {
    CardService& service = Make(BaseApduWriter::Ruzo);
    TestSM sm;
    reader->Queue(0x0C, 0xA4, "4B78 9000");
    EXPECT_EQ(service.Command(Select(), sm, ST_OK).Encode(), Binary("11 22 90 00"));
    ASSERT_EQ(reader->sent.size(), 1u);
    EXPECT_EQ(reader->sent[0].Encode(), Binary("0C A4 04 00 05 FA 5A 5A 5B 0B"));
    EXPECT_EQ(service.GetLastCommand().Encode(), Select().Encode());
    std::string printed;
    for (const LogRecord& r : log->records) printed += std::to_string(r.colour) + " " + r.text;
    const std::string select =
        "CLA  INS   P1   P2     Ne\n 00   A4   04   00     0  (0x0)\nData: 5 (0x5)\nA0 00 00 01 51\n";
    EXPECT_EQ(printed, "3 SELECT\n7 " + select +
                           "2 ~~~~~~~ Secure Messaging ~~~~~~~\nCLA  INS   P1   P2     Ne\n"
                           " 0C   A4   04   00     0  (0x0)\nData: 5 (0x5)\nFA 5A 5A 5B 0B\n"
                           "2 Response: 2 (0x2)\n4B 78\nStatus: 9000 (Ok)\n" +
                           std::string(32, '~') +
                           "\n"
                           "7 Response: 2 (0x2)\n11 22\nStatus: 9000 (Ok)\n" +
                           std::string(64, '=') + "\n");
    EXPECT_EQ(test::ReadFile(apduLogPath),
              "0C A4 04 00 05\nA4\nFA 5A 5A 5B 0B\n61 02\n00 C0 00 00 02\nC0 4B 78 90 00\n\n");
    // NULL_SM takes the plain road: the command unwrapped, no secure-messaging lines.
    CardService& plain = Make();
    NULL_SM none;
    reader->Queue(0x00, 0xA4, "9000");
    plain.Command(Select(), none, ST_OK);
    ASSERT_EQ(reader->sent.size(), 1u);
    EXPECT_EQ(reader->sent[0].Encode(), Select().Encode());
    for (const LogRecord& r : log->records) EXPECT_FALSE(test::Contains(r.text, "Secure Messaging")) << r.text;
}

TEST_F(CardServiceTest, SecureRoadChecksTheWireStatusOrUncoversAProtectedOne) {
    // Whether the status word is protected, the wire answer, the status expected, the error, what the caller sees,
    // and whether the answer was uncovered.
    const std::tuple<bool, const char*, uint16_t, std::string, const char*, int> cases[] = {
        {false, "4B78 9000", ST_OK, "", "1122 9000", 1},
        {false, "1234 6982", ST_OK, Mismatch + "OK, карта вернула: 6982", "1234 6982", 0},  // not uncovered
        // Protected: any success on the wire, the real status inside.
        {true, "6A82 6102", ST_ERR, "", "6A82", 1},
        {true, "6A82 9000", 0x9000, Mismatch + "9000, карта вернула: 6A82", "6A82", 1},
        {true, "6988", ST_OK, Mismatch + "OK, карта вернула: 6988", "6988", 0},
        {true, "6988", ST_ERR, "", "6988", 0},  // ST_ERR takes the wire status as it came
    };
    for (const auto& [statusProtected, wire, expected, error, response, uncovered] : cases) {
        SCOPED_TRACE(wire);
        CardService& service = Make();
        TestSM sm(statusProtected);
        reader->Queue(0x0C, 0xA4, wire);
        EXPECT_EQ(ErrorOf([&] { service.Command(Select(), sm, expected); }), error);
        EXPECT_EQ(service.GetLastResponse().Encode(), Binary(response));
        EXPECT_EQ(sm.uncoverCount, uncovered);
    }
}

// GET CARD INFO: 32 bytes, the version text in bytes 16 to 31 padded with zero bytes.
TEST_F(CardServiceTest, OsVersionIsReadWithGetCardInfo) {
    CardService& service = Make();
    reader->Queue(0x80, 0x06, "00112233445566778899AABBCCDDEEFF 4D4F5256415F322E353053 0000000000 9000");
    OsInfo info;
    info.OsVersionAutoDetect(service);
    EXPECT_EQ(info.GetText(), "morva_2.50s");
    EXPECT_EQ(info.GetMajor(), 2);
    EXPECT_EQ(info.GetMinor(), 50);
    ASSERT_EQ(reader->sent.size(), 1u);
    EXPECT_EQ(reader->sent[0].Encode(), Binary("80 06 03 00 20"));
    EXPECT_TRUE(Logged("GET CARD INFO (OS Version)\n"));
    // The card's refusal and an answer too short for the version pass as errors.
    reader->Queue(0x80, 0x06, "6D00");
    reader->Queue(0x80, 0x06, "00112233445566778899AABBCCDDEEFF 4D4F 9000");
    OsInfo failed;
    EXPECT_EQ(ErrorOf([&] { failed.OsVersionAutoDetect(service); }), Mismatch + "OK, карта вернула: 6D00");
    EXPECT_EQ(ErrorOf([&] { failed.OsVersionAutoDetect(service); }), "Выход за границы массива");
    EXPECT_FALSE(failed.IsVersionSet());
}

}  // namespace
}  // namespace ZORVIK
