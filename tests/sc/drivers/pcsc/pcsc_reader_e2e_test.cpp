// The PC/SC reader end to end: a private pcscd serves vpcd's virtual readers and
// the virtual card of support/vpcd_card.h sits in the first one.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "sc/card_service/apdu_writer.h"
#include "sc/card_service/card_service.h"
#include "sc/card_service/expected_status.h"
#include "sc/drivers/iso/byte_reader_helpers.h"
#include "sc/drivers/pcsc/pcsc_reader.h"
#include "service/log/recording_log.h"
#include "support/pcsc_fixture.h"
#include "support/test_dir.h"
#include "support/vpcd_card.h"

namespace ZORVIK {
namespace {

using binary::Binary;
using test::DriverError;
using test::DriverErrorOf;
using test::PrivatePcscd;
using test::VpcdCardModel;

ReaderParams WithProtocols(std::vector<uint32_t> protocols) {
    ReaderParams params;
    params.protocols = std::move(protocols);
    return params;
}

// The file of the card model holds byte i at offset i (mod 256).
Binary FileBytes(uint32_t offset, uint32_t count) {
    Binary bytes(count);
    for (uint32_t i = 0; i < count; ++i) bytes[i] = static_cast<uint8_t>(offset + i);
    return bytes;
}

class PcscEndToEnd : public test::PcscdTest {
protected:
    void InsertCard(const char* atr, bool t1) {
        m_card = std::make_unique<test::VpcdCard>(atr);
        m_card->Model().SetT1(t1);
        ASSERT_TRUE(m_card->Insert(Pcscd().CardPort())) << "vpcd did not take the virtual card";
        ASSERT_TRUE(Pcscd().WaitForCard(PrivatePcscd::Reader0, true)) << "pcscd did not see the card";
    }
    void RemoveCard() {
        m_card->Remove();
        ASSERT_TRUE(Pcscd().WaitForCard(PrivatePcscd::Reader0, false)) << "pcscd did not see the card go";
    }
    std::unique_ptr<PCSC_Reader> MakeReader(const ReaderParams& params = ReaderParams()) {
        return std::make_unique<PCSC_Reader>(PrivatePcscd::Reader0, params, m_log.get(), false);
    }
    // A card with the ATR in the reader, connected by the one protocol given.
    std::unique_ptr<PCSC_Reader> PoweredReader(const char* atr, uint32_t protocol) {
        InsertCard(atr, protocol == ProtocolT1);
        auto reader = MakeReader(WithProtocols({protocol}));
        ATR answer;
        reader->PowerOn(answer);
        return reader;
    }
    VpcdCardModel& Card() { return m_card->Model(); }

    void TearDown() override {
        // The card leaves while pcscd still runs, so that the next test finds the reader empty.
        if (m_card) {
            m_card->Remove();
            Pcscd().WaitForCard(PrivatePcscd::Reader0, false);
        }
    }

