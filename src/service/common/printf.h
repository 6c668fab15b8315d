// printf into a std::string.
#pragma once

#include <cstdarg>
#include <string>

namespace ZORVIK {

std::string SafePrintf(const char* format, ...) __attribute__((format(printf, 1, 2)));
std::string VSafePrintf(const char* format, va_list args) __attribute__((format(printf, 1, 0)));

}  // namespace ZORVIK
