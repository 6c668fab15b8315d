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

// A toy 8-byte permutation behind the base, with the four modes written out over
// its block operations (feedback position restarting at every call, as the real
// ciphers do). It counts Process calls, so that a test can tell whether the base
// refused an argument before it got that far.
class ToyCipher : public BlockCipher {
public:
    static constexpr uint32_t Block = 8;

    explicit ToyCipher(uint32_t ccsPadding = 1) : BlockCipher(ccsPadding, 0, Block) {}

    std::unique_ptr<BlockCipher> Clone(const Binary&) const override { return std::make_unique<ToyCipher>(*this); }
    void EncryptBlock(uint8_t* block) override {
        uint8_t mixed[Block];
        for (uint32_t i = 0; i < Block; ++i) {
            const uint8_t x = block[i] ^ m_key[i];
            mixed[(i + 1) % Block] = static_cast<uint8_t>(((x << 3) | (x >> 5)) + i);
        }
        std::copy(mixed, mixed + Block, block);
    }
    void DecryptBlock(uint8_t* block) override {
        uint8_t plain[Block];
        for (uint32_t i = 0; i < Block; ++i) {
            const uint8_t x = static_cast<uint8_t>(block[(i + 1) % Block] - i);
            plain[i] = static_cast<uint8_t>(((x >> 3) | (x << 5)) ^ m_key[i]);
        }
        std::copy(plain, plain + Block, block);
    }
    uint32_t GetKeyLength() const override { return Block; }
    uint32_t GetMaxKeyLength() const override { return Block; }
    uint32_t GetCCSSize() const override { return 4; }
    Binary GetKey() const override { return m_key; }
    std::string GetName() const override { return "Toy"; }

    void Process(Binary& data, Binary& iv, uint32_t mode, uint32_t enc) override {
        ++processCalls;
        for (size_t offset = 0; offset < data.size(); offset += Block) {
            const size_t n = std::min<size_t>(Block, data.size() - offset);
            uint8_t* p = data.data() + offset;
            if (mode == CIPHER_MODE_ECB) {
                enc ? EncryptBlock(p) : DecryptBlock(p);
            } else if (mode == CIPHER_MODE_CBC && enc) {
                for (size_t i = 0; i < Block; ++i) p[i] ^= iv[i];
                EncryptBlock(p);
                std::copy(p, p + Block, iv.begin());
            } else if (mode == CIPHER_MODE_CBC) {
                const Binary cipherBlock(p, p + Block);
                DecryptBlock(p);
                for (size_t i = 0; i < Block; ++i) p[i] ^= iv[i];
                iv = cipherBlock;
            } else if (mode == CIPHER_MODE_OFB || mode == CIPHER_MODE_CFB) {
                EncryptBlock(iv.data());
                for (size_t i = 0; i < n; ++i) {
                    const uint8_t in = p[i];
                    p[i] ^= iv[i];
                    if (mode == CIPHER_MODE_CFB) iv[i] = enc ? p[i] : in;
                }
            }
        }
    }

    int processCalls = 0;

private:
    Binary m_key{"01 23 45 67 89 AB CD EF"};
};

// --- Padding -------------------------------------------------------------

TEST(Pad, AppendsThePaddingOfEachKind) {
    const struct {
        const char* data;
        uint32_t blockSize, kind;
        const char* padded;
    } cases[] = {
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
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.data) + " kind " + std::to_string(c.kind));
        EXPECT_EQ(Pad(Binary(c.data), c.blockSize, c.kind), Binary(c.padded));
        Binary inPlace(c.data);
        PadFast(inPlace, c.blockSize, c.kind);
        EXPECT_EQ(inPlace, Binary(c.padded));
    }
    Binary empty, data("01 02");
    test::ExpectRefusals({{[] { Pad(Binary(), 8, 1); }, "Empty data is invalid"},
                          {[&] { PadFast(empty, 8, 1); }, "Empty data is invalid"},
                          {[&] { PadFast(data, 8, 4); }, "Invalid padding kind 4, expected 0 to 3"}});
    EXPECT_EQ(data, Binary("01 02"));
    EXPECT_TRUE(empty.empty());
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

