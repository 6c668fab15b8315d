// The hardware-model reader: resets a simulation model of the card hardware
// over the process-wide QVL link, reads its ATR and runs T=0 (or T=1) with it
// character by character.
#pragma once

#include <cstdint>
#include <memory>

#include "sc/drivers/qvl/qvl_link.h"
#include "sc/exchange/byte_link.h"
#include "sc/exchange/protocol_t0.h"
#include "sc/exchange/protocol_t1.h"
#include "sc/exchange/reader.h"

namespace ZORVIK {

class iLog;
class QVL_Reader;

// Prints every procedure byte and accepts only 6x and 9x as SW1.
class QVL_Reader_T0 : public ByteLink_T0 {
public:
    QVL_Reader_T0(QVL_Reader* reader, iLog* log);
};

class QVL_Reader_T1 : public ByteLink_T1 {
public:
    QVL_Reader_T1(QVL_Reader* reader, iLog* log);
};

class QVL_Reader : public iReader, public iByteLink {
public:
    // wtx, when not 0, is offered to the card in S(WTX) once the link is up.
    // port is the model's port on 127.0.0.1, used when this reader opens the link.
    QVL_Reader(const ReaderParams& params, uint32_t wtx, iLog* log, uint16_t port = QvlLink::DefaultPort);
    ~QVL_Reader() override;
    QVL_Reader(const QVL_Reader&) = delete;
    QVL_Reader& operator=(const QVL_Reader&) = delete;

    const ReaderParams& GetParams() const override { return m_params; }
    void PowerOn(ATR& atr) override;
    void PowerOff() override;
    void Reset(ATR& atr) override;
    binary::Binary GetATR() const override { return m_atr; }
    void Command(const CApdu& command, RApdu& response) override;
    bool IsPowered() const override { return m_powered; }
    CardExchParam& GetCardExchParam(CardExchParam& param) override;

    // Each byte in its own character message.
    void SendBytes(const uint8_t* bytes, uint32_t count) override;
    bool ReceiveBytes(uint8_t* buffer, uint32_t count);
    // Always delivers: a link that fails ends the process.
    bool ReceiveByte(uint8_t& byte) override;

private:
    void ResetModel(ATR& atr);
    bool TraceOn() const { return m_log != nullptr && m_params.transport_log; }

    ReaderParams m_params;
    uint16_t m_port;
    bool m_powered = false;
    uint32_t m_wtx;
    bool m_wtxOffered = false;
    uint32_t m_protocol = ProtocolT0;
    std::unique_ptr<QVL_Reader_T0> m_t0;
    std::unique_ptr<QVL_Reader_T1> m_t1;
    binary::Binary m_atr;
    iLog* m_log;
};

}  // namespace ZORVIK
