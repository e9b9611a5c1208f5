#include "asn1/values.hpp"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <map>

#include "asn1/visitor.hpp"

namespace ASN1 {

using detail::sign_of;

int lexicographic_compare_bytes(const char* first1, const char* last1, const char* first2, const char* last2)
{
    for (; first1 != last1 && first2 != last2; ++first1, ++first2) {
        const int a = static_cast<unsigned char>(*first1);
        const int b = static_cast<unsigned char>(*first2);
        if (a != b)
            return a - b;
    }
    if (first1 != last1)
        return 1;
    if (first2 != last2)
        return -1;
    return 0;
}

AbstractData* AbstractData::do_clone() const
{
    return info_->clone(*this);
}

AbstractData* AbstractData::create(const void* info)
{
    const auto* typeInfo = static_cast<const TypeInfo*>(info);
    return typeInfo->create(typeInfo);
}

// ------------------------------------------------------ runtime descriptors

namespace {
constexpr std::uint32_t unbounded = 0xFFFFFFFFu;
}

constinit const TypeInfo Null::theInfo = type_header<Null>(tag::NULL_);
constinit const TypeInfo BOOLEAN::theInfo = type_header<BOOLEAN>(tag::BOOLEAN);
constinit const ConstrainedTypeInfo INTEGER::theInfo = {type_header<INTEGER>(tag::INTEGER), NoConstraint, 0,
                                                        unbounded};
constinit const ConstrainedTypeInfo BIT_STRING::theInfo = {type_header<BIT_STRING>(tag::BIT_STRING),
                                                           NoConstraint, 0, unbounded};
constinit const ConstrainedTypeInfo OCTET_STRING::theInfo = {type_header<OCTET_STRING>(tag::OCTET_STRING),
                                                             NoConstraint, 0, unbounded};
constinit const TypeInfo OBJECT_IDENTIFIER::theInfo = type_header<OBJECT_IDENTIFIER>(tag::OBJECT_IDENTIFIER);
constinit const TypeInfo GeneralizedTime::theInfo = type_header<GeneralizedTime>(tag::GeneralizedTime);
constinit const TypeInfo OpenData::theInfo = type_header<OpenData>(0);
constinit const StringTypeInfo NumericString::theInfo = {
    {type_header<AbstractString>(tag::NumericString), NoConstraint, 0, unbounded},
    NumericStringSet,
    11,
    4,
    4,
    4};
constinit const StringTypeInfo PrintableString::theInfo = {
    {type_header<AbstractString>(tag::PrintableString), NoConstraint, 0, unbounded},
    PrintableStringSet,
    74,
    7,
    7,
    8};
constinit const StringTypeInfo IA5String::theInfo = {
    {type_header<IA5String>(tag::IA5String), NoConstraint, 0, unbounded}, IA5StringSet, 128, 7, 7, 8};
constinit const StringTypeInfo VisibleString::theInfo = {
    {type_header<AbstractString>(tag::VisibleString), NoConstraint, 0, unbounded},
    VisibleStringSet,
    95,
    7,
    7,
    8};
constinit const StringTypeInfo GeneralString::theInfo = {
    {type_header<AbstractString>(tag::GeneralString), NoConstraint, 0, unbounded},
    GeneralStringSet,
    256,
    8,
    8,
    8};
constinit const BMPStringTypeInfo BMPString::theInfo = {
    {type_header<BMPString>(tag::BMPString), NoConstraint, 0, unbounded}, 0, 0xFFFF, 16, 16};

const std::uint32_t SEQUENCE::defaultTag[1] = {0};

// ------------------------------------------------------------------ leaves

int Null::do_compare(const AbstractData&) const
{
    return 0;
}

int BOOLEAN::do_compare(const AbstractData& other) const
{
    return int{value_} - int{static_cast<const BOOLEAN&>(other).value_};
}

int INTEGER::do_compare(const AbstractData& other) const
{
    const std::int32_t theirs = static_cast<const INTEGER&>(other).value_;
    if (unsignedValues())
        return sign_of(static_cast<std::uint32_t>(value_), static_cast<std::uint32_t>(theirs));
    return sign_of(value_, theirs);
}

bool IntegerWithNamedNumber::getName(std::string& out) const
{
    const NamedNumber* first = info()->namedNumbers;
    const NamedNumber* last = first + info()->namedNumberCount;
    const int value = getValue();
    const NamedNumber* it =
        std::lower_bound(first, last, value, [](const NamedNumber& entry, int v) { return entry.value < v; });
    if (it == last || it->value != value)
        return false;
    out = it->name;
    return true;
}

bool IntegerWithNamedNumber::setFromName(std::string_view name)
{
    const NamedNumber* entries = info()->namedNumbers;
    for (std::uint32_t i = 0; i < info()->namedNumberCount; ++i) {
        if (name == entries[i].name) {
            setValue(entries[i].value);
            return true;
        }
    }
    return false;
}

namespace {
// Walks the entries of an ENUMERATED name table, working out each value.
template <class F>
void for_each_enum_name(const EnumeratedTypeInfo* info, F&& f)
{
    std::int64_t value = -1;
    for (std::uint32_t i = 0; i < info->nameCount; ++i) {
        std::string_view entry = info->names[i];
        const std::size_t eq = entry.find('=');
        if (eq == std::string_view::npos) {
            ++value;
        } else {
            std::string_view digits = entry.substr(eq + 1);
            bool negative = false;
            if (!digits.empty() && (digits[0] == '-' || digits[0] == '+')) {
                negative = digits[0] == '-';
                digits.remove_prefix(1);
            }
            std::int64_t v = 0;
            for (char c : digits) {
                if (c < '0' || c > '9')
                    break;
                v = v * 10 + (c - '0');
                if (v > 0xFFFFFFFFll)
                    break;
            }
            value = negative ? -v : v;
            entry = entry.substr(0, eq);
        }
        if (f(entry, value))
            return;
    }
}
} // namespace

bool ENUMERATED::getName(std::string& out) const
{
    if (value_ < 0 || value_ > getMaximum())
        return false;
    bool found = false;
    for_each_enum_name(info(), [&](std::string_view name, std::int64_t value) {
        if (value != value_)
            return false;
        out.assign(name.data(), name.size());
        found = true;
        return true;
    });
    return found;
}

std::string ENUMERATED::getName() const
{
    std::string name;
    getName(name);
    return name;
}

bool ENUMERATED::setFromName(std::string_view name)
{
    bool found = false;
    for_each_enum_name(info(), [&](std::string_view entry, std::int64_t value) {
        if (entry != name)
            return false;
        value_ = static_cast<std::int32_t>(value);
        found = true;
        return true;
    });
    if (!found) {
        value_ = getMaximum() + 1;
        return false;
    }
    return value_ <= getMaximum();
}

int ENUMERATED::do_compare(const AbstractData& other) const
{
    return sign_of(value_, static_cast<const ENUMERATED&>(other).value_);
}

void OBJECT_IDENTIFIER::encodeCommon(std::vector<char>& out) const
{
    if (arcs_.size() < 2) {
        out.clear();
        return;
    }
    auto put = [&out](std::uint32_t sub) {
        // X.690 8.19.2: base 128, most significant group first, bit 8 set on
        // every octet but the last.
        unsigned groups = 1;
        while (groups < 5 && (sub >> (7 * groups)) != 0)
            ++groups;
        for (unsigned g = groups; g-- > 0;) {
            unsigned char octet = static_cast<unsigned char>((sub >> (7 * g)) & 0x7F);
            if (g != 0)
                octet |= 0x80;
            out.push_back(static_cast<char>(octet));
        }
    };
    // X.690 8.19.4: the first two arcs share one subidentifier.
    put(arcs_[0] * 40 + arcs_[1]);
    for (std::size_t i = 2; i < arcs_.size(); ++i)
        put(arcs_[i]);
}

bool OBJECT_IDENTIFIER::decodeCommon(const char* bytes, std::size_t length)
{
    arcs_.clear();
    std::size_t i = 0;
    bool first = true;
    while (i < length) {
        std::uint32_t sub = 0;
        bool complete = false;
        while (i < length) {
            const auto octet = static_cast<unsigned char>(bytes[i++]);
            sub = (sub << 7) | (octet & 0x7F);
            if ((octet & 0x80) == 0) {
                complete = true;
                break;
            }
        }
        if (!complete)
            return false;
        if (first) {
            if (sub < 40) {
                arcs_.push_back(0);
                arcs_.push_back(sub);
            } else if (sub < 80) {
                arcs_.push_back(1);
                arcs_.push_back(sub - 40);
            } else {
                arcs_.push_back(2);
                arcs_.push_back(sub - 80);
            }
            first = false;
        } else {
            arcs_.push_back(sub);
        }
    }
    return true;
}

int OBJECT_IDENTIFIER::do_compare(const AbstractData& other) const
{
    const auto& theirs = static_cast<const OBJECT_IDENTIFIER&>(other).arcs_;
    const std::size_t common = std::min(arcs_.size(), theirs.size());
    for (std::size_t i = 0; i < common; ++i)
        if (arcs_[i] != theirs[i])
            return sign_of(arcs_[i], theirs[i]);
    return sign_of(arcs_.size(), theirs.size());
}

void BIT_STRING::resize(std::uint32_t bits)
{
    totalBits_ = bits;
    bytes_.resize((static_cast<std::size_t>(bits) + 7) / 8, 0);
}

bool BIT_STRING::operator[](std::uint32_t bit) const
{
    return bit < totalBits_ && (static_cast<unsigned char>(bytes_[bit / 8]) & (0x80u >> (bit % 8)));
}

void BIT_STRING::set(std::uint32_t bit, bool value)
{
    if (bit >= totalBits_)
        return;
    const auto mask = static_cast<unsigned char>(0x80u >> (bit % 8));
    auto& byte = reinterpret_cast<unsigned char&>(bytes_[bit / 8]);
    byte = value ? (byte | mask) : (byte & ~mask);
}

int BIT_STRING::do_compare(const AbstractData& other) const
{
    const auto& that = static_cast<const BIT_STRING&>(other);
    const std::size_t common = std::min(bytes_.size(), that.bytes_.size());
    for (std::size_t i = 0; i < common; ++i) {
        const auto a = static_cast<unsigned char>(bytes_[i]);
        const auto b = static_cast<unsigned char>(that.bytes_[i]);
        if (a != b) {
            const unsigned differ = a ^ b;
            return int(a & differ) - int(b & differ);
        }
    }
    return sign_of(totalBits_, that.totalBits_);
}

int OCTET_STRING::do_compare(const AbstractData& other) const
{
    const auto& that = static_cast<const OCTET_STRING&>(other);
    return lexicographic_compare_bytes(data(), data() + size(), that.data(), that.data() + that.size());
}

int AbstractString::do_compare(const AbstractData& other) const
{
    const auto& that = static_cast<const AbstractString&>(other);
    const std::size_t common = std::min(size(), that.size());
    const int r = common == 0 ? 0 : std::memcmp(data(), that.data(), common);
    if (r != 0)
        return r;
    return sign_of(size(), that.size());
}

int BMPString::do_compare(const AbstractData& other) const
{
    const auto& that = static_cast<const BMPString&>(other);
    const std::size_t common = std::min(size(), that.size());
    for (std::size_t i = 0; i < common; ++i)
        if ((*this)[i] != that[i])
            return sign_of((*this)[i], that[i]);
    return sign_of(size(), that.size());
}

GeneralizedTime::GeneralizedTime(std::string_view text) : AbstractData(&theInfo)
{
    set(text);
}

GeneralizedTime::GeneralizedTime(int year, int month, int day, int hour, int minute, int second, int millisec,
                                 int mindiff, bool utc)
    : AbstractData(&theInfo),
      year_(year),
      month_(month),
      day_(day),
      hour_(hour),
      minute_(minute),
      second_(second),
      millisec_(millisec),
      mindiff_(mindiff),
      utc_(utc)
{}

GeneralizedTime& GeneralizedTime::operator=(const GeneralizedTime& other)
{
    year_ = other.year_;
    month_ = other.month_;
    day_ = other.day_;
    hour_ = other.hour_;
    minute_ = other.minute_;
    second_ = other.second_;
    millisec_ = other.millisec_;
    mindiff_ = other.mindiff_;
    utc_ = other.utc_;
    return *this;
}

namespace {
bool read_digits(std::string_view text, std::size_t pos, std::size_t count, int& out)
{
    if (pos + count > text.size())
        return false;
    int v = 0;
    for (std::size_t i = pos; i < pos + count; ++i) {
        if (text[i] < '0' || text[i] > '9')
            return false;
        v = v * 10 + (text[i] - '0');
    }
    out = v;
    return true;
}
} // namespace

bool GeneralizedTime::set(std::string_view text)
{
    int year, month, day, hour, minute, second;
    if (!read_digits(text, 0, 4, year) || !read_digits(text, 4, 2, month) || !read_digits(text, 6, 2, day) ||
        !read_digits(text, 8, 2, hour) || !read_digits(text, 10, 2, minute) ||
        !read_digits(text, 12, 2, second))
        return false;
    if (month < 1 || month > 12 || day < 1 || day > 31 || hour > 24 || minute > 59 || second > 60)
        return false;
    std::size_t pos = 14;
    int millisec = millisec_;
    if (pos < text.size() && (text[pos] == '.' || text[pos] == ',')) {
        ++pos;
        const std::size_t start = pos;
        int fraction = 0;
        while (pos < text.size() && text[pos] >= '0' && text[pos] <= '9') {
            if (pos - start < 3)
                fraction = fraction * 10 + (text[pos] - '0');
            ++pos;
        }
        if (pos == start)
            return false;
        for (std::size_t n = pos - start; n < 3; ++n)
            fraction *= 10;
        millisec = fraction;
    }
    // 24:00:00 is the end of the day in ISO 8601, whose forms GeneralizedTime
    // takes; no later instant of hour 24 exists.
    if (hour == 24 && (minute != 0 || second != 0 || millisec != 0))
        return false;
    bool utc = utc_;
    int mindiff = mindiff_;
    if (pos < text.size()) {
        if (text[pos] == 'Z' && pos + 1 == text.size()) {
            utc = true;
        } else if ((text[pos] == '+' || text[pos] == '-') && pos + 5 == text.size()) {
            int hh, mm;
            if (!read_digits(text, pos + 1, 2, hh) || !read_digits(text, pos + 3, 2, mm) || hh > 23 ||
                mm > 59)
                return false;
            mindiff = (text[pos] == '-' ? -1 : 1) * (hh * 60 + mm);
        } else {
            return false;
        }
    }
    year_ = year;
    month_ = month;
    day_ = day;
    hour_ = hour;
    minute_ = minute;
    second_ = second;
    millisec_ = millisec;
    mindiff_ = mindiff;
    utc_ = utc;
    return true;
}

std::string GeneralizedTime::get() const
{
    char buf[64];
    int n = std::snprintf(buf, sizeof buf, "%04d%02d%02d%02d%02d%02d", year_, month_, day_, hour_, minute_,
                          second_);
    std::string text(buf, static_cast<std::size_t>(n));
    if (millisec_ != 0) {
        n = std::snprintf(buf, sizeof buf, ".%03d", millisec_);
        text.append(buf, static_cast<std::size_t>(n));
    }
    if (utc_) {
        text += 'Z';
    } else if (mindiff_ != 0) {
        const int minutes = mindiff_ < 0 ? -mindiff_ : mindiff_;
        n = std::snprintf(buf, sizeof buf, "%c%02d%02d", mindiff_ < 0 ? '-' : '+', minutes / 60,
                          minutes % 60);
        text.append(buf, static_cast<std::size_t>(n));
    }
    return text;
}

std::time_t GeneralizedTime::get_time_t() const
{
    std::tm fields{};
    fields.tm_year = year_ - 1900;
    fields.tm_mon = month_ - 1;
    fields.tm_mday = day_;
    fields.tm_hour = hour_;
    fields.tm_min = minute_;
    fields.tm_sec = second_;
    fields.tm_isdst = -1;
    if (utc_)
        return timegm(&fields);
    // A stated offset pins the time: local time is offset east of UTC.
    if (mindiff_ != 0)
        return timegm(&fields) - static_cast<std::time_t>(mindiff_) * 60;
    return std::mktime(&fields);
}

void GeneralizedTime::set_time_t(std::time_t seconds)
{
    std::tm fields{};
    if (gmtime_r(&seconds, &fields) == nullptr)
        return;
    year_ = fields.tm_year + 1900;
    month_ = fields.tm_mon + 1;
    day_ = fields.tm_mday;
    hour_ = fields.tm_hour;
    minute_ = fields.tm_min;
    second_ = fields.tm_sec;
}

void GeneralizedTime::swap(GeneralizedTime& other)
{
    GeneralizedTime tmp(other);
    other = *this;
    *this = tmp;
}

int GeneralizedTime::do_compare(const AbstractData& other) const
{
    const auto& t = static_cast<const GeneralizedTime&>(other);
    const std::int32_t mine[] = {year_, month_, day_, hour_, minute_, second_, millisec_};
    const std::int32_t theirs[] = {t.year_, t.month_, t.day_, t.hour_, t.minute_, t.second_, t.millisec_};
    for (std::size_t i = 0; i < 7; ++i)
        if (mine[i] != theirs[i])
            return sign_of(mine[i], theirs[i]);
    return int{utc_} - int{t.utc_};
}

// ------------------------------------------------------------- constructed

BitMap::BitMap(const BitMap& other) : local_{}
{
    resize(other.bitCount_);
    if (bitCount_ != 0)
        std::memcpy(data(), other.data(), bytesFor(bitCount_));
}

BitMap& BitMap::operator=(const BitMap& other)
{
    if (this != &other) {
        BitMap copy(other);
        swap(copy);
    }
    return *this;
}

void BitMap::release() noexcept
{
    if (onHeap())
        detail::Pool::deallocate(heap_, bytesFor(bitCount_));
}

void BitMap::resize(std::uint32_t bits)
{
    if (bits == bitCount_)
        return;
    const std::size_t keep = bytesFor(std::min(bits, bitCount_));
    if (bits > localBits) {
        auto* fresh = static_cast<unsigned char*>(detail::Pool::allocate(bytesFor(bits)));
        std::memset(fresh, 0, bytesFor(bits));
        std::memcpy(fresh, data(), keep);
        release();
        heap_ = fresh;
    } else {
        unsigned char kept[sizeof local_] = {};
        std::memcpy(kept, data(), keep);
        release();
        std::memcpy(local_, kept, sizeof local_);
    }
    bitCount_ = bits;
    // Bits past the new end of a kept byte must read clear when regrown.
    if (bits % 8 != 0)
        data()[bits / 8] &= static_cast<unsigned char>(0xFF00u >> (bits % 8));
}

void BitMap::swap(BitMap& other) noexcept
{
    std::swap(bitCount_, other.bitCount_);
    unsigned char tmp[localBits / 8];
    std::memcpy(tmp, local_, sizeof tmp);
    std::memcpy(local_, other.local_, sizeof tmp);
    std::memcpy(other.local_, tmp, sizeof tmp);
}

void FieldVector::swap(FieldVector& other) noexcept
{
    const bool mineLocal = slots_ == local_;
    const bool theirsLocal = other.slots_ == other.local_;
    std::swap(local_, other.local_);
    std::swap(slots_, other.slots_);
    std::swap(count_, other.count_);
    // Slots held in the object stay there: their contents changed places.
    if (theirsLocal)
        slots_ = local_;
    if (mineLocal)
        other.slots_ = other.local_;
}

void SEQUENCE::createDefaultFields(bool classCreatesFields)
{
    const SequenceTypeInfo* info = this->info();
    for (std::uint32_t i = 0; i < info->rootFieldCount && !classCreatesFields; ++i) {
        const TypeInfo* fieldInfo = info->fieldInfos[i];
        if (info->fieldIds[i] == -1 && fieldInfo != nullptr)
            fields_.reset(i, fieldInfo->create(fieldInfo));
    }
    if (info->defaultExtensionBits != nullptr) {
        extensionMap_.resize(info->knownExtensionCount);
        std::memcpy(extensionMap_.data(), info->defaultExtensionBits, (info->knownExtensionCount + 7) / 8);
        for (std::uint32_t k = 0; k < info->knownExtensionCount; ++k) {
            const TypeInfo* fieldInfo = info->fieldInfos[info->rootFieldCount + k];
            if (extensionMap_.test(k) && fieldInfo != nullptr)
                fields_.reset(info->rootFieldCount + k, fieldInfo->create(fieldInfo));
        }
    }
}

SEQUENCE::SEQUENCE(const SEQUENCE& other)
    : AbstractData(other),
      fields_(other.fields_.size()),
      optionalMap_(other.optionalMap_),
      extensionMap_(other.extensionMap_)
{
    for (std::uint32_t i = 0; i < fields_.size(); ++i)
        if (const AbstractData* field = other.fields_.get(i))
            fields_.reset(i, field->do_clone());
}

SEQUENCE& SEQUENCE::operator=(const SEQUENCE& other)
{
    if (this != &other) {
        SEQUENCE copy(other);
        swap(copy);
    }
    return *this;
}

SEQUENCE::~SEQUENCE() = default;

void SEQUENCE::swap(SEQUENCE& other)
{
    fields_.swap(other.fields_);
    optionalMap_.swap(other.optionalMap_);
    extensionMap_.swap(other.extensionMap_);
}

void SEQUENCE::includeOptionalField(unsigned id, unsigned fieldIndex)
{
    if (id < optionalMap_.size()) {
        optionalMap_.set(id);
    } else {
        const std::uint32_t bit = id - optionalMap_.size();
        if (extensionMap_.size() <= bit)
            extensionMap_.resize(bit + 1);
        extensionMap_.set(bit);
    }
    if (fieldIndex < fields_.size() && fields_.get(fieldIndex) == nullptr) {
        const TypeInfo* fieldInfo = info()->fieldInfos[fieldIndex];
        if (fieldInfo != nullptr)
            fields_.reset(fieldIndex, fieldInfo->create(fieldInfo));
    }
}

void SEQUENCE::removeOptionalField(unsigned id)
{
    if (id < optionalMap_.size())
        optionalMap_.clear(id);
    else
        extensionMap_.clear(id - optionalMap_.size());
}

int SEQUENCE::presenceId(unsigned index) const
{
    const SequenceTypeInfo* ti = info();
    if (index < ti->rootFieldCount)
        return ti->fieldIds[index];
    return static_cast<int>(ti->optionalCount + (index - ti->rootFieldCount));
}

bool SEQUENCE::isFieldPresent(unsigned index) const
{
    const int id = presenceId(index);
    return id == -1 || hasOptionalField(static_cast<unsigned>(id));
}

AbstractData& SEQUENCE::createField(unsigned index)
{
    const TypeInfo* fieldInfo = info()->fieldInfos[index];
    fields_.reset(index, fieldInfo->create(fieldInfo));
    return *fields_.get(index);
}

namespace {

// A read of something the value does not hold is the caller's mistake; the
// debug build names it.
void reportAbsentRead([[maybe_unused]] const char* what, [[maybe_unused]] const char* name)
{
#ifndef NDEBUG
    std::cerr << "ASN1: const read of " << what << " " << (name != nullptr ? name : "?")
              << ": the type's default value" << std::endl;
#endif
}

} // namespace

const AbstractData& constantDefault(const TypeInfo* info)
{
    static std::map<const TypeInfo*, std::unique_ptr<AbstractData>> defaults;
    std::unique_ptr<AbstractData>& value = defaults[info];
    if (!value)
        value.reset(info->create(info));
    return *value;
}

const AbstractData& SEQUENCE::absentField(unsigned index) const
{
    const SequenceTypeInfo* ti = info();
    reportAbsentRead("absent field", ti->fieldNames != nullptr ? ti->fieldNames[index] : nullptr);
    return constantDefault(ti->fieldInfos[index]);
}

const AbstractData& CHOICE::absentAlternative(int index) const
{
    const ChoiceTypeInfo* ti = info();
    reportAbsentRead("unselected alternative",
                     ti->selectionNames != nullptr ? ti->selectionNames[index] : nullptr);
    return constantDefault(ti->selectionInfos[index]);
}

AbstractData& SEQUENCE::fieldForWrite(unsigned index)
{
    const int id = presenceId(index);
    if (id != -1 && !hasOptionalField(static_cast<unsigned>(id)))
        includeOptionalField(static_cast<unsigned>(id), index);
    return fieldObject(index);
}

int SEQUENCE::do_compare(const AbstractData& other) const
{
    const auto& that = static_cast<const SEQUENCE&>(other);
    const std::size_t count = std::min(fields_.size(), that.fields_.size());
    for (std::size_t i = 0; i < count; ++i) {
        const int id = presenceId(static_cast<unsigned>(i));
        if (id != -1) {
            const bool mine = hasOptionalField(static_cast<unsigned>(id));
            const bool theirs = that.hasOptionalField(static_cast<unsigned>(id));
            if (mine != theirs)
                return int{mine} - int{theirs};
            if (!mine)
                continue;
        }
        const AbstractData* a = fields_.get(static_cast<std::uint32_t>(i));
        const AbstractData* b = that.fields_.get(static_cast<std::uint32_t>(i));
        if (a == nullptr || b == nullptr) {
            if (a != b)
                return a != nullptr ? 1 : -1;
            continue;
        }
        const int r = a->do_compare(*b);
        if (r != 0)
            return r;
    }
    return 0;
}

CHOICE::CHOICE(const ChoiceTypeInfo* info, int selection, AbstractData* alternative)
    : AbstractData(info), alternative_(alternative), selection_(selection)
{}

CHOICE::CHOICE(const CHOICE& other)
    : AbstractData(other),
      alternative_(other.alternative_ ? other.alternative_->do_clone() : nullptr),
      selection_(other.selection_)
{}

CHOICE& CHOICE::operator=(const CHOICE& other)
{
    if (this != &other) {
        CHOICE copy(other);
        swap(copy);
    }
    return *this;
}

CHOICE::~CHOICE() = default;

void CHOICE::swap(CHOICE& other)
{
    alternative_.swap(other.alternative_);
    std::swap(selection_, other.selection_);
}

bool CHOICE::createSelection()
{
    const ChoiceTypeInfo* ti = info();
    if (selection_ >= 0 && static_cast<std::uint32_t>(selection_) < ti->totalCount) {
        const TypeInfo* altInfo = ti->selectionInfos[selection_];
        if (altInfo != nullptr) {
            alternative_.reset(altInfo->create(altInfo));
            return true;
        }
    }
    alternative_.reset();
    selection_ = unknownSelection_;
    return false;
}

AbstractData* CHOICE::select(int index)
{
    if (index == selection_ && alternative_)
        return alternative_.get();
    selection_ = index;
    return createSelection() ? alternative_.get() : nullptr;
}

int CHOICE::do_compare(const AbstractData& other) const
{
    const auto& that = static_cast<const CHOICE&>(other);
    if (selection_ >= 0 && selection_ == that.selection_) {
        if (alternative_ && that.alternative_)
            return alternative_->do_compare(*that.alternative_);
        return int{alternative_ != nullptr} - int{that.alternative_ != nullptr};
    }
    return sign_of(selection_, that.selection_);
}

SEQUENCE_OF_Base::SEQUENCE_OF_Base(const SEQUENCE_OF_Base& other) : ConstrainedObject(other)
{
    container_.reserve(other.container_.size());
    for (const auto& element : other.container_)
        container_.emplace_back(element->do_clone());
}

SEQUENCE_OF_Base& SEQUENCE_OF_Base::operator=(const SEQUENCE_OF_Base& other)
{
    if (this != &other) {
        SEQUENCE_OF_Base copy(other);
        swap(copy);
    }
    return *this;
}

void SEQUENCE_OF_Base::resize(std::size_t count)
{
    if (count <= container_.size()) {
        container_.resize(count);
        return;
    }
    const TypeInfo* elementInfo = info()->elementInfo;
    container_.reserve(count);
    while (container_.size() < count)
        container_.emplace_back(elementInfo->create(elementInfo));
}

void SEQUENCE_OF_Base::pushBackClone(const AbstractData& value)
{
    std::unique_ptr<AbstractData> copy(value.do_clone());
    container_.push_back(std::move(copy));
}

void SEQUENCE_OF_Base::insert(std::size_t position, std::size_t count, const AbstractData& value)
{
    Container copies;
    copies.reserve(count);
    for (std::size_t i = 0; i < count; ++i)
        copies.emplace_back(value.do_clone());
    container_.insert(container_.begin() + static_cast<std::ptrdiff_t>(position),
                      std::make_move_iterator(copies.begin()), std::make_move_iterator(copies.end()));
}

void SEQUENCE_OF_Base::erase(std::size_t first, std::size_t last)
{
    container_.erase(container_.begin() + static_cast<std::ptrdiff_t>(first),
                     container_.begin() + static_cast<std::ptrdiff_t>(last));
}

int SEQUENCE_OF_Base::do_compare(const AbstractData& other) const
{
    const auto& that = static_cast<const SEQUENCE_OF_Base&>(other);
    const std::size_t common = std::min(size(), that.size());
    for (std::size_t i = 0; i < common; ++i) {
        const int r = container_[i]->do_compare(*that.container_[i]);
        if (r != 0)
            return r;
    }
    return sign_of(size(), that.size());
}

OpenData::OpenData(const OpenData& other)
    : AbstractData(other),
      data_(other.data_ ? other.data_->do_clone() : nullptr),
      buf_(other.buf_ ? std::make_unique<std::vector<char>>(*other.buf_) : nullptr)
{}

OpenData& OpenData::operator=(const OpenData& other)
{
    if (this != &other) {
        OpenData copy(other);
        swap(copy);
    }
    return *this;
}

std::vector<char>& OpenData::grab_buf()
{
    if (!buf_)
        buf_ = std::make_unique<std::vector<char>>();
    return *buf_;
}

int OpenData::do_compare(const AbstractData& other) const
{
    const auto& that = static_cast<const OpenData&>(other);
    if (data_ && that.data_)
        return data_->do_compare(*that.data_);
    if (!data_ && !that.data_) {
        if (buf_ && that.buf_)
            return lexicographic_compare_bytes(buf_->data(), buf_->data() + buf_->size(), that.buf_->data(),
                                               that.buf_->data() + that.buf_->size());
        if (!buf_ && !that.buf_)
            return 0;
    }
    return data_ ? 1 : -1;
}

TypeConstrainedOpenData::TypeConstrainedOpenData(const OpenTypeInfo* info) : OpenData(info)
{
    if (info->containedInfo != nullptr)
        set_data(info->containedInfo->create(info->containedInfo));
}

// ---------------------------------------------------------------- dispatch

#define GW_ASN1_DISPATCH(Class)                                                                              \
    bool Class::do_accept(Visitor& visitor)                                                                  \
    {                                                                                                        \
        return visitor.do_visit(*this);                                                                      \
    }                                                                                                        \
    bool Class::do_accept(ConstVisitor& visitor) const                                                       \
    {                                                                                                        \
        return visitor.do_visit(*this);                                                                      \
    }

GW_ASN1_DISPATCH(Null)
GW_ASN1_DISPATCH(BOOLEAN)
GW_ASN1_DISPATCH(INTEGER)
GW_ASN1_DISPATCH(IntegerWithNamedNumber)
GW_ASN1_DISPATCH(ENUMERATED)
GW_ASN1_DISPATCH(OBJECT_IDENTIFIER)
GW_ASN1_DISPATCH(BIT_STRING)
GW_ASN1_DISPATCH(OCTET_STRING)
GW_ASN1_DISPATCH(AbstractString)
GW_ASN1_DISPATCH(BMPString)
GW_ASN1_DISPATCH(GeneralizedTime)
GW_ASN1_DISPATCH(CHOICE)
GW_ASN1_DISPATCH(SEQUENCE_OF_Base)
GW_ASN1_DISPATCH(OpenData)
#undef GW_ASN1_DISPATCH

bool TypeConstrainedOpenData::do_accept(Visitor& visitor)
{
    return visitor.do_visit(*this);
}

bool TypeConstrainedOpenData::do_accept(ConstVisitor& visitor) const
{
    return visitor.do_visit(static_cast<const OpenData&>(*this));
}

bool SEQUENCE::do_accept(Visitor& visitor)
{
    return visitor.visit(*this);
}

bool SEQUENCE::do_accept(ConstVisitor& visitor) const
{
    return visitor.visit(*this);
}

} // namespace ASN1
