// Golden transcripts: a host-server exchange pinned in a text file, replayed
// against a started server and compared byte for byte; a difference fails
// the test with a unified diff. CTest runs every tests/<area>/transcripts/
// <name>.ok as transcript.<area>.<name>: adding one is adding the file.
//
// A transcript, one item a line:
//   # text             a comment
//   setup <requests>   GW_SIM_SETUP for the server (several lines join with ';')
//   env NAME=value     extra environment for the server
//   args <words>       extra command-line arguments for the server
//   ignore <signal>    signals of this alternative are not recorded
//                      (e.g. trunkStatus, which the board sends every second,
//                      or "ioctl : hdlcLinkInfo", an alternative's own;
//                      power, which every connect brings, always is)
//   > <hex>            the host sends this payload in one TPKT frame (a new
//                      transcript may give the value instead: "> { seq 1,
//                      pdu command : ping : NULL }")
//   raw <hex>          the host sends these octets as they are
//   < <hex>            a payload from the server
//   log <text>         text the server writes to its standard error (at any
//                      time before it is looked for; a line's end is not
//                      part of it)
//   ask <request>      a request to the simulated board's control socket;
//   = <line>           each line of its answer
//   close              the host closes the connection
// Under every "<" or ">" line the runner writes the payload's value notation
// on one line, indented by two spaces: plain when the program's coder
// re-encodes the value to the same octets, after "(not re-encodable)" when
// it does not, "(does not decode)" when it cannot decode them at all.
// Erlang's asn1 checks every payload's value notation and octets
// (tests/asn1/erlang/transcripts.escript).
//
// The runner writes what it saw in the same form. To add a transcript, write
// its set-up and the host's lines, run
//   GW_TRANSCRIPT_UPDATE=1 ctest -R transcript.<area>.<name>
// which writes the server's side into the file, and read it before
// committing. Messages that nobody waits for are collected for a short
// while after each step of the host and at the end.

#include "support/lgcp_host.hpp"
#include "support/server_process.hpp"

#include "asn1/valuenotation.hpp"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <set>
#include <sstream>
#include <string>
#include <sys/wait.h>
#include <vector>

