#pragma once

#include "link/bpf_program.h"
#include "link/link_backend.h"

#include <atomic>
#include <filesystem>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <sys/types.h>

namespace zrq406::link {

// A real interface reached through the frame helper: a process of its own that alone holds the raw-frame
// capabilities and passes this protocol's frames between the interface and its end of a socket pair. The
// receive filter runs here, on the frames the helper passes.
class HelperPort : public LinkPort {
public:
    // Starts `helper` for the interface and waits until it has opened it; nullptr with `error` saying why not.
    static std::unique_ptr<HelperPort> open(const std::filesystem::path& helper, const std::string& interfaceName,
                                            std::string& error);
    ~HelperPort() override;
    HelperPort(const HelperPort&) = delete;
    HelperPort& operator=(const HelperPort&) = delete;

    std::optional<MacAddress> hardwareAddress() override;
    bool setFilter(std::span<const BpfInstruction> program) override;
    bool setPromiscuous(bool on) override;
    bool send(std::span<const std::uint8_t> frame) override;
    int receive(std::span<std::uint8_t> buffer, std::chrono::milliseconds timeout) override;
    int waitReadable(std::chrono::milliseconds timeout) override;
    void interrupt() override;

private:
    HelperPort(std::string interfaceName, int channel, int wakeFd, pid_t helper);
    bool sendMessage(std::uint8_t kind, std::span<const std::uint8_t> payload);

    std::string m_name;
    int m_channel;
    int m_wakeFd;
    pid_t m_helper;
    std::mutex m_filterMutex;
    std::optional<BpfProgram> m_filter;
    std::atomic<bool> m_interrupted{false};
};

} // namespace zrq406::link
