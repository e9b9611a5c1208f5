#include "support/rtp_ext_capture.hpp"

namespace TestRtpExt {

namespace {

void put16(std::vector<std::uint8_t>& p, unsigned v)
{
    p.push_back(static_cast<std::uint8_t>(v >> 8));
    p.push_back(static_cast<std::uint8_t>(v));
}

} // namespace

std::vector<std::uint8_t> RtpPacket(std::vector<std::uint8_t> const& extension, std::uint16_t profile,
                                    std::uint32_t ssrc)
{
    std::size_t const words = (extension.size() + 3) / 4;
    std::vector<std::uint8_t> p = {0x90, 8}; // V=2, X=1; PCMA
    put16(p, 0x1234);                        // sequence number
    put16(p, 0);                             // timestamp
    put16(p, 0x1000);
    put16(p, ssrc >> 16);
    put16(p, ssrc & 0xFFFF);
    put16(p, profile);
    put16(p, static_cast<unsigned>(words));
    p.insert(p.end(), extension.begin(), extension.end());
    p.resize(16 + words * 4, 0);
    return p;
}

std::vector<std::vector<std::string>> Fields(std::vector<std::vector<std::uint8_t>> const& extensions,
                                             std::vector<std::string> const& fields, std::string* errors,
                                             std::uint16_t profile)
{
    std::vector<TestTshark::Frame> frames;
    for (auto const& e : extensions)
        frames.push_back(TestTshark::Frame{RtpPacket(e, profile), 0});
    std::vector<std::string> args = {"-d", "udp.port==40002,rtp", "-T", "fields"};
    for (char const* option : {"separator=,", "aggregator=|"}) {
        args.push_back("-E");
        args.push_back(option);
    }
    for (std::string const& f : fields) {
        args.push_back("-e");
        args.push_back(f);
    }
    return TestTshark::Fields(frames, {"-q", "-u", "40000,40002"}, args, ',', errors);
}

} // namespace TestRtpExt
