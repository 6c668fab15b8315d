#include "sc/exchange/reader.h"

#include <gtest/gtest.h>

#include "support/error_text.h"

namespace ZORVIK {
namespace {

// transport_protocols is a list in the settings' own syntax, kept in the order written.
TEST(ReaderParams, TransportProtocolsKeepTheWrittenOrder) {
    const std::pair<const char*, std::vector<uint32_t>> cases[] = {
        {"T0", {0}}, {"T1, T0", {1, 0}}, {"T0,T1", {0, 1}}, {"'T0', \"T1\"", {0, 1}}, {"", {1, 0}}, {",,", {1, 0}}};
    for (const auto& [text, protocols] : cases) EXPECT_EQ(ParseTransportProtocols(text), protocols) << text;
    for (const char* text : {"T2", "t0", "T01", "T0, ", "T1;T0"}) {
        EXPECT_EQ(test::MessageOf([&] { ParseTransportProtocols(text); }),
                  "Некорректный транспортный протокол контактного интерфейса")
            << text;
    }
}

}  // namespace
}  // namespace ZORVIK
