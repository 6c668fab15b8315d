// The small helpers under every module: exceptions, text and number conversions, paths.
#include "service/common/utilities.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <climits>
#include <thread>
#include <tuple>

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
    // Places are always empty, whatever the site passes.
    EXPECT_EQ(base.Place().line, 0);
    EXPECT_STREQ(base.Place().file, "");
    EXPECT_STREQ(base.Place().function, "");
    EXPECT_EQ(base.ErrorCode(), 0);
    EXPECT_STREQ(base.Name(), "Exception");
    EXPECT_EQ(Exception("abc", SourcePlace()).FullMessage(), "Ошибка (Exception). abc");
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

TEST(Exception, ACopyDestroyedOrAssignedLeavesTheOriginalsInnerIntact) {
    auto original = std::make_unique<Exception>("abc", SourcePlace());
    original->SetInner(Exception("x", SourcePlace()));
    const std::string full = "Ошибка (Exception). abc\nПредыдущее исключение {\nОшибка (Exception). x}";
    {
        const Exception copy(*original);
        EXPECT_EQ(copy.FullMessage(), full);
        Exception assigned("other", SourcePlace());
        assigned = *original;
        EXPECT_EQ(assigned.FullMessage(), full);
        EXPECT_NE(assigned.Inner(), original->Inner());
        const Exception& itself = assigned;
        assigned = itself;  // assigning itself keeps everything
        EXPECT_EQ(assigned.FullMessage(), full);
        EXPECT_EQ(original->Clone()->FullMessage(), full);
    }
    ASSERT_NE(original->Inner(), nullptr);
    EXPECT_STREQ(original->Inner()->what(), "x");
}

TEST(Exception, SetMessageAndSetPlaceReplaceAndAZeroByteInTheTextIsShownEscaped) {
    Exception error("old", SourcePlace());
    error.SetMessage("file.txt(3): new");
    EXPECT_EQ(error.FullMessage(), "Ошибка (Exception). file.txt(3): new");
    error.SetMessage(error.Message());  // its own text changes nothing
    EXPECT_STREQ(error.what(), "file.txt(3): new");
    // A message quoting input with zero bytes keeps the text after them.
    const std::pair<std::string, const char*> zeroBytes[] = {
        {std::string("a\0b", 3), "a\\x00b"},
        {std::string("\0\0", 2), "\\x00\\x00"},
        {std::string("end\0", 4), "end\\x00"},
    };
    for (const auto& [text, shown] : zeroBytes) {
        EXPECT_STREQ(TLVException(text, 0).what(), shown);
        error.SetMessage(text);
        EXPECT_EQ(error.Message(), shown);
    }
    SourcePlace place;
    place.file = "a.cpp";
    place.line = 7;
    place.function = "ZORVIK::A";
    CardDrvException tagged("m", 5);
    CardDrvException& same = tagged.SetPlace(place);  // keeps its own class
    EXPECT_EQ(&same, &tagged);
    EXPECT_EQ(tagged.Place().line, 7);
    EXPECT_STREQ(tagged.Place().function, "ZORVIK::A");
    EXPECT_EQ(error.SetPlace(place).Place().line, 7);
}

// A place with a line of its own, made by hand: the sites' places are always empty.
SourcePlace PlaceAt(int32_t line) {
    SourcePlace place;
    place.file = "check.cpp";
    place.line = line;
    return place;
}

TEST(Check, TrueDoesNothingFalseThrowsTheMessageWithTheCheckPlace) {
    EXPECT_NO_THROW(ZORVIK_CHECK("ZORVIK::Test", true, "never"));
    EXPECT_NO_THROW(ZORVIK_CHECK_STR("ZORVIK::Test", true, std::string("never")));
    try {
        ZORVIK_CHECK("ZORVIK::Test", false, "No Card in Reader or Card is Powered Off");
        FAIL() << "no exception";
    } catch (const Exception& e) {
        EXPECT_STREQ(e.what(), "No Card in Reader or Card is Powered Off");
        EXPECT_STREQ(e.Name(), "Exception");
    }
    EXPECT_EQ(test::MessageOf([] { ZORVIK_CHECK_STR("ZORVIK::Test", false, std::string("s") + "t"); }), "st");
    EXPECT_EQ(test::MessageOf([] { SetCheckPlace(PlaceAt(1)).Check(false, nullptr); }), "");
    try {
        SetCheckPlace(PlaceAt(3)).CheckStr(false, "str");
        FAIL() << "no exception";
    } catch (const Exception& e) {
        EXPECT_EQ(e.Place().line, 3);
        EXPECT_STREQ(e.Place().file, "check.cpp");
    }
}

// The line of the place that a failing check of the checker throws with.
int32_t ThrownLine(const Checker& checker) {
    try {
        checker.Check(false, "m");
    } catch (const Exception& e) {
        return e.Place().line;
    }
    return -1;
}

