#include "store_fixture.hpp"

#include "core/paths.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include <unistd.h>

namespace {

using MonTest::StoreTest;

LGCP::TermCounter Counter(LGCP::TermCounterOwner::NamedNumber owner, int cnt, int id = -1)
{
    LGCP::TermCounter c;
    c.set_owner(owner);
    if (id >= 0)
        c.set_ownerId(id);
    c.set_cnt(cnt);
    return c;
}

MON::SnmpSetCommand Named(int uniq, const std::string& section, int index, const std::string& name,
                          const std::string& value)
{
    MON::SnmpSetCommand c;
    c.set_uniq(uniq);
    MON::IniName& id = c.get_id().select_name();
    id.set_section(section);
    id.set_name(name);
    id.set_index(index);
    c.set_value(value);
    return c;
}

MON::SnmpSetCommand Oid(int uniq, const std::string& oid, const std::string& value)
{
    MON::SnmpSetCommand c;
    c.set_uniq(uniq);
    c.get_id().set_oid(oid);
    c.set_value(value);
    return c;
}

MON::SnmpSetCommands List(std::vector<MON::SnmpSetCommand> const& commands)
{
    MON::SnmpSetCommands list;
    for (const auto& c : commands)
        list.get_commands().push_back(c);
    return list;
}

// Every path below the root, for "nothing was created anywhere".
std::vector<std::string> Tree(const std::string& dir)
{
    std::vector<std::string> out;
    for (const auto& e : std::filesystem::recursive_directory_iterator(dir))
        out.push_back(e.path().string().substr(dir.size()));
    std::sort(out.begin(), out.end());
    return out;
}

} // namespace

TEST_F(StoreTest, ConstructionFindsAddressFramersAndInterfaces)
{
    SetAddresses({"10.1.2.3", "192.168.1.1"});
    netifs.Add(1, "lo");
    netifs.Add(2, "eth0");
    netifs.Add(16, "beyond");
    root.mkdirs("proc/driver/hdlc/peb22554");
    root.write("proc/driver/hdlc/peb22554/0", "");
    root.write("proc/driver/hdlc/peb22554/2", "");

    MonitoringDataHolder& s = Build();
    EXPECT_EQ("10.1.2.3:0", s.ownAddress.GetString());
    ASSERT_EQ(2u, s.framers.size());
    EXPECT_EQ(1, s.framers.front().number);
    EXPECT_EQ(RootPath("/proc/driver/hdlc/peb22554/0"), s.framers.front().path);
    EXPECT_EQ(3, s.framers.back().number);
    EXPECT_EQ(RootPath("/proc/driver/hdlc/peb22554/2"), s.framers.back().path);
    ASSERT_EQ(2u, s.netIfs.size()) << "indexes 0 to 15 only";
    EXPECT_EQ(1, s.netIfs.front().ifIndex);
    EXPECT_EQ("lo", s.netIfs.front().name);
    EXPECT_EQ(2, s.netIfs.back().ifIndex);
    EXPECT_EQ("eth0", s.netIfs.back().name);
    EXPECT_EQ(netifs.opens, netifs.closes);
    EXPECT_TRUE(Exists("term_cnts"));

    EXPECT_EQ(-1, s.dipValue);
    EXPECT_EQ(-1, s.controllerPid);
    EXPECT_EQ(0xFFFFFFFFu, s.configVersionHead);
    EXPECT_EQ(~0ull, s.configVersionTail);
    EXPECT_EQ(LGCP::POWERStatus::unknown, s.powerStatus.getValue());
    EXPECT_EQ(HSP::ControllerStatus::unknown, s.ownControllerStatus.getValue());
    EXPECT_TRUE(s.snmpCommands.get_commands().empty());
}

TEST_F(StoreTest, WithoutPrivateAddressOrSocketTheStoreStillRuns)
{
    netifs.open_error = EPERM;
    MonitoringDataHolder& s = Build();
    EXPECT_EQ("127.0.0.1:0", s.ownAddress.GetString());
    EXPECT_TRUE(s.netIfs.empty());
    EXPECT_TRUE(s.framers.empty());
}

TEST_F(StoreTest, SettersReportChangesAndWriteOnlyThen)
{
    MonitoringDataHolder& s = Build();
    EXPECT_TRUE(s.setDipValue(0)) << "the first reading always differs from -1";
    EXPECT_TRUE(s.setConfigVersion(0, 0));
    LGCP::POWERStatus unknown;
    EXPECT_FALSE(s.setPowerStatus(unknown)) << "a first `unknown` equals the initial value";
    EXPECT_FALSE(Exists("powerstatus"));

    ::unlink(RootPath("/var/monitoring/dip").c_str());
    ::unlink(RootPath("/var/monitoring/config_version").c_str());
    EXPECT_FALSE(s.setDipValue(0));
    EXPECT_FALSE(s.setConfigVersion(0, 0));
    EXPECT_FALSE(Exists("dip")) << "an unchanged value writes nothing";
    EXPECT_FALSE(Exists("config_version"));
    EXPECT_TRUE(s.setConfigVersion(0, 1)) << "either part";
    EXPECT_TRUE(s.setConfigVersion(1, 1));

    EXPECT_TRUE(s.setBuildVersion("1.0"));
    EXPECT_FALSE(s.setBuildVersion("1.0"));
    EXPECT_TRUE(s.setBuildVersion("1.0\n")) << "a trailing newline is a change";
    EXPECT_EQ("1.0\n", s.buildVersion);
    EXPECT_TRUE(s.setFPGAVersion("f"));
    EXPECT_TRUE(s.setBootVersion("b"));
    EXPECT_TRUE(s.setBoardVersion("d"));
    EXPECT_TRUE(s.setTemperature("41.5"));
    EXPECT_FALSE(s.setTemperature("41.5"));
    EXPECT_TRUE(s.setTemperature(""));
    EXPECT_EQ("f", s.fpgaVersion);
    EXPECT_EQ("b", s.bootVersion);
    EXPECT_EQ("d", s.boardVersion);
}

