// The card-service factory: turns one reader group of the settings into a
// working card service (reader name and kind, card and transport settings, the
// reader driver, the APDU log, the OS version), and declares the card service's
// settings. The reader selection with its console menu belongs to it too.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace ZORVIK {

class CardService;
class iLog;
class iReader;
class SettingsDatabase;
class SettingsDescriptions;
struct CardServiceSettings;
struct ReaderParams;

// Reader kinds: the driver a reader name is built with, and the kind-dependent
// defaults of cless and cold_reset_always.
namespace ReaderKind {
constexpr int32_t OSM = 0;
constexpr int32_t JCD_OSM = 1;
constexpr int32_t SIM = 2;
constexpr int32_t QVL = 3;
constexpr int32_t DerimDirect = 4;
constexpr int32_t SctlVscr = 5;
constexpr int32_t OmnikeyContact = 6;
constexpr int32_t OmnikeyContactless = 7;  // the only kind that allows Mifare emulation
constexpr int32_t ScmContact = 8;
constexpr int32_t ScmContactless = 9;
constexpr int32_t AcsContact = 10;
constexpr int32_t AcsContactless = 11;
constexpr int32_t KelToken = 12;
constexpr int32_t Gemplus = 13;
constexpr int32_t IeSmartId = 14;
constexpr int32_t IntechUsb = 15;
constexpr int32_t Mp300Contact = 16;
constexpr int32_t Mp300Contactless = 17;
constexpr int32_t Mp300Mifare = 18;
constexpr int32_t Mp300Sim = 19;
constexpr int32_t EmptyName = 20;
constexpr int32_t Unknown = 21;
// The kinds up to DerimDirect are virtual readers; every other kind is PC/SC.
constexpr int32_t LastVirtual = DerimDirect;
}  // namespace ReaderKind

// What the reader selection asks of the machine. System() reaches the real
// PC/SC service, serial port, network and console; tests put doubles in.
struct ReaderDiscovery {
    // Names of the PC/SC readers, only those holding a card when withCard is set.
    std::function<std::vector<std::string>(bool withCard)> listPcscReaders;
    // Whether a serial-port reader answers on the port.
    std::function<bool(const std::string& port)> probeSerialReader;
    // Whether the direct-network card server accepts a connection.
    std::function<bool(const std::string& host, uint16_t port)> probeDerimServer;
    // Whether the simulated card can be offered.
    std::function<bool()> simulatedCardAvailable;
    // One key among the allowed ones (CardServiceFactory::ReadMenuKey).
    std::function<char(const std::string& allowed)> readMenuKey;

    static ReaderDiscovery System();
};

class CardServiceFactory {
public:
    // consoleLog may be empty; the reader menu talks to the user only through it.
    explicit CardServiceFactory(std::shared_ptr<iLog> consoleLog);
    CardServiceFactory(std::shared_ptr<iLog> consoleLog, ReaderDiscovery discovery);
    ~CardServiceFactory();
    CardServiceFactory(const CardServiceFactory&) = delete;
    CardServiceFactory& operator=(const CardServiceFactory&) = delete;

    // group is "reader", "reader2", ...; log is the head of the framework's log
    // chain. The factory keeps only a weak reference for the in-use check.
    std::shared_ptr<CardService> CreateCardService(SettingsDatabase& settings, const std::string& group,
                                                   std::shared_ptr<iLog> log);

    // The driver for the kind; reader-level keys are read without group prefix.
    static std::unique_ptr<iReader> CreateReader(const CardServiceSettings& cardSettings, int32_t kind,
                                                 const ReaderParams& params, const SettingsDatabase& settings,
                                                 iLog* log);

    // The nine flags of a reader group (prefix "" or "readerN."); cless and
    // cold_reset_always take the reader kind's default when absent. The reader
    // name and kind are the caller's.
    static CardServiceSettings ReadCardServiceSettings(const SettingsDatabase& settings, const std::string& prefix,
                                                       int32_t readerKind);
    // The transport settings of a reader group; envelope_mode is one for all groups.
    static ReaderParams ReadReaderParams(const SettingsDatabase& settings, const std::string& prefix);

    // The four groups of the card service, for validation and the "-h" help.
    static void DeclareSettingsSections(SettingsDescriptions& descriptions);

    // os_version under prefix: "#autodetect" asks the card, any other text is parsed.
    static void SetOsVersion(SettingsDatabase& settings, CardService& cardService, const std::string& prefix);

    // Reader selection. readerSetting is the group's value: "#?", "#PCSC", "#N"
    // (a PC/SC reader number) or a reader name.
    std::string GetReaderName(const std::string& group, const std::string& readerSetting, SettingsDatabase& settings);
    static int32_t GetReaderKind(const std::string& readerName);
    // False when a card service of this factory already uses the reader.
    bool IsReaderFree(const std::string& readerName) const;
    // Reads keys from the console without echo until one of allowed comes; a
    // carriage return counts as a line feed.
    static char ReadMenuKey(const std::string& allowed);

    class CardServiceFactoryImpl;

private:
    std::unique_ptr<CardServiceFactoryImpl> m_impl;
};

}  // namespace ZORVIK
