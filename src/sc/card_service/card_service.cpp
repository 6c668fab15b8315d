#include "sc/card_service/card_service.h"

#include <chrono>

#include "sc/card_service/apdu_printer.h"
#include "sc/card_service/apdu_writer.h"
#include "sc/card_service/card_exception.h"
#include "sc/card_service/get_last_error.h"
#include "sc/card_service/status_words.h"
#include "sc/exchange/atr.h"
#include "sc/exchange/reader.h"
#include "service/common/printf.h"
#include "service/common/utilities.h"
#include "service/log/log.h"

namespace ZORVIK {

namespace {

// Log levels of the card service.
constexpr int32_t TimingLevel = 1;
constexpr int32_t ExchangeLevel = 2;
constexpr int32_t PowerLevel = 3;
// Exchanges are printed only when the chain lets level 3 through.
constexpr int32_t PrintImportance = 3;
constexpr int32_t ReaderNameColour = 2;

// WAFER fills the card's RAM with random bytes; mode 2 is the one used at power-on.
constexpr uint8_t WaferMode = 2;

// The file name of a script place without the relative part in front of it
// (after the last "../" or "..\").
const char* ShortFileName(const char* file) {
    if (file == nullptr) return "";
    const char* result = file;
    for (const char* p = file; *p != '\0'; ++p) {
        if (p[0] == '.' && p[1] == '.' && (p[2] == '/' || p[2] == '\\')) result = p + 3;
    }
    return result;
}

}  // namespace

class CardService::CardServiceImpl {
public:
    CardServiceImpl(const CardServiceSettings& settings, std::shared_ptr<iReader> reader, std::shared_ptr<iLog> log,
                    std::shared_ptr<BaseApduWriter> writer)
        : m_reader(std::move(reader)), m_log(std::move(log)), m_writer(std::move(writer)), m_settings(settings) {
        ZORVIK_CHECK("ZORVIK::CardService::CardService", m_reader != nullptr,
                     "Карточному сервису не задан считыватель");
        ZORVIK_CHECK("ZORVIK::CardService::CardService", m_log != nullptr, "Карточному сервису не задан лог");
    }

    void PowerOn();
    void PowerOffSequence();
    void Reset();
    void SetPlace(const SourcePlace& place) { m_place = place; }
    const RApdu& PlainCommand(const CApdu& command, const std::vector<uint16_t>& expected);
    const RApdu& SecureCommand(const CApdu& command, iSM& sm, const std::vector<uint16_t>& expected);

