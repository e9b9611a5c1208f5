#pragma once

// The service that watches the board. Three one-shot timers poll what the
// board shows of itself (versions, configuration version, framers,
// temperature, power supply, DIP switches, network interfaces, the
// controller process); the host's `display` reports and the trunk status
// reports of the E1 and SPI services are taken in. Everything lands in the
// state store, which mirrors it into the status files, and every change goes
// to the SNMP agents. The E1 LEDs and the power and DIP registers sit behind
// "/dev/hal". Bound last of the services.

#include "asn1/modules/LGCP.hpp"
#include "control/ctrl_service.hpp"
#include "core/dpc.hpp"
#include "core/inifile.hpp"
#include "core/singleton.hpp"
#include "core/timer.hpp"
#include "monitoring/monitoring_data_holder.hpp"
#include "monitoring/snmp_agent.hpp"

#include <cstdint>
#include <iosfwd>
#include <string>
#include <string_view>

// Readers of the text the board leaves in its files; pure, so that they are
// fuzzed apart from the files.
namespace BoardText {

// The first line of a version or temperature file as the service keeps it:
// at most 254 characters, line end included, cut at the first NUL.
std::string FirstLine(std::string_view text);
// A temperature line up to its first white space.
std::string Temperature(std::string_view line);
// The driver build of the voice driver's version line ("v 1.2 rc 7" gives
// "1.2 [rc 7]"); "none" when the line has fewer than three tokens. At most
// 126 characters of the line are read.
std::string DriverBuild(std::string_view text);
// A configuration entry "config.HHHHHHHH-TTTTTTTTTTTTTTTT": false when the
// name is not one; a part that does not parse leaves its number as it was.
bool ConfigVersion(std::string_view name, std::uint32_t& head, std::uint64_t& tail);

} // namespace BoardText

class MonitoringCtl : public CtrlSrv::Service, public ISnmpAgentNotify {
public:
    // "/dev/hal", each with a one-byte argument.
    static constexpr std::uint32_t HAL_DIP = 0xc0014205;
    static constexpr std::uint32_t HAL_POWER = 0xc0014206;
    static constexpr std::uint32_t HAL_LED = 0xc0014207;

    static constexpr unsigned first_bkg_ms = 1000;
    static constexpr unsigned bkg_ms = 60000;
    static constexpr unsigned power_ms = 2000;
    static constexpr unsigned controller_ms = 5000;

    static MonitoringCtl* instance() { return &Singleton<MonitoringCtl>::Get(); }
    // The process uses instance(); tests build their own.
    MonitoringCtl();
    ~MonitoringCtl() override;

    void Configure(IniFile::File& file);
    bool IsOpen();

    void onBkgCheckTimer(Timer*);
    void onPowerCheckTimer(Timer*);
    void onControllerCheckTimer(Timer*);

    void doVersionsCheck();
    void doConfigCheck();
    void doFramerCheck();
    void doTemperatureCheck();
    void doPowerCheck();
    void doDipCheck();
    void doNetIfCheck();
    void doControllerCheck();

    void OnConnect() override;
    void OnDisconnect() override;
    bool OnCommand(LGCP::Command const& command) override;
    void OnSignal(LGCP::Signal const& signal) override;
    void OnDisplayCMD(LGCP::DisplayParams const& params);
    void setFramerLed(LGCP::FramerInfo const& info);
    void sendPowerStatus();

    void OnSnmpAgentConnect(std::string const& name) override;
    void OnDpcSend();

    void sendSnmpDriverBuild();
    void sendSnmpSoftwareBuild();
    void sendSnmpPowerStatus();
    void sendSnmpControllerStatus();
    void sendSnmpGatewayDip();
    void sendSnmpGatewayConfigVersion();
    void sendSnmpTemperature();
    void sendSnmpStatusBuildVersion();
    void sendSnmpStatusFPGAVersion();
    void sendSnmpStatusBootVersion();
    void sendSnmpStatusBoardVersion();
    void sendSnmpBoardStatus(LGCP::BoardStatusParams const& params);
    void sendSnmpBoardStatuses();
    void sendSnmpEmPhoneStatus(LGCP::EmPhoneStatusParams const& params);
    void sendSnmpEmPhoneStatuses();
    void sendSnmpRouterTermCnt();
    void sendSnmpControllerTermCnt();
    void sendSnmpServerTermCnt();
    void sendSnmpBoardTermCnt();
    void sendSnmpFramerStatus(FramerDataHolder const& framer);
    void sendSnmpFramerStatus();
    void sendSnmpNetIfStatus(NetIfDataHolder const& netIf);
    void sendSnmpNetIfStatus();
    void sendSnmpTrapReceivers();
    void sendSnmpCommands();
    void sendSnmpCommands(MON::SnmpSetCommands const& commands);

    void PutHeader(std::ostream& os) const;

    MonitoringDataHolder& store() noexcept { return store_; }
    SnmpAgentCtrl& agents() noexcept { return agents_; }
    std::uint8_t led() const noexcept { return led_; }
    bool refresh_pending() const noexcept { return refresh_.active(); }

private:
    void SendTermCounters(LGCP::TermCounterOwner::NamedNumber owner, SnmpAgentCtrl::MonitoringItemType item);
    void WriteLed();

    int hal_ = -1;
    MonitoringDataHolder store_;
    SnmpAgentCtrl agents_;
    Timer bkgTimer_;
    Timer powerTimer_;
    Timer controllerTimer_;
    std::uint8_t led_ = 0;
    Dpc refresh_;
};
