// Decode and re-encode of LGCP messages given as hex on the command line:
//   lgcp_roundtrip_bench [--ms N] [HEX...]
// Without messages it measures those that bench/lgcp_erlang_compare.sh takes
// by default, so that it runs beside the other benchmarks as they are run.
// For each message: decoded as an LGCP::Message (aligned PER), encoded back,
// the octets compared with the input; then timed. One line per message:
//   HEX <ns per decode+encode> <allocator calls per decode>
// The time is the median of five batches of about N ms each (default 200).
// This is what another codec is compared with (bench/lgcp_erlang_compare.sh).

#include "alloc_count.hpp"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <string>
#include <vector>

#include "asn1/coder_env.hpp"
#include "asn1/modules/LGCP.hpp"
#include "tests/asn1/support/coding.hpp"

namespace {

bool RoundTrip(ASN1::CoderEnv& env, const std::vector<char>& in, std::vector<char>& out)
{
    LGCP::Message m;
    if (!env.decode(in.data(), in.data() + in.size(), m, true))
        return false;
    out.clear();
    return env.encode(m, std::back_inserter(out));
}

double NsPerRoundTrip(ASN1::CoderEnv& env, const std::vector<char>& in, std::vector<char>& out, int ms)
{
    using Clock = std::chrono::steady_clock;
    // Calibrate a batch to about `ms` milliseconds.
    std::size_t n = 1000;
    for (;;) {
        const auto start = Clock::now();
        for (std::size_t i = 0; i < n; ++i)
            RoundTrip(env, in, out);
        const double elapsed = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
        if (elapsed >= ms / 4.0) {
            n = static_cast<std::size_t>(static_cast<double>(n) * ms / elapsed) + 1;
            break;
        }
        n *= 4;
    }
    std::vector<double> batches;
    for (int b = 0; b < 5; ++b) {
        const auto start = Clock::now();
        for (std::size_t i = 0; i < n; ++i)
            RoundTrip(env, in, out);
        batches.push_back(std::chrono::duration<double, std::nano>(Clock::now() - start).count() /
                          static_cast<double>(n));
    }
    std::sort(batches.begin(), batches.end());
    return batches[batches.size() / 2];
}

// The create rtp message, a tonec signal and a 16-packet protoVeze signal.
const char* const defaultMessages[] = {
    "C00204D2001108214CF0C00D3139322E3136382E31302E32309C400C3139322E3136382E31302E319C42011401509C123456"
    "783FB8A186",
    "400003810203E800A0",
    "40000992001000011801000010024401000001012001000140010C010800011801010010024401000001012001010140010C"
    "010800011801020010024401000001012001020140010C010800011801030010024401000001012001030140010C01080001"
    "1801040010024401000001012001040140010C010800011801050010024401000001012001050140010C0108000118010600"
    "10024401000001012001060140010C010800011801070010024401000001012001070140010C010800011801080010024401"
    "000001012001080140010C010800011801090010024401000001012001090140010C0108000118010A001002440100000101"
    "20010A0140010C0108000118010B00100244010000010120010B0140010C0108000118010C00100244010000010120010C01"
    "40010C0108000118010D00100244010000010120010D0140010C0108000118010E00100244010000010120010E0140010C01"
    "08000118010F00100244010000010120010F0140010C0108",
};

} // namespace

int main(int argc, char** argv)
{
    int ms = 200;
    std::vector<std::string> messages;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--ms") == 0 && i + 1 < argc)
            ms = std::max(1, std::atoi(argv[++i]));
        else
            messages.emplace_back(argv[i]);
    }
    if (messages.empty())
        messages.assign(std::begin(defaultMessages), std::end(defaultMessages));
    ASN1::CoderEnv env(ASN1::CoderEnv::per_Aligned);
    std::vector<char> in, out;
    out.reserve(4096);
    int status = 0;
    for (const std::string& hex : messages) {
        if (!ASN1Test::FromHex(hex, in) || in.empty()) {
            std::fprintf(stderr, "%s: not hex\n", hex.c_str());
            status = 1;
            continue;
        }
        if (!RoundTrip(env, in, out)) {
            std::fprintf(stderr, "%s: does not decode and encode as an LGCP message\n", hex.c_str());
            status = 1;
            continue;
        }
        if (out != in) {
            std::fprintf(stderr, "%s: re-encoded to other octets\n", hex.c_str());
            status = 1;
            continue;
        }
        // Allocator calls of one decode, once the program is warm.
        std::size_t allocations = 0;
        {
            LGCP::Message m;
            const std::size_t before = Bench::allocations;
            env.decode(in.data(), in.data() + in.size(), m, true);
            allocations = Bench::allocations - before;
        }
        const double ns = NsPerRoundTrip(env, in, out, ms);
        std::printf("%s %.0f %zu\n", hex.c_str(), ns, allocations);
        std::fflush(stdout);
    }
    return status;
}
