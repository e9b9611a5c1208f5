#pragma once
// Visitors: every whole-value operation (encode, decode, print, check) is
// one.  A value's do_accept calls the operation for its own class; SEQUENCE
// values are walked by Visitor::visit (decoders) and ConstVisitor::visit
// (read-only visitors), which call the hooks below.

#include "asn1/values.hpp"

namespace ASN1 {

class Visitor {
public:
    // Return codes of the SEQUENCE hooks.
    enum SequenceCode : int {
        fail = 0,
        stop = 1,     // finished: stop the walk with success
        rootOnly = 2, // root done, no extension part follows / go on
        goOn = 3,     // continue (with the extension part)
    };

    virtual ~Visitor() = default;

    virtual bool do_visit(Null& value) = 0;
    virtual bool do_visit(BOOLEAN& value) = 0;
    virtual bool do_visit(INTEGER& value) = 0;
    virtual bool do_visit(IntegerWithNamedNumber& value);
    virtual bool do_visit(ENUMERATED& value) = 0;
    virtual bool do_visit(OBJECT_IDENTIFIER& value) = 0;
    virtual bool do_visit(OCTET_STRING& value) = 0;
    virtual bool do_visit(BIT_STRING& value) = 0;
    virtual bool do_visit(AbstractString& value) = 0;
    virtual bool do_visit(BMPString& value) = 0;
    virtual bool do_visit(CHOICE& value) = 0;
    virtual bool do_visit(SEQUENCE_OF_Base& value) = 0;
    virtual bool do_visit(OpenData& value) = 0;
    virtual bool do_revisit(OpenData& value) = 0;
    virtual bool do_visit(TypeConstrainedOpenData& value) = 0;
    virtual bool do_visit(GeneralizedTime& value) = 0;

    virtual int preVisitExtensionRoots(SEQUENCE& seq);
    virtual int visitExtensionRoot(SEQUENCE& seq, int index, int optionalId);
    virtual int preVisitExtensions(SEQUENCE& seq);
    virtual int visitKnownExtension(SEQUENCE& seq, int index, int presenceId);
    virtual bool visitUnknownExtensions(SEQUENCE& seq);

    bool visit(SEQUENCE& seq);
};

class ConstVisitor {
public:
    virtual ~ConstVisitor() = default;

    virtual bool do_visit(const AbstractData& value);
    virtual bool do_visit(const Null& value);
    virtual bool do_visit(const BOOLEAN& value);
    virtual bool do_visit(const INTEGER& value);
    // Forwards to the INTEGER operation: a named-number INTEGER is an INTEGER.
    virtual bool do_visit(const IntegerWithNamedNumber& value);
    virtual bool do_visit(const ENUMERATED& value);
    virtual bool do_visit(const OBJECT_IDENTIFIER& value);
    virtual bool do_visit(const BIT_STRING& value);
    virtual bool do_visit(const OCTET_STRING& value);
    virtual bool do_visit(const AbstractString& value);
    virtual bool do_visit(const BMPString& value);
    virtual bool do_visit(const CHOICE& value);
    virtual bool do_visit(const OpenData& value);
    virtual bool do_visit(const GeneralizedTime& value);
    virtual bool do_visit(const SEQUENCE_OF_Base& value);

    virtual bool preVisitExtensionRoots(const SEQUENCE& seq);
    virtual bool visitExtensionRoot(const SEQUENCE& seq, int index);
    virtual bool preVisitExtensions(const SEQUENCE& seq);
    virtual bool visitKnownExtension(const SEQUENCE& seq, int index);
    virtual bool afterVisitSequence(const SEQUENCE& seq);

    bool visit(const SEQUENCE& seq);
};

} // namespace ASN1
