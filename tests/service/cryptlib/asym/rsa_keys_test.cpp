#include "service/cryptlib/asym/rsa_keys.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "asym_test_data.h"

namespace ZORVIK {
namespace {

using binary::Binary;
using test::LoadVectors;
using test::MessageOf;

bool Contains(const Binary& haystack, const Binary& needle) {
    return std::search(haystack.begin(), haystack.end(), needle.begin(), needle.end()) != haystack.end();
}

// PKCS #1 v2.1 test vectors, Example 1 (a 1024-bit key with CRT values).
class RsaKeysTest : public ::testing::Test {
protected:
    RsaKeysTest() : m_key(LoadVectors("asym/rsa_pkcs1v15_sign.vec").at(0)) {}

    RSA_Keys Crt() const {
        return RSA_Keys(m_key.Bin("P"), m_key.Bin("Q"), m_key.Bin("DP"), m_key.Bin("DQ"), m_key.Bin("QINV"));
    }

    test::TestVector m_key;
};

TEST_F(RsaKeysTest, CrtConstructionDerivesTheModulus) {
    const RSA_Keys keys = Crt();
    EXPECT_EQ(keys.GetN(), m_key.Bin("N"));
    EXPECT_EQ(keys.ExportPublicKey(0), m_key.Bin("N"));
    EXPECT_EQ(keys.GetD().size(), 128u);
    EXPECT_EQ(keys.GetPublicKeySize(), 128u);
    EXPECT_EQ(keys.GetPrivateKeySize(), 128u);
    EXPECT_TRUE(keys.HasPrivateKey());
    const Binary crtParts = m_key.Bin("P") + m_key.Bin("Q") + m_key.Bin("DP") + m_key.Bin("DQ") + m_key.Bin("QINV");
    EXPECT_EQ(keys.ExportPrivateKey(0), crtParts);
    EXPECT_EQ(keys.GetP(), m_key.Bin("P"));
    EXPECT_EQ(keys.GetIqmp(), m_key.Bin("QINV"));
}

TEST(RsaKeysCrt, ReproducesTheTextbookModulusAndExponent) {
    const auto vector = LoadVectors("asym/rsa_crt.vec").at(0);
    const RSA_Keys keys(vector.Bin("P"), vector.Bin("Q"), vector.Bin("DP"), vector.Bin("DQ"), vector.Bin("QINV"));
    EXPECT_EQ(keys.GetN(), vector.Bin("N"));
    EXPECT_EQ(keys.GetD(), vector.Bin("D"));
}

TEST(RsaKeysCrt, RefusesInconsistentComponents) {
    const Binary p{0x3D}, q{0x35};
    EXPECT_EQ(MessageOf([&] { RSA_Keys(Binary(), q, p, q, p); }), "Invalid p");
    EXPECT_EQ(MessageOf([&] { RSA_Keys(p, Binary{0x00, 0x35}, p, q, p); }), "All components must have the same length");
    EXPECT_EQ(MessageOf([&] { RSA_Keys(p, q, p, q, Binary()); }), "All components must have the same length");
    // dP = 2 has no inverse modulo p - 1 = 60.
    EXPECT_EQ(MessageOf([&] { RSA_Keys(p, q, Binary{0x02}, Binary{0x31}, Binary{0x26}); }),
              "Public exponent doesn't match p and q components");
    // dP = 37 gives e = 13, which divides (p - 1)(q - 1) = 3120.
    EXPECT_EQ(MessageOf([&] { RSA_Keys(p, q, Binary{0x25}, Binary{0x31}, Binary{0x26}); }),
              "Public exponent doesn't match p and q components");
}

TEST_F(RsaKeysTest, ModulusSizeIsBounded) {
    const Binary e{0x01, 0x00, 0x01};
    const Binary d{0x05};
    EXPECT_EQ(MessageOf([&] { RSA_Keys(Binary(63, 0xC1), e, d); }), "Invalid modulus size");
    EXPECT_EQ(MessageOf([&] { RSA_Keys(Binary(257, 0xC1), e, d); }), "Invalid modulus size");
    EXPECT_EQ(MessageOf([&] { RSA_Keys(Binary(257, 0xC1), e); }), "Invalid modulus size");
    EXPECT_EQ(RSA_Keys(Binary(64, 0xC1), e, d).GetN().size(), 64u);
    EXPECT_EQ(RSA_Keys(Binary(256, 0xC1), e).GetN().size(), 256u);
    EXPECT_EQ(MessageOf([&] { RSA_Keys(m_key.Bin("N"), e, Binary()); }), "Invalid private exponent");
    EXPECT_EQ(MessageOf([&] { RSA_Keys(m_key.Bin("N"), Binary(), d); }), "Invalid public exponent");
    EXPECT_EQ(MessageOf([&] { RSA_Keys(m_key.Bin("N"), Binary()); }), "Invalid public exponent");
}

TEST_F(RsaKeysTest, PublicKeyHasNoPrivateParts) {
    const RSA_Keys keys(m_key.Bin("N"), m_key.Bin("E"));
    EXPECT_TRUE(keys.HasPublicKey());
    EXPECT_FALSE(keys.HasPrivateKey());
    EXPECT_EQ(MessageOf([&] { keys.GetPrivateKeySize(); }), "d is null");
    EXPECT_EQ(MessageOf([&] { keys.ExportPrivateKey(0); }), "d is null");
    EXPECT_EQ(MessageOf([&] { keys.ExportPrivateKey(2); }), "d is null");
    EXPECT_EQ(MessageOf([&] { keys.GetP(); }), "p is null");
    EXPECT_EQ(MessageOf([&] { keys.GetQ(); }), "q is null");
    EXPECT_EQ(MessageOf([&] { keys.GetDmp1(); }), "dmp1 is null");
    EXPECT_EQ(MessageOf([&] { keys.GetDmq1(); }), "dmq1 is null");
    EXPECT_EQ(MessageOf([&] { keys.GetIqmp(); }), "iqmp is null");
}

TEST_F(RsaKeysTest, ComponentsExportAtFixedWidth) {
    const RSA_Keys keys(m_key.Bin("N"), m_key.Bin("E"), Binary{0x01, 0x02});
    EXPECT_EQ(keys.GetD(), (Binary(126, 0x00) + Binary{0x01, 0x02}));
    EXPECT_EQ(keys.ExportPrivateKey(0), keys.GetD());
    const RSA_Keys tooLong(m_key.Bin("N"), m_key.Bin("E"), Binary(129, 0x01));
    EXPECT_EQ(MessageOf([&] { tooLong.GetD(); }), "d is longer than 128 bytes");
}

TEST_F(RsaKeysTest, OnlyFormatsZeroAndTwoExist) {
    const RSA_Keys keys = Crt();
    EXPECT_EQ(MessageOf([&] { keys.ExportPublicKey(1); }), "Unsupported format");
    EXPECT_EQ(MessageOf([&] { keys.ExportPrivateKey(1); }), "Unsupported format");
    EXPECT_EQ(MessageOf([&] { keys.ExportPrivateKey(3); }), "Unsupported format");
}

TEST_F(RsaKeysTest, DerCarriesTheComponents) {
    const RSA_Keys keys = Crt();
    const Binary publicDer = keys.ExportPublicKey(2);
    EXPECT_EQ(publicDer[0], 0x30);
    EXPECT_TRUE(Contains(publicDer, m_key.Bin("N")));
    EXPECT_FALSE(Contains(publicDer, m_key.Bin("P")));
    const Binary privateDer = keys.ExportPrivateKey(2);
    EXPECT_EQ(privateDer[0], 0x30);
    EXPECT_TRUE(Contains(privateDer, m_key.Bin("P")));
    EXPECT_TRUE(Contains(privateDer, m_key.Bin("QINV")));
}

TEST_F(RsaKeysTest, CopiesAreIndependentAndEqual) {
    RSA_Keys copy = Crt();
    const RSA_Keys original(copy);
    EXPECT_EQ(original.ExportPrivateKey(0), copy.ExportPrivateKey(0));
    copy = RSA_Keys(m_key.Bin("N"), m_key.Bin("E"));
    EXPECT_FALSE(copy.HasPrivateKey());
    EXPECT_TRUE(original.HasPrivateKey());
    EXPECT_EQ(original.GetN(), copy.GetN());
}

TEST(RsaKeysGeneration, ChecksExponentBeforeLength) {
    const Binary e{0x01, 0x00, 0x01};
    EXPECT_EQ(MessageOf([&] { RSA_Keys(63, e, false); }), "Invalid key length");
    EXPECT_EQ(MessageOf([&] { RSA_Keys(257, e, false); }), "Invalid key length");
    EXPECT_EQ(MessageOf([&] { RSA_Keys(64, Binary{0x01, 0x00, 0x00}, false); }), "Open exponent must be odd");
    EXPECT_EQ(MessageOf([&] { RSA_Keys(63, Binary(), false); }), "Invalid open exponent");
    EXPECT_EQ(MessageOf([&] { RSA_Keys(63, Binary{0x02}, false); }), "Open exponent must be odd");
}

TEST(RsaKeysGeneration, FailureIsReported) {
    EXPECT_EQ(MessageOf([] { RSA_Keys(64, Binary{0x01}, false); }), "Failed to generate rsa keys");
}

TEST(RsaKeysGeneration, CrtFlagChoosesThePrivateExport) {
    const Binary e{0x01, 0x00, 0x01};
    const RSA_Keys plain(64, e, false);
    EXPECT_EQ(plain.GetN().size(), 64u);
    EXPECT_EQ(plain.ExportPrivateKey(0), plain.GetD());
    const RSA_Keys crt(64, e, true);
    EXPECT_EQ(crt.ExportPrivateKey(0).size(), 160u);
    EXPECT_EQ(binary::Slice(crt.ExportPrivateKey(0), 0, 32), crt.GetP());
}

}  // namespace
}  // namespace ZORVIK
