// The key is wrapped from the 1.1-level RSA object that RSA_Keys owns; the API
// level is pinned here, before any OpenSSL header.
#define OPENSSL_API_COMPAT 0x10101000L

#include "service/cryptlib/asym/rsa.h"

#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/rsa.h>

#include <string>

#include "service/cryptlib/asym/openssl_handles.h"

namespace ZORVIK {
namespace {

using namespace asym;

constexpr size_t Sha1Size = 20;
constexpr size_t Sha256Size = 32;
// PKCS#1 v1.5 padding takes at least 11 bytes; OAEP with SHA-1 2 * 20 + 2.
constexpr size_t Pkcs1Overhead = 11;
constexpr size_t OaepOverhead = 42;

// The reason text of the error OpenSSL queued last; the queue is emptied.
std::string TakeOpenSslReason(const char* fallback) {
    const unsigned long code = ERR_peek_last_error();
    ERR_clear_error();
    const char* reason = code != 0 ? ERR_reason_error_string(code) : nullptr;
    return reason != nullptr ? reason : fallback;
}

EVP_PKEY_CTX* NewContext(const RSA_Keys& keys) {
    EvpPkeyPtr pkey(EVP_PKEY_new());
    if (!pkey || !EVP_PKEY_set1_RSA(pkey.get(), const_cast<::RSA*>(keys.GetKey()))) {
        Fail("Failed to wrap rsa key", "ZORVIK::RSA::RSA");
    }
    EVP_PKEY_CTX* context = EVP_PKEY_CTX_new(pkey.get(), nullptr);
    if (context == nullptr) Fail("Failed to create rsa operation context", "ZORVIK::RSA::RSA");
    return context;  // the context holds its own reference to the key
}

const EVP_MD* DigestFor(const binary::Binary& hash) { return hash.size() == Sha1Size ? EVP_sha1() : EVP_sha256(); }

bool IsSupportedHashLength(size_t size) { return size == Sha1Size || size == Sha256Size; }

}  // namespace

RSA::RSA(const RSA_Keys& keys, int signPadding, int cryptPadding)
    : m_keys(keys), m_context(NewContext(m_keys)), m_signPadding(signPadding), m_cryptPadding(cryptPadding) {}

RSA::RSA(const RSA& other)
    : AsymCipher(other),
      m_keys(other.m_keys),
      m_context(NewContext(m_keys)),
      m_signPadding(other.m_signPadding),
      m_cryptPadding(other.m_cryptPadding) {}

RSA::~RSA() { EVP_PKEY_CTX_free(m_context); }

std::unique_ptr<AsymCipher> RSA::Clone() const { return std::make_unique<RSA>(*this); }

binary::Binary RSA::CalcDS(const binary::Binary& hash) const {
    constexpr const char* function = "ZORVIK::RSA::CalcDS";
    if (hash.empty()) Fail("Invalid hash value", function);
    if (!m_keys.HasPrivateKey()) Fail("Unsupported operation. Keys object doesn't contain private key", function);
    if (!IsSupportedHashLength(hash.size())) Fail("Invalid hash length", function);
    if (EVP_PKEY_sign_init(m_context) <= 0 || EVP_PKEY_CTX_set_rsa_padding(m_context, m_signPadding) <= 0 ||
        EVP_PKEY_CTX_set_signature_md(m_context, DigestFor(hash)) <= 0) {
        Fail("Failed to prepare rsa signature: " + TakeOpenSslReason("unknown error"), function);
    }
    binary::Binary signature(GetSignatureSize());
    size_t size = signature.size();
    if (EVP_PKEY_sign(m_context, signature.data(), &size, hash.data(), hash.size()) <= 0) {
        Fail("Failed to calculate rsa signature: " + TakeOpenSslReason("unknown error"), function);
    }
    signature.resize(size);
    return signature;
}

bool RSA::VerifyDS(const binary::Binary& hash, const binary::Binary& signature) const {
    constexpr const char* function = "ZORVIK::RSA::VerifyDS";
    if (!IsSupportedHashLength(hash.size())) Fail("Invalid hash length", function);
    if (signature.size() != GetSignatureSize()) Fail("Invalid signature length", function);
    if (EVP_PKEY_verify_init(m_context) <= 0 || EVP_PKEY_CTX_set_rsa_padding(m_context, m_signPadding) <= 0 ||
        EVP_PKEY_CTX_set_signature_md(m_context, DigestFor(hash)) <= 0) {
        Fail("Failed to prepare rsa verification: " + TakeOpenSslReason("unknown error"), function);
    }
    // 1 is a valid signature; 0 a mismatch and a negative value a signature
    // that does not even decode (bad padding, value not below n): both invalid.
    const int verdict = EVP_PKEY_verify(m_context, signature.data(), signature.size(), hash.data(), hash.size());
    ERR_clear_error();
    return verdict == 1;
}

binary::Binary RSA::CryptPrivate(const binary::Binary& data) const {
    constexpr const char* function = "ZORVIK::RSA::CryptPrivate";
    const size_t k = GetPublicKeySize();
    if (data.empty()) Fail("Invalid data", function);
    if (data.size() > k) Fail("Data is too long", function);
    if (!m_keys.HasPrivateKey()) Fail("Private key is not loaded", function);
    binary::Binary result(k);
    size_t size = result.size();
    if (EVP_PKEY_decrypt_init(m_context) <= 0 || EVP_PKEY_CTX_set_rsa_padding(m_context, m_cryptPadding) <= 0 ||
        EVP_PKEY_decrypt(m_context, result.data(), &size, data.data(), data.size()) <= 0) {
        Fail(TakeOpenSslReason("RSA private key operation failed"), function);
    }
    result.resize(size);
    return result;
}

binary::Binary RSA::CryptPublic(const binary::Binary& data) const {
    constexpr const char* function = "ZORVIK::RSA::CryptPublic";
    const size_t k = GetPublicKeySize();
    size_t largest = k;
    if (m_cryptPadding == RSA_PKCS1_PADDING) largest = k > Pkcs1Overhead ? k - Pkcs1Overhead : 0;
    if (m_cryptPadding == RSA_PKCS1_OAEP_PADDING) largest = k > OaepOverhead ? k - OaepOverhead : 0;
    if (data.empty()) Fail("Invalid data length", function);
    if (data.size() > largest) Fail("Data is too long", function);
    if (m_cryptPadding == RSA_NO_PADDING && data.size() != k) Fail("Data must be aligned", function);
    binary::Binary result(k);
    size_t size = result.size();
    if (EVP_PKEY_encrypt_init(m_context) <= 0 || EVP_PKEY_CTX_set_rsa_padding(m_context, m_cryptPadding) <= 0 ||
        EVP_PKEY_encrypt(m_context, result.data(), &size, data.data(), data.size()) <= 0) {
        Fail(TakeOpenSslReason("RSA public key operation failed"), function);
    }
    result.resize(size);
    return result;
}

uint32_t RSA::GetBlockSize() const { return GetPublicKeySize(); }

uint32_t RSA::GetSignatureSize() const { return GetPublicKeySize(); }

uint32_t RSA::GetPublicKeySize() const { return m_keys.GetPublicKeySize(); }

uint32_t RSA::GetPrivateKeySize() const { return m_keys.GetPrivateKeySize(); }

}  // namespace ZORVIK
