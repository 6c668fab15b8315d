// EC curves and keys (the published curves of tests/data/asym/curves.vec), the
// GOST R 34.10 and ECDSA signatures over them, and the ECDH and VKO key agreements.
#include <gtest/gtest.h>

#include "service/cryptlib/asym/ec_cipher.h"
#include "service/cryptlib/asym/ec_keys.h"
#include "service/cryptlib/asym/ecdh.h"
#include "service/cryptlib/asym/rsa_keys.h"
#include "service/cryptlib/crypto_test_util.h"
#include "service/cryptlib/hash/gost_r3411_2012.h"
#include "service/cryptlib/hash/sha.h"

namespace ZORVIK {
namespace {

using test::LoadVectors;
using binary::Binary;
using test::Contains;
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

// The RFC 7091 key pair on the GOST test curve.
class EcKeysTest : public ::testing::Test {
protected:
    EcKeysTest() : m_curve(LoadCurve("gost-test-256")) {
        const auto vector = LoadVectors("asym/gost3410_2012.vec").at(0);
        m_private = vector.Bin("D");
        m_public = vector.Bin("Qx") + vector.Bin("Qy");
    }

    EC_Param m_curve;
    Binary m_private;
    Binary m_public;
};

// Format 1 reverses the private value as a whole and each coordinate on its own;
// longer input is read as a number, and short values export at fixed width.
TEST_F(EcKeysTest, FormatsAndWidthsOfRawKeys) {
    const EC_Keys keys(m_curve, m_private, m_public, 0);
    EXPECT_EQ(keys.ExportPrivateKey(1), Reversed(m_private));
    EXPECT_EQ(keys.ExportPublicKey(1), ReverseEachHalf(m_public));
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
}

// Format 2 is DER with explicit parameters: the prime, the order and (when given)
// the seed travel in it, even for a curve that runs on OpenSSL's named arithmetic.
TEST_F(EcKeysTest, DerRoundTripKeepsTheKeysAndTheExplicitCurve) {
    const EC_Keys keys(m_curve, m_private, m_public, 0);
    const Binary publicDer = keys.ExportPublicKey(2), privateDer = keys.ExportPrivateKey(2);
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
    EC_Param withoutSeed = p256;
    withoutSeed.seed.clear();
    EXPECT_FALSE(Contains(EC_Keys(withoutSeed).ExportPublicKey(2), p256.seed));
}

TEST_F(EcKeysTest, GeneratedKeysAreCompleteAndCopiesAreEqual) {
    const EC_Keys generated(m_curve);
    EXPECT_TRUE(generated.HasPrivateKey());
    EXPECT_TRUE(generated.HasPublicKey());
    EC_Keys copy(generated);
    EXPECT_EQ(copy.ExportPrivateKey(0), generated.ExportPrivateKey(0));
    EXPECT_EQ(copy.ExportPublicKey(0), generated.ExportPublicKey(0));
    copy = EC_Keys(m_curve, m_private, m_public, 0);
    EXPECT_EQ(copy.ExportPublicKey(0), m_public);
    EXPECT_NE(generated.ExportPublicKey(0), EC_Keys(m_curve).ExportPublicKey(0));
}

TEST_F(EcKeysTest, RefusesBadKeysWithTheirMessages) {
    Binary moved = m_public;
    moved.back() ^= 0x01;
    const Binary garbage{0x30, 0x03, 0x02, 0x01, 0x00};
    const RSA_Keys rsa(64, Binary{0x01, 0x00, 0x01}, false);
    const EC_Keys keys(m_curve, m_private, m_public, 0), publicOnly(m_curve, m_public, 0);
    const EC_Keys privateOnly(m_curve, m_private, Binary(), 0), wide(m_curve, Binary{0x01} + m_private, m_public, 0);
    EC_Param evenPrime = m_curve, offCurveBase = m_curve, noOrder = m_curve;
    evenPrime.p = Binary{0x00};
    offCurveBase.y.back() ^= 0x01;
    noOrder.order.clear();
    test::ExpectRefusals({
        {[&] { EC_Keys(m_curve, moved, 0); }, "Point is not on curve"},
        // A coordinate not below p is no field element.
        {[&] { EC_Keys(m_curve, Binary(32, 0xFF) + Slice(m_public, 32, 32), 0); }, "Point is not on curve"},
        {[&] { EC_Keys(m_curve, Binary(), m_public, 0); }, "Empty private key"},
        {[&] { EC_Keys(m_curve, Binary(), 0); }, "Empty public key"},
        {[&] { EC_Keys(m_curve, Slice(m_public, 0, 63), 0); }, "Public key has 63 bytes, expected 64 (X || Y)"},
        {[&] { EC_Keys(m_curve, m_private, m_public, 3); }, "Unsupported format"},
        {[&] { keys.ExportPublicKey(3); }, "Unsupported format"},
        {[&] { publicOnly.ExportPrivateKey(0); }, "EC key holds no private key"},
        {[&] { privateOnly.ExportPublicKey(0); }, "EC key holds no public key"},
        // A private value wider than the order is not cut on export.
        {[&] { wide.ExportPrivateKey(0); }, "Private key value is longer than 32 bytes"},
        {[&] { EC_Keys(m_curve, garbage, 2); }, "Invalid public key format"},
        {[&] { EC_Keys(m_curve, garbage, Binary(), 2); }, "Invalid private key format"},
        {[&] { EC_Keys(m_curve, rsa.ExportPublicKey(2), 2); }, "Invalid public key format"},
        {[&] { EC_Keys(m_curve, rsa.ExportPrivateKey(2), Binary(), 2); }, "Failed to load private key"},
        {[&] { EC_Keys{evenPrime}; }, "Group construction failed"},
        {[&] { EC_Keys{offCurveBase}; }, "Failed to set coordinates of base point"},
        {[&] { EC_Keys{noOrder}; }, "Failed to set base point order"},
    });
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
    EXPECT_EQ(ECDH::PerformKeyAgreementVKO(b, EC_Keys(curve, v.Bin("PublicA"), 1), v.Bin("Ukm"), true), v.Bin("Point"));
    // KEK = GOST R 34.11-2012 (256) of the point, hashed as the byte string.
    EXPECT_EQ(R3411_12(true, true).Calc(v.Bin("Point")), v.Bin("Kek256"));
}

class EcdhTest : public ::testing::Test {
protected:
    EcdhTest() : m_curve(LoadCurve("gost-test-256")), m_a(m_curve), m_b(m_curve) {}

