// The sources that fill the settings database: settings files (with groups,
// includes and line continuation), the command line and the environment value.
// All of them share one line syntax, handled by ProcessSetting.
#pragma once

#include <string>
#include <vector>

#include "service/program_settings/settings_database.h"

namespace ZORVIK {

// The list setting that collects the words of the command line and of the
// environment value that are no settings.
inline constexpr char kPositionalSetting[] = "positional";

// Reads a settings file line by line, each key under prefix. A file that cannot
// be opened is ignored unless mustExist is set. A UTF-8 byte order mark at the
// start of a file is skipped. One call reads at most 4096 files, a file
// included again counting each time it is read.
void AddFileSettings(const std::string& fileName, SettingsDatabase& database, const std::string& prefix,
                     bool mustExist);

// argv[0] is the program name and is skipped. "-" + text is one settings line;
// any other word is read as a settings file (argumentsAreFiles) or appended to
// "positional".
void AddCommandLineSettings(int argc, const char* const* argv, SettingsDatabase& database, bool argumentsAreFiles);

// The environment value (null when the variable is not set), split into words
// at blanks and handled word by word like a command line of non-files.
void AddStringSettings(const char* text, SettingsDatabase& database);

// One settings line. fileName is empty outside settings files, which turns
// group lines into plain values, lets a bare key mean "key =" and takes
// included names relative to the current directory. groups and prefix are the
// open groups of the current file; group lines change both.
void ProcessSetting(const std::string& line, SettingsDatabase& database, const std::string& fileName,
                    std::vector<std::string>& groups, std::string& prefix);

}  // namespace ZORVIK
