// GOST 28147-89 beyond the common block-cipher tables: the S-box tables and their
// layouts, the MAC and its free functions, CryptoPro key meshing, the key and
// S-box accessors and the refusals.
#include "service/cryptlib/sym/gost28147.h"

#include <gtest/gtest.h>

#include "service/cryptlib/crypto_test_util.h"
#include "service/cryptlib/sym/gost28147_core.h"
#include "service/cryptlib/sym/gost_sbox.h"

namespace ZORVIK {
namespace {

using binary::Binary;

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
        ASSERT_EQ(compressed.size(), 64u);
        EXPECT_EQ(Gost2Cryptocom(compressed), rows);
        EXPECT_EQ(Gost2Cryptocom(Uncompress(compressed)), rows);
        EXPECT_EQ(Compress(Uncompress(compressed)), compressed);
        // The core block is the row layout with K8 first; loaded and read back unchanged.
        const Binary block = SBoxPack(rows);
        for (uint32_t j = 0; j < 8; ++j) EXPECT_EQ(Slice(block, 16 * j, 16), Slice(rows, 16 * (7 - j), 16));
        gost28147::Core core;
        gost28147::LoadSBox(core, block.data());
        EXPECT_EQ(Cryptocom2Gost(SBoxUnpack(core)), compressed);
    }
}

TEST(GOST28147, MacOfThePublishedVectorThroughEveryEntry) {
    const auto v = test::VectorInSection("gost/gost28147.vec", "MAC");
    const Binary key = v.Bin("Key"), sbox = GetSBoxByID(uint32_t(v.Number("SBox"))), data = v.Bin("Data");
    GOST28147 cipher(key, uint32_t(v.Number("SBox")), 0, 0, 4);
    Binary iv;
    cipher.CalcCCS(data, iv);
    EXPECT_EQ(Slice(iv, 0, 4), v.Bin("Mac"));
    EXPECT_EQ(cipher.GetImit(data, Binary(8)), iv);
    uint8_t imit[4], zeroIv[8] = {};
    GOST28147_CalcCCS(key.data(), sbox.data(), data.data(), uint32_t(data.size()), imit, 4);
    EXPECT_EQ(Binary(imit, imit + 4), v.Bin("Mac"));
    GOST28147_CalcCCS(key.data(), sbox.data(), zeroIv, data.data(), uint32_t(data.size()), imit, 4);
    EXPECT_EQ(Binary(imit, imit + 4), v.Bin("Mac"));
    // CCS padding applies before the MAC; GetCCSSize is 4 whatever the CCS size; size 0 gives no bytes.
    GOST28147 padded(Key32, 2u, 1, 0, 8);
    iv.clear();
    EXPECT_EQ(padded.CalcCCS(Binary("0102030405"), iv), padded.GetImit(Binary("0102030405800000"), Binary(8)));
    EXPECT_EQ(padded.GetCCSSize(), 4u);
    EXPECT_TRUE(GOST28147(Key32, 2u, 0, 0, 0).CalcCCS(Binary(8), iv).empty());
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
        EXPECT_EQ(Slice(meshed, 0, 1024), Slice(unmeshed, 0, 1024));
        EXPECT_NE(meshed, unmeshed);
        EXPECT_EQ(cipher.Decrypt(meshed, mode, 0, iv), longer);
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
    const Binary data = test::PseudoRandomMessage(16, 39);
    EXPECT_EQ(byId.Encrypt(data, 1, 0, Binary()), byTable.Encrypt(data, 1, 0, Binary()));
    byTable.SetSBox(GetSBoxByID(2));
    EXPECT_EQ(byTable.GetKey(), Key32);
    EXPECT_EQ(byTable.Encrypt(data, 1, 0, Binary()), GOST28147(Key32, 2u, 0, 0, 4).Encrypt(data, 1, 0, Binary()));
}

TEST(GOST28147, RefusesBadArgumentsWithTheirMessages) {
    const Binary sbox = GetSBoxByID(2), data("0102030405060708"), iv("0102030405060708"), shortIv("01020304");
    GOST28147 cipher(Key32, 2u, 0, 0, 4);
    Binary ivCopy = iv;
    uint8_t imit[8], block[8] = {};
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
        {[&] { GOST28147_DecryptBlock(key, sbox.data(), nullptr); }, "Invalid data pointer"},
    });
}

}  // namespace
}  // namespace ZORVIK
