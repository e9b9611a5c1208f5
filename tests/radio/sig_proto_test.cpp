// The VEZE packet codec against hand-built octets: one packet of every type
// both ways, the room and length rules, the header bit layout, and the
// record helpers (setters, name table, comparisons, queue).

#include "radio/codec_test_util.hpp"
#include "radio/sig_proto.hpp"
#include "radio/sig_proto_samples.hpp"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <string>
#include <vector>

using namespace vezetest;

namespace {

using namespace codectest;

Packed pack(sig_proto const& p, int size = 1024)
{
    return PackWith(sig_proto_pack, p, size);
}

int unpack(sig_proto& p, Bytes const& b)
{
    return sig_proto_unpack(&p, b.data(), static_cast<int>(b.size()));
}

sig_proto fresh()
{
    sig_proto p;
    sig_proto_init(&p);
    return p;
}

// A record whose every field is set to something, to see what an unpack
// leaves alone.
sig_proto busy()
{
    sig_proto p = fresh();
    sig_proto_set_base(&p, 9, 1, 1, 1, 1, 1, 1, 1, 1, 1, 3, 511);
    p.type = 77;
    p.src_addr = 0x01020304;
    p.src_ssrc = 0x55;
    std::memset(&p.wm_sel_call_trans, 'x', sizeof p.wm_sel_call_trans);
    return p;
}

// The octets a packet of the sample's type needs before it unpacks.
std::size_t needed(Sample const& s)
{
    switch (s.record.type) {
    case SIG_PROTO_GW_SEL_CALL:
        return 5 + s.wire[4];
    case SIG_PROTO_WM_SEL_CALL_TRANS:
        return 13 + s.wire[12];
    default:
        return s.wire.size();
    }
}

} // namespace

TEST(SigProtoCodec, EveryTypePacksToItsOctetsAndBack)
{
    ASSERT_EQ(Samples().size(), 20u);
    for (Sample const& s : Samples()) {
        SCOPED_TRACE("type " + std::to_string(s.record.type));
        Packed const packed = pack(s.record);
        EXPECT_EQ(packed.result, static_cast<int>(s.wire.size()));
        EXPECT_EQ(packed.bytes, s.wire);
        sig_proto back = fresh();
        EXPECT_EQ(unpack(back, s.wire), 0);
        EXPECT_TRUE(SameRecord(back, s.record));
    }
}

TEST(SigProtoCodec, HeaderBits)
{
    // Status 300 is 1 0010 1100: bits 8..5 in the low nibble of octet 2,
    // bits 4..0 in the top five bits of octet 3.
    sig_proto p = fresh();
    p.type = SIG_PROTO_GW_FLAG;
    sig_proto_set_base(&p, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, 300);
    EXPECT_EQ(pack(p).bytes, (Bytes{0x01, 0x00, 0x09, 0x60}));
    sig_proto back = fresh();
    ASSERT_EQ(unpack(back, {0x01, 0x00, 0x09, 0x60}), 0);
    EXPECT_EQ(back.status, 300u);

    // One bit at a time, every flag lands where the layout says.
    struct Bit {
        std::uint32_t sig_proto::*field;
        Bytes wire;
    } const bits[] = {
        {&sig_proto::flag_t, {1, 0x08, 0, 0}},  {&sig_proto::flag_p, {1, 0x04, 0, 0}},
        {&sig_proto::flag_r, {1, 0x02, 0, 0}},  {&sig_proto::flag_s, {1, 0x01, 0, 0}},
        {&sig_proto::flag_b, {1, 0, 0x80, 0}},  {&sig_proto::flag_rv, {1, 0, 0x40, 0}},
        {&sig_proto::flag_sh, {1, 0, 0x20, 0}}, {&sig_proto::flag_pw, {1, 0, 0x10, 0}},
        {&sig_proto::flag_rs, {1, 0, 0, 0x01}},
    };
    for (Bit const& b : bits) {
        sig_proto one = fresh();
        one.type = SIG_PROTO_GW_FLAG;
        one.*b.field = 1;
        EXPECT_EQ(pack(one).bytes, b.wire);
        sig_proto got = fresh();
        ASSERT_EQ(unpack(got, b.wire), 0);
        EXPECT_EQ(got.*b.field, 1u);
    }

    // Every field is masked to its width.
    sig_proto wide = fresh();
    wide.type = 0x100 + SIG_PROTO_WM_FLAG;
    sig_proto_set_base(&wide, 0x1F, 2, 2, 2, 2, 2, 2, 2, 2, 2, 4 + 1, 512 + 3);
    EXPECT_EQ(pack(wide).bytes, (Bytes{0x81, 0xF0, 0x00, 0x1A}));
}

