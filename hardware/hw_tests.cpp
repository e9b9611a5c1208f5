#include "hardware/hw_tests.hpp"

#include "hardware/hw_mux.hpp"

#include <optional>

HwTests::HwTests() : test_(HwMux::instance())
{}

bool HwTests::OnCommand(LGCP::Command const& command)
{
    if (!command.is_testBpc())
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

std::optional<Hardware::BpcTest::Mode> ModeOf(LGCP::BpcTestMode const& mode)
{
    using Mode = Hardware::BpcTest::Mode;
    if (mode.is_read())
        return Mode::Read;
    if (mode.is_write())
        return Mode::Write;
    if (mode.is_disconnect())
        return Mode::Disconnect;
    return std::nullopt;
}

} // namespace

void HwTests::OnTestBpc(LGCP::BpcTestParams const& params)
{
    using Result = Hardware::BpcTest::Result;
    const auto mode = ModeOf(params.get_mode());
    if (!mode) {
        Error(LGCP::ErrorCause::invalidParams);
        return;
    }
    Result r = test_.Run(
        Field(params.get_bus().getValue()), static_cast<std::uint32_t>(params.get_seed().getValue()), *mode,
        Field(params.get_timeslot_start().getValue()), Field(params.get_timeslot_length().getValue()));
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
