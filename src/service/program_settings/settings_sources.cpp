#include "service/program_settings/settings_sources.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>

#include "service/common/exception.h"
#include "service/common/filesystem.h"
#include "service/common/utilities.h"

namespace ZORVIK {

namespace {

// White space allowed before a line and around its operator.
constexpr char kBlanks[] = " \t\n\v\f\r";
// Characters that separate the words of a key or an include line.
constexpr char kWordSeparators[] = " \t\r";

// A settings file is read through a line buffer of this size: a logical line,
// continuations included, holds at most one character less.
constexpr size_t kLineBufferSize = 20000;
constexpr size_t kMaxLineLength = kLineBufferSize - 1;

constexpr char kIncludeSyntax[] = "Строка @include должна иметь вид: @include <file_name> [as <prefix>]";
constexpr char kOperatorSyntax[] =
    "Некорректно задана операция. Поддерживаются 4 вида операций с настройками: (=, +=, ?=, !=)";
constexpr char kLineTooLong[] = "Превышен размер внутреннего буфера программы. Слишком большой размер строки";

// Levels of @include below the first file: a chain deeper than this is a
// mistake, and each level costs stack.
constexpr size_t kMaxIncludeDepth = 64;

// Files one load may read in all, counting a file included again each time:
// far above any real set, yet it stops a set whose files include one another
// more than once, where every level doubles the reads.
constexpr size_t kMaxFilesPerLoad = 4096;

// Windows editors begin a UTF-8 text with this mark; it is no part of the first key.
constexpr char kByteOrderMark[] = "\xEF\xBB\xBF";
constexpr size_t kByteOrderMarkSize = sizeof kByteOrderMark - 1;

// One load of settings: a top-level file, or one switch of the command line or
// of the environment value, with everything it includes.
struct SettingsLoad {
    // The files being read, outermost first, by canonical path: including any
    // of them again would recurse without end.
    std::vector<std::string> openFiles;
    size_t filesRead = 0;
};

void ReadSettingsFile(const std::string& fileName, SettingsDatabase& database, const std::string& prefix,
                      bool mustExist, SettingsLoad& load);
void HandleSetting(const std::string& line, SettingsDatabase& database, const std::string& fileName,
                   std::vector<std::string>& groups, std::string& prefix, SettingsLoad& load);

std::vector<std::string> SplitWords(const std::string& text) {
    std::vector<std::string> words;
    size_t start = text.find_first_not_of(kWordSeparators);
    while (start != std::string::npos) {
        const size_t end = text.find_first_of(kWordSeparators, start);
        words.push_back(text.substr(start, end == std::string::npos ? std::string::npos : end - start));
        start = end == std::string::npos ? end : text.find_first_not_of(kWordSeparators, end);
    }
    return words;
}

// Inside a file, included names are taken relative to the including file's
// directory; outside files, relative to the current directory.
std::string IncludeBase(const std::string& fileName) {
    if (fileName.empty()) return std::string();
    const std::string absolute = filesystem::MakeAbsolutePath(fileName, filesystem::GetCurrentPath(), false);
    return filesystem::SplitPath(absolute).directory;
}

void HandleInclude(const std::string& rest, SettingsDatabase& database, const std::string& fileName,
                   const std::string& prefix, SettingsLoad& load) {
    const SourcePlace place = ZORVIK_PLACE("ZORVIK::ProcessSetting");
    const std::vector<std::string> words = SplitWords(rest);
    if (words.size() < 2 || words[0] != "include") throw Exception(kIncludeSyntax, place);
    // The name is appended to the base even when it is absolute itself.
    const std::string includedName = IncludeBase(fileName) + words[1];
    if (words.size() == 2) {
        ReadSettingsFile(includedName, database, prefix, true, load);
    } else if (words.size() >= 4 && words[2] == "as") {
        ReadSettingsFile(includedName, database, prefix + words[3] + ".", true, load);
    } else {
        throw Exception(kIncludeSyntax, place);
    }
}

void CloseGroup(const std::string& line, size_t bracePosition, std::vector<std::string>& groups, std::string& prefix) {
    const SourcePlace place = ZORVIK_PLACE("ZORVIK::ProcessSetting");
    if (groups.empty()) {
        throw Exception("Кол-во скобок, закрывающих группы настроек превышает кол-во открывающих скобок", place);
    }
    prefix.resize(prefix.size() - groups.back().size() - 1);
    groups.pop_back();
    if (line.find_first_not_of(kBlanks, bracePosition + 1) != std::string::npos) {
        throw Exception("Строка с окончанием группы дожна содержать только символ '}' ", place);
    }
}

void HandleSetting(const std::string& line, SettingsDatabase& database, const std::string& fileName,
                   std::vector<std::string>& groups, std::string& prefix, SettingsLoad& load) {
    const SourcePlace place = ZORVIK_PLACE("ZORVIK::ProcessSetting");
    const bool inFile = !fileName.empty();
    const size_t start = line.find_first_not_of(kBlanks);
    if (start == std::string::npos) return;
    if (line[start] == '@') {
        HandleInclude(line.substr(start + 1), database, fileName, prefix, load);
        return;
    }
    if (inFile && line[start] == '}') {
        CloseGroup(line, start, groups, prefix);
        return;
    }

    const size_t operatorPosition = line.find_first_of("=+?!", start);
    SettingOperation operation = Set;
    size_t valuePosition = line.size();
    if (operatorPosition == std::string::npos) {
        // On the command line a bare key is a switch: "-verbose" stores an empty value.
        if (inFile) throw Exception(kOperatorSyntax, place);
    } else if (line[operatorPosition] == '=') {
        valuePosition = operatorPosition + 1;
    } else {
        if (operatorPosition + 1 >= line.size() || line[operatorPosition + 1] != '=') {
            throw Exception(kOperatorSyntax, place);
        }
        switch (line[operatorPosition]) {
            case '+': operation = Append; break;
            case '?': operation = SetIfAbsent; break;
            default: operation = SetNew; break;
        }
        valuePosition = operatorPosition + 2;
    }

    const size_t keyEnd = std::min(line.find_first_of(kWordSeparators, start), operatorPosition);
    const std::string key = line.substr(start, keyEnd == std::string::npos ? std::string::npos : keyEnd - start);
    if (key.empty()) throw Exception("Пустое значение ключа настройки", place);

    const size_t valueStart = line.find_first_not_of(kBlanks, valuePosition);
    if (inFile && valueStart != std::string::npos && line[valueStart] == '{') {
        if (line.find_first_not_of(kBlanks, valueStart + 1) != std::string::npos) {
            throw Exception("Строка с началом группы дожна быть в формате \"<key> = {\" ", place);
        }
        prefix += key + ".";
        groups.push_back(key);
        return;
    }
    database.AddSetting(prefix + key, Trim(line.substr(valuePosition)), operation);
}

// The error with the file and line in front of its message.
Exception Located(const Exception& error, const std::string& fileName, size_t lineNumber) {
    Exception located(error);
    located.SetMessage("Файл: \"" + fileName + "\" Строка: " + std::to_string(lineNumber) + ";\n" + error.Message());
    located.SetPlace(ZORVIK_PLACE("ZORVIK::ProcessSettingsLine"));
    return located;
}

// One line of a file: comments are skipped, anything else is a setting. Every
// error gets the file and line in front, so an error in an included file shows
// one such prefix per file, the outermost first.
void HandleFileLine(const std::string& line, size_t lineNumber, SettingsDatabase& database, const std::string& fileName,
                    std::vector<std::string>& groups, std::string& prefix, SettingsLoad& load) {
    const size_t start = line.find_first_not_of(kBlanks);
    if (start == std::string::npos || line[start] == '#' || line[start] == ';') return;
    try {
        HandleSetting(line, database, fileName, groups, prefix, load);
    } catch (const Exception& error) {
        throw Located(error, fileName, lineNumber);
    }
}

// One physical line without its line end. A CR before the LF is dropped, as a
// text-mode read of a CR LF file does. Reading stops after limit characters so
// that a file without line ends cannot grow the line without bound.
bool ReadPhysicalLine(std::FILE* in, std::string& line, bool& endedByLf, size_t limit) {
    line.clear();
    endedByLf = false;
    bool readAny = false;
    while (line.size() <= limit) {
        const int next = std::getc(in);
        if (next == EOF) break;
        readAny = true;
        if (next == '\n') {
            endedByLf = true;
            if (!line.empty() && line.back() == '\r') line.pop_back();
            break;
        }
        line += static_cast<char>(next);
    }
    return readAny;
}

// Only regular files are opened, so the stream can always go back to its start
// when the mark is not there.
void SkipByteOrderMark(std::FILE* in, const std::string& fileName) {
    char head[kByteOrderMarkSize];
    if (std::fread(head, 1, kByteOrderMarkSize, in) == kByteOrderMarkSize &&
        std::memcmp(head, kByteOrderMark, kByteOrderMarkSize) == 0) {
        return;
    }
    if (std::fseek(in, 0, SEEK_SET) != 0) {
        throw Exception("Файл настроек \"" + fileName + "\" не удаётся прочитать: " + std::strerror(errno),
                        ZORVIK_PLACE("ZORVIK::AddFileSettings"));
    }
}

std::string CanonicalName(const std::string& fileName) {
    std::error_code error;
    const std::filesystem::path canonical = std::filesystem::weakly_canonical(fileName, error);
    return error ? filesystem::MakeAbsolutePath(fileName, filesystem::GetCurrentPath(), false) : canonical.string();
}

void ReadSettingsFile(const std::string& fileName, SettingsDatabase& database, const std::string& prefix,
                      bool mustExist, SettingsLoad& load) {
    const SourcePlace place = ZORVIK_PLACE("ZORVIK::AddFileSettings");
    if (load.openFiles.size() > kMaxIncludeDepth) {
        throw Exception("Файл настроек \"" + fileName + "\" не прочитан: вложенность @include больше " +
                            std::to_string(kMaxIncludeDepth),
                        place);
    }
    if (load.filesRead >= kMaxFilesPerLoad) {
        throw Exception("Файл настроек \"" + fileName + "\" не прочитан: одна загрузка настроек читает не больше " +
                            std::to_string(kMaxFilesPerLoad) + " файлов (повторные @include)",
                        place);
    }
    // Only a file that does not exist counts as absent: one that exists but
    // cannot be read is an error, never a silent loss of the user's settings.
    const filesystem::InputFile file = filesystem::OpenInputFile(fileName);
    if (!file.stream) {
        if (file.error == ENOENT && !mustExist) return;
        if (file.error == ENOENT) throw Exception("Файл настроек \"" + fileName + "\" не найден", place);
        throw Exception("Файл настроек \"" + fileName + "\" не удаётся прочитать: " + file.reason, place);
    }
    const std::string canonical = CanonicalName(fileName);
    for (const std::string& open : load.openFiles) {
        if (open == canonical) {
            throw Exception("Файл настроек \"" + fileName + "\" включает сам себя (циклический @include)", place);
        }
    }
    ++load.filesRead;
    load.openFiles.push_back(canonical);
    struct OpenFileGuard {
        std::vector<std::string>& openFiles;
        ~OpenFileGuard() { openFiles.pop_back(); }
    } guard{load.openFiles};
    SkipByteOrderMark(file.stream.get(), fileName);

    std::vector<std::string> groups;
    std::string currentPrefix = prefix;
    std::string logical;
    std::string physical;
    bool continued = false;
    bool endedByLf = false;
    size_t lineNumber = 0;
    while (ReadPhysicalLine(file.stream.get(), physical, endedByLf, kLineBufferSize)) {
        ++lineNumber;
        // An empty line does not break a continuation: it adds nothing.
        if (continued && physical.empty() && endedByLf) continue;
        if (endedByLf && !physical.empty() && physical.back() == '\\') {
            logical.append(physical, 0, physical.size() - 1);
            continued = true;
            // The buffer must keep room for one more character and the terminating zero.
            if (logical.size() >= kMaxLineLength) throw Located(Exception(kLineTooLong, place), fileName, lineNumber);
            continue;
        }
        logical += physical;
        continued = false;
        // A line that does not fit the buffer would be cut in pieces read as
        // separate lines, storing a wrong value; refuse it instead.
        if (logical.size() > kMaxLineLength) throw Located(Exception(kLineTooLong, place), fileName, lineNumber);
        if (!logical.empty()) HandleFileLine(logical, lineNumber, database, fileName, groups, currentPrefix, load);
        logical.clear();
    }
    if (std::ferror(file.stream.get())) {
        throw Exception("Файл настроек \"" + fileName + "\" не удаётся прочитать: " + std::strerror(errno), place);
    }
    // A line still continued at the end of the file is not stored.
    if (!groups.empty()) {
        throw Exception("Файл: \"" + fileName + "\" Не все открытые группы настроек были закрыты", place);
    }
}

// One command-line argument or environment word that begins with "-": a
// settings line of its own, with no groups and the empty prefix.
void HandleSwitch(const std::string& text, SettingsDatabase& database) {
    std::vector<std::string> groups;
    std::string prefix;
    SettingsLoad load;
    HandleSetting(text, database, std::string(), groups, prefix, load);
}

}  // namespace

void AddFileSettings(const std::string& fileName, SettingsDatabase& database, const std::string& prefix,
                     bool mustExist) {
    SettingsLoad load;
    ReadSettingsFile(fileName, database, prefix, mustExist, load);
}

void ProcessSetting(const std::string& line, SettingsDatabase& database, const std::string& fileName,
                    std::vector<std::string>& groups, std::string& prefix) {
    SettingsLoad load;
    if (!fileName.empty()) load.openFiles.push_back(CanonicalName(fileName));
    HandleSetting(line, database, fileName, groups, prefix, load);
}

void AddCommandLineSettings(int argc, const char* const* argv, SettingsDatabase& database, bool argumentsAreFiles) {
    for (int i = 1; i < argc; ++i) {
        if (argv[i] == nullptr) continue;
        const std::string argument = argv[i];
        if (!argument.empty() && argument.front() == '-') {
            HandleSwitch(argument.substr(1), database);
        } else if (argumentsAreFiles) {
            AddFileSettings(argument, database, std::string(), true);
        } else {
            database.AddSetting(kPositionalSetting, argument, Append);
        }
    }
}

void AddStringSettings(const char* text, SettingsDatabase& database) {
    if (text == nullptr) return;
    std::string value = text;
    // The value may be written in quotes as a whole; quotes inside group nothing.
    if (!value.empty() && value.front() == '"') value.erase(0, 1);
    if (!value.empty() && value.back() == '"') value.pop_back();
    for (const std::string& word : SplitWords(value)) {
        if (word.front() == '-') {
            HandleSwitch(word.substr(1), database);
        } else {
            database.AddSetting(kPositionalSetting, word, Append);
        }
    }
}

}  // namespace ZORVIK
