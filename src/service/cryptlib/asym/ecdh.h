// Elliptic-curve key agreement: the plain Diffie-Hellman point d*Q and the GOST
// VKO point ((d * UKM) mod n) * Q (RFC 4357 5.2, RFC 7836 4.3), both returned
// raw as X || Y without cofactor or hash.
#pragma once

#include "service/common/binary.h"
#include "service/cryptlib/asym/ec_keys.h"

namespace ZORVIK {

class ECDH {
public:
    // d (own private value) times Q (peer's public point): X || Y, each
    // right-aligned in half of peer's GetPublicKeySize bytes.
    static binary::Binary GenSharedSecret(const EC_Keys& own, const EC_Keys& peer);
    // ((d * UKM) mod n) * Q. An empty ukm counts as 01. With littleEndian the
    // ukm is read little-endian and each coordinate is returned byte-reversed,
    // the layout RFC 7836 hashes into the KEK.
    //
    // No cofactor, on purpose: RFC 7836 (4.3) and other implementations (the
    // GOST engine of OpenSSL, for one) compute (h * d * UKM mod n) * Q, h the
    // curve's cofactor. This one is kept without h, as the toolkit's cards may
    // rely on it. With cofactor 1 the two points are equal; on the curves with
    // cofactor 4 (TC26 256 A, TC26 512 C) a standard peer's point is 4 times
    // this one, and keys derived from the two never match.
    static binary::Binary PerformKeyAgreementVKO(const EC_Keys& own, const EC_Keys& peer, const binary::Binary& ukm,
                                                 bool littleEndian);
};

}  // namespace ZORVIK
