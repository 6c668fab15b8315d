// The declared settings of the framework and the card service: the defaults
// that validation stores, the aliases, the types and the refusals.
#include "sc/qxw/settings_declarations.h"

#include <gtest/gtest.h>

#include "service/common/exception.h"
#include "service/program_settings/settings_sources.h"
#include "support/error_text.h"

namespace ZORVIK {
namespace {

using Pairs = SettingsDatabase::Pairs;

std::string ValidationError(const DescriptionGroup& group, const std::string& key, const std::string& value) {
    SettingsDatabase settings;
    settings.AddSetting(key, value, Set);
    const std::string error = test::MessageOf([&] { SettingsValidator(settings).ValidateGroup(group, ""); });
    return error == "(no error)" ? "<valid>" : error;
}

// Validation of an empty database stores exactly the declared defaults: the
// keys without a default (cless, cold_reset_always, apdu_file_name, log_dir ...)
// stay absent.
TEST(DeclaredSettings, EveryGroupStoresItsDefaultsAndNothingElse) {
    const struct {
        const char* name;
        const DescriptionGroup& group;
        Pairs defaults;  // in key order
    } groups[] = {
        {"framework", qxw::FrameworkSettings(), {}},
        {"framework logging",
         qxw::FrameworkLogSettings(),
         {{"console_log_on", "1"}, {"file_log_on", "1"}, {"log_level", "1"}}},
        {"card-service logging", qxw::CardServiceLogSettings(), {}},
        {"card work",
         qxw::CardWorkSettings(),
         {{"apdu_convert_format", "none"},
          {"apdu_verbose_level", "2"},
          {"disable_user_input", "0"},
          {"force_extended_apdu", "0"},
          {"get_last_error", "1"},
          {"output_reader_name", "0"},
          {"power_off", "1"},
          {"power_on", "1"},
          {"randomize_ram", "0"},
          {"time_profiling", "0"},
          {"transport_log", "0"},
          {"transport_protocols", "T1, T0"}}},
        {"transport",
         qxw::TransportSettings(),
         {{"auto_t0", "1"}, {"envelope_mode", "smart"}, {"get_resp_cla_00", "0"}}},
        {"operating system", qxw::OsSettings(), {}},
    };
    for (const auto& [name, group, defaults] : groups) {
        SettingsDatabase settings;
        SettingsValidator(settings).ValidateGroup(group, "");
        EXPECT_EQ(settings.GetGroup(""), defaults) << name;
        // Under a further group's prefix the same defaults go under that prefix.
        SettingsDatabase prefixed;
        SettingsValidator(prefixed).ValidateGroup(group, "reader2.");
        Pairs expected;
        for (const auto& [key, value] : defaults) expected.emplace_back("reader2." + key, value);
        EXPECT_EQ(prefixed.GetGroup(""), expected) << name;
    }
}

// An alias given for a further reader group moves under its prefix with the key's own name.
TEST(DeclaredSettings, FurtherReaderGroupMovesAliasesUnderItsPrefix) {
    SettingsDatabase settings;
    for (const auto& [alias, value] :
         {std::pair{"reader2.p", "0"}, std::pair{"reader2.o", "0"}, std::pair{"reader2.af", "gp"},
          std::pair{"reader2.an", "a.log"}, std::pair{"reader2.al", "1"}, std::pair{"reader2.t", "T0"},
          std::pair{"reader2.tp", "1"}, std::pair{"reader2.z", "0"}, std::pair{"reader2.tl", "1"}})
        settings.AddSetting(alias, value, Set);
    SettingsValidator(settings).ValidateGroup(qxw::CardWorkSettings(), "reader2.");
    const std::pair<const char*, const char*> stored[] = {
        {"reader2.power_on", "0"},           {"reader2.power_off", "0"},          {"reader2.apdu_convert_format", "gp"},
        {"reader2.apdu_file_name", "a.log"}, {"reader2.apdu_verbose_level", "1"}, {"reader2.transport_protocols", "T0"},
        {"reader2.time_profiling", "1"},     {"reader2.get_last_error", "0"},     {"reader2.transport_log", "1"},
    };
    for (const auto& [key, value] : stored) EXPECT_EQ(settings.GetString(key), value) << key;
    EXPECT_FALSE(settings.Has("reader2.p") || settings.Has("power_on"));
    SettingsDatabase transport;
    transport.AddSetting("reader2.t0", "0", Set);
    SettingsValidator(transport).ValidateGroup(qxw::TransportSettings(), "reader2.");
    EXPECT_EQ(transport.GetString("reader2.auto_t0"), "0");
}

// Values are compared exactly: "GP" is refused, an int range takes decimal digits within it.
TEST(DeclaredSettings, ValuesOutsideTheirConditionsAreRefused) {
    const std::tuple<const DescriptionGroup&, const char*, const char*, bool> cases[] = {
        {qxw::CardWorkSettings(), "apdu_convert_format", "gp", true},
        {qxw::CardWorkSettings(), "apdu_convert_format", "GP", false},
        {qxw::CardWorkSettings(), "apdu_convert_format", "ruzo", true},
        {qxw::CardWorkSettings(), "apdu_verbose_level", "0", true},
        {qxw::CardWorkSettings(), "apdu_verbose_level", "3", false},
        {qxw::CardWorkSettings(), "power_on", "y", false},
        {qxw::CardWorkSettings(), "power_on", "YES", true},
        {qxw::CardWorkSettings(), "transport_protocols", "T7", true},  // any text: the factory refuses it
        {qxw::TransportSettings(), "envelope_mode", "null", true},
        {qxw::TransportSettings(), "envelope_mode", "Smart", false},
        {qxw::FrameworkSettings(), "reader", "some reader 0", true},
        {qxw::OsSettings(), "os_version", "anything", true},
    };
    for (const auto& [group, key, value, valid] : cases)
        EXPECT_EQ(ValidationError(group, key, value) == "<valid>", valid) << key << " = " << value;
}

TEST(DeclaredSettings, LevelFromTheCommandLineIsStoredUnderItsName) {
    SettingsDatabase settings;
    const char* argv[] = {"qxw", "-l=5"};
    AddCommandLineSettings(2, argv, settings, false);
    SettingsValidator(settings).ValidateGroup(qxw::FrameworkLogSettings(), "");
    EXPECT_EQ(settings.GetString("log_level"), "5");
    EXPECT_FALSE(settings.Has("l"));
}

TEST(DeclaredSettings, LevelOutsideOneToEightIsRefused) {
    for (const char* level : {"9", "0", "-1"}) {
        EXPECT_EQ(ValidationError(qxw::FrameworkLogSettings(), "log_level", level),
                  std::string("Значение настройки \"log_level = ") + level +
                      "\" не удовлетворяет заданным для нее условиям: 1..8");
    }
    for (const char* level : {"1", "8"})
        EXPECT_EQ(ValidationError(qxw::FrameworkLogSettings(), "log_level", level), "<valid>");
    EXPECT_EQ(ValidationError(qxw::FrameworkLogSettings(), "_LOGGING_LEVEL", "8"), "<valid>");
}

TEST(DeclaredSettings, RandomSeedIsExactlyFourBytesOfHex) {
    for (const char* seed : {"7FFFFFFF", "7F FF FF FF"})
        EXPECT_EQ(ValidationError(qxw::FrameworkSettings(), "random_seed_value", seed), "<valid>");
    for (const std::string seed : {"7FFFFF", "7FFFFFFF00", "XYZ"}) {
        EXPECT_EQ(ValidationError(qxw::FrameworkSettings(), "random_seed_value", seed),
                  "Значение настройки \"random_seed_value = " + seed +
                      "\" не удовлетворяет заданным для нее условиям: bin (4 bytes)");
    }
}

TEST(DeclaredSettings, ReaderAliasesAndTheOptionalVersion) {
    SettingsDatabase settings;
    settings.AddSetting("A", "some reader 0", Set);
    settings.AddSetting("B", "#OSM", Set);
    settings.AddSetting("os", "#autodetect", Set);
    SettingsValidator(settings).ValidateGroup(qxw::FrameworkSettings(), "");
    SettingsValidator(settings).ValidateGroup(qxw::OsSettings(), "");
    EXPECT_EQ(settings.GetString("reader"), "some reader 0");
    EXPECT_EQ(settings.GetString("reader2"), "#OSM");
    EXPECT_EQ(settings.GetString("os_version"), "#autodetect");
    EXPECT_FALSE(settings.Has("random_seed_value"));
}

}  // namespace
}  // namespace ZORVIK
