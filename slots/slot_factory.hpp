#pragma once

// The maker of one kind of slot, and the one chain of all makers. A create
// request is offered to the factories from the head of the chain; the first
// that returns a slot wins. `Slots` walks the same chain for the board's
// resources and hands it the trunk status signals.
//
// Adding a slot kind is one SlotFactory subclass and nothing in `Slots`:
// - GetName();
// - INewSlot(), which returns null when the request is not its own or cannot
//   be met, so that the chain goes on;
// - Query(), which fills only its own fields of LGCP::Resources;
// - optionally SelfSignal() (the trunk status signals);
// - a function-level static `instance()`, and one line in core/main.cpp at
//   its place in the creation order.
// The constructor links the factory at the head of the chain, the destructor
// unlinks it. In the program factories live until exit; tests build and
// drop their own.

#include "asn1/modules/LGCP.hpp"

#include <vector>

class Slot;

class SlotFactory {
public:
    SlotFactory();
    virtual ~SlotFactory();
    SlotFactory(const SlotFactory&) = delete;
    SlotFactory& operator=(const SlotFactory&) = delete;

    virtual const char* GetName() const = 0;
    virtual Slot* INewSlot(LGCP::CreateParams const& params) = 0;
    virtual void Query(LGCP::Resources& resources) = 0;
    virtual void SelfSignal(LGCP::Signal const&) {}

    // INewSlot(); a slot made joins `slots` and knows its factory.
    Slot* NewSlot(LGCP::CreateParams const& params);
    // Forgets the slot (every occurrence); harmless when already gone.
    void Remove(Slot* slot);

    // The slots made here and not yet destroyed; not owned.
    std::vector<Slot*> slots;
    // Towards the tail of the chain; null at the tail.
    SlotFactory* next = nullptr;

protected:
    // An E1 trunk's `trunkStatus` signal to OnTrunkStatus of every slot
    // made here, in list order; any other signal is ignored.
    void PassTrunkStatus(LGCP::Signal const& signal);
};

// The head of the chain. Constant-initialised, so that factories built
// before main (the trunk factories) find it.
extern constinit SlotFactory* firstFactory;
