#pragma once

// Model of the board's generic HDLC network interfaces "hdlc<N>": each has
// its interface flags, the TDM switch channel of its E1 side (the slot_map
// word of the physical settings) and its protocol (raw HDLC or PPP). The
// program reaches them through Driver::NetIoctl on an ordinary datagram
// socket; the board answers for these names only (Owns), every other name
// goes to the kernel.
//
// The interface record is the kernel's: the name in its first 16 bytes,
// then a union that holds the index (int), the flags (short) or the
// SIOCWANDEV settings {type, size, pointer to the buffer}. It is restated
// here rather than taken from the hardware code's headers.
//
// Its words of the control language: "netif" (or the board's "netifs")
// lists them, "netif add NAME FLAGS SLOTMAP" adds one or replaces its
// flags and channel, "netif remove NAME" takes one away. Failures come from
// the board ("fail netif 0x894a 1 EIO").

#include "sim/device.hpp"

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace Sim {

class NetIfs final : public Device {
public:
    static constexpr std::uint32_t kGetFlags = 0x8913;
    static constexpr std::uint32_t kSetFlags = 0x8914;
    static constexpr std::uint32_t kGetIndex = 0x8933;
    static constexpr std::uint32_t kWanDev = 0x894A;
    // SIOCWANDEV settings types.
    static constexpr std::uint32_t kGetIface = 0x0001;
    static constexpr std::uint32_t kIfaceE1 = 0x1004; // what IF_GET_IFACE answers
    static constexpr std::uint32_t kProtoHdlc = 0x2000;
    static constexpr std::uint32_t kProtoPpp = 0x2001;
    // Interface flags.
    static constexpr std::uint32_t kUp = 0x1;
    static constexpr std::uint32_t kLoopback = 0x8;
    static constexpr std::uint32_t kPointToPoint = 0x10;
    static constexpr std::uint32_t kRunning = 0x40;
    // The switch channels of the interfaces after Reset: 1700 + N, a range
    // that no other model uses.
    static constexpr std::uint32_t kFirstSlotMap = 1700;

    struct Interface {
        std::uint32_t flags = 0;
        std::uint32_t slotMap = 0;
        std::uint32_t proto = kProtoHdlc;
        // The raw HDLC settings {encoding, parity} of the last IF_PROTO_HDLC.
        std::uint16_t encoding = 0;
        std::uint16_t parity = 0;
    };

    NetIfs();

    // `arg` is the interface record; the name has been checked (Owns).
    Outcome Ioctl(std::uint32_t request, void* arg, unsigned long value) override;
    void Reset() override;
    bool Control(const std::vector<std::string>& words, std::ostream& out) override;
    void Help(std::ostream& out) const override;

    // Whether the record names an interface of the board's kind ("hdlc"
    // and a decimal number), present or not.
    static bool Owns(const void* ifreq);
    // The name in the record (at most 15 characters).
    static std::string NameOf(const void* ifreq);
    // What the request log shows of a request: its argument words before
    // the driver answered, and what a read gave back.
    static std::vector<std::uint32_t> WordsIn(std::uint32_t request, const void* ifreq);
    static std::vector<std::uint32_t> WordsOut(std::uint32_t request, const void* ifreq);

    std::optional<Interface> Get(const std::string& name) const;
    // Adds the interface or replaces its flags and channel.
    bool Set(const std::string& name, std::uint32_t flags, std::uint32_t slotMap);
    bool Remove(const std::string& name);

private:
    // "hdlc7" -> 7; false for any other name.
    static bool Number(const std::string& name, std::uint32_t& n);
    void List(std::ostream& out) const;

    std::map<std::uint32_t, Interface> interfaces_; // by N
};

} // namespace Sim
