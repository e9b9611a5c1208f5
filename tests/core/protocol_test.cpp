#include "core/protocol.hpp"

#include <gtest/gtest.h>

#include <cstdint>
#include <sstream>
#include <string>
#include <vector>

namespace {

using Log = std::vector<std::string>;

// A layer with a one-byte header carrying its tag. Its start-up completes at
// once unless it is told to wait.
class TagLayer : public Protocol {
public:
    TagLayer(Log& log, std::string name, std::uint8_t tag) : log(log), id(std::move(name)), tag(tag) {}
    ~TagLayer() override { log.push_back("delete " + id); }

    void local_prepare_head(Packet& pkt) override { pkt.reserve_head(1); }

    void message(Packet& pkt) override
    {
        pkt.push8(tag);
        transmit(pkt);
    }

    void receive(Packet& pkt) override
    {
        if (pkt.pull8() != tag) {
            on_status(new Protocol_status_error(this, id + ": bad header"));
            return;
        }
        on_message(pkt);
    }

    void local_activate() override
    {
        log.push_back("activate " + id);
        if (!hold_activation)
            on_activate();
    }

    void local_deactivate() override
    {
        log.push_back("deactivate " + id);
        Protocol::local_deactivate();
    }

    Protocol_status local_initialize() override
    {
        log.push_back("initialize " + id);
        if (fail_initialize)
            return new Protocol_initialize_error(this, id + " cannot start");
        return Protocol::local_initialize();
    }

    Log& log;
    std::string id;
    std::uint8_t tag;
    bool hold_activation = false;
    bool fail_initialize = false;
};

// The bottom of the stack: its medium is a list of written frames.
class Medium : public TagLayer {
public:
    using TagLayer::TagLayer;

    void message(Packet& pkt) override
    {
        pkt.push8(tag);
        wire.push_back(pkt.text());
    }

    void deliver(std::vector<std::uint8_t> const& frame)
    {
        Packet pkt;
        pkt.reserve_head(0);
        pkt.put(frame.data(), static_cast<unsigned int>(frame.size()));
        receive(pkt);
    }

    std::vector<std::string> wire;
};

// The owner of the stack: consumes what arrives at the top and hears every
// change of state.
class Stack : public ProtocolsFamily {
public:
    explicit Stack(Log& log) : log(log)
    {
        add_protocol_tail(bottom = new Medium(log, "bottom", 0xB0));
        add_protocol_tail(middle = new TagLayer(log, "middle", 0x30));
        add_protocol_tail(upper = new TagLayer(log, "top", 0x70));
    }

    void on_message(Packet& pkt) override { received.push_back(pkt.text()); }
    void on_activated(Protocol* p) override
    {
        log.push_back("family activated by " + static_cast<TagLayer*>(p)->id);
        ProtocolsFamily::on_activated(p);
    }
    void on_activate() override { log.push_back("family active"); }
    void on_deactivated(Protocol* p, Protocol_status s) override
    {
        log.push_back("family deactivated by " + static_cast<TagLayer*>(p)->id + ": " + s->message());
        ProtocolsFamily::on_deactivated(p, s);
    }
    void on_deactivate(Protocol_status s) override
    {
        log.push_back(std::string("family down ") + (s->success() ? "ok " : "failed ") + s->message());
    }
    void on_status(Protocol_status s) override { log.push_back("status " + s->message()); }

