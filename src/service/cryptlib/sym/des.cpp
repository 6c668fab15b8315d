// Single DES is not offered by the default provider of OpenSSL 3, so both
// ciphers use libcrypto's low-level DES functions, which need no provider.
#define OPENSSL_SUPPRESS_DEPRECATED

#include "service/cryptlib/sym/des.h"

#include <openssl/crypto.h>
#include <openssl/des.h>

#include "service/common/exception.h"

namespace ZORVIK {

using binary::Binary;

namespace {

constexpr uint32_t kBlock = 8;

DES_cblock* AsBlock(uint8_t* bytes) { return reinterpret_cast<DES_cblock*>(bytes); }
// OpenSSL declares const_DES_cblock without const; nothing is written through it.
const_DES_cblock* AsConstBlock(const uint8_t* bytes) {
    return reinterpret_cast<const_DES_cblock*>(const_cast<uint8_t*>(bytes));
}

// Key schedules live only for one operation and are wiped when it ends.
struct DesSchedule {
    DES_key_schedule ks;

    explicit DesSchedule(const uint8_t* key8) {
        // Unchecked: parity and weak keys are the caller's business.
        DES_set_key_unchecked(AsConstBlock(key8), &ks);
    }
    ~DesSchedule() { OPENSSL_cleanse(&ks, sizeof ks); }
    DesSchedule(const DesSchedule&) = delete;
    DesSchedule& operator=(const DesSchedule&) = delete;
};

// K1 and K2 of a two-key triple-DES key; EDE runs with K1, K2, K1.
struct TriDesSchedule {
    DesSchedule k1;
    DesSchedule k2;

