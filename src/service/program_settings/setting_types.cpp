#include "service/program_settings/setting_types.h"

#include <algorithm>

#include "service/common/binary.h"
#include "service/common/exception.h"
#include "service/common/utilities.h"

namespace ZORVIK {

bool IntTypeInfo::IsValid(const std::string& text) const {
    if (!std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; })) return false;
    if (!m_ranged) return true;
    // Saturate instead of overflowing: any value past the int32 range is out of every range.
    int64_t value = 0;
    for (char c : text) {
        value = std::min<int64_t>(value * 10 + (c - '0'), int64_t{INT32_MAX} + 1);
    }
    return m_min <= value && value <= m_max;
}

std::string IntTypeInfo::TypeName() const {
    return m_ranged ? std::to_string(m_min) + ".." + std::to_string(m_max) : "int";
}

bool BoolTypeInfo::IsValid(const std::string& text) const {
    static const char* const kAccepted[] = {"", "on", "yes", "1", "true", "off", "no", "0", "false"};
    const std::string lower = ToLower(text);
    return std::any_of(std::begin(kAccepted), std::end(kAccepted), [&](const char* word) { return lower == word; });
}

EnumTypeInfo::EnumTypeInfo(std::vector<std::string> values) : m_values(std::move(values)) {
    ZORVIK_CHECK("ZORVIK::EnumTypeInfo::EnumTypeInfo", !m_values.empty(),
                 "для перечисления должно быть задано хотя бы одно возможное значение");
}

bool EnumTypeInfo::IsValid(const std::string& text) const {
    return std::find(m_values.begin(), m_values.end(), text) != m_values.end();
}

std::string EnumTypeInfo::TypeName() const {
    std::string name = m_values.front();
    for (size_t i = 1; i < m_values.size(); ++i) name += "|" + m_values[i];
    return name;
}

bool BinaryTypeInfo::IsValid(const std::string& text) const {
    binary::Binary bytes;
    try {
        bytes = binary::Binary(text);
    } catch (const Exception&) {
        return false;
    }
    return !m_ranged || (m_min <= bytes.size() && bytes.size() <= m_max);
}

std::string BinaryTypeInfo::TypeName() const {
    if (!m_ranged) return "bin";
    if (m_min == m_max) return "bin (" + std::to_string(m_min) + " bytes)";
    return "bin(" + std::to_string(m_min) + "-" + std::to_string(m_max) + " bytes)";
}

}  // namespace ZORVIK
