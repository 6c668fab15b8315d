// The asymmetric keys and ciphers: EC curves and keys (the published curves of
// tests/data/asym/curves.vec), the GOST R 34.10 and ECDSA signatures over them, the
// ECDH and VKO key agreements, and RSA keys with the RSA cipher.
// OpenSSL's cofactor ECDH reads an EC_KEY; the API level is pinned before any
// OpenSSL header, as in the library.
#define OPENSSL_API_COMPAT 0x10101000L

#include <gtest/gtest.h>
#include <openssl/bn.h>
#include <openssl/ec.h>

#include <algorithm>
#include <optional>

#include "service/cryptlib/asym/ec_cipher.h"
#include "service/cryptlib/asym/ec_keys.h"
#include "service/cryptlib/asym/ecdh.h"
#include "service/cryptlib/asym/rsa.h"
#include "service/cryptlib/asym/rsa_keys.h"
#include "service/cryptlib/crypto_test_util.h"
#include "service/cryptlib/hash/gost_r3411_2012.h"
#include "service/cryptlib/hash/sha.h"

namespace ZORVIK {
namespace {

using binary::Binary;
using test::Contains;
using test::LoadVectors;
using test::MessageOf;
using test::Reversed;

EC_Param LoadCurve(const std::string& name) {
    for (const test::TestVector& v : LoadVectors("asym/curves.vec")) {
        if (v.Text("Name") != name) continue;
        EC_Param param;
        param.p = v.Bin("P"), param.a = v.Bin("A"), param.b = v.Bin("B");
        param.x = v.Bin("X"), param.y = v.Bin("Y"), param.order = v.Bin("Order");
        param.cofactor = uint32_t(v.Number("Cofactor"));
        if (v.Has("Seed")) param.seed = v.Bin("Seed");
        return param;
    }
    throw std::runtime_error("no curve " + name + " in asym/curves.vec");
}

// Each of the two fixed-width halves (X and Y, or r and s) reversed on its own.
Binary ReverseEachHalf(const Binary& data) {
    const uint32_t half = uint32_t(data.size() / 2);
    return Reversed(Slice(data, 0, half)) + Reversed(Slice(data, half, half));
}

// The GOST test curve with the RFC 7091 key pair on it (m_keys), and two generated key pairs.
class EcTest : public ::testing::Test {
protected:
    EcTest() : m_curve(LoadCurve("gost-test-256")), m_vector(LoadVectors("asym/gost3410_2012.vec").at(0)) {}

    EC_Param m_curve;
    test::TestVector m_vector;
    Binary m_private = m_vector.Bin("D"), m_public = m_vector.Bin("Qx") + m_vector.Bin("Qy");
    EC_Keys m_keys{m_curve, m_private, m_public, 0}, m_a{m_curve}, m_b{m_curve};

