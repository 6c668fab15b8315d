#include "sc/exchange/atr.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "service/common/exception.h"
#include "service/log/recording_log.h"
#include "support/vectors.h"

namespace ZORVIK {
namespace {

using binary::Binary;
using testing::StrEq;
using testing::ThrowsMessage;

ATR Parsed(const char* hex) {
    ATR atr;
    atr.SetAtr(Binary(hex), true);
    return atr;
}

std::string SupportedText(ATR& atr) {
    std::string text;
    if (atr.IsProtocolSupported(0)) text += "T0";
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

TEST(AtrPublished, RealCardsDecodeAsTheStandardSays) {
    const auto vectors = test::LoadVectors("atr/published.vec");
    ASSERT_GE(vectors.size(), 12u);
    for (const auto& v : vectors) {
        SCOPED_TRACE(v.Where() + " " + v.Text("Card"));
        ATR atr;
        atr.SetAtr(v.Bin("ATR"), false);
        EXPECT_EQ(SupportedText(atr), v.Text("Supported"));
        EXPECT_EQ(atr.GetPreferredProtocol(), v.Number("First"));
        const AtrDetail& detail = atr.GetDetail();
        ASSERT_FALSE(detail.protocols.empty());
        EXPECT_EQ(detail.protocols[0].Fi, v.Number("Fi"));
        EXPECT_EQ(detail.protocols[0].Di, v.Number("Di"));
        EXPECT_EQ(detail.historical, v.Bin("Historical"));
        EXPECT_EQ(detail.tckRequired, v.Text("TCK") == "ok");
        EXPECT_EQ(detail.tckOk, v.Text("TCK") == "ok");
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
        if (v.Text("PPS") == "disabled") {
            EXPECT_FALSE(atr.IsPpsEnabled());
            EXPECT_THAT([&] { atr.MakePPS(atr.GetPreferredProtocol(), pps, true); },
                        ThrowsMessage<Exception>(StrEq("PPS disabled")));
        } else {
            EXPECT_TRUE(atr.IsPpsEnabled());
            EXPECT_EQ(atr.MakePPS(atr.GetPreferredProtocol(), pps, true), v.Number("First"));
            EXPECT_EQ(pps, v.Bin("PPS"));
        }
    }
}

TEST(AtrPublished, EveryTruncationIsRefusedOrMissesOnlyTheTck) {
    for (const auto& v : test::LoadVectors("atr/published.vec")) {
        SCOPED_TRACE(v.Where() + " " + v.Text("Card"));
        const Binary full = v.Bin("ATR");
        const bool hasTck = v.Text("TCK") == "ok";
        for (size_t length = 1; length < full.size(); ++length) {
            SCOPED_TRACE(length);
            AtrDetail detail;
            const Binary prefix(full.begin(), full.begin() + static_cast<std::ptrdiff_t>(length));
            if (hasTck && length == full.size() - 1) {
                // A required TCK that the data does not hold is tolerated.
                ATR::ParseAtr(prefix.data(), static_cast<uint32_t>(prefix.size()), detail);
                EXPECT_FALSE(detail.tckOk);
            } else {
                EXPECT_THAT([&] { ATR::ParseAtr(prefix.data(), static_cast<uint32_t>(length), detail); },
                            ThrowsMessage<Exception>(StrEq("Invalid ATR")));
            }
        }
    }
}

TEST(AtrTA1, DecodesTheTablesOfTheStandard) {
    for (const auto& v : test::LoadVectors("atr/ta1.vec")) {
        SCOPED_TRACE(v.Where() + " TA1 " + v.Text("TA1"));
        AtrProtocolRecord record;
        ATR::DecodeTA1(static_cast<uint8_t>(std::stoul(v.Text("TA1"), nullptr, 16)), record);
        EXPECT_EQ(record.Fi, v.Number("Fi"));
        EXPECT_EQ(record.fmax, v.Number("Fmax"));
        EXPECT_EQ(record.Di, v.Number("Di"));
        EXPECT_EQ(record.ta1, std::stoul(v.Text("PPS1"), nullptr, 16));
    }
}

TEST(AtrParse, BareAnswersOfEitherConvention) {
    for (const char* hex : {"3B 00", "3F 00"}) {
        SCOPED_TRACE(hex);
        ATR atr = Parsed(hex);
        EXPECT_TRUE(atr.IsProtocolSupported(0));
        EXPECT_FALSE(atr.IsProtocolSupported(1));
        EXPECT_EQ(atr.GetPreferredProtocol(), 0u);
        EXPECT_TRUE(atr.IsPpsEnabled());
        EXPECT_EQ(atr.GetEdcLength(), 1);
        EXPECT_EQ(atr.GetIFSC(), 32);
        EXPECT_FALSE(atr.GetDetail().tckRequired);
        EXPECT_TRUE(atr.GetDetail().historical.empty());
    }
}

TEST(AtrParse, RefusesMalformedAnswers) {
    const std::pair<const char*, const char*> cases[] = {
        {"3C 00", "Invalid ATR"},                                                        // TS neither 3B nor 3F
        {"3B", "Invalid ATR"},                                                           // no T0
        {"3B 10", "Invalid ATR"},                                                        // TA1 announced, missing
        {"3B 02 14", "Invalid ATR"},                                                     // one historical byte short
        {"3B 80 0F", "Invalid ATR"},                                                     // TD1 may not name T=15
        {"3B FA 18 00 00 81 31 FE 45 4A 43 4F 50 34 31 56 32 32 31 9C", "Invalid ATR"},  // wrong TCK
        {"3B FA 18 00 00 81 31 FE 45 4A 43 4F 50 34 31 56 32 32 31 9D 00", "TCK must present"},
        {"3B 80 80 00 FF", "Wrong ATR length"},  // T=0 alone: nothing may follow
    };
    for (const auto& [hex, message] : cases) {
        SCOPED_TRACE(hex);
        ATR atr;
        EXPECT_THAT([&] { atr.SetAtr(Binary(hex), true); }, ThrowsMessage<Exception>(StrEq(message)));
        // A failed parse is met again by the next question.
        EXPECT_THAT([&] { atr.GetPreferredProtocol(); }, ThrowsMessage<Exception>(StrEq(message)));
    }
    ATR empty;
    EXPECT_THAT([&] { empty.GetIFSC(); }, ThrowsMessage<Exception>(StrEq("Invalid ATR")));
    AtrDetail detail;
    EXPECT_THAT([&] { ATR::ParseAtr(nullptr, 2, detail); }, ThrowsMessage<Exception>(StrEq("Invalid ATR")));
}

TEST(AtrParse, HistoricalBytesMayNotReachPastTheLengthLimit) {
    // 24 levels of TD (T=0) push 15 historical bytes beyond position 31, although
    // every byte is there.
    Binary atr("3B 8F");
    for (int i = 0; i < 23; ++i) atr.push_back(0x80);
    atr.push_back(0x00);
    atr.insert(atr.end(), 15, 0x41);
    AtrDetail detail;
    EXPECT_THAT([&] { ATR::ParseAtr(atr.data(), static_cast<uint32_t>(atr.size()), detail); },
                ThrowsMessage<Exception>(StrEq("Invalid ATR")));
}

TEST(AtrParse, T1CharactersAfterTD2) {
    // TD1 T=1, TD2 T=1 with TA3 FE (IFSC 254) and TC3 01 (CRC), TCK AF.
    ATR atr = Parsed("3B 80 81 51 FE 01 AF");
    EXPECT_EQ(atr.GetIFSC(), 254);
    EXPECT_EQ(atr.GetEdcLength(), 2);
    EXPECT_EQ(atr.GetPreferredProtocol(), 1u);
    EXPECT_TRUE(atr.GetDetail().tckOk);
    // Level lists: entry 0 placeholders / T0, then one entry per level.
    const AtrDetail& d = atr.GetDetail();
    EXPECT_EQ(d.TD, (std::vector<uint16_t>{0x180, 0x181, 0x151, 0x000}));
    EXPECT_EQ(d.TA, (std::vector<uint16_t>{0x000, 0x000, 0x000, 0x1FE}));
    EXPECT_EQ(d.TC, (std::vector<uint16_t>{0x000, 0x000, 0x000, 0x101}));
}

TEST(AtrParse, ProtocolCharactersAfterTD2KeepTheTA1Parameters) {
    // TA3 20 is the IFSC of T=1, not a second TA1: the T=1 record keeps Fi/Di of TA1 (13).
    ATR atr = Parsed("3B 90 13 80 31 20 45 57");
    const AtrDetail& d = atr.GetDetail();
    ASSERT_EQ(d.protocols.size(), 3u);
    EXPECT_EQ(d.protocols[2].T, 1);
    EXPECT_EQ(d.protocols[2].Fi, 372);
    EXPECT_EQ(d.protocols[2].Di, 4);
    EXPECT_EQ(atr.GetTA(1), 0x13);
    EXPECT_EQ(atr.GetIFSC(), 0x20);
}

TEST(AtrParse, SpecificModeFollowsTA2) {
    ATR cannot = Parsed("3B F0 12 00 FF 91 81 B1 7C 45 1F 03 99");
    EXPECT_FALSE(cannot.IsPpsEnabled());
    EXPECT_FALSE(cannot.CanChangeMode());
    ATR can = Parsed("3B 90 11 11 01 91");  // TA2 01: bit 8 clear
    EXPECT_FALSE(can.IsPpsEnabled());
    EXPECT_TRUE(can.CanChangeMode());
    Binary pps;
    EXPECT_THAT([&] { can.MakePPS(1, pps, false); }, ThrowsMessage<Exception>(StrEq("PPS disabled")));
    // TA2 bit 5: implicit parameters instead of those of TA1.
    ATR implicit = Parsed("3B 90 96 11 11 06");
    EXPECT_EQ(implicit.GetDetail().protocols[1].Fi, 372);
    EXPECT_EQ(implicit.GetDetail().protocols[1].ta1, 0x11);
    EXPECT_EQ(implicit.GetDetail().protocols[0].ta1, 0x96);
}

TEST(AtrParse, T1FirstAndT0Second) {
    ATR atr = Parsed("3B 80 81 00 01");
    EXPECT_TRUE(atr.IsProtocolSupported(0));
    EXPECT_TRUE(atr.IsProtocolSupported(1));
    EXPECT_EQ(atr.GetPreferredProtocol(), 1u);
    test::RecordingLog log;
    atr.Elaborate(atr.GetRaw(), &log);
    bool found = false;
    for (const LogRecord& r : log.records) found = found || r.text == "Preferred protocol T=1\n";
    EXPECT_TRUE(found);
}

TEST(AtrPps, ReservedNibblesAskForTheDefaultHalf) {
    Binary pps;
    EXPECT_EQ(Parsed("3B 10 71").MakePPS(0, pps, true), 0u);  // FI 7 reserved
    EXPECT_EQ(pps, Binary("FF 10 11 FE"));
    Parsed("3B 10 9F").MakePPS(0, pps, true);  // DI F reserved
    EXPECT_EQ(pps, Binary("FF 10 91 7E"));
    Parsed("3B 10 96").MakePPS(0, pps, true);
    EXPECT_EQ(pps, Binary("FF 10 96 79"));
}

TEST(AtrPps, FallsBackOnlyWhenNotStrict) {
    Binary pps;
    ATR t0Only = Parsed("3B 10 96");
    EXPECT_EQ(t0Only.MakePPS(1, pps, false), 0u);
    EXPECT_EQ(pps, Binary("FF 10 96 79"));
    EXPECT_THAT([&] { t0Only.MakePPS(1, pps, true); }, ThrowsMessage<Exception>(StrEq("Cannot Make PPS")));
    EXPECT_THAT([&] { t0Only.MakePPS(2, pps, false); }, ThrowsMessage<Exception>(StrEq("Cannot Make PPS")));

    ATR t1Only = Parsed("3B FA 18 00 00 81 31 FE 45 4A 43 4F 50 34 31 56 32 32 31 9D");
    EXPECT_EQ(t1Only.MakePPS(0, pps, false), 1u);
    EXPECT_EQ(pps, Binary("FF 11 18 F6"));
    EXPECT_THAT([&] { t1Only.MakePPS(0, pps, true); }, ThrowsMessage<Exception>(StrEq("Cannot Make PPS")));
}

TEST(AtrGetTA, NeedsASupportedProtocol) {
    ATR atr = Parsed("3B F0 12 00 FF 91 81 B1 7C 45 1F 03 99");
    EXPECT_EQ(atr.GetTA(1), 0x12);
    EXPECT_THAT([&] { atr.GetTA(0); }, ThrowsMessage<Exception>(StrEq("Protocol not supported")));
    EXPECT_THAT([&] { atr.GetTA(15); }, ThrowsMessage<Exception>(StrEq("Protocol not supported")));
}

TEST(AtrLazy, NewBytesAreEvaluatedAtTheNextQuestion) {
    ATR atr;
    atr.SetAtr(Binary("3B 02 14 50"), false);
    EXPECT_EQ(atr.GetPreferredProtocol(), 0u);
    atr.SetAtr(Binary("3B 02 14 50"), false);
    EXPECT_EQ(atr.GetDetail().historical, Binary("14 50"));
    atr.SetAtr(Binary("3B FA 18 00 00 81 31 FE 45 4A 43 4F 50 34 31 56 32 32 31 9D"), false);
    EXPECT_EQ(atr.GetPreferredProtocol(), 1u);
    EXPECT_EQ(atr.GetIFSC(), 254);
    atr.SetAtr(Binary("3C 00"), false);
    EXPECT_THAT([&] { atr.GetIFSC(); }, ThrowsMessage<Exception>(StrEq("Invalid ATR")));
    EXPECT_EQ(atr.GetRaw(), Binary("3C 00"));

    ATR copy;
    copy = Parsed("3B 98 13 40 0A A5 03 01 01 01 AD 13 11");
    EXPECT_EQ(copy.GetDetail().protocols[0].Di, 4);
}

TEST(AtrReport, GuardTimeFromTA1WhenT15IsPresent) {
    // TC1 02 and a T=15 level (TD2 1F, TA3 07): R is Fi/Di of TA1 96, 512 / 32.
    const std::string report = ReportOf(Binary("3B D0 96 02 80 1F 07 DC"));
    EXPECT_NE(report.find("\nEGT=2\nGT = 12etu + R * (N/f) [for T=0 and T=1]\n"
                          "R = Fi / Di (from TA1): Fi=512, Di=32\n"),
              std::string::npos)
        << report;
    EXPECT_NE(report.find("\nY: A, B and C\n"), std::string::npos);
}

}  // namespace
}  // namespace ZORVIK
