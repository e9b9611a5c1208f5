#include "asn1/coder_test_util.hpp"

#include <algorithm>
#include <memory>

namespace coder_test {

using namespace ASN1;

std::vector<char> bytes(std::initializer_list<int> octets)
{
    std::vector<char> out;
    for (int o : octets)
        out.push_back(static_cast<char>(o));
    return out;
}

std::string hex(const std::vector<char>& data)
{
    static const char digits[] = "0123456789ABCDEF";
    std::string out;
    for (char c : data) {
        auto o = static_cast<unsigned char>(c);
        if (!out.empty())
            out += ' ';
        out += digits[o >> 4];
        out += digits[o & 15];
    }
    return out;
}

bool encode(const AbstractData& value, int rule, std::vector<char>& out)
{
    CoderEnv env(rule);
    return ASN1::encode(value, &env, std::back_inserter(out));
}

bool decode(const std::vector<char>& data, int rule, AbstractData& value)
{
    CoderEnv env(rule);
    return ASN1::decode(data.data(), data.data() + data.size(), &env, value, true);
}

namespace {

class Filler : public Visitor {
public:
    Filler(std::mt19937& rng, const RandomOptions& options) : rng_(rng), options_(options) {}

    bool do_visit(Null&) override { return true; }
    bool do_visit(BOOLEAN& v) override
    {
        v.setValue(pick(0, 1) == 1);
        return true;
    }
    bool do_visit(INTEGER& v) override
    {
        const ConstrainedTypeInfo& info = *v.info();
        std::int64_t lo, hi;
        if (info.kind == NoConstraint) {
            lo = INT32_MIN;
            hi = INT32_MAX;
        } else if (info.lowerLimit < 0) {
            lo = info.lowerLimit;
            hi = static_cast<std::int32_t>(info.upperLimit);
        } else {
            lo = info.lowerLimit;
            hi = info.kind == LowerBoundOnly ? 0xFFFFFFFFll : std::int64_t{info.upperLimit};
        }
        std::int64_t x;
        switch (pick(0, 3)) { // the edges are where the coders differ
        case 0:
            x = lo;
            break;
        case 1:
            x = hi;
            break;
        default:
            x = std::uniform_int_distribution<std::int64_t>(lo, hi)(rng_);
        }
        v.setValue(static_cast<int>(static_cast<std::uint32_t>(x)));
        return true;
    }
    bool do_visit(ENUMERATED& v) override
    {
        // A named value, so that value notation can name it.
        const EnumeratedTypeInfo& info = *v.info();
        std::vector<int> values;
        int next = 0;
        for (std::uint32_t i = 0; i < info.nameCount; ++i) {
            std::string entry = info.names[i];
            auto eq = entry.find('=');
            int value = eq == std::string::npos ? next : std::stoi(entry.substr(eq + 1));
            if (value >= 0 && value <= info.maxEnumValue)
                values.push_back(value);
            next = value + 1;
        }
        v.setValue(values.empty() ? 0 : values[pick(0, static_cast<int>(values.size()) - 1)]);
        return true;
    }
    bool do_visit(OBJECT_IDENTIFIER& v) override
    {
        v.arcs().clear();
        v.arcs().push_back(static_cast<std::uint32_t>(pick(0, 2)));
        v.arcs().push_back(static_cast<std::uint32_t>(pick(0, 39)));
        for (int n = pick(0, 3); n > 0; --n)
            v.arcs().push_back(static_cast<std::uint32_t>(rng_()));
        return true;
    }
    bool do_visit(OCTET_STRING& v) override
    {
        v.resize(size(*v.info(), 12));
        for (char& c : v)
            c = static_cast<char>(pick(0, 255));
        return true;
    }
    bool do_visit(BIT_STRING& v) override
    {
        std::uint32_t n = size(*v.info(), 40);
        v.resize(0);
        v.resize(n);
        for (std::uint32_t i = 0; i < n; ++i)
            v.set(i, pick(0, 1) == 1);
        return true;
    }
    bool do_visit(AbstractString& v) override
    {
        const StringTypeInfo& info = *v.info();
        std::uint32_t n = size(info, 12);
        v.clear();
        for (std::uint32_t i = 0; i < n; ++i)
            v += info.charSet[pick(0, static_cast<int>(info.charSetSize) - 1)];
        return true;
    }
    bool do_visit(BMPString& v) override
    {
        std::uint32_t n = size(*v.info(), 8);
        v.clear();
        for (std::uint32_t i = 0; i < n; ++i)
            v.push_back(static_cast<wchar_t>(pick(0, 1) ? pick(0x20, 0x7E) : pick(0, 0xFFFF)));
        return true;
    }
    bool do_visit(CHOICE& v) override
    {
        const ChoiceTypeInfo& info = *v.info();
        if (!enter())
            return false;
        for (int attempt = 0; attempt < 8; ++attempt) {
            int index = pick(0, static_cast<int>(info.totalCount) - 1);
            if (!options_.openTypes && isOpen(info.selectionInfos[index]))
                continue;
            AbstractData* alternative = v.select(index);
            bool ok = alternative && alternative->accept(*this);
            leave();
            return ok;
        }
        return false;
    }
    bool do_visit(SEQUENCE_OF_Base& v) override
    {
        if (!enter())
            return false;
        v.clear();
        v.resize(depth_ > options_.maxDepth ? 0 : size(*v.info(), 4));
        for (std::size_t i = 0; i < v.size(); ++i)
            if (!v.elementAt(i).accept(*this))
                return false;
        leave();
        return true;
    }
    bool do_visit(OpenData& v) override
    {
        v.set_data(new INTEGER(pick(-1000, 1000)));
        return true;
    }
    bool do_revisit(OpenData&) override { return true; }
    bool do_visit(TypeConstrainedOpenData& v) override
    {
        if (!v.has_data())
            v.set_data(v.info()->containedInfo->create(v.info()->containedInfo));
        return v.get_data()->accept(*this);
    }
    bool do_visit(GeneralizedTime& v) override
    {
        v = GeneralizedTime(pick(1, 9999), pick(1, 12), pick(1, 28), pick(0, 23), pick(0, 59), pick(0, 59),
                            pick(0, 1) ? pick(1, 999) : 0, pick(0, 1) ? pick(-720, 720) : 0, pick(0, 1) == 1);
        return true;
    }

