#include "slots/echo_slot.hpp"

#include <iostream>

void EchoSlot::IAfterCreate()
{
    OnChangeOutputStream(true);
    OnChangeInputStream(true);
}

EchoFactory* EchoFactory::instance()
{
    static EchoFactory factory;
    return &factory;
}

void EchoFactory::Scan()
{
    for (bool& p : present)
        p = false;
    std::clog << "Scanning echo channels ..." << std::endl;
}

void EchoFactory::SetPresentForTest(int bus, bool on)
{
    if (bus >= 0 && bus < Buses)
        present[bus] = on;
}

Slot* EchoFactory::INewSlot(LGCP::CreateParams const& params)
{
    if (!params.is_echo())
        return nullptr;
    LGCP::EchoParams const& p = params.get_echo();
    const int bus = p.get_bus().getValue();
    const int channel = p.get_channel().getValue();
    // Both integers are unconstrained on the wire; a bus is an index here.
    if (bus < 0 || bus >= Buses || channel < 0 || channel >= ChannelsPerBus || !present[bus])
        return nullptr;
    return new EchoSlot(static_cast<unsigned int>(bus * ChannelsPerBus + channel));
}

void EchoFactory::Query(LGCP::Resources& resources)
{
    for (int bus = 0; bus < Buses; ++bus) {
        if (present[bus])
            resources.get_echoBus().push_back(ASN1::INTEGER(bus));
    }
}
