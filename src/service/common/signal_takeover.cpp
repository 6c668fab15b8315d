#include "service/common/signal_takeover.h"

#include <cerrno>

namespace ZORVIK::signals {

namespace {

struct sigaction DefaultAction() {
    struct sigaction fallback {};
    fallback.sa_handler = SIG_DFL;
    ::sigemptyset(&fallback.sa_mask);
    return fallback;
}

}  // namespace

SignalTakeover::SignalTakeover(std::span<const int> signals, void (*handler)(int)) {
    struct sigaction ours {};
    ours.sa_handler = handler;
    ::sigemptyset(&ours.sa_mask);
    for (const int signal : signals) ::sigaddset(&ours.sa_mask, signal);
    m_taken.reserve(signals.size());
    for (const int signal : signals) {
        struct sigaction previous {};
        if (::sigaction(signal, nullptr, &previous) != 0) continue;
        // Ignored, or the program's own handler: the program decides.
        if ((previous.sa_flags & SA_SIGINFO) != 0 || previous.sa_handler != SIG_DFL) continue;
        if (::sigaction(signal, &ours, nullptr) == 0) m_taken.emplace_back(signal, previous);
    }
}

void SignalTakeover::Restore() {
    for (const auto& [signal, previous] : m_taken) ::sigaction(signal, &previous, nullptr);
    m_taken.clear();
}

void RaiseWithDefaultAction(int signal) {
    const int savedErrno = errno;
    const struct sigaction fallback = DefaultAction();
    ::sigaction(signal, &fallback, nullptr);
    ::raise(signal);
    errno = savedErrno;
}

void StopWithDefaultAction(int signal) {
    const int savedErrno = errno;
    const struct sigaction fallback = DefaultAction();
    struct sigaction ours {};
    ::sigaction(signal, &fallback, &ours);
    sigset_t only;
    ::sigemptyset(&only);
    ::sigaddset(&only, signal);
    // Held off while this handler runs: let in, the raised signal stops the
    // process inside raise, which returns when the process is continued.
    ::sigprocmask(SIG_UNBLOCK, &only, nullptr);
    ::raise(signal);
    ::sigprocmask(SIG_BLOCK, &only, nullptr);
    ::sigaction(signal, &ours, nullptr);
    errno = savedErrno;
}

}  // namespace ZORVIK::signals
