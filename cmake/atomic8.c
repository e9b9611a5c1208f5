/* The board's 32-bit PowerPC has no 8-byte compare-and-swap instruction, and
 * the cross toolchain's UndefinedBehaviorSanitizer runtime calls the legacy
 * __sync form that libatomic does not export. Route it to libatomic's
 * __atomic form (lock-based there). Linked into the board's test build only. */
#include <stdint.h>

uint64_t __sync_val_compare_and_swap_8(volatile void* ptr, uint64_t expected, uint64_t desired)
{
    uint64_t seen = expected;
    __atomic_compare_exchange_8((volatile uint64_t*)ptr, &seen, desired, 0, __ATOMIC_SEQ_CST,
                                __ATOMIC_SEQ_CST);
    return seen;
}
