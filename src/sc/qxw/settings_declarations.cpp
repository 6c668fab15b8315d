#include "sc/qxw/settings_declarations.h"

#include <memory>

namespace ZORVIK::qxw {

namespace {

constexpr bool Optional = false;

std::shared_ptr<iTypeInfo> Bool() { return std::make_shared<BoolTypeInfo>(); }
std::shared_ptr<iTypeInfo> Text() { return std::make_shared<StringTypeInfo>(); }
std::shared_ptr<iTypeInfo> Syntax(const char* text) { return std::make_shared<StringTypeInfo>(text); }

// Any text is accepted; the names are resolved by the reader selection.
constexpr char ReaderSyntax[] = "#?|#PCSC|#OSM|#DERIMDIRECT|#SIM|<pcsc name>";
constexpr char LogDirHelp[] = "директория, в которую записывается лог. По умолчанию - рабочая директория";

}  // namespace

const DescriptionGroup& FrameworkSettings() {
    static const DescriptionGroup group{
        {{"reader", "A"}, Syntax(ReaderSyntax), Optional, "наименование используемого считывателя"},
        {{"reader2", "B"}, Syntax(ReaderSyntax), Optional, "наименование используемого считывателя №2"},
        {{"random_seed_value"},
         std::make_shared<BinaryTypeInfo>(4),
         Optional,
         "задать начальное значение для датчика случайных чисел"},
    };
    return group;
}

const DescriptionGroup& FrameworkLogSettings() {
    static const DescriptionGroup group{
        {{"log_level", "_LOGGING_LEVEL", "l"},
         std::make_shared<IntTypeInfo>(1, 8),
         "1",
         "степень детализации вывода информации в консольный лог (8 - не выводить, 5 - важная информация, "
         "1 - отладочная информация)"},
        {{"console_log_on", "c"}, Bool(), "1", "вывод информации в консольный лог"},
        {{"file_log_on", "f"}, Bool(), "1", "вывод информации в файловый лог"},
        {{"log_dir", "ld"}, Text(), Optional, LogDirHelp},
        {{"log_name", "ln"}, Text(), Optional, "имя лога (без расширения). По умолчанию - имя исполняемого файла"},
        {{"log_format", "lf"}, Text(), Optional, "формат имени лога"},
    };
    return group;
}

const DescriptionGroup& CardServiceLogSettings() {
    static const DescriptionGroup group{
        {{"log_dir", "ld"}, Text(), Optional, LogDirHelp},
    };
    return group;
}

const DescriptionGroup& CardWorkSettings() {
    static const DescriptionGroup group{
        {{"power_on", "p"}, Bool(), "1", "автоматическая подача питания при старте программы"},
        {{"power_off", "o"}, Bool(), "1", "автоматическое снятие питания перед завершением программы"},
        {{"cless"}, Bool(), Optional, "принудительное задание признака работы в бесконтактном режиме"},
        {{"cold_reset_always"},
         Bool(),
         Optional,
         "теплый сброс проводить как холодный (для считок, не поддерживающих теплый сброс)"},
        {{"force_extended_apdu"}, Bool(), "0", "всегда использовать расширенное APDU"},
        {{"transport_protocols", "t"},
         Text(),
         "T1, T0",
         "используемые транспортные протоколы. Задается в порядке предпочтения."},
        {{"time_profiling", "tp"}, Bool(), "0", "замеры времени"},
        {{"randomize_ram"}, Bool(), "0", "рандомизация RAM при PowerOn на конструкторе, по протоколу T0"},
        {{"get_last_error", "z"}, Bool(), "1", "автоматический запрос расширенной информации о последней ошибке"},
        {{"transport_log", "tl"}, Bool(), "0", "вести транспортный лог"},
        {{"output_reader_name"}, Bool(), "0", "выводить имя считывателя перед выводом команды"},
        {{"apdu_convert_format", "af"},
         std::make_shared<EnumTypeInfo>(std::vector<std::string>{"skarna", "gp", "jcshell", "goznak", "ruzo", "none"}),
         "none",
         "формат выходного файла с APDU-командами"},
        // The "c" before APDU is a Latin letter, as the help has always printed it.
        {{"apdu_file_name", "an"}, Text(), Optional, "имя выходного файла c APDU-логом"},
        {{"apdu_verbose_level", "al"},
         std::make_shared<IntTypeInfo>(0, 2),
         "2",
         "степень детализации вывода информации в лог APDU"},
        {{"disable_user_input"}, Bool(), "0", "отключить интерактивные запросы на ввод"},
    };
    return group;
}

const DescriptionGroup& TransportSettings() {
    static const DescriptionGroup group{
        {{"auto_t0", "t0"},
         Bool(),
         "1",
         "Автоматизация T0 (обработка ответов со статусами 61xx, 6Cxx прозрачно для пользователя)."},
        {{"get_resp_cla_00"}, Bool(), "0", "посылка GET RESPONSE с CLA = 00 (для совместимости со старыми картами)."},
        {{"envelope_mode"},
         std::make_shared<EnumTypeInfo>(std::vector<std::string>{"smart", "force", "null"}),
         "smart",
         "режим посылки команды Envelope"},
    };
    return group;
}

const DescriptionGroup& OsSettings() {
    static const DescriptionGroup group{
        {{"os_version", "os"},
         Syntax("#autodetect|<os version>"),
         Optional,
         "текущая версия операционной системы (например, MORVA_1.92_S)"},
    };
    return group;
}

}  // namespace ZORVIK::qxw
