#pragma once

// One time slot of an E1 trunk, or one channel of a basic-rate line. The
// media is the time slot itself, so the slot only names its switch channel
// (trunk × 32 + time slot; line × 4 + channel) and the default switch
// operations connect it. One factory per trunk and per line: twelve globals
// at the tail of the factory chain, each taking only its own number, and
// each time slot held by at most one slot (a new request takes it over).

#include "slots/slot.hpp"
#include "slots/slot_factory.hpp"

class TrunkFactory;

class TrunkSlot : public Slot {
public:
    TrunkSlot(TrunkFactory* owner, int channel) : channel(channel), owner_(owner) {}
    ~TrunkSlot() override;

    int GetTrunk() override { return channel / 32; }
    int GetTrunkTimeSlot() override { return GetTimeSlot(); }
    virtual int GetTimeSlot() { return channel % 32; }
    void IAfterCreate() override;
    bool IBeforeDestroy() override;
    bool IOnOutputStream() override { return true; }
    bool IOnInputStream() override { return true; }
    int IGetTransmitChannel() override { return channel; }
    int IGetReceiveChannel() override { return channel; }
    const char* GetName() const override { return "trunk"; }

    const int channel;

private:
    TrunkFactory* owner_;
};

class TrunkBRISlot : public TrunkSlot {
public:
    using TrunkSlot::TrunkSlot;

    int GetTrunk() override { return channel / 4; }
    int GetTimeSlot() override { return channel % 4; }
    const char* GetName() const override { return "trunkBRI"; }
};

class TrunkFactory : public SlotFactory {
public:
    static constexpr unsigned int TimeSlots = 32;

    TrunkFactory(unsigned int trunk, unsigned int base) : trunk(trunk), base(base) {}

    const char* GetName() const override { return "Trunks"; }
    Slot* INewSlot(LGCP::CreateParams const& params) override;
    void Query(LGCP::Resources&) override {}
    // Frees the slot's time slot (only when the slot holds it).
    virtual void ReleaseTrunkSlot(TrunkSlot* slot);

    // Indexed by time slot; null when free.
    TrunkSlot* trunkSlots[TimeSlots] = {};
    const unsigned int trunk;
    const unsigned int base; // the switch channel of time slot 0

protected:
    // The slot for a time slot below `limit` of this trunk, or null.
    Slot* NewTrunkSlot(LGCP::TrunkParams const& params, unsigned int limit);
    // Destroys the slot that holds the time slot, if any.
    void FreeTimeSlot(unsigned int timeslot);
    virtual TrunkSlot* MakeSlot(int channel) { return new TrunkSlot(this, channel); }
};

class TrunkBRIFactory : public TrunkFactory {
public:
    static constexpr unsigned int Channels = 4;

    using TrunkFactory::TrunkFactory;

    const char* GetName() const override { return "TrunksBRI"; }
    Slot* INewSlot(LGCP::CreateParams const& params) override;

protected:
    TrunkSlot* MakeSlot(int channel) override { return new TrunkBRISlot(this, channel); }
};

// Built before main in this order, so trunk_bri7 is the nearest to the head
// of their part of the chain and trunk0 is its tail.
extern TrunkFactory trunk0, trunk1, trunk2, trunk3;
extern TrunkBRIFactory trunk_bri0, trunk_bri1, trunk_bri2, trunk_bri3, trunk_bri4, trunk_bri5, trunk_bri6,
    trunk_bri7;

// Does nothing; main calls it so that the linker keeps the globals above.
void KeepTrunkFactories();
