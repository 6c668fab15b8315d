// The version of the card operating system a card service talks to, parsed from
// a version text such as "MORVA_1.92_S" (product_major.minor_suffix).
#pragma once

#include <cstdint>
#include <string>

namespace ZORVIK {

class CApdu;
class iCardService;

class OsInfo {
public:
    OsInfo() = default;
    explicit OsInfo(const std::string& versionText) { Parse(versionText); }

    // Never fails: the parts the text lacks stay empty and their numbers 0.
    void Parse(const std::string& versionText);

    std::string GetProduct() const { return m_product; }
    const std::string& GetText() const { return m_text; }
    const std::string& GetMajorText() const { return m_majorText; }
    const std::string& GetMinorText() const { return m_minorText; }
    const std::string& GetSuffix() const { return m_suffix; }
    uint8_t GetMajor() const { return m_major; }
    uint8_t GetMinor() const { return m_minor; }

    // Set once a major or a minor part was found.
    bool IsVersionSet() const { return !m_majorText.empty() || !m_minorText.empty(); }
    // false while no version is set.
    bool IsOlderThan(uint8_t major, uint8_t minor) const;

    // GET CARD INFO asking for the version text (bytes 16..31 of the answer).
    static CApdu MakeGetCardInfoCommand();
    // Reads the version through the card service (which prints, logs and checks
    // the exchange) and parses it into this object.
    void OsVersionAutoDetect(iCardService& cardService);

private:
    std::string m_text;
    std::string m_product;
    std::string m_majorText;
    std::string m_minorText;
    std::string m_suffix;
    uint8_t m_major = 0;
    uint8_t m_minor = 0;
};

}  // namespace ZORVIK
