// Loader of published test vectors kept as data in tests/data/<area>/<name>.vec:
// "Key = value" lines, a blank line between vectors, '#' comments, and optional
// "[Section]" lines whose name every following vector carries as "Section".
#pragma once

#include <map>
#include <string>
#include <vector>

#include "service/common/binary.h"

namespace ZORVIK::test {

struct TestVector {
    std::string file;
    int line = 0;  // line where the vector starts, for failure messages
    std::map<std::string, std::string> fields;

    bool Has(const std::string& key) const { return fields.count(key) != 0; }
    // The field as text; a missing key fails the calling test.
    const std::string& Text(const std::string& key) const;
    binary::Binary Bin(const std::string& key) const;
    uint64_t Number(const std::string& key) const;
    std::string Where() const { return file + ":" + std::to_string(line); }
};

// relativePath is taken under tests/data, e.g. "hash/sha256.vec".
std::vector<TestVector> LoadVectors(const std::string& relativePath);

// Full path of a file under tests/data.
std::string DataPath(const std::string& relativePath);

}  // namespace ZORVIK::test
