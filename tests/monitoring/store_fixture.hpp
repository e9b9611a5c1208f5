#pragma once

// A state store's surroundings: a fresh GW_ROOT holding "var/", the board's
// private addresses and network interfaces from the test, the monitoring
// trace switch on, and the log stream captured.

#include "core/traces.hpp"
#include "monitoring/monitoring_data_holder.hpp"
#include "tests/core/core_helper.hpp"
#include "tests/sim/board_fixture.hpp"

#include <gtest/gtest.h>

#include <cerrno>
#include <iostream>
#include <list>
#include <map>
#include <memory>
#include <string>
#include <utility>

namespace MonTest {

// Interfaces by index, with their flags; a failing socket or request on
// demand.
class FakeNetIfs : public NetIfSource {
public:
    struct If {
        std::string name;
        int flags;
    };
    std::map<int, If> interfaces;
    int open_error = 0;
    int request_error = 0;
    int opens = 0;
    int closes = 0;

    void Add(int index, const std::string& name, bool running = true)
    {
        interfaces[index] = {name, running ? 0x41 : 0x1};
    }
    void SetRunning(int index, bool running) { interfaces[index].flags = running ? 0x41 : 0x1; }

    bool Open() override
    {
        ++opens;
        errno = open_error;
        return open_error == 0;
    }
    void Close() override { ++closes; }
    bool Name(int index, std::string& name) override
    {
        auto it = interfaces.find(index);
        if (request_error != 0 || it == interfaces.end()) {
            errno = request_error != 0 ? request_error : ENODEV;
            return false;
        }
        name = it->second.name;
        return true;
    }
    bool Flags(const std::string& name, int& flags) override
    {
        for (auto& [index, i] : interfaces)
            if (i.name == name && request_error == 0) {
                flags = i.flags;
                return true;
            }
        errno = request_error != 0 ? request_error : ENODEV;
        return false;
    }
};

class StoreTest : public ::testing::Test {
protected:
    StoreTest()
    {
        root.mkdirs("var");
        NetIfSource::Set(&netifs);
        SetAddresses({});
        traces[TraceCtl::monitoring_internal] = true;
    }
    ~StoreTest() override
    {
        store.reset();
        traces.Reset();
        NetIfSource::Set(nullptr);
        Net::set_private_address_source({});
    }

    void SetAddresses(std::list<std::string> addresses)
    {
        Net::set_private_address_source([addresses](std::list<INet4::Addr>& out) {
            for (const std::string& text : addresses) {
                INet4::Addr a;
                a.Assign(text);
                out.push_back(a);
            }
            return static_cast<int>(addresses.size());
        });
    }

    MonitoringDataHolder& Build()
    {
        store = std::make_unique<MonitoringDataHolder>();
        return *store;
    }

    // Below "var/monitoring/".
    std::string Read(const std::string& relative) const { return root.read("var/monitoring/" + relative); }
    bool Exists(const std::string& relative) const { return root.exists("var/monitoring/" + relative); }

    TempRoot root;
    FakeNetIfs netifs;
    SimTest::Capture log{std::clog};
    std::unique_ptr<MonitoringDataHolder> store;
};

} // namespace MonTest
