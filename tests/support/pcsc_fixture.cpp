#include "support/pcsc_fixture.h"

#include <PCSC/winscard.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <thread>
#include <vector>

namespace ZORVIK::test {

namespace {

constexpr auto kStartLimit = std::chrono::seconds(10);
constexpr auto kStopLimit = std::chrono::seconds(5);
constexpr int kPortAttempts = 3;

// Whether something could listen on the port on every interface, as vpcd does.
bool PortFree(uint16_t port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return false;
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_ANY);
    const bool free = ::bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
    ::close(fd);
    return free;
}

// A pair of ports below Linux's ephemeral range, so that no outgoing connection
// takes one of them meanwhile.
uint16_t PickPortPair() {
    std::random_device seed;
    std::mt19937 random(seed() ^ static_cast<unsigned>(::getpid()));
    std::uniform_int_distribution<int> pick(10000, 16000);
    for (int attempt = 0; attempt < 200; ++attempt) {
        const auto port = static_cast<uint16_t>(pick(random) * 2);
        if (PortFree(port) && PortFree(static_cast<uint16_t>(port + 1))) return port;
    }
    return 0;
}

std::string Tail(const std::string& path, size_t maxLength = 2000) {
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    const std::string all = text.str();
    return all.size() > maxLength ? all.substr(all.size() - maxLength) : all;
}

bool ReadersListed() {
    SCARDCONTEXT context = 0;
    if (SCardEstablishContext(SCARD_SCOPE_USER, nullptr, nullptr, &context) != SCARD_S_SUCCESS) return false;
    char names[1024] = {};
    DWORD length = sizeof names;
    const LONG result = SCardListReaders(context, nullptr, names, &length);
    SCardReleaseContext(context);
    if (result != SCARD_S_SUCCESS) return false;
    bool first = false;
    bool second = false;
    for (const char* name = names; *name != '\0' && name < names + sizeof names; name += std::strlen(name) + 1) {
        first = first || std::strcmp(name, PrivatePcscd::Reader0) == 0;
        second = second || std::strcmp(name, PrivatePcscd::Reader1) == 0;
    }
    return first && second;
}

const char* FindPcscd() {
    for (const char* path : {"/usr/sbin/pcscd", "/usr/local/sbin/pcscd", "/sbin/pcscd"}) {
        if (::access(path, X_OK) == 0) return path;
    }
    return nullptr;
}

}  // namespace

bool RunningInCi() {
    const char* ci = std::getenv("CI");
    return ci != nullptr && *ci != '\0' && std::strcmp(ci, "false") != 0 && std::strcmp(ci, "0") != 0;
}

PrivatePcscd& PrivatePcscd::Get() {
    static PrivatePcscd instance;
    return instance;
}

PrivatePcscd::PrivatePcscd() {
    char dirTemplate[] = "/tmp/zorvik-pcscd-XXXXXX";
    if (::mkdtemp(dirTemplate) == nullptr) {
        m_failure = "cannot create a directory for pcscd: " + std::string(std::strerror(errno));
        return;
    }
    m_dir = dirTemplate;
    m_socketPath = m_dir + "/pcscd.comm";
    // Before the client library's first call, which fixes the socket it uses.
    ::setenv("PCSCLITE_CSOCK_NAME", m_socketPath.c_str(), 1);
    if (FindPcscd() == nullptr) {
        m_failure = "pcscd is not installed (Debian package pcscd)";
        return;
    }
    if (!std::filesystem::exists("/usr/lib/pcsc/drivers/serial/libifdvpcd.so")) {
        m_failure = "the vpcd driver is not installed (Debian package vsmartcard-vpcd)";
        return;
    }
    for (int attempt = 0; attempt < kPortAttempts && m_pid <= 0; ++attempt) {
        const uint16_t port = PickPortPair();
        if (port == 0) {
            m_failure = "no free pair of TCP ports for vpcd";
            break;
        }
        StartOnPort(port);
    }
}

PrivatePcscd::~PrivatePcscd() {
    if (::getpid() != m_owner) return;
    Stop();
    if (!m_dir.empty()) {
        std::error_code ignored;
        std::filesystem::remove_all(m_dir, ignored);
    }
}

