#include "slots/modem_slot.hpp"

#include "core/clock.hpp"
#include "core/ext.hpp"
#include "core/paths.hpp"
#include "core/process.hpp"
#include "hardware/drivers.hpp"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <iostream>
#include <iterator>
#include <set>

#include <arpa/inet.h>
#include <dirent.h>
#include <fcntl.h>
#include <net/if.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

const char* const kPppd = "/usr/local/sbin/pppd";
const char* const kAnswerOptions = "/usr/local/etc/ppp/aoptions";
const char* const kOriginateOptions = "/usr/local/etc/ppp/coptions";
const char* const kHdlcOptions = "/usr/local/etc/ppp/ioptions";
const char* const kFaxTransfer = "/usr/local/sbin/fax";
const char* const kFaxReceiver = "/usr/local/bin/fax";

static_assert(sizeof(HdlcIf::if_settings) <= sizeof(ifreq::ifr_ifru), "settings fit the interface record");

// A modem command record {modem, arg}.
int ModemCommand(int fd, std::uint32_t request, std::int32_t modem, std::int32_t arg)
{
    mctl_modem_cmd cmd{modem, arg};
    return Driver::Ioctl(fd, request, &cmd);
}

ifreq Named(std::string const& name)
{
    ifreq r;
    std::memset(&r, 0, sizeof r);
    std::strncpy(r.ifr_name, name.c_str(), IFNAMSIZ - 1);
    return r;
}

// SIOCWANDEV with settings of `type` over `data`.
int WanDev(int sock, std::string const& name, std::uint32_t type, void* data, std::uint32_t size)
{
    ifreq r = Named(name);
    HdlcIf::if_settings settings{type, size, data};
    std::memcpy(&r.ifr_ifru, &settings, sizeof settings);
    return Driver::NetIoctl(sock, HdlcIf::SIOCWANDEV, &r);
}

OwnedFd DatagramSocket()
{
    return OwnedFd(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0));
}

// Descriptors open in this process below `limit`, the numbers that new ones
// may not take (one inherited above it takes none of them): the whole
// `limit` when none is left to look with; none known where there is no
// /proc.
std::size_t OpenDescriptors(std::size_t limit)
{
    const int fd = ::open("/proc/self/fd", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return errno == EMFILE || errno == ENFILE ? limit : 0;
    DIR* dir = ::fdopendir(fd);
    if (dir == nullptr) {
        ::close(fd);
        return limit; // out of memory
    }
    std::size_t open = 0;
    while (dirent const* e = ::readdir(dir)) {
        char* end = nullptr;
        const unsigned long n = std::strtoul(e->d_name, &end, 10);
        if (end != e->d_name && *end == '\0' && n < limit)
            ++open;
    }
    ::closedir(dir);
    return open > 0 ? open - 1 : 0; // the directory's own
}

// A call that cannot have its descriptors fails its connect rather than
// abort: the host may try it again, and never hears success from a call
// that could not be heard from.
bool OutOfDescriptors(int error)
{
    return error == EMFILE || error == ENFILE;
}

// The host's strings after the fixed arguments: at most kMaxExecArgs.
void AddExecArgs(ChildProgram& program, TERM::ModemParams const& params)
{
    if (!params.has_execargs())
        return;
    auto const& args = params.get_execargs();
    for (std::size_t i = 0; i < args.size() && i < ModemSlot::kMaxExecArgs; ++i)
        program.args.emplace_back(args[i]);
}

BASE::INTEGER64Bits Counter(int low)
{
    BASE::INTEGER64Bits c;
    c.set_low(low);
    c.set_high(0);
    return c;
}

// A 64-bit counter, high word first, as the host's two 32-bit INTEGERs:
// each carries the same 32 bits, so the host reads them modulo 2^32.
BASE::INTEGER64Bits Split(std::uint32_t const (&words)[2])
{
    BASE::INTEGER64Bits c;
    c.set_low(static_cast<std::int32_t>(words[1]));
    c.set_high(static_cast<std::int32_t>(words[0]));
    return c;
}

// A field that fills its 64 bytes without a NUL ends at the field's end.
std::string Field(char const (&field)[64])
{
    return std::string(field, ::strnlen(field, sizeof field));
}

} // namespace

// ---------------------------------------------------------------------------
// ModemSlot

ModemSlot::ModemSlot(ModemFactory& factory, TERM::ModemParams const& params) : params(params), owner_(factory)
{
    child.Bind(this, &ModemSlot::on_terminate);
}

ModemSlot::~ModemSlot()
{
    pppd_kill();
}

void ModemSlot::PutHeader(std::ostream& os) const
{
    Put(os);
    os << ": ";
}

void ModemSlot::Abort(char const* what, int error)
{
    std::cerr << ext::header(this) << what << std::strerror(error) << std::endl;
    OnAbort(error);
}

bool ModemSlot::KeepPlace(std::size_t lent)
{
    placeKept = true;
    if (owner_.KeepPlaces(lent))
        return true;
    placeKept = false;
    owner_.KeepPlaces();
    std::cerr << ext::header(this) << "no descriptor left for pppd's authentication connection." << std::endl;
    return false;
}

