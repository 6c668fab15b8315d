#include "service/program_settings/settings_database.h"

#include <algorithm>
#include <sstream>

#include "service/common/exception.h"
#include "service/common/utilities.h"

namespace ZORVIK {

namespace {

constexpr char kEmptyTextPrefix[] = "Попытка интерпретировать пустую строку как тип ";

// Stream extraction into a scratch value, so that a text holding no number, or
// a number out of range, leaves the caller's target as it was.
template <class T>
void ParseNumber(const std::string& text, T& out, const char* typeName, const char* function) {
    if (text.empty()) {
        throw Exception(std::string(kEmptyTextPrefix) + typeName, ZORVIK_PLACE(function));
    }
    std::istringstream stream(text);
    T value{};
    if (stream >> value) out = value;
}

bool IsListOfQuotedItems(const std::string& text) {
    if (text.find(',') == std::string::npos) return false;
    // Split as ParseStringList splits.
    std::vector<std::string> items;
    Split(text, items, ',', true, false, true);
    return items.size() >= 2 && std::all_of(items.begin(), items.end(), [](const std::string& item) {
               return item.size() >= 2 && (item.front() == '\'' || item.front() == '"') && item.back() == item.front();
           });
}

}  // namespace

template <>
void Parse<bool>(const std::string& text, bool& out) {
    const std::string lower = ToLower(text);
    if (lower.empty() || lower == "on" || lower == "yes" || lower == "1" || lower == "true") {
        out = true;
    } else if (lower == "off" || lower == "no" || lower == "0" || lower == "false") {
        out = false;
    } else {
        throw Exception("'" + lower + "' doesn't look like a bool value.", ZORVIK_PLACE("ZORVIK::Parse"));
    }
}

template <>
void Parse<int32_t>(const std::string& text, int32_t& out) {
    ParseNumber(text, out, "int", "ZORVIK::Parse<int>");
}

template <>
void Parse<uint32_t>(const std::string& text, uint32_t& out) {
    ParseNumber(text, out, "unsigned int", "ZORVIK::Parse<unsigned>");
}

template <>
void Parse<binary::Binary>(const std::string& text, binary::Binary& out) {
    if (text.empty()) {
        throw Exception(std::string(kEmptyTextPrefix) + "ZORVIK::binary::Binary",
                        ZORVIK_PLACE("ZORVIK::Parse<Binary>"));
    }
    std::istringstream stream(text);
    binary::Binary value;
    stream >> value;
    out = std::move(value);
}

void Unquote(const std::string& text, std::string& out) {
    if (!text.empty()) {
        const char first = text.front();
        if ((first == '\'' || first == '"') && text.back() == first) {
            // One quote character alone is both ends of the pair.
            out = text.size() == 1 ? std::string() : text.substr(1, text.size() - 2);
            return;
        }
    }
    out = text;
}

void ParseStringList(const std::string& text, std::vector<std::string>& out) {
    std::vector<std::string> items;
    Split(text, items, ',', true, false, true);
    for (const std::string& item : items) {
        std::string unquoted;
        Unquote(item, unquoted);
        out.push_back(std::move(unquoted));
    }
}

void SettingsDatabase::AddSetting(const std::string& key, const std::string& value, SettingOperation operation) {
    const std::string lowerKey = ToLower(key);
    switch (operation) {
        case Set: m_settings[lowerKey] = value; break;
        case Append: {
            auto [position, inserted] = m_settings.try_emplace(lowerKey, value);
            if (!inserted) position->second += "," + value;
            break;
        }
        case SetNew:
            if (m_settings.count(lowerKey) != 0) {
                throw Exception("Попытка перекрыть уже заданную настройку \"" + key + "\" с помощью оператора !=",
                                ZORVIK_PLACE("ZORVIK::SettingsDatabase::AddSetting"));
            }
            m_settings.emplace(lowerKey, value);
            break;
        case SetIfAbsent: m_settings.try_emplace(lowerKey, value); break;
        default: break;
    }
}

bool SettingsDatabase::Remove(const std::string& key) { return m_settings.erase(ToLower(key)) != 0; }

bool SettingsDatabase::Has(const std::string& key) const { return Find(key) != nullptr; }

SettingsDatabase::Pairs SettingsDatabase::GetGroup(const std::string& prefix) const {
    const std::string lowerPrefix = ToLower(prefix);
    Pairs pairs;
    // Keys sharing a prefix form one run that starts at the first key not less than it.
    for (auto it = m_settings.lower_bound(lowerPrefix);
         it != m_settings.end() && it->first.compare(0, lowerPrefix.size(), lowerPrefix) == 0; ++it) {
        pairs.emplace_back(it->first, it->second);
    }
    return pairs;
}

bool SettingsDatabase::HasGroup(const std::string& prefix) const {
    const std::string lowerPrefix = ToLower(prefix);
    const auto it = m_settings.lower_bound(lowerPrefix);
    return it != m_settings.end() && it->first.compare(0, lowerPrefix.size(), lowerPrefix) == 0;
}

void SettingsDatabase::Convert(const std::string& value, std::string& out) {
    // A list such as 'T0', 'T1' keeps the quotes of its items for the list read:
    // taking its two ends off as one pair would leave the items T0' and 'T1.
    if (IsListOfQuotedItems(value)) {
        out = value;
    } else {
        Unquote(value, out);
    }
}

const std::string* SettingsDatabase::Find(const std::string& key) const {
    const auto it = m_settings.find(ToLower(key));
    return it == m_settings.end() ? nullptr : &it->second;
}

const std::string& SettingsDatabase::MandatoryValue(const std::string& key) const {
    const std::string* value = Find(key);
    if (value == nullptr) {
        throw Exception("Не задана обязательная настройка \"" + ToLower(key) + "\"",
                        ZORVIK_PLACE("ZORVIK::SettingsDatabase::GetMandatory"));
    }
    return *value;
}

std::string SettingsDatabase::GetString(const std::string& key) const { return GetOr<std::string>(key, ""); }

bool SettingsDatabase::GetStringOr(const std::string& key, std::string& out, const std::string& defaultValue) const {
    return Get(key, out, defaultValue);
}

int32_t SettingsDatabase::GetInt(const std::string& key) const { return GetOr<int32_t>(key, 0); }

bool SettingsDatabase::GetBool(const std::string& key) const { return GetOr<bool>(key, false); }

bool SettingsDatabase::GetBoolOr(const std::string& key, bool defaultValue) const {
    return GetOr<bool>(key, defaultValue);
}

binary::Binary SettingsDatabase::GetBinary(const std::string& key) const {
    return GetOr<binary::Binary>(key, binary::Binary());
}

bool SettingsDatabase::GetList(const std::string& key, std::vector<std::string>& out,
                               std::vector<std::string> defaultValue) const {
    if (Get(key, out)) return true;
    out = std::move(defaultValue);
    return false;
}

}  // namespace ZORVIK
