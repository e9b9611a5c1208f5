#pragma once

// A channel of an echo-canceller bus (bus × 32 + channel on the switch).
// Only the buses found present take slots; no driver request finds them on
// this board, so the scan marks none and every request is refused, until a
// test marks a bus present.

#include "slots/slot.hpp"
#include "slots/slot_factory.hpp"

class EchoSlot : public Slot {
public:
    explicit EchoSlot(unsigned int channel) : channel(channel) {}

    void IAfterCreate() override;
    bool IOnOutputStream() override { return true; }
    bool IOnInputStream() override { return true; }
    int IGetTransmitChannel() override { return static_cast<int>(channel); }
    int IGetReceiveChannel() override { return static_cast<int>(channel); }
    const char* GetName() const override { return "echo"; }

    const unsigned int channel;
};

class EchoFactory : public SlotFactory {
public:
    static constexpr int Buses = 16;
    static constexpr int ChannelsPerBus = 32;

    static EchoFactory* instance();

    EchoFactory() { Scan(); }

    const char* GetName() const override { return "Echo"; }
    Slot* INewSlot(LGCP::CreateParams const& params) override;
    // The present buses, in increasing order.
    void Query(LGCP::Resources& resources) override;

    // Forgets every bus, then looks for them.
    void Scan();
    // Tests only: a bus the scan cannot find.
    void SetPresentForTest(int bus, bool present);

    bool present[Buses] = {};
};
