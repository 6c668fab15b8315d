#include <cerrno>

#include "service/log/log.h"
#include "service/log/terminal.h"

namespace ZORVIK {

ConsLog::ConsLog(std::shared_ptr<iLog> next) : LogFilter(std::move(next)) {
    // Texts are UTF-8 throughout, so unlike a Windows console nothing needs a
    // code page; the colours are decided once, for the stream as it is now.
    if (terminal::IsOpen(stdout)) {
        m_data = std::make_shared<tConsLogData>();
        m_data->stream = stdout;
        m_data->colour = terminal::WantsColour(stdout);
    }
}

bool ConsLog::HasConsole() const { return m_data != nullptr; }

void ConsLog::SetPause(int32_t pauseLevel, int32_t pauseSeconds) {
    m_pauseLevel = pauseLevel;
    m_pauseSeconds = pauseSeconds;
}

void ConsLog::WriteRec(const LogRecord& record) {
    if (!m_data || m_data->stream == nullptr) return;
    // One write per record, so that the colour and its reset never split.
    const bool written = m_data->colour ? terminal::WriteAll(m_data->stream, terminal::SgrForAttribute(record.colour) +
                                                                                 record.text + terminal::SgrReset)
                                        : terminal::WriteAll(m_data->stream, record.text);
    if (!written) {
        // A reader of standard output that has gone (qxw | head) leaves no
        // console: from now on the sink is silent, as without one.
        if (errno == EPIPE) {
            m_data.reset();
            return;
        }
        std::clearerr(m_data->stream);
    }
    PassOn(record);
    if (m_pauseSeconds != 0 && record.level >= m_pauseLevel && terminal::IsInteractive()) {
        terminal::WriteAll(m_data->stream, "Press any key for continue\n");
        terminal::WaitForKey(m_pauseSeconds);
    }
}

}  // namespace ZORVIK
