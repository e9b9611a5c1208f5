#include "standins.hpp"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

namespace Standins {

namespace {

std::string SourceDir()
{
    char const* dir = std::getenv("GW_SOURCE_DIR");
    return std::string(dir != nullptr ? dir : ".") + "/tests/slots/standins/";
}

// A reader of the stand-ins' own lines: objects of strings, integers and
// arrays of strings, as json.dumps writes them.
class Json {
public:
    explicit Json(std::string const& text) : s_(text) {}

    bool Parse(Run& run)
    {
        if (!Eat('{'))
            return false;
        do {
            std::string key;
            if (!String(key) || !Eat(':'))
                return false;
            if (key == "argv" || key == "fds") {
                if (!Strings(key == "argv" ? run.argv : run.fds))
                    return false;
            } else if (key == "pid") {
                run.pid = Integer();
            } else if (key == "signal") {
                run.signals.push_back(Integer());
            } else if (key == "mode" || key == "input") {
                std::string text;
                if (!String(text))
                    return false;
                if (key == "mode")
                    run.mode = text;
                else
                    run.input.push_back(text);
            } else {
                return false;
            }
        } while (Eat(','));
        return Eat('}');
    }

private:
    int Integer()
    {
        char* end = nullptr;
        int value = static_cast<int>(std::strtol(s_.c_str() + at_, &end, 10));
        at_ = static_cast<std::size_t>(end - s_.c_str());
        return value;
    }
    void Blanks()
    {
        while (at_ < s_.size() && s_[at_] == ' ')
            ++at_;
    }
    bool Eat(char c)
    {
        Blanks();
        if (at_ < s_.size() && s_[at_] == c) {
            ++at_;
            return true;
        }
        return false;
    }
    bool String(std::string& out)
    {
        if (!Eat('"'))
            return false;
        out.clear();
        while (at_ < s_.size() && s_[at_] != '"') {
            char c = s_[at_++];
            if (c == '\\' && at_ < s_.size()) {
                char e = s_[at_++];
                if (e == 'u' && at_ + 4 <= s_.size()) {
                    c = static_cast<char>(std::strtol(s_.substr(at_, 4).c_str(), nullptr, 16));
                    at_ += 4;
                } else {
                    c = e == 'n' ? '\n' : e == 't' ? '\t' : e == 'r' ? '\r' : e;
                }
            }
            out += c;
        }
        return Eat('"');
    }
    bool Strings(std::vector<std::string>& out)
    {
        if (!Eat('['))
            return false;
        if (Eat(']'))
            return true;
        do {
            out.emplace_back();
            if (!String(out.back()))
                return false;
        } while (Eat(','));
        return Eat(']');
    }

    std::string const& s_;
    std::size_t at_ = 0;
};

} // namespace

void Install(std::string const& root)
{
    struct Place {
        char const* source;
        char const* path;
    };
    for (Place const& p :
         {Place{"pppd", "/usr/local/sbin/pppd"}, Place{"fax_transfer", "/usr/local/sbin/fax"},
          Place{"fax_receiver", "/usr/local/bin/fax"}, Place{"t38", "/usr/local/sbin/t38"}}) {
        std::filesystem::path const target = root + p.path;
        std::filesystem::create_directories(target.parent_path());
        std::error_code ec;
        std::filesystem::remove(target, ec);
        std::filesystem::create_symlink(SourceDir() + p.source, target, ec);
        EXPECT_FALSE(ec) << "cannot link " << target << ": " << ec.message();
    }
}

std::vector<Run> Read(std::string const& log)
{
    std::vector<Run> runs;
    std::ifstream in(log);
    for (std::string line; std::getline(in, line);) {
        Run run;
        // A line still being written is left for the next look.
        if (!Json(line).Parse(run))
            break;
        if (!run.argv.empty()) {
            runs.push_back(run);
            continue;
        }
        // What a program logged after its start goes with that start.
        for (auto it = runs.rbegin(); it != runs.rend(); ++it) {
            if (it->pid == run.pid) {
                it->input.insert(it->input.end(), run.input.begin(), run.input.end());
                it->signals.insert(it->signals.end(), run.signals.begin(), run.signals.end());
                break;
            }
        }
    }
    return runs;
}

} // namespace Standins
