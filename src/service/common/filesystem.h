// Path helpers over POSIX. Paths use '/' as the one separator and root.
#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>

namespace ZORVIK::filesystem {

// The parts of a path whose separators are already '/': the directory up to
// and with its last '/' (empty without one), the file name without its
// extension, and the extension from the file name's last '.' on, with the dot
// (empty without one).
struct PathParts {
    std::string directory;
    std::string name;
    std::string extension;
};
PathParts SplitPath(const std::string& path);

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

// A file opened for reading, or the reason why it was not.
struct InputFile {
    std::unique_ptr<std::FILE, int (*)(std::FILE*)> stream{nullptr, &std::fclose};
    uint64_t size = 0;   // at the time of opening
    int error = 0;       // errno of a failed look-up or open; 0 when opened or refused for its kind
    std::string reason;  // the system's text, or the kind of a file that is not a regular one
};
// Why a file of this mode (st_mode) is not read or written as a document: the
// text for a directory, a FIFO, a device or a socket; nullptr for a regular file.
const char* NotRegularReason(uint32_t mode);

// Opens an existing regular file for reading. A FIFO, a device, a socket or a
// directory is refused before it is opened, so that nothing blocks on it.
InputFile OpenInputFile(const std::string& path);

// Throws the file-system error with prefix + the text of errno, code = errno.
[[noreturn]] void ThrowWinapiError(const std::string& prefix);

}  // namespace ZORVIK::filesystem
