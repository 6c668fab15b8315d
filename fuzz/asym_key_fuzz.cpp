// Arbitrary bytes into the EC key import and signature parsing: DER keys
// (format 2), raw points (formats 0 and 1) and signatures in formats 1, 3 and 4.
// Each either succeeds or throws ZORVIK::Exception; an imported key exports
// and imports back to the same point. The first byte chooses the road.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "service/common/binary.h"
#include "service/common/exception.h"
#include "service/cryptlib/asym/ec_cipher.h"
#include "service/cryptlib/asym/ec_keys.h"

namespace {

using ZORVIK::EC_Keys;
using ZORVIK::EC_Param;
using ZORVIK::binary::Binary;

// GOST R 34.10-2012, Appendix A.1: the 256-bit test curve.
const EC_Param& Curve() {
    static const EC_Param param = [] {
        EC_Param curve;
        curve.p = Binary("8000000000000000000000000000000000000000000000000000000000000431");
        curve.a = Binary("07");
        curve.b = Binary("5FBFF498AA938CE739B8E022FBAFEF40563F6E6A3472FC2A514C0CE9DAE23B7E");
        curve.x = Binary("02");
        curve.y = Binary("08E2A8A0E65147D4BD6316030E16D19C85C97F0A9CA267122B96ABBCEA7E8FC8");
        curve.order = Binary("8000000000000000000000000000000150FE8A1892976154C59CFC193ACCF5B3");
        return curve;
    }();
    return param;
}

// The RFC 7091 key pair.
const EC_Keys& Keys() {
    static const EC_Keys keys(Curve(), Binary("7A929ADE789BB9BE10ED359DD39A72C11B60961F49397EEE1D19CE9891EC3B28"),
                              Binary("7F2B49E270DB6D90D8595BEC458B50C58585BA1D4E9B788F6689DBD8E56FD80B"
                                     "26F1B489D6701DD185C8413A977B3CBBAF64D1C593D26627DFFB101A87FF77DA"),
                              0);
    return keys;
}

void CheckPublicRoundTrip(const EC_Keys& keys) {
    if (!keys.HasPublicKey()) return;
    const Binary raw = keys.ExportPublicKey(0);
    if (raw.size() != keys.GetPublicKeySize()) std::abort();
    const EC_Keys again(EC_Param(), keys.ExportPublicKey(2), 2);
    if (again.ExportPublicKey(0) != raw) std::abort();
}

void Run(uint8_t road, const Binary& input) {
    const Binary hash("2DFBC1B372D89A1188C09C52E0EEC61FCE52032AB1022E8E67ECE6672B043EE5");
    switch (road % 6) {
        case 0: CheckPublicRoundTrip(EC_Keys(Curve(), input, 2)); break;
        case 1: {
            const EC_Keys keys(Curve(), input, Binary(), 2);
            CheckPublicRoundTrip(keys);
            keys.ExportPrivateKey(0);
            break;
        }
        case 2:
        case 3: {
            const EC_Keys keys(Curve(), input, road % 6 - 2);
            if (EC_Keys(Curve(), keys.ExportPublicKey(road % 6 - 2), road % 6 - 2).ExportPublicKey(0) !=
                keys.ExportPublicKey(0)) {
                std::abort();
            }
            break;
        }
        case 4:
            ZORVIK::ECDSA(Keys(), 1).VerifyDS(hash, input);
            ZORVIK::ECGOST3410(Keys(), 1).VerifyDS(hash, input);
            break;
        default:
            ZORVIK::ECGOST3410(Keys(), 3).VerifyDS(hash, input);
            ZORVIK::ECGOST3410(Keys(), 4).VerifyDS(hash, input);
            break;
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    try {
        Run(data[0], Binary(data + 1, data + size));
    } catch (const ZORVIK::Exception&) {
        // Refused input: the expected outcome for most bytes.
    }
    return 0;
}
