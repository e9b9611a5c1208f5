#include "radio/rtp_ext_slot.hpp"

#include "asn1/modules/LGCP.hpp"
#include "core/ext.hpp"
#include "hardware/driver_port.hpp"
#include "radio/veze_control.hpp"

#include <iostream>

#include <unistd.h>

using RTPSignalling::ED137RadioGWControl;
using RTPSignalling::ED137RadioParams;
using RTPSignalling::VezeRadioGWControl;
using RTPSignalling::VezeRadioWSControl;

RtpExtSlot::RtpExtSlot(int timeslot, Fd rtp, rtp_connection_params const& params)
    : RtpSlot(timeslot, rtp, params)
{}

RtpExtSlot::~RtpExtSlot() = default;

void RtpExtSlot::Adopt(std::unique_ptr<RTPSignalling::RadioControl> controller, bool workstation)
{
    control = std::move(controller);
    control->SetNotify(this);
    control->SetVerbose(false);
    control->SetWorkstation(workstation);
}

rtp_ext_attach_session_params RtpExtSlot::OwnAttach(rtp_ext_attach_session_params attach) const
{
    attach.fd_rtp = rtp.get();
    return attach;
}

void RtpExtSlot::IAfterCreate()
{
    RtpSlot::IAfterCreate();
    if (control)
        control->SendASNToChan(status);
}

bool RtpExtSlot::IBeforeDestroy()
{
    if (control)
        control->RtpExtStop();
    return RtpSlot::IBeforeDestroy();
}

bool RtpExtSlot::Ioctl(LGCP::IoctlParams const& p)
{
    // Without its time slot the slot refuses all, Sh included.
    if (!control || !IHoldsChannels())
        return RtpSlot::Ioctl(p);
    bool ok;
    if (p.is_rtpExt()) {
        TERM::RadioModifier const& modifier = p.get_rtpExt();
        // Sh goes first, but only for a request the controller takes: a
        // refused one changes nothing.
        if (modifier.is_veze() && modifier.get_veze().get_params().is_wm_flags() && control->Takes(modifier))
            enableSh(modifier.get_veze().get_params().get_wm_flags().get_flags().get_sh().getValue());
        ok = control->SendASNToChan(modifier);
    } else if (p.is_encoder_mode() || p.is_decoder_mode()) {
        control->RtpExtStop();
        // A duplicate the controller kept (form 1) would hold the old driver
        // session, and its switch channel, open through the restart.
        control->SetRtpSession(Fd());
        ok = RtpSlot::Ioctl(p);
        // From here on the controller names only the session the slot holds
        // now, never a descriptor that was closed meanwhile.
        control->SetRtpSession(rtp.fd());
        if (ok)
            ok = control->RtpExtStart(false);
    } else {
        ok = RtpSlot::Ioctl(p);
    }
    FollowSquelch();
    return ok;
}

void RtpExtSlot::FollowSquelch()
{
    if (!rxExternal || !control)
        return;
    const bool squ = control->GetSQU();
    if (squ && !rxOn) {
        Driver::Ioctl(rtp.get(), RTP_RX_ON);
        rxOn = true;
    } else if (!squ && rxOn) {
        Driver::Ioctl(rtp.get(), RTP_RX_OFF);
        rxOn = false;
    }
}

void RtpExtSlot::RadioControlNotify(TERM::RtpRadioRequest const& request)
{
    OnRtpRadioEvent(request);
}

void RtpExtSlot::RadioControlNotify(int code)
{
    OnAbort(code);
}

void RtpExtSlot::ApplyRadioExtras(TERM::RtpRadioRequest const& r)
{
    if (r.has_rx_delay() || r.has_tx_delay() || r.has_selcal_delay()) {
        auto value = [](bool has, auto const& field) {
            return has ? static_cast<unsigned int>(field.getValue()) : 0u;
        };
        configureDelays(value(r.has_rx_delay(), r.get_rx_delay()), value(r.has_tx_delay(), r.get_tx_delay()),
                        value(r.has_selcal_delay(), r.get_selcal_delay()));
    }
    if (r.has_bss_enable())
        enableBSS(r.get_bss_enable().getValue());
    if (r.has_ng_enable())
        enableNG(r.get_ng_enable().getValue());
    if (r.has_selcal_sh_enable())
        enableSelcalSh(r.get_selcal_sh_enable().getValue());
}

RtpVEZERadioGWSlot::RtpVEZERadioGWSlot(int timeslot, Fd rtp, rtp_connection_params const& params,
                                       rtp_ext_attach_session_params const& attach,
                                       rtp_ext_init_params const& init, bool timer)
    : RtpVEZESlot(timeslot, rtp, params)
{
    if (!watched())
        return;
    Adopt(std::make_unique<VezeRadioGWControl>(timeslot, OwnAttach(attach), init), false);
    control->SetTimerEnable(timer);
}

