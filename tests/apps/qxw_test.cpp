// qxw as a user runs it: the built program started in a directory of its own,
// with settings from QXW_CONFIG, qxw.ini and the command line, over the
// simulated card, the network reader or real PC/SC; each run bounded in time
// and killed by its process id when late.
#include <fcntl.h>
#include <grp.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <future>
#include <map>
#include <tuple>
#include <utility>
#include <vector>

#include "service/common/binary.h"
#include "service/common/filesystem.h"
#include "support/derim_server.h"
#include "support/file_text.h"
#include "support/pcsc_fixture.h"
#include "support/processes.h"
#include "support/serial_reader_emulator.h"
#include "support/test_dir.h"

namespace ZORVIK {
namespace {

using binary::Binary;
using test::Contains;

// How the program runs besides its arguments.
struct QxwRunOptions {
    std::string input = {};  // standard input: these keys, then its end
    // A limit on the size of each file it writes (RLIMIT_FSIZE), with SIGXFSZ
    // ignored so that a write past it fails with EFBIG as on a full disk. 0: none.
    uint64_t fileSizeLimit = 0;
    // When the tests run as root, the program runs as the user nobody, so that
    // file permissions apply to it.
    bool unprivileged = false;
    // Standard output is a pipe whose reader has already gone, as in qxw | head.
    bool closedOutput = false;
    std::chrono::milliseconds limit = std::chrono::seconds(30);  // then the program is killed
};

struct QxwRun {
    int exitCode = -1;  // -1: killed after its time limit or by a signal
    std::string out;
    std::string err;
};

// The program's arguments and environment as execve takes them, built before a
// fork: after it only async-signal-safe calls are made (the test process has
// other threads). The program sits in the build directory, one level above the
// test programs, unless ZORVIK_QXW names another. The given variables come
// first (the program's getenv finds the first of equal names); QXW_CONFIG
// reaches the program only when given here.
class QxwCommand {
public:
    explicit QxwCommand(const std::vector<std::string>& args, const std::map<std::string, std::string>& given = {}) {
        const char* program = std::getenv("ZORVIK_QXW");
        m_args.push_back(program ? program : filesystem::FormatPath(filesystem::GetModulePath(), "%d%p") + "../qxw");
        m_args.insert(m_args.end(), args.begin(), args.end());
        for (const auto& [name, value] : given) m_variables.push_back(name + "=" + value);
        m_variables.push_back("NO_COLOR=1");
        for (char** entry = environ; *entry != nullptr; ++entry) {
            if (std::string(*entry).rfind("QXW_CONFIG=", 0) != 0) m_variables.push_back(*entry);
        }
        for (auto [texts, pointers] : {std::pair{&m_args, &m_argv}, std::pair{&m_variables, &m_envp}}) {
            for (std::string& text : *texts) pointers->push_back(text.data());
            pointers->push_back(nullptr);
        }
    }
    [[noreturn]] void Exec() const {
        ::execve(m_argv[0], m_argv.data(), m_envp.data());
        ::_exit(127);
    }

private:
    std::vector<std::string> m_args, m_variables;
    std::vector<char*> m_argv, m_envp;
};

// Standard input, output and error are unnamed temporary files, the latter two
// read once the program has ended.
QxwRun RunQxw(const std::vector<std::string>& args, const std::string& directory, const QxwRunOptions& options = {},
              const std::map<std::string, std::string>& environment = {}) {
    const QxwCommand command(args, environment);
    FILE* const files[3] = {std::tmpfile(), std::tmpfile(), std::tmpfile()};
    std::fputs(options.input.c_str(), files[0]);
    std::rewind(files[0]);
    const rlimit limit{options.fileSizeLimit, options.fileSizeLimit};
    int output[2] = {-1, -1};
    if (options.closedOutput && ::pipe(output) == 0) ::close(output[0]);
    const pid_t pid = ::fork();
    if (pid == 0) {
        for (int fd = 0; fd < 3; ++fd) ::dup2(::fileno(files[fd]), fd);
        if (options.closedOutput) ::dup2(output[1], 1);
        // As from a shell: a write to a pipe without a reader ends the program
        // unless the program itself says otherwise.
        ::signal(SIGPIPE, SIG_DFL);
        if (::chdir(directory.c_str()) != 0) ::_exit(126);
        if (options.fileSizeLimit != 0 &&
            (::signal(SIGXFSZ, SIG_IGN) == SIG_ERR || ::setrlimit(RLIMIT_FSIZE, &limit) != 0))
            ::_exit(125);
        constexpr uid_t Nobody = 65534;
        if (options.unprivileged && ::getuid() == 0 &&
            (::setgroups(0, nullptr) != 0 || ::setgid(Nobody) != 0 || ::setuid(Nobody) != 0))
            ::_exit(125);
        command.Exec();
    }
    if (output[1] >= 0) ::close(output[1]);
    QxwRun run;
    const int status = test::WaitForChild(pid, std::chrono::steady_clock::now() + options.limit).status;
    run.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    for (const auto& [file, sink] : {std::pair{files[1], &run.out}, std::pair{files[2], &run.err}}) {
        std::rewind(file);
        char buffer[4096];
        for (size_t count; (count = std::fread(buffer, 1, sizeof buffer, file)) > 0;) sink->append(buffer, count);
    }
    for (FILE* file : files) std::fclose(file);
    return run;
}

constexpr uint32_t EepromImageSize = 0x12000;

class Qxw : public ::testing::Test {
protected:
    void WriteFile(const std::string& name, const std::string& text) const {
        std::ofstream(m_dir + name, std::ios::binary) << text;
    }
    std::string File(const std::string& name) const { return test::ReadFile(m_dir + name); }
    bool Exists(const std::string& name) const { return std::filesystem::exists(m_dir + name); }

