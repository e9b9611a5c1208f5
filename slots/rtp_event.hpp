#pragma once

// The event record that the RTP driver ("/dev/rtp") hands up: nine native
// 32-bit words, the first the event type.

#include <cstdint>

struct rtp_event {
    std::uint32_t type; // 1: packet detection (words 1 and 2: value, time-out)
    std::uint32_t data[8];
};
static_assert(sizeof(rtp_event) == 36, "RTP event record is 36 bytes");

constexpr std::uint32_t kRtpEventPacketDetection = 1;
