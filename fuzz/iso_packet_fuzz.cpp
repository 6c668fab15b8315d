// Arbitrary bytes from the serial reader device: packets are received until
// the bytes run out, each accepted or refused with our error, and the card
// bytes queued are read as an answer to reset.
#include <cstddef>
#include <cstdint>
#include <deque>

#include "fuzz_support.h"
#include "sc/drivers/iso/atr_reading.h"
#include "sc/drivers/iso/iso_packet.h"
#include "service/common/exception.h"
#include "service/log/log.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    size_t position = 0;
    const ZORVIK::IsoPacket::ByteSource read = [&](uint8_t& byte) {
        if (position >= size) return false;
        byte = data[position++];
        return true;
    };
    std::deque<uint8_t> queue;
    ZORVIK::fuzz::DiscardLog log;
    try {
        uint8_t type = 0;
        while (ZORVIK::IsoPacket::Receive(read, queue, &log, type)) {
        }
    } catch (const ZORVIK::Exception&) {
    }
    ZORVIK::binary::Binary atr;
    try {
        ZORVIK::ReadAtrCharacters(
            [&](uint8_t& byte) {
                if (queue.empty()) return false;
                byte = queue.front();
                queue.pop_front();
                return true;
            },
            atr);
    } catch (const ZORVIK::Exception&) {
    }
    return 0;
}
