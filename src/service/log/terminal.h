// POSIX terminal glue of the console log: whether a stream is open and wants
// colours, ANSI SGR texts for Windows-style text attributes, and the key wait.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

namespace ZORVIK::terminal {

// True when the stream's descriptor is open.
bool IsOpen(std::FILE* stream);

// True when the stream is a terminal and NO_COLOR is unset or empty
// (https://no-color.org).
bool WantsColour(std::FILE* stream);

// The SGR sequence that selects the attribute's foreground (bright with 0x08)
// and, when one is set, its background (bits 0x10..0x80).
std::string SgrForAttribute(int32_t attribute);
// Back to the terminal's default colours.
inline constexpr char SgrReset[] = "\x1b[0m";

// Writes all of text with one stdio call and flushes; false on failure.
bool WriteAll(std::FILE* stream, const std::string& text);

// True when standard input is a terminal, so that a key can be awaited.
bool IsInteractive();

// Discards keys already typed on standard input, then waits up to seconds for
// one key in 100 ms steps and consumes it. Returns at once when standard input
// is not a terminal.
void WaitForKey(int32_t seconds);

}  // namespace ZORVIK::terminal
