#include "monitoring/monitoring_ctl.hpp"

#include "asn1/modules/ACP.hpp"
#include "asn1/modules/TERM.hpp"
#include "core/ext.hpp"
#include "core/paths.hpp"
#include "core/process.hpp"
#include "core/traces.hpp"
#include "core/version.hpp"
#include "hardware/driver_port.hpp"
#include "hardware/drivers.hpp"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <sstream>

namespace {

bool Tracing()
{
    return traces[TraceCtl::monitoring_internal];
}

constexpr std::size_t kLineMax = 254;
constexpr std::size_t kDriverLineMax = 126;

bool IsBlank(char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f' || c == '\v';
}

// fgets(3) semantics over text already read: up to `max` characters, ending
// after the first line feed; a NUL ends the text as it would end the C
// string the board's readers see.
std::string Line(std::string_view text, std::size_t max)
{
    std::string line;
    for (char c : text.substr(0, std::min(text.size(), max))) {
        if (c == '\0')
            break;
        line.push_back(c);
        if (c == '\n')
            break;
    }
    return line;
}

// Reads at most `max` bytes of the file's beginning; false when the file
// does not open or holds nothing.
bool ReadHead(const std::string& path, std::size_t max, std::string& out)
{
    std::FILE* f = std::fopen(path.c_str(), "rbe");
    if (f == nullptr)
        return false;
    std::string buffer(max, '\0');
    const std::size_t n = std::fread(buffer.data(), 1, max, f);
    std::fclose(f);
    if (n == 0)
        return false;
    buffer.resize(n);
    out = std::move(buffer);
    return true;
}

bool ParseHex(std::string_view text, std::uint64_t max, std::uint64_t& value)
{
    if (text.empty())
        return false;
    std::uint64_t v = 0;
    for (char c : text) {
        int d;
        if (c >= '0' && c <= '9')
            d = c - '0';
        else if (c >= 'a' && c <= 'f')
            d = c - 'a' + 10;
        else if (c >= 'A' && c <= 'F')
            d = c - 'A' + 10;
        else
            return false;
        v = v * 16 + static_cast<std::uint64_t>(d);
    }
    if (v > max)
        return false;
    value = v;
    return true;
}

std::string Bytes(const ASN1::OCTET_STRING& octets)
{
    return std::string(octets.begin(), octets.end());
}

// Numbers reach the agents as unsigned decimal text: -1 is "4294967295".
std::string Decimal(std::int64_t value)
{
    return std::to_string(static_cast<unsigned int>(value));
}

} // namespace

namespace BoardText {

std::string FirstLine(std::string_view text)
{
    return Line(text, kLineMax);
}

std::string Temperature(std::string_view line)
{
    std::string out;
    for (char c : line) {
        if (c == '\0' || IsBlank(c))
            break;
        out.push_back(c);
    }
    return out;
}

std::string DriverBuild(std::string_view text)
{
    const std::string line = Line(text, kDriverLineMax);
    std::vector<std::string> tokens;
    std::size_t pos = 0;
    while (pos < line.size()) {
        if (line[pos] == ' ') {
            ++pos;
            continue;
        }
        std::size_t end = line.find(' ', pos);
        if (end == std::string::npos)
            end = line.size();
        std::string token = line.substr(pos, end - pos);
        std::size_t b = 0;
        while (b < token.size() && IsBlank(token[b]))
            ++b;
        std::size_t e = token.size();
        while (e > b && IsBlank(token[e - 1]))
            --e;
        tokens.push_back(token.substr(b, e - b));
        pos = end;
    }
    if (tokens.size() >= 4)
        return tokens[1] + " [" + tokens[2] + " " + tokens[3] + "]";
    if (tokens.size() == 3)
        return tokens[1] + " [" + tokens[2] + "]";
    return "none";
}

bool ConfigVersion(std::string_view name, std::uint32_t& head, std::uint64_t& tail)
{
    constexpr std::string_view prefix = "config.";
    constexpr std::string_view archive = "config.2save.tar.bz2";
    if (name.substr(0, prefix.size()) != prefix || name.substr(0, archive.size()) == archive)
        return false;
    // A name shorter than the form is read only as far as it goes.
    const std::string_view form = name.substr(prefix.size(), 25);
    std::uint64_t v = 0;
    if (ParseHex(form.substr(0, std::min<std::size_t>(form.size(), 8)), 0xFFFFFFFFu, v))
        head = static_cast<std::uint32_t>(v);
    if (form.size() > 9 && ParseHex(form.substr(9, 16), ~std::uint64_t{0}, v))
        tail = v;
    return true;
}

} // namespace BoardText

