#pragma once
// Test stand-in for the generated LGCP module, used only while the build has
// no generated modules: the envelope (Message, PDU, Response, ErrorCause) as
// the schema has it, Command and Signal with their real alternative counts
// and extensibility but NULL in place of the structured parameter types.
// The server tests speak in octets, so they hold for the real module too.

#include "asn1/asn1.hpp"

namespace LGCP {

using Slot = ASN1::Constrained_INTEGER<ASN1::RangeConstraint, 0, 1023>;

class ErrorCause : public ASN1::ENUMERATED {
public:
    static const ASN1::EnumeratedTypeInfo theInfo;
    enum NamedNumber {
        invalidParams = 0, insufficientResources = 1, invalidSlot = 2, slotNotExists = 3,
        unexpectedMsgType = 4, internal = 5, unsupported = 6, reconnectionFail = 7,
        disconnectFail = 8, connectFail = 9, busError = 10, slotIdBusy = 11,
        destroyInProgress = 12
    };
    explicit ErrorCause(const info_type* info) : ASN1::ENUMERATED(info) {}
    ErrorCause(ASN1::CopyTag, const runtime_class& o) : ASN1::ENUMERATED(ASN1::copy_tag, o) {}
    using ASN1::ENUMERATED::operator=;
    ErrorCause() : ASN1::ENUMERATED(&theInfo) {}
};

#define GW_STANDIN_CHOICE(Name)                                                              \
    class Name : public ASN1::CHOICE {                                                       \
    public:                                                                                  \
        static const ASN1::ChoiceTypeInfo theInfo;                                           \
        explicit Name(const info_type* info) : ASN1::CHOICE(info) {}                         \
        Name(ASN1::CopyTag, const runtime_class& o) : ASN1::CHOICE(ASN1::copy_tag, o) {}     \
        using ASN1::CHOICE::operator=;                                                       \
        Name() : ASN1::CHOICE(&theInfo) {}                                                   \
    };

GW_STANDIN_CHOICE(Response)
GW_STANDIN_CHOICE(Command)
GW_STANDIN_CHOICE(Signal)
GW_STANDIN_CHOICE(PDU)
#undef GW_STANDIN_CHOICE

class Message : public ASN1::SEQUENCE {
public:
    static const ASN1::SequenceTypeInfo theInfo;
    explicit Message(const info_type* info) : ASN1::SEQUENCE(info) {}
    Message(ASN1::CopyTag, const runtime_class& o) : ASN1::SEQUENCE(ASN1::copy_tag, o) {}
    using ASN1::SEQUENCE::operator=;
    Message() : ASN1::SEQUENCE(&theInfo) {}
};

} // namespace LGCP
