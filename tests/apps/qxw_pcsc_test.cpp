// qxw over real PC/SC: a private pcscd serves vpcd's readers with the virtual
// card of the tests in the first; qxw reaches that daemon through its socket.
#include <gtest/gtest.h>

#include <filesystem>

#include "apps/qxw_process.h"
#include "support/pcsc_fixture.h"
#include "support/test_dir.h"

namespace ZORVIK {
namespace {

using test::Contains;
using test::PrivatePcscd;

using QxwOverPcsc = test::PcscdTest;

// By name, by "#PCSC" (the one reader with a card), and an empty reader by name.
TEST_F(QxwOverPcsc, ReaderChosenByNameOrByPcscRequest) {
    InsertCard();
    const std::string dir = test::TestDir();
    const std::string socket = Pcscd().SocketEnvironment();
    const size_t equals = socket.find('=');
    const std::map<std::string, std::string> environment = {{socket.substr(0, equals), socket.substr(equals + 1)}};
    for (const std::string reader : {PrivatePcscd::Reader0, "#PCSC"}) {
        const test::QxwRun run = test::RunQxw({"-reader=" + reader, "-af=skarna"}, dir, environment);
        ASSERT_EQ(run.exitCode, 0) << run.out << run.err;
        EXPECT_TRUE(Contains(run.out, std::string("| Reader : ") + PrivatePcscd::Reader0 + " |")) << run.out;
        EXPECT_TRUE(Contains(run.out, "ATR: 3B 80 01 81\n")) << run.out;
    }
    EXPECT_TRUE(std::filesystem::exists(dir + "skarna.log"));
    const test::QxwRun empty = test::RunQxw({std::string("-reader=") + PrivatePcscd::Reader1}, dir, environment);
    EXPECT_EQ(empty.exitCode, 1);
    EXPECT_TRUE(Contains(empty.out, "Card not inserted")) << empty.out;
}

}  // namespace
}  // namespace ZORVIK