// --- The base over a toy cipher --------------------------------------------

TEST(BlockCipherBase, PaddingOneOnAlignedDataAddsAWholeBlock) {
    ToyCipher cipher;
    const Binary plain = Bytes(8);
    Binary first = plain, second("80 00 00 00 00 00 00 00");
    cipher.EncryptBlock(first.data());
    cipher.EncryptBlock(second.data());
    EXPECT_EQ(cipher.Encrypt(plain, CIPHER_MODE_ECB, 1, Binary()), first + second);
}

// What Encrypt enciphers and a chain's last piece adds, byte for byte, for each kind.
TEST(BlockCipherBase, EncryptPadsWithTheBytesOfEachKind) {
    const struct {
        const char* data;
        uint32_t kind;
        const char* padded;
    } cases[] = {
        {"01 02 03 04 05 06 07 08", 0, "01 02 03 04 05 06 07 08"},
        {"01 02 03 04 05", 1, "01 02 03 04 05 80 00 00"},
        {"01 02 03 04 05 06 07 08", 1, "01 02 03 04 05 06 07 08 80 00 00 00 00 00 00 00"},
        {"01 02 03 04 05", 2, "01 02 03 04 05 03 03 03"},
        {"01 02 03 04 05 06 07 08", 2, "01 02 03 04 05 06 07 08 08 08 08 08 08 08 08 08"},
        {"01 02 03 04 05", 3, "01 02 03 04 05 00 00 00"},
        {"01 02 03 04 05 06 07 08", 3, "01 02 03 04 05 06 07 08"},
    };
    ToyCipher cipher;
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.data) + " kind " + std::to_string(c.kind));
        const Binary data(c.data), head = Bytes(8);
        EXPECT_EQ(cipher.Decrypt(cipher.Encrypt(data, CIPHER_MODE_ECB, c.kind, Binary()), CIPHER_MODE_ECB, 0, Binary()),
                  Binary(c.padded));
        Binary chained = cipher.EncryptFirst(head, CIPHER_MODE_ECB, c.kind, Binary());
        chained += cipher.EncryptNext(data, true);
        EXPECT_EQ(cipher.Decrypt(chained, CIPHER_MODE_ECB, 0, Binary()), head + Binary(c.padded));
    }
}

