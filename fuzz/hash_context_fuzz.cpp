// Arbitrary bytes as the saved running state of the hashes, the way the card-OS
// hardware layer hands stored contexts back: SetContext either takes them or
// throws ZORVIK::Exception, and a taken context then hashes more data and
// finishes without reading or writing past any buffer. The first byte picks the
// hash; the rest is the context followed by further message bytes.
#include <cstddef>
#include <cstdint>
#include <memory>

#include "service/common/binary.h"
#include "service/common/exception.h"
#include "service/cryptlib/hash/gost_r3411_2012.h"
#include "service/cryptlib/hash/gost_r3411_94.h"
#include "service/cryptlib/hash/sha.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    std::unique_ptr<ZORVIK::Hash> hash;
    switch (data[0] % 4) {
        case 0: hash = std::make_unique<ZORVIK::SHA1>(); break;
        case 1: hash = std::make_unique<ZORVIK::SHA256>(); break;
        case 2: hash = std::make_unique<ZORVIK::R3411>(7, false); break;
        default: hash = std::make_unique<ZORVIK::R3411_12>(true, false); break;
    }
    const ZORVIK::binary::Binary context(data + 1, data + size);
    try {
        hash->SetContext(context);
    } catch (const ZORVIK::Exception&) {
        return 0;
    }
    const size_t tail = context.size() > 120 ? context.size() - 120 : 0;
    hash->Input(ZORVIK::binary::Binary(context.end() - tail, context.end()));
    const ZORVIK::binary::Binary digest = hash->Result();
    if (digest.size() != hash->GetHashSize()) __builtin_trap();
    return 0;
}
