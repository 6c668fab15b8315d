// A private pcscd for end-to-end tests: started once per test program with its
// own socket (handed over by socket activation), its own reader configuration
// (the vpcd driver on a port of its own, on every interface as vpcd listens) and
// stopped by its process id. The system's pcscd, if any, is left alone.
//
// Readers "Virtual PCD 00 00" (port CardPort()) and "Virtual PCD 00 01" (port
// CardPort() + 1) wait for a VpcdCard (support/vpcd_card.h) to be inserted.
//
// pcsc-lite's client library reads PCSCLITE_CSOCK_NAME once per process, at its
// first call: PrivatePcscd::Get() must come before any PC/SC call of the program.
#pragma once

#include <gtest/gtest.h>
#include <sys/types.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>

#include "support/vpcd_card.h"

namespace ZORVIK::test {

class PrivatePcscd {
public:
    static constexpr const char* Reader0 = "Virtual PCD 00 00";
    static constexpr const char* Reader1 = "Virtual PCD 00 01";

    // The instance of this program, started at the first call (at most three
    // ports are tried, each for at most ten seconds) and stopped at exit.
    static PrivatePcscd& Get();

    bool Running() const { return m_pid > 0; }
    // Why the daemon is not running, with the tail of its output.
    const std::string& Failure() const { return m_failure; }
    // vpcd's port for Reader0; Reader1 listens on the next one.
    uint16_t CardPort() const { return m_port; }
    // What a child process (such as qxw) needs in PCSCLITE_CSOCK_NAME to reach this daemon.
    const std::string& SocketPath() const { return m_socketPath; }

    // Waits until pcscd reports a card in the reader (present) or none; false
    // when that did not happen within the time.
    bool WaitForCard(const char* reader, bool present,
                     std::chrono::milliseconds timeout = std::chrono::seconds(5)) const;

    ~PrivatePcscd();
    PrivatePcscd(const PrivatePcscd&) = delete;
    PrivatePcscd& operator=(const PrivatePcscd&) = delete;

private:
    PrivatePcscd();
    bool StartOnPort(uint16_t port);

    std::string m_dir;
    std::string m_socketPath;
    uint16_t m_port = 0;
    pid_t m_pid = -1;
    // The process that started pcscd; a forked copy (a death test's child,
    // which may run static destructors through exit) must leave it alone.
    pid_t m_owner = ::getpid();
    std::string m_failure;
};

// Base of end-to-end test fixtures: skips (locally) or fails (in CI, the CI
// variable set and not "false" or "0") with the daemon's failure text when the
// private pcscd cannot be started. A card it inserts leaves at the end of the
// test while pcscd still runs, so that the next test finds the reader empty.
class PcscdTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;
    PrivatePcscd& Pcscd() { return PrivatePcscd::Get(); }

    // A virtual card with the ATR in Reader0, seen by pcscd.
    void InsertCard(const char* atr = VpcdCardModel::AtrT1, bool t1 = true);
    void RemoveCard();
    VpcdCardModel& Card() { return m_card->Model(); }

    std::unique_ptr<VpcdCard> m_card;
};

}  // namespace ZORVIK::test
