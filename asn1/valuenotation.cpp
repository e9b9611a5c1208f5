#include "asn1/valuenotation.hpp"

#include <cctype>
#include <climits>
#include <cwchar>
#include <sstream>

namespace ASN1 {

namespace {

const char hexDigits[] = "0123456789abcdef";

bool isIdentChar(int ch)
{
    return std::isalnum(ch) || ch == '-' || ch == '_';
}

int hexValue(char ch)
{
    if (ch >= '0' && ch <= '9')
        return ch - '0';
    if (ch >= 'a' && ch <= 'f')
        return ch - 'a' + 10;
    if (ch >= 'A' && ch <= 'F')
        return ch - 'A' + 10;
    return -1;
}

// Writes a character string between double quotes; a quote inside is
// doubled (X.680 41.8) so that the text reads back as the same string.
void putQuoted(std::ostream& strm, const std::string& text)
{
    strm << '"';
    for (char ch : text) {
        if (ch == '"')
            strm << '"';
        strm << ch;
    }
    strm << '"';
}

// The digits of a bstring or hstring as bits, first bit first.
bool digitsToBits(const std::string& digits, char base, std::vector<bool>& bits)
{
    for (char ch : digits) {
        if (base == 'B') {
            if (ch != '0' && ch != '1')
                return false;
            bits.push_back(ch == '1');
        } else {
            int v = hexValue(ch);
            if (v < 0)
                return false;
            for (int b = 3; b >= 0; --b)
                bits.push_back(((v >> b) & 1) != 0);
        }
    }
    return true;
}

} // namespace

// ---------------------------------------------------------------- encoder

void AVNEncoder::indent(int n)
{
    for (int i = 0; i < n; ++i)
        strm_ << ' ';
}

bool AVNEncoder::do_visit(const Null&)
{
    strm_ << "NULL";
    return good();
}

bool AVNEncoder::do_visit(const BOOLEAN& value)
{
    strm_ << (value.getValue() ? "TRUE" : "FALSE");
    return good();
}

bool AVNEncoder::do_visit(const INTEGER& value)
{
    if (value.unsignedValues())
        strm_ << static_cast<std::uint32_t>(value.getValue());
    else
        strm_ << value.getValue();
    return good();
}

bool AVNEncoder::do_visit(const IntegerWithNamedNumber& value)
{
    std::string name;
    if (!value.getName(name))
        return do_visit(static_cast<const INTEGER&>(value));
    strm_ << name;
    return good();
}

bool AVNEncoder::do_visit(const ENUMERATED& value)
{
    std::string name;
    if (value.getName(name))
        strm_ << name;
    else
        strm_ << value.getValue();
    return good();
}

bool AVNEncoder::do_visit(const OBJECT_IDENTIFIER& value)
{
    strm_ << "{ ";
    for (std::uint32_t arc : value.arcs())
        strm_ << arc << ' ';
    strm_ << '}';
    return good();
}

bool AVNEncoder::do_visit(const BIT_STRING& value)
{
    strm_ << '\'';
    for (std::uint32_t i = 0; i < value.size(); ++i)
        strm_ << (value[i] ? '1' : '0');
    strm_ << "'B";
    return good();
}

// Hexadecimal digits are written by hand so that the stream's own number
// formatting is never changed.
void AVNEncoder::printOctets(const char* bytes, std::size_t count)
{
    strm_ << '\'';
    for (std::size_t i = 0; i < count; ++i) {
        auto octet = static_cast<unsigned char>(bytes[i]);
        if (i)
            strm_ << ' ';
        strm_ << hexDigits[octet >> 4] << hexDigits[octet & 0x0f];
    }
    strm_ << "'H";
}

bool AVNEncoder::do_visit(const OCTET_STRING& value)
{
    printOctets(value.data(), value.size());
    return good();
}

bool AVNEncoder::do_visit(const AbstractString& value)
{
    putQuoted(strm_, value);
    return good();
}

bool AVNEncoder::do_visit(const BMPString& value)
{
    std::string text;
    bool converted = true;
    std::mbstate_t state{};
    char buf[MB_LEN_MAX];
    for (wchar_t ch : static_cast<const std::wstring&>(value)) {
        std::size_t n = std::wcrtomb(buf, ch, &state);
        if (n == static_cast<std::size_t>(-1)) {
            converted = false;
            break;
        }
        text.append(buf, n);
    }
    if (converted) {
        putQuoted(strm_, text);
        return good();
    }
    // X.680 41.8: the character as a Quadruple {group, plane, row, cell}.
    strm_ << '{';
    bool first = true;
    for (wchar_t ch : static_cast<const std::wstring&>(value)) {
        auto code = static_cast<std::uint32_t>(ch) & 0xFFFFu;
        if (!first)
            strm_ << ", ";
        first = false;
        strm_ << "{ 0, 0, " << (code >> 8) << ", " << (code & 0xFF) << '}';
    }
    strm_ << '}';
    return good();
}

bool AVNEncoder::do_visit(const CHOICE& value)
{
    const ChoiceTypeInfo& info = *value.info();
    int sel = value.currentSelection();
    if (sel < 0 || static_cast<std::uint32_t>(sel) >= info.totalCount || !value.alternative())
        return false;
    strm_ << info.selectionNames[sel] << " : ";
    return good() && value.alternative()->accept(*this);
}

bool AVNEncoder::do_visit(const OpenData& value)
{
    if (value.has_data())
        return value.get_data()->accept(*this);
    if (value.has_buf()) {
        printOctets(value.get_buf()->data(), value.get_buf()->size());
        return good();
    }
    return false;
}

bool AVNEncoder::do_visit(const GeneralizedTime& value)
{
    strm_ << '"' << value.get() << '"';
    return good();
}

bool AVNEncoder::do_visit(const SEQUENCE_OF_Base& value)
{
    strm_ << "{\n";
    indent_ += 2;
    for (std::size_t i = 0; i < value.size(); ++i) {
        if (i)
            strm_ << ",\n";
        indent(indent_);
        if (!good() || !value.elementAt(i).accept(*this))
            return false;
    }
    indent_ -= 2;
    if (value.size())
        strm_ << '\n';
    indent(indent_);
    strm_ << '}';
    return good();
}

bool AVNEncoder::preVisitExtensionRoots(const SEQUENCE&)
{
    strm_ << "{\n";
    indent_ += 2;
    printed_.push_back(false);
    return good();
}

bool AVNEncoder::visitExtensionRoot(const SEQUENCE& seq, int index)
{
    const AbstractData* field = seq.fieldAt(static_cast<unsigned>(index));
    if (!field)
        return false;
    if (printed_.back())
        strm_ << ",\n";
    printed_.back() = true;
    indent(indent_);
    strm_ << seq.info()->fieldNames[index] << ' ';
    return good() && field->accept(*this);
}

bool AVNEncoder::preVisitExtensions(const SEQUENCE&)
{
    return good();
}

bool AVNEncoder::visitKnownExtension(const SEQUENCE& seq, int index)
{
    return visitExtensionRoot(seq, index);
}

bool AVNEncoder::afterVisitSequence(const SEQUENCE&)
{
    indent_ -= 2;
    if (printed_.back())
        strm_ << '\n';
    printed_.pop_back();
    indent(indent_);
    strm_ << '}';
    return good();
}

// ---------------------------------------------------------------- decoder

int AVNDecoder::peekChar()
{
    for (;;) {
        int ch = strm_.peek();
        if (ch == std::char_traits<char>::eof() || !std::isspace(ch))
            return ch;
        strm_.get();
    }
}

bool AVNDecoder::expect(char ch)
{
    if (peekChar() != static_cast<unsigned char>(ch))
        return false;
    strm_.get();
    return true;
}

bool AVNDecoder::readIdentifier(std::string& out)
{
    out.clear();
    int ch = peekChar();
    while (ch != std::char_traits<char>::eof() && isIdentChar(ch)) {
        out += static_cast<char>(strm_.get());
        ch = strm_.peek();
    }
    return !out.empty();
}

bool AVNDecoder::readNumber(std::int64_t& out)
{
    bool negative = false;
    if (peekChar() == '-') {
        negative = true;
        strm_.get();
    }
    std::int64_t v = 0;
    int digits = 0;
    for (int ch = strm_.peek(); ch != std::char_traits<char>::eof() && std::isdigit(ch); ch = strm_.peek()) {
        strm_.get();
        v = v * 10 + (ch - '0');
        if (v > 0xFFFFFFFFll) // beyond any 32-bit value
            return false;
        ++digits;
    }
    out = negative ? -v : v;
    return digits > 0;
}

// The characters between double quotes, a doubled quote standing for one.
bool AVNDecoder::readQuoted(std::string& out)
{
    if (!expect('"'))
        return false;
    out.clear();
    for (;;) {
        int ch = strm_.get();
        if (ch == std::char_traits<char>::eof())
            return false;
        if (ch == '"') {
            if (strm_.peek() != '"')
                return true;
            strm_.get();
        }
        out += static_cast<char>(ch);
    }
}

// 'digits'B or 'digits'H; white space between the apostrophes is ignored.
bool AVNDecoder::readBinaryOrHex(std::string& digits, char& base)
{
    if (!expect('\''))
        return false;
    digits.clear();
    for (;;) {
        int ch = strm_.get();
        if (ch == std::char_traits<char>::eof())
            return false;
        if (ch == '\'')
            break;
        if (!std::isspace(ch))
            digits += static_cast<char>(ch);
    }
    int b = strm_.get();
    if (b != 'B' && b != 'H')
        return false;
    base = static_cast<char>(b);
    return true;
}

bool AVNDecoder::enter()
{
    return ++depth_ <= maxDepth;
}

bool AVNDecoder::do_visit(Null&)
{
    std::string word;
    return readIdentifier(word) && word == "NULL";
}

bool AVNDecoder::do_visit(BOOLEAN& value)
{
    std::string word;
    if (!readIdentifier(word))
        return false;
    if (word == "TRUE")
        value.setValue(true);
    else if (word == "FALSE")
        value.setValue(false);
    else
        return false;
    return true;
}

bool AVNDecoder::do_visit(INTEGER& value)
{
    std::int64_t v;
    if (!readNumber(v))
        return false;
    if (value.unsignedValues()) {
        if (v < 0 || v > 0xFFFFFFFFll)
            return false;
        value.setValue(static_cast<int>(static_cast<std::uint32_t>(v)));
    } else {
        if (v < INT32_MIN || v > INT32_MAX)
            return false;
        value.setValue(static_cast<int>(v));
    }
    return true;
}

bool AVNDecoder::do_visit(IntegerWithNamedNumber& value)
{
    int ch = peekChar();
    if (ch == '-' || (ch != std::char_traits<char>::eof() && std::isdigit(ch)))
        return do_visit(static_cast<INTEGER&>(value));
    std::string name;
    return readIdentifier(name) && value.setFromName(name);
}

// A name, or the number of a value that has none (which is how such a value
// prints); a value that has a name is written by it, as X.680 writes
// every enumerated value.
bool AVNDecoder::do_visit(ENUMERATED& value)
{
    int ch = peekChar();
    if (ch == '-' || (ch != std::char_traits<char>::eof() && std::isdigit(ch))) {
        std::int64_t v;
        if (!readNumber(v) || v < INT32_MIN || v > INT32_MAX)
            return false;
        const int before = value.getValue();
        value.setValue(static_cast<int>(v));
        std::string name;
        if (value.getName(name)) {
            value.setValue(before);
            return false;
        }
        return true;
    }
    std::string name;
    return readIdentifier(name) && value.setFromName(name);
}

bool AVNDecoder::do_visit(OBJECT_IDENTIFIER& value)
{
    if (!expect('{'))
        return false;
    value.arcs().clear();
    for (;;) {
        int ch = peekChar();
        if (ch == '}') {
            strm_.get();
            return true;
        }
        std::int64_t v;
        if (ch != std::char_traits<char>::eof() && std::isalpha(ch)) {
            std::string name;
            // NameAndNumberForm: name(number)
            if (!readIdentifier(name) || strm_.peek() != '(')
                return false;
            strm_.get();
            if (!readNumber(v) || !expect(')'))
                return false;
        } else if (!readNumber(v)) {
            return false;
        }
        if (v < 0 || v > 0xFFFFFFFFll)
            return false;
        value.arcs().push_back(static_cast<std::uint32_t>(v));
    }
}

bool AVNDecoder::do_visit(OCTET_STRING& value)
{
    std::string digits;
    char base;
    std::vector<bool> bits;
    if (!readBinaryOrHex(digits, base) || !digitsToBits(digits, base, bits))
        return false;
    value.assign((bits.size() + 7) / 8, 0);
    for (std::size_t i = 0; i < bits.size(); ++i)
        if (bits[i])
            value[i / 8] = static_cast<char>(value[i / 8] | (0x80 >> (i % 8)));
    return true;
}

bool AVNDecoder::do_visit(BIT_STRING& value)
{
    std::string digits;
    char base;
    std::vector<bool> bits;
    if (!readBinaryOrHex(digits, base) || !digitsToBits(digits, base, bits))
        return false;
    value.resize(0);
    value.resize(static_cast<std::uint32_t>(bits.size()));
    for (std::size_t i = 0; i < bits.size(); ++i)
        value.set(static_cast<std::uint32_t>(i), bits[i]);
    return true;
}

bool AVNDecoder::do_visit(AbstractString& value)
{
    std::string text;
    if (!readQuoted(text))
        return false;
    value.assign(text);
    return true;
}

bool AVNDecoder::do_visit(BMPString& value)
{
    value.clear();
    if (peekChar() == '{') {
        // Quadruples { group, plane, row, cell }
        strm_.get();
        if (expect('}'))
            return true;
        do {
            std::int64_t q[4];
            if (!expect('{'))
                return false;
            for (int i = 0; i < 4; ++i)
                if ((i && !expect(',')) || !readNumber(q[i]) || q[i] < 0 || q[i] > 255)
                    return false;
            if (!expect('}') || q[0] != 0 || q[1] != 0)
                return false;
            value.push_back(static_cast<wchar_t>(q[2] * 256 + q[3]));
        } while (expect(','));
        return expect('}');
    }
    std::string text;
    if (!readQuoted(text))
        return false;
    std::mbstate_t state{};
    const char* p = text.data();
    std::size_t left = text.size();
    while (left) {
        wchar_t ch;
        std::size_t n = std::mbrtowc(&ch, p, left, &state);
        if (n == static_cast<std::size_t>(-1) || n == static_cast<std::size_t>(-2))
            return false;
        if (n == 0) // the null character itself
            n = 1;
        if (static_cast<std::uint32_t>(ch) > 0xFFFF)
            return false;
        value.push_back(ch);
        p += n;
        left -= n;
    }
    return true;
}

bool AVNDecoder::do_visit(CHOICE& value)
{
    if (!enter())
        return false;
    const ChoiceTypeInfo& info = *value.info();
    std::string name;
    if (!readIdentifier(name) || !expect(':'))
        return false;
    for (std::uint32_t i = 0; i < info.totalCount; ++i) {
        if (name == info.selectionNames[i]) {
            AbstractData* alternative = value.select(static_cast<int>(i));
            if (!alternative || !alternative->accept(*this))
                return false;
            leave();
            return true;
        }
    }
    return false;
}

bool AVNDecoder::do_visit(SEQUENCE_OF_Base& value)
{
    if (!enter() || !expect('{'))
        return false;
    value.clear();
    if (!expect('}')) {
        do {
            value.resize(value.size() + 1);
            if (!value.elementAt(value.size() - 1).accept(*this))
                return false;
        } while (expect(','));
        if (!expect('}'))
            return false;
    }
    leave();
    return true;
}

// An open type's contents are not described by any descriptor: there is
// nothing to parse them into.
bool AVNDecoder::do_visit(OpenData&)
{
    return false;
}

bool AVNDecoder::do_revisit(OpenData&)
{
    return false;
}

bool AVNDecoder::do_visit(TypeConstrainedOpenData& value)
{
    if (!value.has_data()) {
        const TypeInfo* contained = value.info()->containedInfo;
        if (!contained)
            return false;
        value.set_data(contained->create(contained));
    }
    return value.get_data()->accept(*this);
}

bool AVNDecoder::do_visit(GeneralizedTime& value)
{
    std::string text;
    return readQuoted(text) && value.set(text);
}

int AVNDecoder::preVisitExtensionRoots(SEQUENCE&)
{
    if (!enter() || !expect('{'))
        return fail;
    seqs_.push_back({std::string(), expect('}')});
    return goOn;
}

// Fields come in field order.  A name that is not this field's leaves an
// optional field absent and is matched against the next field; a mandatory
// field must be there, also after the closing brace.
int AVNDecoder::field(SEQUENCE& seq, int index, int presenceId, int next)
{
    const SequenceTypeInfo& info = *seq.info();
    bool optional = presenceId >= 0;
    if (!seqs_.back().closed) {
        if (seqs_.back().name.empty() && !readIdentifier(seqs_.back().name))
            return fail;
        if (seqs_.back().name == info.fieldNames[index]) {
            seqs_.back().name.clear();
            if (!info.fieldInfos[index])
                return fail;
            if (optional)
                seq.includeOptionalField(static_cast<unsigned>(presenceId), static_cast<unsigned>(index));
            if (!seq.fieldObject(static_cast<unsigned>(index)).accept(*this))
                return fail;
            if (expect('}'))
                seqs_.back().closed = true;
            else if (!expect(','))
                return fail;
            return next;
        }
    }
    if (!optional)
        return fail;
    seq.removeOptionalField(static_cast<unsigned>(presenceId));
    return next;
}

int AVNDecoder::visitExtensionRoot(SEQUENCE& seq, int index, int optionalId)
{
    return field(seq, index, optionalId, goOn);
}

int AVNDecoder::preVisitExtensions(SEQUENCE&)
{
    return goOn;
}

int AVNDecoder::visitKnownExtension(SEQUENCE& seq, int index, int presenceId)
{
    return field(seq, index, presenceId, goOn);
}

// Every field has been offered: text left before the closing brace names no
// field of this type (or one out of order).
bool AVNDecoder::visitUnknownExtensions(SEQUENCE&)
{
    bool closed = seqs_.back().closed;
    seqs_.pop_back();
    leave();
    return closed;
}

// ---------------------------------------------------------------- glue

std::string asValueNotation(const AbstractData& value)
{
    std::ostringstream strm;
    AVNEncoder encoder(strm);
    // What was printed before the fault is no value's text.
    if (!value.accept(encoder))
        return {};
    return strm.str();
}

std::ios_base::iostate print_on(std::ostream& strm, const AbstractData& value)
{
    AVNEncoder encoder(strm);
    value.accept(encoder);
    return strm.bad() ? std::ios_base::badbit : std::ios_base::goodbit;
}

std::ios_base::iostate get_from(std::istream& strm, AbstractData& value)
{
    AVNDecoder decoder(strm);
    return value.accept(decoder) ? std::ios_base::goodbit : std::ios_base::failbit;
}

bool setFromValueNotation(AbstractData& value, const std::string& text)
{
    std::istringstream strm(text);
    return get_from(strm, value) == std::ios_base::goodbit;
}

bool encodeAVN(const AbstractData& value, std::back_insert_iterator<std::vector<char>> out)
{
    std::ostringstream strm;
    AVNEncoder encoder(strm);
    if (!value.accept(encoder))
        return false;
    std::string text = strm.str();
    std::copy(text.begin(), text.end(), out);
    return true;
}

bool decodeAVN(const char* first, const char* last, AbstractData& value)
{
    std::istringstream strm(std::string(first, last));
    AVNDecoder decoder(strm);
    return value.accept(decoder);
}

namespace {

// Runs one stream operation under a sentry; an exception inside marks the
// stream bad and is passed on only when the stream's mask asks for it.
template <class Stream, class Op>
Stream& guarded(Stream& strm, Op op)
{
    if (!strm.good())
        return strm;
    typename Stream::sentry sentry(strm);
    if (!sentry)
        return strm;
    try {
        std::ios_base::iostate state = op();
        if (state)
            strm.setstate(state);
    } catch (...) {
        try {
            strm.setstate(std::ios_base::badbit);
        } catch (std::ios_base::failure&) {}
        if (strm.exceptions() & std::ios_base::badbit)
            throw;
    }
    return strm;
}

} // namespace

std::ostream& operator<<(std::ostream& strm, const AbstractData& value)
{
    return guarded(strm, [&] { return print_on(strm, value); });
}

std::istream& operator>>(std::istream& strm, AbstractData& value)
{
    return guarded(strm, [&] { return get_from(strm, value); });
}

} // namespace ASN1
