#include "service/cryptlib/sym/block_cipher.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "service/common/exception.h"
#include "service/cryptlib/sym/aes.h"
#include "service/cryptlib/sym/des.h"

namespace ZORVIK {
namespace {

using binary::Binary;
using testing::StrEq;
using testing::ThrowsMessage;

// A toy 8-byte permutation behind the base, with the four modes written out
// over its block operations (feedback position restarting at every call, as the
// real ciphers do). It counts Process calls so tests can tell whether the base
// got that far.
class ToyCipher : public BlockCipher {
public:
    static constexpr uint32_t kBlock = 8;

    explicit ToyCipher(const Binary& key, uint32_t ccsPadding = 1) : BlockCipher(ccsPadding, 0, kBlock), m_key(key) {}

    std::unique_ptr<BlockCipher> Clone(const Binary& newKey) const override {
        auto copy = std::make_unique<ToyCipher>(*this);
        if (!newKey.empty()) copy->m_key = newKey;
        return copy;
    }
    void EncryptBlock(uint8_t* block) override {
        uint8_t mixed[kBlock];
        for (uint32_t i = 0; i < kBlock; ++i) {
            const uint8_t x = block[i] ^ m_key[i];
            mixed[(i + 1) % kBlock] = static_cast<uint8_t>(((x << 3) | (x >> 5)) + i);
        }
        std::copy(mixed, mixed + kBlock, block);
    }
    void DecryptBlock(uint8_t* block) override {
        uint8_t plain[kBlock];
        for (uint32_t i = 0; i < kBlock; ++i) {
            const uint8_t x = static_cast<uint8_t>(block[(i + 1) % kBlock] - i);
            plain[i] = static_cast<uint8_t>(((x >> 3) | (x << 5)) ^ m_key[i]);
        }
        std::copy(plain, plain + kBlock, block);
    }
    uint32_t GetKeyLength() const override { return kBlock; }
    uint32_t GetMaxKeyLength() const override { return kBlock; }
    uint32_t GetCCSSize() const override { return 4; }
    Binary GetKey() const override { return m_key; }
    std::string GetName() const override { return "Toy"; }

    void Process(Binary& data, Binary& iv, uint32_t mode, uint32_t enc) override {
        ++processCalls;
        lastIvSize = iv.size();
        for (size_t offset = 0; offset < data.size(); offset += kBlock) {
            const size_t n = std::min<size_t>(kBlock, data.size() - offset);
            uint8_t* p = data.data() + offset;
            if (mode == CIPHER_MODE_ECB) {
                enc ? EncryptBlock(p) : DecryptBlock(p);
            } else if (mode == CIPHER_MODE_CBC) {
                if (enc) {
                    for (size_t i = 0; i < kBlock; ++i) p[i] ^= iv[i];
                    EncryptBlock(p);
                    std::copy(p, p + kBlock, iv.begin());
                } else {
                    const Binary cipherBlock(p, p + kBlock);
                    DecryptBlock(p);
                    for (size_t i = 0; i < kBlock; ++i) p[i] ^= iv[i];
                    iv = cipherBlock;
                }
            } else if (mode == CIPHER_MODE_OFB) {
                EncryptBlock(iv.data());
                for (size_t i = 0; i < n; ++i) p[i] ^= iv[i];
            } else if (mode == CIPHER_MODE_CFB) {
                EncryptBlock(iv.data());
                for (size_t i = 0; i < n; ++i) {
                    const uint8_t in = p[i];
                    p[i] ^= iv[i];
                    iv[i] = enc ? p[i] : in;
                }
            }
        }
    }

