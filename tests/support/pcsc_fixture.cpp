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

constexpr const char* Pcscd = "/usr/sbin/pcscd";
constexpr const char* VpcdDriver = "/usr/lib/pcsc/drivers/serial/libifdvpcd.so";

// Whether something could listen on the port on every interface, as vpcd does.
bool PortFree(uint16_t port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    const bool free = fd >= 0 && ::bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
    ::close(fd);
    return free;
}

// A pair of ports below Linux's ephemeral range, so that no outgoing connection
// takes one of them meanwhile.
uint16_t PickPortPair() {
    std::mt19937 random(std::random_device{}() ^ static_cast<unsigned>(::getpid()));
    for (int attempt = 0; attempt < 200; ++attempt) {
        const auto port = static_cast<uint16_t>(std::uniform_int_distribution<int>(10000, 16000)(random) * 2);
        if (PortFree(port) && PortFree(static_cast<uint16_t>(port + 1))) return port;
    }
    return 0;
}

std::string Tail(const std::string& path) {
    std::stringstream text;
    text << std::ifstream(path).rdbuf();
    const std::string all = text.str();
    return all.size() > 2000 ? all.substr(all.size() - 2000) : all;
}

bool ReadersListed() {
    SCARDCONTEXT context = 0;
    if (SCardEstablishContext(SCARD_SCOPE_USER, nullptr, nullptr, &context) != SCARD_S_SUCCESS) return false;
    char names[1024] = {};
    DWORD length = sizeof names;
    const bool listed = SCardListReaders(context, nullptr, names, &length) == SCARD_S_SUCCESS &&
                        std::string(names, length).find(PrivatePcscd::Reader1) != std::string::npos;
    SCardReleaseContext(context);
    return listed;
}

}  // namespace

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
    if (::access(Pcscd, X_OK) != 0) {
        m_failure = "pcscd is not installed (Debian package pcscd)";
    } else if (!std::filesystem::exists(VpcdDriver)) {
        m_failure = "the vpcd driver is not installed (Debian package vsmartcard-vpcd)";
    }
    for (int attempt = 0; attempt < 3 && m_failure.empty() && m_pid <= 0; ++attempt) {
        const uint16_t port = PickPortPair();
        if (port == 0) m_failure = "no free pair of TCP ports for vpcd";
        if (port == 0 || StartOnPort(port)) break;
    }
}

PrivatePcscd::~PrivatePcscd() {
    if (::getpid() != m_owner) return;
    if (m_pid > 0) {
        ::kill(m_pid, SIGTERM);
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
        while (::waitpid(m_pid, nullptr, WNOHANG) == 0) {
            if (std::chrono::steady_clock::now() >= deadline) {
                ::kill(m_pid, SIGKILL);
                ::waitpid(m_pid, nullptr, 0);
                break;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
    }
    std::error_code ignored;
    if (!m_dir.empty()) std::filesystem::remove_all(m_dir, ignored);
}

bool PrivatePcscd::StartOnPort(uint16_t port) {
    const std::string confDir = m_dir + "/reader.conf.d";
    const std::string logPath = m_dir + "/pcscd.log";
    std::filesystem::create_directories(confDir);
    std::ofstream(confDir + "/vpcd") << "FRIENDLYNAME \"Virtual PCD\"\nDEVICENAME /dev/null:" << port << "\nLIBPATH "
                                     << VpcdDriver << "\nCHANNELID " << port << "\n";

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
        ::close(listener);
        return false;
    }
    ::chmod(m_socketPath.c_str(), 0666);

    // Everything the child needs is prepared before fork: after it only
    // async-signal-safe calls are made. LISTEN_PID must name pcscd's own
    // process, known only in the child: the shell sets it and execs pcscd.
    std::string script = std::string("export LISTEN_PID=$$; exec ") + Pcscd + " --foreground --config \"$0\"";
    std::string shell = "sh", dash = "-c";
    char* argv[] = {shell.data(), dash.data(), script.data(), const_cast<char*>(confDir.c_str()), nullptr};
    std::string listenFds = "LISTEN_FDS=1", path = "PATH=/usr/sbin:/usr/bin:/sbin:/bin";
    char* envp[] = {listenFds.data(), path.data(), nullptr};
    const int logFd = ::open(logPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);

    const pid_t parent = ::getpid();
    const pid_t child = ::fork();
    if (child == 0) {
        ::prctl(PR_SET_PDEATHSIG, SIGTERM);
        if (::getppid() != parent) ::_exit(126);
        ::dup2(logFd, 1);
        ::dup2(logFd, 2);
        if (listener != 3) ::dup2(listener, 3);  // made without close-on-exec: inherited
        ::execve("/bin/sh", argv, envp);
        ::_exit(127);
    }
    ::close(listener);
    ::close(logFd);

    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (std::chrono::steady_clock::now() < deadline) {
        int status = 0;
        if (child < 0 || ::waitpid(child, &status, WNOHANG) == child) {
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

bool PrivatePcscd::WaitForCard(const char* reader, bool present, std::chrono::milliseconds timeout) const {
    SCARDCONTEXT context = 0;
    if (SCardEstablishContext(SCARD_SCOPE_USER, nullptr, nullptr, &context) != SCARD_S_SUCCESS) return false;
    SCARD_READERSTATE state{};
    state.szReader = reader;
    bool reached = false;
    for (const auto deadline = std::chrono::steady_clock::now() + timeout;
         !reached && std::chrono::steady_clock::now() < deadline;) {
        // Unaware of any state, the call reports the current one at once.
        state.dwCurrentState = SCARD_STATE_UNAWARE;
        reached = SCardGetStatusChange(context, 0, &state, 1) == SCARD_S_SUCCESS &&
                  ((state.dwEventState & SCARD_STATE_PRESENT) != 0) == present;
        if (!reached) std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    SCardReleaseContext(context);
    return reached;
}

void PcscdTest::SetUp() {
    PrivatePcscd& pcscd = PrivatePcscd::Get();
    if (pcscd.Running()) return;
    if (const char* ci = std::getenv("CI");
        ci != nullptr && *ci != '\0' && std::strcmp(ci, "false") != 0 && std::strcmp(ci, "0") != 0) {
        FAIL() << "end-to-end PC/SC test needs a private pcscd: " << pcscd.Failure();
    }
    GTEST_SKIP() << "end-to-end PC/SC test skipped: " << pcscd.Failure();
}

void PcscdTest::TearDown() {
    if (m_card && m_card->Inserted()) RemoveCard();
}

void PcscdTest::InsertCard(const char* atr, bool t1) {
    m_card = std::make_unique<VpcdCard>(atr);
    m_card->Model().SetT1(t1);
    ASSERT_TRUE(m_card->Insert(Pcscd().CardPort())) << "vpcd did not take the virtual card";
    ASSERT_TRUE(Pcscd().WaitForCard(PrivatePcscd::Reader0, true)) << "pcscd did not see the card";
}

void PcscdTest::RemoveCard() {
    m_card->Remove();
    EXPECT_TRUE(Pcscd().WaitForCard(PrivatePcscd::Reader0, false)) << "pcscd did not see the card go";
}

}  // namespace ZORVIK::test
