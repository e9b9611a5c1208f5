#include "asn1/valid.hpp"

#include <array>

namespace ASN1 {

namespace {

// Bounds of an INTEGER type.  A type with a constraint and a non-negative
// lower bound holds unsigned values (0..4294967295 is representable); with a
// negative lower bound both bounds and the value are signed.  An unconstrained
// type has no bounds and a semi-constrained one no upper bound, whatever its
// descriptor carries in the unused words.
struct IntegerCheck {
    bool isSigned;
    std::int64_t value, lower, upper;
    bool hasLower, hasUpper;

    IntegerCheck(const INTEGER& v, bool strict)
    {
        const ConstrainedTypeInfo& info = *v.info();
        isSigned = info.lowerLimit < 0;
        value =
            isSigned ? std::int64_t{v.getValue()} : std::int64_t{static_cast<std::uint32_t>(v.getValue())};
        lower = info.lowerLimit;
        upper = isSigned ? std::int64_t{static_cast<std::int32_t>(info.upperLimit)}
                         : std::int64_t{info.upperLimit};
        // Outside an extensible range is an extension value (X.691 12.1),
        // which the encoder takes: only the strict check holds the root.
        hasLower = info.kind != NoConstraint && (strict || info.kind != ExtensibleRange);
        hasUpper = info.kind == RangeConstraint || (strict && info.kind == ExtensibleRange);
    }
    bool tooSmall() const { return hasLower && value < lower; }
    bool tooLarge() const { return hasUpper && value > upper; }
};

bool timeValid(const GeneralizedTime& t)
{
    return t.getYear() >= 1 && t.getMonth() >= 1 && t.getMonth() <= 12 && t.getDay() >= 1 &&
           t.getDay() <= 31 && t.getHour() >= 0 && t.getHour() <= 24 && t.getMinute() >= 0 &&
           t.getMinute() <= 59 && t.getSecond() >= 0 && t.getSecond() <= 59 && t.getMinDiff() >= -720 &&
           t.getMinDiff() <= 720;
}

} // namespace

bool ConstraintChecker::do_visit(const AbstractData&)
{
    return true;
}

bool ConstraintChecker::do_visit(const INTEGER& value)
{
    IntegerCheck c(value, strict_);
    if (c.tooSmall()) {
        if (trace_)
            *trace_ << " The INTEGER value " << c.value << " is smaller than lower bound " << c.lower;
        return false;
    }
    if (c.tooLarge()) {
        if (trace_)
            *trace_ << " The INTEGER value " << c.value << " is greater than upper bound " << c.upper;
        return false;
    }
    return true;
}

bool ConstraintChecker::do_visit(const ENUMERATED& value)
{
    if (value.getValue() <= value.getMaximum() || (!strict_ && value.extendable()))
        return true;
    if (trace_)
        *trace_ << " This ENUMERATED has invalid value " << value.getValue();
    return false;
}

bool ConstraintChecker::do_visit(const OBJECT_IDENTIFIER& value)
{
    if (value.levels() > 0)
        return true;
    if (trace_)
        *trace_ << " This OBJECT IDENTIFIER is not assigned";
    return false;
}

bool ConstraintChecker::checkSize(const char* what, std::uint64_t size, const ConstrainedTypeInfo& info)
{
    if (info.kind != NoConstraint && static_cast<std::int64_t>(size) < std::int64_t{info.lowerLimit}) {
        if (trace_)
            *trace_ << " This " << what << " has size " << size << " smaller than its lower bound "
                    << info.lowerLimit;
        return false;
    }
    bool upper = info.kind == RangeConstraint || (strict_ && info.kind == ExtensibleRange);
    if (upper && size > info.upperLimit) {
        if (trace_)
            *trace_ << " This " << what << " has size " << size << " greater than its upper bound "
                    << info.upperLimit;
        return false;
    }
    return true;
}

bool ConstraintChecker::do_visit(const BIT_STRING& value)
{
    return checkSize("BIT STRING", value.size(), *value.info());
}

bool ConstraintChecker::do_visit(const OCTET_STRING& value)
{
    return checkSize("OCTET STRING", value.size(), *value.info());
}

bool ConstraintChecker::do_visit(const AbstractString& value)
{
    const StringTypeInfo& info = *value.info();
    if (!checkSize("AbstractString", value.size(), info))
        return false;
    if (info.charSetSize == 0 || info.charSet == nullptr)
        return true;
    std::array<bool, 256> permitted{};
    for (std::uint32_t i = 0; i < info.charSetSize && i < 256; ++i)
        permitted[static_cast<unsigned char>(info.charSet[i])] = true;
    for (char ch : static_cast<const std::string&>(value)) {
        if (!permitted[static_cast<unsigned char>(ch)]) {
            if (trace_)
                *trace_ << " The character '" << ch << "' is not valid for the string";
            return false;
        }
    }
    return true;
}

bool ConstraintChecker::do_visit(const BMPString& value)
{
    const BMPStringTypeInfo& info = *value.info();
    if (!checkSize("BMPString", value.size(), info))
        return false;
    for (wchar_t ch : static_cast<const std::wstring&>(value)) {
        auto code = static_cast<std::uint32_t>(ch);
        if (code < info.firstChar || code > info.lastChar) {
            if (trace_)
                *trace_ << " The character '" << code << "' is not valid for the string";
            return false;
        }
    }
    return true;
}

bool ConstraintChecker::do_visit(const CHOICE& value)
{
    const ChoiceTypeInfo& info = *value.info();
    int sel = value.currentSelection();
    if (sel == CHOICE::unselected_) {
        if (trace_)
            *trace_ << " This CHOICE is not selected";
        return false;
    }
    auto index = static_cast<std::uint32_t>(sel);
    bool known = sel >= 0 && value.alternative() != nullptr && index < info.totalCount &&
                 (index < info.rootCount || (info.extensible && !strict_));
    if (!known) {
        if (trace_)
            *trace_ << " This selection is not understood by this decoder";
        return false;
    }
    const char* name = info.selectionNames ? info.selectionNames[index] : "";
    return component(value.alternative(), ".", name, -1);
}

bool ConstraintChecker::do_visit(const OpenData& value)
{
    if (value.has_data())
        return value.get_data()->accept(*this);
    if (value.has_buf())
        return true;
    if (trace_)
        *trace_ << " This Open Type does not contain any valid data";
    return false;
}

bool ConstraintChecker::do_visit(const GeneralizedTime& value)
{
    if (timeValid(value))
        return true;
    if (trace_)
        *trace_ << " This GeneralizedTime is not valid";
    return false;
}

bool ConstraintChecker::do_visit(const SEQUENCE_OF_Base& value)
{
    if (!checkSize("SEQUENCE OF", value.size(), *value.info()))
        return false;
    for (std::size_t i = 0; i < value.size(); ++i)
        if (!component(&value.elementAt(i), "[", nullptr, static_cast<long>(i)))
            return false;
    return true;
}

bool ConstraintChecker::preVisitExtensionRoots(const SEQUENCE&)
{
    return true;
}

bool ConstraintChecker::visitExtensionRoot(const SEQUENCE& seq, int index)
{
    const char* const* names = seq.info()->fieldNames;
    return component(seq.fieldAt(static_cast<unsigned>(index)), ".", names ? names[index] : "", -1);
}

bool ConstraintChecker::preVisitExtensions(const SEQUENCE&)
{
    return true;
}

bool ConstraintChecker::visitKnownExtension(const SEQUENCE& seq, int index)
{
    return visitExtensionRoot(seq, index);
}

// Checks a field, alternative or element.  When tracing, the component is
// traced on its own so that its path step is written only if it is the one
// at fault.
bool ConstraintChecker::component(const AbstractData* value, const char* prefix, const char* name, long index)
{
    if (value == nullptr) // present, but no object to check or code
        return false;
    if (trace_ == nullptr)
        return value->accept(*this);
    std::ostringstream sub;
    ConstraintChecker inner(strict_, &sub);
    if (value->accept(inner))
        return true;
    *trace_ << prefix;
    if (name)
        *trace_ << name;
    else
        *trace_ << index << ']';
    *trace_ << sub.str();
    return false;
}

bool PrimitiveChecker::do_visit(const CHOICE& value)
{
    return value.alternative() == nullptr || value.alternative()->accept(*this);
}

bool PrimitiveChecker::do_visit(const OpenData& value)
{
    return !value.has_data() || value.get_data()->accept(*this);
}

bool PrimitiveChecker::do_visit(const SEQUENCE_OF_Base&)
{
    return false;
}

bool PrimitiveChecker::preVisitExtensionRoots(const SEQUENCE&)
{
    return false;
}

bool isValid(const AbstractData& value)
{
    ValidChecker checker;
    return value.accept(checker);
}

bool isStrictlyValid(const AbstractData& value)
{
    StrictlyValidChecker checker;
    return value.accept(checker);
}

bool isPrimitive(const AbstractData& value)
{
    PrimitiveChecker checker;
    return value.accept(checker);
}

bool trace_invalid(std::ostream& out, const char* prefix, const AbstractData& value)
{
    // Tracing builds a text per component; most values are valid.
    if (isValid(value))
        return true;
    InvalidTracer tracer;
    value.accept(tracer);
    out << prefix << tracer.str() << '\n';
    return false;
}

} // namespace ASN1
