#pragma once

// Every test program runs in a network namespace of its own when the
// system lets it (root, or a user namespace): servers, in-process
// factories and their children then bind fixed local ports (the
// authentication relay's 127.0.0.1:52000) without colliding with the tests
// CTest runs beside them. Only the loopback interface is there, up.

#include <string>

namespace TestNet {

// Called once by the test main, before anything opens a socket.
void EnterPrivate();
// Whether this program runs in a namespace of its own.
bool Private();
// Why a test that binds the fixed local port `port` cannot run here: the
// port is held by another program (a server running beside the tests) and
// this program shares the machine's network. Empty when it can.
std::string PortHeld(unsigned short port);

} // namespace TestNet

// For a test that binds a fixed port: skipped outside a private namespace.
// For a test that binds 127.0.0.1:`port`: skipped at once, saying why, when
// another program holds it (rather than failing after its waits).
#define TESTNET_NEEDS_PORT(port)                                                                             \
    do {                                                                                                     \
        if (std::string why = TestNet::PortHeld(port); !why.empty())                                         \
            GTEST_SKIP() << why;                                                                             \
    } while (0)

#define TESTNET_NEEDS_PRIVATE()                                                                              \
    do {                                                                                                     \
        if (!TestNet::Private())                                                                             \
            GTEST_SKIP() << "no private network namespace here";                                             \
    } while (0)
