#include "service/cryptlib/hash/gost_r3411_94.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "service/common/exception.h"
#include "service/cryptlib/hash/crypto_test_util.h"
#include "service/cryptlib/sym/gost_sbox.h"
#include "support/vectors.h"

namespace ZORVIK {
namespace {

using binary::Binary;

Binary Ascii(const std::string& text) { return Binary(text.begin(), text.end()); }
Binary Reversed(const Binary& data) { return Binary(data.rbegin(), data.rend()); }

TEST(R3411, PublishedVectors) {
    for (const auto& v : test::LoadVectors("hash/gost_r3411_94.vec")) {
        SCOPED_TRACE(v.Where());
        R3411 hash(uint32_t(std::stoul(v.Text("Section"))), false);
        EXPECT_EQ(hash.Calc(v.Bin("Message")), v.Bin("Digest"));
        hash.Reset();
        hash.Input(v.Bin("Message"));
        EXPECT_EQ(hash.Result(), v.Bin("Digest"));
        // RFC 5831 prints message and digest as numbers, most significant byte first:
        // the reverse flag takes and gives that order.
        R3411 reversed(uint32_t(std::stoul(v.Text("Section"))), true);
        EXPECT_EQ(reversed.Calc(Reversed(v.Bin("Message"))), Reversed(v.Bin("Digest")));
    }
}

TEST(R3411, EmptyMessageIsOneZeroBlock) {
    // Under the CryptoPro set, with one zero block compressed before length and sum,
    // as the GOST engine of OpenSSL does. Implementations that compress no block for
    // the empty message (the table of Wikipedia, Bouncy Castle) print 981e5f3c...d656c0
    // instead; neither value is an example of the standard itself.
    R3411 hash(7, false);
    EXPECT_EQ(hash.Calc(Binary()), Binary("3f25bc1fbbce27ca10fb1958f319473ae7e17482c3b53ecf47a7e2de8aabe4c8"));
    hash.Reset();
    EXPECT_EQ(hash.Result(), Binary("3f25bc1fbbce27ca10fb1958f319473ae7e17482c3b53ecf47a7e2de8aabe4c8"));
}

TEST(R3411, ReverseRefusesInputUntilReset) {
    R3411 hash(0, true);
    EXPECT_EQ(test::MessageOf([&] { hash.Input(Ascii("abc")); }),
              "Incremental mode is not supported if reverse = true.");
    hash.Reset();
    hash.Input(Ascii("abc"));
    EXPECT_EQ(hash.Result(), Binary("f3134348c44fb1b2a277729e2285ebb5cb5e0f29c975bc753b70497c06a4d51d"));
    // A clone keeps the flag.
    EXPECT_THROW(R3411(7, true).Clone()->Input(Ascii("a")), Exception);
    // Reset cleared the flag: Calc no longer reverses.
    EXPECT_EQ(hash.Calc(Ascii("abc")), Binary("f3134348c44fb1b2a277729e2285ebb5cb5e0f29c975bc753b70497c06a4d51d"));
}

TEST(R3411, ReversedCalcIsReversalOfPlainCalc) {
    const Binary data = test::PseudoRandomMessage(77, 3);
    R3411 plain(7, false), reversed(7, true);
    EXPECT_EQ(reversed.Calc(data), Reversed(plain.Calc(Reversed(data))));
    // The running state afterwards holds the (reversed) message of the call.
    EXPECT_EQ(reversed.GetContext(), plain.GetContext());
}

TEST(R3411, ResultLeavesTheRunningStateAlone) {
    R3411 hash(0, false);
    hash.Input(Ascii("ab"));
    const Binary first = hash.Result();
    EXPECT_EQ(hash.Result(), first);
    hash.Input(Ascii("a"));
    EXPECT_EQ(hash.Result(), R3411(0, false).Calc(Ascii("aba")));
}

TEST(R3411, ContextLayoutAfterFortyBytes) {
    const Binary data = test::PseudoRandomMessage(40, 4);
    R3411 hash(0, false);
    hash.Input(data);
    const Binary context = hash.GetContext();
    ASSERT_EQ(context.size(), 108u);
    EXPECT_EQ(Binary(context.begin(), context.begin() + 8), Binary("2000000000000000"));  // len 32
    EXPECT_EQ(Binary(context.begin() + 8, context.begin() + 12), Binary("08000000"));     // left 8
    EXPECT_EQ(Binary(context.begin() + 76, context.begin() + 84), Binary(data.begin() + 32, data.end()));
    // S holds the one compressed block so far.
    EXPECT_EQ(Binary(context.begin() + 44, context.begin() + 76), Binary(data.begin(), data.begin() + 32));
}

TEST(R3411, SetContextChecks) {
    R3411 hash(0, false);
    hash.Input(Ascii("abc"));
    const Binary before = hash.GetContext();
    EXPECT_EQ(test::MessageOf([&] { hash.SetContext(Binary(107)); }), "Wrong hash context size");
    EXPECT_EQ(hash.GetContext(), before);

    // A pending count that would overrun the 32-byte block is refused.
    Binary bad = before;
    bad[8] = 32;
    EXPECT_THROW(hash.SetContext(bad), Exception);
    EXPECT_EQ(hash.GetContext(), before);

    // Longer input: the first 108 bytes count.
    Binary longer = before;
    longer.resize(120, 0x55);
    R3411 other(0, false);
    other.SetContext(longer);
    EXPECT_EQ(other.Result(), hash.Result());
}

TEST(R3411, SBoxReadBackAndReplace) {
    R3411 hash(7, false);
    EXPECT_EQ(hash.GetSBox(), GetSBoxByID(7));
    const Binary data = test::PseudoRandomMessage(90, 6);
    const Binary digest = hash.Calc(data);
    hash.SetSBox(hash.GetSBox());
    EXPECT_EQ(hash.Calc(data), digest);

    // Switching to the test set mid-message keeps the running state.
    hash.Reset();
    hash.Input(Ascii("a"));
    hash.SetSBox(Uncompress(GetSBoxByID(0)));
    EXPECT_EQ(hash.GetSBox(), GetSBoxByID(0));
    EXPECT_EQ(hash.Result(), Binary("d42c539e367c66e9c88a801f6649349c21871b4344c6a573f849fdce62f314dd"));

    EXPECT_EQ(test::MessageOf([&] { hash.SetSBox(Binary(100)); }), "Wrong sbox size");
    EXPECT_EQ(hash.GetSBox(), GetSBoxByID(0));
    EXPECT_EQ(test::MessageOf([] { R3411(11, false); }), "R3411: unknown sbox");
}

}  // namespace
}  // namespace ZORVIK
