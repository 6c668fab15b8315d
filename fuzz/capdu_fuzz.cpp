// Command APDU decoding: any bytes either decode or throw ZORVIK::Exception, and a
// decoded command encodes back to exactly the bytes it came from.
#include <cstddef>
#include <cstdint>

#include "sc/exchange/capdu_rapdu.h"
#include "service/common/exception.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const ZORVIK::binary::Binary bytes(data, data + size);
    ZORVIK::CApdu command;
    try {
        command.DecodeCanonical(bytes);
    } catch (const ZORVIK::Exception&) {
        return 0;
    }
    if (command.Encode() != bytes || command.GetCase() > ZORVIK::CApdu::Case4Extended) {
        __builtin_trap();
    }
    ZORVIK::RApdu response;
    try {
        response.DecodeCanonical(bytes);
        if (response.Encode() != bytes) {
            __builtin_trap();
        }
    } catch (const ZORVIK::Exception&) {
    }
    return 0;
}
