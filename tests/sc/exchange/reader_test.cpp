#include "sc/exchange/reader.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace ZORVIK {
namespace {

using testing::StrEq;
using testing::ThrowsMessage;

TEST(ReaderParams, DefaultsAreTheDocumentedOnes) {
    const ReaderParams params;
    EXPECT_FALSE(params.transport_log);
    EXPECT_EQ(params.protocols, (std::vector<uint32_t>{1, 0}));
    EXPECT_TRUE(params.auto_t0);
    EXPECT_FALSE(params.sw1_9f_as_61);
    EXPECT_FALSE(params.get_resp_cla_00);
    EXPECT_EQ(params.envelope_mode, 0u);
}

TEST(ReaderParams, TransportProtocolsKeepTheWrittenOrder) {
    EXPECT_EQ(ParseTransportProtocols("T0"), (std::vector<uint32_t>{0}));
    EXPECT_EQ(ParseTransportProtocols("T1, T0"), (std::vector<uint32_t>{1, 0}));
    EXPECT_EQ(ParseTransportProtocols("T0,T1"), (std::vector<uint32_t>{0, 1}));
    EXPECT_EQ(ParseTransportProtocols("'T0', \"T1\""), (std::vector<uint32_t>{0, 1}));
    EXPECT_EQ(ParseTransportProtocols(""), (std::vector<uint32_t>{1, 0}));
    EXPECT_EQ(ParseTransportProtocols(",,"), (std::vector<uint32_t>{1, 0}));
}

TEST(ReaderParams, TransportProtocolsRefuseUnknownItems) {
    for (const char* text : {"T2", "t0", "T01", "T0, ", "T1;T0"}) {
        SCOPED_TRACE(text);
        EXPECT_THAT([&] { ParseTransportProtocols(text); },
                    ThrowsMessage<Exception>(StrEq("Некорректный транспортный протокол контактного интерфейса")));
    }
}

TEST(ReaderParams, EnvelopeModes) {
    EXPECT_EQ(ParseEnvelopeMode("smart"), 0u);
    EXPECT_EQ(ParseEnvelopeMode("force"), 1u);
    EXPECT_EQ(ParseEnvelopeMode("null"), 2u);
    for (const char* text : {"Smart", "", "forced"}) {
        SCOPED_TRACE(text);
        EXPECT_THAT([&] { ParseEnvelopeMode(text); }, ThrowsMessage<Exception>(StrEq("Некорректный режим Envelope")));
    }
}

TEST(CardDrvError, NameCodeAndCloneTravelTogether) {
    const CardDrvException error(NoCardMessage, CardDrvError::NoCard, ZORVIK_PLACE("ZORVIK::Test"));
    EXPECT_STREQ(error.Name(), "CardReaderDriverError");
    EXPECT_EQ(error.ErrorCode(), 11);
    const std::unique_ptr<Exception> clone = error.Clone();
    EXPECT_STREQ(clone->what(), "No Card in Reader or Card is Powered Off");
    EXPECT_EQ(clone->ErrorCode(), 11);
    EXPECT_EQ(clone->FullMessage(), "Ошибка (CardReaderDriverError). No Card in Reader or Card is Powered Off");
}

}  // namespace
}  // namespace ZORVIK
