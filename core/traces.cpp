#include "core/traces.hpp"

#include "core/inifile.hpp"

#include <iostream>

TraceCtl traces;

const char* const TraceCtl::keys[TraceCtl::count] = {
    "signalling.hdlc", "signalling.dizoru", "signalling.events", "signalling.isdn", "monitoring.internal",
};

void TraceCtl::Configure(IniFile::Section& section)
{
    for (IniFile::SubSection& sub : section)
        Configure(sub);
}

void TraceCtl::Configure(IniFile::SubSection& sub)
{
    Reset();
    IniFile::Reader reader("traces: ", std::cerr);
    for (int i = 0; i < count; ++i)
        reader.optional.add(&switches_[i], keys[i]);
    reader.parse(sub);
}
