#include <algorithm>
#include <bit>
#include <cstring>
#include <string_view>

#include "asn1/per.hpp"

namespace ASN1 {

void PERDecoder::setPosition(const char* position)
{
    const auto* p = reinterpret_cast<const unsigned char*>(position);
    pos_ = static_cast<std::size_t>(std::clamp(p, first_, end_) - first_) * 8;
}

bool PERDecoder::decodeBitMap(unsigned char* bytes, std::uint32_t count)
{
    if (count > getBitsLeft())
        return false;
    std::uint32_t i = 0;
    std::uint32_t v = 0;
    if (count > 0 && count <= 32) {
        // The usual presence map: one read, spread over its octets.
        decodeMultiBit(count, v);
        v <<= 32 - count;
        for (std::uint32_t left = count + 8; left > 8; left -= 8, v <<= 8)
            bytes[i++] = static_cast<unsigned char>(v >> 24);
        return true;
    }
    for (; count >= 32; count -= 32) {
        decodeMultiBit(32, v);
        bytes[i++] = static_cast<unsigned char>(v >> 24);
        bytes[i++] = static_cast<unsigned char>(v >> 16);
        bytes[i++] = static_cast<unsigned char>(v >> 8);
        bytes[i++] = static_cast<unsigned char>(v);
    }
    for (; count >= 8; count -= 8) {
        decodeMultiBit(8, v);
        bytes[i++] = static_cast<unsigned char>(v);
    }
    if (count > 0) {
        decodeMultiBit(count, v);
        bytes[i] = static_cast<unsigned char>(v << (8 - count));
    }
    return true;
}

std::uint64_t PERDecoder::shortWindow() const
{
    std::uint64_t window = 0;
    for (const unsigned char* p = first_; p != end_; ++p)
        window |= std::uint64_t{*p} << (56 - 8 * (p - first_));
    return window;
}

std::size_t PERDecoder::decodeBlock(char* bytes, std::size_t count)
{
    if (count == 0)
        return 0;
    byteAlign();
    const std::size_t n = std::min(count, static_cast<std::size_t>(end_ - current()));
    if (n > 0)
        std::memcpy(bytes, current(), n);
    pos_ += 8 * n;
    return n;
}

namespace {
// `count` octets (at most 4) from the next octet boundary, as one number.
bool read_octets(PERDecoder& d, unsigned count, std::uint32_t& out)
{
    if (count == 0) {
        out = 0;
        return true;
    }
    if (count > 4)
        return false;
    d.byteAlign();
    return d.decodeMultiBit(8 * count, out);
}
} // namespace

// X.691 11.6
bool PERDecoder::decodeSmallUnsigned(std::uint32_t& out)
{
    if (atEnd())
        return false;
    std::uint32_t v = 0;
    if (!decodeMultiBit(1, v))
        return false;
    if (v == 0)
        return decodeMultiBit(6, out);
    std::uint32_t k = 0;
    if (!decodeLength(0, UnboundedLength, k) || k > 4)
        return false;
    if (k == 0) {
        out = 0;
        return true;
    }
    return read_octets(*this, k, out);
}

// X.691 11.5.7 (the bit-field case is inline in decodeUnsigned).
bool PERDecoder::decodeUnsignedOctets(std::int32_t lower, std::uint32_t range, std::uint32_t& out)
{
    const unsigned bits = CountBits(range);
    std::uint32_t offset = 0;
    if (bits <= 8) {
        if (!read_octets(*this, 1, offset))
            return false;
    } else if (bits <= 16) {
        if (!read_octets(*this, 2, offset))
            return false;
    } else {
        std::uint32_t k = 0;
        if (!decodeLength(1, (bits + 7) / 8, k) || !read_octets(*this, k, offset))
            return false;
    }
    out = offset + static_cast<std::uint32_t>(lower);
    return true;
}

// X.691 11.9 (no fragments: a length beginning with the bits 1 1 fails).
bool PERDecoder::decodeLength(std::uint32_t lower, std::uint32_t upper, std::uint32_t& out)
{
    if (!aligned_ && upper != UnboundedLength) {
        std::uint32_t v = 0;
        if (!decodeMultiBit(CountBits(upper - lower + 1), v))
            return false;
        out = v + lower;
        return true;
    }
    if (upper <= 65535)
        return decodeUnsigned(static_cast<std::int32_t>(lower), upper, out);
    byteAlign();
    if (atEnd())
        return false;
    std::uint32_t v = 0;
    if (!decodeMultiBit(1, v))
        return false;
    if (v == 0)
        return decodeMultiBit(7, out);
    if (!decodeMultiBit(1, v) || v != 0)
        return false;
    return decodeMultiBit(14, out);
}

bool PERDecoder::decodeConstrainedLength(const ConstrainedObject& object, std::uint32_t& out, bool* sized)
{
    bool bounded = false;
    switch (object.constraint()) {
    case ExtensibleRange:
        if (atEnd())
            return false;
        bounded = !decodeSingleBit();
        break;
    case RangeConstraint:
        bounded = true;
        break;
    default:
        // Semi-constrained counts are written unbounded; read them so.
        break;
    }
    if (sized != nullptr)
        *sized = bounded;
    if (!bounded)
        return decodeLength(0, UnboundedLength, out);
    return decodeLength(static_cast<std::uint32_t>(object.lowerLimit()), object.upperLimit(), out);
}

bool PERDecoder::decodeOpenType(AbstractData* value)
{
    std::uint32_t length = 0;
    if (!decodeLength(0, UnboundedLength, length))
        return false;
    byteAlign();
    if (length > static_cast<std::size_t>(end_ - current()))
        return false;
    const char* start = position();
    // X.691 11.2: the contents are read by their own bounded, aligned reader.
    PERDecoder inner(start, start + length, env_, true);
    if (value != nullptr && !value->accept(inner))
        return false;
    pos_ += 8 * std::size_t{length};
    return true;
}

bool PERDecoder::skipOpenType()
{
    return decodeOpenType(nullptr);
}

bool PERDecoder::do_visit(Null&)
{
    return true;
}

namespace {
// X.691 13.2.6: a length, then the value in two's complement.
bool decode_unconstrained(PERDecoder& d, ConstraintType kind, INTEGER& value)
{
    std::uint32_t length = 0;
    if (!d.decodeLength(0, UnboundedLength, length) || length == 0 || length > 4)
        return false;
    std::uint32_t v = 0;
    if (!read_octets(d, length, v))
        return false;
    // Semi-constrained values are not negative; the others carry a sign bit.
    if (kind != LowerBoundOnly && length < 4 && (v & (0x80u << (8 * (length - 1)))) != 0)
        v |= ~0u << (8 * length);
    value.setValue(static_cast<int>(v));
    return true;
}
} // namespace

bool PERDecoder::do_visit(INTEGER& value)
{
    const ConstraintType kind = value.constraint();
    if (kind != RangeConstraint && kind != ExtensibleRange)
        return decode_unconstrained(*this, kind, value);
    if (kind == ExtensibleRange) {
        if (atEnd())
            return false;
        if (decodeSingleBit())
            return decode_unconstrained(*this, kind, value);
    }
    std::uint32_t v = 0;
    if (!decodeUnsigned(value.lowerLimit(), value.upperLimit(), v))
        return false;
    value.setValue(static_cast<int>(v));
    return true;
}

bool PERDecoder::decodeEnumeratedExtension(ENUMERATED& value)
{
    std::uint32_t small = 0;
    if (!decodeSmallUnsigned(small) || small == 0)
        return false;
    std::uint32_t v = 0;
    // The value model holds an int: a larger number is no enumerator (it
    // would read back negative, which no encoder writes).
    if (!decodeUnsigned(0, small - 1, v) || v > 0x7FFFFFFFu)
        return false;
    value.setValue(static_cast<int>(v));
    return true;
}

bool PERDecoder::do_visit(ENUMERATED& value)
{
    const int max = value.getMaximum();
    if (value.extendable()) {
        if (atEnd())
            return false;
        if (decodeSingleBit())
            return decodeEnumeratedExtension(value);
    }
    if (max < 0)
        return false;
    std::uint32_t v = 0;
    if (!decodeUnsigned(0, static_cast<std::uint32_t>(max), v))
        return false;
    value.setValue(static_cast<int>(v));
    return true;
}

bool PERDecoder::do_visit(OBJECT_IDENTIFIER& value)
{
    std::uint32_t length = 0;
    if (!decodeUnsigned(0, 255, length))
        return false;
    byteAlign();
    char contents[255];
    if (decodeBlock(contents, length) != length)
        return false;
    return value.decodeCommon(contents, length);
}

bool PERDecoder::do_visit(OCTET_STRING& value)
{
    std::uint32_t count = 0;
    if (!decodeConstrainedLength(value, count) || count > MaximumStringSize)
        return false;
    if (count <= 2) {
        char bytes[2];
        for (std::uint32_t i = 0; i < count; ++i) {
            std::uint32_t v = 0;
            if (!decodeMultiBit(8, v))
                return false;
            bytes[i] = static_cast<char>(v);
        }
        value.assign(bytes, bytes + count);
        return true;
    }
    byteAlign();
    if (count > static_cast<std::size_t>(end_ - current()))
        return false;
    value.resize(count);
    return decodeBlock(value.data(), count) == count;
}

bool PERDecoder::do_visit(BIT_STRING& value)
{
    std::uint32_t bits = 0;
    if (!decodeConstrainedLength(value, bits) || bits > MaximumStringSize)
        return false;
    if (aligned_ && bits > 16)
        byteAlign();
    if (bits > getBitsLeft())
        return false;
    value.resize(0);
    value.resize(bits);
    if (bits == 0)
        return true;
    if (aligned_ && bits > 16) {
        const std::size_t octets = (bits + 7) / 8;
        if (decodeBlock(value.bytes().data(), octets) != octets)
            return false;
        if (bits % 8 != 0)
            value.bytes().back() &= static_cast<char>(0xFF00u >> (bits % 8));
        return true;
    }
    return decodeBitMap(reinterpret_cast<unsigned char*>(value.bytes().data()), bits);
}

bool PERDecoder::decodeStringLength(const ConstrainedObject& value, unsigned alignedBits,
                                    unsigned unalignedBits, std::uint32_t& count, unsigned& bits, bool& wide)
{
    bool sized = false;
    if (!decodeConstrainedLength(value, count, &sized) || count > MaximumStringSize)
        return false;
    bits = aligned_ ? alignedBits : unalignedBits;
    wide = !sized || std::uint64_t{value.upperLimit()} * bits > 16;
    return true;
}

template <class String, class Convert>
bool PERDecoder::decodeCharacters(String& value, std::uint32_t count, unsigned bits, Convert convert)
{
    if (std::uint64_t{count} * bits > getBitsLeft())
        return false;
    value.resize(count);
    for (std::uint32_t i = 0; i < count; ++i) {
        std::uint32_t code = 0;
        if (!decodeMultiBit(bits, code) || !convert(code, value[i]))
            return false;
    }
    return true;
}

bool PERDecoder::decodeString(AbstractString& value)
{
    const StringTypeInfo* info = value.info();
    std::uint32_t count = 0;
    unsigned b = 0;
    bool wide = false;
    if (!decodeStringLength(value, info->alignedBits, info->unalignedBits, count, b, wide))
        return false;
    if (wide && b == 8) {
        byteAlign();
        if (count > static_cast<std::size_t>(end_ - current())) {
            value.clear();
            return false;
        }
        value.assign(position(), count);
        pos_ += 8 * std::size_t{count};
        return true;
    }
    if (wide && aligned_)
        byteAlign();
    const bool ownCode = info->canonicalBits <= b && info->canonicalBits > 4;
    return decodeCharacters(value, count, b, [info, ownCode](std::uint32_t code, char& c) {
        if (!ownCode && code >= info->charSetSize)
            return false;
        c = ownCode ? static_cast<char>(code) : info->charSet[code];
        return true;
    });
}

bool PERDecoder::do_visit(BMPString& value)
{
    const BMPStringTypeInfo* info = value.info();
    std::uint32_t count = 0;
    unsigned b = 0;
    bool wide = false;
    if (!decodeStringLength(value, info->alignedBits, info->unalignedBits, count, b, wide))
        return false;
    if (wide && aligned_)
        byteAlign();
    return decodeCharacters(value, count, b, [info](std::uint32_t code, wchar_t& c) {
        c = static_cast<wchar_t>(code + info->firstChar);
        return true;
    });
}

int PERDecoder::decodeChoicePreamle(CHOICE& choice, memento_type& memento)
{
    const ChoiceTypeInfo* info = choice.info();
    memento = memento_type{};
    std::uint32_t index = 0;
    // A CHOICE that writes no bits of its own may stand at the end of input.
    if ((info->extensible || info->rootCount > 1) && atEnd())
        return -1;
    if (info->extensible && decodeSingleBit())
        return decodeExtensionIndex(info->rootCount, memento);
    if (info->rootCount > 1) {
        if (!decodeUnsigned(0, info->rootCount - 1, index))
            return -1;
        if (index >= info->rootCount)
            return -1;
    }
    return static_cast<int>(std::min<std::uint32_t>(index, 0x7FFFFFFF));
}

// X.691 23.8: extension alternative as an open type.
int PERDecoder::decodeExtensionIndex(std::uint32_t rootCount, memento_type& memento)
{
    std::uint32_t index = 0;
    if (!decodeSmallUnsigned(index))
        return -1;
    if (index > 0xFFFFFFFFu - rootCount)
        return -1;
    index += rootCount;
    std::uint32_t length = 0;
    if (!decodeLength(0, UnboundedLength, length))
        return -1;
    byteAlign();
    if (length > static_cast<std::size_t>(end_ - current()))
        return -1;
    memento.position = current() + length;
    memento.bitPosition = 8;
    return static_cast<int>(std::min<std::uint32_t>(index, 0x7FFFFFFF));
}

bool PERDecoder::do_visit(CHOICE& value)
{
    if (const PerCoders* coders = value.info()->per)
        return coders->decode(*this, value);
    memento_type memento;
    const int index = decodeChoicePreamle(value, memento);
    if (index < 0)
        return false;
    if (memento.position == nullptr)
        return selectForDecode(value, index) && value.alternative()->accept(*this);
    return decodeChoiceExtension(value, index, memento);
}

bool PERDecoder::decodeChoiceExtension(CHOICE& value, int index, const memento_type& memento)
{
    // An extension alternative: decoded from exactly its open type's octets.
    const char* start = position();
    const char* stop = reinterpret_cast<const char*>(memento.position);
    if (static_cast<std::uint32_t>(index) >= value.info()->totalCount) {
        // Unknown to this system: skipped, the selection marked unknown.
        value.setSelection(CHOICE::unknownSelection_, nullptr);
    } else {
        if (!selectForDecode(value, index))
            return false;
        PERDecoder inner(start, stop, env_, true);
        if (!value.alternative()->accept(inner))
            return false;
    }
    setPosition(stop);
    return true;
}

bool PERDecoder::do_visit(SEQUENCE_OF_Base& value)
{
    std::uint32_t count = 0;
    if (!decodeConstrainedLength(value, count) || count > MaximumArraySize)
        return false;
    value.resize(count);
    for (std::uint32_t i = 0; i < count; ++i) {
        if (!value.elementAt(i).accept(*this)) {
            value.erase(i, value.size());
            return false;
        }
    }
    return true;
}

bool PERDecoder::do_visit(OpenData& value)
{
    std::uint32_t length = 0;
    if (!decodeLength(0, UnboundedLength, length) || length > MaximumStringSize)
        return false;
    byteAlign();
    if (length > static_cast<std::size_t>(end_ - current()))
        return false;
    std::vector<char>& buf = value.grab_buf();
    buf.assign(current(), current() + length);
    pos_ += 8 * std::size_t{length};
    return true;
}

bool PERDecoder::do_revisit(OpenData& value)
{
    if (!value.has_buf() || !value.has_data())
        return false;
    const std::vector<char>& buf = *value.get_buf();
    PERDecoder inner(buf.data(), buf.data() + buf.size(), env_, true);
    return value.get_data()->accept(inner);
}

bool PERDecoder::do_visit(TypeConstrainedOpenData& value)
{
    if (!value.has_data()) {
        const TypeInfo* contained = value.info()->containedInfo;
        if (contained == nullptr)
            return do_visit(static_cast<OpenData&>(value));
        value.set_data(contained->create(contained));
    }
    return decodeOpenType(value.get_data());
}

bool PERDecoder::do_visit(GeneralizedTime& value)
{
    std::uint32_t length = 0;
    if (!decodeLength(0, UnboundedLength, length) || length > MaximumStringSize)
        return false;
    byteAlign();
    if (length > static_cast<std::size_t>(end_ - current()))
        return false;
    const std::string_view text(position(), length);
    pos_ += 8 * std::size_t{length};
    GeneralizedTime decoded;
    if (!decoded.set(text))
        return false;
    value = decoded;
    return true;
}

// X.691 19: extension bit and optional-presence bitmap.
int PERDecoder::preVisitExtensionRoots(SEQUENCE& seq)
{
    const SequenceTypeInfo* info = seq.info();
    bool extension = false;
    if (info->extensible) {
        if (atEnd())
            return fail;
        extension = decodeSingleBit();
    }
    BitMap& optional = seq.optionalMap();
    if (optional.size() != info->optionalCount)
        optional.resize(info->optionalCount);
    if (!decodeBitMap(optional.data(), info->optionalCount))
        return fail;
    if (seq.extensionMap().size() != 0)
        seq.extensionMap().resize(0);
    return extension ? goOn : rootOnly;
}

int PERDecoder::visitExtensionRoot(SEQUENCE& seq, int index, int optionalId)
{
    if (optionalId != -1 && !seq.hasOptionalField(static_cast<unsigned>(optionalId)))
        return goOn;
    const SequenceTypeInfo* info = seq.info();
    AbstractData* field = seq.fieldAt(static_cast<unsigned>(index));
    if (field == nullptr) {
        const TypeInfo* fieldInfo = info->fieldInfos[index];
        if (fieldInfo == nullptr)
            return fail;
        field = &seq.fieldObject(static_cast<unsigned>(index));
    }
    return field->accept(*this) ? goOn : fail;
}

int PERDecoder::preVisitExtensions(SEQUENCE& seq)
{
    std::uint32_t small = 0;
    if (!decodeSmallUnsigned(small))
        return fail;
    const std::uint64_t n = std::uint64_t{small} + 1;
    if (n > MaximumArraySize)
        return fail;
    unsigned char bits[(256 + 7) / 8] = {};
    const auto count = static_cast<std::uint32_t>(n);
    if (count > 256 || !decodeBitMap(bits, count))
        return fail;
    // Only the known additions keep their presence bits; the others are
    // skipped and never re-encoded.
    const std::uint32_t known = std::min(count, seq.info()->knownExtensionCount);
    BitMap& map = seq.extensionMap();
    map.resize(known);
    for (std::uint32_t k = 0; k < known; ++k)
        if (bits[k / 8] & (0x80u >> (k % 8)))
            map.set(k);
    unknownExtensions_ = 0;
    for (std::uint32_t k = known; k < count; ++k)
        if (bits[k / 8] & (0x80u >> (k % 8)))
            ++unknownExtensions_;
    return goOn;
}

int PERDecoder::visitKnownExtension(SEQUENCE& seq, int index, int presenceId)
{
    if (!seq.hasOptionalField(static_cast<unsigned>(presenceId)))
        return goOn;
    AbstractData* field = seq.fieldAt(static_cast<unsigned>(index));
    if (field == nullptr && seq.info()->fieldInfos[index] != nullptr)
        field = &seq.fieldObject(static_cast<unsigned>(index));
    return decodeOpenType(field) ? goOn : fail;
}

bool PERDecoder::visitUnknownExtensions(SEQUENCE&)
{
    for (; unknownExtensions_ > 0; --unknownExtensions_)
        if (!skipOpenType())
            return false;
    return true;
}

bool PERDecoder::decodeSequenceExtensions(SEQUENCE& seq)
{
    const int e = preVisitExtensions(seq);
    if (e != goOn)
        return e != fail;
    const SequenceTypeInfo* info = seq.info();
    // Presence ids of the additions follow those of the optional root fields.
    auto presenceId = static_cast<int>(info->optionalCount);
    for (unsigned i = info->rootFieldCount; i < seq.fieldCount(); ++i) {
        const int k = visitKnownExtension(seq, static_cast<int>(i), presenceId++);
        if (k != goOn)
            return k != fail;
    }
    return visitUnknownExtensions(seq);
}

bool PERDecoder::visit(SEQUENCE& seq)
{
    if (const PerCoders* coders = seq.info()->per)
        return coders->decode(*this, seq);
    return walk(*this, seq);
}

} // namespace ASN1
