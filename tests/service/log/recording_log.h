// A sink for the log tests: keeps every record it receives.
#pragma once

#include <vector>

#include "service/log/log.h"

namespace ZORVIK::test {

class RecordingLog : public LogFilter {
public:
    RecordingLog() : LogFilter(nullptr) {}
    void WriteRec(const LogRecord& record) override { records.push_back(record); }
    std::vector<LogRecord> records;
};

}  // namespace ZORVIK::test
