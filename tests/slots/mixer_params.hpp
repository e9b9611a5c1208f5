#pragma once

// Create parameters of the mixer ports. No GoogleTest in here: the fuzz
// target and the end-to-end tests use it too.

#include "asn1/modules/LGCP.hpp"

#include <optional>
#include <utility>
#include <vector>

namespace SlotsTest {

// A mixer channel: {true, n} is `tdm n`, {false, n} is `rtp n`.
using MixChannel = std::pair<bool, int>;

inline LGCP::MixerChannel MixerChannel(MixChannel c)
{
    LGCP::MixerChannel m;
    if (c.first)
        m.set_tdm(c.second);
    else
        m.set_rtp(c.second);
    return m;
}

inline LGCP::CreateParams MixerIn(int unit, MixChannel channel,
                                  std::optional<MixChannel> summator = std::nullopt,
                                  std::optional<std::pair<bool, bool>> ecm = std::nullopt)
{
    LGCP::CreateParams p;
    LGCP::MixerInParams& m = p.select_mixerIn();
    m.set_unit(unit);
    m.set_channel(MixerChannel(channel));
    if (summator)
        m.set_summator(MixerChannel(*summator));
    if (ecm) {
        LGCP::EchoCancelMode e;
        e.set_ec(ecm->first);
        e.set_es(ecm->second);
        m.set_ecm(e);
    }
    return p;
}

// Each input: its channel and gain.
inline LGCP::CreateParams MixerOut(int unit, MixChannel channel,
                                   std::vector<std::pair<MixChannel, int>> inputs = {})
{
    LGCP::CreateParams p;
    LGCP::MixerOutParams& m = p.select_mixerOut();
    m.set_unit(unit);
    m.set_channel(MixerChannel(channel));
    for (auto const& [c, gain] : inputs) {
        LGCP::MixerInput in;
        in.set_channel(MixerChannel(c));
        in.set_gain(gain);
        m.get_inputs().push_back(in);
    }
    return p;
}

// The digits "1" and "2", with these tone and pause lengths.
inline LGCP::TranslateDtmfParams DigitsOneTwo(int tone_ms, int pause_ms)
{
    LGCP::TranslateDtmfParams digits;
    for (auto [f1, f2] : {std::pair{697, 1209}, {697, 1336}}) {
        LGCP::DualTone t;
        t.set_freq1(f1);
        t.set_freq2(f2);
        digits.get_digits().push_back(t);
    }
    digits.set_toneDuration(tone_ms);
    digits.set_pauseDuration(pause_ms);
    return digits;
}

} // namespace SlotsTest
