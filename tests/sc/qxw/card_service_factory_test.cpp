// The card-service factory: the declared settings of a reader group, the reader
// kind of a name, the reader for each kind, the APDU log and the OS version.
#include "sc/qxw/card_service_factory.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <tuple>

#include "sc/card_service/card_service.h"
#include "sc/card_service/expected_status.h"
#include "sc/drivers/derimdirect/derimdirect_reader.h"
#include "sc/drivers/iso/byte_reader_helpers.h"
#include "sc/drivers/iso/iso_reader.h"
#include "sc/drivers/osm/osm_reader.h"
#include "sc/drivers/pcsc/pcsc_reader.h"
#include "sc/drivers/qvl/qvl_reader.h"
#include "sc/qxw/settings_declarations.h"
#include "service/log/recording_log.h"
#include "service/program_settings/settings_database.h"
#include "support/derim_server.h"
#include "support/error_text.h"
#include "support/file_text.h"
#include "support/pcsc_fixture.h"
#include "support/qvl_server.h"
#include "support/serial_reader_emulator.h"
#include "support/test_dir.h"

namespace ZORVIK {
namespace {

using binary::Binary;
using test::DerimServer;
using test::MessageOf;
using test::VpcdCardModel;

// The settings validated under the prefix, as the factory sees them.
void Validate(SettingsDatabase& settings, const DescriptionGroup& group, const std::string& prefix = "") {
    SettingsValidator(settings).ValidateGroup(group, prefix);
}

// PC/SC names lose their index before the lookup; kinds 7 (OMNIKEY 5x21-CL), 9,
// 11, 14, 15 and 17 are contactless, 7 also cold-resets always, unless the settings say otherwise.
TEST(ReaderKind, NameGivesTheKindAndTheKindTheContactlessDefaults) {
    SettingsDatabase settings;
    Validate(settings, qxw::CardWorkSettings());
    const std::tuple<const char*, int32_t, bool, bool> rows[] = {
        {"#OSM", 0, false, false},
        {"#JCD_OSM", 1, false, false},
        {"#SIM", 2, false, false},
        {"#QVL", 3, false, false},
        {"#DERIMDIRECT", 4, false, false},
        {"SCTL VSCR 0", 5, false, false},
        {"SCTL VSCR 1", 5, false, false},
        {"SCTL VSCR", 21, false, false},
        {"OMNIKEY CardMan 3x21 0", 6, false, false},
        {"OMNIKEY CardMan 5x21 1", 6, false, false},
        {"OMNIKEY CardMan 5x21-CL 0", 7, true, true},
        {"OMNIKEY CardMan 5x21-CL", 21, false, false},  // without its index the last word is cut off instead
        {"SCM Microsystems Inc. SDI010 Smart Card Reader 0", 8, false, false},
        {"SCM Microsystems Inc. SDI010 Contactless Reader 0", 9, true, false},
        {"SCM Microsystems Inc. SDI011G Contactless Reader 0", 9, true, false},
        {"ACS ACR128U ICC Interface 0", 10, false, false},
        {"ACS ACR128U PICC Interface 0", 11, true, false},
        {"ACS ACR122U PICC Interface 0", 11, true, false},
        {"KelToken CCID 0", 12, false, false},
        {"Gemplus USB Smart Card Reader 0", 13, false, false},
        {"IE SmartID/CCID 0", 14, true, false},
        {"Intech USB Reader 0", 15, true, false},
        {"#MP300_TC", 16, false, false},
        {"#MP300_CL", 17, true, false},
        {"#MP300_CL_MIFARE", 18, false, false},
        {"#MP300_SIM", 19, false, false},
        {"", 20, false, false},
        {"#osm", 21, false, false},  // the lookup is case-sensitive
        {"Virtual PCD 00 00", 21, false, false},
    };
    for (const auto& [name, kind, cless, coldReset] : rows) {
        EXPECT_EQ(CardServiceFactory::GetReaderKind(name), kind) << name;
        const CardServiceSettings read = CardServiceFactory::ReadCardServiceSettings(settings, "", kind);
        EXPECT_EQ(std::pair(read.cless, read.cold_reset_always), std::pair(cless, coldReset)) << name;
    }
    settings.AddSetting("cless", "0", Set);
    settings.AddSetting("cold_reset_always", "no", Set);
    const CardServiceSettings given = CardServiceFactory::ReadCardServiceSettings(settings, "", 7);
    EXPECT_FALSE(given.cless || given.cold_reset_always);
    // Mifare emulation is for the OMNIKEY contactless reader alone.
    settings.AddSetting("mifare_emulation", "1", Set);
    EXPECT_EQ(MessageOf([&] { CardServiceFactory::CreateReader({}, 8, ReaderParams(), settings, nullptr); }),
              "Режим эмуляции Mifare на стороне считывателя поддерживается только для считок OmniKey");
}

// The declared defaults give the flags; each flag is read under its own key.
TEST(CardServiceSettingsOfAGroup, DeclaredDefaultsGiveTheFlagsAndEachFlagItsKey) {
    const std::tuple<const char*, bool CardServiceSettings::*, bool> flags[] = {
        {"power_on", &CardServiceSettings::power_on, true},
        {"power_off", &CardServiceSettings::power_off, true},
        {"get_last_error", &CardServiceSettings::get_last_error, true},
        {"randomize_ram", &CardServiceSettings::randomize_ram, false},
        {"force_extended_apdu", &CardServiceSettings::force_extended_apdu, false},
        {"time_profiling", &CardServiceSettings::time_profiling, false},
        {"output_reader_name", &CardServiceSettings::output_reader_name, false},
    };
    SettingsDatabase defaults;
    Validate(defaults, qxw::CardWorkSettings());
    const CardServiceSettings read = CardServiceFactory::ReadCardServiceSettings(defaults, "", 3);
    EXPECT_EQ(read.readerKind, 3);
    for (const auto& [key, field, byDefault] : flags) EXPECT_EQ(read.*field, byDefault) << key;
    for (const auto& [changedKey, changedField, changedDefault] : flags) {
        SettingsDatabase settings;
        settings.AddSetting(changedKey, changedDefault ? "0" : "1", Set);
        Validate(settings, qxw::CardWorkSettings());
        const CardServiceSettings changed = CardServiceFactory::ReadCardServiceSettings(settings, "", 0);
        for (const auto& [key, field, byDefault] : flags)
            EXPECT_EQ(changed.*field, field == changedField ? !byDefault : byDefault) << changedKey << ": " << key;
    }
}

// A further group reads its settings under its prefix (aliases moved there),
// the envelope mode under the plain name for every group.
TEST(CardServiceSettingsOfAGroup, SecondGroupReadsPrefixedKeysButOneEnvelopeMode) {
    SettingsDatabase settings;
    for (const auto& [key, value] :
         {std::pair{"reader2.tl", "1"}, std::pair{"reader2.t", "T0"}, std::pair{"envelope_mode", "force"},
          std::pair{"reader2.envelope_mode", "null"}, std::pair{"reader2.power_on", "0"}, std::pair{"reader2.t0", "0"},
          std::pair{"reader2.get_resp_cla_00", "1"}, std::pair{"time_profiling", "1"}})
        settings.AddSetting(key, value, Set);
    for (const std::string prefix : {"", "reader2."}) Validate(settings, qxw::TransportSettings(), prefix);
    Validate(settings, qxw::CardWorkSettings(), "reader2.");
    const ReaderParams second = CardServiceFactory::ReadReaderParams(settings, "reader2.");
    EXPECT_TRUE(second.transport_log);
    EXPECT_EQ(second.protocols, std::vector<uint32_t>{0});
    EXPECT_EQ(second.envelope_mode, EnvelopeForce);
    EXPECT_FALSE(second.auto_t0);
    EXPECT_TRUE(second.get_resp_cla_00);
    const ReaderParams first = CardServiceFactory::ReadReaderParams(settings, "");
    EXPECT_EQ(first.protocols, (std::vector<uint32_t>{1, 0}));
    EXPECT_TRUE(first.auto_t0);
    EXPECT_FALSE(first.transport_log || first.get_resp_cla_00);
    const CardServiceSettings card = CardServiceFactory::ReadCardServiceSettings(settings, "reader2.", 0);
    EXPECT_FALSE(card.power_on);
    EXPECT_FALSE(card.time_profiling);  // the plain key belongs to the first group
}

TEST(ReaderParamsOfAGroup, EnvelopeModesAndTheRefusal) {
    const std::pair<const char*, uint32_t> modes[] = {
        {"smart", EnvelopeSmart}, {"force", EnvelopeForce}, {"null", EnvelopeNull}};
    for (const auto& [text, mode] : modes) {
        SettingsDatabase settings;
        Validate(settings, qxw::TransportSettings());
        settings.AddSetting("envelope_mode", text, Set);
        EXPECT_EQ(CardServiceFactory::ReadReaderParams(settings, "").envelope_mode, mode) << text;
    }
    SettingsDatabase settings;
    Validate(settings, qxw::TransportSettings());
    settings.AddSetting("envelope_mode", "Smart", Set);
    EXPECT_EQ(MessageOf([&] { CardServiceFactory::ReadReaderParams(settings, ""); }), "Некорректный режим Envelope");
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

// As the factory reads it: validated with the card-work group, which takes one
// pair of quotes off the whole value, then read as a list, which takes each
// item's own quotes off.
TEST(ReaderParamsOfAGroup, QuotedTransportProtocolsAfterValidation) {
    const std::pair<const char*, std::vector<uint32_t>> rows[] = {
        {"T0, T1", {0, 1}},
        {"\"T1\"", {1}},
        {"'T1', T0", {1, 0}},
        {"\"'T0', 'T1'\"", {0, 1}},
        {"'T0', 'T1'", {0, 1}},
        {"", {1, 0}},
        {"t0", {}},
        {"T01", {}},
        // Each item in its own quotes of either kind; one pair around the whole list.
        {"\"T0\",\"T1\"", {0, 1}},
        {"\"T1\", 'T0'", {1, 0}},
        {"'T0, T1'", {0, 1}}};
    for (const auto& [text, protocols] : rows) {
        SettingsDatabase settings;
        settings.AddSetting("transport_protocols", text, Set);
        Validate(settings, qxw::CardWorkSettings());
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
    Factory() { Set("power_on", "0"); }
    void Set(const std::string& key, const std::string& value) { m_settings.AddSetting(key, value, ZORVIK::Set); }
    std::shared_ptr<CardService> Create(const std::string& group = "reader") {
        return m_factory.CreateCardService(m_settings, group, m_log);
    }

    const std::string m_dir = test::TestDir();
    SettingsDatabase m_settings;
    std::shared_ptr<test::RecordingLog> m_log = std::make_shared<test::RecordingLog>();
    CardServiceFactory m_factory{nullptr};
};

TEST_F(Factory, SimulatedCardWithItsDefaultsAndTheReaderSettingsOfItsHost) {
    Set("reader", "#OSM");
    Set("cmd_timeout", "5000");
    Set("tex", "1");
    Set("cless", "1");
    const std::shared_ptr<CardService> service = Create();
    EXPECT_EQ(service->GetReaderName(), "#OSM");
    auto* reader = dynamic_cast<OSMReader*>(service->GetReader());
    ASSERT_NE(reader, nullptr);
    EXPECT_EQ(dynamic_cast<OSM&>(reader->Host()).GetCommandTimeout(), 5000);
    EXPECT_TRUE(reader->Host().IsTraceOn() && reader->Host().IsContactless());
    EXPECT_FALSE(service->GetOsInfo().IsVersionSet());
    // The validation of the groups filled in the declared defaults.
    EXPECT_EQ(m_settings.GetString("apdu_convert_format"), "none");
    EXPECT_EQ(m_settings.GetString("envelope_mode"), "smart");
    EXPECT_FALSE(reader->IsPowered());  // power_on 0
    service->PowerOn();
    EXPECT_TRUE(reader->IsPowered());
}

TEST_F(Factory, MissingReaderOrInvalidValueOfTheGroupIsRefusedBeforeAnythingIsBuilt) {
    EXPECT_EQ(MessageOf([&] { Create("reader2"); }), "Не задана обязательная настройка \"reader2\"");
    Set("reader2", "#DERIMDIRECT");
    Set("reader2.af", "GP");
    EXPECT_EQ(MessageOf([&] { Create("reader2"); }),
              "Значение настройки \"apdu_convert_format = GP\" не удовлетворяет заданным для нее условиям: "
              "skarna|gp|jcshell|goznak|ruzo|none");
}

// The empty name is a PC/SC reader (kind 20), which refuses it.
TEST_F(Factory, EmptyReaderNameIsThePcscReadersError) {
    CardServiceSettings cardSettings;
    EXPECT_EQ(CardServiceFactory::GetReaderKind(""), 20);
    EXPECT_EQ(test::DriverErrorOf(
                  [&] { CardServiceFactory::CreateReader(cardSettings, 20, ReaderParams(), m_settings, m_log.get()); }),
              (test::DriverError{36, "Wrong reader name"}));
}

TEST_F(Factory, GpApduLogWithoutFileNameGoesToTheWorkingDirectory) {
    const std::string saved = std::filesystem::current_path();
    std::filesystem::current_path(m_dir);
    Set("reader", "#OSM");
    Set("apdu_convert_format", "gp");
    Create()->PowerOn();
    std::filesystem::current_path(saved);
    EXPECT_TRUE(std::filesystem::exists(m_dir + "gp.log"));
}

TEST_F(Factory, ApduLogPathIsLogDirAndFileNameJoinedAsTextAndFormatNoneWritesNone) {
    Set("reader", "#OSM");
    Set("log_dir", m_dir + "run_");
    Set("an", "apdu.txt");
    Create()->PowerOn();
    EXPECT_FALSE(std::filesystem::exists(m_dir + "run_apdu.txt"));
    Set("af", "skarna");
    Create()->PowerOn();
    EXPECT_TRUE(std::filesystem::exists(m_dir + "run_apdu.txt"));
}

TEST_F(Factory, SimulatedCardSavesItsImageToESAndRefusesOneOfTheWrongSize) {
    Set("reader", "#OSM");
    Set("ES", m_dir + "image.bin");
    Create().reset();
    EXPECT_EQ(test::ReadFile(m_dir + "image.bin"), std::string(0x12000, '\xFF'));
    std::ofstream(m_dir + "short.bin") << "too short";
    Set("EL", m_dir + "short.bin");
    EXPECT_EQ(MessageOf([&] { Create(); }), "EEPROM image '" + m_dir + "short.bin' has 9 bytes, expected 73728");
}

TEST_F(Factory, GivenOsVersionIsParsedWithoutPoweringTheCard) {
    Set("reader", "#OSM");
    Set("os", "MORVA_1.92_S");
    const std::shared_ptr<CardService> service = Create();
    const OsInfo info = service->GetOsInfo();
    EXPECT_EQ(std::tuple(info.GetProduct(), info.GetMajor(), info.GetMinor(), info.GetSuffix()),
              std::tuple(std::string("morva"), 1, 92, std::string("s")));
    EXPECT_FALSE(service->GetReader()->IsPowered());
}

// A card behind the direct-network server that knows GET CARD INFO: 32 bytes,
// 16 of other card data, then the version text padded with zeros.
DerimServer::Responder CardWithVersion(const std::string& version) {
    return DerimServer::Card(Binary("3B 00"), [version](const Binary& apdu) {
        if (apdu != Binary("80 06 03 00 20")) return Binary("6D00");
        std::string info = std::string(16, '\x11') + version;
        info.resize(32, '\0');
        return Binary("9000") + Binary(info.begin(), info.end());
    });
}

// The second group asks under its own prefix; the first keeps no version.
TEST_F(Factory, SecondGroupAsksItsCardForTheVersionUnderItsPrefix) {
    DerimServer server(CardWithVersion("MORVA_2.05_X"));
    Set("reader", "#OSM");
    Set("reader2", "#DERIMDIRECT");
    Set("derimdirect_port", std::to_string(server.Port()));
    Set("reader2.os_version", "#autodetect");
    const std::shared_ptr<CardService> first = Create("reader");
    const std::shared_ptr<CardService> second = Create("reader2");
    EXPECT_FALSE(first->GetOsInfo().IsVersionSet());
    EXPECT_EQ(second->GetOsInfo().GetText(), "morva_2.05_x");
    EXPECT_EQ(second->GetOsInfo().GetMinor(), 5);
    EXPECT_FALSE(second->GetReader()->IsPowered());
    EXPECT_EQ(server.Requests().size(), 3u);
}

TEST_F(Factory, FailedAutodetectionLeavesTheReaderUnused) {
    DerimServer server(DerimServer::Card(Binary("3B 00"), [](const Binary&) { return Binary("6D00"); }));
    Set("reader", "#DERIMDIRECT");
    Set("derimdirect_port", std::to_string(server.Port()));
    Set("os_version", "#autodetect");
    // The card refuses GET CARD INFO and then GET LAST ERROR (get_last_error is on
    // by default): the card service's error passes on unchanged.
    EXPECT_EQ(MessageOf([&] { Create(); }),
              "Неправильный статус. Ожидался: OK, карта вернула: 6D00.\nGET LAST ERROR не отработал");
    // Only a card service that got its OS version counts as made.
    EXPECT_TRUE(m_factory.IsReaderFree("#DERIMDIRECT"));
}

TEST_F(Factory, SerialReaderWithoutDeviceIsTheDriversError) {
    Set("reader", "#SIM");
    Set("VPORT", m_dir + "no_such_tty");
    EXPECT_EQ(MessageOf([&] { Create(); }), "Не удается открыть порт " + m_dir + "no_such_tty");
}

TEST_F(Factory, DirectNetworkReaderAndOsVersionAutodetection) {
    DerimServer server(CardWithVersion("MORVA_2.05_X"));
    Set("reader", "#DERIMDIRECT");
    Set("derimdirect_port", std::to_string(server.Port()));
    Set("os_version", "#autodetect");
    const std::shared_ptr<CardService> service = Create();
    EXPECT_NE(dynamic_cast<DerimDirect_Reader*>(service->GetReader()), nullptr);
    EXPECT_EQ(service->GetOsInfo().GetText(), "morva_2.05_x");
    EXPECT_FALSE(service->GetReader()->IsPowered());
    // Powered on for the question and off again afterwards.
    std::vector<uint8_t> types;
    for (const DerimServer::Request& request : server.Requests()) types.push_back(request.type);
    EXPECT_EQ(types, (std::vector<uint8_t>{0, 3, 2}));
}

TEST_F(Factory, SerialReaderOnThePortOfVportWithTheGroupsTransportSettings) {
    test::SerialReaderEmulator device([](const CApdu&) { return RApdu(Binary("9000")); },
                                      {.atr = Binary("3B 02 14 50")});
    for (const auto& [key, value] : {std::pair<const char*, std::string>{"reader", "#SIM"},
                                     {"VPORT", device.PortPath()},
                                     {"WTX_TIMEOUT", "2000"},
                                     {"t", "T0"}})
        Set(key, value);
    const std::shared_ptr<CardService> service = Create();
    EXPECT_NE(dynamic_cast<ISOReader*>(service->GetReader()), nullptr);
    EXPECT_EQ(service->GetReader()->GetParams().protocols, std::vector<uint32_t>{0});
    service->PowerOn();
    EXPECT_EQ(service->GetReader()->GetATR(), Binary("3B 02 14 50"));
    EXPECT_EQ(service->Command(CApdu(0x00, 0xA4, 0x00, 0x00, 0), ST_OK).GetSW(), 0x9000);
    ASSERT_EQ(device.Observed().commands.size(), 1u);
    EXPECT_EQ(device.Observed().commands[0].ins, 0xA4);
}

// A settings file may quote the whole list as well as its items: validation takes
// off the outer pair, the list read then the quotes of each item.
TEST_F(Factory, QuotedTransportProtocolsReachTheReader) {
    test::SerialReaderEmulator device([](const CApdu&) { return RApdu(Binary("9000")); }, {});
    for (const auto& [key, value] :
         {std::pair<const char*, std::string>{"reader", "#SIM"}, {"VPORT", device.PortPath()}, {"t", "'T0', 'T1'"}})
        Set(key, value);
    EXPECT_EQ(Create()->GetReader()->GetParams().protocols, (std::vector<uint32_t>{0, 1}));
}

// The model listens where the plain setting qvl_port points; power-off closes
// the process-wide link.
using QvlModelFactory = Factory;

TEST_F(QvlModelFactory, HardwareModelReaderWithTheGroupsTransportSettings) {
    test::QvlServer model([](const CApdu&) { return RApdu(Binary("0102 9000")); }, {});
    Set("reader", "#QVL");
    Set("qvl_port", std::to_string(model.Port()));
    Set("t", "T0");
    const std::shared_ptr<CardService> service = Create();
    ASSERT_NE(dynamic_cast<QVL_Reader*>(service->GetReader()), nullptr);
    EXPECT_EQ(service->GetReader()->GetParams().protocols, std::vector<uint32_t>{0});
    service->PowerOn();
    EXPECT_EQ(service->GetReader()->GetATR(), Binary("3B 02 14 50"));
    EXPECT_EQ(service->Command(CApdu(0x00, 0xCA, 0x01, 0x01, 2), ST_OK).data, Binary("0102"));
    service->PowerOff();
    EXPECT_EQ(model.Observed().cardInput, std::vector<Binary>{Binary("00CA010102")});
}

// A port outside 1..65535, or no number at all, is refused before a reader is built.
TEST_F(Factory, HardwareModelPortOutsideTheTcpRangeIsRefused) {
    Set("reader", "#QVL");
    for (const char* port : {"0", "65536", "-1", "model"}) {
        Set("qvl_port", port);
        EXPECT_EQ(MessageOf([&] { Create(); }), std::string("Значение настройки \"qvl_port\" = ") + port +
                                                    " не является номером TCP-порта (1..65535)");
    }
    Set("qvl_port", "65535");
    EXPECT_NE(dynamic_cast<QVL_Reader*>(Create()->GetReader()), nullptr);
}

// The factory and the reader selection over real PC/SC: a private pcscd serves
// vpcd's two virtual readers; the test's virtual card goes into the first.
class PcscReaderFactory : public test::PcscdTest {
protected:
    void SetUp() override {
        test::PcscdTest::SetUp();
        m_settings.AddSetting("power_on", "0", Set);
        m_settings.AddSetting("disable_user_input", "1", Set);
    }
    std::shared_ptr<CardService> Create(const std::string& readerSetting) {
        m_settings.AddSetting("reader", readerSetting, Set);
        return m_factory.CreateCardService(m_settings, "reader", m_log);
    }

    SettingsDatabase m_settings;
    std::shared_ptr<test::RecordingLog> m_log = std::make_shared<test::RecordingLog>();
    CardServiceFactory m_factory{m_log};
};

TEST_F(PcscReaderFactory, ReaderByNameCarriesCommandsToTheCard) {
    InsertCard(VpcdCardModel::AtrBoth);
    const std::shared_ptr<CardService> service = Create(test::PrivatePcscd::Reader0);
    auto* reader = dynamic_cast<PCSC_Reader*>(service->GetReader());
    ASSERT_NE(reader, nullptr);
    EXPECT_EQ(service->GetReaderName(), test::PrivatePcscd::Reader0);
    service->PowerOn();
    EXPECT_EQ(reader->GetATR(), Binary(VpcdCardModel::AtrBoth));
    EXPECT_EQ(reader->GetActiveProtocol(), static_cast<DWORD>(SCARD_PROTOCOL_T1));
    const RApdu& answer = service->Command(CApdu(0x00, 0xA4, 0x04, 0x00, Binary(VpcdCardModel::Aid), 256), ST_OK);
    EXPECT_EQ(answer.data, Binary(VpcdCardModel::Fci));
    service->PowerOff();
    EXPECT_EQ(reader->GetCardHandle(), 0);
}

TEST_F(PcscReaderFactory, TransportProtocolsReachThePcscConnection) {
    InsertCard(VpcdCardModel::AtrBoth, false);
    m_settings.AddSetting("transport_protocols", "T0", Set);
    const std::shared_ptr<CardService> service = Create(test::PrivatePcscd::Reader0);
    service->PowerOn();
    auto* reader = dynamic_cast<PCSC_Reader*>(service->GetReader());
    ASSERT_NE(reader, nullptr);
    EXPECT_EQ(reader->GetActiveProtocol(), static_cast<DWORD>(SCARD_PROTOCOL_T0));
}

TEST_F(PcscReaderFactory, PcscRequestTakesTheOneReaderWithACard) {
    EXPECT_EQ(MessageOf([&] { Create("#PCSC"); }), "Ни одной считки не подключено");
    InsertCard();
    EXPECT_EQ(Create("#PCSC")->GetReaderName(), test::PrivatePcscd::Reader0);
    EXPECT_TRUE(m_log->records.empty());  // one candidate: no menu, no message
    // With the simulated card as a second candidate and no user input there is no choice.
    m_settings.AddSetting("reader", "#?", Set);
    EXPECT_EQ(MessageOf([&] { CardServiceFactory(m_log).CreateCardService(m_settings, "reader", m_log); }),
              "Подключено более одной считки");
}

TEST_F(PcscReaderFactory, NumbersCountReadersWithAndWithoutCard) {
    EXPECT_EQ(Create("#1")->GetReaderName(), test::PrivatePcscd::Reader1);
    EXPECT_EQ(MessageOf([&] { m_factory.GetReaderName("reader2", "#2", m_settings); }),
              "Считка с указанным номером 2 не подключена");
    const std::shared_ptr<CardService> kept = Create("#1");
    EXPECT_EQ(MessageOf([&] { m_factory.GetReaderName("reader2", "#1", m_settings); }),
              std::string("Попытка выбрать reader2 = ") + test::PrivatePcscd::Reader1 + ", который уже используется");
}

// The names of the table's PC/SC kinds build PC/SC readers; Mifare emulation is
// asked of the OMNIKEY contactless reader alone.
TEST_F(PcscReaderFactory, TableNamesOfPcscKindsBuildPcscReaders) {
    CardServiceSettings cardSettings;
    cardSettings.readerName = "#MP300_CL";
    const std::unique_ptr<iReader> mp300 = CardServiceFactory::CreateReader(
        cardSettings, CardServiceFactory::GetReaderKind("#MP300_CL"), ReaderParams(), m_settings, m_log.get());
    auto* reader = dynamic_cast<PCSC_Reader*>(mp300.get());
    ASSERT_NE(reader, nullptr);
    EXPECT_EQ(reader->GetReaderName(), "#MP300_CL");
    EXPECT_EQ(reader->GetMifareState(), PCSC_Reader::MifareNotAsked);
    m_settings.AddSetting("mifare_emulation", "1", Set);
    cardSettings.readerName = "OMNIKEY CardMan 5x21-CL 0";
    const std::unique_ptr<iReader> omnikey =
        CardServiceFactory::CreateReader(cardSettings, CardServiceFactory::GetReaderKind(cardSettings.readerName),
                                         ReaderParams(), m_settings, m_log.get());
    ASSERT_NE(dynamic_cast<PCSC_Reader*>(omnikey.get()), nullptr);
    EXPECT_EQ(dynamic_cast<PCSC_Reader*>(omnikey.get())->GetMifareState(), PCSC_Reader::MifareRequested);
}

}  // namespace
}  // namespace ZORVIK
