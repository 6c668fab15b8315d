#include "service/cryptlib/hash/gost_r3411_2012.h"

#include <gtest/gtest.h>

#include "service/cryptlib/hash/crypto_test_util.h"
#include "support/vectors.h"

namespace ZORVIK {
namespace {

using binary::Binary;

Binary Ascii(const std::string& text) { return Binary(text.begin(), text.end()); }
Binary Reversed(const Binary& data) { return Binary(data.rbegin(), data.rend()); }

TEST(R3411_12, PublishedVectorsInBothByteOrders) {
    for (const auto& v : test::LoadVectors("hash/gost_r3411_2012.vec")) {
        SCOPED_TRACE(v.Where() + " " + v.Text("Name"));
        const Binary message = v.Bin("Message");
        EXPECT_EQ(R3411_12(false, false).Calc(message), v.Bin("Digest512"));
        EXPECT_EQ(R3411_12(true, false).Calc(message), v.Bin("Digest256"));
        EXPECT_EQ(R3411_12(false, true).Calc(Reversed(message)), Reversed(v.Bin("Digest512")));
        EXPECT_EQ(R3411_12(true, true).Calc(Reversed(message)), Reversed(v.Bin("Digest256")));
    }
}

TEST(R3411_12, SixtyThreeCharacterStringInReversedOrder) {
    // RFC 6986's M1 is the ASCII text below printed as a number; in the reversed byte
    // order it is the text itself, and the digest comes out reversed as well.
    R3411_12 hash(true, true);
    EXPECT_EQ(hash.Calc(Ascii("012345678901234567890123456789012345678901234567890123456789012")),
              Binary("9d151eefd8590b89daa6ba6cb74af9275dd051026bb149a452fd84e5e57b5500"));
}

TEST(R3411_12, InputCollectsTheMessage) {
    R3411_12 hash(true, false);
    hash.Input(Ascii("ab"));
    hash.Input(Ascii("c"));
    EXPECT_EQ(hash.GetContext(), Ascii("abc"));
    const Binary digest = hash.Result();
    EXPECT_EQ(digest, hash.Calc(Ascii("abc")));
    EXPECT_EQ(hash.Result(), digest);
    EXPECT_EQ(hash.GetContext(), Ascii("abc"));
}

TEST(R3411_12, CalcIgnoresTheCollectedMessage) {
    R3411_12 hash(false, false);
    hash.Input(Ascii("collected"));
    const Binary empty512 = R3411_12(false, false).Calc(Binary());
    EXPECT_EQ(hash.Calc(Binary()), empty512);
    EXPECT_EQ(hash.GetContext(), Ascii("collected"));
}

TEST(R3411_12, SetContextThenResultEqualsCalc) {
    const Binary data = test::PseudoRandomMessage(131, 7);
    R3411_12 hash(true, true);
    hash.SetContext(data);
    EXPECT_EQ(hash.Result(), R3411_12(true, true).Calc(data));
    hash.SetContext(Binary());
    EXPECT_EQ(hash.Result(), R3411_12(true, true).Calc(Binary()));
}

TEST(R3411_12, ResetEmptiesTheMessage) {
    R3411_12 hash(false, false);
    hash.Input(Ascii("abc"));
    hash.Reset();
    EXPECT_TRUE(hash.GetContext().empty());
    EXPECT_EQ(hash.Result(), Reversed(Binary("8e945da209aa869f0455928529bcae4679e9873ab707b55315f56ceb98bef0a7"
                                              "362f715528356ee83cda5f2aac4c6ad2ba3a715c1bcd81cb8e9f90bf4c1c1a8a")));
}

TEST(R3411_12, ContextRoundTripsAtEveryByteBoundary) {
    const Binary message = test::PseudoRandomMessage(200, 8);
    test::ExpectContextRoundTrips([] { return std::make_unique<R3411_12>(true, false); }, message);
    test::ExpectContextRoundTrips([] { return std::make_unique<R3411_12>(false, true); }, message);
}

TEST(R3411_12, CloneKeepsSizeFlagAndMessage) {
    R3411_12 hash(false, true);
    hash.Input(Ascii("ab"));
    auto copy = hash.Clone();
    hash.Input(Ascii("x"));
    copy->Input(Ascii("c"));
    EXPECT_EQ(copy->GetHashSize(), 64u);
    EXPECT_EQ(copy->Result(), R3411_12(false, true).Calc(Ascii("abc")));
}

TEST(R3411_12, Constants) {
    EXPECT_EQ(R3411_12(true, false).GetHashSize(), 32u);
    EXPECT_EQ(R3411_12(false, false).GetHashSize(), 64u);
    EXPECT_EQ(R3411_12(false, false).Calc(Binary("00")).size(), 64u);
    EXPECT_EQ(R3411_12().GetBlockSize(), 64u);
    EXPECT_EQ(R3411_12().GetHashID(), 0x80);
    EXPECT_EQ(R3411_12().GetName(), "GOST R3411-2012");
}

}  // namespace
}  // namespace ZORVIK
