#include "asn1/support/coding.hpp"

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <limits>

namespace ASN1Test {

namespace {

// Unconstrained INTEGER: the edges of every length-octet count first.
constexpr std::int32_t kIntegerEdges[] = {0,
                                          1,
                                          -1,
                                          127,
                                          128,
                                          -128,
                                          -129,
                                          255,
                                          256,
                                          32767,
                                          -32768,
                                          32768,
                                          65535,
                                          65536,
                                          8388607,
                                          -8388608,
                                          16777216,
                                          2147483647,
                                          std::numeric_limits<std::int32_t>::min()};

class Filler : public ASN1::Visitor {
public:
    explicit Filler(RandomValues& rnd) : rnd_(rnd) {}

    bool do_visit(ASN1::Null&) override { return true; }
    bool do_visit(ASN1::BOOLEAN& value) override
    {
        value.setValue(rnd_.below(2) == 1);
        return true;
    }
    bool do_visit(ASN1::INTEGER& value) override
    {
        if (value.constraint() == ASN1::NoConstraint || value.constraint() == ASN1::LowerBoundOnly) {
            std::int32_t v;
            if (rnd_.below(2) == 0)
                v = kIntegerEdges[rnd_.below(std::size(kIntegerEdges))];
            else
                v = static_cast<std::int32_t>(rnd_.next32());
            if (value.constraint() == ASN1::LowerBoundOnly && v < value.lowerLimit())
                v = value.lowerLimit();
            value.setValue(v);
            return true;
        }
        // lower..upper, counted as unsigned offsets from lower (the range may
        // span all 2^32 values).
        const std::uint32_t lower = static_cast<std::uint32_t>(value.lowerLimit());
        const std::uint32_t span = value.upperLimit() - lower; // size - 1
        std::uint32_t offset;
        switch (rnd_.below(4)) {
        case 0:
            offset = 0;
            break;
        case 1:
            offset = span;
            break;
        default:
            offset = span == 0xFFFFFFFFu ? rnd_.next32() : rnd_.below(span + 1);
            break;
        }
        value.setValue(static_cast<std::int32_t>(lower + offset));
        return true;
    }
    bool do_visit(ASN1::ENUMERATED& value) override
    {
        // Only numbers the type names, inside the wire range 0..max.
        const ASN1::EnumeratedTypeInfo* info = value.info();
        std::vector<std::int32_t> numbers;
        std::int32_t next = 0;
        for (std::uint32_t i = 0; i < info->nameCount; ++i) {
            const char* eq = std::strchr(info->names[i], '=');
            const std::int32_t n = eq != nullptr ? static_cast<std::int32_t>(std::atol(eq + 1)) : next;
            if (n >= 0 && n <= info->maxEnumValue)
                numbers.push_back(n);
            next = n + 1;
        }
        value.setValue(numbers.empty() ? 0 : numbers[rnd_.below(static_cast<std::uint32_t>(numbers.size()))]);
        return true;
    }
    bool do_visit(ASN1::OBJECT_IDENTIFIER& value) override
    {
        value.arcs() = {1, 3, 6, 1, 4, 1, rnd_.below(100000)};
        return true;
    }
    bool do_visit(ASN1::OCTET_STRING& value) override
    {
        const std::uint32_t n = length(value);
        value.resize(n);
        for (std::uint32_t i = 0; i < n; ++i)
            value[i] = static_cast<char>(rnd_.below(256));
        return true;
    }
    bool do_visit(ASN1::BIT_STRING& value) override
    {
        const std::uint32_t n = length(value);
        value.resize(n);
        for (std::uint32_t i = 0; i < n; ++i)
            value.set(i, rnd_.below(2) == 1);
        return true;
    }
    bool do_visit(ASN1::AbstractString& value) override
    {
        const ASN1::StringTypeInfo* info = value.info();
        const std::uint32_t n = length(value);
        value.clear();
        for (std::uint32_t i = 0; i < n; ++i)
            value.push_back(info->charSet[rnd_.below(info->charSetSize)]);
        return true;
    }
    bool do_visit(ASN1::BMPString& value) override
    {
        const ASN1::BMPStringTypeInfo* info = value.info();
        const std::uint32_t n = length(value);
        value.clear();
        for (std::uint32_t i = 0; i < n; ++i)
            value.push_back(
                static_cast<wchar_t>(info->firstChar + rnd_.below(info->lastChar - info->firstChar + 1)));
        return true;
    }
    bool do_visit(ASN1::CHOICE& value) override
    {
        const ASN1::ChoiceTypeInfo* info = value.info();
        int index = static_cast<int>(rnd_.below(info->totalCount));
        for (int attempt = 0; attempt < 8 && avoided(info->selectionInfos[index]); ++attempt)
            index = static_cast<int>(rnd_.below(info->totalCount));
        if (avoided(info->selectionInfos[index]))
            return false;
        ASN1::AbstractData* alternative = value.select(index);
        return alternative != nullptr && descend(*alternative);
    }
    bool do_visit(ASN1::SEQUENCE_OF_Base& value) override
    {
        const std::uint32_t n = depth_ > 6 ? lowerOf(value) : length(value, rnd_.maxListLength);
        value.clear();
        value.resize(n);
        for (std::size_t i = 0; i < n; ++i)
            if (!descend(value.elementAt(i)))
                return false;
        return true;
    }
    bool do_visit(ASN1::OpenData& value) override
    {
        if (rnd_.openTypes == RandomValues::Open::Filled)
            value.set_data(new ASN1::INTEGER(static_cast<int>(rnd_.below(2001)) - 1000));
        return true;
    }
    bool do_revisit(ASN1::OpenData&) override { return true; }
    bool do_visit(ASN1::TypeConstrainedOpenData& value) override
    {
        const ASN1::TypeInfo* contained = value.info()->containedInfo;
        if (contained == nullptr)
            return true;
        ASN1::AbstractData* inner = contained->create(contained);
        value.set_data(inner);
        return descend(*inner);
    }
    bool do_visit(ASN1::GeneralizedTime& value) override
    {
        value = ASN1::GeneralizedTime(2000 + static_cast<int>(rnd_.below(50)),
                                      1 + static_cast<int>(rnd_.below(12)),
                                      1 + static_cast<int>(rnd_.below(28)), static_cast<int>(rnd_.below(24)),
                                      static_cast<int>(rnd_.below(60)), static_cast<int>(rnd_.below(60)));
        return true;
    }

