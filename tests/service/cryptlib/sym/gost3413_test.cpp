#include "service/cryptlib/sym/gost3413.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

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

struct TraceLine {
    std::string label;
    bool hasData;
    size_t count;
};
std::vector<TraceLine> g_trace;
void Record(const char* label, const void* data, size_t count) { g_trace.push_back({label, data != nullptr, count}); }

std::vector<std::string> Labels() {
    std::vector<std::string> labels;
    for (const auto& line : g_trace) labels.push_back(line.label);
    return labels;
}

Binary Xor(const Binary& a, const Binary& b) {
    Binary out(a.size());
    for (size_t i = 0; i < a.size(); ++i) out[i] = a[i] ^ b[i];
    return out;
}

TEST(Gost3413Block, PublishedBlockBothDirections) {
    const auto& v = Section("Block");
    const Binary key = v.Bin("Key"), plain = v.Bin("Plain");
    Binary out(8);
    ASSERT_EQ(Encrypt_89(plain.data(), out.data(), key.data(), nullptr, nullptr), 0);
    EXPECT_EQ(out, v.Bin("Cipher"));
    ASSERT_EQ(Decrypt_89(out.data(), out.data(), key.data(), nullptr, nullptr), 0);
    EXPECT_EQ(out, plain);
}

TEST(Gost3413Block, TracedAndTablePathsAgree) {
    std::mt19937 engine(21);
    for (int round = 0; round < 200; ++round) {
        Binary key(32), block(8), fast(8), traced(8);
        for (auto& b : key) b = uint8_t(engine());
        for (auto& b : block) b = uint8_t(engine());
        g_trace.clear();
        ASSERT_EQ(Encrypt_89(block.data(), fast.data(), key.data(), nullptr, nullptr), 0);
        ASSERT_EQ(Encrypt_89(block.data(), traced.data(), key.data(), nullptr, Record), 0);
        ASSERT_EQ(fast, traced);
        ASSERT_EQ(CryptBlock(block.data(), traced.data(), key.data(), G3413_EncryptKeyOrder, nullptr), 0);
        ASSERT_EQ(fast, traced);
        ASSERT_EQ(Decrypt_89(block.data(), fast.data(), key.data(), nullptr, nullptr), 0);
        ASSERT_EQ(Decrypt_89(block.data(), traced.data(), key.data(), nullptr, Record), 0);
        ASSERT_EQ(fast, traced);
    }
}

TEST(Gost3413Block, TraceLabels) {
    const auto& v = Section("Block");
    const Binary key = v.Bin("Key"), plain = v.Bin("Plain");
    Binary out(8);
    g_trace.clear();
    ASSERT_EQ(Encrypt_89(plain.data(), out.data(), key.data(), Record, Record), 0);
    const auto labels = Labels();
    ASSERT_GE(labels.size(), 4u);
    EXPECT_EQ(labels.front(), "Encrypt_89: plain text: ");
    EXPECT_EQ(g_trace.front().count, 8u);
    EXPECT_EQ(labels.back(), "Encrypt_89: chipher text: ");
    EXPECT_EQ(g_trace.back().count, 8u);
    const std::vector<std::string> firstRound = {"CryptBlock: input a1:",
                                                 "CryptBlock: input a0:",
                                                 "Round: input a1: ",
                                                 "Round: input a0: ",
                                                 "Round: k: ",
                                                 "funcG: a: ",
                                                 "funcG: k: ",
                                                 "funcT: a: ",
                                                 "funcT: output: ",
                                                 "funcG: output: ",
                                                 "Round: output a1: ",
                                                 "Round: output a0: "};
    EXPECT_EQ(std::vector<std::string>(labels.begin() + 1, labels.begin() + 1 + firstRound.size()), firstRound);
    const std::vector<std::string> lastRound = {"RoundShtrih: input a1: ",
                                                "RoundShtrih: input a0: ",
                                                "RoundShtrih: k: ",
                                                "funcG: a: ",
                                                "funcG: k: ",
                                                "funcT: a: ",
                                                "funcT: output: ",
                                                "funcG: output: ",
                                                "RoundShtrih: output a1: ",
                                                "RoundShtrih: output a0: ",
                                                "CryptBlock: output a1:",
                                                "CryptBlock: output a0:"};
    EXPECT_EQ(std::vector<std::string>(labels.end() - 1 - lastRound.size(), labels.end() - 1), lastRound);
    size_t rounds = 0;
    for (const auto& line : g_trace) {
        if (line.label == "Round: k: ") ++rounds;
        if (line.label.rfind("Encrypt_89", 0) != 0) {
            EXPECT_EQ(line.count, 1u) << line.label;
        }
    }
    EXPECT_EQ(rounds, 31u);

    g_trace.clear();
    ASSERT_EQ(Decrypt_89(out.data(), out.data(), key.data(), Record, nullptr), 0);
    EXPECT_EQ(Labels(), (std::vector<std::string>{"Encrypt_89: chipher text: ", "Encrypt_89: plain text: "}));
}

