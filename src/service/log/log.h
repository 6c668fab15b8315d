// The log chain: every record of the toolkit passes through a chain of iLog
// objects (filters and sinks), each doing its work and handing the record on.
#pragma once

#include <cstdint>
#include <cstdio>
#include <ctime>
#include <memory>
#include <string>

namespace ZORVIK {

// Console text attributes in the Windows layout: 0x08 intensity, 0x04 red,
// 0x02 green, 0x01 blue; the same bits shifted by four give the background.
// The default colour of each level 0..8 (1 debug .. 7 error); any other level
// gets grey (0x07).
int32_t LevelColour(int32_t level);

// Marks a colour so that LogRecord(colour, text) does not read as LogRecord(level, text).
struct LogColour {
    int32_t value;
};

// One record, built on the writer's stack and never kept by a sink.
struct LogRecord {
    int32_t level;
    std::string source;  // origin (such as a reader name); no sink prints it
    int32_t colour;
    std::string text;  // written unchanged; a line end is part of the text

    LogRecord(std::string source, int32_t level, int32_t colour, std::string text, bool newline);
    // Colour from the level table, empty source.
    LogRecord(int32_t level, std::string text, bool newline);
    // Level 3, empty source.
    LogRecord(LogColour colour, std::string text, bool newline);
};

class iLog {
public:
    // Handles one record and passes it on.
    virtual void WriteRec(const LogRecord& record) = 0;
    // The lowest level that the chain from this object on lets through.
    virtual int32_t GetImportance() = 0;
    virtual ~iLog() = default;
    // The next object of the chain; empty at its end.
    virtual std::shared_ptr<iLog> GetNext() = 0;

    // A record of level 3 with the given colour, the text's control bytes
    // escaped (EscapeControlBytes); a null text reads as empty.
    void Write(const char* text, int32_t colour, bool newline);
};

// Formats the text (SafePrintf rules), escapes its control bytes
// (EscapeControlBytes), appends LF and writes it at level with the level's
// colour. log must not be null.
void LogPrintf(iLog* log, int32_t level, const char* format, ...) __attribute__((format(printf, 3, 4)));
void LogPrintfColour(iLog* log, int32_t level, int32_t colour, const char* format, ...)
    __attribute__((format(printf, 4, 5)));

// Forwards every record; the base of every other object of the chain.
class LogFilter : public iLog {
public:
    explicit LogFilter(std::shared_ptr<iLog> next);
    void WriteRec(const LogRecord& record) override;
    int32_t GetImportance() override;
    std::shared_ptr<iLog> GetNext() override;

protected:
    void PassOn(const LogRecord& record);

private:
    std::shared_ptr<iLog> m_next;
};

// Passes records whose level is at least the threshold.
class ImportanceFilter : public LogFilter {
public:
    ImportanceFilter(int32_t level, std::shared_ptr<iLog> next);
    void WriteRec(const LogRecord& record) override;
    int32_t GetImportance() override;
    void SetLevel(int32_t level);

private:
    int32_t m_level;
};

// The console state kept by ConsLog: the stream and whether colours go to it.
struct tConsLogData {
    std::FILE* stream = nullptr;
    bool colour = false;
};

// Shows each record on standard output in its colour, then passes it on. When
// standard output is closed, or its reader goes away (EPIPE), the sink is
// silent and passes nothing on.
class ConsLog : public LogFilter {
public:
    explicit ConsLog(std::shared_ptr<iLog> next);
    void WriteRec(const LogRecord& record) override;
    // False when the sink is silent for want of a console.
    bool HasConsole() const;

    // After a record of at least pauseLevel, wait up to pauseSeconds for a key
    // (0 seconds: no pause).
    void SetPause(int32_t pauseLevel, int32_t pauseSeconds);

private:
    std::shared_ptr<tConsLogData> m_data;
    int32_t m_pauseLevel = 6;
    int32_t m_pauseSeconds = 0;
};

// A log file opened for writing, or the reason why it was not.
struct LogFileOpening {
    std::shared_ptr<std::FILE> stream;  // closing it lets go of the lock too
    int error = 0;                      // errno of a failed open; 0 when opened or refused for its kind
    std::string reason;                 // the system's text, or the kind of a file that takes no log
    bool standardStream = false;        // writes through a duplicate of standard output or error
    bool locked = false;                // holds the shared lock by which deletable logs see the file in use
};
// Opens a file to write a log to (fopen modes: "a" appends, "w" truncates,
// "wx" creates a new file only) without ever waiting on it. Writing modes
// append (O_APPEND), "w" after its truncation too, so that records of other
// processes logging to the same file are never overwritten. A name that leads
// to the file of standard output or standard error open for writing
// (/dev/stdout, or the file that the shell redirected it to) is written
// through a duplicate of that descriptor, untruncated, so that the console and
// the log share one offset. A FIFO or pipe that has a reader takes the log; one
// without a reader is refused at once, as are a directory, a socket and a block
// device (the reason says why); a character device such as /dev/null or a
// terminal is taken. A regular file is held with a shared lock until the
// stream is closed (on a description of the log's own for a standard stream's
// file), so that no deletable log removes it meanwhile; where the file system
// refuses the lock, the log goes on without it.
LogFileOpening OpenLogFile(const std::string& fileName, const std::string& mode);

// Opens a file (no lock); the deleter closes it. Throws "Log file '<name>' can't be
// created: " followed by the reason (the system's text, or the kind of file).
std::shared_ptr<std::FILE> OpenFile(const std::string& fileName, const std::string& mode);

// Writes text to the file's descriptor in one write() call, repeated only for
// what a partial write left, bypassing the stream's buffer (which must hold
// nothing). On a file opened for appending, the record of one process is then
// never split by another's. Returns 0, or the errno of the failed write.
int AppendRecord(std::FILE* file, const std::string& text);

// Writes each record's text to a file and passes the record on.
class FileLog : public LogFilter {
public:
    // Builds the name from path and format (%p %n %e %d %t %c %z %%) and
    // creates the file, truncating an existing one.
    FileLog(const std::string& path, const std::string& format, uint32_t counterWidth, std::shared_ptr<iLog> next);
    // The same with the local time given (for %d and %t).
    FileLog(const std::string& path, const std::string& format, uint32_t counterWidth, std::shared_ptr<iLog> next,
            const std::tm& localTime);
    // Opens the named file for appending.
    FileLog(const std::string& fileName, std::shared_ptr<iLog> next);

    // Each record reaches the file in one write (AppendRecord).
    void WriteRec(const LogRecord& record) override;
    const std::string& GetFileName() const { return m_fileName; }

protected:
    // Closes the file. With removeWhenUnused the file is removed first when it
    // is still the regular file of that name, still empty, and no other log
    // has it open, whoever made it; never when this log could not hold its
    // shared lock, nor the file of a standard stream.
    void CloseFile(bool removeWhenUnused);

private:
    std::string m_fileName;
    std::shared_ptr<std::FILE> m_file;
    bool m_removable = false;  // holds the shared lock on a file of its own, not a standard stream's
};

// A file log that removes its file on destruction when nothing was written to
// it, by this run or any other, and no other run has it open.
class DeletableFileLog : public FileLog {
public:
    using FileLog::FileLog;
    ~DeletableFileLog() override;
};

}  // namespace ZORVIK
