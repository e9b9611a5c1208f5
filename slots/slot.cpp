#include "slots/slot.hpp"

#include "slots/connection.hpp"
#include "slots/slot_factory.hpp"
#include "slots/slots.hpp"

#include <algorithm>
#include <cstdio>
#include <functional>
#include <iomanip>
#include <iostream>
#include <sstream>

Slot::~Slot()
{
    // Normally Slots has detached the slot already (with the hardware);
    // this only makes sure that nobody keeps a pointer to freed memory.
    LogicalDisconnect();
    for (Slot* l : listeners)
        if (l->source == this)
            l->source = nullptr;
    listeners.clear();
    if (factory != nullptr)
        factory->Remove(this);
}

void Slot::OnTrunkStatus(unsigned int, ACP::TrunkState::NamedNumber const&)
{}

bool Slot::IActivate(TERM::TermActivateParams const&)
{
    return false;
}

bool Slot::IUserData(std::vector<char> const&)
{
    return false;
}

bool Slot::Ioctl(LGCP::IoctlParams const&)
{
    return false;
}

bool Slot::IHwConnectTransmitter(Slot& listener)
{
    return MuxConnect(*this, listener);
}

bool Slot::IHwConnectReceiver(Slot& from)
{
    return MuxConnect(from, *this);
}

bool Slot::IHwDisconnectTransmitter(Slot& listener)
{
    return MuxDisconnect(listener);
}

bool Slot::IHwDisconnectReceiver(Slot&)
{
    return MuxDisconnect(*this);
}

void Slot::Put(std::ostream& os) const
{
    if (id == NoId) {
        os << "na";
    } else if (id >= Slots::TableSize) {
        os << 'i' << id;
    } else {
        char fill = os.fill('0');
        os << std::setw(2) << id;
        os.fill(fill);
    }
    os << ':' << GetName();
}

std::string Slot::Label() const
{
    std::ostringstream os;
    Put(os);
    return os.str();
}

std::ostream& operator<<(std::ostream& os, Slot const& slot)
{
    slot.Put(os);
    return os;
}

void Slot::SendSignal(LGCP::Signal const& signal)
{
    Slots::instance()->SendSignal(id, signal);
}

bool Slot::BeforeDestroy()
{
    if (!IBeforeDestroy())
        return false;
    if (factory == nullptr)
        std::cerr << "slot: internal error!!! BeforeDestroy() not connected to factory" << std::endl;
    else
        factory->Remove(this);
    return true;
}

void Slot::on_release()
{
    if (!destroying)
        return;
    if (factory != nullptr)
        factory->Remove(this);
    Slots::instance()->on_release(this);
}

void Slot::LogicalConnect(Slot& from)
{
    source = &from;
    auto& l = from.listeners;
    auto at = std::lower_bound(l.begin(), l.end(), this, std::less<Slot*>());
    if (at == l.end() || *at != this)
        l.insert(at, this);
}

void Slot::LogicalDisconnect()
{
    if (source == nullptr)
        return;
    auto& l = source->listeners;
    l.erase(std::remove(l.begin(), l.end(), this), l.end());
    source = nullptr;
}

void Slot::OnChangeInputStream(bool active)
{
    if (active == inputStream)
        return;
    LGCP::Signal signal;
    if (active) {
        signal.select_receiver().set_active(IGetReceiveChannel());
        inputStream = true;
    } else {
        signal.select_receiver().set_inactive();
        Disconnect(*this);
        inputStream = false;
    }
    SendSignal(signal);
}

void Slot::OnChangeOutputStream(bool active)
{
    if (active == outputStream)
        return;
    LGCP::Signal signal;
    if (active) {
        signal.select_transmitter().set_active(IGetTransmitChannel());
    } else {
        signal.select_transmitter().set_inactive();
        for (std::size_t n = listeners.size(); n > 0; --n) {
            if (listeners.empty()) {
                std::cerr << "mux: internal error: expected slots not exists." << std::endl;
                break;
            }
            Disconnect(*listeners.front());
        }
    }
    outputStream = active;
    SendSignal(signal);
}

void Slot::OnTonecEvent(LGCP::TonecEvent const& event)
{
    LGCP::Signal signal;
    signal.set_tonec(event);
    SendSignal(signal);
}

void Slot::OnNumber(std::string const& number)
{
    LGCP::Signal signal;
    signal.set_number(number);
    SendSignal(signal);
}

void Slot::OnModem(TERM::ModemProceeding const& value)
{
    LGCP::Signal signal;
    signal.set_modemProceeding(value);
    SendSignal(signal);
}

void Slot::OnModem(TERM::ModemInformation const& value)
{
    LGCP::Signal signal;
    signal.set_modemInformation(value);
    SendSignal(signal);
}

void Slot::OnActivated()
{
    LGCP::Signal signal;
    signal.set_activated();
    SendSignal(signal);
}

void Slot::OnDeactivated()
{
    LGCP::Signal signal;
    signal.set_deactivated(LGCP::DeactivateCause::networkError);
    SendSignal(signal);
}

void Slot::OnAbort(int code)
{
    LGCP::Signal signal;
    signal.set_abort(code);
    SendSignal(signal);
}

void Slot::OnUserData(std::vector<char> const& data)
{
    LGCP::Signal signal;
    signal.select_userData() = data;
    SendSignal(signal);
}

