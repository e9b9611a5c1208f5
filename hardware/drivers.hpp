#pragma once

// The board's driver device files, every path in one place, and the records
// that the media slots exchange with the RTP driver "/dev/rtp" and the mixer driver "/dev/mixer". Records are native structs laid
// out as the board's (32-bit big-endian) driver expects them; the sizes and
// offsets are checked below so that a change of compiler or target cannot
// move a field silently.

#include "hardware/driver_port.hpp"

#include <cstddef>
#include <cstdint>
#include <iosfwd>

// Device files (constant paths, valid for the whole program).
const char* GetVoiceDevName();
const char* GetMixerDevName();
const char* GetDTMFDevName();
const char* GetDSPDevName();
const char* GetRtpDevName();
const char* GetRtpExtDevName();
const char* GetModemDevName();
const char* GetMaintenance();
const char* GetSpiTdmDevName();
const char* GetUsbTdmDevName();
// The TDM switch, the clock selector and the SPI framers.
const char* GetHalDevName();
// The MCC (HDLC) controllers.
const char* GetMccCtlDevName();
// Channel-associated signalling of the E1 trunks.
const char* GetCasDevName();
// The DSP data driver: a QSIG D channel towards an exchange, and its B channels.
const char* GetDspDataDevName();

// RTP driver requests on a descriptor of "/dev/rtp" (board encoding).
constexpr std::uint32_t RTP_BEGIN_SESSION = 0xc0445200; // rtp_connection_params
constexpr std::uint32_t RTP_ADD_CHANNEL = 0xc0105202;   // rtp_channel_info
constexpr std::uint32_t RTP_SET_EVENT = 0xc024520c;     // rtp_pd_params
constexpr std::uint32_t RTP_RESET_EVENT = 0x8004520d;   // rtp_event_reset
// The receive direction of the session on and off (no argument).
constexpr std::uint32_t RTP_RX_ON = 0x20005204;
constexpr std::uint32_t RTP_RX_OFF = 0x20005205;
// Sent in this order when a session ends (no argument); what each does is
// the driver's business.
constexpr std::uint32_t RTP_END_1 = 0x2000520a;
constexpr std::uint32_t RTP_END_2 = 0x20005203;
constexpr std::uint32_t RTP_END_3 = 0x2000520b;

// The voice driver "/dev/voice": the number of sessions the DSPs can carry
// for the codec mask (a 32-bit word, by pointer) is the request's result.
constexpr std::uint32_t VOICE_GET_CAPACITY = 0x40045602;

// The session record of RTP_BEGIN_SESSION. Writers clear it whole first, so
// the pad bytes go to the driver as zero.
struct rtp_connection_params {
    std::uint32_t remote_addr; // network order, as inet_addr gives it
    std::uint16_t remote_port;
    std::uint8_t pad0[2];
    std::uint32_t local_addr;
    std::uint16_t local_port;
    std::uint16_t rx_pt;
    std::uint16_t tx_pt;
    std::uint16_t packet_factor;
    std::uint8_t vad;
    std::uint8_t crate;
    std::uint8_t pad1[2];
    std::uint32_t ssrc;
    std::uint32_t reserved0;
    std::uint32_t reserved1;
    std::uint32_t ttl;
    std::uint32_t tos;
    // Dynamic payload mappings: filled only for a dynamic type 96..127.
    std::uint16_t rx_map_pt;
    std::uint8_t pad2[2];
    std::uint32_t rx_clock_rate;
    std::uint32_t rx_map_count;
    std::uint16_t tx_map_pt;
    std::uint8_t pad3[2];
    std::uint32_t tx_clock_rate;
    std::uint32_t tx_map_count;
};

// The channel record of RTP_ADD_CHANNEL.
struct rtp_channel_info {
    std::int32_t tdm;
    std::int32_t dev_no; // -1: the driver chooses
    std::int32_t chn;    // -1: the driver chooses
    std::uint32_t reserved;
};

// One event read from a session descriptor.
struct rtp_event {
    std::uint32_t type; // kRtpEventPacketDetection
    std::uint32_t value;
    std::uint32_t timeout;
    std::uint8_t rest[24];
};
constexpr std::uint32_t kRtpEventPacketDetection = 1;

// The packet-detection setting of RTP_SET_EVENT (the size of rtp_event).
struct rtp_pd_params {
    std::uint32_t type; // kRtpEventPacketDetection
    std::uint32_t zero0;
    std::uint32_t timeout;
    std::uint8_t zero1[8];
    std::uint32_t timeout_again;
    std::uint8_t zero2[12];
};

// The packet-detection reset of RTP_RESET_EVENT.
struct rtp_event_reset {
    std::uint32_t type; // kRtpEventPacketDetection
};

