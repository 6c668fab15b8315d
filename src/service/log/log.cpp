#include "service/log/log.h"

#include <algorithm>
#include <array>
#include <cstdarg>

#include "service/common/exception.h"
#include "service/common/printf.h"
#include "service/common/utilities.h"

namespace ZORVIK {

namespace {

// 1 bright cyan, 2 cyan, 3 and 4 grey, 5 bright white, 6 bright yellow,
// 7 bright red, 8 grey.
constexpr std::array<int32_t, 9> LevelColours = {0x00, 0x0B, 0x03, 0x07, 0x07, 0x0F, 0x0E, 0x0C, 0x07};
constexpr int32_t Grey = 0x07;
constexpr int32_t PlainLevel = 3;

std::string WithLineEnd(std::string text, bool newline) {
    if (newline) text += '\n';
    return text;
}

void VLogPrintf(iLog* log, int32_t level, int32_t colour, const char* format, va_list args) {
    ZORVIK_CHECK("ZORVIK::LogPrintf", log != nullptr, "Log is not given");
    // The arguments carry texts of cards, devices and peers; their control bytes
    // must not reach the terminal. The formats themselves hold none but LF and tab.
    log->WriteRec(LogRecord(std::string(), level, colour, EscapeControlBytes(VSafePrintf(format, args)), true));
}

}  // namespace

int32_t LevelColour(int32_t level) {
    if (level < 0 || level >= static_cast<int32_t>(LevelColours.size())) return Grey;
    return LevelColours[static_cast<size_t>(level)];
}

LogRecord::LogRecord(std::string source, int32_t level, int32_t colour, std::string text, bool newline)
    : level(level), source(std::move(source)), colour(colour), text(WithLineEnd(std::move(text), newline)) {}

LogRecord::LogRecord(int32_t level, std::string text, bool newline)
    : LogRecord(std::string(), level, LevelColour(level), std::move(text), newline) {}

LogRecord::LogRecord(LogColour colour, std::string text, bool newline)
    : LogRecord(std::string(), PlainLevel, colour.value, std::move(text), newline) {}

void iLog::Write(const char* text, int32_t colour, bool newline) {
    // Callers hand texts of their own (printer names, dumps) and of others alike;
    // as in LogPrintf, no control byte of them reaches the terminal.
    WriteRec(LogRecord(LogColour{colour}, EscapeControlBytes(text ? text : ""), newline));
}

void LogPrintf(iLog* log, int32_t level, const char* format, ...) {
    va_list args;
    va_start(args, format);
    try {
        VLogPrintf(log, level, LevelColour(level), format, args);
    } catch (...) {
        va_end(args);
        throw;
    }
    va_end(args);
}

void LogPrintfColour(iLog* log, int32_t level, int32_t colour, const char* format, ...) {
    va_list args;
    va_start(args, format);
    try {
        VLogPrintf(log, level, colour, format, args);
    } catch (...) {
        va_end(args);
        throw;
    }
    va_end(args);
}

LogFilter::LogFilter(std::shared_ptr<iLog> next) : m_next(std::move(next)) {}

void LogFilter::WriteRec(const LogRecord& record) { PassOn(record); }

int32_t LogFilter::GetImportance() { return 1; }

std::shared_ptr<iLog> LogFilter::GetNext() { return m_next; }

void LogFilter::PassOn(const LogRecord& record) {
    if (m_next) m_next->WriteRec(record);
}

ImportanceFilter::ImportanceFilter(int32_t level, std::shared_ptr<iLog> next)
    : LogFilter(std::move(next)), m_level(level) {}

void ImportanceFilter::WriteRec(const LogRecord& record) {
    if (record.level >= m_level) PassOn(record);
}

int32_t ImportanceFilter::GetImportance() {
    const std::shared_ptr<iLog> next = GetNext();
    return std::max(m_level, next ? next->GetImportance() : 1);
}

void ImportanceFilter::SetLevel(int32_t level) { m_level = level; }

}  // namespace ZORVIK
