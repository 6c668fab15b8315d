// Status-word texts, card-OS error catalogue and card-OS version.
#include "sc/card_service/status_words.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <set>
#include <string>
#include <tuple>
#include <vector>

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

bool HasCyrillic(const std::string& text) {
    return std::any_of(text.begin(), text.end(), [](char c) { return c == '\xD0' || c == '\xD1'; });
}

// Every row of the status-word table, read under its own status word: the texts
// fixed for the toolkit compared whole, the others by words of their ISO/IEC
// 7816-4 meaning; every row in its language and form, and no two rows with one
// text, so that a text stored under another status word fails.
TEST(DescribeStatusWord, EveryRowOfTheTableUnderItsOwnStatusWord) {
    struct Row {
        uint16_t statusWord;
        const char* text;                // the whole text, where it is fixed
        std::vector<const char*> words;  // else words of its meaning
    };
    const Row rows[] = {
        {0x6200, "Warning: state of EEPROM is unchanged", {}},
        {0x6281, nullptr, {"corrupted"}},
        {0x6282, "Warning: End of file or record reached before reading Ne bytes", {}},
        {0x6283, "Warning: Выбранный файл заблокирован (деактивирован)", {}},
        {0x6284, nullptr, {"not formatted"}},
        {0x6285, nullptr, {"файл", "заверш"}},  // selected file in termination state
        {0x6286, nullptr, {"sensor"}},
        {0x6300, "Warning: Неверная криптограмма терминала", {}},
        {0x6381, nullptr, {"filled up"}},
        {0x6400, nullptr, {"Execution error", "unchanged"}},
        {0x6401, nullptr, {"Immediate response"}},
        {0x6500, nullptr, {"Execution error", "has changed"}},
        {0x6581, "Ошибка целостности EEPROM", {}},
        {0x6600, nullptr, {"Security"}},
        {0x6700, "Неверная длина данных", {}},
        {0x6701, nullptr, {"длин", "формат"}},  // command APDU format not compliant
        {0x6800, nullptr, {"CLA"}},
        {0x6881, nullptr, {"канал"}},
        {0x6882, "Security Messaging не поддерживается", {}},
        {0x6883, nullptr, {"последн", "епочк"}},     // last command of the chain expected
        {0x6884, nullptr, {"епочк", "не поддерж"}},  // command chaining not supported
        {0x6900, nullptr, {"не разреш"}},
        {0x6981, nullptr, {"структур"}},
        {0x6982, "Не выполнены требования безопасности", {}},
        {0x6983, "Ключ блокирован", {}},
        {0x6984, nullptr, {"данные", "недейств"}},  // reference data not usable
        {0x6985, "Не выполнены необходимые условия для выполнения команды", {}},
        {0x6986, "Команда не применима (нет текущего файла)", {}},
        {0x6987, nullptr, {"Secure Messaging", "Отсутств"}},
        {0x6988, nullptr, {"Secure Messaging", "Некоррект"}},
        {0x6A00, "Неправильные входные данные", {}},
        {0x6A80, "Поле данных задано некорректно", {}},
        {0x6A81, nullptr, {"Функци", "не поддерж"}},
        {0x6A82, "Файл или приложение не найдены", {}},
        {0x6A83, nullptr, {"Запис", "не найден"}},
        {0x6A84, nullptr, {"памят"}},
        {0x6A85, nullptr, {"TLV"}},
        {0x6A86, "Некорректные параметры P1-P2", {}},
        {0x6A87, nullptr, {"Длин", "P1-P2"}},
        {0x6A88, nullptr, {"Данные", "не найден"}},
        {0x6A89, "Файл уже существует", {}},
        {0x6A8A, nullptr, {"DF", "существует"}},
        {0x6B00, "Смещение за границами дозволенного", {}},
        {0x6D00, "INS не поддерживается (неизвестная команда)", {}},
        {0x6E00, "Класс не поддерживается", {}},
        {0x6F00, "Неизвестная ошибка", {}},
        {0x6437, nullptr, {}},
        {0x6438, nullptr, {}},
        {0x643A, nullptr, {}},
        {0x6442, nullptr, {}},
        {0x6444, nullptr, {}},
        {0x6445, "REASON_SW_NO_MEMORY - не хватает места в EEPROM", {}},
        {0x6447, nullptr, {}},
        {0x6448, nullptr, {}},
        {0x644C, nullptr, {}},
        {0x644D, nullptr, {}},
        {0x644E, "REASON_SW_CAP_WRONG_FORMAT - формат загружаемого пакета некорректен", {}},
        {0x644F, nullptr, {}},
        {0x6450, nullptr, {}},
        {0x99FF, "Ошибка протокола", {}},
    };
    ASSERT_EQ(std::size(rows), 60u);
    std::set<std::string> texts;
    for (const Row& row : rows) {
        const uint16_t sw = row.statusWord;
        SCOPED_TRACE(testing::Message() << std::hex << sw);
        const std::string text = DescribeStatusWord(sw >> 8, sw & 0xFF, 0x00);
        EXPECT_TRUE(texts.insert(text).second) << "the text of another row: " << text;
        if (row.text != nullptr) {
            EXPECT_EQ(text, row.text);
        }
        for (const char* word : row.words) EXPECT_TRUE(text.find(word) != std::string::npos) << word << " in " << text;
        if (sw <= 0x6381) {
            // Warnings: English, except the Russian rest of 6283, 6285 and 6300.
            EXPECT_EQ(text.rfind("Warning: ", 0), 0u) << text;
            EXPECT_EQ(HasCyrillic(text), sw == 0x6283 || sw == 0x6285 || sw == 0x6300) << text;
        } else if (sw == 0x6400 || sw == 0x6401 || sw == 0x6500 || sw == 0x6600) {
            EXPECT_EQ(text.find("Warning"), std::string::npos) << text;
            EXPECT_FALSE(HasCyrillic(text)) << text;
        } else if (sw >= 0x6437 && sw <= 0x6450) {
            // The card manager's load and install failures: REASON_SW_<tag> - <Russian text>.
            const size_t dash = text.find(" - ");
            EXPECT_EQ(text.rfind("REASON_SW_", 0), 0u) << text;
            ASSERT_NE(dash, std::string::npos) << text;
            EXPECT_FALSE(HasCyrillic(text.substr(0, dash))) << text;
            EXPECT_TRUE(HasCyrillic(text.substr(dash))) << text;
        } else {
            EXPECT_TRUE(HasCyrillic(text)) << text;
        }
    }
    // None of them is a text of the steps before the table.
    for (const char* other : {"Неизвестный статус", "Ok"}) EXPECT_EQ(texts.count(other), 0u) << other;
}

