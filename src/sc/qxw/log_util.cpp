#include "sc/qxw/log_util.h"

#include <cstdarg>

#include "service/common/exception.h"
#include "service/common/printf.h"
#include "service/common/utilities.h"
#include "service/log/log.h"

namespace ZORVIK {

std::shared_ptr<iLog> g_frameworkLog;

namespace {

constexpr int32_t WarningLevel = 6;
constexpr int32_t WriteLevel = 3;

void WriteToFramework(int32_t level, std::string text, bool newline) {
    if (!g_frameworkLog)
        throw Exception("Библиотека QXW не инициализирована.", ZORVIK_PLACE("ZORVIK::WriteToFramework"));
    // Scripts write what cards and files hold through these functions.
    g_frameworkLog->WriteRec(
        LogRecord(std::string(), level, LevelColour(level), EscapeControlBytes(std::move(text)), newline));
}

}  // namespace

void Warning(const std::string& text) { WriteToFramework(WarningLevel, text, true); }

void Write(const std::string& text, bool newline) { WriteToFramework(WriteLevel, text, newline); }

void Write(const char* text, bool newline) { WriteToFramework(WriteLevel, text ? text : "", newline); }

void __do_write(int32_t level, const char* format, ...) {
    va_list args;
    va_start(args, format);
    std::string text;
    try {
        text = VSafePrintf(format, args);
    } catch (...) {
        va_end(args);
        throw;
    }
    va_end(args);
    WriteToFramework(level, std::move(text), true);
}

}  // namespace ZORVIK