// Nothing reaches Process when an argument is refused, and a refused First leaves
// the running chain as it was.
TEST(BlockCipherBase, RefusesBeforeProcessLeavingTheChain) {
    ToyCipher cipher(0);
    const Binary plain = Bytes(24), iv = Bytes(8, 0xA5);
    Binary chained = cipher.EncryptFirst(Slice(plain, 0, 8), CIPHER_MODE_CBC, 2, iv);
    const int calls = cipher.processCalls;
    Binary emptyIv, shortIv("01 02 03 04");
    std::vector<test::Refusal> rows;
    for (uint32_t mode : {CIPHER_MODE_ECB, CIPHER_MODE_CBC}) {
        rows.push_back({[&, mode] { cipher.Encrypt(Bytes(12), mode, 0, iv); }, "Data must be aligned"});
        rows.push_back({[&, mode] { cipher.Decrypt(Bytes(12), mode, 0, iv); }, "Data must be aligned"});
    }
    for (uint32_t mode = CIPHER_MODE_ECB; mode <= CIPHER_MODE_CFB; ++mode) {
        rows.push_back({[&, mode] { cipher.EncryptFirst(Bytes(12), mode, 0, iv); }, "Data must be aligned"});
        rows.push_back({[&, mode] { cipher.DecryptFirst(Bytes(12), mode, 0, iv); }, "Data must be aligned"});
    }
    const std::vector<test::Refusal> more = {
        {[&] { cipher.Encrypt(Binary(), 2, 1, iv); }, "Empty data is invalid"},
        {[&] { cipher.Decrypt(Binary(), 2, 1, iv); }, "Empty data is invalid"},
        {[&] { cipher.Encrypt(Bytes(8), 2, 4, iv); }, "Invalid padding kind 4, expected 0 to 3"},
        {[&] { cipher.Decrypt(Bytes(8), 2, 7, iv); }, "Invalid padding kind 7, expected 0 to 3"},
        {[&] { cipher.EncryptFirst(Bytes(8), 2, 5, iv); }, "Invalid padding kind 5, expected 0 to 3"},
        {[&] { cipher.DecryptFirst(Bytes(8), 2, 4, iv); }, "Invalid padding kind 4, expected 0 to 3"},
        {[&] { cipher.EncryptFirst(Binary(), 2, 0, iv); }, "Empty data is invalid"},
        {[&] { cipher.DecryptFirst(Binary(), 2, 0, iv); }, "Empty data is invalid"},
        {[&] { cipher.CalcCCS(Binary(), emptyIv); }, "Empty data is  invalid"},
        {[&] { cipher.CalcCCS(Bytes(12), emptyIv); }, "Data must be aligned"},
        {[&] { cipher.CalcCCS(Bytes(8), shortIv); }, "Invalid iv size"},
        {[&] { cipher.SetCCSPadding(6), cipher.CalcCCS(Bytes(8), emptyIv); },
         "Invalid padding kind 6, expected 0 to 3"},
    };
    rows.insert(rows.end(), more.begin(), more.end());
    test::ExpectRefusals(rows);
    EXPECT_EQ(cipher.processCalls, calls);
    EXPECT_TRUE(emptyIv.empty());
    EXPECT_EQ(shortIv, Binary("01 02 03 04"));
    chained += cipher.EncryptNext(Slice(plain, 8, 16), true);
    EXPECT_EQ(chained, cipher.Encrypt(plain, CIPHER_MODE_CBC, 2, iv));
}

TEST(BlockCipherBase, PaddingThreeFailsAfterDecrypting) {
    ToyCipher cipher;
    const Binary iv = Bytes(8, 0xA5), out = cipher.Encrypt(Bytes(5), CIPHER_MODE_CBC, 3, iv);
    EXPECT_EQ(out.size(), 8u);
    const int before = cipher.processCalls;
    EXPECT_EQ(test::MessageOf([&] { cipher.Decrypt(out, CIPHER_MODE_CBC, 3, iv); }),
              "GOST alignment can not be removed");
    EXPECT_EQ(cipher.processCalls, before + 1);
}

// --- Published vectors ----------------------------------------------------

using MakeFromVector = std::function<std::unique_ptr<BlockCipher>(const TestVector&)>;

std::unique_ptr<BlockCipher> Gost89(const TestVector& v, uint32_t meshing = GOST28147::MESHING_NONE) {
    auto cipher = std::make_unique<GOST28147>(v.Bin("Key"), uint32_t(v.Number("SBox")), 0, 0, 4);
    cipher->SetMeshingMode(meshing);
    return cipher;
}

constexpr uint32_t Mac = 0xCC;  // a vector of CalcCCS, not of a mode

Binary Xor(const Binary& a, const Binary& b) {
    Binary out(a.size());
    for (size_t i = 0; i < a.size(); ++i) out[i] = a[i] ^ b[i];
    return out;
}

