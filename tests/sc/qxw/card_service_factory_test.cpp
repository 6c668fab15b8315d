// The card-service factory: settings of a reader group, the reader for each
// kind, the APDU log and the OS version.
#include "sc/qxw/card_service_factory.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "sc/card_service/card_service.h"
#include "sc/card_service/expected_status.h"
#include "sc/drivers/derimdirect/derimdirect_reader.h"
#include "sc/drivers/iso/iso_reader.h"
#include "sc/drivers/osm/osm_reader.h"
#include "sc/exchange/reader.h"
#include "sc/qxw/settings_declarations.h"
#include "service/common/exception.h"
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

// A validated database, as the factory sees it after its validation step.
SettingsDatabase Validated(std::initializer_list<std::pair<const char*, const char*>> values,
                           const std::string& prefix = "") {
    SettingsDatabase settings;
    for (const auto& [key, value] : values) settings.AddSetting(key, value, Set);
    SettingsValidator validator(settings);
    validator.ValidateGroup(qxw::CardWorkSettings(), "");
    validator.ValidateGroup(qxw::TransportSettings(), "");
    if (!prefix.empty()) {
        validator.ValidateGroup(qxw::CardWorkSettings(), prefix);
        validator.ValidateGroup(qxw::TransportSettings(), prefix);
    }
    return settings;
}

// Kinds 7 (OMNIKEY 5x21-CL) and 17 (MP300 CL) are contactless, 7 also cold-resets always.
TEST(CardServiceSettingsOfAGroup, ContactlessAndColdResetDefaultsFollowTheReaderKind) {
    const SettingsDatabase settings = Validated({});
    const std::tuple<int32_t, bool, bool> kinds[] = {
        {7, true, true},   {8, false, false}, {17, true, false},  {18, false, false}, {9, true, false},
        {11, true, false}, {14, true, false}, {15, true, false},  {0, false, false},  {2, false, false},
        {4, false, false}, {5, false, false}, {20, false, false}, {21, false, false}};
    for (const auto& [kind, cless, coldReset] : kinds) {
        const CardServiceSettings read = CardServiceFactory::ReadCardServiceSettings(settings, "", kind);
        EXPECT_EQ(read.cless, cless) << kind;
        EXPECT_EQ(read.cold_reset_always, coldReset) << kind;
    }
    // Given values win over the kind's defaults.
    const CardServiceSettings given =
        CardServiceFactory::ReadCardServiceSettings(Validated({{"cless", "0"}, {"cold_reset_always", "no"}}), "", 7);
    EXPECT_FALSE(given.cless);
    EXPECT_FALSE(given.cold_reset_always);
}

TEST(CardServiceSettingsOfAGroup, DeclaredDefaultsGiveTheFlags) {
    const CardServiceSettings read = CardServiceFactory::ReadCardServiceSettings(Validated({}), "", 0);
    EXPECT_TRUE(read.power_on);
    EXPECT_TRUE(read.power_off);
    EXPECT_TRUE(read.get_last_error);
    EXPECT_FALSE(read.randomize_ram);
    EXPECT_FALSE(read.force_extended_apdu);
    EXPECT_FALSE(read.time_profiling);
    EXPECT_FALSE(read.output_reader_name);
    EXPECT_EQ(read.readerKind, 0);
}

