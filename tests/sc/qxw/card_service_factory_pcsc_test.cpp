// The card-service factory and the console's wait for a card over real PC/SC: a
// private pcscd serves vpcd's two virtual readers, and the virtual card of the
// tests goes into the first one.
#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "sc/card_service/card_service.h"
#include "sc/drivers/pcsc/pcsc_reader.h"
#include "sc/qxw/card_service_factory.h"
#include "sc/qxw/framework.h"
#include "service/log/recording_log.h"
#include "service/program_settings/settings_database.h"
#include "support/error_text.h"
#include "support/pcsc_fixture.h"

namespace ZORVIK {
namespace {

using test::PrivatePcscd;

class FactoryOverPcsc : public test::PcscdTest {
protected:
    std::shared_ptr<CardService> Create(const std::string& readerSetting) {
        m_settings.AddSetting("reader", readerSetting, Set);
        m_settings.AddSetting("power_on", "0", Set);
        return m_factory.CreateCardService(m_settings, "reader", m_log);
    }

    SettingsDatabase m_settings;
    std::shared_ptr<test::RecordingLog> m_log = std::make_shared<test::RecordingLog>();
    CardServiceFactory m_factory{m_log};
};

// Numbers count the readers with and without a card; the group's transport
// settings reach the connection.
TEST_F(FactoryOverPcsc, ReadersByNumberAndTheGroupsProtocols) {
    InsertCard(test::VpcdCardModel::AtrBoth, false);
    m_settings.AddSetting("transport_protocols", "T0", Set);
    const std::shared_ptr<CardService> first = Create("#0");
    first->PowerOn();
    auto* reader = dynamic_cast<PCSC_Reader*>(first->GetReader());
    ASSERT_NE(reader, nullptr);
    EXPECT_EQ(reader->GetReaderName(), PrivatePcscd::Reader0);
    EXPECT_EQ(reader->GetActiveProtocol(), static_cast<DWORD>(SCARD_PROTOCOL_T0));
    EXPECT_EQ(Create("#1")->GetReaderName(), PrivatePcscd::Reader1);
    EXPECT_EQ(test::MessageOf([&] { m_factory.GetReaderName("reader2", "#2", m_settings); }),
              "Считка с указанным номером 2 не подключена");
    EXPECT_EQ(test::MessageOf([&] { m_factory.GetReaderName("reader2", "#0", m_settings); }),
              std::string("Попытка выбрать reader2 = ") + PrivatePcscd::Reader0 + ", который уже используется");
}

TEST_F(FactoryOverPcsc, TableNamesOfPcscKindsBuildPcscReadersAndOnlyOmnikeyClEmulatesMifare) {
    CardServiceSettings cardSettings;
    cardSettings.readerName = "#MP300_CL";
    const std::unique_ptr<iReader> mp300 =
        CardServiceFactory::CreateReader(cardSettings, 17, ReaderParams(), m_settings, m_log.get());
    EXPECT_EQ(dynamic_cast<PCSC_Reader&>(*mp300).GetMifareState(), 2u);  // not asked for
    m_settings.AddSetting("mifare_emulation", "1", Set);
    cardSettings.readerName = "OMNIKEY CardMan 5x21-CL 0";
    const std::unique_ptr<iReader> omnikey =
        CardServiceFactory::CreateReader(cardSettings, 7, ReaderParams(), m_settings, m_log.get());
    EXPECT_EQ(dynamic_cast<PCSC_Reader&>(*omnikey).GetMifareState(), PCSC_Reader::MifareRequested);
}

// The console's wait for the card, over the process-wide framework.
TEST_F(FactoryOverPcsc, WaitForCardFollowsInsertionAndRemoval) {
    SettingsDatabase settings;
    for (const auto& [key, value] : {std::pair{"reader", PrivatePcscd::Reader0}, std::pair{"power_on", "0"},
                                     std::pair{"file_log_on", "0"}, std::pair{"console_log_on", "0"}})
        settings.AddSetting(key, value, Set);
    InitFramework(settings);
    const auto started = std::chrono::steady_clock::now();
    std::thread inserter([this] {
        std::this_thread::sleep_for(std::chrono::milliseconds(150));
        InsertCard();
    });
    WaitForCard(true);
    inserter.join();
    EXPECT_GE(std::chrono::steady_clock::now() - started, std::chrono::milliseconds(150));
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
