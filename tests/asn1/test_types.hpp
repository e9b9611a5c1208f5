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
    enum NamedNumber {
        invalidParams = 0,
        insufficientResources = 1,
        invalidSlot = 2,
        unexpectedMsgType = 4,
        destroyInProgress = 12
    };
    explicit ErrorCause(const info_type* info) : ASN1::ENUMERATED(info) {}
    ErrorCause(ASN1::CopyTag, const runtime_class& other) : ASN1::ENUMERATED(ASN1::copy_tag, other) {}
    using ASN1::ENUMERATED::operator=;
    ErrorCause() : ASN1::ENUMERATED(&theInfo) {}
};

// ENUMERATED { initial, learn, listen, speak(4), standby(8), active(16) }
class StandbyState : public ASN1::ENUMERATED {
public:
    static const ASN1::EnumeratedTypeInfo theInfo;
    enum NamedNumber { initial = 0, learn = 1, listen = 2, speak = 4, standby = 8, active = 16 };
    explicit StandbyState(const info_type* info) : ASN1::ENUMERATED(info) {}
    StandbyState(ASN1::CopyTag, const runtime_class& other) : ASN1::ENUMERATED(ASN1::copy_tag, other) {}
    using ASN1::ENUMERATED::operator=;
    StandbyState() : ASN1::ENUMERATED(&theInfo) {}
};

// ENUMERATED { not-use(-1), active, standby }
class RadioStandby : public ASN1::ENUMERATED {
public:
    static const ASN1::EnumeratedTypeInfo theInfo;
    explicit RadioStandby(const info_type* info) : ASN1::ENUMERATED(info) {}
    RadioStandby(ASN1::CopyTag, const runtime_class& other) : ASN1::ENUMERATED(ASN1::copy_tag, other) {}
    using ASN1::ENUMERATED::operator=;
    RadioStandby() : ASN1::ENUMERATED(&theInfo) {}
};

// ENUMERATED { red, green, blue, ... }
class Colour : public ASN1::ENUMERATED {
public:
    static const ASN1::EnumeratedTypeInfo theInfo;
    explicit Colour(const info_type* info) : ASN1::ENUMERATED(info) {}
    Colour(ASN1::CopyTag, const runtime_class& other) : ASN1::ENUMERATED(ASN1::copy_tag, other) {}
    using ASN1::ENUMERATED::operator=;
    Colour() : ASN1::ENUMERATED(&theInfo) {}
};

// CHOICE { success NULL, error ErrorCause }
class Response : public ASN1::CHOICE {
public:
    static const ASN1::ChoiceTypeInfo theInfo;
    enum class Alt : int { success = 0, error = 1 };
    explicit Response(const info_type* info) : ASN1::CHOICE(info) {}
    Response(ASN1::CopyTag, const runtime_class& other) : ASN1::CHOICE(ASN1::copy_tag, other) {}
    using ASN1::CHOICE::operator=;
    Response() : ASN1::CHOICE(&theInfo) {}
};

// CHOICE { query NULL, testBpc NULL, connect INTEGER (0..1023), ..., userData
// OCTET STRING (8), ... ping NULL (12) ..., protoVeze NULL (14), ... }
class Command : public ASN1::CHOICE {
public:
    static const ASN1::ChoiceTypeInfo theInfo;
    enum class Alt : int { query = 0, connect = 2, destroy = 5, userData = 8, ping = 12 };
    explicit Command(const info_type* info) : ASN1::CHOICE(info) {}
    Command(ASN1::CopyTag, const runtime_class& other) : ASN1::CHOICE(ASN1::copy_tag, other) {}
    using ASN1::CHOICE::operator=;
    Command() : ASN1::CHOICE(&theInfo) {}
};

// CHOICE { command Command, response Response, signal IA5String }
class PDU : public ASN1::CHOICE {
public:
    static const ASN1::ChoiceTypeInfo theInfo;
    enum class Alt : int { command = 0, response = 1, signal = 2 };
    explicit PDU(const info_type* info) : ASN1::CHOICE(info) {}
    PDU(ASN1::CopyTag, const runtime_class& other) : ASN1::CHOICE(ASN1::copy_tag, other) {}
    using ASN1::CHOICE::operator=;
    PDU() : ASN1::CHOICE(&theInfo) {}
    Command& select_command() { return selectAs<Command>(0); }
};

// SEQUENCE { seq INTEGER OPTIONAL, slot INTEGER (0..1023) OPTIONAL, pdu PDU }
class Message : public ASN1::SEQUENCE {
public:
    static const ASN1::SequenceTypeInfo theInfo;
    explicit Message(const info_type* info) : ASN1::SEQUENCE(info) {}
    Message(ASN1::CopyTag, const runtime_class& other) : ASN1::SEQUENCE(ASN1::copy_tag, other) {}
    using ASN1::SEQUENCE::operator=;
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
    explicit Inner(const info_type* info) : ASN1::SEQUENCE(info) {}
    Inner(ASN1::CopyTag, const runtime_class& other) : ASN1::SEQUENCE(ASN1::copy_tag, other) {}
    using ASN1::SEQUENCE::operator=;
    Inner() : ASN1::SEQUENCE(&theInfo) {}
    Byte& get_x() { return fieldAs<Byte>(0); }
};