    int preVisitExtensionRoots(ASN1::SEQUENCE& seq) override
    {
        return seq.info()->knownExtensionCount > 0 ? goOn : rootOnly;
    }
    int visitExtensionRoot(ASN1::SEQUENCE& seq, int index, int optionalId) override
    {
        const unsigned i = static_cast<unsigned>(index);
        if (optionalId != -1) {
            if (rnd_.below(2) == 0 || tooDeep() || avoided(seq.info()->fieldInfos[index])) {
                seq.removeOptionalField(static_cast<unsigned>(optionalId));
                return goOn;
            }
            seq.includeOptionalField(static_cast<unsigned>(optionalId), i);
        }
        return descend(seq.fieldObject(i)) ? goOn : fail;
    }
    int visitKnownExtension(ASN1::SEQUENCE& seq, int index, int presenceId) override
    {
        const unsigned i = static_cast<unsigned>(index);
        if (rnd_.below(2) == 0 || tooDeep() || avoided(seq.info()->fieldInfos[index])) {
            seq.removeOptionalField(static_cast<unsigned>(presenceId));
            return goOn;
        }
        seq.includeOptionalField(static_cast<unsigned>(presenceId), i);
        return descend(seq.fieldObject(i)) ? goOn : fail;
    }

private:
    bool tooDeep() const { return rnd_.maxDepth != 0 && depth_ > rnd_.maxDepth; }
    // An open type that the options keep out.
    bool avoided(const ASN1::TypeInfo* info) const
    {
        if (rnd_.openTypes != RandomValues::Open::Avoided || info->tag != 0 || info->create == nullptr)
            return false;
        std::unique_ptr<ASN1::AbstractData> probe(info->create(info));
        return dynamic_cast<ASN1::OpenData*>(probe.get()) != nullptr &&
               dynamic_cast<ASN1::TypeConstrainedOpenData*>(probe.get()) == nullptr;
    }

    bool descend(ASN1::AbstractData& value)
    {
        if (depth_ >= 40) // a recursive type that never ends
            return false;
        ++depth_;
        const bool ok = value.accept(*this);
        --depth_;
        return ok;
    }

    static std::uint32_t lowerOf(const ASN1::ConstrainedObject& value)
    {
        return value.constraint() == ASN1::NoConstraint ? 0 : static_cast<std::uint32_t>(value.lowerLimit());
    }

