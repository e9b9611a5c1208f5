#include "signalling/kit/channel.hpp"

#include "core/dpc.hpp"
#include "core/multiplexer.hpp"
#include "sim/board.hpp"
#include "sim/mcc.hpp"
#include "signalling/kit/tap.hpp"

#include <algorithm>
#include <deque>
#include <utility>

namespace SigTest {

// The frames and notices on their way, in the order they were sent, and
// the one deferred call that hands them over.
//
// The loop runs its deferred calls twice a pass (after the timers and just
// before poll). An item is handed over on the second run after it was
// posted: one posted by a receiver (inside a run) arrives on the next pass,
// never in the pass that delivered the frame it answers.
class Scheduler : public TimerPoolPlugin {
public:
    static Scheduler& instance()
    {
        // Never destroyed: ends held by other static objects may leave
        // after it would have.
        static Scheduler* s = new Scheduler;
        return *s;
    }

    enum class Kind { frame, ready, error };

    void Post(End& to, Kind kind, const Bytes& frame = {})
    {
        items_.push_back(Item{&to, kind, frame, runs_});
        Arm();
    }

    void Forget(const End* end)
    {
        items_.erase(
            std::remove_if(items_.begin(), items_.end(), [end](const Item& i) { return i.to == end; }),
            items_.end());
        if (items_.empty()) {
            Disarm();
            timerUnhook();
        }
    }

    bool busy() const noexcept { return !items_.empty(); }

    void AddPort(SwitchPort* p) { ports_.push_back(p); }
    void RemovePort(SwitchPort* p)
    {
        ports_.erase(std::remove(ports_.begin(), ports_.end(), p), ports_.end());
    }
    std::size_t CollectPorts()
    {
        std::size_t n = 0;
        // A collected frame may destroy a port through its listener: walk a
        // copy and skip the ones gone meanwhile.
        std::vector<SwitchPort*> ports = ports_;
        for (SwitchPort* p : ports)
            if (std::find(ports_.begin(), ports_.end(), p) != ports_.end())
                n += p->Collect();
        return n;
    }

    // The loop comes back at once while anything is on its way, and once
    // more after the last item went: the pass that delivered it may have
    // had nothing else to wait for, which the loop takes for a hang.
    int poll_wait() override
    {
        if (items_.empty())
            timerUnhook();
        return 0;
    }

private:
    struct Item {
        End* to;
        Kind kind;
        Bytes frame;
        std::uint64_t posted; // runs of the deferred call before it was posted
    };

    Scheduler() { dpc_.Bind(this, &Scheduler::Run); }

    void Arm()
    {
        timerHook();
        if (armed_)
            return;
        armed_ = true;
        dpc_.Activate();
    }
    // The plugin leaves on its own next call (or when an end goes).
    void Disarm()
    {
        if (!armed_)
            return;
        armed_ = false;
        dpc_.Deactivate();
    }

    void Run()
    {
        ++runs_;
        CollectPorts();
        while (!items_.empty() && items_.front().posted + 2 <= runs_) {
            Item item = std::move(items_.front());
            items_.pop_front();
            switch (item.kind) {
            case Kind::frame:
                item.to->Deliver(item.frame);
                break;
            case Kind::ready:
                if (item.to->notify != nullptr)
                    item.to->notify->on_hdlc_ready();
                break;
            case Kind::error:
                if (item.to->notify != nullptr)
                    item.to->notify->on_hdlc_error(HDLC::Notify::Cause::read_error);
                break;
            }
        }
        if (items_.empty())
            Disarm();
    }

