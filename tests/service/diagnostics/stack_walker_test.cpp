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

    std::vector<CallstackEntryType> types;
    std::vector<CallstackEntry> frames;
    size_t errors = 0;
    std::string output;

    void Show(CallstackEntryType type, const CallstackEntry& entry) { StackWalker::ReportFrame(type, entry); }

protected:
    void ReportFrame(CallstackEntryType type, const CallstackEntry& entry) override {
        types.push_back(type);
        frames.push_back(entry);
        StackWalker::ReportFrame(type, entry);
    }
    void ReportDbgHelpError(const char* text, uint32_t lastError, uint64_t address) override {
        ++errors;
        StackWalker::ReportDbgHelpError(text, lastError, address);
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
    // The first walk reports the symbol search path and the modules, the test program among them.
    EXPECT_EQ(walker.output.rfind("SymInit: Symbol-SearchPath: '/opt/symbols;.;", 0), 0u) << walker.output;
    EXPECT_NE(walker.output.find("symOptions: 528, UserName: '"), std::string::npos);
    EXPECT_NE(walker.output.find(":service_tests ("), std::string::npos) << walker.output;
    EXPECT_NE(walker.output.find(" (result: 0), SymType: '-unknown-', PDB: ''\n"), std::string::npos);
    // The end of the stack is no frame (libbacktrace marks it with an all-ones address).
    EXPECT_EQ(walker.output.find("0xffffffffffffffff"), std::string::npos) << walker.output;
    ASSERT_GE(walker.frames.size(), 3u);
    EXPECT_EQ(walker.types.front(), StackWalker::firstEntry);
    EXPECT_EQ(walker.types.back(), StackWalker::lastEntry);
    // Modules are reported once per walker.
    const std::string firstWalk = walker.output;
    walker.output.clear();
    ASSERT_TRUE(walker.WalkStack());
    EXPECT_EQ(walker.output.find("SymInit:"), std::string::npos);
    for (const auto& frame : walker.frames) {
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
    EXPECT_EQ(walker.output.rfind("ERROR: ", 0), 0u);
    EXPECT_NE(walker.output.find(", GetLastError: 0 (Address: (nil))\n"), std::string::npos) << walker.output;
    int context = 0;
    EXPECT_FALSE(walker.WalkStack(pthread_self(), &context));
    RecordingWalker stranger(0, nullptr, StackWalker::CurrentProcessId() + 1);
    EXPECT_FALSE(stranger.WalkStack());
    EXPECT_TRUE(walker.frames.empty());
    EXPECT_EQ(walker.errors + stranger.errors, 3u);
}

TEST(StackWalker, FrameTextWithoutSourceFile) {
    RecordingWalker walker;
    StackWalker::CallstackEntry entry;
    entry.offset = 0x1234;
    walker.Show(StackWalker::nextEntry, entry);
    entry.moduleName = "libc.so.6";
    entry.name = "raw";
    walker.Show(StackWalker::nextEntry, entry);
    entry.undName = "und";
    walker.Show(StackWalker::firstEntry, entry);
    walker.Show(StackWalker::lastEntry, entry);  // the last entry prints nothing
    entry.offset = 0;
    walker.Show(StackWalker::nextEntry, entry);  // nor does a frame without an address
    EXPECT_EQ(walker.output,
              "0x1234 ((module-name not available)): (filename not available): (function-name not available)\n"
              "0x1234 (libc.so.6): (filename not available): raw\n"
              "0x1234 (libc.so.6): (filename not available): und\n");
}

}  // namespace
}  // namespace ZORVIK
