// The SNMP agent link in process, on the test clock, against fake agents on
// loopback: configuration, queueing of item values, ready lists, the ping,
// silence, what the agents send back, and several agents at once.

#include "monitoring/snmp_agent.hpp"

#include "control/control_test_helper.hpp"
#include "core/clock.hpp"
#include "tests/monitoring/fake_agent.hpp"
#include "tests/sim/board_fixture.hpp"

#include <gtest/gtest.h>

#include <iostream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

using MonTest::Bytes;
using MonTest::FakeAgent;
using MonTest::SetEntries;

namespace {

struct Listener : ISnmpAgentNotify {
    std::vector<std::string> connects;
    void OnSnmpAgentConnect(std::string const& name) override { connects.push_back(name); }
};

class AgentLinkTest : public ctltest::LoopTest {
protected:
    void TearDown() override
    {
        ctrl.reset();
        LoopTest::TearDown();
    }

    // One "[snmpagent]" occurrence per entry: {host, name}.
    void Configure(std::vector<std::pair<std::string, std::string>> const& agents)
    {
        std::string text;
        for (auto const& [host, name] : agents)
            text += "[snmpagent]\nhost = " + host + "\nname = " + name + "\n";
        std::istringstream in(text);
        in >> file;
        ctrl->CreateInstances(file["snmpagent"]);
    }
    static std::string At(FakeAgent const& a) { return "127.0.0.1:" + std::to_string(a.port()); }

    // Loop passes with the agents read in between, until nothing moves.
    void Pump(std::vector<FakeAgent*> agents = {})
    {
        if (agents.empty())
            agents = {&agent};
        for (int i = 0; i < 8; ++i) {
            pass();
            for (FakeAgent* a : agents)
                a->Poll(0);
        }
    }
    SnmpAgentInstance& Instance(std::size_t i = 0) { return *ctrl->instances().at(i); }
    bool Connected(std::size_t i = 0) { return Instance(i).state() == SnmpAgentInstance::Connected; }
    std::vector<std::string> Entries(std::size_t command)
    {
        std::vector<MON::Command> c = agent.commands();
        return command < c.size() ? SetEntries(c[command]) : std::vector<std::string>{"<none>"};
    }

    SimTest::Capture out{std::cout};
    SimTest::Capture log{std::clog};
    SimTest::Capture err{std::cerr};
    FakeAgent agent;
    IniFile::File file;
    std::unique_ptr<SnmpAgentCtrl> ctrl = std::make_unique<SnmpAgentCtrl>();
};

// An agent configured and connected, the link's output cleared.
class ConnectedTest : public AgentLinkTest {
protected:
    void SetUp() override
    {
        AgentLinkTest::SetUp();
        ctrl->Bind(&listener);
        Configure({{At(agent), "dakv"}});
        Pump();
        ASSERT_TRUE(Connected());
        ASSERT_EQ(agent.open(), 1);
        log.clear();
    }
    std::string Header() const { return "snmpagent.dakv " + At(agent); }

