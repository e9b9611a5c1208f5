#pragma once

// Radio RTP slots through Slots in process, on the RTP slot's fixture with
// the two radio factories ahead of the plain RTP factory.

#include "radio/rtp_ext_slot.hpp"
#include "sim/rtp_ext.hpp"
#include "veze_messages.hpp"

#include "rtp_fixture.hpp"

#include <gtest/gtest.h>

#include <functional>

namespace RadioSlotTest {

using namespace RtpTest;

inline LGCP::CreateParams RadioCreate(std::uint16_t dport, TERM::RadioStatus const& status,
                                      std::function<void(TERM::RtpRadioRequest&)> const& more = {})
{
    LGCP::CreateParams c = RtpCreate(dport, FreeRtpPort());
    TERM::RtpRadioRequest radio;
    radio.set_status(status);
    if (more)
        more(radio);
    c.get_rtp().get_codecRTP().set_radio(radio);
    return c;
}

// A VEZE create that joins the extension session {7, 1234} of another
// process (rtp-e2m mode only-rtp).
inline LGCP::CreateParams OnlyRtpCreate(std::uint16_t dport)
{
    TERM::RtpE2M e2m;
    e2m.set_slot(0);
    e2m.set_channel(0);
    TERM::RtpExtMode mode;
    mode.select_only_rtp().set_fd(7);
    mode.get_only_rtp().set_pid(1234);
    e2m.set_mode(mode);
    LGCP::CreateParams c = RadioCreate(dport, RadioTest::VezeStatus());
    c.get_rtp().get_codecRTP().set_rtp_e2m(e2m);
    return c;
}

class RtpExtSlotTest : public RtpTest::Fixture {
protected:
    Sim::RtpExt& ext() { return board().device<Sim::RtpExt>(); }
    RtpExtSlot* ext_slot(unsigned n) { return dynamic_cast<RtpExtSlot*>(slot(n)); }
    // The one live extension session.
    Sim::RtpExt::Session Only()
    {
        auto sessions = ext().Sessions();
        EXPECT_EQ(sessions.size(), 1u);
        return sessions.empty() ? Sim::RtpExt::Session{} : sessions.begin()->second;
    }

    // Ahead of the plain RTP factory, as at start-up.
    RtpVEZEFactory veze_;
    RtpED137Factory ed137_;
};

} // namespace RadioSlotTest
