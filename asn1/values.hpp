#pragma once
// ASN.1 value classes.  A value holds its data and a pointer to its type's
// descriptor (asn1/descriptor.hpp); everything type-specific is read there.

#include <array>
#include <bit>
#include <cassert>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <ctime>
#include <iterator>
#include <memory>
#include <string>
#include <string_view>
#include <type_traits>
#include <vector>

#include "asn1/descriptor.hpp"
#include "asn1/pool.hpp"

namespace ASN1 {

class Visitor;
class ConstVisitor;

// Width of a field that holds `range` distinct values; 0 stands for 2^32.
constexpr unsigned CountBits(std::uint32_t range)
{
    return range == 0 ? 32u : static_cast<unsigned>(std::bit_width(range - 1u));
}

// Unsigned byte comparison; a proper prefix compares less (-1/1).
int lexicographic_compare_bytes(const char* first1, const char* last1, const char* first2, const char* last2);

namespace detail {
template <class T>
inline int sign_of(T a, T b)
{
    return (a > b) - (a < b);
}
} // namespace detail

class AbstractData {
public:
    using info_type = TypeInfo;

    virtual ~AbstractData() = default;

    // Value objects (and so the fields, alternatives and elements of every
    // tree) come from the runtime's size-class free lists.
    [[gnu::always_inline]] static void* operator new(std::size_t size)
    {
        return detail::Pool::allocate(size);
    }
    [[gnu::always_inline]] static void operator delete(void* p, std::size_t size) noexcept
    {
        detail::Pool::deallocate(p, size);
    }
    static void* operator new(std::size_t, void* where) noexcept { return where; }
    static void operator delete(void*, void*) noexcept {}

    // Negative, zero or positive; only called with a value of the same type.
    virtual int do_compare(const AbstractData& other) const = 0;
    // A deep copy of the type's own class (through the descriptor's clone hook).
    virtual AbstractData* do_clone() const;
    virtual bool do_accept(Visitor& visitor) = 0;
    virtual bool do_accept(ConstVisitor& visitor) const = 0;

    bool accept(Visitor& visitor) { return do_accept(visitor); }
    bool accept(ConstVisitor& visitor) const { return do_accept(visitor); }

    const TypeInfo* info() const { return info_; }

    // A new default value of the type `info` describes, of the type's own class.
    static AbstractData* create(const void* info);

protected:
    explicit AbstractData(const TypeInfo* info) : info_(info) {}
    AbstractData(const AbstractData&) = default;
    // Values are assigned only between values of one type: the descriptor stays.
    AbstractData& operator=(const AbstractData&) { return *this; }

private:
    const TypeInfo* info_;
};

// ---------------------------------------------------------------- leaves

class Null : public AbstractData {
public:
    using info_type = TypeInfo;
    using runtime_class = Null;
    static const TypeInfo theInfo;

    explicit Null(const TypeInfo* info = &theInfo) : AbstractData(info) {}
    Null(CopyTag, const Null& other) : AbstractData(other) {}

    int do_compare(const AbstractData& other) const override;
    bool do_accept(Visitor& visitor) override;
    bool do_accept(ConstVisitor& visitor) const override;
};

class BOOLEAN : public AbstractData {
public:
    using info_type = TypeInfo;
    using runtime_class = BOOLEAN;
    static const TypeInfo theInfo;

    explicit BOOLEAN(const TypeInfo* info = &theInfo) : AbstractData(info) {}
    explicit BOOLEAN(bool value, const TypeInfo* info = &theInfo) : AbstractData(info), value_(value) {}
    BOOLEAN(CopyTag, const BOOLEAN& other) : BOOLEAN(other) {}
    BOOLEAN(const BOOLEAN&) = default;
    BOOLEAN& operator=(const BOOLEAN& other)
    {
        value_ = other.value_;
        return *this;
    }
    BOOLEAN& operator=(bool value)
    {
        value_ = value;
        return *this;
    }

    bool getValue() const { return value_; }
    void setValue(bool value) { value_ = value; }
    operator bool() const { return value_; }

    int do_compare(const AbstractData& other) const override;
    bool do_accept(Visitor& visitor) override;
    bool do_accept(ConstVisitor& visitor) const override;

private:
    bool value_ = false;
};

class ConstrainedObject : public AbstractData {
public:
    using info_type = ConstrainedTypeInfo;

    const ConstrainedTypeInfo* info() const
    {
        return static_cast<const ConstrainedTypeInfo*>(AbstractData::info());
    }
    ConstraintType constraint() const { return info()->kind; }
    std::int32_t lowerLimit() const { return info()->lowerLimit; }
    std::uint32_t upperLimit() const { return info()->upperLimit; }
    // Values of a bounded type with a non-negative lower limit are unsigned.
    bool unsignedValues() const { return info()->kind != NoConstraint && info()->lowerLimit >= 0; }

protected:
    explicit ConstrainedObject(const ConstrainedTypeInfo* info) : AbstractData(info) {}
    ConstrainedObject(const ConstrainedObject&) = default;
    ConstrainedObject& operator=(const ConstrainedObject&) = default;
};

class INTEGER : public ConstrainedObject {
public:
    using info_type = ConstrainedTypeInfo;
    using runtime_class = INTEGER;
    static const ConstrainedTypeInfo theInfo;

