#include "radio/r2s_proto.hpp"

#include "radio/codec_wire.hpp"

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace {

using radio_wire::get_u16;
using radio_wire::put_u16;

// Octets a feature takes on the wire, for the room check of the packer; 0
// for a type that the direction does not pack. The RX RRC asks the room of
// its four-octet form whichever form it has; callers size their buffers by
// this rule, so it stays.
int feature_room(std::uint32_t type, bool rx)
{
    if (rx) {
        switch (type) {
        case R2S_PROTO_RX_SQI:
            return 2;
        case R2S_PROTO_RX_RRC:
            return 5;
        case R2S_PROTO_RX_MAM:
            return 13;
        default:
            return 0;
        }
    }
    switch (type) {
    case R2S_PROTO_TX_CLIMAX_TIME_DELAY:
        return 2;
    case R2S_PROTO_TX_RRC:
        return 2;
    case R2S_PROTO_TX_RRM:
        return 4;
    default:
        return 0;
    }
}

unsigned char feature_byte(std::uint32_t type, unsigned length)
{
    return static_cast<unsigned char>(type << 4 | length);
}

unsigned char flag_octet(std::uint32_t const (&flag)[8])
{
    unsigned v = 0;
    for (std::uint32_t f : flag)
        v = v << 1 | (f & 1);
    return static_cast<unsigned char>(v);
}

void read_flag_octet(unsigned char octet, std::uint32_t (&flag)[8])
{
    for (int i = 0; i < 8; ++i)
        flag[i] = octet >> (7 - i) & 1;
}

// A one-bit flag in front of a 23-bit value, most significant octet first.
void put_flag23(unsigned char* out, std::uint32_t flag, std::uint32_t value)
{
    out[0] = static_cast<unsigned char>((flag & 1) << 7 | (value >> 16 & 0x7F));
    out[1] = static_cast<unsigned char>(value >> 8);
    out[2] = static_cast<unsigned char>(value);
}

void get_flag23(unsigned char const* in, std::uint32_t& flag, std::uint32_t& value)
{
    flag = in[0] >> 7;
    value = static_cast<std::uint32_t>(in[0] & 0x7F) << 16 | static_cast<std::uint32_t>(in[1]) << 8 | in[2];
}

// Writes one feature of the RX direction at `out`; returns the octets
// written or -ENOEXEC.
int write_rx_feature(r2s_proto_additional const& f, unsigned char* out)
{
    switch (f.type) {
    case R2S_PROTO_RX_SQI:
        out[0] = feature_byte(f.type, 1);
        out[1] = static_cast<unsigned char>((f.rx_sqi.qidx & 0x1F) << 3 | (f.rx_sqi.method & 7));
        return 2;
    case R2S_PROTO_RX_RRC:
        if (f.rx_rrc.form == R2S_PROTO_RRC_ONE_BYTE) {
            out[0] = feature_byte(f.type, 1);
            out[1] = flag_octet(f.rx_rrc.flag);
            return 2;
        }
        if (f.rx_rrc.form == R2S_PROTO_RRC_FOUR_BYTES) {
            out[0] = feature_byte(f.type, 4);
            out[1] = flag_octet(f.rx_rrc.flag);
            out[2] =
                static_cast<unsigned char>((f.rx_rrc.ext_flag[0] & 1) << 7 | (f.rx_rrc.ext_flag[1] & 1) << 6);
            out[3] = static_cast<unsigned char>(f.rx_rrc.value[0]);
            out[4] = static_cast<unsigned char>(f.rx_rrc.value[1]);
            return 5;
        }
        return -ENOEXEC;
    case R2S_PROTO_RX_MAM:
        out[0] = feature_byte(f.type, 12);
        put_flag23(out + 1, f.rx_mam.tqg, f.rx_mam.t1);
        put_flag23(out + 4, f.rx_mam.nmr, f.rx_mam.t2);
        put_u16(out + 7, f.rx_mam.tsd);
        put_u16(out + 9, f.rx_mam.tj1);
        put_u16(out + 11, f.rx_mam.tid);
        return 13;
    default:
        return 0;
    }
}

int write_tx_feature(r2s_proto_additional const& f, unsigned char* out)
{
    switch (f.type) {
    case R2S_PROTO_TX_CLIMAX_TIME_DELAY:
        out[0] = feature_byte(f.type, 1);
        out[1] = static_cast<unsigned char>(f.tx_climax_time_delay.delay);
        return 2;
    case R2S_PROTO_TX_RRC:
        out[0] = feature_byte(f.type, 1);
        out[1] = flag_octet(f.tx_rrc.flag);
        return 2;
    case R2S_PROTO_TX_RRM:
        out[0] = feature_byte(f.type, 3);
        put_flag23(out + 1, f.tx_rrm.tqv, f.tx_rrm.t1);
        return 4;
    default:
        return 0;
    }
}

// Appends the features of the direction after the two header octets.
int pack_features(r2s_proto const& p, bool rx, unsigned char* buf, int size)
{
    // A record filled by hand may claim more slots than it has.
    unsigned const count = std::min(p.additional_count, R2S_PROTO_MAX_ADDITIONALS);
    if (count == 0) {
        if (size < 4)
            return -EBADF;
        return 4; // the two octets after the header are already zero
    }
    int needed = 2;
    int written = 2;
    for (unsigned i = 0; i < count; ++i) {
        r2s_proto_additional const& f = p.additional[i];
        int const room = feature_room(f.type, rx);
        if (room == 0)
            continue;
        needed += room;
        if (needed > size)
            return -EBADF;
        // `needed` is never below what was written, so the feature fits.
        int const n = rx ? write_rx_feature(f, buf + written) : write_tx_feature(f, buf + written);
        if (n < 0)
            return n;
        written += n;
    }
    return written;
}

// Decodes one feature of a known type and length into `slot`; false for
// any other feature, which the caller skips whole (`slot` is left alone).
bool read_feature(r2s_proto_additional& slot, unsigned type, unsigned length, unsigned char const* d, bool rx)
{
    r2s_proto_additional f;
    std::memset(&f, 0, sizeof f);
    f.type = type;
    bool known = false;
    if (rx) {
        if (type == R2S_PROTO_RX_SQI && length == 1) {
            f.rx_sqi.qidx = d[0] >> 3;
            f.rx_sqi.method = d[0] & 7;
            known = true;
        } else if (type == R2S_PROTO_RX_RRC && (length == 1 || length == 4)) {
            read_flag_octet(d[0], f.rx_rrc.flag);
            f.rx_rrc.form = length == 1 ? R2S_PROTO_RRC_ONE_BYTE : R2S_PROTO_RRC_FOUR_BYTES;
            if (length == 4) {
                f.rx_rrc.ext_flag[0] = d[1] >> 7;
                f.rx_rrc.ext_flag[1] = d[1] >> 6 & 1;
                f.rx_rrc.value[0] = d[2];
                f.rx_rrc.value[1] = d[3];
            }
            known = true;
        } else if (type == R2S_PROTO_RX_MAM && length == 12) {
            get_flag23(d, f.rx_mam.tqg, f.rx_mam.t1);
            get_flag23(d + 3, f.rx_mam.nmr, f.rx_mam.t2);
            f.rx_mam.tsd = get_u16(d + 6);
            f.rx_mam.tj1 = get_u16(d + 8);
            f.rx_mam.tid = get_u16(d + 10);
            known = true;
        }
    } else if (type == R2S_PROTO_TX_CLIMAX_TIME_DELAY && length == 1) {
        f.tx_climax_time_delay.delay = d[0];
        known = true;
    } else if (type == R2S_PROTO_TX_RRC && length == 1) {
        read_flag_octet(d[0], f.tx_rrc.flag);
        known = true;
    } else if (type == R2S_PROTO_TX_RRM && length == 3) {
        get_flag23(d, f.tx_rrm.tqv, f.tx_rrm.t1);
        known = true;
    }
    if (known)
        slot = f;
    return known;
}

int unpack(r2s_proto* p, unsigned char const* buf, int len, bool rx)
{
    if (p == nullptr || buf == nullptr)
        return -E2BIG;
    if (len < 2)
        return -EBADF;
    std::uint32_t const ptt_type = buf[0] >> 5;
    std::uint32_t const ptt_id = static_cast<std::uint32_t>(buf[0] & 0x0F) << 2 | buf[1] >> 6;
    std::uint32_t const ptt_mute = buf[1] >> 5 & 1;
    std::uint32_t const ptt_summation = buf[1] >> 4 & 1;
    if (rx) {
        r2s_proto_set_rx_header(p, ptt_type, buf[0] >> 4 & 1, ptt_id, ptt_mute, ptt_summation,
                                buf[1] >> 3 & 1);
    } else {
        // Octet 0 bit 4 and octet 1 bit 3 are not part of a TX header.
        r2s_proto_set_tx_header(p, ptt_type, ptt_id, ptt_mute, ptt_summation);
    }
    if ((buf[1] & 1) == 0) {
        p->additional_count = 0;
        return 0;
    }
    int result = 0;
    unsigned count = 0;
    int pos = 2;
    while (pos < len && count < R2S_PROTO_MAX_ADDITIONALS) {
        unsigned const type = buf[pos] >> 4;
        unsigned const length = buf[pos] & 0x0F;
        if (static_cast<int>(length) > len - pos - 1) {
            result = -EBADF;
            break;
        }
        if (read_feature(p->additional[count], type, length, buf + pos + 1, rx))
            ++count;
        pos += 1 + static_cast<int>(length);
    }
    p->additional_count = count;
    return result;
}

template <class Item>
int add_feature(r2s_proto* p, std::uint32_t type, Item const* item, Item r2s_proto_additional::*member)
{
    if (p == nullptr || item == nullptr || p->additional_count >= R2S_PROTO_MAX_ADDITIONALS)
        return 0;
    r2s_proto_additional& f = p->additional[p->additional_count++];
    f.type = type;
    f.*member = *item;
    return 0;
}

} // namespace

