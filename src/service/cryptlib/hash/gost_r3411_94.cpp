#include "service/cryptlib/hash/gost_r3411_94.h"

#include <algorithm>
#include <bit>
#include <cstring>

#include "service/common/exception.h"
#include "service/cryptlib/byte_order.h"
#include "service/cryptlib/sym/gost28147_core.h"
#include "service/cryptlib/sym/gost_sbox.h"

namespace ZORVIK {

struct R3411::State {
    int64_t len = 0;
    std::unique_ptr<gost28147::Core> cipher;
    uint32_t left = 0;
    uint8_t H[32] = {};
    uint8_t S[32] = {};
    uint8_t remainder[32] = {};

    void Start() {
        len = 0;
        left = 0;
        std::memset(H, 0, 32);
        std::memset(S, 0, 32);
        std::memset(remainder, 0, 32);
    }
};

namespace {

// Inside the step function a 256-bit value is four 64-bit words, word 0 the least
// significant (bytes 0-7 of the least-significant-first byte string).
struct Value {
    uint64_t word[4];
};

inline uint64_t LoadLE64(const uint8_t* p) {
    return uint64_t(gost28147::LoadLE32(p)) | uint64_t(gost28147::LoadLE32(p + 4)) << 32;
}

inline void StoreLE64(uint8_t* p, uint64_t v) {
    gost28147::StoreLE32(p, uint32_t(v));
    gost28147::StoreLE32(p + 4, uint32_t(v >> 32));
}

Value LoadValue(const uint8_t bytes[32]) {
    return Value{{LoadLE64(bytes), LoadLE64(bytes + 8), LoadLE64(bytes + 16), LoadLE64(bytes + 24)}};
}

void StoreValue(const Value& value, uint8_t bytes[32]) {
    for (int i = 0; i < 4; ++i) StoreLE64(bytes + 8 * i, value.word[i]);
}

// RFC 5831, 6.1: A(y4|y3|y2|y1) = (y1 xor y2)|y4|y3|y2 over 64-bit words.
inline Value TransformA(const Value& y) { return Value{{y.word[1], y.word[2], y.word[3], y.word[0] ^ y.word[1]}}; }

// RFC 5831, 6.1: the constant C3 (C2 = C4 = 0).
constexpr Value C3 = {{0xFF00FF00FF00FF00ULL, 0x00FF00FF00FF00FFULL, 0xFF0000FF00FFFF00ULL, 0xFF00FFFF000000FFULL}};

// RFC 5831, 6.1: the key P(W): byte i + 1 + 4(k - 1) of it is byte 8i + k of W, so
// key word k (least significant byte first) gathers byte k of each 64-bit word of
// W, a transposition of 4 x 8 bytes done with masks: first the byte pairs of
// words 0 and 1 (and 2 and 3) for even and odd k in 16-bit lanes, then the
// pairs joined into 32-bit lanes.
inline void TransformP(const Value& w, uint32_t key[8]) {
    constexpr uint64_t Bytes = 0x00FF00FF00FF00FFULL, Pairs = 0x0000FFFF0000FFFFULL;
    const uint64_t even01 = (w.word[0] & Bytes) | (w.word[1] & Bytes) << 8;
    const uint64_t odd01 = (w.word[0] >> 8 & Bytes) | (w.word[1] & ~Bytes);
    const uint64_t even23 = (w.word[2] & Bytes) | (w.word[3] & Bytes) << 8;
    const uint64_t odd23 = (w.word[2] >> 8 & Bytes) | (w.word[3] & ~Bytes);
    // Lane m of even01 holds k = 2m; 32-bit lanes of these hold k = 0, 4 / 2, 6 / 1, 5 / 3, 7.
    const uint64_t k04 = (even01 & Pairs) | (even23 & Pairs) << 16;
    const uint64_t k26 = (even01 >> 16 & Pairs) | (even23 & ~Pairs);
    const uint64_t k15 = (odd01 & Pairs) | (odd23 & Pairs) << 16;
    const uint64_t k37 = (odd01 >> 16 & Pairs) | (odd23 & ~Pairs);
    key[0] = uint32_t(k04);
    key[4] = uint32_t(k04 >> 32);
    key[2] = uint32_t(k26);
    key[6] = uint32_t(k26 >> 32);
    key[1] = uint32_t(k15);
    key[5] = uint32_t(k15 >> 32);
    key[3] = uint32_t(k37);
    key[7] = uint32_t(k37 >> 32);
}

// The sixteen 16-bit words of a value, least significant first.
inline void SplitWords(const Value& value, uint16_t words[16]) {
    if constexpr (std::endian::native == std::endian::little) {
        std::memcpy(words, value.word, 32);
    } else {
        for (int i = 0; i < 16; ++i) words[i] = uint16_t(value.word[i / 4] >> (16 * (i % 4)));
    }
}

// psi (RFC 5831, 6.1) shifts the sixteen 16-bit words of a value down by one and
// feeds in y1^y2^y3^y4^y13^y16. It is linear, so the step's result
// psi^61(H xor psi(M xor psi^12(S))) is a fixed XOR of the words of H, M and S.
// Mask j says which: bits 0-15 the words of H, 16-31 of M, 32-47 of S. Running
// the recurrence once on the masks at compile time leaves sixteen independent
// XOR sums in place of a 74-step chain.
struct PsiMasks {
    uint64_t word[16];
};

constexpr PsiMasks MakePsiMasks() {
    uint64_t w[16 + 12 + 1 + 61] = {};
    for (int i = 0; i < 16; ++i) w[i] = uint64_t(1) << (32 + i);
    int at = 0;
    auto shift = [&](int times) {
        for (int t = 0; t < times; ++t, ++at)
            w[at + 16] = w[at] ^ w[at + 1] ^ w[at + 2] ^ w[at + 3] ^ w[at + 12] ^ w[at + 15];
    };
    shift(12);
    for (int i = 0; i < 16; ++i) w[at + i] ^= uint64_t(1) << (16 + i);
    shift(1);
    for (int i = 0; i < 16; ++i) w[at + i] ^= uint64_t(1) << i;
    shift(61);
    PsiMasks masks = {};
    for (int j = 0; j < 16; ++j) masks.word[j] = w[at + j];
    return masks;
}

constexpr PsiMasks Psi = MakePsiMasks();

// Output word J: the XOR of the input words that mask J selects (the unselected
// terms are constant zeros that the compiler drops).
template <size_t J, size_t... I>
inline uint16_t PsiWord(const uint16_t* in, std::index_sequence<I...>) {
    return uint16_t((0u ^ ... ^ ((Psi.word[J] >> I & 1) != 0 ? unsigned(in[I]) : 0u)));
}

template <size_t... J>
inline Value PsiAll(const uint16_t* in, std::index_sequence<J...>) {
    const uint16_t out[16] = {PsiWord<J>(in, std::make_index_sequence<48>())...};
    Value result;
    for (int i = 0; i < 4; ++i) {
        result.word[i] = uint64_t(out[4 * i]) | uint64_t(out[4 * i + 1]) << 16 | uint64_t(out[4 * i + 2]) << 32 |
                         uint64_t(out[4 * i + 3]) << 48;
    }
    return result;
}

// The step function f(H, M) of RFC 5831, 6: key generation, four encipherments of
// the 64-bit words of H, and H' = psi^61(H xor psi(M xor psi^12(S))).
Value Step(const gost28147::Core& core, const Value& H, const Value& M) {
    // 6.1: K1 = P(H xor M); U := A(U) (xor C3 before K3), V := A(A(V)) for the next.
    uint32_t keys[4][8];
    Value U = H, V = M;
#pragma GCC unroll 4
    for (int j = 0; j < 4; ++j) {
        if (j > 0) {
            U = TransformA(U);
            if (j == 2)
                for (int i = 0; i < 4; ++i) U.word[i] ^= C3.word[i];
            V = TransformA(TransformA(V));
        }
        Value W;
        for (int i = 0; i < 4; ++i) W.word[i] = U.word[i] ^ V.word[i];
        TransformP(W, keys[j]);
    }
    // 6.2: the four words of H enciphered each under its own key. They do not
    // depend on each other, so they run interleaved.
    uint32_t n1[4], n2[4];
    for (int j = 0; j < 4; ++j) {
        n1[j] = uint32_t(H.word[j]);
        n2[j] = uint32_t(H.word[j] >> 32);
    }
    gost28147::CryptWordsN<4, 8>(core, keys[0], gost28147::EncryptOrder, n1, n2);
    Value S;
    for (int j = 0; j < 4; ++j) S.word[j] = uint64_t(n1[j]) | uint64_t(n2[j]) << 32;
    // 6.3: the shuffle over the 16-bit words of H, M and S.
    uint16_t words[48];
    SplitWords(H, words);
    SplitWords(M, words + 16);
    SplitWords(S, words + 32);
    return PsiAll(words, std::make_index_sequence<16>());
}

// Sum modulo 2^256.
void AddTo(Value& sum, const Value& value) {
    uint64_t carry = 0;
    for (int i = 0; i < 4; ++i) {
        const uint64_t partial = sum.word[i] + carry;
        const uint64_t carryIn = partial < carry;
        sum.word[i] = partial + value.word[i];
        carry = carryIn | (sum.word[i] < partial);
    }
}

// Compresses whole 32-byte blocks into H and S, kept as words for the run.
void CompressBlocks(R3411::State& state, const uint8_t* data, size_t blocks) {
    Value H = LoadValue(state.H), S = LoadValue(state.S);
    for (size_t b = 0; b < blocks; ++b, data += 32) {
        const Value M = LoadValue(data);
        H = Step(*state.cipher, H, M);
        AddTo(S, M);
    }
    StoreValue(H, state.H);
    StoreValue(S, state.S);
    state.len += int64_t(32 * blocks);
}

void AddBytes(R3411::State& state, const uint8_t* data, size_t length) {
    if (length == 0) return;  // empty data may come with a null pointer
    if (state.left != 0) {
        const size_t take = std::min<size_t>(32 - state.left, length);
        std::memcpy(state.remainder + state.left, data, take);
        state.left += uint32_t(take);
        data += take;
        length -= take;
        if (state.left < 32) return;
        CompressBlocks(state, state.remainder, 1);
        state.left = 0;
    }
    CompressBlocks(state, data, length / 32);
    data += length / 32 * 32;
    length %= 32;
    std::memcpy(state.remainder, data, length);
    state.left = uint32_t(length);
}

// RFC 5831, 7 stage 3, on copies of H and S so that the message may go on.
binary::Binary Finish(const R3411::State& state) {
    Value H = LoadValue(state.H), S = LoadValue(state.S);
    uint64_t length = uint64_t(state.len);
    if (state.left != 0) {
        uint8_t block[32] = {};
        std::memcpy(block, state.remainder, state.left);
        const Value M = LoadValue(block);
        H = Step(*state.cipher, H, M);
        AddTo(S, M);
        length += state.left;
    } else if (length == 0) {
        // The empty message is one zero block.
        H = Step(*state.cipher, H, Value{});
    }
    // L in bits, least significant first.
    H = Step(*state.cipher, H, Value{{length << 3, length >> 61, 0, 0}});
    H = Step(*state.cipher, H, S);
    binary::Binary digest(32);
    StoreValue(H, digest.data());
    return digest;
}

const char* const NoState = "Hash context is not initialized.";
const char* const NoCipher = "Cipher context is not initialized.";

}  // namespace

R3411::R3411(uint32_t sboxId, bool reverse) : m_reverse(reverse), m_state(std::make_unique<State>()) {
    m_state->cipher = std::make_unique<gost28147::Core>();
    LoadStandardSBox(*m_state->cipher, GetSBoxByID(sboxId));
    m_state->Start();
}

R3411::R3411(const R3411& other) : Hash(other), m_reverse(other.m_reverse), m_state(std::make_unique<State>()) {
    m_state->cipher = std::make_unique<gost28147::Core>();
    LoadStandardSBox(*m_state->cipher, other.GetSBox());
    m_state->len = other.m_state->len;
    m_state->left = other.m_state->left;
    std::memcpy(m_state->H, other.m_state->H, 32);
    std::memcpy(m_state->S, other.m_state->S, 32);
    std::memcpy(m_state->remainder, other.m_state->remainder, 32);
}

R3411::~R3411() = default;

std::unique_ptr<Hash> R3411::Clone() const { return std::make_unique<R3411>(*this); }

binary::Binary R3411::Calc(const binary::Binary& data) {
    m_state->Start();
    if (!m_reverse) {
        AddBytes(*m_state, data.data(), data.size());
        return Finish(*m_state);
    }
    const binary::Binary reversed = cryptlib::Reversed(data);
    AddBytes(*m_state, reversed.data(), reversed.size());
    binary::Binary digest = Finish(*m_state);
    cryptlib::Reverse(digest);
    return digest;
}

void R3411::Reset() {
    m_state->Start();
    m_reverse = false;
}

void R3411::Input(const binary::Binary& data) {
    ZORVIK_CHECK("ZORVIK::R3411::Input", !m_reverse, "Incremental mode is not supported if reverse = true.");
    AddBytes(*m_state, data.data(), data.size());
}

binary::Binary R3411::Result() { return Finish(*m_state); }

binary::Binary R3411::GetContext() const {
    ZORVIK_CHECK("ZORVIK::R3411::GetContext", m_state != nullptr, "Context is not initialized.");
    ZORVIK_CHECK("ZORVIK::R3411::GetContext", m_state->cipher != nullptr, NoCipher);
    binary::Binary context(ContextSize);
    for (int i = 0; i < 8; ++i) context[i] = uint8_t(uint64_t(m_state->len) >> (8 * i));
    gost28147::StoreLE32(context.data() + 8, m_state->left);
    std::memcpy(context.data() + 12, m_state->H, 32);
    std::memcpy(context.data() + 44, m_state->S, 32);
    std::memcpy(context.data() + 76, m_state->remainder, 32);
    return context;
}

void R3411::SetContext(const binary::Binary& context) {
    ZORVIK_CHECK("ZORVIK::R3411::SetContext", m_state != nullptr, NoState);
    ZORVIK_CHECK("ZORVIK::R3411::SetContext", m_state->cipher != nullptr, NoCipher);
    ZORVIK_CHECK("ZORVIK::R3411::SetContext", context.size() >= ContextSize, "Wrong hash context size");
    uint64_t len = 0;
    for (int i = 0; i < 8; ++i) len |= uint64_t(context[i]) << (8 * i);
    const uint32_t left = gost28147::LoadLE32(context.data() + 8);
    // A pending count past the 32-byte block would overrun it on the next Input.
    ZORVIK_CHECK_STR("ZORVIK::R3411::SetContext", left < 32,
                     "Invalid pending byte count in hash context: " + std::to_string(left) + ", expected 0..31");
    m_state->len = int64_t(len);
    m_state->left = left;
    std::memcpy(m_state->H, context.data() + 12, 32);
    std::memcpy(m_state->S, context.data() + 44, 32);
    std::memcpy(m_state->remainder, context.data() + 76, 32);
}

binary::Binary R3411::GetSBox() const {
    ZORVIK_CHECK("ZORVIK::R3411::GetSBox", m_state != nullptr, NoState);
    ZORVIK_CHECK("ZORVIK::R3411::GetSBox", m_state->cipher != nullptr, NoCipher);
    return ReadStandardSBox(*m_state->cipher);
}

void R3411::SetSBox(const binary::Binary& sbox) {
    ZORVIK_CHECK("ZORVIK::R3411::SetSBox", m_state != nullptr, NoState);
    ZORVIK_CHECK("ZORVIK::R3411::SetSBox", m_state->cipher != nullptr, NoCipher);
    LoadStandardSBox(*m_state->cipher, sbox);
}

}  // namespace ZORVIK
