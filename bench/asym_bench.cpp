// Signing and verification speed of GOST R 34.10-2012 (256-bit) and ECDSA
// P-256 beside OpenSSL's own EVP ECDSA, in one run. OpenSSL's ECDSA runs on its
// named P-256, on the explicit P-256 key our EC_Keys carries, and on the GOST
// test curve (generic prime-field arithmetic, the same our GOST code gets).
#define OPENSSL_API_COMPAT 0x10101000L

#include <benchmark/benchmark.h>
#include <openssl/ec.h>
#include <openssl/evp.h>

#include <memory>
#include <stdexcept>

#include "service/common/binary.h"
#include "service/cryptlib/asym/ec_cipher.h"
#include "service/cryptlib/asym/ec_keys.h"

namespace {

using ZORVIK::EC_Keys;
using ZORVIK::EC_Param;
using ZORVIK::binary::Binary;

// GOST R 34.10-2012, Appendix A.1: the 256-bit test curve.
EC_Param GostTestCurve() {
    EC_Param param;
    param.p = Binary("8000000000000000000000000000000000000000000000000000000000000431");
    param.a = Binary("07");
    param.b = Binary("5FBFF498AA938CE739B8E022FBAFEF40563F6E6A3472FC2A514C0CE9DAE23B7E");
    param.x = Binary("02");
    param.y = Binary("08E2A8A0E65147D4BD6316030E16D19C85C97F0A9CA267122B96ABBCEA7E8FC8");
    param.order = Binary("8000000000000000000000000000000150FE8A1892976154C59CFC193ACCF5B3");
    return param;
}

// FIPS 186-4, D.1.2.3: P-256.
EC_Param P256() {
    EC_Param param;
    param.p = Binary("FFFFFFFF00000001000000000000000000000000FFFFFFFFFFFFFFFFFFFFFFFF");
    param.a = Binary("FFFFFFFF00000001000000000000000000000000FFFFFFFFFFFFFFFFFFFFFFFC");
    param.b = Binary("5AC635D8AA3A93E7B3EBBD55769886BC651D06B0CC53B0F63BCE3C3E27D2604B");
    param.x = Binary("6B17D1F2E12C4247F8BCE6E563A440F277037D812DEB33A0F4A13945D898C296");
    param.y = Binary("4FE342E2FE1A7F9B8EE7EB4A7C0F9E162BCE33576B315ECECBB6406837BF51F5");
    param.order = Binary("FFFFFFFF00000000FFFFFFFFFFFFFFFFBCE6FAADA7179E84F3B9CAC2FC632551");
    return param;
}

const Binary& Hash() {
    static const Binary hash("AF2BDBE1AA9B6EC1E2ADE1D694F41FC71A831D0268E9891562113D8A62ADD1BF");
    return hash;
}

template <class Cipher>
void Sign(benchmark::State& state, const EC_Param& curve) {
    const Cipher cipher(EC_Keys(curve), 0);
    for (auto _ : state) benchmark::DoNotOptimize(cipher.CalcDS(Hash()));
}

template <class Cipher>
void Verify(benchmark::State& state, const EC_Param& curve) {
    const Cipher cipher(EC_Keys(curve), 0);
    const Binary signature = cipher.CalcDS(Hash());
    for (auto _ : state) {
        if (!cipher.VerifyDS(Hash(), signature)) state.SkipWithError("signature did not verify");
    }
}

void BM_Ours_GOST3410_256_Sign(benchmark::State& state) { Sign<ZORVIK::ECGOST3410>(state, GostTestCurve()); }
void BM_Ours_GOST3410_256_Verify(benchmark::State& state) { Verify<ZORVIK::ECGOST3410>(state, GostTestCurve()); }
void BM_Ours_ECDSA_P256_Sign(benchmark::State& state) { Sign<ZORVIK::ECDSA>(state, P256()); }
void BM_Ours_ECDSA_P256_Verify(benchmark::State& state) { Verify<ZORVIK::ECDSA>(state, P256()); }

struct PkeyFree {
    void operator()(EVP_PKEY* key) const { EVP_PKEY_free(key); }
};
struct CtxFree {
    void operator()(EVP_PKEY_CTX* ctx) const { EVP_PKEY_CTX_free(ctx); }
};
using Pkey = std::unique_ptr<EVP_PKEY, PkeyFree>;
using Ctx = std::unique_ptr<EVP_PKEY_CTX, CtxFree>;

Pkey NamedP256Key() { return Pkey(EVP_PKEY_Q_keygen(nullptr, nullptr, "EC", "P-256")); }

// The key of an EC_Keys object, wrapped for EVP: same explicit curve as ours.
Pkey EvpKeyOf(const EC_Keys& keys) {
    Pkey key(EVP_PKEY_new());
    if (!key || !EVP_PKEY_set1_EC_KEY(key.get(), const_cast<EC_KEY*>(keys.GetKey()))) {
        throw std::runtime_error("EVP_PKEY_set1_EC_KEY failed");
    }
    return key;
}

Binary EvpSign(EVP_PKEY_CTX* ctx) {
    Binary signature(80);
    size_t size = signature.size();
    if (EVP_PKEY_sign(ctx, signature.data(), &size, Hash().data(), Hash().size()) <= 0) {
        throw std::runtime_error("EVP_PKEY_sign failed");
    }
    signature.resize(size);
    return signature;
}

void EvpSignLoop(benchmark::State& state, EVP_PKEY* key) {
    Ctx ctx(EVP_PKEY_CTX_new(key, nullptr));
    if (!ctx || EVP_PKEY_sign_init(ctx.get()) <= 0) return state.SkipWithError("EVP_PKEY_sign_init failed");
    for (auto _ : state) benchmark::DoNotOptimize(EvpSign(ctx.get()));
}

void EvpVerifyLoop(benchmark::State& state, EVP_PKEY* key) {
    Ctx ctx(EVP_PKEY_CTX_new(key, nullptr));
    if (!ctx || EVP_PKEY_sign_init(ctx.get()) <= 0) return state.SkipWithError("EVP_PKEY_sign_init failed");
    const Binary signature = EvpSign(ctx.get());
    if (EVP_PKEY_verify_init(ctx.get()) <= 0) return state.SkipWithError("EVP_PKEY_verify_init failed");
    for (auto _ : state) {
        if (EVP_PKEY_verify(ctx.get(), signature.data(), signature.size(), Hash().data(), Hash().size()) != 1) {
            state.SkipWithError("signature did not verify");
        }
    }
}

void BM_OpenSSL_ECDSA_P256_Named_Sign(benchmark::State& state) { EvpSignLoop(state, NamedP256Key().get()); }
void BM_OpenSSL_ECDSA_P256_Named_Verify(benchmark::State& state) { EvpVerifyLoop(state, NamedP256Key().get()); }
void BM_OpenSSL_ECDSA_P256_Explicit_Sign(benchmark::State& state) {
    const EC_Keys keys(P256());
    EvpSignLoop(state, EvpKeyOf(keys).get());
}
void BM_OpenSSL_ECDSA_P256_Explicit_Verify(benchmark::State& state) {
    const EC_Keys keys(P256());
    EvpVerifyLoop(state, EvpKeyOf(keys).get());
}
void BM_OpenSSL_ECDSA_GostCurve_Sign(benchmark::State& state) {
    const EC_Keys keys(GostTestCurve());
    EvpSignLoop(state, EvpKeyOf(keys).get());
}
void BM_OpenSSL_ECDSA_GostCurve_Verify(benchmark::State& state) {
    const EC_Keys keys(GostTestCurve());
    EvpVerifyLoop(state, EvpKeyOf(keys).get());
}

BENCHMARK(BM_Ours_GOST3410_256_Sign);
BENCHMARK(BM_Ours_GOST3410_256_Verify);
BENCHMARK(BM_OpenSSL_ECDSA_GostCurve_Sign);
BENCHMARK(BM_OpenSSL_ECDSA_GostCurve_Verify);
BENCHMARK(BM_Ours_ECDSA_P256_Sign);
BENCHMARK(BM_Ours_ECDSA_P256_Verify);
BENCHMARK(BM_OpenSSL_ECDSA_P256_Explicit_Sign);
BENCHMARK(BM_OpenSSL_ECDSA_P256_Explicit_Verify);
BENCHMARK(BM_OpenSSL_ECDSA_P256_Named_Sign);
BENCHMARK(BM_OpenSSL_ECDSA_P256_Named_Verify);

}  // namespace
