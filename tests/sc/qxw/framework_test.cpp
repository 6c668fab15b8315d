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
#include "support/test_dir.h"

namespace ZORVIK {
namespace {

using binary::Binary;
using test::Contains;

// A framework of its own per test, logging into the test's directory.
class Framework : public ::testing::Test {
protected:
    Framework() { Fresh(); }
    ~Framework() override {
        m_framework.reset();
        g_frameworkLog.reset();
    }
    void Fresh(std::initializer_list<std::pair<const char*, std::string>> settings = {}) {
        m_framework = std::make_unique<SCFramework>();
        g_frameworkLog.reset();  // the last file log goes before its file
        std::filesystem::remove(m_dir + "run.log");
        m_settings = SettingsDatabase();
        for (const auto& [key, value] :
             {std::pair<const char*, std::string>{"log_dir", m_dir}, {"log_name", "run"}, {"console_log_on", "0"}})
            Set(key, value);
        for (const auto& [key, value] : settings) Set(key, value);
    }
    void Set(const std::string& key, const std::string& value) { m_settings.AddSetting(key, value, ZORVIK::Set); }
    std::string Log() const { return test::ReadFile(m_dir + "run.log"); }

    const std::string m_dir = test::TestDir();
    SettingsDatabase m_settings;
    std::unique_ptr<SCFramework> m_framework;
};

TEST_F(Framework, TwoReaderGroupsMakeTwoCardServicesThatNameTheirReaders) {
    test::DerimServer server(test::DerimServer::Card(Binary("3B 00"), [](const Binary&) { return Binary("9000"); }));
    Set("reader", "#OSM");
    Set("reader2", "#DERIMDIRECT");
    Set("reader4", "#QVL");  // groups end at the first missing number
    Set("derimdirect_port", std::to_string(server.Port()));
    Set("reader2.power_on", "0");
    m_framework->Start(m_settings);
    EXPECT_FALSE(m_settings.Has("reader"));  // the framework took the settings
    ASSERT_EQ(m_framework->GetCardServiceCount(), 2u);
    EXPECT_EQ(m_framework->GetCurrentIndex(), 0u);
    EXPECT_EQ(m_framework->GetCardService(0), m_framework->GetCardService(1));
    EXPECT_EQ(test::MessageOf([&] { m_framework->GetCardService(3); }), "Обращение к отсутствующему CardService");
    EXPECT_EQ(m_framework->GetSettings().GetString("reader2.output_reader_name"), "1");
    const std::string log = Log();
    EXPECT_TRUE(std::regex_search(log, std::regex("^Current time: \\d{4}-\\d{2}-\\d{2} \\d{2}:\\d{2}:\\d{2}\n")))
        << log;
    // Without a seed value the tick count is the seed.
    EXPECT_TRUE(std::regex_search(log, std::regex("Random seed \\(hex\\): [0-9A-F]{8}\n"))) << log;
    EXPECT_TRUE(Contains(log,
                         "+-------------------------+\n"
                         "| Reader 1 : #OSM         |\n"
                         "| Reader 2 : #DERIMDIRECT |\n"
                         "+-------------------------+\n"));
    // power_on is 1 by default: the first card was powered, the second not.
    EXPECT_TRUE(dynamic_cast<CardService&>(*m_framework->GetCardService(1)).GetReader()->IsPowered());
    EXPECT_TRUE(server.Requests().empty());
}

// The chain is a filtering head, the file log, the console log, each optional;
// the file name is directory and name joined as text, and a format numbers the files.
TEST_F(Framework, LogChainAndFileNames) {
    struct Case {
        std::initializer_list<std::pair<const char*, std::string>> settings;
        const char* file;  // nullptr: none
        bool console;
    };
    const Case cases[] = {
        {{}, "run.log", false},
        {{{"log_dir", m_dir + "logs"}}, "logsrun.log", false},
        {{{"lf", "%p%n_%c.%e"}}, "run_001.log", false},
        {{{"log_level", "8"}, {"file_log_on", "1"}}, nullptr, false},
        {{{"file_log_on", "0"}, {"console_log_on", "1"}}, nullptr, true},
    };
    for (const Case& c : cases) {
        Fresh(c.settings);
        m_framework->Start(m_settings);
        SCOPED_TRACE(c.file ? c.file : "no file");
        EXPECT_EQ(std::filesystem::exists(m_dir + (c.file ? c.file : "run.log")), c.file != nullptr);
        EXPECT_EQ(m_framework->GetLog() != nullptr, c.console);
        const std::shared_ptr<iLog> afterHead = g_frameworkLog->GetNext();
        EXPECT_EQ(afterHead != nullptr && afterHead != m_framework->GetLog(), c.file != nullptr);
        EXPECT_EQ(c.file != nullptr ? afterHead->GetNext() : afterHead, m_framework->GetLog());
        for (const auto& entry : std::filesystem::directory_iterator(m_dir)) std::filesystem::remove_all(entry);
    }
}

// Minimal standard generator: x(n+1) = 48271 * x(n) mod (2^31 - 1). The seed is
// a big-endian number reduced by the modulus; all ones gives state 1. Level 5
// leaves the seed's line (level 1) out of the file log.
TEST_F(Framework, SeedValueGivesTheGeneratorsState) {
    const std::tuple<const char*, uint64_t, const char*> cases[] = {
        {"7FFFFFFF", 1, "Random seed (hex): 7FFFFFFF\n"},
        {"12 34 56 78", 0x12345678, "Random seed (hex): 12345678\n"},
        {"FFFFFFFF", 0xFFFFFFFFu % 0x7FFFFFFF, nullptr},
    };
    for (const auto& [seed, state, logged] : cases) {
        Fresh({{"random_seed_value", seed}, {"log_level", logged ? "1" : "5"}});
        m_framework->Start(m_settings);
        EXPECT_EQ(GetRandomEngine()(), state * 48271 % 0x7FFFFFFF) << seed;
        EXPECT_EQ(Contains(Log(), "Random seed"), logged != nullptr) << seed;
        if (logged) {
            EXPECT_TRUE(Contains(Log(), logged)) << seed;
        }
    }
}

// They fail before the framework has logs; then levels, colours and line ends.
TEST(LogFunctions, LevelsColoursAndLineEnds) {
    g_frameworkLog.reset();
    for (const auto& write : std::vector<std::function<void()>>{[] { Warning("w"); }, [] { Write("w", true); },
                                                                [] { __do_write(7, "%s", "w"); }})
        EXPECT_EQ(test::MessageOf(write), "Библиотека QXW не инициализирована.");
    auto recorder = std::make_shared<test::RecordingLog>();
    g_frameworkLog = recorder;
    Warning("careful");
    Write(std::string("plain"), false);
    Write(static_cast<const char*>(nullptr), true);
    __do_write(4, "%d-%s", 5, "a");
    g_frameworkLog.reset();
    const std::vector<std::tuple<int32_t, std::string, int32_t>> expected = {{6, "careful\n", LevelColour(6)},
                                                                             {3, "plain", LevelColour(3)},
                                                                             {3, "\n", LevelColour(3)},
                                                                             {4, "5-a\n", LevelColour(4)}};
    ASSERT_EQ(recorder->records.size(), expected.size());
    for (size_t i = 0; i < expected.size(); ++i) {
        const LogRecord& record = recorder->records[i];
        EXPECT_EQ(std::tie(record.level, record.text, record.colour), expected[i]) << i;
        EXPECT_TRUE(record.source.empty());
    }
}

// The process-wide framework as the console uses it, from start to finish.
TEST(ProcessFramework, ConsoleFunctionsFromStartToFinish) {
    SettingsDatabase settings;
    for (const auto& [key, value] : {std::pair{"reader", "#OSM"}, std::pair{"file_log_on", "0"},
                                     std::pair{"os_version", "MORVA_1.92_S"}, std::pair{"verbose", "Yes"}})
        settings.AddSetting(key, value, Set);
    testing::internal::CaptureStdout();
    InitFramework(settings);
    EXPECT_EQ(GetSettings(), &GetFramework().GetSettings());
    EXPECT_EQ(GetSetting("reader", "?"), "#OSM");
    EXPECT_EQ(GetSetting("no_such_key", "fallback"), "fallback");
    EXPECT_TRUE(HasSetting("READER"));
    EXPECT_TRUE(GetBoolSetting("VERBOSE", false));
    EXPECT_TRUE(GetBoolSetting("no_such_key", true));
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
    // The last exchange stays as it was once no card service is left.
    UpdateLastExchange();
    EXPECT_EQ(g_lastResponse.GetSW(), 0x6D00);
}

}  // namespace
}  // namespace ZORVIK