// Process in both directions leaves in the IV what continues the mode: nothing
// changes in ECB and CTR, CBC and CFB leave the last cipher blocks of the
// register's length, OFB the last key-stream blocks (checked on whole blocks).
// The counter mode of GOST 28147-89 leaves its register, which has a test of its own.
void ExpectProcessGivesTheVector(BlockCipher& cipher, uint32_t mode, const Binary& iv, const Binary& plain,
                                 const Binary& expected) {
    const Binary start = iv.empty() ? Binary(cipher.GetBlockSize(), 0) : iv;
    const uint32_t m = uint32_t(start.size());
    const bool registerOfItsOwn = (cipher.GetName() == "GOST28147" && mode == CIPHER_MODE_OFB) ||
                                  plain.size() % cipher.GetBlockSize() != 0 || plain.size() < m;
    Binary ivAfter = start;
    if (!registerOfItsOwn && (mode == CIPHER_MODE_CBC || mode == CIPHER_MODE_CFB)) ivAfter = Back(expected, m);
    if (!registerOfItsOwn && mode == CIPHER_MODE_OFB) ivAfter = Back(Xor(expected, plain), m);
    for (uint32_t enc : {1u, 0u}) {
        Binary data = enc ? plain : expected, running = start;
        cipher.Process(data, running, mode, enc);
        EXPECT_EQ(data, enc ? expected : plain) << "Process enc " << enc;
        if (!registerOfItsOwn) {
            EXPECT_EQ(running, ivAfter) << "IV after Process enc " << enc;
        }
    }
}

// First over one block, Next over the rest, in both directions; twice, so that
// nothing of a finished chain leaks into the next one.
void ExpectChainGivesTheVector(BlockCipher& cipher, uint32_t mode, const Binary& iv, const Binary& plain,
                               const Binary& expected) {
    const uint32_t b = cipher.GetBlockSize(), rest = uint32_t(plain.size()) - b;
    for (int round = 0; round < 2; ++round) {
        Binary chained = cipher.EncryptFirst(Slice(plain, 0, b), mode, 0, iv);
        chained += cipher.EncryptNext(Slice(plain, b, rest), true);
        EXPECT_EQ(chained, expected) << "chain " << round;
        Binary back = cipher.DecryptFirst(Slice(expected, 0, b), mode, 0, iv);
        back += cipher.DecryptNext(Slice(expected, b, rest), true);
        EXPECT_EQ(back, plain) << "chain " << round;
    }
}

TEST(BlockCipher, PublishedVectorsThroughEncryptDecryptEncryptBlockAndCalcCCS) {
    const MakeFromVector aes = [](const TestVector& v) { return std::make_unique<AES>(v.Bin("Key"), 0, 0); };
    const MakeFromVector des = [](const TestVector& v) { return std::make_unique<DES>(v.Bin("Key"), 0, 0); };
    // The DES vectors hold for triple DES with K1 = K2.
    const MakeFromVector desAsTriDes = [](const TestVector& v) {
        return std::make_unique<TriDES>(v.Bin("Key") + v.Bin("Key"), 0, 0);
    };
    // Two different halves: triple DES runs K1, K2, K1.
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
        size_t longest = 0;  // vectors longer than this are left out; 0: none
    } sources[] = {
        {"sym/aes_block.vec", "", aes, 1, nullptr, "Cipher"},
        {"sym/aes_modes.vec", "", aes, 0, "IV", "Cipher"},
        {"sym/des_kat.vec", "", des, 1, nullptr, "Cipher"},
        {"sym/des_kat.vec", "", desAsTriDes, 1, nullptr, "Cipher"},
        {"sym/des_modes.vec", "", des, 0, "IV", "Cipher"},
        {"sym/des_modes.vec", "", desAsTriDes, 0, "IV", "Cipher"},
        {"sym/tdes_cbc.vec", "", tdes, CIPHER_MODE_CBC, "IV", "Cipher"},
        {"sym/tdes_modes.vec", "", tdes, 0, "IV", "Cipher"},
        {"sym/retail_mac.vec", "", retail, Mac, "Data", "MAC"},
        {"gost/gost28147.vec", "ECB", gost, 1, nullptr, "Cipher"},
        {"gost/gost28147.vec", "CFB", meshed, 4, "Iv", "Cipher"},
        {"gost/gost28147.vec", "Counter", meshed, 3, "Iv", "Cipher"},  // 3 is the counter mode
        // Below the first meshing point meshing changes nothing.
        {"gost/gost28147.vec", "CFB", gost, 4, "Iv", "Cipher", 1024},
        {"gost/gost28147.vec", "Counter", gost, 3, "Iv", "Cipher", 1024},
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
            if (source.longest != 0 && v.Bin("Plain").size() > source.longest) continue;
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
            // Process and the chains run without key meshing.
            if (plain.size() <= 1024) ExpectProcessGivesTheVector(*cipher, mode, iv, plain, expected);
            if (plain.size() <= 1024 && plain.size() > b) ExpectChainGivesTheVector(*cipher, mode, iv, plain, expected);
            if (mode != CIPHER_MODE_ECB) continue;
            Binary block = Slice(plain, 0, b);
            cipher->EncryptBlock(block.data());
            EXPECT_EQ(block, Slice(expected, 0, b));
            cipher->DecryptBlock(block.data());
            EXPECT_EQ(block, Slice(plain, 0, b));
        }
    }
}