TEST_F(StoreTest, BoardsAndPhonesAreKeptByPositionAndId)
{
    MonitoringDataHolder& s = Build();
    LGCP::DisplayParams d;
    LGCP::BoardStatusParams& b = d.select_board().select_boardStatus();
    b.set_position(2);
    b.set_version("1");
    b.set_status(LGCP::ExtBoardStatus::waitBoard);
    b.set_type(LGCP::ExtBoardType::isdn);
    s.setDisplayStatus(d);
    b.set_position(5);
    s.setDisplayStatus(d);
    b.set_position(2);
    b.set_version("2");
    b.set_status(LGCP::ExtBoardStatus::ready);
    s.setDisplayStatus(d);
    ASSERT_EQ(2u, s.boards.size());
    EXPECT_EQ(2, s.boards.front().get_position().getValue());
    EXPECT_EQ("2", std::string(s.boards.front().get_version()));
    EXPECT_EQ(LGCP::ExtBoardStatus::ready, s.boards.front().get_status().getValue());
    EXPECT_EQ("3\n2\n1\n", Read("board2"));

    LGCP::DisplayParams p;
    LGCP::EmPhoneStatusParams& ph = p.select_emPhone().select_phoneStatus();
    ph.set_id(0);
    ph.set_mode(LGCP::EmPhoneMode::active);
    s.setDisplayStatus(p);
    ph.set_mode(LGCP::EmPhoneMode::sleep);
    s.setDisplayStatus(p);
    ASSERT_EQ(1u, s.phones.size());
    EXPECT_EQ(LGCP::EmPhoneMode::sleep, s.phones.front().get_mode().getValue());
    EXPECT_TRUE(Exists("emphone0"));

    // The channel reports change nothing.
    const auto before = Tree(root.dir());
    LGCP::DisplayParams bc;
    bc.select_board().select_boardChannelStatus();
    s.setDisplayStatus(bc);
    LGCP::DisplayParams pc;
    pc.select_emPhone().select_phoneChannelStatus();
    s.setDisplayStatus(pc);
    LGCP::DisplayParams framer;
    framer.select_framer().get_info().set_line(true);
    s.setDisplayStatus(framer);
    EXPECT_EQ(2u, s.boards.size());
    EXPECT_EQ(1u, s.phones.size());
    EXPECT_EQ(before, Tree(root.dir()));
}

TEST_F(StoreTest, TermCountersByOwnerAndOwnerId)
{
    MonitoringDataHolder& s = Build();
    s.setTermCounter(Counter(LGCP::TermCounterOwner::extBoard, 10, 1));
    s.setTermCounter(Counter(LGCP::TermCounterOwner::extBoard, 20, 2));
    EXPECT_EQ(2u, s.termCounters.size());
    EXPECT_EQ("10", Read("term_cnts/board1"));
    EXPECT_EQ("20", Read("term_cnts/board2"));

    // Without an id: a counter of its own (no file), not a takeover of
    // board 1's entry.
    const auto before = Tree(root.dir());
    s.setTermCounter(Counter(LGCP::TermCounterOwner::extBoard, 30));
    ASSERT_EQ(3u, s.termCounters.size());
    EXPECT_EQ(before, Tree(root.dir()));
    EXPECT_EQ(10, s.termCounters.front().get_cnt().getValue());
    EXPECT_FALSE(s.termCounters.back().has_ownerId());

    // Later board reports still reach their own entries.
    s.setTermCounter(Counter(LGCP::TermCounterOwner::extBoard, 11, 1));
    s.setTermCounter(Counter(LGCP::TermCounterOwner::extBoard, 31));
    ASSERT_EQ(3u, s.termCounters.size());
    auto it = s.termCounters.begin();
    EXPECT_EQ(11, (it++)->get_cnt().getValue());
    EXPECT_EQ(20, (it++)->get_cnt().getValue());
    EXPECT_EQ(31, it->get_cnt().getValue());
    EXPECT_EQ("11", Read("term_cnts/board1"));

    // The other owners: their own file whatever the id; an entry without an
    // id takes every report of its owner.
    s.setTermCounter(Counter(LGCP::TermCounterOwner::router, 5));
    s.setTermCounter(Counter(LGCP::TermCounterOwner::router, -6, 9));
    EXPECT_EQ("-6", Read("term_cnts/router"));
    s.setTermCounter(Counter(LGCP::TermCounterOwner::controller, 7));
    s.setTermCounter(Counter(LGCP::TermCounterOwner::server, 8));
    EXPECT_EQ("7", Read("term_cnts/controller"));
    EXPECT_EQ("8", Read("term_cnts/server"));
    EXPECT_EQ(6u, s.termCounters.size());
    s.setTermCounter(Counter(LGCP::TermCounterOwner::none, 1));
    EXPECT_EQ(7u, s.termCounters.size()) << "owner none: stored, no file";
}

