// Status-word texts, card-OS error catalogue and card-OS version.
#include "sc/card_service/status_words.h"

#include <gtest/gtest.h>

#include <array>
#include <string>
#include <tuple>

#include "sc/card_service/os_info.h"

namespace ZORVIK {
namespace {

// A row of each kind of the ISO/IEC 7816-4 and GSM 11.11 tables.
TEST(DescribeStatusWord, GivesTheTextOfTheStatusForTheClass) {
    const std::tuple<uint16_t, uint8_t, const char*> cases[] = {
        {0x9000, 0x00, "Ok"},
        {0x6A82, 0x00, "Файл или приложение не найдены"},
        {0x6A8F, 0x00, "Неправильные входные данные"},  // not in the table: the row of its SW1 group
        {0x6283, 0x00, "Warning: Выбранный файл заблокирован (деактивирован)"},
        {0x6C10, 0x00, "Пошлите ту же команду с P3 = 16"},
        {0x63C2, 0x00, "Ключ предъявлен неверно, осталось попыток: 2"},
        {0x6110, 0x00, "16 байт доступно"},
        {0x7000, 0x00, "Протокольная ошибка (первый нибл должен быть '6' или '9')"},
        {0x9300, 0x00, "Неизвестный статус"},
        {0x99FF, 0x00, "Ошибка протокола"},
        {0x6445, 0x00, "REASON_SW_NO_MEMORY - не хватает места в EEPROM"},
        {0x6499, 0x00, "Execution error: state of EEPROM is unchanged"},  // 64xx outside the card-manager rows
        {0x9404, 0xA0, "File ID or pattern not found"},                   // GSM class A0
        {0x9404, 0x00, "Неизвестный статус"},
        {0x9000, 0xA0, "Ok"},  // unknown to the GSM table: ISO
    };
    for (const auto& [statusWord, cla, expected] : cases) {
        EXPECT_EQ(DescribeStatusWord(statusWord >> 8, statusWord & 0xFF, cla), expected) << std::hex << statusWord;
    }
}

constexpr std::array<ErrorCatalogueRow, 2> HalRows{
    {{0x00010203, "EX_HAL__EEPROM_WRITE", "Ошибка записи в EEPROM"}, {0x0204, "EX_HAL__NO_TEXT", ""}}};
constexpr std::array<ErrorCatalogueRow, 2> MorvaRows{{{0x0305, "EX_LO_CORE__WRONG_LIFE_PHASE", "Неверная фаза"},
                                                      {0x0203, "EX_MORVA__SAME_CODE", "Тот же код в другой группе"}}};
constexpr std::array<ErrorCatalogueGroup, 2> Catalogue{{{"hal", HalRows}, {"morva", MorvaRows}}};

TEST(DescribeCardException, NamesTheRowOfTheProductGroupOrListsEveryGroupWithTheCode) {
    const std::string both =
        "\nEX_HAL__EEPROM_WRITE - Ошибка записи в EEPROM (OS: hal)"
        "\nEX_MORVA__SAME_CODE - Тот же код в другой группе (OS: morva)";
    const std::tuple<const char*, uint16_t, std::string> cases[] = {
        {"morva", 0x0203, " (EX_MORVA__SAME_CODE - Тот же код в другой группе)"},
        {"hal", 0x0204, " (EX_HAL__NO_TEXT)"},
        {"hal", 0x0203, " (EX_HAL__EEPROM_WRITE - Ошибка записи в EEPROM)"},  // only the low 16 bits count
        {"", 0x0203, both},
        {"MORVA", 0x0203, both},  // group names compare byte for byte
        {"morva", 0x0204, "\nEX_HAL__NO_TEXT"},
        {"morva", 0x7777, ""},
    };
    for (const auto& [product, code, expected] : cases) {
        EXPECT_EQ(DescribeCardException(product, code, Catalogue), expected) << product << " " << code;
    }
}

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
    const std::tuple<const char*, int, int, bool> cases[] = {
        {"morva_2.5", 2, 50, true}, {"morva_2.5", 2, 5, false},  {"morva_2.5", 2, 4, false},
        {"morva_2.5", 3, 0, true},  {"morva_2.5", 1, 99, false}, {"morva_7", 7, 1, true},
        {"morva_7", 7, 0, false},   {"MORVA", 0, 0, false},      {"MORVA", 255, 255, false},
    };
    for (const auto& [text, major, minor, older] : cases) {
        EXPECT_EQ(OsInfo(text).IsOlderThan(major, minor), older) << text << " " << major << "." << minor;
    }
}

}  // namespace
}  // namespace ZORVIK
