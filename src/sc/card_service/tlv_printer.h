// Printers that show the data of a command or of a response as a BER-TLV tree,
// for the commands whose data is BER-TLV encoded.
#pragma once

#include "sc/card_service/apdu_printer.h"

namespace ZORVIK {

// Shows the command data as a BER-TLV tree (hex when it is not BER-TLV).
class TLVRequestPrinter : public DecoratedPrinter {
public:
    explicit TLVRequestPrinter(std::string name = "") : DecoratedPrinter(std::move(name)) {}

    void PrintCommand(const CApdu& command, iLog& log) const override;
    std::shared_ptr<I_APDU_Printer> Clone() const override;
};

// Shows the response data as a BER-TLV tree (hex when it is not BER-TLV).
class TLVResponsePrinter : public DecoratedPrinter {
public:
    explicit TLVResponsePrinter(std::string name = "") : DecoratedPrinter(std::move(name)) {}

    void PrintResponse(const RApdu& response, const std::string& statusText, iLog& log) const override;
    std::shared_ptr<I_APDU_Printer> Clone() const override;
};

}  // namespace ZORVIK