    int preVisitExtensionRoots(SEQUENCE&) override { return enter() ? goOn : fail; }
    int visitExtensionRoot(SEQUENCE& seq, int index, int id) override { return field(seq, index, id); }
    int preVisitExtensions(SEQUENCE&) override { return goOn; }
    int visitKnownExtension(SEQUENCE& seq, int index, int id) override { return field(seq, index, id); }
    bool visitUnknownExtensions(SEQUENCE&) override
    {
        leave();
        return true;
    }

private:
    int pick(int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng_); }
    bool enter() { return ++depth_ < 40; }
    void leave() { --depth_; }
    static bool isOpen(const TypeInfo* info)
    {
        if (info->tag != 0 || !info->create)
            return false;
        std::unique_ptr<AbstractData> probe(info->create(info));
        return dynamic_cast<OpenData*>(probe.get()) && !dynamic_cast<TypeConstrainedOpenData*>(probe.get());
    }
    std::uint32_t size(const ConstrainedTypeInfo& info, std::uint32_t most)
    {
        std::uint32_t lo = info.kind == NoConstraint ? 0 : static_cast<std::uint32_t>(info.lowerLimit);
        std::uint32_t hi = info.kind == RangeConstraint || info.kind == ExtensibleRange
                               ? std::min(info.upperLimit, lo + most)
                               : lo + most;
        return static_cast<std::uint32_t>(pick(static_cast<int>(lo), static_cast<int>(hi)));
    }
    int field(SEQUENCE& seq, int index, int id)
    {
        const TypeInfo* info = seq.info()->fieldInfos[index];
        if (id >= 0) {
            bool present =
                depth_ <= options_.maxDepth && pick(0, 2) != 0 && (options_.openTypes || !isOpen(info));
            if (!present) {
                seq.removeOptionalField(static_cast<unsigned>(id));
                return goOn;
            }
            seq.includeOptionalField(static_cast<unsigned>(id), static_cast<unsigned>(index));
        }
        return seq.fieldObject(static_cast<unsigned>(index)).accept(*this) ? goOn : fail;
    }

    std::mt19937& rng_;
    const RandomOptions& options_;
    int depth_ = 0;
};

} // namespace

void randomize(AbstractData& value, std::mt19937& rng, const RandomOptions& options)
{
    Filler filler(rng, options);
    value.accept(filler);
}

} // namespace coder_test
