#include "service/program_settings/settings_sources.h"
#include "support/error_text.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>

#include "service/common/exception.h"
#include "support/test_dir.h"
#include "support/vectors.h"

namespace ZORVIK {
namespace {

using Pairs = SettingsDatabase::Pairs;

using test::MessageOf;

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
    // The message of reading text as t.ini, with the file prefix replaced by "@".
    std::string ReadError(const std::string& text) {
        SettingsDatabase db;
        const std::string path = Write("t.ini", text);
        std::string message = MessageOf([&] { AddFileSettings(path, db, "", true); });
        for (size_t at; (at = message.find(path)) != std::string::npos;) message.replace(at, path.size(), "@");
        return message;
    }

    const std::string m_dir = test::TestDir();
};

// --- Settings files -------------------------------------------------------

TEST_F(SettingsFileTest, FileTextsAndWhatTheyStore) {
    Write("inc.ini", "g = {\nk = 1\n}\n");
    Write("flat.ini", "k = 1\n");
    const struct {
        const char* text;
        Pairs stored;
    } cases[] = {
        // A group prefixes its keys, lower-cased, and groups nest.
        {"Reader2 = {\npower_on = 1\n}\n", {{"reader2.power_on", "1"}}},
        {"a = {\n b += {\n  X = 1\n }\n y = 2\n}\nz = 3\n", {{"a.b.x", "1"}, {"a.y", "2"}, {"z", "3"}}},
        // The operators of each line.
        {"a += 1\na += 2\na ?= 3\nb ?= 4\nc = x\nc = y\n", {{"a", "1,2"}, {"b", "4"}, {"c", "y"}}},
        // The key is the first word; the value is trimmed but otherwise kept.
        {"log level = 5\n", {{"log", "5"}}},
        {"\t name\t=\t \"a b\" ; not a comment # either \r\n", {{"name", "\"a b\" ; not a comment # either"}}},
        {"list = a,,b\nempty =\n", {{"empty", ""}, {"list", "a,,b"}}},
        // Comments and blank lines are skipped.
        {"# a = 1\n   ; b = 2\n\n \t \nc = 3\n\t#d=4", {{"c", "3"}}},
        // A backslash joins the next line without a separator; an empty line inside
        // adds nothing and does not end it; a file ending inside one drops that line.
        {"a = one\\\n  two\n", {{"a", "one  two"}}},
        {"a = x\\\n\ny\nb = 1", {{"a", "xy"}, {"b", "1"}}},
        {"a = x\\\n\\\nz\n", {{"a", "xz"}}},
        {"a = 1\nb = 2\\\n", {{"a", "1"}}},
        // CR LF line ends read like LF.
        {"a = 1\r\ng = {\r\nb = x\\\r\ny\r\n}\r\n", {{"a", "1"}, {"g.b", "xy"}}},
        // An include keeps the includer's groups and prefix; words after the prefix are ignored.
        {"o = {\n@include inc.ini as x\nafter = 2\n}\nlast = 3\n", {{"last", "3"}, {"o.after", "2"}, {"o.x.g.k", "1"}}},
        {"@include inc.ini as y and more\n", {{"y.g.k", "1"}}},
        // The same file included twice side by side is no cycle.
        {"@include flat.ini as a\n@include flat.ini as b\n", {{"a.k", "1"}, {"b.k", "1"}}},
    };
    for (const auto& c : cases) EXPECT_EQ(Read(c.text), c.stored) << c.text;
}

TEST_F(SettingsFileTest, FilePrefixGoesInFrontOfGroups) {
    SettingsDatabase db;
    AddFileSettings(Write("t.ini", "g = {\nk = v\n}\nk = w"), db, "Outer.", true);
    EXPECT_EQ(db.GetGroup(""), (Pairs{{"outer.g.k", "v"}, {"outer.k", "w"}}));
}

TEST_F(SettingsFileTest, EachLineErrorHasItsMessageAndTheFilePrefix) {
    const std::string operatorError =
        "Некорректно задана операция. Поддерживаются 4 вида операций с настройками: (=, +=, ?=, !=)";
    const std::string includeError = "Строка @include должна иметь вид: @include <file_name> [as <prefix>]";
    const struct {
        const char* text;
        std::string message;
    } cases[] = {
        {"a += 1\na += 2\na ?= 3\na != 4\n", "Попытка перекрыть уже заданную настройку \"a\" с помощью оператора !="},
        // The line named is the physical line where the logical line ends.
        {"a = 1\nb \\\n\\\n\nc\n", operatorError},
        {"a = 1\nkey_only\n", operatorError},
        {"a + 1\n", operatorError},
        {"a ?\n", operatorError},
        {"a !", operatorError},
        {"  = 1\n", "Пустое значение ключа настройки"},
        {"+= 1\n", "Пустое значение ключа настройки"},
        {"}\n", "Кол-во скобок, закрывающих группы настроек превышает кол-во открывающих скобок"},
        {"g = {\n} x\n", "Строка с окончанием группы дожна содержать только символ '}' "},
        {"g = { x\n", "Строка с началом группы дожна быть в формате \"<key> = {\" "},
        {"g = {}\n", "Строка с началом группы дожна быть в формате \"<key> = {\" "},
        {"@include\n", includeError},
        {"@inc lude.ini\n", includeError},
        {"@Include a.ini\n", includeError},
        {"@include a.ini for x\n", includeError},
        {"@include a.ini as\n", includeError},
    };
    for (const auto& c : cases) {
        const std::string text = c.text;
        const size_t line = static_cast<size_t>(std::count(text.begin(), text.end() - 1, '\n') + 1);
        EXPECT_EQ(ReadError(text), "Файл: \"@\" Строка: " + std::to_string(line) + ";\n" + c.message) << text;
    }
}

TEST_F(SettingsFileTest, OpenGroupAtTheEndIsAnErrorOfTheFile) {
    EXPECT_EQ(ReadError("g = {\na = 1\n"), "Файл: \"@\" Не все открытые группы настроек были закрыты");
}

TEST_F(SettingsFileTest, SettingsBeforeAnErrorStay) {
    SettingsDatabase db;
    EXPECT_THROW(AddFileSettings(Write("t.ini", "a = 1\nbad\nc = 3\n"), db, "", true), Exception);
    EXPECT_EQ(db.GetGroup(""), (Pairs{{"a", "1"}}));
}

TEST_F(SettingsFileTest, MissingFileIsAnErrorOnlyWhenItMustExist) {
    SettingsDatabase db;
    const std::string path = m_dir + "absent.ini";
    AddFileSettings(path, db, "", false);
    EXPECT_FALSE(db.HasGroup(""));
    EXPECT_EQ(MessageOf([&] { AddFileSettings(path, db, "", true); }), "Файл настроек \"" + path + "\" не найден");
}

// A file that exists but cannot be read is refused even when it need not exist;
// a FIFO or a device is refused without waiting on it.
TEST_F(SettingsFileTest, FileThatCannotBeReadIsRefusedWithTheReason) {
    const std::string fifo = m_dir + "fifo.ini";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    const std::string loop = m_dir + "loop.ini";
    std::filesystem::create_symlink(loop, loop);
    const struct {
        std::string name;
        const char* reason;
    } cases[] = {
        {m_dir, "Is a directory"},
        {fifo, "Is a named pipe (FIFO), not a regular file"},
        {"/dev/zero", "Is a device, not a regular file"},
        {loop, "Too many levels of symbolic links"},
    };
    for (const auto& c : cases) {
        SettingsDatabase db;
        EXPECT_EQ(MessageOf([&] { AddFileSettings(c.name, db, "", false); }),
                  "Файл настроек \"" + c.name + "\" не удаётся прочитать: " + c.reason);
    }
}

TEST_F(SettingsFileTest, IncludesNestAtMostSixtyFourDeep) {
    for (int i = 0; i < 64; ++i) Write(std::to_string(i) + ".ini", "@include " + std::to_string(i + 1) + ".ini\n");
    Write("64.ini", "deepest = 1\n");
    SettingsDatabase db;
    AddFileSettings(m_dir + "0.ini", db, "", true);
    EXPECT_EQ(db.GetString("deepest"), "1");
    Write("64.ini", "@include 65.ini\n");
    Write("65.ini", "deepest = 2\n");
    const std::string error = MessageOf([&] { AddFileSettings(m_dir + "0.ini", db, "", true); });
    EXPECT_NE(error.find(";\nФайл настроек \"" + m_dir + "65.ini\" не прочитан: вложенность @include больше 64"),
              std::string::npos)
        << error;
    EXPECT_EQ(db.GetString("deepest"), "1");
}

TEST_F(SettingsFileTest, LogicalLineMustFitTheLineBuffer) {
    const std::string tooLong = "Превышен размер внутреннего буфера программы. Слишком большой размер строки";
    const std::string fits = "a = " + std::string(19999 - 4, 'v');
    EXPECT_EQ(Read(fits + "\n").at(0).second.size(), 19995u);
    // Longer lines are refused rather than cut into pieces read as lines of their own.
    EXPECT_EQ(ReadError(fits + "v\n"), "Файл: \"@\" Строка: 1;\n" + tooLong);
    EXPECT_EQ(ReadError("a = " + std::string(100000, 'v')), "Файл: \"@\" Строка: 1;\n" + tooLong);
    EXPECT_EQ(ReadError("a = " + std::string(10000, 'v') + "\\\n" + std::string(10000, 'w') + "\n"),
              "Файл: \"@\" Строка: 2;\n" + tooLong);
}

TEST(SettingsFile, IncludesNestedAndRelativeToTheIncludingFile) {
    // Run from another directory: included names do not depend on it.
    SettingsDatabase db;
    AddFileSettings(test::DataPath("settings/tree/main.ini"), db, "", true);
    EXPECT_EQ(db.GetGroup(""), (Pairs{{"log_level", "5"},
                                      {"reader2.card.auto_t0", "off"},
                                      {"reader2.card.power_on", "0"},
                                      {"transport_protocols", "\"T1, T0\""}}));
}

TEST_F(SettingsFileTest, ErrorInAnIncludedFileCarriesBothPrefixesOutermostFirst) {
    Write("sub/inner.ini", "a = 1\n\nbad line\n");
    EXPECT_EQ(ReadError("x = 1\n@include sub/inner.ini as i\n"),
              "Файл: \"@\" Строка: 2;\nФайл: \"" + m_dir +
                  "sub/inner.ini\" Строка: 3;\n"
                  "Некорректно задана операция. Поддерживаются 4 вида операций с настройками: (=, +=, ?=, !=)");
    EXPECT_EQ(ReadError("@include absent.ini\n"),
              "Файл: \"@\" Строка: 1;\nФайл настроек \"" + m_dir + "absent.ini\" не найден");
    Write("long.ini", "a = " + std::string(20000, 'v') + "\n");
    EXPECT_EQ(ReadError("@include long.ini\n"), "Файл: \"@\" Строка: 1;\nФайл: \"" + m_dir +
                                                    "long.ini\" Строка: 1;\nПревышен размер внутреннего буфера "
                                                    "программы. Слишком большой размер строки");
    Write("open.ini", "g = {\n");
    EXPECT_EQ(ReadError("\n@include open.ini\n"),
              "Файл: \"@\" Строка: 2;\nФайл: \"" + m_dir + "open.ini\" Не все открытые группы настроек были закрыты");
}

TEST(SettingsFile, IncludeCycleIsRefusedNamingTheFile) {
    const std::string self = test::DataPath("settings/cycle/self.ini");
    SettingsDatabase db;
    EXPECT_EQ(
        MessageOf([&] { AddFileSettings(self, db, "", true); }),
        "Файл: \"" + self + "\" Строка: 2;\nФайл настроек \"" + self + "\" включает сам себя (циклический @include)");
    EXPECT_EQ(db.GetGroup(""), (Pairs{{"a", "1"}}));

    const std::string first = test::DataPath("settings/cycle/first.ini");
    const std::string second = test::DataPath("settings/cycle/second.ini");
    EXPECT_EQ(MessageOf([&] { AddFileSettings(first, db, "", true); }),
              "Файл: \"" + first + "\" Строка: 2;\nФайл: \"" + second + "\" Строка: 3;\nФайл настроек \"" + first +
                  "\" включает сам себя (циклический @include)");
}

// --- One line ---------------------------------------------------------------

TEST(ProcessSetting, GroupLinesChangeTheCallersStackAndPrefix) {
    SettingsDatabase db;
    std::vector<std::string> groups;
    std::string prefix = "p.";
    ProcessSetting("  Reader2 ?= {  ", db, "x.ini", groups, prefix);
    EXPECT_EQ(groups, std::vector<std::string>{"Reader2"});
    EXPECT_EQ(prefix, "p.Reader2.");
    ProcessSetting("power_on = 1", db, "x.ini", groups, prefix);
    ProcessSetting("}", db, "x.ini", groups, prefix);
    EXPECT_TRUE(groups.empty());
    EXPECT_EQ(prefix, "p.");
    EXPECT_EQ(db.GetGroup(""), (Pairs{{"p.reader2.power_on", "1"}}));
}

TEST(ProcessSetting, OutsideFilesBracesAreOrdinaryAndABareKeyIsASwitch) {
    SettingsDatabase db;
    std::vector<std::string> groups;
    std::string prefix;
    ProcessSetting("x={", db, "", groups, prefix);
    ProcessSetting("verbose", db, "", groups, prefix);
    ProcessSetting("   ", db, "", groups, prefix);
    EXPECT_TRUE(groups.empty());
    EXPECT_EQ(db.GetGroup(""), (Pairs{{"verbose", ""}, {"x", "{"}}));
}

// --- Command line and environment -------------------------------------------

TEST(CommandLineSettings, SwitchesSettingsAndPositionalWords) {
    const char* argv[] = {"qxw", "-verbose", "-x={", "-log_level=5", "a.skarna", "-l+=1", "b,c.skarna"};
    SettingsDatabase db;
    AddCommandLineSettings(7, argv, db, false);
    EXPECT_EQ(
        db.GetGroup(""),
        (Pairs{{"l", "1"}, {"log_level", "5"}, {"positional", "a.skarna,b,c.skarna"}, {"verbose", ""}, {"x", "{"}}));
}

TEST(CommandLineSettings, ErrorsCarryNoPrefix) {
    SettingsDatabase db;
    const char* plus[] = {"qxw", "-a+b"};
    EXPECT_EQ(MessageOf([&] { AddCommandLineSettings(2, plus, db, false); }),
              "Некорректно задана операция. Поддерживаются 4 вида операций с настройками: (=, +=, ?=, !=)");
    const char* noKey[] = {"qxw", "-=5"};
    EXPECT_EQ(MessageOf([&] { AddCommandLineSettings(2, noKey, db, false); }), "Пустое значение ключа настройки");
    const char* setNew[] = {"qxw", "-a=1", "-A!=2", "-b=3"};
    EXPECT_EQ(MessageOf([&] { AddCommandLineSettings(4, setNew, db, false); }),
              "Попытка перекрыть уже заданную настройку \"A\" с помощью оператора !=");
    EXPECT_EQ(db.GetGroup(""), (Pairs{{"a", "1"}}));  // the rest of the line is not read
}

TEST(CommandLineSettings, ArgumentsAreFilesWhenAsked) {
    const std::string main = test::DataPath("settings/tree/cards/common.ini");
    const std::string other = test::DataPath("settings/tree/cards/transport.ini");
    const char* argv[] = {"qxw", main.c_str(), "-x=1", other.c_str()};
    SettingsDatabase db;
    AddCommandLineSettings(4, argv, db, true);
    EXPECT_EQ(db.GetGroup(""), (Pairs{{"auto_t0", "off"}, {"transport_protocols", "\"T1, T0\""}, {"x", "1"}}));
    const char* missing[] = {"qxw", "no_such.ini"};
    EXPECT_EQ(MessageOf([&] { AddCommandLineSettings(2, missing, db, true); }),
              "Файл настроек \"no_such.ini\" не найден");
}

TEST(CommandLineSettings, IncludeIsRelativeToTheCurrentDirectory) {
    const std::string saved = std::filesystem::current_path();
    std::filesystem::current_path(test::DataPath("settings/tree"));
    const char* argv[] = {"qxw", "-@include readers/osm.ini as r"};
    SettingsDatabase db;
    EXPECT_NO_THROW(AddCommandLineSettings(2, argv, db, false));
    std::filesystem::current_path(saved);
    EXPECT_EQ(db.GetGroup(""), (Pairs{{"r.auto_t0", "off"}, {"r.power_on", "0"}}));
}

TEST(CommandLineSettings, LongArgumentIsKeptWhole) {
    const std::string value(5000, 'v');
    const std::string argument = "-key=" + value;
    const char* argv[] = {"qxw", argument.c_str()};
    SettingsDatabase db;
    AddCommandLineSettings(2, argv, db, false);
    EXPECT_EQ(db.GetString("key"), value);
}

TEST(StringSettings, WordsAreSplitAtBlanksAndOuterQuotesDropped) {
    SettingsDatabase db;
    AddStringSettings("\"-log_level=3 \t a.skarna\r-verbose  b.skarna\"", db);
    EXPECT_EQ(db.GetGroup(""), (Pairs{{"log_level", "3"}, {"positional", "a.skarna,b.skarna"}, {"verbose", ""}}));
}

TEST(StringSettings, InnerQuotesGroupNothing) {
    SettingsDatabase db;
    AddStringSettings("-name=\"x y\"", db);  // only the final quote is dropped
    EXPECT_EQ(db.GetGroup(""), (Pairs{{"name", "\"x"}, {"positional", "y"}}));
    for (const char* nothing : {"\"", static_cast<const char*>(nullptr)}) {
        SettingsDatabase none;
        AddStringSettings(nothing, none);
        EXPECT_FALSE(none.HasGroup(""));
    }
}

TEST(StringSettings, LongValueIsKeptWhole) {
    const std::string value(3000, 'v');
    const std::string text = "-a=" + value + " -b=" + value;
    SettingsDatabase db;
    AddStringSettings(text.c_str(), db);
    EXPECT_EQ(db.GetString("a"), value);
    EXPECT_EQ(db.GetString("b"), value);
}

}  // namespace
}  // namespace ZORVIK