TEST(Gost3413Block, NullPointersAreReportedThroughThePrintFunction) {
    uint8_t block[8] = {}, key[32] = {};
    g_trace.clear();
    EXPECT_EQ(Encrypt_89(nullptr, block, key, Record, nullptr), -1);
    EXPECT_EQ(Decrypt_89(block, block, nullptr, Record, nullptr), -1);
    ASSERT_EQ(g_trace.size(), 2u);
    EXPECT_EQ(g_trace[0].label, "Encrypt_89: internal error!");
    EXPECT_EQ(g_trace[1].label, "Decrypt_89: internal error!");
    EXPECT_FALSE(g_trace[0].hasData);
    EXPECT_EQ(g_trace[0].count, 0u);
    EXPECT_EQ(Encrypt_89(block, nullptr, key, nullptr, nullptr), -1);
}

TEST(Gost3413Modes, Ecb) {
    const auto& v = Section("Modes");
    const Binary key = v.Bin("Key"), plain = v.Bin("Plain");
    G3413_EcbContext ctx;
    ASSERT_EQ(G3413_InitEcb(key.data(), &ctx, nullptr, nullptr), 0);
    Binary out(plain.size());
    ASSERT_EQ(G3413_EncryptEcb(&ctx, plain.data(), out.data(), out.size()), 0);
    EXPECT_EQ(out, v.Bin("Ecb"));
    ASSERT_EQ(G3413_DecryptEcb(&ctx, out.data(), out.data(), out.size()), 0);
    EXPECT_EQ(out, plain);
    EXPECT_EQ(G3413_EncryptEcb(&ctx, plain.data(), out.data(), 12), -1);
    EXPECT_EQ(G3413_EncryptEcb(&ctx, plain.data(), out.data(), 0), -1);
    EXPECT_EQ(G3413_EncryptEcb(nullptr, plain.data(), out.data(), 8), -1);
    G3413_FreeEcb(&ctx);
    EXPECT_EQ(ctx.key, nullptr);
    G3413_FreeEcb(nullptr);
}

TEST(Gost3413Modes, CbcWithThreeBlockRegister) {
    const auto& v = Section("Modes");
    const Binary key = v.Bin("Key"), plain = v.Bin("Plain"), iv = v.Bin("CbcIv"), expected = v.Bin("Cbc");
    G3413_CbcContext ctx;
    ASSERT_EQ(G3413_InitCbc(key.data(), &ctx, iv.data(), iv.size(), nullptr, nullptr), 0);
    Binary out(plain.size());
    ASSERT_EQ(G3413_EncryptCbc(&ctx, plain.data(), out.data(), out.size()), 0);
    EXPECT_EQ(out, expected);
    Binary state(24);
    ASSERT_EQ(G3413_GetState(&ctx, 2, state.data()), 0);
    EXPECT_EQ(state, Binary(expected.begin() + 8, expected.end()));  // the last m bytes of ciphertext
    // Each call starts again from the IV of initialisation.
    ASSERT_EQ(G3413_DecryptCbc(&ctx, out.data(), out.data(), out.size()), 0);
    EXPECT_EQ(out, plain);
    G3413_FreeCbc(&ctx);
    EXPECT_EQ(ctx.iv, nullptr);

    EXPECT_EQ(G3413_InitCbc(key.data(), &ctx, iv.data(), 12, nullptr, nullptr), -1);
    EXPECT_EQ(G3413_InitCbc(key.data(), &ctx, nullptr, 8, nullptr, nullptr), -1);
    EXPECT_EQ(G3413_InitCbc(key.data(), nullptr, iv.data(), 8, nullptr, nullptr), -1);
}

