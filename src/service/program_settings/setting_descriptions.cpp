#include "service/program_settings/setting_descriptions.h"

#include "service/common/exception.h"
#include "service/common/utilities.h"

namespace ZORVIK {

namespace {

constexpr char kNoName[] = "Настройка должна иметь хотя бы одно имя";
constexpr size_t kHelpWidth = 80;
constexpr size_t kEntryWidth = 22;

// Help columns are counted in characters, so that Cyrillic names and titles
// line up as they do in a single-byte code page.
size_t CharacterCount(const std::string& text) { return Utf8ToWide(text).size(); }

std::string HelpEntry(const SettingDescription& description) {
    std::string entry = description.names.front();
    if (description.names.size() > 1) {
        entry += "(" + description.names[1];
        for (size_t i = 2; i < description.names.size(); ++i) entry += "," + description.names[i];
        entry += "): ";
    }
    const size_t width = CharacterCount(entry);
    if (width < kEntryWidth) entry.append(kEntryWidth - width, ' ');
    return entry;
}

}  // namespace

SettingDescription::SettingDescription(std::vector<std::string> names, std::shared_ptr<iTypeInfo> type,
                                       std::string defaultValue, std::string text)
    : names(std::move(names)),
      defaultValue(std::move(defaultValue)),
      mandatory(false),
      hasDefault(true),
      type(std::move(type)),
      text(std::move(text)) {}

SettingDescription::SettingDescription(std::vector<std::string> names, std::shared_ptr<iTypeInfo> type,
                                       const char* defaultValue, std::string text)
    : SettingDescription(std::move(names), std::move(type), std::string(defaultValue ? defaultValue : ""),
                         std::move(text)) {}

SettingDescription::SettingDescription(std::vector<std::string> names, std::shared_ptr<iTypeInfo> type, bool mandatory,
                                       std::string text)
    : names(std::move(names)), mandatory(mandatory), hasDefault(false), type(std::move(type)), text(std::move(text)) {}

DescriptionGroup::DescriptionGroup(std::vector<SettingDescription> descriptions)
    : m_descriptions(std::move(descriptions)) {
    BuildIndex();
}

DescriptionGroup::DescriptionGroup(std::initializer_list<SettingDescription> descriptions)
    : m_descriptions(descriptions) {
    BuildIndex();
}

void DescriptionGroup::BuildIndex() {
    for (size_t i = 0; i < m_descriptions.size(); ++i) {
        const SettingDescription& description = m_descriptions[i];
        ZORVIK_CHECK("ZORVIK::DescriptionGroup::DescriptionGroup", !description.names.empty(), kNoName);
        // Validation and help both ask every description for its type.
        ZORVIK_CHECK_STR("ZORVIK::DescriptionGroup::DescriptionGroup", description.type != nullptr,
                         "Для настройки \"" + description.names.front() + "\" не задан тип значения");
        m_index[description.names.front()] = i;
    }
}

const SettingDescription* DescriptionGroup::Find(const std::string& name) const {
    const auto it = m_index.find(name);
    return it == m_index.end() ? nullptr : &m_descriptions[it->second];
}

void SettingsValidator::Validate(const SettingDescription& description, const std::string& prefix) {
    const SourcePlace place = ZORVIK_PLACE("ZORVIK::SettingsValidator::Validate");
    ZORVIK_CHECK("ZORVIK::SettingsValidator::Validate", !description.names.empty(), kNoName);
    const std::string& firstName = description.names.front();
    std::string value;
    bool found = false;
    // From the last name to the first: the last alias given wins, and no alias
    // survives validation.
    for (size_t i = description.names.size(); i-- > 0;) {
        const std::string key = prefix + description.names[i];
        if (!m_database.Has(key)) continue;
        if (!found) found = m_database.Get(key, value);
        if (i != 0) m_database.Remove(key);
    }
    if (!found) {
        if (description.hasDefault) {
            value = description.defaultValue;
        } else if (description.mandatory) {
            throw Exception("Не задана обязательная настройка \"" + firstName + "\"", place);
        } else {
            return;
        }
    }
    m_database.AddSetting(prefix + firstName, value, Set);
    if (description.type == nullptr || !description.type->IsValid(value)) {
        const std::string typeName = description.type ? description.type->TypeName() : std::string();
        throw Exception("Значение настройки \"" + firstName + " = " + value +
                            "\" не удовлетворяет заданным для нее условиям: " + typeName,
                        place);
    }
}

void SettingsValidator::ValidateGroup(const DescriptionGroup& group, const std::string& prefix) {
    for (const SettingDescription& description : group.Descriptions()) Validate(description, prefix);
}

void Serialize(const SettingsDescriptions& descriptions, std::string& out) {
    std::string help = "\n";
    for (const auto& [title, group] : descriptions.Groups()) {
        if (!title.empty()) {
            const size_t length = CharacterCount(title);
            const std::string pad(length < kHelpWidth ? (kHelpWidth - length) / 2 : 0, ' ');
            help += pad + title + "\n" + pad + std::string(length, '-') + "\n";
        }
        for (const SettingDescription& description : group.Descriptions()) {
            ZORVIK_CHECK("ZORVIK::Serialize", !description.names.empty(), kNoName);
            help += HelpEntry(description);
            help += '{';
            if (description.type) help += description.type->TypeName();
            if (description.hasDefault) help += ", default:" + description.defaultValue;
            if (description.mandatory) help += ", mandatory";
            help += "} - " + description.text + "\n";
        }
        help += "\n";
    }
    out = std::move(help);
}

}  // namespace ZORVIK