    const std::string m_dir = test::TestDir();
};

TEST_F(Qxw, HelpListsEveryDeclaredSetting) {
    const QxwRun run = RunQxw({"-h"}, m_dir);
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_EQ(run.out, test::ReadFile(std::string(ZORVIK_TEST_DATA_DIR) + "/qxw/help.txt"));
    EXPECT_EQ(run.err, "");
    EXPECT_FALSE(Exists("qxw.log"));
}

TEST_F(Qxw, PowerSettingsAreHonouredAndLevelEightIsSilent) {
    QxwRun run = RunQxw({"-p=0", "-o=0"}, m_dir);
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_TRUE(Contains(run.out, "| Reader : #OSM |")) << run.out;
    EXPECT_FALSE(Contains(run.out, "Power on") || Contains(run.out, "Power off")) << run.out;
    run = RunQxw({"-o=0"}, m_dir);
    EXPECT_TRUE(Contains(run.out, "Power on\n") && !Contains(run.out, "Power off")) << run.out;
    std::filesystem::remove(m_dir + "qxw.log");
    run = RunQxw({"-l=8"}, m_dir);
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(run.err, "");
    EXPECT_FALSE(Exists("qxw.log"));
}

// No logs exist yet, so these errors go to standard error.
TEST_F(Qxw, SettingsErrorsEndWithCodeOne) {
    QxwRun run = RunQxw({"-l=9"}, m_dir);
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_TRUE(
        Contains(run.err, "Значение настройки \"log_level = 9\" не удовлетворяет заданным для нее условиям: 1..8"))
        << run.err;
    WriteFile("qxw.ini", "log_level = 5\nthis line has no operator\n");
    run = RunQxw({}, m_dir);
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_TRUE(Contains(run.err, "Файл: \"qxw.ini\" Строка: 2;")) << run.err;
    EXPECT_EQ(run.out, "");
    EXPECT_FALSE(Exists("qxw.log"));
}

// An error after the logs exist goes through them; one that no console log
// shows (level 8, the console switched off) goes to standard error as well.
TEST_F(Qxw, ErrorsReachTheUserWhereverTheLogsGo) {
    const std::string message = "Ошибка (CardReaderDriverError). Can't create OS model with JC debug facility\n";
    const QxwRun run = RunQxw({"-reader=#JCD_OSM"}, m_dir);
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_TRUE(Contains(run.out, message)) << run.out;
    EXPECT_EQ(run.err, "");
    EXPECT_TRUE(Contains(File("qxw.log"), message));
    std::filesystem::remove(m_dir + "qxw.log");
    for (const std::vector<std::string>& args : {std::vector<std::string>{"-l=8", "-reader=#JCD_OSM"},
                                                 std::vector<std::string>{"-c=0", "-f=0", "-reader=#JCD_OSM"},
                                                 std::vector<std::string>{"-c=0", "-reader=#JCD_OSM"}}) {
        const QxwRun quiet = RunQxw(args, m_dir);
        EXPECT_EQ(quiet.exitCode, 1);
        EXPECT_EQ(quiet.err, message) << args[0];
        EXPECT_EQ(quiet.out, "") << args[0];
    }
    EXPECT_TRUE(Contains(File("qxw.log"), message));  // the last run kept its file log
}

TEST_F(Qxw, ScriptsAreRefusedBeforeAnyLogExists) {
    for (const std::string arg : {"test.skarna", "-script=test.skarna"}) {
        const QxwRun run = RunQxw({arg}, m_dir);
        EXPECT_EQ(run.exitCode, 1);
        EXPECT_TRUE(Contains(run.err, "Запуск скриптов (\"test.skarna\") выполняет скриптовая консоль")) << run.err;
        EXPECT_FALSE(Exists("qxw.log"));
    }
}

// A fresh card is saved as it is, erased, and loads again; an image of the
// wrong size is refused with its name.
TEST_F(Qxw, ErasedImageSavedAndLoadedAndAWrongSizeRefused) {
    QxwRun run = RunQxw({"-ES=erased.bin"}, m_dir);
    ASSERT_EQ(run.exitCode, 0) << run.out << run.err;
    EXPECT_EQ(File("erased.bin"), std::string(EepromImageSize, '\xFF'));
    EXPECT_EQ(RunQxw({"-EL=erased.bin"}, m_dir).exitCode, 0);
    WriteFile("short.bin", std::string(100, '\0'));
    run = RunQxw({"-EL=short.bin"}, m_dir);
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_TRUE(Contains(run.out, "EEPROM image 'short.bin' has 100 bytes, expected 73728\n")) << run.out;
}

TEST_F(Qxw, SerialReaderOnThePortOfVport) {
    test::SerialReaderEmulator device([](const CApdu&) { return RApdu(Binary("9000")); },
                                      {.atr = Binary("3B 02 14 50")});
    const QxwRun run = RunQxw({"-reader=#SIM", "-VPORT=" + device.PortPath()}, m_dir);
    ASSERT_EQ(run.exitCode, 0) << run.out << run.err;
    EXPECT_TRUE(Contains(run.out, "| Reader : #SIM |")) << run.out;
    EXPECT_TRUE(Contains(run.out, "ATR: 3B 02 14 50\n")) << run.out;
    EXPECT_EQ(device.Observed().packets.at(0), Binary("03 00"));  // the power-on
}

// The simulated card unless a reader is named, its EEPROM image loaded with -EL
// and saved with -ES, its session in the APDU log, and the console's records in
// the file log under the program's name; log_dir and the names are joined as text.
TEST_F(Qxw, SimulatedCardByDefaultWithItsImageAndTheLogsOfTheSession) {
    std::string image(EepromImageSize, '\0');  // every byte differs from the erased value FF
    for (size_t i = 0; i < image.size(); ++i) image[i] = static_cast<char>(i * 7 % 251);
    WriteFile("in.bin", image);
    const QxwRun run = RunQxw({"-af=gp", "-ld=run_", "-EL=in.bin", "-ES=out.bin"}, m_dir);
    ASSERT_EQ(run.exitCode, 0) << run.out << run.err;
    const std::string atr = "ATR: 3B D8 18 00 81 31 FE 45 5A 4F 52 56 49 4B 4F 53 C4\n";
    EXPECT_TRUE(Contains(run.out, "+---------------+\n| Reader : #OSM |\n+---------------+\n")) << run.out;
    EXPECT_TRUE(Contains(run.out, "Power on\n" + atr));
    EXPECT_LT(run.out.find("Power on"), run.out.find("Power off\n"));
    EXPECT_EQ(run.err, "");
    EXPECT_TRUE(Contains(File("run_qxw.log"), atr));
    EXPECT_TRUE(Exists("run_gp.log"));
    EXPECT_EQ(File("out.bin"), image);
}

// The settings file overrides the environment, the command line both; a log
// format numbers the log files.
TEST_F(Qxw, SettingsSourcesApplyInOrderEnvironmentFileCommandLine) {
    EXPECT_EQ(RunQxw({}, m_dir, {}, {{"QXW_CONFIG", "-af=skarna -an=env_apdu.log"}}).exitCode, 0);
    EXPECT_TRUE(Contains(File("env_apdu.log"), "\non\n")) << File("env_apdu.log");
    const std::map<std::string, std::string> environment = {{"QXW_CONFIG", "-log_name=from_env -p=0"}};
    EXPECT_EQ(RunQxw({}, m_dir, {}, environment).exitCode, 0);
    EXPECT_FALSE(Contains(File("from_env.log"), "Power on"));
    WriteFile("qxw.ini", "log_name = from_ini\n");
    EXPECT_EQ(RunQxw({}, m_dir, {}, environment).exitCode, 0);
    EXPECT_EQ(RunQxw({"-log_name=from_cli", "-lf=%p%n_%c.%e"}, m_dir, {}, environment).exitCode, 0);
    EXPECT_TRUE(Exists("from_env.log") && Exists("from_ini.log") && Exists("from_cli_001.log"));
}

// Bad settings, bad files, full disks and odd paths: each failure ends qxw with
// code 1 and a message that names the cause, on standard error when no console
// log shows it; an image already on disk is never damaged.
TEST_F(Qxw, FailuresOfFilesEndWithCodeOneAndTheirReason) {
    const std::string image(EepromImageSize, '\x5A');
    const auto includes = [this](int depth) {
        WriteFile("qxw.ini", "@include 1.ini\n");
        for (int i = 1; i < depth; ++i)
            WriteFile(std::to_string(i) + ".ini", "@include " + std::to_string(i + 1) + ".ini\n");
        WriteFile(std::to_string(depth) + ".ini", "log_level = 5\n");
    };
    const std::string noJcd = "Ошибка (CardReaderDriverError). Can't create OS model with JC debug facility\n";
    std::filesystem::permissions(m_dir, std::filesystem::perms::all);  // writable for nobody
    constexpr std::chrono::seconds Prompt(1);                          // for what must not wait at all
    const struct {
        const char* name;
        std::function<void()> prepare;
        std::vector<std::string> args;
        bool onStandardError;  // else on standard output, where the console log shows it
        std::string message;
        QxwRunOptions options = {};
        std::string image = {};  // what img.bin holds afterwards, when it matters
    } cases[] = {
        {"error after the logs exist", [] {}, {"-reader=#JCD_OSM"}, false, noJcd},
        {"script named",
         [] {},
         {"test.skarna"},
         true,
         "Запуск скриптов (\"test.skarna\") выполняет скриптовая консоль, которая не входит в эту сборку; qxw "
         "принимает только настройки вида -имя=значение"},
        {"no card, and a closed input for the menu's key",
         [] {},
         {"-reader=#PCSC"},
         false,
         "Консольный ввод закрыт: ожидаемая клавиша не может быть прочитана"},
        {"serial port that cannot be opened",
         [] {},
         {"-reader=#SIM", "-VPORT=/nonexistent/ttyZ"},
         false,
         "Ошибка (CardReaderDriverError). Не удается открыть порт /nonexistent/ttyZ\n"},
        {"missing directory, level 8",
         [] {},
         {"-l=8", "-ES=no/dir/img.bin"},
         true,
         "Ошибка (CardReaderDriverError). Can't save EEPROM image 'no/dir/img.bin': create: No such file or "
         "directory\n"},
        {"unwritable directory",
         [this, &image] {
             std::filesystem::create_directory(m_dir + "ro");
             WriteFile("ro/img.bin", image);
             std::filesystem::permissions(m_dir + "ro",
                                          std::filesystem::perms::owner_read | std::filesystem::perms::owner_exec);
         },
         {"-f=0", "-ES=ro/img.bin"},
         false,
         "Can't save EEPROM image 'ro/img.bin': create: Permission denied\n",
         {.unprivileged = true}},
        {"target is a directory",
         [this] { std::filesystem::create_directory(m_dir + "img.bin"); },
         {"-c=0", "-f=0", "-ES=img.bin"},
         true,
         "Ошибка (CardReaderDriverError). Can't save EEPROM image 'img.bin': Is a directory\n"},
        {"disk full for the image",
         [&] { WriteFile("img.bin", image); },
         {"-f=0", "-ES=img.bin"},
         false,
         "Can't save EEPROM image 'img.bin': write: File too large\n",
         {.fileSizeLimit = 16384},
         image},
        {"disk full for the APDU log",
         [this] { WriteFile("skarna.log", std::string(16384, ';')); },
         {"-f=0", "-af=skarna"},
         false,
         "Не удалось записать в файл для конвертированных APDU 'skarna.log': File too large\n",
         {.fileSizeLimit = 16384}},
        {"FIFO as qxw.ini",
         [this] { ::mkfifo((m_dir + "qxw.ini").c_str(), 0600); },
         {},
         true,
         "Ошибка (Exception). Файл настроек \"qxw.ini\" не удаётся прочитать: Is a named pipe (FIFO), not a regular "
         "file\n"},
        {"FIFO as -EL",
         [this] { ::mkfifo((m_dir + "img.fifo").c_str(), 0600); },
         {"-f=0", "-EL=img.fifo"},
         false,
         "Ошибка (Exception). img.fifo : fopen error: Is a named pipe (FIFO), not a regular file\n"},
        {"unreadable qxw.ini",
         [this] {
             WriteFile("qxw.ini", "log_level = 5\n");
             std::filesystem::permissions(m_dir + "qxw.ini", std::filesystem::perms::none);
         },
         {},
         true,
         "Файл настроек \"qxw.ini\" не удаётся прочитать: Permission denied\n",
         {.unprivileged = true}},
        {"100-deep includes",
         [&] { includes(100); },
         {},
         true,
         "Файл настроек \"" + m_dir + "65.ini\" не прочитан: вложенность @include больше 64\n"},
        {"10,000-deep includes",
         [&] { includes(10000); },
         {},
         true,
         "Файл настроек \"" + m_dir + "65.ini\" не прочитан: вложенность @include больше 64\n"},
        {"zero byte in a quoted value",
         [this] { WriteFile("qxw.ini", std::string("log_level = 5\0x\n", 16)); },
         {},
         true,
         "Значение настройки \"log_level = 5\\x00x\" не удовлетворяет заданным для нее условиям: 1..8\n"},
        {"FIFO as qxw.log",
         [this] { ::mkfifo((m_dir + "qxw.log").c_str(), 0600); },
         {},
         true,
         "Ошибка (Exception). Log file 'qxw.log' can't be created: Is a named pipe (FIFO) that has no reader\n",
         {.limit = Prompt}},
        {"FIFO as qxw.log, its reader gone before the run",
         [this] {
             const std::string fifo = m_dir + "qxw.log";
             ::mkfifo(fifo.c_str(), 0600);
             const int fd = ::open(fifo.c_str(), O_RDONLY | O_NONBLOCK);
             if (fd >= 0) ::close(fd);
         },
         {},
         true,
         "Ошибка (Exception). Log file 'qxw.log' can't be created: Is a named pipe (FIFO) that has no reader\n",
         {.limit = Prompt}},
        {"read-only qxw.log",
         [this] {
             WriteFile("qxw.log", "kept\n");
             std::filesystem::permissions(m_dir + "qxw.log", std::filesystem::perms::owner_read);
         },
         {},
         true,
         "Log file 'qxw.log' can't be created: Permission denied\n",
         {.unprivileged = true}},
        {"FIFO as the APDU log",
         [this] { ::mkfifo((m_dir + "skarna.log").c_str(), 0600); },
         {"-f=0", "-af=skarna"},
         false,
         "Не удалось открыть файл для конвертированных APDU 'skarna.log': Is a named pipe (FIFO) that has no "
         "reader\n",
         {.limit = Prompt}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        c.prepare();
        // No PC/SC service: the machine's own readers must not answer "#PCSC".
        const QxwRun run = RunQxw(c.args, m_dir, c.options, {{"PCSCLITE_CSOCK_NAME", m_dir + "no.comm"}});
        EXPECT_EQ(run.exitCode, 1);
        EXPECT_TRUE(Contains(c.onStandardError ? run.err : run.out, c.message)) << run.out << run.err;
        if (!c.image.empty()) {
            EXPECT_EQ(File("img.bin"), c.image);
        }
        // No temporary image is left behind, whatever failed.
        for (const auto& entry : std::filesystem::recursive_directory_iterator(m_dir))
            EXPECT_EQ(entry.path().filename().string().find("img.bin."), std::string::npos) << entry.path();
        std::filesystem::permissions(m_dir, std::filesystem::perms::all);
        for (const auto& entry : std::filesystem::directory_iterator(m_dir)) {
            std::filesystem::permissions(entry.path(), std::filesystem::perms::owner_all);
            std::filesystem::remove_all(entry.path());
        }
    }
}

// Reads a FIFO from before the program opens it until every writer has closed
// it; a writer end of the reader's own keeps the FIFO from ending before the
// program has opened it.
class FifoReader {
public:
    explicit FifoReader(const std::string& path)
        : m_read((::mkfifo(path.c_str(), 0600), ::open(path.c_str(), O_RDONLY | O_NONBLOCK))),
          m_keep(::open(path.c_str(), O_WRONLY | O_NONBLOCK)) {
        ::fcntl(m_read, F_SETFL, 0);
        m_text = std::async(std::launch::async, [fd = m_read] { return ReadToEnd(fd); });
    }
    ~FifoReader() {
        if (m_keep >= 0) ::close(m_keep);
        if (m_text.valid()) m_text.wait();
        ::close(m_read);
    }
    FifoReader(const FifoReader&) = delete;
    FifoReader& operator=(const FifoReader&) = delete;
    bool Ready() const { return m_read >= 0 && m_keep >= 0; }
    // Everything written, once the program has ended.
    std::string Text() {
        ::close(m_keep);
        m_keep = -1;
        return m_text.get();
    }
    static std::string ReadToEnd(int fd) {
        std::string text;
        char buffer[4096];
        for (ssize_t count; (count = ::read(fd, buffer, sizeof buffer)) > 0 || (count < 0 && errno == EINTR);) {
            if (count > 0) text.append(buffer, static_cast<size_t>(count));
        }
        return text;
    }

private:
    int m_read;
    int m_keep;
    std::future<std::string> m_text;
};

// qxw with a pipe on its descriptor fd (standard output, or a further
// descriptor as bash hands over ">(tool)"), read while the program runs.
// Returns the exit code (-1: killed after 30 s) and what the pipe carried.
std::pair<int, std::string> RunQxwIntoPipe(const std::vector<std::string>& args, const std::string& directory, int fd) {
    const QxwCommand command(args);
    int pipeFds[2];
    if (::pipe(pipeFds) != 0) return {-1, ""};
    const int nothing = ::open("/dev/null", O_RDWR);
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::close(pipeFds[0]);
        for (int stream = 0; stream < 3; ++stream) ::dup2(nothing, stream);
        ::dup2(pipeFds[1], fd);
        ::signal(SIGPIPE, SIG_DFL);
        if (::chdir(directory.c_str()) != 0) ::_exit(126);
        command.Exec();
    }
    ::close(nothing);
    ::close(pipeFds[1]);
    auto text = std::async(std::launch::async, [read = pipeFds[0]] { return FifoReader::ReadToEnd(read); });
    const int status = test::WaitForChild(pid, std::chrono::steady_clock::now() + std::chrono::seconds(30)).status;
    std::pair<int, std::string> result{WIFEXITED(status) ? WEXITSTATUS(status) : -1, text.get()};
    ::close(pipeFds[0]);
    return result;
}

// A log named after a standard stream that the shell sent to a file shares the
// stream's offset: the redirected file holds every console line and every log
// entry (the same run with the log in a file of its own shows what they are).
// The console and the file log in one stream show each record twice.
TEST_F(Qxw, LogsIntoARedirectedStandardStreamKeepEveryEntryAndLine) {
    const struct {
        const char* stream;
        std::vector<std::string> args;
        const char* logSetting;  // given the stream, or a.log for the run that shows what to expect
        bool onStandardError;
    } cases[] = {
        {"/dev/stdout", {"-af=skarna"}, "-an=", false},
        {"/dev/stderr", {"-c=0", "-f=0", "-af=skarna"}, "-an=", true},  // with the final error
        {"/dev/stdout", {}, "-lf=", false},                             // the file log
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.logSetting) + c.stream);
        const auto run = [&](const std::string& log) {
            std::vector<std::string> args{"-r=#OSM", "-os=#autodetect", c.logSetting + log};
            args.insert(args.end(), c.args.begin(), c.args.end());
            return RunQxw(args, m_dir);
        };
        const QxwRun alone = run("a.log");
        const std::string expected = (c.onStandardError ? alone.err : alone.out) + File("a.log");
        const QxwRun shared = run(c.stream);
        EXPECT_EQ(shared.exitCode, alone.exitCode);
        const std::string& text = c.onStandardError ? shared.err : shared.out;
        // The clock and the seed differ between the runs, but not their lengths.
        EXPECT_EQ(text.size(), expected.size()) << text;
        for (size_t start = 0, end; (end = expected.find('\n', start)) != std::string::npos; start = end + 1) {
            const std::string line = expected.substr(start, end + 1 - start);
            if (line.rfind("Current time", 0) != 0 && line.rfind("Random seed", 0) != 0) {
                EXPECT_TRUE(Contains(text, line)) << line << text;
            }
        }
        std::filesystem::remove(m_dir + "a.log");
    }
}

