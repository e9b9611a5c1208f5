// Writes the seed corpora of the fuzz targets into <dir>/<target>/: the LGCP
// reference encodings of the module tests, and seeded random messages of
// every kind (the protocol modules' random corpus), coded for each target.
// The same seed gives the same files on every machine:
//   build-fuzz/tests/fuzz/fuzz_seeds tests/fuzz/corpus

#include <cstdint>
#include <cstdio>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "asn1/modules/LGCP.hpp"
#include "asn1/modules/MON.hpp"
#include "asn1/support/coding.hpp"
#include "tests/fuzz/asn1_fuzz.hpp"

namespace {

using Bytes = std::vector<char>;

// Reference aligned-PER encodings of LGCP::Message (module golden tests).
const char* const goldenLgcp[] = {
    "C0 01 05 00 03 0A",                   // command destroy
    "80 01 07 18",                         // command ping
    "C0 01 03 00 04 04 00 11",             // command connect 17
    "C0 03 01 23 45 03 FF 10 03 01 02 03", // command userData
    "C0 01 07 00 0C 40",                   // response success
    "80 01 09 62",                         // response error invalidSlot
    "19 00",                               // response error, no envelope fields
    "40 00 05 85",                         // signal activated
    "40 00 02 82 03 31 32 33",             // signal number "123"
    "40 00 00 87 01 FF",                   // signal abort -1
    "40 00 03 81 02 03 E8 00 A0",          // signal tonec dtmf 5
    "40 00 03 81 02 03 E8 80 01 00",       // signal tonec dtmfDone (extension)
    "80 01 07 20 00 01 00",                // command past the known ones
};

std::string dir;
int written = 0;

void Write(const std::string& target, const std::string& name, const Bytes& bytes)
{
    std::string path = dir + "/" + target + "/" + name;
    std::ofstream out(path, std::ios::binary);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    if (!out) {
        std::fprintf(stderr, "cannot write %s\n", path.c_str());
        std::exit(1);
    }
    ++written;
}

// One TPKT frame (RFC 1006) around a payload.
Bytes Frame(const Bytes& payload)
{
    std::size_t n = payload.size() + 4;
    Bytes out{0x03, 0x00, static_cast<char>(n >> 8), static_cast<char>(n & 0xFF)};
    out.insert(out.end(), payload.begin(), payload.end());
    return out;
}

// Seeds of every target from one message; `selector` is 'L' or 'M'.
void Seeds(const std::string& name, char selector, const ASN1::AbstractData& value, const Bytes& per,
           std::uint32_t salt)
{
    Write(selector == 'L' ? "lgcp_per" : "mon_per", name, per);

    Bytes ber{selector};
    if (GwFuzz::Encode(ASN1::CoderEnv::ber, value, ber))
        Write("ber", name, ber);

    std::string text = ASN1::asValueNotation(value);
    if (!text.empty()) {
        Bytes avn{selector};
        avn.insert(avn.end(), text.begin(), text.end());
        Write("avn", name, avn);
    }

    // Two frames back to back, cut in chunks of 1 to 16 octets, behind a few
    // octets of garbage now and then.
    Bytes tpkt{3, static_cast<char>(1 + salt % 16), static_cast<char>(1 + salt % 7),
               static_cast<char>(5 + salt % 11)};
    if (salt % 3 == 0)
        tpkt.insert(tpkt.end(), {0x00, 0x03, 0x01});
    Bytes frame = Frame(per);
    tpkt.insert(tpkt.end(), frame.begin(), frame.end());
    tpkt.insert(tpkt.end(), frame.begin(), frame.end());
    Write("tpkt", name, tpkt);
}

// The RTP parameters of a create (rtp_create): those of an LGCP create.
void RtpSeed(const std::string& name, const LGCP::Message& m)
{
    const LGCP::PDU& pdu = m.get_pdu();
    if (!pdu.is_command() || !pdu.get_command().is_create() || !pdu.get_command().get_create().is_rtp())
        return;
    Bytes per;
    if (GwFuzz::Encode(ASN1::CoderEnv::per_Aligned, pdu.get_command().get_create().get_rtp(), per))
        Write("rtp_create", name, per);
}

// RTP parameters a host sends: plain, with shost and options, dynamic.
void RtpSeeds()
{
    for (int k = 0; k < 3; ++k) {
        LGCP::CreateRtpParams c;
        TERM::RtpParams& p = c.get_codecRTP();
        p.set_payload(k == 1 ? TERM::Payload::ptG711_Alaw : TERM::Payload::ptG729);
        TERM::HostAddress h;
        h.set_iaddr("127.0.0.1");
        h.set_port(16384);
        p.set_dhost(h);
        if (k > 0) {
            h.set_port(16386);
            p.set_shost(h);
            p.set_pfactor(160);
            p.set_vad(true);
            p.set_ssrc(0x12345678);
            p.set_ttl(64);
            p.set_qos_dscp(TERM::IpQoSDSCP::ef);
        }
        if (k == 2)
            p.set_dynamic_payload(101);
        c.set_txPayload(TERM::Payload::ptG711_Ulaw);
        c.set_rxPayload(p.get_payload().getValue() == TERM::Payload::ptG729 ? TERM::Payload::ptG729
                                                                            : TERM::Payload::ptG711_Alaw);
        Bytes per;
        if (GwFuzz::Encode(ASN1::CoderEnv::per_Aligned, c, per))
            Write("rtp_create", "host-" + std::to_string(k), per);
    }
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s <corpus dir>\n", argv[0]);
        return 2;
    }
    dir = argv[1];

    std::uint32_t salt = 0;
    int g = 0;
    for (const char* hex : goldenLgcp) {
        Bytes per;
        if (!ASN1Test::FromHex(hex, per))
            return 1;
        LGCP::Message m;
        char name[32];
        std::snprintf(name, sizeof name, "golden-%02d", ++g);
        if (!GwFuzz::Decode(ASN1::CoderEnv::per_Aligned, per.data(), per.data() + per.size(), m)) {
            Write("lgcp_per", name, per); // undecodable on purpose: still a seed
            continue;
        }
        Seeds(name, 'L', m, per, salt++);
        RtpSeed(name, m);
    }
    RtpSeeds();

    ASN1Test::RandomValues rnd(20260707);
    for (int k = 0; k < 64; ++k) {
        for (char selector : {'L', 'M'}) {
            std::unique_ptr<ASN1::AbstractData> value =
                rnd.make(selector == 'L' ? &LGCP::Message::theInfo : &MON::Message::theInfo);
            Bytes per;
            if (!GwFuzz::Encode(ASN1::CoderEnv::per_Aligned, *value, per))
                continue;
            char name[32];
            std::snprintf(name, sizeof name, "random-%c%02d", selector == 'L' ? 'l' : 'm', k);
            Seeds(name, selector, *value, per, salt++);
        }
    }
    for (int k = 0; k < 24; ++k) {
        std::unique_ptr<ASN1::AbstractData> value = rnd.make(&LGCP::CreateRtpParams::theInfo);
        Bytes per;
        if (GwFuzz::Encode(ASN1::CoderEnv::per_Aligned, *value, per))
            Write("rtp_create", "random-" + std::to_string(k), per);
    }
    std::printf("%d seeds written\n", written);
    return 0;
}
