#include "core/dpc.hpp"

#include "core/multiplexer.hpp"

Dpc::~Dpc()
{
    Deactivate();
}

void Dpc::Activate()
{
    if (!active_)
        multiplexer.attach(this);
    active_ = true;
}

void Dpc::Deactivate()
{
    if (active_)
        multiplexer.dettach(this);
    active_ = false;
}
