#include "signalling/peers/peer_log.hpp"

#include <gtest/gtest.h>

#include <iostream>
#include <map>

namespace SigTest {

namespace {

struct Log {
    std::vector<std::string> lines;
    std::map<std::string, std::string> partial; // per peer, awaiting its newline
};

Log& TheLog()
{
    static Log* log = new Log;
    return *log;
}

void Flush()
{
    Log& log = TheLog();
    for (auto& [who, rest] : log.partial)
        if (!rest.empty())
            log.lines.push_back(who + ": " + rest);
    log.partial.clear();
}

// Added to GoogleTest's listeners by the first line logged, from inside a
// test; from then on it closes every test.
class Printer : public ::testing::EmptyTestEventListener {
    void OnTestEnd(const ::testing::TestInfo& info) override
    {
        Flush();
        Log& log = TheLog();
        if (info.result() != nullptr && info.result()->Failed() && !log.lines.empty()) {
            std::cout << "---- peer log of " << info.test_suite_name() << "." << info.name() << " ("
                      << log.lines.size() << " lines)\n";
            for (const std::string& l : log.lines)
                std::cout << l << '\n';
            std::cout << "---- end of peer log" << std::endl;
        }
        log.lines.clear();
    }
};

void Install()
{
    static bool installed = false;
    if (installed)
        return;
    installed = true;
    ::testing::UnitTest::GetInstance()->listeners().Append(new Printer);
}

} // namespace

void PeerLog(const std::string& who, const std::string& text)
{
    Install();
    Log& log = TheLog();
    std::string& rest = log.partial[who];
    for (char c : text) {
        if (c == '\n') {
            // Some libraries open a message with a newline: no empty lines.
            if (!rest.empty())
                log.lines.push_back(who + ": " + rest);
            rest.clear();
        } else if (c != '\r') {
            rest.push_back(c);
        }
    }
}

const std::vector<std::string>& PeerLogLines()
{
    return TheLog().lines;
}

} // namespace SigTest
