#pragma once

#include <string>

namespace zrq406 {

class CLoadUISetting;

// The words of the language file that the device tables hold, read afresh at the start of every scan.
struct ValueTexts {
    std::string deviceName;     // DeviceName/Value: base of default device names
    std::string locationLocal;  // Location/Value1
    std::string locationRemote; // Location/Value2
    std::string qualityFair;    // Quality/Value1 (PHY rate 50..80)
    std::string qualityGood;    // Quality/Value2 (above 80, and the local device)
    std::string qualityPoor;    // Quality/Value3 (below 50)
    std::string ledOn;          // LEDStatus/Value1
    std::string ledOff;         // LEDStatus/Value2
    std::string qualityMissing; // Quality/Value4 (a listed station that did not answer)

    // Reads the texts from the language file; a missing one reads as empty (after the loader's message).
    static ValueTexts load(CLoadUISetting& settings);
};

} // namespace zrq406
