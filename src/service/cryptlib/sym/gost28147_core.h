// The GOST 28147-89 block transformation (RFC 5830) shared by the cipher and by the
// GOST R 34.11-94 step function: the S-box folded into four byte tables together
// with the 11-bit rotation, a 256-bit key as eight little-endian words, the 32-round
// encipherment, the 16-round MAC step and CryptoPro key meshing (RFC 4357, 2.3.2).
#pragma once

#include <cstdint>
#include <cstring>

namespace ZORVIK::gost28147 {

struct Core {
    uint32_t key[8] = {};
    // table[i][b]: byte b of the 32-bit round input (byte i, 0 = least significant)
    // through its two S-box rows (K(2i+2) high nibble, K(2i+1) low), shifted into
    // place and rotated left by 11 bits.
    uint32_t table[4][256] = {};
};

inline uint32_t LoadLE32(const uint8_t* p) {
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

inline void StoreLE32(uint8_t* p, uint32_t v) {
    p[0] = uint8_t(v);
    p[1] = uint8_t(v >> 8);
    p[2] = uint8_t(v >> 16);
    p[3] = uint8_t(v >> 24);
}

// Builds the tables from an S-box in the core-block layout: 8 rows of 16 values,
// row 0 = K8 ... row 7 = K1. The key is not touched.
void LoadSBox(Core& core, const uint8_t coreBlock[128]);
// The S-box back from the tables, in the row layout (row 0 = K1 ... row 7 = K8).
void ReadSBox(const Core& core, uint8_t rowLayout[128]);

void LoadKey(Core& core, const uint8_t key[32]);
void StoreKey(const Core& core, uint8_t key[32]);
void WipeKey(Core& core);

// One round of the Feistel network: b xor f(x), f the S-box layer and the
// rotation, x = the other half plus the round key. There are two forms of it.
//
// SerialRound is for one block alone (CBC and CFB encipherment, the MAC),
// where every round waits on the one before: its work is ordered for the
// shortest path from x to the result (about 10 cycles on recent cores: the
// add, one instruction to the index, the load, two levels of XOR).
// - Bytes 1 and 2 are shifted down and zero-extended from the low byte of the
//   shifted copy. Reading the second byte of a register directly (movzx from
//   ah and the like) takes three cycles or more on recent cores; a shift takes
//   one, and a zero extension none when the processor can rename it away.
// - Byte 3 comes to the low end by a byte swap rather than a third shift: the
//   three shifts would wait on each other for the two shift units.
// - The shifted copies and the four indexes stay live to the end of the
//   round, so that each zero extension writes a register of its own: one that
//   overwrites its source, or a register another index had in the same round,
//   is not renamed away as often (measured: about 8% slower over a chain).
// - b joins the lookup of byte 0, which is ready first, then byte 3; bytes 1
//   and 2 are XORed together and join last.
// The empty asm statements keep the compiler from undoing that order or
// folding the shifts and the swap back into byte reads; the 64-bit index
// spares a zero extension on the way to the loads.
inline uint32_t SerialRound(const Core& c, uint32_t b, uint32_t x) {
    uint64_t index = x;
    uint64_t down8 = index >> 8, down16 = index >> 16;
    uint32_t swapped = __builtin_bswap32(x);
    asm("" : "+r"(index), "+r"(down8), "+r"(down16), "+r"(swapped));
    const uint64_t i0 = index & 0xFF, i1 = down8 & 0xFF, i2 = down16 & 0xFF, i3 = swapped & 0xFF;
    uint32_t early = b ^ c.table[0][i0];
    asm("" : "+r"(early));
    early ^= c.table[3][i3];
    uint32_t late = c.table[1][i1] ^ c.table[2][i2];
    asm("" : "+r"(early), "+r"(late));
    asm("" : : "r"(index), "r"(down8), "r"(down16), "r"(swapped));
    asm("" : : "r"(i0), "r"(i1), "r"(i2), "r"(i3));
    return early ^ late;
}

// InterleavedRound is for several blocks at once, where the rounds of other
// blocks fill the waits and the count of instructions matters instead: byte 1
// is read directly from the second byte of the register (one instruction),
// byte 2 takes two and is XORed last. Measured over 1 MiB, SerialRound would
// make the interleaved modes about 10% slower, InterleavedRound the one-block
// chains about 9% slower.
inline uint32_t InterleavedRound(const Core& c, uint32_t b, uint32_t x) {
    const uint64_t index = x;
    uint32_t early = b ^ c.table[0][index & 0xFF];
    uint32_t middle = c.table[1][(index >> 8) & 0xFF] ^ c.table[3][index >> 24];
    asm("" : "+r"(early), "+r"(middle));
    return (early ^ middle) ^ c.table[2][(index >> 16) & 0xFF];
}

// RFC 5830, 6.1 and 6.2: the round-key orders of encipherment and decipherment.
inline constexpr uint8_t EncryptOrder[32] = {0, 1, 2, 3, 4, 5, 6, 7, 0, 1, 2, 3, 4, 5, 6, 7,
                                             0, 1, 2, 3, 4, 5, 6, 7, 7, 6, 5, 4, 3, 2, 1, 0};
inline constexpr uint8_t DecryptOrder[32] = {0, 1, 2, 3, 4, 5, 6, 7, 7, 6, 5, 4, 3, 2, 1, 0,
                                             7, 6, 5, 4, 3, 2, 1, 0, 7, 6, 5, 4, 3, 2, 1, 0};

// The 32 rounds over N independent blocks at once in the given key order: the
// rounds of one block wait on each other, those of different blocks do not, so
// interleaving them keeps the table lookups of several blocks in flight. Block i
// takes its key words from k + KeyStride * i (0: one key for all).
template <int N, int KeyStride = 0>
[[gnu::always_inline]] inline void CryptWordsN(const Core& c, const uint32_t* k, const uint8_t* order, uint32_t* n1,
                                               uint32_t* n2) {
    uint32_t a[N], b[N];
    for (int i = 0; i < N; ++i) {
        a[i] = n1[i];
        b[i] = n2[i];
    }
    // One block is a chain of rounds; several interleaved fill each other's waits.
    constexpr auto round = N == 1 ? SerialRound : InterleavedRound;
#pragma GCC unroll 32
    for (int r = 0; r < 32; r += 2) {
#pragma GCC unroll 8
        for (int i = 0; i < N; ++i) b[i] = round(c, b[i], a[i] + k[KeyStride * i + order[r]]);
#pragma GCC unroll 8
        for (int i = 0; i < N; ++i) a[i] = round(c, a[i], b[i] + k[KeyStride * i + order[r + 1]]);
    }
    for (int i = 0; i < N; ++i) {
        n1[i] = b[i];
        n2[i] = a[i];
    }
}

template <int N>
inline void EncryptWordsN(const Core& c, const uint32_t* k, uint32_t* n1, uint32_t* n2) {
    CryptWordsN<N>(c, k, EncryptOrder, n1, n2);
}

template <int N>
inline void DecryptWordsN(const Core& c, const uint32_t* k, uint32_t* n1, uint32_t* n2) {
    CryptWordsN<N>(c, k, DecryptOrder, n1, n2);
}

// One block: 32 rounds, K1..K8 three times then K8..K1 to encipher (RFC 5830,
// 6.1), the reverse to decipher (6.2). The standard's swap after every round but
// the last is folded into alternating the two halves.
inline void EncryptWords(const Core& c, const uint32_t* k, uint32_t& n1, uint32_t& n2) {
    CryptWordsN<1>(c, k, EncryptOrder, &n1, &n2);
}

inline void DecryptWords(const Core& c, const uint32_t* k, uint32_t& n1, uint32_t& n2) {
    CryptWordsN<1>(c, k, DecryptOrder, &n1, &n2);
}

// One 8-byte block: bytes 0-3 are N1, bytes 4-7 N2, each least significant byte first.
inline void EncryptBlock(const Core& c, const uint8_t in[8], uint8_t out[8]) {
    uint32_t n1 = LoadLE32(in), n2 = LoadLE32(in + 4);
    EncryptWords(c, c.key, n1, n2);
    StoreLE32(out, n1);
    StoreLE32(out + 4, n2);
}

inline void DecryptBlock(const Core& c, const uint8_t in[8], uint8_t out[8]) {
    uint32_t n1 = LoadLE32(in), n2 = LoadLE32(in + 4);
    DecryptWords(c, c.key, n1, n2);
    StoreLE32(out, n1);
    StoreLE32(out + 4, n2);
}

// RFC 5830, 8: the MAC step, 16 rounds K1..K8 twice over state XOR block, no final swap.
inline void MacWords(const Core& c, uint32_t& n1, uint32_t& n2) {
    const uint32_t* k = c.key;
    uint32_t a = n1, b = n2;
    for (int pass = 0; pass < 2; ++pass) {
        b = SerialRound(c, b, a + k[0]);
        a = SerialRound(c, a, b + k[1]);
        b = SerialRound(c, b, a + k[2]);
        a = SerialRound(c, a, b + k[3]);
        b = SerialRound(c, b, a + k[4]);
        a = SerialRound(c, a, b + k[5]);
        b = SerialRound(c, b, a + k[6]);
        a = SerialRound(c, a, b + k[7]);
    }
    n1 = a;
    n2 = b;
}

// The MAC over data from the 8-byte start value in state: every whole block, then a
// trailing partial block zero-padded; a single block gets no extra block.
void Mac(const Core& core, uint8_t state[8], const uint8_t* data, size_t length);

// RFC 4357, 2.3.2: the new key is the meshing constant deciphered under the current
// key; then iv is replaced by its encipherment under the new key.
void MeshKey(Core& core, uint8_t iv[8]);
// The new key alone (the IV left as it is).
void MeshKey(Core& core);

}  // namespace ZORVIK::gost28147
