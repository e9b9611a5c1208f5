// The framer driver's status text: any bytes, as read from the driver file.
//
// Only the five line fields may change (never the framer's number or path),
// and the same bytes read a second time report no change.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "monitoring/framer_data_holder.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::vector<unsigned char> text(data, data + size);
    FramerDataHolder framer(3, "/proc/driver/hdlc/peb22554/2");
    framer.setFramerStatus(text);
    const FramerDataHolder first = framer;
    if (framer.setFramerStatus(text))
        std::abort();
    if (framer.number != 3 || framer.path != "/proc/driver/hdlc/peb22554/2")
        std::abort();
    if (framer.stateText != first.stateText || framer.connected != first.connected ||
        framer.lossOfSignal != first.lossOfSignal || framer.lossOfFrame != first.lossOfFrame ||
        framer.negativeSlips != first.negativeSlips || framer.positiveSlips != first.positiveSlips)
        std::abort();
    return 0;
}
