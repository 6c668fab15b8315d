// Code and text of the reader-driver error an action throws, caught once so
// that actions with effects (power-on, commands) run only once.
#pragma once

#include <functional>
#include <string>

#include "service/common/exception.h"

namespace ZORVIK::test {

struct DriverError {
    int32_t code = -1;  // -1 when nothing was thrown
    std::string text;
};

inline DriverError DriverErrorOf(const std::function<void()>& action) {
    try {
        action();
    } catch (const Exception& error) {
        return {error.ErrorCode(), error.what()};
    }
    return {};
}

}  // namespace ZORVIK::test
