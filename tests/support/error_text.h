// The text of the error an action throws, for tests that compare exact messages.
#pragma once

#include <functional>
#include <string>

namespace ZORVIK::test {

// what() of the ZORVIK::Exception that action throws, or "(no error)" when it
// throws nothing. Other exceptions pass through and fail the test.
std::string MessageOf(const std::function<void()>& action);

}  // namespace ZORVIK::test
