#pragma once

// An RTP media session of the board's RTP driver ("/dev/rtp"): the driver
// sends and receives the stream itself and exposes it on a TDM switch
// channel, which the slot offers as its transmit and receive channel. The
// slot keeps the session's RTCP socket (one SDES at the start, one BYE at
// the end), reports the driver's packet-detection events and the detector
// events of its channel to the host, and restarts the session with a new
// payload on request.
//
// The radio slots derive from RtpSlot and their factories from
// RtpFactoryBase, which builds the session step for step the same way for
// all three factories (CreateRtpSlot):
// - a factory gives its log word, whether the RTCP socket reuses its
//   address, the fourth word of the add-channel record, and a builder that
//   turns (switch channel, driver descriptor, session record) into its slot
//   or refuses with null;
// - everything opened for a create that is refused is closed again;
// - a derived slot passes every ioctl it does not handle to RtpSlot::Ioctl,
//   and one that sets `rxExternal` switches the receive direction itself
//   (RTP_RX_ON/RTP_RX_OFF) keeping `rxOn` in step.

#include "core/event.hpp"
#include "core/fd.hpp"
#include "hardware/device_fd.hpp"
#include "hardware/drivers.hpp"
#include "slots/rtcp.hpp"
#include "slots/slot.hpp"
#include "slots/slot_factory.hpp"

#include <cstdint>
#include <functional>
#include <iosfwd>
#include <random>
#include <string>

#include <netinet/in.h>

// RFC 3550 8.1: a source picks its SSRC at random. One generator, seeded
// once from the kernel's random source, so that two boards, or one board
// started twice, do not walk the same sequence.
class SsrcSource {
public:
    // Seeded from the kernel.
    SsrcSource();
    // Seeded with `seed`: the same sequence every time (tests).
    explicit SsrcSource(std::uint32_t seed);

    std::uint32_t Next() { return static_cast<std::uint32_t>(gen_()); }

    // The program's generator.
    static SsrcSource& Shared();

private:
    std::mt19937 gen_;
};

// A create's session, worked out before anything is opened.
struct RtpSessionFill {
    // The begin-session record; all zero but what the create sets.
    rtp_connection_params params{};
    // The payload types of the codec table (receive, transmit) and the
    // codec's clock rate; with a dynamic type these are what it maps to.
    unsigned int rxPayload = 0;
    unsigned int txPayload = 0;
    unsigned int clockRate = 0;
    // The local RTCP port (RTP port + 1) and the peer's, each cut to 16
    // bits as the ports are.
    std::uint16_t rtcpPort = 0;
    std::uint16_t peerRtcpPort = 0;
    // Empty when the session can be made; otherwise the text of the log
    // line after "rtp do not created: ".
    std::string refusal;

    bool ok() const { return refusal.empty(); }
};

// Fills the session record from a create's parameters: addresses and ports,
// payload types, packet factor, VAD, comfort rate, SSRC (from `ssrc` when
// the create gives none), TTL, TOS and the dynamic payload mappings. Opens
// nothing.
RtpSessionFill FillRtpSession(LGCP::CreateRtpParams const& create, SsrcSource& ssrc);

class RtpFactoryBase;

class RtpSlot : public Slot, protected Hardware::TonecReceiver, protected Hardware::DSProcReceiver {
public:
    // A session on switch channel `timeslot`; the slot keeps its own
    // duplicate of `rtp` and a copy of the record given to the driver.
    RtpSlot(int timeslot, Fd rtp, rtp_connection_params const& params);
    ~RtpSlot() override;

    // Keeps a duplicate of the socket (unless it is the slot's own) and the
    // peer, and sends the session's SDES; false (errno set, nothing sent)
    // when no duplicate could be had.
    bool startRTPC(Fd rtcp, sockaddr_in const& peer);
    // One RTCP packet to the peer; 0 when it does not encode, else what
    // sendto gave.
    int send(RTPC::Msg const& msg);

    void IAfterCreate() override;
    bool IBeforeDestroy() override;
    bool Ioctl(LGCP::IoctlParams const& params) override;
    bool IOnOutputStream() override { return true; }
    bool IOnInputStream() override;
    void IOnOutputRelease() override {}
    void IOnInputRelease() override;
    int IGetTransmitChannel() override { return timeslot; }
    int IGetReceiveChannel() override { return timeslot; }
    // False once a failed restart let the time slot go.
    bool IHoldsChannels() override { return holdsTimeslot; }
    const char* GetName() const override { return "rtp"; }

    bool enablePD(LGCP::PDParams const& params);
    bool disablePD();
    // A new driver session with `params` on the same switch channel; the
    // tone and detector states carry over, as the time slot does. False
    // leaves the slot without one: the old session gave the channel back to
    // the driver, so another slot's session may take it next. The caller
    // then lets go of the time slot (LetGoOfTimeslot) before anything else
    // runs.
    bool restart();
    // The payload type for a codec mode (lbrc: the create's receive type).
    unsigned int translate_payload(LGCP::CodecMode const& mode) const;

    // "rtp[" channel "]: ", the start of the slot's log lines.
    void PutHeader(std::ostream& os) const;

