// The interface of every hash of the crypto library: incremental and one-shot
// digests, and the running state ("context") as bytes, so that a digest can be
// suspended and resumed later from the saved bytes.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "service/common/binary.h"

namespace ZORVIK {

class Hash {
public:
    virtual ~Hash() = default;

    // A copy with the same running state.
    virtual std::unique_ptr<Hash> Clone() const = 0;
    // One-shot digest of data (see each class for its effect on the running state).
    virtual binary::Binary Calc(const binary::Binary& data) = 0;
    virtual void Reset() = 0;
    virtual void Input(const binary::Binary& data) = 0;
    virtual binary::Binary Result() = 0;
    virtual binary::Binary GetContext() const = 0;
    virtual void SetContext(const binary::Binary& context) = 0;
    virtual uint32_t GetHashSize() const = 0;
    virtual uint32_t GetBlockSize() const = 0;
    virtual uint8_t GetHashID() const = 0;
    virtual std::string GetName() const = 0;

protected:
    Hash() = default;
    Hash(const Hash&) = default;
    Hash& operator=(const Hash&) = default;
};

}  // namespace ZORVIK
