// TPKT reassembly (RFC 1006 section 6) over any chunking of the stream.
//
// Input: one octet k, then k % 16 chunk sizes (octets; 0 stands for 256),
// then the stream. The stream is fed to a TPKT layer in chunks of those sizes
// (cycling) and, separately, to a plain reference reader: both must deliver
// the same payloads in the same order, whatever the chunking. Every packet
// buffer goes back to the pool.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <sstream>
#include <vector>

#include "control/tpkt_protocol.hpp"
#include "core/packet.hpp"
#include "core/protocol.hpp"

namespace {

using Bytes = std::vector<std::uint8_t>;

struct Owner : ProtocolsFamily {
    std::vector<Bytes> payloads;
    void on_message(Packet& p) override { payloads.emplace_back(p.data(), p.data() + p.length()); }
};

// The framing as a few lines of straight code: a start octet 3, a reserved
// octet 0 (any other is dropped, not reexamined), a length that counts the
// header, at least 4. A frame completes only when its last octet arrives; an
// empty frame completes on the octet after its header, as the layer reads
// octet by octet.
std::vector<Bytes> Reference(const std::uint8_t* p, std::size_t n, std::size_t room)
{
    std::vector<Bytes> out;
    std::size_t i = 0;
    while (i < n) {
        if (p[i++] != 0x03)
            continue;
        if (i == n)
            break;
        if (p[i++] != 0x00)
            continue;
        if (n - i < 2)
            break;
        std::size_t length = (std::size_t{p[i]} << 8) | p[i + 1];
        i += 2;
        if (length < 4)
            continue;
        length -= 4;
        if (length > room) {
            i += length; // skipped whole
            continue;
        }
        if (length == 0) {
            if (i == n)
                break;
            out.emplace_back();
            continue;
        }
        if (n - i < length)
            break;
        out.emplace_back(p + i, p + i + length);
        i += length;
    }
    return out;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size == 0)
        return 0;
    std::size_t k = data[0] % 16;
    if (size < 1 + k)
        return 0;
    const std::uint8_t* sizes = data + 1;
    const std::uint8_t* stream = data + 1 + k;
    std::size_t n = size - 1 - k;

    // The layer's complaints about garbage would flood the output.
    std::ostringstream sink;
    std::streambuf* saved = std::clog.rdbuf(sink.rdbuf());

    std::size_t const pool = Packet::pool_free();
    std::size_t room;
    {
        Packet probe;
        probe.reserve_head(0);
        room = probe.tailroom();
    }
    std::vector<Bytes> got;
    {
        Owner owner;
        auto* tpkt = new Tpkt_protocol();
        owner.add_protocol_tail(tpkt);
        std::size_t at = 0, c = 0;
        while (at < n) {
            std::size_t len = n - at;
            if (k != 0) {
                std::uint8_t s = sizes[c++ % k];
                len = s == 0 ? 256 : s;
            }
            if (len > n - at)
                len = n - at;
            if (len > room)
                len = room;
            Packet chunk;
            chunk.reserve_head(0);
            chunk.put(stream + at, static_cast<unsigned int>(len));
            tpkt->receive(chunk);
            at += len;
        }
        tpkt->reset();
        got.swap(owner.payloads);
    }
    std::clog.rdbuf(saved);

    if (got != Reference(stream, n, room)) {
        std::fprintf(stderr, "fuzz property broken: payloads differ from the reference reader\n");
        std::abort();
    }
    if (Packet::pool_free() != pool) {
        std::fprintf(stderr, "fuzz property broken: packet buffers leaked\n");
        std::abort();
    }
    return 0;
}
