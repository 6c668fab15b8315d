#include "sc/exchange/capdu_rapdu.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>

#include "sc/exchange/apdu_printer_iface.h"
#include "service/common/exception.h"

namespace ZORVIK {
namespace {

using binary::Binary;
using testing::StrEq;
using testing::ThrowsMessage;

struct DecodeCase {
    const char* canonical;
    const char* data;
    uint32_t ne;
    bool extended;
    uint32_t apduCase;
};

// ISO/IEC 7816-3, 12.1: every case in its short and extended form; each decodes
// to the given fields and encodes back to the same bytes.
const DecodeCase DecodeCases[] = {
    {"00 B0 00 00", "", 0, false, CApdu::Case1},
    {"00 B0 00 00 10", "", 16, false, CApdu::Case2Short},
    {"00 B0 00 00 00", "", 256, false, CApdu::Case2Short},
    {"00 A4 00 00 02 3F 00", "3F00", 0, false, CApdu::Case3Short},
    {"00 A4 04 00 02 3F 00 00", "3F00", 256, false, CApdu::Case4Short},
    {"00 A4 04 00 01 3F 12", "3F", 18, false, CApdu::Case4Short},
    {"00 B0 00 00 00 00 00", "", 65536, true, CApdu::Case2Extended},
    {"00 B0 00 00 00 01 00", "", 256, true, CApdu::Case2Extended},
    {"00 B0 00 00 00 00 05", "", 5, true, CApdu::Case2Extended},
    {"00 D6 00 00 00 00 01 AB", "AB", 0, true, CApdu::Case3Extended},
    {"00 D6 00 00 00 00 02 AB CD 01 02", "ABCD", 0x102, true, CApdu::Case4Extended},
    {"00 D6 00 00 00 00 01 AB 00 00", "AB", 65536, true, CApdu::Case4Extended},
};

TEST(CApduDecode, DecodesEveryCaseAndEncodesItBack) {
    for (const DecodeCase& c : DecodeCases) {
        SCOPED_TRACE(c.canonical);
        const Binary bytes(c.canonical);
        const CApdu command(bytes);
        EXPECT_EQ(command.cla, bytes[0]);
        EXPECT_EQ(command.ins, bytes[1]);
        EXPECT_EQ(command.p1, bytes[2]);
        EXPECT_EQ(command.p2, bytes[3]);
        EXPECT_EQ(command.data, Binary(c.data));
        EXPECT_EQ(command.ne, c.ne);
        EXPECT_EQ(command.extended, c.extended);
        EXPECT_FALSE(command.forceCase4);
        EXPECT_EQ(command.printer, nullptr);
        EXPECT_EQ(command.GetCase(), c.apduCase);
        EXPECT_EQ(command.Encode(), bytes);
        EXPECT_EQ(CApdu(c.canonical).Encode(), bytes);  // the hex-text constructor reads the same
    }
}

TEST(CApduDecode, RefusesMalformedCommands) {
    const std::string incomplete = "Командное APDU задано не полностью";
    const std::string wrongLc = "Командное APDU некорректно. Вероятно неправильно задано Lc";
    const std::string malformed = "Командное APDU некорректно.";
    const std::pair<const char*, const std::string*> cases[] = {
        {"", &incomplete},
        {"00", &incomplete},
        {"00 A4 00", &incomplete},
        {"00 D6 00 00 05 01 02", &wrongLc},        // short Lc larger than the data
        {"00 D6 00 00 01 01 02 03", &wrongLc},     // one byte too many for Lc + Le
        {"00 B0 00 00 00 00", &malformed},         // extended form cut after one byte
        {"00 D6 00 00 00 00 02 AB", &wrongLc},     // extended Lc larger than the data
        {"00 D6 00 00 00 00 01 AB CD", &wrongLc},  // extended Le cut to one byte
        {"00 D6 00 00 00 00 00 01 02", &wrongLc},  // extended Lc of zero
    };
    for (const auto& [hex, message] : cases) {
        SCOPED_TRACE(hex);
        EXPECT_THAT([&] { CApdu command{Binary(hex)}; }, ThrowsMessage<Exception>(StrEq(*message)));
    }
}

TEST(CApduDecode, DecodingClearsTheExtendedFlagAndKeepsThePrinterSlot) {
    CApdu command(0x80, 0x01, 0x02, 0x03, 0x10, true, false);
    command.DecodeCanonical(Binary("00 B0 00 00 10"));
    EXPECT_FALSE(command.extended);
    EXPECT_EQ(command.ne, 16u);
}

TEST(CApduEncode, CaseAndFormFollowTheLengthsAndTheFlags) {
    const Binary ten("00 01 02 03 04 05 06 07 08 09");
    const struct {
        CApdu command;
        uint32_t apduCase;
        bool extended;
        Binary encoding;
    } cases[] = {
        // Short up to Ne 256 and 255 data bytes, extended above.
        {CApdu(0x00, 0xB0, 0x00, 0x00, 256), CApdu::Case2Short, false, Binary("00 B0 00 00 00")},
        {CApdu(0x00, 0xB0, 0x00, 0x00, 257), CApdu::Case2Extended, true, Binary("00 B0 00 00 00 01 01")},
        {CApdu(0x00, 0xB0, 0x00, 0x00, 65536), CApdu::Case2Extended, true, Binary("00 B0 00 00 00 00 00")},
        {CApdu(0, 0xD6, 0, 0, Binary(255, 0)), CApdu::Case3Short, false, Binary("00 D6 00 00 FF") + Binary(255, 0)},
        {CApdu(0, 0xD6, 0, 0, Binary(256, 0)), CApdu::Case3Extended, true,
         Binary("00 D6 00 00 00 01 00") + Binary(256, 0)},
        {CApdu(0x00, 0xD6, 0x00, 0x00, Binary(300, 0x5A), 0), CApdu::Case3Extended, true,
         Binary("00 D6 00 00 00 01 2C") + Binary(300, 0x5A)},
        {CApdu(0x00, 0xD6, 0x00, 0x00, Binary(300, 0x5A), 256), CApdu::Case4Extended, true,
         Binary("00 D6 00 00 00 01 2C") + Binary(300, 0x5A) + Binary("01 00")},
        // The extended flag forces the extended form, except for case 1.
        {CApdu(0x00, 0xD6, 0x00, 0x00, ten, 20, true), CApdu::Case4Extended, true,
         Binary("00 D6 00 00 00 00 0A") + ten + Binary("00 14")},
        {CApdu(0x00, 0x44, 0x00, 0x00, 0, true), CApdu::Case1, true, Binary("00 44 00 00")},
        // Forced case 4 without data or Ne is the bare header.
        {CApdu(0x80, 0xCA, 0x9F, 0x7F, 0, false, true), CApdu::Case4Short, false, Binary("80 CA 9F 7F")},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(&c - cases);
        EXPECT_EQ(c.command.GetCase(), c.apduCase);
        EXPECT_EQ(c.command.IsExtended(), c.extended);
        EXPECT_EQ(c.command.Encode(), c.encoding);
    }
    CApdu forced(0x80, 0xCA, 0x9F, 0x7F, 0, true, true);
    EXPECT_EQ(forced.GetCase(), CApdu::Case4Extended);
}

TEST(CApduEncode, ForceExtendedArgumentActsLikeTheFlag) {
    const CApdu command(0x00, 0xB0, 0x00, 0x00, 16);
    Binary out("FF FF");  // replaced, not appended to
    command.Encode(out, true);
    EXPECT_EQ(out, Binary("00 B0 00 00 00 00 10"));
    command.Encode(out, false);
    EXPECT_EQ(out, Binary("00 B0 00 00 10"));
}

TEST(CApduEncode, PiecesBuildTheEncoding) {
    const CApdu command(0x00, 0xA4, 0x04, 0x00, Binary("A0 00 00 01 51"), 256);
    Binary pieces;
    command.AppendHeader(pieces);
    command.AppendLc(pieces);
    pieces += command.data;
    command.AppendLe(pieces);
    EXPECT_EQ(pieces, command.Encode());
    EXPECT_EQ(pieces, Binary("00 A4 04 00 05 A0 00 00 01 51 00"));
}

TEST(CApduEncode, SizeLimits) {
    CApdu command(0x00, 0xD6, 0x00, 0x00, Binary(65535, 0x11), 65536);
    Binary out;
    command.Encode(out);
    EXPECT_EQ(Binary(out.begin() + 4, out.begin() + 7), Binary("00 FF FF"));
    EXPECT_EQ(Back(out, 2), Binary("00 00"));

    command.data.push_back(0x11);
    EXPECT_THAT([&] { command.Encode(out); }, ThrowsMessage<Exception>(StrEq("Некорректные размеры данных в CApdu")));
    command.data.pop_back();
    command.ne = 65537;
    EXPECT_THAT([&] { command.SelfCheck(); }, ThrowsMessage<Exception>(StrEq("Некорректные размеры данных в CApdu")));
}

// A printer that counts its live instances and remembers which one it was cloned from.
class CountingPrinter : public I_APDU_Printer {
public:
    static int live;
    explicit CountingPrinter(std::string name) : m_name(std::move(name)) { ++live; }
    CountingPrinter(const CountingPrinter& other) : I_APDU_Printer(other), m_name(other.m_name) { ++live; }
    ~CountingPrinter() override { --live; }

