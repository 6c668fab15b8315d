// The framework: the one process-wide owner of the settings, the log chain and
// the card services (one per reader group), and the free functions through
// which the console reaches the current card service.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "sc/card_service/os_info.h"
#include "sc/exchange/capdu_rapdu.h"
#include "sc/qxw/card_service_factory.h"
#include "service/common/exception.h"

namespace ZORVIK {

class iCardService;
class iLog;
class iSM;
class SettingsDatabase;
class SettingsDescriptions;

class SCFramework {
public:
    class SCFrameworkImpl;

    SCFramework();
    ~SCFramework();
    SCFramework(const SCFramework&) = delete;
    SCFramework& operator=(const SCFramework&) = delete;

    // Takes over the caller's settings (the caller's database is empty
    // afterwards), builds the logs, seeds the random engine, creates one card
    // service per reader group and starts each.
    void Start(SettingsDatabase& settings);
    // 0: the current card service; n >= 1: the n-th in creation order. The
    // framework keeps ownership.
    iCardService* GetCardService(uint32_t number);
    uint32_t GetCardServiceCount() const;
    uint32_t GetCurrentIndex() const;
    // The console log (empty when console_log_on is off), not the chain head.
    std::shared_ptr<iLog> GetLog() const;
    // The implementation begins with the settings database and serves as it.
    SCFrameworkImpl* GetImpl() const;
    SettingsDatabase& GetSettings() const;
    // Finish on every card service in order, then saves the EEPROM images of
    // simulated cards and releases them all; the first failed save is raised
    // once every card service is gone.
    void FinishCardServices();
    // Releases every card service without finishing it: their destructors run now.
    void ReleaseCardServices();

    // What the reader selection of Start asks of the machine (the real PC/SC
    // service, serial port, network and console unless set).
    void SetReaderDiscovery(ReaderDiscovery discovery);

    // The framework's two groups, then the card-service factory's four.
    static void DeclareSettings(SettingsDescriptions& descriptions);

private:
    std::unique_ptr<SCFrameworkImpl> m_impl;
};

// The one framework of the process, created on first use.
SCFramework& GetFramework();

// The last exchange of the current card service as the console sees it.
extern CApdu g_lastCommand;
extern RApdu g_lastResponse;

void InitFramework(SettingsDatabase& settings);
void FinishFramework();
SettingsDatabase* GetSettings();
std::string GetSetting(const std::string& key, const std::string& defaultValue);
bool HasSetting(const std::string& key);
// GetBoolOr on the framework's settings (the console's "verbose" flag).
bool GetBoolSetting(const std::string& key, bool defaultValue);
// The declared settings, for the "-h" help.
void PrintSettingsHelp(SettingsDescriptions& descriptions);

void PowerOn();
void PowerOff();
void Reset();
const RApdu& SendCommand(const SourcePlace& place, const CApdu& command, uint16_t expected);
const RApdu& SendSecureCommand(const SourcePlace& place, const CApdu& command, iSM& sm, uint16_t expected);
OsInfo GetOsInfo();
// Waits for a card to be inserted (true) or removed (false) in the current reader.
void WaitForCard(bool insert);
// Refreshes g_lastCommand and g_lastResponse from the current card service.
void UpdateLastExchange();

}  // namespace ZORVIK
