#include "service/cryptlib/asym/ecdh.h"

#include <gtest/gtest.h>

#include "asym_test_data.h"
#include "service/cryptlib/hash/gost_r3411_2012.h"

namespace ZORVIK {
namespace {

using binary::Binary;
using test::LoadCurve;
using test::LoadVectors;
using test::MessageOf;
using test::ReverseEachHalf;

// RFC 7836, Appendix B: keys and UKM little-endian, as the RFC writes them.
class VkoRfc7836 : public ::testing::Test {
protected:
    VkoRfc7836()
        : m_curve(LoadCurve("tc26-512-a")),
          m_vector(LoadVectors("asym/vko_rfc7836.vec").at(0)),
          m_a(m_curve, m_vector.Bin("PrivateA"), m_vector.Bin("PublicA"), 1),
          m_b(m_curve, m_vector.Bin("PrivateB"), m_vector.Bin("PublicB"), 1) {}

    EC_Param m_curve;
    test::TestVector m_vector;
    EC_Keys m_a;
    EC_Keys m_b;
};

TEST_F(VkoRfc7836, PublicKeysBelongToThePrivateOnes) {
    // d * G, with G given as a peer's public point, is the public key of d.
    const EC_Keys base(m_curve, Binary(64 - m_curve.x.size(), 0x00) + m_curve.x + m_curve.y, 0);
    EXPECT_EQ(ReverseEachHalf(ECDH::GenSharedSecret(m_a, base)), m_vector.Bin("PublicA"));
    EXPECT_EQ(ReverseEachHalf(ECDH::GenSharedSecret(m_b, base)), m_vector.Bin("PublicB"));
}

TEST_F(VkoRfc7836, BothSidesAgreeOnThePublishedPoint) {
    const Binary ukm = m_vector.Bin("Ukm");
    EXPECT_EQ(ECDH::PerformKeyAgreementVKO(m_a, m_b, ukm, true), m_vector.Bin("Point"));
    EXPECT_EQ(ECDH::PerformKeyAgreementVKO(m_b, m_a, ukm, true), m_vector.Bin("Point"));
    // KEK = GOST R 34.11-2012 (256) of the point, hashed as the byte string.
    EXPECT_EQ(R3411_12(true, true).Calc(m_vector.Bin("Point")), m_vector.Bin("Kek256"));
    const EC_Keys publicB(m_curve, m_vector.Bin("PublicB"), 1);
    EXPECT_EQ(ECDH::PerformKeyAgreementVKO(m_a, publicB, ukm, true).size(), 128u);
}

class EcdhTest : public ::testing::Test {
protected:
    EcdhTest() : m_curve(LoadCurve("gost-test-256")), m_a(m_curve), m_b(m_curve) {}

    EC_Keys PublicOf(const EC_Keys& keys) const { return EC_Keys(m_curve, keys.ExportPublicKey(0), 0); }

    EC_Param m_curve;
    EC_Keys m_a;
    EC_Keys m_b;
};

TEST_F(EcdhTest, SharedSecretIsSymmetric) {
    const Binary ab = ECDH::GenSharedSecret(m_a, PublicOf(m_b));
    EXPECT_EQ(ab.size(), 64u);
    EXPECT_EQ(ab, ECDH::GenSharedSecret(m_b, PublicOf(m_a)));
    EXPECT_NE(ab, ECDH::GenSharedSecret(m_a, PublicOf(m_a)));
}

TEST_F(EcdhTest, UkmOneIsPlainDiffieHellman) {
    const Binary shared = ECDH::GenSharedSecret(m_a, m_b);
    EXPECT_EQ(ECDH::PerformKeyAgreementVKO(m_a, m_b, Binary(), false), shared);
    EXPECT_EQ(ECDH::PerformKeyAgreementVKO(m_a, m_b, Binary{0x01}, false), shared);
    const Binary littleEndianOne{0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00};
    EXPECT_EQ(ECDH::PerformKeyAgreementVKO(m_a, m_b, littleEndianOne, true), ReverseEachHalf(shared));
}

TEST_F(EcdhTest, BigEndianUkmIsTakenAsANumber) {
    // With d = 1, UKM 01 00 00 00 00 00 00 00 multiplies Q by 2^56.
    const EC_Keys one(m_curve, Binary{0x01}, Binary(), 0);
    const EC_Keys twoTo56(m_curve, Binary{0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00}, Binary(), 0);
    EXPECT_EQ(ECDH::PerformKeyAgreementVKO(one, m_b, Binary{0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00}, false),
              ECDH::GenSharedSecret(twoTo56, m_b));
}

TEST_F(EcdhTest, VkoIsSymmetric) {
    const Binary ukm = binary::RandomBinary(8);
    EXPECT_EQ(ECDH::PerformKeyAgreementVKO(m_a, PublicOf(m_b), ukm, false),
              ECDH::PerformKeyAgreementVKO(m_b, PublicOf(m_a), ukm, false));
    EXPECT_EQ(ECDH::PerformKeyAgreementVKO(m_a, m_b, ukm, true), ECDH::PerformKeyAgreementVKO(m_b, m_a, ukm, true));
}

TEST_F(EcdhTest, ShortCoordinatesKeepTheirWidth) {
    // About one agreed point in 256 has an x below 2^248; find one.
    const EC_Keys peer = PublicOf(m_b);
    for (uint32_t ukm = 1; ukm < 4000; ++ukm) {
        const Binary ukmBytes = binary::NumToBinary(ukm, 2);
        const Binary bigEndian = ECDH::PerformKeyAgreementVKO(m_a, peer, ukmBytes, false);
        if (bigEndian[0] != 0x00) continue;
        EXPECT_EQ(bigEndian.size(), 64u);
        const Binary littleEndian =
            ECDH::PerformKeyAgreementVKO(m_a, peer, Binary(ukmBytes.rbegin(), ukmBytes.rend()), true);
        EXPECT_EQ(littleEndian, ReverseEachHalf(bigEndian));
        EXPECT_EQ(littleEndian[31], 0x00);
        return;
    }
    FAIL() << "no short x coordinate found";
}

TEST_F(EcdhTest, MissingKeyPartsAreReported) {
    const EC_Keys publicA = PublicOf(m_a);
    const EC_Keys privateOnly(m_curve, m_b.ExportPrivateKey(0), Binary(), 0);
    EXPECT_EQ(MessageOf([&] { ECDH::GenSharedSecret(publicA, m_b); }), "Failed to get private key");
    EXPECT_EQ(MessageOf([&] { ECDH::PerformKeyAgreementVKO(publicA, m_b, Binary{0x01}, false); }),
              "Failed to get private key");
    EXPECT_EQ(MessageOf([&] { ECDH::GenSharedSecret(m_a, privateOnly); }), "Failed to get public key");
    EXPECT_EQ(MessageOf([&] { ECDH::PerformKeyAgreementVKO(m_a, privateOnly, Binary(), true); }),
              "Failed to get public key");
}

TEST_F(EcdhTest, PointAtInfinityIsReported) {
    const EC_Keys orderAsPrivate(m_curve, m_curve.order, Binary(), 0);
    EXPECT_EQ(MessageOf([&] { ECDH::GenSharedSecret(orderAsPrivate, m_b); }), "Failed to get result point coords");
    // d * UKM = 0 mod n when UKM is n.
    EXPECT_EQ(MessageOf([&] { ECDH::PerformKeyAgreementVKO(m_a, m_b, m_curve.order, false); }),
              "Failed to get result point coords");
}

}  // namespace
}  // namespace ZORVIK
