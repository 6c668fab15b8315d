#include "sc/exchange/reader.h"

#include "service/program_settings/settings_database.h"

namespace ZORVIK {

std::vector<uint32_t> ParseTransportProtocols(const std::string& text) {
    // The settings' list parse: items trimmed, empty ones dropped, quotes taken off.
    std::vector<std::string> items;
    ParseStringList(text, items);
    return ParseTransportProtocols(items);
}

std::vector<uint32_t> ParseTransportProtocols(const std::vector<std::string>& items) {
    if (items.empty()) {
        return ReaderParams().protocols;
    }
    std::vector<uint32_t> protocols;
    for (const std::string& item : items) {
        // Exact names only: "t0" or "T01" are refused.
        if (item == "T0") {
            protocols.push_back(ProtocolT0);
        } else if (item == "T1") {
            protocols.push_back(ProtocolT1);
        } else {
            ZORVIK_CHECK("ZORVIK::ParseTransportProtocols", false,
                         "Некорректный транспортный протокол контактного интерфейса");
        }
    }
    return protocols;
}

uint32_t ParseEnvelopeMode(const std::string& text) {
    if (text == "smart") {
        return EnvelopeSmart;
    }
    if (text == "force") {
        return EnvelopeForce;
    }
    if (text == "null") {
        return EnvelopeNull;
    }
    ZORVIK_CHECK("ZORVIK::ParseEnvelopeMode", false, "Некорректный режим Envelope");
    return EnvelopeSmart;
}

}  // namespace ZORVIK