    explicit INTEGER(const ConstrainedTypeInfo* info = &theInfo) : ConstrainedObject(info) {}
    explicit INTEGER(int value, const ConstrainedTypeInfo* info = &theInfo)
        : ConstrainedObject(info), value_(value)
    {}
    INTEGER(CopyTag, const INTEGER& other) : INTEGER(other) {}
    INTEGER(const INTEGER&) = default;
    INTEGER& operator=(const INTEGER& other)
    {
        value_ = other.value_;
        return *this;
    }
    INTEGER& operator=(int value)
    {
        value_ = value;
        return *this;
    }

    int getValue() const { return value_; }
    void setValue(int value) { value_ = value; }

    int do_compare(const AbstractData& other) const override;
    bool do_accept(Visitor& visitor) override;
    bool do_accept(ConstVisitor& visitor) const override;

private:
    std::int32_t value_ = 0;
};

class IntegerWithNamedNumber : public INTEGER {
public:
    using info_type = NamedIntegerTypeInfo;
    using runtime_class = IntegerWithNamedNumber;

    explicit IntegerWithNamedNumber(const NamedIntegerTypeInfo* info) : INTEGER(info) {}
    IntegerWithNamedNumber(int value, const NamedIntegerTypeInfo* info) : INTEGER(value, info) {}
    IntegerWithNamedNumber(CopyTag, const IntegerWithNamedNumber& other) : INTEGER(other) {}
    IntegerWithNamedNumber(const IntegerWithNamedNumber&) = default;
    IntegerWithNamedNumber& operator=(const IntegerWithNamedNumber&) = default;
    IntegerWithNamedNumber& operator=(int value)
    {
        setValue(value);
        return *this;
    }

    const NamedIntegerTypeInfo* info() const
    {
        return static_cast<const NamedIntegerTypeInfo*>(AbstractData::info());
    }
    bool getName(std::string& out) const;
    bool setFromName(std::string_view name);

    bool do_accept(Visitor& visitor) override;
    bool do_accept(ConstVisitor& visitor) const override;
};

template <int Kind, std::int32_t Lower, std::uint32_t Upper>
class Constrained_INTEGER : public INTEGER {
public:
    using info_type = ConstrainedTypeInfo;
    using runtime_class = INTEGER;
    static const ConstrainedTypeInfo theInfo;

    Constrained_INTEGER() : INTEGER(&theInfo) {}
    explicit Constrained_INTEGER(const ConstrainedTypeInfo* info) : INTEGER(info) {}
    Constrained_INTEGER(CopyTag, const INTEGER& other) : INTEGER(other) {}
    Constrained_INTEGER& operator=(unsigned value)
    {
        setValue(static_cast<int>(value));
        return *this;
    }
    unsigned getValue() const { return static_cast<unsigned>(INTEGER::getValue()); }
};

template <int Kind, std::int32_t Lower, std::uint32_t Upper>
constinit const ConstrainedTypeInfo Constrained_INTEGER<Kind, Lower, Upper>::theInfo = {
    type_header<Constrained_INTEGER<Kind, Lower, Upper>>(tag::INTEGER), static_cast<ConstraintType>(Kind),
    Lower, Upper};

class ENUMERATED : public AbstractData {
public:
    using info_type = EnumeratedTypeInfo;
    using runtime_class = ENUMERATED;

    explicit ENUMERATED(const EnumeratedTypeInfo* info) : AbstractData(info) {}
    ENUMERATED(CopyTag, const ENUMERATED& other) : ENUMERATED(other) {}
    ENUMERATED(const ENUMERATED&) = default;
    ENUMERATED& operator=(const ENUMERATED& other)
    {
        value_ = other.value_;
        return *this;
    }
    ENUMERATED& operator=(int value)
    {
        value_ = value;
        return *this;
    }

    const EnumeratedTypeInfo* info() const
    {
        return static_cast<const EnumeratedTypeInfo*>(AbstractData::info());
    }
    int asInt() const { return value_; }
    int getValue() const { return value_; }
    void setValue(int value) { value_ = value; }
    int getMaximum() const { return info()->maxEnumValue; }
    bool extendable() const { return info()->extensible; }
    bool isStrictlyValid() const { return value_ <= getMaximum(); }
    // The identifier of the current value; empty when it has none.
    std::string getName() const;
    bool getName(std::string& out) const;
    bool setFromName(std::string_view name);

    int do_compare(const AbstractData& other) const override;
    bool do_accept(Visitor& visitor) override;
    bool do_accept(ConstVisitor& visitor) const override;

private:
    std::int32_t value_ = 0;
};

class OBJECT_IDENTIFIER : public AbstractData {
public:
    using info_type = TypeInfo;
    using runtime_class = OBJECT_IDENTIFIER;
    static const TypeInfo theInfo;

    explicit OBJECT_IDENTIFIER(const TypeInfo* info = &theInfo) : AbstractData(info) {}
    OBJECT_IDENTIFIER(std::initializer_list<std::uint32_t> arcs, const TypeInfo* info = &theInfo)
        : AbstractData(info), arcs_(arcs)
    {}
    OBJECT_IDENTIFIER(CopyTag, const OBJECT_IDENTIFIER& other) : OBJECT_IDENTIFIER(other) {}
    OBJECT_IDENTIFIER(const OBJECT_IDENTIFIER&) = default;
    OBJECT_IDENTIFIER& operator=(const OBJECT_IDENTIFIER& other)
    {
        arcs_ = other.arcs_;
        return *this;
    }

