// The common base of the symmetric block ciphers: whole-message and chained
// encryption with padding, the CBC-MAC checksum, and the padding functions.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "service/common/binary.h"

namespace ZORVIK {

// Cipher modes shared by every BlockCipher; each cipher's Process says what it
// does with each number (5 is the CTR mode of the GOST R 34.13-2015 ciphers).
enum CipherMode : uint32_t {
    CIPHER_MODE_ECB = 1,
    CIPHER_MODE_CBC = 2,
    CIPHER_MODE_OFB = 3,
    CIPHER_MODE_CFB = 4,
    CIPHER_MODE_CTR = 5,
};

// Padding kinds; n = B - (length mod B), so 1 <= n <= B.
enum PaddingKind : uint32_t {
    PADDING_NONE = 0,
    PADDING_ISO9797_M2 = 1,  // 0x80 then n - 1 zeros, always added (ISO/IEC 9797-1 method 2)
    PADDING_PKCS7 = 2,       // n bytes of value n, always added
    PADDING_GOST_ALIGN = 3,  // n zeros only when the data is not aligned; cannot be removed
};

class BlockCipher {
public:
    BlockCipher(uint32_t ccsPadding, uint32_t ccsMode, uint32_t blockSize);
    BlockCipher(const BlockCipher&) = default;
    BlockCipher& operator=(const BlockCipher&) = default;
    virtual ~BlockCipher();

    // A copy of this cipher (chain state included); a non-empty newKey
    // replaces the copy's key.
    virtual std::unique_ptr<BlockCipher> Clone(const binary::Binary& newKey) const = 0;
    virtual void EncryptBlock(uint8_t* block) = 0;
    virtual void DecryptBlock(uint8_t* block) = 0;

    // Whole messages; an empty iv stands for a block of zeros and the caller's
    // iv is never changed.
    virtual binary::Binary Encrypt(const binary::Binary& data, uint32_t mode, uint32_t padding,
                                   const binary::Binary& iv);
    virtual binary::Binary Decrypt(const binary::Binary& data, uint32_t mode, uint32_t padding,
                                   const binary::Binary& iv);

    // A message in pieces: First takes whole blocks and never pads; the Next
    // call flagged last adds (or removes) the padding. One chain per object.
    virtual binary::Binary EncryptFirst(const binary::Binary& data, uint32_t mode, uint32_t padding,
                                        const binary::Binary& iv);
    virtual binary::Binary EncryptNext(const binary::Binary& data, bool isLast);
    virtual binary::Binary DecryptFirst(const binary::Binary& data, uint32_t mode, uint32_t padding,
                                        const binary::Binary& iv);
    virtual binary::Binary DecryptNext(const binary::Binary& data, bool isLast);

    // CBC-MAC over the cipher with the CCS padding: returns the last cipher
    // block and leaves it in iv, so a further call continues the checksum.
    virtual binary::Binary CalcCCS(const binary::Binary& data, binary::Binary& iv);

    virtual uint32_t GetBlockSize() const { return m_blockSize; }
    virtual uint32_t GetKeyLength() const = 0;
    virtual uint32_t GetMaxKeyLength() const = 0;
    // How many bytes of the CalcCCS result the cipher's users take.
    virtual uint32_t GetCCSSize() const = 0;
    virtual binary::Binary GetKey() const = 0;
    virtual void SetCCSMode(uint32_t ccsMode) { m_ccsMode = ccsMode; }
    virtual void SetCCSPadding(uint32_t ccsPadding) { m_ccsPadding = ccsPadding; }
    virtual uint32_t GetCCSPadding() const { return m_ccsPadding; }
    virtual uint32_t GetCCSMode() const { return m_ccsMode; }
    virtual std::string GetName() const = 0;

    // Runs one mode (enc 1 encrypts, 0 decrypts) over the whole buffer in place
    // and leaves in iv the value that continues the chain.
    virtual void Process(binary::Binary& data, binary::Binary& iv, uint32_t mode, uint32_t enc) = 0;

protected:
    // Refuses a Next call that no First call started ("Chain not started").
    void CheckChainStarted(const char* function) const;
    // iv, or one block of zeros when iv is empty.
    binary::Binary IvOrZeros(const binary::Binary& iv) const;
    // The same in the object's own buffer, for the IV that one whole-message
    // call runs with: the caller's iv is never changed, and a short message
    // would spend a good part of its time allocating a copy.
    binary::Binary& RunningIv(const binary::Binary& iv);
    bool IsAligned(size_t length) const { return length % m_blockSize == 0; }
    // The argument checks of a Process that takes a one-block IV: enc 0 or 1
    // ("Invalid enc"), a non-empty ("Invalid iv") one-block ("Invalid iv size")
    // IV, and whole blocks in ECB and CBC. Returns false when data is empty and
    // there is nothing to do.
    bool CheckOneBlockIvProcess(const char* function, const binary::Binary& data, const binary::Binary& iv,
                                uint32_t mode, uint32_t enc) const;

    // State of the running chain, written by the First operations.
    uint32_t m_padding = PADDING_NONE;
    uint32_t m_mode = 0;
    binary::Binary m_chainIv;
    bool m_chainStarted = false;

    uint32_t m_ccsPadding;
    uint32_t m_ccsMode;
    uint32_t m_blockSize;

private:
    binary::Binary m_runningIv;

    binary::Binary StartChain(const char* function, const binary::Binary& data, uint32_t mode, uint32_t padding,
                              const binary::Binary& iv, uint32_t enc);
};

// Refuses a padding kind beyond 3 ("Invalid padding kind ...").
void CheckPaddingKind(const char* function, uint32_t kind);
// data followed by the padding of the given kind.
binary::Binary Pad(const binary::Binary& data, uint32_t blockSize, uint32_t kind);
// The same padding, appended in place.
void PadFast(binary::Binary& data, uint32_t blockSize, uint32_t kind);
// Removes the padding of the given kind in place.
void UnpadFast(binary::Binary& data, uint32_t kind);

}  // namespace ZORVIK
