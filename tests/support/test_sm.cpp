#include "support/test_sm.h"

#include "service/common/exception.h"

namespace ZORVIK::test {

binary::Binary MaskBytes(const binary::Binary& data) {
    binary::Binary result = data;
    for (uint8_t& byte : result) byte ^= TestSM::Mask;
    return result;
}

void TestSM::WrapCommand(const CApdu& plain, CApdu& wrapped) {
    ++wrapCount;
    wrapped = plain;
    wrapped.cla = plain.cla | SecureClaBits;
    wrapped.data = MaskBytes(plain.data);
}

void TestSM::UncoverResponse(const RApdu& wrapped, RApdu& plain) {
    ++uncoverCount;
    if (!m_protected) {
        plain.data = MaskBytes(wrapped.data);
        plain.sw1 = wrapped.sw1;
        plain.sw2 = wrapped.sw2;
        return;
    }
    const size_t size = wrapped.data.size();
    if (size < 2) throw Exception("TestSM: the protected response has no status word", SourcePlace());
    plain.data = MaskBytes(binary::Slice(wrapped.data, 0, static_cast<uint32_t>(size - 2)));
    plain.sw1 = wrapped.data[size - 2];
    plain.sw2 = wrapped.data[size - 1];
}

uint32_t TestSM::GetResponseDataSize(uint32_t size) {
    if (!m_protected) return size;
    return size < 2 ? 0 : size - 2;
}

RApdu TestSM::Cover(const RApdu& plain) const {
    RApdu wire;
    wire.data = MaskBytes(plain.data);
    if (!m_protected) {
        wire.sw1 = plain.sw1;
        wire.sw2 = plain.sw2;
        return wire;
    }
    wire.data.push_back(plain.sw1);
    wire.data.push_back(plain.sw2);
    wire.sw1 = 0x90;
    wire.sw2 = 0x00;
    return wire;
}

}  // namespace ZORVIK::test
