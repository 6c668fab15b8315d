#include "service/cryptlib/asym/ec_cipher.h"

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <vector>

#include "asym_test_data.h"
#include "service/cryptlib/hash/sha.h"

namespace ZORVIK {
namespace {

using binary::Binary;
using test::LoadCurve;
using test::LoadVectors;
using test::MessageOf;
using test::Reverse;
using test::ReverseEachHalf;
using test::SwapHalves;

EC_Cipher::NonceSource Fixed(const Binary& k) {
    return [k] { return k; };
}

Binary Der(const Binary& r, const Binary& s) { return Binary{0x30, 0x44, 0x02, 0x20} + r + Binary{0x02, 0x20} + s; }

// GOST R 34.10-2012, Appendix A.1 (RFC 7091): the example in every format.
class Gost3410Example : public ::testing::Test {
protected:
    Gost3410Example()
        : m_vector(LoadVectors("asym/gost3410_2012.vec").at(0)),
          m_keys(LoadCurve("gost-test-256"), m_vector.Bin("D"), m_vector.Bin("Qx") + m_vector.Bin("Qy"), 0) {}

    ECGOST3410 Cipher(int format) const {
        ECGOST3410 cipher(m_keys, format);
        cipher.SetNonceSource(Fixed(m_vector.Bin("K")));
        return cipher;
    }

    test::TestVector m_vector;
    EC_Keys m_keys;
};

TEST_F(Gost3410Example, SignsAndVerifiesTheExampleInEveryFormat) {
    const Binary e = m_vector.Bin("E"), r = m_vector.Bin("R"), s = m_vector.Bin("S");
    const EC_Keys publicKey(LoadCurve("gost-test-256"), m_vector.Bin("Qx") + m_vector.Bin("Qy"), 0);
    // Hash and signature of each format; 3 and 4 take the hash little-endian.
    const std::pair<Binary, Binary> byFormat[] = {
        {e, r + s}, {e, Der(r, s)}, {e, r + s}, {Reverse(e), Reverse(r) + Reverse(s)}, {Reverse(e), s + r}};
    for (int format = 0; format < 5; ++format) {
        const auto& [hash, signature] = byFormat[format];
        EXPECT_EQ(Cipher(format).CalcDS(hash), signature) << format;
        EXPECT_TRUE(ECGOST3410(publicKey, format).VerifyDS(hash, signature)) << format;
    }
}

TEST_F(Gost3410Example, AChangedByteFailsVerification) {
    const ECGOST3410 cipher(m_keys, 0);
    const Binary hash = m_vector.Bin("E");
    const Binary signature = m_vector.Bin("R") + m_vector.Bin("S");
    for (size_t i : {size_t{0}, size_t{31}, size_t{32}, size_t{63}}) {
        Binary changed = signature;
        changed[i] ^= 0x01;
        EXPECT_FALSE(cipher.VerifyDS(hash, changed)) << "byte " << i;
    }
    Binary changedHash = hash;
    changedHash[5] ^= 0x80;
    EXPECT_FALSE(cipher.VerifyDS(changedHash, signature));
}

TEST_F(Gost3410Example, CloneKeepsKeysFormatAndNonceSource) {
    const ECGOST3410 cipher = Cipher(4);
    std::unique_ptr<AsymCipher> clone(cipher.Clone());
    EXPECT_EQ(clone->CalcDS(Reverse(m_vector.Bin("E"))), m_vector.Bin("S") + m_vector.Bin("R"));
}

TEST_F(Gost3410Example, InjectedKMustLieBelowTheOrder) {
    ECGOST3410 cipher(m_keys, 0);
    cipher.SetNonceSource(Fixed(LoadCurve("gost-test-256").order));
    EXPECT_EQ(MessageOf([&] { cipher.CalcDS(m_vector.Bin("E")); }), "Injected k is out of range");
    cipher.SetNonceSource(Fixed(Binary{0x00}));
    EXPECT_EQ(MessageOf([&] { cipher.CalcDS(m_vector.Bin("E")); }), "Injected k is out of range");
}

// RFC 6979, A.2.5: P-256 with SHA-256.
class EcdsaRfc6979 : public ::testing::Test {
protected:
    EcdsaRfc6979() {
        for (const auto& vector : LoadVectors("asym/ecdsa_p256.vec")) {
            if (vector.Text("Section") == "Key") {
                m_private = vector.Bin("D");
                m_public = vector.Bin("Ux") + vector.Bin("Uy");
            } else {
                m_signatures.push_back(vector);
            }
        }
    }