    explicit TriDesSchedule(const uint8_t* key16) : k1(key16), k2(key16 + kBlock) {}
};

void CheckBlockArguments(const char* function, const uint8_t* key, const uint8_t* block) {
    ZORVIK_CHECK(function, key != nullptr, "Invalid key");
    ZORVIK_CHECK(function, block != nullptr, "Invalid data");
}

void CheckKey(const char* function, const Binary& key, uint32_t length) {
    ZORVIK_CHECK(function, key.size() == length, "Invalid key");
}

long Length(const Binary& data) { return static_cast<long>(data.size()); }

}  // namespace

void Des_EncryptBlock(const uint8_t* key8, uint8_t* block) {
    CheckBlockArguments("ZORVIK::Des_EncryptBlock", key8, block);
    DesSchedule schedule(key8);
    DES_ecb_encrypt(AsConstBlock(block), AsBlock(block), &schedule.ks, DES_ENCRYPT);
}

void Des_DecryptBlock(const uint8_t* key8, uint8_t* block) {
    CheckBlockArguments("ZORVIK::Des_DecryptBlock", key8, block);
    DesSchedule schedule(key8);
    DES_ecb_encrypt(AsConstBlock(block), AsBlock(block), &schedule.ks, DES_DECRYPT);
}

void TriDes_EncryptBlock(const uint8_t* key16, uint8_t* block) {
    CheckBlockArguments("ZORVIK::TriDes_EncryptBlock", key16, block);
    TriDesSchedule schedule(key16);
    DES_ecb3_encrypt(AsConstBlock(block), AsBlock(block), &schedule.k1.ks, &schedule.k2.ks, &schedule.k1.ks,
                     DES_ENCRYPT);
}

void TriDes_DecryptBlock(const uint8_t* key16, uint8_t* block) {
    CheckBlockArguments("ZORVIK::TriDes_DecryptBlock", key16, block);
    TriDesSchedule schedule(key16);
    DES_ecb3_encrypt(AsConstBlock(block), AsBlock(block), &schedule.k1.ks, &schedule.k2.ks, &schedule.k1.ks,
                     DES_DECRYPT);
}

// --- DES -------------------------------------------------------------------

DES::DES(const Binary& key, uint32_t ccsPadding, uint32_t ccsMode)
    : BlockCipher(ccsPadding, ccsMode, kBlock), m_key(key) {
    CheckKey("ZORVIK::DES::DES", key, kKeyLength);
}

std::unique_ptr<BlockCipher> DES::Clone(const Binary& newKey) const {
    if (!newKey.empty()) CheckKey("ZORVIK::DES::Clone", newKey, kKeyLength);
    auto copy = std::make_unique<DES>(*this);
    if (!newKey.empty()) copy->m_key = newKey;
    return copy;
}

void DES::EncryptBlock(uint8_t* block) { Des_EncryptBlock(m_key.data(), block); }

void DES::DecryptBlock(uint8_t* block) { Des_DecryptBlock(m_key.data(), block); }

void DES::Process(Binary& data, Binary& iv, uint32_t mode, uint32_t enc) {
    if (!CheckOneBlockIvProcess("ZORVIK::DES::Process", data, iv, mode, enc)) return;
    DesSchedule schedule(m_key.data());
    const int direction = enc ? DES_ENCRYPT : DES_DECRYPT;
    // OFB and CFB start at feedback position 0 on every call (64-bit feedback).
    int position = 0;
    switch (mode) {
        case CIPHER_MODE_ECB:
            for (size_t offset = 0; offset < data.size(); offset += kBlock) {
                DES_ecb_encrypt(AsConstBlock(&data[offset]), AsBlock(&data[offset]), &schedule.ks, direction);
            }
            break;
        case CIPHER_MODE_CBC:
            DES_ncbc_encrypt(data.data(), data.data(), Length(data), &schedule.ks, AsBlock(iv.data()), direction);
            break;
        case CIPHER_MODE_OFB:
            DES_ofb64_encrypt(data.data(), data.data(), Length(data), &schedule.ks, AsBlock(iv.data()), &position);
            break;
        case CIPHER_MODE_CFB:
            DES_cfb64_encrypt(data.data(), data.data(), Length(data), &schedule.ks, AsBlock(iv.data()), &position,
                              direction);
            break;
        default:  // modes this cipher does not know leave the data as it is
            break;
    }
}

// --- Triple DES ------------------------------------------------------------

TriDES::TriDES(const Binary& key, uint32_t ccsPadding, uint32_t ccsMode)
    : BlockCipher(ccsPadding, ccsMode, kBlock), m_key(key) {
    CheckKey("ZORVIK::TriDES::TriDES", key, kKeyLength);
}

std::unique_ptr<BlockCipher> TriDES::Clone(const Binary& newKey) const {
    if (!newKey.empty()) CheckKey("ZORVIK::TriDES::Clone", newKey, kKeyLength);
    auto copy = std::make_unique<TriDES>(*this);
    if (!newKey.empty()) copy->m_key = newKey;
    return copy;
}

void TriDES::EncryptBlock(uint8_t* block) { TriDes_EncryptBlock(m_key.data(), block); }

void TriDES::DecryptBlock(uint8_t* block) { TriDes_DecryptBlock(m_key.data(), block); }

void TriDES::Process(Binary& data, Binary& iv, uint32_t mode, uint32_t enc) {
    if (!CheckOneBlockIvProcess("ZORVIK::TriDES::Process", data, iv, mode, enc)) return;
    TriDesSchedule schedule(m_key.data());
    DES_key_schedule* k1 = &schedule.k1.ks;
    DES_key_schedule* k2 = &schedule.k2.ks;
    const int direction = enc ? DES_ENCRYPT : DES_DECRYPT;
    int position = 0;
    switch (mode) {
        case CIPHER_MODE_ECB:
            for (size_t offset = 0; offset < data.size(); offset += kBlock) {
                DES_ecb3_encrypt(AsConstBlock(&data[offset]), AsBlock(&data[offset]), k1, k2, k1, direction);
            }
            break;
        case CIPHER_MODE_CBC:
            DES_ede3_cbc_encrypt(data.data(), data.data(), Length(data), k1, k2, k1, AsBlock(iv.data()), direction);
            break;
        case CIPHER_MODE_OFB:
            DES_ede3_ofb64_encrypt(data.data(), data.data(), Length(data), k1, k2, k1, AsBlock(iv.data()), &position);
            break;
        case CIPHER_MODE_CFB:
            DES_ede3_cfb64_encrypt(data.data(), data.data(), Length(data), k1, k2, k1, AsBlock(iv.data()), &position,
                                   direction);
            break;
        default: break;
    }
}

Binary TriDES::CalcCCS(const Binary& data, Binary& iv) {
    const char* function = "ZORVIK::TriDES::CalcCCS";
    ZORVIK_CHECK(function, !data.empty(), "Empty data is  invalid");
    if (m_ccsPadding == PADDING_NONE) ZORVIK_CHECK(function, data.size() % kBlock == 0, "Data must be aligned");
    ZORVIK_CHECK(function, iv.empty() || iv.size() == kBlock, "Invalid iv size");
    Binary chain = IvOrZeros(iv);
    Binary padded = m_ccsPadding == PADDING_NONE ? data : Pad(data, kBlock, m_ccsPadding);

    if (m_ccsMode == 0) {
        Process(padded, chain, CIPHER_MODE_CBC, 1);
        iv = chain;
        return chain;
    }

    // ISO/IEC 9797-1 MAC algorithm 3: single-DES CBC under K1 over all blocks
    // (the last one included), then the output transformation E_K1(D_K2(Y)).
    TriDesSchedule schedule(m_key.data());
    DES_ncbc_encrypt(padded.data(), padded.data(), Length(padded), &schedule.k1.ks, AsBlock(chain.data()), DES_ENCRYPT);
    iv = chain;  // Y: the single-DES chain continues from here
    DES_ecb_encrypt(AsConstBlock(chain.data()), AsBlock(chain.data()), &schedule.k2.ks, DES_DECRYPT);
    DES_ecb_encrypt(AsConstBlock(chain.data()), AsBlock(chain.data()), &schedule.k1.ks, DES_ENCRYPT);
    return chain;
}

}  // namespace ZORVIK
