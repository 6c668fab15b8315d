#include "sc/drivers/iso/iso_packet.h"

#include <gtest/gtest.h>

#include "sc/drivers/iso/atr_reading.h"
#include "sc/drivers/iso/byte_reader_helpers.h"
#include "sc/exchange/reader.h"

namespace ZORVIK {
namespace {

using binary::Binary;
using test::DriverError;
using test::DriverErrorOf;

// A byte source over fixed bytes: false once they run out, as a read time-out would.
IsoPacket::ByteSource Source(const Binary& bytes, size_t& position) {
    return [&bytes, &position](uint8_t& byte) {
        if (position >= bytes.size()) return false;
        byte = bytes[position++];
        return true;
    };
}

TEST(IsoPacket, EncodesTypeAndLengthHighByteFirst) {
    EXPECT_EQ(IsoPacket::Encode(IsoPacket::Control, Binary("00")), Binary("03 0001 00"));
    EXPECT_EQ(IsoPacket::Encode(IsoPacket::PresencePoll, Binary()), Binary("04 0000"));
    EXPECT_EQ(IsoPacket::Encode(IsoPacket::CardBytes, Binary(0x123, 0xAA)), Binary("01 0123") + Binary(0x123, 0xAA));
    EXPECT_THROW(IsoPacket::Encode(IsoPacket::CardBytes, Binary(0x10000, 0)), Exception);
}

// Card bytes and poll answers go to the queue in order, a debug packet does not,
// and an unknown type is error 6 without its payload queued.
TEST(IsoPacket, ReceiveQueuesCardBytesAndRefusesAnUnknownType) {
    const Binary wire("01 0002 3B 02   04 0000   04 0001 14   02 0005 0000 00 6869   01 0001 50   05 0002 AA BB");
    size_t position = 0;
    const auto read = Source(wire, position);
    std::deque<uint8_t> queue;
    uint8_t type = 0;
    for (const uint8_t expected : {1, 4, 4, 2, 1}) {
        ASSERT_TRUE(IsoPacket::Receive(read, queue, nullptr, type));
        EXPECT_EQ(type, expected);
    }
    EXPECT_EQ(DriverErrorOf([&] { IsoPacket::Receive(read, queue, nullptr, type); }),
              (DriverError{CardDrvError::DataFormat, "Неверный формат передачи данных"}));
    EXPECT_EQ(Binary(queue.begin(), queue.end()), Binary("3B 02 14 50"));
    for (const Binary& cut : {Binary(""), Binary("01"), Binary("01 00"), Binary("01 0003 AA BB")}) {
        position = 0;
        EXPECT_FALSE(IsoPacket::Receive(Source(cut, position), queue, nullptr, type)) << cut.size();
    }
}

TEST(IsoPacketDebugText, BothFormsEndingAtThePayloadEnd) {
    const std::pair<const char*, const char*> cases[] = {
        {"002A 612E6300 686900", "[a.c at 42] hi"},
        {"0000 00 626F6F7400", "boot"},                   // line 0: only the text from the fourth payload byte on
        {"0102 782E6300", "Debug Print in x.c at 258 "},  // a name without a text after it
        {"0007 00 6F6B", "ok"},  // an empty name with a line number falls back to the plain text
        // Neither the name nor the text is terminated inside the payload.
        {"002A 612E63", "Debug Print in a.c at 42 "},
        {"002A 612E6300 6869", "[a.c at 42] hi"},
        {"0000 00 6869", "hi"},
        {"0000 00", ""},
    };
    for (const auto& [payload, text] : cases) EXPECT_EQ(IsoPacket::DebugText(Binary(payload)), text) << payload;
    for (const Binary& payload : {Binary(""), Binary("00"), Binary("002A")}) {
        EXPECT_EQ(DriverErrorOf([&] { IsoPacket::DebugText(payload); }),
                  (DriverError{CardDrvError::General, "Неверный пакет с отладочной информацией"}));
    }
}

// Where the interface characters say the ATR ends; nullptr: a character is missing.
TEST(AtrReading, StopsWhereTheInterfaceCharactersSayTheAtrEnds) {
    const std::pair<const char*, const char*> cases[] = {
        {"3B00 9000", "3B00"},                      // T=0 only, nothing more
        {"3F02 1450 FF", "3F021450"},               // two historical bytes
        {"3B10 96 AA", "3B1096"},                   // TA1
        {"3B80 8131FE45 8B 00", "3B808131FE458B"},  // T=1 by TD1: TCK follows
        {"3B80 00 77", "3B8000"},                   // TD1 names T=0: no TCK
        {"3B81 80 01 C0 41 00", "3B818001C041"},    // TD2 names T=1 after a T=0 TD1: TCK
        {"", nullptr},
        {"3B", nullptr},
        {"3B 02 14", nullptr},
        {"3B 80 81 31 FE 45", nullptr},  // TCK missing
    };
    for (const auto& [stream, expected] : cases) {
        const Binary characters(stream);
        size_t position = 0;
        Binary atr;
        EXPECT_EQ(ReadAtrCharacters(Source(characters, position), atr), expected != nullptr) << stream;
        if (expected != nullptr) {
            EXPECT_EQ(atr, Binary(expected)) << stream;
        }
    }
    // A wrong TS, and every TD announcing another: the reading stops at the length limit of an ATR.
    for (const Binary& characters : {Binary("3C 00"), Binary("3B 80") + Binary(64, 0x80)}) {
        size_t position = 0;
        Binary atr;
        EXPECT_THROW(ReadAtrCharacters(Source(characters, position), atr), CardDrvException);
    }
}

}  // namespace
}  // namespace ZORVIK
