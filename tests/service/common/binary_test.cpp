#include "service/common/binary.h"

#include <gtest/gtest.h>

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
    std::ofstream(path, std::ios::binary | std::ios::trunc);
    LoadBinaryFile(path, target);
    EXPECT_EQ(target, Binary("AA"));  // neither a failure nor an empty file changes the target
}

}  // namespace
}  // namespace ZORVIK::binary
