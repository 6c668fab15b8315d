#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <future>
#include <sstream>

#include "service/common/exception.h"
#include "service/log/log.h"
#include "service/log/recording_log.h"
#include "support/test_dir.h"

namespace ZORVIK {
namespace {

namespace fs = std::filesystem;

class FileLogTest : public ::testing::Test {
protected:
    std::string Dir() const { return m_dir; }

    static void MakeFile(const std::string& name, const std::string& content) { std::ofstream(name) << content; }
    static std::string ReadFile(const std::string& name) {
        std::ifstream in(name, std::ios::binary);
        std::stringstream text;
        text << in.rdbuf();
        return text.str();
    }

    // 30 October 2018, 09:05:07 local time.
    static std::tm FixedTime() {
        std::tm time{};
        time.tm_year = 2018 - 1900;
        time.tm_mon = 9;
        time.tm_mday = 30;
        time.tm_hour = 9;
        time.tm_min = 5;
        time.tm_sec = 7;
        return time;
    }

private:
    const std::string m_dir = test::TestDir();
};

TEST_F(FileLogTest, CounterPatternsNumberTheNextLogOfTheSameName) {
    const struct {
        const char* format;
        uint32_t counterWidth;
        const char* first;
        const char* second;
    } cases[] = {
        {"%p%n_%d_%c.%e", 3, "tool_181030_001.log", "tool_181030_002.log"},  // the framework's pattern
        {"%p%n%z.%e", 2, "tool.log", "tool01.log"},                          // %z: the plain name first
    };
    for (const auto& c : cases) {
        FileLog first(Dir() + "tool.log", c.format, c.counterWidth, nullptr, FixedTime());
        EXPECT_EQ(first.GetFileName(), Dir() + c.first);
        FileLog second(Dir() + "tool.log", c.format, c.counterWidth, nullptr, FixedTime());
        EXPECT_EQ(second.GetFileName(), Dir() + c.second);
    }
}

TEST_F(FileLogTest, EveryFormatCodeAndPathPart) {
    struct Case {
        const char* format;
        const char* expected;  // after the directory
        uint32_t counterWidth = 3;
        const char* path = "tool.log";  // under the directory
    };
    fs::create_directory(Dir() + "sub");
    fs::create_directory(Dir() + "a.b");
    const Case cases[] = {
        {"%p%t.txt", "090507.txt"},
        {"%p%n-%e", "tool-log"},
        {"%p100%%", "100%"},
        {"%p%q%n", "%qtool"},
        {"%p%n%", "tool%"},
        {"%pa%cb%zc", "abc"},                               // the last counter code (%z) wins: plain name first
        {"%p%n%c.%e", "tool1.log", 0},                      // counter width 0: no padding
        {"%p|%n|%e", "sub/|name|log", 3, "sub\\name.log"},  // backslashes become slashes
        {"%p%n[%e]", "a.b/name[]", 3, "a.b/name"},          // a point in the directory is no extension
    };
    for (const Case& c : cases) {
        FileLog log(Dir() + c.path, c.format, c.counterWidth, nullptr, FixedTime());
        EXPECT_EQ(log.GetFileName(), Dir() + c.expected) << c.format;
    }
}

TEST_F(FileLogTest, PlainPatternTruncatesAndSecondConstructorAppends) {
    const std::string name = Dir() + "name.log";
    MakeFile(name, "old\n");
    {
        FileLog log(Dir() + "name.log", "%p%n.%e", 3, nullptr, FixedTime());
        EXPECT_EQ(log.GetFileName(), name);
        log.WriteRec(LogRecord(3, "first", true));
    }
    EXPECT_EQ(ReadFile(name), "first\n");
    {
        FileLog log(name, nullptr);
        log.Write("second", 7, true);
    }
    EXPECT_EQ(ReadFile(name), "first\nsecond\n");
}

TEST_F(FileLogTest, AllNumbersTakenIsAnError) {
    char number[8];
    for (int i = 1; i <= 999; ++i) {
        std::snprintf(number, sizeof number, "%03d", i);
        MakeFile(Dir() + "x" + number + ".log", "");
    }
    try {
        FileLog log(Dir() + "x.log", "%p%n%c.%e", 3, nullptr, FixedTime());
        FAIL() << "expected an error, got " << log.GetFileName();
    } catch (const Exception& e) {
        EXPECT_STREQ(e.what(), "Log file can't be created");
    }
    // The last free number is still found.
    fs::remove(Dir() + "x999.log");
    FileLog log(Dir() + "x.log", "%p%n%c.%e", 3, nullptr, FixedTime());
    EXPECT_EQ(log.GetFileName(), Dir() + "x999.log");
}

TEST_F(FileLogTest, NumberedNameNeverReusesAnExistingFile) {
    // A file that exists but cannot be probed by reading is still not truncated:
    // the exclusive creation moves on to the next number. Root reads every file,
    // so the log is made in a child process running as the user nobody.
    const std::string locked = Dir() + "x001.log";
    MakeFile(locked, "other process");
    fs::permissions(locked, fs::perms::none);
    fs::permissions(Dir(), fs::perms::all);
    const pid_t child = fork();
    if (child == 0) {
        if (geteuid() == 0 && (setgid(65534) != 0 || setuid(65534) != 0)) _exit(2);
        FileLog log(Dir() + "x.log", "%p%n%c.%e", 3, nullptr, FixedTime());
        _exit(log.GetFileName() == Dir() + "x002.log" ? 0 : 1);
    }
    int status = -1;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    fs::permissions(locked, fs::perms::owner_read);
    EXPECT_EQ(ReadFile(locked), "other process");
}

TEST_F(FileLogTest, NumberedNameNeverFollowsALinkElsewhere) {
    // A dangling link reads as absent, but the exclusive creation sees the name
    // taken: the log goes to the next number, not to where the link points.
    const std::string elsewhere = Dir() + "elsewhere.log";
    fs::create_symlink(elsewhere, Dir() + "x001.log");
    FileLog log(Dir() + "x.log", "%p%n%c.%e", 3, nullptr, FixedTime());
    EXPECT_EQ(log.GetFileName(), Dir() + "x002.log");
    EXPECT_FALSE(fs::exists(elsewhere));
}

TEST_F(FileLogTest, NumberedSearchDoesNotWaitOnAPipe) {
    const std::string pipe = Dir() + "x001.log";
    ASSERT_EQ(mkfifo(pipe.c_str(), 0600), 0);
    auto build = std::async(std::launch::async, [&] {
        return FileLog(Dir() + "x.log", "%p%n%c.%e", 3, nullptr, FixedTime()).GetFileName();
    });
    if (build.wait_for(std::chrono::seconds(2)) != std::future_status::ready) {
        // Release the probe stuck in opening the pipe for reading, then fail.
        const int writer = open(pipe.c_str(), O_WRONLY | O_NONBLOCK);
        if (writer >= 0) close(writer);
        build.wait();
        FAIL() << "the counter search waited for a writer on " << pipe;
    }
    EXPECT_EQ(build.get(), Dir() + "x002.log");
}

TEST_F(FileLogTest, UncreatableFileNamesTheFile) {
    const std::string name = Dir() + "missing/dir/x.log";
    try {
        FileLog log(name, nullptr);
        FAIL();
    } catch (const Exception& e) {
        EXPECT_EQ(std::string(e.what()), "Log file '" + name + "' can't be created");
    }
    EXPECT_THROW(FileLog(Dir() + "missing/x.log", "%p%n%c.%e", 3, nullptr, FixedTime()), Exception);
}

TEST_F(FileLogTest, WritesTextUnchangedAndPassesRecordsOn) {
    auto sink = std::make_shared<test::RecordingLog>();
    const std::string name = Dir() + "raw.log";
    {
        FileLog log(name, sink);
        log.WriteRec(LogRecord("src", 1, 0x0B, "строка\r\nб", false));
        log.WriteRec(LogRecord(8, "x", true));
    }
    EXPECT_EQ(ReadFile(name), "строка\r\nбx\n");
    ASSERT_EQ(sink->records.size(), 2u);
    EXPECT_EQ(sink->records[0].source, "src");
}

TEST_F(FileLogTest, FailedFlushIsReportedAndRecordNotPassedOn) {
    if (!fs::exists("/dev/full")) GTEST_SKIP() << "no /dev/full";
    auto sink = std::make_shared<test::RecordingLog>();
    FileLog log("/dev/full", sink);
    try {
        log.WriteRec(LogRecord(3, "data", true));
        FAIL();
    } catch (const Exception& e) {
        EXPECT_STREQ(e.what(), "Can't write data to '/dev/full': No space left on device");
    }
    EXPECT_TRUE(sink->records.empty());
}

TEST_F(FileLogTest, DeletableLogRemovedOnlyWhenEmpty) {
    const std::string empty = Dir() + "empty.log";
    const std::string used = Dir() + "used.log";
    {
        DeletableFileLog a(Dir() + "empty.log", "%p%n.%e", 3, nullptr, FixedTime());
        DeletableFileLog b(used, nullptr);
        b.Write("kept", 3, true);
        EXPECT_TRUE(fs::exists(empty));
    }
    EXPECT_FALSE(fs::exists(empty));
    EXPECT_EQ(ReadFile(used), "kept\n");
}

TEST_F(FileLogTest, OpenFileGivesAClosingHandle) {
    const std::string name = Dir() + "open.txt";
    {
        std::shared_ptr<std::FILE> file = OpenFile(name, "w");
        ASSERT_NE(file, nullptr);
        std::fputs("abc", file.get());
    }
    EXPECT_EQ(ReadFile(name), "abc");
    EXPECT_THROW(OpenFile(Dir() + "none/open.txt", "r"), Exception);
}

}  // namespace
}  // namespace ZORVIK
