#include "service/common/filesystem.h"
#include "support/error_text.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include "service/common/exception.h"

namespace ZORVIK::filesystem {
namespace {

TEST(FormatPath, PartsOfThePath) {
    EXPECT_EQ(FormatPath("/opt/tools/skarna", "%d%p%n.log"), "/opt/tools/skarna.log");
    EXPECT_EQ(FormatPath("/opt/tools/skarna.exe", "%d|%p|%n|%e"), "/|opt/tools/|skarna|.exe");
    EXPECT_EQ(FormatPath("x.log", "%d%n"), "x");
    EXPECT_EQ(FormatPath("/a/b", "%e"), "");
    EXPECT_EQ(FormatPath("\\\\a\\\\b.c", "%d%p%n%e"), "/a/b.c");
    EXPECT_EQ(FormatPath("a", "100%% %x%"), "100% x");
}

TEST(FormatPath, RefusesEmptyOrOverlongInput) {
    EXPECT_THROW(FormatPath("", "%n"), Exception);
    EXPECT_THROW(FormatPath("a", ""), Exception);
    EXPECT_EQ(test::MessageOf([] { FormatPath("/" + std::string(5000, 'a'), "%n"); }), "Wrong path size!");
}

TEST(Paths, UnifyAndMakeAbsolute) {
    EXPECT_EQ(UnifySeparators("a//b\\\\c/\\d"), "a/b/c/d");
    EXPECT_EQ(MakeAbsolutePath("../x", "/a/b", false), "/a/x");
    EXPECT_EQ(MakeAbsolutePath("/d//A/./b", "/base", false), "/d/A/b");
    EXPECT_EQ(MakeAbsolutePath("/d//A/b", "/base", true), "/d/a/b");
    EXPECT_EQ(MakeAbsolutePath("../../../..", "/a", false), "/");
    EXPECT_EQ(MakeAbsolutePath("c.ini", "/etc/qxw/", false), "/etc/qxw/c.ini");
    EXPECT_EQ(NormalizePath("Dir/Файл.ini", "/Base"), "/base/dir/файл.ini");
}

TEST(Paths, RelativeBaseIsAFileSystemError) {
    try {
        MakeAbsolutePath("x", "relative/base", false);
        FAIL();
    } catch (const FileLibException& e) {
        EXPECT_EQ(std::string(e.what()).rfind("Базовый путь должен быть абсолютным.", 0), 0u);
        EXPECT_EQ(e.FullMessage().rfind("Ошибка (FileLibraryError). ", 0), 0u);
    }
}

TEST(Paths, ProcessPathsAndExistence) {
    const std::string self = GetModulePath();
    ASSERT_FALSE(self.empty());
    EXPECT_EQ(self.front(), '/');
    EXPECT_TRUE(FileExists(self));
    EXPECT_FALSE(FileExists(self + ".missing"));
    EXPECT_FALSE(FileExists(""));
    const std::string current = GetCurrentPath();
    EXPECT_EQ(current.back(), '/');
    EXPECT_TRUE(FileExists(current));
}

}  // namespace
}  // namespace ZORVIK::filesystem
