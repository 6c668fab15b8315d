#include "sc/drivers/osm/image_file.h"

#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "sc/drivers/osm/osm.h"
#include "support/processes.h"
#include "support/test_dir.h"

namespace ZORVIK {
namespace {

using binary::Binary;
namespace fs = std::filesystem;

constexpr int WaitSeconds = 30;

// The child's ends of the two pipes: it tells the test that the save is in its
// middle, then waits for the test's word to go on.
int g_readyFd = -1;
int g_goFd = -1;
volatile sig_atomic_t g_ownHandlerRan = 0;

void HoldTheSave() {
    const char ready = 'r';
    if (::write(g_readyFd, &ready, 1) != 1) ::_exit(10);
    char go = 0;
    while (::read(g_goFd, &go, 1) < 0 && errno == EINTR) {
    }
}

void OwnHandler(int) { g_ownHandlerRan = 1; }

enum class Disposition { Default, Ignored, OwnHandler };

sighandler_t ActionOf(int signal) {
    struct sigaction action {};
    ::sigaction(signal, nullptr, &action);
    return action.sa_handler;
}

// In the child: only the save and _exit. 0 when the save ended normally and
// left all three signals' actions and the signal mask as it found them.
[[noreturn]] void SaveInChild(const std::string& path, const Binary& image, int signal, Disposition disposition) {
    if (disposition != Disposition::Default)
        ::signal(signal, disposition == Disposition::Ignored ? SIG_IGN : OwnHandler);
    const int ending[] = {SIGINT, SIGTERM, SIGHUP};
    sighandler_t before[3];
    for (int i = 0; i < 3; ++i) before[i] = ActionOf(ending[i]);
    g_beforeImageRename = HoldTheSave;
    try {
        WriteImageFile(path, image);
    } catch (...) {
        ::_exit(11);
    }
    sigset_t mask;
    ::sigprocmask(SIG_BLOCK, nullptr, &mask);
    for (int i = 0; i < 3; ++i) {
        if (ActionOf(ending[i]) != before[i] || ::sigismember(&mask, ending[i])) ::_exit(12);
    }
    ::_exit(disposition == Disposition::OwnHandler && g_ownHandlerRan == 0 ? 13 : 0);
}

// The child's status once it has ended; a child still there after the bound is killed.
int WaitForSavingChild(pid_t child) {
    const test::ChildEnd end =
        test::WaitForChild(child, std::chrono::steady_clock::now() + std::chrono::seconds(WaitSeconds));
    if (end.killed) ADD_FAILURE() << "the saving child did not end";
    return end.killed ? -1 : end.status;
}

std::vector<std::string> Names(const std::string& dir) {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(dir)) names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

// A signal that comes while the new image waits in its temporary file, just
// before the rename: a signal that ends the run takes the temporary file with
// it and leaves the old image whole, and the run ends by that signal (a shell
// shows 128 + its number: 130, 143, 129). One that the program ignores or
// handles itself does not stop the save.
TEST(ImageFileSave, SignalInTheMiddleOfTheSaveLeavesNoTemporaryFile) {
    const Binary old(OSM::ImageSize, 0x5A);
    Binary fresh(OSM::ImageSize);
    for (size_t i = 0; i < fresh.size(); ++i) fresh[i] = static_cast<uint8_t>(i * 13 + 1);
    const struct {
        int signal;
        Disposition disposition;
    } rows[] = {
        {SIGINT, Disposition::Default}, {SIGTERM, Disposition::Default},   {SIGHUP, Disposition::Default},
        {SIGHUP, Disposition::Ignored}, {SIGINT, Disposition::OwnHandler},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(testing::Message() << "signal " << row.signal << ", disposition " << int(row.disposition));
        const std::string dir =
            test::TestDir() + "s" + std::to_string(row.signal) + std::to_string(int(row.disposition)) + "/";
        fs::create_directory(dir);
        const std::string path = dir + "card.bin";
        std::ofstream(path, std::ios::binary)
            .write(reinterpret_cast<const char*>(old.data()), static_cast<std::streamsize>(old.size()));
        int ready[2];
        int go[2];
        ASSERT_EQ(::pipe(ready), 0);
        ASSERT_EQ(::pipe(go), 0);
        const pid_t child = ::fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            g_readyFd = ready[1];
            g_goFd = go[0];
            SaveInChild(path, fresh, row.signal, row.disposition);
        }
        ::close(ready[1]);
        ::close(go[0]);
        pollfd waiting{ready[0], POLLIN, 0};
        char word = 0;
        const bool inTheMiddle = ::poll(&waiting, 1, WaitSeconds * 1000) == 1 && ::read(ready[0], &word, 1) == 1;
        EXPECT_TRUE(inTheMiddle);
        if (inTheMiddle) {
            const std::vector<std::string> during = Names(dir);
            EXPECT_EQ(during.size(), 2u);  // the image and its temporary file
            ::kill(child, row.signal);
        }
        // A child that the signal ended reads nothing more: the word would meet a closed pipe.
        const char goOn = 'g';
        if (row.disposition != Disposition::Default) {
            EXPECT_EQ(::write(go[1], &goOn, 1), 1);
        }
        const int status = WaitForSavingChild(child);
        ::close(go[1]);
        ::close(ready[0]);
        if (row.disposition == Disposition::Default) {
            EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == row.signal) << status;
            EXPECT_EQ(binary::LoadBinaryFile(path), old);
        } else {
            EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
            EXPECT_EQ(binary::LoadBinaryFile(path), fresh);
        }
        EXPECT_EQ(Names(dir), std::vector<std::string>{"card.bin"});
    }
}

}  // namespace
}  // namespace ZORVIK
