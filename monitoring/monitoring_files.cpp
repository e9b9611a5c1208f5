// The file half of the monitoring state store: the status files under
// "/var/monitoring/", their directories, and the clearing at start, at exit
// and when the controlling host goes away.

#include "monitoring/monitoring_data_holder.hpp"

#include "core/paths.hpp"
#include "core/traces.hpp"

#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <iostream>
#include <vector>

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// The tree is written by this process and read by other programs on the
// board.
constexpr mode_t kDirMode = 0755;

void LogFailure(const char* what, const std::string& path, int error)
{
    std::clog << what << path << "> with code=" << error << std::endl;
}

// Creates a directory unless it can be opened already; false after logging
// when it cannot be created.
bool MakeDir(const std::string& path)
{
    if (DIR* dir = ::opendir(path.c_str())) {
        ::closedir(dir);
        return true;
    }
    if (::mkdir(path.c_str(), kDirMode) == 0)
        return true;
    LogFailure("FAIL create monitoring catalog <", path, errno);
    return false;
}

// The names in a directory (without "." and ".."), read whole before any of
// them is removed.
bool ListDir(const std::string& path, std::vector<std::string>& names)
{
    DIR* dir = ::opendir(path.c_str());
    if (dir == nullptr)
        return false;
    // readdir64: a 32-bit build's readdir fails (EOVERFLOW) on a file system
    // whose directory offsets are 64-bit hashes.
    while (const dirent64* entry = ::readdir64(dir)) {
        const std::string name = entry->d_name;
        if (name != "." && name != "..")
            names.push_back(name);
    }
    ::closedir(dir);
    return true;
}

void WriteBytes(std::FILE* file, const std::vector<char>& bytes)
{
    if (!bytes.empty())
        std::fwrite(bytes.data(), 1, bytes.size(), file);
}

} // namespace

std::string MonitoringDataHolder::MonPath(const std::string& relative)
{
    return RootPath("/var/monitoring/" + relative);
}

void MonitoringDataHolder::SaveStatusToFile(const char* path, Saver saver, const SaveStatusArg* arg)
{
    // Truncated and rewritten in place: readers may hold the file open.
    std::FILE* file = std::fopen(path, "we");
    if (file == nullptr) {
        LogFailure("FAIL create temporary file <", path, errno);
        return;
    }
    (this->*saver)(file, arg);
    std::fclose(file);
}

void MonitoringDataHolder::CheckForMonDir(const char* path)
{
    (void)MakeDir(path);
}

void MonitoringDataHolder::CheckForMonControllerDir(const INet4::Addr& addr)
{
    if (!MakeDir(MonPath("controller/")))
        return;
    const std::string dir = MonPath("controller/" + addr.GetDotted());
    (void)MakeDir(dir);
    if (addr.IsEqual(ownAddress))
        LinkOwnControllerDir(dir);
}

// "controller/self" names the own address's directory. A link left from
// another address (the board's address changed between runs) is replaced by
// a new link renamed over it, so that readers never find no link at all.
void MonitoringDataHolder::LinkOwnControllerDir(const std::string& dir)
{
    const std::string link = MonPath("controller/self");
    std::vector<char> target(dir.size() + 2);
    const ssize_t n = ::readlink(link.c_str(), target.data(), target.size());
    if (n >= 0 && dir.compare(0, std::string::npos, target.data(), static_cast<std::size_t>(n)) == 0)
        return;
    if (n < 0 && errno == ENOENT) {
        if (::symlink(dir.c_str(), link.c_str()) == 0)
            return;
    } else {
        const std::string fresh = MonPath("controller/self.new");
        ::unlink(fresh.c_str());
        if (::symlink(dir.c_str(), fresh.c_str()) == 0) {
            if (::rename(fresh.c_str(), link.c_str()) == 0)
                return;
            const int error = errno;
            ::unlink(fresh.c_str());
            errno = error;
        }
    }
    LogFailure("FAIL create symlink to monitoring catalog <", dir, errno);
}

void MonitoringDataHolder::ClearMonitorFiles()
{
    // Only the top level: remove() takes files, links and empty directories;
    // a directory that still holds files stays with them.
    const std::string dir = MonPath("");
    std::vector<std::string> names;
    ListDir(dir, names);
    for (const std::string& name : names)
        std::remove((dir + name).c_str());
}

