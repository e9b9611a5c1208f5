#include "store_fixture.hpp"

#include "monitoring/netif_data_holder.hpp"

#include <gtest/gtest.h>

namespace {

using MonTest::FakeNetIfs;

class NetIfTest : public ::testing::Test {
protected:
    NetIfTest()
    {
        NetIfSource::Set(&source);
        traces[TraceCtl::monitoring_internal] = true;
    }
    ~NetIfTest() override
    {
        traces.Reset();
        NetIfSource::Set(nullptr);
    }
    FakeNetIfs source;
    SimTest::Capture log{std::clog};
};

} // namespace

TEST(NetIfSmoothing, TwoRunningSamplesOfTheLastThreeMakeItUp)
{
    NetIfDataHolder n(2, "eth0");
    EXPECT_EQ(-1, n.upState);
    EXPECT_EQ(2, n.operStatus);
    EXPECT_EQ(2, n.adminStatus);

    struct Step {
        int sample;
        int state;
        bool changed;
    } const steps[] = {{1, 0, true}, {1, 1, true}, {0, 1, false}, {1, 1, false}, {0, 0, true}, {0, 0, false}};
    for (const Step& s : steps) {
        EXPECT_EQ(s.changed, n.setNetIfStatus(s.sample));
        EXPECT_EQ(s.state, n.upState);
        EXPECT_EQ(s.state == 1 ? 1 : 2, n.operStatus);
        EXPECT_EQ(n.operStatus, n.adminStatus);
        EXPECT_LE(n.samples.size(), 3u);
    }
    EXPECT_EQ((std::deque<std::int32_t>{1, 0, 0}), n.samples) << "oldest first";
    EXPECT_FALSE(n.setNetIfStatus(7)) << "any non-zero sample counts as one running sample";
    EXPECT_TRUE(n.setNetIfStatus(9));
    EXPECT_EQ((std::deque<std::int32_t>{0, 1, 1}), n.samples);
}

TEST_F(NetIfTest, SamplesTheRunningFlagByIndex)
{
    source.Add(3, "eth1");
    NetIfDataHolder n(3, "eth1");
    EXPECT_TRUE(n.updateNetIf()) << "the first sample always changes";
    EXPECT_TRUE(n.updateNetIf());
    EXPECT_EQ(1, n.upState);
    source.SetRunning(3, false);
    EXPECT_FALSE(n.updateNetIf());
    EXPECT_TRUE(n.updateNetIf());
    EXPECT_EQ(0, n.upState);
    // The name is looked up again by index at every sample.
    source.interfaces[3] = {"renamed", 0x41};
    n.updateNetIf();
    EXPECT_TRUE(n.updateNetIf());
    EXPECT_EQ("eth1", n.name) << "the name found at start stays";
    EXPECT_EQ(source.opens, source.closes);
    EXPECT_EQ("", log.str());
}

TEST_F(NetIfTest, FailuresChangeNothingAndAreTracedWhenAsked)
{
    source.Add(1, "lo");
    NetIfDataHolder n(1, "lo");
    source.open_error = EACCES;
    EXPECT_FALSE(n.updateNetIf());
    EXPECT_EQ("Error open socket:  errno=\"Permission denied\"\n", log.str());
    EXPECT_TRUE(n.samples.empty());

    log.clear();
    source.open_error = 0;
    source.request_error = ENODEV;
    EXPECT_FALSE(n.updateNetIf());
    EXPECT_EQ("Error ioctl socket:  errno=\"No such device\"\n", log.str());
    EXPECT_EQ(-1, n.upState);
    EXPECT_EQ(source.opens - 1, source.closes) << "the socket that did not open is not closed";

    log.clear();
    traces.Reset();
    EXPECT_FALSE(n.updateNetIf());
    EXPECT_EQ("", log.str()) << "only with \"monitoring.internal\"";
}
