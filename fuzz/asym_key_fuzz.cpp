// Arbitrary bytes into the EC key import and signature parsing: DER keys
// (format 2), raw points (formats 0 and 1) and signatures in formats 1, 3 and 4.
// Each either succeeds or throws ZORVIK::Exception; an imported key exports
// and imports back to the same point. The first byte chooses the road.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "gost_test_keys.h"
#include "service/common/binary.h"
#include "service/common/exception.h"
#include "service/cryptlib/asym/ec_cipher.h"
#include "service/cryptlib/asym/ec_keys.h"

namespace {

using ZORVIK::EC_Keys;
using ZORVIK::EC_Param;
using ZORVIK::binary::Binary;
using ZORVIK::fuzz::GostTestCurve;
using ZORVIK::fuzz::GostTestKeys;

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
        case 0: CheckPublicRoundTrip(EC_Keys(GostTestCurve(), input, 2)); break;
        case 1: {
            const EC_Keys keys(GostTestCurve(), input, Binary(), 2);
            CheckPublicRoundTrip(keys);
            keys.ExportPrivateKey(0);
            break;
        }
        case 2:
        case 3: {
            const EC_Keys keys(GostTestCurve(), input, road % 6 - 2);
            if (EC_Keys(GostTestCurve(), keys.ExportPublicKey(road % 6 - 2), road % 6 - 2).ExportPublicKey(0) !=
                keys.ExportPublicKey(0)) {
                std::abort();
            }
            break;
        }
        case 4:
            ZORVIK::ECDSA(GostTestKeys(), 1).VerifyDS(hash, input);
            ZORVIK::ECGOST3410(GostTestKeys(), 1).VerifyDS(hash, input);
            break;
        default:
            ZORVIK::ECGOST3410(GostTestKeys(), 3).VerifyDS(hash, input);
            ZORVIK::ECGOST3410(GostTestKeys(), 4).VerifyDS(hash, input);
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
