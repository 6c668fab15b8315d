// Call-stack dumper: prints the calling thread's stack frame by frame with
// function names, source lines and modules. A base class whose five output
// operations a derived walker overrides to send the text elsewhere.
#pragma once

#include <pthread.h>
#include <sys/types.h>

#include <cstdint>
#include <string>

namespace ZORVIK {

class StackWalker {
public:
    enum Options : uint32_t {
        SymBuildPath = 0x10,  // report a symbol search path (set when a path is given)
    };

    enum CallstackEntryType { firstEntry, nextEntry, lastEntry };

    static constexpr size_t MaxNameLength = 2048;

    struct CallstackEntry {
        uint64_t offset = 0;  // the frame's program counter
        std::string name;
        std::string undName;
        std::string undFullName;
        uint64_t offsetFromSymbol = 0;
        uint32_t lineNumber = 0;
        std::string lineFileName;
        std::string moduleName;
        std::string symTypeString;
        std::string loadedImageName;
    };

    // A process id is all POSIX needs to tell the walked process; no handle is taken.
    StackWalker(uint32_t options = 0, const char* symbolPath = nullptr, pid_t processId = CurrentProcessId());
    virtual ~StackWalker();
    StackWalker(const StackWalker&) = delete;
    StackWalker& operator=(const StackWalker&) = delete;

    // Walks the calling thread (thread = pthread_self(), no context). Another
    // thread, a given context or another process is refused through
    // ReportDbgHelpError and false.
    bool WalkStack(pthread_t thread = pthread_self(), const void* context = nullptr);

    static pid_t CurrentProcessId();

protected:
    virtual void ReportSymbolInit(const char* searchPath, uint32_t symOptions, const char* userName);
    virtual void ReportModule(const char* image, const char* module, uint64_t baseAddress, uint32_t size,
                              uint32_t result, const char* symType, const char* pdbName);
    virtual void ReportFrame(CallstackEntryType type, const CallstackEntry& entry);
    virtual void ReportDbgHelpError(const char* text, uint32_t lastError, uint64_t address);
    // Writes to standard error.
    virtual void Output(const char* text);

private:
    bool EnumerateModules();
    std::string BuildSearchPath() const;
    void OutputFormatted(const char* format, ...) __attribute__((format(printf, 2, 3)));

    pid_t m_processId;
    bool m_modulesLoaded = false;
    bool m_initialised = false;
    std::string m_symbolPath;
    bool m_hasSymbolPath = false;
    uint32_t m_options;
    uint32_t m_maxRecursionCount = 1000;

    friend struct StackWalkerAccess;
};

}  // namespace ZORVIK
