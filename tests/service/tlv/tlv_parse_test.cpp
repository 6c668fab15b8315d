#include <gtest/gtest.h>

#include <functional>

#include "service/common/exception.h"
#include "service/tlv/tlv.h"
#include "support/vectors.h"

namespace ZORVIK {
namespace {

using binary::Binary;

size_t ChainLength(TLVPtr node) {
    size_t count = 0;
    for (; node; node = node->GetNext()) ++count;
    return count;
}

// The text of the TLVException the action throws, or "(no error)".
std::string TLVError(const std::function<void()>& action) {
    try {
        action();
    } catch (const TLVException& e) {
        EXPECT_EQ(e.ErrorCode(), 0);
        return e.what();
    }
    return "(no error)";
}

std::string ParseError(const Binary& input) {
    return TLVError([&] { TLV_Base::Create(input); });
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

TEST(TLVParse, ClassFollowsTheFirstTagByte) {
    const TLVPtr fci = ParseTLV(Binary("6F 05 84 03 A0 00 01"));
    EXPECT_TRUE(fci->IsConstructed());
    EXPECT_EQ(fci->GetTag(), 0x6Fu);
    const TLVPtr name = fci->GetChild();
    ASSERT_TRUE(name);
    EXPECT_FALSE(name->IsConstructed());
    EXPECT_EQ(name->GetTag(), 0x84u);
    EXPECT_EQ(name->GetValue(), Binary("A0 00 01"));
    EXPECT_EQ(name->GetChild(), EmptyTLV);
    EXPECT_FALSE(name->GetNext());
    EXPECT_FALSE(ParseTLV(Binary("6F 00"))->GetChild());
}

TEST(TLVParse, EveryLengthFormEncodesBackInTheShortestForm) {
    struct Case {
        Binary lengthField;
        uint32_t length;
        Binary shortest;
    };
    const Case cases[] = {
        {Binary("7F"), 0x7F, Binary("7F")},
        {Binary("81 80"), 128, Binary("81 80")},
        {Binary("82 01 00"), 256, Binary("82 01 00")},
        {Binary("83 01 00 00"), 65536, Binary("83 01 00 00")},
        {Binary("84 00 01 00 00"), 65536, Binary("83 01 00 00")},
        {Binary("82 00 02"), 2, Binary("02")},
    };
    for (const Case& c : cases) {
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

TEST(TLVConstruct, OffsetWalksAChainAndStopsAtTheEnd) {
    const Binary bytes("01 01 AA 22 00");
    uint32_t offset = 0;
    const TLVPtr first = TLV_Base::MakePrimitive(bytes, offset);
    EXPECT_EQ(offset, 3u);
    const TLVPtr second = TLV_Base::MakeConstructed(bytes, offset);
    EXPECT_EQ(offset, 5u);
    EXPECT_EQ(second->GetTag(), 0x22u);
    EXPECT_EQ(TLVError([&] { TLV_Base::MakePrimitive(bytes, offset); }), "Invalid Record");
    uint32_t zero = 0;
    EXPECT_EQ(TLVError([&] { TLV_Base::MakePrimitive(Binary(), zero); }), "Invalid Record");
}

TEST(BerHeader, GetTAdvancesPastTheTag) {
    const Binary bytes("5F 81 02 01 AA");
    const uint8_t* position = bytes.data();
    uint32_t remaining = static_cast<uint32_t>(bytes.size());
    uint32_t tag = 0;
    uint32_t tagLength = 0;
    GetT(position, remaining, tag, tagLength);
    EXPECT_EQ(tag, 0x5F8102u);
    EXPECT_EQ(tagLength, 3u);
    EXPECT_EQ(position, bytes.data() + 3);
    EXPECT_EQ(remaining, 2u);
}

TEST(BerHeader, GetTOnNothingIsAnEmptyTag) {
    const uint8_t* position = nullptr;
    uint32_t remaining = 5;
    uint32_t tag = 0;
    uint32_t tagLength = 0;
    EXPECT_EQ(TLVError([&] { GetT(position, remaining, tag, tagLength); }), "Empty tag");
    const uint8_t byte = 0x84;
    position = &byte;
    remaining = 0;
    EXPECT_EQ(TLVError([&] { GetT(position, remaining, tag, tagLength); }), "Empty tag");
}

TEST(BerHeader, GetTLReportsHeaderAndValueLength) {
    const Binary bytes("9F 70 83 01 00 00");
    uint32_t tag = 0;
    uint32_t valueLength = 0;
    // The value length is not checked against the size here.
    EXPECT_EQ(GetTL(bytes.data(), static_cast<uint32_t>(bytes.size()), tag, valueLength), 6u);
    EXPECT_EQ(tag, 0x9F70u);
    EXPECT_EQ(valueLength, 0x10000u);
}

TEST(BerHeader, ConstructedBitOfTheLeadingByte) {
    for (uint32_t tag : {0x6Fu, 0xBF0Cu, 0x7F8102u, 0x3F818101u}) EXPECT_TRUE(IsConstructedTag(tag)) << tag;
    for (uint32_t tag : {0x84u, 0x9F70u, 0x5F8102u, 0u}) EXPECT_FALSE(IsConstructedTag(tag)) << tag;
}

}  // namespace
}  // namespace ZORVIK
