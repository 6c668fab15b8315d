// Thousands of T=1 commands against a card model that injects random faults:
// every command either completes with its own response or ends in the card
// reset and a reader-driver error; none hangs.
#include <gtest/gtest.h>

#include <random>

#include "sc/exchange/capdu_rapdu.h"
#include "sc/exchange/protocol_t1.h"
#include "sc/exchange/reader.h"
#include "support/t0_card_model.h"
#include "support/t1_card_model.h"

namespace ZORVIK {
namespace {

using binary::Binary;
using test::ModelReader;
using test::T1CardModel;
using test::T1Fault;

// The response depends on every byte of the command, so that an answer that
// belongs to another command (or to a part of this one) cannot pass.
RApdu SoakApplication(const CApdu& command) {
    uint32_t state = 2166136261u;
    auto mix = [&state](uint8_t byte) { state = (state ^ byte) * 16777619u; };
    for (uint8_t byte : {command.cla, command.ins, command.p1, command.p2}) mix(byte);
    for (uint8_t byte : command.data) mix(byte);
    mix(static_cast<uint8_t>(command.ne));
    mix(static_cast<uint8_t>(command.data.size()));
    RApdu response;
    const size_t length = std::min<size_t>(command.ne, 300);
    for (size_t i = 0; i < length; ++i) {
        mix(static_cast<uint8_t>(i));
        response.data.push_back(static_cast<uint8_t>(state >> 24));
    }
    response.sw1 = 0x90;
    response.sw2 = static_cast<uint8_t>(state);
    return response;
}

TEST(T1Soak, EveryCommandEndsWithItsOwnResponseOrTheDocumentedFailure) {
    std::mt19937 random(20261206u);
    constexpr T1Fault Faults[] = {T1Fault::Lose,         T1Fault::CorruptEdc,   T1Fault::WrongLen,
                                  T1Fault::RejectOther,  T1Fault::RejectParity, T1Fault::RequestWtx,
                                  T1Fault::RequestIfs,   T1Fault::AbortChain};
    std::uniform_int_distribution<size_t> pickFault(0, std::size(Faults) - 1);
    std::bernoulli_distribution faulty(0.08);

    ModelReader reader;
    T1CardModel card(SoakApplication);
    card.faultSource = [&] { return faulty(random) ? Faults[pickFault(random)] : T1Fault::None; };
    reader.onReset = [&] { card.Reset(); };
    ByteLink_T1 engine(&reader, &card, nullptr);

    std::uniform_int_distribution<size_t> dataLength(0, 300);
    std::uniform_int_distribution<uint32_t> ne(0, 400);
    std::uniform_int_distribution<int> byte(0, 255);
    constexpr int Commands = 4000;
    int completed = 0;
    int failed = 0;
    for (int i = 0; i < Commands; ++i) {
        Binary data(dataLength(random));
        for (uint8_t& b : data) b = static_cast<uint8_t>(byte(random));
        const CApdu command(0x80, 0x10, static_cast<uint8_t>(i >> 8), static_cast<uint8_t>(i), data, ne(random));
        RApdu response;
        const int resetsBefore = reader.resets;
        try {
            engine.Command(command, response);
        } catch (const CardDrvException& error) {
            ++failed;
            EXPECT_EQ(0, error.ErrorCode()) << "command " << i;
            EXPECT_EQ(resetsBefore + 1, reader.resets) << "command " << i << ": " << error.what();
            EXPECT_TRUE(response.data.empty());
            EXPECT_EQ(0, response.GetSW());
            continue;
        }
        ++completed;
        EXPECT_EQ(resetsBefore, reader.resets) << "command " << i;
        const RApdu expected = SoakApplication(command);
        ASSERT_EQ(expected.data, response.data) << "command " << i;
        ASSERT_EQ(expected.GetSW(), response.GetSW()) << "command " << i;
    }
    EXPECT_EQ(Commands, completed + failed);
    // The faults are rare enough that recovery, not failure, is the rule.
    EXPECT_GT(completed, Commands * 9 / 10);
    EXPECT_GT(card.resynchs, 0);
    std::printf("T=1 soak: %d completed, %d failed with reset, %d resynchronisations\n", completed, failed,
                card.resynchs);
}

}  // namespace
}  // namespace ZORVIK
