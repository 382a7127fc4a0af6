#include "link/interface_watch.h"

// <net/if.h> comes before the kernel's headers, which would otherwise define its structures a second time.
#include <net/if.h>

#include <cstring>
#include <linux/if_arp.h>
#include <linux/netlink.h>
#include <linux/rtnetlink.h>
#include <sys/socket.h>
#include <unistd.h>

namespace zrq406::link {

InterfaceWatch::~InterfaceWatch() {
    if (m_fd >= 0)
        ::close(m_fd);
}

bool InterfaceWatch::open() {
    m_fd = ::socket(AF_NETLINK, SOCK_RAW | SOCK_CLOEXEC | SOCK_NONBLOCK, NETLINK_ROUTE);
    if (m_fd < 0)
        return false;
    sockaddr_nl address{};
    address.nl_family = AF_NETLINK;
    address.nl_groups = RTMGRP_LINK;
    if (::bind(m_fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
        ::close(m_fd);
        m_fd = -1;
        return false;
    }
    // What is there now is not new.
    if (struct if_nameindex* names = ::if_nameindex()) {
        for (const struct if_nameindex* n = names; n->if_index != 0; ++n)
            m_known.insert(static_cast<int>(n->if_index));
        ::if_freenameindex(names);
    }
    return true;
}

std::vector<std::string> InterfaceWatch::takeNewInterfaces() {
    std::vector<std::string> added;
    if (m_fd < 0)
        return added;
    char buffer[8192];
    for (;;) {
        const ssize_t received = ::recv(m_fd, buffer, sizeof buffer, MSG_DONTWAIT);
        if (received <= 0)
            break;
        // Each message: its header, then (for link messages) the interface's info; messages are 4-byte aligned.
        const auto total = static_cast<std::size_t>(received);
        std::size_t at = 0;
        while (at + sizeof(nlmsghdr) <= total) {
            nlmsghdr header{};
            std::memcpy(&header, buffer + at, sizeof header);
            if (header.nlmsg_len < sizeof(nlmsghdr) || at + header.nlmsg_len > total)
                break;
            const bool link = header.nlmsg_type == RTM_NEWLINK || header.nlmsg_type == RTM_DELLINK;
            if (link && header.nlmsg_len >= NLMSG_HDRLEN + sizeof(ifinfomsg)) {
                ifinfomsg info{};
                std::memcpy(&info, buffer + at + NLMSG_HDRLEN, sizeof info);
                if (header.nlmsg_type == RTM_DELLINK) {
                    m_known.erase(info.ifi_index);
                } else if (m_known.insert(info.ifi_index).second && info.ifi_type == ARPHRD_ETHER &&
                           (info.ifi_flags & IFF_LOOPBACK) == 0) {
                    // A known interface changing its state sends the same message; only a new index is an arrival.
                    char name[IF_NAMESIZE] = {};
                    if (::if_indextoname(static_cast<unsigned int>(info.ifi_index), name) != nullptr)
                        added.emplace_back(name);
                    else
                        added.emplace_back("#" + std::to_string(info.ifi_index));
                }
            }
            at += (header.nlmsg_len + NLMSG_ALIGNTO - 1) & ~std::size_t{NLMSG_ALIGNTO - 1};
        }
    }
    return added;
}

} // namespace zrq406::link
