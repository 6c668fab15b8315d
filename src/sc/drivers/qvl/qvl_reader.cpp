#include "sc/drivers/qvl/qvl_reader.h"

#include <chrono>
#include <cstdio>
#include <thread>

#include "sc/drivers/iso/atr_reading.h"
#include "sc/drivers/qvl/qvl_link.h"
#include "service/common/exception.h"
#include "service/log/log.h"

namespace ZORVIK {

namespace {

constexpr int32_t TraceLevel = 3;
// The model needs this long to bring the card out of reset.
constexpr auto AfterReset = std::chrono::milliseconds(1000);
constexpr auto AfterAtr = std::chrono::milliseconds(50);

T0LinkOptions ModelT0Options() {
    T0LinkOptions options;
    options.strictStatusByte = true;
    options.echoProcedureBytes = true;
    return options;
}

}  // namespace

QVL_Reader_T0::QVL_Reader_T0(QVL_Reader* reader, iLog* log) : ByteLink_T0(reader, reader, log, ModelT0Options()) {}

QVL_Reader_T1::QVL_Reader_T1(QVL_Reader* reader, iLog* log) : ByteLink_T1(reader, reader, log) {}

QVL_Reader::QVL_Reader(const ReaderParams& params, uint32_t wtx, iLog* log, uint16_t port)
    : m_params(params),
      m_port(port),
      m_wtx(wtx),
      m_t0(std::make_unique<QVL_Reader_T0>(this, log)),
      m_t1(std::make_unique<QVL_Reader_T1>(this, log)),
      m_log(log) {}

QVL_Reader::~QVL_Reader() = default;

void QVL_Reader::PowerOn(ATR& atr) {
    if (m_powered) return;
    QvlLink::Connect(m_port);
    // Offered once the link is up: over a link not yet connected the offer
    // could only fail, and a failing link ends the process.
    if (m_wtx != 0 && !m_wtxOffered) {
        m_wtxOffered = true;
        m_t1->NegotiateWtx(static_cast<uint8_t>(m_wtx));
    }
    ResetModel(atr);
    m_powered = true;
}

void QVL_Reader::Reset(ATR& atr) {
    if (!m_powered) {
        throw CardDrvException(NoCardMessage, CardDrvError::NoCardByteLink, ZORVIK_PLACE("ZORVIK::QVL_Reader::Reset"));
    }
    ResetModel(atr);
}

void QVL_Reader::ResetModel(ATR& atr) {
    std::printf("SendReset\n");
    QvlLink::SendReset();
    std::this_thread::sleep_for(AfterReset);
    std::printf("RecvATR\n");
    binary::Binary characters;
    ReadAtrCharacters([this](uint8_t& byte) { return ReceiveByte(byte); }, characters);
    atr.SetAtr(characters, true);
    m_atr = characters;
    std::printf("Sleep\n");
    std::this_thread::sleep_for(AfterAtr);
    m_protocol = ProtocolT0;
}

void QVL_Reader::PowerOff() {
    if (!m_powered) return;
    QvlLink::Close();
    m_powered = false;
}

void QVL_Reader::Command(const CApdu& command, RApdu& response) {
    if (!m_powered) {
        throw CardDrvException(NoCardMessage, CardDrvError::NoCardByteLink,
                               ZORVIK_PLACE("ZORVIK::QVL_Reader::Command"));
    }
    if (m_protocol == ProtocolT1) {
        m_t1->Command(command, response);
    } else {
        m_t0->Command(command, response);
    }
}

CardExchParam& QVL_Reader::GetCardExchParam(CardExchParam& param) {
    param.protocol = m_protocol;
    return param;
}

void QVL_Reader::SendBytes(const uint8_t* bytes, uint32_t count) {
    if (TraceOn()) LogPrintf(m_log, TraceLevel, ">>> %s", TraceHex(binary::Binary(bytes, bytes + count)).c_str());
    for (uint32_t i = 0; i < count; ++i) QvlLink::SendCharacter(bytes[i]);
}

bool QVL_Reader::ReceiveBytes(uint8_t* buffer, uint32_t count) {
    for (uint32_t i = 0; i < count; ++i) buffer[i] = QvlLink::ReceiveCharacter();
    if (TraceOn()) LogPrintf(m_log, TraceLevel, "<<< %s", TraceHex(binary::Binary(buffer, buffer + count)).c_str());
    return true;
}

bool QVL_Reader::ReceiveByte(uint8_t& byte) {
    byte = QvlLink::ReceiveCharacter();
    if (TraceOn()) LogPrintf(m_log, TraceLevel, "<<< %02X", byte);
    return true;
}

}  // namespace ZORVIK
