// Test-only access to the GOST provider of Debian's libengine-gost-openssl
// ("gostprov"), an implementation independent of ours used as an oracle over
// random data. Never linked into the library.
#pragma once

#include <openssl/core_names.h>
#include <openssl/evp.h>
#include <openssl/params.h>
#include <openssl/provider.h>

#include <stdexcept>
#include <string>

#include "service/common/binary.h"

namespace ZORVIK::test {

// The library context that holds gostprov: the process-wide default one, because
// the provider's OMAC fetches its ciphers from there. Loading a provider explicitly
// stops the automatic load of "default", so both are loaded once here.
inline OSSL_LIB_CTX* GostProviderContext() {
    static OSSL_PROVIDER* const defaultProvider = OSSL_PROVIDER_load(nullptr, "default");
    static OSSL_PROVIDER* const gostProvider = OSSL_PROVIDER_load(nullptr, "gostprov");
    if (defaultProvider == nullptr || gostProvider == nullptr)
        throw std::runtime_error("cannot load the OpenSSL provider 'gostprov' (package libengine-gost-openssl)");
    return nullptr;
}

// Digest of data by the provider's algorithm name ("md_gost94", "md_gost12_256", ...).
inline binary::Binary ProviderDigest(const char* name, const uint8_t* data, size_t length) {
    EVP_MD* md = EVP_MD_fetch(GostProviderContext(), name, nullptr);
    if (md == nullptr) throw std::runtime_error(std::string("gostprov has no digest ") + name);
    binary::Binary out(EVP_MD_get_size(md));
    unsigned int outLength = 0;
    const bool ok = EVP_Digest(data, length, out.data(), &outLength, md, nullptr) == 1;
    EVP_MD_free(md);
    if (!ok) throw std::runtime_error(std::string("digest failed: ") + name);
    out.resize(outLength);
    return out;
}

inline binary::Binary ProviderDigest(const char* name, const binary::Binary& data) {
    return ProviderDigest(name, data.data(), data.size());
}

// One call of the provider's cipher ("gost89", "gost89-cnt", "magma-ctr", ...)
// without padding.
inline binary::Binary ProviderCipher(const char* name, const binary::Binary& key, const binary::Binary& iv,
                                     const binary::Binary& data, bool encrypt) {
    EVP_CIPHER* cipher = EVP_CIPHER_fetch(GostProviderContext(), name, nullptr);
    if (cipher == nullptr) throw std::runtime_error(std::string("gostprov has no cipher ") + name);
    EVP_CIPHER_CTX* ctx = EVP_CIPHER_CTX_new();
    binary::Binary out(data.size() + 16);
    int length = 0, tail = 0;
    const bool ok =
        EVP_CipherInit_ex2(ctx, cipher, key.data(), iv.empty() ? nullptr : iv.data(), encrypt ? 1 : 0, nullptr) == 1 &&
        EVP_CIPHER_CTX_set_padding(ctx, 0) == 1 &&
        EVP_CipherUpdate(ctx, out.data(), &length, data.data(), int(data.size())) == 1 &&
        EVP_CipherFinal_ex(ctx, out.data() + length, &tail) == 1;
    EVP_CIPHER_CTX_free(ctx);
    EVP_CIPHER_free(cipher);
    if (!ok) throw std::runtime_error(std::string("cipher failed: ") + name);
    out.resize(size_t(length + tail));
    return out;
}

// The provider's MAC ("gost-mac", "magma-mac") of data under key.
inline binary::Binary ProviderMac(const char* name, const binary::Binary& key, const binary::Binary& data) {
    EVP_MAC* mac = EVP_MAC_fetch(GostProviderContext(), name, nullptr);
    if (mac == nullptr) throw std::runtime_error(std::string("gostprov has no MAC ") + name);
    EVP_MAC_CTX* ctx = EVP_MAC_CTX_new(mac);
    size_t length = 0;
    bool ok =
        EVP_MAC_init(ctx, key.data(), key.size(), nullptr) == 1 && EVP_MAC_update(ctx, data.data(), data.size()) == 1;
    binary::Binary out(ok ? EVP_MAC_CTX_get_mac_size(ctx) : 0);
    ok = ok && EVP_MAC_final(ctx, out.data(), &length, out.size()) == 1;
    EVP_MAC_CTX_free(ctx);
    EVP_MAC_free(mac);
    if (!ok) throw std::runtime_error(std::string("MAC failed: ") + name);
    out.resize(length);
    return out;
}

}  // namespace ZORVIK::test
