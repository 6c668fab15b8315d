#include "sc/card_service/tlv_printer.h"

#include "sc/exchange/capdu_rapdu.h"
#include "service/common/exception.h"
#include "service/log/log.h"
#include "service/tlv/tlv.h"

namespace ZORVIK {

namespace {

constexpr int32_t WarningLevel = 6;
constexpr size_t ReservedTextSize = 500;

// The data dumped as a BER-TLV tree; on a parsing failure the warning goes to
// the log and the data is shown in hex instead.
std::string TLVOrHex(const binary::Binary& data, iLog& log, const char* warning) {
    std::string dump;
    try {
        DumpTLV(ParseTLV(data), dump, 0);
    } catch (const Exception&) {
        LogPrintf(&log, WarningLevel, "%s", warning);
        return HexLines(data);
    }
    return dump;
}

}  // namespace

void TLVRequestPrinter::PrintCommand(const CApdu& command, iLog& log) const {
    Inner().PrintName(log);
    std::string text;
    text.reserve(ReservedTextSize);
    AppendCommandHeader(command, text);
    if (!command.data.empty()) {
        EndLine(text);
        text += LengthLine("Data", command.data.size());
        text += TLVOrHex(command.data, log, "Данные запроса имеют некорректный формат!");
    }
    LogPrintfColour(&log, ExchangeLogLevel, ExchangeColour, "%s", text.c_str());
}

std::shared_ptr<I_APDU_Printer> TLVRequestPrinter::Clone() const {
    return std::make_shared<TLVRequestPrinter>(Inner().GetName());
}

void TLVResponsePrinter::PrintResponse(const RApdu& response, const std::string& statusText, iLog& log) const {
    std::string text;
    text.reserve(ReservedTextSize);
    if (!response.data.empty()) {
        text += LengthLine("Response", response.data.size());
        text += TLVOrHex(response.data, log, "Данные ответа имеют некорректный формат!");
        text += '\n';
    }
    AppendStatusLine(response, statusText, text);
    // Unlike the standard printer, the closing line follows the status directly.
    text += ExchangeEnd;
    LogPrintfColour(&log, ExchangeLogLevel, ExchangeColour, "%s", text.c_str());
}

std::shared_ptr<I_APDU_Printer> TLVResponsePrinter::Clone() const {
    return std::make_shared<TLVResponsePrinter>(Inner().GetName());
}

}  // namespace ZORVIK
