// The GOST 28147-89 block cipher (RFC 5830) behind the common BlockCipher interface:
// a 32-byte key and an S-box per object, ECB, CBC, the standard's counter mode
// (mode 3) and CFB, the standard's MAC (imitovstavka), CryptoPro key meshing
// (RFC 4357, 2.3) for long data, and free functions over a raw key and S-box.
//
// Byte order: key byte 4i is the least significant byte of key word K(i+1); block
// bytes 0-3 are N1 and 4-7 are N2, each least significant byte first.
#pragma once

#include <memory>

#include "service/cryptlib/sym/block_cipher.h"

namespace ZORVIK {

namespace gost28147 {
struct Core;
}

class GOST28147 : public BlockCipher {
public:
    // Key meshing, chosen with SetMeshingMode.
    enum MeshingMode : uint32_t {
        MESHING_NONE = 0,
        MESHING_CRYPTOPRO = 1,  // new key, and the IV re-enciphered under it
        MESHING_KEY_ONLY = 2,   // new key; the caller's IV is left as it is (the MAC)
    };

    // sbox: 64 bytes (standard compressed) or 128 (standard expanded).
    GOST28147(const binary::Binary& key, const binary::Binary& sbox, uint32_t ccsPadding, uint32_t ccsMode,
              uint32_t ccsSize);
    // sboxId as for GetSBoxByID.
    GOST28147(const binary::Binary& key, uint32_t sboxId, uint32_t ccsPadding, uint32_t ccsMode, uint32_t ccsSize);
    GOST28147(const GOST28147& other);
    GOST28147& operator=(const GOST28147&) = delete;
    ~GOST28147() override;

    std::unique_ptr<BlockCipher> Clone(const binary::Binary& newKey) const override;
    void EncryptBlock(uint8_t* block) override;
    void DecryptBlock(uint8_t* block) override;
    binary::Binary Encrypt(const binary::Binary& data, uint32_t mode, uint32_t padding,
                           const binary::Binary& iv) override;
    binary::Binary Decrypt(const binary::Binary& data, uint32_t mode, uint32_t padding,
                           const binary::Binary& iv) override;
    binary::Binary EncryptNext(const binary::Binary& data, bool isLast) override;
    binary::Binary DecryptNext(const binary::Binary& data, bool isLast) override;
    // The MAC from iv (empty: zeros; updated to the full 8-byte value); returns
    // the first CCS-size bytes.
    //
    // Data of one block (8 bytes, or fewer padded to 8) gets a single MAC step
    // and no zero block is added, on purpose: the toolkit's cards may rely on
    // it. Common implementations (gost-mac of the GOST engine of OpenSSL, for
    // one) add an all-zero second block to a one-block message, so their MAC
    // of such data is this MAC of the block (zero-padded) followed by eight
    // zero bytes. From two blocks on the values agree.
    binary::Binary CalcCCS(const binary::Binary& data, binary::Binary& iv) override;
    uint32_t GetBlockSize() const override { return 8; }
    uint32_t GetKeyLength() const override { return 32; }
    uint32_t GetMaxKeyLength() const override { return 32; }
    uint32_t GetCCSSize() const override { return 4; }
    binary::Binary GetKey() const override;
    std::string GetName() const override { return "GOST28147"; }
    // Modes 1 ECB, 2 CBC, 3 counter mode (gamma), 4 CFB; others leave data as it is.
    void Process(binary::Binary& data, binary::Binary& iv, uint32_t mode, uint32_t enc) override;

    // The S-box in the standard compressed layout (64 bytes).
    binary::Binary GetSBox() const;
    void SetSBox(const binary::Binary& sbox);
    void SetKey(const binary::Binary& key);
    // Loads a key without the length message of SetKey (still 32 bytes).
    void LoadKey(const binary::Binary& key);
    // The full 8-byte MAC of data from the 8-byte start value iv; one block
    // gets one MAC step, as in CalcCCS.
    binary::Binary GetImit(const binary::Binary& data, const binary::Binary& iv);
    // One key-meshing step by the meshing mode (iv: 8 bytes).
    void MeshKey(binary::Binary& iv);
    void SetMeshingMode(uint32_t meshingMode);
    uint32_t GetMeshingMode() const { return m_meshingMode; }

private:
    // The mode over buffer in place with key meshing after every 1024 bytes;
    // the object's key is restored afterwards, also on failure.
    void MeshedRun(binary::Binary& buffer, binary::Binary& iv, uint32_t mode, bool encrypt);

    std::unique_ptr<gost28147::Core> m_core;
    uint32_t m_meshingMode = MESHING_NONE;
    uint32_t m_ccsSize;
};

// MAC of data from a zero start value (or from the 8 bytes at iv); the first
// imitLength (at most 8) bytes go to imit. key: 32 bytes, sbox: 64 bytes.
// Data of one block (8 bytes or fewer) gets one MAC step, as CalcCCS above.
void GOST28147_CalcCCS(const uint8_t* key, const uint8_t* sbox, const uint8_t* data, uint32_t dataLength, uint8_t* imit,
                       uint32_t imitLength);
void GOST28147_CalcCCS(const uint8_t* key, const uint8_t* sbox, const uint8_t* iv, const uint8_t* data,
                       uint32_t dataLength, uint8_t* imit, uint32_t imitLength);
// One 8-byte block in place.
void GOST28147_EncryptBlock(const uint8_t* key, const uint8_t* sbox, uint8_t* block);
void GOST28147_DecryptBlock(const uint8_t* key, const uint8_t* sbox, uint8_t* block);

}  // namespace ZORVIK