bool PrivatePcscd::StartOnPort(uint16_t port) {
    const std::string confDir = m_dir + "/reader.conf.d";
    const std::string logPath = m_dir + "/pcscd.log";
    std::filesystem::create_directories(confDir);
    {
        std::ofstream conf(confDir + "/vpcd");
        conf << "FRIENDLYNAME \"Virtual PCD\"\n"
             << "DEVICENAME /dev/null:" << port << "\n"
             << "LIBPATH /usr/lib/pcsc/drivers/serial/libifdvpcd.so\n"
             << "CHANNELID " << port << "\n";
    }

    // The listening socket is made here and handed over as systemd would
    // (LISTEN_FDS), so that pcscd serves it instead of the system-wide socket.
    ::unlink(m_socketPath.c_str());
    const int listener = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, m_socketPath.c_str(), sizeof address.sun_path - 1);
    if (listener < 0 || ::bind(listener, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(listener, SOMAXCONN) != 0) {
        m_failure = "cannot listen on " + m_socketPath + ": " + std::strerror(errno);
        if (listener >= 0) ::close(listener);
        return false;
    }
    ::chmod(m_socketPath.c_str(), 0666);

    // Everything the child needs is prepared before fork: after it only
    // async-signal-safe calls are made.
    const char* pcscd = FindPcscd();
    std::vector<std::string> arguments{"pcscd", "--foreground", "--config", confDir};
    std::vector<char*> argv;
    for (std::string& argument : arguments) argv.push_back(argument.data());
    argv.push_back(nullptr);
    std::vector<std::string> environment{"LISTEN_FDS=1", "PATH=/usr/sbin:/usr/bin:/sbin:/bin"};
    std::vector<char*> envp;
    for (std::string& entry : environment) envp.push_back(entry.data());
    envp.push_back(nullptr);
    const int logFd = ::open(logPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);

    const pid_t parent = ::getpid();
    const pid_t child = ::fork();
    if (child == 0) {
        ::prctl(PR_SET_PDEATHSIG, SIGTERM);
        if (::getppid() != parent) ::_exit(126);
        // LISTEN_PID must name pcscd's own process, known only now: written by hand.
        char pidEntry[32] = "LISTEN_PID=";
        char digits[16];
        int count = 0;
        for (pid_t self = ::getpid(); self > 0 && count < 15; self /= 10)
            digits[count++] = static_cast<char>('0' + self % 10);
        size_t at = std::strlen(pidEntry);
        while (count > 0) pidEntry[at++] = digits[--count];
        pidEntry[at] = '\0';
        char* childEnv[4] = {envp[0], envp[1], pidEntry, nullptr};
        if (listener != 3) {
            ::dup2(listener, 3);
        } else {
            ::fcntl(3, F_SETFD, 0);
        }
        if (logFd >= 0) {
            ::dup2(logFd, 1);
            ::dup2(logFd, 2);
        }
        ::execve(pcscd, argv.data(), childEnv);
        ::_exit(127);
    }
    ::close(listener);
    if (logFd >= 0) ::close(logFd);
    if (child < 0) {
        m_failure = std::string("fork failed: ") + std::strerror(errno);
        return false;
    }

    const auto deadline = std::chrono::steady_clock::now() + kStartLimit;
    while (std::chrono::steady_clock::now() < deadline) {
        int status = 0;
        if (::waitpid(child, &status, WNOHANG) == child) {
            m_failure =
                "pcscd ended at start (wait status " + std::to_string(status) + "). Its output:\n" + Tail(logPath);
            return false;
        }
        if (ReadersListed()) {
            m_pid = child;
            m_port = port;
            m_failure.clear();
            return true;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    m_failure = "pcscd did not list the vpcd readers within 10 s (port " + std::to_string(port) + "). Its output:\n" +
                Tail(logPath);
    ::kill(child, SIGKILL);
    ::waitpid(child, nullptr, 0);
    return false;
}

void PrivatePcscd::Stop() {
    if (m_pid <= 0) return;
    ::kill(m_pid, SIGTERM);
    const auto deadline = std::chrono::steady_clock::now() + kStopLimit;
    while (::waitpid(m_pid, nullptr, WNOHANG) == 0) {
        if (std::chrono::steady_clock::now() >= deadline) {
            ::kill(m_pid, SIGKILL);
            ::waitpid(m_pid, nullptr, 0);
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    m_pid = -1;
}

bool PrivatePcscd::WaitForCard(const char* reader, bool present, std::chrono::milliseconds timeout) const {
    SCARDCONTEXT context = 0;
    if (SCardEstablishContext(SCARD_SCOPE_USER, nullptr, nullptr, &context) != SCARD_S_SUCCESS) return false;
    SCARD_READERSTATE state{};
    state.szReader = reader;
    state.dwCurrentState = SCARD_STATE_UNAWARE;
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    bool reached = false;
    for (;;) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        const LONG result =
            SCardGetStatusChange(context, static_cast<DWORD>(std::max<int64_t>(left.count(), 0)), &state, 1);
        if (result == SCARD_S_SUCCESS) {
            if (((state.dwEventState & SCARD_STATE_PRESENT) != 0) == present) {
                reached = true;
                break;
            }
            state.dwCurrentState = state.dwEventState & ~static_cast<DWORD>(SCARD_STATE_CHANGED);
        } else if (result != SCARD_E_TIMEOUT) {
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        if (std::chrono::steady_clock::now() >= deadline) break;
    }
    SCardReleaseContext(context);
    return reached;
}

void PcscdTest::SetUp() {
    PrivatePcscd& pcscd = PrivatePcscd::Get();
    if (pcscd.Running()) return;
    if (RunningInCi()) {
        FAIL() << "end-to-end PC/SC test needs a private pcscd: " << pcscd.Failure();
    }
    GTEST_SKIP() << "end-to-end PC/SC test skipped: " << pcscd.Failure();
}

}  // namespace ZORVIK::test
