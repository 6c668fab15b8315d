#include "service/common/binary.h"
#include "support/error_text.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cctype>
#include <cstdio>
#include <fstream>
#include <sstream>

#include "service/common/exception.h"
#include "support/test_dir.h"

namespace ZORVIK::binary {
namespace {

using test::MessageOf;

constexpr char kBadChar[] = "Недопустимый символ в hex-строке";
constexpr char kOdd[] = "Нечётное количество значащих символов в hex-строке";
constexpr char kOutOfRange[] = "Выход за границы массива";
constexpr char kTooLong[] = "Размер массива не должен быть больше размера типа числа";

TEST(BinaryFromText, WhiteSpaceIsSkippedEverywhere) {
    EXPECT_TRUE(Binary("").empty());
    EXPECT_TRUE(Binary("   \t\r\n").empty());
    EXPECT_EQ(Binary(" a0\t00\r\n"), Binary({0xA0, 0x00}));
    EXPECT_EQ(Binary("A 0"), Binary({0xA0}));
    EXPECT_EQ(Binary(std::string("3F00")), Binary({0x3F, 0x00}));
    EXPECT_EQ(Binary("0123456789abcdefABCDEF"),
              Binary({0x01, 0x23, 0x45, 0x67, 0x89, 0xAB, 0xCD, 0xEF, 0xAB, 0xCD, 0xEF}));
}

TEST(BinaryFromText, RejectsBadTextWithItsMessage) {
    EXPECT_EQ(MessageOf([] { Binary("ABC"); }), kOdd);
    EXPECT_EQ(MessageOf([] { Binary(static_cast<const char*>(nullptr)); }), "NULL указатель");
}

TEST(BinaryFromText, EveryByteOutsideHexAndWhiteSpaceIsRefused) {
    const std::string allowed = "0123456789abcdefABCDEF \t\n\v\f\r";
    for (int c = 0; c < 256; ++c) {
        // "12" then the byte, then a digit to pair it when it is a hex digit itself.
        std::string text = "12";
        text += static_cast<char>(c);
        if (std::isxdigit(c)) text += "0";
        if (allowed.find(static_cast<char>(c)) != std::string::npos) {
            EXPECT_NO_THROW(Binary{text}) << "byte " << c;
        } else {
            EXPECT_EQ(MessageOf([&] { Binary{text}; }), kBadChar) << "byte " << c;
        }
    }
}

TEST(BinaryFromText, CTextEndsAtItsZeroByte) {
    const char text[] =
        "12\0"
        "34";
    EXPECT_EQ(Binary(static_cast<const char*>(text)), Binary("12"));
}

TEST(BinaryFromText, StreamReadsTheRest) {
    std::istringstream in("01 02\n03");
    Binary target({0xFF});
    in >> target;
    EXPECT_EQ(target, Binary("010203"));
    EXPECT_TRUE(in.eof());
}

TEST(BinaryToHex, SeparatorPrecedence) {
    const Binary five("0102030405");
    EXPECT_EQ(ToHex(five, 1, 2, 4), "01 02  03 04\n05");
    EXPECT_EQ(ToHex(five, 0, 0, 0), "0102030405");
    EXPECT_EQ(ToHex(Binary("010203"), 1, 0, 0), "01 02 03");
    EXPECT_EQ(ToHex(Binary()), "");
    EXPECT_EQ(ToHex(Binary("abcdef")), "AB CD EF");
}

TEST(BinarySlicing, BoundsAreChecked) {
    const Binary data("010203");
    EXPECT_TRUE(Slice(data, 3, 0).empty());
    EXPECT_TRUE(Back(data, 0).empty());
    EXPECT_EQ(Slice(data, 1, 2), Binary("0203"));
    EXPECT_EQ(Back(data, 2), Binary("0203"));
    EXPECT_EQ(MessageOf([&] { Slice(data, 1, 3); }), kOutOfRange);
    EXPECT_EQ(MessageOf([&] { Slice(data, 0xFFFFFFFF, 2); }), kOutOfRange);
    EXPECT_EQ(MessageOf([&] { Back(data, 4); }), kOutOfRange);
}

TEST(BinaryJoining, AppendAndCompare) {
    Binary a("0102");
    a += Binary("03");
    a += a;  // appending itself must not read freed storage
    EXPECT_EQ(a, Binary("010203010203"));
    a += a[0];
    EXPECT_EQ(Back(a, 1), Binary("01"));
    EXPECT_EQ(Binary("01") + Binary("02"), Binary("0102"));
}

TEST(BinaryNumbers, NumCastIsBigEndianAndBounded) {
    EXPECT_EQ(NumCast<uint16_t>(Binary("0012")), 0x12);
    EXPECT_EQ(NumCast<uint16_t>(Binary("12")), 0x12);
    EXPECT_EQ(NumCast<uint16_t>(Binary()), 0);
    EXPECT_EQ(MessageOf([] { NumCast<uint16_t>(Binary("010203")); }), kTooLong);
    EXPECT_EQ(NumCast<uint32_t>(Binary("01020304")), 0x01020304u);
    EXPECT_EQ(MessageOf([] { NumCast<uint32_t>(Binary("0102030405")); }), kTooLong);
}

TEST(BinaryNumbers, NumToBinaryPadsButNeverCuts) {
    EXPECT_EQ(NumToBinary(0, 0), Binary("00"));
    EXPECT_EQ(NumToBinary(0x1234, 4), Binary("00001234"));
    EXPECT_EQ(NumToBinary(0x123456, 2), Binary("123456"));
    EXPECT_EQ(NumToBinary(0xFFFFFFFFFFFFFFFFull, 1), Binary("FFFFFFFFFFFFFFFF"));
    EXPECT_EQ(NumToBinary(1, 10), Binary("00000000000000000001"));
}

TEST(BinaryRandom, DrawsFromTheMinimalStandardEngine) {
    GetRandomEngine().seed(1);
    EXPECT_EQ(RandomBinary(1), Binary("8F"));  // first draw 48271 = 0xBC8F
    EXPECT_TRUE(RandomBinary(0).empty());
    Binary target("0102");
    FillRandom(3, target);
    EXPECT_EQ(target.size(), 3u);
    GetRandomEngine().seed(0x7FFFFFFF);  // seed mod 0x7FFFFFFF is 0: the state becomes 1
    EXPECT_EQ(GetRandomEngine()(), 48271u);
}

class BinaryFile : public ::testing::Test {
protected:
    std::string path = test::TestDir() + "binary_test.bin";
};

TEST_F(BinaryFile, LoadsWholeFileAndEmptyFile) {
    {
        std::ofstream out(path, std::ios::binary);
        out.write("\x00\x01\xFF", 3);
    }
    EXPECT_EQ(LoadBinaryFile(path), Binary("0001FF"));
    { std::ofstream out(path, std::ios::binary | std::ios::trunc); }
    Binary target("AA");
    LoadBinaryFile(path, target);
    EXPECT_EQ(target, Binary("AA"));  // an empty file leaves the target unchanged
    EXPECT_TRUE(LoadBinaryFile(path).empty());
}

TEST_F(BinaryFile, FileThatCannotBeReadNamesThePathAndTheReason) {
    // A directory opens for reading on POSIX, and a FIFO would wait for a writer.
    const std::string fifo = path + ".fifo";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    const struct {
        std::string name;
        const char* reason;
    } cases[] = {
        {path + ".absent", "No such file or directory"},
        {test::TestDir(), "Is a directory"},
        {fifo, "Is a named pipe (FIFO), not a regular file"},
        {"/dev/zero", "Is a device, not a regular file"},
    };
    Binary target("AA");
    for (const auto& c : cases)
        EXPECT_EQ(MessageOf([&] { LoadBinaryFile(c.name, target); }), c.name + " : fopen error: " + c.reason);
    EXPECT_EQ(target, Binary("AA"));
}

}  // namespace
}  // namespace ZORVIK::binary
