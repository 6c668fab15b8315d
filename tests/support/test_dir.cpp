#include "support/test_dir.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>

namespace ZORVIK::test {

namespace {

std::string DirectoryOf(const ::testing::TestInfo* test) {
    std::string name = test ? std::string(test->test_suite_name()) + "." + test->name() : "outside_tests";
    std::replace(name.begin(), name.end(), '/', '_');  // parameterised names
    return ::testing::TempDir() + "zorvik_" + std::to_string(::getpid()) + "_" + name + "/";
}

// Runs after the test's fixture is gone, so nothing holds the files any more.
class RemoveTestDirectory : public ::testing::EmptyTestEventListener {
    void OnTestEnd(const ::testing::TestInfo& test) override {
        std::error_code ignored;
        std::filesystem::remove_all(DirectoryOf(&test), ignored);
    }
};

[[maybe_unused]] const bool g_registered = [] {
    ::testing::UnitTest::GetInstance()->listeners().Append(new RemoveTestDirectory);
    return true;
}();

}  // namespace

std::string TestDir() {
    const std::string directory = DirectoryOf(::testing::UnitTest::GetInstance()->current_test_info());
    std::filesystem::create_directories(directory);
    return directory;
}

}  // namespace ZORVIK::test
