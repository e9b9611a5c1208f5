#include "slots/rtp_slot.hpp"

#include "asn1/valuenotation.hpp"
#include "core/ext.hpp"
#include "core/singleton.hpp"
#include "hardware/detector_port.hpp"
#include "hardware/driver_port.hpp"
#include "hardware/hw_mux.hpp"

#include <cerrno>
#include <cstring>
#include <ctime>
#include <iostream>
#include <sstream>

#include <arpa/inet.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/random.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

// The driver descriptor never blocks the loop: a read burst ends on EAGAIN.
constexpr int kRtpOpenFlags = O_RDONLY | O_NONBLOCK | O_CLOEXEC;

std::string Notation(ASN1::AbstractData const& value)
{
    std::ostringstream s;
    ASN1::operator<<(s, value);
    return s.str();
}

// The codec's clock rate; 0 for a payload that cannot be a session (T.38,
// R2S, the reserved values, anything unknown).
unsigned int ClockRate(int payload)
{
    switch (payload) {
    case TERM::Payload::ptG711_Alaw:
    case TERM::Payload::ptG711_Ulaw:
    case TERM::Payload::ptG723:
    case TERM::Payload::ptG729:
    case TERM::Payload::ptG711mcc_Alaw:
    case TERM::Payload::ptG711mcc_Ulaw:
    case TERM::Payload::ptG728:
    case TERM::Payload::ptG722:
    case TERM::Payload::ptL16_8000:
        return 8000;
    case TERM::Payload::ptL16_16000:
        return 16000;
    case TERM::Payload::ptL16_32000:
        return 32000;
    case TERM::Payload::ptL16_48000:
        return 48000;
    default:
        return 0;
    }
}

// A dotted quad only: anything else (a name, "1.2.3", an empty text) would
// otherwise become some address nobody asked for, or 255.255.255.255.
bool DottedQuad(std::string const& text, std::uint32_t& network_order)
{
    in_addr a{};
    if (text.find('\0') != std::string::npos || ::inet_pton(AF_INET, text.c_str(), &a) != 1)
        return false;
    network_order = a.s_addr;
    return true;
}

} // namespace

// ------------------------------------------------------------------ SSRC

SsrcSource::SsrcSource()
{
    std::uint32_t words[4] = {};
    bool seeded = ::getrandom(words, sizeof words, GRND_NONBLOCK) == static_cast<ssize_t>(sizeof words);
    if (!seeded) {
        int fd = ::open("/dev/urandom", O_RDONLY | O_CLOEXEC);
        seeded = fd >= 0 && ::read(fd, words, sizeof words) == static_cast<ssize_t>(sizeof words);
        if (fd >= 0)
            ::close(fd);
    }
    if (!seeded) {
        // No random source at all: at least no two starts alike.
        timespec t{};
        ::clock_gettime(CLOCK_REALTIME, &t);
        words[0] = static_cast<std::uint32_t>(t.tv_sec);
        words[1] = static_cast<std::uint32_t>(t.tv_nsec);
        words[2] = static_cast<std::uint32_t>(::getpid());
    }
    std::seed_seq seq(std::begin(words), std::end(words));
    gen_.seed(seq);
}

SsrcSource::SsrcSource(std::uint32_t seed) : gen_(seed)
{}

SsrcSource& SsrcSource::Shared()
{
    return Singleton<SsrcSource>::Get();
}

// ---------------------------------------------------------- session fill

