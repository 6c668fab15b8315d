// Parsing and dumping a 4 KiB FCI-like BER-TLV tree: ours beside OpenSSL's BER
// reader (ASN1_get_object walked over the same tree) and its ASN1_parse_dump.
#include <benchmark/benchmark.h>
#include <openssl/asn1.h>
#include <openssl/bio.h>

#include <string>

#include "service/tlv/tlv.h"

namespace {

using ZORVIK::binary::Binary;

// An FCI (ISO/IEC 7816-4 6F) with a DF name and a proprietary template whose
// issuer discretionary data (BF0C) holds application templates (61) until the
// whole encoding reaches 4 KiB.
const Binary& Fci() {
    static const Binary fci = [] {
        Binary directory;
        for (uint8_t i = 0; directory.size() < 4096 - 64; ++i) {
            Binary entry;
            ZORVIK::AppendTLV(entry, 0x4F, Binary("A0 00 00 00 03 10 10") + Binary(1, i));
            ZORVIK::AppendTLV(entry, 0x50, Binary("56 49 53 41 20 43 52 45 44 49 54"));
            ZORVIK::AppendTLVByte(entry, 0x87, i);
            ZORVIK::AppendTLV(entry, 0x73, ZORVIK::MakeTLV(0x9F0A, Binary("00 01 05 02 00 00 00 00")));
            ZORVIK::AppendTLV(directory, 0x61, entry);
        }
        Binary proprietary;
        ZORVIK::AppendTLV(proprietary, 0x50, Binary("56 49 53 41"));
        ZORVIK::AppendTLV(proprietary, 0x9F38, Binary("9F 1A 02 9F 35 01 9F 40 05"));
        ZORVIK::AppendTLV(proprietary, 0x5F2D, Binary("65 6E 72 75"));
        ZORVIK::AppendTLV(proprietary, 0xBF0C, directory);
        Binary content;
        ZORVIK::AppendTLV(content, 0x84, Binary("31 50 41 59 2E 53 59 53 2E 44 44 46 30 31"));
        ZORVIK::AppendTLV(content, 0xA5, proprietary);
        return ZORVIK::MakeTLV(0x6F, content);
    }();
    return fci;
}

void BM_ParseOurs(benchmark::State& state) {
    const Binary& fci = Fci();
    for (auto _ : state) benchmark::DoNotOptimize(ZORVIK::TLV_Base::Create(fci));
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * fci.size()));
}

// Visits every object as a tree walk does; returns the number of objects.
long WalkOpenSsl(const unsigned char* data, long length) {
    long count = 0;
    const unsigned char* p = data;
    const unsigned char* end = data + length;
    while (p < end) {
        long contentLength = 0;
        int tag = 0;
        int objectClass = 0;
        const int result = ASN1_get_object(&p, &contentLength, &tag, &objectClass, end - p);
        if (result & 0x80) return -1;
        ++count;
        if (result & V_ASN1_CONSTRUCTED) {
            const long inner = WalkOpenSsl(p, contentLength);
            if (inner < 0) return -1;
            count += inner;
        }
        p += contentLength;
    }
    return count;
}

void BM_ParseOpenSslWalk(benchmark::State& state) {
    const Binary& fci = Fci();
    for (auto _ : state) benchmark::DoNotOptimize(WalkOpenSsl(fci.data(), static_cast<long>(fci.size())));
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * fci.size()));
}

void BM_DumpOurs(benchmark::State& state) {
    const ZORVIK::TLVPtr tree = ZORVIK::TLV_Base::Create(Fci());
    for (auto _ : state) {
        std::string text;
        ZORVIK::DumpTLV(tree, text, 0);
        benchmark::DoNotOptimize(text.data());
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * Fci().size()));
}

void BM_DumpOpenSsl(benchmark::State& state) {
    const Binary& fci = Fci();
    BIO* out = BIO_new(BIO_s_mem());
    for (auto _ : state) {
        (void)BIO_reset(out);
        benchmark::DoNotOptimize(ASN1_parse_dump(out, fci.data(), static_cast<long>(fci.size()), 2, -1));
    }
    BIO_free(out);
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * fci.size()));
}

}  // namespace

BENCHMARK(BM_ParseOurs);
BENCHMARK(BM_ParseOpenSslWalk);
BENCHMARK(BM_DumpOurs);
BENCHMARK(BM_DumpOpenSsl);
