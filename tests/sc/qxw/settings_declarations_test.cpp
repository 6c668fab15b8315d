// The declared settings of the framework and the card service: defaults,
// aliases, types and the refusals the validation gives.
#include "sc/qxw/settings_declarations.h"

#include <gtest/gtest.h>

#include "service/common/exception.h"
#include "service/program_settings/settings_sources.h"

namespace ZORVIK {
namespace {

std::string ValidationError(const DescriptionGroup& group, SettingsDatabase& settings, const std::string& prefix = "") {
    try {
        SettingsValidator(settings).ValidateGroup(group, prefix);
    } catch (const Exception& e) {
        return e.what();
    }
    return "<valid>";
}

std::string ValidationError(const DescriptionGroup& group, const std::string& key, const std::string& value) {
    SettingsDatabase settings;
    settings.AddSetting(key, value, Set);
    return ValidationError(group, settings);
}

// The defaults themselves are in the help golden file; the factory's tests
// read them through a validated group, and rely on cless, cold_reset_always and
// apdu_file_name staying absent.
TEST(CardWorkSettings, FurtherReaderGroupMovesAliasesUnderItsPrefix) {
    SettingsDatabase settings;
    settings.AddSetting("reader2.p", "0", Set);
    settings.AddSetting("reader2.af", "gp", Set);
    SettingsValidator(settings).ValidateGroup(qxw::CardWorkSettings(), "reader2.");
    EXPECT_EQ(settings.GetString("reader2.power_on"), "0");
    EXPECT_EQ(settings.GetString("reader2.apdu_convert_format"), "gp");
    EXPECT_FALSE(settings.Has("reader2.p"));
    EXPECT_FALSE(settings.Has("power_on"));
}

// Values are compared exactly: "GP" is refused (the factory's tests check the text).
TEST(CardWorkSettings, ValuesOutsideTheirConditionsAreRefused) {
    const std::tuple<const char*, const char*, bool> cases[] = {{"apdu_convert_format", "gp", true},
                                                                {"apdu_convert_format", "GP", false},
                                                                {"apdu_verbose_level", "3", false},
                                                                {"power_on", "y", false}};
    for (const auto& [key, value, valid] : cases)
        EXPECT_EQ(ValidationError(qxw::CardWorkSettings(), key, value) == "<valid>", valid) << key << value;
}

TEST(FrameworkLogSettings, LevelFromTheCommandLineIsStoredUnderItsName) {
    SettingsDatabase settings;
    const char* argv[] = {"qxw", "-l=5"};
    AddCommandLineSettings(2, argv, settings, false);
    SettingsValidator(settings).ValidateGroup(qxw::FrameworkLogSettings(), "");
    EXPECT_EQ(settings.GetString("log_level"), "5");
    EXPECT_FALSE(settings.Has("l"));
    EXPECT_EQ(settings.GetString("console_log_on"), "1");
    EXPECT_EQ(settings.GetString("file_log_on"), "1");
    EXPECT_FALSE(settings.Has("log_dir"));
}

TEST(FrameworkLogSettings, LevelOutsideOneToEightIsRefused) {
    for (const char* level : {"9", "0", "-1"}) {
        const std::string error = ValidationError(qxw::FrameworkLogSettings(), "log_level", level);
        EXPECT_EQ(error, std::string("Значение настройки \"log_level = ") + level +
                             "\" не удовлетворяет заданным для нее условиям: 1..8");
    }
    EXPECT_EQ(ValidationError(qxw::FrameworkLogSettings(), "_LOGGING_LEVEL", "8"), "<valid>");
}

TEST(FrameworkSettings, RandomSeedIsExactlyFourBytesOfHex) {
    for (const char* seed : {"7FFFFFFF", "7F FF FF FF"})
        EXPECT_EQ(ValidationError(qxw::FrameworkSettings(), "random_seed_value", seed), "<valid>");
    for (const std::string seed : {"7FFFFF", "7FFFFFFF00", "XYZ"}) {
        EXPECT_EQ(ValidationError(qxw::FrameworkSettings(), "random_seed_value", seed),
                  "Значение настройки \"random_seed_value = " + seed +
                      "\" не удовлетворяет заданным для нее условиям: bin (4 bytes)");
    }
}

TEST(FrameworkSettings, ReaderAcceptsAnyTextAndIsOptional) {
    SettingsDatabase settings;
    settings.AddSetting("A", "some reader 0", Set);
    SettingsValidator(settings).ValidateGroup(qxw::FrameworkSettings(), "");
    EXPECT_EQ(settings.GetString("reader"), "some reader 0");
    EXPECT_FALSE(settings.Has("reader2"));
    EXPECT_FALSE(settings.Has("random_seed_value"));
}

TEST(TransportAndOsSettings, DefaultsEnvelopeModesAndTheOptionalVersion) {
    SettingsDatabase settings;
    SettingsValidator(settings).ValidateGroup(qxw::TransportSettings(), "");
    SettingsValidator(settings).ValidateGroup(qxw::OsSettings(), "");
    EXPECT_EQ(settings.GetString("auto_t0"), "1");
    EXPECT_EQ(settings.GetString("get_resp_cla_00"), "0");
    EXPECT_EQ(settings.GetString("envelope_mode"), "smart");
    EXPECT_FALSE(settings.Has("os_version"));
    EXPECT_EQ(ValidationError(qxw::TransportSettings(), "envelope_mode", "null"), "<valid>");
    EXPECT_NE(ValidationError(qxw::TransportSettings(), "envelope_mode", "Smart"), "<valid>");
    settings.AddSetting("os", "#autodetect", Set);
    SettingsValidator(settings).ValidateGroup(qxw::OsSettings(), "");
    EXPECT_EQ(settings.GetString("os_version"), "#autodetect");
}

}  // namespace
}  // namespace ZORVIK
