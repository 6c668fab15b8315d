// Arbitrary bytes into the BER-TLV parser: it either builds a tree or throws the
// TLV error (nothing else); what it builds dumps, copies and compares safely, and
// its encoding (lengths in shortest form) parses back to the same encoding.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "service/common/exception.h"
#include "service/tlv/tlv.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const ZORVIK::binary::Binary input(data, data + size);
    ZORVIK::TLVPtr chain;
    try {
        chain = ZORVIK::TLV_Base::Create(input);
    } catch (const ZORVIK::TLVException& e) {
        if (e.ErrorCode() != 0) std::abort();
        return 0;
    }
    if (!chain) std::abort();
    std::string text;
    ZORVIK::DumpTLV(chain, text, 0);

    const ZORVIK::binary::Binary encoding = chain->EncodeChain();
    if (encoding.size() > input.size()) std::abort();  // shortest lengths never grow
    const ZORVIK::TLVPtr again = ZORVIK::TLV_Base::Create(encoding);
    if (again->EncodeChain() != encoding) std::abort();

    const ZORVIK::TLVPtr copy = chain->Clone();
    for (ZORVIK::TLVPtr a = chain, b = copy; a || b; a = a->GetNext(), b = b->GetNext()) {
        if (!a || !b || a != b || a.get() == b.get()) std::abort();
    }
    return 0;
}
