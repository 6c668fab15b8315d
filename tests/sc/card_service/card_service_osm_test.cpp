// The card service end to end over the simulated-card reader.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "sc/card_service/apdu_printer.h"
#include "sc/card_service/apdu_writer.h"
#include "sc/card_service/card_exception.h"
#include "sc/card_service/card_service.h"
#include "sc/drivers/osm/osm_reader.h"
#include "service/log/recording_log.h"
#include "support/test_dir.h"

namespace ZORVIK {
namespace {

using binary::Binary;

class CardServiceOverOsm : public ::testing::Test {
protected:
    CardServiceOverOsm() : m_log(std::make_shared<test::RecordingLog>()) {
        std::filesystem::remove(m_logPath);
        m_reader = std::make_shared<OSMReader>(ReaderSpec(), m_log.get());
        m_service = std::make_unique<CardService>(CardServiceSettings(), m_reader, m_log,
                                                  BaseApduWriter::Create(BaseApduWriter::Skarna, m_logPath, 2));
    }
    ~CardServiceOverOsm() override {
        m_service.reset();
        std::filesystem::remove(m_logPath);
    }

    std::string ApduLog() const {
        std::ifstream in(m_logPath, std::ios::binary);
        std::stringstream text;
        text << in.rdbuf();
        return text.str();
    }

    bool Logged(const std::string& text) const {
        for (const LogRecord& record : m_log->records) {
            if (record.text == text) return true;
        }
        return false;
    }

    const std::string m_logPath = test::TestDir() + "card_service_osm_" +
                                  ::testing::UnitTest::GetInstance()->current_test_info()->name() + ".skarna";
    std::shared_ptr<test::RecordingLog> m_log;
    std::shared_ptr<OSMReader> m_reader;
    std::unique_ptr<CardService> m_service;
};

TEST_F(CardServiceOverOsm, PowerOnCommandAndPowerOffAreLogged) {
    m_service->PowerOn();
    EXPECT_TRUE(m_reader->IsPowered());
    EXPECT_TRUE(Logged("ATR: 3B D8 18 00 81 31 FE 45 5A 4F 52 56 49 4B 4F 53 C4\n\n"));

    // The simulated card knows no instruction of this build: 6D00 is what it answers.
    const CApdu getData(0x80, 0xCA, 0x9F, 0x7F, 0x2D, std::make_shared<StandardPrinter>("GET DATA"));
    const RApdu& response = m_service->Command(getData, ST_ERR);
    EXPECT_EQ(response.GetSW(), 0x6D00);
    EXPECT_TRUE(response.data.empty());
    EXPECT_TRUE(Logged("Status: 6D00 (INS не поддерживается (неизвестная команда))\n" + std::string(64, '=') + "\n"));

    m_service->PowerOff();
    EXPECT_FALSE(m_reader->IsPowered());
    EXPECT_EQ(ApduLog(), "\non\n\n; GET DATA, \no 80 CA 9F 7F 2D | ERR\n\noff\n");
}

TEST_F(CardServiceOverOsm, CommandToAnUnpoweredCardPassesTheReaderError) {
    try {
        m_service->Command(CApdu(0x00, 0xA4, 0x00, 0x0C, Binary("3F00")), ST_ANY);
        FAIL() << "no error";
    } catch (const CardException& e) {
        FAIL() << "card exception: " << e.what();
    } catch (const Exception& e) {
        EXPECT_STREQ(e.what(), "No Card in Reader or Card is Powered Off");
    }
    EXPECT_EQ(ApduLog(), "");
}

}  // namespace
}  // namespace ZORVIK
