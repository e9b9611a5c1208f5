#pragma once

// The VEZE radio controllers. They translate between the host's TERM radio
// messages and the VEZE packets in the RTP header extension 0x1337, keep
// two copies of the radio state (what the channel last reported and what
// the host last commanded), decide which received packets may change it,
// and, in the gateway role, repeat the state packets once a second.
//
// The gateway receives the workstations' GW packets (types 1..13) and sends
// WM packets (129..135); the workstation does the reverse.

#include "radio/radio_control.hpp"
#include "radio/sig_proto.hpp"

#include <cstdint>

namespace TERM {
class VezeRadioStatus;
class VezeRadioModifier;
class VezeRadioModifierParams;
class RadioFlags;
} // namespace TERM

namespace RTPSignalling {

// True for the packet types that carry push-to-talk: 1, 3, 9, 129, 130, 133.
bool isPTTCommand(int command);
// True for a command that stands for the whole state (not above 0).
bool isDefaultInitCommand(int command);

struct VezeRadioState {
    static constexpr int kUnset = -1;
    static constexpr int kCallerIdSize = SIG_PROTO_CALLER_ID_SIZE;

    std::int32_t command = 0; // packet type; not above 0: the whole state
    std::uint32_t priority = 15;
    std::uint32_t ptt = 0;
    std::uint32_t session_addr = 0; // network order
    std::uint32_t session_ssrc = 0;
    char caller_id[kCallerIdSize] = {}; // terminated
    std::uint32_t bss = 0;
    std::uint32_t vad_rx = 0;
    std::uint32_t vad_tx = 0;
    std::uint32_t sql = 0;
    std::uint32_t sh = 0;
    std::uint32_t pwr = 0;
    std::uint32_t rv = 0;
    std::uint32_t resv = 0;
    std::uint32_t selcall = 0; // 0..3
    std::uint32_t li = 0;      // 0..511
    std::int32_t remote_no = 0;
    std::int32_t remote_ch = 0;
    std::int32_t channel = 0;
    float frequency = 0;
    // TERM::RadioSquelshe, TERM::RadioRTE; -1 until set.
    std::int32_t squelshe = kUnset;
    std::int32_t rte = kUnset;
    // TERM::RadioStandby states and the group; -1 until set.
    std::int32_t standby_state_channel = kUnset;
    std::int32_t standby_group = kUnset;
    std::int32_t standby_state_receiver = kUnset;
    float quality = 0;
    std::uint32_t src_addr = 0; // network order
    std::uint32_t src_ssrc = 0;

    // At most 255 characters of `text`, terminated.
    void SetCallerId(char const* text);
};

// The name of the first squelch, RTE or standby value of a host message
// that lies outside its TERM type, or null. The PER decoder reads a squelch
// level in 7 bits, so 104..127 arrive although no such level exists.
char const* VezeUnfitField(TERM::VezeRadioStatus const& status);
char const* VezeUnfitField(TERM::VezeRadioModifier const& modifier);

class VezeRadioControl : public RadioControl {
public:
    VezeRadioControl(int channel, rtp_ext_attach_session_params const& attach,
                     rtp_ext_init_params const& init);
    explicit VezeRadioControl(rtp_ext_init_params const& init);
    VezeRadioControl(int channel, Fd rtp, rtp_attach_session_params const& attach);

    bool SendASNToChan(TERM::RadioStatus const& status) override;
    bool SendASNToChan(TERM::RadioModifier const& modifier) override;
    bool Takes(TERM::RadioModifier const& modifier) const override;
    bool GetSQU() override { return radio_.sql != 0; }
    void OnRtpExtEvent(int fd, short events) override;

    // One packet from the channel (after the read burst's collapse rule).
    void OnRtpProtoRXEvent(sig_proto const& packet);
    void DecodeProto(sig_proto const& packet, VezeRadioState& state) const;
    static void EncodeASN(VezeRadioState const& radio, VezeRadioState const& received,
                          TERM::RtpRadioRequest& request);
    static void EncodeStatusASN(VezeRadioState const& state, TERM::RtpRadioRequest& request);
    static void DecodeASN(TERM::VezeRadioModifier const& modifier, VezeRadioState& state);
    static void DecodeASN(TERM::VezeRadioStatus const& status, VezeRadioState& state);
    void SendRadioStateToChan(VezeRadioState const& state);
    int SendProtoToChan(sig_proto& packet);

    VezeRadioState const& channel_state() const noexcept { return chan_; }
    VezeRadioState const& radio_state() const noexcept { return radio_; }

    // Send times (Mux::milliseconds) of the kinds the gateway repeats.
    struct SendTimes {
        std::uint32_t flags = 0; // WM_FLAG, WM_TRANS, WM_SEL_CALL_TRANS
        std::uint32_t chan = 0;
        std::uint32_t remote = 0;
        std::uint32_t standby = 0;
    };
    SendTimes const& send_times() const noexcept { return sent_; }

protected:
    // Into the radio state; -1 for a whole state (nothing is sent then).
    virtual int PutProtoFromRadioToChan(VezeRadioState const&) { return 0; }
    // Into the channel state; -1 for a whole state.
    virtual int PutProtoFromChanToRadio(VezeRadioState const&) { return 0; }
    virtual bool AccessFormChanToRadio(VezeRadioState const&) { return true; }
    // 0 when `packet` was built; -1 for a command of the other direction.
    virtual int EncodeProto(VezeRadioState const&, sig_proto&) { return 0; }

    // Both the gateway's and the workstation's stores per command.
    static void StoreCommandLines(VezeRadioState const& from, VezeRadioState& to);
    static void StoreFlags(VezeRadioState const& from, VezeRadioState& to);
    static void FillHeader(VezeRadioState const& state, sig_proto& packet);

    sig_proto current_{};
    sig_proto previous_{};
    SendTimes sent_;
    VezeRadioState chan_;  // from the channel
    VezeRadioState radio_; // from the host

private:
    void Init();
    template <class Message>
    bool SendVeze(Message const& message);
    // A received value that no TERM type holds: the field's name and the
    // value, or false.
    static bool UnfitReceived(VezeRadioState const& state, char const*& field, unsigned& value);
    void Dropped(VezeRadioState const& state, char const* field, unsigned value);

    std::uint32_t drop_log_time_ = 0;
    std::uint32_t dropped_ = 0;
    bool drop_logged_ = false;
};

class VezeRadioGWControl : public VezeRadioControl {
public:
    using VezeRadioControl::VezeRadioControl;

protected:
    unsigned long ProcessRadioStatus(unsigned long now, unsigned long interval) override;
    int PutProtoFromRadioToChan(VezeRadioState const& state) override;
    int PutProtoFromChanToRadio(VezeRadioState const& state) override;
    bool AccessFormChanToRadio(VezeRadioState const& state) override;
    int EncodeProto(VezeRadioState const& state, sig_proto& packet) override;

private:
    void Repeat(std::int32_t command, std::uint32_t now, std::uint32_t& time);
};

class VezeRadioWSControl : public VezeRadioControl {
public:
    using VezeRadioControl::VezeRadioControl;

protected:
    int PutProtoFromRadioToChan(VezeRadioState const& state) override;
    int PutProtoFromChanToRadio(VezeRadioState const& state) override;
    int EncodeProto(VezeRadioState const& state, sig_proto& packet) override;
};

} // namespace RTPSignalling
