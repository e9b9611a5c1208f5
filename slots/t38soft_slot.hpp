#pragma once

// The software T.38 fax slot: a raw MCC channel handed to the board's T.38
// program, which runs as a child of the server with the channel as its
// standard input and the remote peer on its command line. The server keeps
// no descriptor of the channel: it lives as long as the program does. The
// program's end makes the slot abort with the raw wait status; a destroy
// sends it SIGTERM and does not wait.
//
// The host's strings and the remote address are single arguments of the
// program: no shell ever reads them.

#include "core/child_wait.hpp"
#include "slots/slot.hpp"
#include "slots/slot_factory.hpp"

#include <cstddef>
#include <iosfwd>
#include <string>

class T38SoftFactory;

class T38SoftSlot : public Slot {
public:
    T38SoftSlot(T38SoftFactory& factory, int pid, int timeslot);

    void IAfterCreate() override;
    bool IBeforeDestroy() override;
    bool IOnOutputStream() override { return true; }
    bool IOnInputStream() override { return true; }
    int IGetTransmitChannel() override { return timeslot; }
    int IGetReceiveChannel() override { return timeslot; }
    const char* GetName() const override { return "t38 soft"; }

    T38SoftFactory& GetSlotFactory() const { return owner_; }
    void PutHeader(std::ostream& os) const;
    // The program's exit handler (raw wait status).
    void OnT38Terminate(int status);

    // The program's pid; -1 once it has ended.
    int pid;
    const int timeslot;

private:
    ChildWait child;
    T38SoftFactory& owner_;
};

class T38SoftFactory : public SlotFactory {
public:
    // The program, below GW_ROOT.
    static constexpr const char* kProgram = "/usr/local/sbin/t38";
    // Entries of the program's argument list: the program, "--child",
    // "--remote" and the address leave room for 27 of the host's strings.
    static constexpr std::size_t kMaxArgs = 31;
    // The instance query holds the loop up: a program that starts slowly
    // on the board is still counted, a hung one is cut off.
    static constexpr unsigned int kQueryBoundMs = 5000;
    // Characters of the query's first line that are read.
    static constexpr std::size_t kQueryLine = 31;
    // A failed exec ends the child so; its parent sees the low byte, 237.
    static constexpr int kExecFailed = 1005;

    static T38SoftFactory* instance();

    const char* GetName() const override { return "T.38 soft"; }
    Slot* INewSlot(LGCP::CreateParams const& params) override;
    void Query(LGCP::Resources& resources) override;

    // How many sessions the program can run: its first line of
    // "--num-of-instances" as a decimal number; 0 when it cannot be run,
    // says nothing within `boundMs`, or says no number.
    static int QueryNumOfInstances(unsigned int boundMs = kQueryBoundMs);
    // The count in one line of the program, as strtol reads it; 0 for a
    // value outside 32 bits.
    static int ParseNumOfInstances(std::string const& line);

    void PutHeader(std::ostream& os) const;

    // Tests shorten the instance query's wait.
    unsigned int queryBoundMs = kQueryBoundMs;
};
