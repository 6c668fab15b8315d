#include "sc/drivers/osm/osm_reader.h"

#include <cstdio>

#include "sc/drivers/osm/image_file.h"
#include "service/common/exception.h"
#include "service/log/log.h"

namespace ZORVIK {

namespace {

constexpr int32_t ErrorLevel = 7;

}  // namespace

OSMReader::OSMReader(const ReaderSpec& spec, iLog* log) : m_log(log), m_loadFile(spec.EL), m_saveFile(spec.ES) {
    m_host = std::make_unique<OSM>(log, spec.cmd_timeout == 0 ? -1 : spec.cmd_timeout);
    m_host->SetTrace(spec.tex != 0);
    m_host->SetContactless(spec.cless != 0);
    if (!m_loadFile.empty()) {
        LoadEepromFile(m_loadFile);
    }
}

OSMReader::OSMReader(NoHost, const ReaderSpec&, iLog* log) : m_log(log) {}

OSMReader::~OSMReader() {
    try {
        SaveEepromImage();
    } catch (const Exception& e) {
        // A destructor cannot throw: the failure goes to the log, or to stderr
        // without one (or when the log fails too).
        try {
            if (m_log != nullptr) {
                LogPrintf(m_log, ErrorLevel, "%s", e.FullMessage().c_str());
                return;
            }
        } catch (...) {
        }
        std::fprintf(stderr, "%s\n", e.FullMessage().c_str());
    }
}

void OSMReader::PowerOn(ATR& atr) {
    if (!m_powered) {
        m_atr = m_host->PowerOn();
        m_powered = true;
    }
    atr.SetAtr(m_atr, true);
    m_protocol = atr.GetPreferredProtocol();
}

void OSMReader::PowerOff() {
    if (m_powered) {
        m_host->PowerOff();
        m_powered = false;
    }
}

void OSMReader::Reset(ATR& atr) {
    if (!m_powered) {
        throw CardDrvException(NoCardMessage, CardDrvError::NoCard, ZORVIK_PLACE("ZORVIK::OSMReader::Reset"));
    }
    m_atr = m_host->Reset();
    atr.SetAtr(m_atr, true);
    m_protocol = atr.GetPreferredProtocol();
}

void OSMReader::Command(const CApdu& command, RApdu& response) {
    ZORVIK_CHECK("ZORVIK::OSMReader::Command", m_powered, NoCardMessage);
    m_host->Command(command, response);
}

CardExchParam& OSMReader::GetCardExchParam(CardExchParam& param) {
    param.protocol = m_protocol;
    return param;
}

void OSMReader::LoadEepromFile(const std::string& path) {
    binary::Binary image;
    // The size is known before a byte is read: a wrong file is refused at once,
    // however large it is.
    binary::LoadBinaryFile(path, image, [&path](uint64_t size) {
        if (size != OSM::ImageSize) {
            throw CardDrvException("EEPROM image '" + path + "' has " + std::to_string(size) + " bytes, expected " +
                                       std::to_string(OSM::ImageSize),
                                   CardDrvError::General, ZORVIK_PLACE("ZORVIK::OSMReader::LoadEepromFile"));
        }
    });
    m_host->LoadEeprom(image);
}

void OSMReader::SaveEepromImage() {
    const std::string path = std::move(m_saveFile);
    m_saveFile.clear();
    if (m_host && !path.empty()) SaveEepromFile(path);
}

void OSMReader::SaveEepromFile(const std::string& path) const { WriteImageFile(path, m_host->ReadEeprom()); }

JCD_OSM_Reader::JCD_OSM_Reader(const ReaderSpec& spec, iLog* log, int32_t /*jdwp_port*/,
                               const std::vector<std::string>& /*jc_cap_list*/)
    : OSMReader(NoHost{}, spec, log) {
    throw CardDrvException("Can't create OS model with JC debug facility", CardDrvError::General,
                           ZORVIK_PLACE("ZORVIK::JCD_OSM_Reader::JCD_OSM_Reader"));
}

}  // namespace ZORVIK
