// The VEZE packet texts: the exact lines of every formatter in each mode,
// and the bounds of the caller's buffer whatever its size.

#include "radio/sig_proto.hpp"
#include "radio/sig_proto_samples.hpp"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>

using namespace vezetest;

namespace {

std::string render(sig_proto const& p, int mode)
{
    char buf[8192];
    int const n = sprintf_sig_proto(buf, sizeof buf, &p, mode);
    EXPECT_EQ(static_cast<std::size_t>(n), std::strlen(buf));
    return buf;
}

char const* const kFlags = "flag_t   : 1,\n"
                           "flag_p   : 0,\n"
                           "flag_r   : 1,\n"
                           "flag_s   : 0,\n"
                           "flag_b   : 1,\n"
                           "flag_rv  : 0,\n"
                           "flag_sh  : 1,\n"
                           "flag_rs  : 1,\n"
                           "flag_pw  : 0,\n"
                           "flag_c   : 2,\n";
char const* const kPriorityStatus = "priority : 5,\n"
                                    "status   : 300,\n";

// The text of a sample in `mode`, from its parts.
std::string expected(Sample const& s, int mode)
{
    std::string text;
    char line[64];
    if ((mode & SIG_PROTO_PRINT_TYPE_NAME) != 0) {
        std::snprintf(
            line, sizeof line, "type      : %s,\n",
            sig_proto_find_name_by_id(sig_proto_packet_const_name, static_cast<int>(s.record.type)));
        text += line;
    } else if ((mode & SIG_PROTO_PRINT_TYPE) != 0) {
        std::snprintf(line, sizeof line, "type      : 0x%08X,\n", s.record.type);
        text += line;
    }
    text += kFlags;
    if ((mode & SIG_PROTO_PRINT_FLAGS_ONLY) == 0)
        text += kPriorityStatus + s.payload_text;
    return text;
}

sig_proto long_selcall(unsigned length)
{
    sig_proto p = SampleOf(SIG_PROTO_WM_SEL_CALL_TRANS).record;
    std::string id;
    for (unsigned i = 0; i < length; ++i)
        id += static_cast<char>('!' + i % 90);
    sig_proto_set_wm_selcall_transmite(&p, Addr("255.255.255.255"), 0xFFFFFFFF, id.c_str(),
                                       static_cast<std::uint8_t>(length));
    return p;
}

// Renders into buffers of every size from 1 to past the full text, each
// allocated to exactly that size (AddressSanitizer sees any overrun); the
// buffer starts as garbage when the formatter is called directly.
void check_bounds(sig_proto const& p, int mode, long step = 1)
{
    std::string const full = render(p, mode);
    long const len = static_cast<long>(full.size());
    sig_proto_formatter direct = nullptr;
    for (s_sig_proto_sprintf const& row : sig_proto_sprintf_table)
        if (static_cast<std::uint32_t>(row.type) == p.type)
            direct = row.formatter;
    ASSERT_NE(direct, nullptr);
    for (long size = 1; size <= len + 2; size += step) {
        for (int way = 0; way < 2; ++way) {
            std::unique_ptr<char[]> buf(new char[static_cast<std::size_t>(size)]);
            std::memset(buf.get(), 'Z', static_cast<std::size_t>(size));
            int const n =
                way == 0 ? sprintf_sig_proto(buf.get(), size, &p, mode) : direct(buf.get(), size, &p, mode);
            char const* end =
                static_cast<char const*>(std::memchr(buf.get(), '\0', static_cast<std::size_t>(size)));
            ASSERT_NE(end, nullptr) << "size " << size;
            ASSERT_EQ(n, end - buf.get()) << "size " << size;
            // The whole text when it fits with a spare octet, else its start.
            long const expect = std::min(len, std::max(0L, size - 2));
            ASSERT_EQ(n, expect) << "size " << size;
            ASSERT_EQ(full.compare(0, static_cast<std::size_t>(n), buf.get()), 0) << "size " << size;
        }
    }
}

} // namespace