// The steps before and after the table: the protocol error, 9000, 61xx, 6Cxx,
// the try counter 63Cx, the row of the SW1 group, and the unknown status.
TEST(DescribeStatusWord, StepsAroundTheTableAndTheirBounds) {
    const std::string protocolError = "Протокольная ошибка (первый нибл должен быть '6' или '9')";
    const std::pair<uint16_t, std::string> cases[] = {
        {0x0000, protocolError},
        {0x5F00, protocolError},
        {0xA000, protocolError},
        {0x6000, "Неизвестный статус"},
        {0x9100, "Неизвестный статус"},
        {0x9901, "Неизвестный статус"},  // 99FF is a row, not a group
        {0x6100, "0 байт доступно"},
        {0x61FF, "255 байт доступно"},
        {0x6C00, "Пошлите ту же команду с P3 = 0"},
        {0x6CFF, "Пошлите ту же команду с P3 = 255"},
        {0x63C0, "Ключ предъявлен неверно, осталось попыток: 0"},
        {0x63CF, "Ключ предъявлен неверно, осталось попыток: 15"},
        {0x63BF, "Warning: Неверная криптограмма терминала"},  // outside 63C0..63CF: the 6300 row
        {0x63D0, "Warning: Неверная криптограмма терминала"},
        {0x6287, "Warning: state of EEPROM is unchanged"},
        {0x6702, "Неверная длина данных"},
        {0x6B01, "Смещение за границами дозволенного"},
        {0x6D01, "INS не поддерживается (неизвестная команда)"},
        {0x6E01, "Класс не поддерживается"},
        {0x6F12, "Неизвестная ошибка"},
    };
    for (const auto& [statusWord, expected] : cases) {
        EXPECT_EQ(DescribeStatusWord(statusWord >> 8, statusWord & 0xFF, 0x00), expected) << std::hex << statusWord;
    }
    // The group rows of 64, 65, 66, 68 and 69 are the rows of their xx00 status.
    for (const uint16_t group : {0x6400, 0x6500, 0x6600, 0x6800, 0x6900}) {
        EXPECT_EQ(DescribeStatusWord(group >> 8, 0x7E, 0x00), DescribeStatusWord(group >> 8, 0x00, 0x00))
            << std::hex << group;
    }
}

