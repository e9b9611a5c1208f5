#include <algorithm>
#include <bit>
#include <cstring>

#include "asn1/per.hpp"

namespace ASN1 {

unsigned MaximumStringSize = 16384;
unsigned MaximumArraySize = 128;

namespace {

unsigned octets_for(std::uint32_t value)
{
    unsigned n = 1;
    while (n < 4 && (value >> (8 * n)) != 0)
        ++n;
    return n;
}

} // namespace

PEREncoder::PEREncoder(std::vector<char>& output, bool aligned) : PEREncoder(output, aligned, Growing{})
{}

PEREncoder::PEREncoder(std::vector<char>& output, bool aligned, Growing)
    : vector_(&output), vectorStart_(output.size()), aligned_(aligned)
{
    base_ = cur_ = end_ = output.data() + output.size();
}

bool PEREncoder::append(const AbstractData& value, std::vector<char>& out, bool aligned)
{
    // Most messages fit on the stack: coded there and copied once, the
    // vector is not grown (and zero-filled) ahead of the writes.
    {
        char local[1024];
        PEREncoder encoder(local, local + sizeof local, aligned);
        std::size_t octets = 0;
        if (encoder.encodeTop(value) && encoder.finish(octets)) {
            out.insert(out.end(), local, local + octets);
            return true;
        }
        if (!encoder.overflow_)
            return false;
    }
    const std::size_t start = out.size();
    PEREncoder encoder(out, aligned, Growing{});
    std::size_t octets = 0;
    if (!encoder.encodeTop(value) || !encoder.finish(octets)) {
        out.resize(start);
        return false;
    }
    return true;
}

bool PEREncoder::encode(const AbstractData& value, char* first, char* last, bool aligned, std::size_t& octets)
{
    PEREncoder encoder(first, last, aligned);
    return encoder.encodeTop(value) && encoder.finish(octets);
}

void PEREncoder::cutVector()
{
    vector_->resize(vectorStart_ + written());
    base_ = vector_->data() + vectorStart_;
    cur_ = end_ = vector_->data() + vector_->size();
}

void PEREncoder::flushOctetsNearEnd(unsigned whole)
{
    bits_ -= whole * 8;
    if (room(whole)) {
        for (unsigned i = 0; i < whole; ++i)
            cur_[i] = static_cast<char>(acc_ >> (bits_ + 8 * (whole - 1 - i)));
        cur_ += whole;
    }
    acc_ &= (std::uint64_t{1} << bits_) - 1u;
}

bool PEREncoder::grow(std::size_t count)
{
    if (vector_ == nullptr) {
        overflow_ = true;
        return false;
    }
    const std::size_t at = static_cast<std::size_t>(cur_ - vector_->data());
    vector_->resize(std::max(vector_->size() * 2, at + count + 64));
    base_ = vector_->data() + vectorStart_;
    cur_ = vector_->data() + at;
    end_ = vector_->data() + vector_->size();
    return true;
}

void PEREncoder::encodeBitMap(const unsigned char* bytes, std::uint32_t count)
{
    std::uint32_t i = 0;
    if (count > 0 && count < 32) {
        // The usual presence map: its octets gathered into one write.
        std::uint32_t v = 0;
        for (std::uint32_t k = 0; k < (count + 7) / 8; ++k)
            v |= std::uint32_t{bytes[k]} << (24 - 8 * k);
        encodeMultiBit(v >> (32 - count), count);
        return;
    }
    for (; count >= 32; count -= 32, i += 4)
        encodeMultiBit((std::uint32_t{bytes[i]} << 24) | (std::uint32_t{bytes[i + 1]} << 16) |
                           (std::uint32_t{bytes[i + 2]} << 8) | bytes[i + 3],
                       32);
    for (; count >= 8; count -= 8)
        encodeMultiBit(bytes[i++], 8);
    if (count > 0)
        encodeMultiBit(static_cast<std::uint32_t>(bytes[i] >> (8 - count)), count);
}

// encodeBlock's case of more octets than its inline copy takes, or of a
// buffer near its end (the accumulator flushed).
void PEREncoder::encodeLongBlock(const char* bytes, std::size_t count)
{
    if (room(count)) {
        std::memcpy(cur_, bytes, count);
        cur_ += count;
    }
}

void PEREncoder::encodeByte(unsigned char octet)
{
    align();
    encodeMultiBit(octet, 8);
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
    encodeMultiBit(value, 8 * k);
}

// X.691 11.5.7 (the bit-field case is inline in encodeUnsigned).
bool PEREncoder::encodeUnsignedOctets(std::uint32_t offset, std::uint32_t range)
{
    const unsigned bits = CountBits(range);
    if (bits <= 8) { // X.691 11.5.7.2: one-octet case
        encodeByte(static_cast<unsigned char>(offset));
        return true;
    }
    if (bits <= 16) { // X.691 11.5.7.3: two-octet case
        align();
        encodeMultiBit(offset, 16);
        return true;
    }
    // X.691 11.5.7.4: indefinite-length case, octet count first.
    const unsigned k = octets_for(offset);
    if (!encodeLength(k, 1, (bits + 7) / 8))
        return false;
    align();
    encodeMultiBit(offset, 8 * k);
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
    return encodeOctetLength(length);
}

bool PEREncoder::encodeConstraint(const ConstrainedObject& object, std::uint32_t value)
{
    switch (object.constraint()) {
    case ExtensibleRange: {
        const bool outside = !inRange(value, object.lowerLimit(), object.upperLimit());
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

// X.691 11.2: open type, its contents always in the aligned variant. The
// contents are encoded in place after room for a two-octet length, which
// shrinks to one octet by moving them back when they are short.
bool PEREncoder::encodeAnyType(const AbstractData* value)
{
    alignAndFlush();
    if (!room(2))
        return true; // the caller's buffer is full: finish() reports it
    const std::size_t lengthAt = written();
    cur_ += 2;
    if (value != nullptr) {
        const bool outer = aligned_;
        aligned_ = true;
        const bool ok = value->accept(*this);
        aligned_ = outer;
        if (!ok)
            return false;
    }
    alignAndFlush();
    if (overflow_)
        return true;
    std::size_t length = written() - lengthAt - 2;
    if (length == 0) { // X.691 11.1.3
        if (!room(1))
            return true;
        *cur_++ = 0;
        length = 1;
    }
    char* at = base_ + lengthAt;
    if (length < 128) { // X.691 11.9.3.6
        std::memmove(at + 1, at + 2, length);
        at[0] = static_cast<char>(length);
        --cur_;
    } else if (length < 16384) { // X.691 11.9.3.7
        at[0] = static_cast<char>(0x80 | (length >> 8));
        at[1] = static_cast<char>(length & 0xFF);
    } else {
        return false;
    }
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
    encodeMultiBit(v, 8 * k);
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
        const std::size_t whole = bits / 8;
        encodeBlock(value.bytes().data(), whole);
        // The unused low bits of the last octet are sent as zero.
        if (bits % 8 != 0)
            encodeByte(static_cast<unsigned char>(bytes[whole] & (0xFF00u >> (bits % 8))));
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
    if (const PerCoders* coders = value.info()->per)
        return coders->encode(*this, value);
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
        encodeSingleBit(extensionSpan(seq) != 0);
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
    const std::uint32_t span = extensionSpan(seq);
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

std::uint32_t PEREncoder::extensionSpanSlow(const SEQUENCE& seq, std::uint32_t size)
{
    const std::uint32_t bits = std::min(seq.info()->knownExtensionCount, size);
    for (std::uint32_t k = bits; k > 0; --k)
        if (seq.extensionMap().test(k - 1))
            return k;
    return 0;
}

std::uint32_t PEREncoder::encodeSequencePreambleSlow(const SEQUENCE& seq)
{
    preVisitExtensionRoots(seq);
    std::uint32_t present = 0;
    const std::uint32_t optional = seq.info()->optionalCount;
    for (std::uint32_t id = 0; id < optional; ++id)
        if (seq.hasOptionalField(id))
            present |= 1u << (optional - 1 - id);
    return present;
}

// The additions of a SEQUENCE whose extension map is not empty.
bool PEREncoder::encodeAdditions(const SEQUENCE& seq)
{
    if (!preVisitExtensions(seq))
        return false;
    const SequenceTypeInfo* info = seq.info();
    // Presence ids of the additions follow those of the optional root fields.
    unsigned presenceId = info->optionalCount;
    for (unsigned i = info->rootFieldCount; i < seq.fieldCount(); ++i, ++presenceId)
        if (seq.hasOptionalField(presenceId) && !visitKnownExtension(seq, static_cast<int>(i)))
            return false;
    return true;
}

bool PEREncoder::visit(const SEQUENCE& seq)
{
    if (const PerCoders* coders = seq.info()->per)
        return coders->encode(*this, seq);
    return walk(*this, seq);
}

} // namespace ASN1
