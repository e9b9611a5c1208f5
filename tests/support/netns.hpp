#pragma once

// Every test program runs in a network namespace of its own when the
// system lets it (root, or a user namespace): servers, in-process
// factories and their children then bind fixed local ports (the
// authentication relay's 127.0.0.1:52000) without colliding with the tests
// CTest runs beside them. Only the loopback interface is there, up.

namespace TestNet {

// Called once by the test main, before anything opens a socket.
void EnterPrivate();
// Whether this program runs in a namespace of its own.
bool Private();

} // namespace TestNet

// For a test that binds a fixed port: skipped outside a private namespace.
#define TESTNET_NEEDS_PRIVATE()                                                                              \
    do {                                                                                                     \
        if (!TestNet::Private())                                                                             \
            GTEST_SKIP() << "no private network namespace here";                                             \
    } while (0)
