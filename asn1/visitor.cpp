#include "asn1/visitor.hpp"

namespace ASN1 {

bool Visitor::do_visit(IntegerWithNamedNumber& value)
{
    return do_visit(static_cast<INTEGER&>(value));
}

int Visitor::preVisitExtensionRoots(SEQUENCE&)
{
    return goOn;
}

int Visitor::visitExtensionRoot(SEQUENCE&, int, int)
{
    return fail;
}

int Visitor::preVisitExtensions(SEQUENCE&)
{
    return goOn;
}

int Visitor::visitKnownExtension(SEQUENCE&, int, int)
{
    return fail;
}

bool Visitor::visitUnknownExtensions(SEQUENCE&)
{
    return true;
}

bool Visitor::visit(SEQUENCE& seq)
{
    const int r = preVisitExtensionRoots(seq);
    if (r == fail || r == stop)
        return r != fail;
    const SequenceTypeInfo* info = seq.info();
    int lastOptionalId = -1;
    for (std::uint32_t i = 0; i < info->rootFieldCount; ++i) {
        const int id = info->fieldIds[i];
        const int c = visitExtensionRoot(seq, static_cast<int>(i), id);
        if (c == fail || c == stop)
            return c != fail;
        if (id != -1)
            lastOptionalId = id;
    }
    if (r != goOn)
        return true;
    const int e = preVisitExtensions(seq);
    if (e != goOn)
        return e != fail;
    int presenceId = lastOptionalId;
    for (unsigned i = info->rootFieldCount; i < seq.fieldCount(); ++i) {
        const int k = visitKnownExtension(seq, static_cast<int>(i), ++presenceId);
        if (k != goOn)
            return k != fail;
    }
    return visitUnknownExtensions(seq);
}

bool ConstVisitor::do_visit(const AbstractData&)
{
    return true;
}

bool ConstVisitor::do_visit(const Null& v)
{
    return do_visit(static_cast<const AbstractData&>(v));
}
bool ConstVisitor::do_visit(const BOOLEAN& v)
{
    return do_visit(static_cast<const AbstractData&>(v));
}
bool ConstVisitor::do_visit(const INTEGER& v)
{
    return do_visit(static_cast<const AbstractData&>(v));
}
bool ConstVisitor::do_visit(const IntegerWithNamedNumber& v)
{
    return do_visit(static_cast<const INTEGER&>(v));
}
bool ConstVisitor::do_visit(const ENUMERATED& v)
{
    return do_visit(static_cast<const AbstractData&>(v));
}
bool ConstVisitor::do_visit(const OBJECT_IDENTIFIER& v)
{
    return do_visit(static_cast<const AbstractData&>(v));
}
bool ConstVisitor::do_visit(const BIT_STRING& v)
{
    return do_visit(static_cast<const AbstractData&>(v));
}
bool ConstVisitor::do_visit(const OCTET_STRING& v)
{
    return do_visit(static_cast<const AbstractData&>(v));
}
bool ConstVisitor::do_visit(const AbstractString& v)
{
    return do_visit(static_cast<const AbstractData&>(v));
}
bool ConstVisitor::do_visit(const BMPString& v)
{
    return do_visit(static_cast<const AbstractData&>(v));
}
bool ConstVisitor::do_visit(const CHOICE& v)
{
    return do_visit(static_cast<const AbstractData&>(v));
}
bool ConstVisitor::do_visit(const OpenData& v)
{
    return do_visit(static_cast<const AbstractData&>(v));
}
bool ConstVisitor::do_visit(const GeneralizedTime& v)
{
    return do_visit(static_cast<const AbstractData&>(v));
}
bool ConstVisitor::do_visit(const SEQUENCE_OF_Base& v)
{
    return do_visit(static_cast<const AbstractData&>(v));
}

bool ConstVisitor::preVisitExtensionRoots(const SEQUENCE& seq)
{
    return do_visit(static_cast<const AbstractData&>(seq));
}

bool ConstVisitor::visitExtensionRoot(const SEQUENCE&, int)
{
    return false;
}

bool ConstVisitor::preVisitExtensions(const SEQUENCE&)
{
    return true;
}

bool ConstVisitor::visitKnownExtension(const SEQUENCE&, int)
{
    return false;
}

bool ConstVisitor::afterVisitSequence(const SEQUENCE&)
{
    return true;
}

bool ConstVisitor::visit(const SEQUENCE& seq)
{
    if (!preVisitExtensionRoots(seq))
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
        if (!visitExtensionRoot(seq, static_cast<int>(i)))
            return false;
    }
    if (seq.extensionMap().size() == 0)
        return afterVisitSequence(seq);
    if (!preVisitExtensions(seq))
        return false;
    int presenceId = lastOptionalId;
    for (unsigned i = info->rootFieldCount; i < seq.fieldCount(); ++i) {
        ++presenceId;
        if (seq.hasOptionalField(static_cast<unsigned>(presenceId)) &&
            !visitKnownExtension(seq, static_cast<int>(i)))
            return false;
    }
    return afterVisitSequence(seq);
}

} // namespace ASN1
