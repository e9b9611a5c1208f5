// Signal flags and the status dump.

#include "core/startup.hpp"

#include "core/version.hpp"
#include "core_helper.hpp"

#include <gtest/gtest.h>

#include <csignal>
#include <string>

namespace {

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
    EXPECT_EQ("dump status error: " + root.dir() + "/var/log/server-status: No such file or directory\n",
              ::testing::internal::GetCapturedStderr());
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
