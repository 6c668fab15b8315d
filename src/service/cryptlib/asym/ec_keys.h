// Elliptic-curve keys over prime fields: the curve description EC_Param, its
// conversion into an OpenSSL curve, and the key pair EC_Keys with its raw,
// byte-reversed and DER formats.
#pragma once

#include <cstdint>

#include "service/common/binary.h"
#include "service/cryptlib/asym/asym_key.h"

struct ec_key_st;
struct ec_group_st;

namespace ZORVIK {

// The curve y^2 = x^3 + a*x + b over the prime field of p with base point (x, y)
// of the given order; every number is unsigned big-endian.
class EC_Param {
public:
    virtual ~EC_Param() = default;

    binary::Binary p;
    binary::Binary a;
    binary::Binary b;
    binary::Binary x;
    binary::Binary y;
    binary::Binary order;
    uint32_t cofactor = 1;
    binary::Binary seed;  // may be empty
};

// A new OpenSSL curve for param, owned by the caller (EC_GROUP_free). The curve
// has no name, so DER encodings carry its explicit parameters.
ec_group_st* GetGroup(const EC_Param& param);
// Stores a copy of group in key; the caller keeps group.
void SetGroup(const ec_group_st* group, ec_key_st* key);

// Key formats: 0 big-endian d and X || Y; 1 the same with d and each coordinate
// byte-reversed; 2 PKCS#8 PrivateKeyInfo and SubjectPublicKeyInfo DER.
class EC_Keys : public AsymKey {
public:
    EC_Keys(const EC_Keys& other);
    EC_Keys& operator=(const EC_Keys& other);
    // Generates a new key pair on the curve.
    explicit EC_Keys(const EC_Param& param);
    // A key pair from bytes; an empty publicKey leaves the object without point.
    EC_Keys(const EC_Param& param, const binary::Binary& privateKey, const binary::Binary& publicKey, int format);
    // A public key alone.
    EC_Keys(const EC_Param& param, const binary::Binary& publicKey, int format);
    ~EC_Keys() override;

    binary::Binary ExportPublicKey(int format) const override;
    binary::Binary ExportPrivateKey(int format) const override;
    uint32_t GetPublicKeySize() const override;
    uint32_t GetPrivateKeySize() const override;
    bool HasPublicKey() const override { return m_hasPublic; }
    bool HasPrivateKey() const override { return m_hasPrivate; }

    // The OpenSSL key, read by the signature and key-agreement code.
    const ec_key_st* GetKey() const { return m_key; }

private:
    void Load(const EC_Param& param, const binary::Binary& privateKey, const binary::Binary& publicKey, int format);
    // Raw form: the curve from param, X || Y and big-endian d.
    void SetKeys(const EC_Param& param, const binary::Binary& privateKey, const binary::Binary& publicKey);
    // Encoded form: PKCS#8 and SubjectPublicKeyInfo DER.
    void SetKeys(const binary::Binary& privateDer, const binary::Binary& publicDer);
    // L: bytes of the order of the key's curve.
    uint32_t KeyLength() const;

    ec_key_st* m_key;
    bool m_hasPublic;
    bool m_hasPrivate;
};

}  // namespace ZORVIK
