#include "core/syslog.hpp"

#include "core/clock.hpp"
#include "core/fd.hpp"
#include "core/paths.hpp"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <syslog.h>
#include <unistd.h>

SysLogManager syslogManager;

namespace {

constexpr int kFacilityMask = 0x3F8; // LOG_FACMASK
constexpr std::size_t kFlushAt = 12289;

// Errors after which the socket is of no further use: the log daemon went
// away (or was restarted under the same path).
bool PeerGone(int err)
{
    return err == ECONNREFUSED || err == ENOTCONN || err == ECONNRESET || err == EPIPE || err == EBADF ||
           err == EDESTADDRREQ;
}

} // namespace

SysLogManager::SysLogManager() : type_(SOCK_DGRAM), facility_(LOG_USER)
{
    set_ident("syslog-qv");
    std::memset(&addr_, 0, sizeof addr_);
    addr_.sun_family = AF_UNIX;
}

void SysLogManager::set_ident(const char* ident)
{
    if (ident != ident_)
        std::snprintf(ident_, sizeof ident_, "%s", ident);
}

void SysLogManager::openlog(const char* ident, int options, int facility)
{
    openlog_internal(ident, options, facility);
}

void SysLogManager::closelog()
{
    closelog_internal();
    set_ident("syslog-qv");
    type_ = SOCK_DGRAM;
    batch_len_ = 0;
    count_ = 0;
}

void SysLogManager::syslog(int priority, const char* format, ...)
{
    va_list ap;
    va_start(ap, format);
    syslog_internal(priority, format, ap);
    va_end(ap);
}

void SysLogManager::syslog_internal(int priority, const char* format, va_list ap)
{
    if ((mask_ & (1 << (priority & 7))) == 0)
        return;
    if ((priority & kFacilityMask) == 0)
        priority |= facility_;

    // At most kRecordSize - 1 characters; every piece is bounded by what is
    // left, and snprintf reports what it wanted, so clamp after each.
    std::size_t len = 0;
    auto clamp = [&](int n) {
        if (n > 0)
            len += static_cast<std::size_t>(n);
        if (len > kRecordSize - 1)
            len = kRecordSize - 1;
    };
    clamp(std::snprintf(record_, kRecordSize, "<%d>", priority));

    Mux::timeval tv;
    Mux::mux_gettimeofday(tv);
    std::time_t secs = tv.tv_sec;
    std::tm tm;
    if (::localtime_r(&secs, &tm) != nullptr)
        clamp(static_cast<int>(std::strftime(record_ + len, kRecordSize - len, "%h %e %T ", &tm)));

    std::size_t ident_at = len;
    if (ident_[0] != '\0')
        clamp(std::snprintf(record_ + len, kRecordSize - len, "%s", ident_));
    if ((options_ & opt_pid) != 0)
        clamp(std::snprintf(record_ + len, kRecordSize - len, "[%d]", static_cast<int>(::getpid())));
    if (ident_[0] != '\0')
        clamp(std::snprintf(record_ + len, kRecordSize - len, ": "));
    clamp(std::vsnprintf(record_ + len, kRecordSize - len, format, ap));
    record_[len] = '\0';

    if ((options_ & opt_perror) != 0) {
        iovec v[2];
        v[0].iov_base = record_ + ident_at;
        v[0].iov_len = len - ident_at;
        v[1].iov_base = const_cast<char*>("\n");
        v[1].iov_len = (len > ident_at && record_[len - 1] == '\n') ? 0 : 1;
        (void)::writev(STDERR_FILENO, v, 2);
    }

    if (!connected_)
        openlog_internal(nullptr, options_ | opt_ndelay, 0);
    if (connected_ && sendmsg_internal(record_, len + 1) >= 0)
        return;
    if (connected_) {
        closelog_internal();
        openlog_internal(nullptr, options_ | opt_ndelay, 0);
        if (connected_ && sendmsg_internal(record_, len + 1) >= 0)
            return;
    }
    closelog_internal();
    if ((options_ & opt_cons) != 0) {
        int fd = ::open("/dev/console", O_WRONLY | O_NOCTTY | O_CLOEXEC);
        if (fd >= 0) {
            iovec v[2];
            v[0].iov_base = record_ + ident_at;
            v[0].iov_len = len - ident_at;
            v[1].iov_base = const_cast<char*>("\r\n");
            v[1].iov_len = 2;
            (void)::writev(fd, v, 2);
            ::close(fd);
        }
    }
}

int SysLogManager::sendmsg_internal(const char* data, std::size_t length)
{
    if (batch_len_ + length >= kBatchSize || count_ >= kBatchCount) {
        // Cannot happen with records below kRecordSize and the flush
        // thresholds below; sending what waits keeps the record anyway.
        int r = sendmsg();
        if (r < 0)
            return r;
    }
    std::memcpy(batch_ + batch_len_, data, length);
    iov_[count_].iov_base = batch_ + batch_len_;
    iov_[count_].iov_len = length;
    batch_len_ += length;
    ++count_;
    if (count_ >= kBatchCount || batch_len_ >= kFlushAt)
        return sendmsg();
    return 0;
}

