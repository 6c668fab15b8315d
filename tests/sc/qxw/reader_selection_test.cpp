// Reader selection: reader kinds, explicit names, PC/SC numbers, the in-use
// refusal and the automatic and interactive choice among the candidates.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

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

// Every name of the table; PC/SC names lose their index before the lookup.
TEST(ReaderKind, TableLookupDropsThePcscIndex) {
    const std::vector<std::pair<std::string, int32_t>> table = {
        // Without its index the last word of the name is cut off instead.
        {"OMNIKEY CardMan 5x21-CL", 21},
        {"SCTL VSCR", 21},
        {"SCTL VSCR 1", 5},
        {"", 20},
        {"#osm", 21},
        {"Virtual PCD 00 00", 21},
        {"#OSM", 0},
        {"#JCD_OSM", 1},
        {"#SIM", 2},
        {"#QVL", 3},
        {"#DERIMDIRECT", 4},
        {"SCTL VSCR 0", 5},
        {"OMNIKEY CardMan 3x21 0", 6},
        {"OMNIKEY CardMan 5x21 1", 6},
        {"OMNIKEY CardMan 5x21-CL 0", 7},
        {"SCM Microsystems Inc. SDI010 Smart Card Reader 0", 8},
        {"SCM Microsystems Inc. SDI010 Contactless Reader 0", 9},
        {"SCM Microsystems Inc. SDI011G Contactless Reader 0", 9},
        {"ACS ACR128U ICC Interface 0", 10},
        {"ACS ACR128U PICC Interface 0", 11},
        {"ACS ACR122U PICC Interface 0", 11},
        {"KelToken CCID 0", 12},
        {"Gemplus USB Smart Card Reader 0", 13},
        {"IE SmartID/CCID 0", 14},
        {"Intech USB Reader 0", 15},
        {"#MP300_TC", 16},
        {"#MP300_CL", 17},
        {"#MP300_CL_MIFARE", 18},
        {"#MP300_SIM", 19},
    };
    for (const auto& [name, kind] : table) EXPECT_EQ(CardServiceFactory::GetReaderKind(name), kind) << name;
}

// The machine as the selection sees it, with every question recorded.
struct FakeMachine {
    std::vector<std::vector<std::string>> pcscWithCard{{}};  // one answer per listing, the last repeats
    std::vector<std::string> pcscAll;
    bool simulatedCard = false;
    bool serialReader = false;
    bool derimServer = false;
    std::string keys;  // pressed in order
    std::vector<std::string> allowedAsked;
    std::vector<std::string> probedPorts;
    std::vector<std::string> probedServers;
    size_t listings = 0;

    ReaderDiscovery Discovery() {
        ReaderDiscovery discovery;
        discovery.listPcscReaders = [this](bool withCard) {
            if (!withCard) return pcscAll;
            const size_t answer = std::min(listings++, pcscWithCard.size() - 1);
            return pcscWithCard[answer];
        };
        discovery.probeSerialReader = [this](const std::string& port) {
            probedPorts.push_back(port);
            return serialReader;
        };
        discovery.probeDerimServer = [this](const std::string& host, uint16_t port) {
            probedServers.push_back(host + ":" + std::to_string(port));
            return derimServer;
        };
        discovery.simulatedCardAvailable = [this] { return simulatedCard; };
        discovery.readMenuKey = [this](const std::string& allowed) {
            allowedAsked.push_back(allowed);
            EXPECT_FALSE(keys.empty()) << "the menu asked for more keys than the test pressed";
            if (keys.empty()) throw Exception("no key left", SourcePlace());
            const char key = keys.front();
            keys.erase(0, 1);
            return key;
        };
        return discovery;
    }
};

class ReaderSelection : public ::testing::Test {
protected:
    ReaderSelection() { m_settings.AddSetting("disable_user_input", "0", Set); }

    CardServiceFactory& Factory(bool withConsole = true) {
        m_factory = std::make_unique<CardServiceFactory>(withConsole ? m_console : nullptr, m_machine.Discovery());
        return *m_factory;
    }

    std::vector<std::string> ConsoleTexts() const {
        std::vector<std::string> texts;
        for (const LogRecord& record : m_console->records) texts.push_back(record.text);
        return texts;
    }

