// Arbitrary text into the hex-text parser: it either parses or throws our error,
// and what it parses prints back to the same bytes.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "service/common/binary.h"
#include "service/common/exception.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    try {
        const ZORVIK::binary::Binary parsed(text);
        const ZORVIK::binary::Binary again(ZORVIK::binary::ToHex(parsed, 1, 4, 16));
        if (again != parsed) std::abort();
    } catch (const ZORVIK::Exception&) {
    }
    return 0;
}
