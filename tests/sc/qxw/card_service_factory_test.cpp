// The card-service factory: the declared settings of a reader group, the reader
// kind of a name, the reader for each kind, the APDU log and the OS version.
#include "sc/qxw/card_service_factory.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "sc/card_service/card_service.h"
#include "sc/card_service/expected_status.h"
#include "sc/drivers/derimdirect/derimdirect_reader.h"
#include "sc/drivers/iso/iso_reader.h"
#include "sc/drivers/osm/osm_reader.h"
#include "sc/qxw/settings_declarations.h"
#include "service/log/recording_log.h"
#include "service/program_settings/settings_database.h"
#include "support/derim_server.h"
#include "support/error_text.h"
#include "support/serial_reader_emulator.h"
#include "support/test_dir.h"

namespace ZORVIK {
namespace {

using binary::Binary;
using test::DerimServer;
using test::MessageOf;

// The settings validated under the prefix, as the factory sees them; the error text when they are refused.
std::string Validate(SettingsDatabase& settings, const DescriptionGroup& group, const std::string& prefix = "") {
    return MessageOf([&] { SettingsValidator(settings).ValidateGroup(group, prefix); });
}

std::string Refused(const char* setting, const char* condition) {
    return std::string("Значение настройки \"") + setting +
           "\" не удовлетворяет заданным для нее условиям: " + condition;
}

TEST(DeclaredSettings, ValuesOutsideTheirConditionsAreRefused) {
    const std::tuple<const DescriptionGroup*, const char*, const char*, std::string> rows[] = {
        {&qxw::FrameworkSettings(), "random_seed_value", "7F FF FF FF", "(no error)"},
        {&qxw::FrameworkSettings(), "random_seed_value", "7FFFFF",
         Refused("random_seed_value = 7FFFFF", "bin (4 bytes)")},
        {&qxw::FrameworkLogSettings(), "_LOGGING_LEVEL", "8", "(no error)"},
        {&qxw::FrameworkLogSettings(), "l", "0", Refused("log_level = 0", "1..8")},
        {&qxw::CardWorkSettings(), "af", "GP",
         Refused("apdu_convert_format = GP", "skarna|gp|jcshell|goznak|ruzo|none")},
        {&qxw::CardWorkSettings(), "apdu_verbose_level", "3", Refused("apdu_verbose_level = 3", "0..2")},
        {&qxw::TransportSettings(), "envelope_mode", "Smart", Refused("envelope_mode = Smart", "smart|force|null")},
    };
    for (const auto& [group, key, value, error] : rows) {
        SettingsDatabase settings;
        settings.AddSetting(key, value, Set);
        EXPECT_EQ(Validate(settings, *group), error) << key << " = " << value;
    }
}

// Kinds 7 (OMNIKEY 5x21-CL), 9, 11, 14, 15 and 17 are contactless, 7 also
// cold-resets always; PC/SC names lose their index before the lookup.
TEST(ReaderKind, NameGivesTheKindAndTheKindTheContactlessDefaults) {
    SettingsDatabase settings;
    Validate(settings, qxw::CardWorkSettings());
    const std::tuple<const char*, int32_t, bool, bool> rows[] = {
        {"#OSM", 0, false, false},
        {"#osm", 21, false, false},
        {"", 20, false, false},
        {"#DERIMDIRECT", 4, false, false},
        {"SCTL VSCR 1", 5, false, false},
        {"OMNIKEY CardMan 5x21-CL 0", 7, true, true},
        {"OMNIKEY CardMan 5x21-CL", 21, false, false},  // without its index the last word is cut off instead
        {"SCM Microsystems Inc. SDI011G Contactless Reader 0", 9, true, false},
        {"ACS ACR122U PICC Interface 0", 11, true, false},
        {"IE SmartID/CCID 0", 14, true, false},
        {"Intech USB Reader 0", 15, true, false},
        {"#MP300_CL", 17, true, false},
    };
    for (const auto& [name, kind, cless, coldReset] : rows) {
        EXPECT_EQ(CardServiceFactory::GetReaderKind(name), kind) << name;
        const CardServiceSettings read = CardServiceFactory::ReadCardServiceSettings(settings, "", kind);
        EXPECT_EQ(read.cless, cless) << name;
        EXPECT_EQ(read.cold_reset_always, coldReset) << name;
    }
    // Given values win over the kind's defaults.
    settings.AddSetting("cless", "0", Set);
    settings.AddSetting("cold_reset_always", "no", Set);
    const CardServiceSettings given = CardServiceFactory::ReadCardServiceSettings(settings, "", 7);
    EXPECT_FALSE(given.cless || given.cold_reset_always);
}

// Every flag is read under the group's prefix (aliases moved there), the envelope mode under its plain name.
TEST(CardServiceSettingsOfAGroup, SecondGroupReadsPrefixedKeysButOneEnvelopeMode) {
    SettingsDatabase settings;
    for (const char* key : {"p", "o", "z", "t0"}) settings.AddSetting(std::string("reader2.") + key, "0", Set);
    for (const char* key :
         {"randomize_ram", "force_extended_apdu", "tp", "output_reader_name", "tl", "get_resp_cla_00"})
        settings.AddSetting(std::string("reader2.") + key, "1", Set);
    settings.AddSetting("reader2.t", "T0", Set);
    settings.AddSetting("envelope_mode", "force", Set);
    settings.AddSetting("reader2.envelope_mode", "null", Set);
    for (const std::string prefix : {"", "reader2."}) {
        Validate(settings, qxw::CardWorkSettings(), prefix);
        Validate(settings, qxw::TransportSettings(), prefix);
    }
    const CardServiceSettings second = CardServiceFactory::ReadCardServiceSettings(settings, "reader2.", 0);
    EXPECT_FALSE(second.power_on || second.power_off || second.get_last_error);
    EXPECT_TRUE(second.randomize_ram && second.force_extended_apdu && second.time_profiling &&
                second.output_reader_name);
    const ReaderParams params = CardServiceFactory::ReadReaderParams(settings, "reader2.");
    EXPECT_FALSE(params.auto_t0);
    EXPECT_TRUE(params.get_resp_cla_00 && params.transport_log);
    EXPECT_EQ(params.protocols, std::vector<uint32_t>{0});
    EXPECT_EQ(params.envelope_mode, EnvelopeForce);

    const CardServiceSettings first = CardServiceFactory::ReadCardServiceSettings(settings, "", 0);
    EXPECT_TRUE(first.power_on && first.power_off && first.get_last_error);
    EXPECT_FALSE(first.randomize_ram || first.force_extended_apdu || first.time_profiling || first.output_reader_name);
    const ReaderParams firstParams = CardServiceFactory::ReadReaderParams(settings, "");
    EXPECT_TRUE(firstParams.auto_t0);
    EXPECT_FALSE(firstParams.transport_log || firstParams.get_resp_cla_00);
    EXPECT_EQ(firstParams.protocols, (std::vector<uint32_t>{1, 0}));
}

TEST(ReaderParamsOfAGroup, TransportProtocolsKeepTheWrittenOrder) {
    const std::pair<const char*, std::vector<uint32_t>> rows[] = {
        {"T0", {0}}, {"T0, T1", {0, 1}}, {"", {1, 0}}, {" T1 ,T0 ", {1, 0}}, {"T1,,T1", {1, 1}},
        {"T2", {}},  {"t0", {}},         {"T01", {}},  {"T0, T", {}}};
    for (const auto& [text, protocols] : rows) {
        SettingsDatabase settings;
        settings.AddSetting("transport_protocols", text, Set);
        Validate(settings, qxw::TransportSettings());
        const std::string error = MessageOf(
            [&] { EXPECT_EQ(CardServiceFactory::ReadReaderParams(settings, "").protocols, protocols) << text; });
        EXPECT_EQ(error, protocols.empty() ? "Некорректный транспортный протокол контактного интерфейса" : "(no error)")
            << text;
    }
}

// Card services made by a factory in a directory of their own.
class Factory : public ::testing::Test {
protected:
    Factory() {
        Set("reader", "#OSM");
        Set("power_on", "0");
    }
    void Set(const std::string& key, const std::string& value) { m_settings.AddSetting(key, value, ZORVIK::Set); }
    std::shared_ptr<CardService> Create(const std::string& group = "reader") {
        return m_factory.CreateCardService(m_settings, group, m_log);
    }

