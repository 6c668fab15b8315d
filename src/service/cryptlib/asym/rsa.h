// The RSA implementation of AsymCipher: PKCS#1 signatures over a SHA-1 or
// SHA-256 hash and the raw private and public operations, through OpenSSL's
// key-operation context.
#pragma once

#include <cstdint>

#include "service/common/binary.h"
#include "service/cryptlib/asym/asym_cipher.h"
#include "service/cryptlib/asym/rsa_keys.h"

struct evp_pkey_ctx_st;

namespace ZORVIK {

// Padding codes are OpenSSL's: 1 PKCS#1 v1.5, 3 none, 4 OAEP (and the others
// OpenSSL knows, passed on unchanged).
class RSA : public AsymCipher {
public:
    RSA(const RSA_Keys& keys, int signPadding, int cryptPadding);
    RSA(const RSA& other);
    RSA& operator=(const RSA&) = delete;
    ~RSA() override;

    std::unique_ptr<AsymCipher> Clone() const override;
    // hash: 20 bytes (SHA-1) or 32 bytes (SHA-256).
    binary::Binary CalcDS(const binary::Binary& hash) const override;
    bool VerifyDS(const binary::Binary& hash, const binary::Binary& signature) const override;
    binary::Binary CryptPrivate(const binary::Binary& data) const override;
    binary::Binary CryptPublic(const binary::Binary& data) const override;
    const AsymKey& GetKeys() const override { return m_keys; }
    uint32_t GetBlockSize() const override;
    uint32_t GetSignatureSize() const override;
    uint32_t GetPublicKeySize() const override;
    uint32_t GetPrivateKeySize() const override;

private:
    RSA_Keys m_keys;
    evp_pkey_ctx_st* m_context;
    int m_signPadding;
    int m_cryptPadding;
};

}  // namespace ZORVIK
