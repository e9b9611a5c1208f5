#pragma once
#include <string>
#include <vector>

#include "asn1/test_types.hpp"

namespace per_test {

// "C0 01 05" <-> bytes
std::vector<char> hex(const std::string& text);
std::string hex(const std::vector<char>& bytes);

bool encode(const ASN1::AbstractData& value, std::vector<char>& out, int rule = 2);
std::string encodeHex(const ASN1::AbstractData& value, int rule = 2); // "fail" on failure
bool decode(const std::vector<char>& bytes, ASN1::AbstractData& value, int rule = 2);

} // namespace per_test
