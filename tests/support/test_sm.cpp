#include "support/test_sm.h"

#include "service/common/exception.h"

namespace ZORVIK::test {

namespace {

binary::Binary Masked(binary::Binary data) {
    for (uint8_t& byte : data) byte ^= 0x5A;
    return data;
}

}  // namespace

void TestSM::WrapCommand(const CApdu& plain, CApdu& wrapped) {
    ++wrapCount;
    wrapped = plain;
    wrapped.cla = plain.cla | 0x0C;
    wrapped.data = Masked(plain.data);
}

void TestSM::UncoverResponse(const RApdu& wrapped, RApdu& plain) {
    ++uncoverCount;
    plain = wrapped;
    if (m_protected) {
        if (wrapped.data.size() < 2)
            throw Exception("TestSM: the protected response has no status word", SourcePlace());
        plain.data.resize(wrapped.data.size() - 2);
        plain.sw1 = wrapped.data[wrapped.data.size() - 2];
        plain.sw2 = wrapped.data.back();
    }
    plain.data = Masked(plain.data);
}

}  // namespace ZORVIK::test
