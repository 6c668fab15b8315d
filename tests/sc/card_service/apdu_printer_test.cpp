#include "sc/card_service/apdu_printer.h"

#include <gtest/gtest.h>

#include <tuple>
#include <vector>

#include "sc/exchange/capdu_rapdu.h"
#include "service/log/recording_log.h"

namespace ZORVIK {
namespace {

using binary::Binary;
using test::RecordingLog;

const std::string Header = "CLA  INS   P1   P2     Ne\n";
const std::string Equals(64, '=');
const std::string Tildes(32, '~');

Binary Counting(size_t count) {
    Binary data;
    for (size_t i = 0; i < count; ++i) data.push_back(static_cast<uint8_t>(i));
    return data;
}

using Records = std::vector<std::tuple<int32_t, int32_t, std::string>>;  // level, colour, text

TEST(StandardPrinter, PrintsTheNameTheHeaderTheDataAndTheStatus) {
    const std::string Tilde7(7, '~');
    const struct {
        const char* name;
        void (*print)(iLog&);
        Records expected;
    } cases[] = {
        {"the default printer prints no name line",
         [](iLog& log) { DefaultPrinter().PrintCommand(CApdu(0x00, 0xA4, 0x00, 0x0C, Binary("3F00")), log); },
         {{2, 7, Header + " 00   A4   00   0C     0  (0x0)\nData: 2 (0x2)\n3F 00\n"}}},
        {"a named printer prints its name first",
         [](iLog& log) { StandardPrinter("GET CHALLENGE").PrintCommand(CApdu(0x00, 0x84, 0x00, 0x00, 256), log); },
         {{3, 3, "GET CHALLENGE\n"}, {2, 7, Header + " 00   84   00   00     256  (0x100)\n"}}},
        {"data lines break after 16 bytes",
         [](iLog& log) { StandardPrinter().PrintCommand(CApdu(0x80, 0xD6, 0x00, 0x00, Counting(20), 0), log); },
         {{2, 7,
           Header + " 80   D6   00   00     0  (0x0)\nData: 20 (0x14)\n"
                    "00 01 02 03 04 05 06 07 08 09 0A 0B 0C 0D 0E 0F\n10 11 12 13\n"}}},
        {"a response without data prints only the status line",
         [](iLog& log) { StandardPrinter("X").PrintResponse(RApdu(Binary("9000")), "Ok", log); },
         {{2, 7, "Status: 9000 (Ok)\n" + Equals + "\n"}}},
        {"a response with data and no status text",
         [](iLog& log) { StandardPrinter().PrintResponse(RApdu(Binary("0102 6282")), "", log); },
         {{2, 7, "Response: 2 (0x2)\n01 02\nStatus: 6282\n" + Equals + "\n"}}},
        {"secure messaging frames the wrapped exchange",
         [](iLog& log) {
             SMPrinter().PrintCommand(CApdu(0x84, 0xB0, 0x00, 0x00, Binary("9701 FF 8E08 0102030405060708"), 0), log);
             SMPrinter().PrintResponse(RApdu(Binary("990290008E0411223344 9000")), "Ok", log);
         },
         {{2, 2,
           Tilde7 + " Secure Messaging " + Tilde7 + "\n" + Header +
               " 84   B0   00   00     0  (0x0)\nData: 13 (0xD)\n97 01 FF 8E 08 01 02 03 04 05 06 07 08\n"},
          {2, 2, "Response: 10 (0xA)\n99 02 90 00 8E 04 11 22 33 44\nStatus: 9000 (Ok)\n" + Tildes + "\n"}}},
    };
    for (const auto& c : cases) {
        RecordingLog log;
        c.print(log);
        Records records;
        for (const LogRecord& r : log.records) records.emplace_back(r.level, r.colour, r.text);
        EXPECT_EQ(records, c.expected) << c.name;
    }
}

TEST(StandardPrinter, FormatExchangeWithoutNameStartsWithTheHeader) {
    std::string out = "left over";
    StandardPrinter().FormatExchange(CApdu(0x80, 0xCA, 0x00, 0x00), RApdu(Binary("AB 6A88")), out);
    EXPECT_EQ(out, Header + " 80   CA   00   00     0  (0x0)\nResponse: 1 (0x1)\nAB\nStatus: 6A88");
}

TEST(StandardPrinter, FormatExchangeStartsWithTheName) {
    std::string out;
    StandardPrinter("SELECT").FormatExchange(CApdu(0x00, 0xA4, 0x04, 0x00, Binary("A0"), 0), RApdu(Binary("9000")),
                                             out);
    EXPECT_EQ(out, "SELECT\n" + Header + " 00   A4   04   00     0  (0x0)\nData: 1 (0x1)\nA0\nStatus: 9000");
}

TEST(StandardPrinter, AppendNameStartsANewLine) {
    std::string text = "first";
    StandardPrinter("NAME").AppendName(text);
    EXPECT_EQ(text, "first\nNAME");
    std::string empty;
    StandardPrinter("NAME").AppendName(empty);
    EXPECT_EQ(empty, "NAME");
}

TEST(StandardPrinter, CloneKeepsTheName) {
    const StandardPrinter original("VERIFY");
    const std::shared_ptr<I_APDU_Printer> clone = original.Clone();
    ASSERT_NE(clone.get(), &original);
    std::string name;
    clone->AppendName(name);
    EXPECT_EQ(name, "VERIFY");
}

TEST(StandardSMPrinter, NamesItselfWithTheHeaderLine) {
    std::string name;
    SMPrinter().AppendName(name);
    EXPECT_EQ(name, "~~~~~~~ Secure Messaging ~~~~~~~");
    EXPECT_EQ(name.size(), 32u);
}

TEST(PrinterOf, FallsBackToTheDefaultPrinter) {
    const CApdu plain(0x00, 0xB0, 0x00, 0x00, 1);
    EXPECT_EQ(&PrinterOf(plain), &DefaultPrinter());
    const CApdu named(0x00, 0xB0, 0x00, 0x00, 1, std::make_shared<StandardPrinter>("READ"));
    std::string name;
    PrinterOf(named).AppendName(name);
    EXPECT_EQ(name, "READ");
}

}  // namespace
}  // namespace ZORVIK
