// The low-level SHA functions are deprecated in OpenSSL 3.0 but are the only way to
// reach the context structure, whose bytes are our stored context format.
#define OPENSSL_SUPPRESS_DEPRECATED
#include "service/cryptlib/hash/sha.h"

#include <openssl/sha.h>

#include <cstring>

#include "service/common/exception.h"

namespace ZORVIK {

static_assert(sizeof(SHA_CTX) == SHA1::ContextSize, "SHA_CTX is the 96-byte context format");
static_assert(sizeof(SHA256_CTX) == SHA256::ContextSize, "SHA256_CTX is the 112-byte context format");
static_assert(offsetof(SHA_CTX, num) == 92 && offsetof(SHA256_CTX, num) == 104);

namespace {

// SHA-1 reports as ZORVIK::Exception, SHA-256 as the crypto library's error.
[[noreturn]] void FailSha1(const char* message, const char* function) {
    throw Exception(message, ZORVIK_PLACE(function));
}
[[noreturn]] void FailSha256(const char* message, const char* function) {
    throw CryptLibException(message, 0, ZORVIK_PLACE(function));
}

// A context whose pending count leaves the 64-byte block would make libcrypto read
// and write past it; one whose digest length is not 32 would not give a SHA-256 digest.
std::string BadContextMessage(uint32_t pending, uint32_t digestLength, bool isSha256) {
    if (pending >= 64) return "Invalid pending byte count in context: " + std::to_string(pending) + ", expected 0..63";
    if (isSha256 && digestLength != 32)
        return "Invalid digest length in context: " + std::to_string(digestLength) + ", expected 32";
    return {};
}

}  // namespace

void SHA1_Calc(const uint8_t* data, uint32_t length, uint8_t* out) {
    if (data == nullptr && length != 0) FailSha1("Invalid data", "ZORVIK::SHA1_Calc");
    static const uint8_t empty = 0;
    ::SHA1(data != nullptr ? data : &empty, length, out);
}

void SHA256_Calc(const uint8_t* data, uint32_t length, uint8_t* out) {
    if (data == nullptr && length != 0) FailSha256("Invalid data", "ZORVIK::SHA256_Calc");
    static const uint8_t empty = 0;
    ::SHA256(data != nullptr ? data : &empty, length, out);
}

// ---- SHA1

SHA1::SHA1() : m_context(new SHA_CTX) {
    std::memset(m_context, 0, sizeof(SHA_CTX));
    SHA1_Init(m_context);
}

SHA1::SHA1(const SHA1& other) : Hash(other), m_context(new SHA_CTX) {
    std::memcpy(m_context, other.m_context, sizeof(SHA_CTX));
}

SHA1::~SHA1() { delete m_context; }

std::unique_ptr<Hash> SHA1::Clone() const { return std::make_unique<SHA1>(*this); }

binary::Binary SHA1::Calc(const binary::Binary& data) {
    binary::Binary out(GetHashSize());
    SHA1_Calc(data.empty() ? nullptr : data.data(), uint32_t(data.size()), out.data());
    return out;
}

void SHA1::Reset() {
    if (m_context == nullptr) FailSha1("Uninitialized context", "ZORVIK::SHA1::Reset");
    SHA1_Init(m_context);
}

void SHA1::Input(const binary::Binary& data) {
    if (m_context == nullptr) FailSha1("Uninitialized context", "ZORVIK::SHA1::Input");
    if (!data.empty()) SHA1_Update(m_context, data.data(), data.size());
}

binary::Binary SHA1::Result() {
    if (m_context == nullptr) FailSha1("Uninitialized context", "ZORVIK::SHA1::Result");
    binary::Binary out(GetHashSize());
    SHA1_Final(out.data(), m_context);
    return out;
}

binary::Binary SHA1::GetContext() const {
    if (m_context == nullptr) FailSha1("Uninitialized context", "ZORVIK::SHA1::GetContext");
    const auto* bytes = reinterpret_cast<const uint8_t*>(m_context);
    return binary::Binary(bytes, bytes + ContextSize);
}

void SHA1::SetContext(const binary::Binary& context) {
    if (context.size() < ContextSize) FailSha1("Too small context size", "ZORVIK::SHA1::SetContext");
    SHA_CTX incoming;
    std::memcpy(&incoming, context.data(), ContextSize);
    const std::string problem = BadContextMessage(incoming.num, 0, false);
    if (!problem.empty()) throw Exception(problem, ZORVIK_PLACE("ZORVIK::SHA1::SetContext"));
    std::memcpy(m_context, &incoming, ContextSize);
}

// ---- SHA256

SHA256::SHA256() : m_context(new SHA256_CTX) {
    std::memset(m_context, 0, sizeof(SHA256_CTX));
    SHA256_Init(m_context);
}

SHA256::SHA256(const SHA256& other) : Hash(other), m_context(new SHA256_CTX) {
    std::memcpy(m_context, other.m_context, sizeof(SHA256_CTX));
}

SHA256::~SHA256() { delete m_context; }

std::unique_ptr<Hash> SHA256::Clone() const { return std::make_unique<SHA256>(*this); }

binary::Binary SHA256::Calc(const binary::Binary& data) {
    binary::Binary out(GetHashSize());
    SHA256_Calc(data.empty() ? nullptr : data.data(), uint32_t(data.size()), out.data());
    return out;
}

void SHA256::Reset() {
    if (m_context == nullptr) FailSha256("Uninitialized context pointer.", "ZORVIK::SHA256::Reset");
    SHA256_Init(m_context);
}

void SHA256::Input(const binary::Binary& data) {
    if (m_context == nullptr) FailSha256("Uninitialized context pointer.", "ZORVIK::SHA256::Input");
    if (!data.empty()) SHA256_Update(m_context, data.data(), data.size());
}

binary::Binary SHA256::Result() {
    if (m_context == nullptr) FailSha256("Uninitialized context pointer.", "ZORVIK::SHA256::Result");
    binary::Binary out(GetHashSize());
    SHA256_Final(out.data(), m_context);
    return out;
}

binary::Binary SHA256::GetContext() const {
    if (m_context == nullptr) FailSha256("Uninitialized context pointer.", "ZORVIK::SHA256::GetContext");
    const auto* bytes = reinterpret_cast<const uint8_t*>(m_context);
    return binary::Binary(bytes, bytes + ContextSize);
}

void SHA256::SetContext(const binary::Binary& context) {
    if (context.size() < ContextSize) FailSha256("Too small context size.", "ZORVIK::SHA256::SetContext");
    SHA256_CTX incoming;
    std::memcpy(&incoming, context.data(), ContextSize);
    const std::string problem = BadContextMessage(incoming.num, incoming.md_len, true);
    if (!problem.empty()) throw CryptLibException(problem, 0, ZORVIK_PLACE("ZORVIK::SHA256::SetContext"));
    std::memcpy(m_context, &incoming, ContextSize);
}

}  // namespace ZORVIK
