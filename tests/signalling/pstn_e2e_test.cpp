// PSTN signalling links end to end: build/server on the simulated board,
// two links joined through looped switch channels, driven over the control
// port. Each pair comes up by itself and carries layer-3 messages both
// ways, byte for byte.

#include "support/lgcp_host.hpp"
#include "support/server_process.hpp"

// The create parameters of the in-process tests.
#include "slots/slots_host.hpp"

#include <gtest/gtest.h>

#include <chrono>
#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace {

using E2E::Bytes;
using SlotsTest::Trunk;
using SlotsTest::TrunkBRI;

LGCP::CreateParams Ss7(int trunk, int slc, int dpc, int opc)
{
    LGCP::CreateParams p;
    LGCP::SS7Params& s = p.select_pstn().select_ss7();
    s.set_trunk(trunk);
    s.set_slc(slc);
    s.set_dpc(dpc);
    s.set_opc(opc);
    s.set_emergency(true);
    return p;
}

LGCP::CreateParams Isdn(LGCP::IsdnType::NamedNumber type, bool network)
{
    LGCP::CreateParams p;
    LGCP::IsdnParams& i = p.select_pstn().select_isdn();
    i.set_type(type);
    i.set_trunk(1);
    i.set_log(0);
    if (network)
        i.get_side().select_network();
    else
        i.get_side().select_user();
    return p;
}

LGCP::CreateParams Cas()
{
    LGCP::CreateParams p;
    p.select_pstn().select_cas().set_trunk(1);
    return p;
}

// A host with the server it drives; signals that arrive while it waits for
// something else are kept for the next wait.
class Gateway {
public:
    explicit Gateway(std::string const& setup) : server_({.setup = setup}), host_(server_.port()) {}

    bool ok() const { return host_.ok(); }
    E2E::ServerProcess& server() { return server_; }

    // Sends a command to `slot`; the reply.
    Bytes Do(int slot, std::function<void(LGCP::Command&)> const& fill)
    {
        LGCP::Message m = E2E::Command(seq_, slot);
        fill(m.get_pdu().get_command());
        host_.Send(m);
        std::vector<LGCP::Message> signals;
        Bytes reply = host_.Reply(&signals, E2E::Patience(5000));
        kept_.insert(kept_.end(), signals.begin(), signals.end());
        ++seq_;
        return reply;
    }
    bool Ok(int slot, std::function<void(LGCP::Command&)> const& fill)
    {
        int const seq = seq_;
        return Do(slot, fill) == E2E::Success(seq, slot);
    }
    bool Create(int slot, LGCP::CreateParams const& params)
    {
        return Ok(slot, [&](LGCP::Command& c) { c.set_create(params); });
    }
    // Both directions between a link slot and its peer slot.
    bool Join(int link, int peer)
    {
        return Ok(peer, [&](LGCP::Command& c) { c.set_connect(static_cast<unsigned>(link)); }) &&
               Ok(link, [&](LGCP::Command& c) { c.set_connect(static_cast<unsigned>(peer)); });
    }
    bool Send(int slot, Bytes const& data)
    {
        return Ok(slot, [&](LGCP::Command& c) { c.select_userData().assign(data.begin(), data.end()); });
    }

