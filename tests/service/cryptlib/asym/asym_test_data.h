// Shared fixtures of the asymmetric tests: the published curves of
// tests/data/asym/curves.vec and small byte-string helpers.
#pragma once

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>

#include "service/common/binary.h"
#include "service/common/exception.h"
#include "service/cryptlib/asym/ec_keys.h"
#include "support/error_text.h"
#include "support/vectors.h"

namespace ZORVIK::test {

inline EC_Param LoadCurve(const std::string& name) {
    for (const TestVector& vector : LoadVectors("asym/curves.vec")) {
        if (vector.Text("Name") != name) continue;
        EC_Param param;
        param.p = vector.Bin("P");
        param.a = vector.Bin("A");
        param.b = vector.Bin("B");
        param.x = vector.Bin("X");
        param.y = vector.Bin("Y");
        param.order = vector.Bin("Order");
        param.cofactor = static_cast<uint32_t>(vector.Number("Cofactor"));
        if (vector.Has("Seed")) param.seed = vector.Bin("Seed");
        return param;
    }
    throw std::runtime_error("no curve " + name + " in asym/curves.vec");
}

inline binary::Binary Reverse(const binary::Binary& data) { return binary::Binary(data.rbegin(), data.rend()); }

inline binary::Binary ReverseEachHalf(const binary::Binary& data) {
    const uint32_t half = static_cast<uint32_t>(data.size() / 2);
    return Reverse(binary::Slice(data, 0, half)) + Reverse(binary::Slice(data, half, half));
}

inline binary::Binary SwapHalves(const binary::Binary& data) {
    const uint32_t half = static_cast<uint32_t>(data.size() / 2);
    return binary::Slice(data, half, half) + binary::Slice(data, 0, half);
}

}  // namespace ZORVIK::test
