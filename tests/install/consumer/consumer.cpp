// Uses one thing of each installed library through the installed headers and
// prints what it got; install_test.cmake compares the lines.
#include <cstdio>
#include <string>

#include "sc/exchange/capdu_rapdu.h"
#include "service/common/binary.h"
#include "service/cryptlib/hash/sha.h"
#include "service/diagnostics/stack_walker.h"
#include "service/tlv/tlv.h"

namespace {

// The dumper is linked with the libbacktrace that the package carries; its
// text is not part of the check.
class SilentWalker : public ZORVIK::StackWalker {
protected:
    void Output(const char*) override {}
};

}  // namespace

int main() {
    using ZORVIK::binary::Binary;
    std::string dump;
    ZORVIK::DumpTLV(ZORVIK::ParseTLV(Binary("6F 05 84 03 A0 00 01")), dump, 0);
    std::printf("tlv: %s\n", dump.c_str());
    const std::string abc = "abc";
    std::printf("sha256: %s\n", ToHex(ZORVIK::SHA256().Calc(Binary(abc.begin(), abc.end()))).c_str());
    const ZORVIK::CApdu select(0x00, 0xA4, 0x04, 0x00, Binary("A000000003"), 256);
    std::printf("apdu: %s\n", ToHex(select.Encode()).c_str());
    SilentWalker walker;
    walker.WalkStack();
    return 0;
}
