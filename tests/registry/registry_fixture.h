#pragma once

#include "registry/device_registry.h"

#include <atomic>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <iterator>
#include <string>
#include <unistd.h>
#include <vector>

namespace zrq406::test {

// One record of "devices.dat", written out by hand from its layout.
struct StoredDevice {
    std::string mac;
    std::string name;
    std::string password;
    std::string led;
    std::string lastSeen;
    std::string firmware;
    std::int32_t phyRate = 0;
    std::string location;
};

inline void putText(std::vector<std::uint8_t>& bytes, std::size_t at, const std::string& text) {
    std::memcpy(bytes.data() + at, text.data(), text.size());
}

inline void putInt32(std::vector<std::uint8_t>& bytes, std::size_t at, std::int32_t signedValue) {
    const auto value = static_cast<std::uint32_t>(signedValue);
    for (int i = 0; i < 4; ++i)
        bytes[at + static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(value >> (8 * i));
}

inline std::vector<std::uint8_t> recordBytes(const StoredDevice& device) {
    std::vector<std::uint8_t> bytes(296, 0);
    putText(bytes, 4, device.mac);
    putText(bytes, 28, device.name);
    putText(bytes, 100, device.password);
    putText(bytes, 125, device.led);
    putText(bytes, 141, device.lastSeen);
    putText(bytes, 191, device.firmware);
    putInt32(bytes, 256, device.phyRate);
    putText(bytes, 264, device.location);
    return bytes;
}

// A whole file: the stored count, then the records as given (which need not agree with the count).
inline std::vector<std::uint8_t> fileBytes(std::int32_t storedCount, const std::vector<StoredDevice>& devices) {
    std::vector<std::uint8_t> bytes(4, 0);
    putInt32(bytes, 0, storedCount);
    for (const StoredDevice& device : devices) {
        const auto record = recordBytes(device);
        bytes.insert(bytes.end(), record.begin(), record.end());
    }
    return bytes;
}

inline StoredDevice numberedDevice(int i) {
    char mac[18];
    std::snprintf(mac, sizeof mac, "00:b0:52:00:%02x:%02x", (i >> 8) & 0xFF, i & 0xFF);
    return {mac,
            "Device #" + std::to_string(i),
            "PASS-" + std::to_string(i),
            "On",
            "Dec 08 21:30",
            "3-3-3348-00-2764-CE-0012",
            84,
            "Remote"};
}

inline ValueTexts englishValues() {
    return {"Powerline Device", "Local", "Remote", "Good", "Very good", "Poor", "On", "Off", "Not answering"};
}

class TempFolder : public ::testing::Test {
protected:
    void SetUp() override {
        static std::atomic<int> serial{0};
        folder = std::filesystem::temp_directory_path() /
                 ("zrq406-registry-" + std::to_string(getpid()) + "-" + std::to_string(serial++));
        std::filesystem::create_directories(folder);
        historyPath = folder / "devices.dat";
    }
    void TearDown() override { std::filesystem::remove_all(folder); }

    void writeHistory(const std::vector<std::uint8_t>& bytes) const {
        std::ofstream(historyPath, std::ios::binary)
            .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    }

    std::vector<std::uint8_t> readHistory() const {
        std::ifstream in(historyPath, std::ios::binary);
        return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    }

    std::filesystem::path folder;
    std::filesystem::path historyPath;
};

} // namespace zrq406::test