    FakeMachine m_machine;
    SettingsDatabase m_settings;
    std::shared_ptr<test::RecordingLog> m_console = std::make_shared<test::RecordingLog>();
    std::unique_ptr<CardServiceFactory> m_factory;
};

TEST_F(ReaderSelection, ExplicitNamesAreTakenAsWrittenAndNumbersCountAllPcscReaders) {
    EXPECT_EQ(Factory().GetReaderName("reader", "#OSM", m_settings), "#OSM");
    EXPECT_EQ(Factory().GetReaderName("reader", "SCTL VSCR 0", m_settings), "SCTL VSCR 0");
    // A hash sign and a letter is a name, not a number.
    EXPECT_EQ(Factory().GetReaderName("reader", "#A", m_settings), "#A");
    EXPECT_TRUE(m_console->records.empty());
    EXPECT_EQ(m_machine.listings, 0u);

    m_machine.pcscAll = {"Reader A 0", "Reader B 1"};
    EXPECT_EQ(Factory().GetReaderName("reader", "#0", m_settings), "Reader A 0");
    // Only the digit after the hash sign counts.
    EXPECT_EQ(Factory().GetReaderName("reader", "#1x", m_settings), "Reader B 1");
    EXPECT_EQ(test::MessageOf([&] { Factory().GetReaderName("reader", "#3", m_settings); }),
              "Считка с указанным номером 3 не подключена");

    // More than nine readers are refused.
    for (int i = 2; i < 10; ++i) m_machine.pcscAll.push_back("Reader " + std::to_string(i));
    m_machine.pcscWithCard = {m_machine.pcscAll};
    EXPECT_EQ(test::MessageOf([&] { Factory().GetReaderName("reader", "#0", m_settings); }),
              "Количество считок > 9 пока не поддержано");
    EXPECT_EQ(test::MessageOf([&] { Factory().GetReaderName("reader", "#PCSC", m_settings); }),
              "Количество считок > 9 пока не поддержано");
}

TEST_F(ReaderSelection, PcscWithOneCardIsTakenSilently) {
    m_machine.pcscWithCard = {{"Virtual PCD 00 00"}};
    m_machine.simulatedCard = true;
    m_machine.derimServer = true;
    EXPECT_EQ(Factory().GetReaderName("reader", "#PCSC", m_settings), "Virtual PCD 00 00");
    EXPECT_TRUE(m_console->records.empty());
    EXPECT_TRUE(m_machine.allowedAsked.empty());
    // "#PCSC" never looks at the virtual readers.
    EXPECT_TRUE(m_machine.probedPorts.empty());
    EXPECT_TRUE(m_machine.probedServers.empty());
}

TEST_F(ReaderSelection, WithoutUserInputOrConsoleLogNoneOrSeveralAreErrors) {
    // Without a console log the menu cannot talk.
    m_machine.pcscWithCard = {{"Reader A 0", "Reader B 1"}};
    EXPECT_EQ(test::MessageOf([&] { Factory(false).GetReaderName("reader", "#PCSC", m_settings); }),
              "Подключено более одной считки");
    m_settings.AddSetting("disable_user_input", "1", Set);
    EXPECT_EQ(test::MessageOf([&] { Factory().GetReaderName("reader", "#PCSC", m_settings); }),
              "Подключено более одной считки");
    m_machine.pcscWithCard = {{}};
    EXPECT_EQ(test::MessageOf([&] { Factory().GetReaderName("reader", "#PCSC", m_settings); }),
              "Ни одной считки не подключено");
    EXPECT_TRUE(m_console->records.empty());
    // The flag is mandatory.
    SettingsDatabase empty;
    EXPECT_EQ(test::MessageOf([&] { Factory().GetReaderName("reader", "#?", empty); }),
              "Не задана обязательная настройка \"disable_user_input\"");
}

