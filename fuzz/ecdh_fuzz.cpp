// Key agreement with arbitrary peer keys and UKM: plain ECDH and GOST VKO with
// the RFC 7091 private key on the GOST R 34.10-2012 test curve. The first byte
// chooses the peer key's format (0 raw X || Y, 1 byte-reversed, 2
// SubjectPublicKeyInfo DER with its own curve) and VKO's byte order (bit 2);
// the next byte is the length of the UKM that follows; the rest is the peer key.
// A key that is not a point of our curve must be refused with
// ZORVIK::Exception; an agreed point has the peer key's size.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "gost_test_keys.h"
#include "service/common/binary.h"
#include "service/common/exception.h"
#include "service/cryptlib/asym/ec_keys.h"
#include "service/cryptlib/asym/ecdh.h"

namespace {

using ZORVIK::EC_Keys;
using ZORVIK::EC_Param;
using ZORVIK::binary::Binary;
using ZORVIK::fuzz::GostTestCurve;
using ZORVIK::fuzz::GostTestKeys;

void CheckSize(const Binary& point, const EC_Keys& peer) {
    if (point.size() != peer.GetPublicKeySize()) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 2) return 0;
    const int format = data[0] % 3;
    const bool littleEndian = (data[0] & 4) != 0;
    const size_t ukmLength = std::min<size_t>(data[1], size - 2);
    const Binary ukm(data + 2, data + 2 + ukmLength);
    const Binary peerKey(data + 2 + ukmLength, data + size);
    try {
        const EC_Keys peer(format == 2 ? EC_Param() : GostTestCurve(), peerKey, format);
        try {
            CheckSize(ZORVIK::ECDH::GenSharedSecret(GostTestKeys(), peer), peer);
        } catch (const ZORVIK::Exception&) {
        }
        CheckSize(ZORVIK::ECDH::PerformKeyAgreementVKO(GostTestKeys(), peer, ukm, littleEndian), peer);
    } catch (const ZORVIK::Exception&) {
    }
    return 0;
}
