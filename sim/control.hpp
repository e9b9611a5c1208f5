#pragma once

// The simulated board's control socket: a Unix stream socket that takes one
// request of the board's control language per line (Board::Command) and
// answers each with its lines, the last one "ok ..." or "error ...". It runs
// on a thread of its own, which never leaves sim/: the program's loop stays
// single-threaded and knows nothing of it.

#include "sim/board_thread.hpp"

#include <string>

namespace Sim {

class ControlSocket {
public:
    ControlSocket() = default;
    ~ControlSocket();
    ControlSocket(const ControlSocket&) = delete;
    ControlSocket& operator=(const ControlSocket&) = delete;

    // Listens on `path` (an old socket file there is replaced); false with
    // errno when the socket cannot be made.
    bool Start(const std::string& path);
    // Stops serving, closes every connection and removes the socket file.
    void Stop();
    // Served by this process: a forked child has the parent's socket but
    // not its thread.
    bool running() const noexcept { return listener_ >= 0 && server_.owned(); }

    // GW_SIM_SOCKET made absolute, fixed at the first call (a daemon leaves
    // its working directory before it serves); empty when unset.
    static const std::string& EnvironmentPath();
    // Serves EnvironmentPath() when set, from the calling process: started
    // again in a forked child (a daemon). The path is announced on the
    // output stream once it is served; a failure is reported on the error
    // stream.
    static void StartFromEnvironment();

private:
    void Serve();

    std::string path_;
    int listener_ = -1;
    // A forked child that exits through exit() neither joins its parent's
    // thread nor removes its socket file.
    BoardThread server_;
};

} // namespace Sim
