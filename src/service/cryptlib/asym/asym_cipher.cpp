#include "service/cryptlib/asym/asym_cipher.h"

#include "service/common/exception.h"

namespace ZORVIK {
namespace {

constexpr int32_t NotImplementedCode = 8;

}  // namespace

binary::Binary AsymCipher::CryptPrivate(const binary::Binary& /*data*/) const {
    throw CryptLibException("Cannot be implemented", NotImplementedCode,
                            ZORVIK_PLACE("ZORVIK::AsymCipher::CryptPrivate"));
}

binary::Binary AsymCipher::CryptPublic(const binary::Binary& /*data*/) const {
    throw CryptLibException("Cannot be implemented", NotImplementedCode,
                            ZORVIK_PLACE("ZORVIK::AsymCipher::CryptPublic"));
}

uint32_t AsymCipher::GetBlockSize() const {
    throw CryptLibException("Cannot be implemented", NotImplementedCode,
                            ZORVIK_PLACE("ZORVIK::AsymCipher::GetBlockSize"));
}

}  // namespace ZORVIK
