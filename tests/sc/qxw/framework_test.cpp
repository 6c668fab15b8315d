// The framework: its log chain, seeding, card services per reader group, the
// reader table, and the free functions of the console.
#include "sc/qxw/framework.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <regex>
#include <thread>

#include "sc/card_service/card_service.h"
#include "sc/card_service/expected_status.h"
#include "sc/exchange/reader.h"
#include "sc/qxw/log_util.h"
#include "service/log/recording_log.h"
#include "service/program_settings/settings_database.h"
#include "support/derim_server.h"
#include "support/error_text.h"
#include "support/file_text.h"
#include "support/pcsc_fixture.h"
#include "support/test_dir.h"

namespace ZORVIK {
namespace {

using binary::Binary;
using test::Contains;
using Settings = std::initializer_list<std::pair<const char*, std::string>>;

SettingsDatabase Database(Settings settings) {
    SettingsDatabase database;
    for (const auto& [key, value] : settings) database.AddSetting(key, value, Set);
    return database;
}

// A framework of its own, started with the settings and logging into the test's directory.
class Framework : public ::testing::Test {
protected:
    ~Framework() override { g_frameworkLog.reset(); }
    void Start(Settings settings) {
        m_framework = std::make_unique<SCFramework>();
        g_frameworkLog.reset();  // the last file log goes before its file
        std::filesystem::remove(m_dir + "run.log");
        m_settings = Database({{"log_dir", m_dir}, {"log_name", "run"}, {"console_log_on", "0"}});
        for (const auto& [key, value] : settings) m_settings.AddSetting(key, value, Set);
        m_framework->Start(m_settings);
    }
    std::string Log() const { return test::ReadFile(m_dir + "run.log"); }

