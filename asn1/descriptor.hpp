#pragma once
// Type descriptors of the ASN.1 runtime.
//
// Every ASN.1 type is one constant record (the static member `theInfo` of its
// class).  A value object holds only its data and a pointer to that record;
// the coders read tags, constraints, alphabets, fields and alternatives from
// it.  Records begin with a common header, `TypeInfo` { create, clone, tag,
// per } (`per`: the class's generated PER coders, see PerCoders):
// `create` allocates a default value of the type's own C++ class, `clone`
// deep-copies a value into a new object of that class.  Both come from
// `ASN1::type_header<Class>(tag)`, so every value object in a tree (fields,
// alternatives, elements, clones) has the dynamic type the code expects.
//
// Records are aggregates; a module defines them with `constinit` so that they
// are constant-initialised and usable before any static constructor runs.
// A record may name another record before its definition through the class's
// static member declaration (recursive types are fine).
//
// HOW A GENERATED MODULE DECLARES ITS TYPES (module `M`, all in namespace M)
// ------------------------------------------------------------------------
// Header: one class per named type, deriving from the runtime class of its
// kind and adding no data members:
//
//   class Message : public ASN1::SEQUENCE {
//   public:
//       static const ASN1::SequenceTypeInfo theInfo;
//       Message() : ASN1::SEQUENCE(&theInfo) {}
//       // Every generated class has these two constructors (the create and
//       // clone hooks call them) and takes its base's assignments.  It does
//       // not inherit the base's value constructors: those bind the base's
//       // own descriptor.
//       explicit Message(const info_type* info) : ASN1::SEQUENCE(info) {}
//       Message(ASN1::CopyTag, const runtime_class& other)
//           : ASN1::SEQUENCE(ASN1::copy_tag, other) {}
//       using ASN1::SEQUENCE::operator=;             // (=5, ="text" on leaves)
//       // accessors (field i of the descriptor):
//       ASN1::INTEGER& get_seq() { return fieldAs<ASN1::INTEGER>(0); }
//       const ASN1::INTEGER& get_seq() const { return fieldAs<ASN1::INTEGER>(0); }
//       void set_seq(int v) { fieldForWrite<ASN1::INTEGER>(0).setValue(v); }
//       bool has_seq() const { return hasOptionalField(0); }    // optional id 0
//       void include_seq() { includeOptionalField(0, 0); }       // (id, field)
//       void remove_seq() { removeOptionalField(0); }
//   };
//   A generated SEQUENCE or CHOICE class may also declare its own PER
//   coders: `static bool perDecode(ASN1::PERDecoder&, ASN1::AbstractData&)`,
//   `static bool perEncode(ASN1::PEREncoder&, const ASN1::AbstractData&)`
//   and `static const ASN1::PerCoders perCoders` (their two addresses);
//   type_header then records them and the PER coders call them in place of
//   the walk. A SEQUENCE class may create its mandatory root fields itself:
//   its constructors pass `true` to ASN1::SEQUENCE(info, bool) (for its own
//   descriptor) and adoptField() a new object of each field's class. Its
//   default constructor may pass ASN1::SEQUENCE::Counts<fields, optional>{}
//   instead (the record's rootFieldCount + knownExtensionCount and
//   optionalCount, known when the class is compiled), and its destructor
//   may call releaseFields<each slot's class...>() to free the fields
//   without a virtual call each.
//   class PDU : public ASN1::CHOICE {
//   public:
//       static const ASN1::ChoiceTypeInfo theInfo;
//       enum class Alt : int { command = 0, response = 1, signal = 2 };
//       PDU() : ASN1::CHOICE(&theInfo) {}
//       (the two constructors and the using-declaration as in Message)
//       bool is_command() const { return currentSelection() == 0; }
//       Command& get_command() { return alternativeAs<Command>(); }  // when selected
//       const Command& get_command() const { return alternativeAs<Command>(0); }
//                                      // (the default Command when not selected)
//       Command& select_command() { return selectAs<Command>(0); }   // creates it
//   };
//   class ErrorCause : public ASN1::ENUMERATED {
//   public:
//       static const ASN1::EnumeratedTypeInfo theInfo;
//       enum NamedNumber { invalidParams = 0, insufficientResources = 1 };
//       ErrorCause() : ASN1::ENUMERATED(&theInfo) {}
//       (the two constructors and the using-declaration as in Message)
//   };
//   // SEQUENCE OF: a named one is its own class; an anonymous one uses
//   // ASN1::SEQUENCE_OF<Element, Constraint> directly (it has its own theInfo).
//   class Names : public ASN1::SEQUENCE_OF<ASN1::IA5String,
//                                         ASN1::SizeConstraint<ASN1::RangeConstraint, 1, 8>> {
//   public:
//       static const ASN1::SequenceOfTypeInfo theInfo;
//       Names() : SEQUENCE_OF(&theInfo) {}
//       (the two constructors and the using-declaration as in Message)
//   };
//   // A string type with its own size constraint or alphabet:
//   class Name : public ASN1::IA5String {                 // or ASN1::AbstractString
//   public:
//       static const ASN1::StringTypeInfo theInfo;
//       Name() : ASN1::IA5String(&theInfo) {}
//       (the two constructors and the using-declaration as in Message)
//   };
//   // INTEGER (a..b), BOOLEAN, NULL, plain INTEGER, OCTET STRING, IA5String,
//   // OBJECT IDENTIFIER, GeneralizedTime need no class: their fields use
//   // ASN1::Constrained_INTEGER<ASN1::RangeConstraint, a, b>, ASN1::BOOLEAN,
//   // ASN1::Null, ASN1::INTEGER, ASN1::OCTET_STRING, ASN1::IA5String,
//   // ASN1::OBJECT_IDENTIFIER, ASN1::GeneralizedTime and their ::theInfo.
//   // A sized OCTET/BIT STRING is a class over ASN1::OCTET_STRING/BIT_STRING
//   // with a ConstrainedTypeInfo, like `Name` above.
//
// Source: the tables first, then the record (counts must match the arrays;
// `std::size` of the array is the safe way to write them):
//
//   // SEQUENCE { seq INTEGER OPTIONAL, slot INTEGER (0..1023) OPTIONAL,
//   //            pdu PDU, ..., extra BOOLEAN }     (one extension addition)
//   constinit const ASN1::TypeInfo* const Message_fieldInfos[] = {
//       &ASN1::INTEGER::theInfo,
//       &ASN1::Constrained_INTEGER<ASN1::RangeConstraint, 0, 1023>::theInfo,
//       &PDU::theInfo,
//       &ASN1::BOOLEAN::theInfo };                    // additions after the root
//   constinit const int Message_fieldIds[] = { 0, 1, -1, 0 };  // optional id, -1
//                                                    // mandatory, 0 for additions
//   constinit const char* const Message_fieldNames[] = { "seq", "slot", "pdu", "extra" };
//   constinit const ASN1::SequenceTypeInfo Message::theInfo = {
//       ASN1::type_header<Message>(ASN1::tag::SEQUENCE),
//       true,                  // extensible (extension marker present)
//       Message_fieldInfos, Message_fieldIds,
//       3,                     // rootFieldCount
//       1,                     // knownExtensionCount
//       2,                     // optionalCount (optional root fields)
//       nullptr,               // defaultExtensionBits
//       nullptr,               // tags (automatic tagging)
//       Message_fieldNames };
//
//   // CHOICE { command Command, response Response, signal Signal, ..., more NULL }
//   constinit const ASN1::TypeInfo* const PDU_selectionInfos[] = {
//       &Command::theInfo, &Response::theInfo, &Signal::theInfo, &ASN1::Null::theInfo };
//   constinit const char* const PDU_selectionNames[] = { "command", "response", "signal", "more" };
//   constinit const ASN1::ChoiceTypeInfo PDU::theInfo = {
//       ASN1::type_header<PDU>(0),
//       true,                  // extensible
//       PDU_selectionInfos,
//       3,                     // rootCount
//       4,                     // totalCount (root + known extension alternatives)
//       nullptr,               // tags
//       PDU_selectionNames };
//
//   // ENUMERATED { invalidParams, insufficientResources, ..., big(20) }
//   constinit const char* const ErrorCause_enum_names__[] = {
//       "invalidParams", "insufficientResources", "big=20" };
//   constinit const ASN1::EnumeratedTypeInfo ErrorCause::theInfo = {
//       ASN1::type_header<ErrorCause>(ASN1::tag::ENUMERATED),
//       true,                  // extensible
//       20,                    // maxEnumValue (the wire range is 0..max)
//       ErrorCause_enum_names__,
//       3 };                   // nameCount
//
//   // SEQUENCE (SIZE (1..8)) OF IA5String
//   constinit const ASN1::SequenceOfTypeInfo Names::theInfo = {
//       { ASN1::type_header<Names>(ASN1::tag::SEQUENCE), ASN1::RangeConstraint, 1, 8 },
//       &ASN1::IA5String::theInfo };               // element type
//   //   SET OF: tag ASN1::tag::SET.  Unconstrained: ASN1::NoConstraint, 0, 0xFFFFFFFF.
//
//   // IA5String (SIZE (1..64)), alphabet of IA5String
//   constinit const ASN1::StringTypeInfo Name::theInfo = {
//       { ASN1::type_header<Name>(ASN1::tag::IA5String), ASN1::RangeConstraint, 1, 64 },
//       ASN1::IA5StringSet, 128, 7, 7, 8 };  // charSet, size, canonical/unaligned/aligned bits
//   //   NumericString: NumericStringSet, 11, 4, 4, 4 (tag::NumericString);
//   //   PrintableString: PrintableStringSet, 74, 7, 7, 8; VisibleString:
//   //   VisibleStringSet, 95, 7, 7, 8; GeneralString: GeneralStringSet, 256, 8, 8, 8.
//   //   These have no class of their own: derive from ASN1::AbstractString.
//
//   // OCTET STRING (SIZE (0..255)) as a class over ASN1::OCTET_STRING:
//   constinit const ASN1::ConstrainedTypeInfo Blob::theInfo = {
//       ASN1::type_header<Blob>(ASN1::tag::OCTET_STRING), ASN1::RangeConstraint, 0, 255 };
//   //   BIT STRING: the same over ASN1::BIT_STRING with tag::BIT_STRING.
//
//   // BMPString (SIZE (0..32)):
//   constinit const ASN1::BMPStringTypeInfo Wide::theInfo = {
//       { ASN1::type_header<Wide>(ASN1::tag::BMPString), ASN1::RangeConstraint, 0, 32 },
//       0, 0xFFFF, 16, 16 };
//
//   // INTEGER { low(1), high(9) } (0..15) over ASN1::IntegerWithNamedNumber:
//   constinit const ASN1::NamedNumber Level_names[] = { {1, "low"}, {9, "high"} };  // by value
//   constinit const ASN1::NamedIntegerTypeInfo Level::theInfo = {
//       { ASN1::type_header<Level>(ASN1::tag::INTEGER), ASN1::RangeConstraint, 0, 15 },
//       Level_names, 2 };
//
//   // Open type whose contained type is fixed (TYPE-IDENTIFIER.&Type (X)):
//   constinit const ASN1::OpenTypeInfo Any::theInfo = {
//       ASN1::type_header<Any>(0), &X::theInfo };  // class over ASN1::TypeConstrainedOpenData
//
// Constraint kinds: INTEGER (a..b) and SIZE (a..b) are RangeConstraint;
// "..., ..." after the root makes it ExtensibleRange; no constraint is
// NoConstraint with bounds 0 and 0xFFFFFFFF; (a..MAX) is LowerBoundOnly.
// Upper bounds are unsigned (0..4294967295 is representable), lower bounds
// signed (-128..127).