// The free block functions over a raw key, on the single-block vectors; triple DES
// with two different halves on the ECB blocks of NIST CAVP.
TEST(BlockCipher, FreeBlockFunctionsGiveThePublishedBlocks) {
    using BlockFn = std::function<void(const Binary& key, uint8_t* block)>;
    const BlockFn desEncrypt = [](const Binary& k, uint8_t* b) { Des_EncryptBlock(k.data(), b); };
    const BlockFn desDecrypt = [](const Binary& k, uint8_t* b) { Des_DecryptBlock(k.data(), b); };
    const BlockFn tdesEncrypt = [](const Binary& k, uint8_t* b) { TriDes_EncryptBlock(k.data(), b); };
    const BlockFn tdesDecrypt = [](const Binary& k, uint8_t* b) { TriDes_DecryptBlock(k.data(), b); };
    const BlockFn aesEncrypt = [](const Binary& k, uint8_t* b) { Aes_EncryptBlock(k.data(), uint32_t(k.size()), b); };
    const BlockFn aesDecrypt = [](const Binary& k, uint8_t* b) { Aes_DecryptBlock(k.data(), uint32_t(k.size()), b); };
    const struct {
        const char* file;
        bool doubleTheKey;  // the DES vectors hold for triple DES with K1 = K2
        BlockFn encrypt, decrypt;
        uint32_t block;
    } sources[] = {
        {"sym/des_kat.vec", false, desEncrypt, desDecrypt, 8},
        {"sym/des_kat.vec", true, tdesEncrypt, tdesDecrypt, 8},
        {"sym/tdes_modes.vec", false, tdesEncrypt, tdesDecrypt, 8},
        {"sym/aes_block.vec", false, aesEncrypt, aesDecrypt, 16},
    };
    for (const auto& source : sources) {
        for (const TestVector& v : test::LoadVectors(source.file)) {
            if (v.Has("Mode") && v.Number("Mode") != CIPHER_MODE_ECB) continue;
            SCOPED_TRACE(v.Where());
            const Binary key = source.doubleTheKey ? v.Bin("Key") + v.Bin("Key") : v.Bin("Key");
            const Binary plain = v.Bin("Plain"), cipherText = v.Bin("Cipher");
            for (uint32_t at = 0; at < plain.size(); at += source.block) {
                Binary block = Slice(plain, at, source.block);
                source.encrypt(key, block.data());
                EXPECT_EQ(block, Slice(cipherText, at, source.block));
                source.decrypt(key, block.data());
                EXPECT_EQ(block, Slice(plain, at, source.block));
            }
        }
    }
    for (const TestVector& v : test::LoadVectors("sym/aes_block.vec"))
        EXPECT_EQ(AES(v.Bin("Key"), 0, 0).GetKeyLength(), v.Bin("Key").size());
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
    {"AES-192", [](const Binary& k) { return std::make_unique<AES>(k, 1, 0); }, Bytes(24, 0x07), Bytes(24, 0x09), 4,
     true, "Wrong key length", "Invalid iv size", "Empty data is invalid", true},
    {"AES-256", [](const Binary& k) { return std::make_unique<AES>(k, 1, 0); }, Bytes(32, 0x07), Bytes(32, 0x09), 4,
     true, "Wrong key length", "Invalid iv size", "Empty data is invalid", true},
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
            // Refused by Process, after the base's own checks.
            EXPECT_THROW(cipher->EncryptFirst(Bytes(b), CIPHER_MODE_CBC, 0, Bytes(b / 2)), Exception);
            for (uint32_t unknown : {0u, c.lastMode + 1, 7u, 99u}) cipher->Process(data, processIv, unknown, 1);
            cipher->Process(empty, processIv, CIPHER_MODE_CBC, 1);
            // Refused calls leave data and IV as they were.
            Binary shortIv("01020304");
            Binary partial = Bytes(b + 4);
            if (c.checksEnc) {
                EXPECT_THROW(cipher->Process(data, processIv, CIPHER_MODE_CBC, 2), Exception);
                EXPECT_THROW(cipher->Process(data, shortIv, CIPHER_MODE_CBC, 1), Exception);
                EXPECT_THROW(cipher->Process(partial, processIv, CIPHER_MODE_ECB, 1), Exception);
                EXPECT_THROW(cipher->Process(partial, processIv, CIPHER_MODE_CBC, 0), Exception);
            }
            EXPECT_EQ(partial, Bytes(b + 4));
            EXPECT_EQ(shortIv, Binary("01020304"));
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

// Process leaves in the IV what continues the mode: two calls over the pieces of a
// message equal one call over the whole, in both directions (the registers of the
// GOST ciphers are checked with their published vectors).
TEST(BlockCipherProcess, PiecesContinueThroughTheIv) {
    for (const RealCipher& c : RealCiphers) {
        if (std::string(c.name).rfind("GOST", 0) == 0) continue;
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
            Binary back = Slice(whole, 0, b), backRest = Slice(whole, b, 2 * b);
            iv = iv0;
            cipher->Process(back, iv, mode, 0);
            cipher->Process(backRest, iv, mode, 0);
            EXPECT_EQ(back + backRest, zeros) << mode;
            EXPECT_EQ(iv, ivAfter) << mode;
        }
        // CFB undoes itself and OFB is its own inverse over partial blocks too.
        for (uint32_t length : {1u, b - 1, b + 1, 2 * b + 3}) {
            for (uint32_t mode : {CIPHER_MODE_OFB, CIPHER_MODE_CFB}) {
                Binary data = Bytes(length), iv = iv0;
                cipher->Process(data, iv, mode, 1);
                EXPECT_NE(data, Bytes(length));
                iv = iv0;
                cipher->Process(data, iv, mode, 0);
                EXPECT_EQ(data, Bytes(length)) << mode << " " << length;
            }
        }
    }
}

