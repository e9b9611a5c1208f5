#pragma once
// X.691 Packed Encoding Rules, ALIGNED and UNALIGNED variants. Clauses are
// cited by the numbers of X.691 (08/2015).
//
// Where this coder's encodings differ from X.691 (a peer must code the same):
// ENUMERATED carries the enumerator's value in 0..max (not its index) and an
// extension value as a normally small number value + 1 followed by the value
// in 0..value; no fragmented lengths (16384 and more); semi-constrained
// integers are coded like unconstrained ones; an OBJECT IDENTIFIER's length
// is a constrained number 0..255; GeneralizedTime is a length and its text
// octets; a BIT STRING is octet-aligned exactly when it has more than 16 bits
// (aligned variant), an OCTET STRING of 3 octets or more always; the
// extension-presence map of a SEQUENCE ends at its last present addition;
// open-type contents are always coded in the aligned variant.

#include <algorithm>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "asn1/visitor.hpp"

namespace ASN1 {

class CoderEnv;

// Largest string (bits, octets or characters) and largest SEQUENCE OF /
// extension-presence count that the decoder accepts.
extern unsigned MaximumStringSize;
extern unsigned MaximumArraySize;

// The upper bound that stands for "no upper bound" in length determinants.
inline constexpr std::uint32_t UnboundedLength = 0x7FFFFFFF;

class PEREncoder final : public ConstVisitor {
public:
    // Appends to `output`, starting at a fresh octet. The vector holds what
    // was written, the last octet padded with zeros, once finish() is called.
    PEREncoder(std::vector<char>& output, bool aligned);
    // Writes into the caller's buffer [first, last), starting at a fresh octet.
    PEREncoder(char* first, char* last, bool aligned)
        : base_(first), cur_(first), end_(last), aligned_(aligned)
    {}

    // Encodes `value` at the end of `out`; on failure `out` is as it was.
    static bool append(const AbstractData& value, std::vector<char>& out, bool aligned);
    // Encodes `value` into [first, last): true with the octet count when it
    // is a valid value that fits.
    static bool encode(const AbstractData& value, char* first, char* last, bool aligned, std::size_t& octets);

    // Pads the last octet; the octets written since construction. False when
    // the caller's buffer was too small. A vector is cut to what was written.
    [[gnu::always_inline]] bool finish(std::size_t& octets)
    {
        alignAndFlush();
        octets = written();
        if (vector_ != nullptr) [[unlikely]]
            cutVector();
        return !overflow_;
    }

    using ConstVisitor::do_visit;
    bool do_visit(const Null& value) override;
    bool do_visit(const BOOLEAN& value) override;
    bool do_visit(const INTEGER& value) override;
    bool do_visit(const ENUMERATED& value) override;
    bool do_visit(const OBJECT_IDENTIFIER& value) override;
    bool do_visit(const BIT_STRING& value) override;
    bool do_visit(const OCTET_STRING& value) override;
    bool do_visit(const AbstractString& value) override;
    bool do_visit(const BMPString& value) override;
    bool do_visit(const CHOICE& value) override;
    bool do_visit(const OpenData& value) override;
    bool do_visit(const GeneralizedTime& value) override;
    bool do_visit(const SEQUENCE_OF_Base& value) override;
    bool preVisitExtensionRoots(const SEQUENCE& seq) override;
    bool visitExtensionRoot(const SEQUENCE& seq, int index) override;
    bool preVisitExtensions(const SEQUENCE& seq) override;
    bool visitKnownExtension(const SEQUENCE& seq, int index) override;
    bool visit(const SEQUENCE& seq) override;