// Radio-extension driver requests: on a descriptor of "/dev/rtp_ext", and
// the one on the RTP session descriptor that joins an existing extension
// session (board encoding).
constexpr std::uint32_t RTP_EXT_INIT = 0xc0144500;           // rtp_ext_init_params
constexpr std::uint32_t RTP_EXT_ATTACH = 0xc0084501;         // rtp_ext_attach_session_params
constexpr std::uint32_t RTP_EXT_DETACH = 0x20004502;         // rtp_ext_attach_session_params
constexpr std::uint32_t RTP_EXT_PACKET_INFO = 0xc00c4503;    // rtp_ext_packet_info
constexpr std::uint32_t RTP_EXT_SET_FILTER = 0xc0084504;     // rtp_ext_filter
constexpr std::uint32_t RTP_EXT_RESET_FILTER = 0x20004505;   // rtp_ext_filter
constexpr std::uint32_t RTP_ATTACH_EXT_SESSION = 0xc0085209; // rtp_attach_session_params

// An existing extension session, named by its owner's descriptor and pid.
struct rtp_attach_session_params {
    std::int32_t fd_rtp;
    std::int32_t pid_rtp;
};
// The RTP session of this process that an extension session reads and
// writes the header extensions of (pid: the owner's, or -1).
struct rtp_ext_attach_session_params {
    std::int32_t fd_rtp;
    std::int32_t pid_rtp;
};
// The header-extension profile of a session (0x1337 VEZE, 0x0167 ED-137)
// and four words whose meaning the profile gives.
struct rtp_ext_init_params {
    std::uint16_t etype;
    std::uint16_t zero;
    std::uint32_t words[4];
};
// What the driver tells of the next extension before it is read.
struct rtp_ext_packet_info {
    std::uint32_t ssrc;
    std::uint32_t src_addr; // network order
    std::uint32_t unused;
};
// The one source address the driver is to accept.
struct rtp_ext_filter {
    std::uint32_t addr; // network order
    std::uint32_t zero;
};

static_assert(sizeof(rtp_connection_params) == 68);
static_assert(offsetof(rtp_connection_params, remote_port) == 4);
static_assert(offsetof(rtp_connection_params, local_addr) == 8);
static_assert(offsetof(rtp_connection_params, local_port) == 12);
static_assert(offsetof(rtp_connection_params, rx_pt) == 14);
static_assert(offsetof(rtp_connection_params, tx_pt) == 16);
static_assert(offsetof(rtp_connection_params, packet_factor) == 18);
static_assert(offsetof(rtp_connection_params, vad) == 20);
static_assert(offsetof(rtp_connection_params, crate) == 21);
static_assert(offsetof(rtp_connection_params, ssrc) == 24);
static_assert(offsetof(rtp_connection_params, ttl) == 36);
static_assert(offsetof(rtp_connection_params, tos) == 40);
static_assert(offsetof(rtp_connection_params, rx_map_pt) == 44);
static_assert(offsetof(rtp_connection_params, rx_clock_rate) == 48);
static_assert(offsetof(rtp_connection_params, rx_map_count) == 52);
static_assert(offsetof(rtp_connection_params, tx_map_pt) == 56);
static_assert(offsetof(rtp_connection_params, tx_clock_rate) == 60);
static_assert(offsetof(rtp_connection_params, tx_map_count) == 64);
static_assert(sizeof(rtp_channel_info) == 16);
static_assert(offsetof(rtp_channel_info, dev_no) == 4);
static_assert(offsetof(rtp_channel_info, chn) == 8);
static_assert(sizeof(rtp_event) == 36);
static_assert(offsetof(rtp_event, value) == 4);
static_assert(offsetof(rtp_event, timeout) == 8);
static_assert(sizeof(rtp_pd_params) == 36);
static_assert(offsetof(rtp_pd_params, timeout) == 8);
static_assert(offsetof(rtp_pd_params, timeout_again) == 20);
static_assert(sizeof(rtp_event_reset) == 4);
static_assert(sizeof(rtp_attach_session_params) == 8);
static_assert(sizeof(rtp_ext_attach_session_params) == 8);
static_assert(sizeof(rtp_ext_init_params) == 20);
static_assert(offsetof(rtp_ext_init_params, zero) == 2);
static_assert(offsetof(rtp_ext_init_params, words) == 4);
static_assert(sizeof(rtp_ext_packet_info) == 12);
static_assert(offsetof(rtp_ext_packet_info, src_addr) == 4);
static_assert(offsetof(rtp_ext_packet_info, unused) == 8);
static_assert(sizeof(rtp_ext_filter) == 8);
static_assert(offsetof(rtp_ext_filter, zero) == 4);
// The size field of each request number names its record.
static_assert(Driver::RequestSize(RTP_BEGIN_SESSION) == sizeof(rtp_connection_params));
static_assert(Driver::RequestSize(RTP_ADD_CHANNEL) == sizeof(rtp_channel_info));
static_assert(Driver::RequestSize(RTP_SET_EVENT) == sizeof(rtp_pd_params));
static_assert(Driver::RequestSize(RTP_RESET_EVENT) == sizeof(rtp_event_reset));
static_assert(Driver::RequestSize(RTP_EXT_INIT) == sizeof(rtp_ext_init_params));
static_assert(Driver::RequestSize(RTP_EXT_ATTACH) == sizeof(rtp_ext_attach_session_params));
static_assert(Driver::RequestSize(RTP_EXT_PACKET_INFO) == sizeof(rtp_ext_packet_info));
static_assert(Driver::RequestSize(RTP_EXT_SET_FILTER) == sizeof(rtp_ext_filter));
static_assert(Driver::RequestSize(RTP_ATTACH_EXT_SESSION) == sizeof(rtp_attach_session_params));