    void PrintCommand(const CApdu&, iLog&) const override {}
    void PrintResponse(const RApdu&, const std::string&, iLog&) const override {}
    void AppendName(std::string& text) const override { text += m_name; }
    void FormatExchange(const CApdu&, const RApdu&, std::string& out) const override { out = m_name; }
    std::shared_ptr<I_APDU_Printer> Clone() const override { return std::make_shared<CountingPrinter>(*this); }

private:
    std::string m_name;
};
int CountingPrinter::live = 0;

std::string NameOf(const CApdu& command) {
    std::string name;
    command.printer->AppendName(name);
    return name;
}

TEST(CApduPrinter, ConstructorsCloneTheGivenPrinter) {
    auto printer = std::make_shared<CountingPrinter>("SELECT");
    const CApdu withData(0x00, 0xA4, 0x04, 0x00, Binary("3F00"), 0, printer);
    const CApdu withoutData(0x00, 0xB0, 0x00, 0x00, 16, printer);
    ASSERT_NE(withData.printer, nullptr);
    ASSERT_NE(withoutData.printer, nullptr);
    EXPECT_NE(withData.printer, printer);
    EXPECT_NE(withoutData.printer, printer);
    EXPECT_EQ(NameOf(withData), "SELECT");
    EXPECT_EQ(CountingPrinter::live, 3);
}

TEST(CApduPrinter, CopiesOwnTheirCloneAndMovesTakeTheHandle) {
    ASSERT_EQ(CountingPrinter::live, 0);
    CApdu original(0x00, 0xB0, 0x00, 0x00, 16);
    original.SetPrinter(CountingPrinter("READ"));
    ASSERT_EQ(CountingPrinter::live, 1);
    {
        const CApdu copy(original);
        EXPECT_NE(copy.printer, original.printer);
        EXPECT_EQ(CountingPrinter::live, 2);
        CApdu assigned;
        assigned = original;
        EXPECT_NE(assigned.printer, original.printer);
        EXPECT_EQ(NameOf(assigned), "READ");
        EXPECT_EQ(CountingPrinter::live, 3);
    }
    EXPECT_EQ(CountingPrinter::live, 1);
    EXPECT_EQ(NameOf(original), "READ");

    I_APDU_Printer* const handle = original.printer.get();
    CApdu moved(std::move(original));
    EXPECT_EQ(moved.printer.get(), handle);
    EXPECT_EQ(CountingPrinter::live, 1);

    const CApdu bare(0x00, 0xB0, 0x00, 0x00, 16);
    EXPECT_EQ(CApdu(bare).printer, nullptr);  // a copy without printer stays without
}

TEST(RApdu, DecodesDataAndStatus) {
    const RApdu bare(Binary("90 00"));
    EXPECT_TRUE(bare.data.empty());
    EXPECT_EQ(bare.GetSW(), 0x9000);

    RApdu withData(Binary("01 02 03 6A 82"));
    EXPECT_EQ(withData.data, Binary("01 02 03"));
    EXPECT_EQ(withData.sw1, 0x6A);
    EXPECT_EQ(withData.sw2, 0x82);
    EXPECT_EQ(withData.Encode(), Binary("01 02 03 6A 82"));

    withData.Clear();
    EXPECT_TRUE(withData.data.empty());
    EXPECT_EQ(withData.GetSW(), 0);
}

TEST(RApdu, RefusesResponsesWithoutStatus) {
    for (const char* hex : {"", "90"}) {
        SCOPED_TRACE(hex);
        EXPECT_THAT([&] { RApdu response{Binary(hex)}; },
                    ThrowsMessage<Exception>(
                        StrEq("Некорректная длина структуры RApdu. Отсутствуют обязательные поля статуса")));
    }
}

}  // namespace
}  // namespace ZORVIK
