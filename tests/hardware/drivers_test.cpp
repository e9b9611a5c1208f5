// Driver device names and the RTP driver records: layout on the wire of the
// board's driver, diagnostic text, codec names and error texts.

#include "hardware/drivers.hpp"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <sstream>
#include <string>

namespace {

template <class T>
std::string Text(const T& v)
{
    std::ostringstream s;
    s << v;
    return s.str();
}

TEST(DriverRecords, DeviceNames)
{
    EXPECT_STREQ(GetVoiceDevName(), "/dev/voice");
    EXPECT_STREQ(GetMixerDevName(), "/dev/mixer");
    EXPECT_STREQ(GetDTMFDevName(), "/dev/dtmf");
    EXPECT_STREQ(GetDSPDevName(), "/dev/dsp");
    EXPECT_STREQ(GetRtpDevName(), "/dev/rtp");
    EXPECT_STREQ(GetRtpExtDevName(), "/dev/rtp_ext");
    EXPECT_STREQ(GetModemDevName(), "/dev/mctl");
    EXPECT_STREQ(GetMaintenance(), "/dev/maintenance");
    EXPECT_STREQ(GetSpiTdmDevName(), "/dev/spi_tdm");
    EXPECT_STREQ(GetUsbTdmDevName(), "/dev/usb_tdm");
}

// The fields land at the driver's byte offsets, in the machine's own order:
// write each through the struct and find it at its offset.
TEST(DriverRecords, SessionRecordFieldsLandAtTheirOffsets)
{
    rtp_connection_params p;
    std::memset(&p, 0, sizeof p);
    p.remote_port = 0x1234;
    p.local_port = 0x5678;
    p.vad = 1;
    p.crate = 2;
    p.ssrc = 0xA1B2C3D4;
    p.tos = 0xFFFFFFFF;
    p.rx_map_pt = 18;
    p.tx_clock_rate = 8000;
    unsigned char raw[sizeof p];
    std::memcpy(raw, &p, sizeof p);
    auto u16 = [&](std::size_t off) {
        std::uint16_t v;
        std::memcpy(&v, raw + off, 2);
        return v;
    };
    auto u32 = [&](std::size_t off) {
        std::uint32_t v;
        std::memcpy(&v, raw + off, 4);
        return v;
    };
    EXPECT_EQ(u16(4), 0x1234);
    EXPECT_EQ(u16(12), 0x5678);
    EXPECT_EQ(raw[20], 1);
    EXPECT_EQ(raw[21], 2);
    EXPECT_EQ(u32(24), 0xA1B2C3D4u);
    EXPECT_EQ(u32(40), 0xFFFFFFFFu);
    EXPECT_EQ(u16(44), 18);
    EXPECT_EQ(u32(60), 8000u);
    EXPECT_EQ(sizeof(rtp_connection_params), 68u);
    EXPECT_EQ(sizeof(rtp_channel_info), 16u);
    EXPECT_EQ(sizeof(rtp_event), 36u);
    EXPECT_EQ(sizeof(rtp_pd_params), 36u);
}

TEST(DriverRecords, SessionRecordText)
{
    rtp_connection_params p;
    std::memset(&p, 0, sizeof p);
    p.packet_factor = 2;
    p.rx_pt = 8;
    p.tx_pt = 95; // below the dynamic range: printed as it is
    p.ssrc = 4000000000u;
    EXPECT_EQ(Text(p), "  rtp_connection_params\n"
                       "  {\n"
                       "   packet_factor = 2\n"
                       "   rx_pt = 8\n"
                       "   tx_pt = 95\n"
                       "   ssrc = 4000000000\n"
                       "  }\n");
    // A dynamic type prints the codec type it stands for, and its rate.
    p.rx_pt = 96;
    p.rx_map_pt = 18;
    p.rx_clock_rate = 8000;
    p.tx_pt = 127;
    p.tx_map_pt = 4;
    p.tx_clock_rate = 16000;
    EXPECT_EQ(Text(p), "  rtp_connection_params\n"
                       "  {\n"
                       "   packet_factor = 2\n"
                       "   rx_pt = 18\n"
                       "   rx_clock_rate = 8000\n"
                       "   tx_pt = 4\n"
                       "   tx_clock_rate = 16000\n"
                       "   ssrc = 4000000000\n"
                       "  }\n");
    p.tx_pt = 128;
    EXPECT_NE(Text(p).find("   tx_pt = 128\n"), std::string::npos);
}

TEST(DriverRecords, OtherRecordTexts)
{
    EXPECT_EQ(Text(rtp_channel_info{5, -1, -1, 0}), "rtp_channel_info { tdm=5 dev_no=-1 chn=-1 }");
    EXPECT_EQ(Text(rtp_attach_session_params{7, 1234}),
              "  rtp_attach_session_params\n  {\n   fd_rtp = 7\n   pid_rtp = 1234\n  }\n");
    EXPECT_EQ(Text(rtp_ext_attach_session_params{-1, 0}),
              "  rtp_ext_attach_session_params\n  {\n   fd_rtp = -1\n   pid_rtp = 0\n  }\n");
    EXPECT_EQ(Text(rtp_ext_init_params{0x8100, 0, {}}),
              "  rtp_ext_init_params\n  {\n   etype = 33024\n  }\n");
}

TEST(DriverRecords, CodecNames)
{
    const char* names[] = {"unknown",  "g711",     "g723",     "g729", "tonec",
                           "g711-rtp", "g729-rtp", "g723-rtp", "conf"};
    for (int i = 0; i < 9; ++i)
        EXPECT_STREQ(GetCodecAsStr(i), names[i]);
    EXPECT_STREQ(GetCodecAsStr(9), "invalid");
    EXPECT_STREQ(GetCodecAsStr(-1), "invalid");
    EXPECT_STREQ(GetCodecAsStr(-2147483647 - 1), "invalid");
}

TEST(DriverRecords, RtpErrorTexts)
{
    EXPECT_STREQ(RTPStrError(0), "No error");
    EXPECT_STREQ(RTPStrError(0x3000002), "Parameter out of range");
    EXPECT_STREQ(RTPStrError(0x300010c), "Invalid port specified");
    EXPECT_STREQ(RTPStrError(0x300010e), "Unable to close session");
    EXPECT_STREQ(RTPStrError(0x3000122), "Don't send this packet now");
    // The gap in the table, and codes outside it, share one buffer.
    const char* gap = RTPStrError(0x300010d);
    EXPECT_STREQ(gap, "Unknown RTP Error 50331917");
    const char* one = RTPStrError(1);
    EXPECT_STREQ(one, "Unknown RTP Error 1");
    EXPECT_EQ(gap, one);
    EXPECT_STREQ(RTPStrError(-2147483647 - 1), "Unknown RTP Error -2147483648");
}

TEST(DriverRecords, RtpErrKeepsTheErrnoOfItsMoment)
{
    errno = ENOENT;
    RtpErr e(0x3000105);
    errno = 0;
    EXPECT_EQ(e.code(), 0x3000105);
    EXPECT_EQ(e.error(), ENOENT);
    EXPECT_EQ(Text(e), std::strerror(ENOENT));
}

} // namespace