RtpSessionFill FillRtpSession(LGCP::CreateRtpParams const& create, SsrcSource& ssrc)
{
    RtpSessionFill f;
    std::memset(&f.params, 0, sizeof f.params);
    TERM::RtpParams const& p = create.get_codecRTP();
    const int payload = p.get_payload().getValue();
    f.clockRate = ClockRate(payload);
    if (f.clockRate == 0) {
        f.refusal = "payload " + Notation(p.get_payload()) + "not found";
        return f;
    }
    rtp_connection_params& r = f.params;
    TERM::HostAddress const& dhost = p.get_dhost();
    if (!DottedQuad(dhost.get_iaddr(), r.remote_addr)) {
        f.refusal = "dhost address " + Notation(dhost.get_iaddr()) + " is not a dotted quad";
        return f;
    }
    r.remote_port = static_cast<std::uint16_t>(dhost.get_port().getValue());
    if (p.has_shost()) {
        TERM::HostAddress const& shost = p.get_shost();
        if (!DottedQuad(shost.get_iaddr(), r.local_addr)) {
            f.refusal = "shost address " + Notation(shost.get_iaddr()) + " is not a dotted quad";
            return f;
        }
        r.local_port = static_cast<std::uint16_t>(shost.get_port().getValue());
    } else {
        r.local_addr = 0;
        r.local_port = r.remote_port;
    }
    if (p.has_pfactor()) {
        // A 16-bit field: a larger factor would reach the driver cut.
        const int pfactor = p.get_pfactor().getValue();
        if (pfactor < 0 || pfactor > 0xFFFF) {
            f.refusal = "packet factor " + std::to_string(pfactor) + " out of range";
            return f;
        }
        r.packet_factor = static_cast<std::uint16_t>(pfactor);
    }
    f.rxPayload = RtpFactoryBase::translateCodec(payload, create.get_rxPayload().getValue());
    f.txPayload = RtpFactoryBase::translateCodec(payload, create.get_txPayload().getValue());
    r.rx_pt = static_cast<std::uint16_t>(f.rxPayload);
    r.tx_pt = static_cast<std::uint16_t>(f.txPayload);
    r.vad = p.has_vad() && p.get_vad().getValue() ? 1 : 0;
    r.crate = p.has_crate() && p.get_crate().getValue() != 0 ? 1 : 0;
    r.ssrc = p.has_ssrc() ? p.get_ssrc().getValue() : ssrc.Next();
    r.ttl = p.has_ttl() ? p.get_ttl().getValue() : 0;
    // RFC 2474: the DSCP is the upper six bits of the TOS octet; all ones
    // leaves the driver's default.
    r.tos = p.has_qos_dscp() ? (static_cast<std::uint32_t>(p.get_qos_dscp().getValue()) << 2) & 0xFC
                             : 0xFFFFFFFFu;
    if (p.has_dynamic_payload()) {
        const unsigned int dynamic = p.get_dynamic_payload().getValue();
        if (dynamic >= 96 && dynamic <= 127) {
            r.rx_pt = r.tx_pt = static_cast<std::uint16_t>(dynamic);
            r.rx_map_pt = static_cast<std::uint16_t>(f.rxPayload);
            r.rx_clock_rate = f.clockRate;
            r.rx_map_count = 1;
            r.tx_map_pt = static_cast<std::uint16_t>(f.txPayload);
            r.tx_clock_rate = f.clockRate;
            r.tx_map_count = 1;
        }
    }
    f.rtcpPort = static_cast<std::uint16_t>(r.local_port + 1);
    f.peerRtcpPort = static_cast<std::uint16_t>(r.remote_port + 1);
    return f;
}

// ---------------------------------------------------------------- slot

RtpSlot::RtpSlot(int timeslot, Fd rtp_fd, rtp_connection_params const& p)
    : timeslot(timeslot), rtp(rtp_fd.dup()), params(p), defaultPayload(p.rx_pt)
{
    rtcpPeer.sin_family = AF_INET;
    event.Bind("RtpSlot::OnRtpEvent", &RtpSlot::OnRtpEvent, this);
    event.Schedule(rtp.fd(), POLLIN);
}

RtpSlot::~RtpSlot()
{
    send(RTPC::BYE(params.ssrc, "session end"));
    rtcp.reset();
    // A time slot let go may be another slot's by now: anything sent to it
    // here would stop or change that slot's tones and detectors.
    if (holdsTimeslot) {
        // A wait tone or digit string cut here: its next step dies with
        // this receiver.
        StopGenerator();
        Hardware::TonecReceiver::CleanBeforeDestroy();
        Hardware::DSProcReceiver::CleanBeforeDestroy();
    }
    event.Release();
    rtp.reset();
}

