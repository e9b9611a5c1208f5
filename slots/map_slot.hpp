#pragma once

// A channel of the shared backplane bus, reached by the TDM switch through
// its upper channels (8192 + bus × 128 + channel): the slot may transmit on
// one bus channel, receive from one, or both. Each bus channel belongs to
// at most one map slot, whichever direction uses it; a new slot that needs
// a channel takes it over and the old owner is destroyed.

#include "slots/slot.hpp"
#include "slots/slot_factory.hpp"

class MapFactory;

class MapSlot : public Slot {
public:
    MapSlot(MapFactory* owner, int txChannel, int rxChannel)
        : txChannel(txChannel), rxChannel(rxChannel), owner_(owner)
    {}
    ~MapSlot() override;

    bool IsTxExists() const { return txChannel >= 0; }
    bool IsRxExists() const { return rxChannel >= 0; }
    // The logical channels: entries of the owners table.
    int GetTxLogChannel() const;
    int GetRxLogChannel() const;

    void IAfterCreate() override;
    bool IBeforeDestroy() override;
    bool IOnOutputStream() override { return IsTxExists(); }
    bool IOnInputStream() override { return IsRxExists(); }
    int IGetTransmitChannel() override { return txChannel; }
    int IGetReceiveChannel() override { return rxChannel; }
    const char* GetName() const override { return "map"; }

    const int txChannel; // -1: does not transmit
    const int rxChannel; // -1: does not receive

private:
    friend class MapFactory;
    MapFactory* owner_;
    bool released_ = false;
};

class MapFactory : public SlotFactory {
public:
    static constexpr int FirstChannel = 8192;
    static constexpr int Channels = 2048;

    static MapFactory* instance();

    MapFactory() = default;

    const char* GetName() const override { return "Map"; }
    Slot* INewSlot(LGCP::CreateParams const& params) override;
    void Query(LGCP::Resources&) override {}
    void AllocateMapSlot(MapSlot* slot);
    // Disables the slot's receive output and frees its channels.
    void ReleaseMapSlot(MapSlot* slot);

    // The switch channel of a bus channel.
    static int GetMapTimeSlot(LGCP::SharedChannel const& channel);

    // Indexed by logical channel; null when free.
    MapSlot* owners[Channels] = {};

private:
    void Claim(int logical, MapSlot* slot);
};