int r2s_proto_init(r2s_proto* p, unsigned long type)
{
    if (p == nullptr)
        return 0;
    std::memset(p, 0, sizeof *p);
    p->type = static_cast<std::uint32_t>(type);
    return 0;
}

int r2s_proto_set_type(r2s_proto* p, unsigned long type)
{
    if (p != nullptr)
        p->type = static_cast<std::uint32_t>(type);
    return 0;
}

int r2s_proto_set_tx_header(r2s_proto* p, unsigned long ptt_type, unsigned long ptt_id,
                            unsigned long ptt_mute, unsigned long ptt_summation)
{
    if (p == nullptr)
        return 0;
    p->type = R2S_PROTO_TYPE_TX;
    p->tx.ptt_type = static_cast<std::uint32_t>(ptt_type);
    p->tx.ptt_id = static_cast<std::uint32_t>(ptt_id);
    p->tx.ptt_mute = static_cast<std::uint32_t>(ptt_mute);
    p->tx.ptt_summation = static_cast<std::uint32_t>(ptt_summation);
    return 0;
}

int r2s_proto_set_rx_header(r2s_proto* p, unsigned long ptt_type, unsigned long squ, unsigned long ptt_id,
                            unsigned long ptt_mute, unsigned long ptt_summation, unsigned long sct)
{
    if (p == nullptr)
        return 0;
    p->type = R2S_PROTO_TYPE_RX;
    p->rx.ptt_type = static_cast<std::uint32_t>(ptt_type);
    p->rx.squ = static_cast<std::uint32_t>(squ);
    p->rx.ptt_id = static_cast<std::uint32_t>(ptt_id);
    p->rx.ptt_mute = static_cast<std::uint32_t>(ptt_mute);
    p->rx.ptt_summation = static_cast<std::uint32_t>(ptt_summation);
    p->rx.sct = static_cast<std::uint32_t>(sct);
    return 0;
}