void RtpSlot::PutHeader(std::ostream& os) const
{
    os << "rtp[" << timeslot << "]: ";
}

bool RtpSlot::startRTPC(Fd socket, sockaddr_in const& peer)
{
    rtcpPeer = peer;
    if (socket.get() != rtcp.get()) {
        rtcp.reset(socket.dup());
        if (!rtcp)
            return false;
    }
    RTPC::SDES sdes(params.ssrc);
    sdes.add(RTPC::SDES::Item::CNAME, kCname);
    sdes.add(RTPC::SDES::Item::EMAIL, kEmail);
    sdes.add(RTPC::SDES::Item::PHONE, kPhone);
    send(sdes);
    return true;
}

int RtpSlot::send(RTPC::Msg const& msg)
{
    char buffer[1024];
    unsigned int n = msg.encode(buffer, sizeof buffer);
    if (n == 0)
        return 0;
    return static_cast<int>(::sendto(rtcp.get(), buffer, n, MSG_DONTWAIT,
                                     reinterpret_cast<sockaddr const*>(&rtcpPeer), sizeof rtcpPeer));
}

void RtpSlot::IAfterCreate()
{
    OnChangeOutputStream(true);
    OnChangeInputStream(true);
}

bool RtpSlot::IBeforeDestroy()
{
    // After a failed restart there is no session left to end.
    if (rtp) {
        Driver::Ioctl(rtp.get(), RTP_END_1);
        Driver::Ioctl(rtp.get(), RTP_END_2);
        Driver::Ioctl(rtp.get(), RTP_END_3);
        rtp_event_reset reset{kRtpEventPacketDetection};
        Driver::Ioctl(rtp.get(), RTP_RESET_EVENT, &reset);
    }
    // The watch goes first: its duplicate would keep the session open.
    event.Release();
    rtp.reset();
    if (holdsTimeslot)
        HwMux::instance().Disable(timeslot);
    return true;
}

bool RtpSlot::IOnInputStream()
{
    if (rxExternal)
        return true;
    Driver::Ioctl(rtp.get(), RTP_RX_ON);
    rxOn = true;
    return true;
}

void RtpSlot::IOnInputRelease()
{
    Driver::Ioctl(rtp.get(), RTP_RX_OFF);
    rxOn = false;
}

void RtpSlot::OnRtpEvent(int fd, short events)
{
    std::ostringstream header;
    PutHeader(header);
    Hardware::Detector::ReadRecords<rtp_event>(
        event, fd, events, "rtp",
        [this](rtp_event const& e) {
            std::clog << ext::header(this) << "rtp event: "
                      << " type=" << e.type << std::endl;
            processRtpEvent(e);
        },
        header.str());
}

bool RtpSlot::Ioctl(LGCP::IoctlParams const& p)
{
    if (!holdsTimeslot) {
        std::cerr << ext::header(this) << "no session since a restart failed: time slot " << timeslot
                  << " may be another slot's, request refused" << std::endl;
        return false;
    }
    if (p.is_echoSuppressor())
        return echoCancel(p.get_echoSuppressor());
    if (p.is_activateWaitTone()) {
        activateAudibleCall();
        return true;
    }
    if (p.is_deactivateWaitTone()) {
        cancelAudibleCall();
        return true;
    }
    if (p.is_translateDTMF()) {
        translateDTMF(p.get_translateDTMF());
        return true;
    }
    if (p.is_dtmf_params())
        return configureDTMF(p.get_dtmf_params());
    if (p.is_dtmf_enable())
        return enableDTMF(p.get_dtmf_enable());
    if (p.is_encoder_mode())
        return ChangePayload(&rtp_connection_params::tx_pt, p.get_encoder_mode(), p);
    if (p.is_decoder_mode())
        return ChangePayload(&rtp_connection_params::rx_pt, p.get_decoder_mode(), p);
    if (p.is_vad_params())
        return configureVAD(p.get_vad_params());
    if (p.is_vad_enable())
        return enableVAD(p.get_vad_enable());
    if (p.is_vad_disable())
        return disableVAD();
    if (p.is_dtmf_reject_enable())
        return enableDTMFReject(p.get_dtmf_reject_enable());
    if (p.is_sd_params())
        return configureSD();
    if (p.is_sd_enable())
        return enableSD(p.get_sd_enable());
    if (p.is_sd_disable())
        return disableSD();
    if (p.is_pd_enable())
        return enablePD(p.get_pd_enable());
    if (p.is_pd_disable())
        return disablePD();
    if (p.is_rx_gain()) {
        configureRxGain(static_cast<std::int8_t>(p.get_rx_gain().get_gainDB().getValue() & 0xFF));
        return true;
    }
    if (p.is_tone_filter()) {
        LGCP::ToneFilter const& f = p.get_tone_filter();
        configureToneFilter(static_cast<unsigned int>(f.get_freq().getValue()), f.get_enable() ? 1 : 0,
                            f.get_duration_th_msec().getValue(), f.get_det_level_dB().getValue());
        return true;
    }
    if (p.is_selcal()) {
        translateSelcal(p.get_selcal());
        return true;
    }
    return false;
}

