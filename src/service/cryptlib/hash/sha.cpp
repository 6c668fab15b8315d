// The low-level SHA functions are deprecated in OpenSSL 3.0 but are the only way to
// reach the context structure, whose bytes are our stored context format.
#define OPENSSL_SUPPRESS_DEPRECATED
#include "service/cryptlib/hash/sha.h"

#include <openssl/crypto.h>
#include <openssl/sha.h>

#include <cstring>

#include "service/common/exception.h"

namespace ZORVIK {

static_assert(sizeof(SHA_CTX) == SHA1::ContextSize, "SHA_CTX is the 96-byte context format");
static_assert(sizeof(SHA256_CTX) == SHA256::ContextSize, "SHA256_CTX is the 112-byte context format");
static_assert(offsetof(SHA_CTX, num) == 92 && offsetof(SHA256_CTX, num) == 104);

namespace {

// What differs between the two: libcrypto's calls, sizes, the texts and the error
// class (SHA-1 reports as ZORVIK::Exception, SHA-256 as the crypto library's error).
struct Sha1Traits {
    using Context = SHA_CTX;
    static constexpr uint32_t DigestSize = 20;
    static constexpr const char* NoContext = "Uninitialized context";
    static constexpr const char* TooSmall = "Too small context size";
    static void Init(Context* c) { SHA1_Init(c); }
    static void Update(Context* c, const uint8_t* data, size_t length) { SHA1_Update(c, data, length); }
    static void Final(uint8_t* out, Context* c) { SHA1_Final(out, c); }

    static bool DigestLengthOk(const Context&) { return true; }
    [[noreturn]] static void Fail(const std::string& message, const char* function) {
        throw Exception(message, ZORVIK_PLACE(function));
    }
};

struct Sha256Traits {
    using Context = SHA256_CTX;
    static constexpr uint32_t DigestSize = 32;
    static constexpr const char* NoContext = "Uninitialized context pointer.";
    static constexpr const char* TooSmall = "Too small context size.";
    static void Init(Context* c) { SHA256_Init(c); }
    static void Update(Context* c, const uint8_t* data, size_t length) { SHA256_Update(c, data, length); }
    static void Final(uint8_t* out, Context* c) { SHA256_Final(out, c); }