    // The first signal of `slot` that `match` takes, within `ms` (scaled by
    // the emulator's patience); other signals stay for later waits.
    std::optional<LGCP::Signal> Await(int slot, std::function<bool(LGCP::Signal const&)> const& match, int ms)
    {
        auto const until = std::chrono::steady_clock::now() + std::chrono::milliseconds(E2E::Patience(ms));
        std::size_t seen = 0;
        for (;;) {
            for (; seen < kept_.size(); ++seen) {
                LGCP::Message const& m = kept_[seen];
                if (m.get_pdu().is_signal() && m.has_slot() &&
                    static_cast<int>(m.get_slot().getValue()) == slot && match(m.get_pdu().get_signal())) {
                    LGCP::Signal found = m.get_pdu().get_signal();
                    kept_.erase(kept_.begin() + static_cast<std::ptrdiff_t>(seen));
                    return found;
                }
            }
            auto const left = std::chrono::duration_cast<std::chrono::milliseconds>(
                until - std::chrono::steady_clock::now());
            Bytes payload;
            if (left.count() <= 0 || !host_.Receive(payload, static_cast<int>(left.count())))
                return std::nullopt;
            LGCP::Message m;
            if (E2E::Decode(payload, m))
                kept_.push_back(m);
        }
    }
    bool Activated(int slot, int ms = 5000)
    {
        return Await(
                   slot, [](LGCP::Signal const& s) { return s.is_activated(); }, ms)
            .has_value();
    }
    std::optional<Bytes> Data(int slot, int ms = 3000)
    {
        auto s = Await(
            slot, [](LGCP::Signal const& s) { return s.is_userData(); }, ms);
        if (!s)
            return std::nullopt;
        return Bytes(s->get_userData().begin(), s->get_userData().end());
    }
    bool Report(int slot, bool (LGCP::IoctlResponse::*is)() const, int ms = 4000)
    {
        return Await(
                   slot, [is](LGCP::Signal const& s) { return s.is_ioctl() && (s.get_ioctl().*is)(); }, ms)
            .has_value();
    }

private:
    E2E::ServerProcess server_;
    E2E::LgcpHost host_;
    std::vector<LGCP::Message> kept_;
    int seq_ = 1;
};

// Trunk 0, time slots 1 and 2, looped like a cable: what one link sends on
// its time slot the other receives.
constexpr char const* kLoopedPair = "/dev/mcc/ctl loop 1 2; /dev/mcc/ctl autopump on";

TEST(PstnE2E, PrimaryRateUserAndNetworkCarryQ931BothWays)
{
    Gateway gw(kLoopedPair);
    ASSERT_TRUE(gw.ok());
    ASSERT_TRUE(gw.Create(1, Trunk(0, 1)));
    ASSERT_TRUE(gw.Create(2, Trunk(0, 2)));
    ASSERT_TRUE(gw.Create(10, Isdn(LGCP::IsdnType::pri, false)));
    ASSERT_TRUE(gw.Create(11, Isdn(LGCP::IsdnType::pri, true)));
    ASSERT_TRUE(gw.Join(10, 1));
    ASSERT_TRUE(gw.Join(11, 2));
    EXPECT_TRUE(gw.Activated(10));
    EXPECT_TRUE(gw.Activated(11));

    // SETUP, call reference 1: bearer capability speech, channel 1.
    Bytes const setup{0x08, 0x01, 0x01, 0x05, 0x04, 0x03, 0x80, 0x90, 0xA3, 0x18, 0x03, 0xA9, 0x83, 0x81};
    ASSERT_TRUE(gw.Send(10, setup));
    EXPECT_EQ(gw.Data(11), setup);
    Bytes const proceeding{0x08, 0x01, 0x81, 0x02, 0x18, 0x03, 0xA9, 0x83, 0x81};
    ASSERT_TRUE(gw.Send(11, proceeding));
    EXPECT_EQ(gw.Data(10), proceeding);

    EXPECT_TRUE(gw.Report(10, &LGCP::IoctlResponse::is_hdlcLinkInfo));
    EXPECT_TRUE(gw.Report(11, &LGCP::IoctlResponse::is_hdlcLinkInfo));
}

