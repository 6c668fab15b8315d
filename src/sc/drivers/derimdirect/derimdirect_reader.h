// The direct network reader: whole APDUs to a card server over TCP, one
// request package answered by one reply package (type byte, big-endian length, data).
#pragma once

#include <cstdint>
#include <string>

#include "sc/exchange/reader.h"
#include "service/network/sockets/stream_socket.h"

namespace ZORVIK {

struct DerimPackage {
    static constexpr uint32_t PowerOn = 0;
    static constexpr uint32_t Reset = 1;
    static constexpr uint32_t PowerOff = 2;
    static constexpr uint32_t Apdu = 3;
    // The largest reply body: a response APDU of 65,536 data bytes and its status word.
    static constexpr uint32_t MaxReplyLength = 65538;

    uint32_t type = 0;
    binary::Binary data;

    // Type byte, 4-byte big-endian length, data.
    binary::Binary Serialize() const;
    // Parses a reply (header and body); a type-3 body "SW1 SW2 data" becomes
    // "data SW1 SW2". Throws "Некорректный размер пакета!" or "Тип команды не поддерживается".
    static DerimPackage ParseReply(const binary::Binary& reply);
};

class DerimDirect_Reader : public iReader {
public:
    DerimDirect_Reader(const std::string& host, uint16_t port);
    ~DerimDirect_Reader() override;

    const ReaderParams& GetParams() const override;
    void PowerOn(ATR& atr) override;
    void PowerOff() override;
    void Reset(ATR& atr) override;
    binary::Binary GetATR() const override;
    void Command(const CApdu& command, RApdu& response) override;
    bool IsPowered() const override { return m_powered; }
    CardExchParam& GetCardExchParam(CardExchParam& param) override { return param; }

    // Whether the server accepts a connection within 100 ms.
    static bool Probe(const std::string& host, uint16_t port);

private:
    DerimPackage Exchange(const DerimPackage& request);
    // Runs one exchange with the socket connected first; any failure closes the
    // socket so that the next operation connects anew.
    DerimPackage Transact(uint32_t type, const binary::Binary& data = binary::Binary());

    StreamSocket m_socket;
    SocketAddress m_address;
    ATR m_atr;
    bool m_powered = false;
};

}  // namespace ZORVIK
