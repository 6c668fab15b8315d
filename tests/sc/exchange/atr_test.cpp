#include "sc/exchange/atr.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <tuple>

#include "service/common/exception.h"
#include "service/log/recording_log.h"
#include "support/file_text.h"
#include "support/vectors.h"

namespace ZORVIK {
namespace {

using binary::Binary;
using testing::StrEq;
using testing::ThrowsMessage;

std::string SupportedText(ATR& atr) {
    std::string text = atr.IsProtocolSupported(0) ? "T0" : "";
    if (atr.IsProtocolSupported(1)) text += text.empty() ? "T1" : " T1";
    return text;
}

// The report of Elaborate, one line per record, all at importance 3.
std::string ReportOf(const Binary& raw) {
    ATR atr;
    atr.SetAtr(raw, true);
    test::RecordingLog log;
    atr.Elaborate(atr.GetRaw(), &log);
    std::string report;
    for (const LogRecord& r : log.records) {
        EXPECT_EQ(r.level, 3);
        EXPECT_EQ(r.text.find('\n'), r.text.size() - 1) << r.text;
        report += r.text;
    }
    return report;
}

// Answers to reset of real cards, and answers written for one rule each.
std::vector<test::TestVector> Answers() {
    std::vector<test::TestVector> answers = test::LoadVectors("atr/published.vec");
    for (auto& v : test::LoadVectors("atr/rules.vec")) answers.push_back(v);
    return answers;
}

TEST(AtrPublished, RealCardsDecodeAsTheStandardSays) {
    for (const auto& v : Answers()) {
        SCOPED_TRACE(v.Where() + " " + v.Text("Card"));
        ATR atr;
        atr.SetAtr(v.Bin("ATR"), false);
        EXPECT_EQ(SupportedText(atr), v.Text("Supported"));
        EXPECT_EQ(atr.GetPreferredProtocol(), v.Number("First"));
        const AtrDetail& detail = atr.GetDetail();
        EXPECT_EQ(detail.protocols.at(0).Fi, v.Number("Fi"));
        EXPECT_EQ(detail.protocols[0].Di, v.Number("Di"));
        EXPECT_EQ(detail.historical, v.Bin("Historical"));
        EXPECT_EQ(detail.tckRequired, v.Text("TCK") == "ok");
        EXPECT_EQ(detail.tckOk, v.Text("TCK") == "ok");
        if (v.Has("LastFi")) {
            EXPECT_EQ(detail.protocols.back().Fi, v.Number("LastFi"));
            EXPECT_EQ(detail.protocols.back().Di, v.Number("LastDi"));
        }
        if (v.Has("IFSC")) {
            EXPECT_EQ(atr.GetIFSC(), v.Number("IFSC"));
            EXPECT_EQ(atr.GetEdcLength(), v.Number("Edc"));
        }
        if (v.Has("CanChangeMode")) {
            EXPECT_EQ(atr.CanChangeMode(), v.Number("CanChangeMode") != 0);
        }
        if (v.Has("Report")) {
            const Binary golden = binary::LoadBinaryFile(test::DataPath(v.Text("Report")));
            EXPECT_EQ(ReportOf(v.Bin("ATR")), std::string(golden.begin(), golden.end()));
        }
        Binary pps;
        EXPECT_EQ(atr.IsPpsEnabled(), v.Text("PPS") != "disabled");
        if (v.Text("PPS") == "disabled") {
            EXPECT_THAT([&] { atr.MakePPS(atr.GetPreferredProtocol(), pps, true); },
                        ThrowsMessage<Exception>(StrEq("PPS disabled")));
        } else {
            EXPECT_EQ(atr.MakePPS(atr.GetPreferredProtocol(), pps, true), v.Number("First"));
            EXPECT_EQ(pps, v.Bin("PPS"));
        }
    }
}

// Every published answer has a TD2, after which a missing TCK is tolerated.
TEST(AtrPublished, EveryTruncationIsRefusedOrMissesOnlyTheTck) {
    for (const auto& v : test::LoadVectors("atr/published.vec")) {
        SCOPED_TRACE(v.Where() + " " + v.Text("Card"));
        const Binary full = v.Bin("ATR");
        for (size_t length = 1; length < full.size(); ++length) {
            SCOPED_TRACE(length);
            AtrDetail detail;
            const Binary prefix = Slice(full, 0, static_cast<uint32_t>(length));
            if (v.Text("TCK") == "ok" && length == full.size() - 1) {
                // A required TCK that the data does not hold is tolerated.
                ATR::ParseAtr(prefix.data(), static_cast<uint32_t>(prefix.size()), detail);
                EXPECT_FALSE(detail.tckOk);
            } else {
                EXPECT_THAT([&] { ATR::ParseAtr(prefix.data(), static_cast<uint32_t>(prefix.size()), detail); },
                            ThrowsMessage<Exception>(StrEq("Invalid ATR")));
            }
        }
    }
}

TEST(AtrTA1, DecodesTheTablesOfTheStandard) {
    for (const auto& v : test::LoadVectors("atr/ta1.vec")) {
        SCOPED_TRACE(v.Where() + " TA1 " + v.Text("TA1"));
        AtrProtocolRecord record;
        ATR::DecodeTA1(v.Bin("TA1").at(0), record);
        EXPECT_EQ(record.Fi, v.Number("Fi"));
        EXPECT_EQ(record.fmax, v.Number("Fmax"));
        EXPECT_EQ(record.Di, v.Number("Di"));
        EXPECT_EQ(record.ta1, v.Bin("PPS1").at(0));
    }
}

TEST(AtrParse, RefusesMalformedAnswers) {
    for (const auto& v : test::LoadVectors("atr/malformed.vec")) {
        SCOPED_TRACE(v.Where());
        ATR atr;
        EXPECT_THAT([&] { atr.SetAtr(v.Bin("ATR"), true); }, ThrowsMessage<Exception>(StrEq(v.Text("Error"))));
        // A failed parse is met again by the next question.
        EXPECT_THAT([&] { atr.GetPreferredProtocol(); }, ThrowsMessage<Exception>(StrEq(v.Text("Error"))));
    }
    ATR empty;
    EXPECT_THAT([&] { empty.GetIFSC(); }, ThrowsMessage<Exception>(StrEq("Invalid ATR")));
    AtrDetail detail;
    EXPECT_THAT([&] { ATR::ParseAtr(nullptr, 2, detail); }, ThrowsMessage<Exception>(StrEq("Invalid ATR")));
}

// The interface characters of every level, and what TA1, TA2 and TA3 mean for the records.
TEST(AtrParse, LevelsAndTheRecordsTheyMake) {
    ATR t1Crc;
    t1Crc.SetAtr(Binary("3B 80 81 51 FE 01 AF"), true);  // TD1 T=1, TD2 T=1 with TA3 FE and TC3 01
    const AtrDetail& levels = t1Crc.GetDetail();
    EXPECT_EQ(levels.TD, (std::vector<uint16_t>{0x180, 0x181, 0x151, 0x000}));
    EXPECT_EQ(levels.TA, (std::vector<uint16_t>{0x000, 0x000, 0x000, 0x1FE}));
    EXPECT_EQ(levels.TB, (std::vector<uint16_t>{0x000, 0x000, 0x000, 0x000}));
    EXPECT_EQ(levels.TC, (std::vector<uint16_t>{0x000, 0x000, 0x000, 0x101}));
    EXPECT_EQ(levels.tck, 0xAF);
    // TA3 20 is the IFSC of T=1: the T=1 record keeps TA1 13, and GetTA gives it.
    ATR ta3;
    ta3.SetAtr(Binary("3B 90 13 80 31 20 45 57"), true);
    ASSERT_EQ(ta3.GetDetail().protocols.size(), 3u);
    EXPECT_EQ(ta3.GetDetail().protocols[2].T, 1);
    EXPECT_EQ(ta3.GetDetail().protocols[2].ta1, 0x13);
    EXPECT_EQ(ta3.GetTA(1), 0x13);
    EXPECT_EQ(ta3.GetTA(0), 0x13);
    // TA2 with bit 5: the implicit parameters, PPS1 11, for the offered protocol only.
    ATR implicit;
    implicit.SetAtr(Binary("3B 90 96 11 11 06"), true);
    EXPECT_EQ(implicit.GetDetail().protocols[0].ta1, 0x96);
    EXPECT_EQ(implicit.GetDetail().protocols[1].ta1, 0x11);
    EXPECT_EQ(implicit.GetDetail().protocols[1].modeChange, AtrProtocolRecord::CanChangeMode);
    EXPECT_EQ(implicit.GetTA(1), 0x11);
    // The low nibble of TA2 names the protocol of the specific mode, whatever TD1 indicated;
    // for T=1 the TCK is required.
    ATR specificT1;
    specificT1.SetAtr(Binary("3B 90 96 10 01 17"), true);
    EXPECT_EQ(specificT1.GetDetail().protocols.at(1).T, 1);
    EXPECT_TRUE(specificT1.GetDetail().tckRequired);
    EXPECT_TRUE(specificT1.GetDetail().tckOk);
    EXPECT_EQ(specificT1.GetPreferredProtocol(), 1);
    EXPECT_TRUE(specificT1.GetDetail().protocols[1].firstOffered);
    EXPECT_FALSE(specificT1.GetDetail().protocols[0].firstOffered);
    // Without TD1 the implicit T=0 record is the one first offered.
    ATR bare;
    bare.SetAtr(Binary("3B 00"), true);
    EXPECT_TRUE(bare.GetDetail().protocols.at(0).firstOffered);
    // A card that offers T=14 alone supports neither T=0 nor T=1.
    ATR t14;
    t14.SetAtr(Binary("3B 80 0E 8E"), true);
    EXPECT_EQ(SupportedText(t14), "");
    EXPECT_EQ(t14.GetPreferredProtocol(), ProtocolRaw);
    // A card in specific mode takes no PPS, strict or not.
    Binary pps;
    EXPECT_THAT([&] { implicit.MakePPS(1, pps, false); }, ThrowsMessage<Exception>(StrEq("PPS disabled")));
    EXPECT_THAT([&] { implicit.GetTA(15); }, ThrowsMessage<Exception>(StrEq("Protocol not supported")));
}

// New bytes are parsed at the next question; the same bytes are not parsed again.
TEST(AtrParse, NewBytesAreEvaluatedAtTheNextQuestion) {
    ATR atr;
    atr.SetAtr(Binary("3B 02 14 50"), false);
    EXPECT_EQ(atr.GetPreferredProtocol(), 0u);
    EXPECT_EQ(atr.GetDetail().historical, Binary("14 50"));
    atr.SetAtr(Binary("3B FA 18 00 00 81 31 FE 45 4A 43 4F 50 34 31 56 32 32 31 9D"), false);
    EXPECT_EQ(atr.GetPreferredProtocol(), 1u);
    EXPECT_EQ(atr.GetIFSC(), 254);
    EXPECT_EQ(SupportedText(atr), "T1");  // T=0 of the card before is not kept
    // What a card in specific mode forbade does not stay for the next card.
    atr.SetAtr(Binary("3B 90 96 11 81 96"), false);  // TA2: T=1, the card cannot change mode
    EXPECT_FALSE(atr.CanChangeMode());
    atr.SetAtr(Binary("3B 02 14 50"), false);
    EXPECT_TRUE(atr.CanChangeMode());
    EXPECT_TRUE(atr.IsPpsEnabled());
    atr.SetAtr(Binary("3C 00"), false);
    EXPECT_THAT([&] { atr.GetIFSC(); }, ThrowsMessage<Exception>(StrEq("Invalid ATR")));
    EXPECT_EQ(atr.GetRaw(), Binary("3C 00"));
    ATR copy;
    copy = atr;
    copy.SetAtr(Binary("3B 98 13 40 0A A5 03 01 01 01 AD 13 11"), false);
    EXPECT_EQ(copy.GetDetail().protocols[0].Di, 4);
    EXPECT_THAT([&] { atr.GetIFSC(); }, ThrowsMessage<Exception>(StrEq("Invalid ATR")));  // the copy is its own
}

TEST(AtrPps, TheOtherProtocolOnlyWhenNotStrict) {
    ATR t0Only;
    t0Only.SetAtr(Binary("3B 10 96"));
    ATR t1Only;
    t1Only.SetAtr(Binary("3B 90 11 11 01 91"));
    EXPECT_EQ(t1Only.GetTA(1), 0x11);
    EXPECT_THAT([&] { t1Only.GetTA(0); }, ThrowsMessage<Exception>(StrEq("Protocol not supported")));
    EXPECT_THAT([&] { t1Only.GetTA(15); }, ThrowsMessage<Exception>(StrEq("Protocol not supported")));
    t1Only.SetAtr(Binary("3B FA 18 00 00 81 31 FE 45 4A 43 4F 50 34 31 56 32 32 31 9D"));
    Binary pps;
    EXPECT_EQ(t0Only.MakePPS(1, pps, false), 0u);
    EXPECT_EQ(pps, Binary("FF 10 96 79"));
    EXPECT_EQ(t1Only.MakePPS(0, pps, false), 1u);
    EXPECT_EQ(pps, Binary("FF 11 18 F6"));
    for (auto [atr, protocol, strict] : {std::tuple{&t0Only, 1, true}, {&t0Only, 2, false}, {&t1Only, 0, true}}) {
        EXPECT_THAT([&] { atr->MakePPS(protocol, pps, strict); }, ThrowsMessage<Exception>(StrEq("Cannot Make PPS")));
    }
}

TEST(AtrReport, GuardTimeFromTA1WhenT15IsPresent) {
    // TC1 02 and a T=15 level (TD2 1F, TA3 07): R is Fi/Di of TA1 96, 512 / 32.
    const std::string report = ReportOf(Binary("3B D0 96 02 80 1F 07 DC"));
    EXPECT_NE(report.find("\nEGT=2\nGT = 12etu + R * (N/f) [for T=0 and T=1]\n"
                          "R = Fi / Di (from TA1): Fi=512, Di=32\n"),
              std::string::npos)
        << report;
    EXPECT_NE(report.find("\nY: A, B and C\n"), std::string::npos);
    // T=1 offered first, T=0 second: T=1 is preferred.
    EXPECT_TRUE(test::Contains(ReportOf(Binary("3B 80 81 00 01")), "\nPreferred protocol T=1\n"));
    // T=1 offered without its characters: the defaults of ISO/IEC 7816-3, 11.4.
    EXPECT_NE(
        ReportOf(Binary("3B 80 81 00 01")).find("\nT=1 specific : \n  IFSC = 32\n  CWI = 13\n  BWI = 4\n  LRC used\n"),
        std::string::npos);
}

// ISO/IEC 7816-3, 8.3: the first TB after T=15 tells the use of SPU; and the guard
// time of N = 255 follows the protocol the card starts with.
TEST(AtrReport, SpuFromTheFirstTBAfterT15AndTheMinimumGuardTime) {
    const std::pair<const char*, const char*> cases[] = {
        {"3B 80 80 2F 40 6F", "\ncard use standard SPU\n"},
        {"3B 80 80 AF 80 2F 00 00", "\ncard use proprietary SPU\n"},  // TB4 00 after TB3 80 changes nothing
        {"3B 40 FF", "\nEGT=255\nT=0, N=255, GT = 12 etu in PPS\n"},  // no TD1: T=0
        {"3B 80 0E 8E", "\nPreferred protocol RAW\n"},                // T=14 alone
        {"3B 40 FF", "\nProtocols:\nT=0\nFi=372\nDi=1\n(f*10)=50\nTA1=11\n---------\n"},  // the implicit record
    };
    for (const auto& [atr, line] : cases) {
        const std::string report = ReportOf(Binary(atr));
        EXPECT_TRUE(test::Contains(report, line)) << atr << "\n" << report;
    }
}

}  // namespace
}  // namespace ZORVIK
