// The framework: its log chain, seeding, card services per reader group, the
// reader table, and the free functions of the console.
#include "sc/qxw/framework.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>
#include <thread>

#include "sc/card_service/card_service.h"
#include "sc/card_service/expected_status.h"
#include "sc/exchange/reader.h"
#include "sc/qxw/log_util.h"
#include "service/common/binary.h"
#include "service/common/exception.h"
#include "support/error_text.h"
#include "service/log/log.h"
#include "service/log/recording_log.h"
#include "service/program_settings/setting_descriptions.h"
#include "service/program_settings/settings_database.h"
#include "support/derim_server.h"

namespace ZORVIK {
namespace {

using binary::Binary;

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

bool Contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

// A framework of its own per test, logging into a fresh directory.
class Framework : public ::testing::Test {
protected:
    Framework() {
        std::filesystem::create_directories(m_dir);
        Set("log_dir", m_dir);
        Set("log_name", "run");
        Set("console_log_on", "0");
    }
    ~Framework() override {
        m_framework.reset();
        g_frameworkLog.reset();
        std::filesystem::remove_all(m_dir);
    }

    void Set(const std::string& key, const std::string& value) { m_settings.AddSetting(key, value, ZORVIK::Set); }
    void Start() { m_framework->Start(m_settings); }
    std::string Log() const { return ReadFile(m_dir + "run.log"); }

