#include "service/cryptlib/sym/block_cipher.h"

#include <gtest/gtest.h>

#include <functional>

#include "service/common/exception.h"
#include "service/cryptlib/sym/aes.h"
#include "service/cryptlib/sym/des.h"
#include "service/cryptlib/sym/gost28147.h"
#include "service/cryptlib/sym/gost3412m.h"
#include "support/error_text.h"

namespace ZORVIK {
namespace {

using binary::Binary;

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

// The IV of a mode: half a block in CTR (mode 5), a block otherwise.
Binary IvFor(const BlockCipher& cipher, uint32_t mode) {
    return Bytes(cipher.GetBlockSize() / (mode == 5 ? 2 : 1), 0xA5);
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
    EXPECT_EQ(test::MessageOf([] { Pad(Binary(), 8, 1); }), "Empty data is invalid");
    Binary empty;
    EXPECT_EQ(test::MessageOf([&] { PadFast(empty, 8, 1); }), "Empty data is invalid");
    Binary data("01 02");
    EXPECT_EQ(test::MessageOf([&] { PadFast(data, 8, 4); }), "Invalid padding kind 4, expected 0 to 3");
    EXPECT_EQ(data, Binary("01 02"));
}

struct UnpadCase {
    const char* data;
    uint32_t kind;
    const char* unpadded;  // nullptr: refused with error, the data left as it was
    const char* error;
};

TEST(UnpadFast, CutsThePaddingOfEachKindOrRefusesLeavingTheData) {
    const UnpadCase cases[] = {
        {"11 22 80 00 00", 1, "11 22", nullptr},
        {"80", 1, "", nullptr},
        {"00 80", 1, "00", nullptr},
        {"11 22 33", 1, nullptr, "Неправильный формат выравнивания"},
        {"00 00 00", 1, nullptr, "Неправильный формат выравнивания"},
        {"11 81 00", 1, nullptr, "Неправильный формат выравнивания"},
        {"01 02 03 04 05 03 03 03", 2, "01 02 03 04 05", nullptr},
        {"01 02 77 02", 2, "01 02", nullptr},  // only the count byte is read
        {"02 02", 2, "", nullptr},
        {"01 02 00", 2, "01 02 00", nullptr},
        {"01 02 05", 2, nullptr, "Выход за границы массива"},
        {"01 80 00", 0, "01 80 00", nullptr},
        {"01 80 00", 3, nullptr, "GOST alignment can not be removed"},
        {"01 80 00", 9, nullptr, "Invalid padding kind 9, expected 0 to 3"},
        {"", 0, nullptr, "Empty data is invalid"},
    };
    for (const UnpadCase& c : cases) {
        SCOPED_TRACE(std::string(c.data) + " kind " + std::to_string(c.kind));
        Binary data(c.data);
        if (c.error != nullptr) {
            EXPECT_EQ(test::MessageOf([&] { UnpadFast(data, c.kind); }), c.error);
            EXPECT_EQ(data, Binary(c.data));
        } else {
            UnpadFast(data, c.kind);
            EXPECT_EQ(data, Binary(c.unpadded));
        }
    }
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
        EXPECT_EQ(test::MessageOf([&] { cipher.Encrypt(plain, mode, 0, kIv); }), "Data must be aligned");
        EXPECT_EQ(test::MessageOf([&] { cipher.Decrypt(plain, mode, 0, kIv); }), "Data must be aligned");
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
    EXPECT_EQ(test::MessageOf([&] { cipher.Encrypt(Binary(), 2, 1, kIv); }), "Empty data is invalid");
    EXPECT_EQ(test::MessageOf([&] { cipher.Decrypt(Binary(), 2, 1, kIv); }), "Empty data is invalid");
    EXPECT_EQ(test::MessageOf([&] { cipher.Encrypt(Bytes(8), 2, 4, kIv); }), "Invalid padding kind 4, expected 0 to 3");
    EXPECT_EQ(test::MessageOf([&] { cipher.Decrypt(Bytes(8), 2, 7, kIv); }), "Invalid padding kind 7, expected 0 to 3");
    EXPECT_EQ(cipher.processCalls, 0);
}

TEST(BlockCipherDecrypt, PaddingThreeFailsAfterDecrypting) {
    ToyCipher cipher(kKey);
    const Binary out = cipher.Encrypt(Bytes(5), CIPHER_MODE_CBC, 3, kIv);
    EXPECT_EQ(out.size(), 8u);
    const int before = cipher.processCalls;
    EXPECT_EQ(test::MessageOf([&] { cipher.Decrypt(out, CIPHER_MODE_CBC, 3, kIv); }),
              "GOST alignment can not be removed");
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
void ExpectChainsEqualWholeMessages(BlockCipher& cipher, uint32_t lastMode, bool wholeBlocksOnly = false) {
    const size_t b = cipher.GetBlockSize();
    const std::vector<std::vector<size_t>> splits = {{b, b, b, 3}, {2 * b, b}, {b, 2 * b, b - 1}, {3 * b, 1}};
    for (uint32_t mode = CIPHER_MODE_ECB; mode <= lastMode; ++mode) {
        const Binary iv = IvFor(cipher, mode);
        for (uint32_t padding = 0; padding <= 3; ++padding) {
            for (const auto& pieces : splits) {
                size_t total = 0;
                for (size_t piece : pieces) total += piece;
                if (total % b != 0 && padding == 0 && (mode <= CIPHER_MODE_CBC || wholeBlocksOnly)) continue;
                SCOPED_TRACE(cipher.GetName() + " mode " + std::to_string(mode) + " padding " +
                             std::to_string(padding) + " total " + std::to_string(total));
                const Binary plain = Bytes(total, 0x42);
                const Binary whole = cipher.Encrypt(plain, mode, padding, iv);

                Binary chained;
                size_t offset = 0;
                for (size_t i = 0; i < pieces.size(); ++i) {
                    const Binary piece = Slice(plain, static_cast<uint32_t>(offset), static_cast<uint32_t>(pieces[i]));
                    ASSERT_NO_THROW(chained += i == 0 ? cipher.EncryptFirst(piece, mode, padding, iv)
                                                      : cipher.EncryptNext(piece, i + 1 == pieces.size()));
                    offset += pieces[i];
                }
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

// --- Every real cipher ----------------------------------------------------

// The ciphers behind the base, each with its own key checks and messages.
struct RealCipher {
    const char* name;
    std::function<std::unique_ptr<BlockCipher>(const Binary& key)> make;
    Binary key;
    Binary otherKey;
    uint32_t lastMode;             // modes 1..lastMode exist
    bool firstAlignedInEveryMode;  // a chain starts on whole blocks in every mode, not only ECB
    const char* badKeyError;       // of Clone with a key of the wrong length
    const char* badIvError;        // of Process in CFB with a 4-byte IV; nullptr: not checked
    bool checksEnc;                // Process refuses enc = 2
};

const std::vector<RealCipher>& RealCiphers() {
    static const std::vector<RealCipher> ciphers = {
        {"DES", [](const Binary& k) { return std::make_unique<DES>(k, 1, 0); }, Binary("0123456789ABCDEF"),
         Binary("FEDCBA9876543210"), 4, true, "Invalid key", "Invalid iv size", true},
        {"TriDES", [](const Binary& k) { return std::make_unique<TriDES>(k, 1, 1); },
         Binary("0123456789ABCDEF FEDCBA9876543210"), Binary("FEDCBA9876543210 0123456789ABCDEF"), 4, true,
         "Invalid key", "Invalid iv size", true},
        {"AES", [](const Binary& k) { return std::make_unique<AES>(k, 1, 0); }, Bytes(16, 0x07), Bytes(16, 0x09), 4,
         true, "Wrong key length", "Invalid iv size", true},
        {"GOST28147", [](const Binary& k) { return std::make_unique<GOST28147>(k, 2u, 1, 0, 4); }, Bytes(32, 0x21),
         Bytes(32, 0x5A), 4, false, "Wrong key length.", "Invalid iv", true},
        {"GOST3412M", [](const Binary& k) { return std::make_unique<GOST3412M>(k, 8, 0, 1); }, Bytes(32, 0x33),
         Bytes(32, 0x44), 5, true, "Wrong key length.", nullptr, false},
    };
    return ciphers;
}

TEST(BlockCipherChain, PiecesEqualTheWholeMessageForEveryModeAndPadding) {
    ToyCipher toy(kKey);
    ExpectChainsEqualWholeMessages(toy, CIPHER_MODE_CFB);
    for (const RealCipher& c : RealCiphers()) {
        // Magma's chains take whole blocks unless the last piece is padded.
        ExpectChainsEqualWholeMessages(*c.make(c.key), c.lastMode, c.lastMode == 5);
    }
    for (size_t keyLength : {24u, 32u}) {
        AES aes(Bytes(keyLength, 0x07), 1, 0);
        ExpectChainsEqualWholeMessages(aes, CIPHER_MODE_CFB);
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

// A clone continues a running chain on its own (past the 1024 bytes where
// GOST 28147-89 meshes its key); a new key replaces the key in the clone only.
TEST(BlockCipherClone, CarriesTheChainInEveryModeAndCanTakeANewKey) {
    const Binary plain = Bytes(2048, 0x42);
    const Binary head = Slice(plain, 0, 1024), tail = Slice(plain, 1024, 1024);
    for (const RealCipher& c : RealCiphers()) {
        SCOPED_TRACE(c.name);
        auto cipher = c.make(c.key);
        for (uint32_t mode = CIPHER_MODE_ECB; mode <= c.lastMode; ++mode) {
            const Binary iv = IvFor(*cipher, mode);
            const Binary whole = cipher->Encrypt(plain, mode, 0, iv);
            EXPECT_EQ(cipher->EncryptFirst(head, mode, 0, iv), Slice(whole, 0, 1024)) << mode;
            std::unique_ptr<BlockCipher> copy = cipher->Clone(Binary());
            EXPECT_EQ(copy->EncryptNext(tail, true), Slice(whole, 1024, 1024)) << mode;
            EXPECT_EQ(cipher->EncryptNext(tail, true), Slice(whole, 1024, 1024)) << mode;
        }
        Binary macIv, copyMacIv;
        EXPECT_EQ(cipher->Clone(Binary())->CalcCCS(plain, copyMacIv), cipher->CalcCCS(plain, macIv));
        std::unique_ptr<BlockCipher> rekeyed = cipher->Clone(c.otherKey);
        EXPECT_EQ(rekeyed->GetKey(), c.otherKey);
        EXPECT_EQ(rekeyed->Encrypt(plain, CIPHER_MODE_CFB, 0, IvFor(*cipher, 4)),
                  c.make(c.otherKey)->Encrypt(plain, CIPHER_MODE_CFB, 0, IvFor(*cipher, 4)));
        EXPECT_EQ(cipher->GetKey(), c.key);
        EXPECT_EQ(test::MessageOf([&] { cipher->Clone(Binary(7, 1)); }), c.badKeyError);
    }
}

TEST(BlockCipherChain, RefusesEmptyAndPartialPiecesAndNextBeforeFirst) {
    std::vector<std::pair<std::unique_ptr<BlockCipher>, const RealCipher*>> ciphers;
    ciphers.emplace_back(std::make_unique<ToyCipher>(kKey), nullptr);
    for (const RealCipher& c : RealCiphers()) ciphers.emplace_back(c.make(c.key), &c);
    for (auto& [cipher, real] : ciphers) {
        SCOPED_TRACE(cipher->GetName());
        const uint32_t b = cipher->GetBlockSize(), lastMode = real ? real->lastMode : CIPHER_MODE_CFB;
        const Binary partial = Bytes(b + 4), iv = IvFor(*cipher, CIPHER_MODE_ECB);
        EXPECT_EQ(test::MessageOf([&] { cipher->EncryptNext(Bytes(b), true); }), "Chain not started");
        EXPECT_EQ(test::MessageOf([&] { cipher->DecryptNext(Bytes(b), true); }), "Chain not started");
        EXPECT_EQ(test::MessageOf([&] { cipher->EncryptFirst(Binary(), 2, 0, iv); }), "Empty data is invalid");
        EXPECT_EQ(test::MessageOf([&] { cipher->DecryptFirst(Binary(), 2, 0, iv); }), "Empty data is invalid");
        for (uint32_t mode = CIPHER_MODE_ECB; mode <= (!real || real->firstAlignedInEveryMode ? lastMode : 1); ++mode) {
            const Binary modeIv = IvFor(*cipher, mode);
            EXPECT_EQ(test::MessageOf([&] { cipher->EncryptFirst(partial, mode, 0, modeIv); }), "Data must be aligned");
            EXPECT_EQ(test::MessageOf([&] { cipher->DecryptFirst(partial, mode, 0, modeIv); }), "Data must be aligned");
        }
        cipher->EncryptFirst(Bytes(b), CIPHER_MODE_ECB, 0, iv);
        EXPECT_EQ(test::MessageOf([&] { cipher->EncryptNext(Binary(), false); }), "Empty data is invalid");
        EXPECT_EQ(test::MessageOf([&] { cipher->EncryptNext(partial, false); }), "Data must be aligned");
        // Without padding even the last piece must be aligned.
        EXPECT_EQ(test::MessageOf([&] { cipher->EncryptNext(partial, true); }), "Data must be aligned");
        cipher->DecryptFirst(Bytes(b), CIPHER_MODE_ECB, 1, iv);
        EXPECT_EQ(test::MessageOf([&] { cipher->DecryptNext(Binary(), true); }), "Empty data is invalid");
        EXPECT_EQ(test::MessageOf([&] { cipher->DecryptNext(partial, true); }), "Data must be aligned");
    }
    ToyCipher toy(kKey);
    EXPECT_EQ(test::MessageOf([&] { toy.EncryptFirst(Bytes(8), 2, 5, kIv); }),
              "Invalid padding kind 5, expected 0 to 3");
    EXPECT_EQ(toy.processCalls, 0);
}

TEST(BlockCipherProcess, RefusesBadArgumentsAndSkipsUnknownModesLeavingTheData) {
    for (const RealCipher& c : RealCiphers()) {
        SCOPED_TRACE(c.name);
        auto cipher = c.make(c.key);
        const uint32_t b = cipher->GetBlockSize();
        const Binary iv0 = Bytes(b, 0x77);
        Binary data = Bytes(2 * b), iv = iv0, emptyIv, partial = Bytes(b + 4), shortIv("01 02 03 04");
        if (c.checksEnc) {
            EXPECT_EQ(test::MessageOf([&] { cipher->Process(data, iv, CIPHER_MODE_CBC, 2); }), "Invalid enc");
            // A partial block would be left in the clear (ECB) or overrun (CBC).
            for (uint32_t mode : {CIPHER_MODE_ECB, CIPHER_MODE_CBC}) {
                EXPECT_EQ(test::MessageOf([&] { cipher->Process(partial, iv, mode, 1); }), "Data must be aligned");
            }
        }
        EXPECT_EQ(test::MessageOf([&] { cipher->Process(data, emptyIv, CIPHER_MODE_ECB, 1); }), "Invalid iv");
        if (c.badIvError) {
            EXPECT_EQ(test::MessageOf([&] { cipher->Process(data, shortIv, CIPHER_MODE_CFB, 1); }), c.badIvError);
        }
        for (uint32_t mode : {0u, c.lastMode + 1, 7u, 99u}) {
            EXPECT_NO_THROW(cipher->Process(data, iv, mode, 1));
        }
        Binary empty;
        cipher->Process(empty, iv, CIPHER_MODE_CBC, 1);
        EXPECT_TRUE(empty.empty());
        EXPECT_EQ(data, Bytes(2 * b));
        EXPECT_EQ(partial, Bytes(b + 4));
        EXPECT_EQ(iv, iv0);
        EXPECT_EQ(shortIv, Binary("01 02 03 04"));
    }
}

// Process leaves in the IV what continues the mode: the last cipher block (CBC
// and CFB, both ways), the last key-stream block (OFB), nothing in ECB.
TEST(BlockCipherProcess, PiecesContinueThroughTheIv) {
    for (const RealCipher& c : RealCiphers()) {
        if (std::string(c.name).rfind("GOST", 0) == 0) continue;  // their registers are tested with each
        SCOPED_TRACE(c.name);
        auto cipher = c.make(c.key);
        const uint32_t b = cipher->GetBlockSize();
        const Binary iv0 = Bytes(b, 0xA5), zeros(3 * b, 0);
        for (uint32_t mode = CIPHER_MODE_ECB; mode <= CIPHER_MODE_CFB; ++mode) {
            const Binary whole = cipher->Encrypt(zeros, mode, 0, iv0);
            const Binary ivAfter = mode == CIPHER_MODE_ECB ? iv0 : Back(whole, b);
            Binary first = Slice(zeros, 0, 2 * b), rest = Slice(zeros, 2 * b, b), iv = iv0;
            cipher->Process(first, iv, mode, 1);
            cipher->Process(rest, iv, mode, 1);
            EXPECT_EQ(first + rest, whole) << mode;
            EXPECT_EQ(iv, ivAfter) << mode;  // zero plain text: OFB gives out the key stream itself
            if (mode == CIPHER_MODE_OFB) continue;
            Binary back = whole;
            iv = iv0;
            cipher->Process(back, iv, mode, 0);
            EXPECT_EQ(back, zeros) << mode;
            EXPECT_EQ(iv, ivAfter) << mode;
        }
    }
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
    EXPECT_EQ(test::MessageOf([&] { cipher.CalcCCS(Binary(), iv); }), "Empty data is  invalid");
    EXPECT_EQ(test::MessageOf([&] { cipher.CalcCCS(Bytes(12), iv); }), "Data must be aligned");
    Binary shortIv("01 02 03 04");
    EXPECT_EQ(test::MessageOf([&] { cipher.CalcCCS(Bytes(8), shortIv); }), "Invalid iv size");
    EXPECT_EQ(shortIv, Binary("01 02 03 04"));
    cipher.SetCCSPadding(6);
    EXPECT_EQ(test::MessageOf([&] { cipher.CalcCCS(Bytes(8), iv); }), "Invalid padding kind 6, expected 0 to 3");
    EXPECT_EQ(cipher.processCalls, 0);
}

}  // namespace
}  // namespace ZORVIK
