#pragma once

// The control service that owns every slot: the table of the 1024 slot
// numbers, the host's slot commands (create, destroy, connect, disconnect,
// activate, deactivate, userData, ioctl) and the `query` of the board's
// resources. Bound to the control server second, after the heartbeat. When
// the host goes, every slot goes with it.
//
// Invariant: a slot is in `slots` exactly when table[slot->id] points to it.

#include "control/ctrl_service.hpp"
#include "core/singleton.hpp"

#include <cstdint>
#include <functional>
#include <utility>
#include <vector>

class Slot;

class Slots : public CtrlSrv::Service {
public:
    static constexpr unsigned int TableSize = 1024;

    // The program's slot service, created on first use, unless a test put
    // its own in place.
    static Slots* instance() { return &Singleton<Slots>::Get(); }
    // Tests: makes `slots` the one that instance() returns (null: back to
    // the program's own); returns the one before.
    static Slots* UseInstance(Slots* slots) { return Singleton<Slots>::Use(slots); }

    Slots();
    // Deletes whatever slots are left, without any response.
    ~Slots() override;

    void OnConnect() override {}
    void OnDisconnect() override;
    bool OnCommand(LGCP::Command const& command) override;
    void OnSignal(LGCP::Signal const& signal) override;

    // True when the slot is gone, false when its end is postponed (it calls
    // on_release later). Factories that take a channel from its owner use it.
    bool Destroy(Slot* slot);
    // A postponed end has come: the waiting `destroy` (if any) gets its
    // success, and the slot is deleted.
    void on_release(Slot* slot);
    // The `query` signal: the resources that every factory reports.
    void UpdateHardwareResources();
    static bool CheckSlot(unsigned int n) { return n < TableSize; }

    // The slot with number n; null when free or out of range.
    Slot* Get(unsigned int n) const { return CheckSlot(n) ? table_[n] : nullptr; }
    std::vector<Slot*> const& slots() const noexcept { return slots_; }

    // After the host is lost the loop stands still for a second, so that
    // slots whose end was postponed can finish (a child program exiting)
    // before the stragglers are deleted. Tests put their own pause here.
    void SetPause(std::function<void()> pause) { pause_ = std::move(pause); }

private:
    void CmdQuery();
    void CmdConnect(unsigned int target);
    void CmdDisconnect();
    void CmdCreate(LGCP::CreateParams const& params);
    void CmdDestroy();
    // Removes the slot from `slots` and from its table entry (only when the
    // entry holds it), detaches it and deletes it.
    void int_destroy(Slot* slot);
    // The addressed slot, or null after answering slotNotExists.
    Slot* Addressed();

    Slot* table_[TableSize] = {};
    std::vector<Slot*> slots_;
    std::function<void()> pause_;
};