TEST(SigProtoRender, EveryFormatterInEveryMode)
{
    for (Sample const& s : Samples()) {
        for (int mode : {1, 2, 4, 0, 3, 6}) {
            SCOPED_TRACE("type " + std::to_string(s.record.type) + " mode " + std::to_string(mode));
            EXPECT_EQ(render(s.record, mode), expected(s, mode));
        }
    }

    // Type 0 renders its base lines; a type outside the table nothing.
    sig_proto p = SampleOf(SIG_PROTO_GW_FLAG).record;
    p.type = 0;
    EXPECT_EQ(render(p, 1), std::string("type      : 0x00000000,\n") + kFlags + kPriorityStatus);
    EXPECT_EQ(render(p, 2), std::string("type      : 0x00000000,\n") + kFlags + kPriorityStatus);
    p.type = 14;
    EXPECT_EQ(render(p, 3), "");

    // A base formatter called for a type without a name prints the number.
    p.type = 0xABCD;
    char buf[1024];
    sprintf_base(buf, sizeof buf, &p, 2);
    EXPECT_EQ(std::string(buf), std::string("type      : 0x0000ABCD,\n") + kFlags + kPriorityStatus);
}

TEST(SigProtoRender, PayloadValuesAsPrinted)
{
    sig_proto p = SampleOf(SIG_PROTO_WM_CHAN).record;
    p.wm_chan.freq = -1234567.875f;
    p.wm_chan.id = 0xFFFFFFFF;
    std::string const text = render(p, 0);
    EXPECT_NE(text.find("wm_chan.id   : 4294967295,\n"), std::string::npos) << text;
    EXPECT_NE(text.find("wm_chan.freq : -1234567.8750,\n"), std::string::npos) << text;

    sig_proto q = SampleOf(SIG_PROTO_WM_RADIO_QUALITY).record;
    q.wm_radio_quality.radio_quality = 3.0e38f;
    EXPECT_EQ(render(q, 4), std::string(kFlags));
    // A float from the network may need 45 characters.
    EXPECT_NE(render(q, 0).find(
                  "wm_radio_quality.radio_quality : 300000000549775575777803994281145270272.00000,\n"),
              std::string::npos);

    sig_proto s = long_selcall(3);
    EXPECT_NE(render(s, 0).find("wm_sel_call_trans.session_addr : 255.255.255.255,\n"
                                "wm_sel_call_trans.ssrc         : 0xFFFFFFFF,\n"
                                "wm_sel_call_trans.callerID_length: 3,\n"
                                "wm_sel_call_trans.callerID : \n"
                                "[0] : 0x21,\n[1] : 0x22,\n[2] : 0x23,\n"),
              std::string::npos);
}

TEST(SigProtoRender, NeverWritesPastTheBuffer)
{
    for (Sample const& s : Samples())
        for (int mode : {1, 2, 4})
            check_bounds(s.record, mode);
    // A longer caller ID (about 800 characters of text) at every size, and
    // the longest one there is at sizes in steps.
    for (int mode : {1, 2, 4})
        check_bounds(long_selcall(32), mode);
    check_bounds(long_selcall(255), 2, 37);

    // Size below 1, or null arguments: nothing is written.
    char c = 'Z';
    sig_proto const& p = SampleOf(SIG_PROTO_WM_CHAN).record;
    EXPECT_EQ(sprintf_sig_proto(&c, 0, &p, 1), 0);
    EXPECT_EQ(sprintf_wm_chan(&c, -3, &p, 1), 0);
    EXPECT_EQ(c, 'Z');
    EXPECT_EQ(sprintf_sig_proto(nullptr, 10, &p, 1), 0);
    EXPECT_EQ(sprintf_sig_proto(&c, 1, nullptr, 1), 0);
}
