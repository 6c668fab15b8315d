// Reader selection: explicit names, PC/SC numbers, the in-use refusal and the
// automatic and interactive choice among the candidates, over a stand-in for
// the machine; and the menu key read from a pseudo-terminal as the console.
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "sc/card_service/card_service.h"
#include "sc/qxw/card_service_factory.h"
#include "service/common/exception.h"
#include "service/log/recording_log.h"
#include "service/program_settings/settings_database.h"
#include "support/error_text.h"
#include "support/loopback_server.h"
#include "support/serial_reader_emulator.h"

namespace ZORVIK {
namespace {

using test::MessageOf;
using Names = std::vector<std::string>;

class ReaderSelection : public ::testing::Test {
protected:
    ReaderSelection() { m_settings.AddSetting("disable_user_input", "0", Set); }

    // A factory whose questions to the machine are answered from the members and recorded.
    CardServiceFactory& Factory(bool withConsole = true) {
        ReaderDiscovery discovery;
        discovery.listPcscReaders = [this](bool withCard) {
            return withCard ? m_withCard[std::min(m_listings++, m_withCard.size() - 1)] : m_all;
        };
        discovery.probeSerialReader = [this](const std::string& port) { return Probed(port, m_serialReader); };
        discovery.probeDerimServer = [this](const std::string& host, uint16_t port) {
            return Probed(host + ":" + std::to_string(port), m_derimServer);
        };
        discovery.simulatedCardAvailable = [this] { return m_simulatedCard; };
        discovery.readMenuKey = [this](const std::string& allowed) {
            m_allowed.push_back(allowed);
            if (m_keys.empty()) throw Exception("the menu asked for more keys than the test pressed", SourcePlace());
            const char key = m_keys.front();
            m_keys.erase(0, 1);
            return key;
        };
        m_factory = std::make_unique<CardServiceFactory>(withConsole ? m_console : nullptr, discovery);
        return *m_factory;
    }
    bool Probed(const std::string& where, bool answer) {
        m_probed.push_back(where);
        return answer;
    }
    std::string Choose(const std::string& setting, const std::string& group = "reader") {
        return Factory().GetReaderName(group, setting, m_settings);
    }

    // The machine: PC/SC readers with a card (one list per listing, the last repeats), all of them, the virtual ones.
    std::vector<Names> m_withCard{{}};
    Names m_all;
    bool m_simulatedCard = false, m_serialReader = false, m_derimServer = false;
    std::string m_keys;  // pressed in order
    Names m_allowed, m_probed;
    size_t m_listings = 0;

