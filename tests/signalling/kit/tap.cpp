#include "signalling/kit/tap.hpp"

#include "core/clock.hpp"
#include "sim/board.hpp"
#include "sim/mcc.hpp"
#include "signalling/kit/channel.hpp"

namespace SigTest {

Tap::~Tap()
{
    Unwatch();
}

void Tap::Record(const End& from, const std::vector<std::uint8_t>& frame, bool lost, bool duplicated)
{
    frames_.push_back(TapFrame{from.name(), from.direction, Mux::test::now_us(), frame, lost, duplicated});
}

void Tap::WatchSwitch(std::uint32_t output, std::string name, char direction)
{
    watches_.push_back(Watch{output, std::move(name), direction});
    Sim::Board::instance().device<Sim::Mcc>().Observe([this](std::uint32_t out,
                                                             const Sim::Mcc::Frame& frame) {
        for (const Watch& w : watches_)
            if (w.output == out)
                frames_.push_back(TapFrame{w.name, w.direction, Mux::test::now_us(), frame, false, false});
    });
}

void Tap::Unwatch()
{
    if (watches_.empty())
        return;
    watches_.clear();
    Sim::Board::instance().device<Sim::Mcc>().Observe(nullptr);
}

std::vector<TapFrame> Tap::From(const std::string& name) const
{
    std::vector<TapFrame> out;
    for (const TapFrame& f : frames_)
        if (f.from == name)
            out.push_back(f);
    return out;
}

} // namespace SigTest
