#pragma once

// Everything the monitoring service has learnt about the board, mirrored
// into small text files under "/var/monitoring/" that other programs on the
// board read without speaking any protocol. Each setter stores its value,
// writes the value's status file where it has one, and tells whether the
// value changed; the store itself never sends anything.
//
// The files are truncated and rewritten in place (readers may hold them open
// or watch their inode), never replaced. Numbers are rendered for SNMP with
// the standard library's std::to_string.

#include "asn1/modules/HSP.hpp"
#include "asn1/modules/LGCP.hpp"
#include "asn1/modules/MON.hpp"
#include "asn1/modules/TERM.hpp"
#include "core/inet.hpp"
#include "monitoring/framer_data_holder.hpp"
#include "monitoring/netif_data_holder.hpp"

#include <cstdint>
#include <cstdio>
#include <list>
#include <string>

class MonitoringDataHolder {
public:
    MonitoringDataHolder();
    ~MonitoringDataHolder();
    MonitoringDataHolder(const MonitoringDataHolder&) = delete;
    MonitoringDataHolder& operator=(const MonitoringDataHolder&) = delete;

    using TrapReceivers = LGCP::DisplayParams::snmpTrapReceivers_type;

    bool setDipValue(int value);
    bool setPowerStatus(const LGCP::POWERStatus& status);
    bool setConfigVersion(std::uint32_t head, std::uint64_t tail);
    bool setTemperature(std::string text);
    bool setBuildVersion(std::string text);
    bool setFPGAVersion(std::string text);
    bool setBootVersion(std::string text);
    bool setBoardVersion(std::string text);
    void setBoardStatus(const LGCP::BoardInfo& info);
    void setEmPhoneInfo(const LGCP::EmPhoneInfo& info);
    void setTermCounter(const LGCP::TermCounter& counter);
    // True only when the entry changed (or is new) and is the board's own.
    bool setControllerStatus(const LGCP::ControllerInfo& info);
    void setSnmpTrapReceivers(const TrapReceivers& receivers);
    void setSnmpCommands(const MON::SnmpSetCommands& commands);
    void setDisplayStatus(const LGCP::DisplayParams& params);

    // The file half: one status file, the directories, the clearing.
    union SaveStatusArg {
        const void* value;
        int counter;
    };
    using Saver = void (MonitoringDataHolder::*)(std::FILE*, const SaveStatusArg*);

    void SaveStatusToFile(const char* path, Saver saver, const SaveStatusArg* arg);
    void CheckForMonDir(const char* path);
    void CheckForMonControllerDir(const INet4::Addr& addr);
    void ClearMonitorFiles();
    // The controlling host went away: its board reports are void.
    void ClearControllerFiles();

    INet4::Addr ownAddress;
    HSP::ControllerStatus ownControllerStatus;
    std::int32_t controllerPid = -1;
    std::list<LGCP::ControllerInfo> controllers;
    LGCP::POWERStatus powerStatus;
    std::list<LGCP::BoardStatusParams> boards;
    std::list<LGCP::EmPhoneStatusParams> phones;
    std::list<LGCP::TermCounter> termCounters;
    std::list<std::string> trapReceivers;
    std::int32_t dipValue = -1;
    std::uint64_t configVersionTail = ~std::uint64_t{0};
    std::uint32_t configVersionHead = ~std::uint32_t{0};
    std::string temperature;
    std::string buildVersion;
    std::string fpgaVersion;
    std::string bootVersion;
    std::string boardVersion;
    MON::SnmpSetCommands snmpCommands;
    std::string snmpValue;
    std::list<FramerDataHolder> framers;
    std::list<NetIfDataHolder> netIfs;

private:
    // A path below "/var/monitoring/" (and GW_ROOT).
    static std::string MonPath(const std::string& relative);

    void DipStatusSaver(std::FILE* file, const SaveStatusArg* arg);
    void PowerStatusSaver(std::FILE* file, const SaveStatusArg* arg);
    void ConfigVersionSaver(std::FILE* file, const SaveStatusArg* arg);
    void BoardStatusSaver(std::FILE* file, const SaveStatusArg* arg);
    void PhoneStatusSaver(std::FILE* file, const SaveStatusArg* arg);
    void TermCounterSaver(std::FILE* file, const SaveStatusArg* arg);
    void ControllerStatusSaver(std::FILE* file, const SaveStatusArg* arg);
    void StringParamSaver(std::FILE* file, const SaveStatusArg* arg);

    void SaveValue(const std::string& relative, Saver saver, const void* value);
    void DiscoverFramers();
    void DiscoverInterfaces();
    void LinkOwnControllerDir(const std::string& dir);
};

// The address text of a host, without its port.
std::string host2str(const TERM::HostAddress& host);
