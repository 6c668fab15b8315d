#include "service/log/log.h"

#include <gtest/gtest.h>

#include "service/common/exception.h"
#include "service/log/recording_log.h"

namespace ZORVIK {
namespace {

using test::RecordingLog;

TEST(LevelColour, FollowsTheLevelTableAndIsGreyOutsideIt) {
    // 1 bright cyan, 2 cyan, 3 and 4 grey, 5 bright white, 6 bright yellow, 7 bright red, 8 grey.
    const int32_t expected[] = {0x00, 0x0B, 0x03, 0x07, 0x07, 0x0F, 0x0E, 0x0C, 0x07};
    for (int32_t level = 0; level <= 8; ++level) EXPECT_EQ(LevelColour(level), expected[level]) << level;
    for (int32_t level : {-1, 9, INT32_MIN}) EXPECT_EQ(LevelColour(level), 0x07) << level;
}

TEST(LogPrintf, RecordsTakeTheLevelsColourOrTheGivenOneAndLevelThreeWithAColour) {
    RecordingLog sink;
    LogPrintf(&sink, 7, "Ошибка %d", 3);
    LogPrintfColour(&sink, 6, 11, "%s - %s", "0", "reader");
    sink.Write("no end", 0x0F, false);
    sink.WriteRec(LogRecord(LogColour{0x0A}, "green", false));
    const struct {
        const char* text;
        int32_t level, colour;
    } expected[] = {{"Ошибка 3\n", 7, 0x0C}, {"0 - reader\n", 6, 11}, {"no end", 3, 0x0F}, {"green", 3, 0x0A}};
    ASSERT_EQ(sink.records.size(), 4u);
    for (size_t i = 0; i < 4; ++i) {
        EXPECT_EQ(sink.records[i].text, expected[i].text);
        EXPECT_EQ(sink.records[i].level, expected[i].level) << i;
        EXPECT_EQ(sink.records[i].colour, expected[i].colour) << i;
    }
    EXPECT_THROW(LogPrintf(nullptr, 3, "x"), Exception);
    EXPECT_THROW(LogPrintfColour(nullptr, 3, 7, "x"), Exception);
}

TEST(ImportanceFilter, PassesLevelsAtOrAboveTheThresholdAndTheStricterOfTheChainDecides) {
    auto sink = std::make_shared<RecordingLog>();
    ImportanceFilter filter(5, sink);
    const auto passed = [&](int32_t threshold) {
        filter.SetLevel(threshold);
        sink->records.clear();
        for (int32_t level = 1; level <= 7; ++level) filter.WriteRec(LogRecord(level, "x", false));
        return sink->records.size();
    };
    EXPECT_EQ(passed(5), 3u);
    EXPECT_EQ(passed(8), 0u);
    EXPECT_EQ(passed(-1), 7u);
    EXPECT_EQ(ImportanceFilter(0, sink).GetImportance(), 1);
    EXPECT_EQ(ImportanceFilter(2, std::make_shared<ImportanceFilter>(6, sink)).GetImportance(), 6);
    // At the end of the chain records are dropped.
    EXPECT_NO_THROW(ImportanceFilter(0, nullptr).WriteRec(LogRecord(7, "x", true)));
    EXPECT_NO_THROW(LogFilter(nullptr).WriteRec(LogRecord(7, "x", true)));
}

}  // namespace
}  // namespace ZORVIK
