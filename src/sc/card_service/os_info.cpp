#include "sc/card_service/os_info.h"

#include "service/common/utilities.h"

namespace ZORVIK {

namespace {

// The leading decimal digits of text (0 without any), kept in a byte as the
// version fields are.
uint8_t LeadingNumber(const std::string& text) {
    uint8_t value = 0;
    for (char c : text) {
        if (c < '0' || c > '9') break;
        value = static_cast<uint8_t>(value * 10 + (c - '0'));
    }
    return value;
}

}  // namespace

void OsInfo::Parse(const std::string& versionText) {
    *this = OsInfo();
    m_text = ToLower(versionText);

    const size_t productEnd = m_text.find('_');
    m_product = m_text.substr(0, productEnd);
    if (productEnd == std::string::npos) return;

    const size_t majorEnd = m_text.find('.', productEnd + 1);
    m_majorText = m_text.substr(productEnd + 1, majorEnd - (productEnd + 1));
    m_major = LeadingNumber(m_majorText);
    if (majorEnd == std::string::npos) return;

    const size_t minorEnd = m_text.find('_', majorEnd + 1);
    m_minorText = m_text.substr(majorEnd + 1, minorEnd - (majorEnd + 1));
    m_minor = LeadingNumber(m_minorText);
    if (minorEnd == std::string::npos) return;

    m_suffix = m_text.substr(minorEnd + 1);
}

bool OsInfo::IsOlderThan(uint8_t major, uint8_t minor) const {
    if (!IsVersionSet()) return false;
    return m_major < major || (m_major == major && m_minor < minor);
}

}  // namespace ZORVIK
