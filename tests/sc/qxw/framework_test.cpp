// The framework as the console uses it: seeding, its card service, the free
// functions of the console and the wait for a card.
#include "sc/qxw/framework.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <regex>
#include <thread>

#include "sc/card_service/card_service.h"
#include "sc/card_service/expected_status.h"
#include "sc/exchange/reader.h"
#include "sc/qxw/log_util.h"
#include "service/log/recording_log.h"
#include "service/program_settings/setting_descriptions.h"
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

// A framework of its own per test, logging into the test's directory.
class Framework : public ::testing::Test {
protected:
    Framework() { Fresh(); }
    ~Framework() override {
        m_framework.reset();
        g_frameworkLog.reset();
    }

    // A new framework to start, with settings that log into the test's directory.
    void Fresh() {
        m_framework = std::make_unique<SCFramework>();
        Set("log_dir", m_dir);
        Set("log_name", "run");
        Set("console_log_on", "0");
    }
    void Set(const std::string& key, const std::string& value) { m_settings.AddSetting(key, value, ZORVIK::Set); }
    void Start() { m_framework->Start(m_settings); }
    std::string Log() const { return test::ReadFile(m_dir + "run.log"); }

    const std::string m_dir = test::TestDir();
    SettingsDatabase m_settings;
    std::unique_ptr<SCFramework> m_framework;
};

// The help lists the framework's two sections, then the card service's four
// (the transport one untitled), each with its keys in declaration order.
TEST(FrameworkHelp, DeclaresEverySectionInOrder) {
    SettingsDescriptions descriptions;
    SCFramework::DeclareSettings(descriptions);
    std::vector<std::pair<std::string, std::vector<std::string>>> sections;
    for (const auto& [title, group] : descriptions.Groups()) {
        std::vector<std::string> keys;
        for (const SettingDescription& description : group.Descriptions()) keys.push_back(description.names.front());
        sections.emplace_back(title, keys);
    }
    const std::vector<std::pair<std::string, std::vector<std::string>>> expected = {
        {"настройки QXW", {"reader", "reader2", "random_seed_value"}},
        {"настройки логирования", {"log_level", "console_log_on", "file_log_on", "log_dir", "log_name", "log_format"}},
        {"настройки логирования", {"log_dir"}},
        {"настройки работы с картой",
         {"power_on", "power_off", "cless", "cold_reset_always", "force_extended_apdu", "transport_protocols",
          "time_profiling", "randomize_ram", "get_last_error", "transport_log", "output_reader_name",
          "apdu_convert_format", "apdu_file_name", "apdu_verbose_level", "disable_user_input"}},
        {"", {"auto_t0", "get_resp_cla_00", "envelope_mode"}},
        {"настройки ОС", {"os_version"}},
    };
    EXPECT_EQ(sections, expected);
}

TEST_F(Framework, TakesTheCallersSettingsAndWithoutReaderGroupsMakesNoCardServices) {
    Set("some_key", "x");
    Start();
    EXPECT_TRUE(m_settings.GetGroup("").empty());
    EXPECT_EQ(m_framework->GetSettings().GetString("some_key"), "x");
    EXPECT_EQ(&m_framework->GetSettings(), reinterpret_cast<SettingsDatabase*>(m_framework->GetImpl()));
    EXPECT_EQ(m_framework->GetSettings().GetString("log_level"), "1");  // validated: the defaults are in place
    EXPECT_EQ(m_framework->GetCardServiceCount(), 0u);
    EXPECT_EQ(test::MessageOf([&] { m_framework->GetCardService(0); }), "Обращение к отсутствующему CardService");
    const std::string log = Log();
    EXPECT_TRUE(std::regex_search(log, std::regex("^Current time: \\d{4}-\\d{2}-\\d{2} \\d{2}:\\d{2}:\\d{2}\n")))
        << log;
    EXPECT_FALSE(Contains(log, "Reader"));
    // Without a seed value the tick count is the seed.
    EXPECT_TRUE(std::regex_search(log, std::regex("Random seed \\(hex\\): [0-9A-F]{8}\n"))) << log;
}