    EC_Keys PublicOf(const EC_Keys& keys) const { return EC_Keys(m_curve, keys.ExportPublicKey(0), 0); }
};

// Format 1 reverses the private value as a whole and each coordinate on its own;
// longer input is read as a number, and short values export at fixed width.
// Copies are equal and independent.
TEST_F(EcTest, FormatsWidthsAndCopiesOfRawKeys) {
    EXPECT_EQ(m_keys.ExportPrivateKey(1), Reversed(m_private));
    EXPECT_EQ(m_keys.ExportPublicKey(1), ReverseEachHalf(m_public));
    const EC_Keys fromReversed(m_curve, Reversed(m_private), ReverseEachHalf(m_public), 1);
    EXPECT_EQ(fromReversed.ExportPrivateKey(0), m_private);
    EXPECT_EQ(fromReversed.ExportPublicKey(0), m_public);
    // 33 bytes little-endian: the extra byte is the most significant one (zero).
    const EC_Keys longPrivate(m_curve, Reversed(Binary{0x00} + m_private), ReverseEachHalf(m_public), 1);
    EXPECT_EQ(longPrivate.ExportPrivateKey(0), m_private);
    // 66 bytes of public key: X is bytes 1..32 and Y bytes 34..65.
    const Binary padded = Binary{0xAA} + Slice(m_public, 0, 32) + Binary{0xBB} + Slice(m_public, 32, 32);
    EXPECT_EQ(EC_Keys(m_curve, padded, 0).ExportPublicKey(0), m_public);
    const EC_Keys small(m_curve, Binary{0x01}, Binary(), 0);
    EXPECT_FALSE(small.HasPublicKey());
    EXPECT_EQ(small.ExportPrivateKey(0), Binary(31, 0x00) + Binary{0x01});
    EXPECT_EQ(small.ExportPrivateKey(1), Binary{0x01} + Binary(31, 0x00));
    EXPECT_TRUE(m_a.HasPrivateKey());
    EXPECT_TRUE(m_a.HasPublicKey());
    const EC_Keys publicOnly(m_curve, m_public, 0);
    EXPECT_FALSE(publicOnly.HasPrivateKey());
    EXPECT_EQ(publicOnly.GetPrivateKeySize(), 32u);
    EXPECT_EQ(publicOnly.GetPublicKeySize(), 64u);
    const EC_Keys large(LoadCurve("tc26-512-a"));
    EXPECT_EQ(large.GetPrivateKeySize(), 64u);
    EXPECT_EQ(large.GetPublicKeySize(), 128u);
    EXPECT_EQ(large.ExportPublicKey(0).size(), 128u);
    EXPECT_EQ(large.ExportPrivateKey(1).size(), 64u);
    EC_Keys copy(m_a);
    EXPECT_EQ(copy.ExportPrivateKey(0) + copy.ExportPublicKey(0), m_a.ExportPrivateKey(0) + m_a.ExportPublicKey(0));
    copy = m_keys;
    EXPECT_EQ(copy.ExportPublicKey(0), m_public);
    EXPECT_NE(m_a.ExportPublicKey(0), m_b.ExportPublicKey(0));
}

// Format 2 is DER with explicit parameters: the prime, the order and (when given)
// the seed travel in it, even for a curve that runs on OpenSSL's named arithmetic.
TEST_F(EcTest, DerRoundTripKeepsTheKeysAndTheExplicitCurve) {
    const Binary publicDer = m_keys.ExportPublicKey(2), privateDer = m_keys.ExportPrivateKey(2);
    EXPECT_TRUE(Contains(publicDer, m_curve.p));
    EXPECT_TRUE(Contains(privateDer, m_curve.order));
    EXPECT_TRUE(Contains(publicDer, m_public));
    const EC_Keys fromDer(EC_Param(), privateDer, publicDer, 2);
    EXPECT_EQ(fromDer.ExportPrivateKey(0), m_private);
    EXPECT_EQ(fromDer.ExportPublicKey(0), m_public);
    EXPECT_EQ(fromDer.GetPublicKeySize(), 64u);
    EXPECT_EQ(EC_Keys(EC_Param(), publicDer, 2).ExportPublicKey(2), publicDer);

    const EC_Param p256 = LoadCurve("p256");
    EXPECT_TRUE(Contains(EC_Keys(p256).ExportPublicKey(2), p256.seed));
    EXPECT_TRUE(Contains(EC_Keys(p256).ExportPublicKey(2), p256.p));
    EC_Param withoutSeed = p256;
    withoutSeed.seed.clear();
    EXPECT_FALSE(Contains(EC_Keys(withoutSeed).ExportPublicKey(2), p256.seed));
}

// RFC 7836, Appendix B: keys and UKM little-endian, as the RFC writes them.
TEST(VkoRfc7836, PublishedKeysAndAgreedPoint) {
    const EC_Param curve = LoadCurve("tc26-512-a");
    const auto v = LoadVectors("asym/vko_rfc7836.vec").at(0);
    const EC_Keys a(curve, v.Bin("PrivateA"), v.Bin("PublicA"), 1), b(curve, v.Bin("PrivateB"), v.Bin("PublicB"), 1);
    // d * G, with G given as a peer's public point, is the public key of d.
    const EC_Keys base(curve, Binary(64 - curve.x.size(), 0x00) + curve.x + curve.y, 0);
    EXPECT_EQ(ReverseEachHalf(ECDH::GenSharedSecret(a, base)), v.Bin("PublicA"));
    EXPECT_EQ(ReverseEachHalf(ECDH::GenSharedSecret(b, base)), v.Bin("PublicB"));
    EXPECT_EQ(ECDH::PerformKeyAgreementVKO(a, b, v.Bin("Ukm"), true), v.Bin("Point"));
    EXPECT_EQ(ECDH::PerformKeyAgreementVKO(b, a, v.Bin("Ukm"), true), v.Bin("Point"));
    EXPECT_EQ(ECDH::PerformKeyAgreementVKO(b, EC_Keys(curve, v.Bin("PublicA"), 1), v.Bin("Ukm"), true), v.Bin("Point"));
    // KEK = GOST R 34.11-2012 (256) of the point, hashed as the byte string.
    EXPECT_EQ(R3411_12(true, true).Calc(v.Bin("Point")), v.Bin("Kek256"));
}

// Both sides agree; UKM 1 (or none) is plain Diffie-Hellman, and a big-endian UKM
// is taken as a number: with d = 1, UKM 01 00 00 00 00 00 00 00 multiplies Q by 2^56.
TEST_F(EcTest, BothSidesAgreeAndTheUkmMultipliesTheSecret) {
    const Binary shared = ECDH::GenSharedSecret(m_a, PublicOf(m_b)), ukm = binary::RandomBinary(8);
    EXPECT_EQ(shared.size(), 64u);
    EXPECT_EQ(shared, ECDH::GenSharedSecret(m_b, PublicOf(m_a)));
    EXPECT_NE(shared, ECDH::GenSharedSecret(m_a, PublicOf(m_a)));
    EXPECT_EQ(ECDH::PerformKeyAgreementVKO(m_a, PublicOf(m_b), ukm, false),
              ECDH::PerformKeyAgreementVKO(m_b, PublicOf(m_a), ukm, false));
    EXPECT_EQ(ECDH::PerformKeyAgreementVKO(m_a, m_b, ukm, true), ECDH::PerformKeyAgreementVKO(m_b, m_a, ukm, true));
    EXPECT_EQ(ECDH::PerformKeyAgreementVKO(m_a, m_b, Binary(), false), shared);
    EXPECT_EQ(ECDH::PerformKeyAgreementVKO(m_a, m_b, Binary{0x01}, false), shared);
    EXPECT_EQ(ECDH::PerformKeyAgreementVKO(m_a, m_b, Binary{0x01} + Binary(7, 0), true),  // little-endian 1
              ReverseEachHalf(shared));
    const Binary twoTo56 = Binary{0x01} + Binary(7, 0);
    const EC_Keys one(m_curve, Binary{0x01}, Binary(), 0), d56(m_curve, twoTo56, Binary(), 0);
    EXPECT_EQ(ECDH::PerformKeyAgreementVKO(one, m_b, twoTo56, false), ECDH::GenSharedSecret(d56, m_b));
}

// RFC 7836, 4.3 takes the point (h * d * UKM mod n) * Q, which OpenSSL's cofactor
// Diffie-Hellman gives for the private value d * UKM mod n; VKO leaves out the
// cofactor h, so on TC26 256 A (h = 4) the standard's point is 4 times ours.
TEST(VkoCofactor, StandardPointIsFourTimesOursOnTc26256A) {
    const EC_Param curve = LoadCurve("tc26-256-a");
    const EC_Keys own(curve), peer(curve);
    const Binary ukm = binary::RandomBinary(8);
    const Binary ours = ECDH::PerformKeyAgreementVKO(own, peer, ukm, false);

    using BignumPtr = std::unique_ptr<BIGNUM, decltype(&BN_free)>;
    BignumPtr t(BN_new(), BN_free), ukmNumber(BN_bin2bn(ukm.data(), int(ukm.size()), nullptr), BN_free);
    std::unique_ptr<BN_CTX, decltype(&BN_CTX_free)> ctx(BN_CTX_new(), BN_CTX_free);
    std::unique_ptr<EC_KEY, decltype(&EC_KEY_free)> standard(EC_KEY_dup(own.GetKey()), EC_KEY_free);
    const EC_GROUP* group = EC_KEY_get0_group(own.GetKey());
    ASSERT_TRUE(t && ukmNumber && ctx && standard);
    ASSERT_TRUE(BN_mod_mul(t.get(), EC_KEY_get0_private_key(own.GetKey()), ukmNumber.get(), EC_GROUP_get0_order(group),
                           ctx.get()));
    ASSERT_TRUE(EC_KEY_set_private_key(standard.get(), t.get()));
    EC_KEY_set_flags(standard.get(), EC_FLAG_COFACTOR_ECDH);
    Binary standardX(32);
    ASSERT_EQ(ECDH_compute_key(standardX.data(), standardX.size(), EC_KEY_get0_public_key(peer.GetKey()),
                               standard.get(), nullptr),
              32);

    const Binary fourTimesOurs =
        ECDH::GenSharedSecret(EC_Keys(curve, Binary{0x04}, Binary(), 0), EC_Keys(curve, ours, 0));
    EXPECT_EQ(Slice(fourTimesOurs, 0, 32), standardX);
    EXPECT_NE(Slice(ours, 0, 32), standardX);
}

EC_Cipher::NonceSource Fixed(const Binary& k) {
    return [k] { return k; };
}

Binary Der(const Binary& r, const Binary& s) { return Binary{0x30, 0x44, 0x02, 0x20} + r + Binary{0x02, 0x20} + s; }

// Unsigned big-endian number without its leading zero bytes.
Binary Trimmed(const Binary& value) {
    const auto first = std::find_if(value.begin(), value.end(), [](uint8_t b) { return b != 0; });
    return Binary(first, value.end());
}

// Strict DER of (r, s) as a standard signer writes it (X.690, 8.3.2): each
// integer in its fewest bytes, with a zero byte before a first byte of 0x80 or more.
Binary MinimalDer(const Binary& r, const Binary& s) {
    Binary body;
    for (const Binary& value : {r, s}) {
        Binary content = Trimmed(value);
        if (content.empty() || content[0] >= 0x80) content = Binary{0x00} + content;
        body += Binary{0x02, uint8_t(content.size())} + content;
    }
    return Binary{0x30, uint8_t(body.size())} + body;
}

// GOST R 34.10-2012, Appendix A.1 (RFC 7091): the example in every format, signed
// through a clone that keeps keys, format and nonce source.
TEST_F(EcTest, SignsAndVerifiesTheGost3410ExampleInEveryFormat) {
    const test::TestVector& v = m_vector;
    const Binary e = v.Bin("E"), r = v.Bin("R"), s = v.Bin("S");
    const EC_Keys publicKey(m_curve, m_public, 0);
    // Hash and signature of each format; 3 and 4 take the hash little-endian.
    const std::pair<Binary, Binary> byFormat[] = {
        {e, r + s}, {e, Der(r, s)}, {e, r + s}, {Reversed(e), Reversed(r) + Reversed(s)}, {Reversed(e), s + r}};
    for (int format = 0; format < 5; ++format) {
        const auto& [hash, signature] = byFormat[format];
        ECGOST3410 signer(m_keys, format);
        signer.SetNonceSource(Fixed(v.Bin("K")));
        EXPECT_EQ(std::unique_ptr<AsymCipher>(signer.Clone())->CalcDS(hash), signature) << format;
        const ECGOST3410 verifier(publicKey, format);
        EXPECT_TRUE(verifier.VerifyDS(hash, signature)) << format;
        for (size_t at : {signature.size() - 64, signature.size() - 33, signature.size() - 32, signature.size() - 1}) {
            Binary changed = signature;
            changed[at] ^= 0x01;
            EXPECT_FALSE(verifier.VerifyDS(hash, changed)) << format << " byte " << at;
        }
        Binary changedHash = hash;
        changedHash[5] ^= 0x80;
        EXPECT_FALSE(verifier.VerifyDS(changedHash, signature)) << format;
        EXPECT_FALSE(verifier.VerifyDS(Reversed(hash), signature)) << format;
    }
}

// RFC 6979, A.2.5: P-256 with SHA-256; formats 3 and 4 are plain r || s in ECDSA.
TEST(EcdsaRfc6979, SignsWithThePublishedNonceAndVerifies) {
    const auto key = test::VectorInSection("asym/ecdsa_p256.vec", "Key");
    const Binary d = key.Bin("D"), u = key.Bin("Ux") + key.Bin("Uy");
    for (const auto& v : LoadVectors("asym/ecdsa_p256.vec")) {
        if (v.Text("Section") == "Key") continue;
        SCOPED_TRACE(v.Where());
        ASSERT_EQ(SHA256().Calc(v.Bin("Message")), v.Bin("Hash"));
        const Binary rs = v.Bin("R") + v.Bin("S");
        for (int format = 0; format < 5; ++format) {
            ECDSA cipher(EC_Keys(LoadCurve("p256"), d, u, 0), format);
            cipher.SetNonceSource(Fixed(v.Bin("K")));
            const Binary signature = format == 1 ? Der(v.Bin("R"), v.Bin("S")) : rs;
            EXPECT_EQ(cipher.CalcDS(v.Bin("Hash")), signature) << format;
            EXPECT_TRUE(ECDSA(EC_Keys(LoadCurve("p256"), u, 0), format).VerifyDS(v.Bin("Hash"), signature)) << format;
        }
        // Format 1 also reads a standard signer's DER: for "sample" r and s both
        // take 33 bytes, for "test" r takes 33 and s 32.
        const Binary strictDer = MinimalDer(v.Bin("R"), v.Bin("S"));
        ASSERT_NE(strictDer.size(), 70u);
        EXPECT_TRUE(ECDSA(EC_Keys(LoadCurve("p256"), u, 0), 1).VerifyDS(v.Bin("Hash"), strictDer));
        const ECDSA verifier(EC_Keys(LoadCurve("p256"), u, 0), 0);
        EXPECT_TRUE(verifier.VerifyDS(v.Bin("Hash"), rs));
        Binary changed = rs;
        changed[40] ^= 0x04;
        EXPECT_FALSE(verifier.VerifyDS(v.Bin("Hash"), changed));
    }
}

template <class Cipher>
std::unique_ptr<EC_Cipher> Make(const EC_Keys& keys, int format) {
    return std::make_unique<Cipher>(keys, format);
}

// Round trips with generated keys in both arithmetics: the 512-bit curve, DER and
// secp256k1, whose a = 0 is given as empty (its base point lies on the curve only
// when the empty a is read as 0).
TEST(EcRoundTrip, SignatureVerifiesAndHasTheFormatSize) {
    const struct {
        const char* curve;
        std::unique_ptr<EC_Cipher> (*make)(const EC_Keys&, int);
        std::vector<int> formats;
        uint32_t length;
    } cases[] = {{"tc26-512-a", Make<ECGOST3410>, {0, 3, 4}, 64},
                 {"gost-test-256", Make<ECGOST3410>, {0, 1, 2, 3, 4}, 32},
                 {"p256", Make<ECDSA>, {0, 1, 2, 3, 4}, 32},
                 {"secp256k1", Make<ECDSA>, {0, 1}, 32}};
    for (const auto& c : cases) {
        const EC_Keys keys(LoadCurve(c.curve));
        for (int format : c.formats) {
            SCOPED_TRACE(std::string(c.curve) + " format " + std::to_string(format));
            const auto cipher = c.make(keys, format);
            EXPECT_EQ(cipher->GetSignatureSize(), 2 * c.length);
            EXPECT_EQ(cipher->GetPublicKeySize(), 2 * c.length);
            EXPECT_EQ(cipher->GetPrivateKeySize(), c.length);
            for (const Binary& hash : {Binary(c.length, 0xC3), Binary(20, 0x11), Binary{0x42}}) {
                Binary signature = cipher->CalcDS(hash);
                EXPECT_EQ(signature.size(), format == 1 ? 2 * c.length + 6 : 2 * c.length);
                EXPECT_TRUE(cipher->VerifyDS(hash, signature));
                signature[signature.size() - 3] ^= 0x10;
                EXPECT_FALSE(cipher->VerifyDS(hash, signature));
            }
        }
    }
}

Binary SwapHalves(const Binary& data) {
    const uint32_t half = uint32_t(data.size() / 2);
    return Slice(data, half, half) + Slice(data, 0, half);
}

// Format 4 is format 2 over the reversed hash with the halves swapped; format 3
// the same with each half reversed.
TEST_F(EcTest, ReversedFormatsRelateToPlainOnes) {
    const Binary hash = binary::RandomBinary(32);
    const Binary format4 = ECGOST3410(m_a, 4).CalcDS(hash);
    EXPECT_TRUE(ECGOST3410(m_a, 4).VerifyDS(hash, format4));
    EXPECT_TRUE(ECGOST3410(m_a, 2).VerifyDS(Reversed(hash), SwapHalves(format4)));
    const Binary format3 = ECGOST3410(m_a, 3).CalcDS(hash);
    EXPECT_TRUE(ECGOST3410(m_a, 2).VerifyDS(Reversed(hash), ReverseEachHalf(format3)));
    EXPECT_FALSE(ECGOST3410(m_a, 2).VerifyDS(hash, ReverseEachHalf(format3)));
}

// A hash longer than the order is cut to its first bytes; a shorter one is a number.
TEST_F(EcTest, HashIsTakenAsANumberBelowTheOrder) {
    const ECGOST3410 gost(m_a, 0);
    const Binary hash = binary::RandomBinary(32), shortHash = binary::RandomBinary(20);
    EXPECT_TRUE(gost.VerifyDS(hash, gost.CalcDS(hash + Binary{0xDE, 0xAD})));
    EXPECT_TRUE(gost.VerifyDS(Binary(12, 0x00) + shortHash, gost.CalcDS(shortHash)));
    // A hash of zero modulo n counts as 1 in GOST R 34.10 and as 0 in ECDSA.
    EXPECT_TRUE(gost.VerifyDS(Binary{0x01}, gost.CalcDS(m_curve.order)));
    const ECDSA ecdsa(m_a, 0);
    const Binary signature = ecdsa.CalcDS(m_curve.order);
    EXPECT_TRUE(ecdsa.VerifyDS(Binary{0x00}, signature));
    EXPECT_FALSE(ecdsa.VerifyDS(Binary{0x01}, signature));
}

// Fixed-width fields keep their leading (or, reversed, trailing) zero bytes.
TEST_F(EcTest, ShortComponentsKeepTheirFixedWidth) {
    // About one agreed point in 256 has an x below 2^248; find one.
    const EC_Keys peer = PublicOf(m_b);
    Binary ukm, agreed;
    for (uint32_t n = 1; n < 4000 && (agreed.empty() || agreed[0] != 0x00); ++n)
        ukm = binary::NumToBinary(n, 2), agreed = ECDH::PerformKeyAgreementVKO(m_a, peer, ukm, false);
    ASSERT_EQ(agreed[0], 0x00) << "no short x found";
    EXPECT_EQ(agreed.size(), 64u);
    EXPECT_EQ(ECDH::PerformKeyAgreementVKO(m_a, peer, Reversed(ukm), true), ReverseEachHalf(agreed));
    // About one signature in 256 has an r below 2^248; find one.
    const ECGOST3410 cipher(m_a, 1);
    const Binary hash = binary::RandomBinary(32);
    Binary signature;
    for (int attempt = 0; attempt < 4000 && (signature.empty() || signature[4] != 0x00); ++attempt)
        signature = cipher.CalcDS(hash);
    ASSERT_EQ(signature[4], 0x00) << "no short r found";
    EXPECT_EQ(Slice(signature, 0, 4), (Binary{0x30, 0x44, 0x02, 0x20}));
    EXPECT_EQ(Slice(signature, 36, 2), (Binary{0x02, 0x20}));
    EXPECT_TRUE(cipher.VerifyDS(hash, signature));
    const Binary plain = ReverseEachHalf(Slice(signature, 4, 32) + Slice(signature, 38, 32));
    EXPECT_TRUE(ECGOST3410(m_a, 3).VerifyDS(Reversed(hash), plain));
    EXPECT_EQ(plain[31], 0x00);  // trailing zero of the reversed r
}

// Signatures too short for their format, or whose DER lengths overrun them, are
// invalid without being read past their end.
TEST_F(EcTest, TruncatedSignaturesAreInvalid) {
    const ECGOST3410 der(m_a, 1);
    const Binary hash(32, 0x77);
    const Binary signature = der.CalcDS(hash);
    for (uint32_t length : {1u, 3u, 4u, 37u, 38u, 69u}) EXPECT_FALSE(der.VerifyDS(hash, Slice(signature, 0, length)));
    Binary overclaimed = signature;
    overclaimed[3] = 0x7F;  // r claims more bytes than the signature holds
    EXPECT_FALSE(der.VerifyDS(hash, overclaimed));
    EXPECT_FALSE(ECGOST3410(m_a, 3).VerifyDS(hash, Binary(63, 0x01)));
    EXPECT_FALSE(ECGOST3410(m_a, 4).VerifyDS(hash, Binary{0x01}));
}

// Unsigned big-endian a + b.
Binary Sum(const Binary& a, const Binary& b) {
    Binary sum(std::max(a.size(), b.size()) + 1, 0x00);
    unsigned carry = 0;
    for (size_t i = 1; i <= sum.size(); ++i) {
        carry += (i <= a.size() ? a[a.size() - i] : 0u) + (i <= b.size() ? b[b.size() - i] : 0u);
        sum[sum.size() - i] = uint8_t(carry);
        carry >>= 8;
    }
    return Trimmed(sum);
}

// (r, s) in a signature format as VerifyDS reads it, on a curve of L-byte order.
// A value wider than L bytes widens both fields where the reader takes any
// width: the DER lengths of format 1, the halves of r || s. Formats 3 and 4 of
// ECGOST3410 take exactly 2L bytes, where it cannot be written at all.
std::optional<Binary> Encode(const Binary& r, const Binary& s, int format, bool gostFormats, size_t length) {
    const size_t width = std::max({length, Trimmed(r).size(), Trimmed(s).size()});
    const Binary rField = Binary(width - Trimmed(r).size(), 0x00) + Trimmed(r);
    const Binary sField = Binary(width - Trimmed(s).size(), 0x00) + Trimmed(s);
    const uint8_t w = uint8_t(width);
    if (format == 1) return Binary{0x30, uint8_t(2 * w + 4), 0x02, w} + rField + Binary{0x02, w} + sField;
    if (!gostFormats || (format != 3 && format != 4)) return rField + sField;
    if (width > length) return std::nullopt;
    return format == 3 ? Reversed(rField) + Reversed(sField) : sField + rField;
}

// GOST R 34.10-2012, 6.2 step 1, and FIPS 186-4, 6.4.2 step 1: r and s must lie
// in [1, n - 1]. Each valid signature verifies, and its r or s raised by n, made
// 0 or made n is invalid, without an exception, in every format and on both
// paths of ECDSA (OpenSSL's on P-256, the frame on a curve OpenSSL does not know).
TEST(EcSignatureRange, ComponentsOutsideOneToNMinusOneAreInvalid) {
    struct Row {
        std::string name;
        EC_Param curve;
        std::unique_ptr<EC_Cipher> (*make)(const EC_Keys&, int);
        Binary publicKey{}, hash{}, r{}, s{};
    };
    const EC_Param gostCurve = LoadCurve("gost-test-256"), p256 = LoadCurve("p256");
    const auto gost = LoadVectors("asym/gost3410_2012.vec").at(0);
    std::vector<Row> rows = {{"GOST R 34.10-2012 A.1", gostCurve, Make<ECGOST3410>, gost.Bin("Qx") + gost.Bin("Qy"),
                              gost.Bin("E"), gost.Bin("R"), gost.Bin("S")}};
    const auto key = test::VectorInSection("asym/ecdsa_p256.vec", "Key");
    for (const auto& v : LoadVectors("asym/ecdsa_p256.vec")) {
        if (v.Text("Section") == "Key") continue;
        rows.push_back({"RFC 6979 " + v.Where(), p256, Make<ECDSA>, key.Bin("Ux") + key.Bin("Uy"), v.Bin("Hash"),
                        v.Bin("R"), v.Bin("S")});
    }
    // The other arithmetic on each curve, with a generated key.
    for (Row row : {Row{"ECDSA on the GOST test curve", gostCurve, Make<ECDSA>},
                    Row{"GOST R 34.10 on P-256", p256, Make<ECGOST3410>}}) {
        const EC_Keys keys(row.curve);
        row.hash = binary::RandomBinary(32);
        const Binary signature = row.make(keys, 0)->CalcDS(row.hash);
        row.publicKey = keys.ExportPublicKey(0), row.r = Slice(signature, 0, 32), row.s = Slice(signature, 32, 32);
        rows.push_back(row);
    }
    int skipped = 0;
    for (const Row& row : rows) {
        const Binary& n = row.curve.order;
        const EC_Keys keys(row.curve, row.publicKey, 0);
        const bool gostFormats = row.make == Make<ECGOST3410>;
        const Binary zero{0x00};
        const std::pair<Binary, Binary> invalid[] = {{row.r, Sum(row.s, n)},
                                                     {Sum(row.r, n), row.s},
                                                     {zero, row.s},
                                                     {row.r, zero},
                                                     {zero, zero},
                                                     {n, row.s},
                                                     {row.r, n}};
        for (int format = 0; format < 5; ++format) {
            SCOPED_TRACE(row.name + ", format " + std::to_string(format));
            const auto cipher = row.make(keys, format);
            const Binary hash = gostFormats && format >= 3 ? Reversed(row.hash) : row.hash;
            EXPECT_TRUE(cipher->VerifyDS(hash, *Encode(row.r, row.s, format, gostFormats, 32)));
            for (size_t i = 0; i < std::size(invalid); ++i) {
                const auto signature = Encode(invalid[i].first, invalid[i].second, format, gostFormats, 32);
                if (!signature) {
                    ++skipped;
                    continue;
                }
                bool valid = true;
                EXPECT_NO_THROW(valid = cipher->VerifyDS(hash, *signature)) << "case " << i;
                EXPECT_FALSE(valid) << "case " << i;
            }
        }
    }
    // Left out: r + n and s + n on P-256 in formats 3 and 4 of GOST R 34.10,
    // which take 33 bytes, as P-256's n is above 2^256 - 2^224. The GOST test
    // curve's n is just above 2^255: there the example's r + n and s + n fit in
    // 32 bytes and are tried in every format.
    EXPECT_EQ(skipped, 4);
}

TEST_F(EcTest, RefusesBadKeysAndArgumentsWithTheirMessages) {
    Binary moved = m_public;
    moved.back() ^= 0x01;
    const Binary garbage{0x30, 0x03, 0x02, 0x01, 0x00}, hash(32, 0x33), zero(32, 0x00), anyR = binary::RandomBinary(32);
    const RSA_Keys rsa(64, Binary{0x01, 0x00, 0x01}, false);
    const EC_Keys publicOnly(m_curve, m_public, 0), p256(LoadCurve("p256"));
    const EC_Keys privateOnly(m_curve, m_private, Binary(), 0), wide(m_curve, Binary{0x01} + m_private, m_public, 0);
    const EC_Keys orderAsPrivate(m_curve, m_curve.order, Binary(), 0);
    EC_Param evenPrime = m_curve, offCurveBase = m_curve, noOrder = m_curve;
    evenPrime.p = Binary{0x00};
    offCurveBase.y.back() ^= 0x01;
    noOrder.order.clear();
    ECGOST3410 withK(m_a, 0);
    const ECDSA ecdsa(m_a, 0);
    const AsymCipher& base = ecdsa;
    std::vector<test::Refusal> rows = {
        {[&] { EC_Keys(m_curve, moved, 0); }, "Point is not on curve"},
        // A coordinate not below p is no field element.
        {[&] { EC_Keys(m_curve, Binary(32, 0xFF) + Slice(m_public, 32, 32), 0); }, "Point is not on curve"},
        {[&] { EC_Keys(m_curve, Binary(), m_public, 0); }, "Empty private key"},
        {[&] { EC_Keys(m_curve, Binary(), 0); }, "Empty public key"},
        {[&] { EC_Keys(m_curve, Slice(m_public, 0, 63), 0); }, "Public key has 63 bytes, expected 64 (X || Y)"},
        {[&] { EC_Keys(m_curve, m_private, m_public, 3); }, "Unsupported format"},
        {[&] { EC_Keys(m_curve, m_public, -1); }, "Unsupported format"},
        {[&] { m_keys.ExportPublicKey(3); }, "Unsupported format"},
        {[&] { m_keys.ExportPrivateKey(3); }, "Unsupported format"},
        {[&] { publicOnly.ExportPrivateKey(0); }, "EC key holds no private key"},
        {[&] { publicOnly.ExportPrivateKey(2); }, "EC key holds no private key"},
        {[&] { privateOnly.ExportPublicKey(0); }, "EC key holds no public key"},
        // A private value wider than the order is not cut on export.
        {[&] { wide.ExportPrivateKey(0); }, "Private key value is longer than 32 bytes"},
        {[&] { EC_Keys(m_curve, garbage, Binary(), 2); }, "Invalid private key format"},
        {[&] { EC_Keys(m_curve, garbage, 2); }, "Invalid public key format"},
        {[&] { EC_Keys(m_curve, Slice(publicOnly.ExportPublicKey(2), 0, 40), 2); }, "Invalid public key format"},
        {[&] { EC_Keys(m_curve, rsa.ExportPublicKey(2), 2); }, "Invalid public key format"},
        {[&] { EC_Keys(m_curve, rsa.ExportPrivateKey(2), Binary(), 2); }, "Failed to load private key"},
        {[&] { EC_Keys{evenPrime}; }, "Group construction failed"},
        {[&] { EC_Keys{offCurveBase}; }, "Failed to set coordinates of base point"},
        {[&] { EC_Keys{noOrder}; }, "Failed to set base point order"},
        {[&] { withK.SetNonceSource(Fixed(m_curve.order)), withK.CalcDS(hash); }, "Injected k is out of range"},
        {[&] { withK.SetNonceSource(Fixed(Binary{0x00})), withK.CalcDS(hash); }, "Injected k is out of range"},
        {[&] { ECDSA(EC_Keys(LoadCurve("tc26-512-a")), 1).CalcDS(Binary(64, 0x01)); },
         "Данная длина подписи в форматe ASN1 не поддерживается"},
        {[&] { ECDSA(publicOnly, 0).CalcDS(hash); }, "Failed to get private key"},
        {[&] { base.CryptPrivate(Binary{0x01}); }, "Cannot be implemented", 8},
        {[&] { base.CryptPublic(Binary{0x01}); }, "Cannot be implemented", 8},
        {[&] { base.GetBlockSize(); }, "Cannot be implemented", 8},
        {[&] { ECDH::GenSharedSecret(m_a, privateOnly); }, "Failed to get public key"},
        {[&] { ECDH::PerformKeyAgreementVKO(m_a, privateOnly, Binary(), true); }, "Failed to get public key"},
        {[&] { ECDH::GenSharedSecret(publicOnly, m_b); }, "Failed to get private key"},
        {[&] { ECDH::PerformKeyAgreementVKO(publicOnly, m_b, Binary{0x01}, false); }, "Failed to get private key"},
        {[&] { ECDH::GenSharedSecret(orderAsPrivate, m_b); }, "Failed to get result point coords"},
        // d * UKM = 0 mod n when UKM is n.
        {[&] { ECDH::PerformKeyAgreementVKO(m_a, m_b, m_curve.order, false); }, "Failed to get result point coords"},
    };
    for (int format : {0, 1, 3, 4}) {
        const auto cipher = std::make_shared<ECGOST3410>(m_a, format);
        rows.push_back({[=] { cipher->CalcDS(Binary()); }, "Empty hash value is invalid"});
        rows.push_back({[=] { cipher->VerifyDS(Binary(), Binary(64, 0x01)); }, "Некорректное значение параметров"});
        rows.push_back({[=] { cipher->VerifyDS(Binary(32, 0x01), Binary()); }, "Некорректное значение параметров"});
    }
    test::ExpectRefusals(rows);
    EXPECT_EQ(base.GetKeys().GetPublicKeySize(), 64u);
    // Zero components are no bad argument but an invalid signature.
    EXPECT_FALSE(ECDSA(m_a, 0).VerifyDS(hash, anyR + zero));
    EXPECT_FALSE(ECDSA(p256, 0).VerifyDS(hash, anyR + zero));
    EXPECT_FALSE(ECGOST3410(m_a, 0).VerifyDS(hash, zero + zero));
}

constexpr int Pkcs1 = 1;
constexpr int NoPadding = 3;
constexpr int Oaep = 4;

// PKCS #1 v2.1 test vectors, Example 1 (a 1024-bit key with CRT values) and its v1.5 signatures.
class RsaTest : public ::testing::Test {
protected:
    RSA_Keys Crt() const { return RSA_Keys(Bin("P"), Bin("Q"), Bin("DP"), Bin("DQ"), Bin("QINV")); }
    RSA_Keys Plain() const { return RSA_Keys(Bin("N"), Bin("E"), Bin("D")); }
    RSA_Keys Public() const { return RSA_Keys(Bin("N"), Bin("E")); }
    Binary Bin(const char* field) const { return m_key.Bin(field); }

