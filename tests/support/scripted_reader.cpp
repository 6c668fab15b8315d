#include "support/scripted_reader.h"

#include "service/common/printf.h"

namespace ZORVIK::test {

ScriptedReader::ScriptedReader(const binary::Binary& atr) : m_atr(atr) {}

void ScriptedReader::QueueAnswer(uint8_t cla, uint8_t ins, const std::string& response) {
    m_answers[{cla, ins}].push_back(RApdu(binary::Binary(response)));
}

size_t ScriptedReader::PendingAnswers() const {
    size_t count = 0;
    for (const auto& entry : m_answers) count += entry.second.size();
    return count;
}

void ScriptedReader::PowerOn(ATR& atr) {
    m_events.push_back("on");
    m_powered = true;
    atr.SetAtr(m_atr);
}

void ScriptedReader::PowerOff() {
    m_events.push_back("off");
    m_powered = false;
}

void ScriptedReader::Reset(ATR& atr) {
    m_events.push_back("reset");
    if (!m_powered) throw CardDrvException(NoCardMessage, CardDrvError::NoCard);
    atr.SetAtr(m_atr);
}

void ScriptedReader::Command(const CApdu& command, RApdu& response) {
    m_events.push_back("cmd");
    m_sent.push_back(command);
    if (!m_powered) throw CardDrvException(NoCardMessage, CardDrvError::NoCard);
    auto queue = m_answers.find({command.cla, command.ins});
    if (queue == m_answers.end() || queue->second.empty()) {
        throw Exception(SafePrintf("ScriptedReader: no answer queued for CLA %02X INS %02X", command.cla, command.ins),
                        SourcePlace());
    }
    response = queue->second.front();
    queue->second.pop_front();
}

CardExchParam& ScriptedReader::GetCardExchParam(CardExchParam& param) {
    param = CardExchParam();
    return param;
}

}  // namespace ZORVIK::test
