#include "hardware/drivers.hpp"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ostream>

const char* GetVoiceDevName()
{
    return "/dev/voice";
}
const char* GetMixerDevName()
{
    return "/dev/mixer";
}
const char* GetDTMFDevName()
{
    return "/dev/dtmf";
}
const char* GetDSPDevName()
{
    return "/dev/dsp";
}
const char* GetRtpDevName()
{
    return "/dev/rtp";
}
const char* GetRtpExtDevName()
{
    return "/dev/rtp_ext";
}
const char* GetModemDevName()
{
    return "/dev/mctl";
}
const char* GetMaintenance()
{
    return "/dev/maintenance";
}
const char* GetSpiTdmDevName()
{
    return "/dev/spi_tdm";
}
const char* GetUsbTdmDevName()
{
    return "/dev/usb_tdm";
}
const char* GetHalDevName()
{
    return "/dev/hal";
}
const char* GetMccCtlDevName()
{
    return "/dev/mcc/ctl";
}
const char* GetCasDevName()
{
    return "/dev/e1-cas";
}
const char* GetDspDataDevName()
{
    return "/dev/dsp-data";
}

namespace {

constexpr const char* kIndent = "  ";

bool IsDynamic(unsigned pt)
{
    return pt >= 96 && pt <= 127;
}

} // namespace

std::ostream& operator<<(std::ostream& os, const rtp_connection_params& p)
{
    os << kIndent << "rtp_connection_params\n" << kIndent << "{\n";
    os << kIndent << " packet_factor = " << p.packet_factor << '\n';
    // A dynamic type stands for the codec type of its mapping.
    if (IsDynamic(p.rx_pt))
        os << kIndent << " rx_pt = " << p.rx_map_pt << '\n'
           << kIndent << " rx_clock_rate = " << p.rx_clock_rate << '\n';
    else
        os << kIndent << " rx_pt = " << p.rx_pt << '\n';
    if (IsDynamic(p.tx_pt))
        os << kIndent << " tx_pt = " << p.tx_map_pt << '\n'
           << kIndent << " tx_clock_rate = " << p.tx_clock_rate << '\n';
    else
        os << kIndent << " tx_pt = " << p.tx_pt << '\n';
    os << kIndent << " ssrc = " << p.ssrc << '\n' << kIndent << "}\n";
    return os;
}

std::ostream& operator<<(std::ostream& os, const rtp_channel_info& p)
{
    return os << "rtp_channel_info"
              << " {"
              << " tdm=" << p.tdm << " dev_no=" << p.dev_no << " chn=" << p.chn << " }";
}

namespace {

template <class T>
std::ostream& PutAttach(std::ostream& os, const char* name, const T& p)
{
    return os << kIndent << name << '\n'
              << kIndent << "{\n"
              << kIndent << " fd_rtp = " << p.fd_rtp << '\n'
              << kIndent << " pid_rtp = " << p.pid_rtp << '\n'
              << kIndent << "}\n";
}

} // namespace

std::ostream& operator<<(std::ostream& os, const rtp_attach_session_params& p)
{
    return PutAttach(os, "rtp_attach_session_params", p);
}

std::ostream& operator<<(std::ostream& os, const rtp_ext_attach_session_params& p)
{
    return PutAttach(os, "rtp_ext_attach_session_params", p);
}

std::ostream& operator<<(std::ostream& os, const rtp_ext_init_params& p)
{
    return os << kIndent << "rtp_ext_init_params\n"
              << kIndent << "{\n"
              << kIndent << " etype = " << p.etype << '\n'
              << kIndent << "}\n";
}

const char* GetCodecAsStr(int codec)
{
    static const char* const names[] = {"unknown",  "g711",     "g723",     "g729", "tonec",
                                        "g711-rtp", "g729-rtp", "g723-rtp", "conf"};
    // Unsigned, so that a negative code is out of range too.
    unsigned index = static_cast<unsigned>(codec);
    return index < sizeof names / sizeof names[0] ? names[index] : "invalid";
}

const char* RTPStrError(int code)
{
    struct Text {
        int code;
        const char* text;
    };
    static const Text texts[] = {
        {0, "No error"},
        {0x3000002, "Parameter out of range"},
        {0x3000004, "Memory allocation failed"},
        {0x3000008, "Allocated buffer too small"},
        {0x3000101, "Maximum number of contexts exceeded"},
        {0x3000102, "Context destroyed or never created"},
        {0x3000103, "Socket not open for reading or writing"},
        {0x3000104, "Can't obtain a new socket"},
        {0x3000105, "Can't bind socket"},
        {0x3000106, "Unable to set socket option"},
        {0x3000107, "Unable to write to socket"},
        {0x3000108, "Unable to read from socket"},
        {0x3000109, "Socket does not belong to session"},
        {0x300010a, "Change not allowed during open session"},
        {0x300010b, "Invalid address specified"},
        {0x300010c, "Invalid port specified"},
        {0x300010e, "Unable to close session"},
        {0x300010f, "No such membership info"},
        {0x3000110, "Invalid rtpprofile specified"},
        {0x3000111, "no data to receive at socket"},
        {0x3000112, "Packet looped back"},
        {0x3000113, "CSRC list not yet set"},
        {0x3000114, "2 CSRCs on list have same SSRC"},
        {0x3000115, "Packet has incorrect format"},
        {0x3000116, "Person not session member"},
        {0x3000117, "Person data protected"},
        {0x3000118, "No such sender in current session"},
        {0x3000119, "No such SDES field"},
        {0x300011a, "Encryption / decryption function not set"},
        {0x300011b, "Packet was unsuccessfully decrypted"},
        {0x300011c, "End of iterating list"},
        {0x300011d, "Not allowed to recurse"},
        {0x300011e, "SSRC in use"},
        {0x300011f, "Couldn't get socket name"},
        {0x3000120, "No such contributor"},
        {0x3000121, "CSRC list full"},
        {0x3000122, "Don't send this packet now"},
    };
    for (const Text& t : texts)
        if (t.code == code)
            return t.text;
    static char unknown[64];
    std::snprintf(unknown, sizeof unknown, "Unknown RTP Error %d", code);
    return unknown;
}

RtpErr::RtpErr(int code) : errno_(errno), code_(code)
{}

void RtpErr::Put(std::ostream& os) const
{
    os << std::strerror(errno_);
}

std::ostream& operator<<(std::ostream& os, const RtpErr& e)
{
    e.Put(os);
    return os;
}
