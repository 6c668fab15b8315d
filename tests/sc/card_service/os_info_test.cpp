#include "sc/card_service/os_info.h"

#include <gtest/gtest.h>

#include <cctype>
#include <string>

namespace ZORVIK {
namespace {

TEST(OsInfo, SplitsProductVersionAndSuffixInLowerCase) {
    const struct {
        const char* text;
        const char* product;
        const char* majorText;
        const char* minorText;
        const char* suffix;
        int major;
        int minor;
        bool versionSet;
    } cases[] = {
        {"MORVA_1.92_S", "morva", "1", "92", "s", 1, 92, true},
        {"MORVA", "morva", "", "", "", 0, 0, false},                              // product alone
        {"MORVA_2.50S", "morva", "2", "50s", "", 2, 50, true},                    // the leading digits count
        {"x_beta.rc", "x", "beta", "rc", "", 0, 0, true},                         // no digits at all
        {"morva_3.1_debug_build", "morva", "3", "1", "debug_build", 3, 1, true},  // the rest kept whole
        {"morva_7", "morva", "7", "", "", 7, 0, true},                            // major without minor
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        const OsInfo info(c.text);
        std::string lower = c.text;
        for (char& ch : lower) ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
        EXPECT_EQ(info.GetText(), lower);
        EXPECT_EQ(info.GetProduct(), c.product);
        EXPECT_EQ(info.GetMajorText(), c.majorText);
        EXPECT_EQ(info.GetMinorText(), c.minorText);
        EXPECT_EQ(info.GetSuffix(), c.suffix);
        EXPECT_EQ(info.GetMajor(), c.major);
        EXPECT_EQ(info.GetMinor(), c.minor);
        EXPECT_EQ(info.IsVersionSet(), c.versionSet);
    }
    const OsInfo empty;
    EXPECT_EQ(empty.GetText(), "");
    EXPECT_EQ(empty.GetProduct(), "");
    EXPECT_FALSE(empty.IsVersionSet());
}

TEST(OsInfo, IsOlderThanComparesMajorThenMinorAndNeedsAVersion) {
    const struct {
        const char* text;
        int major;
        int minor;
        bool older;
    } cases[] = {
        {"morva_2.5", 2, 50, true}, {"morva_2.5", 2, 5, false},  {"morva_2.5", 2, 4, false},
        {"morva_2.5", 3, 0, true},  {"morva_2.5", 1, 99, false}, {"morva_7", 7, 1, true},
        {"morva_7", 7, 0, false},   {"MORVA", 0, 0, false},      {"MORVA", 255, 255, false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(OsInfo(c.text).IsOlderThan(c.major, c.minor), c.older) << c.text << " " << c.major << "." << c.minor;
}

TEST(OsInfo, ReparsingForgetsTheOldVersion) {
    OsInfo info("MORVA_1.92_S");
    info.Parse("other");
    EXPECT_EQ(info.GetProduct(), "other");
    EXPECT_FALSE(info.IsVersionSet());
    EXPECT_EQ(info.GetSuffix(), "");
    EXPECT_EQ(info.GetMajor(), 0);
}

}  // namespace
}  // namespace ZORVIK