MonitoringCtl::MonitoringCtl()
{
    bkgTimer_.set(first_bkg_ms, &MonitoringCtl::onBkgCheckTimer, this);
    powerTimer_.set(power_ms, &MonitoringCtl::onPowerCheckTimer, this);
    controllerTimer_.set(controller_ms, &MonitoringCtl::onControllerCheckTimer, this);
    refresh_.Bind(this, &MonitoringCtl::OnDpcSend);
}

MonitoringCtl::~MonitoringCtl()
{
    if (hal_ >= 0) {
        led_ = 0;
        WriteLed();
        Driver::Close(hal_);
        hal_ = -1;
    }
    refresh_.Deactivate();
    bkgTimer_.reset();
    powerTimer_.reset();
    controllerTimer_.reset();
    agents_.UnBind();
}

void MonitoringCtl::PutHeader(std::ostream& os) const
{
    os << "monitoring: ";
}

void MonitoringCtl::Configure(IniFile::File& file)
{
    agents_.CreateInstances(file["snmpagent"]);
    agents_.Bind(this);
}

bool MonitoringCtl::IsOpen()
{
    if (hal_ >= 0)
        return true;
    led_ = 0;
    hal_ = Driver::Open(GetHalDevName(), O_RDWR | O_CLOEXEC);
    if (hal_ >= 0)
        WriteLed();
    return hal_ >= 0;
}

void MonitoringCtl::WriteLed()
{
    std::uint8_t value = led_;
    (void)Driver::Ioctl(hal_, HAL_LED, &value);
}

void MonitoringCtl::onBkgCheckTimer(Timer*)
{
    doVersionsCheck();
    doConfigCheck();
    doFramerCheck();
    doTemperatureCheck();
    bkgTimer_.set(bkg_ms, &MonitoringCtl::onBkgCheckTimer, this);
}

void MonitoringCtl::onPowerCheckTimer(Timer*)
{
    doPowerCheck();
    doDipCheck();
    doNetIfCheck();
    powerTimer_.set(power_ms, &MonitoringCtl::onPowerCheckTimer, this);
}

void MonitoringCtl::onControllerCheckTimer(Timer*)
{
    doControllerCheck();
    controllerTimer_.set(controller_ms, &MonitoringCtl::onControllerCheckTimer, this);
}

void MonitoringCtl::doDipCheck()
{
    if (!IsOpen())
        return;
    std::uint8_t dip = 0;
    if (Driver::Ioctl(hal_, HAL_DIP, &dip) < 0)
        return;
    if (!store_.setDipValue(dip))
        return;
    if (Tracing())
        std::clog << ext::header(this) << "New dip - " << static_cast<char>(dip) << std::endl;
    sendSnmpGatewayDip();
}

void MonitoringCtl::doPowerCheck()
{
    if (!IsOpen())
        return;
    std::uint8_t raw = 0;
    if (Driver::Ioctl(hal_, HAL_POWER, &raw) < 0)
        return;
    LGCP::POWERStatus status;
    if (raw == 0)
        status = LGCP::POWERStatus::both;
    else if (raw <= 3)
        status = raw;
    else
        status = LGCP::POWERStatus::unknown;
    if (!store_.setPowerStatus(status))
        return;
    if (Tracing())
        std::clog << ext::header(this) << "New power status - " << status << std::endl;
    sendPowerStatus();
    sendSnmpPowerStatus();
}

void MonitoringCtl::doNetIfCheck()
{
    for (NetIfDataHolder& netIf : store_.netIfs)
        if (netIf.updateNetIf())
            sendSnmpNetIfStatus(netIf);
}