TEST(Gost3413Modes, OfbAndItsPartialLastSegment) {
    const auto& v = Section("Modes");
    const Binary key = v.Bin("Key"), plain = v.Bin("Plain"), iv = v.Bin("OfbIv"), expected = v.Bin("Ofb");
    G3413_CfbOfbContext ctx;
    ASSERT_EQ(G3413_InitOfb(key.data(), &ctx, 8, iv.data(), iv.size(), nullptr, nullptr), 0);
    Binary out(plain.size());
    // Two calls continue the register.
    ASSERT_EQ(G3413_CryptOfb(&ctx, plain.data(), out.data(), 16), 0);
    ASSERT_EQ(G3413_DecryptOfb(&ctx, plain.data() + 16, out.data() + 16, 13), 0);
    EXPECT_EQ(Binary(out.begin(), out.begin() + 29), Binary(expected.begin(), expected.begin() + 29));
    EXPECT_EQ(G3413_CryptOfb(&ctx, plain.data(), out.data(), 8), -1);  // after a partial segment
    G3413_FreeCfbOfb(&ctx);

    EXPECT_EQ(G3413_InitOfb(key.data(), &ctx, 0, iv.data(), iv.size(), nullptr, nullptr), -1);
    EXPECT_EQ(G3413_InitOfb(key.data(), &ctx, 9, iv.data(), iv.size(), nullptr, nullptr), -1);
    EXPECT_EQ(G3413_InitOfb(key.data(), &ctx, 8, iv.data(), 0, nullptr, nullptr), -1);
    EXPECT_EQ(G3413_InitCfb(key.data(), &ctx, 8, iv.data(), 12, nullptr, nullptr), -1);
}

TEST(Gost3413Modes, CfbBothDirectionsAndState) {
    const auto& v = Section("Modes");
    const Binary key = v.Bin("Key"), plain = v.Bin("Plain"), iv = v.Bin("CfbIv"), expected = v.Bin("Cfb");
    G3413_CfbOfbContext ctx;
    ASSERT_EQ(G3413_InitCfb(key.data(), &ctx, 8, iv.data(), iv.size(), nullptr, nullptr), 0);
    Binary out(plain.size());
    ASSERT_EQ(G3413_EncryptCfb(&ctx, plain.data(), out.data(), out.size()), 0);
    EXPECT_EQ(out, expected);
    Binary state(16);
    ASSERT_EQ(G3413_GetState(&ctx, 4, state.data()), 0);
    EXPECT_EQ(state, Binary(expected.begin() + 16, expected.end()));
    G3413_FreeCfbOfb(&ctx);
    ASSERT_EQ(G3413_InitCfb(key.data(), &ctx, 8, iv.data(), iv.size(), nullptr, nullptr), 0);
    ASSERT_EQ(G3413_DecryptCfb(&ctx, out.data(), out.data(), out.size()), 0);
    EXPECT_EQ(out, plain);
    G3413_FreeCfbOfb(&ctx);
}

TEST(Gost3413Modes, CfbWithShortSegmentsRoundTrips) {
    const auto& v = Section("Modes");
    const Binary key = v.Bin("Key"), plain = v.Bin("Plain"), iv = v.Bin("CfbIv");
    G3413_CfbOfbContext enc, dec;
    ASSERT_EQ(G3413_InitCfb(key.data(), &enc, 3, iv.data(), iv.size(), nullptr, nullptr), 0);
    ASSERT_EQ(G3413_InitCfb(key.data(), &dec, 3, iv.data(), iv.size(), nullptr, nullptr), 0);
    Binary cipher(plain.size()), back(plain.size());
    ASSERT_EQ(G3413_EncryptCfb(&enc, plain.data(), cipher.data(), cipher.size()), 0);
    ASSERT_EQ(G3413_DecryptCfb(&dec, cipher.data(), back.data(), back.size()), 0);
    EXPECT_EQ(back, plain);
    // The first segment is the first 3 bytes of the full-block CFB gamma.
    const Binary fullBlockCfb = v.Bin("Cfb");
    EXPECT_EQ(Binary(cipher.begin(), cipher.begin() + 3), Binary(fullBlockCfb.begin(), fullBlockCfb.begin() + 3));
    G3413_FreeCfbOfb(&enc);
    G3413_FreeCfbOfb(&dec);
}

