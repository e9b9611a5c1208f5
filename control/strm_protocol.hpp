#pragma once
// Bottom layer of a control connection: one connected stream socket. Reads
// whatever the socket delivers into a fresh packet and hands it up; writes
// each packet handed down completely, or fails the stack.

#include "core/event.hpp"
#include "core/fd.hpp"
#include "core/measure.hpp"
#include "core/protocol.hpp"

#include <cstdint>
#include <iosfwd>
#include <string>

class StrmProtocol : public Protocol {
public:
    // The whole packet must leave within this bound or the stack fails.
    static constexpr unsigned int write_bound_ms = 1000;

    StrmProtocol();
    explicit StrmProtocol(Fd fd);
    ~StrmProtocol() override;

    void init();
    // Keeps a duplicate of fd (after releasing any socket held). Returns the
    // result of the output-queue query.
    int attach(Fd fd);
    // Leaves the loop and closes the socket; a detached layer is left alone.
    void release();
    bool attached() const noexcept { return static_cast<bool>(socket_); }
    Fd socket() const noexcept { return socket_.fd(); }

    // Socket figures for the diagnostic lines.
    int sendbuf_space() const;
    int recvbuf_space() const;
    int inq_space() const;
    int outq_space() const;
    int free_space() const;

    void PutHeader(std::ostream& os) const;

    void local_prepare_head(Packet& pkt) override;
    void local_prepare_tail(Packet& pkt) override;
    void local_activate() override;
    void local_deactivate() override;
    void message(Packet& pkt) override;

    void on_event(int fd, short revents);

    void link_name(std::string const& name) { link_ = name; }
    std::string const& link_name() const noexcept { return link_; }
    std::uint32_t overflow_counter() const noexcept { return overflow_; }
    Measure const& read_measure() const noexcept { return read_measure_; }
    Measure const& write_measure() const noexcept { return write_measure_; }
    std::string const& label() const noexcept { return label_; }
    Protocol_name const& name_object() const noexcept { return name_obj_; }

private:
    void do_read();
    void on_error(std::string const& text);
    void write_failed(char const* what, int err);

    std::string label_;
    Protocol_name_str name_obj_{"StrmProtocol"};
    OwnedFd socket_;
    bool queue_reports_free_ = false;
    std::string link_;
    Event read_event_;
    Measure read_measure_;
    Measure write_measure_;
    std::uint32_t overflow_ = 0;
};
