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

TEST(GOST3412M, ReversedOrderWithPartialStreamData) {
    const auto& v = Section("Modes");
    GOST3412M reversed(ReverseWords(v.Bin("Key")), 8, 0, 1);
    const Binary data = test::PseudoRandomMessage(13, 62), iv("0102030405060708 1112131415161718");
    for (uint32_t mode : {3u, 4u}) {
        const Binary cipherText = reversed.Encrypt(data, mode, 0, iv);
        EXPECT_EQ(cipherText.size(), 13u);
        EXPECT_EQ(reversed.Decrypt(cipherText, mode, 0, iv), data) << mode;
    }
    const Binary ctr = reversed.Encrypt(data, 5, 0, Binary("01020304"));
    EXPECT_EQ(reversed.Decrypt(ctr, 5, 0, Binary("01020304")), data);
}

TEST(GOST3412M, CtrChainContinuesOneCounterStream) {
    const auto& v = Section("Modes");
    GOST3412M cipher(v.Bin("Key"), 8, 0, 0);
    const Binary plain = v.Bin("Plain"), iv = v.Bin("CtrIv");
    Binary chained = cipher.EncryptFirst(Binary(plain.begin(), plain.begin() + 8), 5, 0, iv);
    chained += cipher.EncryptNext(Binary(plain.begin() + 8, plain.begin() + 24), false);
    chained += cipher.EncryptNext(Binary(plain.begin() + 24, plain.end()), true);
    EXPECT_EQ(chained, v.Bin("Ctr"));
    Binary back = cipher.DecryptFirst(Binary(chained.begin(), chained.begin() + 16), 5, 0, iv);
    back += cipher.DecryptNext(Binary(chained.begin() + 16, chained.end()), true);
    EXPECT_EQ(back, plain);
}

TEST(GOST3412M, CbcOfbCfbChainsEqualOneCall) {
    const auto& v = Section("Modes");
    GOST3412M cipher(v.Bin("Key"), 8, 0, 0);
    const Binary plain = v.Bin("Plain");
    for (uint32_t mode : {2u, 3u, 4u}) {
        SCOPED_TRACE(mode);
        const Binary iv = mode == 2 ? v.Bin("CbcIv") : v.Bin("OfbIv");
        Binary chained = cipher.EncryptFirst(Binary(plain.begin(), plain.begin() + 16), mode, 0, iv);
        chained += cipher.EncryptNext(Binary(plain.begin() + 16, plain.end()), true);
        EXPECT_EQ(chained, cipher.Encrypt(plain, mode, 0, iv));
    }
    // Padding is added by the last piece and removed by the last decryption.
    const Binary data = test::PseudoRandomMessage(21, 63), iv("0102030405060708");
    Binary chained = cipher.EncryptFirst(Binary(data.begin(), data.begin() + 16), 2, 1, iv);
    chained += cipher.EncryptNext(Binary(data.begin() + 16, data.end()), true);
    EXPECT_EQ(chained, cipher.Encrypt(data, 2, 1, iv));
    Binary back = cipher.DecryptFirst(Binary(chained.begin(), chained.begin() + 16), 2, 1, iv);
    back += cipher.DecryptNext(Binary(chained.begin() + 16, chained.end()), true);
    EXPECT_EQ(back, data);
}

TEST(GOST3412M, NextWithoutALiveChainIsRefused) {
    GOST3412M cipher(Binary(32, 0x11), 8, 0, 0);
    test::ExpectMessage([&] { cipher.EncryptNext(Binary(8), false); }, "Chain not started");
    test::ExpectMessage([&] { cipher.DecryptNext(Binary(8), true); }, "Chain not started");
    cipher.EncryptFirst(Binary(8), 5, 0, Binary("01020304"));
    cipher.EncryptNext(Binary(8), true);
    test::ExpectMessage([&] { cipher.EncryptNext(Binary(8), false); }, "Chain not started");
}

TEST(GOST3412M, CloneOfARunningChainContinuesOnItsOwn) {
    const auto& v = Section("Modes");
    GOST3412M cipher(v.Bin("Key"), 8, 0, 0);
    const Binary plain = v.Bin("Plain"), expected = v.Bin("Ctr");
    cipher.EncryptFirst(Binary(plain.begin(), plain.begin() + 16), 5, 0, v.Bin("CtrIv"));
    auto copy = cipher.Clone(Binary());
    const Binary tail(plain.begin() + 16, plain.end()), expectedTail(expected.begin() + 16, expected.end());
    EXPECT_EQ(copy->EncryptNext(tail, true), expectedTail);
    EXPECT_EQ(cipher.EncryptNext(tail, true), expectedTail);
}