void ModemSlot::LetPlaceGo()
{
    if (!placeKept)
        return;
    placeKept = false;
    owner_.KeepPlaces();
}

void ModemSlot::pppd_exec(std::string const& device, std::string const& optionsFile)
{
    if (pid != -1)
        return;
    ChildProgram program(params.has_execfile() ? std::string(params.get_execfile()) : RootPath(kPppd));
    if (params.has_execargs()) {
        // The host's strings are the whole command line.
        AddExecArgs(program, params);
    } else {
        program.args.insert(program.args.end(), {"file", optionsFile, device});
        if (!params.get_cid().empty())
            program.args.insert(program.args.end(), {"remotenumber", params.get_cid()});
    }
    const pid_t started = ChildSpawner::instance().Start(program);
    if (started < 0) {
        const int error = errno;
        LetPlaceGo();
        Abort("vfork fail: ", error);
        return;
    }
    pid = started;
    child.Attach(pid);
    std::clog << ext::header(this) << "pppd executed"
              << " cid=" << ext::quoted(params.get_cid()) << " pid=" << pid << std::endl;
}

void ModemSlot::pppd_kill()
{
    if (pid == -1)
        return;
    std::cerr << ext::header(this) << "pppd isn't terminated, killing ..." << std::endl;
    ChildSpawner::instance().Signal(pid, SIGKILL);
    ::sleep(0);
    // Its exit is reaped later without a report: nothing of the slot may
    // be called then.
    child.Detach();
    pid = -1;
    LetPlaceGo();
}

void ModemSlot::on_terminate(int status)
{
    std::clog << ext::header(this) << "pppd terminated with code " << status << std::endl;
    ChildGone(status);
}

void ModemSlot::ChildGone(int status)
{
    pid = -1;
    LetPlaceGo();
    terminateTimer.reset();
    if (destroying) {
        unbind();
        on_release(); // deletes this slot
        return;
    }
    OnAbort(status);
}

bool ModemSlot::IBeforeDestroy()
{
    if (pid == -1) {
        unbind();
        return true;
    }
    std::cerr << ext::header(this) << "sent HUP to pppd." << std::endl;
    ChildSpawner::instance().Signal(pid, SIGHUP);
    terminateTimer.set(kTerminateTimeoutMs, &ModemSlot::on_terminate_timeout, this);
    return false;
}

void ModemSlot::OnAuth(attr const* record)
{
    switch (record->type) {
    case Auth::kRequest:
        if (record->length != sizeof(voauth)) {
            owner_.AuthError(Auth::Line::RequestSize)
                << ext::header(this) << "auth request, invalid size: " << record->length << std::endl;
            return;
        }
        {
            voauth request;
            std::memcpy(&request, record, sizeof request);
            OnAuthRequest(&request);
        }
        return;
    case Auth::kAccept:
        owner_.AuthError(Auth::Line::Accept) << ext::header(this) << "auth accept, ignored." << std::endl;
        return;
    case Auth::kIp:
        owner_.AuthError(Auth::Line::Ip) << ext::header(this) << "auth ip, ignored." << std::endl;
        return;
    case Auth::kAccounting:
        if (record->length != sizeof(voacct)) {
            owner_.AuthError(Auth::Line::AccountingSize)
                << ext::header(this) << "auth accounting, invalid size: " << record->length << std::endl;
            return;
        }
        {
            voacct acct;
            std::memcpy(&acct, record, sizeof acct);
            OnAcctInformation(&acct);
        }
        return;
    default:
        owner_.AuthError(Auth::Line::Type) << ext::header(this) << "unknown request from portslave: 0x"
                                           << std::hex << record->type << std::dec << std::endl;
        return;
    }
}

void ModemSlot::OnAuthRequest(voauth const* request)
{
    TERM::ModemProceeding proceeding;
    TERM::MdmRequestUserAuth& auth = proceeding.select_auth();
    auth.set_username(Field(request->username));
    auth.set_password(Field(request->password));
    OnModem(proceeding);
}

void ModemSlot::OnAcctInformation(voacct const* acct)
{
    TERM::ModemProceeding proceeding;
    TERM::MdmAccounting& a = proceeding.select_acct();
    a.set_octetsOut(Split(acct->octetsOut));
    a.set_octetsIn(Split(acct->octetsIn));
    a.set_packetsOut(Split(acct->packetsOut));
    a.set_packetsIn(Split(acct->packetsIn));
    a.set_time(Counter(static_cast<std::int32_t>(acct->time)));
    OnModem(proceeding);
}