// A FIFO or a pipe that has a reader takes a log as a file would: the file log
// as a FIFO a viewer reads, the APDU log as such a FIFO, as -an=/dev/stdout
// piped on, and as -an=>(tool). The reader gets every line.
TEST_F(Qxw, LogsGoIntoPipesAndFifosThatHaveAReader) {
    {
        FifoReader viewer(m_dir + "viewed.log");
        ASSERT_TRUE(viewer.Ready());
        const QxwRun run = RunQxw({"-ln=viewed"}, m_dir);
        EXPECT_EQ(run.exitCode, 0) << run.out << run.err;
        EXPECT_TRUE(Contains(run.out, "Power off\n")) << run.out;
        EXPECT_EQ(viewer.Text(), run.out);  // the console shows every record of the file log
        EXPECT_TRUE(std::filesystem::is_fifo(m_dir + "viewed.log"));
    }
    {
        FifoReader viewer(m_dir + "apdu.fifo");
        ASSERT_TRUE(viewer.Ready());
        const QxwRun run = RunQxw({"-f=0", "-af=skarna", "-an=apdu.fifo"}, m_dir);
        EXPECT_EQ(run.exitCode, 0) << run.out << run.err;
        EXPECT_EQ(viewer.Text(), "\non\n\noff\n");  // the Skarna markers of power on and off
    }
    // -an=/dev/stdout | tool: the console records and the APDU log's entries
    // in one stream; without the entries it is the run's file log.
    auto [code, out] = RunQxwIntoPipe({"-ln=stdout", "-af=skarna", "-an=/dev/stdout"}, m_dir, STDOUT_FILENO);
    EXPECT_EQ(code, 0) << out;
    std::string records = out;
    for (const std::string entry : {"\non\n", "\noff\n"}) {
        const size_t at = records.find(entry);
        ASSERT_NE(at, std::string::npos) << entry << out;
        records.erase(at, entry.size());
    }
    EXPECT_EQ(records, File("stdout.log"));
    EXPECT_TRUE(Contains(records, "Power off\n")) << records;
    // -an=>(tool): bash hands the pipe over as /dev/fd/63.
    std::tie(code, out) = RunQxwIntoPipe({"-f=0", "-af=skarna", "-an=/dev/fd/63"}, m_dir, 63);
    EXPECT_EQ(code, 0);
    EXPECT_EQ(out, "\non\n\noff\n");
}

