#include "slots/mixer_slot.hpp"

#include "hardware/hw_mux.hpp"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <iostream>
#include <optional>

#include <fcntl.h>

namespace Mixer {

namespace {

// Gain of a source that the server chooses itself: unity.
constexpr std::int32_t kFullGain = 32767;

// The Query's fixed DSP costs of a mixer, an echo canceller and an LMS filter.
constexpr int kDpuPerMixer = 770;
constexpr int kDpuPerEc = 17;
constexpr int kDpuPerLms = 24;

mix_slot MakeSlot(int unit, int number)
{
    mix_slot s{};
    s.dev_no = unit;
    s.type = 0;
    s.number = number;
    return s;
}

// The rows of the ioctl table that both port kinds share; nothing when
// `p` is not one of them.
std::optional<bool> SharedIoctl(Hardware::TonecReceiver& tonec, Hardware::DSProcReceiver& dsp, int unit,
                                LGCP::IoctlParams const& p)
{
    if (p.is_translateDTMF()) {
        tonec.translateDTMF(p.get_translateDTMF());
        return true;
    }
    if (p.is_dtmf_params())
        return tonec.configureDTMF(p.get_dtmf_params());
    if (p.is_vad_params())
        return dsp.configureVAD(p.get_vad_params());
    if (p.is_vad_enable())
        return dsp.enableVAD(p.get_vad_enable().getValue());
    if (p.is_vad_disable())
        return dsp.disableVAD();
    if (p.is_sd_params())
        return dsp.configureSD();
    if (p.is_sd_enable())
        return dsp.enableSD(p.get_sd_enable().getValue());
    if (p.is_sd_disable())
        return dsp.disableSD();
    if (p.is_iva_enable())
        return tonec.enableIVA(p.get_iva_enable().getValue());
    if (p.is_tone_filter()) {
        auto const& f = p.get_tone_filter();
        dsp.configureToneFilter(static_cast<unsigned int>(f.get_freq().getValue()), f.get_enable().getValue(),
                                f.get_duration_th_msec().getValue(), f.get_det_level_dB().getValue());
        return true;
    }
    if (p.is_delays()) {
        auto const& d = p.get_delays();
        if (d.has_selcal())
            std::cerr << "mixer [" << unit
                      << "]: error: selcal delay isn't supported for mixer!!! Set to zero." << std::endl;
        dsp.configureDelays(d.has_rx() ? static_cast<unsigned int>(d.get_rx().getValue()) : 0,
                            d.has_tx() ? static_cast<unsigned int>(d.get_tx().getValue()) : 0, 0);
        return true;
    }
    return std::nullopt;
}

std::ostream& Put(std::ostream& os, mix_slot const& s)
{
    return os << " dev_no=" << s.dev_no << " type=" << s.type << " number=" << s.number;
}

} // namespace

int mixer_ctl(std::uint32_t request, void* arg)
{
    const int fd = Driver::Open(GetMixerDevName(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return -1;
    const int result = Driver::Ioctl(fd, request, arg);
    const int error = errno;
    Driver::Close(fd);
    errno = error;
    return result;
}

// ---------------------------------------------------------------- ports

TdmInput::~TdmInput()
{
    // A port that let go has nothing on its channel; anything it sent now
    // would reach the new unit's port.
    if (!letGo_) {
        TonecReceiver::CleanBeforeDestroy();
        DSProcReceiver::CleanBeforeDestroy();
    }
    // A port deleted without its destroy (a straggler) still leaves the unit.
    if (registered_)
        mixer.UnRegister(this);
}

bool TdmInput::IHoldsChannels()
{
    return !mixer.Superseded();
}

void TdmInput::LetGo()
{
    HwMux::instance().Disable(timeslot);
    TonecReceiver::LetGo();
    DSProcReceiver::LetGo();
    letGo_ = true;
}

bool TdmInput::IBeforeDestroy()
{
    if (IHoldsChannels())
        HwMux::instance().Disable(timeslot);
    mixer.Release(*this);
    return true;
}

bool TdmInput::Ioctl(LGCP::IoctlParams const& p)
{
    if (!IHoldsChannels())
        return mixer.RefuseSuperseded(channel);
    if (auto shared = SharedIoctl(*this, *this, mixer.unit, p))
        return *shared;
    if (p.is_echoSuppressor())
        return echoCancel(p.get_echoSuppressor().getValue());
    if (p.is_dtmf_enable())
        return enableDTMF(p.get_dtmf_enable().getValue());
    if (p.is_dtmf_reject_enable())
        return enableDTMFReject(p.get_dtmf_reject_enable().getValue());
    if (p.is_iva_params())
        return configureIVA(p.get_iva_params());
    if (p.is_rx_gain()) {
        // The driver takes a signed byte: the low 8 bits of the host's value.
        configureRxGain(static_cast<std::int8_t>(p.get_rx_gain().get_gainDB().getValue() & 0xFF));
        return true;
    }
    return false;
}

TdmOutput::~TdmOutput()
{
    if (!letGo_) {
        TonecReceiver::CleanBeforeDestroy();
        DSProcReceiver::CleanBeforeDestroy();
    }
    if (registered_)
        mixer.UnRegister(this);
}

bool TdmOutput::IHoldsChannels()
{
    return !mixer.Superseded();
}

void TdmOutput::LetGo()
{
    HwMux::instance().Disable(timeslot);
    TonecReceiver::LetGo();
    DSProcReceiver::LetGo();
    letGo_ = true;
}

bool TdmOutput::IBeforeDestroy()
{
    if (IHoldsChannels())
        HwMux::instance().Disable(timeslot);
    mixer.Release(*this);
    return true;
}

bool TdmOutput::Ioctl(LGCP::IoctlParams const& p)
{
    if (!IHoldsChannels())
        return mixer.RefuseSuperseded(channel);
    if (auto shared = SharedIoctl(*this, *this, mixer.unit, p))
        return *shared;
    if (p.is_dtmf_disable())
        return disableToneGenerator(false);
    if (p.is_dtmf_reject_disable())
        return enableDTMFReject(false);
    if (p.is_tone_gen_enable()) {
        auto const& g = p.get_tone_gen_enable();
        disableToneGenerator(false);
        enableToneGenerator(static_cast<unsigned short>(g.get_freq().getValue()), 0,
                            static_cast<unsigned short>(g.get_amp().getValue()), 0);
        return true;
    }
    if (p.is_tone_gen_disable()) {
        disableToneGenerator(true);
        return true;
    }
    return false;
}

// ---------------------------------------------------------------- unit

Mixer::Mixer(MixerFactory& factory, int unit) : unit(unit), factory_(factory)
{
    ++factory_.live;
}

Mixer::~Mixer()
{
    --factory_.live;
    auto& v = factory_.vanished;
    v.erase(std::remove(v.begin(), v.end(), this), v.end());
}

bool Mixer::CheckChannel(LGCP::MixerChannel const& channel, int& number) const
{
    if (!channel.is_tdm())
        return false;
    number = channel.get_tdm().getValue();
    return number >= 0 && number < factory_.tdmChannels;
}

TdmInput* Mixer::New(LGCP::MixerInParams const& params)
{
    int n = 0;
    if (!CheckChannel(params.get_channel(), n))
        return nullptr;
    const int t = channel2timeslot(n);
    if (t < 0)
        return nullptr;
    auto* input = new TdmInput(*this, n, t);
    if (params.has_summator()) {
        LGCP::MixerChannel const& s = params.get_summator();
        mix_rx_params rx{};
        rx.tx = MakeSlot(unit, n);
        rx.gain = kFullGain;
        if (s.is_tdm()) {
            input->summatorSet = true;
            input->summator = s.get_tdm().getValue();
            rx.rx = MakeSlot(unit, input->summator);
        } else {
            std::cerr << "mixer [" << unit << "]: wrong summator coding !" << std::endl;
            rx.rx.dev_no = unit;
            rx.rx.number = -1;
        }
        if (mixer_ctl(MIX_RX_ADD, &rx) < 0)
            std::cerr << "mixer [" << unit << "]: MIX_RX_ADD fail : " << std::strerror(errno) << std::endl;
    }
    if (params.has_ecm()) {
        LGCP::EchoCancelMode const& e = params.get_ecm();
        static_cast<Hardware::TonecReceiver&>(*input).echoCancel(e.get_ec().getValue() ||
                                                                 e.get_es().getValue());
    }
    Register(input);
    input->registered_ = true;
    return input;
}

TdmOutput* Mixer::New(LGCP::MixerOutParams const& params)
{
    // The driver is programmed before the checks: a refused output has
    // still been cleared.
    if (!SetTX(params))
        return nullptr;
    int n = 0;
    if (!CheckChannel(params.get_channel(), n))
        return nullptr;
    const int t = channel2timeslot(n);
    if (t < 0)
        return nullptr;
    auto* output = new TdmOutput(*this, n, t);
    Register(output);
    output->registered_ = true;
    return output;
}

void Mixer::Release(TdmInput& input)
{
    input.StopGenerator();
    if (input.summator >= 0 && !Superseded()) {
        mix_rx_params rx{};
        rx.rx = MakeSlot(unit, input.summator);
        rx.tx = MakeSlot(unit, input.channel);
        if (mixer_ctl(MIX_RX_REMOVE, &rx) < 0)
            std::cerr << "mixer [" << unit << "]: MIX_RX_REMOVE rx.number=" << input.summator
                      << " tx.number=" << input.channel << " fail : " << std::strerror(errno) << std::endl;
    }
    input.registered_ = false;
    UnRegister(&input); // may delete this unit
}

void Mixer::Release(TdmOutput& output)
{
    output.StopGenerator();
    if (!Superseded()) {
        std::clog << "mixer [" << unit << "]: clear tdm output " << output.channel << std::endl;
        mix_slot s = MakeSlot(unit, output.channel);
        (void)mixer_ctl(MIX_RX_CLEAR, &s);
    }
    output.registered_ = false;
    UnRegister(&output); // may delete this unit
}

void Mixer::Reset()
{
    std::clog << "mixer [" << unit << "]: clear all inputs" << std::endl;
    int errors = 0;
    for (int i = 0; i < factory_.tdmChannels; ++i) {
        mix_slot s = MakeSlot(unit, i);
        if (mixer_ctl(MIX_RX_CLEAR, &s) < 0)
            ++errors;
    }
    if (errors > 0)
        std::cerr << "mixer [" << unit << "]: reset fail: " << errors << " errors." << std::endl;
}

void Mixer::Clear()
{
    // Each abort may reach the host only; the ports stay until destroyed.
    for (MixerSlot* port : std::vector<MixerSlot*>(ports))
        port->OnAbort(0);
    CheckForDestroy();
}

bool Mixer::Channel2Slot(LGCP::MixerChannel const& channel, mix_slot& slot) const
{
    slot = mix_slot{};
    slot.dev_no = unit;
    if (!channel.is_tdm())
        return false;
    slot.type = 0;
    slot.number = channel.get_tdm().getValue();
    return true;
}

bool Mixer::ClearTX(LGCP::MixerChannel const& channel)
{
    mix_slot s{};
    if (!Channel2Slot(channel, s)) {
        std::clog << "mixer [" << unit << "]: ClearTX error: translation fail" << std::endl;
        return false;
    }
    if (mixer_ctl(MIX_RX_CLEAR, &s) < 0) {
        const int error = errno;
        Put(std::cerr << "mixer [" << unit << "]: MIX_RX_CLEAR", s)
            << " fail : " << std::strerror(error) << std::endl;
        return false;
    }
    return true;
}

bool Mixer::SetTX(LGCP::MixerOutParams const& params)
{
    if (!ClearTX(params.get_channel()))
        return false;
    auto const& inputs = params.get_inputs();
    if (inputs.empty()) {
        mix_rx_params rx{};
        if (!Channel2Slot(params.get_channel(), rx.rx)) {
            std::cerr << "mixer [" << unit << "]: SetTX error: mixer translation fail" << std::endl;
            return false;
        }
        rx.tx = rx.rx;
        rx.gain = kFullGain;
        if (mixer_ctl(MIX_RX_ADD, &rx) < 0) {
            std::cerr << "mixer [" << unit << "]: MIX_RX_ADD fail : " << std::strerror(errno) << std::endl;
            return false;
        }
        return true;
    }
    for (LGCP::MixerInput const& in : inputs) {
        mix_rx_params rx{};
        if (!Channel2Slot(params.get_channel(), rx.rx)) {
            std::cerr << "mixer [" << unit << "]: SetTX error: translation fail [1]" << std::endl;
            return false;
        }
        if (!Channel2Slot(in.get_channel(), rx.tx)) {
            std::cerr << "mixer [" << unit << "]: SetTX error: translation fail [2]" << std::endl;
            return false;
        }
        // Unconstrained on the wire; the driver takes a signed 32-bit word.
        rx.gain = in.get_gain().getValue();
        if (mixer_ctl(MIX_RX_ADD, &rx) < 0) {
            std::cerr << "mixer [" << unit << "]: MIX_RX_ADD fail : " << std::strerror(errno) << std::endl;
            return false;
        }
    }
    return true;
}

int Mixer::channel2timeslot(int channel)
{
    mix_slot s = MakeSlot(unit, channel);
    const int t = mixer_ctl(MIX_TDM, &s);
    if (t < 0) {
        const int error = errno;
        Put(std::cerr << "mixer [" << unit << "]: MIX_TDM", s)
            << " fail : " << std::strerror(error) << std::endl;
        return -1;
    }
    return t;
}

void Mixer::Register(MixerSlot* port)
{
    ports.push_back(port);
}

void Mixer::UnRegister(MixerSlot* port)
{
    ports.erase(std::remove(ports.begin(), ports.end(), port), ports.end());
    CheckForDestroy();
}

void Mixer::Supersede()
{
    std::clog << "mixer [" << unit << "]: the unit came back: " << ports.size()
              << " ports of the one it replaced let go of their channels" << std::endl;
    for (MixerSlot* port : ports)
        port->LetGo();
    superseded_ = true;
    // Only now, so that the connections' own switch work leaves the
    // channels alone, and the peers that store a channel learn that it is
    // no longer the port's. None of this releases a port.
    for (MixerSlot* port : std::vector<MixerSlot*>(ports)) {
        port->OnChangeInputStream(false);
        port->OnChangeOutputStream(false);
    }
}

bool Mixer::RefuseSuperseded(int channel) const
{
    std::cerr << "mixer [" << unit << "]: channel " << channel
              << " belongs to the unit that came back: its detectors and generator are a new port's"
              << std::endl;
    return false;
}

void Mixer::CheckForDestroy()
{
    if (gone && ports.empty())
        delete this;
}

// ---------------------------------------------------------------- factory

MixerFactory* MixerFactory::instance()
{
    static MixerFactory factory;
    return &factory;
}

MixerFactory::~MixerFactory()
{
    // Units that left the vector with ports belong to those ports; the
    // slots go before their factories.
    mixers.clear();
}

Mixer* MixerFactory::findMixer(int unit)
{
    for (auto const& m : mixers)
        if (m && !m->gone && m->unit == unit)
            return m.get();
    return nullptr;
}

Slot* MixerFactory::INewSlot(LGCP::CreateParams const& params)
{
    if (params.is_mixerOut()) {
        Mixer* m = findMixer(params.get_mixerOut().get_unit().getValue());
        return m != nullptr ? m->New(params.get_mixerOut()) : nullptr;
    }
    if (params.is_mixerIn()) {
        Mixer* m = findMixer(params.get_mixerIn().get_unit().getValue());
        return m != nullptr ? m->New(params.get_mixerIn()) : nullptr;
    }
    return nullptr;
}

void MixerFactory::RefreshResources()
{
    for (auto const& m : mixers)
        m->gone = true;
    mix_unit_info info{};
    info.unit = -1;
    mixerInputs = -1;
    tdmChannels = -1;
    // At most MaxUnits units found in this walk. Counting the units not yet
    // found again would make a full board's next walk find nothing, drop
    // every unit and abort its ports, and the walk after that find them all
    // as new. Units with nonsense counts are left out and count for nothing:
    // the answers are bounded too, so that such a driver, or one that
    // repeats a unit, cannot hold the loop for ever.
    int found = 0;
    for (int answers = 0; found < MaxUnits && answers < MaxUnits + MaxCount; ++answers) {
        if (mixer_ctl(MIX_UNIT_INFO, &info) < 0)
            break;
        if (info.tdm_channels < 0 || info.tdm_channels > MaxCount || info.mixer_inputs < 0 ||
            info.mixer_inputs > MaxCount) {
            std::cerr << "mixer: unit " << info.unit << " reports " << info.tdm_channels
                      << " tdm channels and " << info.mixer_inputs << " mixer inputs, ignored" << std::endl;
            continue;
        }
        ++found;
        tdmChannels = tdmChannels < 0 ? info.tdm_channels : std::min(tdmChannels, info.tdm_channels);
        mixerInputs = mixerInputs < 0 ? info.mixer_inputs : std::min(mixerInputs, info.mixer_inputs);
        bool known = false;
        for (auto const& m : mixers)
            if (m->unit == info.unit) {
                m->gone = false;
                known = true;
                break;
            }
        if (!known) {
            for (Mixer* old : std::vector<Mixer*>(vanished))
                if (old->unit == info.unit && !old->Superseded())
                    old->Supersede();
            mixers.push_back(std::make_unique<Mixer>(*this, info.unit));
            mixers.back()->Reset();
        }
    }
    for (auto& m : mixers) {
        if (!m->gone)
            continue;
        // From here the unit belongs to its ports; Clear() deletes it at
        // once when it has none (and it leaves `vanished` then).
        vanished.push_back(m.get());
        m.release()->Clear();
    }
    mixers.erase(std::remove(mixers.begin(), mixers.end(), nullptr), mixers.end());
}

void MixerFactory::Query(LGCP::Resources& resources)
{
    RefreshResources();
    auto& list = resources.get_mixer();
    list.clear();
    for (auto const& m : mixers) {
        LGCP::MixerResources_subtype r;
        r.set_unit(m->unit);
        r.set_tdm_inputs(std::max(tdmChannels, 0));
        r.set_tdm_outputs(std::max(tdmChannels, 0));
        r.set_mixer_inputs(std::max(mixerInputs, 0));
        r.set_dpu_per_mixer(kDpuPerMixer);
        r.set_dpu_per_ec(kDpuPerEc);
        r.set_dpu_per_lms(kDpuPerLms);
        list.push_back(r);
    }
}

} // namespace Mixer