    const std::string m_dir = ::testing::TempDir() + "framework_" +
                              ::testing::UnitTest::GetInstance()->current_test_info()->name() + "/";
    SettingsDatabase m_settings;
    std::unique_ptr<SCFramework> m_framework = std::make_unique<SCFramework>();
};

TEST_F(Framework, TakesTheCallersSettings) {
    Set("some_key", "x");
    Start();
    EXPECT_FALSE(m_settings.Has("some_key"));
    EXPECT_TRUE(m_settings.GetGroup("").empty());
    EXPECT_EQ(m_framework->GetSettings().GetString("some_key"), "x");
    // Validated: the declared defaults are in place.
    EXPECT_EQ(m_framework->GetSettings().GetString("log_level"), "1");
}

TEST_F(Framework, WithoutReaderGroupsThereAreNoCardServicesAndNoTable) {
    Start();
    EXPECT_EQ(m_framework->GetCardServiceCount(), 0u);
    EXPECT_EQ(test::MessageOf([&] { m_framework->GetCardService(0); }), "Обращение к отсутствующему CardService");
    const std::string log = Log();
    EXPECT_TRUE(std::regex_search(log, std::regex("^Current time: \\d{4}-\\d{2}-\\d{2} \\d{2}:\\d{2}:\\d{2}\n")))
        << log;
    EXPECT_FALSE(Contains(log, "Reader"));
}

TEST_F(Framework, LevelEightBuildsNoFileLogWhateverFileLogOnSays) {
    Set("log_level", "8");
    Set("file_log_on", "1");
    Start();
    EXPECT_FALSE(std::filesystem::exists(m_dir + "run.log"));
    ASSERT_NE(g_frameworkLog, nullptr);
    EXPECT_EQ(g_frameworkLog->GetNext(), nullptr);  // no console log either
}

TEST_F(Framework, FileLogOffWritesNoFile) {
    Set("file_log_on", "0");
    Set("console_log_on", "1");
    Start();
    EXPECT_FALSE(std::filesystem::exists(m_dir + "run.log"));
    // The chain head filters straight into the console log.
    ASSERT_NE(m_framework->GetLog(), nullptr);
    EXPECT_EQ(g_frameworkLog->GetNext(), m_framework->GetLog());
}

TEST_F(Framework, ConsoleLogIsOptional) {
    Start();
    EXPECT_EQ(m_framework->GetLog(), nullptr);
    ASSERT_NE(g_frameworkLog, nullptr);
    ASSERT_NE(g_frameworkLog->GetNext(), nullptr);                // the file log
    EXPECT_EQ(g_frameworkLog->GetNext()->GetNext(), nullptr);     // and nothing behind it
}

TEST_F(Framework, LogFileNameIsDirectoryAndNameJoinedAsText) {
    Set("log_dir", m_dir + "logs");
    Start();
    EXPECT_TRUE(std::filesystem::exists(m_dir + "logsrun.log"));
}

TEST_F(Framework, LogNameDefaultsToTheProgramName) {
    m_settings.Remove("log_name");
    Start();
    // The test program itself is sc_tests.
    EXPECT_TRUE(std::filesystem::exists(m_dir + "sc_tests.log"));
}

TEST_F(Framework, LogFormatNumbersTheFiles) {
    Set("lf", "%p%n_%c.%e");
    Start();
    EXPECT_TRUE(std::filesystem::exists(m_dir + "run_001.log"));
    SettingsDatabase again;
    again.AddSetting("log_dir", m_dir, ZORVIK::Set);
    again.AddSetting("log_name", "run", ZORVIK::Set);
    again.AddSetting("log_format", "%p%n_%c.%e", ZORVIK::Set);
    again.AddSetting("console_log_on", "0", ZORVIK::Set);
    SCFramework second;
    second.Start(again);
    EXPECT_TRUE(std::filesystem::exists(m_dir + "run_002.log"));
}

TEST_F(Framework, ThresholdFiltersTheFileLog) {
    Set("log_level", "5");
    Set("random_seed_value", "01020304");
    Start();
    const std::string log = Log();
    EXPECT_TRUE(Contains(log, "Current time: "));
    EXPECT_FALSE(Contains(log, "Random seed"));  // written at level 1
}

TEST_F(Framework, LevelOutsideTheRangeIsRefusedBeforeTheLogsExist) {
    for (const char* level : {"0", "9", "-3"}) {
        SettingsDatabase settings;
        settings.AddSetting("log_level", level, ZORVIK::Set);
        settings.AddSetting("log_dir", m_dir, ZORVIK::Set);
        SCFramework framework;
        EXPECT_NE(test::MessageOf([&] { framework.Start(settings); }), "(no error)") << level;
    }
    EXPECT_TRUE(std::filesystem::is_empty(m_dir));
}

// Minimal standard generator: x(n+1) = 48271 * x(n) mod (2^31 - 1).
uint32_t NextMinstd(uint64_t state) { return static_cast<uint32_t>(state * 48271 % 0x7FFFFFFF); }

TEST_F(Framework, SeedOfAllOnesBitsGivesStateOne) {
    Set("random_seed_value", "7FFFFFFF");
    Start();
    EXPECT_EQ(GetRandomEngine()(), NextMinstd(1));
    EXPECT_TRUE(Contains(Log(), "Random seed (hex): 7FFFFFFF\n"));
}

TEST_F(Framework, SeedIsABigEndianNumber) {
    Set("random_seed_value", "12 34 56 78");
    Start();
    EXPECT_EQ(GetRandomEngine()(), NextMinstd(0x12345678));
    EXPECT_TRUE(Contains(Log(), "Random seed (hex): 12345678\n"));
}

TEST_F(Framework, SeedAboveTheModulusIsReduced) {
    Set("random_seed_value", "FFFFFFFF");
    Start();
    EXPECT_EQ(GetRandomEngine()(), NextMinstd(0xFFFFFFFFu % 0x7FFFFFFF));
}

TEST_F(Framework, WithoutSeedValueTheTickCountIsPrinted) {
    Start();
    EXPECT_TRUE(std::regex_search(Log(), std::regex("Random seed \\(hex\\): [0-9A-F]{8}\n")));
}

TEST_F(Framework, OneSimulatedCardWithItsReaderTable) {
    Set("reader", "#OSM");
    Start();
    ASSERT_EQ(m_framework->GetCardServiceCount(), 1u);
    EXPECT_EQ(m_framework->GetCardService(0), m_framework->GetCardService(1));
    EXPECT_EQ(test::MessageOf([&] { m_framework->GetCardService(2); }), "Обращение к отсутствующему CardService");
    EXPECT_EQ(m_framework->GetCurrentIndex(), 0u);
    EXPECT_TRUE(Contains(Log(), "+---------------+\n| Reader : #OSM |\n+---------------+\n\n"));
    // power_on defaults to 1: Start powered the card on.
    auto* service = dynamic_cast<CardService*>(m_framework->GetCardService(0));
    ASSERT_NE(service, nullptr);
    EXPECT_TRUE(service->GetReader()->IsPowered());
    EXPECT_EQ(m_framework->GetSettings().GetString("output_reader_name"), "0");
}

TEST_F(Framework, TwoReaderGroupsNameTheirReaders) {
    test::DerimServer server(test::DerimServer::Card(Binary("3B 00"), [](const Binary&) { return Binary("9000"); }));
    Set("reader", "#OSM");
    Set("reader2", "#DERIMDIRECT");
    Set("derimdirect_port", std::to_string(server.Port()));
    Set("reader2.power_on", "0");
    Start();
    ASSERT_EQ(m_framework->GetCardServiceCount(), 2u);
    EXPECT_EQ(m_framework->GetSettings().GetString("output_reader_name"), "1");
    EXPECT_EQ(m_framework->GetSettings().GetString("reader2.output_reader_name"), "1");
    EXPECT_TRUE(Contains(Log(),
                         "+-------------------------+\n"
                         "| Reader 1 : #OSM         |\n"
                         "| Reader 2 : #DERIMDIRECT |\n"
                         "+-------------------------+\n"));
    // Every line of the second service names its reader; it was not powered.
    EXPECT_TRUE(server.Requests().empty());
    auto* second = dynamic_cast<CardService*>(m_framework->GetCardService(2));
    ASSERT_NE(second, nullptr);
    EXPECT_EQ(second->GetReaderName(), "#DERIMDIRECT");
}

TEST_F(Framework, GroupsEndAtTheFirstMissingNumber) {
    Set("reader", "#OSM");
    Set("reader3", "#DERIMDIRECT");
    Set("output_reader_name", "0");
    Start();
    EXPECT_EQ(m_framework->GetCardServiceCount(), 1u);
    EXPECT_EQ(m_framework->GetSettings().GetString("output_reader_name"), "0");
}

TEST_F(Framework, FinishPowersOffAndReleasesTheCardServices) {
    Set("reader", "#OSM");
    Set("ES", m_dir + "image.bin");
    Start();
    EXPECT_FALSE(std::filesystem::exists(m_dir + "image.bin"));
    m_framework->FinishCardServices();
    EXPECT_EQ(m_framework->GetCardServiceCount(), 0u);
    EXPECT_TRUE(Contains(Log(), "Power off\n"));
    // The reader went with its card service and saved the image.
    EXPECT_TRUE(std::filesystem::exists(m_dir + "image.bin"));
}

TEST_F(Framework, FactoryErrorReachesTheCallerWithTheLogsBuilt) {
    Set("reader", "#JCD_OSM");
    EXPECT_EQ(test::MessageOf([&] { Start(); }), "Can't create OS model with JC debug facility");
    EXPECT_NE(g_frameworkLog, nullptr);
    EXPECT_EQ(m_framework->GetCardServiceCount(), 0u);
}

TEST(DeclaredSettings, FrameworkGroupsComeFirstThenTheFactorys) {
    SettingsDescriptions descriptions;
    SCFramework::DeclareSettings(descriptions);
    std::vector<std::string> titles;
    for (const auto& group : descriptions.Groups())
        titles.push_back(group.first);
    EXPECT_EQ(titles, (std::vector<std::string>{"настройки QXW", "настройки логирования", "настройки логирования",
                                                "настройки работы с картой", "", "настройки ОС"}));
    EXPECT_EQ(descriptions.Groups()[3].second.Descriptions().size(), 15u);
}

class LogFunctions : public ::testing::Test {
protected:
    ~LogFunctions() override { g_frameworkLog.reset(); }
};

TEST_F(LogFunctions, FailBeforeTheFrameworkHasLogs) {
    g_frameworkLog.reset();
    EXPECT_EQ(test::MessageOf([] { Warning("w"); }), "Библиотека QXW не инициализирована.");
    EXPECT_EQ(test::MessageOf([] { Write("w", true); }), "Библиотека QXW не инициализирована.");
    EXPECT_EQ(test::MessageOf([] { __do_write(7, "%s", "w"); }), "Библиотека QXW не инициализирована.");
}

TEST_F(LogFunctions, LevelsColoursAndLineEnds) {
    auto recorder = std::make_shared<test::RecordingLog>();
    g_frameworkLog = recorder;
    Warning("careful");
    Write(std::string("plain"), false);
    Write(static_cast<const char*>(nullptr), true);
    __do_write(4, "%d-%s", 5, "a");
    ASSERT_EQ(recorder->records.size(), 4u);
    EXPECT_EQ(recorder->records[0].level, 6);
    EXPECT_EQ(recorder->records[0].text, "careful\n");
    EXPECT_EQ(recorder->records[0].colour, LevelColour(6));
    EXPECT_EQ(recorder->records[1].level, 3);
    EXPECT_EQ(recorder->records[1].text, "plain");
    EXPECT_EQ(recorder->records[2].text, "\n");
    EXPECT_EQ(recorder->records[3].level, 4);
    EXPECT_EQ(recorder->records[3].text, "5-a\n");
    EXPECT_EQ(recorder->records[3].colour, LevelColour(4));
    for (const LogRecord& record : recorder->records)
        EXPECT_TRUE(record.source.empty());
}

// The process-wide framework as the console uses it, from start to finish.
TEST(ProcessFramework, ConsoleFunctionsFromStartToFinish) {
    const std::string dir = ::testing::TempDir() + "framework_process/";
    std::filesystem::create_directories(dir);
    SettingsDatabase settings;
    settings.AddSetting("reader", "#OSM", Set);
    settings.AddSetting("log_dir", dir, Set);
    settings.AddSetting("file_log_on", "0", Set);
    settings.AddSetting("os_version", "MORVA_1.92_S", Set);
    testing::internal::CaptureStdout();
    InitFramework(settings);
    EXPECT_EQ(GetSettings(), &GetFramework().GetSettings());
    EXPECT_EQ(GetSetting("reader", "?"), "#OSM");
    EXPECT_EQ(GetSetting("no_such_key", "fallback"), "fallback");
    EXPECT_TRUE(HasSetting("READER"));
    EXPECT_FALSE(HasSetting("no_such_key"));
    EXPECT_EQ(GetOsInfo().GetMinor(), 92);

    // The simulated card answers 6D00 to everything.
    const RApdu& response = SendCommand(ZORVIK_PLACE("test"), CApdu(0x00, 0xCA, 0x9F, 0x7F, 0), ST_ANY);
    EXPECT_EQ(response.GetSW(), 0x6D00);
    UpdateLastExchange();
    EXPECT_EQ(g_lastCommand.ins, 0xCA);
    EXPECT_EQ(g_lastCommand.p1, 0x9F);
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
    const std::string console = testing::internal::GetCapturedStdout();
    EXPECT_EQ(GetFramework().GetCardServiceCount(), 0u);
    EXPECT_TRUE(Contains(console, "Ожидание вставки карты в ридер #OSM ...\nкарта вставлена\n"));
    EXPECT_TRUE(Contains(console, "Ожидание удаления карты из ридера #OSM ...\n"));
    EXPECT_TRUE(Contains(console, "карта удалена\n"));
    // The last exchange stays as it was once no card service is left.
    UpdateLastExchange();
    EXPECT_EQ(g_lastResponse.GetSW(), 0x6D00);
    std::filesystem::remove_all(dir);
}

}  // namespace
}  // namespace ZORVIK
