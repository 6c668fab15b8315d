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
#include "sc/drivers/qvl/qvl_reader.h"
#include "sc/qxw/settings_declarations.h"
#include "service/log/recording_log.h"
#include "service/program_settings/settings_database.h"
#include "support/derim_server.h"
#include "support/error_text.h"
#include "support/qvl_server.h"
#include "support/serial_reader_emulator.h"
#include "support/test_dir.h"

namespace ZORVIK {
namespace {

using binary::Binary;
using test::DerimServer;
using test::MessageOf;

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
        {"OMNIKEY CardMan 5x21-CL 0", 7, true, true},
        {"OMNIKEY CardMan 5x21-CL", 21, false, false},  // without its index the last word is cut off instead
        {"#MP300_CL", 17, true, false},
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

// A further group reads its settings under its prefix (aliases moved there),
// the envelope mode under the plain name for every group.
TEST(CardServiceSettingsOfAGroup, SecondGroupReadsPrefixedKeysButOneEnvelopeMode) {
    SettingsDatabase settings;
    for (const auto& [key, value] : {std::pair{"reader2.tl", "1"}, std::pair{"reader2.t", "T0"},
                                     std::pair{"envelope_mode", "force"}, std::pair{"reader2.envelope_mode", "null"}})
        settings.AddSetting(key, value, Set);
    for (const std::string prefix : {"", "reader2."}) Validate(settings, qxw::TransportSettings(), prefix);
    Validate(settings, qxw::CardWorkSettings(), "reader2.");
    const ReaderParams second = CardServiceFactory::ReadReaderParams(settings, "reader2.");
    EXPECT_TRUE(second.transport_log);
    EXPECT_EQ(second.protocols, std::vector<uint32_t>{0});
    EXPECT_EQ(second.envelope_mode, EnvelopeForce);
    EXPECT_EQ(CardServiceFactory::ReadReaderParams(settings, "").protocols, (std::vector<uint32_t>{1, 0}));
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
        {"T0, T1", {0, 1}},     {"\"T1\"", {1}}, {"'T1', T0", {1, 0}}, {"\"'T0', 'T1'\"", {0, 1}},
        {"'T0', 'T1'", {0, 1}}, {"", {1, 0}},    {"t0", {}},           {"T01", {}}};
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

// A card behind the direct-network server that knows GET CARD INFO: 32 bytes,
// 16 of other card data, then the version text padded with zeros.
TEST_F(Factory, DirectNetworkReaderAndOsVersionAutodetection) {
    DerimServer server(DerimServer::Card(Binary("3B 00"), [](const Binary& apdu) {
        if (apdu != Binary("80 06 03 00 20")) return Binary("6D00");
        std::string info = std::string(16, '\x11') + "MORVA_2.05_X";
        info.resize(32, '\0');
        return Binary("9000") + Binary(info.begin(), info.end());
    }));
    Set("reader", "#DERIMDIRECT");
    Set("derimdirect_port", std::to_string(server.Port()));
    Set("os_version", "#autodetect");
    const std::shared_ptr<CardService> service = Create();
    EXPECT_NE(dynamic_cast<DerimDirect_Reader*>(service->GetReader()), nullptr);
    EXPECT_EQ(service->GetOsInfo().GetText(), "morva_2.05_x");
    // Powered on for the question and off again afterwards.
    std::vector<uint8_t> types;
    for (const DerimServer::Request& request : server.Requests()) types.push_back(request.type);
    EXPECT_EQ(types, (std::vector<uint8_t>{0, 3, 2}));
}

TEST_F(Factory, SerialReaderOnThePortOfVportWithTheGroupsTransportSettings) {
    test::SerialReaderEmulator device([](const CApdu&) { return RApdu(Binary("9000")); }, {});
    for (const auto& [key, value] : {std::pair<const char*, std::string>{"reader", "#SIM"},
                                     {"VPORT", device.PortPath()},
                                     {"WTX_TIMEOUT", "2000"},
                                     {"t", "T0"}})
        Set(key, value);
    const std::shared_ptr<CardService> service = Create();
    EXPECT_NE(dynamic_cast<ISOReader*>(service->GetReader()), nullptr);
    EXPECT_EQ(service->GetReader()->GetParams().protocols, std::vector<uint32_t>{0});
    service->PowerOn();
    EXPECT_EQ(service->Command(CApdu(0x00, 0xA4, 0x00, 0x00, 0), ST_OK).GetSW(), 0x9000);
    EXPECT_EQ(device.Observed().commands.size(), 1u);
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

// The fixture's name puts this test under the lock of the hardware model's fixed
// port 127.0.0.1:7816; power-off closes the process-wide link.
using QvlModelFactory = Factory;

TEST_F(QvlModelFactory, HardwareModelReaderWithTheGroupsTransportSettings) {
    test::QvlServer model([](const CApdu&) { return RApdu(Binary("0102 9000")); }, {});
    Set("reader", "#QVL");
    Set("t", "T0");
    const std::shared_ptr<CardService> service = Create();
    ASSERT_NE(dynamic_cast<QVL_Reader*>(service->GetReader()), nullptr);
    EXPECT_EQ(service->GetReader()->GetParams().protocols, std::vector<uint32_t>{0});
    service->PowerOn();
    EXPECT_EQ(service->Command(CApdu(0x00, 0xCA, 0x01, 0x01, 2), ST_OK).data, Binary("0102"));
    service->PowerOff();
    EXPECT_EQ(model.Observed().cardInput, std::vector<Binary>{Binary("00CA010102")});
}

}  // namespace
}  // namespace ZORVIK