    std::vector<std::uint32_t>& arcs() { return arcs_; }
    const std::vector<std::uint32_t>& arcs() const { return arcs_; }
    std::size_t levels() const { return arcs_.size(); }

    // X.690 8.19 contents octets, appended to `out`.
    void encodeCommon(std::vector<char>& out) const;
    bool decodeCommon(const char* bytes, std::size_t length);

    int do_compare(const AbstractData& other) const override;
    bool do_accept(Visitor& visitor) override;
    bool do_accept(ConstVisitor& visitor) const override;

private:
    std::vector<std::uint32_t> arcs_;
};

class BIT_STRING : public ConstrainedObject {
public:
    using info_type = ConstrainedTypeInfo;
    using runtime_class = BIT_STRING;
    static const ConstrainedTypeInfo theInfo;

    explicit BIT_STRING(const ConstrainedTypeInfo* info = &theInfo) : ConstrainedObject(info) {}
    BIT_STRING(CopyTag, const BIT_STRING& other) : BIT_STRING(other) {}
    BIT_STRING(const BIT_STRING&) = default;
    BIT_STRING& operator=(const BIT_STRING& other)
    {
        totalBits_ = other.totalBits_;
        bytes_ = other.bytes_;
        return *this;
    }

    std::uint32_t size() const { return totalBits_; }
    void resize(std::uint32_t bits);
    bool operator[](std::uint32_t bit) const;
    void set(std::uint32_t bit, bool value = true);
    const std::vector<char>& bytes() const { return bytes_; }
    std::vector<char>& bytes() { return bytes_; }

    int do_compare(const AbstractData& other) const override;
    bool do_accept(Visitor& visitor) override;
    bool do_accept(ConstVisitor& visitor) const override;

private:
    std::uint32_t totalBits_ = 0;
    std::vector<char> bytes_;
};

class OCTET_STRING : public ConstrainedObject, public std::vector<char> {
public:
    using info_type = ConstrainedTypeInfo;
    using runtime_class = OCTET_STRING;
    static const ConstrainedTypeInfo theInfo;

    explicit OCTET_STRING(const ConstrainedTypeInfo* info = &theInfo) : ConstrainedObject(info) {}
    OCTET_STRING(std::size_t count, char fill, const ConstrainedTypeInfo* info = &theInfo)
        : ConstrainedObject(info), std::vector<char>(count, fill)
    {}
    explicit OCTET_STRING(const std::vector<char>& bytes, const ConstrainedTypeInfo* info = &theInfo)
        : ConstrainedObject(info), std::vector<char>(bytes)
    {}
    OCTET_STRING(CopyTag, const OCTET_STRING& other) : OCTET_STRING(other) {}
    OCTET_STRING(const OCTET_STRING&) = default;
    OCTET_STRING& operator=(const OCTET_STRING& other)
    {
        std::vector<char>::operator=(other);
        return *this;
    }
    OCTET_STRING& operator=(const std::vector<char>& bytes)
    {
        std::vector<char>::operator=(bytes);
        return *this;
    }
    OCTET_STRING& operator=(std::string_view bytes)
    {
        assign(bytes.begin(), bytes.end());
        return *this;
    }
    operator std::string() const { return std::string(data(), size()); }

    const ConstrainedTypeInfo* info() const { return ConstrainedObject::info(); }

    int do_compare(const AbstractData& other) const override;
    bool do_accept(Visitor& visitor) override;
    bool do_accept(ConstVisitor& visitor) const override;
};

// Character sets of the restricted string types, in code order (not
// terminated: the descriptor's charSetSize gives the length).
namespace detail {
template <std::size_t N>
constexpr std::array<char, N> char_range(unsigned first)
{
    std::array<char, N> table{};
    for (std::size_t i = 0; i < N; ++i)
        table[i] = static_cast<char>(first + i);
    return table;
}
inline constexpr std::array<char, 95> visibleChars = char_range<95>(0x20);
inline constexpr std::array<char, 128> ia5Chars = char_range<128>(0);
inline constexpr std::array<char, 256> generalChars = char_range<256>(0);
} // namespace detail
inline constexpr const char* NumericStringSet = " 0123456789";
inline constexpr const char* PrintableStringSet =
    " '()+,-./0123456789:=?ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz";
inline constexpr const char* VisibleStringSet = detail::visibleChars.data();
inline constexpr const char* IA5StringSet = detail::ia5Chars.data();
inline constexpr const char* GeneralStringSet = detail::generalChars.data();

class AbstractString : public ConstrainedObject, public std::string {
public:
    using info_type = StringTypeInfo;
    using runtime_class = AbstractString;

