// qxw over real PC/SC: a private pcscd serves vpcd's readers with the virtual
// card of the tests in the first; qxw reaches that daemon through its socket.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>

#include "apps/qxw_process.h"
#include "service/common/binary.h"
#include "support/pcsc_fixture.h"
#include "support/test_dir.h"
#include "support/vpcd_card.h"

namespace ZORVIK {
namespace {

using test::Contains;
using test::PrivatePcscd;
using test::QxwRun;
using test::VpcdCardModel;

class QxwOverPcsc : public test::PcscdTest {
protected:
    void SetUp() override {
        test::PcscdTest::SetUp();
        if (IsSkipped() || HasFatalFailure()) return;
        m_card = std::make_unique<test::VpcdCard>(VpcdCardModel::AtrT1);
        m_card->Model().SetT1(true);
        ASSERT_TRUE(m_card->Insert(Pcscd().CardPort())) << "vpcd did not take the virtual card";
        ASSERT_TRUE(Pcscd().WaitForCard(PrivatePcscd::Reader0, true)) << "pcscd did not see the card";
    }
    void TearDown() override {
        if (m_card) {
            m_card->Remove();
            Pcscd().WaitForCard(PrivatePcscd::Reader0, false);
        }
    }

    QxwRun Run(const std::vector<std::string>& args) {
        const std::string socket = Pcscd().SocketEnvironment();
        const size_t equals = socket.find('=');
        return test::RunQxw(args, m_dir, {{socket.substr(0, equals), socket.substr(equals + 1)}});
    }

    const std::string m_dir = test::TestDir();
    std::unique_ptr<test::VpcdCard> m_card;
};

// By name, by "#PCSC" (the one reader with a card), and an empty reader by name.
TEST_F(QxwOverPcsc, ReaderChosenByNameOrByPcscRequest) {
    QxwRun run = Run({std::string("-reader=") + PrivatePcscd::Reader0, "-af=skarna"});
    ASSERT_EQ(run.exitCode, 0) << run.out << run.err;
    EXPECT_TRUE(Contains(run.out, std::string("| Reader : ") + PrivatePcscd::Reader0 + " |")) << run.out;
    EXPECT_TRUE(Contains(run.out, "ATR: 3B 80 01 81\n")) << run.out;
    EXPECT_TRUE(Contains(run.out, "Power off\n"));
    EXPECT_TRUE(std::filesystem::exists(m_dir + "skarna.log"));
    EXPECT_GT(m_card->Model().PowerOnCount(), 0);

    run = Run({"-reader=#PCSC"});
    ASSERT_EQ(run.exitCode, 0) << run.out << run.err;
    EXPECT_TRUE(Contains(run.out, std::string("| Reader : ") + PrivatePcscd::Reader0 + " |")) << run.out;
    EXPECT_TRUE(Contains(run.out, "ATR: 3B 80 01 81\n"));
    run = Run({std::string("-reader=") + PrivatePcscd::Reader1});
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_TRUE(Contains(run.out, "Card not inserted")) << run.out;
}

}  // namespace
}  // namespace ZORVIK
