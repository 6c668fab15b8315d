#include "sc/drivers/osm/image_file.h"

#include <fcntl.h>
#include <limits.h>
#include <pthread.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <random>

#include "sc/exchange/reader.h"
#include "service/common/exception.h"
#include "service/common/filesystem.h"
#include "service/common/signal_takeover.h"

namespace ZORVIK {

void (*g_beforeImageRename)() = nullptr;

namespace {

// As many links as the kernel follows in one path look-up (Linux MAXSYMLINKS).
constexpr int MaxLinkHops = 40;
constexpr int MaxNameAttempts = 100;

[[noreturn]] void ThrowSaveError(const std::string& path, const std::string& reason) {
    throw CardDrvException("Can't save EEPROM image '" + path + "': " + reason, CardDrvError::General,
                           ZORVIK_PLACE("ZORVIK::OSMReader::SaveEepromFile"));
}

[[noreturn]] void ThrowSaveError(const std::string& path, const char* step, int error) {
    ThrowSaveError(path, std::string(step) + ": " + std::strerror(error));
}

std::string DirectoryOf(const std::string& path) {
    const std::string directory = filesystem::SplitPath(path).directory;
    if (directory.empty()) return ".";
    return directory.size() == 1 ? directory : directory.substr(0, directory.size() - 1);
}

// The file that path names once every symbolic link on its end is followed; a
// dangling link gives the name that the save creates.
std::string FollowLinks(const std::string& path) {
    std::string target = path;
    for (int hop = 0; hop < MaxLinkHops; ++hop) {
        struct stat info {};
        if (::lstat(target.c_str(), &info) != 0 || !S_ISLNK(info.st_mode)) return target;
        std::string link(static_cast<size_t>(info.st_size > 0 ? info.st_size : 255) + 1, '\0');
        const ssize_t length = ::readlink(target.c_str(), link.data(), link.size());
        if (length < 0) ThrowSaveError(path, "readlink", errno);
        link.resize(static_cast<size_t>(length));
        target = !link.empty() && link.front() == '/' ? link : DirectoryOf(target) + "/" + link;
    }
    ThrowSaveError(path, "readlink", ELOOP);
}

// A new file beside target, created exclusively. Its name does not come from
// the process's random engine, which belongs to the simulated card.
int CreateTemporary(const std::string& target, mode_t mode, std::string& name) {
    static const char Letters[] = "abcdefghijklmnopqrstuvwxyz0123456789";
    std::random_device source;
    for (int attempt = 0; attempt < MaxNameAttempts; ++attempt) {
        name = target + ".";
        for (int i = 0; i < 6; ++i) name += Letters[source() % (sizeof Letters - 1)];
        const int fd = ::open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode);
        if (fd >= 0 || errno != EEXIST) return fd;
    }
    errno = EEXIST;
    return -1;
}

// 0, or the errno of the write that failed.
int WriteAll(int fd, const binary::Binary& data) {
    size_t written = 0;
    while (written < data.size()) {
        const ssize_t n = ::write(fd, data.data() + written, data.size() - written);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return n == 0 ? EIO : errno;
        written += static_cast<size_t>(n);
    }
    return 0;
}

// The directory entry made by the rename reaches the disk too.
void SyncDirectory(const std::string& path, const std::string& directory) {
    const int fd = ::open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) ThrowSaveError(path, "open directory", errno);
    // A file system that cannot flush a directory says EINVAL: nothing to do there.
    const int error = ::fsync(fd) != 0 && errno != EINVAL ? errno : 0;
    ::close(fd);
    if (error != 0) ThrowSaveError(path, "fsync directory", error);
}

// The signals by which a terminal or kill ends a run.
constexpr int EndingSignals[] = {SIGINT, SIGTERM, SIGHUP};

// The temporary file that a signal must remove: the name is complete before the
// flag is raised and the flag is lowered before the name changes, so that the
// handler, in any thread, reads a whole name or none.
char g_signalTemporary[PATH_MAX];
std::atomic<bool> g_signalTemporarySet{false};
static_assert(std::atomic<bool>::is_always_lock_free, "the signal handler reads the flag");

