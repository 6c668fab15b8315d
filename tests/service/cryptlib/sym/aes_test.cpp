#include "service/cryptlib/sym/aes.h"

#include <gtest/gtest.h>

#include "service/common/exception.h"
#include "support/error_text.h"
#include "support/vectors.h"

namespace ZORVIK {
namespace {

using binary::Binary;
using test::LoadVectors;

const Binary kKey128("2B7E151628AED2A6ABF7158809CF4F3C");
const Binary kIv("000102030405060708090A0B0C0D0E0F");

Binary Bytes(size_t count) {
    Binary out(count);
    for (size_t i = 0; i < count; ++i) out[i] = static_cast<uint8_t>(0x5A + 11 * i);
    return out;
}

// --- Published vectors ---------------------------------------------------

TEST(AesVectors, Fips197BlockExamples) {
    for (const auto& v : LoadVectors("sym/aes_block.vec")) {
        SCOPED_TRACE(v.Where());
        const Binary key = v.Bin("Key");
        AES aes(key, 0, 0);
        EXPECT_EQ(aes.GetKeyLength(), key.size());
        Binary block = v.Bin("Plain");
        aes.EncryptBlock(block.data());
        EXPECT_EQ(block, v.Bin("Cipher"));
        aes.DecryptBlock(block.data());
        EXPECT_EQ(block, v.Bin("Plain"));
        block = v.Bin("Plain");
        Aes_EncryptBlock(key.data(), static_cast<uint32_t>(key.size()), block.data());
        EXPECT_EQ(block, v.Bin("Cipher"));
        Aes_DecryptBlock(key.data(), static_cast<uint32_t>(key.size()), block.data());
        EXPECT_EQ(block, v.Bin("Plain"));
        // ECB through the mode path gives the same block.
        EXPECT_EQ(aes.Encrypt(v.Bin("Plain"), CIPHER_MODE_ECB, 0, Binary()), v.Bin("Cipher"));
    }
}

TEST(AesVectors, Sp800_38aModeExamples) {
    for (const auto& v : LoadVectors("sym/aes_modes.vec")) {
        SCOPED_TRACE(v.Where());
        const uint32_t mode = static_cast<uint32_t>(v.Number("Mode"));
        AES aes(v.Bin("Key"), 0, 0);
        EXPECT_EQ(aes.Encrypt(v.Bin("Plain"), mode, 0, v.Bin("IV")), v.Bin("Cipher"));
        EXPECT_EQ(aes.Decrypt(v.Bin("Cipher"), mode, 0, v.Bin("IV")), v.Bin("Plain"));
    }
}

// --- Process -------------------------------------------------------------

TEST(AesProcess, OfbIsItsOwnInverseAndCfbUndoesItselfForAnyLength) {
    AES aes(Binary("000102030405060708090A0B0C0D0E0F1011121314151617"), 0, 0);
    for (size_t length : {1u, 15u, 16u, 17u, 40u}) {
        const Binary plain = Bytes(length);
        Binary ofb = plain;
        Binary iv = kIv;
        aes.Process(ofb, iv, CIPHER_MODE_OFB, 1);
        Binary back = ofb;
        iv = kIv;
        aes.Process(back, iv, CIPHER_MODE_OFB, 0);  // enc is not used
        EXPECT_EQ(back, plain) << length;

        Binary cfb = plain;
        iv = kIv;
        aes.Process(cfb, iv, CIPHER_MODE_CFB, 1);
        // Both modes XOR the first block with E(IV).
        const uint32_t firstBlock = static_cast<uint32_t>(std::min<size_t>(length, 16));
        EXPECT_EQ(Slice(cfb, 0, firstBlock), Slice(ofb, 0, firstBlock));
        iv = kIv;
        aes.Process(cfb, iv, CIPHER_MODE_CFB, 0);
        EXPECT_EQ(cfb, plain) << length;
    }
}

TEST(AesProcess, LongBuffersAgreeWithTheBlockFunction) {
    // 1 MiB + 16 in ECB against the one-block path, a cross-check of the
    // EVP route over many blocks.
    AES aes(Binary("000102030405060708090A0B0C0D0E0F101112131415161718191A1B1C1D1E1F"), 0, 0);
    Binary data = Bytes((1u << 20) + 16);
    const Binary plain = data;
    Binary iv = kIv;
    aes.Process(data, iv, CIPHER_MODE_ECB, 1);
    for (size_t offset : {size_t{0}, size_t{1} << 19, data.size() - 16}) {
        Binary block = Slice(plain, static_cast<uint32_t>(offset), 16);
        aes.EncryptBlock(block.data());
        EXPECT_EQ(Slice(data, static_cast<uint32_t>(offset), 16), block) << offset;
    }
}

TEST(AesProcess, EightByteIvIsRefused) {
    AES aes(kKey128, 0, 0);
    Binary data = Bytes(32);
    Binary eightByteIv("0001020304050607");
    EXPECT_EQ(test::MessageOf([&] { aes.Process(data, eightByteIv, CIPHER_MODE_OFB, 1); }), "Invalid iv size");
    EXPECT_EQ(test::MessageOf([&] { aes.Decrypt(data, CIPHER_MODE_CBC, 0, eightByteIv); }), "Invalid iv size");
    EXPECT_EQ(data, Bytes(32));
}

// --- Whole messages and checksum -----------------------------------------

TEST(AesCalcCCS, IsTheLastCbcBlockOfSixteenBytes) {
    AES aes(kKey128, PADDING_NONE, 0);
    EXPECT_EQ(aes.GetCCSSize(), 16u);
    // SP 800-38A F.2.1: CBC-MAC of the four blocks is the last cipher block.
    const auto vectors = LoadVectors("sym/aes_modes.vec");
    const auto& cbc = vectors[3];
    ASSERT_EQ(cbc.Number("Mode"), 2u);
    Binary iv = cbc.Bin("IV");
    const Binary mac = aes.CalcCCS(cbc.Bin("Plain"), iv);
    EXPECT_EQ(mac, Back(cbc.Bin("Cipher"), 16));
    EXPECT_EQ(iv, mac);
    Binary shortIv = Binary(8, 0);
    EXPECT_EQ(test::MessageOf([&] { aes.CalcCCS(Bytes(16), shortIv); }), "Invalid iv size");
}

// --- Keys ----------------------------------------------------------------

TEST(AesKeys, OnlyThreeKeyLengthsAreAccepted) {
    for (size_t length : {16u, 24u, 32u}) {
        AES aes(Binary(length, 0x11), 0, 0);
        EXPECT_EQ(aes.GetKeyLength(), length);
        EXPECT_EQ(aes.GetKey(), Binary(length, 0x11));
    }
    for (size_t length : {0u, 15u, 20u, 33u}) {
        EXPECT_EQ(test::MessageOf([&] { AES(Binary(length, 0x11), 0, 0); }), "Wrong key length") << length;
    }
}

TEST(AesKeys, BlockFunctionsCheckTheirArgumentsInOrder) {
    uint8_t block[16] = {};
    EXPECT_EQ(test::MessageOf([&] { Aes_EncryptBlock(nullptr, 7, nullptr); }), "Key is not initialized");
    EXPECT_EQ(test::MessageOf([&] { Aes_DecryptBlock(kKey128.data(), 7, nullptr); }), "Data is not initialized");
    EXPECT_EQ(test::MessageOf([&] { Aes_EncryptBlock(kKey128.data(), 20, block); }), "Invalid key length");
    EXPECT_EQ(test::MessageOf([&] { Aes_DecryptBlock(kKey128.data(), 8, block); }), "Invalid key length");
}

}  // namespace
}  // namespace ZORVIK