bool ModemSlot::IActivate(TERM::TermActivateParams const& p)
{
    if (!p.is_modem()) {
        std::cerr << ext::header(this) << "modem's activation requests parameter." << std::endl;
        return false;
    }
    TERM::ModemUserParameters const& user = p.get_modem();
    const auto session = static_cast<std::uint32_t>(modem_id());
    attr record{};
    record.length = 16;
    record.type = Auth::kAccept;
    record.session = session;
    record.payload[0] = 1;
    owner_.SendAuth(&record);

    record = attr{};
    record.length = 36;
    record.type = Auth::kIp;
    record.session = session;
    record.payload[0] = 0;
    // inet_addr: a malformed text becomes INADDR_NONE, 255.255.255.255.
    record.payload[1] = ::inet_addr(std::string(user.get_remoteAddr()).c_str());
    record.payload[2] = ::inet_addr(std::string(user.get_netmask()).c_str());
    record.payload[3] = ::inet_addr(std::string(user.get_gateway()).c_str());
    record.payload[4] = ::inet_addr(std::string(user.get_dns()).c_str());
    record.payload[5] = static_cast<std::uint32_t>(user.get_mtu().getValue());
    owner_.SendAuth(&record);
    // What the program gets does not change the host's answer.
    return true;
}

void ModemSlot::on_terminate_timeout(Timer*)
{
    std::cerr << ext::header(this) << "pppd terminate timeout!" << std::endl;
    pppd_kill();
    if (destroying) {
        unbind();
        on_release(); // deletes this slot
    }
}

// ---------------------------------------------------------------------------
// DspModemSlot

DspModemSlot::DspModemSlot(ModemFactory& factory, TERM::ModemParams const& params)
    : ModemSlot(factory, params)
{}

DspModemSlot::~DspModemSlot()
{
    // The program first, then the modem it may still use.
    pppd_kill();
    GetSlotFactory().ReleaseModemSlot(this);
}

void DspModemSlot::unbind()
{
    GetSlotFactory().ReleaseModemSlot(this);
}

bool DspModemSlot::IOnOutputStream()
{
    return InitModem();
}

bool DspModemSlot::IOnInputStream()
{
    return InitModem();
}

bool DspModemSlot::Failed(char const* what, int error)
{
    // Short of descriptors the connect fails and the host may try again;
    // any other failure is the call's, which ends it.
    if (OutOfDescriptors(error)) {
        std::cerr << ext::header(this) << what << std::strerror(error) << std::endl;
        return false;
    }
    Abort(what, error);
    return true;
}

bool DspModemSlot::InitModem()
{
    if (modemId >= 0)
        return true;
    DeviceFd fd(Driver::Open(GetModemDevName(), O_RDONLY | O_CLOEXEC));
    if (!fd)
        return Failed("fail to open device: ", errno);
    const int m = Driver::IoctlValue(fd.get(), MCTL_ALLOCATE, 0);
    if (m < 0) {
        Abort("insufficient resources : ", errno);
        return true;
    }
    const int t = Driver::IoctlValue(fd.get(), MCTL_GET_TIMESLOT, 0);
    if (t < 0) {
        Abort("get timeslot fail : ", errno);
        return true;
    }
    if (params.has_ddm()) {
        std::int32_t flags = 0;
        for (auto const& mode : params.get_ddm()) {
            switch (mode.getValue()) {
            case TERM::DigitalDataModeEnum::ddmV110:
                flags |= MCTL_DDM_V110;
                break;
            case TERM::DigitalDataModeEnum::ddm8BIT:
                flags |= MCTL_DDM_8BIT;
                break;
            case TERM::DigitalDataModeEnum::ddm7BIT:
                flags |= MCTL_DDM_7BIT;
                break;
            default: // V.120 has no bit of its own
                break;
            }
        }
        if (ModemCommand(fd.get(), MCTL_SET_DDM, m, flags) < 0) {
            Abort("set DDM failed : ", errno);
            return true;
        }
    }
    if (ModemCommand(fd.get(), MCTL_RESET_DMP, m, -1) < 0)
        std::cerr << ext::header(this) << "reset dmp parameters failed : " << std::strerror(errno)
                  << std::endl;
    if (params.has_dmp()) {
        for (auto const& p : params.get_dmp()) {
            // The host's integers go to the driver as 32-bit words.
            mctl_dmp_param rec{m, static_cast<std::uint32_t>(p.get_offset().getValue()),
                               static_cast<std::uint32_t>(p.get_value().getValue())};
            if (Driver::Ioctl(fd.get(), MCTL_SET_DMP, &rec) < 0)
                std::cerr << ext::header(this) << "set dmp parameter "
                          << "index=" << p.get_offset().getValue() << " value=" << p.get_value().getValue()
                          << " failed : " << std::strerror(errno) << std::endl;
        }
    }

    // The modem is the slot's while this duplicate is open.
    modemFd.reset(fd.fd().dup());
    if (!modemFd)
        return Failed("fail to hold modem: ", errno);
    timeslot = t;
    modemId = m;
    if (!params.has_fax()) {
        // A data call's program connects to the relay as soon as pppd runs:
        // its place is held before the host hears success, on what the
        // working descriptor leaves; the modem's commands go to its own.
        fd.reset();
        if (!KeepPlace(0)) {
            modemFd.reset();
            timeslot = -1;
            modemId = -1;
            return false;
        }
    }
    OnChangeOutputStream(true);
    OnChangeInputStream(true);

    if (!params.has_fax()) {
        const std::string device = RootPath("/dev/mdm" + std::to_string(m));
        const bool answer = !params.has_originate();
        if (ModemCommand(modemFd.get(), answer ? MCTL_ANSWER : MCTL_ORIGINATE, m, -1) < 0) {
            const int error = errno;
            LetPlaceGo();
            Abort(answer ? "answer failed : " : "originate failed : ", error);
            return true;
        }
        pppd_exec(device, RootPath(answer ? kAnswerOptions : kOriginateOptions));
    } else if (params.has_execargs()) {
        RunFaxTransfer(fd);
    } else if (!params.has_originate()) {
        fd.reset();
        RunFaxReceiver();
    } else if (ModemCommand(fd.get(), MCTL_FAX_ORIGINATE, m, -1) < 0) {
        Abort("originate failed : ", errno);
    }
    return true;
}

