#include "service/common/exception.h"

#include <gtest/gtest.h>

namespace ZORVIK {
namespace {

TEST(Exception, FullMessageNamesTheClassAndEachTagItsOwn) {
    const Exception base("abc", SourcePlace());
    EXPECT_EQ(base.FullMessage(), "Ошибка (Exception). abc");
    EXPECT_EQ(base.ErrorCode(), 0);
    const TLVException tlv("Empty tag", 3);
    EXPECT_EQ(tlv.FullMessage(), "Ошибка (TLV). Empty tag");
    EXPECT_EQ(tlv.ErrorCode(), 3);
    EXPECT_STREQ(FileLibException("", 0).Name(), "FileLibraryError");
    EXPECT_STREQ(CryptLibException("", 0).Name(), "CryptLibError");
    EXPECT_STREQ(NetworkException("", 0).Name(), "Network");
    EXPECT_STREQ(CardDrvException("", 0).Name(), "CardReaderDriverError");
}

TEST(Exception, InnerExceptionIsPrintedAndDeepCopied) {
    auto outer = std::make_unique<Exception>("abc", SourcePlace());
    outer->SetInner(Exception("x", SourcePlace()));
    const std::string expected = "Ошибка (Exception). abc\nПредыдущее исключение {\nОшибка (Exception). x}";
    EXPECT_EQ(outer->FullMessage(), expected);
    {
        Exception copy(*outer);
        EXPECT_EQ(copy.FullMessage(), expected);
        EXPECT_NE(copy.Inner(), outer->Inner());
    }
    ASSERT_NE(outer->Inner(), nullptr);
    EXPECT_STREQ(outer->Inner()->what(), "x");
}

TEST(Exception, CloneKeepsClassNameAndCode) {
    CardDrvException original("No reader", 11);
    original.SetInner(TLVException("inner", 2));
    std::unique_ptr<Exception> clone = original.Clone();
    EXPECT_NE(dynamic_cast<CardDrvException*>(clone.get()), nullptr);
    EXPECT_STREQ(clone->Name(), "CardReaderDriverError");
    EXPECT_EQ(clone->ErrorCode(), 11);
    ASSERT_NE(clone->Inner(), nullptr);
    EXPECT_EQ(clone->Inner()->ErrorCode(), 2);
}

TEST(Exception, SetMessageReplacesTheText) {
    Exception e("old", SourcePlace());
    e.SetMessage("file.txt(3): new");
    EXPECT_EQ(e.FullMessage(), "Ошибка (Exception). file.txt(3): new");
    e.SetMessage(e.Message());
    EXPECT_STREQ(e.what(), "file.txt(3): new");
}

TEST(Exception, PlacesAreAlwaysEmpty) {
    const Exception e("m", ZORVIK_PLACE("ZORVIK::Some::Function"));
    EXPECT_STREQ(e.Place().file, "");
    EXPECT_STREQ(e.Place().function, "");
    EXPECT_EQ(e.Place().line, 0);
}

TEST(Exception, FullMessageWDecodesUtf8) {
    const Exception e("Ё", SourcePlace());
    EXPECT_EQ(e.FullMessageW(), L"Ошибка (Exception). Ё");
}

TEST(Check, TrueConditionDoesNothingFalseThrows) {
    EXPECT_NO_THROW(ZORVIK_CHECK("ZORVIK::Test", true, "never"));
    try {
        ZORVIK_CHECK("ZORVIK::Test", false, "No Card in Reader or Card is Powered Off");
        FAIL() << "no exception";
    } catch (const Exception& e) {
        EXPECT_STREQ(e.what(), "No Card in Reader or Card is Powered Off");
        EXPECT_STREQ(e.Name(), "Exception");
    }
    EXPECT_THROW(ZORVIK_CHECK_STR("ZORVIK::Test", false, std::string("s")), Exception);
}

}  // namespace
}  // namespace ZORVIK
