// The GOST ciphers beyond the common block-cipher tables: the S-box tables, GOST
// 28147-89 (its MAC and free functions, CryptoPro key meshing, key and S-box
// accessors), and GOST R 34.12-2015 Magma: the mode library of GOST R 34.13-2015
// (plain functions over caller-owned contexts that return 0 or -1) and GOST3412M.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>

#include "service/cryptlib/crypto_test_util.h"
#include "service/cryptlib/sym/gost28147.h"
#include "service/cryptlib/sym/gost28147_core.h"
#include "service/cryptlib/sym/gost3412m.h"
#include "service/cryptlib/sym/gost3413.h"
#include "service/cryptlib/sym/gost_sbox.h"

namespace ZORVIK {
namespace {

using binary::Binary;
using test::Reversed;

Binary Xor(const Binary& a, const Binary& b) {
    Binary out(a.size());
    for (size_t i = 0; i < a.size(); ++i) out[i] = a[i] ^ b[i];
    return out;
}

const Binary Key32("8182838485868788 898a8b8c8d8e8f80 d1d2d3d4d5d6d7d8 d9dadbdcdddedfd0");

TEST(GostSBox, BuiltInSetsMatchThePublishedParameterSets) {
    const auto vectors = test::LoadVectors("gost/sboxes.vec");
    ASSERT_EQ(vectors.size(), 11u);
    for (const auto& v : vectors) {
        SCOPED_TRACE(v.Where());
        // "Row": 128 hex digits, one value each, K1..K8.
        Binary rows;
        for (char c : v.Text("Row")) rows.push_back(uint8_t(std::stoul(std::string(1, c), nullptr, 16)));
        const Binary compressed = GetSBoxByID(uint32_t(v.Number("Id")));
        EXPECT_EQ(Gost2Cryptocom(compressed), rows);
        EXPECT_EQ(Gost2Cryptocom(Uncompress(compressed)), rows);
        EXPECT_EQ(Compress(Uncompress(compressed)), compressed);
        EXPECT_EQ(Cryptocom2Gost(rows), compressed);
        // The core block is the row layout with K8 first.
        const Binary block = SBoxPack(rows);
        for (uint32_t j = 0; j < 8; ++j) EXPECT_EQ(Slice(block, 16 * j, 16), Slice(rows, 16 * (7 - j), 16)) << j;
        // Loading into a core and reading back returns the same S-box.
        gost28147::Core core;
        gost28147::LoadSBox(core, block.data());
        EXPECT_EQ(SBoxUnpack(core), rows);
        gost28147::Core standard;
        LoadStandardSBox(standard, Uncompress(compressed));
        EXPECT_EQ(ReadStandardSBox(standard), compressed);
    }
}

TEST(GostSBox, ConversionsAreInversesAndPackNibblePairs) {
    std::mt19937 engine(13);
    for (int round = 0; round < 20; ++round) {
        Binary expanded(128), compressed(64);
        for (auto& b : expanded) b = uint8_t(engine() & 0x0F);
        for (auto& b : compressed) b = uint8_t(engine());
        EXPECT_EQ(Uncompress(Compress(expanded)), expanded);
        EXPECT_EQ(Cryptocom2Gost(Gost2Cryptocom(compressed)), compressed);
        EXPECT_EQ(Gost2Cryptocom(compressed), Gost2Cryptocom(Uncompress(compressed)));
    }
    Binary expanded(128);
    for (size_t i = 0; i < 128; ++i) expanded[i] = uint8_t(i & 0x0F);
    EXPECT_EQ(Slice(Compress(expanded), 0, 8), Binary("01 23 45 67 89 AB CD EF"));
    EXPECT_EQ(Slice(Uncompress(Binary(64, 0x5C)), 0, 4), Binary("05 0C 05 0C"));
}

// Every ECB vector through the free block functions and the object's, which agree.
TEST(GOST28147, EcbVectorsThroughTheFreeFunctions) {
    size_t count = 0;
    for (const auto& v : test::LoadVectors("gost/gost28147.vec")) {
        if (v.Text("Section") != "ECB") continue;
        SCOPED_TRACE(v.Where());
        ++count;
        const Binary key = v.Bin("Key"), sbox = GetSBoxByID(uint32_t(v.Number("SBox")));
        const Binary plain = v.Bin("Plain"), cipherText = v.Bin("Cipher");
        GOST28147 cipher(key, uint32_t(v.Number("SBox")), 0, 0, 4);
        EXPECT_EQ(cipher.GetSBox(), sbox);
        EXPECT_EQ(cipher.GetKey(), key);
        for (uint32_t at = 0; at < plain.size(); at += 8) {
            Binary block = Slice(plain, at, 8), viaObject = block;
            GOST28147_EncryptBlock(key.data(), sbox.data(), block.data());
            EXPECT_EQ(block, Slice(cipherText, at, 8));
            cipher.EncryptBlock(viaObject.data());
            EXPECT_EQ(viaObject, block);
            GOST28147_DecryptBlock(key.data(), sbox.data(), block.data());
            EXPECT_EQ(block, Slice(plain, at, 8));
        }
    }
    EXPECT_EQ(count, 13u);
}

TEST(GOST28147, PublishedMacAndBlockThroughTheFreeFunctions) {
    const auto v = test::VectorInSection("gost/gost28147.vec", "MAC");
    const Binary key = v.Bin("Key"), sbox = GetSBoxByID(uint32_t(v.Number("SBox"))), data = v.Bin("Data");
    GOST28147 cipher(key, uint32_t(v.Number("SBox")), 0, 0, 4);
    Binary iv;
    EXPECT_EQ(cipher.CalcCCS(data, iv), v.Bin("Mac"));
    EXPECT_EQ(iv.size(), 8u);
    EXPECT_EQ(Slice(iv, 0, 4), v.Bin("Mac"));
    EXPECT_EQ(cipher.GetImit(data, Binary(8)), iv);
    uint8_t imit[4], zeroIv[8] = {};
    GOST28147_CalcCCS(key.data(), sbox.data(), data.data(), uint32_t(data.size()), imit, 4);
    EXPECT_EQ(Binary(imit, imit + 4), v.Bin("Mac"));
    GOST28147_CalcCCS(key.data(), sbox.data(), zeroIv, data.data(), uint32_t(data.size()), imit, 4);
    EXPECT_EQ(Binary(imit, imit + 4), v.Bin("Mac"));
    const auto ecb = test::VectorInSection("gost/gost28147.vec", "ECB");
    const Binary ecbKey = ecb.Bin("Key"), ecbSBox = GetSBoxByID(uint32_t(ecb.Number("SBox")));
    Binary block = ecb.Bin("Plain");
    GOST28147_EncryptBlock(ecbKey.data(), ecbSBox.data(), block.data());
    EXPECT_EQ(block, ecb.Bin("Cipher"));
    GOST28147_DecryptBlock(ecbKey.data(), ecbSBox.data(), block.data());
    EXPECT_EQ(block, ecb.Bin("Plain"));
    // CCS padding applies before the MAC; GetCCSSize is 4 whatever the CCS size; size 0 gives no bytes.
    GOST28147 padded(Key32, 2u, 1, 0, 8);
    iv.clear();
    EXPECT_EQ(padded.CalcCCS(Binary("0102030405"), iv), padded.GetImit(Binary("0102030405800000"), Binary(8)));
    EXPECT_EQ(padded.GetCCSSize(), 4u);
    EXPECT_TRUE(GOST28147(Key32, 2u, 0, 0, 0).CalcCCS(Binary(8), iv).empty());
    EXPECT_EQ(iv.size(), 8u);
    // One block is one MAC step: no zero block is added to it.
    const Binary single = test::PseudoRandomMessage(8, 33);
    Binary one, two;
    EXPECT_NE(cipher.CalcCCS(single, one), cipher.CalcCCS(single + Binary(8), two));
}

// Counter mode leaves in the IV the register whose encipherment the next piece uses.
TEST(GOST28147, CounterModeLeavesTheNextRegisterInTheIv) {
    GOST28147 cipher(Key32, 2u, 0, 0, 4);
    const Binary data = test::PseudoRandomMessage(24, 34), start("0102030405060708");
    const Binary whole = cipher.Encrypt(data, 3, 0, start);
    Binary iv = start, first = Slice(data, 0, 16);
    cipher.Process(first, iv, 3, 1);
    EXPECT_EQ(first, Slice(whole, 0, 16));
    Binary gamma = iv;
    cipher.EncryptBlock(gamma.data());
    EXPECT_EQ(Xor(Slice(data, 16, 8), gamma), Slice(whole, 16, 8));
    // No data, no step: the register stays where it is.
    Binary none, kept = iv;
    cipher.Process(none, kept, 3, 1);
    EXPECT_EQ(kept, iv);
    EXPECT_TRUE(none.empty());
}

// Meshing starts after each whole 1024 bytes, in every mode and in the MAC, and
// never outlives the call; a clone meshes too. The values are checked against gostprov.
TEST(GOST28147, MeshingStartsAfter1024BytesAndRestoresTheKey) {
    GOST28147 cipher(Key32, 2u, 0, 0, 4), plain(Key32, 2u, 0, 0, 4);
    cipher.SetMeshingMode(GOST28147::MESHING_CRYPTOPRO);
    const Binary iv("0102030405060708"), exact = test::PseudoRandomMessage(1024, 36);
    const Binary longer = test::PseudoRandomMessage(1032, 37);
    for (uint32_t mode : {1u, 2u, 3u, 4u}) {
        SCOPED_TRACE(mode);
        EXPECT_EQ(cipher.Encrypt(exact, mode, 0, iv), plain.Encrypt(exact, mode, 0, iv));
        EXPECT_EQ(cipher.GetKey(), Key32);
        const Binary meshed = cipher.Encrypt(longer, mode, 0, iv), unmeshed = plain.Encrypt(longer, mode, 0, iv);
        EXPECT_EQ(cipher.GetKey(), Key32);
        EXPECT_EQ(Slice(meshed, 0, 1024), Slice(unmeshed, 0, 1024));
        EXPECT_NE(meshed, unmeshed);
        EXPECT_EQ(cipher.Decrypt(meshed, mode, 0, iv), longer);
        EXPECT_EQ(cipher.GetKey(), Key32);
        EXPECT_EQ(cipher.Clone(Binary())->Encrypt(longer, mode, 0, iv), meshed);
    }
    // With meshing, Decrypt removes only the padding of method 1; others stay.
    EXPECT_EQ(cipher.Decrypt(cipher.Encrypt(Slice(longer, 0, 1030), 2, 1, iv), 2, 1, iv), Slice(longer, 0, 1030));
    EXPECT_EQ(cipher.Decrypt(cipher.Encrypt(Slice(longer, 0, 1030), 2, 2, iv), 2, 2, iv),
              Slice(longer, 0, 1030) + Binary("0202"));
}

TEST(GOST28147, SBoxByIdOrTableAndReplacedKeepingTheKey) {
    GOST28147 byId(Key32, 7u, 0, 0, 4), byTable(Key32, Uncompress(GetSBoxByID(7)), 0, 0, 4);
    EXPECT_EQ(byTable.GetSBox(), GetSBoxByID(7));
    EXPECT_EQ(byId.GetSBox(), GetSBoxByID(7));
    EXPECT_EQ(byId.GetKey(), Key32);
    const Binary data = test::PseudoRandomMessage(16, 39);
    EXPECT_EQ(byId.Encrypt(data, 1, 0, Binary()), byTable.Encrypt(data, 1, 0, Binary()));
    byTable.SetSBox(GetSBoxByID(2));
    EXPECT_EQ(byTable.GetKey(), Key32);
    EXPECT_EQ(byTable.Encrypt(data, 1, 0, Binary()), GOST28147(Key32, 2u, 0, 0, 4).Encrypt(data, 1, 0, Binary()));
}

TEST(GOST28147, RefusesBadArgumentsWithTheirMessages) {
    const Binary sbox = GetSBoxByID(2), data("0102030405060708"), iv("0102030405060708"), shortIv("01020304");
    GOST28147 cipher(Key32, 2u, 0, 0, 4);
    Binary ivCopy = iv, shortIvCopy = shortIv;
    uint8_t imit[8];
    const uint8_t* key = Key32.data();
    // One value a byte: a high nibble cannot be packed and must not be dropped.
    Binary expanded = Uncompress(sbox);
    expanded[37] = 0x1B;
    const char* tooHigh = "Wrong sbox value: byte 37 is 0x1B, expected 0 to 15";
    test::ExpectRefusals({
        {[&] { GetSBoxByID(11); }, "R3411: unknown sbox", 0},
        {[&] { Compress(Binary(127)); }, "Wrong sbox size."},
        {[&] { Uncompress(Binary(128)); }, "Wrong sbox size."},
        {[&] { SBoxPack(Binary(64)); }, "Wrong sbox size."},
        {[&] { Gost2Cryptocom(Binary(100)); }, "Wrong sbox size"},
        {[&] { Cryptocom2Gost(Binary(64)); }, "Wrong sbox size"},
        {[&] { Compress(expanded); }, tooHigh},
        {[&] { Gost2Cryptocom(expanded); }, tooHigh},
        {[&] { GOST28147(Key32, expanded, 0, 0, 4); }, tooHigh},
        {[&] { GOST28147(Binary(), sbox, 0, 0, 4); }, "Invalid key len"},
        {[&] { GOST28147(Key32, Binary(), 0, 0, 4); }, "Invalid sbox len"},
        {[&] { GOST28147(Key32, sbox, 0, 0, 9); }, "Invalid ccs size"},
        {[&] { GOST28147(Binary(31), sbox, 0, 0, 4); }, "Invalid key length"},
        {[&] { GOST28147(Key32, Binary(100), 0, 0, 4); }, "Wrong sbox size"},
        {[&] { GOST28147(Binary(), 2u, 0, 0, 4); }, "Invalid key len"},
        {[&] { GOST28147(Key32, 2u, 0, 0, 9); }, "Invalid ccs size"},
        {[&] { GOST28147(Binary(31), 2u, 0, 0, 4); }, "Invalid key length"},
        {[&] { GOST28147(Key32, 11u, 0, 0, 4); }, "R3411: unknown sbox", 0},
        {[&] { Gost2Cryptocom(Binary()); }, "Wrong sbox size"},
        {[&] { cipher.Process(ivCopy, shortIvCopy, 3, 1); }, "Invalid iv"},
        {[&] { cipher.SetKey(Binary(31)); }, "Invalid key length"},
        {[&] { cipher.LoadKey(Binary(31)); }, "Invalid key length"},
        {[&] { cipher.CalcCCS(Binary(), ivCopy); }, "Empty data is invalid"},
        {[&] { cipher.CalcCCS(Binary(12), ivCopy); }, "Invalid data length"},
        {[&] { cipher.GetImit(Binary(), iv); }, "Empty data is invalid"},
        {[&] { cipher.GetImit(data, shortIv); }, "Invalid iv length"},
        {[&] { cipher.SetMeshingMode(3); }, "Invalid meshing mode 3, expected 0, 1 or 2"},
        // The counter chain has pieces of its own.
        {[&] { cipher.EncryptFirst(data, 3, 0, iv), cipher.EncryptNext(Binary(), true); }, "Empty data is invalid"},
        {[&] { cipher.EncryptFirst(data, 3, 0, iv), cipher.DecryptNext(Binary(), true); }, "Empty data is invalid"},
        {[&] { GOST28147_CalcCCS(nullptr, sbox.data(), data.data(), 8, imit, 4); }, "Invalid key pointer"},
        {[&] { GOST28147_CalcCCS(key, nullptr, data.data(), 8, imit, 4); }, "Invalid sbox pointer"},
        {[&] { GOST28147_CalcCCS(key, sbox.data(), nullptr, 8, imit, 4); }, "Invalid data pointer"},
        {[&] { GOST28147_CalcCCS(key, sbox.data(), data.data(), 8, nullptr, 4); }, "Invalid imit pointer"},
        {[&] { GOST28147_CalcCCS(key, sbox.data(), nullptr, data.data(), 8, imit, 4); }, "Invalid iv pointer"},
        {[&] { GOST28147_CalcCCS(key, sbox.data(), data.data(), 8, imit, 9); }, "Invalid imit length"},
        {[&] { GOST28147_CalcCCS(key, sbox.data(), data.data(), nullptr, 8, imit, 4); }, "Invalid data pointer"},
        {[&] { GOST28147_CalcCCS(key, sbox.data(), data.data(), data.data(), 8, nullptr, 4); }, "Invalid imit pointer"},
        {[&] { GOST28147_CalcCCS(key, sbox.data(), data.data(), data.data(), 8, imit, 9); }, "Invalid imit length"},
        {[&] { GOST28147_DecryptBlock(key, sbox.data(), nullptr); }, "Invalid data pointer"},
        {[&] { GOST28147_EncryptBlock(nullptr, sbox.data(), imit); }, "Invalid key pointer"},
        {[&] { GOST28147_EncryptBlock(key, nullptr, imit); }, "Invalid sbox pointer"},
    });
    EXPECT_EQ(ivCopy, iv);
    EXPECT_EQ(shortIvCopy, shortIv);
    EXPECT_NO_THROW(GOST28147(Key32, sbox, 0, 0, 8));
}

std::vector<std::string> g_labels;
std::vector<size_t> g_counts;  // of a null pointer: 99
void Record(const char* label, const void* data, size_t count) {
    g_labels.push_back(label);
    g_counts.push_back(data ? count : 99);
}

// The trace of one block: 31 rounds and the last one, each of its lines with one
// word, between the plain and cipher text of 8 bytes.
TEST(Gost3413Block, TraceOfEveryRound) {
    const auto v = test::VectorInSection("gost/gost3413_magma.vec", "Block");
    const Binary key = v.Bin("Key"), plain = v.Bin("Plain");
    Binary out(8);
    ASSERT_EQ(Encrypt_89(plain.data(), out.data(), key.data(), Record, Record), 0);
    std::vector<std::string> expected = {"Encrypt_89: plain text: ", "CryptBlock: input a1:", "CryptBlock: input a0:"};
    for (int round = 0; round < 32; ++round) {
        const std::string name = round < 31 ? "Round: " : "RoundShtrih: ";
        expected.insert(expected.end(), {name + "input a1: ", name + "input a0: ", name + "k: ", "funcG: a: ",
                                         "funcG: k: ", "funcT: a: ", "funcT: output: ", "funcG: output: ",
                                         name + "output a1: ", name + "output a0: "});
    }
    expected.insert(expected.end(), {"CryptBlock: output a1:", "CryptBlock: output a0:", "Encrypt_89: chipher text: "});
    EXPECT_EQ(g_labels, expected);
    EXPECT_EQ(g_counts.front() + g_counts.back(), 16u);  // bytes of the block; one word each line between
    EXPECT_EQ(std::count(g_counts.begin(), g_counts.end(), 1u), long(expected.size() - 2));

    g_labels.clear();
    ASSERT_EQ(Decrypt_89(out.data(), out.data(), key.data(), Record, Record), 0);
    EXPECT_EQ(out, plain);
    EXPECT_EQ(g_labels.front() + g_labels.back(), "Encrypt_89: chipher text: Encrypt_89: plain text: ");
    // Null pointers are reported through the print function, with no data.
    uint8_t block[8] = {};
    g_labels.clear(), g_counts.clear();
    EXPECT_EQ(Encrypt_89(nullptr, block, key.data(), Record, nullptr), -1);
    EXPECT_EQ(Decrypt_89(block, block, nullptr, Record, nullptr), -1);
    EXPECT_EQ(Encrypt_89(block, nullptr, key.data(), nullptr, nullptr), -1);
    EXPECT_EQ(g_labels, (std::vector<std::string>{"Encrypt_89: internal error!", "Decrypt_89: internal error!"}));
    EXPECT_EQ(g_counts, (std::vector<size_t>{99, 99}));
}

// The published block both ways, untraced; then untraced, traced and the
// round-by-round reference agree on random keys and blocks.
TEST(Gost3413Block, PublishedBlockAndEveryPathAgree) {
    const auto v = test::VectorInSection("gost/gost3413_magma.vec", "Block");
    const Binary key = v.Bin("Key"), plain = v.Bin("Plain");
    Binary out(8);
    ASSERT_EQ(Encrypt_89(plain.data(), out.data(), key.data(), nullptr, nullptr), 0);
    EXPECT_EQ(out, v.Bin("Cipher"));
    ASSERT_EQ(Decrypt_89(out.data(), out.data(), key.data(), nullptr, nullptr), 0);
    EXPECT_EQ(out, plain);
    std::mt19937 engine(21);
    for (int round = 0; round < 200; ++round) {
        Binary randomKey(32), block(8), fast(8), traced(8);
        for (auto& b : randomKey) b = uint8_t(engine());
        for (auto& b : block) b = uint8_t(engine());
        ASSERT_EQ(Encrypt_89(block.data(), fast.data(), randomKey.data(), nullptr, nullptr), 0);
        ASSERT_EQ(Encrypt_89(block.data(), traced.data(), randomKey.data(), nullptr, Record), 0);
        ASSERT_EQ(fast, traced);
        ASSERT_EQ(CryptBlock(block.data(), traced.data(), randomKey.data(), G3413_EncryptKeyOrder, nullptr), 0);
        ASSERT_EQ(fast, traced);
        ASSERT_EQ(Decrypt_89(block.data(), fast.data(), randomKey.data(), nullptr, nullptr), 0);
        ASSERT_EQ(Decrypt_89(block.data(), traced.data(), randomKey.data(), nullptr, Record), 0);
        ASSERT_EQ(fast, traced);
        ASSERT_EQ(CryptBlock(block.data(), traced.data(), randomKey.data(), G3413_DecryptKeyOrder, nullptr), 0);
        ASSERT_EQ(fast, traced);
    }
    g_labels.clear(), g_counts.clear();
}

// Each mode function on the example of Appendix A, in both directions; CBC and CFB
// leave their register for GetState, and each CBC call starts again from the IV of
// initialisation. A release clears the pointers.
TEST(Gost3413Modes, AppendixAThroughTheModeFunctions) {
    const auto v = test::VectorInSection("gost/gost3413_magma.vec", "Modes");
    const Binary key = v.Bin("Key"), plain = v.Bin("Plain");
    const size_t length = plain.size();
    Binary out(length);
    G3413_EcbContext ecb;
    ASSERT_EQ(G3413_InitEcb(key.data(), &ecb, nullptr, nullptr), 0);
    ASSERT_EQ(G3413_EncryptEcb(&ecb, plain.data(), out.data(), length), 0);
    EXPECT_EQ(out, v.Bin("Ecb"));
    ASSERT_EQ(G3413_DecryptEcb(&ecb, out.data(), out.data(), length), 0);
    EXPECT_EQ(out, plain);
    G3413_FreeEcb(&ecb);
    EXPECT_EQ(ecb.key, nullptr);

    const Binary cbcIv = v.Bin("CbcIv");
    G3413_CbcContext cbc;
    ASSERT_EQ(G3413_InitCbc(key.data(), &cbc, cbcIv.data(), cbcIv.size(), nullptr, nullptr), 0);
    ASSERT_EQ(G3413_EncryptCbc(&cbc, plain.data(), out.data(), length), 0);
    EXPECT_EQ(out, v.Bin("Cbc"));
    Binary state(24);
    ASSERT_EQ(G3413_GetState(&cbc, 2, state.data()), 0);
    EXPECT_EQ(state, Back(v.Bin("Cbc"), 24));
    ASSERT_EQ(G3413_EncryptCbc(&cbc, plain.data(), out.data(), length), 0);
    EXPECT_EQ(out, v.Bin("Cbc"));
    ASSERT_EQ(G3413_DecryptCbc(&cbc, out.data(), out.data(), length), 0);
    EXPECT_EQ(out, plain);
    ASSERT_EQ(G3413_GetState(&cbc, 2, state.data()), 0);
    EXPECT_EQ(state, Back(v.Bin("Cbc"), 24));
    G3413_FreeCbc(&cbc);
    EXPECT_EQ(cbc.iv, nullptr);

    const Binary cfbIv = v.Bin("CfbIv");
    G3413_CfbOfbContext feedback;
    for (bool encipher : {true, false}) {
        ASSERT_EQ(G3413_InitCfb(key.data(), &feedback, 8, cfbIv.data(), cfbIv.size(), nullptr, nullptr), 0);
        const Binary in = encipher ? plain : v.Bin("Cfb");
        ASSERT_EQ((encipher ? G3413_EncryptCfb : G3413_DecryptCfb)(&feedback, in.data(), out.data(), length), 0);
        EXPECT_EQ(out, encipher ? v.Bin("Cfb") : plain);
        Binary register16(16);
        ASSERT_EQ(G3413_GetState(&feedback, 4, register16.data()), 0);
        EXPECT_EQ(register16, Back(v.Bin("Cfb"), 16));
        G3413_FreeCfbOfb(&feedback);
        EXPECT_EQ(feedback.iv, nullptr);
    }
    const Binary ofbIv = v.Bin("OfbIv");
    ASSERT_EQ(G3413_InitOfb(key.data(), &feedback, 8, ofbIv.data(), ofbIv.size(), nullptr, nullptr), 0);
    ASSERT_EQ(G3413_CryptOfb(&feedback, plain.data(), out.data(), length), 0);
    EXPECT_EQ(out, v.Bin("Ofb"));
    Binary register16(16);
    ASSERT_EQ(G3413_GetState(&feedback, 3, register16.data()), 0);
    EXPECT_EQ(register16, Back(Xor(v.Bin("Ofb"), plain), 16));
    G3413_FreeCfbOfb(&feedback);

    G3413_CtrContext ctr;
    ASSERT_EQ(G3413_InitCtr(key.data(), v.Bin("CtrIv").data(), 8, &ctr, nullptr, nullptr), 0);
    ASSERT_EQ(G3413_CryptCtr(&ctr, plain.data(), out.data(), length), 0);
    EXPECT_EQ(out, v.Bin("Ctr"));
    EXPECT_EQ(Binary(ctr.counter, ctr.counter + 8), v.Bin("CtrIv") + Binary("00000004"));
    G3413_FreeCtr(&ctr);
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

// OFB, CFB and CTR carry their register from call to call; a partial last segment
// ends the context. CFB takes segments shorter than a block; CTR over 12 bytes uses
// the counters IV||00000000 and IV||00000001.
TEST(Gost3413Modes, RegistersContinueUntilAPartialSegment) {
    const auto v = test::VectorInSection("gost/gost3413_magma.vec", "Modes");
    const Binary key = v.Bin("Key"), plain = v.Bin("Plain");
    Binary out(plain.size()), back(plain.size());
    G3413_CfbOfbContext ofb, enc, dec;
    ASSERT_EQ(G3413_InitOfb(key.data(), &ofb, 8, v.Bin("OfbIv").data(), 16, nullptr, nullptr), 0);
    ASSERT_EQ(G3413_CryptOfb(&ofb, plain.data(), out.data(), 16), 0);
    ASSERT_EQ(G3413_DecryptOfb(&ofb, plain.data() + 16, out.data() + 16, 13), 0);
    EXPECT_EQ(Slice(out, 0, 29), Slice(v.Bin("Ofb"), 0, 29));
    EXPECT_EQ(G3413_CryptOfb(&ofb, plain.data(), out.data(), 8), -1);
    G3413_FreeCfbOfb(&ofb);

    ASSERT_EQ(G3413_InitCfb(key.data(), &enc, 3, v.Bin("CfbIv").data(), 16, nullptr, nullptr), 0);
    ASSERT_EQ(G3413_InitCfb(key.data(), &dec, 3, v.Bin("CfbIv").data(), 16, nullptr, nullptr), 0);
    ASSERT_EQ(G3413_EncryptCfb(&enc, plain.data(), out.data(), out.size()), 0);
    ASSERT_EQ(G3413_DecryptCfb(&dec, out.data(), back.data(), back.size()), 0);
    EXPECT_EQ(back, plain);
    EXPECT_EQ(Slice(out, 0, 3), Slice(v.Bin("Cfb"), 0, 3));
    G3413_FreeCfbOfb(&enc);
    G3413_FreeCfbOfb(&dec);

    G3413_CtrContext ctr;
    ASSERT_EQ(G3413_InitCtr(key.data(), v.Bin("CtrIv").data(), 8, &ctr, nullptr, nullptr), 0);
    ASSERT_EQ(G3413_CryptCtr(&ctr, plain.data(), out.data(), 12), 0);
    EXPECT_EQ(Slice(out, 0, 12), Slice(v.Bin("Ctr"), 0, 12));
    EXPECT_EQ(G3413_CryptCtr(&ctr, plain.data(), out.data(), 8), -1);
    G3413_FreeCtr(&ctr);
    EXPECT_EQ(ctr.key, nullptr);
}

// One whole block is closed with K1, a short one is padded with 80 00 .. and
// closed with K2.
TEST(Gost3413Mac, OneWholeBlockUsesK1AndAShortOneK2) {
    const auto v = test::VectorInSection("gost/gost3413_magma.vec", "Modes");
    const Binary key = v.Bin("Key"), plain = v.Bin("Plain");
    for (size_t length : {8u, 7u, 1u}) {
        SCOPED_TRACE(length);
        G3413_MacContext ctx;
        Binary mac(8), expected(8);
        ASSERT_EQ(G3413_InitMac(key.data(), 8, &ctx, nullptr, nullptr), 0);
        ASSERT_EQ(G3413_UpdateMac(&ctx, plain.data(), length), 0);
        ASSERT_EQ(G3413_FinishMac(&ctx, mac.data()), 0);
        G3413_FreeMac(&ctx);
        Binary last = Slice(plain, 0, uint32_t(length));
        if (length < 8) last += Binary{0x80} + Binary(7 - length, 0x00);
        const Binary closed = Xor(last, v.Bin(length == 8 ? "MacK1" : "MacK2"));
        ASSERT_EQ(Encrypt_89(closed.data(), expected.data(), key.data(), nullptr, nullptr), 0);
        EXPECT_EQ(mac, expected);
    }
    // The subkeys come from R = E(0) by one-bit shifts, the top bit dropped.
    Binary r(8), zero(8);
    ASSERT_EQ(Encrypt_89(zero.data(), r.data(), key.data(), nullptr, nullptr), 0);
    EXPECT_EQ(r, v.Bin("MacR"));
    Binary shifted(8);
    G3413_ShiftLeft(Binary("80 01 ff 00 00 00 00 81").data(), shifted.data(), 8);
    EXPECT_EQ(shifted, Binary("00 03 fe 00 00 00 01 02"));
    G3413_PadMac(Binary("11 22 33").data(), 3, shifted.data(), 8);
    EXPECT_EQ(shifted, Binary("11 22 33 80 00 00 00 00"));
}

// The published subkeys, and the published MAC over updates that split blocks;
// with a print function the blocks go one by one through the traced block function.
TEST(Gost3413Mac, PublishedSubkeysAndMacOverSplitUpdates) {
    const auto v = test::VectorInSection("gost/gost3413_magma.vec", "Modes");
    const Binary key = v.Bin("Key"), plain = v.Bin("Plain");
    for (G3413_PrintFn print : {G3413_PrintFn{nullptr}, G3413_PrintFn{Record}}) {
        G3413_MacContext ctx;
        ASSERT_EQ(G3413_InitMac(key.data(), 4, &ctx, print, nullptr), 0);
        EXPECT_EQ(Binary(ctx.K1, ctx.K1 + 8), v.Bin("MacK1"));
        EXPECT_EQ(Binary(ctx.K2, ctx.K2 + 8), v.Bin("MacK2"));
        G3413_FreeMac(&ctx);
        // Each row: the lengths of the updates; the last takes what is left.
        const std::vector<std::vector<size_t>> splits = {{5, 3}, {1}, {1, 7}, {8}, {7, 2, 9}, {}};
        for (const auto& split : splits) {
            ASSERT_EQ(G3413_InitMac(key.data(), 4, &ctx, print, nullptr), 0);
            size_t at = 0;
            for (size_t length : split) {
                ASSERT_EQ(G3413_UpdateMac(&ctx, plain.data() + at, length), 0);
                at += length;
            }
            ASSERT_EQ(G3413_UpdateMac(&ctx, plain.data() + at, plain.size() - at), 0);
            Binary mac(8);
            ASSERT_EQ(G3413_FinishMac(&ctx, mac.data()), 0);
            EXPECT_EQ(Slice(mac, 0, 4), v.Bin("Mac"))
                << (print ? "traced" : "untraced") << ", row " << (&split - splits.data());
            G3413_FreeMac(&ctx);
        }
    }
}

TEST(Gost3413, RefusalsReturnMinusOne) {
    const auto v = test::VectorInSection("gost/gost3413_magma.vec", "Modes");
    const Binary key = v.Bin("Key"), iv = v.Bin("CbcIv");
    uint8_t in[16] = {}, out[16] = {1, 2, 3, 4, 5, 6, 7, 8};
    G3413_EcbContext ecb;
    G3413_CbcContext cbc;
    G3413_CfbOfbContext feedback;
    G3413_CtrContext ctr, spent;
    G3413_MacContext mac;
    ASSERT_EQ(G3413_InitEcb(key.data(), &ecb, nullptr, nullptr), 0);
    ASSERT_EQ(G3413_InitCtr(key.data(), iv.data(), 0, &spent, nullptr, nullptr), 0);  // s = 0 is accepted
    ASSERT_EQ(G3413_InitMac(key.data(), 4, &mac, nullptr, nullptr), 0);
    ASSERT_EQ(G3413_InitCbc(key.data(), &cbc, iv.data(), 8, nullptr, nullptr), 0);
    G3413_CfbOfbContext ofb;
    ASSERT_EQ(G3413_InitOfb(key.data(), &ofb, 8, iv.data(), 8, nullptr, nullptr), 0);
    const std::function<int()> refused[] = {
        [&] { return G3413_EncryptEcb(&ecb, in, out, 12); },
        [&] { return G3413_EncryptEcb(&ecb, in, out, 0); },
        [&] { return G3413_EncryptEcb(nullptr, in, out, 8); },
        [&] { return G3413_DecryptEcb(&ecb, in, nullptr, 8); },
        [&] { return G3413_InitEcb(nullptr, &ecb, nullptr, nullptr); },
        [&] { return G3413_InitCbc(key.data(), &cbc, iv.data(), 12, nullptr, nullptr); },
        [&] { return G3413_InitCbc(key.data(), &cbc, nullptr, 8, nullptr, nullptr); },
        [&] { return G3413_InitCbc(key.data(), nullptr, iv.data(), 8, nullptr, nullptr); },
        [&] { return G3413_EncryptCbc(&cbc, in, out, 12); },
        [&] { return G3413_EncryptCbc(&cbc, in, nullptr, 8); },
        [&] { return G3413_DecryptCbc(&cbc, in, out, 12); },
        [&] { return G3413_DecryptCbc(&cbc, in, out, 0); },
        [&] { return G3413_DecryptCbc(&cbc, nullptr, out, 8); },
        [&] { return G3413_DecryptCbc(nullptr, in, out, 8); },
        [&] { return G3413_CryptOfb(&ofb, in, out, 0); },
        [&] { return G3413_CryptOfb(&ofb, nullptr, out, 8); },
        [&] { return G3413_CryptOfb(&ofb, in, nullptr, 8); },
        [&] { return G3413_InitOfb(key.data(), &feedback, 0, iv.data(), 8, nullptr, nullptr); },
        [&] { return G3413_InitOfb(key.data(), &feedback, 9, iv.data(), 8, nullptr, nullptr); },
        [&] { return G3413_InitCfb(key.data(), &feedback, 9, iv.data(), 8, nullptr, nullptr); },
        [&] { return G3413_InitOfb(key.data(), &feedback, 8, iv.data(), 0, nullptr, nullptr); },
        [&] { return G3413_InitCfb(key.data(), &feedback, 8, iv.data(), 12, nullptr, nullptr); },
        [&] { return G3413_InitCtr(key.data(), iv.data(), 9, &ctr, nullptr, nullptr); },
        [&] { return G3413_CryptCtr(&spent, in, out, 8); },
        [&] { return G3413_InitMac(key.data(), 0, &mac, nullptr, nullptr); },
        [&] { return G3413_InitMac(key.data(), 9, &mac, nullptr, nullptr); },
        [&] { return G3413_InitMac(nullptr, 4, &mac, nullptr, nullptr); },
        [&] { return G3413_UpdateMac(&mac, in, 0); },
        [&] { return G3413_UpdateMac(&mac, nullptr, 4); },
        [&] { return G3413_FinishMac(&mac, nullptr); },
        [&] { return G3413_FinishMac(nullptr, nullptr); },
    };
    for (size_t row = 0; row < std::size(refused); ++row) EXPECT_EQ(refused[row](), -1) << "row " << row;
    // GetState copies nothing for other modes; a null context is released without harm.
    EXPECT_EQ(G3413_GetState(&spent, 5, out), 0);
    EXPECT_EQ(Binary(out, out + 8), Binary("0102030405060708"));
    G3413_FreeEcb(&ecb);
    G3413_FreeCtr(&spent);
    G3413_FreeMac(&mac);
    G3413_FreeCbc(&cbc);
    G3413_FreeCfbOfb(&ofb);
    G3413_FreeEcb(nullptr);
}

// ---- GOST3412M

Binary ReverseBlocks(Binary data) {
    for (size_t at = 0; at + 8 <= data.size(); at += 8) std::reverse(data.begin() + at, data.begin() + at + 8);
    return data;
}

// Byte order 1 takes the key's 4-byte words, the blocks, IV blocks and the MAC
// each turned round; a partial last block is turned round on its own.
// The five modes of the 64-bit cipher with the names of their IV and cipher
// text in gost/gost3413_magma.vec.
struct MagmaMode {
    uint32_t mode;
    const char* iv;
    const char* cipherText;
};
constexpr MagmaMode MagmaModes[] = {
    {1, nullptr, "Ecb"}, {2, "CbcIv", "Cbc"}, {3, "OfbIv", "Ofb"}, {4, "CfbIv", "Cfb"}, {5, "CtrIv", "Ctr"}};

TEST(GOST3412M, ReversedByteOrderEquivalences) {
    const auto v = test::VectorInSection("gost/gost3413_magma.vec", "Modes");
    Binary key = v.Bin("Key");
    const Binary plain = v.Bin("Plain");
    GOST3412M standard(key, 8, 0, 0);
    for (size_t at = 0; at < key.size(); at += 4) std::reverse(key.begin() + at, key.begin() + at + 4);
    GOST3412M reversed(key, 8, 0, 1);
    EXPECT_EQ(reversed.GetKey(), key);
    EXPECT_EQ(reversed.Clone(Binary())->GetKey(), key);
    // Every mode in both directions, through Encrypt and Decrypt, Process (with the
    // register it leaves, blocks turned round) and a chain; the CTR IV turned round whole.
    for (const auto& m : MagmaModes) {
        SCOPED_TRACE(m.cipherText);
        const Binary iv = m.iv == nullptr ? Binary(8)
                          : m.mode == 5   ? Reversed(v.Bin(m.iv))
                                          : ReverseBlocks(v.Bin(m.iv));
        const Binary in = ReverseBlocks(plain), out = ReverseBlocks(v.Bin(m.cipherText));
        EXPECT_EQ(reversed.Encrypt(in, m.mode, 0, iv), out);
        EXPECT_EQ(reversed.Decrypt(out, m.mode, 0, iv), in);
        Binary data = in, running = iv;
        reversed.Process(data, running, m.mode, 1);
        EXPECT_EQ(data, out);
        Binary ivAfter = iv;
        if (m.mode == 2 || m.mode == 4) ivAfter = ReverseBlocks(Back(v.Bin(m.cipherText), uint32_t(iv.size())));
        if (m.mode == 3) ivAfter = ReverseBlocks(Back(Xor(v.Bin("Ofb"), plain), 16));
        EXPECT_EQ(running, ivAfter);
        Binary chained = reversed.EncryptFirst(Slice(in, 0, 16), m.mode, 0, iv);
        chained += reversed.EncryptNext(Slice(in, 16, 16), true);
        EXPECT_EQ(chained, out);
        Binary back = reversed.DecryptFirst(Slice(out, 0, 8), m.mode, 0, iv);
        back += reversed.DecryptNext(Slice(out, 8, 24), true);
        EXPECT_EQ(back, in);
    }
    Binary unused;
    EXPECT_EQ(reversed.CalcCCS(ReverseBlocks(plain), unused), Reversed(standard.CalcCCS(plain, unused)));
    const Binary data = test::PseudoRandomMessage(13, 61);
    Binary turned = ReverseBlocks(data);
    std::reverse(turned.begin() + 8, turned.end());
    EXPECT_EQ(reversed.CalcCCS(turned, unused), Reversed(standard.CalcCCS(data, unused)));
    Binary block = ReverseBlocks(Slice(plain, 0, 8));
    reversed.EncryptBlock(block.data());
    EXPECT_EQ(block, ReverseBlocks(Slice(v.Bin("Ecb"), 0, 8)));
}

TEST(GOST3412M, CtrChainContinuesOneCounterStream) {
    const auto v = test::VectorInSection("gost/gost3413_magma.vec", "Modes");
    GOST3412M cipher(v.Bin("Key"), 8, 0, 0);
    const Binary plain = v.Bin("Plain"), iv = v.Bin("CtrIv");
    Binary chained = cipher.EncryptFirst(Slice(plain, 0, 8), 5, 0, iv);
    // A First refused on its IV in mid-chain leaves the running chain untouched.
    EXPECT_THROW(cipher.EncryptFirst(Binary(8), 5, 0, Binary("010203")), Exception);
    chained += cipher.EncryptNext(Slice(plain, 8, 16), false);
    chained += cipher.EncryptNext(Slice(plain, 24, 8), true);
    EXPECT_EQ(chained, v.Bin("Ctr"));
    Binary back = cipher.DecryptFirst(Slice(chained, 0, 16), 5, 0, iv);
    back += cipher.DecryptNext(Slice(chained, 16, 16), true);
    EXPECT_EQ(back, plain);
    // Process leaves in the IV the CBC register (three blocks here), but the CTR IV as given.
    Binary data = plain, cbcIv = v.Bin("CbcIv"), ctrIv = iv;
    cipher.Process(data, cbcIv, 2, 1);
    EXPECT_EQ(cbcIv, Back(v.Bin("Cbc"), 24));
    cipher.Process(data, ctrIv, 5, 1);
    EXPECT_EQ(ctrIv, iv);
}

// A First refused for any reason in mid-chain leaves the running chain, its mode
// context included, as it was, in every mode.
TEST(GOST3412M, RefusedFirstLeavesTheRunningChain) {
    const auto v = test::VectorInSection("gost/gost3413_magma.vec", "Modes");
    const Binary plain = v.Bin("Plain");
    GOST3412M cipher(v.Bin("Key"), 8, 0, 0);
    for (const auto& m : MagmaModes) {
        SCOPED_TRACE(m.cipherText);
        const Binary iv = m.iv ? v.Bin(m.iv) : Binary();
        // A chain left unfinished is replaced as a whole by the next First.
        cipher.EncryptFirst(Slice(plain, 0, 8), m.mode, 0, iv);
        cipher.EncryptNext(Slice(plain, 8, 8), false);
        Binary chained = cipher.EncryptFirst(Slice(plain, 0, 8), m.mode, 0, iv);
        EXPECT_THROW(cipher.EncryptFirst(Binary(8), 5, 0, Binary("010203")), Exception);
        EXPECT_THROW(cipher.DecryptFirst(Binary(8), 2, 0, Binary(12)), Exception);
        EXPECT_THROW(cipher.EncryptFirst(Binary(12), 1, 0, Binary()), Exception);
        EXPECT_THROW(cipher.EncryptFirst(Binary(), 1, 0, Binary()), Exception);
        EXPECT_THROW(cipher.DecryptFirst(Binary(8), 1, 4, Binary()), Exception);
        chained += cipher.EncryptNext(Slice(plain, 8, 8), false);
        EXPECT_THROW(GOST3412M(v.Bin("Key"), 8, 0, 1).EncryptFirst(Binary(8), 4, 0, Binary(12)), Exception);
        chained += cipher.EncryptNext(Slice(plain, 16, 16), true);
        EXPECT_EQ(chained, v.Bin(m.cipherText));
    }
}

TEST(GOST3412M, MacLengthAndRefusals) {
    const Binary key(32, 0x33), data(16);
    Binary unused;
    EXPECT_EQ(GOST3412M(key, 3, 0, 0).CalcCCS(Binary("01"), unused).size(), 3u);
    EXPECT_EQ(GOST3412M(key, 3, 0, 0).GetCCSSize(), 8u);
    EXPECT_TRUE(unused.empty());
    // A shorter MAC is the head of the full one.
    const auto v = test::VectorInSection("gost/gost3413_magma.vec", "Modes");
    EXPECT_EQ(Slice(GOST3412M(v.Bin("Key"), 8, 0, 0).CalcCCS(v.Bin("Plain"), unused), 0, 4), v.Bin("Mac"));
    GOST3412M cipher(key, 8, 0, 0), reversed(key, 8, 0, 1), ended(key, 8, 0, 0);
    ended.EncryptFirst(data, 5, 0, Binary("01020304"));
    ended.EncryptNext(data, true);
    test::ExpectRefusals({
        {[&] { ended.EncryptNext(data, false); }, "Chain not started"},  // the last piece ended the chain
        {[&] { GOST3412M(Binary(31), 8, 0, 0); }, "Invalid key length"},
        {[&] { cipher.CalcCCS(Binary(), unused); }, "Empty data is invalid"},
        {[&] { GOST3412M(key, 0, 0, 0).CalcCCS(data, unused); }, "Internal error"},
        {[&] { GOST3412M(key, 9, 0, 0).CalcCCS(data, unused); }, "Internal error"},  // 8 bytes at most
        // An empty IV stands for a zero block, which is no CTR IV.
        {[&] { cipher.Encrypt(data, 5, 0, Binary()); }, "Размер IV должен быть равен половине размера блока для CTR"},
        {[&] { reversed.Encrypt(data, 2, 0, Binary(12)); }, "Размер IV должен быть кратен размеру блока"},
        {[&] { cipher.Encrypt(data, 2, 0, Binary(12)); }, "Internal error"},
    });
}

}  // namespace
}  // namespace ZORVIK
