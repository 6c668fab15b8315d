#include "service/tlv/tlv.h"

#include <gtest/gtest.h>

#include <functional>

#include "service/common/exception.h"
#include "support/vectors.h"

namespace ZORVIK {
namespace {

using binary::Binary;

size_t ChainLength(TLVPtr node) {
    size_t count = 0;
    for (; node; node = node->GetNext()) ++count;
    return count;
}

// The text of the TLVException the action throws (always with code 0), or "(no error)".
std::string TLVError(const std::function<void()>& action) {
    try {
        action();
    } catch (const TLVException& e) {
        EXPECT_EQ(e.ErrorCode(), 0);
        return e.what();
    }
    return "(no error)";
}

TEST(TLVParse, PublishedCases) {
    for (const test::TestVector& v : test::LoadVectors("tlv/parse.vec")) {
        SCOPED_TRACE(v.Where());
        const Binary input = v.Bin("Input");
        if (v.Text("Section") == "Invalid") {
            EXPECT_EQ(TLVError([&] { TLV_Base::Create(input); }), v.Text("Error"));
            continue;
        }
        const TLVPtr chain = TLV_Base::Create(input);
        EXPECT_EQ(chain->GetTagBytes(), v.Bin("Tag"));
        EXPECT_EQ(ChainLength(chain), v.Number("Count"));
        // Every valid case is in its shortest form, so it encodes back unchanged.
        EXPECT_EQ(chain->EncodeChain(), input);
    }
}

TEST(TLVEncode, LengthsAreReadInEveryFormAndWrittenInTheShortest) {
    const Binary value(65536, 0x5A);
    EXPECT_EQ(ParseTLV(Binary("04 84 00 01 00 00") + value)->Encode(), Binary("04 83 01 00 00") + value);
    Binary fields;
    for (uint32_t length : {0x7Fu, 0x80u, 0xFFFFu, 0xFFFFFFFFu}) AppendLength(fields, length);
    AppendTag(fields, 0x9F70);
    AppendTLVByte(fields, 0x88, 0x02);
    EXPECT_EQ(fields, Binary("7F 81 80 82 FF FF 84 FF FF FF FF 9F 70 88 01 02"));
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
    for (uint32_t levels : {MaxTLVNesting + 1, 100000u})
        EXPECT_EQ(TLVError([&] { ParseTLV(Nested(levels)); }), "TLV nesting deeper than 64 levels");
    // A tree of the largest depth parses right after a refused one.
    uint32_t depth = 1;
    for (TLVPtr node = ParseTLV(Nested(MaxTLVNesting)); node->IsConstructed(); node = node->GetChild()) ++depth;
    EXPECT_EQ(depth, MaxTLVNesting);
}

TEST(TLVParse, LongSiblingChainIsReleasedWithoutDeepRecursion) {
    Binary input;
    for (int i = 0; i < 200000; ++i) input += Binary("01 00");
    EXPECT_EQ(ChainLength(ParseTLV(input)), 200000u);
}

TEST(TLVBuild, RefusalsCarryTheirMessages) {
    const TLVPtr primitive = TLV_Base::MakePrimitive(0x84);
    const TLVPtr constructed = TLV_Base::MakeConstructed(0xBF0C);
    uint32_t atTheEnd = 3, remaining = 5, tag = 0, tagLength = 0;
    const uint8_t* nothing = nullptr;
    const std::pair<std::function<void()>, const char*> cases[] = {
        {[] { TLV_Base::MakePrimitive(0x6F); }, "Tag must indicate a primitive encoding of the data object"},
        {[] { TLV_Base::MakeConstructed(0x9F70); }, "Tag must indicate a constructed encoding of the data object"},
        {[&] { primitive->AppendChild(primitive); }, "AppendChild for PrimitiveTLV cannot be implemented"},
        {[&] { primitive->AttachChild(primitive); }, "AttachChild for PrimitiveTLV cannot be implemented"},
        {[&] { primitive->SetSon(primitive); }, "Setting child node to PrimitiveTLV"},
        {[&] { constructed->AppendChild(nullptr); }, "Empty child"},
        {[&] { constructed->AttachChild(nullptr); }, "Empty child"},
        {[&] { constructed->InsertRec(nullptr); }, "Empty record"},
        {[&] { constructed->AttachRec(nullptr); }, "Empty record"},
        {[] { NewTLV(0x6F, Binary("84 05 AA")); }, "Invalid Record"},
        {[&] { TLV_Base::MakePrimitive(Binary("01 01 AA"), atTheEnd); }, "Invalid Record"},
        {[&] { GetT(nothing, remaining, tag, tagLength); }, "Empty tag"},
    };
    for (const auto& [action, message] : cases) EXPECT_EQ(TLVError(action), message);
    EXPECT_EQ(primitive->GetSon(), EmptyTLV);
    // The constructed bit is that of the leading byte, whatever the tag's size.
    for (uint32_t constructedTag : {0x6Fu, 0xBF0Cu, 0x7F8102u, 0x3F818101u})
        EXPECT_TRUE(IsConstructedTag(constructedTag));
    for (uint32_t primitiveTag : {0x84u, 0x9F70u, 0x5F8102u}) EXPECT_FALSE(IsConstructedTag(primitiveTag));
}

TEST(TLVBuild, ValueOfAConstructedNodeIsParsedIntoChildren) {
    uint32_t offset = 0;
    EXPECT_EQ(TLV_Base::MakePrimitive(Binary("01 01 AA 22 00"), offset)->GetValue(), Binary("AA"));
    EXPECT_EQ(TLV_Base::MakeConstructed(Binary("01 01 AA 22 00"), offset)->GetTag(), 0x22u);
    EXPECT_EQ(offset, 5u);
    const TLVPtr fci = NewTLV(0x6F, Binary("84 01 AA 85 00"));
    EXPECT_EQ(fci->GetChild()->GetNext()->GetTag(), 0x85u);
    EXPECT_EQ(fci->GetValueLength(), 5u);
    EXPECT_EQ(NewTLV(0x84, Binary("6F 00"))->GetValue(), Binary("6F 00"));
    fci->SetValue(Binary());
    EXPECT_EQ(fci->GetChild(), EmptyTLV);
}

TEST(TLVLinks, AppendChildAndInsertRecCopyTheChainAttachAndSetSonLinkItself) {
    const TLVPtr records = ParseTLV(Binary("02 00 03 00"));
    const TLVPtr parent = NewTLV(0x6F, Binary("84 01 AA"));
    const TLVPtr chain = ParseTLV(Binary("01 00 04 00"));
    EXPECT_NE(parent->AppendChild(records).get(), records.get());
    EXPECT_NE(chain->InsertRec(records).get(), records.get());
    records->GetNext()->SetValue(Binary("EE"));  // the copies keep the original values
    EXPECT_EQ(parent->Encode(), Binary("6F 07 84 01 AA 02 00 03 00"));
    EXPECT_EQ(chain->EncodeChain(), Binary("01 00 02 00 03 00 04 00"));
    const TLVPtr linking = TLV_Base::MakeConstructed(0x6F);
    linking->AttachChild(records);
    EXPECT_EQ(linking->Encode(), Binary("6F 05 02 00 03 01 EE"));
    chain->AttachRec(records);
    EXPECT_EQ(chain->EncodeChain(), Binary("01 00 02 00 03 01 EE 02 00 03 00 04 00"));
    linking->SetSon(parent);
    EXPECT_EQ(linking->GetSon().get(), parent.get());
}

TEST(TLVClone, DeepCopyOfTheChainFromTheNodeComparedByItsOwnEncoding) {
    const TLVPtr chain = ParseTLV(Binary("6F 03 84 01 AA 01 01 BB"));
    const TLVPtr copy = chain->Clone();
    const TLVPtr fromTheMiddle = chain->GetNext()->Clone();
    chain->GetChild()->SetValue(Binary("CC"));
    EXPECT_EQ(copy->EncodeChain(), Binary("6F 03 84 01 AA 01 01 BB"));
    EXPECT_EQ(fromTheMiddle->EncodeChain(), Binary("01 01 BB"));
    EXPECT_EQ(copy->GetNext()->GetLast().get(), copy->GetNext().get());  // clones hand out pointers to themselves
    EXPECT_TRUE(copy == ParseTLV(Binary("6F 03 84 01 AA")));             // what follows a node is not compared
    EXPECT_TRUE(copy != chain && chain != TLVPtr() && TLVPtr() == EmptyTLV);
}

// Parsing stops at 64 levels, but a program may link children as deep as it
// likes: encoding, measuring, copying and freeing such a tree must neither
// recurse once per level nor re-encode the levels below each one.
TEST(TLVBuild, DeepTreeOfAttachedChildrenIsEncodedMeasuredClonedAndFreed) {
    constexpr uint32_t Levels = 300000;
    TLVPtr root = TLV_Base::MakeConstructed(0x6F);
    TLV_Base* parent = root.get();
    for (uint32_t level = 2; level < Levels; ++level) {
        const TLVPtr child = TLV_Base::MakeConstructed(0x6F);
        parent->AttachChild(child);
        parent = child.get();
    }
    parent->AttachChild(TLV_Base::MakePrimitive(0x04));
    const Binary expected = Nested(Levels);
    ASSERT_EQ(Binary(expected.begin(), expected.begin() + 2), Binary("6F 83"));
    EXPECT_EQ(root->Encode(), expected);
    EXPECT_EQ(root->GetValueLength(), expected.size() - 5);  // after 6F 83 and three length bytes
    const TLVPtr copy = root->Clone();
    root.reset();  // the original goes first: the copy shares none of its nodes
    EXPECT_EQ(copy->Encode(), expected);
}

TEST(TLVDump, IndentedTreesEmptyNodesChainsAndSixteenBytesALine) {
    std::string text = "head|";
    DumpTLV(nullptr, text, 3);  // nothing to add, and the text is never cleared
    DumpTLV(ParseTLV(Binary("6F 05 84 03 A0 00 01 6F 00")), text, 0);
    EXPECT_EQ(text, "head|6F:\n  84: A0 00 01 \n6F:\n");
    text.clear();
    DumpTLV(ParseTLV(Binary("84 00") + MakeTLV(0x9F70, Binary("00 01 02 03 04 05 06 07 08 09 0A 0B 0C 0D 0E 0F 10"))),
            text, 1);
    // Sixteen bytes a line, continued under the first value byte.
    EXPECT_EQ(text, "  84: \n  9F 70: 00 01 02 03 04 05 06 07 08 09 0A 0B 0C 0D 0E 0F \n         10 ");
}

}  // namespace
}  // namespace ZORVIK
