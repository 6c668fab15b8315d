// The signatures read the EC_KEY that EC_Keys owns; the API level is pinned
// here, before any OpenSSL header.
#define OPENSSL_API_COMPAT 0x10101000L

#include "service/cryptlib/asym/ec_cipher.h"

#include <openssl/bn.h>
#include <openssl/ec.h>
#include <openssl/err.h>
#include <openssl/objects.h>

#include <algorithm>
#include <memory>

#include "service/common/exception.h"
#include "service/cryptlib/asym/openssl_handles.h"

namespace ZORVIK {
namespace {

using namespace asym;

// Format 1 writes single-byte lengths: 2L + 4 must stay below 0x80.
constexpr uint32_t MaxDerSignatureSize = 122;
constexpr int DerFormat = 1;
constexpr int ReversedHalvesFormat = 3;
constexpr int SwappedHalvesFormat = 4;

const EC_GROUP* GroupOf(const EC_Keys& keys, const char* function) {
    const EC_GROUP* group = EC_KEY_get0_group(keys.GetKey());
    if (group == nullptr) Fail("Failed to get group from eckeys", function);
    return group;
}

void InitOrder(const EC_Keys& keys, BN_CTX* ctx, BIGNUM* n, const char* function) {
    if (!EC_GROUP_get_order(GroupOf(keys, function), n, ctx)) Fail("Failed to get order from group", function);
}

void InitPrivateKey(const EC_Keys& keys, BIGNUM* d, const char* function) {
    const BIGNUM* value = EC_KEY_get0_private_key(keys.GetKey());
    if (value == nullptr || BN_copy(d, value) == nullptr) Fail("Failed to get private key", function);
    BN_set_flags(d, BN_FLG_CONSTTIME);
}

// k uniformly from [1, n): k = 0 would give the point at infinity.
void GenK(const BIGNUM* n, const EC_Cipher::NonceSource& source, BIGNUM* k) {
    constexpr const char* function = "ZORVIK::EC_Cipher::CalcDS";
    if (source) {
        const binary::Binary bytes = source();
        if (!ToBignum(bytes, k)) Fail("Failed to generate random k", function);
        if (BN_is_zero(k) || BN_cmp(k, n) >= 0) Fail("Injected k is out of range", function);
    } else {
        do {
            if (!BN_priv_rand_range(k, n)) Fail("Failed to generate random k", function);
        } while (BN_is_zero(k));
    }
    BN_set_flags(k, BN_FLG_CONSTTIME);
}

// r = x(k*G) mod n.
void CalcFirstComponent(const EC_Keys& keys, const BIGNUM* k, const BIGNUM* n, BN_CTX* ctx, BIGNUM* r) {
    constexpr const char* function = "ZORVIK::EC_Cipher::CalcDS";
    const EC_GROUP* group = GroupOf(keys, function);
    EcPointPtr point(EC_POINT_new(group));
    if (!point || EC_GROUP_get0_generator(group) == nullptr) Fail("Failed to get base point from group", function);
    if (!EC_POINT_mul(group, point.get(), k, nullptr, nullptr, ctx)) {
        Fail("Failed to perform point multiplication", function);
    }
    CtxScope scope(ctx);
    BIGNUM* x = scope.Get();
    if (x == nullptr || !EC_POINT_get_affine_coordinates(group, point.get(), x, nullptr, ctx)) {
        Fail("Failed to get coords from point", function);
    }
    if (!BN_nnmod(r, x, n, ctx)) Fail("Failed to perform x (mod n)", function);
}

// r || s, each right-aligned in half of size bytes.
binary::Binary SerializeComponents(const BIGNUM* r, const BIGNUM* s, uint32_t size) {
    constexpr const char* function = "ZORVIK::EC_Cipher::CalcDS";
    const auto rBytes = ToFixedWidth(r, size / 2);
    if (!rBytes) Fail("Failed to serialize r component", function);
    const auto sBytes = ToFixedWidth(s, size - size / 2);
    if (!sBytes) Fail("Failed to serialize s component", function);
    return *rBytes + *sBytes;
}

// The signature in the given format; length is L and size 2L.
binary::Binary EncodeSignature(const BIGNUM* r, const BIGNUM* s, int format, uint32_t length, uint32_t size) {
    if (format != DerFormat) return SerializeComponents(r, s, size);
    ZORVIK_CHECK("ZORVIK::EC_Cipher::CalcDS", size < MaxDerSignatureSize,
                 "Данная длина подписи в форматe ASN1 не поддерживается");
    const binary::Binary components = SerializeComponents(r, s, size);
    binary::Binary result;
    result.reserve(size + 6);
    result += uint8_t{0x30};
    result += static_cast<uint8_t>(size + 4);
    result += uint8_t{0x02};
    result += static_cast<uint8_t>(length);
    result += binary::Slice(components, 0, length);
    result += uint8_t{0x02};
    result += static_cast<uint8_t>(length);
    result += binary::Slice(components, length, length);
    return result;
}

// r and s out of a signature in the given format; false when a format-1
// signature is shorter than its own length bytes claim.
bool DecodeSignature(const binary::Binary& signature, int format, BIGNUM* r, BIGNUM* s) {
    const size_t size = signature.size();
    if (format == DerFormat) {
        // Read by position: 30 len 02 len(r) r 02 len(s) s.
        if (size < 4) return false;
        const size_t rLength = signature[3];
        if (size < 6 + rLength) return false;
        const size_t sLength = signature[5 + rLength];
        if (size < 6 + rLength + sLength) return false;
        return BN_bin2bn(signature.data() + 4, static_cast<int>(rLength), r) != nullptr &&
               BN_bin2bn(signature.data() + 6 + rLength, static_cast<int>(sLength), s) != nullptr;
    }
    return BN_bin2bn(signature.data(), static_cast<int>(size / 2), r) != nullptr &&
           BN_bin2bn(signature.data() + size / 2, static_cast<int>(size / 2), s) != nullptr;
}

// GOST R 34.10-2012, 6.2 step 1, and FIPS 186-4, 6.4.2 step 1: a signature
// whose r or s is not in [1, n - 1] is invalid. Tested before any arithmetic:
// r + n or s + n would otherwise pass as a second form of a valid signature,
// and 0 has no inverse or gives the point at infinity.
bool ComponentsInRange(const BIGNUM* r, const BIGNUM* s, const BIGNUM* n) {
    const auto inRange = [n](const BIGNUM* value) { return !BN_is_zero(value) && BN_cmp(value, n) < 0; };
    return inRange(r) && inRange(s);
}

// How many leading bytes of the hash OpenSSL's own ECDSA may take in place of
// the frame, or 0 when it may not. Its arithmetic serves a curve it knows
// (P-256 and the like, ANSI X9.62 / FIPS 186-4) with that curve's fast inverse
// modulo the order, where the frame's constant-time generic inverse costs tens
// of microseconds. It reads the same number e from the hash as the frame as
// long as it needs no bit shift: the bytes taken hold no more bits than n.
size_t BuiltInEcdsaHashBytes(const EC_Keys& keys, const binary::Binary& hash) {
    const EC_GROUP* group = EC_KEY_get0_group(keys.GetKey());
    if (group == nullptr || EC_GROUP_get_curve_name(group) == NID_undef) return 0;
    const int orderBits = EC_GROUP_order_bits(group);
    const size_t used = std::min<size_t>(hash.size(), static_cast<size_t>(orderBits + 7) / 8);
    return used * 8 <= static_cast<size_t>(orderBits) ? used : 0;
}

// R = z1*G + z2*Q; the signature holds when x(R) mod n = r.
bool MakeFinalCheck(const EC_Keys& keys, const BIGNUM* z1, const BIGNUM* z2, const BIGNUM* r, const BIGNUM* n,
                    BN_CTX* ctx) {
    constexpr const char* function = "ZORVIK::EC_Cipher::VerifyDS";
    const EC_GROUP* group = GroupOf(keys, function);
    EcPointPtr point(EC_POINT_new(group));
    if (!point) Fail("Failed to get point from group", function);
    if (EC_GROUP_get0_generator(group) == nullptr) Fail("Failed to get base point from group", function);
    const EC_POINT* q = EC_KEY_get0_public_key(keys.GetKey());
    if (q == nullptr) Fail("Failed to get public key", function);
    if (!EC_POINT_mul(group, point.get(), z1, q, z2, ctx)) Fail("Failed to perform z1 * P + z2 * Q", function);
    CtxScope scope(ctx);
    BIGNUM* x = scope.Get();
    if (x == nullptr || !EC_POINT_get_affine_coordinates(group, point.get(), x, nullptr, ctx)) {
        ERR_clear_error();
        Fail("Failed to get point coords", function);
    }
    if (!BN_nnmod(x, x, n, ctx)) Fail("Failed to perform x (mod n)", function);
    return BN_cmp(x, r) == 0;
}

binary::Binary SwapHalves(const binary::Binary& data) {
    const uint32_t half = static_cast<uint32_t>(data.size() / 2);
    return binary::Slice(data, half, half) + binary::Slice(data, 0, half);
}

}  // namespace

EC_Cipher::EC_Cipher(const EC_Keys& keys, int format) : m_keys(keys), m_format(format) {}

uint32_t EC_Cipher::GetSignatureSize() const { return m_keys.GetPublicKeySize(); }

uint32_t EC_Cipher::GetPublicKeySize() const { return m_keys.GetPublicKeySize(); }

uint32_t EC_Cipher::GetPrivateKeySize() const { return m_keys.GetPrivateKeySize(); }

void EC_Cipher::InitHash(const binary::Binary& hash, const bignum_st* n, bignum_ctx* ctx, bignum_st* e) const {
    constexpr const char* function = "ZORVIK::EC_Cipher::InitHash";
    if (hash.empty()) Fail("Empty hash value is invalid", function);
    // Whole bytes of the hash enter: the first L of a longer one.
    const size_t used = std::min<size_t>(hash.size(), static_cast<size_t>(BN_num_bytes(n)));
    if (BN_bin2bn(hash.data(), static_cast<int>(used), e) == nullptr) Fail("Failed to get hash value", function);
    if (BN_cmp(e, n) >= 0 && !BN_nnmod(e, e, n, ctx)) Fail("Failed to perform hash(mod n)", function);
}

binary::Binary EC_Cipher::CalcDS(const binary::Binary& hash) const {
    constexpr const char* function = "ZORVIK::EC_Cipher::CalcDS";
    const uint32_t length = GetPrivateKeySize();
    const uint32_t size = GetSignatureSize();
    BnFrame frame;
    if (!frame.Valid()) Fail("Failed to init bignum context", function);
    BIGNUM* n = frame.Get();
    BIGNUM* d = frame.Get();
    BIGNUM* e = frame.Get();
    BIGNUM* k = frame.Get();
    BIGNUM* r = frame.Get();
    BIGNUM* s = frame.Get();
    if (s == nullptr) Fail("Failed to allocate memory from context", function);
    InitOrder(m_keys, frame.Ctx(), n, function);
    InitPrivateKey(m_keys, d, function);
    InitHash(hash, n, frame.Ctx(), e);
    for (;;) {
        GenK(n, m_nonceSource, k);
        CalcFirstComponent(m_keys, k, n, frame.Ctx(), r);
        if (BN_is_zero(r)) {
            if (m_nonceSource) Fail("Injected k gives r = 0", function);
            continue;
        }
        CalcSecondComponent(k, e, d, r, n, frame.Ctx(), s);
        if (!BN_is_zero(s)) break;
        if (m_nonceSource) Fail("Injected k gives s = 0", function);
    }
    return EncodeSignature(r, s, m_format, length, size);
}

bool EC_Cipher::VerifyDS(const binary::Binary& hash, const binary::Binary& signature) const {
    constexpr const char* function = "ZORVIK::EC_Cipher::VerifyDS";
    if (hash.empty() || signature.empty()) Fail("Некорректное значение параметров", function);
    BnFrame frame;
    if (!frame.Valid()) Fail("Failed to init bignum context", function);
    BIGNUM* n = frame.Get();
    BIGNUM* e = frame.Get();
    BIGNUM* r = frame.Get();
    BIGNUM* s = frame.Get();
    BIGNUM* z1 = frame.Get();
    BIGNUM* z2 = frame.Get();
    if (z2 == nullptr) Fail("Failed to allocate memory from context", function);
    InitOrder(m_keys, frame.Ctx(), n, function);
    if (!DecodeSignature(signature, m_format, r, s) || !ComponentsInRange(r, s, n)) return false;
    InitHash(hash, n, frame.Ctx(), e);
    CalcFactors(n, e, r, s, frame.Ctx(), z1, z2);
    return MakeFinalCheck(m_keys, z1, z2, r, n, frame.Ctx());
}

ECGOST3410::ECGOST3410(const EC_Keys& keys, int format) : EC_Cipher(keys, format) {}

std::unique_ptr<AsymCipher> ECGOST3410::Clone() const { return std::make_unique<ECGOST3410>(*this); }

void ECGOST3410::InitHash(const binary::Binary& hash, const bignum_st* n, bignum_ctx* ctx, bignum_st* e) const {
    EC_Cipher::InitHash(hash, n, ctx, e);
    // GOST R 34.10-2012, 6.1 step 2: e = 0 is replaced by 1.
    if (BN_is_zero(e) && !BN_one(e)) Fail("Failed to get hash value", "ZORVIK::ECGOST3410::InitHash");
}

binary::Binary ECGOST3410::CalcDS(const binary::Binary& hash) const {
    if (Format() == ReversedHalvesFormat) {
        binary::Binary signature = EC_Cipher::CalcDS(Reversed(hash));
        ReverseHalves(signature);
        return signature;
    }
    if (Format() == SwappedHalvesFormat) return SwapHalves(EC_Cipher::CalcDS(Reversed(hash)));
    return EC_Cipher::CalcDS(hash);
}

bool ECGOST3410::VerifyDS(const binary::Binary& hash, const binary::Binary& signature) const {
    if (Format() != ReversedHalvesFormat && Format() != SwappedHalvesFormat)
        return EC_Cipher::VerifyDS(hash, signature);
    if (hash.empty() || signature.empty()) return EC_Cipher::VerifyDS(hash, signature);  // reports the bad input
    const uint32_t size = GetSignatureSize();
    // Both halves of GetSignatureSize bytes must be present.
    if (signature.size() < size) return false;
    binary::Binary frameSignature = binary::Slice(signature, 0, size);
    if (Format() == ReversedHalvesFormat) {
        ReverseHalves(frameSignature);
    } else {
        frameSignature = SwapHalves(frameSignature);
    }
    return EC_Cipher::VerifyDS(Reversed(hash), frameSignature);
}

void ECGOST3410::CalcSecondComponent(const bignum_st* k, const bignum_st* e, const bignum_st* d, const bignum_st* r,
                                     const bignum_st* n, bignum_ctx* ctx, bignum_st* s) const {
    constexpr const char* function = "ZORVIK::ECGOST3410::CalcSecondComponent";
    CtxScope scope(ctx);
    BIGNUM* ke = scope.Get();
    BIGNUM* rd = scope.Get();
    if (ke == nullptr || !BN_mod_mul(ke, k, e, n, ctx)) Fail("Failed to perform k * e (mod n)", function);
    if (rd == nullptr || !BN_mod_mul(rd, r, d, n, ctx)) Fail("Failed to perform r * d (mod n)", function);
    if (!BN_mod_add(s, ke, rd, n, ctx)) Fail("Failed to add tmp vars in the s computation", function);
}

void ECGOST3410::CalcFactors(const bignum_st* n, const bignum_st* e, const bignum_st* r, const bignum_st* s,
                             bignum_ctx* ctx, bignum_st* z1, bignum_st* z2) const {
    constexpr const char* function = "ZORVIK::ECGOST3410::CalcFactors";
    CtxScope scope(ctx);
    BIGNUM* v = scope.Get();
    BIGNUM* minusR = scope.Get();
    if (v == nullptr || BN_mod_inverse(v, e, n, ctx) == nullptr) {
        ERR_clear_error();
        Fail("Failed to perform mod inverse of e", function);
    }
    if (!BN_mod_mul(z1, s, v, n, ctx)) Fail("Failed to multiplicaton inv(e) * s mod n", function);
    if (minusR == nullptr || BN_copy(minusR, r) == nullptr) Fail("Failed to copy r value", function);
    BN_set_negative(minusR, !BN_is_zero(minusR));
    // BN_mod_mul leaves the product in [0, n).
    if (!BN_mod_mul(z2, minusR, v, n, ctx)) Fail("Failed to perform z2 computation", function);
}

ECDSA::ECDSA(const EC_Keys& keys, int format) : EC_Cipher(keys, format) {}

std::unique_ptr<AsymCipher> ECDSA::Clone() const { return std::make_unique<ECDSA>(*this); }

// OpenSSL's ECDSA on the same key where it may stand in for the frame (see
// BuiltInEcdsaHashBytes); an injected nonce source and any failure go to the
// frame, which also gives every error its text.
binary::Binary ECDSA::CalcDS(const binary::Binary& hash) const {
    const size_t used = HasNonceSource() ? 0 : BuiltInEcdsaHashBytes(Keys(), hash);
    if (used == 0) return EC_Cipher::CalcDS(hash);
    // ECDSA_do_sign does not change the key; its parameter is not const.
    EC_KEY* key = const_cast<EC_KEY*>(Keys().GetKey());
    std::unique_ptr<ECDSA_SIG, decltype(&ECDSA_SIG_free)> signature(
        ECDSA_do_sign(hash.data(), static_cast<int>(used), key), &ECDSA_SIG_free);
    if (!signature) {
        ERR_clear_error();
        return EC_Cipher::CalcDS(hash);
    }
    return EncodeSignature(ECDSA_SIG_get0_r(signature.get()), ECDSA_SIG_get0_s(signature.get()), Format(),
                           GetPrivateKeySize(), GetSignatureSize());
}

// OpenSSL's verification answers alike for components in range and a sum point
// that is not at infinity; components out of range are refused here as in the
// frame, and a failure goes to the frame, which gives every error its text.
bool ECDSA::VerifyDS(const binary::Binary& hash, const binary::Binary& signature) const {
    const size_t used = signature.empty() ? 0 : BuiltInEcdsaHashBytes(Keys(), hash);
    if (used == 0) return EC_Cipher::VerifyDS(hash, signature);
    std::unique_ptr<ECDSA_SIG, decltype(&ECDSA_SIG_free)> components(ECDSA_SIG_new(), &ECDSA_SIG_free);
    BignumPtr r(BN_new());
    BignumPtr s(BN_new());
    const BIGNUM* n = EC_GROUP_get0_order(EC_KEY_get0_group(Keys().GetKey()));
    if (!components || !r || !s || n == nullptr) return EC_Cipher::VerifyDS(hash, signature);
    if (!DecodeSignature(signature, Format(), r.get(), s.get()) || !ComponentsInRange(r.get(), s.get(), n)) {
        return false;
    }
    ECDSA_SIG_set0(components.get(), r.release(), s.release());
    const int result =
        ECDSA_do_verify(hash.data(), static_cast<int>(used), components.get(), const_cast<EC_KEY*>(Keys().GetKey()));
    if (result < 0) {
        ERR_clear_error();
        return EC_Cipher::VerifyDS(hash, signature);
    }
    return result == 1;
}

void ECDSA::CalcSecondComponent(const bignum_st* k, const bignum_st* e, const bignum_st* d, const bignum_st* r,
                                const bignum_st* n, bignum_ctx* ctx, bignum_st* s) const {
    constexpr const char* function = "ZORVIK::ECDSA::CalcSecondComponent";
    CtxScope scope(ctx);
    BIGNUM* kInverse = scope.Get();
    BIGNUM* t1 = scope.Get();
    BIGNUM* t2 = scope.Get();
    if (t2 == nullptr || BN_mod_inverse(kInverse, k, n, ctx) == nullptr) {
        Fail("Failed to perform mod inverse of k", function);
    }
    if (!BN_mod_mul(t1, kInverse, e, n, ctx)) Fail("Failed to perform inv(k) * e (mod n)", function);
    if (!BN_mod_mul(t2, kInverse, d, n, ctx)) Fail("Failed to perform inv(k) * d (mod n)", function);
    if (!BN_mod_mul(t2, t2, r, n, ctx)) Fail("Failed to perform inv(k) * d  * r (mod n)", function);
    if (!BN_mod_add(s, t1, t2, n, ctx)) Fail("Failed to add tmp vars in the s computation", function);
}

void ECDSA::CalcFactors(const bignum_st* n, const bignum_st* e, const bignum_st* r, const bignum_st* s, bignum_ctx* ctx,
                        bignum_st* z1, bignum_st* z2) const {
    constexpr const char* function = "ZORVIK::ECDSA::CalcFactors";
    CtxScope scope(ctx);
    BIGNUM* w = scope.Get();
    // s = 0 (or any s without inverse mod n) cannot come from a signer.
    if (w == nullptr || BN_mod_inverse(w, s, n, ctx) == nullptr) {
        ERR_clear_error();
        Fail("Invalid s component", function);
    }
    if (!BN_mod_mul(z1, e, w, n, ctx)) Fail("Failed to multiplicaton inv(s) * e mod n", function);
    if (!BN_mod_mul(z2, r, w, n, ctx)) Fail("Failed to multiplicaton inv(s) * r mod n", function);
}

}  // namespace ZORVIK
