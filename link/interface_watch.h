#pragma once

#include <set>
#include <string>
#include <vector>

namespace zrq406::link {

// Tells when the host gains an Ethernet interface (a USB adapter plugged in, a driver loaded): an rtnetlink socket
// subscribed to link changes. The caller waits for the descriptor to turn readable (a QSocketNotifier in the
// utility) and then asks for the interfaces that are new.
class InterfaceWatch {
public:
    InterfaceWatch() = default;
    ~InterfaceWatch();
    InterfaceWatch(const InterfaceWatch&) = delete;
    InterfaceWatch& operator=(const InterfaceWatch&) = delete;

    // Opens the socket and notes the interfaces there now; false when the system offers no such notice.
    bool open();
    // The descriptor to wait on; -1 when not open.
    int descriptor() const { return m_fd; }
    // Reads what is waiting without blocking and returns the Ethernet interfaces that appeared since the last call.
    std::vector<std::string> takeNewInterfaces();

private:
    int m_fd = -1;
    std::set<int> m_known;
};

} // namespace zrq406::link
