// BER-TLV data objects as a tree of shared nodes: parsing byte strings into
// sibling chains, building, linking and copying nodes, encoding, comparing and
// printing them as indented text. Every failure is a TLVException with code 0.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "service/common/binary.h"
#include "service/tlv/ber.h"

namespace ZORVIK {

class TLV_Base;
class PrimitiveTLV;
class ConstructedTLV;
using TLVPtr = std::shared_ptr<TLV_Base>;

// The empty node pointer: the child of a primitive node and of a constructed
// node without children.
extern const TLVPtr EmptyTLV;

// Constructed values nested deeper than this are refused, so that hostile
// input cannot exhaust the stack.
inline constexpr uint32_t MaxTLVNesting = 64;

// Opens the unchecked node constructors to std::make_shared while keeping them
// to the classes of this module: only they can make a key.
class TLVNodeKey {
    friend class TLV_Base;
    friend class PrimitiveTLV;
    friend class ConstructedTLV;
    TLVNodeKey() = default;
};

class TLV_Base {
public:
    // A deep copy of the chain from this node to its end.
    virtual TLVPtr Clone() const = 0;
    virtual void SetValue(const binary::Binary& value) = 0;
    // Appends a copy of the chain; returns the inserted copy of its first node.
    virtual TLVPtr AppendChild(const TLVPtr& child) = 0;
    // Links the chain itself, shared with the caller.
    virtual void AttachChild(const TLVPtr& child) = 0;
    virtual uint32_t GetValueLength() const = 0;
    virtual binary::Binary GetValue() const = 0;
    virtual bool IsConstructed() const = 0;
    virtual TLVPtr GetChild() const = 0;
    virtual ~TLV_Base();
    virtual TLVPtr GetSon() const = 0;
    virtual void SetSon(const TLVPtr& child) = 0;

    static TLVPtr MakeConstructed(uint32_t tag);
    static TLVPtr MakeConstructed(const binary::Binary& bytes, uint32_t& offset);
    static TLVPtr MakePrimitive(uint32_t tag);
    static TLVPtr MakePrimitive(const binary::Binary& bytes, uint32_t& offset);
    // Parses a chain of sibling TLVs that fills bytes exactly.
    static TLVPtr Create(const binary::Binary& bytes);
    // A node of the class the tag selects, with SetValue(value) applied.
    static TLVPtr Create(uint32_t tag, const binary::Binary& value);

    // Parses one TLV at offset into this node and moves offset past it.
    void Construct(const binary::Binary& bytes, uint32_t& offset);

    uint32_t GetTag() const { return m_tag; }
    TLVPtr GetNext() const { return m_next; }
    TLVPtr GetLast() const;
    binary::Binary GetTagBytes() const;
    binary::Binary Encode() const;
    binary::Binary EncodeChain() const;
    // Puts a copy of the record's chain right after this node.
    TLVPtr InsertRec(const TLVPtr& record);
    // Puts the record's chain itself right after this node.
    void AttachRec(const TLVPtr& record);

protected:
    explicit TLV_Base(uint32_t tag) : m_tag(tag) {}
    TLV_Base(const TLV_Base&) = delete;
    TLV_Base& operator=(const TLV_Base&) = delete;

    // A copy of this node alone: its tag and value, no children, no siblings.
    virtual TLVPtr CloneNode() const = 0;
    // SetValue on raw bytes, so that parsing never copies a value twice.
    virtual void AssignValue(const uint8_t* value, uint32_t length) = 0;

    // The sibling chain that fills size bytes exactly.
    static TLVPtr ParseChain(const uint8_t* data, uint32_t size);
    static TLVPtr ParseNode(const uint8_t* data, uint32_t size, uint32_t& offset);
    void ConstructAt(const uint8_t* data, uint32_t size, uint32_t& offset);

