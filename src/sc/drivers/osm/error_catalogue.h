// The card-OS error catalogue: for every card-OS build and library a group of
// {code, symbolic name, Russian text} rows, read by the status texts.
#pragma once

#include <array>

#include "sc/card_service/status_words.h"

// The groups in their fixed order. This build carries no card-OS command set, so
// the groups hold no rows yet.
extern const std::array<ZORVIK::ErrorCatalogueGroup, 9> error_catalogue;

namespace ZORVIK {
using ::error_catalogue;
}  // namespace ZORVIK
