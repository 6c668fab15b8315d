// Reader selection: explicit names, PC/SC numbers, the in-use refusal and the
// automatic and interactive choice among the candidates, over a stand-in for
// the machine.
#include <gtest/gtest.h>

#include "sc/card_service/card_service.h"
#include "sc/qxw/card_service_factory.h"
#include "service/common/exception.h"
#include "service/log/recording_log.h"
#include "service/program_settings/settings_database.h"
#include "support/error_text.h"

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
        discovery.probeSerialReader = [this](const std::string& port) {
            m_probed.push_back(port);
            return m_serialReader;
        };
        discovery.probeDerimServer = [this](const std::string& host, uint16_t port) {
            m_probed.push_back(host + ":" + std::to_string(port));
            return m_derimServer;
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
    std::string Choose(const std::string& setting, const std::string& group = "reader") {
        return Factory().GetReaderName(group, setting, m_settings);
    }
    Names ConsoleTexts() const {
        Names texts;
        for (const LogRecord& record : m_console->records) texts.push_back(record.text);
        return texts;
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

TEST_F(ReaderSelection, ExplicitNamesAreTakenAsWrittenAndNumbersCountAllPcscReaders) {
    EXPECT_EQ(Choose("SCTL VSCR 0"), "SCTL VSCR 0");
    EXPECT_EQ(Choose("#A"), "#A");  // a hash sign and a letter is a name, not a number
    EXPECT_EQ(m_listings, 0u);
    m_all = {"Reader A 0", "Reader B 1"};
    EXPECT_EQ(Choose("#1x"), "Reader B 1");  // only the digit after the hash sign counts
    EXPECT_EQ(MessageOf([&] { Choose("#3"); }), "Считка с указанным номером 3 не подключена");
    // More than nine readers are refused.
    for (int i = 2; i < 10; ++i) m_all.push_back("Reader " + std::to_string(i));
    m_withCard = {m_all};
    for (const char* setting : {"#0", "#PCSC"})
        EXPECT_EQ(MessageOf([&] { Choose(setting); }), "Количество считок > 9 пока не поддержано");
    EXPECT_TRUE(m_console->records.empty());
}

// One candidate is taken silently ("#PCSC" never looks at the virtual readers);
// none or several are errors when the menu cannot talk.
TEST_F(ReaderSelection, WithoutAMenuOneCandidateIsTakenAndNoneOrSeveralAreErrors) {
    m_withCard = {{"Virtual PCD 00 00"}};
    m_simulatedCard = m_derimServer = true;
    EXPECT_EQ(Choose("#PCSC"), "Virtual PCD 00 00");
    EXPECT_TRUE(m_probed.empty());
    m_withCard = {{"Reader A 0", "Reader B 1"}};
    EXPECT_EQ(MessageOf([&] { Factory(false).GetReaderName("reader", "#PCSC", m_settings); }),
              "Подключено более одной считки");  // without a console log
    m_settings.AddSetting("disable_user_input", "1", Set);
    EXPECT_EQ(MessageOf([&] { Choose("#PCSC"); }), "Подключено более одной считки");
    m_withCard = {{}};
    EXPECT_EQ(MessageOf([&] { Choose("#PCSC"); }), "Ни одной считки не подключено");
    EXPECT_TRUE(m_console->records.empty());
    SettingsDatabase empty;  // the flag is mandatory
    EXPECT_EQ(MessageOf([&] { Factory().GetReaderName("reader", "#?", empty); }),
              "Не задана обязательная настройка \"disable_user_input\"");
}

// The probes look where the plain (unprefixed) settings point.
TEST_F(ReaderSelection, QuestionMarkProbesTheVirtualReaders) {
    m_simulatedCard = true;
    EXPECT_EQ(Choose("#?"), "#OSM");
    EXPECT_EQ(m_probed, (Names{"CNCB0", "127.0.0.1:50000"}));
    m_settings.AddSetting("VPORT", "/dev/ttyS7", Set);
    m_settings.AddSetting("derimdirect_hostname", "::1", Set);
    m_settings.AddSetting("derimdirect_port", "4711", Set);
    m_simulatedCard = false;
    m_serialReader = true;
    m_probed.clear();
    EXPECT_EQ(Choose("#?", "reader2"), "#SIM");
    EXPECT_EQ(m_probed, (Names{"/dev/ttyS7", "::1:4711"}));
    m_settings.AddSetting("derimdirect_port", "70000", Set);
    EXPECT_EQ(MessageOf([&] { Choose("#?"); }),
              "Значение настройки \"derimdirect_port\" = 70000 не является номером TCP-порта (1..65535)");
}

TEST_F(ReaderSelection, MenuOffersPcscDigitsAndVirtualLettersAndRefreshesOnR) {
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
    };
    Names expected(menu.begin(), menu.end());
    expected.erase(expected.begin() + 3);  // the first listing had one reader
    expected.insert(expected.end(), menu.begin(), menu.end());
    expected.push_back("Выбран reader = Reader B 1\n");
    EXPECT_EQ(ConsoleTexts(), expected);
    const std::vector<int32_t> colours = {11, 8, 7, 7, 8, 7, 7, 7, 14, 7};
    for (size_t i = 0; i < colours.size(); ++i) {
        EXPECT_EQ(m_console->records[m_console->records.size() - colours.size() + i].colour, colours[i]) << i;
        EXPECT_EQ(m_console->records[i].level, 7);
    }
}

TEST_F(ReaderSelection, NoCandidateAsksToInsertACardAndListsAgainOnEnter) {
    m_withCard = {{}, {"Reader A 0"}};
    m_keys = "\n";
    EXPECT_EQ(Choose("#PCSC"), "Reader A 0");
    EXPECT_EQ(m_allowed, Names{"qQ\n"});
    ASSERT_EQ(m_console->records.size(), 1u);
    EXPECT_EQ(m_console->records[0].text, "Вставьте карту и нажмите Enter. q - выход\n");
    EXPECT_EQ(m_console->records[0].colour, 14);
}

// Two groups over the simulated card: the second cannot take it until the first lets it go,
// and the menu leaves it out.
TEST_F(ReaderSelection, ReaderInUseIsRefusedAndLeftOutOfTheChoice) {
    m_settings.AddSetting("reader", "#OSM", Set);
    m_settings.AddSetting("reader2", "#OSM", Set);
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

}  // namespace
}  // namespace ZORVIK
