#pragma once

// The ED-137 radio controllers. The server plays the radio side of an
// ED-137 session: TX headers from the voice side (push-to-talk) are reported
// to the host, the host's commands go out as RX headers (push-to-talk state,
// squelch, signal quality), the last RX header is repeated as the R2S
// keep-alive, and silence of the far side is reported as abort 151.

#include "radio/r2s_proto.hpp"
#include "radio/radio_control.hpp"

#include <cstdint>

namespace TERM {
class ED137RadioResponse;
class ED137RadioStatus;
class ED137RadioModifier;
class ED137RadioModifierParams;
class ED137RadioHeader;
class ED137RadioExtensionSQI;
} // namespace TERM

namespace RTPSignalling {

// The session parameters of the host's ED-137 radio response.
struct ED137RadioParams {
    std::uint32_t transmission_depend_on_squ = 0;
    std::uint32_t sigtime = 1;
    std::uint32_t r2s_keepalive_period = 200; // ms
    std::uint32_t r2s_keepalive_multiplier = 10;
    std::uint32_t radio_type = 2; // TERM::ED137RadioType radio-txrx
    std::uint32_t txrx_mode = 2;  // TERM::ED137RadioTxRxMode txrx

    void Init(TERM::ED137RadioResponse const& response);
};

// One header as the controller sees it.
struct ED137RadioState {
    static constexpr std::uint32_t kRx = 0x1000; // from the radio
    static constexpr std::uint32_t kTx = 0x2000; // towards the radio
    static constexpr std::uint32_t kKindMask = 0xF000;
    static constexpr std::uint32_t kHeader = 0x0001; // the header fields are set
    static constexpr std::uint32_t kSqi = 0x0002;    // signal quality present

    std::uint32_t flags = 0;
    std::uint32_t ptt = 0; // TERM::ED137RadioPTT
    std::uint32_t squ = 0;
    std::uint32_t ptt_id = 0;
    std::uint32_t ptt_mute = 0;
    std::uint32_t ptt_summation = 0;
    std::uint32_t sct = 0;
    std::uint32_t bss_method = 0; // TERM::ED137RadioBSSMethod
    std::uint32_t bss_quality = 0;
    std::uint32_t addr = 0; // network order
    std::uint32_t ssrc = 0;

    bool IsEqual(ED137RadioState const& other) const;
    bool HasSqi() const { return (flags & (kRx | kSqi)) == (kRx | kSqi); }

    void DecodeASN(TERM::ED137RadioModifier const& modifier);
    void DecodeASN(TERM::ED137RadioStatus const& status);
    void EncodeASN(TERM::ED137RadioModifierParams& params) const;
};

// The name of the first header or SQI value of a host message that does not
// fit its field on the wire (PTT type 3 bits, SQU 1, PTT id 6, method 3,
// quality 5), or null. The packer would cut such a value down silently.
char const* ED137UnfitField(TERM::ED137RadioStatus const& status);
char const* ED137UnfitField(TERM::ED137RadioModifier const& modifier);

class ED137RadioControl : public RadioControl {
public:
    ED137RadioControl(int channel, rtp_ext_attach_session_params const& attach,
                      rtp_ext_init_params const& init);
    ED137RadioControl(int channel, Fd rtp, rtp_attach_session_params const& attach);
    explicit ED137RadioControl(rtp_ext_init_params const& init);

    bool SendASNToChan(TERM::RadioStatus const& status) override;
    bool SendASNToChan(TERM::RadioModifier const& modifier) override;
    bool Takes(TERM::RadioModifier const& modifier) const override;
    bool GetSQU() override { return sent_.squ != 0; }
    void OnRtpExtEvent(int fd, short events) override;

    void SetParams(ED137RadioParams const& params) { params_ = params; }
    ED137RadioParams const& params() const noexcept { return params_; }
    ED137RadioState const& sent_state() const noexcept { return sent_; }
    ED137RadioState const& received_state() const noexcept { return received_; }

    void DecodeASN(TERM::ED137RadioModifier const& modifier, ED137RadioState& state) const
    {
        state.DecodeASN(modifier);
    }
    void DecodeASN(TERM::ED137RadioStatus const& status, ED137RadioState& state) const
    {
        state.DecodeASN(status);
    }
    // 0, or -1 for a record of neither kind.
    int DecodeProto(r2s_proto const& packet, ED137RadioState& state) const;
    static void EncodeStatusASN(ED137RadioState const& state, TERM::RtpRadioRequest& request);
    static void EncodeASN(ED137RadioState const& sent, ED137RadioState const& received,
                          TERM::RtpRadioRequest& request);

    // One header from the channel (after the read burst's source rule).
    void OnRtpProtoRXEvent(r2s_proto const& packet);
    bool NeedSendProto(ED137RadioState const& state) const;
    void SendRadioStateToChan(ED137RadioState const& state);
    int SendProtoToChan(r2s_proto& packet);

protected:
    virtual int PutProtoFromRadioToChan(ED137RadioState const&) { return 0; }
    virtual int PutProtoFromChanToRadio(ED137RadioState const&) { return 0; }
    virtual bool AccessFormChanToRadio(ED137RadioState const&) { return true; }
    virtual int EncodeProto(ED137RadioState const&, r2s_proto&) { return 0; }

    ED137RadioParams params_;
    r2s_proto current_{};
    r2s_proto previous_{};
    std::uint32_t keepalive_time_ = 0;   // last keep-alive or RX header sent
    std::uint32_t notify_time_ = 0;      // last report to the host
    std::uint32_t good_header_time_ = 0; // last header that decoded
    ED137RadioState received_;           // from the channel
    ED137RadioState sent_;               // to the channel

private:
    void Init();
    // The host's ED-137 status or modifier, checked against the wire and
    // sent from the sent state.
    template <class Message>
    bool SendED137(Message const& message);
};

class ED137RadioGWControl : public ED137RadioControl {
public:
    using ED137RadioControl::ED137RadioControl;

protected:
    unsigned long ProcessRadioStatus(unsigned long now, unsigned long interval) override;
    int PutProtoFromRadioToChan(ED137RadioState const& state) override;
    int PutProtoFromChanToRadio(ED137RadioState const& state) override;
    bool AccessFormChanToRadio(ED137RadioState const& state) override;
    int EncodeProto(ED137RadioState const& state, r2s_proto& packet) override;
};

} // namespace RTPSignalling
