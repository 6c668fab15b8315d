#include "sc/card_service/apdu_writer.h"

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "sc/card_service/gp_apdu_writer.h"
#include "sc/card_service/jcshell_apdu_writer.h"
#include "sc/card_service/ruzo_apdu_writer.h"
#include "sc/card_service/skarna_apdu_writer.h"
#include "sc/exchange/apdu_printer_iface.h"
#include "sc/exchange/capdu_rapdu.h"
#include "service/log/log.h"

namespace ZORVIK {

namespace {

// A FIFO without a reader or a directory as the log is refused with its reason
// rather than waited on; a regular file is held with the shared lock that keeps
// a silent run from removing it while it is still empty (OpenLogFile).
std::shared_ptr<std::FILE> OpenLog(const std::string& fileName) {
    ZORVIK_CHECK("ZORVIK::BaseApduWriter::BaseApduWriter", !fileName.empty(),
                 "Пустое название файла для конвертированных APDU");
    LogFileOpening opening = OpenLogFile(fileName, "a");
    if (!opening.stream) {
        throw Exception("Не удалось открыть файл для конвертированных APDU '" + fileName + "': " + opening.reason,
                        ZORVIK_PLACE("ZORVIK::BaseApduWriter::BaseApduWriter"));
    }
    return opening.stream;
}

}  // namespace

BaseApduWriter::BaseApduWriter(const std::string& fileName) : m_fileName(fileName), m_file(OpenLog(fileName)) {}

BaseApduWriter::~BaseApduWriter() {
    // What an entry interrupted by an error left is not lost, as a stream would flush it at its close.
    if (!m_entry.empty()) AppendRecord(m_file.get(), m_entry);
}

void BaseApduWriter::WriteReset() { ClearPending(); }

void BaseApduWriter::WritePowerOff() {}

void BaseApduWriter::WritePowerOn() { ClearPending(); }

void BaseApduWriter::AddVariable(const std::string& name, uint32_t offset, uint32_t length) {
    m_variables.push_back({name, offset, length});
}

void BaseApduWriter::SetComment(const std::string& text) {
    m_hasComment = true;
    m_comment = text;
}

void BaseApduWriter::SetSource(const std::string& resultVariable, const std::string& functionName,
                               const std::vector<std::string>& argumentNames) {
    m_source = {true, resultVariable, functionName, argumentNames};
}

void BaseApduWriter::SuppressNextMarker() { m_suppressNext = true; }

void BaseApduWriter::Print(const char* format, ...) {
    va_list args;
    va_start(args, format);
    va_list again;
    va_copy(again, args);
    const int length = std::vsnprintf(nullptr, 0, format, args);
    va_end(args);
    if (length >= 0) {
        const size_t start = m_entry.size();
        m_entry.resize(start + static_cast<size_t>(length) + 1);
        std::vsnprintf(m_entry.data() + start, static_cast<size_t>(length) + 1, format, again);
        m_entry.resize(start + static_cast<size_t>(length));
    } else if (m_writeError == 0) {
        m_writeError = errno;
    }
    va_end(again);
}

// Up to the first zero byte, as the text would go through fputs.
void BaseApduWriter::PrintText(const std::string& text) { m_entry += text.c_str(); }

void BaseApduWriter::EndEntry() {
    if (!m_entry.empty()) {
        const int error = AppendRecord(m_file.get(), m_entry);
        m_entry.clear();
        if (error != 0 && m_writeError == 0) m_writeError = error;
    }
    if (m_writeError == 0) return;
    // Reported once per entry; the next entry tries the file afresh.
    const int error = m_writeError;
    m_writeError = 0;
    throw Exception(
        "Не удалось записать в файл для конвертированных APDU '" + m_fileName + "': " + std::strerror(error),
        ZORVIK_PLACE("ZORVIK::BaseApduWriter::EndEntry"));
}

void BaseApduWriter::ClearPending() {
    m_variables.clear();
    m_hasComment = false;
    m_source.set = false;
    m_suppressNext = false;
}

void BaseApduWriter::WriteMarker(const char* text, bool clearsPending) {
    if (m_suppressNext) {
        ClearPending();
        return;
    }
    PrintText(text);
    EndEntry();
    if (clearsPending) ClearPending();
}

std::unique_ptr<BaseApduWriter> BaseApduWriter::Create(int kind, const std::string& fileName, uint32_t verboseLevel) {
    switch (kind) {
        case Skarna: return std::make_unique<SkarnaApduWriter>(fileName, verboseLevel);
        case GP: return std::make_unique<GPApduWriter>(fileName, verboseLevel);
        case JCShell: return std::make_unique<JCShellApduWriter>(fileName);
        case Goznak: return std::make_unique<GoznakApduWriter>(fileName, verboseLevel);
        case Ruzo: return std::make_unique<RuzoApduWriter>(fileName);
        default:
            throw Exception("Режим конвертации APDU задан некорректно", ZORVIK_PLACE("ZORVIK::BaseApduWriter::Create"));
    }
}

std::string BaseApduWriter::DefaultFileName(int kind) {
    switch (kind) {
        case Skarna: return "skarna.log";
        case GP: return "gp.log";
        case JCShell: return "jcshell.log";
        case Goznak: return "goznak.log";
        case Ruzo: return "ruzo.log";
        default: return "";
    }
}

std::string DisplayName(const CApdu& command) {
    std::string name;
    if (command.printer) command.printer->AppendName(name);
    return name;
}

std::vector<DataPiece> CutByVariables(const binary::Binary& data, const std::vector<ApduWriterVariable>& variables) {
    std::vector<DataPiece> pieces;
    uint64_t position = 0;
    for (const ApduWriterVariable& variable : variables) {
        if (variable.offset > position && variable.offset < data.size()) {
            pieces.push_back({nullptr, std::vector<uint8_t>(data.begin() + position, data.begin() + variable.offset)});
        }
        pieces.push_back({&variable, {}});
        position = static_cast<uint64_t>(variable.offset) + variable.length;
    }
    if (position < data.size()) pieces.push_back({nullptr, std::vector<uint8_t>(data.begin() + position, data.end())});
    return pieces;
}

}  // namespace ZORVIK
