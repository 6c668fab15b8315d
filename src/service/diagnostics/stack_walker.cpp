#include "service/diagnostics/stack_walker.h"

#include <cxxabi.h>
#include <dlfcn.h>
#include <link.h>
#include <pwd.h>
#include <sys/utsname.h>
#include <unistd.h>

#include <algorithm>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <utility>
#include <vector>

#include "service/common/filesystem.h"

// GCC ships libbacktrace as a static library without its header; these are the
// declarations of backtrace.h for the calls used here.
#if ZORVIK_HAVE_LIBBACKTRACE
extern "C" {
struct backtrace_state;
typedef void (*backtrace_error_callback)(void* data, const char* message, int errnum);
typedef int (*backtrace_full_callback)(void* data, uintptr_t pc, const char* fileName, int lineNumber,
                                       const char* function);
typedef void (*backtrace_syminfo_callback)(void* data, uintptr_t pc, const char* symbolName, uintptr_t symbolValue,
                                           uintptr_t symbolSize);
backtrace_state* backtrace_create_state(const char* fileName, int threaded, backtrace_error_callback errorCallback,
                                        void* data);
int backtrace_full(backtrace_state* state, int skip, backtrace_full_callback callback,
                   backtrace_error_callback errorCallback, void* data);
int backtrace_syminfo(backtrace_state* state, uintptr_t address, backtrace_syminfo_callback callback,
                      backtrace_error_callback errorCallback, void* data);
}
#endif

namespace ZORVIK {

namespace {

constexpr uint32_t SearchPathLimit = 4096;
// The symbol options in force: line numbers are always read, and nothing ever
// raises a critical-error box (the Windows bits SYMOPT_LOAD_LINES | SYMOPT_FAIL_CRITICAL_ERRORS).
constexpr uint32_t SymbolOptions = 0x210;
// libbacktrace reads DWARF; the Windows symbol-type table has no entry for it.
constexpr char SymbolType[] = "-unknown-";

std::string BaseName(const std::string& path) {
    const filesystem::PathParts parts = filesystem::SplitPath(path);
    return parts.name + parts.extension;
}

std::string Demangle(const std::string& name) {
    int status = -1;
    std::unique_ptr<char, decltype(&std::free)> text(abi::__cxa_demangle(name.c_str(), nullptr, nullptr, &status),
                                                     &std::free);
    return status == 0 && text ? std::string(text.get()) : name;
}

std::string Cut(std::string text) {
    if (text.size() >= StackWalker::MaxNameLength) text.resize(StackWalker::MaxNameLength - 1);
    return text;
}

std::string UserName() {
    char buffer[1024];
    passwd entry{};
    passwd* found = nullptr;
    if (getpwuid_r(geteuid(), &entry, buffer, sizeof buffer, &found) == 0 && found != nullptr) return found->pw_name;
    return std::string();
}

int ReportOneModule(dl_phdr_info* info, size_t /*size*/, void* data) {
    auto& modules = *static_cast<std::vector<std::pair<std::string, std::pair<uint64_t, uint64_t>>>*>(data);
    uint64_t low = UINT64_MAX;
    uint64_t high = 0;
    for (ElfW(Half) i = 0; i < info->dlpi_phnum; ++i) {
        const ElfW(Phdr)& segment = info->dlpi_phdr[i];
        if (segment.p_type != PT_LOAD) continue;
        low = std::min<uint64_t>(low, segment.p_vaddr);
        high = std::max<uint64_t>(high, segment.p_vaddr + segment.p_memsz);
    }
    if (low == UINT64_MAX) return 0;
    // The program itself has an empty name in the loader's list.
    std::string image = info->dlpi_name && info->dlpi_name[0] ? info->dlpi_name : filesystem::GetModulePath();
    modules.push_back({image, {info->dlpi_addr + low, high - low}});
    return 0;
}

}  // namespace

// The libbacktrace callbacks reach the walker's protected operations through this.
struct StackWalkerAccess {
    struct Walk {
        StackWalker* walker = nullptr;
        uint32_t frameCount = 0;
        uint64_t previousPc = 0;
        uint32_t samePcCount = 0;
        StackWalker::CallstackEntry last;
        bool endless = false;
    };

    static void ReportError(void* data, const char* message, int errnum) {
        auto* walk = static_cast<Walk*>(data);
        walk->walker->ReportDbgHelpError(message ? message : "", errnum > 0 ? static_cast<uint32_t>(errnum) : 0, 0);
    }

    static void IgnoreError(void*, const char*, int) {}

