#include "monitoring/snmp_agent.hpp"

#include "asn1/coder_env.hpp"
#include "control/tpkt_protocol.hpp"
#include "core/clock.hpp"

#include <algorithm>
#include <iostream>
#include <iterator>

IniFile::Symbol<SnmpAgentInstance::MonitoringAddressType> const monitoringAddressTypes[] = {
    {"dizoru", SnmpAgentInstance::MonitoringAddressType{1}},
    {"dizoru.qv", SnmpAgentInstance::MonitoringAddressType{4}},
    {"dakv", SnmpAgentInstance::MonitoringAddressType{2}},
    {nullptr, SnmpAgentInstance::MonitoringAddressType{0}},
};

namespace {

char const* const cfgPrefix = "snmpagent: ";

// The octets of the payload that SnmpAgentInstance::Send makes of the
// command; 0 when it does not encode (the instance then logs that).
std::size_t EncodedSize(MON::Command const& command)
{
    MON::Message message;
    message.get_pdu().set_command(command);
    std::vector<char> bytes;
    ASN1::CoderEnv env(ASN1::CoderEnv::per_Aligned);
    if (!ASN1::encode(message, &env, std::back_inserter(bytes)))
        return 0;
    return bytes.size();
}

} // namespace

// ---------------------------------------------------------------------------
// One agent

SnmpAgentInstance::~SnmpAgentInstance()
{
    pingTimer_.reset();
    if (connector_) {
        // Closing quietly: the connection must not call back into a half
        // destroyed instance.
        connector_->UnBind();
        connector_->Deactivate();
    }
}

bool SnmpAgentInstance::Activate(IniFile::SubSection& occurrence)
{
    std::string host;
    IniFile::Reader reader(cfgPrefix, std::cerr);
    reader.required.add(&host, "host");
    reader.required.add(&name_, "name");
    reader.required.add(&addressType_, "name", monitoringAddressTypes);
    if (!reader.parse(occurrence))
        return false;

    int port = -1;
    bool const converted = address_.Assign(host, &port);
    std::string const where = IniFile::LineRef(occurrence.FileName(), occurrence["host"].begin()->mLineNo);
    if (port < 0) {
        // No ":" and port: nothing to connect to, the agent is not used.
        std::cerr << cfgPrefix << "required key \"host\" has no port, value=\"" << host << "\", " << where
                  << std::endl;
        return false;
    }
    if (!converted || port == 0) {
        // A bad address part would otherwise reach the connector as 0.0.0.0,
        // which connects to this very board.
        std::cerr << cfgPrefix << "required key \"host\" has invalid address or port, value=\"" << host
                  << "\", " << where << std::endl;
        return false;
    }

    state_ = Activated;
    connector_ = std::make_unique<Control::ConnectorNet>(address_.GetDotted(), address_.GetPort());
    header_ = "snmpagent." + name_ + " " + address_.GetString();
    connector_->service_name(header_);
    connector_->Bind(this);
    connector_->Activate();
    return true;
}

void SnmpAgentInstance::Command(MON::Command const& command)
{
    MON::Message message;
    message.get_pdu().set_command(command);
    Send(message);
}

void SnmpAgentInstance::Send(MON::Message const& message)
{
    if (!connector_ || connector_->state() != Control::Service::State::Connected)
        return;
    std::vector<char> bytes;
    ASN1::CoderEnv env(ASN1::CoderEnv::per_Aligned);
    // A failed encoding may leave a part behind: never send that.
    if (!ASN1::encode(message, &env, std::back_inserter(bytes)) || bytes.empty()) {
        std::clog << header_ << ": encode MON message fail!!!" << std::endl;
        return;
    }
    connector_->Send(bytes.data(), static_cast<int>(bytes.size()));
    SetPingTimer();

    // Silence shows only here: an agent is expected to answer within the
    // pings that every send arms. Signed, so that the clock may wrap.
    std::uint32_t const now = Mux::milliseconds();
    if (static_cast<std::int32_t>(now - lastReceive_) > silence_ms) {
        std::clog << header_ << ": ping timeout !!!"
                  << " now=" << now << " stamp=" << lastReceive_ << std::endl;
        connector_->Disconnect();
    }
}

void SnmpAgentInstance::SetPingTimer()
{
    pingTimer_.set(ping_ms, &SnmpAgentInstance::OnPingTimer, this);
}

