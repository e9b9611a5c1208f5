#pragma once

// The trace switches of the configuration file's "traces" section: extra
// log lines that the subsystems write only while their switch is on.

namespace IniFile {
class Section;
class SubSection;
} // namespace IniFile

// The five trace switches, all off until the configuration says otherwise.
class TraceCtl {
public:
    enum Switch {
        signalling_hdlc = 0,     // "signalling.hdlc"
        signalling_dizoru = 1,   // "signalling.dizoru"
        signalling_events = 2,   // "signalling.events"
        signalling_isdn = 3,     // "signalling.isdn"
        monitoring_internal = 4, // "monitoring.internal"
        count = 5
    };

    TraceCtl() noexcept { Reset(); }

    void Reset() noexcept
    {
        for (bool& s : switches_)
            s = false;
    }
    bool operator[](Switch s) const noexcept { return switches_[s]; }
    bool& operator[](Switch s) noexcept { return switches_[s]; }

    static const char* const keys[count];

    // Every repeat of the section, in file order; each starts from all off,
    // so the last one decides.
    void Configure(IniFile::Section& section);
    void Configure(IniFile::SubSection& sub);

private:
    bool switches_[count];
};

extern TraceCtl traces;
