#include "service/cryptlib/sym/block_cipher.h"

#include "service/common/exception.h"

namespace ZORVIK {

using binary::Binary;

namespace {

constexpr uint8_t kPaddingMarker = 0x80;

void CheckNotEmpty(const char* function, const Binary& data) {
    ZORVIK_CHECK(function, !data.empty(), "Empty data is invalid");
}

bool NeedsWholeBlocks(uint32_t mode) { return mode == CIPHER_MODE_ECB || mode == CIPHER_MODE_CBC; }

}  // namespace

// Kinds beyond 3 are not defined; refusing them keeps a typo from silently
// padding with zeros or wiping the data on removal.
// The message is built only on failure: this check runs on every call.
void CheckPaddingKind(const char* function, uint32_t kind) {
    if (kind > PADDING_GOST_ALIGN) {
        throw Exception("Invalid padding kind " + std::to_string(kind) + ", expected 0 to 3", ZORVIK_PLACE(function));
    }
}

BlockCipher::BlockCipher(uint32_t ccsPadding, uint32_t ccsMode, uint32_t blockSize)
    : m_ccsPadding(ccsPadding), m_ccsMode(ccsMode), m_blockSize(blockSize) {
    ZORVIK_CHECK("ZORVIK::BlockCipher::BlockCipher", blockSize != 0, "Invalid block size");
}

BlockCipher::~BlockCipher() = default;

void BlockCipher::CheckChainStarted(const char* function) const {
    ZORVIK_CHECK(function, m_chainStarted, "Chain not started");
}

Binary BlockCipher::IvOrZeros(const Binary& iv) const { return iv.empty() ? Binary(m_blockSize, 0) : iv; }

Binary& BlockCipher::RunningIv(const Binary& iv) {
    if (iv.empty()) {
        m_runningIv.assign(m_blockSize, 0);
    } else {
        m_runningIv.assign(iv.begin(), iv.end());
    }
    return m_runningIv;
}

bool BlockCipher::CheckOneBlockIvProcess(const char* function, const Binary& data, const Binary& iv, uint32_t mode,
                                         uint32_t enc) const {
    ZORVIK_CHECK(function, enc == 0 || enc == 1, "Invalid enc");
    ZORVIK_CHECK(function, !iv.empty(), "Invalid iv");
    // The block modes read and write one whole block of IV.
    ZORVIK_CHECK(function, iv.size() == m_blockSize, "Invalid iv size");
    if (data.empty()) return false;
    // A partial block would make ECB leave bytes in the clear and CBC write a
    // whole block past the end of the buffer.
    if (NeedsWholeBlocks(mode)) ZORVIK_CHECK(function, IsAligned(data.size()), "Data must be aligned");
    return true;
}

Binary BlockCipher::Encrypt(const Binary& data, uint32_t mode, uint32_t padding, const Binary& iv) {
    const char* function = "ZORVIK::BlockCipher::Encrypt";
    CheckNotEmpty(function, data);
    CheckPaddingKind(function, padding);
    Binary out = Pad(data, m_blockSize, padding);
    // OFB and CFB take any length; ECB and CBC need the padding to align it.
    if (NeedsWholeBlocks(mode)) ZORVIK_CHECK(function, IsAligned(out.size()), "Data must be aligned");
    Process(out, RunningIv(iv), mode, 1);
    return out;
}

Binary BlockCipher::Decrypt(const Binary& data, uint32_t mode, uint32_t padding, const Binary& iv) {
    const char* function = "ZORVIK::BlockCipher::Decrypt";
    CheckNotEmpty(function, data);
    CheckPaddingKind(function, padding);
    if (NeedsWholeBlocks(mode)) ZORVIK_CHECK(function, IsAligned(data.size()), "Data must be aligned");
    Binary out = data;
    Process(out, RunningIv(iv), mode, 0);
    UnpadFast(out, padding);
    return out;
}

// The First operations: the first piece of a chain, never padded.
Binary BlockCipher::StartChain(const char* function, const Binary& data, uint32_t mode, uint32_t padding,
                               const Binary& iv, uint32_t enc) {
    CheckNotEmpty(function, data);
    // Whole blocks in every mode: OFB and CFB restart their feedback position
    // at each call, so only block boundaries continue the chain.
    ZORVIK_CHECK(function, IsAligned(data.size()), "Data must be aligned");
    CheckPaddingKind(function, padding);
    Binary out = data;
    Binary chainIv = IvOrZeros(iv);
    Process(out, chainIv, mode, enc);
    // The chain is replaced only once the first piece went through.
    m_chainIv = std::move(chainIv);
    m_padding = padding;
    m_mode = mode;
    m_chainStarted = true;
    return out;
}

Binary BlockCipher::EncryptFirst(const Binary& data, uint32_t mode, uint32_t padding, const Binary& iv) {
    return StartChain("ZORVIK::BlockCipher::EncryptFirst", data, mode, padding, iv, 1);
}

Binary BlockCipher::EncryptNext(const Binary& data, bool isLast) {
    const char* function = "ZORVIK::BlockCipher::EncryptNext";
    CheckChainStarted(function);
    CheckNotEmpty(function, data);
    Binary out = data;
    if (isLast && m_padding != PADDING_NONE) {
        PadFast(out, m_blockSize, m_padding);
    } else if (NeedsWholeBlocks(m_mode)) {
        ZORVIK_CHECK(function, IsAligned(out.size()), "Data must be aligned");
    }
    Process(out, m_chainIv, m_mode, 1);
    return out;
}

Binary BlockCipher::DecryptFirst(const Binary& data, uint32_t mode, uint32_t padding, const Binary& iv) {
    return StartChain("ZORVIK::BlockCipher::DecryptFirst", data, mode, padding, iv, 0);
}

Binary BlockCipher::DecryptNext(const Binary& data, bool isLast) {
    const char* function = "ZORVIK::BlockCipher::DecryptNext";
    CheckChainStarted(function);
    CheckNotEmpty(function, data);
    if (NeedsWholeBlocks(m_mode)) ZORVIK_CHECK(function, IsAligned(data.size()), "Data must be aligned");
    Binary out = data;
    Process(out, m_chainIv, m_mode, 0);
    if (isLast) UnpadFast(out, m_padding);
    return out;
}

Binary BlockCipher::CalcCCS(const Binary& data, Binary& iv) {
    const char* function = "ZORVIK::BlockCipher::CalcCCS";
    // Two blanks: the text callers have always matched on.
    ZORVIK_CHECK(function, !data.empty(), "Empty data is  invalid");
    CheckPaddingKind(function, m_ccsPadding);
    if (m_ccsPadding == PADDING_NONE) ZORVIK_CHECK(function, IsAligned(data.size()), "Data must be aligned");
    ZORVIK_CHECK(function, iv.empty() || iv.size() == m_blockSize, "Invalid iv size");
    Binary runningIv = IvOrZeros(iv);
    Binary padded = Pad(data, m_blockSize, m_ccsPadding);
    Process(padded, runningIv, CIPHER_MODE_CBC, 1);
    iv = runningIv;
    return runningIv;
}

Binary Pad(const Binary& data, uint32_t blockSize, uint32_t kind) {
    Binary out;
    CheckNotEmpty("ZORVIK::Pad", data);
    out.reserve(data.size() + blockSize);
    out = data;
    PadFast(out, blockSize, kind);
    return out;
}

void PadFast(Binary& data, uint32_t blockSize, uint32_t kind) {
    const char* function = "ZORVIK::PadFast";
    CheckNotEmpty(function, data);
    CheckPaddingKind(function, kind);
    ZORVIK_CHECK(function, blockSize != 0 && blockSize <= 0xFF, "Invalid block size");
    const uint32_t count = blockSize - static_cast<uint32_t>(data.size() % blockSize);
    switch (kind) {
        case PADDING_ISO9797_M2:
            data.push_back(kPaddingMarker);
            data.resize(data.size() + count - 1, 0x00);
            break;
        case PADDING_PKCS7: data.resize(data.size() + count, static_cast<uint8_t>(count)); break;
        case PADDING_GOST_ALIGN:
            if (count != blockSize) data.resize(data.size() + count, 0x00);
            break;
        default:  // PADDING_NONE
            break;
    }
}

void UnpadFast(Binary& data, uint32_t kind) {
    const char* function = "ZORVIK::UnpadFast";
    CheckNotEmpty(function, data);
    CheckPaddingKind(function, kind);
    switch (kind) {
        case PADDING_ISO9797_M2: {
            size_t markerEnd = data.size();
            while (markerEnd != 0 && data[markerEnd - 1] == 0x00) --markerEnd;
            ZORVIK_CHECK(function, markerEnd != 0 && data[markerEnd - 1] == kPaddingMarker,
                         "Неправильный формат выравнивания");
            data.resize(markerEnd - 1);
            break;
        }
        case PADDING_PKCS7: {
            // Only the count byte is read; a count beyond the data is the byte
            // string's out-of-range error, raised before anything is cut.
            const uint32_t count = static_cast<uint32_t>(binary::Back(data, data.back()).size());
            data.resize(data.size() - count);
            break;
        }
        case PADDING_GOST_ALIGN:
            // Zero padding cannot be told from zero data bytes.
            throw Exception("GOST alignment can not be removed", ZORVIK_PLACE(function));
        default:  // PADDING_NONE
            break;
    }
}

}  // namespace ZORVIK