TEST(SigProtoCodec, CallerIdLengths)
{
    sig_proto p = fresh();
    p.type = SIG_PROTO_GW_SEL_CALL;
    sig_proto_set_gw_selcall(&p, nullptr, 7);
    EXPECT_EQ(p.gw_sel_call.callerID_length, 0u);
    EXPECT_EQ(pack(p).bytes, (Bytes{0x09, 0, 0, 0, 0x00, 0, 0, 0}));
    sig_proto_set_gw_selcall(&p, "WXYZ", 4);
    EXPECT_EQ(pack(p).bytes, (Bytes{0x09, 0, 0, 0, 0x04, 'W', 'X', 'Y', 'Z', 0, 0, 0}));

    // The room asked is length + 12, more than the 8 octets that a
    // three-character ID packs to.
    sig_proto_set_gw_selcall(&p, "abc", 3);
    EXPECT_EQ(pack(p, 14).result, -EBADF);
    EXPECT_EQ(pack(p, 15).result, 8);
    // The length is stored as given, not taken from the text.
    sig_proto_set_gw_selcall(&p, "ab", 6);
    EXPECT_EQ(pack(p).bytes, (Bytes{0x09, 0, 0, 0, 0x06, 'a', 'b', 0, 0, 0, 0, 0}));

    sig_proto w = fresh();
    w.type = SIG_PROTO_WM_SEL_CALL_TRANS;
    sig_proto_set_wm_selcall_transmite(&w, Addr("1.2.3.4"), 9, "abc", 3);
    EXPECT_EQ(pack(w, 22).result, -EBADF);
    EXPECT_EQ(pack(w, 23).result, 16);

    // At most 255 characters are kept; the array stays terminated.
    std::string const long_id(300, 'q');
    sig_proto_set_gw_selcall(&p, long_id.c_str(), 255);
    EXPECT_EQ(std::strlen(reinterpret_cast<char const*>(p.gw_sel_call.callerID)), 255u);
    Packed const full = pack(p);
    ASSERT_EQ(full.result, 260);
    EXPECT_EQ(full.bytes[4], 255);
    EXPECT_EQ(full.bytes[259], 'q');
}

TEST(SigProtoCodec, OtherTypesPackAsTheHeaderAlone)
{
    for (unsigned type : {0u, 14u, 128u, 136u, 200u, 255u}) {
        sig_proto p = busy();
        p.type = type;
        Packed const r = pack(p);
        EXPECT_EQ(r.result, 4) << type;
        EXPECT_EQ(r.bytes[0], type);
    }
    // Only the low eight bits of the type travel.
    sig_proto p = fresh();
    p.type = 0x100 + SIG_PROTO_GW_ADJUST_CHAN;
    EXPECT_EQ(pack(p).bytes, (Bytes{0x02, 0, 0, 0}));
}

TEST(SigProtoCodec, PackErrors)
{
    sig_proto const& chan = SampleOf(SIG_PROTO_WM_CHAN).record;
    unsigned char buf[32];
    EXPECT_EQ(sig_proto_pack(nullptr, buf, sizeof buf), 0);
    EXPECT_EQ(sig_proto_pack(&chan, nullptr, 32), 0);
    EXPECT_EQ(sig_proto_pack(&chan, buf, 3), -EBADF);
    // Short for the payload: the buffer is cleared and the header written.
    std::memset(buf, 0xEE, sizeof buf);
    EXPECT_EQ(sig_proto_pack(&chan, buf, 15), -EBADF);
    EXPECT_EQ(Bytes(buf, buf + 16), (Bytes{0x84, 0x5A, 0xA9, 0x65, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xEE}));
    for (Sample const& s : Samples()) {
        if (s.wire.size() > 4) {
            EXPECT_EQ(pack(s.record, 7).result, -EBADF) << s.record.type;
        }
    }
}

