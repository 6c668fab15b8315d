// GOST R 34.11-2012 hash "Streebog" (RFC 6986), 256 or 512 bits. Input collects the
// message and Result hashes all of it, so the context is the collected message.
// The hash works in the standard's byte order (the message's last byte is its least
// significant); reverse converts to and from the reversed order on the way.
#pragma once

#include "service/cryptlib/hash/hash.h"

namespace ZORVIK {

class R3411_12 : public Hash {
public:
    explicit R3411_12(bool is256 = true, bool reverse = false);
    R3411_12(const R3411_12& other) = default;
    R3411_12& operator=(const R3411_12&) = delete;

    std::unique_ptr<Hash> Clone() const override;
    // Independent of the collected message.
    binary::Binary Calc(const binary::Binary& data) override;
    void Reset() override;
    void Input(const binary::Binary& data) override;
    // The digest of the collected message, which is kept.
    binary::Binary Result() override;
    binary::Binary GetContext() const override;
    void SetContext(const binary::Binary& context) override;
    uint32_t GetHashSize() const override { return m_is256 ? 32 : 64; }
    uint32_t GetBlockSize() const override { return 64; }
    uint8_t GetHashID() const override { return 0x80; }
    std::string GetName() const override { return "GOST R3411-2012"; }

private:
    bool m_is256;
    bool m_reverse;
    binary::Binary m_message;
};

}  // namespace ZORVIK
