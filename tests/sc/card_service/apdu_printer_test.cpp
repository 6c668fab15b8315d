// The standard, secure-messaging and BER-TLV printers.
#include "sc/card_service/apdu_printer.h"

#include <gtest/gtest.h>

#include <tuple>

#include "sc/card_service/tlv_printer.h"
#include "sc/exchange/capdu_rapdu.h"
#include "service/log/recording_log.h"

namespace ZORVIK {
namespace {

using binary::Binary;

const std::string Header = "CLA  INS   P1   P2     Ne\n";
const std::string Equals = std::string(64, '=') + "\n";
// An FCI template holding a DF name, and its dump as a tree.
const char* const Fci = "6F 05 84 03 A0 00 01";
const std::string FciTree = "6F:\n  84: A0 00 01 ";

// Every record as "<level>/<colour> <text>".
template <class Print>
std::string Printed(Print print) {
    test::RecordingLog log;
    print(log);
    std::string text;
    for (const LogRecord& r : log.records)
        text += std::to_string(r.level) + "/" + std::to_string(r.colour) + " " + r.text;
    return text;
}

TEST(ApduPrinters, PrintCommands) {
    const std::string select = Header + " 00   A4   04   00     0  (0x0)\n";
    const StandardPrinter named("GET CHALLENGE");
    const TLVRequestPrinter tlv("SELECT");
    const TLVRequestPrinter tlvWithoutName;
    const std::tuple<const I_APDU_Printer*, CApdu, std::string> cases[] = {
        // The default printer prints no name line; data lines break after 16 bytes.
        {&DefaultPrinter(), CApdu(0, 0xA4, 4, 0, Binary("000102030405060708090A0B0C0D0E0F10")),
         "2/7 " + select + "Data: 17 (0x11)\n00 01 02 03 04 05 06 07 08 09 0A 0B 0C 0D 0E 0F\n10\n"},
        {&named, CApdu(0x00, 0x84, 0x00, 0x00, 256),
         "3/3 GET CHALLENGE\n2/7 " + Header + " 00   84   00   00     256  (0x100)\n"},
        {&SMPrinter(), CApdu(0x84, 0xB0, 0x00, 0x00, Binary("9701 FF 8E08 0102030405060708"), 0),
         "2/2 ~~~~~~~ Secure Messaging ~~~~~~~\n" + Header +
             " 84   B0   00   00     0  (0x0)\nData: 13 (0xD)\n97 01 FF 8E 08 01 02 03 04 05 06 07 08\n"},
        // The TLV request printer dumps the data as a tree, or warns and prints hex.
        {&tlv, CApdu(0, 0xA4, 4, 0, Binary(Fci)), "3/3 SELECT\n2/7 " + select + "Data: 7 (0x7)\n" + FciTree + "\n"},
        {&tlvWithoutName, CApdu(0, 0xA4, 4, 0, Binary("6F")),
         "6/14 Данные запроса имеют некорректный формат!\n2/7 " + select + "Data: 1 (0x1)\n6F\n"},
    };
    for (const auto& [printer, command, expected] : cases) {
        EXPECT_EQ(Printed([&](iLog& log) { printer->PrintCommand(command, log); }), expected);
    }
}

TEST(ApduPrinters, PrintResponses) {
    const std::string fciOk = std::string(Fci) + "9000";
    const StandardPrinter standard("X");
    const TLVRequestPrinter request("X");
    const TLVResponsePrinter response("R");
    const std::tuple<const I_APDU_Printer*, const char*, const char*, std::string> cases[] = {
        {&standard, "9000", "Ok", "2/7 Status: 9000 (Ok)\n" + Equals},
        {&DefaultPrinter(), "0102 6282", "", "2/7 Response: 2 (0x2)\n01 02\nStatus: 6282\n" + Equals},
        {&SMPrinter(), "990290008E0411223344 9000", "Ok",
         "2/2 Response: 10 (0xA)\n99 02 90 00 8E 04 11 22 33 44\nStatus: 9000 (Ok)\n" + std::string(32, '~') + "\n"},
        // The TLV request printer prints responses as the standard printer does.
        {&request, fciOk.c_str(), "Ok", "2/7 Response: 7 (0x7)\n6F 05 84 03 A0 00 01\nStatus: 9000 (Ok)\n" + Equals},
        // The TLV response printer closes on the status line.
        {&response, fciOk.c_str(), "Ok", "2/7 Response: 7 (0x7)\n" + FciTree + "\nStatus: 9000 (Ok)" + Equals},
        {&response, "6F 9000", "",
         "6/14 Данные ответа имеют некорректный формат!\n2/7 Response: 1 (0x1)\n6F\nStatus: 9000" + Equals},
        {&response, "6A82", "Не найден", "2/7 Status: 6A82 (Не найден)" + Equals},
    };
    for (const auto& [printer, answer, statusText, expected] : cases) {
        EXPECT_EQ(Printed([&](iLog& log) { printer->PrintResponse(RApdu(Binary(answer)), statusText, log); }),
                  expected);
    }
    std::string out = "left over";
    StandardPrinter().FormatExchange(CApdu(0x80, 0xCA, 0x00, 0x00), RApdu(Binary("AB 6A88")), out);
    EXPECT_EQ(out, Header + " 80   CA   00   00     0  (0x0)\nResponse: 1 (0x1)\nAB\nStatus: 6A88");
}

TEST(ApduPrinters, NamesStartANewLineAndClonesKeepTheirKindAndName) {
    std::string names = "first";
    StandardPrinter("VERIFY").Clone()->AppendName(names);
    TLVRequestPrinter("REQ").Clone()->AppendName(names);
    TLVResponsePrinter("RESP").Clone()->AppendName(names);
    SMPrinter().AppendName(names);
    EXPECT_EQ(names, "first\nVERIFY\nREQ\nRESP\n~~~~~~~ Secure Messaging ~~~~~~~");
    EXPECT_NE(dynamic_cast<TLVRequestPrinter*>(TLVRequestPrinter().Clone().get()), nullptr);
    EXPECT_NE(dynamic_cast<TLVResponsePrinter*>(TLVResponsePrinter().Clone().get()), nullptr);
    EXPECT_EQ(&PrinterOf(CApdu(0x00, 0xB0, 0x00, 0x00, 1)), &DefaultPrinter());
}

}  // namespace
}  // namespace ZORVIK
