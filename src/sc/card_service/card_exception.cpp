#include "sc/card_service/card_exception.h"

#include "sc/card_service/apdu_printer.h"
#include "service/common/utilities.h"

namespace ZORVIK {

std::string CardException::FullMessage() const {
    std::string exchange;
    PrinterOf(m_command).FormatExchange(m_command, m_response, exchange);
    // The exchange carries the command's name as a script gave it.
    return Exception::FullMessage() + "\nПоследняя команда:\n" + EscapeControlBytes(exchange) + "\n\n";
}

}  // namespace ZORVIK
