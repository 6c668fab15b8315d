// APDU log as a T=0-style transcript (header, procedure byte, data, GET RESPONSE)
// with named data ranges, calls and response variables.
#pragma once

#include "sc/card_service/apdu_writer.h"

namespace ZORVIK {

class RuzoApduWriter : public BaseApduWriter {
public:
    explicit RuzoApduWriter(const std::string& fileName) : BaseApduWriter(fileName) {}

    void WriteReset() override { WriteMarker("r\n", true); }
    // The pending comment and variables stay for the command after power-on.
    void WritePowerOff() override { WriteMarker("off\n", false); }
    void WritePowerOn() override { WriteMarker("on\n", true); }
    // A pending comment names the variable that takes the response data.
    void WriteApdu(const CApdu& command, const RApdu& response, uint16_t expected, const SourcePlace& place) override;

private:
    void WriteCall();
    void WriteCommandData(const binary::Binary& data);
    void WriteResponseBytes(const RApdu& response);
};

}  // namespace ZORVIK
