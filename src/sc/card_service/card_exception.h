// The card service's error: a status word the caller did not expect. It keeps the
// failed exchange, and its full message shows it.
#pragma once

#include "sc/exchange/capdu_rapdu.h"
#include "service/common/exception.h"

namespace ZORVIK {

class CardException : public Exception {
public:
    static constexpr int32_t StatusMismatchCode = 256;

    CardException(std::string message, const SourcePlace& place, const CApdu& command, const RApdu& response,
                  int32_t code = StatusMismatchCode)
        : Exception(std::move(message), place), m_code(code), m_command(command), m_response(response) {}
    ~CardException() override = default;

    CardException& SetPlace(const SourcePlace& place) override {
        Exception::SetPlace(place);
        return *this;
    }
    int32_t ErrorCode() const override { return m_code; }
    const char* Name() const override { return "CardException"; }
    // The base text, then the last command and its response as the command's
    // printer formats them, and an empty line.
    std::string FullMessage() const override;
    std::unique_ptr<Exception> Clone() const override { return std::make_unique<CardException>(*this); }

    const CApdu& Command() const { return m_command; }
    const RApdu& Response() const { return m_response; }

private:
    int32_t m_code;
    CApdu m_command;
    RApdu m_response;
};

}  // namespace ZORVIK
