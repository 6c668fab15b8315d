// The card service: the one object through which the console and the framework
// talk to the card in one reader. It powers and resets the card, prints, times
// and logs every exchange, runs it through secure messaging when asked, and
// checks the status word against what the caller expects.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "sc/card_service/expected_status.h"
#include "sc/card_service/os_info.h"
#include "sc/card_service/secure_messaging.h"
#include "sc/exchange/capdu_rapdu.h"
#include "service/common/exception.h"

namespace ZORVIK {

class iReader;
class iLog;
class BaseApduWriter;

// The settings one card service works with (filled by the card-service factory).
struct CardServiceSettings {
    std::string readerName;
    int32_t readerKind = 21;
    bool power_on = false;             // Start powers the card on
    bool power_off = false;            // Finish powers the card off
    bool cless = false;                // contactless reader (not used by the card service)
    bool cold_reset_always = false;    // Reset powers off and on
    bool force_extended_apdu = false;  // every command sent in the extended length form
    bool time_profiling = false;       // each exchange timed at log level 1
    bool output_reader_name = false;   // "[Reader: name]" before power lines and commands
    bool get_last_error = false;       // a failed status asks the card for GET LAST ERROR
    bool randomize_ram = false;        // PowerOn first runs WAFER on a power cycle of its own
};

class iCardService {
public:
    virtual void Start() = 0;
    virtual void Finish() = 0;
    virtual void PowerOn() = 0;
    virtual void PowerOff() = 0;
    virtual void Reset() = 0;
    virtual void ColdReset() = 0;
    // The script position of the next command; returns this service so that
    // place and command can be written in one expression.
    virtual iCardService& SetPlace(const SourcePlace& place) = 0;
    // Each form returns the service's stored last response. The status word must
    // match one of the expected statuses (ST_OK, ST_ERR, ST_ANY or an exact word),
    // else CardException is thrown.
    virtual const RApdu& Command(const CApdu& command, iSM& sm, const std::vector<uint16_t>& expected) = 0;
    virtual const RApdu& Command(const CApdu& command, const std::vector<uint16_t>& expected) = 0;
    virtual const RApdu& Command(const CApdu& command, iSM& sm, uint16_t expected) = 0;
    virtual const RApdu& Command(const CApdu& command, uint16_t expected) = 0;
    virtual ~iCardService() = default;
};

class CardService : public iCardService {
public:
    // reader and log are required; writer may be empty (no APDU log).
    CardService(const CardServiceSettings& settings, std::shared_ptr<iReader> reader, std::shared_ptr<iLog> log,
                std::shared_ptr<BaseApduWriter> writer);
    CardService(const CardService&) = delete;
    CardService& operator=(const CardService&) = delete;
    ~CardService() override;

    void Start() override;
    void Finish() override;
    void PowerOn() override;
    void PowerOff() override;
    void Reset() override;
    void ColdReset() override;
    CardService& SetPlace(const SourcePlace& place) override;
    const RApdu& Command(const CApdu& command, iSM& sm, const std::vector<uint16_t>& expected) override;
    const RApdu& Command(const CApdu& command, const std::vector<uint16_t>& expected) override;
    const RApdu& Command(const CApdu& command, iSM& sm, uint16_t expected) override;
    const RApdu& Command(const CApdu& command, uint16_t expected) override;

    const CApdu& GetLastCommand() const;
    const RApdu& GetLastResponse() const;
    const OsInfo& GetOsInfo() const;
    void SetOsInfo(const OsInfo& info);
    // For the framework's waits for card insertion and removal.
    iReader* GetReader() const;
    std::string GetReaderName() const;

    class CardServiceImpl;

private:
    std::unique_ptr<CardServiceImpl> m_impl;
};

}  // namespace ZORVIK
