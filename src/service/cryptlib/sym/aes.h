// AES (FIPS 197) behind the block-cipher base: AES-128, AES-192 and AES-256
// chosen by the key length, with ECB, CBC and 128-bit OFB and CFB.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "service/cryptlib/sym/block_cipher.h"

struct evp_cipher_ctx_st;

namespace ZORVIK {

class AES : public BlockCipher {
public:
    static constexpr uint32_t kBlockSize = 16;
    static constexpr uint32_t kMaxKeyLength = 32;

    // key: 16, 24 or 32 bytes, else "Wrong key length".
    AES(const binary::Binary& key, uint32_t ccsPadding, uint32_t ccsMode);
    // The copy gets its own EVP context, made at its first Process.
    AES(const AES& other);
    AES& operator=(const AES&) = delete;
    ~AES() override;

    // A non-empty newKey must have the copy's key length.
    std::unique_ptr<BlockCipher> Clone(const binary::Binary& newKey) const override;
    void EncryptBlock(uint8_t* block) override;
    void DecryptBlock(uint8_t* block) override;
    uint32_t GetKeyLength() const override { return static_cast<uint32_t>(m_key.size()); }
    uint32_t GetMaxKeyLength() const override { return kMaxKeyLength; }
    uint32_t GetCCSSize() const override { return kBlockSize; }
    binary::Binary GetKey() const override { return m_key; }
    std::string GetName() const override { return "AES"; }
    void Process(binary::Binary& data, binary::Binary& iv, uint32_t mode, uint32_t enc) override;
    // The base's whole-message encryption without a separate padded copy.
    binary::Binary Encrypt(const binary::Binary& data, uint32_t mode, uint32_t padding,
                           const binary::Binary& iv) override;

private:
    struct EvpContextFree {
        void operator()(evp_cipher_ctx_st* ctx) const;
    };

    // The object's context initialised for one call of mode (ECB to CFB).
    evp_cipher_ctx_st* StartEvp(const char* function, uint32_t mode, uint32_t enc, const uint8_t* iv);

    binary::Binary m_key;
    // One EVP context for the object's life, initialised afresh (key schedule
    // included) by every Process: making a context per call costs more than
    // the key schedule at short lengths.
    std::unique_ptr<evp_cipher_ctx_st, EvpContextFree> m_evp;
};

// One 16-byte block in place under a raw key of keyLength (16, 24 or 32) bytes.
void Aes_EncryptBlock(const uint8_t* key, uint32_t keyLength, uint8_t* block);
void Aes_DecryptBlock(const uint8_t* key, uint32_t keyLength, uint8_t* block);

}  // namespace ZORVIK
