#include "service/cryptlib/asym/ec_keys.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "asym_test_data.h"
#include "service/cryptlib/asym/ec_cipher.h"
#include "service/cryptlib/asym/rsa_keys.h"

namespace ZORVIK {
namespace {

using binary::Binary;
using test::LoadCurve;
using test::MessageOf;
using test::Reverse;
using test::ReverseEachHalf;

bool Contains(const Binary& haystack, const Binary& needle) {
    return std::search(haystack.begin(), haystack.end(), needle.begin(), needle.end()) != haystack.end();
}

// The RFC 7091 key pair on the GOST test curve.
class EcKeysTest : public ::testing::Test {
protected:
    EcKeysTest() : m_curve(LoadCurve("gost-test-256")) {
        const auto vector = test::LoadVectors("asym/gost3410_2012.vec").at(0);
        m_private = vector.Bin("D");
        m_public = vector.Bin("Qx") + vector.Bin("Qy");
    }

    EC_Param m_curve;
    Binary m_private;
    Binary m_public;
};

TEST_F(EcKeysTest, FormatOneReversesPrivateValueAndEachCoordinate) {
    const EC_Keys keys(m_curve, m_private, m_public, 0);
    EXPECT_EQ(keys.ExportPrivateKey(1), Reverse(m_private));
    EXPECT_EQ(keys.ExportPublicKey(1), ReverseEachHalf(m_public));

    const EC_Keys fromReversed(m_curve, Reverse(m_private), ReverseEachHalf(m_public), 1);
    EXPECT_EQ(fromReversed.ExportPrivateKey(0), m_private);
    EXPECT_EQ(fromReversed.ExportPublicKey(0), m_public);
}

TEST_F(EcKeysTest, FormatOneReversesALongPrivateKeyAsAWhole) {
    // 33 bytes little-endian: the extra byte is the most significant one (zero).
    const EC_Keys keys(m_curve, Reverse(Binary{0x00} + m_private), ReverseEachHalf(m_public), 1);
    EXPECT_EQ(keys.ExportPrivateKey(0), m_private);
}

TEST_F(EcKeysTest, LongerPublicKeyIgnoresLeadingBytesOfEachHalf) {
    // 66 bytes: X is bytes 1..32 and Y bytes 34..65.
    const Binary padded =
        Binary{0xAA} + binary::Slice(m_public, 0, 32) + Binary{0xBB} + binary::Slice(m_public, 32, 32);
    const EC_Keys keys(m_curve, padded, 0);
    EXPECT_EQ(keys.ExportPublicKey(0), m_public);
}

TEST_F(EcKeysTest, ShortValuesExportAtFixedWidth) {
    const EC_Keys keys(m_curve, Binary{0x01}, Binary(), 0);
    EXPECT_FALSE(keys.HasPublicKey());
    EXPECT_EQ(keys.ExportPrivateKey(0), Binary(31, 0x00) + Binary{0x01});
    EXPECT_EQ(keys.ExportPrivateKey(1), Binary{0x01} + Binary(31, 0x00));
}

TEST_F(EcKeysTest, SizesFollowTheCurveOrder) {
    const EC_Keys small(m_curve, m_public, 0);
    EXPECT_EQ(small.GetPrivateKeySize(), 32u);
    EXPECT_EQ(small.GetPublicKeySize(), 64u);
    const EC_Keys large(LoadCurve("tc26-512-a"));
    EXPECT_EQ(large.GetPrivateKeySize(), 64u);
    EXPECT_EQ(large.GetPublicKeySize(), 128u);
    EXPECT_EQ(large.ExportPublicKey(0).size(), 128u);
}

TEST_F(EcKeysTest, RefusesAPointOffTheCurve) {
    Binary moved = m_public;
    moved.back() ^= 0x01;
    EXPECT_EQ(MessageOf([&] { EC_Keys(m_curve, moved, 0); }), "Point is not on curve");
    // A coordinate not below p is no field element.
    EXPECT_EQ(MessageOf([&] { EC_Keys(m_curve, Binary(32, 0xFF) + binary::Slice(m_public, 32, 32), 0); }),
              "Point is not on curve");
}

TEST_F(EcKeysTest, RefusesMissingOrShortInput) {
    EXPECT_EQ(MessageOf([&] { EC_Keys(m_curve, Binary(), m_public, 0); }), "Empty private key");
    EXPECT_EQ(MessageOf([&] { EC_Keys(m_curve, Binary(), 0); }), "Empty public key");
    EXPECT_EQ(MessageOf([&] { EC_Keys(m_curve, binary::Slice(m_public, 0, 63), 0); }),
              "Public key has 63 bytes, expected 64 (X || Y)");
}

TEST_F(EcKeysTest, RefusesUnsupportedFormats) {
    EXPECT_EQ(MessageOf([&] { EC_Keys(m_curve, m_private, m_public, 3); }), "Unsupported format");
    EXPECT_EQ(MessageOf([&] { EC_Keys(m_curve, m_public, -1); }), "Unsupported format");
    const EC_Keys keys(m_curve, m_private, m_public, 0);
    EXPECT_EQ(MessageOf([&] { keys.ExportPublicKey(3); }), "Unsupported format");
    EXPECT_EQ(MessageOf([&] { keys.ExportPrivateKey(3); }), "Unsupported format");
}

TEST_F(EcKeysTest, ExportOfAMissingPartIsAnError) {
    const EC_Keys publicOnly(m_curve, m_public, 0);
    EXPECT_EQ(MessageOf([&] { publicOnly.ExportPrivateKey(0); }), "EC key holds no private key");
    EXPECT_EQ(MessageOf([&] { publicOnly.ExportPrivateKey(2); }), "EC key holds no private key");
    const EC_Keys privateOnly(m_curve, m_private, Binary(), 0);
    EXPECT_EQ(MessageOf([&] { privateOnly.ExportPublicKey(0); }), "EC key holds no public key");
}

TEST_F(EcKeysTest, PrivateValueWiderThanTheOrderIsNotCutOnExport) {
    const EC_Keys keys(m_curve, Binary{0x01} + m_private, m_public, 0);
    EXPECT_EQ(MessageOf([&] { keys.ExportPrivateKey(0); }), "Private key value is longer than 32 bytes");
}

TEST_F(EcKeysTest, DerRoundTripKeepsTheKeysAndTheExplicitCurve) {
    const EC_Keys keys(m_curve, m_private, m_public, 0);
    const Binary publicDer = keys.ExportPublicKey(2);
    const Binary privateDer = keys.ExportPrivateKey(2);
    // Explicit parameters: the prime and the order travel in the DER.
    EXPECT_TRUE(Contains(publicDer, m_curve.p));
    EXPECT_TRUE(Contains(privateDer, m_curve.order));
    EXPECT_TRUE(Contains(publicDer, m_public));

    const EC_Keys fromDer(EC_Param(), privateDer, publicDer, 2);
    EXPECT_EQ(fromDer.ExportPrivateKey(0), m_private);
    EXPECT_EQ(fromDer.ExportPublicKey(0), m_public);
    EXPECT_EQ(fromDer.GetPublicKeySize(), 64u);
    const EC_Keys publicFromDer(EC_Param(), publicDer, 2);
    EXPECT_EQ(publicFromDer.ExportPublicKey(0), m_public);
    EXPECT_EQ(publicFromDer.ExportPublicKey(2), publicDer);
}

TEST_F(EcKeysTest, CurveSeedTravelsInTheDerOnlyWhenGiven) {
    // P-256 runs on OpenSSL's built-in arithmetic; its DER stays explicit too.
    const EC_Param p256 = LoadCurve("p256");
    const Binary publicDer = EC_Keys(p256).ExportPublicKey(2);
    EXPECT_TRUE(Contains(publicDer, p256.seed));
    EXPECT_TRUE(Contains(publicDer, p256.p));
    EC_Param withoutSeed = p256;
    withoutSeed.seed.clear();
    EXPECT_FALSE(Contains(EC_Keys(withoutSeed).ExportPublicKey(2), p256.seed));
}

TEST_F(EcKeysTest, RefusesMalformedDer) {
    const Binary garbage{0x30, 0x03, 0x02, 0x01, 0x00};
    EXPECT_EQ(MessageOf([&] { EC_Keys(m_curve, garbage, 2); }), "Invalid public key format");
    EXPECT_EQ(MessageOf([&] { EC_Keys(m_curve, garbage, Binary(), 2); }), "Invalid private key format");
    const Binary truncated = binary::Slice(EC_Keys(m_curve, m_public, 0).ExportPublicKey(2), 0, 40);
    EXPECT_EQ(MessageOf([&] { EC_Keys(m_curve, truncated, 2); }), "Invalid public key format");
}

TEST_F(EcKeysTest, RefusesDerOfAnotherKeyType) {
    const RSA_Keys rsa(64, Binary{0x01, 0x00, 0x01}, false);
    EXPECT_EQ(MessageOf([&] { EC_Keys(m_curve, rsa.ExportPublicKey(2), 2); }), "Invalid public key format");
    EXPECT_EQ(MessageOf([&] { EC_Keys(m_curve, rsa.ExportPrivateKey(2), Binary(), 2); }), "Failed to load private key");
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

TEST_F(EcKeysTest, EmptyCoefficientAIsZero) {
    // secp256k1 has a = 0: its base point lies on the curve only when the
    // empty a is read as 0, and signatures over its keys verify.
    const EC_Keys keys(LoadCurve("secp256k1"));
    const ECDSA cipher(keys, 0);
    const Binary hash(32, 0x5A);
    EXPECT_TRUE(cipher.VerifyDS(hash, cipher.CalcDS(hash)));
}

TEST(GetGroup, ReportsTheStepThatFailed) {
    EC_Param curve = LoadCurve("gost-test-256");
    EC_Param evenPrime = curve;
    evenPrime.p = Binary{0x00};
    EXPECT_EQ(MessageOf([&] { EC_Keys{evenPrime}; }), "Group construction failed");
    EC_Param offCurveBase = curve;
    offCurveBase.y.back() ^= 0x01;
    EXPECT_EQ(MessageOf([&] { EC_Keys{offCurveBase}; }), "Failed to set coordinates of base point");
    EC_Param noOrder = curve;
    noOrder.order.clear();
    EXPECT_EQ(MessageOf([&] { EC_Keys{noOrder}; }), "Failed to set base point order");
}

}  // namespace
}  // namespace ZORVIK
