// Trace switches from the configuration, signal flags and the status dump.

#include "core/startup.hpp"

#include "core/inifile.hpp"
#include "core/version.hpp"
#include "core_helper.hpp"

#include <gtest/gtest.h>

#include <csignal>
#include <sstream>
#include <string>

namespace {

TEST(TraceCtl, LastTracesSectionAloneDecides)
{
    IniFile::File file;
    std::istringstream in("[traces]\n"
                          "signalling.hdlc = yes\n"
                          "signalling.isdn = yes\n"
                          "[snmpagent]\n"
                          "address = 127.0.0.1\n"
                          "[traces]\n"
                          "signalling.events = true\n"
                          "monitoring.internal = 1\n");
    in >> file;
    TraceCtl t;
    t[TraceCtl::signalling_dizoru] = true; // reset by every section
    t.Configure(file["traces"]);
    EXPECT_FALSE(t[TraceCtl::signalling_hdlc]);
    EXPECT_FALSE(t[TraceCtl::signalling_dizoru]);
    EXPECT_TRUE(t[TraceCtl::signalling_events]);
    EXPECT_FALSE(t[TraceCtl::signalling_isdn]);
    EXPECT_TRUE(t[TraceCtl::monitoring_internal]);
}

TEST(TraceCtl, BadValuesAreReportedAndLeaveTheSwitchOff)
{
    IniFile::File file;
    std::istringstream in("[traces]\n"
                          "signalling.hdlc = TRUE\n"
                          "signalling.isdn = on\n"
                          "signalling.isdn = on\n"
                          "signalling.events = enabled\n");
    in >> file;
    TraceCtl t;
    ::testing::internal::CaptureStderr();
    t.Configure(file["traces"]);
    std::string err = ::testing::internal::GetCapturedStderr();
    EXPECT_FALSE(t[TraceCtl::signalling_hdlc]);
    EXPECT_FALSE(t[TraceCtl::signalling_isdn]);
    EXPECT_TRUE(t[TraceCtl::signalling_events]);
    EXPECT_EQ("traces: optional key \"signalling.hdlc\" has invalid value=\"TRUE\", line 2. "
              "Key will be ignored.\n"
              "traces: optional key \"signalling.isdn\" is duplicated!\n"
              "traces:  first occurence at 3 line.\n"
              "traces:  second occurence at 4 line. Both keys will be ignored.\n",
              err);
}

TEST(TraceCtl, NoSectionLeavesEverythingOff)
{
    IniFile::File file;
    std::istringstream in("[snmpagent]\n");
    in >> file;
    TraceCtl t;
    t.Configure(file["traces"]);
    for (int i = 0; i < TraceCtl::count; ++i)
        EXPECT_FALSE(t[static_cast<TraceCtl::Switch>(i)]);
}

TEST(StatusDump, WrittenOncePerRequestUnderTheRoot)
{
    TempRoot root;
    root.mkdirs("var/log");
    root.write("var/log/server-status", std::string(5000, 'x')); // truncated
    doDumpStatus = 0;
    CheckDumpStatus();
    EXPECT_EQ(std::string(5000, 'x'), root.read("var/log/server-status"));

    SigUsr2Handler(SIGUSR2, nullptr, nullptr);
    CheckDumpStatus();
    EXPECT_EQ(0, doDumpStatus);
    std::string dump = root.read("var/log/server-status");
    EXPECT_EQ(0u, dump.find("server status information."));
    EXPECT_NE(std::string::npos, dump.find("\nversion : R250710-1941\n"));
    EXPECT_NE(std::string::npos, dump.find("dpc transition measurement (min/max/cur/counter): "));
}

TEST(StatusDump, UnwritableFileIsReportedOnce)
{
    TempRoot root; // no var/log below it
    SigUsr2Handler(SIGUSR2, nullptr, nullptr);
    ::testing::internal::CaptureStderr();
    CheckDumpStatus();
    CheckDumpStatus();
    EXPECT_EQ("dump status error\n", ::testing::internal::GetCapturedStderr());
    EXPECT_EQ(0, doDumpStatus);
}

TEST(Signals, HandlersOnlySetFlags)
{
    updateResources = 0;
    SigHupHandler(SIGHUP, nullptr, nullptr);
    SigHupHandler(SIGHUP, nullptr, nullptr); // merged with the pending one
    EXPECT_EQ(1, updateResources);
    updateResources = 0;
}

} // namespace
