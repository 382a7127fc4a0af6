#include "link/pcap_port.h"

#include "link/host_interfaces.h"

#include <algorithm>
#include <cstring>
#include <linux/if_packet.h>
#include <net/if.h>
#include <net/if_arp.h>
#include <pcap/pcap.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>
#include <vector>

namespace zrq406::link {

namespace {

// Longer than any Ethernet frame the link handles, so nothing it needs is ever cut.
constexpr int kSnapLength = 1600;
// Irrelevant in immediate mode, but some platforms want one.
constexpr int kReadTimeoutMs = 50;

std::string activationError(const std::string& name, int status, const char* pcapMessage) {
    const std::string detail = pcapMessage != nullptr && *pcapMessage != '\0' ? pcapMessage : "";
    switch (status) {
    case PCAP_ERROR_PERM_DENIED:
        return name + ": you don't have permission to capture on that device (CAP_NET_RAW needed" +
               (detail.empty() ? ")" : "; libpcap: " + detail + ")");
    case PCAP_ERROR_NO_SUCH_DEVICE:
        return name + ": no such interface" + (detail.empty() ? "" : " (libpcap: " + detail + ")");
    case PCAP_ERROR_IFACE_NOT_UP:
        return name + ": the interface is not up";
    case PCAP_ERROR_PROMISC_PERM_DENIED:
        return name + ": you don't have permission to put the device into promiscuous mode (CAP_NET_ADMIN needed)";
    default:
        return name + ": " + pcap_statustostr(status) + (detail.empty() ? "" : ": " + detail);
    }
}

} // namespace

std::unique_ptr<PcapPort> PcapPort::open(const std::string& interfaceName, std::string& error) {
    char errorBuffer[PCAP_ERRBUF_SIZE] = {};
    pcap_t* handle = pcap_create(interfaceName.c_str(), errorBuffer);
    if (handle == nullptr) {
        error = interfaceName + ": " + errorBuffer;
        return nullptr;
    }
    const auto failWith = [&](std::string message) -> std::unique_ptr<PcapPort> {
        error = std::move(message);
        pcap_close(handle);
        return nullptr;
    };
    pcap_set_snaplen(handle, kSnapLength);
    pcap_set_immediate_mode(handle, 1);
    pcap_set_timeout(handle, kReadTimeoutMs);
    const int status = pcap_activate(handle);
    if (status < 0)
        return failWith(activationError(interfaceName, status, pcap_geterr(handle)));
    if (pcap_datalink(handle) != DLT_EN10MB)
        return failWith(interfaceName + ": not an Ethernet interface");
    if (pcap_setdirection(handle, PCAP_D_IN) != 0)
        return failWith(interfaceName + ": cannot restrict capture to incoming frames: " + pcap_geterr(handle));
    if (pcap_setnonblock(handle, 1, errorBuffer) != 0)
        return failWith(interfaceName + ": " + errorBuffer);
    const int selectableFd = pcap_get_selectable_fd(handle);
    if (selectableFd < 0)
        return failWith(interfaceName + ": libpcap offers no descriptor to wait on");
    const int wakeFd = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (wakeFd < 0)
        return failWith(interfaceName + ": cannot create an event descriptor: " + std::strerror(errno));
    return std::unique_ptr<PcapPort>(new PcapPort(handle, interfaceName, selectableFd, wakeFd));
}

PcapPort::PcapPort(pcap* handle, std::string interfaceName, int selectableFd, int wakeFd)
    : m_pcap(handle), m_name(std::move(interfaceName)), m_selectableFd(selectableFd), m_wakeFd(wakeFd) {}

PcapPort::~PcapPort() {
    pcap_close(m_pcap);
    ::close(m_wakeFd);
}

std::optional<MacAddress> PcapPort::hardwareAddress() {
    return interfaceHardwareAddress(m_name);
}

bool PcapPort::setFilter(std::span<const BpfInstruction> program) {
    std::vector<bpf_insn> instructions;
    instructions.reserve(program.size());
    for (const BpfInstruction& instruction : program)
        instructions.push_back({instruction.code, instruction.jt, instruction.jf, instruction.k});
    bpf_program compiled{static_cast<u_int>(instructions.size()), instructions.data()};
    std::lock_guard lock(m_mutex);
    return pcap_setfilter(m_pcap, &compiled) == 0;
}

bool PcapPort::setPromiscuous(bool on) {
    std::lock_guard lock(m_mutex);
    if (on == m_promiscuous)
        return true;
    // A membership on the capture socket switches the card after activation, and the kernel drops it again
    // when the socket closes, so a crashed program leaves no card promiscuous.
    const unsigned index = if_nametoindex(m_name.c_str());
    if (index == 0)
        return false;
    packet_mreq membership{};
    membership.mr_ifindex = static_cast<int>(index);
    membership.mr_type = PACKET_MR_PROMISC;
    const int option = on ? PACKET_ADD_MEMBERSHIP : PACKET_DROP_MEMBERSHIP;
    if (::setsockopt(pcap_fileno(m_pcap), SOL_PACKET, option, &membership, sizeof membership) != 0)
        return false;
    m_promiscuous = on;
    return true;
}

bool PcapPort::send(std::span<const std::uint8_t> frame) {
    std::lock_guard lock(m_mutex);
    return pcap_inject(m_pcap, frame.data(), frame.size()) == static_cast<int>(frame.size());
}

int PcapPort::receive(std::span<std::uint8_t> buffer, std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        const auto remaining =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        const int ready = waitReadable(std::max(remaining, std::chrono::milliseconds(0)));
        if (ready <= 0)
            return ready;
        std::lock_guard lock(m_mutex);
        // Another thread may have taken the frame in between; then the wait goes on.
        if (m_holding) {
            m_holding = false;
            const std::size_t copied = std::min(m_held.size(), buffer.size());
            std::memcpy(buffer.data(), m_held.data(), copied);
            return static_cast<int>(copied);
        }
    }
}

int PcapPort::waitReadable(std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        if (m_interrupted.load())
            return -1;
        bool failed = false;
        {
            std::lock_guard lock(m_mutex);
            if (m_holding)
                return 1;
            pcap_pkthdr* header = nullptr;
            const u_char* data = nullptr;
            const int result = pcap_next_ex(m_pcap, &header, &data);
            if (result == 1) {
                m_held.assign(data, data + header->caplen);
                m_holding = true;
                return 1;
            }
            failed = result < 0;
        }
        const auto remaining =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (remaining.count() <= 0)
            return 0;
        // A capture error (the interface went down or away) is waited out rather than ending the port: only
        // the wake descriptor is watched then, so the thread neither spins nor misses its interruption.
        pollfd descriptors[2] = {{m_wakeFd, POLLIN, 0}, {m_selectableFd, POLLIN, 0}};
        ::poll(descriptors, failed ? 1 : 2, static_cast<int>(remaining.count()));
        if (failed && !m_interrupted.load())
            return 0;
    }
}

void PcapPort::interrupt() {
    m_interrupted.store(true);
    const std::uint64_t one = 1;
    [[maybe_unused]] const auto written = ::write(m_wakeFd, &one, sizeof one);
}

} // namespace zrq406::link
