#include "store_fixture.hpp"

#include "core/paths.hpp"

#include <gtest/gtest.h>

#include <string>

#include <sys/stat.h>
#include <unistd.h>

namespace {

using MonTest::StoreTest;

LGCP::BoardInfo Board(int position, const std::string& version, LGCP::ExtBoardStatus::NamedNumber status,
                      LGCP::ExtBoardType::NamedNumber type)
{
    LGCP::BoardInfo info;
    LGCP::BoardStatusParams& p = info.select_boardStatus();
    p.set_position(position);
    p.set_version(version);
    p.set_status(status);
    p.set_type(type);
    return info;
}

LGCP::EmPhoneInfo Phone(int id, LGCP::EmPhoneStatus::NamedNumber status)
{
    LGCP::EmPhoneInfo info;
    LGCP::EmPhoneStatusParams& p = info.select_phoneStatus();
    p.set_id(id);
    p.set_panelSV("panel 1.0");
    p.set_ctrlSV("ctrl 2.1");
    p.set_fpgaSV(std::string("fpga\0 3", 7));
    p.set_status(status);
    p.set_powerStatus(LGCP::POWERStatus::main);
    p.set_mode(LGCP::EmPhoneMode::sleep);
    p.set_hookStatus(LGCP::EmPhoneConnectionStatus::connected);
    p.set_baseStatus(LGCP::EmPhoneConnectionStatus::disconnected);
    return info;
}

LGCP::ControllerInfo Controller(const std::string& address, HSP::ControllerStatus::NamedNumber status)
{
    LGCP::ControllerInfo info;
    info.get_host().set_iaddr(address);
    info.get_host().set_port(0);
    info.set_status(status);
    return info;
}

std::string LinkTarget(const std::string& path)
{
    char target[4096];
    const ssize_t n = ::readlink(path.c_str(), target, sizeof target);
    return n < 0 ? std::string("(no link)") : std::string(target, static_cast<std::size_t>(n));
}

ino_t Inode(const std::string& path)
{
    struct stat st {};
    ::lstat(path.c_str(), &st);
    return st.st_ino;
}

} // namespace

TEST_F(StoreTest, ValuesAreWrittenByteForByte)
{
    MonitoringDataHolder& s = Build();
    EXPECT_TRUE(s.setDipValue(200));
    EXPECT_EQ("200", Read("dip"));
    EXPECT_TRUE(s.setDipValue(-7));
    EXPECT_EQ("-7", Read("dip")) << "signed, no line end";

    EXPECT_TRUE(s.setConfigVersion(0x1a, 0x2b));
    EXPECT_EQ("0000001a-000000000000002b", Read("config_version"));
    EXPECT_TRUE(s.setConfigVersion(0xFFFFFFFEu, 0xFEDCBA9876543210ull));
    EXPECT_EQ("fffffffe-fedcba9876543210", Read("config_version"));

    const std::pair<int, const char*> power[] = {{1, "1"}, {2, "2"}, {3, "3"}, {0, "0"}, {9, "0"}};
    for (const auto& [value, text] : power) {
        LGCP::POWERStatus p;
        p.setValue(value);
        EXPECT_TRUE(s.setPowerStatus(p));
        EXPECT_EQ(text, Read("powerstatus")) << value;
    }

    s.setBoardStatus(
        Board(4, std::string("v1.2\0b", 6), LGCP::ExtBoardStatus::ready, LGCP::ExtBoardType::fxs));
    EXPECT_EQ(std::string("3\nv1.2\0b\n2\n", 11), Read("board4"));

    s.setEmPhoneInfo(Phone(7, LGCP::EmPhoneStatus::ready));
    EXPECT_EQ(std::string("panel 1.0\nctrl 2.1\nfpga\0 3\n2\n2\n2\n1\n2\n", 37), Read("emphone7"));
}

TEST_F(StoreTest, FilesAreRewrittenInPlace)
{
    MonitoringDataHolder& s = Build();
    s.setDipValue(200);
    const std::string dip = root.dir() + "/var/monitoring/dip";
    const ino_t inode = Inode(dip);
    s.setDipValue(5);
    EXPECT_EQ("5", Read("dip")) << "truncated, then written";
    EXPECT_EQ(inode, Inode(dip)) << "the same file, not a replacement";
}