TEST(CardServiceSettingsOfAGroup, SecondGroupReadsPrefixedKeysButOneEnvelopeMode) {
    const SettingsDatabase settings = Validated({{"reader2.power_on", "0"},
                                                 {"reader2.t0", "0"},
                                                 {"reader2.t", "T0"},
                                                 {"reader2.tl", "1"},
                                                 {"reader2.get_resp_cla_00", "1"},
                                                 {"envelope_mode", "force"},
                                                 {"reader2.envelope_mode", "null"},
                                                 {"time_profiling", "1"}},
                                                "reader2.");
    const CardServiceSettings second = CardServiceFactory::ReadCardServiceSettings(settings, "reader2.", 0);
    EXPECT_FALSE(second.power_on);
    EXPECT_FALSE(second.time_profiling);  // the plain key belongs to the first group
    const ReaderParams params = CardServiceFactory::ReadReaderParams(settings, "reader2.");
    EXPECT_FALSE(params.auto_t0);
    EXPECT_TRUE(params.get_resp_cla_00);
    EXPECT_TRUE(params.transport_log);
    EXPECT_EQ(params.protocols, std::vector<uint32_t>{0});
    EXPECT_EQ(params.envelope_mode, EnvelopeForce);

    const ReaderParams first = CardServiceFactory::ReadReaderParams(settings, "");
    EXPECT_TRUE(first.auto_t0);
    EXPECT_FALSE(first.transport_log);
    EXPECT_EQ(first.protocols, (std::vector<uint32_t>{1, 0}));
}

TEST(ReaderParamsOfAGroup, TransportProtocolLists) {
    const std::vector<std::pair<const char*, std::vector<uint32_t>>> cases = {
        {"T0", {0}}, {"T0, T1", {0, 1}}, {"", {1, 0}}, {" T1 ,T0 ", {1, 0}}, {"T1,,T1", {1, 1}}};
    for (const auto& [text, protocols] : cases) {
        const SettingsDatabase settings = Validated({{"transport_protocols", text}});
        EXPECT_EQ(CardServiceFactory::ReadReaderParams(settings, "").protocols, protocols) << text;
    }
    for (const char* text : {"T2", "t0", "T01", "T0, T"}) {
        const SettingsDatabase settings = Validated({{"transport_protocols", text}});
        EXPECT_EQ(test::MessageOf([&] { CardServiceFactory::ReadReaderParams(settings, ""); }),
                  "Некорректный транспортный протокол контактного интерфейса")
            << text;
    }
}

TEST(ReaderParamsOfAGroup, EnvelopeModesAndTheRefusal) {
    const std::vector<std::pair<const char*, uint32_t>> modes = {
        {"smart", EnvelopeSmart}, {"force", EnvelopeForce}, {"null", EnvelopeNull}};
    for (const auto& [text, mode] : modes) {
        SettingsDatabase settings = Validated({});
        settings.AddSetting("envelope_mode", text, Set);
        EXPECT_EQ(CardServiceFactory::ReadReaderParams(settings, "").envelope_mode, mode) << text;
    }
    SettingsDatabase settings = Validated({});
    settings.AddSetting("envelope_mode", "Smart", Set);
    EXPECT_EQ(test::MessageOf([&] { CardServiceFactory::ReadReaderParams(settings, ""); }),
              "Некорректный режим Envelope");
}

// Card services made by a factory in a directory of their own.
class Factory : public ::testing::Test {
protected:
    Factory() {
        m_settings.AddSetting("reader", "#OSM", Set);
        m_settings.AddSetting("power_on", "0", Set);
    }

    std::shared_ptr<CardService> Create(const std::string& group = "reader") {
        return m_factory.CreateCardService(m_settings, group, m_log);
    }

    const std::string m_dir = test::TestDir();
    SettingsDatabase m_settings;
    std::shared_ptr<test::RecordingLog> m_log = std::make_shared<test::RecordingLog>();
    CardServiceFactory m_factory{nullptr};
};

TEST_F(Factory, SimulatedCardWithItsDefaults) {
    const std::shared_ptr<CardService> service = Create();
    EXPECT_EQ(service->GetReaderName(), "#OSM");
    EXPECT_NE(dynamic_cast<OSMReader*>(service->GetReader()), nullptr);
    EXPECT_FALSE(service->GetOsInfo().IsVersionSet());
    // The validation of the group filled in the declared defaults.
    EXPECT_EQ(m_settings.GetString("apdu_convert_format"), "none");
    EXPECT_EQ(m_settings.GetString("envelope_mode"), "smart");
    service->PowerOn();
    EXPECT_TRUE(service->GetReader()->IsPowered());
}

