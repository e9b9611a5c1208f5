#include "asn1/coder_env.hpp"

#include "asn1/ber.hpp"
#include "asn1/per.hpp"
#include "asn1/valuenotation.hpp"

namespace ASN1 {

namespace {
// The vector behind a back_insert_iterator (its protected `container`).
std::vector<char>& vectorOf(std::back_insert_iterator<std::vector<char>> out)
{
    struct Access : std::back_insert_iterator<std::vector<char>> {
        explicit Access(std::back_insert_iterator<std::vector<char>> it)
            : std::back_insert_iterator<std::vector<char>>(it)
        {}
        std::vector<char>& get() const { return *container; }
    };
    return Access(out).get();
}
} // namespace

bool CoderEnv::encode(const AbstractData& value, std::back_insert_iterator<std::vector<char>> out)
{
    switch (encodingRule) {
    case per_Aligned:
    case per_Unaligned:
        // Straight into the caller's vector; a failure leaves it as it was.
        return PEREncoder::append(value, vectorOf(out), encodingRule == per_Aligned);
    case ber:
        return encodeBER(value, out);
    case avn:
        return encodeAVN(value, out);
    default:
        return false;
    }
}

bool CoderEnv::encodeBER(const AbstractData& value, std::back_insert_iterator<std::vector<char>> out)
{
    return ASN1::encodeBER(value, out);
}

bool CoderEnv::encodeAVN(const AbstractData& value, std::back_insert_iterator<std::vector<char>> out)
{
    return ASN1::encodeAVN(value, out);
}

bool CoderEnv::decode(const char* first, const char* last, AbstractData& value, bool withoutEnv)
{
    switch (encodingRule) {
    case per_Aligned:
    case per_Unaligned: {
        PERDecoder decoder(first, last, withoutEnv ? nullptr : this, encodingRule == per_Aligned);
        return value.accept(decoder);
    }
    case ber:
        return decodeBER(first, last, value);
    case avn:
        return decodeAVN(first, last, value);
    default:
        return false;
    }
}

bool encode(const AbstractData& value, CoderEnv* env, std::back_insert_iterator<std::vector<char>> out)
{
    return env->encode(value, out);
}

bool decode(const char* first, const char* last, CoderEnv* env, AbstractData& value, bool withoutEnv)
{
    return env->decode(first, last, value, withoutEnv);
}

} // namespace ASN1