    Binary m_private;
    Binary m_public;
    std::vector<test::TestVector> m_signatures;
};

TEST_F(EcdsaRfc6979, VerifiesThePublishedSignatures) {
    const ECDSA cipher(EC_Keys(LoadCurve("p256"), m_public, 0), 0);
    ASSERT_EQ(m_signatures.size(), 2u);
    for (const auto& vector : m_signatures) {
        ASSERT_EQ(SHA256().Calc(vector.Bin("Message")), vector.Bin("Hash")) << vector.Where();
        const Binary signature = vector.Bin("R") + vector.Bin("S");
        EXPECT_TRUE(cipher.VerifyDS(vector.Bin("Hash"), signature)) << vector.Where();
        Binary changed = signature;
        changed[40] ^= 0x04;
        EXPECT_FALSE(cipher.VerifyDS(vector.Bin("Hash"), changed)) << vector.Where();
    }
}

TEST_F(EcdsaRfc6979, SignsWithThePublishedNonce) {
    const EC_Keys keys(LoadCurve("p256"), m_private, m_public, 0);
    for (const auto& vector : m_signatures) {
        for (int format : {0, 3, 4}) {  // 3 and 4 are plain r || s in ECDSA
            ECDSA cipher(keys, format);
            cipher.SetNonceSource(Fixed(vector.Bin("K")));
            EXPECT_EQ(cipher.CalcDS(vector.Bin("Hash")), vector.Bin("R") + vector.Bin("S"))
                << vector.Where() << " format " << format;
        }
        ECDSA der(keys, 1);
        der.SetNonceSource(Fixed(vector.Bin("K")));
        EXPECT_EQ(der.CalcDS(vector.Bin("Hash")), Der(vector.Bin("R"), vector.Bin("S"))) << vector.Where();
    }
}

// Round trips with generated keys, every format, both arithmetics.
struct RoundTripCase {
    const char* curve;
    bool gost;
    std::vector<int> formats;
};

std::unique_ptr<EC_Cipher> MakeCipher(const EC_Keys& keys, bool gost, int format) {
    if (gost) return std::make_unique<ECGOST3410>(keys, format);
    return std::make_unique<ECDSA>(keys, format);
}

TEST(EcRoundTrip, SignatureVerifiesAndHasTheFormatSize) {
    const RoundTripCase cases[] = {
        {"gost-test-256", true, {0, 1, 2, 3, 4}}, {"tc26-512-a", true, {0, 3}}, {"p256", false, {0, 1, 2, 3, 4}}};
    for (const RoundTripCase& param : cases) {
        const EC_Keys keys(LoadCurve(param.curve));
        for (int format : param.formats) {
            SCOPED_TRACE(std::string(param.curve) + " format " + std::to_string(format));
            const auto cipher = MakeCipher(keys, param.gost, format);
            const uint32_t length = keys.GetPrivateKeySize();
            EXPECT_EQ(cipher->GetSignatureSize(), 2 * length);
            EXPECT_EQ(cipher->GetPublicKeySize(), 2 * length);
            EXPECT_EQ(cipher->GetPrivateKeySize(), length);
            for (const Binary& hash : {Binary(length, 0xC3), Binary(20, 0x11), Binary{0x42}}) {
                const Binary signature = cipher->CalcDS(hash);
                EXPECT_EQ(signature.size(), format == 1 ? 2 * length + 6 : 2 * length);
                EXPECT_TRUE(cipher->VerifyDS(hash, signature));
                Binary changed = signature;
                changed[signature.size() - 3] ^= 0x10;
                EXPECT_FALSE(cipher->VerifyDS(hash, changed));
            }
        }
    }
}

class EcCipherFrame : public ::testing::Test {
protected:
    EcCipherFrame() : m_keys(LoadCurve("gost-test-256")) {}
    EC_Keys m_keys;
};

TEST_F(EcCipherFrame, ReversedFormatsRelateToPlainOnes) {
    const Binary hash = binary::RandomBinary(32);
    const Binary format4 = ECGOST3410(m_keys, 4).CalcDS(hash);
    EXPECT_TRUE(ECGOST3410(m_keys, 4).VerifyDS(hash, format4));
    EXPECT_TRUE(ECGOST3410(m_keys, 2).VerifyDS(Reverse(hash), SwapHalves(format4)));
    const Binary format3 = ECGOST3410(m_keys, 3).CalcDS(hash);
    EXPECT_TRUE(ECGOST3410(m_keys, 2).VerifyDS(Reverse(hash), ReverseEachHalf(format3)));
    EXPECT_FALSE(ECGOST3410(m_keys, 2).VerifyDS(hash, ReverseEachHalf(format3)));
}

TEST_F(EcCipherFrame, HashLongerThanTheOrderIsCutToItsFirstBytes) {
    const ECGOST3410 cipher(m_keys, 0);
    const Binary hash = binary::RandomBinary(32);
    const Binary signature = cipher.CalcDS(hash + Binary{0xDE, 0xAD});
    EXPECT_TRUE(cipher.VerifyDS(hash, signature));
    // A 20-byte hash is used whole: the same number as 12 zero bytes before it.
    const Binary shortHash = binary::RandomBinary(20);
    EXPECT_TRUE(cipher.VerifyDS(Binary(12, 0x00) + shortHash, cipher.CalcDS(shortHash)));
}

TEST_F(EcCipherFrame, HashZeroModuloNIsOneInGostAndZeroInEcdsa) {
    const Binary order = LoadCurve("gost-test-256").order;
    const ECGOST3410 gost(m_keys, 0);
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
    for (int attempt = 0; attempt < 4000; ++attempt) {
        signature = cipher.CalcDS(hash);
        if (signature[4] == 0x00) break;
    }
    ASSERT_EQ(signature[4], 0x00) << "no short r found";
    EXPECT_EQ(binary::Slice(signature, 0, 4), (Binary{0x30, 0x44, 0x02, 0x20}));
    EXPECT_EQ(signature[36], 0x02);
    EXPECT_EQ(signature[37], 0x20);
    EXPECT_TRUE(cipher.VerifyDS(hash, signature));
    const Binary plain = binary::Slice(signature, 4, 32) + binary::Slice(signature, 38, 32);
    EXPECT_TRUE(ECGOST3410(m_keys, 3).VerifyDS(Reverse(hash), ReverseEachHalf(plain)));
    EXPECT_EQ(ReverseEachHalf(plain)[31], 0x00);  // trailing zero of the reversed r
}

TEST_F(EcCipherFrame, DerFormatRefusesLargeCurves) {
    const ECDSA cipher(EC_Keys(LoadCurve("tc26-512-a")), 1);
    EXPECT_EQ(MessageOf([&] { cipher.CalcDS(Binary(64, 0x01)); }),
              "Данная длина подписи в форматe ASN1 не поддерживается");
}

TEST_F(EcCipherFrame, TruncatedSignaturesAreInvalid) {
    const ECGOST3410 der(m_keys, 1);
    const Binary hash(32, 0x77);
    const Binary signature = der.CalcDS(hash);
    for (uint32_t length : {1u, 3u, 4u, 37u, 38u, 69u}) {
        EXPECT_FALSE(der.VerifyDS(hash, binary::Slice(signature, 0, length))) << length;
    }
    Binary overclaimed = signature;
    overclaimed[3] = 0x7F;  // r claims more bytes than the signature holds
    EXPECT_FALSE(der.VerifyDS(hash, overclaimed));
    const ECGOST3410 reversed(m_keys, 3);
    EXPECT_FALSE(reversed.VerifyDS(hash, Binary(63, 0x01)));
    EXPECT_FALSE(ECGOST3410(m_keys, 4).VerifyDS(hash, Binary{0x01}));
}

TEST_F(EcCipherFrame, RefusesEmptyInput) {
    for (int format : {0, 1, 3, 4}) {
        const ECGOST3410 cipher(m_keys, format);
        EXPECT_EQ(MessageOf([&] { cipher.CalcDS(Binary()); }), "Empty hash value is invalid");
        EXPECT_EQ(MessageOf([&] { cipher.VerifyDS(Binary(), Binary(64, 0x01)); }), "Некорректное значение параметров");
        EXPECT_EQ(MessageOf([&] { cipher.VerifyDS(Binary(32, 0x01), Binary()); }), "Некорректное значение параметров");
    }
}

TEST_F(EcCipherFrame, ZeroComponentsAreReported) {
    const Binary hash(32, 0x33);
    const Binary zero(32, 0x00);
    // On P-256 OpenSSL's ECDSA verifies, which refuses s = 0 without a word.
    for (const EC_Keys& keys : {m_keys, EC_Keys(LoadCurve("p256"))}) {
        EXPECT_EQ(MessageOf([&] { ECDSA(keys, 0).VerifyDS(hash, binary::RandomBinary(32) + zero); }),
                  "Invalid s component");
    }
    EXPECT_EQ(MessageOf([&] { ECGOST3410(m_keys, 0).VerifyDS(hash, zero + zero); }), "Failed to get point coords");
}

TEST_F(EcCipherFrame, SigningNeedsThePrivateValue) {
    const EC_Keys publicOnly(LoadCurve("gost-test-256"), m_keys.ExportPublicKey(0), 0);
    EXPECT_EQ(MessageOf([&] { ECDSA(publicOnly, 0).CalcDS(Binary(32, 0x01)); }), "Failed to get private key");
}

TEST_F(EcCipherFrame, RawOperationsCannotBeImplemented) {
    const ECDSA cipher(m_keys, 0);
    const AsymCipher& base = cipher;
    for (const auto& call :
         std::vector<std::function<void()>>{[&] { base.CryptPrivate(Binary{0x01}); },
                                            [&] { base.CryptPublic(Binary{0x01}); }, [&] { base.GetBlockSize(); }}) {
        try {
            call();
            ADD_FAILURE() << "no exception";
        } catch (const CryptLibException& error) {
            EXPECT_STREQ(error.what(), "Cannot be implemented");
            EXPECT_EQ(error.ErrorCode(), 8);
        }
    }
    EXPECT_EQ(base.GetKeys().GetPublicKeySize(), 64u);
}

}  // namespace
}  // namespace ZORVIK
