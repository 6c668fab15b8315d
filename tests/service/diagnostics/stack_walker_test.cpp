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

    struct Frame {
        CallstackEntryType type;
        CallstackEntry entry;
    };
    std::vector<Frame> frames;
    std::vector<std::string> errors;
    std::string output;

protected:
    void ReportFrame(CallstackEntryType type, const CallstackEntry& entry) override {
        frames.push_back({type, entry});
        StackWalker::ReportFrame(type, entry);
    }
    void ReportDbgHelpError(const char* text, uint32_t lastError, uint64_t address) override {
        errors.push_back(text);
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
    RecordingWalker walker;
    ASSERT_TRUE(KnownFunctionForTheWalk(walker)) << walker.output;
    // Without a symbol path no search path is built.
    EXPECT_EQ(walker.output.rfind("SymInit: Symbol-SearchPath: '', symOptions: 528", 0), 0u) << walker.output;
    ASSERT_GE(walker.frames.size(), 3u);
    EXPECT_EQ(walker.frames.front().type, StackWalker::firstEntry);
    EXPECT_EQ(walker.frames.back().type, StackWalker::lastEntry);
    // The end of the stack is no frame (libbacktrace marks it with an all-ones address).
    EXPECT_EQ(walker.output.find("0xffffffffffffffff"), std::string::npos) << walker.output;
    bool found = false;
    for (const auto& frame : walker.frames) {
        if (frame.entry.undFullName.find("KnownFunctionForTheWalk") == std::string::npos) continue;
        found = true;
        if (frame.entry.lineFileName.empty())
            GTEST_SKIP() << "source lines need debug information, which this build (no -g) does not carry";
        EXPECT_NE(frame.entry.lineFileName.find("stack_walker_test.cpp"), std::string::npos);
        EXPECT_GT(frame.entry.lineNumber, 0u);
        EXPECT_NE(frame.entry.offset, 0u);
        EXPECT_FALSE(frame.entry.moduleName.empty());
        // The default text: "file (line): name".
        const std::string line = frame.entry.lineFileName + " (" + std::to_string(frame.entry.lineNumber) +
                                 "): " + frame.entry.undFullName + "\n";
        EXPECT_NE(walker.output.find(line), std::string::npos) << walker.output;
        break;
    }
    EXPECT_TRUE(found) << walker.output;
}

TEST(StackWalker, FirstWalkReportsSymbolInitAndModules) {
    RecordingWalker walker(0, "/opt/symbols");
    ASSERT_TRUE(walker.WalkStack());
    EXPECT_EQ(walker.output.rfind("SymInit: Symbol-SearchPath: '/opt/symbols;.;", 0), 0u) << walker.output;
    EXPECT_NE(walker.output.find("symOptions: 528, UserName: '"), std::string::npos);
    // The test program itself is one of the modules, with the module text's shape.
    EXPECT_NE(walker.output.find(":service_tests ("), std::string::npos) << walker.output;
    EXPECT_NE(walker.output.find("), size: "), std::string::npos);
    EXPECT_NE(walker.output.find(" (result: 0), SymType: '-unknown-', PDB: ''\n"), std::string::npos);
    // Modules are reported once per walker.
    const size_t length = walker.output.size();
    walker.output.clear();
    ASSERT_TRUE(walker.WalkStack());
    EXPECT_EQ(walker.output.find("SymInit:"), std::string::npos);
    EXPECT_LT(walker.output.size(), length);
}

TEST(StackWalker, AnotherThreadIsRefused) {
    RecordingWalker walker;
    std::thread other([] {});
    const bool walked = walker.WalkStack(other.native_handle());
    other.join();
    EXPECT_FALSE(walked);
    EXPECT_TRUE(walker.frames.empty());
    ASSERT_EQ(walker.errors.size(), 1u);
    EXPECT_EQ(walker.output, "ERROR: " + walker.errors[0] + ", GetLastError: 0 (Address: (nil))\n");
}

TEST(StackWalker, GivenContextOrOtherProcessIsRefused) {
    RecordingWalker walker;
    int context = 0;
    EXPECT_FALSE(walker.WalkStack(pthread_self(), &context));
    RecordingWalker stranger(0, nullptr, StackWalker::CurrentProcessId() + 1);
    EXPECT_FALSE(stranger.WalkStack());
    EXPECT_EQ(walker.errors.size(), 1u);
    EXPECT_EQ(stranger.errors.size(), 1u);
}

TEST(StackWalker, FrameTextWithoutSourceFile) {
    class Probe : public RecordingWalker {
    public:
        void Show(CallstackEntryType type, const CallstackEntry& entry) { StackWalker::ReportFrame(type, entry); }
    } walker;
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