    const std::string m_dir = test::TestDir();
    SettingsDatabase m_settings;
    std::unique_ptr<SCFramework> m_framework;
};

// Groups end at the first missing number; power_on is 1 by default.
TEST_F(Framework, TwoReaderGroupsMakeTwoCardServicesThatNameTheirReaders) {
    test::DerimServer server(test::DerimServer::Card(Binary("3B 00"), [](const Binary&) { return Binary("9000"); }));
    Start({{"reader", "#OSM"},
           {"reader2", "#DERIMDIRECT"},
           {"reader4", "#QVL"},
           {"derimdirect_port", std::to_string(server.Port())},
           {"reader2.power_on", "0"}});
    EXPECT_FALSE(m_settings.Has("reader"));  // the framework took the settings
    ASSERT_EQ(m_framework->GetCardServiceCount(), 2u);
    EXPECT_EQ(m_framework->GetCardService(0), m_framework->GetCardService(1));
    EXPECT_EQ(test::MessageOf([&] { m_framework->GetCardService(3); }), "Обращение к отсутствующему CardService");
    EXPECT_EQ(m_framework->GetSettings().GetString("reader2.output_reader_name"), "1");
    const std::string log = Log();
    EXPECT_TRUE(std::regex_search(log, std::regex("^Current time: \\d{4}-\\d{2}-\\d{2} \\d{2}:\\d{2}:\\d{2}\n")));
    EXPECT_TRUE(std::regex_search(log, std::regex("Random seed \\(hex\\): [0-9A-F]{8}\n")));  // the tick count
    EXPECT_TRUE(Contains(log,
                         "+-------------------------+\n| Reader 1 : #OSM         |\n"
                         "| Reader 2 : #DERIMDIRECT |\n+-------------------------+\n"))
        << log;
    EXPECT_TRUE(dynamic_cast<CardService&>(*m_framework->GetCardService(1)).GetReader()->IsPowered());
    EXPECT_TRUE(server.Requests().empty());
}

// The chain is a filtering head, the file log, the console log, each optional;
// the file name is directory and name joined as text, and a format numbers the
// files. The seed is a big-endian number that the minimal standard generator
// (x' = 48271 x mod 2^31 - 1) reduces by its modulus.
TEST_F(Framework, LogChainFileNamesAndSeed) {
    Start({{"log_dir", m_dir + "logs"}, {"lf", "%p%n_%c.%e"}, {"random_seed_value", "FFFFFFFF"}});
    EXPECT_TRUE(std::filesystem::exists(m_dir + "logsrun_001.log"));
    EXPECT_EQ(GetRandomEngine()(), (0xFFFFFFFFu % 0x7FFFFFFF) * 48271 % 0x7FFFFFFF);
    EXPECT_EQ(m_framework->GetLog(), nullptr);
    EXPECT_EQ(g_frameworkLog->GetNext()->GetNext(), nullptr);  // the file log, no console log
    Start({{"random_seed_value", "12 34 56 78"}});
    EXPECT_TRUE(Contains(Log(), "Random seed (hex): 12345678\n"));
    EXPECT_EQ(GetRandomEngine()(), 0x12345678ull * 48271 % 0x7FFFFFFF);
    Start({{"log_level", "5"}, {"random_seed_value", "7FFFFFFF"}});  // all ones: state 1
    EXPECT_EQ(GetRandomEngine()(), 48271u);
    EXPECT_FALSE(Contains(Log(), "Random seed"));  // written at level 1
    Start({{"log_level", "8"}, {"file_log_on", "1"}});
    EXPECT_FALSE(std::filesystem::exists(m_dir + "run.log"));
    EXPECT_EQ(g_frameworkLog->GetNext(), nullptr);
    Start({{"file_log_on", "0"}, {"console_log_on", "1"}});
    EXPECT_EQ(g_frameworkLog->GetNext(), m_framework->GetLog());
}

// They fail before the framework has logs; then levels, colours and line ends.
TEST(LogFunctions, LevelsColoursAndLineEnds) {
    g_frameworkLog.reset();
    EXPECT_EQ(test::MessageOf([] { Write("w", true); }), "Библиотека QXW не инициализирована.");
    auto recorder = std::make_shared<test::RecordingLog>();
    g_frameworkLog = recorder;
    Warning("careful");
    Write(std::string("plain"), false);
    Write(static_cast<const char*>(nullptr), true);
    __do_write(4, "%d-%s", 5, "a");
    g_frameworkLog.reset();
    std::vector<std::tuple<int32_t, int32_t, std::string>> records;
    for (const LogRecord& record : recorder->records) records.emplace_back(record.level, record.colour, record.text);
    EXPECT_EQ(records, (std::vector<std::tuple<int32_t, int32_t, std::string>>{{6, LevelColour(6), "careful\n"},
                                                                               {3, LevelColour(3), "plain"},
                                                                               {3, LevelColour(3), "\n"},
                                                                               {4, LevelColour(4), "5-a\n"}}));
}

// The process-wide framework as the console uses it, from start to finish.
TEST(ProcessFramework, ConsoleFunctionsFromStartToFinish) {
    SettingsDatabase settings =
        Database({{"reader", "#OSM"}, {"file_log_on", "0"}, {"os_version", "MORVA_1.92_S"}, {"verbose", "Yes"}});
    testing::internal::CaptureStdout();
    InitFramework(settings);
    EXPECT_EQ(GetSettings(), &GetFramework().GetSettings());
    EXPECT_EQ(GetSetting("reader", "?") + GetSetting("no_such_key", "fallback"), "#OSMfallback");
    EXPECT_TRUE(HasSetting("READER") && GetBoolSetting("VERBOSE", false) && GetBoolSetting("no_such_key", true));
    EXPECT_EQ(GetOsInfo().GetMinor(), 92);
    // The simulated card answers 6D00 to everything.
    EXPECT_EQ(SendCommand(ZORVIK_PLACE("test"), CApdu(0x00, 0xCA, 0x9F, 0x7F, 0), ST_ANY).GetSW(), 0x6D00);
    UpdateLastExchange();
    EXPECT_EQ(g_lastCommand.Encode(), Binary("00 CA 9F 7F"));
    EXPECT_EQ(g_lastResponse.GetSW(), 0x6D00);
    WaitForCard(true);  // powered already: returns at once
    std::thread remover([] {
        std::this_thread::sleep_for(std::chrono::milliseconds(120));
        PowerOff();
    });
    const auto before = std::chrono::steady_clock::now();
    WaitForCard(false);
    remover.join();
    EXPECT_GE(std::chrono::steady_clock::now() - before, std::chrono::milliseconds(100));
    FinishFramework();
    EXPECT_EQ(GetFramework().GetCardServiceCount(), 0u);
    const std::string console = testing::internal::GetCapturedStdout();
    EXPECT_TRUE(Contains(console, "Ожидание вставки карты в ридер #OSM ...\nкарта вставлена\n"));
    EXPECT_TRUE(Contains(console, "Ожидание удаления карты из ридера #OSM ...\n"));
    EXPECT_TRUE(Contains(console, "карта удалена\n"));
    UpdateLastExchange();  // the last exchange stays as it was once no card service is left
    EXPECT_EQ(g_lastResponse.GetSW(), 0x6D00);
}

// The console's wait for a card over real PC/SC: a private pcscd serves vpcd's
// readers, and the test's virtual card goes into the first one.
using FactoryOverPcsc = test::PcscdTest;

TEST_F(FactoryOverPcsc, WaitForCardFollowsInsertionAndRemoval) {
    SettingsDatabase settings = Database(
        {{"reader", test::PrivatePcscd::Reader0}, {"power_on", "0"}, {"file_log_on", "0"}, {"console_log_on", "0"}});
    InitFramework(settings);
    const auto started = std::chrono::steady_clock::now();
    std::thread inserter([this] {
        std::this_thread::sleep_for(std::chrono::milliseconds(150));
        InsertCard();
    });
    WaitForCard(true);
    inserter.join();
    EXPECT_GE(std::chrono::steady_clock::now() - started, std::chrono::milliseconds(150));
    std::thread remover([this] {
        std::this_thread::sleep_for(std::chrono::milliseconds(150));
        m_card->Remove();
    });
    WaitForCard(false);
    remover.join();
    FinishFramework();
}

}  // namespace
}  // namespace ZORVIK
