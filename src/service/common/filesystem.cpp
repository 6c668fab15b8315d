#include "service/common/filesystem.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstring>
#include <vector>

#include "service/common/exception.h"
#include "service/common/utilities.h"

namespace ZORVIK::filesystem {

namespace {

bool IsSeparator(char c) { return c == '/' || c == '\\'; }

// Resolves "." and ".." of an absolute unified path; ".." at the root stays at the root.
std::string Canonicalize(const std::string& absolute) {
    std::vector<std::string> parts;
    std::string part;
    auto flush = [&]() {
        if (part == "..") {
            if (!parts.empty()) parts.pop_back();
        } else if (!part.empty() && part != ".") {
            parts.push_back(part);
        }
        part.clear();
    };
    for (char c : absolute) {
        if (c == '/') {
            flush();
        } else {
            part += c;
        }
    }
    const bool trailingSlash = !absolute.empty() && absolute.back() == '/';
    flush();
    std::string result = "/";
    for (size_t i = 0; i < parts.size(); ++i) {
        if (i != 0) result += '/';
        result += parts[i];
    }
    if (trailingSlash && !parts.empty()) result += '/';
    return result;
}

}  // namespace

std::string UnifySeparators(const std::string& path) {
    std::string result;
    result.reserve(path.size());
    for (char c : path) {
        if (IsSeparator(c)) {
            if (result.empty() || result.back() != '/') result += '/';
        } else {
            result += c;
        }
    }
    return result;
}

PathParts SplitPath(const std::string& path) {
    const size_t slash = path.rfind('/');
    const size_t nameStart = slash == std::string::npos ? 0 : slash + 1;
    const std::string fileName = path.substr(nameStart);
    const size_t dot = fileName.rfind('.');
    const size_t nameLength = dot == std::string::npos ? fileName.size() : dot;
    return {path.substr(0, nameStart), fileName.substr(0, nameLength), fileName.substr(nameLength)};
}

std::string FormatPath(const std::string& path, const std::string& format) {
    const SourcePlace place = ZORVIK_PLACE("ZORVIK::filesystem::FormatPath");
    if (path.empty()) throw Exception("Empty path!", place);
    if (format.empty()) throw Exception("Empty format!", place);
    const std::string unified = UnifySeparators(path);
    if (unified.size() > PATH_MAX) throw Exception("Wrong path size!", place);

    const std::string root = unified.front() == '/' ? "/" : "";
    const PathParts parts = SplitPath(unified);
    // The directory after the root: a path with a root has its '/' in the directory part.
    const std::string directory = parts.directory.substr(root.size());

    std::string result;
    for (size_t i = 0; i < format.size(); ++i) {
        if (format[i] != '%') {
            result += format[i];
            continue;
        }
        if (++i == format.size()) break;  // a '%' at the very end is dropped
        switch (format[i]) {
            case 'd': result += root; break;
            case 'e': result += parts.extension; break;
            case 'n': result += parts.name; break;
            case 'p': result += directory; break;
            default: result += format[i]; break;
        }
    }
    return result;
}

std::string MakeAbsolutePath(const std::string& path, const std::string& base, bool lowerCase) {
    if (base.empty() || !IsSeparator(base.front())) {
        errno = EINVAL;
        ThrowWinapiError("Базовый путь должен быть абсолютным.");
    }
    const std::string unified = UnifySeparators(path);
    std::string result;
    if (!unified.empty() && unified.front() == '/') {
        result = Canonicalize(unified);
    } else {
        result = Canonicalize(UnifySeparators(base) + "/" + unified);
    }
    return lowerCase ? ToLower(result) : result;
}

std::string NormalizePath(const std::string& path, const std::string& base) {
    return ToLower(MakeAbsolutePath(path, base, false));
}

std::string GetModulePath() {
    std::vector<char> buffer(PATH_MAX + 1);
    const ssize_t length = ::readlink("/proc/self/exe", buffer.data(), buffer.size() - 1);
    if (length <= 0) return std::string();
    return std::string(buffer.data(), static_cast<size_t>(length));
}

std::string GetCurrentPath() {
    std::vector<char> buffer(PATH_MAX + 1);
    if (::getcwd(buffer.data(), buffer.size()) == nullptr) {
        ThrowWinapiError("GetCurrentPath exited with err: ");
    }
    std::string result(buffer.data());
    if (result.empty() || result.back() != '/') result += '/';
    return result;
}

bool FileExists(const std::string& path) {
    struct stat info;
    return !path.empty() && ::stat(path.c_str(), &info) == 0;
}

const char* NotRegularReason(uint32_t mode) {
    if (S_ISREG(mode)) return nullptr;
    if (S_ISDIR(mode)) return std::strerror(EISDIR);
    if (S_ISFIFO(mode)) return "Is a named pipe (FIFO), not a regular file";
    if (S_ISCHR(mode) || S_ISBLK(mode)) return "Is a device, not a regular file";
    return "Is not a regular file";
}

namespace {

InputFile Failed(int error) {
    InputFile file;
    file.error = error;
    file.reason = std::strerror(error);
    return file;
}

}  // namespace

InputFile OpenInputFile(const std::string& path) {
    // The kind is checked before the open: opening a device can have effects of
    // its own, and opening a FIFO waits for a writer.
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0) return Failed(errno);
    InputFile file;
    if (const char* reason = NotRegularReason(info.st_mode)) {
        file.reason = reason;
        return file;
    }
    // O_NONBLOCK and a second look: the name may have been replaced meanwhile.
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) return Failed(errno);
    const int flags = ::fcntl(fd, F_GETFL);
    if (::fstat(fd, &info) != 0 || flags < 0) {
        file = Failed(errno);
    } else if (const char* reason = NotRegularReason(info.st_mode)) {
        file.reason = reason;
    } else if (::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) != 0) {
        file = Failed(errno);
    } else if (std::FILE* stream = ::fdopen(fd, "rb")) {
        file.stream.reset(stream);
        file.size = static_cast<uint64_t>(info.st_size);
        return file;
    } else {
        file = Failed(errno);
    }
    ::close(fd);
    return file;
}

void ThrowWinapiError(const std::string& prefix) {
    const int code = errno;
    const char* text = code != 0 ? std::strerror(code) : "";
    throw FileLibException(prefix + text, code, ZORVIK_PLACE("ZORVIK::filesystem::ThrowWinapiError"));
}

}  // namespace ZORVIK::filesystem