// With the simulated card and a network server, "#?" has two candidates: an
// error without user input, else the menu, which reads its keys from standard
// input.
TEST_F(Qxw, ReaderMenuChoosesTheNetworkReader) {
    test::DerimServer server(
        test::DerimServer::Card(Binary("3B 02 14 50"), [](const Binary&) { return Binary("9000"); }));
    const std::string port = "-derimdirect_port=" + std::to_string(server.Port());
    // With two reader groups every card service names its reader; the second is not powered here.
    const QxwRun two = RunQxw({"-reader2=#DERIMDIRECT", "-reader2.p=0", port}, m_dir);
    EXPECT_EQ(two.exitCode, 0);
    EXPECT_TRUE(Contains(two.out,
                         "+-------------------------+\n| Reader 1 : #OSM         |\n"
                         "| Reader 2 : #DERIMDIRECT |\n+-------------------------+\n"))
        << two.out;
    EXPECT_TRUE(server.Requests().empty());
    const QxwRun refused = RunQxw({"-reader=#?", "-disable_user_input=1", port}, m_dir);
    EXPECT_EQ(refused.exitCode, 1);
    EXPECT_TRUE(Contains(refused.out, "Подключено более одной считки")) << refused.out;
    const QxwRun quitting = RunQxw({"-reader=#?", "-f=0", port}, m_dir, {.input = "q"});
    EXPECT_EQ(quitting.exitCode, 0);
    EXPECT_FALSE(Contains(quitting.out, "Power on"));
    const QxwRun run =
        RunQxw({"-reader=#?", "-f=0", port}, m_dir, {.input = "xM9v"});  // keys outside the menu are skipped
    EXPECT_EQ(run.exitCode, 0) << run.out;
    for (const char* shown : {"Интерактивный выбор \"reader\" из списка доступных:", "m - OSM\n", "v - Derim Direct\n",
                              "Выбран reader = #DERIMDIRECT\n", "| Reader : #DERIMDIRECT |", "ATR: 3B 02 14 50\n"})
        EXPECT_TRUE(Contains(run.out, shown)) << shown << run.out;
    std::vector<uint8_t> types;  // power on and off, nothing while the menu was open
    for (const auto& request : server.Requests()) types.push_back(request.type);
    EXPECT_EQ(types, (std::vector<uint8_t>{0, 2}));
}

