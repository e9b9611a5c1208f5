#include "asn1/per_helper.hpp"

#include <cstdio>

namespace per_test {

std::vector<char> hex(const std::string& text)
{
    std::vector<char> out;
    unsigned value = 0;
    int digits = 0;
    for (char c : text) {
        int v;
        if (c >= '0' && c <= '9')
            v = c - '0';
        else if (c >= 'A' && c <= 'F')
            v = c - 'A' + 10;
        else if (c >= 'a' && c <= 'f')
            v = c - 'a' + 10;
        else
            continue;
        value = value * 16 + static_cast<unsigned>(v);
        if (++digits == 2) {
            out.push_back(static_cast<char>(value));
            value = 0;
            digits = 0;
        }
    }
    return out;
}

std::string hex(const std::vector<char>& bytes)
{
    std::string out;
    char buf[4];
    for (char c : bytes) {
        std::snprintf(buf, sizeof buf, out.empty() ? "%02X" : " %02X", static_cast<unsigned char>(c));
        out += buf;
    }
    return out;
}

bool encode(const ASN1::AbstractData& value, std::vector<char>& out, int rule)
{
    ASN1::CoderEnv env(rule);
    return ASN1::encode(value, &env, std::back_inserter(out));
}

std::string encodeHex(const ASN1::AbstractData& value, int rule)
{
    std::vector<char> out;
    if (!encode(value, out, rule))
        return "fail";
    return hex(out);
}

bool decode(const std::vector<char>& bytes, ASN1::AbstractData& value, int rule)
{
    ASN1::CoderEnv env(rule);
    return ASN1::decode(bytes.data(), bytes.data() + bytes.size(), &env, value, true);
}

} // namespace per_test