// The chain: a filtering head, then the file log, then the console log, each optional.
TEST_F(Framework, LogChainFollowsTheLevelAndTheSwitches) {
    Set("log_level", "8");  // builds no file log whatever file_log_on says
    Set("file_log_on", "1");
    Start();
    ASSERT_NE(g_frameworkLog, nullptr);
    EXPECT_EQ(g_frameworkLog->GetImportance(), 8);
    EXPECT_EQ(g_frameworkLog->GetNext(), nullptr);  // no console log either
    EXPECT_FALSE(std::filesystem::exists(m_dir + "run.log"));

    Fresh();
    Set("log_level", "7");
    Set("file_log_on", "0");
    Set("console_log_on", "1");
    Start();
    EXPECT_FALSE(std::filesystem::exists(m_dir + "run.log"));
    ASSERT_NE(m_framework->GetLog(), nullptr);
    EXPECT_EQ(g_frameworkLog->GetImportance(), 7);
    EXPECT_EQ(g_frameworkLog->GetNext(), m_framework->GetLog());  // straight into the console log

    Fresh();
    Set("console_log_on", "0");
    Set("file_log_on", "1");
    Set("log_level", "1");
    Start();
    EXPECT_EQ(m_framework->GetLog(), nullptr);
    ASSERT_NE(g_frameworkLog->GetNext(), nullptr);             // the file log
    EXPECT_EQ(g_frameworkLog->GetNext()->GetNext(), nullptr);  // and nothing behind it
}

// The file name is directory and name joined as text, the name defaults to
// the program's (sc_tests here), and a format numbers the files.
TEST_F(Framework, LogFileNames) {
    const std::pair<std::vector<std::pair<const char*, std::string>>, const char*> cases[] = {
        {{{"log_dir", m_dir + "logs"}}, "logsrun.log"},
        {{{"log_name", ""}}, "sc_tests.log"},
        {{{"lf", "%p%n_%c.%e"}}, "run_001.log"},
        {{{"log_format", "%p%n_%c.%e"}}, "run_002.log"},
    };
    for (const auto& [settings, file] : cases) {
        Fresh();
        for (const auto& [key, value] : settings) {
            if (value.empty())
                m_settings.Remove(key);
            else
                Set(key, value);
        }
        Start();
        EXPECT_TRUE(std::filesystem::exists(m_dir + file)) << file;
    }
}

TEST_F(Framework, ThresholdFiltersTheFileLog) {
    Set("log_level", "5");
    Set("random_seed_value", "01020304");
    Start();
    const std::string log = Log();
    EXPECT_TRUE(Contains(log, "Current time: "));
    EXPECT_FALSE(Contains(log, "Random seed"));  // written at level 1
    // The time is written at level 5: one step higher keeps it out.
    m_framework.reset();
    g_frameworkLog.reset();
    Fresh();
    Set("log_level", "6");
    Set("log_name", "run6");
    Start();
    LogPrintf(g_frameworkLog.get(), 6, "end");
    EXPECT_EQ(test::ReadFile(m_dir + "run6.log"), "end\n");
}

TEST_F(Framework, LevelOutsideTheRangeIsRefusedBeforeTheLogsExist) {
    for (const char* level : {"0", "9", "-3"}) {
        SettingsDatabase settings;
        settings.AddSetting("log_level", level, ZORVIK::Set);
        settings.AddSetting("log_dir", m_dir, ZORVIK::Set);
        SCFramework framework;
        EXPECT_EQ(test::MessageOf([&] { framework.Start(settings); }),
                  std::string("Значение настройки \"log_level = ") + level +
                      "\" не удовлетворяет заданным для нее условиям: 1..8");
    }
    EXPECT_TRUE(std::filesystem::is_empty(m_dir));
}

// Minimal standard generator: x(n+1) = 48271 * x(n) mod (2^31 - 1).
uint32_t NextMinstd(uint64_t state) { return static_cast<uint32_t>(state * 48271 % 0x7FFFFFFF); }

// The seed is a big-endian number reduced by the modulus; all ones gives state 1.
TEST_F(Framework, SeedValueGivesTheGeneratorsState) {
    const std::tuple<const char*, uint64_t, const char*> cases[] = {
        {"7FFFFFFF", 1, "Random seed (hex): 7FFFFFFF\n"},
        {"12 34 56 78", 0x12345678, "Random seed (hex): 12345678\n"},
        {"FFFFFFFF", 0xFFFFFFFFu % 0x7FFFFFFF, "Random seed (hex): FFFFFFFF\n"},
    };
    for (const auto& [seed, state, logged] : cases) {
        Fresh();
        Set("random_seed_value", seed);
        Start();
        EXPECT_EQ(GetRandomEngine()(), NextMinstd(state)) << seed;
        EXPECT_TRUE(Contains(Log(), logged)) << seed;
    }
}

