// The DSP detector service against the simulated "/dev/dsp": feature
// states and their requests, mute, VAD parameters by driver version, the
// configure records byte by byte, clean-up, and event routing.

#include "hardware/dsproc.hpp"
#include "core/clock.hpp"
#include "core/traces.hpp"
#include "sim/board.hpp"
#include "sim/board_fixture.hpp"
#include "sim/dsp.hpp"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

namespace {

using Hardware::DSProcReceiver;
using Hardware::DSProcReceiverService;
using Sim::Dsp;
using SimTest::Capture;

class Receiver : public DSProcReceiver {
public:
    explicit Receiver(unsigned ts) : ts_(ts) {}
    void dsproc_vad_event(const Hardware::DSProcVADEvent& e) override { got_vad.push_back({e.rx, e.tx}); }
    void dsproc_bss_event(const ::dsproc_bss_event* e) override { got_bss.push_back(e->score); }
    void dsproc_sd_event(const Hardware::DSProcSDEvent& e) override { got_sd.push_back(e.rx); }
    void dsproc_tone_flt_event(const ::dsproc_tone_event* e) override
    {
        got_tone.push_back({e->frequency, e->present});
    }
    void dsproc_flags_event(const ::dsproc_flags_event* e) override
    {
        got_flags.push_back({e->flags, e->mask});
    }
    unsigned int dsproc_timeslot() const override { return ts_; }

    std::vector<std::vector<int>> got_vad;
    std::vector<float> got_bss;
    std::vector<int> got_sd;
    std::vector<std::vector<unsigned>> got_tone, got_flags;

private:
    unsigned ts_;
};

struct Req {
    std::uint32_t request;
    std::vector<std::uint32_t> in;
    bool operator==(const Req&) const = default;
};
std::ostream& operator<<(std::ostream& os, const Req& r)
{
    os << std::hex << r.request << std::dec << " {";
    for (auto w : r.in)
        os << ' ' << w;
    return os << " }";
}

template <class T>
T At(const Dsp::Params& p, std::size_t offset)
{
    T v;
    std::memcpy(&v, p.data() + offset, sizeof v);
    return v;
}

class DsprocTest : public SimTest::BoardTest {
protected:
    void SetUp() override
    {
        BoardTest::SetUp();
        service_ = std::make_unique<DSProcReceiverService>();
        DSProcReceiverService::UseInstance(service_.get());
        board().ClearLog();
    }
    void TearDown() override
    {
        traces.Reset();
        DSProcReceiverService::UseInstance(nullptr);
        service_.reset();
        BoardTest::TearDown();
    }
    std::vector<Req> Requests()
    {
        std::vector<Req> out;
        for (auto& r : board().Log())
            if (r.device == "/dev/dsp" && r.request != Sim::kOpen)
                out.push_back({r.request, r.in});
        return out;
    }
    Dsp& dsp() { return board().device<Sim::Dsp>(); }

