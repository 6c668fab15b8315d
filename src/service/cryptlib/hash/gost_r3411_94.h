// GOST R 34.11-94 hash (RFC 5831) with an S-box chosen per object. Its running
// state can be saved and restored as 108 bytes: len (i64, bytes of whole compressed
// blocks), left (u32, pending bytes 0..31), H, S (the control sum) and the 32-byte
// pending block, numbers least significant byte first. The S-box is not part of it.
#pragma once

#include <memory>

#include "service/cryptlib/hash/hash.h"

namespace ZORVIK {

namespace gost28147 {
struct Core;
}

class R3411 : public Hash {
public:
    static constexpr uint32_t ContextSize = 108;

    // sboxId as for GetSBoxByID; reverse makes Calc work on byte-reversed data.
    explicit R3411(uint32_t sboxId = 0, bool reverse = false);
    R3411(const R3411& other);
    R3411& operator=(const R3411&) = delete;
    ~R3411() override;

    std::unique_ptr<Hash> Clone() const override;
    // Restarts the running state with data (byte-reversed, and the digest reversed,
    // when reverse is set); the running state then holds this message.
    binary::Binary Calc(const binary::Binary& data) override;
    // Starts a new message and clears the reverse flag.
    void Reset() override;
    // Refused while reverse is set.
    void Input(const binary::Binary& data) override;
    // The digest of the message so far; the running state is not changed.
    binary::Binary Result() override;
    binary::Binary GetContext() const override;
    void SetContext(const binary::Binary& context) override;
    uint32_t GetHashSize() const override { return 32; }
    uint32_t GetBlockSize() const override { return 64; }
    uint8_t GetHashID() const override { return 0x80; }
    std::string GetName() const override { return "GOST R3411-94"; }

    // The S-box in the standard compressed layout (64 bytes).
    binary::Binary GetSBox() const;
    // An S-box in a standard layout (64 or 128 bytes); the running state stays.
    void SetSBox(const binary::Binary& sbox);

    struct State;

private:
    bool m_reverse;
    std::unique_ptr<State> m_state;
};

}  // namespace ZORVIK
