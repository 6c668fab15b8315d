// Helpers shared by the crypto-library tests: deterministic pseudo-random data, byte
// reversal, the vector of one section of a vector file, and the table of refused
// calls that checks each exact message (and error class) once.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "service/common/exception.h"
#include "support/error_text.h"
#include "support/vectors.h"

namespace ZORVIK::test {

inline binary::Binary PseudoRandomMessage(size_t length, uint32_t seed) {
    std::mt19937 engine(seed);
    binary::Binary message(length);
    std::generate(message.begin(), message.end(), [&] { return uint8_t(engine()); });
    return message;
}

inline binary::Binary Reversed(const binary::Binary& data) { return binary::Binary(data.rbegin(), data.rend()); }

inline binary::Binary Ascii(const std::string& text) { return binary::Binary(text.begin(), text.end()); }

inline bool Contains(const binary::Binary& haystack, const binary::Binary& needle) {
    return std::search(haystack.begin(), haystack.end(), needle.begin(), needle.end()) != haystack.end();
}

// The first vector of relativePath that carries Section = section.
inline TestVector VectorInSection(const std::string& relativePath, const std::string& section) {
    for (const auto& v : LoadVectors(relativePath))
        if (v.Has("Section") && v.Text("Section") == section) return v;
    throw std::runtime_error(relativePath + ": no section " + section);
}

// A call that must fail with message. The crypto library throws plain
// ZORVIK::Exception, except where a row gives the code of CryptLibException.
struct Refusal {
    std::function<void()> call;
    std::string message;
    int cryptLibCode = -1;
};

inline void ExpectRefusals(const std::vector<Refusal>& rows) {
    for (size_t row = 0; row < rows.size(); ++row) {
        SCOPED_TRACE("row " + std::to_string(row) + ": " + rows[row].message);
        try {
            rows[row].call();
            ADD_FAILURE() << "no error";
        } catch (const Exception& e) {
            const auto* library = dynamic_cast<const CryptLibException*>(&e);
            EXPECT_EQ(e.what(), rows[row].message);
            EXPECT_EQ(library ? library->ErrorCode() : -1, rows[row].cryptLibCode);
        }
    }
}

}  // namespace ZORVIK::test