void DspModemSlot::RunFaxTransfer(DeviceFd& working)
{
    ChildProgram program(params.has_execfile() ? std::string(params.get_execfile()) : RootPath(kFaxTransfer));
    program.args.insert(program.args.end(), {"-m", std::to_string(modemId)});
    AddExecArgs(program, params);
    program.sleepSeconds = 0;
    program.banner = "executing fax transfer\n";
    program.execFailed = "fail to exec!\n";
    program.failStatus = 2;
    // The program is given only the modem number: the modem is let go.
    modemFd.reset();
    working.reset();
    const pid_t started = ChildSpawner::instance().Start(program);
    if (started < 0) {
        Abort("vfork fail: ", errno);
        return;
    }
    pid = started;
    child.Bind(this, &DspModemSlot::on_fax_terminate);
    child.Attach(pid);
    std::clog << ext::header(this) << "fax transfer executed"
              << " modem=" << modemId << " ts=" << timeslot << std::endl;
}

void DspModemSlot::RunFaxReceiver()
{
    modemFd.reset();
    // The page's name is made here: the child must not allocate.
    char page[64] = {};
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    ::localtime_r(&now, &local);
    std::strftime(page, sizeof page, "/var/fax-%H-%M-%S.g3", &local);
    ChildProgram program(RootPath(kFaxReceiver));
    program.args.insert(program.args.end(), {"-m", std::to_string(modemId), "receive", RootPath(page)});
    program.sleepSeconds = 1;
    program.banner = "executing\n";
    program.execFailed = "fail to exec!\n";
    program.failStatus = 2;
    if (ChildSpawner::instance().Start(program) < 0) {
        Abort("vfork fail: ", errno);
        return;
    }
    // Not followed: its end is reaped without a report.
    std::clog << ext::header(this) << "fax receiver executed"
              << " modem=" << modemId << " ts=" << timeslot << std::endl;
}

void DspModemSlot::on_fax_terminate(int status)
{
    std::clog << ext::header(this) << "fax terminated with code " << status << std::endl;
    pid = -1;
    if ((status & 0xFF) != 0)
        std::clog << ext::header(this) << "fax transfer failed" << std::endl;
    // The transfer program's exit code is the number of pages.
    const int pages = (status >> 8) & 0xFF;
    std::clog << ext::header(this) << "pages received: " << pages << std::endl;
    TERM::ModemProceeding proceeding;
    TERM::MdmAccounting& acct = proceeding.select_acct();
    acct.set_octetsOut(Counter(0));
    acct.set_octetsIn(Counter(pages));
    acct.set_packetsOut(Counter(0));
    acct.set_packetsIn(Counter(0));
    acct.set_time(Counter(0));
    OnModem(proceeding);
    ChildGone(status);
}

// ---------------------------------------------------------------------------
// HdlcModemSlot

HdlcModemSlot::HdlcModemSlot(ModemFactory& factory, TERM::ModemParams const& params, std::string ifname)
    : ModemSlot(factory, params), ifname(std::move(ifname))
{}

HdlcModemSlot::~HdlcModemSlot()
{
    pppd_kill();
    OwnedFd sock = DatagramSocket();
    ifreq r = Named(ifname);
    if (!sock || Driver::NetIoctl(sock.get(), SIOCGIFFLAGS, &r) < 0) {
        std::cerr << ext::header(this) << "SIOCGIFFLAGS fail!!!" << std::endl;
    } else {
        r.ifr_flags = static_cast<short>(r.ifr_flags & ~IFF_UP);
        if (Driver::NetIoctl(sock.get(), SIOCSIFFLAGS, &r) < 0) {
            std::cerr << ext::header(this) << "SIOCSIFFLAGS fail!!!" << std::endl;
        } else {
            HdlcIf::raw_hdlc_proto raw{0, 0};
            if (WanDev(sock.get(), ifname, HdlcIf::IF_PROTO_HDLC, &raw, sizeof raw) < 0)
                std::cerr << ext::header(this) << "SIOCWANDEV/IF_PROTO_HDLC fail!" << std::endl;
        }
    }
    GetSlotFactory().ReleaseModemSlot(this);
}

void HdlcModemSlot::unbind()
{
    GetSlotFactory().ReleaseModemSlot(this);
}

bool HdlcModemSlot::IOnOutputStream()
{
    return initModem();
}

bool HdlcModemSlot::IOnInputStream()
{
    return initModem();
}

