// The process-wide log handle of the framework and the free log functions that
// write through it (the head of the log chain, set when the framework builds
// its logs).
#pragma once

#include <cstdint>
#include <memory>
#include <string>

namespace ZORVIK {

class iLog;

// Empty until the framework has built its logs.
extern std::shared_ptr<iLog> g_frameworkLog;

// Each writes one record with the text's control bytes escaped (EscapeControlBytes).
// Level 6, line end appended.
void Warning(const std::string& text);
// Level 3, line end as the caller says; a null text reads as empty.
void Write(const std::string& text, bool newline);
void Write(const char* text, bool newline);
// The given level, printf-formatted (SafePrintf rules), line end appended.
void __do_write(int32_t level, const char* format, ...) __attribute__((format(printf, 2, 3)));

}  // namespace ZORVIK
