// Reading the card-OS version from the card: GET CARD INFO answers 32 bytes of
// which bytes 16..31 hold the version text, padded with zero bytes.
#include <memory>

#include "sc/card_service/apdu_printer.h"
#include "sc/card_service/card_service.h"
#include "sc/card_service/os_info.h"

namespace ZORVIK {

namespace {

constexpr uint32_t CardInfoLength = 32;
constexpr uint32_t VersionOffset = 16;
constexpr uint32_t VersionLength = 16;

}  // namespace

CApdu OsInfo::MakeGetCardInfoCommand() {
    return CApdu(0x80, 0x06, 0x03, 0x00, CardInfoLength,
                 std::make_shared<StandardPrinter>("GET CARD INFO (OS Version)"));
}

void OsInfo::OsVersionAutoDetect(iCardService& cardService) {
    const RApdu& answer = cardService.SetPlace(ZORVIK_PLACE("ZORVIK::OsInfo::OsVersionAutoDetect"))
                              .Command(MakeGetCardInfoCommand(), ST_OK);
    const binary::Binary versionBytes = binary::Slice(answer.data, VersionOffset, VersionLength);
    std::string text(versionBytes.begin(), versionBytes.end());
    const size_t end = text.find_last_not_of('\0');
    text.erase(end == std::string::npos ? 0 : end + 1);
    Parse(text);
}

}  // namespace ZORVIK