bool HdlcModemSlot::initModem()
{
    if (pid != -1)
        return true;
    OwnedFd sock = DatagramSocket();
    if (!sock) {
        const int error = errno;
        std::cerr << ext::header(this) << "socket fail: " << std::strerror(error) << std::endl;
        return !OutOfDescriptors(error);
    }
    // The program's place is held before the host hears success; the
    // socket is one of its descriptors once pppd runs.
    if (!KeepPlace(1))
        return false;
    unsigned char iface[HdlcIf::kIfaceBuffer] = {};
    if (WanDev(sock.get(), ifname, HdlcIf::IF_GET_IFACE, iface, sizeof iface) < 0) {
        std::cerr << ext::header(this) << "SIOCWANDEV/IF_GET_IFACE fail!" << std::endl;
        LetPlaceGo();
        return true;
    }
    std::uint32_t slotMap;
    std::memcpy(&slotMap, iface + HdlcIf::kSlotMapOffset, sizeof slotMap);
    timeslot = static_cast<int>(slotMap);
    std::uint32_t none = 0;
    if (WanDev(sock.get(), ifname, HdlcIf::IF_PROTO_PPP, &none, sizeof none) < 0) {
        std::cerr << ext::header(this) << "SIOCWANDEV/IF_PROTO_PPP fail!" << std::endl;
        LetPlaceGo();
        return true;
    }
    pppd_exec(ifname, RootPath(kHdlcOptions));
    if (placeKept)
        GetSlotFactory().AdoptKept(std::move(sock));
    return true;
}

// ---------------------------------------------------------------------------
// ModemFactory

ModemFactory* ModemFactory::instance()
{
    static ModemFactory factory;
    return &factory;
}

ModemFactory::ModemFactory()
{
    IQuery();
    Init();
}

ModemFactory::~ModemFactory()
{
    // The connections' last lines before what counts them goes.
    CloseRelay();
}

void ModemFactory::CloseRelay()
{
    authClients.clear();
    authEvent.Release();
    authSocket.reset();
    KeepPlaces();
    SummariseAuthLines();
}

void ModemFactory::Init()
{
    OwnedFd s(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, IPPROTO_TCP));
    if (!s) {
        std::cerr << ext::header(this) << "fail to create auth socket: " << std::strerror(errno) << std::endl;
        return;
    }
    // A server that stopped with connections open keeps their TIME_WAIT on
    // the port: without reuse a restart would find it taken for minutes.
    // Two live listeners still cannot share it.
    int on = 1;
    ::setsockopt(s.get(), SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    INet4::Addr local;
    local.Assign(htonl(INADDR_LOOPBACK));
    local.SetPort(Auth::kPort);
    if (::bind(s.get(), local.sa(), INet4::Addr::size()) != 0) {
        std::cerr << ext::header(this) << "fail to bind auth socket: " << std::strerror(errno) << std::endl;
        return;
    }
    if (::listen(s.get(), 64) != 0) {
        std::cerr << ext::header(this) << "fail to listen auth socket: " << std::strerror(errno) << std::endl;
        return;
    }
    if (!NonBlockMode(s.get())) {
        std::cerr << ext::header(this) << "can't set socket to non block mode: " << std::strerror(errno)
                  << std::endl;
        return;
    }
    authEvent.Bind("ModemFactory::OnSocketEvent", &ModemFactory::OnSocketEvent, this);
    // Unwatched, the relay would queue the programs' connections unserved.
    if (!authEvent.Schedule(s.fd(), POLLIN)) {
        std::cerr << ext::header(this) << "fail to watch auth socket: " << std::strerror(errno) << std::endl;
        return;
    }
    authSocket = std::move(s);
}