TEST_F(Framework, OneSimulatedCardWithItsReaderTable) {
    Set("reader", "#OSM");
    Set("reader3", "#DERIMDIRECT");  // groups end at the first missing number
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
    EXPECT_TRUE(server.Requests().empty());  // the second was not powered
    auto* second = dynamic_cast<CardService*>(m_framework->GetCardService(2));
    ASSERT_NE(second, nullptr);
    EXPECT_EQ(second->GetReaderName(), "#DERIMDIRECT");
}

// Finish powers off where power_off says so, then the card services go: the
// simulated card's reader saves its image on the way.
TEST_F(Framework, FinishPowersOffAsSetAndReleasesTheCardServices) {
    for (const bool powerOff : {true, false}) {
        Fresh();
        Set("reader", "#OSM");
        Set("power_off", powerOff ? "1" : "0");
        Set("ES", m_dir + "image.bin");
        Start();
        EXPECT_FALSE(std::filesystem::exists(m_dir + "image.bin"));
        m_framework->FinishCardServices();
        EXPECT_EQ(m_framework->GetCardServiceCount(), 0u);
        EXPECT_EQ(Contains(Log(), "Power off\n"), powerOff) << powerOff;
        EXPECT_TRUE(std::filesystem::exists(m_dir + "image.bin"));
        std::filesystem::remove(m_dir + "image.bin");
        std::filesystem::remove(m_dir + "run.log");
    }
}

TEST_F(Framework, FactoryErrorReachesTheCallerWithTheLogsBuilt) {
    Set("reader", "#JCD_OSM");
    EXPECT_EQ(test::MessageOf([&] { Start(); }), "Can't create OS model with JC debug facility");
    EXPECT_NE(g_frameworkLog, nullptr);
    EXPECT_EQ(m_framework->GetCardServiceCount(), 0u);
}

// They fail before the framework has logs; then levels, colours and line ends.
TEST(LogFunctions, LevelsColoursAndLineEnds) {
    g_frameworkLog.reset();
    for (const auto& write : std::vector<std::function<void()>>{[] { Write("w", true); }, [] { Warning("w"); },
                                                                [] { __do_write(7, "%s", "w"); }})
        EXPECT_EQ(test::MessageOf(write), "Библиотека QXW не инициализирована.");
    auto recorder = std::make_shared<test::RecordingLog>();
    g_frameworkLog = recorder;
    Warning("careful");
    Write(std::string("plain"), false);
    Write(static_cast<const char*>(nullptr), true);
    __do_write(4, "%d-%s", 5, "a");
    g_frameworkLog.reset();
    std::vector<std::tuple<int32_t, int32_t, std::string>> records;
    for (const LogRecord& record : recorder->records) {
        records.emplace_back(record.level, record.colour, record.text);
        EXPECT_TRUE(record.source.empty());
    }
    EXPECT_EQ(records, (std::vector<std::tuple<int32_t, int32_t, std::string>>{{6, LevelColour(6), "careful\n"},
                                                                               {3, LevelColour(3), "plain"},
                                                                               {3, LevelColour(3), "\n"},
                                                                               {4, LevelColour(4), "5-a\n"}}));
}

// Scripts write what cards and files hold through these functions.
TEST(LogFunctions, ControlBytesOfTheTextsAreEscaped) {
    auto recorder = std::make_shared<test::RecordingLog>();
    g_frameworkLog = recorder;
    const std::string text =
        "Ключ\t\x1B[2J\xC2\x9B"
        "0m";
    Warning(text);
    Write(text, false);
    Write(text.c_str(), false);
    __do_write(4, "%s", text.c_str());
    g_frameworkLog.reset();
    std::vector<std::string> texts;
    for (const LogRecord& record : recorder->records) texts.push_back(record.text);
    const std::string shown = "Ключ\t\\x1B[2J\\xC2\\x9B0m";
    EXPECT_EQ(texts, (std::vector<std::string>{shown + "\n", shown, shown, shown + "\n"}));
}

