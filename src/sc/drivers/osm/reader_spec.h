// The options the card-service factory gives the two simulated-card readers.
#pragma once

#include <cstdint>
#include <string>

struct ReaderSpec {
    int32_t cmd_timeout = 0;  // command time-out; 0 when the setting is absent
    std::string EL;           // EEPROM image to load at start; empty: none
    std::string ES;           // file that receives the EEPROM image when the reader goes; empty: none
    uint8_t tex = 0;          // card-OS trace on
    uint8_t cless = 0;        // contactless mode
};

namespace ZORVIK {
using ::ReaderSpec;
}  // namespace ZORVIK
