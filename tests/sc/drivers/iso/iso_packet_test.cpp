#include "sc/drivers/iso/iso_packet.h"

#include <gtest/gtest.h>

#include "sc/drivers/iso/byte_reader_helpers.h"

#include "sc/drivers/iso/atr_reading.h"
#include "sc/exchange/reader.h"
#include "service/log/recording_log.h"

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

TEST(IsoPacket, CardBytesAndPollAnswersGoToTheQueueInOrder) {
    const Binary wire("01 0002 3B 02   04 0000   04 0001 14   01 0001 50");
    size_t position = 0;
    const auto read = Source(wire, position);
    std::deque<uint8_t> queue;
    uint8_t type = 0;
    const uint8_t expectedTypes[] = {1, 4, 4, 1};
    for (const uint8_t expected : expectedTypes) {
        ASSERT_TRUE(IsoPacket::Receive(read, queue, nullptr, type));
        EXPECT_EQ(type, expected);
    }
    EXPECT_EQ(Binary(queue.begin(), queue.end()), Binary("3B 02 14 50"));
    EXPECT_FALSE(IsoPacket::Receive(read, queue, nullptr, type));
}

TEST(IsoPacket, MissingByteFailsTheReceive) {
    for (const Binary& cut : {Binary(""), Binary("01"), Binary("01 00"), Binary("01 0003 AA BB")}) {
        size_t position = 0;
        std::deque<uint8_t> queue;
        uint8_t type = 0;
        EXPECT_FALSE(IsoPacket::Receive(Source(cut, position), queue, nullptr, type)) << cut.size();
    }
}

TEST(IsoPacket, DebugPacketIsLoggedAtLevelOneAndUnknownTypeIsErrorSix) {
    const Binary wire("02 0009 002A 612E6300 686900   05 0002 AA BB");  // line 42, "a.c", "hi"
    size_t position = 0;
    std::deque<uint8_t> queue;
    test::RecordingLog log;
    uint8_t type = 0;
    ASSERT_TRUE(IsoPacket::Receive(Source(wire, position), queue, &log, type));
    EXPECT_EQ(type, IsoPacket::Debug);
    ASSERT_EQ(log.records.size(), 1u);
    EXPECT_EQ(log.records[0].level, 1);
    EXPECT_EQ(log.records[0].text, "[a.c at 42] hi\n");
    EXPECT_EQ(DriverErrorOf([&] { IsoPacket::Receive(Source(wire, position), queue, nullptr, type); }),
              (DriverError{CardDrvError::DataFormat, "Неверный формат передачи данных"}));
    EXPECT_TRUE(queue.empty());
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

// ATR reading from a character source.
bool ReadAtr(const Binary& characters, Binary& atr) {
    size_t position = 0;
    return ReadAtrCharacters(Source(characters, position), atr);
}

TEST(AtrReading, StopsWhereTheInterfaceCharactersSayTheAtrEnds) {
    struct Case {
        const char* stream;
        const char* atr;
    };
    const Case cases[] = {
        {"3B00 9000", "3B00"},                      // T=0 only, nothing more
        {"3F02 1450 FF", "3F021450"},               // two historical bytes
        {"3B10 96 AA", "3B1096"},                   // TA1
        {"3B80 8131FE45 8B 00", "3B808131FE458B"},  // T=1 by TD1: TCK follows
        {"3B80 00 77", "3B8000"},                   // TD1 names T=0: no TCK
        {"3B81 80 01 C0 41 00", "3B818001C041"},    // TD2 names T=1 after a T=0 TD1: TCK
    };
    for (const Case& c : cases) {
        Binary atr;
        EXPECT_TRUE(ReadAtr(Binary(c.stream), atr)) << c.stream;
        EXPECT_EQ(atr, Binary(c.atr)) << c.stream;
    }
}

TEST(AtrReading, MissingCharacterEndsTheReadingAndWrongTsOrEndlessTdAreErrors) {
    Binary atr;
    EXPECT_FALSE(ReadAtr(Binary(""), atr));
    EXPECT_FALSE(ReadAtr(Binary("3B"), atr));
    EXPECT_FALSE(ReadAtr(Binary("3B 02 14"), atr));
    EXPECT_FALSE(ReadAtr(Binary("3B 80 81 31 FE 45"), atr));  // TCK missing
    EXPECT_THROW(ReadAtr(Binary("3C 00"), atr), CardDrvException);
    // Every TD announcing another: the reading stops at the length limit of an ATR.
    EXPECT_THROW(ReadAtr(Binary("3B 80") + Binary(64, 0x80), atr), CardDrvException);
}

}  // namespace
}  // namespace ZORVIK
