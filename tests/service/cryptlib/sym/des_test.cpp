#include "service/cryptlib/sym/des.h"

#include <gtest/gtest.h>

#include "service/common/exception.h"
#include "support/error_text.h"
#include "support/vectors.h"

namespace ZORVIK {
namespace {

using binary::Binary;
using test::LoadVectors;

const Binary kK1("0123456789ABCDEF");
const Binary kK2("FEDCBA9876543210");
const Binary kIv("1234567890ABCDEF");

Binary Bytes(size_t count) {
    Binary out(count);
    for (size_t i = 0; i < count; ++i) out[i] = static_cast<uint8_t>(0x30 + 13 * i);
    return out;
}

// --- Published vectors ---------------------------------------------------

TEST(DesVectors, KnownAnswerTestsForDesAndTripleDes) {
    for (const auto& v : LoadVectors("sym/des_kat.vec")) {
        SCOPED_TRACE(v.Where());
        const Binary key = v.Bin("Key");
        const Binary plain = v.Bin("Plain");
        const Binary cipher = v.Bin("Cipher");

        DES des(key, 0, 0);
        Binary block = plain;
        des.EncryptBlock(block.data());
        EXPECT_EQ(block, cipher);
        des.DecryptBlock(block.data());
        EXPECT_EQ(block, plain);

        block = plain;
        Des_EncryptBlock(key.data(), block.data());
        EXPECT_EQ(block, cipher);

        // The vectors were made with K1 = K2 = K3.
        const Binary doubled = key + key;
        TriDES tdes(doubled, 0, 0);
        block = plain;
        tdes.EncryptBlock(block.data());
        EXPECT_EQ(block, cipher);
        TriDes_DecryptBlock(doubled.data(), block.data());
        EXPECT_EQ(block, plain);
    }
}

TEST(DesVectors, Fips81ModeExamples) {
    for (const auto& v : LoadVectors("sym/des_modes.vec")) {
        SCOPED_TRACE(v.Where());
        const uint32_t mode = static_cast<uint32_t>(v.Number("Mode"));
        const Binary key = v.Bin("Key");
        DES des(key, 0, 0);
        TriDES tdes(key + key, 0, 0);
        for (BlockCipher* cipher : {static_cast<BlockCipher*>(&des), static_cast<BlockCipher*>(&tdes)}) {
            SCOPED_TRACE(cipher->GetName());
            EXPECT_EQ(cipher->Encrypt(v.Bin("Plain"), mode, 0, v.Bin("IV")), v.Bin("Cipher"));
            EXPECT_EQ(cipher->Decrypt(v.Bin("Cipher"), mode, 0, v.Bin("IV")), v.Bin("Plain"));
        }
    }
}

TEST(DesVectors, TwoKeyTripleDesCbc) {
    for (const auto& v : LoadVectors("sym/tdes_cbc.vec")) {
        SCOPED_TRACE(v.Where());
        TriDES tdes(v.Bin("Key"), 0, 0);
        EXPECT_EQ(tdes.Encrypt(v.Bin("Plain"), CIPHER_MODE_CBC, 0, v.Bin("IV")), v.Bin("Cipher"));
        EXPECT_EQ(tdes.Decrypt(v.Bin("Cipher"), CIPHER_MODE_CBC, 0, v.Bin("IV")), v.Bin("Plain"));
    }
}

TEST(DesVectors, RetailMacOfIso9797) {
    for (const auto& v : LoadVectors("sym/retail_mac.vec")) {
        SCOPED_TRACE(v.Where());
        TriDES tdes(v.Bin("Key"), PADDING_GOST_ALIGN, 1);
        Binary iv;
        EXPECT_EQ(tdes.CalcCCS(v.Bin("Data"), iv), v.Bin("MAC"));
    }
}

// --- Process -------------------------------------------------------------

TEST(DesProcess, IvOfAnotherLengthIsRefused) {
    DES des(kK1, 0, 0);
    TriDES tdes(kK1 + kK2, 0, 0);
    for (BlockCipher* cipher : {static_cast<BlockCipher*>(&des), static_cast<BlockCipher*>(&tdes)}) {
        Binary data = Bytes(16);
        for (const char* bad : {"01 02 03 04", "00 11 22 33 44 55 66 77 88"}) {
            Binary badIv(bad);
            EXPECT_EQ(test::MessageOf([&] { cipher->Process(data, badIv, CIPHER_MODE_CFB, 1); }), "Invalid iv size");
            EXPECT_EQ(test::MessageOf([&] { cipher->Encrypt(data, CIPHER_MODE_CBC, 0, badIv); }), "Invalid iv size");
        }
        EXPECT_EQ(data, Bytes(16)) << cipher->GetName();
    }
}

// --- Keys ----------------------------------------------------------------

TEST(DesKeys, WrongKeyLengthsAreRefused) {
    EXPECT_EQ(test::MessageOf([] { DES(Binary(16, 1), 0, 0); }), "Invalid key");
    EXPECT_EQ(test::MessageOf([] { DES(Binary(), 0, 0); }), "Invalid key");
    EXPECT_EQ(test::MessageOf([] { TriDES(Binary(8, 1), 0, 0); }), "Invalid key");
    EXPECT_EQ(test::MessageOf([] { TriDES(Binary(24, 1), 0, 0); }), "Invalid key");
}

TEST(DesKeys, BlockFunctionsRefuseNullPointers) {
    uint8_t block[8] = {};
    EXPECT_EQ(test::MessageOf([&] { Des_EncryptBlock(nullptr, block); }), "Invalid key");
    EXPECT_EQ(test::MessageOf([&] { Des_DecryptBlock(kK1.data(), nullptr); }), "Invalid data");
    EXPECT_EQ(test::MessageOf([&] { TriDes_EncryptBlock(nullptr, block); }), "Invalid key");
    EXPECT_EQ(test::MessageOf([&] { TriDes_DecryptBlock(kK1.data(), nullptr); }), "Invalid data");
}

// --- Retail MAC ----------------------------------------------------------

// E_K1(D_K2(Y)) of the single-DES CBC-MAC Y under K1, which stays in the IV.
TEST(TriDesCalcCCS, RetailMacLeavesTheSingleDesChainInTheIv) {
    TriDES tdes(kK1 + kK2, PADDING_ISO9797_M2, 1);
    const Binary data = Bytes(8);
    Binary iv = kIv;
    const Binary mac = tdes.CalcCCS(data, iv);

    // Y: single-DES CBC-MAC under K1 over the 16 padded bytes.
    DES desK1(kK1, PADDING_ISO9797_M2, 0);
    Binary y = kIv;
    desK1.CalcCCS(data, y);
    EXPECT_EQ(iv, y);
    Binary expected = y;
    Des_DecryptBlock(kK2.data(), expected.data());
    Des_EncryptBlock(kK1.data(), expected.data());
    EXPECT_EQ(mac, expected);
}

TEST(TriDesCalcCCS, IvContinuesTheRetailMacOverALongerMessage) {
    TriDES tdes(kK1 + kK2, PADDING_NONE, 1);
    const Binary data = Bytes(32);
    Binary wholeIv;
    const Binary whole = tdes.CalcCCS(data, wholeIv);
    Binary running;
    tdes.CalcCCS(Slice(data, 0, 16), running);
    EXPECT_EQ(tdes.CalcCCS(Slice(data, 16, 16), running), whole);
}

TEST(TriDesCalcCCS, ModeZeroIsTheLastTripleDesCbcBlock) {
    TriDES tdes(kK1 + kK2, PADDING_ISO9797_M2, 0);
    const Binary data = Bytes(8);
    Binary iv = kIv;
    const Binary mac = tdes.CalcCCS(data, iv);
    const Binary encrypted = tdes.Encrypt(data, CIPHER_MODE_CBC, PADDING_ISO9797_M2, kIv);
    ASSERT_EQ(encrypted.size(), 16u);
    EXPECT_EQ(mac, Back(encrypted, 8));
    EXPECT_EQ(iv, mac);
}

TEST(TriDesCalcCCS, ReportsEachBadArgument) {
    TriDES tdes(kK1 + kK2, PADDING_NONE, 1);
    Binary iv;
    EXPECT_EQ(test::MessageOf([&] { tdes.CalcCCS(Binary(), iv); }), "Empty data is  invalid");
    EXPECT_EQ(test::MessageOf([&] { tdes.CalcCCS(Bytes(9), iv); }), "Data must be aligned");
    Binary shortIv("01 02 03 04");
    EXPECT_EQ(test::MessageOf([&] { tdes.CalcCCS(Bytes(8), shortIv); }), "Invalid iv size");
    EXPECT_EQ(shortIv, Binary("01 02 03 04"));
    tdes.SetCCSPadding(5);
    EXPECT_EQ(test::MessageOf([&] { tdes.CalcCCS(Bytes(8), iv); }), "Invalid padding kind 5, expected 0 to 3");
    EXPECT_TRUE(iv.empty());
}

}  // namespace
}  // namespace ZORVIK
