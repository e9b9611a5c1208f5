// The ED-137 header codec against hand-built octets: every header field and
// feature layout, the packer's room rules and masking, and the unpacker's
// handling of unknown, short and surplus features.

#include "radio/codec_test_util.hpp"
#include "radio/r2s_proto.hpp"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <vector>

namespace {

using namespace codectest;

Packed pack(r2s_proto const& p, int size = 1024)
{
    return PackWith(r2s_proto_pack, p, size);
}

r2s_proto rx(unsigned ptt_type, unsigned squ, unsigned ptt_id, unsigned mute, unsigned summation,
             unsigned sct)
{
    return RxHeader(ptt_type, squ, ptt_id, mute, summation, sct);
}

r2s_proto tx(unsigned ptt_type, unsigned ptt_id, unsigned mute, unsigned summation)
{
    return TxHeader(ptt_type, ptt_id, mute, summation);
}

r2s_proto unpacked(Bytes const& b, bool is_rx, int* result = nullptr)
{
    r2s_proto p;
    r2s_proto_init(&p, 0);
    int const r = is_rx ? r2s_proto_unpack_rx(&p, b.data(), static_cast<int>(b.size()))
                        : r2s_proto_unpack_tx(&p, b.data(), static_cast<int>(b.size()));
    if (result != nullptr)
        *result = r;
    return p;
}

r2s_proto_rx_additional_rrc rrc_four()
{
    r2s_proto_rx_additional_rrc r{};
    std::uint32_t const flags[8] = {0, 1, 0, 1, 1, 0, 1, 0}; // 0x5A
    for (int i = 0; i < 8; ++i)
        r.flag[i] = flags[i];
    r.form = R2S_PROTO_RRC_FOUR_BYTES;
    r.ext_flag[0] = 1;
    r.ext_flag[1] = 0;
    r.value[0] = 0x12;
    r.value[1] = 0x34;
    return r;
}

// Records and their octets, read both ways.
struct Golden {
    char const* name;
    r2s_proto record;
    Bytes wire;
};

std::vector<Golden> goldens()
{
    std::vector<Golden> g;
    // PTT type 1, SQU, PTT id 5 (000101), summation, SCT; no features.
    g.push_back({"rx plain", rx(1, 1, 5, 0, 1, 1), {0x31, 0x58, 0x00, 0x00}});
    // PTT type 2, PTT id 63, mute, summation.
    g.push_back({"tx plain", tx(2, 63, 1, 1), {0x4F, 0xF0, 0x00, 0x00}});

    r2s_proto r = rx(1, 1, 5, 0, 1, 1);
    r2s_proto_add_rx_sqi(&r, 31, 0);
    g.push_back({"rx sqi", r, {0x31, 0x59, 0x11, 0xF8}});
    r2s_proto_rx_additional_rrc one{};
    one.flag[0] = one.flag[2] = one.flag[5] = one.flag[7] = 1;
    r2s_proto_add_rx_rrc(&r, &one);
    r2s_proto_rx_additional_rrc const four = rrc_four();
    r2s_proto_add_rx_rrc(&r, &four);
    r2s_proto_rx_additional_mam const mam{1, 0x7FFFFF, 0, 0x000102, 0x1234, 0xABCD, 0x0001};
    r2s_proto_add_rx_mam(&r, &mam);
    g.push_back(
        {"rx all features", r, {0x31, 0x59, 0x11, 0xF8, 0x31, 0xA5, 0x34, 0x5A, 0x80, 0x12, 0x34, 0x4C,
                                0xFF, 0xFF, 0xFF, 0x00, 0x01, 0x02, 0x12, 0x34, 0xAB, 0xCD, 0x00, 0x01}});

    r2s_proto t = tx(2, 63, 1, 1);
    r2s_proto_tx_additional_climax_time_delay const delay{0x85};
    r2s_proto_tx_additional_rrc const rrc{{1, 0, 1, 0, 0, 1, 0, 1}};
    r2s_proto_tx_additional_rrm const rrm{1, 0x123456};
    r2s_proto_add_tx_time_delay(&t, &delay);
    r2s_proto_add_tx_rrc(&t, &rrc);
    r2s_proto_add_tx_rrm(&t, &rrm);
    g.push_back({"tx all features", t, {0x4F, 0xF1, 0x21, 0x85, 0x31, 0xA5, 0x43, 0x92, 0x34, 0x56}});
    return g;
}

} // namespace

