#include "service/cryptlib/sym/gost_sbox.h"

#include "service/common/exception.h"
#include "service/common/utilities.h"
#include "service/cryptlib/sym/gost28147_core.h"

namespace ZORVIK {
namespace {

constexpr uint32_t SBoxCount = 11;

// The stored table of each id: ids 1 and 8 name the same one.
constexpr uint8_t TableOfId[SBoxCount] = {0, 1, 2, 3, 4, 5, 6, 7, 1, 8, 9};

// The built-in S-boxes in the core-block layout: row 0 = K8 ... row 7 = K1.
// Sixteen values a row, as the standard prints them.
// clang-format off
constexpr uint8_t StoredSBoxes[10][128] = {
    // 0: GOST R 34.11-94 test parameter set (RFC 5831)
    {
         1, 15, 13,  0,  5,  7, 10,  4,  9,  2,  3, 14,  6, 11,  8, 12,
        13, 11,  4,  1,  3, 15,  5,  9,  0, 10, 14,  7,  6,  8,  2, 12,
         4, 11, 10,  0,  7,  2,  1, 13,  3,  6,  8,  5,  9, 12, 15, 14,
         6, 12,  7,  1,  5, 15, 13,  8,  4, 10,  9, 14,  0,  3, 11,  2,
         7, 13, 10,  1,  0,  8,  9, 15, 14,  4,  6, 12, 11,  2,  5,  3,
         5,  8,  1, 13, 10,  3,  4,  2, 14, 15, 12,  7,  6,  0,  9, 11,
        14, 11,  4, 12,  6, 13, 15, 10,  2,  3,  8,  1,  0,  7,  5,  9,
         4, 10,  9,  2, 13,  8,  0, 14,  6, 11,  1, 12,  7, 15,  5,  3,
    },
    // 1 (and 8): built-in set 1
    {
         7, 14, 12, 13,  9,  4,  8, 15, 10,  2,  6,  0,  3, 11,  5,  1,
         4,  0, 14,  1,  5, 11,  8,  3, 12,  2,  9,  7,  6, 10, 13, 15,
         9,  2, 11, 12,  0,  4,  5,  6,  3, 15, 13,  8,  1,  7, 14, 10,
         0, 14,  6, 11,  9,  3,  8,  4, 12, 15, 10,  5, 13,  7,  1,  2,
        10,  5, 15,  7, 14, 11,  3,  9,  2,  8,  1, 12,  0,  4,  6, 13,
         7,  3,  1,  9,  2,  4, 13, 15,  8, 10, 12,  6,  5,  0, 11, 14,
         1,  7, 14,  9, 11,  3, 15, 12,  0,  5,  4,  6, 13, 10,  8,  2,
        11,  4,  8, 10,  9,  7,  0,  3,  1,  6,  2, 15, 14,  5, 12, 13,
    },
    // 2: GOST 28147-89 CryptoPro A (RFC 4357)
    {
        11, 10, 15,  5,  0, 12, 14,  8,  6,  2,  3,  9,  1,  7, 13,  4,
         1, 13,  2,  9,  7, 10,  6,  0,  8, 12,  4,  5, 15,  3, 11, 14,
         3, 10, 13, 12,  1,  2,  0, 11,  7,  5,  9,  4,  8, 15, 14,  6,
        11,  5,  1,  9,  8, 13, 15,  0, 14,  4,  2,  3, 12,  7, 10,  6,
        14,  7, 10, 12, 13,  1,  3,  9,  0,  2, 11,  4, 15,  8,  5,  6,
        14,  4,  6,  2, 11,  3, 13,  8, 12, 15,  5, 10,  0,  7,  1,  9,
         3,  7, 14,  9,  8, 10, 15,  0,  5,  2,  6, 12, 11,  4, 13,  1,
         9,  6,  3,  2,  8, 11,  1,  7, 10,  4, 14, 15, 12,  0, 13,  5,
    },
    // 3: GOST 28147-89 CryptoPro B (RFC 4357)
    {
         0,  4, 11, 14,  8,  3,  7,  1, 10,  2,  9,  6, 15, 13,  5, 12,
         5,  2, 10, 11,  9,  1, 12,  3,  7,  4, 13,  0,  6, 15,  8, 14,
         8,  3,  2,  6,  4, 13, 14, 11, 12,  1,  7, 15, 10,  0,  9,  5,
         2,  7, 12, 15,  9,  5, 10, 11,  1,  4,  0, 13,  6,  8, 14,  3,
         7,  5,  0, 13, 11,  6,  1,  2,  3, 10, 12, 15,  4, 14,  9,  8,
        14, 12,  0, 10,  9,  2, 13, 11,  7,  5,  8, 15,  3,  6,  1,  4,
         0,  1,  2, 10,  4, 13,  5, 12,  9,  7,  3, 15, 11,  8,  6, 14,
         8,  4, 11,  1,  3,  5,  0,  9,  2, 14, 10, 12, 13,  6,  7, 15,
    },
    // 4: GOST 28147-89 CryptoPro C (RFC 4357)
    {
         7,  4,  0,  5, 10,  2, 15, 14, 12,  6,  1, 11, 13,  9,  3,  8,
        10,  9,  6,  8, 13, 14,  2,  0, 15,  3,  5, 11,  4,  1, 12,  7,
        12,  9, 11,  1,  8, 14,  2,  4,  7,  3,  6,  5, 10,  0, 15, 13,
         8, 13, 11,  0,  4,  5,  1,  2,  9,  3, 12, 14,  6, 15, 10,  7,
         3,  6,  0,  1,  5, 13, 10,  8, 11,  2,  9,  7, 14, 15, 12,  4,
         8,  2,  5,  0,  4,  9, 15, 10,  3,  7, 12, 13,  6, 14,  1, 11,
         0,  1,  7, 13, 11,  4,  5,  2,  8, 14, 15, 12,  9, 10,  6,  3,
         1, 11, 12,  2,  9, 13,  0, 15,  4,  5,  8, 14, 10,  7,  6,  3,
    },
    // 5: GOST 28147-89 CryptoPro D (RFC 4357)
    {
         1, 10,  6,  8, 15, 11,  0,  4, 12,  3,  5,  9,  7, 13,  2, 14,
         3,  0,  6, 15,  1, 14,  9,  2, 13,  8, 12,  4, 11, 10,  5,  7,
         8,  0, 15,  3,  2,  5, 14, 11,  1, 10,  4,  7, 12,  9, 13,  6,
         0, 12,  8,  9, 13,  2, 10, 11,  7,  3,  6,  5,  4, 14, 15,  1,
         1,  5, 14, 12, 10,  7,  0, 13,  6,  2, 11,  4,  9,  3, 15,  8,
         1, 12, 11,  0, 15, 14,  6,  5, 10, 13,  4,  8,  9,  3,  7,  2,
        11,  6,  3,  4, 12, 15, 14,  2,  7, 13,  8,  0,  5, 10,  9,  1,
        15, 12,  2, 10,  6,  4,  5,  0,  7,  9, 14, 13,  1, 11,  8,  3,
    },
    // 6: GOST 28147-89 test parameter set (RFC 4357)
    {
        12,  6,  5,  2, 11,  0,  9, 13,  3, 14,  7, 10, 15,  4,  1,  8,
         9, 11, 12,  0,  3,  6,  7,  5,  4,  8, 14, 15,  1, 10,  2, 13,
         8, 15,  6, 11,  1,  9, 12,  5, 13,  3,  7, 10,  0, 14,  2,  4,
         3, 14,  5,  9,  6,  8,  0, 13, 10, 11,  7, 12,  2,  1, 15,  4,
        14,  9, 11,  2,  5, 15,  7,  1,  0, 13, 12,  6, 10,  4,  3,  8,
        13,  8, 14, 12,  7,  3,  9, 10,  1,  5,  2,  4,  6, 15,  0, 11,
        12,  9, 15, 14,  8,  1,  3, 10,  2,  7,  4, 13,  6,  0, 11,  5,
         4,  2, 15,  5,  9,  1,  0,  8, 14,  3, 11, 12, 13,  7, 10,  6,
    },
    // 7: GOST R 34.11-94 CryptoPro parameter set (RFC 4357)
    {
         1,  3, 10,  9,  5, 11,  4, 15,  8,  6,  7, 14, 13,  0,  2, 12,
        13, 14,  4,  1,  7,  0,  5, 10,  3, 12,  8, 15,  6,  2,  9, 11,
         7,  6,  2,  4, 13,  9, 15,  0, 10,  1,  5, 11,  8, 14, 12,  3,
         7,  6,  4, 11,  9, 12,  2, 10,  1,  8,  0, 14, 15, 13,  3,  5,
         4, 10,  7, 12,  0, 15,  2,  8, 14,  1,  6,  5, 13, 11,  9,  3,
         7, 15, 12, 14,  9,  4,  1,  0,  3, 11,  5,  2,  6, 10,  8, 13,
         5, 15,  4,  0,  2, 13, 11,  9,  1,  7,  6,  3, 12, 14, 10,  8,
        10,  4,  5,  6,  8,  1,  3,  7, 13, 12, 14,  0,  9,  2, 11, 15,
    },
    // table 8, id 9: GOST R 34.11-94 CryptoPro set, rows in the opposite order
    {
        10,  4,  5,  6,  8,  1,  3,  7, 13, 12, 14,  0,  9,  2, 11, 15,
         5, 15,  4,  0,  2, 13, 11,  9,  1,  7,  6,  3, 12, 14, 10,  8,
         7, 15, 12, 14,  9,  4,  1,  0,  3, 11,  5,  2,  6, 10,  8, 13,
         4, 10,  7, 12,  0, 15,  2,  8, 14,  1,  6,  5, 13, 11,  9,  3,
         7,  6,  4, 11,  9, 12,  2, 10,  1,  8,  0, 14, 15, 13,  3,  5,
         7,  6,  2,  4, 13,  9, 15,  0, 10,  1,  5, 11,  8, 14, 12,  3,
        13, 14,  4,  1,  7,  0,  5, 10,  3, 12,  8, 15,  6,  2,  9, 11,
         1,  3, 10,  9,  5, 11,  4, 15,  8,  6,  7, 14, 13,  0,  2, 12,
    },
    // table 9, id 10: GOST R 34.12-2015 pi (RFC 7836 set Z)
    {
         1,  7, 14, 13,  0,  5,  8,  3,  4, 15, 10,  6,  9, 12, 11,  2,
         8, 14,  2,  5,  6,  9,  1, 12, 15,  4, 11,  0, 13, 10,  3,  7,
         5, 13, 15,  6,  9,  2, 12, 10, 11,  7,  8,  1,  4,  3, 14,  0,
         7, 15,  5, 10,  8,  1,  6, 13,  0,  9,  3, 14, 11,  4,  2, 12,
        12,  8,  2,  1, 13,  4, 15,  6,  7,  0, 10,  5,  3, 14,  9, 11,
        11,  3,  5,  8,  2, 15, 10, 13, 14,  1,  7,  4, 12,  9,  6,  0,
         6,  8,  2,  3,  9, 10,  5, 12,  1, 14,  4,  7, 11, 13,  0, 15,
        12,  4,  6,  2, 10,  5, 11,  9, 14,  8, 13,  7,  0,  3, 15,  1,
    },
};
// clang-format on

// An expanded S-box holds one 4-bit value a byte; a larger value would lose
// its high bits in packing and stand for another S-box without a word.
void CheckExpandedValues(const char* function, const binary::Binary& expanded) {
    for (size_t i = 0; i < expanded.size(); ++i) {
        ZORVIK_CHECK_STR(
            function, expanded[i] <= 0x0F,
            "Wrong sbox value: byte " + std::to_string(i) + " is 0x" + NumToHex(expanded[i], 1) + ", expected 0 to 15");
    }
}

}  // namespace

binary::Binary GetSBoxByID(uint32_t id) {
    if (id >= SBoxCount) throw CryptLibException("R3411: unknown sbox", 0, ZORVIK_PLACE("ZORVIK::GetSBoxByID"));
    // Turning the rows round is its own inverse: the stored core block gives the row layout.
    const uint8_t* stored = StoredSBoxes[TableOfId[id]];
    return Cryptocom2Gost(SBoxPack(binary::Binary(stored, stored + 128)));
}

binary::Binary Compress(const binary::Binary& sbox) {
    ZORVIK_CHECK("ZORVIK::Compress", sbox.size() == 128, "Wrong sbox size.");
    CheckExpandedValues("ZORVIK::Compress", sbox);
    binary::Binary out(64);
    for (size_t i = 0; i < 64; ++i) out[i] = uint8_t(sbox[2 * i] << 4 | (sbox[2 * i + 1] & 0x0F));
    return out;
}

binary::Binary Uncompress(const binary::Binary& sbox) {
    ZORVIK_CHECK("ZORVIK::Uncompress", sbox.size() == 64, "Wrong sbox size.");
    binary::Binary out(128);
    for (size_t i = 0; i < 64; ++i) {
        out[2 * i] = sbox[i] >> 4;
        out[2 * i + 1] = sbox[i] & 0x0F;
    }
    return out;
}

binary::Binary Gost2Cryptocom(const binary::Binary& sbox) {
    ZORVIK_CHECK("ZORVIK::Gost2Cryptocom", sbox.size() == 64 || sbox.size() == 128, "Wrong sbox size");
    if (sbox.size() == 128) CheckExpandedValues("ZORVIK::Gost2Cryptocom", sbox);
    const binary::Binary expanded = sbox.size() == 64 ? Uncompress(sbox) : sbox;
    binary::Binary rows(128);
    for (int x = 0; x < 16; ++x)
        for (int r = 0; r < 8; ++r) rows[16 * (7 - r) + x] = expanded[8 * x + r] & 0x0F;
    return rows;
}

binary::Binary Cryptocom2Gost(const binary::Binary& sbox) {
    ZORVIK_CHECK("ZORVIK::Cryptocom2Gost", sbox.size() == 128, "Wrong sbox size");
    binary::Binary expanded(128);
    for (int x = 0; x < 16; ++x)
        for (int r = 0; r < 8; ++r) expanded[8 * x + r] = sbox[16 * (7 - r) + x] & 0x0F;
    return Compress(expanded);
}

binary::Binary SBoxPack(const binary::Binary& sbox) {
    ZORVIK_CHECK("ZORVIK::SBoxPack", sbox.size() == 128, "Wrong sbox size.");
    binary::Binary out(128);
    for (int j = 0; j < 8; ++j)
        for (int x = 0; x < 16; ++x) out[16 * j + x] = sbox[16 * (7 - j) + x];
    return out;
}

binary::Binary SBoxUnpack(const gost28147::Core& core) {
    binary::Binary rows(128);
    gost28147::ReadSBox(core, rows.data());
    return rows;
}

void LoadStandardSBox(gost28147::Core& core, const binary::Binary& sbox) {
    const binary::Binary block = SBoxPack(Gost2Cryptocom(sbox));
    gost28147::LoadSBox(core, block.data());
}

binary::Binary ReadStandardSBox(const gost28147::Core& core) { return Cryptocom2Gost(SBoxUnpack(core)); }

}  // namespace ZORVIK
