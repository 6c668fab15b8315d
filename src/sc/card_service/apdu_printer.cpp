#include "sc/card_service/apdu_printer.h"

#include "sc/exchange/capdu_rapdu.h"
#include "service/common/printf.h"
#include "service/log/log.h"

namespace ZORVIK {

namespace {

constexpr int32_t NameColour = 3;
constexpr int32_t SMColour = 2;
constexpr size_t ReservedTextSize = 500;
constexpr uint32_t BytesPerLine = 16;

const std::string SMExchangeEnd(32, '~');

}  // namespace

const std::string ExchangeEnd(64, '=');

void EndLine(std::string& text) {
    if (!text.empty() && text.back() != '\n') text += '\n';
}

std::string HexLines(const binary::Binary& data) { return binary::ToHex(data, 1, 0, BytesPerLine); }

std::string LengthLine(const char* label, size_t length) {
    return SafePrintf("%s: %zu (0x%zX)\n", label, length, length);
}

void AppendStatusLine(const RApdu& response, const std::string& statusText, std::string& text) {
    text += SafePrintf("Status: %X", response.GetSW());
    if (!statusText.empty()) text += " (" + statusText + ")";
}

void AppendCommandHeader(const CApdu& command, std::string& text) {
    EndLine(text);
    text += SafePrintf("CLA  INS   P1   P2     Ne\n %02X   %02X   %02X   %02X     %u  (0x%X)", command.cla, command.ins,
                       command.p1, command.p2, command.ne, command.ne);
}

void AppendCommandText(const CApdu& command, std::string& text) {
    AppendCommandHeader(command, text);
    if (command.data.empty()) return;
    EndLine(text);
    text += LengthLine("Data", command.data.size());
    text += HexLines(command.data);
}

void AppendResponseText(const RApdu& response, const std::string& statusText, std::string& text) {
    EndLine(text);
    if (!response.data.empty()) {
        text += LengthLine("Response", response.data.size());
        text += HexLines(response.data);
        text += '\n';
    }
    AppendStatusLine(response, statusText, text);
}

void StandardPrinter::PrintCommand(const CApdu& command, iLog& log) const {
    std::string text;
    text.reserve(ReservedTextSize);
    AppendCommandText(command, text);
    PrintName(log);
    LogPrintfColour(&log, ExchangeLogLevel, ExchangeColour, "%s", text.c_str());
}

void StandardPrinter::PrintResponse(const RApdu& response, const std::string& statusText, iLog& log) const {
    std::string text;
    text.reserve(ReservedTextSize);
    AppendResponseText(response, statusText, text);
    EndLine(text);
    text += ExchangeEnd;
    LogPrintfColour(&log, ExchangeLogLevel, ExchangeColour, "%s", text.c_str());
}

void StandardPrinter::PrintName(iLog& log) const {
    if (!m_name.empty()) log.Write(m_name.c_str(), NameColour, true);
}

void StandardPrinter::AppendName(std::string& text) const {
    EndLine(text);
    text += m_name;
}

void StandardPrinter::FormatExchange(const CApdu& command, const RApdu& response, std::string& out) const {
    out.clear();
    out.reserve(ReservedTextSize);
    AppendName(out);
    AppendCommandText(command, out);
    AppendResponseText(response, "", out);
}

std::shared_ptr<I_APDU_Printer> StandardPrinter::Clone() const { return std::make_shared<StandardPrinter>(m_name); }

void StandardSMPrinter::PrintCommand(const CApdu& command, iLog& log) const {
    std::string text;
    text.reserve(ReservedTextSize);
    Inner().AppendName(text);
    AppendCommandText(command, text);
    LogPrintfColour(&log, ExchangeLogLevel, SMColour, "%s", text.c_str());
}

void StandardSMPrinter::PrintResponse(const RApdu& response, const std::string& statusText, iLog& log) const {
    std::string text;
    text.reserve(ReservedTextSize);
    AppendResponseText(response, statusText, text);
    EndLine(text);
    text += SMExchangeEnd;
    LogPrintfColour(&log, ExchangeLogLevel, SMColour, "%s", text.c_str());
}

std::shared_ptr<I_APDU_Printer> StandardSMPrinter::Clone() const { return std::make_shared<StandardSMPrinter>(); }

const I_APDU_Printer& DefaultPrinter() {
    static const StandardPrinter printer;
    return printer;
}

const I_APDU_Printer& SMPrinter() {
    static const StandardSMPrinter printer;
    return printer;
}

const I_APDU_Printer& PrinterOf(const CApdu& command) { return command.printer ? *command.printer : DefaultPrinter(); }

}  // namespace ZORVIK