TEST(R2sProtoCodec, GoldenVectorsBothWays)
{
    for (Golden const& g : goldens()) {
        SCOPED_TRACE(g.name);
        Packed const packed = pack(g.record);
        EXPECT_EQ(packed.result, static_cast<int>(g.wire.size()));
        EXPECT_EQ(packed.bytes, g.wire);
        // Unpacked from a cleared record, field by field the same record
        // (unused words and slots stay zero on both sides).
        int result = 1;
        r2s_proto const back = unpacked(g.wire, g.record.type == R2S_PROTO_TYPE_RX, &result);
        EXPECT_EQ(result, 0);
        EXPECT_EQ(std::memcmp(&back, &g.record, sizeof back), 0);
    }
    // Padding after the features is skipped as empty unknown features.
    Golden const t = goldens().back();
    Bytes padded = t.wire;
    padded.resize(12, 0);
    r2s_proto const back = unpacked(padded, false);
    EXPECT_EQ(std::memcmp(&back, &t.record, sizeof back), 0);
}

TEST(R2sProtoPack, HeadersWithoutFeaturesNeedFourOctets)
{
    r2s_proto const p = rx(1, 1, 5, 0, 1, 1);
    EXPECT_EQ(pack(p, 4).result, 4);
    EXPECT_EQ(pack(p, 3).result, -EBADF);
    EXPECT_EQ(pack(p, 1).result, -EBADF);
    EXPECT_EQ(pack(tx(0, 0, 0, 0), 3).result, -EBADF);
}

TEST(R2sProtoPack, FeaturesOfTheOtherDirectionArePassedOver)
{
    r2s_proto t = tx(1, 0, 0, 0);
    r2s_proto_add_rx_sqi(&t, 31, 0);
    // X stays set (the record has a feature), and nothing follows.
    EXPECT_EQ(pack(t).bytes, (Bytes{0x20, 0x01}));

    r2s_proto r = rx(1, 0, 0, 0, 0, 0);
    r2s_proto_tx_additional_climax_time_delay const delay{7};
    r2s_proto_add_tx_time_delay(&r, &delay);
    r2s_proto_add_rx_sqi(&r, 1, 2);
    EXPECT_EQ(pack(r).bytes, (Bytes{0x20, 0x01, 0x11, 0x0A}));
}

TEST(R2sProtoPack, RoomRules)
{
    // A one-octet RX RRC is counted as five octets for the room check, but
    // the result is what was written: header, 0x31 and the data.
    r2s_proto p = rx(0, 0, 0, 0, 0, 0);
    r2s_proto_rx_additional_rrc one{};
    one.flag[7] = 1;
    r2s_proto_add_rx_rrc(&p, &one);
    EXPECT_EQ(pack(p, 4).result, -EBADF);
    EXPECT_EQ(pack(p, 6).result, -EBADF);
    Packed const fit = pack(p, 7);
    EXPECT_EQ(fit.result, 4);
    EXPECT_EQ(fit.bytes, (Bytes{0x00, 0x01, 0x31, 0x01}));

    // The surplus three octets count against the features after it.
    r2s_proto_add_rx_sqi(&p, 1, 1);
    EXPECT_EQ(pack(p, 8).result, -EBADF);
    EXPECT_EQ(pack(p, 9).result, 6);

    // A short buffer stops at the first feature that does not fit.
    r2s_proto s = rx(0, 0, 0, 0, 0, 0);
    r2s_proto_add_rx_sqi(&s, 1, 1);
    EXPECT_EQ(pack(s, 3).result, -EBADF);
    EXPECT_EQ(pack(s, 4).result, 4);
    // Without features the two zero octets must fit.
    EXPECT_EQ(pack(tx(0, 0, 0, 0), 3).result, -EBADF);
}

TEST(R2sProtoPack, FieldsAreMaskedToTheirWidth)
{
    // PTT id 64 is 0 in six bits: SQU must stay clear.
    EXPECT_EQ(pack(rx(0, 0, 64, 0, 0, 0)).bytes, (Bytes{0x00, 0x00, 0x00, 0x00}));
    EXPECT_EQ(pack(tx(9, 64 + 5, 2, 3)).bytes, (Bytes{0x21, 0x50, 0x00, 0x00}));
    EXPECT_EQ(pack(rx(8, 2, 0, 2, 2, 2)).bytes, (Bytes{0x00, 0x00, 0x00, 0x00}));

    // Method 9 is 1 in three bits: the quality index is untouched.
    r2s_proto p = rx(0, 0, 0, 0, 0, 0);
    r2s_proto_add_rx_sqi(&p, 31 + 32, 9);
    EXPECT_EQ(pack(p).bytes, (Bytes{0x00, 0x01, 0x11, 0xF9}));

    r2s_proto t = tx(0, 0, 0, 0);
    r2s_proto_tx_additional_rrc const rrc{{3, 2, 3, 2, 3, 2, 3, 2}};
    r2s_proto_tx_additional_rrm const rrm{3, 0xFF800001};
    r2s_proto_tx_additional_climax_time_delay const delay{0x1FF};
    r2s_proto_add_tx_rrc(&t, &rrc);
    r2s_proto_add_tx_rrm(&t, &rrm);
    r2s_proto_add_tx_time_delay(&t, &delay);
    EXPECT_EQ(pack(t).bytes, (Bytes{0x00, 0x01, 0x31, 0xAA, 0x43, 0x80, 0x00, 0x01, 0x21, 0xFF}));

    r2s_proto m = rx(0, 0, 0, 0, 0, 0);
    r2s_proto_rx_additional_mam const mam{2, 0x00800000, 3, 0xFFFFFFFF, 0x12345, 0x10000, 0xFFFF};
    r2s_proto_add_rx_mam(&m, &mam);
    r2s_proto_rx_additional_rrc four = rrc_four();
    four.ext_flag[0] = 2;
    four.ext_flag[1] = 3;
    four.value[0] = 0x101;
    r2s_proto_add_rx_rrc(&m, &four);
    EXPECT_EQ(pack(m).bytes, (Bytes{0x00, 0x01, 0x4C, 0x00, 0x00, 0x00, 0xFF, 0xFF, 0xFF, 0x23,
                                    0x45, 0x00, 0x00, 0xFF, 0xFF, 0x34, 0x5A, 0x40, 0x01, 0x34}));
}