void MonitoringCtl::doVersionsCheck()
{
    struct Entry {
        const char* path;
        const char* trace;
        bool (MonitoringDataHolder::*set)(std::string);
        void (MonitoringCtl::*send)();
    };
    static const Entry entries[] = {
        {"/var/version", "BuildVersion - ", &MonitoringDataHolder::setBuildVersion,
         &MonitoringCtl::sendSnmpStatusBuildVersion},
        {"/var/u-boot-version", "BootVersion - ", &MonitoringDataHolder::setBootVersion,
         &MonitoringCtl::sendSnmpStatusBootVersion},
        {"/var/fpga-version", "FPGAVersion - ", &MonitoringDataHolder::setFPGAVersion,
         &MonitoringCtl::sendSnmpStatusFPGAVersion},
        {"/var/board-version", "BoardVersion - ", &MonitoringDataHolder::setBoardVersion,
         &MonitoringCtl::sendSnmpStatusBoardVersion},
    };
    for (const Entry& e : entries) {
        std::string head;
        if (!ReadHead(RootPath(e.path), kLineMax, head))
            continue;
        std::string line = BoardText::FirstLine(head);
        if (Tracing())
            std::clog << ext::header(this) << e.trace << line << std::endl;
        if ((store_.*e.set)(std::move(line)))
            (this->*e.send)();
    }
}

