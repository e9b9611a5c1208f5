// The HDLC packet slot in process, on the simulated board and the frozen
// loop clock: packages framed and sent with their sequence numbers, received
// frames batched back to the host, the send queue, the statistics, the
// channel's life with the slot's connections, and the trace lines.

#include "signalling/hdlc_slot.hpp"

#include "signalling/pstn_slot.hpp"

#include "slots/slots_fixture.hpp"

#include "core/traces.hpp"
#include "sim/mcc.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <set>
#include <string>
#include <vector>

using namespace SlotsTest;
using SimTest::Capture;

namespace {

using Bytes = std::vector<unsigned char>;
using Lines = std::vector<std::string>;

LGCP::CreateParams Hdlc(int trunk, int address)
{
    LGCP::CreateParams p;
    LGCP::HdlcParams& h = p.select_hdlcParams();
    h.set_trunk(trunk);
    h.set_log(0);
    h.set_address(address);
    return p;
}

LGCP::Command Packages(std::vector<std::string> const& bodies)
{
    LGCP::Command c;
    auto& list = c.select_ioctl().select_hdlcPackages();
    for (auto const& b : bodies) {
        LGCP::HdlcPackage p;
        p.set_body(b);
        list.push_back(p);
    }
    return c;
}

Bytes Frame(unsigned address, unsigned control, Bytes const& body)
{
    // Sized first: g++ 12 at -O2 misreads a range insert after three octets
    // as an overflow (-Warray-bounds).
    Bytes f(3 + body.size());
    f[0] = static_cast<unsigned char>(address >> 8);
    f[1] = static_cast<unsigned char>(address);
    f[2] = static_cast<unsigned char>(control);
    std::copy(body.begin(), body.end(), f.begin() + 3);
    return f;
}

// A body whose second octet says whether more of the batch follows.
Bytes Body(unsigned char first, bool more, std::size_t size = 2)
{
    Bytes b(size, first);
    b[1] = more ? 0x80 : 0x00;
    return b;
}

LGCP::CreateParams Cas(int trunk)
{
    LGCP::CreateParams p;
    p.select_pstn().select_cas().set_trunk(trunk);
    return p;
}

std::string Hex(Bytes const& bytes)
{
    static char const digits[] = "0123456789ABCDEF";
    std::string s;
    for (unsigned char b : bytes) {
        s += digits[b >> 4];
        s += digits[b & 15];
    }
    return s;
}

// The bodies of each `ioctl` hdlcPackages signal; other messages are left out.
std::vector<std::vector<Bytes>> Batches(std::vector<Received> const& messages)
{
    std::vector<std::vector<Bytes>> out;
    for (auto const& m : messages) {
        if (m.kind != Received::Signal || !m.signal.is_ioctl() || !m.signal.get_ioctl().is_hdlcPackages())
            continue;
        out.emplace_back();
        for (auto const& p : m.signal.get_ioctl().get_hdlcPackages())
            out.back().emplace_back(p.get_body().begin(), p.get_body().end());
    }
    return out;
}

int LinkInfos(std::vector<Received> const& messages)
{
    int n = 0;
    for (auto const& m : messages)
        n += m.kind == Received::Signal && m.signal.is_ioctl() && m.signal.get_ioctl().is_hdlcLinkInfo();
    return n;
}

class HdlcSlots : public Fixture {
protected:
    void SetUp() override
    {
        Fixture::SetUp();
        EXPECT_EQ(Texts(host().Create(10, Hdlc(1, 0x1234))), Lines{"success seq=1 slot=10"});
        host().Create(3, Trunk(0, 3)); // switch channel 3
        host().Take();
    }
    void TearDown() override
    {
        traces.Reset();
        Fixture::TearDown();
    }

    HdlcSlot* hdlc() { return dynamic_cast<HdlcSlot*>(slot(10)); }
    void Receive(Bytes const& frame)
    {
        Packet p;
        p.reserve_head(0);
        p.put(frame.data(), static_cast<unsigned int>(frame.size()));
        hdlc()->on_hdlc_receive(p);
    }
    // The HDLC slot feeds the trunk slot: its channel opens on switch
    // channel 3 and is ready once the loop has seen it writable.
    void Open(bool ready = true)
    {
        // The host hears of the slot's transmitter first (it names no
        // switch channel of its own).
        auto const m = Texts(host().Connect(10, 3));
        ASSERT_EQ(m.back(), "success seq=" + std::to_string(host().LastSeq()) + " slot=10");
        Pass();
        ASSERT_TRUE(hdlc()->channel().is_open());
        if (ready) {
            ASSERT_TRUE(hdlc()->channel().is_ready());
        }
    }
    void Pass(int n = 2)
    {
        for (int i = 0; i < n && multiplexer.event_count() > 0; ++i)
            Mux::test::run_once(0);
    }
    // Frames the channel wrote that reached switch channel 3, as hex.
    Lines Sent()
    {
        board().device<Sim::Mcc>().Pump();
        Lines out;
        for (auto const& f : board().device<Sim::Mcc>().TakeSent(3))
            out.push_back(Hex(Bytes(f.begin(), f.end())));
        return out;
    }