TEST(R2sProtoPack, Errors)
{
    EXPECT_EQ(r2s_proto_pack(nullptr, nullptr, 0), -E2BIG);
    r2s_proto p;
    r2s_proto_init(&p, 0);
    unsigned char buf[16];
    EXPECT_EQ(r2s_proto_pack(&p, buf, sizeof buf), -ENOEXEC);
    r2s_proto_set_type(&p, 3);
    EXPECT_EQ(r2s_proto_pack(&p, buf, sizeof buf), -ENOEXEC);
    r2s_proto_set_type(&p, R2S_PROTO_TYPE_RX);
    EXPECT_EQ(r2s_proto_pack(&p, nullptr, 16), 0);
    EXPECT_EQ(r2s_proto_pack_tx(nullptr, buf, 16), 0);

    // An RRC form that is neither one nor four octets.
    r2s_proto_rx_additional_rrc bad = rrc_four();
    bad.form = 2;
    r2s_proto_add_rx_sqi(&p, 3, 3);
    r2s_proto_add_rx_rrc(&p, &bad);
    EXPECT_EQ(r2s_proto_pack(&p, buf, sizeof buf), -ENOEXEC);

    // A count beyond the slots (a record filled by hand) packs 16 features.
    r2s_proto many = rx(0, 0, 0, 0, 0, 0);
    for (int i = 0; i < 16; ++i)
        r2s_proto_add_rx_sqi(&many, 1, 0);
    many.additional_count = 1000;
    EXPECT_EQ(pack(many).result, 2 + 16 * 2);
}

TEST(R2sProtoRecord, SixteenFeatureSlots)
{
    // A seventeenth feature and null items are not added.
    r2s_proto p = rx(0, 0, 0, 0, 0, 0);
    for (unsigned i = 0; i < 20; ++i)
        r2s_proto_add_rx_sqi(&p, i, i & 7);
    EXPECT_EQ(p.additional_count, 16u);
    EXPECT_EQ(p.additional[15].rx_sqi.qidx, 15u);
    r2s_proto_reset_additionals(&p);
    r2s_proto_add_rx_mam(&p, nullptr);
    r2s_proto_add_tx_rrm(&p, nullptr);
    EXPECT_EQ(p.additional_count, 0u);
    EXPECT_EQ(r2s_proto_add_rx_sqi(nullptr, 1, 1), 0);
}

TEST(R2sProtoUnpack, DirectionDecidesTheHeaderBits)
{
    // A TX header ignores octet 0 bit 4 and octet 1 bit 3.
    r2s_proto const plain = unpacked({0x4F, 0xF0}, false);
    r2s_proto const noisy = unpacked({0x5F, 0xF8}, false);
    EXPECT_EQ(noisy.tx.ptt_type, plain.tx.ptt_type);
    EXPECT_EQ(noisy.tx.ptt_id, plain.tx.ptt_id);
    EXPECT_EQ(noisy.tx.ptt_mute, plain.tx.ptt_mute);
    EXPECT_EQ(noisy.tx.ptt_summation, plain.tx.ptt_summation);
    EXPECT_EQ(noisy.tx.ptt_id, 63u);

    // The same octets read as RX carry SQU and SCT; TX features are not
    // RX features (type 2 is unknown there, type 4 needs 12 octets).
    r2s_proto const r = unpacked({0x5F, 0xF9, 0x21, 0x85, 0x43, 0x92, 0x34, 0x56}, true);
    EXPECT_EQ(r.rx.squ, 1u);
    EXPECT_EQ(r.rx.sct, 1u);
    EXPECT_EQ(r.rx.ptt_id, 63u);
    EXPECT_EQ(r.additional_count, 0u);
    // And RX features are not TX features.
    EXPECT_EQ(unpacked({0x00, 0x01, 0x11, 0xF8, 0x34, 1, 2, 3, 4}, false).additional_count, 0u);
}