    [[gnu::always_inline]] void encodeSingleBit(bool bit) { encodeMultiBit(bit ? 1u : 0u, 1); }
    // The low `count` bits of `value` (count at most 32).
    [[gnu::always_inline]] void encodeMultiBit(std::uint32_t value, unsigned count)
    {
        if (bits_ + count > 64)
            flushOctets();
        acc_ = (acc_ << count) | (value & (count == 32 ? ~0u : (1u << count) - 1u));
        bits_ += count;
    }
    // Pads to an octet boundary and writes the low `count` bits of `value`
    // (at most 56; no bit above them set) in the same write.
    [[gnu::always_inline]] void encodeAlignedBits(std::uint64_t value, unsigned count)
    {
        const unsigned pad = (0u - bits_) & 7u;
        // After a flush at most 7 bits stay and the pad fills them to 8.
        if (bits_ + pad + count > 64)
            flushOctets();
        acc_ = (acc_ << (pad + count)) | value;
        bits_ += pad + count;
    }
    void encodeBitMap(const unsigned char* bytes, std::uint32_t count);
    void encodeSmallUnsigned(std::uint32_t value);
    bool encodeLength(std::uint32_t length, std::uint32_t lower, std::uint32_t upper);
    // lower <= value <= upper, signed when the lower bound is negative.
    static bool inRange(std::uint32_t value, std::int32_t lower, std::uint32_t upper)
    {
        if (lower < 0)
            return static_cast<std::int32_t>(value) >= lower &&
                   static_cast<std::int32_t>(value) <= static_cast<std::int32_t>(upper);
        return value >= static_cast<std::uint32_t>(lower) && value <= upper;
    }
    // X.691 11.5: constrained whole number. `value` is compared signed when
    // `lower` is negative, unsigned otherwise. Inline: with bounds known to
    // the caller the bit-field case folds to one write.
    [[gnu::always_inline]] bool encodeUnsigned(std::uint32_t value, std::int32_t lower, std::uint32_t upper)
    {
        if (!inRange(value, lower, upper))
            return false;
        const std::uint32_t offset = value - static_cast<std::uint32_t>(lower);
        const std::uint32_t range = upper - static_cast<std::uint32_t>(lower) + 1u; // 0: 2^32
        if (range == 1)
            return true;
        if (!aligned_ || (range != 0 && range <= 255)) {
            encodeMultiBit(offset, CountBits(range)); // X.691 11.5.6 bit-field case
            return true;
        }
        return encodeUnsignedOctets(offset, range);
    }
    // X.691 11.5 with the bounds known at compile time: each case folds to
    // at most three writes.
    template <std::int32_t Lower, std::uint32_t Upper>
    [[gnu::always_inline]] bool encodeWhole(std::uint32_t value)
    {
        constexpr std::uint32_t range = Upper - static_cast<std::uint32_t>(Lower) + 1u; // 0: 2^32
        if (!inRange(value, Lower, Upper))
            return false;
        const std::uint32_t offset = value - static_cast<std::uint32_t>(Lower);
        if constexpr (range == 1) {
            return true;
        } else if constexpr (range != 0 && range <= 255) {
            encodeMultiBit(offset, CountBits(range)); // X.691 11.5.6 bit-field case
            return true;
        } else {
            if (!aligned_) [[unlikely]] {
                encodeMultiBit(offset, CountBits(range));
                return true;
            }
            if constexpr (range == 256) { // X.691 11.5.7.2: one-octet case
                encodeAlignedBits(offset, 8);
            } else if constexpr (range != 0 && range <= 65536) { // X.691 11.5.7.3: two-octet case
                encodeAlignedBits(offset, 16);
            } else { // X.691 11.5.7.4: octet count (11.9.3.5: 1..most), then the octets
                constexpr unsigned most = (CountBits(range) + 7) / 8;
                const unsigned k = (static_cast<unsigned>(std::bit_width(offset | 1u)) + 7) / 8;
                encodeMultiBit(k - 1, CountBits(most));
                encodeAlignedBits(offset, 8 * k);
            }
            return true;
        }
    }
    [[gnu::always_inline]] bool encodeBoolean(const BOOLEAN& value) // X.691 12
    {
        encodeSingleBit(value.getValue());
        return true;
    }
    // An ENUMERATED whose root is 0..Max, known at compile time (X.691 14).
    template <bool Extensible, std::uint32_t Max>
    [[gnu::always_inline]] bool encodeEnumerated(const ENUMERATED& value)
    {
        const int v = value.getValue();
        if (v < 0 || static_cast<std::uint32_t>(v) > Max)
            return do_visit(value); // refused, or an extension value
        return encodeIndex<Extensible, Max>(static_cast<std::uint32_t>(v));
    }
    // A root CHOICE index below Root (X.691 23.5, 23.7).
    template <bool Extensible, std::uint32_t Root>
    [[gnu::always_inline]] bool encodeChoiceIndex(std::uint32_t index)
    {
        static_assert(Root > 0);
        return encodeIndex<Extensible, Root - 1>(index);
    }
    // An INTEGER without constraint (X.691 13.2.6): in the aligned variant
    // a one-octet length (11.9.3.6), then the value in two's complement in
    // the fewest octets (12.2.6).
    [[gnu::always_inline]] bool encodeUnconstrained(const INTEGER& value)
    {
        if (!aligned_) [[unlikely]]
            return do_visit(value);
        const auto v = static_cast<std::uint32_t>(value.getValue());
        // The value's bits without its sign copies, plus one sign bit.
        const unsigned bits =
            static_cast<unsigned>(std::bit_width(static_cast<std::int32_t>(v) < 0 ? ~v : v)) + 1;
        const unsigned k = (bits + 7) / 8;
        // The length and the value in one write, k octets of the value's low bits.
        const std::uint64_t value64 =
            (std::uint64_t{k} << (8 * k)) | (std::uint64_t{v} & ~(~std::uint64_t{0} << (8 * k)));
        encodeAlignedBits(value64, 8 + 8 * k);
        return true;
    }
    // An INTEGER whose constraint is known at compile time (X.691 13.2).
    template <ConstraintType Kind, std::int32_t Lower, std::uint32_t Upper>
    [[gnu::always_inline]] bool encodeInteger(const INTEGER& value)
    {
        if constexpr (Kind == RangeConstraint)
            return encodeWhole<Lower, Upper>(static_cast<std::uint32_t>(value.getValue()));
        else
            return do_visit(value);
    }
    // A string of 8-bit characters (IA5String, VisibleString and the like
    // without a permitted alphabet) whose size Lower..Upper is known at
    // compile time and lets it be longer than two characters: in the aligned
    // variant its length, then its characters from an octet boundary as a
    // block (X.691 30.5.7), as do_visit writes them.
    template <std::uint32_t Lower, std::uint32_t Upper>
    [[gnu::always_inline]] bool encodeOctetCharacters(const AbstractString& value)
    {
        static_assert(Upper > 2);
        if (!aligned_) [[unlikely]]
            return do_visit(value);
        const std::size_t count = value.size();
        if constexpr (Upper > 65535) {
            // A short string: its length octet (X.691 11.9.3.6) and its
            // characters stored straight after the pending octets.
            if (count >= Lower && count <= 16) {
                alignAndFlush();
                if (end_ - cur_ > 16) [[likely]] {
                    cur_[0] = static_cast<char>(count);
                    if (count != 0)
                        copyShort(cur_ + 1, value.data(), count);
                    cur_ += 1 + count;
                    return true;
                }
            }
        }
        if (count > Upper || !encodeKnownLength<Lower, Upper>(static_cast<std::uint32_t>(count)))
            return false;
        encodeBlock(value.data(), count);
        return true;
    }
    // X.691 11.9 in the aligned variant for bounds known at compile time.
    template <std::uint32_t Lower, std::uint32_t Upper>
    [[gnu::always_inline]] bool encodeKnownLength(std::uint32_t length)
    {
        if constexpr (Upper <= 65535) {
            return encodeWhole<static_cast<std::int32_t>(Lower), Upper>(length);
        } else {
            return length >= Lower && length <= Upper && encodeOctetLength(length);
        }
    }
    // X.691 11.9.3.6-11.9.3.7: a length of one or two octets, aligned (no
    // fragments).
    [[gnu::always_inline]] bool encodeOctetLength(std::uint32_t length)
    {
        if (length < 128) {
            encodeAlignedBits(length, 8);
            return true;
        }
        if (length < 16384) {
            encodeAlignedBits(0x8000u | length, 16);
            return true;
        }
        return false;
    }
    // X.691 20: a SEQUENCE OF, each element by `element(encoder, element)`.
    template <class Element>
    bool encodeList(const SEQUENCE_OF_Base& value, Element element)
    {
        if (!encodeConstrainedLength(value, static_cast<std::uint32_t>(value.size())))
            return false;
        for (std::size_t i = 0; i < value.size(); ++i)
            if (!element(*this, value.elementAt(i)))
                return false;
        return true;
    }
    // Extension additions [0, span) of `seq` are coded: one past the last
    // known addition that is present. Bits beyond the known additions are
    // never written.
    static std::uint32_t extensionSpan(const SEQUENCE& seq)
    {
        const std::uint32_t size = seq.extensionMap().size();
        return size == 0 ? 0 : extensionSpanSlow(seq, size);
    }
    // X.691 19.1-19.3 for a SEQUENCE whose counts the caller knows: the
    // extension bit and the presence bitmap (at most 32 optional fields).
    // Returns the presence bits, the first optional field's highest.
    template <bool Extensible, unsigned Optional>
    [[gnu::always_inline]] std::uint32_t encodeSequencePreamble(const SEQUENCE& seq)
    {
        static_assert(Optional <= 32);
        const BitMap& map = seq.optionalMap();
        if (map.size() != Optional) [[unlikely]]
            return encodeSequencePreambleSlow(seq);
        if constexpr (Optional == 0) {
            if constexpr (Extensible)
                encodeSingleBit(extensionSpan(seq) != 0);
            return 0;
        } else {
            std::uint32_t v = 0;
            const unsigned char* bytes = map.data();
            for (unsigned k = 0; k < (Optional + 7) / 8; ++k)
                v |= std::uint32_t{bytes[k]} << (24 - 8 * k);
            v >>= 32 - Optional;
            if constexpr (Extensible && Optional < 32) { // the extension bit and the map in one write
                encodeMultiBit((extensionSpan(seq) != 0 ? 1u << Optional : 0u) | v, Optional + 1);
            } else {
                if constexpr (Extensible)
                    encodeSingleBit(extensionSpan(seq) != 0);
                encodeMultiBit(v, Optional);
            }
            return v;
        }
    }
    // X.691 19.7-19.8: what follows the root of an extensible SEQUENCE (its
    // preamble written by preVisitExtensionRoots).
    [[gnu::always_inline]] bool encodeSequenceExtensions(const SEQUENCE& seq)
    {
        return seq.extensionMap().size() == 0 || encodeAdditions(seq);
    }
    // The extension bit of an extensible constraint; true when the value must
    // be coded as unconstrained.
    bool encodeConstraint(const ConstrainedObject& object, std::uint32_t value);
    // The count of a sized type, as decodeConstrainedLength reads it.
    bool encodeConstrainedLength(const ConstrainedObject& object, std::uint32_t count, bool* sized = nullptr);
    bool encodeAnyType(const AbstractData* value);
    // `count` octets from the next octet boundary; nothing at all for none.
    [[gnu::always_inline]] void encodeBlock(const char* bytes, std::size_t count)
    {
        if (count == 0)
            return;
        alignAndFlush();
        if (count > 16 || end_ - cur_ < 16) [[unlikely]] {
            encodeLongBlock(bytes, count);
            return;
        }
        copyShort(cur_, bytes, count);
        cur_ += count;
    }
    // 1 to 16 octets. Two overlapping copies cover any count up to twice
    // their width, and read nothing outside the source.
    [[gnu::always_inline]] static void copyShort(char* to, const char* bytes, std::size_t count)
    {
        if (count >= 8) {
            std::uint64_t a = 0, b = 0;
            std::memcpy(&a, bytes, 8);
            std::memcpy(&b, bytes + count - 8, 8);
            std::memcpy(to, &a, 8);
            std::memcpy(to + count - 8, &b, 8);
        } else if (count >= 4) {
            std::uint32_t a = 0, b = 0;
            std::memcpy(&a, bytes, 4);
            std::memcpy(&b, bytes + count - 4, 4);
            std::memcpy(to, &a, 4);
            std::memcpy(to + count - 4, &b, 4);
        } else {
            const char a = bytes[0], b = bytes[count / 2], c = bytes[count - 1];
            to[0] = a;
            to[count / 2] = b;
            to[count - 1] = c;
        }
    }
    void encodeByte(unsigned char octet);
    // Pads to the next octet boundary.
    void align()
    {
        if (bits_ % 8 != 0) {
            const unsigned pad = 8 - bits_ % 8;
            acc_ <<= pad;
            bits_ += pad;
        }
    }