// A reader of the output that has gone (qxw | head) silences the console log
// only: the run ends as it would have, with its image and its file log whole,
// and an error that ends it goes to standard error instead.
TEST_F(Qxw, OutputWithoutItsReaderLosesNothing) {
    const QxwRun plain = RunQxw({"-ES=plain.bin", "-ln=plain"}, m_dir);
    ASSERT_EQ(plain.exitCode, 0) << plain.out << plain.err;
    const QxwRun run = RunQxw({"-ES=piped.bin", "-ln=piped"}, m_dir, {.closedOutput = true});
    EXPECT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(run.err, "");
    EXPECT_EQ(File("piped.bin").size(), EepromImageSize);
    // The same records after the first lines, which hold the time and the seed.
    const auto fromReaderTable = [](const std::string& log) {
        return log.substr(std::min(log.find("+-"), log.size()));
    };
    EXPECT_EQ(fromReaderTable(File("piped.log")), fromReaderTable(File("plain.log")));
    EXPECT_TRUE(Contains(File("piped.log"), "Power off\n"));
    const QxwRun failing = RunQxw({"-reader=#JCD_OSM"}, m_dir, {.closedOutput = true});
    EXPECT_EQ(failing.exitCode, 1);
    const std::string noJcd = "Ошибка (CardReaderDriverError). Can't create OS model with JC debug facility\n";
    EXPECT_TRUE(Contains(failing.err, noJcd)) << failing.err;
    EXPECT_TRUE(Contains(File("qxw.log"), noJcd));
}

