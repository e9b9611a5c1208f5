// TPKT framing (RFC 1006): frames cut from any chunking of the stream,
// resynchronisation on garbage, the 3000 ms reassembly bound, and the header
// put in front of each payload on the way down.

#include "control/control_test_helper.hpp"
#include "control/tpkt_protocol.hpp"

using namespace ctltest;
using Bytes = std::vector<std::uint8_t>;

namespace {

// Bottom of the test stack: keeps what the TPKT layer transmits.
struct Wire : Protocol {
    std::vector<Bytes> sent;
    void message(Packet& p) override { sent.push_back(bytes_of(p)); }
};

struct Owner : ProtocolsFamily {
    std::vector<Bytes> payloads;
    std::vector<std::uint8_t const*> where; // first payload byte as delivered
    bool consume = false;                   // the receiver eats what it reads
    void on_message(Packet& p) override
    {
        payloads.push_back(bytes_of(p));
        where.push_back(p.data());
        if (consume)
            p.drop(p.length());
    }
};

struct TpktTest : LoopTest {
    void SetUp() override
    {
        LoopTest::SetUp();
        wire = new Wire();
        owner.add_protocol_tail(wire);
        tpkt = new Tpkt_protocol();
        owner.add_protocol_tail(tpkt);
    }
    void feed(Bytes const& b)
    {
        Packet p = make_packet(b);
        tpkt->receive(p);
    }
    Owner owner;
    Wire* wire = nullptr;
    Tpkt_protocol* tpkt = nullptr;
};

Bytes const abc_frame{0x03, 0x00, 0x00, 0x07, 'A', 'B', 'C'};

} // namespace

TEST_F(TpktTest, FramesInOneChunkAreDeliveredInOrder)
{
    Bytes two = abc_frame;
    two.insert(two.end(), {0x03, 0x00, 0x00, 0x06, 'x', 'y'});
    feed(two);
    ASSERT_EQ(owner.payloads.size(), 2u);
    EXPECT_EQ(owner.payloads[0], (Bytes{'A', 'B', 'C'}));
    EXPECT_EQ(owner.payloads[1], (Bytes{'x', 'y'}));
    EXPECT_EQ(tpkt->state(), Tpkt_protocol::idle);
    EXPECT_FALSE(tpkt->timer_pending());
}

// Whole frames are handed up inside the received packet, no copy made; a
// frame cut by the chunk's end, garbage and empty payloads still take the
// byte-by-byte path, between frames delivered in place.
TEST_F(TpktTest, WholeFramesGoUpInPlaceAmongTheOtherCases)
{
    Bytes chunk = abc_frame;
    chunk.insert(chunk.end(), {0x55, 0x03, 0x00, 0x00, 0x04}); // garbage, empty payload
    chunk.insert(chunk.end(), {0x03, 0x00, 0x00, 0x06, 'x', 'y'});
    chunk.insert(chunk.end(), {0x03, 0x00, 0x00, 0x07, 'p'}); // cut
    Capture log(Capture::Err);
    owner.consume = true;
    Packet p = make_packet(chunk);
    std::uint8_t const* const start = p.data();
    tpkt->receive(p);
    ASSERT_EQ(owner.payloads.size(), 3u);
    EXPECT_EQ(owner.payloads[0], (Bytes{'A', 'B', 'C'}));
    EXPECT_EQ(owner.where[0], start + 4);
    EXPECT_TRUE(owner.payloads[1].empty());
    EXPECT_EQ(owner.payloads[2], (Bytes{'x', 'y'}));
    EXPECT_EQ(tpkt->state(), Tpkt_protocol::body);
    EXPECT_TRUE(tpkt->timer_pending());
    EXPECT_EQ(p.length(), 0u);
    feed({'q', 'r'});
    ASSERT_EQ(owner.payloads.size(), 4u);
    EXPECT_EQ(owner.payloads[3], (Bytes{'p', 'q', 'r'}));
    EXPECT_FALSE(tpkt->timer_pending());
}

TEST_F(TpktTest, OneByteChunksRearmTheTimerUntilTheLastByte)
{
    for (std::size_t i = 0; i < abc_frame.size(); ++i) {
        feed({abc_frame[i]});
        if (i + 1 < abc_frame.size()) {
            EXPECT_TRUE(tpkt->timer_pending()) << i;
            // Each chunk restarts the 3000 ms from now.
            advance(2999);
        }
    }
    ASSERT_EQ(owner.payloads.size(), 1u);
    EXPECT_EQ(owner.payloads[0], (Bytes{'A', 'B', 'C'}));
    EXPECT_FALSE(tpkt->timer_pending());
}

