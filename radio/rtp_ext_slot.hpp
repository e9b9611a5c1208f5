#pragma once

// Radio RTP slots: an RTP voice session whose header extensions carry the
// radio signalling of a VEZE or ED-137 radio. The slot owns the radio
// controller of its session, passes the host's `rtpExt` ioctls to it and
// its reports and abort codes back to the host. The two factories stand
// ahead of the plain RTP factory and take only a create whose RTP
// parameters carry a radio part of their kind.

#include "asn1/modules/TERM.hpp"
#include "radio/ed137_control.hpp"
#include "radio/radio_control.hpp"
#include "slots/rtp_slot.hpp"

#include <memory>

class RtpExtSlot : public RtpSlot, public RTPSignalling::IRadioControlNotify {
public:
    RtpExtSlot(int timeslot, Fd rtp, rtp_connection_params const& params);
    ~RtpExtSlot() override;

    void IAfterCreate() override;
    bool IBeforeDestroy() override;
    bool Ioctl(LGCP::IoctlParams const& params) override;
    const char* GetName() const override { return "rtp ext"; }
    // The radio part is the slot's purpose: without its session the host's
    // radio commands would reach nothing.
    bool ISetUp() const override { return control && control->set_up(); }

    void RadioControlNotify(TERM::RtpRadioRequest const& request) override;
    void RadioControlNotify(int code) override;

    // The create's DSP extras, in the order the DSP wants them: delays,
    // BSS, noise gate, selective-call Sh.
    void ApplyRadioExtras(TERM::RtpRadioRequest const& radio);

    // Receive direction switched by the controller's SQU (ED-137
    // transmission-depend-on-squ) rather than by a connection.
    void SetReceiveExternal(bool external) { rxExternal = external; }

    RTPSignalling::RadioControl* controller() const noexcept { return control.get(); }
    bool receiveExternal() const noexcept { return rxExternal; }
    bool receiveOn() const noexcept { return rxOn; }

    // The radio status the host gave at creation; announced after create.
    TERM::RadioStatus status;

protected:
    // Makes the slot the controller's sink, quiet and in the gateway role
    // unless `workstation`. The constructors make no controller for an RTP
    // session the slot could not watch: the create is refused all the same,
    // and the controller would only attach to nothing.
    void Adopt(std::unique_ptr<RTPSignalling::RadioControl> controller, bool workstation);
    // `attach` naming the slot's own RTP descriptor: the creator's copy may
    // be closed while the slot lives.
    rtp_ext_attach_session_params OwnAttach(rtp_ext_attach_session_params attach) const;
    // The receive direction follows the controller's SQU while `rxExternal`.
    void FollowSquelch();

    std::unique_ptr<RTPSignalling::RadioControl> control;
};

class RtpVEZESlot : public RtpExtSlot {
public:
    using RtpExtSlot::RtpExtSlot;
    const char* GetName() const override { return "rtp ext VEZE"; }
};

class RtpVEZERadioGWSlot : public RtpVEZESlot {
public:
    RtpVEZERadioGWSlot(int timeslot, Fd rtp, rtp_connection_params const& params,
                       rtp_ext_attach_session_params const& attach, rtp_ext_init_params const& init,
                       bool timer);
    RtpVEZERadioGWSlot(int timeslot, Fd rtp, rtp_connection_params const& params,
                       rtp_ext_init_params const& init);
    RtpVEZERadioGWSlot(int timeslot, Fd rtp, rtp_connection_params const& params,
                       rtp_attach_session_params const& attach);
    const char* GetName() const override { return "rtp ext VEZE (GW)"; }
};

class RtpVEZERadioWSSlot : public RtpVEZESlot {
public:
    RtpVEZERadioWSSlot(int timeslot, Fd rtp, rtp_connection_params const& params,
                       rtp_ext_attach_session_params const& attach, rtp_ext_init_params const& init);
    RtpVEZERadioWSSlot(int timeslot, Fd rtp, rtp_connection_params const& params,
                       rtp_ext_init_params const& init);
    RtpVEZERadioWSSlot(int timeslot, Fd rtp, rtp_connection_params const& params,
                       rtp_attach_session_params const& attach);
    const char* GetName() const override { return "rtp ext VEZE (WS)"; }
};

class RtpED137Slot : public RtpExtSlot {
public:
    using RtpExtSlot::RtpExtSlot;
    const char* GetName() const override { return "rtp ext ed137"; }
};

class RtpED137RadioGWSlot : public RtpED137Slot {
public:
    RtpED137RadioGWSlot(int timeslot, Fd rtp, rtp_connection_params const& params,
                        rtp_ext_attach_session_params const& attach, rtp_ext_init_params const& init,
                        RTPSignalling::ED137RadioParams const& radio);
    RtpED137RadioGWSlot(int timeslot, Fd rtp, rtp_connection_params const& params,
                        rtp_ext_init_params const& init);
    RtpED137RadioGWSlot(int timeslot, Fd rtp, rtp_connection_params const& params,
                        rtp_attach_session_params const& attach);
    // The controller may not report into a slot that is going away.
    ~RtpED137RadioGWSlot() override;
    const char* GetName() const override { return "rtp ext ED137 (GW)"; }
};

class RtpVEZEFactory : public RtpFactoryBase {
public:
    static RtpVEZEFactory* instance();

    RtpVEZEFactory() : RtpFactoryBase("rtp ext VEZE") {}

    const char* GetName() const override { return "RTP Ext VEZE"; }
    Slot* INewSlot(LGCP::CreateParams const& params) override;
};

class RtpED137Factory : public RtpFactoryBase {
public:
    static RtpED137Factory* instance();

    RtpED137Factory() : RtpFactoryBase("rtp ext ED137") {}

    const char* GetName() const override { return "RTP Ext ED137"; }
    Slot* INewSlot(LGCP::CreateParams const& params) override;

    // The 20-byte initialisation record for a session with packet factor
    // `pfactor` (0: 2).
    static rtp_ext_init_params InitRecord(RTPSignalling::ED137RadioParams const& radio, unsigned pfactor);
};