void Slot::OnIoctlResponse(LGCP::IoctlResponse const& response)
{
    LGCP::Signal signal;
    signal.set_ioctl(response);
    SendSignal(signal);
}

void Slot::OnRtpRadioEvent(TERM::RtpRadioRequest const& request)
{
    LGCP::Signal signal;
    signal.set_rtpExt(request);
    SendSignal(signal);
}

void Slot::OnVADEvent(LGCP::VADEvent const& event)
{
    LGCP::Signal signal;
    signal.set_vad(event);
    SendSignal(signal);
}

void Slot::OnProtoVezeEvent(DIZORU::ProtoVezePackets const& packets)
{
    LGCP::Signal signal;
    signal.set_protoVeze(packets);
    SendSignal(signal);
}

void Slot::OnSDEvent(LGCP::SDEvent const& event)
{
    LGCP::Signal signal;
    signal.set_sd(event);
    SendSignal(signal);
}

void Slot::OnRtpEvent(LGCP::RtpEvent const& event)
{
    LGCP::Signal signal;
    signal.set_rtp(event);
    SendSignal(signal);
}

void Slot::processTonecEvent(Hardware::TonecReceiver::Params const& params)
{
    // Codes 0..127 are digits (17 and 18 the fax tones); above, the high
    // bits carry an IVA code.
    constexpr std::uint32_t kCed = 17, kCng = 18, kLastDigit = 127;
    constexpr int kLastIvaCode = 20, kIvaRingOff = 21;
    LGCP::TonecEvent event;
    event.set_timestamp(static_cast<int>(params.timestamp));
    LGCP::TonecCode code;
    if (params.code == kCed) {
        code.set_ced();
    } else if (params.code == kCng) {
        code.set_cng();
    } else if (params.code <= kLastDigit) {
        code.set_dtmf(params.code);
    } else {
        int v = static_cast<std::int32_t>(params.code) >> 8;
        if (v >= 1 && v <= kLastIvaCode) {
            code.select_iva().set_code(static_cast<std::uint32_t>(v));
        } else if (v == kIvaRingOff) {
            code.select_iva().set_ringoff();
        } else {
            std::cerr << "bad DTMF code, ignored." << std::endl;
            return;
        }
    }
    event.set_event(code);
    OnTonecEvent(event);
}

void Slot::processToneGenEvent()
{
    LGCP::TonecEvent event;
    event.set_timestamp(0);
    LGCP::TonecCode code;
    code.set_dtmfDone();
    event.set_event(code);
    OnTonecEvent(event);
}

void Slot::processVADEvent(Hardware::DSProcVADEvent const& in)
{
    if (in.rx < 0 && in.tx < 0) {
        std::cerr << "bad VAD event, ignored." << std::endl;
        return;
    }
    LGCP::VADEvent event;
    if (in.rx >= 0)
        event.set_vad_rx(in.rx != 0);
    if (in.tx >= 0)
        event.set_vad_tx(in.tx != 0);
    OnVADEvent(event);
}

void Slot::processToneFltEvent(dsproc_tone_event const* in)
{
    if (in == nullptr)
        return;
    LGCP::TonecEvent event;
    event.set_timestamp(0);
    LGCP::TonecCode code;
    LGCP::TonePresence& presence = code.select_tone_presence();
    presence.set_freq(static_cast<int>(in->frequency));
    presence.set_presence(in->present != 0);
    event.set_event(code);
    OnTonecEvent(event);
}

void Slot::processFlagsEvent(dsproc_flags_event const* in)
{
    if (in == nullptr)
        return;
    constexpr std::uint32_t kVadRx = 1u << 29, kVadTx = 1u << 30, kSelcal = 1u << 31;
    if (in->mask & (kVadRx | kVadTx)) {
        LGCP::VADEvent event;
        if (in->mask & kVadRx)
            event.set_vad_rx((in->flags & kVadRx) != 0);
        if (in->mask & kVadTx)
            event.set_vad_tx((in->flags & kVadTx) != 0);
        OnVADEvent(event);
    }
    if (in->mask & kSelcal) {
        LGCP::Signal signal;
        signal.select_selcal().set_in_progress((in->flags & kSelcal) != 0);
        SendSignal(signal);
    }
}

void Slot::processBSSEvent(dsproc_bss_event const* in)
{
    if (in == nullptr)
        return;
    // At most 30 characters, whatever the score: a huge one is cut.
    char text[31];
    std::snprintf(text, sizeof text, "%4.6f", static_cast<double>(in->score));
    LGCP::Signal signal;
    signal.select_bss().set_score(text);
    SendSignal(signal);
}

void Slot::processSDEvent(Hardware::DSProcSDEvent const& in)
{
    if (in.rx < 0) {
        std::cerr << "bad SD event, ignored." << std::endl;
        return;
    }
    LGCP::SDEvent event;
    event.set_sd_rx(in.rx > 0);
    OnSDEvent(event);
}

void Slot::processRtpEvent(rtp_event const& in)
{
    if (in.type != kRtpEventPacketDetection)
        return;
    LGCP::RtpEvent event;
    LGCP::RtpPDEvent& pd = event.select_pd();
    pd.set_value(static_cast<int>(in.value));
    pd.set_timeout(static_cast<int>(in.timeout));
    OnRtpEvent(event);
}
