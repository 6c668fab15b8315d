// Whole-message CBC encryption of our ciphers next to raw OpenSSL EVP in the
// same run. Both sides set up the key for every message, as our ciphers do;
// the EVP side reuses one context and a fetched cipher and writes into a
// buffer made once, so it is the best case that a direct EVP caller gets.
// Both pad with PKCS#7 (our padding kind 2).
#include <benchmark/benchmark.h>
#include <openssl/evp.h>

#include <memory>

#include "service/cryptlib/sym/aes.h"
#include "service/cryptlib/sym/des.h"

namespace {

using ZORVIK::binary::Binary;

constexpr int64_t kTiny = 64;
constexpr int64_t kSmall = 8 * 1024;
constexpr int64_t kLarge = 1024 * 1024;

Binary Message(int64_t length) {
    Binary data(static_cast<size_t>(length));
    for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<uint8_t>(i * 31 + 7);
    return data;
}

template <class Cipher>
void BM_Ours(benchmark::State& state, Binary key) {
    Cipher cipher(key, 0, 0);
    const Binary data = Message(state.range(0));
    const Binary iv(cipher.GetBlockSize(), 0x24);
    for (auto _ : state) {
        Binary out = cipher.Encrypt(data, ZORVIK::CIPHER_MODE_CBC, ZORVIK::PADDING_PKCS7, iv);
        benchmark::DoNotOptimize(out.data());
    }
    state.SetBytesProcessed(state.iterations() * state.range(0));
}

void BM_Evp(benchmark::State& state, const char* name, Binary key, size_t blockSize) {
    std::unique_ptr<EVP_CIPHER, decltype(&EVP_CIPHER_free)> cipher(EVP_CIPHER_fetch(nullptr, name, nullptr),
                                                                   &EVP_CIPHER_free);
    std::unique_ptr<EVP_CIPHER_CTX, decltype(&EVP_CIPHER_CTX_free)> ctx(EVP_CIPHER_CTX_new(), &EVP_CIPHER_CTX_free);
    if (!cipher || !ctx) {
        state.SkipWithError("EVP setup failed");
        return;
    }
    const Binary data = Message(state.range(0));
    const Binary iv(blockSize, 0x24);
    Binary out(data.size() + blockSize);
    for (auto _ : state) {
        int written = 0;
        int last = 0;
        if (EVP_EncryptInit_ex2(ctx.get(), cipher.get(), key.data(), iv.data(), nullptr) != 1 ||
            EVP_EncryptUpdate(ctx.get(), out.data(), &written, data.data(), static_cast<int>(data.size())) != 1 ||
            EVP_EncryptFinal_ex(ctx.get(), out.data() + written, &last) != 1) {
            state.SkipWithError("EVP encryption failed");
            return;
        }
        benchmark::DoNotOptimize(out.data());
    }
    state.SetBytesProcessed(state.iterations() * state.range(0));
}

const Binary kTdesKey("0123456789ABCDEF FEDCBA9876543210");
const Binary kAesKey("2B7E151628AED2A6ABF7158809CF4F3C");

void BM_OursTriDES(benchmark::State& state, Binary key) { BM_Ours<ZORVIK::TriDES>(state, std::move(key)); }
void BM_OursAES(benchmark::State& state, Binary key) { BM_Ours<ZORVIK::AES>(state, std::move(key)); }

BENCHMARK_CAPTURE(BM_OursTriDES, TriDES_CBC, kTdesKey)->Arg(kTiny)->Arg(kSmall)->Arg(kLarge);
BENCHMARK_CAPTURE(BM_Evp, EVP_DES_EDE_CBC, "DES-EDE-CBC", kTdesKey, 8)->Arg(kTiny)->Arg(kSmall)->Arg(kLarge);
BENCHMARK_CAPTURE(BM_OursAES, AES128_CBC, kAesKey)->Arg(kTiny)->Arg(kSmall)->Arg(kLarge);
BENCHMARK_CAPTURE(BM_Evp, EVP_AES_128_CBC, "AES-128-CBC", kAesKey, 16)->Arg(kTiny)->Arg(kSmall)->Arg(kLarge);

}  // namespace
