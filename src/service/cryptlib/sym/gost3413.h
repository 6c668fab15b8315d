// The 64-bit block cipher of GOST R 34.12-2015 ("Magma") and the modes of
// GOST R 34.13-2015 over it: ECB, CBC, OFB, CFB, CTR and the MAC, as plain
// functions over caller-owned context records. Every function returns 0 on success
// and -1 on a refusal; nothing throws. Keys, blocks, registers and counters are in
// the standard's big-endian order. Each data mode's initialisation first checks a
// known-answer test against the example of GOST R 34.13-2015, Appendix A (run
// once per process: the cipher is fixed, so its answer cannot change).
//
// Tracing: every context carries two print functions, one for the block level
// (Encrypt_89 / Decrypt_89, 8-byte values) and one for the rounds (one 32-bit word
// per call); null turns tracing off. Untraced contexts run their blocks through
// precomputed tables, keeping the chaining values of the serial modes in words.
#pragma once

#include <cstddef>
#include <cstdint>

namespace ZORVIK {

// (label, pointer to bytes or to one 32-bit word, count of bytes or words)
using G3413_PrintFn = void (*)(const char* label, const void* data, size_t count);
using G3413_BlockFn = int (*)(const uint8_t* in, uint8_t* out, const uint8_t* key, G3413_PrintFn print,
                              G3413_PrintFn printRound);

// ---- Block function (GOST R 34.12-2015, 5)

int Encrypt_89(const uint8_t* in, uint8_t* out, const uint8_t* key, G3413_PrintFn print, G3413_PrintFn printRound);
int Decrypt_89(const uint8_t* in, uint8_t* out, const uint8_t* key, G3413_PrintFn print, G3413_PrintFn printRound);
// The round-by-round reference form; keyOrder holds the 32 byte offsets of the round keys.
int CryptBlock(const uint8_t* in, uint8_t* out, const uint8_t* key, const uint8_t* keyOrder, G3413_PrintFn printRound);
// (a1, a0) := (a0, a1 xor g[k](a0)); k points to the 4 key bytes of the round key.
void Round(uint32_t* a1, uint32_t* a0, const uint8_t* k, G3413_PrintFn printRound);
// The last round: a1 := a1 xor g[k](a0), no swap.
void RoundShtrih(uint32_t* a1, uint32_t* a0, const uint8_t* k, G3413_PrintFn printRound);
// g[k](a) = t(a + k) rotated left by 11 bits.
uint32_t funcG(uint32_t a, uint32_t k, G3413_PrintFn printRound);
// t: nibble i of a through pi'i.
uint32_t funcT(uint32_t a, G3413_PrintFn printRound);

// Round-key orders as byte offsets into the key (GOST R 34.12-2015, 5.3).
extern const uint8_t G3413_EncryptKeyOrder[32];
extern const uint8_t G3413_DecryptKeyOrder[32];

// ---- Context records

// Every pointer of a record points into one allocation made by its init, which
// starts with the key copy; the release frees it through key.
struct G3413_Common {
    uint8_t* key = nullptr;  // own 32-byte copy
    size_t n = 0;            // block length, 8
    G3413_PrintFn print = nullptr;
    G3413_PrintFn printRound = nullptr;
    G3413_BlockFn encrypt = nullptr;
    G3413_BlockFn decrypt = nullptr;
};

struct G3413_EcbContext : G3413_Common {};

struct G3413_CbcContext : G3413_Common {
    uint8_t* iv = nullptr;     // R as given at initialisation, m bytes
    uint8_t* work = nullptr;   // R while a call runs
    uint8_t* state = nullptr;  // R after the last block of the last call
    uint8_t* block = nullptr;  // 8-byte buffer
    size_t m = 0;
};

struct G3413_CfbOfbContext : G3413_Common {
    uint8_t* iv = nullptr;     // R, m bytes
    uint8_t* gamma = nullptr;  // 8 bytes
    size_t m = 0;
    size_t s = 0;  // segment length; 0 after a partial segment
};

struct G3413_CtrContext : G3413_Common {
    uint8_t* counter = nullptr;  // 8 bytes
    uint8_t* gamma = nullptr;    // 8 bytes
    size_t s = 0;
};

struct G3413_MacContext : G3413_Common {
    size_t s = 0;  // MAC length in bytes, 1..8
    uint8_t* K1 = nullptr;
    uint8_t* K2 = nullptr;
    uint8_t* B = nullptr;     // 00 00 00 00 00 00 00 1B
    uint8_t* C = nullptr;     // chaining value
    uint8_t* last = nullptr;  // the block kept back
    size_t lastCount = 0;
    uint8_t* padded = nullptr;
    uint8_t* result = nullptr;
};

// ---- Initialisation (each data mode runs its self-test first)

int G3413_InitEcb(const uint8_t* key, G3413_EcbContext* ctx, G3413_PrintFn print, G3413_PrintFn printRound);
int G3413_InitCbc(const uint8_t* key, G3413_CbcContext* ctx, const uint8_t* iv, size_t ivLength, G3413_PrintFn print,
                  G3413_PrintFn printRound);
int G3413_InitCbcNoTest(const uint8_t* key, G3413_CbcContext* ctx, const uint8_t* iv, size_t ivLength,
                        G3413_PrintFn print, G3413_PrintFn printRound);
int G3413_InitOfb(const uint8_t* key, G3413_CfbOfbContext* ctx, size_t s, const uint8_t* iv, size_t ivLength,
                  G3413_PrintFn print, G3413_PrintFn printRound);
int G3413_InitCfb(const uint8_t* key, G3413_CfbOfbContext* ctx, size_t s, const uint8_t* iv, size_t ivLength,
                  G3413_PrintFn print, G3413_PrintFn printRound);
int G3413_InitCfbOfbNoTest(const uint8_t* key, G3413_CfbOfbContext* ctx, size_t s, const uint8_t* iv, size_t ivLength,
                           G3413_PrintFn print, G3413_PrintFn printRound);
// iv: 4 bytes, the counter's high half.
int G3413_InitCtr(const uint8_t* key, const uint8_t* iv, size_t s, G3413_CtrContext* ctx, G3413_PrintFn print,
                  G3413_PrintFn printRound);
int G3413_InitCtrNoTest(const uint8_t* key, const uint8_t* iv, size_t s, G3413_CtrContext* ctx, G3413_PrintFn print,
                        G3413_PrintFn printRound);
int G3413_InitMac(const uint8_t* key, size_t s, G3413_MacContext* ctx, G3413_PrintFn print, G3413_PrintFn printRound);

// ---- Processing (in and out may be the same buffer)

int G3413_EncryptEcb(G3413_EcbContext* ctx, const uint8_t* in, uint8_t* out, size_t length);
int G3413_DecryptEcb(G3413_EcbContext* ctx, const uint8_t* in, uint8_t* out, size_t length);
int G3413_EncryptCbc(G3413_CbcContext* ctx, const uint8_t* in, uint8_t* out, size_t length);
int G3413_DecryptCbc(G3413_CbcContext* ctx, const uint8_t* in, uint8_t* out, size_t length);
int G3413_CryptOfb(G3413_CfbOfbContext* ctx, const uint8_t* in, uint8_t* out, size_t length);
int G3413_DecryptOfb(G3413_CfbOfbContext* ctx, const uint8_t* in, uint8_t* out, size_t length);
int G3413_EncryptCfb(G3413_CfbOfbContext* ctx, const uint8_t* in, uint8_t* out, size_t length);
int G3413_DecryptCfb(G3413_CfbOfbContext* ctx, const uint8_t* in, uint8_t* out, size_t length);
int G3413_CryptCtr(G3413_CtrContext* ctx, const uint8_t* in, uint8_t* out, size_t length);
int G3413_UpdateMac(G3413_MacContext* ctx, const uint8_t* data, size_t length);
int G3413_FinishMac(G3413_MacContext* ctx, uint8_t* out);

// Copies the register (m bytes) for mode 2 (CBC: a G3413_CbcContext) and modes 3
// and 4 (OFB, CFB: a G3413_CfbOfbContext); other mode numbers copy nothing.
int G3413_GetState(const void* ctx, uint32_t mode, uint8_t* out);

// MAC helpers of GOST R 34.13-2015, 5.6.
int G3413_GenMacSubkeys(G3413_MacContext* ctx);
void G3413_ShiftLeft(const uint8_t* in, uint8_t* out, size_t length);
void G3413_PadMac(const uint8_t* in, size_t count, uint8_t* out, size_t n);

// ---- Release: frees the buffers and clears the pointers; null is accepted.

void G3413_FreeEcb(G3413_EcbContext* ctx);
void G3413_FreeCbc(G3413_CbcContext* ctx);
void G3413_FreeCfbOfb(G3413_CfbOfbContext* ctx);
void G3413_FreeCtr(G3413_CtrContext* ctx);
void G3413_FreeMac(G3413_MacContext* ctx);

}  // namespace ZORVIK