    static void TakeSymbol(void* data, uintptr_t pc, const char* symbolName, uintptr_t symbolValue, uintptr_t) {
        auto* entry = static_cast<StackWalker::CallstackEntry*>(data);
        if (symbolName != nullptr && entry->name.empty()) entry->name = Cut(symbolName);
        if (symbolValue != 0 && pc >= symbolValue) entry->offsetFromSymbol = pc - symbolValue;
    }

    static void Fill(StackWalker::CallstackEntry& entry, uintptr_t pc, const char* fileName, int lineNumber,
                     const char* function);

    static int TakeFrame(void* data, uintptr_t pc, const char* fileName, int lineNumber, const char* function);
};

#if ZORVIK_HAVE_LIBBACKTRACE
namespace {
backtrace_state* SharedState() {
    // libbacktrace keeps its state for the life of the process; one serves every walker.
    static backtrace_state* const state = backtrace_create_state(nullptr, 1, StackWalkerAccess::IgnoreError, nullptr);
    return state;
}
}  // namespace

void StackWalkerAccess::Fill(StackWalker::CallstackEntry& entry, uintptr_t pc, const char* fileName, int lineNumber,
                             const char* function) {
    entry.offset = pc;
    if (function != nullptr) entry.name = Cut(function);
    backtrace_syminfo(SharedState(), pc, TakeSymbol, IgnoreError, &entry);
    if (!entry.name.empty()) {
        entry.undFullName = Cut(Demangle(entry.name));
        entry.undName = entry.undFullName;
    }
    if (fileName != nullptr) {
        entry.lineFileName = Cut(fileName);
        entry.lineNumber = lineNumber > 0 ? static_cast<uint32_t>(lineNumber) : 0;
    }
    Dl_info module{};
    if (dladdr(reinterpret_cast<void*>(pc), &module) != 0 && module.dli_fname != nullptr) {
        entry.loadedImageName = Cut(module.dli_fname[0] ? module.dli_fname : filesystem::GetModulePath());
        entry.moduleName = BaseName(entry.loadedImageName);
    }
    entry.symTypeString = SymbolType;
}

int StackWalkerAccess::TakeFrame(void* data, uintptr_t pc, const char* fileName, int lineNumber, const char* function) {
    auto* walk = static_cast<Walk*>(data);
    // libbacktrace reports the end of the stack as an address of all ones (a
    // return address of 0, less one to point into the call), not as 0.
    if (pc == 0 || pc == UINTPTR_MAX) return 1;
    // A stack that keeps returning to the same place is corrupt; stop rather than loop.
    walk->samePcCount = pc == walk->previousPc ? walk->samePcCount + 1 : 0;
    walk->previousPc = pc;
    if (walk->samePcCount > walk->walker->m_maxRecursionCount) {
        walk->walker->ReportDbgHelpError("StackWalk64-Endless-Callstack!", 0, pc);
        walk->endless = true;
        return 1;
    }
    StackWalker::CallstackEntry entry;
    Fill(entry, pc, fileName, lineNumber, function);
    walk->walker->ReportFrame(walk->frameCount == 0 ? StackWalker::firstEntry : StackWalker::nextEntry, entry);
    ++walk->frameCount;
    walk->last = std::move(entry);
    return 0;
}
#endif

pid_t StackWalker::CurrentProcessId() { return getpid(); }

StackWalker::StackWalker(uint32_t options, const char* symbolPath, pid_t processId)
    : m_processId(processId), m_options(options) {
    if (symbolPath != nullptr) {
        m_symbolPath = symbolPath;
        m_hasSymbolPath = true;
        m_options |= SymBuildPath;
    }
}

StackWalker::~StackWalker() = default;

std::string StackWalker::BuildSearchPath() const {
    std::string path;
    auto add = [&path](const std::string& entry) {
        if (!entry.empty() && path.size() + entry.size() + 1 < SearchPathLimit) path += entry + ";";
    };
    if (m_hasSymbolPath) add(m_symbolPath);
    add(".");
    add(filesystem::GetCurrentPath());
    // The program's directory without its final '/' (none for a program in the root).
    const std::string programDirectory = filesystem::SplitPath(filesystem::GetModulePath()).directory;
    if (programDirectory.size() > 1) add(programDirectory.substr(0, programDirectory.size() - 1));
    for (const char* variable : {"_NT_SYMBOL_PATH", "_NT_ALTERNATE_SYMBOL_PATH"}) {
        if (const char* value = std::getenv(variable)) add(value);
    }
    return path;
}

bool StackWalker::EnumerateModules() {
#if ZORVIK_HAVE_LIBBACKTRACE
    if (SharedState() == nullptr) return false;
#else
    return false;
#endif
    const std::string searchPath = (m_options & SymBuildPath) ? BuildSearchPath() : std::string();
    ReportSymbolInit(searchPath.c_str(), SymbolOptions, UserName().c_str());
    std::vector<std::pair<std::string, std::pair<uint64_t, uint64_t>>> modules;
    dl_iterate_phdr(ReportOneModule, &modules);
    for (const auto& [image, place] : modules) {
        ReportModule(image.c_str(), BaseName(image).c_str(), place.first, static_cast<uint32_t>(place.second), 0,
                     SymbolType, "");
    }
    return true;
}

bool StackWalker::WalkStack(pthread_t thread, const void* context) {
    if (m_processId != getpid()) {
        ReportDbgHelpError("Only the calling process can be walked", 0, 0);
        return false;
    }
    if (!pthread_equal(thread, pthread_self())) {
        ReportDbgHelpError("Only the calling thread can be walked", 0, 0);
        return false;
    }
    if (context != nullptr) {
        ReportDbgHelpError("A given thread context cannot be walked", 0, 0);
        return false;
    }
    if (!m_modulesLoaded) {
        m_initialised = EnumerateModules();
        m_modulesLoaded = true;
    }
    if (!m_initialised) {
        ReportDbgHelpError("Error while initializing dbghelp.dll", 0, 0);
        return false;
    }
#if ZORVIK_HAVE_LIBBACKTRACE
    StackWalkerAccess::Walk walk;
    walk.walker = this;
    backtrace_full(SharedState(), 0, StackWalkerAccess::TakeFrame, StackWalkerAccess::ReportError, &walk);
    if (walk.frameCount != 0 && !walk.endless) ReportFrame(lastEntry, walk.last);
    return true;
#else
    return false;
#endif
}

void StackWalker::OutputFormatted(const char* format, ...) {
    char buffer[MaxNameLength];
    va_list args;
    va_start(args, format);
    std::vsnprintf(buffer, sizeof buffer, format, args);
    va_end(args);
    Output(buffer);
}

void StackWalker::ReportSymbolInit(const char* searchPath, uint32_t symOptions, const char* userName) {
    OutputFormatted("SymInit: Symbol-SearchPath: '%s', symOptions: %u, UserName: '%s'\n", searchPath, symOptions,
                    userName);
    utsname system{};
    unsigned major = 0;
    unsigned minor = 0;
    unsigned build = 0;
    if (uname(&system) == 0 && std::sscanf(system.release, "%u.%u.%u", &major, &minor, &build) >= 2) {
        // No service pack, suite mask or product type outside Windows.
        OutputFormatted("OS-Version: %u.%u.%u (%s) 0x%x-0x%x\n", major, minor, build, "", 0u, 0u);
    }
}

void StackWalker::ReportModule(const char* image, const char* module, uint64_t baseAddress, uint32_t size,
                               uint32_t result, const char* symType, const char* pdbName) {
    // ELF modules carry no version resource, so no file version is ever shown.
    OutputFormatted("%s:%s (%p), size: %u (result: %u), SymType: '%s', PDB: '%s'\n", image, module,
                    reinterpret_cast<void*>(static_cast<uintptr_t>(baseAddress)), size, result, symType, pdbName);
}

void StackWalker::ReportFrame(CallstackEntryType type, const CallstackEntry& entry) {
    if (type == lastEntry || entry.offset == 0) return;
    const char* name = "(function-name not available)";
    if (!entry.undFullName.empty()) {
        name = entry.undFullName.c_str();
    } else if (!entry.undName.empty()) {
        name = entry.undName.c_str();
    } else if (!entry.name.empty()) {
        name = entry.name.c_str();
    }
    if (!entry.lineFileName.empty()) {
        OutputFormatted("%s (%u): %s\n", entry.lineFileName.c_str(), entry.lineNumber, name);
    } else {
        OutputFormatted("%p (%s): %s: %s\n", reinterpret_cast<void*>(static_cast<uintptr_t>(entry.offset)),
                        entry.moduleName.empty() ? "(module-name not available)" : entry.moduleName.c_str(),
                        "(filename not available)", name);
    }
}

void StackWalker::ReportDbgHelpError(const char* text, uint32_t lastError, uint64_t address) {
    OutputFormatted("ERROR: %s, GetLastError: %u (Address: %p)\n", text, lastError,
                    reinterpret_cast<void*>(static_cast<uintptr_t>(address)));
}

void StackWalker::Output(const char* text) { std::fputs(text, stderr); }

}  // namespace ZORVIK