    EC_Keys PublicOf(const EC_Keys& keys) const { return EC_Keys(m_curve, keys.ExportPublicKey(0), 0); }

    EC_Param m_curve;
    EC_Keys m_a;
    EC_Keys m_b;
};

// Both sides agree; UKM 1 (or none) is plain Diffie-Hellman, and a big-endian UKM
// is taken as a number: with d = 1, UKM 01 00 00 00 00 00 00 00 multiplies Q by 2^56.
TEST_F(EcdhTest, BothSidesAgreeAndTheUkmMultipliesTheSecret) {
    const Binary shared = ECDH::GenSharedSecret(m_a, PublicOf(m_b)), ukm = binary::RandomBinary(8);
    EXPECT_EQ(shared.size(), 64u);
    EXPECT_EQ(shared, ECDH::GenSharedSecret(m_b, PublicOf(m_a)));
    EXPECT_NE(shared, ECDH::GenSharedSecret(m_a, PublicOf(m_a)));
    EXPECT_EQ(ECDH::PerformKeyAgreementVKO(m_a, PublicOf(m_b), ukm, false),
              ECDH::PerformKeyAgreementVKO(m_b, PublicOf(m_a), ukm, false));
    EXPECT_EQ(ECDH::PerformKeyAgreementVKO(m_a, m_b, Binary(), false), shared);
    EXPECT_EQ(ECDH::PerformKeyAgreementVKO(m_a, m_b, Binary{0x01}, false), shared);
    EXPECT_EQ(ECDH::PerformKeyAgreementVKO(m_a, m_b, Binary{0x01} + Binary(7, 0), true),  // little-endian 1
              ReverseEachHalf(shared));
    const Binary twoTo56 = Binary{0x01} + Binary(7, 0);
    const EC_Keys one(m_curve, Binary{0x01}, Binary(), 0), d56(m_curve, twoTo56, Binary(), 0);
    EXPECT_EQ(ECDH::PerformKeyAgreementVKO(one, m_b, twoTo56, false), ECDH::GenSharedSecret(d56, m_b));
}

TEST_F(EcdhTest, ShortCoordinatesKeepTheirWidth) {
    // About one agreed point in 256 has an x below 2^248; find one.
    const EC_Keys peer = PublicOf(m_b);
    for (uint32_t ukm = 1; ukm < 4000; ++ukm) {
        const Binary ukmBytes = binary::NumToBinary(ukm, 2);
        const Binary bigEndian = ECDH::PerformKeyAgreementVKO(m_a, peer, ukmBytes, false);
        if (bigEndian[0] != 0x00) continue;
        EXPECT_EQ(bigEndian.size(), 64u);
        const Binary littleEndian = ECDH::PerformKeyAgreementVKO(m_a, peer, Reversed(ukmBytes), true);
        EXPECT_EQ(littleEndian, ReverseEachHalf(bigEndian));
        EXPECT_EQ(littleEndian[31], 0x00);
        return;
    }
    FAIL() << "no short x coordinate found";
}

TEST_F(EcdhTest, RefusesMissingPartsAndThePointAtInfinity) {
    const EC_Keys publicA = PublicOf(m_a), privateOnly(m_curve, m_b.ExportPrivateKey(0), Binary(), 0);
    const EC_Keys orderAsPrivate(m_curve, m_curve.order, Binary(), 0);
    test::ExpectRefusals({
        {[&] { ECDH::GenSharedSecret(publicA, m_b); }, "Failed to get private key"},
        {[&] { ECDH::GenSharedSecret(m_a, privateOnly); }, "Failed to get public key"},
        {[&] { ECDH::GenSharedSecret(orderAsPrivate, m_b); }, "Failed to get result point coords"},
        // d * UKM = 0 mod n when UKM is n.
        {[&] { ECDH::PerformKeyAgreementVKO(m_a, m_b, m_curve.order, false); }, "Failed to get result point coords"},
    });
}

EC_Cipher::NonceSource Fixed(const Binary& k) {
    return [k] { return k; };
}

Binary Der(const Binary& r, const Binary& s) { return Binary{0x30, 0x44, 0x02, 0x20} + r + Binary{0x02, 0x20} + s; }

// GOST R 34.10-2012, Appendix A.1 (RFC 7091): the example in every format, signed
// through a clone that keeps keys, format and nonce source.
TEST(Gost3410Example, SignsAndVerifiesTheExampleInEveryFormat) {
    const auto v = LoadVectors("asym/gost3410_2012.vec").at(0);
    const Binary e = v.Bin("E"), r = v.Bin("R"), s = v.Bin("S"), q = v.Bin("Qx") + v.Bin("Qy");
    const EC_Keys keys(LoadCurve("gost-test-256"), v.Bin("D"), q, 0), publicKey(LoadCurve("gost-test-256"), q, 0);
    // Hash and signature of each format; 3 and 4 take the hash little-endian.
    const std::pair<Binary, Binary> byFormat[] = {
        {e, r + s}, {e, Der(r, s)}, {e, r + s}, {Reversed(e), Reversed(r) + Reversed(s)}, {Reversed(e), s + r}};
    for (int format = 0; format < 5; ++format) {
        const auto& [hash, signature] = byFormat[format];
        ECGOST3410 signer(keys, format);
        signer.SetNonceSource(Fixed(v.Bin("K")));
        EXPECT_EQ(std::unique_ptr<AsymCipher>(signer.Clone())->CalcDS(hash), signature) << format;
        const ECGOST3410 verifier(publicKey, format);
        EXPECT_TRUE(verifier.VerifyDS(hash, signature)) << format;
        Binary changed = signature, changedHash = hash;
        changed.back() ^= 0x01;
        changedHash[5] ^= 0x80;
        EXPECT_FALSE(verifier.VerifyDS(hash, changed)) << format;
        EXPECT_FALSE(verifier.VerifyDS(changedHash, signature)) << format;
    }
}

// RFC 6979, A.2.5: P-256 with SHA-256; formats 3 and 4 are plain r || s in ECDSA.
TEST(EcdsaRfc6979, SignsWithThePublishedNonceAndVerifies) {
    Binary d, u;
    for (const auto& v : LoadVectors("asym/ecdsa_p256.vec")) {
        if (v.Text("Section") == "Key") {
            d = v.Bin("D"), u = v.Bin("Ux") + v.Bin("Uy");
            continue;
        }
        SCOPED_TRACE(v.Where());
        ASSERT_EQ(SHA256().Calc(v.Bin("Message")), v.Bin("Hash"));
        const Binary rs = v.Bin("R") + v.Bin("S");
        for (int format : {0, 1, 3, 4}) {
            ECDSA cipher(EC_Keys(LoadCurve("p256"), d, u, 0), format);
            cipher.SetNonceSource(Fixed(v.Bin("K")));
            EXPECT_EQ(cipher.CalcDS(v.Bin("Hash")), format == 1 ? Der(v.Bin("R"), v.Bin("S")) : rs) << format;
        }
        const ECDSA verifier(EC_Keys(LoadCurve("p256"), u, 0), 0);
        EXPECT_TRUE(verifier.VerifyDS(v.Bin("Hash"), rs));
        Binary changed = rs;
        changed[40] ^= 0x04;
        EXPECT_FALSE(verifier.VerifyDS(v.Bin("Hash"), changed));
    }
}

// Round trips with generated keys in both arithmetics: the 512-bit curve, DER and
// secp256k1, whose a = 0 is given as empty (its base point lies on the curve only
// when the empty a is read as 0).
TEST(EcRoundTrip, SignatureVerifiesAndHasTheFormatSize) {
    const struct {
        const char* curve;
        bool gost;
        uint32_t length;
        int format;
    } cases[] = {{"tc26-512-a", true, 64, 0},
                 {"tc26-512-a", true, 64, 3},
                 {"p256", false, 32, 2},
                 {"gost-test-256", true, 32, 1},
                 {"secp256k1", false, 32, 0}};
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.curve) + " format " + std::to_string(c.format));
        const EC_Keys keys(LoadCurve(c.curve));
        std::unique_ptr<EC_Cipher> cipher;
        if (c.gost)
            cipher = std::make_unique<ECGOST3410>(keys, c.format);
        else
            cipher = std::make_unique<ECDSA>(keys, c.format);
        EXPECT_EQ(cipher->GetSignatureSize(), 2 * c.length);
        EXPECT_EQ(cipher->GetPublicKeySize(), 2 * c.length);
        EXPECT_EQ(cipher->GetPrivateKeySize(), c.length);
        for (const Binary& hash : {Binary(c.length, 0xC3), Binary{0x42}}) {
            const Binary signature = cipher->CalcDS(hash);
            EXPECT_EQ(signature.size(), c.format == 1 ? 2 * c.length + 6 : 2 * c.length);
            EXPECT_TRUE(cipher->VerifyDS(hash, signature));
            Binary changed = signature;
            changed[signature.size() - 3] ^= 0x10;
            EXPECT_FALSE(cipher->VerifyDS(hash, changed));
        }
    }
}

