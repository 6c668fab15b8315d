// What every Hash promises its callers, checked over each algorithm: the running
// state survives Calc and Clone, and the context saves and restores it.
#include "service/cryptlib/hash/hash.h"

#include <gtest/gtest.h>

#include <functional>

#include "service/cryptlib/hash/crypto_test_util.h"
#include "service/cryptlib/hash/gost_r3411_2012.h"
#include "service/cryptlib/hash/gost_r3411_94.h"
#include "service/cryptlib/hash/sha.h"

namespace ZORVIK {
namespace {

using binary::Binary;

Binary Ascii(const std::string& text) { return Binary(text.begin(), text.end()); }

struct HashCase {
    const char* name;
    std::function<std::unique_ptr<Hash>()> make;
    uint32_t size;
    uint8_t id;
};

const HashCase kHashes[] = {
    {"SHA1", [] { return std::make_unique<SHA1>(); }, 20, 0x33},
    {"SHA256", [] { return std::make_unique<SHA256>(); }, 32, 0x34},
    {"R3411", [] { return std::make_unique<R3411>(0, false); }, 32, 0x80},
    {"R3411_12/256", [] { return std::make_unique<R3411_12>(true, false); }, 32, 0x80},
    {"R3411_12/512 reversed", [] { return std::make_unique<R3411_12>(false, true); }, 64, 0x80},
};

TEST(Hash, RunningStateSurvivesCalcAndClone) {
    for (const HashCase& c : kHashes) {
        SCOPED_TRACE(c.name);
        auto hash = c.make();
        EXPECT_EQ(hash->GetHashSize(), c.size);
        EXPECT_EQ(hash->GetHashID(), c.id);
        hash->Input(Ascii("pending bytes"));
        const Binary abc = hash->Calc(Ascii("abc"));
        EXPECT_EQ(abc, c.make()->Calc(Ascii("abc")));
        EXPECT_EQ(abc.size(), c.size);

        hash->Reset();
        hash->Input(Ascii("ab"));
        auto copy = hash->Clone();
        copy->Input(Ascii("c"));
        hash->Input(Ascii("x"));
        EXPECT_EQ(copy->Result(), abc);
        EXPECT_EQ(hash->Result(), c.make()->Calc(Ascii("abx")));
    }
}

TEST(Hash, ContextRoundTripsAtEveryByteBoundary) {
    const Binary message = test::PseudoRandomMessage(200, 2);
    for (const HashCase& c : kHashes) {
        SCOPED_TRACE(c.name);
        test::ExpectContextRoundTrips(c.make, message);
    }
}

}  // namespace
}  // namespace ZORVIK
