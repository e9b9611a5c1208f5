#pragma once
// What the ASN.1 tests share: octets written as hex, the coders around one
// rule, and seeded random values.
//
// Seeded random values of any ASN.1 type, built from its descriptor alone:
// every part is chosen within the type's constraints (sizes, ranges,
// alphabets, named enumerators, known alternatives), optional fields are
// present or absent at random. The same seed gives the same values on every
// platform, so a corpus made here can be pinned or regenerated.

#include <cstdint>
#include <initializer_list>
#include <memory>
#include <string>
#include <vector>

#include "asn1/asn1.hpp"

namespace ASN1Test {

class RandomValues {
public:
    explicit RandomValues(std::uint64_t seed) : state_(seed ^ 0x9E3779B97F4A7C15ull) {}

    // A new value of the type `info` describes.
    std::unique_ptr<ASN1::AbstractData> make(const ASN1::TypeInfo* info);
    // Overwrites `value` (of any type) with random contents.
    void fill(ASN1::AbstractData& value);

    // Uniform in 0..bound-1 (bound > 0).
    std::uint32_t below(std::uint32_t bound);
    std::uint32_t next32();

    // Largest SEQUENCE OF / string length picked when the type allows more.
    unsigned maxListLength = 4;
    unsigned maxStringLength = 12;
    // Open types (that are not type-constrained): left empty, filled with an
    // INTEGER, or avoided where the type lets them be (as optional fields
    // and alternatives), for coders that cannot read them back in place.
    enum class Open { Empty, Filled, Avoided } openTypes = Open::Empty;
    // Optional fields deeper than this are left out (0: no limit).
    unsigned maxDepth = 0;

private:
    std::uint64_t state_;
};

using Octets = std::vector<char>;

Octets bytes(std::initializer_list<int> octets);
// "C0 01 05" <-> octets (anything but hex digits is skipped when reading).
Octets hex(const std::string& text);
std::string hex(const Octets& bytes);

// The coder environment around one rule (ASN1::CoderEnv::EncodingRule).
// encode appends; decode wants the whole input consumed.
bool encode(const ASN1::AbstractData& value, Octets& out, int rule = 2);
std::string encodeHex(const ASN1::AbstractData& value, int rule = 2); // "fail" on failure
bool decode(const Octets& bytes, ASN1::AbstractData& value, int rule = 2);

// The aligned-PER encoding of `value`; false when the encoder refuses it.
bool EncodePer(const ASN1::AbstractData& value, std::vector<char>& out);
// Decodes `bytes` into `value` (a default value of the expected type); false
// on a decoding failure or when octets are left over.
bool DecodePer(const std::vector<char>& bytes, ASN1::AbstractData& value);

std::string ToHex(const std::vector<char>& bytes);             // "C00105"
bool FromHex(const std::string& text, std::vector<char>& out); // spaces allowed

} // namespace ASN1Test
