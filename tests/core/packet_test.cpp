#include "core/packet.hpp"
#include "core/packet_queue.hpp"

#include <gtest/gtest.h>

#include <cstdint>
#include <new>
#include <sstream>
#include <string>
#include <vector>

namespace {

class PacketDeath : public ::testing::Test {};

Packet bytes(std::vector<std::uint8_t> const& content, unsigned int head = 0)
{
    Packet p;
    p.reserve_head(head);
    for (auto b : content)
        p.put8(b);
    return p;
}

std::uint8_t const* buffer_base(Packet const& p)
{
    return p.data() - p.headroom();
}

TEST(Packet, RoomOfAFreshBuffer)
{
    Packet none;
    EXPECT_TRUE(none.null());
    EXPECT_EQ(none.length(), 0u);

    Packet h;
    h.reserve_head(0);
    EXPECT_FALSE(h.null());
    EXPECT_EQ(h.headroom(), 0u);
    EXPECT_EQ(h.tailroom(), 65536u);

    Packet t;
    t.reserve_tail(0);
    EXPECT_EQ(t.headroom(), 65536u);
    EXPECT_EQ(t.tailroom(), 0u);

    Packet h10;
    h10.reserve_head(10);
    EXPECT_EQ(h10.headroom(), 10u);
    EXPECT_EQ(h10.length(), 0u);
    EXPECT_EQ(h10.tailroom(), 65526u);

    Packet t8;
    t8.reserve_tail(8);
    EXPECT_EQ(t8.tailroom(), 8u);
    EXPECT_EQ(t8.headroom(), 65528u);
}

TEST(Packet, HeadRoomAddsUpAndHeadersGoInFrontOfThePayload)
{
    // What a stack does: each layer reserves its header, the payload is
    // appended, then each layer prepends its header on the way down.
    Packet p;
    p.reserve_head(2);
    p.reserve_head(4);
    EXPECT_EQ(p.headroom(), 6u);
    p.put8(0xAA);
    p.put8(0xBB);
    p.push16_b(0x0102);
    p.push8(0x00);
    p.push8(0x03);
    p.push16_b(0xF00D);
    EXPECT_EQ(p.headroom(), 0u);
    EXPECT_EQ(p.text(), "F0 0D 03 00 01 02 AA BB");
    EXPECT_EQ(p.length(), 8u);
    EXPECT_EQ(p.tailroom(), 65536u - 8u);
}

TEST(Packet, ReservingOnAPacketWithContentSlidesTheWindow)
{
    Packet p;
    p.reserve_head(1);
    p.put8(1);
    p.reserve_head(3);
    EXPECT_EQ(p.headroom(), 4u);
    EXPECT_EQ(p.length(), 1u);
    p.reserve_tail(2);
    EXPECT_EQ(p.headroom(), 2u);
    EXPECT_EQ(p.tailroom(), 65536u - 3u);
}

TEST(Packet, BigAndLittleEndianAccess)
{
    Packet p;
    p.reserve_head(2);
    p.put16_b(0x1234);
    p.put16(0x1234);
    p.push16_b(0xBEEF);
    EXPECT_EQ(p.text(), "BE EF 12 34 34 12");
    EXPECT_EQ(p.pull16_b(), 0xBEEF);
    EXPECT_EQ(p.pull16_b(), 0x1234);
    EXPECT_EQ(p.pull16_l(), 0x1234);
    EXPECT_EQ(p.length(), 0u);

    // Missing bytes read as 0, and nothing is consumed from an empty packet.
    Packet one = bytes({0x7F});
    EXPECT_EQ(one.pull16_b(), 0x7F00);
    EXPECT_EQ(one.length(), 0u);
    EXPECT_EQ(one.pull8(), 0);
    EXPECT_EQ(one.pull16_l(), 0);
    Packet low = bytes({0x7F});
    EXPECT_EQ(low.pull16_l(), 0x007F);
    Packet high = bytes({0xFF, 0xFE});
    EXPECT_EQ(high.pull16_b(), 0xFFFE);
}

TEST(Packet, StringsCarryALengthByte)
{
    Packet p;
    p.reserve_head(0);
    EXPECT_TRUE(p.put(std::string("abc")));
    EXPECT_TRUE(p.put(std::string()));
    EXPECT_EQ(p.text(), "03 61 62 63 00");
    EXPECT_EQ(p.pull_string(), "abc");
    EXPECT_EQ(p.pull_string(), "");
    EXPECT_EQ(p.length(), 0u);

    std::string longest(255, 'x');
    EXPECT_TRUE(p.put(longest));
    EXPECT_EQ(p.length(), 256u);
    EXPECT_EQ(p.pull_string(), longest);

    // A truncated string reads its missing characters as 0.
    Packet cut = bytes({4, 'a', 'b'});
    EXPECT_EQ(cut.pull_string(), std::string("ab\0\0", 4));
}

TEST(Packet, StringTooLongForItsLengthByteIsRefused)
{
    Packet p = bytes({9});
    EXPECT_FALSE(p.put(std::string(300, 'y')));
    EXPECT_FALSE(p.put(std::string(256, 'y')));
    EXPECT_EQ(p.text(), "09");
}

TEST(Packet, CopiesShareTheBufferUntilOneWrites)
{
    std::size_t free0 = Packet::pool_free();
    Packet a = bytes({1, 2, 3}, 5);
    EXPECT_EQ(Packet::pool_free(), free0 - 1);

    Packet b = a;
    EXPECT_EQ(Packet::pool_free(), free0 - 1);
    EXPECT_EQ(b.data(), a.data());

    b.put8(4); // first write: b gets its own copy at the same offsets
    EXPECT_EQ(Packet::pool_free(), free0 - 2);
    EXPECT_NE(b.data(), a.data());
    EXPECT_EQ(b.headroom(), 5u);
    EXPECT_EQ(a.text(), "01 02 03");
    EXPECT_EQ(b.text(), "01 02 03 04");

    b.put8(5); // b is no longer shared: no further copy
    EXPECT_EQ(Packet::pool_free(), free0 - 2);

    // Reading from the front moves the window: also a write.
    Packet c = a;
    EXPECT_EQ(c.pull8(), 1);
    EXPECT_EQ(a.text(), "01 02 03");
    EXPECT_EQ(c.text(), "02 03");

    // The last owner to let go returns the buffer.
    a.reset();
    c.reset();
    b = Packet();
    EXPECT_EQ(Packet::pool_free(), free0);
}

TEST(Packet, AppendingAPacketToItselfDoublesIt)
{
    Packet a = bytes({1, 2});
    Packet other = bytes({3});
    a.put(other);
    a.put(a);
    EXPECT_EQ(a.text(), "01 02 03 01 02 03");
    EXPECT_EQ(other.text(), "03");
}

TEST(Packet, SubIsAnUnsharedCopyAtTheSameOffsets)
{
    Packet p = bytes({10, 11, 12, 13, 14}, 7);
    Packet s = p.sub(1, 3);
    EXPECT_EQ(s.text(), "0B 0C 0D");
    EXPECT_EQ(s.headroom(), 8u);
    EXPECT_NE(buffer_base(s), buffer_base(p));
    EXPECT_EQ(p.sub(5, 0).length(), 0u);
    EXPECT_EQ(p.sub(0, 5).text(), p.text());
}

TEST(Packet, BlockOperations)
{
    Packet p;
    p.reserve_head(0);
    std::uint8_t const in[] = {0xDE, 0xAD, 0xBE, 0xEF};
    p.put(in, 4);
    std::uint8_t* room = p.tail_space();
    room[0] = 0x01;
    room[1] = 0x02;
    p.extend(2);
    EXPECT_EQ(p.text(), "DE AD BE EF 01 02");
    p.drop(3);
    EXPECT_EQ(p.text(), "EF 01 02");
    EXPECT_EQ(p[0], 0xEF);
    EXPECT_EQ(p[2], 0x02);
}

TEST(Packet, TextAndDumps)
{
    EXPECT_EQ(Packet().text(), "(null)");
    Packet p = bytes({3, 0, 0, 7}, 2);
    EXPECT_EQ(p.text(), "03 00 00 07");

    std::ostringstream d;
    EXPECT_TRUE(p.dump(d));
    EXPECT_EQ(d.str(), "head=2, data=4, tail=65530");
    std::ostringstream c;
    EXPECT_TRUE(p.dump_context(c));
    EXPECT_EQ(c.str(), "dump: 3 0 0 7");

    std::ostringstream none;
    EXPECT_FALSE(Packet().dump(none));
    EXPECT_FALSE(Packet().dump_context(none));
    Packet empty;
    empty.reserve_head(0);
    EXPECT_TRUE(empty.dump_context(none));
    EXPECT_EQ(none.str(), "");

    std::ostringstream info;
    info << PacketInfo(bytes({0xAB, 1}));
    EXPECT_EQ(info.str(), "head=0, data=2, tail=65534\ndump:\n ab 1\n");
    std::ostringstream null_info;
    null_info << PacketInfo(Packet());
    EXPECT_EQ(null_info.str(), "(null)");
}

TEST(PacketPool, ExhaustionThrowsAndReturnedBuffersAreReusedOldestFirst)
{
    std::size_t free0 = Packet::pool_free();
    ASSERT_EQ(Packet::pool_size(), 1024u);
    {
        std::vector<Packet> held(free0);
        for (auto& p : held)
            p.reserve_head(0);
        EXPECT_EQ(Packet::pool_free(), 0u);

        Packet more;
        EXPECT_THROW(more.reserve_head(0), std::bad_alloc);
        EXPECT_THROW(more.reserve_tail(16), std::bad_alloc);
        EXPECT_TRUE(more.null());

        // A write to a shared buffer needs a buffer too.
        held[0].put8(42);
        Packet shared = held[0];
        EXPECT_THROW(shared.put8(43), std::bad_alloc);
        EXPECT_EQ(shared.text(), "2A");
        EXPECT_THROW((void)held[0].sub(0, 1), std::bad_alloc);

        std::uint8_t const* first = buffer_base(held[5]);
        std::uint8_t const* second = buffer_base(held[9]);
        held[5].reset();
        held[9].reset();
        Packet again;
        again.reserve_head(0);
        EXPECT_EQ(buffer_base(again), first);
        Packet again2;
        again2.reserve_tail(0);
        EXPECT_EQ(buffer_base(again2), second);
    }
    EXPECT_EQ(Packet::pool_free(), free0);
}

TEST_F(PacketDeath, WritesOutsideTheBufferEndTheProcess)
{
    EXPECT_DEATH(Packet().put8(1), "PACKET ASSERTION FAILED!\nnull packet\n\\(null\\)");
    EXPECT_DEATH(Packet().push8(1), "PACKET ASSERTION FAILED!\nnull packet");
    EXPECT_DEATH(Packet().pull8(), "PACKET ASSERTION FAILED!\nnull packet");
    EXPECT_DEATH(
        {
            Packet p;
            p.reserve_tail(1);
            p.put8(1);
            p.put8(2);
        },
        "PACKET ASSERTION FAILED!\nlen<=_tailroom\\(\\)\nhead=65535, data=1, tail=0\ndump:\n 1\n");
    EXPECT_DEATH(
        {
            Packet p;
            p.reserve_head(0);
            p.push8(1);
        },
        "PACKET ASSERTION FAILED!\nlen<=_headroom\\(\\)");
    EXPECT_DEATH(
        {
            Packet p;
            p.reserve_head(65537);
        },
        "length>packet_max_size");
    EXPECT_DEATH(
        {
            Packet p;
            p.reserve_tail(65537);
        },
        "len>packet_max_size");
}

TEST_F(PacketDeath, ReservingRoomChecksBothEndsOfTheContent)
{
    // Head room 65533 plus 1 fits in the buffer, but the three content bytes
    // behind it would be pushed past its end.
    EXPECT_DEATH(
        {
            Packet p;
            p.reserve_tail(0);
            p.push8(1);
            p.push8(2);
            p.push8(3);
            p.reserve_head(1);
        },
        "PACKET ASSERTION FAILED!\nnew_len>packet_max_size");
    EXPECT_DEATH(
        {
            Packet p;
            p.reserve_head(0);
            p.put8(1);
            p.reserve_tail(1);
        },
        "PACKET ASSERTION FAILED!\n_tailroom\\(\\)\\+len <= packet_max_size");
}

TEST_F(PacketDeath, ReadsAndRangesOutsideTheContentEndTheProcess)
{
    EXPECT_DEATH((void)bytes({1, 2}).sub(3, 0), "start<=_length\\(\\)");
    EXPECT_DEATH((void)bytes({1, 2}).sub(1, 2), "start\\+len<=_length\\(\\)");
    EXPECT_DEATH((void)bytes({1, 2})[2], "index out of range");
    EXPECT_DEATH(bytes({1, 2}).drop(3), "len<=_length\\(\\)");
    EXPECT_DEATH(
        {
            Packet p;
            p.reserve_tail(4);
            p.extend(5);
        },
        "len<=_tailroom\\(\\)");
    EXPECT_DEATH(
        {
            Packet p;
            p.reserve_tail(4);
            std::uint8_t five[5] = {};
            p.put(five, 5);
        },
        "len<=_tailroom\\(\\)");
    EXPECT_DEATH(Packet::check_fail("after \"%s\" fdata invalid", "push"),
                 "packet check fail\nafter \"push\" fdata invalid\nterminate.");
    EXPECT_DEATH(Packet().check("put"), "after \"put\" packet is null");
}

TEST(CleanQueue, BoundedRingOrder)
{
    CleanQueue<Packet, 7> q;
    EXPECT_EQ(q.size(), 7u);
    EXPECT_TRUE(q.empty());
    Packet out;
    EXPECT_FALSE(q.get(&out));
    EXPECT_FALSE(q.get_last(&out));
    EXPECT_FALSE(q.preview(nullptr));

    for (std::uint8_t i = 1; i <= 7; ++i)
        EXPECT_TRUE(q.put(bytes({i})));
    EXPECT_FALSE(q.put(bytes({8})));
    EXPECT_FALSE(q.append(bytes({8})));
    EXPECT_EQ(q.count(), 7u);

    EXPECT_TRUE(q.preview(nullptr));
    EXPECT_TRUE(q.preview(&out));
    EXPECT_EQ(out.text(), "01");
    EXPECT_TRUE(q.get(&out));
    EXPECT_EQ(out.text(), "01");
    EXPECT_TRUE(q.get_last(&out));
    EXPECT_EQ(out.text(), "07");

    // An appended item is read next, also across the wrap of the ring.
    EXPECT_TRUE(q.append(bytes({0x10})));
    EXPECT_TRUE(q.append(bytes({0x11})));
    EXPECT_FALSE(q.put(bytes({0x20})));
    EXPECT_TRUE(q.get_last(&out));
    EXPECT_TRUE(q.put(bytes({0x20})));
    std::string order;
    while (q.get(out))
        order += out.text() + " ";
    EXPECT_EQ(order, "11 10 02 03 04 05 20 ");
    EXPECT_EQ(q.count(), 0u);
    EXPECT_EQ(q.inc_index(6), 0u);
    EXPECT_EQ(q.inc_index(2), 3u);
}

TEST(CleanQueue, RemovingClearingAndDestroyingReleaseThePackets)
{
    std::size_t free0 = Packet::pool_free();
    {
        CleanQueue<Packet, 4> q;
        for (std::uint8_t i = 0; i < 4; ++i)
            q.put(bytes({i}));
        EXPECT_EQ(Packet::pool_free(), free0 - 4);

        EXPECT_TRUE(q.get(nullptr));
        EXPECT_TRUE(q.get_last(nullptr));
        EXPECT_EQ(Packet::pool_free(), free0 - 2);

        q.clear();
        EXPECT_TRUE(q.empty());
        EXPECT_EQ(Packet::pool_free(), free0);

        q.put(bytes({9}));
        q.append(bytes({8}));
        EXPECT_EQ(Packet::pool_free(), free0 - 2);
    }
    EXPECT_EQ(Packet::pool_free(), free0);
}

} // namespace
