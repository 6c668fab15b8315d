#include "service/common/printf.h"

#include <cstdio>

#include "service/common/exception.h"

namespace ZORVIK {

namespace {
constexpr char kBadFormat[] = "Некорректный формат вывода в строку!";
constexpr char kFormatFailed[] = "Ошибка форматированного вывода в строку!";
}  // namespace

std::string SafePrintf(const char* format, ...) {
    if (format == nullptr) throw Exception(kBadFormat, ZORVIK_PLACE("ZORVIK::SafePrintf"));
    va_list args;
    va_start(args, format);
    try {
        std::string text = VSafePrintf(format, args);
        va_end(args);
        return text;
    } catch (...) {
        va_end(args);
        throw;
    }
}

std::string VSafePrintf(const char* format, va_list args) {
    const SourcePlace place = ZORVIK_PLACE("ZORVIK::VSafePrintf");
    if (format == nullptr) throw Exception(kBadFormat, place);
    va_list measure;
    va_copy(measure, args);
    const int count = std::vsnprintf(nullptr, 0, format, measure);
    va_end(measure);
    if (count < 0) throw Exception(kFormatFailed, place);
    if (count == 0) return std::string();
    std::string text(static_cast<size_t>(count), '\0');
    va_list fill;
    va_copy(fill, args);
    const int written = std::vsnprintf(text.data(), text.size() + 1, format, fill);
    va_end(fill);
    if (written <= 0) throw Exception(kFormatFailed, place);
    return text;
}

}  // namespace ZORVIK
