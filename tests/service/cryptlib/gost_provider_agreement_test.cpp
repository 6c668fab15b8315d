// Agreement of our GOST hashes, ciphers and MACs with the independent gostprov
// provider over random data, one row per algorithm and mode. The provider's
// conventions: it reads messages and writes digests least significant byte first
// (the reverse flag of R3411_12, the plain order of R3411 under the CryptoPro set);
// gost89 is CFB with CryptoPro key meshing under set Z (id 10), gost89-cnt the
// counter mode with meshing under CryptoPro A (id 2), gost89-cbc CBC without
// meshing under set Z, gost-mac the MAC with key-only meshing under CryptoPro A;
// magma-ctr and magma-cbc take keys, IVs and data in the standard's big-endian order.
// The provider (Debian's libengine-gost-openssl) is used by these tests only,
// never linked into the library.
#include <gtest/gtest.h>
#include <openssl/evp.h>
#include <openssl/provider.h>

#include "service/cryptlib/crypto_test_util.h"
#include "service/cryptlib/hash/gost_r3411_2012.h"
#include "service/cryptlib/hash/gost_r3411_94.h"
#include "service/cryptlib/sym/gost28147.h"
#include "service/cryptlib/sym/gost3412m.h"

namespace ZORVIK {
namespace {

using binary::Binary;

// gostprov lives in the process-wide default library context, because its OMAC
// fetches ciphers from there; loading a provider explicitly stops the automatic
// load of "default", so both are loaded once here.
void LoadProviders() {
    static OSSL_PROVIDER* const defaultProvider = OSSL_PROVIDER_load(nullptr, "default");
    static OSSL_PROVIDER* const gostProvider = OSSL_PROVIDER_load(nullptr, "gostprov");
    if (defaultProvider == nullptr || gostProvider == nullptr) throw std::runtime_error("cannot load gostprov");
}

// The provider's digest of data ("md_gost94", ...), or with a key its MAC ("gost-mac", ...).
Binary Provider(const char* name, const Binary& data, const Binary& key = Binary()) {
    LoadProviders();
    Binary out(64);
    size_t length = 0;
    const bool ok = key.empty() ? EVP_Q_digest(nullptr, name, nullptr, data.data(), data.size(), out.data(), &length)
                                : EVP_Q_mac(nullptr, name, nullptr, nullptr, nullptr, key.data(), key.size(),
                                            data.data(), data.size(), out.data(), out.size(), &length) != nullptr;
    if (!ok) throw std::runtime_error(std::string("gostprov failed: ") + name);
    out.resize(length);
    return out;
}

// One encryption without padding by the provider's cipher ("gost89", "magma-ctr", ...).
Binary ProviderCipher(const char* name, const Binary& key, const Binary& iv, const Binary& data) {
    LoadProviders();
    std::unique_ptr<EVP_CIPHER, decltype(&EVP_CIPHER_free)> cipher(EVP_CIPHER_fetch(nullptr, name, nullptr),
                                                                   EVP_CIPHER_free);
    std::unique_ptr<EVP_CIPHER_CTX, decltype(&EVP_CIPHER_CTX_free)> ctx(EVP_CIPHER_CTX_new(), EVP_CIPHER_CTX_free);
    Binary out(data.size() + 16);
    int length = 0, tail = 0;
    if (!cipher || EVP_EncryptInit_ex2(ctx.get(), cipher.get(), key.data(), iv.data(), nullptr) != 1 ||
        EVP_CIPHER_CTX_set_padding(ctx.get(), 0) != 1 ||
        EVP_EncryptUpdate(ctx.get(), out.data(), &length, data.data(), int(data.size())) != 1 ||
        EVP_EncryptFinal_ex(ctx.get(), out.data() + length, &tail) != 1)
        throw std::runtime_error(std::string("cipher failed: ") + name);
    out.resize(size_t(length + tail));
    return out;
}

// Length 0 included: GOST R 34.11-94 compresses one zero block for the empty
// message, as the GOST engine of OpenSSL does (3f25bc1f...). Implementations that
// compress no block (the table of Wikipedia, Bouncy Castle) print 981e5f3c...d656c0
// instead; neither value is an example of the standard itself.
TEST(GostProviderAgreement, HashesOfEveryLengthUpTo1000) {
    const Binary pool = test::PseudoRandomMessage(1000, 9);
    R3411 r3411(7, false);
    R3411_12 streebog256(true, true), streebog512(false, true);
    for (size_t length = 0; length <= pool.size(); ++length) {
        const Binary message(pool.begin(), pool.begin() + length);
        ASSERT_EQ(r3411.Calc(message), Provider("md_gost94", message)) << length;
        ASSERT_EQ(streebog256.Calc(message), Provider("md_gost12_256", message)) << length;
        ASSERT_EQ(streebog512.Calc(message), Provider("md_gost12_512", message)) << length;
    }
}

const size_t Lengths[] = {1, 7, 8, 9, 31, 64, 1000, 1023, 1024, 1025, 1031, 1032, 2048, 2049, 3000, 5000};

std::unique_ptr<BlockCipher> Gost89(const Binary& key, uint32_t sbox, uint32_t ccsPadding, uint32_t meshing) {
    auto cipher = std::make_unique<GOST28147>(key, sbox, ccsPadding, 0, 4);
    cipher->SetMeshingMode(meshing);
    return cipher;
}

TEST(GostProviderAgreement, CiphersAndMacs) {
    const Binary key = test::PseudoRandomMessage(32, 51);
    const struct {
        const char* name;
        std::unique_ptr<BlockCipher> cipher;
        uint32_t mode;  // 0: the MAC
        size_t ivLength;
    } rows[] = {
        {"gost89", Gost89(key, 10u, 0, GOST28147::MESHING_CRYPTOPRO), 4, 8},
        {"gost89-cnt", Gost89(key, 2u, 0, GOST28147::MESHING_CRYPTOPRO), 3, 8},
        {"gost89-cbc", Gost89(key, 10u, 0, GOST28147::MESHING_NONE), 2, 8},
        {"magma-ctr", std::make_unique<GOST3412M>(key, 8, 0, 0), 5, 4},
        {"magma-cbc", std::make_unique<GOST3412M>(key, 8, 0, 0), 2, 8},
        // Zero padding of a partial last block.
        {"gost-mac", Gost89(key, 2u, PADDING_GOST_ALIGN, GOST28147::MESHING_KEY_ONLY), 0, 0},
        {"magma-mac", std::make_unique<GOST3412M>(key, 8, 0, 0), 0, 0},
    };
    for (const auto& row : rows) {
        const Binary iv = test::PseudoRandomMessage(row.ivLength, 52);
        for (size_t length : Lengths) {
            SCOPED_TRACE(std::string(row.name) + " " + std::to_string(length));
            const Binary data = test::PseudoRandomMessage(length, uint32_t(length));
            if (row.mode == 0) {
                Binary macIv;
                if (length <= 8 && std::string(row.name) == "gost-mac") {
                    // One block gets one MAC step here on purpose; gost-mac
                    // appends a zero block to it, and agrees with our MAC of
                    // the zero-padded block followed by that zero block.
                    Binary padded = data;
                    padded.resize(16, 0x00);
                    ASSERT_EQ(row.cipher->CalcCCS(padded, macIv), Provider(row.name, data, key));
                    macIv.clear();
                    ASSERT_NE(row.cipher->CalcCCS(data, macIv), Provider(row.name, data, key));
                    continue;
                }
                ASSERT_EQ(row.cipher->CalcCCS(data, macIv), Provider(row.name, data, key));
                ASSERT_EQ(row.cipher->GetKey(), key);  // meshing never outlives the call
                continue;
            }
            if (row.mode == CIPHER_MODE_CBC && length % 8 != 0) continue;
            const Binary expected = ProviderCipher(row.name, key, iv, data);
            ASSERT_EQ(row.cipher->Encrypt(data, row.mode, 0, iv), expected);
            ASSERT_EQ(row.cipher->Decrypt(expected, row.mode, 0, iv), data);
        }
    }
}

}  // namespace
}  // namespace ZORVIK
