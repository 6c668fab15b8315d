// Command and response APDUs: the decoded form every exchange is made of, and its
// ISO/IEC 7816-3 byte form (short and extended lengths, cases 1 to 4).
#pragma once

#include <cstdint>
#include <memory>

#include "service/common/binary.h"

namespace ZORVIK {

class I_APDU_Printer;

class CApdu {
public:
    // GetCase results: the ISO/IEC 7816-3 case and its length form.
    static constexpr uint32_t Case1 = 0;
    static constexpr uint32_t Case2Short = 1;
    static constexpr uint32_t Case2Extended = 2;
    static constexpr uint32_t Case3Short = 3;
    static constexpr uint32_t Case3Extended = 4;
    static constexpr uint32_t Case4Short = 5;
    static constexpr uint32_t Case4Extended = 6;

    static constexpr size_t MaxDataLength = 65535;
    static constexpr uint32_t MaxNe = 65536;

    uint8_t cla = 0;
    uint8_t ins = 0;
    uint8_t p1 = 0;
    uint8_t p2 = 0;
    binary::Binary data;
    // Empty: the default printer is used.
    std::shared_ptr<I_APDU_Printer> printer;
    // Force the extended length form even when the sizes fit the short one.
    bool extended = false;
    // Report the command as case 4 even without data or Ne.
    bool forceCase4 = false;
    // Maximum number of response bytes expected; 0 means no Le field.
    uint32_t ne = 0;

    CApdu() = default;
    // A given printer is cloned, so that two commands never share one printer.
    CApdu(uint8_t cla, uint8_t ins, uint8_t p1, uint8_t p2, const binary::Binary& data, uint32_t ne,
          const std::shared_ptr<I_APDU_Printer>& printer, bool extended = false);
    CApdu(uint8_t cla, uint8_t ins, uint8_t p1, uint8_t p2, const binary::Binary& data, uint32_t ne = 0,
          bool extended = false);
    CApdu(uint8_t cla, uint8_t ins, uint8_t p1, uint8_t p2, uint32_t ne, const std::shared_ptr<I_APDU_Printer>& printer,
          bool extended = false, bool forceCase4 = false);
    CApdu(uint8_t cla, uint8_t ins, uint8_t p1, uint8_t p2, uint32_t ne = 0, bool extended = false,
          bool forceCase4 = false);
    // From canonical bytes.
    explicit CApdu(const binary::Binary& canonical);
    // From canonical bytes written as hex text (white space ignored).
    explicit CApdu(const char* hexText);

    CApdu(const CApdu& other);
    CApdu(CApdu&& other) noexcept = default;
    CApdu& operator=(const CApdu& other);
    CApdu& operator=(CApdu&& other) noexcept = default;
    ~CApdu();

    // Parses canonical bytes into this command; throws on malformed input.
    void DecodeCanonical(const binary::Binary& bytes);

    // Replaces out by header, Lc, data and Le. forceExtended asks for the
    // extended length form as the extended flag does.
    void Encode(binary::Binary& out, bool forceExtended = false) const;
    binary::Binary Encode() const;
    void AppendHeader(binary::Binary& out) const;
    void AppendLc(binary::Binary& out, bool forceExtended = false) const;
    void AppendLe(binary::Binary& out, bool forceExtended = false) const;

    // One of Case1 .. Case4Extended.
    uint32_t GetCase() const;
    // Data above 255 bytes, Ne above 256, or the extended flag.
    bool IsExtended() const;
    // Throws when the data or Ne is too large for any encoding.
    void SelfCheck() const;
    // Replaces the printer by a clone of the given one.
    void SetPrinter(const I_APDU_Printer& newPrinter);

    void swap(CApdu& other) noexcept;

private:
    bool UsesShortForm(bool forceExtended) const;
};

class RApdu {
public:
    binary::Binary data;
    uint8_t sw1 = 0;
    uint8_t sw2 = 0;

    RApdu() = default;
    // From canonical bytes: data followed by SW1 SW2.
    explicit RApdu(const binary::Binary& canonical);

    void DecodeCanonical(const binary::Binary& bytes);
    void Clear();
    // SW1 * 256 + SW2.
    uint16_t GetSW() const { return static_cast<uint16_t>(sw1 << 8 | sw2); }
    // Data followed by SW1 SW2.
    binary::Binary Encode() const;
};

}  // namespace ZORVIK
