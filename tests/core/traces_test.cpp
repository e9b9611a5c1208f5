// The trace switches from the configuration file.

#include "core/traces.hpp"

#include "core/inifile.hpp"

#include <gtest/gtest.h>

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

} // namespace
