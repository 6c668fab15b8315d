#include "service/cryptlib/sym/gost3412m.h"

#include <cstring>

#include "service/common/exception.h"
#include "service/cryptlib/byte_order.h"
#include "service/cryptlib/sym/gost3413.h"

namespace ZORVIK {

using binary::Binary;

struct GOST3412M_ModeContext {
    G3413_EcbContext ecb;
    G3413_CbcContext cbc;
    G3413_CfbOfbContext feedback;
    G3413_CtrContext ctr;
    // CTR: the counter where the next call of the chain goes on.
    uint8_t counter[8] = {};
    bool counterLive = false;

    void ReleaseBuffers() {
        G3413_FreeEcb(&ecb);
        G3413_FreeCbc(&cbc);
        G3413_FreeCfbOfb(&feedback);
        G3413_FreeCtr(&ctr);
    }
    ~GOST3412M_ModeContext() { ReleaseBuffers(); }
};

namespace {

constexpr size_t BlockSize = 8;
constexpr size_t KeySize = 32;
enum : uint32_t { ModeEcb = 1, ModeCbc = 2, ModeOfb = 3, ModeCfb = 4, ModeCtr = 5 };

const char* const InternalError = "Internal error";
const char* const IvNotWholeBlocks = "Размер IV должен быть кратен размеру блока";
const char* const CtrIvNotHalfBlock = "Размер IV должен быть равен половине размера блока для CTR";

void Check(bool ok, const char* function) { ZORVIK_CHECK(function, ok, InternalError); }

using cryptlib::Reverse;
using cryptlib::ReverseEach;

// Byte order 1 gives keys as words and data as blocks least significant byte first.
void ReverseBlocks(uint8_t* data, size_t length) { ReverseEach(data, length, BlockSize); }

void CopyReversingWords(const uint8_t* in, uint8_t* out) {
    std::memcpy(out, in, KeySize);
    ReverseEach(out, KeySize, 4);
}

}  // namespace

void _cryptBlock(const uint8_t* key, uint8_t* block, bool enc, uint32_t byteOrder) {
    const bool reversed = byteOrder == GOST3412M::ReversedByteOrder;
    if (reversed) Reverse(block, BlockSize);
    const int result =
        enc ? Encrypt_89(block, block, key, nullptr, nullptr) : Decrypt_89(block, block, key, nullptr, nullptr);
    if (reversed) Reverse(block, BlockSize);
    Check(result == 0, "ZORVIK::_cryptBlock");
}

void _crypt(std::unique_ptr<GOST3412M_ModeContext>& context, const uint8_t* key, Binary& data, uint32_t mode,
            uint32_t byteOrder, Binary& chainIv, bool enc, bool last) {
    const char* function = "ZORVIK::_crypt";
    if (!context) context = std::make_unique<GOST3412M_ModeContext>();
    // The buffers of the previous call of the chain go before the mode starts again.
    context->ReleaseBuffers();

    const bool reversed = byteOrder == GOST3412M::ReversedByteOrder;
    const size_t originalLength = data.size();
    if (reversed) {
        // A partial last block is zero-filled so that it can be turned round whole.
        data.resize((originalLength + BlockSize - 1) / BlockSize * BlockSize, 0);
        ReverseBlocks(data.data(), data.size());
    }
    uint8_t* p = data.data();
    const size_t length = data.size();

    switch (mode) {
        case ModeEcb:
            Check(G3413_InitEcb(key, &context->ecb, nullptr, nullptr) == 0, function);
            Check((enc ? G3413_EncryptEcb(&context->ecb, p, p, length)
                       : G3413_DecryptEcb(&context->ecb, p, p, length)) == 0,
                  function);
            break;
        case ModeCbc:
        case ModeOfb:
        case ModeCfb: {
            if (reversed) {
                ZORVIK_CHECK(function, chainIv.size() % BlockSize == 0, IvNotWholeBlocks);
                ReverseBlocks(chainIv.data(), chainIv.size());
            }
            int result;
            if (mode == ModeCbc) {
                result = G3413_InitCbc(key, &context->cbc, chainIv.data(), chainIv.size(), nullptr, nullptr);
                if (result == 0)
                    result = enc ? G3413_EncryptCbc(&context->cbc, p, p, length)
                                 : G3413_DecryptCbc(&context->cbc, p, p, length);
                if (result == 0) result = G3413_GetState(&context->cbc, mode, chainIv.data());
            } else {
                result = mode == ModeOfb ? G3413_InitOfb(key, &context->feedback, BlockSize, chainIv.data(),
                                                         chainIv.size(), nullptr, nullptr)
                                         : G3413_InitCfb(key, &context->feedback, BlockSize, chainIv.data(),
                                                         chainIv.size(), nullptr, nullptr);
                if (result == 0) {
                    if (mode == ModeOfb) {
                        result = G3413_CryptOfb(&context->feedback, p, p, length);
                    } else {
                        result = enc ? G3413_EncryptCfb(&context->feedback, p, p, length)
                                     : G3413_DecryptCfb(&context->feedback, p, p, length);
                    }
                }
                if (result == 0) result = G3413_GetState(&context->feedback, mode, chainIv.data());
            }
            if (reversed) ReverseBlocks(chainIv.data(), chainIv.size());
            Check(result == 0, function);
            break;
        }
        case ModeCtr: {
            ZORVIK_CHECK(function, chainIv.size() == BlockSize / 2, CtrIvNotHalfBlock);
            uint8_t iv[BlockSize / 2];
            if (reversed) {
                // 00 00 00 00 || IV turned round as a whole: its first half is the IV reversed.
                std::memcpy(iv, chainIv.data(), sizeof iv);
                Reverse(iv, sizeof iv);
            } else {
                std::memcpy(iv, chainIv.data(), sizeof iv);
            }
            Check(G3413_InitCtr(key, iv, BlockSize, &context->ctr, nullptr, nullptr) == 0, function);
            // A chain goes on with the counter where its previous call stopped.
            if (context->counterLive) std::memcpy(context->ctr.counter, context->counter, BlockSize);
            Check(G3413_CryptCtr(&context->ctr, p, p, length) == 0, function);
            std::memcpy(context->counter, context->ctr.counter, BlockSize);
            context->counterLive = true;
            break;
        }
        default: break;
    }
    if (last) context.reset();
    if (reversed) {
        ReverseBlocks(data.data(), data.size());
        data.resize(originalLength);
    }
}

// ---- GOST3412M

GOST3412M::GOST3412M(const Binary& key, uint8_t macLength, uint32_t ccsPadding, uint32_t byteOrder)
    : BlockCipher(ccsPadding, 1, BlockSize), m_byteOrder(byteOrder), m_macLength(macLength) {
    ZORVIK_CHECK("ZORVIK::GOST3412M::GOST3412M", key.size() == KeySize, "Invalid key length");
    StoreKey(key);
}

GOST3412M::GOST3412M(const GOST3412M& other)
    : BlockCipher(other),
      m_context(other.m_context ? std::make_unique<GOST3412M_ModeContext>() : nullptr),
      m_byteOrder(other.m_byteOrder),
      m_macLength(other.m_macLength) {
    std::memcpy(m_key, other.m_key, KeySize);
    if (other.m_context) {
        std::memcpy(m_context->counter, other.m_context->counter, BlockSize);
        m_context->counterLive = other.m_context->counterLive;
    }
}

GOST3412M::~GOST3412M() {
    volatile uint8_t* key = m_key;
    for (size_t i = 0; i < KeySize; ++i) key[i] = 0;
}

void GOST3412M::StoreKey(const Binary& key) {
    if (m_byteOrder == ReversedByteOrder) {
        CopyReversingWords(key.data(), m_key);
    } else {
        std::memcpy(m_key, key.data(), KeySize);
    }
}

std::unique_ptr<BlockCipher> GOST3412M::Clone(const Binary& newKey) const {
    ZORVIK_CHECK("ZORVIK::GOST3412M::Clone", newKey.empty() || newKey.size() == KeySize, "Wrong key length.");
    auto copy = std::make_unique<GOST3412M>(*this);
    if (!newKey.empty()) copy->StoreKey(newKey);
    return copy;
}

Binary GOST3412M::GetKey() const {
    Binary key(KeySize);
    if (m_byteOrder == ReversedByteOrder) {
        CopyReversingWords(m_key, key.data());
    } else {
        std::memcpy(key.data(), m_key, KeySize);
    }
    return key;
}

void GOST3412M::EncryptBlock(uint8_t* block) { _cryptBlock(m_key, block, true, m_byteOrder); }

void GOST3412M::DecryptBlock(uint8_t* block) { _cryptBlock(m_key, block, false, m_byteOrder); }

void GOST3412M::Process(Binary& data, Binary& iv, uint32_t mode, uint32_t enc) {
    ZORVIK_CHECK("ZORVIK::GOST3412M::Process", !iv.empty(), "Invalid iv");
    if (data.empty()) return;
    std::unique_ptr<GOST3412M_ModeContext> context;
    _crypt(context, m_key, data, mode, m_byteOrder, iv, enc == 1, true);
}

Binary GOST3412M::StartChain(const Binary& data, uint32_t mode, uint32_t padding, const Binary& iv, bool enc,
                             const char* function) {
    ZORVIK_CHECK(function, !data.empty(), "Empty data is invalid");
    ZORVIK_CHECK(function, data.size() % BlockSize == 0, "Data must be aligned");
    CheckPaddingKind(function, padding);
    Binary out = data;
    Binary chainIv = IvOrZeros(iv);
    auto context = std::make_unique<GOST3412M_ModeContext>();
    _crypt(context, m_key, out, mode, m_byteOrder, chainIv, enc, false);
    // A First that fails leaves a running chain as it was.
    m_chainIv = std::move(chainIv);
    m_padding = padding;
    m_mode = mode;
    m_chainStarted = true;
    m_context = std::move(context);
    return out;
}

// After the piece marked last (or before any First call) there is no chain to
// continue: _crypt has released the mode context with the last piece.
void GOST3412M::ContinueChain(Binary& data, bool enc, bool isLast) {
    _crypt(m_context, m_key, data, m_mode, m_byteOrder, m_chainIv, enc, isLast);
    if (isLast) m_chainStarted = false;
}

Binary GOST3412M::EncryptFirst(const Binary& data, uint32_t mode, uint32_t padding, const Binary& iv) {
    return StartChain(data, mode, padding, iv, true, "ZORVIK::GOST3412M::EncryptFirst");
}

Binary GOST3412M::DecryptFirst(const Binary& data, uint32_t mode, uint32_t padding, const Binary& iv) {
    return StartChain(data, mode, padding, iv, false, "ZORVIK::GOST3412M::DecryptFirst");
}

Binary GOST3412M::EncryptNext(const Binary& data, bool isLast) {
    const char* function = "ZORVIK::GOST3412M::EncryptNext";
    CheckChainStarted(function);
    ZORVIK_CHECK(function, !data.empty(), "Empty data is invalid");
    const bool padded = isLast && m_padding != PADDING_NONE;
    if (!padded) ZORVIK_CHECK(function, data.size() % BlockSize == 0, "Data must be aligned");
    Binary out = data;
    if (padded) PadFast(out, BlockSize, m_padding);
    ContinueChain(out, true, isLast);
    return out;
}

Binary GOST3412M::DecryptNext(const Binary& data, bool isLast) {
    const char* function = "ZORVIK::GOST3412M::DecryptNext";
    CheckChainStarted(function);
    ZORVIK_CHECK(function, !data.empty(), "Empty data is invalid");
    ZORVIK_CHECK(function, data.size() % BlockSize == 0, "Data must be aligned");
    Binary out = data;
    ContinueChain(out, false, isLast);
    if (isLast) UnpadFast(out, m_padding);
    return out;
}

Binary GOST3412M::CalcCCS(const Binary& data, Binary& /*iv*/) {
    const char* function = "ZORVIK::GOST3412M::CalcCCS";
    ZORVIK_CHECK(function, !data.empty(), "Empty data is invalid");
    Binary message = data;
    const bool reversed = m_byteOrder == ReversedByteOrder;
    // A trailing partial block is turned round on its own.
    if (reversed) ReverseEach(message.data(), message.size(), BlockSize);
    G3413_MacContext mac;
    Binary result;
    int status = G3413_InitMac(m_key, m_macLength, &mac, nullptr, nullptr);
    if (status == 0) status = G3413_UpdateMac(&mac, message.data(), message.size());
    if (status == 0) {
        result.resize(m_macLength);
        status = G3413_FinishMac(&mac, result.data());
    }
    G3413_FreeMac(&mac);
    Check(status == 0, function);
    if (reversed) Reverse(result);
    return result;
}

}  // namespace ZORVIK
