#include "sc/qxw/framework.h"

#include <algorithm>
#include <chrono>
#include <ctime>
#include <exception>
#include <thread>
#include <vector>

#include "sc/card_service/card_service.h"
#include "sc/drivers/osm/osm_reader.h"
#include "sc/exchange/reader.h"
#include "sc/qxw/card_service_factory.h"
#include "sc/qxw/log_util.h"
#include "sc/qxw/settings_declarations.h"
#include "service/common/binary.h"
#include "service/common/filesystem.h"
#include "service/common/utilities.h"
#include "service/log/log.h"
#include "service/program_settings/setting_descriptions.h"
#include "service/program_settings/settings_database.h"

namespace ZORVIK {

CApdu g_lastCommand;
RApdu g_lastResponse;

namespace {

constexpr int32_t NoLogLevel = 8;
constexpr int32_t InfoLevel = 5;
constexpr int32_t DebugLevel = 1;
constexpr int32_t ReaderTableColour = 11;
constexpr int32_t CardWaitLevel = 7;
constexpr int32_t CardWaitColour = 15;
constexpr int32_t CardArrivedColour = 10;
// Digits of the counter that a log_format pattern may ask for.
constexpr uint32_t LogCounterWidth = 3;
// IsPowered of a reader already waits for its device; this only spares the CPU.
constexpr std::chrono::milliseconds CardPollInterval(50);

uint32_t MillisecondTicks() {
    const auto now = std::chrono::steady_clock::now().time_since_epoch();
    return static_cast<uint32_t>(std::chrono::duration_cast<std::chrono::milliseconds>(now).count());
}

// The reader table, one line per card service, framed. PC/SC readers name
// themselves: a name is shown with its control bytes escaped.
std::string ReaderTable(const std::vector<std::string>& readerNames) {
    std::vector<std::string> lines;
    for (size_t i = 0; i < readerNames.size(); ++i) {
        std::string line = "Reader";
        if (readerNames.size() > 1) {
            line += ' ';
            line += static_cast<char>('1' + i);
        }
        lines.push_back(line + " : " + EscapeControlBytes(readerNames[i]));
    }
    size_t width = 0;
    for (const std::string& line : lines) width = std::max(width, line.size());
    std::string frame(1, '+');
    frame.append(width + 2, '-');
    frame += "+\n";
    std::string text = frame;
    for (const std::string& line : lines) {
        text += "| ";
        text += line;
        text.append(width - line.size(), ' ');
        text += " |\n";
    }
    return text + frame;
}

}  // namespace

class SCFramework::SCFrameworkImpl {
public:
    void Start(SettingsDatabase& settings);
    void BuildLogs();
    void Seed();
    void CreateCardServices();
    void WriteReaderTable();
    CardService* GetCardService(uint32_t number);
    void FinishCardServices();

