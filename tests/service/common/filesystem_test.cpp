#include "service/common/filesystem.h"

#include <gtest/gtest.h>

#include "service/common/exception.h"
#include "support/error_text.h"

namespace ZORVIK::filesystem {
namespace {

TEST(Paths, FormatUnifyMakeAbsoluteAndFind) {
    EXPECT_EQ(FormatPath("/opt/tools/skarna.exe", "%d|%p|%n|%e"), "/|opt/tools/|skarna|.exe");
    EXPECT_EQ(FormatPath("\\\\a\\\\b.c", "%d%p%n%e"), "/a/b.c");
    EXPECT_EQ(FormatPath("a", "100%% %x%"), "100% x");
    EXPECT_EQ(UnifySeparators("a//b\\\\c/\\d"), "a/b/c/d");
    EXPECT_EQ(MakeAbsolutePath("../x", "/a/b", false), "/a/x");
    EXPECT_EQ(MakeAbsolutePath("/d//A/./b", "/base", true), "/d/a/b");
    EXPECT_EQ(MakeAbsolutePath("../../../..", "/a", false), "/");
    EXPECT_EQ(NormalizePath("Dir/Файл.ini", "/Base"), "/base/dir/файл.ini");
    EXPECT_TRUE(FileExists(GetModulePath()));
    EXPECT_FALSE(FileExists(GetCurrentPath() + "missing") || FileExists(""));
}

TEST(Paths, RefusalsAreFileSystemErrors) {
    EXPECT_THROW(FormatPath("", "%n"), Exception);
    EXPECT_THROW(FormatPath("a", ""), Exception);
    EXPECT_EQ(test::MessageOf([] { FormatPath("/" + std::string(5000, 'a'), "%n"); }), "Wrong path size!");
    try {
        MakeAbsolutePath("x", "relative/base", false);
        FAIL();
    } catch (const FileLibException& e) {
        EXPECT_EQ(e.FullMessage(), "Ошибка (FileLibraryError). Базовый путь должен быть абсолютным.Invalid argument");
    }
}

}  // namespace
}  // namespace ZORVIK::filesystem
