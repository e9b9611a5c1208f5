#include "asn1/ber.hpp"

#include <string>

#include "asn1/valid.hpp"

namespace ASN1 {

namespace {

constexpr std::uint32_t contextClass = 0x80u << 16;

std::uint32_t tagClass(std::uint32_t tag)
{
    return (tag >> 16) & 0xC0u;
}

unsigned lengthOctets(std::uint32_t length)
{
    unsigned n = 0;
    for (; length; length >>= 8)
        ++n;
    return n;
}

unsigned headerLength(std::uint32_t tag, std::uint32_t length)
{
    unsigned n = 1;
    std::uint32_t number = tag & 0xFFFFu;
    if (number >= 31)
        for (; number; number >>= 7)
            ++n;
    return n + 1 + (length < 0x80 ? 0 : lengthOctets(length));
}

// An INTEGER whose type holds unsigned values (a constraint with a
// non-negative lower bound) and whose value is 2^31 or more needs a leading
// zero octet to stay positive (X.690 8.3.2).
bool needsUnsignedForm(const INTEGER& value)
{
    return value.unsignedValues() && value.getValue() < 0;
}

unsigned integerLength(const INTEGER& value)
{
    return needsUnsignedForm(value) ? 5 : getIntegerDataLength(value.getValue());
}

void putInteger(std::vector<char>& out, std::uint32_t bits, unsigned octets)
{
    for (unsigned i = octets; i-- > 0;)
        out.push_back(i < 4 ? static_cast<char>((bits >> (8 * i)) & 0xFF) : 0);
}

std::uint32_t bitStringOctets(const BIT_STRING& value)
{
    return (value.size() + 7) / 8;
}

} // namespace

unsigned getIntegerDataLength(int value)
{
    if (value >= -0x80 && value <= 0x7F)
        return 1;
    if (value >= -0x8000 && value <= 0x7FFF)
        return 2;
    if (value >= -0x800000 && value <= 0x7FFFFF)
        return 3;
    return 4;
}

std::uint32_t getDataLength(const AbstractData& value)
{
    DataLengthCounter counter;
    value.accept(counter);
    return counter.count();
}

std::uint32_t getObjectLength(const AbstractData& value, std::uint32_t tag)
{
    std::uint32_t contents = getDataLength(value);
    if (tag == ownTag)
        tag = value.info()->tag;
    return tag == 0 ? contents : contents + headerLength(tag, contents);
}

std::uint32_t fieldTag(const SequenceTypeInfo& info, unsigned index)
{
    if (info.tags == nullptr)
        return contextClass | index;
    if (info.tags == SEQUENCE::defaultTag)
        return ownTag;
    return info.tags[index];
}

std::uint32_t alternativeTag(const ChoiceTypeInfo& info, unsigned index)
{
    if (info.tags == nullptr)
        return contextClass | index;
    return info.tags[index] == 0 ? ownTag : info.tags[index];
}

// ------------------------------------------------------------ lengths

bool DataLengthCounter::do_visit(const Null&)
{
    return true;
}

bool DataLengthCounter::do_visit(const BOOLEAN&)
{
    count_ += 1;
    return true;
}

bool DataLengthCounter::do_visit(const INTEGER& value)
{
    count_ += integerLength(value);
    return true;
}

bool DataLengthCounter::do_visit(const ENUMERATED& value)
{
    count_ += getIntegerDataLength(value.getValue());
    return true;
}

bool DataLengthCounter::do_visit(const OBJECT_IDENTIFIER& value)
{
    std::vector<char> contents;
    value.encodeCommon(contents);
    count_ += static_cast<std::uint32_t>(contents.size());
    return true;
}

bool DataLengthCounter::do_visit(const BIT_STRING& value)
{
    count_ += bitStringOctets(value) + 1;
    return true;
}

bool DataLengthCounter::do_visit(const OCTET_STRING& value)
{
    count_ += static_cast<std::uint32_t>(value.size());
    return true;
}

bool DataLengthCounter::do_visit(const AbstractString& value)
{
    count_ += static_cast<std::uint32_t>(value.size());
    return true;
}

bool DataLengthCounter::do_visit(const BMPString& value)
{
    count_ += static_cast<std::uint32_t>(2 * value.size());
    return true;
}

bool DataLengthCounter::do_visit(const CHOICE& value)
{
    int sel = value.currentSelection();
    if (sel >= 0 && value.alternative())
        count_ +=
            getObjectLength(*value.alternative(), alternativeTag(*value.info(), static_cast<unsigned>(sel)));
    return true;
}

bool DataLengthCounter::do_visit(const OpenData& value)
{
    if (value.has_data())
        count_ += getObjectLength(*value.get_data(), ownTag);
    else if (value.has_buf())
        count_ += static_cast<std::uint32_t>(value.get_buf()->size());
    return true;
}

bool DataLengthCounter::do_visit(const GeneralizedTime& value)
{
    count_ += static_cast<std::uint32_t>(value.get().size());
    return true;
}

bool DataLengthCounter::do_visit(const SEQUENCE_OF_Base& value)
{
    for (std::size_t i = 0; i < value.size(); ++i)
        count_ += getObjectLength(value.elementAt(i), ownTag);
    return true;
}

bool DataLengthCounter::preVisitExtensionRoots(const SEQUENCE&)
{
    return true;
}

bool DataLengthCounter::visitExtensionRoot(const SEQUENCE& seq, int index)
{
    auto i = static_cast<unsigned>(index);
    if (const AbstractData* field = seq.fieldAt(i))
        count_ += getObjectLength(*field, fieldTag(*seq.info(), i));
    return true;
}

bool DataLengthCounter::visitKnownExtension(const SEQUENCE& seq, int index)
{
    return visitExtensionRoot(seq, index);
}

// ------------------------------------------------------------ encoder

bool BEREncoder::tagged(const AbstractData& value) const
{
    return tag_ == ownTag ? value.info()->tag != 0 : tag_ != 0;
}

void BEREncoder::encodeHeader(const AbstractData& value, bool constructed)
{
    std::uint32_t tag = tag_ == ownTag ? value.info()->tag : tag_;
    tag_ = ownTag;
    if (tag == 0)
        return;
    auto identifier = static_cast<unsigned char>(tagClass(tag) | (constructed ? 0x20 : 0));
    std::uint32_t number = tag & 0xFFFFu;
    if (number < 31) {
        out_.push_back(static_cast<char>(identifier | number));
    } else {
        // X.690 8.1.2.4: base 128, most significant group first.
        out_.push_back(static_cast<char>(identifier | 0x1F));
        unsigned groups = 0;
        for (std::uint32_t n = number; n; n >>= 7)
            ++groups;
        for (unsigned g = groups; g-- > 0;)
            out_.push_back(static_cast<char>(((number >> (7 * g)) & 0x7F) | (g ? 0x80 : 0)));
    }
    std::uint32_t length = getDataLength(value);
    if (length < 0x80) {
        out_.push_back(static_cast<char>(length));
    } else {
        // X.690 8.1.3.5: long form, fewest octets.
        unsigned n = lengthOctets(length);
        out_.push_back(static_cast<char>(0x80 | n));
        for (unsigned i = n; i-- > 0;)
            out_.push_back(static_cast<char>((length >> (8 * i)) & 0xFF));
    }
}

bool BEREncoder::do_visit(const Null& value)
{
    encodeHeader(value, false);
    return true;
}

bool BEREncoder::do_visit(const BOOLEAN& value)
{
    encodeHeader(value, false);
    out_.push_back(value.getValue() ? static_cast<char>(0xFF) : 0);
    return true;
}

bool BEREncoder::do_visit(const INTEGER& value)
{
    encodeHeader(value, false);
    putInteger(out_, static_cast<std::uint32_t>(value.getValue()), integerLength(value));
    return true;
}

bool BEREncoder::do_visit(const ENUMERATED& value)
{
    encodeHeader(value, false);
    putInteger(out_, static_cast<std::uint32_t>(value.getValue()), getIntegerDataLength(value.getValue()));
    return true;
}

bool BEREncoder::do_visit(const OBJECT_IDENTIFIER& value)
{
    encodeHeader(value, false);
    value.encodeCommon(out_);
    return true;
}

// X.690 8.6.2: the initial octet counts the unused bits of the last octet,
// which are written as zero (as DER requires, 11.2.1).
bool BEREncoder::do_visit(const BIT_STRING& value)
{
    encodeHeader(value, false);
    std::uint32_t octets = bitStringOctets(value);
    unsigned unused = (8 - value.size() % 8) % 8;
    out_.push_back(static_cast<char>(unused));
    const std::vector<char>& bytes = value.bytes();
    for (std::uint32_t i = 0; i < octets; ++i) {
        auto octet = static_cast<unsigned char>(i < bytes.size() ? bytes[i] : 0);
        if (i + 1 == octets)
            octet = static_cast<unsigned char>(octet & (0xFF << unused));
        out_.push_back(static_cast<char>(octet));
    }
    return true;
}

bool BEREncoder::do_visit(const OCTET_STRING& value)
{
    encodeHeader(value, false);
    put(value.data(), value.size());
    return true;
}

bool BEREncoder::do_visit(const AbstractString& value)
{
    encodeHeader(value, false);
    put(value.data(), value.size());
    return true;
}

bool BEREncoder::do_visit(const BMPString& value)
{
    encodeHeader(value, false);
    for (wchar_t ch : static_cast<const std::wstring&>(value)) {
        auto code = static_cast<std::uint32_t>(ch);
        out_.push_back(static_cast<char>((code >> 8) & 0xFF));
        out_.push_back(static_cast<char>(code & 0xFF));
    }
    return true;
}

// A tagged CHOICE is explicitly tagged, so its tag is always constructed
// (X.690 8.14.3); the alternative follows under its own tag [n].
bool BEREncoder::do_visit(const CHOICE& value)
{
    int sel = value.currentSelection();
    if (sel < 0 || static_cast<std::uint32_t>(sel) >= value.info()->totalCount || !value.alternative())
        return false;
    encodeHeader(value, true);
    tag_ = alternativeTag(*value.info(), static_cast<unsigned>(sel));
    return value.alternative()->accept(*this);
}

bool BEREncoder::do_visit(const OpenData& value)
{
    if (!value.has_data() && !value.has_buf())
        return false;
    encodeHeader(value, true);
    if (value.has_data())
        return value.get_data()->accept(*this);
    put(value.get_buf()->data(), value.get_buf()->size());
    return true;
}

bool BEREncoder::do_visit(const GeneralizedTime& value)
{
    encodeHeader(value, false);
    std::string text = value.get();
    put(text.data(), text.size());
    return true;
}

bool BEREncoder::do_visit(const SEQUENCE_OF_Base& value)
{
    encodeHeader(value, true);
    for (std::size_t i = 0; i < value.size(); ++i) {
        tag_ = ownTag;
        if (!value.elementAt(i).accept(*this))
            return false;
    }
    return true;
}

bool BEREncoder::preVisitExtensionRoots(const SEQUENCE& seq)
{
    encodeHeader(seq, true);
    return true;
}

bool BEREncoder::visitExtensionRoot(const SEQUENCE& seq, int index)
{
    auto i = static_cast<unsigned>(index);
    const AbstractData* field = seq.fieldAt(i);
    if (!field)
        return false;
    tag_ = fieldTag(*seq.info(), i);
    return field->accept(*this);
}

bool BEREncoder::visitKnownExtension(const SEQUENCE& seq, int index)
{
    return visitExtensionRoot(seq, index);
}

// ------------------------------------------------------------ decoder

bool BERDecoder::decodeHeader(std::uint32_t& tag, bool& constructed, std::uint32_t& length)
{
    if (cur_ >= limit_)
        return false;
    auto identifier = static_cast<unsigned char>(*cur_++);
    constructed = (identifier & 0x20) != 0;
    std::uint32_t number = identifier & 0x1Fu;
    if (number == 0x1F) {
        // X.690 8.1.2.4; numbers above 16 bits do not fit a tag word.
        number = 0;
        unsigned char octet;
        do {
            if (cur_ >= limit_ || number > (0xFFFFu >> 7))
                return false;
            octet = static_cast<unsigned char>(*cur_++);
            number = (number << 7) | (octet & 0x7Fu);
        } while (octet & 0x80);
    }
    tag = (std::uint32_t{identifier & 0xC0u} << 16) | number;

    if (cur_ >= limit_)
        return false;
    auto first = static_cast<unsigned char>(*cur_++);
    if (first < 0x80) {
        length = first;
    } else {
        // X.690 8.1.3.6: the indefinite form (0x80) is not supported, and a
        // length of more than four octets cannot be held.
        unsigned n = first & 0x7Fu;
        if (n == 0 || n > 4 || static_cast<std::size_t>(limit_ - cur_) < n)
            return false;
        length = 0;
        for (unsigned i = 0; i < n; ++i)
            length = (length << 8) | static_cast<unsigned char>(*cur_++);
    }
    return length <= static_cast<std::size_t>(limit_ - cur_);
}

bool BERDecoder::decodeHeader(const AbstractData& value, bool constructed, std::uint32_t& length)
{
    std::uint32_t expected = tag_ == ownTag ? value.info()->tag : tag_;
    tag_ = ownTag;
    const char* start = cur_;
    std::uint32_t tag;
    bool form;
    if (!decodeHeader(tag, form, length) || tag != expected || form != constructed) {
        cur_ = start;
        return false;
    }
    return true;
}

bool BERDecoder::peekTag(std::uint32_t& tag)
{
    const char* start = cur_;
    bool constructed;
    std::uint32_t length;
    bool ok = decodeHeader(tag, constructed, length);
    cur_ = start;
    return ok;
}

bool BERDecoder::isTagged(const AbstractData& value) const
{
    return tag_ == ownTag ? value.info()->tag != 0 : tag_ != 0;
}

bool BERDecoder::do_visit(Null& value)
{
    std::uint32_t length;
    return decodeHeader(value, false, length) && length == 0;
}

bool BERDecoder::do_visit(BOOLEAN& value)
{
    std::uint32_t length;
    if (!decodeHeader(value, false, length) || length == 0)
        return false;
    value.setValue(cur_[length - 1] != 0);
    cur_ += length;
    return true;
}

// X.690 8.3: two's complement, sign-extended.  Five octets are accepted
// only as the leading zero of an unsigned value of 2^31 or more.
bool BERDecoder::integerContents(std::uint32_t length, bool unsignedType, std::uint32_t& out)
{
    if (length == 0)
        return false;
    auto first = static_cast<unsigned char>(cur_[0]);
    if (length > 4) {
        if (length != 5 || !unsignedType || first != 0)
            return false;
        ++cur_;
        --length;
        out = 0;
    } else {
        // A negative number cannot be held by a type whose values are read
        // as unsigned: it would come back as a different number.
        if (unsignedType && (first & 0x80))
            return false;
        out = (first & 0x80) ? 0xFFFFFFFFu : 0;
    }
    for (std::uint32_t i = 0; i < length; ++i)
        out = (out << 8) | static_cast<unsigned char>(*cur_++);
    return true;
}

bool BERDecoder::do_visit(INTEGER& value)
{
    std::uint32_t length, bits;
    if (!decodeHeader(value, false, length) || !integerContents(length, value.unsignedValues(), bits))
        return false;
    value.setValue(static_cast<int>(bits));
    return true;
}

bool BERDecoder::do_visit(ENUMERATED& value)
{
    std::uint32_t length, bits;
    if (!decodeHeader(value, false, length) || !integerContents(length, false, bits))
        return false;
    value.setValue(static_cast<int>(bits));
    return true;
}

bool BERDecoder::do_visit(OBJECT_IDENTIFIER& value)
{
    std::uint32_t length;
    if (!decodeHeader(value, false, length) || !value.decodeCommon(cur_, length))
        return false;
    cur_ += length;
    return true;
}

bool BERDecoder::do_visit(OCTET_STRING& value)
{
    std::uint32_t length;
    if (!decodeHeader(value, false, length))
        return false;
    value.assign(cur_, cur_ + length);
    cur_ += length;
    return true;
}

// X.690 8.6.2.2-3: the unused-bits octet is 0 to 7, and 0 when no octet
// follows.
bool BERDecoder::do_visit(BIT_STRING& value)
{
    std::uint32_t length;
    if (!decodeHeader(value, false, length) || length == 0)
        return false;
    auto unused = static_cast<unsigned char>(cur_[0]);
    if (unused > 7 || (unused != 0 && length == 1))
        return false;
    std::uint32_t octets = length - 1;
    std::uint64_t bits = std::uint64_t{octets} * 8 - unused;
    if (bits > 0xFFFFFFFFu)
        return false;
    value.resize(0);
    value.resize(static_cast<std::uint32_t>(bits));
    std::vector<char>& bytes = value.bytes();
    for (std::uint32_t i = 0; i < octets && i < bytes.size(); ++i)
        bytes[i] = cur_[1 + i];
    if (octets && octets <= bytes.size())
        bytes[octets - 1] = static_cast<char>(bytes[octets - 1] & (0xFF << unused));
    cur_ += length;
    return true;
}

bool BERDecoder::do_visit(AbstractString& value)
{
    std::uint32_t length;
    if (!decodeHeader(value, false, length))
        return false;
    value.assign(cur_, length);
    cur_ += length;
    return true;
}

bool BERDecoder::do_visit(BMPString& value)
{
    std::uint32_t length;
    if (!decodeHeader(value, false, length) || length % 2 != 0)
        return false;
    value.clear();
    for (std::uint32_t i = 0; i < length; i += 2)
        value.push_back(static_cast<wchar_t>((static_cast<unsigned char>(cur_[i]) << 8) |
                                             static_cast<unsigned char>(cur_[i + 1])));
    cur_ += length;
    return true;
}

bool BERDecoder::do_visit(GeneralizedTime& value)
{
    std::uint32_t length;
    if (!decodeHeader(value, false, length) || !value.set(std::string(cur_, length)))
        return false;
    cur_ += length;
    return true;
}

bool BERDecoder::do_visit(CHOICE& value)
{
    if (!enter())
        return false;
    const ChoiceTypeInfo& info = *value.info();
    const char* outer = limit_;
    bool tagged = isTagged(value);
    if (tagged) {
        std::uint32_t length;
        if (!decodeHeader(value, true, length))
            return false;
        limit_ = cur_ + length;
    }
    tag_ = ownTag;

    std::uint32_t tag;
    if (!peekTag(tag))
        return false;
    std::uint32_t index = info.totalCount;
    if (info.tags == nullptr) {
        if (tagClass(tag) == 0x80)
            index = tag & 0xFFFFu;
    } else {
        for (std::uint32_t i = 0; i < info.totalCount; ++i)
            if (info.tags[i] == tag)
                index = i;
        // An untagged CHOICE as alternative 0 takes the tags it does not know.
        if (index == info.totalCount && info.totalCount > 0 && info.tags[0] == 0)
            index = 0;
    }
    if (index >= info.totalCount)
        return false;
    AbstractData* alternative = value.select(static_cast<int>(index));
    if (!alternative)
        return false;
    tag_ = alternativeTag(info, index);
    if (!alternative->accept(*this))
        return false;
    if (tagged) {
        // The explicit tag holds exactly the alternative.
        if (cur_ != limit_)
            return false;
        limit_ = outer;
    }
    leave();
    return true;
}

bool BERDecoder::do_visit(SEQUENCE_OF_Base& value)
{
    std::uint32_t length;
    if (!enter() || !decodeHeader(value, true, length))
        return false;
    value.clear();
    const char* outer = limit_;
    limit_ = cur_ + length;
    while (cur_ < limit_) {
        value.resize(value.size() + 1);
        tag_ = ownTag;
        if (!value.elementAt(value.size() - 1).accept(*this))
            return false;
    }
    limit_ = outer;
    leave();
    return true;
}

// An open type is framed as the whole encoding of its value, inside an
// explicit tag when it is tagged.  During the walk only the octets are kept;
// do_revisit decodes them.
bool BERDecoder::do_visit(OpenData& value)
{
    std::uint32_t tag, length;
    bool constructed;
    if (isTagged(value)) {
        if (!decodeHeader(value, true, length))
            return false;
    } else {
        tag_ = ownTag;
        const char* start = cur_;
        if (!decodeHeader(tag, constructed, length))
            return false;
        length += static_cast<std::uint32_t>(cur_ - start);
        cur_ = start;
    }
    value.grab_buf().assign(cur_, cur_ + length);
    cur_ += length;
    return true;
}

bool BERDecoder::do_revisit(OpenData& value)
{
    if (!value.has_buf() || !value.has_data())
        return false;
    const std::vector<char>& buf = *value.get_buf();
    BERDecoder decoder(buf.data(), buf.data() + buf.size());
    return value.get_data()->accept(decoder);
}

bool BERDecoder::decodeContained(OpenData& value)
{
    if (!value.has_data())
        return false;
    tag_ = ownTag;
    return value.get_data()->accept(*this);
}

bool BERDecoder::do_visit(TypeConstrainedOpenData& value)
{
    if (!value.has_data() && value.info()->containedInfo)
        value.set_data(value.info()->containedInfo->create(value.info()->containedInfo));
    if (!enter())
        return false;
    if (isTagged(value)) {
        std::uint32_t length;
        if (!decodeHeader(value, true, length))
            return false;
        const char* outer = limit_;
        limit_ = cur_ + length;
        if (!decodeContained(value) || cur_ != limit_)
            return false;
        limit_ = outer;
    } else if (!decodeContained(value)) {
        return false;
    }
    leave();
    return true;
}

int BERDecoder::preVisitExtensionRoots(SEQUENCE& seq)
{
    std::uint32_t length;
    if (!enter() || !decodeHeader(seq, true, length))
        return fail;
    limits_.push_back(limit_);
    limit_ = cur_ + length;
    return goOn;
}

// Field `index` is present when the next encoding inside the contents
// carries its tag.  A mandatory field must be there.
int BERDecoder::field(SEQUENCE& seq, int index, int presenceId)
{
    const SequenceTypeInfo& info = *seq.info();
    auto i = static_cast<unsigned>(index);
    bool optional = presenceId >= 0;
    std::uint32_t tag = fieldTag(info, i);
    std::uint32_t expected = tag == ownTag && info.fieldInfos[i] ? info.fieldInfos[i]->tag : tag;
    std::uint32_t next;
    bool present = cur_ < limit_ && peekTag(next) && (expected == 0 || next == expected);
    if (!present) {
        if (!optional)
            return fail;
        seq.removeOptionalField(static_cast<unsigned>(presenceId));
        return goOn;
    }
    if (!info.fieldInfos[i])
        return fail;
    if (optional)
        seq.includeOptionalField(static_cast<unsigned>(presenceId), i);
    tag_ = tag;
    if (!seq.fieldObject(i).accept(*this)) {
        if (optional)
            seq.removeOptionalField(static_cast<unsigned>(presenceId));
        return fail;
    }
    return goOn;
}

int BERDecoder::visitExtensionRoot(SEQUENCE& seq, int index, int optionalId)
{
    return field(seq, index, optionalId);
}

int BERDecoder::preVisitExtensions(SEQUENCE&)
{
    return goOn;
}

int BERDecoder::visitKnownExtension(SEQUENCE& seq, int index, int presenceId)
{
    return field(seq, index, presenceId);
}

// What is left of the contents can only be extension additions that this
// side does not know: skipped in an extensible type, an error in any other.
// A known field out of order would otherwise be dropped without a word.
bool BERDecoder::visitUnknownExtensions(SEQUENCE& seq)
{
    const SequenceTypeInfo& info = *seq.info();
    while (cur_ < limit_) {
        std::uint32_t tag, length;
        bool constructed;
        if (!info.extensible || !decodeHeader(tag, constructed, length))
            return false;
        if (info.tags == nullptr &&
            (tagClass(tag) != 0x80 || (tag & 0xFFFFu) < info.rootFieldCount + info.knownExtensionCount))
            return false;
        cur_ += length;
    }
    limit_ = limits_.back();
    limits_.pop_back();
    leave();
    return true;
}

// ------------------------------------------------------------ entry points

bool encodeBER(const AbstractData& value, std::back_insert_iterator<std::vector<char>> out)
{
    std::vector<char> buffer;
    buffer.reserve(256);
    BEREncoder encoder(buffer);
    if (!value.accept(encoder))
        return false;
    std::copy(buffer.begin(), buffer.end(), out);
    return true;
}

bool decodeBER(const char* first, const char* last, AbstractData& value)
{
    BERDecoder decoder(first, last);
    return value.accept(decoder);
}

} // namespace ASN1
