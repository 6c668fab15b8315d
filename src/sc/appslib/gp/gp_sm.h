// GlobalPlatform SCP02 secure messaging for the card service: C-MAC and, at
// security level 03, command data encryption, over session keys of an open
// secure channel (GlobalPlatform Card Specification 2.2, Appendix E).
#pragma once

#include <cstdint>

#include "sc/card_service/secure_messaging.h"
#include "service/common/binary.h"
#include "service/cryptlib/sym/des.h"

namespace ZORVIK {

class GP_SM : public iSM {
public:
    // Security levels of EXTERNAL AUTHENTICATE P1 that this object serves.
    static constexpr uint8_t LevelCMac = 0x01;
    static constexpr uint8_t LevelCMacAndCDecryption = 0x03;
    // The bit of the SCP02 i-parameter that asks for ICV encryption (i = 15, 55).
    static constexpr uint8_t IcvEncryptionBit = 0x10;

    // sMac and sEnc: the 16-byte S-MAC and S-ENC session keys (two-key triple
    // DES). icvEncryption: each C-MAC is encrypted with single DES under the
    // first half of S-MAC before it chains into the next command.
    GP_SM(const binary::Binary& sMac, const binary::Binary& sEnc, uint8_t securityLevel, bool icvEncryption);

    void WrapCommand(const CApdu& plain, CApdu& wrapped) override;
    // No R-MAC at levels 01 and 03: the response is passed on as it came.
    void UncoverResponse(const RApdu& wrapped, RApdu& plain) override;
    uint32_t GetMaxCommandDataSize(uint32_t size) override;
    uint32_t GetResponseDataSize(uint32_t size) override { return size; }
    bool IsStatusWordProtected() override { return false; }

    uint8_t GetSecurityLevel() const { return m_securityLevel; }
    // C-MAC of the last wrapped command; empty before the first one.
    const binary::Binary& GetLastCMac() const { return m_lastCMac; }

private:
    binary::Binary NextIcv() const;

    binary::Binary m_sMac;
    TriDES m_macCipher;
    TriDES m_encCipher;
    uint8_t m_securityLevel;
    bool m_icvEncryption;
    binary::Binary m_lastCMac;
};

}  // namespace ZORVIK
