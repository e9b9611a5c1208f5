// Deferred calls: twice per loop pass, in ascending address order, and
// deactivation and activation in the middle of a sweep.

#include "core/clock.hpp"
#include "core/dpc.hpp"
#include "core/multiplexer.hpp"

#include "tests/core/core_helper.hpp"

#include <gtest/gtest.h>
#include <cstddef>
#include <vector>

namespace {

struct Calls;

struct Job {
    Calls* calls = nullptr;
    int id = 0;
    Dpc dpc;
    void Run();
};

struct Calls {
    std::vector<int> order;
    Job* stop_other = nullptr;  // deactivated by the first job that runs
    Job* start_other = nullptr; // activated by the first job that runs
};

void Job::Run()
{
    calls->order.push_back(id);
    if (calls->stop_other != nullptr && calls->stop_other != this) {
        calls->stop_other->dpc.Deactivate();
        calls->stop_other = nullptr;
    }
    if (calls->start_other != nullptr && calls->start_other != this) {
        calls->start_other->dpc.Activate();
        calls->start_other = nullptr;
    }
}

// Jobs numbered by their place in the array, bound, not yet active.
template <std::size_t N>
void Bind(Job (&jobs)[N], Calls& calls)
{
    for (std::size_t i = 0; i < N; ++i) {
        jobs[i].calls = &calls;
        jobs[i].id = static_cast<int>(i);
        jobs[i].dpc.Bind(&jobs[i], &Job::Run);
    }
}

class DpcTest : public ::testing::Test {
protected:
    void SetUp() override { Mux::test::freeze(); }
    void TearDown() override { Mux::test::thaw(); }
};

TEST_F(DpcTest, RunTwicePerPassInAscendingAddressOrder)
{
    Calls calls;
    Job jobs[3];
    Bind(jobs, calls);
    // Activated highest address first; they still run lowest first.
    jobs[2].dpc.Activate();
    jobs[0].dpc.Activate();
    jobs[1].dpc.Activate();
    jobs[1].dpc.Activate(); // a second activation keeps one registration
    EXPECT_EQ(3u, multiplexer.dpc_count());

    TestPipe pipe; // something to poll, so the pass has a descriptor
    struct Sink {
        void On(int, short) {}
    } sink;
    Event ev;
    ev.Bind("sink", &Sink::On, &sink);
    ev.Schedule(pipe.rd.fd(), POLLIN);

    Mux::test::run_once();
    EXPECT_EQ((std::vector<int>{0, 1, 2, 0, 1, 2}), calls.order);

    for (auto& j : jobs)
        j.dpc.Deactivate();
    jobs[0].dpc.Deactivate(); // deactivating an inactive call does nothing
    EXPECT_EQ(0u, multiplexer.dpc_count());
    ev.Release();
}

TEST_F(DpcTest, DeactivatedDuringASweepDoesNotRunLaterInIt)
{
    Calls calls;
    Job jobs[2];
    Bind(jobs, calls);
    for (auto& j : jobs)
        j.dpc.Activate();
    calls.stop_other = &jobs[1];
    multiplexer.execute_dpc();
    EXPECT_EQ((std::vector<int>{0}), calls.order);
    multiplexer.execute_dpc();
    EXPECT_EQ((std::vector<int>{0, 0}), calls.order);
    jobs[0].dpc.Deactivate();
}

TEST_F(DpcTest, ActivatedDuringASweepRunsFromTheNextOne)
{
    Calls calls;
    Job jobs[2];
    Bind(jobs, calls);
    // Whatever its address, the call activated by the running one waits.
    for (int first = 0; first < 2; ++first) {
        calls.order.clear();
        jobs[first].dpc.Activate();
        calls.start_other = &jobs[1 - first];
        multiplexer.execute_dpc();
        EXPECT_EQ((std::vector<int>{first}), calls.order);
        multiplexer.execute_dpc();
        EXPECT_EQ(3u, calls.order.size());
        jobs[0].dpc.Deactivate();
        jobs[1].dpc.Deactivate();
    }
}

TEST_F(DpcTest, UnboundIsSkippedAndDestructionDeactivates)
{
    {
        Dpc empty;
        empty.Activate();
        multiplexer.execute_dpc(); // no handler: nothing to call
        EXPECT_EQ(1u, multiplexer.dpc_count());
    }
    EXPECT_EQ(0u, multiplexer.dpc_count());

    int called = 0;
    static int* counter;
    counter = &called;
    Dpc plain;
    plain.Bind(new DpcHandler1([] { ++*counter; }));
    plain.Activate();
    multiplexer.execute_dpc();
    EXPECT_EQ(1, called);
    plain.Bind(new DpcHandler1([] { *counter += 10; })); // replaces, stays active
    multiplexer.execute_dpc();
    EXPECT_EQ(11, called);
}

} // namespace
