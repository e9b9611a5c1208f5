#pragma once

// Conference mixer ports. The board's mixer units ("/dev/mixer") each have
// TDM channels; a channel is either an input (audio from the TDM switch into
// the mixer, optionally feeding one summator) or an output (the sum of
// chosen channels, each with its gain, back onto the switch). The factory
// learns the units only when it enumerates them, on the host's query and on
// a hardware-resource update; until then every mixer create is refused.
//
// A unit that a later enumeration no longer finds leaves the factory; its
// ports are told to abort and the unit object lives on, owned by nobody but
// its port list, until the host destroys its last port. When an enumeration
// finds that unit number again, the new unit's channels start with no path,
// as its sums do: before the new unit is made, the old ports switch off
// what they switched on (switch paths, generator, echo filter, detectors),
// drop their connections, and from then on touch nothing of the new unit.

#include "hardware/drivers.hpp"
#include "slots/slot.hpp"
#include "slots/slot_factory.hpp"

#include <cstdint>
#include <memory>
#include <vector>

namespace Mixer {

// One request on "/dev/mixer", opened for this call alone: the request's
// result, with errno as the request (or the failed open, -1) left it.
int mixer_ctl(std::uint32_t request, void* arg);

class Mixer;
class MixerFactory;

class MixerSlot : public Slot {
    // A vanished unit tells its ports to abort, and to let go when it is
    // superseded.
    friend class Mixer;

    // Disables the switch channel and switches off the generator and the
    // detectors, while no port of the new unit has the channel; then
    // forgets them, so that no later request of the port reaches it.
    virtual void LetGo() = 0;
};

class TdmInput : public MixerSlot, private Hardware::TonecReceiver, private Hardware::DSProcReceiver {
public:
    TdmInput(Mixer& mixer, int channel, int timeslot) : mixer(mixer), channel(channel), timeslot(timeslot) {}
    ~TdmInput() override;

    bool IBeforeDestroy() override;
    bool Ioctl(LGCP::IoctlParams const& params) override;
    bool IOnInputStream() override { return true; }
    int IGetReceiveChannel() override { return timeslot; }
    bool IHoldsChannels() override;
    const char* GetName() const override { return "mixer tdm input"; }

    Mixer& mixer;
    const int channel;
    const int timeslot;
    bool summatorSet = false;
    int summator = -1;

private:
    friend class Mixer;

    void LetGo() override;
    void tonec_event(const Hardware::TonecReceiver::Params& params) override { processTonecEvent(params); }
    unsigned int tonec_timeslot() const override { return static_cast<unsigned int>(timeslot); }
    void dsproc_vad_event(const Hardware::DSProcVADEvent& event) override { processVADEvent(event); }
    void dsproc_bss_event(const ::dsproc_bss_event* event) override { processBSSEvent(event); }
    void dsproc_sd_event(const Hardware::DSProcSDEvent& event) override { processSDEvent(event); }
    void dsproc_tone_flt_event(const ::dsproc_tone_event* event) override { processToneFltEvent(event); }
    void dsproc_flags_event(const ::dsproc_flags_event* event) override { processFlagsEvent(event); }
    unsigned int dsproc_timeslot() const override { return static_cast<unsigned int>(timeslot); }

    bool registered_ = false; // in the unit's port list
    bool letGo_ = false;      // of its channel, for a new unit's port
};

class TdmOutput : public MixerSlot, private Hardware::TonecReceiver, private Hardware::DSProcReceiver {
public:
    TdmOutput(Mixer& mixer, int channel, int timeslot) : mixer(mixer), channel(channel), timeslot(timeslot) {}
    ~TdmOutput() override;

    bool IBeforeDestroy() override;
    bool Ioctl(LGCP::IoctlParams const& params) override;
    bool IOnOutputStream() override { return true; }
    int IGetTransmitChannel() override { return timeslot; }
    bool IHoldsChannels() override;
    const char* GetName() const override { return "mixer tdm output"; }

    Mixer& mixer;
    const int channel;
    const int timeslot;

private:
    friend class Mixer;