TEST_F(StoreTest, SetCommandsMergeByIdentifier)
{
    MonitoringDataHolder& s = Build();
    LGCP::DisplayParams d;
    d.set_snmp_set(List({Named(1, "a", 3, "b", "x"), Oid(2, "1.3.6.1.2", "o")}));
    s.setDisplayStatus(d);
    EXPECT_EQ("x", Read("a/3/b"));
    ASSERT_EQ(2u, s.snmpCommands.get_commands().size());

    s.setSnmpCommands(
        List({Named(9, "a", 3, "b", "y"), Oid(10, "1.3.6.1.2", "p"), Named(11, "a", 4, "b", "z")}));
    const auto& stored = s.snmpCommands.get_commands();
    ASSERT_EQ(3u, stored.size());
    EXPECT_EQ("y", std::string(stored[0].get_value()));
    EXPECT_EQ(1, stored[0].get_uniq().getValue()) << "the stored uniq is kept";
    EXPECT_EQ("p", std::string(stored[1].get_value()));
    EXPECT_EQ("z", std::string(stored[2].get_value()));
    EXPECT_EQ("y", Read("a/3/b"));
    EXPECT_EQ("z", Read("a/4/b"));
    EXPECT_EQ(s.snmpValue, "z");

    // An oid whose text equals a name's parts is another identifier.
    s.setSnmpCommands(List({Oid(12, "a", "q")}));
    EXPECT_EQ(4u, stored.size());
}

TEST_F(StoreTest, SetCommandsNeverWriteOutsideTheFolder)
{
    MonitoringDataHolder& s = Build();
    const auto before = Tree(root.dir());
    const std::pair<std::string, std::string> bad[] = {
        {"..", "x"}, {"../x", "b"}, {"a", "../../x"}, {"", "b"},    {"a", ""},
        {".", "b"},  {"a", "."},    {"a/b", "c"},     {"a", "b/c"}, {std::string("a\0b", 3), "c"},
    };
    for (const auto& [section, name] : bad) {
        log.clear();
        s.setSnmpCommands(List({Named(1, section, 0, name, "v")}));
        EXPECT_NE(std::string::npos, log.str().find("refused")) << section << " / " << name;
    }
    EXPECT_EQ(before, Tree(root.dir())) << "no file, no directory";
    EXPECT_EQ(std::size(bad), s.snmpCommands.get_commands().size()) << "stored and merged as usual";
    log.clear();
    s.setSnmpCommands(List({Named(1, "../x", 0, "b", "w")}));
    EXPECT_EQ(std::size(bad), s.snmpCommands.get_commands().size());
    EXPECT_EQ("w", std::string(s.snmpCommands.get_commands()[1].get_value()));
    EXPECT_EQ("snmp set: refused file name, section \"../x\" index 0 name \"b\"\n", log.str());
    EXPECT_EQ(before, Tree(root.dir()));
}

TEST_F(StoreTest, TrapReceiversAreReplacedWhole)
{
    MonitoringDataHolder& s = Build();
    LGCP::DisplayParams d;
    auto& list = d.select_snmpTrapReceivers();
    ASN1::IA5String r;
    r = "10.0.0.1";
    list.push_back(r);
    r = "10.0.0.2:162";
    list.push_back(r);
    s.setDisplayStatus(d);
    EXPECT_EQ((std::list<std::string>{"10.0.0.1", "10.0.0.2:162"}), s.trapReceivers);
    EXPECT_NE(std::string::npos, log.str().find("Trap receivers:{")) << log.str();

    list.clear();
    s.setDisplayStatus(d);
    EXPECT_TRUE(s.trapReceivers.empty());
}

TEST_F(StoreTest, ControllerDisplayGoesToTheControllerSetter)
{
    SetAddresses({"10.1.2.3"});
    MonitoringDataHolder& s = Build();
    LGCP::DisplayParams d;
    LGCP::ControllerInfo& c = d.select_controller();
    c.get_host().set_iaddr("10.1.2.3");
    c.get_host().set_port(0);
    c.set_status(HSP::ControllerStatus::active);
    s.setDisplayStatus(d);
    EXPECT_EQ(HSP::ControllerStatus::active, s.ownControllerStatus.getValue());
    EXPECT_EQ("2", Read("controller/self/status"));

    LGCP::DisplayParams t;
    t.set_termCounter(Counter(LGCP::TermCounterOwner::server, 3));
    s.setDisplayStatus(t);
    EXPECT_EQ("3", Read("term_cnts/server"));
}
