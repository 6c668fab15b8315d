#include "sc/card_service/jcshell_apdu_writer.h"

#include "sc/card_service/expected_status.h"
#include "sc/exchange/capdu_rapdu.h"
#include "service/common/printf.h"

namespace ZORVIK {

namespace {

// JCShell's own length layout: a two-byte Lc or Le without the leading 00 of
// ISO/IEC 7816-3 extended lengths, and a case-1 command sent with P3 = 00.
binary::Binary JCShellBytes(const CApdu& command) {
    binary::Binary bytes;
    command.AppendHeader(bytes);
    const bool extended = command.IsExtended();
    if (!command.data.empty()) {
        const size_t lc = command.data.size();
        if (extended)
            bytes += static_cast<uint8_t>(lc >> 8);
        bytes += static_cast<uint8_t>(lc);
        bytes += command.data;
    }
    if (command.GetCase() == CApdu::Case1) {
        bytes += static_cast<uint8_t>(0x00);
    } else if (command.ne != 0) {
        if (extended)
            bytes += static_cast<uint8_t>(command.ne >> 8);
        bytes += static_cast<uint8_t>(command.ne);
    }
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
    if (command.printer)
        name = DisplayName(command) + ", ";
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
