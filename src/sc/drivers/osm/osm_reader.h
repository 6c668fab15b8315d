// The readers that bind the simulated card to the card service: OSMReader runs
// it in this process; JCD_OSM_Reader (Java Card debugging) is not available.
#pragma once

#include <atomic>
#include <memory>
#include <string>
#include <vector>

#include "sc/drivers/osm/osm.h"
#include "sc/drivers/osm/reader_spec.h"
#include "sc/exchange/reader.h"

namespace ZORVIK {

class iLog;

class OSMReader : public iReader {
public:
    // Creates the host and, when spec.EL names a file, loads the EEPROM image
    // from it. log is the head of the framework's log chain.
    OSMReader(const ReaderSpec& spec, iLog* log);
    // Writes the EEPROM image to spec.ES when it was given and SaveEepromImage
    // has not done so; a failure can only be logged here.
    ~OSMReader() override;
    OSMReader(const OSMReader&) = delete;
    OSMReader& operator=(const OSMReader&) = delete;

    // The simulated card can always be offered.
    static bool IsAvailable() { return true; }

    const ReaderParams& GetParams() const override { return m_params; }
    void PowerOn(ATR& atr) override;
    void PowerOff() override;
    void Reset(ATR& atr) override;
    binary::Binary GetATR() const override { return m_atr; }
    void Command(const CApdu& command, RApdu& response) override;
    bool IsPowered() const override { return m_powered; }
    CardExchParam& GetCardExchParam(CardExchParam& param) override;

    // Loads an image file of exactly OSM::ImageSize bytes.
    void LoadEepromFile(const std::string& path);
    // Writes the image to a temporary file beside path, then renames it over
    // path, so that a failure or a crash never leaves a half-written image.
    void SaveEepromFile(const std::string& path) const;
    // Writes the image to spec.ES now, once, so that a failure reaches the
    // caller as an error; the destructor then has nothing left to write.
    void SaveEepromImage();

    iOSM& Host() { return *m_host; }

protected:
    struct NoHost {};
    // For readers that build no host of their own.
    OSMReader(NoHost, const ReaderSpec& spec, iLog* log);

private:
    ReaderParams m_params;
    iLog* m_log;
    std::string m_loadFile;
    std::string m_saveFile;
    std::unique_ptr<OSM> m_host;
    binary::Binary m_atr;
    uint32_t m_protocol = ProtocolT1;
    // Atomic: a console may wait on another thread for the card to go (WaitForCard).
    std::atomic<bool> m_powered = false;
};

class JCD_OSM_Reader : public OSMReader {
public:
    // Always throws "Can't create OS model with JC debug facility": this build has
    // no Java Card debugging host.
    JCD_OSM_Reader(const ReaderSpec& spec, iLog* log, int32_t jdwp_port, const std::vector<std::string>& jc_cap_list);
};

}  // namespace ZORVIK
