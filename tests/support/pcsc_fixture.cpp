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

#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <thread>

namespace ZORVIK::test {

namespace {

constexpr const char* Pcscd = "/usr/sbin/pcscd";
constexpr const char* VpcdDriver = "/usr/lib/pcsc/drivers/serial/libifdvpcd.so";

// A pair of ports free on every interface (where vpcd listens), below Linux's
// ephemeral range, so that no outgoing connection takes one of them meanwhile.
uint16_t PickPortPair() {
    std::mt19937 random(std::random_device{}());
    for (int attempt = 0; attempt < 200; ++attempt) {
        const auto port = static_cast<uint16_t>(20000 + random() % 6000 * 2);
        bool free = true;
        for (const int candidate : {int{port}, port + 1}) {
            const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
            sockaddr_in address{};
            address.sin_family = AF_INET;
            address.sin_port = htons(static_cast<uint16_t>(candidate));
            free = free && ::bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
            ::close(fd);
        }
        if (free) return port;
    }
    return 0;
}

std::string Tail(const std::string& path) {
    std::ifstream in(path);
    const std::string all{std::istreambuf_iterator<char>(in), {}};
    return all.substr(all.size() > 2000 ? all.size() - 2000 : 0);
}

}  // namespace

PrivatePcscd& PrivatePcscd::Get() {
    static PrivatePcscd instance;
    return instance;
}

PrivatePcscd::PrivatePcscd() {
    char dirTemplate[] = "/tmp/zorvik-pcscd-XXXXXX";
    m_dir = ::mkdtemp(dirTemplate) != nullptr ? dirTemplate : "/tmp";
    m_socketPath = m_dir + "/pcscd.comm";
    // Before the client library's first call, which fixes the socket it uses.
    ::setenv("PCSCLITE_CSOCK_NAME", m_socketPath.c_str(), 1);
    if (::access(Pcscd, X_OK) != 0 || !std::filesystem::exists(VpcdDriver)) {
        m_failure = "pcscd or the vpcd driver is not installed (Debian packages pcscd, vsmartcard-vpcd)";
    }
    for (int attempt = 0; attempt < 3 && m_failure.empty() && m_pid <= 0; ++attempt) {
        m_port = PickPortPair();
        if (m_port == 0 || StartOnPort(m_port)) break;
    }
}

PrivatePcscd::~PrivatePcscd() {
    if (::getpid() != m_owner) return;
    if (m_pid > 0) {
        ::kill(m_pid, SIGTERM);
        int waits = 0;
        while (::waitpid(m_pid, nullptr, WNOHANG) == 0 && ++waits < 250) {
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        if (waits == 250) {  // still running after five seconds
            ::kill(m_pid, SIGKILL);
            ::waitpid(m_pid, nullptr, 0);
        }
    }
    std::error_code ignored;
    if (m_dir != "/tmp") std::filesystem::remove_all(m_dir, ignored);
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
    if (::bind(listener, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(listener, SOMAXCONN) != 0) {
        m_failure = "cannot listen on " + m_socketPath + ": " + std::strerror(errno);
        ::close(listener);
        return false;
    }
    ::chmod(m_socketPath.c_str(), 0666);

    // Everything the child needs is prepared before fork: after it only
    // async-signal-safe calls are made. LISTEN_PID must name pcscd's own
    // process, known only in the child: a shell sets it and becomes pcscd.
    std::string script = std::string("export LISTEN_PID=$$; exec ") + Pcscd + " --foreground --config \"$0\"";
    std::string shell = "sh", option = "-c", listenFds = "LISTEN_FDS=1", path = "PATH=/usr/sbin:/usr/bin:/sbin:/bin";
    char* argv[] = {shell.data(), option.data(), script.data(), const_cast<char*>(confDir.c_str()), nullptr};
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

    // Up when it lists the second of vpcd's readers.
    for (int waits = 0; waits < 200; ++waits) {
        int status = 0;
        if (child < 0 || ::waitpid(child, &status, WNOHANG) == child) {
            m_failure = "pcscd ended at start (status " + std::to_string(status) + "). Its output:\n" + Tail(logPath);
            return false;
        }
        SCARDCONTEXT context = 0;
        char names[1024] = {};
        DWORD length = sizeof names;
        const bool listed = SCardEstablishContext(SCARD_SCOPE_USER, nullptr, nullptr, &context) == SCARD_S_SUCCESS &&
                            SCardListReaders(context, nullptr, names, &length) == SCARD_S_SUCCESS &&
                            std::string(names, length).find(Reader1) != std::string::npos;
        SCardReleaseContext(context);
        if (listed) {
            m_pid = child;
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
    SCardEstablishContext(SCARD_SCOPE_USER, nullptr, nullptr, &context);
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
    const std::string ci = std::getenv("CI") ? std::getenv("CI") : "";
    if (Pcscd().Running()) return;
    if (ci != "" && ci != "false" && ci != "0")
        FAIL() << "end-to-end PC/SC test needs a private pcscd: " << Pcscd().Failure();
    GTEST_SKIP() << "end-to-end PC/SC test skipped: " << Pcscd().Failure();
}

void PcscdTest::TearDown() {
    if (m_card) RemoveCard();
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
