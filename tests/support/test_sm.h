// A secure-messaging test double: a reversible wrapping (CLA marked, data bytes
// masked) whose status-word protection can be switched on.
#pragma once

#include "sc/card_service/secure_messaging.h"
#include "sc/exchange/capdu_rapdu.h"

namespace ZORVIK::test {

class TestSM : public iSM {
public:
    static constexpr uint8_t Mask = 0x5A;
    // ISO/IEC 7816-4, 5.4.1: CLA b4 b3 = 11, secure messaging with an authenticated header.
    static constexpr uint8_t SecureClaBits = 0x0C;

    explicit TestSM(bool statusWordProtected = false) : m_protected(statusWordProtected) {}

    void SetStatusWordProtected(bool value) { m_protected = value; }

    // Wrapped: CLA | 0C, data bytes XOR 5A, the rest unchanged.
    void WrapCommand(const CApdu& plain, CApdu& wrapped) override;
    // Unprotected: the data unmasked, the status taken as it is. Protected: the
    // last two data bytes are the real status word and the wire status is dropped.
    void UncoverResponse(const RApdu& wrapped, RApdu& plain) override;
    uint32_t GetMaxCommandDataSize(uint32_t size) override { return size; }
    uint32_t GetResponseDataSize(uint32_t size) override;
    bool IsStatusWordProtected() override { return m_protected; }

    // The wire form of a plain response, as a card using this wrapping would send
    // it (with a protected status word the wire status is 9000).
    RApdu Cover(const RApdu& plain) const;

    int wrapCount = 0;
    int uncoverCount = 0;

private:
    bool m_protected;
};

binary::Binary MaskBytes(const binary::Binary& data);

}  // namespace ZORVIK::test