// ECB over a long buffer agrees with the one-block path everywhere.
TEST(BlockCipherProcess, LongBuffersAgreeWithTheBlockFunction) {
    for (const RealCipher& c : RealCiphers) {
        SCOPED_TRACE(c.name);
        auto cipher = c.make(c.key);
        const uint32_t b = cipher->GetBlockSize();
        const Binary plain = test::PseudoRandomMessage((1u << 16) + b, 5);
        Binary data = plain, iv = IvFor(*cipher, CIPHER_MODE_ECB);
        cipher->Process(data, iv, CIPHER_MODE_ECB, 1);
        for (size_t offset : {size_t{0}, size_t{1} << 15, plain.size() - b}) {
            Binary block = Slice(plain, uint32_t(offset), b);
            cipher->EncryptBlock(block.data());
            EXPECT_EQ(Slice(data, uint32_t(offset), b), block) << offset;
        }
    }
}

// --- Checksum ------------------------------------------------------------

// The base's checksum over the padded data, against CBC written out here over the
// block operation.
TEST(BlockCipherCalcCCS, IsTheLastCbcBlockOfThePaddedData) {
    ToyCipher cipher(1);
    const Binary data = Bytes(11), start = Bytes(8, 0xA5);
    Binary expected = start;
    const Binary padded = data + Binary("80 00 00 00 00");
    for (size_t offset = 0; offset < padded.size(); offset += 8) {
        for (size_t i = 0; i < 8; ++i) expected[i] ^= padded[offset + i];
        cipher.EncryptBlock(expected.data());
    }
    Binary iv = start;
    EXPECT_EQ(cipher.CalcCCS(data, iv), expected);
    EXPECT_EQ(iv, expected);
}

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