class EcCipherFrame : public ::testing::Test {
protected:
    EcCipherFrame() : m_keys(LoadCurve("gost-test-256")) {}
    EC_Keys m_keys;
};

// A hash longer than the order is cut to its first bytes; a shorter one is a number.
TEST_F(EcCipherFrame, HashIsTakenAsANumberBelowTheOrder) {
    const ECGOST3410 gost(m_keys, 0);
    const Binary hash = binary::RandomBinary(32), shortHash = binary::RandomBinary(20);
    EXPECT_TRUE(gost.VerifyDS(hash, gost.CalcDS(hash + Binary{0xDE, 0xAD})));
    EXPECT_TRUE(gost.VerifyDS(Binary(12, 0x00) + shortHash, gost.CalcDS(shortHash)));
    // A hash of zero modulo n counts as 1 in GOST R 34.10 and as 0 in ECDSA.
    const Binary order = LoadCurve("gost-test-256").order;
    EXPECT_TRUE(gost.VerifyDS(Binary{0x01}, gost.CalcDS(order)));
    const ECDSA ecdsa(m_keys, 0);
    const Binary signature = ecdsa.CalcDS(order);
    EXPECT_TRUE(ecdsa.VerifyDS(Binary{0x00}, signature));
    EXPECT_FALSE(ecdsa.VerifyDS(Binary{0x01}, signature));
}