    // A stored digest length other than 32 would not give a SHA-256 digest.
    static bool DigestLengthOk(const Context& c) { return c.md_len == SHA256_DIGEST_LENGTH; }
    [[noreturn]] static void Fail(const std::string& message, const char* function) {
        throw CryptLibException(message, 0, ZORVIK_PLACE(function));
    }
};

// Through a context on the stack: OpenSSL 3's one-shot SHA1() and SHA256() look
// the algorithm up on every call, which costs more than hashing a short message.
template <class T>
void OneShot(const uint8_t* data, uint32_t length, uint8_t* out, const char* function) {
    if (data == nullptr && length != 0) T::Fail("Invalid data", function);
    typename T::Context c;
    T::Init(&c);
    if (length != 0) T::Update(&c, data, length);
    T::Final(out, &c);
    OPENSSL_cleanse(&c, sizeof c);
}

template <class T>
typename T::Context* NewContext() {
    auto* c = new typename T::Context;
    std::memset(c, 0, sizeof *c);
    T::Init(c);
    return c;
}

template <class T>
typename T::Context* CopyContext(const typename T::Context* source) {
    auto* c = new typename T::Context;
    std::memcpy(c, source, sizeof *c);
    return c;
}

template <class T>
void CheckContext(const typename T::Context* c, const char* function) {
    if (c == nullptr) T::Fail(T::NoContext, function);
}

template <class T>
binary::Binary Calc(const binary::Binary& data, const char* function) {
    binary::Binary out(T::DigestSize);
    OneShot<T>(data.empty() ? nullptr : data.data(), uint32_t(data.size()), out.data(), function);
    return out;
}

template <class T>
void Input(typename T::Context* c, const binary::Binary& data, const char* function) {
    CheckContext<T>(c, function);
    if (!data.empty()) T::Update(c, data.data(), data.size());
}

template <class T>
binary::Binary Result(typename T::Context* c, const char* function) {
    CheckContext<T>(c, function);
    binary::Binary out(T::DigestSize);
    T::Final(out.data(), c);
    return out;
}

template <class T>
binary::Binary GetContext(const typename T::Context* c, const char* function) {
    CheckContext<T>(c, function);
    const auto* bytes = reinterpret_cast<const uint8_t*>(c);
    return binary::Binary(bytes, bytes + sizeof *c);
}

// A refused context leaves the running one as it was.
template <class T>
void SetContext(typename T::Context* c, const binary::Binary& context, const char* function) {
    if (context.size() < sizeof *c) T::Fail(T::TooSmall, function);
    typename T::Context incoming;
    std::memcpy(&incoming, context.data(), sizeof incoming);
    // A pending count past the 64-byte block would make libcrypto read and write past it.
    if (incoming.num >= 64)
        T::Fail("Invalid pending byte count in context: " + std::to_string(incoming.num) + ", expected 0..63",
                function);
    if (!T::DigestLengthOk(incoming))
        T::Fail("Invalid digest length in context, expected " + std::to_string(T::DigestSize), function);
    std::memcpy(c, &incoming, sizeof incoming);
}

}  // namespace

void SHA1_Calc(const uint8_t* data, uint32_t length, uint8_t* out) {
    OneShot<Sha1Traits>(data, length, out, "ZORVIK::SHA1_Calc");
}

void SHA256_Calc(const uint8_t* data, uint32_t length, uint8_t* out) {
    OneShot<Sha256Traits>(data, length, out, "ZORVIK::SHA256_Calc");
}

// ---- SHA1

SHA1::SHA1() : m_context(NewContext<Sha1Traits>()) {}
SHA1::SHA1(const SHA1& other) : Hash(other), m_context(CopyContext<Sha1Traits>(other.m_context)) {}
SHA1::~SHA1() { delete m_context; }
std::unique_ptr<Hash> SHA1::Clone() const { return std::make_unique<SHA1>(*this); }
binary::Binary SHA1::Calc(const binary::Binary& data) { return ZORVIK::Calc<Sha1Traits>(data, "ZORVIK::SHA1::Calc"); }

void SHA1::Reset() {
    CheckContext<Sha1Traits>(m_context, "ZORVIK::SHA1::Reset");
    Sha1Traits::Init(m_context);
}

void SHA1::Input(const binary::Binary& data) { ZORVIK::Input<Sha1Traits>(m_context, data, "ZORVIK::SHA1::Input"); }
binary::Binary SHA1::Result() { return ZORVIK::Result<Sha1Traits>(m_context, "ZORVIK::SHA1::Result"); }

binary::Binary SHA1::GetContext() const {
    return ZORVIK::GetContext<Sha1Traits>(m_context, "ZORVIK::SHA1::GetContext");
}

void SHA1::SetContext(const binary::Binary& context) {
    ZORVIK::SetContext<Sha1Traits>(m_context, context, "ZORVIK::SHA1::SetContext");
}

// ---- SHA256

SHA256::SHA256() : m_context(NewContext<Sha256Traits>()) {}
SHA256::SHA256(const SHA256& other) : Hash(other), m_context(CopyContext<Sha256Traits>(other.m_context)) {}
SHA256::~SHA256() { delete m_context; }
std::unique_ptr<Hash> SHA256::Clone() const { return std::make_unique<SHA256>(*this); }

binary::Binary SHA256::Calc(const binary::Binary& data) {
    return ZORVIK::Calc<Sha256Traits>(data, "ZORVIK::SHA256::Calc");
}

void SHA256::Reset() {
    CheckContext<Sha256Traits>(m_context, "ZORVIK::SHA256::Reset");
    Sha256Traits::Init(m_context);
}

void SHA256::Input(const binary::Binary& data) {
    ZORVIK::Input<Sha256Traits>(m_context, data, "ZORVIK::SHA256::Input");
}

binary::Binary SHA256::Result() { return ZORVIK::Result<Sha256Traits>(m_context, "ZORVIK::SHA256::Result"); }

binary::Binary SHA256::GetContext() const {
    return ZORVIK::GetContext<Sha256Traits>(m_context, "ZORVIK::SHA256::GetContext");
}

void SHA256::SetContext(const binary::Binary& context) {
    ZORVIK::SetContext<Sha256Traits>(m_context, context, "ZORVIK::SHA256::SetContext");
}

}  // namespace ZORVIK
