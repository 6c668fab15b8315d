// Agreement of our GOST ciphers with the independent gostprov provider over random
// data. The provider's conventions: gost89 is CFB with CryptoPro key meshing under
// set Z (id 10), gost89-cnt the counter mode with meshing under CryptoPro A (id 2),
// gost89-cbc CBC without meshing under set Z, gost-mac the MAC with key-only
// meshing under CryptoPro A; a single-block MAC there gets a zero block appended.
// magma-ctr and magma-cbc take keys, IVs and data in the standard's big-endian order.
#include <gtest/gtest.h>

#include "service/cryptlib/hash/crypto_test_util.h"
#include "service/cryptlib/hash/gost_provider_oracle.h"
#include "service/cryptlib/sym/gost28147.h"
#include "service/cryptlib/sym/gost3412m.h"

namespace ZORVIK {
namespace {

using binary::Binary;

const size_t Lengths[] = {1, 7, 8, 9, 31, 64, 1000, 1023, 1024, 1025, 1031, 1032, 2048, 2049, 3000, 5000};

TEST(GostCipherOracle, Gost89CfbWithMeshing) {
    const Binary key = test::PseudoRandomMessage(32, 51), iv = test::PseudoRandomMessage(8, 52);
    GOST28147 cipher(key, 10u, 0, 0, 4);
    cipher.SetMeshingMode(GOST28147::MESHING_CRYPTOPRO);
    for (size_t length : Lengths) {
        const Binary data = test::PseudoRandomMessage(length, uint32_t(length));
        const Binary expected = test::ProviderCipher("gost89", key, iv, data, true);
        ASSERT_EQ(cipher.Encrypt(data, 4, 0, iv), expected) << length;
        ASSERT_EQ(cipher.Decrypt(expected, 4, 0, iv), data) << length;
    }
}

TEST(GostCipherOracle, Gost89CounterWithMeshing) {
    const Binary key = test::PseudoRandomMessage(32, 53), iv = test::PseudoRandomMessage(8, 54);
    GOST28147 cipher(key, 2u, 0, 0, 4);
    cipher.SetMeshingMode(GOST28147::MESHING_CRYPTOPRO);
    for (size_t length : Lengths) {
        const Binary data = test::PseudoRandomMessage(length, uint32_t(length) + 1);
        ASSERT_EQ(cipher.Encrypt(data, 3, 0, iv), test::ProviderCipher("gost89-cnt", key, iv, data, true)) << length;
    }
}

TEST(GostCipherOracle, Gost89Cbc) {
    const Binary key = test::PseudoRandomMessage(32, 55), iv = test::PseudoRandomMessage(8, 56);
    GOST28147 cipher(key, 10u, 0, 0, 4);
    for (size_t length : {8u, 16u, 1024u, 2056u}) {
        const Binary data = test::PseudoRandomMessage(length, uint32_t(length) + 2);
        const Binary expected = test::ProviderCipher("gost89-cbc", key, iv, data, true);
        ASSERT_EQ(cipher.Encrypt(data, 2, 0, iv), expected) << length;
        ASSERT_EQ(cipher.Decrypt(expected, 2, 0, iv), data) << length;
    }
}

TEST(GostCipherOracle, GostMacWithKeyOnlyMeshing) {
    const Binary key = test::PseudoRandomMessage(32, 57);
    GOST28147 cipher(key, 2u, 3, 0, 4);  // zero padding of a partial last block
    cipher.SetMeshingMode(GOST28147::MESHING_KEY_ONLY);
    for (size_t length : Lengths) {
        if (length <= 8) continue;
        const Binary data = test::PseudoRandomMessage(length, uint32_t(length) + 3);
        Binary iv;
        ASSERT_EQ(cipher.CalcCCS(data, iv), test::ProviderMac("gost-mac", key, data)) << length;
    }
    // One block: the provider appends a zero block, we do not.
    const Binary block = test::PseudoRandomMessage(8, 58);
    Binary iv;
    EXPECT_EQ(cipher.CalcCCS(block + Binary(8), iv), test::ProviderMac("gost-mac", key, block));
    iv.clear();
    EXPECT_NE(cipher.CalcCCS(block, iv), test::ProviderMac("gost-mac", key, block));
}

TEST(GostCipherOracle, MagmaCtrAndCbc) {
    const Binary key = test::PseudoRandomMessage(32, 59), ctrIv = test::PseudoRandomMessage(4, 60),
                 cbcIv = test::PseudoRandomMessage(8, 61);
    GOST3412M cipher(key, 8, 0, 0);
    for (size_t length : Lengths) {
        const Binary data = test::PseudoRandomMessage(length, uint32_t(length) + 4);
        ASSERT_EQ(cipher.Encrypt(data, 5, 0, ctrIv), test::ProviderCipher("magma-ctr", key, ctrIv, data, true))
            << length;
        if (length % 8 != 0) continue;
        const Binary expected = test::ProviderCipher("magma-cbc", key, cbcIv, data, true);
        ASSERT_EQ(cipher.Encrypt(data, 2, 0, cbcIv), expected) << length;
        ASSERT_EQ(cipher.Decrypt(expected, 2, 0, cbcIv), data) << length;
    }
}

TEST(GostCipherOracle, MagmaMac) {
    const Binary key = test::PseudoRandomMessage(32, 62);
    GOST3412M cipher(key, 8, 0, 0);
    for (size_t length : Lengths) {
        const Binary data = test::PseudoRandomMessage(length, uint32_t(length) + 5);
        Binary unused;
        ASSERT_EQ(cipher.CalcCCS(data, unused), test::ProviderMac("magma-mac", key, data)) << length;
    }
}

}  // namespace
}  // namespace ZORVIK
