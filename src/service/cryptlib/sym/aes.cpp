// Single blocks go through libcrypto's low-level AES functions (no provider or
// context to set up for 16 bytes); whole buffers go through EVP, which uses the
// processor's AES instructions where it has them.
#define OPENSSL_SUPPRESS_DEPRECATED

#include "service/cryptlib/sym/aes.h"

#include <openssl/aes.h>
#include <openssl/crypto.h>
#include <openssl/evp.h>

#include <algorithm>
#include <climits>
#include <cstring>

#include "service/common/exception.h"

namespace ZORVIK {

using binary::Binary;

namespace {

bool IsValidKeyLength(size_t length) { return length == 16 || length == 24 || length == 32; }

void CheckBlockArguments(const char* function, const uint8_t* key, uint32_t keyLength, const uint8_t* block) {
    ZORVIK_CHECK(function, key != nullptr, "Key is not initialized");
    ZORVIK_CHECK(function, block != nullptr, "Data is not initialized");
    ZORVIK_CHECK(function, IsValidKeyLength(keyLength), "Invalid key length");
}

// The key schedule of one call, wiped when the call ends.
struct AesSchedule {
    AES_KEY key;

    AesSchedule(const uint8_t* raw, uint32_t keyLength, bool forEncryption) {
        const int bits = static_cast<int>(keyLength * 8);
        if (forEncryption) {
            AES_set_encrypt_key(raw, bits, &key);
        } else {
            AES_set_decrypt_key(raw, bits, &key);
        }
    }
    ~AesSchedule() { OPENSSL_cleanse(&key, sizeof key); }
    AesSchedule(const AesSchedule&) = delete;
    AesSchedule& operator=(const AesSchedule&) = delete;
};

// The EVP ciphers, fetched from the default provider once per process: an
// implicit fetch on every call would cost more than the key schedule.
class EvpAesCiphers {
public:
    static const EVP_CIPHER* Get(uint32_t keyLength, uint32_t mode) {
        static const EvpAesCiphers ciphers;
        const size_t sizeIndex = keyLength / 8 - 2;  // 16, 24, 32 -> 0, 1, 2
        return ciphers.m_table[sizeIndex][mode - CIPHER_MODE_ECB];
    }

private:
    EvpAesCiphers() {
        static const char* const kNames[3][4] = {
            {"AES-128-ECB", "AES-128-CBC", "AES-128-OFB", "AES-128-CFB"},
            {"AES-192-ECB", "AES-192-CBC", "AES-192-OFB", "AES-192-CFB"},
            {"AES-256-ECB", "AES-256-CBC", "AES-256-OFB", "AES-256-CFB"},
        };
        // Kept for the life of the process.
        for (size_t size = 0; size < 3; ++size) {
            for (size_t mode = 0; mode < 4; ++mode)
                m_table[size][mode] = EVP_CIPHER_fetch(nullptr, kNames[size][mode], nullptr);
        }
    }