    Listener listener;
};

// ---------------------------------------------------------------------------
// Configuration

TEST_F(AgentLinkTest, EachOccurrenceIsOneAgentTypedByItsName)
{
    Configure({{At(agent), "dakv"}, {At(agent), "dizoru.qv"}, {At(agent), "0x10"}});
    ASSERT_EQ(ctrl->instances().size(), 3u);
    Pump();
    std::vector<int> types;
    for (auto const& i : ctrl->instances()) {
        types.push_back(i->address_type());
        EXPECT_EQ(i->state(), SnmpAgentInstance::Connected) << i->name();
        EXPECT_EQ(i->connector()->service_name(), i->header());
    }
    EXPECT_EQ(types, (std::vector<int>{2, 4, 16}));
    EXPECT_EQ(Instance(0).header(), "snmpagent.dakv " + At(agent));
    EXPECT_EQ(Instance(1).header(), "snmpagent.dizoru.qv " + At(agent));
    EXPECT_EQ(Instance(2).header(), "snmpagent.0x10 " + At(agent));
    EXPECT_EQ(agent.accepted(), 3);
    EXPECT_NE(log.str().find("snmpagent.dizoru.qv " + At(agent) + ": connected.\n"), std::string::npos);
    EXPECT_EQ(err.str(), "");
}

TEST_F(AgentLinkTest, NamesReadAsTableNamesOrWholeNumbersThatFitAnInt)
{
    struct Case {
        char const* name;
        int type; // -1: refused
    } const cases[] = {
        {"dizoru", 1}, {"dizoru.qv", 4},        {"dakv", 2},         {"12", 12},    {"0x1f", 31}, {"010", 8},
        {"0", 0},      {"2147483647", INT_MAX}, {"abc", -1},         {"12abc", -1}, {"0x", -1},   {"09", -1},
        {"Dakv", -1},  {"2147483648", -1},      {"0x100000002", -1}, {"", -1},
    };
    for (Case const& c : cases) {
        std::string text = std::string("[snmpagent]\nhost = 127.0.0.1\nname = ") + c.name + "\n";
        IniFile::File f;
        std::istringstream in(text);
        in >> f;
        err.clear();
        SnmpAgentInstance instance;
        // No port: the agent stays unused either way, after the name is read.
        EXPECT_FALSE(instance.Activate(*f["snmpagent"].begin()));
        EXPECT_EQ(instance.state(), SnmpAgentInstance::New);
        EXPECT_EQ(instance.connector(), nullptr);
        if (c.type < 0) {
            EXPECT_EQ(err.str(), std::string("snmpagent: required key \"name\" has invalid value=\"") +
                                     c.name + "\", line 3\n")
                << c.name;
        } else {
            EXPECT_EQ(err.str(),
                      "snmpagent: required key \"host\" has no port, value=\"127.0.0.1\", line 2\n")
                << c.name;
            EXPECT_EQ(instance.address_type(), c.type) << c.name;
        }
    }
}

TEST_F(AgentLinkTest, AnUnusableOccurrenceLeavesOnlyItsAgentUnconnected)
{
    Configure({{At(agent), "abc"},
               {"127.0.0.1", "dakv"},
               {"10.0.0.300:80", "dakv"},
               {"127.0.0.1:0", "dakv"},
               {"127.0.0.1:70000", "dakv"},
               {"127.0.0.1:", "dakv"},
               {At(agent) + "x", "dakv"},
               {At(agent), "dizoru"}});
    Pump();
    ASSERT_EQ(ctrl->instances().size(), 8u);
    for (std::size_t i = 0; i < 7; ++i) {
        EXPECT_EQ(Instance(i).state(), SnmpAgentInstance::New) << i;
        EXPECT_EQ(Instance(i).connector(), nullptr) << i;
    }
    EXPECT_TRUE(Connected(7));
    EXPECT_EQ(agent.accepted(), 1);
    // The reader names the bad name; a bad address or port, or none, is
    // named too.
    EXPECT_EQ(err.str(),
              "snmpagent: required key \"name\" has invalid value=\"abc\", line 3\n"
              "snmpagent: required key \"host\" has no port, value=\"127.0.0.1\", line 5\n"
              "snmpagent: required key \"host\" has invalid address or port, value=\"10.0.0.300:80\", "
              "line 8\n"
              "snmpagent: required key \"host\" has invalid address or port, value=\"127.0.0.1:0\", "
              "line 11\n"
              "snmpagent: required key \"host\" has invalid address or port, value=\"127.0.0.1:70000\", "
              "line 14\n"
              "snmpagent: required key \"host\" has invalid address or port, value=\"127.0.0.1:\", "
              "line 17\n"
              "snmpagent: required key \"host\" has invalid address or port, value=\"" +
                  At(agent) + "x\", line 20\n");
}

// ---------------------------------------------------------------------------
// Queued item values

TEST_F(ConnectedTest, AnItemOfMaskSixIsQueuedForKeyTwoThenKeyFour)
{
    ctrl->Send(SnmpAgentCtrl::driverBuild, "1.2 [rc 7]");
    EXPECT_EQ(SetEntries(*ctrl->pending(2)),
              (std::vector<std::string>{"1 gatewayCommon.driverBuild[0]=1.2 [rc 7]"}));
    EXPECT_EQ(SetEntries(*ctrl->pending(4)),
              (std::vector<std::string>{"2 gatewayCommon.driverBuild[0]=1.2 [rc 7]"}));
    EXPECT_EQ(ctrl->pending(0), nullptr);
    EXPECT_EQ(ctrl->pending(1), nullptr);
    Pump();
    // Every agent gets both commands, whatever its own type; key 2 first.
    ASSERT_EQ(agent.commands().size(), 2u);
    EXPECT_EQ(Entries(0), (std::vector<std::string>{"1 gatewayCommon.driverBuild[0]=1.2 [rc 7]"}));
    EXPECT_EQ(Entries(1), (std::vector<std::string>{"2 gatewayCommon.driverBuild[0]=1.2 [rc 7]"}));
    EXPECT_TRUE(SetEntries(*ctrl->pending(2)).empty());
    EXPECT_TRUE(SetEntries(*ctrl->pending(4)).empty());
}

TEST_F(ConnectedTest, MasksPickTheKeysAndOnePassLeavesInOneCommand)
{
    ctrl->Send(SnmpAgentCtrl::sgBuildVersion, "b1\n");
    ctrl->Send(SnmpAgentCtrl::extBoardStatus, 3, "2");
    ctrl->Send(SnmpAgentCtrl::temperature, "41.5");
    ctrl->Send(SnmpAgentCtrl::ifOperStatus, 7, "1");
    ctrl->Send(static_cast<SnmpAgentCtrl::MonitoringItemType>(35), "ignored");
    ctrl->Send(static_cast<SnmpAgentCtrl::MonitoringItemType>(-1), "ignored");
    Pump();
    ASSERT_EQ(agent.commands().size(), 2u);
    EXPECT_EQ(Entries(0), (std::vector<std::string>{"2 extBoardTable.extBoardStatus[3]=2",
                                                    "3 gatewayCommon.temperature[0]=41.5",
                                                    "4 ifTable.ifOperStatus[7]=1"}));
    EXPECT_EQ(Entries(1), (std::vector<std::string>{"1 statusGeneral.sgBuildVersion[0]=b1\n",
                                                    "5 ifTable.ifOperStatus[7]=1"}));

    // The next pass sends nothing more; the numbers go on.
    Pump();
    EXPECT_EQ(agent.commands().size(), 2u);
    ctrl->Send(SnmpAgentCtrl::e1Connected, 1, "1");
    Pump();
    EXPECT_EQ(Entries(2), (std::vector<std::string>{"6 e1Table.e1Connected[1]=1"}));
}

TEST(AgentItems, TheTableOfThirtyFiveItems)
{
    SnmpAgentCtrl ctrl;
    ASSERT_EQ(ctrl.items().size(), 35u);
    std::string masks, tables;
    for (std::size_t i = 0; i < ctrl.items().size(); ++i) {
        SnmpAgentCtrl::MonitoringItem const& item = ctrl.items()[i];
        EXPECT_EQ(item.type, static_cast<int>(i));
        masks += std::to_string(item.mask);
        if (tables.empty() || tables.compare(tables.rfind(' ') + 1, std::string::npos, item.table) != 0)
            tables += " " + item.table;
    }
    EXPECT_EQ(masks, "66666622222222222666222222244446662");
    EXPECT_EQ(tables,
              " gatewayCommon extBoardTable emPhoneTable gatewayTermCounters extBoardTermCntTable e1Table "
              "statusGeneral ifTable gatewayCommon");
    EXPECT_EQ(ctrl.items()[SnmpAgentCtrl::emPhoneFpgaSoftVer].column, "emPhoneFpgaSoftVer");
    EXPECT_EQ(ctrl.items()[SnmpAgentCtrl::sgFPGAVersion].column, "sgFPGAVersion");
    EXPECT_EQ(ctrl.items()[SnmpAgentCtrl::extBoardTermCnt].column, "extBoardTermCnt");
}

TEST_F(AgentLinkTest, ValuesQueuedWhileNoAgentIsConnectedAreDropped)
{
    ctrl->Send(SnmpAgentCtrl::gatewayDip, "5");
    Pump(); // nothing configured
    int const port = [] {
        FakeAgent gone;
        return gone.port();
    }();
    Configure({{"127.0.0.1:" + std::to_string(port), "dakv"}});
    ctrl->Send(SnmpAgentCtrl::gatewayDip, "6");
    Pump();
    EXPECT_EQ(Instance().state(), SnmpAgentInstance::Activated);
    FakeAgent late(port);
    ASSERT_TRUE(late.listening());
    advance(1000); // the connector's next quick retry
    Pump({&late});
    ASSERT_TRUE(Connected());
    EXPECT_TRUE(late.records().empty());
    EXPECT_FALSE(Instance().ping_pending());
    ctrl->Send(SnmpAgentCtrl::gatewayDip, "7");
    Pump({&late});
    ASSERT_EQ(late.commands().size(), 2u);
    EXPECT_EQ(SetEntries(late.commands()[0]), (std::vector<std::string>{"5 gatewayCommon.gatewayDip[0]=7"}));
}

// ---------------------------------------------------------------------------
// Ready lists

TEST_F(ConnectedTest, ReadyListsGoAtOnceAndEmptyOnesNotAtAll)
{
    ctrl->SendTrapsink({});
    ctrl->Send(MON::SnmpSetCommands{});
    agent.Poll(0);
    EXPECT_TRUE(agent.records().empty());
    EXPECT_FALSE(Instance().ping_pending());

    ctrl->SendTrapsink({"10.1.2.3", "trap.example"});
    MON::SnmpSetCommands list;
    MON::SnmpSetCommand c;
    c.set_uniq(77);
    c.get_id().set_oid("1.3.6.1.2.1.1.5.0");
    c.set_value("gw");
    list.get_commands().push_back(c);
    ctrl->Send(list);
    // No loop pass: both are on the wire already.
    agent.Poll(0);
    std::vector<MON::Command> got = agent.commands();
    ASSERT_EQ(got.size(), 2u);
    ASSERT_TRUE(got[0].is_snmp_trapsink_set());
    MON::SnmpTrapsinks::trapsinks_type const& sinks = got[0].get_snmp_trapsink_set().get_trapsinks();
    ASSERT_EQ(sinks.size(), 2u);
    EXPECT_EQ(std::string(sinks[0].get_host()), "10.1.2.3");
    EXPECT_FALSE(sinks[0].has_port());
    EXPECT_EQ(std::string(sinks[1].get_host()), "trap.example");
    EXPECT_FALSE(sinks[1].has_port());
    EXPECT_EQ(SetEntries(got[1]), (std::vector<std::string>{"77 1.3.6.1.2.1.1.5.0=gw"}));
    EXPECT_TRUE(Instance().ping_pending());
    EXPECT_FALSE(ctrl->pending(2)->get_snmp_set().get_commands().size());
}

// ---------------------------------------------------------------------------
// Ping and silence

TEST_F(ConnectedTest, OnlyASendArmsThePingFiveSecondsLater)
{
    ctrl->Send(SnmpAgentCtrl::gatewayDip, "1");
    Pump();
    advance(3000);
    ctrl->Send(SnmpAgentCtrl::gatewayDip, "2");
    Pump();
    ASSERT_EQ(agent.records().size(), 4u);
    advance(4999); // re-armed by the second send
    Pump();
    EXPECT_EQ(agent.records().size(), 4u);
    advance(1);
    Pump();
    ASSERT_EQ(agent.records().size(), 5u);
    EXPECT_EQ(agent.records().back().payload, Bytes{0x18});
    EXPECT_EQ(FakeAgent::Frame(agent.records().back().payload), (Bytes{0x03, 0x00, 0x00, 0x05, 0x18}));

    // An answering agent is pinged every 5 s and kept.
    for (int i = 0; i < 12; ++i) {
        advance(5000);
        Pump();
    }
    EXPECT_EQ(agent.records().size(), 5u + 12u);
    EXPECT_TRUE(Connected());
    EXPECT_EQ(agent.accepted(), 1);
    EXPECT_EQ(log.str(), "");
}

TEST_F(ConnectedTest, AnAgentSentNothingIsNeverPingedButTimesOutAtTheNextSend)
{
    advance(60000);
    Pump();
    EXPECT_TRUE(agent.records().empty());
    EXPECT_TRUE(Connected());
    EXPECT_FALSE(Instance().ping_pending());
    // Silence counts from the connect: the value goes out, then the link is
    // dropped.
    ctrl->Send(SnmpAgentCtrl::sgBuildVersion, "b");
    Pump();
    EXPECT_EQ(agent.commands().size(), 1u);
    EXPECT_EQ(Instance().state(), SnmpAgentInstance::ConnectionLost);
    EXPECT_NE(log.str().find(Header() + ": ping timeout !!!"), std::string::npos);
}

TEST_F(ConnectedTest, ASilentAgentIsDroppedAtTheFirstSendAfterThirtySecondsAndReconnected)
{
    agent.mode(FakeAgent::Mode::Silent);
    std::uint32_t const start = Mux::milliseconds();
    ctrl->Send(SnmpAgentCtrl::gatewayDip, "1");
    Pump();
    // Pings at 5 s .. 30 s keep it (30000 is not more than 30000), the one
    // at 35 s drops it.
    for (int i = 0; i < 6; ++i) {
        advance(5000);
        Pump();
    }
    EXPECT_TRUE(Connected());
    EXPECT_EQ(log.str(), "");
    advance(5000);
    std::string const timeout = Header() + ": ping timeout !!! now=" + std::to_string(start + 35000) +
                                " stamp=" + std::to_string(start) + "\n";
    EXPECT_EQ(log.str(), timeout);
    Pump();
    EXPECT_EQ(Instance().state(), SnmpAgentInstance::ConnectionLost);
    EXPECT_EQ(log.str(), timeout + Header() + ": connection lost, reset snmpagent instance\n");
    EXPECT_EQ(agent.records().size(), 2u + 7u);
    EXPECT_EQ(agent.closed_by_peer(), 1);
    EXPECT_FALSE(Instance().ping_pending());

    // The connector comes back 10 s later, and the listener hears it.
    agent.mode(FakeAgent::Mode::Answer);
    log.clear();
    advance(9999);
    Pump();
    EXPECT_EQ(agent.accepted(), 1);
    advance(1);
    Pump();
    EXPECT_TRUE(Connected());
    EXPECT_EQ(agent.accepted(), 2);
    EXPECT_EQ(log.str(), Header() + ": connected.\n");
    EXPECT_EQ(listener.connects, (std::vector<std::string>{"dakv", "dakv"}));
}

TEST_F(ConnectedTest, AnyFrameCountsAsLifeEvenOneThatDoesNotDecode)
{
    agent.mode(FakeAgent::Mode::Silent);
    std::uint32_t const start = Mux::milliseconds();
    ctrl->Send(SnmpAgentCtrl::gatewayDip, "1");
    Pump();
    advance(20000);
    agent.SendPayload({0xff, 0xff, 0xff});
    Pump();
    EXPECT_EQ(Instance().last_receive(), start + 20000);
    EXPECT_EQ(err.str(), Header() + ": receive : decode error!\n");
    advance(30000); // the ping at 50 s is 30 s after the frame
    Pump();
    EXPECT_TRUE(Connected());
    advance(5000);
    Pump();
    EXPECT_EQ(Instance().state(), SnmpAgentInstance::ConnectionLost);
}

TEST_F(AgentLinkTest, SilenceIsASignedDifferenceAcrossTheClockWrap)
{
    // The millisecond clock wraps 4 s after the connect.
    Mux::test::freeze_at((0x100000000ULL - 4000) * 1000);
    agent.mode(FakeAgent::Mode::Silent);
    Configure({{At(agent), "dakv"}});
    Pump();
    ASSERT_TRUE(Connected());
    ctrl->Send(SnmpAgentCtrl::gatewayDip, "1");
    Pump();
    advance(10000);
    Pump();
    EXPECT_TRUE(Connected());
    advance(25000);
    Pump();
    EXPECT_EQ(Instance().state(), SnmpAgentInstance::ConnectionLost);
    EXPECT_NE(log.str().find("ping timeout !!! now=31000 stamp=4294963296\n"), std::string::npos)
        << log.str();
}

// ---------------------------------------------------------------------------
// What the agent sends

TEST_F(ConnectedTest, CommandsFromTheAgentAreLoggedAnswersAndSignalsIgnored)
{
    auto encode = [](MON::Message const& m) {
        std::vector<char> bytes;
        ASN1::CoderEnv env(ASN1::CoderEnv::per_Aligned);
        EXPECT_TRUE(ASN1::encode(m, &env, std::back_inserter(bytes)));
        return Bytes(bytes.begin(), bytes.end());
    };
    MON::Message command;
    command.get_pdu().select_command().set_ping();
    MON::Message response;
    response.get_pdu().select_response().select_ping().set_error(MON::ErrorCause::wrongValue);
    MON::Message signal;
    MON::SnmpSetSignal& s = signal.get_pdu().select_signal().select_snmp_set();
    s.set_oid("1.3");
    s.get_name().set_section("a");
    s.get_name().set_name("b");
    s.get_name().set_index(1);
    s.set_value("v");
    agent.SendPayload(encode(response));
    agent.SendPayload(encode(signal));
    Pump();
    EXPECT_EQ(err.str(), "");
    agent.SendPayload(encode(command));
    // A frame split across reads is still one frame.
    Bytes frame = FakeAgent::Frame(encode(command));
    agent.SendRaw(Bytes(frame.begin(), frame.begin() + 3));
    Pump();
    agent.SendRaw(Bytes(frame.begin() + 3, frame.end()));
    Pump();
    EXPECT_EQ(err.str(),
              Header() + ": receive unknown message type\n" + Header() + ": receive unknown message type\n");
    EXPECT_TRUE(agent.records().empty()) << "nothing is answered";
    EXPECT_TRUE(Connected());
}

TEST_F(ConnectedTest, ALargeCommandArrivesWhole)
{
    // Many reads on the agent's side; 128 entries is as many as our own
    // decoder takes in one list.
    std::string const text(400, 'x');
    for (int i = 0; i < 128; ++i)
        ctrl->Send(SnmpAgentCtrl::e1StatusDsc, i, text + std::to_string(i));
    Pump();
    ASSERT_EQ(agent.commands().size(), 1u);
    EXPECT_GT(agent.records()[0].payload.size(), 50000u);
    std::vector<std::string> entries = Entries(0);
    ASSERT_EQ(entries.size(), 128u);
    EXPECT_EQ(entries[127], "128 e1Table.e1StatusDsc[127]=" + text + "127");
}

TEST_F(ConnectedTest, MoreValuesThanOneListTakesLeaveInSeveralCommands)
{
    for (int i = 0; i < 130; ++i)
        ctrl->Send(SnmpAgentCtrl::e1NegSlipCount, i, std::to_string(i));
    Pump();
    ASSERT_EQ(agent.commands().size(), 2u);
    EXPECT_EQ(Entries(0).size(), 128u);
    EXPECT_EQ(Entries(1), (std::vector<std::string>{"129 e1Table.e1NegSlipCount[128]=128",
                                                    "130 e1Table.e1NegSlipCount[129]=129"}));

    // A ready list of the same length likewise, at once.
    MON::SnmpSetCommands list;
    for (int i = 0; i < 129; ++i) {
        MON::SnmpSetCommand c;
        c.set_uniq(i);
        c.get_id().set_oid("1.3.6." + std::to_string(i));
        c.set_value("v");
        list.get_commands().push_back(c);
    }
    agent.clear();
    ctrl->Send(list);
    Pump();
    ASSERT_EQ(agent.commands().size(), 2u);
    EXPECT_EQ(Entries(0).size(), 128u);
    EXPECT_EQ(Entries(1).size(), 1u);

    // Five values of 16000 octets: more than one frame carries, so the list
    // is halved until each part fits one.
    agent.clear();
    std::string const version(16000, 'v');
    for (int i = 0; i < 5; ++i)
        ctrl->Send(SnmpAgentCtrl::extBoardSoftVer, i, version);
    Pump();
    ASSERT_EQ(agent.commands().size(), 2u);
    EXPECT_EQ(Entries(0).size() + Entries(1).size(), 5u);
    EXPECT_EQ(Entries(1).back(), "135 extBoardTable.extBoardSoftVer[4]=" + version);
    for (auto const& r : agent.records())
        EXPECT_LE(r.payload.size(), 65531u);
}

// ---------------------------------------------------------------------------
// Several agents

TEST_F(AgentLinkTest, TwoAgentsReceiveTheSameAndDestructionClosesBoth)
{
    FakeAgent second;
    Listener listener;
    Configure({{At(agent), "dakv"}, {At(second), "dizoru.qv"}});
    ctrl->Bind(&listener);
    Pump({&agent, &second});
    EXPECT_EQ(listener.connects, (std::vector<std::string>{"dakv", "dizoru.qv"}));
    ctrl->SendTrapsink({"10.0.0.9"});
    ctrl->Send(SnmpAgentCtrl::powerStatus, "1");
    ctrl->Send(SnmpAgentCtrl::sgBoardVersion, "B");
    Pump({&agent, &second});
    advance(5000);
    Pump({&agent, &second});
    ASSERT_EQ(agent.records().size(), 4u);
    ASSERT_EQ(second.records().size(), 4u);
    for (std::size_t i = 0; i < 4; ++i)
        EXPECT_EQ(agent.records()[i].payload, second.records()[i].payload) << i;
    EXPECT_EQ(second.records()[3].payload, Bytes{0x18});

    ctrl->UnBind();
    ctrl.reset();
    agent.Poll(0);
    second.Poll(0);
    EXPECT_EQ(agent.closed_by_peer(), 1);
    EXPECT_EQ(second.closed_by_peer(), 1);
    EXPECT_EQ(listener.connects.size(), 2u);
}

} // namespace
