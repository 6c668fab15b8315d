#include "sc/card_service/ruzo_apdu_writer.h"

#include "sc/exchange/capdu_rapdu.h"

namespace ZORVIK {

void RuzoApduWriter::WriteCall() {
    ApduWriterSource& source = Source();
    if (!source.set) return;
    Print("$%s=%s(", source.resultVariable.c_str(), source.functionName.c_str());
    for (size_t i = 0; i < source.argumentNames.size(); ++i) {
        Print(i == 0 ? "$%s" : ", $%s", source.argumentNames[i].c_str());
    }
    PrintText(")\n");
    source.set = false;
}

void RuzoApduWriter::WriteCommandData(const binary::Binary& data) {
    if (Variables().empty()) {
        Print("%s\n", binary::ToHex(data).c_str());
        return;
    }
    const std::vector<DataPiece> pieces = CutByVariables(data, Variables());
    for (size_t i = 0; i < pieces.size(); ++i) {
        const DataPiece& piece = pieces[i];
        if (piece.variable != nullptr) {
            Print("$%s[%u] ", piece.variable->name.c_str(), piece.variable->length);
        } else {
            // Bytes after the last variable end the line without a trailing blank.
            const bool last = i + 1 == pieces.size();
            Print(last ? "%s" : "%s ", binary::ToHex(piece.bytes).c_str());
        }
    }
    PrintText("\n");
}

// The response data, or the variable named by the pending comment instead of it.
void RuzoApduWriter::WriteResponseBytes(const RApdu& response) {
    if (HasComment()) {
        Print("$%s= ", Comment().c_str());
        return;
    }
    for (uint8_t byte : response.data) Print("%02X ", byte);
}

void RuzoApduWriter::WriteApdu(const CApdu& command, const RApdu& response, uint16_t /*expected*/,
                               const SourcePlace& /*place*/) {
    if (IsNextSuppressed()) {
        ClearPending();
        return;
    }
    WriteCall();
    Print("%02X %02X %02X %02X", command.cla, command.ins, command.p1, command.p2);
    const size_t responseLength = response.data.size();
    if (!command.data.empty()) {
        // P3 = Lc, then the card's procedure byte (INS) asking for the data.
        Print(" %02X\n", static_cast<unsigned>(command.data.size()));
        Print("%02X\n", command.ins);
        WriteCommandData(command.data);
        if (responseLength != 0) {
            // ISO/IEC 7816-3, 10.3.4: 61xx, then GET RESPONSE for the xx bytes.
            Print("61 %02X\n", static_cast<unsigned>(responseLength));
            Print("00 C0 00 00 %02X\n", static_cast<unsigned>(responseLength));
            PrintText("C0 ");
            WriteResponseBytes(response);
            Print("%02X %02X\n", response.sw1, response.sw2);
        } else {
            Print("%02X %02X\n", response.sw1, response.sw2);
        }
    } else if (responseLength != 0) {
        // P3 = Ne, then the procedure byte followed by the data.
        Print(" %02X\n", command.ne);
        Print("%02X ", command.ins);
        WriteResponseBytes(response);
        Print(" %02X %02X\n", response.sw1, response.sw2);
    } else {
        // P3 = 00 and the card's real status word.
        PrintText(" 00\n");
        Print("%02X %02X\n", response.sw1, response.sw2);
    }
    PrintText("\n");
    EndEntry();
    ClearPending();
}

}  // namespace ZORVIK
