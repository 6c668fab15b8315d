// Doubles shared by the fuzz targets: a reader that does nothing but hand out
// its parameters, and a log that drops every record.
#pragma once

#include "sc/exchange/reader.h"
#include "service/log/log.h"

namespace ZORVIK::fuzz {

class IdleReader : public iReader {
public:
    ReaderParams params;
    const ReaderParams& GetParams() const override { return params; }
    void PowerOn(ATR&) override {}
    void PowerOff() override {}
    void Reset(ATR&) override {}
    binary::Binary GetATR() const override { return {}; }
    void Command(const CApdu&, RApdu&) override {}
    bool IsPowered() const override { return true; }
    CardExchParam& GetCardExchParam(CardExchParam& param) override { return param; }
};

class DiscardLog : public LogFilter {
public:
    DiscardLog() : LogFilter(nullptr) {}
    void WriteRec(const LogRecord&) override {}
};

}  // namespace ZORVIK::fuzz
