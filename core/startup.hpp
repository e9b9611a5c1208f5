#pragma once

// Start-up pieces of the server process: the signal flags and their
// handlers, the status dump and the daemon switch. `main` (core/main.cpp)
// puts them together with the trace switches (core/traces.hpp).

#include "core/fd.hpp"

#include <csignal>
#include <iosfwd>
#include <string>

// Set in signal context, consumed on the loop.
extern volatile std::sig_atomic_t doDumpStatus;
extern volatile std::sig_atomic_t updateResources;

void SigTermHandler(int, siginfo_t*, void*);
void SigUsr2Handler(int, siginfo_t*, void*);
void SigHupHandler(int, siginfo_t*, void*);
void SigPipeHandler(int, siginfo_t*, void*);

// SIGPIPE, SIGTERM, SIGINT, SIGUSR2, SIGHUP, in that order.
void InstallSignalHandlers();

// A signal that lands between the loop's last look at its flags and the
// start of poll() would wait for the next descriptor event (forever, on a
// quiet board without watchdog). The handlers therefore also write a byte
// to this pipe, which the loop polls. Open before the loop runs, close after.
class SignalWakeup {
public:
    SignalWakeup();
    ~SignalWakeup();
    SignalWakeup(const SignalWakeup&) = delete;
    SignalWakeup& operator=(const SignalWakeup&) = delete;

    bool Open();
    void Close();
    // Signal context: never blocks, keeps errno.
    static void Wake();

private:
    void OnWakeup(int fd, short revents);

    struct Impl;
    Impl* impl_;
};

// Writes the status dump "/var/log/server-status" when SIGUSR2 asked for it.
void CheckDumpStatus();
// The dump itself.
void DumpStatus(std::ostream& os);

// Detaches the process; the log goes to the system log with the ident
// "mrv-" and the version text.
void RunDaemon();

// Standard input, output or error that the launcher left closed is pointed
// at the null device. Otherwise the first file the server opens takes the
// number (its pid file would become its standard output and receive every
// line printed there). Called before anything else is opened.
void KeepStandardDescriptors();

// The forking daemon's convention, which init scripts and service managers
// rely on: the process started to become a daemon ends only once the daemon
// holds the pid file with its own pid and has set up its control port, with
// status 0; when the daemon stops before that, with its reason on the
// starter's terminal and a non-zero status. A stop (SIGTERM, SIGINT) that
// comes first, to the starter or to the daemon, ends the start that way too:
// what the user stopped never serves.
class DaemonStart {
public:
    // Becomes the daemon (RunDaemon) in a child and returns there; the
    // starting process waits here for the daemon's word and exits. False
    // (errno set) when no child could be started: nothing changed.
    bool Detach();
    // The daemon's word once it serves; `note`, when not empty, is printed
    // on the starter's terminal. False when the start ended first: a stop
    // came, or the starter is gone (it was interrupted). The reason is
    // logged and told; the daemon must then stop without serving. Its end
    // of the pipe is closed either way: nothing the daemon starts later
    // holds the starter back.
    bool Ready(const std::string& note = {});
    void Failed(const std::string& reason);

private:
    bool Tell(char kind, const std::string& text);

    OwnedFd fd_; // the daemon's end of the pipe, until its word
};
