#include "signalling/kit/oracle.hpp"

#include "support/tshark.hpp"

namespace SigTest {

namespace {

const std::vector<std::string> kLapdFields = {
    "lapd.direction",
    "lapd.sapi",
    "lapd.cr",
    "lapd.tei",
    "lapd.control.ftype",
    "lapd.control.n_s",
    "lapd.control.n_r",
    "lapd.control.p",
    "lapd.control.f",
    "lapd.control.s_ftype",
    "lapd.control.u_modifier_cmd",
    "lapd.control.u_modifier_resp",
    "tei.reference",
    "tei.msg",
    "tei.action",
    "q931.call_ref_len",
    "q931.call_ref",
    "q931.call_ref_flag",
    "q931.message_type",
    "q931.information_element",
    "q931.cause_value",
    "_ws.expert.message",
};

const std::vector<std::string> kMtp2Fields = {
    "mtp2.bsn", "mtp2.bib", "mtp2.fsn", "mtp2.fib", "mtp2.li", "mtp2.sf", "mtp2.li.bad", "_ws.expert.message",
};

// Tabs between fields: the values themselves hold commas.
std::vector<Fields> Read(const std::vector<TapFrame>& frames, bool directions,
                         const std::vector<std::string>& text2pcap, std::vector<std::string> tshark,
                         const std::vector<std::string>& names, std::string* errors)
{
    std::vector<TestTshark::Frame> in;
    for (const TapFrame& f : frames)
        in.push_back(TestTshark::Frame{f.bytes, directions ? f.direction : char(0)});
    tshark.insert(tshark.end(), {"-T", "fields", "-E", "separator=/t", "-E", "aggregator=;"});
    for (const std::string& n : names)
        tshark.insert(tshark.end(), {"-e", n});
    std::vector<Fields> out;
    for (const auto& row : TestTshark::Fields(in, text2pcap, tshark, '\t', errors)) {
        Fields f;
        for (std::size_t i = 0; i < names.size(); ++i)
            f[names[i]] = i < row.size() ? row[i] : std::string();
        out.push_back(std::move(f));
    }
    return out;
}

} // namespace

std::vector<Fields> LapdFields(const std::vector<TapFrame>& frames, bool q931, std::string* errors)
{
    std::vector<std::string> tshark;
    if (!q931)
        tshark = {"--disable-protocol", "q931"};
    return Read(frames, true, {"-q", "-D", "-l", "203"}, tshark, kLapdFields, errors);
}

std::vector<Fields> Mtp2Fields(const std::vector<TapFrame>& frames, std::string* errors)
{
    return Read(frames, false, {"-q", "-l", "140"},
                {"-o", "mtp2.capture_contains_frame_check_sequence:FALSE", "-o",
                 "mtp2.use_extended_sequence_numbers:FALSE", "--disable-protocol", "mtp3"},
                kMtp2Fields, errors);
}

} // namespace SigTest