    const std::string m_dir = test::TestDir();
    SettingsDatabase m_settings;
    std::shared_ptr<test::RecordingLog> m_log = std::make_shared<test::RecordingLog>();
    CardServiceFactory m_factory{nullptr};
};

TEST_F(Factory, SimulatedCardWithTheGivenOsVersion) {
    Set("os", "MORVA_1.92_S");
    const std::shared_ptr<CardService> service = Create();
    EXPECT_NE(dynamic_cast<OSMReader*>(service->GetReader()), nullptr);
    EXPECT_EQ(service->GetOsInfo().GetText(), "morva_1.92_s");
    EXPECT_EQ(m_settings.GetString("apdu_convert_format"), "none");  // the group was validated
    EXPECT_FALSE(service->GetReader()->IsPowered());
    EXPECT_EQ(MessageOf([&] { Create("reader2"); }), "Не задана обязательная настройка \"reader2\"");
    // Mifare emulation is for the OMNIKEY contactless reader alone.
    Set("mifare_emulation", "1");
    EXPECT_EQ(MessageOf([&] { CardServiceFactory::CreateReader({}, 8, ReaderParams(), m_settings, nullptr); }),
              "Режим эмуляции Mifare на стороне считывателя поддерживается только для считок OmniKey");
}

TEST_F(Factory, ApduLogPathIsLogDirAndFileNameJoinedAsTextAndFormatNoneWritesNone) {
    Set("log_dir", m_dir + "run_");
    Set("an", "apdu.txt");
    Create()->PowerOn();
    EXPECT_FALSE(std::filesystem::exists(m_dir + "run_apdu.txt"));
    Set("af", "skarna");
    Create()->PowerOn();
    EXPECT_TRUE(std::filesystem::exists(m_dir + "run_apdu.txt"));
}

// A card behind the direct-network server that knows GET CARD INFO: 32 bytes,
// 16 of other card data, then the version text padded with zeros.
TEST_F(Factory, DirectNetworkReaderAndOsVersionAutodetection) {
    DerimServer server(DerimServer::Card(Binary("3B 00"), [](const Binary& apdu) {
        if (apdu != Binary("80 06 03 00 20")) return Binary("6D00");
        std::string info = std::string(16, '\x11') + "MORVA_2.05_X";
        info.resize(32, '\0');
        return Binary("9000") + Binary(info.begin(), info.end());
    }));
    Set("reader2", "#DERIMDIRECT");
    Set("derimdirect_port", std::to_string(server.Port()));
    Set("reader2.os_version", "#autodetect");
    // The second group asks under its own prefix; the first keeps no version.
    EXPECT_FALSE(Create("reader")->GetOsInfo().IsVersionSet());
    std::shared_ptr<CardService> service = Create("reader2");
    EXPECT_NE(dynamic_cast<DerimDirect_Reader*>(service->GetReader()), nullptr);
    EXPECT_EQ(service->GetOsInfo().GetText(), "morva_2.05_x");
    // Powered on for the question and off again afterwards.
    std::vector<uint8_t> types;
    for (const DerimServer::Request& request : server.Requests()) types.push_back(request.type);
    EXPECT_EQ(types, (std::vector<uint8_t>{0, 3, 2}));

    // A card that refuses GET CARD INFO (and GET LAST ERROR): the card service's
    // error passes on, and only a card service that got its version counts as made.
    DerimServer refusing(DerimServer::Card(Binary("3B 00"), [](const Binary&) { return Binary("6D00"); }));
    Set("derimdirect_port", std::to_string(refusing.Port()));
    Set("reader", "#DERIMDIRECT");
    Set("os_version", "#autodetect");
    service.reset();
    EXPECT_EQ(MessageOf([&] { Create(); }),
              "Неправильный статус. Ожидался: OK, карта вернула: 6D00.\nGET LAST ERROR не отработал");
    EXPECT_TRUE(m_factory.IsReaderFree("#DERIMDIRECT"));
}

TEST_F(Factory, SerialReaderOnThePortOfVportWithTheGroupsTransportSettings) {
    test::SerialReaderEmulator device([](const CApdu&) { return RApdu(Binary("9000")); },
                                      {.atr = Binary("3B 02 14 50")});
    Set("reader", "#SIM");
    Set("VPORT", device.PortPath());
    Set("WTX_TIMEOUT", "2000");
    Set("t", "T0");
    const std::shared_ptr<CardService> service = Create();
    EXPECT_NE(dynamic_cast<ISOReader*>(service->GetReader()), nullptr);
    EXPECT_EQ(service->GetReader()->GetParams().protocols, std::vector<uint32_t>{0});
    service->PowerOn();
    EXPECT_EQ(service->Command(CApdu(0x00, 0xA4, 0x00, 0x00, 0), ST_OK).GetSW(), 0x9000);
    EXPECT_EQ(device.Commands().size(), 1u);
}

}  // namespace
}  // namespace ZORVIK