TEST(Gost3413Modes, CtrCountersAndPartialSegment) {
    const auto& v = Section("Modes");
    const Binary key = v.Bin("Key"), plain = v.Bin("Plain"), iv = v.Bin("CtrIv"), expected = v.Bin("Ctr");
    G3413_CtrContext ctx;
    ASSERT_EQ(G3413_InitCtr(key.data(), iv.data(), 8, &ctx, nullptr, nullptr), 0);
    Binary out(plain.size());
    ASSERT_EQ(G3413_CryptCtr(&ctx, plain.data(), out.data(), out.size()), 0);
    EXPECT_EQ(out, expected);
    G3413_FreeCtr(&ctx);

    // 12 bytes use the counters IV||00000000 and IV||00000001; then the context is spent.
    ASSERT_EQ(G3413_InitCtr(key.data(), iv.data(), 8, &ctx, nullptr, nullptr), 0);
    ASSERT_EQ(G3413_CryptCtr(&ctx, plain.data(), out.data(), 12), 0);
    EXPECT_EQ(Binary(out.begin(), out.begin() + 12), Binary(expected.begin(), expected.begin() + 12));
    EXPECT_EQ(G3413_CryptCtr(&ctx, plain.data(), out.data(), 8), -1);
    G3413_FreeCtr(&ctx);

    ASSERT_EQ(G3413_InitCtr(key.data(), iv.data(), 0, &ctx, nullptr, nullptr), 0);
    EXPECT_EQ(G3413_CryptCtr(&ctx, plain.data(), out.data(), 8), -1);
    G3413_FreeCtr(&ctx);
    EXPECT_EQ(G3413_InitCtr(key.data(), iv.data(), 9, &ctx, nullptr, nullptr), -1);
}

// With a one-block register the untraced modes run on words; a print function
// sends the same calls through the block function, block by block.
TEST(Gost3413Modes, OneBlockRegistersAgreeWithTheTracedBlocks) {
    const Binary key = test::PseudoRandomMessage(32, 71), iv = test::PseudoRandomMessage(8, 72);
    const Binary data = test::PseudoRandomMessage(77, 73);  // a partial last segment
    const size_t whole = data.size() / 8 * 8;
    auto run = [&](G3413_PrintFn print) {
        Binary out, part(data.size()), state(8);
        G3413_CfbOfbContext feedback;
        for (int mode = 0; mode < 3; ++mode) {  // OFB, CFB enciphering, CFB deciphering
            EXPECT_EQ(G3413_InitCfbOfbNoTest(key.data(), &feedback, 8, iv.data(), 8, print, nullptr), 0);
            const int result = mode == 0   ? G3413_CryptOfb(&feedback, data.data(), part.data(), part.size())
                               : mode == 1 ? G3413_EncryptCfb(&feedback, data.data(), part.data(), part.size())
                                           : G3413_DecryptCfb(&feedback, data.data(), part.data(), part.size());
            EXPECT_EQ(result, 0);
            EXPECT_EQ(G3413_GetState(&feedback, 3, state.data()), 0);
            out += part + state;
            G3413_FreeCfbOfb(&feedback);
        }
        G3413_CbcContext cbc;
        EXPECT_EQ(G3413_InitCbcNoTest(key.data(), &cbc, iv.data(), 8, print, nullptr), 0);
        Binary blocks(whole);
        EXPECT_EQ(G3413_EncryptCbc(&cbc, data.data(), blocks.data(), whole), 0);
        EXPECT_EQ(G3413_GetState(&cbc, 2, state.data()), 0);
        out += blocks + state;
        EXPECT_EQ(G3413_DecryptCbc(&cbc, data.data(), blocks.data(), whole), 0);
        EXPECT_EQ(G3413_GetState(&cbc, 2, state.data()), 0);
        G3413_FreeCbc(&cbc);
        return out + blocks + state;
    };
    EXPECT_EQ(run(nullptr), run(Record));
}

TEST(Gost3413Modes, GetStateIgnoresOtherModes) {
    uint8_t out[8] = {1, 2, 3, 4, 5, 6, 7, 8};
    G3413_CtrContext ctx;
    EXPECT_EQ(G3413_GetState(&ctx, 5, out), 0);
    EXPECT_EQ(Binary(out, out + 8), Binary("0102030405060708"));
}

