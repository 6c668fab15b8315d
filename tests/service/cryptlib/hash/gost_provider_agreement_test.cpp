// Agreement of our GOST hashes with the independent gostprov provider over random
// messages. The provider reads messages and writes digests least significant byte
// first: the reverse flag of R3411_12, the plain order of R3411 (CryptoPro set).
#include <gtest/gtest.h>

#include "service/cryptlib/hash/crypto_test_util.h"
#include "service/cryptlib/hash/gost_provider_oracle.h"
#include "service/cryptlib/hash/gost_r3411_2012.h"
#include "service/cryptlib/hash/gost_r3411_94.h"

namespace ZORVIK {
namespace {

using binary::Binary;

TEST(GostHashOracle, EveryLengthUpTo1000) {
    const Binary pool = test::PseudoRandomMessage(1000, 9);
    R3411 r3411(7, false);
    R3411_12 streebog256(true, true), streebog512(false, true);
    for (size_t length = 0; length <= pool.size(); ++length) {
        const Binary message(pool.begin(), pool.begin() + length);
        ASSERT_EQ(r3411.Calc(message), test::ProviderDigest("md_gost94", message)) << length;
        ASSERT_EQ(streebog256.Calc(message), test::ProviderDigest("md_gost12_256", message)) << length;
        ASSERT_EQ(streebog512.Calc(message), test::ProviderDigest("md_gost12_512", message)) << length;
    }
}

TEST(GostHashOracle, SeveralMebibytes) {
    const Binary message = test::PseudoRandomMessage(3 * 1024 * 1024 + 17, 10);
    EXPECT_EQ(R3411(7, false).Calc(message), test::ProviderDigest("md_gost94", message));
    EXPECT_EQ(R3411_12(true, true).Calc(message), test::ProviderDigest("md_gost12_256", message));
    EXPECT_EQ(R3411_12(false, true).Calc(message), test::ProviderDigest("md_gost12_512", message));
}

TEST(GostHashOracle, IncrementalPiecesOfRandomSizes) {
    const Binary message = test::PseudoRandomMessage(5000, 11);
    R3411 hash(7, false);
    std::mt19937 sizes(12);
    for (size_t at = 0; at < message.size();) {
        const size_t piece = std::min<size_t>(sizes() % 100, message.size() - at);
        hash.Input(Binary(message.begin() + at, message.begin() + at + piece));
        at += piece;
    }
    EXPECT_EQ(hash.Result(), test::ProviderDigest("md_gost94", message));
}

}  // namespace
}  // namespace ZORVIK
