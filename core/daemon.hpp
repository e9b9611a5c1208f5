#pragma once

// Daemon mode: detach from the terminal and re-point the standard streams at
// the system log (mode 0) or at hourly log files (mode 1).

#include <fstream>
#include <iosfwd>
#include <memory>
#include <streambuf>
#include <string>

namespace Daemon {

struct Params {
    Params();
    // 0: system log; 1: log files; other: detach only.
    int mode;
    // daemon(3)'s first argument: true keeps the working directory.
    bool keep_directory;
    // Mode 0: the record ident; mode 1: the directory of the log files.
    std::string name;
};

class Sentry {
public:
    explicit Sentry(const Params& params);
    ~Sentry();
    Sentry(const Sentry&) = delete;
    Sentry& operator=(const Sentry&) = delete;

private:
    int mode_;
    std::unique_ptr<std::streambuf> owned_;
    std::streambuf* saved_[3] = {nullptr, nullptr, nullptr};
};

// The first call detaches the process; later calls do nothing.
void Init(const Params& params);

} // namespace Daemon

// Writes the local time as "%d/%m %H:%M:%S"; nothing when it cannot be read.
void timestamp(std::ostream& os);

// Hourly log files "<dir>/%Y_%m_%d-%H.log"; every line is prefixed with
// "mm:ss:uuuuu: " when its first bytes are written.
class LogFileStreamBuf : public std::streambuf {
public:
    explicit LogFileStreamBuf(const std::string& directory);
    ~LogFileStreamBuf() override;

    void NewFile();
    const std::string& file_name() const noexcept { return file_name_; }

protected:
    std::streambuf* setbuf(char_type*, std::streamsize) override { return this; }
    int sync() override;
    int_type overflow(int_type ch) override;

private:
    void Open(int hour, const struct tm& tm);

    std::filebuf file_;
    std::string directory_;
    std::string file_name_;
    int hour_ = -1;
    bool continuation_ = false;
    char area_[16];
};
