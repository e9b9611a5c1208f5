#include "hardware/hw_tests.hpp"

#include "hardware/hw_mux.hpp"

HwTests* HwTests::instance()
{
    static HwTests one;
    return &one;
}

HwTests::HwTests() : test_(*HwMux::instance())
{}

bool HwTests::OnCommand(LGCP::Command const& command)
{
    if (command.currentSelection() != testBpc_index)
        return false;
    OnTestBpc(command.get_testBpc());
    return true;
}

namespace {

// A negative number is as far out of range as a large one.
unsigned Field(long long value)
{
    return value < 0 ? 0xFFFFFFFFu : static_cast<unsigned>(value);
}

} // namespace

void HwTests::OnTestBpc(LGCP::BpcTestParams const& params)
{
    using Result = Hardware::BpcTest::Result;
    Result r = test_.Run(Field(params.get_bus().getValue()),
                         static_cast<std::uint32_t>(params.get_seed().getValue()),
                         params.get_mode().currentSelection(), Field(params.get_timeslot_start().getValue()),
                         Field(params.get_timeslot_length().getValue()));
    switch (r) {
    case Result::Success:
        Success();
        break;
    case Result::BusError:
        Error(LGCP::ErrorCause::busError);
        break;
    case Result::InvalidParams:
        Error(LGCP::ErrorCause::invalidParams);
        break;
    }
}