    explicit AbstractString(const StringTypeInfo* info) : ConstrainedObject(info) {}
    AbstractString(const StringTypeInfo* info, const std::string& text)
        : ConstrainedObject(info), std::string(text)
    {}
    AbstractString(const StringTypeInfo* info, const char* text) : ConstrainedObject(info), std::string(text)
    {}
    AbstractString(CopyTag, const AbstractString& other) : AbstractString(other) {}
    AbstractString(const AbstractString&) = default;
    AbstractString& operator=(const AbstractString& other)
    {
        std::string::operator=(other);
        return *this;
    }
    AbstractString& operator=(std::string_view text)
    {
        assign(text.data(), text.size());
        return *this;
    }
    AbstractString& operator=(const std::string& text) { return *this = std::string_view(text); }
    AbstractString& operator=(const char* text) { return *this = std::string_view(text); }

    const StringTypeInfo* info() const { return static_cast<const StringTypeInfo*>(AbstractData::info()); }

    int do_compare(const AbstractData& other) const override;
    bool do_accept(Visitor& visitor) override;
    bool do_accept(ConstVisitor& visitor) const override;
};

// The restricted string types without a class of their own: values are
// AbstractString objects bound to these descriptors.
struct NumericString {
    static const StringTypeInfo theInfo;
};
struct PrintableString {
    static const StringTypeInfo theInfo;
};
struct VisibleString {
    static const StringTypeInfo theInfo;
};
struct GeneralString {
    static const StringTypeInfo theInfo;
};

class IA5String : public AbstractString {
public:
    using runtime_class = AbstractString;
    static const StringTypeInfo theInfo;

    IA5String() : AbstractString(&theInfo) {}
    explicit IA5String(const StringTypeInfo* info) : AbstractString(info) {}
    explicit IA5String(const std::string& text) : AbstractString(&theInfo, text) {}
    explicit IA5String(const char* text) : AbstractString(&theInfo, text) {}
    IA5String(CopyTag, const AbstractString& other) : AbstractString(other) {}
    IA5String(const IA5String&) = default;
    IA5String& operator=(const IA5String&) = default;
    IA5String& operator=(std::string_view text)
    {
        AbstractString::operator=(text);
        return *this;
    }
    IA5String& operator=(const std::string& text) { return *this = std::string_view(text); }
    IA5String& operator=(const char* text) { return *this = std::string_view(text); }
};

class BMPString : public ConstrainedObject, public std::wstring {
public:
    using info_type = BMPStringTypeInfo;
    using runtime_class = BMPString;
    static const BMPStringTypeInfo theInfo;

    BMPString() : ConstrainedObject(&theInfo) {}
    explicit BMPString(const BMPStringTypeInfo* info) : ConstrainedObject(info) {}
    explicit BMPString(const std::wstring& text, const BMPStringTypeInfo* info = &theInfo)
        : ConstrainedObject(info), std::wstring(text)
    {}
    explicit BMPString(const wchar_t* text, const BMPStringTypeInfo* info = &theInfo)
        : ConstrainedObject(info), std::wstring(text)
    {}
    BMPString(CopyTag, const BMPString& other) : BMPString(other) {}
    BMPString(const BMPString&) = default;
    BMPString& operator=(const BMPString& other)
    {
        std::wstring::operator=(other);
        return *this;
    }
    BMPString& operator=(std::wstring_view text)
    {
        assign(text.data(), text.size());
        return *this;
    }

    const BMPStringTypeInfo* info() const
    {
        return static_cast<const BMPStringTypeInfo*>(AbstractData::info());
    }

    int do_compare(const AbstractData& other) const override;
    bool do_accept(Visitor& visitor) override;
    bool do_accept(ConstVisitor& visitor) const override;
};

class GeneralizedTime : public AbstractData {
public:
    using info_type = TypeInfo;
    using runtime_class = GeneralizedTime;
    static const TypeInfo theInfo;

    explicit GeneralizedTime(const TypeInfo* info = &theInfo) : AbstractData(info) {}
    // As set(text) on a value whose millisecond, offset and UTC flag are clear.
    explicit GeneralizedTime(std::string_view text);
    GeneralizedTime(int year, int month, int day, int hour, int minute, int second, int millisec = 0,
                    int mindiff = 0, bool utc = false);
    GeneralizedTime(CopyTag, const GeneralizedTime& other) : GeneralizedTime(other) {}
    GeneralizedTime(const GeneralizedTime&) = default;
    GeneralizedTime& operator=(const GeneralizedTime& other);

    // YYYYMMDDhhmmss[.f...][Z|+hhmm|-hhmm]; false (value unchanged) when the
    // text is malformed.  Absent parts leave millisecond, offset and flag.
    bool set(std::string_view text);
    std::string get() const;
    std::time_t get_time_t() const;
    void set_time_t(std::time_t seconds);
    void swap(GeneralizedTime& other);

    int getYear() const { return year_; }
    int getMonth() const { return month_; }
    int getDay() const { return day_; }
    int getHour() const { return hour_; }
    int getMinute() const { return minute_; }
    int getSecond() const { return second_; }
    int getMillisec() const { return millisec_; }
    int getMinDiff() const { return mindiff_; }
    bool getUTC() const { return utc_; }

