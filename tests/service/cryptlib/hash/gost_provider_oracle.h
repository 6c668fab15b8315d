// Test-only access to the GOST provider of Debian's libengine-gost-openssl
// ("gostprov"), an implementation independent of ours used as an oracle over
// random data. Never linked into the library.
#pragma once

#include <openssl/evp.h>
#include <openssl/provider.h>

#include <stdexcept>
#include <string>

#include "service/common/binary.h"

namespace ZORVIK::test {

// The library context with the default provider and gostprov loaded once.
inline OSSL_LIB_CTX* GostProviderContext() {
    static OSSL_LIB_CTX* context = [] {
        OSSL_LIB_CTX* ctx = OSSL_LIB_CTX_new();
        if (ctx == nullptr || OSSL_PROVIDER_load(ctx, "default") == nullptr ||
            OSSL_PROVIDER_load(ctx, "gostprov") == nullptr)
            throw std::runtime_error("cannot load the OpenSSL provider 'gostprov' (package libengine-gost-openssl)");
        return ctx;
    }();
    return context;
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

}  // namespace ZORVIK::test
