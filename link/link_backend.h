#pragma once

#include "platform/mac_address.h"

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace zrq406::link {

// One classic BPF instruction as the receive filter program carries it.
struct BpfInstruction {
    std::uint16_t code;
    std::uint8_t jt;
    std::uint8_t jf;
    std::uint32_t k;
};
static_assert(sizeof(BpfInstruction) == 8);

// A host Ethernet interface as the operating system lists it (the stand-in for the IP helper's list).
struct InterfaceInfo {
    std::string name;        // interface name, e.g. "eth0"
    std::string description; // driver and bus, e.g. "e1000e 0000:00:19.0"
};

// One opened interface of a backend.
class LinkPort {
public:
    virtual ~LinkPort() = default;
    virtual std::optional<MacAddress> hardwareAddress() = 0;
    virtual bool setFilter(std::span<const BpfInstruction> program) = 0;
    virtual bool setPromiscuous(bool on) = 0;
    virtual bool send(std::span<const std::uint8_t> frame) = 0;
    // Waits up to `timeout` for one frame and copies it into `buffer` (cut to its size). Returns the number of
    // bytes copied, 0 when none arrived in time, or -1 once the port is closed or interrupted. A timeout of 0
    // takes a frame only if one is there already.
    virtual int receive(std::span<std::uint8_t> buffer, std::chrono::milliseconds timeout) = 0;
    // Waits up to `timeout` until a frame can be taken without waiting, and leaves it for receive(). Returns 1
    // then, 0 when none could be by then, or -1 once the port is closed or interrupted.
    virtual int waitReadable(std::chrono::milliseconds timeout) = 0;
    // Makes a blocked or later receive return -1.
    virtual void interrupt() = 0;
};

// Where frames really go: libpcap on the host's interfaces, or the in-process simulated segment.
class LinkBackend {
public:
    virtual ~LinkBackend() = default;
    // The host's Ethernet interfaces (loopback and wireless left out), in the system's order.
    virtual std::vector<InterfaceInfo> hostInterfaces() = 0;
    // The interface names that the backend itself can open, in its own order.
    virtual std::vector<std::string> libraryInterfaces() = 0;
    virtual std::unique_ptr<LinkPort> open(const std::string& name, std::string& error) = 0;
};

// libpcap on the host's real interfaces, always in immediate mode.
std::shared_ptr<LinkBackend> makePcapBackend();

// The host's real interfaces through the frame helper, for a program that lacks the raw-frame capabilities: one
// helper process per opened interface.
std::shared_ptr<LinkBackend> makeHelperBackend(std::filesystem::path helper);
// Where the installed frame helper is ($ZRQ406_LINK_HELPER when set).
std::filesystem::path linkHelperPath();
// Whether this user may run the helper: root and the members of its group may.
bool linkHelperUsable(const std::filesystem::path& helper);

} // namespace zrq406::link
