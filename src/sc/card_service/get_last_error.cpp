#include "sc/card_service/get_last_error.h"

#include <algorithm>

#include "sc/card_service/apdu_printer.h"
#include "sc/card_service/expected_status.h"
#include "sc/card_service/status_words.h"
#include "sc/exchange/reader.h"
#include "service/common/printf.h"

namespace ZORVIK {

namespace {

constexpr size_t ErrorCodeLength = 2;
// Error code, line number, then at least one byte of the place text.
constexpr size_t AssertionMinLength = 5;

}  // namespace

CApdu MakeGetLastErrorCommand() {
    return CApdu(0x80, 0xFE, 0x00, 0x00, 256, std::make_shared<StandardPrinter>("GET LAST ERROR"));
}

std::string SendGetLastError(iReader& reader, const std::string& product) {
    RApdu answer;
    reader.Command(MakeGetLastErrorCommand(), answer);
    ZORVIK_CHECK("ZORVIK::CardService::SendGetLastError", IsSuccessStatus(answer.GetSW()),
                 "GET LAST ERROR не отработал");

    const binary::Binary& data = answer.data;
    const std::string code = binary::ToHex(binary::Slice(data, 0, std::min(data.size(), ErrorCodeLength)), 0);
    if (data.size() == ErrorCodeLength) {
        return "Код исключения: " + code +
               DescribeCardException(product, static_cast<uint16_t>(data[0] << 8 | data[1]));
    }
    ZORVIK_CHECK("ZORVIK::CardService::SendGetLastError", data.size() >= AssertionMinLength,
                 "Некорректный размер ответа в GET LAST ERROR");
    const unsigned line = static_cast<unsigned>(data[2] << 8 | data[3]);
    // The place is a text on the card; a terminating zero ends it.
    const auto placeEnd = std::find(data.begin() + 4, data.end(), 0);
    const std::string place(data.begin() + 4, placeEnd);
    return "Assert " + code + ".\nМесто возникновения на карте:\n" + place + SafePrintf(" (%u)", line);
}

std::string DescribeLastError(iReader& reader, const std::string& product) {
    try {
        return SendGetLastError(reader, product);
    } catch (const Exception& failure) {
        return failure.Message();
    }
}

}  // namespace ZORVIK
