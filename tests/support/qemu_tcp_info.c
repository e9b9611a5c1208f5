/* Preloaded into the board build's server when it runs under qemu-user for
 * the end-to-end tests (scripts/test.sh), never into the server itself.
 * qemu-user 7 answers getsockopt(IPPROTO_TCP, TCP_INFO) with the first four
 * octets of struct tcp_info read as one host int and stored in the guest's
 * byte order, and a length of 4: tcpi_state lands in the fourth octet, and
 * every connection looks closed. This puts the four octets back in place. */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>

int getsockopt(int fd, int level, int name, void* value, socklen_t* length)
{
    typedef int (*Real)(int, int, int, void*, socklen_t*);
    static Real real;
    if (real == 0)
        real = (Real)dlsym(RTLD_NEXT, "getsockopt");
    socklen_t const asked = length != 0 ? *length : 0;
    int const r = real(fd, level, name, value, length);
    if (r == 0 && level == IPPROTO_TCP && name == TCP_INFO && asked >= 4 && *length == 4) {
        unsigned char* b = (unsigned char*)value;
        unsigned char t = b[0];
        b[0] = b[3];
        b[3] = t;
        t = b[1];
        b[1] = b[2];
        b[2] = t;
    }
    return r;
}
