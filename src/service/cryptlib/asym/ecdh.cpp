// The agreement reads the EC_KEY objects that EC_Keys owns; the API level is
// pinned here, before any OpenSSL header.
#define OPENSSL_API_COMPAT 0x10101000L

#include "service/cryptlib/asym/ecdh.h"

#include <openssl/bn.h>
#include <openssl/ec.h>
#include <openssl/err.h>

#include <string>

#include "service/cryptlib/asym/openssl_handles.h"

namespace ZORVIK {
namespace {

using namespace asym;

// scalar * peer's Q written as X || Y into size bytes.
binary::Binary MultiplyPeerPoint(const EC_GROUP* group, const EC_Keys& peer, const BIGNUM* scalar, uint32_t size,
                                 BN_CTX* ctx, const char* function) {
    const EC_POINT* q = EC_KEY_get0_public_key(peer.GetKey());
    if (q == nullptr) Fail("Failed to get public key", function);
    EcPointPtr product(EC_POINT_new(group));
    if (!product) Fail("Failed to create ec point object", function);
    if (!EC_POINT_mul(group, product.get(), nullptr, q, scalar, ctx)) {
        Fail("Failed to multiply bignum * ec_point", function);
    }
    CtxScope scope(ctx);
    BIGNUM* x = scope.Get();
    BIGNUM* y = scope.Get();
    // The point at infinity has no affine coordinates.
    if (y == nullptr || !EC_POINT_get_affine_coordinates(group, product.get(), x, y, ctx)) {
        ERR_clear_error();
        Fail("Failed to get result point coords", function);
    }
    const auto xBytes = ToFixedWidth(x, size / 2);
    if (!xBytes) Fail("Failed to serialize x-coord", function);
    const auto yBytes = ToFixedWidth(y, size - size / 2);
    if (!yBytes) Fail("Failed to serialize y-coord", function);
    return *xBytes + *yBytes;
}

const EC_GROUP* OwnGroup(const EC_Keys& own, const char* function) {
    const EC_GROUP* group = EC_KEY_get0_group(own.GetKey());
    if (group == nullptr) Fail("Failed to get group from private key", function);
    return group;
}

void OwnPrivateValue(const EC_Keys& own, BIGNUM* d, const char* function) {
    const BIGNUM* value = EC_KEY_get0_private_key(own.GetKey());
    if (value == nullptr || BN_copy(d, value) == nullptr) Fail("Failed to get private key", function);
    BN_set_flags(d, BN_FLG_CONSTTIME);
}

}  // namespace

binary::Binary ECDH::GenSharedSecret(const EC_Keys& own, const EC_Keys& peer) {
    constexpr const char* function = "ZORVIK::ECDH::GenSharedSecret";
    const uint32_t size = peer.GetPublicKeySize();
    BnFrame frame;
    if (!frame.Valid()) Fail("Failed to init bignum context", function);
    BIGNUM* n = frame.Get();
    BIGNUM* d = frame.Get();
    if (d == nullptr) Fail("Failed to allocate memory from context", function);
    const EC_GROUP* group = OwnGroup(own, function);
    if (!EC_GROUP_get_order(group, n, frame.Ctx())) Fail("Failed to get order from group", function);
    if (EC_KEY_get0_public_key(peer.GetKey()) == nullptr) Fail("Failed to get public key", function);
    OwnPrivateValue(own, d, function);
    return MultiplyPeerPoint(group, peer, d, size, frame.Ctx(), function);
}

binary::Binary ECDH::PerformKeyAgreementVKO(const EC_Keys& own, const EC_Keys& peer, const binary::Binary& ukm,
                                            bool littleEndian) {
    constexpr const char* function = "ZORVIK::ECDH::PerformKeyAgreementVKO";
    binary::Binary ukmBytes = ukm.empty() ? binary::Binary{0x01} : ukm;
    const uint32_t size = peer.GetPublicKeySize();
    BnFrame frame;
    if (!frame.Valid()) Fail("Failed to init bignum context", function);
    BIGNUM* n = frame.Get();
    BIGNUM* d = frame.Get();
    BIGNUM* ukmValue = frame.Get();
    BIGNUM* scalar = frame.Get();
    if (scalar == nullptr) Fail("Failed to allocate memory from context", function);
    // RFC 7836 4.3.1: the UKM is a little-endian number.
    if (littleEndian) cryptlib::Reverse(ukmBytes);
    const EC_GROUP* group = OwnGroup(own, function);
    if (!EC_GROUP_get_order(group, n, frame.Ctx())) Fail("Failed to get order from group", function);
    if (EC_KEY_get0_public_key(peer.GetKey()) == nullptr) Fail("Failed to get public key", function);
    if (!ToBignum(ukmBytes, ukmValue)) Fail("Failed to get ukm", function);
    OwnPrivateValue(own, d, function);
    if (!BN_mod_mul(scalar, d, ukmValue, n, frame.Ctx())) Fail("Failed to multiply d * ukm", function);
    binary::Binary result = MultiplyPeerPoint(group, peer, scalar, size, frame.Ctx(), function);
    if (littleEndian) ReverseHalves(result);
    return result;
}

}  // namespace ZORVIK