unsigned int RtpSlot::translate_payload(LGCP::CodecMode const& mode) const
{
    switch (mode.getValue()) {
    case LGCP::CodecMode::alaw:
        return 8;
    case LGCP::CodecMode::ulaw:
        return 0;
    default:
        return defaultPayload;
    }
}

bool RtpSlot::ChangePayload(std::uint16_t rtp_connection_params::*field, LGCP::CodecMode const& mode,
                            LGCP::IoctlParams const& request)
{
    std::clog << ext::header(this) << "do restart RTP session (change tx payload):" << Notation(request);
    const unsigned int type = translate_payload(mode);
    if (params.*field == type) {
        std::clog << " - Nothing to do" << std::endl;
        return true;
    }
    params.*field = static_cast<std::uint16_t>(type);
    if (!restart()) {
        std::clog << std::endl;
        std::cerr << ext::header(this) << "fail to restart RTP session!" << std::endl;
        // The old session gave the channel back to the driver: the time slot
        // goes with it, before anything else runs.
        LetGoOfTimeslot();
        return false;
    }
    std::clog << " - OK" << std::endl;
    return true;
}

bool RtpSlot::restart()
{
    // The old watch goes before the old descriptor, so that nothing watches
    // a session that has ended, and the channel is free to take back.
    event.Release();
    rtp.reset();
    DeviceFd fresh(Driver::Open(GetRtpDevName(), kRtpOpenFlags));
    if (!fresh)
        return false;
    if (Driver::Ioctl(fresh.get(), RTP_BEGIN_SESSION, &params) < 0)
        return false;
    rtp_channel_info channel{timeslot, -1, -1, 0};
    if (Driver::Ioctl(fresh.get(), RTP_ADD_CHANNEL, &channel) < 0)
        return false;
    // Unwatched, the session's events would never be read.
    if (!event.Schedule(fresh.fd(), POLLIN))
        return false;
    rtp = std::move(fresh);
    return true;
}

void RtpSlot::LetGoOfTimeslot()
{
    std::clog << ext::header(this) << "no session: time slot " << timeslot << " let go" << std::endl;
    HwMux::instance().Disable(timeslot);
    Hardware::TonecReceiver::LetGo();
    Hardware::DSProcReceiver::LetGo();
    holdsTimeslot = false;
    OnChangeInputStream(false);
    OnChangeOutputStream(false);
}

bool RtpSlot::enablePD(LGCP::PDParams const& p)
{
    const auto timeout = static_cast<std::uint32_t>(p.get_timeout().getValue());
    rtp_pd_params rec{};
    rec.type = kRtpEventPacketDetection;
    rec.timeout = timeout;
    rec.timeout_again = timeout;
    if (Driver::Ioctl(rtp.get(), RTP_SET_EVENT, &rec) < 0) {
        std::cerr << ext::header(this) << "RTP SET EVENT PD fail:" << Hardware::Detector::Tail() << std::endl;
        return false;
    }
    std::clog << ext::header(this) << "RTP SET EVENT PD "
              << "timeout=" << p.get_timeout().getValue() << std::endl;
    return true;
}

