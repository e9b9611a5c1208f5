#include "slots/slot_factory.hpp"

#include "slots/slot.hpp"

#include <algorithm>

constinit SlotFactory* firstFactory = nullptr;

SlotFactory::SlotFactory() : next(firstFactory)
{
    firstFactory = this;
}

SlotFactory::~SlotFactory()
{
    for (SlotFactory** link = &firstFactory; *link != nullptr; link = &(*link)->next) {
        if (*link == this) {
            *link = next;
            break;
        }
    }
    // A slot that outlives its maker (a test's) must not reach back into it.
    for (Slot* s : slots)
        s->factory = nullptr;
}

Slot* SlotFactory::NewSlot(LGCP::CreateParams const& params)
{
    Slot* slot = INewSlot(params);
    if (slot == nullptr)
        return nullptr;
    slot->factory = this;
    slots.push_back(slot);
    return slot;
}

void SlotFactory::Remove(Slot* slot)
{
    slots.erase(std::remove(slots.begin(), slots.end(), slot), slots.end());
}

void SlotFactory::PassTrunkStatus(LGCP::Signal const& signal)
{
    if (!signal.is_trunkStatus())
        return;
    ACP::TrunkStatus const& status = signal.get_trunkStatus();
    // A slot's trunk is an E1 trunk; the SPI framers report basic-rate
    // lines under the same numbers, and one of those must not take an E1
    // link down.
    if (status.get_type().getValue() != ACP::TrunkType::e1)
        return;
    auto const trunk = static_cast<unsigned int>(status.get_trunk().getValue());
    auto const state = static_cast<ACP::TrunkState::NamedNumber>(status.get_state().getValue());
    for (Slot* slot : slots)
        slot->OnTrunkStatus(trunk, state);
}
