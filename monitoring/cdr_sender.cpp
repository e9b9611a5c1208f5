#include "monitoring/cdr_sender.hpp"

#include "core/inet.hpp"

#include <iostream>
#include <sstream>

#include <netinet/in.h>
#include <sys/socket.h>

namespace CDR_Sender {

Sender::Sender()
{
    const int fd = ::socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
    if (fd < 0)
        return;
    SetCloexec(fd, true);
    socket_.reset(fd);
}

bool Sender::SendTo(std::string& data, const std::string& addresses)
{
    if (!socket_)
        return false;
    std::istringstream words(addresses);
    std::string word;
    INet4::Addr to;
    while (words >> word) {
        to.Reset();
        // An unconverted word would leave 0.0.0.0, which is the local host.
        if (!to.Assign(word)) {
            std::cerr << "CDR sender: bad address \"" << word << "\" skipped" << std::endl;
            continue;
        }
        ::sendto(socket_.get(), data.data(), data.size(), 0, to.sa(), INet4::Addr::size());
    }
    return true;
}

} // namespace CDR_Sender
