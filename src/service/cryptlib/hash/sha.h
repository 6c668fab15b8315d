// SHA-1 and SHA-256 (FIPS 180-4) over OpenSSL's libcrypto. The context bytes are
// those of OpenSSL's SHA_CTX (96 bytes) and SHA256_CTX (112 bytes), a stored format:
// chaining value, bit count low and high, 64-byte pending block, pending count
// (and, for SHA-256, the digest length), 32-bit words little-endian.
#pragma once

#include "service/cryptlib/hash/hash.h"

struct SHAstate_st;
struct SHA256state_st;

namespace ZORVIK {

// One-shot digests into out (20 / 32 bytes); data may be null only with length 0.
void SHA1_Calc(const uint8_t* data, uint32_t length, uint8_t* out);
void SHA256_Calc(const uint8_t* data, uint32_t length, uint8_t* out);

class SHA1 : public Hash {
public:
    static constexpr uint32_t ContextSize = 96;

    SHA1();
    SHA1(const SHA1& other);
    SHA1& operator=(const SHA1&) = delete;
    ~SHA1() override;

    std::unique_ptr<Hash> Clone() const override;
    binary::Binary Calc(const binary::Binary& data) override;
    void Reset() override;
    void Input(const binary::Binary& data) override;
    // Finishes the message; the next message starts with Reset.
    binary::Binary Result() override;
    binary::Binary GetContext() const override;
    // Takes the first 96 bytes; longer input is accepted.
    void SetContext(const binary::Binary& context) override;
    uint32_t GetHashSize() const override { return 20; }
    uint32_t GetBlockSize() const override { return 64; }
    uint8_t GetHashID() const override { return 0x33; }
    std::string GetName() const override { return "SHA1"; }

private:
    SHAstate_st* m_context;
};

class SHA256 : public Hash {
public:
    static constexpr uint32_t ContextSize = 112;

    SHA256();
    SHA256(const SHA256& other);
    SHA256& operator=(const SHA256&) = delete;
    ~SHA256() override;

    std::unique_ptr<Hash> Clone() const override;
    binary::Binary Calc(const binary::Binary& data) override;
    void Reset() override;
    void Input(const binary::Binary& data) override;
    binary::Binary Result() override;
    binary::Binary GetContext() const override;
    void SetContext(const binary::Binary& context) override;
    uint32_t GetHashSize() const override { return 32; }
    uint32_t GetBlockSize() const override { return 64; }
    uint8_t GetHashID() const override { return 0x34; }
    std::string GetName() const override { return "SHA256"; }

private:
    SHA256state_st* m_context;
};

}  // namespace ZORVIK