void MonitoringCtl::doConfigCheck()
{
    const std::string dir = RootPath("/usr/local/etc/");
    DIR* d = ::opendir(dir.c_str());
    if (d == nullptr)
        return;
    // Children started later inherit this folder; relative paths of their
    // configuration may rely on it.
    if (::chdir(dir.c_str()) != 0) {
        ::closedir(d);
        return;
    }
    std::uint32_t head = 0;
    std::uint64_t tail = 0;
    // The 64-bit forms: a 32-bit build's readdir fails (EOVERFLOW) on a file
    // system whose directory offsets are 64-bit hashes.
    while (const dirent64* entry = ::readdir64(d)) {
        struct stat64 st {};
        if (::fstatat64(::dirfd(d), entry->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0 || S_ISDIR(st.st_mode))
            continue;
        if (!BoardText::ConfigVersion(entry->d_name, head, tail))
            continue;
        if (store_.setConfigVersion(head, tail))
            sendSnmpGatewayConfigVersion();
    }
    ::closedir(d);
}

void MonitoringCtl::doFramerCheck()
{
    for (FramerDataHolder& framer : store_.framers) {
        const int fd = ::open(framer.path.c_str(), O_RDONLY | O_CLOEXEC);
        if (fd < 0) {
            if (Tracing())
                std::clog << ext::header(this) << "Error open file: \"" << framer.path << "\" errno=\""
                          << std::strerror(errno) << "\"" << std::endl;
            continue;
        }
        std::vector<unsigned char> buffer(1024);
        const ssize_t n = ::read(fd, buffer.data(), buffer.size());
        const int error = errno;
        ::close(fd);
        if (n <= 0) {
            if (Tracing())
                std::clog << ext::header(this) << "Error read file: \"" << framer.path << "\" errno=\""
                          << std::strerror(error) << "\"" << std::endl;
            continue;
        }
        buffer.resize(static_cast<std::size_t>(n));
        if (framer.setFramerStatus(buffer))
            sendSnmpFramerStatus(framer);
    }
}

void MonitoringCtl::doTemperatureCheck()
{
    std::string head;
    if (!ReadHead(RootPath("/proc/temperature"), kLineMax, head))
        return;
    const std::string line = BoardText::FirstLine(head);
    if (Tracing())
        std::clog << ext::header(this) << "Temperature - " << line << std::endl;
    if (store_.setTemperature(BoardText::Temperature(line)))
        sendSnmpTemperature();
}

void MonitoringCtl::doControllerCheck()
{
    LGCP::ControllerInfo info;
    info.get_host().set_iaddr(store_.ownAddress.GetDotted());
    info.get_host().set_port(0);
    bool connected = false;
    if (!CheckServerConnection(connected) || !connected) {
        store_.controllerPid = find_proc_by_name("controller", store_.controllerPid);
        info.get_status() =
            store_.controllerPid < 1 ? HSP::ControllerStatus::notrun : HSP::ControllerStatus::notconnection;
    } else {
        info.get_status() = store_.ownControllerStatus;
    }
    if (store_.setControllerStatus(info))
        sendSnmpControllerStatus();
}

void MonitoringCtl::OnConnect()
{
    doPowerCheck();
    sendPowerStatus();
    doControllerCheck();
}

void MonitoringCtl::OnDisconnect()
{
    store_.ClearControllerFiles();
    doControllerCheck();
}

void MonitoringCtl::sendPowerStatus()
{
    LGCP::Signal signal;
    signal.select_power() = store_.powerStatus;
    SendSignal(signal);
}

bool MonitoringCtl::OnCommand(LGCP::Command const& command)
{
    if (!command.is_display())
        return false;
    OnDisplayCMD(command.get_display());
    Success();
    return true;
}

void MonitoringCtl::OnDisplayCMD(LGCP::DisplayParams const& params)
{
    store_.setDisplayStatus(params);
    if (params.is_framer()) {
        setFramerLed(params.get_framer());
    } else if (params.is_board()) {
        if (params.get_board().is_boardStatus())
            sendSnmpBoardStatus(params.get_board().get_boardStatus());
    } else if (params.is_emPhone()) {
        if (params.get_emPhone().is_phoneStatus())
            sendSnmpEmPhoneStatus(params.get_emPhone().get_phoneStatus());
    } else if (params.is_snmpTrapReceivers()) {
        sendSnmpTrapReceivers();
    } else if (params.is_controller()) {
        sendSnmpControllerStatus();
    } else if (params.is_termCounter()) {
        sendSnmpRouterTermCnt();
        sendSnmpControllerTermCnt();
        sendSnmpServerTermCnt();
        sendSnmpBoardTermCnt();
    } else if (params.is_snmp_set()) {
        sendSnmpCommands(params.get_snmp_set());
    }
}

void MonitoringCtl::setFramerLed(LGCP::FramerInfo const& info)
{
    if (!IsOpen())
        return;
    const int e = static_cast<int>(info.get_e1().getValue());
    if (e < 0 || e > 3)
        return;
    const std::uint8_t noLink = static_cast<std::uint8_t>(1u << (2 * e));
    const std::uint8_t line = static_cast<std::uint8_t>(1u << (2 * e + 1));
    const LGCP::FramerInfoData& data = info.get_info();
    if (data.is_link()) {
        if (data.get_link())
            led_ &= static_cast<std::uint8_t>(~noLink);
        else
            led_ |= noLink;
    } else if (data.is_line()) {
        if (!data.get_line()) {
            led_ &= static_cast<std::uint8_t>(~(noLink | line));
        } else {
            // A line that comes up shows no link until a link report says so.
            if ((led_ & line) == 0)
                led_ |= noLink;
            led_ |= line;
        }
    }
    WriteLed();
}

void MonitoringCtl::OnSignal(LGCP::Signal const& signal)
{
    if (!signal.is_trunkStatus())
        return;
    const ACP::TrunkStatus& status = signal.get_trunkStatus();
    // The framers are the E1 trunks'; the SPI framers report basic-rate
    // lines under the same numbers, and taking theirs too would flip a
    // framer between two lines' states every second.
    if (status.get_type().getValue() != ACP::TrunkType::e1)
        return;
    const auto state = static_cast<ACP::TrunkState::NamedNumber>(status.get_state().getValue());
    bool changed = false;
    for (FramerDataHolder& framer : store_.framers)
        if (static_cast<std::int64_t>(framer.number) - 1 == status.get_trunk().getValue())
            changed = framer.setFramerStatus(state) || changed;
    if (changed)
        refresh_.Activate();
}

void MonitoringCtl::OnSnmpAgentConnect(std::string const&)
{
    refresh_.Activate();
}

void MonitoringCtl::OnDpcSend()
{
    sendSnmpTrapReceivers();
    sendSnmpDriverBuild();
    sendSnmpSoftwareBuild();
    sendSnmpPowerStatus();
    sendSnmpControllerStatus();
    sendSnmpGatewayDip();
    sendSnmpGatewayConfigVersion();
    sendSnmpTemperature();
    sendSnmpStatusBuildVersion();
    sendSnmpStatusFPGAVersion();
    sendSnmpStatusBootVersion();
    sendSnmpStatusBoardVersion();
    sendSnmpBoardStatuses();
    sendSnmpEmPhoneStatuses();
    sendSnmpRouterTermCnt();
    sendSnmpControllerTermCnt();
    sendSnmpServerTermCnt();
    sendSnmpBoardTermCnt();
    sendSnmpFramerStatus();
    sendSnmpNetIfStatus();
    sendSnmpCommands();
    refresh_.Deactivate();
}

void MonitoringCtl::sendSnmpDriverBuild()
{
    std::string head;
    if (!ReadHead(RootPath("/proc/voice/version"), kDriverLineMax, head))
        return;
    agents_.Send(SnmpAgentCtrl::driverBuild, BoardText::DriverBuild(head));
}

void MonitoringCtl::sendSnmpSoftwareBuild()
{
    std::ostringstream os;
    Version::current.put(os);
    agents_.Send(SnmpAgentCtrl::softwareBuild, os.str());
}

void MonitoringCtl::sendSnmpPowerStatus()
{
    agents_.Send(SnmpAgentCtrl::powerStatus, Decimal(store_.powerStatus.getValue()));
}

void MonitoringCtl::sendSnmpControllerStatus()
{
    agents_.Send(SnmpAgentCtrl::controllerStatus, Decimal(store_.ownControllerStatus.getValue()));
}

void MonitoringCtl::sendSnmpGatewayDip()
{
    agents_.Send(SnmpAgentCtrl::gatewayDip, Decimal(store_.dipValue));
}

void MonitoringCtl::sendSnmpGatewayConfigVersion()
{
    agents_.Send(SnmpAgentCtrl::gatewayConfigVersion, Decimal(store_.configVersionHead));
}

void MonitoringCtl::sendSnmpTemperature()
{
    agents_.Send(SnmpAgentCtrl::temperature, store_.temperature);
}

void MonitoringCtl::sendSnmpStatusBuildVersion()
{
    agents_.Send(SnmpAgentCtrl::sgBuildVersion, store_.buildVersion);
}

void MonitoringCtl::sendSnmpStatusFPGAVersion()
{
    agents_.Send(SnmpAgentCtrl::sgFPGAVersion, store_.fpgaVersion);
}

void MonitoringCtl::sendSnmpStatusBootVersion()
{
    agents_.Send(SnmpAgentCtrl::sgBootVersion, store_.bootVersion);
}

void MonitoringCtl::sendSnmpStatusBoardVersion()
{
    agents_.Send(SnmpAgentCtrl::sgBoardVersion, store_.boardVersion);
}

void MonitoringCtl::sendSnmpBoardStatus(LGCP::BoardStatusParams const& params)
{
    const int index = static_cast<int>(params.get_position().getValue());
    agents_.Send(SnmpAgentCtrl::extBoardStatus, index, Decimal(params.get_status().getValue()));
    agents_.Send(SnmpAgentCtrl::extBoardSoftVer, index, Bytes(params.get_version()));
    agents_.Send(SnmpAgentCtrl::extBoardType, index, Decimal(params.get_type().getValue()));
}

void MonitoringCtl::sendSnmpBoardStatuses()
{
    for (const LGCP::BoardStatusParams& board : store_.boards)
        sendSnmpBoardStatus(board);
}

void MonitoringCtl::sendSnmpEmPhoneStatus(LGCP::EmPhoneStatusParams const& params)
{
    const int index = static_cast<int>(params.get_id().getValue()) + 1;
    agents_.Send(SnmpAgentCtrl::emPhonePanelSoftVer, index, Bytes(params.get_panelSV()));
    agents_.Send(SnmpAgentCtrl::emPhoneCtrlSoftVer, index, Bytes(params.get_ctrlSV()));
    agents_.Send(SnmpAgentCtrl::emPhoneFpgaSoftVer, index, Bytes(params.get_fpgaSV()));
    agents_.Send(SnmpAgentCtrl::emPhoneStatus, index, Decimal(params.get_status().getValue()));
    agents_.Send(SnmpAgentCtrl::emPhonePowerStatus, index, Decimal(params.get_powerStatus().getValue()));
    agents_.Send(SnmpAgentCtrl::emPhoneMode, index, Decimal(params.get_mode().getValue()));
    agents_.Send(SnmpAgentCtrl::emPhoneHookStatus, index, Decimal(params.get_hookStatus().getValue()));
    agents_.Send(SnmpAgentCtrl::emPhoneBaseStatus, index, Decimal(params.get_baseStatus().getValue()));
}

void MonitoringCtl::sendSnmpEmPhoneStatuses()
{
    for (const LGCP::EmPhoneStatusParams& phone : store_.phones)
        sendSnmpEmPhoneStatus(phone);
}

void MonitoringCtl::SendTermCounters(LGCP::TermCounterOwner::NamedNumber owner,
                                     SnmpAgentCtrl::MonitoringItemType item)
{
    for (const LGCP::TermCounter& counter : store_.termCounters) {
        if (counter.get_owner().getValue() != owner)
            continue;
        const std::string cnt = Decimal(counter.get_cnt().getValue());
        if (owner != LGCP::TermCounterOwner::extBoard)
            agents_.Send(item, cnt);
        else if (counter.has_ownerId())
            agents_.Send(item, static_cast<int>(counter.get_ownerId().getValue()), cnt);
    }
}

void MonitoringCtl::sendSnmpRouterTermCnt()
{
    SendTermCounters(LGCP::TermCounterOwner::router, SnmpAgentCtrl::routerTermCnt);
}

void MonitoringCtl::sendSnmpControllerTermCnt()
{
    SendTermCounters(LGCP::TermCounterOwner::controller, SnmpAgentCtrl::controllerTermCnt);
}

void MonitoringCtl::sendSnmpServerTermCnt()
{
    SendTermCounters(LGCP::TermCounterOwner::server, SnmpAgentCtrl::serverTermCnt);
}

void MonitoringCtl::sendSnmpBoardTermCnt()
{
    SendTermCounters(LGCP::TermCounterOwner::extBoard, SnmpAgentCtrl::extBoardTermCnt);
}

void MonitoringCtl::sendSnmpFramerStatus(FramerDataHolder const& framer)
{
    const int index = framer.number;
    agents_.Send(SnmpAgentCtrl::e1Connected, index, framer.connected ? "1" : "0");
    agents_.Send(SnmpAgentCtrl::e1StatusDsc, index, framer.stateText);
    agents_.Send(SnmpAgentCtrl::e1SignalLoss, index, framer.lossOfSignal ? "1" : "0");
    agents_.Send(SnmpAgentCtrl::e1FrameAlignLoss, index, framer.lossOfFrame ? "1" : "0");
    agents_.Send(SnmpAgentCtrl::e1NegSlipCount, index, Decimal(framer.negativeSlips));
    agents_.Send(SnmpAgentCtrl::e1PosSlipCount, index, Decimal(framer.positiveSlips));
}

void MonitoringCtl::sendSnmpFramerStatus()
{
    for (const FramerDataHolder& framer : store_.framers)
        sendSnmpFramerStatus(framer);
}

void MonitoringCtl::sendSnmpNetIfStatus(NetIfDataHolder const& netIf)
{
    agents_.Send(SnmpAgentCtrl::ifOperStatus, netIf.ifIndex, Decimal(netIf.operStatus));
    agents_.Send(SnmpAgentCtrl::ifAdminStatus, netIf.ifIndex, Decimal(netIf.adminStatus));
    agents_.Send(SnmpAgentCtrl::ifDescr, netIf.ifIndex, netIf.name);
}

void MonitoringCtl::sendSnmpNetIfStatus()
{
    for (const NetIfDataHolder& netIf : store_.netIfs)
        sendSnmpNetIfStatus(netIf);
}

void MonitoringCtl::sendSnmpTrapReceivers()
{
    agents_.SendTrapsink(store_.trapReceivers);
}

void MonitoringCtl::sendSnmpCommands()
{
    agents_.Send(store_.snmpCommands);
}

void MonitoringCtl::sendSnmpCommands(MON::SnmpSetCommands const& commands)
{
    agents_.Send(commands);
}
