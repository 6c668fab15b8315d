#include "service/common/binary.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cctype>
#include <fstream>
#include <functional>
#include <sstream>

#include "support/error_text.h"
#include "support/test_dir.h"

namespace ZORVIK::binary {
namespace {

using test::MessageOf;

TEST(BinaryFromText, HexDigitsWithWhiteSpaceAnywhere) {
    EXPECT_EQ(Binary(" a0\t0 0\r\n0123456789abcdefABCDEF"),
              Binary({0xA0, 0x00, 0x01, 0x23, 0x45, 0x67, 0x89, 0xAB, 0xCD, 0xEF, 0xAB, 0xCD, 0xEF}));
    EXPECT_TRUE(Binary(" \t\r\n").empty());
    EXPECT_EQ(MessageOf([] { Binary("ABC"); }), "Нечётное количество значащих символов в hex-строке");
    EXPECT_EQ(MessageOf([] { Binary(static_cast<const char*>(nullptr)); }), "NULL указатель");
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

TEST(BinaryToHex, SeparatorPrecedence) {
    EXPECT_EQ(ToHex(Binary("0102030405"), 1, 2, 4), "01 02  03 04\n05");
    EXPECT_EQ(ToHex(Binary("0102"), 0, 0, 0), "0102");
    EXPECT_EQ(ToHex(Binary("abcdef")), "AB CD EF");
}

TEST(BinaryBounds, SlicesAndNumbersStayInside) {
    Binary data("0102");
    data += data;  // appending itself must not read freed storage
    EXPECT_EQ(Slice(data, 1, 2), Binary("0201"));
    EXPECT_EQ(Back(data, 3), Binary("020102"));
    EXPECT_TRUE(Slice(data, 4, 0).empty());
    EXPECT_EQ(NumCast<uint16_t>(Binary("12")), 0x12);
    EXPECT_EQ(NumCast<uint32_t>(Binary("01020304")), 0x01020304u);
    EXPECT_EQ(NumToBinary(0, 0), Binary("00"));
    EXPECT_EQ(NumToBinary(0x1234, 4), Binary("00001234"));
    EXPECT_EQ(NumToBinary(0x123456, 2), Binary("123456"));  // padded but never cut
    const std::function<void()> outside[] = {[&] { Slice(data, 1, 4); }, [&] { Slice(data, 0xFFFFFFFF, 2); },
                                             [&] { Back(data, 5); }};
    for (const auto& action : outside) EXPECT_EQ(MessageOf(action), "Выход за границы массива");
    const std::function<void()> tooLong[] = {[] { NumCast<uint16_t>(Binary("010203")); },
                                             [] { NumCast<uint32_t>(Binary("0102030405")); }};
    for (const auto& action : tooLong)
        EXPECT_EQ(MessageOf(action), "Размер массива не должен быть больше размера типа числа");
}

TEST(BinaryRandom, DrawsFromTheMinimalStandardEngine) {
    GetRandomEngine().seed(1);
    EXPECT_EQ(RandomBinary(1), Binary("8F"));  // first draw 48271 = 0xBC8F
    Binary target("0102");
    FillRandom(3, target);
    EXPECT_EQ(target.size(), 3u);
}

TEST(BinaryFile, LoadsWholeFilesAndNamesThePathAndReasonOfOneThatCannotBeRead) {
    const std::string path = test::TestDir() + "binary_test.bin";
    std::ofstream(path, std::ios::binary).write("\x00\x01\xFF", 3);
    EXPECT_EQ(LoadBinaryFile(path), Binary("0001FF"));
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
    std::ofstream(path, std::ios::binary | std::ios::trunc);
    LoadBinaryFile(path, target);
    EXPECT_EQ(target, Binary("AA"));  // neither a failure nor an empty file changes the target
}

}  // namespace
}  // namespace ZORVIK::binary
