// Hex parsing and printing of 1 MiB, ours beside a plain reference loop
// (std::from_chars for parsing, snprintf for printing) and OpenSSL's hex codec.
#include <benchmark/benchmark.h>
#include <openssl/crypto.h>

#include <charconv>
#include <cstdio>
#include <string>

#include "service/common/binary.h"

namespace {

constexpr size_t kBytes = 1 << 20;

const ZORVIK::binary::Binary& Data() {
    static const ZORVIK::binary::Binary data = [] {
        ZORVIK::GetRandomEngine().seed(12345);
        return ZORVIK::binary::RandomBinary(kBytes);
    }();
    return data;
}

const std::string& SpacedText() {
    static const std::string text = ZORVIK::binary::ToHex(Data(), 1, 0, 0);
    return text;
}

const std::string& PlainText() {
    static const std::string text = ZORVIK::binary::ToHex(Data(), 0, 0, 0);
    return text;
}

void BM_ParseHex_Ours(benchmark::State& state) {
    for (auto _ : state) {
        ZORVIK::binary::Binary parsed(SpacedText());
        benchmark::DoNotOptimize(parsed.data());
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kBytes));
}

void BM_ParseHex_FromCharsReference(benchmark::State& state) {
    const std::string& text = SpacedText();
    for (auto _ : state) {
        std::vector<uint8_t> out;
        out.reserve(text.size() / 2);
        const char* p = text.data();
        const char* end = p + text.size();
        while (p < end) {
            if (*p == ' ') {
                ++p;
                continue;
            }
            uint8_t byte = 0;
            auto result = std::from_chars(p, p + 2, byte, 16);
            out.push_back(byte);
            p = result.ptr;
        }
        benchmark::DoNotOptimize(out.data());
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kBytes));
}

void BM_ParseHex_OpenSSLReference(benchmark::State& state) {
    // OPENSSL_hexstr2buf takes pairs optionally separated by ':' only, so it gets the plain text.
    const std::string& text = PlainText();
    for (auto _ : state) {
        long length = 0;
        unsigned char* buffer = OPENSSL_hexstr2buf(text.c_str(), &length);
        benchmark::DoNotOptimize(buffer);
        OPENSSL_free(buffer);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kBytes));
}

void BM_ToHex_Ours(benchmark::State& state) {
    for (auto _ : state) {
        std::string text = ZORVIK::binary::ToHex(Data(), 1, 0, 0);
        benchmark::DoNotOptimize(text.data());
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kBytes));
}

void BM_ToHex_SnprintfReference(benchmark::State& state) {
    const ZORVIK::binary::Binary& data = Data();
    for (auto _ : state) {
        std::string text(data.size() * 3, '\0');
        char* out = text.data();
        for (size_t i = 0; i < data.size(); ++i) {
            std::snprintf(out + 3 * i, 4, i + 1 == data.size() ? "%02X" : "%02X ", data[i]);
        }
        text.resize(data.size() * 3 - 1);
        benchmark::DoNotOptimize(text.data());
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kBytes));
}

}  // namespace

BENCHMARK(BM_ParseHex_Ours)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ParseHex_FromCharsReference)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ParseHex_OpenSSLReference)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ToHex_Ours)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ToHex_SnprintfReference)->Unit(benchmark::kMillisecond);
