#include "service/cryptlib/sym/gost3413.h"

#include <cstring>
#include <new>

#include "service/cryptlib/sym/gost28147_core.h"
#include "service/cryptlib/sym/gost_block_modes.h"
#include "service/cryptlib/sym/gost_sbox.h"

namespace ZORVIK {
namespace {

constexpr size_t BlockLength = 8;
constexpr size_t KeyLength = 32;
constexpr uint32_t MagmaSBoxId = 10;  // pi'0..pi'7 of GOST R 34.12-2015

// GOST R 34.12-2015, 5.1.1: the substitutions pi'0 .. pi'7.
constexpr uint8_t Pi[8][16] = {
    {12, 4, 6, 2, 10, 5, 11, 9, 14, 8, 13, 7, 0, 3, 15, 1}, {6, 8, 2, 3, 9, 10, 5, 12, 1, 14, 4, 7, 11, 13, 0, 15},
    {11, 3, 5, 8, 2, 15, 10, 13, 14, 1, 7, 4, 12, 9, 6, 0}, {12, 8, 2, 1, 13, 4, 15, 6, 7, 0, 10, 5, 3, 14, 9, 11},
    {7, 15, 5, 10, 8, 1, 6, 13, 0, 9, 3, 14, 11, 4, 2, 12}, {5, 13, 15, 6, 9, 2, 12, 10, 11, 7, 8, 1, 4, 3, 14, 0},
    {8, 14, 2, 5, 6, 9, 1, 12, 15, 4, 11, 0, 13, 10, 3, 7}, {1, 7, 14, 13, 0, 5, 8, 3, 4, 15, 10, 6, 9, 12, 11, 2},
};

// GOST R 34.13-2015, Appendix A, the example for the 64-bit cipher.
constexpr uint8_t TestKey[32] = {
    0xff, 0xee, 0xdd, 0xcc, 0xbb, 0xaa, 0x99, 0x88, 0x77, 0x66, 0x55, 0x44, 0x33, 0x22, 0x11, 0x00,
    0xf0, 0xf1, 0xf2, 0xf3, 0xf4, 0xf5, 0xf6, 0xf7, 0xf8, 0xf9, 0xfa, 0xfb, 0xfc, 0xfd, 0xfe, 0xff,
};
constexpr uint8_t TestPlain[32] = {
    0x92, 0xde, 0xf0, 0x6b, 0x3c, 0x13, 0x0a, 0x59, 0xdb, 0x54, 0xc7, 0x04, 0xf8, 0x18, 0x9d, 0x20,
    0x4a, 0x98, 0xfb, 0x2e, 0x67, 0xa8, 0x02, 0x4c, 0x89, 0x12, 0x40, 0x9b, 0x17, 0xb5, 0x7e, 0x41,
};
constexpr uint8_t TestEcb[32] = {
    0x2b, 0x07, 0x3f, 0x04, 0x94, 0xf3, 0x72, 0xa0, 0xde, 0x70, 0xe7, 0x15, 0xd3, 0x55, 0x6e, 0x48,
    0x11, 0xd8, 0xd9, 0xe9, 0xea, 0xcf, 0xbc, 0x1e, 0x7c, 0x68, 0x26, 0x09, 0x96, 0xc6, 0x7e, 0xfb,
};
constexpr uint8_t TestCtrIv[4] = {0x12, 0x34, 0x56, 0x78};
constexpr uint8_t TestCtr[32] = {
    0x4e, 0x98, 0x11, 0x0c, 0x97, 0xb7, 0xb9, 0x3c, 0x3e, 0x25, 0x0d, 0x93, 0xd6, 0xe8, 0x5d, 0x69,
    0x13, 0x6d, 0x86, 0x88, 0x07, 0xb2, 0xdb, 0xef, 0x56, 0x8e, 0xb6, 0x80, 0xab, 0x52, 0xa1, 0x2d,
};
constexpr uint8_t TestOfbCfbIv[16] = {
    0x12, 0x34, 0x56, 0x78, 0x90, 0xab, 0xcd, 0xef, 0x23, 0x45, 0x67, 0x89, 0x0a, 0xbc, 0xde, 0xf1,
};
constexpr uint8_t TestOfb[32] = {
    0xdb, 0x37, 0xe0, 0xe2, 0x66, 0x90, 0x3c, 0x83, 0x0d, 0x46, 0x64, 0x4c, 0x1f, 0x9a, 0x08, 0x9c,
    0xa0, 0xf8, 0x30, 0x62, 0x43, 0x0e, 0x32, 0x7e, 0xc8, 0x24, 0xef, 0xb8, 0xbd, 0x4f, 0xdb, 0x05,
};
constexpr uint8_t TestCbcIv[24] = {
    0x12, 0x34, 0x56, 0x78, 0x90, 0xab, 0xcd, 0xef, 0x23, 0x45, 0x67, 0x89,
    0x0a, 0xbc, 0xde, 0xf1, 0x34, 0x56, 0x78, 0x90, 0xab, 0xcd, 0xef, 0x12,
};
constexpr uint8_t TestCbc[32] = {
    0x96, 0xd1, 0xb0, 0x5e, 0xea, 0x68, 0x39, 0x19, 0xaf, 0xf7, 0x61, 0x29, 0xab, 0xb9, 0x37, 0xb9,
    0x50, 0x58, 0xb4, 0xa1, 0xc4, 0xbc, 0x00, 0x19, 0x20, 0xb7, 0x8b, 0x1a, 0x7c, 0xd7, 0xe6, 0x67,
};
constexpr uint8_t TestCfb[32] = {
    0xdb, 0x37, 0xe0, 0xe2, 0x66, 0x90, 0x3c, 0x83, 0x0d, 0x46, 0x64, 0x4c, 0x1f, 0x9a, 0x08, 0x9c,
    0x24, 0xbd, 0xd2, 0x03, 0x53, 0x15, 0xd3, 0x8b, 0xbc, 0xc0, 0x32, 0x14, 0x21, 0x07, 0x55, 0x05,
};

using gost28147::LoadBE32;
using gost28147::StoreBE32;
using Block = gost28147::BigEndianBlock;

void Trace(G3413_PrintFn print, const char* label, const void* data, size_t count) {
    if (print != nullptr) print(label, data, count);
}

// The cipher is GOST 28147-89 with the S-box pi' and big-endian words: its
// untraced form runs through the shared table-folded core. In 28147 terms the
// half a0 (the one added to the round key) is N1 and a1 is N2.
const gost28147::Core& MagmaTables() {
    static const gost28147::Core core = [] {
        gost28147::Core c;
        LoadStandardSBox(c, GetSBoxByID(MagmaSBoxId));
        return c;
    }();
    return core;
}

// The round keys K1..K8 as words, read from the key bytes once per call rather
// than once per block.
struct RoundKeys {
    uint32_t k[8];
    explicit RoundKeys(const uint8_t* key) {
        for (int i = 0; i < 8; ++i) k[i] = LoadBE32(key + 4 * i);
    }
    ~RoundKeys() {
        for (uint32_t& word : k) static_cast<volatile uint32_t&>(word) = 0;
    }
    RoundKeys(const RoundKeys&) = delete;
    RoundKeys& operator=(const RoundKeys&) = delete;
};

void FastBlock(const uint8_t* in, uint8_t* out, const uint8_t* key, bool encrypt) {
    const RoundKeys keys(key);
    gost28147::EcbBlocks<Block>(MagmaTables(), keys.k, in, out, BlockLength, encrypt);
}

// Whether the word-level loops may stand in for the context's block calls: its
// own cipher and no tracing.
bool Untraced(const G3413_Common* ctx) {
    return ctx->key != nullptr && ctx->encrypt == Encrypt_89 && ctx->decrypt == Decrypt_89 && ctx->print == nullptr &&
           ctx->printRound == nullptr;
}

// A record's buffers come from one allocation behind its key copy; ctx->key owns it.
uint8_t* Allocate(size_t size) {
    uint8_t* p = new (std::nothrow) uint8_t[size];
    if (p != nullptr) std::memset(p, 0, size);
    return p;
}

void Release(uint8_t*& p, size_t size) {
    if (p != nullptr) {
        volatile uint8_t* bytes = p;
        for (size_t i = 0; i < size; ++i) bytes[i] = 0;
        delete[] p;
    }
    p = nullptr;
}

// The key copy and bufferBytes more in one allocation; returns the first byte
// after the key, or null on failure.
uint8_t* InitCommon(G3413_Common* ctx, const uint8_t* key, size_t bufferBytes, G3413_PrintFn print,
                    G3413_PrintFn printRound) {
    ctx->key = Allocate(KeyLength + bufferBytes);
    if (ctx->key == nullptr) return nullptr;
    std::memcpy(ctx->key, key, KeyLength);
    ctx->n = BlockLength;
    ctx->print = print;
    ctx->printRound = printRound;
    ctx->encrypt = Encrypt_89;
    ctx->decrypt = Decrypt_89;
    return ctx->key + KeyLength;
}

void FreeCommon(G3413_Common* ctx, size_t bufferBytes) {
    Release(ctx->key, KeyLength + bufferBytes);
    ctx->n = 0;
}

int EncryptBlockWith(const G3413_Common* ctx, const uint8_t* in, uint8_t* out) {
    return ctx->encrypt(in, out, ctx->key, ctx->print, ctx->printRound);
}

int DecryptBlockWith(const G3413_Common* ctx, const uint8_t* in, uint8_t* out) {
    return ctx->decrypt(in, out, ctx->key, ctx->print, ctx->printRound);
}

bool SameBytes(const uint8_t* a, const uint8_t* b, size_t n) { return std::memcmp(a, b, n) == 0; }

int InitEcbNoTest(const uint8_t* key, G3413_EcbContext* ctx, G3413_PrintFn print, G3413_PrintFn printRound) {
    if (ctx == nullptr || key == nullptr) return -1;
    return InitCommon(ctx, key, 0, print, printRound) != nullptr ? 0 : -1;
}

// ---- Self-tests against GOST R 34.13-2015, Appendix A (for the 64-bit cipher)

int SelfTestEcb() {
    G3413_EcbContext ctx;
    uint8_t out[32];
    int result = InitEcbNoTest(TestKey, &ctx, nullptr, nullptr);
    if (result == 0) result = G3413_EncryptEcb(&ctx, TestPlain, out, sizeof out);
    if (result == 0 && !SameBytes(out, TestEcb, sizeof out)) result = -1;
    G3413_FreeEcb(&ctx);
    return result;
}

int SelfTestCbc() {
    uint8_t out[32];
    G3413_CbcContext ctx;
    int result = G3413_InitCbcNoTest(TestKey, &ctx, TestCbcIv, sizeof TestCbcIv, nullptr, nullptr);
    if (result == 0) result = G3413_EncryptCbc(&ctx, TestPlain, out, sizeof out);
    if (result == 0 && !SameBytes(out, TestCbc, sizeof out)) result = -1;
    G3413_FreeCbc(&ctx);
    if (result != 0) return -1;
    result = G3413_InitCbcNoTest(TestKey, &ctx, TestCbcIv, sizeof TestCbcIv, nullptr, nullptr);
    if (result == 0) result = G3413_DecryptCbc(&ctx, TestCbc, out, sizeof out);
    if (result == 0 && !SameBytes(out, TestPlain, sizeof out)) result = -1;
    G3413_FreeCbc(&ctx);
    return result;
}

int SelfTestOfb() {
    uint8_t out[32];
    G3413_CfbOfbContext ctx;
    int result =
        G3413_InitCfbOfbNoTest(TestKey, &ctx, BlockLength, TestOfbCfbIv, sizeof TestOfbCfbIv, nullptr, nullptr);
    if (result == 0) result = G3413_CryptOfb(&ctx, TestPlain, out, sizeof out);
    if (result == 0 && !SameBytes(out, TestOfb, sizeof out)) result = -1;
    G3413_FreeCfbOfb(&ctx);
    return result;
}

int SelfTestCfb() {
    uint8_t out[32];
    G3413_CfbOfbContext ctx;
    int result =
        G3413_InitCfbOfbNoTest(TestKey, &ctx, BlockLength, TestOfbCfbIv, sizeof TestOfbCfbIv, nullptr, nullptr);
    if (result == 0) result = G3413_EncryptCfb(&ctx, TestPlain, out, sizeof out);
    if (result == 0 && !SameBytes(out, TestCfb, sizeof out)) result = -1;
    G3413_FreeCfbOfb(&ctx);
    if (result != 0) return -1;
    result = G3413_InitCfbOfbNoTest(TestKey, &ctx, BlockLength, TestOfbCfbIv, sizeof TestOfbCfbIv, nullptr, nullptr);
    if (result == 0) result = G3413_DecryptCfb(&ctx, TestCfb, out, sizeof out);
    if (result == 0 && !SameBytes(out, TestPlain, sizeof out)) result = -1;
    G3413_FreeCfbOfb(&ctx);
    return result;
}

int SelfTestCtr() {
    uint8_t out[32];
    G3413_CtrContext ctx;
    int result = G3413_InitCtrNoTest(TestKey, TestCtrIv, BlockLength, &ctx, nullptr, nullptr);
    if (result == 0) result = G3413_CryptCtr(&ctx, TestPlain, out, sizeof out);
    if (result == 0 && !SameBytes(out, TestCtr, sizeof out)) result = -1;
    G3413_FreeCtr(&ctx);
    return result;
}

// Each self-test compares fixed data with fixed results, so it runs once per
// process and every later initialisation takes its answer.
template <int (*SelfTest)()>
bool PassedSelfTest() {
    static const int result = SelfTest();
    return result == 0;
}

// R := R without its first n bytes, followed by block (the register shift of
// GOST R 34.13-2015 with m > n).
void ShiftIn(uint8_t* reg, size_t m, const uint8_t* block, size_t n) {
    std::memmove(reg, reg + n, m - n);
    std::memcpy(reg + m - n, block, n);
}

}  // namespace

// ---- Block function

const uint8_t G3413_EncryptKeyOrder[32] = {0, 4, 8, 12, 16, 20, 24, 28, 0,  4,  8,  12, 16, 20, 24, 28,
                                           0, 4, 8, 12, 16, 20, 24, 28, 28, 24, 20, 16, 12, 8,  4,  0};
const uint8_t G3413_DecryptKeyOrder[32] = {0,  4,  8,  12, 16, 20, 24, 28, 28, 24, 20, 16, 12, 8, 4, 0,
                                           28, 24, 20, 16, 12, 8,  4,  0,  28, 24, 20, 16, 12, 8, 4, 0};

uint32_t funcT(uint32_t a, G3413_PrintFn printRound) {
    Trace(printRound, "funcT: a: ", &a, 1);
    uint32_t result = 0;
    for (int i = 0; i < 8; ++i) result |= uint32_t(Pi[i][(a >> (4 * i)) & 0x0F]) << (4 * i);
    Trace(printRound, "funcT: output: ", &result, 1);
    return result;
}

uint32_t funcG(uint32_t a, uint32_t k, G3413_PrintFn printRound) {
    Trace(printRound, "funcG: a: ", &a, 1);
    Trace(printRound, "funcG: k: ", &k, 1);
    const uint32_t t = funcT(a + k, printRound);
    uint32_t result = (t << 11) | (t >> 21);
    Trace(printRound, "funcG: output: ", &result, 1);
    return result;
}

void Round(uint32_t* a1, uint32_t* a0, const uint8_t* k, G3413_PrintFn printRound) {
    uint32_t key = LoadBE32(k);
    Trace(printRound, "Round: input a1: ", a1, 1);
    Trace(printRound, "Round: input a0: ", a0, 1);
    Trace(printRound, "Round: k: ", &key, 1);
    const uint32_t g = funcG(*a0, key, printRound);
    const uint32_t newA0 = *a1 ^ g;
    *a1 = *a0;
    *a0 = newA0;
    Trace(printRound, "Round: output a1: ", a1, 1);
    Trace(printRound, "Round: output a0: ", a0, 1);
}

void RoundShtrih(uint32_t* a1, uint32_t* a0, const uint8_t* k, G3413_PrintFn printRound) {
    uint32_t key = LoadBE32(k);
    Trace(printRound, "RoundShtrih: input a1: ", a1, 1);
    Trace(printRound, "RoundShtrih: input a0: ", a0, 1);
    Trace(printRound, "RoundShtrih: k: ", &key, 1);
    *a1 ^= funcG(*a0, key, printRound);
    Trace(printRound, "RoundShtrih: output a1: ", a1, 1);
    Trace(printRound, "RoundShtrih: output a0: ", a0, 1);
}

int CryptBlock(const uint8_t* in, uint8_t* out, const uint8_t* key, const uint8_t* keyOrder, G3413_PrintFn printRound) {
    uint32_t a1 = LoadBE32(in), a0 = LoadBE32(in + 4);
    Trace(printRound, "CryptBlock: input a1:", &a1, 1);
    Trace(printRound, "CryptBlock: input a0:", &a0, 1);
    for (int i = 0; i < 31; ++i) Round(&a1, &a0, key + keyOrder[i], printRound);
    RoundShtrih(&a1, &a0, key + keyOrder[31], printRound);
    Trace(printRound, "CryptBlock: output a1:", &a1, 1);
    Trace(printRound, "CryptBlock: output a0:", &a0, 1);
    StoreBE32(out, a1);
    StoreBE32(out + 4, a0);
    return 0;
}

int Encrypt_89(const uint8_t* in, uint8_t* out, const uint8_t* key, G3413_PrintFn print, G3413_PrintFn printRound) {
    if (in == nullptr || out == nullptr || key == nullptr) {
        Trace(print, "Encrypt_89: internal error!", nullptr, 0);
        return -1;
    }
    Trace(print, "Encrypt_89: plain text: ", in, BlockLength);
    if (printRound != nullptr) {
        CryptBlock(in, out, key, G3413_EncryptKeyOrder, printRound);
    } else {
        FastBlock(in, out, key, true);
    }
    Trace(print, "Encrypt_89: chipher text: ", out, BlockLength);
    return 0;
}

int Decrypt_89(const uint8_t* in, uint8_t* out, const uint8_t* key, G3413_PrintFn print, G3413_PrintFn printRound) {
    if (in == nullptr || out == nullptr || key == nullptr) {
        Trace(print, "Decrypt_89: internal error!", nullptr, 0);
        return -1;
    }
    Trace(print, "Encrypt_89: chipher text: ", in, BlockLength);
    if (printRound != nullptr) {
        CryptBlock(in, out, key, G3413_DecryptKeyOrder, printRound);
    } else {
        FastBlock(in, out, key, false);
    }
    Trace(print, "Encrypt_89: plain text: ", out, BlockLength);
    return 0;
}

// ---- ECB (GOST R 34.13-2015, 5.1)

int G3413_InitEcb(const uint8_t* key, G3413_EcbContext* ctx, G3413_PrintFn print, G3413_PrintFn printRound) {
    if (ctx == nullptr || key == nullptr) return -1;
    if (!PassedSelfTest<SelfTestEcb>()) return -1;
    return InitEcbNoTest(key, ctx, print, printRound);
}

namespace {

int CryptEcb(G3413_EcbContext* ctx, const uint8_t* in, uint8_t* out, size_t length, bool encrypt) {
    if (ctx == nullptr || in == nullptr || out == nullptr || length == 0 || length % BlockLength != 0) return -1;
    if (Untraced(ctx)) {
        const RoundKeys keys(ctx->key);
        gost28147::EcbBlocks<Block>(MagmaTables(), keys.k, in, out, length, encrypt);
        return 0;
    }
    for (size_t at = 0; at < length; at += BlockLength)
        if ((encrypt ? EncryptBlockWith(ctx, in + at, out + at) : DecryptBlockWith(ctx, in + at, out + at)) != 0)
            return -1;
    return 0;
}

}  // namespace

int G3413_EncryptEcb(G3413_EcbContext* ctx, const uint8_t* in, uint8_t* out, size_t length) {
    return CryptEcb(ctx, in, out, length, true);
}

int G3413_DecryptEcb(G3413_EcbContext* ctx, const uint8_t* in, uint8_t* out, size_t length) {
    return CryptEcb(ctx, in, out, length, false);
}

// ---- CBC (GOST R 34.13-2015, 5.4): R of m bytes, the block enciphered is MSB_n(R) xor P.

int G3413_InitCbcNoTest(const uint8_t* key, G3413_CbcContext* ctx, const uint8_t* iv, size_t ivLength,
                        G3413_PrintFn print, G3413_PrintFn printRound) {
    if (ctx == nullptr || key == nullptr || iv == nullptr || ivLength == 0 || ivLength % BlockLength != 0) return -1;
    uint8_t* buffers = InitCommon(ctx, key, 3 * ivLength + BlockLength, print, printRound);
    if (buffers == nullptr) return -1;
    ctx->m = ivLength;
    ctx->iv = buffers;
    ctx->work = buffers + ivLength;
    ctx->state = buffers + 2 * ivLength;
    ctx->block = buffers + 3 * ivLength;
    std::memcpy(ctx->iv, iv, ivLength);
    std::memcpy(ctx->state, iv, ivLength);
    return 0;
}

int G3413_InitCbc(const uint8_t* key, G3413_CbcContext* ctx, const uint8_t* iv, size_t ivLength, G3413_PrintFn print,
                  G3413_PrintFn printRound) {
    if (ctx == nullptr || key == nullptr || iv == nullptr || ivLength == 0 || ivLength % BlockLength != 0) return -1;
    if (!PassedSelfTest<SelfTestCbc>()) return -1;
    return G3413_InitCbcNoTest(key, ctx, iv, ivLength, print, printRound);
}

namespace {

// A one-block register (m = n) on the word-level chain; false when the context
// needs the block calls.
bool CbcFast(G3413_CbcContext* ctx, const uint8_t* in, uint8_t* out, size_t length, bool encrypt) {
    if (ctx->m != BlockLength || !Untraced(ctx)) return false;
    const RoundKeys keys(ctx->key);
    gost28147::ChainedBlocks<Block>(false, encrypt, MagmaTables(), keys.k, in, out, length, ctx->iv, ctx->state);
    return true;
}

}  // namespace

int G3413_EncryptCbc(G3413_CbcContext* ctx, const uint8_t* in, uint8_t* out, size_t length) {
    if (ctx == nullptr || in == nullptr || out == nullptr || length == 0 || length % BlockLength != 0) return -1;
    if (CbcFast(ctx, in, out, length, true)) return 0;
    std::memcpy(ctx->work, ctx->iv, ctx->m);
    for (size_t at = 0; at < length; at += BlockLength) {
        for (size_t i = 0; i < BlockLength; ++i) ctx->block[i] = ctx->work[i] ^ in[at + i];
        if (EncryptBlockWith(ctx, ctx->block, out + at) != 0) return -1;
        ShiftIn(ctx->work, ctx->m, out + at, BlockLength);
    }
    std::memcpy(ctx->state, ctx->work, ctx->m);
    return 0;
}

int G3413_DecryptCbc(G3413_CbcContext* ctx, const uint8_t* in, uint8_t* out, size_t length) {
    if (ctx == nullptr || in == nullptr || out == nullptr || length == 0 || length % BlockLength != 0) return -1;
    if (CbcFast(ctx, in, out, length, false)) return 0;
    std::memcpy(ctx->work, ctx->iv, ctx->m);
    uint8_t cipherBlock[BlockLength];
    for (size_t at = 0; at < length; at += BlockLength) {
        std::memcpy(cipherBlock, in + at, BlockLength);  // in and out may overlap
        if (DecryptBlockWith(ctx, cipherBlock, ctx->block) != 0) return -1;
        for (size_t i = 0; i < BlockLength; ++i) out[at + i] = ctx->block[i] ^ ctx->work[i];
        ShiftIn(ctx->work, ctx->m, cipherBlock, BlockLength);
    }
    std::memcpy(ctx->state, ctx->work, ctx->m);
    return 0;
}

// ---- OFB and CFB (GOST R 34.13-2015, 5.3 and 5.5)

int G3413_InitCfbOfbNoTest(const uint8_t* key, G3413_CfbOfbContext* ctx, size_t s, const uint8_t* iv, size_t ivLength,
                           G3413_PrintFn print, G3413_PrintFn printRound) {
    if (ctx == nullptr || key == nullptr || iv == nullptr) return -1;
    if (s == 0 || s > BlockLength || ivLength == 0 || ivLength % BlockLength != 0) return -1;
    uint8_t* buffers = InitCommon(ctx, key, ivLength + BlockLength, print, printRound);
    if (buffers == nullptr) return -1;
    ctx->m = ivLength;
    ctx->s = s;
    ctx->iv = buffers;
    ctx->gamma = buffers + ivLength;
    std::memcpy(ctx->iv, iv, ivLength);
    return 0;
}

int G3413_InitOfb(const uint8_t* key, G3413_CfbOfbContext* ctx, size_t s, const uint8_t* iv, size_t ivLength,
                  G3413_PrintFn print, G3413_PrintFn printRound) {
    if (ctx == nullptr || key == nullptr || iv == nullptr) return -1;
    if (!PassedSelfTest<SelfTestOfb>()) return -1;
    return G3413_InitCfbOfbNoTest(key, ctx, s, iv, ivLength, print, printRound);
}

int G3413_InitCfb(const uint8_t* key, G3413_CfbOfbContext* ctx, size_t s, const uint8_t* iv, size_t ivLength,
                  G3413_PrintFn print, G3413_PrintFn printRound) {
    if (ctx == nullptr || key == nullptr || iv == nullptr) return -1;
    if (!PassedSelfTest<SelfTestCfb>()) return -1;
    return G3413_InitCfbOfbNoTest(key, ctx, s, iv, ivLength, print, printRound);
}

namespace {

// How many leading bytes the word-level loops may take: the whole blocks of a
// context with a one-block register and whole-block segments; the block calls
// do the rest (a partial last segment, other registers and segments, tracing).
size_t FastFeedbackBytes(const G3413_CfbOfbContext* ctx, size_t length) {
    if (ctx->m != BlockLength || ctx->s != BlockLength || !Untraced(ctx)) return 0;
    return length / BlockLength * BlockLength;
}

}  // namespace

int G3413_CryptOfb(G3413_CfbOfbContext* ctx, const uint8_t* in, uint8_t* out, size_t length) {
    if (ctx == nullptr || in == nullptr || out == nullptr || length == 0 || ctx->s == 0) return -1;
    size_t at = FastFeedbackBytes(ctx, length);
    if (at != 0) {
        // Y = E(Y): one chain; the data only takes its XOR.
        const RoundKeys keys(ctx->key);
        uint32_t y1, y2;
        Block::Load(ctx->iv, y1, y2);
        for (size_t i = 0; i < at; i += BlockLength) {
            gost28147::EncryptWords(MagmaTables(), keys.k, y1, y2);
            uint32_t x1, x2;
            Block::Load(in + i, x1, x2);
            Block::Store(out + i, x1 ^ y1, x2 ^ y2);
        }
        Block::Store(ctx->iv, y1, y2);
    }
    while (at < length) {
        const size_t segment = length - at < ctx->s ? length - at : ctx->s;
        if (EncryptBlockWith(ctx, ctx->iv, ctx->gamma) != 0) return -1;
        ShiftIn(ctx->iv, ctx->m, ctx->gamma, BlockLength);
        for (size_t i = 0; i < segment; ++i) out[at + i] = in[at + i] ^ ctx->gamma[i];
        at += segment;
        if (segment < ctx->s) ctx->s = 0;  // a partial segment ends the stream
    }
    return 0;
}

int G3413_DecryptOfb(G3413_CfbOfbContext* ctx, const uint8_t* in, uint8_t* out, size_t length) {
    return G3413_CryptOfb(ctx, in, out, length);
}

namespace {

int CryptCfb(G3413_CfbOfbContext* ctx, const uint8_t* in, uint8_t* out, size_t length, bool encrypt) {
    if (ctx == nullptr || in == nullptr || out == nullptr || length == 0 || ctx->s == 0) return -1;
    size_t at = FastFeedbackBytes(ctx, length);
    if (at != 0) {
        const RoundKeys keys(ctx->key);
        gost28147::ChainedBlocks<Block>(true, encrypt, MagmaTables(), keys.k, in, out, at, ctx->iv, ctx->iv);
    }
    uint8_t cipherSegment[BlockLength];
    while (at < length) {
        const size_t segment = length - at < ctx->s ? length - at : ctx->s;
        if (EncryptBlockWith(ctx, ctx->iv, ctx->gamma) != 0) return -1;
        if (!encrypt) std::memcpy(cipherSegment, in + at, segment);
        for (size_t i = 0; i < segment; ++i) out[at + i] = in[at + i] ^ ctx->gamma[i];
        if (encrypt) std::memcpy(cipherSegment, out + at, segment);
        at += segment;
        if (segment < ctx->s) {
            ctx->s = 0;  // a partial segment is not fed back and ends the stream
        } else {
            ShiftIn(ctx->iv, ctx->m, cipherSegment, segment);
        }
    }
    return 0;
}

}  // namespace

int G3413_EncryptCfb(G3413_CfbOfbContext* ctx, const uint8_t* in, uint8_t* out, size_t length) {
    return CryptCfb(ctx, in, out, length, true);
}

int G3413_DecryptCfb(G3413_CfbOfbContext* ctx, const uint8_t* in, uint8_t* out, size_t length) {
    return CryptCfb(ctx, in, out, length, false);
}

// ---- CTR (GOST R 34.13-2015, 5.2): the counter is IV || 0^32, incremented mod 2^64.

int G3413_InitCtrNoTest(const uint8_t* key, const uint8_t* iv, size_t s, G3413_CtrContext* ctx, G3413_PrintFn print,
                        G3413_PrintFn printRound) {
    if (ctx == nullptr || key == nullptr || iv == nullptr || s > BlockLength) return -1;
    uint8_t* buffers = InitCommon(ctx, key, 2 * BlockLength, print, printRound);
    if (buffers == nullptr) return -1;
    ctx->s = s;
    ctx->counter = buffers;
    ctx->gamma = buffers + BlockLength;
    std::memcpy(ctx->counter, iv, BlockLength / 2);
    return 0;
}

int G3413_InitCtr(const uint8_t* key, const uint8_t* iv, size_t s, G3413_CtrContext* ctx, G3413_PrintFn print,
                  G3413_PrintFn printRound) {
    if (ctx == nullptr || key == nullptr || iv == nullptr || s > BlockLength) return -1;
    if (!PassedSelfTest<SelfTestCtr>()) return -1;
    return G3413_InitCtrNoTest(key, iv, s, ctx, print, printRound);
}

namespace {

void IncrementCounter(uint8_t* counter) {
    for (int i = int(BlockLength) - 1; i >= 0 && ++counter[i] == 0; --i) {
    }
}

}  // namespace

int G3413_CryptCtr(G3413_CtrContext* ctx, const uint8_t* in, uint8_t* out, size_t length) {
    if (ctx == nullptr || in == nullptr || out == nullptr || length == 0 || ctx->s == 0) return -1;
    size_t at = 0;
    if (ctx->s == BlockLength && Untraced(ctx) && length >= gost28147::Lanes * BlockLength) {
        // Whole-block segments: the counter as a 64-bit number, whose big-endian
        // halves are the block's words; counters enciphered side by side.
        const RoundKeys keys(ctx->key);
        uint64_t counter = uint64_t(LoadBE32(ctx->counter)) << 32 | LoadBE32(ctx->counter + 4);
        constexpr size_t Step = gost28147::Lanes * BlockLength;
        for (; length - at >= Step; at += Step) {
            uint32_t g1[gost28147::Lanes], g2[gost28147::Lanes];
            for (int i = 0; i < gost28147::Lanes; ++i, ++counter) {
                g1[i] = uint32_t(counter);
                g2[i] = uint32_t(counter >> 32);
            }
            gost28147::EncryptWordsN<gost28147::Lanes>(MagmaTables(), keys.k, g1, g2);
            for (int i = 0; i < gost28147::Lanes; ++i) {
                uint32_t x1, x2;
                Block::Load(in + at + BlockLength * i, x1, x2);
                Block::Store(out + at + BlockLength * i, x1 ^ g1[i], x2 ^ g2[i]);
            }
        }
        StoreBE32(ctx->counter, uint32_t(counter >> 32));
        StoreBE32(ctx->counter + 4, uint32_t(counter));
    }
    while (at < length) {
        const size_t segment = length - at < ctx->s ? length - at : ctx->s;
        if (EncryptBlockWith(ctx, ctx->counter, ctx->gamma) != 0) return -1;
        for (size_t i = 0; i < segment; ++i) out[at + i] = in[at + i] ^ ctx->gamma[i];
        IncrementCounter(ctx->counter);
        at += segment;
        if (segment < ctx->s) ctx->s = 0;
    }
    return 0;
}

// ---- MAC (GOST R 34.13-2015, 5.6)

void G3413_ShiftLeft(const uint8_t* in, uint8_t* out, size_t length) {
    for (size_t i = 0; i < length; ++i) {
        const uint8_t next = i + 1 < length ? in[i + 1] : 0;
        out[i] = uint8_t(in[i] << 1 | next >> 7);
    }
}

void G3413_PadMac(const uint8_t* in, size_t count, uint8_t* out, size_t n) {
    std::memmove(out, in, count);
    out[count] = 0x80;
    std::memset(out + count + 1, 0, n - count - 1);
}

int G3413_GenMacSubkeys(G3413_MacContext* ctx) {
    if (ctx == nullptr || ctx->K1 == nullptr || ctx->K2 == nullptr) return -1;
    uint8_t zero[BlockLength] = {}, r[BlockLength];
    if (EncryptBlockWith(ctx, zero, r) != 0) return -1;
    G3413_ShiftLeft(r, ctx->K1, BlockLength);
    if (r[0] & 0x80)
        for (size_t i = 0; i < BlockLength; ++i) ctx->K1[i] ^= ctx->B[i];
    G3413_ShiftLeft(ctx->K1, ctx->K2, BlockLength);
    if (ctx->K1[0] & 0x80)
        for (size_t i = 0; i < BlockLength; ++i) ctx->K2[i] ^= ctx->B[i];
    return 0;
}

namespace {

// K1, K2, B, C, the kept block, the padded block and the result.
constexpr size_t MacBuffers = 7;

}  // namespace

int G3413_InitMac(const uint8_t* key, size_t s, G3413_MacContext* ctx, G3413_PrintFn print, G3413_PrintFn printRound) {
    if (ctx == nullptr || key == nullptr || s == 0 || s > BlockLength) return -1;
    uint8_t* buffers = InitCommon(ctx, key, MacBuffers * BlockLength, print, printRound);
    if (buffers == nullptr) return -1;
    ctx->s = s;
    uint8_t** const blocks[MacBuffers] = {&ctx->K1, &ctx->K2, &ctx->B, &ctx->C, &ctx->last, &ctx->padded, &ctx->result};
    for (size_t i = 0; i < MacBuffers; ++i) *blocks[i] = buffers + BlockLength * i;
    ctx->B[BlockLength - 1] = 0x1B;
    ctx->lastCount = 0;
    return G3413_GenMacSubkeys(ctx);
}

namespace {

// C := E(C xor block) over whole blocks.
int FoldBlocks(G3413_MacContext* ctx, const uint8_t* data, size_t length) {
    if (Untraced(ctx)) {
        // The CBC chain without its output: one dependency chain in words.
        const RoundKeys keys(ctx->key);
        uint32_t c1, c2;
        Block::Load(ctx->C, c1, c2);
        gost28147::CbcEncryptBlocks<Block>(MagmaTables(), keys.k, data, nullptr, length, c1, c2);
        Block::Store(ctx->C, c1, c2);
        return 0;
    }
    for (size_t at = 0; at < length; at += BlockLength) {
        for (size_t i = 0; i < BlockLength; ++i) ctx->C[i] ^= data[at + i];
        if (EncryptBlockWith(ctx, ctx->C, ctx->C) != 0) return -1;
    }
    return 0;
}

}  // namespace

int G3413_UpdateMac(G3413_MacContext* ctx, const uint8_t* data, size_t length) {
    if (ctx == nullptr || data == nullptr || length == 0 || ctx->last == nullptr) return -1;
    // The last block is always kept back: it is finished with K1 or K2. A kept
    // block is folded in only once more data shows that it was not the last.
    size_t at = 0;
    if (ctx->lastCount != 0) {
        const size_t take = length < BlockLength - ctx->lastCount ? length : BlockLength - ctx->lastCount;
        std::memcpy(ctx->last + ctx->lastCount, data, take);
        ctx->lastCount += take;
        at = take;
        if (at == length) return 0;
        if (FoldBlocks(ctx, ctx->last, BlockLength) != 0) return -1;
    }
    // Every whole block but the one that ends the data, which is kept back.
    const size_t folded = (length - at - 1) / BlockLength * BlockLength;
    if (folded != 0 && FoldBlocks(ctx, data + at, folded) != 0) return -1;
    at += folded;
    ctx->lastCount = length - at;
    std::memcpy(ctx->last, data + at, ctx->lastCount);
    return 0;
}

int G3413_FinishMac(G3413_MacContext* ctx, uint8_t* out) {
    if (ctx == nullptr || out == nullptr || ctx->last == nullptr) return -1;
    const uint8_t* subkey = ctx->K1;
    if (ctx->lastCount != BlockLength) {
        G3413_PadMac(ctx->last, ctx->lastCount, ctx->padded, BlockLength);
        subkey = ctx->K2;
    } else {
        std::memcpy(ctx->padded, ctx->last, BlockLength);
    }
    for (size_t i = 0; i < BlockLength; ++i) ctx->padded[i] ^= ctx->C[i] ^ subkey[i];
    if (EncryptBlockWith(ctx, ctx->padded, ctx->result) != 0) return -1;
    std::memcpy(out, ctx->result, ctx->s);
    return 0;
}

// ---- State and release

int G3413_GetState(const void* ctx, uint32_t mode, uint8_t* out) {
    if (ctx == nullptr || out == nullptr) return -1;
    if (mode == 2) {
        const auto* cbc = static_cast<const G3413_CbcContext*>(ctx);
        if (cbc->state == nullptr) return -1;
        std::memcpy(out, cbc->state, cbc->m);
    } else if (mode == 3 || mode == 4) {
        const auto* feedback = static_cast<const G3413_CfbOfbContext*>(ctx);
        if (feedback->iv == nullptr) return -1;
        std::memcpy(out, feedback->iv, feedback->m);
    }
    return 0;
}

void G3413_FreeEcb(G3413_EcbContext* ctx) {
    if (ctx != nullptr) FreeCommon(ctx, 0);
}

void G3413_FreeCbc(G3413_CbcContext* ctx) {
    if (ctx == nullptr) return;
    FreeCommon(ctx, 3 * ctx->m + BlockLength);
    ctx->iv = ctx->work = ctx->state = ctx->block = nullptr;
}

void G3413_FreeCfbOfb(G3413_CfbOfbContext* ctx) {
    if (ctx == nullptr) return;
    FreeCommon(ctx, ctx->m + BlockLength);
    ctx->iv = ctx->gamma = nullptr;
}

void G3413_FreeCtr(G3413_CtrContext* ctx) {
    if (ctx == nullptr) return;
    FreeCommon(ctx, 2 * BlockLength);
    ctx->counter = ctx->gamma = nullptr;
}

void G3413_FreeMac(G3413_MacContext* ctx) {
    if (ctx == nullptr) return;
    FreeCommon(ctx, MacBuffers * BlockLength);
    ctx->K1 = ctx->K2 = ctx->B = ctx->C = ctx->last = ctx->padded = ctx->result = nullptr;
}

}  // namespace ZORVIK
