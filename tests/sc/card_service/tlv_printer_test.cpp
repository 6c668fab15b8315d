#include "sc/card_service/tlv_printer.h"

#include <gtest/gtest.h>

#include "sc/exchange/capdu_rapdu.h"
#include "service/log/recording_log.h"

namespace ZORVIK {
namespace {

using binary::Binary;
using test::RecordingLog;

const std::string Header = "CLA  INS   P1   P2     Ne\n";
const std::string Equals(64, '=');
// An FCI template holding a DF name, and its dump as a tree.
const char* const Fci = "6F 05 84 03 A0 00 01";
const std::string FciTree = "6F:\n  84: A0 00 01 ";

TEST(TLVRequestPrinter, DumpsTheCommandDataAsATree) {
    RecordingLog log;
    TLVRequestPrinter("SELECT").PrintCommand(CApdu(0x00, 0xA4, 0x04, 0x00, Binary(Fci), 0), log);
    ASSERT_EQ(log.records.size(), 2u);
    EXPECT_EQ(log.records[0].text, "SELECT\n");
    EXPECT_EQ(log.records[0].colour, 3);
    EXPECT_EQ(log.records[1].level, 2);
    EXPECT_EQ(log.records[1].colour, 7);
    EXPECT_EQ(log.records[1].text, Header + " 00   A4   04   00     0  (0x0)\nData: 7 (0x7)\n" + FciTree + "\n");
}

TEST(TLVRequestPrinter, WarnsAndPrintsHexWhenTheDataIsNotBerTlv) {
    RecordingLog log;
    TLVRequestPrinter().PrintCommand(CApdu(0x00, 0xA4, 0x04, 0x00, Binary("6F"), 0), log);
    ASSERT_EQ(log.records.size(), 2u);
    EXPECT_EQ(log.records[0].level, 6);
    EXPECT_EQ(log.records[0].text, "Данные запроса имеют некорректный формат!\n");
    EXPECT_EQ(log.records[1].text, Header + " 00   A4   04   00     0  (0x0)\nData: 1 (0x1)\n6F\n");
}

TEST(TLVRequestPrinter, PrintsResponsesLikeTheStandardPrinter) {
    RecordingLog log;
    TLVRequestPrinter("X").PrintResponse(RApdu(Binary(std::string(Fci) + "9000")), "Ok", log);
    ASSERT_EQ(log.records.size(), 1u);
    EXPECT_EQ(log.records[0].text, "Response: 7 (0x7)\n6F 05 84 03 A0 00 01\nStatus: 9000 (Ok)\n" + Equals + "\n");
}

TEST(TLVResponsePrinter, DumpsTheResponseDataWithTheClosingLineOnTheStatusLine) {
    RecordingLog log;
    TLVResponsePrinter("SELECT").PrintResponse(RApdu(Binary(std::string(Fci) + "9000")), "Ok", log);
    ASSERT_EQ(log.records.size(), 1u);
    EXPECT_EQ(log.records[0].level, 2);
    EXPECT_EQ(log.records[0].text, "Response: 7 (0x7)\n" + FciTree + "\nStatus: 9000 (Ok)" + Equals + "\n");
}

TEST(TLVResponsePrinter, WarnsAndPrintsHexWhenTheDataIsNotBerTlv) {
    RecordingLog log;
    TLVResponsePrinter().PrintResponse(RApdu(Binary("6F 9000")), "", log);
    ASSERT_EQ(log.records.size(), 2u);
    EXPECT_EQ(log.records[0].level, 6);
    EXPECT_EQ(log.records[0].text, "Данные ответа имеют некорректный формат!\n");
    EXPECT_EQ(log.records[1].text, "Response: 1 (0x1)\n6F\nStatus: 9000" + Equals + "\n");
}

TEST(TLVResponsePrinter, WithoutDataPrintsOnlyTheStatus) {
    RecordingLog log;
    TLVResponsePrinter().PrintResponse(RApdu(Binary("6A82")), "Файл или приложение не найдены", log);
    ASSERT_EQ(log.records.size(), 1u);
    EXPECT_EQ(log.records[0].text, "Status: 6A82 (Файл или приложение не найдены)" + Equals + "\n");
}

TEST(TLVPrinters, ClonesKeepTheirKindAndName) {
    const std::shared_ptr<I_APDU_Printer> request = TLVRequestPrinter("REQ").Clone();
    const std::shared_ptr<I_APDU_Printer> response = TLVResponsePrinter("RESP").Clone();
    EXPECT_NE(dynamic_cast<TLVRequestPrinter*>(request.get()), nullptr);
    EXPECT_NE(dynamic_cast<TLVResponsePrinter*>(response.get()), nullptr);
    std::string names;
    request->AppendName(names);
    response->AppendName(names);
    EXPECT_EQ(names, "REQ\nRESP");
}

}  // namespace
}  // namespace ZORVIK
