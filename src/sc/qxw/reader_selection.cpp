// Reader selection of the card-service factory: a reader setting becomes a
// reader name (explicitly, by PC/SC number, or chosen from the candidates,
// by a console menu when there are several) and a name becomes a reader kind.
#include <cstdlib>
#include <map>

#include "sc/card_service/card_service.h"
#include "sc/drivers/derimdirect/derimdirect_reader.h"
#include "sc/drivers/iso/iso_reader.h"
#include "sc/drivers/osm/osm_reader.h"
#include "sc/drivers/pcsc/pcsc_reader.h"
#include "sc/qxw/card_service_factory.h"
#include "sc/qxw/card_service_factory_impl.h"
#include "service/common/exception.h"
#include "service/common/utilities.h"
#include "service/log/log.h"
#include "service/log/terminal.h"
#include "service/program_settings/settings_database.h"

namespace ZORVIK {

namespace {

// A reader list of more than this many names cannot be chosen from with one digit.
constexpr size_t MaxListedReaders = 9;
constexpr char TooManyReaders[] = "Количество считок > 9 пока не поддержано";

constexpr int32_t MenuLevel = 7;
constexpr int32_t TitleColour = 11;
constexpr int32_t RuleColour = 8;
constexpr int32_t ItemColour = 7;
constexpr int32_t PromptColour = 14;

constexpr char DefaultSerialPort[] = "CNCB0";
constexpr char DefaultDerimHost[] = "127.0.0.1";
constexpr uint32_t DefaultDerimPort = 50000;

struct VirtualReader {
    const char* name;
    char key;
    const char* text;
};
constexpr VirtualReader SimulatedCard{"#OSM", 'm', "m - OSM"};
constexpr VirtualReader SerialReader{"#SIM", 's', "s - Simulator"};
constexpr VirtualReader DerimReader{"#DERIMDIRECT", 'v', "v - Derim Direct"};

const std::map<std::string, int32_t>& ReaderKindTable() {
    static const std::map<std::string, int32_t> table{
        {"#OSM", ReaderKind::OSM},
        {"#JCD_OSM", ReaderKind::JCD_OSM},
        {"#SIM", ReaderKind::SIM},
        {"#QVL", ReaderKind::QVL},
        {"#DERIMDIRECT", ReaderKind::DerimDirect},
        {"SCTL VSCR", ReaderKind::SctlVscr},
        {"OMNIKEY CardMan 3x21", ReaderKind::OmnikeyContact},
        {"OMNIKEY CardMan 5x21", ReaderKind::OmnikeyContact},
        {"OMNIKEY CardMan 5x21-CL", ReaderKind::OmnikeyContactless},
        {"SCM Microsystems Inc. SDI010 Smart Card Reader", ReaderKind::ScmContact},
        {"SCM Microsystems Inc. SDI010 Contactless Reader", ReaderKind::ScmContactless},
        {"SCM Microsystems Inc. SDI011G Contactless Reader", ReaderKind::ScmContactless},
        {"ACS ACR128U ICC Interface", ReaderKind::AcsContact},
        {"ACS ACR128U PICC Interface", ReaderKind::AcsContactless},
        {"ACS ACR122U PICC Interface", ReaderKind::AcsContactless},
        {"KelToken CCID", ReaderKind::KelToken},
        {"Gemplus USB Smart Card Reader", ReaderKind::Gemplus},
        {"IE SmartID/CCID", ReaderKind::IeSmartId},
        {"Intech USB Reader", ReaderKind::IntechUsb},
        {"#MP300_TC", ReaderKind::Mp300Contact},
        {"#MP300_CL", ReaderKind::Mp300Contactless},
        {"#MP300_CL_MIFARE", ReaderKind::Mp300Mifare},
        {"#MP300_SIM", ReaderKind::Mp300Sim},
        {"", ReaderKind::EmptyName},
    };
    return table;
}

void CheckReaderCount(size_t count) {
    ZORVIK_CHECK("ZORVIK::CardServiceFactory::GetReaderName", count <= MaxListedReaders, TooManyReaders);
}

[[noreturn]] void UserQuits() { std::exit(0); }

}  // namespace

std::string ReadSerialPort(const SettingsDatabase& settings) {
    std::string port;
    settings.GetStringOr("VPORT", port, DefaultSerialPort);
    return port;
}

uint16_t ReadTcpPort(const SettingsDatabase& settings, const std::string& key, uint16_t defaultPort) {
    const uint32_t port = settings.GetOr<uint32_t>(key, defaultPort);
    ZORVIK_CHECK_STR("ZORVIK::ReadTcpPort", port >= 1 && port <= 0xFFFF,
                     "Значение настройки \"" + key + "\" = " + settings.GetString(key) +
                         " не является номером TCP-порта (1..65535)");
    return static_cast<uint16_t>(port);
}

DerimEndpoint ReadDerimEndpoint(const SettingsDatabase& settings) {
    DerimEndpoint endpoint;
    settings.GetStringOr("derimdirect_hostname", endpoint.host, DefaultDerimHost);
    endpoint.port = ReadTcpPort(settings, "derimdirect_port", DefaultDerimPort);
    return endpoint;
}

int32_t CardServiceFactory::GetReaderKind(const std::string& readerName) {
    // PC/SC names end in a blank and an index, which the key leaves out.
    const size_t lastBlank = readerName.rfind(' ');
    const std::string key = lastBlank == std::string::npos ? readerName : readerName.substr(0, lastBlank);
    const auto& table = ReaderKindTable();
    const auto found = table.find(key);
    return found == table.end() ? ReaderKind::Unknown : found->second;
}

bool CardServiceFactory::CardServiceFactoryImpl::IsFree(const std::string& readerName) const {
    for (const std::weak_ptr<CardService>& created : m_created) {
        const std::shared_ptr<CardService> service = created.lock();
        if (service && service->GetReaderName() == readerName) return false;
    }
    return true;
}

bool CardServiceFactory::IsReaderFree(const std::string& readerName) const { return m_impl->IsFree(readerName); }

void CardServiceFactory::CardServiceFactoryImpl::CheckFree(const std::string& group,
                                                           const std::string& readerName) const {
    ZORVIK_CHECK_STR("ZORVIK::CardServiceFactory::GetReaderName", IsFree(readerName),
                     "Попытка выбрать " + group + " = " + readerName + ", который уже используется");
}

char CardServiceFactory::ReadMenuKey(const std::string& allowed) {
    for (;;) {
        const char key = terminal::ReadKey();
        if (allowed.find(key) != std::string::npos) return key;
    }
}

std::string CardServiceFactory::CardServiceFactoryImpl::ReaderByNumber(const std::string& group, uint32_t number) {
    const std::vector<std::string> readers = m_discovery.listPcscReaders(false);
    CheckReaderCount(readers.size());
    ZORVIK_CHECK_STR("ZORVIK::CardServiceFactory::GetReaderName", number < readers.size(),
                     "Считка с указанным номером " + IntToStr(number) + " не подключена");
    CheckFree(group, readers[number]);
    return readers[number];
}

std::string CardServiceFactory::CardServiceFactoryImpl::ChooseReader(const std::string& group, bool virtualReaders,
                                                                     const SettingsDatabase& settings) {
    for (;;) {
        const std::vector<std::string> withCard = m_discovery.listPcscReaders(true);
        CheckReaderCount(withCard.size());
        std::vector<std::string> pcsc;
        for (const std::string& name : withCard) {
            if (IsFree(name)) pcsc.push_back(name);
        }

        std::vector<VirtualReader> virtuals;
        if (virtualReaders) {
            if (IsFree(SimulatedCard.name) && m_discovery.simulatedCardAvailable()) virtuals.push_back(SimulatedCard);
            if (IsFree(SerialReader.name) && m_discovery.probeSerialReader(ReadSerialPort(settings)))
                virtuals.push_back(SerialReader);
            if (IsFree(DerimReader.name)) {
                const DerimEndpoint endpoint = ReadDerimEndpoint(settings);
                if (m_discovery.probeDerimServer(endpoint.host, endpoint.port)) virtuals.push_back(DerimReader);
            }
        }

        const bool mayTalk = !settings.GetMandatory<bool>("disable_user_input") && m_consoleLog != nullptr;
        iLog* console = m_consoleLog.get();
        const size_t candidates = pcsc.size() + virtuals.size();

        if (candidates == 0) {
            if (!mayTalk)
                throw Exception("Ни одной считки не подключено",
                                ZORVIK_PLACE("ZORVIK::CardServiceFactory::GetReaderName"));
            LogPrintfColour(console, MenuLevel, PromptColour, "%s", "Вставьте карту и нажмите Enter. q - выход");
            if (m_discovery.readMenuKey("qQ\n") != '\n') UserQuits();
            continue;
        }
        if (candidates == 1) return pcsc.empty() ? std::string(virtuals.front().name) : pcsc.front();
        if (!mayTalk)
            throw Exception("Подключено более одной считки", ZORVIK_PLACE("ZORVIK::CardServiceFactory::GetReaderName"));

        LogPrintfColour(console, MenuLevel, TitleColour, "\nИнтерактивный выбор \"%s\" из списка доступных:\n",
                        group.c_str());
        std::string allowed = "rRqQ";
        if (!pcsc.empty()) {
            LogPrintfColour(console, MenuLevel, RuleColour, "%s", "------------- PCSC-ридеры -----------------");
            for (size_t i = 0; i < pcsc.size(); ++i) {
                LogPrintfColour(console, MenuLevel, ItemColour, "%d - %s", static_cast<int>(i), pcsc[i].c_str());
                allowed += static_cast<char>('0' + i);
            }
        }
        if (!virtuals.empty()) {
            LogPrintfColour(console, MenuLevel, RuleColour, "%s", "------------- Виртуальные ридеры ----------");
            for (const VirtualReader& reader : virtuals) {
                LogPrintfColour(console, MenuLevel, ItemColour, "%s", reader.text);
                allowed += reader.key;
            }
        }
        LogPrintfColour(console, MenuLevel, PromptColour, "%s",
                        "\nВыберите ридер, нажав соответствующую клавишу. r - обновить список, q - выход");

        const char key = m_discovery.readMenuKey(allowed);
        if (key == 'q' || key == 'Q') UserQuits();
        if (key == 'r' || key == 'R') continue;
        // The key is one of allowed: a listed digit or the letter of a listed virtual reader.
        std::string chosen;
        for (const VirtualReader& reader : virtuals) {
            if (reader.key == key) chosen = reader.name;
        }
        if (chosen.empty()) chosen = pcsc.at(static_cast<size_t>(key - '0'));
        LogPrintfColour(console, MenuLevel, ItemColour, "Выбран %s = %s", group.c_str(), chosen.c_str());
        return chosen;
    }
}

std::string CardServiceFactory::GetReaderName(const std::string& group, const std::string& readerSetting,
                                              SettingsDatabase& settings) {
    if (readerSetting == "#?") return m_impl->ChooseReader(group, true, settings);
    if (readerSetting == "#PCSC") return m_impl->ChooseReader(group, false, settings);
    if (readerSetting.size() >= 2 && readerSetting[0] == '#' && readerSetting[1] >= '0' && readerSetting[1] <= '9')
        return m_impl->ReaderByNumber(group, static_cast<uint32_t>(readerSetting[1] - '0'));
    m_impl->CheckFree(group, readerSetting);
    return readerSetting;
}

ReaderDiscovery ReaderDiscovery::System() {
    ReaderDiscovery discovery;
    // A PC/SC service that cannot be reached lists no readers.
    discovery.listPcscReaders = [](bool withCard) {
        std::vector<std::string> names;
        getPCSCReaderList(names, withCard);
        return names;
    };
    discovery.probeSerialReader = &ISOReader::Probe;
    discovery.probeDerimServer = &DerimDirect_Reader::Probe;
    discovery.simulatedCardAvailable = &OSMReader::IsAvailable;
    discovery.readMenuKey = &CardServiceFactory::ReadMenuKey;
    return discovery;
}

}  // namespace ZORVIK
