#include "sc/card_service/secure_messaging.h"

#include "sc/exchange/capdu_rapdu.h"

namespace ZORVIK {

void NULL_SM::WrapCommand(const CApdu& plain, CApdu& wrapped) { wrapped = plain; }

void NULL_SM::UncoverResponse(const RApdu& wrapped, RApdu& plain) { plain = wrapped; }

}  // namespace ZORVIK
