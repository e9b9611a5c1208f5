// Mixer ports through the in-process control path on the simulated
// "/dev/mixer": the unit walk and its bounds, the exact driver records of
// creating and destroying inputs and outputs, the detectors and generator
// of the ports, and a unit that vanishes under its ports.

#include "mixer_params.hpp"
#include "slots_fixture.hpp"

#include "core/clock.hpp"
#include "core/multiplexer.hpp"
#include "hardware/dsproc.hpp"
#include "hardware/tonec.hpp"
#include "sim/dsp.hpp"
#include "sim/dtmf.hpp"
#include "sim/mixer.hpp"
#include "signalling/hdlc_slot.hpp"
#include "slots/mixer_slot.hpp"

#include <algorithm>
#include <climits>
#include <memory>
#include <string>
#include <vector>

using namespace SlotsTest;
using SimTest::Capture;

namespace {

using Lines = std::vector<std::string>;
constexpr auto kInsufficient = LGCP::ErrorCause::insufficientResources;

std::uint64_t LoopMs()
{
    return Mux::milliseconds();
}

class MixerSlots : public Fixture {
protected:
    void SetUp() override
    {
        Fixture::SetUp();
        board().device<Sim::Dtmf>().SetClock(&LoopMs);
        tonec_ = std::make_unique<Hardware::TonecReceiverService>();
        Hardware::TonecReceiverService::UseInstance(tonec_.get());
        dsproc_ = std::make_unique<Hardware::DSProcReceiverService>();
        Hardware::DSProcReceiverService::UseInstance(dsproc_.get());
    }
    void TearDown() override
    {
        // The ports go before the detector services, and these before the
        // board's check for descriptors left open.
        host().LoseHost();
        Hardware::TonecReceiverService::UseInstance(nullptr);
        Hardware::DSProcReceiverService::UseInstance(nullptr);
        tonec_.reset();
        dsproc_.reset();
        Fixture::TearDown();
    }

    Sim::MixerDev& model() { return board().device<Sim::MixerDev>(); }
    // Units {0, 32, 16} and {1, 24, 8}, enumerated by a query.
    void TwoUnits()
    {
        model().RemoveUnit(0);
        model().RemoveUnit(1);
        model().AddUnit({0, 32, 16});
        model().AddUnit({1, 24, 8});
        Capture log(std::clog);
        host().Query();
        board().ClearLog();
    }
    // The mixer requests since the log was cleared, opens left out.
    Lines Requests()
    {
        Lines out;
        for (auto const& r : board().Log())
            if (r.device == "/dev/mixer" && r.request != Sim::kOpen)
                out.push_back(Sim::Format(r).substr(std::string("/dev/mixer ").size()));
        return out;
    }
    std::size_t Opens()
    {
        std::size_t n = 0;
        for (auto const& r : board().Log())
            n += r.device == "/dev/mixer" && r.request == Sim::kOpen;
        return n;
    }
    void ExpectRefused(LGCP::CreateParams const& params, std::string const& why)
    {
        auto r = host().Create(30, params);
        ASSERT_EQ(r.size(), 1u) << why;
        EXPECT_TRUE(r[0].IsError(kInsufficient)) << why;
    }
    LGCP::Command Ioctl(LGCP::IoctlParams const& p)
    {
        LGCP::Command c;
        c.set_ioctl(p);
        return c;
    }
    std::vector<Received> Ioctl(std::uint32_t slot, LGCP::IoctlParams const& p)
    {
        return host().Exchange(Ioctl(p), slot);
    }

