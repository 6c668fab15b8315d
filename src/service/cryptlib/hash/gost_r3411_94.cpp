#include "service/cryptlib/hash/gost_r3411_94.h"

#include <algorithm>
#include <cstring>

#include "service/common/exception.h"
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

// All 256-bit values are byte strings with the least significant byte first.

// RFC 5831, 6.1: A(y4|y3|y2|y1) = (y1 xor y2)|y4|y3|y2 over 64-bit words.
void TransformA(uint8_t y[32]) {
    uint8_t low[8];
    std::memcpy(low, y, 8);
    std::memmove(y, y + 8, 24);
    for (int i = 0; i < 8; ++i) y[24 + i] = low[i] ^ y[i];
}

// RFC 5831, 6.1: P, byte i + 1 + 4(k - 1) of the result is byte 8i + k of the input.
void TransformP(const uint8_t w[32], uint8_t key[32]) {
    for (int i = 0; i < 4; ++i)
        for (int k = 0; k < 8; ++k) key[i + 4 * k] = w[8 * i + k];
}

// RFC 5831, 6.1: the constant C3 (C2 = C4 = 0), least significant byte first.
constexpr uint8_t C3[32] = {
    0x00, 0xFF, 0x00, 0xFF, 0x00, 0xFF, 0x00, 0xFF, 0xFF, 0x00, 0xFF, 0x00, 0xFF, 0x00, 0xFF, 0x00,
    0x00, 0xFF, 0xFF, 0x00, 0xFF, 0x00, 0x00, 0xFF, 0xFF, 0x00, 0x00, 0x00, 0xFF, 0xFF, 0x00, 0xFF,
};

inline uint16_t LoadLE16(const uint8_t* p) { return uint16_t(p[0] | p[1] << 8); }

// The step function f(H, M) of RFC 5831, 6: key generation, four encipherments of
// the 64-bit words of H, and H' = psi^61(H xor psi(M xor psi^12(S))).
void Step(const gost28147::Core& core, uint8_t H[32], const uint8_t M[32]) {
    uint8_t U[32], V[32], W[32], key[32], S[32];
    std::memcpy(U, H, 32);
    std::memcpy(V, M, 32);
    for (int j = 0; j < 4; ++j) {
        if (j > 0) {
            TransformA(U);
            if (j == 2)
                for (int i = 0; i < 32; ++i) U[i] ^= C3[i];
            TransformA(V);
            TransformA(V);
        }
        for (int i = 0; i < 32; ++i) W[i] = U[i] ^ V[i];
        TransformP(W, key);
        uint32_t k[8];
        for (int i = 0; i < 8; ++i) k[i] = gost28147::LoadLE32(key + 4 * i);
        uint32_t n1 = gost28147::LoadLE32(H + 8 * j), n2 = gost28147::LoadLE32(H + 8 * j + 4);
        gost28147::EncryptWords(core, k, n1, n2);
        gost28147::StoreLE32(S + 8 * j, n1);
        gost28147::StoreLE32(S + 8 * j + 4, n2);
    }
    // psi shifts the 16 words of a value down by one and feeds in y1^y2^y3^y4^y13^y16:
    // a linear recurrence, so psi^n(Y) is the window w[n..n+15] of its sequence.
    uint16_t w[16 + 12 + 1 + 61];
    for (int i = 0; i < 16; ++i) w[i] = LoadLE16(S + 2 * i);
    int at = 0;
    auto shift = [&](int times) {
        for (int t = 0; t < times; ++t, ++at)
            w[at + 16] = w[at] ^ w[at + 1] ^ w[at + 2] ^ w[at + 3] ^ w[at + 12] ^ w[at + 15];
    };
    shift(12);
    for (int i = 0; i < 16; ++i) w[at + i] ^= LoadLE16(M + 2 * i);
    shift(1);
    for (int i = 0; i < 16; ++i) w[at + i] ^= LoadLE16(H + 2 * i);
    shift(61);
    for (int i = 0; i < 16; ++i) {
        H[2 * i] = uint8_t(w[at + i]);
        H[2 * i + 1] = uint8_t(w[at + i] >> 8);
    }
}

// Sum modulo 2^256 of two least-significant-first values.
void AddTo(uint8_t sum[32], const uint8_t value[32]) {
    unsigned carry = 0;
    for (int i = 0; i < 32; ++i) {
        carry += unsigned(sum[i]) + value[i];
        sum[i] = uint8_t(carry);
        carry >>= 8;
    }
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
        Step(*state.cipher, state.H, state.remainder);
        AddTo(state.S, state.remainder);
        state.len += 32;
        state.left = 0;
    }
    for (; length >= 32; data += 32, length -= 32) {
        Step(*state.cipher, state.H, data);
        AddTo(state.S, data);
        state.len += 32;
    }
    std::memcpy(state.remainder, data, length);
    state.left = uint32_t(length);
}

// RFC 5831, 7 stage 3, on copies of H and S so that the message may go on.
binary::Binary Finish(const R3411::State& state) {
    uint8_t H[32], S[32], block[32] = {};
    std::memcpy(H, state.H, 32);
    std::memcpy(S, state.S, 32);
    uint64_t length = uint64_t(state.len);
    if (state.left != 0) {
        std::memcpy(block, state.remainder, state.left);
        Step(*state.cipher, H, block);
        AddTo(S, block);
        length += state.left;
    } else if (length == 0) {
        // The empty message is one zero block.
        Step(*state.cipher, H, block);
    }
    uint8_t bits[32] = {};
    const uint64_t low = length << 3;
    for (int i = 0; i < 8; ++i) bits[i] = uint8_t(low >> (8 * i));
    bits[8] = uint8_t(length >> 61);
    Step(*state.cipher, H, bits);
    Step(*state.cipher, H, S);
    return binary::Binary(H, H + 32);
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
    const binary::Binary reversed(data.rbegin(), data.rend());
    AddBytes(*m_state, reversed.data(), reversed.size());
    binary::Binary digest = Finish(*m_state);
    std::reverse(digest.begin(), digest.end());
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
