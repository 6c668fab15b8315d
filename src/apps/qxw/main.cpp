// qxw: the start-up of the card toolkit as far as this build reaches. It reads
// the settings (QXW_CONFIG, qxw.ini, the command line), starts the framework
// with its logs and card services (the built-in simulated card unless a reader
// is named), powers the card on and finishes again.
#include <clocale>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <string>
#include <vector>

#include "sc/qxw/framework.h"
#include "sc/qxw/log_util.h"
#include "service/common/exception.h"
#include "service/log/log.h"
#include "service/program_settings/setting_descriptions.h"
#include "service/program_settings/settings_database.h"
#include "service/program_settings/settings_sources.h"

namespace {

constexpr int32_t ErrorLevel = 7;

void PrintHelp() {
    ZORVIK::SettingsDescriptions descriptions;
    ZORVIK::PrintSettingsHelp(descriptions);
    std::string text;
    ZORVIK::Serialize(descriptions, text);
    std::fputs(text.c_str(), stdout);
}

// Scripts run in the script console, which this program does not carry.
void RefuseScripts(const ZORVIK::SettingsDatabase& settings) {
    std::vector<std::string> words;
    settings.GetList(ZORVIK::kPositionalSetting, words, {});
    std::string script;
    settings.GetStringOr("script", script, "");
    if (words.empty() && !settings.Has("script")) return;
    const std::string named = words.empty() ? script : words.front();
    throw ZORVIK::Exception("Запуск скриптов (\"" + named +
                                "\") выполняет скриптовая консоль, которая не входит в эту сборку; "
                                "qxw принимает только настройки вида -имя=значение",
                            ZORVIK_PLACE("main"));
}

void ReportError(const std::string& text) {
    bool onScreen = false;
    if (ZORVIK::g_frameworkLog) {
        try {
            ZORVIK::__do_write(ErrorLevel, "%s", text.c_str());
            // Level 8, a console log switched off or a console without a reader
            // keeps the record off the screen: an error that ends the program
            // must reach the user anyway.
            const auto* console = dynamic_cast<const ZORVIK::ConsLog*>(ZORVIK::GetFramework().GetLog().get());
            onScreen =
                console != nullptr && console->HasConsole() && ZORVIK::g_frameworkLog->GetImportance() <= ErrorLevel;
        } catch (...) {
            // The log itself failed: standard error is the last place left.
        }
    }
    if (!onScreen) std::fprintf(stderr, "%s\n", text.c_str());
}

int Run(int argc, char** argv) {
    if (argc == 2 && std::string(argv[1]) == "-h") {
        PrintHelp();
        return 0;
    }
    ZORVIK::SettingsDatabase settings;
    ZORVIK::AddStringSettings(std::getenv("QXW_CONFIG"), settings);
    ZORVIK::AddFileSettings("qxw.ini", settings, "", false);
    ZORVIK::AddCommandLineSettings(argc, argv, settings, false);
    // The user's reader is kept; the built-in simulated card is the default.
    settings.AddSetting("reader", "#OSM", ZORVIK::SetIfAbsent);
    RefuseScripts(settings);

    ZORVIK::InitFramework(settings);
    ZORVIK::FinishFramework();
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    // A reader of the output that goes away (qxw | head) must not end the run
    // before the EEPROM image and the logs are written: writes to it fail with
    // EPIPE instead, and the console log falls silent.
    std::signal(SIGPIPE, SIG_IGN);
    std::setlocale(LC_ALL, "");
    try {
        return Run(argc, argv);
    } catch (const ZORVIK::Exception& error) {
        ReportError(error.FullMessage());
    } catch (const std::exception& error) {
        ReportError(error.what());
    }
    // Card services that a failed run leaves behind go now, while the
    // process-wide objects their readers use are alive: those made after the
    // framework (the PC/SC interface, for one) are destroyed before it at exit.
    ZORVIK::GetFramework().ReleaseCardServices();
    return 1;
}