TEST_F(StoreTest, AnUnwritableFolderLogsEachWriteAndStillStores)
{
    // "var" is a plain file: nothing below it can be created, even by root.
    ::rmdir((root.dir() + "/var").c_str());
    root.write("var", "not a folder");
    MonitoringDataHolder& s = Build();
    const std::string mon = root.dir() + "/var/monitoring/";
    EXPECT_NE(std::string::npos,
              log.str().find("FAIL create monitoring catalog <" + mon + "> with code=20\n"))
        << log.str();

    log.clear();
    EXPECT_TRUE(s.setDipValue(3));
    EXPECT_EQ("FAIL create temporary file <" + mon + "dip> with code=20\n", log.str());
    EXPECT_EQ(3, s.dipValue);
    EXPECT_FALSE(s.setDipValue(3));

    log.clear();
    EXPECT_TRUE(s.setConfigVersion(1, 2));
    LGCP::POWERStatus standby;
    standby.setValue(LGCP::POWERStatus::standby);
    EXPECT_TRUE(s.setPowerStatus(standby));
    EXPECT_EQ("FAIL create temporary file <" + mon + "config_version> with code=20\n" +
                  "FAIL create temporary file <" + mon + "powerstatus> with code=20\n",
              log.str());

    log.clear();
    s.setBoardStatus(Board(1, "x", LGCP::ExtBoardStatus::ready, LGCP::ExtBoardType::isdn));
    s.setEmPhoneInfo(Phone(2, LGCP::EmPhoneStatus::ready));
    EXPECT_TRUE(s.boards.empty()) << "the lists change only with their file";
    EXPECT_TRUE(s.phones.empty());
    EXPECT_EQ("FAIL create temporary file <" + mon + "board1> with code=20\n" +
                  "FAIL create temporary file <" + mon + "emphone2> with code=20\n",
              log.str());

    log.clear();
    EXPECT_FALSE(s.setControllerStatus(Controller("10.0.0.9", HSP::ControllerStatus::ok)));
    EXPECT_EQ(1u, s.controllers.size());
    EXPECT_NE(std::string::npos,
              log.str().find("FAIL create monitoring catalog <" + mon + "controller/> with code=20\n"));
    EXPECT_NE(std::string::npos, log.str().find("FAIL create temporary file <" + mon +
                                                "controller/10.0.0.9/status> with code=20\n"));
}

TEST_F(StoreTest, StartAndExitClearOnlyTheTopLevel)
{
    root.mkdirs("var/monitoring/term_cnts");
    root.mkdirs("var/monitoring/empty");
    root.mkdirs("var/monitoring/controller/10.0.0.1");
    root.write("var/monitoring/dip", "5");
    root.write("var/monitoring/board1", "old");
    root.write("var/monitoring/term_cnts/router", "12");
    root.write("var/monitoring/controller/10.0.0.1/status", "1");
    ASSERT_EQ(0, ::symlink("dip", (root.dir() + "/var/monitoring/link").c_str()));

    MonitoringDataHolder& s = Build();
    EXPECT_FALSE(Exists("dip"));
    EXPECT_FALSE(Exists("board1"));
    EXPECT_FALSE(Exists("empty"));
    EXPECT_FALSE(Exists("link"));
    EXPECT_EQ("12", Read("term_cnts/router")) << "a directory with files stays, with them";
    EXPECT_EQ("1", Read("controller/10.0.0.1/status"));

    s.setDipValue(1);
    store.reset();
    EXPECT_FALSE(Exists("dip"));
    EXPECT_TRUE(Exists("term_cnts/router"));
}

TEST_F(StoreTest, ControllerGoneRemovesTheBoardFilesOnly)
{
    MonitoringDataHolder& s = Build();
    s.setBoardStatus(Board(1, "a", LGCP::ExtBoardStatus::ready, LGCP::ExtBoardType::isdn));
    s.setBoardStatus(Board(12, "b", LGCP::ExtBoardStatus::none, LGCP::ExtBoardType::e0));
    s.setEmPhoneInfo(Phone(1, LGCP::EmPhoneStatus::ready));
    LGCP::TermCounter router;
    router.set_owner(LGCP::TermCounterOwner::router);
    router.set_cnt(4);
    s.setTermCounter(router);
    ASSERT_EQ(2u, s.boards.size());

    log.clear();
    s.ClearControllerFiles();
    EXPECT_FALSE(Exists("board1"));
    EXPECT_FALSE(Exists("board12"));
    EXPECT_TRUE(Exists("emphone1"));
    EXPECT_TRUE(Exists("term_cnts/router"));
    EXPECT_TRUE(s.boards.empty());
    EXPECT_EQ(1u, s.phones.size());
    const std::string& lines = log.str();
    EXPECT_NE(std::string::npos, lines.find("remove monitoring info: board1\n"));
    EXPECT_NE(std::string::npos, lines.find("remove monitoring info: board12\n"));

    traces.Reset();
    log.clear();
    s.setBoardStatus(Board(2, "c", LGCP::ExtBoardStatus::ready, LGCP::ExtBoardType::isdn));
    s.ClearControllerFiles();
    EXPECT_FALSE(Exists("board2"));
    EXPECT_EQ("", log.str()) << "the removals are traced only with \"monitoring.internal\"";
}

