#include "sc/card_service/status_words.h"

#include <gtest/gtest.h>

#include <array>
#include <tuple>

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

constexpr std::array<ErrorCatalogueRow, 2> HalRows{{
    {0x00010203, "EX_HAL__EEPROM_WRITE", "Ошибка записи в EEPROM"},
    {0x0204, "EX_HAL__NO_TEXT", ""},
}};
constexpr std::array<ErrorCatalogueRow, 2> MorvaRows{{
    {0x0305, "EX_LO_CORE__WRONG_LIFE_PHASE", "Неверная фаза жизненного цикла"},
    {0x0203, "EX_MORVA__SAME_CODE", "Тот же код в другой группе"},
}};
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
    const ErrorCatalogue previous = GetErrorCatalogue();
    SetErrorCatalogue(Catalogue);
    EXPECT_EQ(DescribeCardException("hal", 0x0204), " (EX_HAL__NO_TEXT)");  // the installed catalogue
    SetErrorCatalogue(previous);
}

}  // namespace
}  // namespace ZORVIK