bool RtpSlot::disablePD()
{
    rtp_event_reset reset{kRtpEventPacketDetection};
    if (Driver::Ioctl(rtp.get(), RTP_RESET_EVENT, &reset) < 0) {
        std::cerr << ext::header(this) << "RTP RESET EVENT PD fail:" << Hardware::Detector::Tail()
                  << std::endl;
        return false;
    }
    std::clog << ext::header(this) << "RTP RESET EVENT PD" << std::endl;
    return true;
}

// -------------------------------------------------------------- factories

RtpFactoryBase::RtpFactoryBase(const char* header) : header_(header)
{
    IQuery();
}

void RtpFactoryBase::PutHeader(std::ostream& os) const
{
    os << header_ << '[' << counts[G729] << ',' << counts[G723] << ',' << counts[G722] << ',' << counts[G711]
       << ',' << counts[Universal] << ',' << counts[L16] << "]: ";
}

void RtpFactoryBase::IQuery()
{
    for (unsigned int& c : counts)
        c = 0;
    DeviceFd voice(Driver::Open(GetVoiceDevName(), O_RDONLY | O_CLOEXEC));
    if (!voice) {
        std::cerr << ext::header(this) << "device " << ext::quoted(GetVoiceDevName())
                  << " open fail: " << std::strerror(errno) << std::endl;
        return;
    }
    // The voice driver's codec masks, in the order of the counts.
    static constexpr std::uint32_t kMasks[Codecs] = {4, 2, 256, 1, 8, 65, 128};
    for (int i = 0; i < Codecs; ++i) {
        // The request number names a 4-octet argument: the mask goes
        // through a pointer to its word, as for the other sized requests.
        std::uint32_t mask = kMasks[i];
        int n = Driver::Ioctl(voice.get(), VOICE_GET_CAPACITY, &mask);
        if (n > 0)
            counts[i] = static_cast<unsigned int>(n);
    }
}

void RtpFactoryBase::Query(LGCP::Resources& r)
{
    IQuery();
    r.set_rtp_g729(static_cast<int>(counts[G729]));
    r.set_rtp_g723(static_cast<int>(counts[G723]));
    r.set_rtp_g722(static_cast<int>(counts[G722]));
    r.set_rtp_g711(static_cast<int>(counts[G711]));
    r.set_rtp_g711mcc(static_cast<int>(counts[G711MCC]));
    r.set_universal(static_cast<int>(counts[Universal]));
    r.set_lin16(static_cast<int>(counts[L16]));
}

unsigned int RtpFactoryBase::translateCodec(int payload)
{
    switch (payload) {
    case TERM::Payload::ptG711_Alaw:
        return 8;
    case TERM::Payload::ptG711_Ulaw:
        return 0;
    case TERM::Payload::ptG723:
        return 4;
    case TERM::Payload::ptG729:
        return 18;
    case TERM::Payload::ptG711mcc_Alaw:
        return 136;
    case TERM::Payload::ptG711mcc_Ulaw:
        return 128;
    case TERM::Payload::ptG728:
        return 15;
    case TERM::Payload::ptG722:
        return 9;
    case TERM::Payload::ptL16_8000:
    case TERM::Payload::ptL16_16000:
    case TERM::Payload::ptL16_32000:
    case TERM::Payload::ptL16_48000:
        return 255;
    default:
        return 0;
    }
}

unsigned int RtpFactoryBase::translateCodec(int payload, int direction)
{
    const bool g711 = direction == TERM::Payload::ptG711_Alaw || direction == TERM::Payload::ptG711_Ulaw;
    return translateCodec(g711 && direction != payload ? direction : payload);
}

