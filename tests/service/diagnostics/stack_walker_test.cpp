#include "service/diagnostics/stack_walker.h"

#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

namespace ZORVIK {
namespace {

// Keeps what the walker reports instead of printing it.
class RecordingWalker : public StackWalker {
public:
    using StackWalker::StackWalker;

    std::vector<std::pair<CallstackEntryType, CallstackEntry>> frames;
    std::string output;

protected:
    void ReportFrame(CallstackEntryType type, const CallstackEntry& entry) override {
        frames.emplace_back(type, entry);
        StackWalker::ReportFrame(type, entry);
    }
    void Output(const char* text) override { output += text; }
};

__attribute__((noinline)) bool KnownFunctionForTheWalk(RecordingWalker& walker) {
    const bool walked = walker.WalkStack();
    asm volatile("" ::: "memory");  // keeps the call from becoming a tail call
    return walked;
}

TEST(StackWalker, ReportsAKnownFunctionWithItsSourceFile) {
    RecordingWalker walker(0, "/opt/symbols");
    ASSERT_TRUE(KnownFunctionForTheWalk(walker)) << walker.output;
    const std::string firstWalk = walker.output;
    // The first walk reports the symbol search path and the modules, the test program among them.
    EXPECT_EQ(firstWalk.rfind("SymInit: Symbol-SearchPath: '/opt/symbols;.;", 0), 0u) << firstWalk;
    EXPECT_NE(firstWalk.find("symOptions: 528, UserName: '"), std::string::npos);
    EXPECT_NE(firstWalk.find(":service_tests ("), std::string::npos) << firstWalk;
    EXPECT_NE(firstWalk.find(" (result: 0), SymType: '-unknown-', PDB: ''\n"), std::string::npos);
    // The end of the stack is no frame (libbacktrace marks it with an all-ones address).
    EXPECT_EQ(firstWalk.find("0xffffffffffffffff"), std::string::npos) << firstWalk;
    ASSERT_GE(walker.frames.size(), 3u);
    EXPECT_EQ(walker.frames.front().first, StackWalker::firstEntry);
    EXPECT_EQ(walker.frames.back().first, StackWalker::lastEntry);
    // Modules are reported once per walker.
    walker.output.clear();
    ASSERT_TRUE(walker.WalkStack());
    EXPECT_EQ(walker.output.find("SymInit:"), std::string::npos);
    for (const auto& [type, frame] : walker.frames) {
        if (frame.undFullName.find("KnownFunctionForTheWalk") == std::string::npos) continue;
        if (frame.lineFileName.empty())
            GTEST_SKIP() << "source lines need debug information, which this build (no -g) does not carry";
        EXPECT_NE(frame.lineFileName.find("stack_walker_test.cpp"), std::string::npos);
        EXPECT_FALSE(frame.moduleName.empty());
        // The default text: "file (line): name".
        const std::string line =
            frame.lineFileName + " (" + std::to_string(frame.lineNumber) + "): " + frame.undFullName + "\n";
        EXPECT_NE(firstWalk.find(line), std::string::npos) << firstWalk;
        return;
    }
    ADD_FAILURE() << "no frame of KnownFunctionForTheWalk in\n" << firstWalk;
}

TEST(StackWalker, AnotherThreadContextOrProcessIsRefused) {
    RecordingWalker walker;
    std::thread other([] {});
    EXPECT_FALSE(walker.WalkStack(other.native_handle()));
    other.join();
    int context = 0;
    EXPECT_FALSE(walker.WalkStack(pthread_self(), &context));
    RecordingWalker stranger(0, nullptr, StackWalker::CurrentProcessId() + 1);
    EXPECT_FALSE(stranger.WalkStack());
    EXPECT_TRUE(walker.frames.empty());
    EXPECT_EQ(walker.output.rfind("ERROR: ", 0), 0u);
    EXPECT_NE(stranger.output.find(", GetLastError: 0 (Address: (nil))\n"), std::string::npos) << stranger.output;
}

}  // namespace
}  // namespace ZORVIK