// A single virtual candidate is taken silently; the probes look where the
// plain (unprefixed) settings point.
TEST_F(ReaderSelection, QuestionMarkProbesTheVirtualReaders) {
    m_machine.simulatedCard = true;
    EXPECT_EQ(Factory().GetReaderName("reader", "#?", m_settings), "#OSM");
    EXPECT_TRUE(m_console->records.empty());
    EXPECT_EQ(m_machine.probedPorts, std::vector<std::string>{"CNCB0"});
    EXPECT_EQ(m_machine.probedServers, std::vector<std::string>{"127.0.0.1:50000"});

    m_settings.AddSetting("VPORT", "/dev/ttyS7", Set);
    m_settings.AddSetting("derimdirect_hostname", "::1", Set);
    m_settings.AddSetting("derimdirect_port", "4711", Set);
    m_machine = FakeMachine();
    m_machine.serialReader = true;
    EXPECT_EQ(Factory().GetReaderName("reader2", "#?", m_settings), "#SIM");
    EXPECT_EQ(m_machine.probedPorts, std::vector<std::string>{"/dev/ttyS7"});
    EXPECT_EQ(m_machine.probedServers, std::vector<std::string>{"::1:4711"});

    m_settings.AddSetting("derimdirect_port", "70000", Set);
    EXPECT_NE(test::MessageOf([&] { Factory().GetReaderName("reader", "#?", m_settings); }).find("derimdirect_port"),
              std::string::npos);
}

TEST_F(ReaderSelection, MenuOffersPcscDigitsAndVirtualLetters) {
    m_machine.pcscWithCard = {{"Reader A 0", "Reader B 1"}};
    m_machine.simulatedCard = true;
    m_machine.keys = "1";
    EXPECT_EQ(Factory().GetReaderName("reader", "#?", m_settings), "Reader B 1");
    EXPECT_EQ(m_machine.allowedAsked, std::vector<std::string>{"rRqQ01m"});
    const std::vector<std::string> expected = {
        "\nИнтерактивный выбор \"reader\" из списка доступных:\n\n",
        "------------- PCSC-ридеры -----------------\n",
        "0 - Reader A 0\n",
        "1 - Reader B 1\n",
        "------------- Виртуальные ридеры ----------\n",
        "m - OSM\n",
        "\nВыберите ридер, нажав соответствующую клавишу. r - обновить список, q - выход\n",
        "Выбран reader = Reader B 1\n",
    };
    EXPECT_EQ(ConsoleTexts(), expected);
    const std::vector<int32_t> colours = {11, 8, 7, 7, 8, 7, 14, 7};
    ASSERT_EQ(m_console->records.size(), colours.size());
    for (size_t i = 0; i < colours.size(); ++i) {
        EXPECT_EQ(m_console->records[i].level, 7);
        EXPECT_EQ(m_console->records[i].colour, colours[i]) << i;
    }
}

TEST_F(ReaderSelection, MenuOfVirtualReadersOnly) {
    m_machine.simulatedCard = true;
    m_machine.serialReader = true;
    m_machine.derimServer = true;
    m_machine.keys = "v";
    EXPECT_EQ(Factory().GetReaderName("reader2", "#?", m_settings), "#DERIMDIRECT");
    EXPECT_EQ(m_machine.allowedAsked, std::vector<std::string>{"rRqQmsv"});
    const std::vector<std::string> texts = ConsoleTexts();
    ASSERT_EQ(texts.size(), 7u);
    EXPECT_EQ(std::vector<std::string>(texts.begin(), texts.begin() + 5),
              (std::vector<std::string>{"\nИнтерактивный выбор \"reader2\" из списка доступных:\n\n",
                                        "------------- Виртуальные ридеры ----------\n", "m - OSM\n", "s - Simulator\n",
                                        "v - Derim Direct\n"}));
    EXPECT_EQ(texts[6], "Выбран reader2 = #DERIMDIRECT\n");
}

TEST_F(ReaderSelection, RefreshListsTheReadersAgain) {
    m_machine.pcscWithCard = {{"Reader A 0", "Reader B 1"}, {"Reader A 0", "Reader B 1", "Reader C 2"}};
    m_machine.keys = "r2";
    EXPECT_EQ(Factory().GetReaderName("reader", "#PCSC", m_settings), "Reader C 2");
    EXPECT_EQ(m_machine.allowedAsked, (std::vector<std::string>{"rRqQ01", "rRqQ012"}));
}