    Mixer::MixerFactory mixer_;
    std::unique_ptr<Hardware::TonecReceiverService> tonec_;
    std::unique_ptr<Hardware::DSProcReceiverService> dsproc_;
};

TEST_F(MixerSlots, CreatesBeforeTheFirstQueryFindNoUnit)
{
    ExpectRefused(MixerIn(0, {true, 3}), "input");
    ExpectRefused(MixerOut(0, {true, 3}), "output");
    EXPECT_EQ(Opens(), 0u);
    EXPECT_TRUE(mixer_.mixers.empty());
}

TEST_F(MixerSlots, QueryListsTheUnitsWithTheSmallestCountsAndResetsEachNewOne)
{
    model().RemoveUnit(0);
    model().RemoveUnit(1);
    model().AddUnit({0, 32, 16});
    model().AddUnit({1, 24, 8});
    Capture log(std::clog);
    auto q = host().Query();
    ASSERT_EQ(q.size(), 2u);
    auto const& list = q[1].signal.get_query().get_mixer();
    ASSERT_EQ(list.size(), 2u);
    for (int i = 0; i < 2; ++i) {
        auto const& m = list[static_cast<std::size_t>(i)];
        EXPECT_EQ(m.get_unit().getValue(), i);
        EXPECT_EQ(m.get_tdm_inputs().getValue(), 24);
        EXPECT_EQ(m.get_tdm_outputs().getValue(), 24);
        EXPECT_EQ(m.get_mixer_inputs().getValue(), 8);
        EXPECT_EQ(m.get_dpu_per_mixer().getValue(), 770);
        EXPECT_EQ(m.get_dpu_per_ec().getValue(), 17);
        EXPECT_EQ(m.get_dpu_per_lms().getValue(), 24);
    }
    EXPECT_EQ(log.str(), "mixer [0]: clear all inputs\nmixer [1]: clear all inputs\n");

    // The walk, then each new unit cleared with the smallest count known
    // when it was found: unit 0 alone had been seen, unit 1 lowered it.
    Lines expected{"0x80104d07 4294967295 0 0 0 = 0"};
    for (int i = 0; i < 32; ++i)
        expected.push_back("0x800c4d02 0 0 " + std::to_string(i) + " = 0");
    expected.push_back("0x80104d07 0 32 0 16 = 0");
    for (int i = 0; i < 24; ++i)
        expected.push_back("0x800c4d02 1 0 " + std::to_string(i) + " = 0");
    expected.push_back("0x80104d07 1 24 0 8 = -1 ENODEV");
    EXPECT_EQ(Requests(), expected);
    EXPECT_EQ(Opens(), expected.size()); // one open per request
    EXPECT_EQ(board().Count("/dev/mixer", Sim::kOpen), expected.size());
    EXPECT_EQ(board().OpenCount("/dev/mixer"), 0u);

    // Known units are not reset again; the smallest count bounds channels
    // on both units.
    board().ClearLog();
    log.clear();
    host().Query();
    EXPECT_EQ(Requests().size(), 3u);
    EXPECT_EQ(log.str(), "");
    EXPECT_EQ(mixer_.tdmChannels, 24);
    ExpectRefused(MixerIn(0, {true, 24}), "channel 24 on the larger unit");
    EXPECT_EQ(Texts(host().Create(5, MixerIn(0, {true, 23}))), Lines{"success seq=4 slot=5"});
}

TEST_F(MixerSlots, InputTakesItsSwitchChannelFeedsItsSummatorAndCancelsEcho)
{
    TwoUnits();
    // No stream signals: a mixer port has nothing to announce at create.
    EXPECT_EQ(Texts(host().Create(5, MixerIn(0, {true, 3}, MixChannel{true, 5}, std::pair{true, false}))),
              Lines{"success seq=2 slot=5"});
    const int ts = model().Timeslot(0, 3);
    ASSERT_GE(ts, 0);
    EXPECT_EQ(Requests(),
              (Lines{"0x800c4d06 0 0 3 = " + std::to_string(ts), "0x801c4d03 0 0 5 0 0 3 32767 = 0"}));
    EXPECT_EQ(Opens(), 2u);
    EXPECT_EQ(model().Sums(0), Lines{"5: 0.3@32767"});
    EXPECT_TRUE(board().device<Sim::Dtmf>().Get(static_cast<std::uint32_t>(ts)).lms);
    auto* in = dynamic_cast<Mixer::TdmInput*>(slot(5));
    ASSERT_NE(in, nullptr);
    EXPECT_EQ(in->IGetReceiveChannel(), ts);
    EXPECT_EQ(in->IGetTransmitChannel(), -1);
    EXPECT_TRUE(in->summatorSet);
    EXPECT_EQ(in->summator, 5);
    EXPECT_EQ(slot(5)->Label(), "05:mixer tdm input");

    // A source slot feeds the input's switch channel.
    host().Create(7, Trunk(1, 5)); // channel 37
    EXPECT_EQ(Texts(host().Connect(7, 5)),
              (Lines{"signal slot=5 receiver : active : " + std::to_string(ts), "success seq=4 slot=7"}));
    EXPECT_EQ(Switch(ts), std::to_string(ts) + " connected 37");

    // An `rtp` summator: logged, the add still goes (rx -1), fails on the
    // driver, and the input is created without a summator.
    board().ClearLog();
    Capture err(std::cerr);
    EXPECT_EQ(Texts(host().Create(6, MixerIn(0, {true, 4}, MixChannel{false, 5}))),
              Lines{"success seq=5 slot=6"});
    EXPECT_EQ(err.str(), "mixer [0]: wrong summator coding !\n"
                         "mixer [0]: MIX_RX_ADD fail : Invalid argument\n");
    auto requests = Requests();
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(requests[1], "0x801c4d03 0 0 4294967295 0 0 4 32767 = -1 EINVAL");
    EXPECT_EQ(dynamic_cast<Mixer::TdmInput*>(slot(6))->summator, -1);

    // The unit's channels only, on a known unit, as a TDM channel; the
    // integers are unconstrained on the wire.
    board().ClearLog();
    err.clear();
    ExpectRefused(MixerIn(0, {true, 24}), "past the channels");
    ExpectRefused(MixerIn(0, {true, -1}), "negative channel");
    ExpectRefused(MixerIn(0, {true, INT_MAX}), "huge channel");
    ExpectRefused(MixerIn(0, {false, 3}), "rtp channel");
    ExpectRefused(MixerIn(2, {true, 3}), "unknown unit");
    ExpectRefused(MixerIn(INT_MIN, {true, 3}), "huge unit");
    EXPECT_EQ(Opens(), 0u);
    // A failed MIX_TDM refuses too, with its log line.
    board().Fail("/dev/mixer", Sim::MixerDev::kTdm, 1, EIO);
    ExpectRefused(MixerIn(1, {true, 0}), "MIX_TDM fails");
    EXPECT_EQ(err.str(), "mixer [1]: MIX_TDM dev_no=1 type=0 number=0 fail : Input/output error\n");
    EXPECT_EQ(mixer_.mixers[1]->ports.size(), 0u);
}

TEST_F(MixerSlots, FailedSummatorAddStillCreatesTheInput)
{
    TwoUnits();
    board().Fail("/dev/mixer", Sim::MixerDev::kRxAdd, 1, EIO);
    Capture err(std::cerr);
    EXPECT_EQ(Texts(host().Create(5, MixerIn(1, {true, 2}, MixChannel{true, 7}))),
              Lines{"success seq=2 slot=5"});
    EXPECT_EQ(err.str(), "mixer [1]: MIX_RX_ADD fail : Input/output error\n");
    EXPECT_TRUE(model().Sums(1).empty());
    // It counts as having a summator: the destroy tries to remove it.
    board().ClearLog();
    EXPECT_EQ(Texts(host().Destroy(5)), Lines{"success seq=3 slot=5"});
    EXPECT_EQ(err.str(),
              "mixer [1]: MIX_RX_ADD fail : Input/output error\n"
              "mixer [1]: MIX_RX_REMOVE rx.number=7 tx.number=2 fail : No such file or directory\n");
}

TEST_F(MixerSlots, OutputIsClearedThenSumsItsInputsWithTheirGains)
{
    TwoUnits();
    EXPECT_EQ(Texts(host().Create(5, MixerOut(0, {true, 9}, {{{true, 1}, 100}, {{true, 2}, 200}}))),
              Lines{"success seq=2 slot=5"});
    const int ts = model().Timeslot(0, 9);
    EXPECT_EQ(Requests(),
              (Lines{"0x800c4d02 0 0 9 = 0", "0x801c4d03 0 0 9 0 0 1 100 = 0",
                     "0x801c4d03 0 0 9 0 0 2 200 = 0", "0x800c4d06 0 0 9 = " + std::to_string(ts)}));
    EXPECT_EQ(Opens(), 4u);
    EXPECT_EQ(model().Sums(0), Lines{"9: 0.1@100 0.2@200"});
    EXPECT_EQ(slot(5)->IGetTransmitChannel(), ts);
    EXPECT_EQ(slot(5)->IGetReceiveChannel(), -1);
    EXPECT_EQ(slot(5)->Label(), "05:mixer tdm output");
    // It feeds a listener from its switch channel.
    host().Create(7, Trunk(1, 5));
    EXPECT_EQ(Texts(host().Connect(5, 7)),
              (Lines{"signal slot=5 transmitter : active : " + std::to_string(ts), "success seq=4 slot=5"}));
    EXPECT_EQ(Switch(37), "37 connected " + std::to_string(ts));

    // No inputs: itself as its one source, at full gain. A gain is a
    // signed word.
    board().ClearLog();
    host().Create(6, MixerOut(1, {true, 4}));
    host().Create(8, MixerOut(1, {true, 5}, {{{true, 6}, -5}, {{true, 7}, INT_MIN}}));
    auto r = Requests();
    ASSERT_EQ(r.size(), 7u);
    EXPECT_EQ(r[1], "0x801c4d03 1 0 4 1 0 4 32767 = 0");
    EXPECT_EQ(r[5], "0x801c4d03 1 0 5 1 0 7 2147483648 = 0");
    EXPECT_EQ(model().Sums(1), (Lines{"4: 1.4@32767", "5: 1.6@-5 1.7@-2147483648"}));
}

TEST_F(MixerSlots, RefusedOutputKeepsWhatTheDriverWasToldBeforeTheFailure)
{
    TwoUnits();
    Capture err(std::cerr);
    // The second add fails: no output, the first add stays.
    board().ClearLog();
    // The model refuses a source outside the unit: channel 40 of unit 0.
    ExpectRefused(MixerOut(0, {true, 10}, {{{true, 1}, 100}, {{true, 40}, 200}}), "second add fails");
    EXPECT_EQ(Requests(), (Lines{"0x800c4d02 0 0 10 = 0", "0x801c4d03 0 0 10 0 0 1 100 = 0",
                                 "0x801c4d03 0 0 10 0 0 40 200 = -1 EINVAL"}));
    EXPECT_EQ(err.str(), "mixer [0]: MIX_RX_ADD fail : Invalid argument\n");
    EXPECT_EQ(model().Sums(0), Lines{"10: 0.1@100"});

    // The program runs before the channel checks: channel 30 exists on
    // unit 0 but not on the smallest unit, so the output is refused after
    // its point was cleared and programmed.
    board().ClearLog();
    err.clear();
    ExpectRefused(MixerOut(0, {true, 30}), "channel past the smallest unit");
    EXPECT_EQ(Requests(), (Lines{"0x800c4d02 0 0 30 = 0", "0x801c4d03 0 0 30 0 0 30 32767 = 0"}));
    EXPECT_EQ(model().Sums(0), (Lines{"10: 0.1@100", "30: 0.30@32767"}));

    // A failing clear refuses before any add; an `rtp` channel or input
    // fails translation.
    board().ClearLog();
    board().Fail("/dev/mixer", Sim::MixerDev::kRxClear, 1, EIO);
    ExpectRefused(MixerOut(0, {true, 11}), "clear fails");
    EXPECT_EQ(Requests(), Lines{"0x800c4d02 0 0 11 = -1 EIO"});
    ExpectRefused(MixerOut(0, {true, 12}, {{{false, 1}, 5}}), "rtp input");
    Capture log(std::clog);
    ExpectRefused(MixerOut(0, {false, 12}), "rtp output");
    EXPECT_EQ(log.str(), "mixer [0]: ClearTX error: translation fail\n");
    EXPECT_EQ(err.str(), "mixer [0]: MIX_RX_CLEAR dev_no=0 type=0 number=11 fail : Input/output error\n"
                         "mixer [0]: SetTX error: translation fail [2]\n");
}

TEST_F(MixerSlots, OutputIoctlsDriveTheGeneratorAndReportTheEndOfADigitString)
{
    TwoUnits();
    host().Create(5, MixerOut(0, {true, 9}));
    host().Create(6, MixerIn(0, {true, 8}));
    const auto ts = static_cast<std::uint32_t>(model().Timeslot(0, 9));
    auto& dtmf = board().device<Sim::Dtmf>();

    LGCP::IoctlParams p;
    p.set_dtmf_disable();
    EXPECT_EQ(Texts(Ioctl(5, p)), Lines{"error unsupported seq=4 slot=5"});
    p.set_tone_gen_disable();
    EXPECT_EQ(Texts(Ioctl(5, p)), Lines{"success seq=5 slot=5"});
    p.select_tone_gen_enable().set_freq(1000);
    p.select_tone_gen_enable().set_amp(50);
    dtmf.ClearDials();
    EXPECT_EQ(Texts(Ioctl(5, p)), Lines{"success seq=6 slot=5"});
    ASSERT_EQ(dtmf.Dials().size(), 1u);
    auto d = dtmf.Dials()[0];
    EXPECT_EQ((std::vector<unsigned>{d.timeslot, d.f1, d.f2, d.l1, d.l2}),
              (std::vector<unsigned>{ts, 1000, 0, 50, 0}));

    // A string of two digits: tone, pause, tone, pause, off, then the host
    // hears that it ended.
    p.set_translateDTMF(DigitsOneTwo(80, 60));
    dtmf.ClearDials();
    std::uint64_t const t0 = Mux::milliseconds();
    EXPECT_EQ(Texts(Ioctl(5, p)), Lines{"success seq=7 slot=5"});
    EXPECT_EQ(Texts(Ioctl(6, p)), Lines{"success seq=8 slot=6"});
    Lines heard;
    for (int i = 0; i < 10 && heard.empty(); ++i) {
        Mux::test::advance(100);
        Mux::test::run_once(0);
        heard = Texts(host().Take());
    }
    EXPECT_EQ(heard, Lines{"signal slot=5 tonec : { timestamp 0, event dtmfDone : NULL }"});
    std::vector<std::vector<unsigned>> cadence;
    for (auto const& dial : dtmf.Dials())
        if (dial.timeslot == ts)
            cadence.push_back({static_cast<unsigned>(dial.ms - t0), dial.f1, dial.f2, dial.l1, dial.l2});
    ASSERT_EQ(cadence.size(), 5u);
    EXPECT_EQ(cadence[0][1], 697u);
    EXPECT_EQ(cadence[1][0], 80u);
    EXPECT_EQ(cadence[2][0], 140u);
    EXPECT_EQ(cadence[2][2], 1336u);
    EXPECT_EQ(cadence[4], (std::vector<unsigned>{280, 0, 0, 0, 0}));
    // The input played its string too, and said nothing.
    for (int i = 0; i < 5; ++i) {
        Mux::test::advance(100);
        Mux::test::run_once(0);
    }
    EXPECT_TRUE(host().Take().empty());

    // Alternatives outside each port's table.
    p.set_echoSuppressor(true);
    EXPECT_EQ(Texts(Ioctl(5, p)), Lines{"error unsupported seq=9 slot=5"});
    p.set_tone_gen_disable();
    EXPECT_EQ(Texts(Ioctl(6, p)), Lines{"error unsupported seq=10 slot=6"});
    p.set_deactivateTonec();
    EXPECT_EQ(Texts(Ioctl(6, p)), Lines{"error unsupported seq=11 slot=6"});
}

TEST_F(MixerSlots, InputDetectorsReachTheHost)
{
    TwoUnits();
    host().Create(6, MixerIn(1, {true, 8}));
    const auto ts = static_cast<std::uint32_t>(model().Timeslot(1, 8));
    LGCP::IoctlParams p;
    Capture err(std::cerr);
    Capture log(std::clog);
    p.set_dtmf_enable(true);
    EXPECT_EQ(Texts(Ioctl(6, p)), Lines{"success seq=3 slot=6"});
    auto& dtmf = board().device<Sim::Dtmf>();
    ASSERT_TRUE(dtmf.Get(ts).detector);
    ASSERT_EQ(dtmf.Event(ts, 5, 1234, dtmf.Get(ts).id), 1);
    Mux::test::run_once(0);
    auto heard = Texts(host().Take());
    ASSERT_EQ(heard.size(), 1u);
    EXPECT_EQ(heard[0].rfind("signal slot=6 tonec : { timestamp 1234, event ", 0), 0u) << heard[0];

    p.set_vad_enable(true);
    EXPECT_EQ(Texts(Ioctl(6, p)), Lines{"success seq=4 slot=6"});
    auto& dsp = board().device<Sim::Dsp>();
    ASSERT_EQ(dsp.VadEvent(ts, dsp.Get(ts).ids[Sim::Dsp::kVad], 3, 1, 0), 1);
    Mux::test::run_once(0);
    EXPECT_EQ(Texts(host().Take()), Lines{"signal slot=6 vad : { vad-rx TRUE, vad-tx FALSE }"});

    // The selcal delay has no place on a mixer: logged and sent as 0.
    LGCP::Delays& d = p.select_delays();
    d.set_rx(10);
    d.set_selcal(30);
    err.clear();
    EXPECT_EQ(Texts(Ioctl(6, p)), Lines{"success seq=5 slot=6"});
    EXPECT_NE(err.str().find("mixer [1]: error: selcal delay isn't supported for mixer!!! Set to zero.\n"),
              std::string::npos);
    auto config = dsp.Config(ts, Sim::Dsp::kDelays);
    ASSERT_TRUE(config.has_value());
    for (int i = 4; i < 12; ++i) // tx and selcal: zero
        EXPECT_EQ((*config)[static_cast<std::size_t>(i)], 0) << i;
}

TEST_F(MixerSlots, DestroyDisablesTheSwitchChannelThenUndoesTheMixerProgram)
{
    TwoUnits();
    host().Create(6, MixerOut(0, {true, 9}));
    host().Create(4, MixerIn(0, {true, 1}));
    host().Create(5, MixerIn(0, {true, 2}, MixChannel{true, 9}));
    auto channel = [&](int c) { return std::to_string(model().Timeslot(0, c)); };
    auto destroyed = [&](std::uint32_t n) {
        board().ClearLog();
        host().Destroy(n);
        Lines out;
        for (auto const& r : board().Log())
            if (r.request != Sim::kOpen && r.device != "/dev/dtmf" && r.device != "/dev/dsp")
                out.push_back(Sim::Format(r));
        return out;
    };
    Capture log(std::clog);
    EXPECT_EQ(destroyed(4), Lines{"/dev/hal 0x80044d03 " + channel(1) + " = 0"});
    EXPECT_EQ(destroyed(5), (Lines{"/dev/hal 0x80044d03 " + channel(2) + " = 0",
                                   "/dev/mixer 0x801c4d04 0 0 9 0 0 2 0 = 0"}));
    EXPECT_EQ(model().Sums(0), Lines{"9: 0.9@32767"});

    // A port playing a digit string: silence, then the generator off.
    LGCP::IoctlParams p;
    LGCP::DualTone t;
    t.set_freq1(697);
    t.set_freq2(1209);
    p.select_translateDTMF().get_digits().push_back(t);
    auto const timers = multiplexer.timer_count();
    host().Exchange(Ioctl(p), 6);
    auto& dtmf = board().device<Sim::Dtmf>();
    dtmf.ClearDials();
    log.clear();
    EXPECT_EQ(destroyed(6),
              (Lines{"/dev/hal 0x80044d03 " + channel(9) + " = 0", "/dev/mixer 0x800c4d02 0 0 9 = 0"}));
    EXPECT_EQ(log.str(), "mixer [0]: clear tdm output 9\nDISABLE ALL TONE done:  ts=" + channel(9) + "\n");
    ASSERT_EQ(dtmf.Dials().size(), 2u);
    EXPECT_EQ(dtmf.Dials()[0].f1, 1000);
    EXPECT_EQ(dtmf.Dials()[0].l1, 0);
    EXPECT_TRUE(dtmf.Dials()[1].off());
    EXPECT_TRUE(model().Sums(0).empty());
    EXPECT_TRUE(mixer_.mixers[0]->ports.empty());
    EXPECT_TRUE(mixer_.slots.empty());
    // No timer of the string is left behind.
    EXPECT_EQ(multiplexer.timer_count(), timers);
}

TEST_F(MixerSlots, VanishedUnitAbortsItsPortsAndLivesUntilTheLastIsDestroyed)
{
    TwoUnits();
    host().Create(4, MixerIn(1, {true, 1}));
    host().Create(5, MixerOut(1, {true, 2}));
    host().Create(6, MixerIn(0, {true, 2}));
    host().Create(7, Trunk(1, 5));
    host().Connect(7, 4);
    EXPECT_EQ(mixer_.live, 2);

    model().RemoveUnit(1);
    auto q = host().Query();
    ASSERT_EQ(q.size(), 4u);
    EXPECT_EQ(q[1].Text(), "signal slot=4 abort : 0");
    EXPECT_EQ(q[2].Text(), "signal slot=5 abort : 0");
    EXPECT_EQ(q[3].signal.get_query().get_mixer().size(), 1u);
    EXPECT_EQ(mixer_.mixers.size(), 1u);
    EXPECT_EQ(mixer_.live, 2); // unit 1 lives on for its ports
    ExpectRefused(MixerIn(1, {true, 3}), "gone unit");

    // Still usable, and its destroy still undoes its program.
    board().ClearLog();
    EXPECT_EQ(Texts(host().Destroy(5)), Lines{"success seq=9 slot=5"});
    EXPECT_EQ(mixer_.live, 2);
    EXPECT_EQ(Requests(), Lines{"0x800c4d02 1 0 2 = -1 EINVAL"}); // the driver no longer has it
    EXPECT_EQ(Texts(host().Destroy(4)), Lines{"success seq=10 slot=4"});
    EXPECT_EQ(mixer_.live, 1);
    EXPECT_TRUE(slot(7)->listeners.empty());

    // Back again: a new unit object, reset as new.
    model().AddUnit({1, 24, 8});
    Capture log(std::clog);
    host().Query();
    EXPECT_EQ(log.str(), "mixer [1]: clear all inputs\n");
    EXPECT_EQ(mixer_.live, 2);
    // A unit without ports goes at once.
    model().RemoveUnit(1);
    host().Query();
    EXPECT_EQ(mixer_.live, 1);
}

TEST_F(MixerSlots, PortsOfAUnitThatCameBackSwitchOffWhatTheyHeldThenLeaveTheNewPortsAlone)
{
    TwoUnits();
    HdlcSlotFactory hdlc;
    LGCP::CreateParams link;
    link.select_hdlcParams().set_trunk(1);
    host().Create(4, MixerIn(1, {true, 1}, MixChannel{true, 2}));
    host().Create(5, MixerOut(1, {true, 2}));
    host().Create(3, MixerIn(1, {true, 3}));
    host().Create(13, MixerOut(1, {true, 4}));
    host().Create(14, MixerOut(1, {true, 5}));
    host().Create(9, Trunk(1, 9));
    host().Create(10, Trunk(1, 10));
    host().Create(12, link);
    host().Connect(12, 4);
    host().Connect(9, 3);
    // Input 3 switches on every detector, filter and setting it has.
    std::vector<LGCP::IoctlParams> on(9);
    on[0].set_echoSuppressor(true);
    on[1].set_dtmf_enable(true);
    on[2].set_iva_enable(true);
    on[3].set_dtmf_reject_enable(true);
    on[4].set_vad_enable(true);
    on[5].set_sd_enable(true);
    on[6].select_delays().set_rx(10);
    on[7].select_rx_gain().set_gainDB(-6);
    LGCP::ToneFilter& f = on[8].select_tone_filter();
    f.set_freq(2100);
    f.set_enable(true);
    f.set_duration_th_msec(40);
    f.set_det_level_dB(-30);
    for (auto const& x : on)
        Ioctl(3, x);
    // Ten digits of 500 ms: output 13's are 700 ms in (a pause) when the
    // unit comes back, output 5's 200 ms in (a tone); 14 plays 425 Hz.
    LGCP::TranslateDtmfParams ten = DigitsOneTwo(500, 500);
    for (int i = 0; i < 8; ++i)
        ten.get_digits().push_back(ten.get_digits()[0]);
    LGCP::IoctlParams p;
    p.set_translateDTMF(ten);
    Ioctl(13, p);
    Mux::test::advance(500);
    Mux::test::run_once(0);
    Ioctl(5, p);
    p.select_tone_gen_enable().set_freq(425);
    p.select_tone_gen_enable().set_amp(1000);
    Ioctl(14, p);
    Mux::test::advance(200);
    Mux::test::run_once(0);
    const int in = model().Timeslot(1, 1);
    const auto out = static_cast<std::uint32_t>(model().Timeslot(1, 2));
    const auto in3 = static_cast<std::uint32_t>(model().Timeslot(1, 3));
    const auto gap = static_cast<std::uint32_t>(model().Timeslot(1, 4));
    const auto tone = static_cast<std::uint32_t>(model().Timeslot(1, 5));
    auto& dtmf = board().device<Sim::Dtmf>();
    ASSERT_EQ(dtmf.Get(out).tone[2], 16384);
    ASSERT_EQ(dtmf.Get(gap).tone[0], 1000);
    model().RemoveUnit(1);
    host().Query();
    model().AddUnit({1, 24, 8});
    Capture log(std::clog);
    board().ClearLog();
    // At that moment the old ports let go of their paths and connections.
    auto q = Texts(host().Query());
    EXPECT_EQ(Lines(q.begin() + 1, q.end() - 1), (Lines{"signal slot=4 receiver : inactive : NULL",
                                                        "signal slot=3 receiver : inactive : NULL"}));
    EXPECT_EQ(Switch(in), std::to_string(in) + " disabled");
    EXPECT_EQ(Switch(in3), std::to_string(in3) + " disabled");
    // Before the new unit's reset, each old port switched off once what it
    // had switched on: the generator silence (1000 Hz twice, levels 0) then
    // off, whatever played; echo filter, DTMF, IVA and rejection; VAD,
    // delays, gain, tone filters, SD. `dsp` lists the DSP requests as
    // written, and the first reset of a mixer channel.
    auto dsp = [&] {
        Lines out;
        for (auto const& r : board().Log()) {
            std::string line = Sim::Format(r);
            if (auto a = line.find(" ->"); a != std::string::npos)
                line.erase(a, line.find(" =") - a);
            if ((r.device == "/dev/dtmf" || r.device == "/dev/dsp") && r.request != Sim::kOpen)
                out.push_back(line);
            else if (r.device == "/dev/mixer" && r.request == MIX_RX_CLEAR &&
                     std::find(out.begin(), out.end(), "reset") == out.end())
                out.push_back("reset");
        }
        return out;
    };
    Lines want;
    auto add = [&](auto n, Lines requests) { // `#`: the time slot
        for (auto& r : requests)
            want.push_back(r.replace(r.find('#'), 1, std::to_string(n)) + " = 0");
    };
    Lines const silenceOff{"/dev/dtmf 0x400c4205 # 65537000 0", "/dev/dtmf 0x400c4205 # 0 0"};
    Lines const toneFilters{"/dev/dsp 0x400c6403 # 0 256"};
    add(in, toneFilters);
    add(out, silenceOff);
    add(out, toneFilters);
    add(in3, {"/dev/dtmf 0x40044207 #", "/dev/dtmf 0x40044204 #", "/dev/dtmf 0x4004420c #",
              "/dev/dtmf 0x4004420a #", "/dev/dsp 0x400c6403 # 0 1", "/dev/dsp 0x40146401 # 32 0 0 0",
              "/dev/dsp 0x40146401 # 64 0 0 0", "/dev/dsp 0x400c6403 # 0 256", "/dev/dsp 0x400c6403 # 0 2"});
    for (auto n : {gap, tone}) {
        add(n, silenceOff);
        add(n, toneFilters);
    }
    want.push_back("reset");
    EXPECT_EQ(dsp(), want);
    auto silent = [&] {
        for (auto n : {out, gap, tone})
            EXPECT_EQ(dtmf.Get(n).tone[2] + dtmf.Get(n).tone[3], 0) << n;
    };
    silent();
    dtmf.ClearDials();
    // The same channels again, on the unit object that came back.
    host().Create(6, MixerIn(1, {true, 1}));
    host().Create(8, MixerOut(1, {true, 2}, {{{true, 1}, 5}}));
    host().Create(7, Trunk(1, 5));
    host().Create(11, MixerIn(1, {true, 3}));
    host().Connect(7, 6);
    host().Connect(10, 11);
    silent();
    // The link that fed an old port programs nothing for it any more.
    LGCP::Command activate;
    activate.select_activate().set_empty();
    EXPECT_EQ(Texts(host().Exchange(activate, 12)), Lines{"success seq=32 slot=12"});
    EXPECT_EQ(Switch(in), std::to_string(in) + " connected 37");
    // The new port's detector events reach it; the old cadence is silent.
    p.set_dtmf_enable(true);
    EXPECT_EQ(Texts(Ioctl(11, p)), Lines{"success seq=33 slot=11"});
    dtmf.Event(in3, 5, 7, dtmf.Get(in3).id);
    Mux::test::run_once(0);
    EXPECT_EQ(Texts(host().Take()), Lines{"signal slot=11 tonec : { timestamp 7, event dtmf : 5 }"});
    for (int i = 0; i < 30; ++i) {
        Mux::test::advance(100);
        Mux::test::run_once(0);
    }
    host().Take(); // the link's statistics
    board().ClearLog();
    Capture err(std::cerr);
    // The old ports' connections neither break the new paths nor take them.
    EXPECT_EQ(Texts(host().Disconnect(4)), Lines{"success seq=34 slot=4"});
    EXPECT_EQ(Texts(host().Connect(9, 4)), Lines{"error connectFail seq=35 slot=9"});
    EXPECT_EQ(Texts(host().Connect(5, 10)), Lines{"error connectFail seq=36 slot=5"});
    EXPECT_NE(err.str().find("slot 04:mixer tdm input no longer holds its switch channel"),
              std::string::npos);
    // Nor do they reach the detectors and generators of the new time slots.
    EXPECT_EQ(Texts(Ioctl(4, p)), Lines{"error unsupported seq=37 slot=4"});
    EXPECT_FALSE(dtmf.Get(static_cast<std::uint32_t>(in)).detector);
    p.set_tone_gen_disable();
    EXPECT_EQ(Texts(Ioctl(14, p)), Lines{"error unsupported seq=38 slot=14"});
    silent();
    int seq = 39;
    for (std::uint32_t n : {4, 5, 3, 13, 14}) {
        EXPECT_EQ(Texts(host().Destroy(n)),
                  Lines{"success seq=" + std::to_string(seq++) + " slot=" + std::to_string(n)});
        silent();
    }
    for (auto const& r : board().Log())
        EXPECT_TRUE(r.request == Sim::kOpen) << Sim::Format(r);
    EXPECT_EQ(Texts(host().Destroy(12)), Lines{"success seq=44 slot=12"});
    // Ten seconds after the unit came back, nothing has sounded there since.
    for (int i = 0; i < 70; ++i) {
        Mux::test::advance(100);
        Mux::test::run_once(0);
    }
    silent();
    for (auto const& dial : dtmf.Dials())
        EXPECT_TRUE(dial.timeslot != out && dial.timeslot != gap && dial.timeslot != tone) << dial.timeslot;
    EXPECT_EQ(model().Sums(1), Lines{"2: 1.1@5"});
    EXPECT_EQ(Switch(in), std::to_string(in) + " connected 37");
    EXPECT_EQ(Switch(in3), std::to_string(in3) + " connected 42");
    EXPECT_TRUE(slot(9)->listeners.empty());
    EXPECT_EQ(mixer_.live, 2);
    // A port on its own channel switches off what it switched on as it
    // goes, a continuous tone included.
    p.select_tone_gen_enable().set_freq(425);
    p.select_tone_gen_enable().set_amp(1000);
    Ioctl(8, p);
    board().ClearLog();
    host().Destroy(8);
    host().Destroy(11);
    want.clear();
    add(out, silenceOff);
    want.push_back("reset");
    add(out, toneFilters);
    add(in3, {"/dev/dtmf 0x40044204 #", "/dev/dsp 0x400c6403 # 0 256"});
    EXPECT_EQ(dsp(), want);
}

TEST_F(MixerSlots, StragglerPortsLeaveTheirUnitWhenDeletedWithoutDestroy)
{
    TwoUnits();
    host().Create(4, MixerIn(1, {true, 1}));
    model().RemoveUnit(1);
    host().Query();
    EXPECT_EQ(mixer_.live, 2);
    // The host goes: every slot is destroyed, the orphan unit with them.
    host().LoseHost();
    EXPECT_EQ(mixer_.live, 1);
}

TEST_F(MixerSlots, EnumerationIsBoundedWhateverTheDriverAnswers)
{
    Capture err(std::cerr);
    Capture log(std::clog);
    // A driver that keeps answering: 100 units.
    model().Forever(true, 2, 1);
    host().Query();
    EXPECT_EQ(mixer_.mixers.size(), 100u);
    EXPECT_EQ(mixer_.mixers.back()->unit, 99);
    EXPECT_EQ(mixer_.tdmChannels, 2);
    // A full board stays full: the next walk finds the same units again,
    // aborts nothing and resets nothing.
    host().Create(4, MixerIn(99, {true, 1}));
    log.clear();
    EXPECT_EQ(Texts(host().Query()).size(), 2u);
    EXPECT_EQ(mixer_.mixers.size(), 100u);
    EXPECT_EQ(mixer_.live, 100);
    EXPECT_EQ(log.str(), "");
    host().Destroy(4);

    // Only nonsense answers, for ever: the walk still ends, nothing known.
    model().RemoveUnit(0);
    model().RemoveUnit(1);
    model().Forever(true, 1000000, 8);
    board().ClearLog();
    err.clear();
    host().Query();
    EXPECT_TRUE(mixer_.mixers.empty());
    EXPECT_EQ(mixer_.live, 0);
    EXPECT_EQ(err.str().find("mixer: unit 0 reports 1000000 tdm channels and 8 mixer inputs, ignored\n"), 0u);
    EXPECT_LT(board().Count("/dev/mixer", Sim::MixerDev::kUnitInfo), 2000u);

    // One bad unit among good ones is left out, and does not lower the counts.
    model().Forever(false);
    model().AddUnit({0, 32, 16});
    model().AddUnit({1, 1000000, 8});
    model().AddUnit({2, 16, -1});
    model().AddUnit({3, 20, 4});
    err.clear();
    host().Query();
    ASSERT_EQ(mixer_.mixers.size(), 2u);
    EXPECT_EQ(mixer_.mixers[1]->unit, 3);
    EXPECT_EQ(mixer_.tdmChannels, 20);
    EXPECT_EQ(mixer_.mixerInputs, 4);
    EXPECT_EQ(err.str(), "mixer: unit 1 reports 1000000 tdm channels and 8 mixer inputs, ignored\n"
                         "mixer: unit 2 reports 16 tdm channels and -1 mixer inputs, ignored\n");

    // No driver at all: no unit, nothing reported.
    board().SetPresent("/dev/mixer", false);
    auto q = host().Query();
    EXPECT_TRUE(mixer_.mixers.empty());
    ASSERT_EQ(q.size(), 2u);
    EXPECT_TRUE(q.back().signal.get_query().get_mixer().empty());
}

TEST_F(MixerSlots, FailedResetIsCountedAndLogged)
{
    board().Fail("/dev/mixer", Sim::MixerDev::kRxClear, 3, EIO);
    Capture err(std::cerr);
    Capture log(std::clog);
    host().Query();
    EXPECT_EQ(err.str(), "mixer [0]: reset fail: 3 errors.\n");
    EXPECT_EQ(mixer_.mixers.size(), 2u);
}

} // namespace
