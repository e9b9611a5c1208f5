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
    // Appends to `output`, starting at a fresh octet. After every call the
    // vector holds each bit written so far, the last octet padded with zeros.
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
    // the caller's buffer was too small.
    bool finish(std::size_t& octets);

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

    void encodeSingleBit(bool bit) { encodeMultiBit(bit ? 1u : 0u, 1); }
    // The low `count` bits of `value` (count at most 32).
    void encodeMultiBit(std::uint32_t value, unsigned count)
    {
        if (bits_ + count > 64)
            flushOctets();
        acc_ = (acc_ << count) | (value & (count == 32 ? ~0u : (1u << count) - 1u));
        bits_ += count;
        if (sync_) [[unlikely]]
            publish();
    }
    void encodeBitMap(const unsigned char* bytes, std::uint32_t count);
    void encodeSmallUnsigned(std::uint32_t value);
    bool encodeLength(std::uint32_t length, std::uint32_t lower, std::uint32_t upper);
    // `value` is compared signed when `lower` is negative, unsigned otherwise.
    bool encodeUnsigned(std::uint32_t value, std::int32_t lower, std::uint32_t upper);
    // The extension bit of an extensible constraint; true when the value must
    // be coded as unconstrained.
    bool encodeConstraint(const ConstrainedObject& object, std::uint32_t value);
    // The count of a sized type, as decodeConstrainedLength reads it.
    bool encodeConstrainedLength(const ConstrainedObject& object, std::uint32_t count, bool* sized = nullptr);
    bool encodeAnyType(const AbstractData* value);
    void encodeBlock(const char* bytes, std::size_t count);
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
    PEREncoder(std::vector<char>& output, bool aligned, Growing);
    // A character string's count and the alignment before its characters
    // (X.691 30.5.7); `bits` per character, `wide` when they may take more
    // than 16 bits.
    bool encodeStringLength(const ConstrainedObject& value, std::uint32_t count, unsigned alignedBits,
                            unsigned unalignedBits, unsigned& bits, bool& wide);

    bool encodeUnconstrainedInteger(std::int32_t value);
    // Writes the whole octets of the accumulator; at most 7 bits stay.
    void flushOctets();
    // Room for `count` more octets at cur_; false (and nothing written from
    // then on) when the caller's buffer is full.
    bool room(std::size_t count) { return static_cast<std::size_t>(end_ - cur_) >= count || grow(count); }
    bool grow(std::size_t count);
    // Whole octets written, the accumulator empty (after align()).
    std::size_t written() const { return static_cast<std::size_t>(cur_ - base_); }
    void publish();

    char* base_ = nullptr;
    char* cur_ = nullptr;
    char* end_ = nullptr;
    std::uint64_t acc_ = 0; // pending bits, the oldest highest
    unsigned bits_ = 0;     // how many
    std::vector<char>* vector_ = nullptr;
    std::size_t vectorStart_ = 0; // the vector's size when the encoder began
    bool sync_ = false;           // the vector is kept exact after every write
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
          current_(reinterpret_cast<const unsigned char*>(first)),
          end_(reinterpret_cast<const unsigned char*>(last)),
          aligned_(aligned)
    {}

    using Visitor::do_visit;
    bool do_visit(Null& value) override;
    bool do_visit(BOOLEAN& value) override;
    bool do_visit(INTEGER& value) override;
    bool do_visit(ENUMERATED& value) override;
    bool do_visit(OBJECT_IDENTIFIER& value) override;
    bool do_visit(OCTET_STRING& value) override;
    bool do_visit(BIT_STRING& value) override;
    bool do_visit(AbstractString& value) override;
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

    std::size_t getBitsLeft() const
    {
        return static_cast<std::size_t>(end_ - current_) * 8 + bitPosition_ - 8;
    }
    bool atEnd() const { return current_ == end_; }
    void byteAlign();
    void setPosition(const char* position);
    const char* position() const { return reinterpret_cast<const char*>(current_); }

    bool decodeSingleBit() // 0 when no bit is left
    {
        std::uint32_t bit = 0;
        return decodeMultiBit(1, bit) && bit != 0;
    }
    // Up to 32 bits out of a 64-bit window that starts at the current octet:
    // one load, one shift, whatever the alignment.
    bool decodeMultiBit(unsigned count, std::uint32_t& out)
    {
        if (count > 32 || count > getBitsLeft())
            return false;
        const unsigned used = 8u - bitPosition_;
        std::uint64_t window = 0;
        if (end_ - current_ >= 8) [[likely]] {
            std::memcpy(&window, current_, 8);
            if constexpr (std::endian::native == std::endian::little)
                window = __builtin_bswap64(window);
        } else {
            window = tailWindow((used + count + 7) / 8);
        }
        // Two shifts: a count of 0 must give 0, not a shift by 64.
        out = static_cast<std::uint32_t>(((window << used) >> 1) >> (63 - count));
        const unsigned total = used + count;
        current_ += total / 8;
        bitPosition_ = static_cast<std::uint16_t>(8 - total % 8);
        return true;
    }
    bool decodeBitMap(unsigned char* bytes, std::uint32_t count);
    bool decodeSmallUnsigned(std::uint32_t& out);
    bool decodeLength(std::uint32_t lower, std::uint32_t upper, std::uint32_t& out);
    bool decodeUnsigned(std::int32_t lower, std::uint32_t upper, std::uint32_t& out);
    // The count of a sized type (string, SEQUENCE OF): the extension bit of
    // an extensible size, then the length, within the size constraint unless
    // that bit said otherwise. `*sized`, when given: the constraint applied.
    bool decodeConstrainedLength(const ConstrainedObject& object, std::uint32_t& out, bool* sized = nullptr);
    // Copies up to `count` octets (aligned first); returns how many it copied.
    std::size_t decodeBlock(char* bytes, std::size_t count);
    int decodeChoicePreamle(CHOICE& choice, memento_type& memento);

private:
    // The `octets` a read needs of the fewer than 8 left, as the top of a
    // window.
    std::uint64_t tailWindow(unsigned octets) const
    {
        std::uint64_t window = 0;
        for (unsigned i = 0; i < octets; ++i)
            window |= std::uint64_t{current_[i]} << (56 - 8 * i);
        return window;
    }
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

    CoderEnv* env_;
    const unsigned char* current_;
    const unsigned char* end_;
    std::uint16_t bitPosition_ = 8; // unread bits left in the current octet
    bool aligned_;
    std::uint32_t unknownExtensions_ = 0; // present additions past the known ones
};

} // namespace ASN1
