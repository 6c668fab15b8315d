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

#include "service/common/binary.h"
#include "service/common/exception.h"
#include "service/cryptlib/asym/ec_keys.h"
#include "service/cryptlib/asym/ecdh.h"

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

// RFC 7091, 7.1: the private key d and its public point.
const EC_Keys& Own() {
    static const EC_Keys keys(Curve(), Binary("7A929ADE789BB9BE10ED359DD39A72C11B60961F49397EEE1D19CE9891EC3B28"),
                              Binary("7F2B49E270DB6D90D8595BEC458B50C58585BA1D4E9B788F6689DBD8E56FD80B"
                                     "26F1B489D6701DD185C8413A977B3CBBAF64D1C593D26627DFFB101A87FF77DA"),
                              0);
    return keys;
}

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
        const EC_Keys peer(format == 2 ? EC_Param() : Curve(), peerKey, format);
        try {
            CheckSize(ZORVIK::ECDH::GenSharedSecret(Own(), peer), peer);
        } catch (const ZORVIK::Exception&) {
        }
        CheckSize(ZORVIK::ECDH::PerformKeyAgreementVKO(Own(), peer, ukm, littleEndian), peer);
    } catch (const ZORVIK::Exception&) {
    }
    return 0;
}
