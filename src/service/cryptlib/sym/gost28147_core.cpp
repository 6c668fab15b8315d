#include "service/cryptlib/sym/gost28147_core.h"

namespace ZORVIK::gost28147 {
namespace {

constexpr uint32_t RotateLeft11(uint32_t v) { return (v << 11) | (v >> 21); }
constexpr uint32_t RotateRight11(uint32_t v) { return (v >> 11) | (v << 21); }

// RFC 4357, 2.3.2: the constant C of CryptoPro key meshing.
constexpr uint8_t MeshingConstant[32] = {
    0x69, 0x00, 0x72, 0x22, 0x64, 0xC9, 0x04, 0x23, 0x8D, 0x3A, 0xDB, 0x96, 0x46, 0xE9, 0x2A, 0xC4,
    0x18, 0xFE, 0xAC, 0x94, 0x00, 0xED, 0x07, 0x12, 0xC0, 0x86, 0xDC, 0xC2, 0xEF, 0x4C, 0xA9, 0x2B,
};

}  // namespace

void LoadSBox(Core& core, const uint8_t coreBlock[128]) {
    // Row 7 - j of the core block is K(j+1); byte i of the word takes K(2i+1), K(2i+2).
    for (int i = 0; i < 4; ++i) {
        const uint8_t* low = coreBlock + 16 * (7 - 2 * i);
        const uint8_t* high = coreBlock + 16 * (6 - 2 * i);
        for (uint32_t b = 0; b < 256; ++b) {
            const uint32_t value = uint32_t((high[b >> 4] & 0x0F) << 4 | (low[b & 0x0F] & 0x0F)) << (8 * i);
            core.table[i][b] = RotateLeft11(value);
        }
    }
}

void ReadSBox(const Core& core, uint8_t rowLayout[128]) {
    for (int i = 0; i < 4; ++i) {
        for (uint32_t x = 0; x < 16; ++x) {
            rowLayout[16 * (2 * i) + x] = uint8_t((RotateRight11(core.table[i][x]) >> (8 * i)) & 0x0F);
            rowLayout[16 * (2 * i + 1) + x] = uint8_t((RotateRight11(core.table[i][x << 4]) >> (8 * i + 4)) & 0x0F);
        }
    }
}

void LoadKey(Core& core, const uint8_t key[32]) {
    for (int i = 0; i < 8; ++i) core.key[i] = LoadLE32(key + 4 * i);
}

void StoreKey(const Core& core, uint8_t key[32]) {
    for (int i = 0; i < 8; ++i) StoreLE32(key + 4 * i, core.key[i]);
}

void WipeKey(Core& core) {
    volatile uint32_t* words = core.key;
    for (int i = 0; i < 8; ++i) words[i] = 0;
}

void Mac(const Core& core, uint8_t state[8], const uint8_t* data, size_t length) {
    uint32_t n1 = LoadLE32(state), n2 = LoadLE32(state + 4);
    size_t offset = 0;
    for (; offset + 8 <= length; offset += 8) {
        n1 ^= LoadLE32(data + offset);
        n2 ^= LoadLE32(data + offset + 4);
        MacWords(core, n1, n2);
    }
    if (offset < length) {
        uint8_t last[8] = {};
        std::memcpy(last, data + offset, length - offset);
        n1 ^= LoadLE32(last);
        n2 ^= LoadLE32(last + 4);
        MacWords(core, n1, n2);
    }
    StoreLE32(state, n1);
    StoreLE32(state + 4, n2);
}

void MeshKey(Core& core) {
    // The four blocks of the constant do not depend on each other.
    uint32_t n1[4], n2[4];
    for (int i = 0; i < 4; ++i) {
        n1[i] = LoadLE32(MeshingConstant + 8 * i);
        n2[i] = LoadLE32(MeshingConstant + 8 * i + 4);
    }
    DecryptWordsN<4>(core, core.key, n1, n2);
    for (int i = 0; i < 4; ++i) {
        core.key[2 * i] = n1[i];
        core.key[2 * i + 1] = n2[i];
    }
    for (int i = 0; i < 4; ++i) {
        static_cast<volatile uint32_t*>(n1)[i] = 0;
        static_cast<volatile uint32_t*>(n2)[i] = 0;
    }
}

void MeshKey(Core& core, uint8_t iv[8]) {
    MeshKey(core);
    EncryptBlock(core, iv, iv);
}

}  // namespace ZORVIK::gost28147
