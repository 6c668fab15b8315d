#include "sc/card_service/os_info.h"

#include <gtest/gtest.h>

namespace ZORVIK {
namespace {

TEST(OsInfo, ParsesProductVersionAndSuffixInLowerCase) {
    const OsInfo info("MORVA_1.92_S");
    EXPECT_EQ(info.GetText(), "morva_1.92_s");
    EXPECT_EQ(info.GetProduct(), "morva");
    EXPECT_EQ(info.GetMajorText(), "1");
    EXPECT_EQ(info.GetMinorText(), "92");
    EXPECT_EQ(info.GetSuffix(), "s");
    EXPECT_EQ(info.GetMajor(), 1);
    EXPECT_EQ(info.GetMinor(), 92);
    EXPECT_TRUE(info.IsVersionSet());
}

TEST(OsInfo, ProductAloneSetsNoVersion) {
    const OsInfo info("MORVA");
    EXPECT_EQ(info.GetProduct(), "morva");
    EXPECT_FALSE(info.IsVersionSet());
    EXPECT_FALSE(info.IsOlderThan(0, 0));
    EXPECT_FALSE(info.IsOlderThan(255, 255));
}

TEST(OsInfo, ReadsTheLeadingDigitsOfEachPart) {
    const OsInfo info("MORVA_2.50S");
    EXPECT_EQ(info.GetMajor(), 2);
    EXPECT_EQ(info.GetMinorText(), "50s");
    EXPECT_EQ(info.GetMinor(), 50);
    EXPECT_EQ(info.GetSuffix(), "");

    const OsInfo noDigits("x_beta.rc");
    EXPECT_EQ(noDigits.GetMajor(), 0);
    EXPECT_EQ(noDigits.GetMinor(), 0);
    EXPECT_TRUE(noDigits.IsVersionSet());
}

TEST(OsInfo, KeepsTheRestAfterTheSecondUnderscoreWhole) {
    const OsInfo info("morva_3.1_debug_build");
    EXPECT_EQ(info.GetMinor(), 1);
    EXPECT_EQ(info.GetSuffix(), "debug_build");
}

TEST(OsInfo, MajorWithoutMinor) {
    const OsInfo info("morva_7");
    EXPECT_EQ(info.GetMajorText(), "7");
    EXPECT_EQ(info.GetMinorText(), "");
    EXPECT_TRUE(info.IsVersionSet());
    EXPECT_TRUE(info.IsOlderThan(7, 1));
    EXPECT_FALSE(info.IsOlderThan(7, 0));
}

TEST(OsInfo, ReparsingForgetsTheOldVersion) {
    OsInfo info("MORVA_1.92_S");
    info.Parse("other");
    EXPECT_EQ(info.GetProduct(), "other");
    EXPECT_FALSE(info.IsVersionSet());
    EXPECT_EQ(info.GetSuffix(), "");
    EXPECT_EQ(info.GetMajor(), 0);
}

TEST(OsInfo, IsOlderThanComparesMajorThenMinor) {
    const OsInfo info("morva_2.5");
    EXPECT_TRUE(info.IsOlderThan(2, 50));
    EXPECT_FALSE(info.IsOlderThan(2, 5));
    EXPECT_FALSE(info.IsOlderThan(2, 4));
    EXPECT_TRUE(info.IsOlderThan(3, 0));
    EXPECT_FALSE(info.IsOlderThan(1, 99));
}

TEST(OsInfo, DefaultIsEmpty) {
    const OsInfo info;
    EXPECT_EQ(info.GetText(), "");
    EXPECT_EQ(info.GetProduct(), "");
    EXPECT_FALSE(info.IsVersionSet());
}

}  // namespace
}  // namespace ZORVIK