TEST(R2sProtoUnpack, FeatureWalk)
{
    int result = 1;
    // X clear: whatever follows the header is ignored.
    EXPECT_EQ(unpacked({0x00, 0x00, 0x11, 0xF8}, true, &result).additional_count, 0u);
    EXPECT_EQ(result, 0);
    // X set with only the header.
    EXPECT_EQ(unpacked({0x00, 0x01}, true, &result).additional_count, 0u);
    EXPECT_EQ(result, 0);

    // An unknown feature (type 5, two octets) is skipped whole; so is a
    // known type with another length (SQI of two octets).
    r2s_proto const r = unpacked({0x00, 0x01, 0x52, 0x11, 0xF8, 0x12, 0xAA, 0xBB, 0x11, 0x43}, true, &result);
    EXPECT_EQ(result, 0);
    ASSERT_EQ(r.additional_count, 1u);
    EXPECT_EQ(r.additional[0].rx_sqi.qidx, 8u);
    EXPECT_EQ(r.additional[0].rx_sqi.method, 3u);

    // A feature running past the end: -EBADF, the features before it stay.
    r2s_proto const cut = unpacked({0x00, 0x01, 0x11, 0xF8, 0x4C, 1, 2, 3}, true, &result);
    EXPECT_EQ(result, -EBADF);
    ASSERT_EQ(cut.additional_count, 1u);
    EXPECT_EQ(cut.additional[0].rx_sqi.qidx, 31u);

    // Zero octets of padding read as empty unknown features.
    EXPECT_EQ(unpacked({0x00, 0x01, 0x11, 0xF8, 0x00, 0x00}, true, &result).additional_count, 1u);
    EXPECT_EQ(result, 0);
}

TEST(R2sProtoUnpack, SixteenFeaturesAtMost)
{
    Bytes b = {0x00, 0x01};
    for (int i = 0; i < 16; ++i) {
        b.push_back(0x11);
        b.push_back(static_cast<unsigned char>(i << 3));
    }
    // A 17th feature that would overrun is not looked at.
    b.push_back(0x4C);
    int result = 1;
    r2s_proto const r = unpacked(b, true, &result);
    EXPECT_EQ(result, 0);
    ASSERT_EQ(r.additional_count, 16u);
    EXPECT_EQ(r.additional[15].rx_sqi.qidx, 15u);
}

TEST(R2sProtoUnpack, Errors)
{
    r2s_proto p;
    r2s_proto_init(&p, 0);
    unsigned char const one[1] = {0x20};
    EXPECT_EQ(r2s_proto_unpack_rx(nullptr, one, 1), -E2BIG);
    EXPECT_EQ(r2s_proto_unpack_tx(&p, nullptr, 1), -E2BIG);
    EXPECT_EQ(r2s_proto_unpack_rx(&p, one, 1), -EBADF);
    EXPECT_EQ(r2s_proto_unpack_tx(&p, one, 0), -EBADF);
    EXPECT_EQ(r2s_proto_unpack_rx(&p, one, -5), -EBADF);
}

TEST(R2sProtoRecord, SourceComparison)
{
    r2s_proto a = rx(0, 0, 0, 0, 0, 0);
    r2s_proto b = rx(1, 1, 1, 1, 1, 1);
    a.src_addr = b.src_addr = 0x0A000001;
    a.src_ssrc = b.src_ssrc = 7;
    // Header and features do not count.
    r2s_proto_add_rx_sqi(&b, 1, 1);
    EXPECT_EQ(cmp_r2s_proto_source(&a, &b), 0);
    b.src_addr = 0x0A000003;
    EXPECT_EQ(cmp_r2s_proto_source(&a, &b), 2);
    b.src_ssrc = 5;
    EXPECT_EQ(cmp_r2s_proto_source(&a, &b), -2);
    r2s_proto_set_type(&b, R2S_PROTO_TYPE_TX);
    EXPECT_EQ(cmp_r2s_proto_source(&a, &b), -1);
    EXPECT_EQ(cmp_r2s_proto_source(&b, &a), 1);
    // Far-apart words still give a non-zero difference.
    a = b;
    a.src_ssrc = b.src_ssrc + 0x80000000u;
    EXPECT_NE(cmp_r2s_proto_source(&a, &b), 0);
    EXPECT_EQ(cmp_r2s_proto_source(nullptr, &b), -1);
    EXPECT_EQ(cmp_r2s_proto_source(&a, nullptr), -1);
}
