#include "service/common/exception.h"

#include "service/common/utilities.h"

namespace ZORVIK {

// A message often quotes input (a settings line, a card's answer): its control
// bytes are shown escaped.
Exception::Exception(std::string message, const SourcePlace& place)
    : m_message(EscapeControlBytes(std::move(message))), m_place(place) {}

Exception::Exception(const Exception& other)
    : std::exception(other),
      m_message(other.m_message),
      m_place(other.m_place),
      m_inner(other.m_inner ? other.m_inner->Clone() : nullptr) {}

Exception& Exception::operator=(const Exception& other) {
    if (this != &other) {
        m_message = other.m_message;
        m_place = other.m_place;
        m_inner = other.m_inner ? other.m_inner->Clone() : nullptr;
    }
    return *this;
}

Exception::~Exception() = default;

const char* Exception::what() const noexcept { return m_message.c_str(); }

Exception& Exception::SetPlace(const SourcePlace& place) {
    m_place = place;
    return *this;
}

int32_t Exception::ErrorCode() const { return 0; }

const char* Exception::Name() const { return "Exception"; }

const Exception* Exception::Inner() const { return m_inner.get(); }

std::string Exception::FullMessage() const {
    std::string text;
    text.reserve(500);
    text += "Ошибка (";
    text += Name();
    text += "). ";
    text += m_message;
    if (m_inner) {
        text += "\nПредыдущее исключение {\n";
        text += m_inner->FullMessage();
        text += "}";
    }
    return text;
}

std::wstring Exception::FullMessageW() const { return Utf8ToWide(FullMessage()); }

std::unique_ptr<Exception> Exception::Clone() const { return std::make_unique<Exception>(*this); }

void Exception::SetMessage(const std::string& text) {
    if (&text != &m_message) {
        m_message = EscapeControlBytes(text);
    }
}

void Exception::SetInner(const Exception& previous) { m_inner = previous.Clone(); }

void Checker::Fail(std::string message) const { throw Exception(std::move(message), m_place); }

}  // namespace ZORVIK
