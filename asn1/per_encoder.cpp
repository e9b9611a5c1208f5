#include <algorithm>

#include "asn1/per.hpp"

namespace ASN1 {

unsigned MaximumStringSize = 16384;
unsigned MaximumArraySize = 128;

namespace {

// lower <= value <= upper, signed when the lower bound is negative.
bool in_range(std::uint32_t value, std::int32_t lower, std::uint32_t upper)
{
    if (lower < 0)
        return static_cast<std::int32_t>(value) >= lower &&
               static_cast<std::int32_t>(value) <= static_cast<std::int32_t>(upper);
    return value >= static_cast<std::uint32_t>(lower) && value <= upper;
}

unsigned octets_for(std::uint32_t value)
{
    unsigned n = 1;
    while (n < 4 && (value >> (8 * n)) != 0)
        ++n;
    return n;
}

// Extension additions [0, span) are coded: one past the last known addition
// that is present.  Bits beyond the known additions are never written.
std::uint32_t known_extension_span(const SEQUENCE& seq)
{
    const std::uint32_t known = seq.info()->knownExtensionCount;
    const std::uint32_t bits = std::min(known, seq.extensionMap().size());
    for (std::uint32_t k = bits; k > 0; --k)
        if (seq.extensionMap().test(k - 1))
            return k;
    return 0;
}

} // namespace

void PEREncoder::encodeSingleBit(bool bit)
{
    encodeMultiBit(bit ? 1u : 0u, 1);
}

void PEREncoder::encodeMultiBit(std::uint32_t value, unsigned count)
{
    while (count > 0) {
        if (bitPosition_ == 8)
            output_->push_back(0);
        const unsigned n = std::min<unsigned>(bitPosition_, count);
        const std::uint32_t bits = (value >> (count - n)) & ((1u << n) - 1u);
        output_->back() =
            static_cast<char>(static_cast<unsigned char>(output_->back()) | (bits << (bitPosition_ - n)));
        bitPosition_ = static_cast<std::uint16_t>(bitPosition_ - n);
        count -= n;
        if (bitPosition_ == 0)
            bitPosition_ = 8;
    }
}

void PEREncoder::encodeBitMap(const unsigned char* bytes, std::uint32_t count)
{
    std::uint32_t i = 0;
    for (; count >= 8; count -= 8)
        encodeMultiBit(bytes[i++], 8);
    if (count > 0)
        encodeMultiBit(static_cast<std::uint32_t>(bytes[i] >> (8 - count)), count);
}

void PEREncoder::encodeBlock(const char* bytes, std::size_t count)
{
    if (count == 0)
        return;
    align();
    output_->insert(output_->end(), bytes, bytes + count);
}

void PEREncoder::encodeByte(unsigned char octet)
{
    align();
    output_->push_back(static_cast<char>(octet));
}

// X.691 11.6: normally small non-negative whole number.
void PEREncoder::encodeSmallUnsigned(std::uint32_t value)
{
    if (value <= 63) {
        encodeMultiBit(value, 7); // 0 bit and six bits of value
        return;
    }
    encodeSingleBit(true);
    const unsigned k = octets_for(value);
    encodeLength(k, 0, UnboundedLength);
    align();
    for (unsigned i = k; i-- > 0;)
        output_->push_back(static_cast<char>(value >> (8 * i)));
}

// X.691 11.5: constrained whole number.
bool PEREncoder::encodeUnsigned(std::uint32_t value, std::int32_t lower, std::uint32_t upper)
{
    if (!in_range(value, lower, upper))
        return false;
    const std::uint32_t offset = value - static_cast<std::uint32_t>(lower);
    const std::uint32_t range = upper - static_cast<std::uint32_t>(lower) + 1u; // 0: 2^32
    if (range == 1)
        return true;
    const unsigned bits = CountBits(range);
    if (!aligned_ || (range != 0 && range <= 255)) {
        encodeMultiBit(offset, bits); // X.691 11.5.6 bit-field case
        return true;
    }
    if (bits <= 8) { // X.691 11.5.7.2: one-octet case
        encodeByte(static_cast<unsigned char>(offset));
        return true;
    }
    if (bits <= 16) { // X.691 11.5.7.3: two-octet case
        align();
        output_->push_back(static_cast<char>(offset >> 8));
        output_->push_back(static_cast<char>(offset));
        return true;
    }
    // X.691 11.5.7.4: indefinite-length case, octet count first.
    const unsigned k = octets_for(offset);
    if (!encodeLength(k, 1, (bits + 7) / 8))
        return false;
    align();
    for (unsigned i = k; i-- > 0;)
        output_->push_back(static_cast<char>(offset >> (8 * i)));
    return true;
}

// X.691 11.9: length determinant (no fragmentation).
bool PEREncoder::encodeLength(std::uint32_t length, std::uint32_t lower, std::uint32_t upper)
{
    if (length < lower || length > upper)
        return false;
    if (!aligned_ && upper != UnboundedLength) {
        encodeMultiBit(length - lower, CountBits(upper - lower + 1));
        return true;
    }
    if (upper <= 65535)
        return encodeUnsigned(length, static_cast<std::int32_t>(lower), upper);
    align();
    if (length < 128) { // X.691 11.9.3.6
        output_->push_back(static_cast<char>(length));
        return true;
    }
    if (length < 16384) { // X.691 11.9.3.7
        output_->push_back(static_cast<char>(0x80 | (length >> 8)));
        output_->push_back(static_cast<char>(length & 0xFF));
        return true;
    }
    return false;
}

bool PEREncoder::encodeConstraint(const ConstrainedObject& object, std::uint32_t value)
{
    switch (object.constraint()) {
    case ExtensibleRange: {
        const bool outside = !in_range(value, object.lowerLimit(), object.upperLimit());
        encodeSingleBit(outside);
        return outside;
    }
    case RangeConstraint:
        return false;
    default:
        return true;
    }
}

bool PEREncoder::encodeConstrainedLength(const ConstrainedObject& object, std::uint32_t count, bool* sized)
{
    const bool unbounded = encodeConstraint(object, count);
    if (sized != nullptr)
        *sized = !unbounded;
    if (unbounded)
        return encodeLength(count, 0, UnboundedLength);
    return encodeLength(count, static_cast<std::uint32_t>(object.lowerLimit()), object.upperLimit());
}

// X.691 11.2: open type, its contents always in the aligned variant.
bool PEREncoder::encodeAnyType(const AbstractData* value)
{
    std::vector<char> contents;
    contents.reserve(256);
    if (value != nullptr) {
        PEREncoder inner(contents, true);
        if (!value->accept(inner))
            return false;
    }
    if (contents.empty())
        contents.push_back(0); // X.691 11.1.3
    if (!encodeLength(static_cast<std::uint32_t>(contents.size()), 0, UnboundedLength))
        return false;
    encodeBlock(contents.data(), contents.size());
    return true;
}

bool PEREncoder::do_visit(const Null&)
{
    return true;
}

bool PEREncoder::do_visit(const BOOLEAN& value)
{
    encodeSingleBit(value.getValue());
    return true;
}

// X.691 13.2.6: two's complement in the fewest octets, after its length.
bool PEREncoder::encodeUnconstrainedInteger(std::int32_t value)
{
    const auto v = static_cast<std::uint32_t>(value);
    const unsigned bits = value < 0 ? CountBits(0u - v) + 1 : CountBits(v + 1u) + 1;
    const unsigned k = value == 0 ? 1 : std::min(4u, (bits + 7) / 8);
    if (!encodeLength(k, 0, UnboundedLength))
        return false;
    align();
    for (unsigned i = k; i-- > 0;)
        output_->push_back(static_cast<char>(v >> (8 * i)));
    return true;
}

bool PEREncoder::do_visit(const INTEGER& value)
{
    const auto v = static_cast<std::uint32_t>(value.getValue());
    switch (value.constraint()) {
    case RangeConstraint:
        return encodeUnsigned(v, value.lowerLimit(), value.upperLimit());
    case ExtensibleRange:
        if (!encodeConstraint(value, v))
            return encodeUnsigned(v, value.lowerLimit(), value.upperLimit());
        return encodeUnconstrainedInteger(value.getValue());
    default:
        return encodeUnconstrainedInteger(value.getValue());
    }
}

bool PEREncoder::do_visit(const ENUMERATED& value)
{
    const int v = value.getValue();
    const int max = value.getMaximum();
    if (v < 0)
        return false;
    if (v <= max) {
        if (value.extendable())
            encodeSingleBit(false);
        return encodeUnsigned(static_cast<std::uint32_t>(v), 0, static_cast<std::uint32_t>(max));
    }
    if (!value.extendable())
        return false;
    encodeSingleBit(true);
    encodeSmallUnsigned(static_cast<std::uint32_t>(v) + 1u);
    return encodeUnsigned(static_cast<std::uint32_t>(v), 0, static_cast<std::uint32_t>(v));
}

bool PEREncoder::do_visit(const OBJECT_IDENTIFIER& value)
{
    std::vector<char> contents;
    value.encodeCommon(contents);
    if (contents.size() > 255)
        return false;
    if (!encodeUnsigned(static_cast<std::uint32_t>(contents.size()), 0, 255))
        return false;
    align(); // the unaligned decoder reads the contents from an octet start too
    encodeBlock(contents.data(), contents.size());
    return true;
}

bool PEREncoder::do_visit(const BIT_STRING& value)
{
    const std::uint32_t bits = value.size();
    if (!encodeConstrainedLength(value, bits))
        return false;
    if (bits == 0)
        return true;
    const auto* bytes = reinterpret_cast<const unsigned char*>(value.bytes().data());
    if (aligned_ && bits > 16) {
        align();
        const std::size_t whole = bits / 8;
        output_->insert(output_->end(), value.bytes().begin(),
                        value.bytes().begin() + static_cast<std::ptrdiff_t>(whole));
        // The unused low bits of the last octet are sent as zero.
        if (bits % 8 != 0)
            output_->push_back(static_cast<char>(bytes[whole] & (0xFF00u >> (bits % 8))));
        return true;
    }
    encodeBitMap(bytes, bits);
    return true;
}

bool PEREncoder::do_visit(const OCTET_STRING& value)
{
    const auto count = static_cast<std::uint32_t>(value.size());
    if (!encodeConstrainedLength(value, count))
        return false;
    if (count <= 2) {
        for (char c : value)
            encodeMultiBit(static_cast<unsigned char>(c), 8);
        return true;
    }
    encodeBlock(value.data(), value.size());
    return true;
}

// X.691 30.5.7: the characters start at an octet when they may take more
// than 16 bits.
bool PEREncoder::encodeStringLength(const ConstrainedObject& value, std::uint32_t count, unsigned alignedBits,
                                    unsigned unalignedBits, unsigned& bits, bool& wide)
{
    bool sized = false;
    if (!encodeConstrainedLength(value, count, &sized))
        return false;
    bits = aligned_ ? alignedBits : unalignedBits;
    wide = !sized || std::uint64_t{value.upperLimit()} * bits > 16;
    return true;
}

bool PEREncoder::do_visit(const AbstractString& value)
{
    const StringTypeInfo* info = value.info();
    unsigned b = 0;
    bool wide = false;
    if (!encodeStringLength(value, static_cast<std::uint32_t>(value.size()), info->alignedBits,
                            info->unalignedBits, b, wide))
        return false;
    if (wide && b == 8) {
        encodeBlock(value.data(), value.size());
        return true;
    }
    if (wide && aligned_)
        align();
    const bool ownCode = info->canonicalBits <= b && info->canonicalBits > 4;
    for (char c : value) {
        const auto code = static_cast<unsigned char>(c);
        if (ownCode) {
            if (b < 8 && (code >> b) != 0)
                return false;
            encodeMultiBit(code, b);
        } else {
            const char* set = info->charSet;
            const char* hit = std::find(set, set + info->charSetSize, c);
            if (hit == set + info->charSetSize)
                return false;
            encodeMultiBit(static_cast<std::uint32_t>(hit - set), b);
        }
    }
    return true;
}

bool PEREncoder::do_visit(const BMPString& value)
{
    const BMPStringTypeInfo* info = value.info();
    unsigned b = 0;
    bool wide = false;
    if (!encodeStringLength(value, static_cast<std::uint32_t>(value.size()), info->alignedBits,
                            info->unalignedBits, b, wide))
        return false;
    if (wide && aligned_)
        align();
    for (wchar_t c : value)
        encodeMultiBit(static_cast<std::uint32_t>(c) - info->firstChar, b);
    return true;
}

bool PEREncoder::do_visit(const CHOICE& value)
{
    const ChoiceTypeInfo* info = value.info();
    const int selection = value.currentSelection();
    if (selection < 0 || static_cast<std::uint32_t>(selection) >= info->totalCount ||
        value.alternative() == nullptr)
        return false;
    const auto index = static_cast<std::uint32_t>(selection);
    if (info->extensible) {
        const bool extension = index >= info->rootCount;
        encodeSingleBit(extension);
        if (extension) { // X.691 23.8
            encodeSmallUnsigned(index - info->rootCount);
            return encodeAnyType(value.alternative());
        }
    } else if (index >= info->rootCount) {
        return false;
    }
    if (info->rootCount > 1 && !encodeUnsigned(index, 0, info->rootCount - 1))
        return false;
    return value.alternative()->accept(*this);
}

bool PEREncoder::do_visit(const OpenData& value)
{
    return encodeAnyType(value.get_data());
}

bool PEREncoder::do_visit(const GeneralizedTime& value)
{
    const std::string text = value.get();
    if (!encodeLength(static_cast<std::uint32_t>(text.size()), 0, UnboundedLength))
        return false;
    encodeBlock(text.data(), text.size());
    return true;
}

bool PEREncoder::do_visit(const SEQUENCE_OF_Base& value)
{
    if (!encodeConstrainedLength(value, static_cast<std::uint32_t>(value.size())))
        return false;
    for (std::size_t i = 0; i < value.size(); ++i)
        if (!value.elementAt(i).accept(*this))
            return false;
    return true;
}

// X.691 19.1-19.3: extension bit, then the optional-presence bitmap.
bool PEREncoder::preVisitExtensionRoots(const SEQUENCE& seq)
{
    if (seq.info()->extensible)
        encodeSingleBit(known_extension_span(seq) != 0);
    const BitMap& optional = seq.optionalMap();
    encodeBitMap(optional.data(), std::min(optional.size(), seq.info()->optionalCount));
    return true;
}

bool PEREncoder::visitExtensionRoot(const SEQUENCE& seq, int index)
{
    const AbstractData* field = seq.fieldAt(static_cast<unsigned>(index));
    return field != nullptr && field->accept(*this);
}

// X.691 19.7-19.8: count of presence bits, the bits, then the additions.
bool PEREncoder::preVisitExtensions(const SEQUENCE& seq)
{
    if (!seq.info()->extensible)
        return true;
    const std::uint32_t span = known_extension_span(seq);
    if (span == 0)
        return true;
    encodeSmallUnsigned(span - 1);
    encodeBitMap(seq.extensionMap().data(), span);
    return true;
}

bool PEREncoder::visitKnownExtension(const SEQUENCE& seq, int index)
{
    if (!seq.info()->extensible)
        return true;
    const AbstractData* field = seq.fieldAt(static_cast<unsigned>(index));
    return field != nullptr && encodeAnyType(field);
}

} // namespace ASN1