    Log& log;
    Medium* bottom;
    TagLayer* middle;
    TagLayer* upper;
    std::vector<std::string> received;
};

TEST(ProtocolStack, PacketsGoDownWithHeadersAndComeUpWithout)
{
    Log log;
    Stack stack(log);

    Packet pkt;
    stack.prepare_head(pkt);
    EXPECT_EQ(pkt.headroom(), 3u);
    pkt.put8(0x01);
    pkt.put8(0x02);
    stack.message(pkt);
    ASSERT_EQ(stack.bottom->wire.size(), 1u);
    EXPECT_EQ(stack.bottom->wire[0], "B0 30 70 01 02");

    stack.bottom->deliver({0xB0, 0x30, 0x70, 0xCA, 0xFE});
    ASSERT_EQ(stack.received.size(), 1u);
    EXPECT_EQ(stack.received[0], "CA FE");

    // A layer that rejects a frame reports it upwards; nothing is delivered.
    stack.bottom->deliver({0xB0, 0x31, 0x70});
    EXPECT_EQ(stack.received.size(), 1u);
    EXPECT_EQ(log, (Log{"status middle: bad header"}));
}

TEST(ProtocolStack, ActivationClimbsFromTheBottomAndReachesTheFamilyOnce)
{
    Log log;
    Stack stack(log);
    stack.activate();
    EXPECT_EQ(log, (Log{"activate bottom", "activate middle", "activate top", "family activated by top",
                        "family active"}));
}

TEST(ProtocolStack, ActivationWaitsForALayerThatStartsLater)
{
    Log log;
    Stack stack(log);
    stack.middle->hold_activation = true;
    stack.activate();
    EXPECT_EQ(log, (Log{"activate bottom", "activate middle"}));
    log.clear();
    stack.middle->on_activate(); // e.g. its connect completed
    EXPECT_EQ(log, (Log{"activate top", "family activated by top", "family active"}));
}

TEST(ProtocolStack, DeactivationDescendsAndDeliversOneSuccess)
{
    Log log;
    Stack stack(log);
    stack.deactivate();
    EXPECT_EQ(log, (Log{"deactivate top", "deactivate middle", "deactivate bottom",
                        "family deactivated by bottom: success", "family down ok success"}));
}

TEST(ProtocolStack, AFailureClimbsToTheFamilyThroughTheTopOnly)
{
    Log log;
    Stack stack(log);
    stack.bottom->on_deactivate(new Protocol_status_error(stack.bottom, "read error: reset"));
    // Nothing below the failing layer is touched; the owner decides.
    EXPECT_EQ(log,
              (Log{"family deactivated by top: read error: reset", "family down failed read error: reset"}));

    log.clear();
    stack.bottom->on_status(new Protocol_status_error(stack.bottom, "slow peer"));
    EXPECT_EQ(log, (Log{"status slow peer"}));
}

TEST(ProtocolStack, InitialisationStopsAtTheFirstFailingLayer)
{
    Log log;
    Stack stack(log);
    Protocol_status ok = stack.initialize();
    EXPECT_TRUE(ok->success());
    EXPECT_EQ(log, (Log{"initialize bottom", "initialize middle", "initialize top"}));

    log.clear();
    stack.middle->fail_initialize = true;
    Protocol_status failed = stack.initialize();
    EXPECT_FALSE(failed->success());
    EXPECT_EQ(failed->message(), "middle cannot start");
    EXPECT_EQ(failed->origin(), stack.middle);
    std::ostringstream os;
    os << *failed;
    EXPECT_EQ(os.str(), "middle cannot start");
    EXPECT_EQ(log, (Log{"initialize bottom", "initialize middle"}));
}

TEST(ProtocolStack, NestedFamilyPassesPacketsAndActivationThrough)
{
    // outer: [medium, inner: [a, b]]
    Log log;
    struct Outer : ProtocolsFamily {
        void on_message(Packet& pkt) override { got = pkt.text(); }
        void on_activate() override { active = true; }
        std::string got;
        bool active = false;
    } outer;
    auto* medium = new Medium(log, "medium", 0xEE);
    auto* inner = new ProtocolsFamily;
    outer.add_protocol_tail(medium);
    outer.add_protocol_tail(inner);
    inner->add_protocol_tail(new TagLayer(log, "a", 0xA1));
    inner->add_protocol_tail(new TagLayer(log, "b", 0xB1));

    Packet pkt;
    outer.prepare_head(pkt);
    EXPECT_EQ(pkt.headroom(), 3u);
    pkt.put8(0x55);
    outer.message(pkt);
    EXPECT_EQ(medium->wire, (std::vector<std::string>{"EE A1 B1 55"}));

    medium->deliver({0xEE, 0xA1, 0xB1, 0x66});
    EXPECT_EQ(outer.got, "66");

    outer.activate();
    EXPECT_TRUE(outer.active);
    EXPECT_EQ(log, (Log{"activate medium", "activate a", "activate b"}));
}

TEST(ProtocolStack, DeletingTheFamilyDeletesItsLayersTopFirst)
{
    Log log;
    {
        Stack stack(log);
        delete stack.middle; // a layer deleted on its own leaves the list
        EXPECT_EQ(stack.count(), 2u);
        EXPECT_EQ(stack.bottom->next(), stack.upper);
        EXPECT_EQ(stack.upper->previous(), stack.bottom);
        EXPECT_EQ(stack.top(), stack.upper);
    }
    EXPECT_EQ(log, (Log{"delete middle", "delete top", "delete bottom"}));
}

TEST(ProtocolStack, LayersAddedAtTheHeadBecomeTheBottom)
{
    Log log;
    ProtocolsFamily f;
    auto* upper = new TagLayer(log, "upper", 1);
    auto* lower = new TagLayer(log, "lower", 2);
    f.add_protocol_head(upper);
    f.add_protocol_head(lower);
    EXPECT_EQ(f.bottom(), lower);
    EXPECT_EQ(f.top(), upper);
    EXPECT_EQ(lower->family(), &f);
    EXPECT_EQ(f.search(Protocol_name_null()), nullptr);
}

TEST(ProtocolStack, AnEmptyFamilyDoesNothing)
{
    struct Owner : ProtocolsFamily {
        void on_activate() override { ++events; }
        void on_deactivate(Protocol_status) override { ++events; }
        int events = 0;
    } f;
    Packet pkt;
    f.prepare_head(pkt);
    EXPECT_TRUE(pkt.null());
    pkt.reserve_head(0);
    f.message(pkt);
    f.receive(pkt);
    f.activate();
    f.deactivate();
    EXPECT_EQ(f.events, 0);
    Protocol_status s = f.initialize();
    EXPECT_FALSE(s->success());
    EXPECT_EQ(s->message(), "error");
    EXPECT_NE(dynamic_cast<Protocol_initialize_error*>(s.get()), nullptr);
}

TEST(ProtocolStack, DefaultLayerGivesAPacketItsBuffer)
{
    Protocol layer;
    Packet pkt;
    layer.prepare_head(pkt);
    EXPECT_FALSE(pkt.null());
    EXPECT_EQ(pkt.headroom(), 0u);
    Packet tail;
    layer.prepare_tail(tail);
    EXPECT_EQ(tail.tailroom(), 0u);
    EXPECT_STREQ(layer.name().name(), "(no name)");
    std::ostringstream os;
    layer.protocol_info(os);
    EXPECT_EQ(os.str(), "");
}

TEST(ProtocolNames, CompareByKindAndText)
{
    Protocol_name_str tpkt1("TPKT"), tpkt2("TPKT"), strm("STRM"), unnamed(nullptr);
    Protocol_name_null null1, null2;
    EXPECT_TRUE(tpkt1.compare(tpkt2));
    EXPECT_FALSE(tpkt1.compare(strm));
    EXPECT_FALSE(tpkt1.compare(null1));
    EXPECT_FALSE(null1.compare(tpkt1));
    EXPECT_TRUE(null1.compare(null2));
    EXPECT_STREQ(unnamed.name(), "(no name)");
    EXPECT_EQ(unnamed.kind(), 1);
    EXPECT_FALSE(unnamed.compare(null1));
}

TEST(ProtocolStatus, LastHandleDeletesTheStatus)
{
    static int alive = 0;
    struct Counted : Protocol_status_success {
        Counted() : Protocol_status_success(nullptr, "x") { ++alive; }
        ~Counted() override { --alive; }
    };
    {
        Protocol_status a = new Counted;
        Protocol_status b = a;
        EXPECT_EQ(alive, 1);
        a.reset();
        EXPECT_EQ(alive, 1);
        EXPECT_TRUE(b->success());
    }
    EXPECT_EQ(alive, 0);
}

TEST(ProtocolStatusDeath, NullStatusEndsTheProcess)
{
    Protocol layer;
    EXPECT_DEATH(layer.on_deactivate(Protocol_status()), "SMART POINTER ASSERTION!");
}

} // namespace
