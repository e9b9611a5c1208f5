#include "monitoring/framer_data_holder.hpp"

#include <limits>
#include <string_view>
#include <utility>

namespace {

// Each label is padded to 24 characters before ": ", as the driver prints it.
constexpr std::string_view kState = "Current state           : ";
constexpr std::string_view kLossOfSignal = "Loss of Signal          : ";
constexpr std::string_view kLossOfFrame = "Loss of Frame Alignment : ";
constexpr std::string_view kSlipNegative = "Receive Slip Negative   : ";
constexpr std::string_view kSlipPositive = "Receive Slip Positive   : ";

constexpr const char* kNoCarrier = "No Carrier";

// A decimal count as strtol reads it (white space, a sign, digits up to the
// first other character; none gives 0), saturated at the 32-bit limits so
// that the board, whose long has 32 bits, and this host read the same text
// alike.
std::int32_t ReadCount(std::string_view text)
{
    std::size_t i = 0;
    while (i < text.size() && (text[i] == ' ' || (text[i] >= '\t' && text[i] <= '\r')))
        ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
        negative = text[i] == '-';
        ++i;
    }
    const std::int64_t limit = negative ? -std::int64_t{std::numeric_limits<std::int32_t>::min()}
                                        : std::int64_t{std::numeric_limits<std::int32_t>::max()};
    std::int64_t value = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
        value = value * 10 + (text[i] - '0');
        if (value > limit)
            value = limit;
    }
    return static_cast<std::int32_t>(negative ? -value : value);
}

// The text the trunk reports stand for.
const char* StateText(ACP::TrunkState::NamedNumber state)
{
    switch (state) {
    case ACP::TrunkState::normal:
        return "Synchronized";
    case ACP::TrunkState::lossBF:
        return "FAS Loss";
    case ACP::TrunkState::lossCarrier:
        return kNoCarrier;
    case ACP::TrunkState::ais:
        return "AIS";
    case ACP::TrunkState::rai:
        return "RAI";
    default:
        return "Unknown";
    }
}

} // namespace

FramerDataHolder::FramerDataHolder(int number_, std::string path_) : number(number_), path(std::move(path_))
{}

bool FramerDataHolder::SetStateText(const std::string& text, bool carrier)
{
    if (text == stateText)
        return false;
    stateText = text;
    connected = carrier;
    return true;
}

bool FramerDataHolder::setFramerStatus(const std::vector<unsigned char>& bytes)
{
    const std::string_view text(reinterpret_cast<const char*>(bytes.data()), bytes.size());
    // The last line that carries a key decides that key's field: only the
    // final values are compared with the stored ones, so the same text read
    // twice never reports a change.
    std::string_view values[5];
    bool found[5] = {};
    const std::string_view keys[5] = {kState, kLossOfSignal, kLossOfFrame, kSlipNegative, kSlipPositive};
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find('\n', start);
        if (end == std::string_view::npos)
            end = text.size();
        const std::string_view line = text.substr(start, end - start);
        for (int k = 0; k < 5; ++k) {
            const std::size_t at = line.find(keys[k]);
            if (at == std::string_view::npos)
                continue;
            // Everything to the end of the line, a carriage return included.
            values[k] = line.substr(at + keys[k].size());
            found[k] = true;
        }
        start = end + 1;
    }

    bool changed = false;
    if (found[0]) {
        const std::string state(values[0]);
        changed |= SetStateText(state, state != kNoCarrier);
    }
    const auto flag = [&](int k, bool& field) {
        if (!found[k])
            return;
        const bool value = values[k] == "yes";
        changed |= value != field;
        field = value;
    };
    flag(1, lossOfSignal);
    flag(2, lossOfFrame);
    const auto count = [&](int k, std::int32_t& field) {
        if (!found[k])
            return;
        const std::int32_t value = ReadCount(values[k]);
        changed |= value != field;
        field = value;
    };
    count(3, negativeSlips);
    count(4, positiveSlips);
    return changed;
}

bool FramerDataHolder::setFramerStatus(ACP::TrunkState::NamedNumber state)
{
    return SetStateText(StateText(state), state != ACP::TrunkState::lossCarrier);
}
