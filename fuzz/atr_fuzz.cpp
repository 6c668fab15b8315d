// Answer-to-reset parsing and its report: any bytes either evaluate or throw
// ZORVIK::Exception; the report is written through a log chain.
#include <cstddef>
#include <cstdint>

#include "sc/exchange/atr.h"
#include "service/common/exception.h"
#include "service/log/log.h"

namespace {

// Keeps only the size of what was written, so the formatted texts are really built.
class CountingLog : public ZORVIK::LogFilter {
public:
    CountingLog() : ZORVIK::LogFilter(nullptr) {}
    void WriteRec(const ZORVIK::LogRecord& record) override { written += record.text.size(); }
    size_t written = 0;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const ZORVIK::binary::Binary raw(data, data + size);
    ZORVIK::ATR atr;
    CountingLog log;
    try {
        atr.SetAtr(raw, true);
        atr.Elaborate(raw, &log);
        atr.GetIFSC();
        atr.GetEdcLength();
        atr.CanChangeMode();
        for (uint32_t t = 0; t < 3; ++t) {
            ZORVIK::binary::Binary pps;
            try {
                atr.MakePPS(t, pps, t == 2);
                uint8_t check = 0;
                for (uint8_t byte : pps) check ^= byte;
                if (pps.size() != 4 || check != 0) __builtin_trap();
            } catch (const ZORVIK::Exception&) {
            }
            try {
                atr.GetTA(t);
            } catch (const ZORVIK::Exception&) {
            }
        }
    } catch (const ZORVIK::Exception&) {
    }
    return 0;
}
