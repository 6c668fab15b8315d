// Reading a settings file and looking settings up, side by side with a plain
// reference: a getline loop that splits "key = value" lines into a std::map, and
// std::map lookups of keys already in lower case. The difference is what the
// line syntax (groups, continuations, operators) and case folding cost.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <map>
#include <string>

#include "service/common/utilities.h"
#include "service/program_settings/settings_sources.h"

namespace {

constexpr int kLines = 1000;

// A plain array, so that the name is still there when the file is removed at exit.
char g_settingsFile[] = "/tmp/zorvik_settings_bench_XXXXXX";

// A settings file of kLines "key = value" lines, every tenth one a comment.
const char* SettingsFile() {
    static const bool written = [] {
        const int fd = ::mkstemp(g_settingsFile);
        if (fd < 0) std::abort();
        ::close(fd);
        std::atexit([] { ::unlink(g_settingsFile); });
        std::ofstream out(g_settingsFile, std::ios::binary);
        for (int i = 0; i < kLines; ++i) {
            if (i % 10 == 0) {
                out << "# comment line " << i << "\n";
            } else {
                out << "Reader_Setting_" << i << " = value number " << i << ", with a list\n";
            }
        }
        return true;
    }();
    (void)written;
    return g_settingsFile;
}

void BM_AddFileSettings(benchmark::State& state) {
    for (auto _ : state) {
        ZORVIK::SettingsDatabase db;
        ZORVIK::AddFileSettings(SettingsFile(), db, "", true);
        benchmark::DoNotOptimize(db);
    }
    state.SetItemsProcessed(state.iterations() * kLines);
}
BENCHMARK(BM_AddFileSettings);

void BM_ReferenceKeyValueReader(benchmark::State& state) {
    for (auto _ : state) {
        std::map<std::string, std::string> settings;
        std::ifstream in(SettingsFile(), std::ios::binary);
        std::string line;
        while (std::getline(in, line)) {
            const std::string trimmed = ZORVIK::Trim(line);
            if (trimmed.empty() || trimmed[0] == '#' || trimmed[0] == ';') continue;
            const size_t equals = trimmed.find('=');
            if (equals == std::string::npos) continue;
            settings[ZORVIK::ToLower(ZORVIK::Trim(trimmed.substr(0, equals)))] =
                ZORVIK::Trim(trimmed.substr(equals + 1));
        }
        benchmark::DoNotOptimize(settings);
    }
    state.SetItemsProcessed(state.iterations() * kLines);
}
BENCHMARK(BM_ReferenceKeyValueReader);

void BM_GetString(benchmark::State& state) {
    ZORVIK::SettingsDatabase db;
    ZORVIK::AddFileSettings(SettingsFile(), db, "", true);
    for (auto _ : state) {
        for (int i = 1; i < kLines; i += 10) {
            benchmark::DoNotOptimize(db.GetString("Reader_Setting_" + std::to_string(i)));
        }
    }
    state.SetItemsProcessed(state.iterations() * (kLines / 10));
}
BENCHMARK(BM_GetString);

void BM_ReferenceMapFind(benchmark::State& state) {
    std::map<std::string, std::string> settings;
    for (int i = 1; i < kLines; i += 10) {
        settings["reader_setting_" + std::to_string(i)] = "value number " + std::to_string(i) + ", with a list";
    }
    for (auto _ : state) {
        for (int i = 1; i < kLines; i += 10) {
            benchmark::DoNotOptimize(settings.find("reader_setting_" + std::to_string(i))->second);
        }
    }
    state.SetItemsProcessed(state.iterations() * (kLines / 10));
}
BENCHMARK(BM_ReferenceMapFind);

}  // namespace
