// The reader contract: the interface every reader driver implements, the
// transport parameters it is given, the card-exchange parameters it reports, and
// the codes of the reader-driver error.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "sc/exchange/atr.h"
#include "sc/exchange/capdu_rapdu.h"
#include "service/common/binary.h"
#include "service/common/exception.h"

namespace ZORVIK {

// When the T=0 engine wraps a command in ENVELOPE commands.
constexpr uint32_t EnvelopeSmart = 0;
constexpr uint32_t EnvelopeForce = 1;
constexpr uint32_t EnvelopeNull = 2;

// Transport parameters of one reader, copied into it at construction.
struct ReaderParams {
    bool transport_log = false;             // TPDU and block traces at level 3
    std::vector<uint32_t> protocols{1, 0};  // usable protocols, preferred first
    bool auto_t0 = true;                    // T=0 handles 61xx and 6Cxx by itself
    bool sw1_9f_as_61 = false;              // SW1 9F handled like 61 and 6C
    bool get_resp_cla_00 = false;           // GET RESPONSE with CLA 00
    uint32_t envelope_mode = EnvelopeSmart;
};

// Parses the transport_protocols setting: a comma-separated list of "T0" and
// "T1", each item possibly quoted; an empty text keeps the default list.
std::vector<uint32_t> ParseTransportProtocols(const std::string& text);
// The same for the items of the list already read from the settings (trimmed
// and unquoted one by one); no items keep the default list.
std::vector<uint32_t> ParseTransportProtocols(const std::vector<std::string>& items);
// Parses the envelope_mode setting: "smart", "force" or "null".
uint32_t ParseEnvelopeMode(const std::string& text);

// Card-exchange parameters reported by a reader.
struct CardExchParam {
    uint32_t protocol = ProtocolT0;  // active protocol: 0 T=0, 1 T=1, 2 raw
    uint32_t clocksPerEtu = 0;       // F / D of the current transmission
    uint32_t clock = 0;              // card clock in Hz
    uint32_t bitRate = 0;            // clock / clocksPerEtu
};

// Codes of the reader-driver error CardDrvException.
namespace CardDrvError {
constexpr int32_t General = 0;
constexpr int32_t PortOpen = 4;
constexpr int32_t DataFormat = 6;
constexpr int32_t CardNotInserted = 8;
// SCardConnect or SCardControl failed, or no card came back after the Mifare
// emulation switch: the card connection could not be made or changed.
constexpr int32_t CardConnection = 9;
constexpr int32_t PcscAttribute = 10;
constexpr int32_t NoCard = 11;  // PC/SC and simulated-card readers
constexpr int32_t PcscContext = 13;
constexpr int32_t ReaderNameTooLong = 15;
constexpr int32_t UnknownProtocolParams = 16;
constexpr int32_t T0DataTooLong = 17;
constexpr int32_t PcscTransmit = 19;
constexpr int32_t NoResponse = 20;
constexpr int32_t NoCardByteLink = 34;  // serial-port, hardware-model and network readers
constexpr int32_t WrongReaderName = 36;
}  // namespace CardDrvError

constexpr const char* NoCardMessage = "No Card in Reader or Card is Powered Off";

// The reader driver as the card service sees it.
class iReader {
public:
    virtual const ReaderParams& GetParams() const = 0;
    // Powers the card on when it is off and stores its answer to reset in atr.
    virtual void PowerOn(ATR& atr) = 0;
    virtual void PowerOff() = 0;
    // Warm reset of a powered card; throws NoCardMessage when it is not powered.
    virtual void Reset(ATR& atr) = 0;
    // The raw answer to reset of the last power-on or reset.
    virtual binary::Binary GetATR() const = 0;
    // One command-response exchange; response data and status are overwritten.
    virtual void Command(const CApdu& command, RApdu& response) = 0;
    virtual bool IsPowered() const = 0;
    virtual CardExchParam& GetCardExchParam(CardExchParam& param) = 0;
    virtual ~iReader() = default;
};

}  // namespace ZORVIK
