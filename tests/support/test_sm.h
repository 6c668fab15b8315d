// A secure-messaging test double: a reversible wrapping (CLA marked, data bytes
// masked) whose status-word protection can be switched on.
#pragma once

#include "sc/card_service/secure_messaging.h"
#include "sc/exchange/capdu_rapdu.h"
#include "service/common/exception.h"

namespace ZORVIK::test {

class TestSM : public iSM {
public:
    explicit TestSM(bool statusWordProtected = false) : m_protected(statusWordProtected) {}

    // Wrapped: CLA | 0C (ISO/IEC 7816-4, 5.4.1: secure messaging, header
    // authenticated), data bytes XOR 5A, the rest unchanged.
    void WrapCommand(const CApdu& plain, CApdu& wrapped) override {
        ++wrapCount;
        wrapped = plain;
        wrapped.cla = plain.cla | 0x0C;
        wrapped.data = Masked(plain.data);
    }
    // Unprotected: the data unmasked, the status taken as it is. Protected: the
    // last two data bytes are the real status word and the wire status is dropped.
    void UncoverResponse(const RApdu& wrapped, RApdu& plain) override {
        ++uncoverCount;
        plain = wrapped;
        if (m_protected) {
            if (wrapped.data.size() < 2) throw Exception("TestSM: no status word in the data", SourcePlace());
            plain.data.resize(wrapped.data.size() - 2);
            plain.sw1 = wrapped.data[wrapped.data.size() - 2];
            plain.sw2 = wrapped.data.back();
        }
        plain.data = Masked(plain.data);
    }
    uint32_t GetMaxCommandDataSize(uint32_t size) override { return size; }
    uint32_t GetResponseDataSize(uint32_t size) override { return size; }
    bool IsStatusWordProtected() override { return m_protected; }

    int wrapCount = 0;
    int uncoverCount = 0;

private:
    static binary::Binary Masked(binary::Binary data) {
        for (uint8_t& byte : data) byte ^= 0x5A;
        return data;
    }

    bool m_protected;
};

}  // namespace ZORVIK::test
