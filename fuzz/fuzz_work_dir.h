// A private working directory for the fuzz targets that need real files: made
// once per process under TMPDIR (or /tmp), removed at exit.
#pragma once

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string>

namespace zorvik_fuzz {

inline const std::string& WorkDirectory() {
    // Kept in a plain array so that it still holds the name when the exit handler runs.
    static char path[4096];
    static const std::string directory = [] {
        const char* base = std::getenv("TMPDIR");
        const std::string pattern = std::string(base && *base ? base : "/tmp") + "/zorvik_fuzz_XXXXXX";
        if (pattern.size() >= sizeof path) std::abort();
        pattern.copy(path, pattern.size());
        if (::mkdtemp(path) == nullptr) std::abort();
        std::atexit([] {
            std::error_code ignored;
            std::filesystem::remove_all(path, ignored);
        });
        return std::string(path) + "/";
    }();
    return directory;
}

}  // namespace zorvik_fuzz
