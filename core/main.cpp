// The server process: configuration, signals, command line, the singletons
// of the subsystems, daemon mode, pid file, and the event loop.

#include "core/child_wait.hpp"
#include "core/dpc.hpp"
#include "core/inifile.hpp"
#include "core/multiplexer.hpp"
#include "core/paths.hpp"
#include "core/process.hpp"
#include "core/startup.hpp"
#include "core/traces.hpp"
#include "core/version.hpp"
#include "hardware/hw_mux.hpp"

#include "control/acceptor_net.hpp"
#include "control/ctrl_server.hpp"
#include "control/heartbeat.hpp"
#include "hardware/bus_ctl.hpp"
#include "hardware/driver_port.hpp"
#include "hardware/e1_ctl.hpp"
#include "hardware/hw_tests.hpp"
#include "hardware/spi_ctrl.hpp"
#include "radio/rtp_ext_slot.hpp"
#include "signalling/hdlc_slot.hpp"
#include "signalling/isdn_slot.hpp"
#include "signalling/pstn_slot.hpp"
#include "slots/echo_slot.hpp"
#include "slots/ext_slot.hpp"
#include "slots/map_slot.hpp"
#include "slots/mcc_slot.hpp"
#include "slots/mixer_slot.hpp"
#include "slots/modem_slot.hpp"
#include "slots/rtp_slot.hpp"
#include "slots/slots.hpp"
#include "slots/t38soft_slot.hpp"
#include "slots/trunk_slot.hpp"
#include "slots/voice_slot.hpp"
#include "monitoring/monitoring_ctl.hpp"

#include <getopt.h>

#include <cstdlib>
#include <cstring>
#include <iostream>
#include <string>

#include <unistd.h>

namespace {

const char* const configFile = "/usr/local/etc/server.conf";
const char* const cfgTraces = "traces";

int print_version = 0;

enum { opt_port = 256, opt_disable_clock };

const option long_options[] = {
    {"daemon", no_argument, nullptr, 'D'},
    {"disable-clock", no_argument, nullptr, opt_disable_clock},
    {"port", required_argument, nullptr, opt_port},
    {"version", no_argument, &print_version, 1},
    {"help", no_argument, nullptr, 'h'},
    {nullptr, 0, nullptr, 0},
};

void Usage()
{
    std::cout << "Usage:\n"
                 " marvolen -Dh\n"
                 "  -D --daemon                      run as daemon\n"
                 "  -p --port                        use this port\n"
                 "     --disable-clock               disable clock control\n"
                 "     --version                     print version\n"
                 "  -h --help                        display this information\n"
              << std::endl;
}

// The control port: a whole decimal number in 1..65535. Anything else would
// be announced as given and bound as something else (70000 as 4464, text
// without digits as 0, a port the system picks).
bool ParsePort(const char* text, int& port)
{
    long value = 0;
    for (const char* p = text; *p != '\0'; ++p) {
        if (*p < '0' || *p > '9')
            return false;
        value = value * 10 + (*p - '0');
        if (value > 65535)
            return false;
    }
    if (value == 0)
        return false;
    port = static_cast<int>(value);
    return true;
}

void CheckUpdateResources()
{
    if (!updateResources)
        return;
    updateResources = 0;
    std::clog << "update hardware resources" << std::endl;
    Slots::instance()->UpdateHardwareResources();
}

void CheckSignals()
{
    CheckDumpStatus();
    CheckUpdateResources();
}

// Runs before the program's static objects are made, as some of them open
// descriptors.
[[gnu::constructor(101)]] void StandardDescriptorsFirst()
{
    KeepStandardDescriptors();
}

} // namespace

