// Everything the agent link puts on the wire, read by an independent coder:
// Erlang/OTP's aligned PER decodes each payload the fake agent recorded and
// encodes it back to the same octets (tests/asn1/erlang/cpp_corpus.escript).
// Host only: the board's build has no Erlang.

#include "monitoring/monitoring_ctl.hpp"
#include "monitoring/snmp_agent.hpp"

#include "control/control_test_helper.hpp"
#include "tests/core/core_helper.hpp"
#include "tests/monitoring/fake_agent.hpp"
#include "tests/sim/board_fixture.hpp"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>

#include <unistd.h>

namespace {

struct AgentErlangTest : ctltest::LoopTest {
    void Pump()
    {
        for (int i = 0; i < 8; ++i) {
            pass();
            agent.Poll(0);
        }
    }

    SimTest::Capture out{std::cout};
    SimTest::Capture log{std::clog};
    MonTest::FakeAgent agent;
};

// Runs the command; its exit status, with its output in *text.
int RunCommand(std::string const& command, std::string* text)
{
    FILE* p = ::popen((command + " 2>&1").c_str(), "r");
    if (p == nullptr)
        return -1;
    char buf[4096];
    std::size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, p)) > 0)
        text->append(buf, n);
    return ::pclose(p);
}

// Erlang decodes and re-encodes every payload the agent recorded.
void ErlangReads(MonTest::FakeAgent const& agent)
{
    char path[] = "/tmp/gw-mon-corpus-XXXXXX";
    int fd = ::mkstemp(path);
    ASSERT_GE(fd, 0);
    ::close(fd);
    {
        std::ofstream corpus(path);
        corpus << agent.corpus();
    }
    std::string const gen = std::string(GW_ASN1_GEN_DIR);
    std::string const command = "escript " GW_ASN1_ERLANG_TESTS "/cpp_corpus.escript " + gen +
                                "/erlang/per " + gen + "/reachable.txt " + path;
    std::string text;
    EXPECT_EQ(RunCommand(command, &text), 0) << command << "\n" << text;
    EXPECT_NE(text.find(" passed, 0 failed"), std::string::npos) << text;
    ::unlink(path);
}

TEST_F(AgentErlangTest, ErlangReadsEveryPayloadTheAgentRecorded)
{
    {
        SnmpAgentCtrl ctrl;
        IniFile::File file;
        std::istringstream in("[snmpagent]\nhost = 127.0.0.1:" + std::to_string(agent.port()) +
                              "\nname = dakv\n");
        in >> file;
        ctrl.CreateInstances(file["snmpagent"]);
        Pump();
        ASSERT_EQ(ctrl.instances()[0]->state(), SnmpAgentInstance::Connected);

        // Every item, with indices and texts of every length class of the
        // encoding (empty, short, one and two length octets).
        std::string const values[] = {"",
                                      "1",
                                      "41.5",
                                      "v 1.2 rc 7\n",
                                      std::string(127, 'a'),
                                      std::string(128, 'b'),
                                      std::string(300, '~')};
        for (int type = 0; type < SnmpAgentCtrl::item_count; ++type) {
            int const index = type % 4 == 0 ? 0 : type * 1000 - 7000;
            ctrl.Send(static_cast<SnmpAgentCtrl::MonitoringItemType>(type), index,
                      values[static_cast<std::size_t>(type) % std::size(values)]);
        }
        Pump();
        ctrl.SendTrapsink({"10.0.0.1", "", "trap.example:162"});
        MON::SnmpSetCommands list;
        MON::SnmpSetCommand c;
        c.set_uniq(-5);
        c.get_id().set_oid("1.3.6.1.4.1.9.9");
        c.set_value("x");
        list.get_commands().push_back(c);
        MON::IniName& id = c.get_id().select_name();
        id.set_section("gatewayCommon");
        id.set_name("gatewayDip");
        id.set_index(2147483647);
        c.set_uniq(65536);
        list.get_commands().push_back(c);
        ctrl.Send(list);
        Pump();
        advance(5000); // a ping
        Pump();
    }
    Pump();
    ASSERT_GE(agent.records().size(), 5u);
    for (MonTest::FakeAgent::Record const& r : agent.records())
        EXPECT_TRUE(r.decoded);

    ErlangReads(agent);
}

// The monitoring service's whole state at an agent's connect, on a board
// with more values than one list of the agent's decoder takes.
TEST_F(AgentErlangTest, ErlangReadsTheRefreshOfABusyBoard)
{
    TempRoot root;
    root.mkdirs("var");
    root.mkdirs("proc/voice");
    root.write("var/version", "1.0\n");
    root.write("var/board-version", std::string(254, 'b'));
    root.write("proc/voice/version", "v 1.2 rc 7\n");
    {
        MonitoringCtl m;
        LGCP::DisplayParams d;
        for (int id = 0; id < 20; ++id) {
            LGCP::EmPhoneStatusParams& p = d.select_emPhone().select_phoneStatus();
            p.set_id(id);
            p.get_panelSV().assign(std::size_t(id), 'p');
            p.get_powerStatus() = LGCP::POWERStatus::both;
            m.OnDisplayCMD(d);
        }
        for (int position = 0; position < 8; ++position) {
            LGCP::BoardStatusParams& b = d.select_board().select_boardStatus();
            b.set_position(position);
            b.get_version().assign({'2', '.', '1'});
            m.OnDisplayCMD(d);
        }
        LGCP::TermCounter& t = d.select_termCounter();
        t.get_owner() = LGCP::TermCounterOwner::extBoard;
        t.set_ownerId(-1);
        t.set_cnt(2147483647);
        m.OnDisplayCMD(d);
        ASN1::IA5String receiver;
        receiver = "10.0.0.1:162";
        d.select_snmpTrapReceivers().push_back(receiver);
        m.OnDisplayCMD(d);
        MON::SnmpSetCommand c;
        c.set_uniq(1);
        c.get_id().set_oid("1.3.6.1.2.1.1.4.0");
        c.set_value("ops");
        d.select_snmp_set().get_commands().push_back(c);
        m.OnDisplayCMD(d);
        Pump();
        agent.clear();

        IniFile::File file;
        std::istringstream in("[snmpagent]\nhost = 127.0.0.1:" + std::to_string(agent.port()) +
                              "\nname = dakv\n");
        in >> file;
        m.Configure(file);
        Pump();
    }
    Pump();
    int sets = 0;
    for (MON::Command const& c : agent.commands())
        sets += c.is_snmp_set() ? 1 : 0;
    EXPECT_GE(sets, 4) << "the host's list, then the values in more than one command";
    for (MonTest::FakeAgent::Record const& r : agent.records())
        EXPECT_TRUE(r.decoded);
    ErlangReads(agent);
}

} // namespace
