// RSA keys: built from CRT components, from (n, e, d), from (n, e) or by
// generation; exported as fixed-width big-endian components or as DER.
#pragma once

#include <cstdint>

#include "service/common/binary.h"
#include "service/cryptlib/asym/asym_key.h"

struct rsa_st;

namespace ZORVIK {

// Key formats: 0 raw big-endian (public n; private d, or p || q || dp || dq ||
// qinv for a CRT key); 2 SubjectPublicKeyInfo and PKCS#8 PrivateKeyInfo DER.
class RSA_Keys : public AsymKey {
public:
    RSA_Keys(const RSA_Keys& other);
    RSA_Keys& operator=(const RSA_Keys& other);
    // CRT components of equal length; n, e and d are derived from them.
    RSA_Keys(const binary::Binary& p, const binary::Binary& q, const binary::Binary& dp, const binary::Binary& dq,
             const binary::Binary& qinv);
    RSA_Keys(const binary::Binary& n, const binary::Binary& e, const binary::Binary& d);
    RSA_Keys(const binary::Binary& n, const binary::Binary& e);
    // Generates a key of length bytes (64 to 256) with public exponent e.
    RSA_Keys(int length, const binary::Binary& e, bool crt);
    ~RSA_Keys() override;

    binary::Binary ExportPublicKey(int format) const override;
    binary::Binary ExportPrivateKey(int format) const override;
    uint32_t GetPublicKeySize() const override;
    uint32_t GetPrivateKeySize() const override;
    bool HasPublicKey() const override { return true; }
    bool HasPrivateKey() const override { return m_hasPrivate; }

    // Components right-aligned: n and d in k bytes, the CRT parts in k/2 bytes
    // (k = bytes of the modulus).
    binary::Binary GetN() const;
    binary::Binary GetD() const;
    binary::Binary GetP() const;
    binary::Binary GetQ() const;
    binary::Binary GetDmp1() const;
    binary::Binary GetDmq1() const;
    binary::Binary GetIqmp() const;

    // The OpenSSL key, read by the RSA cipher.
    const rsa_st* GetKey() const { return m_rsa; }

private:
    rsa_st* m_rsa;
    bool m_crt;
    bool m_hasPrivate;
};

}  // namespace ZORVIK