    // Members are destroyed in reverse: the log directory first, the settings last.
    SettingsDatabase m_settings;
    uint32_t m_currentIndex = 0;
    // The factory makes only CardService objects, which the free functions below
    // need as such (reader, OS version, last exchange).
    std::vector<std::shared_ptr<CardService>> m_cardServices;
    std::shared_ptr<iLog> m_log;
    std::shared_ptr<iLog> m_consoleLog;
    std::string m_logDir;
    ReaderDiscovery m_discovery = ReaderDiscovery::System();
};

void SCFramework::SCFrameworkImpl::Start(SettingsDatabase& settings) {
    if (&settings != &m_settings) {
        m_settings = SettingsDatabase();
        std::swap(m_settings, settings);
    }
    SettingsValidator(m_settings).ValidateGroup(qxw::FrameworkSettings(), "");
    BuildLogs();

    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    LogPrintf(m_log.get(), InfoLevel, "Current time: %04d-%02d-%02d %02d:%02d:%02d", local.tm_year + 1900,
              local.tm_mon + 1, local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec);

    Seed();
    CreateCardServices();
    WriteReaderTable();
    for (const std::shared_ptr<CardService>& service : m_cardServices) service->Start();
}

void SCFramework::SCFrameworkImpl::BuildLogs() {
    SettingsValidator(m_settings).ValidateGroup(qxw::FrameworkLogSettings(), "");
    m_logDir = m_settings.GetString("log_dir");
    const int32_t level = m_settings.GetInt("log_level");
    const bool consoleLogOn = m_settings.GetBool("console_log_on");
    const bool fileLogOn = m_settings.GetBool("file_log_on");
    std::string logName;
    m_settings.GetStringOr("log_name", logName, filesystem::FormatPath(filesystem::GetModulePath(), "%n"));
    const std::string logFormat = m_settings.GetString("log_format");

    // Plain concatenation: a log_dir value carries its own trailing '/'.
    const std::string fileName = m_logDir + logName + ".log";
    const int32_t threshold = level >= 1 && level <= 7 ? level : NoLogLevel;

    if (consoleLogOn) m_consoleLog = std::make_shared<ConsLog>(nullptr);

    if (threshold != NoLogLevel && fileLogOn) {
        std::shared_ptr<iLog> fileLog;
        if (logFormat.empty())
            fileLog = std::make_shared<DeletableFileLog>(fileName, m_consoleLog);
        else
            fileLog = std::make_shared<DeletableFileLog>(fileName, logFormat, LogCounterWidth, m_consoleLog);
        m_log = std::make_shared<ImportanceFilter>(threshold, fileLog);
    } else {
        m_log = std::make_shared<ImportanceFilter>(threshold, m_consoleLog);
    }
    g_frameworkLog = m_log;
}

void SCFramework::SCFrameworkImpl::Seed() {
    binary::Binary seedValue;
    m_settings.Get("random_seed_value", seedValue);
    const uint32_t seed = seedValue.empty() ? MillisecondTicks() : binary::NumCast<uint32_t>(seedValue);
    // minstd_rand takes seed mod 0x7FFFFFFF as its state and turns 0 into 1.
    GetRandomEngine().seed(seed);
    LogPrintf(m_log.get(), DebugLevel, "Random seed (hex): %08X", seed);
}

void SCFramework::SCFrameworkImpl::CreateCardServices() {
    CardServiceFactory factory(m_consoleLog, m_discovery);
    const bool severalReaders = m_settings.HasGroup("reader2");
    for (uint32_t n = 1;; ++n) {
        const std::string group = n == 1 ? std::string("reader") : "reader" + IntToStr(n);
        if (!m_settings.HasGroup(group)) break;
        const std::string prefix = n == 1 ? std::string() : group + ".";
        // With two or more readers every command line names its reader.
        if (severalReaders) m_settings.AddSetting(prefix + "output_reader_name", "1", Set);
        m_cardServices.push_back(factory.CreateCardService(m_settings, group, m_log));
    }
}

void SCFramework::SCFrameworkImpl::WriteReaderTable() {
    if (m_cardServices.empty()) return;
    std::vector<std::string> names;
    for (const std::shared_ptr<CardService>& service : m_cardServices) names.push_back(service->GetReaderName());
    m_log->WriteRec(LogRecord(std::string(), InfoLevel, ReaderTableColour, ReaderTable(names), true));
}

CardService* SCFramework::SCFrameworkImpl::GetCardService(uint32_t number) {
    const uint64_t index = number == 0 ? m_currentIndex : uint64_t{number} - 1;
    ZORVIK_CHECK("ZORVIK::SCFramework::GetCardService", index < m_cardServices.size(),
                 "Обращение к отсутствующему CardService");
    return m_cardServices[static_cast<size_t>(index)].get();
}

void SCFramework::SCFrameworkImpl::FinishCardServices() {
    for (const std::shared_ptr<CardService>& service : m_cardServices) service->Finish();
    // A simulated card saves its EEPROM image here rather than as its reader
    // goes, so that a failed save reaches the caller; every card service is
    // released all the same.
    std::exception_ptr firstError;
    for (const std::shared_ptr<CardService>& service : m_cardServices) {
        auto* simulated = dynamic_cast<OSMReader*>(service->GetReader());
        try {
            if (simulated) simulated->SaveEepromImage();
        } catch (...) {
            if (!firstError) firstError = std::current_exception();
        }
    }
    m_cardServices.clear();
    if (firstError) std::rethrow_exception(firstError);
}

SCFramework::SCFramework() : m_impl(std::make_unique<SCFrameworkImpl>()) {}
SCFramework::~SCFramework() = default;

void SCFramework::Start(SettingsDatabase& settings) { m_impl->Start(settings); }
iCardService* SCFramework::GetCardService(uint32_t number) { return m_impl->GetCardService(number); }
uint32_t SCFramework::GetCardServiceCount() const { return static_cast<uint32_t>(m_impl->m_cardServices.size()); }
uint32_t SCFramework::GetCurrentIndex() const { return m_impl->m_currentIndex; }
std::shared_ptr<iLog> SCFramework::GetLog() const { return m_impl->m_consoleLog; }
SCFramework::SCFrameworkImpl* SCFramework::GetImpl() const { return m_impl.get(); }
SettingsDatabase& SCFramework::GetSettings() const { return m_impl->m_settings; }
void SCFramework::FinishCardServices() { m_impl->FinishCardServices(); }
void SCFramework::ReleaseCardServices() { m_impl->m_cardServices.clear(); }
void SCFramework::SetReaderDiscovery(ReaderDiscovery discovery) { m_impl->m_discovery = std::move(discovery); }

void SCFramework::DeclareSettings(SettingsDescriptions& descriptions) {
    descriptions.AddGroup(qxw::FrameworkTitle, qxw::FrameworkSettings());
    descriptions.AddGroup(qxw::LoggingTitle, qxw::FrameworkLogSettings());
    CardServiceFactory::DeclareSettingsSections(descriptions);
}

SCFramework& GetFramework() {
    static SCFramework framework;
    return framework;
}

void InitFramework(SettingsDatabase& settings) { GetFramework().Start(settings); }
void FinishFramework() { GetFramework().FinishCardServices(); }
SettingsDatabase* GetSettings() { return &GetFramework().GetSettings(); }

std::string GetSetting(const std::string& key, const std::string& defaultValue) {
    std::string value;
    GetSettings()->GetStringOr(key, value, defaultValue);
    return value;
}

bool HasSetting(const std::string& key) { return GetSettings()->Has(key); }
bool GetBoolSetting(const std::string& key, bool defaultValue) { return GetSettings()->GetBoolOr(key, defaultValue); }
void PrintSettingsHelp(SettingsDescriptions& descriptions) { SCFramework::DeclareSettings(descriptions); }

void PowerOn() { GetFramework().GetCardService(0)->PowerOn(); }
void PowerOff() { GetFramework().GetCardService(0)->PowerOff(); }
void Reset() { GetFramework().GetCardService(0)->Reset(); }

const RApdu& SendCommand(const SourcePlace& place, const CApdu& command, uint16_t expected) {
    return GetFramework().GetCardService(0)->SetPlace(place).Command(command, expected);
}

const RApdu& SendSecureCommand(const SourcePlace& place, const CApdu& command, iSM& sm, uint16_t expected) {
    return GetFramework().GetCardService(0)->SetPlace(place).Command(command, sm, expected);
}

namespace {
CardService& CurrentCardService() { return *GetFramework().GetImpl()->GetCardService(0); }
}  // namespace

OsInfo GetOsInfo() { return CurrentCardService().GetOsInfo(); }

void WaitForCard(bool insert) {
    CardService& service = CurrentCardService();
    const std::shared_ptr<iLog> console = GetFramework().GetLog();
    if (console) {
        const char* waiting = insert ? "Ожидание вставки карты в ридер " : "Ожидание удаления карты из ридера ";
        LogPrintfColour(console.get(), CardWaitLevel, CardWaitColour, "%s%s ...", waiting,
                        service.GetReaderName().c_str());
    }
    while (service.GetReader()->IsPowered() != insert) std::this_thread::sleep_for(CardPollInterval);
    if (console)
        LogPrintfColour(console.get(), CardWaitLevel, CardArrivedColour, "%s",
                        insert ? "карта вставлена" : "карта удалена");
}

void UpdateLastExchange() {
    SCFramework& framework = GetFramework();
    if (framework.GetCurrentIndex() >= framework.GetCardServiceCount()) return;
    const CardService& service = CurrentCardService();
    g_lastCommand = service.GetLastCommand();
    const RApdu& response = service.GetLastResponse();
    g_lastResponse.data = response.data;
    g_lastResponse.sw1 = response.sw1;
    g_lastResponse.sw2 = response.sw2;
}

}  // namespace ZORVIK
