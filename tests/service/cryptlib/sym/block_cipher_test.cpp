// What the block-cipher base promises over every cipher behind it: padding, the
// published vectors through Encrypt and Decrypt, chains, clones, the checksum and
// the refusals of bad arguments.
#include "service/cryptlib/sym/block_cipher.h"

#include <gtest/gtest.h>

#include "service/cryptlib/crypto_test_util.h"
#include "service/cryptlib/sym/aes.h"
#include "service/cryptlib/sym/des.h"
#include "service/cryptlib/sym/gost28147.h"
#include "service/cryptlib/sym/gost3412m.h"
#include "service/cryptlib/sym/gost_sbox.h"

namespace ZORVIK {
namespace {

using binary::Binary;
using test::TestVector;

Binary Bytes(size_t count, uint8_t first = 0x11) {
    Binary out(count);
    for (size_t i = 0; i < count; ++i) out[i] = static_cast<uint8_t>(first + 7 * i);
    return out;
}

// The IV of a mode: half a block in CTR (mode 5), a block otherwise.
Binary IvFor(const BlockCipher& cipher, uint32_t mode) {
    return Bytes(cipher.GetBlockSize() / (mode == CIPHER_MODE_CTR ? 2 : 1), 0xA5);
}

// --- Padding -------------------------------------------------------------

TEST(Pad, AppendsThePaddingOfEachKind) {
    const struct {
        const char* data;
        uint32_t blockSize, kind;
        const char* padded;
    } cases[] = {
        {"01 02 03 04 05 06 07 08", 8, 1, "01 02 03 04 05 06 07 08 80 00 00 00 00 00 00 00"},
        {"01 02 03 04 05 06 07", 8, 1, "01 02 03 04 05 06 07 80"},
        {"01 02 03 04 05", 8, 2, "01 02 03 04 05 03 03 03"},
        {"01 02 03 04 05 06 07 08", 8, 2, "01 02 03 04 05 06 07 08 08 08 08 08 08 08 08 08"},
        {"01 02 03 04 05 06 07 08", 8, 3, "01 02 03 04 05 06 07 08"},
        {"01 02 03 04 05", 8, 3, "01 02 03 04 05 00 00 00"},
        {"AA", 16, 1, "AA 80 00 00 00 00 00 00 00 00 00 00 00 00 00 00"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.data) + " kind " + std::to_string(c.kind));
        EXPECT_EQ(Pad(Binary(c.data), c.blockSize, c.kind), Binary(c.padded));
        Binary inPlace(c.data);
        PadFast(inPlace, c.blockSize, c.kind);
        EXPECT_EQ(inPlace, Binary(c.padded));
    }
}

TEST(UnpadFast, CutsThePaddingOfEachKindOrRefusesLeavingTheData) {
    const struct {
        const char* data;
        uint32_t kind;
        const char* unpadded;  // nullptr: refused with error, the data left as it was
        const char* error;
    } cases[] = {
        {"11 22 80 00 00", 1, "11 22", nullptr},
        {"80", 1, "", nullptr},
        {"11 22 33", 1, nullptr, "Неправильный формат выравнивания"},
        {"00 00 00", 1, nullptr, "Неправильный формат выравнивания"},
        {"01 02 03 04 05 03 03 03", 2, "01 02 03 04 05", nullptr},
        {"01 02 77 02", 2, "01 02", nullptr},  // only the count byte is read
        {"01 02 00", 2, "01 02 00", nullptr},
        {"01 02 05", 2, nullptr, "Выход за границы массива"},
        {"01 80 00", 0, "01 80 00", nullptr},
        {"01 80 00", 3, nullptr, "GOST alignment can not be removed"},
        {"01 80 00", 9, nullptr, "Invalid padding kind 9, expected 0 to 3"},
        {"", 0, nullptr, "Empty data is invalid"},
    };
    for (const auto& c : cases) {
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

// --- Published vectors ----------------------------------------------------

using MakeFromVector = std::function<std::unique_ptr<BlockCipher>(const TestVector&)>;

std::unique_ptr<BlockCipher> Gost89(const TestVector& v, uint32_t meshing = GOST28147::MESHING_NONE) {
    auto cipher = std::make_unique<GOST28147>(v.Bin("Key"), uint32_t(v.Number("SBox")), 0, 0, 4);
    cipher->SetMeshingMode(meshing);
    return cipher;
}

constexpr uint32_t Mac = 0xCC;  // a vector of CalcCCS, not of a mode

TEST(BlockCipher, PublishedVectorsThroughEncryptDecryptEncryptBlockAndCalcCCS) {
    const MakeFromVector aes = [](const TestVector& v) { return std::make_unique<AES>(v.Bin("Key"), 0, 0); };
    const MakeFromVector des = [](const TestVector& v) { return std::make_unique<DES>(v.Bin("Key"), 0, 0); };
    // The DES vectors hold for triple DES with K1 = K2.
    const MakeFromVector desAsTriDes = [](const TestVector& v) {
        return std::make_unique<TriDES>(v.Bin("Key") + v.Bin("Key"), 0, 0);
    };
    const MakeFromVector tdes = [](const TestVector& v) { return std::make_unique<TriDES>(v.Bin("Key"), 0, 0); };
    // ISO/IEC 9797-1 MAC algorithm 3 (the retail MAC; padding 3, zeros) is CCS mode 1 of TriDES.
    const MakeFromVector retail = [](const TestVector& v) { return std::make_unique<TriDES>(v.Bin("Key"), 3, 1); };
    const MakeFromVector gost = [](const TestVector& v) { return Gost89(v); };
    // CryptoPro key meshing (RFC 4357) over more than 1024 bytes.
    const MakeFromVector meshed = [](const TestVector& v) { return Gost89(v, GOST28147::MESHING_CRYPTOPRO); };
    const MakeFromVector magma = [](const TestVector& v) { return std::make_unique<GOST3412M>(v.Bin("Key"), 8, 0, 0); };
    const MakeFromVector magmaMac4 = [](const TestVector& v) {
        return std::make_unique<GOST3412M>(v.Bin("Key"), 4, 0, 0);
    };
    const struct {
        const char* file;
        const char* section;  // empty: every vector of the file
        MakeFromVector make;
        uint32_t mode;      // 0: the vector's Mode
        const char* input;  // the IV field (nullptr: none); of a Mac, the data field
        const char* output;
    } sources[] = {
        {"sym/aes_block.vec", "", aes, 1, nullptr, "Cipher"},
        {"sym/aes_modes.vec", "", aes, 0, "IV", "Cipher"},
        {"sym/des_kat.vec", "", des, 1, nullptr, "Cipher"},
        {"sym/des_kat.vec", "", desAsTriDes, 1, nullptr, "Cipher"},
        {"sym/des_modes.vec", "", des, 0, "IV", "Cipher"},
        {"sym/des_modes.vec", "", desAsTriDes, 0, "IV", "Cipher"},
        {"sym/tdes_cbc.vec", "", tdes, CIPHER_MODE_CBC, "IV", "Cipher"},
        {"sym/retail_mac.vec", "", retail, Mac, "Data", "MAC"},
        {"gost/gost28147.vec", "ECB", gost, 1, nullptr, "Cipher"},
        {"gost/gost28147.vec", "CFB", meshed, 4, "Iv", "Cipher"},
        {"gost/gost28147.vec", "Counter", meshed, 3, "Iv", "Cipher"},  // 3 is the counter mode
        {"gost/gost28147.vec", "MAC", gost, Mac, "Data", "Mac"},
        {"gost/gost3413_magma.vec", "Block", magma, 1, nullptr, "Cipher"},
        {"gost/gost3413_magma.vec", "Modes", magma, 1, nullptr, "Ecb"},
        {"gost/gost3413_magma.vec", "Modes", magma, 2, "CbcIv", "Cbc"},
        {"gost/gost3413_magma.vec", "Modes", magma, 3, "OfbIv", "Ofb"},
        {"gost/gost3413_magma.vec", "Modes", magma, 4, "CfbIv", "Cfb"},
        {"gost/gost3413_magma.vec", "Modes", magma, 5, "CtrIv", "Ctr"},
        {"gost/gost3413_magma.vec", "Modes", magmaMac4, Mac, "Plain", "Mac"},
    };
    for (const auto& source : sources) {
        for (const TestVector& v : test::LoadVectors(source.file)) {
            if (*source.section && v.Text("Section") != source.section) continue;
            auto cipher = source.make(v);
            SCOPED_TRACE(v.Where() + " " + cipher->GetName() + " " + source.output);
            const Binary expected = v.Bin(source.output);
            Binary iv = source.input && source.mode != Mac ? v.Bin(source.input) : Binary();
            if (source.mode == Mac) {
                EXPECT_EQ(cipher->CalcCCS(v.Bin(source.input), iv), expected);
                continue;
            }
            const uint32_t mode = source.mode ? source.mode : uint32_t(v.Number("Mode")), b = cipher->GetBlockSize();
            const Binary plain = v.Bin("Plain");
            EXPECT_EQ(cipher->Encrypt(plain, mode, 0, iv), expected);
            EXPECT_EQ(cipher->Decrypt(expected, mode, 0, iv), plain);
            if (mode != CIPHER_MODE_ECB) continue;
            Binary block = Slice(plain, 0, b);
            cipher->EncryptBlock(block.data());
            EXPECT_EQ(block, Slice(expected, 0, b));
            cipher->DecryptBlock(block.data());
            EXPECT_EQ(block, Slice(plain, 0, b));
        }
    }
}

// --- Every real cipher ----------------------------------------------------

struct RealCipher {
    const char* name;
    std::function<std::unique_ptr<BlockCipher>(const Binary& key)> make;
    Binary key, otherKey;
    uint32_t lastMode;             // modes 1..lastMode exist
    bool firstAlignedInEveryMode;  // a chain starts on whole blocks in every mode, not only ECB
    const char* badKeyError;       // of Clone with a key of the wrong length
    const char* badIvError;        // of Process in CFB with a 4-byte IV; nullptr: not checked
    const char* emptyDataError;    // of Encrypt and Decrypt
    bool checksEnc;                // Process refuses enc = 2 and partial blocks in ECB and CBC
};

const RealCipher RealCiphers[] = {
    {"DES", [](const Binary& k) { return std::make_unique<DES>(k, 1, 0); }, Binary("0123456789ABCDEF"),
     Binary("FEDCBA9876543210"), 4, true, "Invalid key", "Invalid iv size", "Empty data is invalid", true},
    {"TriDES", [](const Binary& k) { return std::make_unique<TriDES>(k, 1, 1); },
     Binary("0123456789ABCDEF FEDCBA9876543210"), Binary("FEDCBA9876543210 0123456789ABCDEF"), 4, true, "Invalid key",
     "Invalid iv size", "Empty data is invalid", true},
    {"AES", [](const Binary& k) { return std::make_unique<AES>(k, 1, 0); }, Bytes(16, 0x07), Bytes(16, 0x09), 4, true,
     "Wrong key length", "Invalid iv size", "Empty data is invalid", true},
    {"GOST28147", [](const Binary& k) { return std::make_unique<GOST28147>(k, 2u, 1, 0, 4); }, Bytes(32, 0x21),
     Bytes(32, 0x5A), 4, false, "Wrong key length.", "Invalid iv", "Invalid data len", true},
    {"GOST3412M", [](const Binary& k) { return std::make_unique<GOST3412M>(k, 8, 0, 1); }, Bytes(32, 0x33),
     Bytes(32, 0x44), 5, true, "Wrong key length.", nullptr, "Empty data is invalid", false},
};

// First + Next over pieces equals the whole message for every mode and padding, in
// both directions, when all pieces but the last are whole blocks (Magma's chains
// take whole blocks unless the last piece is padded); an empty IV is a zero block.
TEST(BlockCipherChain, PiecesEqualTheWholeMessageForEveryModeAndPadding) {
    for (const RealCipher& c : RealCiphers) {
        auto cipher = c.make(c.key);
        const size_t b = cipher->GetBlockSize();
        const std::vector<std::vector<size_t>> splits = {{b, b, b, 3}, {2 * b, b}, {b, 2 * b, b - 1}, {3 * b, 1}};
        for (uint32_t mode = CIPHER_MODE_ECB; mode <= c.lastMode; ++mode) {
            const Binary iv = IvFor(*cipher, mode);
            for (uint32_t padding = 0; padding <= 3; ++padding) {
                for (const auto& pieces : splits) {
                    size_t total = 0;
                    for (size_t piece : pieces) total += piece;
                    if (total % b != 0 && padding == 0 && (mode <= CIPHER_MODE_CBC || c.lastMode == 5)) continue;
                    SCOPED_TRACE(cipher->GetName() + " mode " + std::to_string(mode) + " padding " +
                                 std::to_string(padding) + " total " + std::to_string(total));
                    const Binary plain = Bytes(total, 0x42);
                    const Binary whole = cipher->Encrypt(plain, mode, padding, iv);
                    EXPECT_EQ(whole.size(), Pad(plain, uint32_t(b), padding).size());
                    Binary chained;
                    size_t offset = 0;
                    for (size_t i = 0; i < pieces.size(); ++i) {
                        const Binary piece = Slice(plain, uint32_t(offset), uint32_t(pieces[i]));
                        ASSERT_NO_THROW(chained += i == 0 ? cipher->EncryptFirst(piece, mode, padding, iv)
                                                          : cipher->EncryptNext(piece, i + 1 == pieces.size()));
                        offset += pieces[i];
                    }
                    EXPECT_EQ(chained, whole);
                    if (padding == PADDING_GOST_ALIGN) continue;  // zero alignment cannot be removed

                    Binary decrypted = cipher->DecryptFirst(Slice(whole, 0, uint32_t(b)), mode, padding, iv);
                    decrypted += cipher->DecryptNext(Slice(whole, uint32_t(b), uint32_t(whole.size() - b)), true);
                    EXPECT_EQ(decrypted, plain);
                    EXPECT_EQ(cipher->Decrypt(whole, mode, padding, iv), plain);
                }
            }
            if (mode == CIPHER_MODE_ECB || mode == CIPHER_MODE_CTR) continue;
            const Binary plain = Bytes(2 * b);
            EXPECT_EQ(cipher->Encrypt(plain, mode, 0, Binary()), cipher->Encrypt(plain, mode, 0, Binary(b, 0)));
        }
    }
}

// A clone continues a running chain on its own (past the 1024 bytes where
// GOST 28147-89 meshes its key); whole-message calls, the checksum, a refused First
// and Process with an unknown mode or no data leave the chain alone. A new key
// replaces the key in the clone only.
TEST(BlockCipherClone, CarriesTheChainInEveryModeAndCanTakeANewKey) {
    const Binary plain = Bytes(2048, 0x42);
    const Binary head = Slice(plain, 0, 1024), tail = Slice(plain, 1024, 1024);
    for (const RealCipher& c : RealCiphers) {
        SCOPED_TRACE(c.name);
        auto cipher = c.make(c.key);
        const uint32_t b = cipher->GetBlockSize();
        for (uint32_t mode = CIPHER_MODE_ECB; mode <= c.lastMode; ++mode) {
            const Binary iv = IvFor(*cipher, mode);
            const Binary whole = cipher->Encrypt(plain, mode, 0, iv);
            EXPECT_EQ(cipher->EncryptFirst(head, mode, 0, iv), Slice(whole, 0, 1024)) << mode;
            std::unique_ptr<BlockCipher> copy = cipher->Clone(Binary());
            EXPECT_EQ(copy->EncryptNext(tail, true), Slice(whole, 1024, 1024)) << mode;

            Binary macIv, data = Bytes(2 * b), processIv = Bytes(b, 0x77), empty;
            cipher->Encrypt(Bytes(b + 1), CIPHER_MODE_OFB, 1, Binary());
            cipher->Decrypt(Bytes(2 * b), CIPHER_MODE_ECB, 0, Binary());
            cipher->CalcCCS(Bytes(b), macIv);
            EXPECT_THROW(cipher->EncryptFirst(Bytes(3), CIPHER_MODE_ECB, 0, Binary()), Exception);
            for (uint32_t unknown : {0u, c.lastMode + 1, 99u}) cipher->Process(data, processIv, unknown, 1);
            cipher->Process(empty, processIv, CIPHER_MODE_CBC, 1);
            EXPECT_EQ(data + processIv + empty, Bytes(2 * b) + Bytes(b, 0x77));
            EXPECT_EQ(cipher->EncryptNext(tail, true), Slice(whole, 1024, 1024)) << mode;
        }
        Binary macIv, copyMacIv;
        EXPECT_EQ(cipher->Clone(Binary())->CalcCCS(plain, copyMacIv), cipher->CalcCCS(plain, macIv));
        std::unique_ptr<BlockCipher> rekeyed = cipher->Clone(c.otherKey);
        EXPECT_EQ(rekeyed->GetKey(), c.otherKey);
        EXPECT_EQ(rekeyed->GetKeyLength(), c.otherKey.size());
        EXPECT_EQ(rekeyed->Encrypt(plain, CIPHER_MODE_CFB, 0, IvFor(*cipher, 4)),
                  c.make(c.otherKey)->Encrypt(plain, CIPHER_MODE_CFB, 0, IvFor(*cipher, 4)));
        EXPECT_EQ(cipher->GetKey(), c.key);
    }
}

// --- Checksum ------------------------------------------------------------

const Binary K1("0123456789ABCDEF"), K2("FEDCBA9876543210");

// The checksum of the base (and of TriDES in CCS mode 0) is the last CBC block;
// every checksum leaves in the IV what continues it over a longer message (the
// retail MAC of TriDES and the imitovstavka of GOST 28147-89 too); an empty IV is
// a zero block.
TEST(BlockCipherCalcCCS, IsTheLastCbcBlockAndTheIvContinuesIt) {
    const struct {
        std::unique_ptr<BlockCipher> cipher;
        bool cbcMac;
    } rows[] = {{std::make_unique<DES>(K1, 0, 0), true},
                {std::make_unique<TriDES>(K1 + K2, 0, 0), true},
                {std::make_unique<AES>(Bytes(16, 0x07), 0, 0), true},
                {std::make_unique<TriDES>(K1 + K2, 0, 1), false},
                {std::make_unique<GOST28147>(Bytes(32, 0x21), 2u, 0, 0, 4), false}};
    for (const auto& [cipher, cbcMac] : rows) {
        SCOPED_TRACE(cipher->GetName());
        const uint32_t b = cipher->GetBlockSize();
        const Binary data = Bytes(4 * b);
        Binary whole, running, zeroIv(b, 0);
        const Binary mac = cipher->CalcCCS(data, whole);
        cipher->CalcCCS(Slice(data, 0, 2 * b), running);
        EXPECT_EQ(cipher->CalcCCS(Slice(data, 2 * b, 2 * b), running), mac);
        EXPECT_EQ(running, whole);
        EXPECT_EQ(cipher->CalcCCS(data, zeroIv), mac);
        if (!cbcMac) continue;
        EXPECT_EQ(mac, Back(cipher->Encrypt(data, CIPHER_MODE_CBC, 0, Binary()), b));
        EXPECT_EQ(whole, mac);
        EXPECT_EQ(cipher->GetCCSSize(), b);  // the users of these ciphers take the whole block
    }
}

// --- Refusals ------------------------------------------------------------

TEST(BlockCipher, RefusesBadArgumentsWithTheirMessages) {
    const Binary aesKey = Bytes(16, 0x07);
    uint8_t block[16] = {};
    DES des(K1, 0, 0);
    TriDES retail(K1 + K2, 0, 1);
    Binary emptyIv, shortIv("01020304");
    std::vector<test::Refusal> rows = {
        {[] { AES(Binary(20, 1), 0, 0); }, "Wrong key length"},
        {[&] { Des_EncryptBlock(nullptr, block); }, "Invalid key"},
        {[&] { TriDes_DecryptBlock(K1.data(), nullptr); }, "Invalid data"},
        {[&] { Aes_EncryptBlock(nullptr, 7, nullptr); }, "Key is not initialized"},
        {[&] { Aes_DecryptBlock(aesKey.data(), 7, nullptr); }, "Data is not initialized"},
        {[&] { Aes_EncryptBlock(aesKey.data(), 20, block); }, "Invalid key length"},
        // The checksum of the base (DES) and the retail MAC of TriDES check alike.
        {[&] { des.CalcCCS(Binary(), emptyIv); }, "Empty data is  invalid"},
        {[&] { des.CalcCCS(Bytes(12), emptyIv); }, "Data must be aligned"},
        {[&] { des.CalcCCS(Bytes(8), shortIv); }, "Invalid iv size"},
        {[&] { des.SetCCSPadding(6), des.CalcCCS(Bytes(8), emptyIv); }, "Invalid padding kind 6, expected 0 to 3"},
        {[&] { retail.CalcCCS(Binary(), emptyIv); }, "Empty data is  invalid"},
        {[&] { retail.CalcCCS(Bytes(9), emptyIv); }, "Data must be aligned"},
        {[&] { retail.CalcCCS(Bytes(8), shortIv); }, "Invalid iv size"},
        {[&] { retail.SetCCSPadding(5), retail.CalcCCS(Bytes(8), emptyIv); },
         "Invalid padding kind 5, expected 0 to 3"},
    };
    std::vector<std::unique_ptr<BlockCipher>> ciphers;
    for (const RealCipher& c : RealCiphers) {
        BlockCipher* cipher = ciphers.emplace_back(c.make(c.key)).get();
        const uint32_t b = cipher->GetBlockSize();
        const Binary whole = Bytes(b), partial = Bytes(b + 4), iv = IvFor(*cipher, CIPHER_MODE_ECB);
        const auto process = [=](Binary data, Binary processIv, uint32_t mode, uint32_t enc) {
            return [=]() mutable { cipher->Process(data, processIv, mode, enc); };
        };
        const auto next = [=](bool encrypt, const Binary& piece, bool last) -> std::function<void()> {
            if (encrypt) return [=] { cipher->EncryptFirst(whole, 1, 0, iv), cipher->EncryptNext(piece, last); };
            return [=] { cipher->DecryptFirst(whole, 1, 1, iv), cipher->DecryptNext(piece, last); };
        };
        rows.push_back({[=] { cipher->EncryptNext(whole, true); }, "Chain not started"});
        rows.push_back({[=] { cipher->DecryptNext(whole, true); }, "Chain not started"});
        rows.push_back({[=] { cipher->EncryptFirst(Binary(), 2, 0, iv); }, "Empty data is invalid"});
        // A chain starts on whole blocks even in a stream mode (GOST 28147-89: in ECB and CBC).
        const uint32_t stream = c.firstAlignedInEveryMode ? CIPHER_MODE_CFB : CIPHER_MODE_CBC;
        rows.push_back({[=] { cipher->EncryptFirst(partial, stream, 0, iv); }, "Data must be aligned"});
        rows.push_back({[=] { cipher->DecryptFirst(partial, stream, 0, iv); }, "Data must be aligned"});
        rows.push_back({next(true, Binary(), false), "Empty data is invalid"});
        rows.push_back({next(true, partial, true), "Data must be aligned"});  // no padding to fill it
        rows.push_back({next(false, partial, true), "Data must be aligned"});
        rows.push_back({[=] { cipher->Encrypt(Binary(), 2, 1, iv); }, c.emptyDataError});
        rows.push_back({[=] { cipher->Decrypt(Binary(), 2, 1, iv); }, c.emptyDataError});
        rows.push_back({[=] { cipher->Encrypt(partial, CIPHER_MODE_CBC, 0, iv); }, "Data must be aligned"});
        rows.push_back({[=] { cipher->Decrypt(partial, CIPHER_MODE_ECB, 0, iv); }, "Data must be aligned"});
        rows.push_back({[=] { cipher->Decrypt(whole, 2, 7, iv); }, "Invalid padding kind 7, expected 0 to 3"});
        rows.push_back({[=] { cipher->EncryptFirst(whole, 2, 5, iv); }, "Invalid padding kind 5, expected 0 to 3"});
        // Zero alignment cannot be told from data: refused after the decryption.
        rows.push_back({[=] { cipher->Decrypt(cipher->Encrypt(Bytes(5), 2, 3, iv), 2, 3, iv); },
                        "GOST alignment can not be removed"});
        rows.push_back({[=] { cipher->Clone(Binary(7, 1)); }, c.badKeyError});
        rows.push_back({process(whole, Binary(), CIPHER_MODE_ECB, 1), "Invalid iv"});
        if (c.badIvError) rows.push_back({process(whole, Binary("01020304"), CIPHER_MODE_CFB, 1), c.badIvError});
        if (!c.checksEnc) continue;
        rows.push_back({process(whole, iv, CIPHER_MODE_CBC, 2), "Invalid enc"});
        // A partial block would be left in the clear (ECB) or overrun (CBC).
        rows.push_back({process(partial, iv, CIPHER_MODE_ECB, 1), "Data must be aligned"});
        rows.push_back({process(partial, iv, CIPHER_MODE_CBC, 1), "Data must be aligned"});
    }
    test::ExpectRefusals(rows);
    EXPECT_EQ(shortIv, Binary("01020304"));
    EXPECT_TRUE(emptyIv.empty());
}

}  // namespace
}  // namespace ZORVIK
