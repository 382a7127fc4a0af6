#pragma once

#include "sim/network_description.h"

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <nlohmann/json.hpp>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

namespace zrq406::sim {

// What is saved of a device after it changed: the rest of its description stays as it was written.
struct DeviceState {
    std::vector<std::uint8_t> configBlock;
    FirmwareIdentity firmware;
    bool pairing = false; // its pair button's two minutes are still running
};

// A network description file (JSON, schema in docs/simulated-network.md): the resolved description, and the
// document it came from, so that saving the devices' state rewrites only their state fields.
class NetworkFile {
public:
    // Reads a description. On failure returns nothing and sets `error` to "<name>:<line>:<column>: <what>"
    // for a syntax error or "<name>: <JSON pointer>: <what>" for a schema error.
    static std::optional<NetworkFile> parse(std::string_view text, const std::string& name, std::string& error);
    // The built-in network: host adapter "sim0" with one attached device and three remote devices.
    static NetworkFile builtIn();
    // The text of the built-in network.
    static std::string_view builtInText();

    // The description as read (the devices' state when the file was read).
    const NetworkDescription& description() const { return m_description; }
    // Puts a device's current state into the document (its index in the description).
    void recordState(std::size_t deviceIndex, const DeviceState& state);
    // The document as it would be saved.
    std::string text() const;
    // The text to save over `onDisk` (what the file holds now, perhaps written by another program since this
    // one loaded it): that file with only the entries of `ownDevices` replaced by this document's. This
    // document's whole text when the file on disk is not the same network.
    std::string mergedText(std::string_view onDisk, const std::set<std::size_t>& ownDevices) const;
    // Writes the document to `path` through a temporary file in the same folder and a rename, mode 0600
    // (the file holds device passwords); creates the folder.
    bool save(const std::filesystem::path& path, std::string& error) const;
    // Writes `text` to `path` as save does.
    static bool writeText(const std::filesystem::path& path, std::string_view text, std::string& error);

private:
    NetworkDescription m_description;
    nlohmann::ordered_json m_document;
};

} // namespace zrq406::sim
