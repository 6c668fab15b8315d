// DES and two-key triple DES (EDE with K3 = K1) behind the block-cipher base,
// with the ISO/IEC 9797-1 MAC algorithm 3 ("retail MAC") for triple DES.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "service/cryptlib/sym/block_cipher.h"

namespace ZORVIK {

// Single DES, 8-byte key (parity bits are not checked, weak keys not refused).
class DES : public BlockCipher {
public:
    static constexpr uint32_t kKeyLength = 8;

    DES(const binary::Binary& key, uint32_t ccsPadding, uint32_t ccsMode);

    std::unique_ptr<BlockCipher> Clone(const binary::Binary& newKey) const override;
    void EncryptBlock(uint8_t* block) override;
    void DecryptBlock(uint8_t* block) override;
    uint32_t GetKeyLength() const override { return kKeyLength; }
    uint32_t GetMaxKeyLength() const override { return kKeyLength; }
    uint32_t GetCCSSize() const override { return 8; }
    binary::Binary GetKey() const override { return m_key; }
    std::string GetName() const override { return "DES"; }
    void Process(binary::Binary& data, binary::Binary& iv, uint32_t mode, uint32_t enc) override;

private:
    binary::Binary m_key;
};

// Two-key triple DES: encrypt K1, decrypt K2, encrypt K1 (K1 = key bytes 0..7,
// K2 = bytes 8..15). A non-zero CCS mode makes CalcCCS the retail MAC.
class TriDES : public BlockCipher {
public:
    static constexpr uint32_t kKeyLength = 16;

    TriDES(const binary::Binary& key, uint32_t ccsPadding, uint32_t ccsMode);

    std::unique_ptr<BlockCipher> Clone(const binary::Binary& newKey) const override;
    void EncryptBlock(uint8_t* block) override;
    void DecryptBlock(uint8_t* block) override;
    // CCS mode 0: triple-DES CBC-MAC. Otherwise ISO/IEC 9797-1 MAC algorithm 3:
    // single-DES CBC under K1, then D_K2 and E_K1 on the last block; iv is left
    // with the single-DES chaining value so a further call continues the MAC.
    binary::Binary CalcCCS(const binary::Binary& data, binary::Binary& iv) override;
    uint32_t GetKeyLength() const override { return kKeyLength; }
    uint32_t GetMaxKeyLength() const override { return kKeyLength; }
    uint32_t GetCCSSize() const override { return 8; }
    binary::Binary GetKey() const override { return m_key; }
    std::string GetName() const override { return "TriDES"; }
    void Process(binary::Binary& data, binary::Binary& iv, uint32_t mode, uint32_t enc) override;

private:
    binary::Binary m_key;
};

// One 8-byte block in place under a raw key (8 bytes for DES, 16 for triple DES).
void Des_EncryptBlock(const uint8_t* key8, uint8_t* block);
void Des_DecryptBlock(const uint8_t* key8, uint8_t* block);
void TriDes_EncryptBlock(const uint8_t* key16, uint8_t* block);
void TriDes_DecryptBlock(const uint8_t* key16, uint8_t* block);

}  // namespace ZORVIK
