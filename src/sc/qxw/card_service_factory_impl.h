// The factory's private state, shared by the factory and the reader selection.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "sc/qxw/card_service_factory.h"

namespace ZORVIK {

class CardServiceFactory::CardServiceFactoryImpl {
public:
    CardServiceFactoryImpl(std::shared_ptr<iLog> consoleLog, ReaderDiscovery discovery)
        : m_consoleLog(std::move(consoleLog)), m_discovery(std::move(discovery)) {}

    // The menu over the PC/SC readers holding a card and, with virtualReaders,
    // the simulated card, the serial reader and the direct-network server.
    std::string ChooseReader(const std::string& group, bool virtualReaders, const SettingsDatabase& settings);
    std::string ReaderByNumber(const std::string& group, uint32_t number);
    void CheckFree(const std::string& group, const std::string& readerName) const;
    bool IsFree(const std::string& readerName) const;

    // Declared in this order so that the set goes before the log handle.
    std::shared_ptr<iLog> m_consoleLog;
    // Weak, so that the set never keeps a card service alive.
    std::vector<std::weak_ptr<CardService>> m_created;
    ReaderDiscovery m_discovery;
};

// The TCP port in the plain key (defaultPort when absent); a value outside
// 1..65535 is refused with the key and the value.
uint16_t ReadTcpPort(const SettingsDatabase& settings, const std::string& key, uint16_t defaultPort);

// The direct-network server named by derimdirect_hostname and derimdirect_port
// (plain keys, shared by every reader group).
struct DerimEndpoint {
    std::string host;
    uint16_t port;
};
DerimEndpoint ReadDerimEndpoint(const SettingsDatabase& settings);

// The serial port of "#SIM" (plain key VPORT).
std::string ReadSerialPort(const SettingsDatabase& settings);

}  // namespace ZORVIK
