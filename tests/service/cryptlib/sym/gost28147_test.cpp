#include "service/cryptlib/sym/gost28147.h"

#include <gtest/gtest.h>

#include "service/common/exception.h"
#include "service/cryptlib/hash/crypto_test_util.h"
#include "service/cryptlib/sym/gost_sbox.h"
#include "support/vectors.h"

namespace ZORVIK {
namespace {

using binary::Binary;

const Binary Key32("8182838485868788 898a8b8c8d8e8f80 d1d2d3d4d5d6d7d8 d9dadbdcdddedfd0");

std::vector<test::TestVector> Vectors(const std::string& section) {
    std::vector<test::TestVector> out;
    for (const auto& v : test::LoadVectors("gost/gost28147.vec"))
        if (v.Text("Section") == section) out.push_back(v);
    return out;
}

uint32_t SBoxOf(const test::TestVector& v) { return uint32_t(v.Number("SBox")); }

// ---- Published vectors

TEST(GOST28147, EcbUnderEveryParameterSet) {
    const auto vectors = Vectors("ECB");
    ASSERT_EQ(vectors.size(), 13u);
    for (const auto& v : vectors) {
        SCOPED_TRACE(v.Where());
        GOST28147 cipher(v.Bin("Key"), SBoxOf(v), 0, 0, 4);
        EXPECT_EQ(cipher.Encrypt(v.Bin("Plain"), 1, 0, Binary()), v.Bin("Cipher"));
        EXPECT_EQ(cipher.Decrypt(v.Bin("Cipher"), 1, 0, Binary()), v.Bin("Plain"));
        // The object's block functions and the free ones agree with the vector.
        const Binary plainText = v.Bin("Plain"), cipherText = v.Bin("Cipher");
        Binary block(plainText.begin(), plainText.begin() + 8);
        const Binary expected(cipherText.begin(), cipherText.begin() + 8);
        Binary viaObject = block;
        cipher.EncryptBlock(viaObject.data());
        EXPECT_EQ(viaObject, expected);
        const Binary key = v.Bin("Key"), sbox = GetSBoxByID(SBoxOf(v));
        GOST28147_EncryptBlock(key.data(), sbox.data(), block.data());
        EXPECT_EQ(block, expected);
        GOST28147_DecryptBlock(key.data(), sbox.data(), block.data());
        cipher.DecryptBlock(viaObject.data());
        EXPECT_EQ(block, viaObject);
        EXPECT_EQ(block, Binary(plainText.begin(), plainText.begin() + 8));
    }
}

TEST(GOST28147, CfbAndCounterModeWithCryptoProKeyMeshing) {
    for (const auto& [section, mode] : {std::pair{"CFB", 4u}, std::pair{"Counter", 3u}}) {
        for (const auto& v : Vectors(section)) {
            SCOPED_TRACE(v.Where());
            GOST28147 cipher(v.Bin("Key"), SBoxOf(v), 0, 0, 4);
            cipher.SetMeshingMode(GOST28147::MESHING_CRYPTOPRO);
            EXPECT_EQ(cipher.Encrypt(v.Bin("Plain"), mode, 0, v.Bin("Iv")), v.Bin("Cipher"));
            EXPECT_EQ(cipher.Decrypt(v.Bin("Cipher"), mode, 0, v.Bin("Iv")), v.Bin("Plain"));
            EXPECT_EQ(cipher.GetKey(), v.Bin("Key"));  // meshing never outlives the call
        }
    }
}

TEST(GOST28147, CounterModeWithoutMeshingUpTo1024Bytes) {
    // Below the first meshing point the two ways agree.
    for (const auto& v : Vectors("Counter")) {
        if (v.Bin("Plain").size() > 1024) continue;
        GOST28147 cipher(v.Bin("Key"), SBoxOf(v), 0, 0, 4);
        EXPECT_EQ(cipher.Encrypt(v.Bin("Plain"), 3, 0, v.Bin("Iv")), v.Bin("Cipher")) << v.Where();
    }
}

TEST(GOST28147, MacOfPublishedVector) {
    const auto v = Vectors("MAC").at(0);
    GOST28147 cipher(v.Bin("Key"), SBoxOf(v), 0, 0, 4);
    Binary iv;
    EXPECT_EQ(cipher.CalcCCS(v.Bin("Data"), iv), v.Bin("Mac"));
    EXPECT_EQ(iv.size(), 8u);
    EXPECT_EQ(Binary(iv.begin(), iv.begin() + 4), v.Bin("Mac"));
    EXPECT_EQ(cipher.GetImit(v.Bin("Data"), Binary(8)), iv);

    const Binary key = v.Bin("Key"), sbox = GetSBoxByID(SBoxOf(v)), data = v.Bin("Data");
    uint8_t imit[4];
    GOST28147_CalcCCS(key.data(), sbox.data(), data.data(), uint32_t(data.size()), imit, 4);
    EXPECT_EQ(Binary(imit, imit + 4), v.Bin("Mac"));
    const uint8_t zeroIv[8] = {};
    GOST28147_CalcCCS(key.data(), sbox.data(), zeroIv, data.data(), uint32_t(data.size()), imit, 4);
    EXPECT_EQ(Binary(imit, imit + 4), v.Bin("Mac"));
}

// ---- MAC behaviour

TEST(GOST28147, MacContinuesFromTheReturnedIv) {
    GOST28147 cipher(Key32, 2u, 0, 0, 4);
    const Binary data = test::PseudoRandomMessage(48, 31);
    Binary whole, pieces;
    cipher.CalcCCS(data, whole);
    cipher.CalcCCS(Binary(data.begin(), data.begin() + 16), pieces);
    const Binary result = cipher.CalcCCS(Binary(data.begin() + 16, data.end()), pieces);
    EXPECT_EQ(pieces, whole);
    EXPECT_EQ(result.size(), 4u);
}

TEST(GOST28147, MacWithPaddingAndSizes) {
    GOST28147 cipher(Key32, 2u, 1, 0, 8);
    const Binary data("0102030405");
    Binary iv;
    EXPECT_EQ(cipher.CalcCCS(data, iv), cipher.GetImit(Binary("0102030405800000"), Binary(8)));
    EXPECT_EQ(cipher.GetCCSSize(), 4u);  // whatever the CCS size
    GOST28147 zeroSize(Key32, 2u, 0, 0, 0);
    iv.clear();
    EXPECT_TRUE(zeroSize.CalcCCS(Binary(8), iv).empty());
    EXPECT_EQ(iv.size(), 8u);
}

TEST(GOST28147, MeshedMacRestoresTheKey) {
    GOST28147 cipher(Key32, 2u, 0, 0, 4);
    cipher.SetMeshingMode(GOST28147::MESHING_KEY_ONLY);
    const Binary data = test::PseudoRandomMessage(2048 + 16, 32);
    Binary iv;
    cipher.CalcCCS(data, iv);
    EXPECT_EQ(cipher.GetKey(), Key32);  // the values are checked against gostprov
}

// ---- Chains and modes

TEST(GOST28147, CounterModeLeavesTheNextRegisterInTheIv) {
    GOST28147 cipher(Key32, 2u, 0, 0, 4);
    const Binary data = test::PseudoRandomMessage(24, 34), start("0102030405060708");
    const Binary whole = cipher.Encrypt(data, 3, 0, start);
    Binary iv = start, first(data.begin(), data.begin() + 16);
    cipher.Process(first, iv, 3, 1);
    EXPECT_EQ(first, Binary(whole.begin(), whole.begin() + 16));
    // The gamma of the third piece is the encipherment of the register left in iv.
    const Binary gamma = cipher.Encrypt(iv, 1, 0, Binary());
    Binary third(8);
    for (size_t i = 0; i < 8; ++i) third[i] = data[16 + i] ^ gamma[i];
    EXPECT_EQ(third, Binary(whole.begin() + 16, whole.end()));
}

TEST(GOST28147, MeshedEncryptOfExactly1024BytesRestoresKey) {
    GOST28147 cipher(Key32, 2u, 0, 0, 4);
    cipher.SetMeshingMode(GOST28147::MESHING_CRYPTOPRO);
    const Binary data = test::PseudoRandomMessage(1024, 36), iv("0102030405060708");
    GOST28147 plain(Key32, 2u, 0, 0, 4);
    for (uint32_t mode : {1u, 2u, 3u, 4u}) {
        EXPECT_EQ(cipher.Encrypt(data, mode, 0, iv), plain.Encrypt(data, mode, 0, iv)) << mode;
        EXPECT_EQ(cipher.GetKey(), Key32);
    }
    // Past 1024 bytes the meshed key is in use in every mode.
    const Binary longer = test::PseudoRandomMessage(1032, 37);
    for (uint32_t mode : {1u, 2u, 3u, 4u}) {
        const Binary meshed = cipher.Encrypt(longer, mode, 0, iv), unmeshed = plain.Encrypt(longer, mode, 0, iv);
        EXPECT_EQ(Binary(meshed.begin(), meshed.begin() + 1024), Binary(unmeshed.begin(), unmeshed.begin() + 1024));
        EXPECT_NE(meshed, unmeshed) << mode;
        EXPECT_EQ(cipher.Decrypt(meshed, mode, 0, iv), longer) << mode;
        EXPECT_EQ(cipher.Clone(Binary())->Encrypt(longer, mode, 0, iv), meshed) << mode;  // meshing is copied
    }
}

TEST(GOST28147, MeshedDecryptRemovesOnlyMethodOnePadding) {
    GOST28147 cipher(Key32, 2u, 0, 0, 4);
    cipher.SetMeshingMode(GOST28147::MESHING_CRYPTOPRO);
    const Binary data = test::PseudoRandomMessage(1030, 38), iv("0102030405060708");
    EXPECT_EQ(cipher.Decrypt(cipher.Encrypt(data, 2, 1, iv), 2, 1, iv), data);
    const Binary padded2 = cipher.Decrypt(cipher.Encrypt(data, 2, 2, iv), 2, 2, iv);
    EXPECT_EQ(padded2.size(), 1032u);
    EXPECT_EQ(Binary(padded2.begin(), padded2.begin() + 1030), data);
}

// ---- Key, S-box and copies

TEST(GOST28147, SBoxAndKeyAccessors) {
    GOST28147 byId(Key32, 7u, 0, 0, 4);
    GOST28147 byTable(Key32, Uncompress(GetSBoxByID(7)), 0, 0, 4);
    EXPECT_EQ(byId.GetSBox(), GetSBoxByID(7));
    EXPECT_EQ(byTable.GetSBox(), GetSBoxByID(7));
    EXPECT_EQ(byId.GetKey(), Key32);
    const Binary data = test::PseudoRandomMessage(16, 39);
    EXPECT_EQ(byId.Encrypt(data, 1, 0, Binary()), byTable.Encrypt(data, 1, 0, Binary()));
    byTable.SetSBox(GetSBoxByID(2));
    EXPECT_EQ(byTable.GetKey(), Key32);
    EXPECT_EQ(byTable.Encrypt(data, 1, 0, Binary()), GOST28147(Key32, 2u, 0, 0, 4).Encrypt(data, 1, 0, Binary()));
}

// ---- Errors

TEST(GOST28147, ConstructorErrors) {
    const Binary sbox = GetSBoxByID(2);
    EXPECT_EQ(test::MessageOf([&] { GOST28147(Binary(), sbox, 0, 0, 4); }), "Invalid key len");
    EXPECT_EQ(test::MessageOf([&] { GOST28147(Key32, Binary(), 0, 0, 4); }), "Invalid sbox len");
    EXPECT_EQ(test::MessageOf([&] { GOST28147(Key32, sbox, 0, 0, 9); }), "Invalid ccs size");
    EXPECT_EQ(test::MessageOf([&] { GOST28147(Binary(31), sbox, 0, 0, 4); }), "Invalid key length");
    EXPECT_EQ(test::MessageOf([&] { GOST28147(Key32, Binary(100), 0, 0, 4); }), "Wrong sbox size");
    EXPECT_EQ(test::MessageOf([&] { GOST28147(Binary(), 2u, 0, 0, 4); }), "Invalid key len");
    EXPECT_EQ(test::MessageOf([&] { GOST28147(Key32, 2u, 0, 0, 9); }), "Invalid ccs size");
    EXPECT_EQ(test::MessageOf([&] { GOST28147(Binary(31), 2u, 0, 0, 4); }), "Invalid key length");
    EXPECT_EQ(test::MessageOf([&] { GOST28147(Key32, 11u, 0, 0, 4); }), "R3411: unknown sbox");
    EXPECT_NO_THROW(GOST28147(Key32, sbox, 0, 0, 8));
}

TEST(GOST28147, OperationErrors) {
    GOST28147 cipher(Key32, 2u, 0, 0, 4);
    Binary data("0102030405060708"), iv("0102030405060708"), empty, shortIv("01020304");
    EXPECT_EQ(test::MessageOf([&] { cipher.SetKey(Binary(31)); }), "Invalid key length");
    EXPECT_EQ(test::MessageOf([&] { cipher.LoadKey(Binary(31)); }), "Invalid key length");
    EXPECT_EQ(test::MessageOf([&] { cipher.Process(data, shortIv, 3, 1); }), "Invalid iv");
    EXPECT_EQ(test::MessageOf([&] { cipher.Encrypt(Binary(), 1, 0, iv); }), "Invalid data len");
    EXPECT_EQ(test::MessageOf([&] { cipher.Decrypt(Binary(), 1, 0, iv); }), "Invalid data len");
    EXPECT_EQ(test::MessageOf([&] { cipher.CalcCCS(Binary(), iv); }), "Empty data is invalid");
    EXPECT_EQ(test::MessageOf([&] { cipher.CalcCCS(Binary(12), iv); }), "Invalid data length");
    EXPECT_EQ(test::MessageOf([&] { cipher.GetImit(Binary(), iv); }), "Empty data is invalid");
    EXPECT_EQ(test::MessageOf([&] { cipher.GetImit(data, shortIv); }), "Invalid iv length");
    EXPECT_EQ(test::MessageOf([&] { cipher.SetMeshingMode(3); }), "Invalid meshing mode 3, expected 0, 1 or 2");
    EXPECT_EQ(iv, Binary("0102030405060708"));

    // The counter chain has pieces of its own.
    cipher.EncryptFirst(data, 3, 0, iv);
    EXPECT_EQ(test::MessageOf([&] { cipher.EncryptNext(Binary(), true); }), "Empty data is invalid");
    EXPECT_EQ(test::MessageOf([&] { cipher.DecryptNext(Binary(), true); }), "Empty data is invalid");
}

TEST(GOST28147, FreeFunctionPointerChecks) {
    const Binary sbox = GetSBoxByID(2), data(8);
    uint8_t imit[8], block[8] = {};
    const uint8_t* key = Key32.data();
    EXPECT_EQ(test::MessageOf([&] { GOST28147_CalcCCS(nullptr, sbox.data(), data.data(), 8, imit, 4); }),
              "Invalid key pointer");
    EXPECT_EQ(test::MessageOf([&] { GOST28147_CalcCCS(key, nullptr, data.data(), 8, imit, 4); }),
              "Invalid sbox pointer");
    EXPECT_EQ(test::MessageOf([&] { GOST28147_CalcCCS(key, sbox.data(), nullptr, 8, imit, 4); }),
              "Invalid data pointer");
    EXPECT_EQ(test::MessageOf([&] { GOST28147_CalcCCS(key, sbox.data(), data.data(), 8, nullptr, 4); }),
              "Invalid imit pointer");
    EXPECT_EQ(test::MessageOf([&] { GOST28147_CalcCCS(key, sbox.data(), nullptr, data.data(), 8, imit, 4); }),
              "Invalid iv pointer");
    EXPECT_EQ(test::MessageOf([&] { GOST28147_CalcCCS(key, sbox.data(), data.data(), 8, imit, 9); }),
              "Invalid imit length");
    EXPECT_EQ(test::MessageOf([&] { GOST28147_EncryptBlock(nullptr, sbox.data(), block); }), "Invalid key pointer");
    EXPECT_EQ(test::MessageOf([&] { GOST28147_EncryptBlock(key, nullptr, block); }), "Invalid sbox pointer");
    EXPECT_EQ(test::MessageOf([&] { GOST28147_DecryptBlock(key, sbox.data(), nullptr); }), "Invalid data pointer");
}

}  // namespace
}  // namespace ZORVIK
