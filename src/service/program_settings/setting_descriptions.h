// Declared settings: names, type, default and help text of each, grouped by
// section. The validator checks a group against the settings database and
// fills in defaults; Serialize prints the registered sections as the "-h" help.
#pragma once

#include <initializer_list>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "service/program_settings/setting_types.h"
#include "service/program_settings/settings_database.h"

namespace ZORVIK {

struct SettingDescription {
    // With a default: never mandatory.
    SettingDescription(std::vector<std::string> names, std::shared_ptr<iTypeInfo> type, std::string defaultValue,
                       std::string text);
    // A text literal is a default, not a bool.
    SettingDescription(std::vector<std::string> names, std::shared_ptr<iTypeInfo> type, const char* defaultValue,
                       std::string text);
    // Without a default: mandatory or optional.
    SettingDescription(std::vector<std::string> names, std::shared_ptr<iTypeInfo> type, bool mandatory,
                       std::string text);

    std::vector<std::string> names;  // the first is the key, the others are aliases
    std::string defaultValue;
    bool mandatory;
    bool hasDefault;
    std::shared_ptr<iTypeInfo> type;
    std::string text;
};

// The descriptions of one section in declaration order, found by first name.
class DescriptionGroup {
public:
    DescriptionGroup(std::vector<SettingDescription> descriptions);
    DescriptionGroup(std::initializer_list<SettingDescription> descriptions);

    const std::vector<SettingDescription>& Descriptions() const { return m_descriptions; }
    // The latest description declared with that first name, or null.
    const SettingDescription* Find(const std::string& name) const;

private:
    void BuildIndex();

    std::vector<SettingDescription> m_descriptions;
    std::map<std::string, size_t> m_index;
};

// The titled sections printed by the help, in registration order.
class SettingsDescriptions {
public:
    void AddGroup(const std::string& title, const DescriptionGroup& group) { m_groups.emplace_back(title, group); }
    const std::vector<std::pair<std::string, DescriptionGroup>>& Groups() const { return m_groups; }

private:
    std::vector<std::pair<std::string, DescriptionGroup>> m_groups;
};

// Checks declared settings against a database and completes it: a value given
// under an alias moves to the first name, absent settings get their defaults.
// The database is changed in place, also as far as a failed validation got.
class SettingsValidator {
public:
    // The database must outlive the validator.
    explicit SettingsValidator(SettingsDatabase& database) : m_database(database) {}

    void Validate(const SettingDescription& description, const std::string& prefix);
    // Every description in declaration order; the first error ends it.
    void ValidateGroup(const DescriptionGroup& group, const std::string& prefix);

private:
    SettingsDatabase& m_database;
};

// Replaces out with the help text of every registered section.
void Serialize(const SettingsDescriptions& descriptions, std::string& out);

}  // namespace ZORVIK