    int do_compare(const AbstractData& other) const override;
    bool do_accept(Visitor& visitor) override;
    bool do_accept(ConstVisitor& visitor) const override;

private:
    std::int32_t year_ = 1, month_ = 1, day_ = 1, hour_ = 0, minute_ = 0, second_ = 0;
    std::int32_t millisec_ = 0, mindiff_ = 0;
    bool utc_ = false;
};

// ---------------------------------------------------------- constructed

// Presence bits, most significant bit of the first byte first. Up to 64
// bits (every presence map of the protocol modules) are held in the object.
class BitMap {
public:
    BitMap() noexcept : local_{} {}
    // `bits` clear bits.
    explicit BitMap(std::uint32_t bits) : local_{}
    {
        if (bits > localBits)
            resize(bits);
        else
            bitCount_ = bits;
    }
    BitMap(const BitMap& other);
    BitMap& operator=(const BitMap& other);
    ~BitMap()
    {
        if (onHeap()) [[unlikely]]
            release();
    }

    std::uint32_t size() const { return bitCount_; }
    bool test(std::uint32_t bit) const
    {
        return bit < bitCount_ && (data()[bit / 8] & (0x80u >> (bit % 8))) != 0;
    }
    void set(std::uint32_t bit)
    {
        if (bit < bitCount_)
            data()[bit / 8] |= static_cast<unsigned char>(0x80u >> (bit % 8));
    }
    void clear(std::uint32_t bit)
    {
        if (bit < bitCount_)
            data()[bit / 8] &= static_cast<unsigned char>(~(0x80u >> (bit % 8)));
    }
    // New bits read clear.
    void resize(std::uint32_t bits);
    const unsigned char* data() const { return onHeap() ? heap_ : local_; }
    unsigned char* data() { return onHeap() ? heap_ : local_; }
    void swap(BitMap& other) noexcept;

private:
    static constexpr std::uint32_t localBits = 64;
    bool onHeap() const { return bitCount_ > localBits; }
    static std::size_t bytesFor(std::uint32_t bits) { return (static_cast<std::size_t>(bits) + 7) / 8; }
    void release() noexcept;

    std::uint32_t bitCount_ = 0;
    union {
        unsigned char local_[localBits / 8];
        unsigned char* heap_;
    };
};

// The owned field objects of a SEQUENCE: one slot per field of its
// descriptor, null for a field without an object. Sized once, from the
// descriptor; the slots of a small SEQUENCE are held in the object.
class FieldVector {
public:
    FieldVector() noexcept = default;
    explicit FieldVector(std::uint32_t count) : count_(count)
    {
        if (count <= localSlots) {
            slots_ = local_;
            return;
        }
        // Pool blocks come in whole steps: the slots are cleared a step at a
        // time in stores the compiler inlines, not in a call for each object.
        slots_ = static_cast<AbstractData**>(detail::Pool::allocate(steps(count) * detail::Pool::step));
        for (std::uint32_t i = 0; i < steps(count); ++i)
            std::memset(slots_ + i * perStep, 0, detail::Pool::step);
    }
    FieldVector(const FieldVector&) = delete;
    FieldVector& operator=(const FieldVector&) = delete;
    ~FieldVector()
    {
        for (std::uint32_t i = 0; i < count_; ++i)
            delete slots_[i];
        if (slots_ != local_)
            detail::Pool::deallocate(slots_, steps(count_) * detail::Pool::step);
    }

    std::uint32_t size() const { return count_; }
    AbstractData* get(std::uint32_t index) const { return slots_[index]; }
    // Takes ownership of `value`, freeing the object it replaces.
    void reset(std::uint32_t index, AbstractData* value)
    {
        AbstractData* old = slots_[index];
        slots_[index] = value;
        delete old;
    }
    // `index` holds no object yet.
    void adopt(std::uint32_t index, AbstractData* value) { slots_[index] = value; }
    // Frees the slots without their objects (which the caller freed).
    [[gnu::always_inline]] void releaseSlots() noexcept
    {
        if (slots_ != local_)
            detail::Pool::deallocate(slots_, steps(count_) * detail::Pool::step);
        slots_ = local_;
        count_ = 0;
    }
    void swap(FieldVector& other) noexcept;

private:
    static constexpr std::uint32_t localSlots = 4;
    static constexpr std::uint32_t perStep = detail::Pool::step / sizeof(AbstractData*);
    static constexpr std::uint32_t steps(std::uint32_t count) { return (count + perStep - 1) / perStep; }

    AbstractData* local_[localSlots] = {};
    AbstractData** slots_ = local_;
    std::uint32_t count_ = 0;
};

// One default value per type, created on first use and never changed: what
// a const accessor reads for a field or alternative that is not there.
const AbstractData& constantDefault(const TypeInfo* info);

class SEQUENCE : public AbstractData {
public:
    using info_type = SequenceTypeInfo;
    using runtime_class = SEQUENCE;
    // `tags` value that keeps every field's own universal tag.
    static const std::uint32_t defaultTag[1];

    explicit SEQUENCE(const SequenceTypeInfo* info) : SEQUENCE(info, false) {}
    SEQUENCE(CopyTag, const SEQUENCE& other) : SEQUENCE(other) {}
    SEQUENCE(const SEQUENCE& other);
    SEQUENCE& operator=(const SEQUENCE& other);
    ~SEQUENCE() override;

    const SequenceTypeInfo* info() const
    {
        return static_cast<const SequenceTypeInfo*>(AbstractData::info());
    }