int SysLogManager::send_batch()
{
    if (fd_ < 0) {
        errno = ENOTCONN;
        return -1;
    }
    // The socket is connected: a record must not name the peer again (on a
    // stream socket that fails with EISCONN and every record is lost).
    msghdr hdr;
    std::memset(&hdr, 0, sizeof hdr);
    hdr.msg_iov = iov_;
    hdr.msg_iovlen = static_cast<decltype(hdr.msg_iovlen)>(count_);
    ssize_t r = ::sendmsg(fd_, &hdr, MSG_NOSIGNAL);
    return r < 0 ? -1 : static_cast<int>(r);
}

int SysLogManager::sendmsg()
{
    if (count_ == 0)
        return 0;
    int r = send_batch();
    if (r < 0 && PeerGone(errno)) {
        // The log daemon restarted: its new socket needs a new connection.
        // One more try, as the C library's client does.
        closelog_internal();
        openlog_internal(nullptr, options_ | opt_ndelay, 0);
        if (connected_)
            r = send_batch();
    }
    batch_len_ = 0;
    count_ = 0;
    return r;
}

void SysLogManager::openlog_internal(const char* ident, int options, int facility)
{
    if (ident != nullptr)
        set_ident(ident);
    options_ = options;
    if (facility != 0 && (facility & ~kFacilityMask) == 0)
        facility_ = facility;

    for (bool switched = false;;) {
        if (fd_ < 0) {
            std::string path = RootPath("/dev/log");
            if (path.size() >= sizeof addr_.sun_path)
                return; // would be cut: some other socket
            std::memset(&addr_, 0, sizeof addr_);
            addr_.sun_family = AF_UNIX;
            std::memcpy(addr_.sun_path, path.c_str(), path.size() + 1);
            if ((options_ & opt_ndelay) != 0) {
                fd_ = ::socket(AF_UNIX, type_ | SOCK_CLOEXEC, 0);
                if (fd_ < 0)
                    return;
            }
        }
        if (fd_ < 0 || connected_)
            return;
        if (::connect(fd_, reinterpret_cast<sockaddr*>(&addr_), sizeof addr_) == 0) {
            connected_ = true;
            mirror();
            return;
        }
        int err = errno;
        ::close(fd_);
        fd_ = -1;
        if (err != EPROTOTYPE || switched)
            return;
        type_ = type_ == SOCK_DGRAM ? SOCK_STREAM : SOCK_DGRAM;
        switched = true;
    }
}

void SysLogManager::closelog_internal()
{
    if (fd_ >= 0)
        ::close(fd_);
    fd_ = -1;
    connected_ = false;
}

void SysLogManager::mirror()
{
    // Raw writes to the standard descriptors (children's too) follow the
    // records to the current socket.
    if (mirror_std_ && fd_ > 0) {
        ::dup2(fd_, STDOUT_FILENO);
        ::dup2(fd_, STDERR_FILENO);
    }
}

// ------------------------------------------------------------ stream bufs

SysLogStreamBuf::SysLogStreamBuf(int facility, int severity)
    : SysLogStreamBuf(facility, severity, SysLogManager::kRecordSize)
{}

SysLogStreamBuf::SysLogStreamBuf(int facility, int severity, std::size_t area)
    : priority_(facility * 8 + severity), area_(new char[area]), size_(area)
{
    // One byte short of the buffer: room for the terminating NUL.
    setp(area_, area_ + size_ - 1);
}

SysLogStreamBuf::~SysLogStreamBuf()
{
    delete[] area_;
}

void SysLogStreamBuf::record(const char* text)
{
    ::syslog(priority_, "%s", text);
}

int SysLogStreamBuf::sync()
{
    char* begin = pbase();
    if (begin == nullptr)
        return 0;
    char* end = pptr();
    *end = '\0';
    if (std::memchr(begin, '\n', static_cast<std::size_t>(end - begin)) != nullptr) {
        char* line = begin;
        while (char* lf = static_cast<char*>(std::memchr(line, '\n', static_cast<std::size_t>(end - line)))) {
            *lf = '\0';
            record(line);
            line = lf + 1;
        }
        if (line < end)
            record(line);
        batch_done();
        setp(begin, epptr());
    } else if (end == epptr()) {
        record(begin);
        batch_done();
        setp(begin, epptr());
    }
    return 0;
}

SysLogStreamBuf::int_type SysLogStreamBuf::overflow(int_type ch)
{
    sync();
    if (traits_type::eq_int_type(ch, traits_type::eof()))
        return traits_type::not_eof(ch);
    if (pptr() == epptr())
        return traits_type::eof();
    *pptr() = traits_type::to_char_type(ch);
    pbump(1);
    return ch;
}

ManagedSysLogStreamBuf::ManagedSysLogStreamBuf(int facility, int severity)
    : SysLogStreamBuf(facility, severity, SysLogManager::kBatchSize)
{}

void ManagedSysLogStreamBuf::record(const char* text)
{
    syslogManager.syslog(priority(), "%s", text);
}

void ManagedSysLogStreamBuf::batch_done()
{
    syslogManager.sendmsg();
}
