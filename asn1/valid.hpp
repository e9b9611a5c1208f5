#pragma once
// Validity checking of ASN.1 values against their descriptors, the trace that
// says what is wrong and where, and the primitive/constructed test that the
// BER coder uses for the identifier octet (X.690 8.1.2.5).

#include <ostream>
#include <sstream>

#include "asn1/visitor.hpp"

namespace ASN1 {

// Judges a value against its descriptor.  Strict mode holds every bound
// (extensible constraints included); the lax mode takes an extensible range
// as open.  With a trace stream, the first fault found is described there as
// a path of field names and element indexes followed by the reason.
class ConstraintChecker : public ConstVisitor {
public:
    explicit ConstraintChecker(bool strict, std::ostream* trace = nullptr) : strict_(strict), trace_(trace) {}

    using ConstVisitor::do_visit;
    bool do_visit(const AbstractData& value) override;
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
    bool preVisitExtensions(const SEQUENCE& seq) override;
    bool visitKnownExtension(const SEQUENCE& seq, int index) override;

private:
    bool checkSize(const char* what, std::uint64_t size, const ConstrainedTypeInfo& info);
    bool component(const AbstractData* value, const char* prefix, const char* name, long index);

    bool strict_;
    std::ostream* trace_;
};

// isValid(): extensible constraints are open.
class ValidChecker : public ConstraintChecker {
public:
    ValidChecker() : ConstraintChecker(false) {}
};

// isStrictlyValid(): every bound holds.
class StrictlyValidChecker : public ConstraintChecker {
public:
    StrictlyValidChecker() : ConstraintChecker(true) {}
};

// Collects the description of the first fault of a value (lax rules).
class InvalidTracer : public ConstraintChecker {
public:
    InvalidTracer() : ConstraintChecker(false, &strm_) {}
    std::string str() const { return strm_.str(); }

private:
    std::ostringstream strm_;
};

// True when the value's BER encoding is primitive: everything but SEQUENCE
// and SEQUENCE OF; a CHOICE or open type is what it holds.
class PrimitiveChecker : public ConstVisitor {
public:
    using ConstVisitor::do_visit;
    bool do_visit(const CHOICE& value) override;
    bool do_visit(const OpenData& value) override;
    bool do_visit(const SEQUENCE_OF_Base& value) override;
    bool preVisitExtensionRoots(const SEQUENCE& seq) override;
};

bool isValid(const AbstractData& value);
bool isStrictlyValid(const AbstractData& value);
bool isPrimitive(const AbstractData& value);

// True for a valid value, writing nothing; otherwise writes the prefix, the
// description of the fault and an end of line, and returns false.
bool trace_invalid(std::ostream& out, const char* prefix, const AbstractData& value);

} // namespace ASN1
