#include "service/common/binary.h"

#include <gtest/gtest.h>

#include <cctype>
#include <fstream>
#include <functional>
#include <sstream>
#include <tuple>
#include <vector>

#include "service/common/exception.h"
#include "support/error_text.h"
#include "support/test_dir.h"

namespace ZORVIK::binary {
namespace {

using test::MessageOf;

TEST(BinaryFromText, HexDigitsWithWhiteSpaceAnywhere) {
    EXPECT_EQ(Binary(" a0\t0 0\r\n0123456789abcdefABCDEF"),
              Binary({0xA0, 0x00, 0x01, 0x23, 0x45, 0x67, 0x89, 0xAB, 0xCD, 0xEF, 0xAB, 0xCD, 0xEF}));
    // A C text ends at its zero byte; in a std::string the zero byte is refused like any other.
    EXPECT_EQ(Binary(static_cast<const char*>("12\0"
                                              "34")),
              Binary("12"));
    const std::string allowed = "0123456789abcdefABCDEF \t\n\v\f\r";
    for (int c = 0; c < 256; ++c) {
        // "12" then the byte, then a digit to pair it when it is a hex digit itself.
        const std::string text = std::string("12") + static_cast<char>(c) + (std::isxdigit(c) ? "0" : "");
        const bool valid = allowed.find(static_cast<char>(c)) != std::string::npos;
        EXPECT_EQ(MessageOf([&] { Binary{text}; }), valid ? "(no error)" : "Недопустимый символ в hex-строке") << c;
    }
    std::istringstream in("01 02\n03");
    Binary target({0xFF});
    in >> target;
    EXPECT_EQ(target, Binary("010203"));
    EXPECT_TRUE(in.eof());
}

TEST(BinaryFromText, EveryConstructorAndInitAppendsOrLeavesTheBytesAsTheyWere) {
    EXPECT_TRUE(Binary("").empty());
    EXPECT_TRUE(Binary("   \t\r\n").empty());
    EXPECT_EQ(Binary("A 0"), Binary({0xA0}));  // white space inside a pair
    EXPECT_EQ(Binary(std::string("3F00")), Binary({0x3F, 0x00}));
    std::vector<uint8_t> bytes{0x01, 0x02};
    EXPECT_EQ(Binary(bytes), Binary("0102"));
    EXPECT_EQ(Binary(std::move(bytes)), Binary("0102"));
    EXPECT_EQ(Binary(3, 0xAA), Binary("AAAAAA"));
    Binary target("01");
    target.Init("02 03");
    target.Init("0405", 2);  // exactly two characters
    EXPECT_EQ(target, Binary("01020304"));
    const std::pair<std::function<void()>, const char*> refused[] = {
        {[&] { target.Init("05 0G"); }, "Недопустимый символ в hex-строке"},
        {[&] { target.Init("05 0"); }, "Нечётное количество значащих символов в hex-строке"},
        {[&] { target.Init("A B C"); }, "Нечётное количество значащих символов в hex-строке"},
        {[&] { target.Init("0506", 3); }, "Нечётное количество значащих символов в hex-строке"},
        {[&] { target.Init(nullptr); }, "NULL указатель"},
        {[&] { target.Init(nullptr, 0); }, "NULL указатель"},
        {[&] {
             std::istringstream in("05 0x06");
             in >> target;
         },
         "Недопустимый символ в hex-строке"},
    };
    for (const auto& [action, message] : refused) EXPECT_EQ(MessageOf(action), message);
    EXPECT_EQ(target, Binary("01020304"));  // no failure leaves a byte behind
}

TEST(BinaryToHex, SeparatorPrecedence) {
    const Binary five("0102030405");
    const std::tuple<uint32_t, uint32_t, uint32_t, const char*> cases[] = {
        {1, 2, 4, "01 02  03 04\n05"},  // a line end before a double blank before a blank
        {0, 0, 0, "0102030405"},       {1, 0, 0, "01 02 03 04 05"}, {2, 0, 0, "0102 0304 05"},
        {0, 3, 0, "010203  0405"},     {0, 0, 2, "0102\n0304\n05"},
    };
    for (const auto& [space, doubleSpace, newline, text] : cases)
        EXPECT_EQ(ToHex(five, space, doubleSpace, newline), text) << text;
    EXPECT_EQ(ToHex(Binary()), "");
    EXPECT_EQ(ToHex(Binary("abcdef")), "AB CD EF");  // upper case
}

TEST(Binary, SliceAndBackBoundsJoiningAndComparing) {
    const Binary data("010203");
    const std::tuple<uint32_t, uint32_t, const char*> slices[] = {
        {0, 3, "010203"}, {1, 2, "0203"}, {3, 0, ""}, {1, 3, nullptr}, {4, 0, nullptr}, {0, 4, nullptr},
    };
    for (const auto& [offset, length, bytes] : slices) {
        if (bytes) {
            EXPECT_EQ(Slice(data, offset, length), Binary(bytes)) << offset << "+" << length;
        } else {
            EXPECT_EQ(MessageOf([&] { Slice(data, offset, length); }), "Выход за границы массива")
                << offset << "+" << length;
        }
    }
    EXPECT_TRUE(Back(data, 0).empty());
    EXPECT_EQ(Back(data, 3), data);
    EXPECT_EQ(MessageOf([&] { Back(data, 4); }), "Выход за границы массива");
    Binary joined = data;
    joined += joined[0];  // a byte read from the target itself
    EXPECT_EQ(joined, Binary("01020301"));
    EXPECT_EQ(Binary("01") + Binary("02") + Binary(), Binary("0102"));
    EXPECT_TRUE(Binary() == Binary());
    EXPECT_TRUE(Binary("01") != Binary("0100"));
    EXPECT_TRUE(Binary("0100") != Binary("01"));
    EXPECT_FALSE(Binary("0102") != Binary("0102"));
}

TEST(BinaryNumbers, NumCastIsBigEndianAndBoundedByTheTypesWidth) {
    const std::tuple<const char*, uint32_t> sixteen[] = {{"", 0}, {"12", 0x12}, {"0012", 0x12}, {"FFFE", 0xFFFE}};
    for (const auto& [bytes, value] : sixteen) EXPECT_EQ(NumCast<uint16_t>(Binary(bytes)), value) << bytes;
    const std::tuple<const char*, uint32_t> thirtyTwo[] = {
        {"", 0}, {"0102", 0x0102}, {"01020304", 0x01020304}, {"FFFFFFFE", 0xFFFFFFFE}};
    for (const auto& [bytes, value] : thirtyTwo) EXPECT_EQ(NumCast<uint32_t>(Binary(bytes)), value) << bytes;
    const char tooLong[] = "Размер массива не должен быть больше размера типа числа";
    EXPECT_EQ(MessageOf([] { NumCast<uint32_t>(Binary("0102030405")); }), tooLong);
    EXPECT_EQ(MessageOf([] { NumCast<uint32_t>(Binary("0000000001")); }), tooLong);
}

TEST(BinaryNumbers, NumToBinaryTakesTheFewestBytesPadsButNeverCuts) {
    const std::tuple<uint64_t, uint8_t, const char*> cases[] = {
        {0, 0, "00"},
        {0xFF, 1, "FF"},
        {0x100, 0, "0100"},
        {0x1234, 4, "00001234"},
        {0x123456, 2, "123456"},
        {0xFFFFFFFF, 0, "FFFFFFFF"},
        {0x100000000ull, 0, "0100000000"},
        {0x0100000000000000ull, 0, "0100000000000000"},
        {0xFFFFFFFFFFFFFFFFull, 1, "FFFFFFFFFFFFFFFF"},
        {1, 10, "00000000000000000001"},
    };
    for (const auto& [value, minLength, bytes] : cases)
        EXPECT_EQ(NumToBinary(value, minLength), Binary(bytes)) << bytes;
}

TEST(BinaryRandom, DrawsTheLowByteOfEachDrawOfTheMinimalStandardEngine) {
    // x := x * 48271 mod (2^31 - 1) from x = 1: 0xBC8F, 0x0AE257E2, 0x4CF91F46.
    GetRandomEngine().seed(1);
    EXPECT_EQ(RandomBinary(3), Binary("8F E2 46"));
    EXPECT_TRUE(RandomBinary(0).empty());
    Binary target("0102030405");
    FillRandom(2, target);  // replaces what was there
    EXPECT_EQ(target, Binary("7D F1"));
    GetRandomEngine().seed(0x7FFFFFFF);  // seed mod 0x7FFFFFFF is 0: the state becomes 1
    EXPECT_EQ(GetRandomEngine()(), 48271u);
}

TEST(Binary, BoundsAreCheckedWithTheirMessages) {
    Binary data("0102");
    data += data;  // appending itself must not read freed storage
    EXPECT_EQ(Slice(data, 1, 2), Binary("0201"));
    EXPECT_EQ(Back(data, 3), Binary("020102"));
    EXPECT_EQ(NumCast<uint16_t>(Binary("12")), 0x12);
    const std::pair<std::function<void()>, const char*> refused[] = {
        {[] { Binary("ABC"); }, "Нечётное количество значащих символов в hex-строке"},
        {[] { Binary(static_cast<const char*>(nullptr)); }, "NULL указатель"},
        {[&] { Slice(data, 0xFFFFFFFF, 2); }, "Выход за границы массива"},
        {[&] { Back(data, 5); }, "Выход за границы массива"},
        {[] { NumCast<uint16_t>(Binary("010203")); }, "Размер массива не должен быть больше размера типа числа"},
    };
    for (const auto& [action, message] : refused) EXPECT_EQ(MessageOf(action), message);
    GetRandomEngine().seed(1);
    EXPECT_EQ(RandomBinary(1), Binary("8F"));  // std::minstd_rand: first draw 48271 = 0xBC8F
}

TEST(BinaryFile, LoadsWholeFilesAndNamesThePathAndReasonOfOneThatCannotBeRead) {
    const std::string path = test::TestDir() + "binary_test.bin";
    std::ofstream(path, std::ios::binary).write("\x00\x01\xFF", 3);
    EXPECT_EQ(LoadBinaryFile(path), Binary("0001FF"));
    // A directory opens for reading on POSIX, and a device or FIFO (the qxw test's case) would not end.
    const std::pair<std::string, const char*> cases[] = {
        {path + ".absent", "No such file or directory"},
        {test::TestDir(), "Is a directory"},
        {"/dev/zero", "Is a device, not a regular file"},
    };
    Binary target("AA");
    for (const auto& [name, reason] : cases)
        EXPECT_EQ(MessageOf([&] { LoadBinaryFile(name, target); }), name + " : fopen error: " + reason);
    // The size check sees the size before any byte is read and may refuse it.
    uint64_t seen = 0;
    EXPECT_EQ(MessageOf([&] {
                  LoadBinaryFile(path, target, [&](uint64_t size) {
                      seen = size;
                      throw Exception("too big", SourcePlace());
                  });
              }),
              "too big");
    EXPECT_EQ(seen, 3u);
    std::ofstream(path, std::ios::binary | std::ios::trunc);
    LoadBinaryFile(path, target);
    EXPECT_EQ(target, Binary("AA"));  // neither a failure nor an empty file changes the target
    EXPECT_TRUE(LoadBinaryFile(path).empty());
}

}  // namespace
}  // namespace ZORVIK::binary