    SettingsDatabase m_settings;
    std::shared_ptr<test::RecordingLog> m_console = std::make_shared<test::RecordingLog>();
    std::unique_ptr<CardServiceFactory> m_factory;
};

// Names are taken as written, a hash sign and a digit counts all PC/SC readers,
// one candidate is taken silently ("#PCSC" never looks at the virtual readers),
// none or several are errors when the menu cannot talk.
TEST_F(ReaderSelection, WithoutAMenuNamesNumbersAndTheOneCandidate) {
    for (const char* name : {"#A", "#OSM", "SCTL VSCR 0"}) EXPECT_EQ(Choose(name), name);
    EXPECT_EQ(m_listings, 0u);  // a name is taken without looking at the machine
    m_all = {"Reader A 0", "Reader B 1"};
    m_withCard = {{"Virtual PCD 00 00"}};
    m_simulatedCard = m_derimServer = true;
    EXPECT_EQ(Choose("#0"), "Reader A 0");
    EXPECT_EQ(Choose("#1x"), "Reader B 1");  // only the digit after the hash sign counts
    EXPECT_EQ(MessageOf([&] { Choose("#3"); }), "Считка с указанным номером 3 не подключена");
    EXPECT_EQ(Choose("#PCSC"), "Virtual PCD 00 00");
    EXPECT_TRUE(m_probed.empty() && m_allowed.empty());
    m_withCard = {{"Reader A 0", "Reader B 1"}};
    EXPECT_EQ(MessageOf([&] { Factory(false).GetReaderName("reader", "#PCSC", m_settings); }),
              "Подключено более одной считки");  // without a console log
    m_settings.AddSetting("disable_user_input", "1", Set);
    EXPECT_EQ(MessageOf([&] { Choose("#PCSC"); }), "Подключено более одной считки");
    m_withCard = {{}};
    EXPECT_EQ(MessageOf([&] { Choose("#PCSC"); }), "Ни одной считки не подключено");
    // The probe of the network reader looks where the plain settings point, at a TCP port.
    m_settings.AddSetting("derimdirect_port", "70000", Set);
    EXPECT_EQ(MessageOf([&] { Choose("#?"); }),
              "Значение настройки \"derimdirect_port\" = 70000 не является номером TCP-порта (1..65535)");
    m_all.resize(9, "Reader");  // nine readers are still listed
    m_withCard = {{}};
    EXPECT_EQ(Choose("#8"), "Reader");
    m_all.resize(10, "Reader");  // more than nine readers
    m_withCard = {m_all};
    for (const char* setting : {"#0", "#PCSC"})
        EXPECT_EQ(MessageOf([&] { Choose(setting); }), "Количество считок > 9 пока не поддержано");
    EXPECT_TRUE(m_console->records.empty());
    // The flag that lets the menu talk is mandatory.
    m_withCard = {{}};
    SettingsDatabase empty;
    EXPECT_EQ(MessageOf([&] { Factory().GetReaderName("reader", "#?", empty); }),
              "Не задана обязательная настройка \"disable_user_input\"");
}

// A single virtual candidate is taken silently; the probes look where the plain
// (unprefixed) settings point, by default the port CNCB0 and the local port 50000.
TEST_F(ReaderSelection, QuestionMarkProbesTheVirtualReadersWhereThePlainSettingsPoint) {
    m_simulatedCard = true;
    EXPECT_EQ(Choose("#?"), "#OSM");
    EXPECT_TRUE(m_console->records.empty() && m_allowed.empty());
    EXPECT_EQ(m_probed, (Names{"CNCB0", "127.0.0.1:50000"}));
    m_settings.AddSetting("VPORT", "/dev/ttyS7", Set);
    m_settings.AddSetting("derimdirect_hostname", "::1", Set);
    m_settings.AddSetting("derimdirect_port", "4711", Set);
    m_settings.AddSetting("reader2.vport", "/dev/ttyS9", Set);
    m_simulatedCard = false;
    m_serialReader = true;
    m_probed.clear();
    EXPECT_EQ(Choose("#?", "reader2"), "#SIM");
    EXPECT_EQ(m_probed, (Names{"/dev/ttyS7", "::1:4711"}));
}

TEST_F(ReaderSelection, MenuOfVirtualReadersOnly) {
    m_simulatedCard = m_serialReader = m_derimServer = true;
    m_keys = "v";
    EXPECT_EQ(Choose("#?", "reader2"), "#DERIMDIRECT");
    EXPECT_EQ(m_allowed, Names{"rRqQmsv"});
    Names texts;
    for (const LogRecord& record : m_console->records) texts.push_back(record.text);
    EXPECT_EQ(texts, (Names{"\nИнтерактивный выбор \"reader2\" из списка доступных:\n\n",
                            "------------- Виртуальные ридеры ----------\n", "m - OSM\n", "s - Simulator\n",
                            "v - Derim Direct\n",
                            "\nВыберите ридер, нажав соответствующую клавишу. r - обновить список, q - выход\n",
                            "Выбран reader2 = #DERIMDIRECT\n"}));
    m_console->records.clear();
    m_keys = "m";
    EXPECT_EQ(Choose("#?"), "#OSM");
    m_keys = "s";
    EXPECT_EQ(Choose("#?"), "#SIM");
}

// q or Q ends the program at once with exit code 0, from the menu and from the request for a card.
TEST_F(ReaderSelection, QuitFromTheMenuEndsTheProgramWithCodeZero) {
    m_withCard = {{"Reader A 0", "Reader B 1"}};
    m_keys = "Q";
    EXPECT_EXIT(Choose("#PCSC"), ::testing::ExitedWithCode(0), "");
    m_withCard = {{}};
    m_keys = "q";
    EXPECT_EXIT(Choose("#?"), ::testing::ExitedWithCode(0), "");
}

TEST_F(ReaderSelection, MenuOffersPcscDigitsAndVirtualLettersRefreshesOnRAndWaitsForACard) {
    m_withCard = {{"Reader A 0"}, {"Reader A 0", "Reader B 1"}};
    m_simulatedCard = m_serialReader = m_derimServer = true;
    m_keys = "r1";
    EXPECT_EQ(Choose("#?"), "Reader B 1");
    EXPECT_EQ(m_allowed, (Names{"rRqQ0msv", "rRqQ01msv"}));
    const Names menu = {
        "\nИнтерактивный выбор \"reader\" из списка доступных:\n\n",
        "------------- PCSC-ридеры -----------------\n",
        "0 - Reader A 0\n",
        "1 - Reader B 1\n",
        "------------- Виртуальные ридеры ----------\n",
        "m - OSM\n",
        "s - Simulator\n",
        "v - Derim Direct\n",
        "\nВыберите ридер, нажав соответствующую клавишу. r - обновить список, q - выход\n",
        "Выбран reader = Reader B 1\n",
    };
    const std::vector<int32_t> colours = {11, 8, 7, 7, 8, 7, 7, 7, 14, 7};
    const std::vector<LogRecord>& records = m_console->records;
    ASSERT_EQ(records.size(), 8u + menu.size());  // the first menu had one reader less
    for (size_t i = 0; i < menu.size(); ++i) {
        EXPECT_EQ(records[8 + i].text, menu[i]) << i;
        EXPECT_EQ(records[8 + i].colour, colours[i]) << i;
        EXPECT_EQ(records[8 + i].level, 7);
    }
    // With no candidate at all the menu asks for a card and lists again on Enter.
    m_simulatedCard = m_serialReader = m_derimServer = false;
    m_withCard = {{}, {"Reader A 0"}};
    m_listings = 0;
    m_keys = "\n";
    EXPECT_EQ(Choose("#PCSC"), "Reader A 0");
    EXPECT_EQ(m_allowed.back(), "qQ\n");
    EXPECT_EQ(records.back().text, "Вставьте карту и нажмите Enter. q - выход\n");
    EXPECT_EQ(records.back().colour, 14);
}

// A USB reader names itself: the menu shows the names with their control bytes
// escaped (ESC and the C1 CSI in UTF-8), and the choice is the name as PC/SC gave it.
TEST_F(ReaderSelection, MenuShowsReaderNamesEscapedAndChoosesThemAsListed) {
    const std::string hostile =
        "USB \x1B]0;x\x07\xC2\x9B"
        "2J Считка 00 01";
    m_withCard = {{"Reader A 0", hostile}};
    m_keys = "1";
    EXPECT_EQ(Choose("#PCSC"), hostile);
    Names texts;
    for (const LogRecord& record : m_console->records) texts.push_back(record.text);
    const std::string shown = "USB \\x1B]0;x\\x07\\xC2\\x9B2J Считка 00 01";
    EXPECT_EQ(texts.at(3), "1 - " + shown + "\n");
    EXPECT_EQ(texts.back(), "Выбран reader = " + shown + "\n");
    // Taken silently as the one candidate, or by number, it stays as listed too.
    m_withCard = {{hostile}};
    EXPECT_EQ(Choose("#PCSC", "reader2"), hostile);
    m_all = {hostile};
    EXPECT_EQ(Choose("#0", "reader3"), hostile);
}

// Two groups over the simulated card: the second cannot take it until the first
// lets it go, and the choice leaves it out.
TEST_F(ReaderSelection, ReaderInUseIsRefusedAndLeftOutOfTheChoice) {
    for (const char* key : {"reader", "reader2"}) m_settings.AddSetting(key, "#OSM", Set);
    m_settings.AddSetting("power_on", "0", Set);
    m_simulatedCard = m_derimServer = true;
    CardServiceFactory& factory = Factory();
    std::shared_ptr<CardService> first = factory.CreateCardService(m_settings, "reader", m_console);
    EXPECT_FALSE(factory.IsReaderFree("#OSM"));
    EXPECT_TRUE(factory.IsReaderFree("#osm"));
    EXPECT_EQ(MessageOf([&] { factory.CreateCardService(m_settings, "reader2", m_console); }),
              "Попытка выбрать reader2 = #OSM, который уже используется");
    EXPECT_EQ(factory.GetReaderName("reader2", "#?", m_settings), "#DERIMDIRECT");  // the one left, unasked
    first.reset();
    EXPECT_TRUE(factory.IsReaderFree("#OSM"));
    EXPECT_NE(factory.CreateCardService(m_settings, "reader2", m_console), nullptr);
}

// The selection with the machine's own probes: a serial reader device on a
// pseudo-terminal, and no direct-network server.
TEST_F(ReaderSelection, SystemProbesFindTheSerialReader) {
    test::SerialReaderEmulator device([](const CApdu&) { return RApdu(binary::Binary("9000")); }, {});
    for (const char* key : {"reader", "reader2"}) m_settings.AddSetting(key, "#OSM", Set);
    m_settings.AddSetting("power_on", "0", Set);
    m_settings.AddSetting("VPORT", device.PortPath(), Set);
    m_settings.AddSetting("derimdirect_port", std::to_string(test::UnusedLoopbackPort()), Set);
    // The machine's probes, but no PC/SC service: the pcsc-lite client binds to
    // its daemon at the first call, which belongs to the PC/SC tests.
    ReaderDiscovery discovery = ReaderDiscovery::System();
    discovery.listPcscReaders = [](bool) { return Names(); };
    CardServiceFactory factory(m_console, discovery);
    const std::shared_ptr<CardService> first = factory.CreateCardService(m_settings, "reader", m_console);
    // With "#OSM" in use the serial reader is the one candidate.
    EXPECT_EQ(factory.GetReaderName("reader2", "#?", m_settings), "#SIM");
}

// Standard input is the slave side of a fresh pseudo-terminal while it lives.
class PseudoTerminalInput : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(::openpty(&m_master, &m_slave, nullptr, nullptr, nullptr), 0);
        m_savedStdin = ::dup(STDIN_FILENO);
        ::dup2(m_slave, STDIN_FILENO);
        ::tcgetattr(m_slave, &m_mode);
    }
    void TearDown() override {
        ::dup2(m_savedStdin, STDIN_FILENO);
        for (const int fd : {m_savedStdin, m_slave, m_master}) ::close(fd);
    }

