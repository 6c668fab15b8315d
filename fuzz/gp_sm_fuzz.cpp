// Arbitrary command APDUs through GlobalPlatform SCP02 wrapping. The first byte
// chooses the security level (bit 0: 01 or 03) and ICV encryption (bit 1); the
// rest is a command APDU, wrapped twice so that the C-MAC chains. A command is
// either refused with ZORVIK::Exception or becomes a short command with the
// secure-messaging CLA, the same header and Ne, and the data (encrypted at level
// 03) followed by the 8-byte C-MAC.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "sc/appslib/gp/gp_sm.h"
#include "sc/exchange/capdu_rapdu.h"
#include "service/common/binary.h"
#include "service/common/exception.h"

namespace {

using ZORVIK::CApdu;
using ZORVIK::GP_SM;
using ZORVIK::binary::Binary;

void CheckWrapped(const CApdu& plain, const CApdu& wrapped, bool encrypted) {
    const size_t dataSize = encrypted ? (plain.data.size() / 8 + 1) * 8 : plain.data.size();
    // ISO/IEC 7816-4, 5.4.1: b3 of a first interindustry CLA, b6 of a further one.
    const uint8_t cla = plain.cla | ((plain.cla & 0x40) ? 0x20 : 0x04);
    if (wrapped.cla != cla || wrapped.ins != plain.ins || wrapped.p1 != plain.p1 || wrapped.p2 != plain.p2 ||
        wrapped.ne != plain.ne || wrapped.extended || wrapped.data.size() != dataSize + 8 ||
        wrapped.data.size() > 255) {
        std::abort();
    }
    (void)wrapped.Encode();  // a valid short command
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    const uint8_t level = (data[0] & 1) ? GP_SM::LevelCMacAndCDecryption : GP_SM::LevelCMac;
    GP_SM sm(Binary("404142434445464748494A4B4C4D4E4F"), Binary("505152535455565758595A5B5C5D5E5F"), level,
             (data[0] & 2) != 0);
    CApdu plain;
    try {
        plain.DecodeCanonical(Binary(data + 1, data + size));
    } catch (const ZORVIK::Exception&) {
        return 0;
    }
    const bool encrypted = level == GP_SM::LevelCMacAndCDecryption && !plain.data.empty() && plain.ins != 0x82;
    for (int round = 0; round < 2; ++round) {
        CApdu wrapped;
        try {
            sm.WrapCommand(plain, wrapped);
        } catch (const ZORVIK::Exception&) {
            return 0;
        }
        CheckWrapped(plain, wrapped, encrypted);
    }
    return 0;
}
