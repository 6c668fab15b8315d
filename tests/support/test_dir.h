// A directory of the running test's own, for the files it writes.
#pragma once

#include <string>

namespace ZORVIK::test {

// The directory of the running test, ending with '/': its name carries the
// process id and the test's full name, so that neither two tests under ctest -j
// nor two runs on one machine share a file. Made on first use, removed with
// everything in it when the test ends.
std::string TestDir();

}  // namespace ZORVIK::test
