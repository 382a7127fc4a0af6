// zrq406-link IFNAME: opens a raw socket on one Ethernet interface and passes this protocol's frames between it and
// the program that started it, on descriptor 3 (one end of a sequenced-packet socket pair). It needs CAP_NET_RAW
// only to open the socket and drops every capability before the first frame; promiscuous mode, a membership of
// its own socket, needs none. It opens only an interface that the programs list (Ethernet, neither loopback nor
// wireless). It sends only this protocol's frames and the programs' discovery probe, always from the interface's
// own address, and receives only this protocol's frames.
#include "link/helper_frames.h"
#include "link/listed_interface.h"

#include <arpa/inet.h>
#include <array>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <linux/capability.h>
#include <linux/filter.h>
#include <linux/if_ether.h>
#include <linux/if_packet.h>
#include <net/if.h>
#include <net/if_arp.h>
#include <poll.h>
#include <string>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace helper = zrq406::link::helper;

namespace {

constexpr int kChannel = helper::kChannelFd;

void tell(std::uint8_t kind, const std::string& text) {
    std::string message(1, static_cast<char>(kind));
    message += text;
    [[maybe_unused]] const ssize_t sent = ::send(kChannel, message.data(), message.size(), MSG_NOSIGNAL);
}

int fail(const std::string& interfaceName, const std::string& what) {
    tell(helper::kError, interfaceName + ": " + what);
    return 1;
}

bool dropCapabilities() {
    __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct data[2] = {};
    return ::syscall(SYS_capset, &header, data) == 0;
}

// The hardware address of the interface the raw socket is bound to, as the kernel holds it now; false when it is
// not a 6-byte Ethernet address.
bool ownAddress(int raw, std::array<std::uint8_t, 6>& address) {
    sockaddr_ll bound{};
    socklen_t length = sizeof bound;
    if (::getsockname(raw, reinterpret_cast<sockaddr*>(&bound), &length) != 0 || bound.sll_hatype != ARPHRD_ETHER ||
        bound.sll_halen != address.size())
        return false;
    std::memcpy(address.data(), bound.sll_addr, address.size());
    return true;
}

bool setPromiscuous(int raw, int index, bool on) {
    packet_mreq request{};
    request.mr_ifindex = index;
    request.mr_type = PACKET_MR_PROMISC;
    return ::setsockopt(raw, SOL_PACKET, on ? PACKET_ADD_MEMBERSHIP : PACKET_DROP_MEMBERSHIP, &request,
                        sizeof request) == 0;
}

} // namespace

int main(int argc, char** argv) {
    // Only a program that started it with its socket pair may use it; from a shell it refuses at once.
    int type = 0;
    socklen_t typeLength = sizeof type;
    if (::getsockopt(kChannel, SOL_SOCKET, SO_TYPE, &type, &typeLength) != 0 || type != SOCK_SEQPACKET) {
        std::fprintf(stderr, "zrq406-link: started by the ZRQ406 programs only\n");
        return 2;
    }
    // The helper ends with the program that started it, and nothing it starts could gain privileges.
    ::prctl(PR_SET_PDEATHSIG, SIGTERM);
    ::prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0);
    if (argc != 2)
        return fail("zrq406-link", "expects one interface name");
    const std::string name = argv[1];
    if (name.empty() || name.size() >= IFNAMSIZ)
        return fail(name, "not an interface name");
    const int index = static_cast<int>(::if_nametoindex(name.c_str()));
    if (index == 0)
        return fail(name, "no such interface");
    if (const std::string refused = zrq406::link::interfaceRefusal(name, index); !refused.empty())
        return fail(name, refused);

    // Protocol 0 receives nothing until bound, so no frame of another kind is read before the filter is in place.
    const int raw = ::socket(AF_PACKET, SOCK_RAW | SOCK_CLOEXEC, 0);
    if (raw < 0)
        return fail(name, std::string("cannot open a raw socket: ") + std::strerror(errno) +
                              " (the frame helper lacks CAP_NET_RAW)");
    const auto filter = helper::receiveFilter();
    std::array<sock_filter, 16> program{};
    for (std::size_t i = 0; i < filter.size() && i < program.size(); ++i)
        program[i] = sock_filter{filter[i].code, filter[i].jt, filter[i].jf, filter[i].k};
    const sock_fprog attached{static_cast<unsigned short>(filter.size()), program.data()};
    if (::setsockopt(raw, SOL_SOCKET, SO_ATTACH_FILTER, &attached, sizeof attached) != 0)
        return fail(name, std::string("cannot attach the receive filter: ") + std::strerror(errno));
    // Our own sends are not read back, as with the direct path.
    const int one = 1;
    ::setsockopt(raw, SOL_PACKET, PACKET_IGNORE_OUTGOING, &one, sizeof one);
    sockaddr_ll address{};
    address.sll_family = AF_PACKET;
    address.sll_protocol = htons(ETH_P_ALL);
    address.sll_ifindex = index;
    if (::bind(raw, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0)
        return fail(name, std::string("cannot bind to the interface: ") + std::strerror(errno));
    std::array<std::uint8_t, 6> own{};
    if (!ownAddress(raw, own))
        return fail(name, "not an Ethernet interface (the frame helper opens no other)");
    if (!dropCapabilities())
        return fail(name, std::string("cannot drop its capabilities: ") + std::strerror(errno));
    tell(helper::kReady, "");

    std::array<std::uint8_t, helper::kMaxMessage> buffer{};
    std::array<pollfd, 2> fds{{{kChannel, POLLIN, 0}, {raw, POLLIN, 0}}};
    for (;;) {
        if (::poll(fds.data(), fds.size(), -1) < 0) {
            if (errno == EINTR)
                continue;
            return 1;
        }
        if (fds[0].revents != 0) {
            const ssize_t length = ::recv(kChannel, buffer.data(), buffer.size(), 0);
            // The program closed its end, or ended.
            if (length <= 0)
                return 0;
            const std::span<std::uint8_t> payload(buffer.data() + 1, static_cast<std::size_t>(length - 1));
            // Every frame leaves from the interface's address as it is at that moment.
            if (buffer[0] == helper::kFrame && ownAddress(raw, own) && helper::stampFrame(payload, own))
                ::send(raw, payload.data(), payload.size(), 0);
            else if (buffer[0] == helper::kPromiscuous && payload.size() == 1)
                setPromiscuous(raw, index, payload[0] != 0);
        }
        if (fds[1].revents != 0) {
            const ssize_t length = ::recv(raw, buffer.data() + 1, buffer.size() - 1, MSG_DONTWAIT);
            if (length > 0) {
                buffer[0] = helper::kFrame;
                ::send(kChannel, buffer.data(), static_cast<std::size_t>(length) + 1, MSG_NOSIGNAL);
            }
        }
    }
}
