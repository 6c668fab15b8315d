// Arbitrary bytes as a settings file, as a command line (arguments split at zero
// bytes) and as the environment value, then validated and read back: no crash,
// no sanitizer report, and every failure is a ZORVIK::Exception (anything else
// escapes and is reported by libFuzzer).
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "service/common/exception.h"
#include "service/program_settings/setting_descriptions.h"
#include "service/program_settings/settings_sources.h"

namespace {

// Included names are taken relative to the including file or to the current
// directory; with every '/' replaced, the input can only reach files of those
// two directories, never a device or a pipe that would block.
// A plain array, so that it still holds the name when the exit handler runs.
char g_workDirectory[] = "/tmp/zorvik_settings_fuzz_XXXXXX";

const char* WorkDirectory() {
    static const bool created = [] {
        if (::mkdtemp(g_workDirectory) == nullptr) std::abort();
        std::atexit([] {
            std::error_code ignored;
            std::filesystem::remove_all(g_workDirectory, ignored);
        });
        return true;
    }();
    (void)created;
    return g_workDirectory;
}

void ReadBack(ZORVIK::SettingsDatabase& db) {
    using namespace ZORVIK;
    const DescriptionGroup group{
        SettingDescription({"log_level", "_LOGGING_LEVEL", "l"}, std::make_shared<IntTypeInfo>(1, 8), "1", ""),
        SettingDescription({"power_on", "p"}, std::make_shared<BoolTypeInfo>(), "1", ""),
        SettingDescription({"random_seed_value"}, std::make_shared<BinaryTypeInfo>(4), false, ""),
        SettingDescription({"apdu_convert_format", "af"},
                           std::make_shared<EnumTypeInfo>(std::vector<std::string>{"gp", "none"}), "none", ""),
    };
    try {
        SettingsValidator(db).ValidateGroup(group, "");
    } catch (const Exception&) {
    }
    for (const auto& [key, value] : db.GetGroup("")) {
        std::vector<std::string> list;
        db.GetList(key, list, {});
        (void)db.GetString(key);
        try {
            (void)db.GetInt(key);
        } catch (const Exception&) {
        }
        try {
            (void)db.GetBool(key);
        } catch (const Exception&) {
        }
        try {
            (void)db.GetBinary(key);
        } catch (const Exception&) {
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string text(reinterpret_cast<const char*>(data), size);
    for (char& c : text) {
        if (c == '/') c = '_';
    }
    const std::string file = std::string(WorkDirectory()) + "/fuzz.ini";
    std::ofstream(file, std::ios::binary | std::ios::trunc) << text;

    ZORVIK::SettingsDatabase db;
    try {
        ZORVIK::AddFileSettings(file, db, "", true);
    } catch (const ZORVIK::Exception&) {
    }

    std::vector<std::string> arguments{"qxw"};
    size_t start = 0;
    for (size_t end; (end = text.find('\0', start)) != std::string::npos; start = end + 1) {
        arguments.push_back(text.substr(start, end - start));
    }
    arguments.push_back(text.substr(start));
    std::vector<const char*> argv;
    for (const std::string& argument : arguments) argv.push_back(argument.c_str());
    try {
        ZORVIK::AddCommandLineSettings(static_cast<int>(argv.size()), argv.data(), db, size > 0 && data[0] & 1);
    } catch (const ZORVIK::Exception&) {
    }
    try {
        ZORVIK::AddStringSettings(text.c_str(), db);
    } catch (const ZORVIK::Exception&) {
    }
    ReadBack(db);
    return 0;
}
