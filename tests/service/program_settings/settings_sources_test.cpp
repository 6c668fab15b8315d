#include "service/program_settings/settings_sources.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>

#include "support/error_text.h"
#include "support/test_dir.h"
#include "support/vectors.h"

namespace ZORVIK {
namespace {

using Pairs = SettingsDatabase::Pairs;
using test::MessageOf;

const std::string kOperatorError =
    "Некорректно задана операция. Поддерживаются 4 вида операций с настройками: (=, +=, ?=, !=)";
const std::string kIncludeError = "Строка @include должна иметь вид: @include <file_name> [as <prefix>]";
const std::string kTooLong = "Превышен размер внутреннего буфера программы. Слишком большой размер строки";

// Files written by the test itself go to the test's own directory.
class SettingsFileTest : public ::testing::Test {
protected:
    // Writes text to a file under the test's directory and returns its path.
    std::string Write(const std::string& name, const std::string& text) {
        const std::filesystem::path path = std::filesystem::path(m_dir) / name;
        std::filesystem::create_directories(path.parent_path());
        std::ofstream(path, std::ios::binary) << text;
        return path.string();
    }
    Pairs Read(const std::string& text) {
        SettingsDatabase db;
        AddFileSettings(Write("t.ini", text), db, "", true);
        return db.GetGroup("");
    }
    // The message of reading text as t.ini, with the file's path replaced by "@".
    std::string ReadError(const std::string& text) {
        SettingsDatabase db;
        const std::string path = Write("t.ini", text);
        std::string message = MessageOf([&] { AddFileSettings(path, db, "", true); });
        for (size_t at; (at = message.find(path)) != std::string::npos;) message.replace(at, path.size(), "@");
        return message;
    }

