#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <thread>

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

[[noreturn]] void ThrowCantCreate(const std::string& name, const std::string& reason) {
    throw Exception("Log file '" + name + "' can't be created: " + reason, ZORVIK_PLACE("ZORVIK::FileLog::FileLog"));
}

// Why no log is written to a file of this mode, or nullptr. A character device
// (/dev/null, a terminal) takes the text as it comes, and so does a FIFO or a
// pipe, which the open takes only when it has a reader.
const char* NotALogFileReason(mode_t mode) {
    return S_ISCHR(mode) || S_ISFIFO(mode) ? nullptr : filesystem::NotRegularReason(mode);
}

// A FIFO that no process reads would hold the writer (or lose the log): its
// non-blocking open fails with ENXIO and the log is refused instead.
constexpr const char* FifoWithoutReader = "Is a named pipe (FIFO) that has no reader";

int OpenFlags(const std::string& mode) {
    const bool update = mode.find('+') != std::string::npos;
    int flags = update ? O_RDWR : O_WRONLY;
    switch (mode.empty() ? 'r' : mode[0]) {
        case 'a': flags |= O_CREAT | O_APPEND; break;
        // Appending after the truncation too: appends of other processes to the
        // same file then never overwrite this log's records, nor it theirs.
        case 'w': flags |= O_CREAT | O_TRUNC | O_APPEND; break;
        default: flags = update ? O_RDWR : O_RDONLY; break;
    }
    if (mode.find('x') != std::string::npos) flags |= O_EXCL;
    return flags;
}

bool IsFifo(const std::string& name) {
    struct stat info {};
    return ::stat(name.c_str(), &info) == 0 && S_ISFIFO(info.st_mode);
}

bool SameFile(const struct stat& first, const struct stat& second) {
    return first.st_dev == second.st_dev && first.st_ino == second.st_ino;
}

// The name still leads to the file that the descriptor has open; with lstat, a
// symbolic link on the way does not count.
bool NameLeadsTo(const std::string& name, int fd, int (*statName)(const char*, struct stat*) = ::stat) {
    struct stat byName {};
    struct stat byDescriptor {};
    return ::fstat(fd, &byDescriptor) == 0 && statName(name.c_str(), &byName) == 0 && SameFile(byName, byDescriptor);
}

// Standard output or standard error when the name leads to its file
// (/dev/stdout, or the very file that "> out.txt" made), else -1. A log opened
// afresh there would write at an offset of its own, and the console's lines
// would overwrite its entries (or it theirs). A stream open only for reading
// (1<file) takes no log: the name is then opened as any other.
int StandardStreamOf(const std::string& name) {
    for (const int stream : {STDOUT_FILENO, STDERR_FILENO}) {
        const int access = ::fcntl(stream, F_GETFL) & O_ACCMODE;
        if ((access == O_WRONLY || access == O_RDWR) && NameLeadsTo(name, stream)) return stream;
    }
    return -1;
}

// Opens the descriptor of a log file: -1 with errno set, or with refusal set
// when the file is of a kind that takes no log.
int OpenDescriptor(const std::string& name, int flags, const char*& refusal) {
    // The kind is checked before the open, as for settings files and EEPROM
    // images: opening a device can have effects of its own.
    struct stat info {};
    if (::stat(name.c_str(), &info) == 0 && (refusal = NotALogFileReason(info.st_mode)) != nullptr) return -1;
    // No wait in the open (a FIFO without reader, a device), no terminal taken over.
    const int fd = ::open(name.c_str(), flags | O_NONBLOCK | O_NOCTTY | O_CLOEXEC, 0666);
    if (fd < 0 && errno == ENXIO && IsFifo(name)) refusal = FifoWithoutReader;
    return fd;
}

