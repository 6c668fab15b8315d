// Printers that show the data of a command or of a response as a BER-TLV tree,
// for the commands whose data is BER-TLV encoded.
#pragma once

#include "sc/card_service/apdu_printer.h"

namespace ZORVIK {

// Shows the command data as a BER-TLV tree (hex when it is not BER-TLV).
class TLVRequestPrinter : public I_APDU_Printer {
public:
    explicit TLVRequestPrinter(std::string name = "") : m_inner(std::move(name)) {}

    void PrintCommand(const CApdu& command, iLog& log) const override;
    void PrintResponse(const RApdu& response, const std::string& statusText, iLog& log) const override {
        m_inner.PrintResponse(response, statusText, log);
    }
    void AppendName(std::string& text) const override { m_inner.AppendName(text); }
    void FormatExchange(const CApdu& command, const RApdu& response, std::string& out) const override {
        m_inner.FormatExchange(command, response, out);
    }
    std::shared_ptr<I_APDU_Printer> Clone() const override;

private:
    StandardPrinter m_inner;
};

// Shows the response data as a BER-TLV tree (hex when it is not BER-TLV).
class TLVResponsePrinter : public I_APDU_Printer {
public:
    explicit TLVResponsePrinter(std::string name = "") : m_inner(std::move(name)) {}

    void PrintCommand(const CApdu& command, iLog& log) const override { m_inner.PrintCommand(command, log); }
    void PrintResponse(const RApdu& response, const std::string& statusText, iLog& log) const override;
    void AppendName(std::string& text) const override { m_inner.AppendName(text); }
    void FormatExchange(const CApdu& command, const RApdu& response, std::string& out) const override {
        m_inner.FormatExchange(command, response, out);
    }
    std::shared_ptr<I_APDU_Printer> Clone() const override;

private:
    StandardPrinter m_inner;
};

}  // namespace ZORVIK
