// Arbitrary bytes as the hardware model's side of the QVL link: messages
// (header, size, payload) are read for card characters until the bytes run out
// or a busy or malformed message ends the reading, never past what arrived.
// The first byte chooses whether the messages are traced.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "sc/drivers/qvl/qvl_link.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) return 0;
    static std::FILE* const discard = std::fopen("/dev/null", "w");
    std::FILE* trace = (data[0] & 1) != 0 ? discard : nullptr;
    size_t offset = 1;
    const auto receive = [&](uint8_t* buffer, size_t count) {
        if (size - offset < count) return false;
        std::memcpy(buffer, data + offset, count);
        offset += count;
        return true;
    };
    uint8_t character = 0;
    while (ZORVIK::QvlLink::ReadModelMessages(receive, trace, character) == ZORVIK::QvlLink::ModelRead::Character) {
    }
    return 0;
}
