#include "sc/card_service/skarna_apdu_writer.h"

#include "sc/card_service/expected_status.h"
#include "sc/exchange/capdu_rapdu.h"

namespace ZORVIK {

std::string SkarnaApduWriter::ScriptHex(const binary::Binary& data) {
    std::string text;
    for (char c : binary::ToHex(data, 1, 4, 16)) {
        if (c == '\n') text += '\\';
        text += c;
    }
    return text;
}

void SkarnaApduWriter::WriteApdu(const CApdu& command, const RApdu& /*response*/, uint16_t expected,
                                 const SourcePlace& place) {
    if (IsNextSuppressed()) {
        ClearPending();
        return;
    }
    const std::string name = DisplayName(command);
    if (m_verboseLevel == 1) {
        Print("\n; %s", name.c_str());
    } else if (m_verboseLevel > 1) {
        PrintText("\n; ");
        if (!name.empty()) Print("%s, ", name.c_str());
        if (place.line != 0)
            Print("file: %s, line: %u", place.file != nullptr ? place.file : "", static_cast<unsigned>(place.line));
    }

    if (!command.data.empty()) {
        Print("\ni %02X %02X %02X %02X", command.cla, command.ins, command.p1, command.p2);
        for (const DataPiece& piece : CutByVariables(command.data, Variables())) {
            if (piece.variable != nullptr) {
                Print("\\\n$%s[%u]", piece.variable->name.c_str(), piece.variable->length);
            } else {
                Print("\\\n%s", ScriptHex(piece.bytes).c_str());
            }
        }
    } else if (command.ne != 0) {
        // Ne above 255 takes four digits, so 256 reads 0100.
        Print(command.ne <= 0xFF ? "\no %02X %02X %02X %02X %02X" : "\no %02X %02X %02X %02X %04X", command.cla,
              command.ins, command.p1, command.p2, command.ne);
    } else {
        Print("\ni %02X %02X %02X %02X", command.cla, command.ins, command.p1, command.p2);
    }

    switch (expected) {
        case ST_OK: break;
        case ST_ERR: PrintText(" | ERR"); break;
        case ST_ANY: PrintText(" | ANY"); break;
        default: Print(" | %04X", expected); break;
    }
    PrintText("\n");
    EndEntry();
    ClearPending();
}

}  // namespace ZORVIK
