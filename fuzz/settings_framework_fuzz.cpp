// Arbitrary bytes as up to four settings files that include one another (the
// input is cut at zero bytes into a.ini, b.ini, c.ini and d.ini; a.ini is read),
// then every group that the framework declares is validated, under the first
// reader's empty prefix and under "reader2.", and read the way the framework and
// the card-service factory read it. Every failure must be a ZORVIK::Exception.
#include <cstddef>
#include <cstdint>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "fuzz_work_dir.h"
#include "sc/card_service/card_service.h"
#include "sc/exchange/reader.h"
#include "sc/qxw/card_service_factory.h"
#include "sc/qxw/framework.h"
#include "service/common/exception.h"
#include "service/program_settings/setting_descriptions.h"
#include "service/program_settings/settings_sources.h"

namespace {

using namespace ZORVIK;

constexpr const char* FileNames[] = {"a.ini", "b.ini", "c.ini", "d.ini"};

// Included names are taken relative to the including file: with every '/'
// replaced, the input can reach only its own four files, never a device or a
// pipe that would block.
void WriteFiles(const uint8_t* data, size_t size) {
    std::string parts[std::size(FileNames)];
    size_t part = 0;
    for (size_t i = 0; i < size; ++i) {
        const char c = static_cast<char>(data[i]);
        if (c == '\0' && part + 1 < std::size(FileNames)) {
            ++part;
            continue;
        }
        parts[part] += c == '/' ? '_' : c;
    }
    for (size_t i = 0; i < std::size(FileNames); ++i)
        std::ofstream(zorvik_fuzz::WorkDirectory() + FileNames[i], std::ios::binary | std::ios::trunc) << parts[i];
}

template <class Read>
void Try(Read read) {
    try {
        read();
    } catch (const Exception&) {
    }
}

// Each declared key read by the type it was declared with, as its reader would.
void ReadDeclared(const SettingsDatabase& db, const DescriptionGroup& group, const std::string& prefix) {
    for (const SettingDescription& description : group.Descriptions()) {
        const std::string key = prefix + description.names.front();
        const std::string type = description.type->TypeName();
        Try([&] { (void)db.GetString(key); });
        if (type == "bool") Try([&] { (void)db.GetBool(key); });
        if (type.find("..") != std::string::npos || type == "int") Try([&] { (void)db.GetInt(key); });
        if (type.rfind("bin", 0) == 0) Try([&] { (void)db.GetBinary(key); });
        std::vector<std::string> list;
        Try([&] { db.GetList(key, list, {}); });
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    WriteFiles(data, size);
    SettingsDatabase db;
    Try([&] { AddFileSettings(zorvik_fuzz::WorkDirectory() + FileNames[0], db, "", true); });

    static const SettingsDescriptions descriptions = [] {
        SettingsDescriptions declared;
        SCFramework::DeclareSettings(declared);
        return declared;
    }();
    for (const char* prefix : {"", "reader2."}) {
        for (const auto& section : descriptions.Groups()) {
            Try([&] { SettingsValidator(db).ValidateGroup(section.second, prefix); });
            ReadDeclared(db, section.second, prefix);
        }
        Try([&] { (void)CardServiceFactory::ReadReaderParams(db, prefix); });
        for (int32_t kind : {ReaderKind::OSM, ReaderKind::OmnikeyContactless, ReaderKind::Unknown})
            Try([&] { (void)CardServiceFactory::ReadCardServiceSettings(db, prefix, kind); });
    }
    return 0;
}
