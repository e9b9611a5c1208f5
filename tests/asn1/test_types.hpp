#pragma once
// Hand-built descriptors in the form a generated module uses (see
// asn1/descriptor.hpp).  Module "T" of the tests.

#include "asn1/asn1.hpp"

namespace T {

using Slot = ASN1::Constrained_INTEGER<ASN1::RangeConstraint, 0, 1023>;
using Byte = ASN1::Constrained_INTEGER<ASN1::RangeConstraint, 0, 255>;
using Signed8 = ASN1::Constrained_INTEGER<ASN1::RangeConstraint, -128, 127>;
using U32 = ASN1::Constrained_INTEGER<ASN1::RangeConstraint, 0, 4294967295u>;

// ENUMERATED { invalidParams, ..., destroyInProgress }  (0..12)
class ErrorCause : public ASN1::ENUMERATED {
public:
    static const ASN1::EnumeratedTypeInfo theInfo;
    enum NamedNumber { invalidParams = 0, insufficientResources = 1, invalidSlot = 2,
                       unexpectedMsgType = 4, destroyInProgress = 12 };
    using ASN1::ENUMERATED::ENUMERATED;
    ErrorCause() : ASN1::ENUMERATED(&theInfo) {}
};

// ENUMERATED { initial, learn, listen, speak(4), standby(8), active(16) }
class StandbyState : public ASN1::ENUMERATED {
public:
    static const ASN1::EnumeratedTypeInfo theInfo;
    enum NamedNumber { initial = 0, learn = 1, listen = 2, speak = 4, standby = 8, active = 16 };
    using ASN1::ENUMERATED::ENUMERATED;
    StandbyState() : ASN1::ENUMERATED(&theInfo) {}
};

// ENUMERATED { not-use(-1), active, standby }
class RadioStandby : public ASN1::ENUMERATED {
public:
    static const ASN1::EnumeratedTypeInfo theInfo;
    using ASN1::ENUMERATED::ENUMERATED;
    RadioStandby() : ASN1::ENUMERATED(&theInfo) {}
};

// ENUMERATED { red, green, blue, ... }
class Colour : public ASN1::ENUMERATED {
public:
    static const ASN1::EnumeratedTypeInfo theInfo;
    using ASN1::ENUMERATED::ENUMERATED;
    Colour() : ASN1::ENUMERATED(&theInfo) {}
};

// CHOICE { success NULL, error ErrorCause }
class Response : public ASN1::CHOICE {
public:
    static const ASN1::ChoiceTypeInfo theInfo;
    enum class Alt : int { success = 0, error = 1 };
    using ASN1::CHOICE::CHOICE;
    Response() : ASN1::CHOICE(&theInfo) {}
};

// CHOICE { query NULL, testBpc NULL, connect INTEGER (0..1023), ..., userData
// OCTET STRING (8), ... ping NULL (12) ..., protoVeze NULL (14), ... }
class Command : public ASN1::CHOICE {
public:
    static const ASN1::ChoiceTypeInfo theInfo;
    enum class Alt : int { query = 0, connect = 2, destroy = 5, userData = 8, ping = 12 };
    using ASN1::CHOICE::CHOICE;
    Command() : ASN1::CHOICE(&theInfo) {}
};

// CHOICE { command Command, response Response, signal IA5String }
class PDU : public ASN1::CHOICE {
public:
    static const ASN1::ChoiceTypeInfo theInfo;
    enum class Alt : int { command = 0, response = 1, signal = 2 };
    using ASN1::CHOICE::CHOICE;
    PDU() : ASN1::CHOICE(&theInfo) {}
    Command& select_command() { return selectAs<Command>(0); }
};

// SEQUENCE { seq INTEGER OPTIONAL, slot INTEGER (0..1023) OPTIONAL, pdu PDU }
class Message : public ASN1::SEQUENCE {
public:
    static const ASN1::SequenceTypeInfo theInfo;
    using ASN1::SEQUENCE::SEQUENCE;
    Message() : ASN1::SEQUENCE(&theInfo) {}
    ASN1::INTEGER& get_seq() { return fieldAs<ASN1::INTEGER>(0); }
    void set_seq(int v) { fieldForWrite<ASN1::INTEGER>(0).setValue(v); }
    bool has_seq() const { return hasOptionalField(0); }
    Slot& get_slot() { return fieldAs<Slot>(1); }
    void set_slot(unsigned v) { fieldForWrite<Slot>(1) = v; }
    bool has_slot() const { return hasOptionalField(1); }
    PDU& get_pdu() { return fieldAs<PDU>(2); }
    const PDU& get_pdu() const { return fieldAs<PDU>(2); }
};

// SEQUENCE { x INTEGER (0..255), flag BOOLEAN OPTIONAL }
class Inner : public ASN1::SEQUENCE {
public:
    static const ASN1::SequenceTypeInfo theInfo;
    using ASN1::SEQUENCE::SEQUENCE;
    Inner() : ASN1::SEQUENCE(&theInfo) {}
    Byte& get_x() { return fieldAs<Byte>(0); }
};

// SEQUENCE { a INTEGER (0..255), b BOOLEAN OPTIONAL, c IA5String OPTIONAL, ...,
//            e1 BOOLEAN, e2 OCTET STRING, e3 Inner }
class Params : public ASN1::SEQUENCE {
public:
    static const ASN1::SequenceTypeInfo theInfo;
    using ASN1::SEQUENCE::SEQUENCE;
    Params() : ASN1::SEQUENCE(&theInfo) {}
    Byte& get_a() { return fieldAs<Byte>(0); }
    ASN1::BOOLEAN& get_b() { return fieldAs<ASN1::BOOLEAN>(1); }
    ASN1::IA5String& get_c() { return fieldAs<ASN1::IA5String>(2); }
    void set_c(const std::string& v) { fieldForWrite<ASN1::IA5String>(2) = v; }
    ASN1::BOOLEAN& get_e1() { return fieldAs<ASN1::BOOLEAN>(3); }
    ASN1::OCTET_STRING& get_e2() { return fieldAs<ASN1::OCTET_STRING>(4); }
    Inner& get_e3() { return fieldAs<Inner>(5); }
};

// Params as a later version of the schema sees it: one more addition,
// e4 INTEGER.
class ParamsV2 : public ASN1::SEQUENCE {
public:
    static const ASN1::SequenceTypeInfo theInfo;
    using ASN1::SEQUENCE::SEQUENCE;
    ParamsV2() : ASN1::SEQUENCE(&theInfo) {}
};

// CHOICE { a INTEGER, b BOOLEAN, ..., c IA5String }
class ExtChoice : public ASN1::CHOICE {
public:
    static const ASN1::ChoiceTypeInfo theInfo;
    using ASN1::CHOICE::CHOICE;
    ExtChoice() : ASN1::CHOICE(&theInfo) {}
};

// ExtChoice of a later version: ..., c IA5String, d Inner
class ExtChoiceV2 : public ASN1::CHOICE {
public:
    static const ASN1::ChoiceTypeInfo theInfo;
    using ASN1::CHOICE::CHOICE;
    ExtChoiceV2() : ASN1::CHOICE(&theInfo) {}
};

// IA5String (SIZE (1..64))
class Name : public ASN1::IA5String {
public:
    static const ASN1::StringTypeInfo theInfo;
    using ASN1::IA5String::IA5String;
    Name() : ASN1::IA5String(&theInfo) {}
};

// IA5String (SIZE (0..65535)) and OCTET STRING (SIZE (0..65535))
class LongText : public ASN1::AbstractString {
public:
    static const ASN1::StringTypeInfo theInfo;
    using ASN1::AbstractString::AbstractString;
    LongText() : ASN1::AbstractString(&theInfo) {}
};
class LongBytes : public ASN1::OCTET_STRING {
public:
    static const ASN1::ConstrainedTypeInfo theInfo;
    using ASN1::OCTET_STRING::OCTET_STRING;
    LongBytes() : ASN1::OCTET_STRING(&theInfo) {}
};

// NumericString (SIZE (2)), BIT STRING (SIZE (0..20, ...)), OCTET STRING (SIZE (4))
class Digits2 : public ASN1::AbstractString {
public:
    static const ASN1::StringTypeInfo theInfo;
    using ASN1::AbstractString::AbstractString;
    Digits2() : ASN1::AbstractString(&theInfo) {}
};
class Flags : public ASN1::BIT_STRING {
public:
    static const ASN1::ConstrainedTypeInfo theInfo;
    using ASN1::BIT_STRING::BIT_STRING;
    Flags() : ASN1::BIT_STRING(&theInfo) {}
};
class Quad : public ASN1::OCTET_STRING {
public:
    static const ASN1::ConstrainedTypeInfo theInfo;
    using ASN1::OCTET_STRING::OCTET_STRING;
    Quad() : ASN1::OCTET_STRING(&theInfo) {}
};

// BMPString (SIZE (0..8))
class Wide : public ASN1::BMPString {
public:
    static const ASN1::BMPStringTypeInfo theInfo;
    using ASN1::BMPString::BMPString;
    Wide() : ASN1::BMPString(&theInfo) {}
};

// INTEGER (0..10, ...)
class Ext10 : public ASN1::INTEGER {
public:
    static const ASN1::ConstrainedTypeInfo theInfo;
    using ASN1::INTEGER::INTEGER;
    Ext10() : ASN1::INTEGER(&theInfo) {}
};

// INTEGER (5..MAX)
class From5 : public ASN1::INTEGER {
public:
    static const ASN1::ConstrainedTypeInfo theInfo;
    using ASN1::INTEGER::INTEGER;
    From5() : ASN1::INTEGER(&theInfo) {}
};

// INTEGER { low(1), mid(5), high(9) } (0..15)
class Level : public ASN1::IntegerWithNamedNumber {
public:
    static const ASN1::NamedIntegerTypeInfo theInfo;
    using ASN1::IntegerWithNamedNumber::IntegerWithNamedNumber;
    Level() : ASN1::IntegerWithNamedNumber(&theInfo) {}
};

// SEQUENCE (SIZE (0..3)) OF INTEGER (0..255)
class SmallList : public ASN1::SEQUENCE_OF<Byte, ASN1::SizeConstraint<ASN1::RangeConstraint, 0, 3>> {
public:
    static const ASN1::SequenceOfTypeInfo theInfo;
    using SEQUENCE_OF::SEQUENCE_OF;
    SmallList() : SEQUENCE_OF(&theInfo) {}
};

// TYPE-IDENTIFIER.&Type (Inner)
class InnerHolder : public ASN1::TypeConstrainedOpenData {
public:
    static const ASN1::OpenTypeInfo theInfo;
    using ASN1::TypeConstrainedOpenData::TypeConstrainedOpenData;
    InnerHolder() : ASN1::TypeConstrainedOpenData(&theInfo) {}
};

// A SEQUENCE with one field of every kind (the randomized round trips).
class Everything : public ASN1::SEQUENCE {
public:
    static const ASN1::SequenceTypeInfo theInfo;
    using ASN1::SEQUENCE::SEQUENCE;
    Everything() : ASN1::SEQUENCE(&theInfo) {}
    enum Field : unsigned {
        null_, boolean, integer, signed8, u32, slot, ext10, from5, level, errorCause,
        standby, colour, oid, flags, bits, octets, quad, numeric, printable, visible,
        general, name, ia5, wide, time, response, command, extChoice, ints, small,
        open, holder, params, message, fieldCount_
    };
};

}  // namespace T