    EVP_CIPHER* m_table[3][4] = {};
};

void ThrowOpenSslFailure(const char* function, const char* step) {
    throw Exception(std::string("OpenSSL AES ") + step + " failed", ZORVIK_PLACE(function));
}

// One EVP update over a range in place. EVP counts in int; a whole number of
// blocks per step keeps ECB and CBC whole.
void UpdateInPlace(const char* function, EVP_CIPHER_CTX* ctx, uint8_t* data, size_t size) {
    constexpr size_t kStep = (INT_MAX / AES::kBlockSize) * AES::kBlockSize;
    for (size_t offset = 0; offset < size; offset += kStep) {
        const size_t length = std::min(kStep, size - offset);
        int written = 0;
        if (EVP_CipherUpdate(ctx, data + offset, &written, data + offset, static_cast<int>(length)) != 1 ||
            static_cast<size_t>(written) != length) {
            ThrowOpenSslFailure(function, "update");
        }
    }
}

}  // namespace

void Aes_EncryptBlock(const uint8_t* key, uint32_t keyLength, uint8_t* block) {
    CheckBlockArguments("ZORVIK::Aes_EncryptBlock", key, keyLength, block);
    AesSchedule schedule(key, keyLength, true);
    AES_encrypt(block, block, &schedule.key);
}

void Aes_DecryptBlock(const uint8_t* key, uint32_t keyLength, uint8_t* block) {
    CheckBlockArguments("ZORVIK::Aes_DecryptBlock", key, keyLength, block);
    AesSchedule schedule(key, keyLength, false);
    AES_decrypt(block, block, &schedule.key);
}

void AES::EvpContextFree::operator()(EVP_CIPHER_CTX* ctx) const { EVP_CIPHER_CTX_free(ctx); }

AES::AES(const Binary& key, uint32_t ccsPadding, uint32_t ccsMode)
    : BlockCipher(ccsPadding, ccsMode, kBlockSize), m_key(key) {
    ZORVIK_CHECK("ZORVIK::AES::AES", IsValidKeyLength(key.size()), "Wrong key length");
}

AES::AES(const AES& other) : BlockCipher(other), m_key(other.m_key) {}

AES::~AES() = default;

std::unique_ptr<BlockCipher> AES::Clone(const Binary& newKey) const {
    ZORVIK_CHECK("ZORVIK::AES::Clone", newKey.empty() || newKey.size() == m_key.size(), "Wrong key length");
    auto copy = std::make_unique<AES>(*this);
    if (!newKey.empty()) copy->m_key = newKey;
    return copy;
}

void AES::EncryptBlock(uint8_t* block) { Aes_EncryptBlock(m_key.data(), static_cast<uint32_t>(m_key.size()), block); }

void AES::DecryptBlock(uint8_t* block) { Aes_DecryptBlock(m_key.data(), static_cast<uint32_t>(m_key.size()), block); }

EVP_CIPHER_CTX* AES::StartEvp(const char* function, uint32_t mode, uint32_t enc, const uint8_t* iv) {
    const EVP_CIPHER* cipher = EvpAesCiphers::Get(static_cast<uint32_t>(m_key.size()), mode);
    if (cipher == nullptr) ThrowOpenSslFailure(function, "cipher fetch");
    if (!m_evp) {
        m_evp.reset(EVP_CIPHER_CTX_new());
        if (!m_evp) ThrowOpenSslFailure(function, "context allocation");
    }
    EVP_CIPHER_CTX* ctx = m_evp.get();
    // Every call starts afresh with the key and iv: OFB and CFB at feedback
    // position 0. The same cipher as last time is re-initialised in place (a
    // null cipher), which keeps the provider's context instead of remaking it.
    const EVP_CIPHER* initCipher = EVP_CIPHER_CTX_get0_cipher(ctx) == cipher ? nullptr : cipher;
    const uint8_t* ivIn = mode == CIPHER_MODE_ECB ? nullptr : iv;
    if (EVP_CipherInit_ex2(ctx, initCipher, m_key.data(), ivIn, static_cast<int>(enc), nullptr) != 1) {
        ThrowOpenSslFailure(function, "initialisation");
    }
    // Padding is the base's business. The setting outlives re-initialisation
    // and is a parameter look-up, so it is made only when the cipher changes.
    if (initCipher != nullptr) EVP_CIPHER_CTX_set_padding(ctx, 0);
    return ctx;
}

void AES::Process(Binary& data, Binary& iv, uint32_t mode, uint32_t enc) {
    const char* function = "ZORVIK::AES::Process";
    if (!CheckOneBlockIvProcess(function, data, iv, mode, enc)) return;
    if (mode < CIPHER_MODE_ECB || mode > CIPHER_MODE_CFB) return;  // modes AES does not know leave the data as it is

    EVP_CIPHER_CTX* ctx = StartEvp(function, mode, enc, iv.data());
    // CBC leaves the last ciphertext block as the next IV; when deciphering in
    // place it has to be kept before the update overwrites it.
    uint8_t lastCipherBlock[kBlockSize];
    const bool cbc = mode == CIPHER_MODE_CBC;
    if (cbc && enc == 0) std::memcpy(lastCipherBlock, data.data() + data.size() - kBlockSize, kBlockSize);

    UpdateInPlace(function, ctx, data.data(), data.size());
    if (cbc) {
        const uint8_t* next = enc == 0 ? lastCipherBlock : data.data() + data.size() - kBlockSize;
        std::memcpy(iv.data(), next, kBlockSize);
    } else if (mode != CIPHER_MODE_ECB && EVP_CIPHER_CTX_get_updated_iv(ctx, iv.data(), iv.size()) != 1) {
        // OFB and CFB: the provider's register, which after a partial last block
        // is not a block of the data.
        ThrowOpenSslFailure(function, "IV read-back");
    }
}

Binary AES::Encrypt(const Binary& data, uint32_t mode, uint32_t padding, const Binary& iv) {
    // What this path does not take goes through the base, with its checks and
    // messages: modes AES does not know, empty data, an undefined padding kind,
    // a partial block left unpadded in ECB or CBC, an IV of the wrong size.
    const bool evpMode = mode >= CIPHER_MODE_ECB && mode <= CIPHER_MODE_CFB;
    const bool needsWholeBlocks = mode == CIPHER_MODE_ECB || mode == CIPHER_MODE_CBC;
    if (!evpMode || data.empty() || padding > PADDING_GOST_ALIGN || (!iv.empty() && iv.size() != kBlockSize) ||
        (padding == PADDING_NONE && needsWholeBlocks && data.size() % kBlockSize != 0)) {
        return BlockCipher::Encrypt(data, mode, padding, iv);
    }
    const char* function = "ZORVIK::AES::Process";
    // The caller's iv is never changed, so the IV left after the call is not read back.
    EVP_CIPHER_CTX* ctx = StartEvp(function, mode, 1, RunningIv(iv).data());

    // The result grows a piece at a time, each piece enciphered in place while
    // it is still in the first-level cache: padding a copy of the whole message
    // first and enciphering it afterwards would go over it twice from memory.
    // Measured on 1 MiB, pieces of 1 KiB cost the copy about 0.6% of the time,
    // 16 KiB ones 7%; the EVP update per piece is small beside 64 blocks.
    constexpr size_t kPiece = 1024;
    Binary out;
    out.reserve(data.size() + kBlockSize);  // the padding adds at most one block
    const size_t whole = data.size() / kBlockSize * kBlockSize;
    for (size_t at = 0; at < whole; at += kPiece) {
        const size_t length = std::min(kPiece, whole - at);
        out.insert(out.end(), data.begin() + at, data.begin() + at + length);
        UpdateInPlace(function, ctx, out.data() + at, length);
    }
    out.insert(out.end(), data.begin() + whole, data.end());
    PadFast(out, kBlockSize, padding);
    if (out.size() > whole) UpdateInPlace(function, ctx, out.data() + whole, out.size() - whole);
    return out;
}

}  // namespace ZORVIK
