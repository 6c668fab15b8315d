// The value types of declared settings: each answers whether a text is a valid
// value and how the type is written in the "-h" help.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace ZORVIK {

// Shared by the descriptions through std::shared_ptr; the destructor is virtual
// so that a type may also be owned or deleted through this interface.
class iTypeInfo {
public:
    virtual ~iTypeInfo() = default;
    virtual bool IsValid(const std::string& text) const = 0;
    virtual std::string TypeName() const = 0;
};

// Decimal digits only (no sign, no blanks); when ranged, min <= value <= max,
// the empty text counting as 0.
class IntTypeInfo : public iTypeInfo {
public:
    IntTypeInfo() = default;
    IntTypeInfo(int32_t min, int32_t max) : m_ranged(true), m_min(min), m_max(max) {}
    bool IsValid(const std::string& text) const override;
    std::string TypeName() const override;

private:
    bool m_ranged = false;
    int32_t m_min = 0;
    int32_t m_max = 0;
};

// The texts the bool reads of the settings database accept, in any case.
class BoolTypeInfo : public iTypeInfo {
public:
    bool IsValid(const std::string& text) const override;
    std::string TypeName() const override { return "bool"; }
};

// Any text; the name shown in the help may be a syntax text of its own.
class StringTypeInfo : public iTypeInfo {
public:
    StringTypeInfo() : m_name("string") {}
    explicit StringTypeInfo(std::string name) : m_name(std::move(name)) {}
    bool IsValid(const std::string&) const override { return true; }
    std::string TypeName() const override { return m_name; }

private:
    std::string m_name;
};

// Exactly one of the values, case included.
class EnumTypeInfo : public iTypeInfo {
public:
    explicit EnumTypeInfo(std::vector<std::string> values);
    bool IsValid(const std::string& text) const override;
    std::string TypeName() const override;

private:
    std::vector<std::string> m_values;
};

// Hex text of a byte string; when ranged, of min to max bytes.
class BinaryTypeInfo : public iTypeInfo {
public:
    BinaryTypeInfo() = default;
    explicit BinaryTypeInfo(uint32_t length) : m_ranged(true), m_min(length), m_max(length) {}
    BinaryTypeInfo(uint32_t min, uint32_t max) : m_ranged(true), m_min(min), m_max(max) {}
    bool IsValid(const std::string& text) const override;
    std::string TypeName() const override;

private:
    bool m_ranged = false;
    uint32_t m_min = 0;
    uint32_t m_max = 0;
};

}  // namespace ZORVIK
