#include <gtest/gtest.h>

#include "service/common/exception.h"
#include "service/tlv/tlv.h"

namespace ZORVIK {
namespace {

using binary::Binary;

std::string ErrorOf(const std::function<void()>& action) {
    try {
        action();
    } catch (const TLVException& e) {
        return e.what();
    }
    return "(no error)";
}

TEST(TLVBuild, TagMustMatchTheClass) {
    EXPECT_EQ(ErrorOf([] { TLV_Base::MakePrimitive(0x6F); }),
              "Tag must indicate a primitive encoding of the data object");
    EXPECT_EQ(ErrorOf([] { TLV_Base::MakeConstructed(0x84); }),
              "Tag must indicate a constructed encoding of the data object");
    EXPECT_EQ(ErrorOf([] { TLV_Base::MakeConstructed(0x9F70); }),
              "Tag must indicate a constructed encoding of the data object");
    EXPECT_TRUE(TLV_Base::MakeConstructed(0xBF0C)->IsConstructed());
}

TEST(TLVBuild, CreateFromTagAndValueParsesConstructedValues) {
    const TLVPtr fci = NewTLV(0x6F, Binary("84 01 AA 85 00"));
    ASSERT_TRUE(fci->IsConstructed());
    EXPECT_EQ(fci->GetChild()->GetTag(), 0x84u);
    EXPECT_EQ(fci->GetChild()->GetNext()->GetTag(), 0x85u);
    EXPECT_EQ(fci->GetValueLength(), 5u);
    const TLVPtr name = NewTLV(0x84, Binary("6F 00"));
    EXPECT_FALSE(name->IsConstructed());
    EXPECT_EQ(name->GetValue(), Binary("6F 00"));
    EXPECT_EQ(ErrorOf([] { NewTLV(0x6F, Binary("84 05 AA")); }), "Invalid Record");
}

TEST(TLVBuild, SetValueOfAConstructedNodeReplacesItsChildren) {
    const TLVPtr node = NewTLV(0xA5, Binary("50 01 41"));
    node->SetValue(Binary("88 01 02"));
    EXPECT_EQ(node->Encode(), Binary("A5 03 88 01 02"));
    node->SetValue(Binary());
    EXPECT_EQ(node->GetChild(), EmptyTLV);
    EXPECT_EQ(node->Encode(), Binary("A5 00"));
}

TEST(TLVBuild, PrimitiveRefusesChildren) {
    const TLVPtr node = TLV_Base::MakePrimitive(0x84);
    const TLVPtr child = TLV_Base::MakePrimitive(0x01);
    EXPECT_EQ(ErrorOf([&] { node->AppendChild(child); }), "AppendChild for PrimitiveTLV cannot be implemented");
    EXPECT_EQ(ErrorOf([&] { node->AttachChild(child); }), "AttachChild for PrimitiveTLV cannot be implemented");
    EXPECT_EQ(ErrorOf([&] { node->SetSon(child); }), "Setting child node to PrimitiveTLV");
    EXPECT_EQ(node->GetSon(), EmptyTLV);
}

TEST(TLVBuild, EmptyChildAndRecordAreErrors) {
    const TLVPtr node = TLV_Base::MakeConstructed(0x6F);
    EXPECT_EQ(ErrorOf([&] { node->AppendChild(nullptr); }), "Empty child");
    EXPECT_EQ(ErrorOf([&] { node->AttachChild(nullptr); }), "Empty child");
    EXPECT_EQ(ErrorOf([&] { node->InsertRec(nullptr); }), "Empty record");
    EXPECT_EQ(ErrorOf([&] { node->AttachRec(nullptr); }), "Empty record");
}

TEST(TLVLinks, AppendChildCopiesTheWholeChain) {
    const TLVPtr parent = NewTLV(0x6F, Binary("84 01 AA"));
    const TLVPtr chain = ParseTLV(Binary("01 01 11 02 01 22"));
    const TLVPtr inserted = parent->AppendChild(chain);
    EXPECT_NE(inserted.get(), chain.get());
    EXPECT_TRUE(inserted == chain);
    EXPECT_EQ(parent->Encode(), Binary("6F 09 84 01 AA 01 01 11 02 01 22"));
    // Changing the originals leaves the copies alone.
    chain->SetValue(Binary("FF"));
    chain->GetNext()->SetValue(Binary("EE"));
    EXPECT_EQ(parent->Encode(), Binary("6F 09 84 01 AA 01 01 11 02 01 22"));
}

TEST(TLVLinks, AttachChildSharesTheChain) {
    const TLVPtr parent = TLV_Base::MakeConstructed(0x6F);
    const TLVPtr chain = ParseTLV(Binary("01 01 11 02 01 22"));
    parent->AttachChild(chain);
    EXPECT_EQ(parent->GetChild().get(), chain.get());
    chain->GetNext()->SetValue(Binary("EE"));
    EXPECT_EQ(parent->Encode(), Binary("6F 06 01 01 11 02 01 EE"));
}

TEST(TLVLinks, SetSonReplacesChildrenWithoutCopy) {
    const TLVPtr parent = NewTLV(0x6F, Binary("84 01 AA"));
    const TLVPtr son = ParseTLV(Binary("85 00"));
    parent->SetSon(son);
    EXPECT_EQ(parent->GetSon().get(), son.get());
    EXPECT_EQ(parent->Encode(), Binary("6F 02 85 00"));
}

TEST(TLVLinks, InsertRecCopiesAndKeepsTheFollowers) {
    const TLVPtr chain = ParseTLV(Binary("01 00 04 00"));
    const TLVPtr record = ParseTLV(Binary("02 00 03 00"));
    const TLVPtr inserted = chain->InsertRec(record);
    EXPECT_NE(inserted.get(), record.get());
    EXPECT_EQ(chain->EncodeChain(), Binary("01 00 02 00 03 00 04 00"));
    EXPECT_FALSE(record->GetNext()->GetNext());  // the original record is untouched
    EXPECT_EQ(chain->GetLast()->GetTag(), 0x04u);
}

TEST(TLVLinks, AttachRecLinksTheRecordItself) {
    const TLVPtr chain = ParseTLV(Binary("01 00 04 00"));
    const TLVPtr record = ParseTLV(Binary("02 00 03 00"));
    chain->AttachRec(record);
    EXPECT_EQ(chain->GetNext().get(), record.get());
    EXPECT_EQ(chain->EncodeChain(), Binary("01 00 02 00 03 00 04 00"));
    EXPECT_EQ(record->GetNext()->GetNext()->GetTag(), 0x04u);
}

TEST(TLVClone, DeepCopyOfTheChainFromTheNode) {
    const TLVPtr chain = ParseTLV(Binary("6F 03 84 01 AA 01 01 BB"));
    const TLVPtr copy = chain->Clone();
    EXPECT_EQ(copy->EncodeChain(), chain->EncodeChain());
    EXPECT_NE(copy->GetChild().get(), chain->GetChild().get());
    EXPECT_NE(copy->GetNext().get(), chain->GetNext().get());
    chain->GetChild()->SetValue(Binary("CC"));
    EXPECT_EQ(copy->EncodeChain(), Binary("6F 03 84 01 AA 01 01 BB"));
    // Clones can hand out pointers to themselves.
    EXPECT_EQ(copy->GetNext()->GetLast().get(), copy->GetNext().get());
    // A clone from the middle of a chain starts there.
    EXPECT_EQ(chain->GetNext()->Clone()->EncodeChain(), Binary("01 01 BB"));
}

TEST(TLVEquality, ComparesOwnEncodingsOnly) {
    const TLVPtr chain = ParseTLV(Binary("01 01 AA 02 01 BB"));
    EXPECT_TRUE(chain == ParseTLV(Binary("01 01 AA")));
    EXPECT_TRUE(chain != ParseTLV(Binary("01 01 AB")));
    EXPECT_TRUE(ParseTLV(Binary("6F 03 84 01 AA")) == NewTLV(0x6F, Binary("84 01 AA")));
    const TLVPtr none;
    EXPECT_TRUE(none == EmptyTLV);
    EXPECT_TRUE(chain != none);
    EXPECT_TRUE(none != chain);
}

TEST(TLVEncode, LengthFieldEncoder) {
    struct Case {
        uint32_t length;
        Binary expected;
    };
    const Case cases[] = {
        {0, Binary("00")},
        {0x7F, Binary("7F")},
        {0x80, Binary("81 80")},
        {0xFF, Binary("81 FF")},
        {0x100, Binary("82 01 00")},
        {0xFFFF, Binary("82 FF FF")},
        {0x10000, Binary("83 01 00 00")},
        {0xFFFFFF, Binary("83 FF FF FF")},
        {0x1000000, Binary("84 01 00 00 00")},
        {0xFFFFFFFF, Binary("84 FF FF FF FF")},
    };
    for (const Case& c : cases) {
        Binary field("AA");
        AppendLength(field, c.length);
        EXPECT_EQ(field, Binary("AA") + c.expected) << c.length;
    }
}

TEST(TLVEncode, ByteStringEncoders) {
    Binary target;
    AppendTag(target, 0);
    AppendTag(target, 0x9F70);
    EXPECT_EQ(target, Binary("00 9F 70"));
    EXPECT_EQ(MakeTLV(0x5F8102, Binary("AA BB")), Binary("5F 81 02 02 AA BB"));
    Binary withByte("01");
    AppendTLVByte(withByte, 0x88, 0x02);
    EXPECT_EQ(withByte, Binary("01 88 01 02"));
    EXPECT_EQ(NewTLV(0x9F70, Binary("07"))->GetTagBytes(), Binary("9F 70"));
}

TEST(TLVDump, TreesEmptyNodesAndChains) {
    std::string text = "head|";
    DumpTLV(ParseTLV(Binary("6F 05 84 03 A0 00 01")), text, 0);
    EXPECT_EQ(text, "head|6F:\n  84: A0 00 01 ");
    text.clear();
    DumpTLV(ParseTLV(Binary("6F 00")), text, 0);
    EXPECT_EQ(text, "6F:\n");
    text.clear();
    DumpTLV(ParseTLV(Binary("84 00 9F 70 01 07")), text, 1);
    EXPECT_EQ(text, "  84: \n  9F 70: 07 ");
    text = "x";
    DumpTLV(nullptr, text, 3);
    EXPECT_EQ(text, "x");
}

TEST(TLVDump, SixteenBytesPerLineAlignedUnderTheFirstByte) {
    Binary value;
    for (int i = 0; i < 17; ++i) value.push_back(static_cast<uint8_t>(i));
    std::string text;
    DumpTLV(NewTLV(0x9F70, value), text, 1);
    EXPECT_EQ(text,
              "  9F 70: 00 01 02 03 04 05 06 07 08 09 0A 0B 0C 0D 0E 0F \n"
              "         10 ");
}

}  // namespace
}  // namespace ZORVIK
