// The tone and DTMF detector service against the simulated "/dev/dtmf":
// detector enables and their ids, event routing, the generator cadences
// checked on the loop's test clock from the model's history, and SELCAL.

#include "hardware/tonec.hpp"
#include "core/clock.hpp"
#include "core/multiplexer.hpp"
#include "sim/board.hpp"
#include "sim/board_fixture.hpp"
#include "sim/dtmf.hpp"

#include <gtest/gtest.h>

#include <cerrno>
#include <memory>
#include <string>
#include <vector>

namespace {

using Hardware::TonecReceiver;
using Hardware::TonecReceiverService;
using SimTest::Capture;
using Dial = Sim::Dtmf::Dial;

class Receiver : public TonecReceiver {
public:
    explicit Receiver(unsigned ts) : ts_(ts) {}
    void tonec_event(const Params& p) override { events.push_back(p); }
    unsigned int tonec_timeslot() const override { return ts_; }
    void tone_gen_complete() override { ++completes; }

    std::vector<Params> events;
    int completes = 0;

private:
    unsigned ts_;
};

std::uint64_t LoopMs()
{
    return Mux::milliseconds();
}

LGCP::TranslateDtmfParams Digits(int n)
{
    static const int freqs[][2] = {{697, 1209}, {770, 1336}, {852, 1477}, {941, 1633}};
    LGCP::TranslateDtmfParams p;
    for (int i = 0; i < n; ++i) {
        LGCP::DualTone t;
        t.set_freq1(freqs[i % 4][0]);
        t.set_freq2(freqs[i % 4][1]);
        p.get_digits().push_back(t);
    }
    return p;
}

class TonecTest : public SimTest::BoardTest {
protected:
    void SetUp() override
    {
        BoardTest::SetUp();
        Mux::test::freeze();
        board().device<Sim::Dtmf>().SetClock(&LoopMs);
        service_ = std::make_unique<TonecReceiverService>();
        TonecReceiverService::UseInstance(service_.get());
        board().ClearLog();
    }
    void TearDown() override
    {
        TonecReceiverService::UseInstance(nullptr);
        service_.reset();
        BoardTest::TearDown();
    }
    std::vector<Sim::Request> Requests(std::uint32_t request)
    {
        std::vector<Sim::Request> out;
        for (auto& r : board().Log())
            if (r.device == "/dev/dtmf" && r.request == request)
                out.push_back(r);
        return out;
    }
    Sim::Dtmf& dtmf() { return board().device<Sim::Dtmf>(); }
    // Dials relative to `t0`: {ms, f1, f2, l1, l2}.
    std::vector<std::vector<unsigned>> Cadence(std::uint64_t t0)
    {
        std::vector<std::vector<unsigned>> out;
        for (const Dial& d : dtmf().Dials())
            out.push_back({static_cast<unsigned>(d.ms - t0), d.f1, d.f2, d.l1, d.l2});
        return out;
    }

