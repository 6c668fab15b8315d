// GET LAST ERROR: asks a card-OS card why its last command failed and turns the
// answer into text for the failure message.
#pragma once

#include <string>

namespace ZORVIK {

class CApdu;
class iReader;

// 80 FE 00 00, Ne 256, printed as "GET LAST ERROR".
CApdu MakeGetLastErrorCommand();

// Sends GET LAST ERROR straight to the reader (no printing, no APDU log) and
// describes the answer: a 2-byte card-OS error code, looked up in the error
// catalogue under product, or an assertion (code, line, place on the card).
// Throws when the card refuses the command or the answer has another length.
std::string SendGetLastError(iReader& reader, const std::string& product);

// The same description, or the text of what made GET LAST ERROR fail (the
// refusal, the wrong size, the reader's error): a status mismatch keeps its own
// exception and only adds this to its text.
std::string DescribeLastError(iReader& reader, const std::string& product);

}  // namespace ZORVIK
