#include "sc/appslib/gp/gp_sm.h"

#include <gtest/gtest.h>

#include <memory>

#include "sc/card_service/card_exception.h"
#include "sc/card_service/card_service.h"
#include "sc/exchange/capdu_rapdu.h"
#include "service/common/exception.h"
#include "service/log/recording_log.h"
#include "support/error_text.h"
#include "support/scripted_reader.h"
#include "support/vectors.h"

namespace ZORVIK {
namespace {

using binary::Binary;

// Session keys of the pySim trace in tests/data/gp/scp02.vec.
const Binary kSMac("29A69328E60494982632039DDD47A2F1");
const Binary kSEnc("1BA074B31F72A6C44FE8F5D9AFE4DA2F");

Binary Wrap(GP_SM& sm, const CApdu& plain) {
    CApdu wrapped;
    sm.WrapCommand(plain, wrapped);
    return wrapped.Encode();
}

// C-MAC of a command (GlobalPlatform 2.2, E.4.4: the modified header, Lc + 8 and
// the plain data), composed from the triple-DES retail MAC.
Binary ExpectedCMac(Binary header, const Binary& data = {}, Binary icv = Binary(8, 0)) {
    TriDES mac(kSMac, PADDING_ISO9797_M2, 1);
    header.push_back(static_cast<uint8_t>(data.size() + 8));
    header += data;
    return mac.CalcCCS(header, icv);
}

TEST(GpSmTrace, WrapsEveryCommandOfThePublishedChains) {
    std::unique_ptr<GP_SM> sm;
    int commands = 0;
    for (const auto& v : test::LoadVectors("gp/scp02.vec")) {
        SCOPED_TRACE(v.Where() + " " + v.Text("Section"));
        if (v.Has("SMAC")) {
            sm = std::make_unique<GP_SM>(v.Bin("SMAC"), v.Bin("SENC"), static_cast<uint8_t>(v.Number("Level")),
                                         v.Number("IcvEncryption") != 0);
            continue;
        }
        ASSERT_NE(sm, nullptr);
        EXPECT_EQ(Wrap(*sm, CApdu(v.Bin("Plain"))), v.Bin("Wrapped"));
        ++commands;
    }
    EXPECT_EQ(commands, 11);
}

TEST(GpSmChain, WithoutIcvEncryptionThePreviousMacIsTheIcv) {
    GP_SM sm(kSMac, kSEnc, GP_SM::LevelCMac, false);
    const Binary mac1 = Back(Wrap(sm, CApdu("80F22002")), 8);
    EXPECT_EQ(mac1, ExpectedCMac(Binary("84F22002")));
    EXPECT_EQ(Wrap(sm, CApdu("80F22002")), Binary("84F2200208") + ExpectedCMac(Binary("84F22002"), {}, mac1));
}

TEST(GpSmChain, ARefusedCommandLeavesTheChainAsItWas) {
    GP_SM sm(kSMac, kSEnc, GP_SM::LevelCMac, true);
    GP_SM reference(kSMac, kSEnc, GP_SM::LevelCMac, true);
    Wrap(sm, CApdu("80F22002"));
    Wrap(reference, CApdu("80F22002"));
    CApdu wrapped;
    EXPECT_THROW(sm.WrapCommand(CApdu(0x80, 0xE8, 0x00, 0x00, Binary(248, 0x11)), wrapped), Exception);
    EXPECT_EQ(sm.GetLastCMac(), reference.GetLastCMac());
    EXPECT_EQ(Wrap(sm, CApdu("80CA006600")), Wrap(reference, CApdu("80CA006600")));
}

TEST(GpSmWrap, SetsTheSecureMessagingBitOfTheClassByte) {
    const std::pair<uint8_t, uint8_t> cases[] = {{0x80, 0x84}, {0x83, 0x87}, {0x00, 0x04},
                                                 {0x84, 0x84}, {0xC1, 0xE1}, {0x4F, 0x6F}};
    for (const auto& [plain, secure] : cases) {
        GP_SM sm(kSMac, kSEnc, GP_SM::LevelCMac, true);
        CApdu wrapped;
        sm.WrapCommand(CApdu(plain, 0xF2, 0x20, 0x02, 0u), wrapped);
        EXPECT_EQ(wrapped.cla, secure) << static_cast<int>(plain);
        // The MAC covers the modified class byte.
        EXPECT_EQ(wrapped.data, ExpectedCMac(Binary{secure, 0xF2, 0x20, 0x02}));
    }
}

// Level 03: the data padded (a whole block after aligned data) and encrypted with
// S-ENC in CBC from a zero ICV; the C-MAC over the plain data; Ne kept.
TEST(GpSmWrap, LevelThreeEncryptsPaddedDataButNotExternalAuthenticate) {
    GP_SM sm(kSMac, kSEnc, GP_SM::LevelCMacAndCDecryption, true);
    const Binary plainData("0102030405060708");
    CApdu wrapped;
    sm.WrapCommand(CApdu(0x80, 0xE6, 0x0C, 0x00, plainData, 256), wrapped);
    EXPECT_EQ(wrapped.cla, 0x84);
    EXPECT_EQ(wrapped.ne, 256u);
    ASSERT_EQ(wrapped.data.size(), 24u);
    TriDES enc(kSEnc, 0, 0);
    EXPECT_EQ(enc.Decrypt(Slice(wrapped.data, 0, 16), CIPHER_MODE_CBC, PADDING_ISO9797_M2, Binary()), plainData);
    EXPECT_EQ(Back(wrapped.data, 8), ExpectedCMac(Binary("84E60C00"), plainData));
    // EXTERNAL AUTHENTICATE keeps its data in the clear.
    GP_SM fresh(kSMac, kSEnc, GP_SM::LevelCMacAndCDecryption, false);
    EXPECT_EQ(Slice(Wrap(fresh, CApdu("8082030008 1122334455667788")), 0, 13), Binary("8482030010 1122334455667788"));
}

TEST(GpSmWrap, RefusesWhatCannotBeWrappedWithItsReason) {
    GP_SM levelOne(kSMac, kSEnc, GP_SM::LevelCMac, true);
    GP_SM levelThree(kSMac, kSEnc, GP_SM::LevelCMacAndCDecryption, true);
    CApdu wrapped;
    // The largest data that still fits a short command.
    EXPECT_EQ(Wrap(levelOne, CApdu(0x80, 0xE8, 0x00, 0x00, Binary(247, 0x5A))).size(), 5u + 255u);
    EXPECT_EQ(Wrap(levelThree, CApdu(0x80, 0xE8, 0x00, 0x00, Binary(239, 0x5A))).size(), 5u + 248u);
    const std::pair<std::function<void()>, const char*> cases[] = {
        {[&] { levelOne.WrapCommand(CApdu(0x80, 0xE8, 0x00, 0x00, Binary(248, 0x5A)), wrapped); },
         "Данные команды (248 байт) не помещаются в команду SCP02 на уровне 01: не более 247 байт"},
        {[&] { levelThree.WrapCommand(CApdu(0x80, 0xE8, 0x00, 0x00, Binary(240, 0x5A)), wrapped); },
         "Данные команды (240 байт) не помещаются в команду SCP02 на уровне 03: не более 239 байт"},
        {[&] { levelOne.WrapCommand(CApdu(0x80, 0xCA, 0x00, 0x66, 257u), wrapped); },
         "SCP02 защищает только короткие команды, Ne = 257"},
        {[&] { levelOne.WrapCommand(CApdu(0x80, 0xCA, 0x00, 0x66, 0u, true), wrapped); },
         "SCP02 защищает только короткие команды, Ne = 0"},
        {[] { GP_SM(Binary(8, 1), kSEnc, 1, true); }, "Сеансовый ключ S-MAC имеет длину 8 байт, ожидается 16"},
        {[] { GP_SM(kSMac, Binary(24, 1), 1, true); }, "Сеансовый ключ S-ENC имеет длину 24 байт, ожидается 16"},
        {[] { GP_SM(kSMac, kSEnc, 0x13, true); },
         "Неподдерживаемый уровень безопасности SCP02 13, ожидается 01 или 03"},
    };
    for (const auto& [action, message] : cases) EXPECT_EQ(test::MessageOf(action), message);
    for (uint8_t level : {0x00, 0x02, 0x11}) {
        EXPECT_THROW(GP_SM(kSMac, kSEnc, level, true), Exception) << static_cast<int>(level);
    }
}

TEST(GpSmInterface, SizesFollowFromTheMacAndPaddingAndResponsesPassUnchanged) {
    GP_SM levelOne(kSMac, kSEnc, GP_SM::LevelCMac, true);
    GP_SM levelThree(kSMac, kSEnc, GP_SM::LevelCMacAndCDecryption, true);
    const uint32_t cases[][3] = {
        {0, 0, 0},    {7, 0, 0},    {8, 0, 0},       {15, 7, 0},      {16, 8, 7},
        {24, 16, 15}, {31, 23, 15}, {255, 247, 239}, {1000, 247, 239}};  // size, level 01, level 03
    for (const auto& c : cases) {
        EXPECT_EQ(levelOne.GetMaxCommandDataSize(c[0]), c[1]) << c[0];
        EXPECT_EQ(levelThree.GetMaxCommandDataSize(c[0]), c[2]) << c[0];
    }
    EXPECT_EQ(levelThree.GetResponseDataSize(256), 256u);
    EXPECT_EQ(levelThree.GetResponseDataSize(0), 0u);
    EXPECT_EQ(Slice(Wrap(levelThree, CApdu("80CA006600")), 0, 5), Binary("84CA006608"));  // no data: the C-MAC only
    EXPECT_EQ(levelThree.GetSecurityLevel(), 3);
    EXPECT_FALSE(static_cast<iSM&>(levelThree).IsStatusWordProtected());
    RApdu plain;
    levelThree.UncoverResponse(RApdu(Binary("0102036A82")), plain);
    EXPECT_EQ(plain.Encode(), Binary("0102036A82"));
}

// GP_SM on the card service's secure road: the wire carries the wrapped command
// of the pySim trace; a wire status the caller did not expect is reported as it
// came, and the chain goes on from that command's C-MAC.
TEST(GpSmOnTheCardService, TheWireCarriesTheTraceAndAMismatchIsReportedAsItCame) {
    auto reader = std::make_shared<test::ScriptedReader>();
    reader->powered = true;
    CardService service(CardServiceSettings(), reader, std::make_shared<test::RecordingLog>(), nullptr);
    GP_SM sm(kSMac, kSEnc, GP_SM::LevelCMac, true);
    reader->Queue(0x84, 0x82, "6D00");
    reader->Queue(0x84, 0xF2, "6D00");
    const CApdu externalAuthenticate("8082010008 BA6961667737C5BC");
    try {
        service.Command(externalAuthenticate, sm, ST_OK);
        ADD_FAILURE() << "no error";
    } catch (const CardException& e) {
        EXPECT_STREQ(e.what(), "Неправильный статус. Ожидался: OK, карта вернула: 6D00");
        EXPECT_EQ(e.Response().GetSW(), 0x6D00);
    }
    EXPECT_EQ(service.GetLastCommand().Encode(), externalAuthenticate.Encode());
    EXPECT_EQ(sm.GetLastCMac(), Binary("EBECE14C7D6A4376"));
    EXPECT_EQ(service.Command(CApdu("80F22002"), sm, 0x6D00).Encode(), Binary("6D00"));
    ASSERT_EQ(reader->sent.size(), 2u);
    EXPECT_EQ(reader->sent[0].Encode(), Binary("8482010010 BA6961667737C5BC EBECE14C7D6A4376"));
    EXPECT_EQ(reader->sent[1].Encode(), Binary("84F2200208 14DB34FA4341DCA8"));
}

}  // namespace
}  // namespace ZORVIK
