// Human-readable texts for ISO/IEC 7816-4 status words (appended to every printed
// response) and for card-OS error codes as GET LAST ERROR reports them.
#pragma once

#include <cstdint>
#include <span>
#include <string>

namespace ZORVIK {

// One row of the card-OS error catalogue: only the low 16 bits of code are compared.
struct ErrorCatalogueRow {
    uint32_t code;
    const char* name;  // symbolic name such as EX_LO_CORE__WRONG_LIFE_PHASE
    const char* text;  // Russian explanation, may be empty
};

// The rows of one card-OS build or library ("morva", "hal", ...).
struct ErrorCatalogueGroup {
    const char* name;
    std::span<const ErrorCatalogueRow> rows;
};

using ErrorCatalogue = std::span<const ErrorCatalogueGroup>;

// The catalogue DescribeCardException consults. The card-OS host installs its own
// at start; until then it is empty. The caller keeps the storage alive.
void SetErrorCatalogue(ErrorCatalogue catalogue);
ErrorCatalogue GetErrorCatalogue();

std::string DescribeStatusWord(uint8_t sw1, uint8_t sw2, uint8_t cla);
// GSM 11.11 statuses for the class A0; empty when the status is not one of them.
std::string DescribeGsmStatusWord(uint16_t statusWord);
// " (NAME - text)" when the product's own group knows the code; otherwise one
// "\nNAME - text (OS: group)" line per group that does; empty when none does.
std::string DescribeCardException(const std::string& product, uint16_t code);
std::string DescribeCardException(const std::string& product, uint16_t code, ErrorCatalogue catalogue);

}  // namespace ZORVIK