    std::shared_ptr<test::RecordingLog> m_log = std::make_shared<test::RecordingLog>();
    std::unique_ptr<test::VpcdCard> m_card;
};

TEST_F(PcscEndToEnd, ReaderListAndPresenceFollowTheCard) {
    InsertCard(VpcdCardModel::AtrBoth, true);
    std::vector<std::string> all;
    EXPECT_EQ(getPCSCReaderList(all, false), SCARD_S_SUCCESS);
    EXPECT_EQ(all, (std::vector<std::string>{PrivatePcscd::Reader0, PrivatePcscd::Reader1}));
    std::vector<std::string> withCard;
    EXPECT_EQ(getPCSCReaderList(withCard, true), SCARD_S_SUCCESS);
    EXPECT_EQ(withCard, std::vector<std::string>{PrivatePcscd::Reader0});
    // IsPowered tells whether a card lies in the reader, before any power-on.
    auto reader = MakeReader();
    EXPECT_TRUE(reader->IsPowered());
    EXPECT_EQ(reader->GetCardHandle(), 0);
    EXPECT_FALSE(PCSC_Reader(PrivatePcscd::Reader1, ReaderParams(), nullptr, false).IsPowered());
    // A name that PC/SC does not know is no empty reader.
    ATR atr;
    EXPECT_EQ(DriverErrorOf([&] { PCSC_Reader("Virtual PCD 00 07", ReaderParams(), nullptr, false).PowerOn(atr); }),
              (DriverError{CardDrvError::WrongReaderName,
                           "PCSC Driver error (func: SCardGetStatusChange:, code: 80100009, , msg: Unknown reader "
                           "specified.)"}));

    RemoveCard();
    withCard.clear();
    EXPECT_EQ(getPCSCReaderList(withCard, true), SCARD_S_SUCCESS);
    EXPECT_TRUE(withCard.empty());
}

TEST_F(PcscEndToEnd, PowerOnReadsTheAtrAndASecondPowerOnKeepsTheConnection) {
    InsertCard(VpcdCardModel::AtrBoth, true);
    ReaderParams params;
    params.transport_log = true;
    auto reader = MakeReader(params);
    ATR atr;
    reader->PowerOn(atr);
    EXPECT_EQ(reader->GetATR(), Binary(VpcdCardModel::AtrBoth));
    EXPECT_EQ(atr.GetRaw(), Binary(VpcdCardModel::AtrBoth));
    const SCARDHANDLE handle = reader->GetCardHandle();
    EXPECT_NE(handle, 0);

    ATR untouched;
    reader->PowerOn(untouched);
    EXPECT_EQ(reader->GetCardHandle(), handle);
    EXPECT_TRUE(untouched.GetRaw().empty());
    CardExchParam param;
    EXPECT_THROW(reader->GetCardExchParam(param), CardDrvException);  // vpcd keeps no F, D or clock
    EXPECT_EQ(param.protocol, ProtocolT1);

    // The transport log dumps each TPDU.
    RApdu response;
    reader->Command(CApdu(0x00, 0xB0, 0x00, 0x00, 2), response);
    ASSERT_EQ(m_log->records.size(), 2u);
    EXPECT_EQ(m_log->records[0].text, "~~~~~~ TPDU T=1 ~~~~~~~\nRequest: 5 (0x05)\n00 B0 00 00 02\n");
    EXPECT_EQ(m_log->records[1].text, "~~~~~~ TPDU T=1 ~~~~~~~Response: 4 (0x04)\n00 01 90 00\n");
    EXPECT_EQ(m_log->records[0].level, 3);
    EXPECT_EQ(m_log->records[0].colour, 6);
}

// The first protocol of the list that the card offers is the one connected.
TEST_F(PcscEndToEnd, ProtocolListAgainstTheProtocolsOfTheCard) {
    struct Case {
        const char* atr;
        bool t1;
        std::vector<uint32_t> protocols;
        DWORD active;  // 0: the connection is refused
    };
    const Case cases[] = {
        {VpcdCardModel::AtrBoth, true, {1, 0}, SCARD_PROTOCOL_T1},
        {VpcdCardModel::AtrBoth, true, {0, 1}, SCARD_PROTOCOL_T0},
        {VpcdCardModel::AtrT0, false, {1, 0}, SCARD_PROTOCOL_T0},
        {VpcdCardModel::AtrT1, true, {0}, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.atr);
        InsertCard(c.atr, c.t1);
        auto reader = MakeReader(WithProtocols(c.protocols));
        ATR atr;
        const DriverError error = DriverErrorOf([&] { reader->PowerOn(atr); });
        EXPECT_EQ(reader->GetActiveProtocol(), c.active);
        if (c.active == 0) {
            EXPECT_EQ(error.code, CardDrvError::CardConnection);
            EXPECT_EQ(error.text.rfind("PCSC Driver error (func: SCardConnect:, code: ", 0), 0u) << error.text;
            EXPECT_EQ(reader->GetCardHandle(), 0);
        }
        reader.reset();
        RemoveCard();
    }
}

// Cases 1 to 4 and an extended APDU over both protocols; the card sees TPDUs
// over T=0 (the extended APDU in envelopes) and APDUs over T=1.
class PcscCases : public PcscEndToEnd, public ::testing::WithParamInterface<uint32_t> {};

TEST_P(PcscCases, CasesOneToFourAndExtended) {
    auto reader = PoweredReader(VpcdCardModel::AtrBoth, GetParam());
    RApdu response;

    reader->Command(CApdu(0x00, 0x12, 0x00, 0x00), response);  // case 1, unknown to the card
    EXPECT_EQ(response.GetSW(), 0x6D00);
    EXPECT_EQ(Card().Commands().back(), Binary("00 12 00 00"));

    reader->Command(CApdu(0x00, 0xB0, 0x00, 0x00, 256), response);  // case 2, Ne 256
    EXPECT_EQ(response.GetSW(), 0x9000);
    EXPECT_EQ(response.data, FileBytes(0, 256));
    EXPECT_EQ(Card().Commands().back(), Binary("00 B0 00 00 00"));

    reader->Command(CApdu(0x00, 0xA4, 0x04, 0x0C, Binary(VpcdCardModel::Aid)), response);  // case 3
    EXPECT_EQ(response.GetSW(), 0x9000);
    EXPECT_TRUE(response.data.empty());

    reader->Command(CApdu(0x00, 0xA4, 0x04, 0x00, Binary(VpcdCardModel::Aid), 256), response);  // case 4
    EXPECT_EQ(response.GetSW(), 0x9000);
    EXPECT_EQ(response.data, Binary(VpcdCardModel::Fci));

    const Binary data = FileBytes(0x40, 1000);
    reader->Command(CApdu(0x80, 0xEE, 0x00, 0x00, data, 1000), response);
    EXPECT_EQ(response.GetSW(), 0x9000);
    EXPECT_EQ(response.data, data);
    if (GetParam() == ProtocolT1) {
        EXPECT_EQ(Card().Commands().back(), Binary("80 EE 00 00 00 03 E8") + data + Binary("03 E8"));
    }
    reader->Command(CApdu(0x00, 0xB0, 0x00, 0x00, VpcdCardModel::FileSize), response);
    EXPECT_EQ(response.GetSW(), 0x9000);
    EXPECT_EQ(response.data, FileBytes(0, VpcdCardModel::FileSize));
}

INSTANTIATE_TEST_SUITE_P(BothProtocols, PcscCases, ::testing::Values(ProtocolT0, ProtocolT1));

TEST_F(PcscEndToEnd, T0EngineFollows61xxWithGetResponseAndResendsAfter6Cxx) {
    auto reader = PoweredReader(VpcdCardModel::AtrT0, ProtocolT0);
    RApdu response;
    reader->Command(CApdu(0x00, 0xA4, 0x04, 0x00, Binary(VpcdCardModel::Aid), 256), response);
    EXPECT_EQ(response.GetSW(), 0x9000);
    EXPECT_EQ(response.data, Binary(VpcdCardModel::Fci));
    reader->Command(CApdu(0x00, 0xCA, 0x01, 0x01, 256), response);
    EXPECT_EQ(response.GetSW(), 0x9000);
    EXPECT_EQ(response.data, Binary(VpcdCardModel::DataObject));
    const std::vector<Binary> sent = Card().Commands();
    ASSERT_GE(sent.size(), 4u);
    EXPECT_EQ(std::vector<Binary>(sent.end() - 4, sent.end()),
              (std::vector<Binary>{Binary("00 A4 04 00 08") + Binary(VpcdCardModel::Aid),
                                   Binary("00 C0 00 00 11"),  // the FCI's 17 bytes
                                   Binary("00 CA 01 01 00"), Binary("00 CA 01 01 08")}));
}

TEST_F(PcscEndToEnd, ResetGivesTheAtrAgainPowerOffDisconnectsAndRemovalIsReported) {
    InsertCard(VpcdCardModel::AtrBoth, true);
    auto reader = MakeReader();
    ATR atr;
    EXPECT_THROW(reader->Reset(atr), CardDrvException);  // not connected yet
    reader->PowerOn(atr);
    const int resets = Card().ResetCount();
    ATR again;
    reader->Reset(again);
    EXPECT_EQ(again.GetRaw(), Binary(VpcdCardModel::AtrBoth));
    EXPECT_GT(Card().ResetCount(), resets);

    reader->PowerOff();
    EXPECT_EQ(reader->GetCardHandle(), 0);
    EXPECT_TRUE(reader->IsPowered());  // the card still lies in the reader
    RApdu response;
    EXPECT_EQ(DriverErrorOf([&] { reader->Command(CApdu(0x00, 0xB0, 0x00, 0x00, 16), response); }),
              (DriverError{CardDrvError::NoCard, "No Card in Reader or Card is Powered Off"}));

    // A card removed while connected: the exchange fails, and so does the next power-on.
    reader->PowerOn(atr);
    RemoveCard();
    EXPECT_FALSE(reader->IsPowered());
    const DriverError error = DriverErrorOf([&] { reader->Command(CApdu(0x00, 0xB0, 0x00, 0x00, 16), response); });
    EXPECT_EQ(error.code, CardDrvError::PcscTransmit);
    EXPECT_EQ(error.text.rfind("Request: \n00 B0 00 00 10\nResponse: \n", 0), 0u) << error.text;
    EXPECT_NE(error.text.find("Protocol: T1\nPCSC Driver error (func: SCardTransmit:"), std::string::npos)
        << error.text;
    reader->PowerOff();
    EXPECT_EQ(DriverErrorOf([&] { reader->PowerOn(atr); }),
              (DriverError{CardDrvError::CardNotInserted, "Card not inserted"}));
}

TEST_F(PcscEndToEnd, CardServiceWritesTheApduLogOverThisReader) {
    InsertCard(VpcdCardModel::AtrBoth, true);
    const std::string logPath = test::TestDir() + "pcsc_card_service.skarna";
    std::filesystem::remove(logPath);
    {
        std::shared_ptr<iReader> reader = MakeReader();
        CardService service(CardServiceSettings(), reader, m_log,
                            BaseApduWriter::Create(BaseApduWriter::Skarna, logPath, 2));
        service.PowerOn();
        const RApdu& response = service.Command(CApdu(0x00, 0xB0, 0x00, 0x10, 16), 0x9000);
        EXPECT_EQ(response.data, FileBytes(0x10, 16));
        EXPECT_THROW(service.Command(CApdu(0x00, 0xB0, 0x7F, 0x00, 16), ST_OK), Exception);
        service.PowerOff();
    }
    std::ifstream in(logPath, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    EXPECT_NE(text.str().find("\non\n"), std::string::npos) << text.str();
    EXPECT_NE(text.str().find("o 00 B0 00 10 10 | 9000"), std::string::npos) << text.str();
    EXPECT_NE(text.str().find("\noff\n"), std::string::npos) << text.str();
    std::filesystem::remove(logPath);
}

}  // namespace
}  // namespace ZORVIK
