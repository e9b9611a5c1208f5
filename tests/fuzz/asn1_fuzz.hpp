#pragma once
// Checks shared by the ASN.1 fuzz targets. A decoder that accepts some input
// has produced a value; everything the server later does with that value must
// hold for it: it encodes again, the encoding decodes to an equal value, and
// coding that value once more gives the very same octets (a fixed point).
// The input octets themselves are not compared: PER and BER both admit
// several encodings of one value (padding bits, unknown extensions dropped,
// long length forms). A broken property aborts; libFuzzer keeps the input.

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "asn1/coder_env.hpp"
#include "asn1/modules/LGCP.hpp"
#include "asn1/modules/MON.hpp"
#include "asn1/valid.hpp"
#include "asn1/valuenotation.hpp"

namespace GwFuzz {

[[noreturn]] inline void Fail(const char* what, const ASN1::AbstractData* value = nullptr)
{
    std::fprintf(stderr, "fuzz property broken: %s\n", what);
    if (value != nullptr)
        std::fprintf(stderr, "%s\n", ASN1::asValueNotation(*value).c_str());
    std::abort();
}

inline std::unique_ptr<ASN1::AbstractData> Fresh(const ASN1::AbstractData& like)
{
    return std::unique_ptr<ASN1::AbstractData>(like.info()->create(like.info()));
}

inline bool Decode(int rule, const char* first, const char* last, ASN1::AbstractData& value)
{
    ASN1::CoderEnv env(rule);
    return env.decode(first, last, value, true);
}

inline bool Encode(int rule, const ASN1::AbstractData& value, std::vector<char>& out)
{
    ASN1::CoderEnv env(rule);
    return env.encode(value, std::back_inserter(out));
}

// An alternative past those this schema knows (X.691 23.8) decodes, its
// contents skipped, but cannot be coded again: such values are only decoded.
class UnknownSelections : public ASN1::ConstVisitor {
public:
    bool found = false;

    using ASN1::ConstVisitor::do_visit;
    bool do_visit(const ASN1::CHOICE& value) override
    {
        if (value.isUnknownSelection()) {
            found = true;
            return false;
        }
        return value.alternative() == nullptr || value.alternative()->accept(*this);
    }
    bool do_visit(const ASN1::SEQUENCE_OF_Base& value) override
    {
        for (std::size_t i = 0; i < value.size(); ++i)
            if (!value.elementAt(i).accept(*this))
                return false;
        return true;
    }
    bool do_visit(const ASN1::OpenData& value) override
    {
        return !value.has_data() || value.get_data()->accept(*this);
    }
    bool visitExtensionRoot(const ASN1::SEQUENCE& seq, int index) override { return field(seq, index); }
    bool visitKnownExtension(const ASN1::SEQUENCE& seq, int index) override { return field(seq, index); }

private:
    bool field(const ASN1::SEQUENCE& seq, int index)
    {
        const ASN1::AbstractData* f = seq.fieldAt(static_cast<unsigned>(index));
        return f == nullptr || f->accept(*this);
    }
};

inline bool HasUnknownSelection(const ASN1::AbstractData& value)
{
    UnknownSelections v;
    value.accept(v);
    return v.found;
}

// `decoded` came out of the decoder of `rule`: encode it, decode that into a
// fresh value of its type, compare, and encode again. The decoders keep some
// numbers and lengths outside their bounds for the callers to judge (a slot
// above 1023 is answered with invalidSlot, not dropped), so only a valid
// value must encode; whatever does encode must come back unchanged.
inline void RoundTrip(int rule, const ASN1::AbstractData& decoded)
{
    std::vector<char> first;
    if (!Encode(rule, decoded, first)) {
        if (ASN1::isValid(decoded))
            Fail("a valid decoded value does not encode", &decoded);
        return;
    }
    std::unique_ptr<ASN1::AbstractData> again = Fresh(decoded);
    if (!Decode(rule, first.data(), first.data() + first.size(), *again))
        Fail("our own encoding does not decode", &decoded);
    if (again->do_compare(decoded) != 0)
        Fail("the value changed through its encoding", &decoded);
    std::vector<char> second;
    if (!Encode(rule, *again, second))
        Fail("a re-decoded value does not encode", again.get());
    if (second != first)
        Fail("encoding is not a fixed point", again.get());
}

// The value-notation text of a valid value (what the logs show) parses back
// to an equal value.
inline void TextRoundTrip(const ASN1::AbstractData& decoded)
{
    if (!ASN1::isValid(decoded))
        return;
    std::string text = ASN1::asValueNotation(decoded);
    if (text.empty())
        Fail("a decoded value has no value notation", &decoded);
    std::unique_ptr<ASN1::AbstractData> again = Fresh(decoded);
    if (!ASN1::setFromValueNotation(*again, text)) {
        std::fprintf(stderr, "%s\n", text.c_str());
        Fail("value notation does not parse back");
    }
    if (again->do_compare(decoded) != 0) {
        std::fprintf(stderr, "%s\n", text.c_str());
        Fail("value notation changed the value", again.get());
    }
}

// The protocol message that the first octet of an input picks (an even code,
// so 'L': LGCP::Message; an odd one, 'M': MON::Message), decoded under `rule`
// from the octets after it; null when nothing decodes.
inline std::unique_ptr<ASN1::AbstractData> DecodeEnvelope(int rule, const std::uint8_t* data,
                                                          std::size_t size)
{
    if (size == 0)
        return nullptr;
    std::unique_ptr<ASN1::AbstractData> value;
    if (data[0] & 1)
        value = std::make_unique<MON::Message>();
    else
        value = std::make_unique<LGCP::Message>();
    const char* first = reinterpret_cast<const char*>(data) + 1;
    if (!Decode(rule, first, first + size - 1, *value))
        return nullptr;
    return value;
}

// One aligned-PER message of type M as a peer sends it: what decodes codes
// again to the same value and prints to text that parses back.
template <class M>
int PerMessage(const std::uint8_t* data, std::size_t size)
{
    const char* first = reinterpret_cast<const char*>(data);
    M message;
    if (!Decode(ASN1::CoderEnv::per_Aligned, first, first + size, message) || HasUnknownSelection(message))
        return 0;
    RoundTrip(ASN1::CoderEnv::per_Aligned, message);
    TextRoundTrip(message);
    return 0;
}

} // namespace GwFuzz
