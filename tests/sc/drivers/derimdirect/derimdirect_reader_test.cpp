#include "sc/drivers/derimdirect/derimdirect_reader.h"

#include <gtest/gtest.h>

#include "sc/drivers/iso/byte_reader_helpers.h"
#include "support/derim_server.h"
#include "support/error_text.h"
#include "support/loopback_server.h"

namespace ZORVIK {
namespace {

using binary::Binary;
using test::DerimServer;
using test::MessageOf;

// A request is type, big-endian length and data; a command reply "SW1 SW2 data"
// becomes "data SW1 SW2", a body shorter than three bytes stays as it is.
TEST(DerimPackage, SerializesTypeLengthAndDataAndDecodesReplies) {
    EXPECT_EQ((DerimPackage{3, Binary("00A4040000")}).Serialize(), Binary("03 00000005 00A4040000"));
    EXPECT_EQ((DerimPackage{2, Binary()}).Serialize(), Binary("0200000000"));
    EXPECT_EQ((DerimPackage{0, Binary(0x0123, 0x11)}).Serialize(), Binary("00 00000123") + Binary(0x0123, 0x11));
    const std::pair<const char*, const char*> replies[] = {
        {"03 00000004 9000ABCD", "ABCD9000"}, {"03 00000003 6A8201", "016A82"}, {"03 00000002 6A82", "6A82"},
        {"00 00000002 3B00", "3B00"},         {"01 00000003 3F0000", "3F0000"}, {"01 00000000", ""},
        {"02 00000003 010203", ""},  // a power-off reply carries nothing, whatever its length says
    };
    for (const auto& [reply, data] : replies)
        EXPECT_EQ(DerimPackage::ParseReply(Binary(reply)).data, Binary(data)) << reply;
    EXPECT_EQ(DerimPackage::ParseReply(Binary("01 00000000")).type, 1u);
    EXPECT_EQ(MessageOf([] { DerimPackage::ParseReply(Binary("07 00000000")); }), "Тип команды не поддерживается");
    EXPECT_EQ(MessageOf([] { DerimPackage::ParseReply(Binary("04 00000000")); }), "Тип команды не поддерживается");
    EXPECT_EQ(MessageOf([] { DerimPackage::ParseReply(Binary("03 0000")); }), "Некорректный размер пакета!");
}

// The server sends a command's status word first; the response ends with it.
TEST(DerimReader, PowerCommandResetPowerOff) {
    DerimServer server(DerimServer::Card(Binary("3B 02 14 50"), [](const Binary& apdu) {
        return apdu == Binary("00B0000002") ? Binary("9000 CAFE") : Binary("6A82");
    }));
    DerimDirect_Reader reader("127.0.0.1", server.Port());
    EXPECT_FALSE(reader.IsPowered());
    EXPECT_TRUE(reader.GetATR().empty());
    ATR atr;
    reader.PowerOn(atr);
    EXPECT_EQ(atr.GetRaw(), Binary("3B021450"));
    ATR again;
    reader.PowerOn(again);  // a second power-on sends nothing and gives the stored ATR
    EXPECT_EQ(again.GetRaw(), Binary("3B021450"));
    EXPECT_EQ(reader.GetATR(), Binary("3B021450"));
    RApdu response;
    reader.Command(CApdu(0x00, 0xB0, 0x00, 0x00, 2), response);
    EXPECT_EQ(response.Encode(), Binary("CAFE 9000"));
    reader.Command(CApdu(0x00, 0xA4, 0x00, 0x00, Binary("3F00")), response);
    EXPECT_EQ(response.Encode(), Binary("6A82"));
    reader.Reset(atr);
    reader.PowerOff();
    reader.PowerOff();  // nothing when not powered
    EXPECT_FALSE(reader.IsPowered());
    EXPECT_TRUE(reader.GetATR().empty());
    EXPECT_EQ(test::DriverErrorOf([&] { reader.Command(CApdu(0x00, 0x84, 0x00, 0x00, 8), response); }),
              (test::DriverError{34, "No Card in Reader or Card is Powered Off"}));
    reader.Reset(atr);         // not powered: powers on
    std::vector<Binary> wire;  // type and data of each request
    for (const DerimServer::Request& request : server.Requests()) wire.push_back(Binary{request.type} + request.data);
    EXPECT_EQ(wire, (std::vector<Binary>{Binary("00"), Binary("03 00B0000002"), Binary("03 00A40000023F00"),
                                         Binary("01"), Binary("02"), Binary("00")}));
}

// The reset's reply is the card's new ATR.
TEST(DerimReader, ResetTakesTheAtrOfItsReply) {
    DerimServer server([](const DerimServer::Request& request) {
        if (request.type == 0) return DerimServer::Reply(0, Binary("3B 00"));
        if (request.type == 1) return DerimServer::Reply(1, Binary("3F 02 14 50"));
        return DerimServer::Reply(static_cast<uint8_t>(request.type), Binary("9000"));
    });
    DerimDirect_Reader reader("127.0.0.1", server.Port());
    ATR atr;
    reader.PowerOn(atr);
    EXPECT_EQ(atr.GetRaw(), Binary("3B 00"));
    reader.Reset(atr);
    EXPECT_EQ(atr.GetRaw(), Binary("3F 02 14 50"));
    EXPECT_EQ(reader.GetATR(), Binary("3F 02 14 50"));
    EXPECT_TRUE(reader.IsPowered());
}

// A reply of an unknown type, or a command reply too short for a status word:
// the reader closes the connection and the next operation makes a new one.
TEST(DerimReader, ErrorClosesTheSocketAndTheNextOperationReconnects) {
    const std::pair<Binary, const char*> badReplies[] = {
        {DerimServer::Reply(7, Binary()), "Тип команды не поддерживается"},
        {DerimServer::Reply(3, Binary("90")),
         "Некорректная длина структуры RApdu. Отсутствуют обязательные поля статуса"},
    };
    for (const auto& [badReply, message] : badReplies) {
        int commands = 0;
        DerimServer server([&](const DerimServer::Request& request) {
            if (request.type == 3 && ++commands == 1) return badReply;
            return DerimServer::Card(Binary("3B00"), [](const Binary&) { return Binary("9000"); })(request);
        });
        DerimDirect_Reader reader("127.0.0.1", server.Port());
        ATR atr;
        reader.PowerOn(atr);
        RApdu response;
        EXPECT_EQ(MessageOf([&] { reader.Command(CApdu(0x00, 0xCA, 0x00, 0x00, 0), response); }), message);
        EXPECT_TRUE(reader.IsPowered());  // the powered flag is left as it was
        reader.Command(CApdu(0x00, 0xCA, 0x00, 0x00, 0), response);
        EXPECT_EQ(response.GetSW(), 0x9000);
        // The server serves one connection at a time: the second command went over a new one.
        EXPECT_EQ(server.Connections(), 1) << message;
    }
}

// A length above any reply is refused before allocation; a reply cut short (1 of
// 16 announced bytes, then the connection closed) is the same error.
TEST(DerimReader, HugeDeclaredLengthAndTruncatedReplyAreRefused) {
    DerimServer huge([](const DerimServer::Request&) { return Binary("00 7FFFFFFF"); });
    test::LoopbackServer truncated([](int fd) {
        test::LoopbackServer::ReadUpTo(fd, 5, 1000);
        test::LoopbackServer::SendAll(fd, Binary("00 00000010 3B"));
    });
    for (const uint16_t port : {huge.Port(), truncated.Port()}) {
        DerimDirect_Reader reader("127.0.0.1", port);
        ATR atr;
        EXPECT_EQ(MessageOf([&] { reader.PowerOn(atr); }), "Некорректный размер пакета!");
        EXPECT_FALSE(reader.IsPowered());
    }
}

// Replies longer than one byte of length can say: 256 data bytes and the status
// word are announced as 00 00 01 02, the largest reply (65,536 data bytes) as
// 00 01 00 02; both are read whole.
TEST(DerimReader, LongCommandRepliesAreReadWhole) {
    for (const uint32_t size : {0x100u, 0x10000u}) {
        const Binary data(size, 0x5A);
        DerimServer server(DerimServer::Card(Binary("3B 00"), [&](const Binary&) { return Binary("9000") + data; }));
        DerimDirect_Reader reader("127.0.0.1", server.Port());
        ATR atr;
        reader.PowerOn(atr);
        RApdu response;
        reader.Command(CApdu(0x00, 0xB0, 0x00, 0x00, size, true), response);
        EXPECT_EQ(response.GetSW(), 0x9000) << size;
        EXPECT_EQ(response.data, data) << size;
    }
}

TEST(DerimReader, RefusedConnectionAndProbe) {
    const uint16_t port = test::UnusedLoopbackPort();
    EXPECT_FALSE(DerimDirect_Reader::Probe("127.0.0.1", port));
    DerimDirect_Reader reader("127.0.0.1", port);
    ATR atr;
    EXPECT_THROW(reader.PowerOn(atr), NetworkException);
    EXPECT_FALSE(reader.IsPowered());
    DerimServer server(DerimServer::Card(Binary("3B 00"), [](const Binary&) { return Binary("9000"); }));
    EXPECT_TRUE(DerimDirect_Reader::Probe("127.0.0.1", server.Port()));
}

}  // namespace
}  // namespace ZORVIK
