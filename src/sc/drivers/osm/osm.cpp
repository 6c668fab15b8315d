#include "sc/drivers/osm/osm.h"

#include <algorithm>
#include <atomic>
#include <new>

#include "sc/drivers/osm/error_catalogue.h"
#include "sc/exchange/reader.h"
#include "service/common/exception.h"
#include "service/log/log.h"

namespace ZORVIK {

namespace {

std::atomic<bool> g_hostAlive{false};

// Erased EEPROM cells read as FF.
constexpr uint8_t ErasedByte = 0xFF;
constexpr int32_t TraceLevel = 1;

}  // namespace

OSM::OSM(iLog* log, int32_t commandTimeout) : m_log(log), m_commandTimeout(commandTimeout) {
    bool expected = false;
    if (!g_hostAlive.compare_exchange_strong(expected, true)) {
        throw CardDrvException("Can't create OS model", CardDrvError::General, ZORVIK_PLACE("ZORVIK::OSM::OSM"));
    }
    try {
        m_memory.reset(new uint8_t[MemoryBlockSize]);
    } catch (const std::bad_alloc&) {
        g_hostAlive = false;
        throw CardDrvException("Can't create OS model", CardDrvError::General, ZORVIK_PLACE("ZORVIK::OSM::OSM"));
    }
    std::fill_n(m_memory.get(), MemoryBlockSize, ErasedByte);
    SetErrorCatalogue(error_catalogue);
}

OSM::~OSM() { g_hostAlive = false; }

binary::Binary OSM::CardAtr() {
    // T=1 only: TA1 18 (Fi 372, Di 12), TC1 00, TD1 81, TD2 31, IFSC 254 (TA3),
    // BWI 4 and CWI 5 (TB3), historical bytes "ZORVIKOS", TCK.
    return binary::Binary("3B D8 18 00 81 31 FE 45 5A 4F 52 56 49 4B 4F 53 C4");
}

binary::Binary OSM::PowerOn() {
    m_powered = true;
    return CardAtr();
}

void OSM::PowerOff() { m_powered = false; }

binary::Binary OSM::Reset() {
    ZORVIK_CHECK("ZORVIK::OSM::Reset", m_powered, NoCardMessage);
    return CardAtr();
}

void OSM::Command(const CApdu& command, RApdu& response) {
    ZORVIK_CHECK("ZORVIK::OSM::Command", m_powered, NoCardMessage);
    response.Clear();
    if (m_trace && m_log != nullptr) {
        LogPrintf(m_log, TraceLevel, "OSM > %s", binary::ToHex(command.Encode()).c_str());
    }
    // No card-OS command set is built in: every instruction is unknown to the card.
    response.sw1 = 0x6D;
    response.sw2 = 0x00;
    if (m_trace && m_log != nullptr) {
        LogPrintf(m_log, TraceLevel, "OSM < %s", binary::ToHex(response.Encode()).c_str());
    }
}

binary::Binary OSM::ReadEeprom() const { return binary::Binary(m_memory.get(), m_memory.get() + ImageSize); }

void OSM::LoadEeprom(const binary::Binary& image) {
    ZORVIK_CHECK_STR(
        "ZORVIK::OSM::LoadEeprom", image.size() == ImageSize,
        "EEPROM image has " + std::to_string(image.size()) + " bytes, expected " + std::to_string(ImageSize));
    std::copy(image.begin(), image.end(), m_memory.get());
}

}  // namespace ZORVIK
