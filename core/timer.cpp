#include "core/timer.hpp"

#include "core/clock.hpp"
#include "core/multiplexer.hpp"

TimerEvent::~TimerEvent()
{
    reset();
}

void TimerEvent::schedule(unsigned int ms)
{
    expiry = Mux::milliseconds() + ms;
    multiplexer.set(this);
}

void TimerEvent::reset()
{
    multiplexer.reset(this);
}

bool TimerEvent::armed() const noexcept
{
    return owner_list() != nullptr;
}

SimpleTimerEvent1::SimpleTimerEvent1(Timer* holder, void (*fn)(), unsigned int ms) : holder_(holder), fn_(fn)
{
    schedule(ms);
    holder_->reset(this);
}

void SimpleTimerEvent1::fire()
{
    if (holder_->get() == this)
        holder_->release();
    fn_();
    delete this;
}