TEST_F(StoreTest, OwnControllerGetsItsDirectoryLinkAndStatus)
{
    SetAddresses({"10.1.2.3"});
    MonitoringDataHolder& s = Build();
    const std::string dir = RootPath("/var/monitoring/controller/10.1.2.3");

    EXPECT_TRUE(s.setControllerStatus(Controller("10.1.2.3", HSP::ControllerStatus::ok)));
    EXPECT_EQ(HSP::ControllerStatus::ok, s.ownControllerStatus.getValue());
    EXPECT_EQ("1", Read("controller/10.1.2.3/status"));
    EXPECT_EQ(dir, LinkTarget(RootPath("/var/monitoring/controller/self")));
    EXPECT_EQ("1", Read("controller/self/status"));
    EXPECT_NE(std::string::npos, log.str().find("New controller 10.1.2.3 status - ok\n")) << log.str();

    const ino_t link = Inode(root.dir() + "/var/monitoring/controller/self");
    EXPECT_TRUE(s.setControllerStatus(Controller("10.1.2.3", HSP::ControllerStatus::active)));
    EXPECT_EQ("2", Read("controller/self/status"));
    EXPECT_EQ(link, Inode(root.dir() + "/var/monitoring/controller/self")) << "a right link is left alone";

    // The same report again writes nothing.
    ::unlink((dir + "/status").c_str());
    EXPECT_FALSE(s.setControllerStatus(Controller("10.1.2.3", HSP::ControllerStatus::active)));
    EXPECT_FALSE(Exists("controller/10.1.2.3/status"));
    EXPECT_EQ(1u, s.controllers.size());
}

TEST_F(StoreTest, OtherControllersWriteTheirFileButReportNoChange)
{
    SetAddresses({"10.1.2.3"});
    MonitoringDataHolder& s = Build();
    EXPECT_FALSE(s.setControllerStatus(Controller("10.7.7.7", HSP::ControllerStatus::standby)));
    EXPECT_EQ("3", Read("controller/10.7.7.7/status"));
    EXPECT_FALSE(Exists("controller/self")) << "no link for another host";
    EXPECT_EQ(HSP::ControllerStatus::unknown, s.ownControllerStatus.getValue());
    EXPECT_FALSE(s.setControllerStatus(Controller("10.7.7.7", HSP::ControllerStatus::notrun)));
    EXPECT_EQ("5", Read("controller/10.7.7.7/status"));

    // An address that does not parse goes under 0.0.0.0, its port dropped.
    EXPECT_FALSE(s.setControllerStatus(Controller("host.example:80", HSP::ControllerStatus::ok)));
    EXPECT_EQ("1", Read("controller/0.0.0.0/status"));
    EXPECT_EQ(2u, s.controllers.size());
    EXPECT_EQ("host.example:80", host2str(s.controllers.back().get_host()));

    // The same address with another port is another host entry, and no
    // longer the board's own address.
    LGCP::ControllerInfo ported = Controller("10.1.2.3:20001", HSP::ControllerStatus::ok);
    EXPECT_FALSE(s.setControllerStatus(ported));
    EXPECT_EQ(3u, s.controllers.size());
    EXPECT_EQ(HSP::ControllerStatus::unknown, s.ownControllerStatus.getValue());
}

TEST_F(StoreTest, AStaleSelfLinkIsReplaced)
{
    // A run with the board at 10.0.0.5 left its directory and link behind.
    root.mkdirs("var/monitoring/controller/10.0.0.5");
    root.write("var/monitoring/controller/10.0.0.5/status", "1");
    ASSERT_EQ(0, ::symlink(RootPath("/var/monitoring/controller/10.0.0.5").c_str(),
                           RootPath("/var/monitoring/controller/self").c_str()));
    SetAddresses({"10.1.2.3"});
    MonitoringDataHolder& s = Build();
    EXPECT_TRUE(s.setControllerStatus(Controller("10.1.2.3", HSP::ControllerStatus::standby)));
    EXPECT_EQ(RootPath("/var/monitoring/controller/10.1.2.3"),
              LinkTarget(RootPath("/var/monitoring/controller/self")));
    EXPECT_EQ("3", Read("controller/self/status"));
    EXPECT_FALSE(Exists("controller/self.new"));
    EXPECT_EQ(std::string::npos, log.str().find("FAIL")) << log.str();

    // Also when the own directory is there already from the earlier run.
    ASSERT_EQ(0, ::unlink(RootPath("/var/monitoring/controller/self").c_str()));
    ASSERT_EQ(0, ::symlink("10.0.0.5", RootPath("/var/monitoring/controller/self").c_str()));
    EXPECT_TRUE(s.setControllerStatus(Controller("10.1.2.3", HSP::ControllerStatus::ok)));
    EXPECT_EQ(RootPath("/var/monitoring/controller/10.1.2.3"),
              LinkTarget(RootPath("/var/monitoring/controller/self")));
}

TEST_F(StoreTest, NamedSetCommandsWriteBelowSectionAndIndex)
{
    MonitoringDataHolder& s = Build();
    MON::SnmpSetCommands list;
    MON::SnmpSetCommand c;
    c.set_uniq(1);
    MON::IniName& id = c.get_id().select_name();
    id.set_section("a");
    id.set_name("b");
    id.set_index(3);
    c.set_value("x");
    list.get_commands().push_back(c);
    s.setSnmpCommands(list);
    EXPECT_EQ("x", Read("a/3/b"));
    const mode_t mask = ::umask(0);
    ::umask(mask);
    struct stat st {};
    ASSERT_EQ(0, ::stat(RootPath("/var/monitoring/a/3").c_str(), &st));
    EXPECT_EQ(0755u & ~mask, st.st_mode & 0777u) << "directories are made with 0755";
}
