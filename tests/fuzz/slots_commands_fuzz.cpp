// Slot commands in any order, on any numbers, against Slots with the trunk,
// basic-rate, map, RTP, modem, mixer, external, echo, MCC and HDLC packet
// factories on the simulated board.
//
// Input: a sequence of steps, each an opcode octet and its operands (a slot
// number is two octets, modulo 1100 so that numbers past the table occur):
//   0 create trunk     slot, trunk, time slot
//   1 create trunk_bri slot, line, channel
//   2 create map       slot, flags (bit 0 transmitter, bit 1 receiver),
//                      bus and channel of each (past their ranges too)
//   3 connect          slot, target
//   4 disconnect       slot      5 destroy slot     6 activate slot
//   7 deactivate slot            8 userData slot, length, octets
//   9 ioctl slot                 10 query (with a slot when bit 7 of the
//                                   opcode is set)
//   11 the host is lost and a new one connects
//   12 create ext      slot, transmitter and receiver (two octets each,
//                      signed, so that both ends of the range are passed)
//   13 create echo     slot, bus and channel (one signed octet each; buses
//                      1 and 3 are present)
//   14 create mcc      slot, type (0..3, one past the enumeration), mode
//   15 create modem    slot, flags (bit 0 ddm present, bit 1 a mode in it,
//                      bit 2 originate, bit 3 fax, bit 4 execargs, bit 5
//                      dmp, bit 6 the program's start fails, bit 7 the next
//                      modem or interface request fails)
//   16 the loop clock moves on (operand times 40 ms): stop timers fire
//   17 create hdlcParams slot, trunk, address (two octets)
//   18 ioctl hdlcPackages slot, count (0..7), each body's length (0..31)
//                      and octets
//   19 create rtp      slot, payload, flags (bit 0 shost, bit 1 dynamic
//                      payload, bit 2 ssrc, bit 3 pfactor past 16 bits,
//                      bit 4 a bad dhost), port index
//   20 rtp ioctl       slot, what (decoder-mode, encoder-mode, pd-enable,
//                      pd-disable, dtmf-enable, vad-enable; bit 7: the next
//                      session begin of the driver fails), value
//   21 rtp event       channel index, type, length; then one loop pass
//   22 create mixerIn  slot, unit (signed octet), channel, flags (bit 0
//                      summator, bit 1 ecm, bits 2 and 3 its ec and es),
//                      summator channel; a channel is a kind octet (bit 0:
//                      rtp) and a signed octet
//   23 create mixerOut slot, unit, channel, count (0..3) of inputs, each a
//                      channel and a gain (two octets, signed)
//   24 mixer unit      an octet: unit (0..3) leaves the board's list if
//                      there, else joins it with 1..32 channels
//   25 activate with modem user parameters: slot, then a remote address
//      text of up to 15 octets (malformed ones too) and the MTU octet
//   26 create t38soft  slot, flags (bit 0 the program's start fails, bit 1
//                      an MCC request fails: bits 2 and 3 pick the open,
//                      MCC_ALLOCATE or MCC_TIMESLOT), count (0..39) of args,
//                      a remote address text of up to 15 octets
//   27 create rtp with a radio part: the operands of 19, then kind (bit 0
//      ED-137, else VEZE), a value for the squelch or PTT type (past their
//      fields too) and flags (bit 0 bss-enable, bit 1 rtp-e2m only-rtp,
//      bit 2 transmission-depend-on-squ, bit 3 the delays)
//   28 rtpExt ioctl    slot, kind (bit 0 ED-137 rx, else VEZE wm-flags),
//                      a value for SQU / sh
//   29 create pstn     slot, variant (ss7, isdn pri user, pri network, bri
//                      user, bri network, cas), trunk, slc, dpc and log
//                      (one signed octet each), emergency
//   30 pstn ioctl      slot, what (ss7RqBSN, ss7Log with the switches of
//                      the next octet, another alternative)
//   31 create isdn     slot, type (0..2, one past the enumeration), trunk
//                      (signed octet), log (0..4), side (bit 0: network)
//   32 create ats-qsig slot, side (bit 0: network), log (0..4)
//   33 create ats-qsig-b slot, the D channel's slot (two octets, modulo
//                      1100), subslot (0..5: past the bounds both ways)
// Modem and T.38 programs are not started: a spawner of this target hands
// out process numbers that nothing owns and signals nobody (the T.38
// instance query of every resources query reads no line from them).
// Bit 6 of the opcode sends the command without seq. At most 64 steps. After every step the
// slots and every list that names them must agree: the table and `slots`,
// each id and its entry, each listener's source, and no pointer to a slot
// that is gone (the factories' lists included), every MCC channel the
// board holds belongs to a live slot, and every mixer port is in its
// unit's list once, with no unit freed under it or kept without reason;
// every QSIG D channel the board holds belongs to a live ATS-QSIG slot and
// every B channel to a live B slot.
// Later slot kinds add their steps here.

