#include "service/cryptlib/sym/gost3412m.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "service/common/exception.h"
#include "service/cryptlib/hash/crypto_test_util.h"
#include "support/vectors.h"

namespace ZORVIK {
namespace {

using binary::Binary;

const test::TestVector& Section(const char* name) {
    static const test::TestVector block = test::VectorInSection("gost/gost3413_magma.vec", "Block");
    static const test::TestVector modes = test::VectorInSection("gost/gost3413_magma.vec", "Modes");
    return std::string(name) == "Block" ? block : modes;
}

Binary ReverseBlocks(Binary data) {
    for (size_t at = 0; at + 8 <= data.size(); at += 8) std::reverse(data.begin() + at, data.begin() + at + 8);
    return data;
}

Binary ReverseWords(Binary key) {
    for (size_t at = 0; at < key.size(); at += 4) std::reverse(key.begin() + at, key.begin() + at + 4);
    return key;
}

Binary Reversed(const Binary& data) { return Binary(data.rbegin(), data.rend()); }

TEST(GOST3412M, PublishedBlock) {
    const auto& v = Section("Block");
    GOST3412M cipher(v.Bin("Key"), 8, 0, 0);
    Binary block = v.Bin("Plain");
    cipher.EncryptBlock(block.data());
    EXPECT_EQ(block, v.Bin("Cipher"));
    cipher.DecryptBlock(block.data());
    EXPECT_EQ(block, v.Bin("Plain"));
}

TEST(GOST3412M, AppendixAInEveryMode) {
    const auto& v = Section("Modes");
    GOST3412M cipher(v.Bin("Key"), 4, 0, 0);
    const Binary plain = v.Bin("Plain");
    struct Case {
        uint32_t mode;
        const char* iv;
        const char* cipherText;
    };
    for (const Case& c : {Case{1, nullptr, "Ecb"}, Case{2, "CbcIv", "Cbc"}, Case{3, "OfbIv", "Ofb"},
                          Case{4, "CfbIv", "Cfb"}, Case{5, "CtrIv", "Ctr"}}) {
        SCOPED_TRACE(c.cipherText);
        const Binary iv = c.iv ? v.Bin(c.iv) : Binary();
        EXPECT_EQ(cipher.Encrypt(plain, c.mode, 0, iv), v.Bin(c.cipherText));
        EXPECT_EQ(cipher.Decrypt(v.Bin(c.cipherText), c.mode, 0, iv), plain);
    }
    Binary unused;
    EXPECT_EQ(cipher.CalcCCS(plain, unused), v.Bin("Mac"));
    EXPECT_TRUE(unused.empty());
    const Binary mac8 = GOST3412M(v.Bin("Key"), 8, 0, 0).CalcCCS(plain, unused);
    EXPECT_EQ(Binary(mac8.begin(), mac8.begin() + 4), v.Bin("Mac"));
}

TEST(GOST3412M, ProcessLeavesTheRegisterInTheIv) {
    const auto& v = Section("Modes");
    GOST3412M cipher(v.Bin("Key"), 8, 0, 0);
    Binary data = v.Bin("Plain"), iv = v.Bin("CbcIv");
    cipher.Process(data, iv, 2, 1);
    const Binary expected = v.Bin("Cbc");
    EXPECT_EQ(iv, Binary(expected.begin() + 8, expected.end()));
    Binary ctrIv = v.Bin("CtrIv");
    data = v.Bin("Plain");
    cipher.Process(data, ctrIv, 5, 1);
    EXPECT_EQ(ctrIv, v.Bin("CtrIv"));  // CTR leaves its IV as given
}

TEST(GOST3412M, ReversedByteOrderEquivalences) {
    const auto& v = Section("Modes");
    const Binary key = v.Bin("Key"), plain = v.Bin("Plain");
    GOST3412M standard(key, 8, 0, 0), reversed(ReverseWords(key), 8, 0, 1);
    EXPECT_EQ(reversed.GetKey(), ReverseWords(key));
    // ECB: blocks turned round on the way in and out.
    EXPECT_EQ(reversed.Encrypt(ReverseBlocks(plain), 1, 0, Binary()), ReverseBlocks(v.Bin("Ecb")));
    // CBC and CFB: the IV blocks turned round as well.
    EXPECT_EQ(reversed.Encrypt(ReverseBlocks(plain), 2, 0, ReverseBlocks(v.Bin("CbcIv"))), ReverseBlocks(v.Bin("Cbc")));
    EXPECT_EQ(reversed.Encrypt(ReverseBlocks(plain), 4, 0, ReverseBlocks(v.Bin("CfbIv"))), ReverseBlocks(v.Bin("Cfb")));
    // CTR: the 4-byte IV reversed.
    EXPECT_EQ(reversed.Encrypt(ReverseBlocks(plain), 5, 0, Reversed(v.Bin("CtrIv"))), ReverseBlocks(v.Bin("Ctr")));
    // The MAC comes out reversed.
    Binary unused;
    EXPECT_EQ(reversed.CalcCCS(ReverseBlocks(plain), unused), Reversed(standard.CalcCCS(plain, unused)));
    // A partial last block is turned round on its own.
    const Binary data = test::PseudoRandomMessage(13, 61);
    Binary turned = ReverseBlocks(data);
    std::reverse(turned.begin() + 8, turned.end());
    EXPECT_EQ(reversed.CalcCCS(turned, unused), Reversed(standard.CalcCCS(data, unused)));
    // Block functions.
    Binary block = ReverseBlocks(Binary(plain.begin(), plain.begin() + 8));
    reversed.EncryptBlock(block.data());
    const Binary ecb = v.Bin("Ecb");
    EXPECT_EQ(block, Reversed(Binary(ecb.begin(), ecb.begin() + 8)));
}

TEST(GOST3412M, CtrChainContinuesOneCounterStream) {
    const auto& v = Section("Modes");
    GOST3412M cipher(v.Bin("Key"), 8, 0, 0);
    const Binary plain = v.Bin("Plain"), iv = v.Bin("CtrIv");
    Binary chained = cipher.EncryptFirst(Binary(plain.begin(), plain.begin() + 8), 5, 0, iv);
    // A First refused on its IV in mid-chain leaves the running chain untouched.
    EXPECT_THROW(cipher.EncryptFirst(Binary(8), 5, 0, Binary("010203")), Exception);
    chained += cipher.EncryptNext(Binary(plain.begin() + 8, plain.begin() + 24), false);
    chained += cipher.EncryptNext(Binary(plain.begin() + 24, plain.end()), true);
    EXPECT_EQ(chained, v.Bin("Ctr"));
    Binary back = cipher.DecryptFirst(Binary(chained.begin(), chained.begin() + 16), 5, 0, iv);
    back += cipher.DecryptNext(Binary(chained.begin() + 16, chained.end()), true);
    EXPECT_EQ(back, plain);
}

TEST(GOST3412M, TheLastPieceEndsTheChain) {
    GOST3412M cipher(Binary(32, 0x11), 8, 0, 0);
    cipher.EncryptFirst(Binary(8), 5, 0, Binary("01020304"));
    cipher.EncryptNext(Binary(8), true);
    EXPECT_EQ(test::MessageOf([&] { cipher.EncryptNext(Binary(8), false); }), "Chain not started");
}

TEST(GOST3412M, MacIsCutToItsLength) {
    Binary unused;
    EXPECT_EQ(GOST3412M(Binary(32), 3, 0, 0).CalcCCS(Binary("01"), unused).size(), 3u);
}

TEST(GOST3412M, Errors) {
    const Binary key(32, 0x33);
    GOST3412M cipher(key, 8, 0, 0), reversed(key, 8, 0, 1);
    Binary data(16), unused;
    EXPECT_EQ(test::MessageOf([&] { GOST3412M(Binary(31), 8, 0, 0); }), "Invalid key length");
    EXPECT_EQ(test::MessageOf([&] { cipher.CalcCCS(Binary(), unused); }), "Empty data is invalid");
    EXPECT_EQ(test::MessageOf([&] { GOST3412M(key, 0, 0, 0).CalcCCS(data, unused); }), "Internal error");
    EXPECT_EQ(test::MessageOf([&] { GOST3412M(key, 9, 0, 0).CalcCCS(data, unused); }), "Internal error");
    EXPECT_EQ(test::MessageOf([&] { cipher.Encrypt(data, 5, 0, Binary()); }),
              "Размер IV должен быть равен половине размера блока для CTR");
    EXPECT_EQ(test::MessageOf([&] { reversed.Encrypt(data, 2, 0, Binary(12)); }),
              "Размер IV должен быть кратен размеру блока");
    EXPECT_EQ(test::MessageOf([&] { cipher.Encrypt(data, 2, 0, Binary(12)); }), "Internal error");
}

}  // namespace
}  // namespace ZORVIK
