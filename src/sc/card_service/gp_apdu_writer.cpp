#include "sc/card_service/gp_apdu_writer.h"

#include "sc/exchange/capdu_rapdu.h"

namespace ZORVIK {

void HexListApduWriter::WriteApdu(const CApdu& command, const RApdu& /*response*/, uint16_t /*expected*/,
                                  const SourcePlace& /*place*/) {
    if (command.printer && m_verboseLevel != 0) {
        Print(m_commentFormat, DisplayName(command).c_str());
    }
    binary::Binary bytes;
    command.Encode(bytes, false);
    Print("%s\n\n", binary::ToHex(bytes).c_str());
    EndEntry();
}

}  // namespace ZORVIK
