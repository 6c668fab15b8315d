#include "sc/card_service/os_info.h"

#include <gtest/gtest.h>

#include <string>

namespace ZORVIK {
namespace {

TEST(OsInfo, SplitsProductVersionAndSuffixInLowerCase) {
    const std::pair<const char*, const char*> cases[] = {
        // text, then product | major text | minor text | suffix | major.minor, and whether a version is set
        {"MORVA_1.92_S", "morva_1.92_s: morva|1|92|s|1.92 set"},
        {"MORVA", "morva: morva||||0.0"},                                                   // product alone
        {"MORVA_2.50S", "morva_2.50s: morva|2|50s||2.50 set"},                              // the leading digits count
        {"x_beta.rc", "x_beta.rc: x|beta|rc||0.0 set"},                                     // no digits at all
        {"morva_3.1_debug_build", "morva_3.1_debug_build: morva|3|1|debug_build|3.1 set"},  // the rest kept whole
        {"morva_7", "morva_7: morva|7|||7.0 set"},                                          // major without minor
    };
    for (const auto& [text, expected] : cases) {
        OsInfo info("MORVA_4.44_OLD");  // parsing again forgets the old version
        info.Parse(text);
        EXPECT_EQ(info.GetText() + ": " + info.GetProduct() + "|" + info.GetMajorText() + "|" + info.GetMinorText() +
                      "|" + info.GetSuffix() + "|" + std::to_string(info.GetMajor()) + "." +
                      std::to_string(info.GetMinor()) + (info.IsVersionSet() ? " set" : ""),
                  expected);
    }
    EXPECT_EQ(OsInfo().GetText() + OsInfo().GetProduct(), "");
    EXPECT_FALSE(OsInfo().IsVersionSet());
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

}  // namespace
}  // namespace ZORVIK