    test::TestVector m_key = test::VectorInSection("asym/rsa_pkcs1v15_sign.vec", "Key");
};

TEST_F(RsaTest, KeysFromTheirPartsExportAtFixedWidth) {
    const auto textbook = LoadVectors("asym/rsa_crt.vec").at(0);
    const RSA_Keys small(textbook.Bin("P"), textbook.Bin("Q"), textbook.Bin("DP"), textbook.Bin("DQ"),
                         textbook.Bin("QINV"));
    EXPECT_EQ(small.GetN(), textbook.Bin("N"));
    EXPECT_EQ(small.GetD(), textbook.Bin("D"));

    const RSA_Keys keys = Crt();
    EXPECT_EQ(keys.ExportPublicKey(0), Bin("N"));
    EXPECT_EQ(keys.GetN(), Bin("N"));
    EXPECT_EQ(keys.GetPublicKeySize(), 128u);
    EXPECT_EQ(keys.GetPrivateKeySize(), 128u);
    EXPECT_EQ(keys.GetD().size(), 128u);
    EXPECT_TRUE(keys.HasPrivateKey());
    const Binary components[] = {keys.GetP(), keys.GetQ(), keys.GetDmp1(), keys.GetDmq1(), keys.GetIqmp()};
    const char* names[] = {"P", "Q", "DP", "DQ", "QINV"};
    for (size_t i = 0; i < 5; ++i) EXPECT_EQ(components[i], Bin(names[i])) << names[i];
    EXPECT_EQ(keys.ExportPrivateKey(0), Bin("P") + Bin("Q") + Bin("DP") + Bin("DQ") + Bin("QINV"));
    // DER carries the components of its kind only.
    const Binary publicDer = keys.ExportPublicKey(2), privateDer = keys.ExportPrivateKey(2);
    EXPECT_EQ(publicDer[0], 0x30);
    EXPECT_EQ(privateDer[0], 0x30);
    EXPECT_TRUE(Contains(publicDer, Bin("N")));
    EXPECT_FALSE(Contains(publicDer, Bin("P")));
    EXPECT_TRUE(Contains(privateDer, Bin("P")));
    EXPECT_TRUE(Contains(privateDer, Bin("QINV")));
    // Copies are independent and equal.
    RSA_Keys copy = keys;
    const RSA_Keys original(copy);
    copy = Public();
    EXPECT_FALSE(copy.HasPrivateKey());
    EXPECT_EQ(original.ExportPrivateKey(0), keys.ExportPrivateKey(0));
    EXPECT_EQ(original.GetN(), copy.GetN());

    // Moduli of 64 to 256 bytes; a short d exports at the modulus width; generated
    // keys export d, or with the CRT flag p q dP dQ qInv.
    const Binary e{0x01, 0x00, 0x01};
    EXPECT_EQ(RSA_Keys(Binary(64, 0xC1), e, Binary{0x05}).GetN().size(), 64u);
    EXPECT_TRUE(RSA_Keys(Binary(256, 0xC1), e).HasPublicKey());
    EXPECT_EQ(RSA_Keys(Binary(256, 0xC1), e).GetN().size(), 256u);
    EXPECT_EQ(RSA_Keys(Binary(128, 0xC1), e, Binary{0x01, 0x02}).ExportPrivateKey(0), Binary(126, 0) + Binary("0102"));
    const RSA_Keys plain(64, e, false), crt(64, e, true);
    EXPECT_EQ(plain.GetN().size(), 64u);
    EXPECT_EQ(plain.ExportPrivateKey(0), plain.GetD());
    EXPECT_TRUE(crt.HasPrivateKey());
    EXPECT_EQ(crt.ExportPrivateKey(0).size(), 160u);
    EXPECT_EQ(Slice(crt.ExportPrivateKey(0), 0, 32), crt.GetP());
    EXPECT_EQ(Slice(crt.ExportPrivateKey(0), 128, 32), crt.GetIqmp());
}

// The CRT construction takes d modulo (p - 1)(q - 1), the example's own d modulo
// the lcm: both sign alike, and so does a clone.
TEST_F(RsaTest, SignsAndVerifiesThePublishedExamples) {
    std::vector<test::TestVector> signatures;
    for (const auto& v : LoadVectors("asym/rsa_pkcs1v15_sign.vec"))
        if (v.Text("Section") == "Signatures") signatures.push_back(v);
    ASSERT_EQ(signatures.size(), 2u);
    const RSA_Keys crtD(Bin("N"), Bin("E"), Crt().GetD());
    const RSA verifier(Public(), Pkcs1, NoPadding);
    for (const auto& v : signatures) {
        SCOPED_TRACE(v.Where());
        ASSERT_EQ(SHA1().Calc(v.Bin("Msg")), v.Bin("Hash"));
        for (const RSA_Keys& keys : {Crt(), Plain(), crtD})
            EXPECT_EQ(RSA(keys, Pkcs1, NoPadding).CalcDS(v.Bin("Hash")), v.Bin("Signature"));
        EXPECT_EQ(std::unique_ptr<AsymCipher>(RSA(Crt(), Pkcs1, NoPadding).Clone())->CalcDS(v.Bin("Hash")),
                  v.Bin("Signature"));
        EXPECT_TRUE(verifier.VerifyDS(v.Bin("Hash"), v.Bin("Signature")));
        Binary hash = v.Bin("Hash");
        hash[0] ^= 0x01;
        EXPECT_FALSE(verifier.VerifyDS(hash, v.Bin("Signature")));
    }
}

TEST(RsaSigVer, MatchesTheNistVerdicts) {
    const auto vectors = LoadVectors("asym/rsa_sigver15.vec");
    ASSERT_EQ(vectors.size(), 6u);
    for (const auto& v : vectors) {
        SCOPED_TRACE(v.Where());
        ASSERT_EQ(SHA1().Calc(v.Bin("Msg")), v.Bin("Hash"));
        const bool valid = v.Number("Valid") == 1;
        const RSA verifier(RSA_Keys(v.Bin("N"), v.Bin("E")), Pkcs1, NoPadding);
        EXPECT_EQ(verifier.VerifyDS(v.Bin("Hash"), v.Bin("Signature")), valid);
        if (!valid) continue;
        const RSA signer(RSA_Keys(v.Bin("N"), v.Bin("E"), v.Bin("D")), Pkcs1, NoPadding);
        EXPECT_EQ(signer.CalcDS(v.Bin("Hash")), v.Bin("Signature"));
    }
}

// The raw operations (padding 3) on the published signatures: the public one gives
// the EMSA-PKCS1-v1_5 encoding of the SHA-1 hash (RFC 8017, 9.2), the private one
// turns that encoding back into the signature. A clone keeps both paddings.
TEST_F(RsaTest, RawOperationsGiveThePublishedEncoding) {
    const Binary sha1DigestInfo("3021300906052B0E03021A05000414");
    for (const auto& v : LoadVectors("asym/rsa_pkcs1v15_sign.vec")) {
        if (v.Text("Section") != "Signatures") continue;
        SCOPED_TRACE(v.Where());
        const Binary encoded =
            Binary{0x00, 0x01} + Binary(128 - 3 - 35, 0xFF) + Binary{0x00} + sha1DigestInfo + v.Bin("Hash");
        EXPECT_EQ(RSA(Public(), Pkcs1, NoPadding).CryptPublic(v.Bin("Signature")), encoded);
        for (const RSA_Keys& keys : {Crt(), Plain()})
            EXPECT_EQ(RSA(keys, Pkcs1, NoPadding).CryptPrivate(encoded), v.Bin("Signature"));
        const std::unique_ptr<AsymCipher> clone = RSA(Crt(), Pkcs1, NoPadding).Clone();
        EXPECT_EQ(clone->CryptPrivate(encoded), v.Bin("Signature"));
        EXPECT_EQ(clone->CalcDS(v.Bin("Hash")), v.Bin("Signature"));
    }
}

// PKCS #1 v2.1, Example 1 of the encryption vectors: the private operation opens the
// published v1.5 and OAEP cryptograms with CRT and plain keys; the raw operations
// map the v1.5 encoding EM = 00 02 PS 00 M, PS the example's seed, onto the cryptogram
// and back.
TEST(RsaPkcs1Encryption, PublishedCryptogramsOpen) {
    const auto key = test::VectorInSection("asym/rsa_pkcs1_crypt.vec", "Key");
    const RSA_Keys crt(key.Bin("P"), key.Bin("Q"), key.Bin("DP"), key.Bin("DQ"), key.Bin("QINV"));
    const RSA_Keys plain(key.Bin("N"), key.Bin("E"), key.Bin("D")), publicKey(key.Bin("N"), key.Bin("E"));
    ASSERT_EQ(crt.GetN(), key.Bin("N"));
    size_t count = 0;
    for (const auto& v : LoadVectors("asym/rsa_pkcs1_crypt.vec")) {
        if (v.Text("Section") == "Key") continue;
        SCOPED_TRACE(v.Where());
        ++count;
        const bool oaep = v.Text("Section") == "Oaep";
        for (const RSA_Keys& keys : {crt, plain})
            EXPECT_EQ(RSA(keys, Pkcs1, oaep ? Oaep : Pkcs1).CryptPrivate(v.Bin("Encryption")), v.Bin("Message"));
        if (oaep) continue;
        const Binary encoded = Binary{0x00, 0x02} + v.Bin("Seed") + Binary{0x00} + v.Bin("Message");
        ASSERT_EQ(encoded.size(), 128u);
        EXPECT_EQ(RSA(publicKey, Pkcs1, NoPadding).CryptPublic(encoded), v.Bin("Encryption"));
        EXPECT_EQ(RSA(crt, Pkcs1, NoPadding).CryptPrivate(v.Bin("Encryption")), encoded);
    }
    EXPECT_EQ(count, 4u);
}

// The digest is chosen by the hash length: a SHA-1 DigestInfo never matches a
// SHA-256 signature. Raw RSA takes a block below the modulus, PKCS #1 v1.5 at most
// k - 11 bytes and OAEP k - 42; the private operation undoes the public one.
TEST_F(RsaTest, Sha256SignatureAndEncryptionInEveryPadding) {
    const RSA cipher(Crt(), Pkcs1, NoPadding);
    const Binary hash(32, 0x6E), message = Binary{0x00} + binary::RandomBinary(127);
    const Binary signature = cipher.CalcDS(hash);
    EXPECT_TRUE(RSA(Public(), Pkcs1, NoPadding).VerifyDS(hash, signature));
    EXPECT_FALSE(cipher.VerifyDS(Slice(hash, 0, 20), signature));
    for (uint32_t size : {uint32_t(signature.size()), cipher.GetBlockSize(), cipher.GetSignatureSize(),
                          cipher.GetPublicKeySize(), cipher.GetPrivateKeySize()})
        EXPECT_EQ(size, 128u);
    for (const RSA_Keys& keys : {Crt(), Plain()}) {
        const RSA raw(keys, Pkcs1, NoPadding);
        EXPECT_EQ(raw.CryptPrivate(raw.CryptPublic(message)), message);
    }
    for (const auto& [padding, longest] : {std::pair{Pkcs1, 117u}, std::pair{Oaep, 86u}}) {
        const RSA padded(Crt(), Pkcs1, padding);
        const Binary longestMessage = binary::RandomBinary(longest);
        EXPECT_EQ(padded.CryptPrivate(padded.CryptPublic(longestMessage)), longestMessage) << padding;
        EXPECT_EQ(MessageOf([&] { padded.CryptPublic(Binary(longest + 1, 0x5C)); }), "Data is too long") << padding;
    }
}

TEST_F(RsaTest, RefusesBadKeysAndArgumentsWithTheirMessages) {
    const Binary p{0x3D}, q{0x35}, e{0x01, 0x00, 0x01}, d{0x05}, n = Bin("N");
    const RSA_Keys publicOnly = Public(), crt = Crt();
    const RSA cipher(Crt(), Pkcs1, NoPadding), verifier(Public(), Pkcs1, NoPadding);
    test::ExpectRefusals({
        {[&] { RSA_Keys(Binary(), q, p, q, p); }, "Invalid p"},
        {[&] {
             RSA_Keys(p, Binary{0x00, 0x35}, p, q, p);
         },
         "All components must have the same length"},
        {[&] { RSA_Keys(p, q, p, q, Binary()); }, "All components must have the same length"},
        // dP = 2 has no inverse modulo p - 1 = 60.
        {[&] { RSA_Keys(p, q, Binary{0x02}, Binary{0x31}, Binary{0x26}); },
         "Public exponent doesn't match p and q components"},
        // dP = 37 gives e = 13, which divides (p - 1)(q - 1) = 3120.
        {[&] { RSA_Keys(p, q, Binary{0x25}, Binary{0x31}, Binary{0x26}); },
         "Public exponent doesn't match p and q components"},
        {[&] { RSA_Keys(Binary(257, 0xC1), e, d); }, "Invalid modulus size"},
        {[&] { RSA_Keys(Binary(63, 0xC1), e); }, "Invalid modulus size"},
        {[&] { RSA_Keys(n, Binary()); }, "Invalid public exponent"},
        {[&] { publicOnly.ExportPrivateKey(0); }, "d is null"},
        {[&] { publicOnly.ExportPrivateKey(2); }, "d is null"},
        {[&] { publicOnly.GetD(); }, "d is null"},
        {[&] { crt.ExportPrivateKey(1); }, "Unsupported format"},
        {[&] { crt.ExportPrivateKey(3); }, "Unsupported format"},
        {[&] { crt.ExportPublicKey(3); }, "Unsupported format"},
        {[&] { RSA_Keys(63, e, false); }, "Invalid key length"},
        {[&] {
             RSA_Keys(64, Binary{0x01, 0x00, 0x00}, false);
         },
         "Open exponent must be odd"},
        {[&] { RSA_Keys(Binary(63, 0xC1), e, d); }, "Invalid modulus size"},
        {[&] { RSA_Keys(Binary(257, 0xC1), e); }, "Invalid modulus size"},
        {[&] { RSA_Keys(n, e, Binary()); }, "Invalid private exponent"},
        {[&] { RSA_Keys(n, Binary(), d); }, "Invalid public exponent"},
        {[&] { RSA_Keys(n, e, Binary(129, 0x01)).GetD(); }, "d is longer than 128 bytes"},
        {[&] { publicOnly.GetPrivateKeySize(); }, "d is null"},
        {[&] { publicOnly.GetP(); }, "p is null"},
        {[&] { publicOnly.GetQ(); }, "q is null"},
        {[&] { publicOnly.GetDmp1(); }, "dmp1 is null"},
        {[&] { publicOnly.GetDmq1(); }, "dmq1 is null"},
        {[&] { publicOnly.GetIqmp(); }, "iqmp is null"},
        {[&] { crt.ExportPublicKey(1); }, "Unsupported format"},
        // Generation checks the exponent before the length.
        {[&] { RSA_Keys(257, e, false); }, "Invalid key length"},
        {[&] { RSA_Keys(63, Binary(), false); }, "Invalid open exponent"},
        {[&] { RSA_Keys(63, Binary{0x02}, false); }, "Open exponent must be odd"},
        {[&] { RSA_Keys(64, Binary{0x01}, false); }, "Failed to generate rsa keys"},
        {[&] { cipher.CalcDS(Binary()); }, "Invalid hash value"},
        {[&] { cipher.CalcDS(Binary(48, 0x01)); }, "Invalid hash length"},
        {[&] { verifier.CalcDS(Binary(48, 0x01)); }, "Unsupported operation. Keys object doesn't contain private key"},
        {[&] { verifier.VerifyDS(Binary(20, 0x01), Binary(127, 0x01)); }, "Invalid signature length"},
        {[&] { verifier.VerifyDS(Binary(48, 0x01), Binary(128, 0x01)); }, "Invalid hash length"},
        {[&] { verifier.CryptPublic(Binary(129, 0x00)); }, "Data is too long"},
        {[&] { verifier.CryptPublic(Binary(127, 0x5C)); }, "Data must be aligned"},
        {[&] { verifier.CryptPublic(Binary()); }, "Invalid data length"},
        {[&] { verifier.CryptPublic(Binary(128, 0xFF)); }, "data too large for modulus"},  // OpenSSL's reason
        {[&] { verifier.CryptPrivate(Binary()); }, "Invalid data"},
        {[&] { verifier.CryptPrivate(Binary(129, 0x01)); }, "Data is too long"},
        {[&] { verifier.CryptPrivate(Binary(128, 0x01)); }, "Private key is not loaded"},
    });
    // Raw RSA cannot carry a DigestInfo: OpenSSL refuses the combination.
    const RSA raw(Crt(), NoPadding, NoPadding), pkcs1(Crt(), Pkcs1, Pkcs1);
    EXPECT_EQ(MessageOf([&] { raw.CalcDS(Binary(20, 0x01)); }).rfind("Failed to prepare rsa signature: ", 0), 0u);
    EXPECT_EQ(MessageOf([&] {
                  raw.VerifyDS(Binary(20, 0x01), Binary(128, 0x01));
              }).rfind("Failed to prepare rsa verification: ", 0),
              0u);
    // A block that is no PKCS #1 encryption block: OpenSSL's reason is the message.
    const std::string message = MessageOf([&] { pkcs1.CryptPrivate(Binary{0x00} + Binary(127, 0x01)); });
    EXPECT_FALSE(message.empty());
    EXPECT_NE(message, "(no error)");
    EXPECT_NE(message, "RSA private key operation failed");
}

}  // namespace
}  // namespace ZORVIK
