#pragma once

// Small helpers of the radio codec tests.

#include "radio/r2s_proto.hpp"

#include <cstddef>
#include <vector>

namespace codectest {

using Bytes = std::vector<unsigned char>;

// A packer's result and the octets it wrote.
struct Packed {
    int result;
    Bytes bytes;
};

// Packs `record` with `pack` into a buffer of `size` octets (first filled
// with 0xEE, so that unwritten octets show).
template <class Record, class Pack>
Packed PackWith(Pack pack, Record const& record, int size = 1024)
{
    Bytes buf(static_cast<std::size_t>(size), 0xEE);
    int const r = pack(&record, buf.data(), size);
    if (r > 0)
        buf.resize(static_cast<std::size_t>(r));
    return {r, buf};
}

inline r2s_proto RxHeader(unsigned ptt_type, unsigned squ, unsigned ptt_id, unsigned mute, unsigned summation,
                          unsigned sct)
{
    r2s_proto p;
    r2s_proto_init(&p, R2S_PROTO_TYPE_RX);
    r2s_proto_set_rx_header(&p, ptt_type, squ, ptt_id, mute, summation, sct);
    return p;
}

inline r2s_proto TxHeader(unsigned ptt_type, unsigned ptt_id, unsigned mute, unsigned summation)
{
    r2s_proto p;
    r2s_proto_init(&p, R2S_PROTO_TYPE_TX);
    r2s_proto_set_tx_header(&p, ptt_type, ptt_id, mute, summation);
    return p;
}

} // namespace codectest
