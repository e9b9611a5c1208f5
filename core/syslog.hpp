#pragma once

// The server's own client of the local system-log socket "/dev/log", and the
// stream buffers that cut standard-stream output into log records.
//
// Records are formatted as the C library's syslog(3) does (RFC 3164 local
// form: "<PRI>Mmm dd hh:mm:ss ident: message"), each ending in a NUL, and
// batched: the records of one stream sync travel in one send.

#include <cstdarg>
#include <cstddef>
#include <streambuf>
#include <string>

#include <sys/socket.h>
#include <sys/uio.h>
#include <sys/un.h>

class SysLogManager {
public:
    // openlog(3) option bits.
    enum { opt_pid = 1, opt_cons = 2, opt_ndelay = 8, opt_perror = 32 };

    SysLogManager();
    // Trivially destroyed: the standard streams may still flush into it
    // while static objects are torn down at exit.
    ~SysLogManager() = default;
    SysLogManager(const SysLogManager&) = delete;
    SysLogManager& operator=(const SysLogManager&) = delete;

    void openlog(const char* ident, int options, int facility);
    void closelog();
    void syslog(int priority, const char* format, ...) __attribute__((format(printf, 3, 4)));
    // Sends the waiting records now; the result of the send (0 when none
    // waited).
    int sendmsg();

    // Keep the standard output and error descriptors pointing at the socket,
    // also across reconnections (daemon mode).
    void set_mirror_std(bool on) { mirror_std_ = on; }

    int descriptor() const noexcept { return fd_; }
    bool connected() const noexcept { return connected_; }
    int socket_type() const noexcept { return type_; }
    const char* ident() const noexcept { return ident_; }
    int waiting() const noexcept { return count_; }

    static constexpr std::size_t kRecordSize = 1024;
    static constexpr std::size_t kBatchSize = 16384;
    static constexpr int kBatchCount = 256;
    static constexpr std::size_t kIdentSize = 80;

private:
    void syslog_internal(int priority, const char* format, va_list ap);
    void openlog_internal(const char* ident, int options, int facility);
    void closelog_internal();
    int sendmsg_internal(const char* data, std::size_t length);
    int send_batch();
    void mirror();
    void set_ident(const char* ident);

    int type_;
    int fd_ = -1;
    bool connected_ = false;
    int options_ = 0;
    char ident_[kIdentSize];
    int facility_;
    int mask_ = 255;
    sockaddr_un addr_;
    char record_[kRecordSize];
    char batch_[kBatchSize];
    std::size_t batch_len_ = 0;
    iovec iov_[kBatchCount];
    int count_ = 0;
    bool mirror_std_ = false;
};

extern SysLogManager syslogManager;

// Cuts stream output into records for the C library's syslog(3).
class SysLogStreamBuf : public std::streambuf {
public:
    // The record priority is facility * 8 + severity.
    SysLogStreamBuf(int facility, int severity);
    ~SysLogStreamBuf() override;

    int priority() const noexcept { return priority_; }

protected:
    SysLogStreamBuf(int facility, int severity, std::size_t area);

    std::streambuf* setbuf(char_type*, std::streamsize) override { return this; }
    int sync() override;
    int_type overflow(int_type ch) override;

    virtual void record(const char* text);
    virtual void batch_done() {}

private:
    int priority_;
    char* area_;
    std::size_t size_;
};

// The same through syslogManager, with a 16384-byte area and one batch per
// sync.
class ManagedSysLogStreamBuf : public SysLogStreamBuf {
public:
    ManagedSysLogStreamBuf(int facility, int severity);

protected:
    void record(const char* text) override;
    void batch_done() override;
};
