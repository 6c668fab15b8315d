#include "service/tlv/tlv.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <tuple>

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

TEST(TLVParse, ClassFollowsTheFirstTagByte) {
    const TLVPtr fci = ParseTLV(Binary("6F 05 84 03 A0 00 01"));
    EXPECT_TRUE(fci->IsConstructed());
    EXPECT_EQ(fci->GetTag(), 0x6Fu);
    EXPECT_EQ(fci->GetValue(), Binary("84 03 A0 00 01"));
    const TLVPtr name = fci->GetChild();
    ASSERT_TRUE(name);
    EXPECT_FALSE(name->IsConstructed());
    EXPECT_EQ(name->GetTag(), 0x84u);
    EXPECT_EQ(name->GetValue(), Binary("A0 00 01"));
    EXPECT_EQ(name->GetChild(), EmptyTLV);
    EXPECT_FALSE(name->GetNext());
    EXPECT_FALSE(ParseTLV(Binary("6F 00"))->GetChild());
    EXPECT_TRUE(ParseTLV(Binary("6F 00"))->GetValue().empty());
}

TEST(TLVParse, EveryLengthFormIsReadAndEncodedBackInTheShortest) {
    const std::tuple<const char*, uint32_t, const char*> cases[] = {
        {"7F", 0x7F, "7F"},
        {"81 80", 0x80, "81 80"},
        {"81 FF", 0xFF, "81 FF"},
        {"82 01 00", 0x100, "82 01 00"},
        {"83 01 00 00", 0x10000, "83 01 00 00"},
        {"84 00 01 00 00", 0x10000, "83 01 00 00"},
        {"82 00 02", 2, "02"},
        {"81 00", 0, "00"},
    };
    for (const auto& [lengthField, length, shortest] : cases) {
        const Binary value(length, 0x5A);
        const TLVPtr node = ParseTLV(Binary("04") + Binary(lengthField) + value);
        EXPECT_EQ(node->GetValue(), value) << lengthField;
        EXPECT_EQ(node->GetValueLength(), length) << lengthField;
        EXPECT_EQ(node->Encode(), Binary("04") + Binary(shortest) + value) << lengthField;
    }
}

