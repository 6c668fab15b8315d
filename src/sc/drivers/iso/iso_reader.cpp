#include "sc/drivers/iso/iso_reader.h"

#include <chrono>
#include <thread>

#include "sc/drivers/iso/atr_reading.h"
#include "sc/drivers/iso/iso_packet.h"
#include "sc/drivers/iso/protocol_choice.h"
#include "service/common/exception.h"
#include "service/log/log.h"

namespace ZORVIK {

namespace {

constexpr int32_t TraceLevel = 3;
// How long a quiet port counts as drained.
constexpr uint32_t DiscardTimeoutMs = 1;
// A device that floods the port is not drained for ever.
constexpr size_t MaxDiscarded = 0x10000;
// The device answers a power-on only once the card has answered; a device that
// never does is given up after this long instead of waited for without end.
constexpr uint32_t AtrFirstByteTimeoutMs = 10000;
// ISO/IEC 7816-3, 8.1: the card may be spoken to 50 ms after its ATR at the latest.
constexpr auto AfterAtr = std::chrono::milliseconds(50);

void Sleep(std::chrono::milliseconds time) { std::this_thread::sleep_for(time); }

}  // namespace

ISO_Reader_T0::ISO_Reader_T0(ISOReader* reader, iLog* log) : ByteLink_T0(reader, reader, log, T0LinkOptions{}) {}

ISO_Reader_T1::ISO_Reader_T1(ISOReader* reader, iLog* log) : ByteLink_T1(reader, reader, log) {}

ISOReader::ISOReader(const std::string& portName, const ReaderParams& params, uint32_t waitMs, iLog* log)
    : m_params(params), m_wait(waitMs), m_log(log) {
    if (!m_port.Open(portName, BaudIndex, SerialPort::Framing8N1)) {
        throw CardDrvException("Не удается открыть порт " + portName, CardDrvError::PortOpen,
                               ZORVIK_PLACE("ZORVIK::ISOReader::ISOReader"));
    }
    Discard();
    m_t0 = std::make_unique<ISO_Reader_T0>(this, log);
    m_t1 = std::make_unique<ISO_Reader_T1>(this, log);
    if (m_wait != 0) m_t1->NegotiateWtx(static_cast<uint8_t>(m_wait));
}

ISOReader::~ISOReader() {
    m_t0.reset();
    m_t1.reset();
    m_port.Close();
}

void ISOReader::Discard() {
    uint8_t byte = 0;
    for (size_t count = 0; count < MaxDiscarded && m_port.ReadWithTimeout(byte, DiscardTimeoutMs); ++count) {
    }
    m_queue.clear();
}

void ISOReader::SendPacket(uint8_t type, const binary::Binary& payload) const {
    if (!m_port.Write(IsoPacket::Encode(type, payload))) {
        throw CardDrvException("Ошибка записи в порт", CardDrvError::General,
                               ZORVIK_PLACE("ZORVIK::ISOReader::SendPacket"));
    }
}

bool ISOReader::ReceivePacket(uint32_t timeoutMs, uint8_t& type) const {
    const IsoPacket::ByteSource read = [&](uint8_t& byte) { return m_port.ReadWithTimeout(byte, timeoutMs); };
    return IsoPacket::Receive(read, m_queue, m_log, type);
}

bool ISOReader::NextCardByte(uint8_t& byte) {
    while (m_queue.empty()) {
        uint8_t type = 0;
        if (!ReceivePacket(m_wait, type)) return false;
    }
    byte = m_queue.front();
    m_queue.pop_front();
    return true;
}

void ISOReader::SendBytes(const uint8_t* bytes, uint32_t count) {
    const binary::Binary payload(bytes, bytes + count);
    if (TraceOn()) LogPrintf(m_log, TraceLevel, ">>> %s", TraceHex(payload).c_str());
    SendPacket(IsoPacket::CardBytes, payload);
}

bool ISOReader::ReceiveBytes(uint8_t* buffer, uint32_t count) {
    for (uint32_t i = 0; i < count; ++i) {
        if (!NextCardByte(buffer[i])) return false;
    }
    if (TraceOn()) LogPrintf(m_log, TraceLevel, "<<< %s", TraceHex(binary::Binary(buffer, buffer + count)).c_str());
    return true;
}

bool ISOReader::ReceiveByte(uint8_t& byte) {
    if (!NextCardByte(byte)) return false;
    if (TraceOn()) LogPrintf(m_log, TraceLevel, "<<< %02X", byte);
    return true;
}

void ISOReader::PowerOn(ATR& atr) {
    if (m_powered) return;
    Discard();
    PowerUp(IsoPacket::ControlPowerOn, atr);
    m_powered = true;
}

void ISOReader::Reset(ATR& atr) {
    RequirePower("ZORVIK::ISOReader::Reset");
    PowerUp(IsoPacket::ControlWarmReset, atr);
}

void ISOReader::PowerOff() {
    if (!m_powered) return;
    Discard();
    m_powered = false;
}

void ISOReader::PowerUp(uint8_t control, ATR& atr) {
    m_queue.clear();
    SendPacket(IsoPacket::Control, binary::Binary{control});
    ReadAtr(atr);
    Sleep(AfterAtr);
    SetUpProtocol(atr);
}

void ISOReader::ReadAtr(ATR& atr) {
    m_atr.clear();
    binary::Binary characters;
    uint8_t first = 0;
    const bool complete = m_port.ReadByteTimed(first, false, AtrFirstByteTimeoutMs) &&
                          ReadAtrCharacters([this](uint8_t& byte) { return NextCardByte(byte); }, characters);
    if (!complete) {
        // No answer to reset: what the card said before must not stand for it.
        atr.SetAtr(binary::Binary());
        return;
    }
    atr.SetAtr(characters, true);
    m_atr = characters;
}

void ISOReader::SetUpProtocol(ATR& atr) {
    m_protocol = ProtocolNone;
    const auto send = [this](const binary::Binary& request) { SendPacket(IsoPacket::CardBytes, request); };
    const auto next = [this](uint8_t& byte) { return NextCardByte(byte); };
    const uint32_t chosen = ChooseProtocol(atr, m_params.protocols, send, next, TraceOn() ? m_log : nullptr);
    m_protocol = chosen;
    if (chosen == ProtocolT1) {
        m_t1->SetResetOnFailure(atr.CanChangeMode());
        m_t1->ResetLink();
        m_t1->SetEdcLength(atr.GetEdcLength());
        m_t1->NegotiateIfs(atr.GetIFSC());
    }
}

void ISOReader::Command(const CApdu& command, RApdu& response) {
    RequirePower("ZORVIK::ISOReader::Command");
    if (m_protocol == ProtocolT1) {
        m_t1->Command(command, response);
    } else {
        m_t0->Command(command, response);
    }
}

bool ISOReader::IsPowered() const {
    SendPacket(IsoPacket::PresencePoll, binary::Binary());
    uint8_t type = 0;
    return ReceivePacket(PresenceTimeoutMs, type);
}

CardExchParam& ISOReader::GetCardExchParam(CardExchParam& param) {
    param.protocol = m_protocol;
    return param;
}

void ISOReader::RequirePower(const char* where) const {
    if (!m_powered) throw CardDrvException(NoCardMessage, CardDrvError::NoCardByteLink, ZORVIK_PLACE(where));
}

bool ISOReader::Probe(const std::string& portName) {
    SerialPort port;
    if (!port.Open(portName, BaudIndex, SerialPort::Framing8N1)) return false;
    uint8_t byte = 0;
    return port.Write(IsoPacket::Encode(IsoPacket::PresencePoll, binary::Binary())) &&
           port.ReadWithTimeout(byte, PresenceTimeoutMs);
}

}  // namespace ZORVIK
