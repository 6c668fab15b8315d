#include "sc/qxw/card_service_factory.h"

#include "sc/card_service/apdu_writer.h"
#include "sc/card_service/card_service.h"
#include "sc/card_service/os_info.h"
#include "sc/drivers/derimdirect/derimdirect_reader.h"
#include "sc/drivers/iso/iso_reader.h"
#include "sc/drivers/osm/osm_reader.h"
#include "sc/drivers/pcsc/pcsc_reader.h"
#include "sc/drivers/qvl/qvl_reader.h"
#include "sc/exchange/reader.h"
#include "sc/qxw/card_service_factory_impl.h"
#include "sc/qxw/settings_declarations.h"
#include "service/common/exception.h"
#include "service/log/log.h"
#include "service/program_settings/setting_descriptions.h"
#include "service/program_settings/settings_database.h"

namespace ZORVIK {

namespace {

// Writer kind that makes no APDU log.
constexpr int NoApduLog = 5;

bool ContactlessByDefault(int32_t kind) {
    return kind == ReaderKind::OmnikeyContactless || kind == ReaderKind::ScmContactless ||
           kind == ReaderKind::AcsContactless || kind == ReaderKind::IeSmartId || kind == ReaderKind::IntechUsb ||
           kind == ReaderKind::Mp300Contactless;
}

int ApduWriterKind(const std::string& format) {
    static const char* const Names[] = {"skarna", "gp", "jcshell", "goznak", "ruzo"};
    for (int kind = 0; kind < NoApduLog; ++kind) {
        if (format == Names[kind]) return kind;
    }
    return NoApduLog;
}

// The options of the two simulated-card readers; absent keys keep the defaults.
ReaderSpec ReadSpecUpToTrace(const SettingsDatabase& settings) {
    ReaderSpec spec;
    settings.Get("cmd_timeout", spec.cmd_timeout);
    settings.Get("EL", spec.EL);
    settings.Get("ES", spec.ES);
    spec.tex = settings.GetBool("tex") ? 1 : 0;
    return spec;
}

}  // namespace

CardServiceFactory::CardServiceFactory(std::shared_ptr<iLog> consoleLog)
    : CardServiceFactory(std::move(consoleLog), ReaderDiscovery::System()) {}

CardServiceFactory::CardServiceFactory(std::shared_ptr<iLog> consoleLog, ReaderDiscovery discovery)
    : m_impl(std::make_unique<CardServiceFactoryImpl>(std::move(consoleLog), std::move(discovery))) {}

CardServiceFactory::~CardServiceFactory() = default;

void CardServiceFactory::DeclareSettingsSections(SettingsDescriptions& descriptions) {
    descriptions.AddGroup(qxw::LoggingTitle, qxw::CardServiceLogSettings());
    descriptions.AddGroup(qxw::CardWorkTitle, qxw::CardWorkSettings());
    descriptions.AddGroup(qxw::TransportTitle, qxw::TransportSettings());
    descriptions.AddGroup(qxw::OsTitle, qxw::OsSettings());
}

std::shared_ptr<CardService> CardServiceFactory::CreateCardService(SettingsDatabase& settings, const std::string& group,
                                                                   std::shared_ptr<iLog> log) {
    // The first group reads its card settings under the plain names, every
    // further one under "readerN." (reader2.power_on).
    const std::string prefix = group == "reader" ? std::string() : group + ".";

    const std::string logDir = settings.GetString("log_dir");
    const std::string readerSetting = settings.GetMandatory<std::string>(group);

    SettingsValidator validator(settings);
    validator.ValidateGroup(qxw::CardServiceLogSettings(), "");
    validator.ValidateGroup(qxw::CardWorkSettings(), prefix);
    validator.ValidateGroup(qxw::TransportSettings(), prefix);

    const std::string readerName = GetReaderName(group, readerSetting, settings);
    const int32_t kind = GetReaderKind(readerName);
    CardServiceSettings cardSettings = ReadCardServiceSettings(settings, prefix, kind);
    cardSettings.readerName = readerName;
    const ReaderParams params = ReadReaderParams(settings, prefix);

    const int writerKind = ApduWriterKind(settings.GetString(prefix + "apdu_convert_format"));
    std::string apduFileName;
    settings.GetStringOr(prefix + "apdu_file_name", apduFileName, BaseApduWriter::DefaultFileName(writerKind));
    const int32_t verboseLevel = settings.GetInt(prefix + "apdu_verbose_level");
    std::shared_ptr<BaseApduWriter> writer;
    if (writerKind != NoApduLog) {
        // Plain concatenation: a log_dir value carries its own trailing '/'.
        writer = BaseApduWriter::Create(writerKind, logDir + apduFileName, static_cast<uint32_t>(verboseLevel));
    }

    std::shared_ptr<iReader> reader = CreateReader(cardSettings, kind, params, settings, log.get());
    auto cardService = std::make_shared<CardService>(cardSettings, std::move(reader), std::move(log), writer);
    SetOsVersion(settings, *cardService, prefix);
    m_impl->m_created.push_back(cardService);
    return cardService;
}

std::unique_ptr<iReader> CardServiceFactory::CreateReader(const CardServiceSettings& cardSettings, int32_t kind,
                                                          const ReaderParams& params, const SettingsDatabase& settings,
                                                          iLog* log) {
    switch (kind) {
        case ReaderKind::OSM: {
            ReaderSpec spec = ReadSpecUpToTrace(settings);
            spec.cless = settings.GetBool("cless") ? 1 : 0;
            return std::make_unique<OSMReader>(spec, log);
        }
        case ReaderKind::JCD_OSM: {
            ReaderSpec spec = ReadSpecUpToTrace(settings);
            std::vector<std::string> capList;
            settings.GetList("jc_cap_list", capList, {});
            const int32_t jdwpPort = settings.GetInt("jdwp_port");
            spec.cless = settings.GetBool("cless") ? 1 : 0;
            return std::make_unique<JCD_OSM_Reader>(spec, log, jdwpPort, capList);
        }
        case ReaderKind::SIM: {
            const std::string port = ReadSerialPort(settings);
            const uint32_t wtxTimeout = settings.GetOr<uint32_t>("WTX_TIMEOUT", 0);
            return std::make_unique<ISOReader>(port, params, wtxTimeout, log);
        }
        case ReaderKind::QVL: {
            const uint32_t wtxTimeout = settings.GetOr<uint32_t>("WTX_TIMEOUT", 0);
            // A plain key, shared by every reader group as the link itself is.
            const uint16_t port = ReadTcpPort(settings, "qvl_port", QvlLink::DefaultPort);
            return std::make_unique<QVL_Reader>(params, wtxTimeout, log, port);
        }
        case ReaderKind::DerimDirect: {
            const DerimEndpoint endpoint = ReadDerimEndpoint(settings);
            return std::make_unique<DerimDirect_Reader>(endpoint.host, endpoint.port);
        }
        default: {
            const bool mifareEmulation = settings.GetBool("mifare_emulation");
            ZORVIK_CHECK("ZORVIK::CardServiceFactory::CreateReader",
                         !mifareEmulation || kind == ReaderKind::OmnikeyContactless,
                         "Режим эмуляции Mifare на стороне считывателя поддерживается только для считок OmniKey");
            // Every other name, the empty one included, is a PC/SC reader.
            return std::make_unique<PCSC_Reader>(cardSettings.readerName, params, log, mifareEmulation);
        }
    }
}

CardServiceSettings CardServiceFactory::ReadCardServiceSettings(const SettingsDatabase& settings,
                                                                const std::string& prefix, int32_t readerKind) {
    const auto flag = [&](const char* key) { return settings.GetBool(prefix + key); };
    CardServiceSettings cardSettings;
    cardSettings.readerKind = readerKind;
    cardSettings.power_on = flag("power_on");
    cardSettings.power_off = flag("power_off");
    cardSettings.get_last_error = flag("get_last_error");
    cardSettings.cless = settings.GetBoolOr(prefix + "cless", ContactlessByDefault(readerKind));
    cardSettings.randomize_ram = flag("randomize_ram");
    cardSettings.cold_reset_always =
        settings.GetBoolOr(prefix + "cold_reset_always", readerKind == ReaderKind::OmnikeyContactless);
    cardSettings.force_extended_apdu = flag("force_extended_apdu");
    cardSettings.time_profiling = flag("time_profiling");
    cardSettings.output_reader_name = flag("output_reader_name");
    return cardSettings;
}

ReaderParams CardServiceFactory::ReadReaderParams(const SettingsDatabase& settings, const std::string& prefix) {
    ReaderParams params;
    // Read as a list, so that each item loses its own quotes: a text read would
    // take a pair off the whole value again and leave T0' and 'T1 of 'T0', 'T1'.
    std::vector<std::string> protocols;
    settings.GetList(prefix + "transport_protocols", protocols, {});
    params.protocols = ParseTransportProtocols(protocols);
    params.transport_log = settings.GetBool(prefix + "transport_log");
    // One envelope mode for every reader group.
    params.envelope_mode = ParseEnvelopeMode(settings.GetString("envelope_mode"));
    params.auto_t0 = settings.GetBoolOr(prefix + "auto_t0", params.auto_t0);
    params.get_resp_cla_00 = settings.GetBool(prefix + "get_resp_cla_00");
    return params;
}

void CardServiceFactory::SetOsVersion(SettingsDatabase& settings, CardService& cardService, const std::string& prefix) {
    SettingsValidator(settings).ValidateGroup(qxw::OsSettings(), prefix);
    std::string version;
    if (!settings.Get(prefix + "os_version", version)) return;
    OsInfo info;
    if (version == "#autodetect") {
        cardService.PowerOn();
        info.OsVersionAutoDetect(cardService);
        cardService.PowerOff();
    } else {
        info.Parse(version);
    }
    cardService.SetOsInfo(info);
}

}  // namespace ZORVIK
