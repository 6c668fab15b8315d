#include "sc/drivers/iso/iso_packet.h"

#include <algorithm>

#include "sc/exchange/reader.h"
#include "service/common/exception.h"
#include "service/common/printf.h"
#include "service/log/log.h"

namespace ZORVIK::IsoPacket {

namespace {

constexpr int32_t DebugLevel = 1;

// The zero-terminated text from offset, ended by the payload's end at the latest.
std::string TextAt(const binary::Binary& payload, size_t offset, size_t& end) {
    if (offset >= payload.size()) {
        end = payload.size();
        return {};
    }
    const auto first = payload.begin() + static_cast<std::ptrdiff_t>(offset);
    const auto terminator = std::find(first, payload.end(), uint8_t{0});
    end = static_cast<size_t>(terminator - payload.begin());
    return std::string(first, terminator);
}

}  // namespace

binary::Binary Encode(uint8_t type, const binary::Binary& payload) {
    ZORVIK_CHECK("ZORVIK::IsoPacket::Encode", payload.size() <= MaxPayload, "Слишком длинный пакет");
    binary::Binary packet{type, static_cast<uint8_t>(payload.size() >> 8), static_cast<uint8_t>(payload.size())};
    return packet + payload;
}

bool Receive(const ByteSource& read, std::deque<uint8_t>& queue, iLog* log, uint8_t& type) {
    uint8_t header[3];
    for (uint8_t& byte : header) {
        if (!read(byte)) return false;
    }
    const size_t length = static_cast<size_t>(header[1]) << 8 | header[2];
    binary::Binary payload;
    payload.reserve(length);
    for (size_t i = 0; i < length; ++i) {
        uint8_t byte = 0;
        if (!read(byte)) return false;
        payload.push_back(byte);
    }
    type = header[0];
    switch (type) {
        case CardBytes:
        case PresencePoll: queue.insert(queue.end(), payload.begin(), payload.end()); return true;
        case Debug:
            if (log != nullptr) LogPrintf(log, DebugLevel, "%s", DebugText(payload).c_str());
            return true;
        default:
            throw CardDrvException("Неверный формат передачи данных", CardDrvError::DataFormat,
                                   ZORVIK_PLACE("ZORVIK::IsoPacket::Receive"));
    }
}

std::string DebugText(const binary::Binary& payload) {
    // Line number and at least the terminator of the file name.
    if (payload.size() < 3) {
        throw CardDrvException("Неверный пакет с отладочной информацией", CardDrvError::General,
                               ZORVIK_PLACE("ZORVIK::IsoPacket::DebugText"));
    }
    const int line = payload[0] << 8 | payload[1];
    size_t nameEnd = 0;
    const std::string file = TextAt(payload, 2, nameEnd);
    if (line != 0 && !file.empty()) {
        // A text follows only when the name is terminated inside the payload.
        if (nameEnd + 1 < payload.size()) {
            size_t textEnd = 0;
            const std::string text = TextAt(payload, nameEnd + 1, textEnd);
            return SafePrintf("[%s at %i] %s", file.c_str(), line, text.c_str());
        }
        return SafePrintf("Debug Print in %s at %i ", file.c_str(), line);
    }
    size_t textEnd = 0;
    return TextAt(payload, 3, textEnd);
}

}  // namespace ZORVIK::IsoPacket