    std::shared_ptr<iReader> m_reader;
    std::shared_ptr<iLog> m_log;
    std::shared_ptr<BaseApduWriter> m_writer;
    CardServiceSettings m_settings;
    OsInfo m_osInfo;
    SourcePlace m_place;
    CApdu m_lastCommand;
    RApdu m_lastResponse;
    ATR m_atr;

private:
    void WriteReaderName();
    void LogAtr(int32_t level);
    void RandomizeRam();
    void TakeCommand(const CApdu& command);
    void Send(const CApdu& command, RApdu& response);
    bool Printing() { return m_log->GetImportance() <= PrintImportance; }
    void PrintCommand(const CApdu& command);
    void PrintResponse(const CApdu& command, const RApdu& response);
    void WriteApduLog(const CApdu& command, const RApdu& response, const std::vector<uint16_t>& expected);
    void CheckStatus(const RApdu& response, const std::vector<uint16_t>& expected);
};

void CardService::CardServiceImpl::WriteReaderName() {
    if (!m_settings.output_reader_name) return;
    // No line break: the next message continues this console line. A PC/SC
    // reader names itself, so the name is shown with its control bytes escaped.
    m_log->WriteRec(LogRecord("", PowerLevel, ReaderNameColour,
                              "[Reader: " + EscapeControlBytes(m_settings.readerName) + "]", false));
}

void CardService::CardServiceImpl::LogAtr(int32_t level) {
    LogPrintf(m_log.get(), level, "ATR: %s\n", binary::ToHex(m_atr.GetRaw()).c_str());
}

void CardService::CardServiceImpl::PowerOn() {
    if (m_settings.randomize_ram) RandomizeRam();
    WriteReaderName();
    LogPrintf(m_log.get(), PowerLevel, "Power on");
    m_reader->PowerOn(m_atr);
    LogAtr(ExchangeLevel);
    if (m_writer) m_writer->WritePowerOn();
}

void CardService::CardServiceImpl::PowerOffSequence() {
    WriteReaderName();
    LogPrintf(m_log.get(), PowerLevel, "Power off\n");
    m_reader->PowerOff();
    if (m_writer) m_writer->WritePowerOff();
}

void CardService::CardServiceImpl::Reset() {
    if (m_settings.cold_reset_always) {
        PowerOffSequence();
        PowerOn();
        return;
    }
    WriteReaderName();
    LogPrintf(m_log.get(), PowerLevel, "Reset");
    m_reader->Reset(m_atr);
    LogAtr(ExchangeLevel);
    if (m_writer) m_writer->WriteReset();
}

// WAFER on a power cycle of its own; the APDU log gets the command but no power
// markers for this cycle.
void CardService::CardServiceImpl::RandomizeRam() {
    WriteReaderName();
    LogPrintf(m_log.get(), PowerLevel, "Power on");
    m_reader->PowerOn(m_atr);
    LogAtr(PowerLevel);

    const CApdu wafer(0x80, 0x80, WaferMode, 0x00, 0,
                      std::make_shared<StandardPrinter>(SafePrintf("WAFER (mode = %u)", WaferMode)));
    m_place = ZORVIK_PLACE("ZORVIK::CardService::RandomizeRam");
    const uint16_t status = PlainCommand(wafer, {ST_ANY}).GetSW();
    const char* const function = "ZORVIK::CardService::RandomizeRam";
    ZORVIK_CHECK(function, status != 0x6D00, "Текущая сборка ОС не поддерживает команду рандомизации RAM (Wafer)");
    ZORVIK_CHECK(function, status != 0x6300,
                 "Команда рандомизации RAM (Wafer) может быть подана только на конструкторе, в контактном интерфейсе, "
                 "по протоколу T0");
    ZORVIK_CHECK(function, status == 0x9000, "Неправильный статус");

    WriteReaderName();
    LogPrintf(m_log.get(), PowerLevel, "Power off");
    m_reader->PowerOff();
}

void CardService::CardServiceImpl::TakeCommand(const CApdu& command) {
    m_lastCommand = command;
    if (m_settings.force_extended_apdu) m_lastCommand.extended = true;
}

void CardService::CardServiceImpl::Send(const CApdu& command, RApdu& response) {
    if (!m_settings.time_profiling) {
        m_reader->Command(command, response);
        return;
    }
    const auto start = std::chrono::steady_clock::now();
    m_reader->Command(command, response);
    const auto end = std::chrono::steady_clock::now();
    const auto elapsedMs = std::chrono::duration_cast<std::chrono::milliseconds>(end - start).count();
    const auto ticks = std::chrono::duration_cast<std::chrono::nanoseconds>(end.time_since_epoch()).count();
    LogPrintf(m_log.get(), TimingLevel, "Время обработки APDU: %lld ms (%lld ticks)", static_cast<long long>(elapsedMs),
              static_cast<long long>(ticks));
}

void CardService::CardServiceImpl::PrintCommand(const CApdu& command) {
    if (!Printing()) return;
    WriteReaderName();
    if (m_place.line != 0) LogPrintf(m_log.get(), ExchangeLevel, "[%s(%d)]", ShortFileName(m_place.file), m_place.line);
    PrinterOf(command).PrintCommand(command, *m_log);
}

void CardService::CardServiceImpl::PrintResponse(const CApdu& command, const RApdu& response) {
    if (!Printing()) return;
    PrinterOf(command).PrintResponse(response, DescribeStatusWord(response.sw1, response.sw2, command.cla), *m_log);
}

void CardService::CardServiceImpl::WriteApduLog(const CApdu& command, const RApdu& response,
                                                const std::vector<uint16_t>& expected) {
    if (!m_writer) return;
    // The log formats carry one expected status per command.
    ZORVIK_CHECK("ZORVIK::CardService::Command", expected.size() == 1, "Список статусов не поддерживается.");
    m_writer->WriteApdu(command, response, expected.front(), m_place);
}

void CardService::CardServiceImpl::CheckStatus(const RApdu& response, const std::vector<uint16_t>& expected) {
    const uint16_t status = response.GetSW();
    if (MatchStatus(expected, status)) return;
    // Only the first expected status is named, also for a list.
    std::string text = "Неправильный статус. Ожидался: " + ExpectedStatusText(expected.front()) +
                       ", карта вернула: " + SafePrintf("%04X", status);
    if (m_settings.get_last_error && !IsSuccessStatus(status)) {
        text += ".\n" + DescribeLastError(*m_reader, m_osInfo.GetProduct());
    }
    throw CardException(text, m_place, m_lastCommand, response);
}

const RApdu& CardService::CardServiceImpl::PlainCommand(const CApdu& command, const std::vector<uint16_t>& expected) {
    ZORVIK_CHECK("ZORVIK::CardService::Command", !expected.empty(), "Не задан ожидаемый статус.");
    TakeCommand(command);
    PrintCommand(m_lastCommand);
    Send(m_lastCommand, m_lastResponse);
    PrintResponse(m_lastCommand, m_lastResponse);
    WriteApduLog(m_lastCommand, m_lastResponse, expected);
    CheckStatus(m_lastResponse, expected);
    return m_lastResponse;
}

const RApdu& CardService::CardServiceImpl::SecureCommand(const CApdu& command, iSM& sm,
                                                         const std::vector<uint16_t>& expected) {
    ZORVIK_CHECK("ZORVIK::CardService::Command", !expected.empty(), "Не задан ожидаемый статус.");
    if (dynamic_cast<NULL_SM*>(&sm) != nullptr) return PlainCommand(command, expected);

    TakeCommand(command);
    PrintCommand(m_lastCommand);
    CApdu wrapped;
    sm.WrapCommand(m_lastCommand, wrapped);
    if (Printing()) SMPrinter().PrintCommand(wrapped, *m_log);

    RApdu wire;
    Send(wrapped, wire);
    if (Printing()) {
        SMPrinter().PrintResponse(wire, DescribeStatusWord(wire.sw1, wire.sw2, wrapped.cla), *m_log);
    }
    WriteApduLog(wrapped, wire, expected);

    // With a protected status word the real status is inside the wrapped data,
    // so the wire status only has to say that the card answered.
    const bool wireAccepted =
        sm.IsStatusWordProtected() ? IsSuccessStatus(wire.GetSW()) : MatchStatus(expected, wire.GetSW());
    if (wireAccepted) {
        sm.UncoverResponse(wire, m_lastResponse);
        PrintResponse(m_lastCommand, m_lastResponse);
    } else {
        // A failing wire response is not uncovered: the caller sees it as it came.
        m_lastResponse = wire;
    }
    CheckStatus(m_lastResponse, expected);
    return m_lastResponse;
}

CardService::CardService(const CardServiceSettings& settings, std::shared_ptr<iReader> reader,
                         std::shared_ptr<iLog> log, std::shared_ptr<BaseApduWriter> writer)
    : m_impl(std::make_unique<CardServiceImpl>(settings, std::move(reader), std::move(log), std::move(writer))) {}

CardService::~CardService() = default;

void CardService::Start() {
    if (m_impl->m_settings.power_on) PowerOn();
}

void CardService::Finish() {
    if (m_impl->m_settings.power_off) m_impl->PowerOffSequence();
}

void CardService::PowerOn() { m_impl->PowerOn(); }

void CardService::PowerOff() { m_impl->PowerOffSequence(); }

void CardService::Reset() { m_impl->Reset(); }

void CardService::ColdReset() {
    m_impl->PowerOffSequence();
    m_impl->PowerOn();
}

CardService& CardService::SetPlace(const SourcePlace& place) {
    m_impl->SetPlace(place);
    return *this;
}

const RApdu& CardService::Command(const CApdu& command, iSM& sm, const std::vector<uint16_t>& expected) {
    return m_impl->SecureCommand(command, sm, expected);
}

const RApdu& CardService::Command(const CApdu& command, const std::vector<uint16_t>& expected) {
    return m_impl->PlainCommand(command, expected);
}

const RApdu& CardService::Command(const CApdu& command, iSM& sm, uint16_t expected) {
    return Command(command, sm, std::vector<uint16_t>{expected});
}

const RApdu& CardService::Command(const CApdu& command, uint16_t expected) {
    return Command(command, std::vector<uint16_t>{expected});
}

const CApdu& CardService::GetLastCommand() const { return m_impl->m_lastCommand; }

const RApdu& CardService::GetLastResponse() const { return m_impl->m_lastResponse; }

const OsInfo& CardService::GetOsInfo() const { return m_impl->m_osInfo; }

void CardService::SetOsInfo(const OsInfo& info) { m_impl->m_osInfo = info; }

iReader* CardService::GetReader() const { return m_impl->m_reader.get(); }

std::string CardService::GetReaderName() const { return m_impl->m_settings.readerName; }

}  // namespace ZORVIK