    bool aligned() const { return aligned_; }

private:
    struct Growing {};
    // The value's own coders when its class has them (as visit and
    // do_visit(CHOICE) call them), the visitor otherwise.
    bool encodeTop(const AbstractData& value)
    {
        if (const PerCoders* coders = value.info()->per)
            return coders->encode(*this, value);
        return value.accept(*this);
    }
    PEREncoder(std::vector<char>& output, bool aligned, Growing);
    // A character string's count and the alignment before its characters
    // (X.691 30.5.7); `bits` per character, `wide` when they may take more
    // than 16 bits.
    bool encodeStringLength(const ConstrainedObject& value, std::uint32_t count, unsigned alignedBits,
                            unsigned unalignedBits, unsigned& bits, bool& wide);

    bool encodeUnconstrainedInteger(std::int32_t value);
    // X.691 11.5.7: the octet-aligned cases of a constrained whole number.
    bool encodeUnsignedOctets(std::uint32_t offset, std::uint32_t range);
    // A root value 0..Max with its extension bit (0) when Extensible, as
    // one write when it is a bit field (X.691 11.5.6).
    template <bool Extensible, std::uint32_t Max>
    [[gnu::always_inline]] bool encodeIndex(std::uint32_t value)
    {
        if constexpr (Max < 255) {
            if (value > Max)
                return false;
            constexpr unsigned width = (Extensible ? 1u : 0u) + CountBits(Max + 1u);
            if constexpr (width > 0)
                encodeMultiBit(value, width);
            return true;
        } else {
            if constexpr (Extensible)
                encodeSingleBit(false);
            return encodeWhole<0, Max>(value);
        }
    }
    void encodeLongBlock(const char* bytes, std::size_t count);
    bool encodeAdditions(const SEQUENCE& seq);
    static std::uint32_t extensionSpanSlow(const SEQUENCE& seq, std::uint32_t size);
    // The preamble of a SEQUENCE whose presence bitmap is not of its type's
    // size, as preVisitExtensionRoots writes it.
    std::uint32_t encodeSequencePreambleSlow(const SEQUENCE& seq);
    // Writes the whole octets of the accumulator (at least one); at most 7
    // bits stay. Inline while 8 octets of room are left: one store, whatever
    // the count. Bits of acc_ above the pending ones are left as they are:
    // every reader shifts them out.
    [[gnu::always_inline]] void flushOctets()
    {
        const unsigned bits = bits_;
        if (!storePending(bits)) [[unlikely]] {
            flushOctetsNearEnd(bits / 8);
            return;
        }
        bits_ = bits % 8;
        cur_ += bits / 8;
    }
    void flushOctetsNearEnd(unsigned whole);
    // Pads to an octet boundary and writes every pending octet: the
    // accumulator is empty after it.
    [[gnu::always_inline]] void alignAndFlush()
    {
        const unsigned bits = bits_;
        if (bits == 0)
            return;
        if (!storePending(bits)) [[unlikely]] {
            align();
            flushOctetsNearEnd(bits_ / 8);
            return;
        }
        bits_ = 0;
        cur_ += (bits + 7) / 8;
    }
    // The `bits` pending bits stored from cur_ on, the oldest on top and
    // zeros after the newest, when 8 octets of room are left; the octets
    // past the whole ones are written again by the next store.
    [[gnu::always_inline]] bool storePending(unsigned bits)
    {
        if (end_ - cur_ < 8)
            return false;
        std::uint64_t out = acc_ << (64 - bits);
        if constexpr (std::endian::native == std::endian::little)
            out = __builtin_bswap64(out);
        std::memcpy(cur_, &out, 8);
        return true;
    }
    void cutVector();
    // Room for `count` more octets at cur_; false (and nothing written from
    // then on) when the caller's buffer is full.
    bool room(std::size_t count) { return static_cast<std::size_t>(end_ - cur_) >= count || grow(count); }
    bool grow(std::size_t count);
    // Whole octets written, the accumulator empty (after align()).
    std::size_t written() const { return static_cast<std::size_t>(cur_ - base_); }