    // Presence ids: optional root fields 0..optionalCount-1, then the
    // extension additions (id optionalCount + k is addition k).
    bool hasOptionalField(unsigned id) const
    {
        if (id < optionalMap_.size())
            return optionalMap_.test(id);
        return extensionMap_.test(id - optionalMap_.size());
    }
    void includeOptionalField(unsigned id, unsigned fieldIndex);
    void removeOptionalField(unsigned id);

    unsigned fieldCount() const { return fields_.size(); }
    // The field's object or null (an optional field never included).
    AbstractData* fieldAt(unsigned index) { return fields_.get(index); }
    const AbstractData* fieldAt(unsigned index) const { return fields_.get(index); }
    // The field's object, created (without changing presence) when missing.
    AbstractData& fieldObject(unsigned index)
    {
        if (AbstractData* field = fields_.get(index))
            return *field;
        return createField(index);
    }
    // Presence id of field `index`: -1 for a mandatory root field.
    int presenceId(unsigned index) const;
    bool isFieldPresent(unsigned index) const;
    // Makes an optional field present first (keeping an existing object).
    AbstractData& fieldForWrite(unsigned index);

    template <class T>
    T& fieldAs(unsigned index)
    {
        return static_cast<T&>(fieldObject(index));
    }
    // An absent field reads as the constant default of its type: a host may
    // leave out any optional field.
    template <class T>
    const T& fieldAs(unsigned index) const
    {
        if (const AbstractData* field = fields_.get(index))
            return static_cast<const T&>(*field);
        return static_cast<const T&>(absentField(index));
    }
    template <class T>
    T& fieldForWrite(unsigned index)
    {
        return static_cast<T&>(fieldForWrite(index));
    }

    // As fieldObject, a missing object created as a default T (the class of
    // the field's type) without a call through the descriptor.
    template <class T>
    AbstractData& fieldObjectOf(unsigned index)
    {
        if (AbstractData* field = fields_.get(index))
            return *field;
        AbstractData* made = new T();
        fields_.adopt(index, made);
        return *made;
    }

    BitMap& optionalMap() { return optionalMap_; }
    const BitMap& optionalMap() const { return optionalMap_; }
    BitMap& extensionMap() { return extensionMap_; }
    const BitMap& extensionMap() const { return extensionMap_; }

    void swap(SEQUENCE& other);

    int do_compare(const AbstractData& other) const override;
    bool do_accept(Visitor& visitor) override;
    bool do_accept(ConstVisitor& visitor) const override;

protected:
    // `classCreatesFields`: the derived class creates the mandatory root
    // fields itself (adoptField), each as its own class.
    // Inline: a generated class's own fields follow at once, and most types
    // have no additions present by default.
    SEQUENCE(const SequenceTypeInfo* info, bool classCreatesFields)
        : AbstractData(info),
          fields_(info->rootFieldCount + info->knownExtensionCount),
          optionalMap_(info->optionalCount)
    {
        if (!classCreatesFields || info->defaultExtensionBits != nullptr) [[unlikely]]
            createDefaultFields(classCreatesFields);
    }
    // As SEQUENCE(info, true), for the generated class of `info`, which
    // knows its field and optional-field counts when it is compiled.
    template <std::uint32_t Fields, std::uint32_t Optional>
    struct Counts {};
    template <std::uint32_t Fields, std::uint32_t Optional>
    SEQUENCE(const SequenceTypeInfo* info, Counts<Fields, Optional>)
        : AbstractData(info), fields_(Fields), optionalMap_(Optional)
    {
        assert(Fields == info->rootFieldCount + info->knownExtensionCount && Optional == info->optionalCount);
        if (info->defaultExtensionBits != nullptr) [[unlikely]]
            createDefaultFields(true);
    }
    // Into a slot the constructor left empty.
    void adoptField(unsigned index, AbstractData* value) { fields_.adopt(index, value); }
    // For a generated class's destructor: frees the field objects, `T...`
    // naming each slot's class in order, without a virtual call for each
    // (an object of another class than its slot's is deleted as usual).
    template <class... T>
    void releaseFields() noexcept
    {
        if (fields_.size() != sizeof...(T))
            return;
        std::uint32_t index = 0;
        (releaseField<T>(fields_.get(index++)), ...);
        fields_.releaseSlots();
    }

private:
    template <class T>
    [[gnu::always_inline]] static void releaseField(AbstractData* field) noexcept
    {
        if (field == nullptr)
            return;
        if (field->info() == &T::theInfo) [[likely]] {
            static_cast<T*>(field)->T::~T();
            AbstractData::operator delete(field, sizeof(T));
        } else {
            delete field;
        }
    }
    AbstractData& createField(unsigned index);
    // The mandatory root fields (unless the class makes them) and the
    // additions present by default, each from its descriptor.
    void createDefaultFields(bool classCreatesFields);
    const AbstractData& absentField(unsigned index) const;

    FieldVector fields_;
    BitMap optionalMap_;
    BitMap extensionMap_;
};

class CHOICE : public AbstractData {
public:
    using info_type = ChoiceTypeInfo;
    using runtime_class = CHOICE;
    static constexpr int unselected_ = -1;
    static constexpr int unknownSelection_ = -2;

