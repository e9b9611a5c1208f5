#pragma once
// Basic Encoding Rules (X.690) for the table-driven values: definite lengths
// only; fields of a SEQUENCE and alternatives of a CHOICE carry the
// context-specific tag of their index (automatic tagging, X.680 31.2.7),
// implicitly, except that a tagged CHOICE or open type keeps its contents'
// own tag inside a constructed explicit tag (X.690 8.14.3, X.680 31.2.7 c).

#include <cstdint>
#include <iterator>
#include <vector>

#include "asn1/visitor.hpp"

namespace ASN1 {

// A tag word: class (identifier octet bits 8-7) shifted up by 16, the number
// in the low 16 bits.
inline constexpr std::uint32_t ownTag = 0xFFFFFFFFu; // "the descriptor's tag"

// Fewest octets of the two's complement form of `value`.
unsigned getIntegerDataLength(int value);
// Contents length of a value's encoding.
std::uint32_t getDataLength(const AbstractData& value);
// Identifier, length and contents octets of the value under `tag` (ownTag:
// its descriptor's; a tag of 0 has no header).
std::uint32_t getObjectLength(const AbstractData& value, std::uint32_t tag);

// Tag of field `index` of a SEQUENCE and of alternative `index` of a CHOICE.
std::uint32_t fieldTag(const SequenceTypeInfo& info, unsigned index);
std::uint32_t alternativeTag(const ChoiceTypeInfo& info, unsigned index);

class DataLengthCounter : public ConstVisitor {
public:
    std::uint32_t count() const { return count_; }

    using ConstVisitor::do_visit;
    bool do_visit(const Null& value) override;
    bool do_visit(const BOOLEAN& value) override;
    bool do_visit(const INTEGER& value) override;
    bool do_visit(const ENUMERATED& value) override;
    bool do_visit(const OBJECT_IDENTIFIER& value) override;
    bool do_visit(const BIT_STRING& value) override;
    bool do_visit(const OCTET_STRING& value) override;
    bool do_visit(const AbstractString& value) override;
    bool do_visit(const BMPString& value) override;
    bool do_visit(const CHOICE& value) override;
    bool do_visit(const OpenData& value) override;
    bool do_visit(const GeneralizedTime& value) override;
    bool do_visit(const SEQUENCE_OF_Base& value) override;

    bool preVisitExtensionRoots(const SEQUENCE& seq) override;
    bool visitExtensionRoot(const SEQUENCE& seq, int index) override;
    bool visitKnownExtension(const SEQUENCE& seq, int index) override;

private:
    std::uint32_t count_ = 0;
};

class BEREncoder : public ConstVisitor {
public:
    explicit BEREncoder(std::vector<char>& out) : out_(out) {}

    using ConstVisitor::do_visit;
    bool do_visit(const Null& value) override;
    bool do_visit(const BOOLEAN& value) override;
    bool do_visit(const INTEGER& value) override;
    bool do_visit(const ENUMERATED& value) override;
    bool do_visit(const OBJECT_IDENTIFIER& value) override;
    bool do_visit(const BIT_STRING& value) override;
    bool do_visit(const OCTET_STRING& value) override;
    bool do_visit(const AbstractString& value) override;
    bool do_visit(const BMPString& value) override;
    bool do_visit(const CHOICE& value) override;
    bool do_visit(const OpenData& value) override;
    bool do_visit(const GeneralizedTime& value) override;
    bool do_visit(const SEQUENCE_OF_Base& value) override;

    bool preVisitExtensionRoots(const SEQUENCE& seq) override;
    bool visitExtensionRoot(const SEQUENCE& seq, int index) override;
    bool visitKnownExtension(const SEQUENCE& seq, int index) override;

    // Identifier and length octets of `value` under the pending tag; nothing
    // when the value is untagged.
    void encodeHeader(const AbstractData& value, bool constructed);

private:
    void put(const char* bytes, std::size_t count) { out_.insert(out_.end(), bytes, bytes + count); }
    bool tagged(const AbstractData& value) const;

    std::vector<char>& out_;
    std::uint32_t tag_ = ownTag; // tag of the next value; 0: no header
};

class BERDecoder : public Visitor {
public:
    BERDecoder(const char* first, const char* last) : cur_(first), limit_(last) {}

    const char* position() const { return cur_; }

    bool do_visit(Null& value) override;
    bool do_visit(BOOLEAN& value) override;
    bool do_visit(INTEGER& value) override;
    bool do_visit(ENUMERATED& value) override;
    bool do_visit(OBJECT_IDENTIFIER& value) override;
    bool do_visit(OCTET_STRING& value) override;
    bool do_visit(BIT_STRING& value) override;
    bool do_visit(AbstractString& value) override;
    bool do_visit(BMPString& value) override;
    bool do_visit(CHOICE& value) override;
    bool do_visit(SEQUENCE_OF_Base& value) override;
    bool do_visit(OpenData& value) override;
    bool do_revisit(OpenData& value) override;
    bool do_visit(TypeConstrainedOpenData& value) override;
    bool do_visit(GeneralizedTime& value) override;

    int preVisitExtensionRoots(SEQUENCE& seq) override;
    int visitExtensionRoot(SEQUENCE& seq, int index, int optionalId) override;
    int preVisitExtensions(SEQUENCE& seq) override;
    int visitKnownExtension(SEQUENCE& seq, int index, int presenceId) override;
    bool visitUnknownExtensions(SEQUENCE& seq) override;

    // Reads identifier and length octets at the current position.  The
    // length must fit in what is left of the enclosing contents.
    bool decodeHeader(std::uint32_t& tag, bool& constructed, std::uint32_t& length);
    // The same, for `value`: the tag must be the pending one (or the
    // descriptor's) and the form as expected; on a mismatch the reader stays.
    bool decodeHeader(const AbstractData& value, bool constructed, std::uint32_t& length);

    // Nesting deeper than this fails the decode instead of the stack.
    static constexpr int maxDepth = 64;

private:
    bool peekTag(std::uint32_t& tag);
    bool isTagged(const AbstractData& value) const;
    int field(SEQUENCE& seq, int index, int presenceId);
    bool enter() { return ++depth_ <= maxDepth; }
    void leave() { --depth_; }
    bool integerContents(std::uint32_t length, bool unsignedType, std::uint32_t& out);
    bool decodeContained(OpenData& value);

    const char* cur_;
    const char* limit_;               // end of the innermost contents being read
    std::vector<const char*> limits_; // enclosing ends of the SEQUENCEs being read
    std::uint32_t tag_ = ownTag;
    int depth_ = 0;
};

// Coding rule 1 of the coder environment: on success the encoding is
// appended to `out`; on failure `out` is left as it was.
bool encodeBER(const AbstractData& value, std::back_insert_iterator<std::vector<char>> out);
bool decodeBER(const char* first, const char* last, AbstractData& value);

} // namespace ASN1