    char* base_ = nullptr;
    char* cur_ = nullptr;
    char* end_ = nullptr;
    std::uint64_t acc_ = 0; // pending bits in the low bits_, the oldest highest
    unsigned bits_ = 0;     // how many
    std::vector<char>* vector_ = nullptr;
    std::size_t vectorStart_ = 0; // the vector's size when the encoder began
    bool overflow_ = false;
    bool aligned_;
};

class PERDecoder final : public Visitor {
public:
    struct memento_type {
        const unsigned char* position = nullptr;
        std::uint16_t bitPosition = 8;
    };

    PERDecoder(const char* first, const char* last, CoderEnv* env, bool aligned)
        : env_(env),
          first_(reinterpret_cast<const unsigned char*>(first)),
          end_(first_ + std::min<std::size_t>(static_cast<std::size_t>(last - first), MaximumInput)),
          limit_(static_cast<std::size_t>(end_ - first_) * 8),
          wholeWindows_(limit_ >= 64 ? limit_ - 56 : 0),
          aligned_(aligned)
    {}

    using Visitor::do_visit;
    bool do_visit(Null& value) override;
    // X.691 12: one bit.
    [[gnu::always_inline]] bool do_visit(BOOLEAN& value) override
    {
        std::uint32_t bit = 0;
        if (!decodeMultiBit(1, bit))
            return false;
        value.setValue(bit != 0);
        return true;
    }
    bool do_visit(INTEGER& value) override;
    bool do_visit(ENUMERATED& value) override;
    bool do_visit(OBJECT_IDENTIFIER& value) override;
    bool do_visit(OCTET_STRING& value) override;
    bool do_visit(BIT_STRING& value) override;
    // Inline for the usual aligned string of octets with a one-octet length
    // (X.691 11.9.3.6); the others as decodeString reads them.
    bool do_visit(AbstractString& value) override
    {
        const StringTypeInfo* info = value.info();
        // Without a size bound the length is unbounded and the characters
        // whole octets, copied as they are (X.691 30.5.7).
        if (aligned_ && value.constraint() <= LowerBoundOnly && info->alignedBits == 8) {
            byteAlign();
            const unsigned char* p = current();
            const std::size_t left = static_cast<std::size_t>(end_ - p);
            if (left > 0 && p[0] < 0x80 && p[0] < left && p[0] <= MaximumStringSize) [[likely]] {
                value.assign(reinterpret_cast<const char*>(p) + 1, p[0]);
                pos_ += 8 * (1 + std::size_t{p[0]});
                return true;
            }
        }
        return decodeString(value);
    }
    bool do_visit(BMPString& value) override;
    bool do_visit(CHOICE& value) override;
    bool do_visit(SEQUENCE_OF_Base& value) override;
    bool do_visit(OpenData& value) override;
    bool do_revisit(OpenData& value) override;
    bool do_visit(TypeConstrainedOpenData& value) override;
    bool do_visit(GeneralizedTime& value) override;
    int preVisitExtensionRoots(SEQUENCE& seq) override;
    int visitExtensionRoot(SEQUENCE& seq, int index, int optionalId) override;
    int preVisitExtensions(SEQUENCE& seq) override;
    int visitKnownExtension(SEQUENCE& seq, int index, int presenceId) override;
    bool visitUnknownExtensions(SEQUENCE& seq) override;
    bool visit(SEQUENCE& seq) override;

