// The card-service factory over the hardware-model reader. The fixture's name
// puts this test under the lock of the model's fixed port 127.0.0.1:7816.
#include <gtest/gtest.h>

#include "sc/card_service/card_service.h"
#include "sc/card_service/expected_status.h"
#include "sc/drivers/qvl/qvl_reader.h"
#include "sc/qxw/card_service_factory.h"
#include "service/log/recording_log.h"
#include "service/program_settings/settings_database.h"
#include "support/qvl_server.h"

namespace ZORVIK {
namespace {

using binary::Binary;

TEST(QvlModelFactory, HardwareModelReaderWithTheGroupsTransportSettings) {
    test::QvlServer model([](const CApdu&) { return RApdu(Binary("0102 9000")); }, {});
    SettingsDatabase settings;
    settings.AddSetting("reader", "#QVL", Set);
    settings.AddSetting("power_on", "0", Set);
    settings.AddSetting("t", "T0", Set);
    CardServiceFactory factory(nullptr);
    const std::shared_ptr<CardService> service =
        factory.CreateCardService(settings, "reader", std::make_shared<test::RecordingLog>());
    ASSERT_NE(dynamic_cast<QVL_Reader*>(service->GetReader()), nullptr);
    EXPECT_EQ(service->GetReader()->GetParams().protocols, std::vector<uint32_t>{0});
    service->PowerOn();
    EXPECT_EQ(service->Command(CApdu(0x00, 0xCA, 0x01, 0x01, 2), ST_OK).data, Binary("0102"));
    // Power-off closes the process-wide link, so the model's connection ends.
    service->PowerOff();
    EXPECT_EQ(model.CardInput(), std::vector<Binary>{Binary("00CA010102")});
}

}  // namespace
}  // namespace ZORVIK
