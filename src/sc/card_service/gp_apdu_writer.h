// APDU logs as plain hex lists of the commands sent: the GP format (comments
// "// name") and the Goznak format (comments "# name").
#pragma once

#include "sc/card_service/apdu_writer.h"

namespace ZORVIK {

// One encoded command per entry, preceded by its name when the verbose level is not 0.
class HexListApduWriter : public BaseApduWriter {
public:
    void WriteApdu(const CApdu& command, const RApdu& response, uint16_t expected, const SourcePlace& place) override;

protected:
    HexListApduWriter(const std::string& fileName, uint32_t verboseLevel, const char* commentFormat)
        : BaseApduWriter(fileName), m_verboseLevel(verboseLevel), m_commentFormat(commentFormat) {}

private:
    uint32_t m_verboseLevel;
    const char* m_commentFormat;
};

class GPApduWriter : public HexListApduWriter {
public:
    GPApduWriter(const std::string& fileName, uint32_t verboseLevel)
        : HexListApduWriter(fileName, verboseLevel, "// %s\n") {}
};

class GoznakApduWriter : public HexListApduWriter {
public:
    GoznakApduWriter(const std::string& fileName, uint32_t verboseLevel)
        : HexListApduWriter(fileName, verboseLevel, "# %s\n") {}
};

}  // namespace ZORVIK
