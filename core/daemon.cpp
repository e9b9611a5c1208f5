#include "core/daemon.hpp"

#include "core/syslog.hpp"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <iostream>
#include <string_view>
#include <sys/time.h>
#include <unistd.h>

namespace Daemon {

namespace {
// The ident must outlive the system-log client.
char ident_text[SysLogManager::kIdentSize];
constexpr int kFacilityDaemon = 3;
} // namespace

Params::Params() : mode(0), keep_directory(false), name("unknown")
{}

Sentry::Sentry(const Params& params) : mode_(params.mode)
{
    if (::daemon(params.keep_directory ? 1 : 0, 0) < 0) {
        std::cerr << "daemon() fail!" << std::endl;
        std::exit(2);
    }
    if (mode_ == 0) {
        std::snprintf(ident_text, sizeof ident_text, "%s", params.name.c_str());
        syslogManager.set_mirror_std(true);
        syslogManager.openlog(ident_text, SysLogManager::opt_ndelay, 0);
        // Never freed: the streams use them up to the last line at exit.
        std::cout.rdbuf(new ManagedSysLogStreamBuf(kFacilityDaemon, 5));
        std::cerr.rdbuf(new ManagedSysLogStreamBuf(kFacilityDaemon, 3));
        std::clog.rdbuf(new ManagedSysLogStreamBuf(kFacilityDaemon, 7));
        std::cin.tie(&std::cout);
    } else if (mode_ == 1) {
        owned_ = std::make_unique<LogFileStreamBuf>(params.name);
        saved_[0] = std::cout.rdbuf(owned_.get());
        saved_[1] = std::cerr.rdbuf(owned_.get());
        saved_[2] = std::clog.rdbuf(owned_.get());
    }
}

Sentry::~Sentry()
{
    if (mode_ == 1) {
        std::cout.rdbuf(saved_[0]);
        std::cerr.rdbuf(saved_[1]);
        std::clog.rdbuf(saved_[2]);
    }
}

void Init(const Params& params)
{
    static Sentry sentry(params);
}

} // namespace Daemon

void timestamp(std::ostream& os)
{
    std::time_t now = std::time(nullptr);
    std::tm tm;
    if (now == static_cast<std::time_t>(-1) || ::localtime_r(&now, &tm) == nullptr)
        return;
    char text[64];
    if (std::strftime(text, sizeof text, "%d/%m %H:%M:%S", &tm) > 0)
        os << text;
}

LogFileStreamBuf::LogFileStreamBuf(const std::string& directory) : directory_(directory)
{
    setp(area_, area_ + sizeof area_);
    NewFile();
    continuation_ = false;
}

LogFileStreamBuf::~LogFileStreamBuf()
{
    sync();
}

void LogFileStreamBuf::NewFile()
{
    std::time_t now = std::time(nullptr);
    std::tm tm;
    if (::localtime_r(&now, &tm) == nullptr)
        std::memset(&tm, 0, sizeof tm);
    Open(tm.tm_hour, tm);
}

void LogFileStreamBuf::Open(int hour, const std::tm& tm)
{
    file_.close();
    hour_ = hour;
    char stamp[32];
    std::strftime(stamp, sizeof stamp, "%Y_%m_%d-%H", &tm);
    file_name_ = directory_ + "/" + stamp + ".log";
    file_.open(file_name_, std::ios::out | std::ios::trunc);
}

int LogFileStreamBuf::sync()
{
    if (pbase() == nullptr)
        return 0;
    std::string_view text(pbase(), static_cast<std::size_t>(pptr() - pbase()));
    setp(area_, area_ + sizeof area_);

    if (continuation_) {
        std::size_t lf = text.find('\n');
        if (lf == std::string_view::npos) {
            file_.sputn(text.data(), static_cast<std::streamsize>(text.size()));
            file_.pubsync();
            return 0;
        }
        file_.sputn(text.data(), static_cast<std::streamsize>(lf + 1));
        text.remove_prefix(lf + 1);
        continuation_ = false;
    }

    timeval tv;
    ::gettimeofday(&tv, nullptr);
    std::time_t secs = tv.tv_sec;
    std::tm tm;
    if (::localtime_r(&secs, &tm) == nullptr)
        std::memset(&tm, 0, sizeof tm);
    if (tm.tm_hour != hour_)
        Open(tm.tm_hour, tm);

    char prefix[48];
    int plen = std::snprintf(prefix, sizeof prefix, "%02d:%02d:%05ld: ", tm.tm_min, tm.tm_sec,
                             static_cast<long>(tv.tv_usec));
    while (!text.empty()) {
        file_.sputn(prefix, plen);
        std::size_t lf = text.find('\n');
        if (lf == std::string_view::npos) {
            file_.sputn(text.data(), static_cast<std::streamsize>(text.size()));
            continuation_ = true;
            break;
        }
        file_.sputn(text.data(), static_cast<std::streamsize>(lf + 1));
        text.remove_prefix(lf + 1);
    }
    file_.pubsync();
    return 0;
}

LogFileStreamBuf::int_type LogFileStreamBuf::overflow(int_type ch)
{
    sync();
    if (traits_type::eq_int_type(ch, traits_type::eof()))
        return traits_type::not_eof(ch);
    *pptr() = traits_type::to_char_type(ch);
    pbump(1);
    return ch;
}