TEST_F(EcCipherFrame, ShortComponentsKeepTheirFixedWidth) {
    // About one signature in 256 has an r below 2^248; find one.
    const ECGOST3410 cipher(m_keys, 1);
    const Binary hash = binary::RandomBinary(32);
    Binary signature;
    for (int attempt = 0; attempt < 4000 && (signature.empty() || signature[4] != 0x00); ++attempt)
        signature = cipher.CalcDS(hash);
    ASSERT_EQ(signature[4], 0x00) << "no short r found";
    EXPECT_EQ(Slice(signature, 0, 4), (Binary{0x30, 0x44, 0x02, 0x20}));
    EXPECT_EQ(Slice(signature, 36, 2), (Binary{0x02, 0x20}));
    EXPECT_TRUE(cipher.VerifyDS(hash, signature));
    const Binary plain = ReverseEachHalf(Slice(signature, 4, 32) + Slice(signature, 38, 32));
    EXPECT_TRUE(ECGOST3410(m_keys, 3).VerifyDS(Reversed(hash), plain));
    EXPECT_EQ(plain[31], 0x00);  // trailing zero of the reversed r
}

// Signatures too short for their format, or whose DER lengths overrun them, are
// invalid without being read past their end.
TEST_F(EcCipherFrame, TruncatedSignaturesAreInvalid) {
    const ECGOST3410 der(m_keys, 1);
    const Binary hash(32, 0x77);
    const Binary signature = der.CalcDS(hash);
    for (uint32_t length : {1u, 3u, 4u, 37u, 38u, 69u}) {
        EXPECT_FALSE(der.VerifyDS(hash, Slice(signature, 0, length))) << length;
    }
    Binary overclaimed = signature;
    overclaimed[3] = 0x7F;  // r claims more bytes than the signature holds
    EXPECT_FALSE(der.VerifyDS(hash, overclaimed));
    EXPECT_FALSE(ECGOST3410(m_keys, 3).VerifyDS(hash, Binary(63, 0x01)));
    EXPECT_FALSE(ECGOST3410(m_keys, 4).VerifyDS(hash, Binary{0x01}));
}

