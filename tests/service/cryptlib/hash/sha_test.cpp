#include "service/cryptlib/hash/sha.h"

#include <gtest/gtest.h>

#include "service/common/exception.h"
#include "service/cryptlib/hash/crypto_test_util.h"
#include "support/vectors.h"

namespace ZORVIK {
namespace {

using binary::Binary;
using binary::ToHex;

uint32_t WordAt(const Binary& context, size_t offset) {
    return uint32_t(context[offset]) | uint32_t(context[offset + 1]) << 8 | uint32_t(context[offset + 2]) << 16 |
           uint32_t(context[offset + 3]) << 24;
}

Binary Ascii(const std::string& text) { return Binary(text.begin(), text.end()); }

TEST(Sha, PublishedVectorsOneShotAndIncremental) {
    for (const auto& v : test::LoadVectors("hash/sha.vec")) {
        SCOPED_TRACE(v.Where());
        const Binary message = v.Bin("Message");
        SHA1 sha1;
        SHA256 sha256;
        EXPECT_EQ(sha1.Calc(message), v.Bin("SHA1"));
        EXPECT_EQ(sha256.Calc(message), v.Bin("SHA256"));
        sha1.Reset();
        sha1.Input(message);
        EXPECT_EQ(sha1.Result(), v.Bin("SHA1"));
        sha256.Reset();
        sha256.Input(message);
        EXPECT_EQ(sha256.Result(), v.Bin("SHA256"));
    }
}

TEST(Sha, FreeFunctionsTakeNullForEmptyAndRefuseNullWithLength) {
    uint8_t out[32];
    SHA1_Calc(nullptr, 0, out);
    EXPECT_EQ(Binary(out, out + 20), Binary("da39a3ee5e6b4b0d3255bfef95601890afd80709"));
    SHA256_Calc(nullptr, 0, out);
    EXPECT_EQ(Binary(out, out + 32), Binary("e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"));
    try {
        SHA1_Calc(nullptr, 3, out);
        FAIL() << "SHA1_Calc took a null pointer";
    } catch (const CryptLibException&) {
        FAIL() << "SHA-1 reports as ZORVIK::Exception, not the crypto library error";
    } catch (const Exception& e) {
        EXPECT_STREQ(e.what(), "Invalid data");
    }
    try {
        SHA256_Calc(nullptr, 3, out);
        FAIL() << "SHA256_Calc took a null pointer";
    } catch (const CryptLibException& e) {
        EXPECT_STREQ(e.what(), "Invalid data");
        EXPECT_EQ(e.ErrorCode(), 0);
    }
}

TEST(Sha, ContextAfterSeventyBytesShowsTheLayout) {
    const Binary head = test::PseudoRandomMessage(70, 1);
    {
        SHA1 a;
        a.Input(head);
        const Binary context = a.GetContext();
        ASSERT_EQ(context.size(), 96u);
        EXPECT_EQ(WordAt(context, 20), 560u);  // bit count, low word
        EXPECT_EQ(WordAt(context, 24), 0u);
        EXPECT_EQ(WordAt(context, 92), 6u);  // pending count
        EXPECT_EQ(Binary(context.begin() + 28, context.begin() + 34), Binary(head.begin() + 64, head.end()));
    }
    {
        SHA256 a;
        a.Input(head);
        const Binary context = a.GetContext();
        ASSERT_EQ(context.size(), 112u);
        EXPECT_EQ(WordAt(context, 32), 560u);
        EXPECT_EQ(WordAt(context, 104), 6u);
        EXPECT_EQ(WordAt(context, 108), 32u);  // digest length
        EXPECT_EQ(Binary(context.begin() + 40, context.begin() + 46), Binary(head.begin() + 64, head.end()));
    }
}

TEST(Sha, SetContextSizeChecks) {
    SHA1 sha1;
    const Binary start = sha1.GetContext();
    EXPECT_EQ(test::MessageOf([&] { sha1.SetContext(Binary(95)); }), "Too small context size");
    EXPECT_EQ(sha1.GetContext(), start);

    sha1.Input(Ascii("ab"));
    Binary longer = sha1.GetContext();
    longer.resize(100, 0xEE);
    SHA1 other;
    other.SetContext(longer);
    EXPECT_EQ(other.GetContext(), Binary(longer.begin(), longer.begin() + 96));
    other.Input(Ascii("c"));
    EXPECT_EQ(other.Result(), SHA1().Calc(Ascii("abc")));

    SHA256 sha256;
    try {
        sha256.SetContext(Binary(111));
        FAIL();
    } catch (const CryptLibException& e) {
        EXPECT_STREQ(e.what(), "Too small context size.");
    }
}

TEST(Sha, SetContextRefusesPendingCountPastTheBlock) {
    SHA1 sha1;
    Binary context = sha1.GetContext();
    context[92] = 64;
    EXPECT_THROW(sha1.SetContext(context), Exception);
    EXPECT_EQ(sha1.GetContext(), SHA1().GetContext());

    SHA256 sha256;
    context = sha256.GetContext();
    context[104] = 0xFF;
    EXPECT_THROW(sha256.SetContext(context), CryptLibException);
    context = sha256.GetContext();
    context[108] = 64;  // digest length
    EXPECT_THROW(sha256.SetContext(context), CryptLibException);
}

}  // namespace
}  // namespace ZORVIK
