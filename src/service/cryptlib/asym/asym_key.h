// The asymmetric-key interface of the crypto library: a key pair (or a public
// key alone) that exports its parts in an integer-coded format and tells its sizes.
#pragma once

#include <cstdint>

#include "service/common/binary.h"

namespace ZORVIK {

class AsymKey {
public:
    virtual binary::Binary ExportPublicKey(int format) const = 0;
    virtual binary::Binary ExportPrivateKey(int format) const = 0;
    virtual uint32_t GetPublicKeySize() const = 0;
    virtual uint32_t GetPrivateKeySize() const = 0;
    virtual bool HasPublicKey() const = 0;
    virtual bool HasPrivateKey() const = 0;
    virtual ~AsymKey() = default;
};

}  // namespace ZORVIK
