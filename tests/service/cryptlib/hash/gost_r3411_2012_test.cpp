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

TEST(R3411_12, InputCollectsTheMessage) {
    R3411_12 hash(true, false);
    hash.Input(Ascii("ab"));
    hash.Input(Ascii("c"));
    EXPECT_EQ(hash.GetContext(), Ascii("abc"));
    const Binary digest = hash.Result();
    EXPECT_EQ(digest, hash.Calc(Ascii("abc")));
    EXPECT_EQ(hash.Result(), digest);
    // Neither Result nor a one-shot Calc touches the collected message.
    EXPECT_EQ(hash.GetContext(), Ascii("abc"));
}

TEST(R3411_12, ResetEmptiesTheMessage) {
    R3411_12 hash(false, false);
    hash.Input(Ascii("abc"));
    hash.Reset();
    EXPECT_TRUE(hash.GetContext().empty());
    EXPECT_EQ(hash.Result(), Reversed(Binary("8e945da209aa869f0455928529bcae4679e9873ab707b55315f56ceb98bef0a7"
                                             "362f715528356ee83cda5f2aac4c6ad2ba3a715c1bcd81cb8e9f90bf4c1c1a8a")));
}

}  // namespace
}  // namespace ZORVIK
