#pragma once

#include "core/fd.hpp"

#include <string>

namespace CDR_Sender {

// Sends one call record as one UDP datagram to each address of a list.
class Sender {
public:
    // Opens the socket; when that fails every SendTo returns false.
    Sender();
    virtual ~Sender() = default;
    Sender(const Sender&) = delete;
    Sender& operator=(const Sender&) = delete;

    // `addresses`: words separated by white space, each "a.b.c.d:port" (a
    // word without a port goes to port 0). Every address is tried in list
    // order; a word that is not an address is skipped with a log line. A
    // failed send does not stop the list: true whenever the socket is open.
    bool SendTo(std::string& data, const std::string& addresses);

private:
    OwnedFd socket_;
};

} // namespace CDR_Sender
