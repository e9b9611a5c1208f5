#include "slots/ext_slot.hpp"

#include "hardware/hw_mux.hpp"

#include <iostream>

void ExtSlot::IAfterCreate()
{
    // The receive side waits for activation.
    OnChangeOutputStream(true);
}

bool ExtSlot::IBeforeDestroy()
{
    HwMux::instance().Disable(rxChannel);
    return true;
}

bool ExtSlot::IActivate(TERM::TermActivateParams const&)
{
    OnChangeInputStream(true);
    // A disconnected output sends the idle pattern: the receive side is on.
    // With a source attached it is on already, and disconnecting it would
    // cut a connection that the host still counts on.
    if (source == nullptr)
        HwMux::instance().Disconnect(rxChannel);
    return true;
}

bool ExtSlot::IDeactivate()
{
    // Going inactive detaches the source first.
    OnChangeInputStream(false);
    HwMux::instance().Disable(rxChannel);
    return true;
}

ExtFactory* ExtFactory::instance()
{
    static ExtFactory factory;
    return &factory;
}

Slot* ExtFactory::INewSlot(LGCP::CreateParams const& params)
{
    if (!params.is_ext())
        return nullptr;
    LGCP::ExtParams const& p = params.get_ext();
    const int tx = p.get_transmitter().getValue();
    const int rx = p.get_receiver().getValue();
    // The integers are unconstrained on the wire: only the external board's
    // 2048 channels exist.
    for (int v : {tx, rx}) {
        if (v < 0 || v >= Channels) {
            std::cerr << "ext: channel " << v << " out of range, refused." << std::endl;
            return nullptr;
        }
    }
    return new ExtSlot(FirstChannel + tx, FirstChannel + rx);
}
