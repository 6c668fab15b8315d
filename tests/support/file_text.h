// Whole-file reads and substring checks for tests that inspect logs and outputs.
#pragma once

#include <string>

namespace ZORVIK::test {

// The file's bytes as text; empty when it cannot be read.
std::string ReadFile(const std::string& path);
bool Contains(const std::string& text, const std::string& part);

}  // namespace ZORVIK::test