TEST_F(Factory, MissingReaderOrInvalidValueOfTheGroupIsRefusedBeforeAnythingIsBuilt) {
    EXPECT_EQ(test::MessageOf([&] { Create("reader2"); }), "Не задана обязательная настройка \"reader2\"");
    m_settings.AddSetting("reader2", "#DERIMDIRECT", Set);
    m_settings.AddSetting("reader2.af", "GP", Set);
    EXPECT_EQ(test::MessageOf([&] { Create("reader2"); }),
              "Значение настройки \"apdu_convert_format = GP\" не удовлетворяет заданным для нее условиям: "
              "skarna|gp|jcshell|goznak|ruzo|none");
}

TEST_F(Factory, GpApduLogWithoutFileNameGoesToTheWorkingDirectory) {
    const std::string saved = std::filesystem::current_path();
    std::filesystem::current_path(m_dir);
    m_settings.AddSetting("apdu_convert_format", "gp", Set);
    {
        const std::shared_ptr<CardService> service = Create();
        service->PowerOn();
    }
    std::filesystem::current_path(saved);
    EXPECT_TRUE(std::filesystem::exists(m_dir + "gp.log"));
}

TEST_F(Factory, ApduLogPathIsLogDirAndFileNameJoinedAsTextAndFormatNoneWritesNone) {
    m_settings.AddSetting("log_dir", m_dir + "run_", Set);
    m_settings.AddSetting("an", "apdu.txt", Set);
    Create()->PowerOn();
    EXPECT_FALSE(std::filesystem::exists(m_dir + "run_apdu.txt"));
    m_settings.AddSetting("af", "skarna", Set);
    Create()->PowerOn();
    EXPECT_TRUE(std::filesystem::exists(m_dir + "run_apdu.txt"));
}

TEST_F(Factory, SimulatedCardSavesItsImageToESAndRefusesOneOfTheWrongSize) {
    m_settings.AddSetting("ES", m_dir + "image.bin", Set);
    Create().reset();
    ASSERT_TRUE(std::filesystem::exists(m_dir + "image.bin"));
    EXPECT_EQ(std::filesystem::file_size(m_dir + "image.bin"), 0x12000u);
    std::ofstream(m_dir + "short.bin") << "too short";
    m_settings.AddSetting("EL", m_dir + "short.bin", Set);
    EXPECT_NE(test::MessageOf([&] { Create(); }), "(no error)");
}

TEST_F(Factory, MifareEmulationOnlyForTheOmnikeyContactlessReader) {
    m_settings.AddSetting("mifare_emulation", "1", Set);
    const CardServiceSettings cardSettings;
    EXPECT_EQ(test::MessageOf(
                  [&] { CardServiceFactory::CreateReader(cardSettings, 8, ReaderParams(), m_settings, m_log.get()); }),
              "Режим эмуляции Mifare на стороне считывателя поддерживается только для считок OmniKey");
}

TEST_F(Factory, GivenOsVersionIsParsed) {
    m_settings.AddSetting("os", "MORVA_1.92_S", Set);
    const std::shared_ptr<CardService> service = Create();
    EXPECT_EQ(service->GetOsInfo().GetMajor(), 1);
    EXPECT_EQ(service->GetOsInfo().GetMinor(), 92);
    EXPECT_EQ(service->GetOsInfo().GetProduct(), "morva");
    EXPECT_EQ(service->GetOsInfo().GetSuffix(), "s");
    EXPECT_FALSE(service->GetReader()->IsPowered());
}

// A card behind the direct-network server that knows GET CARD INFO.
DerimServer::Responder CardWithVersion(const std::string& version) {
    return DerimServer::Card(Binary("3B 00"), [version](const Binary& apdu) {
        if (apdu != Binary("80 06 03 00 20")) return Binary("6D00");
        // 32 bytes: 16 of other card data, then the version text padded with zeros.
        std::string info(16, '\x11');
        info += version;
        info.resize(32, '\0');
        Binary answer("9000");
        for (const char c : info) answer.push_back(static_cast<uint8_t>(c));
        return answer;
    });
}

