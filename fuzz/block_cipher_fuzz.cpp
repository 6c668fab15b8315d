// Arbitrary data, IVs, modes and padding kinds through the block ciphers, the
// way a card-OS model hands them over: every call either works or throws
// ZORVIK::Exception, nothing is read or written past a buffer, and whatever
// Encrypt accepted with padding 1 Decrypt gives back unchanged. The
// first bytes pick cipher, mode, padding, IV length and the cut of a chain; the
// rest is the key, then the IV, then the data.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <memory>

#include "service/common/binary.h"
#include "service/common/exception.h"
#include "service/cryptlib/sym/aes.h"
#include "service/cryptlib/sym/des.h"
#include "service/cryptlib/sym/gost28147.h"
#include "service/cryptlib/sym/gost3412m.h"

namespace {

using ZORVIK::binary::Binary;

std::unique_ptr<ZORVIK::BlockCipher> MakeCipher(uint8_t pick, const uint8_t* key) {
    switch (pick % 7) {
        case 0: return std::make_unique<ZORVIK::DES>(Binary(key, key + 8), 1, 0);
        case 1: return std::make_unique<ZORVIK::TriDES>(Binary(key, key + 16), 2, 1);
        case 2: return std::make_unique<ZORVIK::AES>(Binary(key, key + 16), 1, 0);
        case 3: return std::make_unique<ZORVIK::AES>(Binary(key, key + 32), 3, 0);
        case 4: {
            auto cipher = std::make_unique<ZORVIK::GOST28147>(Binary(key, key + 32), uint32_t(pick / 7 % 11), 1, 0, 4);
            cipher->SetMeshingMode(pick / 77 % 3);
            return cipher;
        }
        case 5: return std::make_unique<ZORVIK::GOST3412M>(Binary(key, key + 32), 8, 1, 0);
        default: return std::make_unique<ZORVIK::GOST3412M>(Binary(key, key + 32), 4, 1, 1);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    constexpr size_t Header = 5, KeyBytes = 32;
    if (size < Header + KeyBytes) return 0;
    const uint8_t cipherPick = data[0];
    const uint32_t mode = data[1] % 7;
    const uint32_t padding = data[2] % 5;
    const size_t ivLength = data[3] % 25;
    const size_t cut = data[4];
    const uint8_t* rest = data + Header + KeyBytes;
    const size_t restSize = size - Header - KeyBytes;
    if (restSize < ivLength) return 0;
    const Binary iv(rest, rest + ivLength);
    const Binary message(rest + ivLength, rest + restSize);

    std::unique_ptr<ZORVIK::BlockCipher> cipher = MakeCipher(cipherPick, data + Header);
    try {
        const Binary encrypted = cipher->Encrypt(message, mode, padding, iv);
        // Padding 1 is the one that every cipher removes again (GOST 28147-89 with
        // key meshing leaves any other padding in place).
        if (padding == ZORVIK::PADDING_ISO9797_M2) {
            if (cipher->Decrypt(encrypted, mode, padding, iv) != message) __builtin_trap();
        }
    } catch (const ZORVIK::Exception&) {
    }
    try {
        // A chain cut at a block boundary: the first piece, then the rest as the last.
        const size_t first = std::min(message.size(), cut / 8 * 8);
        Binary out = cipher->EncryptFirst(Binary(message.begin(), message.begin() + first), mode, padding, iv);
        out += cipher->EncryptNext(Binary(message.begin() + first, message.end()), true);
        (void)cipher->DecryptFirst(Binary(out.begin(), out.begin() + first), mode, padding, iv);
        (void)cipher->DecryptNext(Binary(out.begin() + first, out.end()), true);
    } catch (const ZORVIK::Exception&) {
    }
    try {
        Binary ccsIv = iv;
        const Binary ccs = cipher->CalcCCS(message, ccsIv);
        if (ccs.size() > cipher->GetBlockSize()) __builtin_trap();
    } catch (const ZORVIK::Exception&) {
    }
    try {
        Binary inPlace = message, processIv = iv;
        cipher->Process(inPlace, processIv, mode, data[1] / 7 % 3);
        if (inPlace.size() != message.size()) __builtin_trap();
    } catch (const ZORVIK::Exception&) {
    }
    return 0;
}
