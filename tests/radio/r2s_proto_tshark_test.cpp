// Packed ED-137 headers read back by an independent decoder: tshark's
// ED-137A/B dissector must find in each RTP header extension the values
// that were packed. Every header field is non-zero in at least one case.

#include "radio/codec_test_util.hpp"
#include "radio/r2s_proto.hpp"
#include "support/rtp_ext_capture.hpp"

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

namespace {

std::vector<std::string> const kFields = {
    "rtp.ext.ed137a.ptt_type",
    "rtp.ext.ed137a.squ",
    "rtp.ext.ed137a.ptt_id",
    "rtp.ext.ed137a.pm",
    "rtp.ext.ed137a.ptts",
    "rtp.ext.ed137a.sct",
    "rtp.ext.ed137a.x",
    "rtp.ext.ed137a.ft.type",
    "rtp.ext.ed137a.ft.len",
    "rtp.ext.ed137a.ft.sqi.qidx",
    "rtp.ext.ed137a.ft.sqi.qidx-ml",
    "rtp.ext.ed137a.ft.climax_delay.mode",
    "rtp.ext.ed137a.ft.climax_delay.relative_value",
    "rtp.ext.ed137a.ft.climax_delay.absolute_value",
    "rtp.ext.ed137b.ft.rrc.mstxf1",
    "rtp.ext.ed137b.ft.rrc.msrxf1",
    "rtp.ext.ed137b.ft.rrc.mstxf2",
    "rtp.ext.ed137b.ft.rrc.msrxf2",
    "rtp.ext.ed137b.ft.rrc.seltxf1",
    "rtp.ext.ed137b.ft.rrc.seltxf2",
    "rtp.ext.ed137b.ft.rrc.murxf1",
    "rtp.ext.ed137b.ft.rrc.murxf2",
    "rtp.ext.ed137b.ft.climax_ddc.rmm_tqv",
    "rtp.ext.ed137b.ft.climax_ddc.rmm_t1",
    "rtp.ext.ed137b.ft.climax_ddc.mam_tqg",
    "rtp.ext.ed137b.ft.climax_ddc.mam_t1",
    "rtp.ext.ed137b.ft.climax_ddc.mam_nmr",
    "rtp.ext.ed137b.ft.climax_ddc.mam_t2",
    "rtp.ext.ed137b.ft.climax_ddc.mam_tsd",
    "rtp.ext.ed137b.ft.climax_ddc.mam_tj1",
    "rtp.ext.ed137b.ft.climax_ddc.mam_tid",
};

// A packed header and the fields tshark must show for it; fields not named
// must be absent.
struct Case {
    std::string name;
    r2s_proto record;
    std::map<std::string, std::string> fields;
};

std::map<std::string, std::string> rx_header(unsigned ptt_type, unsigned squ, unsigned ptt_id, unsigned mute,
                                             unsigned summation, unsigned sct, bool x)
{
    return {{"rtp.ext.ed137a.ptt_type", std::to_string(ptt_type)},
            {"rtp.ext.ed137a.squ", std::to_string(squ)},
            {"rtp.ext.ed137a.ptt_id", std::to_string(ptt_id)},
            {"rtp.ext.ed137a.pm", std::to_string(mute)},
            {"rtp.ext.ed137a.ptts", std::to_string(summation)},
            {"rtp.ext.ed137a.sct", std::to_string(sct)},
            {"rtp.ext.ed137a.x", x ? "1" : "0"}};
}

r2s_proto rx(unsigned ptt_type, unsigned squ, unsigned ptt_id, unsigned mute, unsigned summation,
             unsigned sct)
{
    return codectest::RxHeader(ptt_type, squ, ptt_id, mute, summation, sct);
}

std::vector<Case> cases()
{
    std::vector<Case> c;
    c.push_back({"rx plain", rx(1, 1, 42, 0, 1, 1), rx_header(1, 1, 42, 0, 1, 1, false)});
    c.push_back({"rx mute", rx(4, 0, 1, 1, 0, 0), rx_header(4, 0, 1, 1, 0, 0, false)});

    Case sqi{"rx sqi", rx(2, 1, 63, 0, 0, 0), rx_header(2, 1, 63, 0, 0, 0, true)};
    r2s_proto_add_rx_sqi(&sqi.record, 31, 0);
    r2s_proto_add_rx_sqi(&sqi.record, 5, 3);
    sqi.fields["rtp.ext.ed137a.ft.type"] = "0x01|0x01";
    sqi.fields["rtp.ext.ed137a.ft.len"] = "1|1";
    sqi.fields["rtp.ext.ed137a.ft.sqi.qidx"] = "31|5";
    sqi.fields["rtp.ext.ed137a.ft.sqi.qidx-ml"] = "0|3";
    c.push_back(sqi);

    Case rrc{"rx rrc", rx(3, 0, 16, 1, 1, 1), rx_header(3, 0, 16, 1, 1, 1, true)};
    r2s_proto_rx_additional_rrc one{};
    std::uint32_t const flags[8] = {1, 0, 1, 1, 0, 0, 1, 0};
    for (int i = 0; i < 8; ++i)
        one.flag[i] = flags[i];
    r2s_proto_add_rx_rrc(&rrc.record, &one);
    rrc.fields["rtp.ext.ed137a.ft.type"] = "0x03";
    rrc.fields["rtp.ext.ed137a.ft.len"] = "1";
    char const* const names[8] = {"mstxf1",  "msrxf1",  "mstxf2", "msrxf2",
                                  "seltxf1", "seltxf2", "murxf1", "murxf2"};
    for (int i = 0; i < 8; ++i)
        rrc.fields[std::string("rtp.ext.ed137b.ft.rrc.") + names[i]] = std::to_string(flags[i]);
    c.push_back(rrc);

    Case mam{"rx mam", rx(0, 1, 3, 0, 0, 1), rx_header(0, 1, 3, 0, 0, 1, true)};
    r2s_proto_rx_additional_mam const m{1, 0x123456, 1, 0x7FFFFE, 0x8001, 0x00FF, 0xFFFF};
    r2s_proto_add_rx_mam(&mam.record, &m);
    mam.fields["rtp.ext.ed137a.ft.type"] = "0x04";
    mam.fields["rtp.ext.ed137a.ft.len"] = "12";
    mam.fields["rtp.ext.ed137b.ft.climax_ddc.mam_tqg"] = "1";
    mam.fields["rtp.ext.ed137b.ft.climax_ddc.mam_t1"] = std::to_string(0x123456);
    mam.fields["rtp.ext.ed137b.ft.climax_ddc.mam_nmr"] = "1";
    mam.fields["rtp.ext.ed137b.ft.climax_ddc.mam_t2"] = std::to_string(0x7FFFFE);
    mam.fields["rtp.ext.ed137b.ft.climax_ddc.mam_tsd"] = std::to_string(0x8001);
    mam.fields["rtp.ext.ed137b.ft.climax_ddc.mam_tj1"] = std::to_string(0x00FF);
    mam.fields["rtp.ext.ed137b.ft.climax_ddc.mam_tid"] = std::to_string(0xFFFF);
    c.push_back(mam);

    // TX headers: SQU and SCT are zero on the wire.
    Case tx{"tx all features", codectest::TxHeader(1, 33, 1, 1), rx_header(1, 0, 33, 1, 1, 0, true)};
    r2s_proto_tx_additional_climax_time_delay const relative{0x05};
    r2s_proto_tx_additional_climax_time_delay const absolute{0x80 | 0x41};
    r2s_proto_tx_additional_rrc trrc{};
    trrc.flag[1] = trrc.flag[3] = trrc.flag[7] = 1;
    r2s_proto_tx_additional_rrm const rrm{1, 0x654321};
    r2s_proto_add_tx_time_delay(&tx.record, &relative);
    r2s_proto_add_tx_rrc(&tx.record, &trrc);
    r2s_proto_add_tx_rrm(&tx.record, &rrm);
    r2s_proto_add_tx_time_delay(&tx.record, &absolute);
    tx.fields["rtp.ext.ed137a.ft.type"] = "0x02|0x03|0x04|0x02";
    tx.fields["rtp.ext.ed137a.ft.len"] = "1|1|3|1";
    tx.fields["rtp.ext.ed137a.ft.climax_delay.mode"] = "0|1";
    tx.fields["rtp.ext.ed137a.ft.climax_delay.relative_value"] = "5";
    tx.fields["rtp.ext.ed137a.ft.climax_delay.absolute_value"] = std::to_string(0x41);
    for (int i = 0; i < 8; ++i)
        tx.fields[std::string("rtp.ext.ed137b.ft.rrc.") + names[i]] = std::to_string(trrc.flag[i]);
    tx.fields["rtp.ext.ed137b.ft.climax_ddc.rmm_tqv"] = "1";
    tx.fields["rtp.ext.ed137b.ft.climax_ddc.rmm_t1"] = std::to_string(0x654321);
    c.push_back(tx);

    c.push_back({"tx plain", codectest::TxHeader(5, 0, 0, 0), rx_header(5, 0, 0, 0, 0, 0, false)});
    return c;
}

} // namespace

TEST(R2sProtoTshark, DissectorReadsThePackedValues)
{
    if (!TestTshark::Available())
        GTEST_SKIP() << "text2pcap or tshark not installed";
    std::vector<Case> const all = cases();
    std::vector<std::vector<std::uint8_t>> extensions;
    for (Case const& c : all) {
        unsigned char buf[1024];
        int const n = r2s_proto_pack(&c.record, buf, sizeof buf);
        ASSERT_GT(n, 0) << c.name;
        extensions.emplace_back(buf, buf + n);
    }
    std::string errors;
    auto const rows = TestRtpExt::Fields(extensions, kFields, &errors);
    EXPECT_EQ(errors, "");
    ASSERT_EQ(rows.size(), all.size());
    for (std::size_t i = 0; i < all.size(); ++i) {
        SCOPED_TRACE(all[i].name);
        ASSERT_EQ(rows[i].size(), kFields.size());
        for (std::size_t f = 0; f < kFields.size(); ++f) {
            auto const it = all[i].fields.find(kFields[f]);
            EXPECT_EQ(rows[i][f], it != all[i].fields.end() ? it->second : "") << kFields[f];
        }
    }
}
