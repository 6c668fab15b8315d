// A virtual contact card for the vpcd reader driver of vsmartcard: a small card
// model and the link that serves it to vpcd over TCP on 127.0.0.1 in vpcd's
// framing (2-byte big-endian length, payload).
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <thread>
#include <vector>

#include "service/common/binary.h"

namespace ZORVIK::test {

// SELECT of one application answers its FCI, READ BINARY reads a file whose
// byte i holds i mod 256, GET DATA of tag 0101 gives 8 bytes (6C08 for any
// other Le), INS EE echoes its data, ENVELOPE (ISO/IEC 7816-4, 7.6.2) gathers a
// command in pieces, anything else is 6D00. The card cannot tell over which
// protocol pcscd talks to it: over T=0 (the default) a command without Le whose
// answer has data gets 61xx and leaves the data for GET RESPONSE (ISO/IEC 7816-4,
// 5.3.4), which hands it out 256 bytes at most at a time; over T=1 it gets 9000
// without data.
class VpcdCardModel {
public:
    // ATRs offering T=0 only, T=1 only, and T=0 then T=1 (ISO/IEC 7816-3, 8.2).
    static const char* const AtrT0;    // 3B 02 14 50: no TD1, T=0 implied
    static const char* const AtrT1;    // 3B 80 01 81: TD1 names T=1, TCK
    static const char* const AtrBoth;  // 3B 80 80 01 01: TD1 T=0, TD2 T=1, TCK
    static const char* const Aid;      // F0 5A 4F 52 56 49 4B 01
    static const char* const Fci;      // 6F 0F, 84 08 <AID>, A5 03 (88 01 01: short EF identifier 1)
    static constexpr uint32_t FileSize = 0x1000;
    static const char* const DataObject;  // 01 02 03 04 05 06 07 08

    explicit VpcdCardModel(binary::Binary atr) : m_atr(std::move(atr)) {}
    void SetT1(bool t1) { m_t1 = t1; }

    // One frame of vpcd in, the answer out: a one-byte frame is a control code
    // (0 off, 1 on, 2 reset: no answer; 4: the ATR), any other a command.
    binary::Binary Process(const binary::Binary& frame);
    // Every frame received, in order.
    std::vector<binary::Binary> Frames() const;

private:
    binary::Binary Execute(const binary::Binary& command);
    // Response data that waits for GET RESPONSE: 61xx announces it.
    binary::Binary Pend(const binary::Binary& data);

    const binary::Binary m_atr;
    std::atomic<bool> m_t1{false};
    binary::Binary m_pending;
    binary::Binary m_envelope;
    mutable std::mutex m_mutex;
    std::vector<binary::Binary> m_frames;
};

// The card in its vpcd slot: Insert connects to vpcd's port on 127.0.0.1 and
// serves frames on a thread; Remove closes the connection, which vpcd reports
// as the card taken out.
class VpcdCard {
public:
    explicit VpcdCard(const char* atrHex) : m_model(binary::Binary(atrHex)) {}
    ~VpcdCard() { Remove(); }
    VpcdCard(const VpcdCard&) = delete;
    VpcdCard& operator=(const VpcdCard&) = delete;

    // Returns false when vpcd cannot be reached within two seconds.
    bool Insert(uint16_t port);
    void Remove();

    VpcdCardModel& Model() { return m_model; }

private:
    void Serve();

    VpcdCardModel m_model;
    int m_fd = -1;
    std::thread m_thread;
};

}  // namespace ZORVIK::test