    std::unique_ptr<DSProcReceiverService> service_;
};

TEST_F(DsprocTest, FeatureStatesDecideTheRequests)
{
    Receiver r(5);
    Capture err(std::cerr);
    EXPECT_TRUE(r.disableVAD()); // state unknown: a disable goes out
    EXPECT_TRUE(r.disableBSS()); // state off: nothing
    EXPECT_TRUE(r.enableVAD(true));
    EXPECT_TRUE(r.enableVAD(true));
    EXPECT_TRUE(r.enableSD(true));
    EXPECT_TRUE(r.enableSelcalSh(true));
    EXPECT_TRUE(r.disableSelcalSh());
    EXPECT_TRUE(r.disableNG());
    EXPECT_TRUE(r.disableSh());
    EXPECT_EQ(r.vad().state, 1);
    EXPECT_EQ(r.vad().id, 1u);
    EXPECT_EQ(r.sd().id, 2u);
    EXPECT_EQ(r.selcal_sh().state, 0);
    EXPECT_EQ(Requests(), (std::vector<Req>{
                              {Dsp::kDisable, {5, 0, Dsp::kVad}},
                              {Dsp::kEnable, {5, 1, Dsp::kVad}},
                              {Dsp::kEnable, {5, 2, Dsp::kSd}},
                              {Dsp::kEnable, {5, 3, Dsp::kSelcalSh}},
                              {Dsp::kDisable, {5, 0, Dsp::kSelcalSh}},
                          }));
    EXPECT_EQ(err.str(), "DSPROC_DISABLE VAD done: timeslot=5\n"
                         "DSPROC_ENABLE VAD done: timeslot=5 id=1\n"
                         "DSPROC_ENABLE SD done: timeslot=5 id=2\n"
                         "DSPROC_ENABLE SELCAL_SH done: timeslot=5 id=3\n"
                         "DSPROC_DISABLE SELCAL_SH done: timeslot=5\n");
    EXPECT_EQ(dsp().Get(5).enabled, Dsp::kVad | Dsp::kSd);

    // A failed request changes nothing but the id counter.
    err.clear();
    dsp().FailTimeslot(5, 2, EBUSY);
    EXPECT_FALSE(r.enableBSS(true));
    EXPECT_FALSE(r.disableVAD());
    EXPECT_EQ(r.bss().state, 0);
    EXPECT_EQ(r.vad().state, 1);
    EXPECT_EQ(err.str(), "DSPROC_ENABLE BSS fail: timeslot=5 id=4 errno=\"Device or resource busy\"\n"
                         "DSPROC_DISABLE VAD fail: timeslot=5 errno=\"Device or resource busy\"\n");
    EXPECT_TRUE(r.enableNG(true));
    EXPECT_EQ(r.ng().id, 5u);
}

TEST_F(DsprocTest, IdsSkipZero)
{
    Receiver r(6);
    Capture quiet(std::cerr);
    service_->set_last_id(0xFFFFFFFFu);
    ASSERT_TRUE(r.enableBSS(true));
    EXPECT_EQ(r.bss().id, 1u);
}

TEST_F(DsprocTest, MuteFlags)
{
    Receiver r(7);
    Capture err(std::cerr);
    EXPECT_TRUE(r.disableMute()); // unknown: a disable goes out
    EXPECT_TRUE(r.disableMute());
    EXPECT_TRUE(r.enableMute(true, false));
    EXPECT_TRUE(r.enableMute(true, false));
    EXPECT_TRUE(r.enableMute(true, true));
    EXPECT_EQ(Requests(), (std::vector<Req>{
                              {Dsp::kDisable, {7, 0, 12}},
                              {Dsp::kEnable, {7, 1, 4}},
                              {Dsp::kEnable, {7, 2, 12}},
                          }));
    EXPECT_EQ(err.str(), "DSPROC_DISABLE MUTE done: timeslot=7\n"
                         "DSPROC_ENABLE MUTE done: timeslot=7 id=1\n"
                         "DSPROC_ENABLE MUTE done: timeslot=7 id=2\n");
}

TEST_F(DsprocTest, VadParametersFollowTheDriverVersion)
{
    LGCP::VADParams v1;
    v1.set_v1();
    LGCP::VADParams v2;
    TERM::VADParamsV2 p;
    p.set_voice_th_msec(300);
    p.set_silence_th_msec(1200);
    p.set_e_th_dB(45);
    v2.set_v2(p);

    Capture log(std::clog), err(std::cerr);
    ASSERT_TRUE(service_->configureVAD(8, v2)); // version 1: fixed parameters
    auto fixed = dsp().Config(8, Dsp::kVad);
    ASSERT_TRUE(fixed);
    EXPECT_EQ(At<std::uint32_t>(*fixed, 0), 3u);
    EXPECT_EQ(At<std::uint32_t>(*fixed, 4), 127u);
    EXPECT_EQ(At<std::uint32_t>(*fixed, 8), 0u);

    dsp().SetVadVersion(2);
    board().ClearLog();
    EXPECT_FALSE(service_->configureVAD(9, v1));
    EXPECT_EQ(err.str(), "DSPROC_CONFIGURE VAD: params not specified for v2:  timeslot=9\n");
    for (const Req& r : Requests())
        EXPECT_NE(r.request, Dsp::kConfigure);

    ASSERT_TRUE(service_->configureVAD(9, v2));
    auto got = dsp().Config(9, Dsp::kVad);
    ASSERT_TRUE(got);
    EXPECT_EQ(At<std::uint16_t>(*got, 0), 300u);
    EXPECT_EQ(At<std::uint16_t>(*got, 2), 1200u);
    EXPECT_EQ(At<std::uint8_t>(*got, 4), 45u);
    EXPECT_EQ(At<std::uint8_t>(*got, 5), 0u);
    EXPECT_EQ(log.str(), "DSPROC_CONFIGURE VAD ts=8\nDSPROC_CONFIGURE VAD ts=9\n");
}

TEST_F(DsprocTest, ConfigurationRecords)
{
    Receiver r(10);
    Capture log(std::clog);
    r.configureRxGain(-6);
    EXPECT_TRUE(r.rx_gain_set());
    r.configureDelays(10, 20, 30);
    EXPECT_TRUE(r.delays_set());
    r.configureToneFilter(2100, 1, 400, -25);
    EXPECT_TRUE(r.configureSD());

    auto gain = *dsp().Config(10, Dsp::kRxGain);
    EXPECT_EQ(At<std::int8_t>(gain, 0), -6);
    auto delays = *dsp().Config(10, Dsp::kDelays);
    EXPECT_EQ(At<std::uint32_t>(delays, 4), 20u);
    auto tf = *dsp().Config(10, Dsp::kToneFilter);
    EXPECT_EQ(At<std::uint16_t>(tf, 0), 2100u);
    EXPECT_EQ(At<std::uint8_t>(tf, 2), 1u);
    EXPECT_EQ(At<std::uint16_t>(tf, 4), 400u);
    EXPECT_EQ(At<std::int8_t>(tf, 6), -25);
    EXPECT_EQ(log.str(),
              "DSPROC_CONFIGURE RX GAIN ts=10 gain_dB=-6\n"
              "DSPROC_CONFIGURE DELAYS ts=10 rx=10 tx=20 selcal=30\n"
              "DSPROC_CONFIGURE TONE FILTER ts=10 freq=2100, en=1, dur_th_msec=400, det_lvl_dB=-25\n"
              "DSPROC_CONFIGURE SD ts=10\n");

    // Zero delays clear the flag even when the request fails.
    Capture err(std::cerr);
    dsp().FailTimeslot(10, 1, EIO);
    r.configureDelays(0, 0, 0);
    EXPECT_FALSE(r.delays_set());
    EXPECT_EQ(err.str(), "DSPROC_CONFIGURE DELAYS fail: timeslot=10 errno=\"Input/output error\"\n");
    r.configureRxGain(0);
    EXPECT_FALSE(r.rx_gain_set());
    board().ClearLog();
    r.CleanBeforeDestroy();
    EXPECT_EQ(Requests(), (std::vector<Req>{{Dsp::kDisable, {10, 0, Dsp::kToneFilter}}}));
}

TEST_F(DsprocTest, CleanBeforeDestroyOrder)
{
    Receiver r(11);
    Capture quiet(std::cerr), log(std::clog);
    r.enableMute(true, true);
    r.enableSD(true);
    r.enableSh(true);
    r.enableSelcalSh(true);
    r.enableNG(true);
    r.enableBSS(true);
    r.enableVAD(true);
    r.configureRxGain(3);
    r.configureDelays(0, 0, 5);
    board().ClearLog();
    r.CleanBeforeDestroy();
    std::vector<Req> got = Requests();
    ASSERT_EQ(got.size(), 8u);
    const std::uint32_t disabled[] = {Dsp::kVad, Dsp::kBss, Dsp::kNg, Dsp::kSelcalSh, Dsp::kSh};
    for (int i = 0; i < 5; ++i)
        EXPECT_EQ(got[i], (Req{Dsp::kDisable, {11, 0, disabled[i]}})) << i;
    EXPECT_EQ(got[5].request, Dsp::kConfigure);
    EXPECT_EQ(got[5].in[1], Dsp::kDelays);
    EXPECT_EQ(got[6].in[1], Dsp::kRxGain);
    EXPECT_EQ(got[7], (Req{Dsp::kDisable, {11, 0, Dsp::kToneFilter}}));
    // SD and mute stay as they were.
    EXPECT_EQ(dsp().Get(11).enabled, Dsp::kSd | Dsp::kMuteRx | Dsp::kMuteTx);
    EXPECT_NE(log.str().find("DISABLE ALL TONE done:  ts=11\n"), std::string::npos);
}

TEST_F(DsprocTest, EventsReachTheirReceivers)
{
    Receiver r(12);
    Capture quiet(std::cerr);
    // VAD with an unknown state passes on a matching id (0 until enabled).
    dsp().VadEvent(12, 0, 3, 1, 0);
    Mux::test::run_once(0);
    EXPECT_EQ(r.got_vad, (std::vector<std::vector<int>>{{1, 0}}));

    ASSERT_TRUE(r.enableVAD(true));
    ASSERT_TRUE(r.enableSD(true));
    dsp().VadEvent(12, r.vad().id, 2, 1, 1);     // transmit only
    dsp().VadEvent(12, r.vad().id + 7, 1, 1, 1); // another id
    dsp().SdEvent(12, r.sd().id, 4);
    dsp().SdEvent(12, r.sd().id + 1, 5);
    dsp().BssEvent(12, 777, 0.5f); // BSS off
    Mux::test::run_once(0);
    EXPECT_EQ(r.got_vad, (std::vector<std::vector<int>>{{1, 0}, {-1, 1}}));
    EXPECT_EQ(r.got_sd, std::vector<int>{4});
    EXPECT_TRUE(r.got_bss.empty());

    ASSERT_TRUE(r.enableBSS(true));
    dsp().BssEvent(12, 777, 0.75f); // any id
    dsp().ToneEvent(12, 0, 2100, 1);
    dsp().FlagsEvent(12, 0, 0x80000000u, 0xE0000000u);
    ASSERT_TRUE(r.disableVAD());
    dsp().VadEvent(12, r.vad().id, 3, 1, 1);
    Mux::test::run_once(0);
    EXPECT_EQ(r.got_bss, std::vector<float>{0.75f});
    EXPECT_EQ(r.got_tone, (std::vector<std::vector<unsigned>>{{2100, 1}}));
    EXPECT_EQ(r.got_flags, (std::vector<std::vector<unsigned>>{{0x80000000u, 0xE0000000u}}));
    EXPECT_EQ(r.got_vad.size(), 2u);
}

TEST_F(DsprocTest, EventLinesOnlyWhenTraced)
{
    Receiver r(13);
    {
        Capture log(std::clog), err(std::cerr);
        dsp().VadEvent(99, 1, 3, 1, 1);
        dsp().BssEvent(13, 2, 1.0f);
        Mux::test::run_once(0);
        EXPECT_EQ(log.str(), "");
        EXPECT_EQ(err.str(), "");
    }
    traces[TraceCtl::signalling_events] = true;
    Capture log(std::clog), err(std::cerr);
    dsp().VadEvent(99, 1, 3, 1, 0);
    dsp().BssEvent(13, 2, 1.5f);
    dsp().FlagsEvent(13, 3, 0x80000000u, 0xE0000000u);
    dsp().SdEvent(13, 4, -1);
    dsp().VadEvent(13, 5, 1, 1, 0);
    Mux::test::run_once(0);
    EXPECT_EQ(log.str(), "dsproc event:  timeslot=99 id=1 type=1\n"
                         "dsproc vad event:  dir_mask=3 vad_rx=1 vad_tx=0\n"
                         "dsproc event:  timeslot=13 id=2 type=16\n"
                         "dsproc bss event:  score=1.5\n"
                         "ignore spurious dsproc bss event (dsproc disabled):  timeslot=13 id=2 type=16\n"
                         "dsproc event:  timeslot=13 id=3 type=512\n"
                         "dsproc flags event:  flags=80000000, mask=e0000000\n"
                         "dsproc event:  timeslot=13 id=4 type=2\n"
                         "dsproc sd event:  sd_rx=-1\n"
                         "dsproc event:  timeslot=13 id=5 type=1\n"
                         "dsproc vad event:  dir_mask=1 vad_rx=1 vad_tx=0\n"
                         "ignore spurious dsproc vad event:  timeslot=13 id=5 type=1 rid=0\n");
    EXPECT_EQ(err.str(), "receive dsproc event from unknown timeslot 99\n");
}

TEST_F(DsprocTest, AbsentDriver)
{
    DSProcReceiverService::UseInstance(nullptr);
    service_.reset();
    board().SetPresent("/dev/dsp", false);
    Capture err(std::cerr);
    DSProcReceiverService absent;
    DSProcReceiverService::UseInstance(&absent);
    Receiver r(14);
    r.configureDelays(1, 2, 3);
    r.configureRxGain(-1);
    r.configureToneFilter(1, 1, 1, 1);
    r.disableToneAll();
    EXPECT_FALSE(r.configureSD());
    EXPECT_FALSE(r.configureVAD(LGCP::VADParams()));
    const std::string open = "open dsproc fail, VAD proceeding disabled: No such file or directory\n";
    EXPECT_EQ(err.str(), open + open + "configure Delays fail: (interface not opened) timeslot=14\n" + open +
                             "Configure Rx gain fail: (interface not opened) timeslot=14\n" + open +
                             "Configure Tone Filter fail: (interface not opened) timeslot=14\n" + open +
                             "Disable All Tone fail: (interface not opened) timeslot=14\n" + open +
                             "configure SD fail: (interface not opened) timeslot=14\n" + open +
                             "configure VAD fail: (interface not opened) timeslot=14\n");
    DSProcReceiverService::UseInstance(nullptr);
}

} // namespace