    explicit CHOICE(const ChoiceTypeInfo* info, int selection = -1, AbstractData* alternative = nullptr);
    CHOICE(CopyTag, const CHOICE& other) : CHOICE(other) {}
    CHOICE(const CHOICE& other);
    CHOICE& operator=(const CHOICE& other);
    ~CHOICE() override;

    const ChoiceTypeInfo* info() const { return static_cast<const ChoiceTypeInfo*>(AbstractData::info()); }

    int currentSelection() const { return selection_; }
    bool isUnknownSelection() const { return selection_ == unknownSelection_; }
    AbstractData* alternative() { return alternative_.get(); }
    const AbstractData* alternative() const { return alternative_.get(); }
    // Takes ownership of `object` (which may be null) and returns it.
    AbstractData* setSelection(int index, AbstractData* object)
    {
        alternative_.reset(object);
        selection_ = index;
        return object;
    }
    // Creates a default alternative for the stored selection index; on an
    // index out of range or without descriptor marks the selection unknown.
    bool createSelection();
    void setSelectionIndex(int index) { selection_ = index; }
    // Selects `index` with a fresh default alternative unless it is already
    // selected; null when the index is not a known alternative.
    AbstractData* select(int index);

    template <class T>
    T& alternativeAs()
    {
        return static_cast<T&>(*alternative_);
    }
    // Alternative `index` when it is the one selected, else the constant
    // default of its type.
    template <class T>
    const T& alternativeAs(int index) const
    {
        if (selection_ == index && alternative_)
            return static_cast<const T&>(*alternative_);
        return static_cast<const T&>(absentAlternative(index));
    }
    // The selected alternative when it is a T, else the constant default of
    // T's own type.
    template <class T>
    const T& alternativeAs() const
    {
        if (const T* selected = dynamic_cast<const T*>(alternative_.get()))
            return *selected;
        return static_cast<const T&>(constantDefault(&T::theInfo));
    }
    template <class T>
    T& selectAs(int index)
    {
        return static_cast<T&>(*select(index));
    }

    void swap(CHOICE& other);

    int do_compare(const AbstractData& other) const override;
    bool do_accept(Visitor& visitor) override;
    bool do_accept(ConstVisitor& visitor) const override;

private:
    const AbstractData& absentAlternative(int index) const;

    std::unique_ptr<AbstractData> alternative_;
    std::int32_t selection_;
};

struct EmptyConstraint {
    static constexpr ConstraintType kind = NoConstraint;
    static constexpr std::int32_t lower = 0;
    static constexpr std::uint32_t upper = 0xFFFFFFFFu;
};

template <int Kind, std::int32_t Lower, std::uint32_t Upper>
struct SizeConstraint {
    static constexpr ConstraintType kind = static_cast<ConstraintType>(Kind);
    static constexpr std::int32_t lower = Lower;
    static constexpr std::uint32_t upper = Upper;
};

class SEQUENCE_OF_Base : public ConstrainedObject {
public:
    using info_type = SequenceOfTypeInfo;
    using runtime_class = SEQUENCE_OF_Base;
    using Container =
        std::vector<std::unique_ptr<AbstractData>, detail::PoolAllocator<std::unique_ptr<AbstractData>>>;

    explicit SEQUENCE_OF_Base(const SequenceOfTypeInfo* info) : ConstrainedObject(info) {}
    SEQUENCE_OF_Base(CopyTag, const SEQUENCE_OF_Base& other) : SEQUENCE_OF_Base(other) {}
    SEQUENCE_OF_Base(const SEQUENCE_OF_Base& other);
    SEQUENCE_OF_Base& operator=(const SEQUENCE_OF_Base& other);

    const SequenceOfTypeInfo* info() const
    {
        return static_cast<const SequenceOfTypeInfo*>(AbstractData::info());
    }

    std::size_t size() const { return container_.size(); }
    bool empty() const { return container_.empty(); }
    void resize(std::size_t count);
    void clear() { container_.clear(); }
    void reserve(std::size_t count) { container_.reserve(count); }
    AbstractData& elementAt(std::size_t index) { return *container_[index]; }
    const AbstractData& elementAt(std::size_t index) const { return *container_[index]; }
    // Appends a clone of `value`.
    void pushBackClone(const AbstractData& value);
    void insert(std::size_t position, std::size_t count, const AbstractData& value);
    void erase(std::size_t first, std::size_t last);
    void swap(SEQUENCE_OF_Base& other) { container_.swap(other.container_); }

    int do_compare(const AbstractData& other) const override;
    bool do_accept(Visitor& visitor) override;
    bool do_accept(ConstVisitor& visitor) const override;

protected:
    Container container_;
};

template <class T, class Constraint = EmptyConstraint>
class SEQUENCE_OF : public SEQUENCE_OF_Base {
    template <class Ref, class BaseIt>
    class Iter {
    public:
        using iterator_category = std::random_access_iterator_tag;
        using value_type = T;
        using difference_type = std::ptrdiff_t;
        using pointer = std::remove_reference_t<Ref>*;
        using reference = Ref;
        Iter() = default;
        explicit Iter(BaseIt it) : it_(it) {}
        // iterator -> const_iterator
        template <class R2, class B2>
        requires std::is_convertible_v<B2, BaseIt> Iter(const Iter<R2, B2>& other) : it_(other.base()) {}
        Ref operator*() const { return static_cast<Ref>(**it_); }
        pointer operator->() const { return &**this; }
        Iter& operator++()
        {
            ++it_;
            return *this;
        }
        Iter operator++(int)
        {
            Iter old = *this;
            ++it_;
            return old;
        }
        Iter& operator--()
        {
            --it_;
            return *this;
        }
        Iter operator+(difference_type n) const { return Iter(it_ + n); }
        difference_type operator-(const Iter& other) const { return it_ - other.it_; }
        bool operator==(const Iter& other) const { return it_ == other.it_; }
        bool operator!=(const Iter& other) const { return it_ != other.it_; }
        BaseIt base() const { return it_; }

