#pragma once

// What the data-link tests put around ISDN::LAPD: a layer-3 owner that
// records what comes up, a scripted far end that records frames with their
// loop-clock times, and a reading of frame octets for the assertions.

#include "core/protocol.hpp"
#include "signalling/kit/channel.hpp"
#include "signalling/lapd.hpp"
#include "signalling/lapd_nt.hpp"

#include <cstdint>
#include <string>
#include <vector>

namespace LapdTest {

using SigTest::Bytes;

// The family that owns one data link on a kit end, as the link slots do.
class Link : public ProtocolsFamily, public ISDN::LAPD::Notify {
public:
    Link(SigTest::End& end, ISDN::Side::type side, unsigned int log = 0);
    ~Link() override;
    Link(const Link&) = delete;
    Link& operator=(const Link&) = delete;

    ISDN::LAPD& lapd() { return *lapd_; }
    const ISDN::LAPD& lapd() const { return *lapd_; }

    // DL-DATA with a packet prepared as the stack prepares it.
    void Send(const Bytes& message);
    // Starts a basic-rate terminal without a TEI that asks the network for
    // one with reference `ri`, and then establishes its link.
    void StartBasicRate(std::uint16_t ri);

    // How many status reports carried this text.
    unsigned int Reports(const std::string& text) const;

    void on_activate() override { ++activations; }
    void on_deactivate(Protocol_status status) override;
    void on_status(Protocol_status status) override { reports.push_back(status->message()); }
    void on_message(Packet& pkt) override;
    void OnLAPD_FlowStatusChange(ISDN::LAPD* lapd) override
    {
        flow.push_back(lapd->flow_status());
        flow_queue.push_back(lapd->queue_out());
    }

    std::vector<Bytes> received;          // information fields, in order
    unsigned int activations = 0;         // on_activate
    std::vector<std::string> releases;    // on_deactivate: "+text" success, "-text" error
    std::vector<std::string> reports;     // on_status texts
    std::vector<int> flow;                // flow status after each change
    std::vector<unsigned int> flow_queue; // outgoing queue at each change

private:
    SigTest::End& end_;
    ISDN::LAPD* lapd_;
};

// A far end played by the test.
class Script : public HDLC::Notify {
public:
    explicit Script(SigTest::End& end);
    ~Script() override;
    Script(const Script&) = delete;
    Script& operator=(const Script&) = delete;

    bool Send(const Bytes& frame) { return end_.Send(frame); }

    void on_hdlc_receive(Packet& frame) override;
    void on_hdlc_error(Cause::Type) override {}
    void on_hdlc_ready() override {}

    std::vector<Bytes> frames;
    std::vector<std::uint32_t> times_ms; // loop-clock milliseconds since the test's start

private:
    SigTest::End& end_;
};

// The loop-clock start of every test that uses these helpers.
inline constexpr std::uint64_t kStartUs = 1000000000ull;
std::uint32_t NowMs();

// A frame read independently of the layer (Q.921 3.3 to 3.6).
struct Frame {
    std::string kind; // "I", "RR", "RNR", "REJ", "SABME", "DM", "UI", "DISC", "UA", "FRMR", "XID", "?"
    int sapi = -1;
    int tei = -1;
    int cr = -1;
    int pf = -1;
    int ns = -1;
    int nr = -1;
};
Frame Decode(const Bytes& frame);

// The family that owns the basic-rate network side on a kit end (the bus's
// network end), as the PSTN link slot owns it on an HDLC channel.
class NtLink : public ProtocolsFamily, public HDLC::Notify {
public:
    explicit NtLink(SigTest::End& end, unsigned int log = 2);
    ~NtLink() override;
    NtLink(const NtLink&) = delete;
    NtLink& operator=(const NtLink&) = delete;

    ISDN::LAPD_NT& nt() { return *nt_; }
    // A layer-3 message prepared as the stack prepares it.
    void Send(const Bytes& message);

    void transmit(Packet& pkt) override { end_.hdlc_transmit(pkt); }
    void on_message(Packet& pkt) override;
    void on_hdlc_receive(Packet& frame) override { receive(frame); }
    void on_hdlc_error(HDLC::Notify::Cause::Type) override {}
    void on_hdlc_ready() override {}

    std::vector<Bytes> up; // information fields, in order

private:
    SigTest::End& end_;
    ISDN::LAPD_NT* nt_;
};

// Message number i of a run: `size` octets, the number in the first two.
Bytes Numbered(unsigned int i, unsigned int size = 30);
unsigned int NumberOf(const Bytes& message);

// A TEI-management frame (Q.921 5.3.1): `first` is the first address octet
// (0xFC from a terminal, 0xFE from the network), Ri low octet first.
Bytes Management(std::uint8_t first, std::uint16_t ri, std::uint8_t type, int ai);

} // namespace LapdTest