void SnmpAgentInstance::OnPingTimer(Timer*)
{
    MON::Command ping;
    ping.set_ping();
    Command(ping);
}

void SnmpAgentInstance::OnConnect()
{
    state_ = Connected;
    std::clog << header_ << ": connected." << std::endl;
    lastReceive_ = Mux::milliseconds();
    if (listener_ != nullptr)
        listener_->OnSnmpAgentConnect(name_);
}

void SnmpAgentInstance::OnDisconnect()
{
    std::clog << header_ << ": connection lost, reset snmpagent instance" << std::endl;
    pingTimer_.reset();
    if (state_ == Connected)
        state_ = ConnectionLost;
}

void SnmpAgentInstance::OnMessage(char const* data, int length)
{
    // Any frame is a sign of life, even one we cannot read.
    lastReceive_ = Mux::milliseconds();
    MON::Message message;
    ASN1::CoderEnv env(ASN1::CoderEnv::per_Aligned);
    if (length < 0 || !ASN1::decode(data, data + length, &env, message)) {
        std::cerr << header_ << ": receive : decode error!" << std::endl;
        return;
    }
    OnMessage(message);
}

void SnmpAgentInstance::OnMessage(MON::Message const& message)
{
    MON::PDU const& pdu = message.get_pdu();
    if (pdu.is_response())
        OnResponse(pdu.get_response());
    else if (pdu.is_signal())
        OnSignal(pdu.get_signal());
    else
        std::cerr << header_ << ": receive unknown message type" << std::endl;
}

// Agents answer every command, but nothing here depends on the answers:
// values are resent in full at each connect.
void SnmpAgentInstance::OnResponse(MON::Response const&)
{}

void SnmpAgentInstance::OnSignal(MON::Signal const&)
{}

// ---------------------------------------------------------------------------
// All agents and the item table

SnmpAgentCtrl::SnmpAgentCtrl()
{
    struct Row {
        int mask;
        char const* table;
        char const* column;
    };
    static Row const rows[item_count] = {
        {6, "gatewayCommon", "driverBuild"},
        {6, "gatewayCommon", "softwareBuild"},
        {6, "gatewayCommon", "powerStatus"},
        {6, "gatewayCommon", "controllerStatus"},
        {6, "gatewayCommon", "gatewayDip"},
        {6, "gatewayCommon", "gatewayConfigVersion"},
        {2, "extBoardTable", "extBoardStatus"},
        {2, "extBoardTable", "extBoardSoftVer"},
        {2, "extBoardTable", "extBoardType"},
        {2, "emPhoneTable", "emPhonePanelSoftVer"},
        {2, "emPhoneTable", "emPhoneCtrlSoftVer"},
        {2, "emPhoneTable", "emPhoneFpgaSoftVer"},
        {2, "emPhoneTable", "emPhoneStatus"},
        {2, "emPhoneTable", "emPhonePowerStatus"},
        {2, "emPhoneTable", "emPhoneMode"},
        {2, "emPhoneTable", "emPhoneHookStatus"},
        {2, "emPhoneTable", "emPhoneBaseStatus"},
        {6, "gatewayTermCounters", "routerTermCnt"},
        {6, "gatewayTermCounters", "controllerTermCnt"},
        {6, "gatewayTermCounters", "serverTermCnt"},
        {2, "extBoardTermCntTable", "extBoardTermCnt"},
        {2, "e1Table", "e1Connected"},
        {2, "e1Table", "e1StatusDsc"},
        {2, "e1Table", "e1SignalLoss"},
        {2, "e1Table", "e1FrameAlignLoss"},
        {2, "e1Table", "e1NegSlipCount"},
        {2, "e1Table", "e1PosSlipCount"},
        {4, "statusGeneral", "sgBuildVersion"},
        {4, "statusGeneral", "sgFPGAVersion"},
        {4, "statusGeneral", "sgBootVersion"},
        {4, "statusGeneral", "sgBoardVersion"},
        {6, "ifTable", "ifDescr"},
        {6, "ifTable", "ifAdminStatus"},
        {6, "ifTable", "ifOperStatus"},
        // Temperature reaches the dakv agents only, unlike the rest of its
        // table.
        {2, "gatewayCommon", "temperature"},
    };
    items_.reserve(item_count);
    for (int type = 0; type < item_count; ++type)
        items_.emplace_back(static_cast<MonitoringItemType>(type), rows[type].mask, rows[type].table,
                            rows[type].column);

    pending_[0] = nullptr;
    pending_[1] = nullptr;
    for (int key : {4, 2}) {
        auto command = std::make_unique<MON::Command>();
        command->select_snmp_set();
        pending_[key] = std::move(command);
    }
    sendCall_.Bind(this, &SnmpAgentCtrl::OnDpcSend);
}

