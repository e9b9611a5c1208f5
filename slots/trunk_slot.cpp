#include "slots/trunk_slot.hpp"

#include "slots/slots.hpp"

#include <iostream>

TrunkFactory trunk0(0, 0), trunk1(1, 32), trunk2(2, 64), trunk3(3, 96);
TrunkBRIFactory trunk_bri0(0, 0), trunk_bri1(1, 4), trunk_bri2(2, 8), trunk_bri3(3, 12), trunk_bri4(4, 16),
    trunk_bri5(5, 20), trunk_bri6(6, 24), trunk_bri7(7, 28);

void KeepTrunkFactories()
{}

TrunkSlot::~TrunkSlot()
{
    // A slot deleted without its destroy (the host lost) frees its time slot.
    if (owner_ != nullptr)
        owner_->ReleaseTrunkSlot(this);
}

void TrunkSlot::IAfterCreate()
{
    OnChangeOutputStream(true);
    OnChangeInputStream(true);
}

bool TrunkSlot::IBeforeDestroy()
{
    if (owner_ != nullptr)
        owner_->ReleaseTrunkSlot(this);
    return true;
}

void TrunkFactory::ReleaseTrunkSlot(TrunkSlot* slot)
{
    // By identity rather than by GetTimeSlot(): the slot's destructor calls
    // this when the overrides of its own kind are gone already.
    for (TrunkSlot*& entry : trunkSlots)
        if (entry == slot)
            entry = nullptr;
}

void TrunkFactory::FreeTimeSlot(unsigned int timeslot)
{
    TrunkSlot* old = trunkSlots[timeslot];
    if (old == nullptr)
        return;
    std::cerr << "trunk-slot: two slots require the same timeslot, remove old." << std::endl;
    std::cerr << " old slot " << *old << std::endl;
    // A postponed end still leaves the time slot to the new slot.
    if (!Slots::instance()->Destroy(old))
        ReleaseTrunkSlot(old);
}

Slot* TrunkFactory::INewSlot(LGCP::CreateParams const& params)
{
    if (!params.is_trunk())
        return nullptr;
    return NewTrunkSlot(params.get_trunk(), TimeSlots);
}

Slot* TrunkBRIFactory::INewSlot(LGCP::CreateParams const& params)
{
    if (!params.is_trunk_bri())
        return nullptr;
    return NewTrunkSlot(params.get_trunk_bri(), Channels);
}

Slot* TrunkFactory::NewTrunkSlot(LGCP::TrunkParams const& params, unsigned int limit)
{
    unsigned int ts = params.get_timeslot().getValue();
    if (params.get_trunk().getValue() != trunk || ts >= limit)
        return nullptr;
    FreeTimeSlot(ts);
    TrunkSlot* slot = MakeSlot(static_cast<int>(base + ts));
    trunkSlots[ts] = slot;
    return slot;
}