TEST_F(TpktTest, IncompleteFrameIsDroppedAfter3000Ms)
{
    Capture log(Capture::Err);
    feed({0x03, 0x00, 0x00, 0x09, 'A'});
    advance(2999);
    EXPECT_EQ(tpkt->state(), Tpkt_protocol::body);
    advance(1);
    EXPECT_EQ(tpkt->state(), Tpkt_protocol::idle);
    EXPECT_NE(log.text().find(" TPKT packet timeout.\n"), std::string::npos);
    // The rest of the old frame is now garbage; the next frame is read.
    feed(abc_frame);
    ASSERT_EQ(owner.payloads.size(), 1u);
}

TEST_F(TpktTest, GarbageIsSkippedOneLinePerByte)
{
    Capture log(Capture::Err);
    Bytes b{0x00, 0xFF};
    b.insert(b.end(), abc_frame.begin(), abc_frame.end());
    feed(b);
    std::string text = log.text();
    EXPECT_EQ(count_of(text, "(no name) bad TPKT packet start.\n"), 2) << text;
    ASSERT_EQ(owner.payloads.size(), 1u);
}

TEST_F(TpktTest, BadReservedByteIsNotReexaminedAsAStart)
{
    Capture log(Capture::Err);
    Bytes b{0x03, 0x03};
    b.insert(b.end(), abc_frame.begin(), abc_frame.end());
    feed(b);
    std::string text = log.text();
    EXPECT_EQ(count_of(text, "(no name) bad TPKT reserved.\n"), 1) << text;
    EXPECT_EQ(count_of(text, "bad TPKT packet start."), 0) << text;
    ASSERT_EQ(owner.payloads.size(), 1u);
}

TEST_F(TpktTest, LengthBelowFourIsRefusedAndScanningGoesOn)
{
    Capture log(Capture::Err);
    Bytes b{0x03, 0x00, 0x00, 0x03};
    b.insert(b.end(), abc_frame.begin(), abc_frame.end());
    feed(b);
    EXPECT_NE(log.text().find("TPKT too small 3\n"), std::string::npos);
    ASSERT_EQ(owner.payloads.size(), 1u);
    EXPECT_EQ(owner.payloads[0], (Bytes{'A', 'B', 'C'}));
}

TEST_F(TpktTest, EmptyPayloadIsDeliveredWhenTheNextByteArrives)
{
    feed({0x03, 0x00, 0x00, 0x04});
    EXPECT_TRUE(owner.payloads.empty());
    EXPECT_EQ(tpkt->state(), Tpkt_protocol::body);
    feed(abc_frame);
    ASSERT_EQ(owner.payloads.size(), 2u);
    EXPECT_TRUE(owner.payloads[0].empty());
    EXPECT_EQ(owner.payloads[1], (Bytes{'A', 'B', 'C'}));
}

TEST_F(TpktTest, LargestFrameIsReassembledAcrossChunks)
{
    Bytes payload(Tpkt_protocol::max_payload);
    for (std::size_t i = 0; i < payload.size(); ++i)
        payload[i] = static_cast<std::uint8_t>(i);
    Bytes frame{0x03, 0x00, 0xFF, 0xFF};
    frame.insert(frame.end(), payload.begin(), payload.end());
    feed(Bytes(frame.begin(), frame.begin() + 1000));
    feed(Bytes(frame.begin() + 1000, frame.end()));
    ASSERT_EQ(owner.payloads.size(), 1u);
    EXPECT_EQ(owner.payloads[0], payload);
}

TEST_F(TpktTest, SendingPutsTheHeaderInFrontWithoutMovingThePayload)
{
    Packet p;
    owner.prepare_head(p);
    EXPECT_EQ(p.headroom(), 4u);
    Bytes abc{'A', 'B', 'C'};
    p.put(abc.data(), 3);
    owner.message(p);
    ASSERT_EQ(wire->sent.size(), 1u);
    EXPECT_EQ(wire->sent[0], abc_frame);
}

TEST_F(TpktTest, PayloadTooLargeForTheLengthFieldIsRefused)
{
    Capture log(Capture::Err);
    Packet p;
    owner.prepare_head(p);
    Bytes big(Tpkt_protocol::max_payload + 1, 0xAA);
    p.put(big.data(), static_cast<unsigned int>(big.size()));
    owner.message(p);
    EXPECT_TRUE(wire->sent.empty());
    EXPECT_NE(log.text().find("TPKT payload too big, length = 65532 max = 65531"), std::string::npos);
}

TEST_F(TpktTest, ActivationAndDeactivationResetTheReceiver)
{
    feed({0x03, 0x00, 0x00});
    EXPECT_TRUE(tpkt->timer_pending());
    tpkt->local_activate();
    EXPECT_EQ(tpkt->state(), Tpkt_protocol::idle);
    EXPECT_FALSE(tpkt->timer_pending());
    feed({0x03, 0x00});
    owner.deactivate();
    EXPECT_EQ(tpkt->state(), Tpkt_protocol::idle);
    EXPECT_FALSE(tpkt->timer_pending());
}