namespace {

bool Starts(std::string const& line, std::string const& word)
{
    return line.compare(0, word.size(), word) == 0;
}

std::string Read(std::string const& path)
{
    std::ifstream in(path);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

// A payload given in hex, or (when writing a new transcript) as a value.
E2E::Bytes Payload(std::string const& text)
{
    if (!Starts(text, "{"))
        return E2E::Unhex(text);
    LGCP::Message m;
    if (!ASN1::setFromValueNotation(m, text))
        ADD_FAILURE() << "not a value of LGCP.Message: " << text;
    return E2E::Encode(m);
}

// The value line under a payload.
std::string ValueLine(E2E::Bytes const& payload)
{
    std::string const value = E2E::Notation(payload);
    if (value.empty())
        return "  (does not decode)\n";
    LGCP::Message m;
    E2E::Decode(payload, m);
    if (E2E::Encode(m) != payload)
        return "  (not re-encodable) " + value + "\n";
    return "  " + value + "\n";
}

class Replay {
public:
    explicit Replay(std::vector<std::string> lines) : lines_(std::move(lines))
    {
        std::string setup;
        for (auto const& line : lines_) {
            if (Starts(line, "setup "))
                setup += (setup.empty() ? "" : ";") + line.substr(6);
            else if (Starts(line, "env "))
                options_.env.push_back(line.substr(4));
            else if (Starts(line, "args ")) {
                std::istringstream words(line.substr(5));
                for (std::string w; words >> w;)
                    options_.args.push_back(w);
            } else if (Starts(line, "ignore "))
                ignored_.insert(line.substr(7));
        }
        options_.setup = setup;
    }

    // The transcript as this server gives it.
    std::string Run()
    {
        server_.Start(options_);
        if (!host_.Connect(server_.port()))
            out_ << "! no connection to the server\n";
        for (std::size_t i = 0; i < lines_.size(); ++i)
            Step(lines_[i]);
        Drain();
        int const status = server_.Stop();
        if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
            out_ << "! the server ended with wait status " << status << "\n";
        return out_.str();
    }

private:
    void Step(std::string const& line)
    {
        if (Starts(line, "  ") || Starts(line, "= ") || Starts(line, "! "))
            return; // written again from what is seen; "!" marks a fault
        if (Starts(line, "> ") || Starts(line, "raw ") || line == "close")
            Drain();
        if (Starts(line, "> ")) {
            E2E::Bytes const payload = Payload(line.substr(2));
            host_.Send(payload);
            out_ << "> " << E2E::Hex(payload) << "\n" << ValueLine(payload);
        } else if (Starts(line, "raw ")) {
            E2E::Bytes const bytes = E2E::Unhex(line.substr(4));
            host_.SendRaw(bytes);
            out_ << "raw " << E2E::Hex(bytes) << "\n";
        } else if (Starts(line, "< ")) {
            E2E::Bytes payload;
            if (Next(payload, 5000))
                Print(payload);
            else
                out_ << "< (nothing)\n";
        } else if (Starts(line, "log ")) {
            std::string const text = line.substr(4);
            bool const seen = server_.Logged(text, 5);
            out_ << (seen ? "log " : "! not logged: ") << text << "\n";
        } else if (Starts(line, "ask ")) {
            out_ << line << "\n";
            for (auto const& l : E2E::Lines(server_.Ask(line.substr(4))))
                out_ << "= " << l << "\n";
        } else if (line == "close") {
            host_.Close();
            out_ << line << "\n";
        } else if (line.empty() || Starts(line, "#") || Starts(line, "setup ") || Starts(line, "env ") ||
                   Starts(line, "args ") || Starts(line, "ignore ")) {
            out_ << line << "\n";
        } else {
            out_ << "! not understood: " << line << "\n";
        }
    }

    // The next payload from the server that is not ignored.
    bool Next(E2E::Bytes& payload, int ms)
    {
        while (host_.ok() && host_.Receive(payload, ms)) {
            std::string const value = E2E::Notation(payload);
            std::size_t const at = value.find("pdu signal : ");
            if (at == std::string::npos)
                return true;
            if (!Ignored(value.substr(at + 13)))
                return true;
        }
        return false;
    }

    // "trunkStatus" names an alternative of the signal, "ioctl : hdlcLinkInfo"
    // one of an alternative's own.
    bool Ignored(std::string const& signal) const
    {
        for (std::string const& alt : ignored_)
            if (Starts(signal, alt) && (signal.size() == alt.size() || signal[alt.size()] == ' '))
                return true;
        return false;
    }

    void Print(E2E::Bytes const& payload) { out_ << "< " << E2E::Hex(payload) << "\n" << ValueLine(payload); }

    // What arrives unasked within a short while.
    void Drain()
    {
        E2E::Bytes payload;
        while (Next(payload, 150))
            Print(payload);
    }

    std::vector<std::string> lines_;
    E2E::Options options_;
    // The power state comes at every connect, once or twice by whether the
    // board's poll found it first: never pinned.
    std::set<std::string> ignored_{"power"};
    E2E::ServerProcess server_{E2E::Later{}};
    E2E::LgcpHost host_;
    std::ostringstream out_;
};

TEST(Transcript, ReplaysAsWritten)
{
    char const* path = std::getenv("GW_TRANSCRIPT");
    if (path == nullptr)
        GTEST_SKIP() << "GW_TRANSCRIPT names no transcript (CTest runs one per file)";
    std::string const expected = Read(path);
    ASSERT_FALSE(expected.empty()) << path;
    std::string const actual = Replay(E2E::Lines(expected)).Run();
    if (actual == expected)
        return;
    char const* update = std::getenv("GW_TRANSCRIPT_UPDATE");
    if (update != nullptr && std::string(update) == "1") {
        std::ofstream(path, std::ios::trunc) << actual;
        std::printf("%s rewritten\n", path);
        return;
    }
    std::string const seen = ::testing::TempDir() + "transcript-seen.ok";
    std::ofstream(seen, std::ios::trunc) << actual;
    std::string diff;
    if (FILE* p = ::popen(("diff -u '" + std::string(path) + "' '" + seen + "'").c_str(), "r")) {
        char buf[4096];
        for (std::size_t n; (n = std::fread(buf, 1, sizeof buf, p)) > 0;)
            diff.append(buf, n);
        ::pclose(p);
    }
    std::remove(seen.c_str());
    ADD_FAILURE() << "the exchange differs from " << path << " (- pinned, + seen):\n" << diff;
}

} // namespace