TEST(PstnE2E, Ss7LinksProveInEmergencyAndCarryAnMsuEachWay)
{
    Gateway gw(kLoopedPair);
    ASSERT_TRUE(gw.ok());
    ASSERT_TRUE(gw.Create(1, Trunk(0, 1)));
    ASSERT_TRUE(gw.Create(2, Trunk(0, 2)));
    ASSERT_TRUE(gw.Create(10, Ss7(1, 0, 2, 1)));
    ASSERT_TRUE(gw.Create(11, Ss7(1, 0, 1, 2)));
    ASSERT_TRUE(gw.Join(10, 1));
    ASSERT_TRUE(gw.Join(11, 2));
    // Alignment and emergency proving (Q.703 7.3: T4 of 0.5 s).
    EXPECT_TRUE(gw.Activated(10, 8000));
    EXPECT_TRUE(gw.Activated(11, 8000));

    // Service information octet (national, SCCP), then a routing label and
    // a few octets of user part.
    Bytes const msu{0x83, 0x01, 0x80, 0x00, 0x00, 0x09, 0x00, 0x03, 0x05, 0x07};
    ASSERT_TRUE(gw.Send(10, msu));
    EXPECT_EQ(gw.Data(11), msu);
    Bytes const back{0x83, 0x02, 0x40, 0x00, 0x00, 0x0A, 0x00};
    ASSERT_TRUE(gw.Send(11, back));
    EXPECT_EQ(gw.Data(10), back);
}

// Two basic-rate channels, line 2 and line 3, channel 2 each (switch
// channels 10 and 14), looped; the user side's terminal gets TEI 0 and the
// network side adopts it.
TEST(PstnE2E, BasicRateUserAndNetworkSides)
{
    Gateway gw("/dev/mcc/ctl loop 10 14; /dev/mcc/ctl autopump on");
    ASSERT_TRUE(gw.ok());
    ASSERT_TRUE(gw.Create(5, TrunkBRI(2, 2)));
    ASSERT_TRUE(gw.Create(6, TrunkBRI(3, 2)));
    ASSERT_TRUE(gw.Create(20, Isdn(LGCP::IsdnType::bri, false)));
    ASSERT_TRUE(gw.Create(21, Isdn(LGCP::IsdnType::bri, true)));
    // One direction each: nothing starts yet.
    ASSERT_TRUE(gw.Ok(5, [](LGCP::Command& c) { c.set_connect(20); }));
    ASSERT_TRUE(gw.Ok(21, [](LGCP::Command& c) { c.set_connect(6); }));
    EXPECT_FALSE(gw.Activated(20, 300));
    EXPECT_FALSE(gw.Activated(21, 300));
    ASSERT_TRUE(gw.Ok(20, [](LGCP::Command& c) { c.set_connect(5); }));
    ASSERT_TRUE(gw.Ok(6, [](LGCP::Command& c) { c.set_connect(21); }));
    EXPECT_TRUE(gw.Activated(21));
    EXPECT_TRUE(gw.Activated(20));

    // The terminal's first message binds its call reference; the network
    // side's answer goes back to it.
    Bytes const setup{0x08, 0x01, 0x03, 0x05, 0x04, 0x03, 0x80, 0x90, 0xA2};
    ASSERT_TRUE(gw.Send(20, setup));
    EXPECT_EQ(gw.Data(21), setup);
    Bytes const alerting{0x08, 0x01, 0x83, 0x01};
    ASSERT_TRUE(gw.Send(21, alerting));
    EXPECT_EQ(gw.Data(20), alerting);
}

TEST(PstnE2E, CasReportsItsChannelAndRefusesSs7Ioctls)
{
    Gateway gw(kLoopedPair);
    ASSERT_TRUE(gw.ok());
    ASSERT_TRUE(gw.Create(1, Trunk(0, 1)));
    ASSERT_TRUE(gw.Create(10, Cas()));
    ASSERT_TRUE(gw.Join(10, 1));
    EXPECT_TRUE(gw.Report(10, &LGCP::IoctlResponse::is_hdlcLinkInfo));
    Bytes const reply = gw.Do(10, [](LGCP::Command& c) { c.select_ioctl().set_ss7RqBSN(); });
    EXPECT_EQ(reply, E2E::Error(5, LGCP::ErrorCause::unsupported, 10));
    // The channel runs in SS7 mode (driver mode 3) on the trunk's time slot.
    std::string const controllers = gw.server().Ask("/dev/mcc/ctl slots");
    EXPECT_NE(controllers.find(" mode 3 "), std::string::npos) << controllers;
}

} // namespace