TEST(SigProtoCodec, ShortPacketsLeaveTheRecordAlone)
{
    for (Sample const& s : Samples()) {
        std::size_t const need = needed(s);
        for (std::size_t len = 0; len < need; ++len) {
            sig_proto p = busy();
            sig_proto const before = p;
            EXPECT_EQ(sig_proto_unpack(&p, s.wire.data(), static_cast<int>(len)), -EBADF)
                << s.record.type << " " << len;
            EXPECT_TRUE(SameRecord(p, before)) << s.record.type << " " << len;
        }
        sig_proto p = busy();
        EXPECT_EQ(unpack(p, Bytes(s.wire.begin(), s.wire.begin() + static_cast<long>(need))), 0)
            << s.record.type;
    }

    // A GW_SEL_CALL of length 10 needs 15 octets: 16 unpack (the padding
    // octet is ignored), 14 do not.
    Bytes sel = {0x09, 0, 0, 0, 10, '0', '1', '2', '3', '4', '5', '6', '7', '8', '9', 0x77};
    sig_proto p = busy();
    ASSERT_EQ(unpack(p, sel), 0);
    EXPECT_EQ(p.gw_sel_call.callerID_length, 10);
    EXPECT_STREQ(reinterpret_cast<char const*>(p.gw_sel_call.callerID), "0123456789");
    sel.resize(14);
    p = busy();
    EXPECT_EQ(unpack(p, sel), -EBADF);

    // An 8-octet WM_CHAN needs 16.
    p = busy();
    sig_proto const before = p;
    EXPECT_EQ(unpack(p, {0x84, 0, 0, 0, 0, 0, 0, 7}), -EBADF);
    EXPECT_TRUE(SameRecord(p, before));
}

TEST(SigProtoCodec, UnpackKeepsWhatThePacketDoesNotCarry)
{
    // A type outside the table changes only `type`.
    for (unsigned type : {0u, 14u, 128u, 136u, 200u}) {
        sig_proto p = busy();
        sig_proto expected = p;
        expected.type = type;
        EXPECT_EQ(unpack(p, {static_cast<unsigned char>(type), 0xFF, 0xFF, 0xFF, 1, 2, 3, 4}), -ENOEXEC);
        EXPECT_TRUE(SameRecord(p, expected)) << type;
    }

    // Not the source words, nor payload octets outside the type's member.
    sig_proto p = busy();
    ASSERT_EQ(unpack(p, {0x0A, 0, 0, 0, 4, 5, 6, 7}), 0);
    EXPECT_EQ(p.src_addr, 0x01020304u);
    EXPECT_EQ(p.src_ssrc, 0x55u);
    EXPECT_EQ(p.gw_select_rc_chan.interface, 4);
    EXPECT_EQ(p.gw_select_rc_chan.channel, 5);
    EXPECT_EQ(p.wm_standby.receiver_state, 'x');

    // Caller IDs are terminated after the copied octets, up to 255 long.
    Bytes sel = {0x85, 0, 0, 0, 1, 2, 3, 4, 0, 0, 0, 9, 255};
    sel.resize(13 + 255, 'k');
    p = busy();
    ASSERT_EQ(unpack(p, sel), 0);
    EXPECT_EQ(p.wm_sel_call_trans.callerID[254], 'k');
    EXPECT_EQ(p.wm_sel_call_trans.callerID[255], 0);
    EXPECT_EQ(p.wm_sel_call_trans.session_addr.s_addr, Addr("4.3.2.1").s_addr);
    p = busy();
    ASSERT_EQ(unpack(p, {0x09, 0, 0, 0, 2, 'h', 'i', 0x55}), 0);
    EXPECT_STREQ(reinterpret_cast<char const*>(p.gw_sel_call.callerID), "hi");

    // Floats come back bit for bit, NaN payloads included.
    p = fresh();
    ASSERT_EQ(unpack(p, {0x83, 0, 0, 0, 0x7F, 0xC0, 0x00, 0x01}), 0);
    std::uint32_t bits;
    std::memcpy(&bits, &p.wm_radio_quality.radio_quality, sizeof bits);
    EXPECT_EQ(bits, 0x7FC00001u);
    EXPECT_EQ(pack(p).bytes, (Bytes{0x83, 0, 0, 0, 0x7F, 0xC0, 0x00, 0x01}));

    unsigned char const four[4] = {1, 0, 0, 0};
    EXPECT_EQ(sig_proto_unpack(nullptr, four, 4), -E2BIG);
    EXPECT_EQ(sig_proto_unpack(&p, nullptr, 4), -E2BIG);
    EXPECT_EQ(sig_proto_unpack(&p, four, -1), -EBADF);
}

