// The log chain: records, filters, the console log on a pipe and a terminal, file logs and their names.
#include "service/log/log.h"

#include <dlfcn.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <future>
#include <memory>
#include <thread>
#include <tuple>
#include <vector>

#include "service/common/exception.h"
#include "service/log/recording_log.h"
#include "service/log/terminal.h"
#include "support/error_text.h"
#include "support/file_text.h"
#include "support/processes.h"
#include "support/test_dir.h"

namespace ZORVIK {
namespace {

// Shared locks fail as on NFSv4, where flock becomes a POSIX lock and a read
// lock needs a descriptor open for reading: a log's is open for writing only.
std::atomic<bool> g_refuseSharedLocks{false};

}  // namespace
}  // namespace ZORVIK

// Every flock of this test program comes here first.
extern "C" int flock(int fd, int operation) noexcept {
    using Flock = int (*)(int, int);
    static const Flock real = reinterpret_cast<Flock>(dlsym(RTLD_NEXT, "flock"));
    if (ZORVIK::g_refuseSharedLocks && (operation & LOCK_SH) != 0 && (fcntl(fd, F_GETFL) & O_ACCMODE) == O_WRONLY) {
        errno = EBADF;
        return -1;
    }
    return real(fd, operation);
}

namespace ZORVIK {
namespace {

namespace fs = std::filesystem;
using test::MessageOf;
using test::ReadFile;
using test::RecordingLog;

TEST(LevelColour, FollowsTheLevelTableAndIsGreyOutsideIt) {
    // 1 bright cyan, 2 cyan, 3 and 4 grey, 5 bright white, 6 bright yellow, 7 bright red, 8 grey.
    const int32_t expected[] = {0x00, 0x0B, 0x03, 0x07, 0x07, 0x0F, 0x0E, 0x0C, 0x07};
    for (int32_t level = 0; level <= 8; ++level) EXPECT_EQ(LevelColour(level), expected[level]) << level;
    for (int32_t level : {-1, 9, INT32_MIN}) EXPECT_EQ(LevelColour(level), 0x07) << level;
}

TEST(LogPrintf, RecordsTakeTheLevelsColourOrTheGivenOneAndLevelThreeWithAColour) {
    RecordingLog sink;
    LogPrintf(&sink, 7, "Ошибка %d", 3);
    LogPrintfColour(&sink, 6, 11, "%s - %s", "0", "reader");
    sink.Write("no end", 0x0F, false);
    sink.WriteRec(LogRecord(LogColour{0x0A}, "green", false));
    using Record = std::tuple<std::string, int32_t, int32_t>;  // text, level, colour
    std::vector<Record> records;
    for (const LogRecord& record : sink.records) records.emplace_back(record.text, record.level, record.colour);
    EXPECT_EQ(records, (std::vector<Record>{
                           {"Ошибка 3\n", 7, 0x0C}, {"0 - reader\n", 6, 11}, {"no end", 3, 0x0F}, {"green", 3, 0x0A}}));
    EXPECT_THROW(LogPrintf(nullptr, 3, "x"), Exception);
    EXPECT_THROW(LogPrintfColour(nullptr, 3, 7, "x"), Exception);
}

// Texts of cards and peers reach the log through the arguments; the
// terminal must not take their control bytes as commands.
TEST(LogPrintf, ControlBytesOfTheTextAreEscapedButLineFeedAndTab) {
    RecordingLog sink;
    LogPrintf(&sink, 7, "[%s]", "\x1B]0;t\x07\tместо\r\x7F\n");
    ASSERT_EQ(sink.records.size(), 1u);
    EXPECT_EQ(sink.records[0].text, "[\\x1B]0;t\\x07\tместо\\x0D\\x7F\n]\n");
}

TEST(LogRecord, ConstructorsWriteAndTheForwardingFilter) {
    const LogRecord full("reader", 4, 0x0E, "abc", true);
    EXPECT_EQ(std::tie(full.source, full.level, full.colour, full.text), std::make_tuple("reader", 4, 0x0E, "abc\n"));
    const LogRecord byLevel(6, "warn", false);
    EXPECT_EQ(std::tie(byLevel.source, byLevel.colour, byLevel.text), std::make_tuple("", 0x0E, "warn"));
    EXPECT_EQ(LogRecord(9, "x", false).colour, 0x07);
    const LogRecord byColour(LogColour{0x0A}, "green", true);
    EXPECT_EQ(std::tie(byColour.source, byColour.level, byColour.text), std::make_tuple("", 3, "green\n"));
    RecordingLog sink;
    sink.Write("end", 0x07, true);
    sink.Write(nullptr, 0x0B, false);  // a null text reads as empty
    LogPrintf(&sink, 2, "%s", "");
    ASSERT_EQ(sink.records.size(), 3u);
    EXPECT_EQ(sink.records[0].text, "end\n");
    EXPECT_EQ(std::tie(sink.records[1].text, sink.records[1].level, sink.records[1].colour),
              std::make_tuple("", 3, 0x0B));
    EXPECT_EQ(std::tie(sink.records[2].source, sink.records[2].text, sink.records[2].colour),
              std::make_tuple("", "\n", 0x03));
    // The plain filter forwards every level and answers 1.
    auto next = std::make_shared<RecordingLog>();
    LogFilter filter(next);
    for (int32_t level : {0, 1, 8}) filter.WriteRec(LogRecord(level, "x", false));
    EXPECT_EQ(next->records.size(), 3u);
    EXPECT_EQ(filter.GetImportance(), 1);
    EXPECT_EQ(filter.GetNext(), next);
    EXPECT_EQ(LogFilter(nullptr).GetNext(), nullptr);
}

TEST(ImportanceFilter, ThresholdsAtTheBoundaryLevels) {
    const std::pair<int32_t, std::vector<int32_t>> cases[] = {
        {-1, {-1, 0, 1, 2, 3, 4, 5, 6, 7, 8, 9}},
        {0, {0, 1, 2, 3, 4, 5, 6, 7, 8, 9}},
        {1, {1, 2, 3, 4, 5, 6, 7, 8, 9}},
        {5, {5, 6, 7, 8, 9}},
        {7, {7, 8, 9}},
        {8, {8, 9}},
        {9, {9}},
        {10, {}},
    };
    for (const auto& [threshold, passed] : cases) {
        auto sink = std::make_shared<RecordingLog>();
        ImportanceFilter filter(threshold, sink);
        for (int32_t level = -1; level <= 9; ++level) filter.WriteRec(LogRecord(level, "x", false));
        std::vector<int32_t> levels;
        for (const LogRecord& record : sink->records) levels.push_back(record.level);
        EXPECT_EQ(levels, passed) << threshold;
        // The importance is the threshold, but never below the 1 of the sink.
        EXPECT_EQ(filter.GetImportance(), std::max(threshold, 1)) << threshold;
    }
    auto sink = std::make_shared<RecordingLog>();
    ImportanceFilter filter(8, sink);
    filter.SetLevel(5);
    EXPECT_EQ(filter.GetImportance(), 5);
    filter.WriteRec(LogRecord(5, "x", false));
    filter.WriteRec(LogRecord(4, "x", false));
    EXPECT_EQ(sink->records.size(), 1u);
    EXPECT_EQ(ImportanceFilter(-3, nullptr).GetImportance(), 1);
    EXPECT_EQ(ImportanceFilter(4, nullptr).GetImportance(), 4);
    EXPECT_EQ(ImportanceFilter(6, std::make_shared<ImportanceFilter>(2, sink)).GetImportance(), 6);
}

TEST(ImportanceFilter, PassesLevelsAtOrAboveTheThresholdAndTheStricterOfTheChainDecides) {
    auto sink = std::make_shared<RecordingLog>();
    ImportanceFilter filter(5, sink);
    for (int32_t level = 1; level <= 7; ++level) filter.WriteRec(LogRecord(level, "x", false));
    filter.SetLevel(-1);
    filter.WriteRec(LogRecord(0, "x", false));
    std::vector<int32_t> passed;
    for (const LogRecord& record : sink->records) passed.push_back(record.level);
    EXPECT_EQ(passed, (std::vector<int32_t>{5, 6, 7, 0}));
    EXPECT_EQ(ImportanceFilter(0, sink).GetImportance(), 1);
    EXPECT_EQ(ImportanceFilter(2, std::make_shared<ImportanceFilter>(6, sink)).GetImportance(), 6);
    // At the end of the chain records are dropped.
    EXPECT_NO_THROW(ImportanceFilter(0, nullptr).WriteRec(LogRecord(7, "x", true)));
    EXPECT_NO_THROW(LogFilter(nullptr).WriteRec(LogRecord(7, "x", true)));
}

std::string Drain(int fd) {
    std::string text;
    char buffer[4096];
    pollfd input{fd, POLLIN, 0};
    while (poll(&input, 1, 200) > 0 && (input.revents & POLLIN)) {
        const ssize_t count = read(fd, buffer, sizeof buffer);
        if (count <= 0) break;
        text.append(buffer, static_cast<size_t>(count));
    }
    return text;
}

// Puts a descriptor in place of standard input or output for the life of the object.
class Redirect {
public:
    Redirect(int stream, int target) : m_stream(stream), m_saved((std::fflush(stdout), dup(stream))) {
        dup2(target, stream);
    }
    ~Redirect() {
        std::fflush(stdout);
        dup2(m_saved, m_stream);
        close(m_saved);
    }
    Redirect(const Redirect&) = delete;
    Redirect& operator=(const Redirect&) = delete;

private:
    int m_stream;
    int m_saved;
};

// Standard output on the named file for the life of the result, as a shell's
// "1>name" (O_WRONLY) or "1<name" (O_RDONLY) gives it.
std::shared_ptr<Redirect> OutputTo(const std::string& name, int access) {
    const int fd = open(name.c_str(), access | O_CREAT | O_CLOEXEC, 0644);
    auto redirect = std::make_shared<Redirect>(STDOUT_FILENO, fd);
    close(fd);
    return redirect;
}

TEST(ConsLog, OnAPipeTextGoesWithoutEscapesAndThePauseDoesNotWaitAndAClosedOutputSilencesTheChain) {
    int pipeFds[2];
    ASSERT_EQ(pipe(pipeFds), 0);
    auto sink = std::make_shared<RecordingLog>();
    const auto start = std::chrono::steady_clock::now();
    {
        Redirect input(STDIN_FILENO, pipeFds[0]);
        Redirect output(STDOUT_FILENO, pipeFds[1]);
        ConsLog log(sink);
        log.SetPause(6, 1000);
        log.WriteRec(LogRecord(7, "ошибка", true));
        log.WriteRec(LogRecord(1, "debug", true));
        log.Write("plain", 0x07, false);
    }
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
    close(pipeFds[1]);
    EXPECT_EQ(Drain(pipeFds[0]), "ошибка\ndebug\nplain");
    close(pipeFds[0]);
    EXPECT_EQ(sink->records.size(), 3u);
    sink->records.clear();
    std::fflush(stdout);
    const int saved = dup(STDOUT_FILENO);
    close(STDOUT_FILENO);
    {
        ConsLog log(sink);
        log.WriteRec(LogRecord(7, "lost", true));
    }
    dup2(saved, STDOUT_FILENO);
    close(saved);
    EXPECT_TRUE(sink->records.empty());
}

TEST(ConsLog, WindowsAttributesBecomeAnsiSgr) {
    // Windows: 0x01 blue, 0x02 green, 0x04 red, 0x08 intensity; ANSI: 30 + (red 1, green 2, blue 4), bright 90 +.
    const std::pair<int32_t, const char*> cases[] = {
        {0x00, "\x1b[0;30m"},     {0x01, "\x1b[0;34m"},     {0x02, "\x1b[0;32m"},    {0x03, "\x1b[0;36m"},
        {0x04, "\x1b[0;31m"},     {0x05, "\x1b[0;35m"},     {0x06, "\x1b[0;33m"},    {0x07, "\x1b[0;37m"},
        {0x08, "\x1b[0;90m"},     {0x0B, "\x1b[0;96m"},     {0x0C, "\x1b[0;91m"},    {0x0E, "\x1b[0;93m"},
        {0x0F, "\x1b[0;97m"},     {0x1F, "\x1b[0;97;44m"},  {0x40, "\x1b[0;30;41m"}, {0x80, "\x1b[0;30;100m"},
        {0xC0, "\x1b[0;30;101m"}, {0xF0, "\x1b[0;30;107m"}, {0x10F, "\x1b[0;97m"},
    };
    for (const auto& [attribute, sgr] : cases) EXPECT_EQ(terminal::SgrForAttribute(attribute), sgr) << attribute;
}

TEST(ConsLog, OnATerminalRecordsAreColouredAndThePauseWaitsForOneKeyThenRestoresTheTerminal) {
    const int master = posix_openpt(O_RDWR | O_NOCTTY);
    if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0) GTEST_SKIP() << "no pseudo-terminal";
    const int slave = open(ptsname(master), O_RDWR | O_NOCTTY);
    ASSERT_GE(slave, 0);
    // Keep the bytes as written (no LF -> CR LF) and without echo.
    termios before{};
    ASSERT_EQ(tcgetattr(slave, &before), 0);
    before.c_oflag &= static_cast<tcflag_t>(~OPOST);
    before.c_lflag &= static_cast<tcflag_t>(~ECHO);
    ASSERT_EQ(tcsetattr(slave, TCSANOW, &before), 0);
    // A line typed before the record, waiting to be read: the pause discards it.
    ASSERT_EQ(write(master, "early\n", 6), 6);
    pollfd typed{slave, POLLIN, 0};
    ASSERT_EQ(poll(&typed, 1, 5000), 1);
    // Types a key once the pause has switched the terminal to reading single keys.
    std::thread typist([&] {
        termios mode{};
        for (int i = 0; i < 1000 && tcgetattr(slave, &mode) == 0 && (mode.c_lflag & ICANON); ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        ASSERT_EQ(write(master, "k", 1), 1);
    });
    const auto start = std::chrono::steady_clock::now();
    std::fflush(stdout);
    const int savedInput = dup(STDIN_FILENO), savedOutput = dup(STDOUT_FILENO);
    dup2(slave, STDIN_FILENO);
    dup2(slave, STDOUT_FILENO);
    {
        ConsLog log(nullptr);
        log.SetPause(6, 30);
        log.WriteRec(LogRecord(5, "below the pause level", true));
        log.WriteRec(LogRecord(6, "stop", true));
        // Only a non-empty NO_COLOR turns the colours off.
        setenv("NO_COLOR", "", 1);
        EXPECT_TRUE(terminal::WantsColour(stdout));
        setenv("NO_COLOR", "1", 1);
        EXPECT_FALSE(terminal::WantsColour(stdout));
        unsetenv("NO_COLOR");
    }
    dup2(savedInput, STDIN_FILENO);
    dup2(savedOutput, STDOUT_FILENO);
    close(savedInput);
    close(savedOutput);
    typist.join();
    // The key ended the wait long before the 30 s limit, and it was consumed.
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(20));
    // ANSI SGR 97 bright white (0x0F), 93 bright yellow (0x0E); 0 resets. Windows attributes order their colour
    // bits blue 1, green 2, red 4 (intensity 8, the high nibble the background); ANSI red 1, green 2, blue 4.
    EXPECT_EQ(Drain(master),
              "\x1b[0;97mbelow the pause level\n\x1b[0m\x1b[0;93mstop\n\x1b[0mPress any key for continue\n");
    EXPECT_EQ(terminal::SgrForAttribute(0x1F), "\x1b[0;97;44m");
    EXPECT_EQ(terminal::SgrForAttribute(0xC2), "\x1b[0;32;101m");
    char left = 0;
    fcntl(slave, F_SETFL, fcntl(slave, F_GETFL) | O_NONBLOCK);
    EXPECT_EQ(read(slave, &left, 1), -1);
    termios after{};
    ASSERT_EQ(tcgetattr(slave, &after), 0);
    EXPECT_EQ(after.c_lflag, before.c_lflag);
    close(slave);
    close(master);
}

class FileLogTest : public ::testing::Test {
protected:
    // 30 October 2018, 09:05:07 local time.
    static constexpr std::tm FixedTime{7, 5, 9, 30, 9, 118, 0, 0, 0, 0, nullptr};
    std::string Numbered(const std::string& path, const char* format = "%p%n%c.%e", uint32_t width = 3) {
        return FileLog(m_dir + path, format, width, nullptr, FixedTime).GetFileName();
    }

