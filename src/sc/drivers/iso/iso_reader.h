// The serial-port reader: a card-reader device on a tty that passes the card's
// bytes in packets; the host reads the ATR, negotiates the protocol with PPS and
// runs T=0 or T=1 itself.
#pragma once

#include <cstdint>
#include <deque>
#include <memory>
#include <string>

#include "sc/drivers/iso/serial_port.h"
#include "sc/exchange/byte_link.h"
#include "sc/exchange/protocol_t0.h"
#include "sc/exchange/protocol_t1.h"
#include "sc/exchange/reader.h"

namespace ZORVIK {

class iLog;
class ISOReader;

class ISO_Reader_T0 : public ByteLink_T0 {
public:
    ISO_Reader_T0(ISOReader* reader, iLog* log);
};

class ISO_Reader_T1 : public ByteLink_T1 {
public:
    ISO_Reader_T1(ISOReader* reader, iLog* log);
};

class ISOReader : public iReader, public iByteLink {
public:
    static constexpr uint32_t ProtocolNone = 4;
    static constexpr uint32_t BaudIndex = 8;  // 115,200 Bd
    static constexpr uint32_t PresenceTimeoutMs = 100;

    // Opens the port (a name without '/' is a device under /dev/); throws
    // "Не удается открыть порт <name>" (code 4). waitMs bounds the wait for
    // every byte from the device (0: no bound) and, when not 0, its low byte is
    // offered to the card in S(WTX). log receives traces and debug texts.
    ISOReader(const std::string& portName, const ReaderParams& params, uint32_t waitMs, iLog* log);
    ~ISOReader() override;
    ISOReader(const ISOReader&) = delete;
    ISOReader& operator=(const ISOReader&) = delete;

    const ReaderParams& GetParams() const override { return m_params; }
    void PowerOn(ATR& atr) override;
    void PowerOff() override;
    void Reset(ATR& atr) override;
    binary::Binary GetATR() const override { return m_atr; }
    void Command(const CApdu& command, RApdu& response) override;
    // Asks the device: true when it answers the presence poll within 100 ms.
    bool IsPowered() const override;
    CardExchParam& GetCardExchParam(CardExchParam& param) override;

    // One card-byte packet.
    void SendBytes(const uint8_t* bytes, uint32_t count) override;
    // Card bytes in order, reading packets as needed; false when the device
    // does not deliver them in time.
    bool ReceiveBytes(uint8_t* buffer, uint32_t count);
    bool ReceiveByte(uint8_t& byte) override;

    // Whether a device on the port answers a presence poll within 100 ms.
    static bool Probe(const std::string& portName);

private:
    void Discard();
    void SendPacket(uint8_t type, const binary::Binary& payload) const;
    // One packet, every byte within timeoutMs.
    bool ReceivePacket(uint32_t timeoutMs, uint8_t& type) const;
    bool NextCardByte(uint8_t& byte);
    void PowerUp(uint8_t control, ATR& atr);
    void ReadAtr(ATR& atr);
    void SetUpProtocol(ATR& atr);
    void RequirePower(const char* where) const;
    bool TraceOn() const { return m_log != nullptr && m_params.transport_log; }

    ReaderParams m_params;
    bool m_powered = false;
    mutable SerialPort m_port;
    uint32_t m_wait;
    mutable std::deque<uint8_t> m_queue;
    uint32_t m_protocol = ProtocolNone;
    std::unique_ptr<ISO_Reader_T0> m_t0;
    std::unique_ptr<ISO_Reader_T1> m_t1;
    binary::Binary m_atr;
    iLog* m_log;
};

}  // namespace ZORVIK
