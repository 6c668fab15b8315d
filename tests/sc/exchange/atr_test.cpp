#include "sc/exchange/atr.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <tuple>

#include "service/common/exception.h"
#include "service/log/recording_log.h"
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

TEST(AtrPps, TheOtherProtocolOnlyWhenNotStrict) {
    ATR t0Only;
    t0Only.SetAtr(Binary("3B 10 96"));
    ATR t1Only;
    t1Only.SetAtr(Binary("3B 90 11 11 01 91"));
    EXPECT_EQ(t1Only.GetTA(1), 0x11);
    EXPECT_THAT([&] { t1Only.GetTA(0); }, ThrowsMessage<Exception>(StrEq("Protocol not supported")));
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
    // T=1 offered without its characters: the defaults of ISO/IEC 7816-3, 11.4.
    EXPECT_NE(
        ReportOf(Binary("3B 80 81 00 01")).find("\nT=1 specific : \n  IFSC = 32\n  CWI = 13\n  BWI = 4\n  LRC used\n"),
        std::string::npos);
}

}  // namespace
}  // namespace ZORVIK
