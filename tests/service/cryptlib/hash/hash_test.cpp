// The hashes of the crypto library: what every Hash promises its callers (the
// running state survives Calc and Clone, the context saves and restores it in the
// layout that stored contexts keep), then the published vectors and the
// particulars of each algorithm.
#include "service/cryptlib/hash/hash.h"

#include <gtest/gtest.h>

#include <random>

#include "service/cryptlib/crypto_test_util.h"
#include "service/cryptlib/hash/gost_r3411_2012.h"
#include "service/cryptlib/hash/gost_r3411_94.h"
#include "service/cryptlib/hash/sha.h"
#include "service/cryptlib/sym/gost_sbox.h"

namespace ZORVIK {
namespace {

using binary::Binary;
using test::Ascii;
using test::Reversed;

struct HashCase {
    const char* name;
    std::function<std::unique_ptr<Hash>()> make;
    uint32_t size;
    uint8_t id;
    bool resultLeavesTheState;  // the GOST hashes; SHA leaves its context finished
};

const HashCase Hashes[] = {
    {"SHA1", [] { return std::make_unique<SHA1>(); }, 20, 0x33, false},
    {"SHA256", [] { return std::make_unique<SHA256>(); }, 32, 0x34, false},
    {"R3411", [] { return std::make_unique<R3411>(0, false); }, 32, 0x80, true},
    {"R3411_12/256", [] { return std::make_unique<R3411_12>(true, false); }, 32, 0x80, true},
    {"R3411_12/512 reversed", [] { return std::make_unique<R3411_12>(false, true); }, 64, 0x80, true},
};

TEST(Hash, RunningStateSurvivesCalcAndClone) {
    for (const HashCase& c : Hashes) {
        SCOPED_TRACE(c.name);
        auto hash = c.make();
        EXPECT_EQ(hash->GetHashSize(), c.size);
        EXPECT_EQ(hash->GetHashID(), c.id);
        hash->Input(Ascii("pending bytes"));
        const Binary abc = hash->Calc(Ascii("abc"));
        EXPECT_EQ(abc, c.make()->Calc(Ascii("abc")));
        EXPECT_EQ(abc.size(), c.size);

        // A clone taken after whole blocks carries their chaining value as well.
        const Binary prefix = test::PseudoRandomMessage(150, 3);
        auto running = c.make();
        running->Input(prefix);
        auto later = running->Clone();
        later->Input(Ascii("c"));
        EXPECT_EQ(later->Result(), c.make()->Calc(prefix + Ascii("c")));

        hash->Reset();
        hash->Input(Ascii("ab"));
        auto copy = hash->Clone();
        copy->Input(Ascii("c"));
        hash->Input(Ascii("x"));
        EXPECT_EQ(copy->Result(), abc);
        EXPECT_EQ(hash->Result(), c.make()->Calc(Ascii("abx")));
        if (!c.resultLeavesTheState) continue;
        EXPECT_EQ(hash->Result(), c.make()->Calc(Ascii("abx")));
        hash->Input(Ascii("y"));
        EXPECT_EQ(hash->Result(), c.make()->Calc(Ascii("abxy")));
    }
}

// For every k: Input of the first k bytes, GetContext, SetContext on a fresh
// object, Input of the rest, Result; each must equal the one-shot digest.
TEST(Hash, ContextRoundTripsAtEveryByteBoundary) {
    const Binary message = test::PseudoRandomMessage(200, 2);
    for (const HashCase& c : Hashes) {
        SCOPED_TRACE(c.name);
        const Binary expected = c.make()->Calc(message);
        for (size_t k = 0; k <= message.size(); ++k) {
            auto first = c.make(), second = c.make();
            first->Input(Binary(message.begin(), message.begin() + k));
            second->SetContext(first->GetContext());
            second->Input(Binary(message.begin() + k, message.end()));
            ASSERT_EQ(second->Result(), expected) << "split after " << k << " bytes";
        }
    }
}

// Input in pieces of random sizes, many of them crossing block boundaries, gives
// the one-shot digest.
TEST(Hash, InputInPiecesOfRandomSizes) {
    const Binary message = test::PseudoRandomMessage(5000, 11);
    for (const HashCase& c : Hashes) {
        SCOPED_TRACE(c.name);
        auto hash = c.make();
        std::mt19937 sizes(12);
        for (size_t at = 0; at < message.size();) {
            const size_t piece = std::min<size_t>(sizes() % 100, message.size() - at);
            hash->Input(Binary(message.begin() + at, message.begin() + at + piece));
            at += piece;
        }
        EXPECT_EQ(hash->Result(), c.make()->Calc(message));
    }
}

uint32_t WordAt(const Binary& c, size_t at) {
    return c[at] | c[at + 1] << 8 | c[at + 2] << 16 | uint32_t(c[at + 3]) << 24;
}

// The stored layouts (little-endian words) after a message that leaves a partial
// block pending; contexts too short or with a pending count that would overrun the
// block are refused, leaving the running state as it was; longer ones load their head.
TEST(Hash, ContextLayoutAndItsChecks) {
    const struct {
        std::function<std::unique_ptr<Hash>()> make;
        size_t messageLength, contextSize, countOffset;  // bit count (SHA), compressed byte count (R3411)
        uint32_t count;
        size_t pendingCountOffset, pendingOffset, block;
        size_t highCountOffset;  // the high word of the count, zero here
        const char* tooShort;
        const char* pendingPastTheBlock;
        int cryptLibCode;  // SHA-256 reports as CryptLibException, code 0
    } layouts[] = {
        {[] { return std::make_unique<SHA1>(); }, 70, 96, 20, 560, 92, 28, 64, 24, "Too small context size",
         "Invalid pending byte count in context: 64, expected 0..63", -1},
        {[] { return std::make_unique<SHA256>(); }, 70, 112, 32, 560, 104, 40, 64, 36, "Too small context size.",
         "Invalid pending byte count in context: 64, expected 0..63", 0},
        {[] { return std::make_unique<R3411>(0, false); }, 40, 108, 0, 32, 8, 76, 32, 4, "Wrong hash context size",
         "Invalid pending byte count in hash context: 32, expected 0..31", -1},
    };
    for (const auto& c : layouts) {
        const Binary message = test::PseudoRandomMessage(c.messageLength, 1);
        const size_t pending = c.messageLength % c.block;
        auto hash = c.make();
        SCOPED_TRACE(hash->GetName());
        hash->Input(message);
        const Binary context = hash->GetContext();
        ASSERT_EQ(context.size(), c.contextSize);
        EXPECT_EQ(WordAt(context, c.countOffset), c.count);
        EXPECT_EQ(WordAt(context, c.highCountOffset), 0u);
        EXPECT_EQ(WordAt(context, c.pendingCountOffset), pending);
        EXPECT_EQ(Slice(context, uint32_t(c.pendingOffset), uint32_t(pending)), Back(message, uint32_t(pending)));

        Binary pastTheBlock = context, longer = context;
        pastTheBlock[c.pendingCountOffset] = uint8_t(c.block);
        test::ExpectRefusals({{[&] { hash->SetContext(Binary(c.contextSize - 1)); }, c.tooShort, c.cryptLibCode},
                              {[&] { hash->SetContext(pastTheBlock); }, c.pendingPastTheBlock, c.cryptLibCode}});
        EXPECT_EQ(hash->GetContext(), context);
        longer.resize(c.contextSize + 12, 0xEE);
        auto other = c.make();
        other->SetContext(longer);
        EXPECT_EQ(other->Result(), hash->Result());
    }
    // The SHA-256 context carries its digest length, which must stay 32.
    SHA256 sha256;
    Binary context = sha256.GetContext();
    EXPECT_EQ(WordAt(context, 108), 32u);
    context[108] = 64;
    test::ExpectRefusals({{[&] { sha256.SetContext(context); }, "Invalid digest length in context, expected 32", 0}});
}

// The published vectors, one-shot and incremental; the GOST hashes also through
// the reverse flag, which takes and gives the order in which RFC 5831 and
// GOST R 34.11-2012 print them (numbers, most significant byte first).
TEST(Hash, PublishedVectors) {
    using Make = std::function<std::unique_ptr<Hash>(const test::TestVector&, bool reverse)>;
    const struct {
        const char* file;
        const char* digest;
        Make make;
        bool reversible;
    } sources[] = {
        {"hash/sha.vec", "SHA1", [](const test::TestVector&, bool) { return std::make_unique<SHA1>(); }, false},
        {"hash/sha.vec", "SHA256", [](const test::TestVector&, bool) { return std::make_unique<SHA256>(); }, false},
        {"hash/gost_r3411_94.vec", "Digest",  // the section is the S-box id
         [](const test::TestVector& v, bool r) { return std::make_unique<R3411>(std::stoul(v.Text("Section")), r); },
         true},
        {"hash/gost_r3411_2012.vec", "Digest512",
         [](const test::TestVector&, bool r) { return std::make_unique<R3411_12>(false, r); }, true},
        {"hash/gost_r3411_2012.vec", "Digest256",
         [](const test::TestVector&, bool r) { return std::make_unique<R3411_12>(true, r); }, true},
    };
    for (const auto& source : sources) {
        for (const auto& v : test::LoadVectors(source.file)) {
            SCOPED_TRACE(v.Where() + " " + source.digest);
            const Binary message = v.Bin("Message"), digest = v.Bin(source.digest);
            auto hash = source.make(v, false);
            EXPECT_EQ(hash->Calc(message), digest);
            hash->Reset();
            hash->Input(message);
            EXPECT_EQ(hash->Result(), digest);
            if (!source.reversible) continue;
            EXPECT_EQ(source.make(v, true)->Calc(Reversed(message)), Reversed(digest));
        }
    }
    // The free SHA functions take a null pointer for empty data, and refuse it with a length.
    uint8_t out[32];
    SHA1_Calc(nullptr, 0, out);
    EXPECT_EQ(Binary(out, out + 20), Binary("da39a3ee5e6b4b0d3255bfef95601890afd80709"));
    SHA256_Calc(nullptr, 0, out);
    EXPECT_EQ(Binary(out, out + 32), Binary("e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"));
    test::ExpectRefusals({{[&] { SHA1_Calc(nullptr, 3, out); }, "Invalid data"},
                          {[&] { SHA256_Calc(nullptr, 3, out); }, "Invalid data", 0}});
}

// The reverse flag refuses Input until Reset clears it (a clone keeps it); the S-box
// reads back, and a replacement (here in expanded form) keeps the running state.
// The control sum of the compressed blocks sits at offset 44: after 40 bytes it is
// the one block compressed so far. A reversed Calc leaves the state of the
// reversed message.
TEST(R3411, ContextHoldsTheControlSumAndTheReversedMessage) {
    const Binary data = test::PseudoRandomMessage(40, 4);
    R3411 hash(0, false);
    hash.Input(data);
    EXPECT_EQ(Slice(hash.GetContext(), 44, 32), Slice(data, 0, 32));
    EXPECT_EQ(Slice(hash.GetContext(), 0, 8), Binary("2000000000000000"));

    const Binary message = test::PseudoRandomMessage(77, 3);
    R3411 plain(7, false), reversed(7, true);
    EXPECT_EQ(reversed.Calc(message), Reversed(plain.Calc(Reversed(message))));
    EXPECT_EQ(reversed.GetContext(), plain.GetContext());
}

TEST(R3411, ReverseFlagAndSBox) {
    R3411 hash(7, true);
    const char* incremental = "Incremental mode is not supported if reverse = true.";
    test::ExpectRefusals({{[&] { hash.Input(Ascii("a")); }, incremental},
                          {[&] { hash.Clone()->Input(Ascii("a")); }, incremental},
                          {[&] { hash.SetSBox(Binary(100)); }, "Wrong sbox size"},
                          {[&] { R3411(11, false); }, "R3411: unknown sbox", 0}});
    for (uint32_t id = 0; id <= 10; ++id) EXPECT_EQ(R3411(id, false).GetSBox(), GetSBoxByID(id)) << id;
    EXPECT_EQ(hash.GetSBox(), GetSBoxByID(7));
    hash.Reset();
    hash.Input(Ascii("a"));
    const Binary underSet7 = hash.Result();
    hash.SetSBox(hash.GetSBox());
    EXPECT_EQ(hash.Result(), underSet7);
    hash.SetSBox(Uncompress(GetSBoxByID(0)));
    EXPECT_EQ(hash.GetSBox(), GetSBoxByID(0));
    EXPECT_THROW(hash.SetSBox(Binary(100)), Exception);
    EXPECT_EQ(hash.GetSBox(), GetSBoxByID(0));
    EXPECT_EQ(hash.Result(), R3411(0, false).Calc(Ascii("a")));
    EXPECT_EQ(hash.Calc(Ascii("abc")), R3411(0, false).Calc(Ascii("abc")));
}

TEST(R3411_12, ContextIsTheCollectedMessage) {
    R3411_12 hash(false, false);
    hash.Input(Ascii("ab"));
    hash.Input(Ascii("c"));
    hash.Result();
    hash.Calc(Ascii("xyz"));
    EXPECT_EQ(hash.GetContext(), Ascii("abc"));
    hash.Reset();
    EXPECT_TRUE(hash.GetContext().empty());
    const auto empty = test::LoadVectors("hash/gost_r3411_2012.vec").at(2);
    ASSERT_EQ(empty.Text("Name"), "empty");
    EXPECT_EQ(hash.Result(), empty.Bin("Digest512"));
}

}  // namespace
}  // namespace ZORVIK