TEST(Check, EachThreadsCheckCarriesItsOwnPlace) {
    // A checker taken on this thread keeps its place while another thread checks with its own.
    const auto checker = SetCheckPlace(PlaceAt(1));
    std::thread([] { EXPECT_EQ(ThrownLine(SetCheckPlace(PlaceAt(2))), 2); }).join();
    EXPECT_EQ(ThrownLine(checker), 1);
    // Two threads checking in parallel.
    std::atomic<int> wrong{0};
    auto checking = [&wrong](int32_t line) {
        for (int i = 0; i < 20000; ++i) {
            if (ThrownLine(SetCheckPlace(PlaceAt(line))) != line) ++wrong;
        }
    };
    std::thread first(checking, 10), second(checking, 20);
    first.join();
    second.join();
    EXPECT_EQ(wrong.load(), 0);
}

using Items = std::vector<std::string>;

TEST(Split, SeparatorsQuotesAndTrimming) {
    const struct {
        const char* text;
        bool trim, quotes, skipEmpty;
        Items items;
    } cases[] = {
        {"", false, false, false, {}},
        {"a", false, false, false, {"a"}},
        {"a,,b,", false, false, false, {"a", "", "b"}},  // a trailing separator ends the last item
        {"a,,b", false, false, true, {"a", "b"}},
        {",a", false, false, false, {"", "a"}},
        {",a", false, false, true, {"a"}},
        {"x,\"y,z\"", false, true, false, {"x", "y,z"}},
        {"\"\",a", false, true, false, {"", "a"}},       // an item of quotes alone is empty
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
    EXPECT_EQ(Trim("  \t"), "");
    EXPECT_EQ(Trim(""), "");
    EXPECT_EQ(Trim("x"), "x");
}

TEST(Text, CaseOfAsciiAndCyrillicInUtf8AndOldCodePages) {
    EXPECT_EQ(ToLower("Log_Level ПУТЬ Ёж ÄÖ"), "log_level путь ёж ÄÖ");  // other scripts pass unchanged
    EXPECT_EQ(ToUpper("яблоко ё z"), "ЯБЛОКО Ё Z");
    EXPECT_EQ(ToLower("\xD0\x41\xD1"), "\xD0\x61\xD1");  // malformed bytes pass unchanged
    EXPECT_EQ(ToUpper("\xFF\xFE"), "\xFF\xFE");
    // The ends of each range: @ A Z [ and ` a z {; Ѐ (U+0400) А Я а я ѐ (U+0450) and Ё ё.
    EXPECT_EQ(ToLower("@AZ[`az{ ЀАЯаяѐЁё"), "@az[`az{ Ѐаяаяѐёё");
    EXPECT_EQ(ToUpper("@AZ[`az{ ЀАЯаяѐЁё"), "@AZ[`AZ{ ЀАЯАЯѐЁЁ");
    // UTF-8 of two, three and four bytes; an overlong form, a surrogate and a cut sequence give U+FFFD per byte.
    EXPECT_EQ(Utf8ToWide("\x7F\xD0\x81\xE2\x82\xAC\xF0\x9F\x98\x80"), std::wstring(L"\x7F\x0401\x20AC\x1F600"));
    EXPECT_EQ(Utf8ToWide("\xC0\x80\xED\xA0\x80\xE2\x82"), std::wstring(7, L'\xFFFD'));
    // Windows-1251 at the ends of its halves and tables (the code page's published mapping).
    EXPECT_EQ(Cp1251ToWide("\x7F\x80\xBF\xC0\xDF\xE0\xFF"), L"\x7F\x0402\x0457АЯая");
    EXPECT_EQ(SafePrintf("%s", ""), "");
}

TEST(Text, EveryByteOfTheWindows1251UpperHalf) {
    // The code page's published mapping (0x98, unassigned there, passes as U+0098, as Windows converts it).
    std::string upperHalf;
    for (int byte = 0x80; byte <= 0xFF; ++byte) upperHalf += static_cast<char>(byte);
    EXPECT_EQ(Cp1251ToWide(upperHalf),
              L"ЂЃ‚ѓ„…†‡€‰Љ‹ЊЌЋЏђ‘’“”•–—\x0098™љ›њќћџ\x00A0ЎўЈ¤Ґ¦§Ё©Є«¬\x00AD®Ї°±Ііґµ¶·ё№є»јЅѕї"
              L"АБВГДЕЖЗИЙКЛМНОПРСТУФХЦЧШЩЪЫЬЭЮЯабвгдежзийклмнопрстуфхцчшщъыьэюя");
    EXPECT_EQ(Cp1251ToWide("\xCF\xF0\xE8\xE2\xE5\xF2 \xA8\xB8\xB9\x88") + Utf8ToWide("Ёж\xC0"), L"Привет Ёё№€Ёж\xFFFD");
    EXPECT_EQ(SafePrintf("%02X-%s", 10, std::string(5000, 'x').c_str()), "0A-" + std::string(5000, 'x'));
    const char* nullFormat = nullptr;
    EXPECT_EQ(test::MessageOf([&] { SafePrintf(nullFormat); }), "Некорректный формат вывода в строку!");
}

// C0 controls but LF and tab, DEL, and the C1 controls U+0080..U+009F in their
// UTF-8 form (C2 80..C2 9F, which a UTF-8 terminal obeys as it obeys ESC) are
// shown as \xHH; UTF-8 letters and bytes that are not UTF-8 pass as they are.
TEST(Text, ControlBytesAreEscapedButTextInUtf8OrWindows1251IsNot) {
    const std::pair<std::string, std::string> cases[] = {
        // C0, DEL, and what stays: line feed, tab, blank, tilde.
        {std::string("a\0b", 3), "a\\x00b"},
        {"\x1B[2J\x1F\r\x7F", "\\x1B[2J\\x1F\\x0D\\x7F"},
        {"\n\t ~", "\n\t ~"},
        // C1 in UTF-8: both ends and CSI, among Cyrillic.
        {"\xC2\x80\xC2\x9F", "\\xC2\\x80\\xC2\\x9F"},
        {"Место \xC2\x9B"
         "2J сбой",
         "Место \\xC2\\x9B"
         "2J сбой"},
        {"д\xC2\x85ом", "д\\xC2\\x85ом"},
        // U+00A0 and U+00AB, just past C1, and letters of other lead bytes stay.
        {"\xC2\xA0\xC2\xAB\xC3\x80 Ёё ЀяѐӿⅫ", "\xC2\xA0\xC2\xAB\xC3\x80 Ёё ЀяѐӿⅫ"},
        // Windows-1251: "Привет", "Вход" (В is C2, then a letter), Ђ (80) and › (9B) alone.
        {"\xCF\xF0\xE8\xE2\xE5\xF2 \xC2\xF5\xEE\xE4 \x80\x9B", "\xCF\xF0\xE8\xE2\xE5\xF2 \xC2\xF5\xEE\xE4 \x80\x9B"},
        // A lone C2: at the end, before ASCII, before another C2 that starts a C1, before a C0.
        {"end\xC2", "end\xC2"},
        {"\xC2"
         "A",
         "\xC2"
         "A"},
        {"\xC2\xC2\x9B", "\xC2\\xC2\\x9B"},
        {"\xC2\x1B\x9B", "\xC2\\x1B\x9B"},
        // Only C2 leads a C1 control: the trail bytes 82 85 of U+2085 (₅) stay.
        {"\xE2\x82\x85", "\xE2\x82\x85"},
    };
    for (const auto& [text, shown] : cases) {
        EXPECT_EQ(EscapeControlBytes(text), shown) << text;
        EXPECT_EQ(EscapeControlBytes(shown), shown) << text;  // shown text escapes to itself
    }
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

TEST(Numbers, TextOfNumbersAtTheEndsOfWidthsAndRadixesAndSaturatedReads) {
    EXPECT_EQ(Bin_UNum16(binary::Binary("12")), 0x12);
    EXPECT_EQ(Bin_UNum32(binary::Binary("01020304")), 0x01020304u);
    EXPECT_THROW(Bin_UNum32(binary::Binary("0102030405")), Exception);
    EXPECT_EQ(Bin_ToHex(binary::Binary("010203"), 0, 0, 2), "0102\n03");
    EXPECT_EQ(SwapBytes16(0x00FF), 0xFF00);
    const std::pair<std::string, std::string> texts[] = {
        {NumToHex(0x123456, 2), "123456"},  // never cut
        {NumToHex(0, 0), "00"},
        {NumToHex(1, 10), "00000000000000000001"},  // wider than eight bytes
        {NumToHex(0xABCDEF, 1, 1, 2), "AB CD  EF"},
        {NumToStr(0), "0"},
        {NumToStr(255, 16), "ff"},
        {NumToStr(35, 37), ""},
        {IntToStr(-5, 10), "-5"},
        {IntToStr(INT64_MAX, 10), "9223372036854775807"},
        {IntToStr(-1, 16), "ffffffffffffffff"},  // a minus sign only in radix 10
        {IntToStr(-5, 1), ""},
        {IntToStr(35, 36), "z"},
        {IntToStr(-2, 2), "1111111111111111111111111111111111111111111111111111111111111110"},
        {IntToStr(5, 37), ""},
    };
    for (const auto& [text, expected] : texts) EXPECT_EQ(text, expected);
    const std::pair<const char*, int> reads[] = {
        {"+7", 7},
        {"1000", 1000},
        {"09x", 9},
        {"\t\n\v\f\r 12", 12},
        {"- 5", 0},
        {"2147483647", INT32_MAX},
        {"2147483648", INT32_MAX},
        {"-2147483648", INT32_MIN},
        {"-2147483649", INT32_MIN},
        {"-99999999999999999999", INT32_MIN},
        {"", 0},
    };
    for (const auto& [text, number] : reads) EXPECT_EQ(StrToInt(text), number) << text;
    // Bits 1 and 8 are the ends; 0 and 9 change nothing.
    EXPECT_TRUE(GetBit(0x80, 8) && GetBit(0x01, 1));
    EXPECT_FALSE(GetBit(0xFF, 0) || GetBit(0x7F, 8) || GetBit(0xFE, 1));
    uint8_t bits = 0xFF;
    for (int bit : {0, 9, -1}) ClearBit(bits, bit);
    EXPECT_EQ(bits, 0xFF);
    ClearBit(bits, 8);
    ClearBit(bits, 1);
    EXPECT_EQ(bits, 0x7E);
    SetBit(bits, 8);
    SetBit(bits, 1);
    EXPECT_EQ(bits, 0xFF);
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

TEST(Paths, RootsDotsAndEmptyParts) {
    const std::tuple<const char*, const char*, const char*> formatted[] = {
        {"/opt/tools/skarna", "%d%p%n.log", "/opt/tools/skarna.log"},
        {"x.log", "%d|%p|%n|%e", "||x|.log"},  // no root, no directory
        {"/x.log", "%d|%p|%n|%e", "/||x|.log"},
        {"/", "%d|%p|%n|%e", "/|||"},
        {"/a/b", "%e", ""},
        {"a.b/c", "%p|%n|%e", "a.b/|c|"},  // a point in the directory is no extension
        {"a/.b.c", "%n|%e", ".b|.c"},
        {"a/b.", "%n|%e", "b|."},
    };
    for (const auto& [path, format, text] : formatted) EXPECT_EQ(FormatPath(path, format), text) << path;
    const std::tuple<const char*, const char*, bool, const char*> absolute[] = {
        {"/d//A/./b", "/base", false, "/d/A/b"},
        {"c.ini", "/etc/qxw/", false, "/etc/qxw/c.ini"},
        {"x", "\\base", false, "/base/x"},
        {"/..", "/x", false, "/"},  // ".." at the root stays at the root
        {"..", "/", false, "/"},
        {"a/../../b", "/x/y", false, "/x/b"},
        {"a/b/..", "/", false, "/a"},
        {"./a/", "/", false, "/a/"},
        {"ÄB/Ё", "/", true, "/Äb/ё"},
    };
    for (const auto& [path, base, lowerCase, result] : absolute)
        EXPECT_EQ(MakeAbsolutePath(path, base, lowerCase), result) << path << " against " << base;
    EXPECT_EQ(UnifySeparators(""), "");
    EXPECT_EQ(UnifySeparators("\\\\server\\x\\"), "/server/x/");
    const std::string self = GetModulePath();
    EXPECT_EQ(self.front(), '/');
    EXPECT_FALSE(FileExists(self + ".missing"));
    const std::string current = GetCurrentPath();
    EXPECT_EQ(current.back(), '/');
    EXPECT_TRUE(FileExists(current));
}

TEST(Paths, RefusalsAreFileSystemErrors) {
    EXPECT_THROW(FormatPath("", "%n"), Exception);
    EXPECT_THROW(FormatPath("a", ""), Exception);
    EXPECT_EQ(test::MessageOf([] { FormatPath("/" + std::string(5000, 'a'), "%n"); }), "Wrong path size!");
    EXPECT_EQ(test::MessageOf([] { FormatPath("", "%n"); }), "Empty path!");
    EXPECT_EQ(test::MessageOf([] { FormatPath("a", ""); }), "Empty format!");
    // PATH_MAX characters after the separators are unified, and one more.
    EXPECT_EQ(FormatPath("//" + std::string(PATH_MAX - 1, 'a'), "%n").size(), size_t{PATH_MAX - 1});
    EXPECT_EQ(test::MessageOf([] { FormatPath("/" + std::string(PATH_MAX, 'a'), "%n"); }), "Wrong path size!");
    for (const char* base : {"", "relative/base"}) {
        try {
            MakeAbsolutePath("x", base, false);
            ADD_FAILURE() << base;
        } catch (const FileLibException& e) {
            EXPECT_EQ(e.ErrorCode(), EINVAL);
        }
    }
    try {
        MakeAbsolutePath("x", "relative/base", false);
        FAIL();
    } catch (const FileLibException& e) {
        EXPECT_EQ(e.FullMessage(), "Ошибка (FileLibraryError). Базовый путь должен быть абсолютным.Invalid argument");
    }
}

}  // namespace
}  // namespace ZORVIK
