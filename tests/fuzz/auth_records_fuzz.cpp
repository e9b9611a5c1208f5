// The authentication relay's record reassembly over any chunking of the
// stream, and the slot's checks of each record.
//
// Input: one octet k, then k % 16 chunk sizes (octets; 0 stands for 256),
// then the stream. The stream is fed to the reassembler in chunks of those
// sizes (cycling) and, separately, cut by a plain reference reader: both
// must give the same records in the same order and stop at the same bad
// length word. Each record then goes through a modem slot's type and size
// checks.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <streambuf>
#include <vector>

#include "core/clock.hpp"
#include "sim/board.hpp"
#include "slots/auth_relay.hpp"
#include "slots/modem_slot.hpp"

namespace {

using Bytes = std::vector<std::uint8_t>;

struct NullBuf : std::streambuf {
    int overflow(int c) override { return c; }
};

std::uint32_t WordAt(const std::uint8_t* p)
{
    std::uint32_t w;
    std::memcpy(&w, p, 4);
    return w;
}

// Records are whole as their length words say, 12 to 512 bytes; a length
// word outside that ends the stream.
std::vector<Bytes> Reference(const std::uint8_t* p, std::size_t n, bool& bad)
{
    std::vector<Bytes> out;
    std::size_t i = 0;
    bad = false;
    while (n - i >= 4) {
        const std::uint32_t length = WordAt(p + i);
        if (length < 12 || length > 512) {
            bad = true;
            break;
        }
        if (n - i < length)
            break;
        out.emplace_back(p + i, p + i + length);
        i += length;
    }
    return out;
}

void Fail(const char* what)
{
    std::fprintf(stderr, "auth_records: %s\n", what);
    std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    static NullBuf null;
    static bool ready = [] {
        std::clog.rdbuf(&null);
        std::cerr.rdbuf(&null);
        Sim::Board::instance().Reset();
        Sim::Board::instance().SetLogLimit(0);
        Mux::test::freeze();
        return true;
    }();
    (void)ready;
    static ModemFactory modems;
    static DspModemSlot slot(modems, [] {
        LGCP::CreateParams c;
        TERM::ModemParams& p = c.select_modem();
        p.set_cid("");
        p.set_cdid("");
        return c.get_modem();
    }());

    if (size == 0)
        return 0;
    const std::size_t k = data[0] % 16;
    if (size < 1 + k)
        return 0;
    const std::uint8_t* sizes = data + 1;
    const std::uint8_t* stream = data + 1 + k;
    const std::size_t n = size - 1 - k;

    bool refBad = false;
    const std::vector<Bytes> expected = Reference(stream, n, refBad);

    AuthRecords records;
    std::vector<Bytes> got;
    bool bad = false;
    std::size_t at = 0;
    std::size_t chunk = 0;
    while (at < n && !bad) {
        std::size_t piece = n - at;
        if (k != 0) {
            piece = sizes[chunk++ % k];
            if (piece == 0)
                piece = 256;
        }
        // A read never asks for more than the reassembler has room for.
        while (piece > 0 && at < n && !bad) {
            std::size_t take = piece;
            if (take > records.Wanted())
                take = records.Wanted();
            if (take > n - at)
                take = n - at;
            if (take == 0 || records.Wanted() > Auth::kMaxRecord)
                Fail("nothing wanted");
            std::memcpy(records.Space(), stream + at, take);
            at += take;
            piece -= take;
            switch (records.Filled(take)) {
            case AuthRecords::Step::More:
                break;
            case AuthRecords::Step::BadLength:
                bad = true;
                break;
            case AuthRecords::Step::Record: {
                attr const& r = records.Get();
                auto const* b = reinterpret_cast<const std::uint8_t*>(&r);
                if (r.length < 12 || r.length > 512)
                    Fail("record of a bad length delivered");
                got.emplace_back(b, b + r.length);
                slot.OnAuth(&r);
                break;
            }
            }
        }
    }
    if (got != expected)
        Fail("records differ from the reference");
    if (bad != refBad)
        Fail("bad length seen differently");
    return 0;
}
