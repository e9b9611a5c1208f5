#pragma once

// What the SS7 link tests share: an SLC stacked under a recording layer 3
// on a kit end, a raw far end, signal units built byte by byte, and the
// log lines the layer writes.

#include "core/protocol.hpp"
#include "signalling/kit/channel.hpp"
#include "signalling/ss7_slc.hpp"

#include <algorithm>
#include <cstdint>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

namespace Ss7Test {

using SigTest::Bytes;

// The layer above the SLC: what it was told and what it received.
class Layer3 : public Protocol {
public:
    void local_activate() override { ++activations; }
    void on_deactivate(Protocol_status status) override { deactivations.push_back(status->message()); }
    void receive(Packet& pkt) override { got.emplace_back(pkt.data(), pkt.data() + pkt.length()); }

    int activations = 0;
    std::vector<std::string> deactivations;
    std::vector<Bytes> got;
};

// One SLC on a kit end, with its layer 3.
class Link {
public:
    explicit Link(SigTest::End& end) : end_(end)
    {
        slc.hdlc = &end;
        end.notify = &slc;
        stack.add_protocol_tail(&slc);
        stack.add_protocol_tail(&l3);
    }
    ~Link() { end_.notify = nullptr; }
    Link(const Link&) = delete;
    Link& operator=(const Link&) = delete;

    // A message from layer 3, built as a layer 3 builds it.
    void Send(const Bytes& octets)
    {
        Packet p;
        l3.prepare_head(p);
        p.put(octets.data(), static_cast<unsigned int>(octets.size()));
        l3.transmit(p);
    }

    ProtocolsList stack;
    SS7::SLC slc;
    Layer3 l3;

private:
    SigTest::End& end_;
};

// The far end as raw octets: every unit it heard.
class RawPeer : public HDLC::Notify {
public:
    explicit RawPeer(SigTest::End& end) : end_(end) { end.notify = this; }
    ~RawPeer() override { end_.notify = nullptr; }
    RawPeer(const RawPeer&) = delete;
    RawPeer& operator=(const RawPeer&) = delete;

    void on_hdlc_receive(Packet& frame) override
    {
        units.emplace_back(frame.data(), frame.data() + frame.length());
    }
    void on_hdlc_error(Cause::Type) override {}
    void on_hdlc_ready() override {}

    bool Send(const Bytes& unit)
    {
        Packet p;
        p.reserve_head(4);
        p.put(unit.data(), static_cast<unsigned int>(unit.size()));
        return end_.hdlc_transmit(p);
    }

    std::vector<Bytes> units;

private:
    SigTest::End& end_;
};

// A FISU or MSU (Q.703 2.2): LI counts the octets after it, 63 for more.
inline Bytes Unit(unsigned int bsn, unsigned int bib, unsigned int fsn, unsigned int fib,
                  const Bytes& sif = {})
{
    Bytes u(3 + sif.size());
    u[0] = static_cast<std::uint8_t>(bib << 7 | bsn);
    u[1] = static_cast<std::uint8_t>(fib << 7 | fsn);
    u[2] = static_cast<std::uint8_t>(sif.size() > 62 ? 63 : sif.size());
    std::copy(sif.begin(), sif.end(), u.begin() + 3);
    return u;
}

inline Bytes Lssu(std::uint8_t status)
{
    return {0xFF, 0xFF, 0x01, status};
}

// The standard log and error streams, both into one text, while it lives.
class LogCapture {
public:
    LogCapture() : clog_(std::clog.rdbuf(out_.rdbuf())), cerr_(std::cerr.rdbuf(out_.rdbuf())) {}
    ~LogCapture()
    {
        std::clog.rdbuf(clog_);
        std::cerr.rdbuf(cerr_);
    }
    LogCapture(const LogCapture&) = delete;
    LogCapture& operator=(const LogCapture&) = delete;

    std::string text() const { return out_.str(); }
    bool Has(const std::string& s) const { return text().find(s) != std::string::npos; }
    void clear() { out_.str(""); }

private:
    std::ostringstream out_;
    std::streambuf* clog_;
    std::streambuf* cerr_;
};

} // namespace Ss7Test