RtpSlot* RtpFactoryBase::CreateRtpSlot(LGCP::CreateRtpParams const& create, RtpCreateOptions const& options,
                                       Builder const& build)
{
    std::clog << ext::header(this) << "do create " << options.word << ": " << Notation(create.get_codecRTP())
              << std::endl;
    RtpSessionFill fill = FillRtpSession(create, SsrcSource::Shared());
    if (!fill.ok()) {
        std::clog << ext::header(this) << "rtp do not created: " << fill.refusal << std::endl;
        return nullptr;
    }

    OwnedFd socket(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0));
    if (!socket) {
        std::clog << ext::header(this)
                  << "rtp do not created: can not create socket [errno=" << std::strerror(errno) << "]"
                  << std::endl;
        return nullptr;
    }
    if (options.reuseAddress) {
        int on = 1;
        ::setsockopt(socket.get(), SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    }
    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_addr.s_addr = htonl(INADDR_ANY);
    local.sin_port = htons(fill.rtcpPort);
    if (::bind(socket.get(), reinterpret_cast<sockaddr const*>(&local), sizeof local) != 0) {
        std::clog << ext::header(this)
                  << "rtp do not created: can not bind socket [errno=" << std::strerror(errno)
                  << ", port=" << fill.rtcpPort << "]" << std::endl;
        return nullptr;
    }

    DeviceFd device(Driver::Open(GetRtpDevName(), kRtpOpenFlags));
    if (!device) {
        std::cerr << ext::header(this) << "device " << ext::quoted(GetRtpDevName())
                  << " open fail: " << std::strerror(errno) << std::endl;
        return nullptr;
    }
    rtp_connection_params params = fill.params;
    if (int rc = Driver::Ioctl(device.get(), RTP_BEGIN_SESSION, &params); rc < 0) {
        std::cerr << ext::header(this) << "begin session fail !!! " << RtpErr(rc) << std::endl;
        return nullptr;
    }
    rtp_channel_info channel{-1, -1, -1, options.channelWord3};
    if (Driver::Ioctl(device.get(), RTP_ADD_CHANNEL, &channel) < 0 || channel.tdm < 0) {
        std::cerr << ext::header(this) << "add channel fail !!!" << std::endl;
        return nullptr;
    }

    RtpSlot* slot = build(channel.tdm, device.fd(), params);
    if (slot == nullptr)
        return nullptr;
    // The slot watches its own duplicate of the session: without it the
    // session would be neither read nor controlled.
    if (!slot->watched()) {
        std::cerr << ext::header(this) << "rtp do not created: no descriptor left for the session"
                  << std::endl;
        Undo(slot);
        return nullptr;
    }
    if (!slot->ISetUp()) {
        Undo(slot);
        return nullptr;
    }
    sockaddr_in peer{};
    peer.sin_family = AF_INET;
    peer.sin_addr.s_addr = params.remote_addr;
    peer.sin_port = htons(fill.peerRtcpPort);
    // Without its own duplicate the socket closes with this call: the port
    // would be free for any program, and no report would ever go.
    if (!slot->startRTPC(socket.fd(), peer)) {
        std::cerr << ext::header(this)
                  << "rtp do not created: rtcp socket not kept [errno=" << std::strerror(errno) << "]"
                  << std::endl;
        Undo(slot);
        return nullptr;
    }
    TERM::RtpParams const& p = create.get_codecRTP();
    if (p.has_echo() && p.get_echo().get_suppressor())
        slot->echoCancel(p.get_echo().get_canceller());
    return slot;
}

void RtpFactoryBase::Undo(RtpSlot* slot)
{
    slot->IBeforeDestroy();
    delete slot;
}

RtpFactory* RtpFactory::instance()
{
    static RtpFactory factory;
    return &factory;
}

Slot* RtpFactory::INewSlot(LGCP::CreateParams const& params)
{
    // A radio part belongs to the radio factories, ahead in the chain.
    if (!params.is_rtp() || params.get_rtp().get_codecRTP().has_radio())
        return nullptr;
    return CreateRtpSlot(params.get_rtp(), RtpCreateOptions{},
                         [](int channel, Fd rtp, rtp_connection_params const& record) -> RtpSlot* {
                             return new RtpSlot(channel, rtp, record);
                         });
}