// GSM 11.11, 9.4: every row of the table, for the class A0 only.
TEST(DescribeGsmStatusWord, EveryRowOfTheTableForClassA0) {
    const std::pair<uint16_t, const char*> rows[] = {
        {0x9400, "No EF selected"},
        {0x9402, "Out of range (invalid address)"},
        {0x9404, "File ID or pattern not found"},
        {0x9408, "File is inconsistent with the command"},
        {0x9802, "No CHV initialized"},
        {0x9804, "Access conditions not fulfilled or authentication failed"},
        {0x9808, "In contradiction with CHV status"},
        {0x9810, "In contradiction with invalidation status"},
        {0x9840, "Password is blocked"},
        {0x9850, "Increase can not be performed, max value reached"},
    };
    for (const auto& [statusWord, text] : rows) {
        EXPECT_EQ(DescribeGsmStatusWord(statusWord), text) << std::hex << statusWord;
        EXPECT_EQ(DescribeStatusWord(statusWord >> 8, statusWord & 0xFF, 0xA0), text) << std::hex << statusWord;
        // Another class reads the ISO/IEC 7816-4 table, which knows none of them.
        EXPECT_EQ(DescribeStatusWord(statusWord >> 8, statusWord & 0xFF, 0xA1), "Неизвестный статус");
    }
    const std::string proactive = "Command Ok. SW2 bytes of data are prepared by proactive SIM";
    const std::string upload = "SW2 bytes of data ready for upload";
    EXPECT_EQ(DescribeGsmStatusWord(0x9100), proactive);
    EXPECT_EQ(DescribeGsmStatusWord(0x91FF), proactive);
    EXPECT_EQ(DescribeGsmStatusWord(0x9F00), upload);
    EXPECT_EQ(DescribeStatusWord(0x9F, 0x22, 0xA0), upload);
    for (const uint16_t unknown : {0x9000, 0x9401, 0x9803, 0x6A82}) {
        EXPECT_EQ(DescribeGsmStatusWord(unknown), "") << std::hex << unknown;
    }
    EXPECT_EQ(DescribeStatusWord(0x6A, 0x82, 0xA0), "Файл или приложение не найдены");
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
    EXPECT_EQ(DescribeCardException("morva", 0x0305, Catalogue), " (EX_LO_CORE__WRONG_LIFE_PHASE - Неверная фаза)");
    // Without a catalogue argument, the installed one.
    const ErrorCatalogue previous = GetErrorCatalogue();
    SetErrorCatalogue(Catalogue);
    EXPECT_EQ(DescribeCardException("hal", 0x0204), " (EX_HAL__NO_TEXT)");
    SetErrorCatalogue({});
    EXPECT_EQ(DescribeCardException("hal", 0x0204), "");
    SetErrorCatalogue(previous);
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
