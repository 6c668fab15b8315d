// The serial card-reader device for tests: the far end of a pseudo-terminal
// pair (openpty) that speaks the reader's packet protocol (type, big-endian
// 16-bit length, payload) over a T=0 or a T=1 card model, answers PPS requests
// and presence polls, and sends raw bytes on request. Runs on its own thread,
// stopped and joined on destruction.
#pragma once

#include <atomic>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "service/common/binary.h"
#include "support/t0_card_model.h"
#include "support/t1_card_model.h"

namespace ZORVIK::test {

class SerialReaderEmulator {
public:
    enum class CardKind { T0, T1 };
    enum class PpsAnswer { Echo, Silent, Mismatch };

    struct Options {
        CardKind card = CardKind::T0;
        binary::Binary atr{0x3B, 0x00};
        PpsAnswer pps = PpsAnswer::Echo;
        bool answerPresence = true;      // answer presence polls with an empty type-4 packet
        bool silentCard = false;         // the T=0 card never answers a header
        std::deque<T1Fault> t1Faults{};  // what the T=1 card does with the blocks it gets, in order
    };

    // What the device has seen: every packet of the host (its type, then its
    // payload), the blocks the T=1 card received, the commands either card ran.
    struct Seen {
        std::vector<binary::Binary> packets;
        std::vector<binary::Binary> t1Blocks;
        std::vector<CApdu> commands;
    };

    SerialReaderEmulator(const CardApplication& application, Options options);
    ~SerialReaderEmulator();
    SerialReaderEmulator(const SerialReaderEmulator&) = delete;
    SerialReaderEmulator& operator=(const SerialReaderEmulator&) = delete;

    // The terminal device the reader opens.
    const std::string& PortPath() const { return m_portPath; }
    // Raw bytes sent ahead of the device's next answer (ATR, card bytes, poll answer).
    void InjectBeforeNextAnswer(const binary::Binary& raw);
    Seen Observed() const;

private:
    void Run();
    void OnPacket(uint8_t type, const binary::Binary& payload);
    void Answer(uint8_t type, const binary::Binary& payload);

    Options m_options;
    CardApplication m_application;
    int m_master = -1;
    int m_slave = -1;
    std::string m_portPath;

    mutable std::mutex m_mutex;
    binary::Binary m_input;
    std::deque<binary::Binary> m_injected;
    Seen m_seen;
    std::unique_ptr<T0CardModel> m_t0;
    std::unique_ptr<T1CardModel> m_t1;
    bool m_powered = false;
    bool m_ppsWindow = false;  // the first card bytes after an ATR may be a PPS request

    std::atomic<bool> m_stop{false};
    std::thread m_thread;
};

}  // namespace ZORVIK::test
