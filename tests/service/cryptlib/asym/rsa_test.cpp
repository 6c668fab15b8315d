#include "service/cryptlib/asym/rsa.h"

#include <gtest/gtest.h>

#include <memory>

#include "asym_test_data.h"
#include "service/cryptlib/hash/sha.h"

namespace ZORVIK {
namespace {

using binary::Binary;
using test::LoadVectors;
using test::MessageOf;

constexpr int Pkcs1 = 1;
constexpr int NoPadding = 3;
constexpr int Oaep = 4;

// PKCS #1 v2.1 test vectors, Example 1 and its v1.5 signatures.
class RsaTest : public ::testing::Test {
protected:
    RsaTest() {
        for (const auto& vector : LoadVectors("asym/rsa_pkcs1v15_sign.vec")) {
            if (vector.Text("Section") == "Key") {
                m_key = vector;
            } else {
                m_signatures.push_back(vector);
            }
        }
    }

    RSA_Keys Crt() const {
        return RSA_Keys(m_key.Bin("P"), m_key.Bin("Q"), m_key.Bin("DP"), m_key.Bin("DQ"), m_key.Bin("QINV"));
    }
    RSA_Keys Plain() const { return RSA_Keys(m_key.Bin("N"), m_key.Bin("E"), m_key.Bin("D")); }
    RSA_Keys Public() const { return RSA_Keys(m_key.Bin("N"), m_key.Bin("E")); }

