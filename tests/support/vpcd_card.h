// A virtual contact card for the vpcd reader driver of vsmartcard: a small card
// model (SELECT with FCI, READ BINARY of a large file, answers in 61xx and 6Cxx,
// ENVELOPE, an extended-length echo) and the link that serves it to vpcd over
// TCP on 127.0.0.1 in vpcd's framing.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <thread>
#include <vector>

#include "service/common/binary.h"

namespace ZORVIK::test {

// The card's behaviour, independent of the link. Commands are decoded by the
// length rules of ISO/IEC 7816-4, 5.1, so that both T=0 TPDUs and whole APDUs
// are understood.
class VpcdCardModel {
public:
    // ATRs offering T=0 only, T=1 only, and T=0 then T=1 (ISO/IEC 7816-3, 8.2).
    static const char* const AtrT0;    // 3B 02 14 50: no TD1, T=0 implied
    static const char* const AtrT1;    // 3B 80 01 81: TD1 names T=1, TCK
    static const char* const AtrBoth;  // 3B 80 80 01 01: TD1 T=0, TD2 T=1, TCK

    // The application SELECT (by DF name, P1 04) knows, and its FCI.
    static const char* const Aid;  // F0 5A 4F 52 56 49 4B 01
    // 6F 0F, 84 08 <AID>, A5 03 (88 01 01: short EF identifier 1).
    static const char* const Fci;
    // The transparent file READ BINARY reads: byte i holds i mod 256.
    static constexpr uint32_t FileSize = 0x1000;
    // GET DATA (CA) of tag 0101 returns these 8 bytes and answers any other Le with 6C08.
    static const char* const DataObject;  // 01 02 03 04 05 06 07 08

    explicit VpcdCardModel(binary::Binary atr);

    // The card cannot tell over which protocol pcscd talks to it: over T=0 (the
    // default) a command without Le that has response data answers 61xx and
    // keeps the data for GET RESPONSE, over T=1 it answers 9000 without data.
    void SetT1(bool t1) { m_t1 = t1; }

    const binary::Binary& Atr() const { return m_atr; }
    // Applies one vpcd control code (0 off, 1 on, 2 reset); 4 is answered with the ATR.
    void Control(uint8_t code);
    // One command (APDU or T=0 TPDU) in, response data and status word out.
    binary::Binary Process(const binary::Binary& command);

    int PowerOnCount() const { return m_powerOns.load(); }
    int PowerOffCount() const { return m_powerOffs.load(); }
    int ResetCount() const { return m_resets.load(); }
    // Every command received, in order (ENVELOPE pieces as they came).
    std::vector<binary::Binary> Commands() const;

private:
    binary::Binary Execute(const binary::Binary& command);
    // Response data that waits for GET RESPONSE: 61xx announces it.
    binary::Binary Pend(const binary::Binary& data);

    binary::Binary m_atr;
    std::atomic<bool> m_t1{false};
    binary::Binary m_pending;
    binary::Binary m_envelope;
    std::atomic<int> m_powerOns{0};
    std::atomic<int> m_powerOffs{0};
    std::atomic<int> m_resets{0};
    mutable std::mutex m_mutex;
    std::vector<binary::Binary> m_commands;
};

// The card in its vpcd slot: Insert connects to vpcd's port on 127.0.0.1 and
// serves frames (2-byte big-endian length, payload) on a thread; Remove closes
// the connection, which vpcd reports as the card taken out.
class VpcdCard {
public:
    explicit VpcdCard(const char* atrHex);
    ~VpcdCard();
    VpcdCard(const VpcdCard&) = delete;
    VpcdCard& operator=(const VpcdCard&) = delete;

    // Returns false when vpcd cannot be reached within two seconds.
    bool Insert(uint16_t port);
    void Remove();
    bool Inserted() const { return m_connected.load(); }

    VpcdCardModel& Model() { return m_model; }

private:
    void Serve();

    VpcdCardModel m_model;
    int m_fd = -1;
    std::atomic<bool> m_stop{false};
    std::atomic<bool> m_connected{false};
    std::thread m_thread;
};

}  // namespace ZORVIK::test