// The process-wide framework as the console uses it, from start to finish.
TEST(ProcessFramework, ConsoleFunctionsFromStartToFinish) {
    SettingsDatabase settings = Database({{"reader", "#OSM"},
                                          {"file_log_on", "0"},
                                          {"os_version", "MORVA_1.92_S"},
                                          {"verbose", "Yes"},
                                          {"quiet", "off"},
                                          {"random_seed_value", "7FFFFFFF"}});
    testing::internal::CaptureStdout();
    InitFramework(settings);
    // The seed is a big-endian number that the minimal standard generator
    // (x' = 48271 x mod 2^31 - 1) reduces by its modulus: all ones give state 1.
    EXPECT_EQ(GetRandomEngine()(), 48271u);
    EXPECT_EQ(test::MessageOf([] { GetFramework().GetCardService(2); }), "Обращение к отсутствующему CardService");
    EXPECT_EQ(GetSettings(), &GetFramework().GetSettings());
    EXPECT_EQ(GetSetting("reader", "?") + GetSetting("no_such_key", "fallback"), "#OSMfallback");
    EXPECT_TRUE(HasSetting("READER") && GetBoolSetting("VERBOSE", false) && GetBoolSetting("no_such_key", true));
    EXPECT_FALSE(HasSetting("no_such_key") || GetBoolSetting("no_such_key", false) || GetBoolSetting("quiet", true));
    EXPECT_EQ(GetOsInfo().GetMinor(), 92);
    // The simulated card answers 6D00 to everything.
    EXPECT_EQ(SendCommand(ZORVIK_PLACE("test"), CApdu(0x00, 0xCA, 0x9F, 0x7F, 0), ST_ANY).GetSW(), 0x6D00);
    UpdateLastExchange();
    EXPECT_EQ(g_lastCommand.Encode(), Binary("00 CA 9F 7F"));
    EXPECT_EQ(g_lastResponse.GetSW(), 0x6D00);
    PowerOff();
    PowerOn();  // the console's power functions act on the first card service
    Reset();
    const auto* service = dynamic_cast<CardService*>(GetFramework().GetCardService(0));
    ASSERT_NE(service, nullptr);
    EXPECT_TRUE(service->GetReader()->IsPowered());
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
    EXPECT_TRUE(Contains(console, "Random seed (hex): 7FFFFFFF\n") && Contains(console, "Current time: "));
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

// A USB reader names itself: a name from the PC/SC list with ESC and the C1 CSI
// (C2 9B) is shown escaped in the reader table and the reader-name prefix, and
// reaches PC/SC as listed (pcsc-lite knows no such reader).
TEST_F(FactoryOverPcsc, ReaderNameFromThePcscListIsShownEscaped) {
    const std::string hostile =
        "USB \x1B]0;x\x07\xC2\x9B"
        "2J 00 00";
    const std::string dir = test::TestDir();
    SettingsDatabase settings = Database({{"reader", "#PCSC"},
                                          {"output_reader_name", "1"},
                                          {"log_dir", dir},
                                          {"log_name", "run"},
                                          {"console_log_on", "0"}});
    ReaderDiscovery discovery = ReaderDiscovery::System();
    discovery.listPcscReaders = [&](bool) { return std::vector<std::string>{hostile}; };
    SCFramework framework;
    framework.SetReaderDiscovery(discovery);
    EXPECT_TRUE(Contains(test::MessageOf([&] { framework.Start(settings); }), "Unknown reader specified"));
    g_frameworkLog.reset();
    auto* service = dynamic_cast<CardService*>(framework.GetCardService(0));
    ASSERT_NE(service, nullptr);
    EXPECT_EQ(service->GetReaderName(), hostile);
    const std::string log = test::ReadFile(dir + "run.log");
    // The frame fits the line as shown: 41 characters and a blank on each side.
    const std::string frame = "+" + std::string(43, '-') + "+\n";
    EXPECT_TRUE(Contains(log, frame + "| Reader : USB \\x1B]0;x\\x07\\xC2\\x9B2J 00 00 |\n" + frame)) << log;
    EXPECT_TRUE(Contains(log, "[Reader: USB \\x1B]0;x\\x07\\xC2\\x9B2J 00 00]Power on\n")) << log;
    EXPECT_FALSE(Contains(log, "\x1B") || Contains(log, "\xC2\x9B"));
}

}  // namespace
}  // namespace ZORVIK