int r2s_proto_reset_additionals(r2s_proto* p)
{
    if (p != nullptr)
        p->additional_count = 0;
    return 0;
}

int r2s_proto_add_rx_sqi(r2s_proto* p, r2s_proto_rx_additional_sqi const* item)
{
    return add_feature(p, R2S_PROTO_RX_SQI, item, &r2s_proto_additional::rx_sqi);
}

int r2s_proto_add_rx_sqi(r2s_proto* p, unsigned long qidx, unsigned long method)
{
    r2s_proto_rx_additional_sqi const item{static_cast<std::uint32_t>(qidx),
                                           static_cast<std::uint32_t>(method)};
    return r2s_proto_add_rx_sqi(p, &item);
}

int r2s_proto_add_rx_rrc(r2s_proto* p, r2s_proto_rx_additional_rrc const* item)
{
    return add_feature(p, R2S_PROTO_RX_RRC, item, &r2s_proto_additional::rx_rrc);
}

int r2s_proto_add_rx_mam(r2s_proto* p, r2s_proto_rx_additional_mam const* item)
{
    return add_feature(p, R2S_PROTO_RX_MAM, item, &r2s_proto_additional::rx_mam);
}

int r2s_proto_add_tx_time_delay(r2s_proto* p, r2s_proto_tx_additional_climax_time_delay const* item)
{
    return add_feature(p, R2S_PROTO_TX_CLIMAX_TIME_DELAY, item, &r2s_proto_additional::tx_climax_time_delay);
}

