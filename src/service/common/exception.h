// The exception family of the toolkit: every failure outside the simulated card
// travels as a ZORVIK::Exception (or a LibException of one library) with its
// message, the place it was thrown from and an optional previous exception.
#pragma once

#include <cstdint>
#include <exception>
#include <memory>
#include <string>

namespace ZORVIK {

// Where a throw or check happened. Sites pass their file, line and function, but
// the recorded place is deliberately empty so that no message ever shows one.
struct SourcePlace {
    const char* file;
    int32_t line;
    const char* function;

    SourcePlace() : file(""), line(0), function("") {}
    SourcePlace(const char* /*file*/, int32_t /*line*/, const char* /*function*/) : file(""), line(0), function("") {}
};

#define ZORVIK_PLACE(function) ::ZORVIK::SourcePlace(__FILE__, __LINE__, function)

class Exception : public std::exception {
public:
    Exception(std::string message, const SourcePlace& place);
    Exception(const Exception& other);
    Exception& operator=(const Exception& other);
    ~Exception() override;

    const char* what() const noexcept override;
    virtual Exception& SetPlace(const SourcePlace& place);
    virtual int32_t ErrorCode() const;
    virtual const char* Name() const;
    virtual const Exception* Inner() const;
    virtual std::string FullMessage() const;
    virtual std::wstring FullMessageW() const;
    virtual std::unique_ptr<Exception> Clone() const;

    void SetMessage(const std::string& text);
    const std::string& Message() const { return m_message; }
    const SourcePlace& Place() const { return m_place; }
    // Attaches the previous exception; the copy is owned by this one.
    void SetInner(const Exception& previous);

private:
    std::string m_message;
    SourcePlace m_place;
    std::unique_ptr<Exception> m_inner;
};

// One error class per library: the tag type supplies only the name text.
template <class Tag>
class LibException : public Exception {
public:
    LibException(std::string message, int32_t code, const SourcePlace& place = SourcePlace())
        : Exception(std::move(message), place), m_code(code) {}

    LibException& SetPlace(const SourcePlace& place) override {
        Exception::SetPlace(place);
        return *this;
    }
    int32_t ErrorCode() const override { return m_code; }
    const char* Name() const override { return Tag::Name(); }
    std::unique_ptr<Exception> Clone() const override { return std::make_unique<LibException>(*this); }

private:
    int32_t m_code;
};

namespace filesystem {
struct FileLibErrorName {
    static const char* Name() { return "FileLibraryError"; }
};
}  // namespace filesystem
struct TLV_ExceptionName {
    static const char* Name() { return "TLV"; }
};
struct CryptLibErrorName {
    static const char* Name() { return "CryptLibError"; }
};
struct NetworkExceptionName {
    static const char* Name() { return "Network"; }
};
struct CardDrvErrorName {
    static const char* Name() { return "CardReaderDriverError"; }
};

using FileLibException = LibException<filesystem::FileLibErrorName>;
using TLVException = LibException<TLV_ExceptionName>;
using CryptLibException = LibException<CryptLibErrorName>;
using NetworkException = LibException<NetworkExceptionName>;
using CardDrvException = LibException<CardDrvErrorName>;

// The checker: SetCheckPlace(place).Check(condition, message) throws
// ZORVIK::Exception with the message when the condition is false. Each check
// carries its own place, so checks on different threads never share state; the
// passing path is inline and costs one test.
class Checker {
public:
    explicit Checker(const SourcePlace& place) : m_place(place) {}
    void Check(bool condition, const char* message) const {
        if (!condition) Fail(message ? message : "");
    }
    void CheckStr(bool condition, const std::string& message) const {
        if (!condition) Fail(message);
    }

private:
    [[noreturn]] void Fail(std::string message) const;

    SourcePlace m_place;
};

inline Checker SetCheckPlace(const SourcePlace& place) { return Checker(place); }

}  // namespace ZORVIK

// A check site in one expression: ZORVIK_CHECK("Ns::Function", cond, "message").
#define ZORVIK_CHECK(function, condition, message) \
    ::ZORVIK::SetCheckPlace(ZORVIK_PLACE(function)).Check((condition), (message))
// The message of ZORVIK_CHECK_STR is built only when the check fails.
#define ZORVIK_CHECK_STR(function, condition, message) \
    ((condition) ? void(0) : ::ZORVIK::SetCheckPlace(ZORVIK_PLACE(function)).CheckStr(false, (message)))
