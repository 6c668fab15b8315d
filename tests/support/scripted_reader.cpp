#include "support/scripted_reader.h"

#include "service/common/printf.h"

namespace ZORVIK::test {

void ScriptedReader::PowerOn(ATR& atr) {
    events.push_back("on");
    powered = true;
    atr.SetAtr(GetATR());
}

void ScriptedReader::PowerOff() {
    events.push_back("off");
    powered = false;
}

void ScriptedReader::Reset(ATR& atr) {
    events.push_back("reset");
    if (!powered) throw CardDrvException(NoCardMessage, CardDrvError::NoCard);
    atr.SetAtr(GetATR());
    if (onReset) onReset();
}

void ScriptedReader::Command(const CApdu& command, RApdu& response) {
    events.push_back("cmd");
    sent.push_back(command);
    if (!powered) throw CardDrvException(NoCardMessage, CardDrvError::NoCard);
    auto queue = m_answers.find({command.cla, command.ins});
    if (queue == m_answers.end() || queue->second.empty()) {
        throw Exception(SafePrintf("ScriptedReader: no answer queued for CLA %02X INS %02X", command.cla, command.ins),
                        SourcePlace());
    }
    response = queue->second.front();
    queue->second.pop_front();
}

}  // namespace ZORVIK::test
