#include "sc/exchange/capdu_rapdu.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <tuple>

#include "sc/card_service/apdu_printer.h"
#include "service/common/exception.h"

namespace ZORVIK {
namespace {

using binary::Binary;
using testing::StrEq;
using testing::ThrowsMessage;

// ISO/IEC 7816-3, 12.1: every case in its short and extended form. Each command
// encodes to the bytes given, and the bytes decode to a command of the same case,
// data and Ne.
TEST(CApdu, EncodesAndDecodesEveryCase) {
    const Binary ten("00 01 02 03 04 05 06 07 08 09");
    const std::tuple<CApdu, uint32_t, bool, Binary> cases[] = {
        // command, case, extended form, encoding
        {CApdu(0x00, 0xB0, 0x00, 0x00), CApdu::Case1, false, Binary("00 B0 00 00")},
        {CApdu(0x00, 0xB0, 0x00, 0x00, 16), CApdu::Case2Short, false, Binary("00 B0 00 00 10")},
        // Short up to Ne 256 and 255 data bytes, extended above.
        {CApdu(0x00, 0xB0, 0x00, 0x00, 256), CApdu::Case2Short, false, Binary("00 B0 00 00 00")},
        {CApdu(0x00, 0xB0, 0x00, 0x00, 257), CApdu::Case2Extended, true, Binary("00 B0 00 00 00 01 01")},
        {CApdu(0x00, 0xB0, 0x00, 0x00, 65536), CApdu::Case2Extended, true, Binary("00 B0 00 00 00 00 00")},
        {CApdu(0, 0xD6, 0, 0, Binary(255, 0)), CApdu::Case3Short, false, Binary("00 D6 00 00 FF") + Binary(255, 0)},
        {CApdu(0, 0xD6, 0, 0, Binary(256, 0)), CApdu::Case3Extended, true, Binary("00D6000000 0100") + Binary(256, 0)},
        {CApdu(0, 0xA4, 4, 0, Binary("3F"), 18), CApdu::Case4Short, false, Binary("00 A4 04 00 01 3F 12")},
        {CApdu(0, 0xA4, 4, 0, Binary("3F00"), 256), CApdu::Case4Short, false, Binary("00 A4 04 00 02 3F 00 00")},
        {CApdu(0, 0xD6, 0, 0, Binary(300, 1), 256), CApdu::Case4Extended, true,
         Binary("00 D6 00 00 00 01 2C") + Binary(300, 1) + Binary("01 00")},
        {CApdu(0, 0xD6, 0, 0, Binary("AB"), 65536), CApdu::Case4Extended, true, Binary("00D6000000 0001AB 0000")},
        // The extended flag forces the extended form; case 1 has none.
        {CApdu(0, 0xD6, 0, 0, ten, 20, true), CApdu::Case4Extended, true,
         Binary("00D6000000000A") + ten + Binary("0014")},
        {CApdu(0x00, 0xB0, 0x00, 0x00, 5, true), CApdu::Case2Extended, true, Binary("00 B0 00 00 00 00 05")},
        {CApdu(0x00, 0xB0, 0x00, 0x00, 256, true), CApdu::Case2Extended, true, Binary("00 B0 00 00 00 01 00")},
        {CApdu(0, 0xD6, 0, 0, Binary("AB"), 0, true), CApdu::Case3Extended, true, Binary("00 D6 00 00 00 00 01 AB")},
        {CApdu(0x00, 0x44, 0x00, 0x00, 0, true), CApdu::Case1, true, Binary("00 44 00 00")},
        // Forced case 4 without data or Ne is the bare header.
        {CApdu(0x80, 0xCA, 0x9F, 0x7F, 0, false, true), CApdu::Case4Short, false, Binary("80 CA 9F 7F")},
        {CApdu(0x80, 0xCA, 0x9F, 0x7F, 0, true, true), CApdu::Case4Extended, true, Binary("80 CA 9F 7F")},
    };
    for (const auto& [command, apduCase, extended, encoding] : cases) {
        SCOPED_TRACE(binary::ToHex(encoding));
        EXPECT_EQ(command.GetCase(), apduCase);
        EXPECT_EQ(command.IsExtended(), extended);
        EXPECT_EQ(command.Encode(), encoding);
        if (command.forceCase4) continue;
        CApdu decoded(0x80, 0x01, 0x02, 0x03, 0x10, true);  // decoding clears the extended flag
        decoded.DecodeCanonical(encoding);
        EXPECT_EQ(decoded.GetCase(), apduCase);
        EXPECT_EQ((Binary{decoded.cla, decoded.ins, decoded.p1, decoded.p2}), Slice(encoding, 0, 4));
        EXPECT_EQ(decoded.data, command.data);
        EXPECT_EQ(decoded.ne, command.ne);
        EXPECT_FALSE(decoded.forceCase4);
        EXPECT_EQ(decoded.printer, nullptr);
        EXPECT_EQ(decoded.Encode(), encoding);
        EXPECT_EQ(CApdu(binary::ToHex(encoding).c_str()).Encode(), encoding);  // the hex-text constructor
    }
    Binary out("FF FF");  // replaced, not appended to
    CApdu(0x00, 0xB0, 0x00, 0x00, 16).Encode(out, true);
    EXPECT_EQ(out, Binary("00 B0 00 00 00 00 10"));
    CApdu(0x00, 0xB0, 0x00, 0x00, 16).Encode(out, false);
    EXPECT_EQ(out, Binary("00 B0 00 00 10"));
    // The pieces of the encoding, one by one.
    const CApdu select(0x00, 0xA4, 0x04, 0x00, Binary("A0 00 00 01 51"), 256);
    Binary pieces;
    select.AppendHeader(pieces);
    select.AppendLc(pieces);
    pieces += select.data;
    select.AppendLe(pieces);
    EXPECT_EQ(pieces, Binary("00 A4 04 00 05 A0 00 00 01 51 00"));
    pieces.clear();
    select.AppendLc(pieces, true);
    select.AppendLe(pieces, true);
    EXPECT_EQ(pieces, Binary("00 00 05 01 00"));
}

TEST(CApdu, RefusesMalformedCommandsAndResponsesAndSizesBeyondTheLimits) {
    const std::string incomplete = "Командное APDU задано не полностью";
    const std::string wrongLc = "Командное APDU некорректно. Вероятно неправильно задано Lc";
    const std::pair<const char*, std::string> cases[] = {
        {"", incomplete},
        {"00", incomplete},
        {"00 A4 00", incomplete},
        {"00 D6 00 00 05 01 02", wrongLc},                     // short Lc larger than the data
        {"00 D6 00 00 01 01 02 03", wrongLc},                  // one byte too many for Lc + Le
        {"00 B0 00 00 00 00", "Командное APDU некорректно."},  // extended form cut after one byte
        {"00 D6 00 00 00 00 02 AB", wrongLc},                  // extended Lc larger than the data
        {"00 D6 00 00 00 00 01 AB CD", wrongLc},               // extended Le cut to one byte
        {"00 D6 00 00 00 00 00 01 02", wrongLc},               // extended Lc of zero
    };
    for (const auto& [hex, message] : cases) {
        EXPECT_THAT([&] { CApdu command{Binary(hex)}; }, ThrowsMessage<Exception>(StrEq(message))) << hex;
    }
    for (const char* hex : {"", "90"}) {
        EXPECT_THAT([&] { RApdu response{Binary(hex)}; },
                    ThrowsMessage<Exception>(
                        StrEq("Некорректная длина структуры RApdu. Отсутствуют обязательные поля статуса")))
            << hex;
    }

    CApdu largest(0x00, 0xD6, 0x00, 0x00, Binary(65535, 0x11), 65536);
    EXPECT_EQ(Slice(largest.Encode(), 4, 3), Binary("00 FF FF"));
    EXPECT_EQ(Back(largest.Encode(), 2), Binary("00 00"));  // Ne 65536
    const auto tooLarge = ThrowsMessage<Exception>(StrEq("Некорректные размеры данных в CApdu"));
    largest.data.push_back(0x11);
    EXPECT_THAT([&] { largest.Encode(); }, tooLarge);
    largest.data.pop_back();
    largest.ne = 65537;
    EXPECT_THAT([&] { largest.SelfCheck(); }, tooLarge);
}

// Copy, assignment and swap carry every field; the printer is cloned, not shared.
TEST(CApdu, CopiesAssignmentsAndSwapsCarryEveryField) {
    CApdu full(0x80, 0xCA, 0x9F, 0x7F, Binary("01 02"), 300, std::make_shared<StandardPrinter>("GET DATA"), true);
    full.forceCase4 = true;
    auto fields = [](const CApdu& c) {
        std::string name;
        if (c.printer) c.printer->AppendName(name);
        return binary::ToHex(Binary{c.cla, c.ins, c.p1, c.p2} + c.data, 0) + " " + std::to_string(c.ne) +
               (c.extended ? " extended" : "") + (c.forceCase4 ? " case4" : "") + " " + name;
    };
    const std::string expected = "80CA9F7F0102 300 extended case4 GET DATA";
    EXPECT_EQ(fields(CApdu(full)), expected);
    CApdu assigned(0x00, 0xB0, 0x00, 0x00, 16);
    assigned = full;
    EXPECT_EQ(fields(assigned), expected);
    CApdu other(0x00, 0xB0, 0x01, 0x02, Binary("03"), 4);
    other.swap(assigned);
    EXPECT_EQ(fields(other), expected);
    EXPECT_EQ(fields(assigned), "00B0010203 4 ");
    EXPECT_EQ(fields(full), expected);  // the source is left as it was
}

// A response is its data and the two status bytes; Clear empties all three.
TEST(RApdu, DecodesEncodesAndClearsEveryField) {
    RApdu response(Binary("01 02 03 6A 82"));
    EXPECT_EQ(response.data, Binary("01 02 03"));
    EXPECT_EQ(response.sw1, 0x6A);
    EXPECT_EQ(response.sw2, 0x82);
    EXPECT_EQ(response.GetSW(), 0x6A82);
    EXPECT_EQ(response.Encode(), Binary("01 02 03 6A 82"));
    response.Clear();
    EXPECT_TRUE(response.data.empty());
    EXPECT_EQ(response.sw1, 0);
    EXPECT_EQ(response.sw2, 0);
    response = RApdu(Binary("AB 61 10"));
    response.DecodeCanonical(Binary("90 00"));  // replaces the data, not appends to it
    EXPECT_EQ(response.Encode(), Binary("90 00"));
}

std::string NameOf(const CApdu& command) {
    std::string name;
    command.printer->AppendName(name);
    return name;
}

TEST(CApdu, EveryCommandOwnsAPrinterOfItsOwn) {
    auto given = std::make_shared<StandardPrinter>("SELECT");
    CApdu original(0x00, 0xA4, 0x04, 0x00, Binary("3F00"), 0, given);
    EXPECT_NE(original.printer, given);
    EXPECT_NE(CApdu(0x00, 0xB0, 0x00, 0x00, 16, given).printer, given);
    const CApdu copy(original);
    CApdu assigned;
    assigned = original;
    EXPECT_NE(copy.printer, original.printer);
    EXPECT_NE(assigned.printer, original.printer);
    EXPECT_EQ(NameOf(assigned), "SELECT");
    original.SetPrinter(StandardPrinter("READ"));
    EXPECT_EQ(NameOf(original), "READ");
    I_APDU_Printer* const handle = original.printer.get();
    EXPECT_EQ(CApdu(std::move(original)).printer.get(), handle);  // a move takes the printer along
    const CApdu bare(0x00, 0xB0, 0x00, 0x00, 16);
    EXPECT_EQ(CApdu(bare).printer, nullptr);  // a copy without printer stays without
}

}  // namespace
}  // namespace ZORVIK
