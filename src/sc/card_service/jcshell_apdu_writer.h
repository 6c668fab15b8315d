// APDU log as a JCShell script of "send" lines with the expected status.
#pragma once

#include "sc/card_service/apdu_writer.h"

namespace ZORVIK {

class JCShellApduWriter : public BaseApduWriter {
public:
    explicit JCShellApduWriter(const std::string& fileName) : BaseApduWriter(fileName) {}

    // JCShell cannot express "any error status": ST_ERR is refused and nothing
    // is written for that entry.
    void WriteApdu(const CApdu& command, const RApdu& response, uint16_t expected, const SourcePlace& place) override;
};

}  // namespace ZORVIK
