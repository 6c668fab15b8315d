// The block-mode loops shared by GOST 28147-89 and the 64-bit cipher of
// GOST R 34.12-2015, both run on the table-folded core of gost28147_core.h; the
// two differ only in how a block's bytes map to the core's words N1 and N2.
//
// The serial modes (CBC encipherment, CFB encipherment, the CBC-MAC) are one
// dependency chain from block to block: the chain value stays in two registers
// and only the block's own XOR is added to the 32 rounds. Where blocks do not
// depend on each other (ECB, CBC and CFB decipherment) Lanes blocks run
// interleaved. in and out may be the same buffer; lengths are whole blocks.
#pragma once

#include <cstddef>
#include <cstdint>

#include "service/cryptlib/sym/gost28147_core.h"

namespace ZORVIK::gost28147 {

inline uint32_t LoadBE32(const uint8_t* p) {
    return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | uint32_t(p[3]);
}

inline void StoreBE32(uint8_t* p, uint32_t v) {
    p[0] = uint8_t(v >> 24);
    p[1] = uint8_t(v >> 16);
    p[2] = uint8_t(v >> 8);
    p[3] = uint8_t(v);
}

// GOST 28147-89 (RFC 5830): N1 = bytes 0-3, N2 = bytes 4-7, least significant byte first.
struct LittleEndianBlock {
    static void Load(const uint8_t* p, uint32_t& n1, uint32_t& n2) {
        n1 = LoadLE32(p);
        n2 = LoadLE32(p + 4);
    }
    static void Store(uint8_t* p, uint32_t n1, uint32_t n2) {
        StoreLE32(p, n1);
        StoreLE32(p + 4, n2);
    }
};

// GOST R 34.12-2015, 5.3: big-endian halves a1 = bytes 0-3 and a0 = bytes 4-7;
// a0, the half the round key is added to, is the core's N1.
struct BigEndianBlock {
    static void Load(const uint8_t* p, uint32_t& n1, uint32_t& n2) {
        n1 = LoadBE32(p + 4);
        n2 = LoadBE32(p);
    }
    static void Store(uint8_t* p, uint32_t n1, uint32_t n2) {
        StoreBE32(p, n2);
        StoreBE32(p + 4, n1);
    }
};

constexpr size_t BlockBytes = 8;
constexpr int Lanes = 4;

// ECB: every block by itself, in the direction of encrypt.
template <class Block>
void EcbBlocks(const Core& c, const uint32_t* k, const uint8_t* in, uint8_t* out, size_t length, bool encrypt) {
    size_t at = 0;
    for (; length - at >= Lanes * BlockBytes; at += Lanes * BlockBytes) {
        uint32_t n1[Lanes], n2[Lanes];
        for (int i = 0; i < Lanes; ++i) Block::Load(in + at + BlockBytes * i, n1[i], n2[i]);
        if (encrypt) {
            EncryptWordsN<Lanes>(c, k, n1, n2);
        } else {
            DecryptWordsN<Lanes>(c, k, n1, n2);
        }
        for (int i = 0; i < Lanes; ++i) Block::Store(out + at + BlockBytes * i, n1[i], n2[i]);
    }
    for (; at < length; at += BlockBytes) {
        uint32_t n1, n2;
        Block::Load(in + at, n1, n2);
        if (encrypt) {
            EncryptWords(c, k, n1, n2);
        } else {
            DecryptWords(c, k, n1, n2);
        }
        Block::Store(out + at, n1, n2);
    }
}

// CBC encipherment with a one-block register (r1, r2): C = E(P xor R), R := C.
// With out null only the chain runs: the CBC-MAC.
template <class Block>
void CbcEncryptBlocks(const Core& c, const uint32_t* k, const uint8_t* in, uint8_t* out, size_t length, uint32_t& r1,
                      uint32_t& r2) {
    uint32_t a = r1, b = r2;
    for (size_t at = 0; at < length; at += BlockBytes) {
        uint32_t x1, x2;
        Block::Load(in + at, x1, x2);
        a ^= x1;
        b ^= x2;
        EncryptWords(c, k, a, b);
        if (out != nullptr) Block::Store(out + at, a, b);
    }
    r1 = a;
    r2 = b;
}

// CFB encipherment with a one-block register: C = P xor E(R), R := C.
template <class Block>
void CfbEncryptBlocks(const Core& c, const uint32_t* k, const uint8_t* in, uint8_t* out, size_t length, uint32_t& r1,
                      uint32_t& r2) {
    uint32_t a = r1, b = r2;
    for (size_t at = 0; at < length; at += BlockBytes) {
        EncryptWords(c, k, a, b);
        uint32_t x1, x2;
        Block::Load(in + at, x1, x2);
        a ^= x1;
        b ^= x2;
        Block::Store(out + at, a, b);
    }
    r1 = a;
    r2 = b;
}

// Decipherment of CBC (P = D(C) xor R) or CFB (P = C xor E(R)) with a one-block
// register, R := C after each block. Every ciphertext block is known
// beforehand, so the blocks do not wait on each other.
template <class Block, bool Cfb>
void DecryptChainedBlocks(const Core& c, const uint32_t* k, const uint8_t* in, uint8_t* out, size_t length,
                          uint32_t& r1, uint32_t& r2) {
    size_t at = 0;
    for (; length - at >= Lanes * BlockBytes; at += Lanes * BlockBytes) {
        uint32_t x1[Lanes], x2[Lanes], p1[Lanes], p2[Lanes];
        for (int i = 0; i < Lanes; ++i) Block::Load(in + at + BlockBytes * i, x1[i], x2[i]);
        // The register of each block, taken before out may overwrite in.
        p1[0] = r1;
        p2[0] = r2;
        for (int i = 1; i < Lanes; ++i) {
            p1[i] = x1[i - 1];
            p2[i] = x2[i - 1];
        }
        r1 = x1[Lanes - 1];
        r2 = x2[Lanes - 1];
        if constexpr (Cfb) {
            EncryptWordsN<Lanes>(c, k, p1, p2);
        } else {
            DecryptWordsN<Lanes>(c, k, x1, x2);
        }
        for (int i = 0; i < Lanes; ++i) Block::Store(out + at + BlockBytes * i, x1[i] ^ p1[i], x2[i] ^ p2[i]);
    }
    for (; at < length; at += BlockBytes) {
        uint32_t x1, x2, p1 = r1, p2 = r2;
        Block::Load(in + at, x1, x2);
        r1 = x1;
        r2 = x2;
        if constexpr (Cfb) {
            EncryptWords(c, k, p1, p2);
        } else {
            DecryptWords(c, k, x1, x2);
        }
        Block::Store(out + at, x1 ^ p1, x2 ^ p2);
    }
}

// CBC (cfb false) or CFB over whole blocks in the direction of encrypt, with a
// one-block register read from regIn and left in regOut (which may be the same).
template <class Block>
void ChainedBlocks(bool cfb, bool encrypt, const Core& c, const uint32_t* k, const uint8_t* in, uint8_t* out,
                   size_t length, const uint8_t* regIn, uint8_t* regOut) {
    uint32_t r1, r2;
    Block::Load(regIn, r1, r2);
    if (cfb) {
        if (encrypt) {
            CfbEncryptBlocks<Block>(c, k, in, out, length, r1, r2);
        } else {
            DecryptChainedBlocks<Block, true>(c, k, in, out, length, r1, r2);
        }
    } else {
        if (encrypt) {
            CbcEncryptBlocks<Block>(c, k, in, out, length, r1, r2);
        } else {
            DecryptChainedBlocks<Block, false>(c, k, in, out, length, r1, r2);
        }
    }
    Block::Store(regOut, r1, r2);
}

}  // namespace ZORVIK::gost28147
