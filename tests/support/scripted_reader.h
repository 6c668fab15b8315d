// A reader driven by a script: each command gets the next answer queued for its
// CLA and INS, and everything the reader was asked to do is recorded. It also
// stands for the reader of the transmission engines, which asks it only to reset
// (onReset lets a card model start over) or to power off.
#pragma once

#include <algorithm>
#include <deque>
#include <functional>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "sc/exchange/reader.h"

namespace ZORVIK::test {

class ScriptedReader : public iReader {
public:
    // The next command with this CLA and INS gets response (canonical bytes as
    // hex text: data then SW1 SW2). Answers for one CLA/INS go in queue order.
    void Queue(uint8_t cla, uint8_t ins, const std::string& response) {
        m_answers[{cla, ins}].push_back(RApdu(binary::Binary(response)));
    }

    const ReaderParams& GetParams() const override { return params; }
    void PowerOn(ATR& atr) override;
    void PowerOff() override;
    // Reset and Command throw the reader-driver "no card" error when the card is
    // not powered; Command also throws when no answer is queued for the command.
    void Reset(ATR& atr) override;
    binary::Binary GetATR() const override { return binary::Binary("3B 02 14 50"); }
    void Command(const CApdu& command, RApdu& response) override;
    bool IsPowered() const override { return powered; }
    CardExchParam& GetCardExchParam(CardExchParam& param) override { return param; }

    size_t Count(const std::string& event) const { return std::count(events.begin(), events.end(), event); }

    ReaderParams params;
    std::function<void()> onReset;
    bool powered = false;
    // What the reader was asked, in order: "on", "off", "reset" and "cmd"; and
    // every command as it reached the reader.
    std::vector<std::string> events;
    std::vector<CApdu> sent;

private:
    std::map<std::pair<uint8_t, uint8_t>, std::deque<RApdu>> m_answers;
};

}  // namespace ZORVIK::test
