#pragma once

// What the radio controller tests share: a healthy simulated board with the
// loop clock frozen, the board's private addresses stood in for, the error
// stream captured, a sink that keeps what a controller reports, and the
// packets of the far side.

#include "asn1/modules/TERM.hpp"
#include "core/clock.hpp"
#include "core/inet.hpp"
#include "hardware/driver_port.hpp"
#include "radio/r2s_proto.hpp"
#include "radio/radio_control.hpp"
#include "sim/board_fixture.hpp"
#include "sim/rtp_ext.hpp"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <fcntl.h>

#include <cstdint>
#include <iostream>
#include <list>
#include <memory>
#include <string>
#include <vector>

namespace RadioTest {

using Bytes = std::vector<unsigned char>;

struct Sink : RTPSignalling::IRadioControlNotify {
    std::vector<TERM::RtpRadioRequest> requests;
    std::vector<int> codes;
    void RadioControlNotify(TERM::RtpRadioRequest const& request) override { requests.push_back(request); }
    void RadioControlNotify(int code) override { codes.push_back(code); }
};

inline std::uint32_t Addr(char const* dotted)
{
    in_addr a{};
    ::inet_pton(AF_INET, dotted, &a);
    return a.s_addr;
}

inline Bytes Pack(r2s_proto const& p)
{
    Bytes buf(1024);
    int const n = r2s_proto_pack(&p, buf.data(), static_cast<int>(buf.size()));
    buf.resize(n > 0 ? static_cast<std::size_t>(n) : 0);
    return buf;
}

inline Bytes Tx(unsigned ptt, unsigned ptt_id = 0, unsigned mute = 0, unsigned summation = 0)
{
    r2s_proto p;
    r2s_proto_init(&p, R2S_PROTO_TYPE_TX);
    r2s_proto_set_tx_header(&p, ptt, ptt_id, mute, summation);
    return Pack(p);
}

// The ED-137 session record as the radio factory fills it.
inline rtp_ext_init_params ED137Init(std::uint32_t keepalives = 5, std::uint32_t sigtime = 1)
{
    return rtp_ext_init_params{0x0167, 0, {1, 123, keepalives, sigtime}};
}

class Fixture : public SimTest::BoardTest {
protected:
    void SetUp() override
    {
        SimTest::BoardTest::SetUp();
        Mux::test::freeze();
        Net::set_private_address_source([this](std::list<INet4::Addr>& out) {
            for (auto const& a : private_addresses) {
                INet4::Addr addr;
                addr.Assign(a);
                out.push_back(addr);
            }
            return static_cast<int>(private_addresses.size());
        });
        err_ = std::make_unique<SimTest::Capture>(std::cerr);
        // The RTP session that form 0 attaches to: any open of this process.
        rtp_ = Driver::Open("/dev/mcc/ctl", O_RDWR | O_CLOEXEC);
        ASSERT_GE(rtp_, 0);
    }
    void TearDown() override
    {
        if (rtp_ >= 0)
            Driver::Close(rtp_);
        std::string const errors = err_->str();
        err_.reset();
        // The last line of defence of the controllers never fires on the
        // requests that the tests make them build.
        EXPECT_EQ(errors.find("invalid request"), std::string::npos) << errors;
        Net::set_private_address_source({});
        Mux::test::thaw();
        SimTest::BoardTest::TearDown();
    }

    rtp_ext_attach_session_params Attach() const { return {rtp_, -1}; }
    std::string errors() const { return err_->str(); }
    void clear_errors() { err_->clear(); }

    // The board's end of the one extension session (-1 when none is open).
    int Session()
    {
        auto sessions = board().device<Sim::RtpExt>().Sessions();
        return sessions.size() == 1 ? sessions.begin()->first : -1;
    }
    void Inject(Bytes const& bytes, char const* from = "10.0.0.1", std::uint32_t ssrc = 0x1111)
    {
        ASSERT_TRUE(board().device<Sim::RtpExt>().Inject(Session(), ssrc, Addr(from), bytes));
    }
    std::vector<Bytes> Written() { return board().device<Sim::RtpExt>().Written(Session()); }
    // Requests of one kind that reached the driver.
    std::uint64_t Count(std::uint32_t request) { return board().Count("/dev/rtp_ext", request); }

    std::vector<std::string> private_addresses;
    int rtp_ = -1;

private:
    std::unique_ptr<SimTest::Capture> err_;
};

} // namespace RadioTest