void ModemFactory::OnSocketEvent(int fd, short revents)
{
    if ((revents & (POLLERR | POLLHUP)) != 0) {
        std::cerr << ext::header(this) << "auth server socket error." << std::endl;
        // Not reopened: the relay stays closed from now on.
        authEvent.Release();
        authSocket.reset();
        KeepPlaces();
        return;
    }
    if ((revents & POLLIN) == 0)
        return;
    // Peers beyond what the slots can use must not take the descriptors
    // that every slot create needs; nor may idle ones keep a call's program
    // out. A newcomer goes to a general place while there is one, else to
    // a place kept for a call's program: that place's descriptors are let
    // go just before the accept, which takes them, nothing else in between.
    // Otherwise it takes the place of the quietest that carries no call.
    // Only when every place carries one, and no descriptor is left for
    // another, is it closed at once, logged once until one is taken again.
    Place place = NewcomerPlace(0);
    if (place == Place::None) {
        ServeWaiting();
        place = NewcomerPlace(0);
    }
    if (place == Place::Kept)
        kept_.Hold(kept_.size() - AuthClient::kDescriptors);
    INet4::Addr peer;
    socklen_t len = INet4::Addr::size();
    OwnedFd c(::accept4(fd, peer.sa(), &len, SOCK_CLOEXEC));
    if (!c) {
        const int error = errno;
        KeepPlaces();
        if (acceptPause.Failed(authEvent, error) && acceptPause.first())
            std::cerr << ext::header(this) << "fail to accept auth connection: " << std::strerror(error)
                      << std::endl;
        return; // otherwise gone before we took it
    }
    acceptPause.Accepted();
    if (!NonBlockMode(c.get())) {
        std::cerr << ext::header(this) << "fail to set nonblock mode." << std::endl;
        c.reset();
        KeepPlaces();
        return;
    }
    auto makeRoom = [&](AuthClient* quietest) {
        AuthLine(Auth::Line::Evicted, std::cerr)
            << ext::header(this) << "auth client " << quietest->get_peer() << " closed for " << peer << ": "
            << authClients.size() << " connections open." << std::endl;
        quietest->OnDisconnect();
        quietest->CheckDisconnect(); // deletes it
    };
    while (place == Place::None) {
        AuthClient* quietest = Quietest(true);
        if (quietest == nullptr) {
            if (!refusing)
                std::cerr << ext::header(this) << "auth connection from " << peer
                          << " refused: " << authClients.size() << " connections open." << std::endl;
            refusing = true;
            return;
        }
        makeRoom(quietest);
        place = NewcomerPlace(1);
        if (place == Place::Kept)
            kept_.Hold(kept_.size() - AuthClient::kDescriptors);
    }
    refusing = false;
    authClients.push_back(std::make_unique<AuthClient>(std::move(c), peer, *this));
    authClients.back()->set_kept_place(place == Place::Kept);
    if (!authClients.back()->Activate()) {
        // Unread, it would time out as if the program were silent.
        std::cerr << ext::header(this) << "auth connection from " << peer
                  << " closed: can't watch it: " << std::strerror(errno) << std::endl;
        authClients.back()->OnDisconnect();
        authClients.back()->CheckDisconnect(); // deletes it
        return;
    }
    KeepPlaces();
    AuthLine(Auth::Line::Incoming, std::cerr)
        << ext::header(this) << "incoming auth connection from " << peer << std::endl;
    // Let in on a kept place, it leaves the general ones beyond their limit
    // as a newcomer on them would: those go.
    const bool onKept = place == Place::Kept;
    while (onKept && authClients.size() > AuthClientLimit()) {
        AuthClient* quietest = Quietest(false);
        if (quietest == nullptr)
            break;
        makeRoom(quietest);
    }
}

std::vector<ModemFactory::AuthRole> ModemFactory::AuthRoles() const
{
    std::vector<std::int32_t> live;
    live.reserve(modemSlots.size());
    for (ModemSlot const* slot : modemSlots)
        live.push_back(slot->modem_id());
    std::sort(live.begin(), live.end());
    // The answers for a session go to the first connection that named it
    // (SendAuth): only that one carries the call, so a program cannot hold
    // places by naming a call again and again.
    std::set<std::uint32_t> named;
    std::vector<AuthRole> roles;
    roles.reserve(authClients.size());
    for (auto const& c : authClients) {
        AuthRole role = AuthRole::Other;
        if (c->has_session()) {
            const bool first = named.insert(c->get_session()).second;
            if (!c->closed() &&
                std::binary_search(live.begin(), live.end(), static_cast<std::int32_t>(c->get_session())))
                role = first ? AuthRole::Call : AuthRole::NamesCall;
        }
        roles.push_back(role);
    }
    return roles;
}

std::size_t ModemFactory::Awaited(std::vector<AuthRole> const& roles) const
{
    std::vector<std::int32_t> carried;
    for (std::size_t i = 0; i < authClients.size(); ++i)
        if (roles[i] == AuthRole::Call)
            carried.push_back(static_cast<std::int32_t>(authClients[i]->get_session()));
    return static_cast<std::size_t>(
        std::count_if(modemSlots.begin(), modemSlots.end(), [&](ModemSlot const* s) {
            return s->awaits_program() &&
                   std::find(carried.begin(), carried.end(), s->modem_id()) == carried.end();
        }));
}

bool ModemFactory::KeepPlaces(std::size_t lent)
{
    const auto roles = AuthRoles();
    // Without a listener no program can come.
    const std::size_t awaited = listening() ? Awaited(roles) : 0;
    std::size_t placed = 0;
    for (std::size_t i = 0; i < authClients.size(); ++i) {
        AuthClient& c = *authClients[i];
        if (!c.on_kept_place())
            continue;
        // One that carries its call, or has gone, holds a kept place no
        // more; nor does one beyond the calls that wait for their program:
        // it counts among the general ones from then on.
        if (roles[i] == AuthRole::Call || c.closed() || placed == awaited)
            c.set_kept_place(false);
        else
            ++placed;
    }
    const std::size_t want = (awaited - placed) * AuthClient::kDescriptors;
    return kept_.Hold(want > lent ? want - lent : 0);
}

void ModemFactory::AdoptKept(OwnedFd fd)
{
    kept_.Adopt(std::move(fd));
    KeepPlaces();
}