#include <cstdint>

namespace ASN1 {

class AbstractData;
struct TypeInfo;
class PERDecoder;
class PEREncoder;

// Selects the copying constructor that clone hooks use (generated classes
// inherit it with `using Base::Base;`).
struct CopyTag {};
inline constexpr CopyTag copy_tag{};

using CreateHook = AbstractData* (*)(const TypeInfo* info);
using CloneHook = AbstractData* (*)(const AbstractData& source);

enum ConstraintType : std::int32_t {
    NoConstraint = 0,
    LowerBoundOnly = 1,
    RangeConstraint = 2,
    ExtensibleRange = 3,
};

namespace tag {
inline constexpr std::uint32_t BOOLEAN = 1;
inline constexpr std::uint32_t INTEGER = 2;
inline constexpr std::uint32_t BIT_STRING = 3;
inline constexpr std::uint32_t OCTET_STRING = 4;
inline constexpr std::uint32_t NULL_ = 5;
inline constexpr std::uint32_t OBJECT_IDENTIFIER = 6;
inline constexpr std::uint32_t ENUMERATED = 0x0a;
inline constexpr std::uint32_t SEQUENCE = 0x10;
inline constexpr std::uint32_t SET = 0x11;
inline constexpr std::uint32_t NumericString = 0x12;
inline constexpr std::uint32_t PrintableString = 0x13;
inline constexpr std::uint32_t IA5String = 0x16;
inline constexpr std::uint32_t GeneralizedTime = 0x18;
inline constexpr std::uint32_t VisibleString = 0x1a;
inline constexpr std::uint32_t GeneralString = 0x1b;
inline constexpr std::uint32_t BMPString = 0x1e;
// Tags in the per-field/per-alternative tables: class * 65536 + number.
inline constexpr std::uint32_t context_specific = 0x80u << 16;
} // namespace tag

// A type's own PER coders, generated with its class (tools/asn1gen.py):
// straight-line code with the type's bounds, bitmap sizes and alternatives
// folded in. The PER coders run them in place of the walk through the
// descriptor; a type without them (null) is walked.
struct PerCoders {
    bool (*decode)(PERDecoder& decoder, AbstractData& value);
    bool (*encode)(PEREncoder& encoder, const AbstractData& value);
};

// The header every record starts with.
struct TypeInfo {
    CreateHook create;
    CloneHook clone;
    std::uint32_t tag;    // universal tag number; 0 for CHOICE and open types
    const PerCoders* per; // the class's static `perCoders`, when it has one
};

// NULL, BOOLEAN, OBJECT IDENTIFIER, GeneralizedTime, open type.
using BasicTypeInfo = TypeInfo;

// INTEGER, BIT STRING, OCTET STRING; the base of every sized type.
struct ConstrainedTypeInfo : TypeInfo {
    ConstraintType kind;
    std::int32_t lowerLimit;
    std::uint32_t upperLimit;
};

struct NamedNumber {
    std::int32_t value;
    const char* name;
};

struct NamedIntegerTypeInfo : ConstrainedTypeInfo {
    const NamedNumber* namedNumbers; // sorted by value
    std::uint32_t namedNumberCount;
};

struct OpenTypeInfo : TypeInfo {
    const TypeInfo* containedInfo; // may be null
};

// Restricted character strings; the bounds constrain the length.
struct StringTypeInfo : ConstrainedTypeInfo {
    const char* charSet; // permitted characters in code order
    std::uint32_t charSetSize;
    std::uint32_t canonicalBits;
    std::uint32_t unalignedBits;
    std::uint32_t alignedBits;
};

struct BMPStringTypeInfo : ConstrainedTypeInfo {
    std::uint32_t firstChar;
    std::uint32_t lastChar;
    std::uint32_t unalignedBits;
    std::uint32_t alignedBits;
};

// SEQUENCE OF / SET OF; the bounds constrain the element count.
struct SequenceOfTypeInfo : ConstrainedTypeInfo {
    const TypeInfo* elementInfo;
};

struct EnumeratedTypeInfo : TypeInfo {
    bool extensible;
    std::int32_t maxEnumValue;
    // "name" or "name=value"; a name without value is the previous value + 1,
    // the first 0.  May hold fewer entries than maxEnumValue + 1.
    const char* const* names;
    std::uint32_t nameCount;
};

struct ChoiceTypeInfo : TypeInfo {
    bool extensible;
    const TypeInfo* const* selectionInfos; // totalCount entries
    std::uint32_t rootCount;
    std::uint32_t totalCount;
    const std::uint32_t* tags;         // null: automatic tagging
    const char* const* selectionNames; // totalCount entries
};

struct SequenceTypeInfo : TypeInfo {
    bool extensible;
    // rootFieldCount + knownExtensionCount entries each: root fields in
    // order, then the known extension additions.
    const TypeInfo* const* fieldInfos;
    const int* fieldIds; // optional root field: its optional id; mandatory: -1
    std::uint32_t rootFieldCount;
    std::uint32_t knownExtensionCount;
    std::uint32_t optionalCount;
    const unsigned char* defaultExtensionBits; // null in every protocol module
    const std::uint32_t* tags;                 // null: automatic tagging
    const char* const* fieldNames;
};

// Hooks for class T.  T names its record type as `info_type` and the runtime
// class whose copy it makes as `runtime_class`; both are inherited from the
// runtime class a generated type derives from.
template <class T>
AbstractData* create_value(const TypeInfo* info)
{
    return new T(static_cast<const typename T::info_type*>(info));
}

template <class T>
AbstractData* clone_value(const AbstractData& source)
{
    return new T(copy_tag, static_cast<const typename T::runtime_class&>(source));
}

template <class T>
constexpr const PerCoders* per_coders()
{
    if constexpr (requires { &T::perCoders; })
        return &T::perCoders;
    else
        return nullptr;
}

template <class T>
constexpr TypeInfo type_header(std::uint32_t tagNumber)
{
    return TypeInfo{&create_value<T>, &clone_value<T>, tagNumber, per_coders<T>()};
}

} // namespace ASN1
