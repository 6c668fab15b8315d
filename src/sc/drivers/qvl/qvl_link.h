// The link to the hardware model of the card: one process-wide TCP connection
// to 127.0.0.1 (port 7816 unless the caller names another) that carries the
// card's I/O line character by character in messages with a 16-byte
// little-endian header. A failing link ends the process (exit code 1 for a busy
// model, 2 for any socket failure), as the model's tools expect.
#pragma once

#include <cstdint>
#include <cstdio>
#include <functional>

#include "service/common/binary.h"

namespace ZORVIK {

class QvlLink {
public:
    // The model's port on 127.0.0.1 unless a caller names another.
    static constexpr uint16_t DefaultPort = 7816;
    static constexpr size_t HeaderSize = 16;
    // Packet ids.
    static constexpr uint16_t HostMessage = 163;
    static constexpr uint16_t ServerBusy = 192;
    static constexpr uint16_t ModelMessage = 197;
    // Commands of host messages (u16 after the header).
    static constexpr uint16_t ResetCommand = 17;
    static constexpr uint16_t CharacterCommand = 18;
    // Sub-types of model messages.
    static constexpr uint16_t CardCharacter = 26;
    static constexpr uint16_t IsoClock = 27;

    static constexpr int ExitBusy = 1;
    static constexpr int ExitSocketFailure = 2;

    // The 18-byte reset message.
    static binary::Binary ResetMessage();
    // The 20-byte character message: the byte and its even-parity bit.
    static binary::Binary CharacterMessage(uint8_t data);
    // 1 when data has an odd number of set bits, so that data and bit together are even.
    static uint8_t ParityBit(uint8_t data);

    static bool IsConnected();
    // Connects to port on 127.0.0.1 when not yet connected (an open link stays
    // with the port it was opened on); a failure ends the process.
    static void Connect(uint16_t port);
    static void Close();
    // Nothing is sent while the link is not connected.
    static void SendReset();
    // Sends one character and gives the model 50 ms.
    static void SendCharacter(uint8_t data);
    // The next character from the card; messages that carry none are skipped.
    static uint8_t ReceiveCharacter();

    // How reading the model's messages for one character ended.
    enum class ModelRead { Character, Busy, Malformed, Closed };
    // Reads messages through receive (exactly count bytes, false when the stream
    // has ended) until one carries a card character, and traces each to trace
    // (null: no traces). A busy model or a message whose size cannot be right
    // ends the reading; what follows it cannot be trusted.
    static ModelRead ReadModelMessages(const std::function<bool(uint8_t*, size_t)>& receive, std::FILE* trace,
                                       uint8_t& character);

    // Closes the link and ends the process with the code.
    [[noreturn]] static void Exit(int code);
};

}  // namespace ZORVIK
