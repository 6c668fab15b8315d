// A card at the character level of T=0 (ISO/IEC 7816-3, clause 10) behind the
// byte link of the engines: procedure bytes and the 61xx and 6Cxx answers.
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "sc/exchange/byte_link.h"
#include "sc/exchange/capdu_rapdu.h"
#include "sc/exchange/reader.h"

namespace ZORVIK::test {

// What runs behind a card model: a whole command APDU in, its response out.
using CardApplication = std::function<RApdu(const CApdu&)>;

class T0CardModel : public iByteLink {
public:
    explicit T0CardModel(CardApplication application);

    // INS codes whose P3 is Lc, so that data follows the ACK.
    std::set<uint8_t> incomingIns{0x0E, 0x20, 0x22, 0x24, 0x2A, 0x82, 0x88, 0xA4, 0xD6, 0xDA, 0xE0, 0xE2, 0xE4};
    std::optional<size_t> silentAfter;      // stop answering once this many bytes went out
    std::deque<binary::Binary> rawAnswers;  // answers the next headers with these bytes instead

    // Each 5-byte header the card received, and the commands the application ran.
    std::vector<binary::Binary> headers;
    std::vector<CApdu> commands;

    void SendBytes(const uint8_t* bytes, uint32_t count) override;
    bool ReceiveByte(uint8_t& byte) override;

private:
    void OnHeader();
    void OnData();
    void Answer(const RApdu& response);
    void Put(const binary::Binary& bytes);

    CardApplication m_application;
    binary::Binary m_input;
    binary::Binary m_header;
    bool m_awaitingData = false;
    binary::Binary m_pending;
    uint8_t m_pendingSw1 = 0x90;
    uint8_t m_pendingSw2 = 0x00;
    std::deque<uint8_t> m_output;
    size_t m_sent = 0;
};

}  // namespace ZORVIK::test
