// A reader driven by a script: each command gets the next answer queued for its
// CLA and INS, and everything the reader was asked to do is recorded.
#pragma once

#include <deque>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "sc/exchange/reader.h"

namespace ZORVIK::test {

class ScriptedReader : public iReader {
public:
    explicit ScriptedReader(const binary::Binary& atr = binary::Binary("3B 02 14 50"));

    // The next command with this CLA and INS gets response (canonical bytes: data
    // then SW1 SW2, as hex text). Answers for one CLA/INS are used in queue order.
    void QueueAnswer(uint8_t cla, uint8_t ins, const std::string& response);
    // Answers left unused.
    size_t PendingAnswers() const;

    // What the reader was asked, in order: "on", "off", "reset" and "cmd".
    const std::vector<std::string>& Events() const { return m_events; }
    // Every command as it reached the reader.
    const std::vector<CApdu>& Sent() const { return m_sent; }

    const ReaderParams& GetParams() const override { return m_params; }
    void PowerOn(ATR& atr) override;
    void PowerOff() override;
    // Throws the reader-driver "no card" error when the card is not powered.
    void Reset(ATR& atr) override;
    binary::Binary GetATR() const override { return m_atr; }
    // Throws when the card is not powered or no answer is queued for the command.
    void Command(const CApdu& command, RApdu& response) override;
    bool IsPowered() const override { return m_powered; }
    CardExchParam& GetCardExchParam(CardExchParam& param) override;

private:
    ReaderParams m_params;
    binary::Binary m_atr;
    bool m_powered = false;
    std::map<std::pair<uint8_t, uint8_t>, std::deque<RApdu>> m_answers;
    std::vector<std::string> m_events;
    std::vector<CApdu> m_sent;
};

}  // namespace ZORVIK::test
