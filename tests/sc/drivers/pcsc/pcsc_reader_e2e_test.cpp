// The PC/SC reader end to end: a private pcscd serves vpcd's virtual readers and
// the virtual card of support/vpcd_card.h sits in the first one.
#include <gtest/gtest.h>

#include <algorithm>

#include "sc/drivers/iso/byte_reader_helpers.h"
#include "sc/drivers/pcsc/pcsc_reader.h"
#include "support/pcsc_fixture.h"

namespace ZORVIK {
namespace {

using binary::Binary;
using test::DriverError;
using test::DriverErrorOf;
using test::PrivatePcscd;
using test::VpcdCardModel;

// The file of the card model holds byte i at offset i (mod 256).
Binary FileBytes(uint32_t offset, uint32_t count) {
    Binary bytes(count);
    for (uint32_t i = 0; i < count; ++i) bytes[i] = static_cast<uint8_t>(offset + i);
    return bytes;
}

class PcscEndToEnd : public test::PcscdTest {
protected:
    static std::unique_ptr<PCSC_Reader> Reader(std::vector<uint32_t> protocols = {1, 0},
                                               const char* name = PrivatePcscd::Reader0) {
        ReaderParams params;
        params.protocols = std::move(protocols);
        return std::make_unique<PCSC_Reader>(name, params, nullptr, false);
    }
    static RApdu Send(PCSC_Reader& reader, const CApdu& command) {
        RApdu response;
        reader.Command(command, response);
        return response;
    }
};

TEST_F(PcscEndToEnd, ReaderListPresenceAndAnUnknownName) {
    InsertCard();
    std::vector<std::string> all, withCard;
    EXPECT_EQ(getPCSCReaderList(all, false), SCARD_S_SUCCESS);
    EXPECT_EQ(all, (std::vector<std::string>{PrivatePcscd::Reader0, PrivatePcscd::Reader1}));
    EXPECT_EQ(getPCSCReaderList(withCard, true), SCARD_S_SUCCESS);
    EXPECT_EQ(withCard, std::vector<std::string>{PrivatePcscd::Reader0});
    // IsPowered tells whether a card lies in the reader, before any power-on.
    EXPECT_TRUE(Reader()->IsPowered());
    EXPECT_FALSE(Reader({1}, PrivatePcscd::Reader1)->IsPowered());
    // A name that PC/SC does not know is no empty reader.
    ATR atr;
    EXPECT_EQ(DriverErrorOf([&] { Reader({1}, "Virtual PCD 00 07")->PowerOn(atr); }),
              (DriverError{CardDrvError::WrongReaderName,
                           "PCSC Driver error (func: SCardGetStatusChange:, code: 80100009, , msg: Unknown reader "
                           "specified.)"}));
    RemoveCard();
    withCard.clear();
    EXPECT_EQ(getPCSCReaderList(withCard, true), SCARD_S_SUCCESS);
    EXPECT_TRUE(withCard.empty());
}

TEST_F(PcscEndToEnd, PowerOnResetPowerOffAndACardTakenOut) {
    InsertCard(VpcdCardModel::AtrBoth);
    auto reader = Reader();
    ATR atr;
    const DriverError noCard{CardDrvError::NoCard, "No Card in Reader or Card is Powered Off"};
    EXPECT_EQ(DriverErrorOf([&] { reader->Reset(atr); }), noCard);  // not connected yet
    reader->PowerOn(atr);
    EXPECT_EQ(atr.GetRaw(), Binary(VpcdCardModel::AtrBoth));  // from SCardStatus: vpcd keeps no ATR attribute
    const SCARDHANDLE handle = reader->GetCardHandle();
    ATR untouched;
    reader->PowerOn(untouched);  // connected: nothing happens
    EXPECT_EQ(reader->GetCardHandle(), handle);
    EXPECT_TRUE(untouched.GetRaw().empty());
    ATR again;
    reader->Reset(again);
    EXPECT_EQ(again.GetRaw(), Binary(VpcdCardModel::AtrBoth));
    const std::vector<Binary> frames = Card().Frames();
    EXPECT_EQ(std::count(frames.begin(), frames.end(), Binary("02")), 1);  // vpcd's reset

    reader->PowerOff();
    EXPECT_TRUE(reader->IsPowered());  // the card still lies in the reader
    EXPECT_EQ(DriverErrorOf([&] { Send(*reader, CApdu(0x00, 0xB0, 0x00, 0x00, 16)); }), noCard);

    // A card taken out while connected: the exchange fails, and so does the next power-on.
    reader->PowerOn(atr);
    RemoveCard();
    EXPECT_FALSE(reader->IsPowered());
    const DriverError error = DriverErrorOf([&] { Send(*reader, CApdu(0x00, 0xB0, 0x00, 0x00, 16)); });
    EXPECT_EQ(error.code, CardDrvError::PcscTransmit);
    EXPECT_EQ(error.text.rfind("Request: \n00 B0 00 00 10\nResponse: \n\nProtocol: T1\nPCSC Driver error (func: "
                               "SCardTransmit:",
                               0),
              0u)
        << error.text;
    reader->PowerOff();
    EXPECT_EQ(DriverErrorOf([&] { reader->PowerOn(atr); }),
              (DriverError{CardDrvError::CardNotInserted, "Card not inserted"}));
}

// The first protocol of the list that the card offers is the one connected.
TEST_F(PcscEndToEnd, ProtocolListAgainstTheProtocolsOfTheCard) {
    for (const bool t0Card : {true, false}) {
        InsertCard(t0Card ? VpcdCardModel::AtrT0 : VpcdCardModel::AtrT1, !t0Card);
        auto reader = Reader(t0Card ? std::vector<uint32_t>{1, 0} : std::vector<uint32_t>{0});
        ATR atr;
        const DriverError error = DriverErrorOf([&] { reader->PowerOn(atr); });
        EXPECT_EQ(reader->GetActiveProtocol(), t0Card ? static_cast<DWORD>(SCARD_PROTOCOL_T0) : 0);
        EXPECT_EQ(error.code, t0Card ? -1 : CardDrvError::PcscConnect) << error.text;
        reader.reset();
        RemoveCard();
    }
}

// Cases 1 to 4 over both protocols, and an extended one over T=1: the card sees
// TPDUs over T=0 (GET RESPONSE after 61xx) and APDUs over T=1.
class PcscCases : public PcscEndToEnd, public ::testing::WithParamInterface<uint32_t> {};

TEST_P(PcscCases, CasesOneToFour) {
    const bool t1 = GetParam() == ProtocolT1;
    InsertCard(VpcdCardModel::AtrBoth, t1);
    auto reader = Reader({GetParam()});
    ATR atr;
    reader->PowerOn(atr);
    EXPECT_EQ(Send(*reader, CApdu(0x00, 0x12, 0x00, 0x00)).Encode(), Binary("6D00"));
    EXPECT_EQ(Send(*reader, CApdu(0x00, 0xB0, 0x00, 0x00, 256)).Encode(), FileBytes(0, 256) + Binary("9000"));
    EXPECT_EQ(Card().Frames().back(), Binary("00 B0 00 00 00"));
    EXPECT_EQ(Send(*reader, CApdu(0x00, 0xA4, 0x04, 0x0C, Binary(VpcdCardModel::Aid))).Encode(), Binary("9000"));
    EXPECT_EQ(Send(*reader, CApdu(0x00, 0xA4, 0x04, 0x00, Binary(VpcdCardModel::Aid), 256)).Encode(),
              Binary(VpcdCardModel::Fci) + Binary("9000"));
    EXPECT_EQ(Card().Frames().back(), t1 ? Binary("00 A4 04 00 08") + Binary(VpcdCardModel::Aid) + Binary("00")
                                         : Binary("00 C0 00 00 11"));  // the FCI's 17 bytes
    if (t1) {
        EXPECT_EQ(Send(*reader, CApdu(0x00, 0xB0, 0x00, 0x00, VpcdCardModel::FileSize)).Encode(),
                  FileBytes(0, VpcdCardModel::FileSize) + Binary("9000"));
        EXPECT_EQ(Card().Frames().back(), Binary("00 B0 00 00 00 10 00"));
    }
}

INSTANTIATE_TEST_SUITE_P(BothProtocols, PcscCases, ::testing::Values(ProtocolT0, ProtocolT1));

}  // namespace
}  // namespace ZORVIK
