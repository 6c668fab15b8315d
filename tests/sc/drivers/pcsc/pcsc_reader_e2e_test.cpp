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

class PcscEndToEnd : public test::PcscdTest {
protected:
    static std::unique_ptr<PCSC_Reader> Reader(std::vector<uint32_t> protocols,
                                               const char* name = PrivatePcscd::Reader0) {
        ReaderParams params;
        params.protocols = std::move(protocols);
        return std::make_unique<PCSC_Reader>(name, params, nullptr, false);
    }
    static Binary Send(PCSC_Reader& reader, const CApdu& command) {
        RApdu response;
        reader.Command(command, response);
        return response.Encode();
    }
};

// Over T=1 the card sees the APDUs, an extended one among them.
TEST_F(PcscEndToEnd, ReaderListPowerResetCommandsAndACardTakenOut) {
    InsertCard(VpcdCardModel::AtrBoth);
    std::vector<std::string> all, withCard;
    EXPECT_EQ(getPCSCReaderList(all, false), SCARD_S_SUCCESS);
    EXPECT_EQ(getPCSCReaderList(withCard, true), SCARD_S_SUCCESS);
    EXPECT_EQ(all, (std::vector<std::string>{PrivatePcscd::Reader0, PrivatePcscd::Reader1}));
    EXPECT_EQ(withCard, std::vector<std::string>{PrivatePcscd::Reader0});
    // IsPowered tells whether a card lies in the reader, before any power-on.
    EXPECT_FALSE(Reader({1}, PrivatePcscd::Reader1)->IsPowered());
    // A name that PC/SC does not know is no empty reader.
    ATR atr;
    EXPECT_EQ(DriverErrorOf([&] { Reader({1}, "Virtual PCD 00 07")->PowerOn(atr); }),
              (DriverError{CardDrvError::WrongReaderName,
                           "PCSC Driver error (func: SCardGetStatusChange:, code: 80100009, , msg: Unknown reader "
                           "specified.)"}));

    auto reader = Reader({1, 0});
    const DriverError noCard{CardDrvError::NoCard, "No Card in Reader or Card is Powered Off"};
    EXPECT_EQ(DriverErrorOf([&] { reader->Reset(atr); }), noCard);  // not connected yet
    reader->PowerOn(atr);
    EXPECT_EQ(atr.GetRaw(), Binary(VpcdCardModel::AtrBoth));  // from SCardStatus: vpcd keeps no ATR attribute
    EXPECT_EQ(Send(*reader, CApdu(0x00, 0x12, 0x00, 0x00)), Binary("6D00"));
    EXPECT_EQ(Send(*reader, CApdu(0x00, 0xB0, 0x00, 0x00, VpcdCardModel::FileSize)).size(),
              VpcdCardModel::FileSize + 2);
    EXPECT_EQ(Card().Frames().back(), Binary("00 B0 00 00 00 10 00"));
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
    EXPECT_EQ(DriverErrorOf([&] { reader->PowerOn(atr); }).code, CardDrvError::CardNotInserted);
    withCard.clear();
    EXPECT_EQ(getPCSCReaderList(withCard, true), SCARD_S_SUCCESS);
    EXPECT_TRUE(withCard.empty());
}

// Over T=0 the card sees TPDUs: a case-4 command is a case-3 TPDU, then GET RESPONSE after 61xx.
TEST_F(PcscEndToEnd, T0TpdusWithGetResponse) {
    InsertCard(VpcdCardModel::AtrBoth, false);
    auto reader = Reader({0});
    ATR atr;
    reader->PowerOn(atr);
    EXPECT_EQ(Send(*reader, CApdu(0x00, 0xA4, 0x04, 0x00, Binary(VpcdCardModel::Aid), 256)),
              Binary(VpcdCardModel::Fci) + Binary("9000"));
    const std::vector<Binary> frames = Card().Frames();
    EXPECT_EQ(frames[frames.size() - 2], Binary("00 A4 04 00 08") + Binary(VpcdCardModel::Aid));
    EXPECT_EQ(frames.back(), Binary("00 C0 00 00 11"));  // the FCI's 17 bytes
}

}  // namespace
}  // namespace ZORVIK