    std::unique_ptr<TonecReceiverService> service_;
};

TEST_F(TonecTest, EnableIdsAndTheirEvents)
{
    Receiver a(5), b(6);
    {
        Capture err(std::cerr);
        EXPECT_TRUE(a.enableDTMF(true));
        EXPECT_TRUE(a.enableDTMF(true)); // already on: no request
        EXPECT_TRUE(b.enableDTMF(true));
        EXPECT_EQ(err.str(), "DTMF_ENABLE_DETECTOR done: timeslot=5 id=1\n"
                             "DTMF_ENABLE_DETECTOR done: timeslot=6 id=2\n");
    }
    auto enables = Requests(Sim::Dtmf::kEnable);
    ASSERT_EQ(enables.size(), 2u);
    EXPECT_EQ(enables[0].in, (std::vector<std::uint32_t>{5, 1}));
    EXPECT_EQ(enables[1].in, (std::vector<std::uint32_t>{6, 2}));
    EXPECT_TRUE(dtmf().Get(6).detector);

    Capture log(std::clog);
    ASSERT_EQ(dtmf().Event(6, 11, 1000, 2), 1);
    ASSERT_EQ(dtmf().Event(6, 12, 2000, 1), 1); // the first receiver's id
    Mux::test::run_once(0);
    ASSERT_EQ(b.events.size(), 1u);
    EXPECT_EQ(b.events[0].code, 11u);
    EXPECT_EQ(b.events[0].timestamp, 1000u);
    EXPECT_TRUE(a.events.empty());
    EXPECT_EQ(log.str(), "dtmf event:  timestamp=1000 timeslot=6 code=11 id=2\n"
                         "dtmf event:  timestamp=2000 timeslot=6 code=12 id=1\n"
                         "ignore spurious dtmf event:  timestamp=2000 timeslot=6 code=12 id=1 rid=2\n");

    // Disabling twice sends one request; a disabled detector's events go.
    Capture err(std::cerr);
    EXPECT_TRUE(b.disableDTMF());
    EXPECT_TRUE(b.disableDTMF());
    EXPECT_EQ(Requests(Sim::Dtmf::kDisable).size(), 1u);
    EXPECT_EQ(err.str(), "DTMF_DISABLE_DETECTOR done: timeslot=6\n");
    log.clear();
    dtmf().Event(6, 13, 3000, 2);
    dtmf().Event(99, 14, 4000, 2);
    Mux::test::run_once(0);
    EXPECT_EQ(b.events.size(), 1u);
    EXPECT_EQ(log.str(),
              "dtmf event:  timestamp=3000 timeslot=6 code=13 id=2\n"
              "ignore spurious dtmf event (DTMF disabled):  timestamp=3000 timeslot=6 code=13 id=2\n"
              "dtmf event:  timestamp=4000 timeslot=99 code=14 id=2\n");
    EXPECT_EQ(err.str(), "DTMF_DISABLE_DETECTOR done: timeslot=6\n"
                         "receive tonec event from unknown timeslot 99\n");
}

TEST_F(TonecTest, IdsSkipZeroAndAdvanceOnFailure)
{
    Receiver a(7), b(8);
    service_->set_last_id(0xFFFFFFFEu);
    Capture err(std::cerr);
    dtmf().FailTimeslot(7, 1, EIO);
    EXPECT_FALSE(a.enableDTMF(true));
    EXPECT_FALSE(a.dtmf_detector_enabled());
    EXPECT_TRUE(a.enableDTMF(true));
    EXPECT_TRUE(b.enableDTMF(true));
    EXPECT_EQ(a.detector_id(), 1u);
    EXPECT_EQ(b.detector_id(), 2u);
    EXPECT_EQ(err.str(), "DTMF_ENABLE_DETECTOR fail: timeslot=7 id=4294967295 errno=\"Input/output error\"\n"
                         "DTMF_ENABLE_DETECTOR done: timeslot=7 id=1\n"
                         "DTMF_ENABLE_DETECTOR done: timeslot=8 id=2\n");
}

TEST_F(TonecTest, SharedTimeslotGoesToTheFirstReceiver)
{
    Receiver first(9);
    auto second = std::make_unique<Receiver>(9);
    Capture quiet(std::cerr), log(std::clog);
    ASSERT_TRUE(first.enableDTMF(true));
    ASSERT_TRUE(second->enableDTMF(true));
    dtmf().Event(9, 1, 10, first.detector_id());
    dtmf().Event(9, 2, 20, second->detector_id());
    Mux::test::run_once(0);
    EXPECT_EQ(first.events.size(), 1u);
    EXPECT_TRUE(second->events.empty());

    // Gone from the list with its destruction.
    Receiver third(10);
    second.reset();
    ASSERT_TRUE(third.enableDTMF(true));
    dtmf().Event(10, 3, 30, third.detector_id());
    Mux::test::run_once(0);
    EXPECT_EQ(third.events.size(), 1u);
}

TEST_F(TonecTest, IvaAndDtmfKeepTheirOwnFlags)
{
    Receiver r(12);
    Capture err(std::cerr), log(std::clog);
    ASSERT_TRUE(r.enableIVA(true));
    EXPECT_EQ(log.str(), "IVA_DETECTOR_ENABLE[12] ok\n");
    // IVA on must not make the DTMF enable a no-op.
    ASSERT_TRUE(r.enableDTMF(true));
    ASSERT_EQ(Requests(Sim::Dtmf::kEnable).size(), 1u);
    EXPECT_TRUE(dtmf().Get(12).detector);
    // IVA off must not silence DTMF.
    ASSERT_TRUE(r.enableIVA(false));
    EXPECT_TRUE(r.dtmf_detector_enabled());
    dtmf().Event(12, 5, 50, r.detector_id());
    Mux::test::run_once(0);
    EXPECT_EQ(r.events.size(), 1u);

    // The IVA detector alone still delivers the events of the current id.
    ASSERT_TRUE(r.disableDTMF());
    ASSERT_TRUE(r.enableIVA(true));
    dtmf().Event(12, 6, 60, r.detector_id());
    Mux::test::run_once(0);
    EXPECT_EQ(r.events.size(), 2u);
    r.enableIVA(false);
}

TEST_F(TonecTest, ThreeDigitsPlayOnTheDefaultCadence)
{
    Receiver r(20);
    const std::uint64_t t0 = Mux::milliseconds();
    r.translateDTMF(Digits(3));
    EXPECT_TRUE(r.digits_in_progress());
    Mux::test::advance(1000);
    using V = std::vector<unsigned>;
    EXPECT_EQ(Cadence(t0), (std::vector<V>{
                               V{0, 697, 1209, 16384, 16384},
                               V{70, 1000, 1000, 0, 0},
                               V{140, 770, 1336, 16384, 16384},
                               V{210, 1000, 1000, 0, 0},
                               V{280, 852, 1477, 16384, 16384},
                               V{350, 1000, 1000, 0, 0},
                               V{420, 0, 0, 0, 0},
                           }));
    EXPECT_EQ(r.completes, 1);
    EXPECT_FALSE(r.digits_in_progress());
    for (const Dial& d : dtmf().Dials())
        EXPECT_EQ(d.timeslot, 20u);
}

TEST_F(TonecTest, DigitOptionsAndAnEmptyList)
{
    Receiver r(21);
    const std::uint64_t t0 = Mux::milliseconds();
    auto p = Digits(1);
    p.set_amp1(1000);
    p.set_amp2(2000);
    p.set_toneDuration(100);
    p.set_pauseDuration(40);
    r.translateDTMF(p);
    Mux::test::advance(500);
    using V = std::vector<unsigned>;
    EXPECT_EQ(Cadence(t0),
              (std::vector<V>{V{0, 697, 1209, 1000, 2000}, V{100, 1000, 1000, 0, 0}, V{140, 0, 0, 0, 0}}));
    EXPECT_EQ(r.completes, 1);

    dtmf().ClearDials();
    r.translateDTMF(Digits(0));
    EXPECT_EQ(r.completes, 2);
    ASSERT_EQ(dtmf().Dials().size(), 1u);
    EXPECT_TRUE(dtmf().Dials()[0].off());
}

TEST_F(TonecTest, RingBackAndDigitsShareOneCadence)
{
    Receiver r(22);
    std::uint64_t t0 = Mux::milliseconds();
    using V = std::vector<unsigned>;

    // Ring-back: on 1 s, off 3 s, on again; cancel stops it for good.
    r.activateAudibleCall();
    Mux::test::advance(4500);
    EXPECT_EQ(Cadence(t0), (std::vector<V>{V{0, 425, 0, 2048, 2048}, V{1000, 1000, 1000, 0, 0},
                                           V{4000, 425, 0, 2048, 2048}}));
    dtmf().ClearDials();
    r.cancelAudibleCall();
    EXPECT_FALSE(r.ring_back_running());
    Mux::test::advance(20000);
    ASSERT_EQ(dtmf().Dials().size(), 1u);
    EXPECT_TRUE(dtmf().Dials()[0].off());

    // A ring-back started during a digit string ends the string; the next
    // digit request plays at once instead of waiting behind it.
    dtmf().ClearDials();
    r.translateDTMF(Digits(3));
    Mux::test::advance(30);
    r.activateAudibleCall();
    EXPECT_FALSE(r.digits_in_progress());
    Mux::test::advance(30);
    t0 = Mux::milliseconds();
    dtmf().ClearDials();
    r.translateDTMF(Digits(1));
    Mux::test::advance(1000);
    EXPECT_EQ(Cadence(t0),
              (std::vector<V>{V{0, 697, 1209, 16384, 16384}, V{70, 1000, 1000, 0, 0}, V{140, 0, 0, 0, 0}}));
    EXPECT_EQ(r.completes, 1);
    EXPECT_EQ(multiplexer.timer_count(), 0u);
}

TEST_F(TonecTest, CancelDuringADigitStringLeavesItRunning)
{
    Receiver r(23);
    r.translateDTMF(Digits(2));
    Mux::test::advance(10);
    r.cancelAudibleCall();
    EXPECT_TRUE(r.digits_in_progress());
    Mux::test::advance(1000);
    EXPECT_EQ(r.completes, 1);
    EXPECT_EQ(dtmf().Dials().size(), 5u);

    // Without force, only a running string is stopped.
    dtmf().ClearDials();
    EXPECT_FALSE(r.disableToneGenerator(false));
    EXPECT_TRUE(dtmf().Dials().empty());
    r.translateDTMF(Digits(2));
    EXPECT_TRUE(r.disableToneGenerator(false));
    EXPECT_FALSE(r.digits_in_progress());
    Mux::test::advance(1000);
    EXPECT_EQ(r.completes, 1);
    EXPECT_EQ(dtmf().Dials().size(), 2u); // the first tone, then off
    EXPECT_EQ(multiplexer.timer_count(), 0u);
}

TEST_F(TonecTest, SelcalNeedsFourSigns)
{
    Receiver r(24);
    TERM::SelcalCommand c;
    c.set_signs("ABC");
    {
        Capture err(std::cerr);
        EXPECT_FALSE(r.translateSelcal(c));
        EXPECT_EQ(err.str(), "SELCAL_DIAL fail: timeslot=24 incorect signs:ABC\n");
    }
    EXPECT_TRUE(Requests(Sim::Dtmf::kSelcal).empty());

    c.set_signs("ABCDEF");
    EXPECT_TRUE(r.translateSelcal(c));
    EXPECT_EQ(dtmf().Get(24).selcal_signs, "ABCD");
    EXPECT_EQ(dtmf().Get(24).selcal_amp, 12000);
    c.set_amp(3000);
    EXPECT_TRUE(r.translateSelcal(c));
    EXPECT_EQ(dtmf().Get(24).selcal_amp, 3000);
    EXPECT_EQ(dtmf().Get(24).selcal_pad[0] | dtmf().Get(24).selcal_pad[1], 0);
}

TEST_F(TonecTest, ConfigurationRecordsAndLines)
{
    Receiver r(25);
    LGCP::DTMFParams p;
    p.get_threshold().set_twist(8);
    p.get_threshold().set_ratio(9);
    p.get_threshold().set_noise(10);
    p.get_level().set_silence(11);
    LGCP::IVAParams iva;
    iva.set_det_lvl_dB(-30);
    Capture log(std::clog);
    EXPECT_TRUE(r.configureDTMF(p));
    EXPECT_TRUE(r.configureIVA(iva));
    EXPECT_TRUE(r.echoCancel(true));
    EXPECT_TRUE(r.enableDTMFReject(true));
    EXPECT_EQ(Requests(Sim::Dtmf::kConfigure)[0].in, (std::vector<std::uint32_t>{25, 8, 9, 11, 10}));
    auto s = dtmf().Get(25);
    EXPECT_EQ(s.iva_level, -30);
    EXPECT_TRUE(s.lms);
    EXPECT_TRUE(s.rejection);
    EXPECT_EQ(log.str(), "DTMF_CONFIGURE_DETECTOR ts=25 twist=8 ratio=9 noise=10 silence=11\n"
                         "IVA_CONFIGURE_DETECTOR ts=25 det_lvl_dB=-30\n"
                         "CHANNEL_LMS_ON[25] ok\n"
                         "DTMF_REJECTION_ENABLE[25] ok\n");

    Capture err(std::cerr);
    dtmf().FailTimeslot(25, 3, EINVAL);
    EXPECT_FALSE(r.echoCancel(false));
    EXPECT_FALSE(r.enableToneGenerator(1, 2, 3, 4));
    EXPECT_FALSE(r.configureDTMF(p));
    EXPECT_EQ(err.str(), "CHANNEL_LMS_OFF fail: timeslot=25 errno=\"Invalid argument\"\n"
                         "DTMF_DIAL fail: timeslot=25 errno=\"Invalid argument\"\n"
                         "DTMF_CONFIGURE_DETECTOR fail: timeslot=25 errno=\"Invalid argument\"\n");
    r.CleanBeforeDestroy();
}

TEST_F(TonecTest, AbsentDriverAndCleanUp)
{
    TonecReceiverService::UseInstance(nullptr);
    service_.reset();
    board().SetPresent("/dev/dtmf", false);
    Capture err(std::cerr);
    TonecReceiverService absent;
    TonecReceiverService::UseInstance(&absent);
    Receiver r(26);
    EXPECT_FALSE(r.configureDTMF(LGCP::DTMFParams()));
    EXPECT_FALSE(r.enableDTMF(true));
    EXPECT_EQ(err.str(), "open tonec fail, DTMF proceeding disabled: No such file or directory\n"
                         "open tonec fail, DTMF proceeding disabled: No such file or directory\n"
                         "configure DTMF fail: (interface not opened) timeslot=26\n"
                         "DTMF_ENABLE_DETECTOR fail: timeslot=26 id=1 errno=\"Bad file descriptor\"\n");

    // Back: the next configuration opens the driver again.
    board().SetPresent("/dev/dtmf", true);
    EXPECT_TRUE(r.configureIVA(LGCP::IVAParams()));
    EXPECT_TRUE(absent.is_open());
    ASSERT_TRUE(r.enableDTMF(true));
    ASSERT_TRUE(r.enableIVA(true));
    ASSERT_TRUE(r.enableDTMFReject(true));
    board().ClearLog();
    r.CleanBeforeDestroy();
    std::vector<std::uint32_t> order;
    for (auto& q : board().Log())
        order.push_back(q.request);
    EXPECT_EQ(order, (std::vector<std::uint32_t>{Sim::Dtmf::kDisable, Sim::Dtmf::kIvaOff,
                                                 Sim::Dtmf::kRejectionOff}));
    TonecReceiverService::UseInstance(nullptr);
}

} // namespace
