#include "service/cryptlib/sym/gost28147.h"

#include <algorithm>
#include <cstring>

#include "service/common/exception.h"
#include "service/cryptlib/sym/gost28147_core.h"
#include "service/cryptlib/sym/gost_block_modes.h"
#include "service/cryptlib/sym/gost_sbox.h"

namespace ZORVIK {

using binary::Binary;

namespace {

constexpr size_t BlockSize = 8;
constexpr size_t KeySize = 32;
// RFC 4357, 2.3.2: the key changes after every 1024 bytes processed under it.
constexpr size_t MeshingInterval = 1024;

enum : uint32_t { ModeEcb = 1, ModeCbc = 2, ModeCounter = 3, ModeCfb = 4 };

using gost28147::Lanes;
using Block = gost28147::LittleEndianBlock;

// The core context of the free functions: the S-box and key of the caller,
// the key words wiped when it goes.
struct TemporaryCore {
    gost28147::Core core;
    TemporaryCore(const uint8_t* key, const uint8_t* sbox) {
        LoadStandardSBox(core, Binary(sbox, sbox + 64));
        gost28147::LoadKey(core, key);
    }
    ~TemporaryCore() { gost28147::WipeKey(core); }
};

// RFC 5830, 6.3: the counter register steps by C1 = 0x01010101 modulo 2^32 and
// C2 = 0x01010104 modulo 2^32 - 1.
void StepCounter(uint32_t& n1, uint32_t& n2) {
    n1 += 0x01010101u;
    const uint64_t sum = uint64_t(n2) + 0x01010104u;
    n2 = uint32_t(sum) + uint32_t(sum >> 32);
}

void XorGamma(uint8_t* data, size_t length, uint32_t n1, uint32_t n2) {
    if (length == BlockSize) {
        gost28147::StoreLE32(data, gost28147::LoadLE32(data) ^ n1);
        gost28147::StoreLE32(data + 4, gost28147::LoadLE32(data + 4) ^ n2);
        return;
    }
    uint8_t gamma[BlockSize];
    gost28147::StoreLE32(gamma, n1);
    gost28147::StoreLE32(gamma + 4, n2);
    for (size_t i = 0; i < length; ++i) data[i] ^= gamma[i];
}

// The gamma of the counter mode over data from the register that the next
// piece uses (each piece of up to 8 bytes consumes one register value); on
// return the register holds the value for a following piece, and last (when
// given) the last register used.
void CounterRun(const gost28147::Core& core, uint32_t& n1, uint32_t& n2, uint8_t* data, size_t length,
                uint32_t* last = nullptr) {
    size_t at = 0;
    for (; length - at >= Lanes * BlockSize; at += Lanes * BlockSize) {
        uint32_t r1[Lanes], r2[Lanes];
        for (int i = 0; i < Lanes; ++i) {
            r1[i] = n1;
            r2[i] = n2;
            StepCounter(n1, n2);
        }
        if (last != nullptr) {
            last[0] = r1[Lanes - 1];
            last[1] = r2[Lanes - 1];
        }
        gost28147::EncryptWordsN<Lanes>(core, core.key, r1, r2);
        for (int i = 0; i < Lanes; ++i) XorGamma(data + at + BlockSize * i, BlockSize, r1[i], r2[i]);
    }
    for (; at < length; at += BlockSize) {
        uint32_t g1 = n1, g2 = n2;
        if (last != nullptr) {
            last[0] = n1;
            last[1] = n2;
        }
        gost28147::EncryptWords(core, core.key, g1, g2);
        XorGamma(data + at, std::min(BlockSize, length - at), g1, g2);
        StepCounter(n1, n2);
    }
}

// RFC 5830, 6.4: the gamma of each block is the encipherment of the previous
// ciphertext block (the IV for the first). A partial last piece leaves its
// ciphertext bytes in front of the rest of its gamma in iv.
void CfbRun(const gost28147::Core& core, uint8_t* p, size_t length, uint8_t iv[BlockSize], bool encrypt) {
    const size_t whole = length / BlockSize * BlockSize;
    gost28147::ChainedBlocks<Block>(true, encrypt, core, core.key, p, p, whole, iv, iv);
    if (whole < length) {
        gost28147::EncryptBlock(core, iv, iv);
        for (size_t at = whole; at < length; ++at) {
            const uint8_t in = p[at];
            p[at] = in ^ iv[at - whole];
            iv[at - whole] = encrypt ? p[at] : in;
        }
    }
}

// The mode of Process over a range, in place, after its checks.
void RunMode(const gost28147::Core& core, uint8_t* p, size_t length, uint8_t iv[BlockSize], uint32_t mode,
             bool encrypt) {
    switch (mode) {
        case ModeEcb: gost28147::EcbBlocks<Block>(core, core.key, p, p, length, encrypt); break;
        case ModeCbc: gost28147::ChainedBlocks<Block>(false, encrypt, core, core.key, p, p, length, iv, iv); break;
        case ModeCounter: {
            // RFC 5830, 6.3: the register starts as the encipherment of the IV and
            // steps before each piece; iv then holds the value for a further piece.
            uint32_t n1 = gost28147::LoadLE32(iv), n2 = gost28147::LoadLE32(iv + 4);
            gost28147::EncryptWords(core, core.key, n1, n2);
            StepCounter(n1, n2);
            CounterRun(core, n1, n2, p, length);
            gost28147::StoreLE32(iv, n1);
            gost28147::StoreLE32(iv + 4, n2);
            break;
        }
        case ModeCfb: CfbRun(core, p, length, iv, encrypt); break;
        default: break;
    }
}

void CheckIv8(const char* function, const Binary& iv, const char* message) {
    ZORVIK_CHECK(function, iv.size() == BlockSize, message);
}

}  // namespace

// ---- Construction

GOST28147::GOST28147(const Binary& key, const Binary& sbox, uint32_t ccsPadding, uint32_t ccsMode, uint32_t ccsSize)
    : BlockCipher(ccsPadding, ccsMode, BlockSize), m_core(std::make_unique<gost28147::Core>()), m_ccsSize(ccsSize) {
    const char* function = "ZORVIK::GOST28147::GOST28147";
    ZORVIK_CHECK(function, !key.empty(), "Invalid key len");
    ZORVIK_CHECK(function, !sbox.empty(), "Invalid sbox len");
    ZORVIK_CHECK(function, ccsSize <= 8, "Invalid ccs size");
    SetSBox(sbox);
    SetKey(key);
}

GOST28147::GOST28147(const Binary& key, uint32_t sboxId, uint32_t ccsPadding, uint32_t ccsMode, uint32_t ccsSize)
    : BlockCipher(ccsPadding, ccsMode, BlockSize), m_core(std::make_unique<gost28147::Core>()), m_ccsSize(ccsSize) {
    const char* function = "ZORVIK::GOST28147::GOST28147";
    ZORVIK_CHECK(function, !key.empty(), "Invalid key len");
    ZORVIK_CHECK(function, ccsSize <= 8, "Invalid ccs size");
    LoadStandardSBox(*m_core, GetSBoxByID(sboxId));
    SetKey(key);
}

GOST28147::GOST28147(const GOST28147& other)
    : BlockCipher(other),
      m_core(std::make_unique<gost28147::Core>()),
      m_meshingMode(other.m_meshingMode),
      m_ccsSize(other.m_ccsSize) {
    SetSBox(other.GetSBox());
    LoadKey(other.GetKey());
}

GOST28147::~GOST28147() = default;

std::unique_ptr<BlockCipher> GOST28147::Clone(const Binary& newKey) const {
    ZORVIK_CHECK("ZORVIK::GOST28147::Clone", newKey.empty() || newKey.size() == KeySize, "Wrong key length.");
    auto copy = std::make_unique<GOST28147>(*this);
    if (!newKey.empty()) copy->LoadKey(newKey);
    return copy;
}

// ---- Key and S-box

Binary GOST28147::GetKey() const {
    ZORVIK_CHECK("ZORVIK::GOST28147::GetKey", m_core != nullptr, "Cipher context is not initialized.");
    Binary key(KeySize);
    gost28147::StoreKey(*m_core, key.data());
    return key;
}

void GOST28147::SetKey(const Binary& key) {
    ZORVIK_CHECK("ZORVIK::GOST28147::SetKey", key.size() == KeySize, "Invalid key length");
    gost28147::LoadKey(*m_core, key.data());
}

void GOST28147::LoadKey(const Binary& key) {
    // Reading 32 bytes out of a shorter key would run past it.
    ZORVIK_CHECK("ZORVIK::GOST28147::LoadKey", key.size() == KeySize, "Invalid key length");
    gost28147::LoadKey(*m_core, key.data());
}

Binary GOST28147::GetSBox() const { return ReadStandardSBox(*m_core); }

void GOST28147::SetSBox(const Binary& sbox) { LoadStandardSBox(*m_core, sbox); }

void GOST28147::SetMeshingMode(uint32_t meshingMode) {
    ZORVIK_CHECK_STR("ZORVIK::GOST28147::SetMeshingMode", meshingMode <= MESHING_KEY_ONLY,
                     "Invalid meshing mode " + std::to_string(meshingMode) + ", expected 0, 1 or 2");
    m_meshingMode = meshingMode;
}

void GOST28147::MeshKey(Binary& iv) {
    if (m_meshingMode == MESHING_NONE) return;
    CheckIv8("ZORVIK::GOST28147::MeshKey", iv, "Invalid iv length");
    if (m_meshingMode == MESHING_CRYPTOPRO) {
        gost28147::MeshKey(*m_core, iv.data());
    } else {
        gost28147::MeshKey(*m_core);  // the IV's encipherment would be thrown away
    }
}

// ---- Blocks and modes

void GOST28147::EncryptBlock(uint8_t* block) { gost28147::EncryptBlock(*m_core, block, block); }

void GOST28147::DecryptBlock(uint8_t* block) { gost28147::DecryptBlock(*m_core, block, block); }

void GOST28147::Process(Binary& data, Binary& iv, uint32_t mode, uint32_t enc) {
    const char* function = "ZORVIK::GOST28147::Process";
    ZORVIK_CHECK(function, enc <= 1, "Invalid enc");
    ZORVIK_CHECK(function, iv.size() == BlockSize, "Invalid iv");
    if (data.empty() || mode < ModeEcb || mode > ModeCfb) return;
    // ECB and CBC over a partial block would leave its bytes in the clear.
    if (mode == ModeEcb || mode == ModeCbc)
        ZORVIK_CHECK(function, data.size() % BlockSize == 0, "Data must be aligned");

    RunMode(*m_core, data.data(), data.size(), iv.data(), mode, enc == 1);
}

namespace {

// Counter mode with CryptoPro key meshing as RFC 4357 and CryptoPro peers run it:
// after every 1024 bytes the key is meshed and the last register used is
// re-enciphered under the new key; counting then goes on from it.
void CounterWithCryptoProMeshing(gost28147::Core& core, const Binary& iv, Binary& data) {
    // The last register used: before the first piece, the encipherment of the IV.
    uint32_t last[2] = {gost28147::LoadLE32(iv.data()), gost28147::LoadLE32(iv.data() + 4)};
    gost28147::EncryptWords(core, core.key, last[0], last[1]);
    for (size_t at = 0; at < data.size(); at += MeshingInterval) {
        if (at != 0) {
            uint8_t reg[BlockSize];
            gost28147::StoreLE32(reg, last[0]);
            gost28147::StoreLE32(reg + 4, last[1]);
            gost28147::MeshKey(core, reg);
            last[0] = gost28147::LoadLE32(reg);
            last[1] = gost28147::LoadLE32(reg + 4);
        }
        uint32_t n1 = last[0], n2 = last[1];
        StepCounter(n1, n2);
        CounterRun(core, n1, n2, data.data() + at, std::min(MeshingInterval, data.size() - at), last);
    }
}

}  // namespace

void GOST28147::MeshedRun(Binary& buffer, Binary& iv, uint32_t mode, bool encrypt) {
    const Binary savedKey = GetKey();
    try {
        if (mode == ModeCounter && m_meshingMode == MESHING_CRYPTOPRO) {
            CounterWithCryptoProMeshing(*m_core, iv, buffer);
        } else {
            // Whole pieces in place (Process would check nothing that can fail
            // here: iv is one block and a piece is whole blocks).
            size_t at = 0;
            for (; at + MeshingInterval <= buffer.size(); at += MeshingInterval) {
                RunMode(*m_core, buffer.data() + at, MeshingInterval, iv.data(), mode, encrypt);
                MeshKey(iv);
            }
            if (at < buffer.size()) {
                const Binary rest(buffer.begin() + at, buffer.end());
                const Binary done = encrypt ? BlockCipher::Encrypt(rest, mode, PADDING_NONE, iv)
                                            : BlockCipher::Decrypt(rest, mode, PADDING_NONE, iv);
                std::copy(done.begin(), done.end(), buffer.begin() + at);
            }
        }
    } catch (...) {
        LoadKey(savedKey);
        throw;
    }
    LoadKey(savedKey);
}

Binary GOST28147::Encrypt(const Binary& data, uint32_t mode, uint32_t padding, const Binary& iv) {
    ZORVIK_CHECK("ZORVIK::GOST28147::Encrypt", !data.empty(), "Invalid data len");
    Binary runningIv = iv.empty() ? Binary(BlockSize, 0) : iv;
    if (m_meshingMode == MESHING_NONE) return BlockCipher::Encrypt(data, mode, padding, runningIv);

    CheckIv8("ZORVIK::GOST28147::Encrypt", runningIv, "Invalid iv");
    Binary result = Pad(data, BlockSize, padding);
    MeshedRun(result, runningIv, mode, true);
    return result;
}

Binary GOST28147::Decrypt(const Binary& data, uint32_t mode, uint32_t padding, const Binary& iv) {
    ZORVIK_CHECK("ZORVIK::GOST28147::Decrypt", !data.empty(), "Invalid data len");
    Binary runningIv = iv.empty() ? Binary(BlockSize, 0) : iv;
    if (m_meshingMode == MESHING_NONE) return BlockCipher::Decrypt(data, mode, padding, runningIv);

    CheckIv8("ZORVIK::GOST28147::Decrypt", runningIv, "Invalid iv");
    Binary result = data;
    MeshedRun(result, runningIv, mode, false);
    if (padding == PADDING_ISO9797_M2) UnpadFast(result, padding);
    return result;
}

Binary GOST28147::EncryptNext(const Binary& data, bool isLast) {
    if (m_mode != ModeCounter) return BlockCipher::EncryptNext(data, isLast);
    const char* function = "ZORVIK::GOST28147::EncryptNext";
    CheckChainStarted(function);
    ZORVIK_CHECK(function, !data.empty(), "Empty data is invalid");
    Binary out = data;
    if (isLast && m_padding != PADDING_NONE) PadFast(out, BlockSize, m_padding);
    uint32_t n1 = gost28147::LoadLE32(m_chainIv.data()), n2 = gost28147::LoadLE32(m_chainIv.data() + 4);
    CounterRun(*m_core, n1, n2, out.data(), out.size());
    gost28147::StoreLE32(m_chainIv.data(), n1);
    gost28147::StoreLE32(m_chainIv.data() + 4, n2);
    return out;
}

Binary GOST28147::DecryptNext(const Binary& data, bool isLast) {
    if (m_mode != ModeCounter) return BlockCipher::DecryptNext(data, isLast);
    const char* function = "ZORVIK::GOST28147::DecryptNext";
    CheckChainStarted(function);
    ZORVIK_CHECK(function, !data.empty(), "Empty data is invalid");
    Binary out = data;
    uint32_t n1 = gost28147::LoadLE32(m_chainIv.data()), n2 = gost28147::LoadLE32(m_chainIv.data() + 4);
    CounterRun(*m_core, n1, n2, out.data(), out.size());
    gost28147::StoreLE32(m_chainIv.data(), n1);
    gost28147::StoreLE32(m_chainIv.data() + 4, n2);
    if (isLast) UnpadFast(out, m_padding);
    return out;
}

// ---- MAC

Binary GOST28147::GetImit(const Binary& data, const Binary& iv) {
    const char* function = "ZORVIK::GOST28147::GetImit";
    CheckIv8(function, iv, "Invalid iv length");
    ZORVIK_CHECK(function, !data.empty(), "Empty data is invalid");
    Binary state = iv;
    gost28147::Mac(*m_core, state.data(), data.data(), data.size());
    return state;
}

Binary GOST28147::CalcCCS(const Binary& data, Binary& iv) {
    const char* function = "ZORVIK::GOST28147::CalcCCS";
    ZORVIK_CHECK(function, !data.empty(), "Empty data is invalid");
    if (m_ccsPadding == PADDING_NONE) ZORVIK_CHECK(function, data.size() % BlockSize == 0, "Invalid data length");
    if (!iv.empty()) CheckIv8(function, iv, "Invalid iv length");
    // The padded message is whole blocks (padding 0 needs whole blocks, the
    // others pad to them). Only its last block or two differ from data, so the
    // MAC runs over data's leading whole blocks in place and over a padded copy
    // of the last bytes; padding depends only on the length modulo 8.
    const size_t tailStart = m_ccsPadding == PADDING_NONE ? data.size() : (data.size() - 1) / BlockSize * BlockSize;
    const Binary tail = tailStart == data.size()
                            ? Binary()
                            : Pad(Binary(data.begin() + tailStart, data.end()), BlockSize, m_ccsPadding);
    if (iv.empty()) iv = Binary(BlockSize, 0);

    const Binary savedKey = m_meshingMode == MESHING_NONE ? Binary() : GetKey();
    // RFC 4357, 2.3.2 as the MAC uses it: the key is meshed after every 1024
    // bytes, also after the last ones when the length is a multiple of 1024.
    size_t sinceMeshing = 0;
    auto macBlocks = [&](const uint8_t* p, size_t length) {
        while (length != 0) {
            const size_t piece =
                m_meshingMode == MESHING_NONE ? length : std::min(length, MeshingInterval - sinceMeshing);
            gost28147::Mac(*m_core, iv.data(), p, piece);
            p += piece;
            length -= piece;
            sinceMeshing += piece;
            if (sinceMeshing == MeshingInterval) {
                MeshKey(iv);
                sinceMeshing = 0;
            }
        }
    };
    macBlocks(data.data(), tailStart);
    macBlocks(tail.data(), tail.size());
    if (m_meshingMode != MESHING_NONE) LoadKey(savedKey);
    return Binary(iv.begin(), iv.begin() + m_ccsSize);
}

// ---- Free functions

namespace {

void CheckPointers(const char* function, const uint8_t* key, const uint8_t* sbox) {
    ZORVIK_CHECK(function, key != nullptr, "Invalid key pointer");
    ZORVIK_CHECK(function, sbox != nullptr, "Invalid sbox pointer");
}

void MacInto(const uint8_t* key, const uint8_t* sbox, const uint8_t* start, const uint8_t* data, uint32_t dataLength,
             uint8_t* imit, uint32_t imitLength) {
    TemporaryCore temporary(key, sbox);
    uint8_t state[BlockSize] = {};
    if (start != nullptr) std::memcpy(state, start, BlockSize);
    gost28147::Mac(temporary.core, state, data, dataLength);
    std::memcpy(imit, state, imitLength);
}

}  // namespace

void GOST28147_CalcCCS(const uint8_t* key, const uint8_t* sbox, const uint8_t* data, uint32_t dataLength, uint8_t* imit,
                       uint32_t imitLength) {
    const char* function = "ZORVIK::GOST28147_CalcCCS";
    CheckPointers(function, key, sbox);
    ZORVIK_CHECK(function, data != nullptr, "Invalid data pointer");
    ZORVIK_CHECK(function, imit != nullptr, "Invalid imit pointer");
    // The MAC has 8 bytes; more cannot be copied out of it.
    ZORVIK_CHECK(function, imitLength <= BlockSize, "Invalid imit length");
    MacInto(key, sbox, nullptr, data, dataLength, imit, imitLength);
}

void GOST28147_CalcCCS(const uint8_t* key, const uint8_t* sbox, const uint8_t* iv, const uint8_t* data,
                       uint32_t dataLength, uint8_t* imit, uint32_t imitLength) {
    const char* function = "ZORVIK::GOST28147_CalcCCS";
    CheckPointers(function, key, sbox);
    ZORVIK_CHECK(function, iv != nullptr, "Invalid iv pointer");
    ZORVIK_CHECK(function, data != nullptr, "Invalid data pointer");
    ZORVIK_CHECK(function, imit != nullptr, "Invalid imit pointer");
    ZORVIK_CHECK(function, imitLength <= BlockSize, "Invalid imit length");
    MacInto(key, sbox, iv, data, dataLength, imit, imitLength);
}

void GOST28147_EncryptBlock(const uint8_t* key, const uint8_t* sbox, uint8_t* block) {
    const char* function = "ZORVIK::GOST28147_EncryptBlock";
    CheckPointers(function, key, sbox);
    ZORVIK_CHECK(function, block != nullptr, "Invalid data pointer");
    TemporaryCore temporary(key, sbox);
    gost28147::EncryptBlock(temporary.core, block, block);
}

void GOST28147_DecryptBlock(const uint8_t* key, const uint8_t* sbox, uint8_t* block) {
    const char* function = "ZORVIK::GOST28147_DecryptBlock";
    CheckPointers(function, key, sbox);
    ZORVIK_CHECK(function, block != nullptr, "Invalid data pointer");
    TemporaryCore temporary(key, sbox);
    gost28147::DecryptBlock(temporary.core, block, block);
}

}  // namespace ZORVIK
