// Thousands of T=1 commands against a card model that injects random faults,
// single ones or bursts: every command either completes with its own response
// or ends in the card reset and a reader-driver error, within a bound of blocks.
#include <gtest/gtest.h>

#include <algorithm>
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

// What became of the commands of a soak.
struct SoakFigures {
    int commands = 0;
    int completed = 0;
    int failed = 0;
    size_t mostBlocks = 0;  // the largest number of blocks the card received for one command
};

// One command of a soak: it completes with its own response, or the card is
// reset once and the reader-driver error (code 0) comes with the response cleared.
void SoakCommand(ByteLink_T1& engine, const T1CardModel& card, const ModelReader& reader, const CApdu& command,
                 SoakFigures& figures) {
    const size_t blocksBefore = card.received.size();
    const int resetsBefore = reader.resets;
    RApdu response;
    ++figures.commands;
    try {
        engine.Command(command, response);
        ++figures.completed;
        EXPECT_EQ(resetsBefore, reader.resets);
        const RApdu expected = SoakApplication(command);
        EXPECT_EQ(expected.data, response.data);
        EXPECT_EQ(expected.GetSW(), response.GetSW());
    } catch (const CardDrvException& error) {
        ++figures.failed;
        EXPECT_EQ(0, error.ErrorCode());
        EXPECT_EQ(resetsBefore + 1, reader.resets) << error.what();
        EXPECT_TRUE(response.data.empty());
        EXPECT_EQ(0, response.GetSW());
    }
    figures.mostBlocks = std::max(figures.mostBlocks, card.received.size() - blocksBefore);
}

// A command of 0 to 300 data bytes expecting 0 to 400 bytes: up to 10 pieces
// each way at IFSC 32.
CApdu SoakCommandNumber(int i, std::mt19937& random) {
    std::uniform_int_distribution<size_t> dataLength(0, 300);
    std::uniform_int_distribution<uint32_t> ne(0, 400);
    std::uniform_int_distribution<int> byte(0, 255);
    Binary data(dataLength(random));
    for (uint8_t& b : data) b = static_cast<uint8_t>(byte(random));
    return CApdu(0x80, 0x10, static_cast<uint8_t>(i >> 8), static_cast<uint8_t>(i), data, ne(random));
}

TEST(T1Soak, EveryCommandEndsWithItsOwnResponseOrTheDocumentedFailure) {
    std::mt19937 random(20261206u);
    constexpr T1Fault Faults[] = {T1Fault::Lose,         T1Fault::CorruptEdc, T1Fault::WrongLen,   T1Fault::RejectOther,
                                  T1Fault::RejectParity, T1Fault::RequestWtx, T1Fault::RequestIfs, T1Fault::AbortChain};
    std::uniform_int_distribution<size_t> pickFault(0, std::size(Faults) - 1);
    std::bernoulli_distribution faulty(0.08);

    ModelReader reader;
    T1CardModel card(SoakApplication);
    card.faultSource = [&] { return faulty(random) ? Faults[pickFault(random)] : T1Fault::None; };
    reader.onReset = [&] { card.Reset(); };
    ByteLink_T1 engine(&reader, &card, nullptr);

    SoakFigures figures;
    for (int i = 0; i < 4000; ++i) SoakCommand(engine, card, reader, SoakCommandNumber(i, random), figures);
    // The faults are rare enough that recovery, not failure, is the rule.
    EXPECT_GT(figures.completed, figures.commands * 9 / 10);
    EXPECT_GT(card.resynchs, 0);
    std::printf("T=1 soak: %d completed, %d failed with reset, %d resynchronisations\n", figures.completed,
                figures.failed, card.resynchs);
}

// Bursts of 1 to 8 faults in a row, of every kind, over LRC and CRC, half the
// commands starting with an IFSC above 32.
TEST(T1Soak, EveryCommandEndsWithinTheBlockBoundUnderBurstsOfFaults) {
    constexpr T1Fault Kinds[] = {
        T1Fault::Lose,       T1Fault::Garble,      T1Fault::WrongLen,     T1Fault::ShortLen,
        T1Fault::CorruptEdc, T1Fault::RejectOther, T1Fault::RejectParity, T1Fault::MuteUnlessResynch,
        T1Fault::RequestWtx, T1Fault::RequestIfs,  T1Fault::AbortChain};
    // Without faults a command takes at most 19 blocks (10 pieces, 9 R-blocks
    // for the rest of the response). Each fault costs at most a resend and one
    // S(RESYNCH request), and each of the at most 3 resynchronisations a fresh
    // start of the command (10 pieces).
    constexpr size_t MaxBlocksPerCommand = 19 + 8 * 2 + 3 * 10;
    constexpr int CommandsPerEdc = 3000;
    std::mt19937 random(20261207u);
    std::uniform_int_distribution<size_t> pickKind(0, std::size(Kinds) - 1);
    std::uniform_int_distribution<int> cleanBlocks(0, 4);
    std::uniform_int_distribution<int> burstLength(1, 8);
    std::uniform_int_distribution<int> largeIfsc(33, 254);
    std::bernoulli_distribution startsWithLargeIfsc(0.5);

    SoakFigures figures;
    int faults = 0;
    for (const uint8_t edcLength : {uint8_t{1}, uint8_t{2}}) {
        ModelReader reader;
        T1CardModel card(SoakApplication, edcLength);
        reader.onReset = [&] { card.Reset(); };
        ByteLink_T1 engine(&reader, &card, nullptr);
        engine.SetEdcLength(edcLength);
        for (int i = 0; i < CommandsPerEdc; ++i) {
            if (startsWithLargeIfsc(random)) {
                ASSERT_TRUE(engine.NegotiateIfs(static_cast<uint8_t>(largeIfsc(random))));
            }
            card.faults.assign(static_cast<size_t>(cleanBlocks(random)), T1Fault::None);
            const int burst = burstLength(random);
            for (int f = 0; f < burst; ++f) card.faults.push_back(Kinds[pickKind(random)]);
            SoakCommand(engine, card, reader, SoakCommandNumber(i, random), figures);
            // Faults the command ended before are not counted or carried over.
            faults += burst - static_cast<int>(std::min<size_t>(burst, card.faults.size()));
            card.faults.clear();
        }
    }
    EXPECT_LE(figures.mostBlocks, MaxBlocksPerCommand);
    EXPECT_EQ(figures.commands, figures.completed + figures.failed);
    EXPECT_GT(figures.completed, 0);
    EXPECT_GT(figures.failed, 0);
    std::printf(
        "T=1 burst soak: %d commands, %d faults, %d completed, %d reset + error, at most %zu blocks "
        "for one command (bound %zu)\n",
        figures.commands, faults, figures.completed, figures.failed, figures.mostBlocks, MaxBlocksPerCommand);
}

}  // namespace
}  // namespace ZORVIK
