// Throughput of our GOST 28147-89 and GOST R 34.12-2015 64-bit ciphers and MACs
// next to the gostprov provider of Debian's libengine-gost-openssl, in one process
// and run, over 8 KiB and 1 MiB. Like for like: gost89 is CFB and gost89-cnt the
// counter mode, both with CryptoPro key meshing, gost-mac the MAC with key-only
// meshing, as ours are run here. The provider has no ECB: our ECB runs beside its
// counter mode, the nearest pace (one encipherment per block, nothing chained).
#include <benchmark/benchmark.h>
#include <openssl/evp.h>
#include <openssl/provider.h>

#include <stdexcept>

#include "service/cryptlib/sym/gost28147.h"
#include "service/cryptlib/sym/gost3412m.h"

namespace {

using ZORVIK::binary::Binary;

Binary Bytes(size_t length, uint8_t seed) {
    Binary data(length);
    for (size_t i = 0; i < length; ++i) data[i] = uint8_t(i * 131 + seed);
    return data;
}

const Binary Key = Bytes(32, 1);
const Binary Iv8 = Bytes(8, 2);
const Binary Iv4 = Bytes(4, 3);

// gostprov in the default library context (its MAC and ciphers look each other up there).
void LoadProvider() {
    static OSSL_PROVIDER* const defaultProvider = OSSL_PROVIDER_load(nullptr, "default");
    static OSSL_PROVIDER* const gostProvider = OSSL_PROVIDER_load(nullptr, "gostprov");
    if (defaultProvider == nullptr || gostProvider == nullptr)
        throw std::runtime_error("cannot load the OpenSSL provider 'gostprov'");
}

void RunProvider(benchmark::State& state, const char* name, const Binary& iv) {
    LoadProvider();
    EVP_CIPHER* cipher = EVP_CIPHER_fetch(nullptr, name, nullptr);
    if (cipher == nullptr) throw std::runtime_error(std::string("gostprov has no cipher ") + name);
    const Binary data = Bytes(size_t(state.range(0)), 4);
    Binary out(data.size() + 16);
    for (auto _ : state) {
        // A fresh context per message: the provider's contexts do not take a second init.
        EVP_CIPHER_CTX* ctx = EVP_CIPHER_CTX_new();
        int length = 0, tail = 0;
        const bool ok = EVP_CipherInit_ex2(ctx, cipher, Key.data(), iv.data(), 1, nullptr) == 1 &&
                        EVP_CIPHER_CTX_set_padding(ctx, 0) == 1 &&
                        EVP_CipherUpdate(ctx, out.data(), &length, data.data(), int(data.size())) == 1 &&
                        EVP_CipherFinal_ex(ctx, out.data() + length, &tail) == 1;
        EVP_CIPHER_CTX_free(ctx);
        if (!ok || size_t(length + tail) != data.size()) {
            state.SkipWithError("provider cipher failed");
            break;
        }
        benchmark::DoNotOptimize(out.data());
    }
    EVP_CIPHER_free(cipher);
    state.SetBytesProcessed(int64_t(state.iterations()) * state.range(0));
}

// A fresh MAC context per message, as for the ciphers.
void RunProviderMac(benchmark::State& state, const char* name) {
    LoadProvider();
    EVP_MAC* mac = EVP_MAC_fetch(nullptr, name, nullptr);
    if (mac == nullptr) throw std::runtime_error(std::string("gostprov has no MAC ") + name);
    const Binary data = Bytes(size_t(state.range(0)), 4);
    unsigned char out[16];
    for (auto _ : state) {
        EVP_MAC_CTX* ctx = EVP_MAC_CTX_new(mac);
        size_t length = 0;
        const bool ok = EVP_MAC_init(ctx, Key.data(), Key.size(), nullptr) == 1 &&
                        EVP_MAC_update(ctx, data.data(), data.size()) == 1 &&
                        EVP_MAC_final(ctx, out, &length, sizeof out) == 1;
        EVP_MAC_CTX_free(ctx);
        if (!ok) {
            state.SkipWithError("provider MAC failed");
            break;
        }
        benchmark::DoNotOptimize(out);
    }
    EVP_MAC_free(mac);
    state.SetBytesProcessed(int64_t(state.iterations()) * state.range(0));
}

template <class Cipher>
void RunOursMac(benchmark::State& state, Cipher& cipher) {
    const Binary data = Bytes(size_t(state.range(0)), 4);
    for (auto _ : state) {
        Binary iv;
        benchmark::DoNotOptimize(cipher.CalcCCS(data, iv));
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * state.range(0));
}

void RunOurs(benchmark::State& state, ZORVIK::BlockCipher& cipher, uint32_t mode, const Binary& iv) {
    const Binary data = Bytes(size_t(state.range(0)), 4);
    for (auto _ : state) benchmark::DoNotOptimize(cipher.Encrypt(data, mode, 0, iv));
    state.SetBytesProcessed(int64_t(state.iterations()) * state.range(0));
}

ZORVIK::GOST28147 Gost89(uint32_t sboxId, uint32_t meshing) {
    ZORVIK::GOST28147 cipher(Key, sboxId, 0, 0, 4);
    cipher.SetMeshingMode(meshing);
    return cipher;
}

void Ours_GOST28147_ECB(benchmark::State& state) {
    auto cipher = Gost89(2, 0);
    RunOurs(state, cipher, 1, Binary());
}
void Ours_GOST28147_Counter_Meshing(benchmark::State& state) {
    auto cipher = Gost89(2, 1);
    RunOurs(state, cipher, 3, Iv8);
}
void Provider_gost89_cnt(benchmark::State& state) { RunProvider(state, "gost89-cnt", Iv8); }
void Ours_GOST28147_CFB_Meshing(benchmark::State& state) {
    auto cipher = Gost89(10, 1);
    RunOurs(state, cipher, 4, Iv8);
}
void Provider_gost89(benchmark::State& state) { RunProvider(state, "gost89", Iv8); }
void Ours_GOST28147_MAC(benchmark::State& state) {
    auto cipher = Gost89(2, 2);
    RunOursMac(state, cipher);
}
void Provider_gost_mac(benchmark::State& state) { RunProviderMac(state, "gost-mac"); }
void Ours_GOST3412M_ECB(benchmark::State& state) {
    ZORVIK::GOST3412M cipher(Key, 8, 0, 0);
    RunOurs(state, cipher, 1, Binary());
}
void Ours_GOST3412M_CTR(benchmark::State& state) {
    ZORVIK::GOST3412M cipher(Key, 8, 0, 0);
    RunOurs(state, cipher, 5, Iv4);
}
void Provider_magma_ctr(benchmark::State& state) { RunProvider(state, "magma-ctr", Iv4); }
void Ours_GOST3412M_CBC(benchmark::State& state) {
    ZORVIK::GOST3412M cipher(Key, 8, 0, 0);
    RunOurs(state, cipher, 2, Iv8);
}
void Provider_magma_cbc(benchmark::State& state) { RunProvider(state, "magma-cbc", Iv8); }
void Ours_GOST3412M_MAC(benchmark::State& state) {
    ZORVIK::GOST3412M cipher(Key, 8, 0, 0);
    RunOursMac(state, cipher);
}
void Provider_magma_mac(benchmark::State& state) { RunProviderMac(state, "magma-mac"); }

}  // namespace

