// Helpers shared by the crypto-library tests: deterministic pseudo-random data, the
// save-and-restore round trip that every Hash must pass, and the vector of one
// section of a vector file.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <memory>
#include <random>

#include "service/common/exception.h"
#include "service/cryptlib/hash/hash.h"
#include "support/error_text.h"
#include "support/vectors.h"

namespace ZORVIK::test {

inline binary::Binary PseudoRandomMessage(size_t length, uint32_t seed) {
    std::mt19937 engine(seed);
    binary::Binary message(length);
    std::generate(message.begin(), message.end(), [&] { return uint8_t(engine()); });
    return message;
}

// For every k: Input of the first k bytes, GetContext, SetContext on a fresh object,
// Input of the rest, Result; each must equal the one-shot digest.
inline void ExpectContextRoundTrips(const std::function<std::unique_ptr<Hash>()>& make, const binary::Binary& message) {
    const binary::Binary expected = make()->Calc(message);
    for (size_t k = 0; k <= message.size(); ++k) {
        auto first = make();
        first->Reset();
        first->Input(binary::Binary(message.begin(), message.begin() + k));
        const binary::Binary context = first->GetContext();
        auto second = make();
        second->SetContext(context);
        second->Input(binary::Binary(message.begin() + k, message.end()));
        ASSERT_EQ(binary::ToHex(second->Result()), binary::ToHex(expected)) << "split after " << k << " bytes";
    }
}

// The first vector of relativePath that carries Section = section.
inline TestVector VectorInSection(const std::string& relativePath, const std::string& section) {
    for (const auto& v : LoadVectors(relativePath))
        if (v.Has("Section") && v.Text("Section") == section) return v;
    throw std::runtime_error(relativePath + ": no section " + section);
}

}  // namespace ZORVIK::test
