#include "monitoring/monitoring_data_holder.hpp"

#include "asn1/valuenotation.hpp"
#include "core/paths.hpp"
#include "core/traces.hpp"

#include <iostream>
#include <utility>

#include <sys/stat.h>

namespace {

bool Tracing()
{
    return traces[TraceCtl::monitoring_internal];
}

bool SetText(std::string& stored, std::string text)
{
    if (stored == text)
        return false;
    stored = std::move(text);
    return true;
}

// A section or name of an SNMP set command becomes one path component below
// the monitoring folder; the host's text must not climb out of it or reach
// deeper into it.
bool SafeComponent(const std::string& text)
{
    return !text.empty() && text != "." && text != ".." && text.find('/') == std::string::npos &&
           text.find('\0') == std::string::npos;
}

const std::string& Text(const ASN1::AbstractString& value)
{
    return value;
}

bool SameId(const MON::SnmpSetCommandId& a, const MON::SnmpSetCommandId& b)
{
    if (a.is_oid() && b.is_oid())
        return Text(a.get_oid()) == Text(b.get_oid());
    if (a.is_name() && b.is_name()) {
        const MON::IniName& x = a.get_name();
        const MON::IniName& y = b.get_name();
        return Text(x.get_section()) == Text(y.get_section()) && Text(x.get_name()) == Text(y.get_name()) &&
               x.get_index().getValue() == y.get_index().getValue();
    }
    return false;
}

// Whether a stored counter is the one a report is about. An extension
// board's counter is told by its owner id: both absent or both equal (a
// report without an id must not take over every board's entry). The other
// owners take a report into an entry without an id, or with the same one.
bool SameCounter(const LGCP::TermCounter& entry, const LGCP::TermCounter& report)
{
    if (entry.get_owner().getValue() != report.get_owner().getValue())
        return false;
    const bool ids_equal = entry.has_ownerId() && report.has_ownerId() &&
                           entry.get_ownerId().getValue() == report.get_ownerId().getValue();
    if (report.get_owner().getValue() == LGCP::TermCounterOwner::extBoard)
        return ids_equal || (!entry.has_ownerId() && !report.has_ownerId());
    return !entry.has_ownerId() || ids_equal;
}

} // namespace

std::string host2str(const TERM::HostAddress& host)
{
    return host.get_iaddr();
}

MonitoringDataHolder::MonitoringDataHolder()
{
    ClearMonitorFiles();
    ownAddress = Net::first_private_address();
    DiscoverFramers();
    DiscoverInterfaces();
    CheckForMonDir(MonPath("").c_str());
    CheckForMonDir(MonPath("term_cnts/").c_str());
}

MonitoringDataHolder::~MonitoringDataHolder()
{
    ClearMonitorFiles();
}

void MonitoringDataHolder::DiscoverFramers()
{
    for (int i = 0; i < 4; ++i) {
        std::string path = RootPath("/proc/driver/hdlc/peb22554/" + std::to_string(i));
        struct stat st;
        if (::stat(path.c_str(), &st) == 0)
            framers.emplace_back(i + 1, std::move(path));
    }
}

void MonitoringDataHolder::DiscoverInterfaces()
{
    NetIfSource& source = NetIfSource::Get();
    if (!source.Open())
        return;
    for (int index = 0; index < 16; ++index) {
        std::string name;
        if (source.Name(index, name))
            netIfs.emplace_back(index, std::move(name));
    }
    source.Close();
}

void MonitoringDataHolder::SaveValue(const std::string& relative, Saver saver, const void* value)
{
    SaveStatusArg arg;
    arg.value = value;
    SaveStatusToFile(MonPath(relative).c_str(), saver, &arg);
}

bool MonitoringDataHolder::setDipValue(int value)
{
    if (value == dipValue)
        return false;
    dipValue = value;
    SaveStatusToFile(MonPath("dip").c_str(), &MonitoringDataHolder::DipStatusSaver, nullptr);
    return true;
}

bool MonitoringDataHolder::setPowerStatus(const LGCP::POWERStatus& status)
{
    if (status.getValue() == powerStatus.getValue())
        return false;
    powerStatus = status;
    SaveStatusToFile(MonPath("powerstatus").c_str(), &MonitoringDataHolder::PowerStatusSaver, nullptr);
    return true;
}

bool MonitoringDataHolder::setConfigVersion(std::uint32_t head, std::uint64_t tail)
{
    if (head == configVersionHead && tail == configVersionTail)
        return false;
    configVersionHead = head;
    configVersionTail = tail;
    SaveStatusToFile(MonPath("config_version").c_str(), &MonitoringDataHolder::ConfigVersionSaver, nullptr);
    return true;
}

bool MonitoringDataHolder::setTemperature(std::string text)
{
    return SetText(temperature, std::move(text));
}

bool MonitoringDataHolder::setBuildVersion(std::string text)
{
    return SetText(buildVersion, std::move(text));
}

bool MonitoringDataHolder::setFPGAVersion(std::string text)
{
    return SetText(fpgaVersion, std::move(text));
}

bool MonitoringDataHolder::setBootVersion(std::string text)
{
    return SetText(bootVersion, std::move(text));
}

bool MonitoringDataHolder::setBoardVersion(std::string text)
{
    return SetText(boardVersion, std::move(text));
}

