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

TLV_Base::~TLV_Base() { Release(std::move(m_next)); }

void TLV_Base::Release(TLVPtr link) {
    if (!link || link.use_count() != 1) return;
    // A node that nothing else holds gives up its links before it goes, so
    // that no destructor frees a whole chain or subtree by itself.
    std::vector<TLVPtr> pending;
    pending.push_back(std::move(link));
    while (!pending.empty()) {
        TLVPtr node = std::move(pending.back());
        pending.pop_back();
        if (node.use_count() != 1) continue;
        if (node->m_next) pending.push_back(std::move(node->m_next));
        if (node->IsConstructed()) {
            TLVPtr& child = static_cast<ConstructedTLV&>(*node).m_child;
            if (child) pending.push_back(std::move(child));
        }
    }
}

template <class Enter, class Visit, class Leave>
void TLV_Base::Walk(const TLV_Base& node, Enter&& enter, Visit&& visit, Leave&& leave) {
    if (!node.IsConstructed()) {
        visit(static_cast<const PrimitiveTLV&>(node));
        return;
    }
    // The constructed nodes entered and not yet left, each with its next child.
    std::vector<std::pair<const ConstructedTLV*, const TLV_Base*>> open;
    const auto& root = static_cast<const ConstructedTLV&>(node);
    enter(root);
    open.emplace_back(&root, root.m_child.get());
    while (!open.empty()) {
        const ConstructedTLV* parent = open.back().first;
        const TLV_Base* child = open.back().second;
        if (child == nullptr) {
            open.pop_back();
            leave(*parent);
            continue;
        }
        open.back().second = child->m_next.get();
        if (child->IsConstructed()) {
            const auto& constructed = static_cast<const ConstructedTLV&>(*child);
            enter(constructed);
            open.emplace_back(&constructed, constructed.m_child.get());
        } else {
            visit(static_cast<const PrimitiveTLV&>(*child));
        }
    }
}

std::vector<uint32_t> TLV_Base::ValueLengths(const TLV_Base& node) {
    std::vector<uint32_t> lengths;
    std::vector<size_t> open;  // indexes in lengths of the nodes entered and not yet left
    const auto addToParent = [&](uint32_t tag, uint32_t valueLength) {
        if (!open.empty()) lengths[open.back()] += TagSize(tag) + LengthFieldSize(valueLength) + valueLength;
    };
    Walk(
        node,
        [&](const ConstructedTLV&) {
            open.push_back(lengths.size());
            lengths.push_back(0);
        },
        [&](const PrimitiveTLV& primitive) { addToParent(primitive.GetTag(), primitive.GetValueLength()); },
        [&](const ConstructedTLV& constructed) {
            const uint32_t length = lengths[open.back()];
            open.pop_back();
            addToParent(constructed.GetTag(), length);
        });
    return lengths;
}

void TLV_Base::AppendEncoding(binary::Binary& target, bool withHeader) const {
    if (!IsConstructed()) {
        const binary::Binary& value = static_cast<const PrimitiveTLV*>(this)->Value();
        if (withHeader) {
            AppendTLV(target, m_tag, value);
        } else {
            target += value;
        }
        return;
    }
    const std::vector<uint32_t> lengths = ValueLengths(*this);
    binary::ReserveAtLeast(
        target, target.size() + (withHeader ? TagSize(m_tag) + LengthFieldSize(lengths[0]) : 0) + lengths[0]);
    size_t index = 0;  // the constructed nodes come in the order ValueLengths met them
    Walk(
        *this,
        [&](const ConstructedTLV& constructed) {
            if (index != 0 || withHeader) {
                AppendTag(target, constructed.GetTag());
                AppendLength(target, lengths[index]);
            }
            ++index;
        },
        [&](const PrimitiveTLV& primitive) { AppendTLV(target, primitive.GetTag(), primitive.Value()); },
        [](const ConstructedTLV&) {});
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
    binary::Binary encoding;
    AppendEncoding(encoding, true);
    return encoding;
}

binary::Binary TLV_Base::EncodeChain() const {
    binary::Binary encoding;
    for (const TLV_Base* node = this; node != nullptr; node = node->m_next.get()) node->AppendEncoding(encoding, true);
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
    TLVPtr first;
    // Chains still to be copied, each with the link that takes its copy.
    std::vector<std::pair<const TLV_Base*, TLVPtr*>> pending{{this, &first}};
    while (!pending.empty()) {
        auto [node, link] = pending.back();
        pending.pop_back();
        for (; node != nullptr; node = node->m_next.get()) {
            *link = node->CloneNode();
            if (node->IsConstructed()) {
                const TLVPtr& children = static_cast<const ConstructedTLV&>(*node).m_child;
                if (children) pending.emplace_back(children.get(), &static_cast<ConstructedTLV&>(**link).m_child);
            }
            link = &(*link)->m_next;
        }
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

ConstructedTLV::~ConstructedTLV() { Release(std::move(m_child)); }

TLVPtr ConstructedTLV::Clone() const { return CloneChain(); }

TLVPtr ConstructedTLV::CloneNode() const { return Adopted(std::make_shared<ConstructedTLV>(TLVNodeKey(), GetTag())); }

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

uint32_t ConstructedTLV::GetValueLength() const { return ValueLengths(*this).front(); }

binary::Binary ConstructedTLV::GetValue() const {
    binary::Binary value;
    AppendEncoding(value, false);
    return value;
}

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
    // Each level indents by two blanks more, so the text of a tree grows with the
    // square of its depth: a tree nested deeper than any parsed one is refused, as
    // the parser refuses it, and the text is left as it was.
    const size_t originalSize = text.size();
    uint32_t level = 0;  // of the node being dumped, below the chain from first
    const auto appendHeader = [&](const TLV_Base& node) {
        text.append(2 * (size_t{depth} + level), ' ');
        text += binary::ToHex(node.GetTagBytes(), 1, 0, 0);
        text += ':';
    };
    const auto endNode = [&](const TLV_Base& node) {
        if (node.m_next) text += '\n';
    };
    try {
        for (const TLV_Base* node = first.get(); node != nullptr; node = node->m_next.get()) {
            TLV_Base::Walk(
                *node,
                [&](const ConstructedTLV& constructed) {
                    if (level + 1 >= MaxTLVNesting && constructed.GetChild())
                        ThrowTLVError("TLV nesting deeper than 64 levels", "ZORVIK::DumpTLV");
                    appendHeader(constructed);
                    text += '\n';
                    ++level;
                },
                [&](const PrimitiveTLV& primitive) {
                    const size_t lineStart = text.size();
                    appendHeader(primitive);
                    // Continuation lines start under the first value byte.
                    const size_t continuation = text.size() - lineStart + 1;
                    text += ' ';
                    const binary::Binary& value = primitive.Value();
                    text.reserve(text.size() + value.size() * 3 + (value.size() / 16) * (continuation + 1));
                    for (size_t i = 0; i < value.size(); ++i) {
                        if (i != 0 && i % 16 == 0) {
                            text += '\n';
                            text.append(continuation, ' ');
                        }
                        text += binary::HexDigits[value[i] >> 4];
                        text += binary::HexDigits[value[i] & 0x0F];
                        text += ' ';
                    }
                    endNode(primitive);
                },
                [&](const ConstructedTLV& constructed) {
                    --level;
                    endNode(constructed);
                });
        }
    } catch (...) {
        text.resize(originalSize);
        throw;
    }
}

}  // namespace ZORVIK
