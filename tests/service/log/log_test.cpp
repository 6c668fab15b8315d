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
    // Levels outside the table are grey.
    EXPECT_EQ(LevelColour(-1), 0x07);
    EXPECT_EQ(LevelColour(9), 0x07);
    EXPECT_EQ(LevelColour(INT32_MIN), 0x07);
}

TEST(LogRecord, ColourFollowsTheLevelAndLevelThreeGoesWithAColour) {
    EXPECT_EQ(LogRecord("reader", 4, 0x0E, "abc", true).text, "abc\n");
    const LogRecord byLevel(6, "warn", false);
    EXPECT_EQ(byLevel.colour, 0x0E);
    EXPECT_EQ(byLevel.text, "warn");
    const LogRecord byColour(LogColour{0x0A}, "green", true);
    EXPECT_EQ(byColour.level, 3);
    EXPECT_EQ(byColour.colour, 0x0A);
    EXPECT_EQ(byColour.text, "green\n");
}

TEST(LogPrintf, FormatsAppendsLineEndAndTakesLevelOrGivenColour) {
    RecordingLog sink;
    LogPrintf(&sink, 7, "Ошибка %d", 3);
    LogPrintfColour(&sink, 7, 11, "%s - %s", "0", "reader");
    ASSERT_EQ(sink.records.size(), 2u);
    EXPECT_EQ(sink.records[0].text, "Ошибка 3\n");
    EXPECT_EQ(sink.records[0].level, 7);
    EXPECT_EQ(sink.records[0].colour, 0x0C);
    EXPECT_EQ(sink.records[0].source, "");
    EXPECT_EQ(sink.records[1].text, "0 - reader\n");
    EXPECT_EQ(sink.records[1].level, 7);
    EXPECT_EQ(sink.records[1].colour, 11);
    EXPECT_THROW(LogPrintf(nullptr, 3, "x"), Exception);
    EXPECT_THROW(LogPrintfColour(nullptr, 3, 7, "x"), Exception);
}

TEST(ILogWrite, WritesLevelThreeWithOrWithoutLineEnd) {
    RecordingLog sink;
    sink.Write("no end", 0x0F, false);
    sink.Write("end", 0x07, true);
    sink.Write(nullptr, 0x07, false);
    ASSERT_EQ(sink.records.size(), 3u);
    EXPECT_EQ(sink.records[0].text, "no end");
    EXPECT_EQ(sink.records[0].level, 3);
    EXPECT_EQ(sink.records[0].colour, 0x0F);
    EXPECT_EQ(sink.records[1].text, "end\n");
    EXPECT_EQ(sink.records[2].text, "");
}

TEST(LogFilter, ForwardsEverythingReportsImportanceOneAndDropsAtTheEnd) {
    auto sink = std::make_shared<RecordingLog>();
    LogFilter filter(sink);
    filter.WriteRec(LogRecord(1, "a", false));
    filter.WriteRec(LogRecord(8, "b", false));
    EXPECT_EQ(sink->records.size(), 2u);
    EXPECT_EQ(filter.GetImportance(), 1);
    EXPECT_NO_THROW(LogFilter(nullptr).WriteRec(LogRecord(7, "x", true)));
}

std::vector<int32_t> PassedLevels(ImportanceFilter& filter, RecordingLog& sink) {
    sink.records.clear();
    for (int32_t level = 1; level <= 7; ++level) filter.WriteRec(LogRecord(level, "x", false));
    std::vector<int32_t> levels;
    for (const LogRecord& record : sink.records) levels.push_back(record.level);
    return levels;
}

TEST(ImportanceFilter, PassesLevelsAtOrAboveTheThreshold) {
    auto sink = std::make_shared<RecordingLog>();
    ImportanceFilter filter(5, sink);
    EXPECT_EQ(PassedLevels(filter, *sink), (std::vector<int32_t>{5, 6, 7}));
    filter.SetLevel(8);
    EXPECT_TRUE(PassedLevels(filter, *sink).empty());
    filter.SetLevel(-1);
    EXPECT_EQ(PassedLevels(filter, *sink).size(), 7u);
}

TEST(ImportanceFilter, ImportanceIsTheGreaterOfThresholdAndChain) {
    auto sink = std::make_shared<RecordingLog>();
    ImportanceFilter low(0, sink);
    EXPECT_EQ(low.GetImportance(), 1);
    ImportanceFilter high(5, sink);
    EXPECT_EQ(high.GetImportance(), 5);
    ImportanceFilter alone(0, nullptr);
    EXPECT_EQ(alone.GetImportance(), 1);
    EXPECT_NO_THROW(alone.WriteRec(LogRecord(7, "x", true)));  // nothing after it: dropped
    // A stricter filter further down the chain decides.
    auto inner = std::make_shared<ImportanceFilter>(6, sink);
    ImportanceFilter outer(2, inner);
    EXPECT_EQ(outer.GetImportance(), 6);
}

}  // namespace
}  // namespace ZORVIK