TEST(BerHeader, GetTAndGetTLReportTheHeaderAndAdvancePastTheTag) {
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
    // Nothing left at a valid position is an empty tag too.
    remaining = 0;
    EXPECT_EQ(TLVError([&] { GetT(position, remaining, tag, tagLength); }), "Empty tag");
    // GetTL does not check the value length against the size.
    const std::tuple<const char*, uint32_t, uint32_t, uint32_t> headers[] = {
        {"9F 70 83 01 00 00", 6, 0x9F70, 0x10000},
        {"84 00", 2, 0x84, 0},
        {"04 81 FF", 3, 0x04, 0xFF},
        {"5F 81 02 84 FF FF FF FF", 8, 0x5F8102, 0xFFFFFFFF},
    };
    for (const auto& [header, size, expectedTag, valueLength] : headers) {
        const Binary headerBytes(header);
        uint32_t length = 0;
        EXPECT_EQ(GetTL(headerBytes.data(), static_cast<uint32_t>(headerBytes.size()), tag, length), size) << header;
        EXPECT_EQ(tag, expectedTag) << header;
        EXPECT_EQ(length, valueLength) << header;
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

TEST(TLVEncode, LengthFieldAtEachBoundaryTagBytesAndWholeObjects) {
    const std::pair<uint32_t, const char*> lengths[] = {
        {0, "00"},
        {0x7F, "7F"},
        {0x80, "81 80"},
        {0xFF, "81 FF"},
        {0x100, "82 01 00"},
        {0xFFFF, "82 FF FF"},
        {0x10000, "83 01 00 00"},
        {0xFFFFFF, "83 FF FF FF"},
        {0x1000000, "84 01 00 00 00"},
        {0xFFFFFFFF, "84 FF FF FF FF"},
    };
    for (const auto& [length, field] : lengths) {
        Binary target("AA");
        AppendLength(target, length);
        EXPECT_EQ(target, Binary("AA") + Binary(field)) << length;
    }
    Binary tags;
    for (uint32_t tag : {0x00u, 0x84u, 0x9F70u, 0x5F8102u, 0x3F818101u}) AppendTag(tags, tag);
    EXPECT_EQ(tags, Binary("00 84 9F 70 5F 81 02 3F 81 81 01"));
    EXPECT_EQ(MakeTLV(0x5F8102, Binary("AA BB")), Binary("5F 81 02 02 AA BB"));
    Binary appended("01");
    AppendTLV(appended, 0x84, Binary());
    EXPECT_EQ(appended, Binary("01 84 00"));
    EXPECT_EQ(NewTLV(0x9F70, Binary("07"))->GetTagBytes(), Binary("9F 70"));
    // A constructed node's value length counts its children's tags and length fields.
    const Binary longChild = MakeTLV(0x9F70, Binary(0x80, 0x11));
    const TLVPtr parent = NewTLV(0x6F, longChild);
    EXPECT_EQ(parent->GetValueLength(), 2u + 2u + 0x80u);
    EXPECT_EQ(parent->Encode(), Binary("6F 81 84") + longChild);
    // Children whose tags need one, two, three and four bytes, each at the smallest tag of its size.
    const TLVPtr sized = TLV_Base::MakeConstructed(0x6F);
    for (uint32_t tag : {0x9Fu, 0x100u, 0x9FFFu, 0x10000u, 0x9FFFFFu, 0x1000000u})
        sized->AttachChild(TLV_Base::MakePrimitive(tag));
    EXPECT_EQ(sized->GetValueLength(), 21u);
    EXPECT_EQ(sized->GetValue(), Binary("9F 00 01 00 00 9F FF 00 01 00 00 00 9F FF FF 00 01 00 00 00 00"));
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
    uint32_t atTheEnd = 3, atTheStart = 0, remaining = 5, tag = 0, tagLength = 0;
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
        {[] { TLV_Base::MakeConstructed(0x84); }, "Tag must indicate a constructed encoding of the data object"},
        {[] { TLV_Base::MakePrimitive(0x9F20); }, "(no error)"},
        {[] { TLV_Base::MakePrimitive(0x3F00); }, "Tag must indicate a primitive encoding of the data object"},
        {[&] { TLV_Base::MakePrimitive(Binary(), atTheStart); }, "Invalid Record"},
    };
    for (const auto& [action, message] : cases) EXPECT_EQ(TLVError(action), message);
    EXPECT_EQ(primitive->GetSon(), EmptyTLV);
    // The constructed bit is that of the leading byte, whatever the tag's size.
    for (uint32_t constructedTag : {0x6Fu, 0xBF0Cu, 0x7F8102u, 0x3F818101u})
        EXPECT_TRUE(IsConstructedTag(constructedTag));
    for (uint32_t primitiveTag : {0x84u, 0x9F70u, 0x5F8102u}) EXPECT_FALSE(IsConstructedTag(primitiveTag));
    // Only the leading byte's bit counts, at each size of tag.
    for (uint32_t constructedTag : {0x20u, 0x2000u, 0x200000u, 0x20000000u})
        EXPECT_TRUE(IsConstructedTag(constructedTag)) << constructedTag;
    for (uint32_t primitiveTag : {0x0u, 0x1Fu, 0x1F20u, 0x1F8120u, 0x1F818120u})
        EXPECT_FALSE(IsConstructedTag(primitiveTag)) << primitiveTag;
}

TEST(TLVBuild, SetValueAndSetSonReplaceTheChildrenAndInsertRecKeepsTheFollowers) {
    const TLVPtr node = NewTLV(0xA5, Binary("50 01 41"));
    node->SetValue(Binary("88 01 02 5F 2D 02 65 6E"));
    EXPECT_EQ(node->Encode(), Binary("A5 08 88 01 02 5F 2D 02 65 6E"));
    EXPECT_EQ(node->GetValue(), Binary("88 01 02 5F 2D 02 65 6E"));
    const TLVPtr son = ParseTLV(Binary("85 00"));
    node->SetSon(son);
    EXPECT_EQ(node->GetSon().get(), son.get());
    EXPECT_EQ(node->Encode(), Binary("A5 02 85 00"));
    node->SetValue(Binary());
    EXPECT_EQ(node->Encode(), Binary("A5 00"));
    const TLVPtr primitive = NewTLV(0x84, Binary("01"));
    primitive->SetValue(Binary("02 03"));
    EXPECT_EQ(primitive->Encode(), Binary("84 02 02 03"));
    const TLVPtr chain = ParseTLV(Binary("01 00 04 00"));
    const TLVPtr record = ParseTLV(Binary("02 00 03 00"));
    EXPECT_EQ(chain->InsertRec(record)->GetTag(), 0x02u);
    EXPECT_FALSE(record->GetNext()->GetNext());  // the original record is untouched
    EXPECT_EQ(chain->GetLast()->GetTag(), 0x04u);
    EXPECT_EQ(chain->GetNext()->GetNext()->GetNext()->GetTag(), 0x04u);
    EXPECT_EQ(record->GetLast().get(), record->GetNext().get());
    const TLVPtr attached = ParseTLV(Binary("05 00"));
    chain->GetLast()->AttachRec(attached);
    EXPECT_EQ(chain->GetLast().get(), attached.get());
    EXPECT_EQ(chain->EncodeChain(), Binary("01 00 02 00 03 00 04 00 05 00"));
}

TEST(TLVEquality, ComparesTheTwoNodesOwnEncodingsOrTwoEmptyPointers) {
    const TLVPtr none;
    const TLVPtr chain = ParseTLV(Binary("01 01 AA 02 01 BB"));
    const std::tuple<TLVPtr, TLVPtr, bool> cases[] = {
        {chain, ParseTLV(Binary("01 01 AA")), true},
        {chain, ParseTLV(Binary("01 01 AB")), false},
        {chain, ParseTLV(Binary("01 02 AA BB")), false},
        {chain, ParseTLV(Binary("02 01 AA")), false},
        {ParseTLV(Binary("6F 03 84 01 AA")), NewTLV(0x6F, Binary("84 01 AA")), true},
        {none, EmptyTLV, true},
        {chain, none, false},
        {none, chain, false},
    };
    for (const auto& [a, b, equal] : cases) {
        EXPECT_EQ(a == b, equal);
        EXPECT_EQ(a != b, !equal);
    }
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

// A chain of constructed 6F nodes linked by AttachChild, levels deep, with
// innermost at the bottom; returns the root.
TLVPtr AttachedNest(uint32_t levels, const TLVPtr& innermost) {
    const TLVPtr root = TLV_Base::MakeConstructed(0x6F);
    TLVPtr parent = root;
    for (uint32_t level = 2; level < levels; ++level) {
        const TLVPtr child = TLV_Base::MakeConstructed(0x6F);
        parent->AttachChild(child);
        parent = child;
    }
    parent->AttachChild(innermost);
    return root;
}

// The text of each node is indented by two blanks per depth, whatever the
// depth; below 64 levels nothing is refused, as nothing parsed is deeper.
TEST(TLVDump, DeepestTreeAParseCanGiveIndentsEveryLevel) {
    constexpr uint32_t Depth = 2;  // of the first node
    Binary value;
    for (uint8_t byte = 0; byte < 17; ++byte) value.push_back(byte);
    const TLVPtr root = AttachedNest(MaxTLVNesting, NewTLV(0x04, value));
    root->AttachRec(TLV_Base::MakePrimitive(0x01));
    std::string expected;
    for (uint32_t level = 0; level + 1 < MaxTLVNesting; ++level)
        expected += std::string(2 * (Depth + level), ' ') + "6F:\n";
    const std::string innermostIndent(2 * (Depth + MaxTLVNesting - 1), ' ');
    expected += innermostIndent + "04: 00 01 02 03 04 05 06 07 08 09 0A 0B 0C 0D 0E 0F \n";
    expected += innermostIndent + "    10 \n";  // under the first byte, past "04: "
    expected += std::string(2 * Depth, ' ') + "01: ";
    std::string text;
    DumpTLV(root, text, Depth);
    EXPECT_EQ(text, expected);
    // The same tree parsed from its encoding dumps the same.
    std::string parsed;
    DumpTLV(ParseTLV(root->EncodeChain()), parsed, Depth);
    EXPECT_EQ(parsed, expected);
}

// A program may link children deeper than a parser would go; their text would
// grow with the square of the depth (10^10 blanks for 100,000 levels), so such
// a tree is refused as the parser refuses it, at any depth, and nothing of it is
// appended.
TEST(TLVDump, TreeDeeperThanAParseCanGiveIsRefusedAndTheTextKept) {
    // 64 levels whose deepest node is an empty constructed one still dump.
    const TLVPtr emptyAtTheBottom = AttachedNest(MaxTLVNesting, TLV_Base::MakeConstructed(0x6F));
    std::string text = "head|";
    DumpTLV(emptyAtTheBottom, text, 0);
    EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), MaxTLVNesting);
    EXPECT_EQ(text.substr(text.size() - (2 * (MaxTLVNesting - 1) + 4)),
              std::string(2 * (MaxTLVNesting - 1), ' ') + "6F:\n");
    for (const uint32_t levels : {MaxTLVNesting + 1, 100000u}) {
        SCOPED_TRACE(levels);
        const TLVPtr chain = ParseTLV(Binary("01 01 AA"));
        chain->AttachRec(AttachedNest(levels, TLV_Base::MakePrimitive(0x04)));
        std::string kept = "head|";
        EXPECT_EQ(TLVError([&] { DumpTLV(chain, kept, 0); }), "TLV nesting deeper than 64 levels");
        EXPECT_EQ(kept, "head|");
    }
}

}  // namespace
}  // namespace ZORVIK
