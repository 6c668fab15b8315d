#include "sc/card_service/status_words.h"

#include <array>

namespace ZORVIK {

namespace {

struct StatusText {
    uint32_t statusWord;
    const char* text;
};

// ISO/IEC 7816-4, 5.1.3 status words, the card manager's load and install
// failures (64xx) and the reader's protocol failure 99FF.
constexpr std::array<StatusText, 60> StatusTexts{{
    {0x6200, "Warning: state of EEPROM is unchanged"},
    {0x6281, "Warning: Part of returned data may be corrupted"},
    {0x6282, "Warning: End of file or record reached before reading Ne bytes"},
    {0x6283, "Warning: Выбранный файл заблокирован (деактивирован)"},
    {0x6284, "Warning: File control information not formatted according to ISO/IEC 7816-4"},
    {0x6285, "Warning: Выбранный файл находится в состоянии завершения"},
    {0x6286, "Warning: No input data available from a sensor on the card"},
    {0x6300, "Warning: Неверная криптограмма терминала"},
    {0x6381, "Warning: File filled up by the last write"},
    {0x6400, "Execution error: state of EEPROM is unchanged"},
    {0x6401, "Immediate response required by the card"},
    {0x6500, "Execution error: state of EEPROM has changed"},
    {0x6581, "Ошибка целостности EEPROM"},
    {0x6600, "Security-related issue"},
    {0x6700, "Неверная длина данных"},
    {0x6701, "Неверная длина: формат командного APDU не поддерживается"},
    {0x6800, "Функции, указанные в CLA, не поддерживаются"},
    {0x6881, "Логический канал не поддерживается"},
    {0x6882, "Security Messaging не поддерживается"},
    {0x6883, "Ожидалась последняя команда цепочки"},
    {0x6884, "Цепочка команд не поддерживается"},
    {0x6900, "Команда не разрешена"},
    {0x6981, "Команда несовместима со структурой файла"},
    {0x6982, "Не выполнены требования безопасности"},
    {0x6983, "Ключ блокирован"},
    {0x6984, "Используемые данные недействительны"},
    {0x6985, "Не выполнены необходимые условия для выполнения команды"},
    {0x6986, "Команда не применима (нет текущего файла)"},
    {0x6987, "Отсутствуют ожидаемые объекты Secure Messaging"},
    {0x6988, "Некорректные объекты данных Secure Messaging"},
    {0x6A00, "Неправильные входные данные"},
    {0x6A80, "Поле данных задано некорректно"},
    {0x6A81, "Функция не поддерживается"},
    {0x6A82, "Файл или приложение не найдены"},
    {0x6A83, "Запись не найдена"},
    {0x6A84, "Недостаточно памяти в файле"},
    {0x6A85, "Длина данных не соответствует структуре TLV"},
    {0x6A86, "Некорректные параметры P1-P2"},
    {0x6A87, "Длина данных не соответствует параметрам P1-P2"},
    {0x6A88, "Данные, на которые ссылается команда, не найдены"},
    {0x6A89, "Файл уже существует"},
    {0x6A8A, "Имя DF уже существует"},
    {0x6B00, "Смещение за границами дозволенного"},
    {0x6D00, "INS не поддерживается (неизвестная команда)"},
    {0x6E00, "Класс не поддерживается"},
    {0x6F00, "Неизвестная ошибка"},
    {0x6437, "REASON_SW_IMPORT_NOT_FOUND - импортируемый пакет не найден"},
    {0x6438, "REASON_SW_IMPORT_VERSION - версия импортируемого пакета не поддерживается"},
    {0x643A, "REASON_SW_CLASS_NOT_FOUND - класс апплета не найден в пакете"},
    {0x6442, "REASON_SW_INSTALL_FAILED - метод install апплета завершился с ошибкой"},
    {0x6444, "REASON_SW_AID_IN_USE - AID уже используется на карте"},
    {0x6445, "REASON_SW_NO_MEMORY - не хватает места в EEPROM"},
    {0x6447, "REASON_SW_LOAD_SEQUENCE - нарушена последовательность блоков загрузки"},
    {0x6448, "REASON_SW_PACKAGE_IN_USE - пакет используется другими пакетами или экземплярами"},
    {0x644C, "REASON_SW_CAP_WRONG_COMPONENT - неизвестный или лишний компонент пакета"},
    {0x644D, "REASON_SW_CAP_WRONG_SIZE - размер компонента пакета некорректен"},
    {0x644E, "REASON_SW_CAP_WRONG_FORMAT - формат загружаемого пакета некорректен"},
    {0x644F, "REASON_SW_LINK_FAILED - ошибка связывания загружаемого пакета"},
    {0x6450, "REASON_SW_VERIFY_FAILED - загружаемый пакет не прошел проверку"},
    {0x99FF, "Ошибка протокола"},
}};

// GSM 11.11, 9.4: the statuses of the SIM class A0, searched in this order.
constexpr std::array<StatusText, 10> GsmStatusTexts{{
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
}};

constexpr uint8_t GsmClass = 0xA0;

const char* FindText(std::span<const StatusText> table, uint32_t statusWord) {
    for (const StatusText& row : table) {
        if (row.statusWord == statusWord) return row.text;
    }
    return nullptr;
}

ErrorCatalogue& InstalledCatalogue() {
    static ErrorCatalogue catalogue;
    return catalogue;
}

bool SameCode(const ErrorCatalogueRow& row, uint16_t code) { return static_cast<uint16_t>(row.code) == code; }

bool HasText(const ErrorCatalogueRow& row) { return row.text != nullptr && row.text[0] != '\0'; }

}  // namespace

void SetErrorCatalogue(ErrorCatalogue catalogue) { InstalledCatalogue() = catalogue; }

ErrorCatalogue GetErrorCatalogue() { return InstalledCatalogue(); }

std::string DescribeGsmStatusWord(uint16_t statusWord) {
    const uint8_t sw1 = static_cast<uint8_t>(statusWord >> 8);
    if (sw1 == 0x91) return "Command Ok. SW2 bytes of data are prepared by proactive SIM";
    if (sw1 == 0x9F) return "SW2 bytes of data ready for upload";
    const char* text = FindText(GsmStatusTexts, statusWord);
    return text != nullptr ? text : "";
}

std::string DescribeStatusWord(uint8_t sw1, uint8_t sw2, uint8_t cla) {
    // ISO/IEC 7816-3, 10.3.3: SW1 is always 6X or 9X (60 is a procedure byte).
    const uint8_t nibble = sw1 >> 4;
    if (nibble != 0x6 && nibble != 0x9) return "Протокольная ошибка (первый нибл должен быть '6' или '9')";
    const uint16_t statusWord = static_cast<uint16_t>(sw1 << 8 | sw2);
    if (cla == GsmClass) {
        std::string gsm = DescribeGsmStatusWord(statusWord);
        if (!gsm.empty()) return gsm;
    }
    if (statusWord == 0x9000) return "Ok";
    if (sw1 == 0x61) return std::to_string(sw2) + " байт доступно";
    if (sw1 == 0x6C) return "Пошлите ту же команду с P3 = " + std::to_string(sw2);
    if (sw1 == 0x63 && (sw2 & 0xF0) == 0xC0) {
        return "Ключ предъявлен неверно, осталось попыток: " + std::to_string(sw2 & 0x0F);
    }
    if (const char* text = FindText(StatusTexts, statusWord)) return text;
    if (const char* text = FindText(StatusTexts, static_cast<uint32_t>(sw1) << 8)) return text;
    return "Неизвестный статус";
}

std::string DescribeCardException(const std::string& product, uint16_t code, ErrorCatalogue catalogue) {
    if (!product.empty()) {
        for (const ErrorCatalogueGroup& group : catalogue) {
            if (product != group.name) continue;
            for (const ErrorCatalogueRow& row : group.rows) {
                if (!SameCode(row, code)) continue;
                std::string result = std::string(" (") + row.name;
                if (HasText(row)) result += std::string(" - ") + row.text;
                return result + ")";
            }
        }
    }
    std::string result;
    for (const ErrorCatalogueGroup& group : catalogue) {
        for (const ErrorCatalogueRow& row : group.rows) {
            if (!SameCode(row, code)) continue;
            result += std::string("\n") + row.name;
            if (HasText(row)) result += std::string(" - ") + row.text + " (OS: " + group.name + ")";
        }
    }
    return result;
}

std::string DescribeCardException(const std::string& product, uint16_t code) {
    return DescribeCardException(product, code, InstalledCatalogue());
}

}  // namespace ZORVIK
