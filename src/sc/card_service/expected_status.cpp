#include "sc/card_service/expected_status.h"

#include "service/common/printf.h"

namespace ZORVIK {

bool MatchStatus(const std::vector<uint16_t>& expected, uint16_t statusWord) {
    for (uint16_t entry : expected) {
        switch (entry) {
            case ST_OK:
                if (IsSuccessStatus(statusWord)) return true;
                break;
            case ST_ERR:
                if (!IsSuccessStatus(statusWord)) return true;
                break;
            case ST_ANY: return true;
            default:
                if (entry == statusWord) return true;
                break;
        }
    }
    return false;
}

std::string ExpectedStatusText(uint16_t expected) {
    switch (expected) {
        case ST_OK: return "OK";
        case ST_ERR: return "ERR";
        case ST_ANY: return "ANY";
        default: return SafePrintf("%04X", expected);
    }
}

}  // namespace ZORVIK
