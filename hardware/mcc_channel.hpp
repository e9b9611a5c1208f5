#pragma once

// The board's MCC controller ("/dev/mcc/ctl"): its requests, and the raw
// channel, the descriptor it was allocated on and its TDM switch channel. A
// channel belongs to that descriptor: closing its last duplicate frees it.
// HDLC links, MCC data slots, voice players and recorders, the T.38 slot and
// the ISDN slots each take one this way; they differ only in the open flags
// and the five allocation words, and each prints its own failure texts.

#include "hardware/device_fd.hpp"
#include "hardware/driver_port.hpp"

#include <cstddef>
#include <cstdint>

// Requests on a descriptor of "/dev/mcc/ctl" (board encoding).
constexpr std::uint32_t MCC_ALLOCATE = 0x40144d00; // mcc_allocate_params
constexpr std::uint32_t MCC_TIMESLOT = 0x20004d02; // no record; result: the channel's switch channel
constexpr std::uint32_t MCC_CAPACITY = 0x80104d03; // mcc_capacity, filled by the driver

// The allocation record: the channel type first (0 data, 1 basic rate,
// 2 transparent, 3 SS7), then four words whose meaning is the driver's.
struct mcc_allocate_params {
    std::uint32_t words[5];
};

// The channels the controller has, by type.
struct mcc_capacity {
    std::uint32_t data;
    std::uint32_t bri;
    std::uint32_t transparent;
    std::uint32_t reserved;
};

static_assert(sizeof(mcc_allocate_params) == 20);
static_assert(sizeof(mcc_capacity) == 16);
static_assert(offsetof(mcc_capacity, bri) == 4);
static_assert(offsetof(mcc_capacity, transparent) == 8);
static_assert(Driver::RequestSize(MCC_ALLOCATE) == sizeof(mcc_allocate_params));
static_assert(Driver::RequestSize(MCC_TIMESLOT) == 0);
static_assert(Driver::RequestSize(MCC_CAPACITY) == sizeof(mcc_capacity));

struct MccRawChannel {
    // The step that failed.
    enum class Step { None, Open, Allocate, Timeslot };

    DeviceFd fd;       // holds the channel; closing it frees the channel
    int timeslot = -1; // the switch channel (0 or more) when allocated
    Step failed = Step::None;
    int error = 0; // errno of the failed step (0: MCC_TIMESLOT gave a negative result without one)

    explicit operator bool() const noexcept { return failed == Step::None; }
};

// Opens "/dev/mcc/ctl" with `flags` (close-on-exec is always added),
// allocates a channel with MCC_ALLOCATE and asks its switch channel with
// MCC_TIMESLOT. On failure nothing stays open: the result names the step
// and its errno.
MccRawChannel AllocateMccChannel(int flags, mcc_allocate_params const& params);

// The capacity request on a descriptor of its own, closed before the
// return; false (errno set) when the device does not open or refuses.
bool ReadMccCapacity(mcc_capacity& out);