int r2s_proto_add_tx_rrc(r2s_proto* p, r2s_proto_tx_additional_rrc const* item)
{
    return add_feature(p, R2S_PROTO_TX_RRC, item, &r2s_proto_additional::tx_rrc);
}

int r2s_proto_add_tx_rrm(r2s_proto* p, r2s_proto_tx_additional_rrm const* item)
{
    return add_feature(p, R2S_PROTO_TX_RRM, item, &r2s_proto_additional::tx_rrm);
}

int r2s_proto_pack(r2s_proto const* p, unsigned char* buf, int size)
{
    if (p == nullptr)
        return -E2BIG;
    if (p->type == R2S_PROTO_TYPE_TX)
        return r2s_proto_pack_tx(p, buf, size);
    if (p->type == R2S_PROTO_TYPE_RX)
        return r2s_proto_pack_rx(p, buf, size);
    return -ENOEXEC;
}

int r2s_proto_pack_rx(r2s_proto const* p, unsigned char* buf, int size)
{
    if (p == nullptr || buf == nullptr)
        return 0;
    if (size < 2)
        return -EBADF;
    std::memset(buf, 0, static_cast<std::size_t>(size));
    r2s_proto_rx_header const& h = p->rx;
    // Every field is masked to its width: a value too wide must not spill
    // into its neighbour (a PTT id of 64 would otherwise set SQU).
    buf[0] = static_cast<unsigned char>((h.ptt_type & 7) << 5 | (h.squ & 1) << 4 | (h.ptt_id & 0x3F) >> 2);
    buf[1] =
        static_cast<unsigned char>((h.ptt_id & 3) << 6 | (h.ptt_mute & 1) << 5 | (h.ptt_summation & 1) << 4 |
                                   (h.sct & 1) << 3 | (p->additional_count != 0 ? 1 : 0));
    return pack_features(*p, true, buf, size);
}

int r2s_proto_pack_tx(r2s_proto const* p, unsigned char* buf, int size)
{
    if (p == nullptr || buf == nullptr)
        return 0;
    if (size < 2)
        return -EBADF;
    std::memset(buf, 0, static_cast<std::size_t>(size));
    r2s_proto_tx_header const& h = p->tx;
    buf[0] = static_cast<unsigned char>((h.ptt_type & 7) << 5 | (h.ptt_id & 0x3F) >> 2);
    buf[1] = static_cast<unsigned char>((h.ptt_id & 3) << 6 | (h.ptt_mute & 1) << 5 |
                                        (h.ptt_summation & 1) << 4 | (p->additional_count != 0 ? 1 : 0));
    return pack_features(*p, false, buf, size);
}

int r2s_proto_unpack_rx(r2s_proto* p, unsigned char const* buf, int len)
{
    return unpack(p, buf, len, true);
}

int r2s_proto_unpack_tx(r2s_proto* p, unsigned char const* buf, int len)
{
    return unpack(p, buf, len, false);
}

int cmp_r2s_proto_source(r2s_proto const* a, r2s_proto const* b)
{
    if (a == nullptr || b == nullptr)
        return -1;
    return radio_wire::source_difference(a->type, a->src_ssrc, a->src_addr, b->type, b->src_ssrc,
                                         b->src_addr);
}