ModemFactory::AuthRoom ModemFactory::Room(std::size_t unlisted) const
{
    AuthRoom room;
    const auto roles = AuthRoles();
    for (std::size_t i = 0; i < authClients.size(); ++i) {
        if (roles[i] == AuthRole::Call)
            ++room.calls;
        else if (!authClients[i]->on_kept_place())
            ++room.general;
    }
    room.awaited = listening() ? Awaited(roles) : 0;
    rlimit nofile{};
    if (::getrlimit(RLIMIT_NOFILE, &nofile) != 0 || nofile.rlim_cur == RLIM_INFINITY)
        return room;
    room.limited = true;
    const auto limit = static_cast<std::size_t>(nofile.rlim_cur);
    // The server's own are all but those of the connections on general
    // places: a call's connection is as much the call's as its modem, and
    // a kept place, held or taken, is a call's too.
    const std::size_t relays = room.general * AuthClient::kDescriptors + unlisted;
    const std::size_t open = OpenDescriptors(limit);
    const std::size_t own = open > relays ? open - relays : 0;
    room.free = limit > own ? limit - own : 0;
    return room;
}

std::size_t ModemFactory::GeneralPlaces(AuthRoom const& room) const
{
    // One place for each slot beyond those the calls hold, carried or kept.
    const std::size_t most = modemSlots.size() + kAuthClientsBeyondSlots;
    const std::size_t calls = room.calls + room.awaited;
    std::size_t places = most > calls ? most - calls : 0;
    if (!room.limited)
        return places;
    const std::size_t left = room.free > kReservedDescriptors ? room.free - kReservedDescriptors : 0;
    std::size_t others = left / kAuthDescriptorShare / AuthClient::kDescriptors;
    // Short of that, one place while the reserve is left.
    if (others == 0 && room.free >= kReservedDescriptors)
        others = 1;
    return std::min(places, others);
}

ModemFactory::Place ModemFactory::NewcomerPlace(std::size_t unlisted) const
{
    const AuthRoom room = Room(unlisted);
    if (room.general < GeneralPlaces(room))
        return Place::General;
    if (kept_.size() >= AuthClient::kDescriptors)
        return Place::Kept;
    return Place::None;
}

std::size_t ModemFactory::AuthClientLimit() const
{
    const AuthRoom room = Room(0);
    return room.calls + room.awaited + GeneralPlaces(room);
}

AuthClient* ModemFactory::Quietest(bool keptToo) const
{
    const auto roles = AuthRoles();
    const std::uint32_t now = Mux::milliseconds();
    AuthClient* quietest = nullptr;
    AuthRole quietestRole = AuthRole::Other;
    std::uint32_t longest = 0;
    for (std::size_t i = 0; i < authClients.size(); ++i) {
        // One that names no call goes before one that names a call whose
        // answers go elsewhere; the call's own stays.
        const AuthRole role = roles[i];
        if (role == AuthRole::Call || (!keptToo && authClients[i]->on_kept_place()))
            continue;
        const std::uint32_t silent = now - authClients[i]->last_heard();
        if (quietest == nullptr || role < quietestRole || (role == quietestRole && silent > longest)) {
            quietest = authClients[i].get();
            quietestRole = role;
            longest = silent;
        }
    }
    return quietest;
}

void ModemFactory::ServeWaiting()
{
    std::vector<AuthClient*> candidates;
    for (auto const& c : authClients)
        candidates.push_back(c.get());
    for (AuthClient* c : candidates) {
        // One served before may have let another go.
        const bool listed = std::any_of(authClients.begin(), authClients.end(),
                                        [c](std::unique_ptr<AuthClient> const& a) { return a.get() == c; });
        if (listed)
            c->HearWaiting();
    }
}

void ModemFactory::OnAuthSocketDisconnect(AuthClient* client)
{
    auto it = std::find_if(authClients.begin(), authClients.end(),
                           [client](std::unique_ptr<AuthClient> const& c) { return c.get() == client; });
    if (it == authClients.end())
        return;
    AuthLine(Auth::Line::Disconnected, std::clog)
        << ext::header(this) << "auth client " << client->get_peer() << " disconnected." << std::endl;
    authClients.erase(it);
    KeepPlaces();
}

void ModemFactory::SendAuth(attr const* record)
{
    for (auto const& c : authClients) {
        if (c->has_session() && c->get_session() == record->session) {
            c->Send(record);
            // A write that failed closed it; outside its own callbacks
            // nothing else would let it go.
            c->CheckDisconnect();
            return;
        }
    }
    std::clog << ext::header(this) << "send error: unknown auth "
              << static_cast<std::int32_t>(record->session) << " session." << std::endl;
}

void ModemFactory::OnAuth(attr const* record)
{
    // The connection that sent it may carry a call from now on.
    KeepPlaces();
    const auto session = static_cast<std::int32_t>(record->session);
    for (ModemSlot* slot : modemSlots) {
        if (slot->EqAuthId(session)) {
            slot->OnAuth(record);
            return;
        }
    }
    AuthError(Auth::Line::Session) << ext::header(this) << "receive auth request for unknown session "
                                   << session << std::endl;
}

std::ostream& ModemFactory::AuthError(Auth::Line kind)
{
    return speaking != nullptr ? speaking->Complaint(kind) : AuthLine(kind, std::cerr);
}