    void LetGo() override;
    // An output hears nothing: only the end of what it played is reported.
    void tonec_event(const Hardware::TonecReceiver::Params&) override {}
    unsigned int tonec_timeslot() const override { return static_cast<unsigned int>(timeslot); }
    void tone_gen_complete() override { processToneGenEvent(); }
    void dsproc_vad_event(const Hardware::DSProcVADEvent&) override {}
    void dsproc_bss_event(const ::dsproc_bss_event*) override {}
    void dsproc_sd_event(const Hardware::DSProcSDEvent&) override {}
    void dsproc_tone_flt_event(const ::dsproc_tone_event* event) override { processToneFltEvent(event); }
    void dsproc_flags_event(const ::dsproc_flags_event* event) override { processFlagsEvent(event); }
    unsigned int dsproc_timeslot() const override { return static_cast<unsigned int>(timeslot); }

    bool registered_ = false;
    bool letGo_ = false;
};

// One mixer unit.
class Mixer {
public:
    Mixer(MixerFactory& factory, int unit);
    ~Mixer();
    Mixer(const Mixer&) = delete;
    Mixer& operator=(const Mixer&) = delete;

    TdmInput* New(LGCP::MixerInParams const& params);
    TdmOutput* New(LGCP::MixerOutParams const& params);
    void Release(TdmInput& input);
    void Release(TdmOutput& output);
    // A new unit: every receiving point loses its sources.
    void Reset();
    // The unit vanished: its ports abort; freed once it has none.
    void Clear();
    // False for an `rtp` channel (the slot then names only the unit).
    bool Channel2Slot(LGCP::MixerChannel const& channel, mix_slot& slot) const;
    bool ClearTX(LGCP::MixerChannel const& channel);
    // Programs the sources an output sums; false at the first failure, with
    // what was done before it left in the driver.
    bool SetTX(LGCP::MixerOutParams const& params);
    // The switch channel of a channel of this unit; -1 on failure.
    int channel2timeslot(int channel);
    void Register(MixerSlot* port);
    void UnRegister(MixerSlot* port);
    // The unit vanished and came back as another object: the channels of
    // its ports may be a new port's by now, so their release, connections
    // and disconnections leave the mixer and the switch alone. It stays
    // so when the new unit vanishes in turn.
    bool Superseded() const { return superseded_; }
    // The unit came back as another object: each port lets go of what it
    // held on the board, while no port of the new unit has its channel,
    // then loses its connections (the host hears its streams go inactive).
    void Supersede();
    // Logs why a port of a superseded unit refuses a command; false.
    bool RefuseSuperseded(int channel) const;
    // Deletes this unit when it is gone and has no port; touch nothing of
    // it after a call that may have run this.
    void CheckForDestroy();

    const int unit;
    bool gone = false;
    std::vector<MixerSlot*> ports; // not owned

private:
    // The channel number when `channel` is a TDM channel of the units.
    bool CheckChannel(LGCP::MixerChannel const& channel, int& number) const;

    MixerFactory& factory_;
    bool superseded_ = false;
};

class MixerFactory : public SlotFactory {
public:
    // Driver counts above this are nonsense from a broken driver.
    static constexpr int MaxCount = 1024;
    static constexpr int MaxUnits = 100;

    static MixerFactory* instance();

    MixerFactory() = default;
    ~MixerFactory() override;

    const char* GetName() const override { return "Mixer"; }
    Slot* INewSlot(LGCP::CreateParams const& params) override;
    void Query(LGCP::Resources& resources) override;

    // The unit with this number that the last enumeration found, or null.
    Mixer* findMixer(int unit);
    void RefreshResources();

    std::vector<std::unique_ptr<Mixer>> mixers;
    // Units that left `mixers` and live on for their ports; not owned.
    std::vector<Mixer*> vanished;
    int mixerInputs = -1; // the smallest count among the units; -1: none seen
    int tdmChannels = -1; // the smallest count; bounds every port's channel
    // Unit objects alive, those that left `mixers` with ports still on them
    // included.
    int live = 0;
};

} // namespace Mixer