TEST_F(Factory, DirectNetworkReaderAndOsVersionAutodetection) {
    DerimServer server(CardWithVersion("MORVA_2.05_X"));
    m_settings.AddSetting("reader2", "#DERIMDIRECT", Set);
    m_settings.AddSetting("derimdirect_port", std::to_string(server.Port()), Set);
    m_settings.AddSetting("reader2.os_version", "#autodetect", Set);
    // The second group asks under its own prefix; the first keeps no version.
    const std::shared_ptr<CardService> first = Create("reader");
    const std::shared_ptr<CardService> service = Create("reader2");
    EXPECT_FALSE(first->GetOsInfo().IsVersionSet());
    EXPECT_NE(dynamic_cast<DerimDirect_Reader*>(service->GetReader()), nullptr);
    EXPECT_EQ(service->GetOsInfo().GetText(), "morva_2.05_x");
    EXPECT_EQ(service->GetOsInfo().GetMinor(), 5);
    // Powered on for the question and off again afterwards.
    const std::vector<DerimServer::Request> requests = server.Requests();
    ASSERT_EQ(requests.size(), 3u);
    EXPECT_EQ(requests[0].type, 0);
    EXPECT_EQ(requests[1].type, 3);
    EXPECT_EQ(requests[2].type, 2);
    EXPECT_FALSE(service->GetReader()->IsPowered());
}

TEST_F(Factory, FailedAutodetectionLeavesTheReaderUnused) {
    DerimServer server(DerimServer::Card(Binary("3B 00"), [](const Binary&) { return Binary("6D00"); }));
    m_settings.AddSetting("reader", "#DERIMDIRECT", Set);
    m_settings.AddSetting("derimdirect_port", std::to_string(server.Port()), Set);
    m_settings.AddSetting("os_version", "#autodetect", Set);
    // The card refuses GET CARD INFO and then GET LAST ERROR (get_last_error is on
    // by default): the card service's error passes on unchanged.
    EXPECT_EQ(test::MessageOf([&] { Create(); }),
              "Неправильный статус. Ожидался: OK, карта вернула: 6D00.\nGET LAST ERROR не отработал");
    // Only a card service that got its OS version counts as made.
    EXPECT_TRUE(m_factory.IsReaderFree("#DERIMDIRECT"));
}

RApdu AnswerOk(const CApdu&) { return RApdu(Binary("9000")); }

TEST_F(Factory, SerialReaderOnThePortOfVport) {
    test::SerialReaderEmulator device(AnswerOk, {.atr = Binary("3B 02 14 50")});
    m_settings.AddSetting("reader", "#SIM", Set);
    m_settings.AddSetting("VPORT", device.PortPath(), Set);
    m_settings.AddSetting("WTX_TIMEOUT", "2000", Set);
    m_settings.AddSetting("t", "T0", Set);
    const std::shared_ptr<CardService> service = Create();
    EXPECT_NE(dynamic_cast<ISOReader*>(service->GetReader()), nullptr);
    // The transport settings reach the driver.
    EXPECT_EQ(service->GetReader()->GetParams().protocols, std::vector<uint32_t>{0});
    service->PowerOn();
    EXPECT_EQ(service->GetReader()->GetATR(), Binary("3B 02 14 50"));
    EXPECT_EQ(service->Command(CApdu(0x00, 0xA4, 0x00, 0x00, 0), ST_OK).GetSW(), 0x9000);
    ASSERT_EQ(device.Commands().size(), 1u);
    EXPECT_EQ(device.Commands()[0].ins, 0xA4);
}

TEST_F(Factory, SerialReaderWithoutDeviceIsTheDriversError) {
    m_settings.AddSetting("reader", "#SIM", Set);
    m_settings.AddSetting("VPORT", m_dir + "no_such_tty", Set);
    EXPECT_EQ(test::MessageOf([&] { Create(); }), "Не удается открыть порт " + m_dir + "no_such_tty");
}

}  // namespace
}  // namespace ZORVIK
