#pragma once

// The in-process fixture of every slot test: a healthy simulated board, the
// frozen loop clock, a Host (slots_host.hpp) with `Slots` bound to its own
// server, the map factory, and test-only slot kinds: a chosen connection
// priority, a postponed destroy, and a journal of the hooks that ran.
//
// Factories that a test builds must be declared before the Host goes, or
// be fixture members: slots die with the Host, in TearDown.

#include "mcc_voice_params.hpp"
#include "sim/board_fixture.hpp"
#include "slots/connection.hpp"
#include "slots/map_slot.hpp"
#include "slots_host.hpp"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

namespace SlotsTest {

class TestFactory;

// What a TestSlot does, chosen before it is made.
struct TestConfig {
    int priority = 0;
    bool postpone = false;  // IBeforeDestroy() false: Release() ends it later
    bool output = true;     // IOnOutputStream()
    bool input = true;      // IOnInputStream()
    bool operations = true; // IActivate, IDeactivate, IUserData, Ioctl
};

// Made by TestFactory from an `ext` request: transmits on `transmitter`,
// receives on `receiver`. Every hook it runs goes to the factory's journal
// as "<label> <hook>". The translators are public here.
class TestSlot : public Slot {
public:
    TestSlot(TestFactory& factory, int tx, int rx, TestConfig const& config);
    ~TestSlot() override;

    int GetConnectionPriority() override { return config.priority; }
    void IAfterCreate() override { Note("IAfterCreate"); }
    bool IBeforeDestroy() override
    {
        Note("IBeforeDestroy");
        return !config.postpone;
    }
    bool IActivate(TERM::TermActivateParams const&) override { return Note("IActivate", config.operations); }
    bool IDeactivate() override { return Note("IDeactivate", config.operations); }
    bool IUserData(std::vector<char> const&) override { return Note("IUserData", config.operations); }
    bool Ioctl(LGCP::IoctlParams const&) override { return Note("Ioctl", config.operations); }
    bool IHwConnectTransmitter(Slot& l) override
    {
        return Note("IHwConnectTransmitter", MuxConnect(*this, l));
    }
    bool IHwConnectReceiver(Slot& s) override { return Note("IHwConnectReceiver", MuxConnect(s, *this)); }
    bool IHwDisconnectTransmitter(Slot& l) override
    {
        return Note("IHwDisconnectTransmitter", MuxDisconnect(l));
    }
    bool IHwDisconnectReceiver(Slot&) override { return Note("IHwDisconnectReceiver", MuxDisconnect(*this)); }
    bool IOnOutputStream() override { return Note("IOnOutputStream", config.output); }
    bool IOnInputStream() override { return Note("IOnInputStream", config.input); }
    void IOnOutputRelease() override { Note("IOnOutputRelease"); }
    void IOnInputRelease() override { Note("IOnInputRelease"); }
    int IGetTransmitChannel() override { return tx; }
    int IGetReceiveChannel() override { return rx; }
    const char* GetName() const override { return "test"; }

    // Ends a postponed destroy (the slot is deleted).
    void Release() { on_release(); }

    using Slot::processBSSEvent;
    using Slot::processFlagsEvent;
    using Slot::processRtpEvent;
    using Slot::processSDEvent;
    using Slot::processTonecEvent;
    using Slot::processToneFltEvent;
    using Slot::processToneGenEvent;
    using Slot::processVADEvent;

    int tx;
    int rx;
    TestConfig config;

private:
    bool Note(char const* hook, bool result = true);
    std::vector<std::string>* journal_;
};

// Takes `ext` requests (unless `refuse`); journals its Query and SelfSignal
// calls as "<name> Query" and "<name> SelfSignal" into `journal` (its own
// unless pointed elsewhere), which its slots share.
class TestFactory : public SlotFactory {
public:
    explicit TestFactory(char const* name = "Test") : name(name) {}

    char const* GetName() const override { return name; }
    Slot* INewSlot(LGCP::CreateParams const& params) override
    {
        (*journal).push_back(std::string(name) + " INewSlot");
        if (refuse || !params.is_ext())
            return nullptr;
        LGCP::ExtParams const& p = params.get_ext();
        return new TestSlot(*this, p.get_transmitter().getValue(), p.get_receiver().getValue(), config);
    }
    void Query(LGCP::Resources&) override { (*journal).push_back(std::string(name) + " Query"); }
    void SelfSignal(LGCP::Signal const&) override { (*journal).push_back(std::string(name) + " SelfSignal"); }

    char const* name;
    TestConfig config; // for the slots made from now on
    bool refuse = false;
    std::vector<std::string> own;
    std::vector<std::string>* journal = &own;
};

inline TestSlot::TestSlot(TestFactory& factory, int tx, int rx, TestConfig const& config)
    : tx(tx), rx(rx), config(config), journal_(factory.journal)
{}

inline TestSlot::~TestSlot()
{
    Note("~");
}

inline bool TestSlot::Note(char const* hook, bool result)
{
    journal_->push_back(Label() + " " + hook);
    return result;
}

// `ext` create parameters: the test kind on these switch channels.
inline LGCP::CreateParams TestKind(int transmitter, int receiver)
{
    return Ext(transmitter, receiver);
}

class Fixture : public SimTest::BoardTest {
protected:
    void SetUp() override
    {
        SimTest::BoardTest::SetUp();
        Mux::test::freeze();
        host_ = std::make_unique<Host>();
        board().ClearLog();
    }
    void TearDown() override
    {
        host_.reset();
        Mux::test::thaw();
        SimTest::BoardTest::TearDown();
    }

    Host& host() { return *host_; }
    Slot* slot(unsigned int n) { return host_->slots().Get(n); }
    TestSlot* test_slot(unsigned int n) { return dynamic_cast<TestSlot*>(slot(n)); }
    // What the switch's simulated driver has on output `n` ("" when idle),
    // as the control language prints it.
    std::string Switch(int n)
    {
        std::string text = board().Command("/dev/hal switch " + std::to_string(n) + " " + std::to_string(n));
        return text.substr(0, text.find('\n'));
    }

    MapFactory map_;
    TestFactory test_; // the head of the chain: takes `ext`

private:
    std::unique_ptr<Host> host_;
};

} // namespace SlotsTest