void MonitoringDataHolder::setBoardStatus(const LGCP::BoardInfo& info)
{
    if (!info.is_boardStatus())
        return;
    const LGCP::BoardStatusParams& params = info.get_boardStatus();
    SaveValue("board" + std::to_string(params.get_position().getValue()),
              &MonitoringDataHolder::BoardStatusSaver, &params);
}

void MonitoringDataHolder::setEmPhoneInfo(const LGCP::EmPhoneInfo& info)
{
    if (!info.is_phoneStatus())
        return;
    const LGCP::EmPhoneStatusParams& params = info.get_phoneStatus();
    SaveValue("emphone" + std::to_string(params.get_id().getValue()), &MonitoringDataHolder::PhoneStatusSaver,
              &params);
}

void MonitoringDataHolder::setTermCounter(const LGCP::TermCounter& counter)
{
    std::string file;
    switch (counter.get_owner().getValue()) {
    case LGCP::TermCounterOwner::router:
        file = "term_cnts/router";
        break;
    case LGCP::TermCounterOwner::controller:
        file = "term_cnts/controller";
        break;
    case LGCP::TermCounterOwner::server:
        file = "term_cnts/server";
        break;
    case LGCP::TermCounterOwner::extBoard:
        if (counter.has_ownerId())
            file = "term_cnts/board" + std::to_string(counter.get_ownerId().getValue());
        break;
    default:
        break;
    }
    if (!file.empty()) {
        SaveStatusArg arg;
        arg.counter = counter.get_cnt().getValue();
        SaveStatusToFile(MonPath(file).c_str(), &MonitoringDataHolder::TermCounterSaver, &arg);
    }

    for (LGCP::TermCounter& entry : termCounters) {
        if (SameCounter(entry, counter)) {
            entry.set_cnt(counter.get_cnt().getValue());
            return;
        }
    }
    termCounters.push_back(counter);
}

bool MonitoringDataHolder::setControllerStatus(const LGCP::ControllerInfo& info)
{
    INet4::Addr addr;
    // A text that does not parse stands for 0.0.0.0 with port 0, whatever
    // port it carried.
    if (!addr.Assign(host2str(info.get_host())))
        addr.Reset();
    const bool own = addr.IsEqual(ownAddress);
    if (own)
        ownControllerStatus = info.get_status();

    bool changed = true;
    bool found = false;
    for (LGCP::ControllerInfo& entry : controllers) {
        if (entry.get_host().do_compare(info.get_host()) != 0)
            continue;
        changed = entry.get_status().getValue() != info.get_status().getValue();
        entry.get_status() = info.get_status();
        found = true;
        break;
    }
    if (!found)
        controllers.push_back(info);
    if (!changed)
        return false;

    const std::string dotted = addr.GetDotted();
    if (Tracing())
        std::clog << "New controller " << dotted << " status - " << info.get_status() << std::endl;
    CheckForMonControllerDir(addr);
    SaveValue("controller/" + dotted + "/status", &MonitoringDataHolder::ControllerStatusSaver,
              &info.get_status());
    return own;
}

void MonitoringDataHolder::setSnmpTrapReceivers(const TrapReceivers& receivers)
{
    trapReceivers.clear();
    if (Tracing())
        std::clog << "Trap receivers:" << receivers << std::endl;
    for (const ASN1::IA5String& receiver : receivers)
        trapReceivers.emplace_back(receiver);
}

void MonitoringDataHolder::setSnmpCommands(const MON::SnmpSetCommands& commands)
{
    MON::SnmpSetCommands::commands_type& stored = snmpCommands.get_commands();
    for (const MON::SnmpSetCommand& command : commands.get_commands()) {
        bool merged = false;
        for (MON::SnmpSetCommand& entry : stored) {
            if (SameId(entry.get_id(), command.get_id())) {
                entry.get_value() = command.get_value();
                merged = true;
                break;
            }
        }
        if (!merged)
            stored.push_back(command);

        if (!command.get_id().is_name())
            continue;
        const MON::IniName& id = command.get_id().get_name();
        const std::string& section = id.get_section();
        const std::string& name = id.get_name();
        if (!SafeComponent(section) || !SafeComponent(name)) {
            std::clog << "snmp set: refused file name, section " << id.get_section() << " index "
                      << id.get_index().getValue() << " name " << id.get_name() << std::endl;
            continue;
        }
        const std::string dir = section + "/";
        const std::string sub = dir + std::to_string(id.get_index().getValue()) + "/";
        CheckForMonDir(MonPath(dir).c_str());
        CheckForMonDir(MonPath(sub).c_str());
        snmpValue = command.get_value();
        SaveValue(sub + name, &MonitoringDataHolder::StringParamSaver, &snmpValue);
    }
}

void MonitoringDataHolder::setDisplayStatus(const LGCP::DisplayParams& params)
{
    if (params.is_board())
        setBoardStatus(params.get_board());
    else if (params.is_snmpTrapReceivers())
        setSnmpTrapReceivers(params.get_snmpTrapReceivers());
    else if (params.is_emPhone())
        setEmPhoneInfo(params.get_emPhone());
    else if (params.is_controller())
        (void)setControllerStatus(params.get_controller());
    else if (params.is_termCounter())
        setTermCounter(params.get_termCounter());
    else if (params.is_snmp_set())
        setSnmpCommands(params.get_snmp_set());
    // framer: the service drives the line LEDs from it; nothing is stored.
}