// Text from the card is shown with its control bytes escaped, on the console
// and in the file log: a GET LAST ERROR place text that sets the window title
// and clears the screen acts on nothing, whether in C0 controls or in the C1
// controls of UTF-8 (CSI U+009B, OSC U+009D, ST U+009C), which a UTF-8 terminal
// obeys as it does ESC sequences; its Cyrillic stays as it is.
TEST_F(Qxw, CardTextIsShownWithItsControlBytesEscaped) {
    const struct {
        const char* name;
        std::string place;
        std::string shown;
        std::vector<std::string> raw;  // none of these reaches the console or the log
    } cases[] = {
        {"C0",
         "\x1B]0;owned\x07\x1B[2J",
         "Assert 0102.\nМесто возникновения на карте:\n\\x1B]0;owned\\x07\\x1B[2J (273)",
         {"\x1B", "\x07"}},
        {"C1 in UTF-8",
         "Сбой \xC2\x9B"
         "2J в модуле \xC2\x9D"
         "0;owned\xC2\x9C",
         "Место возникновения на карте:\nСбой \\xC2\\x9B2J в модуле \\xC2\\x9D0;owned\\xC2\\x9C (273)",
         {"\xC2\x9B", "\xC2\x9D", "\xC2\x9C"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        test::DerimServer server(test::DerimServer::Card(Binary("3B 00"), [&c](const Binary& apdu) {
            if (apdu == Binary("80 FE 00 00 00"))
                return Binary("9000 0102 0111") + Binary(c.place.begin(), c.place.end());
            return Binary("6A82");  // GET CARD INFO
        }));
        const QxwRun run = RunQxw(
            {"-reader=#DERIMDIRECT", "-derimdirect_port=" + std::to_string(server.Port()), "-os=#autodetect", "-z=1"},
            m_dir);
        EXPECT_EQ(run.exitCode, 1);
        const std::string log = File("qxw.log");
        EXPECT_TRUE(Contains(run.out, c.shown)) << run.out;
        EXPECT_TRUE(Contains(log, c.shown)) << log;
        for (const std::string& raw : c.raw) {
            EXPECT_FALSE(Contains(run.out, raw) || Contains(log, raw));  // without colours (NO_COLOR) no ESC at all
        }
        std::filesystem::remove(m_dir + "qxw.log");
    }
}

// A quoted value loses its enclosing pair whatever stands inside it, from the
// command line and from qxw.ini alike: -an='it's' names the APDU log it's.
TEST_F(Qxw, QuotedValueLosesItsEnclosingQuotes) {
    const struct {
        std::string iniLine;  // empty: the setting is given on the command line
        std::string argument;
        std::string file;
    } cases[] = {
        {"", "-an='it's'", "it's"},
        {"apdu_file_name = \"say \"hi\"\"\n", "", "say \"hi\""},
        {"", "-an='a, b'", "a, b"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.file);
        WriteFile("qxw.ini", c.iniLine);
        std::vector<std::string> args{"-af=skarna", "-f=0"};
        if (!c.argument.empty()) args.push_back(c.argument);
        const QxwRun run = RunQxw(args, m_dir);
        ASSERT_EQ(run.exitCode, 0) << run.out << run.err;
        EXPECT_TRUE(Contains(File(c.file), "\non\n")) << File(c.file);
        std::filesystem::remove(m_dir + c.file);
        // Nothing else was made, under a quoted name or any other.
        EXPECT_EQ(std::distance(std::filesystem::directory_iterator(m_dir), {}), 1);  // qxw.ini
    }
}

// A list whose items carry their own quotes reaches the list read whole: with
// 'T0', 'T1' the reader keeps the card's first protocol T=0 and asks for no
// PPS; with "T1","T0" it switches to T=1 by PPS (ISO/IEC 7816-3, 9.2: PPSS FF,
// PPS0 11, PPS1 11, PCK FF, behind the card-bytes packet type 01).
TEST_F(Qxw, ListOfQuotedItemsGivesTheTransportProtocolsInOrder) {
    const Binary bothProtocols("3B 80 80 01 01");  // T=0 first, T=1 offered too
    const Binary pps("01 FF 11 11 FF");
    const struct {
        std::string protocols;
        test::SerialReaderEmulator::CardKind card;
        bool switchedByPps;
    } cases[] = {
        {"'T0', 'T1'", test::SerialReaderEmulator::CardKind::T0, false},
        {"\"T1\",\"T0\"", test::SerialReaderEmulator::CardKind::T1, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.protocols);
        test::SerialReaderEmulator device([](const CApdu&) { return RApdu(Binary("9000")); },
                                          {.card = c.card, .atr = bothProtocols});
        const QxwRun run = RunQxw({"-reader=#SIM", "-VPORT=" + device.PortPath(), "-t=" + c.protocols}, m_dir);
        ASSERT_EQ(run.exitCode, 0) << run.out << run.err;
        const std::vector<Binary> packets = device.Observed().packets;
        ASSERT_FALSE(packets.empty());
        EXPECT_EQ(packets[0], Binary("03 00"));  // the power-on
        // The PPS is answered before the power-on ends, so it is seen by now.
        EXPECT_EQ(std::count(packets.begin(), packets.end(), pps), c.switchedByPps ? 1 : 0);
    }
}

using QxwOverPcsc = test::PcscdTest;

// By name, by "#PCSC" (the one reader with a card), and an empty reader by name;
// qxw reaches the private pcscd through its socket.
TEST_F(QxwOverPcsc, ReaderChosenByNameOrByPcscRequest) {
    InsertCard();
    const std::string dir = test::TestDir();
    const std::map<std::string, std::string> environment = {{"PCSCLITE_CSOCK_NAME", Pcscd().SocketPath()}};
    for (const std::string reader : {test::PrivatePcscd::Reader0, "#PCSC"}) {
        const size_t frames = Card().Frames().size();
        const QxwRun run = RunQxw({"-reader=" + reader, "-af=skarna"}, dir, {}, environment);
        ASSERT_EQ(run.exitCode, 0) << run.out << run.err;
        EXPECT_TRUE(Contains(run.out, std::string("| Reader : ") + test::PrivatePcscd::Reader0 + " |")) << run.out;
        EXPECT_TRUE(Contains(run.out, "ATR: 3B 80 01 81\n")) << run.out;
        EXPECT_TRUE(Contains(run.out, "Power off\n")) << run.out;
        EXPECT_GT(Card().Frames().size(), frames);  // the card was spoken to
    }
    EXPECT_TRUE(std::filesystem::exists(dir + "skarna.log"));
    const QxwRun empty = RunQxw({std::string("-reader=") + test::PrivatePcscd::Reader1}, dir, {}, environment);
    EXPECT_EQ(empty.exitCode, 1);
    EXPECT_TRUE(Contains(empty.out, "Ошибка (CardReaderDriverError). Card not inserted\n")) << empty.out;
    // The reader goes before the PC/SC interface it calls, on the error path too:
    // nothing on standard error ("pure virtual method called", or a sanitizer's report).
    EXPECT_EQ(empty.err, "");
    // A name PC/SC does not know is reported with PC/SC's own text.
    const QxwRun unknown = RunQxw({"-reader=Virtual PCD 00 07"}, dir, {}, environment);
    EXPECT_EQ(unknown.exitCode, 1);
    EXPECT_TRUE(Contains(unknown.out,
                         "Ошибка (CardReaderDriverError). PCSC Driver error (func: SCardGetStatusChange:, code: "
                         "80100009, , msg: Unknown reader specified.)\n"))
        << unknown.out;
    EXPECT_FALSE(Contains(unknown.out, "Card not inserted"));
    EXPECT_EQ(unknown.err, "");
    // Leaving from the reader menu while the first group holds a PC/SC reader:
    // the second group finds no free reader with a card and the user quits.
    const QxwRun quit = RunQxw({std::string("-reader=") + test::PrivatePcscd::Reader0, "-reader2=#PCSC", "-f=0"}, dir,
                               {.input = "q"}, environment);
    EXPECT_EQ(quit.exitCode, 0) << quit.out << quit.err;
    EXPECT_TRUE(Contains(quit.out, "Вставьте карту и нажмите Enter. q - выход\n")) << quit.out;
    EXPECT_EQ(quit.err, "");
    // The group's transport protocols reach the connection: the card offers T=1 alone.
    const QxwRun t0 = RunQxw({std::string("-reader=") + test::PrivatePcscd::Reader0, "-t=T0"}, dir, {}, environment);
    EXPECT_EQ(t0.exitCode, 1);
    EXPECT_TRUE(Contains(t0.out, "Card protocol mismatch.")) << t0.out;
}

// A reader named in qxw.ini with ESC and C1 controls: the reader table and the
// reader-name prefix show it escaped, and PC/SC is asked for it as written.
TEST_F(QxwOverPcsc, ReaderNameFromTheSettingsFileIsShownEscaped) {
    const std::string dir = test::TestDir();
    std::ofstream(dir + "qxw.ini", std::ios::binary) << "reader = USB \x1B[2J\xC2\x9B"
                                                        "31m 00 00\n";
    const std::map<std::string, std::string> environment = {{"PCSCLITE_CSOCK_NAME", Pcscd().SocketPath()}};
    const QxwRun run = RunQxw({"-output_reader_name=1"}, dir, {}, environment);
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_TRUE(Contains(run.out, "| Reader : USB \\x1B[2J\\xC2\\x9B31m 00 00 |\n")) << run.out;
    EXPECT_TRUE(Contains(run.out, "[Reader: USB \\x1B[2J\\xC2\\x9B31m 00 00]Power on\n")) << run.out;
    EXPECT_TRUE(Contains(run.out, "msg: Unknown reader specified.)")) << run.out;
    EXPECT_FALSE(Contains(run.out, "\xC2\x9B") || Contains(run.out, "\x1B"));
}

// At the reader menu on a pseudo-terminal of its own (a network reader beside
// the simulated card makes the menu wait for a key), a signal that ends the run
// leaves the terminal's mode as the run found it.
TEST_F(Qxw, SignalAtTheReaderMenuEndsTheRunWithTheTerminalModeBack) {
    test::DerimServer server([](const test::DerimServer::Request&) { return Binary(); });
    const QxwCommand command({"-reader=#?", "-f=0", "-derimdirect_port=" + std::to_string(server.Port())});
    const struct {
        int signal;
        const char* key;  // typed on the terminal; none: sent by kill to the process id
    } cases[] = {{SIGINT, "\x03"}, {SIGTERM, nullptr}, {SIGHUP, nullptr}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.signal);
        int master = -1, terminal = -1;
        ASSERT_EQ(::openpty(&master, &terminal, nullptr, nullptr, nullptr), 0);
        termios before{}, mode{};
        ASSERT_EQ(::tcgetattr(terminal, &before), 0);
        const pid_t pid = ::fork();
        if (pid == 0) {
            // A session leader, in front of the pseudo-terminal it controls.
            if (::setsid() < 0 || ::ioctl(terminal, TIOCSCTTY, 0) != 0 || ::chdir(m_dir.c_str()) != 0) ::_exit(125);
            for (const int signal : {SIGINT, SIGTERM, SIGHUP}) ::signal(signal, SIG_DFL);
            for (int fd = 0; fd < 3; ++fd) ::dup2(terminal, fd);
            command.Exec();
        }
        ASSERT_GT(pid, 0);
        // Until the menu is shown and the key mode is on: no line mode, no echo.
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        std::string shown;
        while (std::chrono::steady_clock::now() < deadline &&
               (!Contains(shown, "Интерактивный выбор") ||
                (::tcgetattr(terminal, &mode), mode.c_lflag & (ICANON | ECHO)) != 0)) {
            pollfd output{master, POLLIN, 0};
            char buffer[512];
            const ssize_t count = ::poll(&output, 1, 20) > 0 ? ::read(master, buffer, sizeof buffer) : 0;
            if (count > 0) shown.append(buffer, static_cast<size_t>(count));
        }
        EXPECT_EQ(mode.c_lflag & (ICANON | ECHO), 0u) << shown;
        if (c.key != nullptr) {
            EXPECT_EQ(::write(master, c.key, 1), 1);
        } else {
            ::kill(pid, c.signal);
        }
        const int status = test::WaitForChild(pid, deadline).status;
        EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == c.signal) << status;
        termios after{};
        ASSERT_EQ(::tcgetattr(terminal, &after), 0);
        EXPECT_TRUE(after.c_iflag == before.c_iflag && after.c_oflag == before.c_oflag &&
                    after.c_cflag == before.c_cflag && after.c_lflag == before.c_lflag &&
                    std::ranges::equal(after.c_cc, before.c_cc));
        ::close(master);
        ::close(terminal);
    }
}

}  // namespace
}  // namespace ZORVIK
