// Owning handles for the OpenSSL objects of the asymmetric code, the
// conversions between big numbers and fixed-width big-endian byte strings, and
// the error and DER helpers its sources share. Internal to
// src/service/cryptlib/asym; the public headers never include it.
#pragma once

#include <openssl/bio.h>
#include <openssl/bn.h>
#include <openssl/ec.h>
#include <openssl/evp.h>
#include <openssl/x509.h>

#include <memory>
#include <optional>
#include <string>

#include "service/common/binary.h"
#include "service/common/exception.h"
#include "service/cryptlib/byte_order.h"

namespace ZORVIK::asym {

[[noreturn]] inline void Fail(const std::string& message, const char* function) {
    throw Exception(message, ZORVIK_PLACE(function));
}

struct BignumFree {
    void operator()(BIGNUM* value) const { BN_clear_free(value); }
};
struct BnCtxFree {
    void operator()(BN_CTX* value) const { BN_CTX_free(value); }
};
struct EcPointFree {
    void operator()(EC_POINT* value) const { EC_POINT_free(value); }
};
struct EcGroupFree {
    void operator()(EC_GROUP* value) const { EC_GROUP_free(value); }
};
struct EvpPkeyFree {
    void operator()(EVP_PKEY* value) const { EVP_PKEY_free(value); }
};

using BignumPtr = std::unique_ptr<BIGNUM, BignumFree>;
using BnCtxPtr = std::unique_ptr<BN_CTX, BnCtxFree>;
using EcPointPtr = std::unique_ptr<EC_POINT, EcPointFree>;
using EcGroupPtr = std::unique_ptr<EC_GROUP, EcGroupFree>;
using EvpPkeyPtr = std::unique_ptr<EVP_PKEY, EvpPkeyFree>;

// A big-number context opened for one call; the numbers it hands out live
// until the frame ends (BN_CTX_start / BN_CTX_end).
class BnFrame {
public:
    BnFrame() : m_ctx(BN_CTX_secure_new()) {
        if (m_ctx) BN_CTX_start(m_ctx.get());
    }
    ~BnFrame() {
        if (m_ctx) BN_CTX_end(m_ctx.get());
    }
    BnFrame(const BnFrame&) = delete;
    BnFrame& operator=(const BnFrame&) = delete;

    bool Valid() const { return m_ctx != nullptr; }
    BN_CTX* Ctx() const { return m_ctx.get(); }
    // A zeroed number owned by the frame, or nullptr when out of memory.
    BIGNUM* Get() const { return BN_CTX_get(m_ctx.get()); }

private:
    BnCtxPtr m_ctx;
};

// A nested frame on a caller's context: numbers taken from it are released
// when the scope ends.
class CtxScope {
public:
    explicit CtxScope(BN_CTX* ctx) : m_ctx(ctx) { BN_CTX_start(m_ctx); }
    ~CtxScope() { BN_CTX_end(m_ctx); }
    CtxScope(const CtxScope&) = delete;
    CtxScope& operator=(const CtxScope&) = delete;
    BIGNUM* Get() const { return BN_CTX_get(m_ctx); }

private:
    BN_CTX* m_ctx;
};

// Big-endian unsigned bytes into target (an empty string gives 0).
inline bool ToBignum(const binary::Binary& bytes, BIGNUM* target) {
    return BN_bin2bn(bytes.data(), static_cast<int>(bytes.size()), target) != nullptr;
}

inline BignumPtr NewBignum(const binary::Binary& bytes) {
    return BignumPtr(BN_bin2bn(bytes.data(), static_cast<int>(bytes.size()), nullptr));
}

// The value right-aligned in width bytes; nothing when it does not fit.
inline std::optional<binary::Binary> ToFixedWidth(const BIGNUM* value, size_t width) {
    binary::Binary result(width);
    if (BN_bn2binpad(value, result.data(), static_cast<int>(width)) < 0) return std::nullopt;
    return result;
}

// The value in its fewest big-endian bytes (zero gives an empty string).
inline binary::Binary ToMinimal(const BIGNUM* value) {
    binary::Binary result(static_cast<size_t>(BN_num_bytes(value)));
    BN_bn2bin(value, result.data());
    return result;
}

// PKCS#8 PrivateKeyInfo DER of key, written through a memory stream; nothing
// when OpenSSL cannot encode it.
inline std::optional<binary::Binary> EncodePkcs8(const EVP_PKEY* key) {
    std::unique_ptr<PKCS8_PRIV_KEY_INFO, decltype(&PKCS8_PRIV_KEY_INFO_free)> info(EVP_PKEY2PKCS8(key),
                                                                                   &PKCS8_PRIV_KEY_INFO_free);
    std::unique_ptr<BIO, decltype(&BIO_free)> memory(BIO_new(BIO_s_mem()), &BIO_free);
    if (!info || !memory || !i2d_PKCS8_PRIV_KEY_INFO_bio(memory.get(), info.get())) return std::nullopt;
    char* data = nullptr;
    const long size = BIO_get_mem_data(memory.get(), &data);
    if (size <= 0 || data == nullptr) return std::nullopt;
    const auto* bytes = reinterpret_cast<const uint8_t*>(data);
    return binary::Binary(bytes, bytes + size);
}

// The byte-reversed formats of keys and signatures.
using cryptlib::Reversed;
using cryptlib::ReverseHalves;

}  // namespace ZORVIK::asym
