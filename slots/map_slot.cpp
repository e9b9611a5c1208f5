#include "slots/map_slot.hpp"

#include "hardware/hw_mux.hpp"
#include "slots/slots.hpp"

#include <iostream>

MapSlot::~MapSlot()
{
    // A slot deleted without its destroy (the host lost) leaves the table
    // quietly; the normal path has released it already.
    if (owner_ == nullptr || released_)
        return;
    for (MapSlot*& entry : owner_->owners)
        if (entry == this)
            entry = nullptr;
}

int MapSlot::GetTxLogChannel() const
{
    return txChannel - MapFactory::FirstChannel;
}

int MapSlot::GetRxLogChannel() const
{
    return rxChannel - MapFactory::FirstChannel;
}

void MapSlot::IAfterCreate()
{
    // Receiver first, unlike the trunk slots.
    if (IsRxExists())
        OnChangeInputStream(true);
    if (IsTxExists())
        OnChangeOutputStream(true);
}

bool MapSlot::IBeforeDestroy()
{
    if (owner_ != nullptr)
        owner_->ReleaseMapSlot(this);
    return true;
}

MapFactory* MapFactory::instance()
{
    static MapFactory factory;
    return &factory;
}

int MapFactory::GetMapTimeSlot(LGCP::SharedChannel const& channel)
{
    return FirstChannel + static_cast<int>(channel.get_bus().getValue()) * 128 +
           static_cast<int>(channel.get_channel().getValue());
}

Slot* MapFactory::INewSlot(LGCP::CreateParams const& params)
{
    if (!params.is_map())
        return nullptr;
    LGCP::MapParams const& p = params.get_map();
    int tx = p.has_transmitter() ? GetMapTimeSlot(p.get_transmitter()) : -1;
    int rx = p.has_receiver() ? GetMapTimeSlot(p.get_receiver()) : -1;
    // The owners table has one entry per logical channel: nothing past it.
    for (int ch : {tx, rx}) {
        if (ch != -1 && (ch < FirstChannel || ch >= FirstChannel + Channels)) {
            std::cerr << "map-slot: bus channel out of range, refused." << std::endl;
            return nullptr;
        }
    }
    auto* slot = new MapSlot(this, tx, rx);
    AllocateMapSlot(slot);
    return slot;
}

void MapFactory::Claim(int logical, MapSlot* slot)
{
    MapSlot* old = owners[logical];
    // A slot that sends and receives on one channel holds its entry twice.
    if (old != nullptr && old != slot) {
        std::cerr << "map-slot: two slots require the same ipc-slot, remove old." << std::endl;
        std::cerr << "new slot " << *slot << " <-> old slot " << *old << std::endl;
        if (!Slots::instance()->Destroy(old))
            ReleaseMapSlot(old);
    }
    owners[logical] = slot;
}

void MapFactory::AllocateMapSlot(MapSlot* slot)
{
    if (slot->IsRxExists())
        Claim(slot->GetRxLogChannel(), slot);
    if (slot->IsTxExists())
        Claim(slot->GetTxLogChannel(), slot);
}

void MapFactory::ReleaseMapSlot(MapSlot* slot)
{
    if (slot->released_)
        return;
    slot->released_ = true;
    if (slot->IsRxExists()) {
        int logical = slot->GetRxLogChannel();
        std::clog << "map: disable map channel " << logical << std::endl;
        HwMux::instance().Disable(slot->rxChannel);
        if (owners[logical] != slot)
            std::cerr << "map-slot: internal error! MapFactory::ReleaseMapSlot() code 1" << std::endl;
        else
            owners[logical] = nullptr;
    }
    if (slot->IsTxExists()) {
        int logical = slot->GetTxLogChannel();
        // Sending and receiving on one channel: its entry went above.
        if (slot->IsRxExists() && logical == slot->GetRxLogChannel())
            return;
        if (owners[logical] != slot)
            std::cerr << "map-slot: internal error! MapFactory::ReleaseMapSlot() code 2" << std::endl;
        else
            owners[logical] = nullptr;
    }
}