TEST_F(EcCipherFrame, RefusesBadArgumentsWithTheirMessages) {
    const Binary hash(32, 0x33), zero(32, 0x00), anyR = binary::RandomBinary(32);
    ECGOST3410 outOfRange(m_keys, 0), zeroK(m_keys, 0);
    outOfRange.SetNonceSource(Fixed(LoadCurve("gost-test-256").order));
    zeroK.SetNonceSource(Fixed(Binary{0x00}));
    const EC_Keys p256(LoadCurve("p256")), publicOnly(LoadCurve("gost-test-256"), m_keys.ExportPublicKey(0), 0);
    const ECDSA ecdsa(m_keys, 0);
    const AsymCipher& base = ecdsa;
    std::vector<test::Refusal> rows = {
        {[&] { outOfRange.CalcDS(hash); }, "Injected k is out of range"},
        {[&] { zeroK.CalcDS(hash); }, "Injected k is out of range"},
        {[&] { ECDSA(EC_Keys(LoadCurve("tc26-512-a")), 1).CalcDS(Binary(64, 0x01)); },
         "Данная длина подписи в форматe ASN1 не поддерживается"},
        // On P-256 OpenSSL's ECDSA verifies, which refuses s = 0 without a word.
        {[&] { ECDSA(m_keys, 0).VerifyDS(hash, anyR + zero); }, "Invalid s component"},
        {[&] { ECDSA(p256, 0).VerifyDS(hash, anyR + zero); }, "Invalid s component"},
        {[&] { ECGOST3410(m_keys, 0).VerifyDS(hash, zero + zero); }, "Failed to get point coords"},
        {[&] { ECDSA(publicOnly, 0).CalcDS(hash); }, "Failed to get private key"},
        {[&] { base.CryptPrivate(Binary{0x01}); }, "Cannot be implemented", 8},
        {[&] { base.CryptPublic(Binary{0x01}); }, "Cannot be implemented", 8},
        {[&] { base.GetBlockSize(); }, "Cannot be implemented", 8},
    };
    for (int format : {0, 1, 3, 4}) {
        const auto cipher = std::make_shared<ECGOST3410>(m_keys, format);
        rows.push_back({[=] { cipher->CalcDS(Binary()); }, "Empty hash value is invalid"});
        rows.push_back({[=] { cipher->VerifyDS(Binary(), Binary(64, 0x01)); }, "Некорректное значение параметров"});
        rows.push_back({[=] { cipher->VerifyDS(Binary(32, 0x01), Binary()); }, "Некорректное значение параметров"});
    }
    test::ExpectRefusals(rows);
    EXPECT_EQ(base.GetKeys().GetPublicKeySize(), 64u);
}

}  // namespace
}  // namespace ZORVIK
