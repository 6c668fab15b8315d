// The host of the simulated card: it runs the card in this process over one
// memory block whose start holds the EEPROM image (EEPROM and one-time area).
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

#include "sc/exchange/capdu_rapdu.h"
#include "service/common/binary.h"

namespace ZORVIK {

class iLog;

// The card-OS host as its readers see it.
class iOSM {
public:
    // Starts the card and returns its answer to reset.
    virtual binary::Binary PowerOn() = 0;
    virtual void PowerOff() = 0;
    // Restarts a powered card and returns its answer to reset.
    virtual binary::Binary Reset() = 0;
    virtual bool IsPowered() const = 0;
    // Runs one command through the card; the response is cleared first.
    virtual void Command(const CApdu& command, RApdu& response) = 0;
    // A copy of the EEPROM image: EEPROM followed by the one-time area.
    virtual binary::Binary ReadEeprom() const = 0;
    virtual void LoadEeprom(const binary::Binary& image) = 0;
    virtual void SetTrace(bool on) = 0;
    virtual bool IsTraceOn() const = 0;
    virtual void SetContactless(bool on) = 0;
    virtual bool IsContactless() const = 0;
    virtual ~iOSM() = default;
};

class OSM : public iOSM {
public:
    static constexpr size_t MemoryBlockSize = 1u << 20;
    static constexpr size_t EepromSize = 73600;
    static constexpr size_t OneTimeAreaSize = 128;
    static constexpr size_t ImageSize = EepromSize + OneTimeAreaSize;  // 0x12000

    // At most one host lives in a process (the card OS keeps its state in
    // process-wide globals); a second one throws "Can't create OS model".
    // commandTimeout: −1 for none.
    OSM(iLog* log, int32_t commandTimeout);
    ~OSM() override;
    OSM(const OSM&) = delete;
    OSM& operator=(const OSM&) = delete;

    binary::Binary PowerOn() override;
    void PowerOff() override;
    binary::Binary Reset() override;
    bool IsPowered() const override { return m_powered; }
    void Command(const CApdu& command, RApdu& response) override;
    binary::Binary ReadEeprom() const override;
    void LoadEeprom(const binary::Binary& image) override;
    void SetTrace(bool on) override { m_trace = on; }
    bool IsTraceOn() const override { return m_trace; }
    void SetContactless(bool on) override { m_contactless = on; }
    bool IsContactless() const override { return m_contactless; }

    int32_t GetCommandTimeout() const { return m_commandTimeout; }
    // The fixed answer to reset of the simulated card.
    static binary::Binary CardAtr();

private:
    iLog* m_log;
    int32_t m_commandTimeout;
    std::unique_ptr<uint8_t[]> m_memory;
    bool m_powered = false;
    bool m_trace = false;
    bool m_contactless = false;
};

}  // namespace ZORVIK