RtpVEZERadioGWSlot::RtpVEZERadioGWSlot(int timeslot, Fd rtp, rtp_connection_params const& params,
                                       rtp_ext_init_params const& init)
    : RtpVEZESlot(timeslot, rtp, params)
{
    if (!watched())
        return;
    Adopt(std::make_unique<VezeRadioGWControl>(init), false);
    control->SetTimerEnable(false);
}

RtpVEZERadioGWSlot::RtpVEZERadioGWSlot(int timeslot, Fd rtp, rtp_connection_params const& params,
                                       rtp_attach_session_params const& attach)
    : RtpVEZESlot(timeslot, rtp, params)
{
    if (!watched())
        return;
    Adopt(std::make_unique<VezeRadioGWControl>(timeslot, rtp, attach), false);
    control->SetTimerEnable(false);
}

RtpVEZERadioWSSlot::RtpVEZERadioWSSlot(int timeslot, Fd rtp, rtp_connection_params const& params,
                                       rtp_ext_attach_session_params const& attach,
                                       rtp_ext_init_params const& init)
    : RtpVEZESlot(timeslot, rtp, params)
{
    if (!watched())
        return;
    Adopt(std::make_unique<VezeRadioWSControl>(timeslot, OwnAttach(attach), init), true);
    control->SetTimerEnable(false);
}

RtpVEZERadioWSSlot::RtpVEZERadioWSSlot(int timeslot, Fd rtp, rtp_connection_params const& params,
                                       rtp_ext_init_params const& init)
    : RtpVEZESlot(timeslot, rtp, params)
{
    if (!watched())
        return;
    Adopt(std::make_unique<VezeRadioWSControl>(init), true);
    control->SetTimerEnable(false);
}

RtpVEZERadioWSSlot::RtpVEZERadioWSSlot(int timeslot, Fd rtp, rtp_connection_params const& params,
                                       rtp_attach_session_params const& attach)
    : RtpVEZESlot(timeslot, rtp, params)
{
    if (!watched())
        return;
    Adopt(std::make_unique<VezeRadioWSControl>(timeslot, rtp, attach), true);
    control->SetTimerEnable(false);
}

RtpED137RadioGWSlot::RtpED137RadioGWSlot(int timeslot, Fd rtp, rtp_connection_params const& params,
                                         rtp_ext_attach_session_params const& attach,
                                         rtp_ext_init_params const& init, ED137RadioParams const& radio)
    : RtpED137Slot(timeslot, rtp, params)
{
    if (!watched())
        return;
    auto controller = std::make_unique<ED137RadioGWControl>(timeslot, OwnAttach(attach), init);
    controller->SetParams(radio);
    Adopt(std::move(controller), false);
    control->SetTimerInterval(radio.r2s_keepalive_period * radio.r2s_keepalive_multiplier / 2);
    control->SetTimerEnable(true);
    rxExternal = radio.transmission_depend_on_squ != 0;
}

RtpED137RadioGWSlot::RtpED137RadioGWSlot(int timeslot, Fd rtp, rtp_connection_params const& params,
                                         rtp_ext_init_params const& init)
    : RtpED137Slot(timeslot, rtp, params)
{
    if (!watched())
        return;
    Adopt(std::make_unique<ED137RadioGWControl>(init), false);
    control->SetTimerEnable(false);
}

RtpED137RadioGWSlot::RtpED137RadioGWSlot(int timeslot, Fd rtp, rtp_connection_params const& params,
                                         rtp_attach_session_params const& attach)
    : RtpED137Slot(timeslot, rtp, params)
{
    if (!watched())
        return;
    Adopt(std::make_unique<ED137RadioGWControl>(timeslot, rtp, attach), false);
    control->SetTimerEnable(false);
}

RtpED137RadioGWSlot::~RtpED137RadioGWSlot()
{
    if (control) {
        control->SetNotify(nullptr);
        control->SetTimerEnable(false);
    }
}

namespace {

// The radio part of a create, or null when the create is not an RTP one
// with a radio status of the kind `is_kind` selects.
TERM::RtpRadioRequest const* RadioPart(LGCP::CreateParams const& params,
                                       bool (TERM::RadioStatus::*is_kind)() const)
{
    if (!params.is_rtp() || !params.get_rtp().get_codecRTP().has_radio())
        return nullptr;
    TERM::RtpRadioRequest const& radio = params.get_rtp().get_codecRTP().get_radio();
    return (radio.get_status().*is_kind)() ? &radio : nullptr;
}

std::uint32_t BssWord(TERM::RtpRadioRequest const& radio)
{
    return radio.has_bss_enable() && radio.get_bss_enable().getValue() ? 1 : 0;
}

} // namespace

