// The controller base over the simulated radio-extension driver: the three
// construction forms and their failures, stop and restart, the status
// timer, the access filter, the local address, the prefix, and the end of
// a session from the driver's side.

#include "radio/radio_fixture.hpp"

#include "core/multiplexer.hpp"

#include <cctype>
#include <cstring>

namespace {

using RadioTest::Fixture;
using RTPSignalling::RadioControl;

class RadioControlTest : public Fixture {};

std::vector<std::string> DriverLog(Sim::Board& board)
{
    std::vector<std::string> lines;
    for (auto const& r : board.Log())
        if (r.device == "/dev/rtp_ext")
            lines.push_back(Sim::Format(r));
    return lines;
}

TEST_F(RadioControlTest, OwnSessionIsOpenedInitialisedAndAttached)
{
    board().ClearLog();
    RadioControl c(7, Attach(), RadioTest::ED137Init(5, 3));
    auto log = DriverLog(board());
    ASSERT_EQ(log.size(), 3u);
    EXPECT_EQ(log[0].rfind("/dev/rtp_ext open = ", 0), 0u) << log[0];
    // The record's first word holds the profile and the zero half-word in
    // the program's byte order.
    std::uint32_t w0 = 0;
    rtp_ext_init_params const init = RadioTest::ED137Init(5, 3);
    std::memcpy(&w0, &init, 4);
    std::string const init_words = std::to_string(w0) + " 1 123 5 3";
    EXPECT_EQ(log[1], "/dev/rtp_ext 0xc0144500 " + init_words + " -> " + init_words + " = 0");
    std::string const attach_words = std::to_string(rtp_) + " 4294967295";
    EXPECT_EQ(log[2], "/dev/rtp_ext 0xc0084501 " + attach_words + " -> " + attach_words + " = 0");

    auto sessions = board().device<Sim::RtpExt>().Sessions();
    ASSERT_EQ(sessions.size(), 1u);
    auto const& s = sessions.begin()->second;
    EXPECT_EQ(s.etype, 0x0167);
    EXPECT_TRUE(s.attached);
    EXPECT_EQ(s.device, "/dev/mcc/ctl");
    EXPECT_EQ(s.pid, -1);

    // Never blocks the loop, never outlives an exec.
    EXPECT_NE(::fcntl(c.ext_fd(), F_GETFL) & O_NONBLOCK, 0);
    EXPECT_NE(::fcntl(c.ext_fd(), F_GETFD) & FD_CLOEXEC, 0);
    EXPECT_TRUE(c.reading());
    EXPECT_EQ(c.interval(), 1000u);
    EXPECT_FALSE(c.timer_pending());
}

TEST_F(RadioControlTest, EachFailingStepLeavesAControllerWithoutSession)
{
    struct Step {
        std::uint32_t request;
        char const* line;
    };
    for (Step const& step : {Step{Sim::kOpen, "create rtp_ext session fail !!!"},
                             Step{RTP_EXT_INIT, "init rtp_ext session fail !!!"},
                             Step{RTP_EXT_ATTACH, "attach rtp_ext session fail !!!"}}) {
        clear_errors();
        board().Fail("/dev/rtp_ext", step.request, 1, EIO);
        RadioControl c(7, Attach(), RadioTest::ED137Init());
        EXPECT_NE(errors().find(step.line), std::string::npos) << errors();
        EXPECT_EQ(c.ext_fd(), -1);
        EXPECT_FALSE(c.reading());
        EXPECT_EQ(board().OpenCount("/dev/rtp_ext"), 0u) << step.line;
        // Nothing reaches the driver from now on.
        board().ClearLog();
        EXPECT_FALSE(c.SendASNToChan(TERM::RadioStatus{}));
        c.UpdateAccess(false, in_addr{});
        EXPECT_TRUE(DriverLog(board()).empty());
    }
}

TEST_F(RadioControlTest, DetachedFormInitialisesWithoutAttaching)
{
    board().ClearLog();
    RadioControl c(RadioTest::ED137Init());
    auto log = DriverLog(board());
    ASSERT_EQ(log.size(), 2u);
    EXPECT_NE(log[1].find("0xc0144500"), std::string::npos);
    EXPECT_EQ(c.channel(), 0);
    EXPECT_TRUE(c.reading());
    EXPECT_FALSE(board().device<Sim::RtpExt>().Sessions().begin()->second.attached);
    // Stopping a session it does not own does nothing.
    EXPECT_TRUE(c.RtpExtStop());
    EXPECT_EQ(board().Count("/dev/rtp_ext", RTP_EXT_DETACH), 0u);
}

TEST_F(RadioControlTest, RtpFormAttachesTheRtpDescriptorItWasGiven)
{
    board().ClearLog();
    RadioControl c(4, Fd(rtp_), rtp_attach_session_params{12, 345});
    auto log = board().Log();
    ASSERT_FALSE(log.empty());
    EXPECT_EQ(Sim::Format(log.back()).rfind("/dev/mcc/ctl 0xc0085209 12 345 = -1", 0), 0u)
        << Sim::Format(log.back());
    EXPECT_NE(errors().find("attach rtp session fail !!!"), std::string::npos);
    EXPECT_EQ(board().OpenCount("/dev/rtp_ext"), 0u);
    EXPECT_FALSE(c.reading());
}

TEST_F(RadioControlTest, StopDetachesAndClosesAndStartMakesAFreshSession)
{
    RadioControl c(7, Attach(), RadioTest::ED137Init());
    int const first = Session();
    EXPECT_TRUE(c.RtpExtStop());
    EXPECT_EQ(Count(RTP_EXT_DETACH), 1u);
    EXPECT_EQ(board().OpenCount("/dev/rtp_ext"), 0u);
    EXPECT_FALSE(c.reading());
    EXPECT_EQ(c.ext_fd(), -1);

    EXPECT_TRUE(c.RtpExtStart(false));
    EXPECT_EQ(Count(RTP_EXT_ATTACH), 2u);
    auto sessions = board().device<Sim::RtpExt>().Sessions();
    ASSERT_EQ(sessions.size(), 1u);
    EXPECT_TRUE(sessions.begin()->second.attached);
    EXPECT_TRUE(c.reading());
    (void)first;
}

// Counts the status ticks and answers each with a chosen delay.
class Ticking : public RadioControl {
public:
    using RadioControl::RadioControl;
    std::vector<std::uint32_t> ticks;
    unsigned long next = 0;

protected:
    unsigned long ProcessRadioStatus(unsigned long now, unsigned long interval) override
    {
        ticks.push_back(static_cast<std::uint32_t>(now));
        return next != 0 ? next : interval;
    }
};

TEST_F(RadioControlTest, TimerTicksAtTheIntervalAndReArmsWithTheReturnedDelay)
{
    Ticking c(RadioTest::ED137Init());
    std::uint32_t const t0 = Mux::milliseconds();
    c.SetTimerEnable(true);
    c.SetTimerInterval(300); // not before the next arming
    Mux::test::advance(999);
    EXPECT_TRUE(c.ticks.empty());
    Mux::test::advance(1);
    ASSERT_EQ(c.ticks.size(), 1u);
    EXPECT_EQ(c.ticks[0] - t0, 1000u);
    Mux::test::advance(300);
    ASSERT_EQ(c.ticks.size(), 2u);
    EXPECT_EQ(c.ticks[1] - t0, 1300u);
    c.next = 50;
    Mux::test::advance(300);
    Mux::test::advance(100);
    ASSERT_EQ(c.ticks.size(), 5u);
    EXPECT_EQ(c.ticks[4] - t0, 1700u);

    c.SetTimerEnable(false);
    EXPECT_FALSE(c.timer_pending());
    Mux::test::advance(5000);
    EXPECT_EQ(c.ticks.size(), 5u);
}

TEST_F(RadioControlTest, FilterIsSetOnceAndRemovedOnlyWhenActive)
{
    RadioControl c(7, Attach(), RadioTest::ED137Init());
    in_addr a{};
    a.s_addr = RadioTest::Addr("10.2.3.4");
    c.UpdateAccess(false, a);
    EXPECT_EQ(Count(RTP_EXT_RESET_FILTER), 0u);
    c.UpdateAccess(true, a);
    c.UpdateAccess(true, a);
    EXPECT_EQ(Count(RTP_EXT_SET_FILTER), 1u);
    auto s = board().device<Sim::RtpExt>().Sessions().begin()->second;
    EXPECT_TRUE(s.filter);
    EXPECT_EQ(s.filter_addr, a.s_addr);
    c.UpdateAccess(false, a);
    c.UpdateAccess(false, a);
    EXPECT_EQ(Count(RTP_EXT_RESET_FILTER), 1u);
    EXPECT_FALSE(board().device<Sim::RtpExt>().Sessions().begin()->second.filter);

    board().Fail("/dev/rtp_ext", RTP_EXT_SET_FILTER, 1, EIO);
    c.UpdateAccess(true, a);
    EXPECT_NE(errors().find("set filer rtp_ext session fail !!!"), std::string::npos);
}

TEST_F(RadioControlTest, LocalAddressIsTheFirstPrivateOneOrLoopback)
{
    {
        RadioControl c(RadioTest::ED137Init());
        EXPECT_EQ(c.local_address().GetDotted(), "127.0.0.1");
    }
    private_addresses = {"192.168.7.9", "10.0.0.2"};
    RadioControl c(RadioTest::ED137Init());
    EXPECT_EQ(c.local_address().GetDotted(), "192.168.7.9");
}

// "2026-12-07 13:15:52.123456" as Mux::timevaltostring writes it.
bool IsTimeText(std::string const& t)
{
    std::string const shape = "dddd-dd-dd dd:dd:dd.dddddd";
    if (t.size() != shape.size())
        return false;
    for (std::size_t i = 0; i < t.size(); ++i)
        if (shape[i] == 'd' ? !std::isdigit(static_cast<unsigned char>(t[i])) : t[i] != shape[i])
            return false;
    return true;
}

TEST_F(RadioControlTest, PrefixNamesTheChannelAndTheTime)
{
    RadioControl seven(7, Attach(), RadioTest::ED137Init());
    std::string const p7 = seven.GetPrefix();
    ASSERT_EQ(p7.rfind("rtp_ext[7] ", 0), 0u) << p7;
    ASSERT_EQ(p7.back(), ':');
    EXPECT_TRUE(IsTimeText(p7.substr(11, p7.size() - 12))) << p7;
    RadioControl detached(RadioTest::ED137Init());
    std::string const p = detached.GetPrefix();
    ASSERT_EQ(p.rfind("rtp_ext ", 0), 0u) << p;
    ASSERT_EQ(p.back(), ':');
    EXPECT_TRUE(IsTimeText(p.substr(8, p.size() - 9))) << p;
}

// The sink never sees a request it could not send: one that is not valid is
// logged, with where it is wrong, and dropped.
TEST_F(RadioControlTest, InvalidRequestIsLoggedNotHandedOn)
{
    struct Probe : RadioControl {
        using RadioControl::Notify;
        using RadioControl::RadioControl;
    };
    Probe c(7, Attach(), RadioTest::ED137Init());
    RadioTest::Sink sink;
    c.SetNotify(&sink);
    TERM::RtpRadioRequest request;
    request.get_status().select_ed_137().get_header().set_ptt_id(64);
    c.Notify(request);
    EXPECT_TRUE(sink.requests.empty());
    EXPECT_NE(errors().find("invalid request not sent ("), std::string::npos) << errors();
    EXPECT_NE(errors().find("ptt-id"), std::string::npos) << errors();

    request.get_status().get_ed_137().get_header().set_ptt_id(63);
    c.Notify(request);
    EXPECT_EQ(sink.requests.size(), 1u);
    clear_errors(); // the line this test provoked on purpose
}

} // namespace
