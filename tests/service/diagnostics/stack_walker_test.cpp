#include "service/diagnostics/stack_walker.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>

#include <string>
#include <thread>
#include <vector>

#include "service/common/filesystem.h"

namespace ZORVIK {
namespace {

// Keeps what the walker reports instead of printing it.
class RecordingWalker : public StackWalker {
public:
    using StackWalker::StackWalker;

    std::vector<std::pair<CallstackEntryType, CallstackEntry>> frames;
    std::vector<std::string> errors;
    std::string output;

    // The base class's text of one frame.
    void Show(CallstackEntryType type, const CallstackEntry& entry) { StackWalker::ReportFrame(type, entry); }

protected:
    void ReportFrame(CallstackEntryType type, const CallstackEntry& entry) override {
        frames.emplace_back(type, entry);
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
    RecordingWalker walker(0, "/opt/symbols");
    ASSERT_TRUE(KnownFunctionForTheWalk(walker)) << walker.output;
    const std::string firstWalk = walker.output;
    // The first walk reports the symbol search path and the modules, the test program among them.
    EXPECT_EQ(firstWalk.rfind("SymInit: Symbol-SearchPath: '/opt/symbols;.;", 0), 0u) << firstWalk;
    EXPECT_NE(firstWalk.find("symOptions: 528, UserName: '"), std::string::npos);
    // Then the system's version, without the service pack, suite and product of a Windows system.
    const size_t version = firstWalk.find("\nOS-Version: ");
    ASSERT_NE(version, std::string::npos) << firstWalk;
    EXPECT_NE(firstWalk.find(" () 0x0-0x0\n", version), std::string::npos) << firstWalk;
    EXPECT_NE(firstWalk.find(":service_tests ("), std::string::npos) << firstWalk;
    EXPECT_NE(firstWalk.find(" (result: 0), SymType: '-unknown-', PDB: ''\n"), std::string::npos);
    // The end of the stack is no frame (libbacktrace marks it with an all-ones address).
    EXPECT_EQ(firstWalk.find("0xffffffffffffffff"), std::string::npos) << firstWalk;
    ASSERT_GE(walker.frames.size(), 3u);
    EXPECT_EQ(walker.frames.front().first, StackWalker::firstEntry);
    EXPECT_EQ(walker.frames.back().first, StackWalker::lastEntry);
    for (const auto& [type, frame] : walker.frames) {
        EXPECT_NE(frame.offset, UINTPTR_MAX);
        EXPECT_NE(frame.offset, 0u);
    }
    // The last entry repeats the last real frame, which the text has shown already.
    EXPECT_EQ(walker.frames.back().second.offset, walker.frames[walker.frames.size() - 2].second.offset);
    // The module text, with names that keep every part after the last '/'.
    EXPECT_NE(firstWalk.find("), size: "), std::string::npos);
    EXPECT_NE(firstWalk.find(":libc.so.6 ("), std::string::npos) << firstWalk;
    // Modules are reported once per walker.
    walker.output.clear();
    ASSERT_TRUE(walker.WalkStack());
    EXPECT_EQ(walker.output.find("SymInit:"), std::string::npos);
    for (const auto& [type, frame] : walker.frames) {
        if (frame.undFullName.find("KnownFunctionForTheWalk") == std::string::npos) continue;
        if (frame.lineFileName.empty())
            GTEST_SKIP() << "source lines need debug information, which this build (no -g) does not carry";
        EXPECT_NE(frame.lineFileName.find("stack_walker_test.cpp"), std::string::npos);
        EXPECT_EQ(frame.moduleName, "service_tests");
        EXPECT_GT(frame.lineNumber, 0u);
        EXPECT_NE(frame.offset, 0u);
        // The return address lies inside the function, a little after its start.
        EXPECT_GT(frame.offsetFromSymbol, 0u);
        EXPECT_LT(frame.offsetFromSymbol, 0x1000u);
        // The default text: "file (line): name".
        const std::string line =
            frame.lineFileName + " (" + std::to_string(frame.lineNumber) + "): " + frame.undFullName + "\n";
        EXPECT_NE(firstWalk.find(line), std::string::npos) << firstWalk;
        EXPECT_TRUE(walker.errors.empty()) << firstWalk;  // with debug information nothing is missing
        return;
    }
    ADD_FAILURE() << "no frame of KnownFunctionForTheWalk in\n" << firstWalk;
}

// Calls itself depth times, each call returning to the same place, and walks at the bottom.
__attribute__((noinline)) bool Recurse(RecordingWalker& walker, int depth) {
    const bool walked = depth == 0 ? walker.WalkStack() : Recurse(walker, depth - 1);
    asm volatile("" ::: "memory");  // keeps the call from becoming a tail call or a loop
    return walked;
}

TEST(StackWalker, MoreThanAThousandFramesReturningToOnePlaceEndTheWalkAsEndless) {
    RecordingWalker deep;
    ASSERT_TRUE(Recurse(deep, 1500));
    EXPECT_EQ(deep.errors, std::vector<std::string>{"StackWalk64-Endless-Callstack!"});
    EXPECT_NE(deep.frames.back().first, StackWalker::lastEntry);  // an endless walk has no last entry
    EXPECT_LT(deep.frames.size(), 1100u);
    RecordingWalker shallow;
    ASSERT_TRUE(Recurse(shallow, 900));
    EXPECT_TRUE(shallow.errors.empty());
    EXPECT_EQ(shallow.frames.back().first, StackWalker::lastEntry);
    EXPECT_GT(shallow.frames.size(), 900u);
}

TEST(StackWalker, SearchPathOnlyWithASymbolPathAndInItsOrder) {
    RecordingWalker plain;
    ASSERT_TRUE(plain.WalkStack());
    EXPECT_EQ(plain.output.rfind("SymInit: Symbol-SearchPath: '', symOptions: 528, UserName: '", 0), 0u)
        << plain.output;
    // The given path, ".", the current directory, the program's directory without its final '/', then the
    // symbol-path variable.
    const char* saved = std::getenv("_NT_SYMBOL_PATH");
    const std::string savedValue = saved ? saved : "";
    setenv("_NT_SYMBOL_PATH", "/env/symbols", 1);
    RecordingWalker given(0, "/opt/symbols");
    const bool walked = given.WalkStack();
    saved ? setenv("_NT_SYMBOL_PATH", savedValue.c_str(), 1) : unsetenv("_NT_SYMBOL_PATH");
    ASSERT_TRUE(walked);
    const std::string program = filesystem::GetModulePath();
    const std::string expected = "SymInit: Symbol-SearchPath: '/opt/symbols;.;" + filesystem::GetCurrentPath() + ";" +
                                 program.substr(0, program.rfind('/')) + ";/env/symbols;', symOptions: 528";
    EXPECT_EQ(given.output.rfind(expected, 0), 0u) << given.output;
}

TEST(StackWalker, FrameTextWithoutASourceFile) {
    RecordingWalker walker;
    StackWalker::CallstackEntry entry;
    entry.offset = 0x1234;
    walker.Show(StackWalker::nextEntry, entry);
    entry.moduleName = "libc.so.6";
    entry.name = "raw";
    walker.Show(StackWalker::nextEntry, entry);
    entry.undName = "und";
    walker.Show(StackWalker::firstEntry, entry);
    entry.undFullName = "full";
    walker.Show(StackWalker::nextEntry, entry);
    walker.Show(StackWalker::lastEntry, entry);  // the last entry prints nothing
    entry.lineFileName = "a.cpp";
    entry.lineNumber = 12;
    walker.Show(StackWalker::nextEntry, entry);
    entry.offset = 0;
    walker.Show(StackWalker::nextEntry, entry);  // nor does a frame without an address
    EXPECT_EQ(walker.output,
              "0x1234 ((module-name not available)): (filename not available): (function-name not available)\n"
              "0x1234 (libc.so.6): (filename not available): raw\n"
              "0x1234 (libc.so.6): (filename not available): und\n"
              "0x1234 (libc.so.6): (filename not available): full\n"
              "a.cpp (12): full\n");
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
    // One error per refusal, each with its own text, and no walk begun.
    EXPECT_EQ(walker.errors, (std::vector<std::string>{"Only the calling thread can be walked",
                                                       "A given thread context cannot be walked"}));
    EXPECT_EQ(stranger.errors, std::vector<std::string>{"Only the calling process can be walked"});
    EXPECT_EQ(walker.output,
              "ERROR: Only the calling thread can be walked, GetLastError: 0 (Address: (nil))\n"
              "ERROR: A given thread context cannot be walked, GetLastError: 0 (Address: (nil))\n");
}

}  // namespace
}  // namespace ZORVIK