// Every log holds a shared lock on its file for its life: a deletable log
// removes its file only when it gets the exclusive lock, that is when no other
// log has the file open. The exclusive lock is held only for the moment of that
// decision; a lock held longer by some other program is not waited out forever.
// False when the lock is not held: the log then goes on without it.
bool HoldShared(int fd) {
    constexpr int Tries = 2000;
    for (int i = 0; i < Tries; ++i) {
        if (::flock(fd, LOCK_SH | LOCK_NB) == 0) return true;
        // NFS refuses a shared lock on a descriptor open only for writing (EBADF).
        if (errno != EWOULDBLOCK && errno != EINTR) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return false;
}

bool IsEmptyFile(int fd) {
    struct stat info {};
    return ::fstat(fd, &info) == 0 && S_ISREG(info.st_mode) && info.st_size == 0;
}

// The exclusive lock of a log about to remove its file. Silent runs that end
// together each hold the shared lock that stops the others': each lets go of
// its own and tries again for a moment, so that the last of them gets it.
bool TakeExclusive(int fd) {
    constexpr int Tries = 5;
    if (::flock(fd, LOCK_EX | LOCK_NB) == 0) return true;
    ::flock(fd, LOCK_UN);
    for (int i = 0; i < Tries; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
        if (::flock(fd, LOCK_EX | LOCK_NB) == 0) return true;
    }
    return false;
}

// Closes a log's stream and then the descriptor that holds its lock, if that
// is one of its own.
struct CloseLogFile {
    int lockFd = -1;
    void operator()(std::FILE* file) const {
        std::fclose(file);
        if (lockFd >= 0) ::close(lockFd);
    }
};

// A description of a standard stream's file of the log's own, to hold its
// lock: a lock on the duplicate would lock the open file that the shell shares
// with this run (and with whatever else it started), and outlive the log. -1
// when the name no longer leads to the stream's file, or it cannot be opened.
int OpenLockDescriptor(const std::string& name, int streamFd) {
    for (const int access : {O_RDONLY, O_WRONLY}) {
        const int fd = ::open(name.c_str(), access | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
        struct stat byName {};
        struct stat byStream {};
        if (fd >= 0 && ::fstat(fd, &byName) == 0 && ::fstat(streamFd, &byStream) == 0 && SameFile(byName, byStream)) {
            return fd;
        }
        if (fd >= 0) ::close(fd);
        if (fd >= 0 || errno != EACCES) break;
    }
    return -1;
}

// The file log's open: a failure throws, and only a lock on a file of its own
// lets the log remove that file.
std::shared_ptr<std::FILE> OpenFileLog(const std::string& name, const char* mode, bool& removable) {
    LogFileOpening opening = OpenLogFile(name, mode);
    if (!opening.stream) ThrowCantCreate(name, opening.reason);
    removable = opening.locked && !opening.standardStream;
    return opening.stream;
}

// The first free numbered name, created exclusively: a name taken by another
// process between the probe and the creation moves the search on instead of
// sharing (and truncating) that process's log.
std::shared_ptr<std::FILE> CreateNumbered(const NamePattern& pattern, uint32_t width, std::string& chosen,
                                          bool& removable) {
    for (uint32_t counter = pattern.counter == CounterKind::FromOne ? 1 : 0; counter < CounterLimit; ++counter) {
        const std::string name = Candidate(pattern, counter, width);
        if (CanBeRead(name)) continue;
        LogFileOpening opening = OpenLogFile(name, "wx");
        if (opening.stream) {
            chosen = name;
            removable = opening.locked;
            return opening.stream;
        }
        if (opening.error != EEXIST) ThrowCantCreate(name, opening.reason);
    }
    throw Exception("Log file can't be created", ZORVIK_PLACE("ZORVIK::FileLog::FileLog"));
}

std::tm LocalTimeNow() {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    return local;
}

// OpenLogFile without the lock.
LogFileOpening OpenUnlocked(const std::string& fileName, const std::string& mode) {
    LogFileOpening opening;
    const int flags = OpenFlags(mode);
    // Never truncated: what the stream holds already is the run's own output.
    const int stream = (flags & O_ACCMODE) != O_RDONLY && (flags & O_EXCL) == 0 ? StandardStreamOf(fileName) : -1;
    const char* refusal = nullptr;
    const int fd = stream >= 0 ? ::fcntl(stream, F_DUPFD_CLOEXEC, 0) : OpenDescriptor(fileName, flags, refusal);
    int error = fd < 0 ? errno : 0;
    if (fd >= 0) {
        // A second look at the kind: the name may have been replaced meanwhile.
        struct stat info {};
        const int fdFlags = ::fcntl(fd, F_GETFL);
        if (::fstat(fd, &info) != 0 || fdFlags < 0) {
            error = errno;
        } else if ((refusal = NotALogFileReason(info.st_mode)) == nullptr) {
            // A pipe, a terminal or another device then blocks on writes as usual;
            // a duplicated stream keeps its flags, which it shares with the stream
            // ("w": fdopen with "a" would set O_APPEND on it).
            if (stream < 0 && ::fcntl(fd, F_SETFL, fdFlags & ~O_NONBLOCK) != 0) {
                error = errno;
            } else if (std::FILE* file = ::fdopen(fd, stream >= 0 ? "w" : mode.c_str())) {
                opening.stream = std::shared_ptr<std::FILE>(file, CloseLogFile{});
                opening.standardStream = stream >= 0;
                return opening;
            } else {
                error = errno;
            }
        }
        ::close(fd);
    }
    if (refusal != nullptr) {
        opening.reason = refusal;
    } else {
        opening.error = error;
        opening.reason = std::strerror(error);
    }
    return opening;
}

}  // namespace

// Every log that writes into a regular file holds a shared lock on it for its
// life, so that no deletable log of any run removes the file under it. A file
// removed (or replaced) between the open and the lock, by a deletable log that
// saw it empty and unused, is opened again, so that no record goes to a file
// without a name.
LogFileOpening OpenLogFile(const std::string& fileName, const std::string& mode) {
    constexpr int Attempts = 100;
    for (int attempt = 1;; ++attempt) {
        LogFileOpening opening = OpenUnlocked(fileName, mode);
        if (!opening.stream) return opening;
        const int fd = ::fileno(opening.stream.get());
        struct stat info {};
        if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) return opening;
        const int lockFd = opening.standardStream ? OpenLockDescriptor(fileName, fd) : fd;
        if (lockFd != fd && lockFd >= 0) std::get_deleter<CloseLogFile>(opening.stream)->lockFd = lockFd;
        opening.locked = lockFd >= 0 && HoldShared(lockFd);
        if (attempt == Attempts || NameLeadsTo(fileName, fd)) return opening;
    }
}