    int processCalls = 0;
    size_t lastIvSize = 0;

private:
    Binary m_key;
};

const Binary kKey("01 23 45 67 89 AB CD EF");
const Binary kIv("F0 E1 D2 C3 B4 A5 96 87");

Binary Bytes(size_t count, uint8_t first = 0x11) {
    Binary out(count);
    for (size_t i = 0; i < count; ++i) out[i] = static_cast<uint8_t>(first + 7 * i);
    return out;
}

// --- Padding -------------------------------------------------------------

struct PadCase {
    const char* data;
    uint32_t blockSize;
    uint32_t kind;
    const char* padded;
};

TEST(Pad, AppendsThePaddingOfEachKind) {
    const PadCase cases[] = {
        {"01 02 03 04 05 06 07 08", 8, 0, "01 02 03 04 05 06 07 08"},
        {"01 02 03 04 05", 8, 0, "01 02 03 04 05"},
        {"01 02 03 04 05 06 07 08", 8, 1, "01 02 03 04 05 06 07 08 80 00 00 00 00 00 00 00"},
        {"01 02 03 04 05", 8, 1, "01 02 03 04 05 80 00 00"},
        {"01 02 03 04 05 06 07", 8, 1, "01 02 03 04 05 06 07 80"},
        {"01 02 03 04 05", 8, 2, "01 02 03 04 05 03 03 03"},
        {"01 02 03 04 05 06 07 08", 8, 2, "01 02 03 04 05 06 07 08 08 08 08 08 08 08 08 08"},
        {"01 02 03 04 05 06 07 08", 8, 3, "01 02 03 04 05 06 07 08"},
        {"01 02 03 04 05", 8, 3, "01 02 03 04 05 00 00 00"},
        {"AA", 16, 1, "AA 80 00 00 00 00 00 00 00 00 00 00 00 00 00 00"},
        {"AA", 16, 2, "AA 0F 0F 0F 0F 0F 0F 0F 0F 0F 0F 0F 0F 0F 0F 0F"},
    };
    for (const PadCase& c : cases) {
        SCOPED_TRACE(std::string(c.data) + " kind " + std::to_string(c.kind));
        EXPECT_EQ(Pad(Binary(c.data), c.blockSize, c.kind), Binary(c.padded));
        Binary inPlace(c.data);
        PadFast(inPlace, c.blockSize, c.kind);
        EXPECT_EQ(inPlace, Binary(c.padded));
    }
}

TEST(Pad, RefusesEmptyDataAndUnknownKinds) {
    EXPECT_THAT([] { Pad(Binary(), 8, 1); }, ThrowsMessage<Exception>(StrEq("Empty data is invalid")));
    Binary empty;
    EXPECT_THAT([&] { PadFast(empty, 8, 1); }, ThrowsMessage<Exception>(StrEq("Empty data is invalid")));
    Binary data("01 02");
    EXPECT_THAT([&] { PadFast(data, 8, 4); },
                ThrowsMessage<Exception>(StrEq("Invalid padding kind 4, expected 0 to 3")));
    EXPECT_EQ(data, Binary("01 02"));
}

TEST(UnpadFast, KindOneCutsTheMarkerAndTrailingZeros) {
    Binary data("11 22 80 00 00");
    UnpadFast(data, 1);
    EXPECT_EQ(data, Binary("11 22"));
    Binary markerOnly("80");
    UnpadFast(markerOnly, 1);
    EXPECT_TRUE(markerOnly.empty());
    Binary zeroBeforeMarker("00 80");
    UnpadFast(zeroBeforeMarker, 1);
    EXPECT_EQ(zeroBeforeMarker, Binary("00"));
}

TEST(UnpadFast, KindOneRefusesDataWithoutTheMarker) {
    for (const char* text : {"11 22 33", "00 00 00", "11 81 00"}) {
        Binary data(text);
        EXPECT_THAT([&] { UnpadFast(data, 1); }, ThrowsMessage<Exception>(StrEq("Неправильный формат выравнивания")))
            << text;
        EXPECT_EQ(data, Binary(text));
    }
}

TEST(UnpadFast, KindTwoCutsAsManyBytesAsTheLastByteSays) {
    Binary data("01 02 03 04 05 03 03 03");
    UnpadFast(data, 2);
    EXPECT_EQ(data, Binary("01 02 03 04 05"));
    // Only the count byte is read, the other pad bytes are not compared.
    Binary loose("01 02 77 02");
    UnpadFast(loose, 2);
    EXPECT_EQ(loose, Binary("01 02"));
    Binary whole("02 02");
    UnpadFast(whole, 2);
    EXPECT_TRUE(whole.empty());
    Binary zeroCount("01 02 00");
    UnpadFast(zeroCount, 2);
    EXPECT_EQ(zeroCount, Binary("01 02 00"));
}

TEST(UnpadFast, KindTwoCountBeyondTheDataIsOutOfRange) {
    Binary data("01 02 05");
    EXPECT_THAT([&] { UnpadFast(data, 2); }, ThrowsMessage<Exception>(StrEq("Выход за границы массива")));
    EXPECT_EQ(data, Binary("01 02 05"));
}

TEST(UnpadFast, KindZeroKeepsKindThreeAndUnknownKindsRefuse) {
    Binary data("01 80 00");
    UnpadFast(data, 0);
    EXPECT_EQ(data, Binary("01 80 00"));
    EXPECT_THAT([&] { UnpadFast(data, 3); }, ThrowsMessage<Exception>(StrEq("GOST alignment can not be removed")));
    EXPECT_THAT([&] { UnpadFast(data, 9); },
                ThrowsMessage<Exception>(StrEq("Invalid padding kind 9, expected 0 to 3")));
    EXPECT_EQ(data, Binary("01 80 00"));
    Binary empty;
    EXPECT_THAT([&] { UnpadFast(empty, 0); }, ThrowsMessage<Exception>(StrEq("Empty data is invalid")));
}

// --- Whole messages ------------------------------------------------------

TEST(BlockCipherEncrypt, PaddingOneOnAlignedDataAddsAWholeBlock) {
    ToyCipher cipher(kKey);
    const Binary plain = Bytes(8);
    const Binary out = cipher.Encrypt(plain, CIPHER_MODE_ECB, 1, Binary());
    ASSERT_EQ(out.size(), 16u);
    Binary first = plain;
    cipher.EncryptBlock(first.data());
    Binary second("80 00 00 00 00 00 00 00");
    cipher.EncryptBlock(second.data());
    EXPECT_EQ(out, first + second);
}

TEST(BlockCipherEncrypt, EmptyIvIsAZeroBlockAndTheCallersIvStays) {
    ToyCipher cipher(kKey);
    const Binary plain = Bytes(16);
    EXPECT_EQ(cipher.Encrypt(plain, CIPHER_MODE_CBC, 0, Binary()),
              cipher.Encrypt(plain, CIPHER_MODE_CBC, 0, Binary(8, 0)));
    const Binary iv = kIv;
    const Binary out = cipher.Encrypt(plain, CIPHER_MODE_CBC, 0, iv);
    EXPECT_EQ(iv, kIv);
    EXPECT_EQ(cipher.Decrypt(out, CIPHER_MODE_CBC, 0, iv), plain);
}

TEST(BlockCipherEncrypt, UnalignedDataWithoutPaddingOnlyInStreamModes) {
    ToyCipher cipher(kKey);
    const Binary plain = Bytes(12);
    for (uint32_t mode : {CIPHER_MODE_ECB, CIPHER_MODE_CBC}) {
        EXPECT_THAT([&] { cipher.Encrypt(plain, mode, 0, kIv); }, ThrowsMessage<Exception>(StrEq("Data must be aligned")));
        EXPECT_THAT([&] { cipher.Decrypt(plain, mode, 0, kIv); }, ThrowsMessage<Exception>(StrEq("Data must be aligned")));
    }
    EXPECT_EQ(cipher.processCalls, 0);
    for (uint32_t mode : {CIPHER_MODE_OFB, CIPHER_MODE_CFB}) {
        const Binary out = cipher.Encrypt(plain, mode, 0, kIv);
        EXPECT_EQ(out.size(), 12u);
        EXPECT_NE(out, plain);
        EXPECT_EQ(cipher.Decrypt(out, mode, 0, kIv), plain);
    }
}

TEST(BlockCipherEncrypt, RefusesEmptyDataAndUnknownPadding) {
    ToyCipher cipher(kKey);
    EXPECT_THAT([&] { cipher.Encrypt(Binary(), 2, 1, kIv); }, ThrowsMessage<Exception>(StrEq("Empty data is invalid")));
    EXPECT_THAT([&] { cipher.Decrypt(Binary(), 2, 1, kIv); }, ThrowsMessage<Exception>(StrEq("Empty data is invalid")));
    EXPECT_THAT([&] { cipher.Encrypt(Bytes(8), 2, 4, kIv); },
                ThrowsMessage<Exception>(StrEq("Invalid padding kind 4, expected 0 to 3")));
    EXPECT_THAT([&] { cipher.Decrypt(Bytes(8), 2, 7, kIv); },
                ThrowsMessage<Exception>(StrEq("Invalid padding kind 7, expected 0 to 3")));
    EXPECT_EQ(cipher.processCalls, 0);
}

TEST(BlockCipherDecrypt, PaddingThreeFailsAfterDecrypting) {
    ToyCipher cipher(kKey);
    const Binary out = cipher.Encrypt(Bytes(5), CIPHER_MODE_CBC, 3, kIv);
    EXPECT_EQ(out.size(), 8u);
    const int before = cipher.processCalls;
    EXPECT_THAT([&] { cipher.Decrypt(out, CIPHER_MODE_CBC, 3, kIv); },
                ThrowsMessage<Exception>(StrEq("GOST alignment can not be removed")));
    EXPECT_EQ(cipher.processCalls, before + 1);
}

TEST(BlockCipherDecrypt, RoundTripsEveryModeAndRemovablePadding) {
    ToyCipher cipher(kKey);
    for (uint32_t mode = CIPHER_MODE_ECB; mode <= CIPHER_MODE_CFB; ++mode) {
        for (uint32_t padding : {1u, 2u}) {
            for (size_t length : {1u, 7u, 8u, 9u, 24u}) {
                const Binary plain = Bytes(length);
                const Binary out = cipher.Encrypt(plain, mode, padding, kIv);
                EXPECT_EQ(out.size(), (length / 8 + 1) * 8);
                EXPECT_EQ(cipher.Decrypt(out, mode, padding, kIv), plain)
                    << "mode " << mode << " padding " << padding << " length " << length;
            }
        }
    }
}

// --- Chains --------------------------------------------------------------

TEST(BlockCipherChain, NextBeforeFirstIsRefused) {
    ToyCipher cipher(kKey);
    EXPECT_THAT([&] { cipher.EncryptNext(Bytes(8), true); }, ThrowsMessage<Exception>(StrEq("Chain not started")));
    EXPECT_THAT([&] { cipher.DecryptNext(Bytes(8), true); }, ThrowsMessage<Exception>(StrEq("Chain not started")));
    EXPECT_EQ(cipher.processCalls, 0);
}

TEST(BlockCipherChain, FirstTakesWholeBlocksInEveryMode) {
    ToyCipher cipher(kKey);
    for (uint32_t mode = CIPHER_MODE_ECB; mode <= CIPHER_MODE_CFB; ++mode) {
        EXPECT_THAT([&] { cipher.EncryptFirst(Bytes(12), mode, 0, kIv); },
                    ThrowsMessage<Exception>(StrEq("Data must be aligned")));
        EXPECT_THAT([&] { cipher.DecryptFirst(Bytes(12), mode, 0, kIv); },
                    ThrowsMessage<Exception>(StrEq("Data must be aligned")));
    }
    EXPECT_THAT([&] { cipher.EncryptFirst(Binary(), 2, 0, kIv); }, ThrowsMessage<Exception>(StrEq("Empty data is invalid")));
    EXPECT_THAT([&] { cipher.DecryptFirst(Binary(), 2, 0, kIv); }, ThrowsMessage<Exception>(StrEq("Empty data is invalid")));
    EXPECT_THAT([&] { cipher.EncryptFirst(Bytes(8), 2, 5, kIv); },
                ThrowsMessage<Exception>(StrEq("Invalid padding kind 5, expected 0 to 3")));
    EXPECT_EQ(cipher.processCalls, 0);
}

TEST(BlockCipherChain, NextChecksEmptyDataAndAlignment) {
    ToyCipher cipher(kKey);
    cipher.EncryptFirst(Bytes(8), CIPHER_MODE_CBC, 0, kIv);
    EXPECT_THAT([&] { cipher.EncryptNext(Binary(), false); }, ThrowsMessage<Exception>(StrEq("Empty data is invalid")));
    EXPECT_THAT([&] { cipher.EncryptNext(Bytes(5), false); }, ThrowsMessage<Exception>(StrEq("Data must be aligned")));
    // Without padding even the last piece must be aligned in CBC.
    EXPECT_THAT([&] { cipher.EncryptNext(Bytes(5), true); }, ThrowsMessage<Exception>(StrEq("Data must be aligned")));
    cipher.DecryptFirst(Bytes(8), CIPHER_MODE_ECB, 1, kIv);
    EXPECT_THAT([&] { cipher.DecryptNext(Binary(), true); }, ThrowsMessage<Exception>(StrEq("Empty data is invalid")));
    EXPECT_THAT([&] { cipher.DecryptNext(Bytes(5), true); }, ThrowsMessage<Exception>(StrEq("Data must be aligned")));
}

TEST(BlockCipherChain, SixteenThenFiveBytesEqualsTheWholeMessage) {
    ToyCipher cipher(kKey);
    const Binary plain = Bytes(21);
    Binary chained = cipher.EncryptFirst(Slice(plain, 0, 16), CIPHER_MODE_CBC, 1, kIv);
    chained += cipher.EncryptNext(Slice(plain, 16, 5), true);
    EXPECT_EQ(chained.size(), 24u);
    EXPECT_EQ(chained, cipher.Encrypt(plain, CIPHER_MODE_CBC, 1, kIv));
}

// First + Next over pieces equals the whole message for every mode and
// padding, in both directions, when all pieces but the last are whole blocks.
void ExpectChainsEqualWholeMessages(BlockCipher& cipher) {
    const size_t b = cipher.GetBlockSize();
    const Binary iv = Bytes(b, 0xA5);
    const std::vector<std::vector<size_t>> splits = {{b, b, b, 3}, {2 * b, b}, {b, 2 * b, b - 1}, {3 * b, 1}};
    for (uint32_t mode = CIPHER_MODE_ECB; mode <= CIPHER_MODE_CFB; ++mode) {
        for (uint32_t padding = 0; padding <= 3; ++padding) {
            for (const auto& pieces : splits) {
                size_t total = 0;
                for (size_t piece : pieces) total += piece;
                if (total % b != 0 && padding == 0 && mode <= CIPHER_MODE_CBC) continue;
                const Binary plain = Bytes(total, 0x42);
                const Binary whole = cipher.Encrypt(plain, mode, padding, iv);

                Binary chained;
                size_t offset = 0;
                for (size_t i = 0; i < pieces.size(); ++i) {
                    const Binary piece = Slice(plain, static_cast<uint32_t>(offset), static_cast<uint32_t>(pieces[i]));
                    chained += i == 0 ? cipher.EncryptFirst(piece, mode, padding, iv)
                                      : cipher.EncryptNext(piece, i + 1 == pieces.size());
                    offset += pieces[i];
                }
                SCOPED_TRACE(cipher.GetName() + " mode " + std::to_string(mode) + " padding " +
                             std::to_string(padding) + " total " + std::to_string(total));
                EXPECT_EQ(chained, whole);
                if (padding == PADDING_GOST_ALIGN) continue;  // zero alignment cannot be removed

                const uint32_t head = static_cast<uint32_t>(b);
                Binary decrypted = cipher.DecryptFirst(Slice(whole, 0, head), mode, padding, iv);
                decrypted += cipher.DecryptNext(Slice(whole, head, static_cast<uint32_t>(whole.size()) - head), true);
                EXPECT_EQ(decrypted, plain);
                EXPECT_EQ(cipher.Decrypt(whole, mode, padding, iv), plain);
            }
        }
    }
}

TEST(BlockCipherChain, PiecesEqualTheWholeMessageForEveryModeAndPadding) {
    ToyCipher toy(kKey);
    ExpectChainsEqualWholeMessages(toy);
    DES des(Binary("0123456789ABCDEF"), 1, 0);
    ExpectChainsEqualWholeMessages(des);
    TriDES tdes(Binary("0123456789ABCDEF FEDCBA9876543210"), 1, 1);
    ExpectChainsEqualWholeMessages(tdes);
    for (size_t keyLength : {16u, 24u, 32u}) {
        AES aes(Bytes(keyLength, 0x07), 1, 0);
        ExpectChainsEqualWholeMessages(aes);
    }
}

TEST(BlockCipherChain, WholeMessageCallsLeaveTheChainAlone) {
    ToyCipher cipher(kKey);
    ToyCipher undisturbed(kKey);
    const Binary plain = Bytes(24);
    Binary expected = undisturbed.EncryptFirst(Slice(plain, 0, 8), CIPHER_MODE_CBC, 2, kIv);
    expected += undisturbed.EncryptNext(Slice(plain, 8, 16), true);

    Binary chained = cipher.EncryptFirst(Slice(plain, 0, 8), CIPHER_MODE_CBC, 2, kIv);
    Binary macIv;
    cipher.Encrypt(Bytes(9), CIPHER_MODE_OFB, 1, Binary());
    cipher.Decrypt(Bytes(16), CIPHER_MODE_ECB, 0, Binary());
    cipher.CalcCCS(Bytes(8), macIv);
    // A refused First must not replace the running chain either.
    EXPECT_THROW(cipher.EncryptFirst(Bytes(3), CIPHER_MODE_ECB, 0, Binary()), Exception);
    chained += cipher.EncryptNext(Slice(plain, 8, 16), true);
    EXPECT_EQ(chained, expected);
}

TEST(BlockCipherChain, CloneCarriesTheChainAndCanTakeANewKey) {
    ToyCipher cipher(kKey);
    const Binary plain = Bytes(16);
    const Binary first = cipher.EncryptFirst(Slice(plain, 0, 8), CIPHER_MODE_CBC, 0, kIv);
    std::unique_ptr<BlockCipher> copy = cipher.Clone(Binary());
    EXPECT_EQ(copy->EncryptNext(Slice(plain, 8, 8), true), cipher.EncryptNext(Slice(plain, 8, 8), true));
    const Binary otherKey("00 11 22 33 44 55 66 77");
    std::unique_ptr<BlockCipher> rekeyed = cipher.Clone(otherKey);
    EXPECT_EQ(rekeyed->GetKey(), otherKey);
    EXPECT_EQ(cipher.GetKey(), kKey);
}

// --- Checksum ------------------------------------------------------------

TEST(BlockCipherCalcCCS, IsTheLastCbcBlockOfThePaddedData) {
    ToyCipher cipher(kKey, 1);
    const Binary data = Bytes(11);
    // Independent CBC over the block operation.
    Binary expected = kIv;
    const Binary padded = data + Binary("80 00 00 00 00");
    for (size_t offset = 0; offset < padded.size(); offset += 8) {
        for (size_t i = 0; i < 8; ++i) expected[i] ^= padded[offset + i];
        cipher.EncryptBlock(expected.data());
    }
    Binary iv = kIv;
    EXPECT_EQ(cipher.CalcCCS(data, iv), expected);
    EXPECT_EQ(iv, expected);
}

TEST(BlockCipherCalcCCS, EmptyIvIsZerosAndTheIvContinuesTheChecksum) {
    ToyCipher cipher(kKey, 0);
    const Binary data = Bytes(16);
    Binary emptyIv;
    Binary zeroIv(8, 0);
    const Binary mac = cipher.CalcCCS(data, emptyIv);
    EXPECT_EQ(mac, cipher.CalcCCS(data, zeroIv));
    EXPECT_EQ(emptyIv, mac);
    // Two calls over halves equal one call over the whole (CCS padding 0).
    Binary running;
    cipher.CalcCCS(Slice(data, 0, 8), running);
    cipher.CalcCCS(Slice(data, 8, 8), running);
    EXPECT_EQ(running, mac);
}

TEST(BlockCipherCalcCCS, ReportsEachBadArgument) {
    ToyCipher cipher(kKey, 0);
    Binary iv;
    EXPECT_THAT([&] { cipher.CalcCCS(Binary(), iv); }, ThrowsMessage<Exception>(StrEq("Empty data is  invalid")));
    EXPECT_THAT([&] { cipher.CalcCCS(Bytes(12), iv); }, ThrowsMessage<Exception>(StrEq("Data must be aligned")));
    Binary shortIv("01 02 03 04");
    EXPECT_THAT([&] { cipher.CalcCCS(Bytes(8), shortIv); }, ThrowsMessage<Exception>(StrEq("Invalid iv size")));
    EXPECT_EQ(shortIv, Binary("01 02 03 04"));
    cipher.SetCCSPadding(6);
    EXPECT_EQ(cipher.GetCCSPadding(), 6u);
    EXPECT_THAT([&] { cipher.CalcCCS(Bytes(8), iv); },
                ThrowsMessage<Exception>(StrEq("Invalid padding kind 6, expected 0 to 3")));
    EXPECT_EQ(cipher.processCalls, 0);
}

TEST(BlockCipherCalcCCS, SettingsAreKept) {
    ToyCipher cipher(kKey, 2);
    EXPECT_EQ(cipher.GetCCSPadding(), 2u);
    EXPECT_EQ(cipher.GetCCSMode(), 0u);
    cipher.SetCCSMode(1);
    EXPECT_EQ(cipher.GetCCSMode(), 1u);
    EXPECT_EQ(cipher.GetBlockSize(), 8u);
}

}  // namespace
}  // namespace ZORVIK
