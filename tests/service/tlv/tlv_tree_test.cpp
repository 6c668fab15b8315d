#include <gtest/gtest.h>

#include <functional>

#include "service/common/exception.h"
#include "service/tlv/tlv.h"

namespace ZORVIK {
namespace {

using binary::Binary;

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

TEST(TLVBuild, RefusalsCarryTheirMessages) {
    const TLVPtr primitive = TLV_Base::MakePrimitive(0x84);
    const TLVPtr constructed = TLV_Base::MakeConstructed(0xBF0C);
    const TLVPtr child = TLV_Base::MakePrimitive(0x01);
    uint32_t atTheEnd = 3, remaining = 5, tag = 0, tagLength = 0;
    const uint8_t* nothing = nullptr;
    const struct {
        std::function<void()> action;
        const char* message;
    } cases[] = {
        {[] { TLV_Base::MakePrimitive(0x6F); }, "Tag must indicate a primitive encoding of the data object"},
        {[] { TLV_Base::MakeConstructed(0x9F70); }, "Tag must indicate a constructed encoding of the data object"},
        {[&] { primitive->AppendChild(child); }, "AppendChild for PrimitiveTLV cannot be implemented"},
        {[&] { primitive->AttachChild(child); }, "AttachChild for PrimitiveTLV cannot be implemented"},
        {[&] { primitive->SetSon(child); }, "Setting child node to PrimitiveTLV"},
        {[&] { constructed->AppendChild(nullptr); }, "Empty child"},
        {[&] { constructed->AttachChild(nullptr); }, "Empty child"},
        {[&] { constructed->InsertRec(nullptr); }, "Empty record"},
        {[&] { constructed->AttachRec(nullptr); }, "Empty record"},
        {[] { NewTLV(0x6F, Binary("84 05 AA")); }, "Invalid Record"},
        {[&] { TLV_Base::MakePrimitive(Binary("01 01 AA"), atTheEnd); }, "Invalid Record"},
        {[&] { GetT(nothing, remaining, tag, tagLength); }, "Empty tag"},
    };
    for (const auto& c : cases) EXPECT_EQ(TLVError(c.action), c.message);
    EXPECT_EQ(primitive->GetSon(), EmptyTLV);
}

TEST(TLVBuild, ValueOfAConstructedNodeIsParsedIntoChildren) {
    const TLVPtr fci = NewTLV(0x6F, Binary("84 01 AA 85 00"));
    EXPECT_EQ(fci->GetChild()->GetNext()->GetTag(), 0x85u);
    EXPECT_EQ(fci->GetValueLength(), 5u);
    EXPECT_EQ(NewTLV(0x84, Binary("6F 00"))->GetValue(), Binary("6F 00"));
    fci->SetValue(Binary("88 01 02"));
    EXPECT_EQ(fci->Encode(), Binary("6F 03 88 01 02"));
    fci->SetValue(Binary());
    EXPECT_EQ(fci->GetChild(), EmptyTLV);
}

TEST(TLVLinks, AppendChildAndInsertRecCopyTheChainAttachAndSetSonShareIt) {
    const TLVPtr records = ParseTLV(Binary("02 00 03 00"));
    const TLVPtr parent = NewTLV(0x6F, Binary("84 01 AA"));
    const TLVPtr appended = parent->AppendChild(records);
    EXPECT_NE(appended.get(), records.get());
    EXPECT_TRUE(appended == records);
    const TLVPtr chain = ParseTLV(Binary("01 00 04 00"));
    EXPECT_NE(chain->InsertRec(records).get(), records.get());
    EXPECT_EQ(chain->EncodeChain(), Binary("01 00 02 00 03 00 04 00"));
    EXPECT_FALSE(records->GetNext()->GetNext());  // the original chain is untouched
    // Changing the originals leaves the copies alone.
    records->GetNext()->SetValue(Binary("EE"));
    EXPECT_EQ(parent->Encode(), Binary("6F 07 84 01 AA 02 00 03 00"));
    EXPECT_EQ(chain->EncodeChain(), Binary("01 00 02 00 03 00 04 00"));

    const TLVPtr sharing = TLV_Base::MakeConstructed(0x6F);
    sharing->AttachChild(records);
    EXPECT_EQ(sharing->GetChild().get(), records.get());
    EXPECT_EQ(sharing->Encode(), Binary("6F 05 02 00 03 01 EE"));
    const TLVPtr linked = ParseTLV(Binary("01 00 04 00"));
    linked->AttachRec(records);
    EXPECT_EQ(linked->GetNext().get(), records.get());
    EXPECT_EQ(records->GetLast()->GetTag(), 0x04u);
    sharing->SetSon(appended);
    EXPECT_EQ(sharing->GetSon().get(), appended.get());
}

TEST(TLVClone, DeepCopyOfTheChainFromTheNode) {
    const TLVPtr chain = ParseTLV(Binary("6F 03 84 01 AA 01 01 BB"));
    const TLVPtr copy = chain->Clone();
    chain->GetChild()->SetValue(Binary("CC"));
    chain->GetNext()->SetValue(Binary("CC"));
    EXPECT_EQ(copy->EncodeChain(), Binary("6F 03 84 01 AA 01 01 BB"));
    // Clones can hand out pointers to themselves.
    EXPECT_EQ(copy->GetNext()->GetLast().get(), copy->GetNext().get());
    // A clone from the middle of a chain starts there.
    EXPECT_EQ(chain->GetNext()->Clone()->EncodeChain(), Binary("01 01 CC"));
}

TEST(TLVEquality, ComparesOwnEncodingsOnly) {
    const TLVPtr chain = ParseTLV(Binary("01 01 AA 02 01 BB"));
    EXPECT_TRUE(chain == ParseTLV(Binary("01 01 AA")));
    EXPECT_TRUE(chain != ParseTLV(Binary("01 01 AB")));
    const TLVPtr none;
    EXPECT_TRUE(none == EmptyTLV);
    EXPECT_TRUE(chain != none);
    EXPECT_TRUE(none != chain);
}

TEST(TLVEncode, ShortestLengthFieldsAndByteStrings) {
    const std::pair<uint32_t, const char*> lengths[] = {
        {0x7F, "7F"}, {0x80, "81 80"}, {0xFFFF, "82 FF FF"}, {0x10000, "83 01 00 00"}, {0xFFFFFFFF, "84 FF FF FF FF"}};
    for (const auto& [length, field] : lengths) {
        Binary target("AA");
        AppendLength(target, length);
        EXPECT_EQ(target, Binary("AA") + Binary(field)) << length;
    }
    Binary target;
    AppendTag(target, 0);
    AppendTag(target, 0x9F70);
    AppendTLVByte(target, 0x88, 0x02);
    EXPECT_EQ(target, Binary("00 9F 70 88 01 02"));
    EXPECT_EQ(MakeTLV(0x5F8102, Binary("AA BB")), Binary("5F 81 02 02 AA BB"));
}

TEST(TLVDump, TreesEmptyNodesChainsAndSixteenBytesPerLine) {
    std::string text = "head|";
    DumpTLV(nullptr, text, 3);  // nothing to add, and the text is never cleared
    DumpTLV(ParseTLV(Binary("6F 05 84 03 A0 00 01 6F 00")), text, 0);
    EXPECT_EQ(text, "head|6F:\n  84: A0 00 01 \n6F:\n");
    Binary value;
    for (int i = 0; i < 17; ++i) value.push_back(static_cast<uint8_t>(i));
    text.clear();
    DumpTLV(ParseTLV(Binary("84 00") + MakeTLV(0x9F70, value)), text, 1);
    EXPECT_EQ(text,
              "  84: \n"
              "  9F 70: 00 01 02 03 04 05 06 07 08 09 0A 0B 0C 0D 0E 0F \n"
              "         10 ");
}

}  // namespace
}  // namespace ZORVIK
