// The framework as the console uses it: seeding, its card service, the free
// functions of the console and the wait for a card.
#include "sc/qxw/framework.h"

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "sc/card_service/card_service.h"
#include "sc/card_service/expected_status.h"
#include "sc/exchange/reader.h"
#include "sc/qxw/log_util.h"
#include "service/log/recording_log.h"
#include "service/program_settings/settings_database.h"
#include "support/error_text.h"
#include "support/file_text.h"
#include "support/pcsc_fixture.h"

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
    SettingsDatabase settings = Database({{"reader", "#OSM"},
                                          {"file_log_on", "0"},
                                          {"os_version", "MORVA_1.92_S"},
                                          {"verbose", "Yes"},
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

}  // namespace
}  // namespace ZORVIK