int main(int argc, char** argv)
{
    // The board watch changes the working directory; every fixed path must
    // still resolve below the same root.
    AbsoluteRoot();

    IniFile::File file;
    if (file.Open(RootPath(configFile))) {
        traces.Reset();
        traces.Configure(file[cfgTraces]);
    }

    InstallSignalHandlers();

    bool daemon = false;
    int port = 20001;
    opterr = 1;
    for (;;) {
        int c = getopt_long(argc, argv, "Dh", long_options, nullptr);
        if (c == -1)
            break;
        switch (c) {
        case 0: // a flag option ("--version")
            break;
        case 'D':
            daemon = true;
            break;
        case opt_port:
            if (!ParsePort(optarg, port)) {
                std::cerr << argv[0] << ": invalid port '" << optarg
                          << "': a whole number in 1..65535 is needed" << std::endl;
                Usage();
                std::exit(2);
            }
            break;
        case opt_disable_clock:
            // At once: nothing may select a clock from here on.
            BusCtl::instance()->DisableControl();
            break;
        case 'h':
            Usage();
            std::exit(0);
        default:
            Usage();
            std::exit(2);
        }
    }

    if (print_version) {
        std::cout << "server version: ";
        Version::current.put(std::cout);
        std::cout << std::endl;
        std::exit(2);
    }

    // One server per root: a second one would rewrite the first's pid file,
    // board files and status files and reach its agents. Nothing below the
    // root is written before this point. Made before the subsystems, it
    // outlives them: the root is let go last, after the board's socket and
    // the monitoring files are removed as they end.
    static Linux::Run run("server");
    if (run.taken()) {
        std::cerr << "server not started: " << run.path() << " is held by a running server";
        if (run.holder() > 0)
            std::cerr << ", pid " << run.holder();
        std::cerr << std::endl;
        return 1;
    }
    if (!run.made()) {
        std::cerr << "server not started: " << run.path() << " cannot be held: " << std::strerror(run.error())
                  << std::endl;
        return 1;
    }
    // The status dump's folder; a dump that still cannot be written says
    // why when it is asked for.
    (void)MakeFolders(RootPath("/var/log"));
    // The board's files are in place before the board watch reads them.
    Driver::Boot();

    // The slot factories, each at the head of the chain when made: a create
    // request is offered to the last one first. The trunk factories are
    // globals at the tail, made before main.
    KeepTrunkFactories();
    MapFactory::instance();
    PstnFactory::instance();
    RtpFactory::instance();
    ModemFactory::instance();
    Mixer::MixerFactory::instance();
    ExtFactory::instance();
    MccFactory::instance();
    EchoFactory::instance();
    VoiceFactory::instance();
    T38SoftFactory::instance();
    IsdnFactory::instance();
    RtpVEZEFactory::instance();
    RtpED137Factory::instance();
    HdlcSlotFactory::instance();

    // The TDM switch: its first use clears the backplane.
    HwMux::instance();

    // The board watch and its SNMP agents: each agent connects, and
    // reconnects after a loss, by itself from here on.
    MonitoringCtl::instance()->Configure(file);

    // The pid file's lock is on its open file, which the daemon shares:
    // the root stays held across the fork.
    DaemonStart start;
    if (daemon) {
        if (!start.Detach()) {
            std::cerr << "server not started: the daemon cannot be started: " << std::strerror(errno)
                      << std::endl;
            return 1;
        }
        // The daemon serves: its pid in the file. Without it the daemon
        // would hold a root it cannot name.
        if (!run.Write()) {
            const std::string reason =
                "server stopped: " + run.path() + " cannot be written: " + std::strerror(run.error());
            std::cerr << reason << std::endl;
            start.Failed(reason);
            return 1;
        }
    }
    // The board's side that runs beside the program, in the process that
    // serves: a fork keeps no thread.
    Driver::Serve();

    std::cout << "Starting server [";
    Version::current.put(std::cout);
    std::cout << "], port=" << port << std::endl;

    // Bind order is the order in which commands are offered: the heartbeat
    // first, so that it sees every command.
    ctrlServer.Bind(HeartBeatCtl::instance());
    ctrlServer.Bind(Slots::instance());
    ctrlServer.Bind(HwTests::instance());
    ctrlServer.Bind(BusCtl::instance());
    ctrlServer.Bind(E1Ctl::instance());
    ctrlServer.Bind(spiCtrl::instance());
    ctrlServer.Bind(MonitoringCtl::instance());

    SignalWakeup wakeup;
    wakeup.Open();

    ChildWait::Activate();

    Dpc signals;
    signals.Bind(new DpcHandler1(&CheckSignals));
    signals.Activate();

    auto* const acceptor = new Control::AcceptorNetCheckConnection(port);
    ctrlServer.Activate(acceptor);
    // A port held by another program is waited for; the start is over all
    // the same, and the starter says so.
    std::string note;
    if (daemon && !acceptor->listening()) {
        note = "server started, pid " + std::to_string(::getpid()) + ": port " + std::to_string(port) +
               " cannot be set up yet";
        if (acceptor->setup_error() != 0)
            note += std::string(" (") + std::strerror(acceptor->setup_error()) + ")";
        note += ": the server waits for it";
    }
    // A stop that came before the daemon serves ends it unserved.
    const bool serve = !daemon || start.Ready(note);
    if (serve) {
        // The watchdog is one of the board's devices.
        multiplexer.watchdog_device(&Driver::Open, &Driver::Close);
        multiplexer.run(true, true);
    }

    ctrlServer.Deactivate();

    signals.Deactivate();
    ChildWait::Deactivate();
    wakeup.Close();
    return serve ? 0 : 1;
}
