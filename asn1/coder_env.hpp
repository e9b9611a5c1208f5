#pragma once
// Coding environment: picks the encoding rule and runs its coder over a value.

#include <cstddef>
#include <cstring>
#include <iterator>
#include <memory>
#include <utility>
#include <vector>

#include "asn1/values.hpp"

namespace ASN1 {

namespace detail {
// Loki's AssocVector still asks its allocator for the member types that
// C++20 removed from std::allocator.
template <class T>
struct LegacyAllocator : std::allocator<T> {
    using value_type = T;
    using reference = T&;
    using const_reference = const T&;
    using pointer = T*;
    using const_pointer = const T*;
    using size_type = std::size_t;
    using difference_type = std::ptrdiff_t;
    template <class U>
    struct rebind {
        using other = LegacyAllocator<U>;
    };
    LegacyAllocator() = default;
    template <class U>
    LegacyAllocator(const LegacyAllocator<U>&)
    {}
};
} // namespace detail

} // namespace ASN1

#include <loki/AssocVector.h>

namespace ASN1 {

class Module;

class CoderEnv {
public:
    enum EncodingRule : int { avn = 0, ber = 1, per_Aligned = 2, per_Unaligned = 3 };

    struct StringListeralCmp {
        using first_argument_type = const char*;
        using second_argument_type = const char*;
        using result_type = bool;
        bool operator()(const char* a, const char* b) const { return std::strcmp(a, b) < 0; }
    };
    using ModuleMap = Loki::AssocVector<const char*, Module*, StringListeralCmp,
                                        detail::LegacyAllocator<std::pair<const char*, Module*>>>;

    explicit CoderEnv(int rule = per_Aligned) : encodingRule(rule) {}

    int get_encodingRule() const { return encodingRule; }
    void set_encodingRule(int rule) { encodingRule = rule; }

    // On success appends the whole encoding through `out`; on failure writes
    // nothing.
    bool encode(const AbstractData& value, std::back_insert_iterator<std::vector<char>> out);
    bool encodeBER(const AbstractData& value, std::back_insert_iterator<std::vector<char>> out);
    bool encodeAVN(const AbstractData& value, std::back_insert_iterator<std::vector<char>> out);
    // Fills `value` (a default-built object of the expected type) in place.
    // Octets left over after the value are not looked at.
    bool decode(const char* first, const char* last, AbstractData& value, bool withoutEnv);

    int encodingRule;
    ModuleMap modules;
};

bool encode(const AbstractData& value, CoderEnv* env, std::back_insert_iterator<std::vector<char>> out);
bool decode(const char* first, const char* last, CoderEnv* env, AbstractData& value, bool withoutEnv = true);

} // namespace ASN1
