#include "sc/card_service/jcshell_apdu_writer.h"

#include "sc/card_service/expected_status.h"
#include "sc/exchange/capdu_rapdu.h"

namespace ZORVIK {

namespace {

// The command as the card received it, in the ISO/IEC 7816-4 encoding (an
// extended Lc as 00 and two bytes, an extended Le as two bytes after an extended
// Lc or as 00 and two bytes without data), so that the "send" line replays the
// same command; a case-1 command is sent with P3 = 00, as its T=0 TPDU has it.
binary::Binary JCShellBytes(const CApdu& command) {
    binary::Binary bytes = command.Encode();
    if (command.GetCase() == CApdu::Case1) bytes += static_cast<uint8_t>(0x00);
    return bytes;
}

}  // namespace

void JCShellApduWriter::WriteApdu(const CApdu& command, const RApdu& /*response*/, uint16_t expected,
                                  const SourcePlace& place) {
    if (expected == ST_ERR) {
        throw Exception("Невозможно конвертировать статус ST_ERR в язык JCShell. Замените статус.",
                        ZORVIK_PLACE("ZORVIK::JCShellApduWriter::WriteApdu"));
    }
    std::string name;
    if (command.printer) name = DisplayName(command) + ", ";
    if (place.line != 0) {
        Print("# %sfile: %s, line: %u\n", name.c_str(), place.file != nullptr ? place.file : "",
              static_cast<unsigned>(place.line));
    } else {
        Print("# %s\n", name.c_str());
    }
    Print("send %s", binary::ToHex(JCShellBytes(command), 0).c_str());
    if (expected == ST_OK) {
        PrintText(" 9000");
    } else if (expected != ST_ANY) {
        Print(" %04X", expected);
    }
    PrintText("\n\n");
    EndEntry();
}

}  // namespace ZORVIK
