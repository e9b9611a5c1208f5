#pragma once

// The line state of one E1 framer, as the SNMP agents see it in their E1
// table: taken from the framer driver's status text on the background poll,
// or from the E1 service's trunk status reports.

#include "asn1/modules/ACP.hpp"

#include <cstdint>
#include <string>
#include <vector>

class FramerDataHolder {
public:
    FramerDataHolder(int number, std::string path);

    // The driver's status text, exactly the bytes read. Returns true when any
    // of the five line fields changed.
    bool setFramerStatus(const std::vector<unsigned char>& text);
    // A trunk status report; true when the state text changed.
    bool setFramerStatus(ACP::TrunkState::NamedNumber state);

    bool connected = false;
    std::string stateText = "absent";
    bool lossOfSignal = true;
    bool lossOfFrame = true;
    std::int32_t negativeSlips = 0;
    std::int32_t positiveSlips = 0;
    std::int32_t number;
    std::string path;

private:
    bool SetStateText(const std::string& text, bool carrier);
};
