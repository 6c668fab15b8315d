// Arbitrary text and flags into Split: no crash, and without quotes and with
// nothing skipped the items joined back give the text (less a trailing separator).
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "service/common/utilities.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 2) return 0;
    const char separator = static_cast<char>(data[0]);
    const uint8_t flags = data[1];
    const std::string text(reinterpret_cast<const char*>(data + 2), size - 2);
    std::vector<std::string> items;
    ZORVIK::Split(text, items, separator, flags & 1, flags & 2, flags & 4);
    if ((flags & 7) == 0 && separator != '"') {
        std::string joined;
        for (size_t i = 0; i < items.size(); ++i) {
            if (i != 0) joined += separator;
            joined += items[i];
        }
        std::string expected = text;
        // A trailing separator (or a run of them) ending in an empty last item is dropped.
        if (!expected.empty() && expected.back() == separator) expected.pop_back();
        if (joined != expected) std::abort();
    }
    return 0;
}
