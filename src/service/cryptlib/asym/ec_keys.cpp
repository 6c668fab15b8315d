// EC_KEY and the other 1.1-level objects are deprecated in OpenSSL 3.0 but are
// what this module owns; the API level is pinned here, before any OpenSSL header.
#define OPENSSL_API_COMPAT 0x10101000L

#include "service/cryptlib/asym/ec_keys.h"

#include <openssl/ec.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/objects.h>
#include <openssl/x509.h>

#include <string>

#include "service/cryptlib/asym/openssl_handles.h"

namespace ZORVIK {
namespace {

using namespace asym;

EC_KEY* NewKey() {
    EC_KEY* key = EC_KEY_new();
    if (key == nullptr) Fail("Failed to create ec key object", "ZORVIK::EC_Keys::EC_Keys");
    return key;
}

// SEC 1, 3.2.2.1: both coordinates are field elements and satisfy
// y^2 = x^3 + a*x + b (mod p). Tested before OpenSSL sees the point, because
// OpenSSL 3 refuses an off-curve point already when its coordinates are set.
bool IsOnCurve(const EC_GROUP* group, const BIGNUM* x, const BIGNUM* y) {
    BnFrame frame;
    BIGNUM* p = frame.Get();
    BIGNUM* a = frame.Get();
    BIGNUM* b = frame.Get();
    BIGNUM* left = frame.Get();
    BIGNUM* right = frame.Get();
    BIGNUM* term = frame.Get();
    if (term == nullptr || !EC_GROUP_get_curve(group, p, a, b, frame.Ctx())) return false;
    if (BN_cmp(x, p) >= 0 || BN_cmp(y, p) >= 0) return false;
    return BN_mod_sqr(left, y, p, frame.Ctx()) &&          // y^2
           BN_mod_sqr(right, x, p, frame.Ctx()) &&         // x^2
           BN_mod_add(right, right, a, p, frame.Ctx()) &&  // x^2 + a
           BN_mod_mul(right, right, x, p, frame.Ctx()) &&  // x^3 + a*x
           BN_mod_add(right, right, b, p, frame.Ctx()) &&  // x^3 + a*x + b
           BN_nnmod(term, right, p, frame.Ctx()) && BN_cmp(left, term) == 0;
}

// OpenSSL has faster and hardened arithmetic for the curves it knows (P-256
// among them). When the parameters are one of those curves, the group is
// replaced by OpenSSL's own, without its seed; the values are the same and DER
// stays explicit, so only the speed differs.
void UseBuiltInArithmetic(EcGroupPtr& group) {
    std::unique_ptr<ECPARAMETERS, decltype(&ECPARAMETERS_free)> parameters(
        EC_GROUP_get_ecparameters(group.get(), nullptr), &ECPARAMETERS_free);
    EcGroupPtr known(parameters ? EC_GROUP_new_from_ecparameters(parameters.get()) : nullptr);
    ERR_clear_error();
    if (!known || EC_GROUP_get_curve_name(known.get()) == NID_undef) return;
    if (EC_GROUP_set_seed(known.get(), nullptr, 0) != 1) return;
    group = std::move(known);
}

}  // namespace

ec_group_st* GetGroup(const EC_Param& param) {
    constexpr const char* function = "ZORVIK::GetGroup";
    BnFrame frame;
    if (!frame.Valid()) Fail("Failed to init bignum context", function);
    BIGNUM* p = frame.Get();
    BIGNUM* a = frame.Get();
    BIGNUM* b = frame.Get();
    BIGNUM* x = frame.Get();
    BIGNUM* y = frame.Get();
    BIGNUM* order = frame.Get();
    BIGNUM* cofactor = frame.Get();
    const bool pOk = p && ToBignum(param.p, p);
    const bool aOk = a && ToBignum(param.a, a);
    const bool bOk = b && ToBignum(param.b, b);
    const bool xOk = x && ToBignum(param.x, x);
    const bool yOk = y && ToBignum(param.y, y);
    const bool orderOk = order && ToBignum(param.order, order);
    if (!pOk) Fail("Invalid p component", function);
    if (!aOk) Fail("Invalid a component", function);
    if (!bOk) Fail("Invalid b component", function);
    if (!xOk) Fail("Invalid x component", function);
    if (!yOk) Fail("Invalid y component", function);
    if (!orderOk) Fail("Invalid order component", function);

    EcGroupPtr group(EC_GROUP_new_curve_GFp(p, a, b, frame.Ctx()));
    if (!group) Fail("Group construction failed", function);
    EcPointPtr base(EC_POINT_new(group.get()));
    if (!base) Fail("Point construction failed", function);
    if (!EC_POINT_set_affine_coordinates(group.get(), base.get(), x, y, frame.Ctx())) {
        Fail("Failed to set coordinates of base point", function);
    }
    if (cofactor == nullptr || !BN_set_word(cofactor, param.cofactor) ||
        !EC_GROUP_set_generator(group.get(), base.get(), order, cofactor)) {
        Fail("Failed to set base point order", function);
    }
    UseBuiltInArithmetic(group);
    if (!param.seed.empty() && EC_GROUP_set_seed(group.get(), param.seed.data(), param.seed.size()) == 0) {
        Fail("Failed to set seed", function);
    }
    // A curve without a name is written into DER with its explicit parameters.
    EC_GROUP_set_asn1_flag(group.get(), OPENSSL_EC_EXPLICIT_CURVE);
    return group.release();
}

void SetGroup(const ec_group_st* group, ec_key_st* key) {
    if (!EC_KEY_set_group(key, group)) Fail("Failed to set group into the key", "ZORVIK::SetGroup");
}

EC_Keys::EC_Keys(const EC_Keys& other)
    : m_key(EC_KEY_dup(other.m_key)), m_hasPublic(other.m_hasPublic), m_hasPrivate(other.m_hasPrivate) {
    if (m_key == nullptr) Fail("Failed to copy ec key", "ZORVIK::EC_Keys::EC_Keys");
}

EC_Keys& EC_Keys::operator=(const EC_Keys& other) {
    if (this != &other) {
        EC_KEY* copy = EC_KEY_dup(other.m_key);
        if (copy == nullptr) Fail("Failed to copy ec key", "ZORVIK::EC_Keys::operator=");
        EC_KEY_free(m_key);
        m_key = copy;
        m_hasPublic = other.m_hasPublic;
        m_hasPrivate = other.m_hasPrivate;
    }
    return *this;
}

EC_Keys::EC_Keys(const EC_Param& param) : m_key(NewKey()), m_hasPublic(true), m_hasPrivate(true) {
    try {
        EcGroupPtr group(GetGroup(param));
        SetGroup(group.get(), m_key);
        if (!EC_KEY_generate_key(m_key)) Fail("Failed to generate ec keys", "ZORVIK::EC_Keys::EC_Keys");
    } catch (...) {
        EC_KEY_free(m_key);
        throw;
    }
}

EC_Keys::EC_Keys(const EC_Param& param, const binary::Binary& privateKey, const binary::Binary& publicKey, int format)
    : m_key(nullptr), m_hasPublic(!publicKey.empty()), m_hasPrivate(true) {
    if (privateKey.empty()) Fail("Empty private key", "ZORVIK::EC_Keys::EC_Keys");
    m_key = NewKey();
    try {
        Load(param, privateKey, publicKey, format);
    } catch (...) {
        EC_KEY_free(m_key);
        throw;
    }
}

EC_Keys::EC_Keys(const EC_Param& param, const binary::Binary& publicKey, int format)
    : m_key(nullptr), m_hasPublic(true), m_hasPrivate(false) {
    if (publicKey.empty()) Fail("Empty public key", "ZORVIK::EC_Keys::EC_Keys");
    m_key = NewKey();
    try {
        Load(param, binary::Binary(), publicKey, format);
    } catch (...) {
        EC_KEY_free(m_key);
        throw;
    }
}

EC_Keys::~EC_Keys() { EC_KEY_free(m_key); }

void EC_Keys::Load(const EC_Param& param, const binary::Binary& privateKey, const binary::Binary& publicKey,
                   int format) {
    switch (format) {
        case 0: SetKeys(param, privateKey, publicKey); return;
        case 1: {
            // Format 1 splits the public key at half its length and reverses
            // each half; the private value is reversed as a whole.
            const auto middle = publicKey.begin() + static_cast<std::ptrdiff_t>(publicKey.size() / 2);
            const binary::Binary bigEndianPublic =
                Reversed(binary::Binary(publicKey.begin(), middle)) + Reversed(binary::Binary(middle, publicKey.end()));
            SetKeys(param, Reversed(privateKey), bigEndianPublic);
            return;
        }
        case 2: SetKeys(privateKey, publicKey); return;
        default:
            // Refused at once: a key without curve would fail every later operation.
            Fail("Unsupported format", "ZORVIK::EC_Keys::EC_Keys");
    }
}

void EC_Keys::SetKeys(const EC_Param& param, const binary::Binary& privateKey, const binary::Binary& publicKey) {
    constexpr const char* function = "ZORVIK::EC_Keys::SetKeys";
    {
        EcGroupPtr group(GetGroup(param));
        SetGroup(group.get(), m_key);
    }
    const EC_GROUP* group = EC_KEY_get0_group(m_key);
    if (m_hasPublic) {
        const size_t length = KeyLength();
        const size_t size = publicKey.size();
        if (size < 2 * length) {
            Fail("Public key has " + std::to_string(size) + " bytes, expected " + std::to_string(2 * length) +
                     " (X || Y)",
                 function);
        }
        // X ends at the middle of the key and Y at its end: leading bytes of
        // a longer half are ignored.
        const binary::Binary xBytes(publicKey.begin() + static_cast<std::ptrdiff_t>(size / 2 - length),
                                    publicKey.begin() + static_cast<std::ptrdiff_t>(size / 2));
        const binary::Binary yBytes(publicKey.end() - static_cast<std::ptrdiff_t>(length), publicKey.end());
        BnFrame frame;
        BIGNUM* x = frame.Get();
        BIGNUM* y = frame.Get();
        EcPointPtr point(EC_POINT_new(group));
        if (y == nullptr || !point || !ToBignum(xBytes, x) || !ToBignum(yBytes, y)) {
            Fail("Failed to set coordinates of public key", function);
        }
        if (!IsOnCurve(group, x, y)) Fail("Point is not on curve", function);
        if (!EC_POINT_set_affine_coordinates(group, point.get(), x, y, frame.Ctx())) {
            Fail("Failed to set coordinates of public key", function);
        }
        if (EC_POINT_is_on_curve(group, point.get(), frame.Ctx()) != 1) Fail("Point is not on curve", function);
        if (!EC_KEY_set_public_key(m_key, point.get())) {
            Fail("Failed to set public key point into the key", function);
        }
    }
    if (m_hasPrivate) {
        BignumPtr value(NewBignum(privateKey));
        if (!value || !EC_KEY_set_private_key(m_key, value.get())) {
            Fail("Failed to set private key value into the key", function);
        }
    }
}

void EC_Keys::SetKeys(const binary::Binary& privateDer, const binary::Binary& publicDer) {
    constexpr const char* function = "ZORVIK::EC_Keys::SetKeys";
    if (m_hasPublic) {
        const unsigned char* cursor = publicDer.data();
        if (d2i_EC_PUBKEY(&m_key, &cursor, static_cast<long>(publicDer.size())) == nullptr) {
            Fail("Invalid public key format", function);
        }
    }
    if (m_hasPrivate) {
        const unsigned char* cursor = privateDer.data();
        std::unique_ptr<PKCS8_PRIV_KEY_INFO, decltype(&PKCS8_PRIV_KEY_INFO_free)> info(
            d2i_PKCS8_PRIV_KEY_INFO(nullptr, &cursor, static_cast<long>(privateDer.size())), &PKCS8_PRIV_KEY_INFO_free);
        if (!info) Fail("Invalid private key format", function);
        EvpPkeyPtr pkey(EVP_PKCS82PKEY(info.get()));
        EC_KEY* key = pkey ? EVP_PKEY_get1_EC_KEY(pkey.get()) : nullptr;
        if (key == nullptr) Fail("Failed to load private key", function);
        EC_KEY_free(m_key);
        m_key = key;
    }
}

uint32_t EC_Keys::KeyLength() const {
    const EC_GROUP* group = EC_KEY_get0_group(m_key);
    const BIGNUM* order = group ? EC_GROUP_get0_order(group) : nullptr;
    if (order == nullptr) Fail("EC key has no curve", "ZORVIK::EC_Keys::KeyLength");
    return static_cast<uint32_t>((BN_num_bits(order) + 7) / 8);
}

binary::Binary EC_Keys::ExportPublicKey(int format) const {
    constexpr const char* function = "ZORVIK::EC_Keys::ExportPublicKey";
    if (format < 0 || format > 2) Fail("Unsupported format", function);
    const EC_POINT* point = EC_KEY_get0_public_key(m_key);
    if (!m_hasPublic || point == nullptr) Fail("EC key holds no public key", function);
    if (format == 2) {
        const int size = i2d_EC_PUBKEY(m_key, nullptr);
        if (size <= 0) Fail("Failed to serialize public key", function);
        binary::Binary result(static_cast<size_t>(size));
        unsigned char* cursor = result.data();
        if (i2d_EC_PUBKEY(m_key, &cursor) != size) Fail("Failed to serialize public key", function);
        return result;
    }
    const uint32_t length = KeyLength();
    BnFrame frame;
    BIGNUM* x = frame.Get();
    BIGNUM* y = frame.Get();
    if (y == nullptr || !EC_POINT_get_affine_coordinates(EC_KEY_get0_group(m_key), point, x, y, frame.Ctx())) {
        Fail("Failed to get coordinates of public key", function);
    }
    const auto xBytes = ToFixedWidth(x, length);
    const auto yBytes = ToFixedWidth(y, length);
    if (!xBytes || !yBytes) {
        Fail("Public key coordinate is longer than " + std::to_string(length) + " bytes", function);
    }
    binary::Binary result = *xBytes + *yBytes;
    if (format == 1) ReverseHalves(result);
    return result;
}

binary::Binary EC_Keys::ExportPrivateKey(int format) const {
    constexpr const char* function = "ZORVIK::EC_Keys::ExportPrivateKey";
    if (format < 0 || format > 2) Fail("Unsupported format", function);
    const BIGNUM* value = EC_KEY_get0_private_key(m_key);
    if (!m_hasPrivate || value == nullptr) Fail("EC key holds no private key", function);
    if (format == 2) {
        EvpPkeyPtr pkey(EVP_PKEY_new());
        if (!pkey || !EVP_PKEY_set1_EC_KEY(pkey.get(), m_key)) Fail("Failed to serialize private key", function);
        auto der = EncodePkcs8(pkey.get());
        if (!der) Fail("Failed to serialize private key", function);
        return *der;
    }
    const uint32_t length = KeyLength();
    auto result = ToFixedWidth(value, length);
    if (!result) Fail("Private key value is longer than " + std::to_string(length) + " bytes", function);
    if (format == 1) return Reversed(*result);
    return *result;
}

uint32_t EC_Keys::GetPublicKeySize() const { return 2 * KeyLength(); }

uint32_t EC_Keys::GetPrivateKeySize() const { return KeyLength(); }

}  // namespace ZORVIK