// Only async-signal-safe calls: unlink, sigaction, raise.
void RemoveTemporaryAndEnd(int signal) {
    const int savedErrno = errno;
    if (g_signalTemporarySet.load(std::memory_order_acquire)) ::unlink(g_signalTemporary);
    errno = savedErrno;
    signals::RaiseWithDefaultAction(signal);
}

sigset_t EndingSignalSet() {
    sigset_t set;
    ::sigemptyset(&set);
    for (const int signal : EndingSignals) ::sigaddset(&set, signal);
    return set;
}

// Takes over, while it lives, each ending signal whose action is the default
// one, so that a signal during a save removes the temporary file before it
// ends the run. It holds the signals off in this thread while there is nothing
// to remove yet and around the rename: no signal can come between the rename
// and the moment the name stops being watched. One save at a time in the
// process, since there is one name to watch.
class EndingSignalGuard {
public:
    EndingSignalGuard()
        : m_lock(Mutex()), m_previousMask(HoldEnding()), m_takeover(EndingSignals, RemoveTemporaryAndEnd) {}

    ~EndingSignalGuard() {
        Hold();
        g_signalTemporarySet.store(false, std::memory_order_release);
        m_takeover.Restore();
        // A signal that came meanwhile now takes its own action.
        ::pthread_sigmask(SIG_SETMASK, &m_previousMask, nullptr);
    }

    EndingSignalGuard(const EndingSignalGuard&) = delete;
    EndingSignalGuard& operator=(const EndingSignalGuard&) = delete;

    // From now on a signal removes temporary; the signals are let in.
    void Watch(const std::string& temporary) {
        if (temporary.size() < sizeof g_signalTemporary) {
            std::memcpy(g_signalTemporary, temporary.c_str(), temporary.size() + 1);
            g_signalTemporarySet.store(true, std::memory_order_release);
        }
        ::pthread_sigmask(SIG_SETMASK, &m_previousMask, nullptr);
    }

    void Hold() {
        const sigset_t ending = EndingSignalSet();
        ::pthread_sigmask(SIG_BLOCK, &ending, nullptr);
    }

private:
    static std::mutex& Mutex() {
        static std::mutex mutex;
        return mutex;
    }

    // Blocks the ending signals in this thread; returns the mask before.
    static sigset_t HoldEnding() {
        const sigset_t ending = EndingSignalSet();
        sigset_t previous;
        ::pthread_sigmask(SIG_BLOCK, &ending, &previous);
        return previous;
    }

    std::lock_guard<std::mutex> m_lock;
    sigset_t m_previousMask;
    signals::SignalTakeover m_takeover;
};

}  // namespace

void WriteImageFile(const std::string& path, const binary::Binary& image) {
    const std::string target = FollowLinks(path);
    struct stat existing {};
    const bool replacing = ::stat(target.c_str(), &existing) == 0;
    if (replacing) {
        if (const char* reason = filesystem::NotRegularReason(existing.st_mode)) ThrowSaveError(path, reason);
    }
    const char* step = nullptr;
    int error = 0;
    {
        EndingSignalGuard guard;
        // A new image gets the permissions of any new file (0666 less the umask).
        std::string temporary;
        const int fd = CreateTemporary(target, 0666, temporary);
        if (fd < 0) ThrowSaveError(path, "create", errno);
        guard.Watch(temporary);

        error = WriteAll(fd, image);
        if (error != 0) {
            step = "write";
        } else if (replacing && ::fchmod(fd, existing.st_mode & 07777) != 0) {
            step = "fchmod";
            error = errno;
        } else if (::fsync(fd) != 0) {
            step = "fsync";  // the image must be on disk before the rename makes it the target
            error = errno;
        }
        if (::close(fd) != 0 && step == nullptr) {
            step = "close";
            error = errno;
        }
        if (step == nullptr && g_beforeImageRename != nullptr) g_beforeImageRename();
        guard.Hold();
        if (step == nullptr && std::rename(temporary.c_str(), target.c_str()) != 0) {
            step = "rename";
            error = errno;
        }
        if (step != nullptr) ::unlink(temporary.c_str());
    }
    if (step != nullptr) ThrowSaveError(path, step, error);
    SyncDirectory(path, DirectoryOf(target));
}

}  // namespace ZORVIK
