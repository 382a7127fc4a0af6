#pragma once

#include "link/link_backend.h"

#include <atomic>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

struct pcap;

namespace zrq406::link {

// A real interface opened through libpcap: immediate mode (a confirmation must not wait in the capture buffer),
// incoming frames only (our own sends are not read back), promiscuity switched on the open socket.
class PcapPort : public LinkPort {
public:
    // The opened port, or nullptr with `error` naming the interface and what libpcap said.
    static std::unique_ptr<PcapPort> open(const std::string& interfaceName, std::string& error);
    ~PcapPort() override;
    PcapPort(const PcapPort&) = delete;
    PcapPort& operator=(const PcapPort&) = delete;

    std::optional<MacAddress> hardwareAddress() override;
    bool setFilter(std::span<const BpfInstruction> program) override;
    bool setPromiscuous(bool on) override;
    bool send(std::span<const std::uint8_t> frame) override;
    // Returns the number of bytes copied into `buffer`.
    int receive(std::span<std::uint8_t> buffer, std::chrono::milliseconds timeout) override;
    int waitReadable(std::chrono::milliseconds timeout) override;
    void interrupt() override;

private:
    PcapPort(pcap* handle, std::string interfaceName, int selectableFd, int wakeFd);

    // libpcap handles are not thread-safe: every call on m_pcap holds this, and none of them blocks.
    std::mutex m_mutex;
    pcap* m_pcap;
    std::string m_name;
    int m_selectableFd;
    int m_wakeFd;
    bool m_promiscuous = false;
    // A frame that waitReadable took from libpcap, kept for the next receive: libpcap may hold frames that its
    // descriptor does not show, so the only sure test for one is to take it.
    std::vector<std::uint8_t> m_held;
    bool m_holding = false;
    std::atomic<bool> m_interrupted{false};
};

} // namespace zrq406::link
