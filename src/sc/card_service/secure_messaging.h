// Secure messaging as the card service sees it: an object that wraps a plain
// command for the wire and uncovers the card's wire response again.
#pragma once

#include <cstdint>

namespace ZORVIK {

class CApdu;
class RApdu;

// The card service drives one of these on its secure road. Failures of wrapping
// and uncovering are ZORVIK::Exception objects and reach the caller unchanged.
class iSM {
public:
    // plain -> the command that goes to the reader.
    virtual void WrapCommand(const CApdu& plain, CApdu& wrapped) = 0;
    // The response as the card sent it -> the response the caller sees.
    virtual void UncoverResponse(const RApdu& wrapped, RApdu& plain) = 0;
    // The largest plain data length whose wrapped form fits `size` bytes.
    virtual uint32_t GetMaxCommandDataSize(uint32_t size) = 0;
    // The plain data length a wrapped response of `size` bytes carries.
    virtual uint32_t GetResponseDataSize(uint32_t size) = 0;
    // true: the wire status word only has to be a success status before the
    // response is uncovered (the real status sits inside the protected data);
    // false: the wire status must already match the expected statuses.
    virtual bool IsStatusWordProtected() { return false; }
    virtual ~iSM() = default;
};

// No secure messaging: the card service recognises this type and takes the plain
// road. As an iSM it is the identity, so code that drives an iSM directly still
// gets a sound answer.
class NULL_SM : public iSM {
public:
    void WrapCommand(const CApdu& plain, CApdu& wrapped) override;
    void UncoverResponse(const RApdu& wrapped, RApdu& plain) override;
    uint32_t GetMaxCommandDataSize(uint32_t size) override { return size; }
    uint32_t GetResponseDataSize(uint32_t size) override { return size; }
};

}  // namespace ZORVIK
