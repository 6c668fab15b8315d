// Arbitrary bytes as a card behind the serial-port reader after power-on: its
// answer to reset, read character by character, then its answer to the PPS
// request when the reader must send one. The first byte chooses the reader's
// protocol list and whether the exchange is traced.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "fuzz_support.h"
#include "sc/drivers/iso/atr_reading.h"
#include "sc/drivers/iso/protocol_choice.h"
#include "sc/exchange/atr.h"
#include "service/common/exception.h"
#include "service/log/log.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) return 0;
    const uint8_t setup = data[0];
    static const std::vector<uint32_t> lists[] = {{1, 0}, {0, 1}, {0}, {1}};
    size_t offset = 1;
    const auto next = [&](uint8_t& byte) {
        if (offset >= size) return false;
        byte = data[offset++];
        return true;
    };
    ZORVIK::fuzz::DiscardLog log;
    try {
        ZORVIK::binary::Binary characters;
        if (!ZORVIK::ReadAtrCharacters(next, characters)) return 0;
        ZORVIK::ATR atr;
        atr.SetAtr(characters, true);
        ZORVIK::binary::Binary sent;
        const uint32_t chosen = ZORVIK::ChooseProtocol(
            atr, lists[setup & 3], [&](const ZORVIK::binary::Binary& request) { sent = request; }, next,
            (setup & 4) != 0 ? &log : nullptr);
        // A protocol is only ever chosen from the reader's list.
        bool listed = false;
        for (const uint32_t protocol : lists[setup & 3]) listed = listed || protocol == chosen;
        if (!listed) __builtin_trap();
    } catch (const ZORVIK::Exception&) {
        // A malformed answer to reset or a refused PPS is reported, never a crash.
    }
    return 0;
}
