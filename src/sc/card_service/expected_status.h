// Expected statuses handed with every command: a class of statuses or one exact
// status word, and how a card's status word is matched against them.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace ZORVIK {

// Any success status (9000 or 61xx).
constexpr uint16_t ST_OK = 1;
// Any status that is not a success status.
constexpr uint16_t ST_ERR = 2;
// Any status at all.
constexpr uint16_t ST_ANY = 3;

// ISO/IEC 7816-4: 9000, or 61xx (SW2 more bytes available) on a T=0 link.
inline bool IsSuccessStatus(uint16_t statusWord) { return statusWord == 0x9000 || (statusWord >> 8) == 0x61; }

// true at the first entry that accepts the status word; an empty list accepts nothing.
bool MatchStatus(const std::vector<uint16_t>& expected, uint16_t statusWord);

// "OK", "ERR", "ANY", or the status word as four upper-case hex digits.
std::string ExpectedStatusText(uint16_t expected);

}  // namespace ZORVIK
