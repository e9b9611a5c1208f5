#include "core/startup.hpp"

#include "core/daemon.hpp"
#include "core/inifile.hpp"
#include "core/multiplexer.hpp"
#include "core/paths.hpp"
#include "core/signal.hpp"
#include "core/version.hpp"

#include <fstream>
#include <iostream>
#include <sstream>

TraceCtl traces;

volatile std::sig_atomic_t doDumpStatus = 0;
volatile std::sig_atomic_t updateResources = 0;

const char* const TraceCtl::keys[TraceCtl::count] = {
    "signalling.hdlc", "signalling.dizoru", "signalling.events", "signalling.isdn",
    "monitoring.internal",
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

void SigTermHandler(int, siginfo_t*, void*)
{
    multiplexer.terminate();
}

void SigUsr2Handler(int, siginfo_t*, void*)
{
    doDumpStatus = 1;
}

void SigHupHandler(int, siginfo_t*, void*)
{
    updateResources = 1;
}

void SigPipeHandler(int, siginfo_t*, void*) {}

void InstallSignalHandlers()
{
    IPC::Signal::handle(SIGPIPE, &SigPipeHandler, SA_RESTART);
    IPC::Signal::handle(SIGTERM, &SigTermHandler, 0);
    IPC::Signal::handle(SIGINT, &SigTermHandler, 0);
    IPC::Signal::handle(SIGUSR2, &SigUsr2Handler, SA_RESTART);
    IPC::Signal::handle(SIGHUP, &SigHupHandler, SA_RESTART);
}

void DumpStatus(std::ostream& os)
{
    os << "server status information. traces:";
    for (int i = 0; i < TraceCtl::count; ++i)
        if (traces[static_cast<TraceCtl::Switch>(i)])
            os << ' ' << TraceCtl::keys[i];
    os << std::endl;
    os << "version : ";
    Version::current.put(os);
    os << std::endl;
    multiplexer.dump(os);
}

void CheckDumpStatus()
{
    if (!doDumpStatus)
        return;
    doDumpStatus = 0; // one request, one attempt
    std::ofstream file(RootPath("/var/log/server-status"), std::ios::out | std::ios::trunc);
    if (!file) {
        std::cerr << "dump status error" << std::endl;
        return;
    }
    DumpStatus(file);
}

void RunDaemon()
{
    std::ostringstream ident;
    ident << "mrv-";
    Version::current.put(ident);
    Daemon::Params params;
    params.name = ident.str();
    Daemon::Init(params);
}
