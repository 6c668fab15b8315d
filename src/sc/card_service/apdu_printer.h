// The printers that turn one command and its response into console and log
// text: the plain one, the secure-messaging one and the two BER-TLV ones.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "sc/exchange/apdu_printer_iface.h"
#include "service/common/binary.h"

namespace ZORVIK {

// Log level and console colour (Windows attribute layout) of printed exchanges.
constexpr int32_t ExchangeLogLevel = 2;
constexpr int32_t ExchangeColour = 7;
// The line that closes a printed response.
extern const std::string ExchangeEnd;

// The shared text builders. Each first ends a non-empty text with a line break.
void EndLine(std::string& text);
// Upper-case hex, a blank between bytes and a line break after every 16 bytes.
std::string HexLines(const binary::Binary& data);
// "<label>: <n> (0x<n>)" and a line break.
std::string LengthLine(const char* label, size_t length);
void AppendCommandHeader(const CApdu& command, std::string& text);
void AppendCommandText(const CApdu& command, std::string& text);
// An empty status text adds no bracket.
void AppendResponseText(const RApdu& response, const std::string& statusText, std::string& text);
// "Status: <SW in hex>" and " (<status text>)" when there is one.
void AppendStatusLine(const RApdu& response, const std::string& statusText, std::string& text);

// Prints the command's display name (when it has one) and its bytes.
class StandardPrinter : public I_APDU_Printer {
public:
    explicit StandardPrinter(std::string name = "") : m_name(std::move(name)) {}

    void PrintCommand(const CApdu& command, iLog& log) const override;
    void PrintResponse(const RApdu& response, const std::string& statusText, iLog& log) const override;
    void AppendName(std::string& text) const override;
    void FormatExchange(const CApdu& command, const RApdu& response, std::string& out) const override;
    std::shared_ptr<I_APDU_Printer> Clone() const override;

    const std::string& GetName() const { return m_name; }
    // The name line (level 3, colour 3) when the name is not empty.
    void PrintName(iLog& log) const;

private:
    std::string m_name;
};

// A printer built around a named standard printer: what it does not print in
// its own way it hands to that printer.
class DecoratedPrinter : public I_APDU_Printer {
public:
    void PrintCommand(const CApdu& command, iLog& log) const override { m_inner.PrintCommand(command, log); }
    void PrintResponse(const RApdu& response, const std::string& statusText, iLog& log) const override {
        m_inner.PrintResponse(response, statusText, log);
    }
    void AppendName(std::string& text) const override { m_inner.AppendName(text); }
    void FormatExchange(const CApdu& command, const RApdu& response, std::string& out) const override {
        m_inner.FormatExchange(command, response, out);
    }

protected:
    explicit DecoratedPrinter(std::string name) : m_inner(std::move(name)) {}
    const StandardPrinter& Inner() const { return m_inner; }

private:
    StandardPrinter m_inner;
};

// Prints the wrapped form of a secure-messaging exchange in its own colour,
// framed by a header line and a line of "~".
class StandardSMPrinter : public DecoratedPrinter {
public:
    static constexpr const char* HeaderLine = "~~~~~~~ Secure Messaging ~~~~~~~";

    StandardSMPrinter() : DecoratedPrinter(HeaderLine) {}

    void PrintCommand(const CApdu& command, iLog& log) const override;
    void PrintResponse(const RApdu& response, const std::string& statusText, iLog& log) const override;
    std::shared_ptr<I_APDU_Printer> Clone() const override;
};

// The process-wide printers: the default one (no name) for every command without
// a printer of its own, and the one for wrapped secure-messaging exchanges.
const I_APDU_Printer& DefaultPrinter();
const I_APDU_Printer& SMPrinter();
// The command's own printer, or the default printer when it has none.
const I_APDU_Printer& PrinterOf(const CApdu& command);

}  // namespace ZORVIK