// Conference mixer requests on "/dev/mixer" (board encoding). All carry
// write-direction codes, yet MIX_UNIT_INFO fills its record and MIX_TDM
// answers in its result: the driver's own convention.
constexpr std::uint32_t MIX_RX_CLEAR = 0x800c4d02;  // mix_slot
constexpr std::uint32_t MIX_RX_ADD = 0x801c4d03;    // mix_rx_params
constexpr std::uint32_t MIX_RX_REMOVE = 0x801c4d04; // mix_rx_params, gain not filled
constexpr std::uint32_t MIX_TDM = 0x800c4d06;       // mix_slot; result: the switch channel
constexpr std::uint32_t MIX_UNIT_INFO = 0x80104d07; // mix_unit_info

// One mixer channel. Writers clear it whole first.
struct mix_slot {
    std::int32_t dev_no; // the unit
    std::int32_t type;   // 0: a TDM channel, the only kind sent
    std::int32_t number; // the channel within the unit
};

// Source `tx` feeds receiving point `rx` (an output or a summator).
struct mix_rx_params {
    mix_slot rx;
    mix_slot tx;
    std::int32_t gain;
};

// In: the unit the previous call returned, -1 first. Out: the next unit.
struct mix_unit_info {
    std::int32_t unit;
    std::int32_t tdm_channels;
    std::int32_t reserved; // zero, never read
    std::int32_t mixer_inputs;
};

static_assert(sizeof(mix_slot) == 12);
static_assert(offsetof(mix_slot, type) == 4);
static_assert(offsetof(mix_slot, number) == 8);
static_assert(sizeof(mix_rx_params) == 28);
static_assert(offsetof(mix_rx_params, tx) == 12);
static_assert(offsetof(mix_rx_params, gain) == 24);
static_assert(sizeof(mix_unit_info) == 16);
static_assert(offsetof(mix_unit_info, tdm_channels) == 4);
static_assert(offsetof(mix_unit_info, mixer_inputs) == 12);
static_assert(Driver::RequestSize(MIX_RX_CLEAR) == sizeof(mix_slot));
static_assert(Driver::RequestSize(MIX_RX_ADD) == sizeof(mix_rx_params));
static_assert(Driver::RequestSize(MIX_RX_REMOVE) == sizeof(mix_rx_params));
static_assert(Driver::RequestSize(MIX_TDM) == sizeof(mix_slot));
static_assert(Driver::RequestSize(MIX_UNIT_INFO) == sizeof(mix_unit_info));

// Diagnostic text (multi-line records indented by two blanks per line).
std::ostream& operator<<(std::ostream& os, const rtp_connection_params& p);
std::ostream& operator<<(std::ostream& os, const rtp_channel_info& p);
std::ostream& operator<<(std::ostream& os, const rtp_attach_session_params& p);
std::ostream& operator<<(std::ostream& os, const rtp_ext_attach_session_params& p);
std::ostream& operator<<(std::ostream& os, const rtp_ext_init_params& p);

// "unknown", "g711", ... "conf"; "invalid" for anything else.
const char* GetCodecAsStr(int codec);
// The driver's error text; an unknown code is formatted into one static
// buffer that the next unknown code overwrites.
const char* RTPStrError(int code);

// An RTP driver failure: the errno of the moment, and the driver's code.
class RtpErr {
public:
    explicit RtpErr(int code);
    int code() const noexcept { return code_; }
    int error() const noexcept { return errno_; }
    void Put(std::ostream& os) const;

private:
    int errno_;
    int code_;
};
std::ostream& operator<<(std::ostream& os, const RtpErr& e);

