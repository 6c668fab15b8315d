// APDU logs: every exchange of a card service, with the power and reset events
// between them, written to a text file in one of five formats so that a run can
// be replayed or converted for another tool.
#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "service/common/binary.h"
#include "service/common/exception.h"

namespace ZORVIK {

class CApdu;
class RApdu;

// A byte range of the next command's data that the log names instead of showing.
struct ApduWriterVariable {
    std::string name;
    uint32_t offset = 0;
    uint32_t length = 0;
};

// The next command described as a call: $result=function($arg, ...).
struct ApduWriterSource {
    bool set = false;
    std::string resultVariable;
    std::string functionName;
    std::vector<std::string> argumentNames;
};

class BaseApduWriter {
public:
    // Format numbers of Create; the factory maps the names skarna, gp, jcshell,
    // goznak and ruzo to them.
    enum Kind : int { Skarna = 0, GP = 1, JCShell = 2, Goznak = 3, Ruzo = 4 };

    // Opens the file for appending; refuses an empty name, a file that cannot
    // be opened, a FIFO without a reader, a directory or a block device (never
    // waits on one). A regular file is held with a shared lock for the log's
    // life, so that a run whose file log is empty never removes it; the APDU
    // log itself never removes its file.
    explicit BaseApduWriter(const std::string& fileName);
    BaseApduWriter(const BaseApduWriter&) = delete;
    BaseApduWriter& operator=(const BaseApduWriter&) = delete;
    virtual ~BaseApduWriter();

    virtual void WriteReset();
    virtual void WritePowerOff();
    virtual void WritePowerOn();
    // expected: ST_OK (1), ST_ERR (2), ST_ANY (3) or an exact status word.
    virtual void WriteApdu(const CApdu& command, const RApdu& response, uint16_t expected,
                           const SourcePlace& place) = 0;

    virtual void AddVariable(const std::string& name, uint32_t offset, uint32_t length);
    virtual void SetComment(const std::string& text);
    virtual void SetSource(const std::string& resultVariable, const std::string& functionName,
                           const std::vector<std::string>& argumentNames);
    // The next marker of the Skarna and Ruzo logs, or their next command entry,
    // whichever comes first, is left out.
    virtual void SuppressNextMarker();

    static std::unique_ptr<BaseApduWriter> Create(int kind, const std::string& fileName, uint32_t verboseLevel);
    // "skarna.log", "gp.log", ...; empty for an unknown kind.
    static std::string DefaultFileName(int kind);

protected:
    // Print and PrintText gather the entry; EndEntry writes it.
    void Print(const char* format, ...) __attribute__((format(printf, 2, 3)));
    void PrintText(const std::string& text);
    // Each entry reaches the file at once and in one write, so that a crash
    // loses no logged exchange and another process appending to the same log
    // never splits it; a failed write of the entry throws, naming the file and
    // the system's reason.
    void EndEntry();
    void ClearPending();
    // The Skarna and Ruzo markers: a suppressed marker only clears the pending state.
    void WriteMarker(const char* text, bool clearsPending);

    const std::vector<ApduWriterVariable>& Variables() const { return m_variables; }
    bool HasComment() const { return m_hasComment; }
    const std::string& Comment() const { return m_comment; }
    ApduWriterSource& Source() { return m_source; }
    bool IsNextSuppressed() const { return m_suppressNext; }

private:
    std::string m_fileName;
    std::shared_ptr<std::FILE> m_file;  // written only through AppendRecord
    std::string m_entry;                // the entry gathered so far
    int m_writeError = 0;               // errno of the first failed formatting of the current entry
    std::vector<ApduWriterVariable> m_variables;
    bool m_hasComment = false;
    std::string m_comment;
    ApduWriterSource m_source;
    bool m_suppressNext = false;
};

// Helpers shared by the writers.
// The command's display name (empty without a printer of its own).
std::string DisplayName(const CApdu& command);

// One stretch of command data: either plain bytes or a variable standing for its range.
struct DataPiece {
    const ApduWriterVariable* variable = nullptr;
    binary::Binary bytes;
};
// The data cut by the variables, in their order. A variable names its range
// whatever its offset; bytes are shown only where they follow the previous
// piece and lie inside the data.
std::vector<DataPiece> CutByVariables(const binary::Binary& data, const std::vector<ApduWriterVariable>& variables);

}  // namespace ZORVIK
