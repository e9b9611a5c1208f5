#pragma once
// ASN.1 value notation (X.680): the text in which values reach the logs, and
// its parser.
//
// Layout: a SEQUENCE or SEQUENCE OF opens with "{" and a line break, puts
// each field ("name value") or element on its own line indented two spaces
// deeper than the value, separates them with ",", and closes with "}" at the
// value's own indentation; a CHOICE is "name : value"; the top-level value
// starts at indentation 0 and ends without a line break.

#include <cstdint>
#include <istream>
#include <iterator>
#include <ostream>
#include <string>
#include <vector>

#include "asn1/visitor.hpp"

namespace ASN1 {

class AVNEncoder : public ConstVisitor {
public:
    explicit AVNEncoder(std::ostream& strm) : strm_(strm) {}

    using ConstVisitor::do_visit;
    bool do_visit(const Null& value) override;
    bool do_visit(const BOOLEAN& value) override;
    bool do_visit(const INTEGER& value) override;
    bool do_visit(const IntegerWithNamedNumber& value) override;
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
    bool preVisitExtensions(const SEQUENCE& seq) override;
    bool visitKnownExtension(const SEQUENCE& seq, int index) override;
    bool afterVisitSequence(const SEQUENCE& seq) override;

private:
    bool good() const { return strm_.good(); }
    void indent(int n);
    void printOctets(const char* bytes, std::size_t count);

    std::ostream& strm_;
    int indent_ = 0;
    std::vector<bool> printed_; // per SEQUENCE being printed: a field is out
};

class AVNDecoder : public Visitor {
public:
    explicit AVNDecoder(std::istream& strm) : strm_(strm) {}

    bool do_visit(Null& value) override;
    bool do_visit(BOOLEAN& value) override;
    bool do_visit(INTEGER& value) override;
    bool do_visit(IntegerWithNamedNumber& value) override;
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

    // Nesting deeper than this fails the parse instead of the stack.
    static constexpr int maxDepth = 100;

private:
    struct SeqState {
        std::string name; // field name read and not yet matched; empty: none
        bool closed;      // the closing brace has been read
    };

    int peekChar(); // next character after white space, or EOF
    bool expect(char ch);
    bool readIdentifier(std::string& out);
    bool readNumber(std::int64_t& out);
    bool readQuoted(std::string& out);
    bool readBinaryOrHex(std::string& digits, char& base);
    int field(SEQUENCE& seq, int index, int presenceId, int next);
    bool enter();
    void leave() { --depth_; }

    std::istream& strm_;
    std::vector<SeqState> seqs_;
    int depth_ = 0;
};

// The text of a value; empty when it cannot be printed (a CHOICE without
// selection, an empty open type).
std::string asValueNotation(const AbstractData& value);
// Writes the text; returns 0, or the stream's bad state when writing failed.
// A value that cannot be printed leaves what was written before the fault.
std::ios_base::iostate print_on(std::ostream& strm, const AbstractData& value);
// Parses the text into the value; returns 0, or failbit.
std::ios_base::iostate get_from(std::istream& strm, AbstractData& value);
bool setFromValueNotation(AbstractData& value, const std::string& text);

// Coding rule 0 of the coder environment: on success the text is appended to
// `out`; on failure `out` is left as it was.
bool encodeAVN(const AbstractData& value, std::back_insert_iterator<std::vector<char>> out);
bool decodeAVN(const char* first, const char* last, AbstractData& value);

std::ostream& operator<<(std::ostream& strm, const AbstractData& value);
std::istream& operator>>(std::istream& strm, AbstractData& value);

} // namespace ASN1
