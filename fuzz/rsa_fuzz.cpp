// Arbitrary components through the RSA key import (public (n, e), private
// (n, e, d) and CRT (p, q, dp, dq, qinv)), then VerifyDS and CryptPublic with
// arbitrary paddings, hashes, signatures and data. The first byte chooses the
// import and the two padding codes; the rest is read as components, each a
// 2-byte big-endian length and as many bytes. Every failure must be a
// ZORVIK::Exception, and a signature check may only answer.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "service/common/binary.h"
#include "service/common/exception.h"
#include "service/cryptlib/asym/rsa.h"
#include "service/cryptlib/asym/rsa_keys.h"

namespace {

using ZORVIK::RSA;
using ZORVIK::RSA_Keys;
using ZORVIK::binary::Binary;

// Components longer than an RSA key of 4096 bits are cut: they only cost time.
constexpr size_t MaxComponent = 512;

std::vector<Binary> Components(const uint8_t* data, size_t size) {
    std::vector<Binary> parts;
    while (size >= 2) {
        const size_t length = std::min<size_t>({size_t{data[0]} << 8 | data[1], size - 2, MaxComponent});
        parts.emplace_back(data + 2, data + 2 + length);
        data += 2 + length;
        size -= 2 + length;
    }
    parts.resize(8);  // absent components are empty
    return parts;
}

std::unique_ptr<RSA_Keys> Import(uint8_t road, std::vector<Binary>& c) {
    switch (road % 3) {
        case 0: return std::make_unique<RSA_Keys>(c[0], c[1]);
        case 1: return std::make_unique<RSA_Keys>(c[0], c[1], c[2]);
        default: return std::make_unique<RSA_Keys>(c[0], c[1], c[2], c[3], c[4]);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    const uint8_t choice = data[0];
    std::vector<Binary> c = Components(data + 1, size - 1);
    try {
        const std::unique_ptr<RSA_Keys> keys = Import(choice, c);
        // OpenSSL's padding codes: 1 PKCS#1 v1.5, 3 none, 4 OAEP, 5 X9.31, 6 PSS, and others.
        const RSA rsa(*keys, (choice >> 2) & 7, (choice >> 5) & 7);
        const size_t hashAt = choice % 3 == 2 ? 5 : 3;
        try {
            (void)rsa.VerifyDS(c[hashAt], c[hashAt + 1]);
        } catch (const ZORVIK::Exception&) {
        }
        (void)rsa.CryptPublic(c[hashAt + 2]);
    } catch (const ZORVIK::Exception&) {
    }
    return 0;
}
