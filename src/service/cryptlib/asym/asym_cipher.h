// The interface of every asymmetric operation object: signature over a hash the
// caller has computed, its verification, and the raw private and public operations.
#pragma once

#include <cstdint>
#include <memory>

#include "service/common/binary.h"
#include "service/cryptlib/asym/asym_key.h"

namespace ZORVIK {

class AsymCipher {
public:
    virtual std::unique_ptr<AsymCipher> Clone() const = 0;
    virtual binary::Binary CalcDS(const binary::Binary& hash) const = 0;
    virtual bool VerifyDS(const binary::Binary& hash, const binary::Binary& signature) const = 0;
    // The defaults throw CryptLibException code 8 "Cannot be implemented".
    virtual binary::Binary CryptPrivate(const binary::Binary& data) const;
    virtual binary::Binary CryptPublic(const binary::Binary& data) const;
    // The key object that the implementation embeds.
    virtual const AsymKey& GetKeys() const = 0;
    virtual uint32_t GetBlockSize() const;
    virtual uint32_t GetSignatureSize() const = 0;
    virtual uint32_t GetPublicKeySize() const = 0;
    virtual uint32_t GetPrivateKeySize() const = 0;
    virtual ~AsymCipher() = default;
};

}  // namespace ZORVIK