TEST(Gost3413Mac, PublishedSubkeysAndMac) {
    const auto& v = Section("Modes");
    const Binary key = v.Bin("Key"), plain = v.Bin("Plain");
    G3413_MacContext ctx;
    ASSERT_EQ(G3413_InitMac(key.data(), 4, &ctx, nullptr, nullptr), 0);
    EXPECT_EQ(Binary(ctx.K1, ctx.K1 + 8), v.Bin("MacK1"));
    EXPECT_EQ(Binary(ctx.K2, ctx.K2 + 8), v.Bin("MacK2"));
    // Pieces that split blocks give the MAC of the whole.
    ASSERT_EQ(G3413_UpdateMac(&ctx, plain.data(), 5), 0);
    ASSERT_EQ(G3413_UpdateMac(&ctx, plain.data() + 5, 3), 0);
    ASSERT_EQ(G3413_UpdateMac(&ctx, plain.data() + 8, plain.size() - 8), 0);
    Binary mac(4);
    ASSERT_EQ(G3413_FinishMac(&ctx, mac.data()), 0);
    EXPECT_EQ(mac, v.Bin("Mac"));
    G3413_FreeMac(&ctx);
}

TEST(Gost3413Mac, OneWholeBlockUsesK1AndAShortOneK2) {
    const auto& v = Section("Modes");
    const Binary key = v.Bin("Key"), plain = v.Bin("Plain");
    Binary expected(8), mac(8);
    G3413_MacContext ctx;
    ASSERT_EQ(G3413_InitMac(key.data(), 8, &ctx, nullptr, nullptr), 0);
    ASSERT_EQ(G3413_UpdateMac(&ctx, plain.data(), 8), 0);
    ASSERT_EQ(G3413_FinishMac(&ctx, mac.data()), 0);
    const Binary withK1 = Xor(Binary(plain.begin(), plain.begin() + 8), v.Bin("MacK1"));
    ASSERT_EQ(Encrypt_89(withK1.data(), expected.data(), key.data(), nullptr, nullptr), 0);
    EXPECT_EQ(mac, expected);
    G3413_FreeMac(&ctx);

    ASSERT_EQ(G3413_InitMac(key.data(), 8, &ctx, nullptr, nullptr), 0);
    ASSERT_EQ(G3413_UpdateMac(&ctx, plain.data(), 7), 0);
    ASSERT_EQ(G3413_FinishMac(&ctx, mac.data()), 0);
    Binary padded(plain.begin(), plain.begin() + 7);
    padded.push_back(0x80);
    const Binary withK2 = Xor(padded, v.Bin("MacK2"));
    ASSERT_EQ(Encrypt_89(withK2.data(), expected.data(), key.data(), nullptr, nullptr), 0);
    EXPECT_EQ(mac, expected);
    G3413_FreeMac(&ctx);
}

TEST(Gost3413Mac, Refusals) {
    const Binary key(32, 0x11);
    G3413_MacContext ctx;
    EXPECT_EQ(G3413_InitMac(key.data(), 0, &ctx, nullptr, nullptr), -1);
    EXPECT_EQ(G3413_InitMac(key.data(), 9, &ctx, nullptr, nullptr), -1);
    EXPECT_EQ(G3413_InitMac(nullptr, 4, &ctx, nullptr, nullptr), -1);
    ASSERT_EQ(G3413_InitMac(key.data(), 4, &ctx, nullptr, nullptr), 0);
    EXPECT_EQ(G3413_UpdateMac(&ctx, key.data(), 0), -1);
    EXPECT_EQ(G3413_UpdateMac(&ctx, nullptr, 4), -1);
    EXPECT_EQ(G3413_FinishMac(&ctx, nullptr), -1);
    EXPECT_EQ(G3413_FinishMac(nullptr, nullptr), -1);
    G3413_FreeMac(&ctx);
}

TEST(Gost3413Helpers, ShiftLeftAndPad) {
    const Binary in("80 01 ff 00 00 00 00 81");
    Binary out(8);
    G3413_ShiftLeft(in.data(), out.data(), 8);
    EXPECT_EQ(out, Binary("00 03 fe 00 00 00 01 02"));
    const Binary data("11 22 33");
    G3413_PadMac(data.data(), 3, out.data(), 8);
    EXPECT_EQ(out, Binary("11 22 33 80 00 00 00 00"));
}

}  // namespace
}  // namespace ZORVIK
