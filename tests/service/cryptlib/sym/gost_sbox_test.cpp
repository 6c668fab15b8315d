#include "service/cryptlib/sym/gost_sbox.h"

#include <gtest/gtest.h>

#include <random>

#include "service/common/exception.h"
#include "service/cryptlib/hash/crypto_test_util.h"
#include "service/cryptlib/sym/gost28147.h"
#include "service/cryptlib/sym/gost28147_core.h"
#include "support/vectors.h"

namespace ZORVIK {
namespace {

using binary::Binary;

// "Row" of the vector file: 128 hex digits, one value each, K1..K8.
Binary RowLayout(const test::TestVector& v) {
    const std::string& digits = v.Text("Row");
    EXPECT_EQ(digits.size(), 128u) << v.Where();
    Binary rows;
    for (char c : digits) rows.push_back(uint8_t(std::stoul(std::string(1, c), nullptr, 16)));
    return rows;
}

TEST(GostSBox, BuiltInSetsMatchThePublishedParameterSets) {
    const auto vectors = test::LoadVectors("gost/sboxes.vec");
    ASSERT_EQ(vectors.size(), 11u);
    for (const auto& v : vectors) {
        SCOPED_TRACE(v.Where());
        const uint32_t id = uint32_t(v.Number("Id"));
        const Binary rows = RowLayout(v);
        const Binary compressed = GetSBoxByID(id);
        ASSERT_EQ(compressed.size(), 64u);
        EXPECT_EQ(Gost2Cryptocom(compressed), rows);
        // The core block is the row layout with K8 first.
        const Binary block = SBoxPack(Gost2Cryptocom(compressed));
        for (int j = 0; j < 8; ++j)
            EXPECT_EQ(Binary(block.begin() + 16 * j, block.begin() + 16 * j + 16),
                      Binary(rows.begin() + 16 * (7 - j), rows.begin() + 16 * (8 - j)));
        // Loading into the core and reading back returns the same S-box.
        gost28147::Core core;
        gost28147::LoadSBox(core, block.data());
        EXPECT_EQ(SBoxUnpack(core), rows);
        EXPECT_EQ(Cryptocom2Gost(SBoxUnpack(core)), compressed);
    }
}

TEST(GostSBox, UnknownIdIsACryptoLibraryError) {
    try {
        GetSBoxByID(11);
        FAIL();
    } catch (const CryptLibException& e) {
        EXPECT_STREQ(e.what(), "R3411: unknown sbox");
        EXPECT_EQ(e.ErrorCode(), 0);
    }
}

TEST(GostSBox, ConversionsAreInverses) {
    std::mt19937 engine(13);
    for (int round = 0; round < 20; ++round) {
        Binary expanded(128), compressed(64);
        for (auto& b : expanded) b = uint8_t(engine() & 0x0F);
        for (auto& b : compressed) b = uint8_t(engine());
        EXPECT_EQ(Uncompress(Compress(expanded)), expanded);
        EXPECT_EQ(Cryptocom2Gost(Gost2Cryptocom(compressed)), compressed);
        EXPECT_EQ(Gost2Cryptocom(compressed), Gost2Cryptocom(Uncompress(compressed)));
    }
}

TEST(GostSBox, CompressPacksPairsOfNibbles) {
    Binary expanded(128);
    for (size_t i = 0; i < 128; ++i) expanded[i] = uint8_t(i & 0x0F);
    const Binary compressed = Compress(expanded);
    EXPECT_EQ(Binary(compressed.begin(), compressed.begin() + 8), Binary("01 23 45 67 89 AB CD EF"));
}

TEST(GostSBox, SizeErrors) {
    EXPECT_EQ(test::MessageOf([] { Compress(Binary(127)); }), "Wrong sbox size.");
    EXPECT_EQ(test::MessageOf([] { Uncompress(Binary(128)); }), "Wrong sbox size.");
    EXPECT_EQ(test::MessageOf([] { SBoxPack(Binary(64)); }), "Wrong sbox size.");
    EXPECT_EQ(test::MessageOf([] { Gost2Cryptocom(Binary(100)); }), "Wrong sbox size");
    EXPECT_EQ(test::MessageOf([] { Gost2Cryptocom(Binary()); }), "Wrong sbox size");
    EXPECT_THROW(Cryptocom2Gost(Binary(64)), Exception);
}

TEST(GostSBox, ExpandedValuesAboveFifteenAreRefused) {
    // One value a byte: a high nibble cannot be packed and must not be dropped.
    Binary expanded = Uncompress(GetSBoxByID(2));
    expanded[37] = 0x1B;
    const char* message = "Wrong sbox value: byte 37 is 0x1B, expected 0 to 15";
    EXPECT_EQ(test::MessageOf([&] { Compress(expanded); }), message);
    EXPECT_EQ(test::MessageOf([&] { Gost2Cryptocom(expanded); }), message);
    EXPECT_EQ(test::MessageOf([&] { GOST28147(Binary(32), expanded, 0, 0, 4); }), message);
}

}  // namespace
}  // namespace ZORVIK
