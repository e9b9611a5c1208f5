#pragma once

// The running state of one kernel network interface, smoothed over the last
// three samples, as the SNMP agents see it in their interface table.

#include <cstdint>
#include <deque>
#include <string>

// Where interface names and flags come from: the kernel, through a packet
// socket, by default. Tests install a stand-in with Set().
class NetIfSource {
public:
    virtual ~NetIfSource();

    // Opens the query socket; false, with errno set, when it cannot be opened.
    virtual bool Open();
    virtual void Close();
    // The name of interface `index` (SIOCGIFNAME); false, with errno set,
    // when the kernel has none.
    virtual bool Name(int index, std::string& name);
    // The flags of interface `name` (SIOCGIFFLAGS); false, with errno set.
    virtual bool Flags(const std::string& name, int& flags);

    // The source in use; Set(nullptr) brings back the kernel's.
    static NetIfSource& Get();
    static void Set(NetIfSource* source);

private:
    int fd_ = -1;
};

class NetIfDataHolder {
public:
    NetIfDataHolder(int ifIndex, std::string name);

    // Samples the interface's running flag now; true when upState changed.
    bool updateNetIf();
    // Adds one sample (non-zero: running); true when upState changed.
    bool setNetIfStatus(int running);

    std::int32_t upState = -1;
    std::int32_t operStatus = 2;
    std::int32_t adminStatus = 2;
    std::deque<std::int32_t> samples;
    std::int32_t ifIndex;
    std::string name;
};