TEST(SigProtoCodec, SessionAddressOctetsAreReversed)
{
    // 10.1.2.3 travels as 03 02 01 0A; the record holds it in network
    // order on either byte order.
    sig_proto p = fresh();
    ASSERT_EQ(unpack(p, {0x82, 0, 0, 0, 0x03, 0x02, 0x01, 0x0A, 0x11, 0x22, 0x33, 0x44}), 0);
    unsigned char octets[4];
    std::memcpy(octets, &p.wm_trans.session_addr.s_addr, 4);
    EXPECT_EQ(Bytes(octets, octets + 4), (Bytes{10, 1, 2, 3}));
    EXPECT_EQ(ntohl(p.wm_trans.session_addr.s_addr), 0x0A010203u);
    EXPECT_EQ(p.wm_trans.ssrc, 0x11223344u);
}

TEST(SigProtoCodec, ByteOrderOfTheProcessor)
{
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__
    EXPECT_FALSE(is_little_endian());
#else
    EXPECT_TRUE(is_little_endian());
#endif
}

TEST(SigProtoRecord, Setters)
{
    sig_proto p = fresh();
    sig_proto_set_base(&p, 15, 1, 1, 1, 1, 1, 1, 1, 1, 1, 3, 511);
    sig_proto_set_base(&p, -1, 0, -1, -1, -1, -1, -1, -1, -1, -1, -1, -5);
    // A negative argument leaves its field alone.
    EXPECT_EQ(p.priority, 15u);
    EXPECT_EQ(p.flag_t, 0u);
    EXPECT_EQ(p.flag_p, 1u);
    EXPECT_EQ(p.status, 511u);
    sig_proto_set_ptt(&p, -1);
    EXPECT_EQ(p.flag_p, 1u);
    sig_proto_set_ptt(&p, 0);
    EXPECT_EQ(p.flag_p, 0u);

    // A caller ID replaces the whole array.
    sig_proto_set_gw_selcall(&p, "longer text", 11);
    sig_proto_set_gw_selcall(&p, "ab", 2);
    EXPECT_EQ(p.gw_sel_call.callerID[2], 0);
    EXPECT_EQ(p.gw_sel_call.callerID[5], 0);
    sig_proto_set_wm_selcall_transmite(&p, Addr("1.2.3.4"), 5, nullptr, 9);
    EXPECT_EQ(p.wm_sel_call_trans.callerID_length, 0);
    EXPECT_EQ(p.wm_sel_call_trans.callerID[0], 0);
}

TEST(SigProtoRecord, PushToTalkTypes)
{
    std::vector<unsigned> ptt;
    for (unsigned type = 0; type < 256; ++type) {
        sig_proto p = fresh();
        p.type = type;
        if (sig_proto_is_ptt_command(&p) != 0)
            ptt.push_back(type);
    }
    EXPECT_EQ(ptt, (std::vector<unsigned>{1, 3, 9, 129, 130, 133}));
    EXPECT_EQ(sig_proto_is_ptt_command(nullptr), 0);
}

TEST(SigProtoNames, Lookups)
{
    s_sig_proto_table_name const* t = sig_proto_packet_const_name;
    EXPECT_EQ(sig_proto_find_id_by_name(t, "GW_ADJUST_SQUELSHE"), 11);
    EXPECT_EQ(sig_proto_find_name_by_id(t, 0), nullptr);
    EXPECT_STREQ(sig_proto_find_name_by_id(t, 135), "WM_STANDBY");
    EXPECT_STREQ(sig_proto_find_name_by_id(t, 2), "GW_ADJUST_CHAN");
    EXPECT_EQ(sig_proto_find_name_by_id(t, 14), nullptr);
    EXPECT_EQ(sig_proto_find_name_by_id(t, -1), nullptr);
    EXPECT_EQ(sig_proto_find_id_by_name(t, "GW_ADJUST_SQUELSH"), -1);
    EXPECT_EQ(sig_proto_find_id_by_name(t, ""), -1);
    EXPECT_EQ(sig_proto_find_id_by_name(t, nullptr), -1);
    EXPECT_EQ(sig_proto_find_id_by_name(nullptr, "WM_FLAG"), -1);
    EXPECT_EQ(sig_proto_find_name_by_id(nullptr, 1), nullptr);

    // Every type of the table by name and back; the terminator after them
    // and the unused rows.
    for (Sample const& s : Samples()) {
        int const id = static_cast<int>(s.record.type);
        char const* name = sig_proto_find_name_by_id(t, id);
        ASSERT_NE(name, nullptr) << id;
        EXPECT_EQ(sig_proto_find_id_by_name(t, name), id);
    }
    EXPECT_EQ(t[20].id, -1);
    EXPECT_STREQ(t[20].name, "");
    for (int i = 21; i < SIG_PROTO_NAME_TABLE_SIZE; ++i) {
        EXPECT_EQ(t[i].id, 0) << i;
        EXPECT_STREQ(t[i].name, "") << i;
    }
}

