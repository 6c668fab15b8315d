// The small helpers under every module: exceptions, text and number conversions, paths.
#include "service/common/utilities.h"

#include <gtest/gtest.h>

#include "service/common/exception.h"
#include "service/common/filesystem.h"
#include "service/common/printf.h"
#include "support/error_text.h"

namespace ZORVIK {
namespace {

using namespace filesystem;

TEST(Exception, FullMessageNamesTheClassAndEachTagItsOwn) {
    const Exception base("Ё", ZORVIK_PLACE("ZORVIK::Some::Function"));
    EXPECT_EQ(base.FullMessageW(), L"Ошибка (Exception). Ё");
    EXPECT_EQ(base.Place().line, 0);  // places are always empty
    const std::pair<std::unique_ptr<Exception>, const char*> tagged[] = {
        {std::make_unique<TLVException>("m", 3), "Ошибка (TLV). m"},
        {std::make_unique<FileLibException>("m", 3), "Ошибка (FileLibraryError). m"},
        {std::make_unique<CryptLibException>("m", 3), "Ошибка (CryptLibError). m"},
        {std::make_unique<NetworkException>("m", 3), "Ошибка (Network). m"},
        {std::make_unique<CardDrvException>("m", 3), "Ошибка (CardReaderDriverError). m"},
    };
    for (const auto& [error, text] : tagged) {
        EXPECT_EQ(error->FullMessage(), text);
        EXPECT_EQ(error->ErrorCode(), 3) << text;
    }
}

TEST(Exception, CopiesAndClonesKeepClassCodeAndADeepCopyOfTheInner) {
    CardDrvException original("No reader", 11);
    original.SetInner(TLVException("x", 2));
    const std::unique_ptr<Exception> clone = original.Clone();
    const CardDrvException copy(original);
    EXPECT_NE(dynamic_cast<CardDrvException*>(clone.get()), nullptr);
    EXPECT_EQ(clone->ErrorCode(), 11);
    EXPECT_EQ(clone->Inner()->ErrorCode(), 2);
    EXPECT_NE(copy.Inner(), original.Inner());
    EXPECT_EQ(copy.FullMessage(),
              "Ошибка (CardReaderDriverError). No reader\nПредыдущее исключение {\nОшибка (TLV). x}");
}

using Items = std::vector<std::string>;

TEST(Split, SeparatorsQuotesAndTrimming) {
    const struct {
        const char* text;
        bool trim, quotes, skipEmpty;
        Items items;
    } cases[] = {
        {"a,,b,", false, false, false, {"a", "", "b"}},  // a trailing separator ends the last item
        {",a,,\"b,c", false, true, true, {"a", "b,c"}},  // an unclosed quote runs to the end
        {"x,\"y,z\"", false, false, false, {"x", "\"y", "z\""}},
        // Emptiness is judged before trimming: a blank item survives skipEmpty as "".
        {" a , ,b", true, false, true, {"a", "", "b"}},
    };
    for (const auto& c : cases) {
        Items items{"stale"};
        Split(c.text, items, ',', c.trim, c.quotes, c.skipEmpty);
        EXPECT_EQ(items, c.items) << c.text;
    }
    EXPECT_EQ(Trim("\r\n\t a b \n"), "a b");
    EXPECT_EQ(Trim("\va\v"), "\va\v");  // only blank, tab, line feed and return
}

TEST(Text, CaseOfAsciiAndCyrillicInUtf8AndOldCodePages) {
    EXPECT_EQ(ToLower("Log_Level ПУТЬ Ёж ÄÖ"), "log_level путь ёж ÄÖ");  // other scripts pass unchanged
    EXPECT_EQ(ToUpper("яблоко ё z"), "ЯБЛОКО Ё Z");
    EXPECT_EQ(ToLower("\xD0\x41\xD1"), "\xD0\x61\xD1");  // malformed bytes pass unchanged
    EXPECT_EQ(ToUpper("\xFF\xFE"), "\xFF\xFE");
    EXPECT_EQ(Cp1251ToWide("\xCF\xF0\xE8\xE2\xE5\xF2 \xA8\xB8\xB9\x88") + Utf8ToWide("Ёж\xC0"), L"Привет Ёё№€Ёж\xFFFD");
    EXPECT_EQ(SafePrintf("%02X-%s", 10, std::string(5000, 'x').c_str()), "0A-" + std::string(5000, 'x'));
    const char* nullFormat = nullptr;
    EXPECT_EQ(test::MessageOf([&] { SafePrintf(nullFormat); }), "Некорректный формат вывода в строку!");
}

TEST(Numbers, BinaryTextAndBitConversions) {
    EXPECT_EQ(Bin_UNum16(binary::Binary("1234")), 0x1234);
    EXPECT_THROW(Bin_UNum16(binary::Binary("123456")), Exception);
    EXPECT_EQ(Bin_UNum32(binary::Binary()), 0u);
    EXPECT_EQ(SwapBytes16(0x1234), 0x3412);
    EXPECT_EQ(NumToHex(0x1234, 4, 1), "00 00 12 34");
    EXPECT_EQ(NumToStr(0xFFFFFFFFFFFFFFFFull, 2), std::string(64, '1'));
    EXPECT_EQ(NumToStr(35, 36), "z");
    EXPECT_EQ(NumToStr(1, 1), "");
    EXPECT_EQ(IntToStr(INT64_MIN, 10), "-9223372036854775808");
    EXPECT_EQ(StrToInt("  -42abc"), -42);
    EXPECT_EQ(StrToInt("x1"), 0);
    EXPECT_EQ(StrToInt("99999999999999999999"), INT32_MAX);  // saturates
    // Bits are numbered 1 (lowest) to 8; others are ignored.
    uint8_t bits = 0x80;
    for (int bit : {3, 0, 9}) SetBit(bits, bit);
    ClearBit(bits, 8);
    EXPECT_EQ(bits, 0x04);
    EXPECT_TRUE(GetBit(bits, 3));
    EXPECT_FALSE(GetBit(0xFF, 9));
}

TEST(Paths, FormatUnifyMakeAbsoluteAndFind) {
    EXPECT_EQ(FormatPath("/opt/tools/skarna.exe", "%d|%p|%n|%e"), "/|opt/tools/|skarna|.exe");
    EXPECT_EQ(FormatPath("\\\\a\\\\b.c", "%d%p%n%e"), "/a/b.c");
    EXPECT_EQ(FormatPath("a", "100%% %x%"), "100% x");
    EXPECT_EQ(UnifySeparators("a//b\\\\c/\\d"), "a/b/c/d");
    EXPECT_EQ(MakeAbsolutePath("../x", "/a/b", false), "/a/x");
    EXPECT_EQ(MakeAbsolutePath("/d//A/./b", "/base", true), "/d/a/b");
    EXPECT_EQ(MakeAbsolutePath("../../../..", "/a", false), "/");
    EXPECT_EQ(NormalizePath("Dir/Файл.ini", "/Base"), "/base/dir/файл.ini");
    EXPECT_TRUE(FileExists(GetModulePath()));
    EXPECT_FALSE(FileExists(GetCurrentPath() + "missing") || FileExists(""));
}

TEST(Paths, RefusalsAreFileSystemErrors) {
    EXPECT_THROW(FormatPath("", "%n"), Exception);
    EXPECT_THROW(FormatPath("a", ""), Exception);
    EXPECT_EQ(test::MessageOf([] { FormatPath("/" + std::string(5000, 'a'), "%n"); }), "Wrong path size!");
    try {
        MakeAbsolutePath("x", "relative/base", false);
        FAIL();
    } catch (const FileLibException& e) {
        EXPECT_EQ(e.FullMessage(), "Ошибка (FileLibraryError). Базовый путь должен быть абсолютным.Invalid argument");
    }
}

}  // namespace
}  // namespace ZORVIK