std::shared_ptr<std::FILE> OpenFile(const std::string& fileName, const std::string& mode) {
    LogFileOpening opening = OpenUnlocked(fileName, mode);
    if (!opening.stream) ThrowCantCreate(fileName, opening.reason);
    return opening.stream;
}

int AppendRecord(std::FILE* file, const std::string& text) {
    // Appends of different processes never interleave inside one write to an
    // O_APPEND descriptor; a stream would cut a long record at its buffer size.
    const int fd = ::fileno(file);
    const char* data = text.data();
    size_t left = text.size();
    while (left > 0) {
        const ssize_t written = ::write(fd, data, left);
        if (written < 0 && errno == EINTR) continue;
        if (written < 0) return errno;
        if (written == 0) return EIO;  // no progress and no reason: never spin
        data += written;
        left -= static_cast<size_t>(written);
    }
    return 0;
}

FileLog::FileLog(const std::string& path, const std::string& format, uint32_t counterWidth, std::shared_ptr<iLog> next)
    : FileLog(path, format, counterWidth, std::move(next), LocalTimeNow()) {}

FileLog::FileLog(const std::string& path, const std::string& format, uint32_t counterWidth, std::shared_ptr<iLog> next,
                 const std::tm& localTime)
    : LogFilter(std::move(next)) {
    const NamePattern pattern = ExpandFormat(path, format, localTime);
    if (pattern.counter == CounterKind::None) {
        m_fileName = pattern.text;
        m_file = OpenFileLog(m_fileName, "w", m_removable);
    } else {
        m_file = CreateNumbered(pattern, counterWidth, m_fileName, m_removable);
    }
}

FileLog::FileLog(const std::string& fileName, std::shared_ptr<iLog> next)
    : LogFilter(std::move(next)), m_fileName(fileName) {
    m_file = OpenFileLog(fileName, "a", m_removable);
}

void FileLog::WriteRec(const LogRecord& record) {
    if (const int error = AppendRecord(m_file.get(), record.text)) {
        throw Exception("Can't write data to '" + m_fileName + "': " + std::strerror(error),
                        ZORVIK_PLACE("ZORVIK::FileLog::WriteRec"));
    }
    PassOn(record);
}

void FileLog::CloseFile(bool removeWhenUnused) {
    // Decided on the descriptor, not on the name: the exclusive lock fails
    // while another log holds the file open, the size shows any record of any
    // run, and the name must still lead to this very file. Whoever made the
    // file (a run killed before its first record, a truncating run, the user)
    // does not matter. A log that opened the file but has not locked it yet
    // finds the name gone once it has, and opens the file again. Without its
    // own shared lock the log cannot tell whether others hold the file (their
    // locks may fail alike), so it keeps the file.
    if (removeWhenUnused && m_file && m_removable) {
        const int fd = ::fileno(m_file.get());
        if (IsEmptyFile(fd) && TakeExclusive(fd) && IsEmptyFile(fd) && NameLeadsTo(m_fileName, fd, ::lstat)) {
            ::unlink(m_fileName.c_str());
        }
    }
    m_file.reset();
}

DeletableFileLog::~DeletableFileLog() { CloseFile(true); }

}  // namespace ZORVIK
