// POSIX terminal glue of the console: whether a stream is open and wants
// colours, ANSI SGR texts for Windows-style text attributes, and keys read
// without echo, with the terminal's mode given back even when a signal ends
// or stops the run meanwhile.
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

// Reads one byte from standard input; when it is a terminal, without echo and
// without waiting for a line end. A carriage return is given as a line feed.
// Throws when standard input is closed, so that a menu never waits for a key
// that cannot come.
char ReadKey();

}  // namespace ZORVIK::terminal
