// Arbitrary bytes as a direct-network reply: parsed or refused with our error.
#include <cstddef>
#include <cstdint>

#include "sc/drivers/derimdirect/derimdirect_reader.h"
#include "service/common/exception.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    try {
        const ZORVIK::DerimPackage reply = ZORVIK::DerimPackage::ParseReply(ZORVIK::binary::Binary(data, data + size));
        if (reply.type == ZORVIK::DerimPackage::Apdu && reply.data.size() >= 2) {
            ZORVIK::RApdu response(reply.data);
            (void)response;
        }
    } catch (const ZORVIK::Exception&) {
    }
    return 0;
}
