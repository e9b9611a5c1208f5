#include "slots/connection.hpp"

#include "hardware/hw_mux.hpp"
#include "slots/slot.hpp"

#include <iostream>

bool Connect(Slot& source, Slot& listener)
{
    if (listener.source == &source)
        return true;
    // Refused before anything is reported or undone: a path through such a
    // channel would take over, or listen to, the slot that holds it now.
    for (Slot* s : {&source, &listener})
        if (!s->IHoldsChannels()) {
            std::cerr << "slot " << *s << " no longer holds its switch channel: no connection " << source
                      << " -> " << listener << std::endl;
            return false;
        }
    if (source.listeners.empty()) {
        if (!source.IOnOutputStream()) {
            std::cerr << "slot " << source << " don't have output stream to " << listener << std::endl;
            return false;
        }
        source.OnChangeOutputStream(true);
    }
    Slot* old = listener.source;
    if (old == nullptr) {
        if (!listener.IOnInputStream()) {
            std::cerr << "slot " << listener << " don't have input stream from " << source << std::endl;
            return false;
        }
        listener.OnChangeInputStream(true);
    } else {
        // The old path goes first, so that the output is never driven twice;
        // the logical link stays until the new path stands.
        llDisconnect(listener);
    }
    if (llConnect(source, listener)) {
        if (old != nullptr) {
            listener.LogicalDisconnect();
            if (old->listeners.empty())
                old->IOnOutputRelease();
        }
        listener.LogicalConnect(source);
        return true;
    }
    // The stream reports stay as they were sent. The old path is gone
    // already: its logical link goes too, as in Disconnect, or a later
    // connect from the old source would find nothing to program.
    listener.LogicalDisconnect();
    listener.IOnInputRelease();
    if (old != nullptr && old->listeners.empty())
        old->IOnOutputRelease();
    if (source.listeners.empty())
        source.IOnOutputRelease();
    return false;
}

bool Disconnect(Slot& listener)
{
    Slot* source = listener.source;
    if (source == nullptr)
        return true;
    bool result = llDisconnect(listener);
    listener.LogicalDisconnect();
    listener.IOnInputRelease();
    if (source->listeners.empty())
        source->IOnOutputRelease();
    return result;
}

bool llConnect(Slot& source, Slot& listener)
{
    if (source.GetConnectionPriority() > listener.GetConnectionPriority())
        return source.IHwConnectTransmitter(listener);
    return listener.IHwConnectReceiver(source);
}

bool llDisconnect(Slot& listener)
{
    Slot* source = listener.source;
    if (source == nullptr)
        return false;
    if (listener.GetConnectionPriority() > source->GetConnectionPriority())
        return listener.IHwDisconnectReceiver(*source);
    return source->IHwDisconnectTransmitter(listener);
}

bool MuxConnect(Slot& source, Slot& listener)
{
    int t = source.IGetTransmitChannel();
    int r = listener.IGetReceiveChannel();
    if (!HwMux::instance().Connect(t, r))
        return false;
    std::clog << "mux: slot " << source << " [" << t << "] -> " << listener << " [" << r << "]" << std::endl;
    return true;
}

bool MuxDisconnect(Slot& listener)
{
    int r = listener.IGetReceiveChannel();
    if (!listener.IHoldsChannels()) {
        // The switch output is the path of the slot that holds it now.
        std::clog << "mux: disconnect slot " << listener << " [" << r
                  << "]: held by another slot, left as it is" << std::endl;
        return true;
    }
    if (!HwMux::instance().Disconnect(r))
        return false;
    std::clog << "mux: disconnect slot " << listener << " [" << r << "]" << std::endl;
    return true;
}
