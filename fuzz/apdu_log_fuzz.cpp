// Arbitrary command/response pairs through the five APDU-log writers and the
// printers. The formats that carry the command (GP, Goznak, JCShell) must write
// a line that decodes back to it; the others must write without failing, and
// the printers must print any data, BER-TLV or not.
//
// Input: flags, CLA INS P1 P2, Nc (2 bytes), Ne (3 bytes), expected status (2
// bytes), then the data and the response (data and status word).
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>

#include "fuzz_support.h"
#include "sc/card_service/apdu_printer.h"
#include "sc/card_service/apdu_writer.h"
#include "sc/card_service/expected_status.h"
#include "sc/card_service/tlv_printer.h"
#include "sc/exchange/capdu_rapdu.h"
#include "service/log/log.h"

namespace {

using ZORVIK::binary::Binary;

std::string ReadAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

// The last line of text that is not empty.
std::string LastLine(const std::string& text) {
    const size_t end = text.find_last_not_of('\n');
    if (end == std::string::npos) return "";
    const size_t newline = text.rfind('\n', end);
    const size_t start = newline == std::string::npos ? 0 : newline + 1;
    return text.substr(start, end - start + 1);
}

// The written bytes must be the command's own encoding.
void RequireSameCommand(const ZORVIK::CApdu& command, const Binary& written) {
    if (written != command.Encode()) __builtin_trap();
    const ZORVIK::CApdu decoded(written);
    if (decoded.data != command.data || decoded.ne != command.ne) __builtin_trap();
}

std::shared_ptr<ZORVIK::I_APDU_Printer> PrinterOfKind(int kind) {
    switch (kind) {
        case 1: return std::make_shared<ZORVIK::StandardPrinter>("SELECT");
        case 2: return std::make_shared<ZORVIK::TLVRequestPrinter>("PUT DATA");
        case 3: return std::make_shared<ZORVIK::TLVResponsePrinter>("GET DATA");
        default: return nullptr;
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    constexpr size_t HeaderLength = 12;
    if (size < HeaderLength) return 0;
    const uint8_t flags = data[0];
    const size_t rest = size - HeaderLength;
    const size_t dataLength = std::min<size_t>(static_cast<size_t>(data[5] << 8 | data[6]), rest);
    const uint32_t ne = static_cast<uint32_t>(data[7] << 16 | data[8] << 8 | data[9]) % 65537;
    const uint16_t expected = static_cast<uint16_t>(data[10] << 8 | data[11]);

    ZORVIK::CApdu command(data[1], data[2], data[3], data[4],
                          Binary(data + HeaderLength, data + HeaderLength + dataLength), ne, (flags & 1) != 0);
    command.forceCase4 = (flags & 2) != 0;
    if (auto printer = PrinterOfKind((flags >> 2) & 3)) command.SetPrinter(*printer);
    const Binary responseBytes(data + HeaderLength + dataLength, data + size);
    const ZORVIK::RApdu response(responseBytes.size() >= 2 ? responseBytes : Binary("9000"));

    static const std::string path = "/tmp/zorvik_apdu_log_fuzz_" + std::to_string(::getpid());
    for (int kind = ZORVIK::BaseApduWriter::Skarna; kind <= ZORVIK::BaseApduWriter::Ruzo; ++kind) {
        ::unlink(path.c_str());
        {
            auto writer = ZORVIK::BaseApduWriter::Create(kind, path, (flags >> 4) & 3);
            if ((flags & 0x40) != 0) writer->AddVariable("V", data[5], data[6]);
            if ((flags & 0x80) != 0) {
                writer->SetComment("r");
                writer->SetSource("r", "F", {"V"});
            }
            try {
                writer->WriteApdu(command, response, expected, ZORVIK::SourcePlace());
            } catch (const ZORVIK::Exception&) {
                // JCShell refuses ST_ERR.
                if (kind != ZORVIK::BaseApduWriter::JCShell || expected != ZORVIK::ST_ERR) __builtin_trap();
                continue;
            }
        }
        const std::string line = LastLine(ReadAll(path));
        if (kind == ZORVIK::BaseApduWriter::GP || kind == ZORVIK::BaseApduWriter::Goznak) {
            RequireSameCommand(command, Binary(line));
        } else if (kind == ZORVIK::BaseApduWriter::JCShell) {
            if (line.rfind("send ", 0) != 0) __builtin_trap();
            const std::string hex = line.substr(5, line.find(' ', 5) - 5);
            // A case-1 command is written with P3 = 00, as its T=0 TPDU carries it.
            const bool case1 = command.GetCase() == ZORVIK::CApdu::Case1;
            const Binary written(hex);
            if (case1) {
                if (written != command.Encode() + Binary("00")) __builtin_trap();
            } else {
                RequireSameCommand(command, written);
            }
        }
    }
    ::unlink(path.c_str());

    ZORVIK::fuzz::DiscardLog log;
    std::string exchange;
    for (int kind = 0; kind < 4; ++kind) {
        const auto printer = PrinterOfKind(kind);
        const ZORVIK::I_APDU_Printer& used = printer ? *printer : ZORVIK::DefaultPrinter();
        used.PrintCommand(command, log);
        used.PrintResponse(response, "status", log);
        used.FormatExchange(command, response, exchange);
    }
    ZORVIK::SMPrinter().PrintCommand(command, log);
    ZORVIK::SMPrinter().PrintResponse(response, "", log);
    return 0;
}
