#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <future>

#include "service/common/exception.h"
#include "service/log/log.h"
#include "service/log/recording_log.h"
#include "support/error_text.h"
#include "support/file_text.h"
#include "support/test_dir.h"

namespace ZORVIK {
namespace {

namespace fs = std::filesystem;
using test::MessageOf;
using test::ReadFile;

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
    auto sink = std::make_shared<test::RecordingLog>();
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
    EXPECT_EQ(MessageOf([&] { FileLog(missing, nullptr); }), "Log file '" + missing + "' can't be created");
    EXPECT_EQ(MessageOf([&] { Numbered("missing/x.log"); }),
              "Log file '" + m_dir + "missing/x001.log' can't be created");
    EXPECT_THROW(OpenFile(missing, "r"), Exception);
    if (!fs::exists("/dev/full")) GTEST_SKIP() << "no /dev/full";
    auto sink = std::make_shared<test::RecordingLog>();
    FileLog log("/dev/full", sink);
    EXPECT_EQ(MessageOf([&] { log.WriteRec(LogRecord(3, "data", true)); }),
              "Can't write data to '/dev/full': No space left on device");
    EXPECT_TRUE(sink->records.empty());
}

}  // namespace
}  // namespace ZORVIK