TEST_F(ReaderSelection, NoCandidateAsksToInsertACardAndListsAgainOnEnter) {
    m_machine.pcscWithCard = {{}, {"Reader A 0"}};
    m_machine.keys = "\n";
    EXPECT_EQ(Factory().GetReaderName("reader", "#PCSC", m_settings), "Reader A 0");
    EXPECT_EQ(m_machine.allowedAsked, std::vector<std::string>{"qQ\n"});
    ASSERT_EQ(m_console->records.size(), 1u);
    EXPECT_EQ(m_console->records[0].text, "Вставьте карту и нажмите Enter. q - выход\n");
    EXPECT_EQ(m_console->records[0].colour, 14);
}

TEST_F(ReaderSelection, QuitFromTheMenuEndsTheProgramWithCodeZero) {
    m_machine.pcscWithCard = {{"Reader A 0", "Reader B 1"}};
    m_machine.keys = "Q";
    EXPECT_EXIT(Factory().GetReaderName("reader", "#PCSC", m_settings), ::testing::ExitedWithCode(0), "");
    m_machine.pcscWithCard = {{}};
    m_machine.keys = "q";
    EXPECT_EXIT(Factory().GetReaderName("reader", "#?", m_settings), ::testing::ExitedWithCode(0), "");
}

// Reader groups that already hold a reader: two card services over the simulated card.
class ReaderInUse : public ReaderSelection {
protected:
    ReaderInUse() {
        m_settings.AddSetting("reader", "#OSM", Set);
        m_settings.AddSetting("reader2", "#OSM", Set);
        m_settings.AddSetting("power_on", "0", Set);
    }
};

TEST_F(ReaderInUse, SecondGroupCannotTakeTheSameReaderUntilItIsReleased) {
    CardServiceFactory& factory = Factory();
    std::shared_ptr<CardService> first = factory.CreateCardService(m_settings, "reader", m_console);
    EXPECT_FALSE(factory.IsReaderFree("#OSM"));
    EXPECT_TRUE(factory.IsReaderFree("#osm"));
    EXPECT_EQ(test::MessageOf([&] { factory.CreateCardService(m_settings, "reader2", m_console); }),
              "Попытка выбрать reader2 = #OSM, который уже используется");
    first.reset();
    EXPECT_TRUE(factory.IsReaderFree("#OSM"));
    EXPECT_NE(factory.CreateCardService(m_settings, "reader2", m_console), nullptr);
}

TEST_F(ReaderInUse, MenuLeavesOutReadersInUse) {
    m_settings.AddSetting("reader2", "#?", Set);
    m_machine.simulatedCard = true;
    m_machine.derimServer = true;
    CardServiceFactory& factory = Factory();
    const std::shared_ptr<CardService> first = factory.CreateCardService(m_settings, "reader", m_console);
    // "#OSM" is taken, so the one server left is chosen without a question.
    EXPECT_EQ(factory.GetReaderName("reader2", "#?", m_settings), "#DERIMDIRECT");
    EXPECT_TRUE(m_machine.allowedAsked.empty());
}

// The selection with the machine's own probes: a serial reader device on a
// pseudo-terminal, and no direct-network server.
TEST_F(ReaderInUse, SystemProbesFindTheSerialReader) {
    test::SerialReaderEmulator device([](const CApdu&) { return RApdu(binary::Binary("9000")); }, {});
    m_settings.AddSetting("reader2", "#?", Set);
    m_settings.AddSetting("VPORT", device.PortPath(), Set);
    m_settings.AddSetting("derimdirect_port", std::to_string(test::UnusedLoopbackPort()), Set);
    // The machine's probes, but no PC/SC service: the pcsc-lite client binds to
    // its daemon at the first call, which belongs to the PC/SC tests.
    ReaderDiscovery discovery = ReaderDiscovery::System();
    discovery.listPcscReaders = [](bool) { return std::vector<std::string>(); };
    CardServiceFactory factory(m_console, discovery);
    const std::shared_ptr<CardService> first = factory.CreateCardService(m_settings, "reader", m_console);
    // With "#OSM" in use the serial reader is the one candidate.
    EXPECT_EQ(factory.GetReaderName("reader2", "#?", m_settings), "#SIM");
}

}  // namespace
}  // namespace ZORVIK
