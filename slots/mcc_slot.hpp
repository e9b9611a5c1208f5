#pragma once

// A data channel of the MCC controller whose bytes the host exchanges as
// user data: what the channel delivers goes to the host as `userData`
// signals, what the host sends as `userData` goes to the channel in one
// write. The channel's switch channel is the slot's in both directions.

#include "core/event.hpp"
#include "hardware/device_fd.hpp"
#include "slots/slot.hpp"
#include "slots/slot_factory.hpp"

class MccSlot : public Slot {
public:
    // Reads of the channel deliver at most this many bytes each.
    static constexpr std::size_t ReadSize = 1024;

    // Takes over the allocated channel's descriptor.
    MccSlot(DeviceFd channel, int timeslot);
    ~MccSlot() override;

    bool IUserData(std::vector<char> const& data) override;
    bool IOnOutputStream() override { return true; }
    bool IOnInputStream() override { return true; }
    int IGetTransmitChannel() override { return timeslot; }
    int IGetReceiveChannel() override { return timeslot; }
    const char* GetName() const override { return "MCC"; }

    void OnEvent(int fd, short revents);
    // The channel is watched (false when no duplicate of it could be had).
    bool watched() const noexcept { return static_cast<bool>(event.fd()); }

    const int timeslot;

private:
    void DoRead(int fd);
    // The channel can give nothing more: log once and stop watching it.
    void Ended(const char* why);

    DeviceFd channel_;
    Event event;
};

class MccFactory : public SlotFactory {
public:
    static MccFactory* instance();

    const char* GetName() const override { return "MCC"; }
    Slot* INewSlot(LGCP::CreateParams const& params) override;
    // The data, basic-rate and transparent channels the controller reports.
    void Query(LGCP::Resources& resources) override;
};