TEST(SigProtoCompare, Header)
{
    // Same source and type: equal whatever the flags.
    sig_proto a = fresh(), b = fresh();
    a.type = b.type = SIG_PROTO_WM_FLAG;
    a.src_addr = b.src_addr = 0x0A000001;
    a.src_ssrc = b.src_ssrc = 42;
    sig_proto_set_base(&b, 3, 1, 1, 1, 1, 1, 1, 1, 1, 1, 3, 17);
    EXPECT_EQ(cmp_sig_proto_header(&a, &b), 0);
    b.src_addr = 0x0A000002;
    EXPECT_EQ(cmp_sig_proto_header(&a, &b), 1);
    b.src_ssrc = 40;
    EXPECT_EQ(cmp_sig_proto_header(&a, &b), -2);
    b.type = SIG_PROTO_WM_TRANS;
    EXPECT_EQ(cmp_sig_proto_header(&a, &b), 1);
    EXPECT_EQ(cmp_sig_proto_header(&b, &a), -1);
    EXPECT_EQ(cmp_sig_proto_header(nullptr, &a), -1);
}

TEST(SigProtoCompare, RenderedTexts)
{
    sig_proto a = SampleOf(SIG_PROTO_WM_CHAN).record;
    sig_proto b = a;
    EXPECT_EQ(cmp_sig_proto(&a, &b), 0);
    // Not rendered: the source words.
    b.src_addr = 99;
    EXPECT_EQ(cmp_sig_proto(&a, &b), 0);
    // Frequencies equal to four decimals compare equal.
    a.wm_chan.freq = 118.50001f;
    EXPECT_EQ(cmp_sig_proto(&a, &b), 0);
    a.wm_chan.freq = 118.5005f;
    EXPECT_NE(cmp_sig_proto(&a, &b), 0);
    // Texts of different length: the difference of the lengths.
    a.wm_chan.freq = 1118.5f;
    EXPECT_EQ(cmp_sig_proto(&a, &b), -1);
    EXPECT_EQ(cmp_sig_proto(&b, &a), 1);
    a = b;
    a.priority = 6;
    EXPECT_NE(cmp_sig_proto(&a, &b), 0);
    EXPECT_EQ(cmp_sig_proto_flags(&a, &b), 0);
    a.flag_c = 1;
    EXPECT_NE(cmp_sig_proto_flags(&a, &b), 0);

    // Types without a formatter render empty and compare equal.
    a.type = 200;
    b.type = 201;
    EXPECT_EQ(cmp_sig_proto(&a, &b), 0);
    EXPECT_EQ(cmp_sig_proto_flags(&a, &b), 0);
    EXPECT_EQ(cmp_sig_proto(&a, nullptr), -1);
    EXPECT_EQ(cmp_sig_proto_flags(nullptr, &b), -1);
}

TEST(SigProtoQueue, Init)
{
    static sig_proto_queue q;
    std::memset(&q, 0x5A, sizeof q);
    init_sig_proto_queue(&q);
    std::vector<std::uint32_t> types;
    for (sig_proto const& p : q.packet)
        types.push_back(p.type);
    std::vector<std::uint32_t> expected = {1, 3, 4, 5, 6, 7, 8, 2, 9, 10, 13, 129, 130, 132, 131, 133, 135};
    expected.resize(SIG_PROTO_QUEUE_SIZE, 0xFFFFFFFFu);
    EXPECT_EQ(types, expected);
    EXPECT_EQ(q.packet[3].flag_p, 0u);
    EXPECT_EQ(q.packet[31].status, 0u);
    for (std::uint32_t w : q.word)
        EXPECT_EQ(w, 0u);
    EXPECT_EQ(init_sig_proto_queue(nullptr), 0);
}