    std::size_t getBitsLeft() const { return limit_ - pos_; }
    bool atEnd() const { return pos_ == limit_; }
    // X.691 11.1: to the next octet boundary (never past the end: the input
    // is whole octets).
    void byteAlign() { pos_ = (pos_ + 7) & ~std::size_t{7}; }
    void setPosition(const char* position);
    const char* position() const { return reinterpret_cast<const char*>(current()); }

    [[gnu::always_inline]] bool decodeSingleBit() // 0 when no bit is left
    {
        std::uint32_t bit = 0;
        return decodeMultiBit(1, bit) && bit != 0;
    }
    // Up to 32 bits out of a 64-bit window that starts at the current octet:
    // one load, one shift, whatever the alignment. While 8 octets are left
    // the read needs no other check.
    [[gnu::always_inline]] bool decodeMultiBit(unsigned count, std::uint32_t& out)
    {
        if (pos_ < wholeWindows_ && count <= 32) [[likely]] {
            // Two shifts: a count of 0 must give 0, not a shift by 64.
            out = static_cast<std::uint32_t>(((wholeWindow() << (pos_ & 7)) >> 1) >> (63 - count));
            pos_ += count;
            return true;
        }
        if (count > 32 || count > limit_ - pos_)
            return false;
        // Within the last 8 octets: the window is those 8, the read at bit
        // pos_ - (limit_ - 64) of it (64 only for a read of nothing at the
        // end, which the two shifts turn into 0 whatever the shift). An
        // input of fewer than 8 octets is its own window.
        std::uint64_t window = 0;
        std::size_t shift = pos_;
        if (limit_ >= 64) [[likely]] {
            std::memcpy(&window, end_ - 8, 8);
            if constexpr (std::endian::native == std::endian::little)
                window = __builtin_bswap64(window);
            shift = pos_ + 64 - limit_;
        } else {
            window = shortWindow();
        }
        out = static_cast<std::uint32_t>(((window << (shift & 63)) >> 1) >> (63 - count));
        pos_ += count;
        return true;
    }
    // An input of fewer than 8 octets as the top of a window.
    std::uint64_t shortWindow() const;
    bool decodeBitMap(unsigned char* bytes, std::uint32_t count);
    bool decodeSmallUnsigned(std::uint32_t& out);
    bool decodeLength(std::uint32_t lower, std::uint32_t upper, std::uint32_t& out);
    // X.691 11.5. Inline: with bounds known to the caller the bit-field case
    // folds to one read.
    [[gnu::always_inline]] bool decodeUnsigned(std::int32_t lower, std::uint32_t upper, std::uint32_t& out)
    {
        const std::uint32_t range = upper - static_cast<std::uint32_t>(lower) + 1u;
        if (range == 1) {
            out = static_cast<std::uint32_t>(lower);
            return true;
        }
        if (!aligned_ || (range != 0 && range <= 255)) {
            std::uint32_t offset = 0;
            if (!decodeMultiBit(CountBits(range), offset))
                return false;
            out = offset + static_cast<std::uint32_t>(lower);
            return true;
        }
        return decodeUnsignedOctets(lower, range, out);
    }
    // X.691 11.5 with the bounds known at compile time: every case inline.
    template <std::int32_t Lower, std::uint32_t Upper>
    [[gnu::always_inline]] bool decodeUnsigned(std::uint32_t& out)
    {
        constexpr std::uint32_t range = Upper - static_cast<std::uint32_t>(Lower) + 1u; // 0: 2^32
        std::uint32_t offset = 0;
        if constexpr (range == 1) {
            out = static_cast<std::uint32_t>(Lower);
            return true;
        } else if constexpr (range != 0 && range <= 255) {
            if (!decodeMultiBit(CountBits(range), offset)) // X.691 11.5.6
                return false;
        } else {
            if (!aligned_) {
                if (!decodeMultiBit(CountBits(range), offset)) // X.691 11.5.6
                    return false;
            } else if constexpr (range != 0 && range <= 65536) {
                // X.691 11.5.7.2-11.5.7.3: one or two octets, aligned.
                byteAlign();
                if (!decodeMultiBit(range <= 256 ? 8 : 16, offset))
                    return false;
            } else {
                // X.691 11.5.7.4: the octet count as a whole number 1..n
                // (11.9.4.1, a bit-field), then the octets, aligned.
                constexpr unsigned n = (CountBits(range) + 7) / 8;
                std::uint32_t k = 0;
                if (!decodeMultiBit(CountBits(n), k))
                    return false;
                byteAlign();
                if (!decodeMultiBit(8 * (k + 1), offset))
                    return false;
            }
        }
        out = offset + static_cast<std::uint32_t>(Lower);
        return true;
    }
    // An ENUMERATED whose root is 0..Max, known at compile time (X.691 14).
    template <bool Extensible, std::uint32_t Max>
    [[gnu::always_inline]] bool decodeEnumerated(ENUMERATED& value)
    {
        if constexpr (Extensible && Max < 255) {
            // The extension bit and a root value in one read while both are
            // there; an extension value is read again after its bit.
            constexpr unsigned width = CountBits(Max + 1);
            std::uint32_t bits = 0;
            if (decodeMultiBit(1 + width, bits)) [[likely]] {
                if ((bits >> width) != 0) {
                    pos_ -= width;
                    return decodeEnumeratedExtension(value);
                }
                value.setValue(static_cast<int>(bits));
                return true;
            }
        }
        if constexpr (Extensible) {
            if (atEnd())
                return false;
            if (decodeSingleBit())
                return decodeEnumeratedExtension(value);
        }
        std::uint32_t v = 0;
        if (!decodeUnsigned<0, Max>(v))
            return false;
        value.setValue(static_cast<int>(v));
        return true;
    }
    // An INTEGER without constraint (X.691 13.2.6), as do_visit reads it;
    // inline for the usual aligned case of a one-octet length (11.9.3.6) of
    // 1 to 4.
    bool decodeUnconstrained(INTEGER& value)
    {
        if (aligned_ && value.constraint() == NoConstraint) {
            byteAlign();
            const std::uint64_t window = pos_ < wholeWindows_ ? wholeWindow() : 0;
            const auto length = static_cast<unsigned>(window >> 56);
            if (length >= 1 && length <= 4) [[likely]] {
                // The octets after the length, the first one's sign bit
                // extended by the arithmetic shift (two's complement).
                const auto octets = static_cast<std::int64_t>(window << 8);
                value.setValue(static_cast<int>(static_cast<std::uint32_t>(octets >> (64 - 8 * length))));
                pos_ += 8 * (1 + std::size_t{length});
                return true;
            }
        }
        return do_visit(value);
    }
    // An INTEGER whose constraint is known at compile time (X.691 13.2).
    template <ConstraintType Kind, std::int32_t Lower, std::uint32_t Upper>
    [[gnu::always_inline]] bool decodeInteger(INTEGER& value)
    {
        if constexpr (Kind == RangeConstraint) {
            std::uint32_t v = 0;
            if (!decodeUnsigned<Lower, Upper>(v))
                return false;
            value.setValue(static_cast<int>(v));
            return true;
        } else {
            return do_visit(value);
        }
    }
    // X.691 20: a SEQUENCE OF, each element by `element(decoder, element)`.
    template <class Element>
    bool decodeList(SEQUENCE_OF_Base& value, Element element)
    {
        std::uint32_t count = 0;
        if (!decodeConstrainedLength(value, count) || count > MaximumArraySize)
            return false;
        value.resize(count);
        for (std::uint32_t i = 0; i < count; ++i) {
            if (!element(*this, value.elementAt(i))) {
                value.erase(i, value.size());
                return false;
            }
        }
        return true;
    }
    // X.691 19.1-19.3 for a SEQUENCE whose counts the caller knows: the
    // extension bit and the presence bitmap (at most 32 optional fields) as
    // preVisitExtensionRoots reads them; `present` gets the presence bits,
    // the first optional field's highest.
    template <bool Extensible, unsigned Optional>
    int decodeSequencePreamble(SEQUENCE& seq, std::uint32_t& present)
    {
        static_assert(Optional <= 32);
        bool extension = false;
        present = 0;
        if constexpr (Extensible && Optional < 32) {
            // The extension bit and the presence bits in one read.
            std::uint32_t bits = 0;
            if (!decodeMultiBit(1 + Optional, bits))
                return fail;
            extension = (bits >> Optional) != 0;
            present = bits & ((1u << Optional) - 1u);
        } else {
            if constexpr (Extensible) {
                if (atEnd())
                    return fail;
                extension = decodeSingleBit();
            }
            if (Optional > 0 && !decodeMultiBit(Optional, present))
                return fail;
        }
        if constexpr (Optional > 0) {
            BitMap& map = seq.optionalMap();
            if (map.size() != Optional) [[unlikely]]
                map.resize(Optional);
            unsigned char* bytes = map.data();
            std::uint32_t v = present << (32 - Optional);
            for (unsigned k = 0; k < (Optional + 7) / 8; ++k, v <<= 8)
                bytes[k] = static_cast<unsigned char>(v >> 24);
        }
        if (seq.extensionMap().size() != 0) [[unlikely]]
            seq.extensionMap().resize(0);
        return extension ? goOn : rootOnly;
    }
    // X.691 23.6-23.8 for a CHOICE whose counts the caller knows, as
    // decodeChoicePreamle reads it.
    template <bool Extensible, std::uint32_t Root>
    int decodeChoiceIndex(memento_type& memento)
    {
        memento = memento_type{};
        if constexpr (Extensible && Root > 1 && Root <= 255) {
            // The extension bit and a root index in one read while both are
            // there; an extension index is read again after its bit.
            constexpr unsigned width = CountBits(Root);
            std::uint32_t bits = 0;
            if (decodeMultiBit(1 + width, bits)) [[likely]] {
                if ((bits >> width) != 0) {
                    pos_ -= width;
                    return decodeExtensionIndex(Root, memento);
                }
                return bits < Root ? static_cast<int>(bits) : -1;
            }
        }
        if constexpr (Extensible) {
            // A missing extension bit would read as 0 (the root).
            if (atEnd())
                return -1;
            if (decodeSingleBit())
                return decodeExtensionIndex(Root, memento);
        }
        if constexpr (Root > 1) {
            std::uint32_t index = 0;
            if (!decodeUnsigned<0, Root - 1>(index) || index >= Root)
                return -1;
            return static_cast<int>(index);
        }
        return 0;
    }
    // The alternative `index` of `choice`, created as a default T unless it
    // is already the selection.
    template <class T>
    static AbstractData& selectAs(CHOICE& choice, int index)
    {
        if (index == choice.currentSelection() && choice.alternative() != nullptr)
            return *choice.alternative();
        return *choice.setSelection(index, new T());
    }
    // X.691 19.7-19.9: the extension additions of `seq` after its root, when
    // preVisitExtensionRoots said they follow.
    bool decodeSequenceExtensions(SEQUENCE& seq);
    // X.691 23.8: the extension alternative `index` of `choice`, which
    // decodeChoicePreamle found in the open type that ends at `memento`.
    bool decodeChoiceExtension(CHOICE& choice, int index, const memento_type& memento);
    // A root alternative `index` made the selection (kept when it already is).
    static bool selectForDecode(CHOICE& choice, int index)
    {
        if (index == choice.currentSelection() && choice.alternative() != nullptr)
            return true;
        choice.setSelectionIndex(index);
        return choice.createSelection();
    }
    // The count of a sized type (string, SEQUENCE OF): the extension bit of
    // an extensible size, then the length, within the size constraint unless
    // that bit said otherwise. `*sized`, when given: the constraint applied.
    bool decodeConstrainedLength(const ConstrainedObject& object, std::uint32_t& out, bool* sized = nullptr);
    // Copies up to `count` octets (aligned first); returns how many it copied.
    std::size_t decodeBlock(char* bytes, std::size_t count);
    int decodeChoicePreamle(CHOICE& choice, memento_type& memento);

private:
    // Largest input read: its bit count fits a size_t.
    static constexpr std::size_t MaximumInput = static_cast<std::size_t>(-1) / 8;