TEST(GOST3412M, MacOfOneByteIsPaddedAndUsesK2) {
    GOST3412M cipher(Section("Modes").Bin("Key"), 8, 0, 0);
    Binary unused;
    const Binary one = cipher.CalcCCS(Binary("01"), unused);
    EXPECT_EQ(one.size(), 8u);
    EXPECT_NE(one, cipher.CalcCCS(Binary("0180000000000000"), unused));
    EXPECT_EQ(GOST3412M(Binary(32), 3, 0, 0).CalcCCS(Binary("01"), unused).size(), 3u);
    EXPECT_EQ(GOST3412M(Binary(32), 3, 0, 0).GetCCSSize(), 8u);
}

TEST(GOST3412M, KeysAndClones) {
    const Binary key = test::PseudoRandomMessage(32, 64);
    EXPECT_EQ(GOST3412M(key, 8, 0, 0).GetKey(), key);
    GOST3412M reversed(key, 8, 2, 1);
    EXPECT_EQ(reversed.GetKey(), key);
    EXPECT_EQ(reversed.GetCCSPadding(), 2u);
    EXPECT_EQ(reversed.GetCCSMode(), 1u);
    const Binary other = test::PseudoRandomMessage(32, 65);
    auto copy = reversed.Clone(other);
    EXPECT_EQ(copy->GetKey(), other);
    EXPECT_EQ(reversed.GetKey(), key);
    const Binary data = test::PseudoRandomMessage(16, 66);
    EXPECT_EQ(copy->Encrypt(data, 1, 0, Binary()), GOST3412M(other, 8, 0, 1).Encrypt(data, 1, 0, Binary()));
    EXPECT_EQ(reversed.GetName(), "GOST3412(Magma)");
    EXPECT_EQ(reversed.GetBlockSize(), 8u);
    EXPECT_EQ(reversed.GetKeyLength(), 32u);
    EXPECT_EQ(reversed.GetMaxKeyLength(), 32u);
}

TEST(GOST3412M, UnknownModeLeavesData) {
    GOST3412M cipher(Binary(32, 0x22), 8, 0, 0);
    Binary data("0102030405060708"), iv(8);
    cipher.Process(data, iv, 7, 1);
    EXPECT_EQ(data, Binary("0102030405060708"));
}

TEST(GOST3412M, Errors) {
    const Binary key(32, 0x33);
    GOST3412M cipher(key, 8, 0, 0), reversed(key, 8, 0, 1);
    Binary data(16), empty, unused;
    test::ExpectMessage([&] { GOST3412M(Binary(31), 8, 0, 0); }, "Invalid key length");
    test::ExpectMessage([&] { cipher.Clone(Binary(16)); }, "Wrong key length.");
    test::ExpectMessage([&] { cipher.Process(data, empty, 1, 1); }, "Invalid iv");
    test::ExpectMessage([&] { cipher.CalcCCS(Binary(), unused); }, "Empty data is invalid");
    test::ExpectMessage([&] { GOST3412M(key, 0, 0, 0).CalcCCS(data, unused); }, "Internal error");
    test::ExpectMessage([&] { GOST3412M(key, 9, 0, 0).CalcCCS(data, unused); }, "Internal error");
    test::ExpectMessage([&] { cipher.Encrypt(data, 5, 0, Binary()); },
                  "Размер IV должен быть равен половине размера блока для CTR");
    test::ExpectMessage([&] { reversed.Encrypt(data, 2, 0, Binary(12)); }, "Размер IV должен быть кратен размеру блока");
    test::ExpectMessage([&] { cipher.Encrypt(data, 2, 0, Binary(12)); }, "Internal error");
    for (uint32_t mode = 1; mode <= 5; ++mode) {
        test::ExpectMessage([&] { cipher.EncryptFirst(Binary(12), mode, 0, Binary("01020304")); }, "Data must be aligned");
        test::ExpectMessage([&] { cipher.DecryptFirst(Binary(12), mode, 0, Binary("01020304")); }, "Data must be aligned");
    }
    test::ExpectMessage([&] { cipher.EncryptFirst(Binary(), 1, 0, Binary()); }, "Empty data is invalid");
    test::ExpectMessage([&] { cipher.DecryptFirst(Binary(), 1, 0, Binary()); }, "Empty data is invalid");
    cipher.EncryptFirst(Binary(8), 1, 0, Binary());
    test::ExpectMessage([&] { cipher.EncryptNext(Binary(), false); }, "Empty data is invalid");
    test::ExpectMessage([&] { cipher.EncryptNext(Binary(12), false); }, "Data must be aligned");
    test::ExpectMessage([&] { cipher.DecryptNext(Binary(), false); }, "Empty data is invalid");
    test::ExpectMessage([&] { cipher.DecryptNext(Binary(12), true); }, "Data must be aligned");
}

}  // namespace
}  // namespace ZORVIK