    const std::string m_dir = test::TestDir();
};

TEST_F(SettingsFileTest, FileTextsAndWhatTheyStore) {
    Write("inc.ini", "g = {\nk = 1\n}\n");
    const std::pair<const char*, Pairs> cases[] = {
        // A group prefixes its keys, lower-cased, and groups nest.
        {"a = {\n B += {\n  X = 1\n }\n y = 2\n}\nz = 3\n", {{"a.b.x", "1"}, {"a.y", "2"}, {"z", "3"}}},
        {"a += 1\na += 2\na ?= 3\nb ?= 4\nc = x\nc = y\nd != 5\n", {{"a", "1,2"}, {"b", "4"}, {"c", "y"}, {"d", "5"}}},
        // The key is the first word; the value is trimmed but otherwise kept.
        {"log level = 5\n\t name\t=\t \"a b\" ; not # a comment \r\n",
         {{"log", "5"}, {"name", "\"a b\" ; not # a comment"}}},
        {"# a = 1\n   ; b = 2\n\n \t \nc = 3\n\t#d=4", {{"c", "3"}}},
        // A backslash joins the next line without a separator; an empty line inside
        // adds nothing; a file ending inside one drops that line. CR LF reads like LF.
        {"a = one\\\r\n  two\r\n", {{"a", "one  two"}}},
        {"a = x\\\n\ny\nb = 2\\\n", {{"a", "xy"}}},
        // An include keeps the includer's groups and prefix; words after the prefix are ignored,
        // and the same file included twice side by side is no cycle.
        {"o = {\n@include inc.ini as x\n}\n@include inc.ini as y and more\n", {{"o.x.g.k", "1"}, {"y.g.k", "1"}}},
        {"Reader2 = {\npower_on = 1\n}\n", {{"reader2.power_on", "1"}}},
        {"list = a,,b\nempty =\n", {{"empty", ""}, {"list", "a,,b"}}},
        {"a = x\\\n\\\nz\n", {{"a", "xz"}}},
        {"a = 1\r\ng = {\r\nb = x\\\r\ny\r\n}\r\n", {{"a", "1"}, {"g.b", "xy"}}},
        // After an include the includer's group and prefix are as before it.
        {"o = {\n@include inc.ini as x\nafter = 2\n}\nlast = 3\n", {{"last", "3"}, {"o.after", "2"}, {"o.x.g.k", "1"}}},
        {"@include inc.ini\n@include inc.ini\n", {{"g.k", "1"}}},
        // An operator at the very end of the line gives the empty value.
        {"a +=\nb ?=\nc !=\nd =", {{"a", ""}, {"b", ""}, {"c", ""}, {"d", ""}}},
    };
    for (const auto& [text, stored] : cases) EXPECT_EQ(Read(text), stored) << text;
    // The prefix the file is read with goes in front of its groups.
    SettingsDatabase db;
    AddFileSettings(Write("p.ini", "g = {\nk = v\n}\nk = w"), db, "Outer.", true);
    EXPECT_EQ(db.GetGroup(""), (Pairs{{"outer.g.k", "v"}, {"outer.k", "w"}}));
    // What came before an error stays; the rest of the file is not read.
    SettingsDatabase stopped;
    EXPECT_EQ(MessageOf([&] { AddFileSettings(Write("e.ini", "a = 1\nbad\nc = 3\n"), stopped, "", true); }),
              "Файл: \"" + m_dir + "e.ini\" Строка: 2;\n" + kOperatorError);
    EXPECT_EQ(stopped.GetGroup(""), (Pairs{{"a", "1"}}));
}

TEST_F(SettingsFileTest, ByteOrderMarkIsSkippedAtTheStartOfAFileOnly) {
    const std::string mark = "\xEF\xBB\xBF";
    Write("marked.ini", mark + "g = {\nk = 1\n}\n");
    const std::pair<std::string, Pairs> cases[] = {
        {mark + "log_level = 8\n", {{"log_level", "8"}}},
        {mark + "a = 1\r\nb = 2\r\n", {{"a", "1"}, {"b", "2"}}},
        {mark, {}},
        {"@include marked.ini\n", {{"g.k", "1"}}},
        {"a = 1\n" + mark + "b = 2\n", {{"a", "1"}, {mark + "b", "2"}}},
        // A file that only begins like the mark, or is shorter than it, is read whole.
        {mark.substr(0, 2) + "k = 1\n", {{mark.substr(0, 2) + "k", "1"}}},
        {"k=", {{"k", ""}}},
    };
    for (const auto& [text, stored] : cases) EXPECT_EQ(Read(text), stored) << text;
}

TEST_F(SettingsFileTest, EachLineErrorHasItsMessageAndTheFilePrefix) {
    const std::pair<std::string, std::string> cases[] = {
        // The line named is the physical line where the logical line ends.
        {"a = 1\nb \\\n\\\n\nc\n", kOperatorError},
        {"a + 1\n", kOperatorError},
        {"+= 1\n", "Пустое значение ключа настройки"},
        {"}\n", "Кол-во скобок, закрывающих группы настроек превышает кол-во открывающих скобок"},
        {"g = {\n} x\n", "Строка с окончанием группы дожна содержать только символ '}' "},
        {"g = {}\n", "Строка с началом группы дожна быть в формате \"<key> = {\" "},
        {"@include\n", kIncludeError},
        {"@Include a.ini\n", kIncludeError},
        {"@include a.ini for x\n", kIncludeError},
        {"a += 1\na += 2\na ?= 3\na != 4\n", "Попытка перекрыть уже заданную настройку \"a\" с помощью оператора !="},
        {"a = 1\nkey_only\n", kOperatorError},
        {"a ?\n", kOperatorError},
        {"a !", kOperatorError},
        {"a +", kOperatorError},
        {"  = 1\n", "Пустое значение ключа настройки"},
        {"g = { x\n", "Строка с началом группы дожна быть в формате \"<key> = {\" "},
        {"@inc lude.ini\n", kIncludeError},
        {"@include a.ini as\n", kIncludeError},
        // A message that quotes input with a zero byte shows it escaped.
        {std::string("k\0y = 1\nk\0y != 2\n", 17),
         "Попытка перекрыть уже заданную настройку \"k\\x00y\" с помощью оператора !="},
    };
    for (const auto& [text, message] : cases) {
        const size_t line = static_cast<size_t>(std::count(text.begin(), text.end() - 1, '\n') + 1);
        EXPECT_EQ(ReadError(text), "Файл: \"@\" Строка: " + std::to_string(line) + ";\n" + message) << text;
    }
}

// A file that exists but cannot be read is refused even when it need not exist (a FIFO, which must
// not be waited on, is the qxw test's case).
TEST_F(SettingsFileTest, FileThatCannotBeReadIsRefusedWithTheReason) {
    const std::string loop = m_dir + "loop.ini";
    std::filesystem::create_symlink(loop, loop);
    const std::pair<std::string, const char*> cases[] = {{m_dir, "Is a directory"},
                                                         {loop, "Too many levels of symbolic links"},
                                                         {"/dev/null", "Is a device, not a regular file"}};
    SettingsDatabase db;
    for (const auto& [name, reason] : cases) {
        EXPECT_EQ(MessageOf([&] { AddFileSettings(name, db, "", false); }),
                  "Файл настроек \"" + name + "\" не удаётся прочитать: " + reason);
    }
    AddFileSettings(m_dir + "absent.ini", db, "", false);  // only an absent file may be missing
    EXPECT_FALSE(db.HasGroup(""));
    EXPECT_EQ(MessageOf([&] { AddFileSettings(m_dir + "absent.ini", db, "", true); }),
              "Файл настроек \"" + m_dir + "absent.ini\" не найден");
    // A file that opens but fails while it is read: /proc/self/mem at address 0.
    if (!std::filesystem::exists("/proc/self/mem")) GTEST_SKIP() << "no /proc/self/mem";
    EXPECT_EQ(MessageOf([&] { AddFileSettings("/proc/self/mem", db, "", false); }),
              "Файл настроек \"/proc/self/mem\" не удаётся прочитать: Input/output error");
}

TEST_F(SettingsFileTest, IncludesNestSixtyFourLevelsDeepAndNoDeeper) {
    // d0.ini includes d1.ini, which includes d2.ini, and so on; the last one sets a key.
    auto chain = [&](int last) {
        for (int level = 0; level < last; ++level)
            Write("d" + std::to_string(level) + ".ini", "@include d" + std::to_string(level + 1) + ".ini\n");
        Write("d" + std::to_string(last) + ".ini", "deepest = " + std::to_string(last) + "\n");
    };
    chain(64);
    SettingsDatabase db;
    AddFileSettings(m_dir + "d0.ini", db, "", true);
    EXPECT_EQ(db.GetString("deepest"), "64");
    chain(65);
    std::string expected;
    for (int level = 0; level < 65; ++level)
        expected += "Файл: \"" + m_dir + "d" + std::to_string(level) + ".ini\" Строка: 1;\n";
    expected += "Файл настроек \"" + m_dir + "d65.ini\" не прочитан: вложенность @include больше 64";
    EXPECT_EQ(MessageOf([&] { AddFileSettings(m_dir + "d0.ini", db, "", true); }), expected);
}

// A file included again is read again, up to 4096 reads in one load: a
// diamond of 7 files is read whole, while 41 files that each include the next
// twice stop at once with the error naming the file of the 4097th read (depth
// first: c39.ini, below 39 includes).
TEST_F(SettingsFileTest, RepeatedIncludesAreReadEachTimeUpTo4096FilesInOneLoad) {
    // top includes a and b, which share d; c, d and e all include f.
    const std::pair<const char*, const char*> files[] = {{"top", "@include a.ini\n@include b.ini\n"},
                                                         {"a", "@include c.ini\n@include d.ini\n"},
                                                         {"b", "@include d.ini\n@include e.ini\n"},
                                                         {"c", "@include f.ini\n"},
                                                         {"d", "@include f.ini\n"},
                                                         {"e", "@include f.ini\n"},
                                                         {"f", ""}};
    for (const auto& [name, includes] : files)
        Write(std::string(name) + ".ini", "read += " + std::string(name) + "\n" + includes);
    SettingsDatabase db;
    AddFileSettings(m_dir + "top.ini", db, "", true);
    EXPECT_EQ(db.GetString("read"), "top,a,c,f,d,f,b,d,f,e,f");

    for (int level = 0; level < 40; ++level) {
        const std::string include = "@include c" + std::to_string(level + 1) + ".ini\n";
        Write("c" + std::to_string(level) + ".ini", include + include);
    }
    Write("c40.ini", "n += 1\n");
    const auto started = std::chrono::steady_clock::now();
    const std::string message = MessageOf([&] { AddFileSettings(m_dir + "c0.ini", db, "", true); });
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(5));
    EXPECT_TRUE(message.ends_with("\nФайл настроек \"" + m_dir +
                                  "c39.ini\" не прочитан: одна загрузка настроек читает не больше 4096 файлов "
                                  "(повторные @include)"))
        << message;
    EXPECT_EQ(std::count(message.begin(), message.end(), '\n'), 39) << message;
}

TEST_F(SettingsFileTest, IncludeOfALinkToTheIncludingFileIsACycle) {
    std::filesystem::create_symlink(m_dir + "t.ini", m_dir + "link.ini");
    EXPECT_EQ(ReadError("a = 1\n@include link.ini\n"), "Файл: \"@\" Строка: 2;\nФайл настроек \"" + m_dir +
                                                           "link.ini\" включает сам себя (циклический @include)");
}

TEST_F(SettingsFileTest, LogicalLineMustFitTheLineBuffer) {
    const std::string fits = "a = " + std::string(19999 - 4, 'v');
    EXPECT_EQ(Read(fits + "\n").at(0).second.size(), 19995u);
    // Longer lines are refused rather than cut into pieces read as lines of their own.
    EXPECT_EQ(ReadError(fits + "v\n"), "Файл: \"@\" Строка: 1;\n" + kTooLong);
    EXPECT_EQ(ReadError("a = " + std::string(10000, 'v') + "\\\n" + std::string(10000, 'w') + "\n"),
              "Файл: \"@\" Строка: 2;\n" + kTooLong);
    // A file without line ends is refused the same way.
    EXPECT_EQ(ReadError("a = " + std::string(100000, 'v')), "Файл: \"@\" Строка: 1;\n" + kTooLong);
    // A continued line must leave room for one more character: 19,998 then one more fits, 19,999 does not.
    const std::string continued = "a = " + std::string(19994, 'v') + "\\\n";
    EXPECT_EQ(Read(continued + "w\n").at(0).second, std::string(19994, 'v') + "w");
    EXPECT_EQ(ReadError("a = " + std::string(19995, 'v') + "\\\n\n"), "Файл: \"@\" Строка: 1;\n" + kTooLong);
    EXPECT_EQ(ReadError(continued + "ww\n"), "Файл: \"@\" Строка: 2;\n" + kTooLong);
}

TEST_F(SettingsFileTest, ErrorInAnIncludedFileCarriesBothPrefixesOutermostFirst) {
    Write("sub/inner.ini", "a = 1\n\nbad line\n");
    EXPECT_EQ(ReadError("x = 1\n@include sub/inner.ini as i\n"),
              "Файл: \"@\" Строка: 2;\nФайл: \"" + m_dir + "sub/inner.ini\" Строка: 3;\n" + kOperatorError);
    EXPECT_EQ(ReadError("@include absent.ini\n"),
              "Файл: \"@\" Строка: 1;\nФайл настроек \"" + m_dir + "absent.ini\" не найден");
    Write("long.ini", "a = 1\nb = " + std::string(20000, 'v') + "\n");
    EXPECT_EQ(ReadError("@include long.ini\n"),
              "Файл: \"@\" Строка: 1;\nФайл: \"" + m_dir + "long.ini\" Строка: 2;\n" + kTooLong);
    Write("open.ini", "g = {\n");
    EXPECT_EQ(ReadError("\n@include open.ini\n"),
              "Файл: \"@\" Строка: 2;\nФайл: \"" + m_dir + "open.ini\" Не все открытые группы настроек были закрыты");
}

TEST(SettingsFile, IncludesAreRelativeToTheIncludingFileAndACycleIsRefusedNamingTheFile) {
    SettingsDatabase db;
    AddFileSettings(test::DataPath("settings/tree/main.ini"), db, "", true);
    EXPECT_EQ(db.GetGroup(""), (Pairs{{"log_level", "5"},
                                      {"reader2.card.auto_t0", "off"},
                                      {"reader2.card.power_on", "0"},
                                      {"transport_protocols", "\"T1, T0\""}}));
    const std::string self = test::DataPath("settings/cycle/self.ini");
    const std::string first = test::DataPath("settings/cycle/first.ini");
    const std::string second = test::DataPath("settings/cycle/second.ini");
    const std::string cycle = "\" включает сам себя (циклический @include)";
    SettingsDatabase before;
    EXPECT_EQ(MessageOf([&] { AddFileSettings(self, before, "", true); }),
              "Файл: \"" + self + "\" Строка: 2;\nФайл настроек \"" + self + cycle);
    EXPECT_EQ(before.GetGroup(""), (Pairs{{"a", "1"}}));  // what came before the error stays
    EXPECT_EQ(
        MessageOf([&] { AddFileSettings(first, before, "", true); }),
        "Файл: \"" + first + "\" Строка: 2;\nФайл: \"" + second + "\" Строка: 3;\nФайл настроек \"" + first + cycle);
}

TEST(ProcessSetting, GroupLinesChangeTheCallersStackAndPrefixOnlyInFiles) {
    SettingsDatabase db;
    std::vector<std::string> groups;
    std::string prefix = "p.";
    for (const char* line : {"  Reader2 ?= {  ", "power_on = 1", "}"})
        ProcessSetting(line, db, "x.ini", groups, prefix);
    // Outside files braces are ordinary and a bare key is a switch.
    for (const char* line : {"x={", "verbose"}) ProcessSetting(line, db, "", groups, prefix);
    EXPECT_TRUE(groups.empty());
    EXPECT_EQ(db.GetGroup(""), (Pairs{{"p.reader2.power_on", "1"}, {"p.verbose", ""}, {"p.x", "{"}}));
}

TEST(CommandLineSettings, SwitchesAndWordsOfTheEnvironmentThenOfTheCommandLineAreKeptWhole) {
    SettingsDatabase db;
    AddStringSettings(nullptr, db);
    AddStringSettings("\"", db);
    EXPECT_FALSE(db.HasGroup(""));
    // The environment value may be quoted as a whole; quotes inside it group nothing.
    const std::string value(5000, 'v');
    AddStringSettings(("\"-log_level=3 \t a.skarna\r-name=\"x y\" -b=" + value + "\"").c_str(), db);
    const std::string longArgument = "-key=" + value;
    const char* argv[] = {"qxw", "-verbose", "b,c.skarna", longArgument.c_str()};
    AddCommandLineSettings(4, argv, db, false);
    EXPECT_EQ(db.GetGroup(""), (Pairs{{"b", value},
                                      {"key", value},
                                      {"log_level", "3"},
                                      {"name", "\"x"},
                                      {"positional", "a.skarna,y\",b,c.skarna"},
                                      {"verbose", ""}}));
    // Errors carry no file prefix, and the rest of the line is not read.
    const char* plus[] = {"qxw", "-a+b", "-c=4"};
    EXPECT_EQ(MessageOf([&] { AddCommandLineSettings(3, plus, db, false); }), kOperatorError);
    EXPECT_FALSE(db.Has("c"));
    const char* noKey[] = {"qxw", "-=5"};
    EXPECT_EQ(MessageOf([&] { AddCommandLineSettings(2, noKey, db, false); }), "Пустое значение ключа настройки");
    const char* setNew[] = {"qxw", "-a=1", "-A!=2", "-d=3"};
    EXPECT_EQ(MessageOf([&] { AddCommandLineSettings(4, setNew, db, false); }),
              "Попытка перекрыть уже заданную настройку \"A\" с помощью оператора !=");
    EXPECT_EQ(db.GetString("a"), "1");
    EXPECT_FALSE(db.Has("d"));
    const char* include[] = {"qxw", "-@include"};
    EXPECT_EQ(MessageOf([&] { AddCommandLineSettings(2, include, db, false); }), kIncludeError);
}

TEST(CommandLineSettings, FilesNamedOnTheLineAndIncludedNamesAreTakenFromTheCurrentDirectory) {
    const char* files[] = {"qxw", "cards/common.ini", "-@include readers/osm.ini as r", "no_such.ini"};
    SettingsDatabase db;
    const std::string saved = std::filesystem::current_path();
    std::filesystem::current_path(test::DataPath("settings/tree"));
    const std::string error = MessageOf([&] { AddCommandLineSettings(4, files, db, true); });
    std::filesystem::current_path(saved);
    EXPECT_EQ(error, "Файл настроек \"no_such.ini\" не найден");
    EXPECT_EQ(db.GetGroup(""),
              (Pairs{{"r.auto_t0", "off"}, {"r.power_on", "0"}, {"transport_protocols", "\"T1, T0\""}}));
}

}  // namespace
}  // namespace ZORVIK
