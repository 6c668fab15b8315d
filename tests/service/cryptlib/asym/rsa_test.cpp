// RSA keys and the RSA cipher over them.
#include "service/cryptlib/asym/rsa.h"

#include <gtest/gtest.h>

#include "service/cryptlib/crypto_test_util.h"
#include "service/cryptlib/hash/sha.h"

namespace ZORVIK {
namespace {

using binary::Binary;
using test::Contains;
using test::LoadVectors;
using test::MessageOf;

constexpr int Pkcs1 = 1;
constexpr int NoPadding = 3;
constexpr int Oaep = 4;

// PKCS #1 v2.1 test vectors, Example 1 (a 1024-bit key with CRT values) and its v1.5 signatures.
class RsaTest : public ::testing::Test {
protected:
    RsaTest() {
        for (const auto& vector : LoadVectors("asym/rsa_pkcs1v15_sign.vec")) {
            if (vector.Text("Section") == "Key")
                m_key = vector;
            else
                m_signatures.push_back(vector);
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

TEST_F(RsaTest, CrtKeysDeriveModulusAndExponentAndExportTheirParts) {
    const auto textbook = LoadVectors("asym/rsa_crt.vec").at(0);
    const RSA_Keys small(textbook.Bin("P"), textbook.Bin("Q"), textbook.Bin("DP"), textbook.Bin("DQ"),
                         textbook.Bin("QINV"));
    EXPECT_EQ(small.GetN(), textbook.Bin("N"));
    EXPECT_EQ(small.GetD(), textbook.Bin("D"));

    const RSA_Keys keys = Crt();
    EXPECT_EQ(keys.ExportPublicKey(0), m_key.Bin("N"));
    EXPECT_EQ(keys.GetPrivateKeySize(), 128u);
    EXPECT_EQ(keys.ExportPrivateKey(0),
              m_key.Bin("P") + m_key.Bin("Q") + m_key.Bin("DP") + m_key.Bin("DQ") + m_key.Bin("QINV"));
    // DER carries the components of its kind only.
    const Binary publicDer = keys.ExportPublicKey(2), privateDer = keys.ExportPrivateKey(2);
    EXPECT_EQ(publicDer[0], 0x30);
    EXPECT_TRUE(Contains(publicDer, m_key.Bin("N")));
    EXPECT_FALSE(Contains(publicDer, m_key.Bin("P")));
    EXPECT_TRUE(Contains(privateDer, m_key.Bin("P")));
    EXPECT_TRUE(Contains(privateDer, m_key.Bin("QINV")));
    // Copies are independent and equal.
    RSA_Keys copy = keys;
    const RSA_Keys original(copy);
    copy = Public();
    EXPECT_FALSE(copy.HasPrivateKey());
    EXPECT_EQ(original.ExportPrivateKey(0), keys.ExportPrivateKey(0));
    EXPECT_EQ(original.GetN(), copy.GetN());
}

// Moduli of 64 to 256 bytes; a short d exports at the modulus width; generated keys
// export d, or with the CRT flag p q dP dQ qInv.
TEST(RsaKeys, WidthsAndGeneratedKeys) {
    const Binary e{0x01, 0x00, 0x01};
    EXPECT_EQ(RSA_Keys(Binary(64, 0xC1), e, Binary{0x05}).GetN().size(), 64u);
    EXPECT_TRUE(RSA_Keys(Binary(256, 0xC1), e).HasPublicKey());
    const RSA_Keys keys(Binary(128, 0xC1), e, Binary{0x01, 0x02});
    EXPECT_EQ(keys.ExportPrivateKey(0), (Binary(126, 0x00) + Binary{0x01, 0x02}));
    const RSA_Keys plain(64, e, false), crt(64, e, true);
    EXPECT_EQ(plain.GetN().size(), 64u);
    EXPECT_EQ(plain.ExportPrivateKey(0), plain.GetD());
    EXPECT_EQ(crt.ExportPrivateKey(0).size(), 160u);
    EXPECT_EQ(Slice(crt.ExportPrivateKey(0), 0, 32), crt.GetP());
    EXPECT_EQ(Slice(crt.ExportPrivateKey(0), 128, 32), crt.GetIqmp());
}

// The CRT construction takes d modulo (p - 1)(q - 1), the example's own d modulo
// the lcm: both sign alike, and so does a clone.
TEST_F(RsaTest, SignsAndVerifiesThePublishedExamples) {
    ASSERT_EQ(m_signatures.size(), 2u);
    const RSA_Keys crtD(m_key.Bin("N"), m_key.Bin("E"), Crt().GetD());
    const RSA verifier(Public(), Pkcs1, NoPadding);
    for (const auto& v : m_signatures) {
        SCOPED_TRACE(v.Where());
        ASSERT_EQ(SHA1().Calc(v.Bin("Msg")), v.Bin("Hash"));
        for (const RSA_Keys& keys : {Crt(), Plain(), crtD}) {
            EXPECT_EQ(RSA(keys, Pkcs1, NoPadding).CalcDS(v.Bin("Hash")), v.Bin("Signature"));
        }
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

// The digest is chosen by the hash length: a SHA-1 DigestInfo never matches a
// SHA-256 signature. Sizes are the modulus length.
TEST_F(RsaTest, Sha256RoundTripAndSizes) {
    const RSA cipher(Crt(), Pkcs1, NoPadding);
    const Binary hash(32, 0x6E);
    const Binary signature = cipher.CalcDS(hash);
    EXPECT_EQ(signature.size(), 128u);
    EXPECT_TRUE(RSA(Public(), Pkcs1, NoPadding).VerifyDS(hash, signature));
    EXPECT_FALSE(cipher.VerifyDS(Slice(hash, 0, 20), signature));
    EXPECT_EQ(cipher.GetBlockSize(), 128u);
    EXPECT_EQ(cipher.GetSignatureSize(), 128u);
    EXPECT_EQ(cipher.GetPublicKeySize(), 128u);
    EXPECT_EQ(cipher.GetPrivateKeySize(), 128u);
}

// Raw RSA takes a block below the modulus; PKCS #1 v1.5 at most k - 11 bytes and
// OAEP k - 42; the private operation undoes the public one.
TEST_F(RsaTest, PublicAndPrivateOperationsInEveryPadding) {
    const Binary message = Binary{0x00} + binary::RandomBinary(127);
    for (const RSA_Keys& keys : {Crt(), Plain()}) {
        const RSA raw(keys, Pkcs1, NoPadding);
        EXPECT_EQ(raw.CryptPrivate(raw.CryptPublic(message)), message);
    }
    for (const auto& [padding, longest] : {std::pair{Pkcs1, 117u}, std::pair{Oaep, 86u}}) {
        const RSA cipher(Crt(), Pkcs1, padding);
        const Binary longestMessage = binary::RandomBinary(longest);
        EXPECT_EQ(cipher.CryptPrivate(cipher.CryptPublic(longestMessage)), longestMessage) << padding;
        EXPECT_EQ(MessageOf([&] { cipher.CryptPublic(Binary(longest + 1, 0x5C)); }), "Data is too long") << padding;
    }
}

TEST_F(RsaTest, RefusesBadKeysAndArgumentsWithTheirMessages) {
    const Binary p{0x3D}, q{0x35}, e{0x01, 0x00, 0x01}, d{0x05}, n = m_key.Bin("N");
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
        {[&] { RSA_Keys(Binary(63, 0xC1), e, d); }, "Invalid modulus size"},
        {[&] { RSA_Keys(Binary(257, 0xC1), e); }, "Invalid modulus size"},
        {[&] { RSA_Keys(n, e, Binary()); }, "Invalid private exponent"},
        {[&] { RSA_Keys(n, Binary(), d); }, "Invalid public exponent"},
        {[&] { RSA_Keys(n, e, Binary(129, 0x01)).GetD(); }, "d is longer than 128 bytes"},
        {[&] { publicOnly.GetPrivateKeySize(); }, "d is null"},
        {[&] { publicOnly.ExportPrivateKey(2); }, "d is null"},
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