    // The session's descriptor is watched (false when no duplicate of it
    // could be had).
    bool watched() const noexcept { return static_cast<bool>(event.fd()); }
    // Whether what a derived slot adds to the session was set up as well; a
    // part that failed has logged why.
    virtual bool ISetUp() const { return true; }

    // The SDES texts (RFC 3550 6.5): CNAME, EMAIL, PHONE.
    static constexpr const char* kCname = "Dakvune Torvalisk";
    static constexpr const char* kEmail = "support@example.com";
    static constexpr const char* kPhone = "+15555550100";

protected:
    friend class RtpFactoryBase;

    // The driver descriptor is readable.
    void OnRtpEvent(int fd, short events);
    using Slot::OnRtpEvent;
    // A payload type change of one direction (`request` only for the log),
    // then restart().
    bool ChangePayload(std::uint16_t rtp_connection_params::*field, LGCP::CodecMode const& mode,
                       LGCP::IoctlParams const& request);

    // Hardware::TonecReceiver and Hardware::DSProcReceiver.
    void tonec_event(Hardware::TonecReceiver::Params const& p) override { processTonecEvent(p); }
    unsigned int tonec_timeslot() const override { return static_cast<unsigned int>(timeslot); }
    void dsproc_vad_event(Hardware::DSProcVADEvent const& e) override { processVADEvent(e); }
    void dsproc_bss_event(::dsproc_bss_event const* e) override { processBSSEvent(e); }
    void dsproc_sd_event(Hardware::DSProcSDEvent const& e) override { processSDEvent(e); }
    void dsproc_tone_flt_event(::dsproc_tone_event const* e) override { processToneFltEvent(e); }
    void dsproc_flags_event(::dsproc_flags_event const* e) override { processFlagsEvent(e); }
    unsigned int dsproc_timeslot() const override { return static_cast<unsigned int>(timeslot); }

    int timeslot;
    DeviceFd rtp;
    Event event; // watches `rtp`
    rtp_connection_params params;
    sockaddr_in rtcpPeer{};
    OwnedFd rtcp;
    unsigned int defaultPayload;
    bool rxOn = false;
    bool rxExternal = false;
    // The time slot is this slot's: until a restart fails.
    bool holdsTimeslot = true;

    // While no other session can have the time slot yet: the switch output
    // is disabled, and what the receivers played and switched on there goes
    // off (the generator silence then off, the echo filter, the detectors);
    // then they leave the services' lists and forget it all. The streams go
    // inactive last, so that their disconnections leave the switch output
    // alone and the listeners stop hearing the time slot.
    void LetGoOfTimeslot();
};

// What differs between the factories that build on RtpFactoryBase.
struct RtpCreateOptions {
    // The word after "do create " in the log: "rtp", "rtp ext VEZE", ...
    const char* word = "rtp";
    // SO_REUSEADDR on the RTCP socket before it is bound.
    bool reuseAddress = true;
    // The fourth word of the add-channel record.
    std::uint32_t channelWord3 = 0;
};

class RtpFactoryBase : public SlotFactory {
public:
    // The capacity counts, in this order.
    enum Codec { G729, G723, G722, G711, G711MCC, Universal, L16, Codecs };

    // `header`: the word of the log header ("rtp", "rtp ext VEZE", ...).
    explicit RtpFactoryBase(const char* header);

    // Asks "/dev/voice" again and reports the counts.
    void Query(LGCP::Resources& resources) override;
    // The counts from "/dev/voice"; all 0 when it cannot be asked.
    void IQuery();
    // The header word, "[", the counts of G.729, G.723, G.722, G.711,
    // universal and L16 separated by ",", and "]: ".
    void PutHeader(std::ostream& os) const;

    // The RTP payload type of a payload (the codec table); 0 for one the
    // table does not name.
    static unsigned int translateCodec(int payload);
    // The table value of `payload`, unless `direction` asks for the other
    // G.711 law: then that law's.
    static unsigned int translateCodec(int payload, int direction);

    unsigned int counts[Codecs] = {};

    // Builds the slot of a session; null refuses the create.
    using Builder = std::function<RtpSlot*(int channel, Fd rtp, rtp_connection_params const& params)>;

protected:
    // The whole create after the factory has taken the request: the session
    // record, the RTCP socket bound to the local RTP port + 1, the driver
    // session and its switch channel, the slot from `build`, its SDES
    // towards the peer's RTP port + 1 and the echo setting. Null, with what
    // was opened closed again, when any step fails.
    RtpSlot* CreateRtpSlot(LGCP::CreateRtpParams const& create, RtpCreateOptions const& options,
                           Builder const& build);

private:
    // A slot that could not be set up whole goes as a destroyed one does:
    // its session ended, its channel's output off, every descriptor closed.
    static void Undo(RtpSlot* slot);

    const char* header_;
};

class RtpFactory : public RtpFactoryBase {
public:
    static RtpFactory* instance();

    RtpFactory() : RtpFactoryBase("rtp") {}

    const char* GetName() const override { return "RTP"; }
    // An `rtp` request without a radio part (the radio factories take those).
    Slot* INewSlot(LGCP::CreateParams const& params) override;
};