    // A length inside the SIZE constraint; at most `cap` above its lower bound
    // unless the bound is fixed.
    std::uint32_t length(const ASN1::ConstrainedObject& value, unsigned cap = 0)
    {
        if (cap == 0)
            cap = rnd_.maxStringLength;
        const std::uint32_t lower = lowerOf(value);
        std::uint32_t upper =
            value.constraint() == ASN1::NoConstraint || value.constraint() == ASN1::LowerBoundOnly
                ? lower + cap
                : value.upperLimit();
        if (upper - lower > cap)
            upper = lower + cap;
        return lower + rnd_.below(upper - lower + 1);
    }

    RandomValues& rnd_;
    unsigned depth_ = 0;
};

} // namespace

std::uint32_t RandomValues::next32()
{
    // splitmix64: tiny, and the same sequence everywhere.
    std::uint64_t z = (state_ += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return static_cast<std::uint32_t>((z ^ (z >> 31)) >> 32);
}

std::uint32_t RandomValues::below(std::uint32_t bound)
{
    return static_cast<std::uint32_t>((static_cast<std::uint64_t>(next32()) * bound) >> 32);
}

std::unique_ptr<ASN1::AbstractData> RandomValues::make(const ASN1::TypeInfo* info)
{
    std::unique_ptr<ASN1::AbstractData> value(info->create(info));
    fill(*value);
    return value;
}

void RandomValues::fill(ASN1::AbstractData& value)
{
    Filler filler(*this);
    value.accept(filler);
}

Octets bytes(std::initializer_list<int> octets)
{
    Octets out;
    for (int o : octets)
        out.push_back(static_cast<char>(o));
    return out;
}

Octets hex(const std::string& text)
{
    Octets out;
    std::string digits;
    for (char c : text)
        if (std::isxdigit(static_cast<unsigned char>(c)))
            digits += c;
    FromHex(digits.substr(0, digits.size() / 2 * 2), out);
    return out;
}

std::string hex(const Octets& bytes)
{
    std::string const flat = ToHex(bytes);
    std::string out;
    for (std::size_t i = 0; i < flat.size(); i += 2)
        out += (i == 0 ? "" : " ") + flat.substr(i, 2);
    return out;
}

bool encode(const ASN1::AbstractData& value, Octets& out, int rule)
{
    ASN1::CoderEnv env(rule);
    return ASN1::encode(value, &env, std::back_inserter(out));
}

std::string encodeHex(const ASN1::AbstractData& value, int rule)
{
    Octets out;
    return encode(value, out, rule) ? hex(out) : "fail";
}

bool decode(const Octets& bytes, ASN1::AbstractData& value, int rule)
{
    ASN1::CoderEnv env(rule);
    return ASN1::decode(bytes.data(), bytes.data() + bytes.size(), &env, value, true);
}

bool EncodePer(const ASN1::AbstractData& value, std::vector<char>& out)
{
    ASN1::CoderEnv env(ASN1::CoderEnv::per_Aligned);
    out.clear();
    return env.encode(value, std::back_inserter(out));
}

bool DecodePer(const std::vector<char>& bytes, ASN1::AbstractData& value)
{
    ASN1::PERDecoder decoder(bytes.data(), bytes.data() + bytes.size(), nullptr, true);
    if (!value.accept(decoder))
        return false;
    // Only the padding of the last octet may remain (X.691 11.1).
    return decoder.getBitsLeft() < 8;
}

std::string ToHex(const std::vector<char>& bytes)
{
    static const char digits[] = "0123456789ABCDEF";
    std::string text;
    text.reserve(bytes.size() * 2);
    for (char c : bytes) {
        const auto b = static_cast<unsigned char>(c);
        text.push_back(digits[b >> 4]);
        text.push_back(digits[b & 15]);
    }
    return text;
}

bool FromHex(const std::string& text, std::vector<char>& out)
{
    out.clear();
    int high = -1;
    for (char c : text) {
        int d;
        if (c >= '0' && c <= '9')
            d = c - '0';
        else if (c >= 'A' && c <= 'F')
            d = c - 'A' + 10;
        else if (c >= 'a' && c <= 'f')
            d = c - 'a' + 10;
        else if (c == ' ')
            continue;
        else
            return false;
        if (high < 0) {
            high = d;
        } else {
            out.push_back(static_cast<char>(high * 16 + d));
            high = -1;
        }
    }
    return high < 0;
}

} // namespace ASN1Test
