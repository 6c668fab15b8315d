// The S-boxes of the GOST 28147-89 family: the built-in parameter sets selected by a
// small id, and the conversions between the layouts in which an S-box is exchanged.
//
// Layouts (K1 acts on the least significant nibble of a word, K8 on the most):
//   standard compressed  64 bytes: per input x, the 4 bytes K8K7 K6K5 K4K3 K2K1
//   standard expanded   128 bytes: per input x, the 8 bytes K8 K7 ... K1
//   row layout          128 bytes: 8 rows of 16 values, K1 first
//   core block          128 bytes: the row layout with K8 first
#pragma once

#include <cstdint>

#include "service/common/binary.h"

namespace ZORVIK {

namespace gost28147 {
struct Core;
}

// Ids 0..10 (see gost_sbox.cpp for the table); the result is standard compressed.
binary::Binary GetSBoxByID(uint32_t id);

binary::Binary Compress(const binary::Binary& sbox);        // expanded -> compressed
binary::Binary Uncompress(const binary::Binary& sbox);      // compressed -> expanded
binary::Binary Gost2Cryptocom(const binary::Binary& sbox);  // standard (64 or 128) -> row layout
binary::Binary Cryptocom2Gost(const binary::Binary& sbox);  // row layout -> standard compressed
binary::Binary SBoxPack(const binary::Binary& sbox);        // row layout -> core block
binary::Binary SBoxUnpack(const gost28147::Core& core);     // core tables -> row layout

// The chains between the standard layout (64 or 128 bytes) and the tables of a
// GOST 28147-89 core: Gost2Cryptocom, SBoxPack and the core's load; the core's
// read-back, then Cryptocom2Gost (standard compressed).
void LoadStandardSBox(gost28147::Core& core, const binary::Binary& sbox);
binary::Binary ReadStandardSBox(const gost28147::Core& core);

}  // namespace ZORVIK