    const unsigned char* current() const { return first_ + (pos_ >> 3); }
    // The 8 octets from the current one on, as one big-endian number; only
    // while pos_ < wholeWindows_.
    [[gnu::always_inline]] std::uint64_t wholeWindow() const
    {
        std::uint64_t window = 0;
        std::memcpy(&window, current(), 8);
        if constexpr (std::endian::native == std::endian::little)
            window = __builtin_bswap64(window);
        return window;
    }
    // A string as do_visit(AbstractString&) reads it outside its inline case.
    bool decodeString(AbstractString& value);
    // Reads an open type's length and decodes `value` from exactly that many
    // octets; the reader then stands after them.
    bool decodeOpenType(AbstractData* value);
    // As PEREncoder::encodeStringLength writes it.
    bool decodeStringLength(const ConstrainedObject& value, unsigned alignedBits, unsigned unalignedBits,
                            std::uint32_t& count, unsigned& bits, bool& wide);
    // `count` characters of `bits` each, each turned into the string's
    // character by `convert(code, character)`, which may refuse it.
    template <class String, class Convert>
    bool decodeCharacters(String& value, std::uint32_t count, unsigned bits, Convert convert);
    bool skipOpenType();
    // After the extension bit: an ENUMERATED value beyond the root.
    bool decodeEnumeratedExtension(ENUMERATED& value);
    // X.691 23.8: after the extension bit, the index of an extension
    // alternative and the end of its open type.
    int decodeExtensionIndex(std::uint32_t rootCount, memento_type& memento);
    // X.691 11.5.7: the octet-aligned cases of a constrained whole number.
    bool decodeUnsignedOctets(std::int32_t lower, std::uint32_t range, std::uint32_t& out);

    CoderEnv* env_;
    const unsigned char* first_;
    const unsigned char* end_;
    std::size_t pos_ = 0; // bits read from first_
    std::size_t limit_;   // bits in the input
    // Reads from a bit position below this have 8 whole octets from the
    // current one on: no bound is passed by any read of 32 bits or fewer.
    std::size_t wholeWindows_;
    bool aligned_;
    std::uint32_t unknownExtensions_ = 0; // present additions past the known ones
};

} // namespace ASN1
