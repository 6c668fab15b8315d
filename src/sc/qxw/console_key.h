// POSIX glue of the reader menu: one key from the console, without echo.
#pragma once

namespace ZORVIK::console {

// Reads one byte from standard input; when it is a terminal, without echo and
// without waiting for a line end (its mode is restored afterwards). A carriage
// return is given as a line feed. Throws when standard input is closed, so that
// a menu never waits for a key that cannot come.
char ReadKey();

}  // namespace ZORVIK::console
