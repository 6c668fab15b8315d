// Throughput of our hashes next to a reference in one process and run, over 64 B,
// 1 KiB and 1 MiB: the GOST hashes beside the gostprov provider of Debian's
// libengine-gost-openssl, SHA-256 beside OpenSSL's EVP_Digest with the digest
// fetched once (the best case of a direct EVP caller).
#include <benchmark/benchmark.h>
#include <openssl/evp.h>
#include <openssl/provider.h>

#include <stdexcept>

#include "service/cryptlib/hash/gost_r3411_2012.h"
#include "service/cryptlib/hash/gost_r3411_94.h"
#include "service/cryptlib/hash/sha.h"

namespace {

using ZORVIK::binary::Binary;

Binary Message(size_t length) {
    Binary data(length);
    for (size_t i = 0; i < length; ++i) data[i] = uint8_t(i * 131 + 7);
    return data;
}

EVP_MD* ProviderDigest(const char* name) {
    static OSSL_LIB_CTX* context = [] {
        OSSL_LIB_CTX* ctx = OSSL_LIB_CTX_new();
        if (ctx == nullptr || OSSL_PROVIDER_load(ctx, "default") == nullptr ||
            OSSL_PROVIDER_load(ctx, "gostprov") == nullptr)
            throw std::runtime_error("cannot load the OpenSSL provider 'gostprov'");
        return ctx;
    }();
    EVP_MD* md = EVP_MD_fetch(context, name, nullptr);
    if (md == nullptr) throw std::runtime_error(std::string("no digest ") + name);
    return md;
}

void RunProvider(benchmark::State& state, const char* name) {
    EVP_MD* md = ProviderDigest(name);
    const Binary data = Message(size_t(state.range(0)));
    unsigned char out[64];
    for (auto _ : state) {
        unsigned int length = 0;
        EVP_Digest(data.data(), data.size(), out, &length, md, nullptr);
        benchmark::DoNotOptimize(out);
    }
    EVP_MD_free(md);
    state.SetBytesProcessed(int64_t(state.iterations()) * state.range(0));
}

template <class HashType>
void RunOurs(benchmark::State& state, HashType hash) {
    const Binary data = Message(size_t(state.range(0)));
    for (auto _ : state) benchmark::DoNotOptimize(hash.Calc(data));
    state.SetBytesProcessed(int64_t(state.iterations()) * state.range(0));
}

void Ours_R3411_12_256(benchmark::State& state) { RunOurs(state, ZORVIK::R3411_12(true, false)); }
void Provider_md_gost12_256(benchmark::State& state) { RunProvider(state, "md_gost12_256"); }
void Ours_R3411_12_512(benchmark::State& state) { RunOurs(state, ZORVIK::R3411_12(false, false)); }
void Provider_md_gost12_512(benchmark::State& state) { RunProvider(state, "md_gost12_512"); }
void Ours_R3411_94(benchmark::State& state) { RunOurs(state, ZORVIK::R3411(7, false)); }
void Provider_md_gost94(benchmark::State& state) { RunProvider(state, "md_gost94"); }
void Ours_SHA256(benchmark::State& state) { RunOurs(state, ZORVIK::SHA256()); }
void OpenSSL_SHA256(benchmark::State& state) { RunProvider(state, "SHA256"); }

}  // namespace

BENCHMARK(Ours_R3411_12_256)->Arg(64)->Arg(1024)->Arg(1 << 20);
BENCHMARK(Provider_md_gost12_256)->Arg(64)->Arg(1024)->Arg(1 << 20);
BENCHMARK(Ours_R3411_12_512)->Arg(64)->Arg(1024)->Arg(1 << 20);
BENCHMARK(Provider_md_gost12_512)->Arg(64)->Arg(1024)->Arg(1 << 20);
BENCHMARK(Ours_R3411_94)->Arg(64)->Arg(1024)->Arg(1 << 20);
BENCHMARK(Provider_md_gost94)->Arg(64)->Arg(1024)->Arg(1 << 20);
BENCHMARK(Ours_SHA256)->Arg(64)->Arg(1024)->Arg(1 << 20);
BENCHMARK(OpenSSL_SHA256)->Arg(64)->Arg(1024)->Arg(1 << 20);