    TLVPtr Self() const { return m_self.lock(); }
    // Copying, measuring, encoding and releasing walk the children with a stack
    // of their own: a tree built by a program (AttachChild) may nest far deeper
    // than a parsed one, and the call stack would not hold one call per level.
    TLVPtr CloneChain() const;
    // The value lengths of the constructed nodes of the tree under node (node
    // included), in document order, each computed once from the leaves up.
    static std::vector<uint32_t> ValueLengths(const TLV_Base& node);
    // Appends the encoding of this node (without its siblings); without the
    // header, only its value.
    void AppendEncoding(binary::Binary& target, bool withHeader) const;
    // Lets go of link; the nodes that only it holds are freed one by one.
    static void Release(TLVPtr link);
    TLV_Base* LastNode();
    // Sets the node's reference to itself; every node is made through this.
    static TLVPtr Adopted(TLVPtr node) {
        node->m_self = node;
        return node;
    }
    // Links chain after the last node of the list that starts at head.
    static void LinkAtEnd(TLVPtr& head, const TLVPtr& chain);

private:
    // Walks the tree as the other tree operations do.
    friend void DumpTLV(const TLVPtr& first, std::string& text, uint32_t depth);

    // Visits the tree under node in document order: enter and leave around the
    // children of each constructed node (node included), visit for each primitive one.
    template <class Enter, class Visit, class Leave>
    static void Walk(const TLV_Base& node, Enter&& enter, Visit&& visit, Leave&& leave);

    uint32_t m_tag;
    std::weak_ptr<TLV_Base> m_self;
    TLVPtr m_next;
};

class PrimitiveTLV : public TLV_Base {
public:
    explicit PrimitiveTLV(uint32_t tag);
    // Any tag, as a parsed or copied node carries it.
    PrimitiveTLV(TLVNodeKey, uint32_t tag) : TLV_Base(tag) {}
    PrimitiveTLV(const binary::Binary& bytes, uint32_t& offset);

    TLVPtr Clone() const override;
    void SetValue(const binary::Binary& value) override;
    TLVPtr AppendChild(const TLVPtr& child) override;
    void AttachChild(const TLVPtr& child) override;
    uint32_t GetValueLength() const override;
    binary::Binary GetValue() const override;
    bool IsConstructed() const override { return false; }
    TLVPtr GetChild() const override { return EmptyTLV; }
    TLVPtr GetSon() const override { return GetChild(); }
    void SetSon(const TLVPtr& child) override;

    const binary::Binary& Value() const { return m_value; }

protected:
    TLVPtr CloneNode() const override;
    void AssignValue(const uint8_t* value, uint32_t length) override;

private:
    binary::Binary m_value;
};

class ConstructedTLV : public TLV_Base {
    friend class TLV_Base;  // walks the children

public:
    explicit ConstructedTLV(uint32_t tag);
    // Any tag, as a parsed or copied node carries it.
    ConstructedTLV(TLVNodeKey, uint32_t tag) : TLV_Base(tag) {}
    ConstructedTLV(const binary::Binary& bytes, uint32_t& offset);
    ~ConstructedTLV() override;

    TLVPtr Clone() const override;
    void SetValue(const binary::Binary& value) override;
    TLVPtr AppendChild(const TLVPtr& child) override;
    void AttachChild(const TLVPtr& child) override;
    uint32_t GetValueLength() const override;
    binary::Binary GetValue() const override;
    bool IsConstructed() const override { return true; }
    TLVPtr GetChild() const override { return m_child; }
    TLVPtr GetSon() const override { return GetChild(); }
    void SetSon(const TLVPtr& child) override;

protected:
    TLVPtr CloneNode() const override;
    void AssignValue(const uint8_t* value, uint32_t length) override;

private:
    TLVPtr m_child;
};

TLVPtr ParseTLV(const binary::Binary& bytes);
TLVPtr NewTLV(uint32_t tag, const binary::Binary& value);

// Equal when both are empty, or when the two nodes' own encodings are equal
// (the siblings that follow them are not compared).
bool operator==(const TLVPtr& a, const TLVPtr& b);
bool operator!=(const TLVPtr& a, const TLVPtr& b);

// Appends the chain from first as indented text, 2 blanks per depth, 16 value
// bytes per line; never clears text. A tree of more levels than MaxTLVNesting
// is refused with the parser's error and adds nothing to text.
void DumpTLV(const TLVPtr& first, std::string& text, uint32_t depth);

}  // namespace ZORVIK