// SEQUENCE { a INTEGER (0..255), b BOOLEAN OPTIONAL, c IA5String OPTIONAL, ...,
//            e1 BOOLEAN, e2 OCTET STRING, e3 Inner }
class Params : public ASN1::SEQUENCE {
public:
    static const ASN1::SequenceTypeInfo theInfo;
    explicit Params(const info_type* info) : ASN1::SEQUENCE(info) {}
    Params(ASN1::CopyTag, const runtime_class& other) : ASN1::SEQUENCE(ASN1::copy_tag, other) {}
    using ASN1::SEQUENCE::operator=;
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
    explicit ParamsV2(const info_type* info) : ASN1::SEQUENCE(info) {}
    ParamsV2(ASN1::CopyTag, const runtime_class& other) : ASN1::SEQUENCE(ASN1::copy_tag, other) {}
    using ASN1::SEQUENCE::operator=;
    ParamsV2() : ASN1::SEQUENCE(&theInfo) {}
};

// CHOICE { a INTEGER, b BOOLEAN, ..., c IA5String }
class ExtChoice : public ASN1::CHOICE {
public:
    static const ASN1::ChoiceTypeInfo theInfo;
    explicit ExtChoice(const info_type* info) : ASN1::CHOICE(info) {}
    ExtChoice(ASN1::CopyTag, const runtime_class& other) : ASN1::CHOICE(ASN1::copy_tag, other) {}
    using ASN1::CHOICE::operator=;
    ExtChoice() : ASN1::CHOICE(&theInfo) {}
};

// ExtChoice of a later version: ..., c IA5String, d Inner
class ExtChoiceV2 : public ASN1::CHOICE {
public:
    static const ASN1::ChoiceTypeInfo theInfo;
    explicit ExtChoiceV2(const info_type* info) : ASN1::CHOICE(info) {}
    ExtChoiceV2(ASN1::CopyTag, const runtime_class& other) : ASN1::CHOICE(ASN1::copy_tag, other) {}
    using ASN1::CHOICE::operator=;
    ExtChoiceV2() : ASN1::CHOICE(&theInfo) {}
};

// IA5String (SIZE (1..64))
class Name : public ASN1::IA5String {
public:
    static const ASN1::StringTypeInfo theInfo;
    explicit Name(const info_type* info) : ASN1::IA5String(info) {}
    Name(ASN1::CopyTag, const runtime_class& other) : ASN1::IA5String(ASN1::copy_tag, other) {}
    using ASN1::IA5String::operator=;
    Name() : ASN1::IA5String(&theInfo) {}
};

// IA5String (SIZE (0..65535)) and OCTET STRING (SIZE (0..65535))
class LongText : public ASN1::AbstractString {
public:
    static const ASN1::StringTypeInfo theInfo;
    explicit LongText(const info_type* info) : ASN1::AbstractString(info) {}
    LongText(ASN1::CopyTag, const runtime_class& other) : ASN1::AbstractString(ASN1::copy_tag, other) {}
    using ASN1::AbstractString::operator=;
    LongText() : ASN1::AbstractString(&theInfo) {}
};
class LongBytes : public ASN1::OCTET_STRING {
public:
    static const ASN1::ConstrainedTypeInfo theInfo;
    explicit LongBytes(const info_type* info) : ASN1::OCTET_STRING(info) {}
    LongBytes(ASN1::CopyTag, const runtime_class& other) : ASN1::OCTET_STRING(ASN1::copy_tag, other) {}
    using ASN1::OCTET_STRING::operator=;
    LongBytes() : ASN1::OCTET_STRING(&theInfo) {}
};

// NumericString (SIZE (2)), BIT STRING (SIZE (0..20, ...)), OCTET STRING (SIZE (4))
class Digits2 : public ASN1::AbstractString {
public:
    static const ASN1::StringTypeInfo theInfo;
    explicit Digits2(const info_type* info) : ASN1::AbstractString(info) {}
    Digits2(ASN1::CopyTag, const runtime_class& other) : ASN1::AbstractString(ASN1::copy_tag, other) {}
    using ASN1::AbstractString::operator=;
    Digits2() : ASN1::AbstractString(&theInfo) {}
};
class Flags : public ASN1::BIT_STRING {
public:
    static const ASN1::ConstrainedTypeInfo theInfo;
    explicit Flags(const info_type* info) : ASN1::BIT_STRING(info) {}
    Flags(ASN1::CopyTag, const runtime_class& other) : ASN1::BIT_STRING(ASN1::copy_tag, other) {}
    using ASN1::BIT_STRING::operator=;
    Flags() : ASN1::BIT_STRING(&theInfo) {}
};
class Quad : public ASN1::OCTET_STRING {
public:
    static const ASN1::ConstrainedTypeInfo theInfo;
    explicit Quad(const info_type* info) : ASN1::OCTET_STRING(info) {}
    Quad(ASN1::CopyTag, const runtime_class& other) : ASN1::OCTET_STRING(ASN1::copy_tag, other) {}
    using ASN1::OCTET_STRING::operator=;
    Quad() : ASN1::OCTET_STRING(&theInfo) {}
};

