#include "sc/appslib/gp/gp_sm.h"

#include <algorithm>
#include <string>

#include "sc/exchange/capdu_rapdu.h"
#include "service/common/exception.h"
#include "service/common/utilities.h"

namespace ZORVIK {

using binary::Binary;

namespace {

constexpr uint32_t kSessionKeyLength = 16;
constexpr uint32_t kMacLength = 8;
constexpr uint32_t kBlock = 8;
// SCP02 protects short commands only: Lc is one byte in the C-MAC input.
constexpr uint32_t kMaxShortData = 255;
constexpr uint32_t kMaxShortNe = 256;

constexpr uint8_t kClaFurtherInterindustry = 0x40;
constexpr uint8_t kClaSecureMessaging = 0x04;
constexpr uint8_t kClaSecureMessagingFurther = 0x20;
constexpr uint8_t kInsExternalAuthenticate = 0x82;

const Binary& CheckedSessionKey(const Binary& key, const char* name) {
    ZORVIK_CHECK_STR(
        "ZORVIK::GP_SM::GP_SM", key.size() == kSessionKeyLength,
        std::string("Сеансовый ключ ") + name + " имеет длину " + std::to_string(key.size()) + " байт, ожидается 16");
    return key;
}

// ISO/IEC 7816-4, 5.4.1: the secure-messaging indication is b3 of a first
// interindustry CLA and b6 of a further interindustry CLA.
uint8_t WithSecureMessaging(uint8_t cla) {
    return static_cast<uint8_t>(cla |
                                ((cla & kClaFurtherInterindustry) ? kClaSecureMessagingFurther : kClaSecureMessaging));
}

}  // namespace

GP_SM::GP_SM(const Binary& sMac, const Binary& sEnc, uint8_t securityLevel, bool icvEncryption)
    : m_sMac(CheckedSessionKey(sMac, "S-MAC")),
      // ISO/IEC 9797-1 MAC algorithm 3 with 80 00.. padding (method 2).
      m_macCipher(sMac, PADDING_ISO9797_M2, 1),
      m_encCipher(CheckedSessionKey(sEnc, "S-ENC"), PADDING_ISO9797_M2, 0),
      m_securityLevel(securityLevel),
      m_icvEncryption(icvEncryption) {
    ZORVIK_CHECK_STR(
        "ZORVIK::GP_SM::GP_SM", securityLevel == LevelCMac || securityLevel == LevelCMacAndCDecryption,
        "Неподдерживаемый уровень безопасности SCP02 " + NumToHex(securityLevel, 1) + ", ожидается 01 или 03");
}

Binary GP_SM::NextIcv() const {
    // The first command of the channel starts from a zero ICV.
    if (m_lastCMac.empty()) return Binary(kBlock, 0x00);
    Binary icv = m_lastCMac;
    if (m_icvEncryption) Des_EncryptBlock(m_sMac.data(), icv.data());
    return icv;
}

void GP_SM::WrapCommand(const CApdu& plain, CApdu& wrapped) {
    const char* function = "ZORVIK::GP_SM::WrapCommand";
    const bool encrypt = m_securityLevel == LevelCMacAndCDecryption && !plain.data.empty() &&
                         // EXTERNAL AUTHENTICATE is C-MACed but never encrypted.
                         plain.ins != kInsExternalAuthenticate;
    ZORVIK_CHECK_STR(function, !plain.extended && plain.ne <= kMaxShortNe,
                     "SCP02 защищает только короткие команды, Ne = " + std::to_string(plain.ne));
    const uint32_t maxData = GetMaxCommandDataSize(kMaxShortData);
    ZORVIK_CHECK_STR(function, plain.data.size() <= maxData,
                     "Данные команды (" + std::to_string(plain.data.size()) +
                         " байт) не помещаются в команду SCP02 на уровне " + NumToHex(m_securityLevel, 1) +
                         ": не более " + std::to_string(maxData) + " байт");

    // C-MAC over the modified header, Lc + 8 and the plain data.
    const uint8_t cla = WithSecureMessaging(plain.cla);
    Binary macInput{cla, plain.ins, plain.p1, plain.p2, static_cast<uint8_t>(plain.data.size() + kMacLength)};
    macInput += plain.data;
    Binary icv = NextIcv();
    const Binary cMac = m_macCipher.CalcCCS(macInput, icv);

    // Data encryption with S-ENC, CBC from a zero ICV.
    Binary data = encrypt ? m_encCipher.Encrypt(plain.data, CIPHER_MODE_CBC, PADDING_ISO9797_M2, Binary()) : plain.data;
    data += cMac;

    CApdu result = plain;
    result.cla = cla;
    result.data = std::move(data);
    wrapped = std::move(result);
    m_lastCMac = cMac;
}

void GP_SM::UncoverResponse(const RApdu& wrapped, RApdu& plain) { plain = wrapped; }

uint32_t GP_SM::GetMaxCommandDataSize(uint32_t size) {
    const uint32_t room = std::min(size, kMaxShortData);
    if (room < kMacLength) return 0;
    if (m_securityLevel == LevelCMac) return room - kMacLength;
    // Level 03: padding always adds 1..8 bytes, so the largest plain length
    // is one less than the whole blocks that fit beside the C-MAC.
    const uint32_t blocks = (room - kMacLength) / kBlock;
    return blocks == 0 ? 0 : blocks * kBlock - 1;
}

}  // namespace ZORVIK
