// The packet protocol between the host and the serial card-reader device:
// [type][length, high byte first][payload] in both directions, with the
// device's debug texts.
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <string>

#include "service/common/binary.h"

namespace ZORVIK {

class iLog;

namespace IsoPacket {

// Host to device.
constexpr uint8_t CardBytes = 1;     // bytes for the card
constexpr uint8_t Control = 3;       // one byte: ControlPowerOn or ControlWarmReset
constexpr uint8_t PresencePoll = 4;  // empty
constexpr uint8_t ControlPowerOn = 0;
constexpr uint8_t ControlWarmReset = 1;
// Device to host: CardBytes, Debug, and PresencePoll as the poll's answer.
constexpr uint8_t Debug = 2;

constexpr size_t MaxPayload = 0xFFFF;

// Type, two length bytes, payload; a payload above MaxPayload is refused.
binary::Binary Encode(uint8_t type, const binary::Binary& payload);

// Reads one byte within the caller's time-out; false when none came.
using ByteSource = std::function<bool(uint8_t&)>;

// Reads one packet from the device. The payload of a card-byte packet or a
// presence answer goes to queue; a debug packet is written to log (level 1,
// log may be null). Returns false when a byte does not come in time; throws
// "Неверный формат передачи данных" (code 6) for an unknown type, with the
// queue left as it was.
bool Receive(const ByteSource& read, std::deque<uint8_t>& queue, iLog* log, uint8_t& type);

// The text of a debug payload: line number (u16, high byte first), a
// zero-terminated source file name and a zero-terminated text; texts end at the
// payload's end when their terminator is missing. Throws "Неверный пакет с
// отладочной информацией" (code 0) for a payload too short for a line number
// and a name terminator.
std::string DebugText(const binary::Binary& payload);

}  // namespace IsoPacket
}  // namespace ZORVIK
