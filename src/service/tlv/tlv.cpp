#include "service/tlv/tlv.h"

namespace ZORVIK {

const TLVPtr EmptyTLV;

namespace {

// Constructed levels being parsed on this thread; SetValue of a constructed
// node recurses into Create, so this bounds the stack a hostile input can take.
thread_local uint32_t g_parseNesting = 0;

class NestingGuard {
public:
    NestingGuard() {
        if (g_parseNesting + 1 >= MaxTLVNesting)
            ThrowTLVError("TLV nesting deeper than 64 levels", "ZORVIK::TLV_Base::Create");
        ++g_parseNesting;
    }
    ~NestingGuard() { --g_parseNesting; }
    NestingGuard(const NestingGuard&) = delete;
    NestingGuard& operator=(const NestingGuard&) = delete;
};

}  // namespace

// ---- TLV_Base

TLV_Base::~TLV_Base() {
    // Unlink the siblings one by one: letting each destructor release the
    // next would recurse once per sibling of a long chain.
    TLVPtr next = std::move(m_next);
    while (next && next.use_count() == 1) {
        TLVPtr after = std::move(next->m_next);
        next = std::move(after);
    }
}

TLVPtr TLV_Base::MakeConstructed(uint32_t tag) { return Adopted(std::make_shared<ConstructedTLV>(tag)); }

TLVPtr TLV_Base::MakeConstructed(const binary::Binary& bytes, uint32_t& offset) {
    return Adopted(std::make_shared<ConstructedTLV>(bytes, offset));
}

TLVPtr TLV_Base::MakePrimitive(uint32_t tag) { return Adopted(std::make_shared<PrimitiveTLV>(tag)); }

TLVPtr TLV_Base::MakePrimitive(const binary::Binary& bytes, uint32_t& offset) {
    return Adopted(std::make_shared<PrimitiveTLV>(bytes, offset));
}

TLVPtr TLV_Base::Create(const binary::Binary& bytes) {
    return ParseChain(bytes.data(), static_cast<uint32_t>(bytes.size()));
}

TLVPtr TLV_Base::ParseChain(const uint8_t* data, uint32_t size) {
    if (size < 2) ThrowTLVError("Record size must be >= 2", "ZORVIK::TLV_Base::Create");
    uint32_t offset = 0;
    TLVPtr first = ParseNode(data, size, offset);
    TLV_Base* tail = first.get();
    while (offset < size) {
        tail->m_next = ParseNode(data, size, offset);
        tail = tail->m_next.get();
    }
    return first;
}

TLVPtr TLV_Base::ParseNode(const uint8_t* data, uint32_t size, uint32_t& offset) {
    // The constructed bit sits in the first tag byte (ISO/IEC 8825-1, 8.1.2.5).
    TLVPtr node;
    if (offset < size && (data[offset] & 0x20)) {
        node = std::make_shared<ConstructedTLV>(TLVNodeKey(), 0);
    } else {
        node = std::make_shared<PrimitiveTLV>(TLVNodeKey(), 0);
    }
    node->ConstructAt(data, size, offset);
    return Adopted(std::move(node));
}

TLVPtr TLV_Base::Create(uint32_t tag, const binary::Binary& value) {
    TLVPtr node = IsConstructedTag(tag) ? MakeConstructed(tag) : MakePrimitive(tag);
    node->SetValue(value);
    return node;
}

void TLV_Base::Construct(const binary::Binary& bytes, uint32_t& offset) {
    ConstructAt(bytes.data(), static_cast<uint32_t>(bytes.size()), offset);
}

void TLV_Base::ConstructAt(const uint8_t* data, uint32_t size, uint32_t& offset) {
    constexpr const char* Where = "ZORVIK::TLV_Base::Construct";
    if (size == 0 || offset >= size) ThrowTLVError("Invalid Record", Where);
    const uint32_t left = size - offset;
    uint32_t tag = 0;
    uint32_t valueLength = 0;
    const uint32_t headerLength = GetTL(data + offset, left, tag, valueLength);
    m_tag = tag;
    // In 64 bits: a four-byte length must not wrap around past the check.
    const uint64_t total = uint64_t{headerLength} + valueLength;
    if (total > left) ThrowTLVError("Invalid Record", Where);
    const uint8_t* value = data + offset + headerLength;
    offset += static_cast<uint32_t>(total);
    AssignValue(value, valueLength);
}

TLVPtr TLV_Base::GetLast() const {
    TLVPtr last = Self();
    for (const TLV_Base* node = this; node->m_next; node = node->m_next.get()) last = node->m_next;
    return last;
}

TLV_Base* TLV_Base::LastNode() {
    TLV_Base* node = this;
    while (node->m_next) node = node->m_next.get();
    return node;
}

binary::Binary TLV_Base::GetTagBytes() const { return binary::NumToBinary(m_tag, 0); }

binary::Binary TLV_Base::Encode() const {
    const binary::Binary value = GetValue();
    binary::Binary encoding;
    encoding.reserve(TagSize(m_tag) + LengthFieldSize(static_cast<uint32_t>(value.size())) + value.size());
    AppendTLV(encoding, m_tag, value);
    return encoding;
}

binary::Binary TLV_Base::EncodeChain() const {
    binary::Binary encoding;
    for (const TLV_Base* node = this; node != nullptr; node = node->m_next.get()) encoding += node->Encode();
    return encoding;
}

TLVPtr TLV_Base::InsertRec(const TLVPtr& record) {
    if (!record) ThrowTLVError("Empty record", "ZORVIK::TLV_Base::InsertRec");
    TLVPtr copy = record->Clone();
    copy->LastNode()->m_next = std::move(m_next);
    m_next = copy;
    return copy;
}

void TLV_Base::AttachRec(const TLVPtr& record) {
    if (!record) ThrowTLVError("Empty record", "ZORVIK::TLV_Base::AttachRec");
    record->LastNode()->m_next = std::move(m_next);
    m_next = record;
}

void TLV_Base::LinkAtEnd(TLVPtr& head, const TLVPtr& chain) {
    if (head) {
        head->LastNode()->m_next = chain;
    } else {
        head = chain;
    }
}

TLVPtr TLV_Base::CloneChain() const {
    TLVPtr first = CloneNode();
    TLV_Base* tail = first.get();
    for (const TLV_Base* node = m_next.get(); node != nullptr; node = node->m_next.get()) {
        tail->m_next = node->CloneNode();
        tail = tail->m_next.get();
    }
    return first;
}

// ---- PrimitiveTLV

PrimitiveTLV::PrimitiveTLV(uint32_t tag) : TLV_Base(tag) {
    if (IsConstructedTag(tag)) {
        ThrowTLVError("Tag must indicate a primitive encoding of the data object",
                      "ZORVIK::PrimitiveTLV::PrimitiveTLV");
    }
}

PrimitiveTLV::PrimitiveTLV(const binary::Binary& bytes, uint32_t& offset) : TLV_Base(0) { Construct(bytes, offset); }

TLVPtr PrimitiveTLV::Clone() const { return CloneChain(); }

TLVPtr PrimitiveTLV::CloneNode() const {
    auto copy = std::make_shared<PrimitiveTLV>(TLVNodeKey(), GetTag());
    copy->m_value = m_value;
    return Adopted(std::move(copy));
}

void PrimitiveTLV::SetValue(const binary::Binary& value) { m_value = value; }

void PrimitiveTLV::AssignValue(const uint8_t* value, uint32_t length) { m_value.assign(value, value + length); }

TLVPtr PrimitiveTLV::AppendChild(const TLVPtr& /*child*/) {
    ThrowTLVError("AppendChild for PrimitiveTLV cannot be implemented", "ZORVIK::PrimitiveTLV::AppendChild");
}

void PrimitiveTLV::AttachChild(const TLVPtr& /*child*/) {
    ThrowTLVError("AttachChild for PrimitiveTLV cannot be implemented", "ZORVIK::PrimitiveTLV::AttachChild");
}

uint32_t PrimitiveTLV::GetValueLength() const { return static_cast<uint32_t>(m_value.size()); }

binary::Binary PrimitiveTLV::GetValue() const { return m_value; }

void PrimitiveTLV::SetSon(const TLVPtr& /*child*/) {
    ThrowTLVError("Setting child node to PrimitiveTLV", "ZORVIK::PrimitiveTLV::SetSon");
}

// ---- ConstructedTLV

ConstructedTLV::ConstructedTLV(uint32_t tag) : TLV_Base(tag) {
    if (!IsConstructedTag(tag)) {
        ThrowTLVError("Tag must indicate a constructed encoding of the data object",
                      "ZORVIK::ConstructedTLV::ConstructedTLV");
    }
}

ConstructedTLV::ConstructedTLV(const binary::Binary& bytes, uint32_t& offset) : TLV_Base(0) {
    Construct(bytes, offset);
}

TLVPtr ConstructedTLV::Clone() const { return CloneChain(); }

TLVPtr ConstructedTLV::CloneNode() const {
    auto copy = std::make_shared<ConstructedTLV>(TLVNodeKey(), GetTag());
    copy->m_child = m_child ? m_child->Clone() : EmptyTLV;
    return Adopted(std::move(copy));
}

void ConstructedTLV::SetValue(const binary::Binary& value) {
    AssignValue(value.data(), static_cast<uint32_t>(value.size()));
}

void ConstructedTLV::AssignValue(const uint8_t* value, uint32_t length) {
    if (length == 0) {
        m_child = EmptyTLV;
        return;
    }
    NestingGuard guard;
    m_child = ParseChain(value, length);
}

TLVPtr ConstructedTLV::AppendChild(const TLVPtr& child) {
    if (!child) ThrowTLVError("Empty child", "ZORVIK::ConstructedTLV::AppendChild");
    TLVPtr copy = child->Clone();
    LinkAtEnd(m_child, copy);
    return copy;
}

void ConstructedTLV::AttachChild(const TLVPtr& child) {
    if (!child) ThrowTLVError("Empty child", "ZORVIK::ConstructedTLV::AttachChild");
    LinkAtEnd(m_child, child);
}

uint32_t ConstructedTLV::GetValueLength() const {
    uint32_t length = 0;
    for (const TLV_Base* node = m_child.get(); node != nullptr; node = node->GetNext().get()) {
        const uint32_t valueLength = node->GetValueLength();
        length += TagSize(node->GetTag()) + LengthFieldSize(valueLength) + valueLength;
    }
    return length;
}

binary::Binary ConstructedTLV::GetValue() const { return m_child ? m_child->EncodeChain() : binary::Binary(); }

void ConstructedTLV::SetSon(const TLVPtr& child) { m_child = child; }

// ---- free functions

TLVPtr ParseTLV(const binary::Binary& bytes) { return TLV_Base::Create(bytes); }

TLVPtr NewTLV(uint32_t tag, const binary::Binary& value) { return TLV_Base::Create(tag, value); }

bool operator==(const TLVPtr& a, const TLVPtr& b) {
    if (!a || !b) return !a && !b;
    return a->Encode() == b->Encode();
}

bool operator!=(const TLVPtr& a, const TLVPtr& b) { return !(a == b); }

void DumpTLV(const TLVPtr& first, std::string& text, uint32_t depth) {
    const std::string indent(2 * size_t{depth}, ' ');
    for (const TLV_Base* node = first.get(); node != nullptr; node = node->GetNext().get()) {
        const std::string tagText = binary::ToHex(node->GetTagBytes(), 1, 0, 0);
        text += indent;
        text += tagText;
        text += ':';
        if (node->IsConstructed()) {
            text += '\n';
            DumpTLV(node->GetChild(), text, depth + 1);
        } else {
            text += ' ';
            const binary::Binary& value = static_cast<const PrimitiveTLV*>(node)->Value();
            // Continuation lines start under the first value byte.
            const std::string continuation = "\n" + indent + std::string(tagText.size() + 2, ' ');
            text.reserve(text.size() + value.size() * 3 + (value.size() / 16) * continuation.size());
            for (size_t i = 0; i < value.size(); ++i) {
                if (i != 0 && i % 16 == 0) text += continuation;
                text += binary::HexDigits[value[i] >> 4];
                text += binary::HexDigits[value[i] & 0x0F];
                text += ' ';
            }
        }
        if (node->GetNext()) text += '\n';
    }
}

}  // namespace ZORVIK
