#include "sc/drivers/derimdirect/derimdirect_reader.h"

#include "service/common/exception.h"

namespace ZORVIK {

namespace {
constexpr size_t kHeaderLength = 5;
constexpr char kBadSize[] = "Некорректный размер пакета!";
constexpr char kBadType[] = "Тип команды не поддерживается";

uint32_t HeaderLength(const binary::Binary& header) {
    return static_cast<uint32_t>(header[1]) << 24 | static_cast<uint32_t>(header[2]) << 16 |
           static_cast<uint32_t>(header[3]) << 8 | header[4];
}
}  // namespace

binary::Binary DerimPackage::Serialize() const {
    binary::Binary wire;
    wire.reserve(kHeaderLength + data.size());
    wire.push_back(static_cast<uint8_t>(type));
    const uint32_t length = static_cast<uint32_t>(data.size());
    for (int shift = 24; shift >= 0; shift -= 8) wire.push_back(static_cast<uint8_t>(length >> shift));
    wire += data;
    return wire;
}

DerimPackage DerimPackage::ParseReply(const binary::Binary& reply) {
    const SourcePlace place = ZORVIK_PLACE("ZORVIK::DerimPackage::ParseReply");
    if (reply.size() < kHeaderLength) throw Exception(kBadSize, place);
    DerimPackage package;
    package.type = reply[0];
    binary::Binary body(reply.begin() + kHeaderLength, reply.end());
    switch (package.type) {
        case PowerOn:
        case Reset: package.data = std::move(body); break;
        case PowerOff: break;
        case Apdu:
            if (body.size() < 3) {
                package.data = std::move(body);
            } else {
                // The server sends the status word first; the response APDU ends with it.
                package.data.assign(body.begin() + 2, body.end());
                package.data.push_back(body[0]);
                package.data.push_back(body[1]);
            }
            break;
        default: throw Exception(kBadType, place);
    }
    return package;
}

DerimDirect_Reader::DerimDirect_Reader(const std::string& host, uint16_t port)
    : m_socket(false), m_address(host, port) {}

DerimDirect_Reader::~DerimDirect_Reader() {
    m_socket.Close();
    m_powered = false;
}

const ReaderParams& DerimDirect_Reader::GetParams() const {
    static const ReaderParams defaults;
    return defaults;
}

binary::Binary DerimDirect_Reader::GetATR() const { return m_powered ? m_atr.GetRaw() : binary::Binary(); }

DerimPackage DerimDirect_Reader::Exchange(const DerimPackage& request) {
    m_socket.Send(request.Serialize());
    binary::Binary reply = m_socket.Read(kHeaderLength);
    if (reply.size() == kHeaderLength) {
        const uint32_t length = HeaderLength(reply);
        // A length larger than any answer is refused before anything is allocated for it.
        if (length > DerimPackage::MaxReplyLength) {
            throw Exception(kBadSize, ZORVIK_PLACE("ZORVIK::DerimDirect_Reader::Exchange"));
        }
        if (length != 0) {
            const binary::Binary body = m_socket.Read(length);
            if (body.size() != length) {
                throw Exception(kBadSize, ZORVIK_PLACE("ZORVIK::DerimDirect_Reader::Exchange"));
            }
            reply += body;
        }
    }
    return DerimPackage::ParseReply(reply);
}

DerimPackage DerimDirect_Reader::Transact(uint32_t type, const binary::Binary& data) {
    try {
        if (!m_socket.IsOpen()) m_socket.Connect(m_address);
        DerimPackage request;
        request.type = type;
        request.data = data;
        return Exchange(request);
    } catch (...) {
        m_socket.Close();
        throw;
    }
}

void DerimDirect_Reader::PowerOn(ATR& atr) {
    if (!m_powered) {
        m_atr.SetAtr(Transact(DerimPackage::PowerOn).data);
        m_powered = true;
    }
    atr = m_atr;
}

void DerimDirect_Reader::Reset(ATR& atr) {
    if (!m_powered) {
        PowerOn(atr);
        return;
    }
    m_atr.SetAtr(Transact(DerimPackage::Reset).data);
    atr = m_atr;
}

void DerimDirect_Reader::PowerOff() {
    if (!m_powered) return;
    Transact(DerimPackage::PowerOff);
    m_powered = false;
    m_socket.Close();
}

void DerimDirect_Reader::Command(const CApdu& command, RApdu& response) {
    if (!m_powered) {
        throw CardDrvException(NoCardMessage, CardDrvError::NoCardByteLink,
                               ZORVIK_PLACE("ZORVIK::DerimDirect_Reader::Command"));
    }
    const DerimPackage reply = Transact(DerimPackage::Apdu, command.Encode());
    try {
        response.DecodeCanonical(reply.data);
    } catch (...) {
        // A reply without a status word fails the command like any other error of the exchange.
        m_socket.Close();
        throw;
    }
}

bool DerimDirect_Reader::Probe(const std::string& host, uint16_t port) {
    return StreamSocket::Probe(SocketAddress(host, port));
}

}  // namespace ZORVIK