RtpVEZEFactory* RtpVEZEFactory::instance()
{
    static RtpVEZEFactory factory;
    return &factory;
}

Slot* RtpVEZEFactory::INewSlot(LGCP::CreateParams const& params)
{
    TERM::RtpRadioRequest const* radio = RadioPart(params, &TERM::RadioStatus::is_veze);
    if (radio == nullptr)
        return nullptr;
    // Values the PER decoder lets through but no VEZE packet can carry:
    // refused before anything is opened.
    if (char const* field = RTPSignalling::VezeUnfitField(radio->get_status().get_veze())) {
        std::clog << ext::header(this) << "rtp do not created: radio status " << field << " out of range"
                  << std::endl;
        return nullptr;
    }
    TERM::RtpParams const& codec = params.get_rtp().get_codecRTP();
    TERM::RtpExtMode const* mode = nullptr;
    if (codec.has_rtp_e2m() && codec.get_rtp_e2m().has_mode())
        mode = &codec.get_rtp_e2m().get_mode();
    if (mode != nullptr && !mode->is_both_rtp_and_rtp_ext() && !mode->is_only_rtp()) {
        std::clog << ext::header(this) << "rtp do not created: unknown rtp-e2m mode" << std::endl;
        return nullptr;
    }

    RtpSlot* made = CreateRtpSlot(
        params.get_rtp(), RtpCreateOptions{"rtp ext VEZE", false, BssWord(*radio)},
        [&](int channel, Fd rtp, rtp_connection_params const& record) -> RtpSlot* {
            RtpExtSlot* slot;
            if (mode != nullptr && mode->is_only_rtp()) {
                TERM::RtpExtDescription const& d = mode->get_only_rtp();
                rtp_attach_session_params attach{static_cast<std::int32_t>(d.get_fd().getValue()),
                                                 static_cast<std::int32_t>(d.get_pid().getValue())};
                slot = new RtpVEZERadioGWSlot(channel, rtp, record, attach);
            } else {
                rtp_ext_init_params init{0x1337, 0, {0, 0, 0, 0}};
                // The slot attaches its own duplicate: the factory's
                // descriptor is closed as soon as the create returns.
                slot = new RtpVEZERadioGWSlot(channel, rtp, record,
                                              rtp_ext_attach_session_params{-1, ::getpid()}, init, true);
            }
            slot->status = radio->get_status();
            return slot;
        });
    if (made == nullptr)
        return nullptr;
    auto* slot = static_cast<RtpExtSlot*>(made);
    slot->ApplyRadioExtras(*radio);
    return slot;
}

RtpED137Factory* RtpED137Factory::instance()
{
    static RtpED137Factory factory;
    return &factory;
}

rtp_ext_init_params RtpED137Factory::InitRecord(ED137RadioParams const& radio, unsigned pfactor)
{
    const unsigned p = pfactor == 0 ? 2 : pfactor;
    const std::uint32_t base = radio.r2s_keepalive_period / (p * 10);
    rtp_ext_init_params init{0x0167, 0, {1, 123, base, 1}};
    if (radio.sigtime != 0) {
        init.words[2] = base * radio.sigtime;
        init.words[3] = radio.sigtime;
    }
    return init;
}

Slot* RtpED137Factory::INewSlot(LGCP::CreateParams const& params)
{
    TERM::RtpRadioRequest const* radio = RadioPart(params, &TERM::RadioStatus::is_ed_137);
    if (radio == nullptr)
        return nullptr;
    TERM::ED137RadioStatus const& ed137 = radio->get_status().get_ed_137();
    if (char const* field = RTPSignalling::ED137UnfitField(ed137)) {
        std::clog << ext::header(this) << "rtp do not created: radio status " << field << " out of range"
                  << std::endl;
        return nullptr;
    }
    ED137RadioParams settings;
    if (ed137.has_radio_response())
        settings.Init(ed137.get_radio_response());

    RtpSlot* made = CreateRtpSlot(params.get_rtp(), RtpCreateOptions{"rtp ext ED137", false, BssWord(*radio)},
                                  [&](int channel, Fd rtp, rtp_connection_params const& record) -> RtpSlot* {
                                      auto* slot = new RtpED137RadioGWSlot(
                                          channel, rtp, record, rtp_ext_attach_session_params{-1, -1},
                                          InitRecord(settings, record.packet_factor), settings);
                                      slot->status = radio->get_status();
                                      return slot;
                                  });
    if (made == nullptr)
        return nullptr;
    auto* slot = static_cast<RtpED137RadioGWSlot*>(made);
    slot->SetReceiveExternal(settings.transmission_depend_on_squ != 0);
    slot->ApplyRadioExtras(*radio);
    return slot;
}