// BMPString (SIZE (0..8))
class Wide : public ASN1::BMPString {
public:
    static const ASN1::BMPStringTypeInfo theInfo;
    explicit Wide(const info_type* info) : ASN1::BMPString(info) {}
    Wide(ASN1::CopyTag, const runtime_class& other) : ASN1::BMPString(ASN1::copy_tag, other) {}
    using ASN1::BMPString::operator=;
    Wide() : ASN1::BMPString(&theInfo) {}
};

// INTEGER (0..10, ...)
class Ext10 : public ASN1::INTEGER {
public:
    static const ASN1::ConstrainedTypeInfo theInfo;
    explicit Ext10(const info_type* info) : ASN1::INTEGER(info) {}
    Ext10(ASN1::CopyTag, const runtime_class& other) : ASN1::INTEGER(ASN1::copy_tag, other) {}
    using ASN1::INTEGER::operator=;
    Ext10() : ASN1::INTEGER(&theInfo) {}
};

// INTEGER (5..MAX)
class From5 : public ASN1::INTEGER {
public:
    static const ASN1::ConstrainedTypeInfo theInfo;
    explicit From5(const info_type* info) : ASN1::INTEGER(info) {}
    From5(ASN1::CopyTag, const runtime_class& other) : ASN1::INTEGER(ASN1::copy_tag, other) {}
    using ASN1::INTEGER::operator=;
    From5() : ASN1::INTEGER(&theInfo) {}
};

// INTEGER { low(1), mid(5), high(9) } (0..15)
class Level : public ASN1::IntegerWithNamedNumber {
public:
    static const ASN1::NamedIntegerTypeInfo theInfo;
    explicit Level(const info_type* info) : ASN1::IntegerWithNamedNumber(info) {}
    Level(ASN1::CopyTag, const runtime_class& other) : ASN1::IntegerWithNamedNumber(ASN1::copy_tag, other) {}
    using ASN1::IntegerWithNamedNumber::operator=;
    Level() : ASN1::IntegerWithNamedNumber(&theInfo) {}
};

// SEQUENCE (SIZE (0..3)) OF INTEGER (0..255)
class SmallList : public ASN1::SEQUENCE_OF<Byte, ASN1::SizeConstraint<ASN1::RangeConstraint, 0, 3>> {
public:
    static const ASN1::SequenceOfTypeInfo theInfo;
    explicit SmallList(const info_type* info) : SEQUENCE_OF(info) {}
    SmallList(ASN1::CopyTag, const runtime_class& other) : SEQUENCE_OF(ASN1::copy_tag, other) {}
    using SEQUENCE_OF::operator=;
    SmallList() : SEQUENCE_OF(&theInfo) {}
};

// TYPE-IDENTIFIER.&Type (Inner)
class InnerHolder : public ASN1::TypeConstrainedOpenData {
public:
    static const ASN1::OpenTypeInfo theInfo;
    explicit InnerHolder(const info_type* info) : ASN1::TypeConstrainedOpenData(info) {}
    InnerHolder(ASN1::CopyTag, const runtime_class& other)
        : ASN1::TypeConstrainedOpenData(ASN1::copy_tag, other)
    {}
    using ASN1::TypeConstrainedOpenData::operator=;
    InnerHolder() : ASN1::TypeConstrainedOpenData(&theInfo) {}
};

// A SEQUENCE with one field of every kind (the randomized round trips).
class Everything : public ASN1::SEQUENCE {
public:
    static const ASN1::SequenceTypeInfo theInfo;
    explicit Everything(const info_type* info) : ASN1::SEQUENCE(info) {}
    Everything(ASN1::CopyTag, const runtime_class& other) : ASN1::SEQUENCE(ASN1::copy_tag, other) {}
    using ASN1::SEQUENCE::operator=;
    Everything() : ASN1::SEQUENCE(&theInfo) {}
    enum Field : unsigned {
        null_,
        boolean,
        integer,
        signed8,
        u32,
        slot,
        ext10,
        from5,
        level,
        errorCause,
        standby,
        colour,
        oid,
        flags,
        bits,
        octets,
        quad,
        numeric,
        printable,
        visible,
        general,
        name,
        ia5,
        wide,
        time,
        response,
        command,
        extChoice,
        ints,
        small,
        open,
        holder,
        params,
        message,
        fieldCount_
    };
};

} // namespace T
