// Signal handlers of our own for the moments when a signal must put something
// right before it ends (or stops) the run: taken only from signals whose action
// is the default one, and given back afterwards.
#pragma once

#include <signal.h>

#include <span>
#include <utility>
#include <vector>

namespace ZORVIK::signals {

// Gives handler, while it lives, each of the signals whose action is the
// default one: an ignored signal (SIGHUP under nohup) or the program's own
// handler is left alone. While handler runs, all of the signals are held off.
class SignalTakeover {
public:
    SignalTakeover(std::span<const int> signals, void (*handler)(int));
    ~SignalTakeover() { Restore(); }
    SignalTakeover(const SignalTakeover&) = delete;
    SignalTakeover& operator=(const SignalTakeover&) = delete;

    // Puts the previous actions back now rather than at the end of life.
    void Restore();

private:
    std::vector<std::pair<int, struct sigaction>> m_taken;  // signal and its previous action
};

// For a handler, async-signal-safe: gives signal its default action and raises
// it again, so that it ends the run as it would have without the handler (the
// exit status names it). Held off while the handler runs, it comes as the
// handler returns.
void RaiseWithDefaultAction(int signal);

// For a handler of a stop signal (SIGTSTP), async-signal-safe: stops the
// process with the default action here and now, and takes signal over again
// once the process is continued.
void StopWithDefaultAction(int signal);

}  // namespace ZORVIK::signals
