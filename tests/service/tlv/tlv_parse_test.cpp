#include <gtest/gtest.h>

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

std::string ParseError(const Binary& input) {
    try {
        TLV_Base::Create(input);
    } catch (const TLVException& e) {
        EXPECT_EQ(e.ErrorCode(), 0);
        return e.what();
    }
    return "(parsed)";
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
}

TEST(TLVParse, EmptyValues) {
    const TLVPtr primitive = ParseTLV(Binary("84 00"));
    EXPECT_TRUE(primitive->GetValue().empty());
    const TLVPtr constructed = ParseTLV(Binary("6F 00"));
    EXPECT_FALSE(constructed->GetChild());
    EXPECT_EQ(constructed->GetValueLength(), 0u);
    EXPECT_EQ(constructed->Encode(), Binary("6F 00"));
}

TEST(TLVParse, EveryLengthForm) {
    struct Case {
        Binary lengthField;
        uint32_t length;
    };
    const Case cases[] = {
        {Binary("7F"), 0x7F},
        {Binary("81 80"), 128},
        {Binary("82 01 00"), 256},
        {Binary("83 01 00 00"), 65536},
        {Binary("84 00 01 00 00"), 65536},
    };
    for (const Case& c : cases) {
        Binary input("04");
        input += c.lengthField;
        input.resize(input.size() + c.length, 0x5A);
        const TLVPtr node = ParseTLV(input);
        EXPECT_EQ(node->GetValueLength(), c.length) << binary::ToHex(c.lengthField);
        EXPECT_EQ(node->GetValue(), Binary(c.length, 0x5A));
    }
}

TEST(TLVParse, LongerLengthFieldsEncodeInShortestForm) {
    const TLVPtr node = ParseTLV(Binary("04 82 00 02 AA BB"));
    EXPECT_EQ(node->Encode(), Binary("04 02 AA BB"));
}

TEST(TLVParse, EncodeOfParseGivesInputBack) {
    const Binary inputs[] = {
        Binary("6F 1A 84 0E 31 50 41 59 2E 53 59 53 2E 44 44 46 30 31 A5 08 88 01 02 5F 2D 02 65 6E"),
        Binary("70 81 83 5F 20 1A") + Binary(26, 0x41) + Binary("9F 1F 63") + Binary(99, 0x30),
        Binary("E1 06 E2 04 E3 02 04 00 01 01 FF"),
    };
    for (const Binary& input : inputs) EXPECT_EQ(ParseTLV(input)->EncodeChain(), input) << binary::ToHex(input);
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

TEST(TLVParse, NestingUpToTheLimitParses) {
    const TLVPtr root = ParseTLV(Nested(MaxTLVNesting));
    uint32_t depth = 1;
    for (TLVPtr node = root; node->IsConstructed(); node = node->GetChild()) ++depth;
    EXPECT_EQ(depth, MaxTLVNesting);
}

TEST(TLVParse, NestingPastTheLimitIsRefused) {
    EXPECT_EQ(ParseError(Nested(MaxTLVNesting + 1)), "TLV nesting deeper than 64 levels");
    EXPECT_EQ(ParseError(Nested(100000)), "TLV nesting deeper than 64 levels");
    // The guard unwinds: a legal tree parses right after a refused one.
    EXPECT_NO_THROW(ParseTLV(Nested(MaxTLVNesting)));
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
    try {
        TLV_Base::MakePrimitive(bytes, offset);
        FAIL();
    } catch (const TLVException& e) {
        EXPECT_STREQ(e.what(), "Invalid Record");
    }
    uint32_t zero = 0;
    EXPECT_THROW(TLV_Base::MakePrimitive(Binary(), zero), TLVException);
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
    try {
        GetT(position, remaining, tag, tagLength);
        FAIL();
    } catch (const TLVException& e) {
        EXPECT_STREQ(e.what(), "Empty tag");
    }
    const uint8_t byte = 0x84;
    position = &byte;
    remaining = 0;
    EXPECT_THROW(GetT(position, remaining, tag, tagLength), TLVException);
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
    EXPECT_TRUE(IsConstructedTag(0x6F));
    EXPECT_FALSE(IsConstructedTag(0x84));
    EXPECT_TRUE(IsConstructedTag(0xBF0C));
    EXPECT_FALSE(IsConstructedTag(0x9F70));
    EXPECT_TRUE(IsConstructedTag(0x7F8102));
    EXPECT_FALSE(IsConstructedTag(0x5F8102));
    EXPECT_TRUE(IsConstructedTag(0x3F818101));
    EXPECT_FALSE(IsConstructedTag(0));
}

}  // namespace
}  // namespace ZORVIK
