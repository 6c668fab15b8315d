#include "sc/exchange/protocol_t0.h"

#include <algorithm>

#include "sc/exchange/capdu_rapdu.h"
#include "sc/exchange/reader.h"

namespace ZORVIK {

namespace {

constexpr uint8_t InsGetResponse = 0xC0;
constexpr uint8_t InsEnvelope = 0xC2;
constexpr size_t EnvelopePiece = 255;

// In a status byte, 00 stands for 256 bytes.
uint32_t LengthFromSw2(uint8_t sw2) { return sw2 == 0 ? 256 : sw2; }

bool UsesEnvelope(const CApdu& command, uint32_t mode) {
    if (mode == EnvelopeForce) return true;
    const uint32_t ne = command.ne;
    // Smart: a Le that one short TPDU cannot carry together with the data.
    if (mode == EnvelopeSmart && (ne > 256 || (!command.data.empty() && ne != 0 && ne != 256))) return true;
    const uint32_t isoCase = command.GetCase();
    return isoCase == CApdu::Case3Extended || isoCase == CApdu::Case4Extended;
}

void CutTo(binary::Binary& data, uint32_t limit) {
    if (data.size() > limit) data.resize(limit);
}

}  // namespace

Protocol_T0::Protocol_T0(iReader* reader) : m_reader(reader) {}

Protocol_T0::~Protocol_T0() = default;

void Protocol_T0::Command(const CApdu& command, RApdu& response) {
    const ReaderParams params = m_reader->GetParams();
    const uint32_t ne = command.ne;
    int64_t remaining = ne == 0 ? MaxChainLength : ne;

    if (UsesEnvelope(command, params.envelope_mode)) {
        SendEnvelope(command, response);
    } else {
        RR_Command(command, response);
    }

    if (params.auto_t0) {
        const bool sw9fAs61 = params.sw1_9f_as_61 != 0;
        // ISO/IEC 7816-3, 12.2.2: 61xx announces xx more bytes for GET RESPONSE.
        if (response.sw1 == 0x61 || (response.sw1 == 0x9F && sw9fAs61)) {
            binary::Binary collected;
            bool firstAnswer = true;
            for (;;) {
                // A GET RESPONSE answered 61xx without data makes no progress; a
                // card doing that for ever would hold the loop for ever.
                if (!firstAnswer && response.data.empty()) break;
                firstAnswer = false;
                remaining -= static_cast<int64_t>(response.data.size());
                collected += response.data;
                if (remaining <= 0) break;
                CApdu getResponse(params.get_resp_cla_00 ? 0x00 : command.cla, InsGetResponse, 0x00, 0x00,
                                  static_cast<uint32_t>(std::min<int64_t>(LengthFromSw2(response.sw2), remaining)));
                response.Clear();
                RR_Command(getResponse, response);
                if (response.sw1 == 0x61) continue;
                collected += response.data;
                break;
            }
            response.data = std::move(collected);
        }
        // ISO/IEC 7816-3, 12.2.2: 6Cxx asks for the same command with Le = xx.
        if (response.sw1 == 0x6C || (response.sw1 == 0x9F && sw9fAs61)) {
            CApdu resend(command.cla, command.ins, command.p1, command.p2, LengthFromSw2(response.sw2));
            response.Clear();
            RR_Command(resend, response);
            CutTo(response.data, ne == 0 ? 256 : ne);
        }
    }

    if (ne == 0) {
        response.data.clear();
    } else {
        CutTo(response.data, ne);
    }
}

void Protocol_T0::SendEnvelope(const CApdu& command, RApdu& response) {
    binary::Binary encoded;
    command.Encode(encoded, false);
    const size_t length = encoded.size();
    const size_t pieceSize = std::min(length, EnvelopePiece);
    for (size_t offset = 0; offset < length; offset += pieceSize) {
        const size_t size = std::min(pieceSize, length - offset);
        const binary::Binary piece(encoded.begin() + static_cast<std::ptrdiff_t>(offset),
                                   encoded.begin() + static_cast<std::ptrdiff_t>(offset + size));
        RR_Command(CApdu(0x00, InsEnvelope, 0x00, 0x00, piece, 0), response);
        if (response.sw1 != 0x90 || response.sw2 != 0x00) return;
    }
    // The empty ENVELOPE tells the card that the command is complete.
    RR_Command(CApdu("00 C2 00 00"), response);
}

ByteLink_T0::ByteLink_T0(iReader* reader, iByteLink* link, iLog* log, const T0LinkOptions& options)
    : Protocol_T0(reader), m_link(link), m_log(log), m_options(options) {}

void ByteLink_T0::RR_Command(const CApdu& tpdu, RApdu& response) {
    iLog* traceLog = m_reader->GetParams().transport_log ? m_log : nullptr;
    TransmitT0Tpdu(*m_link, tpdu, response, m_options, traceLog);
}

}  // namespace ZORVIK
