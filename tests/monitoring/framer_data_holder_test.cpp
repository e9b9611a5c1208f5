#include "monitoring/framer_data_holder.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

std::vector<unsigned char> Bytes(const std::string& text)
{
    return std::vector<unsigned char>(text.begin(), text.end());
}

const std::string kState = "Current state           : ";
const std::string kLos = "Loss of Signal          : ";
const std::string kLof = "Loss of Frame Alignment : ";
const std::string kNeg = "Receive Slip Negative   : ";
const std::string kPos = "Receive Slip Positive   : ";

FramerDataHolder Fresh()
{
    return FramerDataHolder(2, "/proc/driver/hdlc/peb22554/1");
}

} // namespace

TEST(FramerText, StartsAbsentAndTakesEveryKeyOfADriverText)
{
    FramerDataHolder f = Fresh();
    EXPECT_EQ("absent", f.stateText);
    EXPECT_FALSE(f.connected);
    EXPECT_TRUE(f.lossOfSignal);
    EXPECT_TRUE(f.lossOfFrame);

    const std::string text = "PEB 22554 framer 1\n" + kState + "Synchronized\n" + kLos + "no\n" + kLof +
                             "no\n" + kNeg + "  12 frames\n" + kPos + "-3";
    EXPECT_TRUE(f.setFramerStatus(Bytes(text)));
    EXPECT_EQ("Synchronized", f.stateText);
    EXPECT_TRUE(f.connected);
    EXPECT_FALSE(f.lossOfSignal);
    EXPECT_FALSE(f.lossOfFrame);
    EXPECT_EQ(12, f.negativeSlips) << "white space skipped, reading stops at the first non-digit";
    EXPECT_EQ(-3, f.positiveSlips) << "the last line needs no line feed";
    EXPECT_FALSE(f.setFramerStatus(Bytes(text))) << "the same text again";
    EXPECT_EQ(2, f.number);
    EXPECT_EQ("/proc/driver/hdlc/peb22554/1", f.path);

    EXPECT_FALSE(f.setFramerStatus(Bytes("nothing the framer knows\n"))) << "no key changes nothing";
    EXPECT_TRUE(f.setFramerStatus(Bytes(kNeg + "none")));
    EXPECT_EQ(0, f.negativeSlips) << "no digits give 0";
}

TEST(FramerText, NoCarrierAndTheExactValues)
{
    FramerDataHolder f = Fresh();
    f.setFramerStatus(ACP::TrunkState::normal);
    EXPECT_TRUE(f.setFramerStatus(Bytes(kState + "No Carrier\n")));
    EXPECT_EQ("No Carrier", f.stateText);
    EXPECT_FALSE(f.connected);
    EXPECT_FALSE(f.setFramerStatus(Bytes(kState + "No Carrier\n")));

    // A key may sit anywhere in its line; the value runs to the line end,
    // a carriage return included.
    EXPECT_TRUE(f.setFramerStatus(Bytes("  > " + kState + "No Carrier\r\n")));
    EXPECT_EQ("No Carrier\r", f.stateText);
    EXPECT_TRUE(f.connected) << "only the exact text means no carrier";

    EXPECT_FALSE(f.setFramerStatus(Bytes(kLos + "yes"))) << "loss of signal was already set";
    EXPECT_TRUE(f.setFramerStatus(Bytes(kLos + "YES")));
    EXPECT_FALSE(f.lossOfSignal) << "the word in capitals is not \"yes\"";
    EXPECT_TRUE(f.setFramerStatus(Bytes(kLos + "yes")));
    EXPECT_TRUE(f.lossOfSignal);
    EXPECT_TRUE(f.setFramerStatus(Bytes(kLos + "yes\r\n")));
    EXPECT_FALSE(f.lossOfSignal) << "\"yes\" followed by a carriage return";
}

TEST(FramerText, TheLastOccurrenceWinsAndDecidesTheChange)
{
    FramerDataHolder f = Fresh();
    const std::string text =
        kState + "FAS Loss\n" + kLof + "no\n" + kState + "Synchronized\n" + kLof + "yes\n";
    EXPECT_TRUE(f.setFramerStatus(Bytes(text)));
    EXPECT_EQ("Synchronized", f.stateText);
    EXPECT_TRUE(f.lossOfFrame);
    // Only the final values count: the intermediate "FAS Loss" and "no" do
    // not make the same text report a change.
    EXPECT_FALSE(f.setFramerStatus(Bytes(text)));
}

TEST(FramerText, SlipCountsSaturateAtThe32BitLimits)
{
    FramerDataHolder f = Fresh();
    EXPECT_TRUE(f.setFramerStatus(Bytes(kNeg + "99999999999999999999\n" + kPos + "-2147483649")));
    EXPECT_EQ(2147483647, f.negativeSlips);
    EXPECT_EQ(-2147483647 - 1, f.positiveSlips);
    EXPECT_TRUE(f.setFramerStatus(Bytes(kNeg + "2147483647\n" + kPos + "+2147483648")));
    EXPECT_EQ(2147483647, f.negativeSlips);
    EXPECT_EQ(2147483647, f.positiveSlips);
}

TEST(FramerText, ZeroBytesAreTextAndEmptyTextChangesNothing)
{
    FramerDataHolder f = Fresh();
    EXPECT_FALSE(f.setFramerStatus(std::vector<unsigned char>{}));
    std::vector<unsigned char> bytes = Bytes(kState + "AIS");
    bytes.push_back(0);
    bytes.push_back('x');
    EXPECT_TRUE(f.setFramerStatus(bytes));
    EXPECT_EQ(std::string("AIS\0x", 5), f.stateText);
}

TEST(FramerTrunkState, StatesMapToTheirTexts)
{
    const std::pair<ACP::TrunkState::NamedNumber, const char*> table[] = {
        {ACP::TrunkState::normal, "Synchronized"},
        {ACP::TrunkState::lossBF, "FAS Loss"},
        {ACP::TrunkState::lossCarrier, "No Carrier"},
        {ACP::TrunkState::ais, "AIS"},
        {ACP::TrunkState::rai, "RAI"},
        {ACP::TrunkState::unknown, "Unknown"},
        {ACP::TrunkState::disabled, "Unknown"},
        {static_cast<ACP::TrunkState::NamedNumber>(7), "Unknown"},
    };
    for (const auto& [state, text] : table) {
        FramerDataHolder f = Fresh();
        EXPECT_TRUE(f.setFramerStatus(state)) << text;
        EXPECT_EQ(text, f.stateText);
        EXPECT_EQ(state != ACP::TrunkState::lossCarrier, f.connected) << text;
        EXPECT_TRUE(f.lossOfSignal) << "loss flags untouched";
        EXPECT_TRUE(f.lossOfFrame);
    }

    FramerDataHolder f = Fresh();
    EXPECT_TRUE(f.setFramerStatus(ACP::TrunkState::lossCarrier));
    EXPECT_FALSE(f.setFramerStatus(ACP::TrunkState::lossCarrier)) << "the same report changes once";
    EXPECT_FALSE(f.connected);
    EXPECT_TRUE(f.setFramerStatus(ACP::TrunkState::disabled));
    EXPECT_TRUE(f.connected);
    EXPECT_FALSE(f.setFramerStatus(ACP::TrunkState::unknown)) << "same text \"Unknown\"";
}
