// GP_SM on the card service's secure road over the simulated card, which
// answers every command with 6D00: the wire carries the wrapped command, and a
// wire status the caller did not expect is reported without uncovering.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "sc/appslib/gp/gp_sm.h"
#include "sc/card_service/apdu_writer.h"
#include "sc/card_service/card_exception.h"
#include "sc/card_service/card_service.h"
#include "sc/drivers/osm/osm_reader.h"
#include "service/log/recording_log.h"
#include "support/test_dir.h"

namespace ZORVIK {
namespace {

using binary::Binary;
using testing::HasSubstr;

// Session keys and commands of the pySim trace in tests/data/gp/scp02.vec.
const Binary kSMac("29A69328E60494982632039DDD47A2F1");
const Binary kSEnc("1BA074B31F72A6C44FE8F5D9AFE4DA2F");

class GpSmOverSimulatedCard : public ::testing::Test {
protected:
    GpSmOverSimulatedCard() : m_log(std::make_shared<test::RecordingLog>()) {
        std::filesystem::remove(m_logPath);
        m_reader = std::make_shared<OSMReader>(ReaderSpec(), m_log.get());
        m_service = std::make_unique<CardService>(CardServiceSettings(), m_reader, m_log,
                                                  BaseApduWriter::Create(BaseApduWriter::Skarna, m_logPath, 2));
        m_service->PowerOn();
    }
    ~GpSmOverSimulatedCard() override {
        m_service.reset();
        std::filesystem::remove(m_logPath);
    }

    // The APDU log with blanks, line breaks and continuation marks taken out, so
    // that a command's header and data read as one run of hex digits.
    std::string ApduLogDigits() const {
        std::ifstream in(m_logPath, std::ios::binary);
        std::stringstream text;
        text << in.rdbuf();
        std::string digits;
        for (char c : text.str()) {
            if (c != ' ' && c != '\\' && c != '\n') digits += c;
        }
        return digits;
    }

    const std::string m_logPath =
        test::TestDir() + "gp_sm_osm_" + ::testing::UnitTest::GetInstance()->current_test_info()->name() + ".skarna";
    std::shared_ptr<test::RecordingLog> m_log;
    std::shared_ptr<OSMReader> m_reader;
    std::unique_ptr<CardService> m_service;
    GP_SM m_sm{kSMac, kSEnc, GP_SM::LevelCMac, true};
};

TEST_F(GpSmOverSimulatedCard, MismatchingWireStatusIsReportedWithTheWireResponse) {
    const CApdu externalAuthenticate("8082010008 BA6961667737C5BC");
    try {
        m_service->Command(externalAuthenticate, m_sm, ST_OK);
        FAIL() << "no error";
    } catch (const CardException& e) {
        EXPECT_STREQ(e.what(), "Неправильный статус. Ожидался: OK, карта вернула: 6D00");
        EXPECT_EQ(e.Response().GetSW(), 0x6D00);
    }
    EXPECT_EQ(m_service->GetLastResponse().GetSW(), 0x6D00);
    EXPECT_EQ(m_service->GetLastCommand().Encode(), externalAuthenticate.Encode());
    // The reader got the wrapped command of the trace.
    EXPECT_THAT(ApduLogDigits(), HasSubstr("i84820100BA6961667737C5BCEBECE14C7D6A4376"));
    EXPECT_EQ(m_sm.GetLastCMac(), Binary("EBECE14C7D6A4376"));
}

TEST_F(GpSmOverSimulatedCard, ExpectedWireStatusIsUncoveredAndTheChainGoesOn) {
    EXPECT_THROW(m_service->Command(CApdu("8082010008 BA6961667737C5BC"), m_sm, ST_OK), CardException);
    const RApdu& response = m_service->Command(CApdu("80F22002"), m_sm, 0x6D00);
    EXPECT_EQ(response.GetSW(), 0x6D00);
    EXPECT_TRUE(response.data.empty());
    // The second command of the trace: its ICV is the encrypted C-MAC of the first.
    EXPECT_THAT(ApduLogDigits(), HasSubstr("84F2200214DB34FA4341DCA8"));
}

}  // namespace
}  // namespace ZORVIK
