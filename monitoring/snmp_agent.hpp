#pragma once

// The link to the SNMP agent processes. The server is a TCP client of every
// agent named in the configuration section "snmpagent" and speaks MON to it:
// one PER-aligned MON::Message per TPKT frame (RFC 1006). Item values are
// collected during a loop pass into one pending snmp-set per agent address
// type and leave together on the next pass; ready lists (host snmp-set
// lists, trap receivers) go out at once. An agent is pinged after 5 s
// without sending and dropped once it has been silent for more than 30 s.
//
// An agent that is not connected misses what is sent meanwhile: nothing is
// kept for it. Its listener hears of every connect and resends everything.

#include "asn1/modules/MON.hpp"
#include "control/connector_net.hpp"
#include "core/inet.hpp"
#include "core/inifile.hpp"
#include "core/dpc.hpp"
#include "core/timer.hpp"

#include <cstdint>
#include <list>
#include <map>
#include <memory>
#include <string>
#include <vector>

class ISnmpAgentNotify {
public:
    virtual ~ISnmpAgentNotify() = default;
    // Each time an agent connection comes up (again).
    virtual void OnSnmpAgentConnect(std::string const& name) { (void)name; }
};

class SnmpAgentInstance : public Control::Notify {
public:
    // A set of bits naming the kind of agent; the configured "name" is read
    // as one (a name of the table or a number).
    enum MonitoringAddressType : int {};

    enum State { New = 0, Activated = 1, Connected = 2, ConnectionLost = 3 };

    static constexpr unsigned int ping_ms = 5000;
    static constexpr std::int32_t silence_ms = 30000;

    SnmpAgentInstance() = default;
    ~SnmpAgentInstance() override;
    SnmpAgentInstance(SnmpAgentInstance const&) = delete;
    SnmpAgentInstance& operator=(SnmpAgentInstance const&) = delete;

    // Reads "host" and "name" and starts connecting; false (and no
    // connector) when the occurrence is unusable.
    bool Activate(IniFile::SubSection& occurrence);

    void Command(MON::Command const& command);
    void Send(MON::Message const& message);

    void SetPingTimer();
    void OnPingTimer(Timer*);

    void OnConnect() override;
    void OnDisconnect() override;
    void OnMessage(char const* data, int length) override;
    void OnMessage(MON::Message const& message);
    void OnResponse(MON::Response const& response);
    void OnSignal(MON::Signal const& signal);

    void Bind(ISnmpAgentNotify* listener) { listener_ = listener; }
    void UnBind() { listener_ = nullptr; }

    Control::ConnectorNet* connector() const noexcept { return connector_.get(); }
    MonitoringAddressType address_type() const noexcept { return addressType_; }
    std::string const& name() const noexcept { return name_; }
    std::string const& header() const noexcept { return header_; }
    INet4::Addr const& address() const noexcept { return address_; }
    State state() const noexcept { return state_; }
    std::uint32_t last_receive() const noexcept { return lastReceive_; }
    bool ping_pending() const noexcept { return static_cast<bool>(pingTimer_); }

private:
    std::unique_ptr<Control::ConnectorNet> connector_;
    MonitoringAddressType addressType_{};
    std::string name_;
    std::string header_;
    INet4::Addr address_;
    State state_ = New;
    std::uint32_t lastReceive_ = 0;
    Timer pingTimer_;
    ISnmpAgentNotify* listener_ = nullptr;
};

extern IniFile::Symbol<SnmpAgentInstance::MonitoringAddressType> const monitoringAddressTypes[];

class SnmpAgentCtrl {
public:
    // The values the agents receive, by the MIB column they fill.
    enum MonitoringItemType : int {
        driverBuild = 0,
        softwareBuild = 1,
        powerStatus = 2,
        controllerStatus = 3,
        gatewayDip = 4,
        gatewayConfigVersion = 5,
        extBoardStatus = 6,
        extBoardSoftVer = 7,
        extBoardType = 8,
        emPhonePanelSoftVer = 9,
        emPhoneCtrlSoftVer = 10,
        emPhoneFpgaSoftVer = 11,
        emPhoneStatus = 12,
        emPhonePowerStatus = 13,
        emPhoneMode = 14,
        emPhoneHookStatus = 15,
        emPhoneBaseStatus = 16,
        routerTermCnt = 17,
        controllerTermCnt = 18,
        serverTermCnt = 19,
        extBoardTermCnt = 20,
        e1Connected = 21,
        e1StatusDsc = 22,
        e1SignalLoss = 23,
        e1FrameAlignLoss = 24,
        e1NegSlipCount = 25,
        e1PosSlipCount = 26,
        sgBuildVersion = 27,
        sgFPGAVersion = 28,
        sgBootVersion = 29,
        sgBoardVersion = 30,
        ifDescr = 31,
        ifAdminStatus = 32,
        ifOperStatus = 33,
        temperature = 34,
    };
    static constexpr int item_count = 35;
    // Values per snmp-set command on the wire: the most a list may hold for
    // our own decoder (asn1's MaximumArraySize).
    static constexpr std::size_t max_set_entries = 128;

    struct MonitoringItem {
        MonitoringItem(MonitoringItemType t, int m, char const* tab, char const* col)
            : type(t), mask(m), table(tab), column(col)
        {}
        MonitoringItemType type;
        // The address types whose pending command receives the item.
        int mask;
        std::string table;
        std::string column;
    };

    SnmpAgentCtrl();
    virtual ~SnmpAgentCtrl();
    SnmpAgentCtrl(SnmpAgentCtrl const&) = delete;
    SnmpAgentCtrl& operator=(SnmpAgentCtrl const&) = delete;

    // One agent per occurrence of the section, in file order; an agent whose
    // occurrence is unusable stays in the list without a connection.
    void CreateInstances(IniFile::Section& section);

    // Queues one value for the next loop pass.
    void Send(MonitoringItemType type, std::string const& value);
    void Send(MonitoringItemType type, int index, std::string const& value);
    // Ready lists go to every agent at once; an empty one sends nothing, a
    // long one leaves as several snmp-set commands.
    void Send(MON::SnmpSetCommands const& list);
    void SendTrapsink(std::list<std::string> const& receivers);

    void Bind(ISnmpAgentNotify* listener);
    void UnBind();

    void OnDpcSend();

    std::vector<std::unique_ptr<SnmpAgentInstance>> const& instances() const noexcept { return instances_; }
    std::vector<MonitoringItem> const& items() const noexcept { return items_; }
    // The command queued for an address type; null for types without one.
    MON::Command const* pending(int addressType) const;

private:
    void SendToAll(MON::Command const& command);
    // snmp-set commands of at most max_set_entries values each, each within
    // one frame, in order.
    void SendSetList(MON::SnmpSetCommands::commands_type const& list);

    std::vector<std::unique_ptr<SnmpAgentInstance>> instances_;
    std::vector<MonitoringItem> items_;
    Dpc sendCall_;
    int uniq_ = 1;
    ISnmpAgentNotify* listener_ = nullptr;
    std::map<int, std::unique_ptr<MON::Command>> pending_;
};