// ISO/IEC 9797-1 MAC algorithm 3 with padding method 2: E_K1(D_K2(Y)) of the
// single-DES CBC-MAC Y under K1, which stays in the IV; with CCS mode 0 the
// checksum is the last triple-DES CBC block.
TEST(BlockCipherCalcCCS, RetailMacLeavesTheSingleDesChainInTheIv) {
    const Binary data = Bytes(8), start("1234567890ABCDEF");
    TriDES retail(K1 + K2, PADDING_ISO9797_M2, 1), full(K1 + K2, PADDING_ISO9797_M2, 0);
    Binary iv = start, y = start;
    const Binary mac = retail.CalcCCS(data, iv);
    DES(K1, PADDING_ISO9797_M2, 0).CalcCCS(data, y);
    EXPECT_EQ(iv, y);
    Binary expected = y;
    Des_DecryptBlock(K2.data(), expected.data());
    Des_EncryptBlock(K1.data(), expected.data());
    EXPECT_EQ(mac, expected);

    iv = start;
    const Binary encrypted = full.Encrypt(data, CIPHER_MODE_CBC, PADDING_ISO9797_M2, start);
    ASSERT_EQ(encrypted.size(), 16u);
    EXPECT_EQ(full.CalcCCS(data, iv), Back(encrypted, 8));
    EXPECT_EQ(iv, Back(encrypted, 8));
}

// --- Refusals ------------------------------------------------------------