    HdlcSlotFactory factory_; // created last: asked first
};

TEST_F(HdlcSlots, PackagesGoOutWithAddressAndSequenceNumbers)
{
    Open();
    EXPECT_EQ(Texts(host().Exchange(Packages({"\x01", "\x02\x03", ""}), 10)), Lines{"success seq=4 slot=10"});
    EXPECT_EQ(Sent(), (Lines{"12340001", "1234200203", "123440"}));
    // The send sequence is 3 bits: the ninth package carries 0 again.
    host().Exchange(Packages({"a", "b", "c", "d", "e", "f"}), 10);
    EXPECT_EQ(Sent().back(), "12340066");
    host().Exchange(Packages({"i"}), 10);
    EXPECT_EQ(Sent(), Lines{"12342069"});
    // What we last received from the peer rides in the low bits.
    Receive(Frame(0x1234, 0x60, {0x00}));
    host().Exchange(Packages({"j"}), 10);
    EXPECT_EQ(Sent(), Lines{"1234436A"});
    EXPECT_EQ(hdlc()->channel().txSU, 11u);
}

TEST_F(HdlcSlots, ReceivedFramesComeBackInBatches)
{
    // More follows, then the batch ends: one signal with both, at once.
    Receive(Frame(0x1234, 0, Body(1, true)));
    EXPECT_TRUE(host().Take().empty());
    Mux::test::advance(50);
    Receive(Frame(0x1234, 0, Body(2, false)));
    auto batches = Batches(host().Take());
    ASSERT_EQ(batches.size(), 1u);
    EXPECT_EQ(batches[0], (std::vector<Bytes>{Body(1, true), Body(2, false)}));
    EXPECT_FALSE(hdlc()->flush_armed());

    // A batch without its end goes out 100 ms after its first frame: a
    // second frame does not push the deadline back.
    Receive(Frame(0x1234, 0, Body(3, true)));
    Mux::test::advance(50);
    Receive(Frame(0x1234, 0, Body(4, true)));
    Mux::test::advance(49);
    EXPECT_TRUE(host().Take().empty());
    Mux::test::advance(1);
    batches = Batches(host().Take());
    ASSERT_EQ(batches.size(), 1u);
    EXPECT_EQ(batches[0], (std::vector<Bytes>{Body(3, true), Body(4, true)}));

    // Another address's frame is not ours, but its bit still ends the batch.
    Receive(Frame(0x1234, 0, Body(5, true)));
    Receive(Frame(0x4321, 0, Body(6, false)));
    batches = Batches(host().Take());
    ASSERT_EQ(batches.size(), 1u);
    EXPECT_EQ(batches[0], std::vector<Bytes>{Body(5, true)});
    // Nothing pending: nothing to send.
    Receive(Frame(0x4321, 0, Body(7, false)));
    Mux::test::advance(200);
    EXPECT_TRUE(host().Take().empty());
}

TEST_F(HdlcSlots, ShortFramesChangeNothingOrEndTheirBatch)
{
    Receive(Frame(0x1234, 0xA0, Body(1, true)));
    {
        Capture err(std::cerr);
        for (Bytes const& f : {Bytes{}, Bytes{0x12}, Bytes{0x12, 0x34}})
            Receive(f);
        EXPECT_EQ(err.str(), "HdlcSlot[0/*]: frame of 0 octets dropped\n"
                             "HdlcSlot[0/*]: frame of 1 octets dropped\n"
                             "HdlcSlot[0/*]: frame of 2 octets dropped\n");
    }
    EXPECT_EQ(hdlc()->pending().size(), 1u);
    EXPECT_TRUE(hdlc()->flush_armed());
    EXPECT_TRUE(host().Take().empty());

    // Three octets: an empty package, and the batch is over.
    Receive(Frame(0x1234, 0, {}));
    auto batches = Batches(host().Take());
    ASSERT_EQ(batches.size(), 1u);
    EXPECT_EQ(batches[0], (std::vector<Bytes>{Body(1, true), Bytes{}}));
    EXPECT_FALSE(hdlc()->flush_armed());
    // Four: a one-octet package, likewise.
    Receive(Frame(0x1234, 0, Body(2, true)));
    Receive(Frame(0x1234, 0, {0xFF}));
    batches = Batches(host().Take());
    ASSERT_EQ(batches.size(), 1u);
    EXPECT_EQ(batches[0], (std::vector<Bytes>{Body(2, true), Bytes{0xFF}}));
}

TEST_F(HdlcSlots, LongBatchesAreSplitIntoMessagesThatFit)
{
    // 200 short frames: the host's decoder takes 128 packages at most.
    for (int i = 0; i < 200; ++i)
        Receive(Frame(0x1234, 0, Body(static_cast<unsigned char>(i), i != 199)));
    auto batches = Batches(host().Take());
    ASSERT_EQ(batches.size(), 2u);
    EXPECT_EQ(batches[0].size(), 128u);
    std::vector<Bytes> all;
    for (auto const& b : batches)
        all.insert(all.end(), b.begin(), b.end());
    ASSERT_EQ(all.size(), 200u);
    for (int i = 0; i < 200; ++i)
        ASSERT_EQ(all[i], Body(static_cast<unsigned char>(i), i != 199)) << i;

    // 40 bodies of 2000 octets: more than one TPKT frame could carry.
    for (int i = 0; i < 40; ++i)
        Receive(Frame(0x1234, 0, Body(static_cast<unsigned char>(i), i != 39, 2000)));
    batches = Batches(host().Take());
    ASSERT_GE(batches.size(), 2u);
    all.clear();
    for (auto const& b : batches)
        all.insert(all.end(), b.begin(), b.end());
    ASSERT_EQ(all.size(), 40u);
    for (int i = 0; i < 40; ++i)
        EXPECT_EQ(all[i], Body(static_cast<unsigned char>(i), i != 39, 2000)) << i;

    // A body the coder cannot write is dropped alone.
    Capture err(std::cerr);
    Receive(Frame(0x1234, 0, Body(1, true)));
    Receive(Frame(0x1234, 0, Body(2, true, 16384)));
    Receive(Frame(0x1234, 0, Body(3, false)));
    EXPECT_EQ(err.str(),
              "HdlcSlot[0/*]: received package of 16384 octets is too long for the host, dropped\n");
    batches = Batches(host().Take());
    ASSERT_EQ(batches.size(), 1u);
    EXPECT_EQ(batches[0], (std::vector<Bytes>{Body(1, true), Body(3, false)}));
}

TEST_F(HdlcSlots, FullQueueDropsWithALineAndTheRestLeavesInOrder)
{
    // No channel yet: everything waits.
    std::vector<std::string> bodies;
    for (int i = 0; i < 121; ++i)
        bodies.push_back(std::string(1, static_cast<char>(i)));
    {
        Capture err(std::cerr);
        EXPECT_EQ(Texts(host().Exchange(Packages(bodies), 10)), Lines{"success seq=3 slot=10"});
        EXPECT_EQ(err.str(), "HdlcSlot[0/*]: send queue full (120), package dropped\n");
    }
    EXPECT_EQ(hdlc()->queued(), 120u);

    // The channel takes a few frames, then refuses: the refused one stays
    // first while the board does not take them away.
    Open(false);
    unsigned const left = hdlc()->queued();
    EXPECT_GT(left, 0u);
    Pass(5);
    EXPECT_EQ(hdlc()->queued(), left);
    Lines sent;
    for (int i = 0; i < 200 && hdlc()->queued() > 0; ++i) {
        for (auto const& f : Sent())
            sent.push_back(f);
        Pass();
    }
    for (auto const& f : Sent())
        sent.push_back(f);
    ASSERT_EQ(sent.size(), 120u);
    for (int i = 0; i < 120; ++i) {
        char control[3];
        std::snprintf(control, sizeof control, "%02X", (i * 32) & 0xE0);
        ASSERT_EQ(sent[i], "1234" + std::string(control) + Hex({static_cast<unsigned char>(i)})) << i;
    }
}

TEST_F(HdlcSlots, QueuesLeaveTheServerItsPacketBuffers)
{
    // What the rest of the server holds, down to one buffer above the reserve.
    std::vector<Packet> held;
    while (Packet::pool_free() > HdlcSlot::PoolReserve + 1) {
        held.emplace_back();
        held.back().reserve_head(0);
    }
    Capture err(std::cerr);
    EXPECT_EQ(Texts(host().Exchange(Packages({"a", "b"}), 10)), Lines{"success seq=3 slot=10"});
    EXPECT_EQ(err.str(), "HdlcSlot[0/*]: packet buffers low (128 free), package dropped\n");
    EXPECT_EQ(hdlc()->queued(), 1u);
}

// A body longer than the channel's frame is refused with its command,
// before any package of the list is queued; the next command goes on.
TEST_F(HdlcSlots, BodyThatCannotBeFramedIsRefused)
{
    Open();
    LGCP::Command c = Packages({"a", "", "b"});
    c.get_ioctl().get_hdlcPackages()[1].set_body(std::string(9000, 'x'));
    Capture err(std::cerr);
    EXPECT_EQ(Texts(host().Exchange(c, 10)), Lines{"error unsupported seq=4 slot=10"});
    EXPECT_EQ(err.str(), "HdlcSlot[0/*]: package of 9000 octets does not fit a frame, refused\n");
    EXPECT_EQ(Texts(host().Exchange(Packages({"a", "b"}), 10)), Lines{"success seq=5 slot=10"});
    EXPECT_EQ(Sent(), (Lines{"12340061", "12342062"}));
}

TEST_F(HdlcSlots, CountersEveryThreeSecondsAndOnDeactivate)
{
    // From creation (in SetUp, at the frozen clock's time).
    Mux::test::advance(2999);
    EXPECT_EQ(LinkInfos(host().Take()), 0);
    Mux::test::advance(1);
    auto m = host().Take();
    ASSERT_EQ(LinkInfos(m), 1);
    EXPECT_EQ(m.front().Text(), "signal slot=10 ioctl : hdlcLinkInfo : { txSU 0, txDiscard 0, txError 0, "
                                "txOverflow 0, rxSU 0 }");

    Open();
    host().Exchange(Packages({"a", "b"}), 10);
    Mux::test::advance(1000);
    host().Take();
    // A report at once, and the next one 3000 ms later.
    LGCP::Command deactivate;
    deactivate.set_deactivate();
    m = host().Exchange(deactivate, 10);
    ASSERT_EQ(m.size(), 2u);
    EXPECT_EQ(m[0].Text(), "signal slot=10 ioctl : hdlcLinkInfo : { txSU 2, txDiscard 0, txError 0, "
                           "txOverflow 0, rxSU 0 }");
    EXPECT_EQ(m[1].Text(), "success seq=5 slot=10");
    EXPECT_TRUE(hdlc()->channel().is_open());
    Mux::test::advance(2999);
    EXPECT_EQ(LinkInfos(host().Take()), 0);
    Mux::test::advance(1);
    EXPECT_EQ(LinkInfos(host().Take()), 1);
}

TEST_F(HdlcSlots, ChannelLivesWithTheConnections)
{
    // As the source: the trunk's disconnect closes the channel.
    Open();
    EXPECT_EQ(board().device<Sim::Mcc>().Controllers().size(), 1u);
    host().Disconnect(3);
    EXPECT_FALSE(hdlc()->channel().is_open());
    EXPECT_TRUE(board().device<Sim::Mcc>().Controllers().empty());

    // As the listener: its own disconnect closes it.
    EXPECT_EQ(host().Connect(3, 10).back().Text(), "success seq=5 slot=3");
    EXPECT_TRUE(hdlc()->channel().is_open());
    EXPECT_EQ(hdlc()->channel().rx_channel, 3);
    EXPECT_EQ(hdlc()->channel().mode, 1);
    host().Disconnect(10);
    EXPECT_FALSE(hdlc()->channel().is_open());

    // A peer without a switch channel: nothing opens.
    host().Create(20, TestKind(-1, -1));
    EXPECT_EQ(host().Connect(10, 20).back().Text(), "success seq=8 slot=10");
    EXPECT_FALSE(hdlc()->channel().is_open());
    EXPECT_EQ(board().OpenCount("/dev/mcc/ctl"), 0u);
}

TEST_F(HdlcSlots, FailedActivationIsRefusedAndReportedUpToTheLastDescriptorAndTheSlotStays)
{
    board().SetPresent("/dev/mcc/ctl", false);
    LGCP::Command activate;
    activate.select_activate().set_empty();
    Capture err(std::cerr);
    EXPECT_EQ(Texts(host().Exchange(activate, 10)),
              (Lines{"signal slot=10 deactivated : networkError", "error unsupported seq=3 slot=10"}));
    EXPECT_NE(hdlc(), nullptr);
    board().SetPresent("/dev/mcc/ctl", true);
    host().Exchange(activate, 10);
    EXPECT_TRUE(hdlc()->channel().is_open());

    // The link's peer known (the trunk's switch channel 3), its channel
    // closed: descriptors one by one, an activate whose channel cannot be
    // opened or watched is refused with one line and `deactivated`, and
    // leaves no controller or descriptor behind, until the first whose
    // channel is open, watched and tied to the peer.
    Open();
    host().Disconnect(3);
    ASSERT_FALSE(hdlc()->channel().is_open());
    Sim::Mcc& mcc = board().device<Sim::Mcc>();
    int free = 0;
    for (;; ++free) {
        ASSERT_LT(free, 8);
        // The board lets go of its ends of the opens closed so far.
        ASSERT_EQ(board().OpenCount("/dev/mcc/ctl"), 0u);
        std::set<int> const before = SimTest::OpenDescriptors();
        err.clear();
        Lines answer;
        {
            SimTest::DescriptorLimit low(free);
            answer = Texts(host().Exchange(activate, 10));
        }
        if (!hdlc()->channel().is_open()) {
            EXPECT_EQ(answer,
                      (Lines{"signal slot=10 deactivated : networkError",
                             "error unsupported seq=" + std::to_string(host().LastSeq()) + " slot=10"}))
                << free;
            std::string const said = err.str();
            EXPECT_EQ(std::count(said.begin(), said.end(), '\n'), 1) << free << ": " << said;
            EXPECT_TRUE(mcc.Controllers().empty());
            EXPECT_EQ(board().OpenCount("/dev/mcc/ctl"), 0u);
            EXPECT_EQ(SimTest::OpenDescriptors(), before) << free;
            continue;
        }
        EXPECT_EQ(answer, Lines{"success seq=" + std::to_string(host().LastSeq()) + " slot=10"});
        EXPECT_EQ(mcc.Controllers().size(), 1u);
        EXPECT_TRUE(err.str().empty()) << err.str();
        break;
    }
    EXPECT_GT(free, 0);

    // A PSTN link answers its activate the same way.
    PstnFactory pstn;
    host().Create(11, Cas(1));
    board().SetPresent("/dev/mcc/ctl", false);
    Lines answer = Texts(host().Exchange(activate, 11));
    EXPECT_EQ(answer, (Lines{"signal slot=11 deactivated : networkError",
                             "error unsupported seq=" + std::to_string(host().LastSeq()) + " slot=11"}));
    board().SetPresent("/dev/mcc/ctl", true);
    host().Destroy(11);
}

TEST_F(HdlcSlots, TracesUnderTheirSwitchAndErrorsAlways)
{
    Open();
    {
        // The read error is reported whether traced or not.
        Capture log(std::clog);
        Capture err(std::cerr);
        auto controllers = board().device<Sim::Mcc>().Controllers();
        ASSERT_EQ(controllers.size(), 1u);
        board().device<Sim::Mcc>().ReadError(controllers.begin()->first);
        Pass();
        EXPECT_EQ(log.str(), "HdlcSlot[0/*]: on_hdlc_error\n");
    }
    traces[TraceCtl::signalling_hdlc] = true;
    Capture log(std::clog);
    host().Create(11, Hdlc(5, 0x10007));
    EXPECT_EQ(log.str(), "\n\nHdlcSlotFactory.INewSlot\n\n\n"
                         "HdlcSlot[4/*]: trunk=4, address=7\n");
    // Every create request asks it first.
    log.clear();
    host().Create(12, Trunk(0, 4));
    EXPECT_EQ(log.str().rfind("\n\nHdlcSlotFactory.INewSlot\n\n\n", 0), 0u) << log.str();
    log.clear();
    LGCP::Command activate;
    activate.select_activate().set_empty();
    host().Exchange(activate, 10);
    EXPECT_NE(log.str().find("HdlcSlot[0/*]: IActivate\n"
                             "HdlcSlot[0/*]: Try to activate HDCL, params.tdm = 3\n"),
              std::string::npos)
        << log.str();
    EXPECT_NE(log.str().find("HdlcSlot[0/*]: HDLC activated successfully\n"), std::string::npos);
}

} // namespace