SnmpAgentCtrl::~SnmpAgentCtrl()
{
    instances_.clear();
    items_.clear();
    sendCall_.Deactivate();
}

void SnmpAgentCtrl::CreateInstances(IniFile::Section& section)
{
    for (IniFile::SubSection& occurrence : section) {
        instances_.push_back(std::make_unique<SnmpAgentInstance>());
        instances_.back()->Bind(listener_);
        instances_.back()->Activate(occurrence);
    }
}

void SnmpAgentCtrl::Send(MonitoringItemType type, std::string const& value)
{
    Send(type, 0, value);
}

void SnmpAgentCtrl::Send(MonitoringItemType type, int index, std::string const& value)
{
    auto item = std::find_if(items_.begin(), items_.end(),
                             [type](MonitoringItem const& i) { return i.type == type; });
    if (item == items_.end())
        return;
    for (auto& [key, command] : pending_) {
        if ((key & item->mask) == 0 || !command || !command->is_snmp_set())
            continue;
        MON::SnmpSetCommand entry;
        entry.set_uniq(uniq_);
        // Never reset; wraps rather than overflows on a board that runs for
        // ever.
        uniq_ = static_cast<int>(static_cast<unsigned int>(uniq_) + 1u);
        entry.set_value(value);
        MON::IniName& id = entry.get_id().select_name();
        id.set_section(item->table);
        id.set_name(item->column);
        id.set_index(index);
        command->get_snmp_set().get_commands().push_back(entry);
        sendCall_.Activate();
    }
}

void SnmpAgentCtrl::OnDpcSend()
{
    for (auto& [key, command] : pending_) {
        if (!command || !command->is_snmp_set())
            continue;
        MON::SnmpSetCommands::commands_type& list = command->get_snmp_set().get_commands();
        if (list.empty())
            continue;
        SendSetList(list);
        list.clear();
    }
    sendCall_.Deactivate();
}

void SnmpAgentCtrl::Send(MON::SnmpSetCommands const& list)
{
    SendSetList(list.get_commands());
}

void SnmpAgentCtrl::SendSetList(MON::SnmpSetCommands::commands_type const& list)
{
    // A full refresh of a busy board, or the host's lists merged over time,
    // may hold more values than a PER decoder takes in one list, or more
    // octets than one TPKT frame carries (RFC 1006): a part is halved until
    // it fits both. A single value too large for a frame still goes alone,
    // and the connection refuses it with a log line.
    std::size_t const total = list.size();
    std::size_t done = 0;
    while (done < total) {
        std::size_t count = std::min(max_set_entries, total - done);
        MON::Command part;
        MON::SnmpSetCommands::commands_type& entries = part.select_snmp_set().get_commands();
        for (std::size_t i = 0; i < count; ++i)
            entries.push_back(list[done + i]);
        while (count > 1 && EncodedSize(part) > Tpkt_protocol::max_payload) {
            count /= 2;
            entries.erase(count, entries.size());
        }
        SendToAll(part);
        done += count;
    }
}

void SnmpAgentCtrl::SendTrapsink(std::list<std::string> const& receivers)
{
    if (receivers.empty())
        return;
    MON::Command command;
    MON::SnmpTrapsinks::trapsinks_type& sinks = command.select_snmp_trapsink_set().get_trapsinks();
    for (std::string const& host : receivers) {
        MON::SnmpTrapsink sink;
        sink.set_host(host);
        sinks.push_back(sink);
    }
    SendToAll(command);
}

void SnmpAgentCtrl::SendToAll(MON::Command const& command)
{
    for (auto& instance : instances_)
        instance->Command(command);
}

void SnmpAgentCtrl::Bind(ISnmpAgentNotify* listener)
{
    listener_ = listener;
    for (auto& instance : instances_)
        instance->Bind(listener);
}

void SnmpAgentCtrl::UnBind()
{
    listener_ = nullptr;
    for (auto& instance : instances_)
        instance->UnBind();
}

MON::Command const* SnmpAgentCtrl::pending(int addressType) const
{
    auto it = pending_.find(addressType);
    return it == pending_.end() ? nullptr : it->second.get();
}
