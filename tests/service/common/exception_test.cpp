#include "service/common/exception.h"

#include <gtest/gtest.h>

namespace ZORVIK {
namespace {

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

}  // namespace
}  // namespace ZORVIK
