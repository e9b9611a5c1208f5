// The store with the kernel's own sources, in a network namespace of the
// test's own: a veth pair whose far end goes down and up again.

#include "monitoring/monitoring_data_holder.hpp"
#include "tests/core/core_helper.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include <net/if.h>
#include <sched.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

constexpr int kSkip = 77;

// The kernel settles a carrier change on its own schedule (link watch):
// wait for the flag the samples will read, a few seconds at most.
bool WaitRunning(const std::string& name, bool running)
{
    NetIfSource& source = NetIfSource::Get();
    for (int i = 0; i < 500; ++i) {
        int flags = 0;
        bool ok = source.Open() && source.Flags(name, flags);
        source.Close();
        if (ok && ((flags & IFF_RUNNING) != 0) == running)
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
}

int Fail(const char* what)
{
    std::fprintf(stderr, "netns scenario: %s\n", what);
    return 1;
}

int Scenario()
{
    TempRoot root;
    root.mkdirs("var");
    MonitoringDataHolder store;

    std::vector<std::pair<int, std::string>> expected;
    for (const char* name : {"lo", "v0", "v1"})
        expected.emplace_back(static_cast<int>(::if_nametoindex(name)), name);
    std::sort(expected.begin(), expected.end());
    std::vector<std::pair<int, std::string>> listed;
    for (const NetIfDataHolder& n : store.netIfs)
        listed.emplace_back(n.ifIndex, n.name);
    if (listed != expected)
        return Fail("the interfaces are not lo, v0 and v1 by index");
    if (store.ownAddress.GetString() != "10.9.0.1:0")
        return Fail("the own address is not 10.9.0.1");

    NetIfDataHolder* v0 = nullptr;
    for (NetIfDataHolder& n : store.netIfs)
        if (n.name == "v0")
            v0 = &n;
    if (!WaitRunning("v0", true))
        return Fail("v0 never ran");
    if (!v0->updateNetIf() || !v0->updateNetIf() || v0->upState != 1)
        return Fail("v0 does not read up after two samples");

    if (std::system("ip link set v1 down") != 0 || !WaitRunning("v0", false))
        return Fail("v0 kept running with its peer down");
    if (v0->updateNetIf() || v0->upState != 1)
        return Fail("one sample took v0 down");
    if (!v0->updateNetIf() || v0->upState != 0 || v0->operStatus != 2)
        return Fail("v0 does not read down after two samples");

    if (std::system("ip link set v1 up") != 0 || !WaitRunning("v0", true))
        return Fail("v0 did not run again");
    if (v0->updateNetIf() || v0->upState != 0)
        return Fail("one sample brought v0 up");
    if (!v0->updateNetIf() || v0->upState != 1 || v0->adminStatus != 1)
        return Fail("v0 does not read up again after two samples");
    return 0;
}

} // namespace

TEST(NetIfNamespace, RealSourcesFollowAVethPair)
{
    if (::geteuid() != 0)
        GTEST_SKIP() << "needs root for a network namespace with a veth pair";
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        if (::unshare(CLONE_NEWNET) != 0)
            ::_exit(kSkip);
        if (std::system("ip link set lo up && ip link add v0 type veth peer name v1 && "
                        "ip addr add 10.9.0.1/24 dev v0 && ip link set v0 up && ip link set v1 up") != 0)
            ::_exit(kSkip);
        ::_exit(Scenario());
    }
    int status = 0;
    ASSERT_EQ(child, ::waitpid(child, &status, 0));
    ASSERT_TRUE(WIFEXITED(status)) << status;
    if (WEXITSTATUS(status) == kSkip)
        GTEST_SKIP() << "no network namespace or veth pair here";
    EXPECT_EQ(0, WEXITSTATUS(status)) << "the scenario's line on standard error says why";
}
