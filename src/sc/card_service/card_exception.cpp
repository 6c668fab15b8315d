#include "sc/card_service/card_exception.h"

#include "sc/card_service/apdu_printer.h"

namespace ZORVIK {

std::string CardException::FullMessage() const {
    std::string exchange;
    PrinterOf(m_command).FormatExchange(m_command, m_response, exchange);
    return Exception::FullMessage() + "\nПоследняя команда:\n" + exchange + "\n\n";
}

}  // namespace ZORVIK