TEST(BlockCipher, RefusesBadArgumentsWithTheirMessages) {
    const Binary aesKey = Bytes(16, 0x07);
    uint8_t block[16] = {};
    DES des(K1, 0, 0);
    TriDES retail(K1 + K2, 0, 1);
    AES aes(aesKey, 0, 0);
    Binary emptyIv, shortIv("01020304"), eightByteIv(8, 0);
    std::vector<test::Refusal> rows = {
        {[] { AES(Binary(20, 1), 0, 0); }, "Wrong key length"},
        {[] { AES(Binary(), 0, 0); }, "Wrong key length"},
        {[] { AES(Binary(15, 1), 0, 0); }, "Wrong key length"},
        {[] { AES(Binary(33, 1), 0, 0); }, "Wrong key length"},
        {[] { DES(Binary(16, 1), 0, 0); }, "Invalid key"},
        {[] { DES(Binary(), 0, 0); }, "Invalid key"},
        {[] { TriDES(Binary(8, 1), 0, 0); }, "Invalid key"},
        {[] { TriDES(Binary(24, 1), 0, 0); }, "Invalid key"},
        {[&] { Des_EncryptBlock(nullptr, block); }, "Invalid key"},
        {[&] { Des_DecryptBlock(K1.data(), nullptr); }, "Invalid data"},
        {[&] { TriDes_EncryptBlock(nullptr, block); }, "Invalid key"},
        {[&] { TriDes_DecryptBlock(K1.data(), nullptr); }, "Invalid data"},
        {[&] { Aes_EncryptBlock(nullptr, 7, nullptr); }, "Key is not initialized"},
        {[&] { Aes_DecryptBlock(aesKey.data(), 7, nullptr); }, "Data is not initialized"},
        {[&] { Aes_EncryptBlock(aesKey.data(), 20, block); }, "Invalid key length"},
        {[&] { Aes_DecryptBlock(aesKey.data(), 8, block); }, "Invalid key length"},
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
        {[&] { aes.CalcCCS(Bytes(16), shortIv); }, "Invalid iv size"},
        {[&] { aes.CalcCCS(Bytes(16), eightByteIv); }, "Invalid iv size"},
    };
    std::vector<std::unique_ptr<BlockCipher>> ciphers;
    for (const RealCipher& c : RealCiphers) {
        BlockCipher* cipher = ciphers.emplace_back(c.make(c.key)).get();
        const uint32_t b = cipher->GetBlockSize();
        const Binary whole = Bytes(b), partial = Bytes(b + 4), iv = IvFor(*cipher, CIPHER_MODE_ECB);
        const auto process = [=](Binary data, Binary processIv, uint32_t mode, uint32_t enc) {
            return [=]() mutable { cipher->Process(data, processIv, mode, enc); };
        };
        const auto next = [=](bool encrypt, const Binary& piece, bool last,
                              uint32_t padding = 0) -> std::function<void()> {
            if (encrypt) return [=] { cipher->EncryptFirst(whole, 1, padding, iv), cipher->EncryptNext(piece, last); };
            return [=] { cipher->DecryptFirst(whole, 1, 1, iv), cipher->DecryptNext(piece, last); };
        };
        rows.push_back({[=] { cipher->EncryptNext(whole, true); }, "Chain not started"});
        rows.push_back({[=] { cipher->DecryptNext(whole, true); }, "Chain not started"});
        rows.push_back({[=] { cipher->EncryptFirst(Binary(), 2, 0, iv); }, "Empty data is invalid"});
        rows.push_back({[=] { cipher->DecryptFirst(Binary(), 2, 0, iv); }, "Empty data is invalid"});
        // A chain starts on whole blocks even in a stream mode (GOST 28147-89: in ECB and CBC).
        const uint32_t stream = c.firstAlignedInEveryMode ? CIPHER_MODE_CFB : CIPHER_MODE_CBC;
        rows.push_back({[=] { cipher->EncryptFirst(partial, stream, 0, iv); }, "Data must be aligned"});
        rows.push_back({[=] { cipher->DecryptFirst(partial, stream, 0, iv); }, "Data must be aligned"});
        rows.push_back({next(true, Binary(), false), "Empty data is invalid"});
        rows.push_back({next(false, Binary(), true), "Empty data is invalid"});
        rows.push_back({next(true, partial, true), "Data must be aligned"});  // no padding to fill it
        // Only the last piece is padded.
        rows.push_back({next(true, partial, false, PADDING_ISO9797_M2), "Data must be aligned"});
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
        if (c.badIvError) {
            // A block mode reads and writes a whole block of IV: shorter and longer ones are refused.
            rows.push_back({process(whole, Binary("01020304"), CIPHER_MODE_CFB, 1), c.badIvError});
            rows.push_back({process(whole, Binary(b + 1, 0x01), CIPHER_MODE_OFB, 1), c.badIvError});
            rows.push_back({process(whole, Binary("01020304"), CIPHER_MODE_OFB, 1), c.badIvError});
            rows.push_back({[=] { cipher->Encrypt(whole, CIPHER_MODE_CBC, 0, Binary("01020304")); }, c.badIvError});
            rows.push_back({[=] { cipher->Decrypt(whole, CIPHER_MODE_CBC, 0, Binary(b / 2, 1)); }, c.badIvError});
        }
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
