#pragma once

// A pair of switch channels of an external board (8192 + transmitter,
// 8192 + receiver). The slot transmits from creation on; its receive side
// stays switched off (a disabled switch output) until the host activates
// it, so a source can be attached only between activation and
// deactivation.

#include "slots/slot.hpp"
#include "slots/slot_factory.hpp"

class ExtSlot : public Slot {
public:
    ExtSlot(int txChannel, int rxChannel) : txChannel(txChannel), rxChannel(rxChannel) {}

    void IAfterCreate() override;
    bool IBeforeDestroy() override;
    bool IActivate(TERM::TermActivateParams const& params) override;
    bool IDeactivate() override;
    bool IOnOutputStream() override { return true; }
    bool IOnInputStream() override { return inputStream; }
    int IGetTransmitChannel() override { return txChannel; }
    int IGetReceiveChannel() override { return rxChannel; }
    const char* GetName() const override { return "bri"; }

    const int txChannel;
    const int rxChannel;
};

class ExtFactory : public SlotFactory {
public:
    static constexpr int FirstChannel = 8192;
    static constexpr int Channels = 2048;

    static ExtFactory* instance();

    const char* GetName() const override { return "Ext"; }
    Slot* INewSlot(LGCP::CreateParams const& params) override;
    void Query(LGCP::Resources&) override {}
};
