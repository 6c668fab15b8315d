// Path helpers over POSIX. Paths use '/' as the one separator and root.
#pragma once

#include <string>

namespace ZORVIK::filesystem {

// Builds a text from the parts of path by format: %d root ("/" or empty),
// %p directory after the root, %n file name without extension, %e extension
// with its dot; '%' before any other character inserts that character.
std::string FormatPath(const std::string& path, const std::string& format);

// Every run of '/' or '\' becomes one '/'.
std::string UnifySeparators(const std::string& path);

// Absolute canonical form ("." and ".." resolved lexically, never above the
// root); a relative path is taken against base, which must be absolute.
std::string MakeAbsolutePath(const std::string& path, const std::string& base, bool lowerCase);
std::string NormalizePath(const std::string& path, const std::string& base);

// The program's own file, empty when it cannot be read.
std::string GetModulePath();
// The current directory, always ending with '/'.
std::string GetCurrentPath();
bool FileExists(const std::string& path);

// Throws the file-system error with prefix + the text of errno, code = errno.
[[noreturn]] void ThrowWinapiError(const std::string& prefix);

}  // namespace ZORVIK::filesystem
