// A secure-messaging test double: a reversible wrapping (CLA marked, data bytes
// masked) whose status-word protection can be switched on.
#pragma once

#include "sc/card_service/secure_messaging.h"
#include "sc/exchange/capdu_rapdu.h"

namespace ZORVIK::test {

class TestSM : public iSM {
public:
    explicit TestSM(bool statusWordProtected = false) : m_protected(statusWordProtected) {}

    // Wrapped: CLA | 0C (ISO/IEC 7816-4, 5.4.1: secure messaging, header
    // authenticated), data bytes XOR 5A, the rest unchanged.
    void WrapCommand(const CApdu& plain, CApdu& wrapped) override;
    // Unprotected: the data unmasked, the status taken as it is. Protected: the
    // last two data bytes are the real status word and the wire status is dropped.
    void UncoverResponse(const RApdu& wrapped, RApdu& plain) override;
    uint32_t GetMaxCommandDataSize(uint32_t size) override { return size; }
    uint32_t GetResponseDataSize(uint32_t size) override { return size; }
    bool IsStatusWordProtected() override { return m_protected; }

    int wrapCount = 0;
    int uncoverCount = 0;

private:
    bool m_protected;
};

}  // namespace ZORVIK::test
