// Shared by the tests of the readers that carry the card's bytes themselves
// (serial-port reader, hardware-model link): the card behind their devices and
// the driver errors they throw.
#pragma once

#include <functional>
#include <ostream>
#include <string>

#include "sc/exchange/capdu_rapdu.h"
#include "service/common/exception.h"

namespace ZORVIK::test {

// GET CHALLENGE gives Ne bytes 00, 01, ...; SELECT 9000; anything else 6D00.
inline RApdu ChallengeCard(const CApdu& command) {
    RApdu response;
    response.sw1 = 0x90;
    if (command.ins == 0x84) {
        for (uint32_t i = 0; i < command.ne; ++i) response.data.push_back(static_cast<uint8_t>(i));
    } else if (command.ins != 0xA4) {
        response.sw1 = 0x6D;
    }
    return response;
}

// Code and text of the driver error an action throws, caught once so that
// actions with effects (power-on, commands) run only once. Other exceptions
// pass through and fail the test.
struct DriverError {
    int32_t code = -1;  // -1 when nothing was thrown
    std::string text;
    bool operator==(const DriverError&) const = default;
};

inline void PrintTo(const DriverError& error, std::ostream* out) { *out << error.code << " \"" << error.text << '"'; }

inline DriverError DriverErrorOf(const std::function<void()>& action) {
    try {
        action();
    } catch (const CardDrvException& error) {
        return {error.ErrorCode(), error.what()};
    }
    return {};
}

}  // namespace ZORVIK::test
