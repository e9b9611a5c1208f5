#include "signalling/lapd_helper.hpp"

#include "core/clock.hpp"

namespace LapdTest {

Link::Link(SigTest::End& end, ISDN::Side::type side, unsigned int log)
    : end_(end), lapd_(new ISDN::LAPD(side, log))
{
    lapd_->hdlc = &end;
    lapd_->notify = this;
    end.notify = lapd_;
    add_protocol_tail(lapd_);
}

Link::~Link()
{
    end_.notify = nullptr;
}

void Link::Send(const Bytes& message)
{
    Packet p;
    prepare_head(p);
    p.put(message.data(), static_cast<unsigned int>(message.size()));
    ProtocolsFamily::message(p);
}

void Link::StartBasicRate(std::uint16_t ri)
{
    lapd_->change_to_bri();
    lapd_->ri_source = [ri] { return ri; };
    lapd_->mdl_remove();
    activate();
}

unsigned int Link::Reports(const std::string& text) const
{
    unsigned int n = 0;
    for (const auto& r : reports)
        if (r == text)
            ++n;
    return n;
}

void Link::on_deactivate(Protocol_status status)
{
    releases.push_back((status->success() ? "+" : "-") + status->message());
}

void Link::on_message(Packet& pkt)
{
    received.emplace_back(pkt.data(), pkt.data() + pkt.length());
}

Script::Script(SigTest::End& end) : end_(end)
{
    end.notify = this;
}

Script::~Script()
{
    end_.notify = nullptr;
}

void Script::on_hdlc_receive(Packet& frame)
{
    frames.emplace_back(frame.data(), frame.data() + frame.length());
    times_ms.push_back(NowMs());
}

std::uint32_t NowMs()
{
    return static_cast<std::uint32_t>((Mux::test::now_us() - kStartUs) / 1000u);
}

Frame Decode(const Bytes& f)
{
    Frame d;
    if (f.size() < 3) {
        d.kind = "?";
        return d;
    }
    d.sapi = f[0] >> 2;
    d.cr = (f[0] >> 1) & 1;
    d.tei = f[1] >> 1;
    const unsigned int c = f[2];
    if ((c & 1) == 0 || (c & 3) == 1) {
        if (f.size() < 4) {
            d.kind = "?";
            return d;
        }
        d.nr = f[3] >> 1;
        d.pf = f[3] & 1;
        if ((c & 1) == 0) {
            d.kind = "I";
            d.ns = static_cast<int>(c >> 1);
        } else {
            static const char* const s[4] = {"RR", "RNR", "REJ", "?"};
            d.kind = s[(c >> 2) & 3];
        }
        return d;
    }
    d.pf = (c >> 4) & 1;
    switch (c & 0xEF) {
    case 0x6F:
        d.kind = "SABME";
        break;
    case 0x0F:
        d.kind = "DM";
        break;
    case 0x03:
        d.kind = "UI";
        break;
    case 0x43:
        d.kind = "DISC";
        break;
    case 0x63:
        d.kind = "UA";
        break;
    case 0x87:
        d.kind = "FRMR";
        break;
    case 0xAF:
        d.kind = "XID";
        break;
    default:
        d.kind = "?";
        break;
    }
    return d;
}

Bytes Numbered(unsigned int i, unsigned int size)
{
    Bytes m(size < 2 ? 2 : size);
    m[0] = static_cast<std::uint8_t>(i >> 8);
    m[1] = static_cast<std::uint8_t>(i);
    for (std::size_t j = 2; j < m.size(); ++j)
        m[j] = static_cast<std::uint8_t>(i * 7 + j);
    return m;
}

unsigned int NumberOf(const Bytes& message)
{
    return message.size() < 2 ? ~0u : (unsigned{message[0]} << 8 | message[1]);
}

Bytes Management(std::uint8_t first, std::uint16_t ri, std::uint8_t type, int ai)
{
    return {first,
            0xFF,
            0x03,
            0x0F,
            static_cast<std::uint8_t>(ri & 0xFF),
            static_cast<std::uint8_t>(ri >> 8),
            type,
            static_cast<std::uint8_t>((ai << 1) | 1)};
}

NtLink::NtLink(SigTest::End& end, unsigned int log) : end_(end), nt_(new ISDN::LAPD_NT)
{
    end.notify = this;
    nt_->set_log(log);
    add_protocol_tail(nt_);
}

NtLink::~NtLink()
{
    end_.notify = nullptr;
}

void NtLink::Send(const Bytes& message)
{
    Packet p;
    prepare_head(p);
    p.put(message.data(), static_cast<unsigned int>(message.size()));
    ProtocolsFamily::message(p);
}

void NtLink::on_message(Packet& pkt)
{
    up.emplace_back(pkt.data(), pkt.data() + pkt.length());
}

} // namespace LapdTest