    const std::string m_dir = test::TestDir();
};

TEST_F(FileLogTest, EveryFormatCodeAndPathPart) {
    fs::create_directory(m_dir + "a.b");
    const struct {
        const char* format;
        const char* first;   // after the directory
        const char* second;  // the next log of the same name, when the format has a counter
        uint32_t counterWidth = 3;
        const char* path = "tool.log";  // under the directory
    } cases[] = {
        {"%p%n_%d_%c.%e", "tool_181030_001.log", "tool_181030_002.log"},  // the framework's pattern
        {"%p%n%z.%e", "tool.log", "tool01.log", 2},                       // %z: the plain name first
        {"%pa%cb%zc", "abc", "ab001c"},                                   // the last counter code wins
        {"%p%n%c.%e", "tool1.log", "tool2.log", 0},                       // counter width 0: no padding
        {"%p%t.txt", "090507.txt", nullptr},
        {"%p100%% %q%n%", "100% %qtool%", nullptr},
        {"%p|%n|%e", "a.b/|name|log", nullptr, 3, "a.b\\name.log"},  // backslashes become slashes
        {"%p%n[%e]", "a.b/name[]", nullptr, 3, "a.b/name"},          // a point in the directory is no extension
    };
    for (const auto& c : cases) {
        EXPECT_EQ(Numbered(c.path, c.format, c.counterWidth), m_dir + c.first) << c.format;
        if (c.second) {
            EXPECT_EQ(Numbered(c.path, c.format, c.counterWidth), m_dir + c.second) << c.format;
        }
    }
}

TEST_F(FileLogTest, PlainNameIsTruncatedOrAppendedToAndAnEmptyDeletableLogRemoved) {
    const std::string name = m_dir + "name.log";
    std::ofstream(name) << "old\n";
    auto sink = std::make_shared<RecordingLog>();
    {
        FileLog log(name, "%p%n.%e", 3, sink, FixedTime);
        log.WriteRec(LogRecord("src", 1, 0x0B, "строка\r\nб", true));
        DeletableFileLog appending(name, nullptr);
        appending.Write("second", 7, false);
        DeletableFileLog empty(m_dir + "empty.log", "%p%n.%e", 3, nullptr, FixedTime);
        EXPECT_TRUE(fs::exists(m_dir + "empty.log"));
    }
    EXPECT_EQ(ReadFile(name), "строка\r\nб\nsecond");  // written unchanged, and a used deletable log stays
    EXPECT_FALSE(fs::exists(m_dir + "empty.log"));
    ASSERT_EQ(sink->records.size(), 1u);
    EXPECT_EQ(sink->records[0].source, "src");
}

TEST_F(FileLogTest, NumberedNameNeverReusesFollowsOrWaitsOnAnExistingName) {
    // A dangling link reads as absent, but the exclusive creation sees the name
    // taken: the log must not go to where the link points.
    fs::create_symlink(m_dir + "elsewhere.log", m_dir + "x001.log");
    const std::string pipe = m_dir + "x002.log";
    ASSERT_EQ(mkfifo(pipe.c_str(), 0600), 0);
    auto build = std::async(std::launch::async, [&] { return Numbered("x.log"); });
    if (build.wait_for(std::chrono::seconds(2)) != std::future_status::ready) {
        // Release the probe stuck in opening the pipe for reading, then fail.
        const int writer = open(pipe.c_str(), O_WRONLY | O_NONBLOCK);
        if (writer >= 0) close(writer);
        build.wait();
        FAIL() << "the counter search waited for a writer on " << pipe;
    }
    EXPECT_EQ(build.get(), m_dir + "x003.log");
    EXPECT_FALSE(fs::exists(m_dir + "elsewhere.log"));
}

TEST_F(FileLogTest, CounterSearchTakesTheFirstFreeNumberAndDatesAndTimesTheirOwnDigits) {
    for (const char* taken : {"x001.log", "x002.log", "x004.log", "y.log", "y01.log"}) std::ofstream(m_dir + taken);
    EXPECT_EQ(Numbered("x.log"), m_dir + "x003.log");
    EXPECT_EQ(Numbered("x.log"), m_dir + "x005.log");
    EXPECT_EQ(Numbered("y.log", "%p%n%z.%e", 2), m_dir + "y02.log");
    EXPECT_EQ(Numbered("z.log", "%p%n%c.%e", 5), m_dir + "z00001.log");
    // 2 January 2000, 03:04:05: each field in its place, the year from 2000.
    const std::tm early{5, 4, 3, 2, 0, 100, 0, 0, 0, 0, nullptr};
    EXPECT_EQ(FileLog(m_dir + "t.log", "%p%d-%t", 3, nullptr, early).GetFileName(), m_dir + "000102-030405");
    // Without a counter code an existing file is truncated, as with a plain name.
    std::ofstream(m_dir + "x.log") << "old";
    EXPECT_EQ(Numbered("x.log", "%p%n.%e"), m_dir + "x.log");
    EXPECT_EQ(ReadFile(m_dir + "x.log"), "");
}

TEST_F(FileLogTest, NumberedNameNeverReusesAFileItCannotRead) {
    // A file that exists but cannot be probed by reading is still not truncated:
    // the exclusive creation moves on to the next number. Root reads every file,
    // so the log is made in a child process running as the user nobody.
    const std::string locked = m_dir + "x001.log";
    std::ofstream(locked) << "other process";
    fs::permissions(locked, fs::perms::none);
    fs::permissions(m_dir, fs::perms::all);
    const pid_t child = ::fork();
    if (child == 0) {
        if (::geteuid() == 0 && (::setgid(65534) != 0 || ::setuid(65534) != 0)) ::_exit(2);
        ::_exit(FileLog(m_dir + "x.log", "%p%n%c.%e", 3, nullptr, FixedTime).GetFileName() == m_dir + "x002.log" ? 0
                                                                                                                 : 1);
    }
    int status = -1;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    fs::permissions(locked, fs::perms::owner_read);
    EXPECT_EQ(ReadFile(locked), "other process");
}

TEST_F(FileLogTest, RecordsAfterTheFirstAreWrittenAndPassedOnAndOpenFileGivesAClosingHandle) {
    auto sink = std::make_shared<RecordingLog>();
    const std::string name = m_dir + "raw.log";
    {
        FileLog log(name, sink);
        log.WriteRec(LogRecord(1, "a", false));
        log.WriteRec(LogRecord(8, "b", true));
        EXPECT_EQ(log.GetFileName(), name);
    }
    EXPECT_EQ(ReadFile(name), "ab\n");
    EXPECT_EQ(sink->records.size(), 2u);
    {
        std::shared_ptr<std::FILE> file = OpenFile(m_dir + "open.txt", "w");
        ASSERT_NE(file, nullptr);
        std::fputs("abc", file.get());
    }
    EXPECT_EQ(ReadFile(m_dir + "open.txt"), "abc");
}

TEST_F(FileLogTest, AllNumbersTakenIsAnError) {
    char number[8];
    for (int i = 1; i <= 999; ++i) {
        std::snprintf(number, sizeof number, "%03d", i);
        std::ofstream(m_dir + "x" + number + ".log");
    }
    EXPECT_EQ(MessageOf([&] { Numbered("x.log"); }), "Log file can't be created");
    // The last free number is still found.
    fs::remove(m_dir + "x999.log");
    EXPECT_EQ(Numbered("x.log"), m_dir + "x999.log");
}

TEST_F(FileLogTest, FilesThatCannotBeCreatedOrWrittenAreNamed) {
    const std::string missing = m_dir + "missing/x.log";
    EXPECT_EQ(MessageOf([&] { FileLog(missing, nullptr); }),
              "Log file '" + missing + "' can't be created: No such file or directory");
    EXPECT_EQ(MessageOf([&] { Numbered("missing/x.log"); }),
              "Log file '" + m_dir + "missing/x001.log' can't be created: No such file or directory");
    EXPECT_THROW(OpenFile(missing, "r"), Exception);
    if (!fs::exists("/dev/full")) GTEST_SKIP() << "no /dev/full";
    auto sink = std::make_shared<RecordingLog>();
    FileLog log("/dev/full", sink);
    EXPECT_EQ(MessageOf([&] { log.WriteRec(LogRecord(3, "data", true)); }),
              "Can't write data to '/dev/full': No space left on device");
    EXPECT_TRUE(sink->records.empty());
}

// A FIFO that nobody reads would hold the open, and is refused at once; one
// with a reader takes the log as a file would, and a reader that goes away is
// a failed write. A directory is refused; a character device takes the log as it comes.
TEST_F(FileLogTest, AFifoWithAReaderTakesTheLogAndOneWithoutIsRefusedAtOnce) {
    const std::string fifo = m_dir + "fifo.log";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    const std::string refused = "Log file '" + fifo + "' can't be created: Is a named pipe (FIFO) that has no reader";
    EXPECT_EQ(MessageOf([&] { FileLog(fifo, nullptr); }), refused);
    EXPECT_EQ(MessageOf([&] { FileLog(fifo, "%p%n.%e", 3, nullptr, FixedTime); }), refused);
    EXPECT_EQ(OpenLogFile(fifo, "a").reason, "Is a named pipe (FIFO) that has no reader");
    const int reader = open(fifo.c_str(), O_RDONLY | O_NONBLOCK);
    ASSERT_GE(reader, 0);
    {
        DeletableFileLog appending(fifo, nullptr);
        appending.Write("first", 7, true);
        FileLog truncating(fifo, "%p%n.%e", 3, nullptr, FixedTime);
        truncating.Write("second", 7, true);
    }
    EXPECT_EQ(Drain(reader), "first\nsecond\n");
    EXPECT_TRUE(fs::is_fifo(fifo));  // a deletable log never removes a FIFO
    {
        FileLog log(fifo, nullptr);
        close(reader);
        // As in qxw, the reader's end is a write error, not a signal that ends the process.
        const auto previous = std::signal(SIGPIPE, SIG_IGN);
        EXPECT_EQ(MessageOf([&] { log.Write("lost", 7, true); }), "Can't write data to '" + fifo + "': Broken pipe");
        std::signal(SIGPIPE, previous);
    }
    fs::create_directory(m_dir + "dir.log");
    EXPECT_EQ(MessageOf([&] { FileLog(m_dir + "dir.log", nullptr); }),
              "Log file '" + m_dir + "dir.log' can't be created: Is a directory");
    EXPECT_NO_THROW(FileLog("/dev/null", nullptr).Write("discarded", 7, true));
}

// A record of 64 KB: its writer and number, then filler up to its line end.
std::string BigRecord(int writer, int number) {
    std::string record = "writer " + std::to_string(writer) + " record " + std::to_string(number) + " ";
    record.append(65536 - record.size() - 1, static_cast<char>('a' + writer));
    return record + "\n";
}

// Records far above a stream's buffer, from several processes at once into
// one log (appending or deletable): each reaches the file whole, none cut
// into another's, none lost.
TEST_F(FileLogTest, ProcessesAppendingRecordsOf64KbToOneLogKeepEveryRecordWhole) {
    constexpr int Writers = 4, Records = 12;
    const std::string name = m_dir + "shared.log";
    const int passed = test::RunTogether(Writers, [&](int writer) {
        std::unique_ptr<FileLog> log = writer % 2 == 0 ? std::make_unique<FileLog>(name, nullptr)
                                                       : std::make_unique<DeletableFileLog>(name, nullptr);
        for (int number = 0; number < Records; ++number) log->Write(BigRecord(writer, number).c_str(), 7, false);
    });
    ASSERT_EQ(passed, Writers);
    std::vector<std::string> expected, found;
    for (int writer = 0; writer < Writers; ++writer) {
        for (int number = 0; number < Records; ++number) expected.push_back(BigRecord(writer, number));
    }
    const std::string text = ReadFile(name);
    for (size_t start = 0, end; start < text.size(); start = end + 1) {
        end = std::min(text.find('\n', start), text.size());
        found.push_back(text.substr(start, end + 1 - start));
    }
    std::sort(expected.begin(), expected.end());
    std::sort(found.begin(), found.end());
    EXPECT_EQ(found.size(), expected.size());
    EXPECT_TRUE(found == expected) << "records cut or lost";
}

// A deletable log that wrote nothing removes the file of its name when it is
// still that file, still empty and open in no other log, whoever made it; never
// when it could not hold its own shared lock.
TEST_F(FileLogTest, AnEmptyDeletableLogIsRemovedWhenNoOtherLogHoldsItWhoeverMadeIt) {
    const std::string name = m_dir + "run.log";
    const auto nothing = [] { return nullptr; };
    const struct {
        const char* name;
        std::function<void()> before;                   // what the file is when the silent log opens it
        std::function<std::shared_ptr<void>()> during;  // while the silent log is open; the result outlives it
        bool removed;
        const char* left = "";  // the file's text afterwards, when kept
        bool truncating = false;
        bool sharedLocksRefused = false;
    } cases[] = {
        {"a run alone", [] {}, nothing, true},
        {"a run alone, truncating", [] {}, nothing, true, "", true},
        {"made beforehand", [&] { std::ofstream{name}; }, nothing, true},
        {"left by a run killed before its first record",
         [&] {
             const pid_t child = fork();
             if (child == 0) {
                 FileLog log(name, nullptr);
                 raise(SIGKILL);
             }
             test::WaitForChild(child, std::chrono::steady_clock::now() + std::chrono::seconds(30));
         },
         nothing, true},
        {"a log with records, truncating", [&] { std::ofstream{name} << "old\n"; }, nothing, true, "", true},
        {"another log has it open", [] {}, [&] { return std::make_shared<FileLog>(name, nullptr); }, false},
        {"an APDU log has it open", [] {}, [&] { return std::shared_ptr<void>(OpenLogFile(name, "a").stream); }, false},
        {"a log through standard output sent to it has it open", [] {},
         [&] {
             const auto output = OutputTo(name, O_WRONLY);
             return std::make_shared<FileLog>("/dev/stdout", nullptr);
         },
         false},
        {"a log through standard output sent to it has ended, the stream stays", [] {},
         [&] {
             auto output = OutputTo(name, O_WRONLY);
             FileLog("/dev/stdout", nullptr);
             return output;
         },
         true},
        {"another run wrote and left", [] {},
         [&] {
             FileLog(name, nullptr).Write("x", 7, false);
             return nullptr;
         },
         false, "x"},
        {"the name now leads to another empty file", [] {},
         [&] {
             std::ofstream{m_dir + "other.log"};
             fs::rename(m_dir + "other.log", name);
             return nullptr;
         },
         false},
        {"shared locks refused, a run alone", [] {}, nothing, false, "", false, true},
        {"shared locks refused, another log has it open", [] {},
         [&] { return std::make_shared<FileLog>(name, nullptr); }, false, "", false, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        fs::remove(name);
        c.before();
        std::shared_ptr<void> other;
        g_refuseSharedLocks = c.sharedLocksRefused;
        {
            std::unique_ptr<DeletableFileLog> silent =
                c.truncating ? std::make_unique<DeletableFileLog>(name, "%p%n.%e", 3, nullptr, FixedTime)
                             : std::make_unique<DeletableFileLog>(name, nullptr);
            other = c.during();
        }
        g_refuseSharedLocks = false;
        other.reset();  // standard output back before any failure is printed
        EXPECT_EQ(fs::exists(name), !c.removed);
        if (!c.removed) {
            EXPECT_EQ(ReadFile(name), c.left);
        }
    }
    // Silent runs that overlap: the last one to close removes the file that the
    // first made, as does a later run alone for a file a silent log left behind.
    fs::remove(name);
    {
        auto creator = std::make_unique<DeletableFileLog>(name, nullptr);
        DeletableFileLog later(name, nullptr);
        creator.reset();
        EXPECT_TRUE(fs::exists(name));
    }
    EXPECT_FALSE(fs::exists(name));
    FileLog(name, nullptr);  // a plain log keeps its empty file
    ASSERT_TRUE(fs::exists(name));
    DeletableFileLog(name, nullptr);
    EXPECT_FALSE(fs::exists(name));
}

// A standard stream open only for reading ("1<name") is not the log's: the
// name is opened as any other, and the log appends to it.
TEST_F(FileLogTest, AStandardStreamOpenOnlyForReadingIsNotTakenForALog) {
    for (const std::string& name : {std::string("/dev/null"), m_dir + "read-only.txt"}) {
        SCOPED_TRACE(name);
        if (name != "/dev/null") std::ofstream(name) << "before\n";
        LogFileOpening opening;
        {
            const auto input = OutputTo(name, O_RDONLY);
            opening = OpenLogFile(name, "a");
        }
        ASSERT_TRUE(opening.stream) << opening.reason;
        EXPECT_FALSE(opening.standardStream);
        EXPECT_EQ(AppendRecord(opening.stream.get(), "entry\n"), 0);
        if (name != "/dev/null") {
            EXPECT_EQ(ReadFile(name), "before\nentry\n");
        }
    }
}

// The log of a run that opened the file before the silent run ended stays
// under its name, and that run's later records are in it.
TEST_F(FileLogTest, ALogAnotherProcessOpenedOutlivesASilentRun) {
    const std::string name = m_dir + "qxw.log";
    int ready[2], go[2];
    ASSERT_EQ(pipe(ready), 0);
    ASSERT_EQ(pipe(go), 0);
    auto silent = std::make_unique<DeletableFileLog>(name, nullptr);
    const pid_t child = fork();
    if (child == 0) {
        int code = 1;
        try {
            FileLog log(name, nullptr);
            char byte = 1;
            pollfd told{go[0], POLLIN, 0};
            if (write(ready[1], &byte, 1) == 1 && poll(&told, 1, 30000) == 1 && read(go[0], &byte, 1) == 1) {
                log.Write("the other run", 7, true);
                code = 0;
            }
        } catch (...) {
        }
        _exit(code);
    }
    ASSERT_GT(child, 0);
    char byte = 0;
    pollfd opened{ready[0], POLLIN, 0};
    ASSERT_EQ(poll(&opened, 1, 30000), 1);
    ASSERT_EQ(read(ready[0], &byte, 1), 1);
    silent.reset();
    EXPECT_TRUE(fs::exists(name));
    ASSERT_EQ(write(go[1], &byte, 1), 1);
    int status = -1;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    EXPECT_EQ(ReadFile(name), "the other run\n");
    for (int fd : {ready[0], ready[1], go[0], go[1]}) close(fd);
}

}  // namespace
}  // namespace ZORVIK
