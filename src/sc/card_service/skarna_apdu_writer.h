// APDU log in the console's own script syntax, so that a run can be replayed as
// a script.
#pragma once

#include "sc/card_service/apdu_writer.h"

namespace ZORVIK {

class SkarnaApduWriter : public BaseApduWriter {
public:
    // verboseLevel 0: no comment lines; 1: the command's name; 2: name and script place.
    SkarnaApduWriter(const std::string& fileName, uint32_t verboseLevel)
        : BaseApduWriter(fileName), m_verboseLevel(verboseLevel) {}

    void WriteReset() override { WriteMarker("\nreset\n", true); }
    // The pending comment and variables stay for the command after power-on.
    void WritePowerOff() override { WriteMarker("\noff\n", false); }
    void WritePowerOn() override { WriteMarker("\non\n", true); }
    void WriteApdu(const CApdu& command, const RApdu& response, uint16_t expected, const SourcePlace& place) override;

    // The script hex layout: a blank between bytes, two after every 4th, and a
    // continued line (backslash, line break) after every 16th.
    static std::string ScriptHex(const binary::Binary& data);

private:
    uint32_t m_verboseLevel;
};

}  // namespace ZORVIK
