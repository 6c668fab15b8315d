// qxw as a user runs it: the built program started in a directory of its own,
// with settings from QXW_CONFIG, qxw.ini and the command line.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "apps/qxw_process.h"
#include "service/common/binary.h"
#include "support/derim_server.h"
#include "support/serial_reader_emulator.h"

namespace ZORVIK {
namespace {

using binary::Binary;
using test::Contains;
using test::QxwRun;
using test::ReadFile;
using test::RunQxw;

constexpr char SimulatedCardAtr[] = "ATR: 3B D8 18 00 81 31 FE 45 5A 4F 52 56 49 4B 4F 53 C4\n";
constexpr uint32_t EepromImageSize = 0x12000;

class Qxw : public ::testing::Test {
protected:
    Qxw() {
        std::filesystem::remove_all(m_dir);
        std::filesystem::create_directories(m_dir);
    }
    ~Qxw() override { std::filesystem::remove_all(m_dir); }

    void WriteFile(const std::string& name, const std::string& text) const {
        std::ofstream(m_dir + name, std::ios::binary) << text;
    }
    std::string File(const std::string& name) const { return ReadFile(m_dir + name); }
    bool Exists(const std::string& name) const { return std::filesystem::exists(m_dir + name); }

    const std::string m_dir = ::testing::TempDir() + "qxw_" + std::to_string(::getpid()) + "_" +
                              ::testing::UnitTest::GetInstance()->current_test_info()->name() + "/";
};

TEST_F(Qxw, HelpListsEveryDeclaredSetting) {
    const QxwRun run = RunQxw({"-h"}, m_dir);
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_EQ(run.out, ReadFile(std::string(ZORVIK_TEST_DATA_DIR) + "/qxw/help.txt"));
    EXPECT_EQ(run.err, "");
    EXPECT_FALSE(Exists("qxw.log"));
}

TEST_F(Qxw, SimulatedCardByDefaultWithTheApduLogOfTheSession) {
    const QxwRun run = RunQxw({"-af=gp"}, m_dir);
    ASSERT_EQ(run.exitCode, 0) << run.out << run.err;
    EXPECT_TRUE(Contains(run.out, "+---------------+\n| Reader : #OSM |\n+---------------+\n")) << run.out;
    EXPECT_TRUE(Contains(run.out, "Power on\n" + std::string(SimulatedCardAtr)));
    EXPECT_TRUE(Contains(run.out, "Power off\n"));
    EXPECT_LT(run.out.find("Power on"), run.out.find("Power off"));
    EXPECT_EQ(run.err, "");
    // The file log carries the same records, under the program's name.
    const std::string log = File("qxw.log");
    EXPECT_TRUE(Contains(log, "Current time: "));
    EXPECT_TRUE(Contains(log, SimulatedCardAtr));
    EXPECT_TRUE(Exists("gp.log"));
}

TEST_F(Qxw, PowerSettingsAreHonouredAndLevelEightIsSilent) {
    QxwRun run = RunQxw({"-p=0", "-o=0"}, m_dir);
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_FALSE(Contains(run.out, "Power on"));
    EXPECT_FALSE(Contains(run.out, "Power off"));
    std::filesystem::remove(m_dir + "qxw.log");
    run = RunQxw({"-l=8"}, m_dir);
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_EQ(run.out, "");
    EXPECT_FALSE(Exists("qxw.log"));
}

TEST_F(Qxw, SettingsSourcesApplyInOrderEnvironmentFileCommandLine) {
    const std::map<std::string, std::string> environment = {
        {"QXW_CONFIG", "-log_name=from_env -af=skarna -an=env_apdu.log"}};
    // The environment alone.
    EXPECT_EQ(RunQxw({}, m_dir, environment).exitCode, 0);
    EXPECT_TRUE(Exists("from_env.log"));
    EXPECT_TRUE(Exists("env_apdu.log"));

    // The settings file overrides the environment.
    WriteFile("qxw.ini", "log_name = from_ini\n");
    EXPECT_EQ(RunQxw({}, m_dir, environment).exitCode, 0);
    EXPECT_TRUE(Exists("from_ini.log"));

    // The command line overrides both.
    EXPECT_EQ(RunQxw({"-log_name=from_cli"}, m_dir, environment).exitCode, 0);
    EXPECT_TRUE(Exists("from_cli.log"));
}

// No logs exist yet, so these errors go to standard error.
TEST_F(Qxw, SettingsErrorsEndWithCodeOne) {
    QxwRun run = RunQxw({"-l=9"}, m_dir);
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_TRUE(Contains(run.err, "Значение настройки \"log_level = 9\" не удовлетворяет заданным для нее условиям: 1..8"))
        << run.err;
    WriteFile("qxw.ini", "log_level = 5\nthis line has no operator\n");
    run = RunQxw({}, m_dir);
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_TRUE(Contains(run.err, "Файл: \"qxw.ini\" Строка: 2;")) << run.err;
    EXPECT_EQ(run.out, "");
}

TEST_F(Qxw, ErrorAfterTheLogsExistGoesThroughTheLog) {
    const QxwRun run = RunQxw({"-reader=#JCD_OSM"}, m_dir);
    EXPECT_EQ(run.exitCode, 1);
    const std::string message = "Ошибка (CardReaderDriverError). Can't create OS model with JC debug facility\n";
    EXPECT_TRUE(Contains(run.out, message)) << run.out;
    EXPECT_TRUE(Contains(File("qxw.log"), message));
    EXPECT_EQ(run.err, "");
}

TEST_F(Qxw, ErrorThatNoConsoleLogShowsGoesToStandardError) {
    const std::string message = "Ошибка (CardReaderDriverError). Can't create OS model with JC debug facility\n";
    // Level 8 and both logs off keep the record from every sink; a console
    // switched off leaves it in the file only, out of the user's sight.
    for (const std::vector<std::string>& args : {std::vector<std::string>{"-l=8", "-reader=#JCD_OSM"},
                                                 std::vector<std::string>{"-c=0", "-f=0", "-reader=#JCD_OSM"},
                                                 std::vector<std::string>{"-c=0", "-reader=#JCD_OSM"}}) {
        const QxwRun run = RunQxw(args, m_dir);
        EXPECT_EQ(run.exitCode, 1);
        EXPECT_EQ(run.err, message) << args[0];
        EXPECT_EQ(run.out, "") << args[0];
    }
    EXPECT_TRUE(Contains(File("qxw.log"), message));
}

TEST_F(Qxw, ScriptsAreRefusedWithAClearError) {
    for (const std::vector<std::string>& args :
         {std::vector<std::string>{"test.skarna"}, std::vector<std::string>{"-script=test.skarna"}}) {
        const QxwRun run = RunQxw(args, m_dir);
        EXPECT_EQ(run.exitCode, 1);
        EXPECT_TRUE(Contains(run.err, "test.skarna")) << run.err;
        EXPECT_TRUE(Contains(run.err, "скриптовая консоль")) << run.err;
        EXPECT_FALSE(Exists("qxw.log"));
    }
}

TEST_F(Qxw, EepromImageSavedWithEsAndLoadedWithEl) {
    // A recognisable image: every byte differs from the erased value FF.
    std::string image(EepromImageSize, '\0');
    for (size_t i = 0; i < image.size(); ++i)
        image[i] = static_cast<char>(i * 7 % 251);
    WriteFile("in.bin", image);

    QxwRun run = RunQxw({"-EL=in.bin", "-ES=out.bin"}, m_dir);
    ASSERT_EQ(run.exitCode, 0) << run.out << run.err;
    EXPECT_EQ(File("out.bin"), image);

    // A fresh card saved as it is: the erased image, which loads again.
    run = RunQxw({"-ES=erased.bin"}, m_dir);
    ASSERT_EQ(run.exitCode, 0);
    EXPECT_EQ(File("erased.bin"), std::string(EepromImageSize, '\xFF'));
    run = RunQxw({"-EL=erased.bin"}, m_dir);
    EXPECT_EQ(run.exitCode, 0);

    WriteFile("short.bin", std::string(100, '\0'));  // the wrong size
    run = RunQxw({"-EL=short.bin"}, m_dir);
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_TRUE(Contains(run.out, "short.bin")) << run.out;
}

TEST_F(Qxw, NetworkReaderNamedOnTheCommandLine) {
    test::DerimServer server(test::DerimServer::Card(Binary("3B 02 14 50"), [](const Binary&) { return Binary("9000"); }));
    const QxwRun run = RunQxw({"-reader=#DERIMDIRECT", "-derimdirect_port=" + std::to_string(server.Port())}, m_dir);
    ASSERT_EQ(run.exitCode, 0) << run.out << run.err;
    EXPECT_TRUE(Contains(run.out, "| Reader : #DERIMDIRECT |"));
    EXPECT_TRUE(Contains(run.out, "ATR: 3B 02 14 50\n"));
    ASSERT_EQ(server.Requests().size(), 2u);
    EXPECT_EQ(server.Requests()[0].type, 0);  // power on
    EXPECT_EQ(server.Requests()[1].type, 2);  // power off
}

TEST_F(Qxw, SerialReaderOnThePortOfVport) {
    test::SerialReaderEmulator device([](const CApdu&) { return RApdu(Binary("9000")); },
                                      {.atr = Binary("3B 02 14 50")});
    const QxwRun run = RunQxw({"-reader=#SIM", "-VPORT=" + device.PortPath()}, m_dir);
    ASSERT_EQ(run.exitCode, 0) << run.out << run.err;
    EXPECT_TRUE(Contains(run.out, "| Reader : #SIM |"));
    EXPECT_TRUE(Contains(run.out, "ATR: 3B 02 14 50\n")) << run.out;
}

// With the simulated card and a network server, "#?" has two candidates.
TEST_F(Qxw, ReaderMenuOnTheTerminal) {
    test::DerimServer server(test::DerimServer::Card(Binary("3B 02 14 50"), [](const Binary&) { return Binary("9000"); }));
    const std::string port = "-derimdirect_port=" + std::to_string(server.Port());
    const QxwRun run = RunQxw({"-reader=#?", "-disable_user_input=1", port}, m_dir);
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_TRUE(Contains(run.out, "Подключено более одной считки")) << run.out;
    {
        test::QxwOnTerminal quitting({"-reader=#?", "-f=0", port}, m_dir);
        ASSERT_TRUE(quitting.WaitFor("q - выход")) << quitting.Screen();
        quitting.Type("q");
        EXPECT_EQ(quitting.Finish(), 0);
        EXPECT_FALSE(Contains(quitting.Screen(), "Power on"));
        EXPECT_TRUE(server.Requests().empty());
    }

    test::QxwOnTerminal qxw({"-reader=#?", "-f=0", port}, m_dir);
    ASSERT_TRUE(qxw.Started());
    ASSERT_TRUE(qxw.WaitFor("r - обновить список, q - выход")) << qxw.Screen();
    EXPECT_TRUE(Contains(qxw.Screen(), "Интерактивный выбор \"reader\" из списка доступных:"));
    EXPECT_TRUE(Contains(qxw.Screen(), "m - OSM"));
    EXPECT_TRUE(Contains(qxw.Screen(), "v - Derim Direct"));
    // Keys outside the menu are ignored; v takes the network reader.
    qxw.Type("xM9v");
    EXPECT_EQ(qxw.Finish(), 0) << qxw.Screen();
    EXPECT_TRUE(Contains(qxw.Screen(), "Выбран reader = #DERIMDIRECT"));
    EXPECT_TRUE(Contains(qxw.Screen(), "ATR: 3B 02 14 50"));
}

}  // namespace
}  // namespace ZORVIK
