// The card-service factory and the reader selection over real PC/SC: a private
// pcscd serves vpcd's two virtual readers, and the virtual card of the tests
// sits in the first one.
#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "sc/card_service/card_service.h"
#include "sc/card_service/expected_status.h"
#include "sc/drivers/pcsc/pcsc_reader.h"
#include "sc/qxw/card_service_factory.h"
#include "sc/qxw/framework.h"
#include "service/log/recording_log.h"
#include "service/program_settings/settings_database.h"
#include "support/error_text.h"
#include "support/pcsc_fixture.h"
#include "support/vpcd_card.h"

namespace ZORVIK {
namespace {

using binary::Binary;
using test::PrivatePcscd;
using test::VpcdCardModel;

class FactoryOverPcsc : public test::PcscdTest {
protected:
    void SetUp() override {
        test::PcscdTest::SetUp();
        if (IsSkipped() || HasFatalFailure()) return;
        m_settings.AddSetting("power_on", "0", Set);
        m_settings.AddSetting("disable_user_input", "1", Set);
    }
    void TearDown() override {
        if (m_card && m_card->Inserted()) RemoveCard();
    }

    void InsertCard() {
        m_card = std::make_unique<test::VpcdCard>(VpcdCardModel::AtrBoth);
        m_card->Model().SetT1(true);
        ASSERT_TRUE(m_card->Insert(Pcscd().CardPort())) << "vpcd did not take the virtual card";
        ASSERT_TRUE(Pcscd().WaitForCard(PrivatePcscd::Reader0, true)) << "pcscd did not see the card";
    }
    void RemoveCard() {
        m_card->Remove();
        Pcscd().WaitForCard(PrivatePcscd::Reader0, false);
    }

    std::shared_ptr<CardService> Create(const std::string& readerSetting) {
        m_settings.AddSetting("reader", readerSetting, Set);
        return m_factory.CreateCardService(m_settings, "reader", m_log);
    }

    SettingsDatabase m_settings;
    std::shared_ptr<test::RecordingLog> m_log = std::make_shared<test::RecordingLog>();
    CardServiceFactory m_factory{m_log};
    std::unique_ptr<test::VpcdCard> m_card;
};

TEST_F(FactoryOverPcsc, ReaderByNameCarriesCommandsToTheCard) {
    InsertCard();
    const std::shared_ptr<CardService> service = Create(PrivatePcscd::Reader0);
    auto* reader = dynamic_cast<PCSC_Reader*>(service->GetReader());
    ASSERT_NE(reader, nullptr);
    EXPECT_EQ(service->GetReaderName(), PrivatePcscd::Reader0);
    service->PowerOn();
    EXPECT_EQ(reader->GetATR(), Binary(VpcdCardModel::AtrBoth));
    const RApdu& answer = service->Command(CApdu(0x00, 0xA4, 0x04, 0x00, Binary(VpcdCardModel::Aid), 256), ST_OK);
    EXPECT_EQ(answer.data, Binary(VpcdCardModel::Fci));
    service->PowerOff();
    EXPECT_EQ(reader->GetCardHandle(), 0);
}

TEST_F(FactoryOverPcsc, TransportProtocolsReachThePcscConnection) {
    InsertCard();
    m_settings.AddSetting("transport_protocols", "T0", Set);
    const std::shared_ptr<CardService> service = Create(PrivatePcscd::Reader0);
    service->PowerOn();
    auto* reader = dynamic_cast<PCSC_Reader*>(service->GetReader());
    ASSERT_NE(reader, nullptr);
    EXPECT_EQ(reader->GetActiveProtocol(), static_cast<DWORD>(SCARD_PROTOCOL_T0));
}

TEST_F(FactoryOverPcsc, PcscRequestTakesTheOneReaderWithACard) {
    // Without a card and without user input it is an error.
    EXPECT_EQ(test::MessageOf([&] { Create("#PCSC"); }), "Ни одной считки не подключено");
    InsertCard();
    const std::shared_ptr<CardService> service = Create("#PCSC");
    EXPECT_EQ(service->GetReaderName(), PrivatePcscd::Reader0);
    EXPECT_TRUE(m_log->records.empty());  // one candidate: no menu, no message
}

TEST_F(FactoryOverPcsc, NumbersCountReadersWithAndWithoutCard) {
    const std::shared_ptr<CardService> service = Create("#1");
    EXPECT_EQ(service->GetReaderName(), PrivatePcscd::Reader1);
    EXPECT_EQ(test::MessageOf([&] { m_factory.GetReaderName("reader2", "#2", m_settings); }),
              "Считка с указанным номером 2 не подключена");
    EXPECT_EQ(test::MessageOf([&] { m_factory.GetReaderName("reader2", "#1", m_settings); }),
              std::string("Попытка выбрать reader2 = ") + PrivatePcscd::Reader1 + ", который уже используется");
}

TEST_F(FactoryOverPcsc, QuestionMarkSeesThePcscReaderAndTheSimulatedCard) {
    InsertCard();
    EXPECT_EQ(test::MessageOf([&] { Create("#?"); }), "Подключено более одной считки");
}

TEST_F(FactoryOverPcsc, TableNamesOfPcscKindsBuildPcscReaders) {
    CardServiceSettings cardSettings;
    cardSettings.readerName = "#MP300_CL";
    const std::unique_ptr<iReader> mp300 = CardServiceFactory::CreateReader(
        cardSettings, CardServiceFactory::GetReaderKind("#MP300_CL"), ReaderParams(), m_settings, m_log.get());
    auto* reader = dynamic_cast<PCSC_Reader*>(mp300.get());
    ASSERT_NE(reader, nullptr);
    EXPECT_EQ(reader->GetReaderName(), "#MP300_CL");
    EXPECT_EQ(reader->GetMifareState(), 2u);  // not asked for

    // Mifare emulation is asked of the OMNIKEY contactless reader alone.
    m_settings.AddSetting("mifare_emulation", "1", Set);
    cardSettings.readerName = "OMNIKEY CardMan 5x21-CL 0";
    const std::unique_ptr<iReader> omnikey =
        CardServiceFactory::CreateReader(cardSettings, CardServiceFactory::GetReaderKind(cardSettings.readerName),
                                         ReaderParams(), m_settings, m_log.get());
    ASSERT_NE(dynamic_cast<PCSC_Reader*>(omnikey.get()), nullptr);
    EXPECT_EQ(dynamic_cast<PCSC_Reader*>(omnikey.get())->GetMifareState(), 1u);
}

// The console's wait for the card, over the process-wide framework.
TEST_F(FactoryOverPcsc, WaitForCardFollowsInsertionAndRemoval) {
    SettingsDatabase settings;
    settings.AddSetting("reader", PrivatePcscd::Reader0, Set);
    settings.AddSetting("power_on", "0", Set);
    settings.AddSetting("file_log_on", "0", Set);
    settings.AddSetting("console_log_on", "0", Set);
    InitFramework(settings);
    std::thread inserter([this] {
        std::this_thread::sleep_for(std::chrono::milliseconds(150));
        InsertCard();
    });
    WaitForCard(true);
    inserter.join();
    EXPECT_TRUE(m_card->Inserted());
    std::thread remover([this] {
        std::this_thread::sleep_for(std::chrono::milliseconds(150));
        m_card->Remove();
    });
    WaitForCard(false);
    remover.join();
    FinishFramework();
}

}  // namespace
}  // namespace ZORVIK
