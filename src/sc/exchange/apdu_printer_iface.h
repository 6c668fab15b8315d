// The interface of the per-command printers: a command may carry its own printer,
// which turns the command and its response into console and log text.
#pragma once

#include <memory>
#include <string>

namespace ZORVIK {

class CApdu;
class RApdu;
class iLog;

class I_APDU_Printer {
public:
    // Prints a command to the log.
    virtual void PrintCommand(const CApdu& command, iLog& log) const = 0;
    // Prints a response with the text that describes its status word.
    virtual void PrintResponse(const RApdu& response, const std::string& statusText, iLog& log) const = 0;
    // Appends the printer's display name to text.
    virtual void AppendName(std::string& text) const = 0;
    // The whole exchange as one text, without printing it.
    virtual void FormatExchange(const CApdu& command, const RApdu& response, std::string& out) const = 0;
    // A fresh copy of this printer; a command always keeps a clone of its own.
    virtual std::shared_ptr<I_APDU_Printer> Clone() const = 0;

    virtual ~I_APDU_Printer() = default;
};

}  // namespace ZORVIK