    test::TestVector m_key;
    std::vector<test::TestVector> m_signatures;
};

TEST_F(RsaTest, SignsThePublishedExamples) {
    ASSERT_EQ(m_signatures.size(), 2u);
    for (const RSA_Keys& keys : {Crt(), Plain()}) {
        const RSA cipher(keys, Pkcs1, NoPadding);
        for (const auto& vector : m_signatures) {
            EXPECT_EQ(cipher.CalcDS(vector.Bin("Hash")), vector.Bin("Signature")) << vector.Where();
        }
    }
}

TEST_F(RsaTest, CrtExponentIsAWorkingPrivateExponent) {
    // The CRT construction takes d modulo (p - 1)(q - 1); the example's own d
    // is taken modulo the lcm. Both sign alike.
    const RSA cipher(RSA_Keys(m_key.Bin("N"), m_key.Bin("E"), Crt().GetD()), Pkcs1, NoPadding);
    EXPECT_EQ(cipher.CalcDS(m_signatures.at(0).Bin("Hash")), m_signatures.at(0).Bin("Signature"));
}

TEST_F(RsaTest, VerifiesThePublishedExamples) {
    const RSA cipher(Public(), Pkcs1, NoPadding);
    for (const auto& vector : m_signatures) {
        ASSERT_EQ(SHA1().Calc(vector.Bin("Msg")), vector.Bin("Hash")) << vector.Where();
        EXPECT_TRUE(cipher.VerifyDS(vector.Bin("Hash"), vector.Bin("Signature"))) << vector.Where();
        Binary hash = vector.Bin("Hash");
        hash[0] ^= 0x01;
        EXPECT_FALSE(cipher.VerifyDS(hash, vector.Bin("Signature"))) << vector.Where();
    }
}

TEST(RsaSigVer, MatchesTheNistVerdicts) {
    const auto vectors = LoadVectors("asym/rsa_sigver15.vec");
    ASSERT_EQ(vectors.size(), 6u);
    for (const auto& vector : vectors) {
        const RSA verifier(RSA_Keys(vector.Bin("N"), vector.Bin("E")), Pkcs1, NoPadding);
        ASSERT_EQ(SHA1().Calc(vector.Bin("Msg")), vector.Bin("Hash")) << vector.Where();
        const bool valid = vector.Number("Valid") == 1;
        EXPECT_EQ(verifier.VerifyDS(vector.Bin("Hash"), vector.Bin("Signature")), valid) << vector.Where();
        if (valid) {
            const RSA signer(RSA_Keys(vector.Bin("N"), vector.Bin("E"), vector.Bin("D")), Pkcs1, NoPadding);
            EXPECT_EQ(signer.CalcDS(vector.Bin("Hash")), vector.Bin("Signature")) << vector.Where();
        }
    }
}

TEST_F(RsaTest, Sha256RoundTrip) {
    const RSA cipher(Crt(), Pkcs1, NoPadding);
    const Binary hash(32, 0x6E);
    const Binary signature = cipher.CalcDS(hash);
    EXPECT_EQ(signature.size(), 128u);
    EXPECT_TRUE(RSA(Public(), Pkcs1, NoPadding).VerifyDS(hash, signature));
    // The digest is chosen by the hash length: a SHA-1 DigestInfo never matches.
    EXPECT_FALSE(cipher.VerifyDS(binary::Slice(hash, 0, 20), signature));
}

TEST_F(RsaTest, SignatureChecksComeInOrder) {
    const RSA cipher(Crt(), Pkcs1, NoPadding);
    EXPECT_EQ(MessageOf([&] { cipher.CalcDS(Binary()); }), "Invalid hash value");
    EXPECT_EQ(MessageOf([&] { cipher.CalcDS(Binary(48, 0x01)); }), "Invalid hash length");
    const RSA verifier(Public(), Pkcs1, NoPadding);
    EXPECT_EQ(MessageOf([&] { verifier.CalcDS(Binary(48, 0x01)); }),
              "Unsupported operation. Keys object doesn't contain private key");
    EXPECT_EQ(MessageOf([&] { verifier.VerifyDS(Binary(48, 0x01), Binary(128, 0x01)); }), "Invalid hash length");
    EXPECT_EQ(MessageOf([&] { verifier.VerifyDS(Binary(20, 0x01), Binary(127, 0x01)); }), "Invalid signature length");
}

TEST_F(RsaTest, SigningFailureIsReported) {
    // Raw RSA cannot carry a DigestInfo: OpenSSL refuses the combination.
    const RSA cipher(Crt(), NoPadding, NoPadding);
    const std::string message = MessageOf([&] { cipher.CalcDS(Binary(20, 0x01)); });
    EXPECT_EQ(message.rfind("Failed to prepare rsa signature: ", 0), 0u) << message;
    const std::string verifyMessage = MessageOf([&] { cipher.VerifyDS(Binary(20, 0x01), Binary(128, 0x01)); });
    EXPECT_EQ(verifyMessage.rfind("Failed to prepare rsa verification: ", 0), 0u) << verifyMessage;
}

TEST_F(RsaTest, PublicOperationLengthRules) {
    const Binary belowModulus = Binary{0x00} + Binary(127, 0x5C);
    const RSA raw(Public(), Pkcs1, NoPadding);
    EXPECT_EQ(raw.CryptPublic(belowModulus).size(), 128u);
    EXPECT_EQ(MessageOf([&] { raw.CryptPublic(Binary(127, 0x5C)); }), "Data must be aligned");
    EXPECT_EQ(MessageOf([&] { raw.CryptPublic(Binary(129, 0x00)); }), "Data is too long");
    EXPECT_EQ(MessageOf([&] { raw.CryptPublic(Binary()); }), "Invalid data length");

    const RSA pkcs1(Public(), Pkcs1, Pkcs1);
    EXPECT_EQ(pkcs1.CryptPublic(Binary(117, 0x5C)).size(), 128u);
    EXPECT_EQ(MessageOf([&] { pkcs1.CryptPublic(Binary(118, 0x5C)); }), "Data is too long");
    const RSA oaep(Public(), Pkcs1, Oaep);
    EXPECT_EQ(oaep.CryptPublic(Binary(86, 0x5C)).size(), 128u);
    EXPECT_EQ(MessageOf([&] { oaep.CryptPublic(Binary(87, 0x5C)); }), "Data is too long");
}

TEST_F(RsaTest, PublicOperationReportsOpenSslReason) {
    const RSA raw(Public(), Pkcs1, NoPadding);
    EXPECT_EQ(MessageOf([&] { raw.CryptPublic(Binary(128, 0xFF)); }), "data too large for modulus");
}

TEST_F(RsaTest, PrivateOperationUndoesThePublicOne) {
    const Binary message = Binary{0x00} + binary::RandomBinary(127);
    for (const RSA_Keys& keys : {Crt(), Plain()}) {
        const RSA raw(keys, Pkcs1, NoPadding);
        EXPECT_EQ(raw.CryptPrivate(raw.CryptPublic(message)), message);
    }
    const Binary shortMessage = binary::RandomBinary(40);
    for (int padding : {Pkcs1, Oaep}) {
        const RSA cipher(Crt(), Pkcs1, padding);
        EXPECT_EQ(cipher.CryptPrivate(cipher.CryptPublic(shortMessage)), shortMessage) << padding;
    }
}

TEST_F(RsaTest, PrivateOperationChecksComeInOrder) {
    const RSA publicOnly(Public(), Pkcs1, NoPadding);
    EXPECT_EQ(MessageOf([&] { publicOnly.CryptPrivate(Binary()); }), "Invalid data");
    EXPECT_EQ(MessageOf([&] { publicOnly.CryptPrivate(Binary(129, 0x01)); }), "Data is too long");
    EXPECT_EQ(MessageOf([&] { publicOnly.CryptPrivate(Binary(128, 0x01)); }), "Private key is not loaded");
    // A block that is no PKCS#1 encryption block: OpenSSL's reason is the message.
    const RSA pkcs1(Crt(), Pkcs1, Pkcs1);
    const std::string message = MessageOf([&] { pkcs1.CryptPrivate(Binary{0x00} + Binary(127, 0x01)); });
    EXPECT_FALSE(message.empty());
    EXPECT_NE(message, "(no error)");
    EXPECT_NE(message, "RSA private key operation failed");
}

TEST_F(RsaTest, SizesAreTheModulusLength) {
    const RSA cipher(Crt(), Pkcs1, NoPadding);
    EXPECT_EQ(cipher.GetBlockSize(), 128u);
    EXPECT_EQ(cipher.GetSignatureSize(), 128u);
    EXPECT_EQ(cipher.GetPublicKeySize(), 128u);
    EXPECT_EQ(cipher.GetPrivateKeySize(), 128u);
}

TEST_F(RsaTest, CloneKeepsKeysAndPaddings) {
    const RSA cipher(Crt(), Pkcs1, NoPadding);
    std::unique_ptr<AsymCipher> clone(cipher.Clone());
    EXPECT_EQ(clone->CalcDS(m_signatures.at(0).Bin("Hash")), m_signatures.at(0).Bin("Signature"));
    const Binary block = Binary{0x00} + Binary(127, 0x33);
    EXPECT_EQ(clone->CryptPublic(block), cipher.CryptPublic(block));
}

}  // namespace
}  // namespace ZORVIK