std::ostream& ModemFactory::AuthLine(Auth::Line kind, std::ostream& os, unsigned long weight)
{
    const std::uint32_t now = Mux::milliseconds();
    if (!linesTimer && now - linesSince >= AuthClient::kSummaryMs) {
        std::fill(std::begin(authLines), std::end(authLines), 0);
        linesSince = now;
    }
    unsigned char& logged = authLines[static_cast<int>(kind)];
    if (logged < kLoggedAuthLines) {
        ++logged;
        return os;
    }
    if (linesUnlogged == 0)
        linesTimer.set(AuthClient::kSummaryMs - (now - linesSince), &ModemFactory::SummariseAuthLines, this);
    linesUnlogged += weight;
    return Auth::Nowhere();
}

void ModemFactory::SummariseAuthLines()
{
    linesTimer.reset();
    if (linesUnlogged == 0)
        return;
    std::cerr << ext::header(this) << linesUnlogged << " more auth lines not logged." << std::endl;
    linesUnlogged = 0;
}

void ModemFactory::PutHeader(std::ostream& os) const
{
    os << "modem[" << modemCount << "," << modemSlots.size() << "]: ";
}

Slot* ModemFactory::INewSlot(LGCP::CreateParams const& params)
{
    if (!params.is_modem())
        return nullptr;
    TERM::ModemParams const& p = params.get_modem();
    if (p.has_ddm() && p.get_ddm().size() > 0 && !freeHdlc.empty()) {
        std::string name = freeHdlc.front();
        freeHdlc.erase(freeHdlc.begin());
        auto* slot = new HdlcModemSlot(*this, p, std::move(name));
        modemSlots.push_back(slot);
        hdlcSlots.push_back(slot);
        return slot;
    }
    // No modem is taken yet: that happens at the first connection.
    auto* slot = new DspModemSlot(*this, p);
    modemSlots.push_back(slot);
    dspSlots.push_back(slot);
    return slot;
}

void ModemFactory::Query(LGCP::Resources& resources)
{
    IQuery();
    resources.set_modem(modemCount);
    resources.set_digital_modems(hdlcCount);
}

void ModemFactory::IQuery()
{
    update_modemDevices();
    update_hdlcDevices();
}

void ModemFactory::update_modemDevices()
{
    modemCount = 0;
    DeviceFd fd(Driver::Open(GetModemDevName(), O_RDWR | O_CLOEXEC));
    if (!fd) {
        std::cerr << ext::header(this) << "fail to open " << ext::quoted(GetModemDevName()) << " : "
                  << std::strerror(errno) << std::endl;
        return;
    }
    int previous = -1;
    while (modemCount < kMaxModems) {
        const int next = Driver::IoctlValue(fd.get(), MCTL_ENUMERATE, static_cast<unsigned long>(previous));
        if (next < 0) {
            if (errno != ENODEV)
                std::cerr << ext::header(this) << "enum fail: " << std::strerror(errno) << std::endl;
            break;
        }
        ++modemCount;
        previous = next;
    }
}

void ModemFactory::update_hdlcDevices()
{
    freeHdlc.clear();
    hdlcCount = 0;
    OwnedFd sock = DatagramSocket();
    if (!sock)
        return;
    std::vector<std::string> present;
    for (int n = 0; n < kMaxHdlc; ++n) {
        char name[IFNAMSIZ];
        std::snprintf(name, sizeof name, "hdlc%d", n);
        ifreq r = Named(name);
        if (Driver::NetIoctl(sock.get(), SIOCGIFINDEX, &r) < 0)
            break;
        r = Named(name);
        if (Driver::NetIoctl(sock.get(), SIOCGIFFLAGS, &r) < 0)
            break;
        if ((r.ifr_flags & IFF_POINTOPOINT) != 0 && (r.ifr_flags & IFF_LOOPBACK) == 0)
            present.emplace_back(name);
    }
    hdlcCount = static_cast<int>(present.size());
    // An interface that a live digital modem holds is not handed out again.
    for (std::string const& name : present) {
        bool held = std::any_of(hdlcSlots.begin(), hdlcSlots.end(),
                                [&](HdlcModemSlot const* s) { return s->GetIfName() == name; });
        if (!held)
            freeHdlc.push_back(name);
    }
    if (!present.empty()) {
        std::clog << ext::header(this) << "found point-o-point devices:";
        for (std::string const& name : present)
            std::clog << ' ' << name;
        std::clog << std::endl;
    }
}

void ModemFactory::ReleaseModemSlot(DspModemSlot* slot)
{
    modemSlots.erase(std::remove(modemSlots.begin(), modemSlots.end(), slot), modemSlots.end());
    dspSlots.erase(std::remove(dspSlots.begin(), dspSlots.end(), slot), dspSlots.end());
    KeepPlaces();
}

void ModemFactory::ReleaseModemSlot(HdlcModemSlot* slot)
{
    modemSlots.erase(std::remove(modemSlots.begin(), modemSlots.end(), slot), modemSlots.end());
    KeepPlaces();
    auto it = std::find(hdlcSlots.begin(), hdlcSlots.end(), slot);
    if (it == hdlcSlots.end())
        return; // released before
    hdlcSlots.erase(it);
    if (std::find(freeHdlc.begin(), freeHdlc.end(), slot->GetIfName()) == freeHdlc.end())
        freeHdlc.push_back(slot->GetIfName());
}