void MonitoringDataHolder::ClearControllerFiles()
{
    const std::string dir = MonPath("");
    std::vector<std::string> names;
    if (!ListDir(dir, names))
        return;
    for (const std::string& name : names) {
        if (name.compare(0, 5, "board") != 0)
            continue;
        if (traces[TraceCtl::monitoring_internal])
            std::clog << "remove monitoring info: " << name << std::endl;
        std::remove((dir + name).c_str());
    }
    boards.clear();
}

void MonitoringDataHolder::DipStatusSaver(std::FILE* file, const SaveStatusArg*)
{
    std::fprintf(file, "%" PRId32, dipValue);
}

void MonitoringDataHolder::PowerStatusSaver(std::FILE* file, const SaveStatusArg*)
{
    char digit = '0';
    switch (powerStatus.getValue()) {
    case LGCP::POWERStatus::standby:
        digit = '1';
        break;
    case LGCP::POWERStatus::main:
        digit = '2';
        break;
    case LGCP::POWERStatus::both:
        digit = '3';
        break;
    default:
        break;
    }
    std::fputc(digit, file);
}

void MonitoringDataHolder::ConfigVersionSaver(std::FILE* file, const SaveStatusArg*)
{
    std::fprintf(file, "%08" PRIx32 "-%016" PRIx64, configVersionHead, configVersionTail);
}

void MonitoringDataHolder::BoardStatusSaver(std::FILE* file, const SaveStatusArg* arg)
{
    if (file == nullptr || arg == nullptr || arg->value == nullptr)
        return;
    const auto& report = *static_cast<const LGCP::BoardStatusParams*>(arg->value);
    std::fprintf(file, "%d\n", report.get_status().getValue());
    WriteBytes(file, report.get_version());
    std::fprintf(file, "\n%d\n", report.get_type().getValue());

    for (LGCP::BoardStatusParams& entry : boards) {
        if (entry.get_position().getValue() == report.get_position().getValue()) {
            entry.get_version() = report.get_version();
            entry.get_status() = report.get_status();
            entry.get_type() = report.get_type();
            return;
        }
    }
    boards.push_back(report);
}

void MonitoringDataHolder::PhoneStatusSaver(std::FILE* file, const SaveStatusArg* arg)
{
    if (file == nullptr || arg == nullptr || arg->value == nullptr)
        return;
    const auto& report = *static_cast<const LGCP::EmPhoneStatusParams*>(arg->value);
    WriteBytes(file, report.get_panelSV());
    std::fputc('\n', file);
    WriteBytes(file, report.get_ctrlSV());
    std::fputc('\n', file);
    WriteBytes(file, report.get_fpgaSV());
    std::fprintf(file, "\n%d\n%d\n%d\n%d\n%d\n", report.get_status().getValue(),
                 report.get_powerStatus().getValue(), report.get_mode().getValue(),
                 report.get_hookStatus().getValue(), report.get_baseStatus().getValue());

    for (LGCP::EmPhoneStatusParams& entry : phones) {
        if (entry.get_id().getValue() == report.get_id().getValue()) {
            entry = report;
            return;
        }
    }
    phones.push_back(report);
}

void MonitoringDataHolder::TermCounterSaver(std::FILE* file, const SaveStatusArg* arg)
{
    if (arg == nullptr)
        return;
    std::fprintf(file, "%d", arg->counter);
}

void MonitoringDataHolder::ControllerStatusSaver(std::FILE* file, const SaveStatusArg* arg)
{
    if (arg == nullptr || arg->value == nullptr)
        return;
    std::fprintf(file, "%d", static_cast<const HSP::ControllerStatus*>(arg->value)->getValue());
}

void MonitoringDataHolder::StringParamSaver(std::FILE* file, const SaveStatusArg* arg)
{
    if (arg == nullptr || arg->value == nullptr)
        return;
    const auto& text = *static_cast<const std::string*>(arg->value);
    if (!text.empty())
        std::fwrite(text.data(), 1, text.size(), file);
}
