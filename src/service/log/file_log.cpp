#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "service/common/exception.h"
#include "service/common/filesystem.h"
#include "service/common/printf.h"
#include "service/log/log.h"

namespace ZORVIK {

namespace {

constexpr uint32_t CounterLimit = 1000;  // numbers 1..999 are tried

enum class CounterKind { None, FromOne, PlainFirst };

// The name built from a format, with the place where the counter goes.
struct NamePattern {
    std::string text;
    size_t counterPosition = 0;
    CounterKind counter = CounterKind::None;
};

// Six digits: two of the year counted from 2000, then two and two.
std::string SixDigits(int first, int second, int third) { return SafePrintf("%02d%02d%02d", first, second, third); }

NamePattern ExpandFormat(const std::string& path, const std::string& format, const std::tm& localTime) {
    // Each backslash becomes a '/'; runs of separators are kept as they are.
    std::string slashed = path;
    for (char& c : slashed) {
        if (c == '\\') c = '/';
    }
    const filesystem::PathParts parts = filesystem::SplitPath(slashed);
    NamePattern pattern;
    std::string& out = pattern.text;
    for (size_t i = 0; i < format.size(); ++i) {
        if (format[i] != '%') {
            out += format[i];
            continue;
        }
        if (i + 1 == format.size()) {
            out += '%';
            break;
        }
        const char code = format[++i];
        switch (code) {
            case '%': out += '%'; break;
            case 'p': out += parts.directory; break;
            case 'n': out += parts.name; break;
            case 'e': out += parts.extension.empty() ? "" : parts.extension.substr(1); break;  // without the point
            case 'd': out += SixDigits(localTime.tm_year + 1900 - 2000, localTime.tm_mon + 1, localTime.tm_mday); break;
            case 't': out += SixDigits(localTime.tm_hour, localTime.tm_min, localTime.tm_sec); break;
            case 'c':
            case 'z':
                // The last counter code of the format sets both position and kind.
                pattern.counterPosition = out.size();
                pattern.counter = code == 'c' ? CounterKind::FromOne : CounterKind::PlainFirst;
                break;
            default:
                out += '%';
                out += code;
                break;
        }
    }
    return pattern;
}

std::string Candidate(const NamePattern& pattern, uint32_t counter, uint32_t width) {
    std::string name = pattern.text;
    if (counter != 0) name.insert(pattern.counterPosition, SafePrintf("%0*u", static_cast<int>(width), counter));
    return name;
}

bool CanBeRead(const std::string& name) {
    // Non-blocking, so that a named pipe in the log directory is seen as taken
    // instead of holding the search until some process writes to it.
    const int probe = ::open(name.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (probe < 0) return false;
    ::close(probe);
    return true;
}

[[noreturn]] void ThrowCantCreate(const std::string& name, const std::string& refusal = {}) {
    throw Exception("Log file '" + name + "' can't be created" + (refusal.empty() ? "" : ": " + refusal),
                    ZORVIK_PLACE("ZORVIK::FileLog::FileLog"));
}

// Why no log is written to a file of this mode, or nullptr. Opening a FIFO for
// writing waits for a reader, and one whose reader goes away breaks the log;
// a character device (/dev/null, a terminal) takes the text as it comes.
const char* NotALogFileReason(mode_t mode) { return S_ISCHR(mode) ? nullptr : filesystem::NotRegularReason(mode); }

int OpenFlags(const std::string& mode) {
    const bool update = mode.find('+') != std::string::npos;
    int flags = update ? O_RDWR : O_WRONLY;
    switch (mode.empty() ? 'r' : mode[0]) {
        case 'a': flags |= O_CREAT | O_APPEND; break;
        case 'w': flags |= O_CREAT | O_TRUNC; break;
        default: flags = update ? O_RDWR : O_RDONLY; break;
    }
    if (mode.find('x') != std::string::npos) flags |= O_EXCL;
    return flags;
}

// The first free numbered name, created exclusively: a name taken by another
// process between the probe and the creation moves the search on instead of
// sharing (and truncating) that process's log.
std::shared_ptr<std::FILE> CreateNumbered(const NamePattern& pattern, uint32_t width, std::string& chosen) {
    for (uint32_t counter = pattern.counter == CounterKind::FromOne ? 1 : 0; counter < CounterLimit; ++counter) {
        const std::string name = Candidate(pattern, counter, width);
        if (CanBeRead(name)) continue;
        LogFileOpening opening = OpenLogFile(name, "wx");
        if (opening.stream) {
            chosen = name;
            return std::shared_ptr<std::FILE>(opening.stream.release(), std::fclose);
        }
        if (opening.error != EEXIST) ThrowCantCreate(name, opening.error == 0 ? opening.reason : "");
    }
    throw Exception("Log file can't be created", ZORVIK_PLACE("ZORVIK::FileLog::FileLog"));
}

std::tm LocalTimeNow() {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    return local;
}

}  // namespace

LogFileOpening OpenLogFile(const std::string& fileName, const std::string& mode) {
    LogFileOpening opening;
    const auto fail = [&opening](int error) {
        opening.error = error;
        opening.reason = std::strerror(error);
        return std::move(opening);
    };
    const auto refuse = [&opening](const char* reason) {
        opening.reason = reason;
        return std::move(opening);
    };
    const int flags = OpenFlags(mode);
    // The kind is checked before the open, as for settings files and EEPROM
    // images: opening a FIFO or a device can have effects of its own. A new
    // file only (O_EXCL) never opens what is there.
    struct stat info {};
    if ((flags & O_EXCL) == 0 && ::stat(fileName.c_str(), &info) == 0) {
        if (const char* reason = NotALogFileReason(info.st_mode)) return refuse(reason);
    }
    // O_NONBLOCK and a second look: the name may have been replaced meanwhile.
    const int fd = ::open(fileName.c_str(), flags | O_NONBLOCK | O_NOCTTY | O_CLOEXEC, 0666);
    if (fd < 0) return fail(errno);
    int error = 0;
    const char* refusal = nullptr;
    const int fdFlags = ::fcntl(fd, F_GETFL);
    if (::fstat(fd, &info) != 0 || fdFlags < 0) {
        error = errno;
    } else if ((refusal = NotALogFileReason(info.st_mode)) == nullptr) {
        // A terminal or another device then blocks on writes as usual.
        if (::fcntl(fd, F_SETFL, fdFlags & ~O_NONBLOCK) != 0) {
            error = errno;
        } else if (std::FILE* stream = ::fdopen(fd, mode.c_str())) {
            opening.stream.reset(stream);
            return opening;
        } else {
            error = errno;
        }
    }
    ::close(fd);
    return refusal != nullptr ? refuse(refusal) : fail(error);
}

std::shared_ptr<std::FILE> OpenFile(const std::string& fileName, const std::string& mode) {
    LogFileOpening opening = OpenLogFile(fileName, mode);
    if (!opening.stream) ThrowCantCreate(fileName, opening.error == 0 ? opening.reason : "");
    return std::shared_ptr<std::FILE>(opening.stream.release(), std::fclose);
}

FileLog::FileLog(const std::string& path, const std::string& format, uint32_t counterWidth, std::shared_ptr<iLog> next)
    : FileLog(path, format, counterWidth, std::move(next), LocalTimeNow()) {}

FileLog::FileLog(const std::string& path, const std::string& format, uint32_t counterWidth, std::shared_ptr<iLog> next,
                 const std::tm& localTime)
    : LogFilter(std::move(next)) {
    const NamePattern pattern = ExpandFormat(path, format, localTime);
    if (pattern.counter == CounterKind::None) {
        m_fileName = pattern.text;
        m_file = OpenFile(m_fileName, "w");
    } else {
        m_file = CreateNumbered(pattern, counterWidth, m_fileName);
    }
}

FileLog::FileLog(const std::string& fileName, std::shared_ptr<iLog> next)
    : LogFilter(std::move(next)), m_fileName(fileName), m_file(OpenFile(fileName, "a")) {}

void FileLog::WriteRec(const LogRecord& record) {
    const size_t written = std::fwrite(record.text.data(), 1, record.text.size(), m_file.get());
    if (written != record.text.size() || std::fflush(m_file.get()) != 0) {
        const int error = errno;
        std::clearerr(m_file.get());
        throw Exception("Can't write data to '" + m_fileName + "': " + std::strerror(error),
                        ZORVIK_PLACE("ZORVIK::FileLog::WriteRec"));
    }
    PassOn(record);
}

DeletableFileLog::~DeletableFileLog() {
    CloseFile();
    struct stat info {};
    if (stat(GetFileName().c_str(), &info) == 0 && S_ISREG(info.st_mode) && info.st_size == 0) {
        std::remove(GetFileName().c_str());
    }
}

}  // namespace ZORVIK
