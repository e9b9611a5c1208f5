#include "asn1/pool.hpp"

#ifdef GW_ASN1_POOL_ASAN
#include <sanitizer/asan_interface.h>

#include <vector>
#endif

namespace ASN1::detail {

constinit Pool::Free* Pool::heads_[Pool::classes] = {};
constinit std::uint64_t Pool::refills_ = 0;

#ifndef GW_ASN1_POOL_ASAN
namespace {
// One refill carves this much into blocks of one class (32 SEQUENCE
// objects): what a large message holds of one size, without pinning much
// memory for the sizes that are rare.
constexpr std::size_t chunk = 2048;
} // namespace
#endif

void* Pool::refill(std::size_t size)
{
    ++refills_;
    const std::size_t block = classSize(size);
#ifdef GW_ASN1_POOL_ASAN
    // One allocation per block: the sanitizer tracks each one.
    return ::operator new(block);
#else
    const std::size_t count = chunk / block > 1 ? chunk / block : 1;
    auto* bytes = static_cast<unsigned char*>(::operator new(count* block));
    // The first block is the caller's; the others wait on the list.
    Free*& head = heads_[index(size)];
    for (std::size_t i = count; i-- > 1;) {
        auto* f = reinterpret_cast<Free*>(bytes + i * block);
        f->next = head;
        head = f;
    }
    return bytes;
#endif
}

#ifdef GW_ASN1_POOL_ASAN
namespace {
// Never destroyed: the leak checker runs after the static destructors.
std::vector<void*>* checkedLists()
{
    static auto* lists = new std::vector<void*>[Pool::limit / Pool::step];
    return lists;
}
} // namespace

void* Pool::takeChecked(std::size_t size)
{
    std::vector<void*>& list = checkedLists()[index(size)];
    if (list.empty())
        return nullptr;
    void* block = list.back();
    list.pop_back();
    ASAN_UNPOISON_MEMORY_REGION(block, classSize(size));
    return block;
}

void Pool::putChecked(void* p, std::size_t size) noexcept
{
    ASAN_POISON_MEMORY_REGION(p, classSize(size));
    checkedLists()[index(size)].push_back(p);
}
#endif

} // namespace ASN1::detail
