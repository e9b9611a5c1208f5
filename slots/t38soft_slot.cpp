#include "slots/t38soft_slot.hpp"

#include "core/ext.hpp"
#include "core/paths.hpp"
#include "core/process.hpp"
#include "hardware/mcc_channel.hpp"

#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdlib>
#include <iostream>

#include <csignal>
#include <fcntl.h>

namespace {

// A transparent channel: the program frames the fax itself.
constexpr std::uint32_t kTransparent = 2;

} // namespace

// ---------------------------------------------------------------------------
// T38SoftSlot

T38SoftSlot::T38SoftSlot(T38SoftFactory& factory, int pid, int timeslot)
    : pid(pid), timeslot(timeslot), owner_(factory)
{
    child.Bind(this, &T38SoftSlot::OnT38Terminate);
    child.Attach(pid);
}

void T38SoftSlot::PutHeader(std::ostream& os) const
{
    Put(os);
    os << ": ";
}

void T38SoftSlot::IAfterCreate()
{
    OnChangeOutputStream(true);
    OnChangeInputStream(true);
}

bool T38SoftSlot::IBeforeDestroy()
{
    // The program's end is nobody's business once the slot is gone: the
    // watcher leaves with the slot.
    if (pid >= 1)
        ChildSpawner::instance().Signal(pid, SIGTERM);
    return true;
}

void T38SoftSlot::OnT38Terminate(int status)
{
    const int low = status & 0x7F;
    if (low == 0)
        std::clog << ext::header(this) << "t38 daemon terminated with code=" << ((status >> 8) & 0xFF)
                  << std::endl;
    else if (low != 0x7F)
        std::clog << ext::header(this) << "t38 daemon terminated by signal=" << low << std::endl;
    pid = -1;
    OnAbort(status);
}

// ---------------------------------------------------------------------------
// T38SoftFactory

T38SoftFactory* T38SoftFactory::instance()
{
    static T38SoftFactory factory;
    return &factory;
}

void T38SoftFactory::PutHeader(std::ostream& os) const
{
    os << "t38soft: ";
}

Slot* T38SoftFactory::INewSlot(LGCP::CreateParams const& params)
{
    if (!params.is_t38soft())
        return nullptr;
    LGCP::T38Soft const& p = params.get_t38soft();

    // The program reads and writes the channel as its standard input.
    auto word = [](ASN1::INTEGER const& v) { return static_cast<std::uint32_t>(v.getValue()); };
    MccRawChannel ch = AllocateMccChannel(O_RDWR, {{kTransparent, word(p.get_rx_packet_size()), 0,
                                                    word(p.get_rx_threshold()), word(p.get_tx_threshold())}});
    switch (ch.failed) {
    case MccRawChannel::Step::None:
        break;
    case MccRawChannel::Step::Open:
        std::cerr << ext::header(this) << "T38SoftFactory::INewSlot - FAIL to open </dev/mcc/ctl> ["
                  << ch.error << "]" << std::endl;
        return nullptr;
    case MccRawChannel::Step::Allocate:
        std::cerr << ext::header(this) << "T38SoftFactory::INewSlot - FAIL to ioctl MCC_ALLOCATE ["
                  << ch.error << "]" << std::endl;
        return nullptr;
    case MccRawChannel::Step::Timeslot:
        std::cerr << ext::header(this) << "T38SoftFactory::INewSlot - FAIL to ioctl MCC_TIMESLOT ["
                  << ch.error << "]" << std::endl;
        return nullptr;
    }

    ChildProgram program(RootPath(kProgram));
    program.args.insert(program.args.end(), {"--child", "--remote",
                                             std::string(p.get_dhost().get_iaddr()) + "/" +
                                                 std::to_string(p.get_dhost().get_port().getValue()) + "/" +
                                                 std::to_string(p.get_shost().get_port().getValue())});
    for (auto const& arg : p.get_args()) {
        if (program.args.size() >= kMaxArgs)
            break;
        program.args.emplace_back(arg);
    }
    program.stdinFd = ch.fd.get();
    program.failStatus = kExecFailed;

    std::clog << ext::header(this) << "args for run t38 daemon:" << std::endl;
    for (std::size_t i = 0; i < program.args.size(); ++i)
        std::clog << ext::header(this) << "arg[" << i << "]=" << program.args[i] << std::endl;

    const pid_t pid = ChildSpawner::instance().Start(program);
    if (pid < 0)
        return nullptr; // the channel closes with `ch`
    std::clog << ext::header(this) << "t38 daemon[" << pid << "] successfully started" << std::endl;
    // The child holds the channel from here on; the server's copy closes
    // with `ch`.
    return new T38SoftSlot(*this, pid, ch.timeslot);
}

void T38SoftFactory::Query(LGCP::Resources& resources)
{
    resources.set_t38_instances(QueryNumOfInstances(queryBoundMs));
}

int T38SoftFactory::QueryNumOfInstances(unsigned int boundMs)
{
    ChildProgram program(RootPath(kProgram));
    program.args.emplace_back("--num-of-instances");
    program.failStatus = kExecFailed;
    const ChildLine out = ReadChildLine(program, kQueryLine, boundMs);
    if (!out.started) {
        std::clog << "t38 daemon not found!" << std::endl;
        return 0;
    }
    if (!out.line) {
        std::clog << "t38: can't detect T38 resources" << std::endl;
        return 0;
    }
    return ParseNumOfInstances(out.text);
}

int T38SoftFactory::ParseNumOfInstances(std::string const& line)
{
    errno = 0;
    // strtoll: a long of the board's 32 bits and the build machine's 64
    // must give the same answer.
    const long long value = std::strtoll(line.c_str(), nullptr, 10);
    if (errno == ERANGE || value > INT_MAX || value < INT_MIN)
        return 0;
    return static_cast<int>(value);
}
