// Elliptic-curve signatures over a hash the caller has computed: the common
// frame EC_Cipher (signing loop, verification, signature formats) and its two
// arithmetics, GOST R 34.10-2012 (ECGOST3410) and ECDSA (ANSI X9.62, FIPS 186-4).
#pragma once

#include <cstdint>
#include <functional>

#include "service/common/binary.h"
#include "service/cryptlib/asym/asym_cipher.h"
#include "service/cryptlib/asym/ec_keys.h"

struct bignum_st;
struct bignum_ctx;

namespace ZORVIK {

// Signature formats (L = bytes of the curve order):
//   1      DER-like 30 (2L+4) 02 L r 02 L s, r and s always L bytes (2L < 122);
//   3      ECGOST3410 only: hash byte-reversed, signature rev(r) || rev(s);
//   4      ECGOST3410 only: hash byte-reversed, signature s || r;
//   other  r || s, each right-aligned in L bytes.
//
// Format 1 is not strict DER (X.690, 8.3.2), on purpose: it keeps one fixed
// layout, which stored signatures and the toolkit's cards may rely on. r and s
// are written as exactly L bytes each: leading zero bytes stay in, and no zero
// byte goes before a first byte of 0x80 or more. A strict DER reader (OpenSSL's
// d2i_ECDSA_SIG and ECDSA_verify, for one) refuses such an integer as not
// minimal or as negative: about three signatures in four on a curve whose
// order fills its top bit (P-256, secp256k1), about one in 120 on the 256-bit
// GOST test curve. Verification reads format 1 by the length bytes at offsets
// 3 and 5 + len(r), so it takes a standard signer's minimal DER (with short
// lengths) as well.
class EC_Cipher : public AsymCipher {
public:
    // Supplies the per-signature secret k as big-endian bytes, 0 < k < n.
    // Set only to reproduce published examples with a fixed k; by default k
    // is drawn uniformly from [1, n) by OpenSSL's RAND.
    using NonceSource = std::function<binary::Binary()>;

    EC_Cipher(const EC_Keys& keys, int format);

    binary::Binary CalcDS(const binary::Binary& hash) const override;
    // False for a signature whose r or s, as read in the format, is 0 or not
    // below n (GOST R 34.10-2012 6.2 step 1, FIPS 186-4 6.4.2 step 1), and for
    // one shorter than its format-1 lengths claim.
    bool VerifyDS(const binary::Binary& hash, const binary::Binary& signature) const override;
    const AsymKey& GetKeys() const override { return m_keys; }
    uint32_t GetSignatureSize() const override;
    uint32_t GetPublicKeySize() const override;
    uint32_t GetPrivateKeySize() const override;

    void SetNonceSource(NonceSource source) { m_nonceSource = std::move(source); }

    // The arithmetic steps of the frames; each works on its big-number
    // arguments only and throws on an arithmetic failure.
    // e := the first min(|hash|, L) bytes of hash, reduced mod n.
    virtual void InitHash(const binary::Binary& hash, const bignum_st* n, bignum_ctx* ctx, bignum_st* e) const;
    virtual void CalcSecondComponent(const bignum_st* k, const bignum_st* e, const bignum_st* d, const bignum_st* r,
                                     const bignum_st* n, bignum_ctx* ctx, bignum_st* s) const = 0;
    virtual void CalcFactors(const bignum_st* n, const bignum_st* e, const bignum_st* r, const bignum_st* s,
                             bignum_ctx* ctx, bignum_st* z1, bignum_st* z2) const = 0;

protected:
    int Format() const { return m_format; }
    const EC_Keys& Keys() const { return m_keys; }
    bool HasNonceSource() const { return static_cast<bool>(m_nonceSource); }

private:
    EC_Keys m_keys;
    int m_format;
    NonceSource m_nonceSource;
};

// GOST R 34.10-2012 (RFC 7091): s = (k*e + r*d) mod n; e = 0 is taken as 1.
class ECGOST3410 : public EC_Cipher {
public:
    ECGOST3410(const EC_Keys& keys, int format);

    std::unique_ptr<AsymCipher> Clone() const override;
    binary::Binary CalcDS(const binary::Binary& hash) const override;
    bool VerifyDS(const binary::Binary& hash, const binary::Binary& signature) const override;
    void InitHash(const binary::Binary& hash, const bignum_st* n, bignum_ctx* ctx, bignum_st* e) const override;
    void CalcSecondComponent(const bignum_st* k, const bignum_st* e, const bignum_st* d, const bignum_st* r,
                             const bignum_st* n, bignum_ctx* ctx, bignum_st* s) const override;
    void CalcFactors(const bignum_st* n, const bignum_st* e, const bignum_st* r, const bignum_st* s, bignum_ctx* ctx,
                     bignum_st* z1, bignum_st* z2) const override;
};

// ECDSA (FIPS 186-4, 6.4): s = k^-1 * (e + d*r) mod n. On a curve that OpenSSL
// knows, with no nonce source injected, OpenSSL's ECDSA does the arithmetic.
class ECDSA : public EC_Cipher {
public:
    ECDSA(const EC_Keys& keys, int format);

    std::unique_ptr<AsymCipher> Clone() const override;
    binary::Binary CalcDS(const binary::Binary& hash) const override;
    bool VerifyDS(const binary::Binary& hash, const binary::Binary& signature) const override;
    void CalcSecondComponent(const bignum_st* k, const bignum_st* e, const bignum_st* d, const bignum_st* r,
                             const bignum_st* n, bignum_ctx* ctx, bignum_st* s) const override;
    void CalcFactors(const bignum_st* n, const bignum_st* e, const bignum_st* r, const bignum_st* s, bignum_ctx* ctx,
                     bignum_st* z1, bignum_st* z2) const override;
};

}  // namespace ZORVIK