#include "core/process.hpp"
#include "radio/rtp_ext_slot.hpp"
#include "signalling/hdlc_slot.hpp"
#include "signalling/isdn_slot.hpp"
#include "signalling/pstn_slot.hpp"
#include "slots/echo_slot.hpp"
#include "slots/ext_slot.hpp"
#include "slots/map_slot.hpp"
#include "slots/mcc_slot.hpp"
#include "slots/mixer_slot.hpp"
#include "slots/modem_slot.hpp"
#include "slots/rtp_slot.hpp"
#include "slots/t38soft_slot.hpp"
#include "slots/trunk_slot.hpp"
#include "tests/signalling/isdn_params.hpp"
#include "tests/slots/mcc_voice_params.hpp"
#include "tests/slots/mixer_params.hpp"
#include "tests/slots/slots_host.hpp"
#include "tests/slots/t38_params.hpp"

#include "sim/board.hpp"
#include "sim/dsp_data.hpp"
#include "sim/mcc.hpp"
#include "sim/mctl.hpp"
#include "sim/mixer.hpp"
#include "sim/netifs.hpp"
#include "sim/rtp.hpp"
#include "sim/rtp_ext.hpp"

#include <algorithm>
#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <set>
#include <string>

namespace {

struct Input {
    const std::uint8_t* p;
    std::size_t left;
    std::uint8_t Byte()
    {
        if (left == 0)
            return 0;
        --left;
        return *p++;
    }
    std::uint32_t Slot() { return ((std::uint32_t(Byte()) << 8) | Byte()) % 1100; }
    int Signed16() { return static_cast<std::int16_t>((std::uint16_t(Byte()) << 8) | Byte()); }
    int Signed8() { return static_cast<std::int8_t>(Byte()); }
    SlotsTest::MixChannel MixChannel()
    {
        bool tdm = (Byte() & 1) == 0;
        return {tdm, Signed8()};
    }
};

constexpr int kMaxSteps = 64;

// Children that are never made: numbers far above any real process, and
// signals that go nowhere. A start fails when asked to.
struct PretendSpawner : ChildSpawner {
    pid_t Start(ChildProgram const&) override
    {
        if (fail) {
            fail = false;
            errno = EAGAIN;
            return -1;
        }
        return next++;
    }
    int Signal(pid_t, int) override { return 0; }
    bool fail = false;
    pid_t next = 0x3FFF0000;
};

TrunkFactory* const kTrunks[] = {&trunk0,     &trunk1,     &trunk2,     &trunk3,
                                 &trunk_bri0, &trunk_bri1, &trunk_bri2, &trunk_bri3,
                                 &trunk_bri4, &trunk_bri5, &trunk_bri6, &trunk_bri7};

void Check(bool ok)
{
    if (!ok)
        __builtin_trap();
}

void CheckModems(std::set<::Slot*> const& live, ModemFactory& modems)
{
    for (::Slot* s : modems.modemSlots)
        Check(live.count(s) == 1);
    for (::Slot* s : modems.dspSlots)
        Check(live.count(s) == 1);
    for (HdlcModemSlot* s : modems.hdlcSlots) {
        Check(live.count(s) == 1);
        // An interface is held by one slot, and is not free meanwhile.
        Check(std::count(modems.freeHdlc.begin(), modems.freeHdlc.end(), s->GetIfName()) == 0);
        for (HdlcModemSlot* t : modems.hdlcSlots)
            Check(t == s || t->GetIfName() != s->GetIfName());
    }
    for (std::string const& name : modems.freeHdlc)
        Check(std::count(modems.freeHdlc.begin(), modems.freeHdlc.end(), name) == 1);
}

// Every mixer port is in its unit's list once; every port of a held unit
// is live; the units alive are those held plus those that only their
// ports keep, which the factory lists as vanished.
void CheckMixer(std::set<::Slot*> const& live, Mixer::MixerFactory& mixer)
{
    std::set<Mixer::Mixer*> units;
    for (auto const& m : mixer.mixers) {
        units.insert(m.get());
        for (Mixer::MixerSlot* p : m->ports)
            Check(live.count(p) == 1);
    }
    std::size_t held = units.size();
    for (::Slot* s : live) {
        Mixer::Mixer* unit = nullptr;
        if (auto* in = dynamic_cast<Mixer::TdmInput*>(s))
            unit = &in->mixer;
        else if (auto* out = dynamic_cast<Mixer::TdmOutput*>(s))
            unit = &out->mixer;
        else
            continue;
        Check(std::count(unit->ports.begin(), unit->ports.end(), s) == 1);
        units.insert(unit);
    }
    Check(units.size() - held + mixer.mixers.size() == static_cast<std::size_t>(mixer.live));
    Check(units.size() - held == mixer.vanished.size());
}

void CheckInvariants(Slots& slots, MapFactory& map, ModemFactory& modems, Mixer::MixerFactory& mixer)
{
    std::set<::Slot*> live(slots.slots().begin(), slots.slots().end());
    Check(live.size() == slots.slots().size());
    std::size_t stored = 0;
    for (unsigned int n = 0; n < Slots::TableSize; ++n) {
        if (::Slot* s = slots.Get(n)) {
            ++stored;
            Check(live.count(s) == 1 && s->id == n);
        }
    }
    Check(stored == live.size());
    for (::Slot* s : live) {
        Check(s->source == nullptr || live.count(s->source) == 1);
        if (s->source != nullptr) {
            auto const& l = s->source->listeners;
            Check(std::count(l.begin(), l.end(), s) == 1);
        }
        for (::Slot* l : s->listeners)
            Check(live.count(l) == 1 && l->source == s);
        Check(s->factory == nullptr ||
              std::count(s->factory->slots.begin(), s->factory->slots.end(), s) <= 1);
    }
    for (SlotFactory* f = firstFactory; f != nullptr; f = f->next)
        for (::Slot* s : f->slots)
            Check(live.count(s) == 1);
    for (TrunkFactory* f : kTrunks)
        for (::Slot* s : f->trunkSlots)
            Check(s == nullptr || live.count(s) == 1);
    for (::Slot* s : map.owners)
        Check(s == nullptr || live.count(s) == 1);
    CheckModems(live, modems);
    CheckMixer(live, mixer);
    // Each MCC channel is held by exactly one live MCC or ISDN slot or by
    // the open channel of one live HDLC packet or PSTN link slot.
    std::set<int> channels;
    std::size_t hdlc_open = 0;
    std::set<int> d_channels, b_channels;
    for (::Slot* s : live) {
        if (auto* m = dynamic_cast<MccSlot*>(s))
            Check(channels.insert(m->timeslot).second);
        if (auto* h = dynamic_cast<HdlcSlot*>(s))
            hdlc_open += h->channel().is_open();
        if (auto* p = dynamic_cast<PstnSlot*>(s))
            hdlc_open += p->channel().is_open();
        if (auto* q = dynamic_cast<AtsQsigSlot*>(s))
            Check(d_channels.insert(q->timeslot()).second);
        else if (auto* i = dynamic_cast<IsdnSlot*>(s))
            Check(channels.insert(i->timeslot()).second);
        // A B slot outlives its D channel (and its channel); a later D
        // channel on the same time slot gives a new B slot the same one.
        if (auto* b = dynamic_cast<AtsQsigBSlot*>(s))
            b_channels.insert(b->timeslot);
    }
    std::set<int> d_held;
    for (auto const& [ts, c] : Sim::Board::instance().device<Sim::Mcc>().Controllers(true))
        d_held.insert(static_cast<int>(ts));
    Check(d_held == d_channels);
    for (auto const& b : Sim::Board::instance().device<Sim::DspData>().BChannels())
        Check(b_channels.count(static_cast<int>(b.timeslot)) == 1);
    std::set<int> held;
    for (auto const& [ts, c] : Sim::Board::instance().device<Sim::Mcc>().Controllers())
        held.insert(static_cast<int>(ts));
    Check(held.size() == channels.size() + hdlc_open);
    for (int ts : channels)
        Check(held.count(ts) == 1);
}

// Ports of a narrow range below the ephemeral one: the sessions' RTCP
// sockets never meet another program's.
constexpr std::uint16_t kRtpPort = 17000;

LGCP::CreateParams Rtp(Input& in)
{
    auto payload = static_cast<TERM::Payload::NamedNumber>(in.Byte() % 21);
    std::uint8_t flags = in.Byte();
    auto port = static_cast<std::uint16_t>(kRtpPort + 2 * (in.Byte() % 8));
    LGCP::CreateParams c;
    LGCP::CreateRtpParams& r = c.select_rtp();
    TERM::RtpParams& p = r.get_codecRTP();
    p.set_payload(payload);
    TERM::HostAddress h;
    h.set_iaddr((flags & 16) ? "127.0.0.1.1" : "127.0.0.1");
    h.set_port(kRtpPort + 100);
    p.set_dhost(h);
    if (flags & 1) {
        h.set_iaddr("127.0.0.1");
        h.set_port(port);
        p.set_shost(h);
    }
    if (flags & 2)
        p.set_dynamic_payload(96 + flags % 32);
    if (flags & 4)
        p.set_ssrc(flags);
    if (flags & 8)
        p.set_pfactor(70000);
    r.set_txPayload(static_cast<TERM::Payload::NamedNumber>(flags % 20));
    r.set_rxPayload(payload);
    return c;
}

// Step 26: a radio part on the operands of step 19.
LGCP::CreateParams RadioRtp(Input& in)
{
    LGCP::CreateParams c = Rtp(in);
    std::uint8_t kind = in.Byte(), value = in.Byte(), flags = in.Byte();
    TERM::RtpParams& p = c.get_rtp().get_codecRTP();
    TERM::RtpRadioRequest radio;
    if (kind & 1) {
        TERM::ED137RadioStatus& e = radio.get_status().select_ed_137();
        e.get_header().get_ptt().setValue(value % 9);
        e.get_header().get_squ().setValue(value % 3 == 0 ? 1 : 0);
        if (flags & 4) {
            e.include_radio_response();
            TERM::ED137RadioResponse& r = e.get_radio_response();
            r.get_type().setValue(2);
            r.get_txrxmode().setValue(2);
            r.set_ptt_id(0);
            r.set_transmission_depend_on_squ(true);
        }
    } else {
        TERM::VezeRadioStatus& v = radio.get_status().select_veze();
        v.get_freq().set_frequency("118.5");
        v.get_squelshe().setValue(value % 128);
    }
    if (flags & 1)
        radio.set_bss_enable(true);
    if (flags & 8) {
        radio.set_rx_delay(value);
        radio.set_selcal_delay(value);
    }
    p.set_radio(radio);
    if (flags & 2) {
        TERM::RtpE2M e2m;
        e2m.set_slot(0);
        e2m.set_channel(0);
        TERM::RtpExtMode mode;
        mode.select_only_rtp().set_fd(value);
        mode.get_only_rtp().set_pid(1);
        e2m.set_mode(mode);
        p.set_rtp_e2m(e2m);
    }
    return c;
}

// Step 27.
LGCP::Command RadioIoctl(Input& in)
{
    std::uint8_t kind = in.Byte(), value = in.Byte();
    LGCP::Command c;
    TERM::RadioModifier& m = c.select_ioctl().select_rtpExt();
    if (kind & 1) {
        TERM::ED137RadioModifier& e = m.select_ed_137();
        e.get_addr().set_session_addr("10.0.0.1");
        e.get_addr().set_session_ssrc(value);
        TERM::ED137RadioHeader& h = e.get_params().select_rx().get_header();
        h.get_ptt().setValue(value % 9);
        h.get_squ().setValue(value & 1);
    } else {
        TERM::VezeRadioModifier& v = m.select_veze();
        v.get_addr().set_session_addr("10.0.0.1");
        v.get_addr().set_session_ssrc(value);
        v.get_params().select_wm_flags().get_flags().set_sh((value & 1) != 0);
    }
    return c;
}

LGCP::Command RtpIoctl(Input& in)
{
    std::uint8_t what = in.Byte(), value = in.Byte();
    if (what & 0x80)
        Sim::Board::instance().Fail("/dev/rtp", Sim::Rtp::kBegin, 1, EIO);
    LGCP::Command c;
    LGCP::IoctlParams& p = c.select_ioctl();
    auto mode = static_cast<LGCP::CodecMode::NamedNumber>(value % 3);
    switch ((what & 0x7F) % 6) {
    case 0:
        p.set_decoder_mode(mode);
        break;
    case 1:
        p.set_encoder_mode(mode);
        break;
    case 2:
        p.select_pd_enable().set_timeout(value);
        break;
    case 3:
        p.set_pd_disable();
        break;
    case 4:
        p.set_dtmf_enable(value & 1);
        break;
    default:
        p.set_vad_enable(value & 1);
        break;
    }
    return c;
}

void RtpEvent(Input& in)
{
    std::uint32_t channel = Sim::Rtp::kFirstChannel + in.Byte() % 4;
    std::uint32_t words[10] = {in.Byte() % 3u, 7, 3000};
    std::size_t length = in.Byte() % sizeof words;
    Sim::Board::instance().device<Sim::Rtp>().Event(channel, words, length);
    if (multiplexer.event_count() > 0)
        Mux::test::run_once(0);
}

LGCP::CreateParams Pstn(Input& in)
{
    std::uint8_t variant = in.Byte() % 6;
    int trunk = in.Signed8(), slc = in.Signed8(), dpc = in.Signed8(), log = in.Signed8();
    bool emergency = (in.Byte() & 1) != 0;
    LGCP::CreateParams c;
    LGCP::PstnParams& p = c.select_pstn();
    if (variant == 0) {
        LGCP::SS7Params& s = p.select_ss7();
        s.set_trunk(trunk);
        s.set_slc(slc);
        s.set_dpc(dpc);
        s.set_opc(log);
        s.set_emergency(emergency);
    } else if (variant == 5) {
        p.select_cas().set_trunk(trunk);
    } else {
        LGCP::IsdnParams& i = p.select_isdn();
        i.set_type(variant <= 2 ? LGCP::IsdnType::pri : LGCP::IsdnType::bri);
        i.set_trunk(trunk);
        i.set_log(log);
        if (variant % 2 == 0)
            i.get_side().select_network();
        else
            i.get_side().select_user();
    }
    return c;
}

LGCP::Command PstnIoctl(Input& in)
{
    std::uint8_t what = in.Byte() % 3, switches = in.Byte();
    LGCP::Command c;
    LGCP::IoctlParams& p = c.select_ioctl();
    if (what == 0) {
        p.set_ss7RqBSN();
    } else if (what == 1) {
        LGCP::SS7L2Log& l = p.select_ss7Log();
        l.set_state(switches & 1);
        l.set_raw_receive(switches & 2);
        l.set_raw_transmit(switches & 4);
        l.set_mtp_transmit(switches & 8);
        l.set_mtp_receive(switches & 16);
        l.set_mtp_activate(switches & 32);
        l.set_timers(switches & 64);
        l.set_msu_processing(switches & 128);
    } else {
        p.set_deactivateTonec();
    }
    return c;
}

LGCP::Command Simple(void (LGCP::Command::*select)())
{
    LGCP::Command c;
    (c.*select)();
    return c;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    static SlotsTest::FuzzSetUp once;
    static HwMux mux;
    static MapFactory map;
    static RtpFactory rtp;
    static PretendSpawner spawner;
    static ChildSpawner* const real = ChildSpawner::UseInstance(&spawner);
    (void)real;
    // Each run starts from the models' healthy state; no open of them is
    // left from the last run.
    Sim::Board::instance().device<Sim::Mctl>().Reset();
    Sim::Board::instance().device<Sim::NetIfs>().Reset();
    static ModemFactory modems;
    modems.IQuery();
    // The board's two mixer units; the factory keeps what the last query
    // of the run before found.
    Sim::MixerDev& units = Sim::Board::instance().device<Sim::MixerDev>();
    units.Reset();
    static Mixer::MixerFactory mixer;
    static ExtFactory ext;
    static MccFactory mcc;
    static EchoFactory echo;
    static bool buses = [] {
        echo.SetPresentForTest(1, true);
        echo.SetPresentForTest(3, true);
        return true;
    }();
    (void)buses;
    static HdlcSlotFactory hdlc;
    static T38SoftFactory t38;
    static RtpVEZEFactory veze;
    static RtpED137Factory ed137;
    static PstnFactory pstn;
    static IsdnFactory isdn;

    {
        SlotsTest::Host host(&mux);
        Input in{data, size};
        // Enough steps for any interplay of a few slots; longer inputs only
        // slow the run down.
        for (int steps = 0; in.left > 0 && steps < kMaxSteps; ++steps) {
            std::uint8_t op = in.Byte();
            bool with_seq = (op & 0x40) == 0;
            std::optional<std::uint32_t> seq;
            if (with_seq)
                seq = op;
            LGCP::Command c;
            std::optional<std::uint32_t> slot = in.Slot();
            switch ((op & 0x3F) % 34) {
            case 0: {
                unsigned int trunk = in.Byte() % 6, ts = in.Byte() % 34;
                c.set_create(SlotsTest::Trunk(trunk, ts));
                break;
            }
            case 1: {
                unsigned int line = in.Byte() % 9, ch = in.Byte() % 6;
                c.set_create(SlotsTest::TrunkBRI(line, ch));
                break;
            }
            case 2: {
                std::uint8_t flags = in.Byte();
                SlotsTest::BusChannel tx, rx;
                unsigned int bus = in.Byte() % 17, ch = in.Byte() % 130;
                if (flags & 1)
                    tx = std::pair(bus, ch);
                bus = in.Byte() % 17;
                ch = in.Byte() % 130;
                if (flags & 2)
                    rx = std::pair(bus, ch);
                c.set_create(SlotsTest::Map(tx, rx));
                break;
            }
            case 3:
                c.set_connect(in.Slot());
                break;
            case 4:
                c.set_disconnect();
                break;
            case 5:
                c.set_destroy();
                break;
            case 6:
                c.select_activate().set_empty();
                break;
            case 7:
                c.set_deactivate();
                break;
            case 8: {
                std::string bytes;
                for (std::uint8_t n = in.Byte() % 16; n > 0; --n)
                    bytes.push_back(static_cast<char>(in.Byte()));
                c.set_userData(bytes);
                break;
            }
            case 9:
                c.select_ioctl().set_vad_enable(true);
                break;
            case 10:
                c = Simple(&LGCP::Command::set_query);
                if ((op & 0x80) == 0)
                    slot.reset();
                break;
            case 11:
                host.LoseHost();
                host.Reconnect();
                CheckInvariants(host.slots(), map, modems, mixer);
                continue;
            case 12: {
                int tx = in.Signed16(), rx = in.Signed16();
                c.set_create(SlotsTest::Ext(tx, rx));
                break;
            }
            case 13: {
                int bus = in.Signed8(), ch = in.Signed8();
                c.set_create(SlotsTest::Echo(bus, ch));
                break;
            }
            case 14: {
                int type = in.Byte() % 4, mode = in.Byte() % 2;
                c.set_create(SlotsTest::Mcc(type, mode));
                break;
            }
            case 15: {
                std::uint8_t flags = in.Byte();
                LGCP::CreateParams p;
                TERM::ModemParams& m = p.select_modem();
                m.set_cid(std::string(in.Byte() % 4, '5'));
                m.set_cdid("");
                if (flags & 1) {
                    m.include_ddm();
                    if (flags & 2) {
                        TERM::DigitalDataModeEnum e;
                        e.setValue(in.Byte() % 4);
                        m.get_ddm().push_back(e);
                    }
                }
                if (flags & 4)
                    m.set_originate();
                if (flags & 8)
                    m.set_fax();
                if (flags & 16) {
                    m.include_execargs();
                    for (std::uint8_t n = in.Byte() % 70; n > 0; --n)
                        m.get_execargs().push_back(ASN1::IA5String("x"));
                }
                if (flags & 32) {
                    m.include_dmp();
                    TERM::DDModemParam d;
                    d.set_offset(static_cast<std::int8_t>(in.Byte()));
                    d.set_value(in.Byte());
                    m.get_dmp().push_back(d);
                }
                spawner.fail = (flags & 64) != 0;
                if (flags & 128) {
                    static constexpr std::uint32_t kinds[] = {Sim::Mctl::kAllocate, Sim::Mctl::kTimeslot,
                                                              Sim::Mctl::kSetDdm, Sim::Mctl::kAnswer};
                    std::uint8_t k = in.Byte();
                    if (k & 4)
                        Sim::Board::instance().Fail("netif", Sim::NetIfs::kWanDev, 1, EIO);
                    else
                        Sim::Board::instance().Fail("/dev/mctl", kinds[k % 4], 1, EBUSY);
                }
                c.set_create(p);
                break;
            }
            case 25: {
                TERM::ModemUserParameters& u = c.select_activate().select_modem();
                std::string remote;
                for (std::uint8_t n = in.Byte() % 16; n > 0; --n)
                    remote.push_back(static_cast<char>("0123456789.x"[in.Byte() % 12]));
                u.set_remoteAddr(remote);
                u.set_netmask("255.255.255.0");
                u.set_gateway("");
                u.set_dns("1.2.3.4");
                u.set_mtu(in.Byte() * 8);
                break;
            }
            case 26: {
                std::uint8_t flags = in.Byte();
                spawner.fail = (flags & 1) != 0;
                if (flags & 2) {
                    static constexpr std::uint32_t kinds[] = {Sim::kOpen, Sim::Mcc::kAllocate,
                                                              Sim::Mcc::kTimeslot};
                    Sim::Board::instance().Fail("/dev/mcc/ctl", kinds[(flags >> 2) % 3], 1, EBUSY);
                }
                int args = in.Byte() % 40;
                std::string remote;
                for (std::uint8_t n = in.Byte() % 16; n > 0; --n)
                    remote.push_back(static_cast<char>("0123456789.x"[in.Byte() % 12]));
                c.set_create(SlotsTest::T38Soft(args, remote));
                break;
            }
            case 29:
                c.set_create(Pstn(in));
                break;
            case 30:
                c = PstnIoctl(in);
                break;
            case 31: {
                LGCP::IsdnParams& p = c.select_create().select_isdn();
                p.get_type().setValue(in.Byte() % 3);
                p.set_trunk(in.Signed8());
                std::uint8_t const b = in.Byte();
                p.set_log(b % 5);
                p.set_side(IsdnTest::Side(b & 0x80));
                break;
            }
            case 32: {
                LGCP::AtsQsigParams& p = c.select_create().select_ats_qsig();
                std::uint8_t const b = in.Byte();
                p.set_side(IsdnTest::Side(b & 0x80));
                p.set_log(b % 5);
                break;
            }
            case 33: {
                LGCP::AtsQsigBParams& p = c.select_create().select_ats_qsig_b();
                p.set_slot(in.Slot());
                p.set_subslot(in.Byte() % 6);
                break;
            }
            case 16:
                Mux::test::advance(in.Byte() * 40u);
                host.Discard();
                CheckInvariants(host.slots(), map, modems, mixer);
                continue;
            case 17: {
                LGCP::HdlcParams& h = c.select_create().select_hdlcParams();
                h.set_trunk(static_cast<int>(in.Byte()) - 128);
                h.set_log(0);
                h.set_address((int(in.Byte()) << 8) | in.Byte());
                break;
            }
            case 18: {
                auto& list = c.select_ioctl().select_hdlcPackages();
                for (std::uint8_t n = in.Byte() % 8; n > 0; --n) {
                    std::string body;
                    for (std::uint8_t len = in.Byte() % 32; len > 0; --len)
                        body.push_back(static_cast<char>(in.Byte()));
                    LGCP::HdlcPackage p;
                    p.set_body(body);
                    list.push_back(p);
                }
                break;
            }
            case 19:
                c.set_create(Rtp(in));
                break;
            case 20:
                c = RtpIoctl(in);
                break;
            case 27:
                c.set_create(RadioRtp(in));
                break;
            case 28:
                c = RadioIoctl(in);
                break;
            case 21:
                RtpEvent(in);
                host.Discard();
                CheckInvariants(host.slots(), map, modems, mixer);
                continue;
            case 22: {
                int unit = in.Signed8();
                SlotsTest::MixChannel ch = in.MixChannel();
                std::uint8_t flags = in.Byte();
                SlotsTest::MixChannel sum = in.MixChannel();
                std::optional<SlotsTest::MixChannel> summator;
                if (flags & 1)
                    summator = sum;
                std::optional<std::pair<bool, bool>> ecm;
                if (flags & 2)
                    ecm = std::pair((flags & 4) != 0, (flags & 8) != 0);
                c.set_create(SlotsTest::MixerIn(unit, ch, summator, ecm));
                break;
            }
            case 23: {
                int unit = in.Signed8();
                SlotsTest::MixChannel ch = in.MixChannel();
                std::vector<std::pair<SlotsTest::MixChannel, int>> inputs;
                for (int n = in.Byte() % 4; n > 0; --n) {
                    SlotsTest::MixChannel source = in.MixChannel();
                    inputs.emplace_back(source, in.Signed16());
                }
                c.set_create(SlotsTest::MixerOut(unit, ch, inputs));
                break;
            }
            case 24: {
                std::uint8_t b = in.Byte();
                int unit = b % 4;
                bool there = false;
                for (auto const& u : units.Units())
                    there = there || u.unit == unit;
                if (there)
                    units.RemoveUnit(unit);
                else
                    units.AddUnit({unit, 1 + (b >> 2) % 32, 4});
                continue;
            }
            }
            host.Offer(c, slot, seq);
            host.Discard();
            CheckInvariants(host.slots(), map, modems, mixer);
        }
    }
    // The host is gone with its slots: nothing may be left anywhere.
    for (TrunkFactory* f : kTrunks)
        for (::Slot* s : f->trunkSlots)
            Check(s == nullptr);
    for (::Slot* s : map.owners)
        Check(s == nullptr);
    Check(map.slots.empty());
    Check(modems.modemSlots.empty() && modems.dspSlots.empty() && modems.hdlcSlots.empty());
    Check(modems.slots.empty());
    Check(ext.slots.empty() && mcc.slots.empty() && echo.slots.empty() && hdlc.slots.empty() &&
          mixer.slots.empty() && t38.slots.empty() && pstn.slots.empty() && isdn.slots.empty());
    Check(mixer.live == static_cast<int>(mixer.mixers.size()));
    Check(Sim::Board::instance().device<Sim::Mcc>().Controllers().empty());
    Check(Sim::Board::instance().device<Sim::Mcc>().Controllers(true).empty());
    Check(Sim::Board::instance().device<Sim::DspData>().BChannels().empty());
    // Failures asked for and never met do not carry over to the next run.
    Sim::Board::instance().Fail("/dev/mctl", Sim::kAny, 0, 0);
    for (std::uint32_t r :
         {Sim::Mctl::kAllocate, Sim::Mctl::kTimeslot, Sim::Mctl::kSetDdm, Sim::Mctl::kAnswer})
        Sim::Board::instance().Fail("/dev/mctl", r, 0, 0);
    Sim::Board::instance().Fail("netif", Sim::NetIfs::kWanDev, 0, 0);
    for (std::uint32_t r : {Sim::kOpen, Sim::Mcc::kAllocate, Sim::Mcc::kTimeslot})
        Sim::Board::instance().Fail("/dev/mcc/ctl", r, 0, 0);
    spawner.fail = false;
    Check(rtp.slots.empty() && veze.slots.empty() && ed137.slots.empty());
    Check(Sim::Board::instance().device<Sim::RtpExt>().Sessions().empty());
    // Every session's descriptors went with its slot, refused ones at once.
    Check(Sim::Board::instance().OpenCount("/dev/rtp") == 0);
    Sim::Board::instance().Fail("/dev/rtp", Sim::Rtp::kBegin, 0, 0);
    return 0;
}