    int m_master = -1, m_slave = -1, m_savedStdin = -1;
    termios m_mode{};
};

// Keys outside the allowed ones are skipped; without the terminal's own CR-to-LF
// mapping a carriage return arrives as CR and counts as a line feed. The key is
// read without echo and without waiting for a line end, and the terminal's mode
// comes back afterwards.
TEST_F(PseudoTerminalInput, KeyIsReadRawAndCarriageReturnCountsAsLineFeed) {
    m_mode.c_iflag &= ~static_cast<tcflag_t>(ICRNL);
    ASSERT_EQ(::tcsetattr(m_slave, TCSANOW, &m_mode), 0);
    std::thread typist([this] {  // typed while the key is awaited
        std::this_thread::sleep_for(std::chrono::milliseconds(150));
        EXPECT_EQ(::write(m_master, "xM2\r", 4), 4);
    });
    EXPECT_EQ(CardServiceFactory::ReadMenuKey("qQ\n"), '\n');
    typist.join();
    pollfd echo{m_master, POLLIN, 0};
    EXPECT_EQ(::poll(&echo, 1, 100), 0);
    termios after{};
    ::tcgetattr(m_slave, &after);
    EXPECT_EQ(after.c_lflag & (ECHO | ICANON), static_cast<tcflag_t>(ECHO | ICANON));
    EXPECT_EQ(after.c_lflag, m_mode.c_lflag);
    EXPECT_EQ(after.c_cc[VMIN], m_mode.c_cc[VMIN]);
    // Keys typed ahead are read in order, each skipped until an allowed one comes.
    ASSERT_EQ(::write(m_master, "xM2mRq", 6), 6);
    EXPECT_EQ(CardServiceFactory::ReadMenuKey("rRqQ01m"), 'm');
    EXPECT_EQ(CardServiceFactory::ReadMenuKey("rRqQ01m"), 'R');
    EXPECT_EQ(CardServiceFactory::ReadMenuKey("qQ"), 'q');
}

TEST_F(PseudoTerminalInput, ClosedInputIsAnErrorInsteadOfAnEndlessWait) {
    const int devNull = ::open("/dev/null", O_RDONLY);
    ASSERT_GE(devNull, 0);
    ::dup2(devNull, STDIN_FILENO);
    ::close(devNull);
    EXPECT_EQ(MessageOf([] { CardServiceFactory::ReadMenuKey("qQ"); }),
              "Консольный ввод закрыт: ожидаемая клавиша не может быть прочитана");
}

}  // namespace
}  // namespace ZORVIK
