#include <gtest/gtest.h>

#include "service/tlv/tlv.h"
#include "support/error_text.h"
#include "support/vectors.h"

namespace ZORVIK {
namespace {

using binary::Binary;

size_t ChainLength(TLVPtr node) {
    size_t count = 0;
    for (; node; node = node->GetNext()) ++count;
    return count;
}

std::string ParseError(const Binary& input) {
    return test::MessageOf([&] { TLV_Base::Create(input); });
}

TEST(TLVParse, PublishedCases) {
    for (const test::TestVector& v : test::LoadVectors("tlv/parse.vec")) {
        SCOPED_TRACE(v.Where());
        const Binary input = v.Bin("Input");
        if (v.Text("Section") == "Invalid") {
            EXPECT_EQ(ParseError(input), v.Text("Error"));
            continue;
        }
        const TLVPtr chain = TLV_Base::Create(input);
        ASSERT_TRUE(chain);
        EXPECT_EQ(chain->GetTagBytes(), v.Bin("Tag"));
        EXPECT_EQ(ChainLength(chain), v.Number("Count"));
        // Every valid case is in its shortest form, so it encodes back unchanged.
        EXPECT_EQ(chain->EncodeChain(), input);
    }
}

TEST(TLVParse, EveryLengthFormEncodesBackInTheShortestForm) {
    const struct {
        Binary lengthField;
        uint32_t length;
        Binary shortest;
    } cases[] = {
        {Binary("81 80"), 128, Binary("81 80")},
        {Binary("83 01 00 00"), 65536, Binary("83 01 00 00")},
        {Binary("84 00 01 00 00"), 65536, Binary("83 01 00 00")},
        {Binary("82 00 02"), 2, Binary("02")},
    };
    for (const auto& c : cases) {
        const Binary value(c.length, 0x5A);
        const TLVPtr node = ParseTLV(Binary("04") + c.lengthField + value);
        EXPECT_EQ(node->GetValue(), value) << binary::ToHex(c.lengthField);
        EXPECT_EQ(node->Encode(), Binary("04") + c.shortest + value) << binary::ToHex(c.lengthField);
    }
}

// levels - 1 constructed tags around one empty primitive, built back to front.
Binary Nested(uint32_t levels) {
    Binary reversed("00 04");
    for (uint32_t i = 1; i < levels; ++i) {
        Binary lengthField;
        AppendLength(lengthField, static_cast<uint32_t>(reversed.size()));
        reversed.insert(reversed.end(), lengthField.rbegin(), lengthField.rend());
        reversed.push_back(0x6F);
    }
    return Binary(reversed.rbegin(), reversed.rend());
}

TEST(TLVParse, NestingIsBoundedAndTheGuardUnwinds) {
    EXPECT_EQ(ParseError(Nested(MaxTLVNesting + 1)), "TLV nesting deeper than 64 levels");
    EXPECT_EQ(ParseError(Nested(100000)), "TLV nesting deeper than 64 levels");
    // A tree of the largest depth parses right after a refused one.
    uint32_t depth = 1;
    for (TLVPtr node = ParseTLV(Nested(MaxTLVNesting)); node->IsConstructed(); node = node->GetChild()) ++depth;
    EXPECT_EQ(depth, MaxTLVNesting);
}

TEST(TLVParse, LongSiblingChainIsReleasedWithoutDeepRecursion) {
    Binary input;
    for (int i = 0; i < 200000; ++i) input += Binary("01 00");
    TLVPtr chain = ParseTLV(input);
    EXPECT_EQ(ChainLength(chain), 200000u);
    chain.reset();
}

TEST(TLVParse, OffsetWalksAChain) {
    const Binary bytes("01 01 AA 22 00");
    uint32_t offset = 0;
    EXPECT_EQ(TLV_Base::MakePrimitive(bytes, offset)->GetValue(), Binary("AA"));
    EXPECT_EQ(offset, 3u);
    EXPECT_EQ(TLV_Base::MakeConstructed(bytes, offset)->GetTag(), 0x22u);
    EXPECT_EQ(offset, 5u);
}

TEST(BerHeader, TagAndLengthReadersReportTheirSizes) {
    const Binary bytes("5F 81 02 83 01 00 00");
    const uint8_t* position = bytes.data();
    uint32_t remaining = 7, tag = 0, tagLength = 0, valueLength = 0;
    GetT(position, remaining, tag, tagLength);
    EXPECT_EQ(tag, 0x5F8102u);
    EXPECT_EQ(tagLength, 3u);
    EXPECT_EQ(position, bytes.data() + 3);
    EXPECT_EQ(remaining, 4u);
    // The value length is not checked against the size here.
    EXPECT_EQ(GetTL(bytes.data(), 7, tag, valueLength), 7u);
    EXPECT_EQ(valueLength, 0x10000u);
    // The constructed bit is that of the leading byte, whatever the tag's size.
    for (uint32_t constructed : {0x6Fu, 0xBF0Cu, 0x7F8102u, 0x3F818101u})
        EXPECT_TRUE(IsConstructedTag(constructed)) << constructed;
    for (uint32_t primitive : {0x84u, 0x9F70u, 0x5F8102u}) EXPECT_FALSE(IsConstructedTag(primitive)) << primitive;
}

}  // namespace
}  // namespace ZORVIK
