#pragma once
// Helpers shared by the BER, value-notation and validity tests: byte
// vectors written as hex, the coder environment around one rule, and a
// seeded filler that gives a value random contents within its constraints.

#include <cstdint>
#include <initializer_list>
#include <random>
#include <string>
#include <vector>

#include "asn1/asn1.hpp"

namespace coder_test {

std::vector<char> bytes(std::initializer_list<int> octets);
std::string hex(const std::vector<char>& data);

// Encodes with the coder environment; nullopt-like: returns false on failure.
bool encode(const ASN1::AbstractData& value, int rule, std::vector<char>& out);
bool decode(const std::vector<char>& data, int rule, ASN1::AbstractData& value);

struct RandomOptions {
    bool openTypes = false; // open types cannot be read back from text or BER in place
    int maxDepth = 6;
};

// Fills `value` in place with random contents that satisfy its descriptor.
void randomize(ASN1::AbstractData& value, std::mt19937& rng, const RandomOptions& options = {});

} // namespace coder_test
