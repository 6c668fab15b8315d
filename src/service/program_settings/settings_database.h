// The one configuration store of the toolkit: a case-insensitive, ordered map
// of setting names to text values. Every source writes text into it; the typed
// reads interpret that text only at the moment of reading.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "service/common/binary.h"

namespace ZORVIK {

// How AddSetting treats a key that is already present; the values are those
// the settings files write as "=", "+=", "!=" and "?=".
enum SettingOperation : int32_t {
    Set = 0,          // insert or replace
    Append = 1,       // old value + "," + new value
    SetNew = 2,       // refuse to replace a present key
    SetIfAbsent = 3,  // keep a present key silently
};

// Conversions of stored text, shared by the typed reads and the validator.
// Numbers and byte strings: an empty text is an error; otherwise the text is
// read by stream extraction, so "42abc" gives 42, and a text holding no number
// (or one that does not fit) leaves out unchanged.
template <class T>
void Parse(const std::string& text, T& out);
// Bool: empty, "on", "yes", "1", "true" / "off", "no", "0", "false", compared
// after lower-casing and nothing else; any other text is an error.
template <>
void Parse<bool>(const std::string& text, bool& out);
template <>
void Parse<int32_t>(const std::string& text, int32_t& out);
template <>
void Parse<uint32_t>(const std::string& text, uint32_t& out);
template <>
void Parse<binary::Binary>(const std::string& text, binary::Binary& out);

// Removes one pair of enclosing quotes, both "'" or both '"'.
void Unquote(const std::string& text, std::string& out);
// Appends the comma-separated items of text to out, each trimmed and unquoted;
// nothing at all between two commas gives no item, blanks give an empty one.
void ParseStringList(const std::string& text, std::vector<std::string>& out);

class SettingsDatabase {
public:
    using Pairs = std::vector<std::pair<std::string, std::string>>;

    SettingsDatabase() = default;

    // The key is lower-cased; an operation outside 0..3 changes nothing.
    void AddSetting(const std::string& key, const std::string& value, SettingOperation operation);
    bool Remove(const std::string& key);
    bool Has(const std::string& key) const;
    // Every pair whose key begins with the lower-cased prefix, in key order and
    // exactly as stored; the empty prefix gives every pair.
    Pairs GetGroup(const std::string& prefix) const;
    bool HasGroup(const std::string& prefix) const;

    // Typed reads; none trims the value. Text reads unquote it, except a list of
    // two or more items (as ParseStringList splits it) each in its own pair of
    // quotes, such as 'T0', 'T1', which they leave whole for the list read.
    std::string GetString(const std::string& key) const;
    bool GetStringOr(const std::string& key, std::string& out, const std::string& defaultValue) const;
    int32_t GetInt(const std::string& key) const;
    bool GetBool(const std::string& key) const;
    bool GetBoolOr(const std::string& key, bool defaultValue) const;
    binary::Binary GetBinary(const std::string& key) const;
    // Absent: out := defaultValue. Present: the items are appended to out.
    bool GetList(const std::string& key, std::vector<std::string>& out, std::vector<std::string> defaultValue) const;

    // The value converted to T; an absent key is the "missing mandatory" error.
    template <class T = std::string>
    T GetMandatory(const std::string& key) const {
        T result{};
        Convert(MandatoryValue(key), result);
        return result;
    }
    // Absent: out untouched, false. Present: the value converted into out.
    template <class T>
    bool Get(const std::string& key, T& out) const {
        const std::string* value = Find(key);
        if (value == nullptr) return false;
        Convert(*value, out);
        return true;
    }
    // Absent: out := defaultValue, false. Present: the value converted into out.
    template <class T>
    bool Get(const std::string& key, T& out, const T& defaultValue) const {
        if (Get(key, out)) return true;
        out = defaultValue;
        return false;
    }
    // Absent: the default. Present: the value converted into a T that starts as T{}.
    template <class T>
    T GetOr(const std::string& key, const T& defaultValue) const {
        const std::string* value = Find(key);
        if (value == nullptr) return defaultValue;
        T result{};
        Convert(*value, result);
        return result;
    }

private:
    const std::string* Find(const std::string& key) const;
    const std::string& MandatoryValue(const std::string& key) const;

    static void Convert(const std::string& value, std::string& out);
    static void Convert(const std::string& value, std::vector<std::string>& out) { ParseStringList(value, out); }
    template <class T>
    static void Convert(const std::string& value, T& out) {
        Parse<T>(value, out);
    }

    std::map<std::string, std::string> m_settings;
};

}  // namespace ZORVIK
