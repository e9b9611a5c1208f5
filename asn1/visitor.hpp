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

    // The walk of a SEQUENCE through the hooks above. A coder whose class is
    // final overrides it with walk(*this, seq): its hooks are then called
    // directly, not through the table, once per field.
    virtual bool visit(SEQUENCE& seq);

protected:
    template <class V>
    static bool walk(V& visitor, SEQUENCE& seq);
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

    // As Visitor::visit.
    virtual bool visit(const SEQUENCE& seq);

protected:
    template <class V>
    static bool walk(V& visitor, const SEQUENCE& seq);
};

template <class V>
bool Visitor::walk(V& v, SEQUENCE& seq)
{
    const int r = v.preVisitExtensionRoots(seq);
    if (r == fail || r == stop)
        return r != fail;
    const SequenceTypeInfo* info = seq.info();
    int lastOptionalId = -1;
    for (std::uint32_t i = 0; i < info->rootFieldCount; ++i) {
        const int id = info->fieldIds[i];
        const int c = v.visitExtensionRoot(seq, static_cast<int>(i), id);
        if (c == fail || c == stop)
            return c != fail;
        if (id != -1)
            lastOptionalId = id;
    }
    if (r != goOn)
        return true;
    const int e = v.preVisitExtensions(seq);
    if (e != goOn)
        return e != fail;
    int presenceId = lastOptionalId;
    for (unsigned i = info->rootFieldCount; i < seq.fieldCount(); ++i) {
        const int k = v.visitKnownExtension(seq, static_cast<int>(i), ++presenceId);
        if (k != goOn)
            return k != fail;
    }
    return v.visitUnknownExtensions(seq);
}

template <class V>
bool ConstVisitor::walk(V& v, const SEQUENCE& seq)
{
    if (!v.preVisitExtensionRoots(seq))
        return false;
    const SequenceTypeInfo* info = seq.info();
    int lastOptionalId = -1;
    for (std::uint32_t i = 0; i < info->rootFieldCount; ++i) {
        const int id = info->fieldIds[i];
        if (id != -1) {
            lastOptionalId = id;
            if (!seq.hasOptionalField(static_cast<unsigned>(id)))
                continue;
        }
        if (!v.visitExtensionRoot(seq, static_cast<int>(i)))
            return false;
    }
    if (seq.extensionMap().size() == 0)
        return v.afterVisitSequence(seq);
    if (!v.preVisitExtensions(seq))
        return false;
    int presenceId = lastOptionalId;
    for (unsigned i = info->rootFieldCount; i < seq.fieldCount(); ++i) {
        ++presenceId;
        if (seq.hasOptionalField(static_cast<unsigned>(presenceId)) &&
            !v.visitKnownExtension(seq, static_cast<int>(i)))
            return false;
    }
    return v.afterVisitSequence(seq);
}

} // namespace ASN1
