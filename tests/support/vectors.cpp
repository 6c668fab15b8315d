#include "support/vectors.h"

#include <fstream>
#include <stdexcept>

#include "service/common/utilities.h"

namespace ZORVIK::test {

const std::string& TestVector::Text(const std::string& key) const {
    auto it = fields.find(key);
    if (it == fields.end()) throw std::runtime_error(Where() + ": no field '" + key + "'");
    return it->second;
}

binary::Binary TestVector::Bin(const std::string& key) const { return binary::Binary(Text(key)); }

uint64_t TestVector::Number(const std::string& key) const { return std::stoull(Text(key), nullptr, 0); }

std::string DataPath(const std::string& relativePath) { return std::string(ZORVIK_TEST_DATA_DIR) + "/" + relativePath; }

std::vector<TestVector> LoadVectors(const std::string& relativePath) {
    std::ifstream in(DataPath(relativePath));
    if (!in) throw std::runtime_error("cannot open test data " + DataPath(relativePath));
    std::vector<TestVector> vectors;
    TestVector current;
    std::string section;
    auto flush = [&]() {
        if (!current.fields.empty()) {
            if (!section.empty() && !current.Has("Section")) current.fields["Section"] = section;
            vectors.push_back(current);
        }
        current = TestVector();
    };
    std::string line;
    int number = 0;
    while (std::getline(in, line)) {
        ++number;
        const std::string trimmed = Trim(line);
        if (trimmed.empty()) {
            flush();
            continue;
        }
        if (trimmed[0] == '#') continue;
        if (trimmed.front() == '[' && trimmed.back() == ']') {
            flush();
            section = trimmed.substr(1, trimmed.size() - 2);
            continue;
        }
        const size_t eq = trimmed.find('=');
        if (eq == std::string::npos) {
            throw std::runtime_error(relativePath + ":" + std::to_string(number) + ": expected 'Key = value'");
        }
        if (current.fields.empty()) {
            current.file = relativePath;
            current.line = number;
        }
        std::string key = Trim(trimmed.substr(0, eq));
        std::string value = Trim(trimmed.substr(eq + 1));
        // A key given again continues the value (long hex split over lines).
        current.fields[key] += value;
    }
    flush();
    // A file without vectors would let a loop over them pass without checking anything.
    if (vectors.empty()) throw std::runtime_error("no test vectors in " + DataPath(relativePath));
    return vectors;
}

}  // namespace ZORVIK::test
