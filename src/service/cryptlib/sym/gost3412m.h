// The 64-bit block cipher of GOST R 34.12-2015 ("Magma") behind the common
// BlockCipher interface, every mode run through the GOST R 34.13-2015 mode
// functions: 1 ECB, 2 CBC, 3 OFB, 4 CFB, 5 CTR, and the standard's MAC as CalcCCS.
// Byte order 1 serves keys and data written least significant byte first (the
// GOST 28147-89 habit): key words, data blocks, IVs and the MAC are reversed on
// the way in and out, so that the mode functions always see big-endian values.
#pragma once

#include <memory>

#include "service/cryptlib/sym/block_cipher.h"

namespace ZORVIK {

// The mode context of a running chain or call.
struct GOST3412M_ModeContext;

class GOST3412M : public BlockCipher {
public:
    static constexpr uint32_t ReversedByteOrder = 1;

    // key: 32 bytes; macLength: MAC bytes 1..8; ccsPadding is only reported, the
    // MAC pads by its own rule.
    GOST3412M(const binary::Binary& key, uint8_t macLength, uint32_t ccsPadding, uint32_t byteOrder);
    // A copy of a running chain gets a context of its own (no sharing).
    GOST3412M(const GOST3412M& other);
    GOST3412M& operator=(const GOST3412M&) = delete;
    ~GOST3412M() override;

    std::unique_ptr<BlockCipher> Clone(const binary::Binary& newKey) const override;
    void EncryptBlock(uint8_t* block) override;
    void DecryptBlock(uint8_t* block) override;
    binary::Binary EncryptFirst(const binary::Binary& data, uint32_t mode, uint32_t padding,
                                const binary::Binary& iv) override;
    binary::Binary EncryptNext(const binary::Binary& data, bool isLast) override;
    binary::Binary DecryptFirst(const binary::Binary& data, uint32_t mode, uint32_t padding,
                                const binary::Binary& iv) override;
    binary::Binary DecryptNext(const binary::Binary& data, bool isLast) override;
    // The GOST R 34.13-2015 MAC, MAC-length bytes; iv is not used.
    binary::Binary CalcCCS(const binary::Binary& data, binary::Binary& iv) override;
    uint32_t GetKeyLength() const override { return 32; }
    uint32_t GetMaxKeyLength() const override { return 32; }
    uint32_t GetCCSSize() const override { return 8; }
    binary::Binary GetKey() const override;
    std::string GetName() const override { return "GOST3412(Magma)"; }
    void Process(binary::Binary& data, binary::Binary& iv, uint32_t mode, uint32_t enc) override;

private:
    void StoreKey(const binary::Binary& key);
    // EncryptFirst and DecryptFirst: a new chain and its mode context.
    binary::Binary StartChain(const binary::Binary& data, uint32_t mode, uint32_t padding, const binary::Binary& iv,
                              bool enc, const char* function);
    // EncryptNext and DecryptNext: the next piece; the piece marked last ends the chain.
    void ContinueChain(binary::Binary& data, bool enc, bool isLast);

    std::unique_ptr<GOST3412M_ModeContext> m_context;
    uint32_t m_byteOrder;
    uint8_t m_macLength;
    uint8_t m_key[32] = {};
};

// The mode worker: one call of the chain in context (made afresh when null);
// the context is released when last is set. CBC, OFB and CFB leave their register
// in chainIv; CTR carries its counter in the context from call to call.
void _crypt(std::unique_ptr<GOST3412M_ModeContext>& context, const uint8_t* key, binary::Binary& data, uint32_t mode,
            uint32_t byteOrder, binary::Binary& chainIv, bool enc, bool last);
// One block in place.
void _cryptBlock(const uint8_t* key, uint8_t* block, bool enc, uint32_t byteOrder);

}  // namespace ZORVIK
