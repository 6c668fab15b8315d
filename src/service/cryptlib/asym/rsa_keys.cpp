// The RSA object and its component setters are deprecated in OpenSSL 3.0 but are
// what this module owns; the API level is pinned here, before any OpenSSL header.
#define OPENSSL_API_COMPAT 0x10101000L

#include "service/cryptlib/asym/rsa_keys.h"

#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/rsa.h>
#include <openssl/x509.h>

#include <string>

#include "service/cryptlib/asym/openssl_handles.h"

namespace ZORVIK {
namespace {

using namespace asym;

constexpr size_t MinModulusBytes = 64;
constexpr size_t MaxModulusBytes = 256;

::RSA* NewRsa(const char* function) {
    ::RSA* rsa = RSA_new();
    if (rsa == nullptr) Fail("Failed to create rsa key object", function);
    return rsa;
}

BIGNUM* Dup(const BIGNUM* value) { return value ? BN_dup(value) : nullptr; }

// Hands the given components to the key; absent ones (empty) stay absent.
void SetComponents(::RSA* rsa, const binary::Binary& n, const binary::Binary& e, const binary::Binary& d,
                   const char* function) {
    BignumPtr nValue(NewBignum(n));
    BignumPtr eValue(NewBignum(e));
    BignumPtr dValue(d.empty() ? nullptr : NewBignum(d));
    if (!nValue || !eValue || (!d.empty() && !dValue) || !RSA_set0_key(rsa, nValue.get(), eValue.get(), dValue.get())) {
        Fail("Failed to set rsa key components", function);
    }
    nValue.release();
    eValue.release();
    dValue.release();
}

binary::Binary Component(const BIGNUM* value, size_t width, const char* name) {
    if (value == nullptr) Fail(std::string(name) + " is null", "ZORVIK::RSA_Keys::Get");
    auto result = ToFixedWidth(value, width);
    if (!result) {
        Fail(std::string(name) + " is longer than " + std::to_string(width) + " bytes", "ZORVIK::RSA_Keys::Get");
    }
    return *result;
}

}  // namespace

RSA_Keys::RSA_Keys(const RSA_Keys& other)
    : m_rsa(NewRsa("ZORVIK::RSA_Keys::RSA_Keys")), m_crt(other.m_crt), m_hasPrivate(other.m_hasPrivate) {
    const BIGNUM *n, *e, *d, *p, *q, *dmp1, *dmq1, *iqmp;
    RSA_get0_key(other.m_rsa, &n, &e, &d);
    RSA_get0_factors(other.m_rsa, &p, &q);
    RSA_get0_crt_params(other.m_rsa, &dmp1, &dmq1, &iqmp);
    // Each setter takes its group only when the group is present.
    bool copied = RSA_set0_key(m_rsa, Dup(n), Dup(e), Dup(d)) == 1;
    if (p != nullptr && q != nullptr) copied = copied && RSA_set0_factors(m_rsa, Dup(p), Dup(q)) == 1;
    if (dmp1 != nullptr && dmq1 != nullptr && iqmp != nullptr) {
        copied = copied && RSA_set0_crt_params(m_rsa, Dup(dmp1), Dup(dmq1), Dup(iqmp)) == 1;
    }
    if (!copied) {
        RSA_free(m_rsa);
        Fail("Failed to copy rsa key", "ZORVIK::RSA_Keys::RSA_Keys");
    }
    RSA_clear_flags(m_rsa, RSA_flags(m_rsa));
    RSA_set_flags(m_rsa, RSA_flags(other.m_rsa));
    RSA_blinding_off(m_rsa);
}

RSA_Keys& RSA_Keys::operator=(const RSA_Keys& other) {
    if (this != &other) {
        RSA_Keys copy(other);
        std::swap(m_rsa, copy.m_rsa);
        m_crt = copy.m_crt;
        m_hasPrivate = copy.m_hasPrivate;
    }
    return *this;
}

RSA_Keys::RSA_Keys(const binary::Binary& p, const binary::Binary& q, const binary::Binary& dp, const binary::Binary& dq,
                   const binary::Binary& qinv)
    : m_rsa(nullptr), m_crt(true), m_hasPrivate(true) {
    constexpr const char* function = "ZORVIK::RSA_Keys::RSA_Keys";
    if (p.empty()) Fail("Invalid p", function);
    const size_t m = p.size();
    if (q.size() != m || dp.size() != m || dq.size() != m || qinv.size() != m) {
        Fail("All components must have the same length", function);
    }
    BnFrame frame;
    BIGNUM* pValue = frame.Get();
    BIGNUM* qValue = frame.Get();
    BIGNUM* dpValue = frame.Get();
    BIGNUM* n = frame.Get();
    BIGNUM* pMinus1 = frame.Get();
    BIGNUM* qMinus1 = frame.Get();
    BIGNUM* e = frame.Get();
    BIGNUM* phi = frame.Get();
    BIGNUM* gcd = frame.Get();
    BIGNUM* d = frame.Get();
    if (d == nullptr || !ToBignum(p, pValue) || !ToBignum(q, qValue) || !ToBignum(dp, dpValue) ||
        !BN_mul(n, pValue, qValue, frame.Ctx()) || !BN_sub(pMinus1, pValue, BN_value_one()) ||
        !BN_sub(qMinus1, qValue, BN_value_one()) || !BN_mul(phi, pMinus1, qMinus1, frame.Ctx())) {
        Fail("Failed to compute rsa key from crt components", function);
    }
    // e = dp^-1 mod (p - 1); without an inverse e stays zero and fails the gcd test.
    ERR_set_mark();
    if (BN_mod_inverse(e, dpValue, pMinus1, frame.Ctx()) == nullptr) BN_zero(e);
    ERR_pop_to_mark();
    // d is the inverse modulo (p - 1)(q - 1), not modulo their lcm.
    if (!BN_gcd(gcd, e, phi, frame.Ctx()) || !BN_is_one(gcd) || BN_mod_inverse(d, e, phi, frame.Ctx()) == nullptr) {
        Fail("Public exponent doesn't match p and q components", function);
    }
    const auto nBytes = ToFixedWidth(n, 2 * m);
    const auto dBytes = ToFixedWidth(d, 2 * m);
    if (!nBytes || !dBytes) Fail("Failed to compute rsa key from crt components", function);

    m_rsa = NewRsa(function);
    try {
        SetComponents(m_rsa, *nBytes, ToMinimal(e), *dBytes, function);
        BignumPtr pPart(NewBignum(p)), qPart(NewBignum(q));
        BignumPtr dpPart(NewBignum(dp)), dqPart(NewBignum(dq)), qinvPart(NewBignum(qinv));
        if (!pPart || !qPart || !RSA_set0_factors(m_rsa, pPart.get(), qPart.get())) {
            Fail("Failed to set rsa key components", function);
        }
        pPart.release();
        qPart.release();
        if (!dpPart || !dqPart || !qinvPart ||
            !RSA_set0_crt_params(m_rsa, dpPart.get(), dqPart.get(), qinvPart.get())) {
            Fail("Failed to set rsa key components", function);
        }
        dpPart.release();
        dqPart.release();
        qinvPart.release();
    } catch (...) {
        RSA_free(m_rsa);
        throw;
    }
    RSA_blinding_off(m_rsa);
}

RSA_Keys::RSA_Keys(const binary::Binary& n, const binary::Binary& e, const binary::Binary& d)
    : m_rsa(nullptr), m_crt(false), m_hasPrivate(true) {
    constexpr const char* function = "ZORVIK::RSA_Keys::RSA_Keys";
    if (n.size() < MinModulusBytes || n.size() > MaxModulusBytes) Fail("Invalid modulus size", function);
    if (d.empty()) Fail("Invalid private exponent", function);
    if (e.empty()) Fail("Invalid public exponent", function);
    m_rsa = NewRsa(function);
    try {
        SetComponents(m_rsa, n, e, d, function);
    } catch (...) {
        RSA_free(m_rsa);
        throw;
    }
    RSA_blinding_off(m_rsa);
}

RSA_Keys::RSA_Keys(const binary::Binary& n, const binary::Binary& e)
    : m_rsa(nullptr), m_crt(false), m_hasPrivate(false) {
    constexpr const char* function = "ZORVIK::RSA_Keys::RSA_Keys";
    if (n.size() < MinModulusBytes || n.size() > MaxModulusBytes) Fail("Invalid modulus size", function);
    if (e.empty()) Fail("Invalid public exponent", function);
    m_rsa = NewRsa(function);
    try {
        SetComponents(m_rsa, n, e, binary::Binary(), function);
    } catch (...) {
        RSA_free(m_rsa);
        throw;
    }
    RSA_blinding_off(m_rsa);
}

RSA_Keys::RSA_Keys(int length, const binary::Binary& e, bool crt) : m_rsa(nullptr), m_crt(crt), m_hasPrivate(true) {
    constexpr const char* function = "ZORVIK::RSA_Keys::RSA_Keys";
    if (e.empty()) Fail("Invalid open exponent", function);
    if ((e.back() & 1) == 0) Fail("Open exponent must be odd", function);
    if (length < static_cast<int>(MinModulusBytes) || length > static_cast<int>(MaxModulusBytes)) {
        Fail("Invalid key length", function);
    }
    BignumPtr exponent(NewBignum(e));
    m_rsa = NewRsa(function);
    if (!exponent || !RSA_generate_key_ex(m_rsa, length * 8, exponent.get(), nullptr)) {
        RSA_free(m_rsa);
        Fail("Failed to generate rsa keys", function);
    }
    RSA_blinding_off(m_rsa);
}

RSA_Keys::~RSA_Keys() { RSA_free(m_rsa); }

binary::Binary RSA_Keys::ExportPublicKey(int format) const {
    constexpr const char* function = "ZORVIK::RSA_Keys::ExportPublicKey";
    if (format == 0) return GetN();
    if (format != 2) Fail("Unsupported format", function);
    const int size = i2d_RSA_PUBKEY(m_rsa, nullptr);
    if (size <= 0) Fail("Failed to serialize public key", function);
    binary::Binary result(static_cast<size_t>(size));
    unsigned char* cursor = result.data();
    if (i2d_RSA_PUBKEY(m_rsa, &cursor) != size) Fail("Failed to serialize public key", function);
    return result;
}

binary::Binary RSA_Keys::ExportPrivateKey(int format) const {
    constexpr const char* function = "ZORVIK::RSA_Keys::ExportPrivateKey";
    if (format == 0) {
        if (m_crt) return GetP() + GetQ() + GetDmp1() + GetDmq1() + GetIqmp();
        return GetD();
    }
    if (format != 2) Fail("Unsupported format", function);
    if (!m_hasPrivate) GetD();  // reports the missing private exponent
    EvpPkeyPtr pkey(EVP_PKEY_new());
    if (!pkey || !EVP_PKEY_set1_RSA(pkey.get(), m_rsa)) Fail("Failed to serialize private key", function);
    auto der = EncodePkcs8(pkey.get());
    if (!der) Fail("Failed to serialize private key", function);
    return *der;
}

uint32_t RSA_Keys::GetPublicKeySize() const { return static_cast<uint32_t>(GetN().size()); }

uint32_t RSA_Keys::GetPrivateKeySize() const { return static_cast<uint32_t>(GetD().size()); }

binary::Binary RSA_Keys::GetN() const {
    const BIGNUM* n = RSA_get0_n(m_rsa);
    if (n == nullptr) Fail("n is null", "ZORVIK::RSA_Keys::GetN");
    return ToMinimal(n);
}

namespace {
size_t ModulusBytes(const ::RSA* rsa) {
    const BIGNUM* n = RSA_get0_n(rsa);
    if (n == nullptr) Fail("n is null", "ZORVIK::RSA_Keys::Get");
    return static_cast<size_t>(BN_num_bytes(n));
}
}  // namespace

binary::Binary RSA_Keys::GetD() const { return Component(RSA_get0_d(m_rsa), ModulusBytes(m_rsa), "d"); }
binary::Binary RSA_Keys::GetP() const { return Component(RSA_get0_p(m_rsa), ModulusBytes(m_rsa) / 2, "p"); }
binary::Binary RSA_Keys::GetQ() const { return Component(RSA_get0_q(m_rsa), ModulusBytes(m_rsa) / 2, "q"); }
binary::Binary RSA_Keys::GetDmp1() const { return Component(RSA_get0_dmp1(m_rsa), ModulusBytes(m_rsa) / 2, "dmp1"); }
binary::Binary RSA_Keys::GetDmq1() const { return Component(RSA_get0_dmq1(m_rsa), ModulusBytes(m_rsa) / 2, "dmq1"); }
binary::Binary RSA_Keys::GetIqmp() const { return Component(RSA_get0_iqmp(m_rsa), ModulusBytes(m_rsa) / 2, "iqmp"); }

}  // namespace ZORVIK