// Modem driver requests on a descriptor of "/dev/mctl". Their numbers carry
// no size: the argument is a value, or a record of 32-bit words whose
// length the request implies.
constexpr std::uint32_t MCTL_ANSWER = 0xBB03;        // mctl_modem_cmd {modem, -1}
constexpr std::uint32_t MCTL_ORIGINATE = 0xBB04;     // mctl_modem_cmd {modem, -1}
constexpr std::uint32_t MCTL_ALLOCATE = 0xBB0B;      // value 0; result: the modem taken
constexpr std::uint32_t MCTL_ENUMERATE = 0xBB0C;     // value: the previous modem (-1 first)
constexpr std::uint32_t MCTL_GET_TIMESLOT = 0xBB15;  // value 0; result: the modem's switch channel
constexpr std::uint32_t MCTL_SET_DDM = 0xBB16;       // mctl_modem_cmd {modem, flags}
constexpr std::uint32_t MCTL_SET_DMP = 0xBB38;       // mctl_dmp_param
constexpr std::uint32_t MCTL_RESET_DMP = 0xBB3A;     // mctl_modem_cmd {modem, -1}
constexpr std::uint32_t MCTL_FAX_ORIGINATE = 0xBB40; // mctl_modem_cmd {modem, -1}

// Digital data mode bits of MCTL_SET_DDM.
constexpr std::int32_t MCTL_DDM_V110 = 1;
constexpr std::int32_t MCTL_DDM_8BIT = 2;
constexpr std::int32_t MCTL_DDM_7BIT = 4;

struct mctl_modem_cmd {
    std::int32_t modem;
    std::int32_t arg;
};

struct mctl_dmp_param {
    std::int32_t modem;
    std::uint32_t index;
    std::uint32_t value;
};

static_assert(sizeof(mctl_modem_cmd) == 8);
static_assert(offsetof(mctl_modem_cmd, arg) == 4);
static_assert(sizeof(mctl_dmp_param) == 12);
static_assert(offsetof(mctl_dmp_param, index) == 4);
static_assert(offsetof(mctl_dmp_param, value) == 8);

// The kernel's generic HDLC interfaces ("hdlc<N>"), commanded through
// Driver::NetIoctl on an AF_INET datagram socket. SIOCWANDEV carries an
// if_settings record in the interface record's union: a type, the size of
// the buffer, and a pointer to the buffer.
namespace HdlcIf {
constexpr unsigned long SIOCWANDEV = 0x894A;
constexpr std::uint32_t IF_GET_IFACE = 0x0001; // read the physical interface's settings
constexpr std::uint32_t IF_PROTO_HDLC = 0x2000;
constexpr std::uint32_t IF_PROTO_PPP = 0x2001;
// The physical settings read by IF_GET_IFACE: the E1 record's slot_map word
// names the interface's TDM switch channel.
constexpr std::uint32_t kIfaceBuffer = 128;
constexpr std::uint32_t kSlotMapOffset = 12;

struct if_settings {
    std::uint32_t type;
    std::uint32_t size;
    void* data;
};
// raw HDLC settings of IF_PROTO_HDLC.
struct raw_hdlc_proto {
    std::uint16_t encoding;
    std::uint16_t parity;
};

static_assert(offsetof(if_settings, size) == 4);
static_assert(offsetof(if_settings, data) == 8);
static_assert(sizeof(raw_hdlc_proto) == 4);
} // namespace HdlcIf

// Requests on a descriptor of "/dev/dsp-data" (board encoding). Each open is
// one D channel, whose frames are read and written one per call.
// The D channel's switch channel is the request's result; the number names a
// 4-byte record, which the caller passes as scratch.
constexpr std::uint32_t DSP_DATA_TIMESLOT = 0x40044211;
// dsp_data_bchannel {index, -1}: the driver writes the B channel's switch
// channel into `timeslot` although the number's direction says "write".
constexpr std::uint32_t DSP_DATA_ADD_B = 0x8008420f;
// dsp_data_bchannel {index, time slot}: gives the B channel back.
constexpr std::uint32_t DSP_DATA_REMOVE_B = 0x80084210;

struct dsp_data_bchannel {
    std::int32_t index; // 0-based B channel of the line
    std::int32_t timeslot;
};

static_assert(sizeof(dsp_data_bchannel) == 8);
static_assert(offsetof(dsp_data_bchannel, timeslot) == 4);
static_assert(Driver::RequestSize(DSP_DATA_TIMESLOT) == 4);
static_assert(Driver::RequestSize(DSP_DATA_ADD_B) == sizeof(dsp_data_bchannel));
static_assert(Driver::RequestSize(DSP_DATA_REMOVE_B) == sizeof(dsp_data_bchannel));