BENCHMARK(Ours_GOST28147_ECB)->Arg(8 << 10)->Arg(1 << 20);
BENCHMARK(Ours_GOST28147_Counter_Meshing)->Arg(8 << 10)->Arg(1 << 20);
BENCHMARK(Provider_gost89_cnt)->Arg(8 << 10)->Arg(1 << 20);
BENCHMARK(Ours_GOST28147_CFB_Meshing)->Arg(8 << 10)->Arg(1 << 20);
BENCHMARK(Provider_gost89)->Arg(8 << 10)->Arg(1 << 20);
BENCHMARK(Ours_GOST28147_MAC)->Arg(8 << 10)->Arg(1 << 20);
BENCHMARK(Provider_gost_mac)->Arg(8 << 10)->Arg(1 << 20);
BENCHMARK(Ours_GOST3412M_ECB)->Arg(8 << 10)->Arg(1 << 20);
BENCHMARK(Ours_GOST3412M_CTR)->Arg(8 << 10)->Arg(1 << 20);
BENCHMARK(Provider_magma_ctr)->Arg(8 << 10)->Arg(1 << 20);
BENCHMARK(Ours_GOST3412M_CBC)->Arg(8 << 10)->Arg(1 << 20);
BENCHMARK(Provider_magma_cbc)->Arg(8 << 10)->Arg(1 << 20);
BENCHMARK(Ours_GOST3412M_MAC)->Arg(8 << 10)->Arg(1 << 20);
BENCHMARK(Provider_magma_mac)->Arg(8 << 10)->Arg(1 << 20);
