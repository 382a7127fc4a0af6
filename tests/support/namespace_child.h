#pragma once

#include "tests/support/line_channel.h"
#include "tests/support/netns_veth.h"

#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <sys/types.h>

namespace zrq406::testsupport {

// A forked child process that runs a function inside the namespace of a NetnsVeth and talks to its parent in
// lines. Fork it before the parent starts threads of its own.
class NamespaceChild {
public:
    using Body = std::function<int(LineChannel& toParent)>;

    // Starts the child; `body`'s result becomes its exit code. If the child cannot enter the namespace it sends
    // the line "error <reason>" and exits with 3.
    static std::unique_ptr<NamespaceChild> start(const NetnsVeth& veth, const Body& body, std::string& error);
    // Kills the child if it still runs, and reaps it.
    ~NamespaceChild();
    NamespaceChild(const NamespaceChild&) = delete;
    NamespaceChild& operator=(const NamespaceChild&) = delete;

    LineChannel& channel() { return *m_channel; }
    // The child's exit code once it has ended, or -1 if it had not by the deadline (it is then killed).
    int wait(std::chrono::steady_clock::time_point deadline);

private:
    NamespaceChild(pid_t pid, std::unique_ptr<LineChannel> channel);
    pid_t m_pid;
    bool m_reaped = false;
    std::unique_ptr<LineChannel> m_channel;
};

} // namespace zrq406::testsupport
