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

// The server sends a command's status word first; the response ends with it.
TEST(DerimReader, PowerCommandResetPowerOff) {
    DerimServer server(DerimServer::Card(Binary("3B 02 14 50"), [](const Binary& apdu) {
        return apdu == Binary("00B0000002") ? Binary("9000 CAFE") : Binary("6A82");
    }));
    DerimDirect_Reader reader("127.0.0.1", server.Port());
    ATR atr;
    reader.PowerOn(atr);
    reader.PowerOn(atr);  // a second power-on sends nothing
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

}  // namespace
}  // namespace ZORVIK
