#include "sc/drivers/osm/osm_reader.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "service/common/exception.h"
#include "service/log/log.h"

namespace ZORVIK {

namespace {

constexpr int32_t ErrorLevel = 7;

[[noreturn]] void ThrowSaveError(const std::string& path, const char* step, int error) {
    throw CardDrvException("Can't save EEPROM image '" + path + "': " + step + ": " + std::strerror(error),
                           CardDrvError::General, ZORVIK_PLACE("ZORVIK::OSMReader::SaveEepromFile"));
}

}  // namespace

OSMReader::OSMReader(const ReaderSpec& spec, iLog* log)
    : m_log(log), m_loadFile(spec.EL), m_saveFile(spec.ES) {
    m_host = std::make_unique<OSM>(log, spec.cmd_timeout == 0 ? -1 : spec.cmd_timeout);
    m_host->SetTrace(spec.tex != 0);
    m_host->SetContactless(spec.cless != 0);
    if (!m_loadFile.empty()) {
        LoadEepromFile(m_loadFile);
    }
}

OSMReader::OSMReader(NoHost, const ReaderSpec&, iLog* log) : m_log(log) {}

OSMReader::~OSMReader() {
    if (!m_host || m_saveFile.empty()) {
        return;
    }
    try {
        SaveEepromFile(m_saveFile);
    } catch (const Exception& e) {
        // A destructor cannot throw: the failure goes to the log, or to stderr without one.
        if (m_log != nullptr) {
            LogPrintf(m_log, ErrorLevel, "%s", e.FullMessage().c_str());
        } else {
            std::fprintf(stderr, "%s\n", e.FullMessage().c_str());
        }
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
    const binary::Binary image = binary::LoadBinaryFile(path);
    if (image.size() != OSM::ImageSize) {
        throw CardDrvException("EEPROM image '" + path + "' has " + std::to_string(image.size()) +
                                   " bytes, expected " + std::to_string(OSM::ImageSize),
                               CardDrvError::General, ZORVIK_PLACE("ZORVIK::OSMReader::LoadEepromFile"));
    }
    m_host->LoadEeprom(image);
}

void OSMReader::SaveEepromFile(const std::string& path) const {
    const binary::Binary image = m_host->ReadEeprom();
    std::string temporary = path + ".XXXXXX";
    const int fd = mkstemp(temporary.data());
    if (fd < 0) {
        ThrowSaveError(path, "mkstemp", errno);
    }
    size_t written = 0;
    while (written < image.size()) {
        const ssize_t n = ::write(fd, image.data() + written, image.size() - written);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            const int error = n < 0 ? errno : EIO;
            ::close(fd);
            ::unlink(temporary.c_str());
            ThrowSaveError(path, "write", error);
        }
        written += static_cast<size_t>(n);
    }
    // mkstemp makes the file private; an image file is an ordinary document.
    // It must be on disk before the rename makes it the target.
    const char* step = ::fchmod(fd, 0644) != 0 ? "fchmod" : ::fsync(fd) != 0 ? "fsync" : nullptr;
    if (step != nullptr) {
        const int error = errno;
        ::close(fd);
        ::unlink(temporary.c_str());
        ThrowSaveError(path, step, error);
    }
    if (::close(fd) != 0) {
        const int error = errno;
        ::unlink(temporary.c_str());
        ThrowSaveError(path, "close", error);
    }
    if (std::rename(temporary.c_str(), path.c_str()) != 0) {
        const int error = errno;
        ::unlink(temporary.c_str());
        ThrowSaveError(path, "rename", error);
    }
}

JCD_OSM_Reader::JCD_OSM_Reader(const ReaderSpec& spec, iLog* log, int32_t /*jdwp_port*/,
                               const std::vector<std::string>& /*jc_cap_list*/)
    : OSMReader(NoHost{}, spec, log) {
    throw CardDrvException("Can't create OS model with JC debug facility", CardDrvError::General,
                           ZORVIK_PLACE("ZORVIK::JCD_OSM_Reader::JCD_OSM_Reader"));
}

}  // namespace ZORVIK