    std::deque<Item> items_;
    std::vector<SwitchPort*> ports_;
    std::uint64_t runs_ = 0;
    Dpc dpc_;
    bool armed_ = false;
};

bool InFlight()
{
    return Scheduler::instance().busy();
}

std::size_t CollectPorts()
{
    return Scheduler::instance().CollectPorts();
}

// ---- End

End::End(Hub& hub, std::string name, char dir) : direction(dir), hub_(hub), name_(std::move(name))
{}

End::~End()
{
    Scheduler::instance().Forget(this);
}

std::uint32_t End::Ppm(double fraction)
{
    if (!(fraction > 0.0))
        return 0;
    if (fraction >= 1.0)
        return 1000000;
    return static_cast<std::uint32_t>(fraction * 1000000.0 + 0.5);
}

void End::Seed(std::uint32_t seed)
{
    rng_.seed(seed);
}

// The same draw on every platform: the generator's numbers are fixed by the
// standard, the distributions' are not.
bool End::Roll(std::uint32_t ppm)
{
    return ppm != 0 && rng_() % 1000000u < ppm;
}

bool End::hdlc_transmit(Packet& frame)
{
    failed_ = false;
    if (frame.null() || frame.length() == 0)
        return true;
    if (fail_next_ > 0) {
        --fail_next_;
        failed_ = true;
        return false;
    }
    if (refusing_) {
        ++counters.refused;
        return false;
    }
    return Send(Bytes(frame.data(), frame.data() + frame.length()));
}

bool End::Send(const Bytes& frame)
{
    if (frame.empty())
        return true;
    if (refusing_) {
        ++counters.refused;
        return false;
    }
    ++counters.sent;
    bool lost = false;
    if (drop_next_ > 0) {
        --drop_next_;
        lost = true;
    } else {
        lost = Roll(drop_ppm_);
    }
    bool twice = false;
    if (!lost) {
        if (duplicate_next_ > 0) {
            --duplicate_next_;
            twice = true;
        } else {
            twice = Roll(duplicate_ppm_);
        }
    }
    if (tap != nullptr)
        tap->Record(*this, frame, lost, twice);
    if (lost) {
        ++counters.lost;
        return true;
    }
    hub_.Route(*this, frame);
    if (twice) {
        ++counters.duplicated;
        hub_.Route(*this, frame);
    }
    return true;
}

void End::Release()
{
    if (!refusing_)
        return;
    refusing_ = false;
    Scheduler::instance().Post(*this, Scheduler::Kind::ready);
}

void End::ReadError()
{
    Scheduler::instance().Post(*this, Scheduler::Kind::error);
}

void End::Deliver(const Bytes& frame)
{
    ++counters.received;
    if (notify == nullptr)
        return;
    // As the built channel reads a frame: no head room.
    Packet p;
    p.reserve_head(0);
    p.put(frame.data(), static_cast<unsigned int>(frame.size()));
    notify->on_hdlc_receive(p);
}

void Hub::Post(End& to, const Bytes& frame)
{
    Scheduler::instance().Post(to, Scheduler::Kind::frame, frame);
}

// ---- LoopbackHdlc

LoopbackHdlc::LoopbackHdlc(std::string a_name, std::string b_name)
    : a(*this, std::move(a_name)), b(*this, std::move(b_name))
{}

void LoopbackHdlc::SetTap(Tap* tap)
{
    a.tap = tap;
    b.tap = tap;
}

void LoopbackHdlc::Route(End& from, const Bytes& frame)
{
    Post(&from == &a ? b : a, frame);
}

// ---- Bus

Bus::Bus(std::string head_name, unsigned int terminals) : head_(*this, std::move(head_name))
{
    for (unsigned int i = 0; i < terminals; ++i)
        AddTerminal();
}

End& Bus::AddTerminal(std::string name)
{
    if (name.empty())
        name = "terminal" + std::to_string(terminals_.size());
    terminals_.push_back(std::make_unique<End>(*this, std::move(name)));
    terminals_.back()->tap = tap_;
    return *terminals_.back();
}

void Bus::SetTap(Tap* tap)
{
    tap_ = tap;
    head_.tap = tap;
    for (auto& t : terminals_)
        t->tap = tap;
}

void Bus::Route(End& from, const Bytes& frame)
{
    if (&from == &head_) {
        for (auto& t : terminals_)
            Post(*t, frame);
    } else {
        Post(head_, frame);
    }
}

// ---- SwitchPort

SwitchPort::SwitchPort(std::uint32_t channel, unsigned int terminals)
    : SwitchPort(channel, channel, terminals)
{}

SwitchPort::SwitchPort(std::uint32_t take, std::uint32_t receive, unsigned int terminals)
    : Bus("switch " + std::to_string(take), terminals), take_(take), receiver_(receive)
{
    board().notify = &receiver_;
    Scheduler::instance().AddPort(this);
}

SwitchPort::~SwitchPort()
{
    Scheduler::instance().RemovePort(this);
}

std::size_t SwitchPort::Collect()
{
    // A refusing board side leaves the frames at the output until released.
    if (!board().is_ready())
        return 0;
    auto frames = Sim::Board::instance().device<Sim::Mcc>().TakeSent(take_);
    for (const auto& f : frames)
        board().Send(f);
    return frames.size();
}

void SwitchPort::Receiver::on_hdlc_receive(Packet& frame)
{
    Sim::Board::instance().device<Sim::Mcc>().Receive(channel_, frame.data(), frame.length());
}

} // namespace SigTest
