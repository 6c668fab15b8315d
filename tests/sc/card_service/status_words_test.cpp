#include "sc/card_service/status_words.h"

#include <gtest/gtest.h>

#include <array>

namespace ZORVIK {
namespace {

struct StatusCase {
    uint16_t statusWord;
    uint8_t cla;
    const char* expected;
};

void PrintTo(const StatusCase& c, std::ostream* out) {
    *out << std::hex << std::uppercase << c.statusWord << " CLA " << static_cast<int>(c.cla);
}

class DescribeStatusWordTest : public ::testing::TestWithParam<StatusCase> {};

TEST_P(DescribeStatusWordTest, GivesTheTextOfTheStatus) {
    const StatusCase& c = GetParam();
    EXPECT_EQ(DescribeStatusWord(c.statusWord >> 8, c.statusWord & 0xFF, c.cla), c.expected)
        << std::hex << c.statusWord;
}

INSTANTIATE_TEST_SUITE_P(
    IsoStatuses, DescribeStatusWordTest,
    ::testing::Values(StatusCase{0x9000, 0x00, "Ok"}, StatusCase{0x6A82, 0x00, "Файл или приложение не найдены"},
                      // Not in the table: the row of its SW1 group.
                      StatusCase{0x6A8F, 0x00, "Неправильные входные данные"},
                      StatusCase{0x6C10, 0x00, "Пошлите ту же команду с P3 = 16"},
                      StatusCase{0x63C2, 0x00, "Ключ предъявлен неверно, осталось попыток: 2"},
                      StatusCase{0x63CF, 0x00, "Ключ предъявлен неверно, осталось попыток: 15"},
                      StatusCase{0x6110, 0x00, "16 байт доступно"}, StatusCase{0x6100, 0x00, "0 байт доступно"},
                      StatusCase{0x7000, 0x00, "Протокольная ошибка (первый нибл должен быть '6' или '9')"},
                      StatusCase{0x0000, 0x00, "Протокольная ошибка (первый нибл должен быть '6' или '9')"},
                      StatusCase{0x9300, 0x00, "Неизвестный статус"},
                      StatusCase{0x6200, 0x00, "Warning: state of EEPROM is unchanged"},
                      StatusCase{0x6283, 0x00, "Warning: Выбранный файл заблокирован (деактивирован)"},
                      StatusCase{0x6300, 0x00, "Warning: Неверная криптограмма терминала"},
                      StatusCase{0x6D00, 0x00, "INS не поддерживается (неизвестная команда)"},
                      StatusCase{0x6445, 0x00, "REASON_SW_NO_MEMORY - не хватает места в EEPROM"},
                      StatusCase{0x644E, 0x00, "REASON_SW_CAP_WRONG_FORMAT - формат загружаемого пакета некорректен"},
                      // 64xx outside the card-manager rows falls back to the 6400 row.
                      StatusCase{0x6499, 0x00, "Execution error: state of EEPROM is unchanged"},
                      StatusCase{0x99FF, 0x00, "Ошибка протокола"}));

INSTANTIATE_TEST_SUITE_P(
    GsmClass, DescribeStatusWordTest,
    ::testing::Values(StatusCase{0x9404, 0xA0, "File ID or pattern not found"},
                      StatusCase{0x9404, 0x00, "Неизвестный статус"},
                      StatusCase{0x9850, 0xA0, "Increase can not be performed, max value reached"},
                      StatusCase{0x9F22, 0xA0, "SW2 bytes of data ready for upload"},
                      StatusCase{0x9110, 0xA0, "Command Ok. SW2 bytes of data are prepared by proactive SIM"},
                      // A status the GSM table does not know falls through to ISO.
                      StatusCase{0x9000, 0xA0, "Ok"}, StatusCase{0x6A82, 0xA0, "Файл или приложение не найдены"}));

TEST(DescribeGsmStatusWord, IsEmptyForUnknownStatus) {
    EXPECT_EQ(DescribeGsmStatusWord(0x9000), "");
    EXPECT_EQ(DescribeGsmStatusWord(0x9401), "");
    EXPECT_EQ(DescribeGsmStatusWord(0x9802), "No CHV initialized");
}

constexpr std::array<ErrorCatalogueRow, 2> HalRows{{
    {0x00010203, "EX_HAL__EEPROM_WRITE", "Ошибка записи в EEPROM"},
    {0x0204, "EX_HAL__NO_TEXT", ""},
}};
constexpr std::array<ErrorCatalogueRow, 2> MorvaRows{{
    {0x0305, "EX_LO_CORE__WRONG_LIFE_PHASE", "Неверная фаза жизненного цикла"},
    {0x0203, "EX_MORVA__SAME_CODE", "Тот же код в другой группе"},
}};
constexpr std::array<ErrorCatalogueGroup, 2> Catalogue{{
    {"hal", HalRows},
    {"morva", MorvaRows},
}};

TEST(DescribeCardException, NamesTheRowOfTheProductGroup) {
    EXPECT_EQ(DescribeCardException("morva", 0x0305, Catalogue),
              " (EX_LO_CORE__WRONG_LIFE_PHASE - Неверная фаза жизненного цикла)");
    EXPECT_EQ(DescribeCardException("morva", 0x0203, Catalogue), " (EX_MORVA__SAME_CODE - Тот же код в другой группе)");
    EXPECT_EQ(DescribeCardException("hal", 0x0204, Catalogue), " (EX_HAL__NO_TEXT)");
}

TEST(DescribeCardException, ComparesOnlyTheLow16BitsOfTheCode) {
    EXPECT_EQ(DescribeCardException("hal", 0x0203, Catalogue), " (EX_HAL__EEPROM_WRITE - Ошибка записи в EEPROM)");
}

TEST(DescribeCardException, ListsEveryGroupWhenTheProductIsUnknownOrLacksTheCode) {
    const std::string both =
        "\nEX_HAL__EEPROM_WRITE - Ошибка записи в EEPROM (OS: hal)"
        "\nEX_MORVA__SAME_CODE - Тот же код в другой группе (OS: morva)";
    EXPECT_EQ(DescribeCardException("", 0x0203, Catalogue), both);
    EXPECT_EQ(DescribeCardException("MORVA", 0x0203, Catalogue), both);  // group names compare byte for byte
    EXPECT_EQ(DescribeCardException("morva", 0x0204, Catalogue), "\nEX_HAL__NO_TEXT");
    EXPECT_EQ(DescribeCardException("morva", 0x7777, Catalogue), "");
}

TEST(DescribeCardException, UsesTheInstalledCatalogue) {
    const ErrorCatalogue previous = GetErrorCatalogue();
    SetErrorCatalogue(Catalogue);
    EXPECT_EQ(DescribeCardException("hal", 0x0204), " (EX_HAL__NO_TEXT)");
    SetErrorCatalogue({});
    EXPECT_EQ(DescribeCardException("hal", 0x0204), "");
    SetErrorCatalogue(previous);
}

}  // namespace
}  // namespace ZORVIK