    private:
        template <class, class>
        friend class Iter;
        BaseIt it_{};
    };

public:
    using value_type = T;
    using iterator = Iter<T&, Container::iterator>;
    using const_iterator = Iter<const T&, Container::const_iterator>;
    static const SequenceOfTypeInfo theInfo;

    SEQUENCE_OF() : SEQUENCE_OF_Base(&theInfo) {}
    explicit SEQUENCE_OF(const SequenceOfTypeInfo* info) : SEQUENCE_OF_Base(info) {}
    SEQUENCE_OF(CopyTag, const SEQUENCE_OF_Base& other) : SEQUENCE_OF_Base(other) {}

    T& operator[](std::size_t index) { return static_cast<T&>(*container_[index]); }
    const T& operator[](std::size_t index) const { return static_cast<const T&>(*container_[index]); }
    T& back() { return static_cast<T&>(*container_.back()); }
    iterator begin() { return iterator(container_.begin()); }
    iterator end() { return iterator(container_.end()); }
    const_iterator begin() const { return const_iterator(container_.begin()); }
    const_iterator end() const { return const_iterator(container_.end()); }
    const_iterator cbegin() const { return begin(); }
    const_iterator cend() const { return end(); }
    void push_back(const T& value) { pushBackClone(value); }
    iterator erase(iterator position) { return iterator(container_.erase(position.base())); }
    using SEQUENCE_OF_Base::erase;
};

template <class T, class Constraint>
constinit const SequenceOfTypeInfo SEQUENCE_OF<T, Constraint>::theInfo = {
    {type_header<SEQUENCE_OF<T, Constraint>>(tag::SEQUENCE), Constraint::kind, Constraint::lower,
     Constraint::upper},
    &T::theInfo};

template <class T, class Constraint = EmptyConstraint>
class SET_OF : public SEQUENCE_OF<T, Constraint> {
public:
    static const SequenceOfTypeInfo theInfo;
    SET_OF() : SEQUENCE_OF<T, Constraint>(&theInfo) {}
    explicit SET_OF(const SequenceOfTypeInfo* info) : SEQUENCE_OF<T, Constraint>(info) {}
    SET_OF(CopyTag, const SEQUENCE_OF_Base& other) : SEQUENCE_OF<T, Constraint>(copy_tag, other) {}
};

template <class T, class Constraint>
constinit const SequenceOfTypeInfo SET_OF<T, Constraint>::theInfo = {
    {type_header<SET_OF<T, Constraint>>(tag::SET), Constraint::kind, Constraint::lower, Constraint::upper},
    &T::theInfo};

class OpenData : public AbstractData {
public:
    using info_type = TypeInfo;
    using runtime_class = OpenData;
    static const TypeInfo theInfo;

    explicit OpenData(const TypeInfo* info = &theInfo) : AbstractData(info) {}
    OpenData(CopyTag, const OpenData& other) : OpenData(other) {}
    OpenData(const OpenData& other);
    OpenData& operator=(const OpenData& other);

    bool has_data() const { return data_ != nullptr; }
    bool has_buf() const { return buf_ != nullptr; }
    AbstractData* get_data() { return data_.get(); }
    const AbstractData* get_data() const { return data_.get(); }
    void set_data(AbstractData* value) { data_.reset(value); }
    std::vector<char>* get_buf() { return buf_.get(); }
    const std::vector<char>* get_buf() const { return buf_.get(); }
    std::vector<char>& grab_buf(); // created when missing
    void swap(OpenData& other)
    {
        data_.swap(other.data_);
        buf_.swap(other.buf_);
    }

    int do_compare(const AbstractData& other) const override;
    bool do_accept(Visitor& visitor) override;
    bool do_accept(ConstVisitor& visitor) const override;

private:
    std::unique_ptr<AbstractData> data_;
    std::unique_ptr<std::vector<char>> buf_;
};

class TypeConstrainedOpenData : public OpenData {
public:
    using info_type = OpenTypeInfo;
    using runtime_class = TypeConstrainedOpenData;

    explicit TypeConstrainedOpenData(const OpenTypeInfo* info);
    TypeConstrainedOpenData(CopyTag, const TypeConstrainedOpenData& other) : OpenData(other) {}

    const OpenTypeInfo* info() const { return static_cast<const OpenTypeInfo*>(AbstractData::info()); }

    bool do_accept(Visitor& visitor) override;
    bool do_accept(ConstVisitor& visitor) const override;
};

} // namespace ASN1
